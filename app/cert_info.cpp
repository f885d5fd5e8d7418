// Reading a certificate's details from the toolkits and writing them as
// lines of text or as JSON.
#include "app/cert_info.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/cert_contents.h"
#include "app/cert_names.h"
#include "app/utf8_text.h"
#include "cryptokit/cryptokit.h"

namespace kvapp {
namespace {

struct OidName {
  const char* dotted;
  const char* name;
};

constexpr OidName kSignatureNames[] = {
    {"1.2.840.113549.1.1.2", "md2WithRSAEncryption"},   {"1.2.840.113549.1.1.4", "md5WithRSAEncryption"},
    {"1.2.840.113549.1.1.5", "sha1WithRSAEncryption"},  {"1.2.840.113549.1.1.11", "sha256WithRSAEncryption"},
    {"1.2.840.113549.1.1.12", "sha384WithRSAEncryption"}, {"1.2.840.113549.1.1.13", "sha512WithRSAEncryption"},
    {"1.2.840.113549.1.1.14", "sha224WithRSAEncryption"}, {"1.2.840.113549.1.1.10", "RSASSA-PSS"},
    {"1.2.840.10045.4.1", "ecdsa-with-SHA1"},           {"1.2.840.10045.4.3.1", "ecdsa-with-SHA224"},
    {"1.2.840.10045.4.3.2", "ecdsa-with-SHA256"},       {"1.2.840.10045.4.3.3", "ecdsa-with-SHA384"},
    {"1.2.840.10045.4.3.4", "ecdsa-with-SHA512"},       {"1.3.101.112", "Ed25519"},
    {"1.3.101.113", "Ed448"},                           {"1.2.840.10040.4.3", "dsaWithSHA1"},
    {"2.16.840.1.101.3.4.3.1", "dsa_with_SHA224"},      {"2.16.840.1.101.3.4.3.2", "dsa_with_SHA256"},
};

constexpr OidName kKeyNames[] = {
    {"1.2.840.113549.1.1.1", "RSA"}, {"1.2.840.113549.1.1.10", "RSASSA-PSS"}, {"1.2.840.10045.2.1", "EC"},
    {"1.3.101.112", "Ed25519"},      {"1.3.101.113", "Ed448"},               {"1.2.840.10040.4.1", "DSA"},
    {"1.3.101.110", "X25519"},       {"1.3.101.111", "X448"},
};

constexpr OidName kCurveNames[] = {
    {"1.2.840.10045.3.1.7", "prime256v1"}, {"1.3.132.0.34", "secp384r1"}, {"1.3.132.0.35", "secp521r1"},
    {"1.3.132.0.10", "secp256k1"},         {"1.2.840.10045.3.1.1", "prime192v1"}, {"1.3.132.0.33", "secp224r1"},
    {"1.3.36.3.3.2.8.1.1.7", "brainpoolP256r1"}, {"1.3.36.3.3.2.8.1.1.11", "brainpoolP384r1"},
    {"1.3.36.3.3.2.8.1.1.13", "brainpoolP512r1"},
};

constexpr OidName kExtensionNames[] = {
    {"2.5.29.17", "subjectAltName"},        {"2.5.29.18", "issuerAltName"},
    {"2.5.29.19", "basicConstraints"},      {"2.5.29.15", "keyUsage"},
    {"2.5.29.37", "extendedKeyUsage"},      {"2.5.29.14", "subjectKeyIdentifier"},
    {"2.5.29.35", "authorityKeyIdentifier"}, {"2.5.29.31", "cRLDistributionPoints"},
    {"2.5.29.32", "certificatePolicies"},   {"2.5.29.30", "nameConstraints"},
    {"2.5.29.33", "policyMappings"},        {"2.5.29.36", "policyConstraints"},
    {"2.5.29.54", "inhibitAnyPolicy"},      {"2.5.29.16", "privateKeyUsagePeriod"},
    {"2.5.29.9", "subjectDirectoryAttributes"}, {"2.5.29.46", "freshestCRL"},
    {"1.3.6.1.5.5.7.1.1", "authorityInfoAccess"}, {"1.3.6.1.5.5.7.1.11", "subjectInfoAccess"},
    {"1.3.6.1.4.1.11129.2.4.2", "ct_precert_scts"}, {"2.16.840.1.113730.1.1", "nsCertType"},
    {"2.16.840.1.113730.1.13", "nsComment"},
};

constexpr OidName kKeyPurposeNames[] = {
    {"1.3.6.1.5.5.7.3.1", "serverAuth"},      {"1.3.6.1.5.5.7.3.2", "clientAuth"},
    {"1.3.6.1.5.5.7.3.3", "codeSigning"},     {"1.3.6.1.5.5.7.3.4", "emailProtection"},
    {"1.3.6.1.5.5.7.3.8", "timeStamping"},    {"1.3.6.1.5.5.7.3.9", "OCSPSigning"},
    {"2.5.29.37.0", "anyExtendedKeyUsage"},
};

template <size_t N>
std::string NameOf(const OidName (&table)[N], const unsigned char* oid, uint32_t oidLength, bool* known = nullptr) {
  const std::string dotted = DottedOid(oid, oidLength);
  if (known != nullptr) *known = false;
  for (const OidName& entry : table) {
    if (dotted == entry.dotted) {
      if (known != nullptr) *known = true;
      return entry.name;
    }
  }
  return dotted.empty() ? std::string("?") : dotted;
}

}  // namespace

std::string Hex(const unsigned char* bytes, size_t length, const char* separator) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) text += separator;
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

