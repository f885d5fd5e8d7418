// kvcatool-cli on a pseudo-terminal: passwords typed at its prompts are not
// echoed, and a wrong root password brings the prompt again.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "cli_harness.h"

namespace clitest {
namespace {

// A program on the slave side of a pseudo-terminal; everything it writes to
// the terminal (and the terminal's own echo) is collected in |transcript|.
class TerminalSession {
 public:
  TerminalSession(const std::string& dir, const std::string& settings, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {KVCLI_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      std::vector<char*> cargv;
      for (std::string& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      if (::chdir(dir.c_str()) != 0) ::_exit(127);
      ::setenv("KVCATOOL_SETTINGS", settings.c_str(), 1);
      ::setenv("TZ", "UTC", 1);
      ::execv(cargv[0], cargv.data());
      ::_exit(127);
    }
  }
  ~TerminalSession() {
    if (master_ >= 0) ::close(master_);
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Reads until |text| has appeared after what was already consumed; false
  // after 60 seconds or at the end of output.
  bool WaitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (transcript.find(text, consumed_) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || !ReadSome(500)) return false;
    }
    consumed_ = transcript.find(text, consumed_) + text.size();
    return true;
  }
  // Types |line| and Enter once the prompt is waiting.
  void Type(const std::string& line) {
    // The prompt is written just before the echo is switched off; text typed
    // earlier would be echoed by the terminal itself, so wait for the switch
    // (the master side reports the terminal's settings).
    for (int i = 0; i < 1000; ++i) {
      struct termios t;
      if (::tcgetattr(master_, &t) == 0 && (t.c_lflag & ECHO) == 0) break;
      ::usleep(10000);
    }
    const std::string keys = line + "\r";
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // Reads to the end and returns the exit status.
  int Finish() {
    while (ReadSome(60000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string transcript;

 private:
  bool ReadSome(int timeoutMs) {
    struct pollfd p = {master_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char buf[1024];
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) return false;
    transcript.append(buf, static_cast<size_t>(n));
    return true;
  }

  int master_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  size_t consumed_ = 0;
};

class Terminal : public CliTest {};

TEST_F(Terminal, ExportPasswordsAreNotEchoed) {
  MakeKeyFile("web1.key", "webpass12");
  TerminalSession s(dir_, settings_, {"export-key", "web1.key", "--out", "web1.pem"});
  ASSERT_TRUE(s.WaitFor("Key Password: ")) << s.transcript;
  s.Type("webpass12");
  ASSERT_TRUE(s.WaitFor("Export Password: ")) << s.transcript;
  s.Type("exportpw99");
  ASSERT_TRUE(s.WaitFor("Confirm Export Password: ")) << s.transcript;
  s.Type("exportpw99");
  EXPECT_EQ(s.Finish(), 0) << s.transcript;
  EXPECT_EQ(s.transcript.find("webpass12"), std::string::npos) << s.transcript;
  EXPECT_EQ(s.transcript.find("exportpw99"), std::string::npos) << s.transcript;
  EXPECT_NE(s.transcript.find("Private key written to"), std::string::npos) << s.transcript;
  WriteFile("export.txt", "exportpw99\n");
  EXPECT_NE(Shell("openssl pkey -in web1.pem -passin file:export.txt -provider legacy -provider default -noout && "
                  "echo ok"),
            "<failed>");
}

TEST_F(Terminal, MismatchedExportPasswords) {
  MakeKeyFile("web1.key", "webpass12");
  TerminalSession s(dir_, settings_, {"export-key", "web1.key", "--out", "web1.pem"});
  ASSERT_TRUE(s.WaitFor("Key Password: "));
  s.Type("webpass12");
  ASSERT_TRUE(s.WaitFor("Export Password: "));
  s.Type("exportpw99");
  ASSERT_TRUE(s.WaitFor("Confirm Export Password: "));
  s.Type("exportpw98");
  EXPECT_EQ(s.Finish(), 1);
  EXPECT_NE(s.transcript.find("Entered password and confirmation do not match."), std::string::npos) << s.transcript;
  EXPECT_FALSE(Exists("web1.pem"));
}

TEST_F(Terminal, NewRootAndSelectRootOnTheTerminal) {
  if (!KVCLI_CERT_COMMANDS) GTEST_SKIP() << "built without the certificate commands";
  TerminalSession s(dir_, settings_, {"new-root", "--org", "Acme", "--country", "US"});
  ASSERT_TRUE(s.WaitFor("Key Password: ")) << s.transcript;
  s.Type("rootpass1");
  ASSERT_TRUE(s.WaitFor("Confirm Password: ")) << s.transcript;
  s.Type("rootpass1");
  ASSERT_EQ(s.Finish(), 0) << s.transcript;
  EXPECT_EQ(s.transcript.find("rootpass1"), std::string::npos) << s.transcript;

  // A wrong password, "Password incorrect." and the prompt again.
  TerminalSession select(dir_, settings_, {"select-root", "kvroot.crt"});
  ASSERT_TRUE(select.WaitFor("Enter password to unlock root key.")) << select.transcript;
  ASSERT_TRUE(select.WaitFor("Password: "));
  select.Type("notright1");
  ASSERT_TRUE(select.WaitFor("Password incorrect.")) << select.transcript;
  ASSERT_TRUE(select.WaitFor("Password: ")) << select.transcript;
  select.Type("rootpass1");
  EXPECT_EQ(select.Finish(), 0) << select.transcript;
  EXPECT_EQ(select.transcript.find("rootpass1"), std::string::npos) << select.transcript;
  EXPECT_EQ(select.transcript.find("notright1"), std::string::npos) << select.transcript;
}

}  // namespace
}  // namespace clitest
