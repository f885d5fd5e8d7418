// The details dialog: proposals by mode, automatic naming, the Directory...
// buttons and the order of OK's tests and messages.
#include <memory>

#include "app/cert_details_dialog.h"
#include "app/main_dialog.h"
#include "app_fixture.h"

namespace apptest {
namespace {

using kvapp::CertDetailsDialog;

class DetailsTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    main_ = std::make_unique<kvapp::MainDialog>(*context_);
  }
  std::unique_ptr<CertDetailsDialog> Open(int mode, const std::string& base = "") {
    auto dialog = std::make_unique<CertDetailsDialog>(*main_, mode, dir_ + "/", base);
    dialog->OnInitDialog();
    return dialog;
  }
  // A complete, valid entry for a new root in the temporary directory.
  DetailsEntry Valid() const {
    DetailsEntry e;
    e.hostName = "kvroot";
    e.organization = "Acme";
    e.country = "US";
    e.password = "password1";
    e.confirmPassword = "password1";
    return e;
  }
  std::string Text(const CertDetailsDialog& d, int id) const { return d.controls().text.at(id); }
  std::unique_ptr<kvapp::MainDialog> main_;
};

TEST_F(DetailsTest, ProposalsByMode) {
  auto root = Open(kvapp::kModeNewRoot, "kvroot");
  EXPECT_EQ(Text(*root, kvapp::kIdHostName), "kvroot");
  EXPECT_EQ(Text(*root, kvapp::kIdCertFile), Path("kvroot.crt"));
  EXPECT_EQ(Text(*root, kvapp::kIdKeyFile), Path("kvroot.key"));
  EXPECT_EQ(root->controls().caption, "Create new Certificate and Keys");
  EXPECT_TRUE(root->autoNameFiles && root->certDirFollows && root->keyDirFollows);

  auto server = Open(kvapp::kModeNewServer);
  EXPECT_EQ(Text(*server, kvapp::kIdCertFile), dir_ + "/");
  EXPECT_EQ(Text(*server, kvapp::kIdKeyFile), dir_ + "/");
  EXPECT_TRUE(server->autoNameFiles && server->certDirFollows && server->keyDirFollows);

  auto forKey = Open(kvapp::kModeCertForKey, "web1");
  EXPECT_EQ(Text(*forKey, kvapp::kIdCertFile), Path("web1.crt"));
  EXPECT_EQ(Text(*forKey, kvapp::kIdKeyFile), Path("web1.key"));
  EXPECT_EQ(forKey->controls().caption, "Create new Certificate");
  EXPECT_FALSE(forKey->IsEnabled(kvapp::kIdKeyFile));
  EXPECT_FALSE(forKey->IsEnabled(kvapp::kIdKeyDirectory));
  EXPECT_FALSE(forKey->IsEnabled(kvapp::kIdConfirmPassword));
  EXPECT_TRUE(forKey->IsEnabled(kvapp::kIdCertDirectory));
}

TEST_F(DetailsTest, HostNameNamesTheFilesUntilAFileNameIsEdited) {
  auto d = Open(kvapp::kModeNewServer);
  d->SetControlText(kvapp::kIdHostName, "w");
  d->SetControlText(kvapp::kIdHostName, "web1");
  EXPECT_EQ(Text(*d, kvapp::kIdCertFile), Path("web1.crt"));
  EXPECT_EQ(Text(*d, kvapp::kIdKeyFile), Path("web1.key"));
  EXPECT_TRUE(d->autoNameFiles);  // the dialog's own updates are no user edits
  d->SetControlText(kvapp::kIdKeyFile, Path("other.key"));
  EXPECT_FALSE(d->autoNameFiles);
  d->SetControlText(kvapp::kIdHostName, "web2");
  EXPECT_EQ(Text(*d, kvapp::kIdCertFile), Path("web1.crt"));
  EXPECT_EQ(Text(*d, kvapp::kIdKeyFile), Path("other.key"));
}

