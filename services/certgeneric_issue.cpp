// PKCS #10 requests for a subject's key pair and names, and certificates
// issued from them by an issuer's private key and written to a certificate
// file; also the first, common-name-only request interface.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file_write.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "certgeneric";

// Attribute types of the names, and their rows.
const unsigned char kCountryOid[] = {0x55, 0x04, 0x06};
const unsigned char kOrganizationOid[] = {0x55, 0x04, 0x0A};
const unsigned char kCommonNameOid[] = {0x55, 0x04, 0x03};

constexpr size_t kMaxNameText = 255;
constexpr size_t kMinSubjectText = 4;

void DestroyKeyAndRandom(Q_KEY_OBJ* key, Q_ALGORITHM_OBJ* random) {
  if (*key != nullptr) Q_DestroyKeyObject(key);
  if (*random != nullptr) Q_DestroyAlgorithmObject(random);
}

// The mode a file made by fopen(path, "wb") would have: an existing file's
// own mode, else 0666 less the process's umask.
mode_t TargetMode(const char* path) {
  struct stat st;
  if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

int iKVReplaceFileAtomically(const char* path, const unsigned char* data, size_t length) {
  // A device, pipe or directory in the target's place is not a certificate
  // file to replace: renaming over it would swap a device node for a file.
  struct stat existing;
  if (::lstat(path, &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) return 1;
  switch (kvplatform::ReplaceFileAtomically(path, data, length, TargetMode(path))) {
    case kvplatform::ReplaceResult::kWritten: return 0;
    case kvplatform::ReplaceResult::kNotCreated: return 1;
    case kvplatform::ReplaceResult::kNotWritten: break;
  }
  return 2;
}

int errKVWriteFileAtomically(const char* path, const unsigned char* data, int length) {
  if (path == nullptr || path[0] == 0 || data == nullptr || length < 0) return 1;
  return iKVReplaceFileAtomically(path, data, static_cast<size_t>(length));
}

int errKVMakeNameObject(C_NAME_OBJ name, CertNameFields fields) {
  KV_TRACE("errKVMakeNameObject(): ENTER");
  const size_t organizationLength = strnlen(fields.organization, sizeof fields.organization);
  const size_t commonNameLength = strnlen(fields.commonName, sizeof fields.commonName);
  const bool noCommonName = commonNameLength == 0;
  // The country is always its first two octets, whatever they hold.
  int status = C_AddNameAVA(name, kCountryOid, sizeof kCountryOid, C_TAG_PRINTABLE_STRING,
                            reinterpret_cast<const unsigned char*>(fields.country), 2, 1, nullptr);
  if (status != 0) {
    KV_TRACE("Add Country Name failed with error <%d>", status);
    return status;
  }
  status = C_AddNameAVA(name, kOrganizationOid, sizeof kOrganizationOid, C_TAG_T61_STRING,
                        reinterpret_cast<const unsigned char*>(fields.organization),
                        static_cast<uint32_t>(organizationLength), 1, nullptr);
  if (status != 0) {
    KV_TRACE("Add Organization Name failed with error <%d>", status);
    return status;
  }
  if (!noCommonName) {
    status = C_AddNameAVA(name, kCommonNameOid, sizeof kCommonNameOid, C_TAG_T61_STRING,
                          reinterpret_cast<const unsigned char*>(fields.commonName),
                          static_cast<uint32_t>(commonNameLength), 1, nullptr);
    if (status != 0) {
      KV_TRACE("Add Common Name failed with error <%d>", status);
      return status;
    }
  }
  KV_TRACE("errKVMakeNameObject(): EXIT");
  return 0;
}

int errKVGenCertReq(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                    const unsigned char* publicKey, CertNameFields subject, unsigned char** request,
                    int* requestLength, C_CERT_REQUEST_OBJ* requestObject, int) {
  KV_TRACE("errKVGenCertReq(): ENTER");
  if (request == nullptr || requestLength == nullptr || requestObject == nullptr) {
    KV_TRACE("errKVGenCertReq(): Error: no place for the request");
    return KV_CERT_BAD_LENGTH;
  }
  *requestObject = nullptr;
  Q_KEY_OBJ key = nullptr;
  Q_ALGORITHM_OBJ random = nullptr;
  int status = iKeyFromBER(privateKey, privateKeyLength, &key, KV_KEYTYPE_PRIVATE_PKCS8);
  if (status != 0) {
    KV_TRACE("errKVGenCertReq(): iKeyFromBER Failed with Error <%d>", status);
    DestroyKeyAndRandom(&key, &random);
    return status;
  }
  C_CERT_REQUEST_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  if ((status = iMakeRandomObject(&random)) != 0) {
    KV_TRACE("errKVGenCertReq(): Error in iMakeRandomObject [%d]", status);
  } else if ((status = C_CreateCertRequestObject(requestObject)) != 0) {
    KV_TRACE("errKVGenCertReq(): Error in C_CreateCertRequestObject [%d]", status);
  } else if ((status = C_GetCertRequestFields(*requestObject, &fields)) != 0) {
    KV_TRACE("errKVGenCertReq(): Error in C_GetCertRequestFields [%d]", status);
  } else if ((status = errKVMakeNameObject(fields.subject, subject)) != 0) {
    KV_TRACE("errKVGenCertReq(): Error in errKVMakeNameObject [%d]", status);
  } else {
    fields.version = 0;
    // A negative length or a missing key is refused like a key the toolkit
    // does not accept.
    fields.publicKey = C_ITEM{publicKey, publicKeyLength > 0 ? static_cast<uint32_t>(publicKeyLength) : 0};
    if ((status = C_SetCertRequestFields(*requestObject, &fields)) != 0) {
      KV_TRACE("errKVGenCertReq(): Error in C_SetCertRequestFields [%d]", status);
      status = KV_REQ_SET_FIELDS_FAILED;
    } else if ((status = C_SignCertRequest(*requestObject, key, random, C_SIG_SHA1_WITH_RSA, nullptr, nullptr, 0,
                                           nullptr)) != 0) {
      KV_TRACE("errKVGenCertReq(): Error in C_SignCertRequest [%d]", status);
    } else {
      const unsigned char* der = nullptr;
      uint32_t derLength = 0;
      if ((status = C_GetCertRequestDER(*requestObject, &der, &derLength)) != 0) {
        KV_TRACE("errKVGenCertReq(): Error in C_GetCertRequestDER [%d]", status);
      } else {
        *requestLength = static_cast<int>(derLength);
        auto* copy = static_cast<unsigned char*>(QMem_Duplicate(der, derLength));
        if (copy == nullptr) {
          KV_TRACE("errKVGenCertReq(): Error: out of memory");
          status = KV_CERT_OUT_OF_MEMORY;
        } else {
          *request = copy;
        }
      }
    }
  }
  DestroyKeyAndRandom(&key, &random);
  KV_TRACE("errKVGenCertReq(): EXIT");
  return status;
}

int errKVGenCert(const char* path, int privateKeyLength, const unsigned char* privateKey, CertNameFields issuer,
                 int requestLength, const unsigned char* request, C_CERT_OBJ* certificateObject,
                 int* certificateLength, unsigned char** certificate, int) {
  KV_TRACE("errKVGenCert(): ENTER");
  if (certificateObject == nullptr || certificateLength == nullptr || certificate == nullptr) {
    KV_TRACE("errKVGenCert(): Error: no place for the certificate");
    return KV_CERT_BAD_LENGTH;
  }
  *certificateObject = nullptr;
  C_CERT_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  Q_KEY_OBJ key = nullptr;
  Q_ALGORITHM_OBJ random = nullptr;
  int status = iKeyFromBER(privateKey, privateKeyLength, &key, KV_KEYTYPE_PRIVATE_PKCS8);
  if (status != 0) {
    KV_TRACE("errKVGenCert(): Error in iKeyFromBER [%d]", status);
    DestroyKeyAndRandom(&key, &random);
    return KV_CERT_BAD_SIGNING_KEY;
  }
  if ((status = iMakeRandomObject(&random)) != 0) {
    KV_TRACE("errKVGenCert(): Error in iMakeRandomObject [%d]", status);
    DestroyKeyAndRandom(&key, &random);
    return KV_CERT_NO_RANDOM_OBJECT;
  }
  const unsigned char* der = nullptr;
  uint32_t derLength = 0;
  if ((status = C_CreateCertObject(certificateObject, nullptr)) != 0) {
    KV_TRACE("errKVGenCert(): Error in C_CreateCertObject [%d]", status);
  } else if ((status = C_SetCertFromRequest(*certificateObject, nullptr, request,
                                            requestLength > 0 ? static_cast<uint32_t>(requestLength) : 0, nullptr,
                                            nullptr, nullptr)) != 0) {
    KV_TRACE("errKVGenCert(): Error Decomposing certificate object");
    KV_TRACE("errKVGenCert(): Error in C_SetCertFromRequest [%d]", status);
  } else if ((status = C_GetCertFields(*certificateObject, &fields)) != 0) {
    KV_TRACE("errKVGenCert(): Error in C_GetCertFields [%d]", status);
  } else if ((status = C_ResetName(fields.issuer)) != 0 || (status = errKVMakeNameObject(fields.issuer, issuer)) != 0) {
    KV_TRACE("errKVGenCert(): Error making the issuer name [%d]", status);
  } else {
    const int64_t now = kvplatform::CalendarSeconds();
    char serial[17];
    iKVSerialNumber(now, fields.publicKey.data, fields.publicKey.len, serial);
    fields.version = C_CERT_VERSION_3;
    fields.serialNumber = C_ITEM{reinterpret_cast<const unsigned char*>(serial), 16};
    fields.notBefore = now;
    fields.notAfter = now + KV_CERT_VALIDITY_SECONDS;
    fields.signatureAlgorithm = C_SIG_SHA1_WITH_RSA;
    if ((status = C_SetCertFields(*certificateObject, &fields)) != 0) {
      KV_TRACE("errKVGenCert(): Error in C_SetCertFields [%d]", status);
      status = KV_CERT_SET_FIELDS_FAILED;
    } else if ((status = C_SignCert(*certificateObject, key, random, nullptr)) != 0) {
      KV_TRACE("errKVGenCert(): Error in C_SignCert [%d]", status);
      status = KV_CERT_SIGN_FAILED;
    } else if ((status = C_GetCertDER(*certificateObject, &der, &derLength)) != 0) {
      KV_TRACE("errKVGenCert(): Error in C_GetCertDER [%d]", status);
      status = KV_CERT_SET_FIELDS_FAILED;
    }
  }
  DestroyKeyAndRandom(&key, &random);
  if (status != 0) {
    KV_TRACE("errKVGenCert(): EXIT");
    return status;
  }
  auto* copy = static_cast<unsigned char*>(QMem_Duplicate(der, derLength));
  if (copy == nullptr) {
    KV_TRACE("errKVGenCert(): Error: out of memory");
    return KV_CERT_OUT_OF_MEMORY;
  }
  *certificate = copy;
  *certificateLength = static_cast<int>(derLength);

  // Without a path the certificate is only handed out: the caller writes it
  // once it has been recorded.
  if (path == nullptr) {
    KV_TRACE("errKVGenCert(): EXIT success (no file)");
    return 0;
  }
  const int written = iKVReplaceFileAtomically(path, copy, derLength);
  if (written == 1) {
    std::printf("*** Error: Could not open certificate file <%s> for writing. ***\n", path);
    std::fflush(stdout);
    KV_TRACE("errKVGenCert(): Error: cannot open the certificate file");
    return -1;
  }
  if (written != 0) {
    std::printf("*** Error: Could not write cerificate to disk. ***\n");
    std::fflush(stdout);
    KV_TRACE("errKVGenCert(): Error: cannot write the certificate file");
    return -1;
  }
  KV_TRACE("errKVGenCert(): EXIT success");
  return 0;
}

int iGenerateCertRequestStructure(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                                  const unsigned char* publicKey, const char* subject, int, const unsigned char*,
                                  int* requestLength, unsigned char** request, Q_KEY_OBJ* key,
                                  C_CERT_REQUEST_OBJ* requestObject, Q_ALGORITHM_OBJ* random) {
  KV_TRACE("iGenerateCertRequestStructure(): ENTER");
  int status = iKeyFromBER(privateKey, privateKeyLength, key, KV_KEYTYPE_PRIVATE_PKCS8);
  if (status != 0) {
    KV_TRACE("iGenerateCertRequestStructure(): Error in iKeyFromBER [%d]", status);
    return KV_CERT_BAD_SIGNING_KEY;
  }
  if ((status = iMakeRandomObject(random)) != 0) {
    KV_TRACE("iGenerateCertRequestStructure(): Error in iMakeRandomObject [%d]", status);
    return status;
  }
  C_CERT_REQUEST_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  if ((status = C_CreateCertRequestObject(requestObject)) != 0 ||
      (status = C_GetCertRequestFields(*requestObject, &fields)) != 0) {
    KV_TRACE("iGenerateCertRequestStructure(): Error creating the request object [%d]", status);
    return KV_CERT_OUT_OF_MEMORY;
  }
  const auto* text = reinterpret_cast<const unsigned char*>(subject != nullptr ? subject : "");
  if ((status = C_AddNameAVA(fields.subject, kCommonNameOid, sizeof kCommonNameOid, C_TAG_PRINTABLE_STRING, text,
                             static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(text))), 1, nullptr)) !=
      0) {
    KV_TRACE("iGenerateCertRequestStructure(): Error in C_AddNameAVA [%d]", status);
    return KV_REQ_SET_FIELDS_FAILED;
  }
  fields.version = 0;
  fields.publicKey = C_ITEM{publicKey, publicKeyLength > 0 ? static_cast<uint32_t>(publicKeyLength) : 0};
  if ((status = C_SetCertRequestFields(*requestObject, &fields)) != 0) {
    KV_TRACE("iGenerateCertRequestStructure(): Error %X in C_SetCertRequestFields", status);
    return KV_REQ_SET_FIELDS_FAILED;
  }
  if ((status = C_SignCertRequest(*requestObject, *key, *random, C_SIG_MD5_WITH_RSA, nullptr, nullptr, 0, nullptr)) !=
      0) {
    KV_TRACE("iGenerateCertRequestStructure(): Error in C_SignCertRequest [%d]", status);
    return KV_REQ_SIGN_FAILED;
  }
  const unsigned char* der = nullptr;
  uint32_t derLength = 0;
  unsigned char* copy = nullptr;
  if ((status = C_GetCertRequestDER(*requestObject, &der, &derLength)) != 0 ||
      (copy = static_cast<unsigned char*>(QMem_Duplicate(der, derLength))) == nullptr) {
    KV_TRACE("iGenerateCertRequestStructure(): Error taking the request's encoding [%d]", status);
    return KV_CERT_OUT_OF_MEMORY;
  }
  *request = copy;
  *requestLength = static_cast<int>(derLength);
  KV_TRACE("iGenerateCertRequestStructure(): EXIT");
  return 0;
}

