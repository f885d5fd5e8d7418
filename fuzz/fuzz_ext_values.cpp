// The extension value readers and C_AddExtension on arbitrary bytes. The
// first byte picks the extension, the rest is its value.
//
// Properties:
// - every reader answers 0, C_ERR_BAD_ENCODING or (for a list longer than
//   the room given) C_ERR_OUTPUT_SMALL, and every pointer of its record
//   lies inside the value;
// - a value a reader accepts that the builders can make is made again
//   octet for octet by the builder (strict DER has one encoding);
// - adding the value to an extensions object either fails and leaves the
//   object's DER as it was, or gives a DER that reads back into an object
//   holding the same extension.
#include <cstdint>
#include <vector>

#include "certkit/certkit.h"
#include "cryptokit/qmemory.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t* gBegin = nullptr;
const uint8_t* gEnd = nullptr;

void Inside(const C_ITEM& item) {
  if (item.data == nullptr) return;
  FuzzCheck(item.data >= gBegin && item.data + item.len <= gEnd);
}

// The builder's block equals |value|.
void SameAs(int status, unsigned char* built, uint32_t builtLen, const uint8_t* value, uint32_t len) {
  FuzzCheck(status == 0);
  FuzzCheck(builtLen == len && Bytes(built, built + builtLen) == Bytes(value, value + len));
  QMem_SecureRelease(built);
}

void ReadAndRebuild(uint32_t which, const uint8_t* v, uint32_t n) {
  unsigned char* built = nullptr;
  uint32_t builtLen = 0;
  switch (which) {
    case 0: {
      C_BASIC_CONSTRAINTS bc{};
      int status = C_ReadBasicConstraints(v, n, &bc);
      FuzzCheck(status == 0 || status == C_ERR_BAD_ENCODING);
      if (status == 0) SameAs(C_BuildBasicConstraints(bc.cA, bc.pathLen, &built, &builtLen), built, builtLen, v, n);
      break;
    }
    case 1: {
      uint32_t usage = 0;
      int status = C_ReadKeyUsage(v, n, &usage);
      FuzzCheck(status == 0 || status == C_ERR_BAD_ENCODING);
      if (status == 0 && usage != 0) SameAs(C_BuildKeyUsage(usage, &built, &builtLen), built, builtLen, v, n);
      break;
    }
    case 2: {
      C_ITEM purposes[4];
      uint32_t count = 0;
      int status = C_ReadExtendedKeyUsage(v, n, purposes, 4, &count);
      FuzzCheck(status == 0 || status == C_ERR_BAD_ENCODING || status == C_ERR_OUTPUT_SMALL);
      for (uint32_t i = 0; status != C_ERR_BAD_ENCODING && i < count && i < 4; ++i) Inside(purposes[i]);
      if (status == 0) {
        SameAs(C_BuildExtendedKeyUsage(purposes, count, &built, &builtLen), built, builtLen, v, n);
      }
      break;
    }
    case 3: {
      C_GENERAL_NAME names[4];
      uint32_t count = 0;
      int status = C_ReadSubjectAltName(v, n, names, 4, &count);
      FuzzCheck(status == 0 || status == C_ERR_BAD_ENCODING || status == C_ERR_OUTPUT_SMALL);
      for (uint32_t i = 0; status != C_ERR_BAD_ENCODING && i < count && i < 4; ++i) Inside(names[i].value);
      if (status == 0) {
        // The builder takes fewer kinds and characters: when it takes the
        // names, it must write the same value.
        status = C_BuildSubjectAltName(names, count, &built, &builtLen);
        FuzzCheck(status == 0 || status == C_ERR_BAD_ARGUMENT);
        if (status == 0) SameAs(status, built, builtLen, v, n);
      }
      break;
    }
    case 4: {
      C_ITEM keyId{};
      int status = C_ReadSubjectKeyIdentifier(v, n, &keyId);
      FuzzCheck(status == 0 || status == C_ERR_BAD_ENCODING);
      Inside(keyId);
      break;
    }
    default: {
      C_AUTHORITY_KEY_ID aki{};
      int status = C_ReadAuthorityKeyIdentifier(v, n, &aki);
      FuzzCheck(status == 0 || status == C_ERR_BAD_ENCODING);
      Inside(aki.keyIdentifier);
      Inside(aki.certIssuer);
      Inside(aki.certSerial);
      if (status == 0 && aki.keyIdentifier.data != nullptr && aki.certIssuer.data == nullptr) {
        SameAs(C_BuildAuthorityKeyIdentifier(aki.keyIdentifier.data, aki.keyIdentifier.len, &built, &builtLen), built,
               builtLen, v, n);
      }
      break;
    }
  }
}

Bytes DerOf(C_EXTENSIONS_OBJ e) {
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  FuzzCheck(C_GetExtensionsDER(e, &der, &len) == 0);
  return len == 0 ? Bytes() : Bytes(der, der + len);
}

void AddToObject(const unsigned char* oid, uint32_t critical, const uint8_t* v, uint32_t n) {
  C_EXTENSIONS_OBJ e = nullptr;
  FuzzCheck(C_CreateExtensionsObject(&e, C_EXT_KIND_CERT, nullptr) == 0);
  // One extension there already, so that a failure has something to keep.
  static const unsigned char kPrivate[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x86, 0x8D, 0x1F, 0x07};
  static const unsigned char kNull[] = {0x05, 0x00};
  FuzzCheck(C_AddExtension(e, kPrivate, sizeof kPrivate, 0, kNull, sizeof kNull) == 0);
  const Bytes before = DerOf(e);
  int status = C_AddExtension(e, oid, C_OID_EXT_LEN, critical, v, n);
  if (status != 0) {
    FuzzCheck(DerOf(e) == before);
  } else {
    const Bytes after = DerOf(e);
    C_EXTENSIONS_OBJ back = nullptr;
    FuzzCheck(C_CreateExtensionsObject(&back, C_EXT_KIND_CERT, nullptr) == 0);
    FuzzCheck(C_SetExtensionsDER(back, after.data(), static_cast<uint32_t>(after.size())) == 0);
    uint32_t count = 0;
    uint32_t backCritical = 9;
    const unsigned char* value = nullptr;
    uint32_t valueLen = 0;
    FuzzCheck(C_GetExtensionCount(back, &count) == 0 && count == 2);
    FuzzCheck(C_GetExtension(back, 1, nullptr, nullptr, &backCritical, &value, &valueLen) == 0);
    FuzzCheck(backCritical == critical && Bytes(value, value + valueLen) == Bytes(v, v + n));
    C_DestroyExtensionsObject(&back);
  }
  C_DestroyExtensionsObject(&e);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const uint32_t which = data[0] % 6;
  const uint32_t critical = (data[0] / 6) & 1;
  const uint8_t* v = data + 1;
  const uint32_t n = static_cast<uint32_t>(size - 1);
  // A copy of its own, so that pointers past the value are caught.
  Bytes value(v, v + n);
  gBegin = value.data();
  gEnd = value.data() + value.size();
  ReadAndRebuild(which, value.data(), n);
  static const unsigned char* const kOids[] = {C_OID_BASIC_CONSTRAINTS, C_OID_KEY_USAGE,      C_OID_EXT_KEY_USAGE,
                                               C_OID_SUBJECT_ALT_NAME,  C_OID_SUBJECT_KEY_ID, C_OID_AUTHORITY_KEY_ID};
  AddToObject(kOids[which], critical, value.data(), n);
  return 0;
}