namespace {

// A digest of |data| with the method |method| as colon-separated hex.
std::string Fingerprint(Q_INFO_TYPE info, const Q_ALGORITHM_METHOD* method, const unsigned char* data,
                        uint32_t length) {
  const Q_ALGORITHM_METHOD* const chooser[] = {method, nullptr};
  Q_ALGORITHM_OBJ object = nullptr;
  if (Q_CreateAlgorithmObject(&object) != 0) return {};
  unsigned char out[64];
  uint32_t outLength = 0;
  int status = Q_SetAlgorithmInfo(object, info, nullptr);
  if (status == 0) status = Q_DigestInit(object, nullptr, chooser, nullptr);
  if (status == 0) status = Q_DigestUpdate(object, data, length, nullptr);
  if (status == 0) status = Q_DigestFinal(object, out, &outLength, sizeof out, nullptr);
  Q_DestroyAlgorithmObject(&object);
  return status == 0 ? Hex(out, outLength, ":") : std::string();
}

void ReadName(C_NAME_OBJ name, std::vector<NamePair>& out) {
  uint32_t count = 0;
  if (C_GetNameAVACount(name, &count) != 0) return;
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* oid = nullptr;
    const unsigned char* value = nullptr;
    uint32_t oidLength = 0, valueTag = 0, valueLength = 0, newRDN = 0;
    if (C_GetNameAVA(name, i, &oid, &oidLength, &valueTag, &value, &valueLength, &newRDN) != 0) break;
    const char* shortName = AttributeShortName(oid, oidLength);
    out.push_back(NamePair{shortName != nullptr ? shortName : DottedOid(oid, oidLength),
                           NameValueUtf8(valueTag, value, valueLength)});
  }
}

std::string GeneralNameText(const C_GENERAL_NAME& name) {
  const std::string value(reinterpret_cast<const char*>(name.value.data), name.value.len);
  switch (name.kind) {
    case C_GN_DNS_NAME: return "DNS:" + value;
    case C_GN_RFC822_NAME: return "email:" + value;
    case C_GN_URI: return "URI:" + value;
    case C_GN_IP_ADDRESS: {
      std::string text = "IP:";
      if (name.value.len == 4) {
        for (uint32_t i = 0; i < 4; ++i) {
          if (i != 0) text += '.';
          text += std::to_string(name.value.data[i]);
        }
      } else {
        for (uint32_t i = 0; i < name.value.len; i += 2) {
          char group[8];
          std::snprintf(group, sizeof group, "%s%X", i ? ":" : "", (name.value.data[i] << 8) | name.value.data[i + 1]);
          text += group;
        }
      }
      return text;
    }
    case C_GN_REGISTERED_ID: return "RID:" + DottedOid(name.value.data, name.value.len);
    case C_GN_DIRECTORY_NAME: return "DirName";
    case C_GN_OTHER_NAME: return "othername";
    default: return "other (" + std::to_string(name.kind) + ")";
  }
}

