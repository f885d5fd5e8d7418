// RSA key-pair generation, readers of key components, and the password-based
// encryption of private keys (PKCS #5 v1.5, pbeWithSHA1AndDES-CBC).
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_rsakey";

const Q_ALGORITHM_METHOD* const kKeyGenChooser[] = {&QM_MD5, &QM_MD5Random, &QM_RSAKeyGen, &QM_RSAPrivateEncrypt,
                                                      &QM_RSAPublicDecrypt, nullptr};
const Q_ALGORITHM_METHOD* const kPbeChooser[] = {&QM_SHA1, &QM_DESCBCEncrypt, &QM_DESCBCDecrypt, nullptr};

constexpr int kMinModulusBytes = 32;
constexpr int kMaxModulusBytes = 256;
constexpr int kMaxKeyDerLength = 10000;

// The fixed salt and iteration count of every key encryption.
unsigned char kPbeSalt[8] = {0x6b, 0x3e, 0x15, 0xa0, 0x47, 0xd2, 0x09, 0x5f};
constexpr uint32_t kPbeIterations = 5;

// The modulus and one exponent of a DER key (public first, then private).
// Returns 0, 19501, 19502 or 19503; on success |*modulus| and |*exponent|
// point into |*key|, which the caller destroys.
int ReadComponents(const char* caller, int keyLength, const unsigned char* keyDer, Q_KEY_OBJ* key,
                   const Q_ITEM** modulus, const Q_ITEM** exponent) {
  if (keyLength < 0 || keyLength > kMaxKeyDerLength || (keyLength > 0 && keyDer == nullptr)) {
    KV_TRACE("%s(): Error: bad key length", caller);
    return KV_KEY_BAD_SIZE;
  }
  int status = Q_CreateKeyObject(key);
  if (status != 0) {
    KV_TRACE("%s(): Error in Q_CreateKeyObject [%d]", caller, status);
    return KV_KEY_OUT_OF_MEMORY;
  }
  Q_ITEM item{const_cast<unsigned char*>(keyDer), static_cast<uint32_t>(keyLength)};
  if ((status = Q_SetKeyInfo(*key, QK_RSAPublicBER, &item)) != 0) {
    // Try the private form on a fresh object, whatever the failed set left.
    Q_DestroyKeyObject(key);
    if ((status = Q_CreateKeyObject(key)) != 0) {
      KV_TRACE("%s(): Error in Q_CreateKeyObject [%d]", caller, status);
      return KV_KEY_OUT_OF_MEMORY;
    }
    int privateStatus = Q_SetKeyInfo(*key, QK_RSAPrivateBER, &item);
    if (privateStatus != 0) {
      KV_TRACE("%s(): Error in Q_SetKeyInfo [%d]", caller, privateStatus);
      return KV_KEY_INVALID_DATA;
    }
  }
  void* info = nullptr;
  if ((status = Q_GetKeyInfo(&info, *key, QK_RSAPublic)) == 0 && info != nullptr) {
    auto* pub = static_cast<const Q_RSA_PUBLIC_KEY*>(info);
    *modulus = &pub->modulus;
    *exponent = &pub->exponent;
    return 0;
  }
  if ((status = Q_GetKeyInfo(&info, *key, QK_RSAPrivate)) == 0 && info != nullptr) {
    auto* priv = static_cast<const Q_RSA_PRIVATE_KEY*>(info);
    *modulus = &priv->modulus;
    *exponent = &priv->exponent;
    return 0;
  }
  KV_TRACE("%s(): Error in Q_GetKeyInfo [%d]", caller, status);
  return KV_KEY_INVALID_DATA;
}

void CopyItem(const Q_ITEM* item, unsigned char* out) {
  for (uint32_t i = 0; i < item->len; ++i) out[i] = item->data[i];
}

}  // namespace

void KVKeyGenFREE(Q_ALGORITHM_OBJ* keyGen, Q_ALGORITHM_OBJ* random, Q_KEY_OBJ* publicKey, Q_KEY_OBJ* privateKey) {
  KV_TRACE("KVKeyGenFREE(): ENTER");
  if (keyGen != nullptr && *keyGen != nullptr) Q_DestroyAlgorithmObject(keyGen);
  if (random != nullptr && *random != nullptr) Q_DestroyAlgorithmObject(random);
  if (publicKey != nullptr && *publicKey != nullptr) Q_DestroyKeyObject(publicKey);
  if (privateKey != nullptr && *privateKey != nullptr) Q_DestroyKeyObject(privateKey);
  KV_TRACE("KVKeyGenFREE(): EXIT");
}

