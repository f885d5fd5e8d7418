#include "platform/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kvplatform {
namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Makes a rename or link in |path|'s directory durable.
void SyncDirectoryOf(const std::string& path) {
  const int dirFd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

ReplaceResult ReplaceFileAtomically(const std::string& path, const void* data, size_t length, mode_t mode,
                                    int* error) {
  auto fail = [error](ReplaceResult result, int code) {
    if (error != nullptr) *error = code != 0 ? code : EIO;
    return result;
  };
  if (path.empty() || path.back() == '/') return fail(ReplaceResult::kNotCreated, EINVAL);
  const size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string temp = directory + "." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return fail(ReplaceResult::kNotCreated, errno);
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data, length) && ::fsync(fd) == 0;
  int failure = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    failure = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    failure = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return fail(ReplaceResult::kNotWritten, failure);
  }
  SyncDirectoryOf(path);
  return ReplaceResult::kWritten;
}

NewFileResult WriteNewFileAtomically(const std::string& path, const void* data, size_t length, mode_t mode) {
  struct stat existing;
  if (path.empty()) return NewFileResult::kFailed;
  if (::lstat(path.c_str(), &existing) == 0) return NewFileResult::kExists;
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return NewFileResult::kFailed;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data, length) && ::fsync(fd) == 0;
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
  SyncDirectoryOf(path);
  return NewFileResult::kWritten;
}

bool CanCreateFileAt(const std::string& path) {
  struct stat dir;
  const std::string parent = DirectoryOf(path);
  return !path.empty() && ::stat(parent.c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) &&
         ::access(parent.c_str(), W_OK | X_OK) == 0;
}

}  // namespace kvplatform
