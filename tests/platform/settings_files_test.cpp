// The settings store, the administrator rule, file listing and paths.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/administrator.h"
#include "platform/file_system.h"
#include "platform/help_file.h"
#include "platform/settings_store.h"

namespace {

namespace fs = std::filesystem;
using kvplatform::FileSettingsStore;

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvplatform-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Slurp(const std::string& path) const {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string dir_;
};

const char kKey[] = "SOFTWARE\\ZIDU\\KVCATOOL";
const char kValue[] = "Root cert";

TEST_F(TempDir, SettingsRoundTripInANewDirectoryAndReplaceInPlace) {
  FileSettingsStore store(Path("etc/kv/settings"));
  std::string data = "unchanged";
  EXPECT_FALSE(store.ReadValue(kKey, kValue, data));
  EXPECT_EQ(data, "unchanged");
  ASSERT_TRUE(store.WriteValue(kKey, kValue, "/ca/kvroot.crt"));
  ASSERT_TRUE(store.WriteValue(kKey, "Other", "x=y"));
  ASSERT_TRUE(store.WriteValue(kKey, kValue, "/ca/other root.crt"));
  EXPECT_TRUE(store.ReadValue(kKey, kValue, data));
  EXPECT_EQ(data, "/ca/other root.crt");
  EXPECT_TRUE(store.ReadValue(kKey, "Other", data));
  EXPECT_EQ(data, "x=y");
  EXPECT_FALSE(store.ReadValue("SOFTWARE\\OTHER", kValue, data));
  EXPECT_EQ(Slurp(Path("etc/kv/settings")),
            "SOFTWARE\\ZIDU\\KVCATOOL\tRoot cert=/ca/other root.crt\nSOFTWARE\\ZIDU\\KVCATOOL\tOther=x=y\n");
  // Only the settings file is left: the temporary files were renamed.
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("etc/kv")), fs::directory_iterator()), 1);
}

TEST_F(TempDir, SettingsKeepForeignLinesAndRefuseWhatCannotBeStored) {
  std::ofstream(Path("s")) << "# written by hand\nnot an entry\n";
  FileSettingsStore store(Path("s"));
  ASSERT_TRUE(store.WriteValue(kKey, kValue, "/a.crt"));
  EXPECT_EQ(Slurp(Path("s")), "# written by hand\nnot an entry\nSOFTWARE\\ZIDU\\KVCATOOL\tRoot cert=/a.crt\n");
  EXPECT_FALSE(store.WriteValue(kKey, kValue, "/a\n.crt"));
  std::string data;
  EXPECT_TRUE(store.ReadValue(kKey, kValue, data));
  EXPECT_EQ(data, "/a.crt");
  // A store whose directory cannot be made fails quietly.
  std::ofstream(Path("file")) << "x";
  FileSettingsStore blocked(Path("file/settings"));
  EXPECT_FALSE(blocked.WriteValue(kKey, kValue, "/a.crt"));
  EXPECT_FALSE(blocked.ReadValue(kKey, kValue, data));
  // A directory in place of the file reads as nothing.
  fs::create_directory(Path("dir"));
  FileSettingsStore dirStore(Path("dir"));
  EXPECT_FALSE(dirStore.ReadValue(kKey, kValue, data));
}

TEST(SettingsPath, EnvironmentNamesTheFile) {
  ::setenv("KVCATOOL_SETTINGS", "/tmp/elsewhere/settings", 1);
  EXPECT_EQ(FileSettingsStore::DefaultPath(), "/tmp/elsewhere/settings");
  ::setenv("KVCATOOL_SETTINGS", "", 1);
  EXPECT_EQ(FileSettingsStore::DefaultPath(), "/var/lib/kvcatool/settings");
  ::unsetenv("KVCATOOL_SETTINGS");
  EXPECT_EQ(FileSettingsStore::DefaultPath(), "/var/lib/kvcatool/settings");
}

