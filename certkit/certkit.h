// The certificate toolkit's public interface (the C_ operations).
//
// The toolkit reads and writes X.500 names, X.509 certificates and PKCS #10
// certificate requests through opaque objects. Every object carries a type
// tag, and every operation checks the tag of each handle it is given before
// anything else.
//
// Conventions shared by every function below:
// - The return value is 0 on success or one of the C_ERR_* codes. No exception
//   crosses this interface.
// - Pointers handed out by a get operation refer to storage owned by the
//   object. They stay valid until the object is changed or destroyed; callers
//   never free them.
// - Input buffers are only read; what an object keeps of them is copied.
// - Objects wipe every block they own with zeros before releasing it.
// - Destroy operations take the handle's address, do nothing for a handle of
//   another kind, and set the handle to null.
#ifndef KVCATOOL_CERTKIT_CERTKIT_H
#define KVCATOOL_CERTKIT_CERTKIT_H

#include <stdint.h>

#include "cryptokit/cryptokit.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------
// Status codes (1792 = 0x700 upward).

#define C_ERR_ALLOC 1792                  // memory allocation failed
#define C_ERR_BAD_ENCODING 1793           // encoding malformed or inconsistent; normalisation failed
#define C_ERR_CANCEL 1794                 // stopped by the surrender callback
#define C_ERR_BAD_ARGUMENT 1795           // bad argument at codec or key level; no data to set a name
#define C_ERR_INDEX 1796                  // index out of range
#define C_ERR_INPUT_DATA 1797             // no input data, or content that breaks the codec's rules
#define C_ERR_TRUNCATED 1798              // input truncated
#define C_ERR_NULL_OUTPUT 1799            // a required output pointer or record is null
#define C_ERR_NOT_FOUND 1800              // item not found
#define C_ERR_NO_SIG_ALG_ROW 1801         // no signature algorithm row accepts an AlgorithmIdentifier
#define C_ERR_OVERFLOW 1802               // length overflow while encoding
#define C_ERR_DER_TOO_LONG 1803           // crypto toolkit code 537, translated
#define C_ERR_VALIDITY 1804               // not-after / not-before order
#define C_ERR_VALUE_TAG 1805              // value tag not allowed for the attribute type
#define C_ERR_ATTR_OID_MISSING 1806       // attribute type OID missing
#define C_ERR_ATTR_OID_EMPTY 1807         // attribute type OID of length 0
#define C_ERR_ATTR_NOT_IN_TABLE 1808      // attribute type not in the table, or attribute not present
#define C_ERR_VALUE_CHARS 1809            // bad PrintableString character, odd BMPString octet count
#define C_ERR_VALUE_LENGTH 1810           // value length outside the attribute type's rule
#define C_ERR_ATTR_VALUE_INDEX 1811       // attribute value index out of range
#define C_ERR_REQUEST_ATTRIBUTES 1812     // a request's attributes do not decode
#define C_ERR_NOT_ATTRIBUTES_OBJ 1813     // handle is not an attributes object
#define C_ERR_NOT_NAME_OBJ 1814           // handle is not a name object
#define C_ERR_REQUEST_SUBJECT 1815        // a request's subject does not decode as a valid name
#define C_ERR_SIGN 1816                   // signing failed in the crypto toolkit
#define C_ERR_DIGEST 1817                 // digesting the to-be-signed part failed
#define C_ERR_NOT_SIGNED 1818             // the object holds no signed encoding
#define C_ERR_NO_KEY_FORM 1819            // no public key form applies to the key encoding
#define C_ERR_NO_REQUEST_INFO 1820        // a request has no information part to give
#define C_ERR_ISSUER 1821                 // issuer name missing or undecodable
#define C_ERR_PRIVATE_KEY 1822            // private key missing or not usable
#define C_ERR_PUBLIC_KEY 1823             // public key missing or its encoding refused
#define C_ERR_NOTHING_TO_SIGN 1825        // no to-be-signed part, or no signed encoding
#define C_ERR_SIG_ALGORITHM 1826          // signature algorithm not in the table
#define C_ERR_NO_SIG_ALG_SOURCE 1827      // no signed encoding to take the algorithm from
#define C_ERR_SUBJECT 1828                // subject name missing or undecodable
#define C_ERR_REQUEST_SIGNATURE 1829      // the request's signature does not verify
#define C_ERR_NULL_CERT_FIELDS 1830       // certificate fields record missing
#define C_ERR_NOT_CERT_OBJ 1831           // handle is not a certificate object
#define C_ERR_VERSION 1833                // version out of range or field not allowed by it
#define C_ERR_EXTENSIONS 1834             // extensions cannot be encoded or decoded
#define C_ERR_NULL_REQUEST_FIELDS 1835    // request fields record missing
#define C_ERR_NOT_REQUEST_OBJ 1836        // handle is not a request object
#define C_ERR_REQUEST_VERSION 1837        // request version is not 0
#define C_ERR_CERT_SIGNATURE 1838         // the certificate's signature does not verify
#define C_ERR_BAD_REQUEST 1839            // the request given to make a certificate cannot be read
#define C_ERR_NOT_EXT_VALUE_LIST 1846     // handle is not an extension value list
#define C_ERR_EXT_PRESENT 1847            // an extension with this OID is already present
#define C_ERR_EXT_KIND 1848               // extension type not allowed in this kind of object
#define C_ERR_NOT_EXTENSIONS_OBJ 1849     // handle is not an extensions object
#define C_ERR_EXT_NOT_CRITICAL 1850       // type critical by default marked non-critical
#define C_ERR_EXT_SINGLE_VALUE 1851       // single-valued extension would hold several values
#define C_ERR_EXT_UNHANDLED_CRITICAL 1852 // critical extension that nothing handles
#define C_ERR_EXT_VALUE_INDEX 1853        // extension value index out of range
#define C_ERR_NOT_EXT_REGISTRY 1854       // handle is not an extension registry
#define C_ERR_EXT_BUILTIN 1855            // a built-in extension type cannot be removed
#define C_ERR_EXT_KIND_INVALID 1856       // extensions object kind invalid
#define C_ERR_EXT_HANDLER_INCOMPLETE 1857 // extension handler lacks an operation
#define C_ERR_EXT_HANDLER_FIXED 1858      // extension handler cannot be replaced
#define C_ERR_EXT_CRITICALITY 1859        // criticality differs from a fixed criticality
#define C_ERR_OUTPUT_SMALL 1860           // an output array is too small; the count says how many are needed
#define C_ERR_ALG_UNSUPPORTED 1861        // signature or key algorithm read but not one the toolkit verifies with
#define C_ERR_NOT_CRL_OBJ 1862            // handle is not a CRL object
#define C_ERR_NULL_CRL_FIELDS 1863        // CRL fields record missing
#define C_ERR_CRL_SIGNATURE 1864          // the CRL's signature does not verify
#define C_ERR_CRL_UPDATE 1865             // nextUpdate before thisUpdate
#define C_ERR_CRL_ENTRY 1866              // a revoked entry is malformed or its serial, date or reason refused

// ---------------------------------------------------------------------------
// Object type tags. Each object carries its tag as the second field of its
// common header.

#define C_TAG_ATTRIBUTES_OBJ 1996
#define C_TAG_NAME_OBJ 1998
#define C_TAG_REQUEST_OBJ 1999
#define C_TAG_CERT_OBJ 2000
#define C_TAG_EXT_VALUE_LIST 2003
#define C_TAG_EXTENSIONS_OBJ 2005
#define C_TAG_EXT_REGISTRY 2006
#define C_TAG_CRL_OBJ 2007

// ---------------------------------------------------------------------------
// Basic types.

