// RSA key-pair generation: the QA_RSAKeyGen and QA_RSAKeyGenModern info
// types, their method record and their handler. The private key object
// receives QK_RSAPrivateCRT (with the RSA components record), the public key
// object QK_RSAPublic.
//
// The classic generation takes its primes from one random buffer by a sieve
// and a four-base Fermat test. The modern generation follows FIPS 186-5
// A.1.3: probable primes tested with Miller-Rabin (probable_prime.h), primes
// far enough apart, and d the inverse of e modulo lcm(p - 1, q - 1).
#include "cryptokit/bignum.h"
#include "cryptokit/core/objects.h"
#include "cryptokit/keygen/prime_search.h"
#include "cryptokit/keygen/probable_prime.h"

namespace qk {
namespace {

constexpr uint32_t kMinModulusBits = 256;
constexpr uint32_t kMaxModulusBits = 2048;

// The modern sizes, and the public exponent's range, 2^16 < e < 2^256.
constexpr uint32_t kModernModulusBits[] = {2048, 3072, 4096};
constexpr int32_t kModernExponentMinBits = 17;
constexpr int32_t kModernExponentMaxBits = 256;
// The primes must differ in more than their low 100 bits.
constexpr uint32_t kPrimeDistanceMargin = 100;

// Method statuses of key generation.
constexpr int kStatusCancelled = 1;
constexpr int kStatusExponentEven = 3;
constexpr int kStatusExponentTooLong = 4;
constexpr int kStatusModulusSize = 7;

// The working context: the eight components as numbers and the output block
// that holds them as big-endian strings.
struct KeyGenContext {
  uint32_t modulusBits = 0;
  QN_BIGNUM e{}, n{}, d{}, p{}, q{}, dP{}, dQ{}, qInv{};
  unsigned char* output = nullptr;
  uint32_t outputSize = 0;

  ~KeyGenContext() {
    for (QN_BIGNUM* b : {&e, &n, &d, &p, &q, &dP, &dQ, &qInv}) QN_Release(b);
    QMem_SecureRelease(output);
  }
};

int ToMethod(int bignumStatus) { return BignumStatusToMethodStatus(bignumStatus); }

// Computes n, d, dP, dQ and qInv from p, q and e (p != q). Method status 8
// when e has no inverse modulo (p-1)(q-1).
int DeriveComponents(KeyGenContext& c) {
  QN_BIGNUM p1{}, q1{}, phi{};
  int status = QN_Multiply(&c.p, &c.q, &c.n);
  if (status == QN_OK) status = QN_Copy(&c.p, &p1);
  if (status == QN_OK) status = QN_SubtractWord(1, &p1);
  if (status == QN_OK) status = QN_Copy(&c.q, &q1);
  if (status == QN_OK) status = QN_SubtractWord(1, &q1);
  if (status == QN_OK) status = QN_Multiply(&p1, &q1, &phi);
  int result = 0;
  if (status == QN_OK) {
    status = QN_ModInverse(&c.e, &phi, &c.d);
    if (status == QN_ERR_NOT_INVERTIBLE || status == QN_ERR_INVERSE_RANGE) {
      result = kRetryWithNewRandom;
      status = QN_OK;
    }
  }
  if (result == 0 && status == QN_OK) status = QN_Modulo(&c.d, &p1, &c.dP);
  if (result == 0 && status == QN_OK) status = QN_Modulo(&c.d, &q1, &c.dQ);
  if (result == 0 && status == QN_OK) {
    status = QN_ModInverse(&c.q, &c.p, &c.qInv);
    if (status == QN_ERR_NOT_INVERTIBLE) {
      result = kRetryWithNewRandom;
      status = QN_OK;
    }
  }
  QN_Release(&p1);
  QN_Release(&q1);
  QN_Release(&phi);
  return status != QN_OK ? ToMethod(status) : result;
}

// Whether |a| > 2^|bit|.
bool Above(const QN_BIGNUM& a, int32_t bit) {
  const int32_t length = QN_BitLength(&a);
  if (length != bit + 1) return length > bit + 1;
  for (int32_t i = 0; i < bit; ++i) {
    int set = 0;
    if (QN_TestBit(&a, i, &set) == QN_OK && set != 0) return true;
  }
  return false;
}

// The modern components from p > q and e: n, d = e^-1 mod lcm(p-1, q-1),
// dP, dQ and qInv. |*again| when d is not above 2^(nlen/2) (FIPS 186-5
// A.1.1), which asks for new primes. A big-number status.
int DeriveModern(KeyGenContext& c, bool* again) {
  *again = false;
  QN_BIGNUM p1{}, q1{}, g{}, phi{}, lambda{};
  int status = QN_Multiply(&c.p, &c.q, &c.n);
  if (status == QN_OK) status = QN_Copy(&c.p, &p1);
  if (status == QN_OK) status = QN_SubtractWord(1, &p1);
  if (status == QN_OK) status = QN_Copy(&c.q, &q1);
  if (status == QN_OK) status = QN_SubtractWord(1, &q1);
  if (status == QN_OK) status = QN_Gcd(&p1, &q1, &g);
  if (status == QN_OK) status = QN_Multiply(&p1, &q1, &phi);
  if (status == QN_OK) status = QN_Divide(&phi, &g, &lambda, nullptr);
  if (status == QN_OK) status = QN_ModInverse(&c.e, &lambda, &c.d);
  if (status == QN_ERR_NOT_INVERTIBLE || status == QN_ERR_INVERSE_RANGE) {
    // Not reached: both primes were chosen with gcd(e, prime - 1) = 1.
    *again = true;
    status = QN_OK;
  } else if (status == QN_OK && !Above(c.d, static_cast<int32_t>(c.modulusBits / 2))) {
    *again = true;
  }
  if (!*again && status == QN_OK) status = QN_Modulo(&c.d, &p1, &c.dP);
  if (!*again && status == QN_OK) status = QN_Modulo(&c.d, &q1, &c.dQ);
  if (!*again && status == QN_OK) status = QN_ModInverse(&c.q, &c.p, &c.qInv);
  for (QN_BIGNUM* b : {&p1, &q1, &g, &phi, &lambda}) QN_Release(b);
  return status;
}

class RsaKeyGenHandler final : public KeyGenerationHandler {
 public:
  explicit RsaKeyGenHandler(bool modern) : modern_(modern) {}
  ~RsaKeyGenHandler() override {
    QDelete(context_);
    QMem_SecureRelease(random_);
  }

