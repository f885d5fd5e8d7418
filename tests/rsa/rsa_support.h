// Keys and raw RSA for the RSA tests.
#ifndef KVCATOOL_TESTS_RSA_RSA_SUPPORT_H
#define KVCATOOL_TESTS_RSA_RSA_SUPPORT_H

#include <string>

#include "cryptokit/cryptokit.h"
#include "support/hex.h"

namespace rsatest {

using testsupport::Bytes;

extern const Q_ALGORITHM_METHOD* const kSignChooser[];
extern const Q_ALGORITHM_METHOD* const kVerifyChooser[];

// A private key object and a public key object for the same key.
struct TestKey {
  Q_KEY_OBJ priv = nullptr;
  Q_KEY_OBJ pub = nullptr;
  TestKey() = default;
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;
  ~TestKey();
  // Sets both from a PKCS #8 PrivateKeyInfo; 0 or the toolkit's code.
  int FromPkcs8(const Bytes& der);
  // Generates a fresh key from a fixed seed.
  int Generate(uint32_t bits, const std::string& seed);
  // The same with the modern generation (2048, 3072 or 4096 bits).
  int GenerateModern(uint32_t bits, const std::string& seed);
  uint32_t k() const;
  // The raw private operation x^d mod n on a k-byte block (computed with
  // GMP), for forging blocks the toolkit would never make.
  Bytes RawPrivate(const Bytes& block) const;
  Bytes RawPublic(const Bytes& block) const;
  Bytes Pkcs8() const;

 private:
  int GenerateWith(Q_INFO_TYPE type, uint32_t bits, const std::string& seed);
};

// Signs |message| with |type|; 0 or the toolkit's code.
int Sign(Q_INFO_TYPE type, Q_KEY_OBJ key, const Bytes& message, Bytes* signature);
int Verify(Q_INFO_TYPE type, Q_KEY_OBJ key, const Bytes& message, const Bytes& signature);

}  // namespace rsatest

#endif
