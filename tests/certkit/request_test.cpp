// Certificate request objects: requests made from fields and signed here,
// requests made by the openssl command line, hand-built encodings for the
// refusals, and certificates set from requests.
#include <gtest/gtest.h>

#include <string>

#include "cert_fixture.h"
#include "certkit/certkit.h"
#include "support/memory_hooks.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::CertFiles;
using cktest::Key;

const uint8_t kCountry[] = {0x55, 0x04, 0x06};
const uint8_t kOrganization[] = {0x55, 0x04, 0x0A};
const uint8_t kCommonName[] = {0x55, 0x04, 0x03};

// DER of one element with a short or long definite length.
Bytes Tlv(uint8_t tag, const Bytes& content) {
  const size_t n = content.size();
  Bytes out;
  out.reserve(n + 4);
  out.push_back(tag);
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
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) {
    for (uint8_t b : p) out.push_back(b);
  }
  return out;
}
// A Name of one RDN per attribute, PrintableString values.
Bytes Name(std::initializer_list<std::pair<Bytes, std::string>> avas) {
  Bytes rdns;
  for (const auto& [oid, value] : avas) {
    Bytes ava = Tlv(0x30, Cat({Tlv(0x06, oid), Tlv(0x13, Bytes(value.begin(), value.end()))}));
    rdns = Cat({rdns, Tlv(0x31, ava)});
  }
  return Tlv(0x30, rdns);
}
const Bytes kSha1WithRsa = cktest::Hex("300d06092a864886f70d0101050500");

struct Request {
  C_CERT_REQUEST_OBJ req = nullptr;
  Request() { C_CreateCertRequestObject(&req); }
  ~Request() { C_DestroyCertRequestObject(&req); }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  int Set(const Bytes& der) { return C_SetCertRequestBER(req, der.data(), static_cast<uint32_t>(der.size())); }
  Bytes Der() const {
    const unsigned char* p = nullptr;
    uint32_t n = 0;
    if (C_GetCertRequestDER(req, &p, &n) != 0) return Bytes();
    return Bytes(p, p + n);
  }
  C_CERT_REQUEST_FIELDS Fields() const {
    C_CERT_REQUEST_FIELDS f{};
    C_GetCertRequestFields(req, &f);
    return f;
  }
};

// A request for |publicKey| with C/O/CN names, signed with |privateKey|.
Bytes MakeRequest(const Bytes& publicKey, const Bytes& privateKey, uint32_t algorithm = C_SIG_SHA1_WITH_RSA,
                  Bytes* digest = nullptr) {
  Request r;
  C_CERT_REQUEST_FIELDS f = r.Fields();
  const std::string c = "US", o = "Example Org", cn = "host.example";
  EXPECT_EQ(C_AddNameAVA(f.subject, kCountry, 3, C_TAG_PRINTABLE_STRING, reinterpret_cast<const uint8_t*>(c.data()),
                         2, 1, nullptr), 0);
  EXPECT_EQ(C_AddNameAVA(f.subject, kOrganization, 3, C_TAG_T61_STRING, reinterpret_cast<const uint8_t*>(o.data()),
                         static_cast<uint32_t>(o.size()), 1, nullptr), 0);
  EXPECT_EQ(C_AddNameAVA(f.subject, kCommonName, 3, C_TAG_T61_STRING, reinterpret_cast<const uint8_t*>(cn.data()),
                         static_cast<uint32_t>(cn.size()), 1, nullptr), 0);
  f.publicKey = C_ITEM{publicKey.data(), static_cast<uint32_t>(publicKey.size())};
  EXPECT_EQ(C_SetCertRequestFields(r.req, &f), 0);
  EXPECT_EQ(r.Der(), Bytes());
  const unsigned char* p = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(C_GetCertRequestDER(r.req, &p, &n), C_ERR_NOT_SIGNED);
  Key key(QK_RSAPrivateBER, privateKey);
  uint8_t out[C_REQUEST_DIGEST_MAX] = {};
  uint32_t outLen = 0;
  EXPECT_EQ(C_SignCertRequest(r.req, key.key, nullptr, algorithm, out, &outLen, sizeof out, nullptr), 0);
  if (digest != nullptr) *digest = Bytes(out, out + outLen);
  return r.Der();
}

