// The crypto toolkit's own DER codec: a small table-driven reader and writer
// for the few structures the toolkit exchanges (RSAPublicKey, RSAPrivateKey,
// SubjectPublicKeyInfo, PrivateKeyInfo, DigestInfo, AlgorithmIdentifier).
//
// A template is an array of four-word entries {tag word, decode handler,
// encode handler, slot index}. A SEQUENCE or SET entry opens a body that runs
// to its END entry. The caller passes a slot array: slot[i] points to the
// value of the entries with slot index i (slot 0 is never used). When
// decoding, a null slot means "not wanted" and the element is only checked;
// when encoding, a null slot means the element is absent. A slot holding
// DerAbsent() is treated as not present in both directions.
//
// Only toolkit sources include this header.
#ifndef KVCATOOL_CRYPTOKIT_DER_DER_H
#define KVCATOOL_CRYPTOKIT_DER_DER_H

#include <cstdint>

#include "cryptokit/core/objects.h"

namespace qk::der {

// ---------------------------------------------------------------------------
// Tag words.

constexpr uint32_t kTagInteger = 0x02;
constexpr uint32_t kTagBitString = 0x03;
constexpr uint32_t kTagOctetString = 0x04;
constexpr uint32_t kTagNull = 0x05;
constexpr uint32_t kTagOid = 0x06;
constexpr uint32_t kTagSequence = 0x30;
constexpr uint32_t kTagSet = 0x31;
constexpr uint32_t kTagAny = 0x1D;       // one element of any tag, taken whole
constexpr uint32_t kTagOptional = 0x100; // the element may be absent
constexpr uint32_t kTagWhole = 0x200;    // a SEQUENCE or SET taken whole: no body is opened
constexpr uint32_t kTagEnd = 0x1E;       // the whole word: closes the nearest open body

// ---------------------------------------------------------------------------
// Results of the identifier-and-length reader and writer (the codec maps
// them to toolkit codes: both read failures become 524, a too-small output
// 536).

constexpr int kReadTruncated = 1;
constexpr int kReadBadEncoding = 2;
constexpr int kWriteTooSmall = 10;

// Limits of the encoder.
constexpr uint32_t kMaxElementLength = 32767;   // one element, header included
constexpr uint32_t kMaxItemPointerBytes = 32766; // the element list's item array
constexpr uint32_t kItemPointerBytes = 4;        // counted per item
constexpr uint32_t kMaxTotalLength = 32767;      // whole encoding (32,768 and more refused)
// Nesting of indefinite-length elements that the reader walks.
constexpr int kMaxIndefiniteDepth = 32;

// ---------------------------------------------------------------------------
// Element list of the encoder.

// Item kinds besides an identifier octet (which means content bytes follow).
constexpr uint32_t kKindPreEncoded = 27; // a complete element, copied unchanged
constexpr uint32_t kKindEnd = 30;        // end of a constructed body
constexpr uint32_t kKindContinued = 0x400; // content continues in the next item

struct DerItem {
  const unsigned char* data;
  uint32_t length;
  uint32_t kind;
  uint32_t extra;  // computed content length of a constructed or chained element
};

class DerEncoder;

// Decode handler: stores the element's |contents| into |slot|. 0 or 524.
using DecodeHandler = int (*)(void* slot, uint32_t identifier, const unsigned char* contents, uint32_t length);
// Encode handler: appends the items for the value in |slot| under
// |identifier|; sets |*wrote| false when the value is absent. 0, 518, 520 or
// 537.
using EncodeHandler = int (*)(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);

struct DerEntry {
  uint32_t tag;
  DecodeHandler decode;  // null: the slot gets the whole element
  EncodeHandler encode;  // null: the slot holds a whole element to copy
  uint32_t slot;
};

// The absent marker: a fixed address a slot may hold.
void* DerAbsent();

// Value of a bit string slot.
struct DerBitString {
  const unsigned char* data;
  uint32_t length;
  uint32_t unusedBits;
};

// ---------------------------------------------------------------------------
// Handlers. Slot types: unsigned integer and contents Q_ITEM; 16-bit and
// 32-bit integer unsigned char[2] / [4] big-endian; fixed small integer
// unsigned char[2] big-endian holding the value required; bit string
// DerBitString; whole element (null handler) Q_ITEM.

int DecodeUnsigned(void* slot, uint32_t identifier, const unsigned char* contents, uint32_t length);
int DecodeInt16(void* slot, uint32_t identifier, const unsigned char* contents, uint32_t length);
int DecodeInt32(void* slot, uint32_t identifier, const unsigned char* contents, uint32_t length);
int DecodeFixedSmall(void* slot, uint32_t identifier, const unsigned char* contents, uint32_t length);
int DecodeBitString(void* slot, uint32_t identifier, const unsigned char* contents, uint32_t length);
int DecodeContents(void* slot, uint32_t identifier, const unsigned char* contents, uint32_t length);

int EncodeUnsigned(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);
int EncodeInt16(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);
int EncodeInt32(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);
int EncodeFixedSmall(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);
int EncodeBitString(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);
int EncodeContents(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);
int EncodeWhole(DerEncoder* encoder, uint32_t identifier, const void* slot, bool* wrote);

// ---------------------------------------------------------------------------
// The element list the encode handlers append to.

class DerEncoder {
 public:
  DerEncoder() = default;
  ~DerEncoder();
  DerEncoder(const DerEncoder&) = delete;
  DerEncoder& operator=(const DerEncoder&) = delete;

