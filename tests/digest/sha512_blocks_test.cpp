// The SHA-512 compressions against each other, called directly: the vector
// kernel (its pipelined groups of four, the portable rounds it keeps for
// short runs and for the blocks a run of groups leaves over) must leave the
// same chaining value as the portable compression for every count of blocks
// and any alignment. The portable compression is itself held to the
// published vectors in digest_raw_test, through the public functions.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cryptokit/digest/sha512_blocks.h"
#include "gtest/gtest.h"

namespace {

using State = std::vector<uint64_t>;

State Compress(qk::Sha512BlocksFn blocks, const State& start, const uint8_t* p, size_t n) {
  State s = start;
  blocks(s.data(), p, n);
  return s;
}

// Counts around every boundary the vector kernel treats apart: below two
// groups (portable rounds only), whole groups ending on either of its two
// schedule buffers, and one to three blocks left after them.
const size_t kBlockCounts[] = {0,  1,  2,  3,  4,  5,  7,  8,  9,  10, 11, 12, 13,
                               15, 16, 17, 19, 20, 23, 24, 27, 31, 33, 64, 66, 131};

TEST(Sha512Blocks, VectorKernelMatchesPortable) {
  if (!qk::Sha512CpuHasAvx2()) GTEST_SKIP() << "no AVX2 and BMI2 here: only the portable compression runs";
  std::mt19937_64 rng(0x5a512);
  for (size_t n : kBlockCounts) {
    for (size_t offset : {0u, 1u, 8u, 29u}) {
      SCOPED_TRACE(std::to_string(n) + " blocks at offset " + std::to_string(offset));
      // Exactly the blocks and nothing after them, so that a read past the
      // end shows under the address sanitizer.
      std::vector<uint8_t> buffer(offset + 128 * n);
      for (auto& b : buffer) b = static_cast<uint8_t>(rng());
      State start(8);
      for (auto& w : start) w = rng();
      const uint8_t* p = buffer.data() + offset;
      EXPECT_EQ(Compress(qk::Sha512BlocksAvx2, start, p, n), Compress(qk::Sha512BlocksPortable, start, p, n));
    }
  }
}

}  // namespace
