// kvcatool-cli with what lies on disk: a pipe in a certificate's or key
// file's place (refused at once, never waited on), extensions in another
// case than ".crt"/".key", and a machine-wide settings file that cannot be
// written. Needs the certificate commands (KVAPP_CERT_COMMANDS).
#include <sys/stat.h>

#include <filesystem>

#include "cli_harness.h"

namespace clitest {
namespace {

// A run that does not end within this is taken as stuck.
constexpr double kDeadlineSeconds = 1.0;

const char kKeptForUser[] =
    "The settings for all users cannot be written; the current root certificate is remembered for you alone, in "
    "@/config/kvcatool/settings.\n";

class Files : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!KVCLI_CERT_COMMANDS) GTEST_SKIP() << "built without the certificate commands";
    WriteFile("root.txt", "rootpass1\n");
    WriteFile("web.txt", "webpass12\n");
  }
  // The line of a root's first use, which makes its register |db|.
  static std::string NewRegister(const std::string& db) {
    return "A new register @/" + db +
           " was made for this root; certificates it issued before can be recorded with register-existing.\n";
  }
  void MakePipe(const std::string& name) const { ASSERT_EQ(::mkfifo(Path(name).c_str(), 0600), 0) << name; }
  // Runs |args| and checks status and both streams exactly ("@" stands for
  // the temporary directory).
  void Expect(const std::vector<std::string>& args, int status, const std::string& out, const std::string& err) {
    std::string command;
    for (const std::string& a : args) command += a + " ";
    const Result r = Run(args, "", kDeadlineSeconds);
    EXPECT_FALSE(r.timedOut) << command;
    EXPECT_EQ(r.status, status) << command;
    EXPECT_EQ(r.out, ReplaceAll(out, "@", dir_)) << command;
    EXPECT_EQ(r.err, ReplaceAll(err, "@", dir_)) << command;
  }
};

// x.crt and x.key are pipes nobody writes; root.crt/root.key a good root;
// lone.crt a good root whose key file lone.key is a pipe; web.key a good key
// file. Each command refuses within the deadline with its usual message.
TEST_F(Files, PipesInTheFilesPlaceAreRefusedAtOnce) {
  MakeRoot("root.crt", "root.key", "rootpass1");
  MakeRoot("lone.crt", "lone-real.key", "rootpass1");
  MakeKeyFile("web.key", "webpass12");
  MakePipe("x.crt");
  MakePipe("x.key");
  MakePipe("lone.key");
  struct Row {
    const char* remembered;  // the remembered root, or null
    std::vector<std::string> args;
    std::string err;
  };
  const std::string noRoot = "No root certificate selected.\n";
  const std::string pipeRoot =
      "Certificate File <@/x.crt> Does not Exist \n\n\nInvalid root certificate file: @/x.crt!\n"
      "Root certificate must be self-signed.\n";
  const Row rows[] = {
      {nullptr, {"view", "x.crt"}, "File not found: @/x.crt.\n"},
      {"root.crt", {"verify", "x.crt"}, "File not found: @/x.crt.\n"},
      {nullptr, {"create-server-cert", "x.key", "--password-file", "web.txt", "--root-password-file", "root.txt"},
       "File not found: @/x.key.\n"},
      // The certificate chosen as root is a pipe.
      {nullptr, {"select-root", "x.crt", "--root-password-file", "root.txt"}, pipeRoot},
      // Its key file is a pipe.
      {nullptr, {"select-root", "lone.crt", "--root-password-file", "root.txt"},
       "Certificate File <@/lone.key> Does not Exist \n\n\nPassword incorrect.\n"},
      // The remembered root or its key file is a pipe: every start meets it.
      {"x.crt", {"verify", "root.crt"}, pipeRoot + noRoot},
      {"x.crt", {"view-root"}, pipeRoot + noRoot},
      {"lone.crt",
       {"create-server-cert", "web.key", "--host", "web", "--password-file", "web.txt", "--root-password-file",
        "root.txt"},
       "Certificate File <@/lone.key> Does not Exist \n\n\nPassword incorrect.\n" + noRoot},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(settings_);
    if (row.remembered != nullptr) Remember(Path(row.remembered));
    Expect(row.args, 1, "", row.err);
  }
  // Nothing was made in the pipes' place or beside them.
  EXPECT_TRUE(std::filesystem::is_fifo(Path("x.crt")));
  EXPECT_TRUE(std::filesystem::is_fifo(Path("x.key")));
  EXPECT_FALSE(Exists("web.crt"));
}

// The file that is there is used, whatever the case of its extension.
TEST_F(Files, ExtensionsInAnyCase) {
  MakeRoot("ROOT.CRT", "ROOT.KEY", "rootpass1");
  // Its first use makes its register, and says so.
  Expect({"select-root", "ROOT.CRT", "--root-password-file", "root.txt"}, 0,
         NewRegister("ROOT.db") + "Root certificate: @/ROOT.CRT\nRoot key file: @/ROOT.KEY\n", "");
  // The next start finds the same key file.
  Expect({"status"}, 0, "Root certificate: @/ROOT.CRT\nRoot key file: @/ROOT.KEY\nIssued certificates: 0 expired, 0 expire within 30 days.\n", "");

  MakeKeyFile("server.Key", "webpass12");
  Expect({"create-server-cert", "server.Key", "--host", "server", "--password-file", "web.txt",
          "--root-password-file", "root.txt"},
         0, "Creating server certificate...\nServer certificate successfully created.\n", "");
  Expect({"verify", "server.crt"}, 0, "Certificate is valid.\n", "");
}

// The machine-wide settings cannot be written (their directory is a regular
// file): the root is remembered in the user's own file, which is said once;
// once the machine-wide file can be written again, a later choice there wins.
TEST_F(Files, RememberedRootFallsBackToTheUsersOwnSettings) {
  MakeRoot("root.crt", "root.key", "rootpass1");
  MakeRoot("other.crt", "other.key", "rootpass1");
  WriteFile("blocker", "not a directory");
  settings_ = Path("blocker/settings");
  const std::string root = "Root certificate: @/root.crt\nRoot key file: @/root.key\n";
  Expect({"select-root", "root.crt", "--root-password-file", "root.txt"}, 0,
         kKeptForUser + NewRegister("root.db") + root, "");
  EXPECT_EQ(ReadFile("config/kvcatool/settings"), "SOFTWARE\\ZIDU\\KVCATOOL\tRoot cert=" + Path("root.crt") + "\n");
  // The next starts find it and say nothing more.
  Expect({"status"}, 0, root + "Issued certificates: 0 expired, 0 expire within 30 days.\n", "");
  Expect({"select-root", "root.crt", "--root-password-file", "root.txt"}, 0, root, "");

  // The machine-wide file can be written again: the later choice is kept
  // there and wins over the user's older one.
  std::filesystem::remove(Path("blocker"));
  Expect({"select-root", "other.crt", "--root-password-file", "root.txt"}, 0,
         NewRegister("other.db") + "Root certificate: @/other.crt\nRoot key file: @/other.key\n", "");
  EXPECT_EQ(ReadFile(settings_), "SOFTWARE\\ZIDU\\KVCATOOL\tRoot cert=" + Path("other.crt") + "\n");
  Expect({"status"}, 0, "Root certificate: @/other.crt\nRoot key file: @/other.key\nIssued certificates: 0 expired, 0 expire within 30 days.\n", "");
}

}  // namespace
}  // namespace clitest
