// CRL objects: lists built, signed and read back by the toolkit and checked
// by the openssl command line (text, signature, revocation of a leaf), lists
// made by `openssl ca -gencrl` read with the right fields, malformed lists
// refused with the object unchanged, the cRLNumber and reasonCode values,
// and allocation failure at every allocation.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cert_fixture.h"
#include "certkit/certkit.h"
#include "support/memory_hooks.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::CertFiles;
using cktest::Key;

constexpr int64_t kThisUpdate = 1767225600;  // 2026-01-01 00:00:00
constexpr int64_t kDay = 86400;
const unsigned char kCn[] = {0x55, 0x04, 0x03};

struct Revocation {
  Bytes serial;
  int64_t date;
  int32_t reason;
};

struct CrlPlan {
  uint32_t version = C_CRL_VERSION_2;
  uint32_t signatureAlgorithm = C_SIG_SHA256_WITH_RSA;
  bool authorityKeyId = true;
  Bytes crlNumber = {0x01};
  int64_t thisUpdate = kThisUpdate;
  int64_t nextUpdate = kThisUpdate + 30 * kDay;  // 0: none
  std::vector<Revocation> revoked;
  const char* signer = "ca";  // the fixture key that signs
};

// A CRL object destroyed at scope end.
struct Crl {
  C_CRL_OBJ crl = nullptr;
  Crl() { C_CreateCRLObject(&crl, nullptr); }
  ~Crl() { C_DestroyCRLObject(&crl); }
  Crl(const Crl&) = delete;
  Crl& operator=(const Crl&) = delete;
  int Set(const Bytes& der) { return C_SetCRLBER(crl, der.data(), static_cast<uint32_t>(der.size())); }
  Bytes Der() const {
    const unsigned char* p = nullptr;
    uint32_t n = 0;
    if (C_GetCRLDER(crl, &p, &n) != 0) return Bytes();
    return Bytes(p, p + n);
  }
};

// The issuer of the fixture's root: /C=US/O=Test CA Org/CN=Test Root, taken
// from the certificate itself so that the names match octet for octet.
int CopyRootIssuer(C_NAME_OBJ into) {
  cktest::Cert root;
  int status = root.Set(CertFiles::Get().Cert("ca"));
  C_CERT_FIELDS cf{};
  if (status == 0) status = C_GetCertFields(root.cert, &cf);
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  if (status == 0) status = C_GetNameDER(cf.subject, &der, &len);
  if (status == 0) status = C_SetNameBER(into, der, len);
  return status;
}

// Builds and signs |plan| with the root's key; the DER, or empty on failure
// (with |*status| set).
Bytes Build(const CrlPlan& plan, int* status) {
  Crl c;
  Key key(QK_RSAPrivateBER, CertFiles::Get().PrivateKey(plan.signer));
  C_CRL_FIELDS f{};
  *status = C_GetCRLFields(c.crl, &f);
  if (*status == 0) *status = CopyRootIssuer(f.issuer);
  if (*status == 0 && plan.authorityKeyId) {
    const Bytes spki = CertFiles::Get().PublicKey("ca");
    unsigned char keyId[C_KEY_ID_LEN];
    cktest::Owned aki;
    *status = C_ComputeKeyIdentifier(spki.data(), static_cast<uint32_t>(spki.size()), keyId);
    if (*status == 0) *status = C_BuildAuthorityKeyIdentifier(keyId, sizeof keyId, &aki.data, &aki.len);
    if (*status == 0) *status = C_AddExtension(f.extensions, C_OID_AUTHORITY_KEY_ID, C_OID_EXT_LEN, 0, aki.data, aki.len);
  }
  if (*status == 0 && !plan.crlNumber.empty()) {
    cktest::Owned number;
    *status = C_BuildCRLNumber(plan.crlNumber.data(), static_cast<uint32_t>(plan.crlNumber.size()), &number.data,
                               &number.len);
    if (*status == 0) *status = C_AddExtension(f.extensions, C_OID_CRL_NUMBER, C_OID_EXT_LEN, 0, number.data, number.len);
  }
  for (const Revocation& r : plan.revoked) {
    if (*status == 0) {
      *status = C_AddCRLEntry(c.crl, r.serial.data(), static_cast<uint32_t>(r.serial.size()), r.date, r.reason);
    }
  }
  if (*status == 0) {
    f.version = plan.version;
    f.signatureAlgorithm = plan.signatureAlgorithm;
    f.thisUpdate = plan.thisUpdate;
    f.hasNextUpdate = plan.nextUpdate != 0;
    f.nextUpdate = plan.nextUpdate;
    *status = C_SetCRLFields(c.crl, &f);
  }
  if (*status == 0) *status = C_SignCRL(c.crl, key.key, nullptr, nullptr);
  return *status == 0 ? c.Der() : Bytes();
}