  // Appends one item, growing the list ten items at a time. 0, 518 or 537.
  int Append(const unsigned char* data, uint32_t length, uint32_t kind);

  DerItem* items() { return items_; }
  uint32_t count() const { return count_; }

 private:
  DerItem* items_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
};

// ---------------------------------------------------------------------------
// Output sink: receives the whole encoding in one piece. Returns a toolkit
// code.
struct DerSink {
  int (*put)(void* context, const unsigned char* data, uint32_t length);
  void* context;
};

// A sink that copies into |buffer| of |capacity| bytes and stores the length
// in |*length| (also when refusing with 536).
struct BufferSink {
  unsigned char* buffer;
  uint32_t capacity;
  uint32_t* length;
};
DerSink ToBuffer(BufferSink* target);

// A sink that copies into a new block owned by |memory| and stores pointer and
// length in |*out|.
struct OwnedSink {
  OwnedMemory* memory;
  Q_ITEM* out;
};
DerSink ToOwnedBlock(OwnedSink* target);

// ---------------------------------------------------------------------------
// The codec.

// ReadIdentifierAndLength reads one element header at |input| (|available|
// bytes). On 0 it gives the first identifier octet, the contents (pointer and
// length; for an indefinite length, up to the end-of-contents pair) and the
// element's total length. Otherwise kReadTruncated or kReadBadEncoding.
int ReadIdentifierAndLength(const unsigned char* input, uint32_t available, uint32_t* identifier,
                            const unsigned char** contents, uint32_t* contentsLength, uint32_t* totalLength);

// WriteIdentifierAndLength writes identifier, length and (when |contents| is
// not null) the contents to |output| of |capacity| bytes and stores the total
// in |*total|. With a null |output| it only computes the total. 0 or
// kWriteTooSmall.
int WriteIdentifierAndLength(uint32_t identifier, uint32_t contentsLength, const unsigned char* contents,
                             unsigned char* output, uint32_t capacity, uint32_t* total);

// TemplateWidth returns the number of entries from |entry| to its next
// sibling (1 for an element without a body).
uint32_t TemplateWidth(const DerEntry* entry);

// Decode reads the element described by |tmpl| (its first entry and the body
// that follows) at |input| and fills the slots. |*consumed| gets the bytes
// read. 0 or 524.
int Decode(const DerEntry* tmpl, void* const* slots, const unsigned char* input, uint32_t length,
           uint32_t* consumed);
// DecodeExact is Decode that also requires the whole input to be consumed.
int DecodeExact(const DerEntry* tmpl, void* const* slots, const unsigned char* input, uint32_t length);

// Encode writes the element described by |tmpl| from the slots and hands the
// complete encoding to |sink|. 0, 518, 520, 537 or the sink's code.
int Encode(const DerEntry* tmpl, void* const* slots, const DerSink& sink);

// ---------------------------------------------------------------------------
// The toolkit's structures. Decoders leave pointers into the input; an
// absent optional element leaves its Q_ITEM as {null, 0}. All decoders
// require the input to hold exactly one element (524 otherwise). Encoders
// deliver the encoding through a sink.

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
int DecodeRSAPublicKey(const unsigned char* input, uint32_t length, Q_ITEM* modulus, Q_ITEM* exponent);
int EncodeRSAPublicKey(const Q_ITEM& modulus, const Q_ITEM& exponent, const DerSink& sink);

// RSAPrivateKey ::= SEQUENCE { version INTEGER (0), modulus, publicExponent,
// privateExponent, prime1, prime2, exponent1, exponent2, coefficient }.
// |components| holds the eight INTEGERs in that order. Version other than 0:
// 524.
int DecodeRSAPrivateKey(const unsigned char* input, uint32_t length, Q_ITEM components[8]);
int EncodeRSAPrivateKey(const Q_ITEM components[8], const DerSink& sink);

// SubjectPublicKeyInfo ::= SEQUENCE { SEQUENCE { algorithm OID, parameters
// ANY OPTIONAL }, subjectPublicKey BIT STRING }. |parameters| gets the whole
// parameters element.
int DecodeSubjectPublicKeyInfo(const unsigned char* input, uint32_t length, Q_ITEM* algorithm,
                               Q_ITEM* parameters, DerBitString* publicKey);
// Writes the parameters element when |parameters| has a non-null pointer.
int EncodeSubjectPublicKeyInfo(const Q_ITEM& algorithm, const Q_ITEM& parameters, const DerBitString& publicKey,
                               const DerSink& sink);

// PrivateKeyInfo ::= SEQUENCE { version INTEGER (0), SEQUENCE { algorithm OID,
// parameters ANY OPTIONAL }, privateKey OCTET STRING }. Version other than 0:
// 524. Attributes are neither read nor written.
int DecodePrivateKeyInfo(const unsigned char* input, uint32_t length, Q_ITEM* algorithm, Q_ITEM* parameters,
                         Q_ITEM* privateKey);
int EncodePrivateKeyInfo(const Q_ITEM& algorithm, const Q_ITEM& parameters, const Q_ITEM& privateKey,
                         const DerSink& sink);

// DigestInfo ::= SEQUENCE { digestAlgorithm AlgorithmIdentifier (taken
// whole), digest OCTET STRING }.
int DecodeDigestInfo(const unsigned char* input, uint32_t length, Q_ITEM* algorithmIdentifier, Q_ITEM* digest);
int EncodeDigestInfo(const Q_ITEM& algorithmIdentifier, const Q_ITEM& digest, const DerSink& sink);
// Writes a DigestInfo whose AlgorithmIdentifier is {|digestOid|, NULL}.
int EncodeDigestInfoForOid(const Q_ITEM& digestOid, const Q_ITEM& digest, const DerSink& sink);

// AlgorithmIdentifier ::= SEQUENCE { algorithm OID, parameters ANY OPTIONAL }.
int DecodeAlgorithmIdentifier(const unsigned char* input, uint32_t length, Q_ITEM* algorithm, Q_ITEM* parameters);
int EncodeAlgorithmIdentifier(const Q_ITEM& algorithm, const Q_ITEM& parameters, const DerSink& sink);

// The two octets of an ASN.1 NULL, for parameters.
extern const unsigned char kDerNull[2];

// ---------------------------------------------------------------------------
// PBES2 (RFC 8018, A.2 and A.4), with PBKDF2 as the key derivation:
//
//   AlgorithmIdentifier ::= SEQUENCE { id-PBES2, PBES2-params }
//   PBES2-params ::= SEQUENCE {
//     keyDerivationFunc SEQUENCE { id-PBKDF2, PBKDF2-params },
//     encryptionScheme  SEQUENCE { algorithm OID, parameters ANY } }
//   PBKDF2-params ::= SEQUENCE {
//     salt OCTET STRING, iterationCount INTEGER, keyLength INTEGER OPTIONAL,
//     prf SEQUENCE { algorithm OID, parameters NULL } DEFAULT hmacWithSHA1 }
//
// The fields, as pointers into the decoded input (contents octets). An
// absent prf leaves |prf| as {null, 0}; an encryption scheme whose
// parameters are not an OCTET STRING leaves |iv| as {null, 0}.
struct Pbes2Fields {
  Q_ITEM salt;
  uint32_t iterationCount;
  bool hasKeyLength;
  uint32_t keyLength;
  Q_ITEM prf;
  Q_ITEM cipher;
  Q_ITEM iv;
};

// id-PBES2 1.2.840.113549.1.5.13 and id-PBKDF2 1.2.840.113549.1.5.12.
extern const unsigned char kPbes2Oid[9];
extern const unsigned char kPbkdf2Oid[9];

// DecodePbes2 reads a whole PBES2 AlgorithmIdentifier strictly: only DER
// (definite minimal lengths, minimal non-negative INTEGERs, prf parameters
// NULL), nothing before or after it. 541 when the algorithm is not PBES2;
// 551 when the key derivation is not PBKDF2; 550 for an iteration count and
// 553 for a key length that do not fit 32 bits; 524 for any other fault.
// Which PRF and cipher are named, and the values, are the caller's to judge.
int DecodePbes2(const unsigned char* input, uint32_t length, Pbes2Fields* fields);
// EncodePbes2 writes the AlgorithmIdentifier of |fields| (|iv| required; the
// prf written only when it has a pointer, keyLength only when flagged).
int EncodePbes2(const Pbes2Fields& fields, const DerSink& sink);

}  // namespace qk::der

#endif
