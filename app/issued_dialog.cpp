#include "app/issued_dialog.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "app/register_commands.h"
#include "app/strings.h"
#include "app/utf8_text.h"
#include "platform/clock.h"

namespace kvapp {
namespace {

constexpr int64_t kSecondsPerDay = 24 * 60 * 60;
// How long reading the register waits for another program's write.
constexpr int kReadBusyMilliseconds = 2000;
// Days a CRL is proposed to stay current, and the most that are accepted.
constexpr int kDefaultCrlDays = 30;
constexpr int kMaxCrlDays = 3650;
// Room for a database path, as the register wants it.
constexpr int kPathCapacity = 4096;

constexpr const char* kHeaders[kIssuedColumnCount] = {
    "Serial Number", "Subject", "Alternative Names", "Issued", "Expires", "Status", "Profile", "File",
};

// The save chooser's filter: DER by default, PEM when the name ends in .pem.
constexpr char kCrlFilter[] = "CRL Files (*.crl)|*.crl|PEM Files (*.pem)|*.pem|All Files (*.*)|*.*|";

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

int CompareNoCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

// Serial numbers compare as the numbers they are: leading zeros ignored,
// then the longer is the larger.
int CompareSerials(const std::string& a, const std::string& b) {
  const size_t za = std::min(a.find_first_not_of('0'), a.size());
  const size_t zb = std::min(b.find_first_not_of('0'), b.size());
  const size_t la = a.size() - za, lb = b.size() - zb;
  if (la != lb) return la < lb ? -1 : 1;
  return CompareNoCase(a.substr(za), b.substr(zb));
}

int Compare(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// The order of the status column: what needs attention first.
int StateRank(IssuedState state) {
  switch (state) {
    case IssuedState::kExpired: return 0;
    case IssuedState::kExpiringSoon: return 1;
    case IssuedState::kValid: return 2;
    case IssuedState::kRevoked: return 3;
  }
  return 4;
}

int CompareRows(const IssuedDialog::Row& a, const IssuedDialog::Row& b, int column) {
  switch (column) {
    case kColumnSerial: return CompareSerials(a.entry.serialHex, b.entry.serialHex);
    case kColumnIssued: return Compare(a.entry.notBefore, b.entry.notBefore);
    case kColumnExpires: return Compare(a.entry.notAfter, b.entry.notAfter);
    case kColumnStatus: return Compare(StateRank(a.state), StateRank(b.state));
    default: return CompareNoCase(a.cells[static_cast<size_t>(column)], b.cells[static_cast<size_t>(column)]);
  }
}

// The reasons the revoke chooser offers, by RFC 5280 code (7 is not used).
std::vector<int> ReasonCodes() {
  std::vector<int> codes;
  for (int code = 0; code <= 10; ++code) {
    if (!ReasonName(code).empty()) codes.push_back(code);
  }
  return codes;
}

std::string Plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string IssuedDateText(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (gmtime_r(&t, &parts) == nullptr) return std::to_string(seconds);
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
  return n == 0 ? std::to_string(seconds) : std::string(text, n);
}

std::string IssuedStatusText(const IssuedEntry& entry, int64_t now) {
  switch (StateOf(entry, now)) {
    case IssuedState::kRevoked: {
      const std::string reason = ReasonName(entry.reason);
      return reason.empty() ? "Revoked" : "Revoked (" + reason + ")";
    }
    case IssuedState::kExpired:
      return "Expired";
    case IssuedState::kExpiringSoon: {
      // Whole days left; the last day is said as such.
      const int64_t days = (entry.notAfter - now) / kSecondsPerDay;
      return days == 0 ? "Expires within a day" : "Expires in " + Plural(days, "day", "days");
    }
    case IssuedState::kValid:
      break;
  }
  return "Valid";
}

bool RegisterExists(AppContext& context, const std::string& rootCertPath, std::string& databasePath) {
  std::string out(kPathCapacity, '\0');
  if (errKVRegisterPath(rootCertPath.c_str(), out.data(), kPathCapacity) != 0) {
    databasePath.clear();
    return false;
  }
  out.resize(out.find('\0'));
  databasePath = out;
  return context.FileExists(databasePath);
}

bool ExistingRegisterExpiryLine(AppContext& context, const std::string& rootCertPath, int64_t now,
                                std::string& line) {
  std::string databasePath;
  if (!RegisterExists(context, rootCertPath, databasePath)) return false;
  RootRegister reg(context);
  if (reg.OpenQuietly(rootCertPath) != 0) return false;
  vKVRegisterSetBusyTimeout(reg.get(), kReadBusyMilliseconds);
  return ExpiryLine(reg.get(), now, line);
}

IssuedDialog::IssuedDialog(MainDialog& mainDialog) : main_(mainDialog), context_(mainDialog.context()) {
  controls_.caption = "Issued Certificates";
  for (const char* header : kHeaders) controls_.headers.emplace_back(header);
  for (int id : {kIdIssuedRefresh, kIdIssuedRecordExisting, kIdIssuedClose}) controls_.enabled[id] = true;
  UpdateButtons();
}

bool IssuedDialog::IsEnabled(int controlId) const {
  auto it = controls_.enabled.find(controlId);
  return it != controls_.enabled.end() && it->second;
}

void IssuedDialog::OnInitDialog() { Reload(); }

bool IssuedDialog::Reload() {
  const std::string selected = SelectedRow() != nullptr ? SelectedRow()->entry.serialHex : std::string();
  controls_.rows.clear();
  controls_.selection = -1;
  registerRead_ = false;
  const std::string& root = main_.rootCertPath();
  if (main_.rootSelected() == 0) {
    controls_.registerPath.clear();
    controls_.summary = "No root certificate selected.";
    UpdateButtons();
    return false;
  }
  if (!RegisterExists(context_, root, controls_.registerPath)) {
    controls_.summary = "No certificates recorded yet: this root has no register. Record Existing... records "
                        "the certificates it issued before.";
    UpdateButtons();
    return false;
  }
  RootRegister reg(context_);
  std::vector<IssuedEntry> entries;
  int rc = reg.Open(root);
  if (rc == 0) {
    vKVRegisterSetBusyTimeout(reg.get(), kReadBusyMilliseconds);
    rc = ListIssued(reg.get(), -1, false, entries);
    if (rc != 0) context_.Error(RegisterErrorText(rc, reg.databasePath()));
  }
  if (rc != 0) {
    controls_.summary = RegisterErrorText(rc, reg.databasePath());
    UpdateButtons();
    return false;
  }
  const int64_t now = kvplatform::CalendarSeconds();
  int revoked = 0;
  for (IssuedEntry& entry : entries) {
    Row row;
    row.state = StateOf(entry, now);
    if (row.state == IssuedState::kRevoked) ++revoked;
    row.cells.resize(kIssuedColumnCount);
    // Texts that come from certificates are shown escaped, as the contents
    // dialog shows them.
    row.cells[kColumnSerial] = EscapeForDisplay(entry.serialHex);
    row.cells[kColumnSubject] = EscapeForDisplay(entry.subject);
    row.cells[kColumnAltNames] = EscapeForDisplay(JoinNames(entry.altNames));
    row.cells[kColumnIssued] = IssuedDateText(entry.notBefore);
    row.cells[kColumnExpires] = IssuedDateText(entry.notAfter);
    row.cells[kColumnStatus] = IssuedStatusText(entry, now);
    row.cells[kColumnProfile] = EscapeForDisplay(entry.profile);
    row.cells[kColumnFile] = EscapeForDisplay(entry.path);
    row.entry = std::move(entry);
    controls_.rows.push_back(std::move(row));
  }
  std::string expiry;
  if (!ExpiryLine(reg.get(), now, expiry)) expiry.clear();
  controls_.summary = Plural(static_cast<int64_t>(controls_.rows.size()), "certificate", "certificates") +
                      " recorded, " + std::to_string(revoked) + " revoked. " + expiry;
  registerRead_ = true;
  Sort();
  for (size_t i = 0; i < controls_.rows.size() && !selected.empty(); ++i) {
    if (controls_.rows[i].entry.serialHex == selected) controls_.selection = static_cast<int>(i);
  }
  UpdateButtons();
  return true;
}

void IssuedDialog::OnHeaderClicked(int column) {
  if (column < 0 || column >= kIssuedColumnCount) return;
  SortBy(column, column == controls_.sortColumn ? !controls_.ascending : true);
}

void IssuedDialog::SortBy(int column, bool ascending) {
  if (column < 0 || column >= kIssuedColumnCount) return;
  const std::string selected = SelectedRow() != nullptr ? SelectedRow()->entry.serialHex : std::string();
  controls_.sortColumn = column;
  controls_.ascending = ascending;
  Sort();
  controls_.selection = -1;
  for (size_t i = 0; i < controls_.rows.size() && !selected.empty(); ++i) {
    if (controls_.rows[i].entry.serialHex == selected) controls_.selection = static_cast<int>(i);
  }
  UpdateButtons();
}

void IssuedDialog::Sort() {
  const int column = controls_.sortColumn;
  const bool ascending = controls_.ascending;
  // Equal keys fall back to soonest expiry, then serial number, both in the
  // chosen direction, so that the order never depends on the register's.
  std::stable_sort(controls_.rows.begin(), controls_.rows.end(), [&](const Row& a, const Row& b) {
    int c = CompareRows(a, b, column);
    if (c == 0) c = Compare(a.entry.notAfter, b.entry.notAfter);
    if (c == 0) c = CompareSerials(a.entry.serialHex, b.entry.serialHex);
    return ascending ? c < 0 : c > 0;
  });
}

void IssuedDialog::OnRowChosen(int row) {
  controls_.selection = (row >= 0 && static_cast<size_t>(row) < controls_.rows.size()) ? row : -1;
  UpdateButtons();
}

const IssuedDialog::Row* IssuedDialog::SelectedRow() const {
  const int sel = controls_.selection;
  if (sel < 0 || static_cast<size_t>(sel) >= controls_.rows.size()) return nullptr;
  return &controls_.rows[static_cast<size_t>(sel)];
}

void IssuedDialog::UpdateButtons() {
  const Row* row = SelectedRow();
  controls_.enabled[kIdIssuedRevoke] = registerRead_ && row != nullptr && !row->entry.revoked;
  controls_.enabled[kIdIssuedMakeCrl] = registerRead_ && main_.rootSelected() != 0;
  controls_.enabled[kIdIssuedRecordExisting] = main_.rootSelected() != 0;
}

CommandOutcome IssuedDialog::OnCommand(int controlId) {
  if (closed_ || !IsEnabled(controlId)) return CommandOutcome::kNotRun;
  switch (controlId) {
    case kIdIssuedRevoke:
      return Revoke();
    case kIdIssuedMakeCrl:
      return MakeCrlFile();
    case kIdIssuedRecordExisting:
      return RecordExisting();
    case kIdIssuedRefresh:
      return Reload() ? CommandOutcome::kSucceeded : CommandOutcome::kFailed;
    case kIdIssuedClose:
      closed_ = true;
      return CommandOutcome::kSucceeded;
    default:
      return CommandOutcome::kNotRun;
  }
}

CommandOutcome IssuedDialog::Revoke() {
  const Row* row = SelectedRow();
  if (row == nullptr) return CommandOutcome::kNotRun;
  // Copied: the reload below replaces the rows.
  const std::string serial = row->entry.serialHex;
  const std::string subject = row->entry.subject;
  const std::vector<int> codes = ReasonCodes();
  std::vector<std::string> names;
  for (int code : codes) names.push_back(ReasonName(code));
  int index = 0;
  const std::string prompt =
      "Reason for revoking " + EscapeForDisplay(subject) + " (serial number " + EscapeForDisplay(serial) + "):";
  if (!context_.ui.ChooseItem("Revoke Certificate", prompt, names, index)) return CommandOutcome::kCancelled;
  if (index < 0 || static_cast<size_t>(index) >= codes.size()) return CommandOutcome::kCancelled;
  const CommandOutcome outcome =
      RevokeIssued(context_, main_.rootCertPath(), serial, codes[static_cast<size_t>(index)]);
  Reload();
  return outcome;
}

CommandOutcome IssuedDialog::MakeCrlFile() {
  const std::string root = main_.rootCertPath();
  std::string base = NamePart(root);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  std::string path;
  if (!context_.ui.ChooseFileToSave("Save CRL As", kCrlFilter, base + ".crl", path)) return CommandOutcome::kCancelled;
  int days = kDefaultCrlDays;
  if (!context_.ui.AskNumber("Make CRL", "Days until the next CRL is due (nextUpdate):", 1, kMaxCrlDays, days)) {
    return CommandOutcome::kCancelled;
  }
  if (days < 1 || days > kMaxCrlDays) return CommandOutcome::kCancelled;
  const bool pem = EndsWithNoCase(path, ".pem");
  const CommandOutcome outcome =
      MakeCrl(context_, root, main_.rootKeyPath(), main_.rootKeyPassword(), path, days, pem);
  Reload();
  return outcome;
}

CommandOutcome IssuedDialog::RecordExisting() {
  std::string path;
  if (!context_.ui.ChooseDirectory(LoadString(1002), "", path)) return CommandOutcome::kCancelled;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  RegisterExistingResult result;
  const CommandOutcome outcome = RegisterExisting(context_, main_.rootCertPath(), path, result);
  Reload();
  return outcome;
}

void IssuedDialog::OnContextHelp(int controlId) {
  if (controlId < 0) {
    context_.ui.ShowHelp(HelpCommand::kContext, 0x20000 + kIssuedDialogTemplate, {});
    return;
  }
  context_.ui.ShowHelp(HelpCommand::kContextPopup, kControlHelpBase + static_cast<uint32_t>(controlId), {});
}

void IssuedDialog::OnContextMenu() {
  context_.ui.ShowHelp(HelpCommand::kContextMenu, 0,
                       ContextMenuHelpTable({kIdIssuedTable, kIdIssuedSummary, kIdIssuedRevoke, kIdIssuedMakeCrl,
                                             kIdIssuedRecordExisting, kIdIssuedRefresh, kIdIssuedClose}));
}

}  // namespace kvapp
