#include "app/cert_details_dialog.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <vector>

#include "app/key_files.h"
#include "app/main_dialog.h"
#include "app/utf8_text.h"
#include "services/kvservices.h"

namespace kvapp {
namespace {

// Longest path the commands' 512-character buffers hold.
constexpr size_t kMaxPathChars = 511;

const std::vector<int> kDetailsControls = {kIdHostName, kIdOrganization,    kIdCountry,       kIdCertFile,
                                           kIdKeyFile,  kIdPassword,        kIdConfirmPassword, kIdCertDirectory,
                                           kIdKeyDirectory};
const std::vector<int> kProfileControls = {kIdProfileClassic, kIdProfileModern, kIdKeySize, kIdFurtherNames,
                                           kIdValidityDays};

// The key sizes of the key-size combo, in the order of its items.
constexpr int kKeySizes[] = {2048, 3072, 4096};

// Most digits of a validity; more are out of range whatever they say.
constexpr size_t kMaxDayDigits = 5;

// The validity text as days: 0 for an empty text (the default), -1 for one
// that is not a number from 1 on (refused by CheckServerChoices).
int ParseDays(const std::string& text) {
  if (text.empty()) return 0;
  if (text.size() > kMaxDayDigits) return -1;
  int days = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    days = days * 10 + (c - '0');
  }
  return days == 0 ? -1 : days;
}

std::string DaysText(int days) { return days == 0 ? std::string() : std::to_string(days); }

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : "\n") + name;
  return text;
}

// |dir| + "/" + |name|, or |name| alone when there is no directory part to
// keep (a path without any "/").
std::string JoinKeepingDirectory(const std::string& oldPath, const std::string& name) {
  if (oldPath.find('/') == std::string::npos) return name;
  return DirectoryPart(oldPath) + "/" + name;
}

}  // namespace

bool ValidModernKeyBits(int bits) {
  return bits == 0 || std::find(std::begin(kKeySizes), std::end(kKeySizes), bits) != std::end(kKeySizes);
}

CertDetailsDialog::CertDetailsDialog(MainDialog& mainDialog, int dialogMode, std::string dir, std::string base)
    : mode(dialogMode),
      directory(std::move(dir)),
      baseName(std::move(base)),
      mainDialog_(mainDialog),
      context_(mainDialog.context()) {
  controls_.caption = "Create new Certificate and Keys";
  for (int id : kDetailsControls) controls_.enabled[id] = true;
  for (int bits : kKeySizes) controls_.items[kIdKeySize].push_back(std::to_string(bits) + " bits");
  ShowProfileControls();
}

CertDetailsDialog::~CertDetailsDialog() {
  WipeString(password);
  WipeString(confirmPassword);
  WipeString(controls_.text[kIdPassword]);
  WipeString(controls_.text[kIdConfirmPassword]);
}

bool CertDetailsDialog::IsEnabled(int controlId) const {
  auto it = controls_.enabled.find(controlId);
  return it != controls_.enabled.end() && it->second;
}

bool CertDetailsDialog::IsShown(int controlId) const {
  auto it = controls_.shown.find(controlId);
  return it == controls_.shown.end() || it->second;
}

bool CertDetailsDialog::UsesModernKeyFile() const {
  if (mode == kModeCertForKey) return existingKeyModern_;
  return profile == kProfileModern;
}

size_t CertDetailsDialog::Limit(int controlId) const {
  if ((controlId == kIdPassword || controlId == kIdConfirmPassword) && UsesModernKeyFile()) {
    return kModernPasswordMaxChars;
  }
  return TextLimit(controlId);
}

bool CertDetailsDialog::TooLong(int controlId, const std::string& text) {
  const size_t limit = TextLimit(controlId);
  return limit != 0 && Utf8Length(text) > limit;
}

size_t CertDetailsDialog::TextLimit(int controlId) {
  switch (controlId) {
    case kIdHostName:
    case kIdOrganization:
      return 64;
    case kIdCountry:
      return 2;
    case kIdPassword:
    case kIdConfirmPassword:
      return kClassicPasswordMaxChars;
    case kIdValidityDays:
      return kMaxDayDigits;
    default:
      return 0;
  }
}

