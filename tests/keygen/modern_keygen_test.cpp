// Modern RSA key generation (QA_RSAKeyGenModern): Miller-Rabin against known
// primes and composites, the FIPS 186-5 relations of generated keys (checked
// with GMP), refused parameters, the classic generation left as it was, and
// what openssl rsa -check makes of the keys.
#include <gmp.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cryptokit/bignum.h"
#include "cryptokit/cryptokit.h"
#include "cryptokit/keygen/probable_prime.h"
#include "support/hex.h"
#include "support/memory_hooks.h"
#include "support/openssl_cli.h"

namespace {

using testsupport::Bytes;

const Q_ALGORITHM_METHOD* const kChooser[] = {&QM_MD5Random, &QM_RSAKeyGen, nullptr};
unsigned char kF4[] = {0x01, 0x00, 0x01};

struct Random {
  explicit Random(const std::string& seed) {
    EXPECT_EQ(Q_CreateAlgorithmObject(&obj), 0);
    EXPECT_EQ(Q_SetAlgorithmInfo(obj, QA_MD5Random, nullptr), 0);
    EXPECT_EQ(Q_RandomInit(obj, kChooser, nullptr), 0);
    EXPECT_EQ(Q_RandomUpdate(obj, reinterpret_cast<const unsigned char*>(seed.data()),
                             static_cast<uint32_t>(seed.size()), nullptr),
              0);
  }
  ~Random() { Q_DestroyAlgorithmObject(&obj); }
  Q_ALGORITHM_OBJ obj = nullptr;
};

struct Pair {
  Q_KEY_OBJ pub = nullptr, priv = nullptr;
  ~Pair() {
    Q_DestroyKeyObject(&pub);
    Q_DestroyKeyObject(&priv);
  }
  const Q_RSA_PRIVATE_CRT_KEY* Crt() const {
    void* info = nullptr;
    EXPECT_EQ(Q_GetKeyInfo(&info, priv, QK_RSAPrivateCRT), 0);
    return static_cast<const Q_RSA_PRIVATE_CRT_KEY*>(info);
  }
  Bytes Der() const {
    void* info = nullptr;
    EXPECT_EQ(Q_GetKeyInfo(&info, priv, QK_RSAPrivateBER), 0);
    auto* item = static_cast<Q_ITEM*>(info);
    return item == nullptr ? Bytes{} : Bytes(item->data, item->data + item->len);
  }
};

int Generate(Q_INFO_TYPE type, uint32_t bits, Q_ITEM exponent, Q_ALGORITHM_OBJ random, Pair* pair,
             Q_SURRENDER_CTX* surrender = nullptr) {
  Q_ALGORITHM_OBJ gen = nullptr;
  Q_RSA_KEYGEN_PARAMS params{bits, exponent};
  int status = Q_CreateAlgorithmObject(&gen);
  if (status == 0) status = Q_SetAlgorithmInfo(gen, type, &params);
  if (status == 0) status = Q_GenerateInit(gen, kChooser, nullptr);
  if (status == 0) status = Q_CreateKeyObject(&pair->pub);
  if (status == 0) status = Q_CreateKeyObject(&pair->priv);
  if (status == 0) status = Q_GenerateKeypair(gen, pair->pub, pair->priv, random, surrender);
  Q_DestroyAlgorithmObject(&gen);
  return status;
}

struct Z {
  mpz_t v;
  Z() { mpz_init(v); }
  explicit Z(const Q_ITEM& item) {
    mpz_init(v);
    mpz_import(v, item.len, 1, 1, 1, 0, item.data);
  }
  explicit Z(const char* decimal) { mpz_init_set_str(v, decimal, 10); }
  ~Z() { mpz_clear(v); }
  Z(const Z&) = delete;
  Z& operator=(const Z&) = delete;
};

// Runs our Miller-Rabin on |value| with 5 rounds.
bool OursSaysPrime(const mpz_t value, Q_ALGORITHM_OBJ random) {
  size_t count = 0;
  unsigned char* data = static_cast<unsigned char*>(mpz_export(nullptr, &count, 1, 1, 1, 0, value));
  QN_BIGNUM w{};
  EXPECT_EQ(QN_FromBytes(data, static_cast<uint32_t>(count), &w), 0);
  free(data);
  bool prime = false;
  EXPECT_EQ(qk::MillerRabin(&w, qk::kMillerRabinRounds, random, nullptr, &prime), 0);
  QN_Release(&w);
  return prime;
}

// Primes, among them Mersenne primes of several sizes, and composites that
// fool weaker tests: Carmichael numbers (every coprime base passes Fermat)
// and strong pseudoprimes to the first several prime bases.
TEST(MillerRabin, KnownPrimesAndComposites) {
  struct Row {
    const char* value;  // decimal, or "2^k-1"
    bool prime;
  };
  const Row rows[] = {
      {"5", true},
      {"7", true},
      {"65537", true},
      {"2^61-1", true},
      {"2^127-1", true},
      {"2^521-1", true},
      {"2^1279-1", true},
      {"2^2203-1", true},
      {"9", false},
      {"2^67-1", false},  // 193707721 * 761838257287
      {"2^1277-1", false},
      {"561", false},  // Carmichael numbers
      {"1105", false},
      {"1729", false},
      {"41041", false},
      {"825265", false},
      {"2047", false},  // strong pseudoprimes to base 2
      {"3277", false},
      {"4033", false},
      {"3215031751", false},                // to bases 2, 3, 5 and 7
      {"3825123056546413051", false},       // to every prime base up to 23
      {"318665857834031151167461", false},  // to every prime base up to 37
  };
  Random random("miller-rabin");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    Z value;
    const std::string text = row.value;
    if (text.rfind("2^", 0) == 0) {
      mpz_ui_pow_ui(value.v, 2, std::stoul(text.substr(2)));
      mpz_sub_ui(value.v, value.v, 1);
    } else {
      mpz_set_str(value.v, row.value, 10);
    }
    ASSERT_EQ(mpz_probab_prime_p(value.v, 40) != 0, row.prime) << "the table itself";
    EXPECT_EQ(OursSaysPrime(value.v, random.obj), row.prime);
  }
  // Products of two large primes and a prime squared.
  Z p, q, n;
  mpz_ui_pow_ui(p.v, 2, 700);
  mpz_nextprime(p.v, p.v);
  mpz_ui_pow_ui(q.v, 3, 400);
  mpz_nextprime(q.v, q.v);
  mpz_mul(n.v, p.v, q.v);
  EXPECT_FALSE(OursSaysPrime(n.v, random.obj));
  mpz_mul(n.v, p.v, p.v);
  EXPECT_FALSE(OursSaysPrime(n.v, random.obj));
  EXPECT_TRUE(OursSaysPrime(p.v, random.obj));
}

