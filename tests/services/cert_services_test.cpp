// Certificate services and issuing end to end: a root and a server
// certificate made through the services, checked here and by the openssl
// command line; the service cases of the item, verify and create
// operations; and the certificate file (reading, limits, failed writes).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "certkit/certkit.h"
#include "platform/clock.h"
#include "services/kvservices.h"
#include "services_support.h"
#include "support/memory_hooks.h"
#include "support/openssl_cli.h"

namespace {

using svctest::Bytes;
using svctest::ReadFile;
using svctest::WriteFile;

CertNameFields Names(const char* country, const char* organization, const char* commonName) {
  CertNameFields f;
  std::memset(&f, 0, sizeof f);
  std::memcpy(f.country, country, std::min(std::strlen(country), sizeof f.country - 1));
  std::memcpy(f.organization, organization, std::min(std::strlen(organization), sizeof f.organization - 1));
  std::memcpy(f.commonName, commonName, std::min(std::strlen(commonName), sizeof f.commonName - 1));
  return f;
}

struct KeyPair {
  Bytes publicKey, privateKey;
};
KeyPair Generate(int modulusBytes) {
  KeyPair p;
  p.publicKey.resize(KV_KEYFILE_MAX_DATA);
  p.privateKey.resize(KV_KEYFILE_MAX_DATA);
  int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
  EXPECT_EQ(errKVKeyGen(modulusBytes, p.publicKey.data(), &pubLen, p.privateKey.data(), &privLen), 0);
  p.publicKey.resize(static_cast<size_t>(pubLen));
  p.privateKey.resize(static_cast<size_t>(privLen));
  return p;
}

// What errKVGenCertReq and errKVGenCert hand out, released at scope end.
struct Issued {
  unsigned char* request = nullptr;
  int requestLength = 0;
  C_CERT_REQUEST_OBJ requestObject = nullptr;
  C_CERT_OBJ certObject = nullptr;
  unsigned char* certificate = nullptr;
  int certificateLength = 0;
  ~Issued() {
    vKVCertReqFreeReq(request);
    vKVCertFreeCert(certificate);
    C_DestroyCertRequestObject(&requestObject);
    C_DestroyCertObject(&certObject);
  }
  Bytes Request() const { return Bytes(request, request + requestLength); }
  Bytes Certificate() const { return Bytes(certificate, certificate + certificateLength); }
};

// Request and certificate for |subject|'s keys, signed by |issuerKey| with
// |issuer| as issuer name, written to |path|. Returns errKVGenCert's result.
int Issue(const KeyPair& subjectKeys, const CertNameFields& subject, const Bytes& issuerKey,
          const CertNameFields& issuer, const std::string& path, Issued* out) {
  int status = errKVGenCertReq(static_cast<int>(subjectKeys.privateKey.size()), subjectKeys.privateKey.data(),
                               static_cast<int>(subjectKeys.publicKey.size()), subjectKeys.publicKey.data(), subject,
                               &out->request, &out->requestLength, &out->requestObject, 0);
  if (status != 0) return status;
  return errKVGenCert(path.c_str(), static_cast<int>(issuerKey.size()), issuerKey.data(), issuer, out->requestLength,
                      out->request, &out->certObject, &out->certificateLength, &out->certificate, 0);
}

struct Name {
  Bytes der;
};
Name NameOf(C_NAME_OBJ name) {
  const unsigned char* p = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(C_GetNameDER(name, &p, &n), 0);
  return Name{Bytes(p, p + n)};
}

struct PublicKeyObject {
  Q_KEY_OBJ key = nullptr;
  explicit PublicKeyObject(const Bytes& der) {
    EXPECT_EQ(iKeyFromBER(der.data(), static_cast<int>(der.size()), &key, KV_KEYTYPE_PUBLIC_SPKI), 0);
  }
  ~PublicKeyObject() {
    if (key != nullptr) Q_DestroyKeyObject(&key);
  }
};

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string OpensslDate(int64_t seconds) {
  const time_t t = seconds;
  struct tm tm;
  gmtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%b %e %H:%M:%S %Y GMT", &tm);
  return text;
}

std::string HexOf(const std::string& text) {
  std::string out;
  char two[3];
  for (unsigned char c : text) {
    std::snprintf(two, sizeof two, "%02X", c);
    out += two;
  }
  return out;
}

// A root (2048 bits) and a server (1024 bits) certificate issued once per
// program under the fixed clock, with files in a scratch directory.
class Chain : public ::testing::Test {
 protected:
  struct Shared {
    svctest::ScratchDir dir;
    KeyPair root, server;
    CertNameFields rootNames = Names("US", "Example Org", "Example Root");
    CertNameFields serverNames = Names("DE", "Web Org", "www.example");
    Issued rootIssued, serverIssued;
    int rootStatus = -2, serverStatus = -2;
  };
  static Shared& Get() {
    static Shared* shared = [] {
      auto* s = new Shared;
      svctest::FakePlatform platform;
      s->root = Generate(256);
      s->server = Generate(128);
      s->rootStatus = Issue(s->root, s->rootNames, s->root.privateKey, s->rootNames, s->dir.File("root.crt"),
                            &s->rootIssued);
      s->serverStatus = Issue(s->server, s->serverNames, s->root.privateKey, s->rootNames, s->dir.File("server.crt"),
                              &s->serverIssued);
      return s;
    }();
    return *shared;
  }
  void SetUp() override {
    ASSERT_EQ(Get().rootStatus, 0);
    ASSERT_EQ(Get().serverStatus, 0);
  }
  static Bytes Root() { return Get().rootIssued.Certificate(); }
  static Bytes Server() { return Get().serverIssued.Certificate(); }
  static std::string Path(const std::string& name) { return Get().dir.File(name); }
};

TEST_F(Chain, RootIsSelfIssuedAndServerIsIssuedByTheRoot) {
  // The files are the DER, byte for byte, and read back the same.
  EXPECT_EQ(ReadFile(Path("root.crt")), Root());
  EXPECT_EQ(ReadFile(Path("server.crt")), Server());
  int length = 0;
  unsigned char* buffer = nullptr;
  ASSERT_EQ(errKVCertReadFromFile(Path("server.crt").c_str(), &length, &buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + length), Server());
  vKVCertFreeCert(buffer);

  C_CERT_FIELDS root{}, server{};
  ASSERT_EQ(C_GetCertFields(Get().rootIssued.certObject, &root), 0);
  ASSERT_EQ(C_GetCertFields(Get().serverIssued.certObject, &server), 0);
  EXPECT_EQ(NameOf(root.issuer).der, NameOf(root.subject).der);
  EXPECT_EQ(NameOf(server.issuer).der, NameOf(root.subject).der);
  EXPECT_NE(NameOf(server.subject).der, NameOf(root.subject).der);
  for (const C_CERT_FIELDS* f : {&root, &server}) {
    EXPECT_EQ(f->version, static_cast<uint32_t>(C_CERT_VERSION_3));
    EXPECT_EQ(f->signatureAlgorithm, static_cast<uint32_t>(C_SIG_SHA1_WITH_RSA));
    EXPECT_EQ(f->notBefore, svctest::FixedClock());
    EXPECT_EQ(f->notAfter - f->notBefore, 630720000u);
  }
  // Country (PrintableString), organization and common name (T61String).
  uint32_t count = 0;
  ASSERT_EQ(C_GetNameAVACount(root.subject, &count), 0);
  ASSERT_EQ(count, 3u);
  const uint32_t tags[] = {C_TAG_PRINTABLE_STRING, C_TAG_T61_STRING, C_TAG_T61_STRING};
  for (uint32_t i = 0; i < 3; ++i) {
    const unsigned char *oid = nullptr, *value = nullptr;
    uint32_t oidLen = 0, tag = 0, valueLen = 0, newRDN = 0;
    ASSERT_EQ(C_GetNameAVA(root.subject, i, &oid, &oidLen, &tag, &value, &valueLen, &newRDN), 0);
    EXPECT_EQ(tag, tags[i]);
    EXPECT_EQ(newRDN, 1u);
  }

  PublicKeyObject rootKey(Get().root.publicKey), serverKey(Get().server.publicKey);
  EXPECT_EQ(iVerifyCertificate(Root().data(), rootKey.key, static_cast<int>(Root().size())), 0);
  EXPECT_EQ(iVerifyCertificate(Server().data(), rootKey.key, static_cast<int>(Server().size())), 0);
  EXPECT_EQ(iVerifyCertificate(Server().data(), serverKey.key, static_cast<int>(Server().size())),
            KV_CERT_VERIFY_FAILED);
  EXPECT_EQ(errKVCertX509VerifyWithCert(static_cast<int>(Root().size()), Root().data(),
                                        static_cast<int>(Server().size()), Server().data()),
            0);
  EXPECT_EQ(errKVCertX509VerifyWithCert(static_cast<int>(Server().size()), Server().data(),
                                        static_cast<int>(Server().size()), Server().data()),
            KV_CERT_VERIFY_FAILED);
  // The request verifies on its own and carries no attributes (A0 00).
  const Bytes request = Get().serverIssued.Request();
  EXPECT_EQ(errKVCertReqPKCS10Verify(static_cast<int>(request.size()), request.data()), 0);
  const Bytes& key = Get().server.publicKey;
  auto at = std::search(request.begin(), request.end(), key.begin(), key.end());
  ASSERT_NE(at, request.end());
  EXPECT_EQ(Bytes(at + static_cast<long>(key.size()), at + static_cast<long>(key.size()) + 2), (Bytes{0xA0, 0x00}));
}

TEST_F(Chain, ItemsOfACertificate) {
  const Bytes cert = Server();
  const int n = static_cast<int>(cert.size());
  // Serial number: the clock and the key's first four bytes, little-endian.
  const Bytes& key = Get().server.publicKey;
  char expected[17];
  std::snprintf(expected, sizeof expected, "%08X%08X", static_cast<uint32_t>(svctest::FixedClock()),
                key[0] | key[1] << 8 | key[2] << 16 | static_cast<uint32_t>(key[3]) << 24);
  unsigned char buffer[80];
  int length = 80;
  ASSERT_EQ(errKVCertX509GetSerialNumber(n, cert.data(), &length, buffer), 0);
  EXPECT_EQ(length, 17);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), expected);
  EXPECT_EQ(buffer[16], 0);
  length = 16;
  EXPECT_EQ(errKVCertX509GetSerialNumber(n, cert.data(), &length, buffer), KV_CERT_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 17);
  // Names: the first attribute, the country.
  length = 80;
  ASSERT_EQ(errKVCertX509GetSubjectName(n, cert.data(), &length, buffer), 0);
  EXPECT_EQ(length, 3);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "DE");
  length = 80;
  ASSERT_EQ(errKVCertX509GetIssuerName(n, cert.data(), &length, buffer), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "US");
  // The public key, whole.
  Bytes out(1000);
  length = 1000;
  ASSERT_EQ(errKVCertX509GetPublicKey(n, cert.data(), &length, out.data()), 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), key);
  // Item 11: nothing written, the length untouched.
  std::memset(buffer, 0x5A, sizeof buffer);
  length = 80;
  EXPECT_EQ(iGetItemFromCert(n, cert.data(), &length, buffer, 11), 0);
  EXPECT_EQ(length, 80);
  EXPECT_EQ(buffer[0], 0x5A);
  // Bad lengths and a broken certificate.
  length = -1;
  EXPECT_EQ(errKVCertX509GetPublicKey(n, cert.data(), &length, out.data()), KV_CERT_BAD_LENGTH);
  length = 1000;
  EXPECT_EQ(errKVCertX509GetPublicKey(-1, cert.data(), &length, out.data()), KV_CERT_BAD_LENGTH);
  EXPECT_EQ(errKVCertX509GetPublicKey(n - 1, cert.data(), &length, out.data()), KV_CERT_BAD_CERTIFICATE);
  int extensionLength = 7;
  EXPECT_EQ(errKVCertX509GetExtension(n, cert.data(), &extensionLength, nullptr), 0);
  EXPECT_EQ(extensionLength, 0);
}

