#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kvplatform {

int OpenForReading(const char* path, OpenKind kind) {
  if (path == nullptr || path[0] == '\0') return -1;
  // O_NONBLOCK: opening a named pipe for reading would otherwise wait for a
  // writer, and a device may wait for its medium. Regular files ignore it.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool pipe = !regular && kind == OpenKind::kRegularFileOrPipe && S_ISFIFO(st.st_mode);
  if (!regular && !pipe) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  // Reads wait again as usual: a pipe's for its data (or its end when no
  // writer is left).
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::FILE* OpenStreamForReading(const char* path) {
  const int fd = OpenForReading(path);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

DescriptorCloser::~DescriptorCloser() {
  if (fd >= 0) ::close(fd);
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string& contents) {
  contents.clear();
  DescriptorCloser in(OpenForReading(path.c_str()));
  if (in.fd < 0) return false;
  // The size is a hint only (the file may grow while it is read): reading
  // stops one byte past |limit| whatever it said.
  struct stat st;
  if (::fstat(in.fd, &st) != 0 || st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > limit) return false;
  contents.reserve(static_cast<size_t>(st.st_size));
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(in.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) return true;
    if (static_cast<size_t>(n) > limit - contents.size()) break;
    contents.append(buffer, static_cast<size_t>(n));
  }
  contents.clear();
  return false;
}

}  // namespace kvplatform
