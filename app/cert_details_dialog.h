// The details dialog: names for a new certificate, the certificate and key
// files to write, and the key password, in one of three modes named by the
// command that opens it.
#ifndef KVCATOOL_APP_CERT_DETAILS_DIALOG_H
#define KVCATOOL_APP_CERT_DETAILS_DIALOG_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/context.h"

namespace kvapp {

class MainDialog;

// Modes: the id of the opening command's button.
constexpr int kModeNewRoot = 1001;
constexpr int kModeNewServer = 1004;
constexpr int kModeCertForKey = 1006;

// Certificate profiles a new root can be made with.
constexpr int kProfileClassic = 0;
constexpr int kProfileModern = 1;

// Control ids of the details dialog.
enum DetailsControlId : int {
  kIdHostName = 1016,
  kIdOrganization = 1017,
  kIdCountry = 1018,
  kIdCertFile = 1019,
  kIdKeyFile = 1020,
  kIdPassword = 1021,
  kIdConfirmPassword = 1022,
  kIdCertDirectory = 1023,
  kIdKeyDirectory = 1024,
};

class CertDetailsDialog {
 public:
  // The state of the controls as a front end shows them.
  struct Controls {
    std::map<int, std::string> text;  // edit controls by id
    std::map<int, bool> enabled;      // edit controls and buttons by id
    std::string caption;
  };

  // |mainDialog| supplies the directory picker; |directory| ends in "/".
  CertDetailsDialog(MainDialog& mainDialog, int mode, std::string directory, std::string baseName);
  ~CertDetailsDialog();
  CertDetailsDialog(const CertDetailsDialog&) = delete;
  CertDetailsDialog& operator=(const CertDetailsDialog&) = delete;

  const Controls& controls() const { return controls_; }
  bool IsEnabled(int controlId) const;
  // Most characters (UTF-8 code points, see utf8_text.h) the edit control
  // |controlId| accepts (0: no limit).
  static size_t TextLimit(int controlId);
  // True when |text| has more characters than TextLimit(|controlId|).
  static bool TooLong(int controlId, const std::string& text);

  void UpdateData(bool readControls);
  // Proposes names by mode and shows the fields. Run by the front end when
  // it opens the dialog.
  void OnInitDialog();

  // The user's edit of control |controlId|: the text is taken whole (a front
  // end's edit control holds the user to TextLimit characters; a longer text
  // is refused by OnOK, never cut) and the control's change event runs.
  // Edits of a disabled control are ignored.
  void SetControlText(int controlId, const std::string& text);
  // Button presses.
  void OnCertDirectory();  // 1023
  void OnKeyDirectory();   // 1024
  // OK: validates; true when the dialog closes. A host name or organization
  // over its limit gives 2039 or 2040, a password over 16 characters 2013
  // (in every mode).
  bool OnOK();
  void OnContextHelp(int controlId);
  void OnContextMenu();

  // Change events (the dialog's own updates of the fields do not count).
  void OnHostNameChanged();
  void OnFileNameChanged();

  // 1 when |path| may be written, else 0 after telling the user why.
  int ValidateOutputPath(const std::string& path);
  // Nonzero when |directory| exists afterwards; creates missing parents.
  int CreateDirectoryPath(const std::string& directory);

  // Fields.
  std::string certFile;
  std::string confirmPassword;
  std::string country;
  std::string hostName;
  std::string keyFile;
  std::string organization;
  std::string password;
  int mode;
  std::string directory;
  std::string baseName;
  // Choices of the modern certificate profile, filled by the front end.
  // Zero and empty mean the defaults (2048 bits; 825 days for a server). The
  // profile is chosen for a new root only; a server certificate follows its
  // root's profile.
  int profile = kProfileClassic;
  int keyBits = 0;
  int days = 0;
  std::vector<std::string> furtherNames;
  bool autoNameFiles = false;
  bool certDirFollows = false;
  bool keyDirFollows = false;

 private:
  void ShowFields();
  void MoveFile(bool certificate);

  MainDialog& mainDialog_;
  AppContext& context_;
  Controls controls_;
  bool showingFields_ = false;
};

}  // namespace kvapp

#endif
