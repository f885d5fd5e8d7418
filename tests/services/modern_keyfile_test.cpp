// Modern key files (tag 3, PKCS #8 EncryptedPrivateKeyInfo under PBES2):
// their record read by openssl and by our reader, the PBES2 parameters in
// the DER, refusals of bad files, and the change of password that replaces
// a key file whole or not at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "services/kv_der.h"
#include "services/kvservices.h"
#include "services_support.h"
#include "support/memory_hooks.h"
#include "support/openssl_cli.h"

namespace {

using svctest::Bytes;

constexpr char kPassword[] = "correct horse battery staple, twice over";  // 40 characters
const Bytes kRecordHead = {0x01, 0x03};

// Offsets in our EncryptedPrivateKeyInfo (a four-byte outer header): the
// 16-byte salt, the iteration count's INTEGER, the 16-byte IV, the OCTET
// STRING of the encrypted data.
constexpr size_t kSaltAt = 4 + 32, kIterationsAt = 4 + 48, kIvAt = 4 + 82, kDataAt = 4 + 98;

std::string MakeModern(const svctest::ScratchDir& dir, const std::string& name, const char* password = kPassword) {
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  const std::string path = dir.File(name);
  EXPECT_EQ(errKVKeyFileWriteModern(path.c_str(), pair.privateKey.data(), static_cast<int>(pair.privateKey.size()),
                                    password, pair.publicKey.data(), static_cast<int>(pair.publicKey.size())),
            0);
  return path;
}

Bytes PrivateRecord(const std::string& path) {
  Bytes record(KV_KEYFILE_MAX_DATA);
  int length = 0;
  EXPECT_EQ(iGetKeyFromKeyFile(path.c_str(), KV_KEYFILE_TAG_MODERN_PRIVATE, record.data(), &length), 0);
  record.resize(static_cast<size_t>(length));
  return record;
}

int ReadPrivate(const std::string& path, const char* password, Bytes* key = nullptr) {
  Bytes out(KV_KEYFILE_MAX_DATA);
  int length = KV_KEYFILE_MAX_DATA;
  const int status = errKVKeyFileGetPrivateKeyEx(path.c_str(), out.data(), &length, password);
  if (key != nullptr) key->assign(out.begin(), out.begin() + (status == 0 ? length : 0));
  return status;
}

TEST(ModernKeyFile, RecordIsPkcs8Pbes2ThatOpensslAndOurReaderOpen) {
  svctest::ScratchDir dir;
  const std::string path = MakeModern(dir, "m.key");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const Bytes file = svctest::ReadFile(path);
  ASSERT_GT(file.size(), 4u);
  EXPECT_TRUE(std::equal(kRecordHead.begin(), kRecordHead.end(), file.begin()));
  EXPECT_EQ(iKeyFileIsModern(path.c_str()), 1);

  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  Bytes key;
  ASSERT_EQ(ReadPrivate(path, kPassword, &key), 0);
  EXPECT_EQ(key, pair.privateKey);
  Bytes pub(KV_KEYFILE_MAX_DATA);
  int pubLength = 0;
  ASSERT_EQ(errKVKeyFileGetPublicKey(path.c_str(), pub.data(), &pubLength), 0);
  EXPECT_EQ(Bytes(pub.begin(), pub.begin() + pubLength), pair.publicKey);

  // PBKDF2 parameters straight from the DER: 600,000 iterations, HMAC-SHA256.
  const Bytes record = PrivateRecord(path);
  ASSERT_GT(record.size(), kDataAt);
  const Bytes iterations = {0x02, 0x03, 0x09, 0x27, 0xC0};
  EXPECT_TRUE(std::equal(iterations.begin(), iterations.end(), record.begin() + kIterationsAt));
  const Bytes hmacSha256 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09, 0x05, 0x00};
  EXPECT_TRUE(std::equal(hmacSha256.begin(), hmacSha256.end(), record.begin() + kIterationsAt + 7));

  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "no openssl command line";
  testsupport::ScratchDir work;
  svctest::WriteFile(work.File("rec.der"), record);
  svctest::WriteFile(work.File("pw"), Bytes(kPassword, kPassword + sizeof kPassword - 1));
  const std::string base = "openssl pkcs8 -inform DER -in '" + work.File("rec.der") + "' -out '" +
                           work.File("plain.pem") + "' -passin ";
  ASSERT_TRUE(testsupport::Run(base + "file:'" + work.File("pw") + "'"));
  // Both keys through the same conversion, to compare in one form.
  svctest::WriteFile(work.File("ours.der"), pair.privateKey);
  ASSERT_TRUE(testsupport::Run("openssl pkey -in '" + work.File("plain.pem") + "' -outform DER -out '" +
                               work.File("plain.der") + "'"));
  ASSERT_TRUE(testsupport::Run("openssl pkey -inform DER -in '" + work.File("ours.der") + "' -outform DER -out '" +
                               work.File("ours2.der") + "'"));
  EXPECT_EQ(svctest::ReadFile(work.File("plain.der")), svctest::ReadFile(work.File("ours2.der")));
  EXPECT_FALSE(svctest::ReadFile(work.File("plain.der")).empty());
  // The outside check can fail: a wrong password is refused there too.
  EXPECT_FALSE(testsupport::Run(base + "pass:wrongpassword"));
}

