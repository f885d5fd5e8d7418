// The Issued Certificates dialog's logic over a real register: sorting by
// each column, the marks at the 30-day edge under a fixed clock, the kept
// selection, the actions through the scripted front end (cancelled at each
// step too), and the main dialog's button and expiry line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/cert_commands.h"
#include "app/issued_dialog.h"
#include "app/main_dialog.h"
#include "app_fixture.h"
#include "platform/clock.h"

namespace apptest {
namespace {

using kvapp::IssuedDialog;
using kvapp::IssuedState;

constexpr int64_t kDay = 24 * 60 * 60;
constexpr int64_t kNow = 1798761600;  // 2027-01-01 00:00:00 UTC
int64_t FixedNow() { return kNow; }

struct Recorded {
  const char* serial;
  const char* subject;
  const char* altNames;
  int64_t notBefore;
  int64_t notAfter;
  const char* profile;
  const char* path;
};

class IssuedDialogTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    kvplatform::SetClockForTest(FixedNow);
    root_ = Path("kvroot.crt");
    main_ = std::make_unique<kvapp::MainDialog>(*context_);
    main_->SetCurrentRoot(root_, Path("kvroot.key"), "rootpass1");
  }
  void TearDown() override {
    kvplatform::SetClockForTest(nullptr);
    AppFixture::TearDown();
  }

  void Record(const std::vector<Recorded>& rows, const std::vector<std::pair<const char*, int>>& revoked = {}) {
    KV_REGISTER* reg = nullptr;
    ASSERT_EQ(errKVRegisterOpen(root_.c_str(), &reg), 0);
    for (const Recorded& r : rows) {
      const unsigned char der[] = {0x30, 0x00};
      KV_REGISTER_ENTRY e{};
      e.serialHex = r.serial;
      e.subject = r.subject;
      e.altNames = r.altNames;
      e.notBefore = r.notBefore;
      e.notAfter = r.notAfter;
      e.path = r.path;
      e.sha256Hex = "00";
      e.profile = r.profile;
      e.der = der;
      e.derLength = 2;
      e.recordedAt = r.notBefore;
      ASSERT_EQ(errKVRegisterAdd(reg, &e), 0) << r.serial;
    }
    for (const auto& [serial, reason] : revoked) ASSERT_EQ(errKVRegisterRevoke(reg, serial, reason, kNow - kDay), 0);
    vKVRegisterClose(&reg);
  }

  // The serial numbers of the rows as shown.
  static std::vector<std::string> Serials(const IssuedDialog& d) {
    std::vector<std::string> out;
    for (const IssuedDialog::Row& row : d.controls().rows) out.push_back(row.entry.serialHex);
    return out;
  }
  static int RowOf(const IssuedDialog& d, const std::string& serial) {
    const auto& rows = d.controls().rows;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].entry.serialHex == serial) return static_cast<int>(i);
    }
    return -1;
  }

  // Four certificates whose every column orders them differently.
  void RecordFour() {
    Record({
        {"0A", "CN=delta, O=Acme, C=US", "", kNow - 300 * kDay, kNow + 40 * kDay, "classic", "/c/delta.crt"},
        {"FF01", "CN=alpha, O=Acme, C=US", "DNS:zz.example", kNow - 10 * kDay, kNow + 5 * kDay, "modern",
         "/a/alpha.crt"},
        {"0B", "CN=Charlie, O=Acme, C=US", "DNS:aa.example", kNow - 400 * kDay, kNow - 2 * kDay, "classic",
         "/d/charlie.crt"},
        {"7C", "CN=bravo, O=Acme, C=US", "DNS:mm.example\nDNS:b.example", kNow - 20 * kDay, kNow + 90 * kDay,
         "modern", "/b/bravo.crt"},
    });
  }

  std::string root_;
  std::unique_ptr<kvapp::MainDialog> main_;
};

