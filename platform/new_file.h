// Creating a new file whole: never over an existing file or through a link
// in its place, and never left half written.
#ifndef KVCATOOL_PLATFORM_NEW_FILE_H
#define KVCATOOL_PLATFORM_NEW_FILE_H

#include <sys/types.h>

#include <string>

namespace kvplatform {

enum class WriteResult { kWritten, kExists, kFailed };

// Creates the file |path| with |mode| (whatever the umask; never replacing
// an existing file or following a link in its place), writes |contents| and
// syncs it. A file that could not be written whole is removed again.
// kExists when something already stands at |path|.
WriteResult WriteNewFile(const std::string& path, const std::string& contents, mode_t mode);

}  // namespace kvplatform

#endif
