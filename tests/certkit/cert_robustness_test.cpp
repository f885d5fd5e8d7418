// Hostile input and failing memory for certificate objects: the fuzzing
// corpus, every prefix and many single-byte changes of real certificates,
// and allocation failure at each allocation of reading, verifying, setting
// fields and signing. Run under the sanitizers: nothing may crash or leak,
// and every answer is 0 or a code of the toolkit's table.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "cert_fixture.h"
#include "certkit/certkit.h"
#include "support/memory_hooks.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::CertFiles;
using cktest::Key;

const std::set<int>& KnownCodes() {
  static const std::set<int> codes = [] {
    std::set<int> s{0};
    for (int c = C_ERR_ALLOC; c <= C_ERR_EXT_CRITICALITY; ++c) {
      if (c != 1824 && c != 1832 && (c < 1840 || c > 1845)) s.insert(c);
    }
    return s;
  }();
  return codes;
}

// Reads |der| into a fresh object and, when that succeeds, verifies it with
// |key|; returns the first failure. Every code must be known.
int ReadAndVerify(const uint8_t* der, uint32_t len, Q_KEY_OBJ key) {
  C_CERT_OBJ cert = nullptr;
  int status = C_CreateCertObject(&cert, nullptr);
  if (status == 0) status = C_SetCertBER(cert, der, len);
  if (status == 0) status = C_VerifyCertSignature(cert, key, nullptr);
  C_DestroyCertObject(&cert);
  return status;
}

TEST(CertRobustness, Corpus) {
  REQUIRE_CERT_FILES();
  const std::string dir = std::string(KVCA_TESTDATA_DIR) + "/corpus/x509";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  Key key(QK_RSAPublicBER, CertFiles::Get().PublicKey("ca"));
  size_t files = 0, read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    Bytes data = cktest::ReadFile(entry.path().string());
    testsupport::MemoryWatch watch;
    int status = ReadAndVerify(data.data(), static_cast<uint32_t>(data.size()), key.key);
    EXPECT_TRUE(KnownCodes().count(status)) << entry.path() << " gave " << status;
    EXPECT_EQ(watch.leakedBlocks(), 0) << entry.path();
    ++files;
    if (status == 0 || status == C_ERR_CERT_SIGNATURE) ++read;
  }
  EXPECT_GT(files, 0u);
  RecordProperty("read", static_cast<int>(read));
}

class CertMutation : public ::testing::TestWithParam<const char*> {};

TEST_P(CertMutation, PrefixesAndByteChanges) {
  REQUIRE_CERT_FILES();
  const std::string name = GetParam();
  const Bytes der = CertFiles::Get().Cert(name);
  Key key(QK_RSAPublicBER, CertFiles::Get().PublicKey(name == "leaf" ? "ca" : name));
  ASSERT_EQ(ReadAndVerify(der.data(), static_cast<uint32_t>(der.size()), key.key), 0);
  testsupport::MemoryWatch watch;
  // Every proper prefix is refused.
  for (uint32_t n = 1; n < der.size(); ++n) {
    Bytes prefix(der.begin(), der.begin() + n);  // exact-size copy: reads past it are caught
    int status = ReadAndVerify(prefix.data(), n, key.key);
    ASSERT_NE(status, 0) << "prefix " << n;
    ASSERT_TRUE(KnownCodes().count(status)) << "prefix " << n << " gave " << status;
  }
  // Every octet changed in two ways: a change in the signed part must not
  // verify, one in the signature must not either.
  for (uint32_t i = 0; i < der.size(); ++i) {
    for (uint8_t mask : {0x01, 0xFF}) {
      Bytes changed = der;
      changed[i] ^= mask;
      int status = ReadAndVerify(changed.data(), static_cast<uint32_t>(changed.size()), key.key);
      ASSERT_TRUE(KnownCodes().count(status)) << "octet " << i << " gave " << status;
      ASSERT_NE(status, 0) << "octet " << i << " ^ " << int(mask) << " still verifies";
    }
  }
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

INSTANTIATE_TEST_SUITE_P(Openssl, CertMutation, ::testing::Values("leaf", "v1"));

TEST(CertAllocationFailure, ReadingAndVerifying) {
  REQUIRE_CERT_FILES();
  const Bytes der = CertFiles::Get().Cert("leaf");
  Key key(QK_RSAPublicBER, CertFiles::Get().PublicKey("ca"));
  uint64_t total = testsupport::ForEachAllocationFailure(
      [&] { return ReadAndVerify(der.data(), static_cast<uint32_t>(der.size()), key.key); },
      [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, C_ERR_ALLOC) << "at allocation " << watch.allocations();
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
      });
  EXPECT_GT(total, 20u);
}

TEST(CertAllocationFailure, SettingFieldsAndSigning) {
  REQUIRE_CERT_FILES();
  const Bytes privateKey = CertFiles::Get().PrivateKey("leaf");
  const Bytes spki = CertFiles::Get().PublicKey("leaf");
  static const unsigned char kCn[] = {0x55, 0x04, 0x03};
  static const unsigned char kSerial[] = {0x00, 0x42};
  auto operation = [&] {
    C_CERT_OBJ cert = nullptr;
    Q_KEY_OBJ key = nullptr;
    int status = C_CreateCertObject(&cert, nullptr);
    if (status == 0 && Q_CreateKeyObject(&key) != 0) status = C_ERR_ALLOC;
    Q_ITEM item{const_cast<unsigned char*>(privateKey.data()), static_cast<uint32_t>(privateKey.size())};
    if (status == 0 && Q_SetKeyInfo(key, QK_RSAPrivateBER, &item) != 0) status = C_ERR_ALLOC;
    C_CERT_FIELDS f{};
    if (status == 0) status = C_GetCertFields(cert, &f);
    if (status == 0) {
      status = C_AddNameAVA(f.issuer, kCn, 3, C_TAG_PRINTABLE_STRING,
                            reinterpret_cast<const unsigned char*>("Issuer"), 6, 1, nullptr);
    }
    if (status == 0) {
      status = C_AddNameAVA(f.subject, kCn, 3, C_TAG_PRINTABLE_STRING,
                            reinterpret_cast<const unsigned char*>("Subject"), 7, 1, nullptr);
    }
    if (status == 0) {
      f.serialNumber = C_ITEM{kSerial, sizeof kSerial};
      f.signatureAlgorithm = C_SIG_SHA1_WITH_RSA;
      f.notBefore = 1000000000;
      f.notAfter = 2000000000;
      f.publicKey = C_ITEM{spki.data(), static_cast<uint32_t>(spki.size())};
      status = C_SetCertFields(cert, &f);
    }
    if (status == 0) status = C_SignCert(cert, key, nullptr, nullptr);
    Q_DestroyKeyObject(&key);
    C_DestroyCertObject(&cert);
    return status;
  };
  uint64_t total = testsupport::ForEachAllocationFailure(
      operation, [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, C_ERR_ALLOC) << "at allocation " << watch.allocations();
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
      });
  EXPECT_GT(total, 20u);
}

}  // namespace
