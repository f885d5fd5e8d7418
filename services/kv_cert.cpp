// Certificates as DER byte strings: the certificate file, single items of a
// certificate, signature verification, and the first, in-memory way of
// issuing certificates (common-name-only names, md5WithRSAEncryption).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_cert";

// The common name attribute type, 2.5.4.3.
const unsigned char kCommonNameOid[] = {0x55, 0x04, 0x03};
// Longest issuer or subject text of the first create interface.
constexpr size_t kMaxNameText = 255;
constexpr size_t kMinSubjectText = 4;
// Room for the issuer's public key in errKVCertX509VerifyWithCert.
constexpr int kIssuerKeyRoom = 1000;

// Destroys a certificate object on every exit.
struct CertObject {
  C_CERT_OBJ object = nullptr;
  ~CertObject() { C_DestroyCertObject(&object); }
};

size_t TextLength(const char* text, size_t max) { return text == nullptr ? 0 : strnlen(text, max + 1); }

void DestroyCreated(Q_KEY_OBJ* key, Q_ALGORITHM_OBJ* random, C_CERT_OBJ* certificate) {
  if (*key != nullptr) Q_DestroyKeyObject(key);
  if (*random != nullptr) Q_DestroyAlgorithmObject(random);
  C_DestroyCertObject(certificate);
}

}  // namespace

void iKVSerialNumber(int64_t issueTime, const unsigned char* publicKey, uint32_t publicKeyLength, char out[17]) {
  uint32_t keyBytes = 0;
  for (uint32_t i = 0; i < 4 && i < publicKeyLength && publicKey != nullptr; ++i) {
    keyBytes |= static_cast<uint32_t>(publicKey[i]) << (8 * i);
  }
  const auto timeBits = static_cast<uint32_t>(static_cast<uint64_t>(issueTime) & 0xFFFFFFFFu);
  std::snprintf(out, 17, "%08lX%08lX", static_cast<unsigned long>(timeBits), static_cast<unsigned long>(keyBytes));
}

int errKVCertReadFromFile(const char* path, int* length, unsigned char** buffer) {
  return errKVCertReadFromFileCounted(path, length, buffer, nullptr);
}

int errKVCertReadFromFileCounted(const char* path, int* length, unsigned char** buffer, int* skipped) {
  KV_TRACE("errKVCertReadFromFile(): ENTER");
  if (skipped != nullptr) *skipped = 0;
  if (length == nullptr || buffer == nullptr) {
    KV_TRACE("errKVCertReadFromFile(): Error: no place for the certificate");
    return KV_CERT_BAD_LENGTH;
  }
  // Only a regular file is read: a pipe or device in its place would stall.
  kvplatform::FileCloser in(kvplatform::OpenStreamForReading(path));
  if (in.file == nullptr) {
    KV_TRACE("errKVCertReadFromFile(): Error: File not found");
    return KV_CERT_FILE_NOT_FOUND;
  }
  // Count the bytes by reading to the end, giving up past the size limit so
  // that nothing is allocated for a file no certificate comes near.
  long count = 0;
  unsigned char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in.file)) > 0;) {
    count += static_cast<long>(n);
    if (count > KV_CERT_MAX_FILE_SIZE) break;
  }
  if (count == 0 || count > KV_CERT_MAX_FILE_SIZE || std::ferror(in.file)) {
    KV_TRACE("errKVCertReadFromFile(): Error: bad file size [%d]", static_cast<int>(count));
    return KV_CERT_BAD_CERTIFICATE;
  }
  auto* data = static_cast<unsigned char*>(QMem_Allocate(static_cast<uint32_t>(count)));
  if (data == nullptr) {
    KV_TRACE("errKVCertReadFromFile(): Error: out of memory");
    return KV_CERT_OUT_OF_MEMORY;
  }
  *length = static_cast<int>(count);
  *buffer = data;
  if (std::fseek(in.file, 0, SEEK_SET) != 0 ||
      std::fread(data, 1, static_cast<size_t>(count), in.file) != static_cast<size_t>(count)) {
    KV_TRACE("errKVCertReadFromFile(): Error: short read");
    return KV_CERT_BAD_CERTIFICATE;
  }
  if (iKVCertFromPEM(data, length, skipped) != 0) {
    KV_TRACE("errKVCertReadFromFile(): Error: bad PEM block");
    return KV_CERT_BAD_CERTIFICATE;
  }
  KV_TRACE("errKVCertReadFromFile(): EXIT");
  return 0;
}

