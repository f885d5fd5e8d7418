// The message buffering that MD5, SHA-1, SHA-256 and SHA-512 share: whole
// blocks go straight to the compression function, a partial block waits in
// the context's buffer, and the last block is padded with 0x80 and zeros up
// to the place of the message length. The compression is passed in as
// |blocks|(pointer, count), so each digest keeps its own chosen kernel; the
// templates inline into each digest's Update and Final.
#ifndef KVCATOOL_CRYPTOKIT_DIGEST_BLOCK_BUFFER_H
#define KVCATOOL_CRYPTOKIT_DIGEST_BLOCK_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qk {

// Takes |len| bytes of message into a digest whose |buffer| of kBlock bytes
// holds |have| (below kBlock) bytes of an unfinished block.
template <uint32_t kBlock, class Blocks>
inline void AbsorbMessage(uint8_t* buffer, uint32_t have, const uint8_t* data, uint32_t len, Blocks&& blocks) {
  if (have != 0) {
    const uint32_t take = kBlock - have < len ? kBlock - have : len;
    std::memcpy(buffer + have, data, take);
    data += take;
    len -= take;
    if (have + take < kBlock) return;
    blocks(buffer, size_t{1});
  }
  if (len >= kBlock) {
    blocks(data, static_cast<size_t>(len / kBlock));
    data += len - len % kBlock;
    len %= kBlock;
  }
  if (len != 0) std::memcpy(buffer, data, len);
}

// Pads the unfinished block of |have| bytes: 0x80, then zeros up to the last
// kLengthBytes of a block, compressing a block first when the length no
// longer fits in this one. The caller writes the length there and
// compresses the buffer once more.
template <uint32_t kBlock, uint32_t kLengthBytes, class Blocks>
inline void PadLastBlock(uint8_t* buffer, uint32_t have, Blocks&& blocks) {
  buffer[have++] = 0x80;
  if (have > kBlock - kLengthBytes) {
    std::memset(buffer + have, 0, kBlock - have);
    blocks(buffer, size_t{1});
    have = 0;
  }
  std::memset(buffer + have, 0, kBlock - kLengthBytes - have);
}

}  // namespace qk

#endif
