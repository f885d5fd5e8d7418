// Conversions between key objects and the DER key encodings of the service
// layer: type 101 is a PKCS #8 PrivateKeyInfo, type 102 a
// SubjectPublicKeyInfo.
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "certgeneric";

Q_INFO_TYPE InfoTypeOf(int type) {
  if (type == KV_KEYTYPE_PRIVATE_PKCS8) return QK_RSAPrivateBER;
  if (type == KV_KEYTYPE_PUBLIC_SPKI) return QK_RSAPublicBER;
  return nullptr;
}

}  // namespace

int iKeyFromBER(const unsigned char* der, int length, Q_KEY_OBJ* key, int type) {
  KV_TRACE("iKeyFromBER(): ENTER");
  if (key == nullptr) {
    KV_TRACE("iKeyFromBER(): Error: no place for the key object");
    return KV_KEY_OUT_OF_MEMORY;
  }
  *key = nullptr;
  int status = Q_CreateKeyObject(key);
  if (status != 0) {
    KV_TRACE("iKeyFromBER(): Error in Q_CreateKeyObject [%d]", status);
    return KV_KEY_OUT_OF_MEMORY;
  }
  Q_INFO_TYPE infoType = InfoTypeOf(type);
  if (infoType == nullptr) {
    KV_TRACE("iKeyFromBER(): Error: no key type specified.");
    return KV_KEY_BAD_TYPE;
  }
  if (length < 0 || (length > 0 && der == nullptr)) {
    KV_TRACE("iKeyFromBER(): Error: bad key length [%d]", length);
    return KV_KEY_INVALID_DATA;
  }
  Q_ITEM item{const_cast<unsigned char*>(der), static_cast<uint32_t>(length)};
  if ((status = Q_SetKeyInfo(*key, infoType, &item)) != 0) {
    KV_TRACE("iKeyFromBER(): Error in Q_SetKeyInfo [%d]", status);
    return status == Q_ERR_ALLOC ? KV_KEY_OUT_OF_MEMORY : KV_KEY_INVALID_DATA;
  }
  KV_TRACE("iKeyFromBER(): EXIT");
  return 0;
}

int iKeyToBER(unsigned char* buffer, int* length, Q_KEY_OBJ key, int type) {
  KV_TRACE("iKeyToBER(): ENTER");
  Q_INFO_TYPE infoType = InfoTypeOf(type);
  if (infoType == nullptr) {
    KV_TRACE("iKeyToBER(): Error: no key type specified.");
    return KV_KEY_BAD_TYPE;
  }
  if (length == nullptr) {
    KV_TRACE("iKeyToBER(): Error: no length argument");
    return KV_KEY_INTERNAL_ERROR;
  }
  void* info = nullptr;
  int status = Q_GetKeyInfo(&info, key, infoType);
  if (status != 0 || info == nullptr) {
    KV_TRACE("iKeyToBER(): Error in Q_GetKeyInfo [%d]", status);
    return KV_KEY_INTERNAL_ERROR;
  }
  const Q_ITEM* der = static_cast<const Q_ITEM*>(info);
  const int capacity = *length;
  *length = static_cast<int>(der->len);
  if (capacity < 0 || static_cast<uint32_t>(capacity) < der->len || (der->len > 0 && buffer == nullptr)) {
    KV_TRACE("iKeyToBER(): Error: buffer too small, %d bytes needed", static_cast<int>(der->len));
    return KV_KEY_BUFFER_TOO_SMALL;
  }
  for (uint32_t i = 0; i < der->len; ++i) buffer[i] = der->data[i];
  KV_TRACE("iKeyToBER(): EXIT");
  return 0;
}
