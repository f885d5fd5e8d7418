// Builders of extension values (RFC 5280 4.2.1): basicConstraints,
// keyUsage, extendedKeyUsage, subjectAltName, subjectKeyIdentifier and
// authorityKeyIdentifier, each written as DER through the codec's element
// list into a block the caller owns.
#include "certkit/errors.h"
#include "certkit/ext/der_walk.h"
#include "cryptokit/cryptokit.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

// An element list released (wiped) at scope end.
struct ListGuard {
  ElementList list;
  ~ListGuard() { ElementListRelease(&list); }
};

// Writes |list| into the caller's block; codec codes become C_ERR_*.
int Finish(const ElementList& list, int status, unsigned char** value, uint32_t* valueLen) {
  if (status == 0) status = ElementListWrite(&list, value, valueLen);
  if (status != 0) {
    *value = nullptr;
    *valueLen = 0;
    return FromCodecCode(status);
  }
  return 0;
}

bool ClearOutput(unsigned char** value, uint32_t* valueLen) {
  if (value == nullptr || valueLen == nullptr) return false;
  *value = nullptr;
  *valueLen = 0;
  return true;
}

// dNSName: the preferred name syntax (RFC 1034 3.5, RFC 5280 4.2.1.6) with
// the '*' of a wildcard label and the '_' that service names use.
bool GoodDnsName(const C_ITEM& name) {
  constexpr uint32_t kMaxDnsName = 255;
  if (name.data == nullptr || name.len == 0 || name.len > kMaxDnsName) return false;
  for (uint32_t i = 0; i < name.len; ++i) {
    const uint8_t c = name.data[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '_' || c == '*';
    if (!ok) return false;
  }
  return true;
}

// rfc822Name and URI: visible IA5 characters, no space.
bool GoodVisibleText(const C_ITEM& text) {
  if (text.data == nullptr || text.len == 0) return false;
  for (uint32_t i = 0; i < text.len; ++i) {
    if (text.data[i] < 0x21 || text.data[i] > 0x7E) return false;
  }
  return true;
}

bool GoodAltName(const C_GENERAL_NAME& name) {
  switch (name.kind) {
    case C_GN_DNS_NAME: return GoodDnsName(name.value);
    case C_GN_RFC822_NAME:
    case C_GN_URI: return GoodVisibleText(name.value);
    case C_GN_IP_ADDRESS: return name.value.data != nullptr && (name.value.len == 4 || name.value.len == 16);
    default: return false;
  }
}

// SHA-1 of |data| through the crypto toolkit.
int Sha1(const uint8_t* data, uint32_t len, uint8_t out[C_KEY_ID_LEN]) {
  static const Q_ALGORITHM_METHOD* const kChooser[] = {&QM_SHA1, nullptr};
  Q_ALGORITHM_OBJ digest = nullptr;
  if (Q_CreateAlgorithmObject(&digest) != 0) return C_ERR_ALLOC;
  uint32_t outLen = 0;
  int status = Q_SetAlgorithmInfo(digest, QA_SHA1, nullptr);
  if (status == 0) status = Q_DigestInit(digest, nullptr, kChooser, nullptr);
  if (status == 0) status = Q_DigestUpdate(digest, data, len, nullptr);
  if (status == 0) status = Q_DigestFinal(digest, out, &outLen, C_KEY_ID_LEN, nullptr);
  Q_DestroyAlgorithmObject(&digest);
  if (status == 0 && outLen != C_KEY_ID_LEN) status = C_ERR_DIGEST;
  return ReplaceInContext(FromCryptoCode(status), C_ERR_DIGEST);
}

}  // namespace

}  // namespace ck

using ck::ElementAppendContent;
using ck::ElementAppendEnd;
using ck::ElementAppendStart;

