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
  // A file "exists" when it is a regular file that can be opened for
  // reading (a pipe, a device or a directory in its place is refused).
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

// |path| cut before its last "." (wherever it is; all of it when there is
// none), then |extension| (".key"): the key file that belongs to a
// certificate file.
std::string PathWithExtension(const std::string& path, const std::string& extension);

// The entry of |files| that |path| names, its extension matched without
// regard to case: |path| when an entry of exactly that name is there, else
// the plain file of the same directory with the same name but for the case of
// its extension ("ROOT.KEY" for "ROOT.key"; the first in byte order when
// there are several), else |path| unchanged.
std::string MatchExtensionCase(FileSystem& files, const std::string& path);

// When |path| lies on removable media (under /media/, /run/media/ or /mnt/),
// the mount directory that holds it: /mnt/<name>, /media/<name> or
// /run/media/<user>/<name>. Empty otherwise.
std::string RemovableMountDirectory(const std::string& path);

}  // namespace kvplatform

#endif
