// HMAC-SHA-1/256/384/512 and PBKDF2: the RFC 2202, RFC 4231, RFC 6070 and
// RFC 7914 known answers, the Wycheproof HMAC and PBKDF2 vectors, libcrypto
// on random keys and messages (with the portable and the instruction
// compressions), and the failure codes of Q_PBKDF2.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <string>

#include "cipher_runner.h"
#include "cryptokit/digest/digests.h"

namespace {

using aestest::Bytes;
using testsupport::FromHex;
using testsupport::ToHex;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct MacAnswer {
  const char* name;
  Q_INFO_TYPE hmac;
  Bytes key;
  Bytes message;
  const char* mac;
};

TEST(Hmac, KnownAnswersOfRfc2202AndRfc4231) {
  const Bytes key1(20, 0x0b), jefe = Text("Jefe"), key6(131, 0xaa), key6sha1(80, 0xaa);
  const Bytes hi = Text("Hi There"), what = Text("what do ya want for nothing?");
  const Bytes larger = Text("Test Using Larger Than Block-Size Key - Hash Key First");
  const MacAnswer answers[] = {
      {"RFC2202-1", QA_HMACSHA1, key1, hi, "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"RFC2202-2", QA_HMACSHA1, jefe, what, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {"RFC2202-6", QA_HMACSHA1, key6sha1, larger, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {"RFC4231-1/256", QA_HMACSHA256, key1, hi, "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"RFC4231-1/384", QA_HMACSHA384, key1, hi,
       "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
      {"RFC4231-1/512", QA_HMACSHA512, key1, hi,
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4"
       "be9d914eeb61f1702e696c203a126854"},
      {"RFC4231-2/256", QA_HMACSHA256, jefe, what, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {"RFC4231-2/384", QA_HMACSHA384, jefe, what,
       "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
      {"RFC4231-2/512", QA_HMACSHA512, jefe, what,
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fd"
       "caeab1a34d4a6b4b636e070a38bce737"},
      {"RFC4231-6/256", QA_HMACSHA256, key6, larger,
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {"RFC4231-6/384", QA_HMACSHA384, key6, larger,
       "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
      {"RFC4231-6/512", QA_HMACSHA512, key6, larger,
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e52"
       "95e64f73f63f0aec8b915a985d786598"},
  };
  for (const MacAnswer& a : answers) {
    Bytes mac;
    ASSERT_EQ(aestest::RunMac(a.hmac, a.key, a.message, &mac), 0) << a.name;
    EXPECT_EQ(ToHex(mac), a.mac) << a.name;
  }
}

struct Digest {
  Q_INFO_TYPE hmac;
  const EVP_MD* (*md)();
  const char* wycheproof;
};
const Digest kDigests[] = {
    {QA_HMACSHA1, EVP_sha1, nullptr},
    {QA_HMACSHA256, EVP_sha256, "hmac_sha256_test.json"},
    {QA_HMACSHA384, EVP_sha384, "hmac_sha384_test.json"},
    {QA_HMACSHA512, EVP_sha512, "hmac_sha512_test.json"},
};

TEST(Hmac, MatchesLibcryptoWithBothCompressions) {
  for (bool instructions : {true, false}) {
    qk::Sha1UseShaInstructions(instructions);
    qk::Sha256UseShaInstructions(instructions);
    qk::Sha512UseVectorSchedule(instructions);
    for (const Digest& d : kDigests) {
      for (uint32_t seed = 1; seed <= 30; ++seed) {
        // Keys around the block lengths (64 and 128) and messages of any length.
        const Bytes key = aestest::Pseudo((seed * 11) % 200, seed), msg = aestest::Pseudo((seed * 53) % 700, seed + 9);
        Bytes mac;
        ASSERT_EQ(aestest::RunMac(d.hmac, key, msg, &mac), 0);
        unsigned char ref[64];
        unsigned refLen = 0;
        HMAC(d.md(), key.data(), static_cast<int>(key.size()), msg.data(), msg.size(), ref, &refLen);
        EXPECT_EQ(ToHex(mac), ToHex(ref, refLen)) << "seed " << seed;
      }
    }
  }
  qk::Sha1UseShaInstructions(true);
  qk::Sha256UseShaInstructions(true);
  qk::Sha512UseVectorSchedule(true);
}

TEST(Hmac, FinalRestartsUnderTheSameKeyAndPiecesDoNotMatter) {
  const Bytes key = Text("key"), msg = aestest::Pseudo(300, 4);
  Bytes whole;
  ASSERT_EQ(aestest::RunMac(QA_HMACSHA256, key, msg, &whole), 0);
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ k = nullptr;
  Q_ITEM item{const_cast<unsigned char*>(key.data()), 3};
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_HMACSHA256, nullptr), 0);
  ASSERT_EQ(Q_CreateKeyObject(&k), 0);
  ASSERT_EQ(Q_SetKeyInfo(k, QK_Item, &item), 0);
  ASSERT_EQ(Q_DigestInit(alg, k, aestest::kChooser, nullptr), 0);
  unsigned char out[32];
  uint32_t len = 0;
  for (int round = 0; round < 2; ++round) {
    for (size_t at = 0; at < msg.size(); at += 70) {
      ASSERT_EQ(Q_DigestUpdate(alg, msg.data() + at, static_cast<uint32_t>(std::min<size_t>(70, msg.size() - at)),
                               nullptr), 0);
    }
    EXPECT_EQ(Q_DigestFinal(alg, out, &len, 31, nullptr), Q_ERR_OUTPUT_LEN);
    ASSERT_EQ(Q_DigestFinal(alg, out, &len, sizeof out, nullptr), 0);
    EXPECT_EQ(ToHex(out, len), ToHex(whole)) << "round " << round;
  }
  Q_DestroyKeyObject(&k);
  Q_DestroyAlgorithmObject(&alg);
  // No key object: the HMAC method cannot be chosen.
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_HMACSHA256, nullptr), 0);
  EXPECT_EQ(Q_DigestInit(alg, nullptr, aestest::kChooser, nullptr), Q_ERR_KEY_OBJ);
  Q_DestroyAlgorithmObject(&alg);
}

TEST(Hmac, WycheproofVectors) {
  int run = 0;
  for (const Digest& d : kDigests) {
    if (d.wycheproof == nullptr) continue;
    testsupport::Json doc;
    if (!aestest::LoadWycheproof(d.wycheproof, &doc)) GTEST_SKIP() << "no " << d.wycheproof;
    for (const auto& group : doc["testGroups"].items) {
      const size_t tagBytes = static_cast<size_t>(group["tagSize"].number) / 8;
      for (const auto& t : group["tests"].items) {
        Bytes mac;
        ASSERT_EQ(aestest::RunMac(d.hmac, FromHex(t["key"].text), FromHex(t["msg"].text), &mac), 0);
        mac.resize(std::min(mac.size(), tagBytes));
        const bool same = ToHex(mac) == t["tag"].text;
        EXPECT_EQ(same, t["result"].text == "valid") << d.wycheproof << " tcId " << t["tcId"].number;
        ++run;
      }
    }
  }
  EXPECT_GT(run, 300);
}

struct KdfAnswer {
  const char* name;
  Q_INFO_TYPE prf;
  std::string password;
  std::string salt;
  uint32_t iterations;
  const char* derived;
};

TEST(Pbkdf2, KnownAnswersOfRfc6070AndRfc7914) {
  const KdfAnswer answers[] = {
      {"RFC6070-1", QA_HMACSHA1, "password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"RFC6070-2", QA_HMACSHA1, "password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"RFC6070-3", QA_HMACSHA1, "password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
      {"RFC6070-5", QA_HMACSHA1, "passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {"RFC6070-6", QA_HMACSHA1, std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
       "56fa6aa75548099dcc37d7f03425e0c3"},
      {"RFC7914-1", QA_HMACSHA256, "passwd", "salt", 1,
       "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
       "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
      {"RFC7914-2", QA_HMACSHA256, "Password", "NaCl", 80000,
       "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
       "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
  };
  for (const KdfAnswer& a : answers) {
    Bytes out(std::string(a.derived).size() / 2);
    ASSERT_EQ(Q_PBKDF2(a.prf, aestest::kChooser, reinterpret_cast<const unsigned char*>(a.password.data()),
                       static_cast<uint32_t>(a.password.size()), reinterpret_cast<const unsigned char*>(a.salt.data()),
                       static_cast<uint32_t>(a.salt.size()), a.iterations, out.data(),
                       static_cast<uint32_t>(out.size()), nullptr),
              0)
        << a.name;
    EXPECT_EQ(ToHex(out), a.derived) << a.name;
  }
}

TEST(Pbkdf2, MatchesLibcryptoAndWycheproof) {
  for (const Digest& d : kDigests) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      const Bytes pw = aestest::Pseudo(seed * 23 % 150, seed), salt = aestest::Pseudo(8 + seed, seed + 50);
      const uint32_t iterations = seed * 97, outLen = seed * 29;
      Bytes ours(outLen), ref(outLen);
      ASSERT_EQ(Q_PBKDF2(d.hmac, aestest::kChooser, pw.data(), static_cast<uint32_t>(pw.size()), salt.data(),
                         static_cast<uint32_t>(salt.size()), iterations, ours.data(), outLen, nullptr),
                0);
      PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(pw.data()), static_cast<int>(pw.size()), salt.data(),
                        static_cast<int>(salt.size()), static_cast<int>(iterations), d.md(), static_cast<int>(outLen),
                        ref.data());
      EXPECT_EQ(ToHex(ours), ToHex(ref)) << "seed " << seed;
    }
  }
  const std::pair<const char*, Q_INFO_TYPE> files[] = {{"pbkdf2_hmacsha1_test.json", QA_HMACSHA1},
                                                       {"pbkdf2_hmacsha256_test.json", QA_HMACSHA256}};
  for (const auto& [file, prf] : files) {
    testsupport::Json doc;
    if (!aestest::LoadWycheproof(file, &doc)) continue;
    for (const auto& group : doc["testGroups"].items) {
      for (const auto& t : group["tests"].items) {
        const uint32_t iterations = static_cast<uint32_t>(t["iterationCount"].number);
        if (iterations > 100000) continue;  // the slowest ones add nothing
        const Bytes pw = FromHex(t["password"].text), salt = FromHex(t["salt"].text);
        Bytes out(static_cast<size_t>(t["dkLen"].number));
        const int status = Q_PBKDF2(prf, aestest::kChooser, pw.data(), static_cast<uint32_t>(pw.size()), salt.data(),
                                    static_cast<uint32_t>(salt.size()), iterations, out.data(),
                                    static_cast<uint32_t>(out.size()), nullptr);
        if (t["result"].text == "valid") {
          EXPECT_EQ(status, 0) << file << " tcId " << t["tcId"].number;
          EXPECT_EQ(ToHex(out), t["dk"].text) << file << " tcId " << t["tcId"].number;
        }
      }
    }
  }
}

int StopAtOnce(void*) { return 1; }

TEST(Pbkdf2, RefusalsAndStopping) {
  const unsigned char pw[] = "pw", salt[] = "saltsalt";
  unsigned char out[32];
  struct Case {
    const char* name;
    Q_INFO_TYPE prf;
    const unsigned char* salt;
    uint32_t iterations;
    uint32_t outLen;
    Q_CHOOSER chooser;
    int expected;
  };
  const Q_ALGORITHM_METHOD* const noHmac[] = {&QM_AES256CBCEncrypt, nullptr};
  const Case cases[] = {
      {"zero iterations", QA_HMACSHA256, salt, 0, 32, aestest::kChooser, Q_ERR_PBE_ITERATIONS},
      {"not an HMAC", QA_AES256CBCPad, salt, 1, 32, aestest::kChooser, Q_ERR_WRONG_KIND},
      {"key info type", QK_Item, salt, 1, 32, aestest::kChooser, Q_ERR_WRONG_KIND},
      {"null salt", QA_HMACSHA256, nullptr, 1, 32, aestest::kChooser, Q_ERR_INPUT_DATA},
      {"no output", QA_HMACSHA256, salt, 1, 0, aestest::kChooser, Q_ERR_OUTPUT_LEN},
      {"no method", QA_HMACSHA256, salt, 1, 32, noHmac, Q_ERR_NO_METHOD},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Q_PBKDF2(c.prf, c.chooser, pw, 2, c.salt, 8, c.iterations, out, c.outLen, nullptr), c.expected)
        << c.name;
  }
  Q_SURRENDER_CTX stop{StopAtOnce, nullptr};
  std::fill(out, out + sizeof out, 0x77);
  EXPECT_EQ(Q_PBKDF2(QA_HMACSHA256, aestest::kChooser, pw, 2, salt, 8, 5000, out, sizeof out, &stop), Q_ERR_CANCEL);
  EXPECT_EQ(ToHex(out, sizeof out), std::string(64, '0'));
  EXPECT_EQ(Q_PBKDF2(QA_HMACSHA256, aestest::kChooser, pw, 2, salt, 8, 4095, out, sizeof out, &stop), 0);
}

}  // namespace
