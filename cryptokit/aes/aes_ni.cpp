// AES with the x86 AES instructions. The key expansion follows FIPS 197,
// 5.2 with AESKEYGENASSIST supplying SubWord(RotWord(w)) ^ Rcon; the
// decrypting side's round keys go through AESIMC (the equivalent inverse
// cipher). CBC encryption is serial by nature; CBC decryption runs eight
// independent blocks through the rounds together so the instruction's
// latency is hidden.
#include "cryptokit/aes/aes.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#define KVCA_AES_TARGET __attribute__((target("aes,sse2")))

namespace qk {
namespace {

KVCA_AES_TARGET inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
KVCA_AES_TARGET inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// w[i..i+3] from w[i-Nk..i-Nk+3] and the broadcast temp word: each word is
// the exclusive-or of all earlier words of the group and temp.
KVCA_AES_TARGET inline __m128i Fold(__m128i previous, __m128i temp) {
  previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 4));
  previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 8));
  return _mm_xor_si128(previous, temp);
}

template <int Rcon>
KVCA_AES_TARGET inline __m128i Next128(__m128i k) {
  return Fold(k, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(k, Rcon), 0xff));
}

// AES-256: the even groups use SubWord(RotWord(w)) ^ Rcon of the last word,
// the odd ones SubWord(w) without rotation or constant.
template <int Rcon>
KVCA_AES_TARGET inline __m128i Next256Even(__m128i even, __m128i odd) {
  return Fold(even, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(odd, Rcon), 0xff));
}
KVCA_AES_TARGET inline __m128i Next256Odd(__m128i even, __m128i odd) {
  return Fold(odd, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(even, 0), 0xaa));
}

KVCA_AES_TARGET void ExpandEncrypt(const uint8_t* key, uint32_t keyLength, AesKeySchedule* ks) {
  __m128i* rk = reinterpret_cast<__m128i*>(ks->rk);
  if (keyLength == kAes128KeyLength) {
    ks->rounds = 10;
    __m128i k = Load(key);
    rk[0] = k;
    rk[1] = k = Next128<0x01>(k);
    rk[2] = k = Next128<0x02>(k);
    rk[3] = k = Next128<0x04>(k);
    rk[4] = k = Next128<0x08>(k);
    rk[5] = k = Next128<0x10>(k);
    rk[6] = k = Next128<0x20>(k);
    rk[7] = k = Next128<0x40>(k);
    rk[8] = k = Next128<0x80>(k);
    rk[9] = k = Next128<0x1b>(k);
    rk[10] = Next128<0x36>(k);
    return;
  }
  ks->rounds = 14;
  __m128i even = Load(key), odd = Load(key + 16);
  rk[0] = even;
  rk[1] = odd;
  rk[2] = even = Next256Even<0x01>(even, odd);
  rk[3] = odd = Next256Odd(even, odd);
  rk[4] = even = Next256Even<0x02>(even, odd);
  rk[5] = odd = Next256Odd(even, odd);
  rk[6] = even = Next256Even<0x04>(even, odd);
  rk[7] = odd = Next256Odd(even, odd);
  rk[8] = even = Next256Even<0x08>(even, odd);
  rk[9] = odd = Next256Odd(even, odd);
  rk[10] = even = Next256Even<0x10>(even, odd);
  rk[11] = odd = Next256Odd(even, odd);
  rk[12] = even = Next256Even<0x20>(even, odd);
  rk[13] = Next256Odd(even, odd);
  rk[14] = Next256Even<0x40>(even, rk[13]);
}

// The equivalent inverse cipher's keys: the encryption keys reversed, the
// inner ones through InvMixColumns.
KVCA_AES_TARGET void ExpandDecrypt(const uint8_t* key, uint32_t keyLength, AesKeySchedule* ks) {
  AesKeySchedule enc;
  ExpandEncrypt(key, keyLength, &enc);
  const __m128i* e = reinterpret_cast<const __m128i*>(enc.rk);
  __m128i* d = reinterpret_cast<__m128i*>(ks->rk);
  const uint32_t n = enc.rounds;
  ks->rounds = n;
  d[0] = e[n];
  for (uint32_t r = 1; r < n; ++r) d[r] = _mm_aesimc_si128(e[n - r]);
  d[n] = e[0];
  QMem_Wipe(&enc, sizeof enc);
}

KVCA_AES_TARGET void CbcEncrypt(const AesKeySchedule* ks, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                                size_t blocks) {
  const __m128i* rk = reinterpret_cast<const __m128i*>(ks->rk);
  const uint32_t n = ks->rounds;
  __m128i chain = Load(iv);
  for (; blocks != 0; --blocks, in += 16, out += 16) {
    __m128i x = _mm_xor_si128(_mm_xor_si128(Load(in), chain), rk[0]);
    for (uint32_t r = 1; r < n; ++r) x = _mm_aesenc_si128(x, rk[r]);
    chain = _mm_aesenclast_si128(x, rk[n]);
    Store(out, chain);
  }
  Store(iv, chain);
}

KVCA_AES_TARGET void CbcDecrypt(const AesKeySchedule* ks, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                                size_t blocks) {
  const __m128i* rk = reinterpret_cast<const __m128i*>(ks->rk);
  const uint32_t n = ks->rounds;
  __m128i chain = Load(iv);
  constexpr int kLanes = 8;
  for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
    // All cipher blocks are read before anything is written, so |in| may be
    // |out|.
    __m128i c[kLanes], x[kLanes];
    for (int i = 0; i < kLanes; ++i) {
      c[i] = Load(in + 16 * i);
      x[i] = _mm_xor_si128(c[i], rk[0]);
    }
    for (uint32_t r = 1; r < n; ++r) {
      const __m128i k = rk[r];
      for (int i = 0; i < kLanes; ++i) x[i] = _mm_aesdec_si128(x[i], k);
    }
    const __m128i last = rk[n];
    Store(out, _mm_xor_si128(_mm_aesdeclast_si128(x[0], last), chain));
    for (int i = 1; i < kLanes; ++i) Store(out + 16 * i, _mm_xor_si128(_mm_aesdeclast_si128(x[i], last), c[i - 1]));
    chain = c[kLanes - 1];
  }
  for (; blocks != 0; --blocks, in += 16, out += 16) {
    const __m128i c = Load(in);
    __m128i x = _mm_xor_si128(c, rk[0]);
    for (uint32_t r = 1; r < n; ++r) x = _mm_aesdec_si128(x, rk[r]);
    Store(out, _mm_xor_si128(_mm_aesdeclast_si128(x, rk[n]), chain));
    chain = c;
  }
  Store(iv, chain);
}

}  // namespace

const AesImplementation kAesInstructions{ExpandEncrypt, ExpandDecrypt, CbcEncrypt, CbcDecrypt};

bool AesCpuHasAesInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool aes = (ecx & (1u << 25)) != 0;
  const bool sse2 = (edx & (1u << 26)) != 0;
  return aes && sse2;
}

}  // namespace qk

#else  // not x86

namespace qk {

const AesImplementation kAesInstructions = kAesPortable;
bool AesCpuHasAesInstructions() { return false; }

}  // namespace qk

#endif
