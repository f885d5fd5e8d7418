// MD2, MD5, SHA-1, SHA-256, SHA-384 and SHA-512 against the vectors
// published with RFC 1319, RFC 1321, FIPS 180-1 / RFC 3174 and FIPS 180-4,
// fed in every way a caller may feed them, plus the two SHA-1 and the two
// SHA-256 compressions against each other and against libcrypto.
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

enum class Alg { kMd2, kMd5, kSha1, kSha256, kSha384, kSha512 };

// One way of running a digest: the algorithm and, for SHA-1 and SHA-256,
// whether the SHA instructions are used, for SHA-384 and SHA-512 whether
// the vector schedule is.
struct Digester {
  const char* name;
  Alg alg;
  bool fastPath;
};

const Digester kDigesters[] = {
    {"md2", Alg::kMd2, false},
    {"md5", Alg::kMd5, false},
    {"sha1-portable", Alg::kSha1, false},
    {"sha1-sha-instructions", Alg::kSha1, true},
    {"sha256-portable", Alg::kSha256, false},
    {"sha256-sha-instructions", Alg::kSha256, true},
    {"sha384-portable", Alg::kSha384, false},
    {"sha384-vector-schedule", Alg::kSha384, true},
    {"sha512-portable", Alg::kSha512, false},
    {"sha512-vector-schedule", Alg::kSha512, true},
};

size_t DigestLength(Alg alg) {
  switch (alg) {
    case Alg::kMd2:
    case Alg::kMd5: return 16;
    case Alg::kSha1: return 20;
    case Alg::kSha256: return 32;
    case Alg::kSha384: return 48;
    case Alg::kSha512: return 64;
  }
  return 0;
}

// Whether this machine can run |d| as described.
bool Runnable(const Digester& d) {
  if (!d.fastPath) return true;
  switch (d.alg) {
    case Alg::kSha1: return qk::Sha1HasShaInstructions();
    case Alg::kSha256: return qk::Sha256HasShaInstructions();
    case Alg::kSha384:
    case Alg::kSha512: return qk::Sha512HasVectorSchedule();
    default: return false;
  }
}

// A context of any of the algorithms, fed through the public functions.
// Contexts start zero-filled so that their bytes can be compared with a
// freshly initialised one, padding included. The SHA-1, SHA-256 and SHA-512
// compressions are chosen again before every call, so contexts of both kinds
// can be interleaved.
class Running {
 public:
  explicit Running(const Digester& d) : d_(d) {
    std::memset(&md2_, 0, sizeof md2_);
    std::memset(&md5_, 0, sizeof md5_);
    std::memset(&sha1_, 0, sizeof sha1_);
    std::memset(&sha256_, 0, sizeof sha256_);
    std::memset(&sha512_, 0, sizeof sha512_);
    switch (d_.alg) {
      case Alg::kMd2: qk::Md2Init(&md2_); break;
      case Alg::kMd5: qk::Md5Init(&md5_); break;
      case Alg::kSha1: qk::Sha1Init(&sha1_); break;
      case Alg::kSha256: qk::Sha256Init(&sha256_); break;
      case Alg::kSha384: qk::Sha384Init(&sha512_); break;
      case Alg::kSha512: qk::Sha512Init(&sha512_); break;
    }
  }
  void Update(const uint8_t* p, size_t n) {
    Choose();
    const auto len = static_cast<uint32_t>(n);
    switch (d_.alg) {
      case Alg::kMd2: qk::Md2Update(&md2_, p, len); break;
      case Alg::kMd5: qk::Md5Update(&md5_, p, len); break;
      case Alg::kSha1: qk::Sha1Update(&sha1_, p, len); break;
      case Alg::kSha256: qk::Sha256Update(&sha256_, p, len); break;
      case Alg::kSha384: qk::Sha384Update(&sha512_, p, len); break;
      case Alg::kSha512: qk::Sha512Update(&sha512_, p, len); break;
    }
  }
  Bytes Final() {
    Bytes out(DigestLength(d_.alg));
    Choose();
    switch (d_.alg) {
      case Alg::kMd2: qk::Md2Final(&md2_, out.data()); break;
      case Alg::kMd5: qk::Md5Final(&md5_, out.data()); break;
      case Alg::kSha1: qk::Sha1Final(&sha1_, out.data()); break;
      case Alg::kSha256: qk::Sha256Final(&sha256_, out.data()); break;
      case Alg::kSha384: qk::Sha384Final(&sha512_, out.data()); break;
      case Alg::kSha512: qk::Sha512Final(&sha512_, out.data()); break;
    }
    return out;
  }
  // Whether the context's bytes are exactly those of a fresh one.
  bool LooksFresh() const {
    Running fresh(d_);
    return std::memcmp(&md2_, &fresh.md2_, sizeof md2_) == 0 && std::memcmp(&md5_, &fresh.md5_, sizeof md5_) == 0 &&
           std::memcmp(&sha1_, &fresh.sha1_, sizeof sha1_) == 0 &&
           std::memcmp(&sha256_, &fresh.sha256_, sizeof sha256_) == 0 &&
           std::memcmp(&sha512_, &fresh.sha512_, sizeof sha512_) == 0;
  }

