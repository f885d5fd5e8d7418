// The Export menu's commands and Change Key Password as the main dialog runs
// them: which entries a selection enables, each export read back by the
// openssl command line, a cancel at every question writing nothing, and the
// refusals (wrong password, existing output, mismatched or short passwords).
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "app/cert_commands.h"
#include "app/key_exports.h"
#include "app/key_files.h"
#include "app_fixture.h"
#include "services/kvservices.h"

namespace apptest {
namespace {

using kvapp::CommandOutcome;
using Passwords = std::pair<std::string, std::string>;

bool Shell(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class KeyExportsTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    main_ = std::make_unique<kvapp::MainDialog>(*context_);
    commands_ = std::make_unique<kvapp::CertCommands>(*main_);
    main_->SetCommands(commands_.get());
    ui_.RunMainDialog(*main_);
    DetailsEntry root;
    root.organization = "Acme";
    root.country = "US";
    root.password = root.confirmPassword = "rootpass1";
    ui_.details.push_back(EnterDetails(root));
    ASSERT_EQ(main_->OnCommand(kvapp::kIdNewRoot), CommandOutcome::kSucceeded);
    DetailsEntry server;
    server.hostName = "web1";
    server.password = server.confirmPassword = "webpass12";
    ui_.details.push_back(EnterDetails(server));
    ASSERT_EQ(main_->OnCommand(kvapp::kIdNewServer), CommandOutcome::kSucceeded);
    ui_.events.clear();
  }

