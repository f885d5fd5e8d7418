// QA_PBEWithSHA1AndDESCBC: password-based encryption of PKCS #5 v1.5 (PBES1
// with the key derivation PBKDF1), SHA-1 as the derivation digest and
// DES-CBC with the PKCS #5 padding as the cipher.
//
// At Init the handler derives D = SHA-1^c(password || salt), takes the DES
// key from D[0..7] (odd parity forced, through a temporary key object set as
// QK_DESKeyParity) and the initial vector from D[8..15], and selects the
// DES-CBC method of the right side from the chooser. Update and Final are
// those of the method.
#include "cryptokit/des/des.h"
#include "cryptokit/digest/digest_handler.h"

namespace qk {
namespace {

constexpr uint32_t kSaltLength = 8;
constexpr uint32_t kDerivedLength = 20;

// The algorithm's own data: which digest and cipher it selects and the key
// form the derived key is set as.
struct PbeDescriptor : AlgInfoDescriptor {
  const AlgorithmType* digestType;
  const AlgorithmType* cipherType;
  Q_INFO_TYPE derivedKeyForm;
};

class PbeHandler final : public CipherHandler {
 public:
  explicit PbeHandler(const PbeDescriptor* descriptor) : descriptor_(descriptor) {}
  ~PbeHandler() override {
    QMem_Wipe(d_, sizeof d_);
    QMem_SecureRelease(context_);
  }

  int Init(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool encrypt, Q_SURRENDER_CTX*) override {
    const auto* params = static_cast<const Q_PBE_PARAMS*>(InfoFind(&object->infos, descriptor_));
    if (params == nullptr) return Q_ERR_ALGORITHM_NOT_SET;
    void* password = nullptr;
    int status = GetKeyForm(&password, key, QK_Item);
    if (status == 0) status = Derive(static_cast<const Q_ITEM*>(password), params, chooser);
    if (status == 0) status = SelectCipher(chooser, encrypt);
    QMem_Wipe(d_, sizeof d_);
    return status;
  }

  int Update(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, const unsigned char* input,
             uint32_t inputLen, Q_AlgorithmObj*, Q_SURRENDER_CTX*) override {
    return MethodStatusToCode(ops_->update(context_, output, outputLen, outputMax, input, inputLen));
  }

  int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_AlgorithmObj*,
            Q_SURRENDER_CTX*) override {
    return MethodStatusToCode(ops_->final(context_, output, outputLen, outputMax));
  }

 private:
  // PBKDF1: D = SHA-1(password || salt), then D = SHA-1(D) count - 1 times.
  int Derive(const Q_ITEM* password, const Q_PBE_PARAMS* params, Q_CHOOSER chooser) {
    const DigestMethodOps* digest = nullptr;
    int status = SelectMethodWith(descriptor_->digestType, 0, nullptr, chooser,
                                  [&digest](const Q_ALGORITHM_METHOD* method, void*) {
                                    const auto* ops = static_cast<const DigestMethodOps*>(method->operations);
                                    if (ops->digestLength != kDerivedLength) return Q_ERR_METHOD;
                                    digest = ops;
                                    return 0;
                                  });
    if (status != 0) return status;
    if (params->iterationCount == 0) return Q_ERR_INPUT_DATA;
    void* context = QMem_Allocate(digest->contextSize);
    if (context == nullptr) return Q_ERR_ALLOC;
    digest->init(context);
    digest->update(context, password->data, password->len);
    digest->update(context, params->salt, kSaltLength);
    digest->final(context, d_);
    for (uint32_t i = 1; i < params->iterationCount; ++i) {
      digest->init(context);
      digest->update(context, d_, kDerivedLength);
      digest->final(context, d_);
    }
    QMem_SecureRelease(context);
    return 0;
  }

  // Sets D[0..7] into a temporary key object and lets the chooser's DES-CBC
  // method of the wanted side take it, with D[8..15] as initial vector.
  int SelectCipher(Q_CHOOSER chooser, bool encrypt) {
    Q_KEY_OBJ derivedKey = nullptr;
    int status = Q_CreateKeyObject(&derivedKey);
    if (status == 0) status = Q_SetKeyInfo(derivedKey, descriptor_->derivedKeyForm, d_);
    if (status == 0) {
      status = SelectMethodWith(descriptor_->cipherType, encrypt ? 1u : 0u, derivedKey, chooser,
                                [this](const Q_ALGORITHM_METHOD* method, void* keyForm) {
                                  return AdoptCipher(method, keyForm);
                                });
    }
    Q_DestroyKeyObject(&derivedKey);
    return status;
  }

  int AdoptCipher(const Q_ALGORITHM_METHOD* method, void* keyForm) {
    const auto* ops = static_cast<const DesCbcMethodOps*>(method->operations);
    if (keyForm == nullptr) return Q_ERR_KEY_OBJ;
    if (context_ == nullptr || QMem_BlockSize(context_) != ops->contextSize) {
      void* fresh = QMem_Allocate(ops->contextSize);
      if (fresh == nullptr) return Q_ERR_ALLOC;
      QMem_SecureRelease(context_);
      context_ = fresh;
    }
    int status = ops->init(context_, static_cast<const uint8_t*>(keyForm), d_ + 8);
    if (status != 0) return MethodStatusToCode(status);
    ops_ = ops;
    return 0;
  }

  const PbeDescriptor* descriptor_;
  uint8_t d_[kDerivedLength] = {};
  const DesCbcMethodOps* ops_ = nullptr;
  void* context_ = nullptr;
};

// Copies the parameters: the 8 salt bytes and the iteration count.
int SetPbeInfo(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info) {
  const auto* params = static_cast<const Q_PBE_PARAMS*>(info);
  if (params == nullptr || params->salt == nullptr) return Q_ERR_INPUT_DATA;
  auto* copy = static_cast<Q_PBE_PARAMS*>(OwnedAllocate(&object->memory, sizeof(Q_PBE_PARAMS)));
  if (copy == nullptr) return Q_ERR_ALLOC;
  copy->salt = OwnedCopy(&object->memory, params->salt, kSaltLength);
  if (copy->salt == nullptr) return Q_ERR_ALLOC;
  copy->iterationCount = params->iterationCount;
  return InfoAppend(&object->memory, &object->infos, self, copy);
}

Handler* CreatePbeHandler(const AlgInfoDescriptor* self, Q_AlgorithmObj*) {
  return QNew<PbeHandler>(static_cast<const PbeDescriptor*>(self));
}

const AlgInfoOps kPbeInfoOps{SetPbeInfo, CreatePbeHandler, nullptr};
const PbeDescriptor kPbeSha1DesDescriptor{{&kPbeInfoOps}, &kTypeSHA1, &kTypeDESCBC, QK_DESKeyParity};

}  // namespace
}  // namespace qk

extern "C" int QA_PBEWithSHA1AndDESCBC(const void** descriptor) {
  *descriptor = &qk::kPbeSha1DesDescriptor;
  return 0;
}
