// The CRL of a root's register: every revoked certificate with its date and
// reason, signed with the root key and written whole or not at all.
#include <algorithm>

#include "app/cert_info.h"
#include "app/key_files.h"
#include "app/toolkit_objects.h"
#include "app/register_commands.h"
#include "app/root_cert_info.h"
#include "app/root_register.h"
#include "app/strings.h"
#include "app/utf8_text.h"
#include "certkit/certkit.h"
#include "cryptokit/qmemory.h"
#include "platform/clock.h"
#include "platform/file_write.h"
#include "services/kv_pem.h"

namespace kvapp {
namespace {

constexpr int kMinCrlDays = 1;
constexpr int kMaxCrlDays = 3650;
constexpr int64_t kDaySeconds = 24 * 60 * 60;

// The root's private key, wiped whatever way it goes out of scope.
struct PrivateKey {
  unsigned char data[kKeyBufferSize];
  int length = kKeyBufferSize;
  Q_KEY_OBJ key = nullptr;
  ~PrivateKey() {
    if (key != nullptr) Q_DestroyKeyObject(&key);
    QMem_Wipe(data, sizeof data);
  }
};

// A value made by a certkit builder, released at scope end.
struct Built {
  unsigned char* data = nullptr;
  uint32_t length = 0;
  ~Built() { QMem_SecureRelease(data); }
};

// The octets of the register's upper-case hexadecimal serial |hex|.
std::vector<unsigned char> SerialOctets(const std::string& hex) {
  std::vector<unsigned char> out;
  auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  }
  return out;
}

// |number| (positive) as a big-endian magnitude.
std::vector<unsigned char> NumberOctets(int64_t number) {
  std::vector<unsigned char> out;
  for (auto n = static_cast<uint64_t>(number); n != 0; n >>= 8) out.insert(out.begin(), static_cast<unsigned char>(n));
  if (out.empty()) out.push_back(0);
  return out;
}

}  // namespace

