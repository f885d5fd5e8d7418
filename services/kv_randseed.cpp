// The process-wide random seed and the random-object factory.
//
// The first random object of a process gathers volatile system values and 32
// bytes from the operating system's random source into a pool and hashes it
// with MD5 into a 16-byte seed. Each random object is seeded with the current
// seed, and the seed is then advanced with the object's first 16 output bytes
// (which the object consumes), so no two objects start from the same seed.
#include <string>

#include "platform/clock.h"
#include "platform/os_random.h"
#include "platform/system_values.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_randseed";

const Q_ALGORITHM_METHOD* const kRandomChooser[] = {&QM_MD5Random, nullptr};

constexpr int kSeedLength = 16;
constexpr int kOsRandomBytes = 32;
// Bytes kept free at the end of the pool for the OS random bytes and the
// closing time value.
constexpr int kPoolTail = kOsRandomBytes + 4;
// Longest text taken into the pool; keeps the total within the pool.
constexpr size_t kMaxText = 64;
constexpr uint32_t kMegabyte = 1048576;

// Bytes 0-15: the current seed; bytes 16-31: work space of the update step.
struct SeedState {
  unsigned char seed[32];
  int seedLength;  // 0 before the first gathering, 16 afterwards
};
SeedState g_seed{};

// Appends to the pool, never beyond |limit|; what does not fit is cut.
class PoolWriter {
 public:
  PoolWriter(unsigned char* pool, int* fill, int limit) : pool_(pool), fill_(fill), limit_(limit) {}
  void Bytes(const void* data, size_t n) {
    if (*fill_ < 0 || *fill_ >= limit_) return;
    size_t room = static_cast<size_t>(limit_ - *fill_);
    if (n > room) n = room;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) pool_[*fill_ + static_cast<int>(i)] = bytes[i];
    *fill_ += static_cast<int>(n);
  }
  // Integers go in their in-memory form, little-endian.
  void U32(uint32_t v) {
    const unsigned char le[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                 static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    Bytes(le, sizeof le);
  }
  void Optional(const std::optional<uint32_t>& v) {
    if (v) U32(*v);
  }
  void Text(const std::string& text) { Bytes(text.data(), text.size() < kMaxText ? text.size() : kMaxText); }

 private:
  unsigned char* pool_;
  int* fill_;
  int limit_;
};

// The clock's low 32 bits: the pool keeps its four bytes of time.
uint32_t ClockBits() { return static_cast<uint32_t>(static_cast<uint64_t>(kvplatform::CalendarSeconds())); }

void AppendSystemValues(unsigned char* pool, int* fill, int limit) {
  kvplatform::SystemValues& system = kvplatform::CurrentSystemValues();
  PoolWriter out(pool, fill, limit);

  const kvplatform::PointerPosition pointer = system.Pointer();                   // 1
  out.U32(static_cast<uint32_t>(pointer.x));
  out.U32(static_cast<uint32_t>(pointer.y));
  if (std::optional<kvplatform::MemoryStatus> memory = system.Memory()) {         // 2
    const uint32_t figures[8] = {memory->length,         memory->memoryLoad,        memory->totalPhysical,
                                 memory->availablePhysical, memory->totalPageFile, memory->availablePageFile,
                                 memory->totalVirtual,   memory->availableVirtual};
    for (uint32_t figure : figures) out.U32(figure);
  }
  out.U32(kMegabyte);                                                              // 3
  out.Optional(system.DriveMask());                                                // 4
  out.Optional(system.QueueStatus());                                              // 5
  out.Optional(system.ClipboardOwner());                                           // 6
  out.U32(kMegabyte);                                                              // 7
  if (std::optional<std::string> name = system.ComputerName()) out.Text(*name);   // 8
  if (std::optional<kvplatform::VolumeInfo> volume = system.Volume()) {           // 9-11
    out.Text(volume->name);
    out.U32(volume->serialNumber);
    out.U32(volume->maxComponentLength);
    out.U32(volume->flags);
    out.Text(volume->fileSystemName);
  }
  if (std::optional<kvplatform::DiskFree> disk = system.DiskFreeSpace()) {        // 12
    out.U32(disk->sectorsPerCluster);
    out.U32(disk->bytesPerSector);
    out.U32(disk->freeClusters);
    out.U32(disk->totalClusters);
  }
  out.Optional(system.ActiveWindow());                                             // 13
  out.Optional(system.ProcessHandle());                                            // 14
  out.Optional(system.ProcessId());                                                // 15
  out.Optional(system.TickCount());                                                // 16
}

}  // namespace

void GetWindowsStuff(unsigned char* pool, int* fill) {
  KV_TRACE("GetWindowsStuff(): ENTER");
  if (pool != nullptr && fill != nullptr) AppendSystemValues(pool, fill, KV_SEED_POOL_SIZE - kPoolTail);
  KV_TRACE("GetWindowsStuff(): EXIT");
}

void iGenerateRandomSeed() {
  KV_TRACE("iGenerateRandomSeed(): ENTER");
  unsigned char pool[KV_SEED_POOL_SIZE];
  int fill = 0;
  PoolWriter out(pool, &fill, KV_SEED_POOL_SIZE);

  out.U32(ClockBits());
  out.Bytes("mQT47", 5);
  GetWindowsStuff(pool, &fill);

  // The values above can be guessed or narrowed down by an attacker; the OS
  // random source makes the seed unpredictable. Without it the seed is still
  // made from the rest.
  unsigned char osRandom[kOsRandomBytes];
  const int osStatus = kvplatform::OsRandomBytes(osRandom, sizeof osRandom);
  if (osStatus == 0) {
    out.Bytes(osRandom, sizeof osRandom);
  } else {
    KV_TRACE("iGenerateRandomSeed(): Error reading the OS random source [%d]", osStatus);
  }
  QMem_Wipe(osRandom, sizeof osRandom);

  out.U32(ClockBits());

  unsigned char digest[16];
  const int status = errKVMD5(fill, pool, digest);
  if (status == 0) {
    for (int i = 0; i < kSeedLength; ++i) g_seed.seed[i] = digest[i];
    g_seed.seedLength = kSeedLength;
  } else {
    KV_TRACE("iGenerateRandomSeed(): Error hashing the pool [%d]", status);
  }
  QMem_Wipe(digest, sizeof digest);
  QMem_Wipe(pool, sizeof pool);
  KV_TRACE("iGenerateRandomSeed(): EXIT  [%d bytes total generated]", fill);
}