void vKVCertFreeCert(unsigned char* buffer) {
  KV_TRACE("vKVCertFreeCert(): ENTER");
  QMem_SecureRelease(buffer);
  KV_TRACE("vKVCertFreeCert(): EXIT");
}

int iGetItemFromCert(int certificateLength, const unsigned char* certificate, int* length, unsigned char* buffer,
                     int item) {
  KV_TRACE("iGetItemFromCert(): ENTER");
  if (certificateLength < 0 || length == nullptr || *length < 0) {
    KV_TRACE("iGetItemFromCert(): Error: bad length");
    return KV_CERT_BAD_LENGTH;
  }
  CertObject cert;
  int status = C_CreateCertObject(&cert.object, nullptr);
  if (status != 0) {
    KV_TRACE("iGetItemFromCert(): Error in C_CreateCertObject [%d]", status);
    return KV_CERT_OUT_OF_MEMORY;
  }
  C_CERT_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  // Items are read from certificates of any issuer: algorithms and name
  // types outside the tables do not stop them.
  if ((status = C_SetCertBERForDisplay(cert.object, certificate, static_cast<uint32_t>(certificateLength))) != 0 ||
      (status = C_GetCertFields(cert.object, &fields)) != 0) {
    KV_TRACE("iGetItemFromCert(): Error reading the certificate [%d]", status);
    return KV_CERT_BAD_CERTIFICATE;
  }
  const int capacity = buffer != nullptr ? *length : 0;
  const unsigned char* data = nullptr;
  uint32_t dataLength = 0;
  bool terminated = true;
  switch (item) {
    case KV_CERT_ITEM_PUBLIC_KEY:
      data = fields.publicKey.data;
      dataLength = fields.publicKey.len;
      terminated = false;
      break;
    case KV_CERT_ITEM_SERIAL_NUMBER:
      data = fields.serialNumber.data;
      dataLength = fields.serialNumber.len;
      break;
    case KV_CERT_ITEM_ISSUER_NAME:
    case KV_CERT_ITEM_SUBJECT_NAME: {
      const unsigned char* oid = nullptr;
      uint32_t oidLength = 0, valueTag = 0, newRDN = 0;
      status = C_GetNameAVA(item == KV_CERT_ITEM_ISSUER_NAME ? fields.issuer : fields.subject, 0, &oid, &oidLength,
                            &valueTag, &data, &dataLength, &newRDN);
      if (status != 0) {
        KV_TRACE("iGetItemFromCert(): Error in C_GetNameAVA [%d]", status);
        return KV_CERT_BAD_CERTIFICATE;
      }
      // A BMPString value holds two octets per character.
      if (valueTag == C_TAG_BMP_STRING) dataLength *= 2;
      break;
    }
    default:
      KV_TRACE("iGetItemFromCert(): EXIT");
      return 0;
  }
  const int needed = static_cast<int>(dataLength) + (terminated ? 1 : 0);
  *length = needed;
  if (capacity < needed) {
    KV_TRACE("iGetItemFromCert(): Error: buffer too small, %d bytes needed", needed);
    return KV_CERT_BUFFER_TOO_SMALL;
  }
  QMem_Copy(buffer, data, dataLength);
  if (terminated) buffer[dataLength] = 0;
  KV_TRACE("iGetItemFromCert(): EXIT");
  return 0;
}

int errKVCertX509GetPublicKey(int certificateLength, const unsigned char* certificate, int* length,
                              unsigned char* buffer) {
  KV_TRACE("errKVCertX509GetPublicKey(): ENTER");
  int status = iGetItemFromCert(certificateLength, certificate, length, buffer, KV_CERT_ITEM_PUBLIC_KEY);
  if (status != 0) KV_TRACE("errKVCertX509GetPublicKey(): Error in iGetItemFromCert [%d]", status);
  KV_TRACE("errKVCertX509GetPublicKey(): EXIT");
  return status;
}

