// The memory hooks: thin wrappers over the C library with a size header on
// every block, an allocation counter and the test hooks.
#include "cryptokit/qmemory.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Header in front of every block; 16 bytes keep the caller's block aligned
// for any fundamental type.
struct alignas(16) BlockHeader {
  uint64_t size;
  uint64_t magic;
};
constexpr uint64_t kBlockMagic = 0x51424c4f434b2121ull;

QMem_TestHooks g_hooks;
bool g_hooksSet = false;
uint64_t g_allocations = 0;
int64_t g_live = 0;

BlockHeader* HeaderOf(const void* p) {
  return reinterpret_cast<BlockHeader*>(const_cast<unsigned char*>(static_cast<const unsigned char*>(p)) -
                                        sizeof(BlockHeader));
}

bool NextAllocationFails() {
  ++g_allocations;
  if (!g_hooksSet) return false;
  if (g_hooks.failAt == 0) return false;
  if (g_allocations == g_hooks.failAt) return true;
  return g_hooks.failAfter && g_allocations > g_hooks.failAt;
}

}  // namespace

void QMem_Fill(void* p, int value, uint32_t n) {
  if (n != 0) std::memset(p, value, n);
}

void QMem_Copy(void* dst, const void* src, uint32_t n) {
  if (n != 0) std::memcpy(dst, src, n);
}

void QMem_Move(void* dst, const void* src, uint32_t n) {
  if (n != 0) std::memmove(dst, src, n);
}

int QMem_Compare(const void* a, const void* b, uint32_t n) {
  if (n == 0) return 0;
  return std::memcmp(a, b, n);
}

void QMem_Wipe(void* p, size_t n) {
  if (p == nullptr || n == 0) return;
  std::memset(p, 0, n);
  // The block is about to be freed or reused: tell the compiler the zeros
  // may be read, so the store is not dropped as dead.
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

void* QMem_Allocate(uint32_t n) {
  if (n == 0) n = 1;
  if (NextAllocationFails()) return nullptr;
  void* raw = std::malloc(sizeof(BlockHeader) + n);
  if (raw == nullptr) return nullptr;
  BlockHeader* h = static_cast<BlockHeader*>(raw);
  h->size = n;
  h->magic = kBlockMagic;
  ++g_live;
  return h + 1;
}

uint32_t QMem_BlockSize(const void* p) {
  if (p == nullptr) return 0;
  return static_cast<uint32_t>(HeaderOf(p)->size);
}

void QMem_Release(void* p) {
  if (p == nullptr) return;
  BlockHeader* h = HeaderOf(p);
  if (g_hooksSet && g_hooks.onRelease != nullptr) {
    g_hooks.onRelease(p, static_cast<uint32_t>(h->size), g_hooks.context);
  }
  h->magic = 0;
  --g_live;
  std::free(h);
}

void QMem_SecureRelease(void* p) {
  if (p == nullptr) return;
  QMem_Wipe(p, HeaderOf(p)->size);
  QMem_Release(p);
}

void* QMem_Duplicate(const void* src, uint32_t n) {
  void* copy = QMem_Allocate(n);
  if (copy != nullptr) QMem_Copy(copy, src, n);
  return copy;
}

void* QMem_Reallocate(void* p, uint32_t n) {
  if (p == nullptr) return QMem_Allocate(n);
  void* fresh = QMem_Allocate(n);
  if (fresh == nullptr) {
    QMem_SecureRelease(p);
    return nullptr;
  }
  uint32_t old = QMem_BlockSize(p);
  QMem_Copy(fresh, p, old < (n == 0 ? 1 : n) ? old : (n == 0 ? 1 : n));
  QMem_SecureRelease(p);
  return fresh;
}

int64_t QMem_Time() {
  if (g_hooksSet && g_hooks.clock != nullptr) return g_hooks.clock(g_hooks.context);
  return static_cast<int64_t>(std::time(nullptr));
}

void QMem_SetTestHooks(const QMem_TestHooks* hooks) {
  if (hooks == nullptr) {
    g_hooks = QMem_TestHooks{};
    g_hooksSet = false;
  } else {
    g_hooks = *hooks;
    g_hooksSet = true;
  }
  g_allocations = 0;
}

uint64_t QMem_AllocationCount() { return g_allocations; }

int64_t QMem_LiveBlocks() { return g_live; }
