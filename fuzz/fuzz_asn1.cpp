// The certificate toolkit's ASN.1 codec on arbitrary bytes, through its
// raw-element reader and its DER normalisation with the Name template.
//
// Properties:
// - the element reader stays inside the input and agrees with the
//   tag-and-length reader for definite lengths;
// - normalisation output normalises to itself (idempotent);
// - when the input decodes with the Name template, the normalised output
//   decodes too, and when the input was already DER (normalising gives it
//   back), it decoded before exactly when it decodes now.
#include <cstdint>
#include <vector>

#include "certkit/asn1/asn1.h"
#include "certkit/name/name.h"
#include "cryptokit/qmemory.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Walks the input element by element with both readers.
void WalkElements(const Bytes& input) {
  uint32_t at = 0;
  while (at < input.size()) {
    const uint32_t avail = static_cast<uint32_t>(input.size()) - at;
    ck::AsnHeader header{}, plain{};
    if (ck::AsnReadElement(input.data() + at, avail, &header) != 0) return;
    FuzzCheck(header.totalLen > 0 && header.totalLen <= avail);
    FuzzCheck(header.content >= input.data() + at);
    FuzzCheck(header.content + header.contentLen <= input.data() + at + header.totalLen);
    FuzzCheck(ck::AsnReadTagLength(input.data() + at, avail, &plain) == 0);
    FuzzCheck(plain.ident == header.ident && plain.extraIdentOctets == header.extraIdentOctets);
    FuzzCheck(plain.indefinite == header.indefinite);
    if (!header.indefinite) {
      FuzzCheck(plain.contentLen == header.contentLen && plain.totalLen == header.totalLen);
    }
    ck::ByteRange contents{};
    uint32_t total = 0;
    FuzzCheck(ck::AsnParseExpected(ck::ByteRange{input.data() + at, avail}, header.ident, &contents, &total) == 0 ||
              header.extraIdentOctets != 0);
    at += header.totalLen;
  }
}

// Decodes with the Name template, checking structure and handler rules only
// (no slot wanted).
int DecodeName(const uint8_t* data, uint32_t len) {
  void* slots[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  uint32_t used = 0;
  return ck::AsnDecode(ck::NameTemplate(), ck::AsnSlots{slots, 5}, 0, ck::ByteRange{data, len}, &used);
}

Bytes Normalised(const uint8_t* data, uint32_t len, int* status) {
  uint8_t* out = nullptr;
  uint32_t outLen = 0;
  *status = ck::AsnNormalise(ck::NameTemplate(), ck::ByteRange{data, len}, &out, &outLen);
  Bytes result;
  if (*status == 0) {
    FuzzCheck(out != nullptr || outLen == 0);
    result.assign(out, out + outLen);
  } else {
    FuzzCheck(*status == ck::kAsnErrEncoding || *status == ck::kAsnErrTruncated ||
              *status == ck::kAsnErrOverflow || *status == ck::kAsnErrArgument);
  }
  QMem_SecureRelease(out);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x100000) return 0;
  const Bytes input(data, data + size);
  WalkElements(input);

  const int decodedBefore = DecodeName(input.data(), static_cast<uint32_t>(input.size()));
  int status = 0;
  const Bytes der = Normalised(input.data(), static_cast<uint32_t>(input.size()), &status);
  if (status != 0) return 0;

  int again = 0;
  const Bytes twice = Normalised(der.data(), static_cast<uint32_t>(der.size()), &again);
  FuzzCheck(again == 0);
  FuzzCheck(twice == der);

  const int decodedAfter = DecodeName(der.data(), static_cast<uint32_t>(der.size()));
  if (decodedBefore == 0) FuzzCheck(decodedAfter == 0);
  if (der == input) FuzzCheck((decodedBefore == 0) == (decodedAfter == 0));
  WalkElements(der);
  return 0;
}
