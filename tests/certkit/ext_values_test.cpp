// Extension value builders and readers: encodings worked out by hand from
// X.690 and RFC 5280, refused arguments, strict DER on reading, the count
// and capacity rule of the list readers, and the values of a certificate
// that the openssl command line made.
#include <gtest/gtest.h>

#include <algorithm>
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

// A builder's block, released wiped.
struct Built {
  unsigned char* data = nullptr;
  uint32_t len = 0;
  int status = -1;
  ~Built() { QMem_SecureRelease(data); }
  std::string hex() const { return cktest::ToHex(data, len); }
};

C_ITEM Item(const Bytes& b) { return C_ITEM{b.data(), static_cast<uint32_t>(b.size())}; }
C_ITEM Text(const char* s) {
  return C_ITEM{reinterpret_cast<const unsigned char*>(s), static_cast<uint32_t>(std::char_traits<char>::length(s))};
}

const Bytes kIp4 = {10, 0, 0, 1};
const Bytes kIp6 = Hex("20010DB8000000000000000000000001");
const C_ITEM kServerAuth{C_OID_KP_SERVER_AUTH, C_OID_KP_LEN};
const C_ITEM kClientAuth{C_OID_KP_CLIENT_AUTH, C_OID_KP_LEN};

using Builder = std::function<int(unsigned char**, uint32_t*)>;

Builder San(std::vector<C_GENERAL_NAME> names) {
  return [names](unsigned char** v, uint32_t* n) {
    return C_BuildSubjectAltName(names.data(), static_cast<uint32_t>(names.size()), v, n);
  };
}
Builder Eku(std::vector<C_ITEM> oids) {
  return [oids](unsigned char** v, uint32_t* n) {
    return C_BuildExtendedKeyUsage(oids.data(), static_cast<uint32_t>(oids.size()), v, n);
  };
}
Builder Bc(uint32_t cA, int32_t pathLen) {
  return [=](unsigned char** v, uint32_t* n) { return C_BuildBasicConstraints(cA, pathLen, v, n); };
}
Builder Ku(uint32_t usage) {
  return [=](unsigned char** v, uint32_t* n) { return C_BuildKeyUsage(usage, v, n); };
}
Builder Aki(Bytes keyId) {
  return [keyId](unsigned char** v, uint32_t* n) {
    return C_BuildAuthorityKeyIdentifier(keyId.data(), static_cast<uint32_t>(keyId.size()), v, n);
  };
}

TEST(ExtensionValueBuilders, WriteTheEncodingsOfX690AndRfc5280) {
  const struct {
    const char* what;
    Builder build;
    const char* der;
  } cases[] = {
      {"end entity: cA FALSE is the default, left out", Bc(0, -1), "3000"},
      {"CA without a path length", Bc(1, -1), "30030101ff"},
      {"CA with path length 0", Bc(1, 0), "30060101ff020100"},
      {"path length 127, one octet", Bc(1, 127), "30060101ff02017f"},
      {"path length 128 takes a zero octet first", Bc(1, 128), "30070101ff02020080"},
      {"largest path length", Bc(1, 0x7FFFFFFF), "30090101ff02047fffffff"},
      {"digitalSignature and keyEncipherment: bits 0, 2, five unused", Ku(C_KU_DIGITAL_SIGNATURE | C_KU_KEY_ENCIPHERMENT),
       "030205a0"},
      {"keyCertSign and cRLSign: bits 5, 6, one unused", Ku(C_KU_KEY_CERT_SIGN | C_KU_CRL_SIGN), "03020106"},
      {"digitalSignature alone", Ku(C_KU_DIGITAL_SIGNATURE), "03020780"},
      {"decipherOnly is bit 8, in a second octet", Ku(C_KU_DECIPHER_ONLY), "0303070080"},
      {"every bit", Ku(C_KU_ALL), "030307ff80"},
      {"serverAuth", Eku({kServerAuth}), "300a06082b06010505070301"},
      {"serverAuth and clientAuth in the order given", Eku({kServerAuth, kClientAuth}),
       "301406082b0601050507030106082b06010505070302"},
      {"one dNSName", San({{C_GN_DNS_NAME, Text("a.example")}}), "300b8209612e6578616d706c65"},
      {"IPv4 address", San({{C_GN_IP_ADDRESS, Item(kIp4)}}), "300687040a000001"},
      {"IPv6 address", San({{C_GN_IP_ADDRESS, Item(kIp6)}}), "3012871020010db8000000000000000000000001"},
      {"wildcard name, address, mail and URI in order",
       San({{C_GN_DNS_NAME, Text("*.x")},
            {C_GN_IP_ADDRESS, Item(kIp4)},
            {C_GN_RFC822_NAME, Text("a@x")},
            {C_GN_URI, Text("h:x")}}),
       "3015" "82032a2e78" "87040a000001" "8103614078" "8603683a78"},
      {"authority key identifier alone", Aki({0x01, 0x02}), "300480020102"},
  };
  for (const auto& c : cases) {
    Built b;
    ASSERT_EQ(c.build(&b.data, &b.len), 0) << c.what;
    EXPECT_EQ(b.hex(), c.der) << c.what;
  }
}

