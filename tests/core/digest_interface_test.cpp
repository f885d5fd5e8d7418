// The digests through the Q_ interface: selection from a chooser, Final that
// restarts, output capacity, allocation failure and wiping.
#include <gtest/gtest.h>

#include <string>

#include "cryptokit/cryptokit.h"
#include "support/memory_hooks.h"

namespace {

const Q_ALGORITHM_METHOD* const kAllDigests[] = {&QM_MD2, &QM_MD5, &QM_SHA1, nullptr};

std::string Hex(const unsigned char* p, uint32_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint32_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

struct Digester {
  Q_INFO_TYPE type;
  uint32_t length;
};

// Digests |messages| one after the other on one object (Final between, no
// second Init) and returns the hex digests; 0 in |*status| on success.
std::vector<std::string> DigestAll(const Digester& d, const std::vector<std::string>& messages, int* status) {
  std::vector<std::string> out;
  Q_ALGORITHM_OBJ alg = nullptr;
  *status = Q_CreateAlgorithmObject(&alg);
  if (*status == 0) *status = Q_SetAlgorithmInfo(alg, d.type, nullptr);
  if (*status == 0) *status = Q_DigestInit(alg, nullptr, kAllDigests, nullptr);
  for (const std::string& m : messages) {
    if (*status != 0) break;
    *status = Q_DigestUpdate(alg, reinterpret_cast<const unsigned char*>(m.data()), static_cast<uint32_t>(m.size()),
                             nullptr);
    unsigned char digest[20];
    uint32_t len = 0;
    if (*status == 0) *status = Q_DigestFinal(alg, digest, &len, sizeof digest, nullptr);
    if (*status == 0) out.push_back(Hex(digest, len));
  }
  Q_DestroyAlgorithmObject(&alg);
  return out;
}

TEST(DigestInterface, KnownAnswersOneAfterAnotherOnOneObject) {
  struct Row {
    Digester digester;
    std::vector<std::string> messages;
    std::vector<std::string> digests;
  };
  const Row rows[] = {
      {{QA_MD2, 16},
       {"", "abc", "message digest"},
       {"8350e5a3e24c153df2275c9f80692773", "da853b0d3f88d99b30283a69e6ded6bb", "ab4f496bfb2a530b219ff33031fe06b0"}},
      {{QA_MD5, 16},
       {"", "abc", "message digest"},
       {"d41d8cd98f00b204e9800998ecf8427e", "900150983cd24fb0d6963f7d28e17f72", "f96b697d7cb7938d525a2f31aaf161d0"}},
      {{QA_SHA1, 20},
       {"abc", "", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"},
       {"a9993e364706816aba3e25717850c26c9cd0d89d", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
        "84983e441c3bd26ebaae4aa1f95129e5e54670f1"}},
  };
  for (const Row& row : rows) {
    int status = -1;
    EXPECT_EQ(DigestAll(row.digester, row.messages, &status), row.digests);
    EXPECT_EQ(status, 0);
  }
}

TEST(DigestInterface, ChooserWithoutTheDigestAnswers545) {
  const Q_ALGORITHM_METHOD* const onlyMd5[] = {&QM_MD5, nullptr};
  Q_ALGORITHM_OBJ alg = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg, QA_SHA1, nullptr), 0);
  EXPECT_EQ(Q_DigestInit(alg, nullptr, onlyMd5, nullptr), Q_ERR_NO_METHOD);
  EXPECT_EQ(Q_DigestUpdate(alg, nullptr, 0, nullptr), Q_ERR_NOT_INITIALIZED);
  Q_DestroyAlgorithmObject(&alg);
}

// MD2 and MD5 report their length when refusing a short buffer; SHA-1 leaves
// the length alone.
TEST(DigestInterface, ShortOutputBuffer) {
  struct Row {
    Q_INFO_TYPE type;
    uint32_t capacity;
    uint32_t lengthAfter;
  };
  const Row rows[] = {{QA_MD2, 15, 16}, {QA_MD5, 15, 16}, {QA_SHA1, 19, 7777}};
  for (const Row& row : rows) {
    Q_ALGORITHM_OBJ alg = nullptr;
    ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
    ASSERT_EQ(Q_SetAlgorithmInfo(alg, row.type, nullptr), 0);
    ASSERT_EQ(Q_DigestInit(alg, nullptr, kAllDigests, nullptr), 0);
    unsigned char out[20];
    uint32_t len = 7777;
    EXPECT_EQ(Q_DigestFinal(alg, out, &len, row.capacity, nullptr), Q_ERR_OUTPUT_LEN);
    EXPECT_EQ(len, row.lengthAfter);
    Q_DestroyAlgorithmObject(&alg);
  }
}

TEST(DigestInterface, EveryAllocationFailureGives518AndLeaksNothing) {
  for (const Digester& d : {Digester{QA_MD2, 16}, Digester{QA_MD5, 16}, Digester{QA_SHA1, 20}}) {
    uint64_t needed = testsupport::ForEachAllocationFailure(
        [&] {
          int status = 0;
          DigestAll(d, {"secret password", "more"}, &status);
          return status;
        },
        [](int status, const testsupport::MemoryWatch& watch) {
          EXPECT_EQ(status, Q_ERR_ALLOC);
          EXPECT_EQ(watch.leakedBlocks(), 0);
        });
    EXPECT_GT(needed, 0u);
  }
}

TEST(DigestInterface, ReleasedBlocksAreWiped) {
  testsupport::MemoryWatch watch;
  int status = 0;
  for (Q_INFO_TYPE t : {QA_MD2, QA_MD5, QA_SHA1}) DigestAll({t, 0}, {"a password", "another"}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_GT(watch.allocations(), 0u);
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

}  // namespace
