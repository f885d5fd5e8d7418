// Helpers for the certificate toolkit's tests: hex conversion, buffers the
// codec releases, and running the openssl command line as an oracle.
#ifndef KVCATOOL_TESTS_CERTKIT_TEST_UTIL_H
#define KVCATOOL_TESTS_CERTKIT_TEST_UTIL_H

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cryptokit/qmemory.h"

namespace cktest {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

inline std::string ToHex(const uint8_t* p, uint32_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint32_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

// Takes over a buffer from the codec and releases it wiped.
struct Owned {
  uint8_t* data = nullptr;
  uint32_t len = 0;
  ~Owned() { QMem_SecureRelease(data); }
  Bytes bytes() const { return Bytes(data, data + len); }
};

// Runs |command| through the shell; returns its exit status and stdout.
inline int Run(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::string text;
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return status;
}

// Writes a minimal openssl req configuration into |dir| that sets the
// string mask (the command line has no option for it) and returns the
// "-config ..." argument.
inline std::string ReqConfig(const std::string& dir, const std::string& stringMask) {
  std::string path = dir + "/req.cnf";
  std::ofstream out(path);
  out << "[req]\ndistinguished_name = dn\nstring_mask = " << stringMask << "\n[dn]\n";
  return "-config " + path;
}

inline bool HaveOpenssl() { return Run("openssl version") == 0; }

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const uint8_t* p, uint32_t n) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(p), n);
}

// A fresh temporary directory for one test.
inline std::string TempDir() {
  char pattern[] = "/tmp/certkit_test_XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir != nullptr ? std::string(dir) : std::string("/tmp");
}

}  // namespace cktest

#endif
