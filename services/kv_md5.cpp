// One-step MD5 through the crypto toolkit.
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_md5";

const Q_ALGORITHM_METHOD* const kMD5Chooser[] = {&QM_MD5, nullptr};

}  // namespace

int errKVMD5(int length, const unsigned char* data, unsigned char* digest) {
  KV_TRACE("errKVMD5(): ENTER");
  if (length < 0 || (length > 0 && data == nullptr) || digest == nullptr) {
    KV_TRACE("errKVMD5(): Bad input length");
    return KV_MD5_BAD_INPUT_LENGTH;
  }

  Q_ALGORITHM_OBJ md5 = nullptr;
  int status = Q_CreateAlgorithmObject(&md5);
  if (status != 0) {
    KV_TRACE("errKVMD5(): Error in Q_CreateAlgorithmObject");
    return KV_MD5_OUT_OF_MEMORY;
  }

  int result = 0;
  unsigned char out[16];
  uint32_t outLen = 0;
  if ((status = Q_SetAlgorithmInfo(md5, QA_MD5, nullptr)) != 0) {
    KV_TRACE("errKVMD5(): Error in Q_SetAlgorithmInfo [%d]", status);
    result = KV_MD5_OUT_OF_MEMORY;
  } else if ((status = Q_DigestInit(md5, nullptr, kMD5Chooser, nullptr)) != 0) {
    KV_TRACE("errKVMD5(): Error in Q_DigestInit [%d]", status);
    result = KV_MD5_INTERNAL_ERROR;
  } else if ((status = Q_DigestUpdate(md5, data, static_cast<uint32_t>(length), nullptr)) != 0) {
    KV_TRACE("errKVMD5(): Error in Q_DigestUpdate [%d]", status);
    result = KV_MD5_INTERNAL_ERROR;
  } else if ((status = Q_DigestFinal(md5, out, &outLen, sizeof out, nullptr)) != 0 || outLen != sizeof out) {
    KV_TRACE("errKVMD5(): Error in Q_DigestFinal [%d]", status);
    result = KV_MD5_INTERNAL_ERROR;
  } else {
    // The caller's output is written only by this last step.
    for (int i = 0; i < 16; ++i) digest[i] = out[i];
  }
  QMem_Wipe(out, sizeof out);
  Q_DestroyAlgorithmObject(&md5);
  KV_TRACE("errKVMD5(): EXIT");
  return result;
}
