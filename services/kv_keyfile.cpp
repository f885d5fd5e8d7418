// Key files: a sequence of tagged records, nothing before, between or after
// them. One record is the marker 0x01, the tag (1 public key, 2 classic
// encrypted private key, 3 modern encrypted private key), the data length as
// two big-endian bytes (0 to 4096), then the data.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <string>

#include "platform/file_io.h"
#include "services/kv_der.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kTraceModule[] = "kv_keyfile";
constexpr unsigned char kRecordMarker = 0x01;

// Key files hold a private key: only their owner may read them, whatever
// the umask would allow.
constexpr mode_t kKeyFileMode = 0600;

// Appends one record to |out|; false when the data is too long for one.
bool AppendRecord(kvder::Bytes* out, int tag, const unsigned char* data, int length) {
  if (length < 0 || length > KV_KEYFILE_MAX_DATA || (length > 0 && data == nullptr)) return false;
  const unsigned char header[4] = {kRecordMarker, static_cast<unsigned char>(tag),
                                   static_cast<unsigned char>(length / 256), static_cast<unsigned char>(length & 0xFF)};
  out->insert(out->end(), header, header + sizeof header);
  if (length > 0) out->insert(out->end(), data, data + length);
  return true;
}

// Writes |contents| as the key file |path|: first whole, under a temporary
// name in the same directory with mode 0600, synced to the device, and then
// either linked in place (|replace| false: never over an existing file) or
// renamed over the old file (|replace| true). A failure at any step removes
// the temporary file and leaves |path| as it was.
bool WriteKeyFileAtomically(const char* path, const kvder::Bytes& contents, bool replace) {
  std::string pattern = std::string(path) + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, kKeyFileMode) == 0;
  size_t done = 0;
  while (ok && done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) {
    if (replace) {
      ok = ::rename(pattern.c_str(), path) == 0;
    } else {
      ok = ::link(pattern.c_str(), path) == 0;
      ::unlink(pattern.c_str());
      return ok;
    }
  }
  if (!ok) ::unlink(pattern.c_str());
  return ok;
}

}  // namespace