// C_ITEM is a byte range: a pointer to bytes and their count.
typedef struct C_ITEM {
  const unsigned char* data;
  uint32_t len;
} C_ITEM;

// C_BITSTRING is the value of a BIT STRING: |len| bytes of which the lowest
// |unusedBits| (0 to 7) bits of the last byte are not part of the value.
typedef struct C_BITSTRING {
  const unsigned char* data;
  uint32_t len;
  uint32_t unusedBits;
} C_BITSTRING;

// Universal tag numbers of the string types that names use.
#define C_TAG_PRINTABLE_STRING 19
#define C_TAG_T61_STRING 20
#define C_TAG_IA5_STRING 22
#define C_TAG_BMP_STRING 30

// ---------------------------------------------------------------------------
// Name objects (type tag 1998).
//
// A name object holds one X.500 distinguished name: an ordered list of
// attribute-value assertions (AVAs). Index 0 is the first AVA of the first
// relative distinguished name (RDN); each AVA says whether it begins a new
// RDN. The object keeps the DER encoding of the name and re-makes it on
// demand after AVAs have been added.

typedef struct C_NameObj* C_NAME_OBJ;

// C_NAME_AVA describes one AVA as the name object holds it.
typedef struct C_NAME_AVA {
  // Content octets of the attribute type's OBJECT IDENTIFIER (never in dotted
  // form). Points into the toolkit's attribute table or into the name's own
  // copy; the AVA does not own it.
  const unsigned char* typeOID;
  uint32_t oidLen;
  // Universal tag number of the value's string type (a primitive tag below
  // 31: C_TAG_PRINTABLE_STRING, C_TAG_T61_STRING, ...).
  uint32_t valueTag;
  // The value's content octets, owned by the name. For C_TAG_BMP_STRING the
  // block holds 2 * |valueLen| octets.
  const unsigned char* value;
  // Octets, or characters for C_TAG_BMP_STRING.
  uint32_t valueLen;
  // 1 when this AVA begins a new RDN, 0 when it joins the RDN of the AVA
  // before it.
  uint32_t newRDN;
} C_NAME_AVA;

// C_CreateNameObject stores a new, empty name object in |*name|. Returns
// C_ERR_NULL_OUTPUT for a null |name|, C_ERR_ALLOC when memory runs out (then
// nothing is left allocated and |*name| is null). The caller owns the object
// and releases it with C_DestroyNameObject.
int C_CreateNameObject(C_NAME_OBJ* name);

// C_DestroyNameObject releases the name object in |*name| and everything it
// owns, wiping every block, and sets |*name| to null. A null |name|, a null
// handle or a handle of another kind is left alone.
void C_DestroyNameObject(C_NAME_OBJ* name);

// C_AddNameAVA validates one AVA against the attribute table, copies its
// value and appends it at the end of |name|; |*index| (when |index| is not
// null) receives its position. |typeOID| holds the content octets of the
// attribute type's OBJECT IDENTIFIER. |valueLen| counts characters for
// C_TAG_BMP_STRING (the value then holds 2 * |valueLen| octets) and octets
// otherwise. |newRDN| is 1 to begin a new RDN, 0 to join the previous one.
// Errors: C_ERR_NOT_NAME_OBJ; C_ERR_BAD_ARGUMENT for a null or empty OID, or
// a null value with a non-zero length; C_ERR_VALUE_TAG, C_ERR_VALUE_LENGTH and
// C_ERR_VALUE_CHARS for a value that breaks the attribute type's rules;
// C_ERR_ALLOC. On failure the AVA list is unchanged (an attribute type outside
// the table may stay in the name's list of copied OIDs).
int C_AddNameAVA(C_NAME_OBJ name, const unsigned char* typeOID, uint32_t oidLen, uint32_t valueTag,
                 const unsigned char* value, uint32_t valueLen, uint32_t newRDN, uint32_t* index);

// C_GetNameAVACount stores the number of AVAs of |name| in |*count|.
// Errors: C_ERR_NOT_NAME_OBJ, C_ERR_NULL_OUTPUT.
int C_GetNameAVACount(C_NAME_OBJ name, uint32_t* count);

// C_GetNameAVA stores the fields of AVA number |index| of |name|. The pointers
// refer to the name's own storage and stay valid until the name changes or is
// destroyed. Errors: C_ERR_NOT_NAME_OBJ; C_ERR_NULL_OUTPUT when any output
// pointer is null; C_ERR_INDEX when |index| is not below the count.
int C_GetNameAVA(C_NAME_OBJ name, uint32_t index, const unsigned char** typeOID, uint32_t* oidLen,
                 uint32_t* valueTag, const unsigned char** value, uint32_t* valueLen, uint32_t* newRDN);

// C_GetNameDER stores the DER encoding of |name| in |*der| and |*derLen|,
// encoding it first when AVAs were added since the last encoding. The octets
// belong to the name and stay valid until it changes or is destroyed. A name
// without AVAs yields a null pointer and length 0 (and returns 0).
// Errors: C_ERR_NOT_NAME_OBJ, C_ERR_NULL_OUTPUT, C_ERR_ALLOC, C_ERR_OVERFLOW.
int C_GetNameDER(C_NAME_OBJ name, const unsigned char** der, uint32_t* derLen);

// C_SetNameBER normalises the BER encoding |ber| to DER, decodes it and
// replaces the AVAs and encoding of |name| with the result. On any failure
// the name keeps its old AVAs and encoding. Errors: C_ERR_NOT_NAME_OBJ;
// C_ERR_BAD_ARGUMENT for no data or length 0; C_ERR_BAD_ENCODING when the
// input does not have the structure of a Name; C_ERR_INPUT_DATA for contents
// that break the codec's rules; C_ERR_VALUE_TAG, C_ERR_VALUE_LENGTH,
// C_ERR_VALUE_CHARS for an AVA that breaks the attribute table; C_ERR_ALLOC.
int C_SetNameBER(C_NAME_OBJ name, const unsigned char* ber, uint32_t berLen);

// C_ResetName removes every AVA and copied OID of |name|, wipes and releases
// its encoding, and leaves it empty. Errors: C_ERR_NOT_NAME_OBJ.
int C_ResetName(C_NAME_OBJ name);

// ---------------------------------------------------------------------------
// Extensions objects (type tag 2005) and extension registries (2006).
//
// An extensions object holds the Extensions of a certificate (kind 1), of a
// CRL (kind 2) or of a CRL entry (kind 4): a list of entries, each with its
// OID, critical flag, value octets (the OCTET STRING's content) and the
// extension type that handles it. Types are looked up in the object's
// registry first, then in the built-in table of X.509 (RFC 5280) extension
// types; a non-critical extension of any other OID is kept by the catch-all
// type "UNKNOWN_TYPE".

#define C_EXT_KIND_CERT 1
#define C_EXT_KIND_CRL 2
#define C_EXT_KIND_CRL_ENTRY 4

typedef struct C_ExtensionsObj* C_EXTENSIONS_OBJ;
typedef struct C_ExtRegistryObj* C_EXT_REGISTRY;

// The four operations of an extension type's handler. |decode| checks the
// value octets and makes the type's decoded form (returns 0 or a C_ERR_*
// code, C_ERR_BAD_ENCODING for a value that does not decode); |encode|
// writes a decoded form back as value octets into a block the caller
// releases with QMem_SecureRelease; |copy| duplicates a decoded form;
// |release| frees one (a null form is allowed).
typedef struct C_EXT_HANDLER {
  int (*decode)(const unsigned char* value, uint32_t valueLen, void** decoded);
  int (*encode)(const void* decoded, unsigned char** value, uint32_t* valueLen);
  int (*copy)(const void* decoded, void** copy);
  void (*release)(void* decoded);
} C_EXT_HANDLER;

