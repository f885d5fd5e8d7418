// The certificate and key services: plain functions between the application
// and the two toolkits. Keys, requests and certificates cross this interface
// as DER byte strings; every function reports an integer status (0 for
// success) and no exception leaves it.
//
// Key buffers are caller-owned with an in/out length: the capacity on entry,
// the length of the encoding on return.
#ifndef KVCATOOL_SERVICES_KVSERVICES_H
#define KVCATOOL_SERVICES_KVSERVICES_H

#include "certkit/certkit.h"
#include "cryptokit/cryptokit.h"

// ---------------------------------------------------------------------------
// Status codes. Toolkit codes (512 and up for the crypto toolkit, 1792 and up
// for the certificate toolkit) are passed through where an operation says so.

// MD5 service.
#define KV_MD5_INTERNAL_ERROR 1      // "Internal Md5 error"
#define KV_MD5_BAD_INPUT_LENGTH 2    // "Bad MD5 Input length"
#define KV_MD5_OUT_OF_MEMORY 3       // "Md5 function out of memory"

// Certificate and request services.
#define KV_CERT_OUT_OF_MEMORY 19001
#define KV_CERT_BAD_KEY_FORMAT 19002
#define KV_CERT_NO_RANDOM_OBJECT 19003
#define KV_CERT_FILE_NOT_FOUND 19004
#define KV_CERT_BAD_LENGTH 19005
#define KV_CERT_BAD_CA_PUBLIC_KEY 19006
#define KV_CERT_VERIFY_FAILED 19007
#define KV_CERT_BAD_SIGNING_KEY 19008
#define KV_CERT_BAD_KEY_TO_SIGN 19009
#define KV_CERT_INTERNAL_ERROR 19010
#define KV_CERT_BAD_CERTIFICATE 19011
#define KV_CERT_BUFFER_TOO_SMALL 19012
#define KV_CERT_BAD_SUBJECT_SET 19013
#define KV_CERT_BAD_REQUEST 19014
#define KV_CERT_SET_FIELDS_FAILED 19015
#define KV_CERT_SIGN_FAILED 19016
#define KV_CERT_BAD_SUBJECT_NAME 19017
#define KV_CERT_BAD_CA_NAME 19018
#define KV_CERT_NO_KVI_EXTENSION 19019
#define KV_REQ_SET_FIELDS_FAILED 19020
#define KV_REQ_SIGN_FAILED 19021

// Encryption family (message table only; no operation returns these).
#define KV_ENC_BAD_TYPE 19201
#define KV_ENC_OUT_OF_MEMORY 19202
#define KV_ENC_ENCRYPT_ERROR 19203
#define KV_ENC_DECRYPT_ERROR 19204
#define KV_ENC_BAD_BLOCK_LENGTH 19205
#define KV_ENC_BAD_KEY_LENGTH 19206
#define KV_ENC_INTEGRITY 19207
#define KV_ENC_BAD_RSA_DER 19208
#define KV_ENC_BAD_INPUT_LENGTH 19209
#define KV_ENC_BAD_OUTPUT_LENGTH 19210

// Key files (no message-table rows: they read as "Unknown error").
#define KV_KEYFILE_DATA_TOO_LONG 19301   // more than 4096 bytes given to the writer
#define KV_KEYFILE_CANNOT_APPEND 19302   // file cannot be opened for appending, or the write failed
#define KV_KEYFILE_CANNOT_READ 19303     // file cannot be opened for reading
#define KV_KEYFILE_BAD_RECORD 19304      // missing/bad header, record too long, data cut short
#define KV_KEYFILE_TAG_NOT_FOUND 19305   // no record of the wanted tag
#define KV_KEYFILE_CANNOT_REPLACE 19306  // the new file could not be written whole or put in place

// Random numbers.
#define KV_RANDOM_BAD_LENGTH 19401       // "Bad buffer length"
#define KV_RANDOM_INTERNAL_ERROR 19402   // "Internal random number error"

// RSA keys and key encodings.
#define KV_KEY_BAD_SIZE 19501            // "Bad input key size"
#define KV_KEY_INVALID_DATA 19502        // "Invalid key data"
#define KV_KEY_OUT_OF_MEMORY 19503       // "RSA key function out of memory"
#define KV_KEY_INTERNAL_ERROR 19504      // "Internal RSA key error"
#define KV_KEY_BAD_TYPE 19505            // "Invalid key type parameter"
#define KV_KEY_BUFFER_TOO_SMALL 19506    // "Allocate more memory for key data"

