#include "certkit/asn1/template_walk.h"

namespace ck::detail {

uint32_t EntryWidth(const AsnEntry* e) {
  if (HasBody(*e)) {
    uint32_t width = 1;
    while (!IsEnd(e[width])) width += EntryWidth(e + width);
    return width + 1;
  }
  if (IsExplicit(*e)) return 1 + EntryWidth(e + 1);
  return 1;
}

namespace {

int Check(const AsnEntry* e, uint32_t depth) {
  if (depth > kAsnMaxDepth) return kAsnErrArgument;
  if ((e->tagAndFlags & (kAsnStreamed | kAsnIndefiniteOut)) != 0) return kAsnErrStreamingUnsupported;
  if (IsEnd(*e)) return kAsnErrArgument;
  if ((e->tagAndFlags & 0x1F) == 0x1F && !IsAny(*e)) return kAsnErrArgument;
  if (HasBody(*e)) {
    uint32_t pos = 1;
    uint32_t children = 0;
    while (!IsEnd(e[pos])) {
      int status = Check(e + pos, depth + 1);
      if (status != 0) return status;
      pos += EntryWidth(e + pos);
      ++children;
    }
    if (IsOf(*e) && children != 1) return kAsnErrArgument;
    return 0;
  }
  if (IsOf(*e)) return kAsnErrArgument;
  if (IsExplicit(*e)) return Check(e + 1, depth + 1);
  return 0;
}

}  // namespace

int CheckTemplate(const AsnEntry* e) {
  if (e == nullptr) return kAsnErrArgument;
  return Check(e, 0);
}

bool AnySlotUsed(const AsnEntry* e, uint32_t width, AsnSlots slots) {
  for (uint32_t i = 0; i < width; ++i) {
    if (!IsEnd(e[i]) && SlotOf(e[i], slots) != nullptr) return true;
  }
  return false;
}

}  // namespace ck::detail

namespace ck {

const AsnEntry* AsnFindSubTemplate(const AsnEntry* entry, uint32_t slot) {
  if (entry == nullptr || detail::CheckTemplate(entry) != 0) return nullptr;
  uint32_t width = detail::EntryWidth(entry);
  for (uint32_t i = 0; i < width; ++i) {
    if (!detail::IsEnd(entry[i]) && entry[i].slot == slot) return entry + i;
  }
  return nullptr;
}

void* AsnAbsent() {
  static const char kAbsent = 0;
  return const_cast<char*>(&kAbsent);
}

}  // namespace ck
