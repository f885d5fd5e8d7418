#include "platform/help_file.h"

#include <unistd.h>

#include <climits>

namespace kvplatform {

std::string HelpFilePathFor(const std::string& executablePath) {
  if (executablePath.empty()) return {};
  size_t slash = executablePath.rfind('/');
  size_t dot = executablePath.rfind('.');
  std::string base = executablePath;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) base.resize(dot);
  return base + ".hlp";
}

std::string HelpFilePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return HelpFilePathFor(std::string(buffer, static_cast<size_t>(n)));
}

}  // namespace kvplatform
