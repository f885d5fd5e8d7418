// RSA key forms of the key objects: what each set leaves behind, the
// conversions, the DER forms and their identifiers, wiping and allocation
// failure, and interoperability with the openssl command line.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cryptokit/cryptokit.h"
#include "cryptokit/der/der.h"
#include "cryptokit/rsakeys/rsa_keys.h"
#include "support/memory_hooks.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Of(const Q_ITEM& item) { return Bytes(item.data, item.data + item.len); }
Q_ITEM ItemOf(const Bytes& bytes) { return Q_ITEM{const_cast<unsigned char*>(bytes.data()), uint32_t(bytes.size())}; }

// RAII key object.
struct Key {
  Q_KEY_OBJ k = nullptr;
  Key() { EXPECT_EQ(Q_CreateKeyObject(&k), 0); }
  ~Key() { Q_DestroyKeyObject(&k); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
};

const Bytes kRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

// SubjectPublicKeyInfo of modulus C5 01 02 03 and exponent 01 00 01, as
// written: rsaEncryption, NULL, INTEGER with one 00 in front of C5.
const Bytes kSmallSpki = {0x30, 0x20, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                          0x01, 0x01, 0x01, 0x05, 0x00, 0x03, 0x0F, 0x00, 0x30, 0x0C, 0x02, 0x05,
                          0x00, 0xC5, 0x01, 0x02, 0x03, 0x02, 0x03, 0x01, 0x00, 0x01};

// A PrivateKeyInfo over an RSAPrivateKey with the given version and small
// components 1..8; |oid| is the key algorithm.
Bytes MakePrivateKeyInfo(unsigned char innerVersion, unsigned char outerVersion, const Bytes& oid) {
  Bytes inner = {0x30, 0x1B, 0x02, 0x01, innerVersion};
  for (unsigned char v = 1; v <= 8; ++v) inner.insert(inner.end(), {0x02, 0x01, v});
  Bytes body = {0x02, 0x01, outerVersion, 0x30, uint8_t(oid.size() + 4), 0x06, uint8_t(oid.size())};
  body.insert(body.end(), oid.begin(), oid.end());
  body.insert(body.end(), {0x05, 0x00, 0x04, uint8_t(inner.size())});
  body.insert(body.end(), inner.begin(), inner.end());
  Bytes out = {0x30, uint8_t(body.size())};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

TEST(RsaKeyForms, PublicSetStripsZerosAndReencodesWithOneZero) {
  Key key;
  Bytes modulus = {0x00, 0x00, 0xC5, 0x01, 0x02, 0x03}, exponent = {0x01, 0x00, 0x01};
  Q_RSA_PUBLIC_KEY in{ItemOf(modulus), ItemOf(exponent)};
  ASSERT_EQ(Q_SetKeyInfo(key.k, QK_RSAPublic, &in), 0);
  ASSERT_EQ(key.k->infos.count, 1);
  void* info = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&info, key.k, QK_RSAPublic), 0);
  EXPECT_EQ(Of(static_cast<Q_RSA_PUBLIC_KEY*>(info)->modulus), (Bytes{0xC5, 0x01, 0x02, 0x03}));
  void* ber = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&ber, key.k, QK_RSAPublicBER), 0);
  EXPECT_EQ(Of(*static_cast<Q_ITEM*>(ber)), kSmallSpki);
  void* again = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&again, key.k, QK_RSAPublicBER), 0);
  EXPECT_EQ(again, ber);

  // A public key gives none of the private forms.
  for (Q_INFO_TYPE t : {QK_RSAPrivateBER, QK_RSAPrivateCRT, QK_RSAPrivate, qk::KI_RSAComponents}) {
    EXPECT_EQ(Q_GetKeyInfo(&info, key.k, t), Q_ERR_GET_KEY_INFO);
  }
}

