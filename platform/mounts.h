// The table of mounted file systems (/proc/self/mounts).
#ifndef KVCATOOL_PLATFORM_MOUNTS_H
#define KVCATOOL_PLATFORM_MOUNTS_H

#include <string>
#include <string_view>
#include <vector>

namespace kvplatform {

struct MountEntry {
  std::string source;  // device or pseudo file system name
  std::string dir;     // mount point
  std::string type;    // file system type, e.g. "ext4"
};

// Parses the text of a mounts table: one entry a line, fields separated by
// blanks, octal escapes such as \040 decoded. Lines with fewer than three
// fields are skipped.
std::vector<MountEntry> ParseMounts(std::string_view text);

// Reads and parses /proc/self/mounts; empty when it cannot be read.
std::vector<MountEntry> ReadMounts();

// The entry whose mount point is the longest prefix of the absolute |path|
// (the last one wins among equal mount points, as later mounts hide earlier
// ones); null when none matches.
const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, std::string_view path);

}  // namespace kvplatform

#endif