TEST_F(DetailsTest, EachFileKeepsItsOwnDirectoryWhenRenamed) {
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  ui_.directories = {Path("keys")};
  d->OnKeyDirectory();
  d->SetControlText(kvapp::kIdHostName, "ca1");
  // The first choice moved both files; renaming keeps that directory.
  EXPECT_EQ(Text(*d, kvapp::kIdCertFile), Path("keys/ca1.crt"));
  EXPECT_EQ(Text(*d, kvapp::kIdKeyFile), Path("keys/ca1.key"));
}

TEST_F(DetailsTest, DirectoryButtonsFollowRules) {
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  ui_.directories = {Path("ca"), Path("keys"), Path("certs"), std::nullopt};
  d->OnCertDirectory();  // first choice: both move
  EXPECT_EQ(Text(*d, kvapp::kIdCertFile), Path("ca/kvroot.crt"));
  EXPECT_EQ(Text(*d, kvapp::kIdKeyFile), Path("ca/kvroot.key"));
  d->OnKeyDirectory();  // the other file alone now
  EXPECT_EQ(Text(*d, kvapp::kIdCertFile), Path("ca/kvroot.crt"));
  EXPECT_EQ(Text(*d, kvapp::kIdKeyFile), Path("keys/kvroot.key"));
  d->OnCertDirectory();
  EXPECT_EQ(Text(*d, kvapp::kIdCertFile), Path("certs/kvroot.crt"));
  EXPECT_EQ(Text(*d, kvapp::kIdKeyFile), Path("keys/kvroot.key"));
  d->OnCertDirectory();  // cancelled
  EXPECT_EQ(Text(*d, kvapp::kIdCertFile), Path("certs/kvroot.crt"));
  // The top directory: the file lands directly under "/".
  ui_.directories = {std::string("/")};
  d->OnKeyDirectory();
  EXPECT_EQ(Text(*d, kvapp::kIdKeyFile), "/kvroot.key");

  auto server = Open(kvapp::kModeNewServer);
  server->SetControlText(kvapp::kIdHostName, "web1");
  ui_.directories = {Path("srv")};
  server->OnKeyDirectory();
  EXPECT_EQ(Text(*server, kvapp::kIdCertFile), Path("srv/web1.crt"));
  EXPECT_EQ(Text(*server, kvapp::kIdKeyFile), Path("srv/web1.key"));

  auto forKey = Open(kvapp::kModeCertForKey, "web1");
  ui_.directories = {Path("out")};
  forKey->OnCertDirectory();
  forKey->OnKeyDirectory();  // disabled
  EXPECT_EQ(Text(*forKey, kvapp::kIdCertFile), Path("out/web1.crt"));
  EXPECT_EQ(Text(*forKey, kvapp::kIdKeyFile), Path("web1.key"));
}

