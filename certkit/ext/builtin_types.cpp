// The built-in extension types and the checks of their values against the
// X.509 definitions (RFC 5280 4.2.1 and 5.2, 5.3). Values may be BER: they
// sit inside an OCTET STRING that DER normalisation does not enter.
#include "certkit/asn1/asn1.h"
#include "certkit/ext/extensions.h"

namespace ck {

namespace {

// Walks the elements that fill one content.
struct Cursor {
  const uint8_t* p;
  uint32_t left;

  bool AtEnd() const { return left == 0; }
  // Reads the next element; false on a malformed one.
  bool Next(AsnHeader* h) {
    if (left == 0 || AsnReadElement(p, left, h) != 0) return false;
    p += h->totalLen;
    left -= h->totalLen;
    return true;
  }
  // Looks at the next element's identifier without moving; 0 at the end or
  // for a high tag number.
  uint32_t PeekIdent() const {
    AsnHeader h;
    if (left == 0 || AsnReadTagLength(p, left, &h) != 0 || h.extraIdentOctets != 0) return 0;
    return h.ident;
  }
};

constexpr int kBad = C_ERR_BAD_ENCODING;

// The value must be exactly one element of identifier |ident|; |*content|
// receives it as a cursor.
bool Whole(ByteRange value, uint32_t ident, Cursor* content) {
  AsnHeader h;
  if (value.len == 0 || AsnReadElement(value.data, value.len, &h) != 0) return false;
  if (h.totalLen != value.len || h.extraIdentOctets != 0 || h.ident != ident) return false;
  *content = Cursor{h.content, h.contentLen};
  return true;
}

bool IsIdent(const AsnHeader& h, uint32_t ident) { return h.extraIdentOctets == 0 && h.ident == ident; }

// An OBJECT IDENTIFIER with content whose last octet ends a subidentifier.
bool GoodOid(const AsnHeader& h) {
  return IsIdent(h, kAsnOid) && h.contentLen > 0 && (h.content[h.contentLen - 1] & 0x80) == 0;
}

// An INTEGER (or ENUMERATED) of at least one octet; |nonNegative| refuses a
// set top bit.
bool GoodInteger(const AsnHeader& h, uint32_t ident, bool nonNegative) {
  if (!IsIdent(h, ident) || h.contentLen == 0) return false;
  return !nonNegative || (h.content[0] & 0x80) == 0;
}

// GeneralName (RFC 5280 4.2.1.6): one of the nine context tags; otherName,
// x400Address, directoryName and ediPartyName are constructed, the others
// primitive.
bool GoodGeneralName(const AsnHeader& h) {
  if (h.extraIdentOctets != 0 || (h.ident & kAsnClassMask) != kAsnContext) return false;
  const uint32_t number = h.ident & 0x1F;
  const bool constructed = (h.ident & kAsnConstructed) != 0;
  switch (number) {
    case 0: {  // otherName: SEQUENCE { type-id OID, value [0] EXPLICIT ANY }
      if (!constructed) return false;
      Cursor c{h.content, h.contentLen};
      AsnHeader part;
      if (!c.Next(&part) || !GoodOid(part)) return false;
      if (!c.Next(&part) || !IsIdent(part, 0xA0)) return false;
      return c.AtEnd();
    }
    case 4: {  // directoryName: [4] EXPLICIT Name
      if (!constructed) return false;
      Cursor c{h.content, h.contentLen};
      AsnHeader name;
      return c.Next(&name) && IsIdent(name, kAsnSequence) && c.AtEnd();
    }
    case 3:
    case 5:
      return constructed;
    case 1:
    case 2:
    case 6:
    case 7:
    case 8:
      return !constructed;
    default:
      return false;
  }
}

// GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName, from its content.
bool GoodGeneralNames(Cursor c, uint32_t* count) {
  uint32_t n = 0;
  AsnHeader h;
  while (!c.AtEnd()) {
    if (!c.Next(&h) || !GoodGeneralName(h)) return false;
    ++n;
  }
  if (count != nullptr) *count = n;
  return n > 0;
}

// "UNKNOWN_TYPE": one well-formed element of any kind.
int CheckUnknown(ByteRange value, uint32_t* count) {
  AsnHeader h;
  if (value.len == 0 || AsnReadElement(value.data, value.len, &h) != 0 || h.totalLen != value.len) return kBad;
  *count = 1;
  return 0;
}

// IssuerAltName, SubjectAltName ::= GeneralNames
int CheckAltNames(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnSequence, &c)) return kBad;
  return GoodGeneralNames(c, count) ? 0 : kBad;
}

