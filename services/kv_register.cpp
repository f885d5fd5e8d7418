// The issued-certificate register: one SQLite database per root. Every
// change runs in an immediate transaction, so two processes issuing under
// one root take turns (the busy timeout makes the later one wait) and a
// serial number can be recorded once only (the primary key refuses the
// second). A process killed part-way leaves the database as it was before
// the transaction: write-ahead logging with full synchronisation.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/file_system.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr const char* kTraceModule = "kv_register";
constexpr int kDefaultBusyMilliseconds = 10000;
constexpr const char* kExtension = ".db";

// Schema version 1. Each later version adds one step to kMigrations; a
// register is taken from its PRAGMA user_version to the current one step by
// step inside one transaction.
constexpr const char* kSchemaV1 =
    "CREATE TABLE issued ("
    "  serial TEXT PRIMARY KEY NOT NULL,"
    "  subject TEXT NOT NULL,"
    "  alt_names TEXT NOT NULL DEFAULT '',"
    "  not_before INTEGER NOT NULL,"
    "  not_after INTEGER NOT NULL,"
    "  path TEXT NOT NULL,"
    "  sha256 TEXT NOT NULL,"
    "  profile TEXT NOT NULL,"
    "  der BLOB NOT NULL,"
    "  status INTEGER NOT NULL DEFAULT 0,"
    "  revoked_at INTEGER,"
    "  reason INTEGER,"
    "  recorded_at INTEGER NOT NULL);"
    "CREATE INDEX issued_by_expiry ON issued(not_after);"
    "CREATE TABLE crl (number INTEGER PRIMARY KEY NOT NULL, issued_at INTEGER NOT NULL);";
constexpr const char* kMigrations[] = {kSchemaV1};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == KV_REG_SCHEMA_VERSION);

// A prepared statement finalized on every exit.
struct Statement {
  sqlite3_stmt* stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
};

int CodeFor(int sqliteCode, int otherwise) {
  switch (sqliteCode & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return KV_REG_BUSY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return KV_REG_DAMAGED;
    case SQLITE_CONSTRAINT:
      return KV_REG_DUPLICATE;
    case SQLITE_READONLY:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return KV_REG_WRITE_FAILED;
    default:
      return otherwise;
  }
}

// Serial numbers are kept in upper case so that "0a" finds "0A".
bool NormaliseSerial(const char* text, std::string& out) {
  out.clear();
  if (text == nullptr || text[0] == 0) return false;
  for (const char* p = text; *p != 0; ++p) {
    char c = *p;
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    out += c;
    if (out.size() > 128) return false;
  }
  return true;
}

const char* Text(sqlite3_stmt* stmt, int column) {
  const unsigned char* t = sqlite3_column_text(stmt, column);
  return t != nullptr ? reinterpret_cast<const char*>(t) : "";
}

// The entry of the current row of a statement that selects kEntryColumns.
constexpr const char* kEntryColumns =
    "serial, subject, alt_names, not_before, not_after, path, sha256, profile, der, status, revoked_at, reason, "
    "recorded_at";

KV_REGISTER_ENTRY EntryOfRow(sqlite3_stmt* stmt) {
  KV_REGISTER_ENTRY e{};
  e.serialHex = Text(stmt, 0);
  e.subject = Text(stmt, 1);
  e.altNames = Text(stmt, 2);
  e.notBefore = sqlite3_column_int64(stmt, 3);
  e.notAfter = sqlite3_column_int64(stmt, 4);
  e.path = Text(stmt, 5);
  e.sha256Hex = Text(stmt, 6);
  e.profile = Text(stmt, 7);
  e.der = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 8));
  e.derLength = sqlite3_column_bytes(stmt, 8);
  e.status = sqlite3_column_int(stmt, 9);
  e.revokedAt = sqlite3_column_int64(stmt, 10);
  e.reason = sqlite3_column_int(stmt, 11);
  e.recordedAt = sqlite3_column_int64(stmt, 12);
  return e;
}

// Makes the database file with mode 0600 when it is not there, so SQLite
// (which keeps an existing file's mode, and gives its journal and log files
// the same) never creates it readable by others. Refuses anything but a
// regular file in its place.
bool PrepareFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST;
  const bool ok = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

struct KV_REGISTER {
  sqlite3* db = nullptr;
};

