// Readers of extension values (RFC 5280 4.2.1): basicConstraints, keyUsage,
// extendedKeyUsage, subjectAltName, subjectKeyIdentifier and
// authorityKeyIdentifier. Each takes exactly one strict DER value, walks it
// without recursion or allocation and fills a record that points into it.
#include "certkit/ext/der_walk.h"

namespace ck {

namespace {

constexpr int kBad = C_ERR_BAD_ENCODING;

// INTEGER content in its shortest two's-complement form (X.690 8.3.2).
bool MinimalInteger(const AsnHeader& h) {
  if (h.contentLen == 0) return false;
  if (h.contentLen == 1) return true;
  const uint8_t first = h.content[0];
  const uint8_t second = h.content[1];
  return !(first == 0x00 && (second & 0x80) == 0) && !(first == 0xFF && (second & 0x80) != 0);
}

// IA5String characters: at least one, every octet below 0x80.
bool Ia5Text(const AsnHeader& h) {
  if (h.contentLen == 0) return false;
  for (uint32_t i = 0; i < h.contentLen; ++i) {
    if (h.content[i] >= 0x80) return false;
  }
  return true;
}

// A content made of DER elements only (not looked into further).
bool DerElements(const AsnHeader& h) {
  DerWalk walk{h.content, h.contentLen};
  AsnHeader part;
  while (!walk.AtEnd()) {
    if (!walk.Next(&part)) return false;
  }
  return true;
}

// One GeneralName (RFC 5280 4.2.1.6) into |out|.
bool ReadGeneralName(const AsnHeader& h, C_GENERAL_NAME* out) {
  if ((h.ident & kAsnClassMask) != kAsnContext) return false;
  const uint32_t kind = h.ident & 0x1F;
  const bool constructed = (h.ident & kAsnConstructed) != 0;
  bool ok = false;
  switch (kind) {
    case C_GN_OTHER_NAME: {  // SEQUENCE { type-id OID, value [0] EXPLICIT ANY }
      DerWalk walk{h.content, h.contentLen};
      AsnHeader type;
      AsnHeader wrapped;
      ok = constructed && walk.Next(&type) && type.ident == kAsnOid && WellFormedOid(type.content, type.contentLen) &&
           walk.Next(&wrapped) && wrapped.ident == 0xA0 && walk.AtEnd();
      if (ok) {
        DerWalk inner{wrapped.content, wrapped.contentLen};
        AsnHeader any;
        ok = inner.Next(&any) && inner.AtEnd();
      }
      break;
    }
    case C_GN_DIRECTORY_NAME: {  // [4] EXPLICIT Name
      DerWalk walk{h.content, h.contentLen};
      AsnHeader name;
      ok = constructed && walk.Next(&name) && name.ident == kAsnSequence && walk.AtEnd();
      break;
    }
    case C_GN_X400_ADDRESS:
    case C_GN_EDI_PARTY_NAME:
      ok = constructed && h.contentLen != 0 && DerElements(h);
      break;
    case C_GN_RFC822_NAME:
    case C_GN_DNS_NAME:
    case C_GN_URI:
      ok = !constructed && Ia5Text(h);
      break;
    case C_GN_IP_ADDRESS:
      ok = !constructed && (h.contentLen == 4 || h.contentLen == 16);
      break;
    case C_GN_REGISTERED_ID:
      ok = !constructed && WellFormedOid(h.content, h.contentLen);
      break;
    default:
      return false;
  }
  if (!ok) return false;
  *out = C_GENERAL_NAME{kind, C_ITEM{h.content, h.contentLen}};
  return true;
}

// The fill-and-count rule of the list readers: every item is checked and
// counted; the first |capacity| go to |items| when it is given.
template <class Item, class ReadOne>
int ReadList(DerWalk walk, Item* items, uint32_t capacity, uint32_t* count, ReadOne readOne) {
  uint32_t n = 0;
  AsnHeader h;
  while (!walk.AtEnd()) {
    Item item{};
    if (!walk.Next(&h) || !readOne(h, &item)) return kBad;
    if (items != nullptr && n < capacity) items[n] = item;
    ++n;
  }
  if (n == 0) return kBad;  // SIZE (1..MAX)
  *count = n;
  return items != nullptr && capacity < n ? C_ERR_OUTPUT_SMALL : 0;
}

}  // namespace

}  // namespace ck

