// Signatures with MD2, MD5 and SHA-1 with RSA: published answers, the
// openssl command line as an outside oracle, forged blocks that must be
// refused, the DER forms of the signature algorithm, allocation failure.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "rsa/rsa_support.h"
#include "support/json.h"
#include "support/memory_hooks.h"
#include "support/openssl_cli.h"

namespace {

using rsatest::Bytes;
using rsatest::TestKey;
using testsupport::FromHex;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

bool LoadJson(const std::string& name, testsupport::Json* out) {
  std::ifstream f(std::string(KVCA_TESTDATA_DIR) + "/wycheproof/" + name);
  if (!f) return false;
  std::stringstream ss;
  ss << f.rdbuf();
  *out = testsupport::JsonReader(ss.str()).Parse();
  return true;
}

// Every SHA-1 group of the published signing tests signs to exactly the
// listed signature, and that signature verifies.
TEST(RsaSignature, PublishedSha1SigningAnswers) {
  for (const char* file : {"rsa_pkcs1_1024_sig_gen_test.json", "rsa_pkcs1_2048_sig_gen_test.json"}) {
    testsupport::Json doc;
    if (!LoadJson(file, &doc)) GTEST_SKIP() << "missing " << KVCA_TESTDATA_DIR << "/wycheproof/" << file;
    int checked = 0;
    for (const auto& group : doc["testGroups"].items) {
      if (group["sha"].text != "SHA-1") continue;
      TestKey key;
      ASSERT_EQ(key.FromPkcs8(FromHex(group["privateKeyPkcs8"].text)), 0);
      for (const auto& test : group["tests"].items) {
        SCOPED_TRACE(std::string(file) + " tcId " + std::to_string(static_cast<int>(test["tcId"].number)));
        Bytes message = FromHex(test["msg"].text), expected = FromHex(test["sig"].text), signature;
        ASSERT_EQ(rsatest::Sign(QA_SHA1WithRSA, key.priv, message, &signature), 0);
        if (test["result"].text == "invalid") {
          EXPECT_NE(signature, expected);
          continue;
        }
        EXPECT_EQ(testsupport::ToHex(signature), testsupport::ToHex(expected));
        EXPECT_EQ(rsatest::Verify(QA_SHA1WithRSA, key.pub, message, expected), 0);
        ++checked;
      }
    }
    EXPECT_GT(checked, 0) << file;
  }
}

// PKCS #1 v1.5 signing is deterministic, so our signatures must equal the
// openssl command line's with the same key.
TEST(RsaSignature, EqualToOpensslDgstSign) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is not installed";
  testsupport::ScratchDir dir;
  TestKey key;
  ASSERT_EQ(key.Generate(1024, "openssl dgst"), 0);
  ASSERT_TRUE(testsupport::WriteFile(dir.File("key.der"), key.Pkcs8()));
  const Bytes message = Text("The message to be signed, more or less.");
  ASSERT_TRUE(testsupport::WriteFile(dir.File("msg"), message));
  struct Row {
    Q_INFO_TYPE type;
    const char* digest;
  };
  for (const Row& row : {Row{QA_SHA1WithRSA, "sha1"}, Row{QA_MD5WithRSA, "md5"}}) {
    ASSERT_TRUE(testsupport::Run(std::string("openssl dgst -") + row.digest + " -keyform DER -sign " +
                                 dir.File("key.der") + " -out " + dir.File("sig") + " " + dir.File("msg")))
        << row.digest;
    Bytes theirs, ours;
    ASSERT_TRUE(testsupport::ReadFile(dir.File("sig"), &theirs));
    ASSERT_EQ(rsatest::Sign(row.type, key.priv, message, &ours), 0);
    EXPECT_EQ(ours, theirs) << row.digest;
  }
}

// MD2 is not in the installed openssl: decode our MD2 signature with the
// public key and compare the DigestInfo with the RFC 1319 digest of "abc".
TEST(RsaSignature, Md2SignatureCarriesTheRfc1319Digest) {
  TestKey key;
  ASSERT_EQ(key.Generate(1024, "md2"), 0);
  Bytes signature;
  ASSERT_EQ(rsatest::Sign(QA_MD2WithRSA, key.priv, Text("abc"), &signature), 0);
  EXPECT_EQ(rsatest::Verify(QA_MD2WithRSA, key.pub, Text("abc"), signature), 0);
  Bytes block = key.RawPublic(signature);
  const std::string digestInfo = "3020300c06082a864886f70d020205000410da853b0d3f88d99b30283a69e6ded6bb";
  Bytes tail(block.end() - static_cast<long>(digestInfo.size() / 2), block.end());
  EXPECT_EQ(testsupport::ToHex(tail), digestInfo);
  EXPECT_EQ(block[0], 0x00);
  EXPECT_EQ(block[1], 0x01);
}