TEST(ExtensionValueBuilders, RefuseBadArgumentsAndLeaveNoBlock) {
  const Bytes badOid = Hex("2B0681");      // last subidentifier unfinished
  const Bytes paddedOid = Hex("2B80 01");  // subidentifier with a padding octet
  const Bytes ip5 = {1, 2, 3, 4, 5};
  const struct {
    const char* what;
    Builder build;
  } cases[] = {
      {"cA 2", Bc(2, -1)},
      {"path length -2", Bc(1, -2)},
      {"path length without cA", Bc(0, 0)},
      {"no key usage bit", Ku(0)},
      {"a bit past decipherOnly", Ku(0x200)},
      {"no key purpose", Eku({})},
      {"unfinished OID", Eku({kServerAuth, Item(badOid)})},
      {"padded OID", Eku({Item(paddedOid)})},
      {"empty OID", Eku({C_ITEM{nullptr, 0}})},
      {"no name", San({})},
      {"dNSName with a space", San({{C_GN_DNS_NAME, Text("a b")}})},
      {"dNSName with a control character", San({{C_GN_DNS_NAME, Text("a\nb")}})},
      {"empty dNSName", San({{C_GN_DNS_NAME, Text("")}})},
      {"URI with a space", San({{C_GN_URI, Text("h: x")}})},
      {"address of 5 octets", San({{C_GN_IP_ADDRESS, Item(ip5)}})},
      {"address without bytes", San({{C_GN_IP_ADDRESS, C_ITEM{nullptr, 4}}})},
      {"directoryName is not built", San({{C_GN_DIRECTORY_NAME, Text("x")}})},
      {"empty key identifier", Aki({})},
  };
  for (const auto& c : cases) {
    Built b;
    b.data = reinterpret_cast<unsigned char*>(1);  // must be cleared
    b.len = 7;
    EXPECT_EQ(c.build(&b.data, &b.len), C_ERR_BAD_ARGUMENT) << c.what;
    EXPECT_EQ(b.data, nullptr) << c.what;
    EXPECT_EQ(b.len, 0u) << c.what;
  }
  uint32_t n = 0;
  EXPECT_EQ(C_BuildKeyUsage(C_KU_CRL_SIGN, nullptr, &n), C_ERR_BAD_ARGUMENT);
  unsigned char* v = nullptr;
  EXPECT_EQ(C_BuildBasicConstraints(1, 0, &v, nullptr), C_ERR_BAD_ARGUMENT);
}

