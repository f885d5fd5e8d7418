// Name objects inside the toolkit: their layout, the attribute table, AVA
// validation, and the set-from-DER that certificate and request objects use
// for their issuer and subject.
#ifndef KVCATOOL_CERTKIT_NAME_NAME_H
#define KVCATOOL_CERTKIT_NAME_NAME_H

#include <cstdint>

#include "certkit/asn1/asn1.h"
#include "certkit/certkit.h"
#include "certkit/object.h"

// The name object (type tag 1998).
struct C_NameObj {
  ck::ObjectHeader header;  // class descriptor, type tag
  ck::ByteRange der;        // owned DER encoding; null and 0 when never encoded
  uint32_t stale;           // AVAs were added after |der| was made
  ck::PtrList avas;         // C_NAME_AVA*, each owned with its value copy
  ck::PtrList extraOids;    // ck::ByteRange*, owned copies of OIDs outside the table
};

namespace ck {

// One row of the attribute table: OID content octets, the value tags allowed
// (terminated by 0) and the length rule in characters.
struct AttributeRow {
  const char* label;
  const uint8_t* oid;
  uint32_t oidLen;
  uint8_t tags[4];
  uint32_t minLen;
  uint32_t maxLen;
};

// The 11 rows, in search order.
const AttributeRow* AttributeTable(uint32_t* rowCount);
// The row whose OID is exactly |oid|, or null.
const AttributeRow* FindAttribute(const uint8_t* oid, uint32_t oidLen);

// Checks one AVA against the attribute table: tag below 31 and primitive
// (C_ERR_VALUE_TAG), the row's tags (C_ERR_VALUE_TAG) and length rule
// (C_ERR_VALUE_LENGTH), PrintableString characters (C_ERR_VALUE_CHARS).
// |valueLen| counts characters for BMPString. |*row| receives the table row
// or null for an OID outside the table.
int ValidateAVA(const uint8_t* oid, uint32_t oidLen, uint32_t valueTag, const uint8_t* value, uint32_t valueLen,
                const AttributeRow** row);

// Internal set-from-DER: |der| is already DER (an issuer or subject taken
// from a decoded certificate or request). It is copied and decoded with the
// same rules and results as C_SetNameBER; an empty Name (30 00) empties the
// name. Errors: C_ERR_NOT_NAME_OBJ; C_ERR_INPUT_DATA for no data, length 0
// or contents that break the codec's rules; the AVA codes; C_ERR_ALLOC. On
// failure the name is unchanged. With |forDisplay| the attribute table's
// tag, length and character rules are not applied: any universal string
// type of any length is kept for showing (a certificate read, not issued).
int NameSetFromDER(C_NAME_OBJ name, const uint8_t* der, uint32_t derLen, bool forDisplay = false);

// The Name template (decoding, normalisation and encoding share it).
const AsnEntry* NameTemplate();

}  // namespace ck

#endif