// An extension type given to C_RegisterExtType. For an OID of the built-in
// table only the handler is taken; the built-in row's criticality, kinds and
// multiplicity stay.
typedef struct C_EXT_TYPE {
  const unsigned char* oid;   // content octets of the OBJECT IDENTIFIER
  uint32_t oidLen;
  uint32_t criticalByDefault;  // 1 when the extension is critical by default
  uint32_t criticalityFixed;   // 1 when an extension must carry the default
  uint32_t kinds;              // OR of C_EXT_KIND_* values the type may appear in
  uint32_t multiple;           // 1 when the type holds a list of values
  const C_EXT_HANDLER* handler;  // must outlive the registry
} C_EXT_TYPE;

// C_CreateExtRegistry stores a new, empty registry in |*registry|.
// Errors: C_ERR_NOT_EXT_REGISTRY for a null |registry|; C_ERR_ALLOC.
int C_CreateExtRegistry(C_EXT_REGISTRY* registry);
// C_DestroyExtRegistry releases the registry in |*registry| and sets it to
// null; another kind of handle is left alone. Objects created with the
// registry must be destroyed first.
void C_DestroyExtRegistry(C_EXT_REGISTRY* registry);
// C_RegisterExtType adds |type| to |registry|, or replaces the handler of a
// type already registered or built in. Errors: C_ERR_NOT_EXT_REGISTRY;
// C_ERR_BAD_ARGUMENT for a null type or an empty OID; C_ERR_EXT_KIND_INVALID
// for kinds outside 1, 2, 4 or none; C_ERR_EXT_HANDLER_INCOMPLETE when the
// handler lacks an operation; C_ERR_ALLOC.
int C_RegisterExtType(C_EXT_REGISTRY registry, const C_EXT_TYPE* type);

// C_CreateExtensionsObject stores a new, empty extensions object of |kind|
// bound to |registry| (or to the built-in types only, for null) in
// |*extensions|. Errors: C_ERR_NOT_EXTENSIONS_OBJ for a null out-pointer;
// C_ERR_NOT_EXT_REGISTRY; C_ERR_EXT_KIND_INVALID; C_ERR_ALLOC.
int C_CreateExtensionsObject(C_EXTENSIONS_OBJ* extensions, uint32_t kind, C_EXT_REGISTRY registry);
// C_DestroyExtensionsObject releases the object (wiping its blocks) and sets
// the handle to null; another kind of handle is left alone.
void C_DestroyExtensionsObject(C_EXTENSIONS_OBJ* extensions);
// C_SetExtensionsDER replaces the object's extensions with those of the DER
// Extensions SEQUENCE |der|. On failure the object is unchanged. Errors:
// C_ERR_NOT_EXTENSIONS_OBJ; C_ERR_INPUT_DATA for no data; C_ERR_BAD_ENCODING
// for an empty or repeated OID, an empty value or an unknown type's value
// that is not one element; C_ERR_EXT_UNHANDLED_CRITICAL; C_ERR_EXT_KIND;
// C_ERR_EXT_NOT_CRITICAL; C_ERR_EXT_CRITICALITY; a type's decoding error;
// codec codes for a structure that is not Extensions; C_ERR_ALLOC.
int C_SetExtensionsDER(C_EXTENSIONS_OBJ extensions, const unsigned char* der, uint32_t derLen);
// C_GetExtensionsDER stores the object's DER encoding (owned by the object)
// in |*der| and |*derLen|: decoded extensions are written back octet for
// octet. An object without extensions gives null and 0, or 30 00 when the
// encoding it was set from held an empty SEQUENCE. Errors:
// C_ERR_NOT_EXTENSIONS_OBJ; C_ERR_NULL_OUTPUT; C_ERR_ALLOC.
int C_GetExtensionsDER(C_EXTENSIONS_OBJ extensions, const unsigned char** der, uint32_t* derLen);
// C_GetExtensionCount stores the number of extensions in |*count|.
int C_GetExtensionCount(C_EXTENSIONS_OBJ extensions, uint32_t* count);
// C_EmptyExtensions removes every extension and the encoding.
int C_EmptyExtensions(C_EXTENSIONS_OBJ extensions);
// C_AddExtension appends one extension: OID |oid| (content octets), critical
// flag |critical| (0 or 1) and |value|, the extension's DER value (what the
// extnValue OCTET STRING holds, for every type, "UNKNOWN_TYPE" included).
// The extension is checked as one read from an encoding is (type looked up
// in the registry, then the built-in table; the type's kinds, criticality
// rules and value check), and the object's DER is made again at once, so it
// always matches the entries. |value| is copied. Errors:
// C_ERR_NOT_EXTENSIONS_OBJ; C_ERR_BAD_ARGUMENT for a null, empty or
// malformed OID, a null value with a length, or |critical| above 1;
// C_ERR_EXT_PRESENT when the OID is already there (checked after the
// extension itself); C_ERR_BAD_ENCODING for
// an empty value or one that "UNKNOWN_TYPE" cannot take;
// C_ERR_EXT_UNHANDLED_CRITICAL for a critical extension no type handles;
// C_ERR_EXT_KIND; C_ERR_EXT_NOT_CRITICAL; C_ERR_EXT_CRITICALITY; the type's
// decoding error; C_ERR_ALLOC; C_ERR_OVERFLOW. On failure the object is
// unchanged.
int C_AddExtension(C_EXTENSIONS_OBJ extensions, const unsigned char* oid, uint32_t oidLen, uint32_t critical,
                   const unsigned char* value, uint32_t valueLen);
// C_ReplaceExtension is C_AddExtension for an OID that is already present:
// the extension keeps its place in the list and takes the new critical flag
// and value. Errors as for C_AddExtension, with C_ERR_NOT_FOUND instead of
// C_ERR_EXT_PRESENT. On failure the object is unchanged.
int C_ReplaceExtension(C_EXTENSIONS_OBJ extensions, const unsigned char* oid, uint32_t oidLen, uint32_t critical,
                       const unsigned char* value, uint32_t valueLen);
// C_RemoveExtension removes the extension with OID |oid| and makes the DER
// again; once the last one is gone the object holds no extensions (no DER,
// and a certificate made from it has no extensions element). Errors:
// C_ERR_NOT_EXTENSIONS_OBJ; C_ERR_BAD_ARGUMENT for a null or empty OID;
// C_ERR_NOT_FOUND; C_ERR_ALLOC. On failure the object is unchanged.
int C_RemoveExtension(C_EXTENSIONS_OBJ extensions, const unsigned char* oid, uint32_t oidLen);
// C_GetExtension stores extension number |index| (in encoding order): its
// OID's content octets, critical flag and DER value as the extnValue OCTET
// STRING holds it (never unwrapped, unlike C_FindExtension). The pointers
// belong to the object. Any output pointer may be null. Errors:
// C_ERR_NOT_EXTENSIONS_OBJ; C_ERR_INDEX when |index| is not below the count.
int C_GetExtension(C_EXTENSIONS_OBJ extensions, uint32_t index, const unsigned char** oid, uint32_t* oidLen,
                   uint32_t* critical, const unsigned char** value, uint32_t* valueLen);
// C_FindExtension looks up the extension with OID |oid| and stores its
// critical flag and its value (owned by the object; for an extension of
// "UNKNOWN_TYPE" whose value is one OCTET STRING, that string's contents).
// Any output pointer may be null. Errors: C_ERR_NOT_EXTENSIONS_OBJ;
// C_ERR_BAD_ARGUMENT for a null or empty OID; C_ERR_NOT_FOUND.
int C_FindExtension(C_EXTENSIONS_OBJ extensions, const unsigned char* oid, uint32_t oidLen, uint32_t* critical,
                    const unsigned char** value, uint32_t* valueLen);