TEST(ModernKeyFile, SameSaltNeverTwice) {
  svctest::ScratchDir dir;
  const Bytes a = PrivateRecord(MakeModern(dir, "a.key")), b = PrivateRecord(MakeModern(dir, "b.key"));
  ASSERT_GT(a.size(), kDataAt);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_FALSE(std::equal(a.begin() + kSaltAt, a.begin() + kSaltAt + 16, b.begin() + kSaltAt));
  EXPECT_FALSE(std::equal(a.begin() + kIvAt, a.begin() + kIvAt + 16, b.begin() + kIvAt));
}

TEST(ModernKeyFile, NeverReplacesAnExistingFile) {
  svctest::ScratchDir dir;
  const std::string path = dir.File("x.key");
  svctest::WriteFile(path, {1, 2, 3});
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  EXPECT_EQ(errKVKeyFileWriteModern(path.c_str(), pair.privateKey.data(), static_cast<int>(pair.privateKey.size()),
                                    kPassword, pair.publicKey.data(), static_cast<int>(pair.publicKey.size())),
            KV_KEYFILE_CANNOT_APPEND);
  EXPECT_EQ(svctest::ReadFile(path), Bytes({1, 2, 3}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1);
}

// A key file whose tag 3 record is |epki|.
std::string WithRecord(const svctest::ScratchDir& dir, const std::string& name, const kvder::Bytes& epki) {
  const std::string path = dir.File(name);
  EXPECT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), KV_KEYFILE_TAG_MODERN_PRIVATE, epki.data(),
                                  static_cast<int>(epki.size())),
            0);
  return path;
}

