// The digest info types, method records and handler of the Q_ layer.
#include "cryptokit/digest/digest_handler.h"

#include "cryptokit/digest/digests.h"

namespace qk {
namespace {

template <class Context, void (*Init)(Context*), void (*Update)(Context*, const uint8_t*, uint32_t),
          void (*Final)(Context*, uint8_t*)>
struct DigestAdapter {
  static void init(void* c) { Init(static_cast<Context*>(c)); }
  static void update(void* c, const uint8_t* d, uint32_t n) { Update(static_cast<Context*>(c), d, n); }
  static void final(void* c, uint8_t* out) { Final(static_cast<Context*>(c), out); }
};

using Md2Adapter = DigestAdapter<Md2Context, Md2Init, Md2Update, Md2Final>;
using Md5Adapter = DigestAdapter<Md5Context, Md5Init, Md5Update, Md5Final>;
using Sha1Adapter = DigestAdapter<Sha1Context, Sha1Init, Sha1Update, Sha1Final>;
using Sha256Adapter = DigestAdapter<Sha256Context, Sha256Init, Sha256Update, Sha256Final>;
using Sha384Adapter = DigestAdapter<Sha384Context, Sha384Init, Sha384Update, Sha384Final>;
using Sha512Adapter = DigestAdapter<Sha512Context, Sha512Init, Sha512Update, Sha512Final>;

const DigestMethodOps kMd2Ops{sizeof(Md2Context), kMd2DigestLength, true,
                              Md2Adapter::init,   Md2Adapter::update, Md2Adapter::final};
const DigestMethodOps kMd5Ops{sizeof(Md5Context), kMd5DigestLength, true,
                              Md5Adapter::init,   Md5Adapter::update, Md5Adapter::final};
const DigestMethodOps kSha1Ops{sizeof(Sha1Context), kSha1DigestLength, false,
                               Sha1Adapter::init,   Sha1Adapter::update, Sha1Adapter::final};
const DigestMethodOps kSha256Ops{sizeof(Sha256Context), kSha256DigestLength, false,
                                 Sha256Adapter::init,   Sha256Adapter::update, Sha256Adapter::final};
const DigestMethodOps kSha384Ops{sizeof(Sha384Context), kSha384DigestLength, false,
                                 Sha384Adapter::init,   Sha384Adapter::update, Sha384Adapter::final};
const DigestMethodOps kSha512Ops{sizeof(Sha512Context), kSha512DigestLength, false,
                                 Sha512Adapter::init,   Sha512Adapter::update, Sha512Adapter::final};

class DigestHandlerImpl final : public DigestHandler {
 public:
  explicit DigestHandlerImpl(const AlgorithmType* type) : type_(type) {}
  ~DigestHandlerImpl() override { QMem_SecureRelease(context_); }

  int Init(Q_AlgorithmObj*, Q_KeyObj* key, Q_CHOOSER chooser, Q_SURRENDER_CTX*) override {
    return SelectMethodWith(type_, 0, key, chooser, [this](const Q_ALGORITHM_METHOD* method, void*) {
      const auto* ops = static_cast<const DigestMethodOps*>(method->operations);
      if (context_ == nullptr || QMem_BlockSize(context_) != ops->contextSize) {
        void* fresh = QMem_Allocate(ops->contextSize);
        if (fresh == nullptr) return Q_ERR_ALLOC;
        QMem_SecureRelease(context_);
        context_ = fresh;
      }
      ops_ = ops;
      ops_->init(context_);
      return 0;
    });
  }

  int Update(const unsigned char* data, uint32_t length, Q_SURRENDER_CTX*) override {
    if (length != 0 && data == nullptr) return Q_ERR_INPUT_DATA;
    ops_->update(context_, data, length);
    return 0;
  }

  int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_SURRENDER_CTX*) override {
    if (outputMax < ops_->digestLength || output == nullptr) {
      if (ops_->reportsLengthWhenRefusing && outputLen != nullptr) *outputLen = ops_->digestLength;
      return Q_ERR_OUTPUT_LEN;
    }
    ops_->final(context_, output);
    if (outputLen != nullptr) *outputLen = ops_->digestLength;
    return 0;
  }

