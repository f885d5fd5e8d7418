// The issued-certificate register of a root as the commands use it: opened
// for one command and closed with it, its entries copied out as values, and
// the register's status codes turned into texts that name the database.
#ifndef KVCATOOL_APP_ROOT_REGISTER_H
#define KVCATOOL_APP_ROOT_REGISTER_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/context.h"
#include "services/kvservices.h"

namespace kvapp {

// Seconds in the window of "expiring soon" (30 days).
constexpr int64_t kExpiringSoonSeconds = 30LL * 24 * 60 * 60;

// The register of one root, closed when the object goes.
class RootRegister {
 public:
  explicit RootRegister(AppContext& context) : context_(context) {}
  ~RootRegister() { Close(); }
  RootRegister(const RootRegister&) = delete;
  RootRegister& operator=(const RootRegister&) = delete;

  // Opens (creating it when absent) the register of the root certificate
  // |rootCertPath|, then offers to record the certificates a stopped or
  // failed command wrote and did not record (OfferPendingRecords). 0, or
  // the register's status after an error box that names the database and
  // says what is wrong.
  int Open(const std::string& rootCertPath);
  // Opens as Open does but shows and offers nothing: the caller reports the
  // status. KVCATOOL_REGISTER_BUSY_MS, when set, is the busy timeout in
  // milliseconds (tests make it short).
  int OpenQuietly(const std::string& rootCertPath);
  // True when the last Open made the database because it was not there.
  bool created() const { return created_; }
  void Close() { vKVRegisterClose(&register_); }

  // The open register (null before a successful Open); the object keeps it.
  KV_REGISTER* get() const { return register_; }
  // The database file of the last Open, opened or not.
  const std::string& databasePath() const { return databasePath_; }

 private:
  AppContext& context_;
  KV_REGISTER* register_ = nullptr;
  std::string databasePath_;
  bool created_ = false;
};

// A text for register status |rc| (190xx or 197xx) concerning the database
// |databasePath|, e.g. "The register /r/root.db is locked by another
// program." Never empty.
std::string RegisterErrorText(int rc, const std::string& databasePath);

// One recorded certificate, copied out of the register.
struct IssuedEntry {
  std::string serialHex;
  std::string subject;
  std::vector<std::string> altNames;
  int64_t notBefore = 0;
  int64_t notAfter = 0;
  std::string path;
  std::string sha256Hex;
  std::string profile;
  std::vector<unsigned char> der;
  bool revoked = false;
  int64_t revokedAt = 0;
  int reason = 0;
  int64_t recordedAt = 0;
};

// The certificates of |reg| soonest expiry first, as errKVRegisterList
// selects them (|notAfterBefore| below 0: no expiry bound), appended to
// |entries|. 0 or the register's status.
int ListIssued(KV_REGISTER* reg, int64_t notAfterBefore, bool onlyRevoked, std::vector<IssuedEntry>& entries);
// The certificate of serial number |serialHex| in |entry|. 0, 19706 when it
// is not recorded, or the register's status.
int FindIssued(KV_REGISTER* reg, const std::string& serialHex, IssuedEntry& entry);

// How an entry stands at |now|: revoked, expired, expiring within 30 days
// or valid.
enum class IssuedState { kValid, kExpiringSoon, kExpired, kRevoked };
IssuedState StateOf(const IssuedEntry& entry, int64_t now);

// The RFC 5280 CRLReason names (unspecified, keyCompromise, cACompromise,
// affiliationChanged, superseded, cessationOfOperation, certificateHold,
// removeFromCRL, privilegeWithdrawn, aACompromise) by code: the name, or
// "" for 7 and codes outside 0..10.
std::string ReasonName(int code);
// The code of reason |name| (exact name, case ignored), or -1.
int ReasonCode(const std::string& name);

// The line for expiry at a glance: "Issued certificates: N expired, M
// expire within 30 days." counted in |reg| at |now|; false (and |line|
// untouched) when the register cannot be read.
bool ExpiryLine(KV_REGISTER* reg, int64_t now, std::string& line);

}  // namespace kvapp

#endif
