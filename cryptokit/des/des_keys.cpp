// The DES key forms. QK_DESKey holds 8 key bytes as given; QK_DESKeyParity
// holds 8 bytes with odd parity forced on each. Both also record their bytes
// as QK_Item, and each can be built from the other forms on request.
#include "cryptokit/des/des.h"

namespace qk {
namespace {

extern const KeyInfoDescriptor kDesKeyDescriptor;
extern const KeyInfoDescriptor kDesKeyParityDescriptor;

// Copies the 8 bytes (with parity forced when asked), appends them under
// |descriptor| and records them as QK_Item too.
int SetDesBytes(Q_KeyObj* key, const void* info, const KeyInfoDescriptor* descriptor, bool forceParity) {
  const auto* bytes = static_cast<const unsigned char*>(info);
  if (bytes == nullptr) return Q_ERR_INPUT_DATA;
  unsigned char* copy = OwnedCopy(&key->memory, bytes, kDesKeyLength);
  if (copy == nullptr) return Q_ERR_ALLOC;
  if (forceParity) {
    for (uint32_t i = 0; i < kDesKeyLength; ++i) copy[i] = ForceOddParity(copy[i]);
  }
  int status = InfoAppend(&key->memory, &key->infos, descriptor, copy);
  if (status != 0) return status;
  return AppendItemForm(key, copy, kDesKeyLength, nullptr);
}

int SetDesKey(Q_KeyObj* key, const void* info) { return SetDesBytes(key, info, &kDesKeyDescriptor, false); }

int SetDesKeyParity(Q_KeyObj* key, const void* info) {
  return SetDesBytes(key, info, &kDesKeyParityDescriptor, true);
}

// QK_DESKey from QK_Item, which must be exactly 8 bytes long.
int GetDesKey(void** info, Q_KeyObj* key) {
  void* form = nullptr;
  int status = GetKeyForm(&form, key, QK_Item);
  if (status != 0) return status;
  const auto* item = static_cast<const Q_ITEM*>(form);
  if (item->len != kDesKeyLength) return Q_ERR_GET_KEY_INFO;
  unsigned char* copy = OwnedCopy(&key->memory, item->data, kDesKeyLength);
  if (copy == nullptr) return Q_ERR_ALLOC;
  *info = copy;
  return 0;
}

// QK_DESKeyParity from QK_DESKey, only when every byte already has odd
// parity (nothing is corrected on the way).
int GetDesKeyParity(void** info, Q_KeyObj* key) {
  void* form = nullptr;
  int status = GetKeyForm(&form, key, QK_DESKey);
  if (status != 0) return status;
  const auto* bytes = static_cast<const unsigned char*>(form);
  for (uint32_t i = 0; i < kDesKeyLength; ++i) {
    if (!HasOddParity(bytes[i])) return Q_ERR_GET_KEY_INFO;
  }
  unsigned char* copy = OwnedCopy(&key->memory, bytes, kDesKeyLength);
  if (copy == nullptr) return Q_ERR_ALLOC;
  *info = copy;
  return 0;
}

const KeyInfoDescriptor kDesKeyDescriptor{SetDesKey, GetDesKey};
const KeyInfoDescriptor kDesKeyParityDescriptor{SetDesKeyParity, GetDesKeyParity};

}  // namespace
}  // namespace qk

extern "C" {
int QK_DESKey(const void** descriptor) {
  *descriptor = &qk::kDesKeyDescriptor;
  return 1;
}
int QK_DESKeyParity(const void** descriptor) {
  *descriptor = &qk::kDesKeyParityDescriptor;
  return 1;
}
}
