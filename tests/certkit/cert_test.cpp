// Certificate objects: real certificates made by the openssl command line,
// crafted encodings for the decoding rules, and signing and verification.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "cert_fixture.h"
#include "certkit/cert/cert.h"
#include "certkit/certkit.h"
#include "certkit/sign/signed_object.h"
#include "cryptokit/cryptokit.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::Cert;
using cktest::CertFiles;
using cktest::Key;

// ---------------------------------------------------------------------------
// A small DER builder for crafted certificates.

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out;
  out.reserve(content.size() + 4);
  out.push_back(tag);
  size_t n = content.size();
  if (n >= 0x100) {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(n >> 8));
  } else if (n >= 0x80) {
    out.push_back(0x81);
  }
  out.push_back(static_cast<uint8_t>(n));
  for (uint8_t b : content) out.push_back(b);
  return out;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
  for (uint8_t x : b) a.push_back(x);
  return a;
}

const Bytes kSha1Oid = cktest::Hex("2A864886F70D010105");
const Bytes kSha1Alg = Tlv(0x30, Tlv(0x06, kSha1Oid) + Bytes{0x05, 0x00});
const Bytes kSha256Oid = cktest::Hex("2A864886F70D01010B");
const Bytes kSha256Alg = Tlv(0x30, Tlv(0x06, kSha256Oid) + Bytes{0x05, 0x00});
const Bytes kSha224Alg = Tlv(0x30, Tlv(0x06, cktest::Hex("2A864886F70D01010E")) + Bytes{0x05, 0x00});
const Bytes kCnOid = {0x55, 0x04, 0x03};

Bytes CnName(const std::string& cn) {
  return Tlv(0x30, Tlv(0x31, Tlv(0x30, Tlv(0x06, kCnOid) + Tlv(0x13, Text(cn)))));
}
Bytes Validity(const std::string& from, const std::string& to, uint8_t fromTag = 0x17, uint8_t toTag = 0x17) {
  return Tlv(0x30, Tlv(fromTag, Text(from)) + Tlv(toTag, Text(to)));
}
Bytes Ext(const Bytes& oid, bool critical, const Bytes& value) {
  return Tlv(0x30, Tlv(0x06, oid) + (critical ? Bytes{0x01, 0x01, 0xFF} : Bytes{}) + Tlv(0x04, value));
}
Bytes Exts(const Bytes& list) { return Tlv(0xA3, Tlv(0x30, list)); }

struct Parts {
  Bytes version = Tlv(0xA0, Bytes{0x02, 0x01, 0x02});
  Bytes serial = Bytes{0x02, 0x01, 0x2A};
  Bytes inner = kSha1Alg;
  Bytes issuer = CnName("Issuer");
  Bytes validity = Validity("200101000000Z", "300101000000Z");
  Bytes subject = CnName("Subject");
  Bytes spki;
  Bytes tail;
  Bytes outer = kSha1Alg;
  Bytes signature = Tlv(0x03, Bytes{0x00, 0x5A, 0xA5});

  Bytes Build() const {
    return Tlv(0x30, Tlv(0x30, version + serial + inner + issuer + validity + subject + spki + tail) + outer +
                         signature);
  }
};

Parts DefaultParts() {
  Parts p;
  p.spki = CertFiles::Get().PublicKey("leaf");
  return p;
}

// Seconds since 1970 of an openssl "-dateopt iso_8601" line such as
// "notBefore=2024-01-02 03:04:05Z".
int64_t IsoSeconds(const std::string& line) {
  std::tm tm{};
  std::string text = line.substr(line.find('=') + 1);
  strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  return static_cast<int64_t>(timegm(&tm));
}

std::string NameValue(C_NAME_OBJ name, const Bytes& oid) {
  uint32_t count = 0;
  C_GetNameAVACount(name, &count);
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* type = nullptr;
    const unsigned char* value = nullptr;
    uint32_t typeLen = 0, tag = 0, len = 0, newRdn = 0;
    C_GetNameAVA(name, i, &type, &typeLen, &tag, &value, &len, &newRdn);
    if (Bytes(type, type + typeLen) == oid) return std::string(value, value + len);
  }
  return "";
}

// ---------------------------------------------------------------------------
// Real certificates.

struct RealCase {
  const char* name;
  const char* issuerKey;
  const char* otherKey;
  uint32_t version;
  uint32_t algorithm;
  uint32_t extensions;
  const char* subjectCN;
  const char* issuerCN;
};

class RealCertificateTest : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealCertificateTest, DecodesAsOpensslShowsWritesBackAndVerifiesWithItsIssuerOnly) {
  REQUIRE_CERT_FILES();
  const RealCase& c = GetParam();
  const CertFiles& files = CertFiles::Get();
  Bytes der = files.Cert(c.name);
  Cert cert;
  ASSERT_EQ(cert.Set(der), 0);