extern "C" {

int C_ReadBasicConstraints(const unsigned char* value, uint32_t valueLen, C_BASIC_CONSTRAINTS* out) {
  if (out == nullptr) return C_ERR_NULL_OUTPUT;
  ck::DerWalk walk{};
  if (!ck::DerWhole(value, valueLen, ck::kAsnSequence, &walk)) return ck::kBad;
  C_BASIC_CONSTRAINTS result{0, -1};
  ck::AsnHeader h;
  if (walk.Peek() == ck::kAsnBoolean) {
    // DER leaves the DEFAULT FALSE out and writes TRUE as FF.
    if (!walk.Next(&h) || h.contentLen != 1 || h.content[0] != 0xFF) return ck::kBad;
    result.cA = 1;
  }
  if (walk.Peek() == ck::kAsnInteger) {
    if (!walk.Next(&h) || !ck::MinimalInteger(h) || (h.content[0] & 0x80) != 0) return ck::kBad;
    // Non-negative and at most 2^31 - 1: five octets only with a zero first.
    if (h.contentLen > 5 || (h.contentLen == 5 && h.content[0] != 0)) return ck::kBad;
    uint64_t n = 0;
    for (uint32_t i = 0; i < h.contentLen; ++i) n = (n << 8) | h.content[i];
    if (n > 0x7FFFFFFF || !result.cA) return ck::kBad;
    result.pathLen = static_cast<int32_t>(n);
  }
  if (!walk.AtEnd()) return ck::kBad;
  *out = result;
  return 0;
}

int C_ReadKeyUsage(const unsigned char* value, uint32_t valueLen, uint32_t* usage) {
  if (usage == nullptr) return C_ERR_NULL_OUTPUT;
  ck::DerWalk bits{};
  if (!ck::DerWhole(value, valueLen, ck::kAsnBitString, &bits)) return ck::kBad;
  // Unused-bits octet, then at most two octets (bits 0 to 8).
  if (bits.left == 0 || bits.left > 3) return ck::kBad;
  const uint32_t unused = bits.p[0];
  const uint32_t octets = bits.left - 1;
  if (unused > 7 || (octets == 0 && unused != 0)) return ck::kBad;
  uint32_t mask = 0;
  if (octets != 0) {
    const uint8_t last = bits.p[octets];
    // DER: unused bits zero, and no trailing zero bit in a named bit list.
    if ((last & ((1u << unused) - 1)) != 0 || ((last >> unused) & 1) == 0) return ck::kBad;
    for (uint32_t bit = 0; bit < octets * 8 - unused; ++bit) {
      if ((bits.p[1 + bit / 8] & (0x80 >> (bit % 8))) != 0) mask |= 1u << bit;
    }
  }
  if ((mask & ~C_KU_ALL) != 0) return ck::kBad;
  *usage = mask;
  return 0;
}

int C_ReadExtendedKeyUsage(const unsigned char* value, uint32_t valueLen, C_ITEM* purposes, uint32_t capacity,
                           uint32_t* count) {
  if (count == nullptr) return C_ERR_NULL_OUTPUT;
  ck::DerWalk walk{};
  if (!ck::DerWhole(value, valueLen, ck::kAsnSequence, &walk)) return ck::kBad;
  return ck::ReadList(walk, purposes, capacity, count, [](const ck::AsnHeader& h, C_ITEM* item) {
    if (h.ident != ck::kAsnOid || !ck::WellFormedOid(h.content, h.contentLen)) return false;
    *item = C_ITEM{h.content, h.contentLen};
    return true;
  });
}

int C_ReadSubjectAltName(const unsigned char* value, uint32_t valueLen, C_GENERAL_NAME* names, uint32_t capacity,
                         uint32_t* count) {
  if (count == nullptr) return C_ERR_NULL_OUTPUT;
  ck::DerWalk walk{};
  if (!ck::DerWhole(value, valueLen, ck::kAsnSequence, &walk)) return ck::kBad;
  return ck::ReadList(walk, names, capacity, count, ck::ReadGeneralName);
}

int C_ReadSubjectKeyIdentifier(const unsigned char* value, uint32_t valueLen, C_ITEM* keyId) {
  if (keyId == nullptr) return C_ERR_NULL_OUTPUT;
  ck::DerWalk walk{};
  if (!ck::DerWhole(value, valueLen, ck::kAsnOctetString, &walk) || walk.left == 0) return ck::kBad;
  *keyId = C_ITEM{walk.p, walk.left};
  return 0;
}

int C_ReadAuthorityKeyIdentifier(const unsigned char* value, uint32_t valueLen, C_AUTHORITY_KEY_ID* out) {
  if (out == nullptr) return C_ERR_NULL_OUTPUT;
  ck::DerWalk walk{};
  if (!ck::DerWhole(value, valueLen, ck::kAsnSequence, &walk)) return ck::kBad;
  C_AUTHORITY_KEY_ID result{};
  ck::AsnHeader h;
  if (walk.Peek() == 0x80) {  // keyIdentifier [0] IMPLICIT OCTET STRING
    if (!walk.Next(&h) || h.contentLen == 0) return ck::kBad;
    result.keyIdentifier = C_ITEM{h.content, h.contentLen};
  }
  if (walk.Peek() == 0xA1) {  // authorityCertIssuer [1] IMPLICIT GeneralNames
    if (!walk.Next(&h)) return ck::kBad;
    uint32_t names = 0;
    if (ck::ReadList(ck::DerWalk{h.content, h.contentLen}, static_cast<C_GENERAL_NAME*>(nullptr), 0, &names,
                     ck::ReadGeneralName) != 0) {
      return ck::kBad;
    }
    result.certIssuer = C_ITEM{h.content, h.contentLen};
  }
  if (walk.Peek() == 0x82) {  // authorityCertSerialNumber [2] IMPLICIT INTEGER
    if (!walk.Next(&h) || !ck::MinimalInteger(h)) return ck::kBad;
    result.certSerial = C_ITEM{h.content, h.contentLen};
  }
  if (!walk.AtEnd()) return ck::kBad;
  if ((result.certIssuer.data == nullptr) != (result.certSerial.data == nullptr)) return ck::kBad;
  *out = result;
  return 0;
}

}  // extern "C"