// Key type codes.
#define KV_KEYTYPE_PRIVATE_PKCS8 101     // DER PKCS #8 PrivateKeyInfo
#define KV_KEYTYPE_PUBLIC_SPKI 102       // DER SubjectPublicKeyInfo

// Key-file record tags.
#define KV_KEYFILE_TAG_PUBLIC 1
#define KV_KEYFILE_TAG_ENCRYPTED_PRIVATE 2
// Largest record data a key file holds, and the size of key buffers.
#define KV_KEYFILE_MAX_DATA 4096

// Password-encryption directions.
#define KV_PBE_ENCRYPT 1
#define KV_PBE_DECRYPT 2

// ---------------------------------------------------------------------------
// Messages (kv_crypto_err).

// The constant text for |code|; "Unknown error" when the table has no row.
const char* pszKVCryptoMsgToString(int code);

// ---------------------------------------------------------------------------
// MD5 (kv_md5).

// The MD5 digest of |length| bytes at |data| into the 16 bytes at |digest|.
// 0, 1, 2 (negative length) or 3.
int errKVMD5(int length, const unsigned char* data, unsigned char* digest);

// ---------------------------------------------------------------------------
// Random seeding and random numbers (kv_randseed).

// Size of the seed pool gathered once a process.
#define KV_SEED_POOL_SIZE 500

// A new random object seeded from the process seed, which is then advanced.
// The object left in |*random| (possibly null) is the caller's to destroy
// with Q_DestroyAlgorithmObject, also after a failure. Returns 0 or the
// failing toolkit call's code.
int iMakeRandomObject(Q_ALGORITHM_OBJ* random);
// The module's seed buffer and seed length (16), gathering the seed first
// when there is none. Always 0. The caller must not free the buffer.
int iGetSeed(unsigned char** seed, int* seedLength);
// Advances the seed: seed = MD5(seed || MD5(bytes)). Returns errKVMD5's code.
int iUpdateSeed(const unsigned char* bytes, int length);
// Gathers the pool and sets the seed to its MD5 digest.
void iGenerateRandomSeed();
// Appends the system values to |pool| (room for KV_SEED_POOL_SIZE bytes),
// advancing |*fill|; values that do not fit are cut.
void GetWindowsStuff(unsigned char* pool, int* fill);
// |length| (0 to 100000) random bytes into |buffer|. 0, 19401 or 19402.
int errKVRandomGetNumber(int length, unsigned char* buffer);

// ---------------------------------------------------------------------------
// RSA keys (kv_rsakey, certgeneric).

// Generates a key pair with a modulus of |modulusBytes| (32 to 256) bytes and
// public exponent 65537: the public key as type 102 into |publicKey|, the
// private key as type 101 into |privateKey|. 0, 19501, 19503 or 19504 (a
// buffer that is too small gives 19504 with the needed length stored).
int errKVKeyGen(int modulusBytes, unsigned char* publicKey, int* publicLength, unsigned char* privateKey,
                int* privateLength);
// Destroys each of the four objects that is not null, in this order, and
// sets the handles to null.
void KVKeyGenFREE(Q_ALGORITHM_OBJ* keyGen, Q_ALGORITHM_OBJ* random, Q_KEY_OBJ* publicKey, Q_KEY_OBJ* privateKey);
// A key object holding the key of |type| (101 or 102) from |length| DER
// bytes. 0, 19502, 19503 or 19505. The object left in |*key| is the caller's,
// also after a failure.
int iKeyFromBER(const unsigned char* der, int length, Q_KEY_OBJ* key, int type);
// The key's DER encoding of |type| into |buffer|, whose capacity is
// |*length|; |*length| receives the encoding's length. 0, 19504, 19505 or
// 19506 (nothing copied).
int iKeyToBER(unsigned char* buffer, int* length, Q_KEY_OBJ key, int type);
// The modulus of a DER public or private key; a null |modulus| asks for the
// length only. 0, 19501, 19502 or 19503.
int errKVRSADERKeyGetModulus(int keyLength, const unsigned char* key, int* modulusLength, unsigned char* modulus);
// The exponent (public for a public key, private for a private key).
int errKVRSADERKeyGetExponent(int keyLength, const unsigned char* key, int* exponentLength,
                              unsigned char* exponent);

