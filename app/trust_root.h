// Trusting the current root on this machine: its certificate installed in
// the system's store of trusted roots (and taken out again), so that the
// programs that read that store accept the server certificates it issues.
#ifndef KVCATOOL_APP_TRUST_ROOT_H
#define KVCATOOL_APP_TRUST_ROOT_H

#include <cstddef>
#include <string>

#include "app/context.h"
#include "app/main_dialog.h"
#include "platform/trust_store.h"

namespace kvapp {

// The anchor file name for the root certificate file |rootCertPath|:
// "kvcatool-", the file's name without its extension (letters, digits, ".",
// "-" and "_" kept, every other byte "_", at most 64 of them; "root" when
// nothing is left), then ".crt".
std::string TrustAnchorName(const std::string& rootCertPath);

// Installs the root certificate |rootCertPath| (the current root) in
// |store| as PEM under TrustAnchorName and runs the store's refresh, saying
// what was done. A root of the classic profile is refused with the reasons
// clients refuse it; so is an anchor of that name holding another
// certificate, and a non-empty |nssDirectory| (NSS stores cannot be written
// by this program). An anchor that already holds this root is kept (or
// written again as PEM when it holds it in another form) and the refresh
// runs again. kSucceeded, or kFailed after an error message.
CommandOutcome TrustRoot(const AppContext& context, kvplatform::SystemTrustStore& store,
                         const std::string& rootCertPath, const std::string& nssDirectory);

// Removes the anchor TrustRoot wrote for |rootCertPath|, only when it holds
// that very certificate and nothing else, and runs the refresh. With no such
// anchor nothing is changed and it says so (kSucceeded). A non-empty
// |nssDirectory| is refused as in TrustRoot. kSucceeded, or kFailed after an
// error message.
CommandOutcome UntrustRoot(const AppContext& context, kvplatform::SystemTrustStore& store,
                           const std::string& rootCertPath, const std::string& nssDirectory);

}  // namespace kvapp

#endif
