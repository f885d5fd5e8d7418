// The table-driven DER reader and writer: element headers, template walking,
// the encoder's element list, length computation and backward writing.
#include <algorithm>

#include "cryptokit/der/der.h"

namespace qk::der {
namespace {

// The address slots may hold to mark an element as not present.
const unsigned char kAbsentMarker = 0;

// Lengths above this cannot be written in the forms the writer uses.
constexpr uint32_t kMaxWritableLength = 0xFFFF;
constexpr int kWriteTooLong = 12;

bool OpensBody(uint32_t tag) {
  if ((tag & kTagWhole) != 0 || tag == kTagEnd) return false;
  uint32_t id = tag & 0xFF;
  return id == kTagSequence || id == kTagSet;
}

void* SlotOf(const DerEntry* entry, void* const* slots) {
  return entry->slot == 0 || slots == nullptr ? nullptr : slots[entry->slot];
}

uint32_t HeaderLength(uint32_t contentsLength) {
  if (contentsLength < 0x80) return 2;
  if (contentsLength < 0x100) return 3;
  return 4;
}

int ReadHeader(const unsigned char* input, uint32_t available, int depth, uint32_t* identifier,
               const unsigned char** contents, uint32_t* contentsLength, uint32_t* totalLength) {
  if (input == nullptr || available == 0) return kReadTruncated;
  uint32_t pos = 0;
  const unsigned char first = input[pos++];
  if ((first & 0x1F) == 0x1F) {
    // High tag number: further octets while their top bit is set.
    unsigned char octet;
    do {
      if (pos >= available) return kReadTruncated;
      octet = input[pos++];
    } while ((octet & 0x80) != 0);
  }
  if (pos >= available) return kReadTruncated;
  const unsigned char lengthOctet = input[pos++];
  uint32_t length;
  if (lengthOctet < 0x80) {
    length = lengthOctet;
  } else if (lengthOctet == 0x81) {
    if (available - pos < 1) return kReadTruncated;
    length = input[pos++];
  } else if (lengthOctet == 0x82) {
    if (available - pos < 2) return kReadTruncated;
    length = (static_cast<uint32_t>(input[pos]) << 8) | input[pos + 1];
    pos += 2;
  } else if (lengthOctet == 0x80) {
    // Indefinite: only for a constructed element, which then ends at an
    // end-of-contents pair found by walking the nested elements.
    if ((first & 0x20) == 0) return kReadBadEncoding;
    if (depth >= kMaxIndefiniteDepth) return kReadBadEncoding;
    uint32_t walk = pos;
    for (;;) {
      if (available - walk < 2) return kReadTruncated;
      if (input[walk] == 0) {
        if (input[walk + 1] != 0) return kReadBadEncoding;
        *identifier = first;
        *contents = input + pos;
        *contentsLength = walk - pos;
        *totalLength = walk + 2;
        return 0;
      }
      uint32_t nestedId, nestedLength, nestedTotal;
      const unsigned char* nestedContents;
      int status = ReadHeader(input + walk, available - walk, depth + 1, &nestedId, &nestedContents,
                              &nestedLength, &nestedTotal);
      if (status != 0) return status;
      walk += nestedTotal;
    }
  } else {
    return kReadBadEncoding;
  }
  if (length > available - pos) return kReadTruncated;
  *identifier = first;
  *contents = input + pos;
  *contentsLength = length;
  *totalLength = pos + length;
  return 0;
}

int DecodeEntry(const DerEntry* entry, void* const* slots, const unsigned char* input, uint32_t available,
                uint32_t* consumed);

// Decodes the entries of a body, starting at |first|, over |contents|.
int DecodeBody(const DerEntry* first, void* const* slots, const unsigned char* contents, uint32_t length) {
  uint32_t pos = 0;
  for (const DerEntry* entry = first; entry->tag != kTagEnd; entry += TemplateWidth(entry)) {
    if (pos == length) {
      // Entries left over at the end of the contents must be optional.
      if ((entry->tag & kTagOptional) == 0 && SlotOf(entry, slots) != DerAbsent()) return Q_ERR_INPUT_DATA;
      continue;
    }
    uint32_t used = 0;
    int status = DecodeEntry(entry, slots, contents + pos, length - pos, &used);
    if (status != 0) return status;
    pos += used;
  }
  return pos == length ? 0 : Q_ERR_INPUT_DATA;
}

int DecodeEntry(const DerEntry* entry, void* const* slots, const unsigned char* input, uint32_t available,
                uint32_t* consumed) {
  *consumed = 0;
  void* slot = SlotOf(entry, slots);
  if (slot == DerAbsent()) return 0;
  uint32_t identifier, contentsLength, total;
  const unsigned char* contents;
  if (ReadIdentifierAndLength(input, available, &identifier, &contents, &contentsLength, &total) != 0) {
    return Q_ERR_INPUT_DATA;
  }
  const uint32_t expected = entry->tag & 0xFF;
  if (expected != kTagAny && identifier != expected) {
    return (entry->tag & kTagOptional) != 0 ? 0 : Q_ERR_INPUT_DATA;
  }
  if (OpensBody(entry->tag)) {
    int status = DecodeBody(entry + 1, slots, contents, contentsLength);
    if (status != 0) return status;
  }
  if (slot != nullptr) {
    if (entry->decode == nullptr) {
      auto* whole = static_cast<Q_ITEM*>(slot);
      whole->data = const_cast<unsigned char*>(input);
      whole->len = total;
    } else {
      int status = entry->decode(slot, identifier, contents, contentsLength);
      if (status != 0) return status;
    }
  }
  *consumed = total;
  return 0;
}

int EncodeEntry(DerEncoder* encoder, const DerEntry* entry, void* const* slots) {
  void* slot = SlotOf(entry, slots);
  if (slot == DerAbsent()) return 0;
  const uint32_t identifier = entry->tag & 0xFF;
  if (OpensBody(entry->tag)) {
    int status = encoder->Append(nullptr, 0, identifier);
    if (status != 0) return status;
    for (const DerEntry* child = entry + 1; child->tag != kTagEnd; child += TemplateWidth(child)) {
      status = EncodeEntry(encoder, child, slots);
      if (status != 0) return status;
    }
    return encoder->Append(nullptr, 0, kKindEnd);
  }
  bool wrote = false;
  if (slot != nullptr) {
    EncodeHandler handler = entry->encode != nullptr ? entry->encode : EncodeWhole;
    int status = handler(encoder, identifier, slot, &wrote);
    if (status != 0) return status;
  }
  if (!wrote && (entry->tag & kTagOptional) == 0) return Q_ERR_METHOD;
  return 0;
}

bool IsConstructedItem(uint32_t kind) {
  return kind != kKindPreEncoded && kind != kKindEnd && (kind & 0x20) != 0;
}

// Computes the length of the element that starts at item |i| (and of every
// element nested in it, innermost first), storing contents lengths in the
// items' |extra|.
int Measure(DerItem* items, uint32_t count, uint32_t i, uint32_t* next, uint32_t* total) {
  DerItem& item = items[i];
  if (item.kind == kKindPreEncoded) {
    *total = item.length;
    *next = i + 1;
    return 0;
  }
  if (item.kind == kKindEnd) return Q_ERR_METHOD;
  uint32_t contents = 0;
  uint32_t j;
  if (IsConstructedItem(item.kind)) {
    j = i + 1;
    while (j < count && items[j].kind != kKindEnd) {
      uint32_t nested = 0;
      int status = Measure(items, count, j, &j, &nested);
      if (status != 0) return status;
      contents += nested;
      if (contents > kMaxElementLength) return Q_ERR_DER_TOO_LONG;
    }
    if (j >= count) return Q_ERR_METHOD;
  } else {
    j = i;
    for (;;) {
      contents += items[j].length;
      if (contents > kMaxElementLength) return Q_ERR_DER_TOO_LONG;
      if ((items[j].kind & kKindContinued) == 0) break;
      if (++j >= count) return Q_ERR_METHOD;
    }
  }
  item.extra = contents;
  *total = HeaderLength(contents) + contents;
  if (*total > kMaxElementLength) return Q_ERR_DER_TOO_LONG;
  *next = j + 1;
  return 0;
}

int CompareEncodings(const unsigned char* a, uint32_t aLength, const unsigned char* b, uint32_t bLength) {
  int c = QMem_Compare(a, b, std::min(aLength, bLength));
  if (c != 0) return c;
  return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
}

int ElementLength(const unsigned char* at, uint32_t available, uint32_t* length) {
  uint32_t id, contentsLength;
  const unsigned char* contents;
  return ReadIdentifierAndLength(at, available, &id, &contents, &contentsLength, length) == 0 ? 0 : Q_ERR_METHOD;
}

// Puts the elements of a SET's contents in ascending order of their
// encodings, in place (selection of the smallest, moved by rotation).
int SortSetContents(unsigned char* region, uint32_t length) {
  uint32_t start = 0;
  while (start < length) {
    uint32_t best = start, bestLength = 0;
    int status = ElementLength(region + start, length - start, &bestLength);
    if (status != 0) return status;
    for (uint32_t at = start + bestLength; at < length;) {
      uint32_t elementLength = 0;
      status = ElementLength(region + at, length - at, &elementLength);
      if (status != 0) return status;
      if (CompareEncodings(region + at, elementLength, region + best, bestLength) < 0) {
        best = at;
        bestLength = elementLength;
      }
      at += elementLength;
    }
    if (best != start) std::rotate(region + start, region + best, region + best + bestLength);
    start += bestLength;
  }
  return 0;
}

// Writes the measured items backwards from the end of |buffer| (|total|
// bytes).
int WriteBackwards(const DerItem* items, uint32_t count, unsigned char* buffer, uint32_t total) {
  uint32_t pos = total;
  for (uint32_t i = count; i-- > 0;) {
    const DerItem& item = items[i];
    if (item.kind == kKindEnd) continue;
    if (item.kind == kKindPreEncoded) {
      pos -= item.length;
      QMem_Copy(buffer + pos, item.data, item.length);
      continue;
    }
    const uint32_t identifier = item.kind & 0xFF;
    bool writeHeader = true;
    if (IsConstructedItem(item.kind)) {
      if (identifier == kTagSet) {
        int status = SortSetContents(buffer + pos, item.extra);
        if (status != 0) return status;
      }
    } else {
      pos -= item.length;
      QMem_Copy(buffer + pos, item.data, item.length);
      // Only the first item of a continued content carries the header.
      writeHeader = i == 0 || (items[i - 1].kind & kKindContinued) == 0;
    }
    if (writeHeader) {
      uint32_t header = HeaderLength(item.extra), written = 0;
      pos -= header;
      int status = WriteIdentifierAndLength(identifier, item.extra, nullptr, buffer + pos, header, &written);
      if (status != 0) return Q_ERR_METHOD;
    }
  }
  return pos == 0 ? 0 : Q_ERR_METHOD;
}

}  // namespace

void* DerAbsent() { return const_cast<unsigned char*>(&kAbsentMarker); }

int ReadIdentifierAndLength(const unsigned char* input, uint32_t available, uint32_t* identifier,
                            const unsigned char** contents, uint32_t* contentsLength, uint32_t* totalLength) {
  return ReadHeader(input, available, 0, identifier, contents, contentsLength, totalLength);
}

int WriteIdentifierAndLength(uint32_t identifier, uint32_t contentsLength, const unsigned char* contents,
                             unsigned char* output, uint32_t capacity, uint32_t* total) {
  if (contentsLength > kMaxWritableLength) return kWriteTooLong;
  const uint32_t header = HeaderLength(contentsLength);
  *total = header + contentsLength;
  if (output == nullptr) return 0;
  if (capacity < header || (contents != nullptr && capacity - header < contentsLength)) return kWriteTooSmall;
  output[0] = static_cast<unsigned char>(identifier);
  if (header == 2) {
    output[1] = static_cast<unsigned char>(contentsLength);
  } else if (header == 3) {
    output[1] = 0x81;
    output[2] = static_cast<unsigned char>(contentsLength);
  } else {
    output[1] = 0x82;
    output[2] = static_cast<unsigned char>(contentsLength >> 8);
    output[3] = static_cast<unsigned char>(contentsLength);
  }
  if (contents != nullptr) QMem_Move(output + header, contents, contentsLength);
  return 0;
}

uint32_t TemplateWidth(const DerEntry* entry) {
  if (!OpensBody(entry->tag)) return 1;
  uint32_t depth = 1;
  uint32_t i = 1;
  for (;; ++i) {
    if (entry[i].tag == kTagEnd) {
      if (--depth == 0) return i + 1;
    } else if (OpensBody(entry[i].tag)) {
      ++depth;
    }
  }
}

DerEncoder::~DerEncoder() { QMem_SecureRelease(items_); }

int DerEncoder::Append(const unsigned char* data, uint32_t length, uint32_t kind) {
  if (length > kMaxElementLength) return Q_ERR_DER_TOO_LONG;
  if (count_ == capacity_) {
    const uint32_t capacity = count_ + 10;
    if (capacity * kItemPointerBytes > kMaxItemPointerBytes) return Q_ERR_DER_TOO_LONG;
    auto* grown = static_cast<DerItem*>(QMem_Allocate(static_cast<uint32_t>(capacity * sizeof(DerItem))));
    if (grown == nullptr) return Q_ERR_ALLOC;
    QMem_Copy(grown, items_, static_cast<uint32_t>(count_ * sizeof(DerItem)));
    QMem_SecureRelease(items_);
    items_ = grown;
    capacity_ = capacity;
  }
  items_[count_++] = DerItem{data, length, kind, 0};
  return 0;
}

int Decode(const DerEntry* tmpl, void* const* slots, const unsigned char* input, uint32_t length,
           uint32_t* consumed) {
  uint32_t used = 0;
  int status = DecodeEntry(tmpl, slots, input, length, &used);
  if (consumed != nullptr) *consumed = status == 0 ? used : 0;
  return status;
}

int DecodeExact(const DerEntry* tmpl, void* const* slots, const unsigned char* input, uint32_t length) {
  uint32_t used = 0;
  int status = Decode(tmpl, slots, input, length, &used);
  if (status != 0) return status;
  return used == length ? 0 : Q_ERR_INPUT_DATA;
}

int Encode(const DerEntry* tmpl, void* const* slots, const DerSink& sink) {
  DerEncoder encoder;
  int status = EncodeEntry(&encoder, tmpl, slots);
  if (status != 0) return status;
  if (encoder.count() == 0) return Q_ERR_METHOD;
  uint32_t next = 0, total = 0;
  status = Measure(encoder.items(), encoder.count(), 0, &next, &total);
  if (status != 0) return status;
  if (next != encoder.count()) return Q_ERR_METHOD;
  if (total > kMaxTotalLength) return Q_ERR_DER_TOO_LONG;
  auto* buffer = static_cast<unsigned char*>(QMem_Allocate(total));
  if (buffer == nullptr) return Q_ERR_ALLOC;
  status = WriteBackwards(encoder.items(), encoder.count(), buffer, total);
  if (status == 0) status = sink.put(sink.context, buffer, total);
  QMem_SecureRelease(buffer);
  return status;
}

namespace {

int PutInBuffer(void* context, const unsigned char* data, uint32_t length) {
  auto* target = static_cast<BufferSink*>(context);
  if (target->length != nullptr) *target->length = length;
  if (target->buffer == nullptr || target->capacity < length) return Q_ERR_OUTPUT_LEN;
  QMem_Copy(target->buffer, data, length);
  return 0;
}

int PutInOwnedBlock(void* context, const unsigned char* data, uint32_t length) {
  auto* target = static_cast<OwnedSink*>(context);
  unsigned char* block = OwnedCopy(target->memory, data, length);
  if (block == nullptr) return Q_ERR_ALLOC;
  target->out->data = block;
  target->out->len = length;
  return 0;
}

}  // namespace

DerSink ToBuffer(BufferSink* target) { return DerSink{PutInBuffer, target}; }
DerSink ToOwnedBlock(OwnedSink* target) { return DerSink{PutInOwnedBlock, target}; }

}  // namespace qk::der