// ---------------------------------------------------------------------------
// Password-based encryption (kv_rsakey).

// PKCS #5 v1.5 pbeWithSHA1AndDES-CBC with the fixed salt and 5 iterations.
// Direction 1 encrypts (|output| holds *inputLength + 8 bytes), 2 decrypts
// (|output| holds *inputLength bytes); any other direction writes nothing.
// Returns 0 or the crypto toolkit's code (524 for a failed padding check).
int errKVPKCS5PBEncDnc(const int* inputLength, const unsigned char* input, int* outputLength,
                       unsigned char* output, int passwordLength, const unsigned char* password, int direction);

// ---------------------------------------------------------------------------
// PBES2 (kv_pbes2): PBKDF2-HMAC-SHA256 with a fresh random 16-byte salt,
// AES-256-CBC with a fresh random IV.

// Iterations of the modern key files and the encrypted exports.
#define KV_PBES2_ITERATIONS 600000u
// Largest plaintext the PBES2 functions take.
#define KV_PBES2_MAX_INPUT (1 << 20)
// Encrypts |input|: the scheme's DER AlgorithmIdentifier goes to |algorithm|
// (capacity in *algorithmLength, 256 bytes are enough), the ciphertext to
// |output| (capacity in *outputLength, at least inputLength + 16 rounded
// down to a block). Lengths out. 0, the random service's code, or the
// toolkit's code (552/550 for bad parameters, 536 for a short buffer).
int errKVPBES2Encrypt(int inputLength, const unsigned char* input, int passwordLength, const unsigned char* password,
                      uint32_t iterations, unsigned char* algorithm, int* algorithmLength, unsigned char* output,
                      int* outputLength);
// Decrypts |input| under the DER AlgorithmIdentifier |algorithm|, read
// strictly: 541 for another scheme, 550 for an iteration count of 0 or above
// 10,000,000, 551 an unknown PRF, 552 an unknown cipher, 553 bad lengths,
// 524 for anything else malformed and for bad padding. |output| holds
// inputLength bytes; it is wiped on failure.
int errKVPBES2Decrypt(int algorithmLength, const unsigned char* algorithm, int inputLength,
                      const unsigned char* input, int passwordLength, const unsigned char* password,
                      unsigned char* output, int* outputLength);
// A DER PKCS #8 EncryptedPrivateKeyInfo of the PrivateKeyInfo |key| under
// PBES2 with |iterations|. Codes as errKVPBES2Encrypt.
int errKVPKCS8EncryptPBES2(int keyLength, const unsigned char* key, int passwordLength,
                           const unsigned char* password, uint32_t iterations, unsigned char* output,
                           int* outputLength);
// The PrivateKeyInfo inside a DER EncryptedPrivateKeyInfo (PBES2 only).
// |output| holds inputLength bytes. A decryption that yields no private key
// whose components belong together is a wrong password (524), never a
// success. Otherwise codes as errKVPBES2Decrypt.
int errKVPKCS8DecryptPBES2(int inputLength, const unsigned char* input, int passwordLength,
                           const unsigned char* password, unsigned char* output, int* outputLength);
// 0 when the DER PrivateKeyInfo is an RSA key the private operation accepts
// (p*q = n and the CRT parts agree); otherwise the failing code.
int iCheckPrivateKey(const unsigned char* der, int length);

// ---------------------------------------------------------------------------
// Key files (kv_keyfile).
//
// Record tags: 1 the public key (SubjectPublicKeyInfo), 2 the classic
// private key (PKCS #8 PrivateKeyInfo under pbeWithSHA1AndDES-CBC, fixed salt,
// 5 iterations), 3 the modern private key (a DER EncryptedPrivateKeyInfo
// under PBES2, PBKDF2-HMAC-SHA256 with 600,000 iterations, AES-256-CBC).
#define KV_KEYFILE_TAG_MODERN_PRIVATE 3

