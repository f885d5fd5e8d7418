// Opening files for reading without ever stalling on what stands in a file's
// place, and closing them on every exit of a scope. Every reader of the
// program opens its files through here.
#ifndef KVCATOOL_PLATFORM_FILE_IO_H
#define KVCATOOL_PLATFORM_FILE_IO_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace kvplatform {

// What a reader takes in a file's place besides a regular file.
enum class OpenKind {
  kRegularFile,        // a regular file only (a symbolic link to one is followed)
  kRegularFileOrPipe,  // also a pipe, read as it delivers (a password piped in)
};

// Opens |path| for reading. The open itself never blocks: a named pipe or a
// device in the file's place is opened non-blocking, seen for what it is and
// closed again (unless |kind| admits a pipe, whose reads then wait for its
// writer as usual). Returns a close-on-exec descriptor the caller closes, or
// -1 when |path| is null or empty, cannot be opened or is the wrong kind.
int OpenForReading(const char* path, OpenKind kind = OpenKind::kRegularFile);

// The same as a binary stdio stream; null on failure. The caller closes it
// (FileCloser).
std::FILE* OpenStreamForReading(const char* path);

// Closes a stream, if any, when it goes out of scope.
struct FileCloser {
  std::FILE* file = nullptr;
  FileCloser() = default;
  explicit FileCloser(std::FILE* f) : file(f) {}
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  ~FileCloser() {
    if (file != nullptr) std::fclose(file);
  }
};

// Closes a descriptor, if any (not -1), when it goes out of scope.
struct DescriptorCloser {
  int fd = -1;
  DescriptorCloser() = default;
  explicit DescriptorCloser(int d) : fd(d) {}
  DescriptorCloser(const DescriptorCloser&) = delete;
  DescriptorCloser& operator=(const DescriptorCloser&) = delete;
  ~DescriptorCloser();
};

// Reads the whole regular file |path| into |contents|. False, with
// |contents| empty, when it cannot be opened, is not a regular file, holds
// more than |limit| bytes or a read fails. Nothing larger than |limit| is
// ever allocated.
bool ReadRegularFile(const std::string& path, size_t limit, std::string& contents);

}  // namespace kvplatform

#endif
