// Password-based encryption through the Q_ interface: equality with the
// PKCS #5 PBES1 (PBE-SHA1-DES) of the openssl command line, the length
// rules, wrong passwords, the failure codes, allocation failure and wiping.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cryptokit/cryptokit.h"
#include "support/memory_hooks.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Q_ALGORITHM_METHOD* const kPbeChooser[] = {&QM_SHA1, &QM_DESCBCEncrypt, &QM_DESCBCDecrypt, nullptr};
const uint8_t kSalt[8] = {0x6b, 0x3e, 0x15, 0xa0, 0x47, 0xd2, 0x09, 0x5f};

struct PbeCall {
  bool encrypt = true;
  std::string password = "correct horse";
  const uint8_t* salt = kSalt;
  uint32_t iterations = 5;
  Q_CHOOSER chooser = kPbeChooser;
  size_t piece = 0;  // Update in pieces of this size; 0 means one Update
};

// One whole encryption or decryption as the key service does it: output
// capacity input + 8 when encrypting, input when decrypting. Returns the
// first failing status.
int RunPbe(const PbeCall& call, const Bytes& input, Bytes* output) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ key = nullptr;
  Q_PBE_PARAMS params{const_cast<uint8_t*>(call.salt), call.iterations};
  Q_ITEM password{reinterpret_cast<unsigned char*>(const_cast<char*>(call.password.data())),
                  static_cast<uint32_t>(call.password.size())};
  uint32_t capacity = static_cast<uint32_t>(input.size() + (call.encrypt ? 8 : 0));
  output->assign(capacity, 0);
  uint32_t written = 0;
  int status = Q_CreateAlgorithmObject(&alg);
  if (status == 0) status = Q_SetAlgorithmInfo(alg, QA_PBEWithSHA1AndDESCBC, &params);
  if (status == 0) status = Q_CreateKeyObject(&key);
  if (status == 0) status = Q_SetKeyInfo(key, QK_Item, &password);
  if (status == 0) {
    status = call.encrypt ? Q_EncryptInit(alg, key, call.chooser, nullptr) : Q_DecryptInit(alg, key, call.chooser, nullptr);
  }
  size_t piece = call.piece == 0 ? std::max<size_t>(input.size(), 1) : call.piece;
  for (size_t at = 0; status == 0 && (at < input.size() || at == 0); at += piece) {
    uint32_t n = static_cast<uint32_t>(std::min(piece, input.size() - at));
    uint32_t len = 0;
    auto update = call.encrypt ? Q_EncryptUpdate : Q_DecryptUpdate;
    status = update(alg, output->data() + written, &len, capacity - written, input.data() + at, n, nullptr, nullptr);
    written += len;
    if (input.empty()) break;
  }
  if (status == 0) {
    uint32_t len = 0;
    auto final = call.encrypt ? Q_EncryptFinal : Q_DecryptFinal;
    status = final(alg, output->data() + written, &len, capacity - written, nullptr, nullptr);
    written += len;
  }
  output->resize(written);
  Q_DestroyKeyObject(&key);
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------------------
// Equality with PBE-SHA1-DES as the openssl command line writes it into a
// PKCS #8 EncryptedPrivateKeyInfo.

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads one DER element of tag |tag| at |*at| and moves past it; its contents
// go to |contents|. False when the bytes are not that element.
bool ReadElement(const Bytes& der, size_t* at, uint8_t tag, Bytes* contents) {
  size_t p = *at;
  if (p + 2 > der.size() || der[p] != tag) return false;
  size_t length = der[p + 1];
  p += 2;
  if (length & 0x80) {
    size_t count = length & 0x7f;
    if (count == 0 || count > 3 || p + count > der.size()) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | der[p++];
  }
  if (p + length > der.size()) return false;
  contents->assign(der.begin() + static_cast<long>(p), der.begin() + static_cast<long>(p + length));
  *at = p + length;
  return true;
}

struct EncryptedKeyInfo {
  Bytes salt;
  uint32_t iterations = 0;
  Bytes cipherText;
};

