// The PKCS #1 v1.5 handlers and the QA_RSAPrivatePKCS1 / QA_RSAPublicPKCS1
// info types.
#include "cryptokit/rsa/pkcs1.h"

#include "cryptokit/rsa/rsa_methods.h"

namespace qk {
namespace {

constexpr uint32_t kMinBlockLength = 12;
constexpr uint32_t kPadOverhead = 11;  // 00, type, at least 8 pad bytes, 00

class Pkcs1Handler final : public CipherHandler {
 public:
  Pkcs1Handler(Pkcs1Side side, uint32_t maxModulusBits) : side_(side), maxModulusBits_(maxModulusBits) {}
  ~Pkcs1Handler() override {
    QDelete(method_);
    QMem_SecureRelease(block_);
  }

  int Init(Q_AlgorithmObj*, Q_KeyObj* key, Q_CHOOSER chooser, bool encrypt, Q_SURRENDER_CTX*) override {
    const AlgorithmType* type = side_ == Pkcs1Side::Private ? &kTypeRSAPrivate : &kTypeRSAPublic;
    return SelectMethodWith(type, encrypt ? 1u : 0u, key, chooser, [&](const Q_ALGORITHM_METHOD* m, void* form) {
      int status = 0;
      const auto* ops = static_cast<const RsaMethodOps*>(m->operations);
      RsaBlockMethod* method = ops->create(form, maxModulusBits_, &status);
      if (method == nullptr) return MethodStatusToCode(status);
      const uint32_t k = method->BlockLength();
      if (k < kMinBlockLength) {
        QDelete(method);
        return Q_ERR_MODULUS_SHORT;
      }
      auto* block = static_cast<unsigned char*>(QMem_Allocate(k));
      if (block == nullptr) {
        QDelete(method);
        return Q_ERR_ALLOC;
      }
      QDelete(method_);
      QMem_SecureRelease(block_);
      method_ = method;
      block_ = block;
      k_ = k;
      count_ = 0;
      encrypting_ = encrypt;
      maxData_ = encrypt ? k - kPadOverhead : k;
      return 0;
    });
  }

  int Update(unsigned char*, uint32_t* outputLen, uint32_t, const unsigned char* input, uint32_t inputLen,
             Q_AlgorithmObj*, Q_SURRENDER_CTX*) override {
    if (outputLen != nullptr) *outputLen = 0;
    if (input == nullptr && inputLen != 0) return Q_ERR_INPUT_DATA;
    if (inputLen > maxData_ - count_) return Q_ERR_INPUT_LEN;
    QMem_Copy(block_ + count_, input, inputLen);
    count_ += inputLen;
    return 0;
  }

  int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_AlgorithmObj* random,
            Q_SURRENDER_CTX* surrender) override {
    int status = encrypting_ ? EncryptFinal(output, outputLen, outputMax, random, surrender)
                             : DecryptFinal(output, outputLen, outputMax, surrender);
    count_ = 0;
    QMem_Wipe(block_, k_);
    return status;
  }

 private:
  // Pads the buffered data into one block and runs it through the method.
  int EncryptFinal(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_AlgorithmObj* random,
                   Q_SURRENDER_CTX* surrender) {
    if (k_ < count_ + 3) return Q_ERR_INPUT_LEN;
    unsigned char* padded = static_cast<unsigned char*>(QMem_Allocate(k_));
    if (padded == nullptr) return Q_ERR_ALLOC;
    const uint32_t padLength = k_ - count_ - 3;
    padded[0] = 0x00;
    int status = 0;
    if (side_ == Pkcs1Side::Private) {
      padded[1] = 0x01;
      QMem_Fill(padded + 2, 0xFF, padLength);
    } else {
      padded[1] = 0x02;
      status = RandomNonZero(padded + 2, padLength, random);
    }
    padded[2 + padLength] = 0x00;
    QMem_Copy(padded + 3 + padLength, block_, count_);
    if (status == 0) status = RunMethod(padded, k_, output, outputLen, outputMax, surrender);
    QMem_SecureRelease(padded);
    return status;
  }

