// RSA key-pair generation: sizes, component relations (checked with GMP),
// determinism, which random bytes make which prime, statuses, allocation
// failure, wiping, and what the openssl command line makes of our keys.
#include <gmp.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cryptokit/core/objects.h"
#include "cryptokit/cryptokit.h"
#include "cryptokit/keygen/prime_search.h"
#include "support/hex.h"
#include "support/memory_hooks.h"
#include "support/openssl_cli.h"

namespace {

using testsupport::Bytes;

const Q_ALGORITHM_METHOD* const kKeyGenChooser[] = {&QM_MD5,           &QM_MD5Random,        &QM_RSAKeyGen,
                                                     &QM_RSAPrivateEncrypt, &QM_RSAPublicDecrypt, nullptr};
const Q_ALGORITHM_METHOD* const kRandomChooser[] = {&QM_MD5Random, nullptr};
unsigned char kF4[] = {0x01, 0x00, 0x01};

// A random object seeded once with |seed|.
struct SeededRandom {
  explicit SeededRandom(const std::string& seed) {
    EXPECT_EQ(Q_CreateAlgorithmObject(&obj), 0);
    EXPECT_EQ(Q_SetAlgorithmInfo(obj, QA_MD5Random, nullptr), 0);
    EXPECT_EQ(Q_RandomInit(obj, kRandomChooser, nullptr), 0);
    EXPECT_EQ(Q_RandomUpdate(obj, reinterpret_cast<const unsigned char*>(seed.data()),
                             static_cast<uint32_t>(seed.size()), nullptr),
              0);
  }
  ~SeededRandom() { Q_DestroyAlgorithmObject(&obj); }
  Q_ALGORITHM_OBJ obj = nullptr;
};

struct KeyPair {
  Q_KEY_OBJ pub = nullptr;
  Q_KEY_OBJ priv = nullptr;
  ~KeyPair() {
    Q_DestroyKeyObject(&pub);
    Q_DestroyKeyObject(&priv);
  }
  const Q_RSA_PRIVATE_CRT_KEY* Crt() const {
    void* info = nullptr;
    EXPECT_EQ(Q_GetKeyInfo(&info, priv, QK_RSAPrivateCRT), 0);
    return static_cast<const Q_RSA_PRIVATE_CRT_KEY*>(info);
  }
  Bytes Der(Q_KEY_OBJ key, Q_INFO_TYPE type) const {
    void* info = nullptr;
    EXPECT_EQ(Q_GetKeyInfo(&info, key, type), 0);
    auto* item = static_cast<Q_ITEM*>(info);
    return item == nullptr ? Bytes{} : Bytes(item->data, item->data + item->len);
  }
};

// Runs the whole generation; returns the first failing status.
int Generate(uint32_t bits, Q_ITEM exponent, Q_ALGORITHM_OBJ random, KeyPair* pair) {
  Q_ALGORITHM_OBJ gen = nullptr;
  Q_RSA_KEYGEN_PARAMS params{bits, exponent};
  int status = Q_CreateAlgorithmObject(&gen);
  if (status == 0) status = Q_SetAlgorithmInfo(gen, QA_RSAKeyGen, &params);
  if (status == 0) status = Q_GenerateInit(gen, kKeyGenChooser, nullptr);
  if (status == 0) status = Q_CreateKeyObject(&pair->pub);
  if (status == 0) status = Q_CreateKeyObject(&pair->priv);
  if (status == 0) status = Q_GenerateKeypair(gen, pair->pub, pair->priv, random, nullptr);
  Q_DestroyAlgorithmObject(&gen);
  return status;
}

struct Mpz {
  mpz_t v;
  Mpz() { mpz_init(v); }
  explicit Mpz(const Q_ITEM& item) {
    mpz_init(v);
    mpz_import(v, item.len, 1, 1, 1, 0, item.data);
  }
  ~Mpz() { mpz_clear(v); }
};

TEST(RsaKeyGen, SizesAndComponentRelations) {
  for (uint32_t bits : {256u, 512u, 1024u, 1025u, 2048u}) {
    SCOPED_TRACE(bits);
    SeededRandom random("sizes " + std::to_string(bits));
    KeyPair pair;
    ASSERT_EQ(Generate(bits, Q_ITEM{kF4, 3}, random.obj, &pair), 0);
    const Q_RSA_PRIVATE_CRT_KEY& k = *pair.Crt();
    Mpz n(k.modulus), e(k.publicExponent), d(k.privateExponent), p(k.prime[0]), q(k.prime[1]);
    Mpz dP(k.primeExponent[0]), dQ(k.primeExponent[1]), qInv(k.coefficient), t, p1, q1, phi;
    EXPECT_EQ(mpz_sizeinbase(n.v, 2), bits);
    EXPECT_EQ(mpz_sizeinbase(p.v, 2), (bits + 1) / 2);
    EXPECT_EQ(mpz_sizeinbase(q.v, 2), bits - (bits + 1) / 2);
    EXPECT_GT(mpz_cmp(p.v, q.v), 0) << "prime 1 is the larger";
    EXPECT_NE(mpz_probab_prime_p(p.v, 30), 0);
    EXPECT_NE(mpz_probab_prime_p(q.v, 30), 0);
    mpz_mul(t.v, p.v, q.v);
    EXPECT_EQ(mpz_cmp(t.v, n.v), 0);
    mpz_sub_ui(p1.v, p.v, 1);
    mpz_sub_ui(q1.v, q.v, 1);
    mpz_mul(phi.v, p1.v, q1.v);
    mpz_mul(t.v, e.v, d.v);
    mpz_mod(t.v, t.v, phi.v);
    EXPECT_EQ(mpz_cmp_ui(t.v, 1), 0) << "e * d = 1 mod phi";
    mpz_mod(t.v, d.v, p1.v);
    EXPECT_EQ(mpz_cmp(t.v, dP.v), 0);
    mpz_mod(t.v, d.v, q1.v);
    EXPECT_EQ(mpz_cmp(t.v, dQ.v), 0);
    mpz_mul(t.v, qInv.v, q.v);
    mpz_mod(t.v, t.v, p.v);
    EXPECT_EQ(mpz_cmp_ui(t.v, 1), 0) << "coefficient * prime 2 = 1 mod prime 1";

    void* info = nullptr;
    ASSERT_EQ(Q_GetKeyInfo(&info, pair.pub, QK_RSAPublic), 0);
    auto* pub = static_cast<Q_RSA_PUBLIC_KEY*>(info);
    EXPECT_EQ(Bytes(pub->modulus.data, pub->modulus.data + pub->modulus.len),
              Bytes(k.modulus.data, k.modulus.data + k.modulus.len));
  }
}

TEST(RsaKeyGen, SameRandomBytesSameKeys) {
  SeededRandom r1("determinism"), r2("determinism"), r3("other");
  KeyPair a, b, c;
  ASSERT_EQ(Generate(512, Q_ITEM{kF4, 3}, r1.obj, &a), 0);
  ASSERT_EQ(Generate(512, Q_ITEM{kF4, 3}, r2.obj, &b), 0);
  ASSERT_EQ(Generate(512, Q_ITEM{kF4, 3}, r3.obj, &c), 0);
  EXPECT_EQ(a.Der(a.priv, QK_RSAPrivateBER), b.Der(b.priv, QK_RSAPrivateBER));
  EXPECT_NE(a.Der(a.priv, QK_RSAPrivateBER), c.Der(c.priv, QK_RSAPrivateBER));
}

// A random source that hands out a scripted first buffer and then a plain
// counter stream; for seeing which bytes the generator uses.
class ScriptedRandom final : public qk::RandomHandler {
 public:
  static Bytes script;
  int Init(Q_AlgorithmObj*, Q_CHOOSER, Q_SURRENDER_CTX*) override { return 0; }
  int Update(const unsigned char*, uint32_t, Q_SURRENDER_CTX*) override { return 0; }
  int Generate(unsigned char* out, uint32_t n, Q_SURRENDER_CTX*) override {
    for (uint32_t i = 0; i < n; ++i, ++served_) {
      out[i] = served_ < script.size() ? script[served_] : static_cast<unsigned char>(served_ * 131 + 7);
    }
    return 0;
  }