// ---------------------------------------------------------------------------
// Extension values (RFC 5280 4.2.1).
//
// Builders write the DER value of one extension (what goes into extnValue)
// into a new block that the caller owns and releases with
// QMem_SecureRelease (cryptokit/qmemory.h); on failure |*value| is null and
// |*valueLen| 0. Readers take such a value, check that it is strict DER of
// the extension's definition and fill a plain record whose pointers refer
// into the caller's |value| (they live as long as it does); they allocate
// nothing. A reader's error is C_ERR_BAD_ENCODING for anything that is not
// exactly one DER value of the extension (trailing octets included), or
// C_ERR_NULL_OUTPUT for a null record.

// Content octets of the extensions' OBJECT IDENTIFIERs (2.5.29.n): every one
// is C_OID_EXT_LEN octets long.
#define C_OID_EXT_LEN 3
#define C_OID_SUBJECT_KEY_ID ((const unsigned char*)"\x55\x1D\x0E")
#define C_OID_KEY_USAGE ((const unsigned char*)"\x55\x1D\x0F")
#define C_OID_SUBJECT_ALT_NAME ((const unsigned char*)"\x55\x1D\x11")
#define C_OID_BASIC_CONSTRAINTS ((const unsigned char*)"\x55\x1D\x13")
#define C_OID_AUTHORITY_KEY_ID ((const unsigned char*)"\x55\x1D\x23")
#define C_OID_EXT_KEY_USAGE ((const unsigned char*)"\x55\x1D\x25")
// Key purposes of extendedKeyUsage (1.3.6.1.5.5.7.3.n), C_OID_KP_LEN octets.
#define C_OID_KP_LEN 8
#define C_OID_KP_SERVER_AUTH ((const unsigned char*)"\x2B\x06\x01\x05\x05\x07\x03\x01")
#define C_OID_KP_CLIENT_AUTH ((const unsigned char*)"\x2B\x06\x01\x05\x05\x07\x03\x02")

// keyUsage bits as a mask: bit n of the mask is bit n of the KeyUsage BIT
// STRING (digitalSignature is bit 0).
#define C_KU_DIGITAL_SIGNATURE 0x001u
#define C_KU_NON_REPUDIATION 0x002u
#define C_KU_KEY_ENCIPHERMENT 0x004u
#define C_KU_DATA_ENCIPHERMENT 0x008u
#define C_KU_KEY_AGREEMENT 0x010u
#define C_KU_KEY_CERT_SIGN 0x020u
#define C_KU_CRL_SIGN 0x040u
#define C_KU_ENCIPHER_ONLY 0x080u
#define C_KU_DECIPHER_ONLY 0x100u
#define C_KU_ALL 0x1FFu

// GeneralName kinds: the context tag numbers of RFC 5280 4.2.1.6.
#define C_GN_OTHER_NAME 0
#define C_GN_RFC822_NAME 1
#define C_GN_DNS_NAME 2
#define C_GN_X400_ADDRESS 3
#define C_GN_DIRECTORY_NAME 4
#define C_GN_EDI_PARTY_NAME 5
#define C_GN_URI 6
#define C_GN_IP_ADDRESS 7
#define C_GN_REGISTERED_ID 8

// One GeneralName: its kind and its octets. For rfc822Name, dNSName and URI
// the IA5String's characters; for iPAddress 4 or 16 address octets
// (network order); for registeredID the OID's content octets; for the
// constructed kinds (otherName, x400Address, directoryName, ediPartyName)
// the element's content octets, not interpreted (for directoryName that is
// the DER Name).
typedef struct C_GENERAL_NAME {
  uint32_t kind;  // C_GN_*
  C_ITEM value;
} C_GENERAL_NAME;

// Length of a key identifier made by C_ComputeKeyIdentifier (SHA-1).
#define C_KEY_ID_LEN 20

// C_ComputeKeyIdentifier stores in |keyId| the SHA-1 digest of the
// subjectPublicKey BIT STRING's value (without tag, length and unused-bits
// octet) of the DER SubjectPublicKeyInfo |spki| (RFC 5280 4.2.1.2, method
// 1). Errors: C_ERR_BAD_ARGUMENT for null pointers; C_ERR_BAD_ENCODING when
// |spki| is not one DER SubjectPublicKeyInfo with a whole-octet key;
// C_ERR_DIGEST; C_ERR_ALLOC.
int C_ComputeKeyIdentifier(const unsigned char* spki, uint32_t spkiLen, unsigned char keyId[C_KEY_ID_LEN]);

// C_BuildBasicConstraints: BasicConstraints with cA |cA| (0 or 1; FALSE is
// the default and left out) and pathLenConstraint |pathLen|, -1 for none.
// Errors: C_ERR_BAD_ARGUMENT for |cA| above 1, |pathLen| below -1, a path
// length without cA, or a null output; C_ERR_ALLOC.
int C_BuildBasicConstraints(uint32_t cA, int32_t pathLen, unsigned char** value, uint32_t* valueLen);
// C_BuildKeyUsage: KeyUsage with the bits of |usage| (C_KU_*), trailing zero
// bits left out. Errors: C_ERR_BAD_ARGUMENT for no bit, a bit outside
// C_KU_ALL, or a null output; C_ERR_ALLOC.
int C_BuildKeyUsage(uint32_t usage, unsigned char** value, uint32_t* valueLen);
// C_BuildExtendedKeyUsage: ExtKeyUsageSyntax with the |count| key purpose
// OIDs (content octets) in the order given. Errors: C_ERR_BAD_ARGUMENT for
// no OID, a null, empty or malformed one, or a null output; C_ERR_ALLOC.
int C_BuildExtendedKeyUsage(const C_ITEM* purposes, uint32_t count, unsigned char** value, uint32_t* valueLen);
// C_BuildSubjectAltName: GeneralNames with the |count| names in the order
// given. Kinds taken: dNSName (letters, digits, '-', '.', '_' and '*'),
// rfc822Name and URI (visible ASCII, no space), iPAddress (4 or 16 octets).
// Errors: C_ERR_BAD_ARGUMENT for no name, another kind, an empty or
// ill-formed value, or a null output; C_ERR_ALLOC.
int C_BuildSubjectAltName(const C_GENERAL_NAME* names, uint32_t count, unsigned char** value, uint32_t* valueLen);
// C_BuildSubjectKeyIdentifier: the KeyIdentifier OCTET STRING made from the
// DER SubjectPublicKeyInfo |spki| as C_ComputeKeyIdentifier does. Errors:
// those of C_ComputeKeyIdentifier; C_ERR_BAD_ARGUMENT for a null output.
int C_BuildSubjectKeyIdentifier(const unsigned char* spki, uint32_t spkiLen, unsigned char** value,
                                uint32_t* valueLen);
// C_BuildAuthorityKeyIdentifier: AuthorityKeyIdentifier holding only the
// keyIdentifier |keyId| (normally the issuer's subject key identifier).
// Errors: C_ERR_BAD_ARGUMENT for an empty key identifier or a null output;
// C_ERR_ALLOC.
int C_BuildAuthorityKeyIdentifier(const unsigned char* keyId, uint32_t keyIdLen, unsigned char** value,
                                  uint32_t* valueLen);

// What C_ReadBasicConstraints finds.
typedef struct C_BASIC_CONSTRAINTS {
  uint32_t cA;      // 1 for TRUE
  int32_t pathLen;  // pathLenConstraint, -1 when absent
} C_BASIC_CONSTRAINTS;

// What C_ReadAuthorityKeyIdentifier finds; a null |data| marks an absent
// field.
typedef struct C_AUTHORITY_KEY_ID {
  C_ITEM keyIdentifier;  // the key identifier's octets
  C_ITEM certIssuer;     // the GeneralName elements of authorityCertIssuer, not interpreted
  C_ITEM certSerial;     // authorityCertSerialNumber's content octets
} C_AUTHORITY_KEY_ID;