TEST_F(DetailsTest, OkTestsInOrder) {
  struct Row {
    const char* what;
    DetailsEntry change;
    const char* message;  // null: accepted
  };
  auto with = [this](auto edit) {
    DetailsEntry e = Valid();
    edit(e);
    return e;
  };
  const Row rows[] = {
      {"no host, no org", with([](DetailsEntry& e) { e.hostName = ""; e.organization = ""; }), "You must enter a Host Name."},
      {"no org, bad country", with([](DetailsEntry& e) { e.organization = ""; e.country = "U1"; }), "You must enter an Organization."},
      {"U1", with([](DetailsEntry& e) { e.country = "U1"; }), "You must enter a 2-letter country code."},
      {"U", with([](DetailsEntry& e) { e.country = "U"; }), "You must enter a 2-letter country code."},
      {"no cert file", with([](DetailsEntry& e) { e.certFile = ""; e.keyFile = ""; }), "You must enter a certificate file name."},
      {"no key file", with([](DetailsEntry& e) { e.keyFile = ""; }), "You must enter a key file name."},
      {"relative cert", with([](DetailsEntry& e) { e.certFile = "a.crt"; }), "Invalid file path: a.crt."},
      {"doubled slash", with([](DetailsEntry& e) { e.certFile = "//a.crt"; }), "Invalid file path: //a.crt."},
      {"root dir", with([](DetailsEntry& e) { e.certFile = "/"; }), "Invalid file name: /."},
      {"mismatch first", with([](DetailsEntry& e) { e.password = "short1"; e.confirmPassword = "short22"; }),
       "Entered password and confirmation do not match."},
      {"7 chars", with([](DetailsEntry& e) { e.password = e.confirmPassword = "1234567"; }),
       "Key password must be between 8 and 16 characters."},
      {"16 chars", with([](DetailsEntry& e) { e.password = e.confirmPassword = "0123456789abcdef"; }), nullptr},
      // A value over a limit (from a file or a command line) is refused, never cut.
      {"17 chars", with([](DetailsEntry& e) { e.password = e.confirmPassword = "0123456789abcdefg"; }),
       "Key password must be between 8 and 16 characters."},
      {"us lower case", with([](DetailsEntry& e) { e.country = "us"; }), nullptr},
      {"third letter", with([](DetailsEntry& e) { e.country = "USA"; }), "You must enter a 2-letter country code."},
  };
  for (const Row& row : rows) {
    ui_.events.clear();
    auto d = Open(kvapp::kModeNewRoot, "kvroot");
    bool accepted = EnterAndOk(*d, row.change);
    if (row.message == nullptr) {
      EXPECT_TRUE(accepted) << row.what;
      EXPECT_TRUE(ui_.events.empty()) << row.what;
    } else {
      EXPECT_FALSE(accepted) << row.what;
      EXPECT_EQ(ui_.events, std::vector<Event>{(Event{"error", row.message})}) << row.what;
    }
  }
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  ASSERT_TRUE(EnterAndOk(*d, with([](DetailsEntry& e) { e.country = "us"; })));
  EXPECT_EQ(d->country, "us");
  EXPECT_EQ(d->password, "password1");
}

