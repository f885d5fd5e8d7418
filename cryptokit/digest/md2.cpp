// MD2 (RFC 1319).
#include <cstring>

#include "cryptokit/digest/digests.h"
#include "cryptokit/qmemory.h"

namespace qk {
namespace {

// RFC 1319's permutation of 0..255, built from the digits of pi.
constexpr uint8_t kPiSubst[256] = {
    41,  46,  67,  201, 162, 216, 124, 1,   61,  54,  84,  161, 236, 240, 6,   19,  98,  167, 5,   243, 192, 199,
    115, 140, 152, 147, 43,  217, 188, 76,  130, 202, 30,  155, 87,  60,  253, 212, 224, 22,  103, 66,  111, 24,
    138, 23,  229, 18,  190, 78,  196, 214, 218, 158, 222, 73,  160, 251, 245, 142, 187, 47,  238, 122, 169, 104,
    121, 145, 21,  178, 7,   63,  148, 194, 16,  137, 11,  34,  95,  33,  128, 127, 93,  154, 90,  144, 50,  39,
    53,  62,  204, 231, 191, 247, 151, 3,   255, 25,  48,  179, 72,  165, 181, 209, 215, 94,  146, 42,  172, 86,
    170, 198, 79,  184, 56,  210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116, 4,   241, 69,  157, 112, 89,
    100, 113, 135, 32,  134, 91,  207, 101, 230, 45,  168, 2,   27,  96,  37,  173, 174, 176, 185, 246, 28,  70,
    97,  105, 52,  64,  126, 15,  85,  71,  163, 35,  221, 81,  175, 58,  195, 92,  249, 206, 186, 197, 234, 38,
    44,  83,  13,  110, 133, 40,  132, 9,   211, 223, 205, 244, 65,  129, 77,  82,  106, 220, 55,  200, 108, 193,
    171, 250, 36,  225, 123, 8,   12,  189, 177, 74,  120, 136, 149, 139, 227, 99,  232, 109, 233, 203, 213, 254,
    59,  0,   29,  57,  242, 239, 183, 14,  102, 88,  208, 228, 166, 119, 114, 248, 235, 117, 75,  10,  49,  68,
    80,  180, 143, 237, 31,  26,  219, 153, 141, 51,  159, 17,  131, 20,
};

// Mixes one 16-byte block into the state and the checksum. |x| is the
// caller's 48-byte work area, which ends up holding message-derived bytes;
// the caller wipes it.
void Md2Block(Md2Context* c, const uint8_t* block, uint8_t x[48]) {
  for (int i = 0; i < 16; ++i) {
    x[i] = c->state[i];
    x[16 + i] = block[i];
    x[32 + i] = static_cast<uint8_t>(c->state[i] ^ block[i]);
  }
  unsigned t = 0;
  for (unsigned round = 0; round < 18; ++round) {
    for (int k = 0; k < 48; ++k) {
      x[k] ^= kPiSubst[t];
      t = x[k];
    }
    t = (t + round) & 0xff;
  }
  std::memcpy(c->state, x, 16);

  // The checksum: C[i] ^= S[M[i] ^ L], with L the checksum byte just made
  // (RFC 1319 as corrected by its erratum).
  uint8_t l = c->checksum[15];
  for (int i = 0; i < 16; ++i) {
    c->checksum[i] ^= kPiSubst[block[i] ^ l];
    l = c->checksum[i];
  }
}

}  // namespace

void Md2Init(Md2Context* c) {
  std::memset(c->state, 0, sizeof c->state);
  std::memset(c->checksum, 0, sizeof c->checksum);
  std::memset(c->buffer, 0, sizeof c->buffer);
  c->count = 0;
}

void Md2Update(Md2Context* c, const uint8_t* data, uint32_t len) {
  if (len == 0) return;
  uint8_t x[48];
  uint32_t have = c->count;
  if (have != 0) {
    uint32_t take = 16 - have < len ? 16 - have : len;
    std::memcpy(c->buffer + have, data, take);
    data += take;
    len -= take;
    have += take;
    if (have < 16) {
      c->count = have;
      return;
    }
    Md2Block(c, c->buffer, x);
    have = 0;
  }
  for (; len >= 16; data += 16, len -= 16) Md2Block(c, data, x);
  if (len != 0) std::memcpy(c->buffer, data, len);
  c->count = len;
  QMem_Wipe(x, sizeof x);
}

void Md2Final(Md2Context* c, uint8_t out[16]) {
  // Pad with 1 to 16 bytes each holding the pad length, then digest the
  // checksum as a last block.
  uint8_t x[48];
  const uint32_t pad = 16 - c->count;
  std::memset(c->buffer + c->count, static_cast<int>(pad), pad);
  Md2Block(c, c->buffer, x);
  uint8_t checksum[16];
  std::memcpy(checksum, c->checksum, 16);
  Md2Block(c, checksum, x);
  std::memcpy(out, c->state, 16);
  QMem_Wipe(x, sizeof x);
  QMem_Wipe(checksum, sizeof checksum);
  QMem_Wipe(c, sizeof *c);
  Md2Init(c);
}

}  // namespace qk