int errKVKeyGen(int modulusBytes, unsigned char* publicKey, int* publicLength, unsigned char* privateKey,
                int* privateLength) {
  KV_TRACE("errKVKeyGen(): ENTER");
  if (modulusBytes < kMinModulusBytes || modulusBytes > kMaxModulusBytes) {
    KV_TRACE("errKVKeyGen(): Error in modulus size");
    return KV_KEY_BAD_SIZE;
  }
  if (publicLength == nullptr || privateLength == nullptr) {
    KV_TRACE("errKVKeyGen(): Error: no length arguments");
    return KV_KEY_INTERNAL_ERROR;
  }

  Q_ALGORITHM_OBJ random = nullptr, keyGen = nullptr;
  Q_KEY_OBJ pub = nullptr, priv = nullptr;
  int result = 0;
  int status = iMakeRandomObject(&random);
  if (status != 0) {
    KV_TRACE("errKVKeyGen(): Error in iMakeRandomObject [%d]", status);
    result = KV_KEY_OUT_OF_MEMORY;
  } else if ((status = Q_CreateAlgorithmObject(&keyGen)) != 0) {
    KV_TRACE("errKVKeyGen(): Error in Q_CreateAlgorithmObject [%d]", status);
    result = KV_KEY_OUT_OF_MEMORY;
  } else if ((status = Q_CreateKeyObject(&pub)) != 0 || (status = Q_CreateKeyObject(&priv)) != 0) {
    KV_TRACE("errKVKeyGen(): Error in Q_CreateKeyObject [%d]", status);
    result = KV_KEY_OUT_OF_MEMORY;
  }

  if (result == 0) {
    unsigned char exponent[3] = {0x01, 0x00, 0x01};
    Q_RSA_KEYGEN_PARAMS params{static_cast<uint32_t>(modulusBytes) * 8, Q_ITEM{exponent, sizeof exponent}};
    if ((status = Q_SetAlgorithmInfo(keyGen, QA_RSAKeyGen, &params)) != 0) {
      KV_TRACE("errKVKeyGen(): Error in Q_SetAlgorithmInfo [%d]", status);
      result = KV_KEY_OUT_OF_MEMORY;
    } else if ((status = Q_GenerateInit(keyGen, kKeyGenChooser, nullptr)) != 0) {
      KV_TRACE("errKVKeyGen(): Error in Q_GenerateInit [%d]", status);
      result = KV_KEY_INTERNAL_ERROR;
    } else {
      KV_TRACE("Calling Q_Generate Key Pair");
      status = Q_GenerateKeypair(keyGen, pub, priv, random, nullptr);
      if (status != 0) {
        KV_TRACE("errKVKeyGen(): Error in Q_GenerateKeypair [%d]", status);
        result = KV_KEY_INTERNAL_ERROR;
      } else {
        KV_TRACE("Exiting Q_Generate Key Pair");
      }
    }
  }
  if (result == 0 && (status = iKeyToBER(publicKey, publicLength, pub, KV_KEYTYPE_PUBLIC_SPKI)) != 0) {
    KV_TRACE("errKVKeyGen(): Error in iKeyToBER of the public key [%d]", status);
    result = KV_KEY_INTERNAL_ERROR;
  }
  if (result == 0 && (status = iKeyToBER(privateKey, privateLength, priv, KV_KEYTYPE_PRIVATE_PKCS8)) != 0) {
    KV_TRACE("errKVKeyGen(): Error in iKeyToBER of the private key [%d]", status);
    result = KV_KEY_INTERNAL_ERROR;
  }
  KVKeyGenFREE(&keyGen, &random, &pub, &priv);
  KV_TRACE("errKVKeyGen(): EXIT");
  return result;
}

int errKVRSADERKeyGetModulus(int keyLength, const unsigned char* key, int* modulusLength, unsigned char* modulus) {
  KV_TRACE("errKVRSADERKeyGetModulus(): ENTER");
  Q_KEY_OBJ object = nullptr;
  const Q_ITEM* mod = nullptr;
  const Q_ITEM* exp = nullptr;
  int result = ReadComponents("errKVRSADERKeyGetModulus", keyLength, key, &object, &mod, &exp);
  if (result == 0) {
    if (modulusLength != nullptr) *modulusLength = static_cast<int>(mod->len);
    if (modulus != nullptr) CopyItem(mod, modulus);
  }
  Q_DestroyKeyObject(&object);
  KV_TRACE("errKVRSADERKeyGetModulus(): EXIT");
  return result;
}

