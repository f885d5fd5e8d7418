#include "app/main_dialog.h"

#include <algorithm>
#include <cctype>

#include "app/key_exports.h"

namespace kvapp {
namespace {

// Items of the filter combo, in this order.
const char* const kFilterItems[] = {
    "Certificate files (*.crt)",
    "Key files (*.key)",
    "Certificate and Key files (*.crt;*.key)",
    "All files (*.*)",
};

// Controls of the main dialog that carry help topics.
const std::vector<int> kMainControls = {kIdRootCertField, kIdDirectoryCombo, kIdBrowse,    kIdFilterCombo,
                                        kIdFileList,      kIdCloseOrEnter,   kIdNewRoot,   kIdSelectRoot,
                                        kIdViewRoot,      kIdNewServer,      kIdCreateServerCert, kIdViewCert,
                                        kIdVerifyCert,    kIdHelpButton,     kIdIssuedCertificates};

// A registry value is read into a 260-byte buffer: longer values do not fit.
constexpr size_t kMaxRememberedPath = 259;

// Where the remembered root went when the machine-wide settings could not be
// written.
constexpr char kKeptForUserText[] =
    "The settings for all users cannot be written; the current root certificate is remembered for you alone, in %s.";

// The list box sorts without regard to case.
bool ListOrder(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

std::string AboutProductLine() { return std::string(LoadString(102)) + " " + "4.4 [020]"; }

std::vector<std::pair<uint32_t, uint32_t>> ContextMenuHelpTable(const std::vector<int>& controlIds) {
  constexpr size_t kMaxPairs = 32;  // the end pair included
  std::vector<std::pair<uint32_t, uint32_t>> table;
  for (int id : controlIds) {
    if (table.size() + 1 >= kMaxPairs) break;
    table.emplace_back(static_cast<uint32_t>(id), kControlHelpBase + static_cast<uint32_t>(id));
  }
  table.emplace_back(0, 0);
  return table;
}

MainDialog::MainDialog(AppContext& context) : context_(context) {
  currentDirectory_ = context_.files.WorkingDirectory();
  rootCertPath_ = LoadString(2001);
  for (const char* item : kFilterItems) controls_.filterItems.emplace_back(item);
  for (int id : {kIdViewRoot, kIdNewServer, kIdCreateServerCert, kIdViewCert, kIdVerifyCert, kIdIssuedCertificates}) {
    controls_.enabled[id] = false;
  }
  for (int id : kExportMenuEntries) controls_.enabled[id] = false;
  for (int id : {kIdExportMenu, kIdChangeKeyPassword}) controls_.enabled[id] = false;
  for (int id : {kIdNewRoot, kIdSelectRoot, kIdBrowse, kIdCloseOrEnter, kIdHelpButton}) controls_.enabled[id] = true;
}

MainDialog::~MainDialog() { WipeString(rootKeyPassword_); }

bool MainDialog::IsEnabled(int controlId) const {
  auto it = controls_.enabled.find(controlId);
  return it != controls_.enabled.end() && it->second;
}

void MainDialog::UpdateData(bool readControls) {
  if (readControls) {
    currentDirectory_ = controls_.directoryText;
    int sel = controls_.filterSelection;
    filesFilter_ = (sel >= 0 && static_cast<size_t>(sel) < controls_.filterItems.size())
                      ? controls_.filterItems[static_cast<size_t>(sel)]
                      : std::string();
    rootCertPath_ = controls_.rootCertText;
  } else {
    controls_.directoryText = currentDirectory_;
    if (!filesFilter_.empty()) {
      for (size_t i = 0; i < controls_.filterItems.size(); ++i) {
        if (controls_.filterItems[i] == filesFilter_) controls_.filterSelection = static_cast<int>(i);
      }
    }
    controls_.rootCertText = rootCertPath_;
  }
}

void MainDialog::OnInitDialog() {
  UpdateData(false);
  controls_.directoryItems.insert(controls_.directoryItems.begin(), currentDirectory_);
  controls_.filterSelection = 0;
  FillFileList();
  UpdateCommandButtons();
  restorePending_ = true;
}

void MainDialog::RunPostedMessages() {
  if (!restorePending_) return;
  restorePending_ = false;
  RestoreRootSetting();
}

CommandOutcome MainDialog::OnCommand(int controlId) {
  if (ended_) return CommandOutcome::kNotRun;
  // A disabled button cannot be pressed.
  if (controls_.enabled.count(controlId) != 0 && !IsEnabled(controlId)) return CommandOutcome::kNotRun;
  switch (controlId) {
    case kIdBrowse:
      return Browse();
    case kIdCloseOrEnter:
      CloseOrEnterDirectory();
      return CommandOutcome::kSucceeded;
    case kIdHelpButton:
      context_.ui.ShowHelp(HelpCommand::kContext, kMainDialogHelpContext, {});
      return CommandOutcome::kSucceeded;
    case kIdExportCertPem:
    case kIdExportKeyPkcs8:
    case kIdExportKeyUnencrypted:
    case kIdExportPkcs12:
    case kIdChangeKeyPassword:
      return RunKeyCommand(controlId);
    default:
      break;
  }
  if (commands_ == nullptr) return CommandOutcome::kNotRun;
  const CommandOutcome outcome = RunCommand(controlId);
  // A command may have issued, revoked or recorded certificates.
  UpdateExpiryLine();
  return outcome;
}

CommandOutcome MainDialog::RunCommand(int controlId) {
  switch (controlId) {
    case kIdNewRoot:
      return commands_->NewRootCertificateAndKeys();
    case kIdSelectRoot:
      return commands_->SelectRootCertificate();
    case kIdViewRoot:
      return commands_->ViewRootCertificate();
    case kIdNewServer:
      return commands_->NewServerCertificateAndKeys();
    case kIdCreateServerCert:
      return commands_->CreateServerCertificate();
    case kIdViewCert:
      return commands_->ViewCertificate();
    case kIdVerifyCert:
      return commands_->VerifyCertificate();
    case kIdIssuedCertificates:
      return commands_->IssuedCertificates();
    default:
      return CommandOutcome::kNotRun;
  }
}

void MainDialog::OnDirectoryChosen(int index) {
  if (index < 0 || static_cast<size_t>(index) >= controls_.directoryItems.size()) return;
  // Selecting the item again puts it into the edit part before the controls
  // are read.
  controls_.directoryText = controls_.directoryItems[static_cast<size_t>(index)];
  FillFileList();
  OnFileSelectionChanged();
}

void MainDialog::OnFilterChosen(int index) {
  if (index < 0 || static_cast<size_t>(index) >= controls_.filterItems.size()) return;
  controls_.filterSelection = index;
  FillFileList();
  OnFileSelectionChanged();
}

void MainDialog::OnFileChosen(int index) {
  controls_.fileSelection =
      (index >= 0 && static_cast<size_t>(index) < controls_.fileItems.size()) ? index : -1;
  OnFileSelectionChanged();
}

void MainDialog::OnContextHelp(int controlId) {
  if (controlId < 0) return;  // the front end resolves -1 to the next control of the tab group
  context_.ui.ShowHelp(HelpCommand::kContextPopup, kControlHelpBase + static_cast<uint32_t>(controlId), {});
}

void MainDialog::OnContextMenu() {
  context_.ui.ShowHelp(HelpCommand::kContextMenu, 0, ContextMenuHelpTable(kMainControls));
}

void MainDialog::OnSysCommand(uint32_t commandId) {
  if ((commandId & 0xFFF0) == kAboutCommandId) context_.ui.ShowAbout(AboutProductLine());
}

void MainDialog::UpdateCommandButtons() {
  controls_.enabled[kIdViewRoot] = rootSelected_ != 0;
  controls_.enabled[kIdNewServer] = rootSelected_ != 0;
  controls_.enabled[kIdCreateServerCert] = rootSelected_ != 0 && fileSelected_ != 0 && selectedIsCertificate_ == 0;
  controls_.enabled[kIdViewCert] = fileSelected_ != 0 && selectedIsCertificate_ != 0;
  controls_.enabled[kIdVerifyCert] = rootSelected_ != 0 && fileSelected_ != 0 && selectedIsCertificate_ != 0;
  controls_.enabled[kIdIssuedCertificates] = rootSelected_ != 0;
  // Exports: a certificate as PEM; a key file as PKCS #8, and with its
  // certificate and the current root as PKCS #12.
  const bool certificate = fileSelected_ != 0 && selectedIsCertificate_ != 0;
  const bool keyFile = fileSelected_ != 0 && selectedIsCertificate_ == 0;
  controls_.enabled[kIdExportCertPem] = certificate;
  controls_.enabled[kIdExportKeyPkcs8] = keyFile;
  controls_.enabled[kIdExportKeyUnencrypted] = keyFile;
  controls_.enabled[kIdExportPkcs12] = keyFile && rootSelected_ != 0;
  controls_.enabled[kIdExportMenu] = fileSelected_ != 0;
  controls_.enabled[kIdChangeKeyPassword] = keyFile;
}

void MainDialog::UpdateExpiryLine() {
  std::string line;
  if (rootSelected_ == 0 || commands_ == nullptr || !commands_->RootExpiryLine(line)) line.clear();
  controls_.expiryLine = line;
}

void MainDialog::FillFileList() {
  UpdateData(true);
  if (currentDirectory_.empty() || filesFilter_.empty()) return;
  std::string patterns;
  size_t open = filesFilter_.find('(');
  size_t close = filesFilter_.find(')');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    patterns = filesFilter_.substr(open + 1, close - open - 1);
  }
  controls_.fileItems.clear();
  controls_.fileSelection = -1;
  while (!patterns.empty()) {
    size_t start = 0;
    while (start < patterns.size() && std::isspace(static_cast<unsigned char>(patterns[start]))) ++start;
    patterns.erase(0, start);
    if (patterns.empty()) break;
    size_t semi = patterns.find(';');
    std::string pattern = patterns.substr(0, semi);
    patterns.erase(0, semi == std::string::npos ? patterns.size() : semi + 1);
    if (pattern.empty()) continue;
    // The separator is added even when the directory already ends in one.
    for (std::string& name : context_.files.ListFiles(currentDirectory_ + "/" + pattern)) {
      controls_.fileItems.push_back(std::move(name));
    }
  }
  std::stable_sort(controls_.fileItems.begin(), controls_.fileItems.end(), ListOrder);
}

std::string MainDialog::GetSelectedFilePath() const {
  int sel = controls_.fileSelection;
  if (sel < 0 || static_cast<size_t>(sel) >= controls_.fileItems.size()) return {};
  return WithTrailingSlash(currentDirectory_) + controls_.fileItems[static_cast<size_t>(sel)];
}

void MainDialog::OnFileSelectionChanged() {
  if (controls_.fileSelection < 0) {
    fileSelected_ = 0;
  } else {
    std::string path = GetSelectedFilePath();
    if (EndsWithNoCase(path, LoadString(1009))) {
      fileSelected_ = 1;
      selectedIsCertificate_ = 1;
    } else if (EndsWithNoCase(path, LoadString(1010))) {
      fileSelected_ = 1;
      selectedIsCertificate_ = 0;
    } else {
      fileSelected_ = 0;
    }
  }
  UpdateCommandButtons();
}

void MainDialog::SetCurrentRoot(const std::string& certPath, const std::string& keyPath, const std::string& password) {
  WipeString(rootKeyPassword_);
  rootKeyPassword_ = password;
  rootCertPath_ = certPath;
  rootKeyPath_ = keyPath;
  rootSelected_ = 1;
  UpdateData(false);
  UpdateCommandButtons();
  UpdateExpiryLine();
}

bool MainDialog::SaveRootSetting(const std::string& certPath) {
  const bool saved = context_.settings.WriteValue(LoadString(1014), LoadString(1015), certPath);
  // Kept in the user's own settings because the machine-wide file cannot be
  // written: said once, so the administrator knows where it went.
  std::string where;
  if (saved && context_.settings.TakeFallbackNotice(where)) {
    context_.ui.ShowMessage(FormatText(kKeptForUserText, where));
  }
  return saved;
}

void MainDialog::RestoreRootSetting() {
  std::string path;
  if (!context_.settings.ReadValue(LoadString(1014), LoadString(1015), path)) return;
  if (path.size() > kMaxRememberedPath) return;
  // A root kept on removable media that is not there: ask for the medium.
  std::string mount = kvplatform::RemovableMountDirectory(path);
  if (!mount.empty() && !context_.FileExists(path)) context_.ui.ShowMessage(FormatText(LoadString(2026), mount));
  if (commands_ != nullptr) commands_->SelectRoot(path);
}

bool MainDialog::ChooseDirectory(std::string& path) {
  return context_.ui.ChooseDirectory(LoadString(1002), "junk.crt", path);
}

void MainDialog::SetRememberedNames(const std::string& organization, const std::string& country) {
  if (!organization.empty()) rememberedOrganization_ = organization;
  if (!country.empty()) rememberedCountry_ = country;
}

void MainDialog::EnterDirectory(const std::string& directory) {
  controls_.directoryText = directory;
  controls_.focusInDirectoryCombo = true;
  OnCommand(kIdCloseOrEnter);
  controls_.focusInDirectoryCombo = false;
}

CommandOutcome MainDialog::Browse() {
  std::string path;
  if (!ChooseDirectory(path)) return CommandOutcome::kCancelled;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? path : path.substr(0, slash + 1);
  controls_.directoryItems.insert(controls_.directoryItems.begin(), dir);
  controls_.directoryText = dir;
  FillFileList();
  OnFileSelectionChanged();
  return CommandOutcome::kSucceeded;
}

CommandOutcome MainDialog::RunKeyCommand(int controlId) {
  const std::string path = GetSelectedFilePath();
  if (path.empty()) return CommandOutcome::kNotRun;
  CommandOutcome outcome = CommandOutcome::kNotRun;
  switch (controlId) {
    case kIdExportCertPem:
      outcome = ExportCertificatePem(context_, path);
      break;
    case kIdExportKeyPkcs8:
      outcome = ExportPrivateKey(context_, path, KeyExportForm::kEncrypted);
      break;
    case kIdExportKeyUnencrypted:
      outcome = ExportPrivateKey(context_, path, KeyExportForm::kUnencrypted);
      break;
    case kIdExportPkcs12: {
      Pkcs12Export request;
      request.keyPath = path;
      if (rootSelected_ != 0) request.rootCertPath = rootCertPath_;
      outcome = ExportPkcs12(context_, request);
      break;
    }
    case kIdChangeKeyPassword:
      outcome = ChangeKeyPassword(context_, path, KeyFileUpgrade::kAsk);
      break;
    default:
      return CommandOutcome::kNotRun;
  }
  if (outcome == CommandOutcome::kSucceeded) {
    const std::string selected = NamePart(path);
    FillFileList();
    for (size_t i = 0; i < controls_.fileItems.size(); ++i) {
      if (controls_.fileItems[i] == selected) controls_.fileSelection = static_cast<int>(i);
    }
    OnFileSelectionChanged();
  }
  return outcome;
}

void MainDialog::CloseOrEnterDirectory() {
  if (controls_.focusInDirectoryCombo) {
    UpdateData(true);
    controls_.directoryItems.insert(controls_.directoryItems.begin(), currentDirectory_);
    FillFileList();
    OnFileSelectionChanged();
    return;
  }
  EndDialog();
}

void MainDialog::EndDialog() {
  ended_ = true;
  context_.ui.ShowHelp(HelpCommand::kQuit, 0, {});
}

}  // namespace kvapp
