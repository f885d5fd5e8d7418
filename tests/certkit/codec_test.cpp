// The certificate toolkit's ASN.1 codec: tag and length reading, template
// decoding, the handler rules, encoding with SET ordering, DER normalisation
// and the translation of its codes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "certkit/asn1/asn1.h"
#include "certkit/errors.h"
#include "cryptokit/cryptokit.h"
#include "support/memory_hooks.h"
#include "test_util.h"

namespace {

using namespace ck;
using cktest::Bytes;
using cktest::Hex;
using cktest::Owned;
using cktest::ToHex;

ByteRange Range(const Bytes& b) { return ByteRange{b.data(), static_cast<uint32_t>(b.size())}; }
std::string HexOf(const Owned& o) { return ToHex(o.data, o.len); }

// ---------------------------------------------------------------------------
// Tag and length.

struct ReaderCase {
  const char* name;
  const char* input;
  int status;
  uint32_t contentLen;
  uint32_t totalLen;
};

TEST(AsnReader, TagAndLengthForms) {
  const ReaderCase cases[] = {
      {"empty input", "", kAsnErrTruncated, 0, 0},
      {"short form", "020105", 0, 1, 3},
      {"long form 0x81", "0481030a0b0c", 0, 3, 6},
      {"long form 0x84", "048400000001aa", 0, 1, 7},
      {"length field 0x85", "04850000000001aa", kAsnErrTruncated, 0, 0},
      {"length field 0xff", "04ff", kAsnErrTruncated, 0, 0},
      {"length octets past input", "048201", kAsnErrTruncated, 0, 0},
      {"contents past input", "04050102", kAsnErrTruncated, 0, 0},
      {"no length octet", "04", kAsnErrTruncated, 0, 0},
      {"indefinite on primitive", "0480010200 00", kAsnErrEncoding, 0, 0},
      {"indefinite constructed", "3080020101020102 0000", 0, 6, 10},
      {"nested indefinite", "3080 3080 020101 0000 0000", 0, 7, 11},
      {"indefinite without end", "3080020101", kAsnErrTruncated, 0, 0},
      {"high tag number", "1f8101 00", 0, 0, 4},
      {"high tag cut off", "1f81", kAsnErrTruncated, 0, 0},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes in = Hex(c.input);
    AsnHeader h;
    int status = AsnReadElement(in.data(), static_cast<uint32_t>(in.size()), &h);
    EXPECT_EQ(status, c.status);
    if (status == 0) {
      EXPECT_EQ(h.contentLen, c.contentLen);
      EXPECT_EQ(h.totalLen, c.totalLen);
    }
  }
}

TEST(AsnReader, MinimalLengthFlag) {
  Bytes nonMinimal = Hex("04 81 01 aa");
  Bytes minimal = Hex("04 01 aa");
  AsnHeader h;
  ASSERT_EQ(AsnReadTagLength(nonMinimal.data(), 4, &h), 0);
  EXPECT_FALSE(h.minimalLength);
  ASSERT_EQ(AsnReadTagLength(minimal.data(), 3, &h), 0);
  EXPECT_TRUE(h.minimalLength);
  // The raw reader reports an indefinite length as total length 0.
  Bytes indefinite = Hex("30 80 00 00");
  ASSERT_EQ(AsnReadTagLength(indefinite.data(), 4, &h), 0);
  EXPECT_TRUE(h.indefinite);
  EXPECT_EQ(h.totalLen, 0u);
}

TEST(AsnReader, NestingBoundStopsHostileInput) {
  Bytes deep;
  for (int i = 0; i < 200; ++i) deep.insert(deep.end(), {0x30, 0x80});
  for (int i = 0; i < 200; ++i) deep.insert(deep.end(), {0x00, 0x00});
  AsnHeader h;
  EXPECT_EQ(AsnReadElement(deep.data(), static_cast<uint32_t>(deep.size()), &h), kAsnErrEncoding);
}

// ---------------------------------------------------------------------------
// Decoding with a small template.
//
//   Record ::= SEQUENCE {
//     number   INTEGER,               -- unsigned 32-bit, slot 1
//     flag     BOOLEAN OPTIONAL,      -- slot 2
//     tag      [0] EXPLICIT INTEGER OPTIONAL,  -- small integer, slot 3
//     data     OCTET STRING }         -- contents, slot 4
const AsnEntry kRecord[] = {
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnInteger, AsnDecodeUint32, AsnEncodeUint32, 1},
    {kAsnBoolean | kAsnOptional, AsnDecodeBoolean, AsnEncodeBoolean, 2},
    {0xA0 | kAsnOptional, nullptr, nullptr, 0},
    {kAsnInteger, AsnDecodeSmallInt, AsnEncodeSmallInt, 3},
    {kAsnOctetString, AsnDecodeContents, AsnEncodeContents, 4},
    {kAsnEnd, nullptr, nullptr, 0},
};

