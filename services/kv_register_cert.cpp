// Records an issued certificate in the register from its DER encoding: the
// register's columns (serial, subject, alternative names, dates,
// fingerprint) are all taken from the certificate itself, so what is
// recorded is what was issued.
#include <cstdio>
#include <string>

#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_register";

// Subject alternative names read per certificate; more are not listed.
constexpr uint32_t kMaxAltNames = 64;

const Q_ALGORITHM_METHOD* const kSha256Chooser[] = {&QM_SHA256, nullptr};

std::string Hex(const unsigned char* data, uint32_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * length);
  for (uint32_t i = 0; i < length; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

// The dotted form of an OID's content octets ("2.5.4.3"); empty when the
// octets are not a well-formed OID.
std::string DottedOid(const unsigned char* oid, uint32_t length) {
  std::string out;
  uint64_t value = 0;
  bool first = true;
  for (uint32_t i = 0; i < length; ++i) {
    if (value > (UINT64_MAX >> 7)) return std::string();
    value = (value << 7) | (oid[i] & 0x7Fu);
    if ((oid[i] & 0x80u) != 0) continue;
    if (first) {
      const uint64_t arc0 = value < 40 ? 0 : value < 80 ? 1 : 2;
      out = std::to_string(arc0);
      out += '.';
      out += std::to_string(value - 40 * arc0);
      first = false;
    } else {
      out += '.';
      out += std::to_string(value);
    }
    value = 0;
  }
  return (length != 0 && (oid[length - 1] & 0x80u) == 0) ? out : std::string();
}

// The usual short name of an attribute type, else its dotted OID.
std::string AttributeName(const unsigned char* oid, uint32_t length) {
  if (length == 3 && oid[0] == 0x55 && oid[1] == 0x04) {
    switch (oid[2]) {
      case 3: return "CN";
      case 6: return "C";
      case 7: return "L";
      case 8: return "ST";
      case 10: return "O";
      case 11: return "OU";
      default: break;
    }
  }
  return DottedOid(oid, length);
}

// A BMPString's characters (big-endian UTF-16 code units) as UTF-8;
// surrogate halves become U+FFFD.
std::string Utf8OfBmp(const unsigned char* value, uint32_t characters) {
  std::string out;
  for (uint32_t i = 0; i < characters; ++i) {
    uint32_t c = (static_cast<uint32_t>(value[2 * i]) << 8) | value[2 * i + 1];
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// "CN=web1, O=Acme, C=US": the name's attributes in reverse order, as
// RFC 4514 writes a distinguished name. Values are kept as they are; the
// display escapes them.
std::string NameText(C_NAME_OBJ name) {
  uint32_t count = 0;
  if (C_GetNameAVACount(name, &count) != 0) return std::string();
  std::string out;
  for (uint32_t i = count; i-- > 0;) {
    const unsigned char *oid = nullptr, *value = nullptr;
    uint32_t oidLength = 0, tag = 0, valueLength = 0, newRdn = 0;
    if (C_GetNameAVA(name, i, &oid, &oidLength, &tag, &value, &valueLength, &newRdn) != 0) continue;
    if (!out.empty()) out += ", ";
    out += AttributeName(oid, oidLength);
    out += '=';
    if (tag == C_TAG_BMP_STRING) {
      out += Utf8OfBmp(value, valueLength);
    } else {
      out.append(reinterpret_cast<const char*>(value), valueLength);
    }
  }
  return out;
}

// The subject alternative names, one a line: DNS names, e-mail addresses
// and URIs as they are, IP addresses in their usual text form.
std::string AltNamesText(C_EXTENSIONS_OBJ extensions) {
  const unsigned char* value = nullptr;
  uint32_t valueLength = 0;
  if (C_FindExtension(extensions, C_OID_SUBJECT_ALT_NAME, C_OID_EXT_LEN, nullptr, &value, &valueLength) != 0) {
    return std::string();
  }
  C_GENERAL_NAME names[kMaxAltNames];
  uint32_t count = 0;
  const int status = C_ReadSubjectAltName(value, valueLength, names, kMaxAltNames, &count);
  if (status != 0 && status != C_ERR_OUTPUT_SMALL) return std::string();
  if (count > kMaxAltNames) count = kMaxAltNames;
  std::string out;
  for (uint32_t i = 0; i < count; ++i) {
    const C_ITEM& v = names[i].value;
    std::string text;
    switch (names[i].kind) {
      case C_GN_DNS_NAME:
      case C_GN_RFC822_NAME:
      case C_GN_URI:
        text.assign(reinterpret_cast<const char*>(v.data), v.len);
        break;
      case C_GN_IP_ADDRESS:
        if (v.len == 4) {
          text = std::to_string(v.data[0]) + "." + std::to_string(v.data[1]) + "." + std::to_string(v.data[2]) +
                 "." + std::to_string(v.data[3]);
        } else {
          for (uint32_t k = 0; k < v.len; k += 2) {
            char group[8];
            std::snprintf(group, sizeof group, "%s%x", k == 0 ? "" : ":", (v.data[k] << 8) | v.data[k + 1]);
            text += group;
          }
        }
        break;
      default:
        continue;
    }
    if (!out.empty()) out += '\n';
    out += text;
  }
  return out;
}

// The SHA-256 of |der| in upper-case hexadecimal; empty on failure.
std::string Sha256Hex(const unsigned char* der, uint32_t length) {
  Q_ALGORITHM_OBJ digest = nullptr;
  unsigned char out[32];
  uint32_t outLength = 0;
  std::string hex;
  if (Q_CreateAlgorithmObject(&digest) == 0 && Q_SetAlgorithmInfo(digest, QA_SHA256, nullptr) == 0 &&
      Q_DigestInit(digest, nullptr, kSha256Chooser, nullptr) == 0 &&
      Q_DigestUpdate(digest, der, length, nullptr) == 0 &&
      Q_DigestFinal(digest, out, &outLength, sizeof out, nullptr) == 0 && outLength == sizeof out) {
    hex = Hex(out, outLength);
  }
  Q_DestroyAlgorithmObject(&digest);
  return hex;
}

}  // namespace

int errKVRegisterRecordCertificate(KV_REGISTER* reg, const unsigned char* der, int derLength, const char* path,
                                   const char* profile, int64_t now) {
  KV_TRACE("errKVRegisterRecordCertificate(): ENTER");
  if (reg == nullptr || der == nullptr || derLength <= 0 || path == nullptr || profile == nullptr) {
    return KV_REG_BAD_ARGUMENT;
  }
  C_CERT_OBJ certificate = nullptr;
  C_CERT_FIELDS fields{};
  int status = C_CreateCertObject(&certificate, nullptr);
  if (status == 0) status = C_SetCertBER(certificate, der, static_cast<uint32_t>(derLength));
  if (status == 0) status = C_GetCertFields(certificate, &fields);
  if (status != 0 || fields.serialNumber.len == 0) {
    KV_TRACE("errKVRegisterRecordCertificate(): Error reading the certificate [%d]", status);
    C_DestroyCertObject(&certificate);
    return KV_CERT_BAD_CERTIFICATE;
  }
  const std::string serial = Hex(fields.serialNumber.data, fields.serialNumber.len);
  const std::string subject = NameText(fields.subject);
  const std::string altNames = AltNamesText(fields.extensions);
  const std::string sha256 = Sha256Hex(der, static_cast<uint32_t>(derLength));
  KV_REGISTER_ENTRY entry{};
  entry.serialHex = serial.c_str();
  entry.subject = subject.c_str();
  entry.altNames = altNames.c_str();
  entry.notBefore = fields.notBefore;
  entry.notAfter = fields.notAfter;
  entry.path = path;
  entry.sha256Hex = sha256.c_str();
  entry.profile = profile;
  entry.der = der;
  entry.derLength = derLength;
  entry.recordedAt = now;
  status = sha256.empty() ? KV_CERT_OUT_OF_MEMORY : errKVRegisterAdd(reg, &entry);
  C_DestroyCertObject(&certificate);
  KV_TRACE("errKVRegisterRecordCertificate(): EXIT [%d]", status);
  return status;
}
