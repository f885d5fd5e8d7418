// The system's own values, the mounts table parser, the clock and the OS
// random source.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/clock.h"
#include "platform/mounts.h"
#include "platform/os_random.h"
#include "platform/system_values.h"

namespace {

TEST(Mounts, ParsesFieldsAndEscapesAndFindsTheHoldingMount) {
  const auto mounts = kvplatform::ParseMounts(
      "/dev/sda1 / ext4 rw,relatime 0 0\n"
      "tmpfs /tmp tmpfs rw 0 0\n"
      "short line\n"
      "/dev/sdb1 /media/my\\040disk vfat rw 0 0\n"
      "/dev/sdc1 /tmpdata xfs rw 0 0");
  ASSERT_EQ(mounts.size(), 4u);
  EXPECT_EQ(mounts[2].dir, "/media/my disk");
  EXPECT_EQ(mounts[3].type, "xfs");

  const struct {
    const char* path;
    const char* type;
  } rows[] = {{"/home/user", "ext4"}, {"/tmp", "tmpfs"}, {"/tmp/x", "tmpfs"}, {"/tmpdata/y", "xfs"},
              {"/tmpx", "ext4"},      {"/media/my disk/a", "vfat"}};
  for (const auto& row : rows) {
    const kvplatform::MountEntry* m = kvplatform::MountHolding(mounts, row.path);
    ASSERT_NE(m, nullptr) << row.path;
    EXPECT_EQ(m->type, row.type) << row.path;
  }
  EXPECT_EQ(kvplatform::MountHolding(mounts, "relative"), nullptr);
}

bool FixedPointer(int32_t* x, int32_t* y) {
  *x = 640;
  *y = 480;
  return true;
}

TEST(SystemValues, LinuxAnswers) {
  kvplatform::SystemValues& system = kvplatform::CurrentSystemValues();
  EXPECT_EQ(system.Pointer().x, 0);
  kvplatform::SetPointerPositionHook(&FixedPointer);
  EXPECT_EQ(system.Pointer().y, 480);
  kvplatform::SetPointerPositionHook(nullptr);

  ASSERT_TRUE(system.Memory().has_value());
  EXPECT_EQ(system.Memory()->length, 32u);
  EXPECT_LE(system.Memory()->memoryLoad, 100u);
  EXPECT_EQ(system.ProcessId(), static_cast<uint32_t>(getpid()));
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(system.ComputerName(), std::string(host));
  const auto t1 = system.TickCount();
  const auto t2 = system.TickCount();
  ASSERT_TRUE(t1 && t2);
  EXPECT_LE(*t1, *t2);
  ASSERT_TRUE(system.Volume().has_value());
  EXPECT_GT(system.Volume()->maxComponentLength, 0u);
  ASSERT_TRUE(system.DiskFreeSpace().has_value());
  EXPECT_GT(system.DiskFreeSpace()->totalClusters, 0u);
  EXPECT_FALSE(system.QueueStatus().has_value());
}

// A time past 2106, which no 32-bit count holds.
int64_t Fixed() { return 5000000000; }

TEST(Clock, SystemAndReplacedClock) {
  EXPECT_GT(kvplatform::CalendarSeconds(), 1600000000);
  kvplatform::SetClockForTest(&Fixed);
  EXPECT_EQ(kvplatform::CalendarSeconds(), 5000000000);
  kvplatform::SetClockForTest(nullptr);
  EXPECT_GT(kvplatform::CalendarSeconds(), 1600000000);
}

TEST(OsRandom, FillsTheBufferWithFreshBytes) {
  unsigned char a[32] = {}, b[32] = {};
  ASSERT_EQ(kvplatform::OsRandomBytes(a, sizeof a), 0);
  ASSERT_EQ(kvplatform::OsRandomBytes(b, sizeof b), 0);
  EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
  EXPECT_NE(kvplatform::OsRandomBytes(nullptr, 4), 0);
}

}  // namespace