struct Record {
  uint32_t number = 0;
  uint32_t flag = 7;
  uint16_t tag = 99;
  ByteRange data{nullptr, 0};
};

int DecodeRecord(const Bytes& in, Record* r) {
  void* slots[5] = {nullptr, &r->number, &r->flag, &r->tag, &r->data};
  uint32_t used = 0;
  return AsnDecode(kRecord, AsnSlots{slots, 5}, 0, Range(in), &used);
}

struct DecodeCase {
  const char* name;
  const char* input;
  int status;
};

TEST(AsnDecode, StructuralRules) {
  const DecodeCase cases[] = {
      {"minimal record", "3006 020105 0401aa", 0},
      {"all elements", "300e 020105 0101ff a003020102 0401aa", 0},
      {"one element too many", "3009 020105 0401aa 0401bb", kAsnErrEncoding},
      {"required element missing", "3003 020105", kAsnErrEncoding},
      {"elements out of order", "3006 0401aa 020105", kAsnErrEncoding},
      {"outer length 0x85", "3085000000000602010504 01aa", kAsnErrEncoding},
      {"inner length past contents", "3006 020105 0402aa", kAsnErrEncoding},
      {"indefinite on primitive", "3008 020105 0480aa0000", kAsnErrEncoding},
      {"indefinite outer accepted", "3080 020105 0401aa 0000", 0},
      {"trailing byte after element", "3006 020105 0401aa 00", kAsnErrEncoding},
      {"explicit tag holding two", "300e 020105 a006020102020103 0401aa", kAsnErrEncoding},
      {"version of three octets", "300d 020105 a0050203000001 0401aa", kAsnErrEncoding},
      {"boolean of two octets", "300a 020105 010200ff 0401aa", kAsnErrEncoding},
      {"negative uint32", "3006 020180 0401aa", kAsnErrEncoding},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Record r;
    EXPECT_EQ(DecodeRecord(Hex(c.input), &r), c.status);
  }
}

TEST(AsnDecode, ValuesPointIntoInput) {
  Bytes in = Hex("300e 020105 0101ff a003020102 0401aa");
  Record r;
  ASSERT_EQ(DecodeRecord(in, &r), 0);
  EXPECT_EQ(r.number, 5u);
  EXPECT_EQ(r.flag, 1u);
  EXPECT_EQ(r.tag, 2u);
  EXPECT_EQ(r.data.data, in.data() + in.size() - 1);
  EXPECT_EQ(r.data.len, 1u);
}

TEST(AsnDecode, AbsentMarkerAndUnwantedElements) {
  // The absent marker takes the element as not present without reading.
  Bytes in = Hex("3006 020105 0401aa");
  Record r;
  void* slots[5] = {nullptr, &r.number, AsnAbsent(), AsnAbsent(), &r.data};
  EXPECT_EQ(AsnDecode(kRecord, AsnSlots{slots, 5}, 0, Range(in), nullptr), 0);
  // Unwanted elements (null slots) inside a walked body are still checked
  // against their handlers' rules...
  Bytes bad = Hex("3006 020180 0401aa");
  void* onlyData[5] = {nullptr, nullptr, nullptr, nullptr, &r.data};
  EXPECT_EQ(AsnDecode(kRecord, AsnSlots{onlyData, 5}, 0, Range(bad), nullptr), kAsnErrEncoding);
  // ...while a body nothing is wanted from is skipped once its length is known.
  void* none[5] = {};
  EXPECT_EQ(AsnDecode(kRecord, AsnSlots{none, 5}, 0, Range(bad), nullptr), 0);
}

struct IntegerCase {
  const char* name;
  const char* content;
  int status;
  const char* magnitude;
};

TEST(AsnHandlers, IntegerIntoByteRange) {
  const IntegerCase cases[] = {
      {"top bit set is negative", "80", kAsnErrEncoding, ""},
      {"empty content", "", kAsnErrEncoding, ""},
      {"leading zero kept for 0x80", "0080", 0, "80"},
      {"leading zeros skipped", "00007f", 0, "7f"},
      {"zero stays one octet", "0000", 0, "00"},
  };
  for (const IntegerCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes content = Hex(c.content);
    ByteRange out{nullptr, 0};
    int status = AsnDecodeBigUnsigned(2, 0, 0, nullptr, 0, content.data(), static_cast<uint32_t>(content.size()),
                                      &out);
    EXPECT_EQ(status, c.status);
    if (status == 0) {
      EXPECT_EQ(ToHex(out.data, out.len), c.magnitude);
    }
  }
}

struct EncodeCase {
  const char* name;
  std::string expected;
};