// AuthorityKeyIdentifier ::= SEQUENCE {
//   keyIdentifier             [0] IMPLICIT OCTET STRING OPTIONAL,
//   authorityCertIssuer       [1] IMPLICIT GeneralNames OPTIONAL,
//   authorityCertSerialNumber [2] IMPLICIT INTEGER OPTIONAL }
int CheckAuthorityKeyId(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnSequence, &c)) return kBad;
  AsnHeader h;
  if (c.PeekIdent() == 0x80 && !c.Next(&h)) return kBad;
  if (c.PeekIdent() == 0xA1) {
    if (!c.Next(&h) || !GoodGeneralNames(Cursor{h.content, h.contentLen}, nullptr)) return kBad;
  }
  if (c.PeekIdent() == 0x82 && (!c.Next(&h) || h.contentLen == 0)) return kBad;
  if (!c.AtEnd()) return kBad;
  *count = 1;
  return 0;
}

// BasicConstraints ::= SEQUENCE {
//   cA                BOOLEAN DEFAULT FALSE,
//   pathLenConstraint INTEGER (0..MAX) OPTIONAL }
int CheckBasicConstraints(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnSequence, &c)) return kBad;
  AsnHeader h;
  if (c.PeekIdent() == kAsnBoolean && (!c.Next(&h) || h.contentLen != 1)) return kBad;
  if (c.PeekIdent() == kAsnInteger && (!c.Next(&h) || !GoodInteger(h, kAsnInteger, true))) return kBad;
  if (!c.AtEnd()) return kBad;
  *count = 1;
  return 0;
}

// certificatePolicies ::= SEQUENCE SIZE (1..MAX) OF PolicyInformation
// PolicyInformation ::= SEQUENCE {
//   policyIdentifier CertPolicyId (OBJECT IDENTIFIER),
//   policyQualifiers SEQUENCE SIZE (1..MAX) OF PolicyQualifierInfo OPTIONAL }
// PolicyQualifierInfo ::= SEQUENCE { policyQualifierId OID, qualifier ANY }
int CheckPolicies(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnSequence, &c)) return kBad;
  uint32_t n = 0;
  AsnHeader info;
  while (!c.AtEnd()) {
    if (!c.Next(&info) || !IsIdent(info, kAsnSequence)) return kBad;
    Cursor parts{info.content, info.contentLen};
    AsnHeader h;
    if (!parts.Next(&h) || !GoodOid(h)) return kBad;
    if (!parts.AtEnd()) {
      if (!parts.Next(&h) || !IsIdent(h, kAsnSequence) || !parts.AtEnd()) return kBad;
      Cursor qualifiers{h.content, h.contentLen};
      if (qualifiers.AtEnd()) return kBad;
      while (!qualifiers.AtEnd()) {
        AsnHeader q;
        if (!qualifiers.Next(&q) || !IsIdent(q, kAsnSequence)) return kBad;
        Cursor qp{q.content, q.contentLen};
        AsnHeader part;
        if (!qp.Next(&part) || !GoodOid(part)) return kBad;
        if (!qp.AtEnd() && (!qp.Next(&part) || !qp.AtEnd())) return kBad;
      }
    }
    ++n;
  }
  if (n == 0) return kBad;
  *count = n;
  return 0;
}

// PolicyMappings ::= SEQUENCE SIZE (1..MAX) OF SEQUENCE {
//   issuerDomainPolicy OID, subjectDomainPolicy OID }
int CheckPolicyMappings(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnSequence, &c)) return kBad;
  uint32_t n = 0;
  AsnHeader pair;
  while (!c.AtEnd()) {
    if (!c.Next(&pair) || !IsIdent(pair, kAsnSequence)) return kBad;
    Cursor parts{pair.content, pair.contentLen};
    AsnHeader h;
    if (!parts.Next(&h) || !GoodOid(h) || !parts.Next(&h) || !GoodOid(h) || !parts.AtEnd()) return kBad;
    ++n;
  }
  if (n == 0) return kBad;
  *count = n;
  return 0;
}

