// Test helpers over the toolkit's memory hooks: make allocations fail, and
// watch every released block for bytes that were not wiped.
#ifndef KVCATOOL_TESTS_SUPPORT_MEMORY_HOOKS_H
#define KVCATOOL_TESTS_SUPPORT_MEMORY_HOOKS_H

#include <cstdint>
#include <functional>

#include "cryptokit/qmemory.h"

namespace testsupport {

// While alive, counts allocations, optionally fails allocation number
// |failAt| (1-based; 0 never) and checks every released block for non-zero
// bytes. Restores the plain hooks when destroyed.
class MemoryWatch {
 public:
  explicit MemoryWatch(uint64_t failAt = 0) {
    hooks_.failAt = failAt;
    hooks_.onRelease = &MemoryWatch::OnRelease;
    hooks_.context = this;
    QMem_SetTestHooks(&hooks_);
    liveAtStart_ = QMem_LiveBlocks();
  }
  ~MemoryWatch() { QMem_SetTestHooks(nullptr); }
  MemoryWatch(const MemoryWatch&) = delete;
  MemoryWatch& operator=(const MemoryWatch&) = delete;

  uint64_t allocations() const { return QMem_AllocationCount(); }
  // Blocks released with some byte still non-zero.
  int unwipedReleases() const { return unwiped_; }
  int64_t leakedBlocks() const { return QMem_LiveBlocks() - liveAtStart_; }

 private:
  static void OnRelease(const void* block, uint32_t size, void* context) {
    auto* self = static_cast<MemoryWatch*>(context);
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (uint32_t i = 0; i < size; ++i) {
      if (bytes[i] != 0) {
        ++self->unwiped_;
        return;
      }
    }
  }
  QMem_TestHooks hooks_;
  int unwiped_ = 0;
  int64_t liveAtStart_ = 0;
};

// Runs |operation| with allocation 1, 2, 3, ... failing in turn until it
// succeeds, and calls |check| with the status and the watch after each
// failing run. Returns the number of allocations the successful run made.
inline uint64_t ForEachAllocationFailure(const std::function<int()>& operation,
                                         const std::function<void(int status, const MemoryWatch&)>& check) {
  for (uint64_t n = 1;; ++n) {
    MemoryWatch watch(n);
    int status = operation();
    if (watch.allocations() < n) {
      // Allocation n never happened: the run succeeded untouched.
      return watch.allocations();
    }
    check(status, watch);
  }
}

}  // namespace testsupport

#endif