TEST_F(Chain, VerifyCases) {
  const Bytes cert = Server();
  const int n = static_cast<int>(cert.size());
  const Bytes& rootPublic = Get().root.publicKey;
  const Bytes& serverPublic = Get().server.publicKey;
  const Bytes& rootPrivate = Get().root.privateKey;
  EXPECT_EQ(errKVCertX509Verify(static_cast<int>(rootPublic.size()), rootPublic.data(), n, cert.data()), 0);
  EXPECT_EQ(errKVCertX509Verify(static_cast<int>(serverPublic.size()), serverPublic.data(), n, cert.data()),
            KV_CERT_VERIFY_FAILED);
  EXPECT_EQ(errKVCertX509Verify(static_cast<int>(rootPrivate.size()), rootPrivate.data(), n, cert.data()),
            KV_CERT_BAD_CA_PUBLIC_KEY);
  EXPECT_EQ(errKVCertX509Verify(-1, rootPublic.data(), n, cert.data()), KV_CERT_BAD_LENGTH);
  PublicKeyObject rootKey(rootPublic);
  EXPECT_EQ(iVerifyCertificate(cert.data(), rootKey.key, -5), C_ERR_INPUT_DATA);
  // A signature changed in its last octet.
  Bytes changed = cert;
  changed.back() ^= 1;
  EXPECT_EQ(iVerifyCertificate(changed.data(), rootKey.key, n), KV_CERT_VERIFY_FAILED);

  // A certificate with a critical extension nothing handles: the toolkit's
  // 1852, not 19007.
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is needed";
  WriteFile(Path("root.key.der"), rootPrivate);
  WriteFile(Path("crit.cnf"), Bytes());
  const std::string conf = Path("crit.cnf");
  {
    std::FILE* f = std::fopen(conf.c_str(), "w");
    std::fputs("[req]\ndistinguished_name=dn\nstring_mask=nombstr\nprompt=no\n[dn]\nCN=crit\n", f);
    std::fclose(f);
  }
  ASSERT_TRUE(testsupport::Run("openssl req -new -x509 -sha1 -days 30 -config " + conf + " -key " +
                               Path("root.key.der") + " -keyform DER -addext 1.2.3.4=critical,DER:05:00 -outform DER" +
                               " -out " + Path("crit.der")));
  const Bytes crit = ReadFile(Path("crit.der"));
  EXPECT_EQ(iVerifyCertificate(crit.data(), rootKey.key, static_cast<int>(crit.size())),
            C_ERR_EXT_UNHANDLED_CRITICAL);
}

