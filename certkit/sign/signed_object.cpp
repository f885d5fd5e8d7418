// Signing, verification and digesting of the to-be-signed part (PKCS #1
// v1.5 signatures with MD2, MD5, SHA-1, SHA-256, SHA-384 or SHA-512,
// RFC 8017, RFC 5280 4.1.1.2 and RFC 4055 5),
// driven through the crypto toolkit's Sign, Verify and Digest families.
#include "certkit/sign/signed_object.h"

#include "certkit/errors.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

const uint8_t kMd2WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x02};
const uint8_t kMd5WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04};
const uint8_t kSha1WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05};
const uint8_t kSha256WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};
const uint8_t kSha384WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0C};
const uint8_t kSha512WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0D};

const SignatureRow kRows[] = {
    {C_SIG_MD2_WITH_RSA, "md2WithRSAEncryption", kMd2WithRsa, sizeof kMd2WithRsa, QA_MD2WithRSA, QA_MD2WithRSABER,
     QA_MD2},
    {C_SIG_MD5_WITH_RSA, "md5WithRSAEncryption", kMd5WithRsa, sizeof kMd5WithRsa, QA_MD5WithRSA, QA_MD5WithRSABER,
     QA_MD5},
    {C_SIG_SHA1_WITH_RSA, "sha1WithRSAEncryption", kSha1WithRsa, sizeof kSha1WithRsa, QA_SHA1WithRSA,
     QA_SHA1WithRSABER, QA_SHA1},
    // The SHA-2 rows come after the classic three, so that an
    // AlgorithmIdentifier is matched against the classic rows first.
    {C_SIG_SHA256_WITH_RSA, "sha256WithRSAEncryption", kSha256WithRsa, sizeof kSha256WithRsa, QA_SHA256WithRSA,
     QA_SHA256WithRSABER, QA_SHA256},
    {C_SIG_SHA384_WITH_RSA, "sha384WithRSAEncryption", kSha384WithRsa, sizeof kSha384WithRsa, QA_SHA384WithRSA,
     QA_SHA384WithRSABER, QA_SHA384},
    {C_SIG_SHA512_WITH_RSA, "sha512WithRSAEncryption", kSha512WithRsa, sizeof kSha512WithRsa, QA_SHA512WithRSA,
     QA_SHA512WithRSABER, QA_SHA512},
};
constexpr uint32_t kRowCount = sizeof kRows / sizeof kRows[0];

// Choosers: RSA sides and the six digests (signing and digesting use the
// encrypting sides, verification the decrypting sides).
const Q_ALGORITHM_METHOD* const kSignChooser[] = {&QM_RSAPublicEncrypt, &QM_RSAPrivateEncrypt, &QM_MD2, &QM_MD5,
                                                  &QM_SHA1, &QM_SHA256, &QM_SHA384, &QM_SHA512, nullptr};
const Q_ALGORITHM_METHOD* const kVerifyChooser[] = {&QM_RSAPublicDecrypt, &QM_RSAPrivateDecrypt, &QM_MD2, &QM_MD5,
                                                    &QM_SHA1, &QM_SHA256, &QM_SHA384, &QM_SHA512, nullptr};

// Signed wrapper, for certificates and requests alike:
//
//   SIGNED ::= SEQUENCE {
//     toBeSigned          SEQUENCE (taken whole),
//     algorithm           SEQUENCE { OBJECT IDENTIFIER, ANY OPTIONAL } (taken whole),
//     signature           BIT STRING }
constexpr uint32_t kSlotTbs = 1;
constexpr uint32_t kSlotAlgorithm = 2;
constexpr uint32_t kSlotSignature = 3;
constexpr uint32_t kWrapperSlots = 4;

// A SEQUENCE taken whole, its body not looked at.
int DecodeWholeSequence(uint32_t ident, uint32_t, uint32_t, const uint8_t* element, uint32_t elementLen,
                        const uint8_t*, uint32_t, void* slot) {
  if (ident != kAsnSequence) return kAsnErrEncoding;
  if (slot != nullptr) *static_cast<ByteRange*>(slot) = ByteRange{element, elementLen};
  return 0;
}

