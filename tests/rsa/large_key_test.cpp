// RSA at 3072 and 4096 bits: which info types take which key sizes, and
// SHA-256 signatures checked both ways with the openssl command line.
#include <gmp.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "rsa/rsa_support.h"
#include "support/openssl_cli.h"

namespace {

using rsatest::Bytes;
using rsatest::TestKey;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// One key per size for the whole suite: generation is the slow part.
class LargeKeys : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (int i = 0; i < 3; ++i) {
      keys_[i] = std::make_unique<TestKey>();
      ASSERT_EQ(keys_[i]->GenerateModern(kBits[i], "large keys " + std::to_string(kBits[i])), 0);
    }
  }
  static void TearDownTestSuite() {
    for (auto& k : keys_) k.reset();
  }
  static TestKey& Key(uint32_t bits) { return *keys_[bits == 2048 ? 0 : bits == 3072 ? 1 : 2]; }

  static constexpr uint32_t kBits[3] = {2048, 3072, 4096};
  static std::unique_ptr<TestKey> keys_[3];
};
std::unique_ptr<TestKey> LargeKeys::keys_[3];

// A 4104-bit key made with GMP and set as QK_RSAPrivateCRT.
struct OversizedKey {
  Q_KEY_OBJ priv = nullptr;
  OversizedKey() {
    mpz_t p, q, n, e, d, p1, q1, phi, dp, dq, qi;
    mpz_inits(p, q, n, e, d, p1, q1, phi, dp, dq, qi, nullptr);
    mpz_ui_pow_ui(p, 2, 2051);
    mpz_nextprime(p, p);
    mpz_ui_pow_ui(q, 3, 1300);  // about 2061 bits
    mpz_nextprime(q, q);
    if (mpz_cmp(p, q) < 0) mpz_swap(p, q);
    mpz_mul(n, p, q);
    mpz_set_ui(e, 65537);
    mpz_sub_ui(p1, p, 1);
    mpz_sub_ui(q1, q, 1);
    mpz_mul(phi, p1, q1);
    mpz_invert(d, e, phi);
    mpz_mod(dp, d, p1);
    mpz_mod(dq, d, q1);
    mpz_invert(qi, q, p);
    mpz_t* parts[8] = {&n, &e, &d, &p, &q, &dp, &dq, &qi};
    for (int i = 0; i < 8; ++i) {
      size_t count = 0;
      unsigned char* data = static_cast<unsigned char*>(mpz_export(nullptr, &count, 1, 1, 1, 0, *parts[i]));
      bytes[i].assign(data, data + count);
      free(data);
    }
    mpz_clears(p, q, n, e, d, p1, q1, phi, dp, dq, qi, nullptr);
    bits = static_cast<uint32_t>(bytes[0].size() * 8);
    Q_RSA_PRIVATE_CRT_KEY key{};
    Q_ITEM* items[8] = {&key.modulus,      &key.publicExponent,   &key.privateExponent,  &key.prime[0],
                        &key.prime[1],     &key.primeExponent[0], &key.primeExponent[1], &key.coefficient};
    for (int i = 0; i < 8; ++i) *items[i] = Q_ITEM{bytes[i].data(), static_cast<uint32_t>(bytes[i].size())};
    EXPECT_EQ(Q_CreateKeyObject(&priv), 0);
    EXPECT_EQ(Q_SetKeyInfo(priv, QK_RSAPrivateCRT, &key), 0);
  }
  ~OversizedKey() { Q_DestroyKeyObject(&priv); }
  Bytes bytes[8];
  uint32_t bits = 0;
};

