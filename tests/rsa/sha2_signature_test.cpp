// Signatures with SHA-256, SHA-384 and SHA-512 with RSA: the DigestInfo
// encodings of RFC 8017, published signing and verification answers, the
// openssl command line as an outside verifier, the DER forms of the
// signature algorithms and the digests through the Q_ interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "rsa/rsa_support.h"
#include "support/json.h"
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

// One SHA-2 signature algorithm with everything the tests need to know of
// it from outside the toolkit.
struct Sha2 {
  const char* name;  // as openssl dgst and the published tests spell it
  const char* wycheproofName;
  Q_INFO_TYPE digest;
  Q_INFO_TYPE plain;
  Q_INFO_TYPE der;
  const char* digestInfoPrefix;      // RFC 8017, 9.2, note 1
  const char* algorithmIdentifier;   // sha*WithRSAEncryption, NULL parameters
  const char* digestOfAbc;           // FIPS 180-4's examples
};

const Sha2 kSha2[] = {
    {"sha256", "SHA-256", QA_SHA256, QA_SHA256WithRSA, QA_SHA256WithRSABER,
     "3031300d060960864801650304020105000420", "300d06092a864886f70d01010b0500",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"sha384", "SHA-384", QA_SHA384, QA_SHA384WithRSA, QA_SHA384WithRSABER,
     "3041300d060960864801650304020205000430", "300d06092a864886f70d01010c0500",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {"sha512", "SHA-512", QA_SHA512, QA_SHA512WithRSA, QA_SHA512WithRSABER,
     "3051300d060960864801650304020305000440", "300d06092a864886f70d01010d0500",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
};

class Sha2Signatures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    key_ = new TestKey;
    ASSERT_EQ(key_->Generate(1024, "sha-2 signatures"), 0);
  }
  static void TearDownTestSuite() { delete key_; }
  static TestKey* key_;
};
TestKey* Sha2Signatures::key_ = nullptr;

// The signed block is 00 01 FF..FF 00, the DigestInfo prefix RFC 8017 lists
// for the digest, then the digest; the signature verifies under its own
// algorithm only and not for another message.
TEST_F(Sha2Signatures, BlockCarriesTheRfc8017DigestInfo) {
  for (const Sha2& s : kSha2) {
    SCOPED_TRACE(s.name);
    Bytes signature;
    ASSERT_EQ(rsatest::Sign(s.plain, key_->priv, Text("abc"), &signature), 0);
    ASSERT_EQ(signature.size(), key_->k());
    const Bytes block = key_->RawPublic(signature);
    const Bytes info = FromHex(std::string(s.digestInfoPrefix) + s.digestOfAbc);
    Bytes expected(key_->k() - info.size(), 0xFF);
    expected[0] = 0x00;
    expected[1] = 0x01;
    expected.back() = 0x00;
    expected.insert(expected.end(), info.begin(), info.end());
    EXPECT_EQ(testsupport::ToHex(block), testsupport::ToHex(expected));

    EXPECT_EQ(rsatest::Verify(s.plain, key_->pub, Text("abc"), signature), 0);
    EXPECT_EQ(rsatest::Verify(s.plain, key_->pub, Text("abd"), signature), Q_ERR_SIGNATURE);
    // Under another digest: 540, or 524 when the block carries more than the
    // verifier makes room for (64 bytes, or its own DigestInfo's length).
    for (const Sha2& other : kSha2) {
      if (&other == &s) continue;
      const size_t room = std::max<size_t>(64, FromHex(other.digestInfoPrefix).size() + FromHex(other.digestOfAbc).size());
      const int code = info.size() > room ? Q_ERR_INPUT_DATA : Q_ERR_SIGNATURE;
      EXPECT_EQ(rsatest::Verify(other.plain, key_->pub, Text("abc"), signature), code) << "under " << other.name;
    }
    EXPECT_EQ(rsatest::Verify(QA_SHA1WithRSA, key_->pub, Text("abc"), signature),
              s.digest == QA_SHA256 ? Q_ERR_SIGNATURE : Q_ERR_INPUT_DATA);
  }
}

