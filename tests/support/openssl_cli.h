// Runs the openssl command line as an outside oracle in tests.
#ifndef KVCATOOL_TESTS_SUPPORT_OPENSSL_CLI_H
#define KVCATOOL_TESTS_SUPPORT_OPENSSL_CLI_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/hex.h"

namespace testsupport {

inline bool HaveOpenssl() { return std::system("openssl version >/dev/null 2>&1") == 0; }

// A scratch directory removed when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/kvcatest-XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made != nullptr ? made : "/tmp";
  }
  ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs |command| through the shell; true when it exits 0.
inline bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace testsupport

#endif
