// Certificate request objects and attributes objects inside the toolkit:
// their layout, and the operations that request objects and C_SetCertFromRequest
// share.
#ifndef KVCATOOL_CERTKIT_REQUEST_REQUEST_H
#define KVCATOOL_CERTKIT_REQUEST_REQUEST_H

#include <cstdint>

#include "certkit/asn1/asn1.h"
#include "certkit/certkit.h"
#include "certkit/object.h"
#include "certkit/sign/signed_object.h"

namespace ck {

// One attribute: ranges into the owning object's encoding.
struct AttributeEntry {
  ByteRange type;    // content octets of the attribute type OID
  ByteRange values;  // the whole SET OF values element
};

}  // namespace ck

// The attributes object (type tag 1996): a carrier of a request's
// attributes.
struct C_AttributesObj {
  ck::ObjectHeader header;  // class descriptor, type tag
  ck::ByteRange der;        // owned DER SET OF Attribute; null when empty
  uint32_t stale;           // never set: nothing is added to a carrier
  ck::PtrList entries;      // ck::AttributeEntry*, owned, into |der|
};

// The request object (type tag 1999).
struct C_CertRequestObj {
  ck::SignedCore core;  // class descriptor, encodings, split, type tag
  // The fields record. The public key is an owned copy; the subject and
  // attributes handles are the object's own objects.
  C_CERT_REQUEST_FIELDS fields;
};

namespace ck {

// Replaces the attributes of |attributes| with those of the DER (or BER)
// SET OF Attribute |der|; an empty input empties it. On failure nothing
// changes. 0, C_ERR_REQUEST_ATTRIBUTES or C_ERR_ALLOC.
int AttributesSetFromDER(C_AttributesObj* attributes, const uint8_t* der, uint32_t derLen);
// Removes every attribute and the encoding.
void AttributesEmpty(C_AttributesObj* attributes);
// Exchanges the contents of two attributes objects.
void AttributesSwap(C_AttributesObj* a, C_AttributesObj* b);

// The CertificationRequest template; slot 1 is the information part.
const AsnEntry* CertificationRequestTemplate();

}  // namespace ck

#endif