  int Init(Q_AlgorithmObj* object, Q_CHOOSER chooser, Q_SURRENDER_CTX*) override {
    const auto* params = static_cast<const Q_RSA_KEYGEN_PARAMS*>(object->infos.pairs[0].info);
    return SelectMethodWith(&kTypeRSAKeyGen, 0, nullptr, chooser,
                            [&](const Q_ALGORITHM_METHOD*, void*) { return Initialise(params); });
  }

  int Keypair(Q_KeyObj* publicKey, Q_KeyObj* privateKey, Q_AlgorithmObj* random,
              Q_SURRENDER_CTX* surrender) override {
    if (publicKey == nullptr || privateKey == nullptr) return Q_ERR_KEY_OBJ;
    if (publicKey->infos.count != 0 || privateKey->infos.count != 0) return Q_ERR_KEY_ALREADY_SET;
    if (random == nullptr) return Q_ERR_RANDOM_OBJ;
    if (modern_) {
      int code = GenerateModern(random, surrender);
      return code != 0 ? code : StoreKeys(publicKey, privateKey);
    }
    int status;
    do {
      status = Q_RandomGenerate(random, random_, randomLength_, nullptr);
      if (status != 0) return status;
      status = GeneratePrimes(surrender);
    } while (status == kRetryWithNewRandom);
    if (status != 0) return MethodStatusToCode(status);
    return StoreKeys(publicKey, privateKey);
  }

