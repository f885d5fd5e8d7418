// Revoking a recorded certificate, and recording the certificates a root
// issued before it had a register.
#include "app/register_commands.h"

#include <algorithm>
#include <set>

#include "app/cert_info.h"
#include "app/root_cert_info.h"
#include "app/root_register.h"
#include "app/strings.h"
#include "app/toolkit_objects.h"
#include "app/utf8_text.h"
#include "certkit/certkit.h"
#include "cryptokit/qmemory.h"
#include "platform/clock.h"

namespace kvapp {
namespace {

// Longest serial number taken from the user, in hexadecimal digits (RFC 5280
// serials are at most 20 octets).
constexpr size_t kMaxSerialDigits = 40;

// |text| as the register writes serial numbers: upper-case hexadecimal of
// the magnitude, two digits an octet, no leading zero octet ("0x" and an odd
// count of digits are taken). False when it is not hexadecimal.
bool NormalSerial(std::string text, std::string& serial) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  if (text.empty() || text.size() > kMaxSerialDigits) return false;
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  if (text.size() % 2 != 0) text.insert(text.begin(), '0');
  while (text.size() > 2 && text.compare(0, 2, "00") == 0) text.erase(0, 2);
  serial = text;
  return true;
}

// What a file read by RegisterExisting holds.
enum class FileVerdict { kOwn, kOtherRoot, kDamaged, kNotCertificate, kUnsupported, kRootItself };

// Reads the certificate file |path| into |der| and checks it against the
// root's key. The verdict, or kNotCertificate / kDamaged when it cannot be
// read as a certificate.
FileVerdict CheckFile(const std::string& path, const RootCertInfo& root, Q_KEY_OBJ rootKey,
                      std::vector<unsigned char>& der, std::string& serialHex) {
  der.clear();
  unsigned char* data = nullptr;
  int length = 0;
  const int rc = errKVCertReadFromFile(path.c_str(), &length, &data);
  if (rc == 0 && length > 0) der.assign(data, data + length);
  if (data != nullptr) vKVCertFreeCert(data);
  // A broken PEM certificate block is a damaged certificate; other text or
  // bytes that do not start a DER SEQUENCE are no certificate at all.
  if (rc == KV_CERT_BAD_CERTIFICATE && length > 0) return FileVerdict::kDamaged;
  if (rc != 0 || der.empty()) return FileVerdict::kNotCertificate;
  if (der[0] != 0x30) return FileVerdict::kNotCertificate;
  CertObject object;
  C_CERT_FIELDS fields{};
  if (C_CreateCertObject(&object.cert, nullptr) != 0 ||
      C_SetCertBER(object.cert, der.data(), static_cast<uint32_t>(der.size())) != 0 ||
      C_GetCertFields(object.cert, &fields) != 0 || fields.serialNumber.len == 0) {
    return FileVerdict::kDamaged;
  }
  serialHex = Hex(fields.serialNumber.data, fields.serialNumber.len, "");
  if (der == root.der) return FileVerdict::kRootItself;
  const int verified = iVerifyCertificate(der.data(), rootKey, static_cast<int>(der.size()));
  if (verified == C_ERR_ALG_UNSUPPORTED) return FileVerdict::kUnsupported;
  return verified == 0 ? FileVerdict::kOwn : FileVerdict::kOtherRoot;
}

const char* VerdictText(FileVerdict verdict) {
  switch (verdict) {
    case FileVerdict::kOtherRoot: return "not issued by this root";
    case FileVerdict::kDamaged: return "damaged certificate";
    case FileVerdict::kNotCertificate: return "not a certificate";
    case FileVerdict::kUnsupported: return "signature algorithm not supported";
    case FileVerdict::kRootItself: return "the root certificate itself";
    case FileVerdict::kOwn: break;
  }
  return "";
}

int CopyEntry(const KV_REGISTER_ENTRY* entry, void* context) {
  auto* der = static_cast<std::vector<unsigned char>*>(context);
  if (entry->der != nullptr && entry->derLength > 0) der->assign(entry->der, entry->der + entry->derLength);
  return 0;
}

// The root certificate |rootCertPath| and its public key, to check
// certificates against; false after an error box.
bool LoadRoot(AppContext& context, const std::string& rootCertPath, RootCertInfo& root, KeyObject& key) {
  if (ReadRootCertInfo(rootCertPath, root) != 0) {
    context.Error("Unable to read the root certificate " + EscapeForDisplay(rootCertPath) + ".");
    return false;
  }
  if (RootPublicKey(root, &key.key) != 0) {
    context.Error("The key of the root certificate " + EscapeForDisplay(rootCertPath) + " cannot be used.");
    return false;
  }
  return true;
}

}  // namespace

