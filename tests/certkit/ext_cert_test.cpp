// Certificates with extensions and SHA-2 signatures made with the toolkit
// alone: a root and a server certificate of the modern profile, read back
// and verified here, shown by `openssl x509 -text` and checked by
// `openssl verify -x509_strict`, which must also refuse a leaf whose
// authority key identifier is wrong and a root that may not sign
// certificates.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "cert_fixture.h"
#include "certkit/certkit.h"
#include "cryptokit/qmemory.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::CertFiles;
using cktest::Hex;
using cktest::Key;

const Bytes kCnOid = {0x55, 0x04, 0x03};
const Bytes kIp4 = {10, 1, 2, 3};
const Bytes kIp6 = Hex("20010DB8000000000000000000000001");

// A builder's block, released wiped.
struct Value {
  unsigned char* data = nullptr;
  uint32_t len = 0;
  ~Value() { QMem_SecureRelease(data); }
};

using AddExtensions = std::function<void(C_EXTENSIONS_OBJ)>;

void Add(C_EXTENSIONS_OBJ e, const unsigned char* oid, uint32_t critical, const Value& v) {
  ASSERT_NE(v.data, nullptr);
  ASSERT_EQ(C_AddExtension(e, oid, C_OID_EXT_LEN, critical, v.data, v.len), 0);
}

// Root extensions: basicConstraints critical cA TRUE pathLen 0, keyUsage
// critical |usage|, the subject key identifier of |spki|.
void RootExtensions(C_EXTENSIONS_OBJ e, const Bytes& spki, uint32_t usage) {
  Value bc, ku, ski;
  ASSERT_EQ(C_BuildBasicConstraints(1, 0, &bc.data, &bc.len), 0);
  ASSERT_EQ(C_BuildKeyUsage(usage, &ku.data, &ku.len), 0);
  ASSERT_EQ(C_BuildSubjectKeyIdentifier(spki.data(), static_cast<uint32_t>(spki.size()), &ski.data, &ski.len), 0);
  Add(e, C_OID_BASIC_CONSTRAINTS, 1, bc);
  Add(e, C_OID_KEY_USAGE, 1, ku);
  Add(e, C_OID_SUBJECT_KEY_ID, 0, ski);
}

// Server extensions: basicConstraints critical cA FALSE, keyUsage critical
// digitalSignature and keyEncipherment, EKU serverAuth, SAN with a name and
// two addresses, SKI, and AKI |authorityKeyId|.
void ServerExtensions(C_EXTENSIONS_OBJ e, const Bytes& spki, const Bytes& authorityKeyId) {
  Value bc, ku, eku, san, ski, aki;
  ASSERT_EQ(C_BuildBasicConstraints(0, -1, &bc.data, &bc.len), 0);
  ASSERT_EQ(C_BuildKeyUsage(C_KU_DIGITAL_SIGNATURE | C_KU_KEY_ENCIPHERMENT, &ku.data, &ku.len), 0);
  const C_ITEM purposes[] = {{C_OID_KP_SERVER_AUTH, C_OID_KP_LEN}};
  ASSERT_EQ(C_BuildExtendedKeyUsage(purposes, 1, &eku.data, &eku.len), 0);
  const C_GENERAL_NAME names[] = {
      {C_GN_DNS_NAME, {reinterpret_cast<const unsigned char*>("srv.example"), 11}},
      {C_GN_IP_ADDRESS, {kIp4.data(), 4}},
      {C_GN_IP_ADDRESS, {kIp6.data(), 16}},
  };
  ASSERT_EQ(C_BuildSubjectAltName(names, 3, &san.data, &san.len), 0);
  ASSERT_EQ(C_BuildSubjectKeyIdentifier(spki.data(), static_cast<uint32_t>(spki.size()), &ski.data, &ski.len), 0);
  ASSERT_EQ(C_BuildAuthorityKeyIdentifier(authorityKeyId.data(), static_cast<uint32_t>(authorityKeyId.size()),
                                          &aki.data, &aki.len),
            0);
  Add(e, C_OID_BASIC_CONSTRAINTS, 1, bc);
  Add(e, C_OID_KEY_USAGE, 1, ku);
  Add(e, C_OID_EXT_KEY_USAGE, 0, eku);
  Add(e, C_OID_SUBJECT_ALT_NAME, 0, san);
  Add(e, C_OID_SUBJECT_KEY_ID, 0, ski);
  Add(e, C_OID_AUTHORITY_KEY_ID, 0, aki);
}