int iAddKeyToEndOfKeyFile(const char* path, int tag, const unsigned char* data, int length) {
  KV_TRACE("iAddKeyToEndOfKeyFile(): ENTER");
  if (length < 0 || length > KV_KEYFILE_MAX_DATA || (length > 0 && data == nullptr)) {
    KV_TRACE("iAddKeyToEndOfKeyFile(): BAD KEY LEN");
    return KV_KEYFILE_DATA_TOO_LONG;
  }
  // Opened for appending and created when absent, as fopen(path, "ab+")
  // would, but never through a symbolic link (a key must not land in a file
  // the link points to). Whether the file was made here, and its length
  // before, let a failed write leave it as it was.
  bool created = false;
  int fd = -1;
  if (path != nullptr) {
    // O_NONBLOCK keeps a pipe in the file's place from stalling the open;
    // anything but a regular file is refused below, and for regular files
    // the flag changes nothing.
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kKeyFileMode);
    created = fd >= 0;
    // The umask may only take bits away; a umask that took the owner's
    // would leave a key file its owner cannot read back.
    if (created && ::fchmod(fd, kKeyFileMode) != 0) {
      ::close(fd);
      ::unlink(path);
      fd = -1;
      created = false;
    }
    if (fd < 0 && errno == EEXIST) fd = ::open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }
  struct stat before;
  if (fd >= 0 && (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  FILE* file = fd >= 0 ? ::fdopen(fd, "ab") : nullptr;
  if (file == nullptr) {
    if (fd >= 0) ::close(fd);
    if (created) ::unlink(path);
    KV_TRACE("iAddKeyToEndOfKeyFile(): No file pointer");
    return KV_KEYFILE_CANNOT_APPEND;
  }
  const unsigned char header[4] = {kRecordMarker, static_cast<unsigned char>(tag & 0xFF),
                                   static_cast<unsigned char>(length / 256), static_cast<unsigned char>(length & 0xFF)};
  // A short write or a failed flush (a full disk, for one) would leave the
  // key unsaved; it is reported, not passed off as success, and the part of
  // the record that did reach the file is cut off again (a file made here
  // is removed), so no half record stays behind.
  bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header;
  if (written && length > 0) {
    written = std::fwrite(data, 1, static_cast<size_t>(length), file) == static_cast<size_t>(length);
  }
  written = std::fflush(file) == 0 && written;
  if (!written) {
    if (created) {
      ::unlink(path);
    } else if (::ftruncate(fileno(file), before.st_size) != 0) {
      KV_TRACE("iAddKeyToEndOfKeyFile(): Error cutting off the partial record");
    }
  }
  written = std::fclose(file) == 0 && written;
  if (!written) {
    KV_TRACE("iAddKeyToEndOfKeyFile(): Error writing the record");
    return KV_KEYFILE_CANNOT_APPEND;
  }
  KV_TRACE("iAddKeyToEndOfKeyFile(): EXIT");
  return 0;
}

int iGetKeyFromKeyFile(const char* path, int tag, unsigned char* buffer, int* length) {
  KV_TRACE("iGetKeyFromKeyFile(): ENTER");
  // Only a regular file is read: a pipe or device in its place would stall.
  kvplatform::FileCloser in(kvplatform::OpenStreamForReading(path));
  if (in.file == nullptr) {
    KV_TRACE("iGetKeyFromKeyFile(): Error opening file");
    return KV_KEYFILE_CANNOT_READ;
  }
  // The file's size tells whether skipping a record reaches its end.
  long size = -1;
  if (std::fseek(in.file, 0, SEEK_END) == 0) size = std::ftell(in.file);
  if (size < 0 || std::fseek(in.file, 0, SEEK_SET) != 0) {
    KV_TRACE("iGetKeyFromKeyFile(): Error opening file");
    return KV_KEYFILE_CANNOT_READ;
  }

  long offset = 0;
  for (;;) {
    unsigned char header[4];
    if (std::fread(header, 1, sizeof header, in.file) != sizeof header || header[0] != kRecordMarker) {
      KV_TRACE("iGetKeyFromKeyFile(): expected a key");
      return KV_KEYFILE_BAD_RECORD;
    }
    offset += 4;
    const int recordLength = header[2] * 256 + header[3];
    if (header[1] != static_cast<unsigned char>(tag & 0xFF)) {
      offset += recordLength;
      if (offset >= size || std::fseek(in.file, offset, SEEK_SET) != 0) {
        KV_TRACE("iGetKeyFromKeyFile(): Tag not found");
        return KV_KEYFILE_TAG_NOT_FOUND;
      }
      continue;
    }
    if (recordLength > KV_KEYFILE_MAX_DATA) {
      KV_TRACE("iGetKeyFromKeyFile(): key in file too long.");
      return KV_KEYFILE_BAD_RECORD;
    }
    if (recordLength > 0 && (buffer == nullptr ||
                             std::fread(buffer, 1, static_cast<size_t>(recordLength), in.file) !=
                                 static_cast<size_t>(recordLength))) {
      KV_TRACE("iGetKeyFromKeyFile(): Unexpected length of data");
      return KV_KEYFILE_BAD_RECORD;
    }
    if (length != nullptr) *length = recordLength;
    KV_TRACE("iGetKeyFromKeyFile(): EXIT [%d bytes read]", recordLength);
    return 0;
  }
}

int errKVKeyFileAddPrivateKeyToEnd(const char* path, const unsigned char* data, int length) {
  KV_TRACE("errKVKeyFileAddPrivateKeyToEnd(): ENTER");
  int status = iAddKeyToEndOfKeyFile(path, KV_KEYFILE_TAG_ENCRYPTED_PRIVATE, data, length);
  if (status != 0) KV_TRACE("errKVKeyFileAddPrivateKeyToEnd(): Error in iAddKeyToEndOfKeyFile [%d]", status);
  KV_TRACE("errKVKeyFileAddPrivateKeyToEnd(): EXIT");
  return status;
}

int errKVKeyFileAddPublicKeyToEnd(const char* path, const unsigned char* data, int length) {
  KV_TRACE("errKVKeyFileAddPublicKeyToEnd(): ENTER");
  int status = iAddKeyToEndOfKeyFile(path, KV_KEYFILE_TAG_PUBLIC, data, length);
  if (status != 0) KV_TRACE("errKVKeyFileAddPublicKeyToEnd(): Error in iAddKeyToEndOfKeyFile [%d]", status);
  KV_TRACE("errKVKeyFileAddPublicKeyToEnd(): EXIT");
  return status;
}

int errKVKeyFileGetPrivateKey(const char* path, unsigned char* buffer, int* length) {
  KV_TRACE("errKVKeyFileGetPrivateKey(): ENTER");
  int status = iGetKeyFromKeyFile(path, KV_KEYFILE_TAG_ENCRYPTED_PRIVATE, buffer, length);
  if (status != 0) KV_TRACE("errKVKeyFileGetPrivateKey(): Error in iGetKeyFromKeyFile [%d]", status);
  KV_TRACE("errKVKeyFileGetPrivateKey(): EXIT");
  return status;
}

int errKVKeyFileGetPublicKey(const char* path, unsigned char* buffer, int* length) {
  KV_TRACE("errKVKeyFileGetPublicKey(): ENTER");
  int status = iGetKeyFromKeyFile(path, KV_KEYFILE_TAG_PUBLIC, buffer, length);
  if (status != 0) KV_TRACE("errKVKeyFileGetPublicKey(): Error in iGetKeyFromKeyFile [%d]", status);
  KV_TRACE("errKVKeyFileGetPublicKey(): EXIT");
  return status;
}

int errKVKeyFileGetPrivateKeyEx(const char* path, unsigned char* buffer, int* length, const char* password) {
  KV_TRACE("errKVKeyFileGetPrivateKeyEx(): ENTER");
  unsigned char record[KV_KEYFILE_MAX_DATA] = {};
  int recordLength = 0;
  int status = iGetKeyFromKeyFile(path, KV_KEYFILE_TAG_ENCRYPTED_PRIVATE, record, &recordLength);
  bool modern = false;
  if (status == KV_KEYFILE_TAG_NOT_FOUND) {
    status = iGetKeyFromKeyFile(path, KV_KEYFILE_TAG_MODERN_PRIVATE, record, &recordLength);
    modern = status == 0;
  }
  if (modern) {
    // A modern record: an EncryptedPrivateKeyInfo under PBES2.
    const int passwordLength = password != nullptr ? static_cast<int>(std::strlen(password)) : 0;
    status = errKVPKCS8DecryptPBES2(recordLength, record, passwordLength,
                                    reinterpret_cast<const unsigned char*>(password), buffer, length);
    if (status != 0) KV_TRACE("errKVKeyFileGetPrivateKeyEx(): Error in errKVPKCS8DecryptPBES2 [%d]", status);
  } else if (status != 0) {
    KV_TRACE("Failed to Retrieve Encrypted Private Key");
  } else {
    const int passwordLength = password != nullptr ? static_cast<int>(std::strlen(password)) : 0;
    status = errKVPKCS5PBEncDnc(&recordLength, record, length, buffer, passwordLength,
                                reinterpret_cast<const unsigned char*>(password), KV_PBE_DECRYPT);
    if (status != 0) {
      KV_TRACE("errKVKeyFileGetPrivateKeyEx(): Error in errKVPKCS5PBEncDnc [%d]", status);
    } else {
      // Valid padding alone lets about one wrong password in 256 through; the
      // output must also be a private key, or the password is wrong.
      Q_KEY_OBJ key = nullptr;
      const int keyStatus = iKeyFromBER(buffer, *length, &key, KV_KEYTYPE_PRIVATE_PKCS8);
      Q_DestroyKeyObject(&key);
      if (keyStatus != 0) {
        KV_TRACE("errKVKeyFileGetPrivateKeyEx(): Decrypted data is not a private key [%d]", keyStatus);
        QMem_Wipe(buffer, static_cast<size_t>(recordLength));
        *length = 0;
        status = Q_ERR_INPUT_DATA;
      }
    }
  }
  QMem_Wipe(record, sizeof record);
  KV_TRACE("errKVKeyFileGetPrivateKeyEx(): EXIT");
  return status;
}

int iKeyFileIsModern(const char* path) {
  unsigned char record[KV_KEYFILE_MAX_DATA];
  int recordLength = 0;
  const int modern = iGetKeyFromKeyFile(path, KV_KEYFILE_TAG_ENCRYPTED_PRIVATE, record, &recordLength) != 0 &&
                     iGetKeyFromKeyFile(path, KV_KEYFILE_TAG_MODERN_PRIVATE, record, &recordLength) == 0;
  QMem_Wipe(record, sizeof record);
  return modern ? 1 : 0;
}

// The records of a key file: the encrypted private key under |password| in
// the classic or modern form, then the public key.
static int BuildKeyFile(kvder::Bytes* out, bool modern, const unsigned char* privateKey, int privateLength,
                        const char* password, const unsigned char* publicKey, int publicLength) {
  if (privateLength <= 0 || privateLength > KV_KEYFILE_MAX_DATA || privateKey == nullptr || publicLength < 0 ||
      publicLength > KV_KEYFILE_MAX_DATA) {
    return KV_KEYFILE_DATA_TOO_LONG;
  }
  const int passwordLength = password != nullptr ? static_cast<int>(std::strlen(password)) : 0;
  const auto* secret = reinterpret_cast<const unsigned char*>(password);
  kvder::Bytes encrypted(static_cast<size_t>(KV_KEYFILE_MAX_DATA) + 64);
  int encryptedLength = static_cast<int>(encrypted.size());
  int status = modern ? errKVPKCS8EncryptPBES2(privateLength, privateKey, passwordLength, secret, KV_PBES2_ITERATIONS,
                                               encrypted.data(), &encryptedLength)
                      : errKVPKCS5PBEncDnc(&privateLength, privateKey, &encryptedLength, encrypted.data(),
                                           passwordLength, secret, KV_PBE_ENCRYPT);
  if (status != 0) return status;
  out->reserve(8 + static_cast<size_t>(encryptedLength + publicLength));
  if (!AppendRecord(out, modern ? KV_KEYFILE_TAG_MODERN_PRIVATE : KV_KEYFILE_TAG_ENCRYPTED_PRIVATE,
                    encrypted.data(), encryptedLength) ||
      !AppendRecord(out, KV_KEYFILE_TAG_PUBLIC, publicKey, publicLength)) {
    return KV_KEYFILE_DATA_TOO_LONG;
  }
  return 0;
}

int errKVKeyFileWriteModern(const char* path, const unsigned char* privateKey, int privateLength,
                            const char* password, const unsigned char* publicKey, int publicLength) {
  KV_TRACE("errKVKeyFileWriteModern(): ENTER");
  if (path == nullptr) return KV_KEYFILE_CANNOT_APPEND;
  kvder::Bytes contents;
  int status = BuildKeyFile(&contents, true, privateKey, privateLength, password, publicKey, publicLength);
  if (status != 0) {
    KV_TRACE("errKVKeyFileWriteModern(): Error building the records [%d]", status);
    return status;
  }
  if (!WriteKeyFileAtomically(path, contents, false)) {
    KV_TRACE("errKVKeyFileWriteModern(): Error writing the file");
    return KV_KEYFILE_CANNOT_APPEND;
  }
  KV_TRACE("errKVKeyFileWriteModern(): EXIT");
  return 0;
}

int errKVKeyFileChangePassword(const char* path, const char* oldPassword, const char* newPassword, int upgrade) {
  KV_TRACE("errKVKeyFileChangePassword(): ENTER");
  if (path == nullptr) return KV_KEYFILE_CANNOT_READ;
  unsigned char publicKey[KV_KEYFILE_MAX_DATA];
  int publicLength = 0;
  int status = iGetKeyFromKeyFile(path, KV_KEYFILE_TAG_PUBLIC, publicKey, &publicLength);
  if (status != 0) {
    KV_TRACE("errKVKeyFileChangePassword(): Error reading the public key [%d]", status);
    return status;
  }
  const bool modern = upgrade == 1 || iKeyFileIsModern(path) == 1;
  kvder::Bytes privateKey(KV_KEYFILE_MAX_DATA);
  int privateLength = KV_KEYFILE_MAX_DATA;
  status = errKVKeyFileGetPrivateKeyEx(path, privateKey.data(), &privateLength, oldPassword);
  if (status != 0) {
    KV_TRACE("errKVKeyFileChangePassword(): Error in errKVKeyFileGetPrivateKeyEx [%d]", status);
    return status;
  }
  kvder::Bytes contents;
  status = BuildKeyFile(&contents, modern, privateKey.data(), privateLength, newPassword, publicKey, publicLength);
  if (status != 0) {
    KV_TRACE("errKVKeyFileChangePassword(): Error building the records [%d]", status);
    return status;
  }
  if (!WriteKeyFileAtomically(path, contents, true)) {
    KV_TRACE("errKVKeyFileChangePassword(): Error replacing the file");
    return KV_KEYFILE_CANNOT_REPLACE;
  }
  KV_TRACE("errKVKeyFileChangePassword(): EXIT");
  return 0;
}

int iFileExists(const char* path) {
  KV_TRACE("iFileExists(): ENTER");
  const kvplatform::FileCloser file(kvplatform::OpenStreamForReading(path));
  const int exists = file.file != nullptr ? 1 : 0;
  KV_TRACE("iFileExists(): EXIT");
  return exists;
}
