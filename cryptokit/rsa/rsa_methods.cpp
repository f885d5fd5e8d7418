// The RSA public-exponent and private (CRT) methods and their records.
#include "cryptokit/rsa/rsa_methods.h"

#include "cryptokit/bignum.h"
#include "cryptokit/rsakeys/rsa_keys.h"

namespace qk {
namespace {

int FromItem(const Q_ITEM& item, QN_BIGNUM* n) {
  return BignumStatusToMethodStatus(QN_FromBytes(item.data, item.len, n));
}

// The block buffering shared by both methods; |Transform| does one block.
class BlockMethodBase : public RsaBlockMethod {
 public:
  ~BlockMethodBase() override {
    QN_Release(&modulus_);
    QMem_SecureRelease(partial_);
  }
  uint32_t BlockLength() const override { return k_; }

  int Update(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, const unsigned char* input,
             uint32_t inputLen, Q_SURRENDER_CTX* surrender) override {
    *outputLen = 0;
    const uint64_t blocks = (static_cast<uint64_t>(filled_) + inputLen) / k_;
    if (blocks * k_ > outputMax) return kRsaStatusOutputSmall;
    while (inputLen > 0) {
      uint32_t take = k_ - filled_ < inputLen ? k_ - filled_ : inputLen;
      QMem_Copy(partial_ + filled_, input, take);
      filled_ += take;
      input += take;
      inputLen -= take;
      if (filled_ == k_) {
        int status = Transform(partial_, output + *outputLen, surrender);
        filled_ = 0;
        QMem_Wipe(partial_, k_);
        if (status != 0) return status;
        *outputLen += k_;
      }
    }
    return 0;
  }

  int Final() override {
    const bool partial = filled_ != 0;
    filled_ = 0;
    QMem_Wipe(partial_, k_);
    return partial ? kRsaStatusPartialBlock : 0;
  }

 protected:
  // Loads the modulus, checks its size and makes the block buffer.
  int SetModulus(const Q_ITEM& modulus, uint32_t maxBits) {
    int status = FromItem(modulus, &modulus_);
    if (status != 0) return status;
    if (static_cast<uint32_t>(QN_BitLength(&modulus_)) > maxBits) return kRsaStatusModulusSize;
    k_ = QN_ByteLength(&modulus_);
    partial_ = static_cast<unsigned char*>(QMem_Allocate(k_));
    return partial_ == nullptr ? 128 : 0;
  }
  // Transforms one k-byte block into k bytes of output.
  virtual int Transform(const unsigned char* block, unsigned char* out, Q_SURRENDER_CTX* surrender) = 0;

  QN_BIGNUM modulus_{};
  uint32_t k_ = 0;

 private:
  unsigned char* partial_ = nullptr;
  uint32_t filled_ = 0;
};

// Prepares the Montgomery context of |modulus| for the method's blocks. An
// even modulus leaves it empty: the blocks then go through the unprepared
// operations, which report it as they always have.
int Prepare(const QN_BIGNUM& modulus, QN_MONT_CTX* ctx) {
  int status = QN_MontSet(&modulus, ctx);
  return status == QN_ERR_MODULUS ? 0 : BignumStatusToMethodStatus(status);
}

int WriteBlock(const QN_BIGNUM& y, uint32_t k, unsigned char* out) {
  uint32_t written = 0;
  return BignumStatusToMethodStatus(QN_ToFixedBytes(&y, k, k, &written, out));
}

class PublicMethod final : public BlockMethodBase {
 public:
  ~PublicMethod() override {
    QN_Release(&exponent_);
    QN_MontRelease(&mont_);
  }
  int Load(const Q_RSA_PUBLIC_KEY& key, uint32_t maxBits) {
    int status = SetModulus(key.modulus, maxBits);
    if (status == 0) status = FromItem(key.exponent, &exponent_);
    return status != 0 ? status : Prepare(modulus_, &mont_);
  }

