// Recording issued certificates in the root's register: every issue leaves
// one row that agrees with its file; a serial number is never issued twice;
// a register that is locked, read-only, damaged or gone loses no
// certificate, and the next command records what was written; left-over
// pending notes are resolved the right way.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

#include <sqlite3.h>

#include "app/cert_commands.h"
#include "app/cert_details_dialog.h"
#include "app/issue_record.h"
#include "app/key_files.h"
#include "app/pending_records.h"
#include "app/root_register.h"
#include "app_fixture.h"
#include "platform/clock.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;
using kvapp::CertCommands;
using kvapp::IssuedEntry;
using kvapp::IssueOutcome;
using kvapp::MainDialog;

// A clock that shows |g_second| for its first |g_sameSecondCalls| readings
// and the second after from then on.
int64_t g_second = 0;
int g_calls = 0;
int g_sameSecondCalls = 0;
int64_t SteppingClock() { return g_calls++ < g_sameSecondCalls ? g_second : g_second + 1; }
// A clock a second further at each reading: no two classic issues share a
// second, so no test waits for the next one unless it means to.
int64_t g_ticks = 0;
int64_t TickingClock() { return 1893456000 + g_ticks++; }

class RegisterRecordTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    ::setenv("TZ", "UTC", 1);
    ::setenv("KVCATOOL_REGISTER_BUSY_MS", "100", 1);
    kvplatform::SetClockForTest(TickingClock);
    main_ = std::make_unique<MainDialog>(*context_);
    commands_ = std::make_unique<CertCommands>(*main_);
    main_->SetCommands(commands_.get());
    ui_.RunMainDialog(*main_);
  }
  void TearDown() override {
    kvplatform::SetClockForTest(nullptr);
    ::unsetenv("KVCATOOL_REGISTER_BUSY_MS");
    ::unsetenv("KVCATOOL_TEST_REGISTER_READONLY");
    AppFixture::TearDown();
  }

  kvapp::CommandOutcome Run(int id, DetailsEntry entry, int profile = kvapp::kProfileClassic) {
    ui_.details.push_back([entry, profile](kvapp::CertDetailsDialog& d) {
      d.profile = profile;
      return EnterAndOk(d, entry);
    });
    return main_->OnCommand(id);
  }
  static DetailsEntry Entry(const char* host) {
    DetailsEntry e;
    e.hostName = host;
    e.organization = "Acme";
    e.country = "US";
    e.password = e.confirmPassword = "webpass12";
    return e;
  }
  void NewRoot(int profile) {
    DetailsEntry e = Entry("Root");
    e.hostName.reset();
    e.password = e.confirmPassword = "rootpass1";
    ASSERT_EQ(Run(kvapp::kIdNewRoot, e, profile), kvapp::CommandOutcome::kSucceeded);
    ui_.events.clear();
  }
  // A server certificate (and key) for |host|, written to |host|.crt.
  kvapp::CommandOutcome NewServer(const char* host) { return Run(kvapp::kIdNewServer, Entry(host)); }
  // A certificate for the existing key file |keyName| written to |certName|.
  kvapp::CommandOutcome CertForKey(const std::string& keyName, const std::string& certName) {
    main_->FillFileList();
    main_->OnFilterChosen(3);
    const auto& items = main_->controls().fileItems;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == keyName) main_->OnFileChosen(static_cast<int>(i));
    }
    DetailsEntry e = Entry("web");
    e.certFile = Path(certName);
    return Run(kvapp::kIdCreateServerCert, e);
  }

  std::vector<IssuedEntry> Rows() {
    std::vector<IssuedEntry> rows;
    KV_REGISTER* reg = nullptr;
    if (errKVRegisterOpen(Path("kvroot.crt").c_str(), &reg) != 0) {
      ADD_FAILURE() << "the register does not open";
      return rows;
    }
    EXPECT_EQ(kvapp::ListIssued(reg, -1, false, rows), 0);
    vKVRegisterClose(&reg);
    return rows;
  }
  std::set<std::string> RowPaths() {
    std::set<std::string> paths;
    for (const IssuedEntry& row : Rows()) paths.insert(row.path);
    return paths;
  }
  std::vector<std::string> Notes() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Path("kvroot.pending"), ec)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  std::vector<unsigned char> FileBytes(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // Every row's DER is its file's, and every serial number is there once.
  void ExpectRowsAgreeWithFiles() {
    std::set<std::string> serials;
    for (const IssuedEntry& row : Rows()) {
      EXPECT_TRUE(serials.insert(row.serialHex).second) << row.serialHex;
      std::ifstream in(row.path, std::ios::binary);
      const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(file, row.der) << row.path;
    }
  }
  bool ErrorNames(const std::string& first, const std::string& second) {
    for (const Event& e : ui_.events) {
      if (e.kind == "error" && e.text.find(first) != std::string::npos && e.text.find(second) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  std::unique_ptr<MainDialog> main_;
  std::unique_ptr<CertCommands> commands_;
};

TEST_F(RegisterRecordTest, EachIssueIsRecordedOnceUnderBothProfiles) {
  for (int profile : {kvapp::kProfileClassic, kvapp::kProfileModern}) {
    SCOPED_TRACE(profile);
    TearDown();
    SetUp();
    NewRoot(profile);
    // Made with the root, and empty.
    ASSERT_TRUE(Exists(Path("kvroot.db")));
    EXPECT_TRUE(Rows().empty());
    ASSERT_EQ(NewServer("web1"), kvapp::CommandOutcome::kSucceeded);
    ASSERT_EQ(NewServer("web2"), kvapp::CommandOutcome::kSucceeded);
    const std::vector<IssuedEntry> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(RowPaths(), (std::set<std::string>{Path("web1.crt"), Path("web2.crt")}));
    for (const IssuedEntry& row : rows) {
      EXPECT_EQ(row.profile, profile == kvapp::kProfileModern ? "modern" : "classic");
      EXPECT_EQ(row.subject.find("CN=web"), 0u) << row.subject;
    }
    ExpectRowsAgreeWithFiles();
    EXPECT_TRUE(Notes().empty());
    EXPECT_EQ(ui_.unanswered, 0);
  }
}

// The classic serial number is the issue second and bytes of the key: two
// certificates for one key file in the same second would share it. The
// second issue waits for the next second and is made again.
TEST_F(RegisterRecordTest, ClassicSameKeySameSecondGetsTheNextSecond) {
  NewRoot(kvapp::kProfileClassic);
  ASSERT_EQ(kvapp::CreateServerKeyFile(*context_, Path("web.key"), "webpass12"), 0);
  g_second = 1893456000;  // 2030-01-01
  g_calls = 0;
  g_sameSecondCalls = 1 << 30;
  kvplatform::SetClockForTest(SteppingClock);
  ASSERT_EQ(CertForKey("web.key", "first.crt"), kvapp::CommandOutcome::kSucceeded);
  // The second issue reads the same second while it makes its first try,
  // then the clock moves on.
  g_calls = 0;
  g_sameSecondCalls = 2;
  ASSERT_EQ(CertForKey("web.key", "second.crt"), kvapp::CommandOutcome::kSucceeded);
  // Made twice: the clock was read for two makes and the wait between.
  EXPECT_GE(g_calls, 5);
  const std::vector<IssuedEntry> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[0].serialHex, rows[1].serialHex);
  EXPECT_EQ(rows[0].notBefore, g_second);
  EXPECT_EQ(rows[1].notBefore, g_second + 1);
  ExpectRowsAgreeWithFiles();
  EXPECT_TRUE(Notes().empty());
}

// IssueAndRecord itself: a serial number recorded already is made again
// in the next second when retrying is asked for (a few times at most),
// refused at once otherwise; a file that cannot be written leaves neither
// row nor note.
TEST_F(RegisterRecordTest, TakenSerialNumbersAndUnwritableFiles) {
  NewRoot(kvapp::kProfileClassic);
  ASSERT_EQ(NewServer("a"), kvapp::CommandOutcome::kSucceeded);
  ASSERT_EQ(NewServer("b"), kvapp::CommandOutcome::kSucceeded);
  const std::vector<unsigned char> a = FileBytes("a.crt"), b = FileBytes("b.crt");
  auto forget = [&](const char* name) {  // the row of |name| out of the register
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("kvroot.db").c_str(), &db), SQLITE_OK);
    const std::string sql = "DELETE FROM issued WHERE path = '" + Path(name) + "'";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  };
  std::vector<std::vector<unsigned char>> made;
  size_t calls = 0;
  auto maker = [&](std::vector<unsigned char>& der) {
    der = made.at(calls++);
    return true;
  };
  struct Case {
    const char* name;
    std::vector<std::vector<unsigned char>> made;
    bool retry;
    const char* certName;
    IssueOutcome outcome;
    size_t calls;
  };
  const Case cases[] = {
      {"taken every time", std::vector<std::vector<unsigned char>>(20, a), true, "c.crt", IssueOutcome::kFailed, 20},
      {"taken, not retried", {a}, false, "d.crt", IssueOutcome::kFailed, 1},
      {"taken, then new", {a, b}, true, "e.crt", IssueOutcome::kRecorded, 2},
      {"file cannot be made", {b}, true, "missing/f.crt", IssueOutcome::kFileNotWritten, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.outcome == IssueOutcome::kRecorded || std::string(c.certName) == "missing/f.crt") forget("b.crt");
    forget("e.crt");
    made = c.made;
    calls = 0;
    ui_.events.clear();
    const size_t rowsBefore = Rows().size();
    EXPECT_EQ(kvapp::IssueAndRecord(*context_, Path("kvroot.crt"), Path(c.certName), "classic", c.retry, maker),
              c.outcome);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(Exists(Path(c.certName)), c.outcome == IssueOutcome::kRecorded);
    EXPECT_EQ(Rows().size(), rowsBefore + (c.outcome == IssueOutcome::kRecorded ? 1 : 0));
    EXPECT_TRUE(Notes().empty());
    if (c.calls > 1 && c.outcome == IssueOutcome::kFailed) {
      EXPECT_TRUE(ErrorNames("was issued under this root already", Path(c.certName)));
    }
  }
  EXPECT_EQ(FileBytes("e.crt"), b);
  EXPECT_EQ(ui_.output.back(), "*** Error: Could not open certificate file <" + Path("missing/f.crt") +
                                   "> for writing. ***");
}