void AddCn(C_NAME_OBJ name, const std::string& cn) {
  ASSERT_EQ(C_AddNameAVA(name, kCnOid.data(), 3, C_TAG_PRINTABLE_STRING,
                         reinterpret_cast<const unsigned char*>(cn.data()), static_cast<uint32_t>(cn.size()), 1,
                         nullptr),
            0);
}

// A version 3 certificate for |subjectCn| and |spki|, issued by |issuerCn|,
// valid from an hour ago for 30 days, with the extensions |add| puts into
// the object's own extensions, signed with |signer| under |algorithm|.
Bytes Issue(const std::string& subjectCn, const std::string& issuerCn, const Bytes& spki, uint8_t serial,
            const Bytes& signer, uint32_t algorithm, const AddExtensions& add) {
  cktest::Cert cert;
  C_CERT_FIELDS f{};
  EXPECT_EQ(C_GetCertFields(cert.cert, &f), 0);
  AddCn(f.subject, subjectCn);
  AddCn(f.issuer, issuerCn);
  add(f.extensions);
  const unsigned char serialOctet[] = {serial};
  f.version = C_CERT_VERSION_3;
  f.serialNumber = C_ITEM{serialOctet, 1};
  f.signatureAlgorithm = algorithm;
  f.notBefore = static_cast<int64_t>(time(nullptr)) - 3600;
  f.notAfter = f.notBefore + 30 * 86400;
  f.publicKey = C_ITEM{spki.data(), static_cast<uint32_t>(spki.size())};
  EXPECT_EQ(C_SetCertFields(cert.cert, &f), 0);
  Key key(QK_RSAPrivateBER, signer);
  EXPECT_EQ(C_SignCert(cert.cert, key.key, nullptr, nullptr), 0);
  return cert.Der();
}

Bytes KeyId(const Bytes& spki) {
  unsigned char id[C_KEY_ID_LEN];
  EXPECT_EQ(C_ComputeKeyIdentifier(spki.data(), static_cast<uint32_t>(spki.size()), id), 0);
  return Bytes(id, id + sizeof id);
}

// Writes |der| as PEM into the scratch directory; returns the path.
std::string Pem(const std::string& name, const Bytes& der) {
  const std::string path = CertFiles::Get().Scratch(name);
  cktest::WriteFile(path + ".der", der.data(), static_cast<uint32_t>(der.size()));
  EXPECT_EQ(cktest::Run("openssl x509 -inform DER -in " + path + ".der -out " + path + ".pem"), 0);
  return path + ".pem";
}

// `openssl verify -x509_strict` of |leaf| against |root| (for |purpose|
// when given): 0 when it passes.
int StrictVerify(const std::string& root, const std::string& leaf, std::string* text,
                 const std::string& purpose = "sslserver") {
  const std::string option = purpose.empty() ? "" : " -purpose " + purpose;
  // The redirection inside the parentheses: Run sends the outer stderr away.
  return cktest::Run("(openssl verify -x509_strict" + option + " -CAfile " + root + " " + leaf + " 2>&1)", text);
}

std::string Colons(const Bytes& b) {
  std::string out;
  for (size_t i = 0; i < b.size(); ++i) {
    char octet[4];
    snprintf(octet, sizeof octet, i == 0 ? "%02X" : ":%02X", b[i]);
    out += octet;
  }
  return out;
}