Owned EncodeOne(const AsnEntry* t, void* value, int* status) {
  void* slots[2] = {nullptr, value};
  Owned out;
  *status = AsnEncode(t, AsnSlots{slots, 2}, 0, &out.data, &out.len);
  return out;
}

TEST(AsnHandlers, IntegerEncodings) {
  const AsnEntry big[] = {{kAsnInteger, AsnDecodeBigUnsigned, AsnEncodeBigUnsigned, 1}};
  const AsnEntry small[] = {{kAsnInteger, AsnDecodeSmallInt, AsnEncodeSmallInt, 1}};
  const AsnEntry u32[] = {{kAsnInteger, AsnDecodeUint32, AsnEncodeUint32, 1}};
  int status = 0;
  Bytes m80 = Hex("80");
  ByteRange r80 = Range(m80);
  EXPECT_EQ(HexOf(EncodeOne(big, &r80, &status)), "02020080");
  Bytes padded = Hex("00 00 7f");
  ByteRange rPadded = Range(padded);
  EXPECT_EQ(HexOf(EncodeOne(big, &rPadded, &status)), "02017f");
  ByteRange empty{nullptr, 0};
  EXPECT_EQ(HexOf(EncodeOne(big, &empty, &status)), "020100");
  uint16_t v0 = 0, v2 = 2, v128 = 128;
  EXPECT_EQ(HexOf(EncodeOne(small, &v0, &status)), "020100");
  EXPECT_EQ(HexOf(EncodeOne(small, &v2, &status)), "020102");
  EXPECT_EQ(HexOf(EncodeOne(small, &v128, &status)), "02020080");
  // Values from 2^31 need five octets and must read back.
  uint32_t top = 0xFFFFFFFFu;
  Owned enc = EncodeOne(u32, &top, &status);
  EXPECT_EQ(HexOf(enc), "020500ffffffff");
  uint32_t back = 0;
  void* slots[2] = {nullptr, &back};
  EXPECT_EQ(AsnDecode(u32, AsnSlots{slots, 2}, 0, ByteRange{enc.data, enc.len}, nullptr), 0);
  EXPECT_EQ(back, top);
  Bytes sixOctets = Hex("0205 0100000000");
  EXPECT_EQ(AsnDecode(u32, AsnSlots{slots, 2}, 0, Range(sixOctets), nullptr), kAsnErrEncoding);
  // The fixed integer must hold the expected value.
  const AsnEntry fixed[] = {{kAsnInteger, AsnDecodeFixedInt, nullptr, 1}};
  uint16_t expected = 1;
  void* fixedSlots[2] = {nullptr, &expected};
  Bytes one = Hex("020101"), two = Hex("020102");
  EXPECT_EQ(AsnDecode(fixed, AsnSlots{fixedSlots, 2}, 0, Range(one), nullptr), 0);
  EXPECT_EQ(AsnDecode(fixed, AsnSlots{fixedSlots, 2}, 0, Range(two), nullptr), kAsnErrEncoding);
}

TEST(AsnHandlers, BooleansAndBitStrings) {
  const AsnEntry boolean[] = {{kAsnBoolean | kAsnOptional, AsnDecodeBoolean, AsnEncodeBoolean, 1}};
  const AsnEntry defaultFalse[] = {
      {kAsnBoolean | kAsnOptional, AsnDecodeBooleanDefaultFalse, AsnEncodeBooleanDefaultFalse, 1}};
  const AsnEntry bits[] = {{kAsnBitString, AsnDecodeBitString, AsnEncodeBitString, 1}};
  const AsnEntry named[] = {{kAsnBitString, AsnDecodeBitString, AsnEncodeNamedBitString, 1}};
  int status = 0;
  uint32_t yes = 1, no = 0;
  EXPECT_EQ(HexOf(EncodeOne(boolean, &yes, &status)), "0101ff");
  EXPECT_EQ(HexOf(EncodeOne(boolean, &no, &status)), "010100");
  EXPECT_EQ(HexOf(EncodeOne(defaultFalse, &no, &status)), "");
  EXPECT_EQ(status, 0);

  Bytes ff = Hex("ff");
  C_BITSTRING three{ff.data(), 1, 3};
  EXPECT_EQ(HexOf(EncodeOne(bits, &three, &status)), "030203f8");
  EXPECT_EQ(ff[0], 0xff);  // the caller's bytes are not touched
  C_BITSTRING eight{ff.data(), 1, 8};
  EncodeOne(bits, &eight, &status);
  EXPECT_EQ(status, kAsnErrArgument);
  C_BITSTRING unusedNoData{nullptr, 0, 1};
  EncodeOne(bits, &unusedNoData, &status);
  EXPECT_EQ(status, kAsnErrArgument);

  Bytes keyUsage = Hex("a0 00");  // bits 0 and 2 set, trailing zeros
  C_BITSTRING ku{keyUsage.data(), 2, 0};
  EXPECT_EQ(HexOf(EncodeOne(named, &ku, &status)), "030205a0");
  Bytes zeros = Hex("00 00");
  C_BITSTRING allZero{zeros.data(), 2, 0};
  EXPECT_EQ(HexOf(EncodeOne(named, &allZero, &status)), "030100");

  const DecodeCase bitCases[] = {
      {"unused 8", "030208ff", kAsnErrEncoding},
      {"unused bits without data", "030103", kAsnErrEncoding},
      {"empty bit string", "030100", 0},
      {"empty content", "0300", kAsnErrEncoding},
  };
  for (const DecodeCase& c : bitCases) {
    SCOPED_TRACE(c.name);
    C_BITSTRING out{};
    void* slots[2] = {nullptr, &out};
    EXPECT_EQ(AsnDecode(bits, AsnSlots{slots, 2}, 0, Range(Hex(c.input)), nullptr), c.status);
  }
}