// Blocks the toolkit would never write: each must be refused.
TEST_F(Sha2Signatures, ForgedDigestInfosRefused) {
  const std::string digest = kSha2[0].digestOfAbc;
  auto forge = [&](const std::string& infoHex) {
    const Bytes info = FromHex(infoHex);
    Bytes block(key_->k() - info.size(), 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block.back() = 0x00;
    block.insert(block.end(), info.begin(), info.end());
    return key_->RawPrivate(block);
  };
  struct Row {
    const char* what;
    std::string info;
    int expected;
  };
  const Row rows[] = {
      {"the proper DigestInfo", "3031300d060960864801650304020105000420" + digest, 0},
      {"no NULL parameters", "302f300b0609608648016503040201" "0420" + digest, Q_ERR_INPUT_DATA},
      {"the SHA-384 identifier", "3031300d060960864801650304020205000420" + digest, Q_ERR_SIGNATURE},
      {"a digest one byte short", "3030300d06096086480165030402010500041f" + digest.substr(2), Q_ERR_SIGNATURE},
      {"trailing bytes", "3031300d060960864801650304020105000420" + digest + "00", Q_ERR_INPUT_DATA},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(rsatest::Verify(QA_SHA256WithRSA, key_->pub, Text("abc"), forge(row.info)), row.expected) << row.what;
  }
}

// With a 512-bit key (k = 64) a block carries at most 53 bytes: the SHA-256
// DigestInfo (51) fits, those of SHA-384 (67) and SHA-512 (83) do not.
TEST(Sha2SignatureSizes, DigestInfoMustFitTheKey) {
  TestKey key;
  ASSERT_EQ(key.Generate(512, "small key"), 0);
  const int expected[] = {0, Q_ERR_INPUT_LEN, Q_ERR_INPUT_LEN};
  for (size_t i = 0; i < std::size(kSha2); ++i) {
    Bytes signature;
    EXPECT_EQ(rsatest::Sign(kSha2[i].plain, key.priv, Text("m"), &signature), expected[i]) << kSha2[i].name;
  }
}

// Every SHA-256, SHA-384 and SHA-512 group of the published signing tests
// signs to exactly the listed signature (PKCS #1 v1.5 is deterministic).
TEST(Sha2SignaturePublished, SigningAnswers) {
  int checked = 0;
  for (const char* file : {"rsa_pkcs1_1024_sig_gen_test.json", "rsa_pkcs1_2048_sig_gen_test.json",
                           "rsa_pkcs1_3072_sig_gen_test.json", "rsa_pkcs1_4096_sig_gen_test.json"}) {
    testsupport::Json doc;
    if (!LoadJson(file, &doc)) GTEST_SKIP() << "missing " << KVCA_TESTDATA_DIR << "/wycheproof/" << file;
    for (const auto& group : doc["testGroups"].items) {
      const Sha2* s = nullptr;
      for (const Sha2& candidate : kSha2) {
        if (group["sha"].text == candidate.wycheproofName) s = &candidate;
      }
      if (s == nullptr) continue;
      TestKey key;
      ASSERT_EQ(key.FromPkcs8(FromHex(group["privateKeyPkcs8"].text)), 0);
      for (const auto& test : group["tests"].items) {
        SCOPED_TRACE(std::string(file) + " tcId " + std::to_string(static_cast<int>(test["tcId"].number)));
        const Bytes message = FromHex(test["msg"].text), expected = FromHex(test["sig"].text);
        Bytes signature;
        ASSERT_EQ(rsatest::Sign(s->plain, key.priv, message, &signature), 0);
        if (test["result"].text == "invalid") {
          EXPECT_NE(signature, expected);
          continue;
        }
        EXPECT_EQ(testsupport::ToHex(signature), testsupport::ToHex(expected));
        EXPECT_EQ(rsatest::Verify(s->plain, key.pub, message, expected), 0);
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 0);
}

// The published verification tests with 2048-, 3072- and 4096-bit keys:
// every valid signature verifies and every invalid one, many of them crafted
// to get past lax parsers, is refused. Not every digest has a file at every
// size; the 2048-bit ones must be there.
TEST(Sha2SignaturePublished, VerificationAnswers) {
  for (const char* bits : {"2048", "3072", "4096"}) {
    for (const Sha2& s : kSha2) {
      const std::string file = std::string("rsa_signature_") + bits + "_" + s.name + "_test.json";
      testsupport::Json doc;
      if (!LoadJson(file, &doc)) {
        if (std::string(bits) == "2048") GTEST_SKIP() << "missing " << KVCA_TESTDATA_DIR << "/wycheproof/" << file;
        continue;
      }
      int valid = 0, invalid = 0;
      for (const auto& group : doc["testGroups"].items) {
        const Bytes spki = FromHex(group["publicKeyDer"].text);
        Q_KEY_OBJ pub = nullptr;
        ASSERT_EQ(Q_CreateKeyObject(&pub), 0);
        Q_ITEM item{const_cast<unsigned char*>(spki.data()), static_cast<uint32_t>(spki.size())};
        ASSERT_EQ(Q_SetKeyInfo(pub, QK_RSAPublicBER, &item), 0) << file;
        for (const auto& test : group["tests"].items) {
          const std::string result = test["result"].text;
          if (result == "acceptable") continue;
          const int status = rsatest::Verify(s.plain, pub, FromHex(test["msg"].text), FromHex(test["sig"].text));
          const std::string where = file + " tcId " + std::to_string(static_cast<int>(test["tcId"].number)) + " (" +
                                    test["comment"].text + ")";
          if (result == "valid") {
            EXPECT_EQ(status, 0) << where;
            ++valid;
          } else {
            EXPECT_NE(status, 0) << where;
            ++invalid;
          }
        }
        Q_DestroyKeyObject(&pub);
      }
      EXPECT_GT(valid, 0) << file;
      EXPECT_GT(invalid, 0) << file;
    }
  }
}

// openssl dgst verifies our signatures with the key's SubjectPublicKeyInfo,
// and refuses them for another message or under another digest: the check
// can fail.
TEST_F(Sha2Signatures, OpensslDgstVerifies) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is not installed";
  testsupport::ScratchDir dir;
  void* info = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&info, key_->pub, QK_RSAPublicBER), 0);
  const auto* spki = static_cast<Q_ITEM*>(info);
  ASSERT_TRUE(testsupport::WriteFile(dir.File("pub.der"), Bytes(spki->data, spki->data + spki->len)));
  const Bytes message = Text("A to-be-signed part, signed with a SHA-2 digest.");
  ASSERT_TRUE(testsupport::WriteFile(dir.File("msg"), message));
  ASSERT_TRUE(testsupport::WriteFile(dir.File("other"), Text("Another message.")));
  auto verify = [&](const std::string& digest, const std::string& messageFile) {
    return testsupport::Run("openssl dgst -" + digest + " -keyform DER -verify " + dir.File("pub.der") +
                            " -signature " + dir.File("sig") + " " + dir.File(messageFile));
  };
  for (const Sha2& s : kSha2) {
    Bytes signature;
    ASSERT_EQ(rsatest::Sign(s.plain, key_->priv, message, &signature), 0);
    ASSERT_TRUE(testsupport::WriteFile(dir.File("sig"), signature));
    EXPECT_TRUE(verify(s.name, "msg")) << s.name;
    EXPECT_FALSE(verify(s.name, "other")) << s.name;
    EXPECT_FALSE(verify(s.name == std::string("sha256") ? "sha512" : "sha256", "msg")) << s.name;
  }
}