  void Select(const std::string& name) {
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
  // The events that are questions to the user (choosers and prompts).
  std::vector<std::string> Questions() const {
    std::vector<std::string> kinds;
    for (const Event& e : ui_.events) {
      if (e.kind == "save" || e.kind == "key password" || e.kind == "new password" || e.kind == "question") {
        kinds.push_back(e.kind);
      }
    }
    return kinds;
  }
  bool Opens(const std::string& keyFile, const std::string& password) {
    unsigned char key[2 * kvapp::kKeyBufferSize];
    int length = kvapp::kKeyBufferSize;
    return errKVKeyFileGetPrivateKeyEx(Path(keyFile).c_str(), key, &length, password.c_str()) == 0;
  }

  std::unique_ptr<kvapp::MainDialog> main_;
  std::unique_ptr<kvapp::CertCommands> commands_;
};

TEST_F(KeyExportsTest, SelectionEnablesItsEntries) {
  using namespace kvapp;
  const struct {
    const char* file;  // nullptr: nothing selected
    bool rootSelected;
    std::vector<int> enabled;
  } cases[] = {
      {nullptr, true, {}},
      {"web1.crt", true, {kIdExportMenu, kIdExportCertPem}},
      {"web1.key", true, {kIdExportMenu, kIdExportKeyPkcs8, kIdExportKeyUnencrypted, kIdExportPkcs12, kIdChangeKeyPassword}},
      {"web1.key", false, {kIdExportMenu, kIdExportKeyPkcs8, kIdExportKeyUnencrypted, kIdChangeKeyPassword}},
  };
  const int all[] = {kIdExportMenu,   kIdExportCertPem,      kIdExportKeyPkcs8,
                     kIdExportKeyUnencrypted, kIdExportPkcs12, kIdChangeKeyPassword};
  for (const auto& c : cases) {
    kvapp::MainDialog main(*context_);
    main.OnInitDialog();
    if (c.rootSelected) main.SetCurrentRoot(Path("kvroot.crt"), Path("kvroot.key"), "rootpass1");
    main.OnFilterChosen(3);
    const auto& items = main.controls().fileItems;
    for (size_t i = 0; c.file != nullptr && i < items.size(); ++i) {
      if (items[i] == c.file) main.OnFileChosen(static_cast<int>(i));
    }
    std::vector<int> enabled;
    for (int id : all) {
      if (main.IsEnabled(id)) enabled.push_back(id);
    }
    EXPECT_EQ(enabled, c.enabled) << (c.file ? c.file : "(none)") << " root " << c.rootSelected;
    // A disabled entry does nothing.
    for (int id : all) {
      if (!main.IsEnabled(id)) {
        EXPECT_EQ(main.OnCommand(id), CommandOutcome::kNotRun) << id;
      }
    }
  }
  EXPECT_EQ(ui_.unanswered, 0);
}

TEST_F(KeyExportsTest, EachExportIsReadByOpenssl) {
  const std::string exportPw = Path("export.txt");
  std::ofstream(exportPw) << "exportpw99\n";
  const struct {
    const char* select;
    int command;
    const char* out;
    bool keyPassword, exportPassword;
    const char* message;
    unsigned mode;
    std::string check;  // an openssl command that reads the output
  } cases[] = {
      {"web1.crt", kvapp::kIdExportCertPem, "web1.pem", false, false, "Certificate", 0644,
       "openssl x509 -in OUT -noout"},
      {"web1.key", kvapp::kIdExportKeyPkcs8, "web1.key.pem", true, true, "Private key", 0600,
       "openssl pkey -in OUT -passin file:PW -noout"},
      {"web1.key", kvapp::kIdExportKeyUnencrypted, "plain.pem", true, false, "Private key", 0600,
       "openssl pkey -in OUT -noout"},
      {"web1.key", kvapp::kIdExportPkcs12, "web1.p12", true, true, "PKCS #12 file", 0600,
       "openssl pkcs12 -in OUT -passin file:PW -nodes | grep -c 'BEGIN CERTIFICATE' | grep -qx 2"},
  };
  for (const auto& c : cases) {
    Select(c.select);
    ui_.saveFiles = {Path(c.out)};
    if (c.keyPassword) ui_.keyPasswords = {std::string("webpass12")};
    if (c.exportPassword) ui_.newPasswords = {Passwords{"exportpw99", "exportpw99"}};
    EXPECT_EQ(main_->OnCommand(c.command), CommandOutcome::kSucceeded) << c.out;
    EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"message", std::string(c.message) + " written to " + Path(c.out) + "."}}));
    struct stat st;
    ASSERT_EQ(::stat(Path(c.out).c_str(), &st), 0) << c.out;
    EXPECT_EQ(st.st_mode & 0777, c.mode) << c.out;
    std::string check = c.check;
    check.replace(check.find("OUT"), 3, "'" + Path(c.out) + "'");
    const size_t pw = check.find("PW");
    if (pw != std::string::npos) check.replace(pw, 2, "'" + exportPw + "'");
    EXPECT_TRUE(Shell(check)) << check;
    // The outside check can fail: under a wrong password the file is refused.
    if (c.exportPassword) {
      std::string wrong = c.check;
      wrong.replace(wrong.find("OUT"), 3, "'" + Path(c.out) + "'");
      wrong.replace(wrong.find("file:PW"), 7, "pass:wrongpass1");
      EXPECT_FALSE(Shell(wrong)) << wrong;
    }
  }
  EXPECT_EQ(ui_.unanswered, 0);
  // The proposed names and the PKCS #12 file's chain.
  EXPECT_EQ(kvapp::ExportFileName(Path("web1.key"), ".p12"), Path("web1.p12"));
  EXPECT_TRUE(Shell("openssl pkcs12 -in '" + Path("web1.p12") + "' -passin file:'" + exportPw +
                    "' -cacerts -nokeys | openssl x509 -noout -subject | grep -q Acme"));
}