int iAddKeyToEndOfKeyFile(const char* path, int tag, const unsigned char* data, int length);
int iGetKeyFromKeyFile(const char* path, int tag, unsigned char* buffer, int* length);
// Append a tag 2 (encrypted private key) or tag 1 (public key) record. A key
// file made here gets mode 0600 whatever the umask. 0, 19301 or 19302.
int errKVKeyFileAddPrivateKeyToEnd(const char* path, const unsigned char* data, int length);
int errKVKeyFileAddPublicKeyToEnd(const char* path, const unsigned char* data, int length);
// The data of the first tag 2 or tag 1 record into a 4096-byte buffer.
// 0 or 19303 to 19305 (19303 also when the path names no regular file: a
// pipe or device is never waited on).
int errKVKeyFileGetPrivateKey(const char* path, unsigned char* buffer, int* length);
int errKVKeyFileGetPublicKey(const char* path, unsigned char* buffer, int* length);
// The decrypted private key (type 101) of the key file. |buffer| holds the
// record's length (4096 bytes are always enough). 0, a key-file code, or the
// decryption's toolkit code (524 for a wrong password).
// A modern private key (tag 3) record is read when the file has no tag 2.
int errKVKeyFileGetPrivateKeyEx(const char* path, unsigned char* buffer, int* length, const char* password);
// 1 when the key file's private key is a modern (tag 3) record, 0 when it is
// classic or the file has none.
int iKeyFileIsModern(const char* path);
// Makes the new modern key file |path|: the private key |privateKey| (a DER
// PrivateKeyInfo) encrypted under |password|, then the public key. The file
// is written whole under a temporary name beside it (mode 0600) and only
// then linked in place, so no partial key file is ever seen and an existing
// file is never replaced. 0, 19301 (a record over 4096 bytes), 19302 (the
// file exists or cannot be written), or the encryption's code.
int errKVKeyFileWriteModern(const char* path, const unsigned char* privateKey, int privateLength,
                            const char* password, const unsigned char* publicKey, int publicLength);
// Re-encrypts the key file's private key under |newPassword|, in the file's
// own form, or in the modern form when |upgrade| is 1. The new file is
// written whole under a temporary name and renamed over the old one, so a
// failure leaves the old file as it was. 0, the reading codes of
// errKVKeyFileGetPrivateKeyEx (524 for a wrong |oldPassword|), 19301, or
// 19306 when the new file could not be written or put in place.
int errKVKeyFileChangePassword(const char* path, const char* oldPassword, const char* newPassword, int upgrade);
// 1 when the path names a regular file that can be opened for reading, else 0.
int iFileExists(const char* path);

// ---------------------------------------------------------------------------
// Certificates (kv_cert).
//
// Certificate buffers are allocated by the services through the crypto
// toolkit's memory hooks; the caller releases them with vKVCertFreeCert
// (certificates) or vKVCertReqFreeReq (requests), which wipe them first.

// The names of a subject or issuer, passed by value: the country (two
// letters and a terminator), the organization and the common name, each a
// zero-terminated text.
struct CertNameFields {
  char country[3];
  char organization[512];
  char commonName[512];
};

// Items of a certificate for iGetItemFromCert.
#define KV_CERT_ITEM_ISSUER_NAME 9     // issuer's first attribute value + zero byte
#define KV_CERT_ITEM_PUBLIC_KEY 10     // DER SubjectPublicKeyInfo (key type 102)
#define KV_CERT_ITEM_SUBJECT_NAME 12   // subject's first attribute value + zero byte
#define KV_CERT_ITEM_SERIAL_NUMBER 13  // serial number octets + zero byte

// Validity of every certificate issued here: 7300 days.
#define KV_CERT_VALIDITY_SECONDS 630720000u
// Largest certificate file read (larger ones are refused with 19011).
#define KV_CERT_MAX_FILE_SIZE (1024 * 1024)

// Reads a whole certificate file into a new buffer. 0; 19004 when the file
// cannot be opened or is no regular file (a pipe or device is never waited
// on); 19011 when it is empty, larger than 1 MiB or cannot be
// read in full (after a short read the buffer has been handed out and the
// caller releases it); 19001; 19005 for null out-arguments.
int errKVCertReadFromFile(const char* path, int* length, unsigned char** buffer);
// As errKVCertReadFromFile, and with |skipped| not null it receives the
// number of PEM certificate blocks after the first one, which were left
// unread (0 for DER).
int errKVCertReadFromFileCounted(const char* path, int* length, unsigned char** buffer, int* skipped);
// Turns a certificate file held in |buffer| (|*length| bytes) into DER in
// place: a file with "-----BEGIN CERTIFICATE-----" gives the base64 content
// of its first block, and |*length| becomes the DER length (the rest of the
// buffer is wiped); any other file is left as it is, taken to be DER.
// |*skipped| (when not null) counts the later blocks. 0; 19011 for a block
// without its end line or with text that is not base64.
int iKVCertFromPEM(unsigned char* buffer, int* length, int* skipped);
// As iKVCertFromPEM for the first block labelled |label| ("X509 CRL"; at
// most 64 characters): "-----BEGIN <label>-----" to "-----END <label>-----".
int iKVFromPEM(unsigned char* buffer, int* length, const char* label, int* skipped);
// Releases a certificate buffer of this module; null is ignored.
void vKVCertFreeCert(unsigned char* buffer);
// One item of the certificate |certificate| (|certificateLength| bytes) into
// |buffer|, whose capacity is |*length|; |*length| receives the item's
// length (terminator included for the names and the serial number).
// 0, 19001, 19005, 19011 or 19012 (buffer too small, nothing copied). An
// item code outside the table returns 0 and touches nothing.
int iGetItemFromCert(int certificateLength, const unsigned char* certificate, int* length, unsigned char* buffer,
                     int item);
