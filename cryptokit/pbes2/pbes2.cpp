// QA_PBES2 and QA_PBES2BER: password-based encryption scheme 2 of RFC 8018
// (6.2) with PBKDF2 over HMAC-SHA-1/256/384/512 and AES-128-CBC or
// AES-256-CBC with the PKCS #7 padding.
//
// At Init the handler selects the PRF's HMAC method from the chooser, keyed
// by the password (the key object's QK_Item form), derives the cipher's key
// with PBKDF2, sets it into a temporary key object and selects the AES-CBC
// method of the right side. Update and Final are the method's.
#include "cryptokit/aes/aes.h"
#include "cryptokit/der/der.h"
#include "cryptokit/hmac/hmac.h"

namespace qk {
namespace {

constexpr uint32_t kMinSalt = 8;
constexpr uint32_t kMaxSalt = 64;
constexpr uint32_t kMaxIterations = 10000000;

// The ciphers PBES2 may name: aes128-CBC 2.16.840.1.101.3.4.1.2 and
// aes256-CBC 2.16.840.1.101.3.4.1.42 (RFC 8018, B.2.5).
struct Pbes2Cipher {
  Q_INFO_TYPE infoType;
  const AlgorithmType* type;
  Q_INFO_TYPE keyForm;
  uint32_t keyLength;
  unsigned char oid[9];
};
const Pbes2Cipher kCiphers[] = {
    {QA_AES128CBCPad, &kTypeAES128CBC, QK_AES128Key, kAes128KeyLength,
     {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x02}},
    {QA_AES256CBCPad, &kTypeAES256CBC, QK_AES256Key, kAes256KeyLength,
     {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A}},
};

const Pbes2Cipher* CipherOf(Q_INFO_TYPE infoType) {
  const void* wanted = nullptr;
  if (infoType == nullptr || DescriptorOf(infoType, &wanted)) return nullptr;
  for (const Pbes2Cipher& c : kCiphers) {
    const void* d = nullptr;
    DescriptorOf(c.infoType, &d);
    if (d == wanted) return &c;
  }
  return nullptr;
}

const Pbes2Cipher* CipherByOid(const Q_ITEM& oid) {
  for (const Pbes2Cipher& c : kCiphers) {
    if (oid.len == sizeof c.oid && QMem_Compare(oid.data, c.oid, sizeof c.oid) == 0) return &c;
  }
  return nullptr;
}

const HmacDescriptor* PrfOf(Q_INFO_TYPE infoType) {
  const void* d = nullptr;
  if (infoType == nullptr || DescriptorOf(infoType, &d)) return nullptr;
  return FindHmac(d);
}

// The checks every set makes, in the order of the status codes' precedence.
int CheckParams(const Q_PBES2_PARAMS* p) {
  if (p == nullptr || p->iv == nullptr || (p->salt.data == nullptr && p->salt.len != 0)) return Q_ERR_INPUT_DATA;
  if (PrfOf(p->prf) == nullptr) return Q_ERR_PBE_PRF;
  if (CipherOf(p->cipher) == nullptr) return Q_ERR_PBE_CIPHER;
  if (p->salt.len < kMinSalt || p->salt.len > kMaxSalt) return Q_ERR_PBE_LENGTH;
  if (p->iterationCount == 0 || p->iterationCount > kMaxIterations) return Q_ERR_PBE_ITERATIONS;
  return 0;
}

struct Pbes2Descriptor : AlgInfoDescriptor {
  const Pbes2Descriptor* plain;  // for the DER form: the plain info type
};

class Pbes2Handler final : public CipherHandler {
 public:
  explicit Pbes2Handler(const Pbes2Descriptor* plain) : plain_(plain) {}

  int Init(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool encrypt,
           Q_SURRENDER_CTX* surrender) override {
    const auto* params = static_cast<const Q_PBES2_PARAMS*>(InfoFind(&object->infos, plain_));
    if (params == nullptr) return Q_ERR_ALGORITHM_NOT_SET;
    const HmacDescriptor* prf = PrfOf(params->prf);
    const Pbes2Cipher* cipher = CipherOf(params->cipher);
    const HmacMethodOps* hmac = nullptr;
    const Q_ITEM* password = nullptr;
    int status = SelectHmac(prf->type, key, chooser, &hmac, &password);
    uint8_t derived[kAes256KeyLength];
    if (status == 0) {
      status = Pbkdf2(hmac, *password, params->salt.data, params->salt.len, params->iterationCount, derived,
                      cipher->keyLength, surrender);
    }
    Q_KEY_OBJ derivedKey = nullptr;
    if (status == 0) status = Q_CreateKeyObject(&derivedKey);
    if (status == 0) status = Q_SetKeyInfo(derivedKey, cipher->keyForm, derived);
    if (status == 0) status = runner_.Select(cipher->type, encrypt, derivedKey, chooser, params->iv);
    Q_DestroyKeyObject(&derivedKey);
    QMem_Wipe(derived, sizeof derived);
    return status;
  }

  int Update(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, const unsigned char* input,
             uint32_t inputLen, Q_AlgorithmObj*, Q_SURRENDER_CTX*) override {
    return runner_.Update(output, outputLen, outputMax, input, inputLen);
  }