void CertDetailsDialog::UpdateData(bool readControls) {
  struct Binding {
    int id;
    std::string* field;
  };
  const Binding bindings[] = {{kIdCertFile, &certFile}, {kIdConfirmPassword, &confirmPassword},
                              {kIdCountry, &country},   {kIdHostName, &hostName},
                              {kIdKeyFile, &keyFile},   {kIdOrganization, &organization},
                              {kIdPassword, &password}};
  for (const Binding& b : bindings) {
    if (readControls) {
      *b.field = controls_.text[b.id];
    } else {
      controls_.text[b.id] = *b.field;
    }
  }
  if (readControls) return;
  // The profile's controls set their fields as they change. The texts keep
  // the user's own spelling while they still say what the fields hold.
  if (SplitNames(controls_.text[kIdFurtherNames]) != furtherNames) {
    controls_.text[kIdFurtherNames] = JoinNames(furtherNames);
  }
  if (ParseDays(controls_.text[kIdValidityDays]) != days) controls_.text[kIdValidityDays] = DaysText(days);
  ShowProfileControls();
}

void CertDetailsDialog::ShowProfileControls() {
  const bool modern = profile == kProfileModern;
  const bool newRoot = mode == kModeNewRoot;
  const bool server = mode == kModeNewServer || mode == kModeCertForKey;
  // The profile is chosen for a new root; the key size is offered for every
  // new root (a classic one has 2048 bits) and chosen for a modern one and a
  // new server key under a modern root; further names and the validity
  // belong to server certificates under a modern root.
  const bool keySizeShown = newRoot || (mode == kModeNewServer && modern);
  const struct {
    int id;
    bool shown;
    bool enabled;
  } states[] = {
      {kIdProfileClassic, newRoot, newRoot},
      {kIdProfileModern, newRoot, newRoot},
      {kIdKeySize, keySizeShown, keySizeShown && modern},
      {kIdFurtherNames, server && modern, server && modern},
      {kIdValidityDays, server && modern, server && modern},
  };
  for (const auto& state : states) {
    controls_.shown[state.id] = state.shown;
    controls_.enabled[state.id] = state.enabled;
  }
  controls_.choice[kIdProfileClassic] = modern ? 0 : 1;
  controls_.choice[kIdProfileModern] = modern ? 1 : 0;
  int item = -1;
  for (size_t i = 0; i < std::size(kKeySizes); ++i) {
    if (kKeySizes[i] == (keyBits == 0 ? 2048 : keyBits)) item = static_cast<int>(i);
  }
  controls_.choice[kIdKeySize] = item;
}

void CertDetailsDialog::ShowFields() {
  // The edit controls report the dialog's own updates as changes too; those
  // are not the user's edits and must not stop the automatic naming.
  showingFields_ = true;
  UpdateData(false);
  showingFields_ = false;
}

void CertDetailsDialog::OnInitDialog() {
  const std::string certExt = std::string(".") + LoadString(1000);
  const std::string keyExt = std::string(".") + LoadString(1001);
  switch (mode) {
    case kModeNewRoot:
      hostName = baseName;
      certFile = directory + baseName + certExt;
      keyFile = directory + baseName + keyExt;
      autoNameFiles = certDirFollows = keyDirFollows = true;
      break;
    case kModeNewServer:
      certFile = keyFile = directory;
      // Both files move together until the user separates them, as for a root.
      autoNameFiles = certDirFollows = keyDirFollows = true;
      break;
    case kModeCertForKey:
      certFile = directory + baseName + certExt;
      // The chosen key file as it is named on disk ("web1.Key" too).
      keyFile = ExistingKeyFile(context_, directory + baseName + keyExt);
      controls_.enabled[kIdKeyFile] = false;
      controls_.enabled[kIdKeyDirectory] = false;
      controls_.enabled[kIdConfirmPassword] = false;
      controls_.caption = LoadString(1008);
      // An existing modern key file has a password of up to 64 characters.
      existingKeyModern_ = IsModernKeyFile(keyFile);
      // The key file is fixed: nothing follows the certificate file.
      autoNameFiles = certDirFollows = keyDirFollows = false;
      break;
    default:
      break;
  }
  // A server certificate under a modern root shows its validity.
  if (mode != kModeNewRoot && profile == kProfileModern && days == 0) days = KV_MODERN_DEFAULT_DAYS;
  ShowFields();
}

