// QK_Item: a key held as a plain byte range (a password, for instance). Set
// copies the bytes into the key object; other key forms (the DES keys)
// record their bytes in this form as well.
#include "cryptokit/core/objects.h"

namespace qk {
namespace {

extern const KeyInfoDescriptor kItemDescriptor;

int SetItem(Q_KeyObj* key, const void* info) {
  const auto* item = static_cast<const Q_ITEM*>(info);
  if (item == nullptr || (item->len != 0 && item->data == nullptr)) return Q_ERR_INPUT_DATA;
  return AppendItemForm(key, item->data, item->len, nullptr);
}

// No other form is turned into a plain byte range.
int GetItem(void**, Q_KeyObj*) { return Q_ERR_GET_KEY_INFO; }

const KeyInfoDescriptor kItemDescriptor{SetItem, GetItem};

}  // namespace

int AppendItemForm(Q_KeyObj* key, const unsigned char* data, uint32_t length, Q_ITEM** item) {
  auto* copy = static_cast<Q_ITEM*>(OwnedAllocate(&key->memory, sizeof(Q_ITEM)));
  if (copy == nullptr) return Q_ERR_ALLOC;
  copy->data = OwnedCopy(&key->memory, data, length);
  if (copy->data == nullptr) return Q_ERR_ALLOC;
  copy->len = length;
  int status = InfoAppend(&key->memory, &key->infos, &kItemDescriptor, copy);
  if (status != 0) return status;
  if (item != nullptr) *item = copy;
  return 0;
}

}  // namespace qk

extern "C" int QK_Item(const void** descriptor) {
  *descriptor = &qk::kItemDescriptor;
  return 1;
}
