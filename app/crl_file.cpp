#include "app/crl_file.h"

#include <cstring>

#include "app/cert_info.h"
#include "app/cert_names.h"
#include "app/root_cert_info.h"
#include "app/root_register.h"
#include "app/strings.h"
#include "app/toolkit_objects.h"
#include "app/utf8_text.h"
#include "certkit/certkit.h"
#include "platform/file_io.h"
#include "services/kvservices.h"

namespace kvapp {
namespace {

std::string SignatureName(uint32_t id) {
  switch (id) {
    case C_SIG_MD2_WITH_RSA: return "md2WithRSAEncryption";
    case C_SIG_MD5_WITH_RSA: return "md5WithRSAEncryption";
    case C_SIG_SHA1_WITH_RSA: return "sha1WithRSAEncryption";
    case C_SIG_SHA256_WITH_RSA: return "sha256WithRSAEncryption";
    case C_SIG_SHA384_WITH_RSA: return "sha384WithRSAEncryption";
    case C_SIG_SHA512_WITH_RSA: return "sha512WithRSAEncryption";
    default: return "unknown (" + std::to_string(id) + ")";
  }
}

// The big-endian magnitude |number| (at most 20 octets) in decimal.
std::string Decimal(const unsigned char* number, uint32_t length) {
  std::vector<unsigned char> n(number, number + length);
  std::string digits;
  for (;;) {
    bool zero = true;
    unsigned remainder = 0;
    for (unsigned char& byte : n) {
      const unsigned value = (remainder << 8) | byte;
      byte = static_cast<unsigned char>(value / 10);
      remainder = value % 10;
      if (byte != 0) zero = false;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
    if (zero) break;
  }
  return digits;
}

std::string DateText(int64_t seconds) {
  const std::string text = UtcDateText(seconds);
  return text.empty() ? std::to_string(seconds) : text;
}

}  // namespace

bool IsCrlFileName(const std::string& path) {
  if (EndsWithNoCase(path, ".crl")) return true;
  // A PEM file says what it holds in its first line.
  std::string head;
  if (!kvplatform::ReadRegularFile(path, kMaxCrlFile, head)) return false;
  return head.compare(0, 24, "-----BEGIN X509 CRL-----") == 0;
}

int ReadCrlFile(const std::string& path, std::vector<unsigned char>& der) {
  der.clear();
  std::string bytes;
  if (!kvplatform::ReadRegularFile(path, kMaxCrlFile, bytes) || bytes.empty()) return -1;
  int length = static_cast<int>(bytes.size());
  if (iKVFromPEM(reinterpret_cast<unsigned char*>(bytes.data()), &length, "X509 CRL", nullptr) != 0 || length <= 0) {
    return -1;
  }
  der.assign(bytes.data(), bytes.data() + length);
  return 0;
}

int ReadCrlContents(const std::vector<unsigned char>& der, CrlContents& contents) {
  contents = CrlContents{};
  CrlObject object;
  int rc = C_CreateCRLObject(&object.crl, nullptr);
  if (rc == 0) rc = der.empty() ? C_ERR_INPUT_DATA : C_SetCRLBER(object.crl, der.data(), static_cast<uint32_t>(der.size()));
  C_CRL_FIELDS fields{};
  if (rc == 0) rc = C_GetCRLFields(object.crl, &fields);
  if (rc != 0) return rc;
  contents.version = fields.version == C_CRL_VERSION_2 ? 2 : 1;
  contents.signatureAlgorithm = SignatureName(fields.signatureAlgorithm);
  contents.thisUpdate = fields.thisUpdate;
  contents.hasNextUpdate = fields.hasNextUpdate != 0;
  contents.nextUpdate = fields.nextUpdate;
  // The issuer as "C=US, O=..., CN=...", unescaped here; the lines escape it.
  uint32_t count = 0;
  if (C_GetNameAVACount(fields.issuer, &count) == 0) {
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char* oid = nullptr;
      const unsigned char* value = nullptr;
      uint32_t oidLength = 0, valueTag = 0, valueLength = 0, newRdn = 0;
      if (C_GetNameAVA(fields.issuer, i, &oid, &oidLength, &valueTag, &value, &valueLength, &newRdn) != 0) break;
      const char* shortName = AttributeShortName(oid, oidLength);
      if (!contents.issuer.empty()) contents.issuer += ", ";
      contents.issuer += (shortName != nullptr ? std::string(shortName) : DottedOid(oid, oidLength)) + "=" +
                         NameValueUtf8(valueTag, value, valueLength);
    }
  }
  const unsigned char* value = nullptr;
  uint32_t valueLength = 0;
  C_ITEM number{};
  if (C_FindExtension(fields.extensions, C_OID_CRL_NUMBER, C_OID_EXT_LEN, nullptr, &value, &valueLength) == 0 &&
      C_ReadCRLNumber(value, valueLength, &number) == 0) {
    contents.crlNumber = number.len == 0 ? std::string("0") : Decimal(number.data, number.len);
  }
  C_AUTHORITY_KEY_ID aki{};
  if (C_FindExtension(fields.extensions, C_OID_AUTHORITY_KEY_ID, C_OID_EXT_LEN, nullptr, &value, &valueLength) == 0 &&
      C_ReadAuthorityKeyIdentifier(value, valueLength, &aki) == 0 && aki.keyIdentifier.data != nullptr) {
    contents.authorityKeyId = Hex(aki.keyIdentifier.data, aki.keyIdentifier.len, ":");
  }
  for (uint32_t i = 0; i < fields.entryCount; ++i) {
    const unsigned char* serial = nullptr;
    uint32_t serialLength = 0;
    CrlEntryText entry;
    int32_t reason = C_REASON_NONE;
    if ((rc = C_GetCRLEntry(object.crl, i, &serial, &serialLength, &entry.date, &reason)) != 0) return rc;
    entry.serialHex = Hex(serial, serialLength, "");
    entry.reason = reason;
    contents.entries.push_back(std::move(entry));
  }
  return 0;
}

std::vector<std::string> CrlContentsLines(const CrlContents& c) {
  std::vector<std::string> lines;
  lines.push_back("Issuer: " + EscapeForDisplay(c.issuer));
  lines.push_back("Version: " + std::to_string(c.version));
  lines.push_back("This update: " + DateText(c.thisUpdate));
  lines.push_back("Next update: " + (c.hasNextUpdate ? DateText(c.nextUpdate) : std::string("none")));
  lines.push_back("CRL number: " + (c.crlNumber.empty() ? std::string("none") : c.crlNumber));
  lines.push_back("Authority key identifier: " + (c.authorityKeyId.empty() ? std::string("none") : c.authorityKeyId));
  lines.push_back("Signature algorithm: " + c.signatureAlgorithm);
  lines.push_back("Revoked certificates: " + std::to_string(c.entries.size()));
  for (const CrlEntryText& e : c.entries) {
    std::string line = "  " + e.serialHex + "  " + DateText(e.date);
    if (e.reason >= 0) {
      const std::string name = ReasonName(e.reason);
      line += "  " + (name.empty() ? std::to_string(e.reason) : name);
    }
    lines.push_back(line);
  }
  return lines;
}

int CheckCrlSignature(const std::vector<unsigned char>& der, const std::string& rootCertPath) {
  RootCertInfo root;
  if (ReadRootCertInfo(rootCertPath, root) != 0) return -1;
  KeyObject key;
  if (RootPublicKey(root, &key.key) != 0) return -1;
  CrlObject object;
  if (C_CreateCRLObject(&object.crl, nullptr) != 0 || der.empty() ||
      C_SetCRLBER(object.crl, der.data(), static_cast<uint32_t>(der.size())) != 0) {
    return 0;
  }
  // A CRL of another issuer is not this root's, whatever its signature.
  C_CRL_FIELDS fields{};
  const unsigned char* issuer = nullptr;
  uint32_t issuerLength = 0;
  if (C_GetCRLFields(object.crl, &fields) != 0 || C_GetNameDER(fields.issuer, &issuer, &issuerLength) != 0 ||
      issuerLength != root.subjectDer.size() || std::memcmp(issuer, root.subjectDer.data(), issuerLength) != 0) {
    return 0;
  }
  return C_VerifyCRLSignature(object.crl, key.key, nullptr) == 0 ? 1 : 0;
}

CommandOutcome ViewCrlFile(AppContext& context, const std::string& crlPath) {
  std::vector<unsigned char> der;
  CrlContents contents;
  if (ReadCrlFile(crlPath, der) != 0 || ReadCrlContents(der, contents) != 0) {
    context.Error("Unable to read the CRL file " + EscapeForDisplay(crlPath) + ".");
    return CommandOutcome::kFailed;
  }
  for (const std::string& line : CrlContentsLines(contents)) context.ui.WriteOutputLine(line);
  return CommandOutcome::kSucceeded;
}

CommandOutcome VerifyCrlFile(AppContext& context, const std::string& crlPath, const std::string& rootCertPath) {
  std::vector<unsigned char> der;
  CrlContents contents;
  if (ReadCrlFile(crlPath, der) != 0 || ReadCrlContents(der, contents) != 0) {
    context.Error("Unable to read the CRL file " + EscapeForDisplay(crlPath) + ".");
    return CommandOutcome::kFailed;
  }
  const int verdict = CheckCrlSignature(der, rootCertPath);
  if (verdict < 0) {
    context.Error("Unable to read the root certificate " + EscapeForDisplay(rootCertPath) + ".");
    return CommandOutcome::kFailed;
  }
  if (verdict == 0) {
    context.Error("CRL is invalid: its signature does not verify under the root certificate " +
                  EscapeForDisplay(rootCertPath) + ".");
    return CommandOutcome::kInvalid;
  }
  context.ui.ShowMessage("CRL is valid.");
  return CommandOutcome::kSucceeded;
}

}  // namespace kvapp
