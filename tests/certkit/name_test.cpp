// Name objects: AVA validation against the attribute table, RDN grouping,
// encoding and decoding, all-or-nothing replacement, and interoperability
// with the names the openssl command line writes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "certkit/certkit.h"
#include "certkit/name/name.h"
#include "support/memory_hooks.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::Hex;
using cktest::ToHex;

const Bytes kCountry = {0x55, 0x04, 0x06};
const Bytes kOrg = {0x55, 0x04, 0x0A};
const Bytes kOrgUnit = {0x55, 0x04, 0x0B};
const Bytes kCommonName = {0x55, 0x04, 0x03};
const Bytes kLocality = {0x55, 0x04, 0x07};
const Bytes kSerial = {0x55, 0x04, 0x05};
const Bytes kGivenName = {0x55, 0x04, 0x2A};  // 2.5.4.42, outside the table
const Bytes kEmail = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};

struct Name {
  C_NAME_OBJ obj = nullptr;
  Name() { EXPECT_EQ(C_CreateNameObject(&obj), 0); }
  ~Name() { C_DestroyNameObject(&obj); }
  int Add(const Bytes& oid, uint32_t tag, const std::string& value, uint32_t newRDN = 1, uint32_t chars = ~0u) {
    uint32_t len = chars != ~0u ? chars : static_cast<uint32_t>(value.size());
    return C_AddNameAVA(obj, oid.data(), static_cast<uint32_t>(oid.size()), tag,
                        reinterpret_cast<const unsigned char*>(value.data()), len, newRDN, nullptr);
  }
  std::string Der() {
    const unsigned char* der = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(C_GetNameDER(obj, &der, &len), 0);
    return ToHex(der, len);
  }
  uint32_t Count() {
    uint32_t n = 0;
    EXPECT_EQ(C_GetNameAVACount(obj, &n), 0);
    return n;
  }
};

struct AvaCase {
  const char* name;
  Bytes oid;
  uint32_t tag;
  std::string value;
  uint32_t chars;  // characters for BMPString, ~0u otherwise
  int status;
};