// The information part of a request encoding.
Bytes InfoOf(const Bytes& der) {
  const uint32_t headerLen = der[1] & 0x80 ? 2 + (der[1] & 0x7F) : 2;
  const uint8_t* info = der.data() + headerLen;
  const uint32_t infoHeader = info[1] & 0x80 ? 2 + (info[1] & 0x7F) : 2;
  uint32_t infoLen = 0;
  if (info[1] & 0x80) {
    for (uint32_t i = 0; i < (info[1] & 0x7Fu); ++i) infoLen = infoLen << 8 | info[2 + i];
  } else {
    infoLen = info[1];
  }
  return Bytes(info, info + infoHeader + infoLen);
}

std::string WriteTemp(const std::string& name, const Bytes& bytes) {
  const std::string path = CertFiles::Get().Scratch(name);
  cktest::WriteFile(path, bytes.data(), static_cast<uint32_t>(bytes.size()));
  return path;
}

TEST(Request, MadeHereReadsBackVerifiesAndPassesOpenssl) {
  REQUIRE_CERT_FILES();
  const Bytes publicKey = CertFiles::Get().PublicKey("leaf");
  Bytes signDigest;
  const Bytes der = MakeRequest(publicKey, CertFiles::Get().PrivateKey("leaf"), C_SIG_SHA1_WITH_RSA, &signDigest);
  ASSERT_FALSE(der.empty());
  // No attributes: A0 00 right after the public key, ending the information part.
  const Bytes info = InfoOf(der);
  ASSERT_GE(info.size(), publicKey.size() + 2);
  EXPECT_EQ(Bytes(info.end() - 2, info.end()), (Bytes{0xA0, 0x00}));
  EXPECT_EQ(Bytes(info.end() - 2 - publicKey.size(), info.end() - 2), publicKey);

  Request r;
  ASSERT_EQ(r.Set(der), 0);
  EXPECT_EQ(r.Der(), der);
  uint8_t digest[C_REQUEST_DIGEST_MAX];
  uint32_t digestLen = 0;
  EXPECT_EQ(C_VerifyCertRequestSignature(r.req, digest, &digestLen, sizeof digest, nullptr), 0);
  EXPECT_EQ(Bytes(digest, digest + digestLen), signDigest);
  EXPECT_EQ(digestLen, 20u);
  const C_CERT_REQUEST_FIELDS f = r.Fields();
  EXPECT_EQ(f.version, 0u);
  EXPECT_EQ(Bytes(f.publicKey.data, f.publicKey.data + f.publicKey.len), publicKey);
  uint32_t count = 0;
  EXPECT_EQ(C_GetNameAVACount(f.subject, &count), 0);
  EXPECT_EQ(count, 3u);

  std::string text;
  const std::string path = WriteTemp("ours.req", der);
  EXPECT_EQ(cktest::Run("openssl req -inform DER -in " + path + " -noout -verify 2>&1", &text), 0) << text;
  EXPECT_EQ(cktest::Run("openssl req -inform DER -in " + path + " -noout -subject -nameopt RFC2253", &text), 0);
  EXPECT_EQ(text, "subject=CN=host.example,O=Example Org,C=US\n");
  // With md5WithRSAEncryption too.
  const Bytes md5 = MakeRequest(publicKey, CertFiles::Get().PrivateKey("leaf"), C_SIG_MD5_WITH_RSA);
  EXPECT_EQ(cktest::Run("openssl req -inform DER -in " + WriteTemp("md5.req", md5) + " -noout -verify"), 0);
}

