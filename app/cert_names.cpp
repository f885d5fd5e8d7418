#include "app/cert_names.h"

#include <cstring>

#include "app/utf8_text.h"

namespace kvapp {
namespace {

struct ShortName {
  const char* dotted;
  const char* name;
};

// Attribute types of RFC 5280 and RFC 4519 (and PKCS #9 emailAddress) by
// their usual short names, matched on the dotted form.
constexpr ShortName kShortNames[] = {
    {"2.5.4.6", "C"},        {"2.5.4.8", "ST"},          {"2.5.4.7", "L"},
    {"2.5.4.10", "O"},       {"2.5.4.11", "OU"},         {"2.5.4.3", "CN"},
    {"2.5.4.12", "T"},       {"2.5.4.5", "serialNumber"}, {"2.5.4.9", "street"},
    {"2.5.4.17", "postalCode"}, {"2.5.4.4", "SN"},       {"2.5.4.42", "givenName"},
    {"2.5.4.43", "initials"}, {"2.5.4.44", "generationQualifier"}, {"2.5.4.46", "dnQualifier"},
    {"2.5.4.65", "pseudonym"}, {"2.5.4.15", "businessCategory"}, {"2.5.4.97", "organizationIdentifier"},
    {"2.5.4.41", "name"},    {"2.5.4.13", "description"}, {"0.9.2342.19200300.100.1.25", "DC"},
    {"0.9.2342.19200300.100.1.1", "UID"}, {"1.2.840.113549.1.9.1", "emailAddress"},
};

// Appends code point |cp| to |out| as UTF-8; a surrogate or a value past
// U+10FFFF is appended as U+FFFD.
void AppendUtf8(uint32_t cp, std::string& out) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string LabelFor(const char* shortName, const unsigned char* oid, uint32_t oidLength) {
  if (shortName != nullptr) {
    if (std::strcmp(shortName, "C") == 0) return "Country = ";
    if (std::strcmp(shortName, "O") == 0) return "Organization = ";
    if (std::strcmp(shortName, "CN") == 0) return "Common Name = ";
    std::string label(shortName);
    label.append(" = ");
    return label;
  }
  std::string label = DottedOid(oid, oidLength);
  if (label.empty()) label.push_back('?');
  label.append(" = ");
  return label;
}

}  // namespace

const char* AttributeShortName(const unsigned char* oid, uint32_t oidLength) {
  if (oid == nullptr || oidLength == 0 || oidLength > 32) return nullptr;
  const std::string dotted = DottedOid(oid, oidLength);
  for (const ShortName& entry : kShortNames) {
    if (dotted == entry.dotted) return entry.name;
  }
  return nullptr;
}

std::string NameValueUtf8(uint32_t valueTag, const unsigned char* value, uint32_t valueLength) {
  std::string out;
  if (value == nullptr) return out;
  if (valueTag == C_TAG_BMP_STRING) {
    // UCS-2, big-endian; |valueLength| counts characters. Surrogate pairs
    // (UTF-16) are joined.
    for (uint32_t i = 0; i < valueLength; ++i) {
      uint32_t cp = (static_cast<uint32_t>(value[2 * i]) << 8) | value[2 * i + 1];
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < valueLength) {
        const uint32_t low = (static_cast<uint32_t>(value[2 * i + 2]) << 8) | value[2 * i + 3];
        if (low >= 0xDC00 && low <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
      AppendUtf8(cp, out);
    }
    return out;
  }
  if (valueTag == kTagUniversalString && valueLength % 4 == 0) {
    for (uint32_t i = 0; i + 3 < valueLength; i += 4) {
      AppendUtf8((static_cast<uint32_t>(value[i]) << 24) | (static_cast<uint32_t>(value[i + 1]) << 16) |
                     (static_cast<uint32_t>(value[i + 2]) << 8) | value[i + 3],
                 out);
    }
    return out;
  }
  // UTF8String, PrintableString, IA5String and the rest: the octets; what
  // is not UTF-8 is escaped later.
  out.assign(reinterpret_cast<const char*>(value), valueLength);
  if (valueTag != C_TAG_T61_STRING) return out;
  // A T61String written here holds UTF-8; other issuers write Latin-1 in
  // it, which is converted when the octets are not UTF-8.
  for (size_t pos = 0; pos < out.size();) {
    const size_t n = Utf8SequenceLength(out, pos);
    if (n == 0) {
      std::string latin1;
      for (uint32_t i = 0; i < valueLength; ++i) AppendUtf8(value[i], latin1);
      return latin1;
    }
    pos += n;
  }
  return out;
}

std::string DottedOid(const unsigned char* oid, uint32_t oidLength) {
  if (oid == nullptr || oidLength == 0 || (oid[oidLength - 1] & 0x80) != 0) return {};
  std::string out;
  uint64_t value = 0;
  bool first = true;
  for (uint32_t i = 0; i < oidLength; ++i) {
    if (value > (UINT64_MAX >> 7)) return {};  // arc too large to print
    value = (value << 7) | (oid[i] & 0x7F);
    if (oid[i] & 0x80) continue;
    if (first) {
      uint64_t top = value < 40 ? 0 : (value < 80 ? 1 : 2);
      out.append(std::to_string(top));
      out.push_back('.');
      out.append(std::to_string(value - top * 40));
      first = false;
    } else {
      out.push_back('.');
      out.append(std::to_string(value));
    }
    value = 0;
  }
  return out;
}

int FormatCertName(UserInterface& ui, C_NAME_OBJ name, std::string& text) {
  uint32_t count = 0;
  int rc = C_GetNameAVACount(name, &count);
  if (rc != 0) {
    ui.WriteOutputLine("C_GetNameAVACount failed");
    return rc;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* oid = nullptr;
    uint32_t oidLength = 0, valueTag = 0, valueLength = 0, newRDN = 0;
    const unsigned char* value = nullptr;
    if (C_GetNameAVA(name, i, &oid, &oidLength, &valueTag, &value, &valueLength, &newRDN) != 0) {
      ui.WriteOutputLine("Get AVA Value failed");
      break;
    }
    text += LabelFor(AttributeShortName(oid, oidLength), oid, oidLength);
    // The value's bytes as UTF-8 text, made safe for a screen: a zero byte
    // shows as \x00 with what follows it, so that nothing of the value hides.
    if (value != nullptr) text += EscapeForDisplay(NameValueUtf8(valueTag, value, valueLength));
    if (i + 1 < count) text += ", ";
  }
  return 0;
}

}  // namespace kvapp