// Even numbers and numbers below 5 have no valid base range: refused.
TEST(MillerRabin, RefusesWhatItCannotTest) {
  Random random("refused");
  for (uint32_t value : {0u, 1u, 2u, 3u, 4u, 100u}) {
    QN_BIGNUM w{};
    ASSERT_EQ(QN_SetWord(value, &w), 0);
    bool prime = true;
    EXPECT_EQ(qk::MillerRabin(&w, 5, random.obj, nullptr, &prime), Q_ERR_INPUT_DATA) << value;
    EXPECT_FALSE(prime);
    QN_Release(&w);
  }
}

// Sizes exact, p * q = n, both primes with their top two bits set and
// gcd(e, prime - 1) = 1, |p - q| > 2^(nlen/2 - 100), e * d = 1 mod lambda(n)
// with 2^(nlen/2) < d < lambda(n), and the CRT components.
TEST(ModernKeyGen, KeysMeetTheRelations) {
  for (uint32_t bits : {2048u, 3072u, 4096u}) {
    SCOPED_TRACE(bits);
    Random random("modern " + std::to_string(bits));
    Pair pair;
    ASSERT_EQ(Generate(QA_RSAKeyGenModern, bits, Q_ITEM{kF4, 3}, random.obj, &pair), 0);
    const Q_RSA_PRIVATE_CRT_KEY& k = *pair.Crt();
    Z n(k.modulus), e(k.publicExponent), d(k.privateExponent), p(k.prime[0]), q(k.prime[1]);
    Z dP(k.primeExponent[0]), dQ(k.primeExponent[1]), qInv(k.coefficient), t, p1, q1, lambda, bound;
    EXPECT_EQ(mpz_sizeinbase(n.v, 2), bits);
    for (mpz_ptr prime : {p.v, q.v}) {
      EXPECT_EQ(mpz_sizeinbase(prime, 2), bits / 2);
      EXPECT_NE(mpz_tstbit(prime, bits / 2 - 2), 0u) << "second bit from the top";
      EXPECT_NE(mpz_probab_prime_p(prime, 40), 0);
    }
    EXPECT_GT(mpz_cmp(p.v, q.v), 0);
    mpz_mul(t.v, p.v, q.v);
    EXPECT_EQ(mpz_cmp(t.v, n.v), 0);
    mpz_sub(t.v, p.v, q.v);
    mpz_ui_pow_ui(bound.v, 2, bits / 2 - 100);
    EXPECT_GT(mpz_cmp(t.v, bound.v), 0) << "|p - q| > 2^(nlen/2 - 100)";
    mpz_sub_ui(p1.v, p.v, 1);
    mpz_sub_ui(q1.v, q.v, 1);
    mpz_gcd(t.v, e.v, p1.v);
    EXPECT_EQ(mpz_cmp_ui(t.v, 1), 0);
    mpz_gcd(t.v, e.v, q1.v);
    EXPECT_EQ(mpz_cmp_ui(t.v, 1), 0);
    mpz_lcm(lambda.v, p1.v, q1.v);
    mpz_mul(t.v, e.v, d.v);
    mpz_mod(t.v, t.v, lambda.v);
    EXPECT_EQ(mpz_cmp_ui(t.v, 1), 0) << "e * d = 1 mod lambda(n)";
    EXPECT_LT(mpz_cmp(d.v, lambda.v), 0) << "d below lambda(n)";
    mpz_ui_pow_ui(bound.v, 2, bits / 2);
    EXPECT_GT(mpz_cmp(d.v, bound.v), 0) << "d above 2^(nlen/2)";
    mpz_mod(t.v, d.v, p1.v);
    EXPECT_EQ(mpz_cmp(t.v, dP.v), 0);
    mpz_mod(t.v, d.v, q1.v);
    EXPECT_EQ(mpz_cmp(t.v, dQ.v), 0);
    mpz_mul(t.v, qInv.v, q.v);
    mpz_mod(t.v, t.v, p.v);
    EXPECT_EQ(mpz_cmp_ui(t.v, 1), 0);
  }
}

