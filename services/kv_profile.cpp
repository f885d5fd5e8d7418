// The modern certificate profile: keys of 2048 to 4096 bits, SHA-256
// requests and certificates, random serial numbers, UTF8String names, the
// extensions of a CA root and of a TLS server certificate, and the checks a
// TLS client makes that the classic verify does not.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_profile";

const unsigned char kCountryOid[] = {0x55, 0x04, 0x06};
const unsigned char kOrganizationOid[] = {0x55, 0x04, 0x0A};
const unsigned char kCommonNameOid[] = {0x55, 0x04, 0x03};
constexpr uint32_t kUtf8StringTag = 12;

const Q_ALGORITHM_METHOD* const kKeyGenChooser[] = {&QM_SHA256, &QM_MD5Random, &QM_RSAKeyGen, nullptr};

constexpr int kSerialLength = 16;
constexpr int64_t kSecondsPerDay = 86400;
constexpr size_t kMaxDnsName = 253;
constexpr size_t kMaxDnsLabel = 63;

// RAII guards of the toolkit objects and blocks made here.
struct KeyGuard {
  Q_KEY_OBJ key = nullptr;
  ~KeyGuard() {
    if (key != nullptr) Q_DestroyKeyObject(&key);
  }
};
struct RandomGuard {
  Q_ALGORITHM_OBJ random = nullptr;
  ~RandomGuard() {
    if (random != nullptr) Q_DestroyAlgorithmObject(&random);
  }
};
struct CertGuard {
  C_CERT_OBJ cert = nullptr;
  ~CertGuard() { C_DestroyCertObject(&cert); }
};
struct RequestGuard {
  C_CERT_REQUEST_OBJ request = nullptr;
  ~RequestGuard() { C_DestroyCertRequestObject(&request); }
};
struct ValueBlock {
  unsigned char* data = nullptr;
  uint32_t length = 0;
  ~ValueBlock() { QMem_SecureRelease(data); }
};

// Country as PrintableString (two octets), organization and, when not
// empty, common name as UTF8String; one attribute per RDN.
int MakeModernName(C_NAME_OBJ name, const CertNameFields& fields) {
  const size_t organizationLength = strnlen(fields.organization, sizeof fields.organization);
  const size_t commonNameLength = strnlen(fields.commonName, sizeof fields.commonName);
  int status = C_AddNameAVA(name, kCountryOid, sizeof kCountryOid, C_TAG_PRINTABLE_STRING,
                            reinterpret_cast<const unsigned char*>(fields.country), 2, 1, nullptr);
  if (status == 0) {
    status = C_AddNameAVA(name, kOrganizationOid, sizeof kOrganizationOid, kUtf8StringTag,
                          reinterpret_cast<const unsigned char*>(fields.organization),
                          static_cast<uint32_t>(organizationLength), 1, nullptr);
  }
  if (status == 0 && commonNameLength != 0) {
    status = C_AddNameAVA(name, kCommonNameOid, sizeof kCommonNameOid, kUtf8StringTag,
                          reinterpret_cast<const unsigned char*>(fields.commonName),
                          static_cast<uint32_t>(commonNameLength), 1, nullptr);
  }
  if (status != 0) KV_TRACE("MakeModernName(): Error in C_AddNameAVA [%d]", status);
  return status;
}

// The 4 or 16 octets of an IPv4 or IPv6 literal; 0 when |text| is neither.
size_t ParseAddress(const char* text, unsigned char out[16]) {
  if (::inet_pton(AF_INET, text, out) == 1) return 4;
  if (::inet_pton(AF_INET6, text, out) == 1) return 16;
  return 0;
}

