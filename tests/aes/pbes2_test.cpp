// PBES2 (PBKDF2 + AES-CBC): round trips through the DER form, the Wycheproof
// PBES2 vectors, exchange with the openssl command line in both directions
// (and a wrong password refused by both), and every refusal of the strict
// parameter reader.
#include <gtest/gtest.h>

#include <string>

#include "cipher_runner.h"
#include "cryptokit/der/der.h"
#include "support/openssl_cli.h"

namespace {

using aestest::Bytes;
using testsupport::FromHex;
using testsupport::ToHex;

// ---------------------------------------------------------------------------
// A small DER writer for building parameter variants by hand.

Bytes Tlv(unsigned char tag, const Bytes& contents) {
  Bytes out{tag};
  const size_t n = contents.size();
  if (n < 0x80) {
    out.push_back(static_cast<unsigned char>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<unsigned char>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
  }
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Seq(std::initializer_list<Bytes> parts) { return Tlv(0x30, Cat(parts)); }
Bytes Oid(const char* hex) { return Tlv(0x06, FromHex(hex)); }

const char* const kPbes2 = "2a864886f70d01050d";
const char* const kPbkdf2 = "2a864886f70d01050c";
const char* const kHmacSha256 = "2a864886f70d0209";
const char* const kAes256Cbc = "60864801650304012a";
const Bytes kNull{0x05, 0x00};

struct Variant {
  Bytes outerOid = Oid(kPbes2);
  Bytes kdfOid = Oid(kPbkdf2);
  Bytes salt = Tlv(0x04, Bytes(16, 0x5a));
  Bytes iterations = Tlv(0x02, {0x03, 0xe8});  // 1000
  Bytes keyLength;                             // absent
  Bytes prf = Seq({Oid(kHmacSha256), kNull});
  Bytes cipherOid = Oid(kAes256Cbc);
  Bytes cipherParams = Tlv(0x04, Bytes(16, 0x17));
  Bytes trailing;
  Bytes Build() const {
    return Cat({Seq({outerOid, Seq({Seq({kdfOid, Seq({salt, iterations, keyLength, prf})}),
                                    Seq({cipherOid, cipherParams})})}),
                trailing});
  }
};

int SetBer(const Bytes& der) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_ITEM item{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
  int status = Q_CreateAlgorithmObject(&alg);
  if (status == 0) status = Q_SetAlgorithmInfo(alg, QA_PBES2BER, &item);
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

TEST(Pbes2, StrictParameterReaderGivesEachFaultItsStatus) {
  struct Case {
    const char* name;
    void (*change)(Variant*);
    int expected;
  };
  const Case cases[] = {
      {"good", [](Variant*) {}, 0},
      {"iterations 10,000,000", [](Variant* v) { v->iterations = Tlv(0x02, {0x00, 0x98, 0x96, 0x80}); }, 0},
      {"explicit keyLength 32", [](Variant* v) { v->keyLength = Tlv(0x02, {0x20}); }, 0},
      {"explicit default hmacWithSHA1", [](Variant* v) { v->prf = Seq({Oid("2a864886f70d0207"), kNull}); }, 0},
      {"prf absent (SHA-1)", [](Variant* v) { v->prf.clear(); }, 0},
      {"aes128-CBC", [](Variant* v) { v->cipherOid = Oid("608648016503040102"); }, 0},
      {"iterations 0", [](Variant* v) { v->iterations = Tlv(0x02, {0x00}); }, Q_ERR_PBE_ITERATIONS},
      {"iterations 10,000,001", [](Variant* v) { v->iterations = Tlv(0x02, {0x00, 0x98, 0x96, 0x81}); },
       Q_ERR_PBE_ITERATIONS},
      {"iterations of 5 bytes", [](Variant* v) { v->iterations = Tlv(0x02, {0x01, 0, 0, 0, 0}); },
       Q_ERR_PBE_ITERATIONS},
      {"negative iterations", [](Variant* v) { v->iterations = Tlv(0x02, {0xff}); }, Q_ERR_INPUT_DATA},
      {"non-minimal iterations", [](Variant* v) { v->iterations = Tlv(0x02, {0x00, 0x01}); }, Q_ERR_INPUT_DATA},
      {"unknown PRF (hmacWithSHA224)", [](Variant* v) { v->prf = Seq({Oid("2a864886f70d0208"), kNull}); },
       Q_ERR_PBE_PRF},
      {"PRF without NULL", [](Variant* v) { v->prf = Seq({Oid(kHmacSha256)}); }, Q_ERR_INPUT_DATA},
      {"scrypt instead of PBKDF2", [](Variant* v) { v->kdfOid = Oid("2b06010401da470b"); }, Q_ERR_PBE_PRF},
      {"unknown cipher (des-ede3-cbc)",
       [](Variant* v) {
         v->cipherOid = Oid("2a864886f70d0307");
         v->cipherParams = Tlv(0x04, Bytes(8, 1));
       },
       Q_ERR_PBE_CIPHER},
      {"IV of 15 bytes", [](Variant* v) { v->cipherParams = Tlv(0x04, Bytes(15, 1)); }, Q_ERR_PBE_LENGTH},
      {"IV not an OCTET STRING", [](Variant* v) { v->cipherParams = kNull; }, Q_ERR_INPUT_DATA},
      {"salt of 7 bytes", [](Variant* v) { v->salt = Tlv(0x04, Bytes(7, 1)); }, Q_ERR_PBE_LENGTH},
      {"salt of 65 bytes", [](Variant* v) { v->salt = Tlv(0x04, Bytes(65, 1)); }, Q_ERR_PBE_LENGTH},
      {"keyLength 16 for AES-256", [](Variant* v) { v->keyLength = Tlv(0x02, {0x10}); }, Q_ERR_PBE_LENGTH},
      {"trailing byte", [](Variant* v) { v->trailing = {0x00}; }, Q_ERR_INPUT_DATA},
      {"long-form length", [](Variant* v) { v->salt = Cat({{0x04, 0x81, 0x10}, Bytes(16, 0x5a)}); },
       Q_ERR_INPUT_DATA},
      {"another algorithm (PBES1)", [](Variant* v) { v->outerOid = Oid("2a864886f70d01050a"); },
       Q_ERR_GET_ALGORITHM_INFO},
  };
  for (const Case& c : cases) {
    Variant v;
    c.change(&v);
    EXPECT_EQ(SetBer(v.Build()), c.expected) << c.name;
  }
  // Every truncation of a good encoding is refused, none crashes.
  const Bytes good = Variant().Build();
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_NE(SetBer(Bytes(good.begin(), good.begin() + n)), 0) << n;
  }
  // An indefinite length, which the element reader walks, is not DER.
  Bytes indefinite = good;
  indefinite[1] = 0x80;
  indefinite.insert(indefinite.end(), {0, 0});
  EXPECT_EQ(SetBer(indefinite), Q_ERR_INPUT_DATA);
}

TEST(Pbes2, PlainParametersAreCheckedToo) {
  unsigned char salt[16] = {1}, iv[16] = {2};
  struct Case {
    const char* name;
    Q_PBES2_PARAMS params;
    int expected;
  };
  const Case cases[] = {
      {"good", {{salt, 16}, 600000, QA_HMACSHA256, QA_AES256CBCPad, iv}, 0},
      {"iterations 0", {{salt, 16}, 0, QA_HMACSHA256, QA_AES256CBCPad, iv}, Q_ERR_PBE_ITERATIONS},
      {"digest, not HMAC", {{salt, 16}, 1, QA_SHA256, QA_AES256CBCPad, iv}, Q_ERR_PBE_PRF},
      {"HMAC as cipher", {{salt, 16}, 1, QA_HMACSHA256, QA_HMACSHA1, iv}, Q_ERR_PBE_CIPHER},
      {"short salt", {{salt, 4}, 1, QA_HMACSHA256, QA_AES256CBCPad, iv}, Q_ERR_PBE_LENGTH},
      {"no IV", {{salt, 16}, 1, QA_HMACSHA256, QA_AES256CBCPad, nullptr}, Q_ERR_INPUT_DATA},
  };
  for (const Case& c : cases) {
    Q_ALGORITHM_OBJ alg = nullptr;
    ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
    EXPECT_EQ(Q_SetAlgorithmInfo(alg, QA_PBES2, &c.params), c.expected) << c.name;
    // A refused set leaves the object empty, so it can be set again.
    if (c.expected != 0) {
      EXPECT_EQ(Q_SetAlgorithmInfo(alg, QA_PBES2, &cases[0].params), 0) << c.name;
    }
    Q_DestroyAlgorithmObject(&alg);
  }
}

// Encrypts or decrypts |input| under |password| with an object set from
// |params| (QA_PBES2) or |der| (QA_PBES2BER); |derOut| receives the DER form.
int RunPbes2(const Q_PBES2_PARAMS* params, const Bytes* der, const std::string& password, bool encrypt,
             const Bytes& input, Bytes* output, Bytes* derOut = nullptr) {
  Q_ITEM pw{reinterpret_cast<unsigned char*>(const_cast<char*>(password.data())),
            static_cast<uint32_t>(password.size())};
  Q_ITEM derItem{der != nullptr ? const_cast<unsigned char*>(der->data()) : nullptr,
                 der != nullptr ? static_cast<uint32_t>(der->size()) : 0};
  aestest::CipherCall call{params != nullptr ? QA_PBES2 : QA_PBES2BER,
                           params != nullptr ? static_cast<const void*>(params) : &derItem, QK_Item, &pw};
  call.encrypt = encrypt;
  const int status = aestest::RunCipher(call, input, output);
  if (derOut != nullptr && status == 0) {
    Q_ALGORITHM_OBJ alg = nullptr;
    Q_CreateAlgorithmObject(&alg);
    Q_SetAlgorithmInfo(alg, call.algorithm, call.algorithmInfo);
    void* got = nullptr;
    if (Q_GetAlgorithmInfo(&got, alg, QA_PBES2BER) == 0) {
      const auto* item = static_cast<const Q_ITEM*>(got);
      derOut->assign(item->data, item->data + item->len);
    }
    Q_DestroyAlgorithmObject(&alg);
  }
  return status;
}

TEST(Pbes2, RoundTripThroughTheDerForm) {
  unsigned char salt[16], iv[16];
  for (int i = 0; i < 16; ++i) salt[i] = static_cast<unsigned char>(i * 7), iv[i] = static_cast<unsigned char>(i * 3);
  const Q_INFO_TYPE prfs[] = {QA_HMACSHA1, QA_HMACSHA256, QA_HMACSHA384, QA_HMACSHA512};
  for (Q_INFO_TYPE cipher : {QA_AES128CBCPad, QA_AES256CBCPad}) {
    for (Q_INFO_TYPE prf : prfs) {
      const Q_PBES2_PARAMS params{{salt, 16}, 1000, prf, cipher, iv};
      const Bytes plain = aestest::Pseudo(77, 3);
      Bytes cipherText, der, back, derAgain;
      ASSERT_EQ(RunPbes2(&params, nullptr, "s3cret pw", true, plain, &cipherText, &der), 0);
      ASSERT_FALSE(der.empty());
      ASSERT_EQ(RunPbes2(nullptr, &der, "s3cret pw", false, cipherText, &back, &derAgain), 0);
      EXPECT_EQ(back, plain);
      EXPECT_EQ(derAgain, der);
      EXPECT_NE(RunPbes2(nullptr, &der, "wrong", false, cipherText, &back) == 0 && back == plain, true);
    }
  }
}

TEST(Pbes2, WycheproofVectors) {
  testsupport::Json doc;
  if (!aestest::LoadWycheproof("pbes2_hmacsha256_aes_256_test.json", &doc)) GTEST_SKIP() << "no Wycheproof PBES2";
  int run = 0;
  for (const auto& group : doc["testGroups"].items) {
    for (const auto& t : group["tests"].items) {
      const Bytes pw = FromHex(t["password"].text), salt = FromHex(t["salt"].text), iv = FromHex(t["iv"].text);
      const Bytes msg = FromHex(t["msg"].text), ct = FromHex(t["ct"].text);
      const Q_PBES2_PARAMS params{{const_cast<unsigned char*>(salt.data()), static_cast<uint32_t>(salt.size())},
                                  static_cast<uint32_t>(t["iterationCount"].number), QA_HMACSHA256, QA_AES256CBCPad,
                                  const_cast<unsigned char*>(iv.data())};
      Bytes out;
      const int status = RunPbes2(&params, nullptr, std::string(pw.begin(), pw.end()), false, ct, &out);
      if (t["result"].text == "valid") {
        EXPECT_EQ(status, 0) << "tcId " << t["tcId"].number;
        EXPECT_EQ(out, msg) << "tcId " << t["tcId"].number;
      } else {
        EXPECT_NE(status == 0 && out == msg, true) << "tcId " << t["tcId"].number;
      }
      ++run;
    }
  }
  EXPECT_GT(run, 0);
}

// EncryptedPrivateKeyInfo ::= SEQUENCE { AlgorithmIdentifier, OCTET STRING }
// has the shape of a DigestInfo, whose codec reads and writes it here.
bool SplitEncrypted(const Bytes& der, Bytes* algorithm, Bytes* data) {
  Q_ITEM a{}, d{};
  if (qk::der::DecodeDigestInfo(der.data(), static_cast<uint32_t>(der.size()), &a, &d) != 0) return false;
  algorithm->assign(a.data, a.data + a.len);
  data->assign(d.data, d.data + d.len);
  return true;
}

Bytes JoinEncrypted(const Bytes& algorithm, const Bytes& data) {
  Bytes out(algorithm.size() + data.size() + 16);
  uint32_t len = 0;
  qk::der::BufferSink target{out.data(), static_cast<uint32_t>(out.size()), &len};
  EXPECT_EQ(qk::der::EncodeDigestInfo(Q_ITEM{const_cast<unsigned char*>(algorithm.data()),
                                             static_cast<uint32_t>(algorithm.size())},
                                      Q_ITEM{const_cast<unsigned char*>(data.data()), static_cast<uint32_t>(data.size())},
                                      qk::der::ToBuffer(&target)),
            0);
  out.resize(len);
  return out;
}

TEST(Pbes2, ExchangesKeysWithTheOpensslCommandLine) {
  using testsupport::Run;
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "no openssl command";
  testsupport::ScratchDir dir;
  const std::string key = dir.File("key.pem"), plain = dir.File("plain.der"), theirs = dir.File("theirs.der");
  ASSERT_TRUE(Run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + key));
  ASSERT_TRUE(Run("openssl pkcs8 -topk8 -nocrypt -in " + key + " -outform DER -out " + plain));
  ASSERT_TRUE(Run("openssl pkcs8 -topk8 -v2 aes-256-cbc -v2prf hmacWithSHA256 -iter 1000 -passout pass:Tr0ub4dor -in " +
                  key + " -outform DER -out " + theirs));
  Bytes plainDer, theirsDer, algorithm, data, out;
  ASSERT_TRUE(testsupport::ReadFile(plain, &plainDer));
  ASSERT_TRUE(testsupport::ReadFile(theirs, &theirsDer));
  ASSERT_TRUE(SplitEncrypted(theirsDer, &algorithm, &data));

  // Theirs, read by ours; a wrong password does not give the key back.
  ASSERT_EQ(RunPbes2(nullptr, &algorithm, "Tr0ub4dor", false, data, &out), 0);
  EXPECT_EQ(out, plainDer);
  const int wrong = RunPbes2(nullptr, &algorithm, "Tr0ub4dos", false, data, &out);
  EXPECT_TRUE(wrong != 0 || out != plainDer);

  // Ours, read by theirs (without the legacy provider); a wrong password is
  // refused.
  unsigned char salt[16], iv[16];
  for (int i = 0; i < 16; ++i) salt[i] = static_cast<unsigned char>(0xA0 + i), iv[i] = static_cast<unsigned char>(i);
  const Q_PBES2_PARAMS params{{salt, 16}, 600000, QA_HMACSHA256, QA_AES256CBCPad, iv};
  Bytes ourData, ourAlgorithm, back;
  ASSERT_EQ(RunPbes2(&params, nullptr, "Tr0ub4dor", true, plainDer, &ourData, &ourAlgorithm), 0);
  const std::string ours = dir.File("ours.der"), again = dir.File("again.der");
  ASSERT_TRUE(testsupport::WriteFile(ours, JoinEncrypted(ourAlgorithm, ourData)));
  // The tool writes what it decrypts in its own form; it must be what it
  // makes of its own encryption of the same key.
  const std::string reference = dir.File("reference.der");
  ASSERT_TRUE(Run("openssl pkcs8 -inform DER -in " + ours + " -passin pass:Tr0ub4dor -outform DER -out " + again));
  ASSERT_TRUE(Run("openssl pkcs8 -inform DER -in " + theirs + " -passin pass:Tr0ub4dor -outform DER -out " + reference));
  Bytes referenceDer;
  ASSERT_TRUE(testsupport::ReadFile(again, &back));
  ASSERT_TRUE(testsupport::ReadFile(reference, &referenceDer));
  EXPECT_EQ(back, referenceDer);
  EXPECT_FALSE(Run("openssl pkcs8 -inform DER -in " + ours + " -passin pass:Tr0ub4dos -outform DER -out " +
                   dir.File("wrong.der")));
}

}  // namespace