extern "C" {

int C_ComputeKeyIdentifier(const unsigned char* spki, uint32_t spkiLen, unsigned char keyId[C_KEY_ID_LEN]) {
  if (spki == nullptr || keyId == nullptr) return C_ERR_BAD_ARGUMENT;
  // SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
  //                                     subjectPublicKey BIT STRING }
  ck::DerWalk info{};
  ck::AsnHeader algorithm;
  ck::AsnHeader key;
  if (!ck::DerWhole(spki, spkiLen, ck::kAsnSequence, &info) || !info.Next(&algorithm) ||
      algorithm.ident != ck::kAsnSequence || !info.Next(&key) || key.ident != ck::kAsnBitString || !info.AtEnd() ||
      key.contentLen < 2 || key.content[0] != 0) {
    return C_ERR_BAD_ENCODING;
  }
  return ck::Sha1(key.content + 1, key.contentLen - 1, keyId);
}

int C_BuildBasicConstraints(uint32_t cA, int32_t pathLen, unsigned char** value, uint32_t* valueLen) {
  if (!ck::ClearOutput(value, valueLen) || cA > 1 || pathLen < -1 || (pathLen >= 0 && cA == 0)) {
    return C_ERR_BAD_ARGUMENT;
  }
  // BasicConstraints ::= SEQUENCE { cA BOOLEAN DEFAULT FALSE,
  //                                 pathLenConstraint INTEGER (0..MAX) OPTIONAL }
  static const uint8_t kTrue = 0xFF;
  uint8_t integer[5];
  uint32_t integerLen = 0;
  if (pathLen >= 0) {
    // Big-endian, shortest form, a zero octet first when the top bit is set.
    const uint32_t n = static_cast<uint32_t>(pathLen);
    bool started = false;
    for (int shift = 24; shift >= 0; shift -= 8) {
      const uint8_t octet = static_cast<uint8_t>(n >> shift);
      if (!started && octet == 0 && shift != 0) continue;
      if (!started && (octet & 0x80) != 0) integer[integerLen++] = 0;
      started = true;
      integer[integerLen++] = octet;
    }
  }
  ck::ListGuard g;
  int status = ElementAppendStart(&g.list, ck::kAsnSequence);
  if (status == 0 && cA) status = ElementAppendContent(&g.list, ck::kAsnBoolean, &kTrue, 1);
  if (status == 0 && pathLen >= 0) status = ElementAppendContent(&g.list, ck::kAsnInteger, integer, integerLen);
  if (status == 0) status = ElementAppendEnd(&g.list, false);
  return ck::Finish(g.list, status, value, valueLen);
}

int C_BuildKeyUsage(uint32_t usage, unsigned char** value, uint32_t* valueLen) {
  if (!ck::ClearOutput(value, valueLen) || usage == 0 || (usage & ~C_KU_ALL) != 0) return C_ERR_BAD_ARGUMENT;
  // KeyUsage ::= BIT STRING, a named bit list: bit 0 is the first octet's
  // top bit, and trailing zero bits are left out (X.690 11.2.2).
  uint32_t highest = 0;
  for (uint32_t bit = 0; bit < 9; ++bit) {
    if ((usage >> bit) & 1) highest = bit;
  }
  uint8_t content[3] = {0, 0, 0};
  const uint32_t octets = highest / 8 + 1;
  content[0] = static_cast<uint8_t>(7 - highest % 8);
  for (uint32_t bit = 0; bit <= highest; ++bit) {
    if ((usage >> bit) & 1) content[1 + bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
  }
  ck::ListGuard g;
  int status = ElementAppendContent(&g.list, ck::kAsnBitString, content, 1 + octets);
  return ck::Finish(g.list, status, value, valueLen);
}

int C_BuildExtendedKeyUsage(const C_ITEM* purposes, uint32_t count, unsigned char** value, uint32_t* valueLen) {
  if (!ck::ClearOutput(value, valueLen) || purposes == nullptr || count == 0) return C_ERR_BAD_ARGUMENT;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ck::WellFormedOid(purposes[i].data, purposes[i].len)) return C_ERR_BAD_ARGUMENT;
  }
  // ExtKeyUsageSyntax ::= SEQUENCE SIZE (1..MAX) OF KeyPurposeId (OID)
  ck::ListGuard g;
  int status = ElementAppendStart(&g.list, ck::kAsnSequence);
  for (uint32_t i = 0; status == 0 && i < count; ++i) {
    status = ElementAppendContent(&g.list, ck::kAsnOid, purposes[i].data, purposes[i].len);
  }
  if (status == 0) status = ElementAppendEnd(&g.list, false);
  return ck::Finish(g.list, status, value, valueLen);
}

int C_BuildSubjectAltName(const C_GENERAL_NAME* names, uint32_t count, unsigned char** value, uint32_t* valueLen) {
  if (!ck::ClearOutput(value, valueLen) || names == nullptr || count == 0) return C_ERR_BAD_ARGUMENT;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ck::GoodAltName(names[i])) return C_ERR_BAD_ARGUMENT;
  }
  // GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName; the kinds built
  // here are [n] IMPLICIT IA5String or OCTET STRING, primitive.
  ck::ListGuard g;
  int status = ElementAppendStart(&g.list, ck::kAsnSequence);
  for (uint32_t i = 0; status == 0 && i < count; ++i) {
    status = ElementAppendContent(&g.list, ck::kAsnContext | names[i].kind, names[i].value.data, names[i].value.len);
  }
  if (status == 0) status = ElementAppendEnd(&g.list, false);
  return ck::Finish(g.list, status, value, valueLen);
}

int C_BuildSubjectKeyIdentifier(const unsigned char* spki, uint32_t spkiLen, unsigned char** value,
                                uint32_t* valueLen) {
  if (!ck::ClearOutput(value, valueLen)) return C_ERR_BAD_ARGUMENT;
  uint8_t keyId[C_KEY_ID_LEN];
  int status = C_ComputeKeyIdentifier(spki, spkiLen, keyId);
  if (status != 0) return status;
  // SubjectKeyIdentifier ::= KeyIdentifier (OCTET STRING)
  ck::ListGuard g;
  status = ElementAppendContent(&g.list, ck::kAsnOctetString, keyId, sizeof keyId);
  status = ck::Finish(g.list, status, value, valueLen);
  QMem_Wipe(keyId, sizeof keyId);
  return status;
}

int C_BuildAuthorityKeyIdentifier(const unsigned char* keyId, uint32_t keyIdLen, unsigned char** value,
                                  uint32_t* valueLen) {
  if (!ck::ClearOutput(value, valueLen) || keyId == nullptr || keyIdLen == 0) return C_ERR_BAD_ARGUMENT;
  // AuthorityKeyIdentifier ::= SEQUENCE { keyIdentifier [0] IMPLICIT
  //   KeyIdentifier OPTIONAL, ... } with the key identifier alone.
  ck::ListGuard g;
  int status = ElementAppendStart(&g.list, ck::kAsnSequence);
  if (status == 0) status = ElementAppendContent(&g.list, ck::kAsnContext | 0, keyId, keyIdLen);
  if (status == 0) status = ElementAppendEnd(&g.list, false);
  return ck::Finish(g.list, status, value, valueLen);
}

}  // extern "C"
