// The portable AES block code. The S-box is computed rather than looked up:
// the multiplicative inverse in GF(2^8) as x^254 by square-and-multiply,
// then the affine map of FIPS 197, 5.1.1, eight bytes at once in a 64-bit
// word. Every step is the same sequence of shifts, masks and exclusive-ors
// whatever the key and data, so the time taken does not depend on them.
// Correctness is what counts here; the AES instructions carry the speed.
#include <cstring>

#include "cryptokit/aes/aes.h"
#include "cryptokit/digest/byte_order.h"

namespace qk {
namespace {

constexpr uint64_t kLow = 0x0101010101010101ull;

// Multiplication by x in each byte: shift, and reduce by x^8 + x^4 + x^3 +
// x + 1 where the top bit was set.
inline uint64_t Xtime8(uint64_t x) { return ((x & 0x7f7f7f7f7f7f7f7full) << 1) ^ (((x >> 7) & kLow) * 0x1b); }

// Byte-wise product in GF(2^8) of the eight bytes of |a| and |b|.
inline uint64_t Mul8(uint64_t a, uint64_t b) {
  uint64_t r = 0;
  for (int i = 0; i < 8; ++i) {
    r ^= a & (((b >> i) & kLow) * 0xff);
    a = Xtime8(a);
  }
  return r;
}

// Byte-wise x^254, the inverse of x (0 for 0): x^2, x^3, x^12, x^15, x^240,
// x^252, x^254.
inline uint64_t Inverse8(uint64_t x) {
  const uint64_t x2 = Mul8(x, x);
  const uint64_t x3 = Mul8(x2, x);
  const uint64_t x6 = Mul8(x3, x3);
  const uint64_t x12 = Mul8(x6, x6);
  const uint64_t x15 = Mul8(x12, x3);
  uint64_t x240 = Mul8(x15, x15);
  x240 = Mul8(x240, x240);
  x240 = Mul8(x240, x240);
  x240 = Mul8(x240, x240);
  const uint64_t x252 = Mul8(x240, x12);
  return Mul8(x252, x2);
}

// Rotation left by |n| (1..7) inside each byte.
inline uint64_t Rotl8(uint64_t x, int n) {
  const uint64_t high = (0xffull << n) & 0xff;
  const uint64_t low = 0xffull >> (8 - n);
  return ((x << n) & (high * kLow)) | ((x >> (8 - n)) & (low * kLow));
}

inline uint64_t SubBytes8(uint64_t x) {
  const uint64_t b = Inverse8(x);
  return b ^ Rotl8(b, 1) ^ Rotl8(b, 2) ^ Rotl8(b, 3) ^ Rotl8(b, 4) ^ (0x63 * kLow);
}

inline uint64_t InvSubBytes8(uint64_t x) {
  return Inverse8(Rotl8(x, 1) ^ Rotl8(x, 3) ^ Rotl8(x, 6) ^ (0x05 * kLow));
}

template <uint64_t (*F)(uint64_t)>
void SubState(uint8_t s[16]) {
  uint64_t w[2];
  std::memcpy(w, s, 16);
  w[0] = F(w[0]);
  w[1] = F(w[1]);
  std::memcpy(s, w, 16);
}

// The state is kept as FIPS 197 lays it out in memory: byte r + 4c is row
// r, column c.
void ShiftRows(uint8_t s[16]) {
  uint8_t t[16];
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) t[r + 4 * c] = s[r + 4 * ((c + r) & 3)];
  }
  std::memcpy(s, t, 16);
}

void InvShiftRows(uint8_t s[16]) {
  uint8_t t[16];
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) t[r + 4 * ((c + r) & 3)] = s[r + 4 * c];
  }
  std::memcpy(s, t, 16);
}

inline uint32_t Xtime4(uint32_t x) { return ((x & 0x7f7f7f7fu) << 1) ^ (((x >> 7) & 0x01010101u) * 0x1b); }

// A column as a little-endian word: byte r is row r, so a right rotation by
// 8 brings row r + 1 to row r.
inline uint32_t MixColumn(uint32_t a) {
  const uint32_t a1 = Rotr(a, 8), a2 = Rotr(a, 16), a3 = Rotr(a, 24);
  // 2a0 + 3a1 + a2 + a3 = 2(a0 + a1) + a1 + a2 + a3.
  return Xtime4(a ^ a1) ^ a1 ^ a2 ^ a3;
}