 private:
  size_t served_ = 0;
};
Bytes ScriptedRandom::script;
qk::Handler* CreateScripted(const qk::AlgInfoDescriptor*, Q_AlgorithmObj*) { return QNew<ScriptedRandom>(); }
const qk::AlgInfoOps kScriptedOps{qk::SetInfoNoParameters, CreateScripted, nullptr};
const qk::AlgInfoDescriptor kScriptedDescriptor{&kScriptedOps};
int Scripted(const void** d) {
  *d = &kScriptedDescriptor;
  return 0;
}

Bytes KeyFromScript(const Bytes& script) {
  ScriptedRandom::script = script;
  Q_ALGORITHM_OBJ random = nullptr;
  EXPECT_EQ(Q_CreateAlgorithmObject(&random), 0);
  EXPECT_EQ(Q_SetAlgorithmInfo(random, Scripted, nullptr), 0);
  EXPECT_EQ(Q_RandomInit(random, kRandomChooser, nullptr), 0);
  KeyPair pair;
  EXPECT_EQ(Generate(1024, Q_ITEM{kF4, 3}, random, &pair), 0);
  Q_DestroyAlgorithmObject(&random);
  return pair.Der(pair.priv, QK_RSAPrivateBER);
}

// With 1024 bits the generator draws 132 bytes: the first prime comes from
// bytes 0 to 63, the second from bytes 66 to 129; bytes 64, 65, 130 and 131
// are not used.
TEST(RsaKeyGen, WhichRandomBytesMakeThePrimes) {
  Bytes script(132);
  for (size_t i = 0; i < script.size(); ++i) script[i] = static_cast<unsigned char>(i * 37 + 11);
  const Bytes base = KeyFromScript(script);
  for (size_t unused : {64u, 65u, 130u, 131u}) {
    Bytes changed = script;
    changed[unused] ^= 0x5A;
    EXPECT_EQ(KeyFromScript(changed), base) << "byte " << unused << " must not matter";
  }
  for (size_t used : {0u, 63u, 66u, 129u}) {
    Bytes changed = script;
    changed[used] ^= 0x5A;
    EXPECT_NE(KeyFromScript(changed), base) << "byte " << used << " must matter";
  }
}

// When both primes come from the same bytes they are equal, which makes no
// key: the generator draws fresh bytes and starts again with both primes.
TEST(RsaKeyGen, EqualPrimesStartAgain) {
  Bytes script(132);
  for (size_t i = 0; i < 64; ++i) script[i] = script[66 + i] = static_cast<unsigned char>(i * 29 + 3);
  ScriptedRandom::script = script;
  Q_ALGORITHM_OBJ random = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&random), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(random, Scripted, nullptr), 0);
  ASSERT_EQ(Q_RandomInit(random, kRandomChooser, nullptr), 0);
  KeyPair pair;
  EXPECT_EQ(Generate(1024, Q_ITEM{kF4, 3}, random, &pair), 0);
  Q_DestroyAlgorithmObject(&random);
  const Q_RSA_PRIVATE_CRT_KEY* crt = pair.Crt();
  ASSERT_NE(crt, nullptr);
  Mpz p(crt->prime[0]), q(crt->prime[1]), n(crt->modulus), pq;
  EXPECT_GT(mpz_cmp(p.v, q.v), 0);
  mpz_mul(pq.v, p.v, q.v);
  EXPECT_EQ(mpz_cmp(pq.v, n.v), 0);
  EXPECT_EQ(mpz_sizeinbase(n.v, 2), 1024u);
}

