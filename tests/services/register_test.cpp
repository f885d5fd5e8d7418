// The issued-certificate register: records, uniqueness of serial numbers,
// listing and expiry, revocation, CRL numbers, the file's mode, schema
// versions, and faults (a locked, read-only, damaged or newer register, two
// processes recording at once).
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/kvservices.h"

namespace {

namespace fs = std::filesystem;

class RegisterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kvreg-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    root_ = (dir_ / "kvroot.crt").string();
    db_ = (dir_ / "kvroot.db").string();
  }
  void TearDown() override {
    vKVRegisterClose(&reg_);
    fs::remove_all(dir_);
  }
  int Open() { return errKVRegisterOpen(root_.c_str(), &reg_); }

  // An entry with serial |serial| ending its validity at |notAfter|.
  int Add(const std::string& serial, int64_t notAfter, KV_REGISTER* reg = nullptr) {
    const std::string der = "DER of " + serial;
    KV_REGISTER_ENTRY e{};
    e.serialHex = serial.c_str();
    e.subject = "CN=web";
    e.altNames = "web.example\nwww.example";
    e.notBefore = notAfter - 1000;
    e.notAfter = notAfter;
    e.path = "/srv/web.crt";
    e.sha256Hex = "AB";
    e.profile = "modern";
    e.der = reinterpret_cast<const unsigned char*>(der.data());
    e.derLength = static_cast<int>(der.size());
    e.recordedAt = 5;
    return errKVRegisterAdd(reg != nullptr ? reg : reg_, &e);
  }

  std::vector<std::string> Serials(int64_t before = -1, int onlyRevoked = 0) {
    std::vector<std::string> out;
    EXPECT_EQ(errKVRegisterList(
                  reg_, before, onlyRevoked,
                  [](const KV_REGISTER_ENTRY* e, void* ctx) {
                    static_cast<std::vector<std::string>*>(ctx)->push_back(e->serialHex);
                    return 0;
                  },
                  &out),
              0);
    return out;
  }

  fs::path dir_;
  std::string root_, db_;
  KV_REGISTER* reg_ = nullptr;
};

