// Export for servers: certificates and private keys as PEM files (the
// encrypted private key is made by the services' PBES2), and the file
// helpers of the exports.
#ifndef KVCATOOL_CLI_EXPORT_FILES_H
#define KVCATOOL_CLI_EXPORT_FILES_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/pem_text.h"

namespace kvcli {

// Largest certificate file export-cert reads.
constexpr size_t kMaxCertificateFile = 1 << 20;

// PEM text, shared with the application's CRL files.
using kvapp::PemBlock;

// True when |data| is one DER SEQUENCE with a definite length that covers
// exactly |length| bytes (the outer shape of a certificate).
bool IsSingleDerSequence(const unsigned char* data, size_t length);

enum class WriteResult { kWritten, kExists, kFailed };
// Creates the file |path| with |mode| (never replacing an existing file or
// following a link in its place) and writes |contents|. A file that could
// not be written whole is removed again.
WriteResult WriteNewFile(const std::string& path, const std::string& contents, mode_t mode);

// Reads a whole regular file of at most |limit| bytes. False when it cannot
// be read, is no regular file (a pipe or device is never waited on) or is
// larger.
bool ReadWholeFile(const std::string& path, size_t limit, std::string& contents);

}  // namespace kvcli

#endif
