// The volatile system values that feed the random seed, one query per row of
// the seed pool. Each query gives the nearest Linux equivalent of the value a
// desktop system reports; a query the platform cannot answer gives nothing
// (std::nullopt) and its row is left out of the pool.
//
// Tests put a fake in place with SetSystemValuesForTest so the pool is
// predictable.
#ifndef KVCATOOL_PLATFORM_SYSTEM_VALUES_H
#define KVCATOOL_PLATFORM_SYSTEM_VALUES_H

#include <cstdint>
#include <optional>
#include <string>

namespace kvplatform {

struct PointerPosition {
  int32_t x = 0;
  int32_t y = 0;
};

// Eight 32-bit figures, 32 bytes in all: the record length (always 32), the
// memory load in percent, then total and available physical memory, swap and
// address space, in bytes (cut to 32 bits).
struct MemoryStatus {
  uint32_t length = 32;
  uint32_t memoryLoad = 0;
  uint32_t totalPhysical = 0;
  uint32_t availablePhysical = 0;
  uint32_t totalPageFile = 0;
  uint32_t availablePageFile = 0;
  uint32_t totalVirtual = 0;
  uint32_t availableVirtual = 0;
};
static_assert(sizeof(MemoryStatus) == 32);

// The file system that holds the current directory.
struct VolumeInfo {
  std::string name;  // the mounted device or source
  uint32_t serialNumber = 0;
  uint32_t maxComponentLength = 0;
  uint32_t flags = 0;
  std::string fileSystemName;  // e.g. "ext4"
};

// Free space of the file system that holds the current directory.
struct DiskFree {
  uint32_t sectorsPerCluster = 0;
  uint32_t bytesPerSector = 0;
  uint32_t freeClusters = 0;
  uint32_t totalClusters = 0;
};

class SystemValues {
 public:
  virtual ~SystemValues() = default;
  virtual PointerPosition Pointer() = 0;                  // zeros when no GUI runs
  virtual std::optional<MemoryStatus> Memory() = 0;
  virtual std::optional<uint32_t> DriveMask() = 0;        // one bit per mounted file system
  virtual std::optional<uint32_t> QueueStatus() = 0;      // GUI input queue
  virtual std::optional<uint32_t> ClipboardOwner() = 0;
  virtual std::optional<std::string> ComputerName() = 0;
  virtual std::optional<VolumeInfo> Volume() = 0;
  virtual std::optional<DiskFree> DiskFreeSpace() = 0;
  virtual std::optional<uint32_t> ActiveWindow() = 0;
  virtual std::optional<uint32_t> ProcessHandle() = 0;
  virtual std::optional<uint32_t> ProcessId() = 0;
  virtual std::optional<uint32_t> TickCount() = 0;        // monotonic milliseconds
};

// The values in force: the fake set for a test, else the system's own.
SystemValues& CurrentSystemValues();
// Puts |values| in place of the system's (null restores them). The caller
// keeps ownership.
void SetSystemValuesForTest(SystemValues* values);

// A GUI front end registers a function that reports the pointer position in
// screen coordinates; without one the position is zeros.
using PointerPositionHook = bool (*)(int32_t* x, int32_t* y);
void SetPointerPositionHook(PointerPositionHook hook);

}  // namespace kvplatform

#endif