void MixColumns(uint8_t s[16]) {
  for (int c = 0; c < 4; ++c) Store32Le(s + 4 * c, MixColumn(Load32Le(s + 4 * c)));
}

// InvMixColumns as a fix-up followed by MixColumns: the inverse matrix is
// the forward one times {04}(a0 + a2), {04}(a1 + a3) added to the rows.
void InvMixColumns(uint8_t s[16]) {
  for (int c = 0; c < 4; ++c) {
    uint32_t a = Load32Le(s + 4 * c);
    a ^= Xtime4(Xtime4(a ^ Rotr(a, 16)));
    Store32Le(s + 4 * c, MixColumn(a));
  }
}

inline void AddRoundKey(uint8_t s[16], const uint8_t k[16]) {
  for (int i = 0; i < 16; ++i) s[i] ^= k[i];
}

void EncryptBlock(const AesKeySchedule* ks, uint8_t s[16]) {
  AddRoundKey(s, ks->rk[0]);
  for (uint32_t r = 1; r < ks->rounds; ++r) {
    SubState<SubBytes8>(s);
    ShiftRows(s);
    MixColumns(s);
    AddRoundKey(s, ks->rk[r]);
  }
  SubState<SubBytes8>(s);
  ShiftRows(s);
  AddRoundKey(s, ks->rk[ks->rounds]);
}

void DecryptBlock(const AesKeySchedule* ks, uint8_t s[16]) {
  AddRoundKey(s, ks->rk[ks->rounds]);
  for (uint32_t r = ks->rounds - 1; r > 0; --r) {
    InvShiftRows(s);
    SubState<InvSubBytes8>(s);
    AddRoundKey(s, ks->rk[r]);
    InvMixColumns(s);
  }
  InvShiftRows(s);
  SubState<InvSubBytes8>(s);
  AddRoundKey(s, ks->rk[0]);
}

// FIPS 197, 5.2, on bytes: words w[i] = w[i - Nk] ^ temp.
void Expand(const uint8_t* key, uint32_t keyLength, AesKeySchedule* ks) {
  const uint32_t nk = keyLength / 4;
  ks->rounds = nk + 6;
  const uint32_t words = 4 * (ks->rounds + 1);
  uint8_t* w = &ks->rk[0][0];
  std::memcpy(w, key, keyLength);
  uint8_t rcon = 1;
  for (uint32_t i = nk; i < words; ++i) {
    uint8_t t[8] = {};
    std::memcpy(t, w + 4 * (i - 1), 4);
    if (i % nk == 0 || (nk > 6 && i % nk == 4)) {
      if (i % nk == 0) {
        const uint8_t first = t[0];
        t[0] = t[1];
        t[1] = t[2];
        t[2] = t[3];
        t[3] = first;
      }
      uint64_t v;
      std::memcpy(&v, t, 8);
      v = SubBytes8(v);
      std::memcpy(t, &v, 8);
      if (i % nk == 0) {
        t[0] ^= rcon;
        rcon = static_cast<uint8_t>(Xtime4(rcon));
      }
    }
    for (int j = 0; j < 4; ++j) w[4 * i + j] = static_cast<uint8_t>(w[4 * (i - nk) + j] ^ t[j]);
    QMem_Wipe(t, sizeof t);
  }
}

void CbcEncrypt(const AesKeySchedule* ks, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  uint8_t s[16];
  for (; blocks != 0; --blocks, in += 16, out += 16) {
    for (int i = 0; i < 16; ++i) s[i] = in[i] ^ iv[i];
    EncryptBlock(ks, s);
    std::memcpy(iv, s, 16);
    std::memcpy(out, s, 16);
  }
  QMem_Wipe(s, sizeof s);
}

void CbcDecrypt(const AesKeySchedule* ks, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  uint8_t s[16], c[16];
  for (; blocks != 0; --blocks, in += 16, out += 16) {
    std::memcpy(c, in, 16);
    std::memcpy(s, c, 16);
    DecryptBlock(ks, s);
    for (int i = 0; i < 16; ++i) out[i] = s[i] ^ iv[i];
    std::memcpy(iv, c, 16);
  }
  QMem_Wipe(s, sizeof s);
}

}  // namespace

const AesImplementation kAesPortable{Expand, Expand, CbcEncrypt, CbcDecrypt};

}  // namespace qk
