// The register as the commands see it: entries copied out whole, the state
// of an entry at the 30-day edge, reason names both ways, and texts that
// name the database.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/root_register.h"

namespace {

namespace fs = std::filesystem;
using kvapp::IssuedEntry;
using kvapp::IssuedState;

TEST(RootRegisterTest, ReasonNamesRoundTrip) {
  for (int code = 0; code <= 10; ++code) {
    if (code == 7) {
      EXPECT_EQ(kvapp::ReasonName(7), "");
      continue;
    }
    EXPECT_EQ(kvapp::ReasonCode(kvapp::ReasonName(code)), code) << code;
  }
  struct Case {
    const char* name;
    int code;
  };
  for (const Case& c : {Case{"KEYCOMPROMISE", 1}, Case{"superseded", 4}, Case{"", -1}, Case{"keyCompromis", -1},
                        Case{"keyCompromisee", -1}, Case{"7", -1}}) {
    EXPECT_EQ(kvapp::ReasonCode(c.name), c.code) << c.name;
  }
  EXPECT_EQ(kvapp::ReasonName(-1), "");
  EXPECT_EQ(kvapp::ReasonName(11), "");
}

TEST(RootRegisterTest, StateAtTheEdges) {
  const int64_t now = 2000000000;
  struct Case {
    int64_t notAfter;
    bool revoked;
    IssuedState state;
  };
  const Case cases[] = {
      {now - 1, false, IssuedState::kExpired},
      {now, false, IssuedState::kExpiringSoon},
      {now + kvapp::kExpiringSoonSeconds - 1, false, IssuedState::kExpiringSoon},
      {now + kvapp::kExpiringSoonSeconds, false, IssuedState::kValid},
      {now - 1, true, IssuedState::kRevoked},
  };
  for (const Case& c : cases) {
    IssuedEntry e;
    e.notAfter = c.notAfter;
    e.revoked = c.revoked;
    EXPECT_EQ(kvapp::StateOf(e, now), c.state) << c.notAfter - now;
  }
}

TEST(RootRegisterTest, ListCopiesEntriesAndCountsAgreeWithStates) {
  const fs::path dir = fs::temp_directory_path() / ("kvrootreg-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string root = (dir / "root.crt").string();
  KV_REGISTER* reg = nullptr;
  ASSERT_EQ(errKVRegisterOpen(root.c_str(), &reg), 0);
  const int64_t now = 1900000000;
  const unsigned char der[] = {0x30, 0x00};
  struct Row {
    const char* serial;
    int64_t notAfter;
  };
  for (const Row& r : {Row{"0A", now + 400 * 86400LL}, Row{"0B", now - 5}, Row{"0C", now + 86400}}) {
    KV_REGISTER_ENTRY e{};
    e.serialHex = r.serial;
    e.subject = "CN=web";
    e.altNames = "a.example\nb.example";
    e.notBefore = now - 1000;
    e.notAfter = r.notAfter;
    e.path = "/srv/web.crt";
    e.sha256Hex = "AB";
    e.profile = "modern";
    e.der = der;
    e.derLength = sizeof der;
    e.recordedAt = now;
    ASSERT_EQ(errKVRegisterAdd(reg, &e), 0);
  }
  std::vector<IssuedEntry> all;
  ASSERT_EQ(kvapp::ListIssued(reg, -1, false, all), 0);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].serialHex, "0B");  // soonest expiry first
  EXPECT_EQ(all[1].serialHex, "0C");
  EXPECT_EQ(all[0].altNames, (std::vector<std::string>{"a.example", "b.example"}));
  EXPECT_EQ(all[0].der, (std::vector<unsigned char>{0x30, 0x00}));
  EXPECT_EQ(kvapp::StateOf(all[0], now), IssuedState::kExpired);
  EXPECT_EQ(kvapp::StateOf(all[1], now), IssuedState::kExpiringSoon);
  EXPECT_EQ(kvapp::StateOf(all[2], now), IssuedState::kValid);
  std::string line;
  ASSERT_TRUE(kvapp::ExpiryLine(reg, now, line));
  EXPECT_EQ(line, "Issued certificates: 1 expired, 1 expire within 30 days.");

  ASSERT_EQ(errKVRegisterRevoke(reg, "0c", 1, now), 0);
  IssuedEntry found;
  ASSERT_EQ(kvapp::FindIssued(reg, "0C", found), 0);
  EXPECT_TRUE(found.revoked);
  EXPECT_EQ(kvapp::ReasonName(found.reason), "keyCompromise");
  EXPECT_EQ(kvapp::FindIssued(reg, "0D", found), KV_REG_NOT_FOUND);
  vKVRegisterClose(&reg);
  fs::remove_all(dir);
}

TEST(RootRegisterTest, ErrorTextsNameTheDatabase) {
  for (int rc : {KV_REG_CANNOT_OPEN, KV_REG_NEWER_SCHEMA, KV_REG_BUSY, KV_REG_WRITE_FAILED, KV_REG_DUPLICATE,
                 KV_REG_NOT_FOUND, KV_REG_DAMAGED, KV_REG_ALREADY_REVOKED, 19001}) {
    const std::string text = kvapp::RegisterErrorText(rc, "/r/root%d.db");
    EXPECT_NE(text.find("/r/root%d.db"), std::string::npos) << rc;
  }
}

}  // namespace