// EncryptedPrivateKeyInfo ::= SEQUENCE { SEQUENCE { OID pbeWithSHA1AndDES-CBC,
// SEQUENCE { OCTET STRING salt, INTEGER iterations } }, OCTET STRING }.
bool ParseEncryptedKeyInfo(const Bytes& der, EncryptedKeyInfo* out) {
  static const Bytes kPbeSha1DesOid = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x05, 0x0a};
  Bytes outer, algorithm, oid, params, count;
  size_t at = 0;
  if (!ReadElement(der, &at, 0x30, &outer)) return false;
  at = 0;
  if (!ReadElement(outer, &at, 0x30, &algorithm) || !ReadElement(outer, &at, 0x04, &out->cipherText)) return false;
  size_t a = 0;
  if (!ReadElement(algorithm, &a, 0x06, &oid) || oid != kPbeSha1DesOid) return false;
  if (!ReadElement(algorithm, &a, 0x30, &params)) return false;
  size_t p = 0;
  if (!ReadElement(params, &p, 0x04, &out->salt) || !ReadElement(params, &p, 0x02, &count)) return false;
  if (out->salt.size() != 8 || count.empty() || count.size() > 4) return false;
  for (uint8_t b : count) out->iterations = (out->iterations << 8) | b;
  return true;
}

class OpensslPkcs8 : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kvca-des-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  bool Run(const std::string& command) {
    return std::system((command + " >" + (dir_ / "log").string() + " 2>&1").c_str()) == 0;
  }
  std::filesystem::path dir_;
};

TEST_F(OpensslPkcs8, OursDecryptsItsKeyAndReproducesItsCipherText) {
  const std::string password = "root pass 42";
  const std::string key = (dir_ / "key.der").string();
  const std::string plain = (dir_ / "plain.der").string();
  if (!Run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -outform DER -out " + key) ||
      !Run("openssl pkcs8 -topk8 -nocrypt -inform DER -in " + key + " -outform DER -out " + plain)) {
    GTEST_SKIP() << "the openssl command line is not available";
  }
  for (const char* iterations : {"5", "2048", "1"}) {
    SCOPED_TRACE(iterations);
    const std::string encrypted = (dir_ / "enc.der").string();
    if (!Run(std::string("openssl pkcs8 -topk8 -v1 PBE-SHA1-DES -provider legacy -provider default -iter ") +
             iterations + " -inform DER -in " + key + " -outform DER -passout pass:'" + password + "' -out " +
             encrypted)) {
      GTEST_SKIP() << "openssl cannot write PBE-SHA1-DES (is the legacy provider installed?)";
    }
    EncryptedKeyInfo info;
    ASSERT_TRUE(ParseEncryptedKeyInfo(ReadFile(encrypted), &info));
    EXPECT_EQ(std::to_string(info.iterations), iterations);

    PbeCall call;
    call.password = password;
    call.salt = info.salt.data();
    call.iterations = info.iterations;
    call.encrypt = false;
    Bytes decrypted;
    ASSERT_EQ(RunPbe(call, info.cipherText, &decrypted), 0);
    EXPECT_EQ(decrypted, ReadFile(plain));

    call.encrypt = true;
    Bytes reencrypted;
    ASSERT_EQ(RunPbe(call, decrypted, &reencrypted), 0);
    EXPECT_EQ(reencrypted, info.cipherText);
  }
}

// ---------------------------------------------------------------------------

TEST(Pbe, LengthsRoundTripAndSplitUpdates) {
  for (size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 100u}) {
    SCOPED_TRACE(length);
    Bytes plain(length);
    for (size_t i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 37 + 11);
    Bytes cipher;
    ASSERT_EQ(RunPbe(PbeCall{}, plain, &cipher), 0);
    EXPECT_EQ(cipher.size(), (length / 8 + 1) * 8);
    for (size_t piece : {1u, 3u, 8u, 13u}) {
      PbeCall call;
      call.piece = piece;
      Bytes again;
      ASSERT_EQ(RunPbe(call, plain, &again), 0);
      EXPECT_EQ(again, cipher);  // deterministic, independent of the pieces
      call.encrypt = false;
      Bytes back;
      ASSERT_EQ(RunPbe(call, cipher, &back), 0);
      EXPECT_EQ(back, plain);
    }
  }
}

