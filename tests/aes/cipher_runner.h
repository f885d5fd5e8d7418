// Runs a whole encryption or decryption, or a MAC, through the Q_ interface
// for the AES, HMAC and PBES2 tests.
#ifndef KVCATOOL_TESTS_AES_CIPHER_RUNNER_H
#define KVCATOOL_TESTS_AES_CIPHER_RUNNER_H

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cryptokit/cryptokit.h"
#include "support/hex.h"
#include "support/json.h"

namespace aestest {

using Bytes = std::vector<unsigned char>;

inline const Q_ALGORITHM_METHOD* const kChooser[] = {
    &QM_AES128CBCEncrypt, &QM_AES128CBCDecrypt, &QM_AES256CBCEncrypt, &QM_AES256CBCDecrypt, &QM_HMACSHA1,
    &QM_HMACSHA256,       &QM_HMACSHA384,       &QM_HMACSHA512,       nullptr};

struct CipherCall {
  Q_INFO_TYPE algorithm;
  const void* algorithmInfo;
  Q_INFO_TYPE keyForm;
  const void* keyInfo;
  bool encrypt = true;
  size_t piece = 0;  // Update in pieces of this size; 0 means one Update
  Q_CHOOSER chooser = kChooser;
};

// Output capacity: input + 16 when encrypting, input when decrypting.
// Returns the first failing status.
inline int RunCipher(const CipherCall& call, const Bytes& input, Bytes* output) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ key = nullptr;
  const uint32_t capacity = static_cast<uint32_t>(input.size() + (call.encrypt ? 16 : 0));
  Bytes buffer(std::max<uint32_t>(capacity, 1));
  uint32_t written = 0;
  int status = Q_CreateAlgorithmObject(&alg);
  if (status == 0) status = Q_SetAlgorithmInfo(alg, call.algorithm, call.algorithmInfo);
  if (status == 0) status = Q_CreateKeyObject(&key);
  if (status == 0) status = Q_SetKeyInfo(key, call.keyForm, call.keyInfo);
  if (status == 0) {
    status = call.encrypt ? Q_EncryptInit(alg, key, call.chooser, nullptr)
                          : Q_DecryptInit(alg, key, call.chooser, nullptr);
  }
  const size_t piece = call.piece == 0 ? std::max<size_t>(input.size(), 1) : call.piece;
  auto update = call.encrypt ? Q_EncryptUpdate : Q_DecryptUpdate;
  for (size_t at = 0; status == 0 && at < input.size(); at += piece) {
    const uint32_t n = static_cast<uint32_t>(std::min(piece, input.size() - at));
    uint32_t len = 0;
    status = update(alg, buffer.data() + written, &len, capacity - written, input.data() + at, n, nullptr, nullptr);
    written += status == 0 ? len : 0;
  }
  if (status == 0) {
    uint32_t len = 0;
    auto final = call.encrypt ? Q_EncryptFinal : Q_DecryptFinal;
    status = final(alg, buffer.data() + written, &len, capacity - written, nullptr, nullptr);
    written += status == 0 ? len : 0;
  }
  output->assign(buffer.begin(), buffer.begin() + written);
  Q_DestroyKeyObject(&key);
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

// HMAC of |message| under |key| with the info type |hmac|.
inline int RunMac(Q_INFO_TYPE hmac, const Bytes& key, const Bytes& message, Bytes* mac) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ keyObj = nullptr;
  Q_ITEM item{const_cast<unsigned char*>(key.data()), static_cast<uint32_t>(key.size())};
  unsigned char out[64];
  uint32_t len = 0;
  int status = Q_CreateAlgorithmObject(&alg);
  if (status == 0) status = Q_SetAlgorithmInfo(alg, hmac, nullptr);
  if (status == 0) status = Q_CreateKeyObject(&keyObj);
  if (status == 0) status = Q_SetKeyInfo(keyObj, QK_Item, &item);
  if (status == 0) status = Q_DigestInit(alg, keyObj, kChooser, nullptr);
  if (status == 0) status = Q_DigestUpdate(alg, message.data(), static_cast<uint32_t>(message.size()), nullptr);
  if (status == 0) status = Q_DigestFinal(alg, out, &len, sizeof out, nullptr);
  mac->assign(out, out + (status == 0 ? len : 0));
  Q_DestroyKeyObject(&keyObj);
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

inline bool LoadWycheproof(const std::string& name, testsupport::Json* out) {
  std::ifstream f(std::string(KVCA_TESTDATA_DIR) + "/wycheproof/" + name);
  if (!f) return false;
  std::stringstream ss;
  ss << f.rdbuf();
  *out = testsupport::JsonReader(ss.str()).Parse();
  return true;
}

// Deterministic pseudo-random bytes.
inline Bytes Pseudo(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& x : b) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<unsigned char>(seed >> 24);
  }
  return b;
}

}  // namespace aestest

#endif
