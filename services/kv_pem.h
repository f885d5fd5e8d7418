// Writing PEM text (RFC 7468) for the exports: certificates and private
// keys. Reading certificate files in PEM is iKVCertFromPEM of kvservices.h.
#ifndef KVCATOOL_SERVICES_KV_PEM_H
#define KVCATOOL_SERVICES_KV_PEM_H

#include <cstddef>
#include <string>

namespace kvpem {

// |length| bytes at |data| as PEM: "-----BEGIN <label>-----", the base64
// text in lines of 64 characters, "-----END <label>-----", each line ending
// in "\n". The result's storage is sized once, so a secret leaves no copy
// behind; the caller wipes it.
std::string PemBlock(const char* label, const unsigned char* data, size_t length);

}  // namespace kvpem

#endif