// Running out of memory anywhere in verification is 19001, never a verdict
// on the certificate (19007) or the key (19006); nothing is left behind.
TEST_F(Chain, VerifyOutOfMemoryIsReportedAsSuch) {
  const Bytes cert = Server();
  const Bytes& rootPublic = Get().root.publicKey;
  std::vector<int> seen;
  const uint64_t allocations = testsupport::ForEachAllocationFailure(
      [&] {
        return errKVCertX509Verify(static_cast<int>(rootPublic.size()), rootPublic.data(),
                                   static_cast<int>(cert.size()), cert.data());
      },
      [&](int status, const testsupport::MemoryWatch& watch) {
        seen.push_back(status);
        EXPECT_EQ(status, KV_CERT_OUT_OF_MEMORY) << "allocation " << seen.size();
        EXPECT_EQ(watch.leakedBlocks(), 0) << "allocation " << seen.size();
      });
  EXPECT_GT(allocations, 5u);
  EXPECT_EQ(seen.size(), allocations);
}

TEST_F(Chain, OpensslReadsAndVerifiesWhatWeWrite) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is needed";
  const std::string x509 = "openssl x509 -inform DER -noout -in ";
  for (const char* name : {"root.crt", "server.crt"}) {
    const std::string path = Path(name);
    const std::string text = Shell(x509 + path + " -text");
    EXPECT_NE(text.find("Version: 3 (0x2)"), std::string::npos) << text;
    EXPECT_NE(text.find("Signature Algorithm: sha1WithRSAEncryption"), std::string::npos);
    EXPECT_EQ(Shell(x509 + path + " -startdate"), "notBefore=" + OpensslDate(svctest::FixedClock()) + "\n");
    EXPECT_EQ(Shell(x509 + path + " -enddate"), "notAfter=" + OpensslDate(svctest::FixedClock() + 630720000u) + "\n");
    // The serial: the 16 characters as octets.
    unsigned char serial[80];
    int length = 80;
    const Bytes cert = ReadFile(path);
    ASSERT_EQ(errKVCertX509GetSerialNumber(static_cast<int>(cert.size()), cert.data(), &length, serial), 0);
    EXPECT_EQ(Shell(x509 + path + " -serial"), "serial=" + HexOf(reinterpret_cast<char*>(serial)) + "\n");
    // The key we wrote.
    Shell(x509 + path + " -pubkey | openssl pkey -pubin -outform DER -out " + path + ".pub");
    EXPECT_EQ(ReadFile(path + ".pub"),
              std::string(name) == "root.crt" ? Get().root.publicKey : Get().server.publicKey);
  }
  const std::string names = " -nameopt sep_comma_plus,sname,utf8";
  EXPECT_EQ(Shell(x509 + Path("root.crt") + " -subject" + names), "subject=C=US,O=Example Org,CN=Example Root\n");
  EXPECT_EQ(Shell(x509 + Path("server.crt") + " -issuer" + names), "issuer=C=US,O=Example Org,CN=Example Root\n");
  EXPECT_EQ(Shell(x509 + Path("server.crt") + " -subject" + names), "subject=C=DE,O=Web Org,CN=www.example\n");

  // Our request passes openssl's own check.
  const std::string request = Path("server.req");
  WriteFile(request, Get().serverIssued.Request());
  EXPECT_NE(Shell("openssl req -inform DER -in " + request + " -noout -verify").find("verify OK"), std::string::npos);

  // The chain. A version 3 root without basicConstraints is no CA to
  // openssl verify (that is what the issuing profile writes), so the root is
  // checked on its own and the server's signature with openssl dgst over
  // the to-be-signed part, with the root's public key.
  for (const char* name : {"root", "server"}) {
    testsupport::Run("openssl x509 -inform DER -in " + Path(std::string(name) + ".crt") + " -out " +
                     Path(std::string(name) + ".pem"));
  }
  EXPECT_NE(Shell("openssl verify -CAfile " + Path("root.pem") + " " + Path("root.pem")).find(": OK"),
            std::string::npos);
  const std::string chain = Shell("openssl verify -CAfile " + Path("root.pem") + " " + Path("server.pem"));
  RecordProperty("openssl_verify_chain", chain);
  if (chain.find(": OK") == std::string::npos) {
    EXPECT_NE(chain.find("invalid CA certificate"), std::string::npos) << chain;
    const Bytes cert = Server();
    // Certificate ::= SEQUENCE { tbs, algorithm, signature }: the header of
    // the outer SEQUENCE is 4 octets (30 82 xx xx), as is the tbs's.
    ASSERT_EQ(cert[0], 0x30);
    ASSERT_EQ(cert[1], 0x82);
    ASSERT_EQ(cert[4], 0x30);
    ASSERT_EQ(cert[5], 0x82);
    const size_t tbsLen = 4 + (static_cast<size_t>(cert[6]) << 8 | cert[7]);
    WriteFile(Path("server.tbs"), Bytes(cert.begin() + 4, cert.begin() + 4 + static_cast<long>(tbsLen)));
    // The signature of the root's 2048-bit key: the last 256 octets.
    WriteFile(Path("server.sig"), Bytes(cert.end() - 256, cert.end()));
    WriteFile(Path("root.pub.der"), Get().root.publicKey);
    EXPECT_NE(Shell("openssl dgst -sha1 -verify " + Path("root.pub.der") + " -keyform DER -signature " +
                    Path("server.sig") + " " + Path("server.tbs"))
                  .find("Verified OK"),
              std::string::npos);
  }
}