TEST(Pbe, FinalRestartsTheChainForTheNextMessage) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ key = nullptr;
  Q_PBE_PARAMS params{const_cast<uint8_t*>(kSalt), 5};
  Q_ITEM password{reinterpret_cast<unsigned char*>(const_cast<char*>("pw")), 2};
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_PBEWithSHA1AndDESCBC, &params), 0);
  ASSERT_EQ(Q_CreateKeyObject(&key), 0);
  ASSERT_EQ(Q_SetKeyInfo(key, QK_Item, &password), 0);
  ASSERT_EQ(Q_EncryptInit(alg, key, kPbeChooser, nullptr), 0);
  const Bytes message = Text("the same twelve bytes");
  Bytes first, second;
  for (Bytes* out : {&first, &second}) {
    out->assign(message.size() + 8, 0);
    uint32_t u = 0, f = 0;
    ASSERT_EQ(Q_EncryptUpdate(alg, out->data(), &u, static_cast<uint32_t>(out->size()), message.data(),
                              static_cast<uint32_t>(message.size()), nullptr, nullptr), 0);
    ASSERT_EQ(Q_EncryptFinal(alg, out->data() + u, &f, static_cast<uint32_t>(out->size()) - u, nullptr, nullptr), 0);
  }
  EXPECT_EQ(first, second);
  // Capacity too small at Update and at Final.
  uint8_t small[8];
  uint32_t len = 0;
  EXPECT_EQ(Q_EncryptUpdate(alg, small, &len, 8, message.data(), 16, nullptr, nullptr), Q_ERR_OUTPUT_LEN);
  EXPECT_EQ(Q_EncryptFinal(alg, small, &len, 7, nullptr, nullptr), Q_ERR_OUTPUT_LEN);
  Q_DestroyKeyObject(&key);
  Q_DestroyAlgorithmObject(&alg);
}