// C_ReadBasicConstraints reads a BasicConstraints value. A pathLen above
// 2^31 - 1, or one without cA, is C_ERR_BAD_ENCODING.
int C_ReadBasicConstraints(const unsigned char* value, uint32_t valueLen, C_BASIC_CONSTRAINTS* out);
// C_ReadKeyUsage reads a KeyUsage value into a mask of C_KU_* bits (0 when
// none is set). A value with bits beyond decipherOnly is C_ERR_BAD_ENCODING.
int C_ReadKeyUsage(const unsigned char* value, uint32_t valueLen, uint32_t* usage);
// C_ReadExtendedKeyUsage reads an ExtKeyUsageSyntax value: |*count|
// receives the number of key purposes, and with |purposes| not null the
// first |capacity| of them go there (OID content octets). Errors, besides
// those of every reader: C_ERR_OUTPUT_SMALL when |capacity| is below the
// count (|*count| set, |purposes| filled up to |capacity|).
int C_ReadExtendedKeyUsage(const unsigned char* value, uint32_t valueLen, C_ITEM* purposes, uint32_t capacity,
                           uint32_t* count);
// C_ReadSubjectAltName reads a GeneralNames value (subjectAltName or
// issuerAltName), with the count and capacity rules of
// C_ReadExtendedKeyUsage. rfc822Name, dNSName and URI must be non-empty
// IA5Strings (octets below 0x80), iPAddress 4 or 16 octets, registeredID a
// well-formed OID; the constructed kinds are checked to be DER elements
// only.
int C_ReadSubjectAltName(const unsigned char* value, uint32_t valueLen, C_GENERAL_NAME* names, uint32_t capacity,
                         uint32_t* count);
// C_ReadSubjectKeyIdentifier reads a KeyIdentifier OCTET STRING (at least
// one octet) into |*keyId|.
int C_ReadSubjectKeyIdentifier(const unsigned char* value, uint32_t valueLen, C_ITEM* keyId);
// C_ReadAuthorityKeyIdentifier reads an AuthorityKeyIdentifier value.
// authorityCertIssuer and authorityCertSerialNumber must come together
// (RFC 5280 4.2.1.1); a keyIdentifier must have at least one octet.
int C_ReadAuthorityKeyIdentifier(const unsigned char* value, uint32_t valueLen, C_AUTHORITY_KEY_ID* out);

// ---------------------------------------------------------------------------
// Certificate objects (type tag 2000).
//
// A certificate object holds one X.509 certificate (versions 1 to 3) as its
// signed DER encoding, its to-be-signed encoding and a fields record. It owns
// an issuer name, a subject name and an extensions object of kind 1.
//
// States: new (no encodings); set from BER (signed encoding, fields
// decoded); fields set (to-be-signed encoding only: unsigned); signed (both).

typedef struct C_CertObj* C_CERT_OBJ;

// Signature algorithm identifiers of the fields record (PKCS #1 v1.5 RSA
// signatures). Any other identifier, 5 and 9 among them, is refused with
// C_ERR_SIG_ALGORITHM.
#define C_SIG_MD2_WITH_RSA 6
#define C_SIG_MD5_WITH_RSA 7
#define C_SIG_SHA1_WITH_RSA 8
#define C_SIG_SHA256_WITH_RSA 11  // sha256WithRSAEncryption, 1.2.840.113549.1.1.11
#define C_SIG_SHA384_WITH_RSA 12  // sha384WithRSAEncryption, 1.2.840.113549.1.1.12
#define C_SIG_SHA512_WITH_RSA 13  // sha512WithRSAEncryption, 1.2.840.113549.1.1.13
// A certificate read for display whose signature algorithm is none of the
// above (ECDSA, EdDSA, RSASSA-PSS, DSA, ...): the algorithm is kept as its
// identifier (C_GetCertSignatureAlgorithmOID) and cannot be verified.
#define C_SIG_OPAQUE 0

// Certificate versions of the fields record.
#define C_CERT_VERSION_1 0
#define C_CERT_VERSION_2 1
#define C_CERT_VERSION_3 2

// The fields record that C_GetCertFields fills and C_SetCertFields reads.
typedef struct C_CERT_FIELDS {
  uint32_t version;             // 0, 1 or 2 (X.509 version 1, 2 or 3)
  C_ITEM serialNumber;          // big-endian magnitude, no leading zero octets
  uint32_t signatureAlgorithm;  // C_SIG_*
  C_NAME_OBJ issuer;
  // Validity, in seconds since 1970-01-01 00:00:00 UTC (negative before
  // 1970). Written as UTCTime for the years 1950 to 2049 and as
  // GeneralizedTime for the years 0 to 1949 and 2050 to 9999; read from
  // either.
  int64_t notBefore;
  int64_t notAfter;
  C_NAME_OBJ subject;
  C_ITEM publicKey;             // DER SubjectPublicKeyInfo, whole
  C_BITSTRING issuerUniqueID;   // null bytes when absent
  C_BITSTRING subjectUniqueID;
  C_EXTENSIONS_OBJ extensions;
} C_CERT_FIELDS;

// C_CreateCertObject stores a new certificate object (version 2, empty names,
// empty extensions of kind 1 bound to |registry|) in |*certificate|. The
// registry, when given, must outlive the object. Errors: C_ERR_NOT_CERT_OBJ
// for a null out-pointer; C_ERR_NOT_EXT_REGISTRY; C_ERR_ALLOC.
int C_CreateCertObject(C_CERT_OBJ* certificate, C_EXT_REGISTRY registry);
// C_DestroyCertObject releases the object, wiping every block it owns, and
// sets the handle to null; another kind of handle is left alone.
void C_DestroyCertObject(C_CERT_OBJ* certificate);
// C_SetCertBER normalises |ber| to DER, keeps that as the signed encoding and
// decodes the fields from it. Errors: C_ERR_NOT_CERT_OBJ; C_ERR_INPUT_DATA
// for no data, or an encoding that cannot be split or does not decode;
// C_ERR_BAD_ENCODING when the structure is not a Certificate's or the inner
// and outer signature algorithms differ; C_ERR_VERSION; C_ERR_VALIDITY;
// C_ERR_SIG_ALGORITHM; C_ERR_NO_KEY_FORM; C_ERR_PUBLIC_KEY; C_ERR_ISSUER;
// C_ERR_SUBJECT; C_ERR_EXTENSIONS and the extension codes 1850, 1852, 1859;
// C_ERR_ALLOC. A failure after the encoding is split leaves the object
// without encodings.
int C_SetCertBER(C_CERT_OBJ certificate, const unsigned char* ber, uint32_t berLen);
// C_SetCertBERForDisplay reads |ber| as C_SetCertBER does, for showing a
// certificate another issuer made: a signature algorithm outside the table
// leaves the record's signatureAlgorithm C_SIG_OPAQUE, a public key the
// crypto toolkit does not take is kept as its encoding, names keep every
// universal string type and any length, empty names are allowed, and an
// extension that the types' rules refuse (criticality, value, or a critical
// one nothing handles) is kept whole as an unhandled extension. Structural
// faults, the version rules, the validity order and differing signature
// algorithms are refused as by C_SetCertBER, with its codes. Verifying such
// a certificate gives C_ERR_ALG_UNSUPPORTED for an opaque algorithm and
// C_ERR_EXT_UNHANDLED_CRITICAL for an unhandled critical extension.
int C_SetCertBERForDisplay(C_CERT_OBJ certificate, const unsigned char* ber, uint32_t berLen);
// C_GetCertSignatureAlgorithmOID stores the content octets of the signed
// encoding's signature algorithm OID (owned by the object) in |*oid|.
// Errors: C_ERR_NOT_CERT_OBJ; C_ERR_NULL_OUTPUT; C_ERR_NOT_SIGNED when the
// object holds no signed encoding; C_ERR_BAD_ENCODING.
int C_GetCertSignatureAlgorithmOID(C_CERT_OBJ certificate, C_ITEM* oid);