int errKVRSADERKeyGetExponent(int keyLength, const unsigned char* key, int* exponentLength,
                              unsigned char* exponent) {
  KV_TRACE("errKVRSADERKeyGetExponent(): ENTER");
  Q_KEY_OBJ object = nullptr;
  const Q_ITEM* mod = nullptr;
  const Q_ITEM* exp = nullptr;
  int result = ReadComponents("errKVRSADERKeyGetExponent", keyLength, key, &object, &mod, &exp);
  if (result == 0) {
    if (exponentLength != nullptr) *exponentLength = static_cast<int>(exp->len);
    if (exponent != nullptr) CopyItem(exp, exponent);
  }
  Q_DestroyKeyObject(&object);
  KV_TRACE("errKVRSADERKeyGetExponent(): EXIT");
  return result;
}

int errKVPKCS5PBEncDnc(const int* inputLength, const unsigned char* input, int* outputLength,
                       unsigned char* output, int passwordLength, const unsigned char* password, int direction) {
  KV_TRACE("errKVPKCS5PBEncDnc(): ENTER");
  // Lengths the toolkit cannot take are refused with its own input-length code.
  if (inputLength == nullptr || *inputLength < 0 || *inputLength > 0x7FFFFFFF - 8 ||
      (*inputLength > 0 && input == nullptr) || passwordLength < 0 || (passwordLength > 0 && password == nullptr) ||
      outputLength == nullptr || output == nullptr) {
    KV_TRACE("errKVPKCS5PBEncDnc(): Error in the arguments [%d]", Q_ERR_INPUT_LEN);
    return Q_ERR_INPUT_LEN;
  }
  const uint32_t inLen = static_cast<uint32_t>(*inputLength);

  Q_ALGORITHM_OBJ pbe = nullptr;
  Q_KEY_OBJ key = nullptr;
  int status = Q_CreateAlgorithmObject(&pbe);
  if (status != 0) {
    KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_CreateAlgorithmObject <%d>", status);
  } else {
    Q_PBE_PARAMS params{kPbeSalt, kPbeIterations};
    if ((status = Q_SetAlgorithmInfo(pbe, QA_PBEWithSHA1AndDESCBC, &params)) != 0) {
      KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_SetAlgorithmInfo <%d>", status);
    } else if ((status = Q_CreateKeyObject(&key)) != 0) {
      KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_CreateKeyObject <%d>", status);
    } else {
      Q_ITEM secret{const_cast<unsigned char*>(password), static_cast<uint32_t>(passwordLength)};
      if ((status = Q_SetKeyInfo(key, QK_Item, &secret)) != 0) {
        KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_SetKeyInfo <%d>", status);
      }
    }
  }

  if (status == 0 && direction == KV_PBE_ENCRYPT) {
    const uint32_t room = inLen + 8;
    uint32_t produced = 0, last = 0;
    if ((status = Q_EncryptInit(pbe, key, kPbeChooser, nullptr)) != 0) {
      KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_EncryptInit <%d>", status);
    } else if ((status = Q_EncryptUpdate(pbe, output, &produced, room, input, inLen, nullptr, nullptr)) != 0) {
      KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_EncryptUpdate <%d>", status);
    } else {
      *outputLength = static_cast<int>(produced);
      if ((status = Q_EncryptFinal(pbe, output + produced, &last, room - produced, nullptr, nullptr)) != 0) {
        KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_EncryptFinal <%d>", status);
      } else {
        *outputLength += static_cast<int>(last);
      }
    }
  } else if (status == 0 && direction == KV_PBE_DECRYPT) {
    uint32_t produced = 0, last = 0;
    if ((status = Q_DecryptInit(pbe, key, kPbeChooser, nullptr)) != 0) {
      KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_DecryptInit <%d>", status);
    } else if ((status = Q_DecryptUpdate(pbe, output, &produced, inLen, input, inLen, nullptr, nullptr)) != 0) {
      KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_DecryptUpdate <%d>", status);
    } else {
      *outputLength = static_cast<int>(produced);
      if ((status = Q_DecryptFinal(pbe, output + produced, &last, inLen - produced, nullptr, nullptr)) != 0) {
        KV_TRACE("errKVPKCS5PBEncDnc(): Error in Q_DecryptFinal <%d>", status);
      } else {
        *outputLength += static_cast<int>(last);
      }
    }
  }

  Q_DestroyKeyObject(&key);
  Q_DestroyAlgorithmObject(&pbe);
  KV_TRACE("errKVPKCS5PBEncDnc(): EXIT");
  return status;
}