TEST(Request, Sha2RequestsGiveTheirWholeDigestsAndPassOpenssl) {
  REQUIRE_CERT_FILES();
  const Bytes publicKey = CertFiles::Get().PublicKey("leaf");
  const struct {
    uint32_t algorithm;
    uint32_t digestLen;
    const char* dgst;
  } cases[] = {{C_SIG_SHA256_WITH_RSA, 32, "-sha256"}, {C_SIG_SHA384_WITH_RSA, 48, "-sha384"},
               {C_SIG_SHA512_WITH_RSA, 64, "-sha512"}};
  for (const auto& c : cases) {
    Bytes signDigest;
    const Bytes der = MakeRequest(publicKey, CertFiles::Get().PrivateKey("leaf"), c.algorithm, &signDigest);
    ASSERT_FALSE(der.empty()) << c.dgst;
    EXPECT_EQ(signDigest.size(), c.digestLen) << c.dgst;
    // The digest is the information part's, as openssl computes it.
    std::string out;
    ASSERT_EQ(cktest::Run("openssl dgst " + std::string(c.dgst) + " -r " + WriteTemp("info.bin", InfoOf(der)), &out),
              0);
    EXPECT_EQ(out.substr(0, 2 * c.digestLen), cktest::ToHex(signDigest.data(), c.digestLen)) << c.dgst;
    EXPECT_EQ(cktest::Run("openssl req -inform DER -in " + WriteTemp("sha2.req", der) + " -noout -verify"), 0)
        << c.dgst;
    // A certificate made from the request hands out the same whole digest.
    cktest::Cert cert;
    uint8_t digest[C_REQUEST_DIGEST_MAX];
    uint32_t digestLen = 0;
    ASSERT_EQ(C_SetCertFromRequest(cert.cert, nullptr, der.data(), static_cast<uint32_t>(der.size()), digest,
                                   &digestLen, nullptr),
              0);
    EXPECT_EQ(Bytes(digest, digest + digestLen), signDigest) << c.dgst;
  }
}

TEST(Request, OpensslRequestWithAttributesIsReadVerifiedAndReencodedOctetForOctet) {
  REQUIRE_CERT_FILES();
  const std::string config = CertFiles::Get().Scratch("attrs.cnf");
  std::ofstream(config) << "[req]\ndistinguished_name = dn\nattributes = ra\nstring_mask = nombstr\nprompt = no\n"
                           "[dn]\nC = GB\nO = Attr Org\nCN = attr.example\n"
                           "[ra]\nchallengePassword = secret99\nunstructuredName = Unit Name\n";
  const std::string out = CertFiles::Get().Scratch("attrs.req");
  ASSERT_EQ(cktest::Run("openssl req -new -sha1 -config " + config + " -key " + CertFiles::Get().Path("leaf.pem") +
                        " -outform DER -out " + out),
            0);
  const Bytes der = cktest::ReadFile(out);
  Request r;
  ASSERT_EQ(r.Set(der), 0);
  EXPECT_EQ(C_VerifyCertRequestSignature(r.req, nullptr, nullptr, 0, nullptr), 0);
  C_CERT_REQUEST_FIELDS f = r.Fields();
  uint32_t count = 0;
  EXPECT_EQ(C_GetAttributeCount(f.attributes, &count), 0);
  EXPECT_EQ(count, 2u);

  // The fields of the read request, set into a new request, encode the same
  // information part.
  Request copy;
  ASSERT_EQ(C_SetCertRequestFields(copy.req, &f), 0);
  Key key(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("leaf"));
  ASSERT_EQ(C_SignCertRequest(copy.req, key.key, nullptr, C_SIG_SHA1_WITH_RSA, nullptr, nullptr, 0, nullptr), 0);
  EXPECT_EQ(InfoOf(copy.Der()), InfoOf(der));

  // The attributes reach a certificate made from the request.
  cktest::Cert cert;
  C_ATTRIBUTES_OBJ attributes = nullptr;
  ASSERT_EQ(C_CreateAttributesObject(&attributes), 0);
  uint8_t digest[C_REQUEST_DIGEST_MAX];
  uint32_t digestLen = 0;
  ASSERT_EQ(C_SetCertFromRequest(cert.cert, attributes, der.data(), static_cast<uint32_t>(der.size()), digest,
                                 &digestLen, nullptr),
            0);
  EXPECT_EQ(digestLen, 20u);
  const unsigned char* a = nullptr;
  uint32_t aLen = 0;
  const unsigned char* b = nullptr;
  uint32_t bLen = 0;
  EXPECT_EQ(C_GetAttributesDER(attributes, &a, &aLen), 0);
  EXPECT_EQ(C_GetAttributesDER(f.attributes, &b, &bLen), 0);
  EXPECT_EQ(Bytes(a, a + aLen), Bytes(b, b + bLen));
  EXPECT_EQ(C_GetAttributeCount(attributes, &count), 0);
  EXPECT_EQ(count, 2u);
  C_DestroyAttributesObject(&attributes);
  EXPECT_EQ(attributes, nullptr);
}

