// An NSS store's module list: entries found by their "library=" lines
// whatever the line ends, and the list replaced whole with the old file's
// mode and owner, nothing left behind when it cannot be.
#include "platform/nss_modules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using kvplatform::ModuleListRead;

TEST(NssModuleList, ParsesEntriesByTheirLibraryLines) {
  const struct {
    const char* text;
    const char* libraries;  // the entries' library values, joined by "|"
  } rows[] = {
      {"", ""},
      {"library=\nname=Internal\nNSS=Flags=internal\n\nlibrary=/a.so\nname=A\n\n", "|/a.so"},
      {"library=/a.so\r\nname=A\r\n\r\nlibrary=/b.so\r\n", "/a.so|/b.so"},
      {"\n\n\nlibrary=/a.so", "/a.so"},
      {"name=only a name\n\nlibrary=/b.so=x\nparameters=paths=/p q\n", "|/b.so=x"},
      {"no equals sign\nlibrary=/a.so\n", "/a.so"},
  };
  for (const auto& r : rows) {
    std::string joined;
    bool first = true;
    for (const auto& e : kvplatform::ParseModuleList(r.text)) {
      joined += (first ? "" : "|") + e.library;
      first = false;
    }
    EXPECT_EQ(joined, r.libraries) << r.text;
  }
  const auto entries = kvplatform::ParseModuleList(
      kvplatform::AppendTrustModuleEntry("library=\nname=Internal", "/lib/t.so", "/etc/b.crt"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].library, "/lib/t.so");
  EXPECT_EQ(entries[1].name, kvplatform::kTrustModuleEntryName);
  EXPECT_EQ(entries[1].parameters, "paths=/etc/b.crt");
}

class NssModuleFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kv-nss-modules-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string List() const { return dir_ + "/pkcs11.txt"; }
  std::string dir_;
};

TEST_F(NssModuleFiles, ReplacesTheListWholeKeepingModeAndOwner) {
  std::ofstream(List(), std::ios::binary) << "library=\n";
  ::chmod(List().c_str(), 0640);
  // A store of another user, as when root writes a user's store.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(List().c_str(), 65534, 65534), 0);
  }
  std::string text;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  ASSERT_EQ(kvplatform::ReadModuleList(dir_, text, mode, uid, gid), ModuleListRead::kRead);
  EXPECT_EQ(text, "library=\n");
  EXPECT_EQ(mode, 0640u);
  std::string problem;
  ASSERT_TRUE(kvplatform::ReplaceModuleList(dir_, "new\n", mode, uid, gid, problem)) << problem;
  struct stat st;
  ASSERT_EQ(::stat(List().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);

  // A directory that cannot take the temporary file: the list untouched.
  EXPECT_FALSE(kvplatform::ReplaceModuleList(dir_ + "/missing", "x", mode, uid, gid, problem));
  EXPECT_EQ(problem, "No such file or directory");

  // Too large, or not a regular file: not read.
  std::ofstream(List(), std::ios::binary) << std::string(kvplatform::kMaxModuleList + 1, 'x');
  EXPECT_EQ(kvplatform::ReadModuleList(dir_, text, mode, uid, gid), ModuleListRead::kNotAFile);
  std::filesystem::remove(List());
  std::filesystem::create_directory(List());
  EXPECT_EQ(kvplatform::ReadModuleList(dir_, text, mode, uid, gid), ModuleListRead::kNotAFile);
  EXPECT_EQ(kvplatform::ReadModuleList(dir_ + "/missing", text, mode, uid, gid), ModuleListRead::kMissing);
}

}  // namespace
