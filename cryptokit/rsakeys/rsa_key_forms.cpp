// The RSA key forms of a key object: the component forms, the internal
// components record, and the DER forms SubjectPublicKeyInfo (X.509) and
// PrivateKeyInfo (PKCS #8) with their conversions.
#include "cryptokit/rsakeys/rsa_keys.h"

#include "cryptokit/der/der.h"

namespace qk {

const unsigned char kRsaEncryptionOid[9] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const unsigned char kX500RsaOid[4] = {0x55, 0x08, 0x01, 0x01};

namespace {

extern const KeyInfoDescriptor kPublicDescriptor;
extern const KeyInfoDescriptor kPrivateDescriptor;
extern const KeyInfoDescriptor kCRTDescriptor;
extern const KeyInfoDescriptor kComponentsDescriptor;
extern const KeyInfoDescriptor kPublicBERDescriptor;
extern const KeyInfoDescriptor kPrivateBERDescriptor;

constexpr int kComponentCount = 8;

// The CRT record's eight ranges in the PKCS #1 order.
Q_ITEM& Component(Q_RSA_PRIVATE_CRT_KEY* key, int i) {
  switch (i) {
    case 0: return key->modulus;
    case 1: return key->publicExponent;
    case 2: return key->privateExponent;
    case 3: return key->prime[0];
    case 4: return key->prime[1];
    case 5: return key->primeExponent[0];
    case 6: return key->primeExponent[1];
    default: return key->coefficient;
  }
}

bool SameOid(const Q_ITEM& oid, const unsigned char* expected, uint32_t length) {
  return oid.len == length && QMem_Compare(oid.data, expected, length) == 0;
}

// Copies |source| without its leading zero bytes into a block owned by |key|.
int CopyValue(Q_KeyObj* key, const Q_ITEM& source, Q_ITEM* copy) {
  if (source.data == nullptr && source.len != 0) return Q_ERR_INPUT_DATA;
  uint32_t skip = 0;
  while (skip < source.len && source.data[skip] == 0) ++skip;
  const uint32_t length = source.len - skip;
  unsigned char* block = OwnedCopy(&key->memory, length != 0 ? source.data + skip : nullptr, length);
  if (block == nullptr) return Q_ERR_ALLOC;
  *copy = Q_ITEM{block, length};
  return 0;
}

template <class Record>
Record* NewRecord(Q_KeyObj* key) {
  return static_cast<Record*>(OwnedAllocate(&key->memory, sizeof(Record)));
}

// Sets a two-range form (QK_RSAPublic or QK_RSAPrivate).
template <class Record>
int SetPair(Q_KeyObj* key, const KeyInfoDescriptor* descriptor, const Q_ITEM& modulus, const Q_ITEM& exponent) {
  auto* record = NewRecord<Record>(key);
  if (record == nullptr) return Q_ERR_ALLOC;
  int status = CopyValue(key, modulus, &record->modulus);
  if (status == 0) status = CopyValue(key, exponent, &record->exponent);
  if (status == 0) status = InfoAppend(&key->memory, &key->infos, descriptor, record);
  return status;
}

int SetPublic(Q_KeyObj* key, const void* info) {
  const auto* in = static_cast<const Q_RSA_PUBLIC_KEY*>(info);
  if (in == nullptr) return Q_ERR_INPUT_DATA;
  return SetPair<Q_RSA_PUBLIC_KEY>(key, &kPublicDescriptor, in->modulus, in->exponent);
}

int SetPrivate(Q_KeyObj* key, const void* info) {
  const auto* in = static_cast<const Q_RSA_PRIVATE_KEY*>(info);
  if (in == nullptr) return Q_ERR_INPUT_DATA;
  return SetPair<Q_RSA_PRIVATE_KEY>(key, &kPrivateDescriptor, in->modulus, in->exponent);
}

// Sets the eight components: the components record first, then the
// QK_RSAPrivateCRT form (both over the same copied values).
int SetCRTFrom(Q_KeyObj* key, const Q_ITEM* values) {
  auto* components = NewRecord<Q_RSA_PRIVATE_CRT_KEY>(key);
  auto* crt = NewRecord<Q_RSA_PRIVATE_CRT_KEY>(key);
  if (components == nullptr || crt == nullptr) return Q_ERR_ALLOC;
  for (int i = 0; i < kComponentCount; ++i) {
    int status = CopyValue(key, values[i], &Component(components, i));
    if (status != 0) return status;
  }
  *crt = *components;
  int status = InfoAppend(&key->memory, &key->infos, &kComponentsDescriptor, components);
  if (status == 0) status = InfoAppend(&key->memory, &key->infos, &kCRTDescriptor, crt);
  return status;
}

int SetCRT(Q_KeyObj* key, const void* info) {
  if (info == nullptr) return Q_ERR_INPUT_DATA;
  Q_RSA_PRIVATE_CRT_KEY in = *static_cast<const Q_RSA_PRIVATE_CRT_KEY*>(info);
  Q_ITEM values[kComponentCount];
  for (int i = 0; i < kComponentCount; ++i) values[i] = Component(&in, i);
  return SetCRTFrom(key, values);
}

int SetComponents(Q_KeyObj*, const void*) { return Q_ERR_WRONG_KIND; }
int GetNothing(void**, Q_KeyObj*) { return Q_ERR_GET_KEY_INFO; }

const Q_RSA_PRIVATE_CRT_KEY* ComponentsOf(Q_KeyObj* key) {
  return static_cast<const Q_RSA_PRIVATE_CRT_KEY*>(InfoFind(&key->infos, &kComponentsDescriptor));
}

// Builds a two-range form over the components the key already owns.
template <class Record>
int GetPair(void** info, Q_KeyObj* key, bool publicExponent) {
  const Q_RSA_PRIVATE_CRT_KEY* components = ComponentsOf(key);
  if (components == nullptr) return Q_ERR_GET_KEY_INFO;
  auto* record = NewRecord<Record>(key);
  if (record == nullptr) return Q_ERR_ALLOC;
  record->modulus = components->modulus;
  record->exponent = publicExponent ? components->publicExponent : components->privateExponent;
  *info = record;
  return 0;
}

int GetPublic(void** info, Q_KeyObj* key) { return GetPair<Q_RSA_PUBLIC_KEY>(info, key, true); }
int GetPrivate(void** info, Q_KeyObj* key) { return GetPair<Q_RSA_PRIVATE_KEY>(info, key, false); }

int GetCRT(void** info, Q_KeyObj* key) {
  const Q_RSA_PRIVATE_CRT_KEY* components = ComponentsOf(key);
  if (components == nullptr) return Q_ERR_GET_KEY_INFO;
  Q_RSA_PRIVATE_CRT_KEY copy = *components;
  for (int i = 0; i < kComponentCount; ++i) {
    if (Component(&copy, i).data == nullptr) return Q_ERR_GET_KEY_INFO;
  }
  auto* record = NewRecord<Q_RSA_PRIVATE_CRT_KEY>(key);
  if (record == nullptr) return Q_ERR_ALLOC;
  *record = copy;
  *info = record;
  return 0;
}

// A sink into a plain block for an inner encoding, released wiped by its
// owner.
struct ScratchBlock {
  unsigned char* data = nullptr;
  uint32_t length = 0;
  ScratchBlock() = default;
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;
  ~ScratchBlock() { QMem_SecureRelease(data); }
};

int PutInScratch(void* context, const unsigned char* data, uint32_t length) {
  auto* scratch = static_cast<ScratchBlock*>(context);
  auto* block = static_cast<unsigned char*>(QMem_Allocate(length));
  if (block == nullptr) return Q_ERR_ALLOC;
  QMem_Copy(block, data, length);
  QMem_SecureRelease(scratch->data);
  scratch->data = block;
  scratch->length = length;
  return 0;
}

const Q_ITEM kRsaEncryption{const_cast<unsigned char*>(kRsaEncryptionOid), sizeof kRsaEncryptionOid};
const Q_ITEM kNullParameters{const_cast<unsigned char*>(der::kDerNull), sizeof der::kDerNull};

int SetPublicBER(Q_KeyObj* key, const void* info) {
  const auto* in = static_cast<const Q_ITEM*>(info);
  if (in == nullptr) return Q_ERR_INPUT_DATA;
  Q_ITEM algorithm, parameters;
  der::DerBitString bits;
  int status = der::DecodeSubjectPublicKeyInfo(in->data, in->len, &algorithm, &parameters, &bits);
  if (status != 0) return status;
  if (!SameOid(algorithm, kRsaEncryptionOid, sizeof kRsaEncryptionOid) &&
      !SameOid(algorithm, kX500RsaOid, sizeof kX500RsaOid)) {
    return Q_ERR_GET_KEY_INFO;
  }
  if (bits.unusedBits != 0) return Q_ERR_INPUT_DATA;
  Q_ITEM modulus, exponent;
  status = der::DecodeRSAPublicKey(bits.data, bits.length, &modulus, &exponent);
  if (status != 0) return status;
  return SetPair<Q_RSA_PUBLIC_KEY>(key, &kPublicDescriptor, modulus, exponent);
}

int SetPrivateBER(Q_KeyObj* key, const void* info) {
  const auto* in = static_cast<const Q_ITEM*>(info);
  if (in == nullptr) return Q_ERR_INPUT_DATA;
  Q_ITEM algorithm, parameters, privateKey;
  int status = der::DecodePrivateKeyInfo(in->data, in->len, &algorithm, &parameters, &privateKey);
  if (status != 0) return status;
  if (!SameOid(algorithm, kRsaEncryptionOid, sizeof kRsaEncryptionOid)) return Q_ERR_GET_KEY_INFO;
  Q_ITEM values[kComponentCount];
  status = der::DecodeRSAPrivateKey(privateKey.data, privateKey.len, values);
  if (status != 0) return status;
  return SetCRTFrom(key, values);
}

int GetPublicBER(void** info, Q_KeyObj* key) {
  void* form = nullptr;
  int status = GetKeyForm(&form, key, QK_RSAPublic);
  if (status != 0) return status;
  const auto* pub = static_cast<const Q_RSA_PUBLIC_KEY*>(form);
  ScratchBlock inner;
  status = der::EncodeRSAPublicKey(pub->modulus, pub->exponent, der::DerSink{PutInScratch, &inner});
  if (status != 0) return status;
  auto* record = NewRecord<Q_ITEM>(key);
  if (record == nullptr) return Q_ERR_ALLOC;
  der::OwnedSink target{&key->memory, record};
  status = der::EncodeSubjectPublicKeyInfo(kRsaEncryption, kNullParameters,
                                           der::DerBitString{inner.data, inner.length, 0},
                                           der::ToOwnedBlock(&target));
  if (status != 0) return status;
  *info = record;
  return 0;
}

int GetPrivateBER(void** info, Q_KeyObj* key) {
  void* form = nullptr;
  int status = GetKeyForm(&form, key, QK_RSAPrivateCRT);
  if (status != 0) return status;
  Q_RSA_PRIVATE_CRT_KEY crt = *static_cast<const Q_RSA_PRIVATE_CRT_KEY*>(form);
  Q_ITEM values[kComponentCount];
  for (int i = 0; i < kComponentCount; ++i) values[i] = Component(&crt, i);
  ScratchBlock inner;
  status = der::EncodeRSAPrivateKey(values, der::DerSink{PutInScratch, &inner});
  if (status != 0) return status;
  auto* record = NewRecord<Q_ITEM>(key);
  if (record == nullptr) return Q_ERR_ALLOC;
  der::OwnedSink target{&key->memory, record};
  status = der::EncodePrivateKeyInfo(kRsaEncryption, kNullParameters, Q_ITEM{inner.data, inner.length},
                                     der::ToOwnedBlock(&target));
  if (status != 0) return status;
  *info = record;
  return 0;
}

const KeyInfoDescriptor kPublicDescriptor{SetPublic, GetPublic};
const KeyInfoDescriptor kPrivateDescriptor{SetPrivate, GetPrivate};
const KeyInfoDescriptor kCRTDescriptor{SetCRT, GetCRT};
const KeyInfoDescriptor kComponentsDescriptor{SetComponents, GetNothing};
const KeyInfoDescriptor kPublicBERDescriptor{SetPublicBER, GetPublicBER};
const KeyInfoDescriptor kPrivateBERDescriptor{SetPrivateBER, GetPrivateBER};

int KeyInfo(const void** descriptor, const KeyInfoDescriptor* which) {
  *descriptor = which;
  return 1;
}

}  // namespace

int KI_RSAComponents(const void** descriptor) { return KeyInfo(descriptor, &kComponentsDescriptor); }

}  // namespace qk

extern "C" {

int QK_RSAPublic(const void** descriptor) { return qk::KeyInfo(descriptor, &qk::kPublicDescriptor); }
int QK_RSAPrivate(const void** descriptor) { return qk::KeyInfo(descriptor, &qk::kPrivateDescriptor); }
int QK_RSAPrivateCRT(const void** descriptor) { return qk::KeyInfo(descriptor, &qk::kCRTDescriptor); }
int QK_RSAPublicBER(const void** descriptor) { return qk::KeyInfo(descriptor, &qk::kPublicBERDescriptor); }
int QK_RSAPrivateBER(const void** descriptor) { return qk::KeyInfo(descriptor, &qk::kPrivateBERDescriptor); }

}  // extern "C"