  C_CERT_FIELDS f{};
  ASSERT_EQ(C_GetCertFields(cert.cert, &f), 0);
  EXPECT_EQ(f.version, c.version);
  EXPECT_EQ(f.signatureAlgorithm, c.algorithm);
  std::string serial = files.Query(c.name, "-serial");
  std::string ours = cktest::ToHex(f.serialNumber.data, f.serialNumber.len);
  for (char& ch : ours) ch = static_cast<char>(toupper(ch));
  // openssl prints at least two hex digits per octet, without leading 00.
  EXPECT_EQ("serial=" + ours, serial);
  EXPECT_EQ(f.notBefore, IsoSeconds(files.Query(c.name, "-startdate -dateopt iso_8601")));
  EXPECT_EQ(f.notAfter, IsoSeconds(files.Query(c.name, "-enddate -dateopt iso_8601")));
  EXPECT_EQ(NameValue(f.subject, kCnOid), c.subjectCN);
  EXPECT_EQ(NameValue(f.issuer, kCnOid), c.issuerCN);
  const bool leafKey = c.name == std::string("sha256") || c.name == std::string("far");
  Bytes spki = files.PublicKey(leafKey ? "leaf" : c.name);
  EXPECT_EQ(Bytes(f.publicKey.data, f.publicKey.data + f.publicKey.len), spki);
  uint32_t count = 99;
  ASSERT_EQ(C_GetExtensionCount(f.extensions, &count), 0);
  EXPECT_EQ(count, c.extensions);

  EXPECT_EQ(cert.Der(), der);

  Key issuer(QK_RSAPublicBER, files.PublicKey(c.issuerKey));
  Key other(QK_RSAPublicBER, files.PublicKey(c.otherKey));
  ASSERT_NE(issuer.key, nullptr);
  EXPECT_EQ(C_VerifyCertSignature(cert.cert, issuer.key, nullptr), 0);
  EXPECT_EQ(C_VerifyCertSignature(cert.cert, other.key, nullptr), C_ERR_CERT_SIGNATURE);
  // Verification leaves the encoding as it was.
  EXPECT_EQ(cert.Der(), der);

  // Written back from its own record and signed again with the issuer's key
  // (PKCS #1 v1.5 signatures are deterministic), the certificate comes out
  // octet for octet: dates included, in the form they came in.
  Cert again;
  C_CERT_FIELDS g = f;
  ASSERT_EQ(C_SetCertFields(again.cert, &g), 0);
  Key signer(QK_RSAPrivateBER, files.PrivateKey(c.issuerKey));
  ASSERT_EQ(C_SignCert(again.cert, signer.key, nullptr, nullptr), 0);
  EXPECT_EQ(again.Der(), der);
}

INSTANTIATE_TEST_SUITE_P(
    Openssl, RealCertificateTest,
    ::testing::Values(RealCase{"ca", "ca", "leaf", 2, C_SIG_SHA1_WITH_RSA, 4, "Test Root", "Test Root"},
                      RealCase{"leaf", "ca", "leaf", 2, C_SIG_SHA1_WITH_RSA, 8, "leaf.example", "Test Root"},
                      RealCase{"v1", "v1", "ca", 0, C_SIG_MD5_WITH_RSA, 0, "v1.example", "v1.example"},
                      RealCase{"far", "ca", "leaf", 0, C_SIG_SHA1_WITH_RSA, 0, "leaf.example", "Test Root"},
                      RealCase{"sha256", "ca", "leaf", 0, C_SIG_SHA256_WITH_RSA, 0, "leaf.example", "Test Root"}),
    [](const ::testing::TestParamInfo<RealCase>& param) { return std::string(param.param.name); });

TEST(RealCertificate, KeepsItsExtensionsAndHandsOutUnknownValues) {
  REQUIRE_CERT_FILES();
  Cert cert;
  ASSERT_EQ(cert.Set(CertFiles::Get().Cert("leaf")), 0);
  C_CERT_FIELDS f{};
  ASSERT_EQ(C_GetCertFields(cert.cert, &f), 0);
  uint32_t critical = 9;
  const unsigned char* value = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(C_FindExtension(f.extensions, cktest::Hex("551D13").data(), 3, &critical, &value, &len), 0);
  EXPECT_EQ(critical, 1u);
  EXPECT_EQ(cktest::ToHex(value, len), "3000");  // CA:FALSE is the default, left out
  // An unknown extension holding one OCTET STRING hands out its contents;
  // any other element is handed out whole.
  ASSERT_EQ(C_FindExtension(f.extensions, cktest::Hex("2B0601040186 8D1F 02").data(), 9, &critical, &value, &len),
            0);
  EXPECT_EQ(critical, 0u);
  EXPECT_EQ(cktest::ToHex(value, len), "abcd");
  ASSERT_EQ(C_FindExtension(f.extensions, cktest::Hex("2B0601040186 8D1F 01").data(), 9, &critical, &value, &len),
            0);
  EXPECT_EQ(cktest::ToHex(value, len), "0c0568656c6c6f");
  EXPECT_EQ(C_FindExtension(f.extensions, cktest::Hex("551D1E").data(), 3, &critical, &value, &len),
            C_ERR_NOT_FOUND);
}

// UTF8String organization and common name, as OpenSSL writes them, are read
// in the issuer and in the subject.
TEST(RealCertificate, ReadsUtf8Names) {
  REQUIRE_CERT_FILES();
  for (const char* name : {"utf8iss", "utf8sub"}) {
    Cert cert;
    EXPECT_EQ(cert.Set(CertFiles::Get().Cert(name)), 0) << name;
    const unsigned char* p = nullptr;
    uint32_t n = 0;
    EXPECT_EQ(C_GetCertDER(cert.cert, &p, &n), 0) << name;
  }
}