 private:
  // The method's initialise step: checks the sizes, allocates the context and
  // the random buffer, and loads the public exponent. A toolkit code.
  int Initialise(const Q_RSA_KEYGEN_PARAMS* params) {
    const uint32_t bits = params->modulusBits;
    if (!SizeAllowed(bits)) return MethodStatusToCode(kStatusModulusSize);
    // The modern generation draws from the random object as it goes.
    const uint32_t randomLength = modern_ ? 0 : (bits + 1) / 32 * 4 + 4;
    auto* context = QNew<KeyGenContext>();
    auto* buffer = modern_ ? nullptr : static_cast<unsigned char*>(QMem_Allocate(randomLength));
    if (context == nullptr || (!modern_ && buffer == nullptr)) {
      QDelete(context);
      QMem_SecureRelease(buffer);
      return Q_ERR_ALLOC;
    }
    context->modulusBits = bits;
    int status = QN_FromBytes(params->publicExponent.data, params->publicExponent.len, &context->e);
    int methodStatus = status == QN_OK ? 0 : ToMethod(status);
    if (methodStatus == 0 && static_cast<uint32_t>(QN_BitLength(&context->e)) >= bits) {
      methodStatus = kStatusExponentTooLong;
    }
    if (methodStatus == 0 && modern_ &&
        (QN_BitLength(&context->e) < kModernExponentMinBits || QN_BitLength(&context->e) > kModernExponentMaxBits)) {
      methodStatus = kStatusExponentTooLong;
    }
    if (methodStatus == 0 && (context->e.words[0] & 1u) == 0) methodStatus = kStatusExponentEven;
    if (methodStatus != 0) {
      QDelete(context);
      QMem_SecureRelease(buffer);
      return MethodStatusToCode(methodStatus);
    }
    QDelete(context_);
    QMem_SecureRelease(random_);
    context_ = context;
    random_ = buffer;
    randomLength_ = randomLength;
    return 0;
  }

  bool SizeAllowed(uint32_t bits) const {
    if (!modern_) return bits >= kMinModulusBits && bits <= kMaxModulusBits;
    for (uint32_t allowed : kModernModulusBits) {
      if (bits == allowed) return true;
    }
    return false;
  }

  // The modern key: p of nlen/2 bits, then q of nlen/2 bits until
  // |p - q| > 2^(nlen/2 - 100), then the other components; new primes when d
  // is too small. A toolkit code.
  int GenerateModern(Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender) {
    KeyGenContext& c = *context_;
    const uint32_t half = c.modulusBits / 2;
    QN_BIGNUM difference{};
    int code = 0;
    bool again = true;
    while (code == 0 && again) {
      code = FindProbablePrime(half, &c.e, random, surrender, &c.p);
      bool apart = false;
      while (code == 0 && !apart) {
        code = FindProbablePrime(half, &c.e, random, surrender, &c.q);
        if (code != 0) break;
        if (QN_Compare(&c.p, &c.q) < 0) {
          QN_BIGNUM t = c.p;
          c.p = c.q;
          c.q = t;
        }
        const int status = QN_Subtract(&c.p, &c.q, &difference);
        if (status != QN_OK) code = MethodStatusToCode(ToMethod(status));
        apart = code == 0 && Above(difference, static_cast<int32_t>(half - kPrimeDistanceMargin));
      }
      if (code == 0 && Surrendered(surrender)) code = Q_ERR_CANCEL;
      if (code == 0) {
        const int status = DeriveModern(c, &again);
        if (status != QN_OK) code = MethodStatusToCode(ToMethod(status));
      }
    }
    QN_Release(&difference);
    return code;
  }

  // Both primes from the random buffer, then the other components. A method
  // status.
  int GeneratePrimes(Q_SURRENDER_CTX* surrender) {
    KeyGenContext& c = *context_;
    const uint32_t bits1 = (c.modulusBits + 1) / 2;
    const uint32_t bits2 = c.modulusBits - bits1;
    int status = FindPrime(bits1, &c.e, random_, &c.p);
    if (status != 0) return status;
    status = FindPrime(bits2, &c.e, random_ + (bits1 / 16) * 2 + 2, &c.q);
    if (status != 0) return status;
    // Equal primes make no key (q has no inverse modulo p): start again.
    const int order = QN_Compare(&c.p, &c.q);
    if (order == 0) return kRetryWithNewRandom;
    if (order < 0) {
      QN_BIGNUM t = c.p;
      c.p = c.q;
      c.q = t;
    }
    if (Surrendered(surrender)) return kStatusCancelled;
    return DeriveComponents(c);
  }

