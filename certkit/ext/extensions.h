// Extensions objects and extension registries inside the toolkit: their
// layout, the extension types (built-in table and registered ones), and the
// operations certificate objects call.
#ifndef KVCATOOL_CERTKIT_EXT_EXTENSIONS_H
#define KVCATOOL_CERTKIT_EXT_EXTENSIONS_H

#include <cstdint>

#include "certkit/asn1/asn1.h"
#include "certkit/certkit.h"
#include "certkit/object.h"

namespace ck {

// Decodes the value octets of one extension into the type's decoded form.
// Returns 0 or a C_ERR_* code (C_ERR_BAD_ENCODING for a value that does not
// decode). Built-in decoders make no decoded form (null); they check the
// value against the type's X.509 definition and count its values.
struct ExtensionType {
  const char* label;
  const uint8_t* oid;  // null for "UNKNOWN_TYPE"
  uint32_t oidLen;
  uint32_t criticalByDefault;
  uint32_t criticalityMayDiffer;  // 0: the criticality must be the default
  uint32_t kinds;                 // OR of C_EXT_KIND_*
  uint32_t multiple;
  uint32_t handlerReplaceable;
  int (*check)(ByteRange value, uint32_t* valueCount);  // built-in value check
  const C_EXT_HANDLER* handler;                          // registered handler, or null
};

// The 16 built-in rows; row 0 is "UNKNOWN_TYPE".
const ExtensionType* BuiltinExtensionTypes(uint32_t* rowCount);
// The built-in row of |oid| (never "UNKNOWN_TYPE"), or null.
const ExtensionType* FindBuiltinExtensionType(const uint8_t* oid, uint32_t oidLen);
// "UNKNOWN_TYPE".
const ExtensionType* UnknownExtensionType();

// One extension.
struct ExtensionEntry {
  ByteRange oid;        // owned copy
  uint32_t critical;
  ByteRange value;      // owned: the OCTET STRING's content
  const ExtensionType* type;
  void* decoded;        // a registered handler's decoded form, or null
  ByteRange handedOut;  // the value as the type hands it out (into |value|)
  uint32_t valueCount;  // values held (1 for single-valued types)
  ByteRange element;    // owned: the Extension as read, written back unchanged; null for one added
};

}  // namespace ck

// The extension registry (type tag 2006).
struct C_ExtRegistryObj {
  ck::ObjectHeader header;
  ck::PtrList types;  // ck::ExtensionType*, each owned with its OID copy
};

// The extensions object (type tag 2005).
struct C_ExtensionsObj {
  ck::ObjectHeader header;  // class descriptor, type tag
  uint32_t kind;
  uint32_t stale;           // the entries changed after |der| was made
  ck::ByteRange der;        // owned encoding; null when none
  C_EXT_REGISTRY registry;
  ck::PtrList entries;      // ck::ExtensionEntry*, owned
  uint32_t presentButEmpty; // the encoding held an empty SEQUENCE
  // Set while a certificate is read for display only: an extension whose
  // criticality, kind or value the type's rules refuse, or a critical one
  // nothing handles, is kept whole as "UNKNOWN_TYPE" instead of refused.
  uint32_t lenient;
};

namespace ck {

// True when |extensions| holds a critical extension that no registered or
// built-in type (other than "UNKNOWN_TYPE") handles.
bool HasUnhandledCritical(const C_ExtensionsObj* extensions);

// Exchanges the contents (kind and registry excepted) of two extensions
// objects; used to commit a decoded copy without a failure point.
void SwapExtensionContents(C_ExtensionsObj* a, C_ExtensionsObj* b);

}  // namespace ck

#endif
