// The system's own answers to the seed-pool queries on Linux.
#include "platform/system_values.h"

#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <climits>
#include <ctime>

#include "platform/mounts.h"

namespace kvplatform {
namespace {

PointerPositionHook g_pointerHook = nullptr;
SystemValues* g_override = nullptr;

uint32_t Low32(unsigned long long v) { return static_cast<uint32_t>(v); }

// FNV-1a, to spread mount points over the 32 bits of the drive mask.
uint32_t Hash(const std::string& text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

std::optional<std::string> CurrentDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}

class LinuxSystemValues final : public SystemValues {
 public:
  PointerPosition Pointer() override {
    PointerPosition p;
    if (g_pointerHook != nullptr && !g_pointerHook(&p.x, &p.y)) p = PointerPosition{};
    return p;
  }

  std::optional<MemoryStatus> Memory() override {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return std::nullopt;
    const unsigned long long unit = info.mem_unit != 0 ? info.mem_unit : 1;
    const unsigned long long total = info.totalram * unit, free = info.freeram * unit;
    MemoryStatus m;
    m.memoryLoad = total != 0 ? static_cast<uint32_t>((total - free) * 100 / total) : 0;
    m.totalPhysical = Low32(total);
    m.availablePhysical = Low32(free);
    m.totalPageFile = Low32(info.totalswap * unit);
    m.availablePageFile = Low32(info.freeswap * unit);
    m.totalVirtual = Low32((info.totalram + info.totalswap) * unit);
    m.availableVirtual = Low32((info.freeram + info.freeswap + info.bufferram) * unit);
    return m;
  }

  std::optional<uint32_t> DriveMask() override {
    std::vector<MountEntry> mounts = ReadMounts();
    if (mounts.empty()) return std::nullopt;
    uint32_t mask = 0;
    for (const MountEntry& m : mounts) mask |= 1u << (Hash(m.dir) % 32);
    return mask;
  }

  // No GUI input queue, clipboard owner, active window or process handle
  // exists for a program without a window system of its own.
  std::optional<uint32_t> QueueStatus() override { return std::nullopt; }
  std::optional<uint32_t> ClipboardOwner() override { return std::nullopt; }
  std::optional<uint32_t> ActiveWindow() override { return std::nullopt; }
  std::optional<uint32_t> ProcessHandle() override { return std::nullopt; }

  std::optional<std::string> ComputerName() override {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::nullopt;
    return std::string(name);
  }

  std::optional<VolumeInfo> Volume() override {
    std::optional<std::string> cwd = CurrentDirectory();
    struct statvfs fs {};
    if (!cwd || statvfs(cwd->c_str(), &fs) != 0) return std::nullopt;
    VolumeInfo v;
    const unsigned long long fsid = fs.f_fsid;
    v.serialNumber = Low32(fsid ^ (fsid >> 32));
    v.maxComponentLength = Low32(fs.f_namemax);
    v.flags = Low32(fs.f_flag);
    std::vector<MountEntry> mounts = ReadMounts();
    if (const MountEntry* m = MountHolding(mounts, *cwd)) {
      v.name = m->source;
      v.fileSystemName = m->type;
    }
    return v;
  }

  std::optional<DiskFree> DiskFreeSpace() override {
    std::optional<std::string> cwd = CurrentDirectory();
    struct statvfs fs {};
    if (!cwd || statvfs(cwd->c_str(), &fs) != 0) return std::nullopt;
    DiskFree d;
    const unsigned long fragment = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    d.bytesPerSector = Low32(fragment);
    d.sectorsPerCluster = fragment != 0 && fs.f_bsize >= fragment ? Low32(fs.f_bsize / fragment) : 1;
    d.freeClusters = Low32(fs.f_bavail);
    d.totalClusters = Low32(fs.f_blocks);
    return d;
  }

  std::optional<uint32_t> ProcessId() override { return static_cast<uint32_t>(getpid()); }

  std::optional<uint32_t> TickCount() override {
    timespec t{};
    if (clock_gettime(CLOCK_MONOTONIC, &t) != 0) return std::nullopt;
    return Low32(static_cast<unsigned long long>(t.tv_sec) * 1000ull +
                 static_cast<unsigned long long>(t.tv_nsec) / 1000000ull);
  }
};

}  // namespace

SystemValues& CurrentSystemValues() {
  static LinuxSystemValues system;
  return g_override != nullptr ? *g_override : system;
}

void SetSystemValuesForTest(SystemValues* values) { g_override = values; }

void SetPointerPositionHook(PointerPositionHook hook) { g_pointerHook = hook; }

}  // namespace kvplatform
