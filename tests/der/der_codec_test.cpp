// The toolkit's DER codec: element headers, INTEGER rules, bodies consumed
// exactly, optional and absent elements, SET ordering, the size limits, and
// truncated input.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cryptokit/der/der.h"
#include "support/memory_hooks.h"

namespace {

using namespace qk::der;
using Bytes = std::vector<unsigned char>;

Bytes Of(const Q_ITEM& item) { return Bytes(item.data, item.data + item.len); }
Q_ITEM ItemOf(const Bytes& bytes) { return Q_ITEM{const_cast<unsigned char*>(bytes.data()), uint32_t(bytes.size())}; }

// Encodes with |tmpl| into a vector; the status is returned in |*status|.
Bytes EncodeWith(const DerEntry* tmpl, void* const* slots, int* status) {
  Bytes out(40000);
  uint32_t length = 0;
  BufferSink target{out.data(), uint32_t(out.size()), &length};
  *status = Encode(tmpl, slots, ToBuffer(&target));
  out.resize(*status == 0 ? length : 0);
  return out;
}

const DerEntry kOneInteger[] = {{kTagInteger, DecodeUnsigned, EncodeUnsigned, 1}};

TEST(DerInteger, DecodesMagnitudesAndRefusesNegatives) {
  struct Case {
    Bytes encoding;
    int status;
    Bytes magnitude;
  } cases[] = {
      {{0x02, 0x03, 0x00, 0x00, 0x01}, 0, {0x01}},
      {{0x02, 0x01, 0x80}, Q_ERR_INPUT_DATA, {}},
      {{0x02, 0x02, 0xFF, 0x01}, Q_ERR_INPUT_DATA, {}},
      {{0x02, 0x00}, Q_ERR_INPUT_DATA, {}},
      {{0x02, 0x01, 0x00}, 0, {}},
      {{0x02, 0x02, 0x00, 0x80}, 0, {0x80}},
      {{0x04, 0x01, 0x01}, Q_ERR_INPUT_DATA, {}},  // wrong identifier
  };
  for (const Case& c : cases) {
    Q_ITEM value{nullptr, 0};
    void* slots[] = {nullptr, &value};
    EXPECT_EQ(DecodeExact(kOneInteger, slots, c.encoding.data(), uint32_t(c.encoding.size())), c.status);
    if (c.status == 0) {
      EXPECT_EQ(Of(value), c.magnitude);
    }
  }
}

TEST(DerInteger, EncodesMinimalUnsigned) {
  struct Case {
    Bytes magnitude;
    Bytes encoding;
  } cases[] = {
      {{0x80}, {0x02, 0x02, 0x00, 0x80}},
      {{}, {0x02, 0x01, 0x00}},
      {{0x00, 0x00}, {0x02, 0x01, 0x00}},
      {{0x00, 0x7F}, {0x02, 0x01, 0x7F}},
      {{0x01, 0x00}, {0x02, 0x02, 0x01, 0x00}},
      {{0x00, 0xFF, 0x01}, {0x02, 0x03, 0x00, 0xFF, 0x01}},
  };
  for (const Case& c : cases) {
    Q_ITEM value = ItemOf(c.magnitude);
    void* slots[] = {nullptr, &value};
    int status = -1;
    EXPECT_EQ(EncodeWith(kOneInteger, slots, &status), c.encoding);
    EXPECT_EQ(status, 0);
  }
}

TEST(DerInteger, FixedWidthAndFixedValue) {
  const DerEntry int16[] = {{kTagInteger, DecodeInt16, EncodeInt16, 1}};
  const DerEntry int32[] = {{kTagInteger, DecodeInt32, EncodeInt32, 1}};
  const DerEntry fixed[] = {{kTagInteger, DecodeFixedSmall, EncodeFixedSmall, 1}};
  const Bytes three = {0x02, 0x03, 0x01, 0x00, 0x00};
  unsigned char v2[2] = {9, 9}, v4[4] = {9, 9, 9, 9};
  void* s2[] = {nullptr, v2};
  void* s4[] = {nullptr, v4};
  EXPECT_EQ(DecodeExact(int16, s2, three.data(), 5), Q_ERR_INPUT_DATA);
  ASSERT_EQ(DecodeExact(int32, s4, three.data(), 5), 0);
  EXPECT_EQ(Bytes(v4, v4 + 4), (Bytes{0x00, 0x01, 0x00, 0x00}));
  const Bytes small = {0x02, 0x02, 0x00, 0xFF};
  ASSERT_EQ(DecodeExact(int16, s2, small.data(), 4), 0);
  EXPECT_EQ(Bytes(v2, v2 + 2), (Bytes{0x00, 0xFF}));
  int status = -1;
  EXPECT_EQ(EncodeWith(int16, s2, &status), small);

  unsigned char zero[2] = {0, 0};
  void* sz[] = {nullptr, zero};
  const Bytes v0 = {0x02, 0x01, 0x00}, v1 = {0x02, 0x01, 0x01};
  EXPECT_EQ(DecodeExact(fixed, sz, v0.data(), 3), 0);
  EXPECT_EQ(DecodeExact(fixed, sz, v1.data(), 3), Q_ERR_INPUT_DATA);
  EXPECT_EQ(EncodeWith(fixed, sz, &status), v0);
}

TEST(DerHeader, LengthForms) {
  struct Case {
    std::string name;
    Bytes header;
    uint32_t padding;  // content bytes appended
    int status;
    uint32_t contentsLength;
  } cases[] = {
      {"short", {0x04, 0x7F}, 127, 0, 127},
      {"0x81", {0x04, 0x81, 0x80}, 128, 0, 128},
      {"0x82", {0x04, 0x82, 0x01, 0x00}, 256, 0, 256},
      {"0x83 with enough input", {0x04, 0x83, 0x00, 0x00, 0x01}, 10, kReadBadEncoding, 0},
      {"0x84", {0x04, 0x84, 0x00, 0x00, 0x00, 0x01}, 10, kReadBadEncoding, 0},
      {"0xFF", {0x04, 0xFF}, 10, kReadBadEncoding, 0},
      {"indefinite primitive", {0x04, 0x80, 0x01, 0x00, 0x00}, 0, kReadBadEncoding, 0},
      {"length beyond input", {0x04, 0x05, 0x01}, 0, kReadTruncated, 0},
      {"0x82 cut", {0x04, 0x82, 0x01}, 0, kReadTruncated, 0},
      {"no length", {0x04}, 0, kReadTruncated, 0},
      {"empty", {}, 0, kReadTruncated, 0},
      {"high tag number", {0x1F, 0x81, 0x01, 0x00}, 0, 0, 0},
      {"high tag cut", {0x1F, 0x81}, 0, kReadTruncated, 0},
      {"indefinite constructed", {0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00}, 0, 0, 3},
      {"indefinite nested", {0x30, 0x80, 0x31, 0x80, 0x00, 0x00, 0x00, 0x00}, 0, 0, 4},
      {"indefinite without end", {0x30, 0x80, 0x02, 0x01, 0x05}, 0, kReadTruncated, 0},
      {"end pair with non-zero length", {0x30, 0x80, 0x00, 0x01, 0x00, 0x00, 0x00}, 0, kReadBadEncoding, 0},
  };
  for (const Case& c : cases) {
    Bytes input = c.header;
    input.resize(input.size() + c.padding, 0xAB);
    uint32_t id = 0, contentsLength = 0, total = 0;
    const unsigned char* contents = nullptr;
    EXPECT_EQ(ReadIdentifierAndLength(input.data(), uint32_t(input.size()), &id, &contents, &contentsLength, &total),
              c.status)
        << c.name;
    if (c.status == 0) {
      EXPECT_EQ(contentsLength, c.contentsLength) << c.name;
      EXPECT_EQ(total, input.size()) << c.name;
      EXPECT_EQ(id, input[0]) << c.name;
    }
  }
}

TEST(DerHeader, DeepIndefiniteNestingIsRefused) {
  for (int depth : {10, 1000, 20000}) {
    Bytes input;
    for (int i = 0; i < depth; ++i) input.insert(input.end(), {0x30, 0x80});
    for (int i = 0; i < depth; ++i) input.insert(input.end(), {0x00, 0x00});
    uint32_t id, contentsLength, total;
    const unsigned char* contents;
    int status = ReadIdentifierAndLength(input.data(), uint32_t(input.size()), &id, &contents, &contentsLength, &total);
    EXPECT_EQ(status, depth <= kMaxIndefiniteDepth ? 0 : kReadBadEncoding) << depth;
  }
}

TEST(DerHeader, WriterForms) {
  struct Case {
    uint32_t length;
    Bytes header;
  } cases[] = {{0, {0x04, 0x00}},         {127, {0x04, 0x7F}},         {128, {0x04, 0x81, 0x80}},
               {255, {0x04, 0x81, 0xFF}}, {256, {0x04, 0x82, 0x01, 0x00}}, {32767, {0x04, 0x82, 0x7F, 0xFF}}};
  for (const Case& c : cases) {
    uint32_t total = 0;
    ASSERT_EQ(WriteIdentifierAndLength(0x04, c.length, nullptr, nullptr, 0, &total), 0);
    EXPECT_EQ(total, c.header.size() + c.length);
    unsigned char out[4] = {};
    EXPECT_EQ(WriteIdentifierAndLength(0x04, c.length, nullptr, out, uint32_t(c.header.size()), &total), 0);
    EXPECT_EQ(Bytes(out, out + c.header.size()), c.header);
    EXPECT_EQ(WriteIdentifierAndLength(0x04, c.length, nullptr, out, uint32_t(c.header.size() - 1), &total),
              kWriteTooSmall);
  }
  const unsigned char contents[3] = {1, 2, 3};
  unsigned char out[5];
  uint32_t total = 0;
  EXPECT_EQ(WriteIdentifierAndLength(0x04, 3, contents, out, 4, &total), kWriteTooSmall);
  ASSERT_EQ(WriteIdentifierAndLength(0x04, 3, contents, out, 5, &total), 0);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0x04, 0x03, 1, 2, 3}));
}

