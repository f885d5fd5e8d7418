// Hostile and truncated input: every prefix of a real certificate and of a
// real name, and the published fuzzing corpora, through the codec and the
// name object. Nothing may crash, leak or read outside the input (run this
// under AddressSanitizer); every prefix must be refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "certkit/asn1/asn1.h"
#include "certkit/certkit.h"
#include "certkit/name/name.h"
#include "support/memory_hooks.h"
#include "test_util.h"

namespace {

using namespace ck;
using cktest::Bytes;

// The X.509 certificate structure (RFC 5280 4.1), test-local:
//
//   Certificate ::= SEQUENCE {
//     tbsCertificate       TBSCertificate,
//     signatureAlgorithm   AlgorithmIdentifier,
//     signatureValue       BIT STRING }
//   TBSCertificate ::= SEQUENCE {
//     version         [0] EXPLICIT INTEGER OPTIONAL,
//     serialNumber        INTEGER,
//     signature           AlgorithmIdentifier,
//     issuer              Name,
//     validity            SEQUENCE { UTCTime, UTCTime },
//     subject             Name,
//     subjectPublicKeyInfo SEQUENCE { AlgorithmIdentifier, BIT STRING },
//     issuerUniqueID  [1] IMPLICIT BIT STRING OPTIONAL,
//     subjectUniqueID [2] IMPLICIT BIT STRING OPTIONAL,
//     extensions      [3] EXPLICIT SEQUENCE OF Extension OPTIONAL }
//   AlgorithmIdentifier ::= SEQUENCE { OBJECT IDENTIFIER, ANY OPTIONAL }
//   Extension ::= SEQUENCE { OBJECT IDENTIFIER, BOOLEAN DEFAULT FALSE, OCTET STRING }
const AsnEntry kCert[] = {
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 1},
    {0xA0 | kAsnOptional, nullptr, nullptr, 0},
    {kAsnInteger, AsnDecodeSmallInt, AsnEncodeSmallInt, 2},
    {kAsnInteger, AsnDecodeBigUnsigned, AsnEncodeBigUnsigned, 3},
    {kAsnSequence, nullptr, nullptr, 4},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny | kAsnOptional, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence | kAsnOf, nullptr, nullptr, 5},
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnUtcTime, AsnDecodeUtcTime, AsnEncodeUtcTime, 6},
    {kAsnUtcTime, AsnDecodeUtcTime, AsnEncodeUtcTime, 7},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence | kAsnOf, nullptr, nullptr, 8},
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 9},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny | kAsnOptional, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnBitString, AsnDecodeBitString, AsnEncodeBitString, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {0x81 | kAsnOptional, AsnDecodeBitString, AsnEncodeBitString, 10},
    {0x82 | kAsnOptional, AsnDecodeBitString, AsnEncodeBitString, 11},
    {0xA3 | kAsnOptional, nullptr, nullptr, 0},
    {kAsnSequence | kAsnOf, nullptr, nullptr, 12},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnBoolean | kAsnOptional, AsnDecodeBooleanDefaultFalse, AsnEncodeBooleanDefaultFalse, 0},
    {kAsnOctetString, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 13},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny | kAsnOptional, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnBitString, AsnDecodeBitString, AsnEncodeBitString, 14},
    {kAsnEnd, nullptr, nullptr, 0},
};
const AsnEntry kAnyElement[] = {{kAsnAny, nullptr, nullptr, 1}};

struct CertFields {
  ByteRange tbs{}, algorithm{}, issuer{}, subject{}, spki{}, extensions{}, outerAlgorithm{};
  uint16_t version = 0;
  ByteRange serial{};
  int64_t notBefore = 0, notAfter = 0;
  C_BITSTRING issuerId{}, subjectId{}, signature{};
};

