// Helpers for the service-layer tests: a fixed set of system values, a
// scratch directory, a trace file, and a key pair made once per program.
#ifndef KVCATOOL_TESTS_SERVICES_SERVICES_SUPPORT_H
#define KVCATOOL_TESTS_SERVICES_SERVICES_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/system_values.h"
#include "services/kvservices.h"

namespace svctest {

using Bytes = std::vector<unsigned char>;

// Fixed answers to every seed-pool query; counts how often it is asked.
class FakeSystemValues final : public kvplatform::SystemValues {
 public:
  int calls = 0;
  std::string computerName = "testhost";
  bool diskFails = false;

  kvplatform::PointerPosition Pointer() override {
    ++calls;
    return {3, 4};
  }
  std::optional<kvplatform::MemoryStatus> Memory() override {
    kvplatform::MemoryStatus m;
    m.memoryLoad = 50;
    m.totalPhysical = 0x11111111;
    m.availablePhysical = 0x22222222;
    return m;
  }
  std::optional<uint32_t> DriveMask() override { return 0x0C; }
  std::optional<uint32_t> QueueStatus() override { return std::nullopt; }
  std::optional<uint32_t> ClipboardOwner() override { return std::nullopt; }
  std::optional<std::string> ComputerName() override { return computerName; }
  std::optional<kvplatform::VolumeInfo> Volume() override {
    kvplatform::VolumeInfo v;
    v.name = "/dev/sda1";
    v.serialNumber = 0xABCD;
    v.maxComponentLength = 255;
    v.flags = 1;
    v.fileSystemName = "ext4";
    return v;
  }
  std::optional<kvplatform::DiskFree> DiskFreeSpace() override {
    if (diskFails) return std::nullopt;
    return kvplatform::DiskFree{8, 512, 1000, 2000};
  }
  std::optional<uint32_t> ActiveWindow() override { return std::nullopt; }
  std::optional<uint32_t> ProcessHandle() override { return std::nullopt; }
  std::optional<uint32_t> ProcessId() override { return 1234; }
  std::optional<uint32_t> TickCount() override { return 5678; }
};

inline int64_t FixedClock() { return 0x5F000000; }

// Puts the fake values and a fixed clock in place for the test's lifetime.
class FakePlatform {
 public:
  FakePlatform() {
    kvplatform::SetSystemValuesForTest(&values);
    kvplatform::SetClockForTest(&FixedClock);
  }
  ~FakePlatform() {
    kvplatform::SetSystemValuesForTest(nullptr);
    kvplatform::SetClockForTest(nullptr);
  }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;
  FakeSystemValues values;
};

// A directory under the system's temp dir, removed with its contents.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvsvc-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Points KVCATOOL_TRACE at a fresh file for the object's lifetime.
class TraceFile {
 public:
  TraceFile() : path_(dir_.File("trace.log")) { setenv("KVCATOOL_TRACE", path_.c_str(), 1); }
  ~TraceFile() { unsetenv("KVCATOOL_TRACE"); }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  std::vector<std::string> Lines() const {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  int Count(const std::string& needle) const {
    int n = 0;
    for (const std::string& line : Lines()) n += line.find(needle) != std::string::npos ? 1 : 0;
    return n;
  }

 private:
  ScratchDir dir_;
  std::string path_;
};

// A 1024-bit key pair, generated once per program.
struct KeyPair {
  Bytes publicKey, privateKey;
};
inline const KeyPair& SharedKeyPair() {
  static const KeyPair pair = [] {
    KeyPair p;
    p.publicKey.resize(KV_KEYFILE_MAX_DATA);
    p.privateKey.resize(KV_KEYFILE_MAX_DATA);
    int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
    int status = errKVKeyGen(128, p.publicKey.data(), &pubLen, p.privateKey.data(), &privLen);
    EXPECT_EQ(status, 0);
    p.publicKey.resize(status == 0 ? static_cast<size_t>(pubLen) : 0);
    p.privateKey.resize(status == 0 ? static_cast<size_t>(privLen) : 0);
    return p;
  }();
  return pair;
}

inline Bytes Md5(const Bytes& data) {
  Bytes out(16);
  EXPECT_EQ(errKVMD5(static_cast<int>(data.size()), data.data(), out.data()), 0);
  return out;
}

}  // namespace svctest

#endif
