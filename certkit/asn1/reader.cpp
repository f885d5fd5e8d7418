// Identifier and length octets (X.690 8.1.2, 8.1.3) and the walk over nested
// elements that finds where an indefinite-length element ends.
#include "certkit/asn1/asn1.h"

namespace ck {

int AsnReadTagLength(const uint8_t* p, uint32_t avail, AsnHeader* header) {
  *header = AsnHeader{};
  if (p == nullptr || avail == 0) return kAsnErrTruncated;
  uint32_t pos = 0;
  header->ident = p[pos++];
  if ((header->ident & 0x1F) == 0x1F) {
    // High tag number: further octets while the top bit is set. Templates
    // cannot name such tags, but the element can be skipped or taken whole.
    for (;;) {
      if (pos >= avail) return kAsnErrTruncated;
      uint8_t octet = p[pos++];
      ++header->extraIdentOctets;
      if (header->extraIdentOctets > 5) return kAsnErrEncoding;
      if ((octet & 0x80) == 0) break;
    }
  }
  if (pos >= avail) return kAsnErrTruncated;
  uint8_t first = p[pos++];
  uint64_t length = 0;
  bool minimal = true;
  if (first < 0x80) {
    length = first;
  } else if (first == 0x80) {
    if ((header->ident & kAsnConstructed) == 0) return kAsnErrEncoding;
    header->indefinite = true;
    header->minimalLength = false;
    header->content = p + pos;
    return 0;
  } else {
    uint32_t count = first & 0x7F;
    if (count > 4) return kAsnErrTruncated;
    if (count > avail - pos) return kAsnErrTruncated;
    for (uint32_t i = 0; i < count; ++i) length = (length << 8) | p[pos + i];
    // Shortest form: no leading zero length octet, and the long form only
    // for lengths of 128 and more.
    minimal = p[pos] != 0 && length >= 0x80;
    pos += count;
  }
  if (length > avail - pos) return kAsnErrTruncated;
  header->content = p + pos;
  header->contentLen = static_cast<uint32_t>(length);
  header->totalLen = pos + static_cast<uint32_t>(length);
  header->minimalLength = minimal;
  return 0;
}

int AsnReadElement(const uint8_t* p, uint32_t avail, AsnHeader* header) {
  int status = AsnReadTagLength(p, avail, header);
  if (status != 0 || !header->indefinite) return status;
  // Walk the nested elements to the matching end-of-contents octets, without
  // recursion and with the nesting bounded.
  const uint32_t start = static_cast<uint32_t>(header->content - p);
  uint32_t pos = start;
  uint32_t depth = 1;
  for (;;) {
    if (avail - pos < 2) return kAsnErrTruncated;
    if (p[pos] == 0 && p[pos + 1] == 0) {
      pos += 2;
      if (--depth == 0) break;
      continue;
    }
    AsnHeader inner;
    status = AsnReadTagLength(p + pos, avail - pos, &inner);
    if (status != 0) return status;
    if (inner.indefinite) {
      if (++depth > kAsnMaxDepth) return kAsnErrEncoding;
      pos = static_cast<uint32_t>(inner.content - p);
    } else {
      pos += inner.totalLen;
    }
  }
  header->contentLen = pos - 2 - start;
  header->totalLen = pos;
  return 0;
}

int AsnParseExpected(ByteRange input, uint32_t ident, ByteRange* contents, uint32_t* totalLen) {
  AsnHeader header;
  int status = AsnReadElement(input.data, input.len, &header);
  if (status != 0) return status;
  if (header.ident != ident || header.extraIdentOctets != 0) return kAsnErrEncoding;
  contents->data = header.content;
  contents->len = header.contentLen;
  if (totalLen != nullptr) *totalLen = header.totalLen;
  return 0;
}

int AsnCompareEncodings(const uint8_t* a, uint32_t aLen, const uint8_t* b, uint32_t bLen) {
  uint32_t n = aLen < bLen ? aLen : bLen;
  for (uint32_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (aLen == bLen) return 0;
  return aLen < bLen ? -1 : 1;
}

}  // namespace ck