CommandOutcome MakeCrl(AppContext& context, const std::string& rootCertPath, const std::string& rootKeyPath,
                       const std::string& rootPassword, const std::string& outPath, int days, bool pem) {
  if (days < kMinCrlDays || days > kMaxCrlDays) {
    context.Error("The CRL's validity must be from 1 to 3650 days.");
    return CommandOutcome::kFailed;
  }
  if (outPath.empty() || context.files.Find(outPath)) {
    context.Error(FormatText(LoadString(2021), EscapeForDisplay(outPath)));
    return CommandOutcome::kFailed;
  }
  // A CRL number once taken is gone: what can be checked before is.
  if (!kvplatform::CanCreateFileAt(outPath)) {
    context.Error("Unable to write the CRL file " + EscapeForDisplay(outPath) + ".");
    return CommandOutcome::kFailed;
  }
  RootCertInfo root;
  if (ReadRootCertInfo(rootCertPath, root) != 0) {
    context.Error("Unable to read the root certificate " + EscapeForDisplay(rootCertPath) + ".");
    return CommandOutcome::kFailed;
  }
  RootRegister reg(context);
  if (reg.Open(rootCertPath) != 0) return CommandOutcome::kFailed;
  std::vector<IssuedEntry> revoked;
  int rc = ListIssued(reg.get(), -1, true, revoked);
  if (rc != 0) {
    context.Error(RegisterErrorText(rc, EscapeForDisplay(reg.databasePath())));
    return CommandOutcome::kFailed;
  }
  PrivateKey key;
  if (errKVKeyFileGetPrivateKeyEx(rootKeyPath.c_str(), key.data, &key.length, rootPassword.c_str()) != 0 ||
      iKeyFromBER(key.data, key.length, &key.key, KV_KEYTYPE_PRIVATE_PKCS8) != 0) {
    context.Error("Unable to read the root's private key from " + EscapeForDisplay(rootKeyPath) +
                  " (an incorrect password?).");
    return CommandOutcome::kFailed;
  }

  // The list: the root's subject as issuer, its key identifier (modern
  // roots), the CRL number, and each revoked serial with date and reason.
  // A reason of unspecified is left out, as RFC 5280 5.3.1 recommends.
  CrlObject crl;
  C_CRL_FIELDS fields{};
  rc = C_CreateCRLObject(&crl.crl, nullptr);
  if (rc == 0) rc = C_GetCRLFields(crl.crl, &fields);
  if (rc == 0) rc = C_SetNameBER(fields.issuer, root.subjectDer.data(), static_cast<uint32_t>(root.subjectDer.size()));
  if (rc == 0 && root.modern && !root.keyId.empty()) {
    Built aki;
    rc = C_BuildAuthorityKeyIdentifier(root.keyId.data(), static_cast<uint32_t>(root.keyId.size()), &aki.data,
                                       &aki.length);
    if (rc == 0) rc = C_AddExtension(fields.extensions, C_OID_AUTHORITY_KEY_ID, C_OID_EXT_LEN, 0, aki.data, aki.length);
  }
  for (const IssuedEntry& entry : revoked) {
    if (rc != 0) break;
    const std::vector<unsigned char> serial = SerialOctets(entry.serialHex);
    const int32_t reason = entry.reason == C_REASON_UNSPECIFIED ? C_REASON_NONE : entry.reason;
    rc = C_AddCRLEntry(crl.crl, serial.data(), static_cast<uint32_t>(serial.size()), entry.revokedAt, reason);
  }
  if (rc != 0) {
    context.Error(FormatNumber("Unable to make the CRL (error %d).", rc));
    return CommandOutcome::kFailed;
  }
  // The number is taken last, once nothing but signing and writing is left.
  const int64_t now = kvplatform::CalendarSeconds();
  int64_t number = 0;
  rc = errKVRegisterNextCrlNumber(reg.get(), now, &number);
  if (rc != 0) {
    context.Error(RegisterErrorText(rc, EscapeForDisplay(reg.databasePath())));
    return CommandOutcome::kFailed;
  }
  {
    const std::vector<unsigned char> octets = NumberOctets(number);
    Built value;
    rc = C_BuildCRLNumber(octets.data(), static_cast<uint32_t>(octets.size()), &value.data, &value.length);
    if (rc == 0) rc = C_AddExtension(fields.extensions, C_OID_CRL_NUMBER, C_OID_EXT_LEN, 0, value.data, value.length);
  }
  RandomObject random;
  if (rc == 0) {
    fields.version = C_CRL_VERSION_2;
    fields.signatureAlgorithm = root.modern ? C_SIG_SHA256_WITH_RSA : C_SIG_SHA1_WITH_RSA;
    fields.thisUpdate = now;
    fields.hasNextUpdate = 1;
    fields.nextUpdate = now + static_cast<int64_t>(days) * kDaySeconds;
    rc = C_SetCRLFields(crl.crl, &fields);
  }
  if (rc == 0) rc = iMakeRandomObject(&random.random);
  if (rc == 0) rc = C_SignCRL(crl.crl, key.key, random.random, nullptr);
  const unsigned char* der = nullptr;
  uint32_t derLength = 0;
  if (rc == 0) rc = C_GetCRLDER(crl.crl, &der, &derLength);
  if (rc != 0) {
    context.Error(FormatNumber("Unable to sign the CRL (error %d).", rc));
    return CommandOutcome::kFailed;
  }
  const std::string text = pem ? kvpem::PemBlock("X509 CRL", der, derLength) : std::string(der, der + derLength);
  switch (kvplatform::WriteNewFileAtomically(outPath, text.data(), text.size(), 0644)) {
    case kvplatform::NewFileResult::kWritten: break;
    case kvplatform::NewFileResult::kExists:
      context.Error(FormatText(LoadString(2021), EscapeForDisplay(outPath)));
      return CommandOutcome::kFailed;
    case kvplatform::NewFileResult::kFailed:
      context.Error("Unable to write the CRL file " + EscapeForDisplay(outPath) + ".");
      return CommandOutcome::kFailed;
  }
  context.ui.ShowMessage("CRL number " + std::to_string(number) + " written to " + EscapeForDisplay(outPath) + ": " +
                  std::to_string(revoked.size()) + " revoked certificate" + (revoked.size() == 1 ? "" : "s") +
                  ", next update " + UtcDateText(now + static_cast<int64_t>(days) * kDaySeconds) + ".");
  return CommandOutcome::kSucceeded;
}

}  // namespace kvapp