int errKVCertX509GetPublicKey(int certificateLength, const unsigned char* certificate, int* length,
                              unsigned char* buffer);
int errKVCertX509GetIssuerName(int certificateLength, const unsigned char* certificate, int* length,
                               unsigned char* buffer);
int errKVCertX509GetSubjectName(int certificateLength, const unsigned char* certificate, int* length,
                                unsigned char* buffer);
int errKVCertX509GetSerialNumber(int certificateLength, const unsigned char* certificate, int* length,
                                 unsigned char* buffer);
// No extension is read: sets |*extensionLength| to 0 and returns 0.
int errKVCertX509GetExtension(int certificateLength, const unsigned char* certificate, int* extensionLength,
                              unsigned char* extension);
// Checks the signature of |certificate| with |publicKey|. 0; 19007 for a bad
// signature; a certificate toolkit code for any other failure (1852 for a
// critical extension nothing handles, 1797 for no data).
int iVerifyCertificate(const unsigned char* certificate, Q_KEY_OBJ publicKey, int certificateLength);
// As iVerifyCertificate with a DER public key (type 102). 0, 19005, 19006
// or 19007; 19001 when memory runs out.
int errKVCertX509Verify(int publicKeyLength, const unsigned char* publicKey, int certificateLength,
                        const unsigned char* certificate);
// As errKVCertX509Verify with the public key of the issuer's certificate.
int errKVCertX509VerifyWithCert(int issuerCertificateLength, const unsigned char* issuerCertificate,
                                int certificateLength, const unsigned char* certificate);
// The working steps of the two create operations below; the key, random and
// certificate objects made are left to the caller, who destroys those that
// exist.
int iCreateCertificate(int privateKeyLength, const unsigned char* privateKey, const char* issuer,
                       int publicKeyLength, const unsigned char* publicKey, const char* subject, int extensionLength,
                       const unsigned char* extension, int* certificateLength, unsigned char** certificate,
                       Q_KEY_OBJ* key, Q_ALGORITHM_OBJ* random, C_CERT_OBJ* certificateObject);
// A certificate with common-name-only names (PrintableString), signed with
// md5WithRSAEncryption, into a new buffer. 0 or a code of the service layer.
int errKVCertX509Create(int privateKeyLength, const unsigned char* privateKey, const char* issuer,
                        int publicKeyLength, const unsigned char* publicKey, const char* subject,
                        int extensionLength, const unsigned char* extension, int* certificateLength,
                        unsigned char** certificate);
// The public key, the subject's first attribute value (zero-terminated, in
// a new block) and the extension length (0) of a DER request whose
// signature verifies. 0, 19001, 19005 or 19014. The caller releases the
// two blocks with vKVCertFreeCert.
int iGetItemsFromCertReq(int requestLength, const unsigned char* request, int* publicKeyLength,
                         unsigned char** publicKey, char** subject, int* extensionLength);
// A certificate for a PKCS #10 request, as errKVCertX509Create.
int errKVCertX509CreateFromPKCS10Req(int privateKeyLength, const unsigned char* privateKey, const char* issuer,
                                     int requestLength, const unsigned char* request, int* certificateLength,
                                     unsigned char** certificate);

// ---------------------------------------------------------------------------
// Certificate requests and issuing (certgeneric).