 protected:
  // y = x^e mod n. A block not below n is refused, as the private method
  // refuses one: for a signature it is out of range (RFC 8017, RSAVP1), and
  // taking it would let s + n pass as another valid signature of the same
  // message.
  int Transform(const unsigned char* block, unsigned char* out, Q_SURRENDER_CTX* surrender) override {
    QN_BIGNUM x{}, y{};
    int status = QN_FromBytes(block, k_, &x);
    if (status == QN_OK && QN_Compare(&x, &modulus_) >= 0) {
      QN_Release(&x);
      return kRsaStatusInputData;
    }
    if (status == QN_OK) {
      status = mont_.limbs != 0 ? QN_ModExpMont(&x, &exponent_, &mont_, &y, surrender)
                                : QN_ModExp(&x, &exponent_, &modulus_, &y, surrender);
    }
    int result = status == QN_OK ? WriteBlock(y, k_, out) : BignumStatusToMethodStatus(status);
    QN_Release(&x);
    QN_Release(&y);
    return result;
  }

 private:
  QN_BIGNUM exponent_{};
  QN_MONT_CTX mont_{};
};

// The private method checks the key when it is loaded and every result
// before releasing it: a key file's private key has no integrity of its own,
// and one faulty CRT half in a signature reveals a prime (gcd(s^e - m, n)).
class PrivateMethod final : public BlockMethodBase {
 public:
  ~PrivateMethod() override {
    for (QN_BIGNUM* b : {&e_, &p_, &q_, &dP_, &dQ_, &qInv_}) QN_Release(b);
    QN_MontRelease(&montN_);
    QN_MontRelease(&montP_);
    QN_MontRelease(&montQ_);
  }
  int Load(const Q_RSA_PRIVATE_CRT_KEY& key, uint32_t maxBits) {
    int status = SetModulus(key.modulus, maxBits);
    if (status == 0) status = FromItem(key.publicExponent, &e_);
    if (status == 0) status = FromItem(key.prime[0], &p_);
    if (status == 0) status = FromItem(key.prime[1], &q_);
    if (status == 0) status = FromItem(key.primeExponent[0], &dP_);
    if (status == 0) status = FromItem(key.primeExponent[1], &dQ_);
    if (status == 0) status = FromItem(key.coefficient, &qInv_);
    if (status == 0) status = CheckComponents();
    if (status == 0) status = Prepare(modulus_, &montN_);
    if (status == 0) status = Prepare(p_, &montP_);
    if (status == 0) status = Prepare(q_, &montQ_);
    return status;
  }

 protected:
  // y = x^d mod n by the CRT step, released only when y^e mod n gives x
  // back; a block not below n is refused.
  int Transform(const unsigned char* block, unsigned char* out, Q_SURRENDER_CTX* surrender) override {
    QN_BIGNUM x{}, y{}, back{};
    int status = QN_FromBytes(block, k_, &x);
    int result = 0;
    if (status == QN_OK && QN_Compare(&x, &modulus_) >= 0) result = kRsaStatusInputData;
    const bool prepared = montN_.limbs != 0 && montP_.limbs != 0 && montQ_.limbs != 0;
    if (result == 0 && status == QN_OK) {
      status = prepared ? QN_CrtPrivateMont(&x, &montP_, &montQ_, &dP_, &dQ_, &qInv_, &y, surrender)
                        : QN_CrtPrivate(&x, &p_, &q_, &dP_, &dQ_, &qInv_, &y, surrender);
    }
    if (result == 0 && status == QN_OK) {
      status = prepared ? QN_ModExpMont(&y, &e_, &montN_, &back, surrender)
                        : QN_ModExp(&y, &e_, &modulus_, &back, surrender);
      if (status == QN_OK && QN_Compare(&back, &x) != 0) result = kRsaStatusInputData;
    }
    if (result == 0) result = status == QN_OK ? WriteBlock(y, k_, out) : BignumStatusToMethodStatus(status);
    if (result != 0) QMem_Wipe(out, k_);
    QN_Release(&x);
    QN_Release(&y);
    QN_Release(&back);
    return result;
  }

