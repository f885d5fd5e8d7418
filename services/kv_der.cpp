#include "services/kv_der.h"

namespace kvder {

Bytes Tlv(unsigned char tag, const unsigned char* contents, size_t length) {
  Bytes out;
  out.reserve(length + 6);
  out.push_back(tag);
  if (length < 0x80) {
    out.push_back(static_cast<unsigned char>(length));
  } else {
    int count = 0;
    for (size_t v = length; v != 0; v >>= 8) ++count;
    out.push_back(static_cast<unsigned char>(0x80 | count));
    for (int i = count; i > 0; --i) out.push_back(static_cast<unsigned char>(length >> (8 * (i - 1))));
  }
  if (length > 0) out.insert(out.end(), contents, contents + length);
  return out;
}

Bytes Cat(std::initializer_list<const Bytes*> parts) {
  size_t total = 0;
  for (const Bytes* p : parts) total += p->size();
  Bytes out;
  out.reserve(total);
  for (const Bytes* p : parts) out.insert(out.end(), p->begin(), p->end());
  return out;
}

Bytes Seq(std::initializer_list<const Bytes*> parts) {
  const Bytes contents = Cat(parts);
  return Tlv(kSequence, contents);
}

Bytes Integer(uint32_t value) {
  unsigned char raw[5] = {0, static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                          static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  size_t start = 0;
  // Drop leading zero bytes unless the next byte would read as negative.
  while (start < 4 && raw[start] == 0 && (raw[start + 1] & 0x80) == 0) ++start;
  return Tlv(kInteger, raw + start, 5 - start);
}

bool Next(const unsigned char** at, const unsigned char* end, unsigned char tag, Span* contents, Span* whole) {
  const unsigned char* p = *at;
  if (p == nullptr || end - p < 2 || p[0] != tag) return false;
  size_t length = p[1];
  size_t header = 2;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || static_cast<size_t>(end - p) < 2 + count || p[2] == 0) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | p[2 + i];
    if (length < 0x80) return false;
    header = 2 + count;
  }
  if (static_cast<size_t>(end - p) - header < length) return false;
  contents->data = p + header;
  contents->length = length;
  if (whole != nullptr) {
    whole->data = p;
    whole->length = header + length;
  }
  *at = p + header + length;
  return true;
}

}  // namespace kvder
