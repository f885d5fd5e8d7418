// The modern profile's services: which names a server certificate takes,
// which roots count as modern, what is issued (checked field by field through
// the toolkit's readers), and the findings of the modern verify.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "certkit/certkit.h"
#include "platform/clock.h"
#include "services/kvservices.h"

namespace {

using Bytes = std::vector<unsigned char>;

CertNameFields Names(const char* organization, const char* commonName) {
  CertNameFields f;
  std::memset(&f, 0, sizeof f);
  std::memcpy(f.country, "DE", 2);
  std::strncpy(f.organization, organization, sizeof f.organization - 1);
  std::strncpy(f.commonName, commonName, sizeof f.commonName - 1);
  return f;
}

struct Pair {
  Bytes publicKey, privateKey;
};

Pair ModernKey() {
  Pair p{Bytes(KV_KEYFILE_MAX_DATA), Bytes(KV_KEYFILE_MAX_DATA)};
  int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
  EXPECT_EQ(errKVModernKeyGen(2048, p.publicKey.data(), &pubLen, p.privateKey.data(), &privLen), 0);
  p.publicKey.resize(static_cast<size_t>(pubLen));
  p.privateKey.resize(static_cast<size_t>(privLen));
  return p;
}

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("kv_profile_") + name + "_" +
                                                    std::to_string(::getpid())))
      .string();
}

// Issues a certificate; |root| empty makes a self-signed root.
Bytes Issue(const Pair& subjectKey, const Pair& signer, const Bytes& root, std::vector<const char*> names,
            int days = KV_MODERN_DEFAULT_DAYS) {
  unsigned char* request = nullptr;
  int requestLength = 0;
  const CertNameFields subject = Names("Örg", root.empty() ? "Test Root" : names.empty() ? "x" : names[0]);
  EXPECT_EQ(errKVGenModernCertReq(static_cast<int>(subjectKey.privateKey.size()), subjectKey.privateKey.data(),
                                  static_cast<int>(subjectKey.publicKey.size()), subjectKey.publicKey.data(), subject,
                                  &request, &requestLength),
            0);
  const std::string path = TempPath("cert");
  KVModernIssue issue{days, root.empty() ? 1 : 0, names.data(), static_cast<int>(names.size()), root.data(),
                      static_cast<int>(root.size())};
  unsigned char* der = nullptr;
  int derLength = 0;
  const int rc = errKVGenModernCert(path.c_str(), static_cast<int>(signer.privateKey.size()), signer.privateKey.data(),
                                    Names("Örg", "Test Root"), requestLength, request, &issue, &derLength, &der);
  vKVCertReqFreeReq(request);
  std::filesystem::remove(path);
  EXPECT_EQ(rc, 0);
  Bytes out(der, der + (rc == 0 ? derLength : 0));
  vKVCertFreeCert(der);
  return out;
}