// ---------------------------------------------------------------------------
// Crafted encodings.

TEST(CertDecoding, CraftedCasesGiveTheirCodes) {
  REQUIRE_CERT_FILES();
  const Bytes bc = {0x55, 0x1D, 0x13};
  const Bytes unknown = cktest::Hex("2B0601040186 8D1F 07");
  struct Case {
    const char* what;
    void (*change)(Parts&);
    int code;
  };
  static Bytes sUnknown;
  static Bytes sBc;
  sUnknown = unknown;
  sBc = bc;
  const Case cases[] = {
      {"plain version 3", [](Parts&) {}, 0},
      {"GeneralizedTime validity",
       [](Parts& p) { p.validity = Validity("20200101000000Z", "20500101000000Z", 0x18, 0x18); }, 0},
      {"GeneralizedTime with a fraction",
       [](Parts& p) { p.validity = Validity("200101000000Z", "20500101000000.5Z", 0x17, 0x18); }, C_ERR_INPUT_DATA},
      {"GeneralizedTime without Z",
       [](Parts& p) { p.validity = Validity("200101000000Z", "20500101000000", 0x17, 0x18); }, C_ERR_INPUT_DATA},
      {"a date of neither time type",
       [](Parts& p) { p.validity = Validity("200101000000Z", "300101000000Z", 0x17, 0x04); }, C_ERR_INPUT_DATA},
      {"a date missing", [](Parts& p) { p.validity = Tlv(0x30, Tlv(0x17, Text("200101000000Z"))); },
       C_ERR_BAD_ENCODING},
      // UTCTime 50 is 1950, so this validity ends before it starts.
      {"UTCTime 49 to 50", [](Parts& p) { p.validity = Validity("491231235959Z", "500101000000Z"); }, C_ERR_VALIDITY},
      {"month 13", [](Parts& p) { p.validity = Validity("201301000000Z", "300101000000Z"); }, C_ERR_INPUT_DATA},
      {"inner without NULL", [](Parts& p) { p.inner = Tlv(0x30, Tlv(0x06, kSha1Oid)); }, C_ERR_BAD_ENCODING},
      {"sha256 both", [](Parts& p) { p.inner = p.outer = kSha256Alg; }, 0},
      {"sha224 both", [](Parts& p) { p.inner = p.outer = kSha224Alg; }, C_ERR_SIG_ALGORITHM},
      {"sha256 without NULL", [](Parts& p) { p.inner = p.outer = Tlv(0x30, Tlv(0x06, kSha256Oid)); },
       C_ERR_SIG_ALGORITHM},
      {"dates reversed", [](Parts& p) { p.validity = Validity("300101000001Z", "300101000000Z"); }, C_ERR_VALIDITY},
      {"equal dates", [](Parts& p) { p.validity = Validity("300101000000Z", "300101000000Z"); }, 0},
      {"version 4", [](Parts& p) { p.version = Tlv(0xA0, Bytes{0x02, 0x01, 0x03}); }, C_ERR_VERSION},
      {"empty names in version 3",
       [](Parts& p) { p.issuer = p.subject = Bytes{0x30, 0x00}; }, 0},
      {"empty issuer in version 1",
       [](Parts& p) {
         p.version.clear();
         p.issuer = Bytes{0x30, 0x00};
       },
       C_ERR_ISSUER},
      {"empty subject in version 2",
       [](Parts& p) {
         p.version = Tlv(0xA0, Bytes{0x02, 0x01, 0x01});
         p.subject = Bytes{0x30, 0x00};
       },
       C_ERR_SUBJECT},
      {"unique identifier in version 1",
       [](Parts& p) {
         p.version.clear();
         p.tail = Bytes{0x81, 0x02, 0x00, 0x11};
       },
       C_ERR_VERSION},
      {"unique identifiers in version 2",
       [](Parts& p) {
         p.version = Tlv(0xA0, Bytes{0x02, 0x01, 0x01});
         p.tail = Bytes{0x81, 0x02, 0x00, 0x11, 0x82, 0x02, 0x07, 0x80};
       },
       0},
      {"extensions in version 2",
       [](Parts& p) {
         p.version = Tlv(0xA0, Bytes{0x02, 0x01, 0x01});
         p.tail = Exts(Ext(sUnknown, false, Bytes{0x05, 0x00}));
       },
       C_ERR_VERSION},
      {"unknown critical extension", [](Parts& p) { p.tail = Exts(Ext(sUnknown, true, Bytes{0x05, 0x00})); },
       C_ERR_EXT_UNHANDLED_CRITICAL},
      {"unknown non-critical extension", [](Parts& p) { p.tail = Exts(Ext(sUnknown, false, Bytes{0x05, 0x00})); },
       0},
      {"unknown value not one element",
       [](Parts& p) { p.tail = Exts(Ext(sUnknown, false, Bytes{0x05, 0x00, 0x05, 0x00})); }, C_ERR_EXTENSIONS},
      {"basic constraints not critical", [](Parts& p) { p.tail = Exts(Ext(sBc, false, Bytes{0x30, 0x00})); },
       C_ERR_EXT_NOT_CRITICAL},
      {"basic constraints undecodable", [](Parts& p) { p.tail = Exts(Ext(sBc, true, Bytes{0x04, 0x00})); },
       C_ERR_EXTENSIONS},
      {"key usage not a bit string",
       [](Parts& p) { p.tail = Exts(Ext(Bytes{0x55, 0x1D, 0x0F}, false, Bytes{0x04, 0x01, 0x05})); },
       C_ERR_EXTENSIONS},
      {"CRL number in a certificate",
       [](Parts& p) { p.tail = Exts(Ext(Bytes{0x55, 0x1D, 0x14}, false, Bytes{0x02, 0x01, 0x01})); },
       C_ERR_EXTENSIONS},
      {"two extensions with one OID",
       [](Parts& p) {
         p.tail = Exts(Ext(sUnknown, false, Bytes{0x05, 0x00}) + Ext(sUnknown, false, Bytes{0x05, 0x00}));
       },
       C_ERR_EXTENSIONS},
      {"empty extension OID", [](Parts& p) { p.tail = Exts(Ext(Bytes{}, false, Bytes{0x05, 0x00})); },
       C_ERR_EXTENSIONS},
      {"empty extensions sequence", [](Parts& p) { p.tail = Exts(Bytes{}); }, 0},
      {"key of another algorithm",
       [](Parts& p) {
         p.spki = Tlv(0x30, Tlv(0x30, Tlv(0x06, cktest::Hex("2A8648CE3D0201"))) + Tlv(0x03, Bytes{0x00, 0x04}));
       },
       C_ERR_NO_KEY_FORM},
      {"RSA key that does not decode",
       [](Parts& p) {
         p.spki = Tlv(0x30, Tlv(0x30, Tlv(0x06, cktest::Hex("2A864886F70D010101")) + Bytes{0x05, 0x00}) +
                                Tlv(0x03, Bytes{0x00, 0x30, 0x00}));
       },
       C_ERR_PUBLIC_KEY},
      {"serial missing", [](Parts& p) { p.serial.clear(); }, C_ERR_BAD_ENCODING},
      {"trailing byte after the signature", [](Parts& p) { p.signature = p.signature + Bytes{0x00}; },
       C_ERR_BAD_ENCODING},
  };
  for (const Case& c : cases) {
    Parts p = DefaultParts();
    c.change(p);
    Cert cert;
    EXPECT_EQ(cert.Set(p.Build()), c.code) << c.what;
  }
}