bool IsLdh(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'; }

bool IsDnsName(const std::string& name) {
  if (name.empty() || name.size() > kMaxDnsName) return false;
  size_t start = 0;
  bool first = true;
  for (;;) {
    const size_t dot = name.find('.', start);
    const std::string label = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    // "*" only as the whole first label, and never as the whole name.
    const bool wildcard = first && label == "*" && dot != std::string::npos;
    if (!wildcard) {
      if (label.empty() || label.size() > kMaxDnsLabel || label.front() == '-' || label.back() == '-') return false;
      for (char c : label) {
        if (!IsLdh(c)) return false;
      }
    }
    // An all-digit last label is no host name (RFC 3696 2): "256.1.1.1"
    // is a mistyped address, not a DNS name.
    if (dot == std::string::npos) return label.find_first_not_of("0123456789") != std::string::npos;
    start = dot + 1;
    first = false;
  }
}

// Adds one extension to |extensions| from a value block a builder made.
int AddBuilt(C_EXTENSIONS_OBJ extensions, const unsigned char* oid, uint32_t critical, int built,
             const ValueBlock& value) {
  if (built != 0) {
    KV_TRACE("AddBuilt(): Error building an extension value [%d]", built);
    return KV_CERT_BAD_EXTENSION;
  }
  const int status = C_AddExtension(extensions, oid, C_OID_EXT_LEN, critical, value.data, value.length);
  if (status != 0) {
    KV_TRACE("AddBuilt(): Error in C_AddExtension [%d]", status);
    return KV_CERT_BAD_EXTENSION;
  }
  return 0;
}

// The key identifier of a certificate: its subjectKeyIdentifier, or one
// computed from its public key when it has none.
int KeyIdOf(const C_CERT_FIELDS& fields, unsigned char* keyId, uint32_t* keyIdLength, uint32_t capacity) {
  const unsigned char* value = nullptr;
  uint32_t valueLength = 0;
  C_ITEM id{nullptr, 0};
  if (C_FindExtension(fields.extensions, C_OID_SUBJECT_KEY_ID, C_OID_EXT_LEN, nullptr, &value, &valueLength) == 0 &&
      C_ReadSubjectKeyIdentifier(value, valueLength, &id) == 0 && id.len <= capacity) {
    QMem_Copy(keyId, id.data, id.len);
    *keyIdLength = id.len;
    return 0;
  }
  if (capacity < C_KEY_ID_LEN) return KV_CERT_BAD_LENGTH;
  const int status = C_ComputeKeyIdentifier(fields.publicKey.data, fields.publicKey.len, keyId);
  if (status != 0) return KV_CERT_BAD_CA_PUBLIC_KEY;
  *keyIdLength = C_KEY_ID_LEN;
  return 0;
}

// A certificate read into a new object with its fields.
int ReadCert(int length, const unsigned char* der, CertGuard& guard, C_CERT_FIELDS& fields) {
  std::memset(&fields, 0, sizeof fields);
  if (length <= 0 || der == nullptr) return KV_CERT_BAD_LENGTH;
  if (C_CreateCertObject(&guard.cert, nullptr) != 0) return KV_CERT_OUT_OF_MEMORY;
  if (C_SetCertBER(guard.cert, der, static_cast<uint32_t>(length)) != 0 ||
      C_GetCertFields(guard.cert, &fields) != 0) {
    return KV_CERT_BAD_CERTIFICATE;
  }
  return 0;
}

// The extensions of a server certificate: names in the subjectAltName,
// usages, and the key identifiers.
int AddServerExtensions(C_EXTENSIONS_OBJ extensions, const KVModernIssue& issue, const C_ITEM& publicKey) {
  if (issue.nameCount < 1 || issue.names == nullptr) return KV_CERT_BAD_SERVER_NAME;
  if (issue.nameCount > KV_MODERN_MAX_NAMES) return KV_CERT_TOO_MANY_NAMES;
  C_GENERAL_NAME names[KV_MODERN_MAX_NAMES];
  unsigned char addresses[KV_MODERN_MAX_NAMES][16];
  std::string seen[KV_MODERN_MAX_NAMES];
  uint32_t count = 0;
  for (int i = 0; i < issue.nameCount; ++i) {
    const char* name = issue.names[i];
    if (name == nullptr || errKVCheckServerName(name) != 0) return KV_CERT_BAD_SERVER_NAME;
    bool repeated = false;
    for (uint32_t k = 0; k < count; ++k) repeated = repeated || seen[k] == name;
    if (repeated) continue;  // a name given twice is written once
    const size_t addressLength = ParseAddress(name, addresses[count]);
    if (addressLength != 0) {
      names[count] = C_GENERAL_NAME{C_GN_IP_ADDRESS, C_ITEM{addresses[count], static_cast<uint32_t>(addressLength)}};
    } else {
      names[count] = C_GENERAL_NAME{C_GN_DNS_NAME, C_ITEM{reinterpret_cast<const unsigned char*>(name),
                                                          static_cast<uint32_t>(std::strlen(name))}};
    }
    seen[count++] = name;
  }
  CertGuard root;
  C_CERT_FIELDS rootFields;
  int status = ReadCert(issue.rootCertLength, issue.rootCert, root, rootFields);
  if (status != 0) return KV_CERT_BAD_CA_PUBLIC_KEY;
  unsigned char keyId[64];
  uint32_t keyIdLength = 0;
  if ((status = KeyIdOf(rootFields, keyId, &keyIdLength, sizeof keyId)) != 0) return status;

  ValueBlock basic, usage, extended, altNames, subjectKeyId, authorityKeyId;
  const C_ITEM serverAuth{C_OID_KP_SERVER_AUTH, C_OID_KP_LEN};
  if ((status = AddBuilt(extensions, C_OID_BASIC_CONSTRAINTS, 1,
                         C_BuildBasicConstraints(0, -1, &basic.data, &basic.length), basic)) != 0 ||
      (status = AddBuilt(extensions, C_OID_KEY_USAGE, 1,
                         C_BuildKeyUsage(C_KU_DIGITAL_SIGNATURE | C_KU_KEY_ENCIPHERMENT, &usage.data, &usage.length),
                         usage)) != 0 ||
      (status = AddBuilt(extensions, C_OID_EXT_KEY_USAGE, 0,
                         C_BuildExtendedKeyUsage(&serverAuth, 1, &extended.data, &extended.length), extended)) != 0 ||
      (status = AddBuilt(extensions, C_OID_SUBJECT_ALT_NAME, 0,
                         C_BuildSubjectAltName(names, count, &altNames.data, &altNames.length), altNames)) != 0 ||
      (status = AddBuilt(extensions, C_OID_SUBJECT_KEY_ID, 0,
                         C_BuildSubjectKeyIdentifier(publicKey.data, publicKey.len, &subjectKeyId.data,
                                                     &subjectKeyId.length),
                         subjectKeyId)) != 0 ||
      (status = AddBuilt(extensions, C_OID_AUTHORITY_KEY_ID, 0,
                         C_BuildAuthorityKeyIdentifier(keyId, keyIdLength, &authorityKeyId.data,
                                                       &authorityKeyId.length),
                         authorityKeyId)) != 0) {
    return status;
  }
  return 0;
}

int AddRootExtensions(C_EXTENSIONS_OBJ extensions, const C_ITEM& publicKey) {
  ValueBlock basic, usage, subjectKeyId;
  int status = 0;
  if ((status = AddBuilt(extensions, C_OID_BASIC_CONSTRAINTS, 1,
                         C_BuildBasicConstraints(1, 0, &basic.data, &basic.length), basic)) != 0 ||
      (status = AddBuilt(extensions, C_OID_KEY_USAGE, 1,
                         C_BuildKeyUsage(C_KU_KEY_CERT_SIGN | C_KU_CRL_SIGN, &usage.data, &usage.length), usage)) !=
          0 ||
      (status = AddBuilt(extensions, C_OID_SUBJECT_KEY_ID, 0,
                         C_BuildSubjectKeyIdentifier(publicKey.data, publicKey.len, &subjectKeyId.data,
                                                     &subjectKeyId.length),
                         subjectKeyId)) != 0) {
    return status;
  }
  return 0;
}

}  // namespace