TEST(ModernKeyGen, RefusedParameters) {
  unsigned char three[] = {0x03};
  unsigned char even[] = {0x01, 0x00, 0x02};
  unsigned char f0[] = {0x01, 0x01};               // 257: not above 2^16
  std::vector<unsigned char> tooLong(33, 0x00);    // 2^256 + 1
  std::vector<unsigned char> longest(32, 0xFF);    // 2^256 - 1
  tooLong[0] = 0x01;
  tooLong[32] = 0x01;
  struct Row {
    uint32_t bits;
    Q_ITEM exponent;
    int expected;
  };
  const Row rows[] = {
      {1024, {kF4, 3}, Q_ERR_MODULUS_LEN},
      {2047, {kF4, 3}, Q_ERR_MODULUS_LEN},
      {2560, {kF4, 3}, Q_ERR_MODULUS_LEN},
      {4097, {kF4, 3}, Q_ERR_MODULUS_LEN},
      {8192, {kF4, 3}, Q_ERR_MODULUS_LEN},
      {2048, {three, 1}, Q_ERR_EXPONENT_LEN},
      {2048, {f0, 2}, Q_ERR_EXPONENT_LEN},
      {2048, {tooLong.data(), 33}, Q_ERR_EXPONENT_LEN},
      {2048, {even, 3}, Q_ERR_EXPONENT_EVEN},
      {2048, {longest.data(), 32}, 0},
      {3072, {kF4, 3}, 0},
  };
  for (const Row& row : rows) {
    Q_ALGORITHM_OBJ gen = nullptr;
    Q_RSA_KEYGEN_PARAMS params{row.bits, row.exponent};
    ASSERT_EQ(Q_CreateAlgorithmObject(&gen), 0);
    ASSERT_EQ(Q_SetAlgorithmInfo(gen, QA_RSAKeyGenModern, &params), 0);
    EXPECT_EQ(Q_GenerateInit(gen, kChooser, nullptr), row.expected) << row.bits << " bits";
    Q_DestroyAlgorithmObject(&gen);
  }
  // The classic generation keeps its own limits.
  Q_ALGORITHM_OBJ gen = nullptr;
  Q_RSA_KEYGEN_PARAMS params{3072, {kF4, 3}};
  ASSERT_EQ(Q_CreateAlgorithmObject(&gen), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(gen, QA_RSAKeyGen, &params), 0);
  EXPECT_EQ(Q_GenerateInit(gen, kChooser, nullptr), Q_ERR_MODULUS_LEN);
  Q_DestroyAlgorithmObject(&gen);
}

