#include "app/cert_details_dialog.h"

#include <cctype>
#include <vector>

#include "app/key_files.h"
#include "app/main_dialog.h"
#include "app/utf8_text.h"

namespace kvapp {
namespace {

// Longest path the commands' 512-character buffers hold.
constexpr size_t kMaxPathChars = 511;

const std::vector<int> kDetailsControls = {kIdHostName, kIdOrganization,    kIdCountry,       kIdCertFile,
                                           kIdKeyFile,  kIdPassword,        kIdConfirmPassword, kIdCertDirectory,
                                           kIdKeyDirectory};

// |dir| + "/" + |name|, or |name| alone when there is no directory part to
// keep (a path without any "/").
std::string JoinKeepingDirectory(const std::string& oldPath, const std::string& name) {
  if (oldPath.find('/') == std::string::npos) return name;
  return DirectoryPart(oldPath) + "/" + name;
}

}  // namespace

CertDetailsDialog::CertDetailsDialog(MainDialog& mainDialog, int dialogMode, std::string dir, std::string base)
    : mode(dialogMode),
      directory(std::move(dir)),
      baseName(std::move(base)),
      mainDialog_(mainDialog),
      context_(mainDialog.context()) {
  controls_.caption = "Create new Certificate and Keys";
  for (int id : kDetailsControls) controls_.enabled[id] = true;
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
      return 16;
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
      // The key file is fixed: nothing follows the certificate file.
      autoNameFiles = certDirFollows = keyDirFollows = false;
      break;
    default:
      break;
  }
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
  if (mode == kModeCertForKey) {
    // The existing key's password is not tested further, but one longer than
    // any key password is refused rather than cut.
    if (TooLong(kIdPassword, password)) {
      context_.Error(2013);
      return false;
    }
    return true;
  }
  if (!ValidateOutputPath(keyFile)) return false;
  if (password != confirmPassword) {
    context_.Error(2012);
    return false;
  }
  if (Utf8Length(password) < 8 || TooLong(kIdPassword, password)) {
    context_.Error(2013);
    return false;
  }
  return true;
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
  context_.ui.ShowHelp(HelpCommand::kContextMenu, 0, ContextMenuHelpTable(kDetailsControls));
}

}  // namespace kvapp
