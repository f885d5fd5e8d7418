// The certificate toolkit's status handling: translation of crypto toolkit
// codes and of the ASN.1 codec's codes into the C_ERR_* numbering, and the
// rule for replacing a lower-level failure with a code of the caller's own.
#ifndef KVCATOOL_CERTKIT_ERRORS_H
#define KVCATOOL_CERTKIT_ERRORS_H

#include <cstdint>

#include "certkit/certkit.h"

namespace ck {

// Translates a crypto toolkit status (0 or Q_ERR_*) into the certificate
// toolkit's numbering: 518 -> 1792, 519 -> 1794, 520 -> 1795, 524 -> 1797,
// 525 -> 1798, 536 -> 1802, 537 -> 1803; 0 and every other code unchanged.
int FromCryptoCode(int cryptoCode);

// Translates a codec status (0 or kAsnErr*) into the crypto toolkit's
// numbering: 2048 -> 525, 2049 -> 524, 2050 -> 536, 2051 -> 518,
// 2052 -> 520; the codec's refusal of streamed templates (2053) -> 520.
int CodecToCryptoCode(int codecCode);

// Translates a codec status straight into the certificate toolkit's
// numbering (through the crypto toolkit's, as above).
int FromCodecCode(int codecCode);

// Context replacement: a failure |code| of a lower step becomes |contextCode|,
// except that 0 stays 0 and memory (1792) and cancellation (1794) are never
// replaced.
int ReplaceInContext(int code, int contextCode);

}  // namespace ck

#endif