const AsnEntry kSignedWrapper[] = {
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnAny, DecodeWholeSequence, AsnEncodeRaw, kSlotTbs},
    {kAsnAny, DecodeWholeSequence, AsnEncodeRaw, kSlotAlgorithm},
    {kAsnBitString, AsnDecodeBitString, AsnEncodeBitString, kSlotSignature},
    {kAsnEnd, nullptr, nullptr, 0},
};

struct WrapperParts {
  ByteRange tbs{};
  ByteRange algorithm{};
  C_BITSTRING signature{};
};

int SplitInto(ByteRange der, WrapperParts* parts) {
  void* slots[kWrapperSlots] = {nullptr, &parts->tbs, &parts->algorithm, &parts->signature};
  uint32_t used = 0;
  int status = AsnDecode(kSignedWrapper, AsnSlots{slots, kWrapperSlots}, 0, der, &used);
  if (status == kAsnErrMemory) return C_ERR_ALLOC;
  return status == 0 ? 0 : C_ERR_INPUT_DATA;
}

void ReleaseRange(ByteRange* range) {
  QMem_SecureRelease(const_cast<uint8_t*>(range->data));
  *range = ByteRange{nullptr, 0};
}

void ForgetSplit(SignedCore* core) {
  core->split = 0;
  core->tbsElement = ByteRange{nullptr, 0};
  core->algorithmElement = ByteRange{nullptr, 0};
  core->signature = C_BITSTRING{nullptr, 0, 0};
}

// The crypto toolkit's code of a failed step in signing: memory and
// cancellation keep their meaning, anything else is |other|.
int CryptoFailure(int cryptoCode, int other) { return ReplaceInContext(FromCryptoCode(cryptoCode), other); }

}  // namespace

const SignatureRow* SignatureTable(uint32_t* rowCount) {
  if (rowCount != nullptr) *rowCount = kRowCount;
  return kRows;
}

const SignatureRow* FindSignatureRow(uint32_t identifier) {
  for (const SignatureRow& row : kRows) {
    if (row.identifier == identifier) return &row;
  }
  return nullptr;
}

int RowFromAlgorithmIdentifier(ByteRange element, const SignatureRow** row) {
  *row = nullptr;
  Q_ALGORITHM_OBJ object = nullptr;
  if (Q_CreateAlgorithmObject(&object) != 0) return C_ERR_ALLOC;
  int result = C_ERR_NO_SIG_ALG_ROW;
  Q_ITEM item{const_cast<uint8_t*>(element.data), element.len};
  for (const SignatureRow& candidate : kRows) {
    int status = Q_SetAlgorithmInfo(object, candidate.identifierInfo, &item);
    if (status == 0) {
      *row = &candidate;
      result = 0;
      break;
    }
    if (status == Q_ERR_ALLOC) {
      result = C_ERR_ALLOC;
      break;
    }
  }
  Q_DestroyAlgorithmObject(&object);
  return result;
}

int AlgorithmIdentifierOf(const SignatureRow* row, uint8_t** der, uint32_t* derLen) {
  *der = nullptr;
  *derLen = 0;
  Q_ALGORITHM_OBJ object = nullptr;
  if (Q_CreateAlgorithmObject(&object) != 0) return C_ERR_ALLOC;
  int status = Q_SetAlgorithmInfo(object, row->signatureInfo, nullptr);
  void* info = nullptr;
  if (status == 0) status = Q_GetAlgorithmInfo(&info, object, row->identifierInfo);
  if (status == 0) {
    const auto* item = static_cast<const Q_ITEM*>(info);
    auto* copy = static_cast<uint8_t*>(QMem_Allocate(item->len));
    if (copy == nullptr) {
      status = Q_ERR_ALLOC;
    } else {
      QMem_Copy(copy, item->data, item->len);
      *der = copy;
      *derLen = item->len;
    }
  }
  Q_DestroyAlgorithmObject(&object);
  return CryptoFailure(status, C_ERR_SIG_ALGORITHM);
}

