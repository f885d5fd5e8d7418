// The SHA-256 compression functions behind Sha256Update and Sha256Final. Each
// runs the FIPS 180-4 compression over |blocks| consecutive 64-byte blocks at
// |p|.
#ifndef KVCATOOL_CRYPTOKIT_DIGEST_SHA256_BLOCKS_H
#define KVCATOOL_CRYPTOKIT_DIGEST_SHA256_BLOCKS_H

#include <cstddef>
#include <cstdint>

namespace qk {

// The 64 round constants of FIPS 180-4, 4.2.2.
extern const uint32_t kSha256RoundConstants[64];

// Plain C++; runs anywhere.
void Sha256BlocksPortable(uint32_t state[8], const uint8_t* p, size_t blocks);

// Uses the x86 SHA extensions (SHA256RNDS2, SHA256MSG1, SHA256MSG2) and
// SSSE3/SSE4.1. Only call it when Sha256CpuHasShaInstructions() is true.
void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* p, size_t blocks);
bool Sha256CpuHasShaInstructions();

// The compression Sha256Update uses at present (as Sha256UseShaInstructions
// and the processor decide), for code that runs the compression itself
// (HMAC).
using Sha256BlocksFn = void (*)(uint32_t*, const uint8_t*, size_t);
Sha256BlocksFn Sha256SelectedBlocks();

}  // namespace qk

#endif