  // Writes the components into the output block and sets both key objects.
  int StoreKeys(Q_KeyObj* publicKey, Q_KeyObj* privateKey) {
    KeyGenContext& c = *context_;
    const uint32_t h = ((c.modulusBits + 1) / 2 + 7) / 8;
    const uint32_t m = (c.modulusBits + 7) / 8 + 1;
    const uint32_t size = 5 * h + 3 * m + 5;
    auto* block = static_cast<unsigned char*>(QMem_Allocate(size));
    if (block == nullptr) return Q_ERR_ALLOC;
    QMem_SecureRelease(c.output);
    c.output = block;
    c.outputSize = size;

    Q_RSA_PRIVATE_CRT_KEY key{};
    Q_ITEM* items[8] = {&key.modulus,          &key.publicExponent,   &key.privateExponent, &key.prime[0],
                        &key.prime[1],         &key.primeExponent[0], &key.primeExponent[1], &key.coefficient};
    const QN_BIGNUM* values[8] = {&c.n, &c.e, &c.d, &c.p, &c.q, &c.dP, &c.dQ, &c.qInv};
    unsigned char* at = block;
    for (int i = 0; i < 8; ++i) {
      const uint32_t room = i < 3 ? m : h + 1;
      uint32_t length = 0;
      int status = QN_ToBytes(values[i], room, &length, at);
      if (status != QN_OK) return MethodStatusToCode(ToMethod(status));
      *items[i] = Q_ITEM{at, length};
      at += room;
    }
    int status = Q_SetKeyInfo(privateKey, QK_RSAPrivateCRT, &key);
    void* publicForm = nullptr;
    if (status == 0) status = Q_GetKeyInfo(&publicForm, privateKey, QK_RSAPublic);
    if (status == 0) status = Q_SetKeyInfo(publicKey, QK_RSAPublic, publicForm);
    return status;
  }

  bool modern_;
  KeyGenContext* context_ = nullptr;
  unsigned char* random_ = nullptr;
  uint32_t randomLength_ = 0;
};

// Copies the parameters into the object, dropping the exponent's leading
// zero bytes.
int SetKeyGenInfo(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info) {
  const auto* params = static_cast<const Q_RSA_KEYGEN_PARAMS*>(info);
  if (params == nullptr || (params->publicExponent.data == nullptr && params->publicExponent.len != 0)) {
    return Q_ERR_INPUT_DATA;
  }
  auto* copy = static_cast<Q_RSA_KEYGEN_PARAMS*>(OwnedAllocate(&object->memory, sizeof(Q_RSA_KEYGEN_PARAMS)));
  if (copy == nullptr) return Q_ERR_ALLOC;
  uint32_t skip = 0;
  while (skip < params->publicExponent.len && params->publicExponent.data[skip] == 0) ++skip;
  const uint32_t length = params->publicExponent.len - skip;
  copy->modulusBits = params->modulusBits;
  copy->publicExponent.data = OwnedCopy(&object->memory, params->publicExponent.data + skip, length);
  if (copy->publicExponent.data == nullptr) return Q_ERR_ALLOC;
  copy->publicExponent.len = length;
  return InfoAppend(&object->memory, &object->infos, self, copy);
}

struct KeyGenDescriptor : AlgInfoDescriptor {
  bool modern;
};

Handler* CreateKeyGenHandler(const AlgInfoDescriptor* self, Q_AlgorithmObj*) {
  return QNew<RsaKeyGenHandler>(static_cast<const KeyGenDescriptor*>(self)->modern);
}

const AlgInfoOps kKeyGenInfoOps{SetKeyGenInfo, CreateKeyGenHandler, nullptr};
const KeyGenDescriptor kKeyGenDescriptor{{&kKeyGenInfoOps}, false};
const KeyGenDescriptor kModernKeyGenDescriptor{{&kKeyGenInfoOps}, true};
const int kKeyGenMethodOps = 0;

}  // namespace
}  // namespace qk

extern "C" {

const Q_ALGORITHM_METHOD QM_RSAKeyGen = {&qk::kTypeRSAKeyGen, 0, nullptr, &qk::kKeyGenMethodOps};

int QA_RSAKeyGen(const void** descriptor) {
  *descriptor = &qk::kKeyGenDescriptor;
  return 0;
}

int QA_RSAKeyGenModern(const void** descriptor) {
  *descriptor = &qk::kModernKeyGenDescriptor;
  return 0;
}

}  // extern "C"
