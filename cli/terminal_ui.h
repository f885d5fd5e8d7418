// The terminal front end: the application's message boxes, questions,
// password prompts and dialogs on standard output, standard error and the
// terminal, with answers for scripts taken from the command line and from
// password files.
#ifndef KVCATOOL_CLI_TERMINAL_UI_H
#define KVCATOOL_CLI_TERMINAL_UI_H

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ui.h"

namespace kvcli {

// Where passwords come from: files named on the command line, else the
// terminal on standard input (without echo). The contents are wiped when the
// object goes.
struct PasswordSources {
  std::optional<std::string> keyPassword;     // --password-file
  std::optional<std::string> rootPassword;    // --root-password-file
  std::optional<std::string> exportPassword;  // --export-password-file
  std::optional<std::string> newPassword;     // --new-password-file (change-password)
  bool terminal = false;                      // standard input is a terminal
  bool rootPasswordGiven = false;             // the file's root password has been handed out once

  PasswordSources() = default;
  PasswordSources(const PasswordSources&) = delete;
  PasswordSources& operator=(const PasswordSources&) = delete;
  ~PasswordSources();
};

// What the details dialog is filled with; unset fields keep the dialog's
// proposals.
struct DetailsValues {
  std::optional<std::string> hostName, organization, country, certFile, keyFile;
  // Choices of the modern certificate profile (see CertDetailsDialog).
  std::optional<int> profile, keyBits, days;
  std::vector<std::string> furtherNames;
};

class TerminalUi : public kvapp::UserInterface {
 public:
  // How the root key password prompt is answered.
  enum class RootPasswordMode {
    kCheckOnly,  // not asked: the prompt is only noted (the checks before it passed)
    kAsk,        // asked (terminal or --root-password-file)
  };

  TerminalUi(std::FILE* out, std::FILE* err, PasswordSources& passwords);

  // Set by the session before it runs a command.
  std::optional<bool> scriptedAnswer;  // --yes / --no
  // How ShowCertContents prints: the six fields, with the details below
  // them (--all), or everything as one JSON object (--json).
  enum class ContentsForm { kFields, kAll, kJson };
  ContentsForm contentsForm = ContentsForm::kFields;
  DetailsValues details;
  RootPasswordMode rootMode = RootPasswordMode::kCheckOnly;
  // The file --out names: the save-as chooser's answer (unset: cancelled).
  std::optional<std::string> saveAs;
  // What runs inside the main dialog once it is open.
  std::function<void(kvapp::MainDialog&)> session;

  // The root password prompt was reached (root selection's checks passed).
  bool rootPromptReached = false;

  // A line on standard output. Every text goes to the terminal escaped
  // (control characters and bytes that are not UTF-8 as \xHH, see
  // utf8_text.h); only its line breaks stay line breaks.
  void Print(const std::string& text);
  // Asks for a password on the terminal (hidden); false when there is no
  // terminal (after saying which option to use) or the input ended.
  bool AskTerminalPassword(const std::string& prompt, const char* optionName, std::string& password);

  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  bool AskRootPassword(std::string& password) override;
  bool ChooseFileToOpen(const std::string& filter, const std::string& initialName, std::string& path) override;
  bool ChooseDirectory(const std::string& filter, const std::string& initialName, std::string& path) override;
  void ShowProgress(const std::string& text) override;
  void HideProgress() override;
  void SetBusyPointer(bool busy) override;
  void WriteOutputLine(const std::string& line) override;
  void ShowHelp(kvapp::HelpCommand command, uint32_t context,
                const std::vector<std::pair<uint32_t, uint32_t>>& menuTable) override;
  void RunMainDialog(kvapp::MainDialog& dialog) override;
  bool RunCertDetailsDialog(kvapp::CertDetailsDialog& dialog) override;
  void ShowCertContents(const kvapp::CertContentsFields& fields) override;
  void ShowAbout(const std::string& productLine) override;
  // The register's dialog and its choosers are the desktop program's: the
  // command line has its own commands for them and refuses these.
  void RunIssuedDialog(kvapp::IssuedDialog& dialog) override;
  bool ChooseItem(const std::string& title, const std::string& prompt, const std::vector<std::string>& items,
                  int& index) override;
  bool AskNumber(const std::string& title, const std::string& prompt, int minimum, int maximum, int& value) override;
  // The save-as chooser answers with --out (saveAs).
  bool ChooseFileToSave(const std::string& caption, const std::string& filter, const std::string& initialName,
                        std::string& path) override;
  // Each kind of password from its file (--password-file,
  // --export-password-file, --new-password-file; given whole, and as its
  // own confirmation), else from the terminal.
  bool AskPassword(const kvapp::PasswordRequest& request, std::string& password) override;
  bool AskNewPassword(const kvapp::PasswordRequest& request, std::string& password, std::string& confirm) override;

 private:
  // Where passwords of |kind| come from: their file, the option naming it
  // and the terminal's prompt (the confirmation's with "Confirm " before it).
  struct PasswordSource {
    const std::optional<std::string>* file;
    const char* option;
    const char* prompt;
  };
  PasswordSource SourceOf(kvapp::PasswordKind kind) const;

  std::FILE* out_;
  std::FILE* err_;
  PasswordSources& passwords_;
};

}  // namespace kvcli

#endif
