#include "platform/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kvplatform {
namespace {

bool WriteAll(int fd, const unsigned char* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

NewFileResult WriteNewFileAtomically(const std::string& path, const void* data, size_t length, mode_t mode) {
  struct stat existing;
  if (path.empty()) return NewFileResult::kFailed;
  if (::lstat(path.c_str(), &existing) == 0) return NewFileResult::kExists;
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return NewFileResult::kFailed;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, static_cast<const unsigned char*>(data), length) &&
            ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  // link() puts the whole file in place and, unlike rename(), refuses a
  // name that another process took in the meantime.
  int linkError = 0;
  if (ok && ::link(temp.c_str(), path.c_str()) != 0) {
    linkError = errno;
    ok = false;
  }
  ::unlink(temp.c_str());
  if (!ok) return linkError == EEXIST ? NewFileResult::kExists : NewFileResult::kFailed;
  const int dirFd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return NewFileResult::kWritten;
}

bool CanCreateFileAt(const std::string& path) {
  struct stat dir;
  const std::string parent = DirectoryOf(path);
  return !path.empty() && ::stat(parent.c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) &&
         ::access(parent.c_str(), W_OK | X_OK) == 0;
}

}  // namespace kvplatform