int iGetSeed(unsigned char** seed, int* seedLength) {
  KV_TRACE("iGetSeed(): ENTER");
  if (g_seed.seedLength == 0) iGenerateRandomSeed();
  if (seed != nullptr) *seed = g_seed.seed;
  if (seedLength != nullptr) *seedLength = g_seed.seedLength;
  KV_TRACE("iGetSeed(): EXIT");
  return 0;
}

int iUpdateSeed(const unsigned char* bytes, int length) {
  KV_TRACE("iUpdateSeed(): ENTER");
  int status = errKVMD5(length, bytes, g_seed.seed + kSeedLength);
  if (status != 0) {
    KV_TRACE("iUpdateSeed(): Error in errKVMD5 [%d]", status);
    return status;
  }
  unsigned char next[16];
  status = errKVMD5(static_cast<int>(sizeof g_seed.seed), g_seed.seed, next);
  if (status == 0) {
    for (int i = 0; i < kSeedLength; ++i) g_seed.seed[i] = next[i];
  } else {
    KV_TRACE("iUpdateSeed(): Error in errKVMD5 [%d]", status);
  }
  QMem_Wipe(next, sizeof next);
  QMem_Wipe(g_seed.seed + kSeedLength, kSeedLength);
  KV_TRACE("iUpdateSeed(): EXIT");
  return status;
}

int iMakeRandomObject(Q_ALGORITHM_OBJ* random) {
  KV_TRACE("iMakeRandomObject(): ENTER");
  if (random == nullptr) {
    KV_TRACE("iMakeRandomObject(): Error: no place for the object [%d]", Q_ERR_RANDOM_OBJ);
    return Q_ERR_RANDOM_OBJ;
  }
  *random = nullptr;

  int status = Q_CreateAlgorithmObject(random);
  if (status != 0) {
    KV_TRACE("iMakeRandomObject(): Error in Q_CreateAlgorithmObject [%d]", status);
    return status;
  }
  if ((status = Q_SetAlgorithmInfo(*random, QA_MD5Random, nullptr)) != 0) {
    KV_TRACE("iMakeRandomObject(): Error in Q_SetAlgorithmInfo [%d]", status);
    return status;
  }
  if ((status = Q_RandomInit(*random, kRandomChooser, nullptr)) != 0) {
    KV_TRACE("iMakeRandomObject(): Error in Q_RandomInit [%d]", status);
    return status;
  }
  unsigned char* seed = nullptr;
  int seedLength = 0;
  // A seed that could not be made (its digest needs memory) is refused
  // rather than leaving the object unseeded.
  if ((status = iGetSeed(&seed, &seedLength)) != 0 || seedLength != kSeedLength) {
    if (status == 0) status = Q_ERR_ALLOC;
    KV_TRACE("iMakeRandomObject(): Error creating a random seed [%d]", status);
    return status;
  }
  if ((status = Q_RandomUpdate(*random, seed, static_cast<uint32_t>(seedLength), nullptr)) != 0) {
    KV_TRACE("iMakeRandomObject(): Error in Q_RandomUpdate [%d]", status);
    return status;
  }
  unsigned char first[16];
  if ((status = Q_RandomGenerate(*random, first, sizeof first, nullptr)) != 0) {
    KV_TRACE("iMakeRandomObject(): Error in Q_RandomGenerate [%d]", status);
    QMem_Wipe(first, sizeof first);
    return status;
  }
  status = iUpdateSeed(first, static_cast<int>(sizeof first));
  QMem_Wipe(first, sizeof first);
  if (status != 0) {
    KV_TRACE("iMakeRandomObject(): Error in iUpdateSeed [%d]", status);
    return status;
  }
  KV_TRACE("iMakeRandomObject(): EXIT");
  return 0;
}

int errKVRandomGetNumber(int length, unsigned char* buffer) {
  KV_TRACE("errKVRandomGetNumber(): ENTER");
  if (length < 0 || length > 100000 || (length > 0 && buffer == nullptr)) {
    KV_TRACE("errKVRandomGetNumber(): Bad buffer length");
    return KV_RANDOM_BAD_LENGTH;
  }
  Q_ALGORITHM_OBJ random = nullptr;
  int result = 0;
  int status = iMakeRandomObject(&random);
  if (status != 0) {
    KV_TRACE("errKVRandomGetNumber(): Error in iMakeRandomObject [%d]", status);
    result = KV_RANDOM_INTERNAL_ERROR;
  } else if (length > 0 &&
             (status = Q_RandomGenerate(random, buffer, static_cast<uint32_t>(length), nullptr)) != 0) {
    KV_TRACE("errKVRandomGetNumber(): Error in Q_RandomGenerate [%d]", status);
    result = KV_RANDOM_INTERNAL_ERROR;
  }
  Q_DestroyAlgorithmObject(&random);
  KV_TRACE("errKVRandomGetNumber(): EXIT");
  return result;
}

void iKVForgetSeed() {
  QMem_Wipe(g_seed.seed, sizeof g_seed.seed);
  g_seed.seedLength = 0;
}