int errKVCertX509GetIssuerName(int certificateLength, const unsigned char* certificate, int* length,
                               unsigned char* buffer) {
  KV_TRACE("errKVCertX509GetIssuerName(): ENTER");
  int status = iGetItemFromCert(certificateLength, certificate, length, buffer, KV_CERT_ITEM_ISSUER_NAME);
  if (status != 0) KV_TRACE("errKVCertX509GetIssuerName(): Error in iGetItemFromCert [%d]", status);
  KV_TRACE("errKVCertX509GetIssuerName(): EXIT");
  return status;
}

int errKVCertX509GetSubjectName(int certificateLength, const unsigned char* certificate, int* length,
                                unsigned char* buffer) {
  KV_TRACE("errKVCertX509GetSubjectName(): ENTER");
  int status = iGetItemFromCert(certificateLength, certificate, length, buffer, KV_CERT_ITEM_SUBJECT_NAME);
  if (status != 0) KV_TRACE("errKVCertX509GetSubjectName(): Error in iGetItemFromCert [%d]", status);
  KV_TRACE("errKVCertX509GetSubjectName(): EXIT");
  return status;
}

int errKVCertX509GetSerialNumber(int certificateLength, const unsigned char* certificate, int* length,
                                 unsigned char* buffer) {
  KV_TRACE("errKVCertX509GetSerialNumber(): ENTER");
  int status = iGetItemFromCert(certificateLength, certificate, length, buffer, KV_CERT_ITEM_SERIAL_NUMBER);
  if (status != 0) KV_TRACE("errKVCertX509GetSerialNumber(): Error in iGetItemFromCert [%d]", status);
  KV_TRACE("errKVCertX509GetSerialNumber(): EXIT");
  return status;
}

int errKVCertX509GetExtension(int, const unsigned char*, int* extensionLength, unsigned char*) {
  KV_TRACE("errKVCertX509GetExtension(): ENTER");
  if (extensionLength != nullptr) *extensionLength = 0;
  KV_TRACE("errKVCertX509GetExtension(): EXIT");
  return 0;
}

int iVerifyCertificate(const unsigned char* certificate, Q_KEY_OBJ publicKey, int certificateLength) {
  KV_TRACE("iVerifyCertificate(): ENTER");
  // A negative length is no data, as length 0 is to the toolkit.
  const uint32_t length = certificateLength > 0 ? static_cast<uint32_t>(certificateLength) : 0;
  CertObject cert;
  int status = C_CreateCertObject(&cert.object, nullptr);
  if (status != 0) {
    KV_TRACE("iVerifyCertificate(): Error in C_CreateCertObject [%d]", status);
    return status;
  }
  // Read as any issuer wrote it; an algorithm that cannot be verified with
  // is then told apart (C_ERR_ALG_UNSUPPORTED) from a bad signature.
  if ((status = C_SetCertBERForDisplay(cert.object, certificate, length)) != 0) {
    KV_TRACE("iVerifyCertificate(): Error in C_SetCertBER [%d]", status);
    return status;
  }
  status = C_VerifyCertSignature(cert.object, publicKey, nullptr);
  if (status == C_ERR_CERT_SIGNATURE) {
    KV_TRACE("iVerifyCertificate(): Signature is not valid.");
    return KV_CERT_VERIFY_FAILED;
  }
  if (status != 0) {
    KV_TRACE("iVerifyCertificate(): Error in C_VerifyCertSignature [%d]", status);
    return status;
  }
  KV_TRACE("iVerifyCertificate(): EXIT");
  return 0;
}

int errKVCertX509Verify(int publicKeyLength, const unsigned char* publicKey, int certificateLength,
                        const unsigned char* certificate) {
  KV_TRACE("errKVCertX509Verify(): ENTER");
  if (publicKeyLength < 0 || certificateLength < 0) {
    KV_TRACE("errKVCertX509Verify(): Error: bad length");
    return KV_CERT_BAD_LENGTH;
  }
  Q_KEY_OBJ key = nullptr;
  int status = iKeyFromBER(publicKey, publicKeyLength, &key, KV_KEYTYPE_PUBLIC_SPKI);
  // Running out of memory is not a verdict on the key or the certificate.
  if (status != 0) {
    KV_TRACE("errKVCertX509Verify(): Error in iKeyFromBER [%d]", status);
    status = status == KV_KEY_OUT_OF_MEMORY ? KV_CERT_OUT_OF_MEMORY : KV_CERT_BAD_CA_PUBLIC_KEY;
  } else if ((status = iVerifyCertificate(certificate, key, certificateLength)) != 0) {
    KV_TRACE("errKVCertX509Verify(): Error in iVerifyCertificate [%d]", status);
    status = status == C_ERR_ALLOC || status == Q_ERR_ALLOC ? KV_CERT_OUT_OF_MEMORY : KV_CERT_VERIFY_FAILED;
  }
  if (key != nullptr) Q_DestroyKeyObject(&key);
  KV_TRACE("errKVCertX509Verify(): EXIT");
  return status;
}

