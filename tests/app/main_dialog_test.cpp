// The main dialog and start-up, through the scripted front end.
#include <memory>

#include "app/cert_utility_app.h"
#include "app/main_dialog.h"
#include "app/strings.h"
#include "app_fixture.h"

namespace apptest {
namespace {

using kvapp::MainDialog;

// Records the commands the buttons run; SelectRoot makes the root current
// like the real routine does when the password is right.
class RecordingCommands : public kvapp::MainCommands {
 public:
  explicit RecordingCommands(MainDialog& dialog) : dialog_(dialog) {}
  kvapp::CommandOutcome NewRootCertificateAndKeys() override { return Record("new root"); }
  kvapp::CommandOutcome SelectRootCertificate() override { return Record("select root"); }
  kvapp::CommandOutcome ViewRootCertificate() override { return Record("view root"); }
  kvapp::CommandOutcome NewServerCertificateAndKeys() override { return Record("new server"); }
  kvapp::CommandOutcome CreateServerCertificate() override { return Record("create server"); }
  kvapp::CommandOutcome ViewCertificate() override { return Record("view"); }
  kvapp::CommandOutcome VerifyCertificate() override { return Record("verify"); }
  int SelectRoot(const std::string& certPath) override {
    calls.push_back("SelectRoot " + certPath);
    return 0;
  }
  std::vector<std::string> calls;

 private:
  kvapp::CommandOutcome Record(const char* call) {
    calls.push_back(call);
    return kvapp::CommandOutcome::kSucceeded;
  }
  MainDialog& dialog_;
};

class FixedAdministrator : public kvplatform::AdministratorTest {
 public:
  explicit FixedAdministrator(bool admin) : admin_(admin) {}
  bool IsUserAdministrator() override { return admin_; }

 private:
  bool admin_;
};

class MainDialogTest : public AppFixture {
 protected:
  // Opens a main dialog with recording commands, as the front end does.
  void Open() {
    dialog_ = std::make_unique<MainDialog>(*context_);
    commands_ = std::make_unique<RecordingCommands>(*dialog_);
    dialog_->SetCommands(commands_.get());
    ui_.RunMainDialog(*dialog_);
  }
  std::vector<bool> DependentButtons() const {
    std::vector<bool> state;
    for (int id : {kvapp::kIdViewRoot, kvapp::kIdNewServer, kvapp::kIdCreateServerCert, kvapp::kIdViewCert,
                   kvapp::kIdVerifyCert}) {
      state.push_back(dialog_->IsEnabled(id));
    }
    return state;
  }
  int IndexOf(const std::string& name) const {
    const auto& items = dialog_->controls().fileItems;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == name) return static_cast<int>(i);
    }
    return -1;
  }
  std::unique_ptr<MainDialog> dialog_;
  std::unique_ptr<RecordingCommands> commands_;
};

TEST_F(MainDialogTest, NonAdministratorGetsOnlyMessage2037) {
  FixedAdministrator notAdmin(false);
  int factoryCalls = 0;
  kvapp::CertUtilityApp app(*context_, notAdmin, [&](MainDialog&) {
    ++factoryCalls;
    return std::unique_ptr<kvapp::MainCommands>();
  });
  EXPECT_EQ(app.Run(), 1);
  EXPECT_EQ(ui_.events, (std::vector<Event>{{"error", "You must be an administrator to run the Parlo/Agent Certificate Utility."}}));
  EXPECT_EQ(factoryCalls, 0);
}

TEST_F(MainDialogTest, StartWithoutRememberedRoot) {
  FixedAdministrator admin(true);
  std::vector<std::string>* calls = nullptr;
  kvapp::CertUtilityApp app(*context_, admin, [&](MainDialog& dialog) {
    auto commands = std::make_unique<RecordingCommands>(dialog);
    calls = &commands->calls;
    EXPECT_EQ(dialog.controls().rootCertText, "");  // not shown yet
    return commands;
  });
  EXPECT_EQ(app.Run(), 0);
  EXPECT_TRUE(ui_.events.empty());
  Open();
  EXPECT_EQ(dialog_->controls().rootCertText, "No root certificate selected.");
  EXPECT_EQ(dialog_->rootSelected(), 0);
  EXPECT_EQ(DependentButtons(), std::vector<bool>(5, false));
  EXPECT_TRUE(commands_->calls.empty());
  EXPECT_TRUE(ui_.events.empty());
  EXPECT_EQ(dialog_->controls().directoryItems, std::vector<std::string>{dir_ + "/"});
  EXPECT_EQ(dialog_->controls().filterSelection, 0);
}