// What an extension of a known kind says; with nothing understood, its
// value in hex.
std::vector<std::string> ExtensionValues(const std::string& name, const unsigned char* value, uint32_t length) {
  std::vector<std::string> out;
  if (name == "subjectAltName" || name == "issuerAltName") {
    uint32_t count = 0;
    // A first call counts the names (C_ERR_OUTPUT_SMALL), the second reads them.
    C_ReadSubjectAltName(value, length, nullptr, 0, &count);
    std::vector<C_GENERAL_NAME> names(count);
    if (count > 0 && C_ReadSubjectAltName(value, length, names.data(), count, &count) == 0) {
      for (const C_GENERAL_NAME& n : names) out.push_back(GeneralNameText(n));
      return out;
    }
  } else if (name == "basicConstraints") {
    C_BASIC_CONSTRAINTS bc;
    if (C_ReadBasicConstraints(value, length, &bc) == 0) {
      out.push_back(bc.cA ? "CA:TRUE" : "CA:FALSE");
      if (bc.pathLen >= 0) out.push_back("pathlen:" + std::to_string(bc.pathLen));
      return out;
    }
  } else if (name == "keyUsage") {
    static const char* const kBits[] = {"Digital Signature", "Non Repudiation", "Key Encipherment",
                                        "Data Encipherment", "Key Agreement",   "Certificate Sign",
                                        "CRL Sign",          "Encipher Only",   "Decipher Only"};
    uint32_t usage = 0;
    if (C_ReadKeyUsage(value, length, &usage) == 0) {
      for (uint32_t i = 0; i < 9; ++i) {
        if (usage & (1u << i)) out.push_back(kBits[i]);
      }
      return out;
    }
  } else if (name == "extendedKeyUsage") {
    uint32_t count = 0;
    C_ReadExtendedKeyUsage(value, length, nullptr, 0, &count);
    std::vector<C_ITEM> purposes(count);
    if (count > 0 && C_ReadExtendedKeyUsage(value, length, purposes.data(), count, &count) == 0) {
      for (const C_ITEM& p : purposes) out.push_back(NameOf(kKeyPurposeNames, p.data, p.len));
      return out;
    }
  } else if (name == "subjectKeyIdentifier") {
    C_ITEM id;
    if (C_ReadSubjectKeyIdentifier(value, length, &id) == 0) {
      out.push_back(Hex(id.data, id.len, ":"));
      return out;
    }
  } else if (name == "authorityKeyIdentifier") {
    C_AUTHORITY_KEY_ID aki;
    if (C_ReadAuthorityKeyIdentifier(value, length, &aki) == 0) {
      if (aki.keyIdentifier.data != nullptr) out.push_back(Hex(aki.keyIdentifier.data, aki.keyIdentifier.len, ":"));
      if (aki.certSerial.data != nullptr) out.push_back("serial:" + Hex(aki.certSerial.data, aki.certSerial.len, ""));
      return out;
    }
  }
  out.clear();
  // Long unknown values are shown by their size only.
  if (length <= 64) {
    out.push_back(Hex(value, length, ""));
  } else {
    out.push_back(std::to_string(length) + " bytes");
  }
  return out;
}

}  // namespace

std::string JsonString(const std::string& text) {
  const std::string shown = EscapeForDisplay(text);
  std::string out = "\"";
  for (char c : shown) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

std::string JsonNames(const std::vector<NamePair>& names) {
  std::string out = "[";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i != 0) out += ", ";
    out += "{\"type\": " + JsonString(names[i].type) + ", \"value\": " + JsonString(names[i].value) + "}";
  }
  return out + "]";
}

bool BrokenDown(int64_t seconds, struct tm* out) {
  const time_t t = static_cast<time_t>(seconds);
  return gmtime_r(&t, out) != nullptr;
}

}  // namespace

std::string SignatureAlgorithmName(const unsigned char* oid, uint32_t oidLength) {
  return NameOf(kSignatureNames, oid, oidLength);
}

