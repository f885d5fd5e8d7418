// A front end for tests: answers come from queues, and every message box,
// prompt and diagnostic line is recorded in order.
#ifndef KVCATOOL_TESTS_APP_SCRIPTED_UI_H
#define KVCATOOL_TESTS_APP_SCRIPTED_UI_H

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/cert_details_dialog.h"
#include "app/main_dialog.h"
#include "app/ui.h"

namespace apptest {

// One recorded event, e.g. {"error", "Password incorrect."}. Kinds: "error",
// "message", "question", "password" (a root password prompt), "open",
// "directory", "progress", "details" (the details dialog opened, with its
// caption), "contents", "about", "issued" (the Issued Certificates dialog
// opened), "save" (caption and proposed file), "choose" (its prompt),
// "number" (its prompt), "key password" and "new password" (the prompts'
// captions).
struct Event {
  std::string kind;
  std::string text;
  bool operator==(const Event&) const = default;
};

struct HelpCall {
  kvapp::HelpCommand command;
  uint32_t context;
  std::vector<std::pair<uint32_t, uint32_t>> table;
};

class ScriptedUi : public kvapp::UserInterface {
 public:
  using DetailsScript = std::function<bool(kvapp::CertDetailsDialog&)>;

  // Queued answers. An empty queue answers No / Cancel and counts the call in
  // |unanswered|.
  std::deque<bool> yesNo;
  std::deque<std::optional<std::string>> passwords;    // nullopt: Cancel
  std::deque<std::optional<std::string>> openFiles;    // nullopt: Cancel
  std::deque<std::optional<std::string>> directories;  // a directory; nullopt: Cancel
  std::deque<DetailsScript> details;
  // The register's dialog and choosers.
  using IssuedScript = std::function<void(kvapp::IssuedDialog&)>;
  std::deque<IssuedScript> issued;                    // runs with the opened dialog
  std::deque<std::optional<std::string>> choices;     // the item's text; nullopt: Cancel
  std::deque<std::optional<int>> numbers;             // nullopt: Cancel
  std::vector<std::vector<std::string>> choiceItems;  // the items each chooser offered
  std::deque<std::optional<std::string>> saveFiles;     // nullopt: Cancel
  std::deque<std::optional<std::string>> keyPasswords;  // AskPassword; nullopt: Cancel
  // AskNewPassword: the password and its confirmation; nullopt: Cancel.
  std::deque<std::optional<std::pair<std::string, std::string>>> newPasswords;
  // The last password request seen (its limit, kind and texts).
  kvapp::PasswordRequest lastPasswordRequest;

  std::vector<Event> events;
  std::vector<std::string> output;
  std::vector<HelpCall> help;
  std::vector<std::string> contentsShown;  // the six fields joined by "|"
  int unanswered = 0;
  size_t rootPasswordLimit = 0;  // the limit of the last root password prompt
  int busyDepth = 0;
  bool progressVisible = false;

  // The message boxes only (error, message, question), in order.
  std::vector<Event> Boxes() const;

  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  bool AskRootPassword(std::string& password) override;
  // As a prompt does, an answer is held to |maxChars| characters.
  bool AskRootPasswordUpTo(size_t maxChars, std::string& password) override;
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
  void RunIssuedDialog(kvapp::IssuedDialog& dialog) override;
  bool ChooseItem(const std::string& title, const std::string& prompt, const std::vector<std::string>& items,
                  int& index) override;
  bool AskNumber(const std::string& title, const std::string& prompt, int minimum, int maximum, int& value) override;
  bool ChooseFileToSave(const std::string& caption, const std::string& filter, const std::string& initialName,
                        std::string& path) override;
  // The answers are cut to the request's limit, as the prompt's entry does.
  bool AskPassword(const kvapp::PasswordRequest& request, std::string& password) override;
  bool AskNewPassword(const kvapp::PasswordRequest& request, std::string& password, std::string& confirm) override;
};

// What a user types into the details dialog; fields left unset keep the
// dialog's proposals.
struct DetailsEntry {
  std::optional<std::string> hostName, organization, country, certFile, keyFile, password, confirmPassword;
};
// Types |entry| into |dialog| (host name first, so that automatic naming
// runs as for a user) and presses OK.
bool EnterAndOk(kvapp::CertDetailsDialog& dialog, const DetailsEntry& entry);
// A script that enters |entry| and presses OK once; Cancel when OK refuses.
ScriptedUi::DetailsScript EnterDetails(DetailsEntry entry);

}  // namespace apptest

#endif
