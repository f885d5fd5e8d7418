// MD2, MD5 and SHA-1 against the vectors published with RFC 1319, RFC 1321
// and FIPS 180-1 / RFC 3174, fed in every way a caller may feed them, plus
// the two SHA-1 compressions against each other and against libcrypto.
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cryptokit/digest/digests.h"
#include "gtest/gtest.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& b) {
  std::string s;
  char two[3];
  for (uint8_t v : b) {
    std::snprintf(two, sizeof two, "%02x", v);
    s += two;
  }
  return s;
}

enum class Alg { kMd2, kMd5, kSha1 };

// One way of running a digest: the algorithm and, for SHA-1, which
// compression is in force while it runs.
struct Digester {
  const char* name;
  Alg alg;
  bool shaInstructions;
};

const Digester kDigesters[] = {
    {"md2", Alg::kMd2, false},
    {"md5", Alg::kMd5, false},
    {"sha1-portable", Alg::kSha1, false},
    {"sha1-sha-instructions", Alg::kSha1, true},
};

// A context of any of the three algorithms, fed through the public
// functions. Contexts start zero-filled so that their bytes can be compared
// with a freshly initialised one, padding included. The SHA-1 compression is
// chosen again before every call, so contexts of both kinds can be
// interleaved.
class Running {
 public:
  explicit Running(const Digester& d) : d_(d) {
    std::memset(&md2_, 0, sizeof md2_);
    std::memset(&md5_, 0, sizeof md5_);
    std::memset(&sha1_, 0, sizeof sha1_);
    switch (d_.alg) {
      case Alg::kMd2: qk::Md2Init(&md2_); break;
      case Alg::kMd5: qk::Md5Init(&md5_); break;
      case Alg::kSha1: qk::Sha1Init(&sha1_); break;
    }
  }
  void Update(const uint8_t* p, size_t n) {
    qk::Sha1UseShaInstructions(d_.shaInstructions);
    switch (d_.alg) {
      case Alg::kMd2: qk::Md2Update(&md2_, p, static_cast<uint32_t>(n)); break;
      case Alg::kMd5: qk::Md5Update(&md5_, p, static_cast<uint32_t>(n)); break;
      case Alg::kSha1: qk::Sha1Update(&sha1_, p, static_cast<uint32_t>(n)); break;
    }
  }
  Bytes Final() {
    Bytes out(d_.alg == Alg::kSha1 ? 20 : 16);
    qk::Sha1UseShaInstructions(d_.shaInstructions);
    switch (d_.alg) {
      case Alg::kMd2: qk::Md2Final(&md2_, out.data()); break;
      case Alg::kMd5: qk::Md5Final(&md5_, out.data()); break;
      case Alg::kSha1: qk::Sha1Final(&sha1_, out.data()); break;
    }
    return out;
  }
  // Whether the context's bytes are exactly those of a fresh one.
  bool LooksFresh() const {
    Running fresh(d_);
    return std::memcmp(&md2_, &fresh.md2_, sizeof md2_) == 0 && std::memcmp(&md5_, &fresh.md5_, sizeof md5_) == 0 &&
           std::memcmp(&sha1_, &fresh.sha1_, sizeof sha1_) == 0;
  }

 private:
  Digester d_;
  qk::Md2Context md2_;
  qk::Md5Context md5_;
  qk::Sha1Context sha1_;
};

Bytes Digest(const Digester& d, const Bytes& m) {
  Running r(d);
  r.Update(m.data(), m.size());
  return r.Final();
}

struct Vector {
  Alg alg;
  const char* text;
  size_t repeat;
  const char* digest;
};

const char kAtoZ[] = "abcdefghijklmnopqrstuvwxyz";
const char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const char kDigits80[] = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";

