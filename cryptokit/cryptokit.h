// The crypto toolkit's public interface.
//
// Every cryptographic job goes through two kinds of opaque object: an
// algorithm object, told what to run by an algorithm info type, and a key
// object, which holds one key in one or more key info type forms. Work is done
// by operation families that follow the pattern Init, Update (zero or more
// times), Final. Each Init takes a chooser: a null-terminated list of
// algorithm methods from which the toolkit picks the ones that fit.
//
// Every function returns 0 on success or one of the Q_ERR_* codes below. No
// exception crosses this interface. Output buffers come with their capacity
// and an out-parameter for the length written. Info returned by a get
// operation points into memory owned by the object and lives as long as it
// does; callers never free it. Objects wipe every block they own before they
// release it.
#ifndef KVCATOOL_CRYPTOKIT_CRYPTOKIT_H
#define KVCATOOL_CRYPTOKIT_CRYPTOKIT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------
// Status codes.

#define Q_ERR_ALGORITHM_ALREADY_SET 512  // the algorithm object already has its info
#define Q_ERR_METHOD_15 513              // method status 15
#define Q_ERR_NOT_INITIALIZED 514        // Update/Final/Generate/Keypair before Init
#define Q_ERR_ALGORITHM_NOT_SET 515      // no algorithm info set
#define Q_ERR_ALGORITHM_OBJ 516          // not a valid algorithm object
#define Q_ERR_WRONG_KIND 517             // info type or family of the wrong kind
#define Q_ERR_ALLOC 518                  // memory allocation failed
#define Q_ERR_CANCEL 519                 // stopped by the surrender callback
#define Q_ERR_METHOD 520                 // a method failed without a code of its own
#define Q_ERR_EXPONENT_EVEN 521          // key generation: public exponent even
#define Q_ERR_EXPONENT_LEN 522           // key generation: exponent not shorter than modulus
#define Q_ERR_RESERVED_523 523           // reserved; method selection stops on it
#define Q_ERR_INPUT_DATA 524             // bad padding, bad DER, value out of range, ...
#define Q_ERR_INPUT_LEN 525              // input length invalid
#define Q_ERR_KEY_ALREADY_SET 526        // the key object already holds a key
#define Q_ERR_METHOD_13 527              // method status 13
#define Q_ERR_METHOD_12 528              // method status 12
#define Q_ERR_KEY_NOT_SET 529            // the key object holds no key
#define Q_ERR_KEY_OBJ 530                // not a valid key object, or none where needed
#define Q_ERR_ALGORITHM_INFO 531         // a key info type given to an algorithm object
#define Q_ERR_MODULUS_LEN 533            // RSA modulus size outside what is supported
#define Q_ERR_METHOD_11 534              // method status 11
#define Q_ERR_MODULUS_SHORT 535          // RSA modulus shorter than 12 bytes
#define Q_ERR_OUTPUT_LEN 536             // the output buffer is too small
#define Q_ERR_DER_TOO_LONG 537           // a DER element or list beyond 32,767 bytes
#define Q_ERR_RANDOM_NOT_INITIALIZED 538 // random object used before Q_RandomInit
#define Q_ERR_RANDOM_OBJ 539             // not a valid random object, or none given
#define Q_ERR_SIGNATURE 540              // the signature does not verify
#define Q_ERR_GET_ALGORITHM_INFO 541     // algorithm info not available in that form
#define Q_ERR_GET_KEY_INFO 542           // key not available in that form
#define Q_ERR_NO_METHOD 545              // no method in the chooser fits

// Password-based encryption, scheme 2 (PBES2), and PBKDF2.
#define Q_ERR_PBE_ITERATIONS 550 // iteration count 0, or above 10,000,000 in PBES2 parameters
#define Q_ERR_PBE_PRF 551        // key derivation other than PBKDF2, or a PRF not supported
#define Q_ERR_PBE_CIPHER 552     // encryption scheme not supported
#define Q_ERR_PBE_LENGTH 553     // salt, initial vector or key length not allowed for the scheme

// ---------------------------------------------------------------------------
// Basic types.

// Q_ITEM is a byte range: the unit in which keys, parameters, encodings and
// buffers are passed.
typedef struct Q_ITEM {
  unsigned char* data;
  uint32_t len;
} Q_ITEM;

typedef struct Q_AlgorithmObj* Q_ALGORITHM_OBJ;
typedef struct Q_KeyObj* Q_KEY_OBJ;

