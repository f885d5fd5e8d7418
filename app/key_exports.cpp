#include "app/key_exports.h"

#include <sys/types.h>

#include "app/cert_details_dialog.h"
#include "app/key_files.h"
#include "app/strings.h"
#include "app/utf8_text.h"
#include "cryptokit/qmemory.h"
#include "platform/file_io.h"
#include "platform/file_write.h"
#include "services/kv_der.h"
#include "services/kv_pem.h"
#include "services/kv_pkcs12.h"
#include "services/kvservices.h"

namespace kvapp {
namespace {

constexpr char kPemFilter[] = "PEM files (*.pem)|*.pem|All files (*.*)|*.*|";
constexpr char kPkcs12Filter[] = "PKCS #12 files (*.p12;*.pfx)|*.p12;*.pfx|All files (*.*)|*.*|";
constexpr char kModernLimitText[] = "Key password must be between 8 and 64 characters.";

// Secret buffers, wiped whatever way a command ends.
struct SecretBytes {
  unsigned char data[2 * kKeyBufferSize];
  SecretBytes() = default;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { QMem_Wipe(data, sizeof data); }
};
struct SecretText {
  std::string text;
  SecretText() = default;
  explicit SecretText(std::string t) : text(std::move(t)) {}
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  ~SecretText() { WipeString(text); }
};

// The name of |path| without its last extension.
std::string BaseName(const std::string& path) {
  const std::string name = NamePart(path);
  return name.substr(0, name.rfind('.'));
}

// The output file of an export from the save-as chooser: kSucceeded, or
// kCancelled, or kFailed (after saying so) for an existing file.
CommandOutcome ChooseOutput(AppContext& context, const char* caption, const char* filter, const std::string& proposed,
                            std::string& out) {
  if (!context.ui.ChooseFileToSave(caption, filter, proposed, out)) return CommandOutcome::kCancelled;
  if (!context.files.Find(out)) return CommandOutcome::kSucceeded;
  context.Error(FormatText(LoadString(2021), out));
  return CommandOutcome::kFailed;
}

// Writes |contents| to the new file |out| and says so. True when written.
bool WriteOutput(AppContext& context, const std::string& out, const std::string& contents, mode_t mode,
                 const char* what) {
  switch (kvplatform::WriteNewFileAtomically(out, contents.data(), contents.size(), mode)) {
    case kvplatform::NewFileResult::kWritten:
      context.ui.ShowMessage(std::string(what) + " written to " + out + ".");
      return true;
    case kvplatform::NewFileResult::kExists:
      context.Error(FormatText(LoadString(2021), out));
      return false;
    case kvplatform::NewFileResult::kFailed:
      break;
  }
  context.Error(FormatText("Unable to write file %s.", out));
  return false;
}

// A certificate file read whole into |der|; false after a message.
bool ReadCertificate(AppContext& context, const std::string& path, std::string& der) {
  if (!kvplatform::ReadRegularFile(path, kMaxCertificateFile, der)) {
    context.Error(FormatText("Unable to read certificate file %s.", path));
    return false;
  }
  if (!kvder::IsSingleSequence(reinterpret_cast<const unsigned char*>(der.data()), der.size())) {
    context.Error(FormatText("Invalid certificate file: %s.", path));
    return false;
  }
  return true;
}

// No key password is longer than its key file takes: the details dialog's
// limit for a classic key file, 64 characters for a modern one. Refused with
// a message, never cut.
bool KeyPasswordFits(AppContext& context, bool modern, const std::string& password) {
  if (modern) {
    if (Utf8Length(password) <= kModernPasswordMaxChars) return true;
    context.Error(kModernLimitText);
    return false;
  }
  if (!CertDetailsDialog::TooLong(kIdPassword, password)) return true;
  context.Error(2013);
  return false;
}

// Most characters the password prompt of a key file takes.
size_t KeyPasswordMaxChars(bool modern) {
  return modern ? kModernPasswordMaxChars : CertDetailsDialog::TextLimit(kIdPassword);
}

// The key file's password from the front end: kSucceeded, kCancelled, or
// kFailed when too long (after a message).
CommandOutcome AskKeyPassword(AppContext& context, const std::string& keyPath, bool modern, std::string& password) {
  PasswordRequest request;
  request.kind = PasswordKind::kKeyPassword;
  request.caption = "Key Password";
  request.prompt = "Enter the password of the key file " + NamePart(keyPath) + ".";
  request.maxChars = KeyPasswordMaxChars(modern);
  if (!context.ui.AskPassword(request, password)) return CommandOutcome::kCancelled;
  return KeyPasswordFits(context, modern, password) ? CommandOutcome::kSucceeded : CommandOutcome::kFailed;
}

// The decrypted private key of |keyPath| under the key password:
// kSucceeded, kCancelled, or kFailed after a message.
CommandOutcome UnlockKeyFile(AppContext& context, const std::string& keyPath, SecretBytes& key, int& keyLength) {
  if (!context.FileExists(keyPath)) {
    context.Error(FormatText("Unable to read key file %s.", keyPath));
    return CommandOutcome::kFailed;
  }
  SecretText password;
  const CommandOutcome asked = AskKeyPassword(context, keyPath, IsModernKeyFile(keyPath), password.text);
  if (asked != CommandOutcome::kSucceeded) return asked;
  keyLength = kKeyBufferSize;
  context.ui.SetBusyPointer(true);
  const int rc = errKVKeyFileGetPrivateKeyEx(keyPath.c_str(), key.data, &keyLength, password.text.c_str());
  context.ui.SetBusyPointer(false);
  if (rc == Q_ERR_INPUT_DATA) {
    context.Error(2024);
    return CommandOutcome::kFailed;
  }
  if (rc != 0 || keyLength <= 0 || keyLength > kKeyBufferSize) {
    context.Error(FormatText(FormatNumber("Unable to read the private key of %s (error %d).", rc), keyPath));
    return CommandOutcome::kFailed;
  }
  return CommandOutcome::kSucceeded;
}

// A new export password, entered twice: kSucceeded, kCancelled, or kFailed
// after a message.
CommandOutcome NewExportPassword(AppContext& context, std::string& exportPassword) {
  PasswordRequest request;
  request.kind = PasswordKind::kExportPassword;
  request.caption = "Export Password";
  request.prompt = "Enter a password of at least 8 characters for the exported key.";
  request.maxChars = kExportPasswordMaxChars;
  SecretText confirm;
  if (!context.ui.AskNewPassword(request, exportPassword, confirm.text)) return CommandOutcome::kCancelled;
  if (exportPassword != confirm.text) {
    context.Error(2012);
    return CommandOutcome::kFailed;
  }
  const size_t length = Utf8Length(exportPassword);
  if (length < kMinExportPasswordChars) {
    context.Error("Export password must be at least 8 characters.");
    return CommandOutcome::kFailed;
  }
  if (length > kExportPasswordMaxChars) {
    context.Error(FormatText("Export password must be at most %s characters.", std::to_string(kExportPasswordMaxChars)));
    return CommandOutcome::kFailed;
  }
  return CommandOutcome::kSucceeded;
}

// True when the certificate |certDer| carries the public key of |keyPath|.
bool CertificateFitsKey(const std::string& certDer, const std::string& keyPath) {
  unsigned char certKey[kKeyBufferSize], fileKey[kKeyBufferSize];
  int certKeyLength = sizeof certKey, fileKeyLength = sizeof fileKey;
  return errKVCertX509GetPublicKey(static_cast<int>(certDer.size()),
                                   reinterpret_cast<const unsigned char*>(certDer.data()), &certKeyLength,
                                   certKey) == 0 &&
         errKVKeyFileGetPublicKey(keyPath.c_str(), fileKey, &fileKeyLength) == 0 && certKeyLength == fileKeyLength &&
         QMem_Compare(certKey, fileKey, static_cast<uint32_t>(certKeyLength)) == 0;
}

}  // namespace

std::string ExportFileName(const std::string& sourcePath, const std::string& extension) {
  const std::string name = NamePart(sourcePath);
  return sourcePath.substr(0, sourcePath.size() - name.size()) + BaseName(sourcePath) + extension;
}

CommandOutcome ExportCertificatePem(AppContext& context, const std::string& certPath) {
  std::string out;
  if (const CommandOutcome chosen = ChooseOutput(context, "Export Certificate", kPemFilter, ExportFileName(certPath, ".pem"), out);
      chosen != CommandOutcome::kSucceeded) {
    return chosen;
  }
  std::string der;
  if (!ReadCertificate(context, certPath, der)) return CommandOutcome::kFailed;
  const std::string pem =
      kvpem::PemBlock("CERTIFICATE", reinterpret_cast<const unsigned char*>(der.data()), der.size());
  return WriteOutput(context, out, pem, 0644, "Certificate") ? CommandOutcome::kSucceeded : CommandOutcome::kFailed;
}

CommandOutcome ExportPrivateKey(AppContext& context, const std::string& keyPath, KeyExportForm form) {
  std::string out;
  if (const CommandOutcome chosen = ChooseOutput(context, "Export Private Key", kPemFilter, ExportFileName(keyPath, ".key.pem"), out);
      chosen != CommandOutcome::kSucceeded) {
    return chosen;
  }
  SecretBytes key;
  int keyLength = 0;
  if (const CommandOutcome unlocked = UnlockKeyFile(context, keyPath, key, keyLength);
      unlocked != CommandOutcome::kSucceeded) {
    return unlocked;
  }
  if (form == KeyExportForm::kUnencrypted) {
    SecretText pem{kvpem::PemBlock("PRIVATE KEY", key.data, static_cast<size_t>(keyLength))};
    return WriteOutput(context, out, pem.text, 0600, "Private key") ? CommandOutcome::kSucceeded
                                                                     : CommandOutcome::kFailed;
  }
  SecretText exportPassword;
  if (const CommandOutcome entered = NewExportPassword(context, exportPassword.text);
      entered != CommandOutcome::kSucceeded) {
    return entered;
  }
  // PBES2: PBKDF2-HMAC-SHA256 with a fresh salt, AES-256-CBC.
  SecretBytes encrypted;
  int encryptedLength = static_cast<int>(sizeof encrypted.data);
  context.ui.SetBusyPointer(true);
  const int rc = errKVPKCS8EncryptPBES2(keyLength, key.data, static_cast<int>(exportPassword.text.size()),
                                        reinterpret_cast<const unsigned char*>(exportPassword.text.data()),
                                        KV_PBES2_ITERATIONS, encrypted.data, &encryptedLength);
  context.ui.SetBusyPointer(false);
  if (rc != 0) {
    context.Error(FormatNumber("Unable to encrypt the private key (error %d).", rc));
    return CommandOutcome::kFailed;
  }
  SecretText pem{kvpem::PemBlock("ENCRYPTED PRIVATE KEY", encrypted.data, static_cast<size_t>(encryptedLength))};
  return WriteOutput(context, out, pem.text, 0600, "Private key") ? CommandOutcome::kSucceeded
                                                                   : CommandOutcome::kFailed;
}

CommandOutcome ExportPkcs12(AppContext& context, const Pkcs12Export& request) {
  if (request.rootCertPath.empty()) {
    context.Error(2001);
    return CommandOutcome::kFailed;
  }
  const std::string& keyPath = request.keyPath;
  const std::string certPath = request.certPath.empty() ? ExportFileName(keyPath, ".crt") : request.certPath;
  std::string out;
  if (const CommandOutcome chosen = ChooseOutput(context, "Export PKCS #12", kPkcs12Filter, ExportFileName(keyPath, ".p12"), out);
      chosen != CommandOutcome::kSucceeded) {
    return chosen;
  }
  kvpkcs12::Pkcs12Contents contents;
  contents.certificates.resize(1);
  std::string root;
  if (!ReadCertificate(context, certPath, contents.certificates[0]) ||
      !ReadCertificate(context, request.rootCertPath, root)) {
    return CommandOutcome::kFailed;
  }
  const std::string& own = contents.certificates[0];
  if (!CertificateFitsKey(own, keyPath)) {
    context.Error(FormatText(FormatText("The certificate %s does not belong to the key file %s.", certPath), keyPath));
    return CommandOutcome::kFailed;
  }
  // The root is the chain, once: a root's own export has it already.
  if (root != own) {
    contents.certificates.push_back(root);
    contents.chainNames.push_back(BaseName(request.rootCertPath));
  }
  SecretBytes key;
  int keyLength = 0;
  if (const CommandOutcome unlocked = UnlockKeyFile(context, keyPath, key, keyLength);
      unlocked != CommandOutcome::kSucceeded) {
    return unlocked;
  }
  SecretText exportPassword;
  if (const CommandOutcome entered = NewExportPassword(context, exportPassword.text);
      entered != CommandOutcome::kSucceeded) {
    return entered;
  }
  contents.privateKey = key.data;
  contents.privateKeyLength = static_cast<size_t>(keyLength);
  contents.friendlyName = request.friendlyName.value_or(BaseName(keyPath));
  kvder::Bytes pfx;
  context.ui.SetBusyPointer(true);
  const int rc = kvpkcs12::BuildPkcs12(contents, exportPassword.text, &pfx);
  context.ui.SetBusyPointer(false);
  if (rc == Q_ERR_INPUT_DATA) {
    context.Error("The export password and the friendly name must be UTF-8 text.");
    return CommandOutcome::kFailed;
  }
  if (rc != 0) {
    context.Error(FormatNumber("Unable to make the PKCS #12 file (error %d).", rc));
    return CommandOutcome::kFailed;
  }
  SecretText bytes{std::string(pfx.begin(), pfx.end())};
  return WriteOutput(context, out, bytes.text, 0600, "PKCS #12 file") ? CommandOutcome::kSucceeded
                                                                       : CommandOutcome::kFailed;
}

CommandOutcome ChangeKeyPassword(AppContext& context, const std::string& keyPath, KeyFileUpgrade upgrade) {
  if (!context.FileExists(keyPath)) {
    context.Error(FormatText("Unable to read key file %s.", keyPath));
    return CommandOutcome::kFailed;
  }
  const bool wasModern = IsModernKeyFile(keyPath);
  bool toModern = upgrade == KeyFileUpgrade::kUpgrade;
  if (upgrade == KeyFileUpgrade::kAsk && !wasModern) {
    toModern = context.ui.AskYesNo(
        "The key file " + NamePart(keyPath) +
        " is in the classic form. Write it in the modern form (PBES2 encryption, passwords of up to 64 characters)?");
  }
  const bool modern = toModern || wasModern;
  SecretText password, newPassword, confirm;
  if (const CommandOutcome asked = AskKeyPassword(context, keyPath, wasModern, password.text);
      asked != CommandOutcome::kSucceeded) {
    return asked;
  }
  PasswordRequest request;
  request.kind = PasswordKind::kNewKeyPassword;
  request.caption = "New Key Password";
  request.prompt = "Enter the new password of the key file " + NamePart(keyPath) +
                   (modern ? " (8 to 64 characters)." : " (8 to 16 characters).");
  request.maxChars = KeyPasswordMaxChars(modern);
  if (!context.ui.AskNewPassword(request, newPassword.text, confirm.text)) return CommandOutcome::kCancelled;
  if (newPassword.text != confirm.text) {
    context.Error(2012);
    return CommandOutcome::kFailed;
  }
  // The new password's limits are those of the form the file is written in.
  const size_t length = Utf8Length(newPassword.text);
  if (modern && (length < kMinPasswordChars || length > kModernPasswordMaxChars)) {
    context.Error(kModernLimitText);
    return CommandOutcome::kFailed;
  }
  if (!modern && (length < kMinPasswordChars || CertDetailsDialog::TooLong(kIdPassword, newPassword.text))) {
    context.Error(2013);
    return CommandOutcome::kFailed;
  }
  if (modern) context.ui.ShowProgress("Encrypting the private key...");
  context.ui.SetBusyPointer(true);
  const int rc = errKVKeyFileChangePassword(keyPath.c_str(), password.text.c_str(), newPassword.text.c_str(),
                                            toModern ? 1 : 0);
  context.ui.SetBusyPointer(false);
  if (modern) context.ui.HideProgress();
  if (rc == Q_ERR_INPUT_DATA) {
    context.Error(2024);
    return CommandOutcome::kFailed;
  }
  if (rc != 0) {
    context.Error(FormatText(
        FormatNumber("Unable to change the password of %s (error %d); the file is as it was.", rc), keyPath));
    return CommandOutcome::kFailed;
  }
  context.ui.ShowMessage(toModern
                             ? "Key file " + keyPath + " written in the modern form under the new password."
                             : "Password of " + keyPath + " changed.");
  return CommandOutcome::kSucceeded;
}

}  // namespace kvapp
