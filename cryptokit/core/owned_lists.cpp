// Owned-memory lists and info lists of the toolkit's objects.
#include "cryptokit/core/objects.h"

namespace qk {

int OwnedAdd(OwnedMemory* list, void* block, uint32_t length, void (*release)(void*)) {
  if (list->count == list->capacity) {
    // Grow by ten entries at a time; the old array is copied and released.
    int capacity = list->count + 10;
    auto* grown = static_cast<OwnedEntry*>(QMem_Allocate(static_cast<uint32_t>(capacity * sizeof(OwnedEntry))));
    if (grown == nullptr) return Q_ERR_ALLOC;
    QMem_Copy(grown, list->entries, static_cast<uint32_t>(list->count * sizeof(OwnedEntry)));
    QMem_SecureRelease(list->entries);
    list->entries = grown;
    list->capacity = capacity;
  }
  list->entries[list->count++] = OwnedEntry{block, length, release};
  return 0;
}

void* OwnedAllocate(OwnedMemory* list, uint32_t length) {
  void* block = QMem_Allocate(length);
  if (block == nullptr) return nullptr;
  if (OwnedAdd(list, block, length == 0 ? 1 : length, nullptr) != 0) {
    QMem_SecureRelease(block);
    return nullptr;
  }
  return block;
}

unsigned char* OwnedCopy(OwnedMemory* list, const void* data, uint32_t length) {
  auto* block = static_cast<unsigned char*>(OwnedAllocate(list, length));
  if (block != nullptr) QMem_Copy(block, data, length);
  return block;
}

void OwnedReleaseAll(OwnedMemory* list) {
  for (int i = 0; i < list->count; ++i) {
    OwnedEntry& e = list->entries[i];
    if (e.release != nullptr) {
      e.release(e.block);
    } else {
      QMem_Wipe(e.block, e.length);
      QMem_Release(e.block);
    }
  }
  QMem_SecureRelease(list->entries);
  *list = OwnedMemory{};
}

void* InfoFind(const InfoList* list, const void* descriptor) {
  for (int i = 0; i < list->count; ++i) {
    if (list->pairs[i].descriptor == descriptor) return list->pairs[i].info;
  }
  return nullptr;
}

namespace {
OwnedEntry* FindEntry(OwnedMemory* memory, const void* block) {
  for (int i = 0; i < memory->count; ++i) {
    if (memory->entries[i].block == block) return &memory->entries[i];
  }
  return nullptr;
}
}  // namespace

int InfoAppend(OwnedMemory* memory, InfoList* list, const void* descriptor, void* info) {
  uint32_t size = static_cast<uint32_t>((list->count + 1) * sizeof(InfoPair));
  auto* grown = static_cast<InfoPair*>(QMem_Allocate(size));
  if (grown == nullptr) return Q_ERR_ALLOC;
  OwnedEntry* entry = list->pairs == nullptr ? nullptr : FindEntry(memory, list->pairs);
  if (entry == nullptr) {
    if (OwnedAdd(memory, grown, size, nullptr) != 0) {
      QMem_SecureRelease(grown);
      return Q_ERR_ALLOC;
    }
  }
  QMem_Copy(grown, list->pairs, static_cast<uint32_t>(list->count * sizeof(InfoPair)));
  grown[list->count] = InfoPair{descriptor, info};
  if (entry != nullptr) {
    QMem_SecureRelease(list->pairs);
    entry->block = grown;
    entry->length = size;
  }
  list->pairs = grown;
  ++list->count;
  return 0;
}

void InfoDropLast(InfoList* list) {
  if (list->count > 0) --list->count;
}

}  // namespace qk
