// The PBES2 AlgorithmIdentifier with PBKDF2: its templates, a layered reader
// (so that an unknown key derivation is told apart from bad DER) and the
// writer. Strictness: after reading, the fields are written again and must
// give back the input byte for byte, which refuses every BER liberty the
// element reader allows (long or indefinite lengths).
#include "cryptokit/der/der.h"

namespace qk::der {

const unsigned char kPbes2Oid[9] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D};
const unsigned char kPbkdf2Oid[9] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};

namespace {

constexpr uint32_t kWholeSequence = kTagSequence | kTagWhole;

// PBES2-params, its two AlgorithmIdentifiers taken whole.
const DerEntry kPbes2Params[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kWholeSequence, nullptr, nullptr, 1},
    {kWholeSequence, nullptr, nullptr, 2},
    {kTagEnd, nullptr, nullptr, 0},
};

// PBKDF2-params; the INTEGERs are read as contents and checked here.
const DerEntry kPbkdf2Params[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOctetString, DecodeContents, EncodeContents, 1},
    {kTagInteger, DecodeContents, EncodeContents, 2},
    {kTagInteger | kTagOptional, DecodeContents, EncodeContents, 3},
    {kWholeSequence | kTagOptional, nullptr, nullptr, 4},
    {kTagEnd, nullptr, nullptr, 0},
};

const DerEntry kOctetString[] = {
    {kTagOctetString, DecodeContents, EncodeContents, 1},
};

// The whole structure, for writing.
const DerEntry kPbes2Whole[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOid, DecodeContents, EncodeContents, 1},
    {kTagSequence, nullptr, nullptr, 0},
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOid, DecodeContents, EncodeContents, 2},
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOctetString, DecodeContents, EncodeContents, 3},
    {kTagInteger, DecodeInt32, EncodeInt32, 4},
    {kTagInteger | kTagOptional, DecodeInt32, EncodeInt32, 5},
    {kWholeSequence | kTagOptional, nullptr, nullptr, 6},
    {kTagEnd, nullptr, nullptr, 0},
    {kTagEnd, nullptr, nullptr, 0},
    {kTagSequence, nullptr, nullptr, 0},
    {kTagOid, DecodeContents, EncodeContents, 7},
    {kTagOctetString, DecodeContents, EncodeContents, 8},
    {kTagEnd, nullptr, nullptr, 0},
    {kTagEnd, nullptr, nullptr, 0},
    {kTagEnd, nullptr, nullptr, 0},
};

bool SameOid(const Q_ITEM& oid, const unsigned char* expected, uint32_t length) {
  return oid.len == length && QMem_Compare(oid.data, expected, length) == 0;
}

// An INTEGER's contents as a non-negative number in minimal form: 524 when
// empty, negative or with a needless leading octet; |tooLarge| when it needs
// more than 32 bits.
int ReadCount(const Q_ITEM& contents, uint32_t* value, int tooLarge) {
  const unsigned char* p = contents.data;
  uint32_t n = contents.len;
  if (n == 0 || (p[0] & 0x80) != 0) return Q_ERR_INPUT_DATA;
  if (n > 1 && p[0] == 0 && (p[1] & 0x80) == 0) return Q_ERR_INPUT_DATA;
  if (p[0] == 0) {
    ++p;
    --n;
  }
  if (n > 4) return tooLarge;
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  *value = v;
  return 0;
}

void ToBigEndian(uint32_t v, unsigned char out[4]) {
  out[0] = static_cast<unsigned char>(v >> 24);
  out[1] = static_cast<unsigned char>(v >> 16);
  out[2] = static_cast<unsigned char>(v >> 8);
  out[3] = static_cast<unsigned char>(v);
}

