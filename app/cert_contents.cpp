#include "app/cert_contents.h"

#include <cstring>

#include "app/cert_names.h"
#include "certkit/certkit.h"
#include "services/kvservices.h"

namespace kvapp {

int ReadCertContents(AppContext& context, const std::string& certPath, CertContentsFields& fields) {
  int length = 0;
  unsigned char* encoding = nullptr;
  int rc = errKVCertReadFromFileCounted(certPath.c_str(), &length, &encoding, &fields.skippedBlocks);
  if (rc != 0) {
    // A short read may still hand out a buffer; it is released here.
    vKVCertFreeCert(encoding);
    context.Error("Internal error reading certificate.\n");
    return rc;
  }
  C_CERT_OBJ certificate = nullptr;
  if (C_CreateCertObject(&certificate, nullptr) != 0 || length <= 0 ||
      C_SetCertBERForDisplay(certificate, encoding, static_cast<uint32_t>(length)) != 0) {
    C_DestroyCertObject(&certificate);
    vKVCertFreeCert(encoding);
    context.Error("Invalid Certificate Format.....! \n\n");
    return -1;
  }
  if (certificate == nullptr) {
    vKVCertFreeCert(encoding);
    context.Error("Certificate Object is empty");
    return -1;
  }
  C_CERT_FIELDS record;
  std::memset(&record, 0, sizeof record);
  rc = C_GetCertFields(certificate, &record);
  if (rc != 0) {
    C_DestroyCertObject(&certificate);
    vKVCertFreeCert(encoding);
    context.Error("Invalid Certificate Format.....! \n\n");
    return rc;
  }
  fields.version = VersionText(record.version);

  fields.serialNumber = SerialNumberText(record.serialNumber.data, record.serialNumber.len);

  fields.subject.clear();
  fields.issuer.clear();
  FormatCertName(context.ui, record.subject, fields.subject);
  FormatCertName(context.ui, record.issuer, fields.issuer);
  fields.startDate = DateText(record.notBefore);
  fields.endDate = DateText(record.notAfter);
  ReadCertDetails(certificate, fields.details);

  C_DestroyCertObject(&certificate);
  vKVCertFreeCert(encoding);
  return 0;
}

}  // namespace kvapp