int errKVCertX509VerifyWithCert(int issuerCertificateLength, const unsigned char* issuerCertificate,
                                int certificateLength, const unsigned char* certificate) {
  KV_TRACE("errKVCertX509VerifyWithCert(): ENTER");
  if (issuerCertificateLength < 0 || certificateLength < 0) {
    KV_TRACE("errKVCertX509VerifyWithCert(): Error: bad length");
    return KV_CERT_BAD_LENGTH;
  }
  unsigned char key[kIssuerKeyRoom];
  int keyLength = kIssuerKeyRoom;
  int status = iGetItemFromCert(issuerCertificateLength, issuerCertificate, &keyLength, key, KV_CERT_ITEM_PUBLIC_KEY);
  if (status != 0) {
    KV_TRACE("errKVCertX509VerifyWithCert(): Error in iGetItemFromCert [%d]", status);
    status = KV_CERT_BAD_CA_PUBLIC_KEY;
  } else {
    status = errKVCertX509Verify(keyLength, key, certificateLength, certificate);
  }
  KV_TRACE("errKVCertX509VerifyWithCert(): EXIT");
  return status;
}

int iCreateCertificate(int privateKeyLength, const unsigned char* privateKey, const char* issuer,
                       int publicKeyLength, const unsigned char* publicKey, const char* subject, int,
                       const unsigned char*, int* certificateLength, unsigned char** certificate, Q_KEY_OBJ* key,
                       Q_ALGORITHM_OBJ* random, C_CERT_OBJ* certificateObject) {
  KV_TRACE("iCreateCertificate(): ENTER");
  int status = iKeyFromBER(privateKey, privateKeyLength, key, KV_KEYTYPE_PRIVATE_PKCS8);
  if (status != 0) {
    KV_TRACE("iCreateCertificate(): Error in iKeyFromBER [%d]", status);
    return KV_CERT_BAD_SIGNING_KEY;
  }
  if ((status = iMakeRandomObject(random)) != 0) {
    KV_TRACE("iCreateCertificate(): Error in iMakeRandomObject [%d]", status);
    return KV_CERT_NO_RANDOM_OBJECT;
  }
  C_CERT_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  if ((status = C_CreateCertObject(certificateObject, nullptr)) != 0 ||
      (status = C_GetCertFields(*certificateObject, &fields)) != 0) {
    KV_TRACE("iCreateCertificate(): Error creating the certificate object [%d]", status);
    return KV_CERT_OUT_OF_MEMORY;
  }
  const auto* issuerText = reinterpret_cast<const unsigned char*>(issuer != nullptr ? issuer : "");
  if ((status = C_AddNameAVA(fields.issuer, kCommonNameOid, sizeof kCommonNameOid, C_TAG_PRINTABLE_STRING,
                             issuerText, static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(issuerText))),
                             1, nullptr)) != 0) {
    KV_TRACE("iCreateCertificate(): Error in C_AddNameAVA on the issuer [%d]", status);
    return KV_CERT_BAD_CA_NAME;
  }
  const auto* subjectText = reinterpret_cast<const unsigned char*>(subject != nullptr ? subject : "");
  if ((status = C_AddNameAVA(fields.subject, kCommonNameOid, sizeof kCommonNameOid, C_TAG_PRINTABLE_STRING,
                             subjectText,
                             static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(subjectText))), 1,
                             nullptr)) != 0) {
    KV_TRACE("iCreateCertificate(): Error in C_AddNameAVA on the subject [%d]", status);
    return KV_CERT_BAD_SUBJECT_SET;
  }
  const int64_t now = kvplatform::CalendarSeconds();
  const uint32_t keyLength = publicKeyLength > 0 ? static_cast<uint32_t>(publicKeyLength) : 0;
  char serial[17];
  iKVSerialNumber(now, publicKey, keyLength, serial);
  fields.version = C_CERT_VERSION_3;
  fields.serialNumber = C_ITEM{reinterpret_cast<const unsigned char*>(serial), 16};
  fields.notBefore = now;
  fields.notAfter = now + KV_CERT_VALIDITY_SECONDS;
  fields.signatureAlgorithm = C_SIG_MD5_WITH_RSA;
  fields.publicKey = C_ITEM{publicKey, keyLength};
  if ((status = C_SetCertFields(*certificateObject, &fields)) != 0) {
    KV_TRACE("iCreateCertificate(): Error in C_SetCertFields [%d]", status);
    return KV_CERT_SET_FIELDS_FAILED;
  }
  if ((status = C_SignCert(*certificateObject, *key, *random, nullptr)) != 0) {
    KV_TRACE("iCreateCertificate(): Error in C_SignCert [%d]", status);
    return KV_CERT_SIGN_FAILED;
  }
  const unsigned char* der = nullptr;
  uint32_t derLength = 0;
  if ((status = C_GetCertDER(*certificateObject, &der, &derLength)) != 0) {
    KV_TRACE("iCreateCertificate(): Error in C_GetCertDER [%d]", status);
    return KV_CERT_SET_FIELDS_FAILED;
  }
  auto* copy = static_cast<unsigned char*>(QMem_Duplicate(der, derLength));
  if (copy == nullptr) {
    KV_TRACE("iCreateCertificate(): Error: out of memory");
    return KV_CERT_OUT_OF_MEMORY;
  }
  *certificate = copy;
  *certificateLength = static_cast<int>(derLength);
  KV_TRACE("iCreateCertificate(): EXIT");
  return 0;
}