// ---------------------------------------------------------------------------
// UTCTime, GeneralizedTime and the Time CHOICE of certificate validity.

struct TimeCase {
  const char* name;
  const char* text;
  int status;
  int64_t seconds;
};

using TimeParser = int (*)(const uint8_t*, uint32_t, int64_t*);

void CheckParses(TimeParser parse, const std::vector<TimeCase>& cases) {
  for (const TimeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = c.text;
    int64_t seconds = 12345;
    int status = parse(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()), &seconds);
    EXPECT_EQ(status, c.status);
    if (status == 0) {
      EXPECT_EQ(seconds, c.seconds);
    }
  }
}

TEST(AsnTime, UtcTimeDecoding) {
  CheckParses(AsnParseUtcTime, {
      {"last second of 2049", "491231235959Z", 0, 2524607999},
      {"time zero", "700101000000Z", 0, 0},
      // RFC 5280: YY 50 to 99 are the twentieth century.
      {"50 is 1950", "500101000000Z", 0, -631152000},
      {"69 is 1969", "691231235959Z", 0, -1},
      {"99 is 1999", "991231235959Z", 0, 946684799},
      {"minus offset carries into 2050", "491231235959-0100", 0, 2524611599},
      {"plus offset carries into 1949", "500101000000+0100", 0, -631155600},
      {"plus offset without seconds", "0001011200+0130", 0, 946722600},
      {"no seconds", "0001010000Z", 0, 946684800},
      {"29 February 2000", "000229000000Z", 0, 951782400},
      {"29 February 2001", "010229000000Z", kAsnErrEncoding, 0},
      {"month 13", "001301000000Z", kAsnErrEncoding, 0},
      {"day 0", "000100000000Z", kAsnErrEncoding, 0},
      {"hour 24", "000101240000Z", kAsnErrEncoding, 0},
      {"second 60", "000101000060Z", kAsnErrEncoding, 0},
      {"offset hour 24", "0001010000+2400", kAsnErrEncoding, 0},
      {"offset minute 60", "0001010000+0060", kAsnErrEncoding, 0},
      {"no zone", "000101000000", kAsnErrEncoding, 0},
      {"letter in digits", "00010100a000Z", kAsnErrEncoding, 0},
      {"extra octet", "000101000000Z0", kAsnErrEncoding, 0},
      {"twelve octets", "00010100000Z", kAsnErrEncoding, 0},
      {"lower-case z", "000101000000z", kAsnErrEncoding, 0},
  });
}

TEST(AsnTime, ValidityGeneralizedTimeDecoding) {
  CheckParses(AsnParseGeneralizedTime, {
      {"first second of 2050", "20500101000000Z", 0, 2524608000},
      {"past 32 bits", "21060207062816Z", 0, 4294967296},
      {"last second of 9999", "99991231235959Z", 0, kAsnLastTimeSecond},
      {"year 0", "00000101000000Z", 0, kAsnFirstTimeSecond},
      {"before 1950", "19491231235959Z", 0, -631152001},
      {"29 February 2000", "20000229000000Z", 0, 951782400},
      {"29 February 2100", "21000229000000Z", kAsnErrEncoding, 0},
      {"fraction", "20500101000000.5Z", kAsnErrEncoding, 0},
      {"no zone", "20500101000000", kAsnErrEncoding, 0},
      {"offset", "20500101000000+0100", kAsnErrEncoding, 0},
      {"no seconds", "205001010000Z", kAsnErrEncoding, 0},
      {"sign in the digits", "2050010100000-Z", kAsnErrEncoding, 0},
      {"month 13", "20501301000000Z", kAsnErrEncoding, 0},
  });
}