TEST_F(MainDialogTest, RememberedRootIsSelectedAfterOpening) {
  Remember(Path("ca/kvroot.crt"));
  Open();
  EXPECT_EQ(commands_->calls, std::vector<std::string>{"SelectRoot " + Path("ca/kvroot.crt")});
  EXPECT_TRUE(ui_.events.empty());
  // Posted once only.
  dialog_->RunPostedMessages();
  EXPECT_EQ(commands_->calls.size(), 1u);
}

TEST_F(MainDialogTest, RememberedRootOnMissingRemovableMediaAsksForIt) {
  Remember("/media/kvusb/ca/kvroot.crt");
  Open();
  EXPECT_EQ(ui_.events, (std::vector<Event>{{"message", "Insert disk containing root certificate and keys in drive /media/kvusb."}}));
  EXPECT_EQ(commands_->calls, std::vector<std::string>{"SelectRoot /media/kvusb/ca/kvroot.crt"});
}

TEST_F(MainDialogTest, RememberedPathLongerThan259IsIgnored) {
  Remember("/" + std::string(259, 'a'));
  Open();
  EXPECT_TRUE(commands_->calls.empty());
  Remember("/" + std::string(258, 'a'));
  Open();
  EXPECT_EQ(commands_->calls.size(), 1u);
}

TEST_F(MainDialogTest, SetCurrentRootShowsPathEnablesServerCommandsAndIsRemembered) {
  Open();
  EXPECT_TRUE(dialog_->SaveRootSetting(Path("r.crt")));
  dialog_->SetCurrentRoot(Path("r.crt"), Path("r.key"), "password1");
  EXPECT_EQ(dialog_->controls().rootCertText, Path("r.crt"));
  EXPECT_EQ(DependentButtons(), (std::vector<bool>{true, true, false, false, false}));
  EXPECT_EQ(Remembered(), Path("r.crt"));
  EXPECT_EQ(dialog_->rootKeyPassword(), "password1");
}

TEST_F(MainDialogTest, FiltersListPlainFilesWithoutRegardToCase) {
  WriteFile("server.CRT");
  WriteFile("server.Key");
  WriteFile("readme.txt");
  WriteFile("Another.crt");
  WriteFile(".hidden.crt");
  std::filesystem::create_directory(Path("folder.crt"));
  Open();
  using Names = std::vector<std::string>;
  EXPECT_EQ(dialog_->controls().fileItems, (Names{"Another.crt", "server.CRT"}));
  dialog_->OnFilterChosen(1);
  EXPECT_EQ(dialog_->controls().fileItems, (Names{"server.Key"}));
  dialog_->OnFilterChosen(2);
  EXPECT_EQ(dialog_->controls().fileItems, (Names{"Another.crt", "server.CRT", "server.Key"}));
  dialog_->OnFilterChosen(3);
  EXPECT_EQ(dialog_->controls().fileItems, (Names{"Another.crt", "readme.txt", "server.CRT", "server.Key"}));
}

TEST_F(MainDialogTest, SelectionDrivesTheButtons) {
  WriteFile("server.CRT");
  WriteFile("server.Key");
  WriteFile("readme.txt");
  Open();
  dialog_->OnFilterChosen(3);
  struct Row {
    bool root;
    const char* file;
    std::vector<bool> buttons;  // 1003, 1004, 1006, 1007, 1008
  };
  const Row rows[] = {
      {false, "server.CRT", {false, false, false, true, false}},
      {false, "server.Key", {false, false, false, false, false}},
      {true, "server.CRT", {true, true, false, true, true}},
      {true, "server.Key", {true, true, true, false, false}},
      {true, "readme.txt", {true, true, false, false, false}},
  };
  for (const Row& row : rows) {
    if (row.root) dialog_->SetCurrentRoot(Path("r.crt"), Path("r.key"), "password1");
    dialog_->OnFileChosen(IndexOf(row.file));
    EXPECT_EQ(DependentButtons(), row.buttons) << row.file << " root " << row.root;
  }
  dialog_->OnFileChosen(IndexOf("server.Key"));
  EXPECT_EQ(dialog_->GetSelectedFilePath(), Path("server.Key"));
  dialog_->OnFileChosen(-1);
  EXPECT_EQ(dialog_->GetSelectedFilePath(), "");
  EXPECT_EQ(dialog_->fileSelected(), 0);
}

