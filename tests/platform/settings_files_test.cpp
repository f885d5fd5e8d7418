// The settings store, the administrator rule, file listing and paths.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The key file of a certificate: the extension after the last "." replaced,
// then matched on disk without regard to the extension's case only.
TEST_F(TempDir, KeyFilePathTakesTheExtensionCaseThatIsOnDisk) {
  kvplatform::PosixFileSystem files;
  for (const char* name : {"ROOT.KEY", "server.Key", "both.key", "both.KEY", "a*b.kEy", "Web.key", "two.KEY",
                           "two.Key", "noext"}) {
    std::ofstream(Path(name)) << "x";
  }
  fs::create_directory(Path("ca.d"));
  std::ofstream(Path("ca.d/inner.KEY")) << "x";
  struct Row {
    const char* cert;  // under the temporary directory
    const char* key;   // what the rule gives
  };
  const Row rows[] = {
      {"ROOT.CRT", "ROOT.KEY"},    {"server.crt", "server.Key"},
      {"both.crt", "both.key"},    // the exact name first
      {"a*b.crt", "a*b.kEy"},      {"aXb.crt", "aXb.key"},  // wildcards in the stem stand for themselves
      {"web.crt", "web.key"},      // the stem's case counts
      {"two.crt", "two.KEY"},      // of several, the first in byte order
      {"ca.d/inner.crt", "ca.d/inner.KEY"},
      {"missing.crt", "missing.key"},
      {"noext", "noext.key"},
  };
  for (const Row& row : rows) {
    const std::string key = kvplatform::PathWithExtension(Path(row.cert), ".key");
    EXPECT_EQ(kvplatform::MatchExtensionCase(files, key), Path(row.key)) << row.cert;
  }
  // The last "." wherever it is, as before; a name without one is left alone.
  EXPECT_EQ(kvplatform::PathWithExtension("/srv/ca.d/root", ".key"), "/srv/ca.key");
  EXPECT_EQ(kvplatform::MatchExtensionCase(files, Path("ca.d/noext")), Path("ca.d/noext"));
}

// A settings path that cannot be written (it lies under a regular file, as
// root may write anywhere else): the user's own file takes the value, and
// the user is told once, for a new value only.
TEST_F(TempDir, UnwritableMachineSettingsFallBackToTheUsersOwnFile) {
  std::ofstream(Path("blocker")) << "a regular file, not a directory";
  const std::string user = Path("config/kvcatool/settings");
  kvplatform::SettingsWithUserFallback store(Path("blocker/settings"), user);
  std::string where = "untouched";
  std::string data;
  EXPECT_FALSE(store.ReadValue(kKey, kValue, data));
  ASSERT_TRUE(store.WriteValue(kKey, kValue, "/ca/one.crt"));
  EXPECT_TRUE(store.ReadValue(kKey, kValue, data));
  EXPECT_EQ(data, "/ca/one.crt");
  EXPECT_EQ(Slurp(user), "SOFTWARE\\ZIDU\\KVCATOOL\tRoot cert=/ca/one.crt\n");
  ASSERT_TRUE(store.TakeFallbackNotice(where));
  EXPECT_EQ(where, user);
  EXPECT_FALSE(store.TakeFallbackNotice(where));
  // Once a process: a second new value says nothing more.
  ASSERT_TRUE(store.WriteValue(kKey, kValue, "/ca/two.crt"));
  EXPECT_FALSE(store.TakeFallbackNotice(where));

  // The next start rewrites the same value: nothing to say.
  kvplatform::SettingsWithUserFallback next(Path("blocker/settings"), user);
  ASSERT_TRUE(next.WriteValue(kKey, kValue, "/ca/two.crt"));
  EXPECT_FALSE(next.TakeFallbackNotice(where));

  // A writable machine-wide file takes the value; the user's file is left
  // as it was and no notice is raised.
  kvplatform::SettingsWithUserFallback writable(Path("machine/settings"), Path("config2/settings"));
  ASSERT_TRUE(writable.WriteValue(kKey, kValue, "/ca/m.crt"));
  EXPECT_FALSE(writable.TakeFallbackNotice(where));
  EXPECT_FALSE(fs::exists(Path("config2")));
  EXPECT_EQ(where, user);

  // Without a user's file to fall back on, the write fails as before.
  kvplatform::SettingsWithUserFallback nowhere(Path("blocker/settings"), "");
  EXPECT_FALSE(nowhere.WriteValue(kKey, kValue, "/ca/x.crt"));
  EXPECT_FALSE(nowhere.TakeFallbackNotice(where));
}

// When both files hold a root, the one written last counts (the user's own
// on a tie); when one does, that one.
TEST_F(TempDir, TheSettingsFileWrittenLastCounts) {
  const std::string machine = Path("machine"), user = Path("user");
  auto put = [](const std::string& path, const char* value, time_t seconds) {
    ASSERT_TRUE(FileSettingsStore(path).WriteValue(kKey, kValue, value));
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  struct Row {
    time_t machineTime;  // 0: the file holds no value
    time_t userTime;
    const char* expected;
  };
  const Row rows[] = {
      {2000, 1000, "/machine.crt"}, {1000, 2000, "/user.crt"}, {1500, 1500, "/user.crt"},
      {1000, 0, "/machine.crt"},    {0, 1000, "/user.crt"},    {0, 0, "<none>"},
  };
  for (const Row& row : rows) {
    fs::remove(machine);
    fs::remove(user);
    if (row.machineTime != 0) put(machine, "/machine.crt", row.machineTime);
    if (row.userTime != 0) put(user, "/user.crt", row.userTime);
    kvplatform::SettingsWithUserFallback store(machine, user);
    std::string data = "<none>";
    store.ReadValue(kKey, kValue, data);
    EXPECT_EQ(data, row.expected) << row.machineTime << " " << row.userTime;
  }
}

TEST(SettingsPath, UsersOwnFileFollowsXdgConfigHomeThenHome) {
  struct Row {
    const char* xdg;  // null: unset
    const char* home;
    std::string expected;
  };
  const struct passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  const std::string fromDatabase = std::string(entry->pw_dir) + (std::string(entry->pw_dir) == "/" ? "" : "/") +
                                   ".config/kvcatool/settings";
  const Row rows[] = {
      {"/x/cfg", "/home/ann", "/x/cfg/kvcatool/settings"},
      {"relative", "/home/ann/", "/home/ann/.config/kvcatool/settings"},  // relative XDG is ignored
      {"", "/home/ann", "/home/ann/.config/kvcatool/settings"},
      {nullptr, "/home/ann", "/home/ann/.config/kvcatool/settings"},
      {nullptr, "", fromDatabase},
      {nullptr, nullptr, fromDatabase},
  };
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::string xdgBefore = savedXdg != nullptr ? savedXdg : "", homeBefore = savedHome != nullptr ? savedHome : "";
  for (const Row& row : rows) {
    if (row.xdg != nullptr) ::setenv("XDG_CONFIG_HOME", row.xdg, 1); else ::unsetenv("XDG_CONFIG_HOME");
    if (row.home != nullptr) ::setenv("HOME", row.home, 1); else ::unsetenv("HOME");
    EXPECT_EQ(kvplatform::UserSettingsPath(), row.expected) << (row.xdg ? row.xdg : "(unset)");
  }
  if (savedXdg != nullptr) ::setenv("XDG_CONFIG_HOME", xdgBefore.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
  if (savedHome != nullptr) ::setenv("HOME", homeBefore.c_str(), 1); else ::unsetenv("HOME");
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