// Runs |command| with its diagnostics (openssl writes them to stderr) in
// |*output|; returns the exit status.
int RunWithDiagnostics(const std::string& command, std::string* output) {
  return cktest::Run("sh -c '" + command + " 2>&1'", output);
}

std::string WritePem(const Bytes& der, const std::string& name) {
  const std::string path = CertFiles::Get().Scratch(name);
  cktest::WriteFile(path + ".der", der.data(), static_cast<uint32_t>(der.size()));
  cktest::Run("openssl crl -inform DER -in " + path + ".der -out " + path + ".pem");
  return path + ".pem";
}

// Leaf certificates with chosen serials issued by the root (sha256), made
// once per test program.
std::string Leaf(const std::string& serialHex) {
  const CertFiles& files = CertFiles::Get();
  const std::string out = files.Scratch("leaf" + serialHex + ".pem");
  if (cktest::ReadFile(out).empty()) {
    cktest::Run("openssl x509 -req -in " + files.Path("leaf.csr") + " -CA " + files.Path("ca.crt") + " -CAkey " +
        files.Path("ca.pem") + " -sha256 -days 30 -set_serial 0x" + serialHex + " -out " + out);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Built, signed, read back, and read by openssl.

struct BuildCase {
  const char* label;
  uint32_t signatureAlgorithm;
  int64_t nextUpdate;
  std::vector<Revocation> revoked;
  const char* opensslAlgorithm;
  const char* nextUpdateText;
};

class CrlBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(CrlBuild, SignsReadsBackAndOpensslAccepts) {
  REQUIRE_CERT_FILES();
  const BuildCase& bc = GetParam();
  CrlPlan plan;
  plan.signatureAlgorithm = bc.signatureAlgorithm;
  plan.nextUpdate = bc.nextUpdate;
  plan.revoked = bc.revoked;
  plan.crlNumber = {0x01, 0x00};
  int status = 0;
  const Bytes der = Build(plan, &status);
  ASSERT_EQ(status, 0);

  Crl back;
  ASSERT_EQ(back.Set(der), 0);
  EXPECT_EQ(back.Der(), der);
  C_CRL_FIELDS f{};
  ASSERT_EQ(C_GetCRLFields(back.crl, &f), 0);
  EXPECT_EQ(f.version, static_cast<uint32_t>(C_CRL_VERSION_2));
  EXPECT_EQ(f.signatureAlgorithm, bc.signatureAlgorithm);
  EXPECT_EQ(f.thisUpdate, kThisUpdate);
  EXPECT_EQ(f.hasNextUpdate, bc.nextUpdate != 0 ? 1u : 0u);
  if (bc.nextUpdate != 0) {
    EXPECT_EQ(f.nextUpdate, bc.nextUpdate);
  }
  ASSERT_EQ(f.entryCount, bc.revoked.size());
  for (uint32_t i = 0; i < f.entryCount; ++i) {
    const unsigned char* serial = nullptr;
    uint32_t serialLen = 0;
    int64_t date = 0;
    int32_t reason = 0;
    ASSERT_EQ(C_GetCRLEntry(back.crl, i, &serial, &serialLen, &date, &reason), 0);
    Bytes expected = bc.revoked[i].serial;
    while (expected.size() > 1 && expected[0] == 0) expected.erase(expected.begin());
    EXPECT_EQ(Bytes(serial, serial + serialLen), expected);
    EXPECT_EQ(date, bc.revoked[i].date);
    EXPECT_EQ(reason, bc.revoked[i].reason);
  }
  EXPECT_EQ(C_GetCRLEntry(back.crl, f.entryCount, nullptr, nullptr, nullptr, nullptr), C_ERR_INDEX);
  const unsigned char* value = nullptr;
  uint32_t valueLen = 0;
  C_ITEM number{};
  ASSERT_EQ(C_FindExtension(f.extensions, C_OID_CRL_NUMBER, C_OID_EXT_LEN, nullptr, &value, &valueLen), 0);
  ASSERT_EQ(C_ReadCRLNumber(value, valueLen, &number), 0);
  EXPECT_EQ(Bytes(number.data, number.data + number.len), (Bytes{0x01, 0x00}));

  Key rootKey(QK_RSAPublicBER, CertFiles::Get().PublicKey("ca"));
  Key otherKey(QK_RSAPublicBER, CertFiles::Get().PublicKey("srv"));
  EXPECT_EQ(C_VerifyCRLSignature(back.crl, rootKey.key, nullptr), 0);
  EXPECT_EQ(C_VerifyCRLSignature(back.crl, otherKey.key, nullptr), C_ERR_CRL_SIGNATURE);

  const std::string pem = WritePem(der, std::string("build-") + bc.label);
  std::string text;
  ASSERT_EQ(cktest::Run("openssl crl -in " + pem + " -noout -text", &text), 0);
  EXPECT_NE(text.find(bc.opensslAlgorithm), std::string::npos) << text;
  EXPECT_NE(text.find("Last Update: Jan  1 00:00:00 2026 GMT"), std::string::npos) << text;
  EXPECT_NE(text.find(bc.nextUpdateText), std::string::npos) << text;
  EXPECT_NE(text.find("X509v3 CRL Number"), std::string::npos) << text;
  EXPECT_NE(text.find("256"), std::string::npos) << text;  // CRL number 0x0100
  EXPECT_NE(text.find("X509v3 Authority Key Identifier"), std::string::npos) << text;
  for (const Revocation& r : bc.revoked) {
    std::string hex = cktest::ToHex(r.serial.data(), static_cast<uint32_t>(r.serial.size()));
    for (char& ch : hex) ch = static_cast<char>(toupper(ch));
    while (hex.size() > 2 && hex.compare(0, 2, "00") == 0) hex.erase(0, 2);
    EXPECT_NE(text.find("Serial Number: " + hex), std::string::npos) << hex << "\n" << text;
  }
  if (!bc.revoked.empty() && bc.revoked[0].reason == C_REASON_KEY_COMPROMISE) {
    EXPECT_NE(text.find("Key Compromise"), std::string::npos) << text;
  }
  std::string verify;
  RunWithDiagnostics("openssl crl -in " + pem + " -noout -verify -CAfile " + CertFiles::Get().Path("ca.crt"), &verify);
  EXPECT_NE(verify.find("verify OK"), std::string::npos) << verify;
}

const Revocation kKeyCompromise{{0x10}, kThisUpdate - 5 * kDay, C_REASON_KEY_COMPROMISE};
const Revocation kNoReason{{0x00, 0x80, 0x01}, kThisUpdate - kDay, C_REASON_NONE};
const Revocation kSuperseded{{0x7F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                              0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13},
                             kThisUpdate - 2 * kDay, C_REASON_SUPERSEDED};

INSTANTIATE_TEST_SUITE_P(
    Algorithms, CrlBuild,
    ::testing::Values(
        BuildCase{"sha1", C_SIG_SHA1_WITH_RSA, kThisUpdate + 30 * kDay, {kKeyCompromise, kNoReason},
                  "sha1WithRSAEncryption", "Next Update: Jan 31 00:00:00 2026 GMT"},
        BuildCase{"sha256", C_SIG_SHA256_WITH_RSA, kThisUpdate + 30 * kDay,
                  {kKeyCompromise, kNoReason, kSuperseded}, "sha256WithRSAEncryption",
                  "Next Update: Jan 31 00:00:00 2026 GMT"},
        // nextUpdate in 2051: written as GeneralizedTime.
        BuildCase{"sha384", C_SIG_SHA384_WITH_RSA, 2556144000, {kSuperseded}, "sha384WithRSAEncryption",
                  "Next Update: Jan  1 00:00:00 2051 GMT"},
        BuildCase{"sha512", C_SIG_SHA512_WITH_RSA, 0, {}, "sha512WithRSAEncryption", "Next Update: NONE"}),
    [](const ::testing::TestParamInfo<BuildCase>& param) { return std::string(param.param.label); });

// `openssl verify -crl_check` finds a revoked leaf revoked and a leaf that is
// not on the list good; a list signed by another key than the root's fails
// both `openssl crl -verify` and the check of a leaf.
TEST(CrlOpenssl, VerifyCrlCheck) {
  REQUIRE_CERT_FILES();
  CrlPlan plan;
  plan.thisUpdate = 1700000000;  // in the past, so that the list is current now
  plan.nextUpdate = 2500000000;
  plan.revoked = {Revocation{{0x51}, 1699000000, C_REASON_KEY_COMPROMISE}};
  int status = 0;
  const std::string good = WritePem(Build(plan, &status), "check");
  ASSERT_EQ(status, 0);
  plan.signer = "srv";
  const std::string forged = WritePem(Build(plan, &status), "forged");
  ASSERT_EQ(status, 0);
  const std::string ca = CertFiles::Get().Path("ca.crt");
  std::string out;
  // `openssl crl -verify` exits 0 either way; its message tells.
  RunWithDiagnostics("openssl crl -in " + forged + " -noout -verify -CAfile " + ca, &out);
  EXPECT_NE(out.find("verify failure"), std::string::npos) << out;
  EXPECT_EQ(out.find("verify OK"), std::string::npos) << out;
  struct Row {
    const std::string& crl;
    const char* serial;
    bool ok;
    const char* text;
  } rows[] = {{good, "51", false, "certificate revoked"},
              {good, "52", true, ": OK"},
              {forged, "52", false, "CRL signature failure"}};
  for (const Row& row : rows) {
    int rc = RunWithDiagnostics(
        "openssl verify -crl_check -CRLfile " + row.crl + " -CAfile " + ca + " " + Leaf(row.serial), &out);
    EXPECT_EQ(rc == 0, row.ok) << out;
    EXPECT_NE(out.find(row.text), std::string::npos) << out;
  }
}

// ---------------------------------------------------------------------------
// Lists made by openssl ca.

TEST(CrlOpenssl, ReadsGencrlLists) {
  REQUIRE_CERT_FILES();
  const CertFiles& files = CertFiles::Get();
  const std::string dir = files.Scratch("ca-db");
  ASSERT_EQ(cktest::Run("mkdir -p " + dir + " && : > " + dir + "/index.txt && echo 1F00 > " + dir + "/crlnumber"), 0);
  std::ofstream(dir + "/ca.cnf") << "[ca]\ndefault_ca = d\n[d]\ndatabase = " << dir << "/index.txt\n"
                                 << "crlnumber = " << dir << "/crlnumber\ndefault_md = sha256\n"
                                 << "default_crl_days = 30\ncertificate = " << files.Path("ca.crt")
                                 << "\nprivate_key = " << files.Path("ca.pem")
                                 << "\ncrl_extensions = crl_ext\n[crl_ext]\nauthorityKeyIdentifier = keyid:always\n";
  const std::string cnf = " -config " + dir + "/ca.cnf";
  ASSERT_EQ(cktest::Run("openssl ca" + cnf + " -revoke " + Leaf("61") + " -crl_reason keyCompromise"), 0);
  ASSERT_EQ(cktest::Run("openssl ca" + cnf + " -revoke " + Leaf("62") + " -crl_reason superseded"), 0);
  ASSERT_EQ(cktest::Run("openssl ca" + cnf + " -revoke " + Leaf("63")), 0);
  ASSERT_EQ(cktest::Run("openssl ca" + cnf + " -gencrl -out " + dir + "/crl.pem"), 0);
  ASSERT_EQ(cktest::Run("openssl crl -in " + dir + "/crl.pem -outform DER -out " + dir + "/crl.der"), 0);

  Crl c;
  ASSERT_EQ(c.Set(cktest::ReadFile(dir + "/crl.der")), 0);
  C_CRL_FIELDS f{};
  ASSERT_EQ(C_GetCRLFields(c.crl, &f), 0);
  EXPECT_EQ(f.version, static_cast<uint32_t>(C_CRL_VERSION_2));
  EXPECT_EQ(f.signatureAlgorithm, static_cast<uint32_t>(C_SIG_SHA256_WITH_RSA));
  EXPECT_EQ(f.hasNextUpdate, 1u);
  EXPECT_EQ(f.nextUpdate - f.thisUpdate, 30 * kDay);
  uint32_t avas = 0;
  ASSERT_EQ(C_GetNameAVACount(f.issuer, &avas), 0);
  EXPECT_EQ(avas, 3u);
  const unsigned char* value = nullptr;
  uint32_t valueLen = 0;
  C_ITEM number{};
  ASSERT_EQ(C_FindExtension(f.extensions, C_OID_CRL_NUMBER, C_OID_EXT_LEN, nullptr, &value, &valueLen), 0);
  ASSERT_EQ(C_ReadCRLNumber(value, valueLen, &number), 0);
  EXPECT_EQ(Bytes(number.data, number.data + number.len), (Bytes{0x1F, 0x00}));
  EXPECT_EQ(C_FindExtension(f.extensions, C_OID_AUTHORITY_KEY_ID, C_OID_EXT_LEN, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(f.entryCount, 3u);
  const struct {
    uint8_t serial;
    int32_t reason;
  } expected[] = {{0x61, C_REASON_KEY_COMPROMISE}, {0x62, C_REASON_SUPERSEDED}, {0x63, C_REASON_NONE}};
  for (uint32_t i = 0; i < 3; ++i) {
    const unsigned char* serial = nullptr;
    uint32_t serialLen = 0;
    int64_t date = 0;
    int32_t reason = 0;
    ASSERT_EQ(C_GetCRLEntry(c.crl, i, &serial, &serialLen, &date, &reason), 0);
    EXPECT_EQ(Bytes(serial, serial + serialLen), Bytes{expected[i].serial});
    EXPECT_EQ(reason, expected[i].reason);
    EXPECT_LE(date, f.thisUpdate);
    EXPECT_GT(date, f.thisUpdate - kDay);
  }
  Key rootKey(QK_RSAPublicBER, files.PublicKey("ca"));
  EXPECT_EQ(C_VerifyCRLSignature(c.crl, rootKey.key, nullptr), 0);
}

// ---------------------------------------------------------------------------
// Malformed lists: refused with a code, the object unchanged.

// Finds |pattern| in |der| from |from| on; npos when absent.
size_t Find(const Bytes& der, const Bytes& pattern, size_t from = 0) {
  for (size_t i = from; i + pattern.size() <= der.size(); ++i) {
    if (std::equal(pattern.begin(), pattern.end(), der.begin() + static_cast<long>(i))) return i;
  }
  return std::string::npos;
}

TEST(CrlMalformed, RefusedAndObjectUnchanged) {
  REQUIRE_CERT_FILES();
  CrlPlan plan;
  plan.revoked = {kKeyCompromise, kNoReason};
  int status = 0;
  const Bytes good = Build(plan, &status);
  ASSERT_EQ(status, 0);
  plan.revoked = {kSuperseded};
  plan.crlNumber = {0x02};
  const Bytes other = Build(plan, &status);
  ASSERT_EQ(status, 0);

  // sha256WithRSAEncryption's OID ends in 0B; the second is the outer one.
  const Bytes sha256Oid = cktest::Hex("2a864886f70d01010b");
  const size_t inner = Find(good, sha256Oid);
  const size_t outer = Find(good, sha256Oid, inner + 1);
  ASSERT_NE(outer, std::string::npos);
  Bytes wrongOuter = good;
  wrongOuter[outer + sha256Oid.size() - 1] = 0x05;  // sha1WithRSAEncryption
  Bytes wrongInner = good;
  wrongInner[inner + sha256Oid.size() - 1] = 0x0D;
  Bytes trailing = good;
  trailing.push_back(0x00);
  const size_t version = Find(good, cktest::Hex("020101"));
  Bytes badVersion = good;
  badVersion[version + 2] = 0x02;
  Bytes negativeVersion = good;
  negativeVersion[version + 2] = 0xFF;
  // The first entry's revocation date: a month 13.
  Bytes badDate = good;
  const size_t date = Find(good, cktest::Hex("02011017"));
  badDate[date + 3 + 2 + 2] = '1';
  badDate[date + 3 + 2 + 3] = '3';
  // The reasonCode value: ENUMERATED 7 (unused).
  Bytes badReason = good;
  const size_t reason = Find(good, cktest::Hex("0a0101"));
  badReason[reason + 2] = 0x07;

  struct Case {
    const char* label;
    const Bytes& der;
    int expected;
  } cases[] = {
      {"wrong outer algorithm", wrongOuter, C_ERR_BAD_ENCODING},
      {"wrong inner algorithm", wrongInner, C_ERR_BAD_ENCODING},
      {"trailing byte", trailing, C_ERR_BAD_ENCODING},
      {"version 3", badVersion, C_ERR_VERSION},
      {"negative version", negativeVersion, C_ERR_INPUT_DATA},
      {"revocation date month 13", badDate, C_ERR_CRL_ENTRY},
      {"reason 7", badReason, C_ERR_CRL_ENTRY},
  };
  Crl c;
  ASSERT_EQ(c.Set(other), 0);
  auto unchanged = [&](const std::string& label) {
    EXPECT_EQ(c.Der(), other) << label;
    C_CRL_FIELDS f{};
    ASSERT_EQ(C_GetCRLFields(c.crl, &f), 0);
    EXPECT_EQ(f.entryCount, 1u) << label;
    int32_t r = 0;
    EXPECT_EQ(C_GetCRLEntry(c.crl, 0, nullptr, nullptr, nullptr, &r), 0);
    EXPECT_EQ(r, C_REASON_SUPERSEDED) << label;
    uint32_t count = 0;
    EXPECT_EQ(C_GetExtensionCount(f.extensions, &count), 0);
    EXPECT_EQ(count, 2u) << label;
  };
  for (const Case& k : cases) {
    EXPECT_EQ(c.Set(k.der), k.expected) << k.label;
    unchanged(k.label);
  }
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes prefix(good.begin(), good.begin() + static_cast<long>(n));
    const int code = C_SetCRLBER(c.crl, prefix.data(), static_cast<uint32_t>(n));
    ASSERT_NE(code, 0) << "prefix " << n;
    if (n % 97 == 0) unchanged("prefix " + std::to_string(n));
  }
  unchanged("after the prefixes");
  EXPECT_EQ(C_SetCRLBER(nullptr, good.data(), 1), C_ERR_NOT_CRL_OBJ);
  cktest::Cert cert;
  EXPECT_EQ(C_SetCRLBER(reinterpret_cast<C_CRL_OBJ>(cert.cert), good.data(), 1), C_ERR_NOT_CRL_OBJ);
}

// Fields and entries the object refuses, leaving it as it was.
TEST(CrlFields, RefusedSetsLeaveTheObjectUnchanged) {
  REQUIRE_CERT_FILES();
  Crl c;
  C_CRL_FIELDS f{};
  ASSERT_EQ(C_GetCRLFields(c.crl, &f), 0);
  ASSERT_EQ(C_AddNameAVA(f.issuer, kCn, 3, C_TAG_PRINTABLE_STRING, reinterpret_cast<const unsigned char*>("Root"), 4, 1,
                         nullptr), 0);
  f.thisUpdate = kThisUpdate;
  f.nextUpdate = kThisUpdate + kDay;
  f.hasNextUpdate = 1;
  ASSERT_EQ(C_SetCRLFields(c.crl, &f), 0);
  ASSERT_EQ(C_AddCRLEntry(c.crl, kKeyCompromise.serial.data(), 1, kThisUpdate, C_REASON_KEY_COMPROMISE), 0);
  Key key(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("ca"));
  ASSERT_EQ(C_SignCRL(c.crl, key.key, nullptr, nullptr), 0);
  const Bytes before = c.Der();

  struct FieldCase {
    const char* label;
    void (*change)(C_CRL_FIELDS*);
    int expected;
  } fieldCases[] = {
      {"version 3", [](C_CRL_FIELDS* r) { r->version = 2; }, C_ERR_VERSION},
      {"version 1 with entry extensions", [](C_CRL_FIELDS* r) { r->version = C_CRL_VERSION_1; }, C_ERR_VERSION},
      {"nextUpdate first", [](C_CRL_FIELDS* r) { r->nextUpdate = r->thisUpdate - 1; }, C_ERR_CRL_UPDATE},
      {"md5", [](C_CRL_FIELDS* r) { r->signatureAlgorithm = C_SIG_MD5_WITH_RSA; }, C_ERR_SIG_ALGORITHM},
      {"unknown algorithm", [](C_CRL_FIELDS* r) { r->signatureAlgorithm = 9; }, C_ERR_SIG_ALGORITHM},
      {"after year 9999", [](C_CRL_FIELDS* r) { r->nextUpdate = 253402300800; }, C_ERR_BAD_ARGUMENT},
      {"no issuer", [](C_CRL_FIELDS* r) { r->issuer = nullptr; }, C_ERR_ISSUER},
      {"certificate extensions", [](C_CRL_FIELDS* r) { r->extensions = reinterpret_cast<C_EXTENSIONS_OBJ>(r); },
       C_ERR_EXTENSIONS},
  };
  for (const FieldCase& k : fieldCases) {
    C_CRL_FIELDS g{};
    ASSERT_EQ(C_GetCRLFields(c.crl, &g), 0);
    k.change(&g);
    EXPECT_EQ(C_SetCRLFields(c.crl, &g), k.expected) << k.label;
    EXPECT_EQ(c.Der(), before) << k.label;
  }
  const unsigned char longSerial[C_CRL_SERIAL_MAX + 1] = {1};
  const unsigned char zeros[] = {0, 0, 0, 5};
  struct EntryCase {
    const char* label;
    const unsigned char* serial;
    uint32_t serialLen;
    int64_t date;
    int32_t reason;
    int expected;
  } entryCases[] = {
      {"empty serial", zeros, 0, kThisUpdate, C_REASON_NONE, C_ERR_CRL_ENTRY},
      {"21-octet serial", longSerial, sizeof longSerial, kThisUpdate, C_REASON_NONE, C_ERR_CRL_ENTRY},
      {"reason 7", zeros, 4, kThisUpdate, 7, C_ERR_CRL_ENTRY},
      {"reason 11", zeros, 4, kThisUpdate, 11, C_ERR_CRL_ENTRY},
      {"reason -2", zeros, 4, kThisUpdate, -2, C_ERR_CRL_ENTRY},
      {"date after year 9999", zeros, 4, 253402300800, C_REASON_NONE, C_ERR_CRL_ENTRY},
  };
  for (const EntryCase& k : entryCases) {
    EXPECT_EQ(C_AddCRLEntry(c.crl, k.serial, k.serialLen, k.date, k.reason), k.expected) << k.label;
    EXPECT_EQ(c.Der(), before) << k.label;
  }
  C_CRL_FIELDS g{};
  ASSERT_EQ(C_GetCRLFields(c.crl, &g), 0);
  EXPECT_EQ(g.entryCount, 1u);
  // Leading zero octets are dropped; the list is unsigned afterwards.
  ASSERT_EQ(C_AddCRLEntry(c.crl, zeros, 4, kThisUpdate, C_REASON_NONE), 0);
  const unsigned char* serial = nullptr;
  uint32_t serialLen = 0;
  ASSERT_EQ(C_GetCRLEntry(c.crl, 1, &serial, &serialLen, nullptr, nullptr), 0);
  EXPECT_EQ(Bytes(serial, serial + serialLen), Bytes{5});
  const unsigned char* der = nullptr;
  uint32_t derLen = 0;
  EXPECT_EQ(C_GetCRLDER(c.crl, &der, &derLen), C_ERR_NOTHING_TO_SIGN);
  ASSERT_EQ(C_SignCRL(c.crl, key.key, nullptr, nullptr), 0);
  Crl back;
  ASSERT_EQ(back.Set(c.Der()), 0);
  ASSERT_EQ(C_GetCRLFields(back.crl, &g), 0);
  EXPECT_EQ(g.entryCount, 2u);
}

// A version 1 list: no version element, no extensions, entries without
// reasons; a reason is refused for it.
TEST(CrlFields, VersionOne) {
  REQUIRE_CERT_FILES();
  CrlPlan plan;
  plan.version = C_CRL_VERSION_1;
  plan.authorityKeyId = false;
  plan.crlNumber.clear();
  plan.revoked = {kNoReason};
  int status = 0;
  const Bytes der = Build(plan, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Find(der, cktest::Hex("020101")), std::string::npos);
  Crl back;
  ASSERT_EQ(back.Set(der), 0);
  C_CRL_FIELDS f{};
  ASSERT_EQ(C_GetCRLFields(back.crl, &f), 0);
  EXPECT_EQ(f.version, static_cast<uint32_t>(C_CRL_VERSION_1));
  EXPECT_EQ(f.entryCount, 1u);
  EXPECT_EQ(C_AddCRLEntry(back.crl, kNoReason.serial.data(), 1, kThisUpdate, C_REASON_KEY_COMPROMISE), C_ERR_VERSION);
  const std::string pem = WritePem(der, "v1");
  std::string text;
  ASSERT_EQ(cktest::Run("openssl crl -in " + pem + " -noout -text", &text), 0);
  EXPECT_NE(text.find("Version 1 (0x0)"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// cRLNumber and reasonCode values.

TEST(CrlValues, NumberAndReason) {
  struct NumberCase {
    Bytes number;
    const char* der;  // empty: refused
  } numbers[] = {
      {{0x00}, "020100"},
      {{0x00, 0x00, 0x7F}, "02017f"},
      {{0x80}, "02020080"},
      {Bytes(20, 0xFF), "021500ffffffffffffffffffffffffffffffffffffffff"},
      {Bytes(21, 0x01), ""},
      {{}, ""},
  };
  for (const NumberCase& k : numbers) {
    cktest::Owned v;
    const int status = C_BuildCRLNumber(k.number.empty() ? nullptr : k.number.data(),
                                        static_cast<uint32_t>(k.number.size()), &v.data, &v.len);
    if (*k.der == 0) {
      EXPECT_EQ(status, C_ERR_BAD_ARGUMENT);
      continue;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(cktest::ToHex(v.data, v.len), k.der);
    C_ITEM back{};
    ASSERT_EQ(C_ReadCRLNumber(v.data, v.len, &back), 0);
    Bytes expected = k.number;
    while (expected.size() > 1 && expected[0] == 0) expected.erase(expected.begin());
    EXPECT_EQ(Bytes(back.data, back.data + back.len), expected);
  }
  const char* badNumbers[] = {"0201ff", "02020001", "020100ff", "0400", "0200",
                              "02160100000000000000000000000000000000000000000"};
  for (const char* hex : badNumbers) {
    const Bytes v = cktest::Hex(hex);
    C_ITEM back{};
    EXPECT_EQ(C_ReadCRLNumber(v.data(), static_cast<uint32_t>(v.size()), &back), C_ERR_BAD_ENCODING) << hex;
  }
  for (uint32_t reason = 0; reason <= 12; ++reason) {
    cktest::Owned v;
    const int status = C_BuildReasonCode(reason, &v.data, &v.len);
    if (reason == 7 || reason > 10) {
      EXPECT_EQ(status, C_ERR_BAD_ARGUMENT) << reason;
      const uint8_t raw[] = {0x0A, 0x01, static_cast<uint8_t>(reason)};
      uint32_t back = 0;
      EXPECT_EQ(C_ReadReasonCode(raw, 3, &back), C_ERR_BAD_ENCODING) << reason;
      continue;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(cktest::ToHex(v.data, v.len), "0a010" + std::string(1, "0123456789a"[reason]));
    uint32_t back = 99;
    ASSERT_EQ(C_ReadReasonCode(v.data, v.len, &back), 0);
    EXPECT_EQ(back, reason);
  }
  const Bytes integer = cktest::Hex("020101");
  uint32_t back = 0;
  EXPECT_EQ(C_ReadReasonCode(integer.data(), 3, &back), C_ERR_BAD_ENCODING);
  EXPECT_EQ(C_ReadReasonCode(integer.data(), 3, nullptr), C_ERR_NULL_OUTPUT);
}

// ---------------------------------------------------------------------------
// Allocation failure at every allocation: building and signing, then
// reading back and verifying.

TEST(CrlAllocationFailure, BuildSignReadVerify) {
  REQUIRE_CERT_FILES();
  const Bytes privateKey = CertFiles::Get().PrivateKey("ca");
  const Bytes publicKey = CertFiles::Get().PublicKey("ca");
  auto operation = [&] {
    C_CRL_OBJ crl = nullptr;
    C_CRL_OBJ back = nullptr;
    Q_KEY_OBJ key = nullptr;
    Q_KEY_OBJ pub = nullptr;
    int status = C_CreateCRLObject(&crl, nullptr);
    if (status == 0) status = C_CreateCRLObject(&back, nullptr);
    if (status == 0 && (Q_CreateKeyObject(&key) != 0 || Q_CreateKeyObject(&pub) != 0)) status = C_ERR_ALLOC;
    Q_ITEM item{const_cast<unsigned char*>(privateKey.data()), static_cast<uint32_t>(privateKey.size())};
    if (status == 0 && Q_SetKeyInfo(key, QK_RSAPrivateBER, &item) != 0) status = C_ERR_ALLOC;
    Q_ITEM pubItem{const_cast<unsigned char*>(publicKey.data()), static_cast<uint32_t>(publicKey.size())};
    if (status == 0 && Q_SetKeyInfo(pub, QK_RSAPublicBER, &pubItem) != 0) status = C_ERR_ALLOC;
    C_CRL_FIELDS f{};
    if (status == 0) status = C_GetCRLFields(crl, &f);
    if (status == 0) {
      status = C_AddNameAVA(f.issuer, kCn, 3, C_TAG_PRINTABLE_STRING, reinterpret_cast<const unsigned char*>("Root"),
                            4, 1, nullptr);
    }
    unsigned char* number = nullptr;
    uint32_t numberLen = 0;
    const unsigned char one = 1;
    if (status == 0) status = C_BuildCRLNumber(&one, 1, &number, &numberLen);
    if (status == 0) status = C_AddExtension(f.extensions, C_OID_CRL_NUMBER, C_OID_EXT_LEN, 0, number, numberLen);
    QMem_SecureRelease(number);
    if (status == 0) status = C_AddCRLEntry(crl, &one, 1, kThisUpdate, C_REASON_KEY_COMPROMISE);
    if (status == 0) {
      f.thisUpdate = kThisUpdate;
      f.nextUpdate = kThisUpdate + kDay;
      f.hasNextUpdate = 1;
      status = C_SetCRLFields(crl, &f);
    }
    if (status == 0) status = C_AddCRLEntry(crl, &one, 1, kThisUpdate, C_REASON_NONE);
    if (status == 0) status = C_SignCRL(crl, key, nullptr, nullptr);
    const unsigned char* der = nullptr;
    uint32_t derLen = 0;
    if (status == 0) status = C_GetCRLDER(crl, &der, &derLen);
    if (status == 0) status = C_SetCRLBER(back, der, derLen);
    if (status == 0) status = C_VerifyCRLSignature(back, pub, nullptr);
    Q_DestroyKeyObject(&key);
    Q_DestroyKeyObject(&pub);
    C_DestroyCRLObject(&crl);
    C_DestroyCRLObject(&back);
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
