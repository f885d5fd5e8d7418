// The main dialog: the program's working state (current root, its key and
// password, current directory, selected file), the file list of a directory,
// the command buttons and their dispatch.
#ifndef KVCATOOL_APP_MAIN_DIALOG_H
#define KVCATOOL_APP_MAIN_DIALOG_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/context.h"

namespace kvapp {

// Control ids of the main dialog.
enum MainControlId : int {
  kIdNewRoot = 1001,
  kIdSelectRoot = 1002,
  kIdViewRoot = 1003,
  kIdNewServer = 1004,
  kIdCreateServerCert = 1006,
  kIdViewCert = 1007,
  kIdVerifyCert = 1008,
  kIdDirectoryCombo = 1009,
  kIdBrowse = 1010,
  kIdFilterCombo = 1011,
  kIdFileList = 1013,
  kIdCloseOrEnter = 1014,
  kIdRootCertField = 1028,
  // The Export menu (a button that opens it), its entries, and Change Key
  // Password.
  kIdExportMenu = 1050,
  kIdExportCertPem = 1051,
  kIdExportKeyPkcs8 = 1052,
  kIdExportKeyUnencrypted = 1053,
  kIdExportPkcs12 = 1054,
  kIdChangeKeyPassword = 1055,
  kIdHelpButton = 57670,
  // The issued-certificate register: the button that opens its dialog and
  // the expiry line under the root certificate field.
  kIdIssuedCertificates = 1069,
  kIdExpiryLine = 1070,
};

// The entries of the Export menu, in their order.
inline constexpr int kExportMenuEntries[] = {kIdExportCertPem, kIdExportKeyPkcs8, kIdExportKeyUnencrypted,
                                             kIdExportPkcs12};

// Help context of the main dialog's topic (help base 0x20000 + dialog 102).
constexpr uint32_t kMainDialogHelpContext = 131174;
// Popup topics are 0x50000 + control id.
constexpr uint32_t kControlHelpBase = 0x50000;
// The system menu's About command.
constexpr uint32_t kAboutCommandId = 16;
// "Parlo/Agent Certificate Utility" with the version, as the About box shows it.
std::string AboutProductLine();

// Builds the context-menu help table for |controlIds|: (id, 0x50000 + id)
// pairs, at most 31 of them, then (0, 0).
std::vector<std::pair<uint32_t, uint32_t>> ContextMenuHelpTable(const std::vector<int>& controlIds);

// How a command ended, for a front end that reports it (the command line's
// exit status); the user has already been told by the command's own boxes.
enum class CommandOutcome {
  kSucceeded,  // done (a success message, the contents or "Certificate is valid." shown)
  kFailed,     // refused or failed, after saying why
  kCancelled,  // the user cancelled a dialog or a chooser: nothing was done
  kInvalid,    // Verify Certificate: the certificate does not check against the root
  kNotRun,     // a disabled button, an ended dialog, or no command routines
};

// The root and server certificate commands the buttons run; each returns
// how it ended.
class MainCommands {
 public:
  virtual ~MainCommands() = default;
  virtual CommandOutcome NewRootCertificateAndKeys() = 0;
  virtual CommandOutcome SelectRootCertificate() = 0;
  virtual CommandOutcome ViewRootCertificate() = 0;
  virtual CommandOutcome NewServerCertificateAndKeys() = 0;
  virtual CommandOutcome CreateServerCertificate() = 0;
  virtual CommandOutcome ViewCertificate() = 0;
  virtual CommandOutcome VerifyCertificate() = 0;
  // Tests |certPath| and its key file, asks for the root key password and
  // makes the root current. 1 when it became current, else 0.
  virtual int SelectRoot(const std::string& certPath) = 0;
  // Opens the Issued Certificates dialog of the current root.
  virtual CommandOutcome IssuedCertificates() { return CommandOutcome::kNotRun; }
  // The expiry line of the current root's register ("Issued certificates:
  // N expired, M expire within 30 days.") in |line|; false, creating
  // nothing, when the root has no register yet or it cannot be read.
  virtual bool RootExpiryLine(std::string& line) {
    (void)line;
    return false;
  }
};

class MainDialog {
 public:
  // The state of the dialog's controls as a front end shows them.
  struct Controls {
    std::vector<std::string> directoryItems;  // combo 1009, item 0 on top
    std::string directoryText;                // its edit part
    std::vector<std::string> filterItems;     // combo 1011
    int filterSelection = -1;
    std::vector<std::string> fileItems;  // list 1013, sorted
    int fileSelection = -1;
    std::string rootCertText;  // read-only field 1028
    std::map<int, bool> enabled;
    bool focusInDirectoryCombo = false;  // the user is typing a directory
    std::string expiryLine;              // line 1070 under the root; empty: hidden
  };