// SEQUENCE { INTEGER OPTIONAL slot 1, OCTET STRING slot 2 }
const DerEntry kOptionalFirst[] = {
    {kTagSequence, nullptr, nullptr, 0},
    {kTagInteger | kTagOptional, DecodeUnsigned, EncodeUnsigned, 1},
    {kTagOctetString, DecodeContents, EncodeContents, 2},
    {kTagEnd, nullptr, nullptr, 0},
};

TEST(DerBody, ContentsConsumedExactlyAndOptionalElements) {
  struct Case {
    std::string name;
    Bytes input;
    int status;
    bool integerPresent;
  } cases[] = {
      {"both", {0x30, 0x06, 0x02, 0x01, 0x05, 0x04, 0x01, 0xAA}, 0, true},
      {"optional absent", {0x30, 0x03, 0x04, 0x01, 0xAA}, 0, false},
      {"required missing", {0x30, 0x03, 0x02, 0x01, 0x05}, Q_ERR_INPUT_DATA, false},
      {"empty body", {0x30, 0x00}, Q_ERR_INPUT_DATA, false},
      {"extra element", {0x30, 0x06, 0x04, 0x01, 0xAA, 0x05, 0x01, 0x00}, Q_ERR_INPUT_DATA, false},
      {"inner overruns body", {0x30, 0x03, 0x04, 0x02, 0xAA, 0xBB}, Q_ERR_INPUT_DATA, false},
      {"indefinite body", {0x30, 0x80, 0x04, 0x01, 0xAA, 0x00, 0x00}, 0, false},
  };
  for (const Case& c : cases) {
    Q_ITEM integer{nullptr, 0}, octets{nullptr, 0};
    void* slots[] = {nullptr, &integer, &octets};
    EXPECT_EQ(DecodeExact(kOptionalFirst, slots, c.input.data(), uint32_t(c.input.size())), c.status) << c.name;
    if (c.status == 0) {
      EXPECT_EQ(integer.data != nullptr, c.integerPresent) << c.name;
      EXPECT_EQ(Of(octets), Bytes{0xAA}) << c.name;
    }
  }
  // Trailing bytes after the element: Decode reports what it used,
  // DecodeExact refuses.
  const Bytes trailing = {0x30, 0x03, 0x04, 0x01, 0xAA, 0x00};
  Q_ITEM integer{nullptr, 0}, octets{nullptr, 0};
  void* slots[] = {nullptr, &integer, &octets};
  uint32_t consumed = 0;
  EXPECT_EQ(Decode(kOptionalFirst, slots, trailing.data(), 6, &consumed), 0);
  EXPECT_EQ(consumed, 5u);
  EXPECT_EQ(DecodeExact(kOptionalFirst, slots, trailing.data(), 6), Q_ERR_INPUT_DATA);
}