namespace {

int Exec(KV_REGISTER* reg, const char* sql, int otherwise) {
  const int rc = sqlite3_exec(reg->db, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? 0 : CodeFor(rc, otherwise);
}

// Runs |work| inside BEGIN IMMEDIATE ... COMMIT; rolls back on failure.
template <class Work>
int InTransaction(KV_REGISTER* reg, Work&& work) {
  int status = Exec(reg, "BEGIN IMMEDIATE", KV_REG_WRITE_FAILED);
  if (status != 0) return status;
  status = work();
  if (status == 0) status = Exec(reg, "COMMIT", KV_REG_WRITE_FAILED);
  if (status != 0) sqlite3_exec(reg->db, "ROLLBACK", nullptr, nullptr, nullptr);
  return status;
}

int Prepare(KV_REGISTER* reg, const char* sql, Statement& s) {
  const int rc = sqlite3_prepare_v2(reg->db, sql, -1, &s.stmt, nullptr);
  return rc == SQLITE_OK ? 0 : CodeFor(rc, KV_REG_DAMAGED);
}

// The register's PRAGMA user_version in |*version|. 0 or a status.
int ReadVersion(KV_REGISTER* reg, int* version) {
  Statement s;
  const int status = Prepare(reg, "PRAGMA user_version", s);
  if (status != 0) return status;
  const int rc = sqlite3_step(s.stmt);
  if (rc != SQLITE_ROW) return CodeFor(rc, KV_REG_DAMAGED);
  *version = sqlite3_column_int(s.stmt, 0);
  return 0;
}

int Migrate(KV_REGISTER* reg) {
  // An up-to-date register is only read here, so one that cannot be written
  // (a read-only file or directory) still opens for reading; its writes then
  // fail with 19704.
  int current = 0;
  const int read = ReadVersion(reg, &current);
  if (read != 0) return read;
  if (current == KV_REG_SCHEMA_VERSION) return 0;
  return InTransaction(reg, [&]() {
    Statement version;
    int status = Prepare(reg, "PRAGMA user_version", version);
    if (status != 0) return status;
    const int rc = sqlite3_step(version.stmt);
    if (rc != SQLITE_ROW) return CodeFor(rc, KV_REG_DAMAGED);
    const int have = sqlite3_column_int(version.stmt, 0);
    if (have > KV_REG_SCHEMA_VERSION) return KV_REG_NEWER_SCHEMA;
    if (have < 0) return KV_REG_DAMAGED;
    for (int v = have; v < KV_REG_SCHEMA_VERSION && status == 0; ++v) {
      status = Exec(reg, kMigrations[v], KV_REG_WRITE_FAILED);
    }
    if (status == 0 && have != KV_REG_SCHEMA_VERSION) {
      const std::string set = "PRAGMA user_version = " + std::to_string(KV_REG_SCHEMA_VERSION);
      status = Exec(reg, set.c_str(), KV_REG_WRITE_FAILED);
    }
    return status;
  });
}

int Walk(sqlite3_stmt* stmt, int (*visit)(const KV_REGISTER_ENTRY*, void*), void* context, int* rows) {
  *rows = 0;
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) return 0;
    if (rc != SQLITE_ROW) return CodeFor(rc, KV_REG_DAMAGED);
    ++*rows;
    const KV_REGISTER_ENTRY entry = EntryOfRow(stmt);
    const int answer = visit(&entry, context);
    if (answer != 0) return answer;
  }
}

}  // namespace

int errKVRegisterPath(const char* rootCertPath, char* out, int capacity) {
  if (rootCertPath == nullptr || out == nullptr || capacity <= 0) return KV_REG_BAD_ARGUMENT;
  const std::string path = kvplatform::PathWithExtension(rootCertPath, kExtension);
  if (path.size() + 1 > static_cast<size_t>(capacity)) return KV_REG_BAD_ARGUMENT;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return 0;
}

