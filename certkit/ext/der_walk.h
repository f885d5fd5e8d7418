// Small pieces shared by the extension operations and the extension value
// builders and readers: a walk over the elements of one content that takes
// only strict DER headers, and the OBJECT IDENTIFIER content check.
#ifndef KVCATOOL_CERTKIT_EXT_DER_WALK_H
#define KVCATOOL_CERTKIT_EXT_DER_WALK_H

#include <cstdint>

#include "certkit/asn1/asn1.h"

namespace ck {

// Walks the elements that fill one content, accepting only DER headers: one
// identifier octet and a definite length in its shortest form. Nothing is
// copied; every header points into the walked bytes.
struct DerWalk {
  const uint8_t* p;
  uint32_t left;

  bool AtEnd() const { return left == 0; }
  // Reads the next element; false for a malformed or non-DER header.
  bool Next(AsnHeader* h) {
    if (left == 0 || AsnReadTagLength(p, left, h) != 0) return false;
    if (h->indefinite || !h->minimalLength || h->extraIdentOctets != 0) return false;
    p += h->totalLen;
    left -= h->totalLen;
    return true;
  }
  // The next element's identifier octet without moving; 0 at the end.
  uint32_t Peek() const { return left == 0 ? 0 : p[0]; }
};

// Reads |value| as exactly one DER element of identifier |ident| and
// returns a walk over its content.
inline bool DerWhole(const uint8_t* value, uint32_t len, uint32_t ident, DerWalk* content) {
  if (value == nullptr) return false;
  DerWalk walk{value, len};
  AsnHeader h;
  if (!walk.Next(&h) || !walk.AtEnd() || h.ident != ident) return false;
  *content = DerWalk{h.content, h.contentLen};
  return true;
}

// A well-formed OBJECT IDENTIFIER content (X.690 8.19.2): not empty, every
// subidentifier ends within it, none starts with the padding octet 0x80.
inline bool WellFormedOid(const uint8_t* oid, uint32_t len) {
  if (oid == nullptr || len == 0 || (oid[len - 1] & 0x80) != 0) return false;
  bool start = true;
  for (uint32_t i = 0; i < len; ++i) {
    if (start && oid[i] == 0x80) return false;
    start = (oid[i] & 0x80) == 0;
  }
  return true;
}

}  // namespace ck

#endif