TEST(ModernKeyFile, BadFilesAreRefusedQuicklyWithTheirOwnStatus) {
  svctest::ScratchDir dir;
  const Bytes record = PrivateRecord(MakeModern(dir, "good.key"));
  ASSERT_GT(record.size(), kDataAt);
  const kvder::Bytes salt = kvder::Tlv(kvder::kOctetString, record.data() + kSaltAt, 16);
  const kvder::Bytes iv = kvder::Tlv(kvder::kOctetString, record.data() + kIvAt, 16);
  const kvder::Bytes data = kvder::Raw(record.data() + kDataAt, record.size() - kDataAt);
  auto oid = [](std::initializer_list<unsigned char> bytes) {
    const Bytes b(bytes);
    return kvder::Tlv(kvder::kOid, b.data(), b.size());
  };
  const kvder::Bytes null = {0x05, 0x00};
  const kvder::Bytes sha256 = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09});
  const kvder::Bytes aes256 = oid({0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A});
  struct Case {
    const char* name;
    kvder::Bytes iterations, prf, cipher;
    int expected;
  };
  const Case cases[] = {
      {"as written", kvder::Integer(600000), sha256, aes256, 0},
      {"iterations 0", kvder::Integer(0), sha256, aes256, Q_ERR_PBE_ITERATIONS},
      {"iterations 10,000,001", kvder::Integer(10000001), sha256, aes256, Q_ERR_PBE_ITERATIONS},
      {"iterations 4,294,967,295", kvder::Integer(0xFFFFFFFF), sha256, aes256, Q_ERR_PBE_ITERATIONS},
      {"unknown PRF (hmacWithSHA224)", kvder::Integer(600000), oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x08}),
       aes256, Q_ERR_PBE_PRF},
      {"unknown cipher (aes-192-cbc)", kvder::Integer(600000), sha256,
       oid({0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x16}), Q_ERR_PBE_CIPHER},
  };
  for (const Case& c : cases) {
    const kvder::Bytes prf = kvder::Seq({&c.prf, &null});
    const kvder::Bytes kdfOid = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C});
    const kvder::Bytes kdfParams = kvder::Seq({&salt, &c.iterations, &prf});
    const kvder::Bytes kdf = kvder::Seq({&kdfOid, &kdfParams});
    const kvder::Bytes scheme = kvder::Seq({&c.cipher, &iv});
    const kvder::Bytes params = kvder::Seq({&kdf, &scheme});
    const kvder::Bytes pbes2 = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D});
    const kvder::Bytes algorithm = kvder::Seq({&pbes2, &params});
    const std::string path = WithRecord(dir, std::string(c.name) + ".key", kvder::Seq({&algorithm, &data}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadPrivate(path, kPassword), c.expected) << c.name;
    if (c.expected != 0) {
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.name;
    }
  }

  // A wrong password, and every cut of the record, are refused; none reads
  // as a key.
  const std::string good = WithRecord(dir, "copy.key", kvder::Raw(record.data(), record.size()));
  EXPECT_EQ(ReadPrivate(good, "wrong password"), Q_ERR_INPUT_DATA);
  for (size_t n : {size_t{0}, size_t{1}, size_t{4}, kSaltAt, kDataAt, record.size() - 16, record.size() - 1}) {
    const std::string cut = WithRecord(dir, "cut" + std::to_string(n) + ".key", kvder::Raw(record.data(), n));
    EXPECT_NE(ReadPrivate(cut, kPassword), 0) << n;
  }
  // A record that ends early in the file.
  Bytes file = svctest::ReadFile(dir.File("good.key"));
  file.resize(100);
  svctest::WriteFile(dir.File("short.key"), file);
  EXPECT_EQ(ReadPrivate(dir.File("short.key"), kPassword), KV_KEYFILE_BAD_RECORD);
}

// A classic key file as the program writes it.
std::string MakeClassic(const svctest::ScratchDir& dir, const std::string& name, const char* password) {
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  int length = static_cast<int>(pair.privateKey.size());
  Bytes encrypted(pair.privateKey.size() + 8);
  int encryptedLength = 0;
  EXPECT_EQ(errKVPKCS5PBEncDnc(&length, pair.privateKey.data(), &encryptedLength, encrypted.data(),
                               static_cast<int>(std::strlen(password)),
                               reinterpret_cast<const unsigned char*>(password), KV_PBE_ENCRYPT),
            0);
  const std::string path = dir.File(name);
  EXPECT_EQ(errKVKeyFileAddPrivateKeyToEnd(path.c_str(), encrypted.data(), encryptedLength), 0);
  EXPECT_EQ(errKVKeyFileAddPublicKeyToEnd(path.c_str(), pair.publicKey.data(),
                                          static_cast<int>(pair.publicKey.size())),
            0);
  return path;
}

TEST(ChangePassword, ReEncryptsInPlaceKeepingOrUpgradingTheForm) {
  svctest::ScratchDir dir;
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  Bytes key;
  struct Case {
    const char* name;
    bool startModern;
    int upgrade;
    bool endModern;
  };
  for (const Case& c : {Case{"classic", false, 0, false}, Case{"classic upgraded", false, 1, true},
                        Case{"modern", true, 0, true}, Case{"modern upgraded", true, 1, true}}) {
    const std::string path = c.startModern ? MakeModern(dir, std::string(c.name) + ".key", "oldpassw")
                                           : MakeClassic(dir, std::string(c.name) + ".key", "oldpassw");
    ASSERT_EQ(errKVKeyFileChangePassword(path.c_str(), "oldpassw", "newpassw", c.upgrade), 0) << c.name;
    EXPECT_EQ(ReadPrivate(path, "oldpassw"), Q_ERR_INPUT_DATA) << c.name;
    ASSERT_EQ(ReadPrivate(path, "newpassw", &key), 0) << c.name;
    EXPECT_EQ(key, pair.privateKey) << c.name;
    EXPECT_EQ(iKeyFileIsModern(path.c_str()), c.endModern ? 1 : 0) << c.name;
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << c.name;
    // A wrong old password changes nothing.
    const Bytes before = svctest::ReadFile(path);
    EXPECT_EQ(errKVKeyFileChangePassword(path.c_str(), "oldpassw", "other pw", 0), Q_ERR_INPUT_DATA) << c.name;
    EXPECT_EQ(svctest::ReadFile(path), before) << c.name;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 4);
}