int CheckPublicKeyEncoding(ByteRange spki) {
  // The public key forms the crypto toolkit reads from DER.
  static const Q_INFO_TYPE kPublicForms[] = {QK_RSAPublicBER};
  if (spki.data == nullptr || spki.len == 0) return C_ERR_PUBLIC_KEY;
  int result = C_ERR_NO_KEY_FORM;
  for (Q_INFO_TYPE form : kPublicForms) {
    Q_KEY_OBJ key = nullptr;
    if (Q_CreateKeyObject(&key) != 0) return C_ERR_ALLOC;
    Q_ITEM item{const_cast<uint8_t*>(spki.data), spki.len};
    int status = Q_SetKeyInfo(key, form, &item);
    Q_DestroyKeyObject(&key);
    if (status == 0) return 0;
    if (status == Q_ERR_ALLOC) return C_ERR_ALLOC;
    // 542: the form does not apply to this key's algorithm; try the next.
    if (status != Q_ERR_GET_KEY_INFO) result = C_ERR_PUBLIC_KEY;
  }
  return result;
}

void CoreReleaseEncodings(SignedCore* core) {
  ReleaseRange(&core->signedDer);
  ReleaseRange(&core->tbsDer);
  ForgetSplit(core);
}

int CoreTakeSigned(SignedCore* core, uint8_t* der, uint32_t derLen) {
  WrapperParts parts;
  int status = SplitInto(ByteRange{der, derLen}, &parts);
  if (status != 0) {
    QMem_SecureRelease(der);
    return status;
  }
  CoreReleaseEncodings(core);
  core->signedDer = ByteRange{der, derLen};
  core->tbsElement = parts.tbs;
  core->algorithmElement = parts.algorithm;
  core->signature = parts.signature;
  core->split = 1;
  return 0;
}

void CoreTakeToBeSigned(SignedCore* core, uint8_t* der, uint32_t derLen) {
  CoreReleaseEncodings(core);
  core->tbsDer = ByteRange{der, derLen};
}

int CoreSplit(SignedCore* core) {
  if (core->signedDer.data == nullptr) return C_ERR_NOT_SIGNED;
  if (core->split) return 0;
  WrapperParts parts;
  int status = SplitInto(core->signedDer, &parts);
  if (status != 0) return status;
  core->tbsElement = parts.tbs;
  core->algorithmElement = parts.algorithm;
  core->signature = parts.signature;
  core->split = 1;
  return 0;
}

int CoreToBeSigned(SignedCore* core, ByteRange* tbs) {
  if (core->tbsDer.data != nullptr) {
    *tbs = core->tbsDer;
    return 0;
  }
  int status = CoreSplit(core);
  if (status == C_ERR_NOT_SIGNED || status == C_ERR_INPUT_DATA) return C_ERR_NOTHING_TO_SIGN;
  if (status != 0) return status;
  *tbs = core->tbsElement;
  return 0;
}

int CoreSign(SignedCore* core, uint32_t identifier, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random,
             Q_SURRENDER_CTX* surrender) {
  ByteRange tbs{};
  int status = CoreToBeSigned(core, &tbs);
  if (status != 0) return status;
  const SignatureRow* requested = FindSignatureRow(identifier);
  if (requested == nullptr) return C_ERR_SIG_ALGORITHM;

  Q_ALGORITHM_OBJ object = nullptr;
  if (Q_CreateAlgorithmObject(&object) != 0) return C_ERR_ALLOC;
  status = CryptoFailure(Q_SetAlgorithmInfo(object, requested->signatureInfo, nullptr), C_ERR_SIG_ALGORITHM);
  // The AlgorithmIdentifier of the row whose signature info type the object
  // holds.
  const Q_ITEM* identifierDer = nullptr;
  if (status == 0) {
    status = C_ERR_SIG_ALGORITHM;
    for (const SignatureRow& row : kRows) {
      void* info = nullptr;
      int got = Q_GetAlgorithmInfo(&info, object, row.identifierInfo);
      if (got == 0) {
        identifierDer = static_cast<const Q_ITEM*>(info);
        status = 0;
        break;
      }
      if (got == Q_ERR_ALLOC) {
        status = C_ERR_ALLOC;
        break;
      }
    }
  }
  uint8_t signature[kSignatureMax];
  uint32_t signatureLen = 0;
  if (status == 0) status = CryptoFailure(Q_SignInit(object, privateKey, kSignChooser, surrender), C_ERR_SIGN);
  if (status == 0) status = CryptoFailure(Q_SignUpdate(object, tbs.data, tbs.len, surrender), C_ERR_SIGN);
  if (status == 0) {
    status = CryptoFailure(Q_SignFinal(object, signature, &signatureLen, sizeof signature, random, surrender),
                           C_ERR_SIGN);
  }
  uint8_t* der = nullptr;
  uint32_t derLen = 0;
  if (status == 0) {
    ByteRange algorithm{identifierDer->data, identifierDer->len};
    C_BITSTRING bits{signature, signatureLen, 0};
    void* slots[kWrapperSlots] = {nullptr, &tbs, &algorithm, &bits};
    status = FromCodecCode(AsnEncode(kSignedWrapper, AsnSlots{slots, kWrapperSlots}, 0, &der, &derLen));
    if (status != 0 && status != C_ERR_ALLOC) status = C_ERR_SIGN;
  }
  QMem_Wipe(signature, sizeof signature);
  Q_DestroyAlgorithmObject(&object);
  if (status != 0) return status;
  // The to-be-signed encoding made from fields stays; the old signed
  // encoding (which |tbs| may point into) goes only now.
  ReleaseRange(&core->signedDer);
  ForgetSplit(core);
  core->signedDer = ByteRange{der, derLen};
  return 0;
}