int iKVProfileOfCert(int certificateLength, const unsigned char* certificate) {
  CertGuard guard;
  C_CERT_FIELDS fields;
  if (ReadCert(certificateLength, certificate, guard, fields) != 0) return KV_PROFILE_CLASSIC;
  const uint32_t sig = fields.signatureAlgorithm;
  if (sig != C_SIG_SHA256_WITH_RSA && sig != C_SIG_SHA384_WITH_RSA && sig != C_SIG_SHA512_WITH_RSA) {
    return KV_PROFILE_CLASSIC;
  }
  const unsigned char* value = nullptr;
  uint32_t valueLength = 0;
  C_BASIC_CONSTRAINTS basic{0, -1};
  if (C_FindExtension(fields.extensions, C_OID_BASIC_CONSTRAINTS, C_OID_EXT_LEN, nullptr, &value, &valueLength) != 0 ||
      C_ReadBasicConstraints(value, valueLength, &basic) != 0 || basic.cA != 1) {
    return KV_PROFILE_CLASSIC;
  }
  return KV_PROFILE_MODERN;
}

int errKVCheckServerName(const char* name) {
  if (name == nullptr) return KV_CERT_BAD_SERVER_NAME;
  const size_t length = strnlen(name, kMaxDnsName + 1);
  if (length == 0 || length > kMaxDnsName) return KV_CERT_BAD_SERVER_NAME;
  unsigned char address[16];
  if (ParseAddress(name, address) != 0) return 0;
  return IsDnsName(name) ? 0 : KV_CERT_BAD_SERVER_NAME;
}