TEST_F(IssuedDialogTest, SortsByEveryColumnBothWays) {
  ASSERT_NO_FATAL_FAILURE(RecordFour());
  IssuedDialog d(*main_);
  d.OnInitDialog();
  // Soonest expiry first by default.
  EXPECT_EQ(d.controls().sortColumn, kvapp::kColumnExpires);
  EXPECT_TRUE(d.controls().ascending);
  EXPECT_EQ(Serials(d), (std::vector<std::string>{"0B", "FF01", "0A", "7C"}));

  struct Case {
    int column;
    std::vector<std::string> ascending;
  };
  const Case cases[] = {
      // As numbers: 0A < 0B < 7C < FF01 (not as text, where FF01 < 7C fails).
      {kvapp::kColumnSerial, {"0A", "0B", "7C", "FF01"}},
      // Without regard to case: alpha, bravo, Charlie, delta.
      {kvapp::kColumnSubject, {"FF01", "7C", "0B", "0A"}},
      // No names first, then "DNS:aa", "DNS:mm, DNS:b", "DNS:zz".
      {kvapp::kColumnAltNames, {"0A", "0B", "7C", "FF01"}},
      {kvapp::kColumnIssued, {"0B", "0A", "7C", "FF01"}},
      {kvapp::kColumnExpires, {"0B", "FF01", "0A", "7C"}},
      // Expired, expiring soon, then valid ones by expiry.
      {kvapp::kColumnStatus, {"0B", "FF01", "0A", "7C"}},
      // classic before modern, each by expiry.
      {kvapp::kColumnProfile, {"0B", "0A", "FF01", "7C"}},
      {kvapp::kColumnFile, {"FF01", "7C", "0A", "0B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(d.controls().headers[static_cast<size_t>(c.column)]);
    // A first click on another column sorts ascending, a second reverses.
    d.SortBy(kvapp::kColumnSerial == c.column ? kvapp::kColumnSubject : kvapp::kColumnSerial, true);
    d.OnHeaderClicked(c.column);
    EXPECT_EQ(d.controls().sortColumn, c.column);
    EXPECT_TRUE(d.controls().ascending);
    EXPECT_EQ(Serials(d), c.ascending);
    d.OnHeaderClicked(c.column);
    EXPECT_FALSE(d.controls().ascending);
    std::vector<std::string> descending(c.ascending.rbegin(), c.ascending.rend());
    EXPECT_EQ(Serials(d), descending);
  }
  d.OnHeaderClicked(kvapp::kIssuedColumnCount);  // no such column: nothing changes
  EXPECT_EQ(d.controls().sortColumn, kvapp::kColumnFile);
  EXPECT_EQ(d.controls().rows[static_cast<size_t>(RowOf(d, "7C"))].cells[kvapp::kColumnAltNames],
            "DNS:mm.example, DNS:b.example");
}

TEST_F(IssuedDialogTest, MarksAtTheThirtyDayEdge) {
  constexpr int64_t kWindow = 30 * kDay;
  Record({
      {"01", "CN=a", "", kNow - kDay, kNow - 1, "classic", "/a.crt"},
      {"02", "CN=b", "", kNow - kDay, kNow, "classic", "/b.crt"},
      {"03", "CN=c", "", kNow - kDay, kNow + kWindow - 1, "classic", "/c.crt"},
      {"04", "CN=d", "", kNow - kDay, kNow + kWindow, "classic", "/d.crt"},
      {"05", "CN=e", "", kNow - kDay, kNow + 1, "modern", "/e.crt"},
      {"06", "CN=f", "", kNow - kDay, kNow - 5 * kDay, "modern", "/f.crt"},
      {"07", "CN=g", "", kNow - kDay, kNow + kDay, "modern", "/g.crt"},
      {"08", "CN=h", "", kNow - kDay, kNow + kDay + 1, "modern", "/h.crt"},
  },
         {{"06", 1}, {"07", 0}});
  ASSERT_FALSE(HasFatalFailure());
  IssuedDialog d(*main_);
  d.OnInitDialog();
  struct Case {
    const char* serial;
    IssuedState state;
    const char* status;
  };
  const Case cases[] = {
      {"01", IssuedState::kExpired, "Expired"},
      {"02", IssuedState::kExpiringSoon, "Expires within a day"},
      {"03", IssuedState::kExpiringSoon, "Expires in 29 days"},
      {"04", IssuedState::kValid, "Valid"},
      {"05", IssuedState::kExpiringSoon, "Expires within a day"},
      // Revoked wins over expired and over expiring soon.
      {"06", IssuedState::kRevoked, "Revoked (keyCompromise)"},
      {"07", IssuedState::kRevoked, "Revoked (unspecified)"},
      {"08", IssuedState::kExpiringSoon, "Expires in 1 day"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    const int row = RowOf(d, c.serial);
    ASSERT_GE(row, 0);
    const IssuedDialog::Row& r = d.controls().rows[static_cast<size_t>(row)];
    EXPECT_EQ(r.state, c.state);
    EXPECT_EQ(r.cells[kvapp::kColumnStatus], c.status);
  }
  EXPECT_EQ(d.controls().rows[static_cast<size_t>(RowOf(d, "04"))].cells[kvapp::kColumnExpires], "2027-01-31 00:00");
  EXPECT_EQ(d.controls().summary,
            "8 certificates recorded, 2 revoked. Issued certificates: 1 expired, 4 expire within 30 days.");
  // One day later the edge has moved: 04 expires within 30 days, 02 expired.
  kvplatform::SetClockForTest([] { return kNow + kDay; });
  d.OnCommand(kvapp::kIdIssuedRefresh);
  EXPECT_EQ(d.controls().rows[static_cast<size_t>(RowOf(d, "04"))].state, IssuedState::kExpiringSoon);
  EXPECT_EQ(d.controls().rows[static_cast<size_t>(RowOf(d, "02"))].state, IssuedState::kExpired);
}

TEST_F(IssuedDialogTest, SelectionFollowsTheCertificateAndGatesRevoke) {
  ASSERT_NO_FATAL_FAILURE(RecordFour());
  ASSERT_NO_FATAL_FAILURE(
      Record({{"99", "CN=gone", "", kNow - kDay, kNow + 400 * kDay, "classic", "/g.crt"}}, {{"99", 4}}));
  IssuedDialog d(*main_);
  d.OnInitDialog();
  EXPECT_FALSE(d.IsEnabled(kvapp::kIdIssuedRevoke));
  EXPECT_TRUE(d.IsEnabled(kvapp::kIdIssuedMakeCrl));
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedRevoke), kvapp::CommandOutcome::kNotRun);
  d.OnRowChosen(RowOf(d, "0A"));
  EXPECT_TRUE(d.IsEnabled(kvapp::kIdIssuedRevoke));
  d.OnHeaderClicked(kvapp::kColumnSubject);
  ASSERT_NE(d.SelectedRow(), nullptr);
  EXPECT_EQ(d.SelectedRow()->entry.serialHex, "0A");
  EXPECT_EQ(d.controls().selection, RowOf(d, "0A"));
  d.OnCommand(kvapp::kIdIssuedRefresh);
  EXPECT_EQ(d.SelectedRow()->entry.serialHex, "0A");
  // A revoked certificate cannot be revoked again.
  d.OnRowChosen(RowOf(d, "99"));
  EXPECT_FALSE(d.IsEnabled(kvapp::kIdIssuedRevoke));
  d.OnRowChosen(42);
  EXPECT_EQ(d.SelectedRow(), nullptr);
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedClose), kvapp::CommandOutcome::kSucceeded);
  EXPECT_TRUE(d.closed());
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedRefresh), kvapp::CommandOutcome::kNotRun);
}

