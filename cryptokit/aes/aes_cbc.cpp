// The AES-CBC methods (SP 800-38A, 6.2) with the PKCS #7 padding: 1 to 16
// bytes, each holding the pad length. Also the run-time choice of the block
// implementation.
#include "cryptokit/aes/aes.h"

namespace qk {

namespace {

// Whether callers want the AES instructions used when present.
bool g_preferAesInstructions = true;

bool CpuHasAes() {
  static const bool has = AesCpuHasAesInstructions();
  return has;
}

}  // namespace

const AesImplementation* AesChosenImplementation() {
  return g_preferAesInstructions && CpuHasAes() ? &kAesInstructions : &kAesPortable;
}

void AesUseAesInstructions(bool use) { g_preferAesInstructions = use; }

namespace {

constexpr int kStatusBadData = 5;
constexpr int kStatusBadLength = 6;
constexpr int kStatusOutputTooSmall = 10;

AesCbcContext* Ctx(void* context) { return static_cast<AesCbcContext*>(context); }

template <uint32_t KeyLength, bool Encrypt>
int Init(void* context, const uint8_t* key, const uint8_t iv[16]) {
  AesCbcContext* c = Ctx(context);
  c->impl = AesChosenImplementation();
  (Encrypt ? c->impl->expandEncrypt : c->impl->expandDecrypt)(key, KeyLength, &c->ks);
  QMem_Copy(c->iv, iv, 16);
  QMem_Copy(c->chain, iv, 16);
  QMem_Wipe(c->buffer, sizeof c->buffer);
  c->count = 0;
  return 0;
}

// Runs |blocks| blocks formed by the buffered bytes followed by |input|;
// what is left over goes into the buffer.
void RunBlocks(AesCbcContext* c, bool encrypt, uint8_t* output, const uint8_t* input, uint32_t inputLen,
               uint64_t blocks) {
  const auto cbc = encrypt ? c->impl->cbcEncrypt : c->impl->cbcDecrypt;
  if (blocks != 0 && c->count != 0) {
    // Complete the buffered block from the input.
    const uint32_t take = 16 - c->count;
    QMem_Copy(c->buffer + c->count, input, take);
    input += take;
    inputLen -= take;
    cbc(&c->ks, c->chain, c->buffer, output, 1);
    output += 16;
    --blocks;
    c->count = 0;
  }
  if (blocks != 0) {
    cbc(&c->ks, c->chain, input, output, static_cast<size_t>(blocks));
    input += 16 * blocks;
    inputLen -= static_cast<uint32_t>(16 * blocks);
  }
  QMem_Copy(c->buffer + c->count, input, inputLen);
  c->count += inputLen;
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
  AesCbcContext* c = Ctx(context);
  if (inputLen != 0 && input == nullptr) return kStatusBadData;
  const uint64_t blocks = (uint64_t{c->count} + inputLen) / 16;
  if (int s = CheckArguments(output, outputLen, outputMax, blocks * 16); s != 0) return s;
  RunBlocks(c, true, output, input, inputLen, blocks);
  if (outputLen != nullptr) *outputLen = static_cast<uint32_t>(blocks * 16);
  return 0;
}

int FinalEncrypt(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax) {
  AesCbcContext* c = Ctx(context);
  if (int s = CheckArguments(output, outputLen, outputMax, 16); s != 0) return s;
  // Encrypt never leaves a whole block buffered, so the pad is 1 to 16 bytes.
  const uint8_t pad = static_cast<uint8_t>(16 - c->count);
  QMem_Fill(c->buffer + c->count, pad, pad);
  c->impl->cbcEncrypt(&c->ks, c->chain, c->buffer, output, 1);
  QMem_Wipe(c->buffer, sizeof c->buffer);
  c->count = 0;
  QMem_Copy(c->chain, c->iv, 16);
  if (outputLen != nullptr) *outputLen = 16;
  return 0;
}

int UpdateDecrypt(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax, const uint8_t* input,
                  uint32_t inputLen) {
  AesCbcContext* c = Ctx(context);
  if (inputLen != 0 && input == nullptr) return kStatusBadData;
  const uint64_t total = uint64_t{c->count} + inputLen;
  // The last complete block is always held back for Final.
  const uint64_t blocks = total == 0 ? 0 : (total - 1) / 16;
  if (int s = CheckArguments(output, outputLen, outputMax, blocks * 16); s != 0) return s;
  RunBlocks(c, false, output, input, inputLen, blocks);
  if (outputLen != nullptr) *outputLen = static_cast<uint32_t>(blocks * 16);
  return 0;
}

// All ones when a < b, for a and b below 2^31.
inline uint32_t MaskLess(uint32_t a, uint32_t b) { return 0u - ((a - b) >> 31); }

// Checks the PKCS #7 padding of the last block without branching on its
// bytes: 0 when it is good.
uint32_t BadPadding(const uint8_t plain[16]) {
  const uint32_t pad = plain[15];
  uint32_t bad = ~MaskLess(0, pad) | MaskLess(16, pad);
  for (uint32_t i = 0; i < 16; ++i) {
    // Byte i belongs to the pad when 15 - i < pad.
    bad |= MaskLess(15 - i, pad) & (plain[i] ^ pad);
  }
  return bad;
}

int FinalDecrypt(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax) {
  AesCbcContext* c = Ctx(context);
  if (c->count != 16) return kStatusBadLength;
  // Decrypt with a copy of the chain so a failure leaves the context as it was.
  uint8_t chain[16];
  uint8_t plain[16];
  QMem_Copy(chain, c->chain, 16);
  c->impl->cbcDecrypt(&c->ks, chain, c->buffer, plain, 1);
  const uint32_t pad = plain[15];
  int status = BadPadding(plain) != 0 ? kStatusBadData : 0;
  if (status == 0) status = CheckArguments(output, outputLen, outputMax, 16 - pad);
  if (status == 0) {
    QMem_Copy(output, plain, 16 - pad);
    QMem_Wipe(c->buffer, sizeof c->buffer);
    c->count = 0;
    QMem_Copy(c->chain, c->iv, 16);
    if (outputLen != nullptr) *outputLen = 16 - pad;
  }
  QMem_Wipe(plain, sizeof plain);
  QMem_Wipe(chain, sizeof chain);
  return status;
}

const AesCbcMethodOps kAes128EncryptOps{sizeof(AesCbcContext), kAes128KeyLength, Init<kAes128KeyLength, true>,
                                        UpdateEncrypt, FinalEncrypt};
const AesCbcMethodOps kAes128DecryptOps{sizeof(AesCbcContext), kAes128KeyLength, Init<kAes128KeyLength, false>,
                                        UpdateDecrypt, FinalDecrypt};
const AesCbcMethodOps kAes256EncryptOps{sizeof(AesCbcContext), kAes256KeyLength, Init<kAes256KeyLength, true>,
                                        UpdateEncrypt, FinalEncrypt};
const AesCbcMethodOps kAes256DecryptOps{sizeof(AesCbcContext), kAes256KeyLength, Init<kAes256KeyLength, false>,
                                        UpdateDecrypt, FinalDecrypt};

}  // namespace
}  // namespace qk

extern "C" {
const Q_ALGORITHM_METHOD QM_AES128CBCEncrypt = {&qk::kTypeAES128CBC, 1, QK_AES128Key, &qk::kAes128EncryptOps};
const Q_ALGORITHM_METHOD QM_AES128CBCDecrypt = {&qk::kTypeAES128CBC, 0, QK_AES128Key, &qk::kAes128DecryptOps};
const Q_ALGORITHM_METHOD QM_AES256CBCEncrypt = {&qk::kTypeAES256CBC, 1, QK_AES256Key, &qk::kAes256EncryptOps};
const Q_ALGORITHM_METHOD QM_AES256CBCDecrypt = {&qk::kTypeAES256CBC, 0, QK_AES256Key, &qk::kAes256DecryptOps};
}