TEST(Request, CertificateFromRequestIsSelfIssuedVersion1Md5ForOneYear) {
  REQUIRE_CERT_FILES();
  const Bytes publicKey = CertFiles::Get().PublicKey("leaf");
  const Bytes der = MakeRequest(publicKey, CertFiles::Get().PrivateKey("leaf"));
  QMem_TestHooks hooks;
  hooks.clock = [](void*) -> int64_t { return 1700000000; };
  QMem_SetTestHooks(&hooks);
  cktest::Cert cert;
  const int status = C_SetCertFromRequest(cert.cert, nullptr, der.data(), static_cast<uint32_t>(der.size()), nullptr,
                                          nullptr, nullptr);
  QMem_SetTestHooks(nullptr);
  ASSERT_EQ(status, 0);
  C_CERT_FIELDS f{};
  ASSERT_EQ(C_GetCertFields(cert.cert, &f), 0);
  EXPECT_EQ(f.version, 0u);
  EXPECT_EQ(f.signatureAlgorithm, static_cast<uint32_t>(C_SIG_MD5_WITH_RSA));
  EXPECT_EQ(f.notBefore, 1700000000u);
  EXPECT_EQ(f.notAfter - f.notBefore, 31535999u);
  EXPECT_EQ(Bytes(f.publicKey.data, f.publicKey.data + f.publicKey.len), publicKey);
  const unsigned char *issuer = nullptr, *subject = nullptr;
  uint32_t issuerLen = 0, subjectLen = 0;
  ASSERT_EQ(C_GetNameDER(f.issuer, &issuer, &issuerLen), 0);
  ASSERT_EQ(C_GetNameDER(f.subject, &subject, &subjectLen), 0);
  EXPECT_EQ(Bytes(issuer, issuer + issuerLen), Bytes(subject, subject + subjectLen));
  EXPECT_GT(issuerLen, 2u);
  // Unsigned until signed.
  EXPECT_TRUE(cert.Der().empty());
  Key key(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("leaf"));
  ASSERT_EQ(C_SignCert(cert.cert, key.key, nullptr, nullptr), 0);
  Key pub(QK_RSAPublicBER, publicKey);
  EXPECT_EQ(C_VerifyCertSignature(cert.cert, pub.key, nullptr), 0);
}

