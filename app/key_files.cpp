#include "app/key_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "app/utf8_text.h"
#include "services/kvservices.h"
#include "cryptokit/qmemory.h"

namespace kvapp {
namespace {

// Password buffers of the commands: room for the longest password the
// dialogs take (64 characters of up to 4 UTF-8 bytes, for a modern key file)
// and its terminator.
constexpr size_t kPasswordBufferSize = 4 * kModernPasswordMaxChars + 1;

// |password| in a zero-filled buffer with its terminator. The dialogs refuse
// longer passwords; should one come here, it is cut at a character boundary.
void CopyPassword(const std::string& password, char (&buffer)[kPasswordBufferSize]) {
  CopyTextCut(buffer, sizeof buffer, password);
}

}  // namespace

std::string KeyFileFor(const AppContext& context, const std::string& certPath) {
  return ExistingKeyFile(context, kvplatform::PathWithExtension(certPath, LoadString(1010)));
}

std::string ExistingKeyFile(const AppContext& context, const std::string& keyPath) {
  return kvplatform::MatchExtensionCase(context.files, keyPath);
}

int GenerateKeyFile(AppContext& context, int modulusBytes, unsigned char* publicKey, int* publicLength,
                    unsigned char* privateKey, int* privateLength, const std::string& keyPath,
                    const std::string& password) {
  if (errKVKeyGen(modulusBytes, publicKey, publicLength, privateKey, privateLength) != 0) {
    context.Error(2003);
    return -1;
  }
  return WriteKeyFile(context, publicKey, *publicLength, privateKey, privateLength, keyPath, password);
}

int GenerateModernKeyFile(AppContext& context, int modulusBits, unsigned char* publicKey, int* publicLength,
                          unsigned char* privateKey, int* privateLength, const std::string& keyPath,
                          const std::string& password) {
  if (errKVModernKeyGen(modulusBits, publicKey, publicLength, privateKey, privateLength) != 0) {
    context.Error(2003);
    return -1;
  }
  return WriteModernKeyFile(context, publicKey, *publicLength, privateKey, privateLength, keyPath, password);
}

int WriteModernKeyFile(AppContext& context, const unsigned char* publicKey, int publicLength,
                       const unsigned char* privateKey, const int* privateLength, const std::string& keyPath,
                       const std::string& password) {
  // The private key under PBES2 (PBKDF2-HMAC-SHA256, AES-256-CBC) in its own
  // record; the file appears whole or not at all.
  if (*privateLength <= 0 || *privateLength > kKeyBufferSize) {
    context.Error(2003);
    return -1;
  }
  char passwordCopy[kPasswordBufferSize];
  CopyPassword(password, passwordCopy);
  const int rc = errKVKeyFileWriteModern(keyPath.c_str(), privateKey, *privateLength, passwordCopy, publicKey,
                                         publicLength);
  QMem_Wipe(passwordCopy, sizeof passwordCopy);
  if (rc != 0) context.Error(FormatText(LoadString(2004), keyPath));
  return rc;
}

int WriteKeyFile(AppContext& context, const unsigned char* publicKey, int publicLength,
                 const unsigned char* privateKey, const int* privateLength, const std::string& keyPath,
                 const std::string& password) {
  // Encryption adds up to 8 bytes of padding; the result must fit the buffer.
  if (*privateLength < 0 || *privateLength > kKeyBufferSize - 8) {
    context.Error(2003);
    return -1;
  }
  unsigned char encrypted[kKeyBufferSize];
  int encryptedLength = kKeyBufferSize;
  char passwordCopy[kPasswordBufferSize];
  CopyPassword(password, passwordCopy);
  int rc = errKVPKCS5PBEncDnc(privateLength, privateKey, &encryptedLength, encrypted,
                              static_cast<int>(std::strlen(passwordCopy)),
                              reinterpret_cast<const unsigned char*>(passwordCopy), KV_PBE_ENCRYPT);
  QMem_Wipe(passwordCopy, sizeof passwordCopy);
  if (rc == 0) {
    // A key file this call starts and cannot finish (the public key record
    // failing after the private one was written) is removed again: a key
    // file without its public key is of no use and would block the name.
    struct stat existing;
    const bool existed = ::lstat(keyPath.c_str(), &existing) == 0;
    rc = errKVKeyFileAddPrivateKeyToEnd(keyPath.c_str(), encrypted, encryptedLength);
    if (rc == 0) {
      rc = errKVKeyFileAddPublicKeyToEnd(keyPath.c_str(), publicKey, publicLength);
      if (rc != 0 && !existed) ::unlink(keyPath.c_str());
      // A file that was there before is cut back to what it held.
      if (rc != 0 && existed && ::truncate(keyPath.c_str(), existing.st_size) != 0) rc = KV_KEYFILE_CANNOT_APPEND;
    }
    if (rc != 0) context.Error(FormatText(LoadString(2004), keyPath));
  }
  QMem_Wipe(encrypted, sizeof encrypted);
  return rc;
}

bool IsModernKeyFile(const std::string& keyPath) { return iKeyFileIsModern(keyPath.c_str()) == 1; }

int CheckRootKeyPassword(AppContext& context, const std::string& keyPath, const std::string& password) {
  if (!context.FileExists(keyPath)) {
    context.Error(FormatText("Certificate File <%s> Does not Exist \n\n", keyPath));
    return -1;
  }
  char passwordCopy[kPasswordBufferSize];
  CopyPassword(password, passwordCopy);
  unsigned char key[kKeyBufferSize];
  int keyLength = kKeyBufferSize;
  int rc = errKVKeyFileGetPrivateKeyEx(keyPath.c_str(), key, &keyLength, passwordCopy);
  QMem_Wipe(key, sizeof key);
  QMem_Wipe(passwordCopy, sizeof passwordCopy);
  return rc;
}

int CreateServerKeyFile(AppContext& context, const std::string& keyPath, const std::string& keyPassword) {
  if (context.FileExists(keyPath)) {
    context.Error(FormatText("Key File <%s> already exists \n\n", keyPath));
    return -1;
  }
  unsigned char publicKey[kKeyBufferSize];
  unsigned char privateKey[kKeyBufferSize];
  int publicLength = kKeyBufferSize;
  int privateLength = kKeyBufferSize;
  int rc = GenerateKeyFile(context, 128, publicKey, &publicLength, privateKey, &privateLength, keyPath, keyPassword);
  QMem_Wipe(publicKey, sizeof publicKey);
  QMem_Wipe(privateKey, sizeof privateKey);
  if (rc != 0) {
    context.Error("Failed to Create General RSA Key Pair: exiting\n");
    return -1;
  }
  return 0;
}

}  // namespace kvapp
