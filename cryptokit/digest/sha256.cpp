// SHA-256 (FIPS 180-4): buffering, padding and the choice between the
// processor's SHA instructions and the portable compression below.
#include <cstddef>
#include <cstring>

#include "cryptokit/digest/block_buffer.h"
#include "cryptokit/digest/byte_order.h"
#include "cryptokit/digest/digests.h"
#include "cryptokit/digest/sha256_blocks.h"
#include "cryptokit/qmemory.h"

namespace qk {

const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u, 0xab1c5ed5u,
    0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu, 0x9bdc06a7u, 0xc19bf174u,
    0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu, 0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau,
    0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u, 0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u,
    0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu, 0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u,
    0xa2bfe8a1u, 0xa81a664bu, 0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u,
    0x19a4c116u, 0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u, 0xc67178f2u,
};

namespace {

// Whether callers want the SHA instructions used when present.
bool g_preferShaInstructions = true;

bool CpuHasSha() {
  static const bool has = Sha256CpuHasShaInstructions();
  return has;
}

using BlocksFn = void (*)(uint32_t*, const uint8_t*, size_t);

BlocksFn ChosenBlocks() {
  return g_preferShaInstructions && CpuHasSha() ? Sha256BlocksShaNi : Sha256BlocksPortable;
}

// The functions of FIPS 180-4, 4.1.2.
#define SHA256_CH(e, f, g) ((((f) ^ (g)) & (e)) ^ (g))
#define SHA256_MAJ(a, b, c) (((a) & (b)) | ((c) & ((a) | (b))))
#define SHA256_BIG0(x) (Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22))
#define SHA256_BIG1(x) (Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25))
#define SHA256_SMALL0(x) (Rotr(x, 7) ^ Rotr(x, 18) ^ ((x) >> 3))
#define SHA256_SMALL1(x) (Rotr(x, 17) ^ Rotr(x, 19) ^ ((x) >> 10))

// The message schedule lives in a 16-word ring: W[t] for t >= 16 replaces
// W[t-16]. |i| is t mod 16, so it is a constant in the unrolled rounds.
#define SHA256_W_LOAD(i) (w[i] = Load32Be(p + 4 * (i)))
#define SHA256_W_NEXT(i)                                                                             \
  (w[i] += SHA256_SMALL1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + SHA256_SMALL0(w[((i) + 1) & 15]))

// One round with the working variables named by role; the caller rotates
// the names instead of moving values.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, k, wt)                 \
  h += SHA256_BIG1(e) + SHA256_CH(e, f, g) + (k) + (wt);            \
  d += h;                                                           \
  h += SHA256_BIG0(a) + SHA256_MAJ(a, b, c)

// Eight rounds bring the roles back to where they started. |t| is the
// number of the first round, a multiple of 8; |W| loads or expands.
#define SHA256_EIGHT(W, t, i)                                                    \
  SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256RoundConstants[(t) + 0], W((i) + 0)); \
  SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256RoundConstants[(t) + 1], W((i) + 1)); \
  SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256RoundConstants[(t) + 2], W((i) + 2)); \
  SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256RoundConstants[(t) + 3], W((i) + 3)); \
  SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256RoundConstants[(t) + 4], W((i) + 4)); \
  SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256RoundConstants[(t) + 5], W((i) + 5)); \
  SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256RoundConstants[(t) + 6], W((i) + 6)); \
  SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256RoundConstants[(t) + 7], W((i) + 7))

}  // namespace

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* p, size_t blocks) {
  uint32_t w[16];
  for (; blocks != 0; --blocks, p += 64) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    SHA256_EIGHT(SHA256_W_LOAD, 0, 0);
    SHA256_EIGHT(SHA256_W_LOAD, 8, 8);
    for (int t = 16; t < 64; t += 16) {
      SHA256_EIGHT(SHA256_W_NEXT, t, 0);
      SHA256_EIGHT(SHA256_W_NEXT, t + 8, 8);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  QMem_Wipe(w, sizeof w);
}

#undef SHA256_EIGHT
#undef SHA256_ROUND
#undef SHA256_W_NEXT
#undef SHA256_W_LOAD
#undef SHA256_SMALL1
#undef SHA256_SMALL0
#undef SHA256_BIG1
#undef SHA256_BIG0
#undef SHA256_MAJ
#undef SHA256_CH

void Sha256UseShaInstructions(bool use) { g_preferShaInstructions = use; }

bool Sha256HasShaInstructions() { return CpuHasSha(); }

Sha256BlocksFn Sha256SelectedBlocks() { return ChosenBlocks(); }

void Sha256Init(Sha256Context* c) {
  c->state[0] = 0x6a09e667;
  c->state[1] = 0xbb67ae85;
  c->state[2] = 0x3c6ef372;
  c->state[3] = 0xa54ff53a;
  c->state[4] = 0x510e527f;
  c->state[5] = 0x9b05688c;
  c->state[6] = 0x1f83d9ab;
  c->state[7] = 0x5be0cd19;
  c->bitCount = 0;
  std::memset(c->buffer, 0, sizeof c->buffer);
}

void Sha256Update(Sha256Context* c, const uint8_t* data, uint32_t len) {
  if (len == 0) return;
  const BlocksFn blocksFn = ChosenBlocks();
  uint32_t have = static_cast<uint32_t>(c->bitCount >> 3) & 63;
  c->bitCount += static_cast<uint64_t>(len) << 3;
  AbsorbMessage<64>(c->buffer, have, data, len, [&](const uint8_t* p, size_t n) { blocksFn(c->state, p, n); });
}

void Sha256Final(Sha256Context* c, uint8_t out[32]) {
  // Pad: 0x80, zeros up to 56 bytes modulo 64, then the bit length as a
  // 64-bit big-endian number.
  const BlocksFn blocksFn = ChosenBlocks();
  uint32_t have = static_cast<uint32_t>(c->bitCount >> 3) & 63;
  PadLastBlock<64, 8>(c->buffer, have, [&](const uint8_t* p, size_t n) { blocksFn(c->state, p, n); });
  Store32Be(c->buffer + 56, static_cast<uint32_t>(c->bitCount >> 32));
  Store32Be(c->buffer + 60, static_cast<uint32_t>(c->bitCount));
  blocksFn(c->state, c->buffer, 1);
  for (int i = 0; i < 8; ++i) Store32Be(out + 4 * i, c->state[i]);
  QMem_Wipe(c, sizeof *c);
  Sha256Init(c);
}

}  // namespace qk