int DecodeLayers(const unsigned char* input, uint32_t length, Pbes2Fields* f) {
  Q_ITEM algorithm{}, parameters{};
  int status = DecodeAlgorithmIdentifier(input, length, &algorithm, &parameters);
  if (status != 0) return status;
  if (!SameOid(algorithm, kPbes2Oid, sizeof kPbes2Oid)) return Q_ERR_GET_ALGORITHM_INFO;
  if (parameters.data == nullptr) return Q_ERR_INPUT_DATA;

  Q_ITEM kdf{}, scheme{};
  void* paramSlots[] = {nullptr, &kdf, &scheme};
  status = DecodeExact(kPbes2Params, paramSlots, parameters.data, parameters.len);
  if (status != 0) return status;

  Q_ITEM kdfOid{}, kdfParams{};
  status = DecodeAlgorithmIdentifier(kdf.data, kdf.len, &kdfOid, &kdfParams);
  if (status != 0) return status;
  if (!SameOid(kdfOid, kPbkdf2Oid, sizeof kPbkdf2Oid)) return Q_ERR_PBE_PRF;
  if (kdfParams.data == nullptr) return Q_ERR_INPUT_DATA;

  Q_ITEM iterations{}, keyLength{}, prf{};
  void* kdfSlots[] = {nullptr, &f->salt, &iterations, &keyLength, &prf};
  status = DecodeExact(kPbkdf2Params, kdfSlots, kdfParams.data, kdfParams.len);
  if (status != 0) return status;
  status = ReadCount(iterations, &f->iterationCount, Q_ERR_PBE_ITERATIONS);
  if (status != 0) return status;
  f->hasKeyLength = keyLength.data != nullptr;
  if (f->hasKeyLength) {
    status = ReadCount(keyLength, &f->keyLength, Q_ERR_PBE_LENGTH);
    if (status != 0) return status;
  }
  if (prf.data != nullptr) {
    Q_ITEM prfParams{};
    status = DecodeAlgorithmIdentifier(prf.data, prf.len, &f->prf, &prfParams);
    if (status != 0) return status;
    if (prfParams.len != sizeof kDerNull || QMem_Compare(prfParams.data, kDerNull, sizeof kDerNull) != 0) {
      return Q_ERR_INPUT_DATA;
    }
  }

  Q_ITEM schemeParams{};
  status = DecodeAlgorithmIdentifier(scheme.data, scheme.len, &f->cipher, &schemeParams);
  if (status != 0) return status;
  if (schemeParams.data != nullptr && schemeParams.data[0] == kTagOctetString) {
    void* ivSlots[] = {nullptr, &f->iv};
    status = DecodeExact(kOctetString, ivSlots, schemeParams.data, schemeParams.len);
    if (status != 0) return status;
  }
  return 0;
}

}  // namespace

int DecodePbes2(const unsigned char* input, uint32_t length, Pbes2Fields* fields) {
  *fields = Pbes2Fields{};
  if (input == nullptr && length != 0) return Q_ERR_INPUT_DATA;
  Pbes2Fields f{};
  int status = DecodeLayers(input, length, &f);
  if (status != 0) return status;
  // Only an encryption scheme with an OCTET STRING can be written again;
  // any other is refused by the caller as unknown or malformed.
  if (f.iv.data != nullptr) {
    unsigned char* again = static_cast<unsigned char*>(QMem_Allocate(length));
    if (again == nullptr) return Q_ERR_ALLOC;
    uint32_t againLength = 0;
    BufferSink target{again, length, &againLength};
    status = EncodePbes2(f, ToBuffer(&target));
    const bool same = status == 0 && againLength == length && QMem_Compare(again, input, length) == 0;
    // Released wiped, as every block of the toolkit is.
    QMem_SecureRelease(again);
    if (status == Q_ERR_ALLOC) return status;
    if (!same) return Q_ERR_INPUT_DATA;
  }
  *fields = f;
  return 0;
}

int EncodePbes2(const Pbes2Fields& f, const DerSink& sink) {
  if (f.iv.data == nullptr || f.salt.data == nullptr || f.cipher.data == nullptr) return Q_ERR_METHOD;
  unsigned char iterations[4], keyLength[4];
  ToBigEndian(f.iterationCount, iterations);
  ToBigEndian(f.keyLength, keyLength);
  // The prf's AlgorithmIdentifier, written first: {oid, NULL}.
  unsigned char prf[64];
  uint32_t prfLength = 0;
  Q_ITEM prfElement{nullptr, 0};
  if (f.prf.data != nullptr) {
    BufferSink target{prf, sizeof prf, &prfLength};
    const Q_ITEM nullParameters{const_cast<unsigned char*>(kDerNull), sizeof kDerNull};
    int status = EncodeAlgorithmIdentifier(f.prf, nullParameters, ToBuffer(&target));
    if (status != 0) return status == Q_ERR_OUTPUT_LEN ? Q_ERR_METHOD : status;
    prfElement = Q_ITEM{prf, prfLength};
  }
  const Q_ITEM pbes2{const_cast<unsigned char*>(kPbes2Oid), sizeof kPbes2Oid};
  const Q_ITEM pbkdf2{const_cast<unsigned char*>(kPbkdf2Oid), sizeof kPbkdf2Oid};
  void* slots[] = {nullptr,
                   const_cast<Q_ITEM*>(&pbes2),
                   const_cast<Q_ITEM*>(&pbkdf2),
                   const_cast<Q_ITEM*>(&f.salt),
                   iterations,
                   f.hasKeyLength ? keyLength : nullptr,
                   prfElement.data != nullptr ? &prfElement : nullptr,
                   const_cast<Q_ITEM*>(&f.cipher),
                   const_cast<Q_ITEM*>(&f.iv)};
  return Encode(kPbes2Whole, slots, sink);
}

}  // namespace qk::der
