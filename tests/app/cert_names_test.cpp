// Names, versions and dates as the contents display shows them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "app/cert_contents.h"
#include "app/cert_names.h"
#include "scripted_ui.h"

namespace apptest {
namespace {

const unsigned char kC[] = {0x55, 0x04, 0x06};
const unsigned char kO[] = {0x55, 0x04, 0x0A};
const unsigned char kCN[] = {0x55, 0x04, 0x03};
const unsigned char kOU[] = {0x55, 0x04, 0x0B};
const unsigned char kStreet[] = {0x55, 0x04, 0x09};
const unsigned char kEmail[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};

class NameTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(C_CreateNameObject(&name_), 0); }
  void TearDown() override { C_DestroyNameObject(&name_); }
  void Add(const unsigned char* oid, uint32_t oidLength, uint32_t tag, const std::string& value) {
    ASSERT_EQ(C_AddNameAVA(name_, oid, oidLength, tag, reinterpret_cast<const unsigned char*>(value.data()),
                           static_cast<uint32_t>(value.size()), 1, nullptr),
              0);
  }
  std::string Render() {
    std::string text;
    EXPECT_EQ(kvapp::FormatCertName(ui_, name_, text), 0);
    return text;
  }
  C_NAME_OBJ name_ = nullptr;
  ScriptedUi ui_;
};

TEST_F(NameTest, LabelsOrderAndSeparators) {
  Add(kCN, 3, C_TAG_PRINTABLE_STRING, "kvroot");
  EXPECT_EQ(Render(), "Common Name = kvroot");  // one item: no ", "
  C_ResetName(name_);
  Add(kC, 3, C_TAG_PRINTABLE_STRING, "US");
  Add(kO, 3, C_TAG_PRINTABLE_STRING, "Acme");
  Add(kCN, 3, C_TAG_PRINTABLE_STRING, "kvroot");
  EXPECT_EQ(Render(), "Country = US, Organization = Acme, Common Name = kvroot");
}

TEST_F(NameTest, OtherAttributesCarryTheirShortNameOrOid) {
  Add(kOU, 3, C_TAG_PRINTABLE_STRING, "Ops");
  Add(kEmail, sizeof kEmail, C_TAG_IA5_STRING, "ca@example.com");
  Add(kCN, 3, C_TAG_PRINTABLE_STRING, "web1");
  EXPECT_EQ(Render(), "OU = Ops, emailAddress = ca@example.com, Common Name = web1");
  EXPECT_TRUE(ui_.output.empty());
}

TEST_F(NameTest, ToolkitFailuresGoToStandardOutput) {
  std::string text = "kept";
  EXPECT_NE(kvapp::FormatCertName(ui_, nullptr, text), 0);
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(ui_.output, std::vector<std::string>{"C_GetNameAVACount failed"});
}

TEST(AttributeNames, ShortNamesAndDottedOids) {
  EXPECT_STREQ(kvapp::AttributeShortName(kC, 3), "C");
  EXPECT_STREQ(kvapp::AttributeShortName(kOU, 3), "OU");
  const unsigned char title[] = {0x55, 0x04, 0x0C};
  EXPECT_STREQ(kvapp::AttributeShortName(title, 3), "T");
  EXPECT_STREQ(kvapp::AttributeShortName(kStreet, 3), "street");
  EXPECT_EQ(kvapp::AttributeShortName(kC, 2), nullptr);
  EXPECT_STREQ(kvapp::AttributeShortName(kEmail, sizeof kEmail), "emailAddress");
  const unsigned char unknown[] = {0x2A, 0x03, 0x04};
  EXPECT_EQ(kvapp::AttributeShortName(unknown, 3), nullptr);
  EXPECT_EQ(kvapp::DottedOid(kStreet, 3), "2.5.4.9");
  EXPECT_EQ(kvapp::DottedOid(kEmail, sizeof kEmail), "1.2.840.113549.1.9.1");
  const unsigned char truncated[] = {0x2A, 0x86};
  EXPECT_EQ(kvapp::DottedOid(truncated, 2), "");
  const unsigned char huge[] = {0x2A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(kvapp::DottedOid(huge, sizeof huge), "");
}

TEST(ContentsText, VersionsAndDates) {
  EXPECT_EQ(kvapp::VersionText(0), "X.509 v1");
  EXPECT_EQ(kvapp::VersionText(2), "X.509 v3");
  EXPECT_EQ(kvapp::VersionText(3), "unknown");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(kvapp::DateText(315626635), "Wed Jan 02 02:03:55 1980");
  EXPECT_EQ(kvapp::DateText(0), "Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(kvapp::DateText(2147483648u), "Tue Jan 19 03:14:08 2038");
  EXPECT_EQ(kvapp::DateText(4294967295u), "Sun Feb 07 06:28:15 2106");
  // Past the 32-bit range, before 1970, and the last second a certificate
  // can name.
  EXPECT_EQ(kvapp::DateText(4294967296), "Sun Feb 07 06:28:16 2106");
  EXPECT_EQ(kvapp::DateText(-631152000), "Sun Jan 01 00:00:00 1950");
  EXPECT_EQ(kvapp::DateText(253402300799), "Fri Dec 31 23:59:59 9999");
}

}  // namespace
}  // namespace apptest