// ---------------------------------------------------------------------------
// Dates from 2050 on.

Bytes Tlv(uint8_t tag, const Bytes& content) {
  const size_t n = content.size();
  Bytes out;
  out.reserve(n + 4);
  out.push_back(tag);
  if (n >= 0x80) {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(n >> 8));
  }
  out.push_back(static_cast<uint8_t>(n));
  for (uint8_t b : content) out.push_back(b);
  return out;
}

// The elements inside the constructed element at the start of |der|
// (definite lengths of up to three octets, as our certificates have).
std::vector<Bytes> Children(const Bytes& der) {
  std::vector<Bytes> out;
  auto header = [&](size_t at, size_t* contentAt, size_t* length) {
    size_t p = at + 1;
    const uint8_t first = der.at(p++);
    size_t n = first;
    if (first >= 0x80) {
      n = 0;
      for (int i = first & 0x7F; i > 0; --i) n = (n << 8) | der.at(p++);
    }
    *contentAt = p;
    *length = n;
  };
  size_t content = 0, length = 0;
  header(0, &content, &length);
  for (size_t at = content; at < content + length;) {
    size_t inner = 0, innerLength = 0;
    header(at, &inner, &innerLength);
    out.emplace_back(der.begin() + static_cast<long>(at), der.begin() + static_cast<long>(inner + innerLength));
    at = inner + innerLength;
  }
  return out;
}

