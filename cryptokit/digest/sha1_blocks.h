// The SHA-1 compression functions behind Sha1Update and Sha1Final. Each runs
// the FIPS 180-1 compression over |blocks| consecutive 64-byte blocks at |p|.
#ifndef KVCATOOL_CRYPTOKIT_DIGEST_SHA1_BLOCKS_H
#define KVCATOOL_CRYPTOKIT_DIGEST_SHA1_BLOCKS_H

#include <cstddef>
#include <cstdint>

namespace qk {

// Plain C++; runs anywhere.
void Sha1BlocksPortable(uint32_t state[5], const uint8_t* p, size_t blocks);

// Uses the x86 SHA extensions (SHA1RNDS4, SHA1NEXTE, SHA1MSG1, SHA1MSG2) and
// SSSE3/SSE4.1. Only call it when Sha1CpuHasShaInstructions() is true.
void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* p, size_t blocks);
bool Sha1CpuHasShaInstructions();

// The compression Sha1Update uses at present (as Sha1UseShaInstructions and
// the processor decide), for code that runs the compression itself (HMAC).
using Sha1BlocksFn = void (*)(uint32_t*, const uint8_t*, size_t);
Sha1BlocksFn Sha1SelectedBlocks();

}  // namespace qk

#endif