class ForgedSignatures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    key_ = new TestKey;
    ASSERT_EQ(key_->Generate(1024, "forgeries"), 0);
  }
  static void TearDownTestSuite() { delete key_; }

  // A block type 1 block: 00 01, |padLength| bytes FF, 00, |data|, with
  // |data| made to fill the block.
  static Bytes Block1(const Bytes& data) {
    const uint32_t k = key_->k();
    Bytes block(k, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block[k - data.size() - 1] = 0x00;
    std::copy(data.begin(), data.end(), block.end() - static_cast<long>(data.size()));
    return block;
  }
  static TestKey* key_;
};
TestKey* ForgedSignatures::key_ = nullptr;

// SHA-1("abc") in various DigestInfo encodings.
const char* kSha1Abc = "a9993e364706816aba3e25717850c26c9cd0d89d";

TEST_F(ForgedSignatures, RefusedWithTheirCodes) {
  const Bytes message = Text("abc");
  const std::string good = std::string("3021300906052b0e03021a05000414") + kSha1Abc;
  struct Row {
    const char* what;
    Bytes signature;
    int expected;
  };
  Bytes proper;
  ASSERT_EQ(rsatest::Sign(QA_SHA1WithRSA, key_->priv, message, &proper), 0);
  Bytes md5Signed;
  ASSERT_EQ(rsatest::Sign(QA_MD5WithRSA, key_->priv, message, &md5Signed), 0);
  Bytes shortSig(proper.begin() + 1, proper.end());
  Bytes longSig = proper;
  longSig.push_back(0);
  // A pad run of 7 FF bytes: the data is then longer than k - 11.
  Bytes shortPad = FromHex(good);
  shortPad.insert(shortPad.begin(), key_->k() - 3 - 7 - shortPad.size(), 0x42);

  const Row rows[] = {
      {"the proper signature", proper, 0},
      {"made with MD5", md5Signed, Q_ERR_SIGNATURE},
      {"one byte short", shortSig, Q_ERR_INPUT_LEN},
      {"one byte long", longSig, Q_ERR_INPUT_LEN},
      {"a forged proper block", key_->RawPrivate(Block1(FromHex(good))), 0},
      {"pad run of 7 bytes", key_->RawPrivate(Block1(shortPad)), Q_ERR_INPUT_DATA},
      {"trailing bytes after the DigestInfo", key_->RawPrivate(Block1(FromHex(good + "00"))), Q_ERR_INPUT_DATA},
      {"garbage inside the DigestInfo", key_->RawPrivate(Block1(FromHex(
            std::string("3023300b06052b0e03021a05000000000414") + kSha1Abc))), Q_ERR_INPUT_DATA},
      {"a non-minimal length", key_->RawPrivate(Block1(FromHex(
            std::string("308121300906052b0e03021a05000414") + kSha1Abc))), Q_ERR_SIGNATURE},
      {"no NULL parameters", key_->RawPrivate(Block1(FromHex(
            std::string("301f300706052b0e03021a0414") + kSha1Abc))), Q_ERR_INPUT_DATA},
      {"another digest identifier", key_->RawPrivate(Block1(FromHex(
            std::string("3021300906052b0e03021b05000414") + kSha1Abc))), Q_ERR_SIGNATURE},
      {"block type 2", [&] {
         Bytes b = Block1(FromHex(good));
         b[1] = 0x02;
         return key_->RawPrivate(b);
       }(), Q_ERR_INPUT_DATA},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(rsatest::Verify(QA_SHA1WithRSA, key_->pub, message, row.signature), row.expected) << row.what;
  }
}

TEST_F(ForgedSignatures, EveryDigestSignsAndVerifiesAndMismatchesFail) {
  const Bytes message = Text("a certificate's to-be-signed part");
  for (Q_INFO_TYPE type : {QA_MD2WithRSA, QA_MD5WithRSA, QA_SHA1WithRSA}) {
    Bytes signature;
    ASSERT_EQ(rsatest::Sign(type, key_->priv, message, &signature), 0);
    EXPECT_EQ(signature.size(), key_->k());
    EXPECT_EQ(rsatest::Verify(type, key_->pub, message, signature), 0);
    EXPECT_EQ(rsatest::Verify(type, key_->pub, Text("another message"), signature), Q_ERR_SIGNATURE);
  }
}