// PKCS #1 v1.5 signing is deterministic: openssl dgst -sign with the same key
// gives the same bytes.
TEST_F(Sha2Signatures, EqualToOpensslDgstSign) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is not installed";
  testsupport::ScratchDir dir;
  ASSERT_TRUE(testsupport::WriteFile(dir.File("key.der"), key_->Pkcs8()));
  const Bytes message = Text("The message to be signed, more or less.");
  ASSERT_TRUE(testsupport::WriteFile(dir.File("msg"), message));
  for (const Sha2& s : kSha2) {
    ASSERT_TRUE(testsupport::Run(std::string("openssl dgst -") + s.name + " -keyform DER -sign " +
                                 dir.File("key.der") + " -out " + dir.File("sig") + " " + dir.File("msg")))
        << s.name;
    Bytes theirs, ours;
    ASSERT_TRUE(testsupport::ReadFile(dir.File("sig"), &theirs));
    ASSERT_EQ(rsatest::Sign(s.plain, key_->priv, message, &ours), 0);
    EXPECT_EQ(ours, theirs) << s.name;
  }
}

// The AlgorithmIdentifier forms: each reads its own identifier and writes it
// back, refuses another one (541) and parameters other than NULL (524).
TEST(Sha2SignatureDer, AlgorithmIdentifiersReadAndWritten) {
  for (const Sha2& s : kSha2) {
    SCOPED_TRACE(s.name);
    const Bytes own = FromHex(s.algorithmIdentifier);
    Bytes noParameters(own.begin(), own.end() - 2);
    noParameters[1] = static_cast<unsigned char>(noParameters.size() - 2);
    for (const Sha2& other : kSha2) {
      Q_ALGORITHM_OBJ alg = nullptr;
      ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
      const Bytes der = FromHex(other.algorithmIdentifier);
      Q_ITEM item{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
      const int status = Q_SetAlgorithmInfo(alg, s.der, &item);
      if (&other == &s) {
        ASSERT_EQ(status, 0);
        void* info = nullptr;
        ASSERT_EQ(Q_GetAlgorithmInfo(&info, alg, s.der), 0);
        const auto* written = static_cast<Q_ITEM*>(info);
        EXPECT_EQ(Bytes(written->data, written->data + written->len), own);
        EXPECT_EQ(Q_GetAlgorithmInfo(&info, alg, QA_SHA1WithRSABER), Q_ERR_GET_ALGORITHM_INFO);
      } else {
        EXPECT_EQ(status, Q_ERR_GET_ALGORITHM_INFO) << "read through " << s.name << ": " << other.name;
      }
      Q_DestroyAlgorithmObject(&alg);
    }
    Q_ALGORITHM_OBJ alg = nullptr;
    ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
    Q_ITEM item{noParameters.data(), static_cast<uint32_t>(noParameters.size())};
    EXPECT_EQ(Q_SetAlgorithmInfo(alg, s.der, &item), Q_ERR_INPUT_DATA);
    Q_DestroyAlgorithmObject(&alg);

    // The DER form of an object set with the plain info type.
    ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
    ASSERT_EQ(Q_SetAlgorithmInfo(alg, s.plain, nullptr), 0);
    void* info = nullptr;
    ASSERT_EQ(Q_GetAlgorithmInfo(&info, alg, s.der), 0);
    const auto* written = static_cast<Q_ITEM*>(info);
    EXPECT_EQ(Bytes(written->data, written->data + written->len), own);
    Q_DestroyAlgorithmObject(&alg);
  }
}

// The digests through the Q_ interface: their method must be in the
// chooser, an output one byte short is refused with the length left unset,
// and Final starts the next message.
TEST(Sha2Digests, ThroughTheToolkitInterface) {
  static const Q_ALGORITHM_METHOD* const onlySha1[] = {&QM_SHA1, nullptr};
  for (const Sha2& s : kSha2) {
    SCOPED_TRACE(s.name);
    const Bytes expected = FromHex(s.digestOfAbc);
    Q_ALGORITHM_OBJ alg = nullptr;
    ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
    ASSERT_EQ(Q_SetAlgorithmInfo(alg, s.digest, nullptr), 0);
    EXPECT_EQ(Q_DigestInit(alg, nullptr, onlySha1, nullptr), Q_ERR_NO_METHOD);
    ASSERT_EQ(Q_DigestInit(alg, nullptr, rsatest::kSignChooser, nullptr), 0);
    unsigned char out[64];
    uint32_t length = 12345;
    ASSERT_EQ(Q_DigestUpdate(alg, reinterpret_cast<const unsigned char*>("abc"), 3, nullptr), 0);
    EXPECT_EQ(Q_DigestFinal(alg, out, &length, static_cast<uint32_t>(expected.size() - 1), nullptr),
              Q_ERR_OUTPUT_LEN);
    EXPECT_EQ(length, 12345u);
    for (int round = 0; round < 2; ++round) {
      if (round == 1) {
        ASSERT_EQ(Q_DigestUpdate(alg, reinterpret_cast<const unsigned char*>("abc"), 3, nullptr), 0);
      }
      ASSERT_EQ(Q_DigestFinal(alg, out, &length, sizeof out, nullptr), 0);
      EXPECT_EQ(testsupport::ToHex(Bytes(out, out + length)), s.digestOfAbc);
    }
    Q_DestroyAlgorithmObject(&alg);
  }
}

}  // namespace