CommandOutcome RevokeIssued(AppContext& context, const std::string& rootCertPath, const std::string& serialHex,
                            int reason) {
  std::string serial;
  if (!NormalSerial(serialHex, serial)) {
    context.Error("The serial number " + EscapeForDisplay(serialHex) + " is not a hexadecimal number.");
    return CommandOutcome::kFailed;
  }
  if (ReasonName(reason).empty()) {
    context.Error("Unknown revocation reason " + std::to_string(reason) + ".");
    return CommandOutcome::kFailed;
  }
  RootRegister reg(context);
  if (reg.Open(rootCertPath) != 0) return CommandOutcome::kFailed;
  IssuedEntry entry;
  int rc = FindIssued(reg.get(), serial, entry);
  // A classic serial number is text: its octets are hexadecimal characters,
  // and that is how the contents display shows it. Given that way, it is
  // found by the hexadecimal of its characters.
  const std::string asCharacters = Hex(reinterpret_cast<const unsigned char*>(serialHex.data()), serialHex.size(), "");
  if (rc == KV_REG_NOT_FOUND && serialHex.size() * 2 <= kMaxSerialDigits &&
      FindIssued(reg.get(), asCharacters, entry) == 0) {
    serial = asCharacters;
    rc = 0;
  }
  if (rc == KV_REG_NOT_FOUND) {
    context.Error("No certificate with serial number " + serial + " is recorded in the register " +
                  EscapeForDisplay(reg.databasePath()) + ".");
    return CommandOutcome::kFailed;
  }
  if (rc != 0) {
    context.Error(RegisterErrorText(rc, EscapeForDisplay(reg.databasePath())));
    return CommandOutcome::kFailed;
  }
  const std::string subject = EscapeForDisplay(entry.subject);
  if (entry.revoked) {
    context.Error("The certificate " + subject + " (serial number " + serial + ") was revoked already on " +
                  UtcDateText(entry.revokedAt) + " (" + ReasonName(entry.reason) + ").");
    return CommandOutcome::kFailed;
  }
  if (!context.ui.AskYesNo("Revoke the certificate " + subject + ", serial number " + serial + ", for reason " +
                           ReasonName(reason) + "?")) {
    return CommandOutcome::kCancelled;
  }
  rc = errKVRegisterRevoke(reg.get(), serial.c_str(), reason, kvplatform::CalendarSeconds());
  if (rc != 0) {
    context.Error(RegisterErrorText(rc, EscapeForDisplay(reg.databasePath())));
    return CommandOutcome::kFailed;
  }
  context.ui.ShowMessage("Certificate " + subject + " (serial number " + serial + ") revoked: " + ReasonName(reason) +
                  ". The next CRL lists it.");
  return CommandOutcome::kSucceeded;
}

CommandOutcome RevokeIssuedFile(AppContext& context, const std::string& rootCertPath, const std::string& certPath,
                                int reason) {
  RootCertInfo root;
  KeyObject key;
  if (!LoadRoot(context, rootCertPath, root, key)) return CommandOutcome::kFailed;
  std::vector<unsigned char> der;
  std::string serial;
  const FileVerdict verdict = CheckFile(certPath, root, key.key, der, serial);
  if (verdict != FileVerdict::kOwn) {
    context.Error("The certificate " + EscapeForDisplay(certPath) + " cannot be revoked: " + VerdictText(verdict) +
                  ".");
    return CommandOutcome::kFailed;
  }
  return RevokeIssued(context, rootCertPath, serial, reason);
}