// An info type stores the address of its descriptor in |*descriptor| and
// returns 0 for an algorithm info type or 1 for a key info type.
typedef int (*Q_INFO_TYPE)(const void** descriptor);

// An algorithm method: a static record naming one implementation. Callers
// only take the addresses of the QM_* records below to build choosers.
typedef struct Q_ALGORITHM_METHOD Q_ALGORITHM_METHOD;
// A chooser is a null-terminated array of method addresses.
typedef const Q_ALGORITHM_METHOD* const* Q_CHOOSER;

// Q_SURRENDER_CTX lets a long operation be stopped: the operation calls
// |Surrender| with |handle| at fixed points and stops with 519 when it answers
// non-zero. A null context means never stop.
typedef struct Q_SURRENDER_CTX {
  int (*Surrender)(void* handle);
  void* handle;
} Q_SURRENDER_CTX;

// ---------------------------------------------------------------------------
// Info records given to the set operations.

// Info of QA_RSAKeyGen. The exponent is big-endian; leading zero bytes are
// dropped when it is copied.
typedef struct Q_RSA_KEYGEN_PARAMS {
  uint32_t modulusBits;
  Q_ITEM publicExponent;
} Q_RSA_KEYGEN_PARAMS;

// Info of QA_PBEWithSHA1AndDESCBC: an 8-byte salt and the iteration count.
typedef struct Q_PBE_PARAMS {
  unsigned char* salt;
  uint32_t iterationCount;
} Q_PBE_PARAMS;

// Info of QA_PBES2 (RFC 8018, 6.2): PBKDF2 with |prf| (QA_HMACSHA1,
// QA_HMACSHA256, QA_HMACSHA384 or QA_HMACSHA512) derives the key of |cipher|
// (QA_AES128CBCPad or QA_AES256CBCPad), which runs with the 16 bytes at |iv|.
// The salt is 8 to 64 bytes, the iteration count 1 to 10,000,000.
typedef struct Q_PBES2_PARAMS {
  Q_ITEM salt;
  uint32_t iterationCount;
  Q_INFO_TYPE prf;
  Q_INFO_TYPE cipher;
  unsigned char* iv;
} Q_PBES2_PARAMS;

// Info of QK_RSAPublic (modulus, public exponent) and QK_RSAPrivate (modulus,
// private exponent); big-endian byte ranges.
typedef struct Q_RSA_PUBLIC_KEY {
  Q_ITEM modulus;
  Q_ITEM exponent;
} Q_RSA_PUBLIC_KEY;
typedef struct Q_RSA_PRIVATE_KEY {
  Q_ITEM modulus;
  Q_ITEM exponent;
} Q_RSA_PRIVATE_KEY;

// Info of QK_RSAPrivateCRT: the eight components in the PKCS #1 order.
typedef struct Q_RSA_PRIVATE_CRT_KEY {
  Q_ITEM modulus;
  Q_ITEM publicExponent;
  Q_ITEM privateExponent;
  Q_ITEM prime[2];
  Q_ITEM primeExponent[2];
  Q_ITEM coefficient;
} Q_RSA_PRIVATE_CRT_KEY;

// ---------------------------------------------------------------------------
// Info types.

