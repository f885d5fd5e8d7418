#include "scripted_ui.h"

#include <algorithm>

#include "app/cert_contents.h"
#include "app/utf8_text.h"
#ifdef KVAPP_CERT_COMMANDS
#include "app/issued_dialog.h"
#endif

namespace apptest {

std::vector<Event> ScriptedUi::Boxes() const {
  std::vector<Event> boxes;
  for (const Event& e : events) {
    if (e.kind == "error" || e.kind == "message" || e.kind == "question") boxes.push_back(e);
  }
  return boxes;
}

void ScriptedUi::ShowError(const std::string& text) { events.push_back({"error", text}); }
void ScriptedUi::ShowMessage(const std::string& text) { events.push_back({"message", text}); }

bool ScriptedUi::AskYesNo(const std::string& text) {
  events.push_back({"question", text});
  if (yesNo.empty()) {
    ++unanswered;
    return false;
  }
  bool answer = yesNo.front();
  yesNo.pop_front();
  return answer;
}

bool ScriptedUi::AskRootPassword(std::string& password) {
  return AskRootPasswordUpTo(kvapp::kRootPasswordMaxChars, password);
}

bool ScriptedUi::AskRootPasswordUpTo(size_t maxChars, std::string& password) {
  events.push_back({"password", ""});
  rootPasswordLimit = maxChars;
  password.clear();
  if (passwords.empty()) {
    ++unanswered;
    return false;
  }
  std::optional<std::string> answer = passwords.front();
  passwords.pop_front();
  if (!answer) return false;
  password = std::string(kvapp::Utf8Prefix(*answer, maxChars));
  return true;
}

bool ScriptedUi::ChooseFileToOpen(const std::string& filter, const std::string& initialName, std::string& path) {
  events.push_back({"open", filter + " " + initialName});
  if (openFiles.empty()) {
    ++unanswered;
    return false;
  }
  std::optional<std::string> answer = openFiles.front();
  openFiles.pop_front();
  if (!answer) return false;
  path = *answer;
  return true;
}

bool ScriptedUi::ChooseDirectory(const std::string& filter, const std::string& initialName, std::string& path) {
  events.push_back({"directory", filter + " " + initialName});
  if (directories.empty()) {
    ++unanswered;
    return false;
  }
  std::optional<std::string> answer = directories.front();
  directories.pop_front();
  if (!answer) return false;
  path = kvapp::WithTrailingSlash(*answer) + initialName;
  return true;
}

void ScriptedUi::ShowProgress(const std::string& text) {
  events.push_back({"progress", text});
  progressVisible = true;
}
void ScriptedUi::HideProgress() { progressVisible = false; }
void ScriptedUi::SetBusyPointer(bool busy) { busyDepth += busy ? 1 : -1; }
void ScriptedUi::WriteOutputLine(const std::string& line) { output.push_back(line); }

void ScriptedUi::ShowHelp(kvapp::HelpCommand command, uint32_t context,
                          const std::vector<std::pair<uint32_t, uint32_t>>& menuTable) {
  help.push_back({command, context, menuTable});
}

void ScriptedUi::RunMainDialog(kvapp::MainDialog& dialog) {
  dialog.OnInitDialog();
  dialog.RunPostedMessages();
}

bool ScriptedUi::RunCertDetailsDialog(kvapp::CertDetailsDialog& dialog) {
  dialog.OnInitDialog();
  events.push_back({"details", dialog.controls().caption});
  if (details.empty()) {
    ++unanswered;
    return false;
  }
  DetailsScript script = std::move(details.front());
  details.pop_front();
  return script(dialog);
}

void ScriptedUi::ShowCertContents(const kvapp::CertContentsFields& fields) {
  events.push_back({"contents", fields.subject});
  contentsShown.push_back(fields.subject + "|" + fields.issuer + "|" + fields.startDate + "|" + fields.endDate + "|" +
                          fields.version + "|" + fields.serialNumber);
}

void ScriptedUi::ShowAbout(const std::string& productLine) { events.push_back({"about", productLine}); }

void ScriptedUi::RunIssuedDialog(kvapp::IssuedDialog& dialog) {
#ifdef KVAPP_CERT_COMMANDS
  dialog.OnInitDialog();
  events.push_back({"issued", dialog.controls().summary});
#else
  events.push_back({"issued", ""});
#endif
  if (issued.empty()) {
    ++unanswered;
    return;
  }
  IssuedScript script = std::move(issued.front());
  issued.pop_front();
  script(dialog);
}

bool ScriptedUi::ChooseFileToSave(const std::string& caption, const std::string&, const std::string& initialName,
                                  std::string& path) {
  events.push_back({"save", caption + " " + initialName});
  if (saveFiles.empty()) {
    ++unanswered;
    return false;
  }
  std::optional<std::string> answer = saveFiles.front();
  saveFiles.pop_front();
  if (!answer) return false;
  path = *answer;
  return true;
}

bool ScriptedUi::ChooseItem(const std::string&, const std::string& prompt, const std::vector<std::string>& items,
                            int& index) {
  events.push_back({"choose", prompt});
  choiceItems.push_back(items);
  if (choices.empty()) {
    ++unanswered;
    return false;
  }
  std::optional<std::string> answer = choices.front();
  choices.pop_front();
  if (!answer) return false;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] == *answer) {
      index = static_cast<int>(i);
      return true;
    }
  }
  ++unanswered;  // the script asked for an item that is not offered
  return false;
}