void CertDetailsDialog::SetControlText(int controlId, const std::string& text) {
  if (controls_.enabled.count(controlId) != 0 && !IsEnabled(controlId)) return;
  // Kept whole: a text longer than the control's limit (from a file or a
  // command line; an edit control does not take one) is refused by OnOK,
  // never cut.
  if (controlId == kIdPassword || controlId == kIdConfirmPassword) WipeString(controls_.text[controlId]);
  controls_.text[controlId] = text;
  if (controlId == kIdHostName) OnHostNameChanged();
  if (controlId == kIdCertFile || controlId == kIdKeyFile) OnFileNameChanged();
  if (controlId == kIdFurtherNames) furtherNames = SplitNames(text);
  if (controlId == kIdValidityDays) days = ParseDays(text);
}

void CertDetailsDialog::SetControlChoice(int controlId, int index) {
  if (!IsEnabled(controlId)) return;
  switch (controlId) {
    case kIdProfileClassic:
      // A classic root has its fixed key size: a size chosen for a modern
      // one goes with the profile.
      profile = kProfileClassic;
      keyBits = 0;
      break;
    case kIdProfileModern:
      profile = kProfileModern;
      break;
    case kIdKeySize:
      if (index < 0 || static_cast<size_t>(index) >= std::size(kKeySizes)) return;
      keyBits = kKeySizes[index];
      break;
    default:
      return;
  }
  ShowProfileControls();
}

std::vector<std::string> CertDetailsDialog::SplitNames(const std::string& text) {
  std::vector<std::string> names;
  std::string name;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r') {
      if (!name.empty()) names.push_back(std::move(name));
      name.clear();
    } else {
      name += c;
    }
  }
  if (!name.empty()) names.push_back(std::move(name));
  return names;
}

int CertDetailsDialog::CheckServerChoices() const {
  if (!ValidModernKeyBits(keyBits)) {
    context_.Error(2043);
    return -1;
  }
  if (days != 0 && (days < 1 || days > KV_MODERN_MAX_DAYS)) {
    context_.Error(2042);
    return -1;
  }
  if (furtherNames.size() + 1 > KV_MODERN_MAX_NAMES) {
    context_.Error(2050);
    return -1;
  }
  std::vector<std::string> names{hostName};
  names.insert(names.end(), furtherNames.begin(), furtherNames.end());
  for (const std::string& name : names) {
    if (name.find('\0') != std::string::npos || errKVCheckServerName(name.c_str()) != 0) {
      context_.Error(FormatText(LoadString(2041), name));
      return -1;
    }
  }
  return 0;
}

void CertDetailsDialog::OnHostNameChanged() {
  if (showingFields_ || !autoNameFiles) return;
  UpdateData(true);
  certFile = JoinKeepingDirectory(certFile, hostName + ".crt");
  keyFile = JoinKeepingDirectory(keyFile, hostName + ".key");
  ShowFields();
}

void CertDetailsDialog::OnFileNameChanged() {
  if (showingFields_) return;
  autoNameFiles = false;
}

void CertDetailsDialog::MoveFile(bool certificate) {
  UpdateData(true);
  std::string& moved = certificate ? certFile : keyFile;
  std::string& other = certificate ? keyFile : certFile;
  const std::string name = NamePart(moved);
  std::string chosen;
  if (!mainDialog_.ChooseDirectory(chosen)) return;
  const std::string newDir = DirectoryPart(chosen);
  moved = newDir + "/" + name;
  bool otherFollows;
  if (certificate) {
    certDirFollows = false;
    otherFollows = keyDirFollows;
  } else {
    keyDirFollows = false;
    otherFollows = certDirFollows;
  }
  if (otherFollows) other = newDir + "/" + NamePart(other);
  ShowFields();
}

void CertDetailsDialog::OnCertDirectory() {
  if (IsEnabled(kIdCertDirectory)) MoveFile(true);
}