// Validity dates as other issuers write them: the seconds they read as, and
// the form a record holding them is written in again (UTCTime for 1950 to
// 2049, GeneralizedTime otherwise).
TEST(CertDecoding, ValidityDatesOfEitherTypeReadAndWriteBack) {
  REQUIRE_CERT_FILES();
  struct Row {
    const char* what;
    Bytes validity;
    int64_t notBefore, notAfter;
    Bytes written;  // empty: the same as |validity|
  };
  const Row rows[] = {
      {"UTCTime to the end of 2049", Validity("200101000000Z", "491231235959Z"), 1577836800, 2524607999, {}},
      {"UTCTime 50 to 99 as 1950 to 1999", Validity("500101000000Z", "991231235959Z"), -631152000, 946684799, {}},
      {"GeneralizedTime from 2050", Validity("200101000000Z", "20500101000000Z", 0x17, 0x18), 1577836800,
       2524608000, {}},
      {"GeneralizedTime past 2106", Validity("200101000000Z", "21260101000000Z", 0x17, 0x18), 1577836800,
       4922899200, {}},
      {"GeneralizedTime before 2050 becomes UTCTime", Validity("20200101000000Z", "20300101000000Z", 0x18, 0x18),
       1577836800, 1893456000, Validity("200101000000Z", "300101000000Z")},
  };
  Key signer(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("leaf"));
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Parts p = DefaultParts();
    p.validity = r.validity;
    Cert cert;
    ASSERT_EQ(cert.Set(p.Build()), 0);
    C_CERT_FIELDS f{};
    ASSERT_EQ(C_GetCertFields(cert.cert, &f), 0);
    EXPECT_EQ(f.notBefore, r.notBefore);
    EXPECT_EQ(f.notAfter, r.notAfter);
    Cert again;
    ASSERT_EQ(C_SetCertFields(again.cert, &f), 0);
    ASSERT_EQ(C_SignCert(again.cert, signer.key, nullptr, nullptr), 0);
    const Bytes der = again.Der();
    const Bytes& written = r.written.empty() ? r.validity : r.written;
    EXPECT_NE(std::search(der.begin(), der.end(), written.begin(), written.end()), der.end());
  }
}

