// Password decryption (QA_PBEWithSHA1AndDESCBC) on arbitrary cipher texts.
//
// Input: byte 0 gives the password length (its low 5 bits) and byte 1 the
// iteration count (1 to 4, low 2 bits) and the piece size of the decryption
// updates (upper 6 bits; 0 means one update); the password follows, then the
// cipher text. The salt is fixed. Properties:
// - decryption never writes past the capacity it is given (the length of
//   the cipher text, as the key service gives it) and never crashes;
// - decrypting in pieces gives the same status and plain text as at once;
// - when decryption succeeds, the cipher text had a whole number of blocks
//   and encrypting the plain text again gives the cipher text back.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "cryptokit/cryptokit.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Q_ALGORITHM_METHOD* const kChooser[] = {&QM_SHA1, &QM_DESCBCEncrypt, &QM_DESCBCDecrypt, nullptr};
const uint8_t kSalt[8] = {0x5a, 0x17, 0xc3, 0x08, 0x9e, 0x41, 0xf2, 0x6d};

// One encryption or decryption over |input| in updates of |piece| bytes
// (0: one update). The output buffer is exactly the capacity passed, so
// ASan catches a write past it.
int Run(bool encrypt, const Bytes& password, uint32_t iterations, const Bytes& input, size_t piece, Bytes* output) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ key = nullptr;
  Q_PBE_PARAMS params{const_cast<uint8_t*>(kSalt), iterations};
  Q_ITEM item{const_cast<uint8_t*>(password.data()), static_cast<uint32_t>(password.size())};
  const uint32_t capacity = static_cast<uint32_t>(input.size() + (encrypt ? 8 : 0));
  // At least one byte, so that the buffer has an address of its own.
  Bytes buffer(std::max<uint32_t>(capacity, 1));
  uint32_t written = 0;
  FuzzCheck(Q_CreateAlgorithmObject(&alg) == 0);
  FuzzCheck(Q_SetAlgorithmInfo(alg, QA_PBEWithSHA1AndDESCBC, &params) == 0);
  FuzzCheck(Q_CreateKeyObject(&key) == 0);
  FuzzCheck(Q_SetKeyInfo(key, QK_Item, &item) == 0);
  int status = encrypt ? Q_EncryptInit(alg, key, kChooser, nullptr) : Q_DecryptInit(alg, key, kChooser, nullptr);
  FuzzCheck(status == 0);
  auto update = encrypt ? Q_EncryptUpdate : Q_DecryptUpdate;
  const size_t step = piece == 0 ? std::max<size_t>(input.size(), 1) : piece;
  for (size_t at = 0; status == 0 && at < input.size(); at += step) {
    const uint32_t n = static_cast<uint32_t>(std::min(step, input.size() - at));
    uint32_t len = 0;
    status = update(alg, buffer.data() + written, &len, capacity - written, input.data() + at, n, nullptr, nullptr);
    if (status == 0) {
      FuzzCheck(len <= capacity - written);
      written += len;
    }
  }
  if (status == 0) {
    uint32_t len = 0;
    auto final = encrypt ? Q_EncryptFinal : Q_DecryptFinal;
    status = final(alg, buffer.data() + written, &len, capacity - written, nullptr, nullptr);
    if (status == 0) {
      FuzzCheck(len <= capacity - written);
      written += len;
    }
  }
  output->assign(buffer.begin(), buffer.begin() + written);
  FuzzCheck(Q_DestroyKeyObject(&key) == 0);
  Q_DestroyAlgorithmObject(&alg);
  FuzzCheck(alg == nullptr);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  fuzz::Reader in{data, size};
  const size_t passwordLen = in.Byte() & 0x1F;
  const uint8_t control = in.Byte();
  const uint32_t iterations = 1 + (control & 3);
  const size_t piece = control >> 2;
  size_t got = 0;
  const uint8_t* p = in.Take(passwordLen, &got);
  const Bytes password(p, p + got);
  const Bytes cipher(in.data, in.data + in.size);

  Bytes plain;
  const int status = Run(false, password, iterations, cipher, 0, &plain);
  if (piece != 0) {
    Bytes plainInPieces;
    FuzzCheck(Run(false, password, iterations, cipher, piece, &plainInPieces) == status);
    FuzzCheck(plainInPieces == plain || status != 0);
  }
  if (status != 0) {
    FuzzCheck(status == Q_ERR_INPUT_DATA || status == Q_ERR_INPUT_LEN);
    return 0;
  }
  FuzzCheck(!cipher.empty() && cipher.size() % 8 == 0);
  FuzzCheck(plain.size() < cipher.size() && plain.size() + 8 >= cipher.size());
  Bytes again;
  FuzzCheck(Run(true, password, iterations, plain, 0, &again) == 0);
  FuzzCheck(again == cipher);
  return 0;
}
