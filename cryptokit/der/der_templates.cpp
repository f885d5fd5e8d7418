// The toolkit's DER templates and the functions that read and write each
// structure through them.
#include "cryptokit/der/der.h"

namespace qk::der {

const unsigned char kDerNull[2] = {0x05, 0x00};

namespace {

constexpr uint32_t kOptionalAny = kTagAny | kTagOptional;
const unsigned char kVersionZero[2] = {0, 0};

// RSAPublicKey (PKCS #1).
const DerEntry kRSAPublicKey[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 1},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 2},
    {kTagEnd, nullptr, nullptr, 0},
};

// RSAPrivateKey (PKCS #1): version, then eight INTEGERs in slots 2 to 9.
const DerEntry kRSAPrivateKey[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagInteger, DecodeFixedSmall, EncodeFixedSmall, 1},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 2},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 3},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 4},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 5},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 6},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 7},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 8},
    {kTagInteger, DecodeUnsigned, EncodeUnsigned, 9},
    {kTagEnd, nullptr, nullptr, 0},
};

// SubjectPublicKeyInfo (X.509).
const DerEntry kSubjectPublicKeyInfo[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOid, DecodeContents, EncodeContents, 1},
    {kOptionalAny, nullptr, nullptr, 2},
    {kTagEnd, nullptr, nullptr, 0},
    {kTagBitString, DecodeBitString, EncodeBitString, 3},
    {kTagEnd, nullptr, nullptr, 0},
};

// PrivateKeyInfo (PKCS #8), without attributes.
const DerEntry kPrivateKeyInfo[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagInteger, DecodeFixedSmall, EncodeFixedSmall, 1},
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOid, DecodeContents, EncodeContents, 2},
    {kOptionalAny, nullptr, nullptr, 3},
    {kTagEnd, nullptr, nullptr, 0},
    {kTagOctetString, DecodeContents, EncodeContents, 4},
    {kTagEnd, nullptr, nullptr, 0},
};

// DigestInfo (PKCS #1): the AlgorithmIdentifier is taken whole.
const DerEntry kDigestInfo[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagSequence | kTagWhole, nullptr, nullptr, 1},
    {kTagOctetString, DecodeContents, EncodeContents, 2},
    {kTagEnd, nullptr, nullptr, 0},
};

// AlgorithmIdentifier (X.509).
const DerEntry kAlgorithmIdentifier[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOid, DecodeContents, EncodeContents, 1},
    {kOptionalAny, nullptr, nullptr, 2},
    {kTagEnd, nullptr, nullptr, 0},
};

void Clear(Q_ITEM* item) {
  if (item != nullptr) *item = Q_ITEM{nullptr, 0};
}

void* Mutable(const void* p) { return const_cast<void*>(p); }

// A slot for an optional whole element: absent when it has no pointer.
void* OptionalSlot(const Q_ITEM& item) { return item.data == nullptr ? nullptr : Mutable(&item); }

}  // namespace

int DecodeRSAPublicKey(const unsigned char* input, uint32_t length, Q_ITEM* modulus, Q_ITEM* exponent) {
  Clear(modulus);
  Clear(exponent);
  void* slots[] = {nullptr, modulus, exponent};
  return DecodeExact(kRSAPublicKey, slots, input, length);
}

int EncodeRSAPublicKey(const Q_ITEM& modulus, const Q_ITEM& exponent, const DerSink& sink) {
  void* slots[] = {nullptr, Mutable(&modulus), Mutable(&exponent)};
  return Encode(kRSAPublicKey, slots, sink);
}

int DecodeRSAPrivateKey(const unsigned char* input, uint32_t length, Q_ITEM components[8]) {
  void* slots[10] = {nullptr, Mutable(kVersionZero)};
  for (int i = 0; i < 8; ++i) {
    Clear(&components[i]);
    slots[2 + i] = &components[i];
  }
  return DecodeExact(kRSAPrivateKey, slots, input, length);
}

