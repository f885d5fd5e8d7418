// Pieces every certificate toolkit object shares: the common header that
// carries the class descriptor and the type tag, and the ordered pointer list
// that names (and later extensions and attributes) keep their entries in.
#ifndef KVCATOOL_CERTKIT_OBJECT_H
#define KVCATOOL_CERTKIT_OBJECT_H

#include <cstdint>

#include "certkit/certkit.h"
#include "cryptokit/qmemory.h"

namespace ck {

struct ObjectHeader;

// Class descriptor of a toolkit object; the first entry releases the object
// and everything it owns.
struct ObjectClass {
  void (*release)(ObjectHeader* object);
};

// Every toolkit object begins with this header, so that any handle can be
// checked for its type tag before it is used as a particular object.
struct ObjectHeader {
  const ObjectClass* cls;
  uint32_t typeTag;
};

// True when |handle| is non-null and its header carries |typeTag|.
inline bool HasTypeTag(const void* handle, uint32_t typeTag) {
  return handle != nullptr && static_cast<const ObjectHeader*>(handle)->typeTag == typeTag;
}

// Position reported by PtrList insertion when memory runs out; callers turn
// it into C_ERR_ALLOC.
constexpr uint32_t kListNoMemory = 0xFFFF;

// An ordered array of pointers. Capacity grows to the next multiple of 8 that
// holds the new count. The list owns its array, not the pointees.
struct PtrList {
  void** items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;
};

// Inserts |item| at |position| (clamped to the count), moving later entries
// up. Returns the position, or kListNoMemory when the array cannot grow (the
// list is then unchanged).
uint32_t PtrListInsert(PtrList* list, uint32_t position, void* item);
// Appends |item|; same result as PtrListInsert at the end.
inline uint32_t PtrListAppend(PtrList* list, void* item) { return PtrListInsert(list, list->count, item); }
// Releases the array (not the pointees) and empties the list.
void PtrListFree(PtrList* list);

// Sets |*out| to a new block holding the |len| bytes at |data|, or to null
// when |len| is 0. False when the block cannot be allocated (|*out| is then
// null). The caller owns the block.
inline bool CopyBlock(const uint8_t* data, uint32_t len, uint8_t** out) {
  *out = len == 0 ? nullptr : static_cast<uint8_t*>(QMem_Duplicate(data, len));
  return len == 0 || *out != nullptr;
}

}  // namespace ck

#endif
