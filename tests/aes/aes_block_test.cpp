// AES-128/256-CBC: the FIPS 197 and SP 800-38A known answers on both block
// implementations, the two implementations against each other and against
// libcrypto on random data, the Wycheproof AES-CBC-PKCS5 vectors, and the
// padding and length failures.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "cipher_runner.h"
#include "cryptokit/aes/aes.h"

namespace {

using aestest::Bytes;
using testsupport::FromHex;
using testsupport::ToHex;

std::vector<const qk::AesImplementation*> Implementations() {
  std::vector<const qk::AesImplementation*> v{&qk::kAesPortable};
  if (qk::AesCpuHasAesInstructions()) v.push_back(&qk::kAesInstructions);
  return v;
}

// CBC over whole blocks with one implementation, no padding.
Bytes Cbc(const qk::AesImplementation* impl, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& in) {
  qk::AesKeySchedule ks;
  (encrypt ? impl->expandEncrypt : impl->expandDecrypt)(key.data(), static_cast<uint32_t>(key.size()), &ks);
  Bytes chain = iv, out(in.size());
  (encrypt ? impl->cbcEncrypt : impl->cbcDecrypt)(&ks, chain.data(), in.data(), out.data(), in.size() / 16);
  return out;
}

struct KnownAnswer {
  const char* name;
  const char* key;
  const char* iv;
  const char* plain;
  const char* cipher;
};

const std::string kSp80038aPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

const KnownAnswer kKnownAnswers[] = {
    // FIPS 197, appendix C.1 and C.3 (one block; a zero IV makes CBC the
    // plain cipher).
    {"FIPS197-C1", "000102030405060708090a0b0c0d0e0f", "00000000000000000000000000000000",
     "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"FIPS197-C3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00000000000000000000000000000000", "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    // SP 800-38A, F.2.1 and F.2.5.
    {"SP800-38A-F.2.1", "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     kSp80038aPlain.c_str(),
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"SP800-38A-F.2.5", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "000102030405060708090a0b0c0d0e0f", kSp80038aPlain.c_str(),
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

TEST(AesCbc, KnownAnswersOnEveryImplementationAndThroughTheInterface) {
  for (const KnownAnswer& k : kKnownAnswers) {
    const Bytes key = FromHex(k.key), iv = FromHex(k.iv), plain = FromHex(k.plain), cipher = FromHex(k.cipher);
    for (const auto* impl : Implementations()) {
      EXPECT_EQ(ToHex(Cbc(impl, true, key, iv, plain)), k.cipher) << k.name;
      EXPECT_EQ(ToHex(Cbc(impl, false, key, iv, cipher)), k.plain) << k.name;
    }
    // Through Q_: the padded form adds one block of sixteen 0x10 bytes.
    const bool wide = key.size() == 32;
    aestest::CipherCall call{wide ? QA_AES256CBCPad : QA_AES128CBCPad, iv.data(),
                             wide ? QK_AES256Key : QK_AES128Key, key.data()};
    Bytes out;
    ASSERT_EQ(aestest::RunCipher(call, plain, &out), 0) << k.name;
    ASSERT_EQ(out.size(), plain.size() + 16);
    EXPECT_EQ(ToHex(Bytes(out.begin(), out.begin() + plain.size())), k.cipher) << k.name;
    call.encrypt = false;
    Bytes back;
    ASSERT_EQ(aestest::RunCipher(call, out, &back), 0) << k.name;
    EXPECT_EQ(back, plain) << k.name;
  }
}

TEST(AesCbc, ImplementationsAgreeOnKeySchedulesAndData) {
  if (!qk::AesCpuHasAesInstructions()) GTEST_SKIP() << "no AES instructions here";
  for (uint32_t keyLength : {16u, 32u}) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      const Bytes key = aestest::Pseudo(keyLength, seed), iv = aestest::Pseudo(16, seed + 100);
      qk::AesKeySchedule a, b;
      qk::kAesPortable.expandEncrypt(key.data(), keyLength, &a);
      qk::kAesInstructions.expandEncrypt(key.data(), keyLength, &b);
      ASSERT_EQ(a.rounds, b.rounds);
      ASSERT_EQ(ToHex(&a.rk[0][0], 16 * (a.rounds + 1)), ToHex(&b.rk[0][0], 16 * (b.rounds + 1)));
      // Lengths around the eight-block pipeline of the decrypting side.
      const Bytes data = aestest::Pseudo(16 * (seed % 19), seed + 200);
      const Bytes c1 = Cbc(&qk::kAesPortable, true, key, iv, data);
      EXPECT_EQ(c1, Cbc(&qk::kAesInstructions, true, key, iv, data));
      EXPECT_EQ(Cbc(&qk::kAesPortable, false, key, iv, c1), data);
      EXPECT_EQ(Cbc(&qk::kAesInstructions, false, key, iv, c1), data);
    }
  }
}

// libcrypto's AES-CBC with its PKCS padding, for comparison.
Bytes ReferenceEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, key.size() == 32 ? EVP_aes_256_cbc() : EVP_aes_128_cbc(), nullptr, key.data(), iv.data());
  Bytes out(plain.size() + 16);
  int n = 0, m = 0;
  EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + m));
  return out;
}

