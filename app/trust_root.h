// Trusting the current root on this machine: its certificate installed in
// the system's store of trusted roots (and taken out again), so that the
// programs that read that store accept the server certificates it issues.
// An NSS store (a browser profile's) is made to read that store too, by
// listing the system trust module among its PKCS #11 modules.
#ifndef KVCATOOL_APP_TRUST_ROOT_H
#define KVCATOOL_APP_TRUST_ROOT_H

#include <cstddef>
#include <string>

#include "app/context.h"
#include "app/main_dialog.h"
#include "platform/nss_modules.h"
#include "platform/trust_store.h"

namespace kvapp {

// The anchor file name for the root certificate file |rootCertPath|:
// "kvcatool-", the file's name without its extension (letters, digits, ".",
// "-" and "_" kept, every other byte "_", at most 64 of them; "root" when
// nothing is left), then ".crt".
std::string TrustAnchorName(const std::string& rootCertPath);

// An NSS store to reach: its directory (empty: none) and the system trust
// module to list in it.
struct NssTarget {
  std::string directory;
  kvplatform::TrustModule module;
};

// Installs the root certificate |rootCertPath| (the current root) in
// |store| as PEM under TrustAnchorName and runs the store's refresh, saying
// what was done. A root of the classic profile is refused with the reasons
// clients refuse it, and so is an anchor of that name holding another
// certificate. An anchor that already holds this root is kept (or written
// again as PEM when it holds it in another form) and the refresh runs again.
// With an NSS directory in |nss|, the store's module list is checked before
// anything is changed (an NSS store, the trust module installed), and once
// the refresh succeeded the trust module is added to the list unless it is
// listed already; every other line of the list is kept. kSucceeded, or
// kFailed after an error message.
CommandOutcome TrustRoot(const AppContext& context, kvplatform::SystemTrustStore& store,
                         const std::string& rootCertPath, const NssTarget& nss);

// Removes the anchor TrustRoot wrote for |rootCertPath|, only when it holds
// that very certificate and nothing else, and runs the refresh. With no such
// anchor nothing is changed and it says so (kSucceeded). An NSS store's
// module list is left as it is (other roots trusted the same way may still
// need it); the user is told whether the store lists the trust module, that
// is whether it followed the system's store. kSucceeded, or kFailed after an
// error message.
CommandOutcome UntrustRoot(const AppContext& context, kvplatform::SystemTrustStore& store,
                           const std::string& rootCertPath, const NssTarget& nss);

}  // namespace kvapp

#endif