TEST(DerBody, AbsentMarkerAndNullSlots) {
  const Bytes withoutInteger = {0x30, 0x03, 0x04, 0x01, 0xAA};
  const Bytes withInteger = {0x30, 0x06, 0x02, 0x01, 0x05, 0x04, 0x01, 0xAA};
  // A required entry marked absent is not read...
  const DerEntry required[] = {
      {kTagSequence, nullptr, nullptr, 0},
      {kTagInteger, DecodeUnsigned, EncodeUnsigned, 1},
      {kTagOctetString, DecodeContents, EncodeContents, 2},
      {kTagEnd, nullptr, nullptr, 0},
  };
  Q_ITEM octets{nullptr, 0};
  void* slots[] = {nullptr, DerAbsent(), &octets};
  EXPECT_EQ(DecodeExact(required, slots, withoutInteger.data(), 5), 0);
  EXPECT_EQ(Of(octets), Bytes{0xAA});
  // ...so an INTEGER that is there does not match the next entry.
  EXPECT_EQ(DecodeExact(required, slots, withInteger.data(), 8), Q_ERR_INPUT_DATA);
  // A null slot still checks the element but stores nothing.
  void* unwanted[] = {nullptr, nullptr, &octets};
  EXPECT_EQ(DecodeExact(required, unwanted, withInteger.data(), 8), 0);
  EXPECT_EQ(DecodeExact(required, unwanted, withoutInteger.data(), 5), Q_ERR_INPUT_DATA);

  // Encoding: absent marker and null optional leave the element out; a null
  // required one is 520.
  Q_ITEM value{octets.data, 1};
  int status = -1;
  void* marked[] = {nullptr, DerAbsent(), &value};
  EXPECT_EQ(EncodeWith(required, marked, &status), withoutInteger);
  EXPECT_EQ(status, 0);
  void* missing[] = {nullptr, nullptr, &value};
  EncodeWith(required, missing, &status);
  EXPECT_EQ(status, Q_ERR_METHOD);
  EXPECT_EQ(EncodeWith(kOptionalFirst, missing, &status), withoutInteger);
  EXPECT_EQ(status, 0);
  Q_ITEM nullContents{nullptr, 0};
  void* nullPointer[] = {nullptr, nullptr, &nullContents};
  EncodeWith(kOptionalFirst, nullPointer, &status);
  EXPECT_EQ(status, Q_ERR_METHOD);
}

