#include "app/root_register.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "app/issue_record.h"

namespace kvapp {
namespace {

// Room for a database path: the root's path with ".db" for its extension.
constexpr int kPathCapacity = 4096;

std::string DatabasePathFor(const std::string& rootCertPath) {
  std::string out(kPathCapacity, '\0');
  if (errKVRegisterPath(rootCertPath.c_str(), out.data(), kPathCapacity) != 0) return rootCertPath + ".db";
  out.resize(out.find('\0'));
  return out;
}

std::vector<std::string> SplitLines(const char* text) {
  std::vector<std::string> lines;
  std::string line;
  for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
    if (*p == '\n') {
      if (!line.empty()) lines.push_back(std::move(line));
      line.clear();
    } else {
      line += *p;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

IssuedEntry CopyEntry(const KV_REGISTER_ENTRY& in) {
  IssuedEntry out;
  out.serialHex = in.serialHex != nullptr ? in.serialHex : "";
  out.subject = in.subject != nullptr ? in.subject : "";
  out.altNames = SplitLines(in.altNames);
  out.notBefore = in.notBefore;
  out.notAfter = in.notAfter;
  out.path = in.path != nullptr ? in.path : "";
  out.sha256Hex = in.sha256Hex != nullptr ? in.sha256Hex : "";
  out.profile = in.profile != nullptr ? in.profile : "";
  if (in.der != nullptr && in.derLength > 0) out.der.assign(in.der, in.der + in.derLength);
  out.revoked = in.status == KV_REG_STATUS_REVOKED;
  out.revokedAt = out.revoked ? in.revokedAt : 0;
  out.reason = out.revoked ? in.reason : 0;
  out.recordedAt = in.recordedAt;
  return out;
}

int AppendEntry(const KV_REGISTER_ENTRY* entry, void* context) {
  static_cast<std::vector<IssuedEntry>*>(context)->push_back(CopyEntry(*entry));
  return 0;
}

int TakeEntry(const KV_REGISTER_ENTRY* entry, void* context) {
  *static_cast<IssuedEntry*>(context) = CopyEntry(*entry);
  return 0;
}

// Reason names by RFC 5280 CRLReason code; 7 is not used.
constexpr const char* kReasonNames[] = {
    "unspecified",          // 0
    "keyCompromise",        // 1
    "cACompromise",         // 2
    "affiliationChanged",   // 3
    "superseded",           // 4
    "cessationOfOperation", // 5
    "certificateHold",      // 6
    "",                     // 7
    "removeFromCRL",        // 8
    "privilegeWithdrawn",   // 9
    "aACompromise",         // 10
};
constexpr int kReasonCount = static_cast<int>(sizeof kReasonNames / sizeof kReasonNames[0]);

bool EqualNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

int RootRegister::OpenQuietly(const std::string& rootCertPath) {
  Close();
  databasePath_ = DatabasePathFor(rootCertPath);
  struct stat st;
  created_ = ::lstat(databasePath_.c_str(), &st) != 0 && errno == ENOENT;
  const int rc = errKVRegisterOpen(rootCertPath.c_str(), &register_);
  if (rc != 0) created_ = false;
  const char* busy = std::getenv("KVCATOOL_REGISTER_BUSY_MS");
  if (rc == 0 && busy != nullptr) {
    char* end = nullptr;
    const long ms = std::strtol(busy, &end, 10);
    if (end != busy && *end == '\0' && ms >= 0 && ms <= 600000) vKVRegisterSetBusyTimeout(register_, static_cast<int>(ms));
  }
  return rc;
}

int RootRegister::Open(const std::string& rootCertPath) {
  const int rc = OpenQuietly(rootCertPath);
  if (rc != 0) {
    context_.Error(RegisterErrorText(rc, databasePath_));
  } else {
    OfferPendingRecords(context_, register_, rootCertPath, databasePath_);
  }
  return rc;
}

std::string RegisterErrorText(int rc, const std::string& databasePath) {
  const std::string db = "The register " + databasePath;
  switch (rc) {
    case KV_REG_CANNOT_OPEN: return db + " cannot be opened or created (check that its directory can be written).";
    case KV_REG_NEWER_SCHEMA: return db + " was made by a newer version of this program; it is left as it is.";
    case KV_REG_BUSY: return db + " is locked by another program; try again when it has finished.";
    case KV_REG_WRITE_FAILED: return db + " cannot be written (read-only file or directory, or a full disk).";
    case KV_REG_DUPLICATE: return db + " holds a certificate with that serial number already.";
    case KV_REG_NOT_FOUND: return db + " holds no certificate with that serial number.";
    case KV_REG_DAMAGED: return db + " is damaged or is not a register; it is left as it is.";
    case KV_REG_ALREADY_REVOKED: return "That certificate is revoked already (" + databasePath + ").";
    default: return db + " cannot be used (error " + std::to_string(rc) + ").";
  }
}

int ListIssued(KV_REGISTER* reg, int64_t notAfterBefore, bool onlyRevoked, std::vector<IssuedEntry>& entries) {
  return errKVRegisterList(reg, notAfterBefore, onlyRevoked ? 1 : 0, AppendEntry, &entries);
}

int FindIssued(KV_REGISTER* reg, const std::string& serialHex, IssuedEntry& entry) {
  return errKVRegisterFind(reg, serialHex.c_str(), TakeEntry, &entry);
}

IssuedState StateOf(const IssuedEntry& entry, int64_t now) {
  if (entry.revoked) return IssuedState::kRevoked;
  if (entry.notAfter < now) return IssuedState::kExpired;
  if (entry.notAfter - now < kExpiringSoonSeconds) return IssuedState::kExpiringSoon;
  return IssuedState::kValid;
}

std::string ReasonName(int code) {
  if (code < 0 || code >= kReasonCount) return "";
  return kReasonNames[code];
}

int ReasonCode(const std::string& name) {
  if (name.empty()) return -1;
  for (int code = 0; code < kReasonCount; ++code) {
    if (EqualNoCase(name, kReasonNames[code])) return code;
  }
  return -1;
}

bool ExpiryLine(KV_REGISTER* reg, int64_t now, std::string& line) {
  int expired = 0, soon = 0;
  if (errKVRegisterCountExpiry(reg, now, kExpiringSoonSeconds, &expired, &soon) != 0) return false;
  line = "Issued certificates: " + std::to_string(expired) + " expired, " + std::to_string(soon) +
         " expire within 30 days.";
  return true;
}

}  // namespace kvapp