TEST(ExtensionValueBuilders, KeyIdentifierIsSha1OfTheKeyBitsLikeOpenssls) {
  REQUIRE_CERT_FILES();
  const Bytes spki = CertFiles::Get().PublicKey("ca");
  // openssl wrote the CA's subjectKeyIdentifier with "hash", RFC 5280 method 1.
  std::string shown = CertFiles::Get().Query("ca", "-ext subjectKeyIdentifier");
  std::string expected;
  for (char ch : shown.substr(shown.find('\n') + 1)) {
    if (isxdigit(static_cast<unsigned char>(ch))) expected += static_cast<char>(tolower(ch));
  }
  ASSERT_EQ(expected.size(), 40u) << shown;
  Built b;
  ASSERT_EQ(C_BuildSubjectKeyIdentifier(spki.data(), static_cast<uint32_t>(spki.size()), &b.data, &b.len), 0);
  EXPECT_EQ(b.hex(), "0414" + expected);
  unsigned char keyId[C_KEY_ID_LEN];
  ASSERT_EQ(C_ComputeKeyIdentifier(spki.data(), static_cast<uint32_t>(spki.size()), keyId), 0);
  EXPECT_EQ(cktest::ToHex(keyId, sizeof keyId), expected);

  // Not one DER SubjectPublicKeyInfo with whole-octet key bits.
  Bytes unusedBits = spki;
  const size_t bitsAt = spki.size() - 271;  // 03 82 01 0f 00 <270 octets> for 2048 bits
  ASSERT_EQ(spki[bitsAt - 4], 0x03);
  unusedBits[bitsAt] = 0x01;
  Bytes trailing = spki;
  trailing.push_back(0);
  Bytes noKey = Hex("300f300d06092a864886f70d0101010500");
  const Bytes bad[] = {Bytes(spki.begin(), spki.end() - 1), trailing, unusedBits, noKey, Hex("3000"), Hex("00")};
  for (const Bytes& input : bad) {
    Built fail;
    EXPECT_EQ(C_BuildSubjectKeyIdentifier(input.data(), static_cast<uint32_t>(input.size()), &fail.data, &fail.len),
              C_ERR_BAD_ENCODING)
        << cktest::ToHex(input.data(), static_cast<uint32_t>(std::min<size_t>(input.size(), 8)));
    EXPECT_EQ(fail.data, nullptr);
  }
  EXPECT_EQ(C_ComputeKeyIdentifier(nullptr, 0, keyId), C_ERR_BAD_ARGUMENT);
}

// ---------------------------------------------------------------------------
// Readers.

int ReadBc(const Bytes& v) {
  C_BASIC_CONSTRAINTS r{};
  return C_ReadBasicConstraints(v.data(), static_cast<uint32_t>(v.size()), &r);
}
int ReadKu(const Bytes& v) {
  uint32_t mask = 0;
  return C_ReadKeyUsage(v.data(), static_cast<uint32_t>(v.size()), &mask);
}
int ReadEku(const Bytes& v) {
  C_ITEM items[4];
  uint32_t n = 0;
  return C_ReadExtendedKeyUsage(v.data(), static_cast<uint32_t>(v.size()), items, 4, &n);
}
int ReadSan(const Bytes& v) {
  C_GENERAL_NAME names[4];
  uint32_t n = 0;
  return C_ReadSubjectAltName(v.data(), static_cast<uint32_t>(v.size()), names, 4, &n);
}
int ReadSki(const Bytes& v) {
  C_ITEM id{};
  return C_ReadSubjectKeyIdentifier(v.data(), static_cast<uint32_t>(v.size()), &id);
}
int ReadAki(const Bytes& v) {
  C_AUTHORITY_KEY_ID r{};
  return C_ReadAuthorityKeyIdentifier(v.data(), static_cast<uint32_t>(v.size()), &r);
}