TEST_F(MainDialogTest, EnterInDirectoryComboListsItWithoutClosing) {
  WriteFile("sub/a.crt");
  Open();
  auto& controls = dialog_->controls();
  controls.directoryText = Path("sub");
  controls.focusInDirectoryCombo = true;
  dialog_->OnCommand(kvapp::kIdCloseOrEnter);
  EXPECT_FALSE(dialog_->ended());
  EXPECT_EQ(controls.directoryItems.front(), Path("sub"));
  EXPECT_EQ(controls.fileItems, std::vector<std::string>{"a.crt"});
  dialog_->OnFileChosen(0);
  EXPECT_EQ(dialog_->GetSelectedFilePath(), Path("sub/a.crt"));
  // Choosing the first directory from the list goes back to it.
  dialog_->OnDirectoryChosen(1);
  EXPECT_TRUE(controls.fileItems.empty());
  controls.focusInDirectoryCombo = false;
  dialog_->OnCommand(kvapp::kIdCloseOrEnter);
  EXPECT_TRUE(dialog_->ended());
  EXPECT_EQ(ui_.help.back().command, kvapp::HelpCommand::kQuit);
}

TEST_F(MainDialogTest, BrowseAddsTheSameDirectoryTwice) {
  WriteFile("b/x.crt");
  Open();
  ui_.directories = {Path("b"), Path("b"), std::nullopt};
  dialog_->OnCommand(kvapp::kIdBrowse);
  dialog_->OnCommand(kvapp::kIdBrowse);
  dialog_->OnCommand(kvapp::kIdBrowse);  // cancelled: nothing changes
  const auto& items = dialog_->controls().directoryItems;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], Path("b/"));
  EXPECT_EQ(items[1], Path("b/"));
  EXPECT_EQ(dialog_->currentDirectory(), Path("b/"));
  EXPECT_EQ(dialog_->controls().fileItems, std::vector<std::string>{"x.crt"});
  EXPECT_EQ(ui_.events[0].text,
            "Certificate Files (*.crt)|*.crt|Key Files (*.key)|*.key|Certificate and Key Files (*.crt,*.key)|*.crt;*.key|"
            "All Files (*.*)|*.*| junk.crt");
}

TEST_F(MainDialogTest, ButtonsDispatchAndDisabledButtonsDoNothing) {
  WriteFile("a.crt");
  Open();
  for (int id : {1001, 1002, 1003, 1004, 1006, 1007, 1008}) dialog_->OnCommand(id);
  EXPECT_EQ(commands_->calls, (std::vector<std::string>{"new root", "select root"}));
  dialog_->SetCurrentRoot(Path("r.crt"), Path("r.key"), "password1");
  dialog_->OnFileChosen(0);
  commands_->calls.clear();
  for (int id : {1003, 1004, 1006, 1007, 1008}) dialog_->OnCommand(id);
  EXPECT_EQ(commands_->calls, (std::vector<std::string>{"view root", "new server", "view", "verify"}));
}

TEST_F(MainDialogTest, HelpContextsAndAbout) {
  Open();
  dialog_->OnCommand(kvapp::kIdHelpButton);
  dialog_->OnContextHelp(kvapp::kIdFileList);
  dialog_->OnContextMenu();
  ASSERT_EQ(ui_.help.size(), 3u);
  EXPECT_EQ(ui_.help[0].command, kvapp::HelpCommand::kContext);
  EXPECT_EQ(ui_.help[0].context, 131174u);
  EXPECT_EQ(ui_.help[1].command, kvapp::HelpCommand::kContextPopup);
  EXPECT_EQ(ui_.help[1].context, 0x50000u + 1013u);
  const auto& table = ui_.help[2].table;
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(table.front(), (std::pair<uint32_t, uint32_t>{1028, 0x50000 + 1028}));
  EXPECT_EQ(table.back(), (std::pair<uint32_t, uint32_t>{0, 0}));
  EXPECT_EQ(kvapp::ContextMenuHelpTable(std::vector<int>(40, 7)).size(), 32u);
  dialog_->OnSysCommand(16 | 3);
  EXPECT_EQ(ui_.events.back(), (Event{"about", "Parlo/Agent Certificate Utility 4.4 [020]"}));
}

TEST(StringTable, TextsAndFormatting) {
  EXPECT_STREQ(kvapp::LoadString(57344), "Orvane Inc. Certificate Tool");
  EXPECT_STREQ(kvapp::LoadString(1011), "Creating root certficate and keys...");
  EXPECT_STREQ(kvapp::LoadString(2006), "The key  file %s already exists!");
  EXPECT_STREQ(kvapp::LoadString(2022), "The directory \"%s\" does not exist.\nDo you want to create it?");
  EXPECT_STREQ(kvapp::LoadString(2005), "");
  EXPECT_EQ(kvapp::FormatText("File \"%s\" here %d", "/a%s%d"), "File \"/a%s%d\" here %d");
  EXPECT_EQ(kvapp::FormatNumber("failed with error %d.", -1), "failed with error -1.");
  EXPECT_EQ(kvapp::FormatNumber("failed %X \n", 1831), "failed 727 \n");
  EXPECT_EQ(kvapp::FormatNumber("100% done: %d", 5), "100% done: 5");
}

}  // namespace
}  // namespace apptest