TEST(CertDecoding, VersionOneAndSerialAndEmptyNames) {
  REQUIRE_CERT_FILES();
  Parts p = DefaultParts();
  p.version.clear();
  p.serial = Bytes{0x02, 0x03, 0x00, 0x00, 0x7F};
  Cert cert;
  ASSERT_EQ(cert.Set(p.Build()), 0);
  C_CERT_FIELDS f{};
  ASSERT_EQ(C_GetCertFields(cert.cert, &f), 0);
  EXPECT_EQ(f.version, 0u);
  EXPECT_EQ(cktest::ToHex(f.serialNumber.data, f.serialNumber.len), "7f");
  // Written back from the record: no [0] element, the serial as 02 01 7F.
  ASSERT_EQ(C_SetCertFields(cert.cert, &f), 0);
  ASSERT_EQ(C_GetCertFields(cert.cert, &f), 0);  // the record's copies were replaced
  Key key(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("leaf"));
  ASSERT_EQ(C_SignCert(cert.cert, key.key, nullptr, nullptr), 0);
  Bytes der = cert.Der();
  ASSERT_GT(der.size(), 12u);
  size_t tbs = der[1] == 0x82 ? 4 : 3;
  size_t first = tbs + (der[tbs + 1] == 0x82 ? 4 : der[tbs + 1] == 0x81 ? 3 : 2);
  EXPECT_EQ(cktest::ToHex(&der[first], 3), "02017f");

  // Version 3 with empty names writes both as 30 00.
  Cert empty;
  C_CERT_FIELDS e{};
  ASSERT_EQ(C_GetCertFields(empty.cert, &e), 0);
  e.serialNumber = f.serialNumber;
  e.signatureAlgorithm = C_SIG_SHA1_WITH_RSA;
  e.notBefore = 1000;
  e.notAfter = 2000;
  e.publicKey = f.publicKey;
  ASSERT_EQ(C_SetCertFields(empty.cert, &e), 0);
  ASSERT_EQ(C_SignCert(empty.cert, key.key, nullptr, nullptr), 0);
  Cert back;
  ASSERT_EQ(back.Set(empty.Der()), 0);
  std::string hex = cktest::ToHex(empty.Der().data(), static_cast<uint32_t>(empty.Der().size()));
  EXPECT_NE(hex.find("05003000301e170d"), std::string::npos);  // alg, issuer 30 00, validity
  e.version = 0;
  EXPECT_EQ(C_SetCertFields(empty.cert, &e), C_ERR_ISSUER);
}

TEST(CertFields, SettingChecksInOrderAndLeavesTheObjectUnchanged) {
  REQUIRE_CERT_FILES();
  Cert cert;
  ASSERT_EQ(cert.Set(CertFiles::Get().Cert("leaf")), 0);
  C_CERT_FIELDS good{};
  ASSERT_EQ(C_GetCertFields(cert.cert, &good), 0);
  Bytes before = cert.Der();
  struct Case {
    const char* what;
    void (*change)(C_CERT_FIELDS&);
    int code;
  };
  static const unsigned char kBits[] = {0x80};
  const Case cases[] = {
      {"version 3", [](C_CERT_FIELDS& f) { f.version = 3; }, C_ERR_VERSION},
      {"extensions in version 2", [](C_CERT_FIELDS& f) { f.version = 1; }, C_ERR_VERSION},
      {"unique identifier in version 1",
       [](C_CERT_FIELDS& f) {
         f.version = 0;
         f.subjectUniqueID = C_BITSTRING{kBits, 1, 7};
       },
       C_ERR_VERSION},
      {"equal dates", [](C_CERT_FIELDS& f) { f.notAfter = f.notBefore; }, C_ERR_VALIDITY},
      {"not after past 9999", [](C_CERT_FIELDS& f) { f.notAfter = 253402300800; }, C_ERR_BAD_ARGUMENT},
      {"identifier 5", [](C_CERT_FIELDS& f) { f.signatureAlgorithm = 5; }, C_ERR_SIG_ALGORITHM},
      {"identifier 9", [](C_CERT_FIELDS& f) { f.signatureAlgorithm = 9; }, C_ERR_SIG_ALGORITHM},
      {"identifier 10", [](C_CERT_FIELDS& f) { f.signatureAlgorithm = 10; }, C_ERR_SIG_ALGORITHM},
      {"identifier 14", [](C_CERT_FIELDS& f) { f.signatureAlgorithm = 14; }, C_ERR_SIG_ALGORITHM},
      {"issuer not a name", [](C_CERT_FIELDS& f) { f.issuer = nullptr; }, C_ERR_ISSUER},
      {"subject not a name", [](C_CERT_FIELDS& f) { f.subject = nullptr; }, C_ERR_SUBJECT},
      {"no public key", [](C_CERT_FIELDS& f) { f.publicKey = C_ITEM{nullptr, 0}; }, C_ERR_PUBLIC_KEY},
      {"extensions not an extensions object",
       [](C_CERT_FIELDS& f) { f.extensions = reinterpret_cast<C_EXTENSIONS_OBJ>(f.issuer); }, C_ERR_EXTENSIONS},
  };
  for (const Case& c : cases) {
    C_CERT_FIELDS f = good;
    c.change(f);
    EXPECT_EQ(C_SetCertFields(cert.cert, &f), c.code) << c.what;
    EXPECT_EQ(cert.Der(), before) << c.what;
  }
  EXPECT_EQ(C_SetCertFields(cert.cert, nullptr), C_ERR_NULL_CERT_FIELDS);
  EXPECT_EQ(C_SetCertFields(nullptr, &good), C_ERR_NOT_CERT_OBJ);
  EXPECT_EQ(C_GetCertFields(cert.cert, nullptr), C_ERR_NULL_OUTPUT);

  // The record copied into a fresh object (names and extensions through
  // their DER) gives the same to-be-signed part, signed the same.
  Cert copy;
  ASSERT_EQ(C_SetCertFields(copy.cert, &good), 0);
  const unsigned char* p = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(C_GetCertDER(copy.cert, &p, &n), C_ERR_NOTHING_TO_SIGN);
  Key ca(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("ca"));
  ASSERT_EQ(C_SignCert(copy.cert, ca.key, nullptr, nullptr), 0);
  EXPECT_EQ(copy.Der(), before);
}