void CertDetailsDialog::OnKeyDirectory() {
  if (IsEnabled(kIdKeyDirectory)) MoveFile(false);
}

bool CertDetailsDialog::OnOK() {
  UpdateData(true);
  if (hostName.empty()) {
    context_.Error(2014);
    return false;
  }
  if (TooLong(kIdHostName, hostName)) {
    context_.Error(2039);
    return false;
  }
  if (organization.empty()) {
    context_.Error(2015);
    return false;
  }
  if (TooLong(kIdOrganization, organization)) {
    context_.Error(2040);
    return false;
  }
  if (country.size() != 2 || !std::isalpha(static_cast<unsigned char>(country[0])) ||
      !std::isalpha(static_cast<unsigned char>(country[1]))) {
    context_.Error(2016);
    return false;
  }
  if (certFile.empty()) {
    context_.Error(2017);
    return false;
  }
  if (keyFile.empty()) {
    context_.Error(2018);
    return false;
  }
  if (!ValidateOutputPath(certFile)) return false;
  // The limits of the key file's form; a password over them is refused,
  // never cut.
  const size_t maxChars = Limit(kIdPassword);
  const int lengthMessage = UsesModernKeyFile() ? 2060 : 2013;
  const bool modernServer = mode != kModeNewRoot && profile == kProfileModern;
  if (mode == kModeCertForKey) {
    // The existing key's password is not tested further, but one longer than
    // any password of its key file is refused rather than cut.
    if (Utf8Length(password) > maxChars) {
      context_.Error(lengthMessage);
      return false;
    }
    return !modernServer || CheckServerChoices() == 0;
  }
  if (!ValidateOutputPath(keyFile)) return false;
  if (password != confirmPassword) {
    context_.Error(2012);
    return false;
  }
  const size_t length = Utf8Length(password);
  if (length < kMinPasswordChars || length > maxChars) {
    context_.Error(lengthMessage);
    return false;
  }
  return !modernServer || CheckServerChoices() == 0;
}

int CertDetailsDialog::ValidateOutputPath(const std::string& path) {
  if (path.empty() || path[0] != '/' || path.find("//") != std::string::npos || path.size() > kMaxPathChars) {
    context_.Error(FormatText(LoadString(2027), path));
    return 0;
  }
  const std::string dir = DirectoryPart(path);
  const std::string name = NamePart(path);
  // The name is tested before the directory question: a path without a file
  // name is refused without creating anything for it.
  if (name.empty()) {
    context_.Error(FormatText(LoadString(2020), path));
    return 0;
  }
  if (!dir.empty() && !context_.files.Find(dir)) {
    if (!context_.ui.AskYesNo(FormatText(LoadString(2022), dir))) {
      context_.Error(2019);
      return 0;
    }
    if (!CreateDirectoryPath(dir)) {
      context_.Error(FormatText(LoadString(2023), dir));
      return 0;
    }
  }
  if (context_.files.Find(path)) {
    context_.Error(FormatText(LoadString(2021), path));
    return 0;
  }
  return 1;
}

int CertDetailsDialog::CreateDirectoryPath(const std::string& dir) {
  if (context_.files.Find(dir)) return 1;
  size_t slash = dir.rfind('/');
  if (slash == std::string::npos) return 0;
  const std::string parent = dir.substr(0, slash);
  if (!parent.empty() && !context_.files.Find(parent)) CreateDirectoryPath(parent);
  return context_.files.CreateDirectory(dir) ? 1 : 0;
}

void CertDetailsDialog::OnContextHelp(int controlId) {
  if (controlId < 0) return;
  context_.ui.ShowHelp(HelpCommand::kContextPopup, kControlHelpBase + static_cast<uint32_t>(controlId), {});
}

void CertDetailsDialog::OnContextMenu() {
  // The controls on show: the profile's controls as this mode offers them.
  std::vector<int> ids = kDetailsControls;
  for (int id : kProfileControls) {
    if (IsShown(id)) ids.push_back(id);
  }
  context_.ui.ShowHelp(HelpCommand::kContextMenu, 0, ContextMenuHelpTable(ids));
}

}  // namespace kvapp