TEST_F(IssuedDialogTest, RevokeAsksTheReasonAndCanBeCancelled) {
  ASSERT_NO_FATAL_FAILURE(RecordFour());
  IssuedDialog d(*main_);
  d.OnInitDialog();
  d.OnRowChosen(RowOf(d, "7C"));
  // Cancelled at the reason: nothing asked after it, nothing changed.
  ui_.choices.push_back(std::nullopt);
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedRevoke), kvapp::CommandOutcome::kCancelled);
  ASSERT_EQ(ui_.choiceItems.size(), 1u);
  EXPECT_EQ(ui_.choiceItems[0],
            (std::vector<std::string>{"unspecified", "keyCompromise", "cACompromise", "affiliationChanged",
                                      "superseded", "cessationOfOperation", "certificateHold", "removeFromCRL",
                                      "privilegeWithdrawn", "aACompromise"}));
  EXPECT_EQ(ui_.events.back(), (Event{"choose", "Reason for revoking CN=bravo, O=Acme, C=US (serial number 7C):"}));
  // Declined at the confirmation.
  ui_.choices.push_back("superseded");
  ui_.yesNo.push_back(false);
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedRevoke), kvapp::CommandOutcome::kCancelled);
  EXPECT_FALSE(d.SelectedRow()->entry.revoked);
  // Confirmed: revoked with that reason's code, still selected.
  ui_.choices.push_back("removeFromCRL");
  ui_.yesNo.push_back(true);
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedRevoke), kvapp::CommandOutcome::kSucceeded);
  ASSERT_NE(d.SelectedRow(), nullptr);
  EXPECT_EQ(d.SelectedRow()->entry.serialHex, "7C");
  EXPECT_TRUE(d.SelectedRow()->entry.revoked);
  EXPECT_EQ(d.SelectedRow()->entry.reason, 8);
  EXPECT_EQ(d.SelectedRow()->cells[kvapp::kColumnStatus], "Revoked (removeFromCRL)");
  EXPECT_FALSE(d.IsEnabled(kvapp::kIdIssuedRevoke));
  EXPECT_EQ(ui_.unanswered, 0);
}

