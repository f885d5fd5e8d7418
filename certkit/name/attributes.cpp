// The attribute table of names (X.520 attribute types, PKCS #9 e-mail
// address) and the validation every AVA passes before a name accepts it.
#include "certkit/name/name.h"

#include "cryptokit/qmemory.h"

namespace ck {

namespace {

// OBJECT IDENTIFIER content octets: 2.5.4.n is 55 04 n.
const uint8_t kOidSerialNumber[] = {0x55, 0x04, 0x05};
const uint8_t kOidCountry[] = {0x55, 0x04, 0x06};
const uint8_t kOidState[] = {0x55, 0x04, 0x08};
const uint8_t kOidLocality[] = {0x55, 0x04, 0x07};
const uint8_t kOidOrganization[] = {0x55, 0x04, 0x0A};
const uint8_t kOidOrgUnit[] = {0x55, 0x04, 0x0B};
const uint8_t kOidCommonName[] = {0x55, 0x04, 0x03};
const uint8_t kOidTitle[] = {0x55, 0x04, 0x0C};
const uint8_t kOidStreet[] = {0x55, 0x04, 0x09};
const uint8_t kOidPostalCode[] = {0x55, 0x04, 0x11};
// 1.2.840.113549.1.9.1
const uint8_t kOidEmail[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};

constexpr uint8_t P = C_TAG_PRINTABLE_STRING;
constexpr uint8_t T = C_TAG_T61_STRING;
constexpr uint8_t I = C_TAG_IA5_STRING;
constexpr uint8_t B = C_TAG_BMP_STRING;
// UTF8String (universal tag 12): written for organization and common name by
// the modern certificate profile.
constexpr uint8_t U = 12;
constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

const AttributeRow kRows[] = {
    {"serial number", kOidSerialNumber, 3, {P, 0, 0, 0}, 1, 64},
    {"country", kOidCountry, 3, {P, 0, 0, 0}, 2, 2},
    {"state or province", kOidState, 3, {P, T, 0, 0}, 1, 128},
    {"locality", kOidLocality, 3, {P, T, 0, 0}, 1, 128},
    {"organization", kOidOrganization, 3, {P, T, B, U}, 1, 64},
    {"organizational unit", kOidOrgUnit, 3, {P, T, B, 0}, 1, 64},
    {"common name", kOidCommonName, 3, {P, T, B, U}, 1, 64},
    {"title", kOidTitle, 3, {P, T, 0, 0}, 1, 64},
    {"street address", kOidStreet, 3, {P, T, 0, 0}, 1, 128},
    {"postal code", kOidPostalCode, 3, {P, T, 0, 0}, 1, 40},
    {"e-mail address", kOidEmail, 9, {I, 0, 0, 0}, 0, kNoLimit},
};

// PrintableString (X.680 41.4): letters, digits, space and ' ( ) + , - . / : = ?
bool IsPrintableChar(uint8_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case ' ': case '\'': case '(': case ')': case '+': case ',': case '-': case '.': case '/': case ':':
    case '=': case '?':
      return true;
    default:
      return false;
  }
}

}  // namespace

namespace {

// The characters of a T61String value. The program writes what was typed,
// which on this system is UTF-8, so a value that is well-formed UTF-8 counts
// its code points (64 accented letters are 64 characters, not 128); any
// other value counts its octets.
uint32_t T61Characters(const uint8_t* value, uint32_t len) {
  uint32_t count = 0;
  for (uint32_t i = 0; i < len; ++count) {
    const uint8_t lead = value[i];
    uint32_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 4;
    if (extra == 4 || lead == 0xC0 || lead == 0xC1 || lead > 0xF4 || extra > len - i - 1) return len;
    for (uint32_t k = 1; k <= extra; ++k) {
      if ((value[i + k] & 0xC0) != 0x80) return len;
    }
    // Overlong three- and four-octet forms, surrogates and values past U+10FFFF.
    if ((lead == 0xE0 && value[i + 1] < 0xA0) || (lead == 0xED && value[i + 1] > 0x9F) ||
        (lead == 0xF0 && value[i + 1] < 0x90) || (lead == 0xF4 && value[i + 1] > 0x8F)) {
      return len;
    }
    i += extra + 1;
  }
  return count;
}

}  // namespace

const AttributeRow* AttributeTable(uint32_t* rowCount) {
  *rowCount = sizeof(kRows) / sizeof(kRows[0]);
  return kRows;
}

const AttributeRow* FindAttribute(const uint8_t* oid, uint32_t oidLen) {
  for (const AttributeRow& row : kRows) {
    if (row.oidLen == oidLen && QMem_Compare(row.oid, oid, oidLen) == 0) return &row;
  }
  return nullptr;
}

int ValidateAVA(const uint8_t* oid, uint32_t oidLen, uint32_t valueTag, const uint8_t* value, uint32_t valueLen,
                const AttributeRow** row) {
  *row = nullptr;
  // A universal primitive tag below 31. Tag 0 is refused as well: a value
  // with tag 0 and no content would be written as end-of-contents octets.
  if (valueTag == 0 || valueTag >= 31 || (valueTag & kAsnConstructed) != 0) return C_ERR_VALUE_TAG;
  const AttributeRow* found = FindAttribute(oid, oidLen);
  if (found != nullptr) {
    bool allowed = false;
    for (uint8_t tag : found->tags) allowed = allowed || (tag != 0 && tag == valueTag);
    if (!allowed) return C_ERR_VALUE_TAG;
    // A UTF8String must be well-formed UTF-8 (T61Characters answers the octet
    // count for anything else); its length counts characters.
    if (valueTag == U && valueLen > 0 && T61Characters(value, valueLen) == valueLen) {
      for (uint32_t i = 0; i < valueLen; ++i) {
        if (value[i] >= 0x80) return C_ERR_VALUE_CHARS;
      }
    }
    const uint32_t characters =
        valueTag == C_TAG_T61_STRING || valueTag == U ? T61Characters(value, valueLen) : valueLen;
    if (characters < found->minLen || characters > found->maxLen) return C_ERR_VALUE_LENGTH;
  }
  if (valueTag == C_TAG_PRINTABLE_STRING) {
    for (uint32_t i = 0; i < valueLen; ++i) {
      if (!IsPrintableChar(value[i])) return C_ERR_VALUE_CHARS;
    }
  }
  *row = found;
  return 0;
}

}  // namespace ck