int errKVModernKeyGen(int modulusBits, unsigned char* publicKey, int* publicLength, unsigned char* privateKey,
                      int* privateLength) {
  KV_TRACE("errKVModernKeyGen(): ENTER");
  if (modulusBits != 2048 && modulusBits != 3072 && modulusBits != 4096) return KV_KEY_BAD_SIZE;
  if (publicLength == nullptr || privateLength == nullptr) return KV_KEY_INTERNAL_ERROR;
  RandomGuard random;
  Q_ALGORITHM_OBJ keyGen = nullptr;
  KeyGuard pub, priv;
  int result = 0;
  int status = iMakeRandomObject(&random.random);
  if (status != 0 || Q_CreateAlgorithmObject(&keyGen) != 0 || Q_CreateKeyObject(&pub.key) != 0 ||
      Q_CreateKeyObject(&priv.key) != 0) {
    result = KV_KEY_OUT_OF_MEMORY;
  } else {
    unsigned char exponent[3] = {0x01, 0x00, 0x01};
    Q_RSA_KEYGEN_PARAMS params{static_cast<uint32_t>(modulusBits), Q_ITEM{exponent, sizeof exponent}};
    if ((status = Q_SetAlgorithmInfo(keyGen, QA_RSAKeyGenModern, &params)) != 0) {
      KV_TRACE("errKVModernKeyGen(): Error in Q_SetAlgorithmInfo [%d]", status);
      result = KV_KEY_OUT_OF_MEMORY;
    } else if ((status = Q_GenerateInit(keyGen, kKeyGenChooser, nullptr)) != 0 ||
               (status = Q_GenerateKeypair(keyGen, pub.key, priv.key, random.random, nullptr)) != 0) {
      KV_TRACE("errKVModernKeyGen(): Error generating the key pair [%d]", status);
      result = KV_KEY_INTERNAL_ERROR;
    }
  }
  if (result == 0 && (iKeyToBER(publicKey, publicLength, pub.key, KV_KEYTYPE_PUBLIC_SPKI) != 0 ||
                      iKeyToBER(privateKey, privateLength, priv.key, KV_KEYTYPE_PRIVATE_PKCS8) != 0)) {
    result = KV_KEY_INTERNAL_ERROR;
  }
  if (keyGen != nullptr) Q_DestroyAlgorithmObject(&keyGen);
  KV_TRACE("errKVModernKeyGen(): EXIT");
  return result;
}