TEST_F(IssuedDialogTest, MakeCrlAndRecordExistingCancelledAtEachStep) {
  ASSERT_NO_FATAL_FAILURE(RecordFour());
  IssuedDialog d(*main_);
  d.OnInitDialog();
  // Cancelled at the file: no days asked.
  ui_.saveFiles.push_back(std::nullopt);
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedMakeCrl), kvapp::CommandOutcome::kCancelled);
  EXPECT_EQ(ui_.events.back().kind, "save");
  EXPECT_EQ(ui_.events.back().text, "Save CRL As kvroot.crl");
  // Cancelled at the days: nothing written.
  ui_.saveFiles.push_back(Path("root.crl"));
  ui_.numbers.push_back(std::nullopt);
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedMakeCrl), kvapp::CommandOutcome::kCancelled);
  EXPECT_EQ(ui_.events.back(), (Event{"number", "Days until the next CRL is due (nextUpdate):"}));
  EXPECT_FALSE(Exists(Path("root.crl")));
  // Record Existing cancelled at the directory.
  ui_.directories.push_back(std::nullopt);
  EXPECT_EQ(d.OnCommand(kvapp::kIdIssuedRecordExisting), kvapp::CommandOutcome::kCancelled);
  EXPECT_EQ(ui_.events.back().kind, "directory");
  EXPECT_EQ(ui_.Boxes().size(), 0u);
  EXPECT_EQ(ui_.unanswered, 0);
}

// Texts from certificates are shown escaped; the reason prompt too.
TEST_F(IssuedDialogTest, ControlCharactersShownEscaped) {
  ASSERT_NO_FATAL_FAILURE(
      Record({{"1B", "CN=evil\x1B[2J, C=US", "DNS:a\x07", kNow - kDay, kNow + 99 * kDay, "classic", "/e\n.crt"}}));
  IssuedDialog d(*main_);
  d.OnInitDialog();
  ASSERT_EQ(d.controls().rows.size(), 1u);
  const std::vector<std::string>& cells = d.controls().rows[0].cells;
  EXPECT_EQ(cells[kvapp::kColumnSubject], "CN=evil\\x1B[2J, C=US");
  EXPECT_EQ(cells[kvapp::kColumnAltNames], "DNS:a\\x07");
  EXPECT_EQ(cells[kvapp::kColumnFile], "/e\\x0A.crt");
  d.OnRowChosen(0);
  ui_.choices.push_back(std::nullopt);
  d.OnCommand(kvapp::kIdIssuedRevoke);
  EXPECT_EQ(ui_.events.back().text, "Reason for revoking CN=evil\\x1B[2J, C=US (serial number 1B):");
}

