// The AES key forms. QK_AES128Key holds 16 key bytes and QK_AES256Key 32;
// both also record their bytes as QK_Item, and each can be built from a
// QK_Item of exactly its length.
#include "cryptokit/aes/aes.h"

namespace qk {
namespace {

struct AesKeyDescriptor : KeyInfoDescriptor {
  uint32_t length;
};

extern const AesKeyDescriptor kAes128KeyDescriptor;
extern const AesKeyDescriptor kAes256KeyDescriptor;

int SetAesBytes(Q_KeyObj* key, const void* info, const AesKeyDescriptor* descriptor) {
  const auto* bytes = static_cast<const unsigned char*>(info);
  if (bytes == nullptr) return Q_ERR_INPUT_DATA;
  unsigned char* copy = OwnedCopy(&key->memory, bytes, descriptor->length);
  if (copy == nullptr) return Q_ERR_ALLOC;
  int status = InfoAppend(&key->memory, &key->infos, descriptor, copy);
  if (status != 0) return status;
  return AppendItemForm(key, copy, descriptor->length, nullptr);
}

int GetAesBytes(void** info, Q_KeyObj* key, const AesKeyDescriptor* descriptor) {
  void* form = nullptr;
  int status = GetKeyForm(&form, key, QK_Item);
  if (status != 0) return status;
  const auto* item = static_cast<const Q_ITEM*>(form);
  if (item->len != descriptor->length) return Q_ERR_GET_KEY_INFO;
  unsigned char* copy = OwnedCopy(&key->memory, item->data, item->len);
  if (copy == nullptr) return Q_ERR_ALLOC;
  *info = copy;
  return 0;
}

int SetAes128(Q_KeyObj* key, const void* info) { return SetAesBytes(key, info, &kAes128KeyDescriptor); }
int SetAes256(Q_KeyObj* key, const void* info) { return SetAesBytes(key, info, &kAes256KeyDescriptor); }
int GetAes128(void** info, Q_KeyObj* key) { return GetAesBytes(info, key, &kAes128KeyDescriptor); }
int GetAes256(void** info, Q_KeyObj* key) { return GetAesBytes(info, key, &kAes256KeyDescriptor); }

const AesKeyDescriptor kAes128KeyDescriptor{{SetAes128, GetAes128}, kAes128KeyLength};
const AesKeyDescriptor kAes256KeyDescriptor{{SetAes256, GetAes256}, kAes256KeyLength};

}  // namespace
}  // namespace qk

extern "C" {
int QK_AES128Key(const void** descriptor) {
  *descriptor = &qk::kAes128KeyDescriptor;
  return 1;
}
int QK_AES256Key(const void** descriptor) {
  *descriptor = &qk::kAes256KeyDescriptor;
  return 1;
}
}
