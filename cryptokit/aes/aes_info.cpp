// QA_AES128CBCPad and QA_AES256CBCPad: AES-CBC with the PKCS #7 padding, the
// info being the 16-byte initial vector; and the runner that the PBES2
// handler shares with them.
#include "cryptokit/aes/aes.h"

namespace qk {

AesCbcRunner::~AesCbcRunner() { QMem_SecureRelease(context_); }

int AesCbcRunner::Select(const AlgorithmType* type, bool encrypt, Q_KeyObj* key, Q_CHOOSER chooser,
                         const uint8_t iv[16]) {
  return SelectMethodWith(type, encrypt ? 1u : 0u, key, chooser,
                          [this, iv](const Q_ALGORITHM_METHOD* method, void* keyForm) {
                            return Adopt(method, keyForm, iv);
                          });
}

int AesCbcRunner::Adopt(const Q_ALGORITHM_METHOD* method, void* keyForm, const uint8_t iv[16]) {
  const auto* ops = static_cast<const AesCbcMethodOps*>(method->operations);
  if (keyForm == nullptr) return Q_ERR_KEY_OBJ;
  if (context_ == nullptr || QMem_BlockSize(context_) != ops->contextSize) {
    void* fresh = QMem_Allocate(ops->contextSize);
    if (fresh == nullptr) return Q_ERR_ALLOC;
    QMem_SecureRelease(context_);
    context_ = fresh;
  }
  int status = ops->init(context_, static_cast<const uint8_t*>(keyForm), iv);
  if (status != 0) return MethodStatusToCode(status);
  ops_ = ops;
  return 0;
}

int AesCbcRunner::Update(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, const unsigned char* input,
                         uint32_t inputLen) {
  return MethodStatusToCode(ops_->update(context_, output, outputLen, outputMax, input, inputLen));
}

int AesCbcRunner::Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax) {
  return MethodStatusToCode(ops_->final(context_, output, outputLen, outputMax));
}

namespace {

struct AesCbcDescriptor : AlgInfoDescriptor {
  const AlgorithmType* type;
};

class AesCbcHandler final : public CipherHandler {
 public:
  explicit AesCbcHandler(const AesCbcDescriptor* descriptor) : descriptor_(descriptor) {}

  int Init(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool encrypt, Q_SURRENDER_CTX*) override {
    const auto* iv = static_cast<const uint8_t*>(InfoFind(&object->infos, descriptor_));
    if (iv == nullptr) return Q_ERR_ALGORITHM_NOT_SET;
    return runner_.Select(descriptor_->type, encrypt, key, chooser, iv);
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
  const AesCbcDescriptor* descriptor_;
  AesCbcRunner runner_;
};

// Copies the 16 bytes of the initial vector.
int SetIv(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info) {
  if (info == nullptr) return Q_ERR_INPUT_DATA;
  unsigned char* copy = OwnedCopy(&object->memory, info, kAesBlockLength);
  if (copy == nullptr) return Q_ERR_ALLOC;
  return InfoAppend(&object->memory, &object->infos, self, copy);
}

Handler* CreateAesCbcHandler(const AlgInfoDescriptor* self, Q_AlgorithmObj*) {
  return QNew<AesCbcHandler>(static_cast<const AesCbcDescriptor*>(self));
}

const AlgInfoOps kAesCbcInfoOps{SetIv, CreateAesCbcHandler, nullptr};
const AesCbcDescriptor kAes128CbcDescriptor{{&kAesCbcInfoOps}, &kTypeAES128CBC};
const AesCbcDescriptor kAes256CbcDescriptor{{&kAesCbcInfoOps}, &kTypeAES256CBC};

}  // namespace
}  // namespace qk

extern "C" {
int QA_AES128CBCPad(const void** descriptor) {
  *descriptor = &qk::kAes128CbcDescriptor;
  return 0;
}
int QA_AES256CBCPad(const void** descriptor) {
  *descriptor = &qk::kAes256CbcDescriptor;
  return 0;
}
}