TEST(RsaKeyGen, RefusedParameters) {
  unsigned char four[] = {0x04};
  unsigned char zeroPaddedF4[] = {0x00, 0x00, 0x01, 0x00, 0x01};
  std::vector<unsigned char> longExponent(32, 0xFF);  // 256 bits: as long as a 256-bit modulus
  struct Row {
    uint32_t bits;
    Q_ITEM exponent;
    int expected;
  };
  const Row rows[] = {
      {255, {kF4, 3}, Q_ERR_MODULUS_LEN},
      {2049, {kF4, 3}, Q_ERR_MODULUS_LEN},
      {1024, {four, 1}, Q_ERR_EXPONENT_EVEN},
      {256, {longExponent.data(), 32}, Q_ERR_EXPONENT_LEN},
      {256, {zeroPaddedF4, 5}, 0},
  };
  for (const Row& row : rows) {
    Q_ALGORITHM_OBJ gen = nullptr;
    Q_RSA_KEYGEN_PARAMS params{row.bits, row.exponent};
    ASSERT_EQ(Q_CreateAlgorithmObject(&gen), 0);
    ASSERT_EQ(Q_SetAlgorithmInfo(gen, QA_RSAKeyGen, &params), 0);
    EXPECT_EQ(Q_GenerateInit(gen, kKeyGenChooser, nullptr), row.expected) << row.bits;
    Q_DestroyAlgorithmObject(&gen);
  }
}

