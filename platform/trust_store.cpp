#include "platform/trust_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_write.h"

namespace kvplatform {
namespace {

std::string ErrorText(int error) { return std::strerror(error); }

// A plain file name: no directory part, not "." or "..", not empty.
bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}


// The program |command| names: itself when it holds a "/", else the first
// executable file of that name in PATH (empty entries, which would mean the
// working directory, are skipped) or in /usr/sbin and /sbin, where the
// system's tools live even when PATH leaves them out. Empty when none.
std::string ResolveProgram(const std::string& command) {
  if (command.find('/') != std::string::npos) return command;
  const char* env = std::getenv("PATH");
  std::string list = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  list += ":/usr/sbin:/sbin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string dir = list.substr(start, end - start);
    if (!dir.empty() && dir[0] == '/') {
      const std::string candidate = dir + "/" + command;
      struct stat st;
      if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace

PosixSystemTrustStore::PosixSystemTrustStore(std::string directory, std::string command)
    : directory_(std::move(directory)), command_(std::move(command)) {
  while (directory_.size() > 1 && directory_.back() == '/') directory_.pop_back();
  if (directory_.empty()) directory_ = kDefaultAnchorsDirectory;
  if (command_.empty()) command_ = kDefaultRefreshCommand;
}

PosixSystemTrustStore PosixSystemTrustStore::FromEnvironment() {
  const char* dir = std::getenv("KVCATOOL_CA_DIR");
  const char* command = std::getenv("KVCATOOL_UPDATE_CA");
  return PosixSystemTrustStore(dir != nullptr ? dir : "", command != nullptr ? command : "");
}

bool PosixSystemTrustStore::WriteAnchor(const std::string& name, const std::string& contents, std::string& problem) {
  if (!PlainName(name)) {
    problem = "not a plain file name";
    return false;
  }
  // Readable by every program that reads the store, whatever the umask. The
  // temporary file is hidden and has no ".crt" ending, so the refresh never
  // takes a leftover for an anchor.
  int error = 0;
  if (ReplaceFileAtomically(directory_ + "/" + name, contents.data(), contents.size(), 0644, &error) !=
      ReplaceResult::kWritten) {
    problem = ErrorText(error);
    return false;
  }
  return true;
}

AnchorRead PosixSystemTrustStore::ReadAnchor(const std::string& name, size_t limit, std::string& contents) {
  contents.clear();
  if (!PlainName(name)) return AnchorRead::kFailed;
  const std::string path = directory_ + "/" + name;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? AnchorRead::kMissing : AnchorRead::kFailed;
  if (!S_ISREG(st.st_mode) || st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > limit) {
    return AnchorRead::kNotAFile;
  }
  return ReadRegularFile(path, limit, contents) ? AnchorRead::kRead : AnchorRead::kFailed;
}

bool PosixSystemTrustStore::RemoveAnchor(const std::string& name, std::string& problem) {
  if (!PlainName(name)) {
    problem = "not a plain file name";
    return false;
  }
  const std::string path = directory_ + "/" + name;
  if (::unlink(path.c_str()) != 0) {
    problem = ErrorText(errno);
    return false;
  }
  DescriptorCloser dirFd(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.fd >= 0) ::fsync(dirFd.fd);
  return true;
}

RefreshResult PosixSystemTrustStore::Refresh() {
  RefreshResult result;
  const std::string program = ResolveProgram(command_);
  if (program.empty()) {
    result.problem = "command not found";
    return result;
  }
  // Everything the child needs is made before the fork: between fork and
  // exec it only duplicates descriptors.
  DescriptorCloser devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  int output[2] = {-1, -1};
  int execStatus[2] = {-1, -1};
  if (devNull.fd < 0 || ::pipe2(output, O_CLOEXEC) != 0) {
    result.problem = ErrorText(errno);
    return result;
  }
  DescriptorCloser outRead(output[0]), outWrite(output[1]);
  if (::pipe2(execStatus, O_CLOEXEC) != 0) {
    result.problem = ErrorText(errno);
    return result;
  }
  DescriptorCloser statusRead(execStatus[0]), statusWrite(execStatus[1]);
  std::vector<char> path(program.begin(), program.end());
  path.push_back('\0');
  char* const argv[] = {path.data(), nullptr};

  const pid_t pid = ::fork();
  if (pid < 0) {
    result.problem = ErrorText(errno);
    return result;
  }
  if (pid == 0) {
    // dup2 clears close-on-exec on the copies; the originals close at exec.
    if (::dup2(devNull.fd, 0) < 0 || ::dup2(outWrite.fd, 1) < 0 || ::dup2(outWrite.fd, 2) < 0) _exit(127);
    ::execv(argv[0], argv);
    const int error = errno;
    (void)!::write(statusWrite.fd, &error, sizeof error);
    _exit(127);
  }
  ::close(outWrite.fd);
  outWrite.fd = -1;
  ::close(statusWrite.fd);
  statusWrite.fd = -1;

  // All of the output is read, so the command never waits on a full pipe;
  // only the first kMaxRefreshOutput bytes are kept.
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(outRead.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const size_t room = kMaxRefreshOutput - result.output.size();
    result.output.append(buffer, std::min(room, static_cast<size_t>(n)));
  }
  int childError = 0;
  ssize_t got;
  do {
    got = ::read(statusRead.fd, &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);

  if (got == static_cast<ssize_t>(sizeof childError)) {
    result.problem = ErrorText(childError);
    return result;
  }
  result.started = true;
  if (waited == pid && WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else if (waited == pid && WIFSIGNALED(status)) {
    result.problem = "killed by signal " + std::to_string(WTERMSIG(status));
  } else {
    result.problem = "its end could not be awaited";
  }
  return result;
}

}  // namespace kvplatform