CommandOutcome RegisterExisting(AppContext& context, const std::string& rootCertPath, const std::string& directory,
                                RegisterExistingResult& result) {
  result = RegisterExistingResult{};
  RootCertInfo root;
  KeyObject key;
  if (!LoadRoot(context, rootCertPath, root, key)) return CommandOutcome::kFailed;
  std::string dir = directory;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::set<std::string> names;  // sorted, each once (patterns ignore case)
  for (const char* pattern : {"*.crt", "*.pem", "*.cer"}) {
    for (const std::string& name : context.files.ListFiles(dir + "/" + pattern)) names.insert(name);
  }
  if (names.empty() && !context.files.Find(dir)) {
    context.Error("The directory " + EscapeForDisplay(dir) + " cannot be read.");
    return CommandOutcome::kFailed;
  }
  RootRegister reg(context);
  if (reg.Open(rootCertPath) != 0) return CommandOutcome::kFailed;
  const int64_t now = kvplatform::CalendarSeconds();
  for (const std::string& name : names) {
    const std::string path = (dir == "/" ? std::string() : dir) + "/" + name;
    std::vector<unsigned char> der;
    std::string serial;
    const FileVerdict verdict = CheckFile(path, root, key.key, der, serial);
    if (verdict != FileVerdict::kOwn) {
      result.skipped.emplace_back(path, VerdictText(verdict));
      continue;
    }
    int rc = errKVRegisterRecordCertificate(reg.get(), der.data(), static_cast<int>(der.size()), path.c_str(),
                                            ProfileText(root), now);
    if (rc == 0) {
      ++result.recorded;
      continue;
    }
    if (rc == KV_REG_DUPLICATE) {
      // The same certificate is recorded already; another one with its
      // serial number is named as skipped.
      std::vector<unsigned char> recorded;
      rc = errKVRegisterFind(reg.get(), serial.c_str(), CopyEntry, &recorded);
      if (rc == 0 && recorded == der) {
        ++result.alreadyRecorded;
      } else if (rc == 0) {
        result.skipped.emplace_back(path, "another certificate with serial number " + serial + " is recorded");
      }
      if (rc == 0) continue;
    }
    if (rc == KV_CERT_BAD_CERTIFICATE) {
      result.skipped.emplace_back(path, "damaged certificate");
      continue;
    }
    context.Error(RegisterErrorText(rc, EscapeForDisplay(reg.databasePath())) + " Recorded so far: " +
                  std::to_string(result.recorded) + "; stopped at " + EscapeForDisplay(path) + ".");
    return CommandOutcome::kFailed;
  }
  std::string text = "Recorded " + std::to_string(result.recorded) + " certificate" +
                     (result.recorded == 1 ? "" : "s") + " from " + EscapeForDisplay(dir) + "; " +
                     std::to_string(result.alreadyRecorded) + " recorded already, " +
                     std::to_string(result.skipped.size()) + " skipped.";
  for (const auto& [path, reason] : result.skipped) text += "\n  " + EscapeForDisplay(path) + ": " + reason;
  context.ui.ShowMessage(text);
  return CommandOutcome::kSucceeded;
}

bool RegisterExpiryLine(AppContext& context, const std::string& rootCertPath, int64_t now, std::string& line) {
  char path[4096];
  if (errKVRegisterPath(rootCertPath.c_str(), path, sizeof path) != 0 || !context.files.Find(path)) return false;
  RootRegister reg(context);
  if (reg.Open(rootCertPath) != 0) return false;
  if (!ExpiryLine(reg.get(), now, line)) {
    context.Error("The register " + EscapeForDisplay(reg.databasePath()) + " cannot be read.");
    return false;
  }
  return true;
}

}  // namespace kvapp
