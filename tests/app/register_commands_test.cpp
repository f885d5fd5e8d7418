// The register's commands in the application, with a fixed clock: what a
// CRL made from the register holds (dates, reasons, the reasonCode left out
// for unspecified, the key identifier of a modern root), that a refused or
// cancelled command changes nothing, that damaged CRL files are refused with
// a message, and that the issued list escapes what came from files.
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/cert_commands.h"
#include "app/crl_file.h"
#include "app/issued_list.h"
#include "app/register_commands.h"
#include "app/root_cert_info.h"
#include "app/root_register.h"
#include "app_fixture.h"
#include "platform/clock.h"

namespace apptest {
namespace {

using kvapp::CommandOutcome;

constexpr int64_t kStart = 1796774400;  // 2026-12-09 00:00:00 UTC
constexpr int64_t kDay = 86400;
int64_t g_clock = kStart;
int64_t FixedClock() { return g_clock; }

class RegisterCommandsTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    g_clock = kStart;
    kvplatform::SetClockForTest(FixedClock);
    main_ = std::make_unique<kvapp::MainDialog>(*context_);
    commands_ = std::make_unique<kvapp::CertCommands>(*main_);
  }
  void TearDown() override {
    kvplatform::SetClockForTest(nullptr);
    AppFixture::TearDown();
  }

  void MakeRoot(bool modern) {
    const auto fields = kvapp::MakeCertNameFields("US", "Acme", "Register Root");
    const int rc = modern ? commands_->CreateModernRootCertAndKeys(fields, Root(), Path("root.key"), "rootpass1", 2048)
                          : commands_->CreateRootCertAndKeys(fields, Root(), Path("root.key"), "rootpass1");
    ASSERT_EQ(rc, 0);
  }
  // A classic server certificate |name|.crt, recorded; each a second later
  // (a classic serial number is the issue second).
  void Issue(const std::string& name) {
    ++g_clock;
    const auto fields = kvapp::MakeCertNameFields("US", "Acme", name);
    ASSERT_EQ(commands_->CreateServerCertAndKeys(fields, Path(name + ".crt"), Path(name + ".key"), "webpass12",
                                                 Root(), Path("root.key"), "rootpass1"),
              0);
  }
  std::string Root() const { return Path("root.crt"); }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string SerialOf(const std::string& name) {
    kvapp::RegisterExistingResult result;
    EXPECT_EQ(kvapp::RegisterExisting(*context_, Root(), dir_, result), CommandOutcome::kSucceeded);
    kvapp::RootRegister reg(*context_);
    EXPECT_EQ(reg.Open(Root()), 0);
    std::vector<kvapp::IssuedEntry> entries;
    EXPECT_EQ(kvapp::ListIssued(reg.get(), -1, false, entries), 0);
    for (const auto& e : entries) {
      if (e.path == Path(name + ".crt")) return e.serialHex;
    }
    return "<none>";
  }
  kvapp::CrlContents Crl(const std::string& name) {
    std::vector<unsigned char> der;
    kvapp::CrlContents contents;
    EXPECT_EQ(kvapp::ReadCrlFile(Path(name), der), 0);
    EXPECT_EQ(kvapp::ReadCrlContents(der, contents), 0);
    EXPECT_EQ(kvapp::CheckCrlSignature(der, Root()), 1);
    return contents;
  }

  std::unique_ptr<kvapp::MainDialog> main_;
  std::unique_ptr<kvapp::CertCommands> commands_;
};