// The parts of a SubjectPublicKeyInfo that describe its key.
typedef struct C_PUBLIC_KEY_INFO {
  C_ITEM algorithm;    // content octets of the algorithm OID
  C_ITEM parameterOID; // content octets of the parameters when they are an OID (an EC curve); else empty
  uint32_t rsaBits;    // bits of the modulus for rsaEncryption keys that decode; else 0
} C_PUBLIC_KEY_INFO;

// C_ReadPublicKeyInfo reads the DER SubjectPublicKeyInfo |spki| into |*out|,
// whose ranges point into |spki|. Errors: C_ERR_NULL_OUTPUT;
// C_ERR_BAD_ENCODING when it is not a SEQUENCE of an AlgorithmIdentifier
// and a BIT STRING.
int C_ReadPublicKeyInfo(const unsigned char* spki, uint32_t spkiLen, C_PUBLIC_KEY_INFO* out);

// C_GetCertFields copies the fields record into |*fields|; its pointers and
// handles refer to the object's own storage and objects.
// Errors: C_ERR_NOT_CERT_OBJ; C_ERR_NULL_OUTPUT.
int C_GetCertFields(C_CERT_OBJ certificate, C_CERT_FIELDS* fields);
// C_SetCertFields checks |fields|, encodes the to-be-signed part from it and
// takes the fields over (copying byte ranges, and names and extensions
// through their DER unless they are the object's own). The object is then
// unsigned. Errors: C_ERR_NOT_CERT_OBJ; C_ERR_NULL_CERT_FIELDS;
// C_ERR_VERSION; C_ERR_EXTENSIONS; C_ERR_VALIDITY; C_ERR_SIG_ALGORITHM;
// C_ERR_ISSUER; C_ERR_SUBJECT; C_ERR_NO_KEY_FORM; C_ERR_PUBLIC_KEY;
// C_ERR_BAD_ARGUMENT for a byte range with a length but no bytes, or a date
// outside the years 0 to 9999;
// C_ERR_ALLOC. On failure the object is unchanged.
int C_SetCertFields(C_CERT_OBJ certificate, const C_CERT_FIELDS* fields);
// C_GetCertDER stores the signed encoding (owned by the object).
// Errors: C_ERR_NOT_CERT_OBJ; C_ERR_NULL_OUTPUT; C_ERR_NOTHING_TO_SIGN when
// the object is not signed.
int C_GetCertDER(C_CERT_OBJ certificate, const unsigned char** der, uint32_t* derLen);
// C_SignCert signs the to-be-signed part with |privateKey| under the record's
// signature algorithm and makes the result the signed encoding. Errors:
// C_ERR_NOT_CERT_OBJ; C_ERR_PRIVATE_KEY for a null key; C_ERR_NOTHING_TO_SIGN;
// C_ERR_SIG_ALGORITHM; C_ERR_SIGN; C_ERR_ALLOC; C_ERR_CANCEL. On failure the
// object is unchanged.
int C_SignCert(C_CERT_OBJ certificate, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender);
// C_VerifyCertSignature checks the signed encoding's signature with
// |publicKey|. Returns 0 for a good signature; C_ERR_NOT_CERT_OBJ;
// C_ERR_PUBLIC_KEY for a null key; C_ERR_EXT_UNHANDLED_CRITICAL;
// C_ERR_ALG_UNSUPPORTED for an opaque signature algorithm; C_ERR_ALLOC;
// C_ERR_CANCEL; C_ERR_CERT_SIGNATURE for every other failure.
int C_VerifyCertSignature(C_CERT_OBJ certificate, Q_KEY_OBJ publicKey, Q_SURRENDER_CTX* surrender);

// ---------------------------------------------------------------------------
// CRL objects (type tag 2007).
//
// A CRL object holds one X.509 certificate revocation list (RFC 5280 5,
// versions 1 and 2) as its signed DER encoding, its to-be-signed encoding
// (TBSCertList) and a fields record, like a certificate object. It owns an
// issuer name, an extensions object of kind 2 (CRL extensions) and the list
// of revoked entries. States as for certificate objects: new, set from BER
// (signed), fields set (unsigned), signed.

typedef struct C_CrlObj* C_CRL_OBJ;

// CRL versions of the fields record.
#define C_CRL_VERSION_1 0
#define C_CRL_VERSION_2 1

// CRL entry reason codes (CRLReason, RFC 5280 5.3.1); 7 is not used.
#define C_REASON_NONE (-1)  // the entry has no reasonCode extension
#define C_REASON_UNSPECIFIED 0
#define C_REASON_KEY_COMPROMISE 1
#define C_REASON_CA_COMPROMISE 2
#define C_REASON_AFFILIATION_CHANGED 3
#define C_REASON_SUPERSEDED 4
#define C_REASON_CESSATION_OF_OPERATION 5
#define C_REASON_CERTIFICATE_HOLD 6
#define C_REASON_REMOVE_FROM_CRL 8
#define C_REASON_PRIVILEGE_WITHDRAWN 9
#define C_REASON_AA_COMPROMISE 10

// Longest CRL number, and serial number of a revoked entry, in octets
// (RFC 5280 5.2.3 and 4.1.2.2).
#define C_CRL_NUMBER_MAX 20
#define C_CRL_SERIAL_MAX 20

// Content octets of the CRL extensions' OIDs (C_OID_EXT_LEN octets).
#define C_OID_CRL_NUMBER ((const unsigned char*)"\x55\x1D\x14")
#define C_OID_REASON_CODE ((const unsigned char*)"\x55\x1D\x15")

// The fields record that C_GetCRLFields fills and C_SetCRLFields reads.
typedef struct C_CRL_FIELDS {
  uint32_t version;             // 0 or 1 (X.509 CRL version 1 or 2); a new object starts at 1
  uint32_t signatureAlgorithm;  // C_SIG_*
  C_NAME_OBJ issuer;
  // Seconds since 1970-01-01 00:00:00 UTC; written as UTCTime through 2049
  // and as GeneralizedTime from 2050 on; read from either.
  int64_t thisUpdate;
  int64_t nextUpdate;           // meaningful only when |hasNextUpdate| is 1
  uint32_t hasNextUpdate;       // 0 or 1
  uint32_t entryCount;          // revoked entries held; ignored by C_SetCRLFields
  C_EXTENSIONS_OBJ extensions;  // kind 2; null in a record given to set: none
} C_CRL_FIELDS;

