// RSA key-pair generation: the QA_RSAKeyGen info type, its method record and
// its handler. The private key object receives QK_RSAPrivateCRT (with the RSA
// components record), the public key object QK_RSAPublic.
#include "cryptokit/bignum.h"
#include "cryptokit/core/objects.h"
#include "cryptokit/keygen/prime_search.h"

namespace qk {
namespace {

constexpr uint32_t kMinModulusBits = 256;
constexpr uint32_t kMaxModulusBits = 2048;

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

class RsaKeyGenHandler final : public KeyGenerationHandler {
 public:
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
    if (bits < kMinModulusBits || bits > kMaxModulusBits) return MethodStatusToCode(kStatusModulusSize);
    const uint32_t randomLength = (bits + 1) / 32 * 4 + 4;
    auto* context = QNew<KeyGenContext>();
    auto* buffer = static_cast<unsigned char*>(QMem_Allocate(randomLength));
    if (context == nullptr || buffer == nullptr) {
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

Handler* CreateKeyGenHandler(const AlgInfoDescriptor*, Q_AlgorithmObj*) { return QNew<RsaKeyGenHandler>(); }

const AlgInfoOps kKeyGenInfoOps{SetKeyGenInfo, CreateKeyGenHandler, nullptr};
const AlgInfoDescriptor kKeyGenDescriptor{&kKeyGenInfoOps};
const int kKeyGenMethodOps = 0;

}  // namespace
}  // namespace qk

extern "C" {

const Q_ALGORITHM_METHOD QM_RSAKeyGen = {&qk::kTypeRSAKeyGen, 0, nullptr, &qk::kKeyGenMethodOps};

int QA_RSAKeyGen(const void** descriptor) {
  *descriptor = &qk::kKeyGenDescriptor;
  return 0;
}

}  // extern "C"