int errKVCertX509Create(int privateKeyLength, const unsigned char* privateKey, const char* issuer,
                        int publicKeyLength, const unsigned char* publicKey, const char* subject,
                        int extensionLength, const unsigned char* extension, int* certificateLength,
                        unsigned char** certificate) {
  KV_TRACE("errKVCertX509Create(): ENTER");
  if (privateKeyLength <= 0 || publicKeyLength <= 0) {
    KV_TRACE("errKVCertX509Create(): Error: bad key length");
    return KV_CERT_BAD_LENGTH;
  }
  const size_t subjectLength = TextLength(subject, kMaxNameText);
  if (subject == nullptr || subjectLength < kMinSubjectText || subjectLength > kMaxNameText) {
    KV_TRACE("errKVCertX509Create(): Error: bad subject name");
    return KV_CERT_BAD_SUBJECT_NAME;
  }
  if (issuer == nullptr || TextLength(issuer, kMaxNameText) > kMaxNameText) {
    KV_TRACE("errKVCertX509Create(): Error: bad CA name");
    return KV_CERT_BAD_CA_NAME;
  }
  if (extensionLength < 0 || certificateLength == nullptr || certificate == nullptr) {
    KV_TRACE("errKVCertX509Create(): Error: bad extension length");
    return KV_CERT_BAD_LENGTH;
  }
  Q_KEY_OBJ key = nullptr;
  Q_ALGORITHM_OBJ random = nullptr;
  C_CERT_OBJ object = nullptr;
  int status = iCreateCertificate(privateKeyLength, privateKey, issuer, publicKeyLength, publicKey, subject,
                                  extensionLength, extension, certificateLength, certificate, &key, &random, &object);
  if (status != 0) KV_TRACE("errKVCertX509Create(): Error in iCreateCertificate [%d]", status);
  DestroyCreated(&key, &random, &object);
  KV_TRACE("errKVCertX509Create(): EXIT");
  return status;
}