TEST(ExtensionValueReaders, TakeWhatTheBuildersWrite) {
  Built bc, ku, eku, san, aki;
  ASSERT_EQ(C_BuildBasicConstraints(1, 300, &bc.data, &bc.len), 0);
  C_BASIC_CONSTRAINTS constraints{};
  ASSERT_EQ(C_ReadBasicConstraints(bc.data, bc.len, &constraints), 0);
  EXPECT_EQ(constraints.cA, 1u);
  EXPECT_EQ(constraints.pathLen, 300);
  ASSERT_EQ(C_ReadBasicConstraints(Hex("3000").data(), 2, &constraints), 0);
  EXPECT_EQ(constraints.cA, 0u);
  EXPECT_EQ(constraints.pathLen, -1);

  for (uint32_t usage : {C_KU_DIGITAL_SIGNATURE, C_KU_KEY_CERT_SIGN | C_KU_CRL_SIGN, C_KU_DECIPHER_ONLY, C_KU_ALL,
                         C_KU_NON_REPUDIATION | C_KU_ENCIPHER_ONLY}) {
    Built b;
    ASSERT_EQ(C_BuildKeyUsage(usage, &b.data, &b.len), 0);
    uint32_t mask = 0;
    ASSERT_EQ(C_ReadKeyUsage(b.data, b.len, &mask), 0);
    EXPECT_EQ(mask, usage);
  }

  const C_ITEM purposes[] = {kServerAuth, kClientAuth};
  ASSERT_EQ(C_BuildExtendedKeyUsage(purposes, 2, &eku.data, &eku.len), 0);
  C_ITEM got[2] = {};
  uint32_t count = 0;
  ASSERT_EQ(C_ReadExtendedKeyUsage(eku.data, eku.len, got, 2, &count), 0);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(Bytes(got[1].data, got[1].data + got[1].len), Bytes(kClientAuth.data, kClientAuth.data + C_OID_KP_LEN));

  const C_GENERAL_NAME names[] = {{C_GN_DNS_NAME, Text("srv.example")}, {C_GN_IP_ADDRESS, Item(kIp6)}};
  ASSERT_EQ(C_BuildSubjectAltName(names, 2, &san.data, &san.len), 0);
  C_GENERAL_NAME read[2] = {};
  ASSERT_EQ(C_ReadSubjectAltName(san.data, san.len, read, 2, &count), 0);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(read[0].kind, static_cast<uint32_t>(C_GN_DNS_NAME));
  EXPECT_EQ(std::string(read[0].value.data, read[0].value.data + read[0].value.len), "srv.example");
  EXPECT_EQ(read[1].kind, static_cast<uint32_t>(C_GN_IP_ADDRESS));
  EXPECT_EQ(Bytes(read[1].value.data, read[1].value.data + read[1].value.len), kIp6);
  // Pointers refer into the value given.
  EXPECT_GE(read[0].value.data, san.data);
  EXPECT_LE(read[1].value.data + read[1].value.len, san.data + san.len);

  const Bytes keyId = Hex("00112233");
  ASSERT_EQ(C_BuildAuthorityKeyIdentifier(keyId.data(), 4, &aki.data, &aki.len), 0);
  C_AUTHORITY_KEY_ID authority{};
  ASSERT_EQ(C_ReadAuthorityKeyIdentifier(aki.data, aki.len, &authority), 0);
  EXPECT_EQ(Bytes(authority.keyIdentifier.data, authority.keyIdentifier.data + 4), keyId);
  EXPECT_EQ(authority.certIssuer.data, nullptr);
  EXPECT_EQ(authority.certSerial.data, nullptr);
}