// A register that cannot record loses nothing: the certificate file is
// written, the error names it and the database, the pending note keeps it,
// and the next command (the fault gone) records it once, after asking.
enum class Fault { kLocked, kReadOnly, kTruncated };

TEST_F(RegisterRecordTest, FaultsLoseNothingAndTheNextCommandRecords) {
  for (Fault fault : {Fault::kLocked, Fault::kReadOnly, Fault::kTruncated}) {
    SCOPED_TRACE(static_cast<int>(fault));
    TearDown();
    SetUp();
    NewRoot(kvapp::kProfileClassic);
    ASSERT_EQ(NewServer("web1"), kvapp::CommandOutcome::kSucceeded);

    sqlite3* other = nullptr;
    switch (fault) {
      case Fault::kLocked:
        // Another connection holds the write lock past the busy timeout.
        ASSERT_EQ(sqlite3_open(Path("kvroot.db").c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        break;
      case Fault::kReadOnly:
        ::setenv("KVCATOOL_TEST_REGISTER_READONLY", "1", 1);
        break;
      case Fault::kTruncated:
        fs::remove(Path("kvroot.db-wal"));
        fs::remove(Path("kvroot.db-shm"));
        fs::resize_file(Path("kvroot.db"), 1000);
        break;
    }
    ui_.events.clear();
    EXPECT_EQ(NewServer("web2"), kvapp::CommandOutcome::kFailed);
    EXPECT_TRUE(ErrorNames(Path("web2.crt"), Path("kvroot.db")));
    EXPECT_TRUE(Exists(Path("web2.crt")));
    EXPECT_TRUE(Exists(Path("web2.key")));  // kept with its certificate
    EXPECT_EQ(Notes().size(), 1u);

    // The fault goes.
    if (other != nullptr) {
      sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(other);
    }
    ::unsetenv("KVCATOOL_TEST_REGISTER_READONLY");
    if (fault == Fault::kTruncated) {
      // Still damaged: the note is left alone; moved aside, a new register
      // takes the note.
      ui_.events.clear();
      EXPECT_EQ(NewServer("web3"), kvapp::CommandOutcome::kFailed);
      EXPECT_EQ(Notes().size(), 2u);
      fs::rename(Path("kvroot.db"), Path("kvroot.db.damaged"));
    }
    // A no keeps it for later; a yes records it.
    ui_.yesNo = {false, false};
    ASSERT_EQ(NewServer("web4"), kvapp::CommandOutcome::kSucceeded);
    EXPECT_FALSE(Notes().empty());
    ui_.yesNo = fault == Fault::kTruncated ? std::deque<bool>{true, true} : std::deque<bool>{true};
    ASSERT_EQ(NewServer("web5"), kvapp::CommandOutcome::kSucceeded);
    EXPECT_TRUE(Notes().empty());
    EXPECT_EQ(ui_.unanswered, 0);
    std::set<std::string> expected{Path("web2.crt"), Path("web4.crt"), Path("web5.crt")};
    if (fault == Fault::kTruncated) {
      expected.insert(Path("web3.crt"));
    } else {
      expected.insert(Path("web1.crt"));
    }
    EXPECT_EQ(RowPaths(), expected);
    ExpectRowsAgreeWithFiles();
  }
}

// The register deleted by hand: the next issue makes a new one, says so and
// records in it.
TEST_F(RegisterRecordTest, DeletedRegisterIsMadeAgainAndSaidSo) {
  NewRoot(kvapp::kProfileModern);
  ASSERT_EQ(NewServer("web1"), kvapp::CommandOutcome::kSucceeded);
  fs::remove(Path("kvroot.db"));
  fs::remove(Path("kvroot.db-wal"));
  fs::remove(Path("kvroot.db-shm"));
  ui_.output.clear();
  ASSERT_EQ(NewServer("web2"), kvapp::CommandOutcome::kSucceeded);
  ASSERT_FALSE(ui_.output.empty());
  EXPECT_EQ(ui_.output[0], "The register " + Path("kvroot.db") +
                               " was not there; a new, empty one was made. Certificates issued before can be "
                               "recorded with register-existing.");
  EXPECT_EQ(RowPaths(), (std::set<std::string>{Path("web2.crt")}));
}

// Left-over notes: one whose file was never written goes quietly; one whose
// row is in goes quietly; one whose serial number the register holds for
// another certificate is kept and named; a note that is not a note is named
// and left; one written and then lost is offered from its DER.
TEST_F(RegisterRecordTest, LeftoverNotesAreResolved) {
  NewRoot(kvapp::kProfileClassic);
  for (const char* host : {"a", "b", "c", "d"}) ASSERT_EQ(NewServer(host), kvapp::CommandOutcome::kSucceeded);
  const std::string root = Path("kvroot.crt");
  auto note = [&](const std::string& certName, const std::vector<unsigned char>& der, bool written) {
    kvapp::PendingRecord r;
    r.der = der;
    r.serialHex = kvapp::SerialHexOf(der);
    r.certPath = Path(certName);
    r.profile = "classic";
    kvapp::PendingNote n;
    ASSERT_EQ(n.Make(root, r), kvapp::PendingNote::Made::kMade);
    if (written) {
      ASSERT_TRUE(n.MarkWritten(root, r));
    }
    n.Release();
  };
  const std::vector<unsigned char> a = FileBytes("a.crt"), b = FileBytes("b.crt"), c = FileBytes("c.crt"),
                                   d = FileBytes("d.crt");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Path("kvroot.db").c_str(), &db), SQLITE_OK);
  const std::string sql = "DELETE FROM issued WHERE path IN ('" + Path("b.crt") + "', '" + Path("c.crt") + "')";
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  note("a.crt", a, false);                  // recorded already
  note("never.crt", b, false);              // stopped before its file
  fs::rename(Path("c.crt"), Path("c.moved"));
  note("c.crt", c, true);                   // written, reported, file lost since
  std::vector<unsigned char> forged = d;    // d's serial number, other bytes
  forged.back() ^= 1;
  note("forged.crt", forged, true);
  WriteFile("kvroot.pending/0ABC", "not a note");
  // A note a process is still working on is not touched.
  kvapp::PendingRecord busy;
  busy.der = b;
  busy.serialHex = "B0B0";
  busy.certPath = Path("busy.crt");
  busy.profile = "classic";
  kvapp::PendingNote held;
  ASSERT_EQ(held.Make(root, busy), kvapp::PendingNote::Made::kMade);
  // The same serial number cannot be reserved twice.
  kvapp::PendingNote again;
  EXPECT_EQ(again.Make(root, busy), kvapp::PendingNote::Made::kSerialTaken);

  ui_.events.clear();
  ui_.output.clear();
  ui_.yesNo = {true};
  kvapp::RootRegister reg(*context_);
  ASSERT_EQ(reg.Open(root), 0);
  EXPECT_EQ(ui_.unanswered, 0);
  // One error and one question, in the notes' (serial numbers') order.
  ASSERT_EQ(ui_.events.size(), 2u);
  EXPECT_TRUE(ErrorNames(Path("forged.crt"), "holds for another certificate"));
  const Event& question = ui_.events[0].kind == "question" ? ui_.events[0] : ui_.events[1];
  EXPECT_EQ(question.kind, "question");
  EXPECT_NE(question.text.find(Path("c.crt")), std::string::npos);
  EXPECT_NE(question.text.find("its file is gone"), std::string::npos);
  EXPECT_EQ(ui_.output.front(), "The pending record " + Path("kvroot.pending/0ABC") +
                                    " cannot be read; it is left as it is.");
  reg.Close();
  EXPECT_EQ(RowPaths(), (std::set<std::string>{Path("a.crt"), Path("c.crt"), Path("d.crt")}));
  std::vector<std::string> left = Notes();
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected{"0ABC", "B0B0", kvapp::SerialHexOf(forged)};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  held.Remove();
}

}  // namespace
}  // namespace apptest
