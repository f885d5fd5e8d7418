// The description of a SubjectPublicKeyInfo (RFC 5280 4.1.2.7) for showing
// a certificate's key: its algorithm, its curve when the parameters name
// one, and the size of an RSA modulus.
#include "certkit/certkit.h"
#include "certkit/ext/der_walk.h"

namespace {

//   SubjectPublicKeyInfo ::= SEQUENCE {
//     algorithm         AlgorithmIdentifier,  -- SEQUENCE { OID, ANY OPTIONAL }
//     subjectPublicKey  BIT STRING }
//   RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }

// 1.2.840.113549.1.1.1
const unsigned char kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

// Bits of the positive INTEGER content |p| (|len| octets); 0 when it is
// empty or negative.
uint32_t IntegerBits(const uint8_t* p, uint32_t len) {
  if (len == 0 || (p[0] & 0x80) != 0) return 0;
  while (len > 0 && p[0] == 0) {
    ++p;
    --len;
  }
  if (len == 0) return 0;
  uint32_t bits = (len - 1) * 8;
  for (uint8_t top = p[0]; top != 0; top >>= 1) ++bits;
  return bits;
}

// The modulus bits of an RSAPublicKey held in the BIT STRING content
// |bits| (unused-bits octet first); 0 when it does not decode.
uint32_t RsaModulusBits(const uint8_t* bits, uint32_t len) {
  if (len < 1 || bits[0] != 0) return 0;
  ck::DerWalk key{};
  ck::AsnHeader n;
  ck::AsnHeader e;
  if (!ck::DerWhole(bits + 1, len - 1, ck::kAsnSequence, &key) || !key.Next(&n) || n.ident != ck::kAsnInteger ||
      !key.Next(&e) || e.ident != ck::kAsnInteger || !key.AtEnd()) {
    return 0;
  }
  return IntegerBits(n.content, n.contentLen);
}

}  // namespace

extern "C" int C_ReadPublicKeyInfo(const unsigned char* spki, uint32_t spkiLen, C_PUBLIC_KEY_INFO* out) {
  if (out == nullptr) return C_ERR_NULL_OUTPUT;
  *out = C_PUBLIC_KEY_INFO{{nullptr, 0}, {nullptr, 0}, 0};
  ck::DerWalk outer{};
  ck::DerWalk algorithm{};
  ck::AsnHeader h;
  ck::AsnHeader oid;
  ck::AsnHeader key;
  if (!ck::DerWhole(spki, spkiLen, ck::kAsnSequence, &outer) || !outer.Next(&h) || h.ident != ck::kAsnSequence) {
    return C_ERR_BAD_ENCODING;
  }
  algorithm = ck::DerWalk{h.content, h.contentLen};
  if (!algorithm.Next(&oid) || oid.ident != ck::kAsnOid || !ck::WellFormedOid(oid.content, oid.contentLen)) {
    return C_ERR_BAD_ENCODING;
  }
  C_ITEM curve{nullptr, 0};
  if (!algorithm.AtEnd()) {
    ck::AsnHeader parameters;
    if (!algorithm.Next(&parameters) || !algorithm.AtEnd()) return C_ERR_BAD_ENCODING;
    if (parameters.ident == ck::kAsnOid && ck::WellFormedOid(parameters.content, parameters.contentLen)) {
      curve = C_ITEM{parameters.content, parameters.contentLen};
    }
  }
  if (!outer.Next(&key) || key.ident != ck::kAsnBitString || !outer.AtEnd()) return C_ERR_BAD_ENCODING;
  out->algorithm = C_ITEM{oid.content, oid.contentLen};
  out->parameterOID = curve;
  if (oid.contentLen == sizeof kRsaEncryption) {
    bool rsa = true;
    for (uint32_t i = 0; i < sizeof kRsaEncryption; ++i) rsa = rsa && oid.content[i] == kRsaEncryption[i];
    if (rsa) out->rsaBits = RsaModulusBits(key.content, key.contentLen);
  }
  return 0;
}