// SubjectDirectoryAttributes ::= SEQUENCE SIZE (1..MAX) OF Attribute
// Attribute ::= SEQUENCE { type OID, values SET SIZE (1..MAX) OF ANY }
int CheckDirectoryAttributes(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnSequence, &c)) return kBad;
  uint32_t n = 0;
  AsnHeader attribute;
  while (!c.AtEnd()) {
    if (!c.Next(&attribute) || !IsIdent(attribute, kAsnSequence)) return kBad;
    Cursor parts{attribute.content, attribute.contentLen};
    AsnHeader h;
    if (!parts.Next(&h) || !GoodOid(h) || !parts.Next(&h) || !IsIdent(h, kAsnSet) || !parts.AtEnd()) return kBad;
    Cursor values{h.content, h.contentLen};
    if (values.AtEnd()) return kBad;
    AsnHeader v;
    while (!values.AtEnd()) {
      if (!values.Next(&v)) return kBad;
    }
    ++n;
  }
  if (n == 0) return kBad;
  *count = n;
  return 0;
}

// SubjectKeyIdentifier ::= KeyIdentifier (OCTET STRING)
int CheckKeyIdentifier(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnOctetString, &c)) return kBad;
  *count = 1;
  return 0;
}

// KeyUsage ::= BIT STRING
int CheckKeyUsage(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnBitString, &c)) return kBad;
  if (AsnDecodeBitString(kAsnBitString, 0, 0, nullptr, 0, c.p, c.left, nullptr) != 0) return kBad;
  *count = 1;
  return 0;
}

// PrivateKeyUsagePeriod ::= SEQUENCE {
//   notBefore [0] IMPLICIT GeneralizedTime OPTIONAL,
//   notAfter  [1] IMPLICIT GeneralizedTime OPTIONAL }
int CheckPrivateKeyUsagePeriod(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnSequence, &c)) return kBad;
  static const uint32_t kTags[] = {0x80, 0x81};
  for (uint32_t tag : kTags) {
    if (c.PeekIdent() != tag) continue;
    AsnHeader h;
    if (!c.Next(&h)) return kBad;
    if (AsnDecodeGeneralizedTime(tag, 0, 0, nullptr, 0, h.content, h.contentLen, nullptr) != 0) return kBad;
  }
  if (!c.AtEnd()) return kBad;
  *count = 1;
  return 0;
}

// CRLNumber ::= INTEGER (0..MAX); BaseCRLNumber (delta CRL indicator) the same.
int CheckCrlNumber(ByteRange value, uint32_t* count) {
  AsnHeader h;
  if (value.len == 0 || AsnReadElement(value.data, value.len, &h) != 0 || h.totalLen != value.len) return kBad;
  if (!GoodInteger(h, kAsnInteger, true)) return kBad;
  *count = 1;
  return 0;
}

// HoldInstructionCode ::= OBJECT IDENTIFIER
int CheckHoldInstruction(ByteRange value, uint32_t* count) {
  AsnHeader h;
  if (value.len == 0 || AsnReadElement(value.data, value.len, &h) != 0 || h.totalLen != value.len) return kBad;
  if (!GoodOid(h)) return kBad;
  *count = 1;
  return 0;
}

// InvalidityDate ::= GeneralizedTime
int CheckInvalidityDate(ByteRange value, uint32_t* count) {
  Cursor c{};
  if (!Whole(value, kAsnGeneralizedTime, &c)) return kBad;
  if (AsnDecodeGeneralizedTime(kAsnGeneralizedTime, 0, 0, nullptr, 0, c.p, c.left, nullptr) != 0) return kBad;
  *count = 1;
  return 0;
}

// CRLReason ::= ENUMERATED
int CheckReasonCode(ByteRange value, uint32_t* count) {
  AsnHeader h;
  if (value.len == 0 || AsnReadElement(value.data, value.len, &h) != 0 || h.totalLen != value.len) return kBad;
  if (!GoodInteger(h, 0x0A, false)) return kBad;
  *count = 1;
  return 0;
}

