#include "app/pending_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "certkit/certkit.h"
#include "platform/file_system.h"
#include "platform/file_write.h"

namespace kvapp {
namespace {

constexpr char kHeader[] = "kvcatool pending record 1";
// A note is the DER in hexadecimal with a few lines around it; nothing
// larger is read.
constexpr size_t kMaxNoteBytes = 256 * 1024;
constexpr size_t kMaxSerialHex = 128;
// A note being written is locked within moments of being made; one unnamed
// and unlocked for this long was left by a stopped process.
constexpr time_t kAbandonedSeconds = 60;

std::string Hex(const unsigned char* data, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * length);
  for (size_t i = 0; i < length; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const std::string& text, std::vector<unsigned char>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return true;
}

bool IsSerialName(const std::string& name) {
  if (name.empty() || name.size() > kMaxSerialHex) return false;
  return std::all_of(name.begin(), name.end(), [](char c) { return HexDigit(c) >= 0; });
}

std::string NoteText(const PendingRecord& record) {
  const auto* path = reinterpret_cast<const unsigned char*>(record.certPath.data());
  return std::string(kHeader) + "\nserial " + record.serialHex + "\nprofile " + record.profile + "\npath " +
         Hex(path, record.certPath.size()) + "\nder " + Hex(record.der.data(), record.der.size()) + "\n" +
         (record.written ? "written\n" : "");
}

// The record of note text |text|; false when it is not a well-formed note.
bool ParseNote(const std::string& text, PendingRecord& record) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() < 5 || lines.size() > 6 || lines[0] != kHeader) return false;
  record.written = lines.size() == 6;
  if (record.written && lines[5] != "written") return false;
  auto value = [&](size_t i, const char* key, std::string& out) {
    const std::string prefix = std::string(key) + " ";
    if (lines[i].compare(0, prefix.size(), prefix) != 0) return false;
    out = lines[i].substr(prefix.size());
    return true;
  };
  std::string pathHex, derHex;
  std::vector<unsigned char> path;
  if (!value(1, "serial", record.serialHex) || !IsSerialName(record.serialHex) ||
      !value(2, "profile", record.profile) || (record.profile != "classic" && record.profile != "modern") ||
      !value(3, "path", pathHex) || !FromHex(pathHex, path) || path.empty() || !value(4, "der", derHex) ||
      !FromHex(derHex, record.der) || record.der.empty()) {
    return false;
  }
  record.certPath.assign(path.begin(), path.end());
  return record.certPath.find('\0') == std::string::npos;
}


// Reads the open note |fd| whole (at most kMaxNoteBytes).
bool ReadAll(int fd, std::string& text) {
  text.clear();
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (text.size() + static_cast<size_t>(n) > kMaxNoteBytes) return false;
    text.append(buffer, static_cast<size_t>(n));
  }
}

