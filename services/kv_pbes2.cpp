// PBES2 encryption of the modern key files and exports: PBKDF2-HMAC-SHA256
// with a fresh random 16-byte salt, AES-256-CBC with a fresh random IV, and
// the PKCS #8 EncryptedPrivateKeyInfo (RFC 5208) around it.
#include "services/kv_der.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_pbes2";

const Q_ALGORITHM_METHOD* const kPbes2Chooser[] = {
    &QM_AES128CBCEncrypt, &QM_AES128CBCDecrypt, &QM_AES256CBCEncrypt, &QM_AES256CBCDecrypt, &QM_HMACSHA1,
    &QM_HMACSHA256,       &QM_HMACSHA384,       &QM_HMACSHA512,       nullptr};

// The key check loads the key into the private method through a SHA-256
// signature, the type that takes keys of every modern size (up to 4096 bits).
const Q_ALGORITHM_METHOD* const kCheckChooser[] = {&QM_RSAPrivateEncrypt, &QM_SHA256, nullptr};

// Algorithm and key objects of one run, released whatever way it ends.
struct Pbes2Run {
  Q_ALGORITHM_OBJ algorithm = nullptr;
  Q_KEY_OBJ key = nullptr;
  ~Pbes2Run() {
    Q_DestroyKeyObject(&key);
    Q_DestroyAlgorithmObject(&algorithm);
  }
  int SetPassword(const unsigned char* password, int passwordLength) {
    int status = Q_CreateKeyObject(&key);
    Q_ITEM secret{const_cast<unsigned char*>(password), static_cast<uint32_t>(passwordLength)};
    if (status == 0) status = Q_SetKeyInfo(key, QK_Item, &secret);
    return status;
  }
};

bool BadLength(int length, int limit) { return length < 0 || length > limit; }

}  // namespace

int errKVPBES2Encrypt(int inputLength, const unsigned char* input, int passwordLength, const unsigned char* password,
                      uint32_t iterations, unsigned char* algorithm, int* algorithmLength, unsigned char* output,
                      int* outputLength) {
  KV_TRACE("errKVPBES2Encrypt(): ENTER");
  if (BadLength(inputLength, KV_PBES2_MAX_INPUT) || (inputLength > 0 && input == nullptr) ||
      BadLength(passwordLength, 0xFFFF) || (passwordLength > 0 && password == nullptr) || algorithm == nullptr ||
      algorithmLength == nullptr || output == nullptr || outputLength == nullptr) {
    KV_TRACE("errKVPBES2Encrypt(): Error: bad arguments");
    return Q_ERR_INPUT_LEN;
  }
  const uint32_t cipherLength = static_cast<uint32_t>(inputLength / 16 + 1) * 16;
  if (*outputLength < 0 || static_cast<uint32_t>(*outputLength) < cipherLength) {
    *outputLength = static_cast<int>(cipherLength);
    return Q_ERR_OUTPUT_LEN;
  }
  unsigned char salt[16], iv[16];
  int status = errKVRandomGetNumber(sizeof salt, salt);
  if (status == 0) status = errKVRandomGetNumber(sizeof iv, iv);
  if (status != 0) {
    KV_TRACE("errKVPBES2Encrypt(): Error in errKVRandomGetNumber [%d]", status);
    return status;
  }
  Pbes2Run run;
  const Q_PBES2_PARAMS params{{salt, sizeof salt}, iterations, QA_HMACSHA256, QA_AES256CBCPad, iv};
  status = Q_CreateAlgorithmObject(&run.algorithm);
  if (status == 0) status = Q_SetAlgorithmInfo(run.algorithm, QA_PBES2, &params);
  if (status == 0) status = run.SetPassword(password, passwordLength);
  void* info = nullptr;
  if (status == 0) status = Q_GetAlgorithmInfo(&info, run.algorithm, QA_PBES2BER);
  if (status == 0) {
    const Q_ITEM* der = static_cast<const Q_ITEM*>(info);
    if (*algorithmLength < 0 || static_cast<uint32_t>(*algorithmLength) < der->len) {
      *algorithmLength = static_cast<int>(der->len);
      status = Q_ERR_OUTPUT_LEN;
    } else {
      QMem_Copy(algorithm, der->data, der->len);
      *algorithmLength = static_cast<int>(der->len);
    }
  }
  uint32_t produced = 0, last = 0;
  if (status == 0) status = Q_EncryptInit(run.algorithm, run.key, kPbes2Chooser, nullptr);
  if (status == 0) {
    status = Q_EncryptUpdate(run.algorithm, output, &produced, cipherLength, input,
                             static_cast<uint32_t>(inputLength), nullptr, nullptr);
  }
  if (status == 0) {
    status = Q_EncryptFinal(run.algorithm, output + produced, &last, cipherLength - produced, nullptr, nullptr);
  }
  if (status == 0 && produced + last != cipherLength) status = Q_ERR_METHOD;
  if (status != 0) {
    KV_TRACE("errKVPBES2Encrypt(): Error in the toolkit's PBES2 [%d]", status);
    QMem_Wipe(output, cipherLength);
    return status;
  }
  *outputLength = static_cast<int>(cipherLength);
  KV_TRACE("errKVPBES2Encrypt(): EXIT");
  return 0;
}

