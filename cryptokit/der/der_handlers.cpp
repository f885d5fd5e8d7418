// Decode and encode handlers of the DER codec, one pair per value type.
#include "cryptokit/der/der.h"

namespace qk::der {
namespace {

// Every byte value, so single-octet items (a leading zero, an unused-bits
// count, a shifted last byte) can point at stable storage.
struct ByteValues {
  unsigned char v[256];
  constexpr ByteValues() : v() {
    for (int i = 0; i < 256; ++i) v[i] = static_cast<unsigned char>(i);
  }
};
constexpr ByteValues kByteValues;

// Reads an INTEGER's contents as an unsigned magnitude: not empty, top bit of
// the first octet clear; leading zero octets skipped.
int Magnitude(const unsigned char* contents, uint32_t length, const unsigned char** magnitude, uint32_t* size) {
  if (length == 0 || (contents[0] & 0x80) != 0) return Q_ERR_INPUT_DATA;
  uint32_t skip = 0;
  while (skip < length && contents[skip] == 0) ++skip;
  *magnitude = contents + skip;
  *size = length - skip;
  return 0;
}

// Reads a magnitude that must fit in |width| bytes into |out|, zero-extended
// and big-endian.
int FixedWidth(const unsigned char* contents, uint32_t length, unsigned char* out, uint32_t width) {
  const unsigned char* magnitude;
  uint32_t size;
  int status = Magnitude(contents, length, &magnitude, &size);
  if (status != 0) return status;
  if (size > width) return Q_ERR_INPUT_DATA;
  QMem_Fill(out, 0, width - size);
  QMem_Copy(out + (width - size), magnitude, size);
  return 0;
}

// Appends an unsigned magnitude: leading zeros dropped, one 00 octet in front
// when nothing is left or the first byte has its top bit set.
int AppendUnsigned(DerEncoder* encoder, uint32_t identifier, const unsigned char* data, uint32_t length) {
  if (data == nullptr && length != 0) return Q_ERR_METHOD;
  uint32_t skip = 0;
  while (skip < length && data[skip] == 0) ++skip;
  const uint32_t size = length - skip;
  if (size == 0 || (data[skip] & 0x80) != 0) {
    int status = encoder->Append(&kByteValues.v[0], 1, identifier | (size != 0 ? kKindContinued : 0));
    if (status != 0 || size == 0) return status;
  }
  return encoder->Append(data + skip, size, identifier);
}

}  // namespace

int DecodeUnsigned(void* slot, uint32_t, const unsigned char* contents, uint32_t length) {
  const unsigned char* magnitude;
  uint32_t size;
  int status = Magnitude(contents, length, &magnitude, &size);
  if (status != 0) return status;
  auto* item = static_cast<Q_ITEM*>(slot);
  item->data = const_cast<unsigned char*>(magnitude);
  item->len = size;
  return 0;
}

int DecodeInt16(void* slot, uint32_t, const unsigned char* contents, uint32_t length) {
  return FixedWidth(contents, length, static_cast<unsigned char*>(slot), 2);
}

int DecodeInt32(void* slot, uint32_t, const unsigned char* contents, uint32_t length) {
  return FixedWidth(contents, length, static_cast<unsigned char*>(slot), 4);
}

int DecodeFixedSmall(void* slot, uint32_t, const unsigned char* contents, uint32_t length) {
  unsigned char value[2];
  int status = FixedWidth(contents, length, value, 2);
  if (status != 0) return status;
  const auto* required = static_cast<const unsigned char*>(slot);
  return value[0] == required[0] && value[1] == required[1] ? 0 : Q_ERR_INPUT_DATA;
}

int DecodeBitString(void* slot, uint32_t, const unsigned char* contents, uint32_t length) {
  if (length == 0) return Q_ERR_INPUT_DATA;
  const uint32_t unused = contents[0];
  if (unused > 7 || (unused != 0 && length < 2)) return Q_ERR_INPUT_DATA;
  auto* bits = static_cast<DerBitString*>(slot);
  bits->data = contents + 1;
  bits->length = length - 1;
  bits->unusedBits = unused;
  return 0;
}

int DecodeContents(void* slot, uint32_t, const unsigned char* contents, uint32_t length) {
  auto* item = static_cast<Q_ITEM*>(slot);
  item->data = const_cast<unsigned char*>(contents);
  item->len = length;
  return 0;
}

int EncodeUnsigned(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote) {
  const auto* item = static_cast<const Q_ITEM*>(slot);
  *wrote = true;
  return AppendUnsigned(encoder, identifier, item->data, item->len);
}

int EncodeInt16(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote) {
  *wrote = true;
  return AppendUnsigned(encoder, identifier, static_cast<const unsigned char*>(slot), 2);
}

int EncodeInt32(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote) {
  *wrote = true;
  return AppendUnsigned(encoder, identifier, static_cast<const unsigned char*>(slot), 4);
}

int EncodeFixedSmall(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote) {
  return EncodeInt16(encoder, identifier, slot, wrote);
}

int EncodeBitString(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote) {
  const auto* bits = static_cast<const DerBitString*>(slot);
  if (bits->unusedBits > 7 || (bits->unusedBits != 0 && bits->length == 0)) return Q_ERR_METHOD;
  if (bits->data == nullptr && bits->length != 0) return Q_ERR_METHOD;
  *wrote = true;
  const uint32_t more = bits->length != 0 ? kKindContinued : 0;
  int status = encoder->Append(&kByteValues.v[bits->unusedBits], 1, identifier | more);
  if (status != 0 || bits->length == 0) return status;
  if (bits->unusedBits == 0) return encoder->Append(bits->data, bits->length, identifier);
  // The last byte goes out shifted left by the unused-bit count.
  if (bits->length > 1) {
    status = encoder->Append(bits->data, bits->length - 1, identifier | kKindContinued);
    if (status != 0) return status;
  }
  const unsigned last = (static_cast<unsigned>(bits->data[bits->length - 1]) << bits->unusedBits) & 0xFF;
  return encoder->Append(&kByteValues.v[last], 1, identifier);
}

int EncodeContents(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote) {
  const auto* item = static_cast<const Q_ITEM*>(slot);
  *wrote = item->data != nullptr;
  if (!*wrote) return 0;
  if ((identifier & 0x20) == 0) return encoder->Append(item->data, item->len, identifier);
  // Constructed: the contents are written as they are inside the element.
  int status = encoder->Append(nullptr, 0, identifier);
  if (status == 0) status = encoder->Append(item->data, item->len, kKindPreEncoded);
  if (status == 0) status = encoder->Append(nullptr, 0, kKindEnd);
  return status;
}

int EncodeWhole(DerEncoder* encoder, uint32_t, const void* slot, bool* wrote) {
  const auto* item = static_cast<const Q_ITEM*>(slot);
  *wrote = item->data != nullptr;
  if (!*wrote) return 0;
  return encoder->Append(item->data, item->len, kKindPreEncoded);
}

}  // namespace qk::der