TEST_F(KeyExportsTest, CancelAtEveryQuestionWritesNothing) {
  // Each command's questions in order; cancelling question |i| (answering
  // those before it) must end the command with nothing written.
  const struct {
    const char* select;
    int command;
    std::vector<std::string> questions;
  } cases[] = {
      {"web1.crt", kvapp::kIdExportCertPem, {"save"}},
      {"web1.key", kvapp::kIdExportKeyPkcs8, {"save", "key password", "new password"}},
      {"web1.key", kvapp::kIdExportKeyUnencrypted, {"save", "key password"}},
      {"web1.key", kvapp::kIdExportPkcs12, {"save", "key password", "new password"}},
      {"web1.key", kvapp::kIdChangeKeyPassword, {"question", "key password", "new password"}},
  };
  const std::string keyBefore = ReadAll(Path("web1.key"));
  for (const auto& c : cases) {
    for (size_t cancel = 0; cancel < c.questions.size(); ++cancel) {
      if (c.questions[cancel] == "question") continue;  // a choice, not a cancel
      Select(c.select);
      ui_.events.clear();
      for (size_t i = 0; i < c.questions.size(); ++i) {
        const std::string& q = c.questions[i];
        const bool cancelled = i == cancel;
        if (q == "save") ui_.saveFiles.push_back(cancelled ? std::nullopt : std::optional<std::string>(Path("out.x")));
        if (q == "key password") {
          ui_.keyPasswords.push_back(cancelled ? std::nullopt : std::optional<std::string>("webpass12"));
        }
        if (q == "new password") {
          ui_.newPasswords.push_back(cancelled ? std::nullopt
                                               : std::optional<Passwords>(Passwords{"newpass12", "newpass12"}));
        }
        if (q == "question") ui_.yesNo.push_back(false);  // keep the classic form
        if (cancelled) break;
      }
      EXPECT_EQ(main_->OnCommand(c.command), CommandOutcome::kCancelled) << c.command << " at " << cancel;
      std::vector<std::string> asked(c.questions.begin(), c.questions.begin() + static_cast<long>(cancel) + 1);
      EXPECT_EQ(Questions(), asked) << c.command;
      for (const Event& box : ui_.Boxes()) EXPECT_EQ(box.kind, "question") << c.command << ": " << box.text;
      EXPECT_FALSE(Exists(Path("out.x"))) << c.command;
      EXPECT_EQ(ReadAll(Path("web1.key")), keyBefore) << c.command;
      EXPECT_EQ(ui_.unanswered, 0);
      ui_.saveFiles.clear();
      ui_.keyPasswords.clear();
      ui_.newPasswords.clear();
      ui_.yesNo.clear();
    }
  }
}

TEST_F(KeyExportsTest, RefusalsWriteNothing) {
  std::ofstream(Path("taken.pem")) << "keep me";
  const struct {
    int command;
    std::string out;
    std::optional<std::string> keyPassword;
    std::optional<Passwords> exportPasswords;
    std::string error;
  } cases[] = {
      {kvapp::kIdExportKeyPkcs8, "k.pem", "wrongpass", std::nullopt, "Password incorrect."},
      {kvapp::kIdExportPkcs12, "k.p12", "wrongpass", std::nullopt, "Password incorrect."},
      {kvapp::kIdExportKeyUnencrypted, "taken.pem", std::nullopt, std::nullopt,
       "File \"" + Path("taken.pem") + "\" already exists. Choose another file name."},
      {kvapp::kIdExportKeyPkcs8, "k.pem", "webpass12", Passwords{"exportpw99", "exportpw98"},
       "Entered password and confirmation do not match."},
      {kvapp::kIdExportPkcs12, "k.p12", "webpass12", Passwords{"seven77", "seven77"},
       "Export password must be at least 8 characters."},
  };
  for (const auto& c : cases) {
    Select("web1.key");
    ui_.saveFiles = {Path(c.out)};
    if (c.keyPassword) ui_.keyPasswords = {*c.keyPassword};
    if (c.exportPasswords) ui_.newPasswords = {*c.exportPasswords};
    EXPECT_EQ(main_->OnCommand(c.command), CommandOutcome::kFailed) << c.error;
    EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"error", c.error}}));
    EXPECT_EQ(ui_.unanswered, 0) << c.error;
  }
  EXPECT_EQ(ReadAll(Path("taken.pem")), "keep me");
  EXPECT_FALSE(Exists(Path("k.pem")));
  EXPECT_FALSE(Exists(Path("k.p12")));

  // A certificate that is not the key's is refused before any password.
  std::ofstream(Path("other.key"), std::ios::binary) << ReadAll(Path("kvroot.key"));
  std::ofstream(Path("other.crt"), std::ios::binary) << ReadAll(Path("web1.crt"));
  Select("other.key");
  ui_.saveFiles = {Path("k.p12")};
  EXPECT_EQ(main_->OnCommand(kvapp::kIdExportPkcs12), CommandOutcome::kFailed);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"error", "The certificate " + Path("other.crt") +
                                                           " does not belong to the key file " + Path("other.key") +
                                                           "."}}));
  EXPECT_FALSE(Exists(Path("k.p12")));
}