std::string UtcDateText(int64_t seconds) {
  struct tm utc;
  if (!BrokenDown(seconds, &utc)) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d UTC", static_cast<long long>(utc.tm_year) + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string Rfc3339Text(int64_t seconds) {
  struct tm utc;
  if (!BrokenDown(seconds, &utc)) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(utc.tm_year) + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

int ReadCertDetails(C_CERT_OBJ certificate, CertDetails& details) {
  details = CertDetails{};
  C_CERT_FIELDS record;
  std::memset(&record, 0, sizeof record);
  int rc = C_GetCertFields(certificate, &record);
  if (rc != 0) return rc;
  const unsigned char* der = nullptr;
  uint32_t derLength = 0;
  if ((rc = C_GetCertDER(certificate, &der, &derLength)) != 0) return rc;
  details.version = record.version;
  details.serialHex = Hex(record.serialNumber.data, record.serialNumber.len, "");
  ReadName(record.subject, details.subject);
  ReadName(record.issuer, details.issuer);
  details.notBefore = record.notBefore;
  details.notAfter = record.notAfter;
  C_ITEM signatureOid;
  if (C_GetCertSignatureAlgorithmOID(certificate, &signatureOid) == 0) {
    details.signatureAlgorithm = SignatureAlgorithmName(signatureOid.data, signatureOid.len);
  }
  C_PUBLIC_KEY_INFO key;
  if (C_ReadPublicKeyInfo(record.publicKey.data, record.publicKey.len, &key) == 0) {
    details.keyAlgorithm = NameOf(kKeyNames, key.algorithm.data, key.algorithm.len);
    details.keyBits = key.rsaBits;
    if (key.parameterOID.len != 0) details.curve = NameOf(kCurveNames, key.parameterOID.data, key.parameterOID.len);
  }
  details.sha256 = Fingerprint(QA_SHA256, &QM_SHA256, der, derLength);
  details.sha1 = Fingerprint(QA_SHA1, &QM_SHA1, der, derLength);
  uint32_t count = 0;
  if (C_GetExtensionCount(record.extensions, &count) == 0) {
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char* oid = nullptr;
      const unsigned char* value = nullptr;
      uint32_t oidLength = 0, critical = 0, valueLength = 0;
      if (C_GetExtension(record.extensions, i, &oid, &oidLength, &critical, &value, &valueLength) != 0) break;
      ExtensionInfo info;
      info.oid = DottedOid(oid, oidLength);
      info.name = NameOf(kExtensionNames, oid, oidLength);
      info.critical = critical != 0;
      info.values = ExtensionValues(info.name, value, valueLength);
      details.extensions.push_back(std::move(info));
    }
  }
  details.present = true;
  return 0;
}

std::vector<std::string> CertDetailsLines(const CertDetails& d) {
  std::vector<std::string> lines;
  lines.push_back("Signature Algorithm: " + EscapeForDisplay(d.signatureAlgorithm));
  std::string key = "Public Key: " + EscapeForDisplay(d.keyAlgorithm);
  if (d.keyBits != 0) key += " (" + std::to_string(d.keyBits) + " bits)";
  if (!d.curve.empty()) key += " (" + EscapeForDisplay(d.curve) + ")";
  lines.push_back(key);
  lines.push_back("Valid From: " + UtcDateText(d.notBefore));
  lines.push_back("Valid Until: " + UtcDateText(d.notAfter));
  lines.push_back("SHA-256 Fingerprint: " + d.sha256);
  lines.push_back("SHA-1 Fingerprint: " + d.sha1);
  if (d.extensions.empty()) {
    lines.push_back("Extensions: none");
    return lines;
  }
  lines.push_back("Extensions:");
  for (const ExtensionInfo& e : d.extensions) {
    std::string line = "  " + EscapeForDisplay(e.name) + (e.critical ? " (critical)" : "") + ": ";
    for (size_t i = 0; i < e.values.size(); ++i) {
      if (i != 0) line += ", ";
      line += EscapeForDisplay(e.values[i]);
    }
    lines.push_back(line);
  }
  return lines;
}

std::string CertDetailsJson(const CertDetails& d) {
  std::string out = "{";
  out += "\"version\": " + std::to_string(d.version + 1);
  out += ", \"serial\": " + JsonString(d.serialHex);
  out += ", \"subject\": " + JsonNames(d.subject);
  out += ", \"issuer\": " + JsonNames(d.issuer);
  out += ", \"notBefore\": " + JsonString(Rfc3339Text(d.notBefore));
  out += ", \"notAfter\": " + JsonString(Rfc3339Text(d.notAfter));
  out += ", \"signatureAlgorithm\": " + JsonString(d.signatureAlgorithm);
  out += ", \"publicKeyAlgorithm\": " + JsonString(d.keyAlgorithm);
  if (d.keyBits != 0) out += ", \"publicKeyBits\": " + std::to_string(d.keyBits);
  if (!d.curve.empty()) out += ", \"curve\": " + JsonString(d.curve);
  out += ", \"sha256Fingerprint\": " + JsonString(d.sha256);
  out += ", \"sha1Fingerprint\": " + JsonString(d.sha1);
  out += ", \"extensions\": [";
  for (size_t i = 0; i < d.extensions.size(); ++i) {
    const ExtensionInfo& e = d.extensions[i];
    if (i != 0) out += ", ";
    out += "{\"name\": " + JsonString(e.name) + ", \"oid\": " + JsonString(e.oid) +
           ", \"critical\": " + (e.critical ? "true" : "false") + ", \"values\": [";
    for (size_t k = 0; k < e.values.size(); ++k) {
      if (k != 0) out += ", ";
      out += JsonString(e.values[k]);
    }
    out += "]}";
  }
  out += "]}";
  return out;
}

}  // namespace kvapp