// Adds the country (PrintableString, always two octets), the organization
// (T61String) and, when not empty, the common name (T61String) to |name|,
// one attribute per RDN. 0 or the certificate toolkit's code.
int errKVMakeNameObject(C_NAME_OBJ name, CertNameFields fields);
// A PKCS #10 request for |subject| and the public key, signed with
// sha1WithRSAEncryption by the private key. 0, 19001, 19020, or the code of
// the failing step. The request object in |*requestObject| is the caller's
// whenever it was created (C_DestroyCertRequestObject); the buffer is
// released with vKVCertReqFreeReq. |reserved| is not read.
int errKVGenCertReq(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                    const unsigned char* publicKey, CertNameFields subject, unsigned char** request,
                    int* requestLength, C_CERT_REQUEST_OBJ* requestObject, int reserved);
// Issues the certificate for the request (subject and public key of the
// request, issuer |issuer|, version 3, the serial number and validity of
// kv_cert, sha1WithRSAEncryption) signed by the issuer's private key, hands
// out its DER and writes it to |path|. The file is replaced whole or left
// as it was: on -1 (cannot be opened or written) no partial file remains.
// A null |path| writes no file: the DER is only handed out, for a caller
// that records the certificate before it writes it (errKVWriteFileAtomically).
// 0, -1, 19001, 19003, 19008, 19015, 19016, or a certificate toolkit code.
// The certificate object is the caller's whenever it was created.
int errKVGenCert(const char* path, int privateKeyLength, const unsigned char* privateKey, CertNameFields issuer,
                 int requestLength, const unsigned char* request, C_CERT_OBJ* certificateObject,
                 int* certificateLength, unsigned char** certificate, int reserved);
// Makes |path| hold exactly the |length| bytes of |data|: written to a
// temporary file beside it, flushed to the disk and renamed over it, so an
// existing file is replaced whole or left as it was and no partial file
// remains. 0; 1 when the file cannot be made (or a bad argument); 2 when it
// cannot be written.
int errKVWriteFileAtomically(const char* path, const unsigned char* data, int length);
// The working steps of errKVCertReqPKCS10Create; the objects made are left
// to the caller.
int iGenerateCertRequestStructure(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                                  const unsigned char* publicKey, const char* subject, int extensionLength,
                                  const unsigned char* extension, int* requestLength, unsigned char** request,
                                  Q_KEY_OBJ* key, C_CERT_REQUEST_OBJ* requestObject, Q_ALGORITHM_OBJ* random);
// A request with a common-name-only subject (PrintableString), signed with
// md5WithRSAEncryption. 0 or a code of the service layer.
int errKVCertReqPKCS10Create(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                             const unsigned char* publicKey, const char* subject, int extensionLength,
                             const unsigned char* extension, int* requestLength, unsigned char** request);
// Checks a DER request's signature with its own key. 0, 19001, 19005 or
// 19014.
int errKVCertReqPKCS10Verify(int requestLength, const unsigned char* request);
// Releases a request buffer; null is ignored.
void vKVCertReqFreeReq(unsigned char* buffer);

// ---------------------------------------------------------------------------
// The modern certificate profile (kv_profile).
//
// Beside the classic profile above, which stays as it is: version 3
// certificates signed with sha256WithRSAEncryption, keys of 2048, 3072 or
// 4096 bits, serial numbers of 16 random octets, UTF8String organization and
// common name, and the extensions a TLS client expects. A root's profile is
// read from the root certificate itself.

#define KV_PROFILE_CLASSIC 0
#define KV_PROFILE_MODERN 1

// Server certificate validity: 825 days unless chosen, 1 to 7300.
#define KV_MODERN_DEFAULT_DAYS 825
#define KV_MODERN_MAX_DAYS 7300
// Root validity: the classic 7300 days.
#define KV_MODERN_ROOT_DAYS 7300
// Most names a server certificate's subjectAltName holds.
#define KV_MODERN_MAX_NAMES 32

#define KV_CERT_BAD_SERVER_NAME 19022    // a name that is no DNS name or IP address
#define KV_CERT_BAD_DAYS 19023           // validity outside 1 to 7300 days
#define KV_CERT_TOO_MANY_NAMES 19024     // more than KV_MODERN_MAX_NAMES names
#define KV_CERT_BAD_EXTENSION 19025      // an extension could not be built or added

// Findings of errKVModernCheck, as bits.
#define KV_CHECK_NOT_YET_VALID 0x01u   // now is before the leaf's notBefore
#define KV_CHECK_EXPIRED 0x02u         // now is after the leaf's notAfter
#define KV_CHECK_ROOT_NO_CERT_SIGN 0x04u  // the root's keyUsage lacks keyCertSign
#define KV_CHECK_AKI_MISMATCH 0x08u    // the leaf's authorityKeyIdentifier is not the root's key id