TEST(RsaKeyForms, AllZeroValueBecomesEmptyAndEncodesAsZero) {
  Key key;
  Bytes modulus = {0x00, 0x00}, exponent = {0x03};
  Q_RSA_PUBLIC_KEY in{ItemOf(modulus), ItemOf(exponent)};
  ASSERT_EQ(Q_SetKeyInfo(key.k, QK_RSAPublic, &in), 0);
  void* info = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&info, key.k, QK_RSAPublic), 0);
  EXPECT_EQ(static_cast<Q_RSA_PUBLIC_KEY*>(info)->modulus.len, 0u);
  EXPECT_NE(static_cast<Q_RSA_PUBLIC_KEY*>(info)->modulus.data, nullptr);
  void* ber = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&ber, key.k, QK_RSAPublicBER), 0);
  const Bytes tail = {0x30, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x03};
  Bytes got = Of(*static_cast<Q_ITEM*>(ber));
  ASSERT_GE(got.size(), tail.size());
  EXPECT_EQ(Bytes(got.end() - long(tail.size()), got.end()), tail);
}

TEST(RsaKeyForms, PublicBERIdentifiersAndBitString) {
  // 2.5.8.1.1 without parameters is accepted and re-encoded as rsaEncryption
  // with NULL parameters.
  Bytes x500 = {0x30, 0x19, 0x30, 0x06, 0x06, 0x04, 0x55, 0x08, 0x01, 0x01};
  x500.insert(x500.end(), kSmallSpki.begin() + 17, kSmallSpki.end());
  {
    Key key;
    Q_ITEM in = ItemOf(x500);
    ASSERT_EQ(Q_SetKeyInfo(key.k, QK_RSAPublicBER, &in), 0);
    ASSERT_EQ(key.k->infos.count, 1);  // only QK_RSAPublic is kept
    void* ber = nullptr;
    ASSERT_EQ(Q_GetKeyInfo(&ber, key.k, QK_RSAPublicBER), 0);
    EXPECT_EQ(Of(*static_cast<Q_ITEM*>(ber)), kSmallSpki);
  }
  struct Case {
    std::string name;
    size_t at;
    unsigned char value;
    int status;
  } cases[] = {
      {"sha1WithRSAEncryption", 14, 0x05, Q_ERR_GET_KEY_INFO},
      {"unused bits", 19, 0x01, Q_ERR_INPUT_DATA},
      {"negative modulus", 24, 0x80, Q_ERR_INPUT_DATA},
      {"inner not a SEQUENCE", 20, 0x31, Q_ERR_INPUT_DATA},
  };
  for (const Case& c : cases) {
    Bytes spki = kSmallSpki;
    spki[c.at] = c.value;
    Key key;
    Q_ITEM in = ItemOf(spki);
    EXPECT_EQ(Q_SetKeyInfo(key.k, QK_RSAPublicBER, &in), c.status) << c.name;
    EXPECT_EQ(key.k->infos.count, 0) << c.name;
  }
  Bytes trailing = kSmallSpki;
  trailing.push_back(0);
  Key key;
  Q_ITEM in = ItemOf(trailing);
  EXPECT_EQ(Q_SetKeyInfo(key.k, QK_RSAPublicBER, &in), Q_ERR_INPUT_DATA);
}

TEST(RsaKeyForms, PrivateBERVersionsAndIdentifier) {
  struct Case {
    std::string name;
    Bytes der;
    int status;
  } cases[] = {
      {"valid", MakePrivateKeyInfo(0, 0, kRsaOid), 0},
      {"RSAPrivateKey version 1", MakePrivateKeyInfo(1, 0, kRsaOid), Q_ERR_INPUT_DATA},
      {"PrivateKeyInfo version 1", MakePrivateKeyInfo(0, 1, kRsaOid), Q_ERR_INPUT_DATA},
      {"X.500 identifier", MakePrivateKeyInfo(0, 0, {0x55, 0x08, 0x01, 0x01}), Q_ERR_GET_KEY_INFO},
  };
  for (const Case& c : cases) {
    Key key;
    Q_ITEM in = ItemOf(c.der);
    EXPECT_EQ(Q_SetKeyInfo(key.k, QK_RSAPrivateBER, &in), c.status) << c.name;
    if (c.status != 0) continue;
    // The components record first, then QK_RSAPrivateCRT.
    const void* components = nullptr;
    const void* crt = nullptr;
    qk::KI_RSAComponents(&components);
    QK_RSAPrivateCRT(&crt);
    ASSERT_EQ(key.k->infos.count, 2);
    EXPECT_EQ(key.k->infos.pairs[0].descriptor, components);
    EXPECT_EQ(key.k->infos.pairs[1].descriptor, crt);
    void* ber = nullptr;
    ASSERT_EQ(Q_GetKeyInfo(&ber, key.k, QK_RSAPrivateBER), 0);
    EXPECT_EQ(Of(*static_cast<Q_ITEM*>(ber)), c.der);
    void* pub = nullptr;
    ASSERT_EQ(Q_GetKeyInfo(&pub, key.k, QK_RSAPublic), 0);
    EXPECT_EQ(Of(static_cast<Q_RSA_PUBLIC_KEY*>(pub)->modulus), Bytes{1});
    EXPECT_EQ(Of(static_cast<Q_RSA_PUBLIC_KEY*>(pub)->exponent), Bytes{2});
    void* priv = nullptr;
    ASSERT_EQ(Q_GetKeyInfo(&priv, key.k, QK_RSAPrivate), 0);
    EXPECT_EQ(Of(static_cast<Q_RSA_PRIVATE_KEY*>(priv)->exponent), Bytes{3});
  }
}