// C_CreateCRLObject stores a new CRL object (version 2, signature algorithm
// C_SIG_SHA256_WITH_RSA, empty issuer, no entries, empty extensions of kind
// 2 bound to |registry|) in |*crl|. The registry, when given, must outlive
// the object. Errors: C_ERR_NOT_CRL_OBJ for a null out-pointer;
// C_ERR_NOT_EXT_REGISTRY; C_ERR_ALLOC.
int C_CreateCRLObject(C_CRL_OBJ* crl, C_EXT_REGISTRY registry);
// C_DestroyCRLObject releases the object, wiping every block it owns, and
// sets the handle to null; another kind of handle is left alone.
void C_DestroyCRLObject(C_CRL_OBJ* crl);
// C_SetCRLBER normalises |ber| to DER and decodes a CertificateList from it;
// only when everything is accepted does the object take the encoding, the
// fields and the entries. Errors: C_ERR_NOT_CRL_OBJ; C_ERR_INPUT_DATA for no
// data or an encoding that cannot be split; C_ERR_BAD_ENCODING when the
// structure is not a CertificateList's or the inner and outer signature
// algorithms differ; C_ERR_VERSION (a version other than 1 or 2, or
// extensions in a version 1 list); C_ERR_CRL_UPDATE; C_ERR_SIG_ALGORITHM;
// C_ERR_ISSUER; C_ERR_CRL_ENTRY; C_ERR_EXTENSIONS and the extension codes
// 1850, 1852, 1859; C_ERR_ALLOC. On failure the object is unchanged.
int C_SetCRLBER(C_CRL_OBJ crl, const unsigned char* ber, uint32_t berLen);
// C_GetCRLFields copies the fields record into |*fields|; its handles refer
// to the object's own objects. Errors: C_ERR_NOT_CRL_OBJ; C_ERR_NULL_OUTPUT.
int C_GetCRLFields(C_CRL_OBJ crl, C_CRL_FIELDS* fields);
// C_GetCRLEntry gives revoked entry |index| (in list order): the serial
// number's big-endian magnitude (owned by the object), the revocation date
// and the reason (C_REASON_*, C_REASON_NONE without a reasonCode). Any output
// pointer may be null. Errors: C_ERR_NOT_CRL_OBJ; C_ERR_INDEX.
int C_GetCRLEntry(C_CRL_OBJ crl, uint32_t index, const unsigned char** serial, uint32_t* serialLen,
                  int64_t* date, int32_t* reason);
// C_SetCRLFields checks |fields|, encodes the to-be-signed part from it and
// the object's entries, and takes the fields over (the issuer and extensions
// through their DER unless they are the object's own). The object is then
// unsigned. Errors: C_ERR_NOT_CRL_OBJ; C_ERR_NULL_CRL_FIELDS; C_ERR_VERSION
// (a version above 1, or extensions or entries with extensions in version
// 1); C_ERR_EXTENSIONS (also for extensions of another kind than 2);
// C_ERR_CRL_UPDATE; C_ERR_SIG_ALGORITHM; C_ERR_ISSUER (an empty issuer
// included); C_ERR_BAD_ARGUMENT for a date outside the years 0 to 9999;
// C_ERR_ALLOC. On failure the object is unchanged.
int C_SetCRLFields(C_CRL_OBJ crl, const C_CRL_FIELDS* fields);
// C_AddCRLEntry appends a revoked entry: serial number |serial| (big-endian
// magnitude, leading zero octets dropped, at most C_CRL_SERIAL_MAX octets
// after that), revocation date |date| and reason |reason| (C_REASON_*, or
// C_REASON_NONE for no reasonCode extension). When the object has fields,
// the to-be-signed part is encoded again and the object is unsigned. Errors:
// C_ERR_NOT_CRL_OBJ; C_ERR_CRL_ENTRY for an empty or too long serial, a
// reason outside the list, or a date outside the years 0 to 9999;
// C_ERR_VERSION for a reason in a version 1 list; C_ERR_ALLOC. On failure
// the object is unchanged.
int C_AddCRLEntry(C_CRL_OBJ crl, const unsigned char* serial, uint32_t serialLen, int64_t date, int32_t reason);
// C_SignCRL signs the to-be-signed part with |privateKey| under the record's
// signature algorithm (C_SIG_SHA1_WITH_RSA, C_SIG_SHA256_WITH_RSA,
// C_SIG_SHA384_WITH_RSA or C_SIG_SHA512_WITH_RSA) and makes the result the
// signed encoding. Errors: C_ERR_NOT_CRL_OBJ; C_ERR_PRIVATE_KEY for a null
// key; C_ERR_NOTHING_TO_SIGN; C_ERR_SIG_ALGORITHM; C_ERR_SIGN; C_ERR_ALLOC;
// C_ERR_CANCEL. On failure the object is unchanged.
int C_SignCRL(C_CRL_OBJ crl, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender);
// C_VerifyCRLSignature checks the signed encoding's signature with
// |publicKey| (the issuer's). Returns 0 for a good signature;
// C_ERR_NOT_CRL_OBJ; C_ERR_PUBLIC_KEY for a null key; C_ERR_NOT_SIGNED;
// C_ERR_EXT_UNHANDLED_CRITICAL; C_ERR_ALLOC; C_ERR_CANCEL;
// C_ERR_CRL_SIGNATURE for every other failure.
int C_VerifyCRLSignature(C_CRL_OBJ crl, Q_KEY_OBJ publicKey, Q_SURRENDER_CTX* surrender);
// C_GetCRLDER stores the signed encoding (owned by the object).
// Errors: C_ERR_NOT_CRL_OBJ; C_ERR_NULL_OUTPUT; C_ERR_NOTHING_TO_SIGN when
// the object is not signed.
int C_GetCRLDER(C_CRL_OBJ crl, const unsigned char** der, uint32_t* derLen);

// C_BuildCRLNumber: the CRLNumber INTEGER of the big-endian magnitude
// |number| (leading zero octets dropped; at most C_CRL_NUMBER_MAX octets
// remain). Errors: C_ERR_BAD_ARGUMENT for no number, one too long, or a null
// output; C_ERR_ALLOC. The value is owned as for the other builders.
int C_BuildCRLNumber(const unsigned char* number, uint32_t numberLen, unsigned char** value, uint32_t* valueLen);
// C_BuildReasonCode: the CRLReason ENUMERATED |reason| (C_REASON_*, not
// C_REASON_NONE). Errors: C_ERR_BAD_ARGUMENT for another value or a null
// output; C_ERR_ALLOC.
int C_BuildReasonCode(uint32_t reason, unsigned char** value, uint32_t* valueLen);
// C_ReadCRLNumber reads a CRLNumber value into the big-endian magnitude
// |*number| (pointing into |value|, no leading zero octets). A negative
// number or one longer than C_CRL_NUMBER_MAX octets is C_ERR_BAD_ENCODING.
int C_ReadCRLNumber(const unsigned char* value, uint32_t valueLen, C_ITEM* number);
// C_ReadReasonCode reads a CRLReason value; a reason outside the list is
// C_ERR_BAD_ENCODING.
int C_ReadReasonCode(const unsigned char* value, uint32_t valueLen, uint32_t* reason);

// ---------------------------------------------------------------------------
// Attributes objects (type tag 1996).
//
// An attributes object carries the attributes of a PKCS #10 request
// (RFC 2986): a SET OF Attribute, each an attribute type OID with a SET of
// values. Requests fill it when they are read and write it back through its
// DER; the toolkit does not interpret the values.

typedef struct C_AttributesObj* C_ATTRIBUTES_OBJ;

// C_CreateAttributesObject stores a new, empty attributes object in
// |*attributes|. Errors: C_ERR_NOT_ATTRIBUTES_OBJ for a null out-pointer;
// C_ERR_ALLOC.
int C_CreateAttributesObject(C_ATTRIBUTES_OBJ* attributes);
// C_DestroyAttributesObject releases the object (wiping its encoding) and
// sets the handle to null; another kind of handle is left alone.
void C_DestroyAttributesObject(C_ATTRIBUTES_OBJ* attributes);
// C_SetAttributesDER replaces the attributes with those of |ber|, a SET OF
// Attribute (normalised to DER first). A null |ber| or length 0 empties the
// object. On failure the object is unchanged. Errors:
// C_ERR_NOT_ATTRIBUTES_OBJ; C_ERR_REQUEST_ATTRIBUTES when the input is not a
// SET OF Attribute or an attribute type OID is empty; C_ERR_ALLOC.
int C_SetAttributesDER(C_ATTRIBUTES_OBJ attributes, const unsigned char* ber, uint32_t berLen);
// C_GetAttributesDER stores the object's DER SET OF Attribute (owned by the
// object); an object without attributes gives null and 0.
// Errors: C_ERR_NOT_ATTRIBUTES_OBJ; C_ERR_NULL_OUTPUT.
int C_GetAttributesDER(C_ATTRIBUTES_OBJ attributes, const unsigned char** der, uint32_t* derLen);
// C_GetAttributeCount stores the number of attributes in |*count|.
// Errors: C_ERR_NOT_ATTRIBUTES_OBJ; C_ERR_NULL_OUTPUT.
int C_GetAttributeCount(C_ATTRIBUTES_OBJ attributes, uint32_t* count);

