// PEM text (RFC 7468) of DER data: certificates, CRLs and keys as files for
// other programs.
#ifndef KVCATOOL_APP_PEM_TEXT_H
#define KVCATOOL_APP_PEM_TEXT_H

#include <cstddef>
#include <string>

namespace kvapp {

// |length| bytes at |data| as PEM: "-----BEGIN <label>-----", the base64
// text in lines of 64 characters, "-----END <label>-----", each line ending
// in "\n". The result's storage is sized once, so a secret leaves no copy
// behind; the caller wipes it.
std::string PemBlock(const char* label, const unsigned char* data, size_t length);

}  // namespace kvapp

#endif