// The validity SEQUENCE of a version 3 certificate.
Bytes ValidityOf(const Bytes& cert) { return Children(Children(cert).at(0)).at(4); }

// |cert| as it was written before dates from 2050 on became GeneralizedTime:
// every date as a two-digit-year UTCTime. The signature no longer matches,
// which does not matter to a look at the dates.
Bytes AsTwoDigitYears(const Bytes& cert) {
  std::vector<Bytes> parts = Children(cert);
  std::vector<Bytes> tbs = Children(parts.at(0));
  Bytes validity;
  for (Bytes time : Children(tbs.at(4))) {
    if (time.at(0) == 0x18) time = Tlv(0x17, Bytes(time.begin() + 4, time.end()));
    validity.insert(validity.end(), time.begin(), time.end());
  }
  tbs.at(4) = Tlv(0x30, validity);
  Bytes tbsContent, certContent;
  for (const Bytes& b : tbs) tbsContent.insert(tbsContent.end(), b.begin(), b.end());
  parts.at(0) = Tlv(0x30, tbsContent);
  for (const Bytes& b : parts) certContent.insert(certContent.end(), b.begin(), b.end());
  return Tlv(0x30, certContent);
}

Bytes TimeElement(uint8_t tag, int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  gmtime_r(&t, &tm);
  const long long year = tm.tm_year + 1900LL;
  char text[32];
  std::snprintf(text, sizeof text, "%0*lld%02d%02d%02d%02d%02dZ", tag == 0x17 ? 2 : 4,
                tag == 0x17 ? year % 100 : year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return Tlv(tag, Bytes(text, text + std::strlen(text)));
}

int64_t g_lateClock = 0;
int64_t LateClock() { return g_lateClock; }

// Before 2030 both dates stay UTCTime, octet for octet as ever.
TEST_F(Chain, DatesBefore2050AreUtcTime) {
  const int64_t now = svctest::FixedClock();
  Bytes expected = TimeElement(0x17, now);
  const Bytes end = TimeElement(0x17, now + 630720000);
  expected.insert(expected.end(), end.begin(), end.end());
  EXPECT_EQ(ValidityOf(Root()), Tlv(0x30, expected));
  EXPECT_EQ(ValidityOf(Server()), Tlv(0x30, expected));
  EXPECT_EQ(ValidityOf(Root()).size(), 32u);
}

// Issued with the clock at 2031, 2049 and 2100: the end of validity (2051,
// 2069, 2120) is a GeneralizedTime, openssl reads the right dates and finds
// the certificate unexpired. The same certificate with two-digit years, as
// it used to be written, reads as expired: the check can fail.
TEST_F(Chain, DatesFrom2050OnAreGeneralizedTimeAndReadRightByOpenssl) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is needed";
  const std::string x509 = "openssl x509 -inform DER -noout -in ";
  for (const int64_t now : {int64_t{1938081600}, int64_t{2506161600}, int64_t{4102444800}}) {
    SCOPED_TRACE(now);
    svctest::FakePlatform platform;
    g_lateClock = now;
    kvplatform::SetClockForTest(&LateClock);
    Issued issued;
    const std::string path = Path("late.crt");
    ASSERT_EQ(Issue(Get().server, Get().serverNames, Get().root.privateKey, Get().rootNames, path, &issued), 0);
    C_CERT_FIELDS f{};
    ASSERT_EQ(C_GetCertFields(issued.certObject, &f), 0);
    EXPECT_EQ(f.notBefore, now);
    EXPECT_EQ(f.notAfter, now + 630720000);
    const int64_t end = now + 630720000;
    const Bytes cert = ReadFile(path);
    const std::vector<Bytes> dates = Children(ValidityOf(cert));
    ASSERT_EQ(dates.size(), 2u);
    EXPECT_EQ(dates[0], TimeElement(now <= 2524607999 ? 0x17 : 0x18, now));
    EXPECT_EQ(dates[1], TimeElement(0x18, end));
    PublicKeyObject rootKey(Get().root.publicKey);
    EXPECT_EQ(iVerifyCertificate(cert.data(), rootKey.key, static_cast<int>(cert.size())), 0);

    EXPECT_EQ(Shell(x509 + path + " -startdate"), "notBefore=" + OpensslDate(now) + "\n");
    EXPECT_EQ(Shell(x509 + path + " -enddate"), "notAfter=" + OpensslDate(end) + "\n");
    EXPECT_TRUE(testsupport::Run(x509 + path + " -checkend 86400"));

    const std::string old = Path("late-old.crt");
    WriteFile(old, AsTwoDigitYears(cert));
    const std::string oldEnd = Shell(x509 + old + " -enddate");
    const time_t endTime = static_cast<time_t>(end);
    struct tm endTm;
    gmtime_r(&endTime, &endTm);
    const int yy = endTm.tm_year % 100;
    EXPECT_NE(oldEnd.find(" " + std::to_string(yy < 50 ? 2000 + yy : 1900 + yy) + " GMT"), std::string::npos)
        << oldEnd;
    EXPECT_FALSE(testsupport::Run(x509 + old + " -checkend 86400")) << oldEnd;
  }
}