TEST(RsaKeyGen, KeyObjectsAndRandomObjectChecks) {
  Q_ALGORITHM_OBJ gen = nullptr, unseeded = nullptr;
  Q_RSA_KEYGEN_PARAMS params{256, {kF4, 3}};
  ASSERT_EQ(Q_CreateAlgorithmObject(&gen), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(gen, QA_RSAKeyGen, &params), 0);
  KeyPair pair;
  ASSERT_EQ(Q_CreateKeyObject(&pair.pub), 0);
  ASSERT_EQ(Q_CreateKeyObject(&pair.priv), 0);
  SeededRandom random("checks");
  EXPECT_EQ(Q_GenerateKeypair(gen, pair.pub, pair.priv, random.obj, nullptr), Q_ERR_NOT_INITIALIZED);
  ASSERT_EQ(Q_GenerateInit(gen, kKeyGenChooser, nullptr), 0);
  EXPECT_EQ(Q_GenerateKeypair(gen, pair.pub, pair.priv, nullptr, nullptr), Q_ERR_RANDOM_OBJ);
  ASSERT_EQ(Q_CreateAlgorithmObject(&unseeded), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(unseeded, QA_MD5Random, nullptr), 0);
  EXPECT_EQ(Q_GenerateKeypair(gen, pair.pub, pair.priv, unseeded, nullptr), Q_ERR_RANDOM_NOT_INITIALIZED);
  ASSERT_EQ(Q_GenerateKeypair(gen, pair.pub, pair.priv, random.obj, nullptr), 0);
  EXPECT_EQ(Q_GenerateKeypair(gen, pair.pub, pair.priv, random.obj, nullptr), Q_ERR_KEY_ALREADY_SET);
  Q_DestroyAlgorithmObject(&unseeded);
  Q_DestroyAlgorithmObject(&gen);
}

TEST(RsaKeyGen, SievePrimesAreTheOddPrimesBelow64515) {
  int count = 0;
  const uint16_t* primes = qk::SmallSievePrimes(&count);
  std::vector<bool> composite(64515, false);
  std::vector<uint16_t> expected;
  for (uint32_t i = 2; i < 64515; ++i) {
    if (composite[i]) continue;
    if (i > 2) expected.push_back(static_cast<uint16_t>(i));
    for (uint32_t j = i * i; j < 64515; j += i) composite[j] = true;
  }
  EXPECT_EQ(std::vector<uint16_t>(primes, primes + count), expected);
}

TEST(RsaKeyGen, AllocationFailureAndWiping) {
  testsupport::ForEachAllocationFailure(
      [] {
        const unsigned char seed[] = "allocation failure";
        Q_ALGORITHM_OBJ random = nullptr;
        int status = Q_CreateAlgorithmObject(&random);
        if (status == 0) status = Q_SetAlgorithmInfo(random, QA_MD5Random, nullptr);
        if (status == 0) status = Q_RandomInit(random, kRandomChooser, nullptr);
        if (status == 0) status = Q_RandomUpdate(random, seed, sizeof seed, nullptr);
        KeyPair pair;
        if (status == 0) status = Generate(512, Q_ITEM{kF4, 3}, random, &pair);
        Q_DestroyAlgorithmObject(&random);
        return status;
      },
      [](int status, const testsupport::MemoryWatch& watch) {
        ASSERT_EQ(status, Q_ERR_ALLOC);
        ASSERT_EQ(watch.leakedBlocks(), 0);
      });
  testsupport::MemoryWatch watch;
  {
    SeededRandom random("wiping");
    KeyPair pair;
    ASSERT_EQ(Generate(512, Q_ITEM{kF4, 3}, random.obj, &pair), 0);
    pair.Der(pair.priv, QK_RSAPrivateBER);
    pair.Der(pair.pub, QK_RSAPublicBER);
  }
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

TEST(RsaKeyGen, OpensslAcceptsOurKeys) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is not installed";
  testsupport::ScratchDir dir;
  for (uint32_t bits : {1024u, 2048u}) {
    SeededRandom random("openssl " + std::to_string(bits));
    KeyPair pair;
    ASSERT_EQ(Generate(bits, Q_ITEM{kF4, 3}, random.obj, &pair), 0);
    ASSERT_TRUE(testsupport::WriteFile(dir.File("priv.der"), pair.Der(pair.priv, QK_RSAPrivateBER)));
    ASSERT_TRUE(testsupport::WriteFile(dir.File("pub.der"), pair.Der(pair.pub, QK_RSAPublicBER)));
    EXPECT_TRUE(testsupport::Run("openssl pkey -inform DER -in " + dir.File("priv.der") + " -check -noout"));
    EXPECT_TRUE(testsupport::Run("openssl pkey -pubin -inform DER -in " + dir.File("pub.der") + " -noout"));
    // The public key openssl derives from our private key is ours, byte for byte.
    ASSERT_TRUE(testsupport::Run("openssl pkey -inform DER -in " + dir.File("priv.der") +
                                 " -pubout -outform DER -out " + dir.File("derived.der")));
    Bytes derived, ours;
    ASSERT_TRUE(testsupport::ReadFile(dir.File("derived.der"), &derived));
    ASSERT_TRUE(testsupport::ReadFile(dir.File("pub.der"), &ours));
    EXPECT_EQ(derived, ours);
  }
}

}  // namespace