int DecodeCert(const uint8_t* p, uint32_t n, CertFields* f) {
  void* slots[15] = {nullptr,        &f->tbs,      &f->version,  &f->serial,    &f->algorithm,
                     &f->issuer,     &f->notBefore, &f->notAfter, &f->subject,   &f->spki,
                     &f->issuerId,   &f->subjectId, &f->extensions, &f->outerAlgorithm, &f->signature};
  return AsnDecode(kCert, AsnSlots{slots, 15}, 0, ByteRange{p, n}, nullptr);
}

// A self-signed certificate made by the openssl command line, once.
const Bytes& TestCertificate() {
  static const Bytes cert = [] {
    if (!cktest::HaveOpenssl()) return Bytes{};
    std::string dir = cktest::TempDir();
    std::string cmd = "openssl req -x509 -newkey rsa:1024 -nodes -days 30 -keyout " + dir +
                      "/key.pem -subj '/C=US/O=Orvane Inc/CN=robust.example' " + cktest::ReqConfig(dir, "nombstr") +
                      " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign"
                      " -outform DER -out " + dir + "/cert.der";
    Bytes der = cktest::Run(cmd) == 0 ? cktest::ReadFile(dir + "/cert.der") : Bytes{};
    cktest::Run("rm -rf " + dir);
    return der;
  }();
  return cert;
}

// Copies |n| bytes into a heap block of exactly that size, so that reading
// one byte too far trips AddressSanitizer.
std::unique_ptr<uint8_t[]> ExactCopy(const uint8_t* p, uint32_t n) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[n == 0 ? 1 : n]);
  if (n != 0) std::copy(p, p + n, block.get());
  return block;
}

TEST(Robustness, CertificateDecodesAndNormalisesToItself) {
  const Bytes& cert = TestCertificate();
  if (cert.empty()) GTEST_SKIP() << "openssl command line not available";
  CertFields f;
  ASSERT_EQ(DecodeCert(cert.data(), static_cast<uint32_t>(cert.size()), &f), 0);
  EXPECT_EQ(f.version, 2u);  // version 3: the extensions make it so
  EXPECT_NE(f.extensions.data, nullptr);
  EXPECT_EQ(f.notAfter - f.notBefore, 30u * 86400u);
  EXPECT_EQ(f.signature.unusedBits, 0u);
  EXPECT_EQ(f.signature.len, 128u);
  EXPECT_EQ(AsnFindSubTemplate(kCert, 1), &kCert[1]);
  cktest::Owned copy;
  ASSERT_EQ(AsnNormalise(kCert, ByteRange{cert.data(), static_cast<uint32_t>(cert.size())}, &copy.data, &copy.len),
            0);
  EXPECT_EQ(copy.bytes(), cert);
  // The subject goes into a name object unchanged.
  C_NAME_OBJ name = nullptr;
  ASSERT_EQ(C_CreateNameObject(&name), 0);
  ASSERT_EQ(NameSetFromDER(name, f.subject.data, f.subject.len), 0);
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(C_GetNameDER(name, &der, &len), 0);
  EXPECT_EQ(Bytes(der, der + len), Bytes(f.subject.data, f.subject.data + f.subject.len));
  uint32_t count = 0;
  EXPECT_EQ(C_GetNameAVACount(name, &count), 0);
  EXPECT_EQ(count, 3u);
  C_DestroyNameObject(&name);
  EXPECT_EQ(name, nullptr);
}

TEST(Robustness, IndefiniteCertificateNormalisesToDefinite) {
  const Bytes& cert = TestCertificate();
  if (cert.empty()) GTEST_SKIP() << "openssl command line not available";
  // Re-wrap the outer SEQUENCE with an indefinite length.
  AsnHeader h;
  ASSERT_EQ(AsnReadElement(cert.data(), static_cast<uint32_t>(cert.size()), &h), 0);
  Bytes ber = {0x30, 0x80};
  ber.insert(ber.end(), h.content, h.content + h.contentLen);
  ber.insert(ber.end(), {0x00, 0x00});
  CertFields f;
  EXPECT_EQ(DecodeCert(ber.data(), static_cast<uint32_t>(ber.size()), &f), 0);
  cktest::Owned der;
  ASSERT_EQ(AsnNormalise(kCert, ByteRange{ber.data(), static_cast<uint32_t>(ber.size())}, &der.data, &der.len), 0);
  EXPECT_EQ(der.bytes(), cert);
}

