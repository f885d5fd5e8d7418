// Memory hooks of the crypto toolkit. Every block the crypto toolkit and the
// certificate toolkit allocate goes through these functions, so tests can make
// an allocation fail on demand and can inspect every block as it is released.
//
// Blocks carry a small hidden header holding their size, which lets
// QMem_SecureRelease wipe a block whose size the caller no longer knows.
#ifndef KVCATOOL_CRYPTOKIT_QMEMORY_H
#define KVCATOOL_CRYPTOKIT_QMEMORY_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

// QMem_Fill sets |n| bytes at |p| to |value|; nothing happens when |n| is 0.
void QMem_Fill(void* p, int value, uint32_t n);
// QMem_Copy copies |n| non-overlapping bytes; nothing happens when |n| is 0.
void QMem_Copy(void* dst, const void* src, uint32_t n);
// QMem_Move copies |n| bytes that may overlap; nothing happens when |n| is 0.
void QMem_Move(void* dst, const void* src, uint32_t n);
// QMem_Compare compares like memcmp; returns 0 when |n| is 0.
int QMem_Compare(const void* a, const void* b, uint32_t n);
// QMem_Allocate returns a new block of |n| bytes (1 byte when |n| is 0), or
// null when allocation fails. The caller owns the block.
void* QMem_Allocate(uint32_t n);
// QMem_Duplicate returns a new block holding a copy of the |n| bytes at
// |src| (1 byte when |n| is 0), or null when allocation fails. The caller
// owns the block.
void* QMem_Duplicate(const void* src, uint32_t n);
// QMem_Reallocate resizes |p| to |n| bytes (1 when |n| is 0) and returns the
// new block; a null |p| is allocated afresh. The old contents move to a new
// block and the old block is wiped, so no copy of a secret is left behind. On
// failure the old block is wiped and released and null is returned.
void* QMem_Reallocate(void* p, uint32_t n);
// QMem_Release frees |p| as it is; a null block is ignored.
void QMem_Release(void* p);
// QMem_SecureRelease overwrites the whole of |p| with zeros, then frees it.
void QMem_SecureRelease(void* p);
// QMem_BlockSize returns the size |p| was allocated with (0 for null).
uint32_t QMem_BlockSize(const void* p);
// QMem_Time returns the current calendar time in seconds since 1970, as a
// 64-bit count so that times after 2106 fit.
int64_t QMem_Time();
// QMem_Wipe overwrites |n| bytes with zeros in a way the compiler keeps.
void QMem_Wipe(void* p, size_t n);

// Test hooks. They are process-wide and not thread-safe; the toolkit is used
// from one thread.
struct QMem_TestHooks {
  // Allocation number (1-based, counted from the moment the hooks are set)
  // that fails; 0 means none fails.
  uint64_t failAt = 0;
  // When set, every later allocation fails as well.
  bool failAfter = false;
  // Called with every block just before it is freed, with its size.
  void (*onRelease)(const void* block, uint32_t size, void* context) = nullptr;
  // Called when a time is asked for; null means the system clock.
  int64_t (*clock)(void* context) = nullptr;
  void* context = nullptr;
};
// QMem_SetTestHooks installs |hooks| (or removes them for null) and restarts
// the allocation counter.
void QMem_SetTestHooks(const QMem_TestHooks* hooks);
// QMem_AllocationCount returns the allocations attempted since the hooks were
// last set.
uint64_t QMem_AllocationCount();
// QMem_LiveBlocks returns the number of blocks allocated and not yet freed.
int64_t QMem_LiveBlocks();

// QNew constructs a T in a block from QMem_Allocate; null when allocation
// fails. QDelete destroys it and releases the block wiped.
template <class T, class... Args>
T* QNew(Args&&... args) {
  void* p = QMem_Allocate(static_cast<uint32_t>(sizeof(T)));
  if (p == nullptr) return nullptr;
  return new (p) T(std::forward<Args>(args)...);
}
template <class T>
void QDelete(T* p) {
  if (p == nullptr) return;
  p->~T();
  QMem_SecureRelease(p);
}

#endif
