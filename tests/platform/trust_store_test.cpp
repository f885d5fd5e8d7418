// The system trust store on a temporary directory: anchors written whole
// with mode 0644 and never through a link, read back only as regular files,
// and the refresh command run without a shell, its exit status and output
// (bounded, never stalling on a full pipe) reported.
#include "platform/trust_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using kvplatform::AnchorRead;
using kvplatform::PosixSystemTrustStore;

class TrustStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kv-trust-store-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::string& text, mode_t mode = 0644) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    ::chmod(Path(name).c_str(), mode);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The directory's entries other than the ones a test made on purpose.
  size_t Entries() const {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) n += e.path().filename() != "sh" ? 1 : 0;
    return n;
  }
  std::string dir_;
};

TEST_F(TrustStoreTest, WritesAnchorsWholeWithMode0644AndNeverThroughALink) {
  PosixSystemTrustStore store(dir_ + "/", "true");
  EXPECT_EQ(store.AnchorsDirectory(), dir_);
  const mode_t old = ::umask(077);
  std::string problem;
  ASSERT_TRUE(store.WriteAnchor("a.crt", "first\n", problem)) << problem;
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(Path("a.crt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  // Replaced whole; no temporary file stays behind.
  ASSERT_TRUE(store.WriteAnchor("a.crt", "second\n", problem));
  EXPECT_EQ(Read("a.crt"), "second\n");
  EXPECT_EQ(Entries(), 1u);
  // A link in the anchor's place is replaced, its target left alone.
  Write("target", "keep");
  ASSERT_EQ(::symlink(Path("target").c_str(), Path("b.crt").c_str()), 0);
  ASSERT_TRUE(store.WriteAnchor("b.crt", "anchor\n", problem));
  EXPECT_EQ(Read("target"), "keep");
  ASSERT_EQ(::lstat(Path("b.crt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  // Names that would leave the directory are refused.
  for (const char* bad : {"", ".", "..", "../x.crt", "sub/x.crt"}) {
    EXPECT_FALSE(store.WriteAnchor(bad, "x", problem)) << bad;
    EXPECT_FALSE(store.RemoveAnchor(bad, problem)) << bad;
  }
  // A directory that is not there: nothing written, the reason given.
  PosixSystemTrustStore missing(dir_ + "/none", "true");
  EXPECT_FALSE(missing.WriteAnchor("a.crt", "x", problem));
  EXPECT_EQ(problem, "No such file or directory");
}

TEST_F(TrustStoreTest, ReadsOnlyRegularFilesWithinTheLimit) {
  PosixSystemTrustStore store(dir_, "true");
  Write("a.crt", "anchor");
  ASSERT_EQ(::symlink(Path("a.crt").c_str(), Path("link.crt").c_str()), 0);
  std::filesystem::create_directory(Path("dir.crt"));
  struct Row {
    const char* name;
    size_t limit;
    AnchorRead expected;
    const char* contents;
  };
  const Row rows[] = {
      {"a.crt", 100, AnchorRead::kRead, "anchor"},  {"a.crt", 6, AnchorRead::kRead, "anchor"},
      {"a.crt", 5, AnchorRead::kNotAFile, ""},      {"link.crt", 100, AnchorRead::kNotAFile, ""},
      {"dir.crt", 100, AnchorRead::kNotAFile, ""},  {"none.crt", 100, AnchorRead::kMissing, ""},
      {"../a.crt", 100, AnchorRead::kFailed, ""},
  };
  for (const Row& row : rows) {
    std::string contents = "stale";
    EXPECT_EQ(store.ReadAnchor(row.name, row.limit, contents), row.expected) << row.name << " " << row.limit;
    EXPECT_EQ(contents, row.contents) << row.name;
  }
  std::string problem;
  EXPECT_TRUE(store.RemoveAnchor("a.crt", problem));
  EXPECT_FALSE(std::filesystem::exists(Path("a.crt")));
  EXPECT_FALSE(store.RemoveAnchor("a.crt", problem));
}

TEST_F(TrustStoreTest, RunsTheRefreshWithoutAShellAndReportsWhatHappened) {
  struct Row {
    const char* script;  // body of a /bin/sh script; null: |command| as it stands
    const char* command;
    bool started;
    int exitStatus;
    std::string output;
    std::string problem;
  };
  const Row rows[] = {
      {"echo \"args:$#\"; echo done", nullptr, true, 0, "args:0\ndone\n", ""},
      {"echo oops >&2; exit 3", nullptr, true, 3, "oops\n", ""},
      // Standard input is empty: a command reading it never waits.
      {"cat; echo read", nullptr, true, 0, "read\n", ""},
      // More output than is kept: all of it is read, the first part kept.
      {"head -c 100000 /dev/zero | tr '\\000' a; exit 0", nullptr, true, 0,
       std::string(kvplatform::kMaxRefreshOutput, 'a'), ""},
      {"kill -9 $$", nullptr, true, -1, "", "killed by signal 9"},
      // A name with shell syntax is a file name, never a command line.
      {nullptr, "true; touch hacked", false, -1, "", "command not found"},
      {nullptr, "kvcatool-no-such-refresh-command", false, -1, "", "command not found"},
  };
  for (const Row& row : rows) {
    std::string command = row.command != nullptr ? row.command : Path("sh");
    if (row.script != nullptr) Write("sh", std::string("#!/bin/sh\n") + row.script + "\n", 0755);
    PosixSystemTrustStore store(dir_, command);
    const kvplatform::RefreshResult r = store.Refresh();
    EXPECT_EQ(r.started, row.started) << command;
    EXPECT_EQ(r.exitStatus, row.exitStatus) << command;
    EXPECT_EQ(r.output, row.output) << command;
    EXPECT_EQ(r.problem, row.problem) << command;
  }
  EXPECT_FALSE(std::filesystem::exists("hacked"));
  // A file that cannot be executed: exec's own reason.
  Write("sh", "#!/bin/sh\nexit 0\n", 0644);
  const kvplatform::RefreshResult r = PosixSystemTrustStore(dir_, Path("sh")).Refresh();
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.problem, "Permission denied");
}

}  // namespace