// ---------------------------------------------------------------------------
// Signing and verification.

class CertSigning : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CertFiles::Get().ok()) GTEST_SKIP() << "the openssl command line is needed";
    ASSERT_EQ(C_GetCertFields(cert_.cert, &f_), 0);
    static const unsigned char kSerial[] = {0x01, 0x02, 0x03};
    ASSERT_EQ(C_AddNameAVA(f_.issuer, kCnOid.data(), 3, C_TAG_PRINTABLE_STRING,
                           reinterpret_cast<const unsigned char*>("Signer"), 6, 1, nullptr), 0);
    ASSERT_EQ(C_AddNameAVA(f_.subject, kCnOid.data(), 3, C_TAG_PRINTABLE_STRING,
                           reinterpret_cast<const unsigned char*>("Signed"), 6, 1, nullptr), 0);
    spki_ = CertFiles::Get().PublicKey("leaf");
    f_.serialNumber = C_ITEM{kSerial, sizeof kSerial};
    f_.notBefore = 1600000000;
    f_.notAfter = 1700000000;
    f_.publicKey = C_ITEM{spki_.data(), static_cast<uint32_t>(spki_.size())};
    f_.signatureAlgorithm = C_SIG_SHA1_WITH_RSA;
  }
  Cert cert_;
  C_CERT_FIELDS f_{};
  Bytes spki_;
};

TEST_F(CertSigning, EachAlgorithmSignsAndVerifies) {
  Key priv(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("ca"));
  Key pub(QK_RSAPublicBER, CertFiles::Get().PublicKey("ca"));
  Key other(QK_RSAPublicBER, CertFiles::Get().PublicKey("leaf"));
  for (uint32_t algorithm : {C_SIG_MD2_WITH_RSA, C_SIG_MD5_WITH_RSA, C_SIG_SHA1_WITH_RSA, C_SIG_SHA256_WITH_RSA,
                             C_SIG_SHA384_WITH_RSA, C_SIG_SHA512_WITH_RSA}) {
    f_.signatureAlgorithm = algorithm;
    ASSERT_EQ(C_SetCertFields(cert_.cert, &f_), 0);
    EXPECT_EQ(C_VerifyCertSignature(cert_.cert, pub.key, nullptr), C_ERR_CERT_SIGNATURE) << "unsigned";
    ASSERT_EQ(C_SignCert(cert_.cert, priv.key, nullptr, nullptr), 0) << algorithm;
    EXPECT_EQ(C_VerifyCertSignature(cert_.cert, pub.key, nullptr), 0) << algorithm;
    EXPECT_EQ(C_VerifyCertSignature(cert_.cert, other.key, nullptr), C_ERR_CERT_SIGNATURE) << algorithm;
    // Read back from its encoding, it decodes and verifies the same.
    Cert back;
    ASSERT_EQ(back.Set(cert_.Der()), 0) << algorithm;
    C_CERT_FIELDS g{};
    C_GetCertFields(back.cert, &g);
    EXPECT_EQ(g.signatureAlgorithm, algorithm);
    EXPECT_EQ(C_VerifyCertSignature(back.cert, pub.key, nullptr), 0) << algorithm;
  }
  // The openssl command line agrees with a SHA-1 signature by the CA.
  Cert ca;
  ASSERT_EQ(ca.Set(CertFiles::Get().Cert("ca")), 0);
  C_CERT_FIELDS caFields{};
  C_GetCertFields(ca.cert, &caFields);
  const unsigned char* caName = nullptr;
  uint32_t caNameLen = 0;
  ASSERT_EQ(C_GetNameDER(caFields.subject, &caName, &caNameLen), 0);
  ASSERT_EQ(C_SetNameBER(f_.issuer, caName, caNameLen), 0);
  ASSERT_EQ(C_SetCertFields(cert_.cert, &f_), 0);
  ASSERT_EQ(C_SignCert(cert_.cert, priv.key, nullptr, nullptr), 0);
  Bytes ours = cert_.Der();
  cktest::WriteFile(CertFiles::Get().Scratch("ours.der"), ours.data(), static_cast<uint32_t>(ours.size()));
  EXPECT_EQ(cktest::Run("openssl x509 -inform DER -in " + CertFiles::Get().Scratch("ours.der") + " -out " +
                        CertFiles::Get().Scratch("ours.pem") + " && openssl x509 -in " + CertFiles::Get().Path("ca.der") +
                        " -inform DER -out " + CertFiles::Get().Scratch("ca2.pem") +
                        " && openssl verify -auth_level 0 -no_check_time -partial_chain -CAfile " +
                        CertFiles::Get().Scratch("ca2.pem") + " " + CertFiles::Get().Scratch("ours.pem")),
            0);
}