class ProfileCertificates : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CertFiles::Get().ok()) GTEST_SKIP() << "the openssl command line is needed";
    rootSpki_ = CertFiles::Get().PublicKey("ca");
    rootKey_ = CertFiles::Get().PrivateKey("ca");
    srvSpki_ = CertFiles::Get().PublicKey("srv");
  }
  Bytes Root(uint32_t usage) {
    return Issue("Profile Root", "Profile Root", rootSpki_, 1, rootKey_, C_SIG_SHA256_WITH_RSA,
                 [&](C_EXTENSIONS_OBJ e) { RootExtensions(e, rootSpki_, usage); });
  }
  Bytes Server(uint32_t algorithm, const Bytes& authorityKeyId) {
    return Issue("srv.example", "Profile Root", srvSpki_, 2, rootKey_, algorithm,
                 [&](C_EXTENSIONS_OBJ e) { ServerExtensions(e, srvSpki_, authorityKeyId); });
  }
  Bytes rootSpki_, rootKey_, srvSpki_;
};

TEST_F(ProfileCertificates, ReadBackAndVerifiedHere) {
  const Bytes root = Root(C_KU_KEY_CERT_SIGN | C_KU_CRL_SIGN);
  const Bytes leaf = Server(C_SIG_SHA256_WITH_RSA, KeyId(rootSpki_));
  Key rootPublic(QK_RSAPublicBER, rootSpki_);
  Key srvPublic(QK_RSAPublicBER, srvSpki_);
  const struct {
    const Bytes* der;
    uint32_t extensions;
  } cases[] = {{&root, 3}, {&leaf, 6}};
  for (const auto& c : cases) {
    cktest::Cert back;
    ASSERT_EQ(back.Set(*c.der), 0);
    EXPECT_EQ(back.Der(), *c.der);
    C_CERT_FIELDS f{};
    ASSERT_EQ(C_GetCertFields(back.cert, &f), 0);
    EXPECT_EQ(f.signatureAlgorithm, static_cast<uint32_t>(C_SIG_SHA256_WITH_RSA));
    uint32_t count = 0;
    ASSERT_EQ(C_GetExtensionCount(f.extensions, &count), 0);
    EXPECT_EQ(count, c.extensions);
    EXPECT_EQ(C_VerifyCertSignature(back.cert, rootPublic.key, nullptr), 0);
    EXPECT_EQ(C_VerifyCertSignature(back.cert, srvPublic.key, nullptr), C_ERR_CERT_SIGNATURE);
  }
  // The leaf's AKI reads back as the root's SKI.
  cktest::Cert rootBack, leafBack;
  ASSERT_EQ(rootBack.Set(root), 0);
  ASSERT_EQ(leafBack.Set(leaf), 0);
  C_CERT_FIELDS rf{}, lf{};
  C_GetCertFields(rootBack.cert, &rf);
  C_GetCertFields(leafBack.cert, &lf);
  const unsigned char *ski = nullptr, *aki = nullptr;
  uint32_t skiLen = 0, akiLen = 0;
  ASSERT_EQ(C_FindExtension(rf.extensions, C_OID_SUBJECT_KEY_ID, 3, nullptr, &ski, &skiLen), 0);
  ASSERT_EQ(C_FindExtension(lf.extensions, C_OID_AUTHORITY_KEY_ID, 3, nullptr, &aki, &akiLen), 0);
  C_ITEM keyId{};
  C_AUTHORITY_KEY_ID authority{};
  ASSERT_EQ(C_ReadSubjectKeyIdentifier(ski, skiLen, &keyId), 0);
  ASSERT_EQ(C_ReadAuthorityKeyIdentifier(aki, akiLen, &authority), 0);
  EXPECT_EQ(Bytes(keyId.data, keyId.data + keyId.len),
            Bytes(authority.keyIdentifier.data, authority.keyIdentifier.data + authority.keyIdentifier.len));
}

