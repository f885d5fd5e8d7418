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
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program with |args| in the temporary directory; standard input
  // is |input| (not a terminal).
  Result Run(const std::vector<std::string>& args, const std::string& input = "");
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
  // Runs a shell command in the temporary directory; its standard output
  // when it exits with 0, else "<failed>".
  std::string Shell(const std::string& command) const;

  std::string dir_;
  std::string settings_;
};

// Replaces every occurrence of |from| in |text|.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

}  // namespace clitest

#endif
