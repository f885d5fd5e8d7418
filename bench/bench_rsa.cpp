// RSA key-pair generation, signing and verification against the reference.
//
// keygen: each timed run makes several key pairs (ours from fixed seeds that
// change from pair to pair, the reference from its own generator), so that
// the rounds together cover at least 100 pairs of 1024 bits and 30 of 2048.
// sign/verify: SHA-1 PKCS #1 v1.5 of a short message with the same key on
// both sides; ours goes through the whole Q_ object sequence per signature,
// the reference through RSA_sign / RSA_verify on a digest it computes.
// keygen3072 and sign3072/sign4096 are the modern profile: keys from
// QA_RSAKeyGenModern (Miller-Rabin) and SHA-256 signatures.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio.h"
#include "cryptokit/cryptokit.h"

namespace {

const Q_ALGORITHM_METHOD* const kKeyGenChooser[] = {&QM_MD5,           &QM_MD5Random,        &QM_RSAKeyGen,
                                                     &QM_RSAPrivateEncrypt, &QM_RSAPublicDecrypt, nullptr};
const Q_ALGORITHM_METHOD* const kSignChooser[] = {&QM_RSAPublicEncrypt, &QM_RSAPrivateEncrypt, &QM_SHA1,
                                                  &QM_SHA256, nullptr};
const Q_ALGORITHM_METHOD* const kVerifyChooser[] = {&QM_RSAPublicDecrypt, &QM_RSAPrivateDecrypt, &QM_SHA1,
                                                    nullptr};

void Check(int status, const char* what) {
  if (status != 0) {
    std::fprintf(stderr, "bench_rsa: %s failed with %d\n", what, status);
    std::abort();
  }
}

// The classic profile below 3072 bits, the modern one from there on.
bool Modern(uint32_t bits) { return bits >= 3072; }

// Generates one key pair from |seed| into fresh key objects.
void OurKeyPair(uint32_t bits, uint32_t seed, Q_KEY_OBJ* pub, Q_KEY_OBJ* priv) {
  static const Q_ALGORITHM_METHOD* const randomChooser[] = {&QM_MD5Random, nullptr};
  unsigned char f4[] = {1, 0, 1};
  Q_RSA_KEYGEN_PARAMS params{bits, {f4, 3}};
  Q_ALGORITHM_OBJ random = nullptr, gen = nullptr;
  Check(Q_CreateAlgorithmObject(&random), "random");
  Check(Q_SetAlgorithmInfo(random, QA_MD5Random, nullptr), "random");
  Check(Q_RandomInit(random, randomChooser, nullptr), "random");
  Check(Q_RandomUpdate(random, reinterpret_cast<unsigned char*>(&seed), sizeof seed, nullptr), "seed");
  Check(Q_CreateAlgorithmObject(&gen), "keygen");
  Check(Q_SetAlgorithmInfo(gen, Modern(bits) ? QA_RSAKeyGenModern : QA_RSAKeyGen, &params), "keygen");
  Check(Q_GenerateInit(gen, kKeyGenChooser, nullptr), "keygen");
  Check(Q_CreateKeyObject(pub), "key");
  Check(Q_CreateKeyObject(priv), "key");
  Check(Q_GenerateKeypair(gen, *pub, *priv, random, nullptr), "keygen");
  Q_DestroyAlgorithmObject(&gen);
  Q_DestroyAlgorithmObject(&random);
}

bench::Comparison KeyGen(const char* name, uint32_t bits, int pairsPerRun) {
  auto seed = std::make_shared<uint32_t>(1);
  auto ours = [=] {
    for (int i = 0; i < pairsPerRun; ++i) {
      Q_KEY_OBJ pub = nullptr, priv = nullptr;
      OurKeyPair(bits, (*seed)++, &pub, &priv);
      Q_DestroyKeyObject(&pub);
      Q_DestroyKeyObject(&priv);
    }
  };
  auto reference = [=] {
    for (int i = 0; i < pairsPerRun; ++i) {
      EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
      EVP_PKEY* key = nullptr;
      if (ctx == nullptr || EVP_PKEY_keygen_init(ctx) <= 0 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, static_cast<int>(bits)) <= 0 ||
          EVP_PKEY_keygen(ctx, &key) <= 0) {
        std::abort();
      }
      EVP_PKEY_free(key);
      EVP_PKEY_CTX_free(ctx);
    }
  };
  return bench::Comparison{name, ours, reference};
}

// One key on both sides and a short message.
struct SigningSetup {
  Q_KEY_OBJ pub = nullptr, priv = nullptr;
  RSA* rsa = nullptr;
  std::vector<unsigned char> message{'t', 'o', '-', 'b', 'e', '-', 's', 'i', 'g', 'n', 'e', 'd'};
  std::vector<unsigned char> signature;