TEST(Administrator, MembershipRule) {
  const std::vector<gid_t> admins = {27, 10};
  struct Row {
    uid_t uid;
    std::vector<gid_t> groups;
    bool admin;
  };
  const Row rows[] = {
      {0, {}, true},  {1000, {1000}, false}, {1000, {1000, 27}, true},
      {1000, {10}, true}, {1000, {100, 4, 24}, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(kvplatform::IsAdministratorMember(row.uid, row.groups, admins), row.admin) << row.uid;
  }
  EXPECT_FALSE(kvplatform::IsAdministratorMember(1000, {27}, {}));
  if (::getuid() == 0) {
    EXPECT_TRUE(kvplatform::SystemAdministratorTest().IsUserAdministrator());
  }
}

TEST(FilePatterns, WildcardsWithoutRegardToCase) {
  struct Row {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Row rows[] = {
      {"*.crt", "server.CRT", true},  {"*.crt", "server.crt.bak", false}, {"*.crt", "crt", false},
      {"*.*", "README", true},        {"*.key", "a.Key", true},           {"?.crt", "ab.crt", false},
      {"a*b*c", "aXbYbZc", true},     {"a*b*c", "aXbYbZ", false},         {"*", "", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(kvplatform::MatchFilePattern(row.pattern, row.name), row.match) << row.pattern << " " << row.name;
  }
  // Many stars against a long name stays quick.
  EXPECT_FALSE(kvplatform::MatchFilePattern(std::string(200, '*') + "b", std::string(5000, 'a')));
}

TEST_F(TempDir, ListingExistenceAndDirectories) {
  kvplatform::PosixFileSystem files;
  std::ofstream(Path("a.CRT")) << "x";
  std::ofstream(Path("b.crt")) << "x";
  std::ofstream(Path(".c.crt")) << "x";
  fs::create_directory(Path("d.crt"));
  auto names = files.ListFiles(Path("*.crt"));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.CRT", "b.crt"}));
  EXPECT_TRUE(files.ListFiles(Path("none/*.crt")).empty());

  EXPECT_TRUE(files.CanOpenForReading(Path("a.CRT")));
  EXPECT_FALSE(files.CanOpenForReading(Path("d.crt")));
  EXPECT_FALSE(files.CanOpenForReading(Path("missing")));
  EXPECT_FALSE(files.CanOpenForReading(""));
  EXPECT_TRUE(files.Find(Path("d.crt")));
  EXPECT_TRUE(files.Find(Path("a.CRT")));
  EXPECT_FALSE(files.Find(Path("missing")));

  EXPECT_TRUE(files.CreateDirectory(Path("new")));
  EXPECT_FALSE(files.CreateDirectory(Path("new")));
  EXPECT_FALSE(files.CreateDirectory(Path("x/y")));
  std::string cwd = files.WorkingDirectory();
  EXPECT_EQ(cwd.back(), '/');
  EXPECT_EQ(cwd.front(), '/');
}

TEST(Paths, RemovableMountsAndHelpFile) {
  struct Row {
    const char* path;
    const char* mount;
  };
  const Row rows[] = {
      {"/media/usb/ca/kvroot.crt", "/media/usb"},
      {"/run/media/ann/KEYS/kvroot.crt", "/run/media/ann/KEYS"},
      {"/mnt/floppy/kvroot.crt", "/mnt/floppy"},
      {"/mnt/kvroot.crt", "/mnt"},
      {"/home/ann/kvroot.crt", ""},
      {"/mediaX/kvroot.crt", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(kvplatform::RemovableMountDirectory(row.path), row.mount) << row.path;
  EXPECT_EQ(kvplatform::HelpFilePathFor("/usr/bin/kvcatool"), "/usr/bin/kvcatool.hlp");
  EXPECT_EQ(kvplatform::HelpFilePathFor("/opt/kv.d/kvcatool.exe"), "/opt/kv.d/kvcatool.hlp");
  EXPECT_EQ(kvplatform::HelpFilePathFor("/opt/kv/.hidden"), "/opt/kv/.hidden.hlp");
}

}  // namespace
