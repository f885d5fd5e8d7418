// PKCS #1 v1.5 encryption blocks (block type 2) on both sides.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "rsa/rsa_support.h"
#include "support/json.h"

namespace {

using rsatest::Bytes;
using rsatest::TestKey;
using testsupport::FromHex;

const Q_ALGORITHM_METHOD* const kEncryptChooser[] = {&QM_RSAPublicEncrypt, &QM_RSAPrivateEncrypt, nullptr};
const Q_ALGORITHM_METHOD* const kDecryptChooser[] = {&QM_RSAPublicDecrypt, &QM_RSAPrivateDecrypt, nullptr};
const Q_ALGORITHM_METHOD* const kRandomChooser[] = {&QM_MD5Random, nullptr};

// Runs one whole encryption or decryption; 0 or the first failing code.
int Crypt(bool encrypt, Q_INFO_TYPE type, Q_KEY_OBJ key, const Bytes& input, Q_ALGORITHM_OBJ random, Bytes* out) {
  Q_ALGORITHM_OBJ alg = nullptr;
  out->assign(600, 0);
  uint32_t first = 0, second = 0;
  int status = Q_CreateAlgorithmObject(&alg);
  if (status == 0) status = Q_SetAlgorithmInfo(alg, type, nullptr);
  if (status == 0)
    status = encrypt ? Q_EncryptInit(alg, key, kEncryptChooser, nullptr) : Q_DecryptInit(alg, key, kDecryptChooser, nullptr);
  uint32_t in = static_cast<uint32_t>(input.size());
  if (status == 0)
    status = encrypt ? Q_EncryptUpdate(alg, out->data(), &first, 600, input.data(), in, random, nullptr)
                     : Q_DecryptUpdate(alg, out->data(), &first, 600, input.data(), in, random, nullptr);
  if (status == 0)
    status = encrypt ? Q_EncryptFinal(alg, out->data() + first, &second, 600 - first, random, nullptr)
                     : Q_DecryptFinal(alg, out->data() + first, &second, 600 - first, random, nullptr);
  out->resize(status == 0 ? first + second : 0);
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

struct Random {
  Random() {
    Q_CreateAlgorithmObject(&obj);
    Q_SetAlgorithmInfo(obj, QA_MD5Random, nullptr);
    Q_RandomInit(obj, kRandomChooser, nullptr);
    const unsigned char seed[] = "pkcs1";
    Q_RandomUpdate(obj, seed, sizeof seed, nullptr);
  }
  ~Random() { Q_DestroyAlgorithmObject(&obj); }
  Q_ALGORITHM_OBJ obj = nullptr;
};

TEST(Pkcs1Encryption, LengthRulesAndRoundTrip) {
  TestKey key;
  ASSERT_EQ(key.Generate(1024, "pkcs1 lengths"), 0);
  Random random;
  const uint32_t k = key.k();
  for (uint32_t n : {0u, 1u, k - 11}) {
    Bytes plain(n, 0x5C), cipher, back;
    ASSERT_EQ(Crypt(true, QA_RSAPublicPKCS1, key.pub, plain, random.obj, &cipher), 0) << n;
    EXPECT_EQ(cipher.size(), k);
    ASSERT_EQ(Crypt(false, QA_RSAPrivatePKCS1, key.priv, cipher, nullptr, &back), 0) << n;
    EXPECT_EQ(back, plain);
    Bytes block = key.RawPrivate(cipher);
    EXPECT_EQ(block[1], 0x02);
    for (uint32_t i = 2; i < k - n - 1; ++i) EXPECT_NE(block[i], 0) << "pad bytes are non-zero";
  }
  Bytes cipher;
  EXPECT_EQ(Crypt(true, QA_RSAPublicPKCS1, key.pub, Bytes(k - 10, 1), random.obj, &cipher), Q_ERR_INPUT_LEN);
  EXPECT_EQ(Crypt(true, QA_RSAPublicPKCS1, key.pub, Bytes(3, 1), nullptr, &cipher), Q_ERR_RANDOM_OBJ);
  EXPECT_EQ(Crypt(false, QA_RSAPrivatePKCS1, key.priv, Bytes(k + 1, 1), nullptr, &cipher), Q_ERR_INPUT_LEN);
  EXPECT_EQ(Crypt(false, QA_RSAPrivatePKCS1, key.priv, Bytes(k - 1, 1), nullptr, &cipher), Q_ERR_INPUT_LEN);
  EXPECT_EQ(Crypt(false, QA_RSAPrivatePKCS1, key.priv, Bytes(), nullptr, &cipher), Q_ERR_INPUT_LEN);
  EXPECT_EQ(Crypt(false, QA_RSAPrivatePKCS1, key.priv, Bytes(k, 0xFF), nullptr, &cipher), Q_ERR_INPUT_DATA)
      << "a block not below the modulus";
}

// Every case of the published decryption tests: valid ones give the listed
// message, invalid ones fail: a cipher text of the wrong length with 525, and
// every padding failure with the same code, 524.
TEST(Pkcs1Encryption, PublishedDecryptionCases) {
  std::ifstream f(std::string(KVCA_TESTDATA_DIR) + "/wycheproof/rsa_pkcs1_2048_test.json");
  if (!f) GTEST_SKIP() << "missing " << KVCA_TESTDATA_DIR << "/wycheproof/rsa_pkcs1_2048_test.json";
  std::stringstream ss;
  ss << f.rdbuf();
  testsupport::Json doc = testsupport::JsonReader(ss.str()).Parse();
  std::map<int, int> codes;
  int valid = 0;
  for (const auto& group : doc["testGroups"].items) {
    TestKey key;
    ASSERT_EQ(key.FromPkcs8(FromHex(group["privateKeyPkcs8"].text)), 0);
    for (const auto& test : group["tests"].items) {
      SCOPED_TRACE("tcId " + std::to_string(static_cast<int>(test["tcId"].number)) + " " + test["comment"].text);
      Bytes out;
      int status = Crypt(false, QA_RSAPrivatePKCS1, key.priv, FromHex(test["ct"].text), nullptr, &out);
      if (test["result"].text == "valid") {
        ASSERT_EQ(status, 0);
        EXPECT_EQ(out, FromHex(test["msg"].text));
        ++valid;
      } else if (FromHex(test["ct"].text).size() != key.k()) {
        EXPECT_EQ(status, Q_ERR_INPUT_LEN) << "a cipher text that is not one block";
      } else {
        ++codes[status];
      }
    }
  }
  EXPECT_GT(valid, 0);
  EXPECT_EQ(codes.size(), 1u) << "one code for every padding failure";
  EXPECT_EQ(codes.begin()->first, Q_ERR_INPUT_DATA);
}

}  // namespace