TEST(RsaKeyForms, PrivateOnlyKeyAndComponentsRecord) {
  Key key;
  Bytes modulus = {0xC1, 0x02}, exponent = {0x00, 0x05};
  Q_RSA_PRIVATE_KEY in{ItemOf(modulus), ItemOf(exponent)};
  EXPECT_EQ(Q_SetKeyInfo(key.k, qk::KI_RSAComponents, &in), Q_ERR_WRONG_KIND);
  ASSERT_EQ(Q_SetKeyInfo(key.k, QK_RSAPrivate, &in), 0);
  EXPECT_EQ(Q_SetKeyInfo(key.k, QK_RSAPrivate, &in), Q_ERR_KEY_ALREADY_SET);
  ASSERT_EQ(key.k->infos.count, 1);
  void* info = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&info, key.k, QK_RSAPrivate), 0);
  EXPECT_EQ(Of(static_cast<Q_RSA_PRIVATE_KEY*>(info)->exponent), Bytes{5});
  for (Q_INFO_TYPE t : {QK_RSAPublic, QK_RSAPublicBER, QK_RSAPrivateCRT, QK_RSAPrivateBER, qk::KI_RSAComponents}) {
    EXPECT_EQ(Q_GetKeyInfo(&info, key.k, t), Q_ERR_GET_KEY_INFO);
  }
}

TEST(RsaKeyForms, CRTSetGivesEveryForm) {
  Key key;
  Bytes v[8];
  for (int i = 0; i < 8; ++i) v[i] = {0x00, uint8_t(0x80 + i), 0x11};
  Q_RSA_PRIVATE_CRT_KEY in{ItemOf(v[0]), ItemOf(v[1]), ItemOf(v[2]), {ItemOf(v[3]), ItemOf(v[4])},
                           {ItemOf(v[5]), ItemOf(v[6])}, ItemOf(v[7])};
  ASSERT_EQ(Q_SetKeyInfo(key.k, QK_RSAPrivateCRT, &in), 0);
  void* components = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&components, key.k, qk::KI_RSAComponents), 0);
  auto* c = static_cast<Q_RSA_PRIVATE_CRT_KEY*>(components);
  EXPECT_EQ(Of(c->coefficient), (Bytes{0x87, 0x11}));
  EXPECT_EQ(Of(c->prime[1]), (Bytes{0x84, 0x11}));
  void* ber = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&ber, key.k, QK_RSAPrivateBER), 0);
  // Round trip through a second key object.
  Key other;
  ASSERT_EQ(Q_SetKeyInfo(other.k, QK_RSAPrivateBER, ber), 0);
  void* crt = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&crt, other.k, QK_RSAPrivateCRT), 0);
  EXPECT_EQ(Of(static_cast<Q_RSA_PRIVATE_CRT_KEY*>(crt)->primeExponent[0]), (Bytes{0x85, 0x11}));
  void* ber2 = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&ber2, other.k, QK_RSAPrivateBER), 0);
  EXPECT_EQ(Of(*static_cast<Q_ITEM*>(ber2)), Of(*static_cast<Q_ITEM*>(ber)));
}