TEST(ChangePassword, ClassicFilesStayByteForByte) {
  // The classic form has a fixed salt: a classic file written again under
  // the same password is the same file, and reading it changes nothing.
  svctest::ScratchDir dir;
  const std::string path = MakeClassic(dir, "c.key", "samepass");
  const Bytes before = svctest::ReadFile(path);
  ASSERT_EQ(ReadPrivate(path, "samepass"), 0);
  ASSERT_EQ(errKVKeyFileChangePassword(path.c_str(), "samepass", "samepass", 0), 0);
  EXPECT_EQ(svctest::ReadFile(path), before);
  EXPECT_EQ(before[1], KV_KEYFILE_TAG_ENCRYPTED_PRIVATE);
}

TEST(ChangePassword, AllocationFailureLeavesTheOldFile) {
  svctest::ScratchDir dir;
  const std::string path = MakeClassic(dir, "c.key", "oldpassw");
  const Bytes before = svctest::ReadFile(path);
  int failures = 0;
  const uint64_t total = testsupport::ForEachAllocationFailure(
      [&] { return errKVKeyFileChangePassword(path.c_str(), "oldpassw", "newpassw", 1); },
      [&](int status, const testsupport::MemoryWatch& watch) {
        ++failures;
        EXPECT_NE(status, 0);
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
        EXPECT_EQ(svctest::ReadFile(path), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1);
      });
  EXPECT_GT(failures, 0);
  EXPECT_GT(total, 0u);
  EXPECT_EQ(ReadPrivate(path, "newpassw"), 0);
}

TEST(ModernKeyFile, ReadingUnderAllocationFailureNeverSucceedsWrongly) {
  // A record made with 1,000 iterations (the reader takes any count up to
  // 10,000,000) keeps the sweep short.
  svctest::ScratchDir dir;
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  Bytes epki(KV_KEYFILE_MAX_DATA);
  int epkiLength = static_cast<int>(epki.size());
  ASSERT_EQ(errKVPKCS8EncryptPBES2(static_cast<int>(pair.privateKey.size()), pair.privateKey.data(), 8,
                                   reinterpret_cast<const unsigned char*>("password"), 1000, epki.data(), &epkiLength),
            0);
  const std::string path =
      WithRecord(dir, "m.key", kvder::Raw(epki.data(), static_cast<size_t>(epkiLength)));
  ASSERT_EQ(ReadPrivate(path, "password"), 0);
  int failures = 0;
  testsupport::ForEachAllocationFailure([&] { return ReadPrivate(path, "password"); },
                                        [&](int status, const testsupport::MemoryWatch& watch) {
                                          ++failures;
                                          EXPECT_NE(status, 0);
                                          // Out of memory is never taken for a wrong password.
                                          EXPECT_NE(status, Q_ERR_INPUT_DATA);
                                          EXPECT_EQ(watch.leakedBlocks(), 0);
                                          EXPECT_EQ(watch.unwipedReleases(), 0);
                                        });
  EXPECT_GT(failures, 0);
}

TEST(ChangePassword, FullDeviceLeavesTheOldFile) {
  svctest::ScratchDir dir;
  const std::string path = MakeModern(dir, "m.key", "oldpassw");
  const Bytes before = svctest::ReadFile(path);
  // In a child whose files may not grow past 64 bytes, as on a full device.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit{64, 64};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(errKVKeyFileChangePassword(path.c_str(), "oldpassw", "newpassw", 0) == KV_KEYFILE_CANNOT_REPLACE ? 0 : 1);
  }
  int wstatus = 0;
  ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  EXPECT_EQ(svctest::ReadFile(path), before);
  EXPECT_EQ(ReadPrivate(path, "oldpassw"), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1);
}

}  // namespace
