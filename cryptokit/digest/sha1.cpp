// SHA-1 (FIPS 180-1, RFC 3174): buffering, padding and the choice between the
// processor's SHA instructions and the portable compression below.
#include <cstddef>
#include <cstring>

#include "cryptokit/digest/block_buffer.h"
#include "cryptokit/digest/byte_order.h"
#include "cryptokit/digest/digests.h"
#include "cryptokit/digest/sha1_blocks.h"
#include "cryptokit/qmemory.h"

namespace qk {
namespace {

// Whether callers want the SHA instructions used when present.
bool g_preferShaInstructions = true;

bool CpuHasSha() {
  static const bool has = Sha1CpuHasShaInstructions();
  return has;
}

using BlocksFn = void (*)(uint32_t*, const uint8_t*, size_t);

BlocksFn ChosenBlocks() {
  return g_preferShaInstructions && CpuHasSha() ? Sha1BlocksShaNi : Sha1BlocksPortable;
}

// The round functions of FIPS 180-1 with their constants: Ch for rounds
// 0-19, Parity for 20-39 and 60-79, Maj for 40-59.
#define SHA1_CH(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJ(b, c, d) (((b) & (c)) + ((d) & ((b) ^ (c))))

// The message schedule lives in a 16-word ring: W[t] for t >= 16 replaces
// W[t-16].
#define SHA1_W_LOAD(t) (w[t] = Load32Be(p + 4 * (t)))
#define SHA1_W_NEXT(t) \
  (w[(t) & 15] = Rotl(w[((t) - 3) & 15] ^ w[((t) - 8) & 15] ^ w[((t) - 14) & 15] ^ w[(t) & 15], 1))

#define SHA1_ROUND(f, k, a, b, c, d, e, wt)   \
  e += Rotl(a, 5) + f(b, c, d) + (k) + (wt); \
  b = Rotl(b, 30)

// Five rounds rotate the roles of a..e back to where they started.
#define SHA1_FIVE(f, k, W, t)                     \
  SHA1_ROUND(f, k, a, b, c, d, e, W((t) + 0));    \
  SHA1_ROUND(f, k, e, a, b, c, d, W((t) + 1));    \
  SHA1_ROUND(f, k, d, e, a, b, c, W((t) + 2));    \
  SHA1_ROUND(f, k, c, d, e, a, b, W((t) + 3));    \
  SHA1_ROUND(f, k, b, c, d, e, a, W((t) + 4))

}  // namespace

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* p, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  uint32_t w[16];
  for (; blocks != 0; --blocks, p += 64) {
    const uint32_t aa = a, bb = b, cc = c, dd = d, ee = e;
    SHA1_FIVE(SHA1_CH, 0x5a827999u, SHA1_W_LOAD, 0);
    SHA1_FIVE(SHA1_CH, 0x5a827999u, SHA1_W_LOAD, 5);
    SHA1_FIVE(SHA1_CH, 0x5a827999u, SHA1_W_LOAD, 10);
    SHA1_ROUND(SHA1_CH, 0x5a827999u, a, b, c, d, e, SHA1_W_LOAD(15));
    SHA1_ROUND(SHA1_CH, 0x5a827999u, e, a, b, c, d, SHA1_W_NEXT(16));
    SHA1_ROUND(SHA1_CH, 0x5a827999u, d, e, a, b, c, SHA1_W_NEXT(17));
    SHA1_ROUND(SHA1_CH, 0x5a827999u, c, d, e, a, b, SHA1_W_NEXT(18));
    SHA1_ROUND(SHA1_CH, 0x5a827999u, b, c, d, e, a, SHA1_W_NEXT(19));
    SHA1_FIVE(SHA1_PARITY, 0x6ed9eba1u, SHA1_W_NEXT, 20);
    SHA1_FIVE(SHA1_PARITY, 0x6ed9eba1u, SHA1_W_NEXT, 25);
    SHA1_FIVE(SHA1_PARITY, 0x6ed9eba1u, SHA1_W_NEXT, 30);
    SHA1_FIVE(SHA1_PARITY, 0x6ed9eba1u, SHA1_W_NEXT, 35);
    SHA1_FIVE(SHA1_MAJ, 0x8f1bbcdcu, SHA1_W_NEXT, 40);
    SHA1_FIVE(SHA1_MAJ, 0x8f1bbcdcu, SHA1_W_NEXT, 45);
    SHA1_FIVE(SHA1_MAJ, 0x8f1bbcdcu, SHA1_W_NEXT, 50);
    SHA1_FIVE(SHA1_MAJ, 0x8f1bbcdcu, SHA1_W_NEXT, 55);
    SHA1_FIVE(SHA1_PARITY, 0xca62c1d6u, SHA1_W_NEXT, 60);
    SHA1_FIVE(SHA1_PARITY, 0xca62c1d6u, SHA1_W_NEXT, 65);
    SHA1_FIVE(SHA1_PARITY, 0xca62c1d6u, SHA1_W_NEXT, 70);
    SHA1_FIVE(SHA1_PARITY, 0xca62c1d6u, SHA1_W_NEXT, 75);
    a += aa;
    b += bb;
    c += cc;
    d += dd;
    e += ee;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
  QMem_Wipe(w, sizeof w);
}

#undef SHA1_FIVE
#undef SHA1_ROUND
#undef SHA1_W_NEXT
#undef SHA1_W_LOAD
#undef SHA1_MAJ
#undef SHA1_PARITY
#undef SHA1_CH

void Sha1UseShaInstructions(bool use) { g_preferShaInstructions = use; }

bool Sha1HasShaInstructions() { return CpuHasSha(); }

Sha1BlocksFn Sha1SelectedBlocks() { return ChosenBlocks(); }

void Sha1Init(Sha1Context* c) {
  c->state[0] = 0x67452301;
  c->state[1] = 0xefcdab89;
  c->state[2] = 0x98badcfe;
  c->state[3] = 0x10325476;
  c->state[4] = 0xc3d2e1f0;
  c->bitCount = 0;
  std::memset(c->buffer, 0, sizeof c->buffer);
}

void Sha1Update(Sha1Context* c, const uint8_t* data, uint32_t len) {
  if (len == 0) return;
  const BlocksFn blocksFn = ChosenBlocks();
  uint32_t have = static_cast<uint32_t>(c->bitCount >> 3) & 63;
  c->bitCount += static_cast<uint64_t>(len) << 3;
  AbsorbMessage<64>(c->buffer, have, data, len, [&](const uint8_t* p, size_t n) { blocksFn(c->state, p, n); });
}

void Sha1Final(Sha1Context* c, uint8_t out[20]) {
  // Pad: 0x80, zeros up to 56 bytes modulo 64, then the bit length as a
  // 64-bit big-endian number.
  const BlocksFn blocksFn = ChosenBlocks();
  uint32_t have = static_cast<uint32_t>(c->bitCount >> 3) & 63;
  PadLastBlock<64, 8>(c->buffer, have, [&](const uint8_t* p, size_t n) { blocksFn(c->state, p, n); });
  Store32Be(c->buffer + 56, static_cast<uint32_t>(c->bitCount >> 32));
  Store32Be(c->buffer + 60, static_cast<uint32_t>(c->bitCount));
  blocksFn(c->state, c->buffer, 1);
  for (int i = 0; i < 5; ++i) Store32Be(out + 4 * i, c->state[i]);
  QMem_Wipe(c, sizeof *c);
  Sha1Init(c);
}

}  // namespace qk
