// Key objects and algorithm objects: creation, destruction and the set and
// get operations for their info.
#include "cryptokit/core/objects.h"

namespace qk {

const int kKeyObjectMarker = 0x4b4f424a;        // the address is what counts
const int kAlgorithmObjectMarker = 0x414f424a;

bool IsValidKey(const Q_KeyObj* key) {
  return key == nullptr || (key->self == key && key->marker == &kKeyObjectMarker);
}

bool IsValidAlgorithm(const Q_AlgorithmObj* object) {
  return object != nullptr && object->self == object && object->marker == &kAlgorithmObjectMarker;
}

int SetInfoNoParameters(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void*) {
  return InfoAppend(&object->memory, &object->infos, self, nullptr);
}

int GetKeyForm(void** info, Q_KeyObj* key, Q_INFO_TYPE type) {
  const void* d = nullptr;
  if (!DescriptorOf(type, &d)) return Q_ERR_WRONG_KIND;
  if (key == nullptr) return Q_ERR_KEY_OBJ;
  if (key->infos.count == 0) return Q_ERR_KEY_NOT_SET;
  const auto* descriptor = static_cast<const KeyInfoDescriptor*>(d);
  for (int i = 0; i < key->infos.count; ++i) {
    if (key->infos.pairs[i].descriptor == descriptor) {
      *info = key->infos.pairs[i].info;
      return 0;
    }
  }
  void* built = nullptr;
  int status = descriptor->get(&built, key);
  if (status != 0) return status;
  status = InfoAppend(&key->memory, &key->infos, descriptor, built);
  if (status != 0) return status;
  *info = built;
  return 0;
}

}  // namespace qk

using namespace qk;

extern "C" {

int Q_CreateAlgorithmObject(Q_ALGORITHM_OBJ* object) {
  if (object == nullptr) return Q_ERR_ALGORITHM_OBJ;
  *object = nullptr;
  auto* created = QNew<Q_AlgorithmObj>();
  if (created == nullptr) return Q_ERR_ALLOC;
  created->memory = OwnedMemory{};
  created->infos = InfoList{};
  created->handler = nullptr;
  created->state = 0;
  created->marker = &kAlgorithmObjectMarker;
  created->self = created;
  *object = created;
  return 0;
}

void Q_DestroyAlgorithmObject(Q_ALGORITHM_OBJ* object) {
  if (object == nullptr) return;
  Q_AlgorithmObj* o = *object;
  *object = nullptr;
  if (!IsValidAlgorithm(o)) return;
  QDelete(o->handler);
  OwnedReleaseAll(&o->memory);
  o->marker = nullptr;
  o->self = nullptr;
  QMem_SecureRelease(o);
}

int Q_SetAlgorithmInfo(Q_ALGORITHM_OBJ object, Q_INFO_TYPE infoType, const void* info) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  const void* d = nullptr;
  if (infoType == nullptr || DescriptorOf(infoType, &d)) return Q_ERR_ALGORITHM_INFO;
  if (object->infos.count != 0) return Q_ERR_ALGORITHM_ALREADY_SET;
  const auto* descriptor = static_cast<const AlgInfoDescriptor*>(d);
  int status = descriptor->ops->setInfo(descriptor, object, info);
  if (status != 0) return status;
  if (descriptor->ops->createHandler != nullptr) {
    Handler* handler = descriptor->ops->createHandler(descriptor, object);
    if (handler == nullptr) {
      // Undo the set so the object stays as it was.
      object->infos.count = 0;
      return Q_ERR_ALLOC;
    }
    object->handler = handler;
  }
  return 0;
}

int Q_GetAlgorithmInfo(void** info, Q_ALGORITHM_OBJ object, Q_INFO_TYPE infoType) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  const void* d = nullptr;
  if (infoType == nullptr || DescriptorOf(infoType, &d)) return Q_ERR_ALGORITHM_INFO;
  if (info == nullptr) return Q_ERR_GET_ALGORITHM_INFO;
  if (object->infos.count == 0) return Q_ERR_ALGORITHM_NOT_SET;
  for (int i = 0; i < object->infos.count; ++i) {
    if (object->infos.pairs[i].descriptor == d) {
      *info = object->infos.pairs[i].info;
      return 0;
    }
  }
  const auto* descriptor = static_cast<const AlgInfoDescriptor*>(d);
  if (descriptor->ops->getInfo == nullptr) return Q_ERR_GET_ALGORITHM_INFO;
  void* built = nullptr;
  int status = descriptor->ops->getInfo(descriptor, &built, object);
  if (status != 0) return status;
  status = InfoAppend(&object->memory, &object->infos, descriptor, built);
  if (status != 0) return status;
  *info = built;
  return 0;
}

int Q_CreateKeyObject(Q_KEY_OBJ* key) {
  if (key == nullptr) return Q_ERR_KEY_OBJ;
  *key = nullptr;
  auto* created = QNew<Q_KeyObj>();
  if (created == nullptr) return Q_ERR_ALLOC;
  created->memory = OwnedMemory{};
  created->infos = InfoList{};
  created->marker = &kKeyObjectMarker;
  created->self = created;
  *key = created;
  return 0;
}

int Q_DestroyKeyObject(Q_KEY_OBJ* key) {
  if (key == nullptr) return 0;
  Q_KeyObj* k = *key;
  *key = nullptr;
  if (k == nullptr) return 0;
  if (!IsValidKey(k)) return Q_ERR_KEY_OBJ;
  OwnedReleaseAll(&k->memory);
  k->marker = nullptr;
  k->self = nullptr;
  QMem_SecureRelease(k);
  return 0;
}

int Q_SetKeyInfo(Q_KEY_OBJ key, Q_INFO_TYPE infoType, const void* info) {
  if (!IsValidKey(key)) return Q_ERR_KEY_OBJ;
  const void* d = nullptr;
  if (infoType == nullptr || !DescriptorOf(infoType, &d)) return Q_ERR_WRONG_KIND;
  if (key == nullptr) return Q_ERR_KEY_OBJ;
  if (key->infos.count != 0) return Q_ERR_KEY_ALREADY_SET;
  const auto* descriptor = static_cast<const KeyInfoDescriptor*>(d);
  int status = descriptor->set(key, info);
  // A failed set leaves no form behind (blocks stay owned and are wiped at
  // destruction).
  if (status != 0) key->infos.count = 0;
  return status;
}

int Q_GetKeyInfo(void** info, Q_KEY_OBJ key, Q_INFO_TYPE infoType) {
  if (!IsValidKey(key)) return Q_ERR_KEY_OBJ;
  if (infoType == nullptr) return Q_ERR_WRONG_KIND;
  if (info == nullptr) return Q_ERR_GET_KEY_INFO;
  return GetKeyForm(info, key, infoType);
}

}  // extern "C"
