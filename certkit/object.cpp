#include "certkit/object.h"

#include "cryptokit/qmemory.h"

namespace ck {

uint32_t PtrListInsert(PtrList* list, uint32_t position, void* item) {
  if (list->count >= kListNoMemory - 1) return kListNoMemory;
  if (position > list->count) position = list->count;
  if (list->count == list->capacity) {
    uint32_t capacity = (list->count + 1 + 7) / 8 * 8;
    auto* grown = static_cast<void**>(QMem_Allocate(capacity * static_cast<uint32_t>(sizeof(void*))));
    if (grown == nullptr) return kListNoMemory;
    QMem_Copy(grown, list->items, list->count * static_cast<uint32_t>(sizeof(void*)));
    QMem_SecureRelease(list->items);
    list->items = grown;
    list->capacity = capacity;
  }
  QMem_Move(list->items + position + 1, list->items + position,
            (list->count - position) * static_cast<uint32_t>(sizeof(void*)));
  list->items[position] = item;
  ++list->count;
  return position;
}

void PtrListFree(PtrList* list) {
  QMem_SecureRelease(list->items);
  list->items = nullptr;
  list->count = 0;
  list->capacity = 0;
}

}  // namespace ck
