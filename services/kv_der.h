// A small DER writer and reader for the structures the services and the
// command-line exports assemble around the toolkit's output: PKCS #8
// EncryptedPrivateKeyInfo, PKCS #12 PFX and its bags. Buffers are wiped
// when released, since they carry keys and their encryptions.
#ifndef KVCATOOL_SERVICES_KV_DER_H
#define KVCATOOL_SERVICES_KV_DER_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "cryptokit/qmemory.h"

namespace kvder {

// An allocator that wipes every block before releasing it.
template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) {}
  T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, size_t n) {
    QMem_Wipe(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U>&) const { return true; }
};

using Bytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

// Tag numbers used here.
constexpr unsigned char kInteger = 0x02, kOctetString = 0x04, kNull = 0x05, kOid = 0x06, kUtf8 = 0x0C,
                        kBmpString = 0x1E, kSequence = 0x30, kSet = 0x31, kContext0 = 0xA0;

// An element with |tag| around |contents|, with a definite length in its
// shortest form.
Bytes Tlv(unsigned char tag, const unsigned char* contents, size_t length);
inline Bytes Tlv(unsigned char tag, const Bytes& contents) { return Tlv(tag, contents.data(), contents.size()); }
// The parts one after another.
Bytes Cat(std::initializer_list<const Bytes*> parts);
// A SEQUENCE of the parts.
Bytes Seq(std::initializer_list<const Bytes*> parts);
// An INTEGER of a non-negative value.
Bytes Integer(uint32_t value);
// Bytes from a byte range.
inline Bytes Raw(const unsigned char* data, size_t length) { return Bytes(data, data + length); }

// A view of part of a DER input.
struct Span {
  const unsigned char* data = nullptr;
  size_t length = 0;
};

// Reads the element at |*at| (before |end|) when it has |tag|: its contents
// go to |contents|, |whole| (when given) covers the whole element, and |*at|
// moves past it. Only definite lengths of up to four bytes in their shortest
// form are read. False, with |*at| unchanged, otherwise.
bool Next(const unsigned char** at, const unsigned char* end, unsigned char tag, Span* contents,
          Span* whole = nullptr);

// True when |data| is one SEQUENCE, read as Next reads it, that covers
// exactly |length| bytes (the outer shape of a certificate).
inline bool IsSingleSequence(const unsigned char* data, size_t length) {
  const unsigned char* at = data;
  Span contents;
  return data != nullptr && Next(&at, data + length, kSequence, &contents) && at == data + length;
}

}  // namespace kvder

#endif