int StopAtOnce(void*) { return 1; }

TEST(ModernKeyGen, SurrenderStopsAndNothingIsLeftUnwiped) {
  testsupport::MemoryWatch watch;
  {
    Random random("surrender");
    Pair pair;
    Q_SURRENDER_CTX stop{StopAtOnce, nullptr};
    EXPECT_EQ(Generate(QA_RSAKeyGenModern, 2048, Q_ITEM{kF4, 3}, random.obj, &pair, &stop), Q_ERR_CANCEL);
    void* info = nullptr;
    EXPECT_EQ(Q_GetKeyInfo(&info, pair.priv, QK_RSAPrivateCRT), Q_ERR_KEY_NOT_SET);
    Pair good;
    ASSERT_EQ(Generate(QA_RSAKeyGenModern, 2048, Q_ITEM{kF4, 3}, random.obj, &good), 0);
    good.Der();
  }
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

// The modulus the classic generation made from the seed "pinned classic key"
// at 512 bits before the modern generation was added.
const char kPinnedClassicModulus[] =
    "9eb4a3398e31ad8dd0c475c03d0e8f88a00cbf2caf4eeb3d8f501ae34008d690"
    "373c31c3afa4eae23d709811601b70fd36f34403f80ebf71407fb6be987d2a69";

// The same random stream gives the same modern key, and the classic
// generation still gives the key it always gave for a given seed.
TEST(ModernKeyGen, DeterminismAndTheClassicKeyUnchanged) {
  Random r1("same"), r2("same");
  Pair a, b;
  ASSERT_EQ(Generate(QA_RSAKeyGenModern, 2048, Q_ITEM{kF4, 3}, r1.obj, &a), 0);
  ASSERT_EQ(Generate(QA_RSAKeyGenModern, 2048, Q_ITEM{kF4, 3}, r2.obj, &b), 0);
  EXPECT_EQ(a.Der(), b.Der());

  Random classic("pinned classic key");
  Pair pinned;
  ASSERT_EQ(Generate(QA_RSAKeyGen, 512, Q_ITEM{kF4, 3}, classic.obj, &pinned), 0);
  const Q_ITEM& n = pinned.Crt()->modulus;
  EXPECT_EQ(testsupport::ToHex(Bytes(n.data, n.data + n.len)), kPinnedClassicModulus);
}

// openssl rsa -check accepts the modern keys at every size (as PKCS #8), and
// refuses one whose private exponent was damaged: the check can fail. Its
// exit status is 0 either way, so the verdict is read from what it prints;
// openssl pkey -check, which does set its status, must agree.
TEST(ModernKeyGen, OpensslChecksTheKeys) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is not installed";
  testsupport::ScratchDir dir;
  auto check = [&](const Bytes& der) {
    const std::string file = dir.File("priv.der");
    if (!testsupport::WriteFile(file, der)) return false;
    const bool rsa =
        testsupport::Run("openssl rsa -inform DER -in " + file + " -check -noout 2>&1 | grep -qx 'RSA key ok'");
    const bool pkey = testsupport::Run("openssl pkey -inform DER -in " + file + " -check -noout");
    EXPECT_EQ(rsa, pkey);
    return rsa && pkey;
  };
  for (uint32_t bits : {2048u, 3072u, 4096u}) {
    SCOPED_TRACE(bits);
    Random random("openssl check " + std::to_string(bits));
    Pair pair;
    ASSERT_EQ(Generate(QA_RSAKeyGenModern, bits, Q_ITEM{kF4, 3}, random.obj, &pair), 0);
    EXPECT_TRUE(check(pair.Der()));
    if (bits != 2048) continue;
    Q_RSA_PRIVATE_CRT_KEY damaged = *pair.Crt();
    Bytes d(damaged.privateExponent.data, damaged.privateExponent.data + damaged.privateExponent.len);
    d.back() ^= 0x02;
    damaged.privateExponent = Q_ITEM{d.data(), static_cast<uint32_t>(d.size())};
    Pair bad;
    ASSERT_EQ(Q_CreateKeyObject(&bad.priv), 0);
    ASSERT_EQ(Q_SetKeyInfo(bad.priv, QK_RSAPrivateCRT, &damaged), 0);
    EXPECT_FALSE(check(bad.Der()));
  }
}

}  // namespace