int errKVCertReqPKCS10Create(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                             const unsigned char* publicKey, const char* subject, int extensionLength,
                             const unsigned char* extension, int* requestLength, unsigned char** request) {
  KV_TRACE("errKVCertReqPKCS10Create(): ENTER");
  if (privateKeyLength <= 0 || publicKeyLength <= 0) {
    KV_TRACE("errKVCertReqPKCS10Create(): Error: bad key length");
    return KV_CERT_BAD_LENGTH;
  }
  const size_t subjectLength = subject != nullptr ? strnlen(subject, kMaxNameText + 1) : 0;
  if (subjectLength < kMinSubjectText || subjectLength > kMaxNameText) {
    KV_TRACE("errKVCertReqPKCS10Create(): Error: bad subject name");
    return KV_CERT_BAD_SUBJECT_NAME;
  }
  if (extensionLength < 0 || requestLength == nullptr || request == nullptr) {
    KV_TRACE("errKVCertReqPKCS10Create(): Error: bad extension length");
    return KV_CERT_BAD_LENGTH;
  }
  Q_KEY_OBJ key = nullptr;
  Q_ALGORITHM_OBJ random = nullptr;
  C_CERT_REQUEST_OBJ object = nullptr;
  int status = iGenerateCertRequestStructure(privateKeyLength, privateKey, publicKeyLength, publicKey, subject,
                                             extensionLength, extension, requestLength, request, &key, &object,
                                             &random);
  if (status != 0) KV_TRACE("errKVCertReqPKCS10Create(): Error in iGenerateCertRequestStructure [%d]", status);
  DestroyKeyAndRandom(&key, &random);
  C_DestroyCertRequestObject(&object);
  KV_TRACE("errKVCertReqPKCS10Create(): EXIT");
  return status;
}