// KV_PROFILE_MODERN when the DER certificate has basicConstraints with cA
// TRUE and a SHA-2 signature, else KV_PROFILE_CLASSIC (also for anything
// that cannot be read).
int iKVProfileOfCert(int certificateLength, const unsigned char* certificate);
// 0 when |name| may stand in a subjectAltName: an IPv4 or IPv6 literal, or a
// DNS name of LDH labels (letters, digits, '-' inside) of at most 63
// characters each and 253 in all, the first label optionally "*", the last
// not all digits. Else
// KV_CERT_BAD_SERVER_NAME.
int errKVCheckServerName(const char* name);
// A key pair of |modulusBits| (2048, 3072 or 4096) bits, public exponent
// 65537, generated as FIPS 186-5 asks; buffers as errKVKeyGen. 0, 19501,
// 19503 or 19504.
int errKVModernKeyGen(int modulusBits, unsigned char* publicKey, int* publicLength, unsigned char* privateKey,
                      int* privateLength);
// A PKCS #10 request for |subject| (country PrintableString, organization
// and common name UTF8String) signed with sha256WithRSAEncryption, into a
// new buffer the caller releases with vKVCertReqFreeReq. 0, 19001, 19005,
// 19008, 19020, 19021 or a certificate toolkit code.
int errKVGenModernCertReq(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                          const unsigned char* publicKey, CertNameFields subject, unsigned char** request,
                          int* requestLength);
// What a modern certificate is issued with.
struct KVModernIssue {
  int days;                       // validity in days, 1 to 7300
  int isRoot;                     // 1: self-signed root; 0: server certificate
  const char* const* names;       // server: the host name, then further names
  int nameCount;
  const unsigned char* rootCert;  // server: the issuing root's DER certificate
  int rootCertLength;
};
// Issues the certificate of the modern profile for |request| signed by the
// issuer's private key (the root's own for a root, whose names are then the
// request's subject; else the names of |issuer|) and writes it to |path| as
// errKVGenCert does (replaced whole or left as it was; a null |path| writes
// no file). The DER goes to a
// new buffer the caller releases with vKVCertFreeCert. 0, -1 (file), 19001,
// 19003, 19008, 19014, 19015, 19016, 19022 to 19025, or a toolkit code.
int errKVGenModernCert(const char* path, int privateKeyLength, const unsigned char* privateKey,
                       CertNameFields issuer, int requestLength, const unsigned char* request,
                       const KVModernIssue* issue, int* certificateLength, unsigned char** certificate);
// What a TLS client would refuse in |certificate| under |root| at time
// |now| (seconds since 1970): KV_CHECK_* bits in |*findings|, and the
// leaf's notBefore and notAfter in |validity| (may be null). 0, 19011 (a
// certificate cannot be read) or 19005.
int errKVModernCheck(int rootLength, const unsigned char* root, int certificateLength,
                     const unsigned char* certificate, int64_t now, unsigned* findings, int64_t validity[2]);

// ---------------------------------------------------------------------------
// The issued-certificate register (kv_register): one SQLite database per
// root, beside the root certificate (the root's path with ".db" for its
// extension), mode 0600, write-ahead logging and full synchronisation. It
// records what the root has issued, revocations and the CRL numbers used.

#define KV_REG_CANNOT_OPEN 19701    // the database cannot be opened or made
#define KV_REG_NEWER_SCHEMA 19702   // made by a newer version of the program
#define KV_REG_BUSY 19703           // locked by another process past the timeout
#define KV_REG_WRITE_FAILED 19704   // a write or its commit failed (read-only, full disk)
#define KV_REG_DUPLICATE 19705      // a certificate with that serial number is recorded
#define KV_REG_NOT_FOUND 19706      // no certificate with that serial number
#define KV_REG_DAMAGED 19707        // the file is not a database, or is damaged
#define KV_REG_BAD_ARGUMENT 19708   // a null or malformed argument
#define KV_REG_ALREADY_REVOKED 19709

// The schema version this program writes; older registers are migrated.
#define KV_REG_SCHEMA_VERSION 1

#define KV_REG_STATUS_VALID 0
#define KV_REG_STATUS_REVOKED 1

