// The MD5 random generator's byte stream against its definition, computed
// here from plain MD5.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "cryptokit/cryptokit.h"
#include "cryptokit/digest/digests.h"
#include "support/memory_hooks.h"

namespace {

using Block = std::array<unsigned char, 16>;
const Q_ALGORITHM_METHOD* const kChooser[] = {&QM_MD5Random, nullptr};

Block Md5(const std::vector<unsigned char>& data) {
  qk::Md5Context c;
  qk::Md5Init(&c);
  qk::Md5Update(&c, data.data(), static_cast<uint32_t>(data.size()));
  Block out;
  qk::Md5Final(&c, out.data());
  return out;
}
std::vector<unsigned char> V(const Block& b) { return {b.begin(), b.end()}; }
Block Plus(Block a, const Block& b) {
  unsigned carry = 0;
  for (int i = 15; i >= 0; --i) {
    unsigned s = a[i] + b[i] + carry;
    a[i] = static_cast<unsigned char>(s);
    carry = s >> 8;
  }
  return a;
}
const Block kOne = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

class Generator {
 public:
  Generator() {
    EXPECT_EQ(Q_CreateAlgorithmObject(&obj_), 0);
    EXPECT_EQ(Q_SetAlgorithmInfo(obj_, QA_MD5Random, nullptr), 0);
    EXPECT_EQ(Q_RandomInit(obj_, kChooser, nullptr), 0);
  }
  ~Generator() { Q_DestroyAlgorithmObject(&obj_); }
  void Seed(const std::vector<unsigned char>& s) {
    EXPECT_EQ(Q_RandomUpdate(obj_, s.data(), static_cast<uint32_t>(s.size()), nullptr), 0);
  }
  std::vector<unsigned char> Read(uint32_t n) {
    std::vector<unsigned char> out(n);
    EXPECT_EQ(Q_RandomGenerate(obj_, out.data(), n, nullptr), 0);
    return out;
  }

 private:
  Q_ALGORITHM_OBJ obj_ = nullptr;
};

const std::vector<unsigned char> kSeed = {'s', 'e', 'e', 'd', ' ', 'b', 'y', 't', 'e', 's'};

TEST(Md5Random, OneSeedAdvancesTheStateByOne) {
  Generator g;
  g.Seed(kSeed);
  Block s = Md5(kSeed);
  std::vector<unsigned char> expected;
  for (int i = 0; i < 4; ++i) {
    Block o = Md5(V(s));
    expected.insert(expected.end(), o.begin(), o.end());
    s = Plus(s, kOne);
  }
  EXPECT_EQ(g.Read(64), expected);
}

TEST(Md5Random, SplitReadsEqualOneRead) {
  Generator whole, split;
  whole.Seed(kSeed);
  split.Seed(kSeed);
  std::vector<unsigned char> all = whole.Read(48);
  std::vector<unsigned char> parts;
  for (uint32_t n : {5u, 11u, 0u, 17u, 15u}) {
    auto p = split.Read(n);
    parts.insert(parts.end(), p.begin(), p.end());
  }
  EXPECT_EQ(parts, all);
}

TEST(Md5Random, SecondSeedSwitchesToTheIncrement) {
  const std::vector<unsigned char> second = {1, 2, 3};
  Generator g;
  g.Seed(kSeed);
  g.Read(16);  // output since the first seed: the old state is fed in
  g.Seed(second);

  Block s = Plus(Md5(kSeed), kOne);  // state after the first block
  std::vector<unsigned char> fed = V(s);
  fed.insert(fed.end(), second.begin(), second.end());
  // Generating finished the MD5 context, so it now runs over S || seed only.
  Block state = Md5(fed);
  Block t = Md5({});
  t[15] |= 1;
  std::vector<unsigned char> expected;
  for (int i = 0; i < 3; ++i) {
    Block o = Md5(V(state));
    expected.insert(expected.end(), o.begin(), o.end());
    state = Plus(state, t);
  }
  EXPECT_EQ(g.Read(48), expected);
}

TEST(Md5Random, SameSeedSameBytesAndNoSeedStartsFromZero) {
  Generator a, b, unseeded;
  a.Seed(kSeed);
  b.Seed(kSeed);
  EXPECT_EQ(a.Read(100), b.Read(100));
  Block zero{};
  EXPECT_EQ(unseeded.Read(16), V(Md5(V(zero))));
}

TEST(Md5Random, StatusesBeforeInitAndForOtherFamilies) {
  Q_ALGORITHM_OBJ r = nullptr, digest = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&r), 0);
  ASSERT_EQ(Q_CreateAlgorithmObject(&digest), 0);
  unsigned char buf[4];
  EXPECT_EQ(Q_RandomGenerate(r, buf, 4, nullptr), Q_ERR_ALGORITHM_NOT_SET);
  ASSERT_EQ(Q_SetAlgorithmInfo(r, QA_MD5Random, nullptr), 0);
  EXPECT_EQ(Q_RandomGenerate(r, buf, 4, nullptr), Q_ERR_RANDOM_NOT_INITIALIZED);
  EXPECT_EQ(Q_RandomUpdate(r, buf, 4, nullptr), Q_ERR_RANDOM_NOT_INITIALIZED);
  const Q_ALGORITHM_METHOD* const md5Only[] = {&QM_MD5, nullptr};
  EXPECT_EQ(Q_RandomInit(r, md5Only, nullptr), Q_ERR_NO_METHOD);
  ASSERT_EQ(Q_SetAlgorithmInfo(digest, QA_MD5, nullptr), 0);
  EXPECT_EQ(Q_RandomInit(digest, kChooser, nullptr), Q_ERR_WRONG_KIND);
  EXPECT_EQ(Q_DigestInit(r, nullptr, kChooser, nullptr), Q_ERR_WRONG_KIND);
  Q_DestroyAlgorithmObject(&r);
  Q_DestroyAlgorithmObject(&digest);
}

TEST(Md5Random, AllocationFailureAndWiping) {
  testsupport::ForEachAllocationFailure(
      [] {
        Q_ALGORITHM_OBJ r = nullptr;
        int status = Q_CreateAlgorithmObject(&r);
        if (status == 0) status = Q_SetAlgorithmInfo(r, QA_MD5Random, nullptr);
        if (status == 0) status = Q_RandomInit(r, kChooser, nullptr);
        Q_DestroyAlgorithmObject(&r);
        return status;
      },
      [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, Q_ERR_ALLOC);
        EXPECT_EQ(watch.leakedBlocks(), 0);
      });
  testsupport::MemoryWatch watch;
  {
    Generator g;
    g.Seed(kSeed);
    g.Read(40);
  }
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

}  // namespace
