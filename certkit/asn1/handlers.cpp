// The standard handler pairs plugged into templates: integers, booleans,
// contents, bit strings and raw elements (X.690 8.2, 8.3, 8.6).
#include "certkit/asn1/asn1.h"

namespace ck {

namespace {

const uint8_t kZero = 0x00;
const uint8_t kTrue = 0xFF;

// Unsigned INTEGER content: non-empty and not negative.
int CheckUnsignedInteger(const uint8_t* content, uint32_t len) {
  if (len == 0 || (content[0] & 0x80) != 0) return kAsnErrEncoding;
  return 0;
}

// Appends the INTEGER of a big-endian magnitude: leading zero octets
// stripped, one zero octet prepended when the value is empty or its first
// octet has the top bit set. |data| must outlive the list.
int AppendUnsigned(ElementList* list, uint32_t ident, const uint8_t* data, uint32_t len) {
  while (len > 0 && data[0] == 0) {
    ++data;
    --len;
  }
  if (len == 0 || (data[0] & 0x80) != 0) {
    int status = ElementAppendContent(list, ident, &kZero, 1, len != 0);
    if (status != 0 || len == 0) return status;
  }
  return ElementAppendContent(list, ident, data, len);
}

int AppendUnsignedCopy(ElementList* list, uint32_t ident, uint64_t value, uint32_t octets) {
  uint8_t bytes[8];
  for (uint32_t i = 0; i < octets; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (octets - 1 - i)));
  uint8_t* copy = ElementListCopy(list, bytes, octets);
  if (copy == nullptr) return kAsnErrMemory;
  return AppendUnsigned(list, ident, copy, octets);
}

int DecodeBits(const uint8_t* content, uint32_t len, void* slot) {
  // First octet: unused bits, 0 to 7, and then at least one further octet.
  if (len == 0 || content[0] > 7 || (content[0] != 0 && len < 2)) return kAsnErrEncoding;
  if (slot != nullptr) {
    auto* bits = static_cast<C_BITSTRING*>(slot);
    bits->data = len > 1 ? content + 1 : nullptr;
    bits->len = len - 1;
    bits->unusedBits = content[0];
  }
  return 0;
}

int AppendBits(ElementList* list, uint32_t ident, const uint8_t* data, uint32_t len, uint32_t unused) {
  uint8_t* body = nullptr;
  if (len > 0xFFFFFFFEu) return kAsnErrOverflow;
  uint8_t header = static_cast<uint8_t>(unused);
  // One scratch block holds the unused-bits octet and the value, so the last
  // octet's unused bits can be cleared without touching the caller's bytes.
  body = ElementListCopy(list, &header, 1);
  if (body == nullptr) return kAsnErrMemory;
  if (len == 0) return ElementAppendContent(list, ident, body, 1);
  uint8_t* value = ElementListCopy(list, data, len);
  if (value == nullptr) return kAsnErrMemory;
  value[len - 1] &= static_cast<uint8_t>(0xFF << unused);
  int status = ElementAppendContent(list, ident, body, 1, true);
  if (status != 0) return status;
  return ElementAppendContent(list, ident, value, len);
}

}  // namespace

int AsnDecodeSmallInt(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content, uint32_t len,
                      void* slot) {
  if (len > 2) return kAsnErrEncoding;
  int status = CheckUnsignedInteger(content, len);
  if (status != 0) return status;
  uint32_t value = 0;
  for (uint32_t i = 0; i < len; ++i) value = (value << 8) | content[i];
  if (slot != nullptr) *static_cast<uint16_t*>(slot) = static_cast<uint16_t>(value);
  return 0;
}

int AsnEncodeSmallInt(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  return AppendUnsignedCopy(list, ident & 0xFF, *static_cast<const uint16_t*>(slot), 2);
}

int AsnDecodeUint32(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content, uint32_t len,
                    void* slot) {
  int status = CheckUnsignedInteger(content, len);
  if (status != 0) return status;
  // Values from 2^31 need a leading zero octet in DER, so five octets are
  // read when the first is that zero.
  if (len > 4 && !(len == 5 && content[0] == 0 && (content[1] & 0x80) != 0)) return kAsnErrEncoding;
  uint32_t value = 0;
  for (uint32_t i = 0; i < len; ++i) value = (value << 8) | content[i];
  if (slot != nullptr) *static_cast<uint32_t*>(slot) = value;
  return 0;
}

int AsnEncodeUint32(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  return AppendUnsignedCopy(list, ident & 0xFF, *static_cast<const uint32_t*>(slot), 4);
}