// Limits count characters: values at the limit in multi-byte characters
// are taken whole, one character more is refused with the field's message.
TEST_F(DetailsTest, LimitsCountCharacters) {
  auto repeat = [](const std::string& unit, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  const std::string e = "\xC3\xA9", euro = "\xE2\x82\xAC", smile = "\xF0\x9F\x98\x80";
  struct Row {
    std::string host, organization, password;
    const char* message;  // null: accepted
  };
  const Row rows[] = {
      {repeat(e, 64), repeat(smile, 64), "password1", nullptr},
      {repeat(e, 65), "Acme", "password1", "Host Name must be at most 64 characters."},
      {"kvroot", repeat(euro, 65), "password1", "Organization must be at most 64 characters."},
      {std::string(65, 'h'), "Acme", "password1", "Host Name must be at most 64 characters."},
      {"kvroot", repeat(smile, 16), repeat(smile, 16), nullptr},
      {"kvroot", "Acme", repeat(e, 17), "Key password must be between 8 and 16 characters."},
      {"kvroot", "Acme", repeat(euro, 7), "Key password must be between 8 and 16 characters."},
  };
  for (const Row& row : rows) {
    ui_.events.clear();
    auto d = Open(kvapp::kModeNewRoot, "kvroot");
    DetailsEntry entry = Valid();
    entry.hostName = row.host;
    entry.organization = row.organization;
    entry.password = entry.confirmPassword = row.password;
    const bool accepted = EnterAndOk(*d, entry);
    if (row.message == nullptr) {
      EXPECT_TRUE(accepted) << row.host;
      EXPECT_EQ(d->hostName, row.host);
      EXPECT_EQ(d->organization, row.organization);
      EXPECT_EQ(d->password, row.password);
    } else {
      EXPECT_FALSE(accepted) << row.message;
      EXPECT_EQ(ui_.events, std::vector<Event>{(Event{"error", row.message})});
    }
  }
  // For an existing key only a password longer than any key's is refused.
  ui_.events.clear();
  auto d = Open(kvapp::kModeCertForKey, "web1");
  DetailsEntry entry = Valid();
  entry.password = "0123456789abcdefg";
  entry.confirmPassword.reset();
  EXPECT_FALSE(EnterAndOk(*d, entry));
  EXPECT_EQ(ui_.events, std::vector<Event>{(Event{"error", "Key password must be between 8 and 16 characters."})});
}

TEST_F(DetailsTest, PathRules) {
  const std::string longPath = "/" + std::string(511, 'a');
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  EXPECT_EQ(d->ValidateOutputPath(longPath), 0);
  EXPECT_EQ(d->ValidateOutputPath(Path("nodir/")), 0);  // no question for a path without a name
  EXPECT_EQ(ui_.events, (std::vector<Event>{{"error", "Invalid file path: " + longPath + "."},
                                            {"error", "Invalid file name: " + Path("nodir/") + "."}}));
  EXPECT_FALSE(Exists(Path("nodir")));
  // A file at the top directory needs no directory test.
  ui_.events.clear();
  EXPECT_EQ(d->ValidateOutputPath("/kvcatool-test-does-not-exist.crt"), 1);
  EXPECT_TRUE(ui_.events.empty());
}

TEST_F(DetailsTest, MissingDirectoryIsCreatedOnRequest) {
  const std::string cert = Path("new/sub/a.crt");
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  ui_.yesNo = {false};
  EXPECT_EQ(d->ValidateOutputPath(cert), 0);
  EXPECT_EQ(ui_.events, (std::vector<Event>{
                            {"question", "The directory \"" + Path("new/sub") + "\" does not exist.\nDo you want to create it?"},
                            {"error", "Unable to create certificate."}}));
  EXPECT_FALSE(Exists(Path("new")));
  ui_.events.clear();
  ui_.yesNo = {true};
  EXPECT_EQ(d->ValidateOutputPath(cert), 1);
  EXPECT_EQ(ui_.events.size(), 1u);  // the one question
  EXPECT_TRUE(std::filesystem::is_directory(Path("new/sub")));

  // A directory that cannot be made: a plain file stands in its way.
  WriteFile("blocker");
  ui_.events.clear();
  ui_.yesNo = {true};
  EXPECT_EQ(d->ValidateOutputPath(Path("blocker/sub/a.crt")), 0);
  ASSERT_EQ(ui_.events.size(), 2u);
  EXPECT_EQ(ui_.events[1], (Event{"error", "Error: Cannot create directory: " + Path("blocker/sub") + "."}));
}

TEST_F(DetailsTest, ExistingFilesAreRefusedButMode1006TakesTheExistingKey) {
  WriteFile("kvroot.key");
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  EXPECT_FALSE(EnterAndOk(*d, Valid()));
  EXPECT_EQ(ui_.events, (std::vector<Event>{{"error", "File \"" + Path("kvroot.key") + "\" already exists. Choose another file name."}}));

  ui_.events.clear();
  WriteFile("web1.key");
  auto forKey = Open(kvapp::kModeCertForKey, "web1");
  DetailsEntry e;
  e.hostName = "web1";
  e.organization = "Acme";
  e.country = "DE";
  EXPECT_TRUE(EnterAndOk(*forKey, e));  // no password needed here
  EXPECT_TRUE(ui_.events.empty());
  EXPECT_EQ(forKey->keyFile, Path("web1.key"));
  EXPECT_EQ(forKey->password, "");

  WriteFile("web1.crt");
  EXPECT_FALSE(forKey->OnOK());
  EXPECT_EQ(ui_.events.back(), (Event{"error", "File \"" + Path("web1.crt") + "\" already exists. Choose another file name."}));
}

TEST_F(DetailsTest, ContextHelp) {
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  d->OnContextHelp(kvapp::kIdCountry);
  d->OnContextMenu();
  ASSERT_EQ(ui_.help.size(), 2u);
  EXPECT_EQ(ui_.help[0].context, 0x50000u + 1018u);
  // The nine fields and buttons, the profile's two radio buttons and the key
  // size, then (0, 0).
  EXPECT_EQ(ui_.help[1].table.size(), 13u);
  EXPECT_EQ(ui_.help[1].table[11], (std::pair<uint32_t, uint32_t>{1042u, 0x50000u + 1042u}));
  // A classic server dialog shows none of the profile's controls.
  auto server = Open(kvapp::kModeNewServer);
  server->OnContextMenu();
  EXPECT_EQ(ui_.help.back().table.size(), 10u);
}

}  // namespace
}  // namespace apptest