bool ScriptedUi::AskNumber(const std::string&, const std::string& prompt, int minimum, int maximum, int& value) {
  events.push_back({"number", prompt});
  if (numbers.empty()) {
    ++unanswered;
    return false;
  }
  std::optional<int> answer = numbers.front();
  numbers.pop_front();
  if (!answer) return false;
  // A spin box holds the number to its range.
  value = std::clamp(*answer, minimum, maximum);
  return true;
}

namespace {
std::string Limited(const std::string& text, size_t maxChars) { return std::string(kvapp::Utf8Prefix(text, maxChars)); }
}  // namespace

bool ScriptedUi::AskPassword(const kvapp::PasswordRequest& request, std::string& password) {
  events.push_back({"key password", request.caption});
  lastPasswordRequest = request;
  password.clear();
  if (keyPasswords.empty()) {
    ++unanswered;
    return false;
  }
  std::optional<std::string> answer = keyPasswords.front();
  keyPasswords.pop_front();
  if (!answer) return false;
  password = Limited(*answer, request.maxChars);
  return true;
}

bool ScriptedUi::AskNewPassword(const kvapp::PasswordRequest& request, std::string& password, std::string& confirm) {
  events.push_back({"new password", request.caption});
  lastPasswordRequest = request;
  password.clear();
  confirm.clear();
  if (newPasswords.empty()) {
    ++unanswered;
    return false;
  }
  auto answer = newPasswords.front();
  newPasswords.pop_front();
  if (!answer) return false;
  password = Limited(answer->first, request.maxChars);
  confirm = Limited(answer->second, request.maxChars);
  return true;
}

bool EnterAndOk(kvapp::CertDetailsDialog& dialog, const DetailsEntry& entry) {
  using namespace kvapp;
  if (entry.hostName) dialog.SetControlText(kIdHostName, *entry.hostName);
  if (entry.organization) dialog.SetControlText(kIdOrganization, *entry.organization);
  if (entry.country) dialog.SetControlText(kIdCountry, *entry.country);
  if (entry.certFile) dialog.SetControlText(kIdCertFile, *entry.certFile);
  if (entry.keyFile) dialog.SetControlText(kIdKeyFile, *entry.keyFile);
  if (entry.password) dialog.SetControlText(kIdPassword, *entry.password);
  if (entry.confirmPassword) dialog.SetControlText(kIdConfirmPassword, *entry.confirmPassword);
  return dialog.OnOK();
}

ScriptedUi::DetailsScript EnterDetails(DetailsEntry entry) {
  return [entry](kvapp::CertDetailsDialog& dialog) { return EnterAndOk(dialog, entry); };
}

}  // namespace apptest