// The year from the clock hook: past the 32-bit range the validity still
// comes out, written as GeneralizedTime; one that would end after 9999 is
// refused.
TEST(Request, CertificateFromRequestAtLateClocks) {
  REQUIRE_CERT_FILES();
  const Bytes der = MakeRequest(CertFiles::Get().PublicKey("leaf"), CertFiles::Get().PrivateKey("leaf"));
  struct Row {
    int64_t now;
    int status;
  };
  for (const Row& r : {Row{2524607999, 0}, Row{5000000000, 0}, Row{253402300799 - 31535999, 0},
                       Row{253402300799 - 31535998, C_ERR_VALIDITY}}) {
    SCOPED_TRACE(r.now);
    static int64_t now;
    now = r.now;
    QMem_TestHooks hooks;
    hooks.clock = [](void*) { return now; };
    QMem_SetTestHooks(&hooks);
    cktest::Cert cert;
    const int status = C_SetCertFromRequest(cert.cert, nullptr, der.data(), static_cast<uint32_t>(der.size()),
                                            nullptr, nullptr, nullptr);
    QMem_SetTestHooks(nullptr);
    ASSERT_EQ(status, r.status);
    if (status != 0) continue;
    C_CERT_FIELDS f{};
    ASSERT_EQ(C_GetCertFields(cert.cert, &f), 0);
    EXPECT_EQ(f.notBefore, r.now);
    EXPECT_EQ(f.notAfter, r.now + 31535999);
  }
}

TEST(Request, RefusalsAndTheirCodes) {
  REQUIRE_CERT_FILES();
  const Bytes leafPublic = CertFiles::Get().PublicKey("leaf");
  // Signed by another key: reads, but does not verify.
  const Bytes foreign = MakeRequest(leafPublic, CertFiles::Get().PrivateKey("ca"));
  Request r;
  ASSERT_EQ(r.Set(foreign), 0);
  EXPECT_EQ(C_VerifyCertRequestSignature(r.req, nullptr, nullptr, 0, nullptr), C_ERR_REQUEST_SIGNATURE);
  cktest::Cert cert;
  EXPECT_EQ(C_SetCertFromRequest(cert.cert, nullptr, foreign.data(), static_cast<uint32_t>(foreign.size()), nullptr,
                                 nullptr, nullptr),
            C_ERR_REQUEST_SIGNATURE);

  // Hand-built information parts around the leaf key.
  const Bytes goodName = Name({{Bytes(kCountry, kCountry + 3), "US"}, {Bytes(kCommonName, kCommonName + 3), "x"}});
  auto request = [&](const Bytes& version, const Bytes& name, const Bytes& attributes) {
    const Bytes info = Tlv(0x30, Cat({Tlv(0x02, version), name, leafPublic, attributes}));
    return Tlv(0x30, Cat({info, kSha1WithRsa, Tlv(0x03, Bytes(129, 0))}));
  };
  struct Case {
    const char* what;
    Bytes der;
    int status;
  } cases[] = {
      {"version 1", request({0x01}, goodName, {0xA0, 0x00}), C_ERR_REQUEST_VERSION},
      {"three-letter country", request({0x00}, Name({{Bytes(kCountry, kCountry + 3), "USA"}}), {0xA0, 0x00}),
       C_ERR_REQUEST_SUBJECT},
      {"attributes not a SET OF Attribute", request({0x00}, goodName, {0xA0, 0x03, 0x02, 0x01, 0x00}),
       C_ERR_BAD_ENCODING},
      {"attribute with an empty type", request({0x00}, goodName, Tlv(0xA0, Tlv(0x30, {0x06, 0x00, 0x31, 0x00}))),
       C_ERR_REQUEST_ATTRIBUTES},
      {"not a request", cktest::Hex("3003020100"), C_ERR_BAD_ENCODING},
      {"no [0] element", request({0x00}, goodName, {}), 0},
  };
  for (const Case& c : cases) {
    Request q;
    EXPECT_EQ(q.Set(c.der), c.status) << c.what;
    if (c.status != 0) {
      EXPECT_EQ(q.Der(), Bytes()) << c.what;
    }
  }
  // A certificate from a request that cannot be read: 1839.
  const Bytes bad = request({0x01}, goodName, {0xA0, 0x00});
  EXPECT_EQ(C_SetCertFromRequest(cert.cert, nullptr, bad.data(), static_cast<uint32_t>(bad.size()), nullptr, nullptr,
                                 nullptr),
            C_ERR_BAD_REQUEST);

  // A record with version 1, and one whose key is not a key.
  Request fresh;
  C_CERT_REQUEST_FIELDS f = fresh.Fields();
  f.publicKey = C_ITEM{leafPublic.data(), static_cast<uint32_t>(leafPublic.size())};
  f.version = 1;
  EXPECT_EQ(C_SetCertRequestFields(fresh.req, &f), C_ERR_REQUEST_VERSION);
  f.version = 0;
  const Bytes notKey = cktest::Hex("3003020100");
  f.publicKey = C_ITEM{notKey.data(), static_cast<uint32_t>(notKey.size())};
  EXPECT_NE(C_SetCertRequestFields(fresh.req, &f), 0);
}