void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Opens |path| and takes its lock without waiting: the descriptor, or -1
// when it cannot be opened, is not a regular file, is held by another
// process, or was replaced or removed while it was being opened.
int OpenUnheld(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat opened, named;
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      ::lstat(path.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string PendingDirectoryFor(const std::string& rootCertPath) {
  return kvplatform::PathWithExtension(rootCertPath, ".pending");
}

PendingNote::Made PendingNote::Make(const std::string& rootCertPath, const PendingRecord& record) {
  Release();
  if (!IsSerialName(record.serialHex)) return Made::kCannotWrite;
  const std::string dir = PendingDirectoryFor(rootCertPath);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return Made::kCannotWrite;
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Made::kCannotWrite;
  std::string temp = dir + "/.new-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return Made::kCannotWrite;
  // The lock is taken before the note has its name, so no other process
  // ever sees it unheld while this one works on it.
  const std::string text = NoteText(record);
  bool ok = ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 && ::fchmod(fd, 0600) == 0 && ::flock(fd, LOCK_EX) == 0 &&
            kvplatform::WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  const std::string final = dir + "/" + record.serialHex;
  int linkError = 0;
  if (ok && ::link(temp.c_str(), final.c_str()) != 0) {
    linkError = errno;
    ok = false;
  }
  ::unlink(temp.c_str());
  if (!ok) {
    ::close(fd);
    return linkError == EEXIST ? Made::kSerialTaken : Made::kCannotWrite;
  }
  SyncDirectory(dir);
  path_ = final;
  fd_ = fd;
  return Made::kMade;
}

bool PendingNote::MarkWritten(const std::string& rootCertPath, const PendingRecord& record) {
  if (fd_ < 0) return false;
  PendingRecord marked = record;
  marked.written = true;
  std::string temp = PendingDirectoryFor(rootCertPath) + "/.new-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  // The new note is locked before it takes the name, as a new note is.
  const std::string text = NoteText(marked);
  bool ok = ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 && ::fchmod(fd, 0600) == 0 && ::flock(fd, LOCK_EX) == 0 &&
            kvplatform::WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0 && ::rename(temp.c_str(), path_.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    ::close(fd);
    return false;
  }
  SyncDirectory(path_.substr(0, path_.rfind('/')));
  ::close(fd_);
  fd_ = fd;
  return true;
}

void PendingNote::Remove() {
  if (fd_ < 0) return;
  // Not flushed: a removal lost to a power failure brings the note back,
  // and the next command finds its row and drops it again.
  ::unlink(path_.c_str());
  Release();
}

void PendingNote::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

LeftoverNote::~LeftoverNote() {
  if (fd_ >= 0) ::close(fd_);
}

LeftoverNote::LeftoverNote(LeftoverNote&& other) noexcept
    : record(std::move(other.record)), notePath(std::move(other.notePath)), fd_(other.fd_) {
  other.fd_ = -1;
}

void LeftoverNote::Remove() {
  if (fd_ < 0) return;
  ::unlink(notePath.c_str());
}

std::vector<LeftoverNote> TakeLeftoverNotes(const std::string& rootCertPath, std::vector<std::string>& unreadable) {
  std::vector<LeftoverNote> notes;
  const std::string dir = PendingDirectoryFor(rootCertPath);
  DIR* stream = ::opendir(dir.c_str());
  if (stream == nullptr) return notes;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(stream);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    const int fd = OpenUnheld(path);
    if (fd < 0) continue;
    if (name.compare(0, 5, ".new-") == 0) {
      // A note that was never given its name: its process was stopped
      // before the certificate was written. One just made may not be locked
      // yet, so only an old one goes.
      struct stat st;
      if (::fstat(fd, &st) == 0 && st.st_mtime + kAbandonedSeconds < std::time(nullptr)) ::unlink(path.c_str());
      ::close(fd);
      continue;
    }
    LeftoverNote note;
    note.fd_ = fd;
    note.notePath = path;
    std::string text;
    if (!IsSerialName(name) || !ReadAll(fd, text) || !ParseNote(text, note.record) || note.record.serialHex != name) {
      unreadable.push_back(path);
      continue;
    }
    notes.push_back(std::move(note));
  }
  return notes;
}

std::string SerialHexOf(const std::vector<unsigned char>& der) {
  if (der.empty() || der.size() > UINT32_MAX) return std::string();
  C_CERT_OBJ cert = nullptr;
  if (C_CreateCertObject(&cert, nullptr) != 0) return std::string();
  std::string serial;
  C_CERT_FIELDS fields;
  std::memset(&fields, 0, sizeof fields);
  if (C_SetCertBER(cert, der.data(), static_cast<uint32_t>(der.size())) == 0 && C_GetCertFields(cert, &fields) == 0 &&
      fields.serialNumber.data != nullptr && fields.serialNumber.len > 0 && fields.serialNumber.len * 2 <= kMaxSerialHex) {
    serial = Hex(fields.serialNumber.data, fields.serialNumber.len);
  }
  C_DestroyCertObject(&cert);
  return serial;
}

}  // namespace kvapp
