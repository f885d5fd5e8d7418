// The DES-CBC methods (FIPS 81 cipher block chaining over FIPS 46-3 DES) with
// the PKCS #5 padding: 1 to 8 bytes, each holding the pad length.
#include "cryptokit/des/des.h"

namespace qk {
namespace {

constexpr int kStatusBadData = 5;
constexpr int kStatusBadLength = 6;
constexpr int kStatusOutputTooSmall = 10;

DesCbcContext* Ctx(void* context) { return static_cast<DesCbcContext*>(context); }

void Xor8(uint8_t* a, const uint8_t* b) {
  for (uint32_t i = 0; i < 8; ++i) a[i] ^= b[i];
}

int InitEncrypt(void* context, const uint8_t key[8], const uint8_t iv[8]) {
  DesCbcContext* c = Ctx(context);
  DesKeySchedule(key, false, &c->keys);
  QMem_Copy(c->iv, iv, 8);
  QMem_Copy(c->chain, iv, 8);
  QMem_Wipe(c->buffer, sizeof c->buffer);
  c->count = 0;
  return 0;
}

int InitDecrypt(void* context, const uint8_t key[8], const uint8_t iv[8]) {
  DesCbcContext* c = Ctx(context);
  DesKeySchedule(key, true, &c->keys);
  QMem_Copy(c->iv, iv, 8);
  QMem_Copy(c->chain, iv, 8);
  QMem_Wipe(c->buffer, sizeof c->buffer);
  c->count = 0;
  return 0;
}

// C = DES(P xor previous C), written to |out|; the chain becomes C.
void EncryptBlock(DesCbcContext* c, const uint8_t* plain, uint8_t* out) {
  uint8_t block[8];
  QMem_Copy(block, plain, 8);
  Xor8(block, c->chain);
  DesCryptBlock(&c->keys, block, c->chain);
  QMem_Copy(out, c->chain, 8);
  QMem_Wipe(block, sizeof block);
}

// P = DES^-1(C) xor previous C; the chain becomes C.
void DecryptBlock(DesCbcContext* c, const uint8_t* cipher, uint8_t* out) {
  uint8_t saved[8];
  uint8_t block[8];
  QMem_Copy(saved, cipher, 8);
  DesCryptBlock(&c->keys, saved, block);
  Xor8(block, c->chain);
  QMem_Copy(c->chain, saved, 8);
  QMem_Copy(out, block, 8);
  QMem_Wipe(block, sizeof block);
}

// Runs |step| over the blocks formed by the buffered bytes followed by
// |input|, writing |blocks| blocks; what is left over goes into the buffer.
template <class Step>
void RunBlocks(DesCbcContext* c, uint8_t* output, const uint8_t* input, uint32_t inputLen, uint64_t blocks,
               Step step) {
  for (uint64_t b = 0; b < blocks; ++b) {
    if (c->count > 0) {
      // Complete the buffered block from the input.
      uint32_t take = 8 - (c->count < 8 ? c->count : 8);
      QMem_Copy(c->buffer + c->count, input, take);
      input += take;
      inputLen -= take;
      step(c, c->buffer, output);
      c->count = c->count + take - 8;
      QMem_Move(c->buffer, c->buffer + 8, c->count);
    } else {
      step(c, input, output);
      input += 8;
      inputLen -= 8;
    }
    output += 8;
  }
  QMem_Copy(c->buffer + c->count, input, inputLen);
  c->count += inputLen;
  QMem_Wipe(c->buffer + c->count, sizeof c->buffer - c->count);
}

int CheckArguments(uint8_t* output, uint32_t* outputLen, uint32_t outputMax, uint64_t needed) {
  if (outputMax < needed || (needed != 0 && output == nullptr)) {
    if (outputLen != nullptr) *outputLen = static_cast<uint32_t>(needed);
    return kStatusOutputTooSmall;
  }
  return 0;
}

int UpdateEncrypt(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax, const uint8_t* input,
                  uint32_t inputLen) {
  DesCbcContext* c = Ctx(context);
  if (inputLen != 0 && input == nullptr) return kStatusBadData;
  uint64_t total = uint64_t{c->count} + inputLen;
  uint64_t blocks = total / 8;
  if (int s = CheckArguments(output, outputLen, outputMax, blocks * 8); s != 0) return s;
  RunBlocks(c, output, input, inputLen, blocks, EncryptBlock);
  if (outputLen != nullptr) *outputLen = static_cast<uint32_t>(blocks * 8);
  return 0;
}

int FinalEncrypt(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax) {
  DesCbcContext* c = Ctx(context);
  if (int s = CheckArguments(output, outputLen, outputMax, 8); s != 0) return s;
  // Encrypt never leaves a whole block buffered, so the pad is 1 to 8 bytes.
  uint8_t pad = static_cast<uint8_t>(8 - c->count);
  QMem_Fill(c->buffer + c->count, pad, pad);
  EncryptBlock(c, c->buffer, output);
  QMem_Wipe(c->buffer, sizeof c->buffer);
  c->count = 0;
  QMem_Copy(c->chain, c->iv, 8);
  if (outputLen != nullptr) *outputLen = 8;
  return 0;
}

int UpdateDecrypt(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax, const uint8_t* input,
                  uint32_t inputLen) {
  DesCbcContext* c = Ctx(context);
  if (inputLen != 0 && input == nullptr) return kStatusBadData;
  uint64_t total = uint64_t{c->count} + inputLen;
  // The last complete block is always held back for Final.
  uint64_t blocks = total == 0 ? 0 : (total - 1) / 8;
  if (int s = CheckArguments(output, outputLen, outputMax, blocks * 8); s != 0) return s;
  RunBlocks(c, output, input, inputLen, blocks, DecryptBlock);
  if (outputLen != nullptr) *outputLen = static_cast<uint32_t>(blocks * 8);
  return 0;
}

int FinalDecrypt(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax) {
  DesCbcContext* c = Ctx(context);
  if (c->count != 8) return kStatusBadLength;
  // Decrypt into a copy so a failure leaves the context as it was.
  DesCbcContext trial = *c;
  uint8_t plain[8];
  DecryptBlock(&trial, trial.buffer, plain);
  QMem_Wipe(&trial, sizeof trial);
  uint32_t pad = plain[7];
  int status = 0;
  if (pad < 1 || pad > 8) {
    status = kStatusBadData;
  } else {
    for (uint32_t i = 8 - pad; i < 8; ++i) {
      if (plain[i] != pad) status = kStatusBadData;
    }
  }
  if (status == 0) status = CheckArguments(output, outputLen, outputMax, 8 - pad);
  if (status == 0) {
    QMem_Copy(output, plain, 8 - pad);
    QMem_Wipe(c->buffer, sizeof c->buffer);
    c->count = 0;
    QMem_Copy(c->chain, c->iv, 8);
    if (outputLen != nullptr) *outputLen = 8 - pad;
  }
  QMem_Wipe(plain, sizeof plain);
  return status;
}

const DesCbcMethodOps kEncryptOps{sizeof(DesCbcContext), InitEncrypt, UpdateEncrypt, FinalEncrypt};
const DesCbcMethodOps kDecryptOps{sizeof(DesCbcContext), InitDecrypt, UpdateDecrypt, FinalDecrypt};

}  // namespace
}  // namespace qk

extern "C" {
const Q_ALGORITHM_METHOD QM_DESCBCEncrypt = {&qk::kTypeDESCBC, 1, QK_DESKey, &qk::kEncryptOps};
const Q_ALGORITHM_METHOD QM_DESCBCDecrypt = {&qk::kTypeDESCBC, 0, QK_DESKey, &qk::kDecryptOps};
}
