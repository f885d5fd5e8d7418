// The commands of the modern profile as the desktop program runs them: the
// details dialog's profile, key size, validity and further names; the
// profile a server certificate takes from its root; refusals that write
// nothing; and the modern verify's messages.
#include <cstdlib>
#include <memory>

#include "app/cert_commands.h"
#include "app/cert_details_dialog.h"
#include "app_fixture.h"
#include "platform/clock.h"

namespace apptest {
namespace {

using kvapp::CertCommands;
using kvapp::MainDialog;

int64_t g_clock = 0;
int64_t FixedClock() { return g_clock; }

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

struct Choices {
  int profile = kvapp::kProfileClassic;
  int keyBits = 0;
  int days = 0;
  std::vector<std::string> names;
};

class ModernCommandsTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    ::setenv("TZ", "UTC", 1);
    main_ = std::make_unique<MainDialog>(*context_);
    commands_ = std::make_unique<CertCommands>(*main_);
    main_->SetCommands(commands_.get());
    ui_.RunMainDialog(*main_);
  }
  void TearDown() override {
    kvplatform::SetClockForTest(nullptr);
    AppFixture::TearDown();
  }
  // Runs button |id| with |entry| typed into the details dialog and |choices|
  // made there.
  kvapp::CommandOutcome Run(int id, DetailsEntry entry, Choices choices) {
    ui_.details.push_back([entry, choices](kvapp::CertDetailsDialog& d) {
      d.profile = choices.profile;
      d.keyBits = choices.keyBits;
      d.days = choices.days;
      d.furtherNames = choices.names;
      return EnterAndOk(d, entry);
    });
    return main_->OnCommand(id);
  }
  static DetailsEntry Entry(const char* host, const char* password = "webpass12") {
    DetailsEntry e;
    e.hostName = host;
    e.organization = "Acme";
    e.country = "US";
    e.password = e.confirmPassword = password;
    return e;
  }
  void Select(const std::string& name) {
    main_->FillFileList();
    main_->OnFilterChosen(3);
    const auto& items = main_->controls().fileItems;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == name) {
        main_->OnFileChosen(static_cast<int>(i));
        return;
      }
    }
    ADD_FAILURE() << name << " is not listed";
  }
  std::vector<Event> TakeBoxes() {
    std::vector<Event> boxes = ui_.Boxes();
    ui_.events.clear();
    return boxes;
  }
  std::unique_ptr<MainDialog> main_;
  std::unique_ptr<CertCommands> commands_;
};

TEST_F(ModernCommandsTest, ServerCertificatesFollowTheirRoot) {
  Choices modern;
  modern.profile = kvapp::kProfileModern;
  ASSERT_EQ(Run(kvapp::kIdNewRoot, Entry("Acme Root", "rootpass1"), modern), kvapp::CommandOutcome::kSucceeded);
  EXPECT_EQ(kvapp::CertFileProfile(Path("Acme Root.crt")), kvapp::kProfileModern);
  Choices server;
  server.names = {"www.example.com", "10.1.2.3"};
  server.days = 90;
  ASSERT_EQ(Run(kvapp::kIdNewServer, Entry("example.com"), server), kvapp::CommandOutcome::kSucceeded);
  const std::string pem = Path("s.pem");
  ASSERT_TRUE(Shell("openssl x509 -inform DER -in '" + Path("example.com.crt") + "' -out '" + pem + "'"));
  ASSERT_TRUE(Shell("openssl x509 -inform DER -in '" + Path("Acme Root.crt") + "' -out '" + Path("r.pem") + "'"));
  EXPECT_TRUE(Shell("openssl verify -x509_strict -purpose sslserver -CAfile '" + Path("r.pem") + "' '" + pem + "'"));
  EXPECT_TRUE(Shell("openssl x509 -in '" + pem + "' -noout -ext subjectAltName | grep -q " +
                    "'DNS:example.com, DNS:www.example.com, IP Address:10.1.2.3'"));
  // The outside check can fail: a name the certificate does not hold.
  EXPECT_FALSE(Shell("openssl verify -x509_strict -purpose sslserver -verify_hostname other.example -CAfile '" +
                     Path("r.pem") + "' '" + pem + "'"));
  ui_.events.clear();
  Select("example.com.crt");
  EXPECT_EQ(main_->OnCommand(kvapp::kIdVerifyCert), kvapp::CommandOutcome::kSucceeded);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"message", "Certificate is valid."}}));

  // 91 days on: expired, with the date, though the signature is good.
  const int64_t issued = kvplatform::CalendarSeconds();
  g_clock = issued + 91LL * 86400;
  kvplatform::SetClockForTest(FixedClock);
  EXPECT_EQ(main_->OnCommand(kvapp::kIdVerifyCert), kvapp::CommandOutcome::kInvalid);
  const std::vector<Event> boxes = TakeBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].kind, "error");
  EXPECT_EQ(boxes[0].text.rfind("The certificate has expired: its validity period ended 20", 0), 0u)
      << boxes[0].text;
  EXPECT_EQ(boxes[1], (Event{"message", "Certificate is invalid."}));
}