TEST_F(IssuedDialogTest, NoRegisterIsNotCreatedByLooking) {
  const std::string db = Path("kvroot.db");
  IssuedDialog d(*main_);
  d.OnInitDialog();
  EXPECT_FALSE(Exists(db));
  EXPECT_TRUE(d.controls().rows.empty());
  EXPECT_EQ(d.controls().registerPath, db);
  EXPECT_NE(d.controls().summary.find("no register"), std::string::npos);
  EXPECT_FALSE(d.IsEnabled(kvapp::kIdIssuedMakeCrl));
  EXPECT_TRUE(d.IsEnabled(kvapp::kIdIssuedRecordExisting));
  std::string line;
  EXPECT_FALSE(kvapp::ExistingRegisterExpiryLine(*context_, root_, kNow, line));
  EXPECT_FALSE(Exists(db));
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(IssuedDialogTest, DamagedRegisterGivesOneBoxNamingIt) {
  WriteFile("kvroot.db", std::string(4096, 'J'));
  IssuedDialog d(*main_);
  d.OnInitDialog();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, "error");
  EXPECT_NE(ui_.Boxes()[0].text.find(Path("kvroot.db")), std::string::npos);
  EXPECT_EQ(d.controls().summary, ui_.Boxes()[0].text);
  EXPECT_TRUE(d.controls().rows.empty());
  EXPECT_FALSE(d.IsEnabled(kvapp::kIdIssuedMakeCrl));
  // The expiry line stays hidden and says nothing.
  std::string line;
  EXPECT_FALSE(kvapp::ExistingRegisterExpiryLine(*context_, root_, kNow, line));
  EXPECT_EQ(ui_.Boxes().size(), 1u);
}

// The main dialog: the button needs a root; the line shows once the root
// has a register and follows it after each command.
TEST_F(IssuedDialogTest, MainDialogButtonAndExpiryLine) {
  kvapp::MainDialog fresh(*context_);
  kvapp::CertCommands commands(fresh);
  fresh.SetCommands(&commands);
  fresh.OnInitDialog();
  EXPECT_FALSE(fresh.IsEnabled(kvapp::kIdIssuedCertificates));
  EXPECT_EQ(fresh.OnCommand(kvapp::kIdIssuedCertificates), kvapp::CommandOutcome::kNotRun);
  fresh.SetCurrentRoot(root_, Path("kvroot.key"), "rootpass1");
  EXPECT_TRUE(fresh.IsEnabled(kvapp::kIdIssuedCertificates));
  EXPECT_EQ(fresh.controls().expiryLine, "");
  EXPECT_FALSE(Exists(Path("kvroot.db")));

  ASSERT_NO_FATAL_FAILURE(Record({{"01", "CN=a", "", kNow - kDay, kNow - 1, "classic", "/a.crt"}}));
  // The dialog runs; what it did shows in the line once it closes.
  ui_.issued.push_back([&](IssuedDialog& d) {
    EXPECT_EQ(d.controls().rows.size(), 1u);
    Record({{"02", "CN=b", "", kNow - kDay, kNow + kDay, "classic", "/b.crt"}});
    d.OnCommand(kvapp::kIdIssuedClose);
  });
  EXPECT_EQ(fresh.OnCommand(kvapp::kIdIssuedCertificates), kvapp::CommandOutcome::kSucceeded);
  EXPECT_EQ(fresh.controls().expiryLine, "Issued certificates: 1 expired, 1 expire within 30 days.");
  EXPECT_EQ(ui_.unanswered, 0);
}

}  // namespace
}  // namespace apptest
