// The key-file record format, its limits and the reader's failure cases.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ios>
#include <string>

#include "services/kvservices.h"
#include "services_support.h"

namespace {

using svctest::Bytes;

Bytes Filled(size_t n, unsigned char v) { return Bytes(n, v); }

// Record headers: marker, tag, big-endian length (300 and 5).
const Bytes kPrivateHeader = {0x01, 0x02, 0x01, 0x2C};
const Bytes kPublicHeader = {0x01, 0x01, 0x00, 0x05};

TEST(KeyFile, LayoutIsTwoRecordsBackToBack) {
  svctest::ScratchDir dir;
  const std::string path = dir.File("a.key");
  const Bytes priv = Filled(300, 0xAB), pub = Filled(5, 0xCD);
  EXPECT_EQ(iFileExists(path.c_str()), 0);
  ASSERT_EQ(errKVKeyFileAddPrivateKeyToEnd(path.c_str(), priv.data(), 300), 0);
  ASSERT_EQ(errKVKeyFileAddPublicKeyToEnd(path.c_str(), pub.data(), 5), 0);
  EXPECT_EQ(iFileExists(path.c_str()), 1);

  Bytes expected;
  for (const Bytes* part : {&kPrivateHeader, &priv, &kPublicHeader, &pub}) {
    expected.insert(expected.end(), part->begin(), part->end());
  }
  EXPECT_EQ(svctest::ReadFile(path), expected);

  Bytes out(KV_KEYFILE_MAX_DATA);
  int length = -1;
  ASSERT_EQ(errKVKeyFileGetPublicKey(path.c_str(), out.data(), &length), 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), pub);
  ASSERT_EQ(errKVKeyFileGetPrivateKey(path.c_str(), out.data(), &length), 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), priv);
}

TEST(KeyFile, LengthLimits) {
  svctest::ScratchDir dir;
  const std::string path = dir.File("limits.key");
  const Bytes big = Filled(KV_KEYFILE_MAX_DATA + 1, 0x42);
  for (int bad : {KV_KEYFILE_MAX_DATA + 1, -1}) {
    EXPECT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 1, big.data(), bad), KV_KEYFILE_DATA_TOO_LONG) << bad;
    EXPECT_EQ(iFileExists(path.c_str()), 0) << "nothing written for " << bad;
  }
  ASSERT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 1, big.data(), KV_KEYFILE_MAX_DATA), 0);
  ASSERT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 2, nullptr, 0), 0);
  EXPECT_EQ(svctest::ReadFile(path).size(), size_t{KV_KEYFILE_MAX_DATA + 8});

  Bytes out(KV_KEYFILE_MAX_DATA);
  int length = -1;
  ASSERT_EQ(iGetKeyFromKeyFile(path.c_str(), 1, out.data(), &length), 0);
  EXPECT_EQ(length, KV_KEYFILE_MAX_DATA);
  EXPECT_EQ(out, Filled(KV_KEYFILE_MAX_DATA, 0x42));
  ASSERT_EQ(iGetKeyFromKeyFile(path.c_str(), 2, out.data(), &length), 0);
  EXPECT_EQ(length, 0);
}

TEST(KeyFile, FirstOfTwoRecordsWithTheSameTagIsReturned) {
  svctest::ScratchDir dir;
  const std::string path = dir.File("twice.key");
  const Bytes first = Filled(3, 0x11), second = Filled(4, 0x22);
  ASSERT_EQ(errKVKeyFileAddPublicKeyToEnd(path.c_str(), first.data(), 3), 0);
  ASSERT_EQ(errKVKeyFileAddPublicKeyToEnd(path.c_str(), second.data(), 4), 0);
  Bytes out(KV_KEYFILE_MAX_DATA);
  int length = 0;
  ASSERT_EQ(errKVKeyFileGetPublicKey(path.c_str(), out.data(), &length), 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), first);
}