TEST(AsnTime, TimeChoiceIsUtcTimeThrough2049) {
  const AsnEntry choice[] = {{kAsnAny, AsnDecodeTime, AsnEncodeTime, 1}};
  struct Row {
    int64_t seconds;
    int status;
    const char* encoding;  // tag octet as hex, then the text
  };
  const Row rows[] = {
      {0, 0, "17700101000000Z"},
      {2524607999, 0, "17491231235959Z"},
      {2524608000, 0, "1820500101000000Z"},
      {2524607999 + 630720000, 0, "1820691226235959Z"},
      {4294967296, 0, "1821060207062816Z"},
      {kAsnFirstUtcTimeSecond, 0, "17500101000000Z"},
      {kAsnFirstUtcTimeSecond - 1, 0, "1819491231235959Z"},
      {kAsnLastTimeSecond, 0, "1899991231235959Z"},
      {kAsnFirstTimeSecond, 0, "1800000101000000Z"},
      {kAsnLastTimeSecond + 1, kAsnErrArgument, ""},
      {kAsnFirstTimeSecond - 1, kAsnErrArgument, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.seconds);
    int64_t value = r.seconds;
    int status = 0;
    Owned enc = EncodeOne(choice, &value, &status);
    ASSERT_EQ(status, r.status);
    if (status != 0) continue;
    const std::string text(reinterpret_cast<const char*>(enc.data) + 2, enc.len - 2);
    EXPECT_EQ(ToHex(enc.data, 1) + text, r.encoding);
    EXPECT_EQ(enc.data[1], text.size());
    int64_t back = 0;
    void* slots[2] = {nullptr, &back};
    ASSERT_EQ(AsnDecode(choice, AsnSlots{slots, 2}, 0, ByteRange{enc.data, enc.len}, nullptr), 0);
    EXPECT_EQ(back, r.seconds);
  }
  // Neither alternative: an OCTET STRING holding a valid time text.
  Bytes octets = Hex("040d");
  const std::string utc = "491231235959Z";
  octets.insert(octets.end(), utc.begin(), utc.end());
  int64_t back = 0;
  void* slots[2] = {nullptr, &back};
  EXPECT_EQ(AsnDecode(choice, AsnSlots{slots, 2}, 0, ByteRange{octets.data(), static_cast<uint32_t>(octets.size())},
                      nullptr),
            kAsnErrEncoding);
  // UTCTime alone refuses what it cannot name.
  uint8_t text[13];
  EXPECT_EQ(AsnFormatUtcTime(kAsnLastUtcTimeSecond + 1, text), kAsnErrArgument);
  EXPECT_EQ(AsnFormatUtcTime(kAsnFirstUtcTimeSecond - 1, text), kAsnErrArgument);
}

TEST(AsnTime, ExtensionGeneralizedTimeTakesEveryZonedForm) {
  const AsnEntry gen[] = {{kAsnGeneralizedTime, AsnDecodeGeneralizedTime, AsnEncodeGeneralizedTime, 1}};
  int status = 0;
  int64_t t = 951782400;
  Owned enc = EncodeOne(gen, &t, &status);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(enc.data) + 2, enc.len - 2), "20000229000000Z");
  const std::pair<std::string, int> forms[] = {
      {"20000229000000Z", 0}, {"20000229000000.25Z", 0}, {"200002290000Z", 0}, {"20000229010000+0100", 0},
      {"20000229000000", kAsnErrEncoding}, {"20000229000000.Z", kAsnErrEncoding}};
  for (const auto& [form, expected] : forms) {
    int64_t back = 0;
    EXPECT_EQ(AsnDecodeGeneralizedTime(0x18, 0, 0, nullptr, 0, reinterpret_cast<const uint8_t*>(form.data()),
                                       static_cast<uint32_t>(form.size()), &back),
              expected)
        << form;
    if (expected == 0) {
      EXPECT_EQ(back, t) << form;
    }
  }
}

// ---------------------------------------------------------------------------
// Encoding.

// SET OF OCTET STRING whose elements come from a vector, in the vector's order.
struct OctetList {
  std::vector<Bytes> items;
};
int EncodeOctetElement(ElementList* list, uint32_t ident, uint32_t, uint32_t index, const void* slot) {
  const auto* values = static_cast<const OctetList*>(slot);
  if (index >= values->items.size()) return ElementAppendEnd(list, false);
  const Bytes& b = values->items[index];
  return ElementAppendContent(list, ident, b.data(), static_cast<uint32_t>(b.size()));
}
const AsnEntry kSetOfOctets[] = {
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnOctetString, AsnDecodeContents, EncodeOctetElement, 1},
    {kAsnEnd, nullptr, nullptr, 0},
};
const AsnEntry kSequenceOfOctets[] = {
    {kAsnSequence | kAsnOf, nullptr, nullptr, 0},
    {kAsnOctetString, AsnDecodeContents, EncodeOctetElement, 1},
    {kAsnEnd, nullptr, nullptr, 0},
};