  // Runs the buffered block through the method and takes the data out.
  int DecryptFinal(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_SURRENDER_CTX* surrender) {
    unsigned char* plain = static_cast<unsigned char*>(QMem_Allocate(k_));
    if (plain == nullptr) return Q_ERR_ALLOC;
    uint32_t plainLength = 0;
    // No cipher text at all is a length error, like a partial block.
    int status = count_ == 0 ? Q_ERR_INPUT_LEN : RunMethod(block_, count_, plain, &plainLength, k_, surrender);
    uint32_t start = 0;
    if (status == 0) status = Unpad(plain, &start);
    if (status == 0) {
      const uint32_t dataLength = k_ - start;
      if (dataLength > k_ - kPadOverhead) {
        status = Q_ERR_INPUT_DATA;
      } else if (outputMax < dataLength || (output == nullptr && dataLength != 0)) {
        status = Q_ERR_OUTPUT_LEN;
      } else {
        QMem_Copy(output, plain + start, dataLength);
        if (outputLen != nullptr) *outputLen = dataLength;
      }
    }
    QMem_SecureRelease(plain);
    return status;
  }

  // Checks the block type of the side and finds where the data starts.
  int Unpad(const unsigned char* block, uint32_t* start) const {
    if (block[0] != 0x00) return Q_ERR_INPUT_DATA;
    uint32_t i = 2;
    if (side_ == Pkcs1Side::Public) {
      if (block[1] != 0x01) return Q_ERR_INPUT_DATA;
      while (i < k_ && block[i] == 0xFF) ++i;
    } else {
      if (block[1] != 0x02) return Q_ERR_INPUT_DATA;
      while (i < k_ && block[i] != 0x00) ++i;
    }
    if (i >= k_ || block[i] != 0x00) return Q_ERR_INPUT_DATA;
    *start = i + 1;
    return 0;
  }

  // Draws non-zero pad bytes one at a time from the random object.
  static int RandomNonZero(unsigned char* out, uint32_t length, Q_AlgorithmObj* random) {
    if (random == nullptr) return Q_ERR_RANDOM_OBJ;
    for (uint32_t i = 0; i < length; ++i) {
      do {
        int status = Q_RandomGenerate(random, out + i, 1, nullptr);
        if (status != 0) return status;
      } while (out[i] == 0);
    }
    return 0;
  }

  // Feeds |inLength| bytes through the method and ends it.
  int RunMethod(const unsigned char* in, uint32_t inLength, unsigned char* output, uint32_t* outputLen,
                uint32_t outputMax, Q_SURRENDER_CTX* surrender) {
    uint32_t written = 0;
    int status = method_->Update(output, &written, outputMax, in, inLength, surrender);
    int finalStatus = method_->Final();
    if (status == 0) status = finalStatus;
    if (status != 0) return MethodStatusToCode(status);
    if (outputLen != nullptr) *outputLen = written;
    return 0;
  }

  Pkcs1Side side_;
  uint32_t maxModulusBits_;
  RsaBlockMethod* method_ = nullptr;
  unsigned char* block_ = nullptr;
  uint32_t k_ = 0;
  uint32_t count_ = 0;
  uint32_t maxData_ = 0;
  bool encrypting_ = true;
};

template <Pkcs1Side side>
Handler* CreateFor(const AlgInfoDescriptor*, Q_AlgorithmObj*) {
  return CreatePkcs1Handler(side, kClassicMaxModulusBits);
}

const AlgInfoOps kPrivateInfoOps{SetInfoNoParameters, CreateFor<Pkcs1Side::Private>, nullptr};
const AlgInfoOps kPublicInfoOps{SetInfoNoParameters, CreateFor<Pkcs1Side::Public>, nullptr};
const AlgInfoDescriptor kPrivateDescriptor{&kPrivateInfoOps};
const AlgInfoDescriptor kPublicDescriptor{&kPublicInfoOps};

}  // namespace

CipherHandler* CreatePkcs1Handler(Pkcs1Side side, uint32_t maxModulusBits) {
  return QNew<Pkcs1Handler>(side, maxModulusBits);
}

}  // namespace qk

extern "C" {

int QA_RSAPrivatePKCS1(const void** descriptor) {
  *descriptor = &qk::kPrivateDescriptor;
  return 0;
}

int QA_RSAPublicPKCS1(const void** descriptor) {
  *descriptor = &qk::kPublicDescriptor;
  return 0;
}

}  // extern "C"
