#include "certkit/errors.h"

#include "certkit/asn1/asn1.h"
#include "cryptokit/cryptokit.h"

namespace ck {

int FromCryptoCode(int cryptoCode) {
  switch (cryptoCode) {
    case Q_ERR_ALLOC: return C_ERR_ALLOC;
    case Q_ERR_CANCEL: return C_ERR_CANCEL;
    case Q_ERR_METHOD: return C_ERR_BAD_ARGUMENT;
    case Q_ERR_INPUT_DATA: return C_ERR_INPUT_DATA;
    case Q_ERR_INPUT_LEN: return C_ERR_TRUNCATED;
    case Q_ERR_OUTPUT_LEN: return C_ERR_OVERFLOW;
    case Q_ERR_DER_TOO_LONG: return C_ERR_DER_TOO_LONG;
    default: return cryptoCode;
  }
}

int CodecToCryptoCode(int codecCode) {
  switch (codecCode) {
    case kAsnErrTruncated: return Q_ERR_INPUT_LEN;
    case kAsnErrEncoding: return Q_ERR_INPUT_DATA;
    case kAsnErrOverflow: return Q_ERR_OUTPUT_LEN;
    case kAsnErrMemory: return Q_ERR_ALLOC;
    case kAsnErrArgument: return Q_ERR_METHOD;
    case kAsnErrStreamingUnsupported: return Q_ERR_METHOD;
    default: return codecCode;
  }
}

int FromCodecCode(int codecCode) { return FromCryptoCode(CodecToCryptoCode(codecCode)); }

int ReplaceInContext(int code, int contextCode) {
  if (code == 0 || code == C_ERR_ALLOC || code == C_ERR_CANCEL) return code;
  return contextCode;
}

}  // namespace ck