const Vector kVectors[] = {
    // RFC 1319, A.5
    {Alg::kMd2, "", 1, "8350e5a3e24c153df2275c9f80692773"},
    {Alg::kMd2, "a", 1, "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
    {Alg::kMd2, "abc", 1, "da853b0d3f88d99b30283a69e6ded6bb"},
    {Alg::kMd2, "message digest", 1, "ab4f496bfb2a530b219ff33031fe06b0"},
    {Alg::kMd2, kAtoZ, 1, "4e8ddff3650292ab5a4108c3aa47940b"},
    {Alg::kMd2, kAlnum, 1, "da33def2a42df13975352846c30338cd"},
    {Alg::kMd2, kDigits80, 1, "d5976f79d83d3a0dc9806c3c66f3efd8"},
    // RFC 1321, A.5
    {Alg::kMd5, "", 1, "d41d8cd98f00b204e9800998ecf8427e"},
    {Alg::kMd5, "a", 1, "0cc175b9c0f1b6a831c399e269772661"},
    {Alg::kMd5, "abc", 1, "900150983cd24fb0d6963f7d28e17f72"},
    {Alg::kMd5, "message digest", 1, "f96b697d7cb7938d525a2f31aaf161d0"},
    {Alg::kMd5, kAtoZ, 1, "c3fcd3d76192e4007dfb496cca67e13b"},
    {Alg::kMd5, kAlnum, 1, "d174ab98d277d9f5a5611c2c9f419d9f"},
    {Alg::kMd5, kDigits80, 1, "57edf4a22be3c955ac49da2e2107b67a"},
    // FIPS 180-1 appendices A to C and RFC 3174's TEST1 to TEST4, plus the
    // empty message.
    {Alg::kSha1, "", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {Alg::kSha1, "abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {Alg::kSha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {Alg::kSha1, "a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {Alg::kSha1, "01234567012345670123456701234567", 20, "dea356a2cddd90c7a7ecedc5ebb563934f460452"},
};

Bytes Message(const Vector& v) {
  Bytes m;
  const size_t n = std::strlen(v.text);
  m.reserve(n * v.repeat);
  for (size_t i = 0; i < v.repeat; ++i) m.insert(m.end(), v.text, v.text + n);
  return m;
}

// Every vector, for every digester of its algorithm: in one Update, byte by
// byte (with empty Updates, null data included, between the bytes), split in
// two at every offset, and after Final the context holds nothing of the
// message and equals a fresh one.
TEST(DigestRaw, PublishedVectorsFedEveryWay) {
  for (const Vector& v : kVectors) {
    const Bytes m = Message(v);
    for (const Digester& d : kDigesters) {
      if (d.alg != v.alg) continue;
      if (d.shaInstructions && !qk::Sha1HasShaInstructions()) continue;
      SCOPED_TRACE(std::string(d.name) + " of \"" + std::string(v.text).substr(0, 20) + "\" x" +
                   std::to_string(v.repeat));

      Running whole(d);
      whole.Update(m.data(), m.size());
      EXPECT_EQ(Hex(whole.Final()), v.digest);
      EXPECT_TRUE(whole.LooksFresh());

      Running bytes(d);
      for (uint8_t b : m) {
        bytes.Update(&b, 1);
        bytes.Update(nullptr, 0);
      }
      EXPECT_EQ(Hex(bytes.Final()), v.digest);

      // Splitting the million-byte message at every offset would take too
      // long; offsets near its ends and around some block boundaries stand
      // in for the rest.
      std::vector<size_t> cuts;
      for (size_t cut = 0; cut <= m.size(); ++cut) {
        const bool nearEnd = cut < 130 || m.size() - cut < 130;
        const size_t inStretch = cut % 65536;
        if (m.size() <= 4096 || nearEnd || inStretch <= 1 || inStretch == 65535) cuts.push_back(cut);
      }
      Running split(d);
      for (size_t cut : cuts) {
        split.Update(m.data(), cut);
        split.Update(m.data() + cut, m.size() - cut);
        const std::string got = Hex(split.Final());
        if (got != v.digest) {
          ADD_FAILURE() << "split at " << cut << ": " << got;
          break;
        }
      }
    }
  }
}

// Messages digested one after the other on one context, with only Final
// between them, give the same digests as fresh contexts: each Final leaves
// nothing behind for the next message. Every published message is followed
// by a 37-byte one, so the next starts right after a Final that ended on a
// partial block.
TEST(DigestRaw, FinalStartsNewMessage) {
  for (const Digester& d : kDigesters) {
    if (d.shaInstructions && !qk::Sha1HasShaInstructions()) continue;
    SCOPED_TRACE(d.name);
    Running r(d);
    for (const Vector& v : kVectors) {
      if (v.alg != d.alg) continue;
      const Bytes m = Message(v);
      r.Update(m.data(), m.size());
      EXPECT_EQ(Hex(r.Final()), v.digest);
      // The same context after a message whose tail is a partial block.
      const uint8_t junk[37] = {1, 2, 3};
      r.Update(junk, sizeof junk);
      const Bytes first = r.Final();
      EXPECT_EQ(first, Digest(d, Bytes(junk, junk + sizeof junk)));
    }
  }
}

// Random messages of many lengths, cut into random pieces, give the same
// digest through both SHA-1 compressions, and MD5 and SHA-1 agree with
// libcrypto. Lengths cover every padding case (0 to 3 blocks and every
// remainder) and a few long messages.
TEST(DigestRaw, AgreesWithOracleAndAcrossCompressions) {
  std::mt19937 rng(20240611);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 200; ++n) lengths.push_back(n);
  for (size_t n : {511u, 4096u, 65537u, 1000003u}) lengths.push_back(n);

  const bool haveSha = qk::Sha1HasShaInstructions();
  for (size_t n : lengths) {
    SCOPED_TRACE("length " + std::to_string(n));
    Bytes m(n);
    for (auto& b : m) b = static_cast<uint8_t>(rng());

    for (const Digester& d : kDigesters) {
      if (d.alg == Alg::kMd2) continue;
      if (d.shaInstructions && !haveSha) continue;
      SCOPED_TRACE(d.name);
      Running r(d);
      size_t at = 0;
      while (at < n) {
        size_t piece = std::min<size_t>(n - at, rng() % 150);
        r.Update(m.data() + at, piece);
        at += piece;
      }
      const Bytes ours = r.Final();

      Bytes ref(EVP_MAX_MD_SIZE);
      unsigned refLen = 0;
      ASSERT_EQ(EVP_Digest(m.data(), m.size(), ref.data(), &refLen, d.alg == Alg::kMd5 ? EVP_md5() : EVP_sha1(),
                           nullptr),
                1);
      ref.resize(refLen);
      EXPECT_EQ(Hex(ours), Hex(ref));
    }
  }
  if (!haveSha) GTEST_SKIP() << "no SHA instructions: only the portable SHA-1 was checked";
}

}  // namespace
