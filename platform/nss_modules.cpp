#include "platform/nss_modules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file_io.h"
#include "platform/file_write.h"

namespace kvplatform {
namespace {


bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<ModuleEntry> ParseModuleList(const std::string& text) {
  std::vector<ModuleEntry> entries;
  bool open = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      open = false;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    std::string* field = nullptr;
    if (!open) {
      entries.emplace_back();
      open = true;
    }
    ModuleEntry& entry = entries.back();
    if (key == "library") field = &entry.library;
    if (key == "name") field = &entry.name;
    if (key == "parameters") field = &entry.parameters;
    if (field != nullptr) *field = std::move(value);
  }
  return entries;
}

std::string AppendTrustModuleEntry(const std::string& text, const std::string& library, const std::string& bundle) {
  std::string out = text;
  if (!out.empty() && out.back() != '\n') out += '\n';
  // An empty line ends the entry before ours.
  if (!out.empty() && out != "\n" && out.compare(out.size() - 2, 2, "\n\n") != 0) out += '\n';
  out += "library=" + library + "\n";
  out += std::string("name=") + kTrustModuleEntryName + "\n";
  out += "parameters=paths=" + bundle + "\n";
  out += "NSS=trustOrder=100\n\n";
  return out;
}

TrustModule TrustModule::FromEnvironment() {
  TrustModule module;
  const char* library = std::getenv("KVCATOOL_TRUST_MODULE");
  const char* bundle = std::getenv("KVCATOOL_CA_BUNDLE");
  if (library != nullptr && library[0] != '\0') {
    module.library = library;
  } else {
    module.library = kTrustModuleCandidates[0];
    for (const char* candidate : kTrustModuleCandidates) {
      if (IsRegularFile(candidate)) {
        module.library = candidate;
        break;
      }
    }
  }
  module.bundle = bundle != nullptr && bundle[0] != '\0' ? bundle : kDefaultCaBundle;
  return module;
}

bool TrustModule::Installed() const { return IsRegularFile(library); }

ModuleListRead ReadModuleList(const std::string& directory, std::string& text, mode_t& mode, uid_t& uid,
                              gid_t& gid) {
  text.clear();
  const std::string path = directory + "/" + kModuleListName;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? ModuleListRead::kMissing : ModuleListRead::kFailed;
  }
  if (!S_ISREG(st.st_mode) || st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > kMaxModuleList) {
    return ModuleListRead::kNotAFile;
  }
  mode = st.st_mode & 07777;
  uid = st.st_uid;
  gid = st.st_gid;
  return ReadRegularFile(path, kMaxModuleList, text) ? ModuleListRead::kRead : ModuleListRead::kFailed;
}

bool ReplaceModuleList(const std::string& directory, const std::string& text, mode_t mode, uid_t uid, gid_t gid,
                       std::string& problem) {
  const std::string path = directory + "/" + kModuleListName;
  std::string temp = directory + "/." + kModuleListName + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    problem = std::strerror(errno);
    return false;
  }
  // The old file's owner first (possible only for root, and needed only when
  // it differs), then its mode, whatever the umask.
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && (st.st_uid != uid || st.st_gid != gid)) ok = ::fchown(fd, uid, gid) == 0;
  ok = ok && ::fchmod(fd, mode) == 0 && WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    problem = std::strerror(error != 0 ? error : EIO);
    return false;
  }
  DescriptorCloser dirFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.fd >= 0) ::fsync(dirFd.fd);
  return true;
}

}  // namespace kvplatform
