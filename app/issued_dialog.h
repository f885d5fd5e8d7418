// The Issued Certificates dialog: the certificates the current root's
// register holds, as a table the user sorts by any column, each row marked
// by how it stands (expired, expiring within 30 days, revoked, valid), and
// the register's actions: revoke the selected certificate, make a CRL,
// record certificates issued before the register existed, read it again.
#ifndef KVCATOOL_APP_ISSUED_DIALOG_H
#define KVCATOOL_APP_ISSUED_DIALOG_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/main_dialog.h"
#include "app/root_register.h"

namespace kvapp {

// Control ids of the Issued Certificates dialog.
enum IssuedControlId : int {
  kIdIssuedTable = 1071,
  kIdIssuedRevoke = 1072,
  kIdIssuedMakeCrl = 1073,
  kIdIssuedRecordExisting = 1074,
  kIdIssuedRefresh = 1075,
  kIdIssuedSummary = 1076,
  kIdIssuedClose = 1077,
};
// The dialog's template id (its help topic is 0x20000 + this).
constexpr int kIssuedDialogTemplate = 150;

// The table's columns, left to right.
enum IssuedColumn : int {
  kColumnSerial,
  kColumnSubject,
  kColumnAltNames,
  kColumnIssued,   // notBefore
  kColumnExpires,  // notAfter
  kColumnStatus,
  kColumnProfile,
  kColumnFile,
  kIssuedColumnCount,
};

// "2026-12-09 14:05" (UTC) for |seconds| since 1970.
std::string IssuedDateText(int64_t seconds);
// The status column's text for |entry| at |now|: "Valid", "Expires in N
// days" (whole days left), "Expires within a day", "Expired", or "Revoked
// (reason)".
std::string IssuedStatusText(const IssuedEntry& entry, int64_t now);

class IssuedDialog {
 public:
  // One row of the table.
  struct Row {
    IssuedEntry entry;
    IssuedState state = IssuedState::kValid;
    std::vector<std::string> cells;  // kIssuedColumnCount texts
  };
  // The state of the controls as a front end shows them.
  struct Controls {
    std::string caption;
    std::string registerPath;  // the database the rows come from
    std::vector<std::string> headers;
    std::vector<Row> rows;  // in the shown order
    int sortColumn = kColumnExpires;
    bool ascending = true;
    int selection = -1;    // row index, -1 for none
    std::string summary;   // line 1076: counts, or why there are no rows
    std::map<int, bool> enabled;
  };

  // |mainDialog| holds the current root, its key and password; it must
  // outlive the dialog.
  explicit IssuedDialog(MainDialog& mainDialog);
  IssuedDialog(const IssuedDialog&) = delete;
  IssuedDialog& operator=(const IssuedDialog&) = delete;

  const Controls& controls() const { return controls_; }
  bool IsEnabled(int controlId) const;
  bool closed() const { return closed_; }

  // Run by the front end when it opens the dialog: reads the register.
  void OnInitDialog();
  // Reads the register again, keeping the sort and the selected certificate
  // (by serial number). A register that does not exist yet is not created:
  // the table stays empty and the summary says so. A register that cannot
  // be read gives an error box naming it. True when the rows were read.
  bool Reload();

  // A click on the header of |column|: sorts by it, ascending, or reverses
  // the order when it already sorts by it.
  void OnHeaderClicked(int column);
  // Sorts by |column| in the given direction.
  void SortBy(int column, bool ascending);
  // Selection change in the table (-1: none).
  void OnRowChosen(int row);
  // Button presses; how the button's action ended (kNotRun for a disabled
  // button or an unknown id).
  CommandOutcome OnCommand(int controlId);
  void OnContextHelp(int controlId);
  void OnContextMenu();

  // The selected row, or null.
  const Row* SelectedRow() const;

 private:
  CommandOutcome Revoke();
  CommandOutcome MakeCrlFile();
  CommandOutcome RecordExisting();
  void Sort();
  void UpdateButtons();

  MainDialog& main_;
  AppContext& context_;
  Controls controls_;
  bool registerRead_ = false;
  bool closed_ = false;
};

// The expiry line of the register of |rootCertPath| at |now| in |line|, when
// the register exists; false, creating nothing and showing nothing, when it
// does not or cannot be read.
bool ExistingRegisterExpiryLine(AppContext& context, const std::string& rootCertPath, int64_t now,
                                std::string& line);
// Whether the register of |rootCertPath| exists (its database file can be
// read); |databasePath| is set to the file's path either way.
bool RegisterExists(AppContext& context, const std::string& rootCertPath, std::string& databasePath);

}  // namespace kvapp

#endif
