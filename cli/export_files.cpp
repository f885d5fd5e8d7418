#include "cli/export_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cryptokit/cryptokit.h"
#include "platform/file_io.h"
#include "cryptokit/qmemory.h"

namespace kvcli {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// pbeWithSHA1AndDES-CBC, 1.2.840.113549.1.5.10.
constexpr unsigned char kPbeOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0A};

// Bytes a DER length field of |length| takes.
size_t LengthOfLength(size_t length) {
  if (length < 0x80) return 1;
  size_t n = 1;
  for (size_t v = length; v != 0; v >>= 8) ++n;
  return n;
}

// Writes a DER tag and length at |p|; returns the position after them.
unsigned char* PutHeader(unsigned char* p, unsigned char tag, size_t length) {
  *p++ = tag;
  if (length < 0x80) {
    *p++ = static_cast<unsigned char>(length);
    return p;
  }
  const size_t count = LengthOfLength(length) - 1;
  *p++ = static_cast<unsigned char>(0x80 | count);
  for (size_t i = count; i > 0; --i) *p++ = static_cast<unsigned char>(length >> (8 * (i - 1)));
  return p;
}

size_t Element(size_t contentLength) { return 1 + LengthOfLength(contentLength) + contentLength; }

// The DER INTEGER contents of |value| (no leading zero unless the sign needs one).
size_t IntegerContents(uint32_t value, unsigned char (&bytes)[5]) {
  unsigned char raw[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                          static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  size_t start = 0;
  while (start < 3 && raw[start] == 0) ++start;
  size_t n = 0;
  if (raw[start] & 0x80) bytes[n++] = 0;
  for (size_t i = start; i < 4; ++i) bytes[n++] = raw[i];
  return n;
}

}  // namespace

std::string PemBlock(const char* label, const unsigned char* data, size_t length) {
  const std::string begin = std::string("-----BEGIN ") + label + "-----\n";
  const std::string end = std::string("-----END ") + label + "-----\n";
  const size_t chars = (length + 2) / 3 * 4;
  std::string out;
  out.reserve(begin.size() + chars + chars / 64 + 1 + end.size());
  out += begin;
  size_t column = 0;
  auto put = [&](char c) {
    out.push_back(c);
    if (++column == 64) {
      out.push_back('\n');
      column = 0;
    }
  };
  for (size_t i = 0; i < length; i += 3) {
    const uint32_t b0 = data[i];
    const uint32_t b1 = i + 1 < length ? data[i + 1] : 0;
    const uint32_t b2 = i + 2 < length ? data[i + 2] : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    put(kBase64[(triple >> 18) & 63]);
    put(kBase64[(triple >> 12) & 63]);
    put(i + 1 < length ? kBase64[(triple >> 6) & 63] : '=');
    put(i + 2 < length ? kBase64[triple & 63] : '=');
  }
  if (column != 0) out.push_back('\n');
  out += end;
  return out;
}

bool IsSingleDerSequence(const unsigned char* data, size_t length) {
  if (length < 2 || data[0] != 0x30) return false;
  size_t pos = 1;
  size_t content = data[pos++];
  if (content & 0x80) {
    const size_t count = content & 0x7F;
    // Definite lengths of one to four bytes, in their shortest form.
    if (count == 0 || count > 4 || pos + count > length || data[pos] == 0) return false;
    content = 0;
    for (size_t i = 0; i < count; ++i) content = (content << 8) | data[pos++];
    if (content < 0x80) return false;
  }
  return content == length - pos;
}

int EncryptPrivateKeyInfo(const unsigned char* privateKey, size_t keyLength, const std::string& password,
                          const unsigned char salt[8], uint32_t iterations, unsigned char* out, size_t* outLength) {
  if (keyLength == 0 || keyLength > 0xFFFF || password.size() > 0xFFFF) return Q_ERR_INPUT_LEN;
  // DES-CBC pads to the next multiple of 8 (always at least one byte).
  const size_t cipherLength = (keyLength / 8 + 1) * 8;
  unsigned char iterationBytes[5];
  const size_t iterationLength = IntegerContents(iterations, iterationBytes);
  const size_t paramsContent = Element(8) + Element(iterationLength);
  const size_t algorithmContent = Element(sizeof kPbeOid) + Element(paramsContent);
  const size_t infoContent = Element(algorithmContent) + Element(cipherLength);
  const size_t total = Element(infoContent);
  if (*outLength < total) {
    *outLength = total;
    return Q_ERR_OUTPUT_LEN;
  }

  unsigned char* p = PutHeader(out, 0x30, infoContent);
  p = PutHeader(p, 0x30, algorithmContent);
  p = PutHeader(p, 0x06, sizeof kPbeOid);
  std::memcpy(p, kPbeOid, sizeof kPbeOid);
  p += sizeof kPbeOid;
  p = PutHeader(p, 0x30, paramsContent);
  p = PutHeader(p, 0x04, 8);
  std::memcpy(p, salt, 8);
  p += 8;
  p = PutHeader(p, 0x02, iterationLength);
  std::memcpy(p, iterationBytes, iterationLength);
  p += iterationLength;
  p = PutHeader(p, 0x04, cipherLength);

  // The toolkit's PBE: the key object holds the password bytes.
  static const Q_ALGORITHM_METHOD* const kChooser[] = {&QM_SHA1, &QM_DESCBCEncrypt, nullptr};
  unsigned char saltCopy[8];
  std::memcpy(saltCopy, salt, sizeof saltCopy);
  Q_ALGORITHM_OBJ pbe = nullptr;
  Q_KEY_OBJ key = nullptr;
  uint32_t produced = 0, last = 0;
  int status = Q_CreateAlgorithmObject(&pbe);
  if (status == 0) {
    Q_PBE_PARAMS params{saltCopy, iterations};
    status = Q_SetAlgorithmInfo(pbe, QA_PBEWithSHA1AndDESCBC, &params);
  }
  if (status == 0) status = Q_CreateKeyObject(&key);
  if (status == 0) {
    Q_ITEM secret{reinterpret_cast<unsigned char*>(const_cast<char*>(password.data())),
                  static_cast<uint32_t>(password.size())};
    status = Q_SetKeyInfo(key, QK_Item, &secret);
  }
  if (status == 0) status = Q_EncryptInit(pbe, key, kChooser, nullptr);
  if (status == 0) {
    status = Q_EncryptUpdate(pbe, p, &produced, static_cast<uint32_t>(cipherLength), privateKey,
                             static_cast<uint32_t>(keyLength), nullptr, nullptr);
  }
  if (status == 0) {
    status = Q_EncryptFinal(pbe, p + produced, &last, static_cast<uint32_t>(cipherLength - produced), nullptr,
                            nullptr);
  }
  if (status == 0 && produced + last != cipherLength) status = Q_ERR_METHOD;
  Q_DestroyKeyObject(&key);
  Q_DestroyAlgorithmObject(&pbe);
  if (status != 0) {
    QMem_Wipe(out, total);
    return status;
  }
  *outLength = total;
  return 0;
}

WriteResult WriteNewFile(const std::string& path, const std::string& contents, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return errno == EEXIST ? WriteResult::kExists : WriteResult::kFailed;
  // The mode asked for, whatever the umask.
  bool ok = ::fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < contents.size()) {
    ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    ::unlink(path.c_str());
    return WriteResult::kFailed;
  }
  return WriteResult::kWritten;
}

bool ReadWholeFile(const std::string& path, size_t limit, std::string& contents) {
  return kvplatform::ReadRegularFile(path, limit, contents);
}

}  // namespace kvcli
