#include "platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "platform/file_io.h"

namespace kvplatform {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Iterative wildcard match with back-tracking to the last "*": linear in
// practice and without recursion, whatever the pattern.
bool Match(const std::string& p, const std::string& s) {
  size_t pi = 0, si = 0, starP = std::string::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && (p[pi] == '?' || (p[pi] != '*' && Lower(p[pi]) == Lower(s[si])))) {
      ++pi;
      ++si;
    } else if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starS = si;
    } else if (starP != std::string::npos) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

bool MatchFilePattern(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*") return true;  // every name, with or without a dot
  return Match(pattern, name);
}

bool PosixFileSystem::CanOpenForReading(const std::string& path) {
  // A directory, a pipe or a device is no file to read from.
  DescriptorCloser in(OpenForReading(path.c_str()));
  return in.fd >= 0;
}

bool PosixFileSystem::Find(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::CreateDirectory(const std::string& path) {
  return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

std::vector<std::string> PosixFileSystem::ListFiles(const std::string& wildcard) {
  std::vector<std::string> names;
  const size_t slash = wildcard.rfind('/');
  std::string dir;
  std::string pattern;
  if (slash == std::string::npos) {
    dir.assign(1, '.');
    pattern.assign(wildcard);
  } else {
    dir.assign(wildcard, 0, slash == 0 ? 1 : slash);  // "/x" lists the root
    pattern.assign(wildcard, slash + 1, std::string::npos);
  }
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent* entry = ::readdir(d)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (!MatchFilePattern(pattern, name)) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(name);
  }
  ::closedir(d);
  return names;
}

std::string PosixFileSystem::WorkingDirectory() {
  std::string dir;
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) != nullptr) dir = buffer;
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string PathWithExtension(const std::string& path, const std::string& extension) {
  const size_t dot = path.rfind('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + extension;
}

std::string MatchExtensionCase(FileSystem& files, const std::string& path) {
  if (files.Find(path)) return path;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return path;
  const std::string directory = path.substr(0, nameStart);
  const std::string name = path.substr(nameStart);
  const size_t stemLength = dot - nameStart;
  // The listing matches the extension without regard to case; the stem must
  // be the same byte for byte (wildcard characters in it match nothing more).
  std::string found;
  for (const std::string& candidate : files.ListFiles(directory + "*" + path.substr(dot))) {
    if (candidate.size() != name.size() || candidate.compare(0, stemLength, name, 0, stemLength) != 0) continue;
    if (!MatchFilePattern(name.substr(stemLength), candidate.substr(stemLength))) continue;
    if (found.empty() || candidate < found) found = candidate;  // the same choice whatever the listing order
  }
  return found.empty() ? path : directory + found;
}

std::string RemovableMountDirectory(const std::string& path) {
  struct Root {
    const char* prefix;
    int components;  // path components after the prefix that name the mount
  };
  for (const Root& root : {Root{"/run/media/", 2}, Root{"/media/", 1}, Root{"/mnt/", 1}}) {
    const std::string prefix = root.prefix;
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    size_t end = prefix.size();
    for (int i = 0; i < root.components; ++i) {
      size_t next = path.find('/', end);
      // A file directly in the mount root: the root itself holds it.
      if (next == std::string::npos || next == end) return prefix.substr(0, prefix.size() - 1);
      end = next + 1;
    }
    return path.substr(0, end - 1);
  }
  return {};
}

}  // namespace kvplatform
