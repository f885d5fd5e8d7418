#include "app/cert_names.h"

#include <cstring>

#include "app/utf8_text.h"

namespace kvapp {
namespace {

struct ShortName {
  unsigned char oid[3];
  const char* name;
};

// id-at attribute types (X.520), compared as their three content bytes.
constexpr ShortName kShortNames[] = {
    {{0x55, 0x04, 0x06}, "C"},  {{0x55, 0x04, 0x08}, "ST"}, {{0x55, 0x04, 0x07}, "L"},
    {{0x55, 0x04, 0x0A}, "O"},  {{0x55, 0x04, 0x0B}, "OU"}, {{0x55, 0x04, 0x03}, "CN"},
    {{0x55, 0x04, 0x0C}, "T"},
};

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
  if (oid == nullptr || oidLength != 3) return nullptr;
  for (const ShortName& entry : kShortNames) {
    if (std::memcmp(entry.oid, oid, 3) == 0) return entry.name;
  }
  return nullptr;
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
    if (value != nullptr) {
      text += EscapeForDisplay(std::string_view(reinterpret_cast<const char*>(value), valueLength));
    }
    if (i + 1 < count) text += ", ";
  }
  return 0;
}

}  // namespace kvapp