 private:
  const AlgorithmType* type_;
  const DigestMethodOps* ops_ = nullptr;
  void* context_ = nullptr;
};

Handler* CreateHandlerFor(const AlgInfoDescriptor* self, Q_AlgorithmObj*) {
  return CreateDigestHandler(static_cast<const DigestDescriptor*>(self)->type);
}

const AlgInfoOps kDigestInfoOps{SetInfoNoParameters, CreateHandlerFor, nullptr};

const unsigned char kMd2Oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x02};
const unsigned char kMd5Oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};
const unsigned char kSha1Oid[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
// id-sha256, id-sha384, id-sha512: 2.16.840.1.101.3.4.2.1 to .3 (RFC 8017,
// appendix B.1).
const unsigned char kSha256Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const unsigned char kSha384Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
const unsigned char kSha512Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};

const DigestDescriptor kMd2Descriptor{{&kDigestInfoOps}, &kTypeMD2, kMd2Oid, sizeof kMd2Oid, kMd2DigestLength};
const DigestDescriptor kMd5Descriptor{{&kDigestInfoOps}, &kTypeMD5, kMd5Oid, sizeof kMd5Oid, kMd5DigestLength};
const DigestDescriptor kSha1Descriptor{{&kDigestInfoOps}, &kTypeSHA1, kSha1Oid, sizeof kSha1Oid,
                                       kSha1DigestLength};
const DigestDescriptor kSha256Descriptor{{&kDigestInfoOps}, &kTypeSHA256, kSha256Oid, sizeof kSha256Oid,
                                         kSha256DigestLength};
const DigestDescriptor kSha384Descriptor{{&kDigestInfoOps}, &kTypeSHA384, kSha384Oid, sizeof kSha384Oid,
                                         kSha384DigestLength};
const DigestDescriptor kSha512Descriptor{{&kDigestInfoOps}, &kTypeSHA512, kSha512Oid, sizeof kSha512Oid,
                                         kSha512DigestLength};

}  // namespace

DigestHandler* CreateDigestHandler(const AlgorithmType* type) { return QNew<DigestHandlerImpl>(type); }

}  // namespace qk

extern "C" {

const Q_ALGORITHM_METHOD QM_MD2 = {&qk::kTypeMD2, 0, nullptr, &qk::kMd2Ops};
const Q_ALGORITHM_METHOD QM_MD5 = {&qk::kTypeMD5, 0, nullptr, &qk::kMd5Ops};
const Q_ALGORITHM_METHOD QM_SHA1 = {&qk::kTypeSHA1, 0, nullptr, &qk::kSha1Ops};
const Q_ALGORITHM_METHOD QM_SHA256 = {&qk::kTypeSHA256, 0, nullptr, &qk::kSha256Ops};
const Q_ALGORITHM_METHOD QM_SHA384 = {&qk::kTypeSHA384, 0, nullptr, &qk::kSha384Ops};
const Q_ALGORITHM_METHOD QM_SHA512 = {&qk::kTypeSHA512, 0, nullptr, &qk::kSha512Ops};

int QA_MD2(const void** descriptor) {
  *descriptor = &qk::kMd2Descriptor;
  return 0;
}
int QA_MD5(const void** descriptor) {
  *descriptor = &qk::kMd5Descriptor;
  return 0;
}
int QA_SHA1(const void** descriptor) {
  *descriptor = &qk::kSha1Descriptor;
  return 0;
}
int QA_SHA256(const void** descriptor) {
  *descriptor = &qk::kSha256Descriptor;
  return 0;
}
int QA_SHA384(const void** descriptor) {
  *descriptor = &qk::kSha384Descriptor;
  return 0;
}
int QA_SHA512(const void** descriptor) {
  *descriptor = &qk::kSha512Descriptor;
  return 0;
}

}  // extern "C"