TEST(Pbe, FailureCodes) {
  const Bytes cipherOf12 = [] {
    Bytes c;
    RunPbe(PbeCall{}, Text("twelve bytes"), &c);
    return c;
  }();
  ASSERT_EQ(cipherOf12.size(), 16u);
  const Q_ALGORITHM_METHOD* const noSha1[] = {&QM_MD5, &QM_DESCBCEncrypt, &QM_DESCBCDecrypt, nullptr};
  const Q_ALGORITHM_METHOD* const noDecrypt[] = {&QM_SHA1, &QM_DESCBCEncrypt, nullptr};

  struct Row {
    const char* what;
    PbeCall call;
    Bytes input;
    int status;
  };
  auto decrypting = [](PbeCall c) {
    c.encrypt = false;
    return c;
  };
  PbeCall zeroIterations;
  zeroIterations.iterations = 0;
  PbeCall withoutSha1;
  withoutSha1.chooser = noSha1;
  PbeCall withoutDecrypt = decrypting(PbeCall{});
  withoutDecrypt.chooser = noDecrypt;
  const Row rows[] = {
      {"iteration count 0", zeroIterations, Text("x"), Q_ERR_INPUT_DATA},
      {"no SHA-1 method", withoutSha1, Text("x"), Q_ERR_NO_METHOD},
      {"no decrypting DES-CBC method", withoutDecrypt, cipherOf12, Q_ERR_NO_METHOD},
      {"12 bytes of cipher text", decrypting(PbeCall{}), Bytes(12, 7), Q_ERR_INPUT_LEN},
      {"no cipher text", decrypting(PbeCall{}), Bytes(), Q_ERR_INPUT_LEN},
      {"cipher text cut short", decrypting(PbeCall{}), Bytes(cipherOf12.begin(), cipherOf12.end() - 1),
       Q_ERR_INPUT_LEN},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Bytes out;
    EXPECT_EQ(RunPbe(r.call, r.input, &out), r.status);
  }

  // No key, an empty key object.
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ empty = nullptr;
  Q_PBE_PARAMS params{const_cast<uint8_t*>(kSalt), 5};
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_PBEWithSHA1AndDESCBC, &params), 0);
  ASSERT_EQ(Q_CreateKeyObject(&empty), 0);
  EXPECT_EQ(Q_DecryptInit(alg, nullptr, kPbeChooser, nullptr), Q_ERR_KEY_OBJ);
  EXPECT_EQ(Q_DecryptInit(alg, empty, kPbeChooser, nullptr), Q_ERR_KEY_NOT_SET);
  uint8_t out[8];
  uint32_t len = 0;
  EXPECT_EQ(Q_DecryptFinal(alg, out, &len, 8, nullptr, nullptr), Q_ERR_NOT_INITIALIZED);
  // The parameters are copied: the object answers with its own copy.
  void* info = nullptr;
  ASSERT_EQ(Q_GetAlgorithmInfo(&info, alg, QA_PBEWithSHA1AndDESCBC), 0);
  const auto* copy = static_cast<const Q_PBE_PARAMS*>(info);
  EXPECT_NE(copy->salt, kSalt);
  EXPECT_EQ(Bytes(copy->salt, copy->salt + 8), Bytes(kSalt, kSalt + 8));
  EXPECT_EQ(copy->iterationCount, 5u);
  Q_PBE_PARAMS noSalt{nullptr, 5};
  Q_ALGORITHM_OBJ other = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&other), 0);
  EXPECT_EQ(Q_SetAlgorithmInfo(other, QA_PBEWithSHA1AndDESCBC, &noSalt), Q_ERR_INPUT_DATA);
  EXPECT_EQ(Q_SetAlgorithmInfo(other, QA_PBEWithSHA1AndDESCBC, nullptr), Q_ERR_INPUT_DATA);
  Q_DestroyAlgorithmObject(&other);
  Q_DestroyKeyObject(&empty);
  Q_DestroyAlgorithmObject(&alg);
}

TEST(Pbe, WrongPasswordsFailThePaddingCheck) {
  const Bytes plain = Text("-----a private key, more or less-----");
  Bytes cipher;
  ASSERT_EQ(RunPbe(PbeCall{}, plain, &cipher), 0);
  int refused = 0;
  const int tries = 64;
  for (int i = 0; i < tries; ++i) {
    PbeCall call;
    call.encrypt = false;
    call.password = "wrong password " + std::to_string(i);
    Bytes out;
    int status = RunPbe(call, cipher, &out);
    // A wrong key gives valid-looking padding only by chance (about 1 in 256).
    if (status == Q_ERR_INPUT_DATA) {
      ++refused;
    } else {
      EXPECT_EQ(status, 0);
      EXPECT_NE(out, plain);
    }
  }
  EXPECT_GE(refused, tries - 2);
}

TEST(Pbe, AllocationFailureAtEachStepOfADecryption) {
  Bytes cipher;
  ASSERT_EQ(RunPbe(PbeCall{}, Text("a secret key encoding"), &cipher), 0);
  PbeCall call;
  call.encrypt = false;
  uint64_t needed = testsupport::ForEachAllocationFailure(
      [&] {
        Bytes out;
        return RunPbe(call, cipher, &out);
      },
      [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, Q_ERR_ALLOC);
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
      });
  EXPECT_GT(needed, 5u);
}

TEST(Pbe, ReleasedBlocksAreWiped) {
  testsupport::MemoryWatch watch;
  Bytes cipher, back;
  PbeCall call;
  ASSERT_EQ(RunPbe(call, Text("key material to be wiped"), &cipher), 0);
  call.encrypt = false;
  ASSERT_EQ(RunPbe(call, cipher, &back), 0);
  call.password = "wrong";
  RunPbe(call, cipher, &back);
  EXPECT_GT(watch.allocations(), 0u);
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

}  // namespace
