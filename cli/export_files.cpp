#include "cli/export_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"

namespace kvcli {
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