int CoreVerify(SignedCore* core, Q_KEY_OBJ publicKey, Q_SURRENDER_CTX* surrender) {
  int status = CoreSplit(core);
  if (status == C_ERR_NOT_SIGNED || status == C_ERR_ALLOC) return status;
  if (status != 0) return C_ERR_CERT_SIGNATURE;
  if (core->signature.unusedBits != 0) return C_ERR_CERT_SIGNATURE;

  Q_ALGORITHM_OBJ object = nullptr;
  if (Q_CreateAlgorithmObject(&object) != 0) return C_ERR_ALLOC;
  status = C_ERR_CERT_SIGNATURE;
  Q_ITEM item{const_cast<uint8_t*>(core->algorithmElement.data), core->algorithmElement.len};
  for (const SignatureRow& row : kRows) {
    int set = Q_SetAlgorithmInfo(object, row.identifierInfo, &item);
    if (set == 0 || set == Q_ERR_ALLOC) {
      status = set == 0 ? 0 : C_ERR_ALLOC;
      break;
    }
  }
  if (status == 0) {
    status = Q_VerifyInit(object, publicKey, kVerifyChooser, surrender);
    if (status == 0) status = Q_VerifyUpdate(object, core->tbsElement.data, core->tbsElement.len, surrender);
    if (status == 0) {
      status = Q_VerifyFinal(object, core->signature.data, core->signature.len, nullptr, surrender);
    }
    status = CryptoFailure(status, C_ERR_CERT_SIGNATURE);
  }
  Q_DestroyAlgorithmObject(&object);
  return status;
}

int CoreDigest(SignedCore* core, uint32_t identifier, uint8_t* out, uint32_t* outLen, uint32_t outMax,
               Q_SURRENDER_CTX* surrender) {
  const SignatureRow* row = nullptr;
  if (identifier != 0) {
    row = FindSignatureRow(identifier);
    if (row == nullptr) return C_ERR_SIG_ALGORITHM;
  } else {
    int status = CoreSplit(core);
    if (status == C_ERR_NOT_SIGNED) return C_ERR_NO_SIG_ALG_SOURCE;
    if (status == C_ERR_ALLOC) return status;
    if (status != 0) return C_ERR_SIG_ALGORITHM;
    status = RowFromAlgorithmIdentifier(core->algorithmElement, &row);
    if (status == C_ERR_NO_SIG_ALG_ROW) return C_ERR_SIG_ALGORITHM;
    if (status != 0) return status;
  }
  ByteRange tbs{};
  int status = CoreToBeSigned(core, &tbs);
  if (status != 0) return status;
  Q_ALGORITHM_OBJ object = nullptr;
  if (Q_CreateAlgorithmObject(&object) != 0) return C_ERR_ALLOC;
  status = Q_SetAlgorithmInfo(object, row->digestInfo, nullptr);
  if (status == 0) status = Q_DigestInit(object, nullptr, kSignChooser, surrender);
  if (status == 0) status = Q_DigestUpdate(object, tbs.data, tbs.len, surrender);
  if (status == 0) status = Q_DigestFinal(object, out, outLen, outMax, surrender);
  Q_DestroyAlgorithmObject(&object);
  return CryptoFailure(status, C_ERR_DIGEST);
}

}  // namespace ck
