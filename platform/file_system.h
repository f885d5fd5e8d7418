// Files and directories as the certificate utility sees them. Paths use "/"
// as the separator.
#ifndef KVCATOOL_PLATFORM_FILE_SYSTEM_H
#define KVCATOOL_PLATFORM_FILE_SYSTEM_H

#include <string>
#include <vector>

namespace kvplatform {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // A file "exists" when it can be opened for reading.
  virtual bool CanOpenForReading(const std::string& path) = 0;
  // A directory search for exactly |path|: true when an entry of that name
  // (file or directory) is there.
  virtual bool Find(const std::string& path) = 0;
  // Creates one directory; its parent must exist. True on success.
  virtual bool CreateDirectory(const std::string& path) = 0;
  // The names of the plain files that match |wildcard|, a directory and a
  // pattern joined by "/" (for example "/srv/ca/*.crt"). "*" and "?" are the
  // wildcards, letters match without regard to case, and "*.*" matches every
  // name. Hidden files (names starting with ".") and everything that is not a
  // plain file are left out. Unsorted; empty when the directory cannot be read.
  virtual std::vector<std::string> ListFiles(const std::string& wildcard) = 0;
  // The process's working directory, ending in "/".
  virtual std::string WorkingDirectory() = 0;
};

class PosixFileSystem : public FileSystem {
 public:
  bool CanOpenForReading(const std::string& path) override;
  bool Find(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& wildcard) override;
  std::string WorkingDirectory() override;
};

// Case-insensitive wildcard match of a whole |name| against |pattern|.
bool MatchFilePattern(const std::string& pattern, const std::string& name);

// When |path| lies on removable media (under /media/, /run/media/ or /mnt/),
// the mount directory that holds it: /mnt/<name>, /media/<name> or
// /run/media/<user>/<name>. Empty otherwise.
std::string RemovableMountDirectory(const std::string& path);

}  // namespace kvplatform

#endif
