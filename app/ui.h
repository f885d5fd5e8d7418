// The interface between the application's logic and a front end. Every
// command runs the same code whatever front end (terminal, desktop windows,
// a scripted test) implements it.
//
// Dialogs keep their fields and the state of their controls in their logic
// classes (MainDialog, CertDetailsDialog, CertContentsDialog,
// IssuedDialog); a front end shows those controls, passes the user's edits
// and button presses to the logic's event handlers and redraws after each.
#ifndef KVCATOOL_APP_UI_H
#define KVCATOOL_APP_UI_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kvapp {

class MainDialog;
class CertDetailsDialog;
class IssuedDialog;
struct CertContentsFields;

// Id of the caption every message box carries ("Orvane Inc. Certificate Tool").
constexpr int kMessageCaptionId = 57344;
// Most characters the root password prompt accepts for a classic root key
// file (see AskRootPasswordUpTo for a modern one).
constexpr size_t kRootPasswordMaxChars = 16;

// What a password prompt of the key commands asks for. A front end may take
// each kind from its own source (the command line's password files).
enum class PasswordKind {
  kKeyPassword,     // the password of an existing key file
  kExportPassword,  // a new password for an exported key (entered twice)
  kNewKeyPassword,  // a key file's new password (entered twice)
};

// One password prompt: a window with |caption|, the line |prompt| and hidden
// entries of at most |maxChars| characters (UTF-8 code points) each.
struct PasswordRequest {
  PasswordKind kind = PasswordKind::kKeyPassword;
  std::string caption;
  std::string prompt;
  size_t maxChars = 0;
};

// How a help topic is asked for.
enum class HelpCommand {
  kContext,       // the dialog's topic (Help button)
  kContextPopup,  // a control's topic as a popup
  kContextMenu,   // "what's this" menu over the controls of a dialog
  kQuit,          // close the help system
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Message boxes, all with caption string 57344. "\n" in a text is a line
  // break.
  virtual void ShowError(const std::string& text) = 0;    // stop icon, OK
  virtual void ShowMessage(const std::string& text) = 0;  // no icon, OK
  virtual bool AskYesNo(const std::string& text) = 0;     // no icon; true for Yes

  // "Root Key Password": "Enter password to unlock root key.", one hidden
  // entry of at most 16 characters. False when the user cancels. The prompt
  // starts empty every time it is shown.
  virtual bool AskRootPassword(std::string& password) = 0;

  // File-open chooser: |filter| is a string-table filter ("Name|pattern|..."),
  // the chosen file must exist. False when cancelled.
  virtual bool ChooseFileToOpen(const std::string& filter, const std::string& initialName, std::string& path) = 0;
  // Directory chooser: on confirmation |path| is the chosen directory, then
  // "/" and |initialName| (a file that need not exist). False when cancelled.
  virtual bool ChooseDirectory(const std::string& filter, const std::string& initialName, std::string& path) = 0;

  // Progress window (no caption, no buttons, one line of text) shown from
  // ShowProgress until HideProgress.
  virtual void ShowProgress(const std::string& text) = 0;
  virtual void HideProgress() = 0;
  virtual void SetBusyPointer(bool busy) = 0;

  // One diagnostic line for standard output.
  virtual void WriteOutputLine(const std::string& line) = 0;

  // Help topics of the program's help file by context number. For
  // kContextMenu, |menuTable| holds (control id, context) pairs ending with
  // (0, 0).
  virtual void ShowHelp(HelpCommand command, uint32_t context,
                        const std::vector<std::pair<uint32_t, uint32_t>>& menuTable) = 0;

  // Runs the main dialog: OnInitDialog, then (once it is visible)
  // RunPostedMessages, then the user's events until MainDialog::ended().
  virtual void RunMainDialog(MainDialog& dialog) = 0;
  // Runs the details dialog modally; true when it closed with OK (that is,
  // CertDetailsDialog::OnOK returned true), false for Cancel.
  virtual bool RunCertDetailsDialog(CertDetailsDialog& dialog) = 0;
  // Shows the six fields of a certificate modally.
  virtual void ShowCertContents(const CertContentsFields& fields) = 0;
  // The About box with its one line of text.
  virtual void ShowAbout(const std::string& productLine) = 0;

  // The root password prompt of AskRootPassword holding the entry to
  // |maxChars| characters: kRootPasswordMaxChars for a classic root key file,
  // 64 (kModernPasswordMaxChars, key_files.h) for a modern one. A front end
  // without a limit of its own keeps the default, which asks through
  // AskRootPassword.
  virtual bool AskRootPasswordUpTo(size_t maxChars, std::string& password) {
    (void)maxChars;
    return AskRootPassword(password);
  }
  // ---- The issued-certificate register ----
  // Runs the Issued Certificates dialog modally: IssuedDialog::OnInitDialog,
  // then the user's events until the dialog is closed.
  virtual void RunIssuedDialog(IssuedDialog& dialog) = 0;
  // One of |items| (not empty) chosen under |title| with |prompt|: |index|
  // comes in as the proposed item and goes out as the chosen one. False when
  // cancelled.
  virtual bool ChooseItem(const std::string& title, const std::string& prompt, const std::vector<std::string>& items,
                          int& index) = 0;
  // A whole number from |minimum| to |maximum| under |title| with |prompt|:
  // |value| comes in as the proposal and goes out as the answer. False when
  // cancelled.
  virtual bool AskNumber(const std::string& title, const std::string& prompt, int minimum, int maximum,
                         int& value) = 0;
  // Save-as chooser with |caption|: |filter| as for ChooseFileToOpen,
  // |initialName| the proposed file (a full path). On confirmation |path|
  // is the chosen file, which need not exist; the command itself refuses
  // one that does. False when cancelled.
  virtual bool ChooseFileToSave(const std::string& caption, const std::string& filter,
                                const std::string& initialName, std::string& path) = 0;
  // Asks for one password as |request| describes. The entry starts empty
  // every time. False when the user cancels.
  virtual bool AskPassword(const PasswordRequest& request, std::string& password) = 0;
  // Asks for a new password and its confirmation, both hidden, in one
  // prompt. The command compares them. False when the user cancels.
  virtual bool AskNewPassword(const PasswordRequest& request, std::string& password, std::string& confirm) = 0;
};

}  // namespace kvapp

#endif