int iGetItemsFromCertReq(int requestLength, const unsigned char* request, int* publicKeyLength,
                         unsigned char** publicKey, char** subject, int* extensionLength) {
  KV_TRACE("iGetItemsFromCertReq(): ENTER");
  if (requestLength <= 0 || request == nullptr) {
    KV_TRACE("iGetItemsFromCertReq(): Error: bad request length");
    return KV_CERT_BAD_LENGTH;
  }
  C_CERT_REQUEST_OBJ object = nullptr;
  int status = C_CreateCertRequestObject(&object);
  if (status != 0) {
    KV_TRACE("iGetItemsFromCertReq(): Error in C_CreateCertRequestObject [%d]", status);
    return KV_CERT_OUT_OF_MEMORY;
  }
  C_CERT_REQUEST_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  const unsigned char* oid = nullptr;
  const unsigned char* value = nullptr;
  uint32_t oidLength = 0, valueTag = 0, valueLength = 0, newRDN = 0;
  if ((status = C_SetCertRequestBER(object, request, static_cast<uint32_t>(requestLength))) != 0 ||
      (status = C_VerifyCertRequestSignature(object, nullptr, nullptr, 0, nullptr)) != 0 ||
      (status = C_GetCertRequestFields(object, &fields)) != 0 ||
      (status = C_GetNameAVA(fields.subject, 0, &oid, &oidLength, &valueTag, &value, &valueLength, &newRDN)) != 0) {
    KV_TRACE("iGetItemsFromCertReq(): Error reading the request [%d]", status);
    C_DestroyCertRequestObject(&object);
    return KV_CERT_BAD_REQUEST;
  }
  if (valueTag == C_TAG_BMP_STRING) valueLength *= 2;
  auto* key = static_cast<unsigned char*>(QMem_Duplicate(fields.publicKey.data, fields.publicKey.len));
  auto* text = static_cast<char*>(QMem_Allocate(valueLength + 1));
  if (key == nullptr || text == nullptr) {
    KV_TRACE("iGetItemsFromCertReq(): Error: out of memory");
    QMem_SecureRelease(key);
    QMem_SecureRelease(text);
    C_DestroyCertRequestObject(&object);
    return KV_CERT_OUT_OF_MEMORY;
  }
  QMem_Copy(text, value, valueLength);
  text[valueLength] = 0;
  *publicKey = key;
  *publicKeyLength = static_cast<int>(fields.publicKey.len);
  *subject = text;
  *extensionLength = 0;
  C_DestroyCertRequestObject(&object);
  KV_TRACE("iGetItemsFromCertReq(): EXIT");
  return 0;
}

int errKVCertX509CreateFromPKCS10Req(int privateKeyLength, const unsigned char* privateKey, const char* issuer,
                                     int requestLength, const unsigned char* request, int* certificateLength,
                                     unsigned char** certificate) {
  KV_TRACE("errKVCertX509CreateFromPKCS10Req(): ENTER");
  if (privateKeyLength <= 0 || requestLength <= 0 || certificateLength == nullptr || certificate == nullptr) {
    KV_TRACE("errKVCertX509CreateFromPKCS10Req(): Error: bad length");
    return KV_CERT_BAD_LENGTH;
  }
  if (issuer == nullptr || TextLength(issuer, kMaxNameText) > kMaxNameText) {
    KV_TRACE("errKVCertX509CreateFromPKCS10Req(): Error: bad CA name");
    return KV_CERT_BAD_CA_NAME;
  }
  unsigned char* publicKey = nullptr;
  int publicKeyLength = 0;
  char* subject = nullptr;
  int extensionLength = 0;
  int status = iGetItemsFromCertReq(requestLength, request, &publicKeyLength, &publicKey, &subject, &extensionLength);
  Q_KEY_OBJ key = nullptr;
  Q_ALGORITHM_OBJ random = nullptr;
  C_CERT_OBJ object = nullptr;
  if (status != 0) {
    KV_TRACE("errKVCertX509CreateFromPKCS10Req(): Error in iGetItemsFromCertReq [%d]", status);
  } else {
    status = iCreateCertificate(privateKeyLength, privateKey, issuer, publicKeyLength, publicKey, subject,
                                extensionLength, nullptr, certificateLength, certificate, &key, &random, &object);
    if (status != 0) KV_TRACE("errKVCertX509CreateFromPKCS10Req(): Error in iCreateCertificate [%d]", status);
  }
  vKVCertFreeCert(publicKey);
  vKVCertFreeCert(reinterpret_cast<unsigned char*>(subject));
  DestroyCreated(&key, &random, &object);
  KV_TRACE("errKVCertX509CreateFromPKCS10Req(): EXIT");
  return status;
}