TEST(Robustness, EveryPrefixIsRefused) {
  const Bytes& cert = TestCertificate();
  if (cert.empty()) GTEST_SKIP() << "openssl command line not available";
  CertFields whole;
  ASSERT_EQ(DecodeCert(cert.data(), static_cast<uint32_t>(cert.size()), &whole), 0);
  const Bytes subject(whole.subject.data, whole.subject.data + whole.subject.len);
  testsupport::MemoryWatch watch;
  for (uint32_t n = 0; n < cert.size(); ++n) {
    auto block = ExactCopy(cert.data(), n);
    CertFields f;
    EXPECT_NE(DecodeCert(block.get(), n, &f), 0) << n;
    cktest::Owned out;
    EXPECT_NE(AsnNormalise(kCert, ByteRange{block.get(), n}, &out.data, &out.len), 0) << n;
    ByteRange raw{};
    void* slots[2] = {nullptr, &raw};
    EXPECT_NE(AsnDecode(kAnyElement, AsnSlots{slots, 2}, 0, ByteRange{block.get(), n}, nullptr), 0) << n;
  }
  C_NAME_OBJ name = nullptr;
  ASSERT_EQ(C_CreateNameObject(&name), 0);
  for (uint32_t n = 0; n < subject.size(); ++n) {
    auto block = ExactCopy(subject.data(), n);
    EXPECT_NE(C_SetNameBER(name, block.get(), n), 0) << n;
    EXPECT_NE(NameSetFromDER(name, block.get(), n), 0) << n;
  }
  auto block = ExactCopy(subject.data(), static_cast<uint32_t>(subject.size()));
  EXPECT_EQ(C_SetNameBER(name, block.get(), static_cast<uint32_t>(subject.size())), 0);
  C_DestroyNameObject(&name);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

TEST(Robustness, CorpusInputsFailCleanly) {
  const std::filesystem::path root = std::filesystem::path(KVCA_TESTDATA_DIR) / "corpus";
  if (!std::filesystem::is_directory(root / "asn1") || !std::filesystem::is_directory(root / "x509")) {
    GTEST_SKIP() << "corpus folders missing under " << root;
  }
  testsupport::MemoryWatch watch;
  uint32_t files = 0, names = 0, elements = 0;
  for (const char* folder : {"asn1", "x509"}) {
    for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
      if (!entry.is_regular_file()) continue;
      Bytes data = cktest::ReadFile(entry.path().string());
      const uint32_t n = static_cast<uint32_t>(data.size());
      auto block = ExactCopy(data.data(), n);
      ++files;
      C_NAME_OBJ name = nullptr;
      ASSERT_EQ(C_CreateNameObject(&name), 0);
      if (C_SetNameBER(name, block.get(), n) == 0) {
        ++names;
        const unsigned char* der = nullptr;
        uint32_t len = 0;
        EXPECT_EQ(C_GetNameDER(name, &der, &len), 0);
      }
      C_DestroyNameObject(&name);
      ByteRange raw{};
      void* slots[2] = {nullptr, &raw};
      if (AsnDecode(kAnyElement, AsnSlots{slots, 2}, 0, ByteRange{block.get(), n}, nullptr) == 0) ++elements;
      cktest::Owned out;
      AsnNormalise(kAnyElement, ByteRange{block.get(), n}, &out.data, &out.len);
      cktest::Owned certOut;
      AsnNormalise(kCert, ByteRange{block.get(), n}, &certOut.data, &certOut.len);
      CertFields f;
      DecodeCert(block.get(), n, &f);
    }
  }
  EXPECT_GT(files, 1000u);
  EXPECT_EQ(watch.leakedBlocks(), 0);
  RecordProperty("names", static_cast<int>(names));
  RecordProperty("elements", static_cast<int>(elements));
}

}  // namespace
