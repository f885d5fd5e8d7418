// The DES block cipher of FIPS 46-3.
//
// The tables below are the standard's, with its bit numbering: bit 1 is the
// most significant bit of the first byte. For speed, the S-boxes and the
// permutation P are merged at compile time into eight tables of 64 words
// (SP[j][x] = P(S_{j+1}(x) in its output position)), and the initial
// permutation IP and its inverse into per-byte tables, so one block costs a
// few table lookups per round.
#include "cryptokit/des/des.h"

#include <array>

namespace qk {
namespace {

constexpr uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFP[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                             38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                             36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                             34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                            12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                            22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2, 11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6,  13},
    {15, 1,  8,  14, 6,  11, 3, 4,  9,  7, 2, 13, 12, 0,  5,  10, 3,  13, 4, 7,  15, 2,
     8,  14, 12, 0,  1,  10, 6, 9,  11, 5, 0, 14, 7,  11, 10, 4,  13, 1,  5, 8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9, 3,  4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1, 2,  12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15, 13, 8,  11, 5, 6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1, 3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6, 8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9, 8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7, 1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

constexpr uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                              35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                              46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint32_t Rotr32(uint32_t x, unsigned n) {
  n &= 31;
  return n == 0 ? x : (x >> n) | (x << (32 - n));
}

// The six bits of E(R) that enter S-box j (0-based): E takes the standard's
// bits 4j .. 4j+5 of R (bit 0 meaning bit 32, bit 33 meaning bit 1), which a
// rotation brings to the low six bits.
constexpr uint32_t ExpansionGroup(uint32_t r, int j) { return Rotr32(r, static_cast<unsigned>(27 - 4 * j)) & 63; }

// Checks that the rotation above is exactly the standard's E table.
constexpr bool ExpansionMatchesTable() {
  for (int bit = 1; bit <= 32; ++bit) {
    uint32_t r = 1u << (32 - bit);
    for (int j = 0; j < 8; ++j) {
      uint32_t group = ExpansionGroup(r, j);
      for (int t = 0; t < 6; ++t) {
        bool fromRotation = ((group >> (5 - t)) & 1) != 0;
        bool fromTable = kE[6 * j + t] == bit;
        if (fromRotation != fromTable) return false;
      }
    }
  }
  return true;
}
static_assert(ExpansionMatchesTable(), "E expansion by rotation must equal the FIPS 46-3 table");

using SpTable = std::array<std::array<uint32_t, 64>, 8>;

constexpr SpTable MakeSp() {
  SpTable sp{};
  for (int j = 0; j < 8; ++j) {
    for (uint32_t x = 0; x < 64; ++x) {
      uint32_t row = ((x >> 4) & 2) | (x & 1);
      uint32_t column = (x >> 1) & 15;
      uint32_t s = kS[j][row * 16 + column];
      uint32_t out = 0;
      for (int i = 1; i <= 32; ++i) {
        int from = kP[i - 1];  // output bit i of P is input bit P[i]
        if (from > 4 * j && from <= 4 * j + 4 && ((s >> (3 - (from - 4 * j - 1))) & 1) != 0) {
          out |= 1u << (32 - i);
        }
      }
      sp[j][x] = out;
    }
  }
  return sp;
}
constexpr SpTable kSp = MakeSp();

using BytePermutation = std::array<std::array<uint64_t, 256>, 8>;

// For a 64-bit permutation |table| (output bit i = input bit table[i-1]),
// the contribution of each input byte value at each byte position.
constexpr BytePermutation MakeBytePermutation(const uint8_t (&table)[64]) {
  BytePermutation p{};
  for (int byte = 0; byte < 8; ++byte) {
    for (uint32_t v = 0; v < 256; ++v) {
      uint64_t out = 0;
      for (int i = 1; i <= 64; ++i) {
        int from = table[i - 1] - 1;  // 0-based input bit
        if (from / 8 == byte && ((v >> (7 - from % 8)) & 1) != 0) out |= uint64_t{1} << (64 - i);
      }
      p[byte][v] = out;
    }
  }
  return p;
}
constexpr BytePermutation kIpBytes = MakeBytePermutation(kIP);
constexpr BytePermutation kFpBytes = MakeBytePermutation(kFP);

inline uint64_t PermuteBytes(const BytePermutation& p, uint64_t x) {
  uint64_t out = 0;
  for (int byte = 0; byte < 8; ++byte) out |= p[byte][(x >> (56 - 8 * byte)) & 0xFF];
  return out;
}

inline uint32_t Feistel(uint32_t r, const uint8_t k[8]) {
  return kSp[0][ExpansionGroup(r, 0) ^ k[0]] ^ kSp[1][ExpansionGroup(r, 1) ^ k[1]] ^
         kSp[2][ExpansionGroup(r, 2) ^ k[2]] ^ kSp[3][ExpansionGroup(r, 3) ^ k[3]] ^
         kSp[4][ExpansionGroup(r, 4) ^ k[4]] ^ kSp[5][ExpansionGroup(r, 5) ^ k[5]] ^
         kSp[6][ExpansionGroup(r, 6) ^ k[6]] ^ kSp[7][ExpansionGroup(r, 7) ^ k[7]];
}

uint64_t Load64(const uint8_t b[8]) {
  uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | b[i];
  return x;
}

void Store64(uint64_t x, uint8_t b[8]) {
  for (int i = 7; i >= 0; --i) {
    b[i] = static_cast<uint8_t>(x);
    x >>= 8;
  }
}

}  // namespace

void DesKeySchedule(const uint8_t key[8], bool decrypt, DesRoundKeys* keys) {
  uint64_t k = Load64(key);
  // PC-1 selects 56 bits: C0 is the first 28, D0 the last 28.
  uint32_t c = 0;
  uint32_t d = 0;
  for (int i = 0; i < 56; ++i) {
    uint32_t bit = static_cast<uint32_t>((k >> (64 - kPC1[i])) & 1);
    if (i < 28) {
      c = (c << 1) | bit;
    } else {
      d = (d << 1) | bit;
    }
  }
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kShifts[round]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    uint64_t cd = (uint64_t{c} << 28) | d;  // bit 1 of CD at position 55
    uint8_t* out = keys->k[decrypt ? 15 - round : round];
    for (int j = 0; j < 8; ++j) {
      uint8_t group = 0;
      for (int t = 0; t < 6; ++t) {
        group = static_cast<uint8_t>((group << 1) | ((cd >> (56 - kPC2[6 * j + t])) & 1));
      }
      out[j] = group;
    }
  }
  c = d = 0;
  k = 0;
}

void DesCryptBlock(const DesRoundKeys* keys, const uint8_t in[8], uint8_t out[8]) {
  uint64_t x = PermuteBytes(kIpBytes, Load64(in));
  uint32_t l = static_cast<uint32_t>(x >> 32);
  uint32_t r = static_cast<uint32_t>(x);
  for (int round = 0; round < 16; round += 2) {
    l ^= Feistel(r, keys->k[round]);
    r ^= Feistel(l, keys->k[round + 1]);
  }
  // The pre-output block is R16 L16.
  Store64(PermuteBytes(kFpBytes, (uint64_t{r} << 32) | l), out);
}

}  // namespace qk