TEST(AsnEncode, SetOfIsWrittenAscending) {
  struct Case {
    const char* name;
    const AsnEntry* t;
    std::vector<const char*> items;
    const char* expected;
  };
  const Case cases[] = {
      {"descending pair", kSetOfOctets, {"02", "01"}, "3106040101040102"},
      {"prefix sorts first", kSetOfOctets, {"0102", "01"}, "310704010104020102"},
      {"three elements", kSetOfOctets, {"03", "01", "02"}, "3109040101040102040103"},
      {"sequence of keeps order", kSequenceOfOctets, {"02", "01"}, "3006040102040101"},
      {"empty set of", kSetOfOctets, {}, "3100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OctetList values;
    for (const char* item : c.items) values.items.push_back(Hex(item));
    int status = 0;
    EXPECT_EQ(HexOf(EncodeOne(c.t, &values, &status)), c.expected);
    EXPECT_EQ(status, 0);
  }
}

// Element lists the writer must refuse rather than encode: a pre-encoded
// element of indefinite length in a SET (sorting it would never advance),
// and a high tag number on the later items of a split element (the length
// pass would count identifier octets the writer never writes).
TEST(AsnEncode, RefusedElementLists) {
  const Bytes small = Hex("040101"), indefinite = Hex("308004010100" "00"), tail = Hex("21");
  const Bytes part1 = Hex("aabb"), part2 = Hex("ccdd");
  struct Case {
    const char* name;
    std::function<int(ElementList*)> build;  // the status of the appends
    int appendStatus;
    int writeStatus;
    const char* written;
  };
  const Case cases[] = {
      {"indefinite element in a SET",
       [&](ElementList* l) {
         int s = ElementAppendStart(l, 0x31);
         if (s == 0) s = ElementAppendRaw(l, small.data(), 3);
         if (s == 0) s = ElementAppendRaw(l, indefinite.data(), static_cast<uint32_t>(indefinite.size()));
         return s != 0 ? s : ElementAppendEnd(l, true);
       },
       0, kAsnErrArgument, ""},
      {"indefinite element alone in a SET",
       [&](ElementList* l) {
         int s = ElementAppendStart(l, 0x31);
         if (s == 0) s = ElementAppendRaw(l, indefinite.data(), static_cast<uint32_t>(indefinite.size()));
         if (s == 0) s = ElementAppendRaw(l, small.data(), 3);
         return s != 0 ? s : ElementAppendEnd(l, true);
       },
       0, kAsnErrArgument, ""},
      {"split element",
       [&](ElementList* l) {
         int s = ElementAppendContent(l, 0x04, part1.data(), 2, true);
         return s != 0 ? s : ElementAppendContent(l, 0x04, part2.data(), 2);
       },
       0, 0, "0404aabbccdd"},
      {"high tag number on a whole element",
       [&](ElementList* l) { return ElementAppendContent(l, 0x9f, part1.data(), 2, false, tail.data(), 1); },
       0, 0, "9f2102aabb"},
      {"high tag number on the first item of a split",
       [&](ElementList* l) { return ElementAppendContent(l, 0x9f, part1.data(), 2, true, tail.data(), 1); },
       kAsnErrArgument, 0, ""},
      {"high tag number on a later item of a split",
       [&](ElementList* l) {
         int s = ElementAppendContent(l, 0x84, part1.data(), 2, true);
         return s != 0 ? s : ElementAppendContent(l, 0x9f, part2.data(), 2, false, tail.data(), 1);
       },
       kAsnErrArgument, 0, "8402aabb"},
      {"later item given a tail behind the appender's back",
       [&](ElementList* l) {
         int s = ElementAppendContent(l, 0x84, part1.data(), 2, true);
         if (s == 0) s = ElementAppendContent(l, 0x84, part2.data(), 2);
         l->items[1].extra = 1;
         l->items[1].identTail = tail.data();
         return s;
       },
       0, kAsnErrArgument, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ElementList list;
    EXPECT_EQ(c.build(&list), c.appendStatus);
    if (c.appendStatus != 0 && list.count > 0) {
      // What was appended before the refusal, ended, still makes an element.
      list.items[list.count - 1].kind &= ~kItemContinued;
    }
    Owned out;
    EXPECT_EQ(ElementListWrite(&list, &out.data, &out.len), c.writeStatus);
    EXPECT_EQ(HexOf(out), c.written);
    ElementListRelease(&list);
  }
}

TEST(AsnEncode, TemplateRecordAndRoundTrip) {
  Bytes data(300, 0x5a);
  Record r;
  r.number = 5;
  r.data = Range(data);
  uint32_t flag = 1;
  uint16_t version = 2;
  void* slots[5] = {nullptr, &r.number, &flag, &version, &r.data};
  Owned out;
  ASSERT_EQ(AsnEncode(kRecord, AsnSlots{slots, 5}, 0, &out.data, &out.len), 0);
  // Lengths in the shortest form: 300 octets take 82 01 2c.
  EXPECT_EQ(HexOf(out).substr(0, 34), "3082013b020105" "0101ff" "a003020102" "0482");
  Record back;
  ASSERT_EQ(DecodeRecord(out.bytes(), &back), 0);
  EXPECT_EQ(back.data.len, 300u);
  // Optional elements left out: a null slot and the absent marker.
  void* sparse[5] = {nullptr, &r.number, nullptr, AsnAbsent(), &r.data};
  Owned small;
  ASSERT_EQ(AsnEncode(kRecord, AsnSlots{sparse, 5}, 0, &small.data, &small.len), 0);
  EXPECT_EQ(small.len, 4u + 3u + 4u + 300u);
  // A required element without a value is the argument error.
  void* missing[5] = {nullptr, &r.number, nullptr, nullptr, nullptr};
  Owned none;
  EXPECT_EQ(AsnEncode(kRecord, AsnSlots{missing, 5}, 0, &none.data, &none.len), kAsnErrArgument);
  EXPECT_EQ(none.data, nullptr);
}

TEST(AsnEncode, OneElementHelpers) {
  Bytes abc = {'a', 'b', 'c'};
  Owned out;
  ASSERT_EQ(AsnEncodePrimitive(kAsnOctetString, Range(abc), &out.data, &out.len), 0);
  EXPECT_EQ(HexOf(out), "0403616263");
  ByteRange contents{};
  uint32_t total = 0;
  EXPECT_EQ(AsnParseExpected(ByteRange{out.data, out.len}, kAsnOctetString, &contents, &total), 0);
  EXPECT_EQ(contents.len, 3u);
  EXPECT_EQ(total, 5u);
  EXPECT_EQ(AsnParseExpected(ByteRange{out.data, out.len}, kAsnInteger, &contents), kAsnErrEncoding);
}

TEST(AsnTemplates, FindSubTemplateAndStreamingRefused) {
  const AsnEntry* sub = AsnFindSubTemplate(kRecord, 4);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub, &kRecord[5]);
  EXPECT_EQ(AsnFindSubTemplate(kRecord, 9), nullptr);

  const AsnEntry streamed[] = {{kAsnOctetString | kAsnStreamed, AsnDecodeContents, AsnEncodeContents, 1}};
  const AsnEntry indefiniteOut[] = {
      {kAsnSequence | kAsnIndefiniteOut, nullptr, nullptr, 0},
      {kAsnOctetString, AsnDecodeContents, AsnEncodeContents, 1},
      {kAsnEnd, nullptr, nullptr, 0},
  };
  Bytes in = Hex("0401aa");
  ByteRange value{};
  void* slots[2] = {nullptr, &value};
  for (const AsnEntry* t : {streamed, indefiniteOut}) {
    EXPECT_EQ(AsnDecode(t, AsnSlots{slots, 2}, 0, Range(in), nullptr), kAsnErrStreamingUnsupported);
    Owned out;
    EXPECT_EQ(AsnEncode(t, AsnSlots{slots, 2}, 0, &out.data, &out.len), kAsnErrStreamingUnsupported);
    EXPECT_EQ(AsnNormalise(t, Range(in), &out.data, &out.len), kAsnErrStreamingUnsupported);
  }
  EXPECT_EQ(FromCodecCode(kAsnErrStreamingUnsupported), C_ERR_BAD_ARGUMENT);
}

// ---------------------------------------------------------------------------
// Normalisation.

struct NormaliseCase {
  const char* name;
  const AsnEntry* t;
  const char* input;
  int status;
  const char* expected;  // null: the input itself
};

const AsnEntry kAnyElement[] = {{kAsnAny, nullptr, nullptr, 1}};
const AsnEntry kBitsRecord[] = {
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnBitString, AsnDecodeBitString, AsnEncodeBitString, 1},
    {0x81 | kAsnOptional, AsnDecodeBitString, AsnEncodeBitString, 2},
    {kAsnEnd, nullptr, nullptr, 0},
};

