// The certificate toolkit's table-driven ASN.1 codec (BER/DER, ITU-T X.690).
//
// A structure is described once by a template: a flat array of entries, one
// per ASN.1 element, whose constructed bodies are closed by END entries. The
// same template drives decoding (BER in, byte ranges and values out, nothing
// copied), DER normalisation (BER in, a DER copy out) and encoding (values in,
// DER out). Nothing here knows X.509: that lives in the templates and in the
// handlers plugged into them.
//
// Every function returns 0 or one of the kAsnErr* codes; ck::FromCodecCode
// (certkit/errors.h) translates them into the C_ERR_* numbering.
#ifndef KVCATOOL_CERTKIT_ASN1_ASN1_H
#define KVCATOOL_CERTKIT_ASN1_ASN1_H

#include <cstdint>

#include "certkit/certkit.h"

namespace ck {

using ByteRange = C_ITEM;

// ---------------------------------------------------------------------------
// Codec status codes.

constexpr int kAsnErrTruncated = 2048;  // input ends inside an element or its length field
constexpr int kAsnErrEncoding = 2049;   // tag mismatch, length mismatch, bad content
constexpr int kAsnErrOverflow = 2050;   // a length overflows 32 bits while encoding
constexpr int kAsnErrMemory = 2051;     // an allocation failed
constexpr int kAsnErrArgument = 2052;   // missing required value, bad bit string, time out of range
// A template uses the streamed-element flag (0x800) or the indefinite-output
// flag (0x4000). This codec recognises both and refuses them: no template of
// the toolkit streams.
constexpr int kAsnErrStreamingUnsupported = 2053;

// Nesting bound of the decoder and normaliser: constructed elements nested
// deeper than this are refused with kAsnErrEncoding, so hostile input cannot
// drive recursion or indefinite-length walks without limit. Certificates nest
// about ten deep.
constexpr uint32_t kAsnMaxDepth = 48;

// ---------------------------------------------------------------------------
// Identifier octets and flags of template entries.

constexpr uint32_t kAsnBoolean = 0x01;
constexpr uint32_t kAsnInteger = 0x02;
constexpr uint32_t kAsnBitString = 0x03;
constexpr uint32_t kAsnOctetString = 0x04;
constexpr uint32_t kAsnNull = 0x05;
constexpr uint32_t kAsnOid = 0x06;
constexpr uint32_t kAsnUtf8String = 0x0C;
constexpr uint32_t kAsnPrintableString = 0x13;
constexpr uint32_t kAsnT61String = 0x14;
constexpr uint32_t kAsnIa5String = 0x16;
constexpr uint32_t kAsnUtcTime = 0x17;
constexpr uint32_t kAsnGeneralizedTime = 0x18;
constexpr uint32_t kAsnBmpString = 0x1E;
constexpr uint32_t kAsnSequence = 0x30;
constexpr uint32_t kAsnSet = 0x31;

constexpr uint32_t kAsnConstructed = 0x20;
constexpr uint32_t kAsnClassMask = 0xC0;
constexpr uint32_t kAsnContext = 0x80;

constexpr uint32_t kAsnAny = 0x102;       // one element of any tag, taken whole
constexpr uint32_t kAsnEnd = 0x103;       // closes the nearest open body
constexpr uint32_t kAsnOptional = 0x200;  // the element may be absent
constexpr uint32_t kAsnOf = 0x400;        // SEQUENCE OF / SET OF: the next entry repeats
constexpr uint32_t kAsnStreamed = 0x800;  // recognised, refused
constexpr uint32_t kAsnTaggedBody = 0x1000;  // IMPLICIT tag of a SEQUENCE or SET with its own body
constexpr uint32_t kAsnSetBody = 0x2000;     // with 0x1000: the implicitly tagged body is a SET
constexpr uint32_t kAsnIndefiniteOut = 0x4000;  // recognised, refused

// ---------------------------------------------------------------------------
// Element list: the encoder's working state.

// Item kinds besides a plain identifier octet (content bytes follow).
constexpr uint32_t kItemRaw = 0x100;       // a complete pre-encoded element
constexpr uint32_t kItemEnd = 0x103;       // end of a constructed body
constexpr uint32_t kItemContinued = 0x800; // added to an identifier: the content goes on in the next item
constexpr uint32_t kItemStart = 0x1000;    // added to an identifier: a constructed start

struct ElementItem {
  const uint8_t* data;  // content, pre-encoded element, or the sort marker on an END
  uint32_t len;
  uint32_t kind;
  uint32_t extra;       // count of identifier octets after the first, at identTail
  const uint8_t* identTail;  // further identifier octets of a high tag number, or null
};

// The list grows in steps of ten items; its storage and the scratch blocks
// that handlers ask for are released (wiped) when the list is.
struct ElementList {
  ElementItem* items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;
  void** scratch = nullptr;  // owned blocks made by ElementListCopy
  uint32_t scratchCount = 0;
  uint32_t scratchCapacity = 0;
};

// Each append returns 0 or kAsnErrMemory.
// A primitive element |ident| with |len| content bytes at |data|; with
// |continued| the content goes on in the next appended item. |identTail|
// holds further identifier octets of a high tag number, only on an element
// that is not split: kAsnErrArgument for a tail on a continued item or on the
// items that continue one.
int ElementAppendContent(ElementList* list, uint32_t ident, const uint8_t* data, uint32_t len,
                         bool continued = false, const uint8_t* identTail = nullptr, uint32_t identTailLen = 0);
// A constructed element's start; |identTail| holds further identifier octets
// of a high tag number (normally none).
int ElementAppendStart(ElementList* list, uint32_t ident, const uint8_t* identTail = nullptr,
                       uint32_t identTailLen = 0);
// The end of the body opened last; |sorted| makes it a SET or SET OF body
// whose elements are written in ascending order.
int ElementAppendEnd(ElementList* list, bool sorted);
// A complete pre-encoded element, copied whole.
int ElementAppendRaw(ElementList* list, const uint8_t* data, uint32_t len);
// Copies |len| bytes into a block the list owns (wiped on release); null when
// memory runs out.
uint8_t* ElementListCopy(ElementList* list, const uint8_t* data, uint32_t len);
// Drops the items from |count| on.
void ElementListTruncate(ElementList* list, uint32_t count);
// Releases everything the list holds and empties it.
void ElementListRelease(ElementList* list);
// Computes every length bottom-up and writes the DER of all items into a new
// buffer (owned by the caller, release with QMem_SecureRelease). An empty list
// gives a null buffer and length 0. Errors: kAsnErrOverflow,
// kAsnErrArgument (unbalanced starts and ends), kAsnErrMemory.
int ElementListWrite(const ElementList* list, uint8_t** out, uint32_t* outLen);

// ---------------------------------------------------------------------------
// Templates.

// A decode handler converts the element found into the slot's value. |slot| is
// null when the element is not wanted: the handler then checks its rules and
// stores nothing. |index| is the element's position within an enclosing
// SEQUENCE OF or SET OF (0 elsewhere). Returns 0 or a kAsnErr* code.
using AsnDecodeHandler = int (*)(uint32_t ident, uint32_t options, uint32_t index, const uint8_t* element,
                                 uint32_t elementLen, const uint8_t* content, uint32_t contentLen,
                                 void* slot);
// An encode handler appends the element |ident| (with its whole body, for a
// constructed entry) for the value in |slot|. When it appends nothing the
// element is absent. For the repeated entry of an OF, it is called with
// |index| 0, 1, ... and appends a lone END item (or nothing) once all
// elements are written.
using AsnEncodeHandler = int (*)(ElementList* list, uint32_t identAndFlags, uint32_t options, uint32_t index,
                                 const void* slot);

struct AsnEntry {
  uint32_t tagAndFlags;
  AsnDecodeHandler decode;  // null: the slot (a ByteRange) receives the whole element
  AsnEncodeHandler encode;  // null: the slot (a ByteRange) holds the pre-encoded element
  uint32_t slot;
};

// The absent marker: a slot holding it makes decoding take the element as not
// present without reading anything, and makes encoding leave it out.
void* AsnAbsent();

// Slot array given to decode and encode: |slots[i]| is the storage of the
// entries whose slot index is i (slot 0 stays null).
struct AsnSlots {
  void* const* slots;
  uint32_t count;
};

// ---------------------------------------------------------------------------
// Operations.

// Header of one element as the tag-and-length reader finds it.
struct AsnHeader {
  uint32_t ident;             // first identifier octet
  uint32_t extraIdentOctets;  // further identifier octets (high tag numbers)
  const uint8_t* content;
  uint32_t contentLen;        // for an indefinite length: up to the end-of-contents octets
  uint32_t totalLen;          // identifier, length and contents (and end-of-contents octets)
  bool indefinite;
  bool minimalLength;         // definite, in the shortest length form
};

// Reads the identifier and length at |p| (|avail| bytes) without resolving
// an indefinite length: then |contentLen| and |totalLen| are 0 and
// |indefinite| is set. Errors: kAsnErrTruncated (no input, length field 0x85
// or longer, length or contents past the input), kAsnErrEncoding (indefinite
// length on a primitive element, identifier octets beyond a 32-bit tag).
int AsnReadTagLength(const uint8_t* p, uint32_t avail, AsnHeader* header);

// As AsnReadTagLength, and for an indefinite length walks the nested elements
// (at most kAsnMaxDepth deep) to the end-of-contents octets, filling
// |contentLen| and |totalLen|.
int AsnReadElement(const uint8_t* p, uint32_t avail, AsnHeader* header);

// Decodes |input| with the template whose first entry is |entry| and fills
// the slots. Fails unless the element covers the input exactly. A failure
// may leave slots partly filled. Errors: kAsnErrEncoding for every structural
// fault (truncation included), handler codes, kAsnErrArgument for a slot
// index beyond |slots.count| or a malformed template,
// kAsnErrStreamingUnsupported.
int AsnDecode(const AsnEntry* entry, AsnSlots slots, uint32_t options, ByteRange input, uint32_t* consumed);

// Returns the first entry of the template starting at |entry| whose slot
// index is |slot|, or null. Only the entries of the first element are looked at.
const AsnEntry* AsnFindSubTemplate(const AsnEntry* entry, uint32_t slot);

// Produces the DER form of |input| (walked with the template at |entry|) in
// a new buffer that the caller releases with QMem_SecureRelease; DER input is
// copied byte for byte. Errors: kAsnErrEncoding (a required element missing
// or of another tag, a bad length), kAsnErrMemory, kAsnErrOverflow,
// kAsnErrStreamingUnsupported.
int AsnNormalise(const AsnEntry* entry, ByteRange input, uint8_t** out, uint32_t* outLen);

// Appends the element described by the template at |entry| and |slots| to
// |list|. Errors: kAsnErrArgument (a required element with no value),
// kAsnErrMemory, handler codes.
int AsnEncodeToList(const AsnEntry* entry, AsnSlots slots, uint32_t options, ElementList* list);

// Output sink of AsnEncodeToSink: receives the complete encoding once.
using AsnSink = int (*)(void* context, const uint8_t* data, uint32_t len);

// Encodes and hands the DER to |sink|; the working buffer is wiped and
// released before returning.
int AsnEncodeToSink(const AsnEntry* entry, AsnSlots slots, uint32_t options, AsnSink sink, void* context);

// Encodes into a new buffer that the caller releases with QMem_SecureRelease.
int AsnEncode(const AsnEntry* entry, AsnSlots slots, uint32_t options, uint8_t** out, uint32_t* outLen);

// Encodes one primitive element |ident| with |content| into a new buffer.
int AsnEncodePrimitive(uint32_t ident, ByteRange content, uint8_t** out, uint32_t* outLen);

// Checks that |input| begins with one complete element of identifier |ident|
// and returns its contents (and, optionally, the element's total length).
// Errors: kAsnErrEncoding for another identifier, reader errors as they are.
int AsnParseExpected(ByteRange input, uint32_t ident, ByteRange* contents, uint32_t* totalLen = nullptr);

// Compares two encodings as unsigned octet strings over the shorter length; a
// prefix sorts first. Negative, 0 or positive like memcmp.
int AsnCompareEncodings(const uint8_t* a, uint32_t aLen, const uint8_t* b, uint32_t bLen);

// ---------------------------------------------------------------------------
// Standard handler pairs. The slot types are given with each.

// INTEGER as a 16-bit number (uint16_t); more than two content octets, an
// empty content or a negative number is the encoding error.
int AsnDecodeSmallInt(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeSmallInt(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// INTEGER as an unsigned 32-bit number (uint32_t).
int AsnDecodeUint32(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeUint32(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// INTEGER that must hold the 16-bit value the slot (const uint16_t) points at;
// decoding only.
int AsnDecodeFixedInt(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
// INTEGER as the big-endian magnitude (ByteRange) without leading zero octets
// (at least one octet remains).
int AsnDecodeBigUnsigned(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeBigUnsigned(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// BOOLEAN as a uint32_t truth value.
int AsnDecodeBoolean(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeBoolean(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// BOOLEAN DEFAULT FALSE: writes nothing for false; reads the first octet.
int AsnDecodeBooleanDefaultFalse(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t,
                                 void*);
int AsnEncodeBooleanDefaultFalse(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// Content octets of any primitive element (ByteRange).
int AsnDecodeContents(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeContents(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// BIT STRING (C_BITSTRING). The encoder writes nothing for a value without
// bytes and no unused bits, so OPTIONAL bit strings are left out when empty.
int AsnDecodeBitString(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeBitString(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// Named-bit BIT STRING (C_BITSTRING): trailing zero bits dropped on encoding.
int AsnEncodeNamedBitString(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// UTCTime as seconds since 1970-01-01 00:00:00 UTC (int64_t). Years YY 50
// to 99 read as 1950 to 1999, 00 to 49 as 2000 to 2049 (RFC 5280); writing
// a time outside those years is kAsnErrArgument.
int AsnDecodeUtcTime(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeUtcTime(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// GeneralizedTime as seconds since 1970 (int64_t), for extension values: any
// X.690 form with a zone is read (fractions dropped); YYYYMMDDHHMMSSZ is
// written, years 0 to 9999.
int AsnDecodeGeneralizedTime(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t,
                             void*);
int AsnEncodeGeneralizedTime(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime } as
// seconds since 1970 (int64_t), for an ANY entry. Decoding takes a UTCTime
// (as above) or a GeneralizedTime of exactly YYYYMMDDHHMMSSZ; any other
// element is kAsnErrEncoding. Encoding writes UTCTime for 1950 to 2049 and
// GeneralizedTime for other years up to 9999 (RFC 5280 4.1.2.5); a later
// time is kAsnErrArgument.
int AsnDecodeTime(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeTime(ElementList*, uint32_t, uint32_t, uint32_t, const void*);
// The whole element (ByteRange); the same as a null handler.
int AsnDecodeRaw(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*);
int AsnEncodeRaw(ElementList*, uint32_t, uint32_t, uint32_t, const void*);

// Time conversions behind the time handlers, exposed for their tests.
// First and last seconds that UTCTime names: 1950-01-01 00:00:00 and
// 2049-12-31 23:59:59.
constexpr int64_t kAsnFirstUtcTimeSecond = -631152000;
constexpr int64_t kAsnLastUtcTimeSecond = 2524607999;
// First and last seconds that a four-digit GeneralizedTime year names:
// 0000-01-01 00:00:00 and 9999-12-31 23:59:59.
constexpr int64_t kAsnFirstTimeSecond = -62167219200;
constexpr int64_t kAsnLastTimeSecond = 253402300799;
// Parses UTCTime text; returns 0 or kAsnErrEncoding.
int AsnParseUtcTime(const uint8_t* text, uint32_t len, int64_t* seconds);
// Writes YYMMDDHHMMSSZ (13 octets) for |seconds|; kAsnErrArgument outside
// 1950 to 2049.
int AsnFormatUtcTime(int64_t seconds, uint8_t out[13]);
// Parses the GeneralizedTime form of certificate validity, exactly
// YYYYMMDDHHMMSSZ (fractions and zone offsets refused); 0 or kAsnErrEncoding.
int AsnParseGeneralizedTime(const uint8_t* text, uint32_t len, int64_t* seconds);
// Writes YYYYMMDDHHMMSSZ (15 octets); kAsnErrArgument outside years 0 to 9999.
int AsnFormatGeneralizedTime(int64_t seconds, uint8_t out[15]);

}  // namespace ck

#endif