TEST(Issuing, OpensslRequestIsVerifiedAndIssued) {
  if (!testsupport::HaveOpenssl()) GTEST_SKIP() << "the openssl command line is needed";
  svctest::FakePlatform platform;
  svctest::ScratchDir dir;
  const svctest::KeyPair& issuer = svctest::SharedKeyPair();
  {
    std::FILE* f = std::fopen(dir.File("req.cnf").c_str(), "w");
    std::fputs("[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n", f);
    std::fclose(f);
  }
  WriteFile(dir.File("issuer.der"), issuer.privateKey);
  ASSERT_TRUE(testsupport::Run("openssl req -new -sha1 -config " + dir.File("req.cnf") + " -key " +
                               dir.File("issuer.der") + " -keyform DER -subj '/C=US/O=Osl Org/CN=osl.example'" +
                               " -outform DER -out " + dir.File("osl.req")));
  const Bytes request = ReadFile(dir.File("osl.req"));
  EXPECT_EQ(errKVCertReqPKCS10Verify(static_cast<int>(request.size()), request.data()), 0);
  int length = 0;
  unsigned char* cert = nullptr;
  ASSERT_EQ(errKVCertX509CreateFromPKCS10Req(static_cast<int>(issuer.privateKey.size()), issuer.privateKey.data(),
                                             "Osl Issuer", static_cast<int>(request.size()), request.data(), &length,
                                             &cert),
            0);
  const Bytes der(cert, cert + length);
  vKVCertFreeCert(cert);
  EXPECT_EQ(errKVCertX509Verify(static_cast<int>(issuer.publicKey.size()), issuer.publicKey.data(),
                                static_cast<int>(der.size()), der.data()),
            0);
  // The subject is the request's first attribute, as a common name; md5.
  unsigned char name[80];
  int nameLength = 80;
  ASSERT_EQ(errKVCertX509GetSubjectName(static_cast<int>(der.size()), der.data(), &nameLength, name), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "US");
  WriteFile(dir.File("osl.crt"), der);
  EXPECT_NE(Shell("openssl x509 -inform DER -in " + dir.File("osl.crt") + " -noout -text")
                .find("Signature Algorithm: md5WithRSAEncryption"),
            std::string::npos);
  // A changed request is refused.
  Bytes changed = request;
  changed[changed.size() / 2] ^= 1;
  EXPECT_EQ(errKVCertReqPKCS10Verify(static_cast<int>(changed.size()), changed.data()), KV_CERT_BAD_REQUEST);
  EXPECT_EQ(errKVCertReqPKCS10Verify(0, request.data()), KV_CERT_BAD_LENGTH);
}