TEST(KeyFile, ReaderFailures) {
  svctest::ScratchDir dir;
  const struct {
    const char* name;
    Bytes contents;
    int tag;
    int expected;
  } rows[] = {
      {"empty file", {}, 1, KV_KEYFILE_BAD_RECORD},
      {"bad marker", {0x02, 0x01, 0x00, 0x01, 0xAA}, 1, KV_KEYFILE_BAD_RECORD},
      {"header cut short", {0x01, 0x01, 0x00}, 1, KV_KEYFILE_BAD_RECORD},
      {"only a tag 2 record", {0x01, 0x02, 0x00, 0x02, 0xAA, 0xBB}, 1, KV_KEYFILE_TAG_NOT_FOUND},
      {"other tag announces more than remains", {0x01, 0x02, 0x00, 0x09, 0xAA}, 1, KV_KEYFILE_TAG_NOT_FOUND},
      {"wanted tag announces more than remains", {0x01, 0x01, 0x00, 0x09, 0xAA, 0xBB}, 1, KV_KEYFILE_BAD_RECORD},
      {"wanted tag longer than 4096", {0x01, 0x01, 0x10, 0x01, 0xAA}, 1, KV_KEYFILE_BAD_RECORD},
      {"garbage after a skipped record", {0x01, 0x02, 0x00, 0x01, 0xAA, 0x07, 0x07}, 1, KV_KEYFILE_BAD_RECORD},
      {"wanted record after a skipped one", {0x01, 0x02, 0x00, 0x01, 0xAA, 0x01, 0x01, 0x00, 0x01, 0xBB}, 1, 0},
  };
  for (const auto& row : rows) {
    const std::string path = dir.File("case.key");
    svctest::WriteFile(path, row.contents);
    Bytes out(KV_KEYFILE_MAX_DATA);
    int length = 0;
    EXPECT_EQ(iGetKeyFromKeyFile(path.c_str(), row.tag, out.data(), &length), row.expected) << row.name;
  }

  Bytes out(KV_KEYFILE_MAX_DATA);
  int length = 0;
  const std::string missing = dir.File("missing.key");
  EXPECT_EQ(errKVKeyFileGetPublicKey(missing.c_str(), out.data(), &length), KV_KEYFILE_CANNOT_READ);
  EXPECT_EQ(errKVKeyFileGetPrivateKeyEx(missing.c_str(), out.data(), &length, "pw"), KV_KEYFILE_CANNOT_READ);
  EXPECT_EQ(iFileExists(missing.c_str()), 0);
  const std::string noDir = dir.File("no/such/dir.key");
  EXPECT_EQ(errKVKeyFileAddPublicKeyToEnd(noDir.c_str(), out.data(), 1), KV_KEYFILE_CANNOT_APPEND);
  // A device that takes no data: the failed write is reported.
  if (iFileExists("/dev/full") == 1) {
    EXPECT_EQ(errKVKeyFileAddPrivateKeyToEnd("/dev/full", out.data(), 100), KV_KEYFILE_CANNOT_APPEND);
  }
}

}  // namespace

// Key files hold a private key: 0600 whatever the umask, which could only
// have taken bits away (022 leaves 0644 of 0666, 000 all of it).
TEST(KeyFile, NewKeyFilesAreForTheirOwnerOnlyWhateverTheUmask) {
  svctest::ScratchDir dir;
  const Bytes priv = Filled(40, 0x11);
  for (mode_t mask : {mode_t{022}, mode_t{0}, mode_t{077}, mode_t{0277}}) {
    const std::string path = dir.File("mode" + std::to_string(mask) + ".key");
    const mode_t old = ::umask(mask);
    const int rc = errKVKeyFileAddPrivateKeyToEnd(path.c_str(), priv.data(), static_cast<int>(priv.size()));
    ::umask(old);
    ASSERT_EQ(rc, 0) << std::oct << mask;
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "umask " << std::oct << mask;
    // The owner can read it back (a umask of 0277 left no write bit to it).
    Bytes out(KV_KEYFILE_MAX_DATA);
    int length = 0;
    EXPECT_EQ(errKVKeyFileGetPrivateKey(path.c_str(), out.data(), &length), 0);
    EXPECT_EQ(length, 40);
  }
}