TEST_F(RegisterCommandsTest, CrlHoldsTheRevocationsWithDatesAndReasons) {
  MakeRoot(false);
  Issue("one");
  Issue("two");
  Issue("three");
  const std::string one = SerialOf("one"), two = SerialOf("two");
  ui_.yesNo = {true, true};
  g_clock = kStart + 100;
  ASSERT_EQ(kvapp::RevokeIssued(*context_, Root(), one, 0), CommandOutcome::kSucceeded);
  g_clock = kStart + 200;
  ASSERT_EQ(kvapp::RevokeIssuedFile(*context_, Root(), Path("two.crt"), 1), CommandOutcome::kSucceeded);
  EXPECT_NE(ui_.events[ui_.events.size() - 2].text.find("serial number " + two + ", for reason keyCompromise?"),
            std::string::npos);

  g_clock = kStart + 300;
  ASSERT_EQ(kvapp::MakeCrl(*context_, Root(), Path("root.key"), "rootpass1", Path("a.crl"), 7, false),
            CommandOutcome::kSucceeded);
  const kvapp::CrlContents c = Crl("a.crl");
  EXPECT_EQ(c.version, 2);
  EXPECT_EQ(c.signatureAlgorithm, "sha1WithRSAEncryption");
  EXPECT_EQ(c.thisUpdate, kStart + 300);
  EXPECT_TRUE(c.hasNextUpdate);
  EXPECT_EQ(c.nextUpdate, kStart + 300 + 7 * kDay);
  EXPECT_EQ(c.crlNumber, "1");
  EXPECT_EQ(c.authorityKeyId, "");  // classic roots carry no key identifiers
  ASSERT_EQ(c.entries.size(), 2u);
  for (const kvapp::CrlEntryText& e : c.entries) {
    if (e.serialHex == one) {
      EXPECT_EQ(e.date, kStart + 100);
      EXPECT_EQ(e.reason, -1);  // unspecified: no reasonCode extension
    } else {
      EXPECT_EQ(e.serialHex, two);
      EXPECT_EQ(e.date, kStart + 200);
      EXPECT_EQ(e.reason, 1);
    }
  }
  // PEM, and the number grows.
  ASSERT_EQ(kvapp::MakeCrl(*context_, Root(), Path("root.key"), "rootpass1", Path("b.crl"), 30, true),
            CommandOutcome::kSucceeded);
  EXPECT_EQ(ReadFile(Path("b.crl")).rfind("-----BEGIN X509 CRL-----\n", 0), 0u);
  EXPECT_EQ(Crl("b.crl").crlNumber, "2");
}

TEST_F(RegisterCommandsTest, ModernRootCrlNamesTheRootKey) {
  MakeRoot(true);
  ASSERT_EQ(kvapp::MakeCrl(*context_, Root(), Path("root.key"), "rootpass1", Path("m.crl"), 30, false),
            CommandOutcome::kSucceeded);
  const kvapp::CrlContents c = Crl("m.crl");
  kvapp::RootCertInfo root;
  ASSERT_EQ(kvapp::ReadRootCertInfo(Root(), root), 0);
  ASSERT_EQ(root.keyId.size(), 20u);
  EXPECT_EQ(c.authorityKeyId, kvapp::Hex(root.keyId.data(), root.keyId.size(), ":"));
  EXPECT_EQ(c.signatureAlgorithm, "sha256WithRSAEncryption");
  EXPECT_TRUE(c.entries.empty());
}

// Refused or cancelled: a message (or the question), nothing written, no
// CRL number used and nothing revoked.
TEST_F(RegisterCommandsTest, RefusalsChangeNothing) {
  MakeRoot(false);
  Issue("one");
  const std::string one = SerialOf("one");
  WriteFile("taken.crl", "keep");
  struct Case {
    const char* out;
    int days;
    const char* password;
    const char* message;
  };
  for (const Case& c : {Case{"zero.crl", 0, "rootpass1", "from 1 to 3650 days"},
                        Case{"long.crl", 3651, "rootpass1", "from 1 to 3650 days"},
                        Case{"taken.crl", 30, "rootpass1", "already exists"},
                        Case{"wrong.crl", 30, "wrongpass", "incorrect password"},
                        Case{"nodir/x.crl", 30, "rootpass1", "Unable to write the CRL file"}}) {
    ui_.events.clear();
    EXPECT_EQ(kvapp::MakeCrl(*context_, Root(), Path("root.key"), c.password, Path(c.out), c.days, false),
              CommandOutcome::kFailed)
        << c.out;
    ASSERT_FALSE(ui_.events.empty());
    EXPECT_NE(ui_.events.back().text.find(c.message), std::string::npos) << ui_.events.back().text;
  }
  EXPECT_EQ(ReadFile(Path("taken.crl")), "keep");
  for (const char* name : {"zero.crl", "long.crl", "wrong.crl", "nodir"}) EXPECT_FALSE(Exists(Path(name))) << name;

  ui_.yesNo = {false};
  EXPECT_EQ(kvapp::RevokeIssued(*context_, Root(), one, 1), CommandOutcome::kCancelled);
  for (const char* bad : {"", "xyz", "12 34", "0x", "123456789012345678901234567890123456789012"}) {
    EXPECT_EQ(kvapp::RevokeIssued(*context_, Root(), bad, 1), CommandOutcome::kFailed) << bad;
  }
  EXPECT_EQ(kvapp::RevokeIssued(*context_, Root(), one, 7), CommandOutcome::kFailed);  // 7 is no reason
  EXPECT_EQ(kvapp::RevokeIssued(*context_, Root(), "0A0B", 1), CommandOutcome::kFailed);
  EXPECT_EQ(ui_.unanswered, 0);

  // Only now is the first number taken, and nothing is revoked.
  ASSERT_EQ(kvapp::MakeCrl(*context_, Root(), Path("root.key"), "rootpass1", Path("first.crl"), 30, false),
            CommandOutcome::kSucceeded);
  const kvapp::CrlContents c = Crl("first.crl");
  EXPECT_EQ(c.crlNumber, "1");
  EXPECT_TRUE(c.entries.empty());
}