TEST_F(ForgedSignatures, SignatureCapacityAndKeyForms) {
  Q_ALGORITHM_OBJ alg = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_SHA1WithRSA, nullptr), 0);
  EXPECT_EQ(Q_SignInit(alg, key_->pub, rsatest::kSignChooser, nullptr), Q_ERR_GET_KEY_INFO)
      << "a public key cannot give the components the private method needs";
  ASSERT_EQ(Q_SignInit(alg, key_->priv, rsatest::kSignChooser, nullptr), 0);
  unsigned char out[128];
  uint32_t len = 0;
  EXPECT_EQ(Q_SignFinal(alg, out, &len, 127, nullptr, nullptr), Q_ERR_OUTPUT_LEN);
  Q_DestroyAlgorithmObject(&alg);
}

// A private key whose components do not belong together (a key file's
// private key has no integrity of its own) is refused with 524 before it
// signs anything: one faulty CRT half in a signature would give away a prime.
TEST_F(ForgedSignatures, KeysWhoseComponentsDisagreeAreRefused) {
  void* info = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&info, key_->priv, QK_RSAPrivateCRT), 0);
  const auto* crt = static_cast<const Q_RSA_PRIVATE_CRT_KEY*>(info);
  // modulus, public exponent, private exponent, p, q, dP, dQ, qInv
  const Q_ITEM* fields[8] = {&crt->modulus,          &crt->publicExponent,   &crt->privateExponent,
                             &crt->prime[0],         &crt->prime[1],         &crt->primeExponent[0],
                             &crt->primeExponent[1], &crt->coefficient};
  std::vector<Bytes> original;
  for (const Q_ITEM* f : fields) original.emplace_back(f->data, f->data + f->len);
  struct Row {
    const char* what;
    std::function<void(std::vector<Bytes>&)> change;
    int expected;
  };
  const Row rows[] = {
      {"the key as it is", [](std::vector<Bytes>&) {}, 0},
      {"private exponent changed (not used)", [](std::vector<Bytes>& c) { c[2][10] ^= 0x01; }, 0},
      {"one bit of exponent 2", [](std::vector<Bytes>& c) { c[6][20] ^= 0x10; }, Q_ERR_INPUT_DATA},
      {"one bit of the coefficient", [](std::vector<Bytes>& c) { c[7][30] ^= 0x10; }, Q_ERR_INPUT_DATA},
      {"one bit of exponent 1", [](std::vector<Bytes>& c) { c[5].back() ^= 0x02; }, Q_ERR_INPUT_DATA},
      {"one bit of prime 1", [](std::vector<Bytes>& c) { c[3][5] ^= 0x01; }, Q_ERR_INPUT_DATA},
      {"one bit of the modulus", [](std::vector<Bytes>& c) { c[0][40] ^= 0x01; }, Q_ERR_INPUT_DATA},
      {"public exponent 3", [](std::vector<Bytes>& c) { c[1] = {0x03}; }, Q_ERR_INPUT_DATA},
      {"primes swapped", [](std::vector<Bytes>& c) { std::swap(c[3], c[4]); }, Q_ERR_INPUT_DATA},
      {"prime 1 is 1", [](std::vector<Bytes>& c) { c[3] = {0x01}; }, Q_ERR_INPUT_DATA},
      {"coefficient 0", [](std::vector<Bytes>& c) { c[7] = {0x00}; }, Q_ERR_INPUT_DATA},
  };
  const Bytes message = Text("a certificate's to-be-signed part");
  for (const Row& row : rows) {
    std::vector<Bytes> c = original;
    row.change(c);
    Q_RSA_PRIVATE_CRT_KEY changed{};
    Q_ITEM* items[8] = {&changed.modulus,          &changed.publicExponent,   &changed.privateExponent,
                        &changed.prime[0],         &changed.prime[1],         &changed.primeExponent[0],
                        &changed.primeExponent[1], &changed.coefficient};
    for (int i = 0; i < 8; ++i) *items[i] = Q_ITEM{c[i].data(), static_cast<uint32_t>(c[i].size())};
    Q_KEY_OBJ key = nullptr;
    ASSERT_EQ(Q_CreateKeyObject(&key), 0);
    ASSERT_EQ(Q_SetKeyInfo(key, QK_RSAPrivateCRT, &changed), 0) << row.what;
    Bytes signature;
    EXPECT_EQ(rsatest::Sign(QA_SHA1WithRSA, key, message, &signature), row.expected) << row.what;
    if (row.expected == 0) {
      EXPECT_EQ(rsatest::Verify(QA_SHA1WithRSA, key_->pub, message, signature), 0) << row.what;
    }
    Q_DestroyKeyObject(&key);
  }
}