TEST(AsnNormalise, BerBecomesDer) {
  const NormaliseCase cases[] = {
      {"DER copied", kRecord, "3006 020105 0401aa", 0, nullptr},
      {"indefinite outer", kRecord, "3080 020105 0401aa 0000", 0, "3006020105" "0401aa"},
      {"long-form lengths", kRecord, "308107 020105 048101aa", 0, "3006020105" "0401aa"},
      {"0x82 length of 6", kRecord, "30820006 020105 0401aa", 0, "3006020105" "0401aa"},
      {"set of out of order", kSetOfOctets, "3106 040102 040101", 0, "3106040101040102"},
      {"set of in order", kSetOfOctets, "3106 040101 040102", 0, nullptr},
      {"bit string unused bits set", kBitsRecord, "3008 030203ff 810203ff", 0, "3008030203f8810203f8"},
      {"BER inside ANY", kAnyElement, "3080 3080 0401aa 0000 3103 0401bb 0000",
       0, "300a 3003 0401aa 3103 0401bb"},
      {"set inside ANY sorted", kAnyElement, "3108 3103 0401bb 0101ff", 0, "3108 0101ff 3103 0401bb"},
      {"missing element", kRecord, "3003 020105", kAsnErrEncoding, nullptr},
      {"wrong tag", kRecord, "3006 040105 0401aa", kAsnErrEncoding, nullptr},
      {"trailing bytes", kRecord, "3006 020105 0401aa 0000", kAsnErrEncoding, nullptr},
      {"content rules left to decoding", kRecord, "3006 020180 0401aa", 0, nullptr},
  };
  for (const NormaliseCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes in = Hex(c.input);
    Owned out;
    int status = AsnNormalise(c.t, Range(in), &out.data, &out.len);
    EXPECT_EQ(status, c.status);
    if (status != 0) {
      EXPECT_EQ(out.data, nullptr);
      continue;
    }
    Bytes expected = c.expected != nullptr ? Hex(c.expected) : in;
    EXPECT_EQ(HexOf(out), ToHex(expected.data(), static_cast<uint32_t>(expected.size())));
    EXPECT_NE(out.data, in.data());
  }
}

