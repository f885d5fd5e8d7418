// Builders and readers of the two CRL extension values (RFC 5280 5.2.3 and
// 5.3.1): cRLNumber on the list and reasonCode on a revoked entry.
#include "certkit/errors.h"
#include "certkit/ext/der_walk.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

constexpr uint32_t kAsnEnumerated = 0x0A;

bool ClearValue(unsigned char** value, uint32_t* valueLen) {
  if (value == nullptr || valueLen == nullptr) return false;
  *value = nullptr;
  *valueLen = 0;
  return true;
}

// Writes the primitive element |ident| with |content| into the caller's block.
int WritePrimitive(uint32_t ident, const uint8_t* content, uint32_t len, unsigned char** value, uint32_t* valueLen) {
  int status = AsnEncodePrimitive(ident, ByteRange{content, len}, value, valueLen);
  if (status != 0) {
    *value = nullptr;
    *valueLen = 0;
    return FromCodecCode(status);
  }
  return 0;
}

}  // namespace

}  // namespace ck

extern "C" {

int C_BuildCRLNumber(const unsigned char* number, uint32_t numberLen, unsigned char** value, uint32_t* valueLen) {
  if (!ck::ClearValue(value, valueLen) || number == nullptr || numberLen == 0) return C_ERR_BAD_ARGUMENT;
  // CRLNumber ::= INTEGER (0..MAX), at most 20 octets (RFC 5280 5.2.3).
  while (numberLen > 1 && number[0] == 0) {
    ++number;
    --numberLen;
  }
  if (numberLen > C_CRL_NUMBER_MAX) return C_ERR_BAD_ARGUMENT;
  uint8_t content[C_CRL_NUMBER_MAX + 1];
  uint32_t len = 0;
  if ((number[0] & 0x80) != 0) content[len++] = 0;
  for (uint32_t i = 0; i < numberLen; ++i) content[len++] = number[i];
  return ck::WritePrimitive(ck::kAsnInteger, content, len, value, valueLen);
}

int C_BuildReasonCode(uint32_t reason, unsigned char** value, uint32_t* valueLen) {
  if (!ck::ClearValue(value, valueLen) || reason > C_REASON_AA_COMPROMISE || reason == 7) return C_ERR_BAD_ARGUMENT;
  // CRLReason ::= ENUMERATED { unspecified (0), ..., aACompromise (10) }
  const uint8_t octet = static_cast<uint8_t>(reason);
  return ck::WritePrimitive(ck::kAsnEnumerated, &octet, 1, value, valueLen);
}

int C_ReadCRLNumber(const unsigned char* value, uint32_t valueLen, C_ITEM* number) {
  if (number == nullptr) return C_ERR_NULL_OUTPUT;
  ck::AsnHeader h;
  ck::DerWalk walk{value, value == nullptr ? 0 : valueLen};
  if (!walk.Next(&h) || !walk.AtEnd() || h.ident != ck::kAsnInteger || h.contentLen == 0) return C_ERR_BAD_ENCODING;
  // Non-negative, shortest form.
  if ((h.content[0] & 0x80) != 0) return C_ERR_BAD_ENCODING;
  if (h.contentLen > 1 && h.content[0] == 0 && (h.content[1] & 0x80) == 0) return C_ERR_BAD_ENCODING;
  const uint8_t* p = h.content;
  uint32_t len = h.contentLen;
  if (len > 1 && p[0] == 0) {
    ++p;
    --len;
  }
  if (len > C_CRL_NUMBER_MAX) return C_ERR_BAD_ENCODING;
  *number = C_ITEM{p, len};
  return 0;
}

int C_ReadReasonCode(const unsigned char* value, uint32_t valueLen, uint32_t* reason) {
  if (reason == nullptr) return C_ERR_NULL_OUTPUT;
  ck::AsnHeader h;
  ck::DerWalk walk{value, value == nullptr ? 0 : valueLen};
  if (!walk.Next(&h) || !walk.AtEnd() || h.ident != ck::kAsnEnumerated || h.contentLen != 1) {
    return C_ERR_BAD_ENCODING;
  }
  const uint32_t r = h.content[0];
  if (r > C_REASON_AA_COMPROMISE || r == 7) return C_ERR_BAD_ENCODING;
  *reason = r;
  return 0;
}

}  // extern "C"