  int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_AlgorithmObj*,
            Q_SURRENDER_CTX*) override {
    return runner_.Final(output, outputLen, outputMax);
  }

 private:
  const Pbes2Descriptor* plain_;
  AesCbcRunner runner_;
};

// Copies the parameters (salt and initial vector into the object's memory)
// once they pass the checks; nothing is entered when one fails.
int SetPbes2Info(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info) {
  const auto* params = static_cast<const Q_PBES2_PARAMS*>(info);
  int status = CheckParams(params);
  if (status != 0) return status;
  auto* copy = static_cast<Q_PBES2_PARAMS*>(OwnedAllocate(&object->memory, sizeof(Q_PBES2_PARAMS)));
  if (copy == nullptr) return Q_ERR_ALLOC;
  *copy = *params;
  copy->salt.data = OwnedCopy(&object->memory, params->salt.data, params->salt.len);
  copy->iv = OwnedCopy(&object->memory, params->iv, kAesBlockLength);
  if (copy->salt.data == nullptr || copy->iv == nullptr) return Q_ERR_ALLOC;
  return InfoAppend(&object->memory, &object->infos, self, copy);
}

// Setting the DER form: the AlgorithmIdentifier is read strictly and its
// values checked, then the object is set as with QA_PBES2.
int SetFromDer(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info) {
  const auto* d = static_cast<const Pbes2Descriptor*>(self);
  const auto* der = static_cast<const Q_ITEM*>(info);
  if (der == nullptr || (der->data == nullptr && der->len != 0)) return Q_ERR_INPUT_DATA;
  der::Pbes2Fields f{};
  int status = der::DecodePbes2(der->data, der->len, &f);
  if (status != 0) return status;
  // An absent prf is hmacWithSHA1.
  const void* sha1 = nullptr;
  DescriptorOf(QA_HMACSHA1, &sha1);
  const HmacDescriptor* prf = f.prf.data == nullptr ? FindHmac(sha1) : FindHmacByOid(f.prf.data, f.prf.len);
  if (prf == nullptr) return Q_ERR_PBE_PRF;
  const Pbes2Cipher* cipher = CipherByOid(f.cipher);
  if (cipher == nullptr) return Q_ERR_PBE_CIPHER;
  if (f.iv.data == nullptr) return Q_ERR_INPUT_DATA;
  if (f.iv.len != kAesBlockLength) return Q_ERR_PBE_LENGTH;
  if (f.hasKeyLength && f.keyLength != cipher->keyLength) return Q_ERR_PBE_LENGTH;
  Q_PBES2_PARAMS params{f.salt, f.iterationCount, HmacInfoType(prf), cipher->infoType, f.iv.data};
  return d->plain->ops->setInfo(d->plain, object, &params);
}

// Getting the DER form from an object set with QA_PBES2 (or from DER).
int GetAsDer(const AlgInfoDescriptor* self, void** info, Q_AlgorithmObj* object) {
  const auto* d = static_cast<const Pbes2Descriptor*>(self);
  const auto* params = static_cast<const Q_PBES2_PARAMS*>(InfoFind(&object->infos, d->plain));
  if (params == nullptr) return Q_ERR_GET_ALGORITHM_INFO;
  const HmacDescriptor* prf = PrfOf(params->prf);
  const Pbes2Cipher* cipher = CipherOf(params->cipher);
  const void* sha1 = nullptr;
  DescriptorOf(QA_HMACSHA1, &sha1);
  der::Pbes2Fields f{};
  f.salt = params->salt;
  f.iterationCount = params->iterationCount;
  // hmacWithSHA1 is the default, which DER leaves out.
  if (prf != FindHmac(sha1)) f.prf = Q_ITEM{const_cast<unsigned char*>(prf->oid), prf->oidLength};
  f.cipher = Q_ITEM{const_cast<unsigned char*>(cipher->oid), sizeof cipher->oid};
  f.iv = Q_ITEM{params->iv, kAesBlockLength};
  auto* item = static_cast<Q_ITEM*>(OwnedAllocate(&object->memory, sizeof(Q_ITEM)));
  if (item == nullptr) return Q_ERR_ALLOC;
  der::OwnedSink target{&object->memory, item};
  int status = der::EncodePbes2(f, der::ToOwnedBlock(&target));
  if (status != 0) return status;
  *info = item;
  return 0;
}

Handler* CreatePbes2Handler(const AlgInfoDescriptor* self, Q_AlgorithmObj*) {
  const auto* d = static_cast<const Pbes2Descriptor*>(self);
  return QNew<Pbes2Handler>(d->plain != nullptr ? d->plain : d);
}

const AlgInfoOps kPlainOps{SetPbes2Info, CreatePbes2Handler, nullptr};
const AlgInfoOps kDerOps{SetFromDer, CreatePbes2Handler, GetAsDer};
const Pbes2Descriptor kPbes2Plain{{&kPlainOps}, nullptr};
const Pbes2Descriptor kPbes2Der{{&kDerOps}, &kPbes2Plain};

}  // namespace
}  // namespace qk

extern "C" {
int QA_PBES2(const void** descriptor) {
  *descriptor = &qk::kPbes2Plain;
  return 0;
}
int QA_PBES2BER(const void** descriptor) {
  *descriptor = &qk::kPbes2Der;
  return 0;
}
}