TEST(NameAva, AttributeTableRules) {
  const std::string bmp64(128, 'a'), bmp65(130, 'a');
  std::string e64, e65;  // 64 and 65 times U+00E9 in UTF-8, two octets each
  for (int i = 0; i < 64; ++i) e64 += "\xC3\xA9";
  e65 = e64 + "\xC3\xA9";
  const AvaCase cases[] = {
      {"country of two letters", kCountry, C_TAG_PRINTABLE_STRING, "US", ~0u, 0},
      {"country of three letters", kCountry, C_TAG_PRINTABLE_STRING, "USA", ~0u, C_ERR_VALUE_LENGTH},
      {"country as T61String", kCountry, C_TAG_T61_STRING, "US", ~0u, C_ERR_VALUE_TAG},
      {"organization of 64", kOrg, C_TAG_PRINTABLE_STRING, std::string(64, 'o'), ~0u, 0},
      {"organization of 65", kOrg, C_TAG_PRINTABLE_STRING, std::string(65, 'o'), ~0u, C_ERR_VALUE_LENGTH},
      {"empty organization", kOrg, C_TAG_T61_STRING, "", ~0u, C_ERR_VALUE_LENGTH},
      {"T61String of 64 two-octet characters", kOrg, C_TAG_T61_STRING, e64, ~0u, 0},
      {"T61String of 65 two-octet characters", kOrg, C_TAG_T61_STRING, e65, ~0u, C_ERR_VALUE_LENGTH},
      {"T61String of 64 octets, not UTF-8", kOrg, C_TAG_T61_STRING, std::string(64, '\xE9'), ~0u, 0},
      {"T61String of 65 octets, not UTF-8", kOrg, C_TAG_T61_STRING, std::string(65, '\xE9'), ~0u, C_ERR_VALUE_LENGTH},
      {"T61String of 128 octets, bad UTF-8 at the end", kOrg, C_TAG_T61_STRING, e64.substr(0, 127) + "a", ~0u,
       C_ERR_VALUE_LENGTH},
      {"common name BMPString of 64", kCommonName, C_TAG_BMP_STRING, bmp64, 64, 0},
      {"common name BMPString of 65", kCommonName, C_TAG_BMP_STRING, bmp65, 65, C_ERR_VALUE_LENGTH},
      {"at sign in PrintableString", kCommonName, C_TAG_PRINTABLE_STRING, "a@b", ~0u, C_ERR_VALUE_CHARS},
      {"ampersand in PrintableString", kCommonName, C_TAG_PRINTABLE_STRING, "a&b", ~0u, C_ERR_VALUE_CHARS},
      {"at sign in T61String", kCommonName, C_TAG_T61_STRING, "a@b", ~0u, 0},
      {"all printable marks", kCommonName, C_TAG_PRINTABLE_STRING, "Az09 '()+,-./:=?", ~0u, 0},
      {"e-mail of length 0", kEmail, C_TAG_IA5_STRING, "", ~0u, 0},
      {"e-mail of 300", kEmail, C_TAG_IA5_STRING, std::string(300, 'e'), ~0u, 0},
      {"e-mail as PrintableString", kEmail, C_TAG_PRINTABLE_STRING, "a", ~0u, C_ERR_VALUE_TAG},
      {"serial number as T61String", kSerial, C_TAG_T61_STRING, "1", ~0u, C_ERR_VALUE_TAG},
      {"locality as BMPString", kLocality, C_TAG_BMP_STRING, "xx", 1, C_ERR_VALUE_TAG},
      {"OID outside the table, UTF8String", kGivenName, 12, "anything", ~0u, 0},
      {"OID outside the table, empty", kGivenName, C_TAG_T61_STRING, "", ~0u, 0},
      {"constructed tag", kGivenName, 0x30, "x", ~0u, C_ERR_VALUE_TAG},
      {"tag 31", kGivenName, 31, "x", ~0u, C_ERR_VALUE_TAG},
      {"UTF8String common name", kCommonName, 12, "x", ~0u, 0},
      {"UTF8String organization of 64 two-octet characters", kOrg, 12, e64, ~0u, 0},
      {"UTF8String organization of 65 two-octet characters", kOrg, 12, e65, ~0u, C_ERR_VALUE_LENGTH},
      {"UTF8String that is not UTF-8", kCommonName, 12, "a\xE9", ~0u, C_ERR_VALUE_CHARS},
      {"UTF8String with a surrogate", kCommonName, 12, "\xED\xA0\x80", ~0u, C_ERR_VALUE_CHARS},
      {"UTF8String locality", kLocality, 12, "x", ~0u, C_ERR_VALUE_TAG},
  };
  for (const AvaCase& c : cases) {
    SCOPED_TRACE(c.name);
    Name n;
    EXPECT_EQ(n.Add(c.oid, c.tag, c.value, 1, c.chars), c.status);
    EXPECT_EQ(n.Count(), c.status == 0 ? 1u : 0u);
  }
}