// ---------------------------------------------------------------------------
// Certificate request objects (type tag 1999).
//
// A request object holds one PKCS #10 CertificationRequest (RFC 2986,
// version 0) as its signed DER encoding, its to-be-signed encoding
// (CertificationRequestInfo) and a fields record. It owns a subject name and
// an attributes object. States as for certificate objects: new, set from BER
// (signed), fields set (unsigned), signed.

typedef struct C_CertRequestObj* C_CERT_REQUEST_OBJ;

// The fields record that C_GetCertRequestFields fills and
// C_SetCertRequestFields reads.
typedef struct C_CERT_REQUEST_FIELDS {
  uint32_t version;             // always 0
  C_NAME_OBJ subject;
  C_ITEM publicKey;             // DER SubjectPublicKeyInfo, whole
  C_ATTRIBUTES_OBJ attributes;  // null in a record given to set: no attributes
} C_CERT_REQUEST_FIELDS;

// Largest digest the request operations write (SHA-512).
#define C_REQUEST_DIGEST_MAX 64

// C_CreateCertRequestObject stores a new request (version 0, empty subject,
// no attributes) in |*request|. Errors: C_ERR_NOT_REQUEST_OBJ for a null
// out-pointer; C_ERR_ALLOC.
int C_CreateCertRequestObject(C_CERT_REQUEST_OBJ* request);
// C_DestroyCertRequestObject releases the object, wiping its encodings and
// releasing its subject and attributes, and sets the handle to null; another
// kind of handle is left alone.
void C_DestroyCertRequestObject(C_CERT_REQUEST_OBJ* request);
// C_SetCertRequestBER normalises |ber| to DER, keeps that as the signed
// encoding and decodes the fields from it. Errors: C_ERR_NOT_REQUEST_OBJ;
// C_ERR_INPUT_DATA for no data or an encoding that cannot be split;
// C_ERR_BAD_ENCODING when the structure is not a CertificationRequest's;
// C_ERR_REQUEST_VERSION; C_ERR_NO_KEY_FORM; C_ERR_PUBLIC_KEY;
// C_ERR_REQUEST_ATTRIBUTES; C_ERR_REQUEST_SUBJECT; C_ERR_ALLOC. A failure
// before the encoding is taken leaves the object as it was; a later one
// leaves it without encodings and with its fields unchanged.
int C_SetCertRequestBER(C_CERT_REQUEST_OBJ request, const unsigned char* ber, uint32_t berLen);
// C_GetCertRequestFields copies the fields record into |*fields|; its
// pointers and handles refer to the object's own storage and objects.
// Errors: C_ERR_NOT_REQUEST_OBJ; C_ERR_NULL_REQUEST_FIELDS.
int C_GetCertRequestFields(C_CERT_REQUEST_OBJ request, C_CERT_REQUEST_FIELDS* fields);
// C_SetCertRequestFields checks |fields|, takes them over (attributes and a
// subject given by a handle other than the object's own through their DER;
// the public key copied) and encodes the information part. The request is
// then unsigned. Errors: C_ERR_NOT_REQUEST_OBJ; C_ERR_NULL_REQUEST_FIELDS;
// C_ERR_REQUEST_VERSION; C_ERR_NO_KEY_FORM; C_ERR_PUBLIC_KEY (checked before
// anything changes); C_ERR_NOT_ATTRIBUTES_OBJ; C_ERR_NOT_NAME_OBJ and the
// name codes; C_ERR_ALLOC.
int C_SetCertRequestFields(C_CERT_REQUEST_OBJ request, const C_CERT_REQUEST_FIELDS* fields);
// C_SignCertRequest signs the information part with |privateKey| under the
// signature algorithm |signatureAlgorithm| (C_SIG_*). When |digest| is not
// null, the digest of the information part with that algorithm's digest is
// also written to it (capacity |digestMax|, length in |*digestLen|).
// Errors: C_ERR_NOT_REQUEST_OBJ; C_ERR_PRIVATE_KEY for a null key;
// C_ERR_NOTHING_TO_SIGN; C_ERR_SIG_ALGORITHM; C_ERR_SIGN; C_ERR_DIGEST;
// C_ERR_NULL_OUTPUT for a digest without a length pointer; C_ERR_ALLOC.
int C_SignCertRequest(C_CERT_REQUEST_OBJ request, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random,
                      uint32_t signatureAlgorithm, unsigned char* digest, uint32_t* digestLen, uint32_t digestMax,
                      Q_SURRENDER_CTX* surrender);
// C_GetCertRequestDER stores the signed encoding (owned by the object).
// Errors: C_ERR_NOT_REQUEST_OBJ; C_ERR_NULL_OUTPUT; C_ERR_NOT_SIGNED.
int C_GetCertRequestDER(C_CERT_REQUEST_OBJ request, const unsigned char** der, uint32_t* derLen);
// C_VerifyCertRequestSignature checks the request's signature with the
// public key it holds; with |digest| not null it also writes the digest of
// the information part under the signature's digest. Returns 0 for a good
// signature; C_ERR_NOT_REQUEST_OBJ; C_ERR_PUBLIC_KEY when the request's key
// cannot be used; C_ERR_NOT_SIGNED; C_ERR_REQUEST_SIGNATURE for a bad
// signature or an unusable signature algorithm; C_ERR_SIG_ALGORITHM,
// C_ERR_NO_SIG_ALG_SOURCE, C_ERR_DIGEST, C_ERR_NULL_OUTPUT for the digest;
// C_ERR_ALLOC; C_ERR_CANCEL.
int C_VerifyCertRequestSignature(C_CERT_REQUEST_OBJ request, unsigned char* digest, uint32_t* digestLen,
                                 uint32_t digestMax, Q_SURRENDER_CTX* surrender);
// C_SetCertFromRequest reads the signed request |ber|, checks its signature
// with its own key and sets |certificate|'s fields from it: version 0
// (X.509 version 1), signature algorithm C_SIG_MD5_WITH_RSA, issuer and
// subject both the request's subject, validity from now for 31535999
// seconds, the request's public key. The certificate is left unsigned. With
// |digest| or |digestLen| given, the digest of the request's information
// part under the request's signature digest is written (|digest| holds
// C_REQUEST_DIGEST_MAX octets). With |attributes| given, it receives the
// request's attributes. Errors: C_ERR_NOT_CERT_OBJ; C_ERR_INPUT_DATA for no
// data; C_ERR_NOT_ATTRIBUTES_OBJ; C_ERR_BAD_REQUEST when the request cannot
// be read; the codes of C_VerifyCertRequestSignature (C_ERR_REQUEST_SIGNATURE
// for a signature that does not verify); the codes of C_SetCertFields;
// C_ERR_VALIDITY when the validity would pass the end of year 9999;
// C_ERR_ALLOC.
int C_SetCertFromRequest(C_CERT_OBJ certificate, C_ATTRIBUTES_OBJ attributes, const unsigned char* ber,
                         uint32_t berLen, unsigned char* digest, uint32_t* digestLen, Q_SURRENDER_CTX* surrender);

#ifdef __cplusplus
}
#endif

#endif