int errKVRegisterOpen(const char* rootCertPath, KV_REGISTER** reg) {
  KV_TRACE("errKVRegisterOpen(): ENTER");
  if (reg == nullptr) return KV_REG_BAD_ARGUMENT;
  *reg = nullptr;
  if (rootCertPath == nullptr || rootCertPath[0] == 0) return KV_REG_BAD_ARGUMENT;
  const std::string path = kvplatform::PathWithExtension(rootCertPath, kExtension);
  if (!PrepareFile(path)) {
    KV_TRACE("errKVRegisterOpen(): Error: cannot make the file");
    return KV_REG_CANNOT_OPEN;
  }
  auto* made = new (std::nothrow) KV_REGISTER;
  if (made == nullptr) return KV_REG_CANNOT_OPEN;
  // KVCATOOL_TEST_REGISTER_READONLY=1 opens the register read-only: the
  // tests' stand-in for a file that cannot be written, since they run as
  // root, whom file modes do not stop.
  const char* readOnly = std::getenv("KVCATOOL_TEST_REGISTER_READONLY");
  const int access = readOnly != nullptr && std::strcmp(readOnly, "1") == 0 ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  int rc = sqlite3_open_v2(path.c_str(), &made->db, access | SQLITE_OPEN_NOFOLLOW, nullptr);
  int status = rc == SQLITE_OK ? 0 : CodeFor(rc, KV_REG_CANNOT_OPEN);
  if (status == 0) {
    sqlite3_busy_timeout(made->db, kDefaultBusyMilliseconds);
    sqlite3_extended_result_codes(made->db, 1);
    // WAL needs a write the first time; a read-only file still opens.
    status = Exec(made, "PRAGMA journal_mode = WAL", KV_REG_DAMAGED);
    if (status == KV_REG_WRITE_FAILED) status = 0;
  }
  if (status == 0) status = Exec(made, "PRAGMA synchronous = FULL", KV_REG_DAMAGED);
  if (status == 0) status = Migrate(made);
  if (status == 0) {
    // A damaged page would otherwise surface in the middle of a command.
    Statement check;
    status = Prepare(made, "PRAGMA quick_check", check);
    if (status == 0) {
      rc = sqlite3_step(check.stmt);
      if (rc != SQLITE_ROW) {
        status = CodeFor(rc, KV_REG_DAMAGED);
      } else if (std::strcmp(Text(check.stmt, 0), "ok") != 0) {
        status = KV_REG_DAMAGED;
      }
    }
  }
  if (status != 0) {
    KV_TRACE("errKVRegisterOpen(): Error [%d]", status);
    vKVRegisterClose(&made);
    return status;
  }
  *reg = made;
  KV_TRACE("errKVRegisterOpen(): EXIT");
  return 0;
}

void vKVRegisterClose(KV_REGISTER** reg) {
  if (reg == nullptr || *reg == nullptr) return;
  sqlite3_close_v2((*reg)->db);
  delete *reg;
  *reg = nullptr;
}

void vKVRegisterSetBusyTimeout(KV_REGISTER* reg, int milliseconds) {
  if (reg != nullptr) sqlite3_busy_timeout(reg->db, milliseconds < 0 ? 0 : milliseconds);
}