  explicit MainDialog(AppContext& context);
  ~MainDialog();
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  void SetCommands(MainCommands* commands) { commands_ = commands; }
  AppContext& context() { return context_; }
  Controls& controls() { return controls_; }
  const Controls& controls() const { return controls_; }
  bool IsEnabled(int controlId) const;
  bool ended() const { return ended_; }

  // Data exchange: true copies the controls into the fields ("read the
  // controls"), false the fields into the controls ("show the fields").
  void UpdateData(bool readControls);

  // Opening: shows the fields, fills the combos and the file list, sets the
  // buttons and posts the restoring of the remembered root.
  void OnInitDialog();
  // Runs what OnInitDialog posted (RestoreRootSetting); a front end calls it
  // once the dialog is visible. Does nothing when nothing is pending.
  void RunPostedMessages();

  // Events from the front end. OnCommand returns how the button's command
  // ended (kSucceeded for the buttons that only change the view).
  CommandOutcome OnCommand(int controlId);
  void OnDirectoryChosen(int index);  // selection change in combo 1009
  void OnFilterChosen(int index);     // selection change in combo 1011
  void OnFileChosen(int index);       // selection change in list 1013 (-1: none)
  void OnContextHelp(int controlId);  // F1 or "?" on a control
  void OnContextMenu();
  void OnSysCommand(uint32_t commandId);
  // Escape or the window's close command: ends the dialog (and the program).
  void EndDialog();

  // Operations the commands use.
  void UpdateCommandButtons();
  // Shows the current root's expiry line, or hides it when there is no root
  // or no register (run when the root changes and after each command).
  void UpdateExpiryLine();
  void FillFileList();
  std::string GetSelectedFilePath() const;
  void OnFileSelectionChanged();
  void SetCurrentRoot(const std::string& certPath, const std::string& keyPath, const std::string& password);
  // Remembers |certPath| as the root in the settings; true when it was
  // written. When the settings had to keep it in the user's own file, says
  // where (once).
  bool SaveRootSetting(const std::string& certPath);
  void RestoreRootSetting();
  // The directory picker: on confirmation |path| is a directory, "/" and
  // "junk.crt". False when cancelled.
  bool ChooseDirectory(std::string& path);
  // The organization and country a new server certificate is proposed with;
  // an empty value leaves that one as it was.
  void SetRememberedNames(const std::string& organization, const std::string& country);
  // Typing |directory| into the directory combo and pressing Enter: it
  // becomes the current directory and the file list shows it.
  void EnterDirectory(const std::string& directory);

  // Fields, read only: the operations above change them.
  const std::string& currentDirectory() const { return currentDirectory_; }
  const std::string& filesFilter() const { return filesFilter_; }
  const std::string& rootCertPath() const { return rootCertPath_; }
  const std::string& rootKeyPassword() const { return rootKeyPassword_; }
  const std::string& rootKeyPath() const { return rootKeyPath_; }
  int rootSelected() const { return rootSelected_; }
  int fileSelected() const { return fileSelected_; }
  int selectedIsCertificate() const { return selectedIsCertificate_; }
  const std::string& rememberedOrganization() const { return rememberedOrganization_; }
  const std::string& rememberedCountry() const { return rememberedCountry_; }

 private:
  CommandOutcome RunCommand(int controlId);
  CommandOutcome Browse();
  // The export and key-password commands on the selected file; after a
  // success the file list is read again (an export may have added a file)
  // with the selection kept.
  CommandOutcome RunKeyCommand(int controlId);
  void CloseOrEnterDirectory();

  std::string currentDirectory_;
  std::string filesFilter_;
  std::string rootCertPath_;
  std::string rootKeyPassword_;
  std::string rootKeyPath_;
  int rootSelected_ = 0;
  int fileSelected_ = 0;
  int selectedIsCertificate_ = 0;
  std::string rememberedOrganization_;
  std::string rememberedCountry_;

  AppContext& context_;
  MainCommands* commands_ = nullptr;
  Controls controls_;
  bool restorePending_ = false;
  bool ended_ = false;
};

}  // namespace kvapp

#endif