TEST_F(ProfileCertificates, OpensslShowsEveryExtension) {
  const Bytes root = Root(C_KU_KEY_CERT_SIGN | C_KU_CRL_SIGN);
  const Bytes leaf = Server(C_SIG_SHA256_WITH_RSA, KeyId(rootSpki_));
  std::string rootText, leafText;
  ASSERT_EQ(cktest::Run("openssl x509 -noout -text -in " + Pem("root", root), &rootText), 0);
  ASSERT_EQ(cktest::Run("openssl x509 -noout -text -in " + Pem("leaf", leaf), &leafText), 0);
  const std::string rootId = Colons(KeyId(rootSpki_));
  const std::string srvId = Colons(KeyId(srvSpki_));
  const struct {
    const std::string* text;
    std::string heading;  // the extension's line
    std::string shown;    // what the next line holds
  } cases[] = {
      {&rootText, "X509v3 Basic Constraints: critical", "CA:TRUE, pathlen:0"},
      {&rootText, "X509v3 Key Usage: critical", "Certificate Sign, CRL Sign"},
      {&rootText, "X509v3 Subject Key Identifier:", rootId},
      {&leafText, "X509v3 Basic Constraints: critical", "CA:FALSE"},
      {&leafText, "X509v3 Key Usage: critical", "Digital Signature, Key Encipherment"},
      {&leafText, "X509v3 Extended Key Usage:", "TLS Web Server Authentication"},
      {&leafText, "X509v3 Subject Alternative Name:",
       "DNS:srv.example, IP Address:10.1.2.3, IP Address:2001:DB8:0:0:0:0:0:1"},
      {&leafText, "X509v3 Subject Key Identifier:", srvId},
      {&leafText, "X509v3 Authority Key Identifier:", rootId},
  };
  for (const auto& c : cases) {
    // openssl may end the heading with a space.
    const size_t at = c.text->find(c.heading);
    ASSERT_NE(at, std::string::npos) << c.heading << "\n" << *c.text;
    const size_t next = c.text->find('\n', at) + 1;
    const std::string line = c.text->substr(next, c.text->find('\n', next) - next);
    EXPECT_NE(line.find(c.shown), std::string::npos) << c.heading << ": " << line;
  }
  EXPECT_NE(leafText.find("Signature Algorithm: sha256WithRSAEncryption"), std::string::npos);
  EXPECT_NE(leafText.find("Version: 3 (0x2)"), std::string::npos);
}

TEST_F(ProfileCertificates, OpensslStrictVerificationPassesEachSha2AndRefusesBrokenChains) {
  const std::string root = Pem("root", Root(C_KU_KEY_CERT_SIGN | C_KU_CRL_SIGN));
  std::string text;
  EXPECT_EQ(StrictVerify(root, root, &text, ""), 0) << text;
  for (uint32_t algorithm : {C_SIG_SHA256_WITH_RSA, C_SIG_SHA384_WITH_RSA, C_SIG_SHA512_WITH_RSA}) {
    const std::string leaf = Pem("leaf" + std::to_string(algorithm), Server(algorithm, KeyId(rootSpki_)));
    EXPECT_EQ(StrictVerify(root, leaf, &text), 0) << algorithm << ": " << text;
  }
  // The outside check can fail: a leaf whose AKI names another key finds no
  // issuer, and a root without keyCertSign may not have signed it. Both are
  // still good signatures to this toolkit, which checks signatures only.
  const Bytes wrongAki = Server(C_SIG_SHA256_WITH_RSA, KeyId(srvSpki_));
  EXPECT_NE(StrictVerify(root, Pem("wrongaki", wrongAki), &text), 0) << text;
  EXPECT_NE(text.find("unable to get local issuer certificate"), std::string::npos) << text;
  const std::string noCertSign = Pem("nocertsign", Root(C_KU_DIGITAL_SIGNATURE | C_KU_CRL_SIGN));
  const std::string leaf = Pem("leaf", Server(C_SIG_SHA256_WITH_RSA, KeyId(rootSpki_)));
  EXPECT_NE(StrictVerify(noCertSign, leaf, &text), 0) << text;
  EXPECT_NE(text.find("key usage does not include certificate signing"), std::string::npos) << text;
  cktest::Cert read;
  ASSERT_EQ(read.Set(wrongAki), 0);
  Key rootPublic(QK_RSAPublicBER, rootSpki_);
  EXPECT_EQ(C_VerifyCertSignature(read.cert, rootPublic.key, nullptr), 0);
}

}  // namespace
