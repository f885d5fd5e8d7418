// Writing a new file so that it appears whole or not at all: the bytes go to
// a temporary file beside it, which is flushed to the disk and then linked
// in under the final name, so a reader never sees a partial file and an
// existing file is never replaced.
#ifndef KVCATOOL_PLATFORM_FILE_WRITE_H
#define KVCATOOL_PLATFORM_FILE_WRITE_H

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace kvplatform {

enum class NewFileResult {
  kWritten,  // |path| holds exactly the bytes given
  kExists,   // something is at |path| already; it is left as it is
  kFailed,   // the file could not be written; nothing is left behind
};

// Creates |path| holding the |length| bytes at |data| with |mode| (whatever
// the umask), never over an existing file or link. On every failure the
// temporary file is removed.
NewFileResult WriteNewFileAtomically(const std::string& path, const void* data, size_t length, mode_t mode);

// Makes |path| hold exactly the |length| bytes at |data| with |mode|
// (whatever the umask), replacing what is there: the bytes go to a hidden
// temporary file beside it (".<name>.XXXXXX", so no reader that picks files
// by their extension takes it), which is flushed and renamed over |path|,
// and the directory is flushed. A failed write leaves the old file as it
// was and no temporary file. On failure |*error| (when not null) is the
// errno of the step that failed.
enum class ReplaceResult {
  kWritten,     // |path| holds exactly the bytes given
  kNotCreated,  // no file could be made beside |path| (a bad path, no such or no writable directory)
  kNotWritten,  // the bytes could not be written, flushed or put in place (a full disk)
};
ReplaceResult ReplaceFileAtomically(const std::string& path, const void* data, size_t length, mode_t mode,
                                    int* error = nullptr);

// Writes all |length| bytes at |data| to the descriptor |fd|, retrying
// interrupted and short writes. False when a write fails.
bool WriteAll(int fd, const void* data, size_t length);

// True when a file could be made at |path| now: its directory exists and
// may be written. A check before work that cannot be undone; the write can
// still fail (a full disk).
bool CanCreateFileAt(const std::string& path);

}  // namespace kvplatform

#endif
