// The register's commands: revoking an issued certificate, making a CRL and
// recording certificates issued before the register existed. Each tells the
// user what it did or why it could not, and returns the outcome.
#ifndef KVCATOOL_APP_REGISTER_COMMANDS_H
#define KVCATOOL_APP_REGISTER_COMMANDS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/context.h"
#include "app/main_dialog.h"

namespace kvapp {

// Revokes the certificate of serial number |serialHex| (hexadecimal, either
// case) recorded in the register of |rootCertPath|, for RFC 5280 reason
// |reason|, after asking the user with its subject and serial number.
// kSucceeded, kCancelled when the user answers no, kFailed after a message
// (not recorded, revoked already, register errors).
CommandOutcome RevokeIssued(AppContext& context, const std::string& rootCertPath, const std::string& serialHex,
                            int reason);
// As RevokeIssued for the certificate in the file |certPath| (it must have
// been issued by the root and recorded).
CommandOutcome RevokeIssuedFile(AppContext& context, const std::string& rootCertPath, const std::string& certPath,
                                int reason);

// Writes to |outPath| (atomically; an existing file is refused) a version 2
// CRL of the register of |rootCertPath|, signed with the private key of
// |rootKeyPath| under |rootPassword|: the next CRL number, thisUpdate now,
// nextUpdate |days| later, every revoked serial number with its date and
// reason; DER, or PEM with |pem|. kSucceeded or kFailed after a message.
CommandOutcome MakeCrl(AppContext& context, const std::string& rootCertPath, const std::string& rootKeyPath,
                       const std::string& rootPassword, const std::string& outPath, int days, bool pem);

// What RegisterExisting did: how many certificates it recorded, how many
// were recorded already, and the files it did not take with the reason.
struct RegisterExistingResult {
  int recorded = 0;
  int alreadyRecorded = 0;
  std::vector<std::pair<std::string, std::string>> skipped;  // (path, reason)
};
// Records the certificate files in |directory| whose signature verifies
// under the root |rootCertPath| and that are not recorded yet, and tells the
// user how many it took and which it skipped and why. kSucceeded (also when
// nothing was new) or kFailed when the directory or the register cannot be
// read.
CommandOutcome RegisterExisting(AppContext& context, const std::string& rootCertPath, const std::string& directory,
                                RegisterExistingResult& result);

// The expiry line of the register of |rootCertPath| ("Issued certificates:
// N expired, M expire within 30 days.") counted at |now|, when the root has
// a register: true with |line|. False, saying nothing, when it has none (no
// register is made for the asking), and false after an error box when it
// cannot be read.
bool RegisterExpiryLine(AppContext& context, const std::string& rootCertPath, int64_t now, std::string& line);

}  // namespace kvapp

#endif