TEST(Issuing, ServiceCases) {
  svctest::FakePlatform platform;
  svctest::ScratchDir dir;
  const svctest::KeyPair& keys = svctest::SharedKeyPair();
  const KeyPair pair{keys.publicKey, keys.privateKey};
  const int privLen = static_cast<int>(keys.privateKey.size());
  const int pubLen = static_cast<int>(keys.publicKey.size());

  // An empty common name gives two attributes, country then organization.
  {
    Issued out;
    ASSERT_EQ(Issue(pair, Names("US", "Example Org", ""), keys.privateKey, Names("US", "Example Org", "ca"),
                    dir.File("two.crt"), &out),
              0);
    C_CERT_REQUEST_FIELDS f{};
    ASSERT_EQ(C_GetCertRequestFields(out.requestObject, &f), 0);
    uint32_t count = 0;
    ASSERT_EQ(C_GetNameAVACount(f.subject, &count), 0);
    EXPECT_EQ(count, 2u);
  }
  // A one-letter country: the toolkit's code for the two octets "U\0".
  {
    C_NAME_OBJ name = nullptr;
    ASSERT_EQ(C_CreateNameObject(&name), 0);
    const unsigned char oid[] = {0x55, 0x04, 0x06};
    const int expected = C_AddNameAVA(name, oid, 3, C_TAG_PRINTABLE_STRING,
                                      reinterpret_cast<const unsigned char*>("U"), 2, 1, nullptr);
    C_DestroyNameObject(&name);
    ASSERT_NE(expected, 0);
    Issued out;
    EXPECT_EQ(Issue(pair, Names("U", "Org", "cn"), keys.privateKey, Names("US", "Org", "ca"), dir.File("u.crt"), &out),
              expected);
    EXPECT_EQ(out.request, nullptr);
  }
  // A directory that does not exist: -1, nothing made.
  {
    Issued out;
    const std::string missing = dir.File("no-such-dir");
    testing::internal::CaptureStdout();
    const int status = Issue(pair, Names("US", "Org", "host"), keys.privateKey, Names("US", "Org", "ca"),
                             missing + "/x.crt", &out);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, -1);
    EXPECT_NE(printed.find("Could not open certificate file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_NE(out.certificate, nullptr);  // the buffer was handed out before the file
  }
  // A request signed by another key: the toolkit's 1829.
  {
    const KeyPair other = Generate(64);
    Issued out;
    ASSERT_EQ(errKVGenCertReq(static_cast<int>(other.privateKey.size()), other.privateKey.data(), pubLen,
                              keys.publicKey.data(), Names("US", "Org", "host"), &out.request, &out.requestLength,
                              &out.requestObject, 0),
              0);
    EXPECT_EQ(errKVGenCert(dir.File("foreign.crt").c_str(), privLen, keys.privateKey.data(), Names("US", "Org", "ca"),
                           out.requestLength, out.request, &out.certObject, &out.certificateLength, &out.certificate,
                           0),
              C_ERR_REQUEST_SIGNATURE);
    EXPECT_FALSE(std::filesystem::exists(dir.File("foreign.crt")));
  }
  // Bad keys.
  {
    Issued out;
    EXPECT_EQ(errKVGenCertReq(pubLen, keys.publicKey.data(), pubLen, keys.publicKey.data(), Names("US", "O", "c"),
                              &out.request, &out.requestLength, &out.requestObject, 0),
              KV_KEY_INVALID_DATA);
    EXPECT_EQ(errKVGenCertReq(privLen, keys.privateKey.data(), -1, keys.publicKey.data(), Names("US", "O", "c"),
                              &out.request, &out.requestLength, &out.requestObject, 0),
              KV_REQ_SET_FIELDS_FAILED);
    EXPECT_EQ(errKVGenCert(dir.File("k.crt").c_str(), pubLen, keys.publicKey.data(), Names("US", "O", "c"), 10,
                           keys.publicKey.data(), &out.certObject, &out.certificateLength, &out.certificate, 0),
              KV_CERT_BAD_SIGNING_KEY);
  }
  // The first create interface: subject bounds, and a certificate that
  // verifies.
  int length = 0;
  unsigned char* cert = nullptr;
  EXPECT_EQ(errKVCertX509Create(privLen, keys.privateKey.data(), "Issuer", pubLen, keys.publicKey.data(), "abc", 0,
                                nullptr, &length, &cert),
            KV_CERT_BAD_SUBJECT_NAME);
  EXPECT_EQ(errKVCertX509Create(privLen, keys.privateKey.data(), std::string(256, 'i').c_str(), pubLen,
                                keys.publicKey.data(), "abcd", 0, nullptr, &length, &cert),
            KV_CERT_BAD_CA_NAME);
  EXPECT_EQ(errKVCertX509Create(0, keys.privateKey.data(), "Issuer", pubLen, keys.publicKey.data(), "abcd", 0, nullptr,
                                &length, &cert),
            KV_CERT_BAD_LENGTH);
  EXPECT_EQ(errKVCertX509Create(privLen, keys.privateKey.data(), "Issuer", pubLen, keys.publicKey.data(), "abcd", -1,
                                nullptr, &length, &cert),
            KV_CERT_BAD_LENGTH);
  EXPECT_EQ(cert, nullptr);
  ASSERT_EQ(errKVCertX509Create(privLen, keys.privateKey.data(), "Issuer", pubLen, keys.publicKey.data(),
                                "host.example", 0, nullptr, &length, &cert),
            0);
  EXPECT_EQ(errKVCertX509Verify(pubLen, keys.publicKey.data(), length, cert), 0);
  vKVCertFreeCert(cert);
  // The first request interface.
  unsigned char* request = nullptr;
  int requestLength = 0;
  EXPECT_EQ(errKVCertReqPKCS10Create(privLen, keys.privateKey.data(), pubLen, keys.publicKey.data(), "abc", 0,
                                     nullptr, &requestLength, &request),
            KV_CERT_BAD_SUBJECT_NAME);
  ASSERT_EQ(errKVCertReqPKCS10Create(privLen, keys.privateKey.data(), pubLen, keys.publicKey.data(), "host.example",
                                     0, nullptr, &requestLength, &request),
            0);
  EXPECT_EQ(errKVCertReqPKCS10Verify(requestLength, request), 0);
  vKVCertReqFreeReq(request);
}

TEST(CertificateFile, ReadingLimits) {
  svctest::ScratchDir dir;
  int length = 123;
  unsigned char* buffer = nullptr;
  EXPECT_EQ(errKVCertReadFromFile(dir.File("missing.crt").c_str(), &length, &buffer), KV_CERT_FILE_NOT_FOUND);
  WriteFile(dir.File("empty.crt"), Bytes());
  EXPECT_EQ(errKVCertReadFromFile(dir.File("empty.crt").c_str(), &length, &buffer), KV_CERT_BAD_CERTIFICATE);
  WriteFile(dir.File("big.crt"), Bytes(2 * 1024 * 1024, 0x30));
  EXPECT_EQ(errKVCertReadFromFile(dir.File("big.crt").c_str(), &length, &buffer), KV_CERT_BAD_CERTIFICATE);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(length, 123);
  // Exactly the limit is read.
  WriteFile(dir.File("limit.crt"), Bytes(KV_CERT_MAX_FILE_SIZE, 0x30));
  ASSERT_EQ(errKVCertReadFromFile(dir.File("limit.crt").c_str(), &length, &buffer), 0);
  EXPECT_EQ(length, KV_CERT_MAX_FILE_SIZE);
  vKVCertFreeCert(buffer);
  vKVCertFreeCert(nullptr);
  vKVCertReqFreeReq(nullptr);
}

// errKVGenCert in a child process whose file size limit is |limit| bytes
// (SIGXFSZ ignored, so the write fails with EFBIG). Returns the child's
// result and what it printed.
int IssueWithFileLimit(const std::string& path, rlim_t limit, std::string* printed) {
  const svctest::KeyPair& keys = svctest::SharedKeyPair();
  const KeyPair pair{keys.publicKey, keys.privateKey};
  const std::string log = path + ".stdout";
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    std::freopen(log.c_str(), "w", stdout);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    Issued out;
    const int status = Issue(pair, Names("US", "Org", "host"), keys.privateKey, Names("US", "Org", "ca"), path, &out);
    std::fflush(stdout);
    _exit(status == -1 ? 1 : status == 0 ? 0 : 2);
  }
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  const Bytes text = ReadFile(log);
  *printed = std::string(text.begin(), text.end());
  std::remove(log.c_str());
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

TEST(CertificateFile, FailedWriteLeavesNoPartialFileAndTheOldOneUnchanged) {
  svctest::SharedKeyPair();  // made before the fork
  svctest::ScratchDir dir;
  const std::string target = dir.File("server.crt");
  std::string printed;
  // A new file: nothing is left behind.
  EXPECT_EQ(IssueWithFileLimit(target, 100, &printed), 1);
  EXPECT_NE(printed.find("*** Error: Could not write cerificate to disk. ***"), std::string::npos) << printed;
  EXPECT_FALSE(std::filesystem::exists(target));
  // An existing file keeps its bytes.
  const Bytes old(50, 0x42);
  WriteFile(target, old);
  EXPECT_EQ(IssueWithFileLimit(target, 100, &printed), 1);
  EXPECT_EQ(ReadFile(target), old);
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(target).parent_path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);  // no temporary file either
  // Without the limit the old file is replaced whole.
  EXPECT_EQ(IssueWithFileLimit(target, RLIM_INFINITY, &printed), 0);
  const Bytes now = ReadFile(target);
  EXPECT_GT(now.size(), 100u);
  EXPECT_EQ(now[0], 0x30);
}

}  // namespace