int EncodeRSAPrivateKey(const Q_ITEM components[8], const DerSink& sink) {
  void* slots[10] = {nullptr, Mutable(kVersionZero)};
  for (int i = 0; i < 8; ++i) slots[2 + i] = Mutable(&components[i]);
  return Encode(kRSAPrivateKey, slots, sink);
}

int DecodeSubjectPublicKeyInfo(const unsigned char* input, uint32_t length, Q_ITEM* algorithm,
                               Q_ITEM* parameters, DerBitString* publicKey) {
  Clear(algorithm);
  Clear(parameters);
  if (publicKey != nullptr) *publicKey = DerBitString{nullptr, 0, 0};
  void* slots[] = {nullptr, algorithm, parameters, publicKey};
  return DecodeExact(kSubjectPublicKeyInfo, slots, input, length);
}

int EncodeSubjectPublicKeyInfo(const Q_ITEM& algorithm, const Q_ITEM& parameters, const DerBitString& publicKey,
                               const DerSink& sink) {
  void* slots[] = {nullptr, Mutable(&algorithm), OptionalSlot(parameters), Mutable(&publicKey)};
  return Encode(kSubjectPublicKeyInfo, slots, sink);
}

int DecodePrivateKeyInfo(const unsigned char* input, uint32_t length, Q_ITEM* algorithm, Q_ITEM* parameters,
                         Q_ITEM* privateKey) {
  Clear(algorithm);
  Clear(parameters);
  Clear(privateKey);
  void* slots[] = {nullptr, Mutable(kVersionZero), algorithm, parameters, privateKey};
  return DecodeExact(kPrivateKeyInfo, slots, input, length);
}

int EncodePrivateKeyInfo(const Q_ITEM& algorithm, const Q_ITEM& parameters, const Q_ITEM& privateKey,
                         const DerSink& sink) {
  void* slots[] = {nullptr, Mutable(kVersionZero), Mutable(&algorithm), OptionalSlot(parameters),
                   Mutable(&privateKey)};
  return Encode(kPrivateKeyInfo, slots, sink);
}

int DecodeDigestInfo(const unsigned char* input, uint32_t length, Q_ITEM* algorithmIdentifier, Q_ITEM* digest) {
  Clear(algorithmIdentifier);
  Clear(digest);
  void* slots[] = {nullptr, algorithmIdentifier, digest};
  return DecodeExact(kDigestInfo, slots, input, length);
}

int EncodeDigestInfo(const Q_ITEM& algorithmIdentifier, const Q_ITEM& digest, const DerSink& sink) {
  void* slots[] = {nullptr, Mutable(&algorithmIdentifier), Mutable(&digest)};
  return Encode(kDigestInfo, slots, sink);
}

int EncodeDigestInfoForOid(const Q_ITEM& digestOid, const Q_ITEM& digest, const DerSink& sink) {
  // An identifier short enough for a DigestInfo fits in this buffer.
  unsigned char identifier[64];
  uint32_t identifierLength = 0;
  BufferSink target{identifier, sizeof identifier, &identifierLength};
  const Q_ITEM nullParameters{const_cast<unsigned char*>(kDerNull), sizeof kDerNull};
  int status = EncodeAlgorithmIdentifier(digestOid, nullParameters, ToBuffer(&target));
  if (status != 0) return status;
  return EncodeDigestInfo(Q_ITEM{identifier, identifierLength}, digest, sink);
}

int DecodeAlgorithmIdentifier(const unsigned char* input, uint32_t length, Q_ITEM* algorithm, Q_ITEM* parameters) {
  Clear(algorithm);
  Clear(parameters);
  void* slots[] = {nullptr, algorithm, parameters};
  return DecodeExact(kAlgorithmIdentifier, slots, input, length);
}

int EncodeAlgorithmIdentifier(const Q_ITEM& algorithm, const Q_ITEM& parameters, const DerSink& sink) {
  void* slots[] = {nullptr, Mutable(&algorithm), OptionalSlot(parameters)};
  return Encode(kAlgorithmIdentifier, slots, sink);
}

}  // namespace qk::der