TEST(AsnNormalise, DeepDefiniteNestingRefused) {
  Bytes deep = {0x05, 0x00};
  for (int i = 0; i < 100; ++i) {
    Bytes outer = {0x30, static_cast<uint8_t>(deep.size())};
    if (deep.size() >= 0x80) outer = {0x30, 0x81, static_cast<uint8_t>(deep.size())};
    outer.insert(outer.end(), deep.begin(), deep.end());
    deep = outer;
  }
  Owned out;
  EXPECT_EQ(AsnNormalise(kAnyElement, Range(deep), &out.data, &out.len), kAsnErrEncoding);
}

TEST(AsnNormalise, MemoryFailuresReleaseEverything) {
  Bytes in = Hex("3080 3106 040102 040101 3080 0401aa 0000 0000");
  const AsnEntry t[] = {
      {kAsnSequence, nullptr, nullptr, 0},
      {kAsnSet | kAsnOf, nullptr, nullptr, 0},
      {kAsnOctetString, nullptr, nullptr, 0},
      {kAsnEnd, nullptr, nullptr, 0},
      {kAsnAny, nullptr, nullptr, 0},
      {kAsnEnd, nullptr, nullptr, 0},
  };
  uint64_t allocations = testsupport::ForEachAllocationFailure(
      [&] {
        Owned out;
        return AsnNormalise(t, Range(in), &out.data, &out.len);
      },
      [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, kAsnErrMemory);
        EXPECT_EQ(watch.leakedBlocks(), 0);
      });
  EXPECT_GT(allocations, 2u);
}

// ---------------------------------------------------------------------------
// Codes.

TEST(CertkitErrors, Translations) {
  const struct {
    int from;
    int to;
  } codec[] = {{kAsnErrTruncated, 1798}, {kAsnErrEncoding, 1797}, {kAsnErrOverflow, 1802},
               {kAsnErrMemory, 1792},    {kAsnErrArgument, 1795}, {0, 0}};
  for (const auto& c : codec) EXPECT_EQ(FromCodecCode(c.from), c.to) << c.from;
  EXPECT_EQ(CodecToCryptoCode(kAsnErrTruncated), 525);
  EXPECT_EQ(CodecToCryptoCode(kAsnErrEncoding), 524);
  EXPECT_EQ(CodecToCryptoCode(kAsnErrOverflow), 536);
  EXPECT_EQ(CodecToCryptoCode(kAsnErrMemory), 518);
  EXPECT_EQ(CodecToCryptoCode(kAsnErrArgument), 520);
  const struct {
    int from;
    int to;
  } crypto[] = {{518, 1792}, {519, 1794}, {520, 1795}, {524, 1797}, {525, 1798},
                {536, 1802}, {537, 1803}, {540, 540}, {545, 545},   {0, 0}};
  for (const auto& c : crypto) EXPECT_EQ(FromCryptoCode(c.from), c.to) << c.from;
  EXPECT_EQ(ReplaceInContext(C_ERR_ALLOC, C_ERR_ISSUER), C_ERR_ALLOC);
  EXPECT_EQ(ReplaceInContext(C_ERR_CANCEL, C_ERR_SIGN), C_ERR_CANCEL);
  EXPECT_EQ(ReplaceInContext(C_ERR_INPUT_DATA, C_ERR_ISSUER), C_ERR_ISSUER);
  EXPECT_EQ(ReplaceInContext(0, C_ERR_ISSUER), 0);
}

}  // namespace