TEST(AesCbc, MatchesLibcryptoOnRandomDataInPiecesWithBothImplementations) {
  for (bool instructions : {false, true}) {
    qk::AesUseAesInstructions(instructions);
    for (uint32_t seed = 1; seed <= 40; ++seed) {
      const bool wide = (seed & 1) != 0;
      const Bytes key = aestest::Pseudo(wide ? 32 : 16, seed), iv = aestest::Pseudo(16, seed * 7);
      const Bytes plain = aestest::Pseudo((seed * 37) % 300, seed * 13);
      aestest::CipherCall call{wide ? QA_AES256CBCPad : QA_AES128CBCPad, iv.data(),
                               wide ? QK_AES256Key : QK_AES128Key, key.data()};
      call.piece = seed % 5 == 0 ? 0 : (seed * 3) % 41 + 1;
      Bytes cipher, plainAgain;
      ASSERT_EQ(aestest::RunCipher(call, plain, &cipher), 0);
      EXPECT_EQ(cipher, ReferenceEncrypt(key, iv, plain)) << "seed " << seed;
      call.encrypt = false;
      ASSERT_EQ(aestest::RunCipher(call, cipher, &plainAgain), 0);
      EXPECT_EQ(plainAgain, plain);
    }
  }
  qk::AesUseAesInstructions(true);
}

TEST(AesCbc, WycheproofPkcs5Vectors) {
  testsupport::Json doc;
  if (!aestest::LoadWycheproof("aes_cbc_pkcs5_test.json", &doc)) GTEST_SKIP() << "no Wycheproof AES-CBC file";
  int run = 0;
  for (const auto& group : doc["testGroups"].items) {
    const int keyBits = static_cast<int>(group["keySize"].number);
    if (keyBits != 128 && keyBits != 256) continue;
    for (const auto& t : group["tests"].items) {
      const Bytes key = FromHex(t["key"].text), iv = FromHex(t["iv"].text);
      const Bytes msg = FromHex(t["msg"].text), ct = FromHex(t["ct"].text);
      aestest::CipherCall call{keyBits == 256 ? QA_AES256CBCPad : QA_AES128CBCPad, iv.data(),
                               keyBits == 256 ? QK_AES256Key : QK_AES128Key, key.data()};
      call.encrypt = false;
      Bytes out;
      const int status = aestest::RunCipher(call, ct, &out);
      if (t["result"].text == "valid") {
        EXPECT_EQ(status, 0) << "tcId " << t["tcId"].number;
        EXPECT_EQ(out, msg) << "tcId " << t["tcId"].number;
        call.encrypt = true;
        ASSERT_EQ(aestest::RunCipher(call, msg, &out), 0);
        EXPECT_EQ(out, ct) << "tcId " << t["tcId"].number;
      } else {
        EXPECT_TRUE(status == Q_ERR_INPUT_DATA || status == Q_ERR_INPUT_LEN)
            << "tcId " << t["tcId"].number << " status " << status;
      }
      ++run;
    }
  }
  EXPECT_GT(run, 100);
}

// Encrypts a last block of our choosing with no padding of our own, so the
// decrypting side sees exactly that block.
Bytes RawLastBlock(const Bytes& key, const Bytes& iv, const Bytes& block) {
  return Cbc(qk::AesChosenImplementation(), true, key, iv, block);
}

TEST(AesCbc, BadPaddingAndLengthsAreRefused) {
  const Bytes key = aestest::Pseudo(32, 5), iv = aestest::Pseudo(16, 6);
  struct Case {
    const char* name;
    Bytes lastBlock;
    int expected;
  };
  Bytes zeroPad(16, 0x41), bigPad(16, 0x11), mixed(16, 0x04), good(16, 0x03), full(16, 0x10);
  zeroPad[15] = 0x00;
  mixed[12] = 0x05;  // one of the four pad bytes differs
  const Case cases[] = {
      {"pad byte 0", zeroPad, Q_ERR_INPUT_DATA},
      {"pad byte 17", bigPad, Q_ERR_INPUT_DATA},
      {"inconsistent pad", mixed, Q_ERR_INPUT_DATA},
      {"pad 3", good, 0},
      {"whole pad block", full, 0},
  };
  for (const Case& c : cases) {
    aestest::CipherCall call{QA_AES256CBCPad, iv.data(), QK_AES256Key, key.data()};
    call.encrypt = false;
    Bytes out;
    EXPECT_EQ(aestest::RunCipher(call, RawLastBlock(key, iv, c.lastBlock), &out), c.expected) << c.name;
    if (c.expected == 0) {
      EXPECT_EQ(out.size(), 16u - c.lastBlock[15]) << c.name;
    }
  }
  aestest::CipherCall call{QA_AES256CBCPad, iv.data(), QK_AES256Key, key.data()};
  call.encrypt = false;
  Bytes out;
  for (size_t n : {0, 1, 15, 17, 31}) {
    EXPECT_EQ(aestest::RunCipher(call, Bytes(n, 0x11), &out), Q_ERR_INPUT_LEN) << n << " bytes";
  }
}

TEST(AesCbc, KeyOfTheWrongSizeOrNoMethodIsRefused) {
  const Bytes iv(16, 0);
  Q_ITEM shortKey{const_cast<unsigned char*>(iv.data()), 16};
  // A 16-byte QK_Item cannot become an AES-256 key.
  aestest::CipherCall call{QA_AES256CBCPad, iv.data(), QK_Item, &shortKey};
  Bytes out;
  EXPECT_EQ(aestest::RunCipher(call, Bytes(16, 0), &out), Q_ERR_GET_KEY_INFO);
  // ...but is an AES-128 key.
  call.algorithm = QA_AES128CBCPad;
  EXPECT_EQ(aestest::RunCipher(call, Bytes(16, 0), &out), 0);
  const Q_ALGORITHM_METHOD* const onlyDecrypt[] = {&QM_AES128CBCDecrypt, nullptr};
  call.chooser = onlyDecrypt;
  EXPECT_EQ(aestest::RunCipher(call, Bytes(16, 0), &out), Q_ERR_NO_METHOD);
}

}  // namespace
