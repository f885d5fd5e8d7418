// PBKDF2 (RFC 8018, 5.2): DK = T1 || T2 || ..., Ti = F(P, S, c, i), cut to
// the length asked for; and its entry point Q_PBKDF2.
#include "cryptokit/hmac/hmac.h"

namespace qk {

int Pbkdf2(const HmacMethodOps* ops, const Q_ITEM& password, const uint8_t* salt, uint32_t saltLength,
           uint32_t iterations, uint8_t* output, uint32_t outputLength, Q_SURRENDER_CTX* surrender) {
  void* context = QMem_Allocate(ops->contextSize);
  if (context == nullptr) return Q_ERR_ALLOC;
  ops->init(context, password.data, password.len);
  uint8_t t[64];  // the longest MAC
  int status = 0;
  for (uint32_t index = 1, done = 0; status == 0 && done < outputLength; ++index) {
    status = ops->pbkdf2Block(context, salt, saltLength, index, iterations, t, surrender);
    const uint32_t take = outputLength - done < ops->macLength ? outputLength - done : ops->macLength;
    if (status == 0) QMem_Copy(output + done, t, take);
    done += take;
  }
  QMem_Wipe(t, sizeof t);
  QMem_SecureRelease(context);
  return status;
}

}  // namespace qk

using namespace qk;

extern "C" int Q_PBKDF2(Q_INFO_TYPE prf, Q_CHOOSER chooser, const unsigned char* password, uint32_t passwordLen,
                        const unsigned char* salt, uint32_t saltLen, uint32_t iterationCount,
                        unsigned char* output, uint32_t outputLen, Q_SURRENDER_CTX* surrender) {
  const void* d = nullptr;
  if (prf == nullptr || DescriptorOf(prf, &d)) return Q_ERR_WRONG_KIND;
  const HmacDescriptor* hmac = FindHmac(d);
  if (hmac == nullptr) return Q_ERR_WRONG_KIND;
  if ((password == nullptr && passwordLen != 0) || (salt == nullptr && saltLen != 0)) return Q_ERR_INPUT_DATA;
  if (iterationCount == 0) return Q_ERR_PBE_ITERATIONS;
  if (output == nullptr || outputLen == 0) return Q_ERR_OUTPUT_LEN;
  Q_KEY_OBJ key = nullptr;
  Q_ITEM item{const_cast<unsigned char*>(password), passwordLen};
  int status = Q_CreateKeyObject(&key);
  if (status == 0) status = Q_SetKeyInfo(key, QK_Item, &item);
  const HmacMethodOps* ops = nullptr;
  const Q_ITEM* keyItem = nullptr;
  if (status == 0) status = SelectHmac(hmac->type, key, chooser, &ops, &keyItem);
  if (status == 0) status = Pbkdf2(ops, *keyItem, salt, saltLen, iterationCount, output, outputLen, surrender);
  if (status != 0) QMem_Wipe(output, outputLen);
  Q_DestroyKeyObject(&key);
  return status;
}