int errKVPBES2Decrypt(int algorithmLength, const unsigned char* algorithm, int inputLength,
                      const unsigned char* input, int passwordLength, const unsigned char* password,
                      unsigned char* output, int* outputLength) {
  KV_TRACE("errKVPBES2Decrypt(): ENTER");
  if (BadLength(algorithmLength, 0xFFFF) || algorithm == nullptr || BadLength(inputLength, KV_PBES2_MAX_INPUT + 16) ||
      (inputLength > 0 && input == nullptr) || BadLength(passwordLength, 0xFFFF) ||
      (passwordLength > 0 && password == nullptr) || output == nullptr || outputLength == nullptr) {
    KV_TRACE("errKVPBES2Decrypt(): Error: bad arguments");
    return Q_ERR_INPUT_LEN;
  }
  if (*outputLength < inputLength) {
    *outputLength = inputLength;
    return Q_ERR_OUTPUT_LEN;
  }
  // A ciphertext that is no whole number of blocks cannot be ours.
  if (inputLength == 0 || inputLength % 16 != 0) {
    KV_TRACE("errKVPBES2Decrypt(): Error: ciphertext of %d bytes", inputLength);
    return Q_ERR_INPUT_DATA;
  }
  Pbes2Run run;
  Q_ITEM der{const_cast<unsigned char*>(algorithm), static_cast<uint32_t>(algorithmLength)};
  int status = Q_CreateAlgorithmObject(&run.algorithm);
  // The parameters are read strictly: bounds on the iteration count and
  // the lengths keep the work a file can ask for limited.
  if (status == 0) status = Q_SetAlgorithmInfo(run.algorithm, QA_PBES2BER, &der);
  if (status == 0) status = run.SetPassword(password, passwordLength);
  uint32_t produced = 0, last = 0;
  const uint32_t capacity = static_cast<uint32_t>(inputLength);
  if (status == 0) status = Q_DecryptInit(run.algorithm, run.key, kPbes2Chooser, nullptr);
  if (status == 0) {
    status = Q_DecryptUpdate(run.algorithm, output, &produced, capacity, input, capacity, nullptr, nullptr);
  }
  if (status == 0) status = Q_DecryptFinal(run.algorithm, output + produced, &last, capacity - produced, nullptr, nullptr);
  if (status != 0) {
    KV_TRACE("errKVPBES2Decrypt(): Error in the toolkit's PBES2 [%d]", status);
    QMem_Wipe(output, capacity);
    *outputLength = 0;
    return status;
  }
  *outputLength = static_cast<int>(produced + last);
  KV_TRACE("errKVPBES2Decrypt(): EXIT");
  return 0;
}

