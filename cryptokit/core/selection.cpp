// Method selection and status translation.
#include "cryptokit/core/objects.h"

namespace qk {

const AlgorithmType kTypeMD2{"MD2"};
const AlgorithmType kTypeMD5{"MD5"};
const AlgorithmType kTypeSHA1{"SHA-1"};
const AlgorithmType kTypeSHA256{"SHA-256"};
const AlgorithmType kTypeSHA384{"SHA-384"};
const AlgorithmType kTypeSHA512{"SHA-512"};
const AlgorithmType kTypeRandom{"random"};
const AlgorithmType kTypeRSAKeyGen{"RSA key generation"};
const AlgorithmType kTypeRSAPublic{"RSA public"};
const AlgorithmType kTypeRSAPrivate{"RSA private"};
const AlgorithmType kTypeDESCBC{"DES-CBC"};
// AES-CBC and HMAC.
const AlgorithmType kTypeAES128CBC{"AES-128-CBC"};
const AlgorithmType kTypeAES256CBC{"AES-256-CBC"};
const AlgorithmType kTypeHMACSHA1{"HMAC-SHA-1"};
const AlgorithmType kTypeHMACSHA256{"HMAC-SHA-256"};
const AlgorithmType kTypeHMACSHA384{"HMAC-SHA-384"};
const AlgorithmType kTypeHMACSHA512{"HMAC-SHA-512"};

namespace {
// Codes on which the walk stops at once instead of trying the next method.
bool StopsSelection(int status) {
  return status == Q_ERR_ALLOC || status == Q_ERR_CANCEL || status == Q_ERR_RESERVED_523;
}
}  // namespace

int SelectMethod(const AlgorithmType* type, unsigned direction, Q_KeyObj* key, Q_CHOOSER chooser,
                 MethodInitialiser* initialiser) {
  int status = Q_ERR_NO_METHOD;
  if (chooser == nullptr) return status;
  for (const Q_ALGORITHM_METHOD* const* m = chooser; *m != nullptr; ++m) {
    const Q_ALGORITHM_METHOD* method = *m;
    if (method->algorithmType != type || method->direction != direction) continue;
    void* keyForm = nullptr;
    if (method->requiredKeyInfo != nullptr) {
      int got = GetKeyForm(&keyForm, key, method->requiredKeyInfo);
      if (got != 0) {
        if (StopsSelection(got)) return got;
        status = got;
        continue;
      }
    }
    int adopted = initialiser->Initialise(method, keyForm);
    if (adopted == 0) return 0;
    if (StopsSelection(adopted)) return adopted;
    status = adopted;
  }
  return status;
}

int MethodStatusToCode(int methodStatus) {
  struct Row {
    int method;
    int code;
  };
  static constexpr Row kTable[] = {
      {1, Q_ERR_CANCEL},       {3, Q_ERR_EXPONENT_EVEN}, {4, Q_ERR_EXPONENT_LEN}, {5, Q_ERR_INPUT_DATA},
      {6, Q_ERR_INPUT_LEN},    {7, Q_ERR_MODULUS_LEN},   {9, Q_ERR_MODULUS_SHORT}, {10, Q_ERR_OUTPUT_LEN},
      {11, Q_ERR_METHOD_11},   {12, Q_ERR_METHOD_12},    {13, Q_ERR_METHOD_13},    {15, Q_ERR_METHOD_15},
      {128, Q_ERR_ALLOC},
  };
  if (methodStatus == 0) return 0;
  for (const Row& row : kTable) {
    if (row.method == methodStatus) return row.code;
  }
  return Q_ERR_METHOD;
}

int BignumStatusToMethodStatus(int bignumStatus) {
  if (bignumStatus == 256) return 128;
  if ((bignumStatus >= 257 && bignumStatus <= 262) || (bignumStatus >= 264 && bignumStatus <= 267)) return 5;
  if (bignumStatus == 263) return 7;
  if (bignumStatus == 268) return 10;
  return bignumStatus;
}

}  // namespace qk