TEST_F(RegisterTest, MadeBesideTheRootWithMode0600WhateverTheUmask) {
  const mode_t old = ::umask(0);
  const int status = Open();
  ::umask(old);
  ASSERT_EQ(status, 0);
  char path[512];
  ASSERT_EQ(errKVRegisterPath(root_.c_str(), path, sizeof path), 0);
  EXPECT_EQ(std::string(path), db_);
  struct stat st;
  ASSERT_EQ(::stat(db_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(Add("01", 100), 0);
  // The write-ahead log takes the database's mode.
  if (::stat((db_ + "-wal").c_str(), &st) == 0) {
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

TEST_F(RegisterTest, RecordsAreKeptWholeAndASerialOnlyOnce) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Add("0A1B", 300), 0);
  EXPECT_EQ(Add("0a1b", 900), KV_REG_DUPLICATE);  // the same serial in lower case
  ASSERT_EQ(Add("02", 200), 0);
  vKVRegisterClose(&reg_);
  ASSERT_EQ(Open(), 0);  // what was committed is there after reopening
  EXPECT_EQ(Serials(), (std::vector<std::string>{"02", "0A1B"}));  // soonest expiry first
  struct Seen {
    std::string subject, alt, der, profile;
    int64_t notAfter = 0;
  } seen;
  ASSERT_EQ(errKVRegisterFind(
                reg_, "0a1b",
                [](const KV_REGISTER_ENTRY* e, void* ctx) {
                  auto* s = static_cast<Seen*>(ctx);
                  s->subject = e->subject;
                  s->alt = e->altNames;
                  s->der.assign(reinterpret_cast<const char*>(e->der), static_cast<size_t>(e->derLength));
                  s->profile = e->profile;
                  s->notAfter = e->notAfter;
                  return 0;
                },
                &seen),
            0);
  EXPECT_EQ(seen.subject, "CN=web");
  EXPECT_EQ(seen.alt, "web.example\nwww.example");
  EXPECT_EQ(seen.der, "DER of 0A1B");
  EXPECT_EQ(seen.profile, "modern");
  EXPECT_EQ(seen.notAfter, 300);
  EXPECT_EQ(errKVRegisterFind(reg_, "FF", [](const KV_REGISTER_ENTRY*, void*) { return 0; }, nullptr),
            KV_REG_NOT_FOUND);
}

TEST_F(RegisterTest, BadArgumentsAreRefused) {
  ASSERT_EQ(Open(), 0);
  struct Row {
    const char* serial;
    int status;
  };
  for (const Row& r : {Row{"", KV_REG_BAD_ARGUMENT}, Row{"0G", KV_REG_BAD_ARGUMENT}, Row{"12 34", KV_REG_BAD_ARGUMENT},
                       Row{"00ff", 0}}) {
    SCOPED_TRACE(r.serial);
    EXPECT_EQ(Add(r.serial, 1), r.status);
  }
  EXPECT_EQ(errKVRegisterRevoke(reg_, "00FF", 7, 1), KV_REG_BAD_ARGUMENT);   // reason 7 is unused
  EXPECT_EQ(errKVRegisterRevoke(reg_, "00FF", 11, 1), KV_REG_BAD_ARGUMENT);
  KV_REGISTER* none = nullptr;
  EXPECT_EQ(errKVRegisterOpen(nullptr, &none), KV_REG_BAD_ARGUMENT);
  EXPECT_EQ(errKVRegisterAdd(reg_, nullptr), KV_REG_BAD_ARGUMENT);
}

TEST_F(RegisterTest, ExpiryRevocationAndCrlNumbers) {
  ASSERT_EQ(Open(), 0);
  const int64_t now = 1'000'000, day = 86400;
  ASSERT_EQ(Add("01", now - 10), 0);           // expired
  ASSERT_EQ(Add("02", now + 10 * day), 0);     // within 30 days
  ASSERT_EQ(Add("03", now + 29 * day), 0);     // within 30 days
  ASSERT_EQ(Add("04", now + 400 * day), 0);
  int expired = -1, soon = -1;
  ASSERT_EQ(errKVRegisterCountExpiry(reg_, now, 30 * day, &expired, &soon), 0);
  EXPECT_EQ(expired, 1);
  EXPECT_EQ(soon, 2);
  EXPECT_EQ(Serials(now + 30 * day), (std::vector<std::string>{"01", "02", "03"}));

  ASSERT_EQ(errKVRegisterRevoke(reg_, "03", 1 /* keyCompromise */, now), 0);
  EXPECT_EQ(errKVRegisterRevoke(reg_, "03", 1, now), KV_REG_ALREADY_REVOKED);
  EXPECT_EQ(errKVRegisterRevoke(reg_, "99", 1, now), KV_REG_NOT_FOUND);
  EXPECT_EQ(Serials(-1, 1), (std::vector<std::string>{"03"}));
  ASSERT_EQ(errKVRegisterCountExpiry(reg_, now, 30 * day, &expired, &soon), 0);
  EXPECT_EQ(soon, 1);  // a revoked certificate no longer counts

  int64_t first = 0, second = 0;
  ASSERT_EQ(errKVRegisterNextCrlNumber(reg_, now, &first), 0);
  vKVRegisterClose(&reg_);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(errKVRegisterNextCrlNumber(reg_, now + 1, &second), 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
}

// Faults: each gives its own code and leaves what was recorded as it was.
TEST_F(RegisterTest, LockedReadOnlyDamagedAndNewerRegisters) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Add("01", 100), 0);

  // Another process holds the write lock: the change waits, then gives up.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  vKVRegisterSetBusyTimeout(reg_, 100);
  EXPECT_EQ(Add("02", 200), KV_REG_BUSY);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  EXPECT_EQ(Add("02", 200), 0);  // and succeeds once the lock is gone

  // Made newer by a later program: refused, not downgraded.
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  vKVRegisterClose(&reg_);
  EXPECT_EQ(Open(), KV_REG_NEWER_SCHEMA);
  ASSERT_EQ(sqlite3_open(db_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  // A write the file system refuses (a file-size limit of 0 in a child, as
  // root ignores file modes): recording reports the failed write, the rows
  // stay as they were.
  ASSERT_EQ(Open(), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(Add("03", 300) == KV_REG_WRITE_FAILED ? 0 : 1);
  }
  int child = 0;
  ASSERT_EQ(::waitpid(pid, &child, 0), pid);
  EXPECT_TRUE(WIFEXITED(child) && WEXITSTATUS(child) == 0);
  vKVRegisterClose(&reg_);
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Serials(), (std::vector<std::string>{"01", "02"}));
  vKVRegisterClose(&reg_);

  // Truncated in the middle: a clear code, no crash.
  const auto size = fs::file_size(db_);
  ASSERT_GT(size, 4096u);
  fs::remove(db_ + "-wal");
  fs::remove(db_ + "-shm");
  fs::resize_file(db_, size / 2 + 100);
  const int truncated = Open();
  EXPECT_TRUE(truncated == KV_REG_DAMAGED || truncated == 0) << truncated;
  vKVRegisterClose(&reg_);

  // Not a database at all.
  { std::ofstream(db_, std::ios::trunc) << std::string(5000, 'x'); }
  EXPECT_EQ(Open(), KV_REG_DAMAGED);
  // A directory in its place.
  fs::remove(db_);
  fs::create_directory(db_);
  EXPECT_EQ(Open(), KV_REG_CANNOT_OPEN);
}

// Two processes recording 25 certificates each under one root at the same
// time: 50 rows, every serial once, no error.
TEST_F(RegisterTest, TwoProcessesRecordingAtOnce) {
  ASSERT_EQ(Open(), 0);
  vKVRegisterClose(&reg_);
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      KV_REGISTER* reg = nullptr;
      int failures = errKVRegisterOpen(root_.c_str(), &reg) != 0 ? 1 : 0;
      for (int i = 0; i < 25 && failures == 0; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "%02X%02X", p + 1, i);
        if (Add(serial, 1000 + i, reg) != 0) ++failures;
      }
      vKVRegisterClose(&reg);
      ::_exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Serials().size(), 50u);
}

}  // namespace

namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// A certificate from the openssl command line is recorded with the serial,
// subject, alternative names, dates and fingerprint that openssl itself
// reads from it; a second recording of it is refused.
TEST_F(RegisterTest, CertificateColumnsAgreeWithOpenssl) {
  if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs the openssl command line";
  const std::string d = dir_.string();
  {
    std::ofstream cnf(d + "/req.cnf");
    cnf << "[req]\ndistinguished_name=dn\nstring_mask=nombstr\nx509_extensions=ext\n[dn]\n"
           "[ext]\nsubjectAltName=DNS:web1.example,IP:127.0.0.1,IP:2001:db8::1\n";
  }
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -sha256 -config '" + d + "/req.cnf' -keyout '" +
                         d + "/k.pem' -subj '/C=US/O=Acme/CN=web1' -days 90 -set_serial 0x1F2E3D -outform DER -out '" +
                         d + "/web1.crt' >/dev/null 2>&1")
                            .c_str()),
            0);
  std::ifstream in(d + "/web1.crt", std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(Open(), 0);
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  ASSERT_EQ(errKVRegisterRecordCertificate(reg_, bytes, static_cast<int>(der.size()), (d + "/web1.crt").c_str(),
                                           "modern", 77),
            0);
  EXPECT_EQ(errKVRegisterRecordCertificate(reg_, bytes, static_cast<int>(der.size()), "again", "modern", 78),
            KV_REG_DUPLICATE);
  EXPECT_EQ(errKVRegisterRecordCertificate(reg_, bytes, static_cast<int>(der.size()) - 1, "cut", "modern", 78),
            KV_CERT_BAD_CERTIFICATE);

  struct Seen {
    std::string serial, subject, alt, sha256;
    int64_t notBefore = 0, notAfter = 0, recordedAt = 0;
  } seen;
  ASSERT_EQ(errKVRegisterFind(
                reg_, "1F2E3D",
                [](const KV_REGISTER_ENTRY* e, void* ctx) {
                  auto* s = static_cast<Seen*>(ctx);
                  s->serial = e->serialHex;
                  s->subject = e->subject;
                  s->alt = e->altNames;
                  s->sha256 = e->sha256Hex;
                  s->notBefore = e->notBefore;
                  s->notAfter = e->notAfter;
                  s->recordedAt = e->recordedAt;
                  return 0;
                },
                &seen),
            0);
  const std::string x509 = "openssl x509 -inform DER -noout -in '" + d + "/web1.crt'";
  EXPECT_EQ("serial=" + seen.serial, Output(x509 + " -serial"));
  EXPECT_EQ(seen.subject, "CN=web1, O=Acme, C=US");
  EXPECT_EQ(seen.alt, "web1.example\n127.0.0.1\n2001:db8:0:0:0:0:0:1");
  std::string fingerprint = Output(x509 + " -fingerprint -sha256");
  fingerprint = fingerprint.substr(fingerprint.find('=') + 1);
  fingerprint.erase(std::remove(fingerprint.begin(), fingerprint.end(), ':'), fingerprint.end());
  EXPECT_EQ(seen.sha256, fingerprint);
  EXPECT_EQ(Output("date -u -d \"$(" + x509 + " -enddate | cut -d= -f2)\" +%s"), std::to_string(seen.notAfter));
  EXPECT_EQ(Output("date -u -d \"$(" + x509 + " -startdate | cut -d= -f2)\" +%s"), std::to_string(seen.notBefore));
  EXPECT_EQ(seen.recordedAt, 77);
}

}  // namespace
