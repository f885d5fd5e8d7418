// CRL objects inside the toolkit: their layout, built on the signed-object
// core that certificates and requests share.
#ifndef KVCATOOL_CERTKIT_CRL_CRL_H
#define KVCATOOL_CERTKIT_CRL_CRL_H

#include <cstdint>

#include "certkit/asn1/asn1.h"
#include "certkit/certkit.h"
#include "certkit/sign/signed_object.h"

namespace ck {

// One revoked certificate. Every block is owned by the entry.
struct CrlEntry {
  uint8_t* serial;        // big-endian magnitude, no leading zero octets
  uint32_t serialLen;
  int64_t date;           // revocationDate
  int32_t reason;         // C_REASON_*, C_REASON_NONE without reasonCode
  uint8_t* extensions;    // the DER crlEntryExtensions element, or null
  uint32_t extensionsLen;
};

// The revoked entries, in list order.
struct CrlEntryList {
  CrlEntry* items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;
};

}  // namespace ck

// The CRL object (type tag 2007).
struct C_CrlObj {
  ck::SignedCore core;      // class descriptor, encodings, split, type tag
  C_EXT_REGISTRY registry;  // given at creation; not owned
  // The fields record; its issuer and extensions handles are the object's
  // own objects, its entry count follows |entries|.
  C_CRL_FIELDS fields;
  ck::CrlEntryList entries;
  uint32_t fieldsSet;       // 1 once set from BER or from fields
};

#endif