// Imports a PrivateKeyInfo, exports both DER forms; the allocation-failure
// and wipe checks run this whole.
int ImportExport(const Bytes& pkcs8, Bytes* privateOut, Bytes* publicOut) {
  Q_KEY_OBJ key = nullptr;
  int status = Q_CreateKeyObject(&key);
  if (status != 0) return status;
  Q_ITEM in = ItemOf(pkcs8);
  void* priv = nullptr;
  void* pub = nullptr;
  status = Q_SetKeyInfo(key, QK_RSAPrivateBER, &in);
  if (status == 0) status = Q_GetKeyInfo(&priv, key, QK_RSAPrivateBER);
  if (status == 0) status = Q_GetKeyInfo(&pub, key, QK_RSAPublicBER);
  if (status == 0) {
    *privateOut = Of(*static_cast<Q_ITEM*>(priv));
    *publicOut = Of(*static_cast<Q_ITEM*>(pub));
  }
  Q_DestroyKeyObject(&key);
  return status;
}

TEST(RsaKeyForms, AllocationFailureGives518WithoutLeaksAndWipes) {
  Bytes pkcs8 = MakePrivateKeyInfo(0, 0, kRsaOid);
  Bytes priv, pub;
  uint64_t needed = testsupport::ForEachAllocationFailure(
      [&] { return ImportExport(pkcs8, &priv, &pub); },
      [](int status, const testsupport::MemoryWatch& w) {
        EXPECT_EQ(status, Q_ERR_ALLOC);
        EXPECT_EQ(w.leakedBlocks(), 0);
        EXPECT_EQ(w.unwipedReleases(), 0) << "failing allocation " << w.allocations();
      });
  EXPECT_GT(needed, 10u);
  testsupport::MemoryWatch watch;
  ASSERT_EQ(ImportExport(pkcs8, &priv, &pub), 0);
  EXPECT_EQ(priv, pkcs8);
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

// ---------------------------------------------------------------------------
// The openssl command line as an outside oracle.

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/kvca_rsakeys_XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  ~TempDir() {
    if (!path_.empty()) Run("rm -rf '" + path_ + "'");
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  static int Run(const std::string& command) {
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string path_;
};

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class OpensslInterop : public ::testing::TestWithParam<int> {};

TEST_P(OpensslInterop, KeysRoundTripByteForByteAndPassChecks) {
  if (TempDir::Run("openssl version") != 0) GTEST_SKIP() << "the openssl command line is not installed";
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string bits = std::to_string(GetParam());
  const std::string raw = dir.File("key.der"), priv = dir.File("key.p8"), pub = dir.File("pub.der");
  ASSERT_EQ(TempDir::Run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:" + bits +
                         " -outform DER -out " + raw),
            0);
  // Some openssl versions write DER private keys in the PKCS #1 form; make
  // sure we hold PKCS #8.
  ASSERT_EQ(TempDir::Run("openssl pkcs8 -topk8 -nocrypt -inform DER -in " + raw + " -outform DER -out " + priv), 0);
  ASSERT_EQ(TempDir::Run("openssl pkey -inform DER -in " + priv + " -pubout -outform DER -out " + pub), 0);
  const Bytes theirPrivate = ReadFile(priv), theirPublic = ReadFile(pub);
  ASSERT_FALSE(theirPrivate.empty());
  ASSERT_FALSE(theirPublic.empty());

  // Private key: in and out again, byte for byte; the public key derived from
  // it matches openssl's.
  Bytes ourPrivate, ourPublicFromPrivate;
  ASSERT_EQ(ImportExport(theirPrivate, &ourPrivate, &ourPublicFromPrivate), 0);
  EXPECT_EQ(ourPrivate, theirPrivate);
  EXPECT_EQ(ourPublicFromPrivate, theirPublic);

  // Public key alone.
  Key key;
  Q_ITEM in = ItemOf(theirPublic);
  ASSERT_EQ(Q_SetKeyInfo(key.k, QK_RSAPublicBER, &in), 0);
  void* ber = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&ber, key.k, QK_RSAPublicBER), 0);
  const Bytes ourPublic = Of(*static_cast<Q_ITEM*>(ber));
  EXPECT_EQ(ourPublic, theirPublic);

  // Our encodings pass openssl's own checks.
  WriteFile(dir.File("ours.p8"), ourPrivate);
  WriteFile(dir.File("ours.pub"), ourPublic);
  EXPECT_EQ(TempDir::Run("openssl pkey -inform DER -in " + dir.File("ours.p8") + " -check -noout"), 0);
  EXPECT_EQ(TempDir::Run("openssl pkey -pubin -inform DER -in " + dir.File("ours.pub") + " -noout"), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, OpensslInterop, ::testing::Values(1024, 2048));

}  // namespace
