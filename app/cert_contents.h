// The contents of a certificate file as six lines of text, and the dialog
// fields that show them.
#ifndef KVCATOOL_APP_CERT_CONTENTS_H
#define KVCATOOL_APP_CERT_CONTENTS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/cert_info.h"
#include "app/context.h"

namespace kvapp {

// The fields of the certificate contents dialog ("Certificate Contents").
struct CertContentsFields {
  std::string issuer;        // 2053 "Issuer:"
  std::string serialNumber;  // 2056 "Serial Number:"
  std::string subject;       // 2052 "Subject:"
  std::string version;       // 2055 "Version:"
  std::string endDate;       // 2057 "End Date:"
  std::string startDate;     // 2054 "Start Date:"
  // Below the six fields: algorithms, key, fingerprints, extensions.
  CertDetails details;
  // PEM certificate blocks after the first one in the file, left unread.
  int skippedBlocks = 0;
};

// A serial number's content bytes as shown: as their characters when every
// byte is an upper-case hexadecimal digit (the serials this program issues),
// otherwise as upper-case hexadecimal, two digits a byte ("0A1B").
std::string SerialNumberText(const unsigned char* bytes, size_t length);

// "X.509 v1", "X.509 v2", "X.509 v3" for version numbers 0 to 2, else "unknown".
std::string VersionText(uint32_t version);

// |seconds| since 1970 (negative before 1970) in local time, in the form
// "Wed Jan 02 02:03:55 1980". Times after 2038 and after 2106 are rendered
// too; a time the platform cannot convert gives an empty text.
std::string DateText(int64_t seconds);

#ifdef KVAPP_CERT_COMMANDS
// Reads the certificate file |certPath| into |fields|. 0 on success; on
// failure an error box has been shown and the result is nonzero.
int ReadCertContents(AppContext& context, const std::string& certPath, CertContentsFields& fields);
#endif

}  // namespace kvapp

#endif
