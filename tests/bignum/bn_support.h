// Helpers for the big-number tests: an owning wrapper, hex conversions and
// conversions to and from GMP integers.
#ifndef KVCATOOL_TESTS_BIGNUM_BN_SUPPORT_H
#define KVCATOOL_TESTS_BIGNUM_BN_SUPPORT_H

#include <gmp.h>

#include <string>
#include <vector>

#include "cryptokit/bignum.h"

namespace bntest {

// Owns one QN_BIGNUM for the length of a scope.
struct Num {
  QN_BIGNUM n{};
  Num() = default;
  Num(const Num&) = delete;
  Num& operator=(const Num&) = delete;
  ~Num() { QN_Release(&n); }
  operator QN_BIGNUM*() { return &n; }
  operator const QN_BIGNUM*() const { return &n; }
};

inline std::vector<uint8_t> HexBytes(std::string hex) {
  if (hex.size() % 2) hex.insert(hex.begin(), '0');
  std::vector<uint8_t> out;
  for (size_t i = 0; i < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline int SetHex(QN_BIGNUM* a, const std::string& hex) {
  std::vector<uint8_t> b = HexBytes(hex);
  return QN_FromBytes(b.data(), static_cast<uint32_t>(b.size()), a);
}

// Minimal lowercase hex of a value ("0" for zero).
inline std::string Hex(const QN_BIGNUM* a) {
  std::vector<uint8_t> b(QN_ByteLength(a) + 1);
  uint32_t len = 0;
  if (QN_ToBytes(a, static_cast<uint32_t>(b.size()), &len, b.data()) != QN_OK) return "<error>";
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint32_t i = 0; i < len; ++i) {
    s += digits[b[i] >> 4];
    s += digits[b[i] & 15];
  }
  size_t nz = s.find_first_not_of('0');
  return nz == std::string::npos ? "0" : s.substr(nz);
}

inline std::string Hex(const mpz_t z) {
  char* p = mpz_get_str(nullptr, 16, z);
  std::string s(p);
  void (*freefunc)(void*, size_t);
  mp_get_memory_functions(nullptr, nullptr, &freefunc);
  freefunc(p, s.size() + 1);
  return s;
}

inline int FromMpz(QN_BIGNUM* a, const mpz_t z) {
  size_t count = 0;
  std::vector<uint8_t> b((mpz_sizeinbase(z, 2) + 7) / 8 + 1);
  mpz_export(b.data(), &count, 1, 1, 1, 0, z);
  return QN_FromBytes(b.data(), static_cast<uint32_t>(count), a);
}

}  // namespace bntest

#endif
