#include "app/root_cert_info.h"

#include <algorithm>

#include "app/toolkit_objects.h"
#include "certkit/certkit.h"
#include "cryptokit/qmemory.h"

namespace kvapp {

int ReadRootCertInfo(const std::string& certPath, RootCertInfo& info) {
  info = RootCertInfo{};
  unsigned char* data = nullptr;
  int length = 0;
  int rc = errKVCertReadFromFile(certPath.c_str(), &length, &data);
  if (rc == 0 && length > 0) info.der.assign(data, data + length);
  if (data != nullptr) vKVCertFreeCert(data);
  if (rc != 0) return rc;
  if (info.der.empty()) return KV_CERT_BAD_CERTIFICATE;
  CertObject object;
  if ((rc = C_CreateCertObject(&object.cert, nullptr)) != 0) return rc;
  if ((rc = C_SetCertBER(object.cert, info.der.data(), static_cast<uint32_t>(info.der.size()))) != 0) return rc;
  C_CERT_FIELDS fields{};
  if ((rc = C_GetCertFields(object.cert, &fields)) != 0) return rc;
  const unsigned char* subject = nullptr;
  uint32_t subjectLength = 0;
  if ((rc = C_GetNameDER(fields.subject, &subject, &subjectLength)) != 0) return rc;
  info.subjectDer.assign(subject, subject + subjectLength);
  info.spki.assign(fields.publicKey.data, fields.publicKey.data + fields.publicKey.len);
  const unsigned char* ski = nullptr;
  uint32_t skiLength = 0;
  C_ITEM keyId{};
  if (C_FindExtension(fields.extensions, C_OID_SUBJECT_KEY_ID, C_OID_EXT_LEN, nullptr, &ski, &skiLength) == 0 &&
      C_ReadSubjectKeyIdentifier(ski, skiLength, &keyId) == 0) {
    info.keyId.assign(keyId.data, keyId.data + keyId.len);
  } else {
    unsigned char computed[C_KEY_ID_LEN];
    if (C_ComputeKeyIdentifier(info.spki.data(), static_cast<uint32_t>(info.spki.size()), computed) == 0) {
      info.keyId.assign(computed, computed + C_KEY_ID_LEN);
    }
  }
  info.modern = iKVProfileOfCert(static_cast<int>(info.der.size()), info.der.data()) == KV_PROFILE_MODERN;
  return 0;
}

int RootPublicKey(const RootCertInfo& info, Q_KEY_OBJ* key) {
  *key = nullptr;
  if (info.spki.empty()) return KV_KEY_INVALID_DATA;
  return iKeyFromBER(info.spki.data(), static_cast<int>(info.spki.size()), key, KV_KEYTYPE_PUBLIC_SPKI);
}

const char* ProfileText(const RootCertInfo& info) { return info.modern ? "modern" : "classic"; }

}  // namespace kvapp
