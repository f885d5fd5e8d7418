#include "cli/terminal_ui.h"

#include <cctype>

#include "app/cert_contents.h"
#include "app/cert_details_dialog.h"
#include "app/key_exports.h"
#include "app/main_dialog.h"
#include "app/strings.h"
#include "app/utf8_text.h"
#include "cli/terminal_input.h"

namespace kvcli {

PasswordSources::~PasswordSources() {
  for (std::optional<std::string>* p : {&keyPassword, &rootPassword, &exportPassword, &newPassword}) {
    if (p->has_value()) kvapp::WipeString(**p);
  }
}

TerminalUi::TerminalUi(std::FILE* out, std::FILE* err, PasswordSources& passwords)
    : out_(out), err_(err), passwords_(passwords) {}

namespace {

// |text| with each of its lines escaped for the terminal: a file name or a
// certificate's name may carry escape sequences.
std::string TerminalText(const std::string& text) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    out += kvapp::EscapeForDisplay(std::string_view(text).substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return out;
    out += '\n';
    start = end + 1;
  }
}

}  // namespace

void TerminalUi::Print(const std::string& text) {
  std::fputs(TerminalText(text).c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

bool TerminalUi::AskTerminalPassword(const std::string& prompt, const char* optionName, std::string& password) {
  if (!passwords_.terminal) {
    ShowError(std::string("No terminal to ask for the password on: use ") + optionName + " FILE.");
    return false;
  }
  std::fflush(out_);
  return ReadHiddenLine(err_, prompt, password);
}

void TerminalUi::ShowError(const std::string& text) {
  std::fflush(out_);
  std::fputs(TerminalText(text).c_str(), err_);
  std::fputc('\n', err_);
  std::fflush(err_);
}

void TerminalUi::ShowMessage(const std::string& text) { Print(text); }

bool TerminalUi::AskYesNo(const std::string& text) {
  const std::string prompt = text + " [y/n] ";
  if (scriptedAnswer.has_value() || !passwords_.terminal) {
    // Scripts answer from the command line; without a terminal and without
    // an answer the careful one is no.
    const bool answer = scriptedAnswer.value_or(false);
    Print(prompt + (answer ? "y" : "n"));
    return answer;
  }
  for (;;) {
    std::string line;
    if (!ReadLine(out_, TerminalText(prompt), line)) {
      Print("");
      return false;
    }
    std::string word;
    for (char ch : line) {
      if (!std::isspace(static_cast<unsigned char>(ch))) word += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    if (word == "y" || word == "yes") return true;
    if (word == "n" || word == "no") return false;
  }
}

bool TerminalUi::AskRootPassword(std::string& password) {
  kvapp::WipeString(password);
  rootPromptReached = true;
  if (rootMode == RootPasswordMode::kCheckOnly) return false;
  if (passwords_.rootPassword.has_value()) {
    // A password from a file is given once: after "Password incorrect."
    // the prompt is cancelled.
    if (passwords_.rootPasswordGiven) return false;
    passwords_.rootPasswordGiven = true;
    // Whole: root selection refuses one longer than the prompt takes.
    password = *passwords_.rootPassword;
    return true;
  }
  if (passwords_.terminal) std::fputs("Enter password to unlock root key.\n", err_);
  return AskTerminalPassword("Password: ", "--root-password-file", password);
}

bool TerminalUi::ChooseFileToOpen(const std::string&, const std::string&, std::string&) { return false; }
bool TerminalUi::ChooseDirectory(const std::string&, const std::string&, std::string&) { return false; }

void TerminalUi::ShowProgress(const std::string& text) { Print(text); }
void TerminalUi::HideProgress() {}
void TerminalUi::SetBusyPointer(bool) {}
void TerminalUi::WriteOutputLine(const std::string& line) { Print(line); }
void TerminalUi::ShowHelp(kvapp::HelpCommand, uint32_t, const std::vector<std::pair<uint32_t, uint32_t>>&) {}

void TerminalUi::RunMainDialog(kvapp::MainDialog& dialog) {
  dialog.OnInitDialog();
  // The session decides when the posted restoring of the remembered root
  // runs, so that it can first choose how the root password is answered.
  if (session) {
    session(dialog);
  } else {
    dialog.RunPostedMessages();
  }
}

bool TerminalUi::RunCertDetailsDialog(kvapp::CertDetailsDialog& dialog) {
  using namespace kvapp;
  dialog.OnInitDialog();
  // The host name first, so that automatic naming runs as for a user.
  if (details.hostName) dialog.SetControlText(kIdHostName, *details.hostName);
  if (details.organization) dialog.SetControlText(kIdOrganization, *details.organization);
  if (details.country) dialog.SetControlText(kIdCountry, *details.country);
  if (details.certFile) dialog.SetControlText(kIdCertFile, *details.certFile);
  if (details.keyFile) dialog.SetControlText(kIdKeyFile, *details.keyFile);
  if (details.profile) dialog.profile = *details.profile;
  if (details.keyBits) dialog.keyBits = *details.keyBits;
  if (details.days) dialog.days = *details.days;
  dialog.furtherNames = details.furtherNames;

  // A new key's password is entered twice; an existing key's once.
  const bool newKey = dialog.IsEnabled(kIdConfirmPassword);
  std::string password, confirm;
  bool ok = true;
  if (passwords_.keyPassword.has_value()) {
    password = *passwords_.keyPassword;
    if (newKey) confirm = *passwords_.keyPassword;
  } else if (newKey) {
    ok = AskTerminalPassword("Key Password: ", "--password-file", password) &&
         AskTerminalPassword("Confirm Password: ", "--password-file", confirm);
  } else {
    ok = AskTerminalPassword("Key Password: ", "--password-file", password);
  }
  if (ok) {
    dialog.SetControlText(kIdPassword, password);
    if (newKey) dialog.SetControlText(kIdConfirmPassword, confirm);
  }
  WipeString(password);
  WipeString(confirm);
  if (!ok) return false;
  // The dialog's own checks; a refusal has told the user why, and with no
  // one to correct the entries the command ends there.
  return dialog.OnOK();
}

void TerminalUi::ShowCertContents(const kvapp::CertContentsFields& fields) {
  if (fields.skippedBlocks > 0) {
    const std::string note = "Note: the file holds " + std::to_string(fields.skippedBlocks) +
                             " more certificate" + (fields.skippedBlocks == 1 ? "" : "s") +
                             " after the first; only the first is shown.";
    std::fprintf(err_, "%s\n", note.c_str());
  }
  if (contentsForm == ContentsForm::kJson) {
    Print(kvapp::CertDetailsJson(fields.details));
    return;
  }
  // In the order the contents dialog shows them.
  Print("Subject: " + fields.subject);
  Print("Issuer: " + fields.issuer);
  Print("Start Date: " + fields.startDate);
  Print("End Date: " + fields.endDate);
  Print("Version: " + fields.version);
  Print("Serial Number: " + fields.serialNumber);
  if (contentsForm == ContentsForm::kAll) {
    for (const std::string& line : kvapp::CertDetailsLines(fields.details)) Print(line);
  }
}

void TerminalUi::ShowAbout(const std::string& productLine) { Print(productLine); }

void TerminalUi::RunIssuedDialog(kvapp::IssuedDialog&) {
  ShowError("The Issued Certificates dialog belongs to the desktop program; use the issued, revoke, crl and "
            "register-existing commands.");
}
bool TerminalUi::ChooseItem(const std::string&, const std::string&, const std::vector<std::string>&, int&) {
  return false;
}
bool TerminalUi::AskNumber(const std::string&, const std::string&, int, int, int&) { return false; }

bool TerminalUi::ChooseFileToSave(const std::string&, const std::string&, const std::string&, std::string& path) {
  if (!saveAs.has_value()) return false;
  path = *saveAs;
  return true;
}

// A password file's line longer than the export password's limit is read
// whole enough to be refused with its message.
static_assert(kvapp::kExportPasswordMaxChars == kMaxInputLine);

TerminalUi::PasswordSource TerminalUi::SourceOf(kvapp::PasswordKind kind) const {
  switch (kind) {
    case kvapp::PasswordKind::kExportPassword:
      return {&passwords_.exportPassword, "--export-password-file", "Export Password: "};
    case kvapp::PasswordKind::kNewKeyPassword:
      return {&passwords_.newPassword, "--new-password-file", "New Key Password: "};
    case kvapp::PasswordKind::kKeyPassword:
      break;
  }
  return {&passwords_.keyPassword, "--password-file", "Key Password: "};
}

bool TerminalUi::AskPassword(const kvapp::PasswordRequest& request, std::string& password) {
  kvapp::WipeString(password);
  const PasswordSource source = SourceOf(request.kind);
  if (source.file->has_value()) {
    // Whole: the command refuses one longer than the key file takes.
    password = **source.file;
    return true;
  }
  return AskTerminalPassword(source.prompt, source.option, password);
}

bool TerminalUi::AskNewPassword(const kvapp::PasswordRequest& request, std::string& password, std::string& confirm) {
  kvapp::WipeString(password);
  kvapp::WipeString(confirm);
  const PasswordSource source = SourceOf(request.kind);
  if (source.file->has_value()) {
    password = confirm = **source.file;
    return true;
  }
  return AskTerminalPassword(source.prompt, source.option, password) &&
         AskTerminalPassword(std::string("Confirm ") + source.prompt, source.option, confirm);
}

}  // namespace kvcli
