#include "platform/mounts.h"

#include <fstream>
#include <iterator>

namespace kvplatform {
namespace {

// Decodes the \ooo escapes the kernel writes for blanks and backslashes.
std::string Unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<MountEntry> ParseMounts(std::string_view text) {
  std::vector<MountEntry> entries;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;

    std::string_view fields[3];
    size_t count = 0, i = 0;
    while (count < 3 && i < line.size()) {
      while (i < line.size() && IsBlank(line[i])) ++i;
      size_t start = i;
      while (i < line.size() && !IsBlank(line[i])) ++i;
      if (i > start) fields[count++] = line.substr(start, i - start);
    }
    if (count < 3) continue;
    entries.push_back(MountEntry{Unescape(fields[0]), Unescape(fields[1]), Unescape(fields[2])});
  }
  return entries;
}

std::vector<MountEntry> ReadMounts() {
  std::ifstream in("/proc/self/mounts", std::ios::binary);
  if (!in) return {};
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseMounts(text);
}

const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, std::string_view path) {
  const MountEntry* best = nullptr;
  for (const MountEntry& entry : mounts) {
    std::string_view dir = entry.dir;
    bool holds = false;
    if (dir == "/") {
      holds = !path.empty() && path.front() == '/';
    } else if (path.substr(0, dir.size()) == dir) {
      holds = path.size() == dir.size() || path[dir.size()] == '/';
    }
    if (holds && (best == nullptr || dir.size() >= best->dir.size())) best = &entry;
  }
  return best;
}

}  // namespace kvplatform