TEST(Request, RequestWithoutAttributesElementVerifies) {
  REQUIRE_CERT_FILES();
  // The information part without [0], signed by openssl.
  const Bytes leafPublic = CertFiles::Get().PublicKey("leaf");
  const Bytes info = Tlv(0x30, Cat({Tlv(0x02, {0x00}), Name({{Bytes(kCommonName, kCommonName + 3), "bare"}}),
                                    leafPublic}));
  const std::string infoPath = WriteTemp("bare.info", info);
  const std::string sigPath = CertFiles::Get().Scratch("bare.sig");
  ASSERT_EQ(cktest::Run("openssl dgst -sha1 -sign " + CertFiles::Get().Path("leaf.pem") + " -out " + sigPath + " " +
                        infoPath),
            0);
  const Bytes signature = Cat({Bytes(1, 0x00), cktest::ReadFile(sigPath)});
  const Bytes der = Tlv(0x30, Cat({info, kSha1WithRsa, Tlv(0x03, signature)}));
  Request r;
  ASSERT_EQ(r.Set(der), 0);
  EXPECT_EQ(C_VerifyCertRequestSignature(r.req, nullptr, nullptr, 0, nullptr), 0);
  uint32_t count = 1;
  EXPECT_EQ(C_GetAttributeCount(r.Fields().attributes, &count), 0);
  EXPECT_EQ(count, 0u);
}

TEST(Request, HandlesAndPointersAreCheckedFirst) {
  C_NAME_OBJ name = nullptr;
  ASSERT_EQ(C_CreateNameObject(&name), 0);
  auto* notRequest = reinterpret_cast<C_CERT_REQUEST_OBJ>(name);
  C_CERT_REQUEST_FIELDS f{};
  const unsigned char* p = nullptr;
  uint32_t n = 0;
  const uint8_t byte = 0x30;
  EXPECT_EQ(C_SetCertRequestBER(notRequest, &byte, 1), C_ERR_NOT_REQUEST_OBJ);
  EXPECT_EQ(C_GetCertRequestFields(notRequest, &f), C_ERR_NOT_REQUEST_OBJ);
  EXPECT_EQ(C_SetCertRequestFields(nullptr, &f), C_ERR_NOT_REQUEST_OBJ);
  EXPECT_EQ(C_SignCertRequest(notRequest, nullptr, nullptr, 8, nullptr, nullptr, 0, nullptr), C_ERR_NOT_REQUEST_OBJ);
  EXPECT_EQ(C_GetCertRequestDER(notRequest, &p, &n), C_ERR_NOT_REQUEST_OBJ);
  EXPECT_EQ(C_VerifyCertRequestSignature(notRequest, nullptr, nullptr, 0, nullptr), C_ERR_NOT_REQUEST_OBJ);
  EXPECT_EQ(C_SetCertFromRequest(reinterpret_cast<C_CERT_OBJ>(name), nullptr, &byte, 1, nullptr, nullptr, nullptr),
            C_ERR_NOT_CERT_OBJ);
  C_DestroyCertRequestObject(&notRequest);  // another kind: left alone
  EXPECT_NE(notRequest, nullptr);
  C_DestroyNameObject(&name);

  Request r;
  EXPECT_EQ(C_SetCertRequestBER(r.req, nullptr, 5), C_ERR_INPUT_DATA);
  EXPECT_EQ(C_GetCertRequestFields(r.req, nullptr), C_ERR_NULL_REQUEST_FIELDS);
  EXPECT_EQ(C_SetCertRequestFields(r.req, nullptr), C_ERR_NULL_REQUEST_FIELDS);
  EXPECT_EQ(C_SignCertRequest(r.req, nullptr, nullptr, 8, nullptr, nullptr, 0, nullptr), C_ERR_PRIVATE_KEY);
  EXPECT_EQ(C_GetCertRequestDER(r.req, nullptr, &n), C_ERR_NULL_OUTPUT);
  EXPECT_EQ(C_VerifyCertRequestSignature(r.req, nullptr, nullptr, 0, nullptr), C_ERR_PUBLIC_KEY);
  cktest::Cert cert;
  EXPECT_EQ(C_SetCertFromRequest(cert.cert, nullptr, nullptr, 0, nullptr, nullptr, nullptr), C_ERR_INPUT_DATA);
  const Bytes garbage = cktest::Hex("30020500");
  EXPECT_EQ(C_SetAttributesDER(r.Fields().attributes, garbage.data(), 4), C_ERR_REQUEST_ATTRIBUTES);
}

