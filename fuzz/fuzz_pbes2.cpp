// PBES2: the strict reader of its DER AlgorithmIdentifier (QA_PBES2BER) and
// decryption under the parameters it accepts.
//
// Input: byte 0 gives the password length (low 5 bits), byte 1 the piece
// size of the decryption updates (0: one update), bytes 2-3 the length of
// the AlgorithmIdentifier (big-endian); the AlgorithmIdentifier, the
// password and the cipher text follow. Properties:
// - setting any bytes never crashes and answers 0 or one of the documented
//   refusals;
// - an accepted identifier is given back byte for byte by the DER form,
//   unless it spelt out the default PRF, and the form given back is itself
//   accepted and given back unchanged;
// - with at most 16 iterations, decryption never writes past its capacity,
//   gives the same result in pieces as at once, and a success re-encrypts to
//   the same cipher text.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "cryptokit/cryptokit.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Q_ALGORITHM_METHOD* const kChooser[] = {&QM_HMACSHA1,         &QM_HMACSHA256,       &QM_HMACSHA384,
                                              &QM_HMACSHA512,       &QM_AES128CBCEncrypt, &QM_AES128CBCDecrypt,
                                              &QM_AES256CBCEncrypt, &QM_AES256CBCDecrypt, nullptr};
const uint8_t kHmacSha1Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x07};

bool Contains(const Bytes& haystack, const uint8_t* needle, size_t n) {
  return std::search(haystack.begin(), haystack.end(), needle, needle + n) != haystack.end();
}

// Sets |der| into a new object; on success |*again| gets the DER form and
// |*iterations| the iteration count.
int Set(const Bytes& der, Bytes* again, uint32_t* iterations) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_ITEM item{const_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size())};
  FuzzCheck(Q_CreateAlgorithmObject(&alg) == 0);
  const int status = Q_SetAlgorithmInfo(alg, QA_PBES2BER, &item);
  if (status == 0) {
    void* form = nullptr;
    FuzzCheck(Q_GetAlgorithmInfo(&form, alg, QA_PBES2BER) == 0);
    const auto* out = static_cast<const Q_ITEM*>(form);
    again->assign(out->data, out->data + out->len);
    FuzzCheck(Q_GetAlgorithmInfo(&form, alg, QA_PBES2) == 0);
    *iterations = static_cast<const Q_PBES2_PARAMS*>(form)->iterationCount;
  }
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

int Run(bool encrypt, const Bytes& der, const Bytes& password, const Bytes& input, size_t piece, Bytes* output) {
  Q_ALGORITHM_OBJ alg = nullptr;
  Q_KEY_OBJ key = nullptr;
  Q_ITEM params{const_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size())};
  Q_ITEM pw{const_cast<uint8_t*>(password.data()), static_cast<uint32_t>(password.size())};
  const uint32_t capacity = static_cast<uint32_t>(input.size() + (encrypt ? 16 : 0));
  Bytes buffer(std::max<uint32_t>(capacity, 1));
  uint32_t written = 0;
  FuzzCheck(Q_CreateAlgorithmObject(&alg) == 0);
  FuzzCheck(Q_SetAlgorithmInfo(alg, QA_PBES2BER, &params) == 0);
  FuzzCheck(Q_CreateKeyObject(&key) == 0);
  FuzzCheck(Q_SetKeyInfo(key, QK_Item, &pw) == 0);
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
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  fuzz::Reader in{data, size};
  const size_t passwordLen = in.Byte() & 0x1F;
  const size_t piece = in.Byte();
  const size_t derLen = (static_cast<size_t>(in.Byte()) << 8) | in.Byte();
  size_t got = 0;
  const uint8_t* p = in.Take(derLen, &got);
  const Bytes der(p, p + got);
  p = in.Take(passwordLen, &got);
  const Bytes password(p, p + got);
  const Bytes cipher(in.data, in.data + in.size);

  Bytes again;
  uint32_t iterations = 0;
  const int status = Set(der, &again, &iterations);
  if (status != 0) {
    FuzzCheck(status == Q_ERR_INPUT_DATA || status == Q_ERR_GET_ALGORITHM_INFO || status == Q_ERR_PBE_ITERATIONS ||
              status == Q_ERR_PBE_PRF || status == Q_ERR_PBE_CIPHER || status == Q_ERR_PBE_LENGTH ||
              status == Q_ERR_DER_TOO_LONG);
    return 0;
  }
  FuzzCheck(again == der || Contains(der, kHmacSha1Oid, sizeof kHmacSha1Oid));
  Bytes third;
  uint32_t iterationsAgain = 0;
  FuzzCheck(Set(again, &third, &iterationsAgain) == 0);
  FuzzCheck(third == again && iterationsAgain == iterations);
  if (iterations > 16) return 0;

  Bytes plain;
  const int decrypted = Run(false, der, password, cipher, 0, &plain);
  if (piece != 0) {
    Bytes plainInPieces;
    FuzzCheck(Run(false, der, password, cipher, piece, &plainInPieces) == decrypted);
    FuzzCheck(plainInPieces == plain || decrypted != 0);
  }
  if (decrypted != 0) {
    FuzzCheck(decrypted == Q_ERR_INPUT_DATA || decrypted == Q_ERR_INPUT_LEN);
    return 0;
  }
  FuzzCheck(!cipher.empty() && cipher.size() % 16 == 0);
  FuzzCheck(plain.size() < cipher.size() && plain.size() + 16 >= cipher.size());
  Bytes reencrypted;
  FuzzCheck(Run(true, der, password, plain, 0, &reencrypted) == 0);
  FuzzCheck(reencrypted == cipher);
  return 0;
}
