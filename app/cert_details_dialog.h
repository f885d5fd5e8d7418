// The details dialog: names for a new certificate, the certificate and key
// files to write, and the key password, in one of three modes named by the
// command that opens it; for a new root the certificate profile, and under a
// root of the modern profile its further choices (key size, further names,
// validity).
#ifndef KVCATOOL_APP_CERT_DETAILS_DIALOG_H
#define KVCATOOL_APP_CERT_DETAILS_DIALOG_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/key_files.h"

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
  // The modern profile's controls.
  kIdProfileClassic = 1040,  // radio button: the classic profile (New Root only)
  kIdProfileModern = 1041,   // radio button: the modern profile (New Root only)
  kIdKeySize = 1042,         // combo: 2048, 3072 or 4096 bits
  kIdFurtherNames = 1043,    // multi-line edit: names separated by spaces, commas or new lines
  kIdValidityDays = 1044,    // edit: days of validity of a server certificate
};

// True for 0 (the default, 2048 bits) and for the key sizes the modern
// profile offers: 2048, 3072 and 4096 bits.
bool ValidModernKeyBits(int bits);

class CertDetailsDialog {
 public:
  // The state of the controls as a front end shows them.
  struct Controls {
    std::map<int, std::string> text;  // edit controls by id
    std::map<int, bool> enabled;      // edit controls and buttons by id
    std::map<int, bool> shown;        // controls by id; one not listed is shown
    std::map<int, int> choice;        // radio buttons: 1 checked, 0 not; combos: the selected item
    std::map<int, std::vector<std::string>> items;  // the items of a combo
    std::string caption;
  };

  // |mainDialog| supplies the directory picker; |directory| ends in "/".
  CertDetailsDialog(MainDialog& mainDialog, int mode, std::string directory, std::string baseName);
  ~CertDetailsDialog();
  CertDetailsDialog(const CertDetailsDialog&) = delete;
  CertDetailsDialog& operator=(const CertDetailsDialog&) = delete;

  const Controls& controls() const { return controls_; }
  bool IsEnabled(int controlId) const;
  // False for a control this mode and profile do not show (a hidden control
  // is disabled too).
  bool IsShown(int controlId) const;
  // Most characters (UTF-8 code points, see utf8_text.h) the edit control
  // |controlId| accepts (0: no limit); the key password fields take the
  // classic 16 here.
  static size_t TextLimit(int controlId);
  // True when |text| has more characters than TextLimit(|controlId|).
  static bool TooLong(int controlId, const std::string& text);
  // TextLimit as it is now: the key password fields take 64 characters when
  // the key file is of the modern form (UsesModernKeyFile).
  size_t Limit(int controlId) const;
  // True when the dialog's key file is (or will be written as) a modern key
  // file: a new root of the modern profile, a new server key under a modern
  // root, or an existing key file whose private key is in the PBES2 record.
  bool UsesModernKeyFile() const;

  void UpdateData(bool readControls);
  // Proposes names by mode and shows the fields. Run by the front end when
  // it opens the dialog.
  void OnInitDialog();

  // The user's edit of control |controlId|: the text is taken whole (a front
  // end's edit control holds the user to TextLimit characters; a longer text
  // is refused by OnOK, never cut) and the control's change event runs.
  // Edits of a disabled control are ignored. The further names and the
  // validity take effect at once (furtherNames, days).
  void SetControlText(int controlId, const std::string& text);
  // A click on a radio button (|index| unused) or the choice of item |index|
  // of a combo; ignored for a disabled control. Sets profile or keyBits at
  // once and shows which controls the profile offers.
  void SetControlChoice(int controlId, int index);
  // Button presses.
  void OnCertDirectory();  // 1023
  void OnKeyDirectory();   // 1024
  // OK: validates; true when the dialog closes. A host name or organization
  // over its limit gives 2039 or 2040; a key password over 16 characters
  // 2013, for a modern key file one over 64 characters 2060 (in every mode).
  // Under a root of the modern profile the server choices are checked too
  // (CheckServerChoices), so that the dialog stays open with them.
  bool OnOK();
  // The choices of a server certificate under a modern root: the key size
  // (2043), the validity (2042), the number of names (2050) and each name
  // (2041, the first that is not a DNS name or IP address). 0, or -1 after
  // the message.
  int CheckServerChoices() const;
  // The names of a further-names text: separated by spaces, tabs, commas or
  // line breaks; empty ones are dropped.
  static std::vector<std::string> SplitNames(const std::string& text);
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
  // Choices of the modern certificate profile. Zero and empty mean the
  // defaults (2048 bits; 825 days for a server). The profile is chosen for a
  // new root only; in the server modes the command sets it to the current
  // root's profile before the dialog opens, and a server certificate follows
  // it. Their controls set these fields as they change; UpdateData(true)
  // leaves them as they are, so a front end may also set them directly.
  int profile = kProfileClassic;
  int keyBits = 0;
  int days = 0;
  std::vector<std::string> furtherNames;
  bool autoNameFiles = false;
  bool certDirFollows = false;
  bool keyDirFollows = false;

 private:
  void ShowFields();
  // Which controls are shown and enabled, and the choices, by mode, profile
  // and fields.
  void ShowProfileControls();
  void MoveFile(bool certificate);

  MainDialog& mainDialog_;
  AppContext& context_;
  Controls controls_;
  bool showingFields_ = false;
  bool existingKeyModern_ = false;  // mode 1006: the key file is a modern one
};

}  // namespace kvapp

#endif