TEST_F(CertSigning, FailuresLeaveThePreviousEncoding) {
  Key priv(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("ca"));
  Key leafPriv(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("leaf"));
  Key leafPub(QK_RSAPublicBER, CertFiles::Get().PublicKey("leaf"));
  Key caPub(QK_RSAPublicBER, CertFiles::Get().PublicKey("ca"));
  Key big(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("big"));
  ASSERT_NE(big.key, nullptr);

  EXPECT_EQ(C_SignCert(cert_.cert, priv.key, nullptr, nullptr), C_ERR_NOTHING_TO_SIGN);
  EXPECT_EQ(C_VerifyCertSignature(cert_.cert, caPub.key, nullptr), C_ERR_CERT_SIGNATURE);
  ASSERT_EQ(C_SetCertFields(cert_.cert, &f_), 0);
  EXPECT_EQ(C_SignCert(cert_.cert, nullptr, nullptr, nullptr), C_ERR_PRIVATE_KEY);
  EXPECT_EQ(C_SignCert(nullptr, priv.key, nullptr, nullptr), C_ERR_NOT_CERT_OBJ);
  EXPECT_EQ(C_VerifyCertSignature(cert_.cert, nullptr, nullptr), C_ERR_PUBLIC_KEY);
  // A key over 2048 bits cannot sign; the object stays unsigned.
  EXPECT_EQ(C_SignCert(cert_.cert, big.key, nullptr, nullptr), C_ERR_SIGN);
  EXPECT_TRUE(cert_.Der().empty());
  // Signing twice: the second encoding replaces the first.
  ASSERT_EQ(C_SignCert(cert_.cert, priv.key, nullptr, nullptr), 0);
  Bytes first = cert_.Der();
  ASSERT_EQ(C_SignCert(cert_.cert, leafPriv.key, nullptr, nullptr), 0);
  Bytes second = cert_.Der();
  EXPECT_NE(first, second);
  EXPECT_EQ(C_VerifyCertSignature(cert_.cert, leafPub.key, nullptr), 0);
  EXPECT_EQ(C_VerifyCertSignature(cert_.cert, caPub.key, nullptr), C_ERR_CERT_SIGNATURE);
  EXPECT_EQ(C_SignCert(cert_.cert, big.key, nullptr, nullptr), C_ERR_SIGN);
  EXPECT_EQ(cert_.Der(), second);

  // Identifiers outside the table fail in the signing step itself and leave
  // the encoding as it was.
  for (uint32_t id : {5u, 9u}) {
    EXPECT_EQ(ck::CoreSign(&cert_.cert->core, id, priv.key, nullptr, nullptr),
              C_ERR_SIG_ALGORITHM);
    EXPECT_EQ(cert_.Der(), second);
  }
  // Re-signing an object read from BER signs its own to-be-signed element.
  Cert read;
  ASSERT_EQ(read.Set(second), 0);
  ASSERT_EQ(C_SignCert(read.cert, priv.key, nullptr, nullptr), 0);
  EXPECT_EQ(read.Der(), first);
}

TEST_F(CertSigning, DigestOfTheToBeSignedPart) {
  Key priv(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("ca"));
  uint8_t digest[20];
  uint32_t len = 0;
  EXPECT_EQ(ck::CoreDigest(&cert_.cert->core, 0, digest, &len, sizeof digest, nullptr), C_ERR_NO_SIG_ALG_SOURCE);
  f_.signatureAlgorithm = C_SIG_MD5_WITH_RSA;
  ASSERT_EQ(C_SetCertFields(cert_.cert, &f_), 0);
  EXPECT_EQ(ck::CoreDigest(&cert_.cert->core, 9, digest, &len, sizeof digest, nullptr), C_ERR_SIG_ALGORITHM);
  EXPECT_EQ(ck::CoreDigest(&cert_.cert->core, C_SIG_SHA1_WITH_RSA, digest, &len, 19, nullptr), C_ERR_DIGEST);
  ASSERT_EQ(C_SignCert(cert_.cert, priv.key, nullptr, nullptr), 0);
  // Without an identifier the row comes from the signature algorithm: MD5.
  ASSERT_EQ(ck::CoreDigest(&cert_.cert->core, 0, digest, &len, sizeof digest, nullptr), 0);
  EXPECT_EQ(len, 16u);
  Bytes tbs(cert_.cert->core.tbsDer.data, cert_.cert->core.tbsDer.data + cert_.cert->core.tbsDer.len);
  std::string path = CertFiles::Get().Scratch("tbs.bin");
  cktest::WriteFile(path, tbs.data(), static_cast<uint32_t>(tbs.size()));
  std::string out;
  ASSERT_EQ(cktest::Run("openssl dgst -md5 -r " + path, &out), 0);
  EXPECT_EQ(out.substr(0, 32), cktest::ToHex(digest, len));
}