int errKVGenModernCertReq(int privateKeyLength, const unsigned char* privateKey, int publicKeyLength,
                          const unsigned char* publicKey, CertNameFields subject, unsigned char** request,
                          int* requestLength) {
  KV_TRACE("errKVGenModernCertReq(): ENTER");
  if (request == nullptr || requestLength == nullptr || publicKeyLength <= 0) return KV_CERT_BAD_LENGTH;
  KeyGuard key;
  RandomGuard random;
  RequestGuard object;
  if (iKeyFromBER(privateKey, privateKeyLength, &key.key, KV_KEYTYPE_PRIVATE_PKCS8) != 0) {
    return KV_CERT_BAD_SIGNING_KEY;
  }
  if (iMakeRandomObject(&random.random) != 0) return KV_CERT_NO_RANDOM_OBJECT;
  C_CERT_REQUEST_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  int status = 0;
  if (C_CreateCertRequestObject(&object.request) != 0 || C_GetCertRequestFields(object.request, &fields) != 0) {
    return KV_CERT_OUT_OF_MEMORY;
  }
  if ((status = MakeModernName(fields.subject, subject)) != 0) return status;
  fields.version = 0;
  fields.publicKey = C_ITEM{publicKey, static_cast<uint32_t>(publicKeyLength)};
  if ((status = C_SetCertRequestFields(object.request, &fields)) != 0) {
    KV_TRACE("errKVGenModernCertReq(): Error in C_SetCertRequestFields [%d]", status);
    return KV_REQ_SET_FIELDS_FAILED;
  }
  if ((status = C_SignCertRequest(object.request, key.key, random.random, C_SIG_SHA256_WITH_RSA, nullptr, nullptr, 0,
                                  nullptr)) != 0) {
    KV_TRACE("errKVGenModernCertReq(): Error in C_SignCertRequest [%d]", status);
    return KV_REQ_SIGN_FAILED;
  }
  const unsigned char* der = nullptr;
  uint32_t derLength = 0;
  unsigned char* copy = nullptr;
  if (C_GetCertRequestDER(object.request, &der, &derLength) != 0 ||
      (copy = static_cast<unsigned char*>(QMem_Duplicate(der, derLength))) == nullptr) {
    return KV_CERT_OUT_OF_MEMORY;
  }
  *request = copy;
  *requestLength = static_cast<int>(derLength);
  KV_TRACE("errKVGenModernCertReq(): EXIT");
  return 0;
}

int errKVGenModernCert(const char* path, int privateKeyLength, const unsigned char* privateKey,
                       CertNameFields issuer, int requestLength, const unsigned char* request,
                       const KVModernIssue* issue, int* certificateLength, unsigned char** certificate) {
  KV_TRACE("errKVGenModernCert(): ENTER");
  if (issue == nullptr || certificateLength == nullptr || certificate == nullptr || requestLength <= 0) {
    return KV_CERT_BAD_LENGTH;
  }
  if (issue->days < 1 || issue->days > KV_MODERN_MAX_DAYS) return KV_CERT_BAD_DAYS;
  KeyGuard key;
  RandomGuard random;
  CertGuard object;
  if (iKeyFromBER(privateKey, privateKeyLength, &key.key, KV_KEYTYPE_PRIVATE_PKCS8) != 0) {
    return KV_CERT_BAD_SIGNING_KEY;
  }
  if (iMakeRandomObject(&random.random) != 0) return KV_CERT_NO_RANDOM_OBJECT;
  unsigned char serial[kSerialLength];
  if (errKVRandomGetNumber(kSerialLength, serial) != 0) return KV_CERT_NO_RANDOM_OBJECT;
  // Positive, and sixteen octets long: the first octet is 01 to 7F.
  serial[0] &= 0x7F;
  if (serial[0] == 0) serial[0] = 1;

  C_CERT_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  int status = 0;
  if (C_CreateCertObject(&object.cert, nullptr) != 0) return KV_CERT_OUT_OF_MEMORY;
  if ((status = C_SetCertFromRequest(object.cert, nullptr, request, static_cast<uint32_t>(requestLength), nullptr,
                                     nullptr, nullptr)) != 0 ||
      (status = C_GetCertFields(object.cert, &fields)) != 0) {
    KV_TRACE("errKVGenModernCert(): Error reading the request [%d]", status);
    return KV_CERT_BAD_REQUEST;
  }
  // A root's issuer is its own subject, as the request made it.
  if (issue->isRoot == 0 && ((status = C_ResetName(fields.issuer)) != 0 ||
                             (status = MakeModernName(fields.issuer, issuer)) != 0)) {
    return KV_CERT_BAD_CA_NAME;
  }
  status = issue->isRoot != 0 ? AddRootExtensions(fields.extensions, fields.publicKey)
                              : AddServerExtensions(fields.extensions, *issue, fields.publicKey);
  if (status != 0) return status;
  const int64_t now = kvplatform::CalendarSeconds();
  fields.version = C_CERT_VERSION_3;
  fields.serialNumber = C_ITEM{serial, kSerialLength};
  fields.notBefore = now;
  fields.notAfter = now + static_cast<int64_t>(issue->days) * kSecondsPerDay;
  fields.signatureAlgorithm = C_SIG_SHA256_WITH_RSA;
  const unsigned char* der = nullptr;
  uint32_t derLength = 0;
  if ((status = C_SetCertFields(object.cert, &fields)) != 0) {
    KV_TRACE("errKVGenModernCert(): Error in C_SetCertFields [%d]", status);
    return KV_CERT_SET_FIELDS_FAILED;
  }
  if ((status = C_SignCert(object.cert, key.key, random.random, nullptr)) != 0) {
    KV_TRACE("errKVGenModernCert(): Error in C_SignCert [%d]", status);
    return KV_CERT_SIGN_FAILED;
  }
  if (C_GetCertDER(object.cert, &der, &derLength) != 0) return KV_CERT_SET_FIELDS_FAILED;
  auto* copy = static_cast<unsigned char*>(QMem_Duplicate(der, derLength));
  if (copy == nullptr) return KV_CERT_OUT_OF_MEMORY;
  *certificate = copy;
  *certificateLength = static_cast<int>(derLength);
  // Without a path the certificate is only handed out (see errKVGenCert).
  if (path != nullptr && iKVReplaceFileAtomically(path, copy, derLength) != 0) {
    KV_TRACE("errKVGenModernCert(): Error: cannot write the certificate file");
    return -1;
  }
  KV_TRACE("errKVGenModernCert(): EXIT success");
  return 0;
}