TEST_F(RegisterCommandsTest, DamagedCrlFilesAreRefused) {
  MakeRoot(false);
  ASSERT_EQ(kvapp::MakeCrl(*context_, Root(), Path("root.key"), "rootpass1", Path("good.crl"), 30, false),
            CommandOutcome::kSucceeded);
  const std::string good = ReadFile(Path("good.crl"));
  std::string flipped = good;
  flipped[flipped.size() - 5] ^= 0x01;  // inside the signature
  struct Case {
    const char* name;
    std::string contents;
    CommandOutcome verify;
  };
  for (const Case& c : {Case{"empty.crl", "", CommandOutcome::kFailed},
                        Case{"text.crl", "not a list\n", CommandOutcome::kFailed},
                        Case{"cut.crl", good.substr(0, good.size() / 2), CommandOutcome::kFailed},
                        Case{"nobody.crl", "-----BEGIN X509 CRL-----\nMIIB\n", CommandOutcome::kFailed},
                        Case{"base64.crl", "-----BEGIN X509 CRL-----\n!!!!\n-----END X509 CRL-----\n",
                             CommandOutcome::kFailed},
                        Case{"flipped.crl", flipped, CommandOutcome::kInvalid}}) {
    WriteFile(c.name, c.contents);
    ui_.events.clear();
    EXPECT_EQ(kvapp::VerifyCrlFile(*context_, Path(c.name), Root()), c.verify) << c.name;
    if (c.verify == CommandOutcome::kFailed) {
      EXPECT_EQ(kvapp::ViewCrlFile(*context_, Path(c.name)), CommandOutcome::kFailed) << c.name;
    }
  }
  EXPECT_EQ(kvapp::VerifyCrlFile(*context_, Path("good.crl"), Root()), CommandOutcome::kSucceeded);
}

TEST(IssuedList, TextsFromFilesAreEscaped) {
  kvapp::IssuedEntry e;
  e.serialHex = "0A";
  e.subject = "CN=evil\x1b[31m\"quoted\"";
  e.altNames = {"a.example", "b\\c"};
  e.path = "/srv/ca/x\ny.crt";
  e.notAfter = kStart + 10 * kDay;
  e.revoked = true;
  e.reason = 1;
  const std::vector<std::string> lines = kvapp::IssuedTableLines({e}, kStart);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("revoked (keyCompromise)"), std::string::npos);
  EXPECT_NE(lines[1].find("CN=evil\\x1B[31m\"quoted\""), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("/srv/ca/x\\x0Ay.crt"), std::string::npos) << lines[1];
  const std::string json = kvapp::IssuedJson({e}, kStart);
  EXPECT_NE(json.find("\"subject\": \"CN=evil\\\\x1B[31m\\\"quoted\\\"\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"names\": [\"a.example\", \"b\\\\c\"]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"reason\": \"keyCompromise\""), std::string::npos) << json;
  EXPECT_EQ(kvapp::IssuedJson({}, kStart), "[]");
  e.revoked = false;
  EXPECT_EQ(kvapp::IssuedStateText(e, kStart), "expiring");
  EXPECT_EQ(kvapp::IssuedStateText(e, kStart + 11 * kDay), "expired");
  EXPECT_EQ(kvapp::IssuedStateText(e, kStart - 30 * kDay), "valid");
}

}  // namespace
}  // namespace apptest