 private:
  // The key's components must belong together: p*q = n, e*dP = 1 mod p-1,
  // e*dQ = 1 mod q-1, qInv*q = 1 mod p with qInv < p, and 1 < e < n. Any
  // failure is the input-data status.
  int CheckComponents() {
    QN_BIGNUM t{}, p1{}, q1{};
    int status = QN_Multiply(&p_, &q_, &t);
    bool good = status == QN_OK && QN_Compare(&t, &modulus_) == 0;
    good = good && QN_BitLength(&p_) > 1 && QN_BitLength(&q_) > 1 && QN_BitLength(&e_) > 1 &&
           QN_Compare(&e_, &modulus_) < 0 && QN_Compare(&qInv_, &p_) < 0;
    if (good) status = QN_Copy(&p_, &p1);
    if (good && status == QN_OK) status = QN_SubtractWord(1, &p1);
    if (good && status == QN_OK) status = QN_Copy(&q_, &q1);
    if (good && status == QN_OK) status = QN_SubtractWord(1, &q1);
    if (good && status == QN_OK) good = ProductIsOne(&e_, &dP_, &p1, &t, &status);
    if (good && status == QN_OK) good = ProductIsOne(&e_, &dQ_, &q1, &t, &status);
    if (good && status == QN_OK) good = ProductIsOne(&qInv_, &q_, &p_, &t, &status);
    QN_Release(&t);
    QN_Release(&p1);
    QN_Release(&q1);
    if (status == QN_ERR_ALLOC) return BignumStatusToMethodStatus(status);
    return good && status == QN_OK ? 0 : kRsaStatusInputData;
  }
  // Whether a*b mod m is 1, with |t| as the work number.
  static bool ProductIsOne(const QN_BIGNUM* a, const QN_BIGNUM* b, const QN_BIGNUM* m, QN_BIGNUM* t, int* status) {
    *status = QN_ModMultiply(a, b, m, t);
    return *status == QN_OK && QN_BitLength(t) == 1 && t->words[0] == 1;
  }

  QN_BIGNUM e_{}, p_{}, q_{}, dP_{}, dQ_{}, qInv_{};
  QN_MONT_CTX montN_{}, montP_{}, montQ_{};
};

template <class Method, class Key>
RsaBlockMethod* Create(const void* keyForm, uint32_t maxModulusBits, int* status) {
  auto* method = QNew<Method>();
  if (method == nullptr) {
    *status = 128;
    return nullptr;
  }
  *status = method->Load(*static_cast<const Key*>(keyForm), maxModulusBits);
  if (*status != 0) {
    QDelete(method);
    return nullptr;
  }
  return method;
}

const RsaMethodOps kPublicOps{Create<PublicMethod, Q_RSA_PUBLIC_KEY>};
const RsaMethodOps kPrivateOps{Create<PrivateMethod, Q_RSA_PRIVATE_CRT_KEY>};

}  // namespace
}  // namespace qk

extern "C" {

const Q_ALGORITHM_METHOD QM_RSAPublicEncrypt = {&qk::kTypeRSAPublic, 1, QK_RSAPublic, &qk::kPublicOps};
const Q_ALGORITHM_METHOD QM_RSAPublicDecrypt = {&qk::kTypeRSAPublic, 0, QK_RSAPublic, &qk::kPublicOps};
const Q_ALGORITHM_METHOD QM_RSAPrivateEncrypt = {&qk::kTypeRSAPrivate, 1, qk::KI_RSAComponents,
                                                 &qk::kPrivateOps};
const Q_ALGORITHM_METHOD QM_RSAPrivateDecrypt = {&qk::kTypeRSAPrivate, 0, qk::KI_RSAComponents,
                                                 &qk::kPrivateOps};

}  // extern "C"