// Algorithm info types. Their info is given in the comment. The digests are
// MD2, MD5, SHA-1 and SHA-256, SHA-384 and SHA-512 (FIPS 180-4). The
// signature types (...WithRSA) sign the digest's DigestInfo (RFC 8017, 9.2)
// with PKCS #1 v1.5 block type 1; their ...WithRSABER forms are set from and
// give the signature's DER AlgorithmIdentifier, whose parameters are NULL.
int QA_RSAKeyGen(const void** descriptor);            // Q_RSA_KEYGEN_PARAMS
int QA_MD5Random(const void** descriptor);            // none (null)
int QA_PBEWithSHA1AndDESCBC(const void** descriptor); // Q_PBE_PARAMS
int QA_MD2(const void** descriptor);                  // none
int QA_MD5(const void** descriptor);                  // none
int QA_SHA1(const void** descriptor);                 // none
int QA_SHA256(const void** descriptor);               // none
int QA_SHA384(const void** descriptor);               // none
int QA_SHA512(const void** descriptor);               // none
int QA_MD2WithRSA(const void** descriptor);           // none
int QA_MD5WithRSA(const void** descriptor);           // none
int QA_SHA1WithRSA(const void** descriptor);          // none
int QA_SHA256WithRSA(const void** descriptor);        // none
int QA_SHA384WithRSA(const void** descriptor);        // none
int QA_SHA512WithRSA(const void** descriptor);        // none
int QA_MD2WithRSABER(const void** descriptor);        // Q_ITEM: DER AlgorithmIdentifier
int QA_MD5WithRSABER(const void** descriptor);        // Q_ITEM: DER AlgorithmIdentifier
int QA_SHA1WithRSABER(const void** descriptor);       // Q_ITEM: DER AlgorithmIdentifier
int QA_SHA256WithRSABER(const void** descriptor);     // Q_ITEM: DER AlgorithmIdentifier
int QA_SHA384WithRSABER(const void** descriptor);     // Q_ITEM: DER AlgorithmIdentifier
int QA_SHA512WithRSABER(const void** descriptor);     // Q_ITEM: DER AlgorithmIdentifier
int QA_RSAPrivatePKCS1(const void** descriptor);      // none
int QA_RSAPublicPKCS1(const void** descriptor);       // none

// Modern RSA key generation (FIPS 186-5, A.1.3): modulus sizes 2048, 3072
// and 4096 bits only (533 otherwise), a public exponent with 2^16 < e < 2^256
// (522 otherwise, 521 when even); probable primes tested with Miller-Rabin,
// d = e^-1 mod lcm(p - 1, q - 1). Same method (QM_RSAKeyGen) and key forms
// as QA_RSAKeyGen, which keeps the classic generation. The SHA-2 signature
// types above take the keys it makes; the other signature types and the
// PKCS #1 types keep the classic limit of 2048 bits (533).
int QA_RSAKeyGenModern(const void** descriptor);      // Q_RSA_KEYGEN_PARAMS

// AES (FIPS 197) in CBC mode (SP 800-38A) with the PKCS #7 padding, keyed by
// a QK_AES128Key or QK_AES256Key form; decryption answers 524 for bad
// padding. HMAC (RFC 2104) runs in the digest family: Q_DigestInit takes the
// key object, whose QK_Item form is the HMAC key, and Q_DigestFinal writes the
// MAC. PBES2 (RFC 8018, 6.2) runs in the cipher family, keyed by the
// password as QK_Item; QA_PBES2BER is set from and gives the scheme's whole
// DER AlgorithmIdentifier (1.2.840.113549.1.5.13 with PBES2-params), read
// strictly: 541 for another algorithm, 550 to 553 for parameters out of
// bounds, 524 for anything else that is not their DER.
int QA_AES128CBCPad(const void** descriptor);         // pointer to the 16-byte initial vector
int QA_AES256CBCPad(const void** descriptor);         // pointer to the 16-byte initial vector
int QA_HMACSHA1(const void** descriptor);             // none
int QA_HMACSHA256(const void** descriptor);           // none
int QA_HMACSHA384(const void** descriptor);           // none
int QA_HMACSHA512(const void** descriptor);           // none
int QA_PBES2(const void** descriptor);                // Q_PBES2_PARAMS
int QA_PBES2BER(const void** descriptor);             // Q_ITEM: DER AlgorithmIdentifier

// Key info types.
int QK_Item(const void** descriptor);           // Q_ITEM, copied
int QK_DESKey(const void** descriptor);         // pointer to 8 key bytes
int QK_DESKeyParity(const void** descriptor);   // pointer to 8 bytes; odd parity forced
int QK_RSAPublic(const void** descriptor);      // Q_RSA_PUBLIC_KEY
int QK_RSAPrivate(const void** descriptor);     // Q_RSA_PRIVATE_KEY
int QK_RSAPrivateCRT(const void** descriptor);  // Q_RSA_PRIVATE_CRT_KEY
int QK_RSAPublicBER(const void** descriptor);   // Q_ITEM: DER SubjectPublicKeyInfo
int QK_RSAPrivateBER(const void** descriptor);  // Q_ITEM: DER PKCS #8 PrivateKeyInfo
int QK_AES128Key(const void** descriptor);      // pointer to 16 key bytes
int QK_AES256Key(const void** descriptor);      // pointer to 32 key bytes

// ---------------------------------------------------------------------------
// Algorithm methods for choosers.