TEST_F(KeyExportsTest, ChangePasswordKeepsOrUpgradesTheForm) {
  Select("web1.key");
  const std::string before = ReadAll(Path("web1.key"));
  // A classic file: the upgrade is offered; kept, its limit stays 16.
  ui_.yesNo = {false};
  ui_.keyPasswords = {std::string("webpass12")};
  ui_.newPasswords = {Passwords{"newpass12", "newpass12"}};
  EXPECT_EQ(main_->OnCommand(kvapp::kIdChangeKeyPassword), CommandOutcome::kSucceeded);
  EXPECT_EQ(ui_.lastPasswordRequest.maxChars, 16u);
  EXPECT_EQ(ui_.lastPasswordRequest.kind, kvapp::PasswordKind::kNewKeyPassword);
  std::vector<Event> boxes = TakeBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].kind, "question");
  EXPECT_EQ(boxes[1], (Event{"message", "Password of " + Path("web1.key") + " changed."}));
  EXPECT_EQ(ReadAll(Path("web1.key"))[1], KV_KEYFILE_TAG_ENCRYPTED_PRIVATE);
  EXPECT_TRUE(Opens("web1.key", "newpass12"));
  EXPECT_FALSE(Opens("web1.key", "webpass12"));
  EXPECT_TRUE(main_->IsEnabled(kvapp::kIdChangeKeyPassword));  // the selection is kept

  // Upgraded: the modern form and a password of up to 64 characters.
  const std::string long40 = "a passphrase of forty characters, long..";
  ui_.yesNo = {true};
  ui_.keyPasswords = {std::string("newpass12")};
  ui_.newPasswords = {Passwords{long40, long40}};
  EXPECT_EQ(main_->OnCommand(kvapp::kIdChangeKeyPassword), CommandOutcome::kSucceeded);
  EXPECT_EQ(ui_.lastPasswordRequest.maxChars, 64u);
  boxes = TakeBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1],
            (Event{"message", "Key file " + Path("web1.key") + " written in the modern form under the new password."}));
  EXPECT_EQ(ReadAll(Path("web1.key"))[1], KV_KEYFILE_TAG_MODERN_PRIVATE);
  EXPECT_TRUE(Opens("web1.key", long40));
  EXPECT_FALSE(ui_.progressVisible);
  EXPECT_EQ(ui_.busyDepth, 0);

  // A modern file is not asked again; a wrong password or a short new one
  // leaves it as it is.
  const std::string modern = ReadAll(Path("web1.key"));
  ui_.keyPasswords = {std::string("newpass12"), long40};
  ui_.newPasswords = {Passwords{"newpass13", "newpass13"}, Passwords{"short", "short"}};
  EXPECT_EQ(main_->OnCommand(kvapp::kIdChangeKeyPassword), CommandOutcome::kFailed);
  EXPECT_EQ(main_->OnCommand(kvapp::kIdChangeKeyPassword), CommandOutcome::kFailed);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"error", "Password incorrect."},
                                             {"error", "Key password must be between 8 and 64 characters."}}));
  EXPECT_EQ(ReadAll(Path("web1.key")), modern);
  EXPECT_NE(modern, before);
  EXPECT_EQ(ui_.unanswered, 0);
}

}  // namespace
}  // namespace apptest