TEST(ModernProfile, ServerNames) {
  struct Case {
    const char* name;
    bool good;
  } cases[] = {
      {"localhost", true},        {"www.example.com", true},   {"*.example.com", true},
      {"xn--bcher-kva.example", true}, {"127.0.0.1", true},    {"::1", true},
      {"2001:db8::1", true},      {"a-b.c", true},             {"", false},
      {"*", false},               {"www.*.example", false},    {"*.*.example", false},
      {"foo*.example", false},    {"under_score.example", false}, {"has space", false},
      {"bücher.example", false},  {"a..b", false},             {".example", false},
      {"example.", false},        {"-a.example", false},       {"a-.example", false},
      {"256.1.1.1", false},       {"1.2.3", false},            {"host.1x", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(errKVCheckServerName(c.name) == 0, c.good) << c.name;
  }
  EXPECT_NE(errKVCheckServerName(nullptr), 0);
  const std::string label63(63, 'a'), label64(64, 'a');
  EXPECT_EQ(errKVCheckServerName((label63 + ".example").c_str()), 0);
  EXPECT_NE(errKVCheckServerName((label64 + ".example").c_str()), 0);
  // 253 characters in all, and no more.
  std::string longName;
  while (longName.size() < 253) longName += longName.empty() ? "a" : ".a";
  longName.resize(253);
  if (longName.back() == '.') longName.back() = 'b';
  EXPECT_EQ(errKVCheckServerName(longName.c_str()), 0);
  EXPECT_NE(errKVCheckServerName((longName + "b").c_str()), 0);
}

TEST(ModernProfile, KeySizes) {
  Bytes pub(KV_KEYFILE_MAX_DATA), priv(KV_KEYFILE_MAX_DATA);
  for (int bits : {0, 1000, 1024, 2047, 8192}) {
    int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
    EXPECT_EQ(errKVModernKeyGen(bits, pub.data(), &pubLen, priv.data(), &privLen), KV_KEY_BAD_SIZE) << bits;
  }
}

class Issued : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rootKey_ = new Pair(ModernKey());
    serverKey_ = new Pair(ModernKey());
    otherKey_ = new Pair(ModernKey());
    root_ = new Bytes(Issue(*rootKey_, *rootKey_, {}, {}));
    server_ = new Bytes(Issue(*serverKey_, *rootKey_, *root_, {"localhost", "www.localhost", "127.0.0.1", "localhost"}));
    otherRoot_ = new Bytes(Issue(*otherKey_, *otherKey_, {}, {}));
  }
  static void TearDownTestSuite() {
    for (Pair* p : {rootKey_, serverKey_, otherKey_}) delete p;
    for (Bytes* b : {root_, server_, otherRoot_}) delete b;
  }
  static inline Pair *rootKey_, *serverKey_, *otherKey_;
  static inline Bytes *root_, *server_, *otherRoot_;
};

TEST_F(Issued, ProfileIsReadFromTheRoot) {
  EXPECT_EQ(iKVProfileOfCert(static_cast<int>(root_->size()), root_->data()), KV_PROFILE_MODERN);
  // A server certificate is no CA; garbage and nothing are classic.
  EXPECT_EQ(iKVProfileOfCert(static_cast<int>(server_->size()), server_->data()), KV_PROFILE_CLASSIC);
  const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01, 0x00};
  EXPECT_EQ(iKVProfileOfCert(sizeof junk, junk), KV_PROFILE_CLASSIC);
  EXPECT_EQ(iKVProfileOfCert(0, nullptr), KV_PROFILE_CLASSIC);
}

TEST_F(Issued, ServerCertificateFields) {
  C_CERT_OBJ cert = nullptr;
  ASSERT_EQ(C_CreateCertObject(&cert, nullptr), 0);
  ASSERT_EQ(C_SetCertBER(cert, server_->data(), static_cast<uint32_t>(server_->size())), 0);
  C_CERT_FIELDS f;
  ASSERT_EQ(C_GetCertFields(cert, &f), 0);
  EXPECT_EQ(f.signatureAlgorithm, static_cast<uint32_t>(C_SIG_SHA256_WITH_RSA));
  EXPECT_EQ(f.version, static_cast<uint32_t>(C_CERT_VERSION_3));
  ASSERT_EQ(f.serialNumber.len, 16u);
  EXPECT_NE(f.serialNumber.data[0], 0);
  EXPECT_LT(f.serialNumber.data[0], 0x80);
  EXPECT_EQ(f.notAfter - f.notBefore, int64_t{KV_MODERN_DEFAULT_DAYS} * 86400);
  const unsigned char* value = nullptr;
  uint32_t length = 0, critical = 0;
  ASSERT_EQ(C_FindExtension(f.extensions, C_OID_SUBJECT_ALT_NAME, C_OID_EXT_LEN, &critical, &value, &length), 0);
  C_GENERAL_NAME names[8];
  uint32_t count = 0;
  ASSERT_EQ(C_ReadSubjectAltName(value, length, names, 8, &count), 0);
  // The repeated host name is written once; the address as iPAddress.
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(names[0].kind, static_cast<uint32_t>(C_GN_DNS_NAME));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(names[1].value.data), names[1].value.len), "www.localhost");
  EXPECT_EQ(names[2].kind, static_cast<uint32_t>(C_GN_IP_ADDRESS));
  EXPECT_EQ(names[2].value.len, 4u);
  uint32_t usage = 0;
  ASSERT_EQ(C_FindExtension(f.extensions, C_OID_KEY_USAGE, C_OID_EXT_LEN, &critical, &value, &length), 0);
  EXPECT_EQ(critical, 1u);
  ASSERT_EQ(C_ReadKeyUsage(value, length, &usage), 0);
  EXPECT_EQ(usage, C_KU_DIGITAL_SIGNATURE | C_KU_KEY_ENCIPHERMENT);
  C_DestroyCertObject(&cert);
  EXPECT_EQ(errKVCertX509VerifyWithCert(static_cast<int>(root_->size()), root_->data(),
                                        static_cast<int>(server_->size()), server_->data()),
            0);
}

