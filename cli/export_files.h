// Export for servers: certificates and private keys as PEM files, private
// keys as PKCS #8 EncryptedPrivateKeyInfo (RFC 5208) with
// pbeWithSHA1AndDES-CBC (PKCS #5 v1.5, RFC 8018).
#ifndef KVCATOOL_CLI_EXPORT_FILES_H
#define KVCATOOL_CLI_EXPORT_FILES_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvcli {

// Iterations of the export encryption.
constexpr uint32_t kExportIterations = 2048;
// Largest certificate file export-cert reads.
constexpr size_t kMaxCertificateFile = 1 << 20;

// |length| bytes at |data| as PEM: "-----BEGIN <label>-----", the base64
// text in lines of 64 characters, "-----END <label>-----", each line ending
// in "\n". The result's storage is sized once, so a secret leaves no copy
// behind; the caller wipes it.
std::string PemBlock(const char* label, const unsigned char* data, size_t length);

// True when |data| is one DER SEQUENCE with a definite length that covers
// exactly |length| bytes (the outer shape of a certificate).
bool IsSingleDerSequence(const unsigned char* data, size_t length);

// Encrypts the DER PrivateKeyInfo |privateKey| under |password| with
// pbeWithSHA1AndDES-CBC, the 8-byte |salt| and |iterations|, and writes the
// DER EncryptedPrivateKeyInfo into |out| (capacity |*outLength|, length out).
// 0, the crypto toolkit's code, or Q_ERR_OUTPUT_LEN when |out| is too small.
int EncryptPrivateKeyInfo(const unsigned char* privateKey, size_t keyLength, const std::string& password,
                          const unsigned char salt[8], uint32_t iterations, unsigned char* out, size_t* outLength);

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
