// The HMAC info types (QA_HMACSHA1 to QA_HMACSHA512) and method records.
// HMAC runs in the digest family: Q_DigestInit takes the key object (its
// QK_Item form is the HMAC key), Q_DigestUpdate the message and
// Q_DigestFinal writes the MAC and starts a new message under the same key.
#include "cryptokit/hmac/hmac.h"

namespace qk {
namespace {

int SelectInto(const AlgorithmType* type, Q_KeyObj* key, Q_CHOOSER chooser, const HmacMethodOps** ops,
               const Q_ITEM** keyItem) {
  return SelectMethodWith(type, 0, key, chooser, [ops, keyItem](const Q_ALGORITHM_METHOD* method, void* keyForm) {
    if (keyForm == nullptr) return Q_ERR_KEY_OBJ;
    *ops = static_cast<const HmacMethodOps*>(method->operations);
    *keyItem = static_cast<const Q_ITEM*>(keyForm);
    return 0;
  });
}

class HmacHandler final : public DigestHandler {
 public:
  explicit HmacHandler(const HmacDescriptor* descriptor) : descriptor_(descriptor) {}
  ~HmacHandler() override { QMem_SecureRelease(context_); }

  int Init(Q_AlgorithmObj*, Q_KeyObj* key, Q_CHOOSER chooser, Q_SURRENDER_CTX*) override {
    const HmacMethodOps* ops = nullptr;
    const Q_ITEM* keyItem = nullptr;
    int status = SelectInto(descriptor_->type, key, chooser, &ops, &keyItem);
    if (status != 0) return status;
    void* fresh = QMem_Allocate(ops->contextSize);
    if (fresh == nullptr) return Q_ERR_ALLOC;
    ops->init(fresh, keyItem->data, keyItem->len);
    QMem_SecureRelease(context_);
    context_ = fresh;
    ops_ = ops;
    return 0;
  }

  int Update(const unsigned char* data, uint32_t length, Q_SURRENDER_CTX*) override {
    if (length != 0 && data == nullptr) return Q_ERR_INPUT_DATA;
    ops_->update(context_, data, length);
    return 0;
  }

  int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_SURRENDER_CTX*) override {
    if (outputMax < ops_->macLength || output == nullptr) return Q_ERR_OUTPUT_LEN;
    ops_->final(context_, output);
    if (outputLen != nullptr) *outputLen = ops_->macLength;
    return 0;
  }

 private:
  const HmacDescriptor* descriptor_;
  const HmacMethodOps* ops_ = nullptr;
  void* context_ = nullptr;
};

Handler* CreateHmacHandler(const AlgInfoDescriptor* self, Q_AlgorithmObj*) {
  return QNew<HmacHandler>(static_cast<const HmacDescriptor*>(self));
}

const AlgInfoOps kHmacInfoOps{SetInfoNoParameters, CreateHmacHandler, nullptr};

// hmacWithSHA1 1.2.840.113549.2.7, hmacWithSHA256 .2.9, hmacWithSHA384
// .2.10, hmacWithSHA512 .2.11 (RFC 8018, B.1).
const unsigned char kHmacSha1Oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x07};
const unsigned char kHmacSha256Oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09};
const unsigned char kHmacSha384Oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0A};
const unsigned char kHmacSha512Oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0B};

const HmacDescriptor kHmacSha1{{&kHmacInfoOps}, &kTypeHMACSHA1, kHmacSha1Oid, sizeof kHmacSha1Oid, 20};
const HmacDescriptor kHmacSha256{{&kHmacInfoOps}, &kTypeHMACSHA256, kHmacSha256Oid, sizeof kHmacSha256Oid, 32};
const HmacDescriptor kHmacSha384{{&kHmacInfoOps}, &kTypeHMACSHA384, kHmacSha384Oid, sizeof kHmacSha384Oid, 48};
const HmacDescriptor kHmacSha512{{&kHmacInfoOps}, &kTypeHMACSHA512, kHmacSha512Oid, sizeof kHmacSha512Oid, 64};

struct HmacEntry {
  const HmacDescriptor* descriptor;
  Q_INFO_TYPE infoType;
};
const HmacEntry kHmacs[] = {
    {&kHmacSha1, QA_HMACSHA1}, {&kHmacSha256, QA_HMACSHA256}, {&kHmacSha384, QA_HMACSHA384},
    {&kHmacSha512, QA_HMACSHA512}};

}  // namespace

const HmacDescriptor* FindHmac(const void* descriptor) {
  for (const HmacEntry& e : kHmacs) {
    if (e.descriptor == descriptor) return e.descriptor;
  }
  return nullptr;
}

const HmacDescriptor* FindHmacByOid(const unsigned char* oid, uint32_t oidLength) {
  for (const HmacEntry& e : kHmacs) {
    if (e.descriptor->oidLength == oidLength && QMem_Compare(e.descriptor->oid, oid, oidLength) == 0) {
      return e.descriptor;
    }
  }
  return nullptr;
}

Q_INFO_TYPE HmacInfoType(const HmacDescriptor* descriptor) {
  for (const HmacEntry& e : kHmacs) {
    if (e.descriptor == descriptor) return e.infoType;
  }
  return nullptr;
}

int SelectHmac(const AlgorithmType* type, Q_KeyObj* key, Q_CHOOSER chooser, const HmacMethodOps** ops,
               const Q_ITEM** keyItem) {
  return SelectInto(type, key, chooser, ops, keyItem);
}

}  // namespace qk

extern "C" {

const Q_ALGORITHM_METHOD QM_HMACSHA1 = {&qk::kTypeHMACSHA1, 0, QK_Item, &qk::kHmacSha1Ops};
const Q_ALGORITHM_METHOD QM_HMACSHA256 = {&qk::kTypeHMACSHA256, 0, QK_Item, &qk::kHmacSha256Ops};
const Q_ALGORITHM_METHOD QM_HMACSHA384 = {&qk::kTypeHMACSHA384, 0, QK_Item, &qk::kHmacSha384Ops};
const Q_ALGORITHM_METHOD QM_HMACSHA512 = {&qk::kTypeHMACSHA512, 0, QK_Item, &qk::kHmacSha512Ops};

int QA_HMACSHA1(const void** descriptor) {
  *descriptor = &qk::kHmacSha1;
  return 0;
}
int QA_HMACSHA256(const void** descriptor) {
  *descriptor = &qk::kHmacSha256;
  return 0;
}
int QA_HMACSHA384(const void** descriptor) {
  *descriptor = &qk::kHmacSha384;
  return 0;
}
int QA_HMACSHA512(const void** descriptor) {
  *descriptor = &qk::kHmacSha512;
  return 0;
}

}  // extern "C"