TEST(DerBody, AlgorithmIdentifierParametersOptional) {
  const Bytes noParameters = {0x30, 0x07, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
  const Bytes nullParameters = {0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00};
  Q_ITEM oid, parameters;
  ASSERT_EQ(DecodeAlgorithmIdentifier(noParameters.data(), 9, &oid, &parameters), 0);
  EXPECT_EQ(Of(oid), (Bytes{0x2B, 0x0E, 0x03, 0x02, 0x1A}));
  EXPECT_EQ(parameters.data, nullptr);
  ASSERT_EQ(DecodeAlgorithmIdentifier(nullParameters.data(), 11, &oid, &parameters), 0);
  EXPECT_EQ(Of(parameters), (Bytes{0x05, 0x00}));

  // Any element is taken as parameters.
  const Bytes setParameters = {0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x31, 0x00};
  ASSERT_EQ(DecodeAlgorithmIdentifier(setParameters.data(), 11, &oid, &parameters), 0);
  EXPECT_EQ(Of(parameters), (Bytes{0x31, 0x00}));
}

TEST(DerBitString, DecodeAndEncodeRules) {
  const DerEntry bitString[] = {{kTagBitString, DecodeBitString, EncodeBitString, 1}};
  struct Case {
    Bytes input;
    int status;
  } decodes[] = {{{0x03, 0x01, 0x00}, 0},
                 {{0x03, 0x00}, Q_ERR_INPUT_DATA},
                 {{0x03, 0x01, 0x01}, Q_ERR_INPUT_DATA},
                 {{0x03, 0x02, 0x08, 0xFF}, Q_ERR_INPUT_DATA},
                 {{0x03, 0x02, 0x07, 0x80}, 0}};
  for (const Case& c : decodes) {
    DerBitString bits{nullptr, 0, 99};
    void* slots[] = {nullptr, &bits};
    EXPECT_EQ(DecodeExact(bitString, slots, c.input.data(), uint32_t(c.input.size())), c.status);
    if (c.status == 0) {
      EXPECT_EQ(bits.unusedBits, c.input[2]);
    }
  }
  const unsigned char data[2] = {0x01, 0x05};
  struct EncodeCase {
    DerBitString bits;
    int status;
    Bytes encoding;
  } encodes[] = {
      {{data, 2, 0}, 0, {0x03, 0x03, 0x00, 0x01, 0x05}},
      {{data, 2, 3}, 0, {0x03, 0x03, 0x03, 0x01, 0x28}},
      {{data, 1, 1}, 0, {0x03, 0x02, 0x01, 0x02}},
      {{data, 0, 0}, 0, {0x03, 0x01, 0x00}},
      {{data, 2, 8}, Q_ERR_METHOD, {}},
      {{data, 0, 1}, Q_ERR_METHOD, {}},
  };
  for (const EncodeCase& c : encodes) {
    void* slots[] = {nullptr, const_cast<DerBitString*>(&c.bits)};
    int status = -1;
    EXPECT_EQ(EncodeWith(bitString, slots, &status), c.encoding);
    EXPECT_EQ(status, c.status);
  }
}

TEST(DerEncode, SetElementsInAscendingOrder) {
  // SET { OCTET STRING 1, SET { OCTET STRING 2, INTEGER 3 }, INTEGER 4 }
  const DerEntry set[] = {
      {kTagSet, nullptr, nullptr, 0},
      {kTagOctetString, DecodeContents, EncodeContents, 1},
      {kTagSet, nullptr, nullptr, 0},
      {kTagOctetString, DecodeContents, EncodeContents, 2},
      {kTagInteger, DecodeUnsigned, EncodeUnsigned, 3},
      {kTagEnd, nullptr, nullptr, 0},
      {kTagInteger, DecodeUnsigned, EncodeUnsigned, 4},
      {kTagEnd, nullptr, nullptr, 0},
  };
  Bytes longer = {0xAA, 0xAA}, shorter = {0xBB}, one = {0x01}, two = {0x02};
  Q_ITEM s1 = ItemOf(longer), s2 = ItemOf(shorter), s3 = ItemOf(two), s4 = ItemOf(one);
  void* slots[] = {nullptr, &s1, &s2, &s3, &s4};
  int status = -1;
  Bytes got = EncodeWith(set, slots, &status);
  ASSERT_EQ(status, 0);
  // 0x31 sorts after 0x04 and 0x02.
  const Bytes sorted = {0x31, 0x0F, 0x02, 0x01, 0x01, 0x04, 0x02, 0xAA, 0xAA,
                        0x31, 0x06, 0x02, 0x01, 0x02, 0x04, 0x01, 0xBB};
  EXPECT_EQ(got, sorted);
  // The same elements in a SEQUENCE keep the template order.
  DerEntry sequence[8];
  std::copy(std::begin(set), std::end(set), sequence);
  sequence[0].tag = kTagSequence;
  got = EncodeWith(sequence, slots, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(got, (Bytes{0x30, 0x0F, 0x04, 0x02, 0xAA, 0xAA, 0x31, 0x06, 0x02, 0x01, 0x02, 0x04, 0x01, 0xBB, 0x02,
                        0x01, 0x01}));
}

TEST(DerEncode, SizeLimits) {
  // One element.
  Bytes big(32760, 0x11);
  Q_ITEM value = ItemOf(big);
  void* slots[] = {nullptr, &value};
  int status = -1;
  Bytes out = EncodeWith(kOneInteger, slots, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.size(), 32764u);
  big.assign(32768, 0x11);
  value = ItemOf(big);
  EncodeWith(kOneInteger, slots, &status);
  EXPECT_EQ(status, Q_ERR_DER_TOO_LONG);
  // 32,763 content bytes make a 32,767-byte element; one more is refused.
  big.assign(32763, 0x11);
  value = ItemOf(big);
  EXPECT_EQ(EncodeWith(kOneInteger, slots, &status).size(), 32767u);
  big.assign(32764, 0x11);
  value = ItemOf(big);
  EncodeWith(kOneInteger, slots, &status);
  EXPECT_EQ(status, Q_ERR_DER_TOO_LONG);

  // A SEQUENCE whose parts fit but whose total does not.
  const DerEntry pair[] = {
      {kTagSequence, nullptr, nullptr, 0},
      {kTagOctetString, DecodeContents, EncodeContents, 1},
      {kTagOctetString, DecodeContents, EncodeContents, 2},
      {kTagEnd, nullptr, nullptr, 0},
  };
  Bytes half(16380, 0x22);
  Q_ITEM a = ItemOf(half), b = ItemOf(half);
  void* pairSlots[] = {nullptr, &a, &b};
  EncodeWith(pair, pairSlots, &status);
  EXPECT_EQ(status, Q_ERR_DER_TOO_LONG);

  // The element list: each bit string with unused bits takes three items.
  auto manyBitStrings = [&](int n) {
    std::vector<DerEntry> tmpl;
    tmpl.push_back({kTagSequence, nullptr, nullptr, 0});
    for (int i = 0; i < n; ++i) tmpl.push_back({kTagBitString, DecodeBitString, EncodeBitString, 1});
    tmpl.push_back({kTagEnd, nullptr, nullptr, 0});
    static const unsigned char data[2] = {0x01, 0x01};
    DerBitString bits{data, 2, 1};
    void* s[] = {nullptr, &bits};
    EncodeWith(tmpl.data(), s, &status);
    return status;
  };
  EXPECT_EQ(manyBitStrings(2000), 0);
  EXPECT_EQ(manyBitStrings(3000), Q_ERR_DER_TOO_LONG);
}

TEST(DerEncode, OutputTooSmallAndDigestInfo) {
  const unsigned char sha1Oid[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
  Bytes digest(20, 0x5A);
  unsigned char out[64];
  uint32_t length = 0;
  BufferSink target{out, sizeof out, &length};
  ASSERT_EQ(EncodeDigestInfoForOid(Q_ITEM{const_cast<unsigned char*>(sha1Oid), 5}, ItemOf(digest),
                                   ToBuffer(&target)),
            0);
  const Bytes prefix = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03,
                        0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  ASSERT_EQ(length, 35u);
  EXPECT_EQ(Bytes(out, out + 15), prefix);
  Q_ITEM algorithm, decoded;
  ASSERT_EQ(DecodeDigestInfo(out, length, &algorithm, &decoded), 0);
  EXPECT_EQ(Of(algorithm), Bytes(prefix.begin() + 2, prefix.begin() + 13));
  EXPECT_EQ(Of(decoded), digest);

  BufferSink small{out, 34, &length};
  EXPECT_EQ(EncodeDigestInfoForOid(Q_ITEM{const_cast<unsigned char*>(sha1Oid), 5}, ItemOf(digest),
                                   ToBuffer(&small)),
            Q_ERR_OUTPUT_LEN);
  EXPECT_EQ(length, 35u);
}

TEST(DerDecode, EveryPrefixIsRefused) {
  const Bytes spki = {0x30, 0x1C, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                      0x01, 0x01, 0x01, 0x05, 0x00, 0x03, 0x0B, 0x00, 0x30, 0x08, 0x02, 0x03,
                      0x00, 0xC1, 0x01, 0x02, 0x01, 0x03};
  const Bytes pki = {0x30, 0x1A, 0x02, 0x01, 0x00, 0x30, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                     0x0D, 0x01, 0x01, 0x01, 0x04, 0x08, 0x30, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x07};
  const Bytes indefinite = {0x30, 0x80, 0x30, 0x80, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x00,
                            0x00, 0x04, 0x82, 0x00, 0x02, 0x01, 0x02, 0x00, 0x00};
  Q_ITEM a, b, c;
  DerBitString bits;
  ASSERT_EQ(DecodeSubjectPublicKeyInfo(spki.data(), uint32_t(spki.size()), &a, &b, &bits), 0);
  ASSERT_EQ(DecodePrivateKeyInfo(pki.data(), uint32_t(pki.size()), &a, &b, &c), 0);
  ASSERT_EQ(DecodeDigestInfo(indefinite.data(), uint32_t(indefinite.size()), &a, &b), 0);
  EXPECT_EQ(Of(b), (Bytes{0x01, 0x02}));
  for (const Bytes* whole : {&spki, &pki, &indefinite}) {
    for (size_t n = 0; n < whole->size(); ++n) {
      std::unique_ptr<unsigned char[]> exact(new unsigned char[n]);
      std::copy(whole->begin(), whole->begin() + n, exact.get());
      EXPECT_EQ(DecodeSubjectPublicKeyInfo(exact.get(), uint32_t(n), &a, &b, &bits), Q_ERR_INPUT_DATA) << n;
      EXPECT_EQ(DecodePrivateKeyInfo(exact.get(), uint32_t(n), &a, &b, &c), Q_ERR_INPUT_DATA) << n;
      EXPECT_EQ(DecodeDigestInfo(exact.get(), uint32_t(n), &a, &b), Q_ERR_INPUT_DATA) << n;
      Q_ITEM parts[8];
      EXPECT_EQ(DecodeRSAPrivateKey(exact.get(), uint32_t(n), parts), Q_ERR_INPUT_DATA) << n;
    }
  }
}

TEST(DerEncode, AllocationFailureGives518AndWipes) {
  Bytes modulus(200, 0xC3), exponent = {0x01, 0x00, 0x01};
  Bytes out(400);
  uint32_t length = 0;
  auto operation = [&] {
    BufferSink target{out.data(), uint32_t(out.size()), &length};
    return EncodeRSAPublicKey(ItemOf(modulus), ItemOf(exponent), ToBuffer(&target));
  };
  uint64_t needed = testsupport::ForEachAllocationFailure(operation, [](int status, const testsupport::MemoryWatch& w) {
    EXPECT_EQ(status, Q_ERR_ALLOC);
    EXPECT_EQ(w.leakedBlocks(), 0);
    EXPECT_EQ(w.unwipedReleases(), 0);
  });
  EXPECT_GE(needed, 2u);
  testsupport::MemoryWatch watch;
  ASSERT_EQ(operation(), 0);
  EXPECT_EQ(watch.unwipedReleases(), 0);
  EXPECT_EQ(watch.leakedBlocks(), 0);
}

}  // namespace