int errKVRegisterAdd(KV_REGISTER* reg, const KV_REGISTER_ENTRY* e) {
  KV_TRACE("errKVRegisterAdd(): ENTER");
  std::string serial;
  if (reg == nullptr || e == nullptr || !NormaliseSerial(e->serialHex, serial) || e->subject == nullptr ||
      e->path == nullptr || e->sha256Hex == nullptr || e->profile == nullptr || e->der == nullptr ||
      e->derLength <= 0) {
    return KV_REG_BAD_ARGUMENT;
  }
  const int status = InTransaction(reg, [&]() {
    Statement s;
    int st = Prepare(reg,
                     "INSERT INTO issued (serial, subject, alt_names, not_before, not_after, path, sha256, profile, "
                     "der, status, recorded_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, 0, ?10)",
                     s);
    if (st != 0) return st;
    sqlite3_bind_text(s.stmt, 1, serial.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.stmt, 2, e->subject, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.stmt, 3, e->altNames != nullptr ? e->altNames : "", -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.stmt, 4, e->notBefore);
    sqlite3_bind_int64(s.stmt, 5, e->notAfter);
    sqlite3_bind_text(s.stmt, 6, e->path, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.stmt, 7, e->sha256Hex, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.stmt, 8, e->profile, -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(s.stmt, 9, e->der, e->derLength, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.stmt, 10, e->recordedAt);
    const int rc = sqlite3_step(s.stmt);
    return rc == SQLITE_DONE ? 0 : CodeFor(rc, KV_REG_WRITE_FAILED);
  });
  if (status != 0) KV_TRACE("errKVRegisterAdd(): Error [%d]", status);
  KV_TRACE("errKVRegisterAdd(): EXIT");
  return status;
}

int errKVRegisterList(KV_REGISTER* reg, int64_t notAfterBefore, int onlyRevoked,
                      int (*visit)(const KV_REGISTER_ENTRY* entry, void* context), void* context) {
  if (reg == nullptr || visit == nullptr) return KV_REG_BAD_ARGUMENT;
  const std::string sql = std::string("SELECT ") + kEntryColumns +
                          " FROM issued WHERE (?1 < 0 OR not_after < ?1) AND (?2 = 0 OR status = 1)"
                          " ORDER BY not_after, serial";
  Statement s;
  int status = Prepare(reg, sql.c_str(), s);
  if (status != 0) return status;
  sqlite3_bind_int64(s.stmt, 1, notAfterBefore);
  sqlite3_bind_int(s.stmt, 2, onlyRevoked != 0 ? 1 : 0);
  int rows = 0;
  return Walk(s.stmt, visit, context, &rows);
}

int errKVRegisterFind(KV_REGISTER* reg, const char* serialHex,
                      int (*visit)(const KV_REGISTER_ENTRY* entry, void* context), void* context) {
  std::string serial;
  if (reg == nullptr || visit == nullptr || !NormaliseSerial(serialHex, serial)) return KV_REG_BAD_ARGUMENT;
  const std::string sql = std::string("SELECT ") + kEntryColumns + " FROM issued WHERE serial = ?1";
  Statement s;
  int status = Prepare(reg, sql.c_str(), s);
  if (status != 0) return status;
  sqlite3_bind_text(s.stmt, 1, serial.c_str(), -1, SQLITE_TRANSIENT);
  int rows = 0;
  status = Walk(s.stmt, visit, context, &rows);
  return status == 0 && rows == 0 ? KV_REG_NOT_FOUND : status;
}

int errKVRegisterRevoke(KV_REGISTER* reg, const char* serialHex, int reason, int64_t when) {
  KV_TRACE("errKVRegisterRevoke(): ENTER");
  std::string serial;
  // RFC 5280 5.3.1: reason codes 0 to 10, 7 unused.
  if (reg == nullptr || !NormaliseSerial(serialHex, serial) || reason < 0 || reason > 10 || reason == 7) {
    return KV_REG_BAD_ARGUMENT;
  }
  const int status = InTransaction(reg, [&]() {
    Statement find;
    int st = Prepare(reg, "SELECT status FROM issued WHERE serial = ?1", find);
    if (st != 0) return st;
    sqlite3_bind_text(find.stmt, 1, serial.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(find.stmt);
    if (rc == SQLITE_DONE) return KV_REG_NOT_FOUND;
    if (rc != SQLITE_ROW) return CodeFor(rc, KV_REG_DAMAGED);
    if (sqlite3_column_int(find.stmt, 0) == KV_REG_STATUS_REVOKED) return KV_REG_ALREADY_REVOKED;
    Statement update;
    st = Prepare(reg, "UPDATE issued SET status = 1, revoked_at = ?2, reason = ?3 WHERE serial = ?1", update);
    if (st != 0) return st;
    sqlite3_bind_text(update.stmt, 1, serial.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(update.stmt, 2, when);
    sqlite3_bind_int(update.stmt, 3, reason);
    rc = sqlite3_step(update.stmt);
    return rc == SQLITE_DONE ? 0 : CodeFor(rc, KV_REG_WRITE_FAILED);
  });
  KV_TRACE("errKVRegisterRevoke(): EXIT [%d]", status);
  return status;
}

int errKVRegisterCountExpiry(KV_REGISTER* reg, int64_t now, int64_t windowSeconds, int* expired,
                             int* expiringSoon) {
  if (reg == nullptr || expired == nullptr || expiringSoon == nullptr || windowSeconds < 0) return KV_REG_BAD_ARGUMENT;
  Statement s;
  int status = Prepare(reg,
                       "SELECT COALESCE(SUM(not_after < ?1), 0), COALESCE(SUM(not_after >= ?1 AND not_after < ?2), 0)"
                       " FROM issued WHERE status = 0",
                       s);
  if (status != 0) return status;
  sqlite3_bind_int64(s.stmt, 1, now);
  sqlite3_bind_int64(s.stmt, 2, now + windowSeconds);
  const int rc = sqlite3_step(s.stmt);
  if (rc != SQLITE_ROW) return CodeFor(rc, KV_REG_DAMAGED);
  *expired = sqlite3_column_int(s.stmt, 0);
  *expiringSoon = sqlite3_column_int(s.stmt, 1);
  return 0;
}

int errKVRegisterNextCrlNumber(KV_REGISTER* reg, int64_t now, int64_t* number) {
  if (reg == nullptr || number == nullptr) return KV_REG_BAD_ARGUMENT;
  return InTransaction(reg, [&]() {
    Statement s;
    int st = Prepare(reg, "INSERT INTO crl (number, issued_at) SELECT COALESCE(MAX(number), 0) + 1, ?1 FROM crl"
                          " RETURNING number",
                     s);
    if (st != 0) return st;
    sqlite3_bind_int64(s.stmt, 1, now);
    const int rc = sqlite3_step(s.stmt);
    if (rc != SQLITE_ROW) return CodeFor(rc, KV_REG_WRITE_FAILED);
    *number = sqlite3_column_int64(s.stmt, 0);
    return sqlite3_step(s.stmt) == SQLITE_DONE ? 0 : KV_REG_WRITE_FAILED;
  });
}
