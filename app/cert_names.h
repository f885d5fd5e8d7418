// Names of certificates as text: short names of attribute types and the
// one-line rendering of a distinguished name.
#ifndef KVCATOOL_APP_CERT_NAMES_H
#define KVCATOOL_APP_CERT_NAMES_H

#include <cstdint>
#include <string>

#include "app/ui.h"
#include "certkit/certkit.h"

namespace kvapp {

// The short name ("C", "ST", "L", "O", "OU", "CN", "T", "serialNumber",
// "street", "DC", "UID", "emailAddress", "givenName", "SN", ...) of the
// attribute type whose OBJECT IDENTIFIER has the content bytes |oid|; null
// when it has none.
const char* AttributeShortName(const unsigned char* oid, uint32_t oidLength);

// Universal tag of UniversalString (UCS-4) name values.
constexpr uint32_t kTagUniversalString = 28;

// A name value of string type |valueTag| as UTF-8: BMPString (|valueLength|
// characters, UTF-16 big-endian) and UniversalString (UCS-4) are converted;
// every other type gives its octets, not yet escaped for display.
std::string NameValueUtf8(uint32_t valueTag, const unsigned char* value, uint32_t valueLength);

// The dotted form of an OBJECT IDENTIFIER's content bytes ("2.5.4.9"); empty
// when the bytes are not a well-formed identifier.
std::string DottedOid(const unsigned char* oid, uint32_t oidLength);

// Appends the rendering of |name| to |text|: its attribute-value pairs in
// their stored order, separated by ", ", each as its label ("Country = ",
// "Organization = ", "Common Name = ") and value, or for other types as
// "<short name> = value" ("<dotted OID> = value" without a short name).
// Values are shown whole, escaped as EscapeForDisplay does (control
// characters, zero bytes and bytes that are not UTF-8 as \xHH).
// Failures of the toolkit are written to |ui|'s standard output and leave the
// text as far as it was built. Returns 0 or the toolkit's code.
int FormatCertName(UserInterface& ui, C_NAME_OBJ name, std::string& text);

}  // namespace kvapp

#endif