// The SHA-2 signatures take keys up to 4096 bits; MD5, SHA-1 and the bare
// PKCS #1 types keep the 2048-bit limit and its code.
TEST_F(LargeKeys, WhichTypesTakeWhichSizes) {
  struct Row {
    Q_INFO_TYPE type;
    const char* name;
    uint32_t bits;
    int expected;
  };
  const Row rows[] = {
      {QA_SHA256WithRSA, "SHA-256", 2048, 0},        {QA_SHA256WithRSA, "SHA-256", 3072, 0},
      {QA_SHA384WithRSA, "SHA-384", 4096, 0},        {QA_SHA512WithRSA, "SHA-512", 4096, 0},
      {QA_SHA1WithRSA, "SHA-1", 2048, 0},            {QA_SHA1WithRSA, "SHA-1", 3072, Q_ERR_MODULUS_LEN},
      {QA_MD5WithRSA, "MD5", 4096, Q_ERR_MODULUS_LEN},
  };
  const Bytes message = Text("sized");
  for (const Row& row : rows) {
    Bytes signature;
    EXPECT_EQ(rsatest::Sign(row.type, Key(row.bits).priv, message, &signature), row.expected)
        << row.name << " " << row.bits;
    if (row.expected == 0) {
      EXPECT_EQ(signature.size(), row.bits / 8);
      EXPECT_EQ(rsatest::Verify(row.type, Key(row.bits).pub, message, signature), 0) << row.name << " " << row.bits;
    } else {
      EXPECT_EQ(rsatest::Verify(row.type, Key(row.bits).pub, message, Bytes(row.bits / 8, 1)), row.expected);
    }
  }
  // The bare PKCS #1 private side keeps 2048 bits too.
  Q_ALGORITHM_OBJ alg = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_RSAPrivatePKCS1, nullptr), 0);
  EXPECT_EQ(Q_EncryptInit(alg, Key(3072).priv, rsatest::kSignChooser, nullptr), Q_ERR_MODULUS_LEN);
  Q_DestroyAlgorithmObject(&alg);
  // Past 4096 bits the SHA-2 signatures refuse the key as well.
  OversizedKey big;
  ASSERT_GT(big.bits, 4096u);
  Bytes signature;
  EXPECT_EQ(rsatest::Sign(QA_SHA256WithRSA, big.priv, message, &signature), Q_ERR_MODULUS_LEN);
}

// openssl dgst verifies our SHA-256 signatures at 3072 and 4096 bits and
// refuses a damaged one; ours verifies openssl's and refuses it for another
// message.
TEST_F(LargeKeys, OpensslAgreesOnSha256Signatures) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is not installed";
  testsupport::ScratchDir dir;
  const Bytes message = Text("A to-be-signed part under a large key.");
  ASSERT_TRUE(testsupport::WriteFile(dir.File("msg"), message));
  for (uint32_t bits : {3072u, 4096u}) {
    SCOPED_TRACE(bits);
    TestKey& key = Key(bits);
    ASSERT_TRUE(testsupport::WriteFile(dir.File("priv.der"), key.Pkcs8()));
    ASSERT_TRUE(testsupport::Run("openssl pkey -inform DER -in " + dir.File("priv.der") + " -pubout -out " +
                                 dir.File("pub.pem")));
    auto opensslVerifies = [&](const Bytes& signature) {
      return testsupport::WriteFile(dir.File("sig"), signature) &&
             testsupport::Run("openssl dgst -sha256 -verify " + dir.File("pub.pem") + " -signature " +
                              dir.File("sig") + " " + dir.File("msg"));
    };
    Bytes ours;
    ASSERT_EQ(rsatest::Sign(QA_SHA256WithRSA, key.priv, message, &ours), 0);
    EXPECT_TRUE(opensslVerifies(ours));
    Bytes damaged = ours;
    damaged[damaged.size() / 2] ^= 0x01;
    EXPECT_FALSE(opensslVerifies(damaged)) << "the outside check can fail";

    ASSERT_TRUE(testsupport::Run("openssl dgst -sha256 -keyform DER -sign " + dir.File("priv.der") + " -out " +
                                 dir.File("theirs") + " " + dir.File("msg")));
    Bytes theirs;
    ASSERT_TRUE(testsupport::ReadFile(dir.File("theirs"), &theirs));
    EXPECT_EQ(theirs, ours) << "PKCS #1 v1.5 signatures are deterministic";
    EXPECT_EQ(rsatest::Verify(QA_SHA256WithRSA, key.pub, message, theirs), 0);
    EXPECT_EQ(rsatest::Verify(QA_SHA256WithRSA, key.pub, Text("another message"), theirs), Q_ERR_SIGNATURE);
  }
}

}  // namespace