int errKVModernCheck(int rootLength, const unsigned char* root, int certificateLength,
                     const unsigned char* certificate, int64_t now, unsigned* findings, int64_t validity[2]) {
  if (findings == nullptr) return KV_CERT_BAD_LENGTH;
  *findings = 0;
  CertGuard rootGuard, leafGuard;
  C_CERT_FIELDS rootFields, leafFields;
  if (ReadCert(rootLength, root, rootGuard, rootFields) != 0 ||
      ReadCert(certificateLength, certificate, leafGuard, leafFields) != 0) {
    return KV_CERT_BAD_CERTIFICATE;
  }
  if (validity != nullptr) {
    validity[0] = leafFields.notBefore;
    validity[1] = leafFields.notAfter;
  }
  if (now < leafFields.notBefore) *findings |= KV_CHECK_NOT_YET_VALID;
  if (now > leafFields.notAfter) *findings |= KV_CHECK_EXPIRED;
  const unsigned char* value = nullptr;
  uint32_t valueLength = 0, usage = 0;
  // A root without keyUsage may sign certificates; one with it needs the bit.
  if (C_FindExtension(rootFields.extensions, C_OID_KEY_USAGE, C_OID_EXT_LEN, nullptr, &value, &valueLength) == 0 &&
      (C_ReadKeyUsage(value, valueLength, &usage) != 0 || (usage & C_KU_KEY_CERT_SIGN) == 0)) {
    *findings |= KV_CHECK_ROOT_NO_CERT_SIGN;
  }
  // A leaf naming another authority key is refused; one without the
  // extension is left to the signature check.
  C_AUTHORITY_KEY_ID authority;
  std::memset(&authority, 0, sizeof authority);
  if (C_FindExtension(leafFields.extensions, C_OID_AUTHORITY_KEY_ID, C_OID_EXT_LEN, nullptr, &value, &valueLength) ==
      0) {
    unsigned char keyId[64];
    uint32_t keyIdLength = 0;
    if (C_ReadAuthorityKeyIdentifier(value, valueLength, &authority) != 0 ||
        (authority.keyIdentifier.data != nullptr &&
         (KeyIdOf(rootFields, keyId, &keyIdLength, sizeof keyId) != 0 || keyIdLength != authority.keyIdentifier.len ||
          QMem_Compare(keyId, authority.keyIdentifier.data, keyIdLength) != 0))) {
      *findings |= KV_CHECK_AKI_MISMATCH;
    }
  }
  return 0;
}
