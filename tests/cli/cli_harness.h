// Runs kvcatool-cli as a process in a temporary directory with its own
// settings file, capturing the exit status, standard output and standard
// error; and a few helpers around OpenSSL's command line as an outside check.
#ifndef KVCATOOL_TESTS_CLI_CLI_HARNESS_H
#define KVCATOOL_TESTS_CLI_CLI_HARNESS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace clitest {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
  bool timedOut = false;  // killed at the deadline
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program with |args| in the temporary directory; standard input
  // is |input| (not a terminal). The user's own settings directory
  // (XDG_CONFIG_HOME) is |config_|. With |deadlineSeconds| above 0 a run
  // still going then is killed and reported as timed out.
  Result Run(const std::vector<std::string>& args, const std::string& input = "", double deadlineSeconds = 0);
  // |name| under the temporary directory.
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void WriteFile(const std::string& name, const std::string& contents) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // Remembers |path| as the root in the settings file, as the program does.
  void Remember(const std::string& path) const;
  // A key file made through the services: a new RSA key pair of
  // |modulusBytes| bytes, its private key encrypted under |password|.
  void MakeKeyFile(const std::string& name, const std::string& password, int modulusBytes = 128) const;
  // A self-signed root certificate |certName| (C=US, O=Acme, CN=kvroot) and
  // its key file |keyName| under |password|, with a 1024-bit key.
  void MakeRoot(const std::string& certName, const std::string& keyName, const std::string& password) const;
  // Runs a shell command in the temporary directory; its standard output
  // when it exits with 0, else "<failed>".
  std::string Shell(const std::string& command) const;

  std::string dir_;
  std::string settings_;
  std::string config_;
};

// Replaces every occurrence of |from| in |text|.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

}  // namespace clitest

#endif