int AsnDecodeFixedInt(uint32_t ident, uint32_t options, uint32_t index, const uint8_t* element, uint32_t elementLen,
                      const uint8_t* content, uint32_t len, void* slot) {
  uint16_t value = 0;
  int status = AsnDecodeSmallInt(ident, options, index, element, elementLen, content, len, &value);
  if (status != 0) return status;
  if (slot != nullptr && value != *static_cast<const uint16_t*>(slot)) return kAsnErrEncoding;
  return 0;
}

int AsnDecodeBigUnsigned(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content,
                         uint32_t len, void* slot) {
  int status = CheckUnsignedInteger(content, len);
  if (status != 0) return status;
  while (len > 1 && content[0] == 0) {
    ++content;
    --len;
  }
  if (slot != nullptr) *static_cast<ByteRange*>(slot) = ByteRange{content, len};
  return 0;
}

int AsnEncodeBigUnsigned(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  const auto* range = static_cast<const ByteRange*>(slot);
  if (range->data == nullptr && range->len != 0) return kAsnErrArgument;
  return AppendUnsigned(list, ident & 0xFF, range->data, range->len);
}

int AsnDecodeBoolean(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content, uint32_t len,
                     void* slot) {
  if (len != 1) return kAsnErrEncoding;
  if (slot != nullptr) *static_cast<uint32_t*>(slot) = content[0] != 0;
  return 0;
}

int AsnEncodeBoolean(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  return ElementAppendContent(list, ident & 0xFF, *static_cast<const uint32_t*>(slot) ? &kTrue : &kZero, 1);
}

int AsnDecodeBooleanDefaultFalse(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content,
                                 uint32_t len, void* slot) {
  // Takes the first content octet without the one-octet rule; an empty
  // content has no octet to take.
  if (len == 0) return kAsnErrEncoding;
  if (slot != nullptr) *static_cast<uint32_t*>(slot) = content[0] != 0;
  return 0;
}

int AsnEncodeBooleanDefaultFalse(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr || *static_cast<const uint32_t*>(slot) == 0) return 0;
  return ElementAppendContent(list, ident & 0xFF, &kTrue, 1);
}

int AsnDecodeContents(uint32_t ident, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content,
                      uint32_t len, void* slot) {
  if ((ident & kAsnConstructed) != 0) return kAsnErrEncoding;
  if (slot != nullptr) *static_cast<ByteRange*>(slot) = ByteRange{content, len};
  return 0;
}

int AsnEncodeContents(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  const auto* range = static_cast<const ByteRange*>(slot);
  if (range->data == nullptr) return 0;
  return ElementAppendContent(list, ident & 0xFF, range->data, range->len);
}

int AsnDecodeBitString(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content, uint32_t len,
                       void* slot) {
  return DecodeBits(content, len, slot);
}

int AsnEncodeBitString(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  const auto* bits = static_cast<const C_BITSTRING*>(slot);
  if (bits->data == nullptr && bits->len == 0 && bits->unusedBits == 0) return 0;
  if (bits->unusedBits > 7 || (bits->unusedBits != 0 && bits->len == 0) || (bits->data == nullptr && bits->len != 0)) {
    return kAsnErrArgument;
  }
  return AppendBits(list, ident & 0xFF, bits->data, bits->len, bits->unusedBits);
}

int AsnEncodeNamedBitString(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  const auto* bits = static_cast<const C_BITSTRING*>(slot);
  if (bits->unusedBits > 7 || (bits->unusedBits != 0 && bits->len == 0) || (bits->data == nullptr && bits->len != 0)) {
    return kAsnErrArgument;
  }
  // Trailing zero bits are not part of a named-bit value (X.690 11.2.2).
  uint32_t len = bits->len;
  uint32_t unused = bits->unusedBits;
  uint8_t last = len > 0 ? static_cast<uint8_t>(bits->data[len - 1] & (0xFF << unused)) : 0;
  while (len > 0 && last == 0) {
    --len;
    unused = 0;
    last = len > 0 ? bits->data[len - 1] : 0;
  }
  if (len == 0) return AppendBits(list, ident & 0xFF, nullptr, 0, 0);
  while ((last & (1u << unused)) == 0) ++unused;
  return AppendBits(list, ident & 0xFF, bits->data, len, unused);
}

int AsnDecodeRaw(uint32_t, uint32_t, uint32_t, const uint8_t* element, uint32_t elementLen, const uint8_t*, uint32_t,
                 void* slot) {
  if (slot != nullptr) *static_cast<ByteRange*>(slot) = ByteRange{element, elementLen};
  return 0;
}

int AsnEncodeRaw(ElementList* list, uint32_t, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  const auto* range = static_cast<const ByteRange*>(slot);
  if (range->data == nullptr || range->len == 0) return 0;
  return ElementAppendRaw(list, range->data, range->len);
}

}  // namespace ck