extern const Q_ALGORITHM_METHOD QM_MD2;              // MD2 digest
extern const Q_ALGORITHM_METHOD QM_MD5;              // MD5 digest
extern const Q_ALGORITHM_METHOD QM_SHA1;             // SHA-1 digest
extern const Q_ALGORITHM_METHOD QM_SHA256;           // SHA-256 digest (SHA instructions when present)
extern const Q_ALGORITHM_METHOD QM_SHA384;           // SHA-384 digest
extern const Q_ALGORITHM_METHOD QM_SHA512;           // SHA-512 digest
extern const Q_ALGORITHM_METHOD QM_MD5Random;        // MD5 random generator
extern const Q_ALGORITHM_METHOD QM_RSAKeyGen;        // RSA key-pair generation
extern const Q_ALGORITHM_METHOD QM_RSAPublicEncrypt; // RSA public operation, encrypting side
extern const Q_ALGORITHM_METHOD QM_RSAPublicDecrypt; // RSA public operation, decrypting side
extern const Q_ALGORITHM_METHOD QM_RSAPrivateEncrypt;// RSA private (CRT) operation, encrypting side
extern const Q_ALGORITHM_METHOD QM_RSAPrivateDecrypt;// RSA private (CRT) operation, decrypting side
extern const Q_ALGORITHM_METHOD QM_DESCBCEncrypt;    // DES-CBC, encrypting side
extern const Q_ALGORITHM_METHOD QM_DESCBCDecrypt;    // DES-CBC, decrypting side
// AES-CBC; the AES instructions when present, else constant-time portable code.
extern const Q_ALGORITHM_METHOD QM_AES128CBCEncrypt; // AES-128-CBC, encrypting side
extern const Q_ALGORITHM_METHOD QM_AES128CBCDecrypt; // AES-128-CBC, decrypting side
extern const Q_ALGORITHM_METHOD QM_AES256CBCEncrypt; // AES-256-CBC, encrypting side
extern const Q_ALGORITHM_METHOD QM_AES256CBCDecrypt; // AES-256-CBC, decrypting side
extern const Q_ALGORITHM_METHOD QM_HMACSHA1;         // HMAC-SHA-1
extern const Q_ALGORITHM_METHOD QM_HMACSHA256;       // HMAC-SHA-256
extern const Q_ALGORITHM_METHOD QM_HMACSHA384;       // HMAC-SHA-384
extern const Q_ALGORITHM_METHOD QM_HMACSHA512;       // HMAC-SHA-512

// ---------------------------------------------------------------------------
// Objects.

// Q_CreateAlgorithmObject makes an empty algorithm object in |*object|; the
// caller destroys it with Q_DestroyAlgorithmObject. 518 when allocation fails.
int Q_CreateAlgorithmObject(Q_ALGORITHM_OBJ* object);
// Q_DestroyAlgorithmObject wipes and frees the object and everything it holds
// and sets |*object| to null. A null or invalid handle is left alone (but the
// caller's handle is still set to null).
void Q_DestroyAlgorithmObject(Q_ALGORITHM_OBJ* object);
// Q_SetAlgorithmInfo gives the object its one algorithm info, copying |info|,
// and creates the algorithm's handler. 516 invalid object; 531 for a key info
// type; 512 when info is already set.
int Q_SetAlgorithmInfo(Q_ALGORITHM_OBJ object, Q_INFO_TYPE infoType, const void* info);
// Q_GetAlgorithmInfo stores in |*info| the object's algorithm info in the
// form of |infoType|, building and caching it when needed. The info is owned
// by the object. 516; 531; 515 when no info is set; 541 when that form cannot
// be given.
int Q_GetAlgorithmInfo(void** info, Q_ALGORITHM_OBJ object, Q_INFO_TYPE infoType);

// Q_CreateKeyObject makes an empty key object; destroy it with
// Q_DestroyKeyObject. 518 when allocation fails.
int Q_CreateKeyObject(Q_KEY_OBJ* key);
// Q_DestroyKeyObject wipes and frees the key object and sets |*key| to null.
// 530 for an invalid non-null handle (nothing is released); 0 otherwise.
int Q_DestroyKeyObject(Q_KEY_OBJ* key);
// Q_SetKeyInfo gives the key object its one key, copied from |info| in the
// form of |infoType|. 530 invalid or null object; 517 for an algorithm info
// type; 526 when the object already holds a key.
int Q_SetKeyInfo(Q_KEY_OBJ key, Q_INFO_TYPE infoType, const void* info);
// Q_GetKeyInfo stores in |*info| the key in the form of |infoType|, building
// it from another form when needed and caching the result (asking twice gives
// the same pointer). The info is owned by the key object. 530; 517; 529 when
// the object holds no key; 542 when the form cannot be built.
int Q_GetKeyInfo(void** info, Q_KEY_OBJ key, Q_INFO_TYPE infoType);