// One issued certificate. Texts are zero-terminated UTF-8; |serialHex| is
// the serial number's content octets in upper-case hexadecimal, |sha256Hex|
// the SHA-256 of |der| in upper-case hexadecimal, |altNames| the subject
// alternative names separated by newlines (empty when there are none),
// |profile| "classic" or "modern". Times are seconds since 1970, UTC.
// |revokedAt| and |reason| (an RFC 5280 CRLReason code) are read only when
// |status| is KV_REG_STATUS_REVOKED.
typedef struct KV_REGISTER_ENTRY {
  const char* serialHex;
  const char* subject;
  const char* altNames;
  int64_t notBefore;
  int64_t notAfter;
  const char* path;
  const char* sha256Hex;
  const char* profile;
  const unsigned char* der;
  int derLength;
  int status;
  int64_t revokedAt;
  int reason;
  int64_t recordedAt;
} KV_REGISTER_ENTRY;

typedef struct KV_REGISTER KV_REGISTER;

// Opens (creating it when absent, mode 0600) the register of the root
// certificate at |rootCertPath| and brings its schema up to date. On success
// |*reg| is the caller's, to be closed with vKVRegisterClose. 0, 19701,
// 19702, 19703, 19707 or 19708; on failure |*reg| is null.
int errKVRegisterOpen(const char* rootCertPath, KV_REGISTER** reg);
// Closes |*reg| (null is ignored) and sets it to null.
void vKVRegisterClose(KV_REGISTER** reg);
// The database file's path for |rootCertPath| (written, zero-terminated,
// into |out| of |capacity| bytes). 0, or 19708 when it does not fit.
int errKVRegisterPath(const char* rootCertPath, char* out, int capacity);
// How long a command waits for another process's lock before 19703
// (milliseconds; 10000 unless set).
void vKVRegisterSetBusyTimeout(KV_REGISTER* reg, int milliseconds);

// Records |entry| (its status, revokedAt and reason are ignored: a new entry
// is valid), with |entry->recordedAt| as given. 0, 19703, 19704, 19705 when
// the serial number is recorded already (nothing changes), or 19708.
int errKVRegisterAdd(KV_REGISTER* reg, const KV_REGISTER_ENTRY* entry);

// Calls |visit| with each recorded certificate, soonest expiry first: all
// of them, or with |onlyRevoked| the revoked ones, and with |notAfterBefore|
// not below 0 only those whose notAfter is below it. The entry and its texts
// are valid during the call only. A non-zero answer of |visit| stops the
// walk and is returned. 0, 19703, 19707 or 19708.
int errKVRegisterList(KV_REGISTER* reg, int64_t notAfterBefore, int onlyRevoked,
                      int (*visit)(const KV_REGISTER_ENTRY* entry, void* context), void* context);
// Calls |visit| once with the certificate of serial number |serialHex|
// (upper or lower case). 0, 19706, 19703, 19707 or 19708.
int errKVRegisterFind(KV_REGISTER* reg, const char* serialHex,
                      int (*visit)(const KV_REGISTER_ENTRY* entry, void* context), void* context);
// Marks the certificate of |serialHex| revoked at |when| for |reason|
// (0 to 10, not 7). 0, 19703, 19704, 19706, 19708 or 19709.
int errKVRegisterRevoke(KV_REGISTER* reg, const char* serialHex, int reason, int64_t when);
// Counts the valid certificates expired at |now| and those expiring within
// |windowSeconds| after it. 0, 19703, 19707 or 19708.
int errKVRegisterCountExpiry(KV_REGISTER* reg, int64_t now, int64_t windowSeconds, int* expired,
                             int* expiringSoon);
// Records the certificate |der| that the register's root issued, written to
// |path|, under |profile| ("classic" or "modern") at |now|: serial number,
// subject ("CN=..., O=..., C=..."), subject alternative names, dates and
// SHA-256 fingerprint are taken from the certificate. 0, 19011 when |der|
// is not a certificate that can be read, 19001, or the codes of
// errKVRegisterAdd (19705 when its serial number is recorded already).
int errKVRegisterRecordCertificate(KV_REGISTER* reg, const unsigned char* der, int derLength, const char* path,
                                   const char* profile, int64_t now);
// Takes the next CRL number (one more than the last, 1 for the first) and
// records it as issued at |now|. 0, 19703, 19704 or 19708.
int errKVRegisterNextCrlNumber(KV_REGISTER* reg, int64_t now, int64_t* number);

#endif