TEST_F(CertSigning, SignatureWithUnusedBitsFailsVerification) {
  Key priv(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("ca"));
  Key pub(QK_RSAPublicBER, CertFiles::Get().PublicKey("ca"));
  ASSERT_EQ(C_SetCertFields(cert_.cert, &f_), 0);
  ASSERT_EQ(C_SignCert(cert_.cert, priv.key, nullptr, nullptr), 0);
  Bytes der = cert_.Der();
  // The signature BIT STRING is last: 03 82 01 01 00 <256 octets>.
  size_t unused = der.size() - 257;
  ASSERT_EQ(der[unused - 4], 0x03);
  der[unused] = 0x01;
  der.back() &= 0xFE;  // keep the unused bit zero so the input is already DER
  Cert changed;
  ASSERT_EQ(changed.Set(der), 0);
  EXPECT_EQ(C_VerifyCertSignature(changed.cert, pub.key, nullptr), C_ERR_CERT_SIGNATURE);
}

TEST(CertObject, HandlesAndStates) {
  C_CERT_OBJ cert = nullptr;
  EXPECT_EQ(C_CreateCertObject(nullptr, nullptr), C_ERR_NOT_CERT_OBJ);
  C_NAME_OBJ name = nullptr;
  ASSERT_EQ(C_CreateNameObject(&name), 0);
  EXPECT_EQ(C_CreateCertObject(&cert, reinterpret_cast<C_EXT_REGISTRY>(name)), C_ERR_NOT_EXT_REGISTRY);
  ASSERT_EQ(C_CreateCertObject(&cert, nullptr), 0);
  C_CERT_FIELDS f{};
  ASSERT_EQ(C_GetCertFields(cert, &f), 0);
  EXPECT_EQ(f.version, 2u);
  const unsigned char* p = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(C_GetCertDER(cert, &p, &n), C_ERR_NOTHING_TO_SIGN);
  EXPECT_EQ(C_GetCertDER(cert, nullptr, &n), C_ERR_NULL_OUTPUT);
  EXPECT_EQ(C_SetCertBER(cert, nullptr, 5), C_ERR_INPUT_DATA);
  EXPECT_EQ(C_SetCertBER(reinterpret_cast<C_CERT_OBJ>(name), p, 0), C_ERR_NOT_CERT_OBJ);
  // Destroying a handle of another kind does nothing.
  C_CERT_OBJ wrong = reinterpret_cast<C_CERT_OBJ>(name);
  C_DestroyCertObject(&wrong);
  EXPECT_NE(wrong, nullptr);
  C_DestroyNameObject(&name);
  C_DestroyCertObject(&cert);
  EXPECT_EQ(cert, nullptr);
}

// A registry type makes a critical extension of its OID acceptable.
int DecodeAny(const unsigned char*, uint32_t, void** decoded) {
  *decoded = nullptr;
  return 0;
}
int EncodeNone(const void*, unsigned char**, uint32_t*) { return C_ERR_BAD_ARGUMENT; }
int CopyNone(const void*, void** copy) {
  *copy = nullptr;
  return 0;
}
void ReleaseNone(void*) {}

TEST(ExtensionRegistry, RegisteredTypeHandlesCriticalExtension) {
  REQUIRE_CERT_FILES();
  const Bytes oid = cktest::Hex("2B0601040186 8D1F 07");
  Parts p = DefaultParts();
  p.tail = Exts(Ext(oid, true, Bytes{0x05, 0x00}));
  C_EXT_REGISTRY registry = nullptr;
  ASSERT_EQ(C_CreateExtRegistry(&registry), 0);
  C_EXT_HANDLER handler{DecodeAny, EncodeNone, CopyNone, ReleaseNone};
  C_EXT_HANDLER partial{DecodeAny, nullptr, CopyNone, ReleaseNone};
  C_EXT_TYPE type{oid.data(), static_cast<uint32_t>(oid.size()), 1, 1, C_EXT_KIND_CERT, 0, &partial};
  EXPECT_EQ(C_RegisterExtType(registry, &type), C_ERR_EXT_HANDLER_INCOMPLETE);
  type.handler = &handler;
  type.kinds = 8;
  EXPECT_EQ(C_RegisterExtType(registry, &type), C_ERR_EXT_KIND_INVALID);
  type.kinds = C_EXT_KIND_CERT;
  ASSERT_EQ(C_RegisterExtType(registry, &type), 0);
  C_CERT_OBJ cert = nullptr;
  ASSERT_EQ(C_CreateCertObject(&cert, registry), 0);
  Bytes der = p.Build();
  EXPECT_EQ(C_SetCertBER(cert, der.data(), static_cast<uint32_t>(der.size())), 0);
  // Fixed criticality: the same extension marked non-critical is refused.
  p.tail = Exts(Ext(oid, false, Bytes{0x05, 0x00}));
  der = p.Build();
  EXPECT_EQ(C_SetCertBER(cert, der.data(), static_cast<uint32_t>(der.size())), C_ERR_EXT_CRITICALITY);
  C_DestroyCertObject(&cert);
  C_DestroyExtRegistry(&registry);
  EXPECT_EQ(registry, nullptr);
}

}  // namespace
