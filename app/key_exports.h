// The export and key-password commands: a certificate as PEM, a private key
// as PKCS #8, a key with its certificate and the root as PKCS #12, and a key
// file's new password. The same code runs for the main dialog's Export menu
// and for the command line; the output file comes from the front end's
// save-as chooser and the passwords from its password prompts.
#ifndef KVCATOOL_APP_KEY_EXPORTS_H
#define KVCATOOL_APP_KEY_EXPORTS_H

#include <cstddef>
#include <optional>
#include <string>

#include "app/context.h"
#include "app/main_dialog.h"

namespace kvapp {

// Largest certificate file an export reads.
constexpr size_t kMaxCertificateFile = 1 << 20;
// Key passwords: kMinPasswordChars to kModernPasswordMaxChars of
// key_files.h for a modern key file, the details dialog's limit for a
// classic one.
// Export passwords: at least 8 characters, at most as many as a line of
// terminal input holds.
constexpr size_t kMinExportPasswordChars = 8;
constexpr size_t kExportPasswordMaxChars = 1024;

// The file name an export of |sourcePath| is proposed under: the source's
// directory and name with its extension replaced by |extension| (".pem").
std::string ExportFileName(const std::string& sourcePath, const std::string& extension);

// Writes the certificate file |certPath| (DER) as a PEM file chosen with the
// save-as chooser (mode 0644). kCancelled when the chooser is cancelled;
// kFailed after a message for an existing output file, a file that is not a
// certificate or a write failure.
CommandOutcome ExportCertificatePem(AppContext& context, const std::string& certPath);

// How ExportPrivateKey writes the key.
enum class KeyExportForm {
  kEncrypted,    // EncryptedPrivateKeyInfo under a new export password (PBES2)
  kUnencrypted,  // PrivateKeyInfo as it is
};
// Writes the private key of the key file |keyPath| as PKCS #8 PEM to a file
// chosen with the save-as chooser (mode 0600), after the key's password and,
// for kEncrypted, a new export password entered twice. Nothing is written
// when a question is cancelled or a check fails.
CommandOutcome ExportPrivateKey(AppContext& context, const std::string& keyPath, KeyExportForm form);

// What ExportPkcs12 bundles.
struct Pkcs12Export {
  std::string keyPath;
  // The key's certificate; empty: the key file's name with ".crt".
  std::string certPath;
  // The current root's certificate, which becomes the chain; empty when no
  // root is selected (the command is refused with message 2001).
  std::string rootCertPath;
  // Friendly name of the key and its certificate; unset: the key file's
  // name without its extension.
  std::optional<std::string> friendlyName;
};
// Writes the key, its certificate and the root as a PKCS #12 file chosen
// with the save-as chooser (mode 0600), after the key's password and a new
// export password entered twice. The certificate must carry the key file's
// public key.
CommandOutcome ExportPkcs12(AppContext& context, const Pkcs12Export& request);

// Whether ChangeKeyPassword writes a classic key file in the modern form.
enum class KeyFileUpgrade {
  kKeep,     // the file keeps its form
  kUpgrade,  // the modern form
  kAsk,      // a classic file: the user is asked
};
// Re-encrypts the private key of |keyPath| under a new password entered
// twice (8 to 16 characters for a classic file, 8 to 64 for a modern one).
// The file is replaced whole or not at all.
CommandOutcome ChangeKeyPassword(AppContext& context, const std::string& keyPath, KeyFileUpgrade upgrade);

}  // namespace kvapp

#endif