TEST_F(Issued, RefusedBeforeAnythingIsWritten) {
  unsigned char* request = nullptr;
  int requestLength = 0;
  ASSERT_EQ(errKVGenModernCertReq(static_cast<int>(serverKey_->privateKey.size()), serverKey_->privateKey.data(),
                                  static_cast<int>(serverKey_->publicKey.size()), serverKey_->publicKey.data(),
                                  Names("O", "h"), &request, &requestLength),
            0);
  struct Case {
    int days;
    std::vector<const char*> names;
    int expected;
  } cases[] = {
      {0, {"localhost"}, KV_CERT_BAD_DAYS},
      {7301, {"localhost"}, KV_CERT_BAD_DAYS},
      {1, {"bad_name"}, KV_CERT_BAD_SERVER_NAME},
      {1, {}, KV_CERT_BAD_SERVER_NAME},
      {1, std::vector<const char*>(KV_MODERN_MAX_NAMES + 1, "a.example"), KV_CERT_TOO_MANY_NAMES},
  };
  const std::string path = TempPath("refused");
  for (const Case& c : cases) {
    KVModernIssue issue{c.days, 0, c.names.data(), static_cast<int>(c.names.size()), root_->data(),
                        static_cast<int>(root_->size())};
    unsigned char* der = nullptr;
    int derLength = 0;
    EXPECT_EQ(errKVGenModernCert(path.c_str(), static_cast<int>(rootKey_->privateKey.size()),
                                 rootKey_->privateKey.data(), Names("O", "R"), requestLength, request, &issue,
                                 &derLength, &der),
              c.expected);
    EXPECT_EQ(der, nullptr);
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  vKVCertReqFreeReq(request);
}

TEST_F(Issued, ModernVerifyFindings) {
  const int64_t now = kvplatform::CalendarSeconds();
  struct Case {
    const char* what;
    const Bytes* root;
    const Bytes* leaf;
    int64_t at;
    unsigned expected;
  } cases[] = {
      {"good", root_, server_, now, 0},
      {"before the validity", root_, server_, now - 86400, KV_CHECK_NOT_YET_VALID},
      {"after the validity", root_, server_, now + 826LL * 86400, KV_CHECK_EXPIRED},
      {"another root's key id", otherRoot_, server_, now, KV_CHECK_AKI_MISMATCH},
      // A server certificate in the root's place lacks keyCertSign, and its
      // own key is not the one the leaf names.
      {"root without keyCertSign", server_, server_, now, KV_CHECK_ROOT_NO_CERT_SIGN | KV_CHECK_AKI_MISMATCH},
  };
  for (const Case& c : cases) {
    unsigned findings = 0xFF;
    int64_t validity[2] = {0, 0};
    EXPECT_EQ(errKVModernCheck(static_cast<int>(c.root->size()), c.root->data(), static_cast<int>(c.leaf->size()),
                               c.leaf->data(), c.at, &findings, validity),
              0)
        << c.what;
    EXPECT_EQ(findings, c.expected) << c.what;
  }
  unsigned findings = 0;
  const unsigned char junk[] = {0x30, 0x00};
  EXPECT_EQ(errKVModernCheck(sizeof junk, junk, static_cast<int>(server_->size()), server_->data(), now, &findings,
                             nullptr),
            KV_CERT_BAD_CERTIFICATE);
}

}  // namespace