 private:
  void Choose() const {
    qk::Sha1UseShaInstructions(d_.fastPath);
    qk::Sha256UseShaInstructions(d_.fastPath);
    qk::Sha512UseVectorSchedule(d_.fastPath);
  }

  Digester d_;
  qk::Md2Context md2_;
  qk::Md5Context md5_;
  qk::Sha1Context sha1_;
  qk::Sha256Context sha256_;
  qk::Sha512Context sha512_;  // SHA-384 too
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
// The two-block messages of FIPS 180-4's examples: 448 bits (the SHA-1 and
// SHA-256 one) and 896 bits (the SHA-384 and SHA-512 one).
const char k448[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char k896[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

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
    {Alg::kSha1, k448, 1, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {Alg::kSha1, "a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {Alg::kSha1, "01234567012345670123456701234567", 20, "dea356a2cddd90c7a7ecedc5ebb563934f460452"},
    // FIPS 180-4's examples ("abc", the 448-bit message for SHA-256, the
    // 896-bit one for SHA-384 and SHA-512, one million 'a'), plus the empty
    // message and the other two-block message for each.
    {Alg::kSha256, "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {Alg::kSha256, "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {Alg::kSha256, k448, 1, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {Alg::kSha256, k896, 1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {Alg::kSha256, "a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {Alg::kSha384, "", 1,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {Alg::kSha384, "abc", 1,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {Alg::kSha384, k448, 1,
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b"},
    {Alg::kSha384, k896, 1,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {Alg::kSha384, "a", 1000000,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {Alg::kSha512, "", 1,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {Alg::kSha512, "abc", 1,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {Alg::kSha512, k448, 1,
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {Alg::kSha512, k896, 1,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {Alg::kSha512, "a", 1000000,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
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
      if (!Runnable(d)) continue;
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
    if (!Runnable(d)) continue;
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

const EVP_MD* OracleOf(Alg alg) {
  switch (alg) {
    case Alg::kMd2: return nullptr;  // not in the installed libcrypto
    case Alg::kMd5: return EVP_md5();
    case Alg::kSha1: return EVP_sha1();
    case Alg::kSha256: return EVP_sha256();
    case Alg::kSha384: return EVP_sha384();
    case Alg::kSha512: return EVP_sha512();
  }
  return nullptr;
}

// Random messages of many lengths, cut into random pieces, give the same
// digest through both compressions of SHA-1, SHA-256 and SHA-512, and every digest
// but MD2 agrees with libcrypto. Lengths cover every padding case (0 to 3
// blocks of 64 bytes, 0 to 2 of 128, and every remainder) and a few long
// messages.
TEST(DigestRaw, AgreesWithOracleAndAcrossCompressions) {
  std::mt19937 rng(20240611);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 260; ++n) lengths.push_back(n);
  for (size_t n : {511u, 4096u, 65537u, 1000003u}) lengths.push_back(n);

  const bool haveFast =
      qk::Sha1HasShaInstructions() && qk::Sha256HasShaInstructions() && qk::Sha512HasVectorSchedule();
  for (size_t n : lengths) {
    SCOPED_TRACE("length " + std::to_string(n));
    Bytes m(n);
    for (auto& b : m) b = static_cast<uint8_t>(rng());

    for (const Digester& d : kDigesters) {
      if (OracleOf(d.alg) == nullptr || !Runnable(d)) continue;
      SCOPED_TRACE(d.name);
      Running r(d);
      size_t at = 0;
      while (at < n) {
        // Short pieces, and long ones that hand the compression one to ten
        // whole blocks at once.
        const size_t limit = rng() % 2 != 0 ? 150 : 1300;
        size_t piece = std::min<size_t>(n - at, rng() % limit);
        r.Update(m.data() + at, piece);
        at += piece;
      }
      const Bytes ours = r.Final();

      Bytes ref(EVP_MAX_MD_SIZE);
      unsigned refLen = 0;
      ASSERT_EQ(EVP_Digest(m.data(), m.size(), ref.data(), &refLen, OracleOf(d.alg), nullptr), 1);
      ref.resize(refLen);
      EXPECT_EQ(Hex(ours), Hex(ref));
    }
  }
  if (!haveFast) GTEST_SKIP() << "no SHA instructions or no AVX2: some portable compressions were checked alone";
}

}  // namespace