int errKVPKCS8EncryptPBES2(int keyLength, const unsigned char* key, int passwordLength,
                           const unsigned char* password, uint32_t iterations, unsigned char* output,
                           int* outputLength) {
  KV_TRACE("errKVPKCS8EncryptPBES2(): ENTER");
  if (output == nullptr || outputLength == nullptr || BadLength(keyLength, KV_PBES2_MAX_INPUT)) {
    KV_TRACE("errKVPKCS8EncryptPBES2(): Error: bad arguments");
    return Q_ERR_INPUT_LEN;
  }
  unsigned char algorithm[256];
  int algorithmLength = sizeof algorithm;
  kvder::Bytes cipher(static_cast<size_t>(keyLength) + 16);
  int cipherLength = static_cast<int>(cipher.size());
  int status = errKVPBES2Encrypt(keyLength, key, passwordLength, password, iterations, algorithm, &algorithmLength,
                                 cipher.data(), &cipherLength);
  if (status != 0) {
    KV_TRACE("errKVPKCS8EncryptPBES2(): Error in errKVPBES2Encrypt [%d]", status);
    return status;
  }
  // EncryptedPrivateKeyInfo ::= SEQUENCE { encryptionAlgorithm
  //   AlgorithmIdentifier, encryptedData OCTET STRING }
  const kvder::Bytes algorithmDer = kvder::Raw(algorithm, static_cast<size_t>(algorithmLength));
  const kvder::Bytes data = kvder::Tlv(kvder::kOctetString, cipher.data(), static_cast<size_t>(cipherLength));
  const kvder::Bytes info = kvder::Seq({&algorithmDer, &data});
  if (*outputLength < 0 || static_cast<size_t>(*outputLength) < info.size()) {
    *outputLength = static_cast<int>(info.size());
    KV_TRACE("errKVPKCS8EncryptPBES2(): Error: %d bytes needed", *outputLength);
    return Q_ERR_OUTPUT_LEN;
  }
  QMem_Copy(output, info.data(), static_cast<uint32_t>(info.size()));
  *outputLength = static_cast<int>(info.size());
  KV_TRACE("errKVPKCS8EncryptPBES2(): EXIT");
  return 0;
}

int errKVPKCS8DecryptPBES2(int inputLength, const unsigned char* input, int passwordLength,
                           const unsigned char* password, unsigned char* output, int* outputLength) {
  KV_TRACE("errKVPKCS8DecryptPBES2(): ENTER");
  if (BadLength(inputLength, 0xFFFF) || (inputLength > 0 && input == nullptr) || output == nullptr ||
      outputLength == nullptr) {
    KV_TRACE("errKVPKCS8DecryptPBES2(): Error: bad arguments");
    return Q_ERR_INPUT_LEN;
  }
  const unsigned char* at = input;
  const unsigned char* end = input + inputLength;
  kvder::Span info, algorithmContents, algorithm, data;
  const unsigned char* inner = nullptr;
  bool parsed = kvder::Next(&at, end, kvder::kSequence, &info) && at == end;
  if (parsed) {
    inner = info.data;
    const unsigned char* innerEnd = info.data + info.length;
    parsed = kvder::Next(&inner, innerEnd, kvder::kSequence, &algorithmContents, &algorithm) &&
             kvder::Next(&inner, innerEnd, kvder::kOctetString, &data) && inner == innerEnd;
  }
  if (!parsed) {
    KV_TRACE("errKVPKCS8DecryptPBES2(): Error: no EncryptedPrivateKeyInfo");
    return Q_ERR_INPUT_DATA;
  }
  int status = errKVPBES2Decrypt(static_cast<int>(algorithm.length), algorithm.data, static_cast<int>(data.length),
                                 data.data, passwordLength, password, output, outputLength);
  if (status != 0) {
    KV_TRACE("errKVPKCS8DecryptPBES2(): Error in errKVPBES2Decrypt [%d]", status);
    return status;
  }
  // Valid padding alone lets about one wrong password in 256 through: the
  // output must be a private key whose parts belong together.
  status = iCheckPrivateKey(output, *outputLength);
  if (status != 0) {
    KV_TRACE("errKVPKCS8DecryptPBES2(): Decrypted data is not a good private key [%d]", status);
    QMem_Wipe(output, data.length);
    *outputLength = 0;
    // Running out of memory is no wrong password.
    return status == Q_ERR_ALLOC || status == KV_KEY_OUT_OF_MEMORY ? status : Q_ERR_INPUT_DATA;
  }
  KV_TRACE("errKVPKCS8DecryptPBES2(): EXIT");
  return 0;
}

int iCheckPrivateKey(const unsigned char* der, int length) {
  KV_TRACE("iCheckPrivateKey(): ENTER");
  Pbes2Run run;  // the same two objects: a key and an algorithm
  int status = iKeyFromBER(der, length, &run.key, KV_KEYTYPE_PRIVATE_PKCS8);
  if (status == 0) status = Q_CreateAlgorithmObject(&run.algorithm);
  if (status == 0) status = Q_SetAlgorithmInfo(run.algorithm, QA_SHA256WithRSA, nullptr);
  // The private method checks the key's components as it loads them.
  if (status == 0) status = Q_SignInit(run.algorithm, run.key, kCheckChooser, nullptr);
  if (status != 0) KV_TRACE("iCheckPrivateKey(): Error: key refused [%d]", status);
  KV_TRACE("iCheckPrivateKey(): EXIT");
  return status;
}