TEST(NameAva, ReadBackAndOutsideOid) {
  Name n;
  ASSERT_EQ(n.Add(kCountry, C_TAG_PRINTABLE_STRING, "DE"), 0);
  uint32_t index = 99;
  const std::string given = "Ada";
  ASSERT_EQ(C_AddNameAVA(n.obj, kGivenName.data(), 3, C_TAG_T61_STRING,
                         reinterpret_cast<const unsigned char*>(given.data()), 3, 0, &index),
            0);
  EXPECT_EQ(index, 1u);
  const unsigned char *oid = nullptr, *value = nullptr;
  uint32_t oidLen = 0, tag = 0, len = 0, newRDN = 9;
  ASSERT_EQ(C_GetNameAVA(n.obj, 1, &oid, &oidLen, &tag, &value, &len, &newRDN), 0);
  EXPECT_EQ(ToHex(oid, oidLen), "55042a");
  EXPECT_NE(oid, kGivenName.data());  // the name's own copy
  EXPECT_EQ(tag, static_cast<uint32_t>(C_TAG_T61_STRING));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(value), len), "Ada");
  EXPECT_EQ(newRDN, 0u);
  EXPECT_EQ(C_GetNameAVA(n.obj, 2, &oid, &oidLen, &tag, &value, &len, &newRDN), C_ERR_INDEX);
  EXPECT_EQ(C_GetNameAVA(n.obj, 0, nullptr, &oidLen, &tag, &value, &len, &newRDN), C_ERR_NULL_OUTPUT);
  // The outside OID survives encoding and decoding.
  std::string der = n.Der();
  Name back;
  Bytes bytes = Hex(der);
  ASSERT_EQ(C_SetNameBER(back.obj, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  ASSERT_EQ(C_GetNameAVA(back.obj, 1, &oid, &oidLen, &tag, &value, &len, &newRDN), 0);
  EXPECT_EQ(ToHex(oid, oidLen), "55042a");
}

TEST(NameAva, HandleAndArgumentChecks) {
  Name n;
  uint32_t count = 0;
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  EXPECT_EQ(C_GetNameAVACount(nullptr, &count), C_ERR_NOT_NAME_OBJ);
  EXPECT_EQ(C_GetNameAVACount(n.obj, nullptr), C_ERR_NULL_OUTPUT);
  // A block that is not a name object carries another tag.
  struct {
    const void* cls;
    uint32_t tag;
  } other{nullptr, C_TAG_CERT_OBJ};
  auto* fake = reinterpret_cast<C_NAME_OBJ>(&other);
  EXPECT_EQ(C_ResetName(fake), C_ERR_NOT_NAME_OBJ);
  EXPECT_EQ(C_GetNameDER(fake, &der, &len), C_ERR_NOT_NAME_OBJ);
  C_DestroyNameObject(&fake);  // ignored: not a name
  EXPECT_NE(fake, nullptr);
  EXPECT_EQ(C_GetNameDER(n.obj, nullptr, &len), C_ERR_NULL_OUTPUT);
  EXPECT_EQ(C_SetNameBER(n.obj, nullptr, 5), C_ERR_BAD_ARGUMENT);
  EXPECT_EQ(C_SetNameBER(n.obj, der, 0), C_ERR_BAD_ARGUMENT);
  EXPECT_EQ(C_CreateNameObject(nullptr), C_ERR_NULL_OUTPUT);
  EXPECT_EQ(ck::NameSetFromDER(n.obj, nullptr, 0), C_ERR_INPUT_DATA);
}

TEST(NameEncoding, RdnGrouping) {
  struct Case {
    const char* name;
    std::vector<uint32_t> flags;
    const char* expected;
  };
  // AVAs: C=US, O=Org (PrintableString), CN=cn (T61String).
  const Case cases[] = {
      {"flags 1,1,1: three RDNs", {1, 1, 1},
       "3028 310b 3009 0603550406 1302 5553 310c 300a 060355040a 1303 4f7267 310b 3009 0603550403 1402 636e"},
      {"flags 1,0,1: O joins C", {1, 0, 1},
       "3026 3117 3009 0603550406 1302 5553 300a 060355040a 1303 4f7267 310b 3009 0603550403 1402 636e"},
      {"first AVA opens a SET whatever its flag", {0, 1, 0},
       "3026 310b 3009 0603550406 1302 5553 3117 3009 0603550403 1402 636e 300a 060355040a 1303 4f7267"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Name n;
    ASSERT_EQ(n.Add(kCountry, C_TAG_PRINTABLE_STRING, "US", c.flags[0]), 0);
    ASSERT_EQ(n.Add(kOrg, C_TAG_PRINTABLE_STRING, "Org", c.flags[1]), 0);
    ASSERT_EQ(n.Add(kCommonName, C_TAG_T61_STRING, "cn", c.flags[2]), 0);
    Bytes expected = Hex(c.expected);
    EXPECT_EQ(n.Der(), ToHex(expected.data(), static_cast<uint32_t>(expected.size())));
  }
}

TEST(NameEncoding, EmptyNameAndStaleCache) {
  Name n;
  const unsigned char* der = reinterpret_cast<const unsigned char*>("x");
  uint32_t len = 7;
  EXPECT_EQ(C_GetNameDER(n.obj, &der, &len), 0);
  EXPECT_EQ(der, nullptr);
  EXPECT_EQ(len, 0u);
  ASSERT_EQ(n.Add(kCountry, C_TAG_PRINTABLE_STRING, "US"), 0);
  std::string one = n.Der();
  ASSERT_EQ(n.Add(kCommonName, C_TAG_BMP_STRING, std::string("\0h\0i", 4), 1, 2), 0);
  std::string two = n.Der();
  EXPECT_NE(one, two);
  EXPECT_NE(two.find("1e040068006"), std::string::npos);  // BMPString of 4 octets
  ASSERT_EQ(C_ResetName(n.obj), 0);
  EXPECT_EQ(n.Count(), 0u);
  EXPECT_EQ(n.Der(), "");
  // An empty SEQUENCE sets an empty name.
  Bytes empty = Hex("3000");
  ASSERT_EQ(n.Add(kCountry, C_TAG_PRINTABLE_STRING, "US"), 0);
  ASSERT_EQ(C_SetNameBER(n.obj, empty.data(), 2), 0);
  EXPECT_EQ(n.Count(), 0u);
}

TEST(NameDecoding, FailedSetLeavesNameUntouched) {
  struct Case {
    const char* name;
    const char* input;
    int status;
  };
  const Case cases[] = {
      {"two valid AVAs replace the old ones", "301a 310b 3009 0603550406 1302 5553 310b 3009 0603550406 1302 5553 ", 0},
      {"three-letter country second",
       "301b 310b 3009 0603550406 1302 5553 310c 300a 0603550406 1303 555341", C_ERR_VALUE_LENGTH},
      {"UTF8String locality", "3018 3116 3009 0603550406 1302 5553 3009 0603550407 0c02 4f4f", C_ERR_VALUE_TAG},
      {"BMPString of odd length", "300c 310a 3008 0603550403 1e01 41", C_ERR_VALUE_CHARS},
      {"bad PrintableString", "300c 310a 3008 0603550403 1301 40", C_ERR_VALUE_CHARS},
      {"constructed value", "300e 310c 300a 0603550403 3003 020101", C_ERR_VALUE_TAG},
      {"not a Name", "0401aa", C_ERR_BAD_ENCODING},
      {"AVA with three parts", "300f 310d 300b 0603550403 1301 41 1301 42", C_ERR_BAD_ENCODING},
      {"truncated", "300c 310a 3008 0603550403 1301", C_ERR_BAD_ENCODING},
      {"empty OID", "3009 3107 3005 0600 1301 41", C_ERR_INPUT_DATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Name n;
    ASSERT_EQ(n.Add(kCountry, C_TAG_PRINTABLE_STRING, "GB"), 0);
    ASSERT_EQ(n.Add(kOrg, C_TAG_T61_STRING, "Old"), 0);
    std::string before = n.Der();
    Bytes in = Hex(c.input);
    EXPECT_EQ(C_SetNameBER(n.obj, in.data(), static_cast<uint32_t>(in.size())), c.status);
    if (c.status == 0) {
      EXPECT_EQ(n.Count(), 2u);
      EXPECT_EQ(n.Der(), ToHex(in.data(), static_cast<uint32_t>(in.size())));
      continue;
    }
    EXPECT_EQ(n.Count(), 2u);
    EXPECT_EQ(n.Der(), before);
    const unsigned char *oid, *value;
    uint32_t oidLen, tag, len, newRDN;
    ASSERT_EQ(C_GetNameAVA(n.obj, 1, &oid, &oidLen, &tag, &value, &len, &newRDN), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(value), len), "Old");
  }
}

TEST(NameDecoding, BerInputIsNormalised) {
  // Indefinite lengths, a long-form length and an unsorted multi-valued RDN.
  Bytes ber = Hex("3080 3180 300a 060355040a 1303 4f7267 3081 09 0603550406 1302 5553 0000 0000");
  Name n;
  ASSERT_EQ(C_SetNameBER(n.obj, ber.data(), static_cast<uint32_t>(ber.size())), 0);
  EXPECT_EQ(n.Der(), "30193117300906035504061302555330" "0a060355040a13034f7267");
  // Decoding follows the sorted order: country first, then organization.
  const unsigned char *oid, *value;
  uint32_t oidLen, tag, len, newRDN;
  ASSERT_EQ(C_GetNameAVA(n.obj, 1, &oid, &oidLen, &tag, &value, &len, &newRDN), 0);
  EXPECT_EQ(ToHex(oid, oidLen), "55040a");
  EXPECT_EQ(newRDN, 0u);
}

TEST(NameMemory, FailuresLeaveNothingBehind) {
  Bytes der = Hex("301a 310b 3009 0603550406 1302 5553 310b 3009 060355042a 1402 4142");
  testsupport::ForEachAllocationFailure(
      [&] {
        C_NAME_OBJ name = nullptr;
        int status = C_CreateNameObject(&name);
        if (status == 0) status = C_SetNameBER(name, der.data(), static_cast<uint32_t>(der.size()));
        if (status == 0) {
          status = C_AddNameAVA(name, kCommonName.data(), 3, C_TAG_T61_STRING,
                                reinterpret_cast<const unsigned char*>("cn"), 2, 1, nullptr);
        }
        const unsigned char* out = nullptr;
        uint32_t len = 0;
        if (status == 0) status = C_GetNameDER(name, &out, &len);
        C_DestroyNameObject(&name);
        return status;
      },
      [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, C_ERR_ALLOC);
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
      });
}

// ---------------------------------------------------------------------------
// Interoperability with the openssl command line.

// Subject Name DER of a request that openssl writes for |subject|.
Bytes OpensslSubject(const std::string& subject, const std::string& stringMask) {
  std::string dir = cktest::TempDir();
  std::string extra = stringMask.empty() ? std::string() : cktest::ReqConfig(dir, stringMask);
  std::string req = dir + "/req.der";
  std::string cmd = "openssl req -new -newkey rsa:1024 -nodes -keyout " + dir + "/key.pem -subj '" + subject +
                    "' -multivalue-rdn " + extra + " -outform DER -out " + req;
  if (cktest::Run(cmd) != 0) return {};
  Bytes der = cktest::ReadFile(req);
  // CertificationRequest { CertificationRequestInfo { version, subject, ... } ... }
  ck::ByteRange info{}, subjectRange{};
  uint32_t pos = 0;
  ck::ByteRange all{der.data(), static_cast<uint32_t>(der.size())};
  if (ck::AsnParseExpected(all, ck::kAsnSequence, &info) != 0) return {};
  if (ck::AsnParseExpected(info, ck::kAsnSequence, &info) != 0) return {};
  ck::ByteRange version{};
  if (ck::AsnParseExpected(info, ck::kAsnInteger, &version, &pos) != 0) return {};
  uint32_t total = 0;
  ck::ByteRange rest{info.data + pos, info.len - pos};
  if (ck::AsnParseExpected(rest, ck::kAsnSequence, &subjectRange, &total) != 0) return {};
  cktest::Run("rm -rf " + dir);
  return Bytes(rest.data, rest.data + total);
}

struct Expected {
  Bytes oid;
  uint32_t tag;
  std::string value;
  uint32_t newRDN;
};

TEST(NameInterop, OpensslNamesDecodeAndReencode) {
  if (!cktest::HaveOpenssl()) GTEST_SKIP() << "openssl command line not available";
  struct Case {
    const char* name;
    const char* subject;
    std::vector<Expected> avas;  // in DER order
  };
  const Case cases[] = {
      {"country, organization, common name", "/C=US/O=Orvane Inc/CN=host.example.com",
       {{kCountry, 19, "US", 1}, {kOrg, 19, "Orvane Inc", 1}, {kCommonName, 19, "host.example.com", 1}}},
      {"T61String for marks outside PrintableString", "/C=DE/O=A & B/CN=admin@example",
       {{kCountry, 19, "DE", 1}, {kOrg, 20, "A & B", 1}, {kCommonName, 20, "admin@example", 1}}},
      {"multi-valued RDN", "/C=GB/O=Org+OU=Unit/L=Town+CN=srv",
       {{kCountry, 19, "GB", 1},
        {kOrg, 19, "Org", 1},
        {kOrgUnit, 19, "Unit", 0},
        {kCommonName, 19, "srv", 1},
        {kLocality, 19, "Town", 0}}},
      {"e-mail address", "/CN=x/emailAddress=a@b.c", {{kCommonName, 19, "x", 1}, {kEmail, 22, "a@b.c", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes subject = OpensslSubject(c.subject, "nombstr");
    ASSERT_FALSE(subject.empty());
    Name n;
    ASSERT_EQ(C_SetNameBER(n.obj, subject.data(), static_cast<uint32_t>(subject.size())), 0);
    ASSERT_EQ(n.Count(), c.avas.size());
    Name rebuilt;
    for (uint32_t i = 0; i < c.avas.size(); ++i) {
      const unsigned char *oid, *value;
      uint32_t oidLen, tag, len, newRDN;
      ASSERT_EQ(C_GetNameAVA(n.obj, i, &oid, &oidLen, &tag, &value, &len, &newRDN), 0);
      const Expected& e = c.avas[i];
      EXPECT_EQ(ToHex(oid, oidLen), ToHex(e.oid.data(), static_cast<uint32_t>(e.oid.size()))) << i;
      EXPECT_EQ(tag, e.tag) << i;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(value), len), e.value) << i;
      EXPECT_EQ(newRDN, e.newRDN) << i;
      ASSERT_EQ(C_AddNameAVA(rebuilt.obj, oid, oidLen, tag, value, len, newRDN, nullptr), 0);
    }
    EXPECT_EQ(rebuilt.Der(), ToHex(subject.data(), static_cast<uint32_t>(subject.size())));
    EXPECT_EQ(n.Der(), ToHex(subject.data(), static_cast<uint32_t>(subject.size())));
  }
}

// The openssl command line writes UTF8String values: taken for organization
// and common name, refused for the other types of the table.
TEST(NameInterop, Utf8StringValues) {
  if (!cktest::HaveOpenssl()) GTEST_SKIP() << "openssl command line not available";
  const struct {
    const char* subject;
    int status;
    uint32_t count;
  } cases[] = {
      {"/C=US/O=Orvane Inc/CN=host.example.com", 0, 3},
      {"/C=GB/O=Org+OU=Unit/CN=srv", C_ERR_VALUE_TAG, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.subject);
    Bytes der = OpensslSubject(c.subject, "");
    ASSERT_FALSE(der.empty());
    Name n;
    EXPECT_EQ(C_SetNameBER(n.obj, der.data(), static_cast<uint32_t>(der.size())), c.status);
    EXPECT_EQ(n.Count(), c.count);
  }
}

TEST(NameInterop, OpensslParsesOurEncoding) {
  if (!cktest::HaveOpenssl()) GTEST_SKIP() << "openssl command line not available";
  Name n;
  ASSERT_EQ(n.Add(kCountry, C_TAG_PRINTABLE_STRING, "US"), 0);
  ASSERT_EQ(n.Add(kOrg, C_TAG_T61_STRING, "Orvane & Co"), 0);
  ASSERT_EQ(n.Add(kOrgUnit, C_TAG_PRINTABLE_STRING, "Unit", 0), 0);
  ASSERT_EQ(n.Add(kCommonName, C_TAG_BMP_STRING, std::string("\0h\0o", 4), 1, 2), 0);
  ASSERT_EQ(n.Add(kEmail, C_TAG_IA5_STRING, "a@b.c"), 0);
  Bytes der = Hex(n.Der());
  std::string dir = cktest::TempDir();
  cktest::WriteFile(dir + "/name.der", der.data(), static_cast<uint32_t>(der.size()));
  std::string out;
  ASSERT_EQ(cktest::Run("openssl asn1parse -inform DER -in " + dir + "/name.der", &out), 0);
  cktest::Run("rm -rf " + dir);
  // Each line: "offset:d=depth hl=.. l=.. prim|cons: TYPE [:value]".
  std::vector<std::string> seen;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    size_t d = line.find("d=");
    size_t kind = line.find("prim:") != std::string::npos ? line.find("prim:") : line.find("cons:");
    if (d == std::string::npos || kind == std::string::npos) continue;
    std::string depth = line.substr(d + 2, line.find(' ', d) - d - 2);
    std::string rest = line.substr(kind + 5);
    rest.erase(0, rest.find_first_not_of(' '));
    rest = rest.substr(0, rest.find_last_not_of(' ') + 1);
    seen.push_back(depth + " " + rest);
  }
  const std::vector<std::string> expected = {
      "0 SEQUENCE",
      "1 SET", "2 SEQUENCE", "3 OBJECT            :countryName", "3 PRINTABLESTRING   :US",
      // DER orders the two-valued RDN by encoding: the shorter unit name first.
      "1 SET", "2 SEQUENCE", "3 OBJECT            :organizationalUnitName", "3 PRINTABLESTRING   :Unit",
      "2 SEQUENCE", "3 OBJECT            :organizationName", "3 T61STRING         :Orvane & Co",
      "1 SET", "2 SEQUENCE", "3 OBJECT            :commonName", "3 BMPSTRING",
      "1 SET", "2 SEQUENCE", "3 OBJECT            :emailAddress", "3 IA5STRING         :a@b.c",
  };
  ASSERT_EQ(seen.size(), expected.size()) << out;
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(seen[i].substr(0, expected[i].size()), expected[i]) << out;
}

}  // namespace