TEST(RequestAllocationFailure, ReadingVerifyingAndIssuing) {
  REQUIRE_CERT_FILES();
  const Bytes der = MakeRequest(CertFiles::Get().PublicKey("leaf"), CertFiles::Get().PrivateKey("leaf"));
  cktest::Cert cert;
  uint64_t total = testsupport::ForEachAllocationFailure(
      [&] {
        return C_SetCertFromRequest(cert.cert, nullptr, der.data(), static_cast<uint32_t>(der.size()), nullptr,
                                    nullptr, nullptr);
      },
      [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, C_ERR_ALLOC) << "at allocation " << watch.allocations();
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
      });
  EXPECT_GT(total, 20u);
}

TEST(RequestAllocationFailure, SettingFieldsAndSigning) {
  REQUIRE_CERT_FILES();
  const Bytes publicKey = CertFiles::Get().PublicKey("leaf");
  Key key(QK_RSAPrivateBER, CertFiles::Get().PrivateKey("leaf"));
  const std::string cn = "alloc.example";
  auto operation = [&]() -> int {
    C_CERT_REQUEST_OBJ req = nullptr;
    int status = C_CreateCertRequestObject(&req);
    C_CERT_REQUEST_FIELDS f{};
    if (status == 0) status = C_GetCertRequestFields(req, &f);
    if (status == 0) {
      status = C_AddNameAVA(f.subject, kCommonName, 3, C_TAG_PRINTABLE_STRING,
                            reinterpret_cast<const uint8_t*>(cn.data()), static_cast<uint32_t>(cn.size()), 1, nullptr);
    }
    f.publicKey = C_ITEM{publicKey.data(), static_cast<uint32_t>(publicKey.size())};
    if (status == 0) status = C_SetCertRequestFields(req, &f);
    if (status == 0) status = C_SignCertRequest(req, key.key, nullptr, C_SIG_SHA1_WITH_RSA, nullptr, nullptr, 0, nullptr);
    if (status == 0) status = C_VerifyCertRequestSignature(req, nullptr, nullptr, 0, nullptr);
    C_DestroyCertRequestObject(&req);
    return status;
  };
  uint64_t total = testsupport::ForEachAllocationFailure(
      operation, [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, C_ERR_ALLOC) << "at allocation " << watch.allocations();
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
      });
  EXPECT_GT(total, 10u);
}

}  // namespace