TEST(ExtensionValueReaders, RefuseWhatIsNotOneStrictDerValue) {
  const struct {
    const char* what;
    int (*read)(const Bytes&);
    const char* hex;
  } cases[] = {
      {"BC empty input", ReadBc, ""},
      {"BC trailing octet", ReadBc, "300000"},
      {"BC truncated", ReadBc, "30060101ff0201"},
      {"BC explicit FALSE (DER leaves the default out)", ReadBc, "3003010100"},
      {"BC TRUE not written FF", ReadBc, "3003010101"},
      {"BC negative path length", ReadBc, "30060101ff0201ff"},
      {"BC path length with a needless zero octet", ReadBc, "30070101ff02020001"},
      {"BC path length past 2^31 - 1", ReadBc, "300a0101ff02050080000000"},
      {"BC negative path length of four octets", ReadBc, "30090101ff020480000000"},
      {"BC path length without cA", ReadBc, "3003020100"},
      {"BC fields in the wrong order", ReadBc, "30060201000101ff"},
      {"BC a second BOOLEAN", ReadBc, "30060101ff0101ff"},
      {"BC long length form for a short length", ReadBc, "3081030101ff"},
      {"BC indefinite length", ReadBc, "30800101ff0000"},
      {"BC a SET", ReadBc, "3100"},
      {"KU unused bits above 7", ReadKu, "03020880"},
      {"KU an unused bit set", ReadKu, "03020781"},
      {"KU a trailing zero bit", ReadKu, "03020680"},
      {"KU a trailing zero octet", ReadKu, "0303078000"},
      {"KU unused bits with no octet", ReadKu, "030101"},
      {"KU a bit past decipherOnly", ReadKu, "0303060040"},
      {"KU three octets", ReadKu, "030407000080"},
      {"KU an OCTET STRING", ReadKu, "040180"},
      {"EKU empty", ReadEku, "3000"},
      {"EKU empty OID", ReadEku, "30020600"},
      {"EKU unfinished OID", ReadEku, "3003060181"},
      {"EKU not an OID", ReadEku, "3003020101"},
      {"EKU trailing octet", ReadEku, "300a06082b0601050507030100"},
      {"SAN empty", ReadSan, "3000"},
      {"SAN address of 5 octets", ReadSan, "30078705 0102030405"},
      {"SAN dNSName beyond IA5", ReadSan, "300382 01 e9"},
      {"SAN empty dNSName", ReadSan, "30028200"},
      {"SAN constructed dNSName", ReadSan, "3004a2020400"},
      {"SAN tag 9", ReadSan, "3003890161"},
      {"SAN universal tag", ReadSan, "3003160161"},
      {"SAN directoryName not a Name", ReadSan, "3004a4020500"},
      {"SAN otherName without its value", ReadSan, "3005a003060129"},
      {"SAN element running past its SEQUENCE", ReadSan, "3003820561"},
      {"SKI empty", ReadSki, "0400"},
      {"SKI constructed", ReadSki, "24030401aa"},
      {"SKI a SEQUENCE", ReadSki, "3000"},
      {"AKI empty key identifier", ReadAki, "30028000"},
      {"AKI issuer without serial", ReadAki, "3006a10482026178"},
      {"AKI serial without issuer", ReadAki, "3003820101"},
      {"AKI fields out of order", ReadAki, "3006820101800101"},
      {"AKI a serial with a needless zero", ReadAki, "300aa10482026178820200 01"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.read(Hex(c.hex)), C_ERR_BAD_ENCODING) << c.what;
  // Null inputs and records.
  EXPECT_EQ(C_ReadBasicConstraints(nullptr, 2, nullptr), C_ERR_NULL_OUTPUT);
  C_BASIC_CONSTRAINTS r{};
  EXPECT_EQ(C_ReadBasicConstraints(nullptr, 2, &r), C_ERR_BAD_ENCODING);
  EXPECT_EQ(C_ReadKeyUsage(Hex("03020780").data(), 4, nullptr), C_ERR_NULL_OUTPUT);
  EXPECT_EQ(C_ReadSubjectAltName(Hex("30028200").data(), 4, nullptr, 0, nullptr), C_ERR_NULL_OUTPUT);
  // Accepted forms next to the refused ones.
  EXPECT_EQ(ReadKu(Hex("030100")), 0);  // no bit
  EXPECT_EQ(ReadAki(Hex("3000")), 0);
  EXPECT_EQ(ReadAki(Hex("300c800101a10482026178820101")), 0);
  EXPECT_EQ(ReadSan(Hex("300aa008060129a003020101")), 0);  // otherName
  EXPECT_EQ(ReadSan(Hex("3004a4023000")), 0);              // empty directoryName
  EXPECT_EQ(ReadSan(Hex("300388012a")), 0);                // registeredID 1.2
}

TEST(ExtensionValueReaders, ListsCountAndFillUpToTheCapacity) {
  const Bytes eku = Hex("301406082b0601050507030106082b06010505070302");
  uint32_t count = 0;
  EXPECT_EQ(C_ReadExtendedKeyUsage(eku.data(), static_cast<uint32_t>(eku.size()), nullptr, 0, &count), 0);
  EXPECT_EQ(count, 2u);
  C_ITEM one[1] = {};
  count = 0;
  EXPECT_EQ(C_ReadExtendedKeyUsage(eku.data(), static_cast<uint32_t>(eku.size()), one, 1, &count),
            C_ERR_OUTPUT_SMALL);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(one[0].len, static_cast<uint32_t>(C_OID_KP_LEN));
  const Bytes san = Hex("300e82016187040a000001 8203612e62");
  C_GENERAL_NAME names[3] = {};
  EXPECT_EQ(C_ReadSubjectAltName(san.data(), static_cast<uint32_t>(san.size()), names, 2, &count),
            C_ERR_OUTPUT_SMALL);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(names[2].value.data, nullptr);  // nothing past the capacity
}

TEST(ExtensionValueReaders, ReadTheValuesOfAnOpensslCertificate) {
  REQUIRE_CERT_FILES();
  cktest::Cert leaf, ca;
  ASSERT_EQ(leaf.Set(CertFiles::Get().Cert("leaf")), 0);
  ASSERT_EQ(ca.Set(CertFiles::Get().Cert("ca")), 0);
  C_CERT_FIELDS f{}, caf{};
  C_GetCertFields(leaf.cert, &f);
  C_GetCertFields(ca.cert, &caf);
  auto value = [](C_EXTENSIONS_OBJ e, const unsigned char* oid) {
    const unsigned char* v = nullptr;
    uint32_t n = 0;
    uint32_t critical = 0;
    EXPECT_EQ(C_FindExtension(e, oid, C_OID_EXT_LEN, &critical, &v, &n), 0);
    return Bytes(v, v + n);
  };
  C_BASIC_CONSTRAINTS bc{};
  Bytes v = value(caf.extensions, C_OID_BASIC_CONSTRAINTS);
  ASSERT_EQ(C_ReadBasicConstraints(v.data(), static_cast<uint32_t>(v.size()), &bc), 0);
  EXPECT_EQ(bc.cA, 1u);
  EXPECT_EQ(bc.pathLen, -1);
  uint32_t usage = 0;
  v = value(caf.extensions, C_OID_KEY_USAGE);
  ASSERT_EQ(C_ReadKeyUsage(v.data(), static_cast<uint32_t>(v.size()), &usage), 0);
  EXPECT_EQ(usage, C_KU_KEY_CERT_SIGN | C_KU_CRL_SIGN);
  v = value(f.extensions, C_OID_KEY_USAGE);
  ASSERT_EQ(C_ReadKeyUsage(v.data(), static_cast<uint32_t>(v.size()), &usage), 0);
  EXPECT_EQ(usage, C_KU_DIGITAL_SIGNATURE | C_KU_KEY_ENCIPHERMENT);

  v = value(f.extensions, C_OID_SUBJECT_ALT_NAME);
  C_GENERAL_NAME names[3] = {};
  uint32_t count = 0;
  ASSERT_EQ(C_ReadSubjectAltName(v.data(), static_cast<uint32_t>(v.size()), names, 3, &count), 0);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(names[0].kind, static_cast<uint32_t>(C_GN_DNS_NAME));
  EXPECT_EQ(std::string(names[0].value.data, names[0].value.data + names[0].value.len), "leaf.example");
  EXPECT_EQ(names[1].kind, static_cast<uint32_t>(C_GN_IP_ADDRESS));
  EXPECT_EQ(Bytes(names[1].value.data, names[1].value.data + names[1].value.len), kIp4);
  EXPECT_EQ(names[2].kind, static_cast<uint32_t>(C_GN_RFC822_NAME));

  // The leaf's authority key identifier names the CA's key identifier
  // (openssl adds issuer and serial only when it has no key identifier).
  C_ITEM caKeyId{};
  Bytes caSki = value(caf.extensions, C_OID_SUBJECT_KEY_ID);
  ASSERT_EQ(C_ReadSubjectKeyIdentifier(caSki.data(), static_cast<uint32_t>(caSki.size()), &caKeyId), 0);
  C_AUTHORITY_KEY_ID aki{};
  v = value(f.extensions, C_OID_AUTHORITY_KEY_ID);
  ASSERT_EQ(C_ReadAuthorityKeyIdentifier(v.data(), static_cast<uint32_t>(v.size()), &aki), 0);
  EXPECT_EQ(Bytes(aki.keyIdentifier.data, aki.keyIdentifier.data + aki.keyIdentifier.len),
            Bytes(caKeyId.data, caKeyId.data + caKeyId.len));
  EXPECT_EQ(aki.certIssuer.data, nullptr);
  EXPECT_EQ(aki.certSerial.data, nullptr);
}

}  // namespace