// Content octets of the OIDs 2.5.29.n.
const uint8_t kIssuerAltName[] = {0x55, 0x1D, 0x12};
const uint8_t kAuthorityKeyId[] = {0x55, 0x1D, 0x23};
const uint8_t kBasicConstraints[] = {0x55, 0x1D, 0x13};
const uint8_t kSubjectAltName[] = {0x55, 0x1D, 0x11};
const uint8_t kCertificatePolicies[] = {0x55, 0x1D, 0x20};
const uint8_t kPolicyMappings[] = {0x55, 0x1D, 0x21};
const uint8_t kSubjectDirectoryAttributes[] = {0x55, 0x1D, 0x09};
const uint8_t kSubjectKeyId[] = {0x55, 0x1D, 0x0E};
const uint8_t kKeyUsage[] = {0x55, 0x1D, 0x0F};
const uint8_t kPrivateKeyUsagePeriod[] = {0x55, 0x1D, 0x10};
const uint8_t kCrlNumber[] = {0x55, 0x1D, 0x14};
const uint8_t kDeltaCrlIndicator[] = {0x55, 0x1D, 0x1B};
const uint8_t kHoldInstructionCode[] = {0x55, 0x1D, 0x17};
const uint8_t kInvalidityDate[] = {0x55, 0x1D, 0x18};
const uint8_t kReasonCode[] = {0x55, 0x1D, 0x15};

constexpr uint32_t kCert = C_EXT_KIND_CERT;
constexpr uint32_t kCrl = C_EXT_KIND_CRL;
constexpr uint32_t kEntry = C_EXT_KIND_CRL_ENTRY;

#define KV_OID(name) name, sizeof name

// label, OID, critical by default, criticality may differ, kinds, multiple,
// handler replaceable, value check, registered handler.
const ExtensionType kBuiltin[] = {
    {"UNKNOWN_TYPE", nullptr, 0, 0, 1, kCert | kCrl | kEntry, 0, 1, CheckUnknown, nullptr},
    {"issuer alternative name", KV_OID(kIssuerAltName), 0, 1, kCert | kCrl, 1, 1, CheckAltNames, nullptr},
    {"authority key identifier", KV_OID(kAuthorityKeyId), 0, 1, kCert | kCrl, 0, 1, CheckAuthorityKeyId, nullptr},
    {"basic constraints", KV_OID(kBasicConstraints), 1, 1, kCert, 0, 1, CheckBasicConstraints, nullptr},
    {"subject alternative name", KV_OID(kSubjectAltName), 0, 1, kCert, 1, 1, CheckAltNames, nullptr},
    {"certificate policies", KV_OID(kCertificatePolicies), 0, 1, kCert, 1, 1, CheckPolicies, nullptr},
    {"policy mappings", KV_OID(kPolicyMappings), 1, 1, kCert, 1, 1, CheckPolicyMappings, nullptr},
    {"subject directory attributes", KV_OID(kSubjectDirectoryAttributes), 0, 1, kCert, 1, 1,
     CheckDirectoryAttributes, nullptr},
    {"subject key identifier", KV_OID(kSubjectKeyId), 0, 1, kCert, 0, 1, CheckKeyIdentifier, nullptr},
    {"key usage", KV_OID(kKeyUsage), 0, 1, kCert, 0, 1, CheckKeyUsage, nullptr},
    {"private key usage period", KV_OID(kPrivateKeyUsagePeriod), 0, 1, kCert, 0, 1, CheckPrivateKeyUsagePeriod,
     nullptr},
    {"CRL number", KV_OID(kCrlNumber), 0, 1, kCrl, 0, 1, CheckCrlNumber, nullptr},
    {"delta CRL indicator", KV_OID(kDeltaCrlIndicator), 1, 1, kCrl, 0, 1, CheckCrlNumber, nullptr},
    {"hold instruction code", KV_OID(kHoldInstructionCode), 0, 1, kEntry, 0, 1, CheckHoldInstruction, nullptr},
    {"invalidity date", KV_OID(kInvalidityDate), 0, 1, kEntry, 0, 1, CheckInvalidityDate, nullptr},
    {"reason code", KV_OID(kReasonCode), 0, 1, kEntry, 0, 1, CheckReasonCode, nullptr},
};

#undef KV_OID

constexpr uint32_t kBuiltinCount = sizeof kBuiltin / sizeof kBuiltin[0];

}  // namespace

const ExtensionType* BuiltinExtensionTypes(uint32_t* rowCount) {
  if (rowCount != nullptr) *rowCount = kBuiltinCount;
  return kBuiltin;
}

const ExtensionType* FindBuiltinExtensionType(const uint8_t* oid, uint32_t oidLen) {
  for (uint32_t i = 1; i < kBuiltinCount; ++i) {
    const ExtensionType& row = kBuiltin[i];
    if (row.oidLen == oidLen && AsnCompareEncodings(row.oid, row.oidLen, oid, oidLen) == 0) return &row;
  }
  return nullptr;
}

const ExtensionType* UnknownExtensionType() { return &kBuiltin[0]; }

}  // namespace ck