// ---------------------------------------------------------------------------
// Operation families. After the argument checks (516 invalid algorithm
// object, 539 invalid random object, 530 invalid key object), each checks the
// object's handler: 515 when no algorithm info is set, 517 when it belongs to
// another family, 514 (538 for random) before a successful Init.

// Random generation; the random object is an algorithm object set with
// QA_MD5Random.
int Q_RandomInit(Q_ALGORITHM_OBJ random, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender);
int Q_RandomUpdate(Q_ALGORITHM_OBJ random, const unsigned char* seed, uint32_t seedLen,
                   Q_SURRENDER_CTX* surrender);
int Q_RandomGenerate(Q_ALGORITHM_OBJ random, unsigned char* output, uint32_t outputLen,
                     Q_SURRENDER_CTX* surrender);

// Key-pair generation into two empty key objects.
int Q_GenerateInit(Q_ALGORITHM_OBJ object, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender);
int Q_GenerateKeypair(Q_ALGORITHM_OBJ object, Q_KEY_OBJ publicKey, Q_KEY_OBJ privateKey,
                      Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender);

// Message digests. Final writes the digest (536 when |outputMax| is too small)
// and restarts, so the next Update begins a new message.
int Q_DigestInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender);
int Q_DigestUpdate(Q_ALGORITHM_OBJ object, const unsigned char* data, uint32_t dataLen,
                   Q_SURRENDER_CTX* surrender);
int Q_DigestFinal(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                  Q_SURRENDER_CTX* surrender);

// Encryption and decryption.
int Q_EncryptInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender);
int Q_EncryptUpdate(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                    const unsigned char* input, uint32_t inputLen, Q_ALGORITHM_OBJ random,
                    Q_SURRENDER_CTX* surrender);
int Q_EncryptFinal(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                   Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender);
int Q_DecryptInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender);
int Q_DecryptUpdate(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                    const unsigned char* input, uint32_t inputLen, Q_ALGORITHM_OBJ random,
                    Q_SURRENDER_CTX* surrender);
int Q_DecryptFinal(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                   Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender);

// Signing and verification. VerifyFinal answers 0 for a good signature and
// 540 for a bad one.
int Q_SignInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender);
int Q_SignUpdate(Q_ALGORITHM_OBJ object, const unsigned char* data, uint32_t dataLen,
                 Q_SURRENDER_CTX* surrender);
int Q_SignFinal(Q_ALGORITHM_OBJ object, unsigned char* signature, uint32_t* signatureLen, uint32_t signatureMax,
                Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender);
int Q_VerifyInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender);
int Q_VerifyUpdate(Q_ALGORITHM_OBJ object, const unsigned char* data, uint32_t dataLen,
                   Q_SURRENDER_CTX* surrender);
int Q_VerifyFinal(Q_ALGORITHM_OBJ object, const unsigned char* signature, uint32_t signatureLen,
                  Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender);

// ---------------------------------------------------------------------------
// Key derivation.

// Q_PBKDF2 derives |outputLen| bytes into |output| with PBKDF2 (RFC 8018,
// 5.2), the PRF being the HMAC info type |prf| whose method |chooser| holds.
// The password and salt are read, not kept. 517 when |prf| is no HMAC info
// type; 524 for a null password or salt with a length; 550 for a zero
// iteration count; 536 for no output; 545 when the chooser lacks the method;
// 519 when stopped (the surrender callback is asked every 4096 iterations).
// On failure the output is wiped.
int Q_PBKDF2(Q_INFO_TYPE prf, Q_CHOOSER chooser, const unsigned char* password, uint32_t passwordLen,
             const unsigned char* salt, uint32_t saltLen, uint32_t iterationCount, unsigned char* output,
             uint32_t outputLen, Q_SURRENDER_CTX* surrender);

#ifdef __cplusplus
}
#endif

#endif