  uint32_t bits_;

  explicit SigningSetup(uint32_t bits) : bits_(bits) {
    OurKeyPair(bits, 777, &pub, &priv);
    void* info = nullptr;
    Check(Q_GetKeyInfo(&info, priv, QK_RSAPrivateBER), "export");
    auto* der = static_cast<Q_ITEM*>(info);
    const unsigned char* p = der->data;
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der->len));
    if (key == nullptr) std::abort();
    rsa = EVP_PKEY_get1_RSA(key);
    EVP_PKEY_free(key);
    signature.resize(bits / 8);
    SignOurs();
  }
  ~SigningSetup() {
    Q_DestroyKeyObject(&pub);
    Q_DestroyKeyObject(&priv);
    RSA_free(rsa);
  }
  SigningSetup(const SigningSetup&) = delete;
  SigningSetup& operator=(const SigningSetup&) = delete;

  void SignOurs() {
    Q_ALGORITHM_OBJ alg = nullptr;
    uint32_t len = 0;
    Check(Q_CreateAlgorithmObject(&alg), "sign");
    Check(Q_SetAlgorithmInfo(alg, Modern(bits_) ? QA_SHA256WithRSA : QA_SHA1WithRSA, nullptr), "sign");
    Check(Q_SignInit(alg, priv, kSignChooser, nullptr), "sign");
    Check(Q_SignUpdate(alg, message.data(), static_cast<uint32_t>(message.size()), nullptr), "sign");
    Check(Q_SignFinal(alg, signature.data(), &len, static_cast<uint32_t>(signature.size()), nullptr, nullptr),
          "sign");
    Q_DestroyAlgorithmObject(&alg);
  }
  void VerifyOurs() {
    Q_ALGORITHM_OBJ alg = nullptr;
    Check(Q_CreateAlgorithmObject(&alg), "verify");
    Check(Q_SetAlgorithmInfo(alg, QA_SHA1WithRSA, nullptr), "verify");
    Check(Q_VerifyInit(alg, pub, kVerifyChooser, nullptr), "verify");
    Check(Q_VerifyUpdate(alg, message.data(), static_cast<uint32_t>(message.size()), nullptr), "verify");
    Check(Q_VerifyFinal(alg, signature.data(), static_cast<uint32_t>(signature.size()), nullptr, nullptr),
          "verify");
    Q_DestroyAlgorithmObject(&alg);
  }
  void SignReference() {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    std::vector<unsigned char> sig(RSA_size(rsa));
    unsigned int len = 0;
    if (Modern(bits_)) {
      SHA256(message.data(), message.size(), digest);
      if (RSA_sign(NID_sha256, digest, SHA256_DIGEST_LENGTH, sig.data(), &len, rsa) != 1) std::abort();
    } else {
      SHA1(message.data(), message.size(), digest);
      if (RSA_sign(NID_sha1, digest, SHA_DIGEST_LENGTH, sig.data(), &len, rsa) != 1) std::abort();
    }
    if (sig != signature) {
      std::fprintf(stderr, "bench_rsa: signatures differ\n");
      std::abort();
    }
  }
  void VerifyReference() {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(message.data(), message.size(), digest);
    if (RSA_verify(NID_sha1, digest, sizeof digest, signature.data(), static_cast<unsigned>(signature.size()),
                   rsa) != 1) {
      std::abort();
    }
  }
};

bench::Comparison Sign(const char* name, uint32_t bits) {
  auto s = std::make_shared<SigningSetup>(bits);
  return bench::Comparison{name, [s] { s->SignOurs(); }, [s] { s->SignReference(); }};
}
bench::Comparison Verify(const char* name, uint32_t bits) {
  auto s = std::make_shared<SigningSetup>(bits);
  return bench::Comparison{name, [s] { s->VerifyOurs(); }, [s] { s->VerifyReference(); }};
}

}  // namespace

KVCA_BENCHMARK(keygen1024) { return KeyGen("keygen1024", 1024, 12); }
KVCA_BENCHMARK(keygen2048) { return KeyGen("keygen2048", 2048, 4); }
KVCA_BENCHMARK(sign1024) { return Sign("sign1024", 1024); }
KVCA_BENCHMARK(sign2048) { return Sign("sign2048", 2048); }
KVCA_BENCHMARK(keygen3072) { return KeyGen("keygen3072", 3072, 4); }
KVCA_BENCHMARK(sign3072) { return Sign("sign3072", 3072); }
KVCA_BENCHMARK(sign4096) { return Sign("sign4096", 4096); }
KVCA_BENCHMARK(verify1024) { return Verify("verify1024", 1024); }
KVCA_BENCHMARK(verify2048) { return Verify("verify2048", 2048); }
