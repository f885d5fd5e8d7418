#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_write.h"

namespace kvplatform {
namespace {

// Settings files are small; anything larger is not ours and is not read.
constexpr size_t kMaxSettingsFileSize = 1 << 20;

bool ReadWholeFile(const std::string& path, std::string& contents) {
  return ReadRegularFile(path, kMaxSettingsFileSize, contents);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end + 1;
  }
  return lines;
}

// The entry prefix "<key>\t<value name>=" that a line of the value starts with.
std::string EntryPrefix(const std::string& key, const std::string& valueName) {
  return key + '\t' + valueName + '=';
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }


// Creates every missing directory above |path| (mode 0755).
void CreateParentDirectories(const std::string& path) {
  size_t pos = 0;
  while ((pos = path.find('/', pos + 1)) != std::string::npos) {
    std::string dir = path.substr(0, pos);
    ::mkdir(dir.c_str(), 0755);
  }
}

}  // namespace

FileSettingsStore::FileSettingsStore(std::string path) : path_(std::move(path)) {}

std::string FileSettingsStore::DefaultPath() {
  const char* env = std::getenv("KVCATOOL_SETTINGS");
  if (env != nullptr && env[0] != '\0') return env;
  return "/var/lib/kvcatool/settings";
}

bool FileSettingsStore::ReadValue(const std::string& key, const std::string& valueName, std::string& data) {
  std::string contents;
  if (!ReadWholeFile(path_, contents)) return false;
  const std::string prefix = EntryPrefix(key, valueName);
  for (const std::string& line : SplitLines(contents)) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      data = line.substr(prefix.size());
      return true;
    }
  }
  return false;
}

bool FileSettingsStore::WriteValue(const std::string& key, const std::string& valueName, const std::string& data) {
  // A line break would end the entry early; such data cannot be stored.
  if (path_.empty() || HasLineBreak(key) || HasLineBreak(valueName) || HasLineBreak(data) ||
      key.find('\t') != std::string::npos || valueName.find('=') != std::string::npos) {
    return false;
  }
  std::string contents;
  std::vector<std::string> lines;
  if (ReadWholeFile(path_, contents)) lines = SplitLines(contents);

  const std::string prefix = EntryPrefix(key, valueName);
  std::string out;
  bool replaced = false;
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      if (replaced) continue;  // keep one entry only
      out += prefix + data + '\n';
      replaced = true;
    } else {
      out += line + '\n';
    }
  }
  if (!replaced) out += prefix + data + '\n';

  CreateParentDirectories(path_);
  // Readable by everyone, like a machine-wide registry value.
  return ReplaceFileAtomically(path_, out.data(), out.size(), 0644) == ReplaceResult::kWritten;
}

std::string UserSettingsPath() {
  // Relative XDG directories are to be ignored, as are relative homes.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/kvcatool/settings";
  const char* home = std::getenv("HOME");
  std::string homeDir = home != nullptr ? home : "";
  if (homeDir.empty() || homeDir[0] != '/') {
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    homeDir.clear();
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
      homeDir = found->pw_dir;
    }
  }
  if (homeDir.empty()) return {};
  if (homeDir.back() == '/') homeDir.pop_back();
  return homeDir + "/.config/kvcatool/settings";
}

SettingsWithUserFallback::SettingsWithUserFallback(std::string machinePath, std::string userPath)
    : machine_(std::move(machinePath)), user_(std::move(userPath)) {}

bool SettingsWithUserFallback::ReadValue(const std::string& key, const std::string& valueName, std::string& data) {
  std::string machineValue, userValue;
  const bool inMachine = machine_.ReadValue(key, valueName, machineValue);
  const bool inUser = !user_.path().empty() && user_.path() != machine_.path() &&
                      user_.ReadValue(key, valueName, userValue);
  bool takeUser = inUser;
  if (inUser && inMachine) {
    // Both hold the value: the file written last holds the latest choice.
    struct stat machineInfo, userInfo;
    if (::stat(machine_.path().c_str(), &machineInfo) == 0 && ::stat(user_.path().c_str(), &userInfo) == 0) {
      const auto& m = machineInfo.st_mtim;
      const auto& u = userInfo.st_mtim;
      takeUser = u.tv_sec > m.tv_sec || (u.tv_sec == m.tv_sec && u.tv_nsec >= m.tv_nsec);
    }
  }
  if (takeUser) {
    data = userValue;
    return true;
  }
  if (inMachine) data = machineValue;
  return inMachine;
}

bool SettingsWithUserFallback::WriteValue(const std::string& key, const std::string& valueName,
                                          const std::string& data) {
  if (machine_.WriteValue(key, valueName, data)) return true;
  if (user_.path().empty() || user_.path() == machine_.path()) return false;
  std::string before;
  const bool changed = !user_.ReadValue(key, valueName, before) || before != data;
  if (!user_.WriteValue(key, valueName, data)) return false;
  if (changed && !noticeGiven_) noticePending_ = true;
  return true;
}

bool SettingsWithUserFallback::TakeFallbackNotice(std::string& where) {
  if (!noticePending_) return false;
  noticePending_ = false;
  noticeGiven_ = true;
  where = user_.path();
  return true;
}

}  // namespace kvplatform
