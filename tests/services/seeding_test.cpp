// The process seed: what the pool holds, when it is gathered, how it
// advances, and the random-number service.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/os_random.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"
#include "services_support.h"

namespace {

using svctest::Bytes;

int CountingOsRandom(unsigned char* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(i);
  return 0;
}
int FailingOsRandom(unsigned char*, size_t) { return EIO; }

void PutU32(Bytes& pool, uint32_t v) {
  for (int i = 0; i < 4; ++i) pool.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void PutText(Bytes& pool, const std::string& text) { pool.insert(pool.end(), text.begin(), text.end()); }

// The pool the fake platform gives, in row order.
Bytes ExpectedPool(const std::string& computerName, bool withDisk, bool withOsRandom) {
  Bytes pool;
  PutU32(pool, static_cast<uint32_t>(svctest::FixedClock()));
  PutText(pool, "mQT47");
  PutU32(pool, 3);
  PutU32(pool, 4);
  for (uint32_t v : {32u, 50u, 0x11111111u, 0x22222222u, 0u, 0u, 0u, 0u}) PutU32(pool, v);
  PutU32(pool, 1048576);
  PutU32(pool, 0x0C);
  PutU32(pool, 1048576);
  PutText(pool, computerName);
  PutText(pool, "/dev/sda1");
  PutU32(pool, 0xABCD);
  PutU32(pool, 255);
  PutU32(pool, 1);
  PutText(pool, "ext4");
  if (withDisk) {
    for (uint32_t v : {8u, 512u, 1000u, 2000u}) PutU32(pool, v);
  }
  PutU32(pool, 1234);
  PutU32(pool, 5678);
  if (withOsRandom) {
    for (int i = 0; i < 32; ++i) pool.push_back(static_cast<unsigned char>(i));
  }
  PutU32(pool, static_cast<uint32_t>(svctest::FixedClock()));
  return pool;
}

// The trace text of a pool gathering of |n| bytes.
std::string GatheredText(size_t n) {
  char text[80];
  std::snprintf(text, sizeof text, "[%zu bytes total generated]", n);
  return text;
}

Bytes CurrentSeed() {
  unsigned char* seed = nullptr;
  int length = 0;
  EXPECT_EQ(iGetSeed(&seed, &length), 0);
  EXPECT_EQ(length, 16);
  return Bytes(seed, seed + length);
}

class Seeding : public ::testing::Test {
 protected:
  void SetUp() override {
    iKVForgetSeed();
    kvplatform::SetOsRandomForTest(&CountingOsRandom);
  }
  void TearDown() override {
    kvplatform::SetOsRandomForTest(nullptr);
    iKVForgetSeed();
  }
  svctest::FakePlatform platform_;
};

TEST_F(Seeding, SeedIsTheMd5OfThePoolInRowOrder) {
  const struct {
    const char* name;
    bool diskFails;
    bool osFails;
  } cases[] = {{"all values", false, false}, {"disk query fails", true, false}, {"OS source fails", false, true}};
  for (const auto& c : cases) {
    iKVForgetSeed();
    platform_.values.diskFails = c.diskFails;
    kvplatform::SetOsRandomForTest(c.osFails ? &FailingOsRandom : &CountingOsRandom);
    svctest::TraceFile trace;
    const Bytes pool = ExpectedPool("testhost", !c.diskFails, !c.osFails);
    EXPECT_EQ(CurrentSeed(), svctest::Md5(pool)) << c.name;
    EXPECT_EQ(trace.Count("iGenerateRandomSeed(): EXIT  " + GatheredText(pool.size())),
              1)
        << c.name;
    EXPECT_EQ(trace.Count("Error reading the OS random source [5]"), c.osFails ? 1 : 0) << c.name;
  }
}

TEST_F(Seeding, LongTextsAreCutAndThePoolStaysWithinItsSize) {
  platform_.values.computerName = std::string(300, 'h');
  svctest::TraceFile trace;
  CurrentSeed();
  // The host name is cut to 64 bytes; everything else fits.
  const Bytes pool = ExpectedPool(std::string(64, 'h'), true, true);
  ASSERT_LE(pool.size(), size_t{KV_SEED_POOL_SIZE});
  EXPECT_EQ(trace.Count(GatheredText(pool.size())), 1);

  // GetWindowsStuff alone never writes past the pool, whatever is in it.
  unsigned char big[KV_SEED_POOL_SIZE + 16];
  std::fill(std::begin(big), std::end(big), 0xA5);
  int fill = KV_SEED_POOL_SIZE - 40;
  GetWindowsStuff(big, &fill);
  EXPECT_LE(fill, KV_SEED_POOL_SIZE);
  for (int i = KV_SEED_POOL_SIZE; i < KV_SEED_POOL_SIZE + 16; ++i) EXPECT_EQ(big[i], 0xA5);
}

TEST_F(Seeding, PoolIsGatheredOnceAndEachObjectAdvancesTheSeed) {
  svctest::TraceFile trace;
  const Bytes seed0 = CurrentSeed();
  const int callsAfterGathering = platform_.values.calls;

  // What the first object's generator produces first: seeded with seed0.
  Q_ALGORITHM_OBJ reference = nullptr;
  const Q_ALGORITHM_METHOD* const chooser[] = {&QM_MD5Random, nullptr};
  ASSERT_EQ(Q_CreateAlgorithmObject(&reference), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(reference, QA_MD5Random, nullptr), 0);
  ASSERT_EQ(Q_RandomInit(reference, chooser, nullptr), 0);
  ASSERT_EQ(Q_RandomUpdate(reference, seed0.data(), 16, nullptr), 0);
  Bytes referenceOut(32);
  ASSERT_EQ(Q_RandomGenerate(reference, referenceOut.data(), 32, nullptr), 0);
  Q_DestroyAlgorithmObject(&reference);

  Q_ALGORITHM_OBJ first = nullptr, second = nullptr;
  ASSERT_EQ(iMakeRandomObject(&first), 0);
  // The first 16 output bytes were consumed; the caller's start after them.
  Bytes firstOut(16);
  ASSERT_EQ(Q_RandomGenerate(first, firstOut.data(), 16, nullptr), 0);
  EXPECT_EQ(firstOut, Bytes(referenceOut.begin() + 16, referenceOut.end()));

  Bytes chained = seed0;
  const Bytes consumed(referenceOut.begin(), referenceOut.begin() + 16);
  const Bytes consumedDigest = svctest::Md5(consumed);
  chained.insert(chained.end(), consumedDigest.begin(), consumedDigest.end());
  const Bytes seed1 = svctest::Md5(chained);
  EXPECT_EQ(CurrentSeed(), seed1);

  ASSERT_EQ(iMakeRandomObject(&second), 0);
  EXPECT_NE(CurrentSeed(), seed1);
  Q_DestroyAlgorithmObject(&first);
  Q_DestroyAlgorithmObject(&second);

  EXPECT_EQ(trace.Count("bytes total generated]"), 1);
  EXPECT_EQ(platform_.values.calls, callsAfterGathering);
}

TEST_F(Seeding, RandomNumberBounds) {
  const Bytes seedBefore = CurrentSeed();
  unsigned char probe = 0x5A;
  for (int bad : {-1, 100001}) {
    EXPECT_EQ(errKVRandomGetNumber(bad, &probe), KV_RANDOM_BAD_LENGTH) << bad;
  }
  // Refused lengths make no object, so the seed does not move.
  EXPECT_EQ(CurrentSeed(), seedBefore);

  EXPECT_EQ(errKVRandomGetNumber(0, &probe), 0);
  EXPECT_EQ(probe, 0x5A);
  EXPECT_NE(CurrentSeed(), seedBefore);

  Bytes a(100000, 0), b(100000, 0);
  ASSERT_EQ(errKVRandomGetNumber(100000, a.data()), 0);
  ASSERT_EQ(errKVRandomGetNumber(100000, b.data()), 0);
  EXPECT_NE(a, b);
  EXPECT_NE(a, Bytes(100000, 0));
}

}  // namespace
