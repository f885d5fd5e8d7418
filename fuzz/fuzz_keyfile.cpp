// The key-file reader and errKVKeyFileGetPrivateKeyEx on arbitrary file
// contents, classic (tag 2) and modern (tag 3) private records.
//
// Input: byte 0 chooses the password (low two bits: "", "secret",
// "correct horse battery", none); the rest is the key file. It is written to
// one fixed path in a temporary directory of this process, rewritten for
// every input.
//
// Properties:
// - errKVKeyFileGetPrivateKey and errKVKeyFileGetPublicKey agree with a
//   reference reader of the record format written here (status, length,
//   data) and write nothing past the record;
// - errKVKeyFileGetPrivateKeyEx gives the reader's status when the record
//   cannot be read; when it succeeds, the output is no longer than the
//   record and is a private key iKeyFromBER accepts; it never writes past
//   the record's length;
// - the public record, when there is one, imports as a public key or is
//   refused with "Invalid key data".
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "services/kvservices.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kPasswords[4] = {"", "secret", "correct horse battery", nullptr};

// The per-process directory and the one file in it.
struct TempFile {
  std::string dir, path;
  TempFile() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/fuzz_keyfile.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    FuzzCheck(mkdtemp(buf.data()) != nullptr);
    dir = buf.data();
    path = dir + "/key.kvk";
  }
  ~TempFile() {
    std::remove(path.c_str());
    rmdir(dir.c_str());
  }
  void Write(const uint8_t* data, size_t size) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    FuzzCheck(f != nullptr);
    FuzzCheck(size == 0 || std::fwrite(data, 1, size, f) == size);
    FuzzCheck(std::fclose(f) == 0);
  }
};

// The record format: marker 0x01, tag, two-byte big-endian length, data.
// The first record of |tag| is read; skipping a record of another tag that
// reaches the end of the file (or beyond) means the tag is not there.
int ReferenceRead(const uint8_t* file, size_t size, int tag, Bytes* out) {
  size_t offset = 0;
  for (;;) {
    if (size - offset < 4 || file[offset] != 0x01) return KV_KEYFILE_BAD_RECORD;
    const size_t length = file[offset + 2] * 256u + file[offset + 3];
    const int recordTag = file[offset + 1];
    offset += 4;
    if (recordTag != tag) {
      offset += length;
      if (offset >= size) return KV_KEYFILE_TAG_NOT_FOUND;
      continue;
    }
    if (length > KV_KEYFILE_MAX_DATA || size - offset < length) return KV_KEYFILE_BAD_RECORD;
    out->assign(file + offset, file + offset + length);
    return 0;
  }
}

constexpr uint8_t kFill = 0xA5;
constexpr size_t kSlack = 64;

// Runs one of the readers into a filled buffer with room past the 4096
// bytes, and checks it against the reference.
void CheckReader(int (*reader)(const char*, unsigned char*, int*), const TempFile& file, const uint8_t* data,
                 size_t size, int tag, Bytes* record, int* status) {
  Bytes buffer(KV_KEYFILE_MAX_DATA + kSlack, kFill);
  int length = -7;
  *status = reader(file.path.c_str(), buffer.data(), &length);
  const int expected = ReferenceRead(data, size, tag, record);
  FuzzCheck(*status == expected);
  if (*status == 0) {
    FuzzCheck(length == static_cast<int>(record->size()));
    FuzzCheck(fuzz::SameBytes(buffer.data(), record->size(), record->data(), record->size()));
  } else {
    FuzzCheck(length == -7);
  }
  // A record cut short may have been read in part (cipher text or a public
  // key, nothing secret); nothing goes past the 4096 bytes.
  const size_t written = *status == 0 ? record->size() : KV_KEYFILE_MAX_DATA;
  for (size_t i = written; i < buffer.size(); ++i) FuzzCheck(buffer[i] == kFill);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TempFile file;
  fuzz::Reader in{data, size};
  const char* password = kPasswords[in.Byte() & 3];
  const uint8_t* contents = in.data;
  const size_t contentsSize = in.size;
  file.Write(contents, contentsSize);

  Bytes privateRecord, publicRecord;
  int privateStatus = 0, publicStatus = 0;
  CheckReader(errKVKeyFileGetPrivateKey, file, contents, contentsSize, KV_KEYFILE_TAG_ENCRYPTED_PRIVATE,
              &privateRecord, &privateStatus);
  CheckReader(errKVKeyFileGetPublicKey, file, contents, contentsSize, KV_KEYFILE_TAG_PUBLIC, &publicRecord,
              &publicStatus);

  // Without a classic private record the modern one (tag 3) is read.
  if (privateStatus == KV_KEYFILE_TAG_NOT_FOUND) {
    privateStatus = ReferenceRead(contents, contentsSize, KV_KEYFILE_TAG_MODERN_PRIVATE, &privateRecord);
  }

  // The decrypted private key.
  Bytes buffer(KV_KEYFILE_MAX_DATA + kSlack, kFill);
  int length = -7;
  const int status = errKVKeyFileGetPrivateKeyEx(file.path.c_str(), buffer.data(), &length, password);
  if (privateStatus != 0) {
    FuzzCheck(status == privateStatus);
  } else if (status == 0) {
    FuzzCheck(length >= 0 && static_cast<size_t>(length) <= privateRecord.size());
    Q_KEY_OBJ key = nullptr;
    FuzzCheck(iKeyFromBER(buffer.data(), length, &key, KV_KEYTYPE_PRIVATE_PKCS8) == 0);
    Q_DestroyKeyObject(&key);
  } else {
    // A wrong password or a damaged record: a toolkit code, never a
    // key-file code.
    FuzzCheck(status >= 512 && status < 1024);
  }
  for (size_t i = privateStatus == 0 ? privateRecord.size() : 0; i < buffer.size(); ++i) {
    FuzzCheck(buffer[i] == kFill);
  }

  if (publicStatus == 0) {
    Q_KEY_OBJ key = nullptr;
    const int keyStatus = iKeyFromBER(publicRecord.data(), static_cast<int>(publicRecord.size()), &key,
                                      KV_KEYTYPE_PUBLIC_SPKI);
    FuzzCheck(keyStatus == 0 || keyStatus == KV_KEY_INVALID_DATA);
    Q_DestroyKeyObject(&key);
  }
  return 0;
}