int errKVCertReqPKCS10Verify(int requestLength, const unsigned char* request) {
  KV_TRACE("errKVCertReqPKCS10Verify(): ENTER");
  if (requestLength < 1 || request == nullptr) {
    KV_TRACE("errKVCertReqPKCS10Verify(): Error: bad request length");
    return KV_CERT_BAD_LENGTH;
  }
  C_CERT_REQUEST_OBJ object = nullptr;
  int status = C_CreateCertRequestObject(&object);
  if (status != 0) {
    KV_TRACE("errKVCertReqPKCS10Verify(): Error in C_CreateCertRequestObject [%d]", status);
    return KV_CERT_OUT_OF_MEMORY;
  }
  if ((status = C_SetCertRequestBER(object, request, static_cast<uint32_t>(requestLength))) != 0 ||
      (status = C_VerifyCertRequestSignature(object, nullptr, nullptr, 0, nullptr)) != 0) {
    KV_TRACE("errKVCertReqPKCS10Verify(): Error checking the request [%d]", status);
    status = KV_CERT_BAD_REQUEST;
  }
  C_DestroyCertRequestObject(&object);
  KV_TRACE("errKVCertReqPKCS10Verify(): EXIT");
  return status;
}

void vKVCertReqFreeReq(unsigned char* buffer) {
  KV_TRACE("vKVCertReqFreeReq(): ENTER");
  QMem_SecureRelease(buffer);
  KV_TRACE("vKVCertReqFreeReq(): EXIT");
}
