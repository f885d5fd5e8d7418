// The details dialog: proposals by mode, automatic naming, the Directory...
// buttons and the order of OK's tests and messages.
#include <memory>

#include "app/cert_details_dialog.h"
#include "app/key_files.h"
#include "app/main_dialog.h"
#include "app_fixture.h"
#include "cryptokit/qmemory.h"
#include "services/kvservices.h"

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
  // A dialog of |mode| for the |profile| of a new root (chosen with its radio
  // button) or of the current root (set before opening, as the commands do).
  std::unique_ptr<CertDetailsDialog> OpenFor(int mode, int profile, const std::string& base = "") {
    auto dialog = std::make_unique<CertDetailsDialog>(*main_, mode, dir_ + "/", base);
    if (mode != kvapp::kModeNewRoot) dialog->profile = profile;
    dialog->OnInitDialog();
    if (mode == kvapp::kModeNewRoot && profile == kvapp::kProfileModern) {
      dialog->SetControlChoice(kvapp::kIdProfileModern, 0);
    }
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

std::string Repeat(const std::string& unit, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

// The profile's controls, shown and enabled, as strings over 1040 to 1044.
TEST_F(DetailsTest, ProfileControlsByModeAndProfile) {
  using kvapp::kProfileClassic;
  using kvapp::kProfileModern;
  struct Row {
    const char* what;
    int mode;
    int profile;
    const char* shown;
    const char* enabled;
    const char* days;
  };
  const Row rows[] = {
      {"new root, classic", kvapp::kModeNewRoot, kProfileClassic, "11100", "11000", ""},
      {"new root, modern", kvapp::kModeNewRoot, kProfileModern, "11100", "11100", ""},
      {"new server, classic root", kvapp::kModeNewServer, kProfileClassic, "00000", "00000", ""},
      {"new server, modern root", kvapp::kModeNewServer, kProfileModern, "00111", "00111", "825"},
      {"existing key, classic root", kvapp::kModeCertForKey, kProfileClassic, "00000", "00000", ""},
      {"existing key, modern root", kvapp::kModeCertForKey, kProfileModern, "00011", "00011", "825"},
  };
  for (const Row& row : rows) {
    auto d = OpenFor(row.mode, row.profile, "web1");
    std::string shown, enabled;
    for (int id = kvapp::kIdProfileClassic; id <= kvapp::kIdValidityDays; ++id) {
      shown += d->IsShown(id) ? '1' : '0';
      enabled += d->IsEnabled(id) ? '1' : '0';
    }
    EXPECT_EQ(shown, row.shown) << row.what;
    EXPECT_EQ(enabled, row.enabled) << row.what;
    EXPECT_EQ(Text(*d, kvapp::kIdValidityDays), row.days) << row.what;
    // The fields the classic commands still see.
    if (row.profile == kProfileClassic) {
      EXPECT_EQ(d->days, 0) << row.what;
    }
  }
}

// The profile's radio buttons and the key size set their fields at once; a
// classic root drops a size chosen for a modern one. OK keeps the choices.
TEST_F(DetailsTest, ProfileAndKeySizeChoices) {
  auto d = Open(kvapp::kModeNewRoot, "kvroot");
  EXPECT_EQ(d->controls().choice.at(kvapp::kIdProfileClassic), 1);
  EXPECT_EQ(d->controls().choice.at(kvapp::kIdKeySize), 0);
  EXPECT_EQ(d->controls().items.at(kvapp::kIdKeySize),
            (std::vector<std::string>{"2048 bits", "3072 bits", "4096 bits"}));
  d->SetControlChoice(kvapp::kIdKeySize, 2);  // disabled for a classic root
  EXPECT_EQ(d->keyBits, 0);
  d->SetControlChoice(kvapp::kIdProfileModern, 0);
  d->SetControlChoice(kvapp::kIdKeySize, 2);
  d->SetControlChoice(kvapp::kIdKeySize, 3);  // no such item
  EXPECT_EQ(d->keyBits, 4096);
  EXPECT_EQ(d->controls().choice.at(kvapp::kIdKeySize), 2);
  d->SetControlChoice(kvapp::kIdProfileClassic, 0);
  EXPECT_EQ(d->profile, kvapp::kProfileClassic);
  EXPECT_EQ(d->keyBits, 0);
  EXPECT_EQ(d->controls().choice.at(kvapp::kIdKeySize), 0);
  EXPECT_FALSE(d->IsEnabled(kvapp::kIdKeySize));

  d->SetControlChoice(kvapp::kIdProfileModern, 0);
  d->SetControlChoice(kvapp::kIdKeySize, 1);
  DetailsEntry e = Valid();
  e.password = e.confirmPassword = std::string(40, 'p');
  ASSERT_TRUE(EnterAndOk(*d, e));
  EXPECT_EQ(d->profile, kvapp::kProfileModern);
  EXPECT_EQ(d->keyBits, 3072);
  EXPECT_EQ(d->password, std::string(40, 'p'));
}

// Key passwords: 8 to 16 characters for a classic key file (2013), 8 to 64
// for a modern one (2060), counted in characters; over-long ones are
// refused whole, never cut.
TEST_F(DetailsTest, PasswordLimitsFollowTheKeyFile) {
  using kvapp::kProfileClassic;
  using kvapp::kProfileModern;
  const std::string smile = "\xF0\x9F\x98\x80", e = "\xC3\xA9";
  const char* classic = "Key password must be between 8 and 16 characters.";
  const char* modern = "Key password must be between 8 and 64 characters.";
  struct Row {
    int mode;
    int profile;
    std::string password;
    const char* message;  // null: accepted
  };
  const Row rows[] = {
      {kvapp::kModeNewRoot, kProfileClassic, Repeat(smile, 16), nullptr},
      {kvapp::kModeNewRoot, kProfileClassic, std::string(17, 'a'), classic},
      {kvapp::kModeNewRoot, kProfileModern, Repeat(smile, 64), nullptr},
      {kvapp::kModeNewRoot, kProfileModern, std::string(65, 'a'), modern},
      {kvapp::kModeNewRoot, kProfileModern, Repeat(e, 7), modern},
      {kvapp::kModeNewServer, kProfileModern, Repeat(e, 64), nullptr},
      {kvapp::kModeNewServer, kProfileModern, Repeat(e, 65), modern},
      {kvapp::kModeNewServer, kProfileClassic, std::string(17, 'a'), classic},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.mode << "/" << row.profile << "/" << row.password);
    ui_.events.clear();
    auto d = OpenFor(row.mode, row.profile, "kvroot");
    EXPECT_EQ(d->Limit(kvapp::kIdPassword), row.profile == kProfileModern ? 64u : 16u);
    DetailsEntry entry = Valid();
    entry.hostName = "web1";
    entry.password = entry.confirmPassword = row.password;
    const bool accepted = EnterAndOk(*d, entry);
    if (row.message == nullptr) {
      EXPECT_TRUE(accepted);
      EXPECT_EQ(d->password, row.password);
    } else {
      EXPECT_FALSE(accepted);
      EXPECT_EQ(ui_.events, std::vector<Event>{(Event{"error", row.message})});
    }
  }
}

// A certificate for an existing key file: the password limit is that of the
// key file's form, whatever the root.
TEST_F(DetailsTest, ExistingKeyPasswordLimitFollowsItsForm) {
  unsigned char publicKey[kvapp::kKeyBufferSize], privateKey[kvapp::kKeyBufferSize];
  int publicLength = kvapp::kKeyBufferSize, privateLength = kvapp::kKeyBufferSize;
  ASSERT_EQ(errKVKeyGen(64, publicKey, &publicLength, privateKey, &privateLength), 0);
  ASSERT_EQ(kvapp::WriteModernKeyFile(*context_, publicKey, publicLength, privateKey, &privateLength,
                                      Path("modern.key"), std::string(64, 'k')),
            0);
  QMem_Wipe(privateKey, sizeof privateKey);
  WriteFile("classic.key");
  struct Row {
    const char* base;
    size_t length;
    const char* message;  // null: accepted
  };
  const Row rows[] = {
      {"modern", 64, nullptr},
      {"modern", 65, "Key password must be between 8 and 64 characters."},
      {"classic", 16, nullptr},
      {"classic", 17, "Key password must be between 8 and 16 characters."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.base << " " << row.length);
    ui_.events.clear();
    auto d = OpenFor(kvapp::kModeCertForKey, kvapp::kProfileClassic, row.base);
    EXPECT_EQ(d->UsesModernKeyFile(), std::string(row.base) == "modern");
    DetailsEntry entry = Valid();
    entry.password = std::string(row.length, 'k');
    entry.confirmPassword.reset();
    EXPECT_EQ(EnterAndOk(*d, entry), row.message == nullptr);
    if (row.message != nullptr) {
      EXPECT_EQ(ui_.events, std::vector<Event>{(Event{"error", row.message})});
    }
  }
}

// Under a modern root the further names are split as typed, the validity is
// read as days, and OK refuses bad ones with the dialog left open.
TEST_F(DetailsTest, FurtherNamesAndValidityUnderAModernRoot) {
  auto d = OpenFor(kvapp::kModeNewServer, kvapp::kProfileModern);
  const std::string typed = " a.example, b.example\n\n10.0.0.1\tc.example,";
  d->SetControlText(kvapp::kIdFurtherNames, typed);
  EXPECT_EQ(d->furtherNames, (std::vector<std::string>{"a.example", "b.example", "10.0.0.1", "c.example"}));
  d->SetControlText(kvapp::kIdHostName, "web1");  // the dialog's own update keeps the text as typed
  EXPECT_EQ(Text(*d, kvapp::kIdFurtherNames), typed);
  const std::pair<const char*, int> days[] = {{"", 0}, {"90", 90}, {"0", -1}, {"7301", 7301}, {"12a", -1},
                                              {"123456", -1}};
  for (const auto& [text, value] : days) {
    d->SetControlText(kvapp::kIdValidityDays, text);
    EXPECT_EQ(d->days, value) << text;
  }

  std::string many;
  for (int i = 0; i < 32; ++i) many.append("n").append(std::to_string(i)).append(".example ");
  struct Row {
    std::string names;
    const char* days;
    const char* message;  // the beginning of the message; null: accepted
  };
  const Row rows[] = {
      {"www.example.org,192.0.2.1", "90", nullptr},
      {"ok.example bad_name.example", "", "The name bad_name.example is neither"},
      {"a.example", "0", "The validity must be from 1 to 7300 days."},
      {"a.example", "7301", "The validity must be from 1 to 7300 days."},
      {many, "", "At most 32 names can be given."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.names);
    ui_.events.clear();
    auto server = OpenFor(kvapp::kModeNewServer, kvapp::kProfileModern);
    server->SetControlText(kvapp::kIdFurtherNames, row.names);
    server->SetControlText(kvapp::kIdValidityDays, row.days);
    DetailsEntry entry = Valid();
    entry.hostName = "web1";
    const bool accepted = EnterAndOk(*server, entry);
    if (row.message == nullptr) {
      EXPECT_TRUE(accepted);
      EXPECT_TRUE(ui_.events.empty());
    } else {
      EXPECT_FALSE(accepted);
      ASSERT_EQ(ui_.events.size(), 1u);
      EXPECT_EQ(ui_.events[0].text.rfind(row.message, 0), 0u) << ui_.events[0].text;
      EXPECT_EQ(Text(*server, kvapp::kIdFurtherNames), row.names);  // kept for correcting
    }
  }

  // Under a classic root the controls take nothing.
  auto classic = OpenFor(kvapp::kModeNewServer, kvapp::kProfileClassic);
  classic->SetControlText(kvapp::kIdFurtherNames, "a.example");
  classic->SetControlText(kvapp::kIdValidityDays, "90");
  EXPECT_TRUE(classic->furtherNames.empty());
  EXPECT_EQ(classic->days, 0);
}

}  // namespace
}  // namespace apptest