TEST(RsaSignatureDer, AlgorithmIdentifiersReadAndWritten) {
  const Bytes sha1WithRsa = FromHex("300d06092a864886f70d0101050500");
  const Bytes md5WithRsa = FromHex("300d06092a864886f70d0101040500");
  const Bytes noParameters = FromHex("300b06092a864886f70d010105");
  const Bytes otherParameters = FromHex("300f06092a864886f70d01010504020000");
  struct Row {
    const char* what;
    Q_INFO_TYPE type;
    Bytes der;
    int expected;
  };
  const Row rows[] = {
      {"sha1WithRSAEncryption", QA_SHA1WithRSABER, sha1WithRsa, 0},
      {"md5 read as sha1", QA_SHA1WithRSABER, md5WithRsa, Q_ERR_GET_ALGORITHM_INFO},
      {"md5WithRSAEncryption", QA_MD5WithRSABER, md5WithRsa, 0},
      {"absent parameters", QA_SHA1WithRSABER, noParameters, Q_ERR_INPUT_DATA},
      {"parameters other than NULL", QA_SHA1WithRSABER, otherParameters, Q_ERR_INPUT_DATA},
      {"not DER at all", QA_SHA1WithRSABER, FromHex("3005"), Q_ERR_INPUT_DATA},
  };
  for (const Row& row : rows) {
    Q_ALGORITHM_OBJ alg = nullptr;
    ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
    Q_ITEM item{const_cast<unsigned char*>(row.der.data()), static_cast<uint32_t>(row.der.size())};
    EXPECT_EQ(Q_SetAlgorithmInfo(alg, row.type, &item), row.expected) << row.what;
    if (row.expected == 0) {
      void* info = nullptr;
      ASSERT_EQ(Q_GetAlgorithmInfo(&info, alg, row.type), 0);
      auto* der = static_cast<Q_ITEM*>(info);
      EXPECT_EQ(Bytes(der->data, der->data + der->len), row.der) << row.what;
      EXPECT_EQ(Q_GetAlgorithmInfo(&info, alg, QA_MD2WithRSABER), Q_ERR_GET_ALGORITHM_INFO);
    }
    Q_DestroyAlgorithmObject(&alg);
  }
  // The DER form of an object set with the plain info type.
  Q_ALGORITHM_OBJ alg = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_MD5WithRSA, nullptr), 0);
  void* info = nullptr;
  ASSERT_EQ(Q_GetAlgorithmInfo(&info, alg, QA_MD5WithRSABER), 0);
  auto* der = static_cast<Q_ITEM*>(info);
  EXPECT_EQ(Bytes(der->data, der->data + der->len), md5WithRsa);
  Q_DestroyAlgorithmObject(&alg);
}

TEST(RsaSignatureMemory, AllocationFailureAndWiping) {
  TestKey key;
  ASSERT_EQ(key.Generate(512, "memory"), 0);
  const Bytes pkcs8 = key.Pkcs8();
  Bytes signature;
  ASSERT_EQ(rsatest::Sign(QA_SHA1WithRSA, key.priv, Text("m"), &signature), 0);
  auto signFresh = [&] {
    TestKey fresh;
    int status = fresh.FromPkcs8(pkcs8);
    Bytes sig;
    if (status == 0) status = rsatest::Sign(QA_SHA1WithRSA, fresh.priv, Text("m"), &sig);
    if (status == 0) status = rsatest::Verify(QA_SHA1WithRSA, fresh.pub, Text("m"), sig);
    return status;
  };
  testsupport::ForEachAllocationFailure(signFresh, [](int status, const testsupport::MemoryWatch& watch) {
    EXPECT_EQ(status, Q_ERR_ALLOC);
    EXPECT_EQ(watch.leakedBlocks(), 0);
  });
  testsupport::MemoryWatch watch;
  EXPECT_EQ(signFresh(), 0);
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

}  // namespace