TEST_F(ModernCommandsTest, ChoicesAreCheckedBeforeAnythingIsWritten) {
  Choices modern;
  modern.profile = kvapp::kProfileModern;
  Choices badBits = modern;
  badBits.keyBits = 1000;
  EXPECT_EQ(Run(kvapp::kIdNewRoot, Entry("R1", "rootpass1"), badBits), kvapp::CommandOutcome::kFailed);
  Choices classicBits;
  classicBits.keyBits = 2048;
  EXPECT_EQ(Run(kvapp::kIdNewRoot, Entry("R2", "rootpass1"), classicBits), kvapp::CommandOutcome::kFailed);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"error", "The key size must be 2048, 3072 or 4096 bits."},
                                             {"error", "The key size can be chosen only for a root of the modern "
                                                       "profile."}}));
  EXPECT_FALSE(Exists(Path("R1.key")) || Exists(Path("R2.key")) || Exists(Path("R1.crt")) || Exists(Path("R2.crt")));

  ASSERT_EQ(Run(kvapp::kIdNewRoot, Entry("Root", "rootpass1"), modern), kvapp::CommandOutcome::kSucceeded);
  ui_.events.clear();
  struct Case {
    const char* host;
    Choices choices;
    const char* message;
  };
  Choices zeroDays, bigDays, badName, tooMany;
  zeroDays.days = -1;
  bigDays.days = 7301;
  badName.names = {"ok.example", "bad_name.example"};
  tooMany.names.assign(32, "a.example");
  const Case cases[] = {
      {"web", zeroDays, "The validity must be from 1 to 7300 days."},
      {"web", bigDays, "The validity must be from 1 to 7300 days."},
      {"web", badName, "The name bad_name.example is neither"},
      {"web", tooMany, "At most 32 names can be given."},
      {"*.*.example", {}, "The name *.*.example is neither"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Run(kvapp::kIdNewServer, Entry(c.host), c.choices), kvapp::CommandOutcome::kFailed);
    const std::vector<Event> boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind(c.message, 0), 0u) << boxes[0].text;
  }
  EXPECT_FALSE(Exists(Path("web.crt")) || Exists(Path("web.key")));
}

TEST_F(ModernCommandsTest, ClassicRootRefusesModernChoices) {
  ASSERT_EQ(Run(kvapp::kIdNewRoot, Entry("Old Root", "rootpass1"), {}), kvapp::CommandOutcome::kSucceeded);
  EXPECT_EQ(kvapp::CertFileProfile(Path("Old Root.crt")), kvapp::kProfileClassic);
  ui_.events.clear();
  Choices names;
  names.names = {"www.example.com"};
  EXPECT_EQ(Run(kvapp::kIdNewServer, Entry("web"), names), kvapp::CommandOutcome::kFailed);
  const std::vector<Event> boxes = TakeBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("classic profile"), std::string::npos);
  EXPECT_FALSE(Exists(Path("web.key")));
  // Without the choices the classic server certificate is made as before.
  EXPECT_EQ(Run(kvapp::kIdNewServer, Entry("web"), {}), kvapp::CommandOutcome::kSucceeded);
  EXPECT_TRUE(Shell("openssl x509 -inform DER -in '" + Path("web.crt") +
                    "' -noout -text | grep -q 'sha1WithRSAEncryption'"));
}

// Passwords of modern key files take 64 characters of up to four bytes each,
// whole: the root's at its prompt (16 for a classic root), a new server
// key's, and an existing modern key's in Create Server Certificate. A
// password that differs only in its 64th character is wrong.
TEST_F(ModernCommandsTest, ModernKeyPasswordsOf64Characters) {
  std::string stem;
  for (int i = 0; i < 63; ++i) stem += "\xF0\x9F\x98\x80";
  const std::string right = stem + "A", wrong = stem + "B";
  Choices modern;
  modern.profile = kvapp::kProfileModern;
  ASSERT_EQ(Run(kvapp::kIdNewRoot, Entry("Long Root", right.c_str()), modern), kvapp::CommandOutcome::kSucceeded);
  EXPECT_TRUE(kvapp::IsModernKeyFile(Path("Long Root.key")));
  ui_.events.clear();
  ui_.passwords = {wrong, right};
  ASSERT_EQ(commands_->SelectRoot(Path("Long Root.crt")), 1);
  EXPECT_EQ(ui_.rootPasswordLimit, 64u);
  EXPECT_EQ(ui_.Boxes(), (std::vector<Event>{{"error", "Password incorrect."}}));
  EXPECT_EQ(main_->rootKeyPassword(), right);

  // A new server key under it and a second certificate for that key file,
  // both under its 64-character password; the dialog profile comes from
  // the root.
  ui_.details.push_back([&](kvapp::CertDetailsDialog& d) {
    EXPECT_EQ(d.profile, kvapp::kProfileModern);
    return EnterAndOk(d, Entry("web.example", wrong.c_str()));
  });
  ASSERT_EQ(main_->OnCommand(kvapp::kIdNewServer), kvapp::CommandOutcome::kSucceeded);
  EXPECT_TRUE(kvapp::IsModernKeyFile(Path("web.example.key")));
  ASSERT_EQ(std::remove(Path("web.example.crt").c_str()), 0);
  Select("web.example.key");
  DetailsEntry again = Entry("web.example", wrong.c_str());
  again.confirmPassword.reset();
  ui_.details.push_back(EnterDetails(again));
  EXPECT_EQ(main_->OnCommand(kvapp::kIdCreateServerCert), kvapp::CommandOutcome::kSucceeded);
  EXPECT_TRUE(Exists(Path("web.example.crt")));

  // A classic root's prompt stays at 16.
  ASSERT_EQ(Run(kvapp::kIdNewRoot, Entry("Old Root", "rootpass1"), {}), kvapp::CommandOutcome::kSucceeded);
  ui_.passwords = {std::string("rootpass1")};
  ASSERT_EQ(commands_->SelectRoot(Path("Old Root.crt")), 1);
  EXPECT_EQ(ui_.rootPasswordLimit, 16u);
}

}  // namespace
}  // namespace apptest
