// The trace sink: appends one line per call to the file named by
// KVCATOOL_TRACE, or does nothing when the variable is unset or empty.
#include "platform/trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

void KVTraceMessage(int /*level*/, int /*category*/, const char* module, int line, const char* format, ...) {
  const int savedErrno = errno;
  const char* path = std::getenv("KVCATOOL_TRACE");
  if (path == nullptr || path[0] == '\0') return;

  // Format first so a bad format cannot leave half a line in the file.
  char text[1024];
  text[0] = '\0';
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
  }
  // A line break inside the text would split the record; keep one line.
  for (char* p = text; *p != '\0'; ++p) {
    if (*p == '\n' || *p == '\r') *p = ' ';
  }

  char stamp[96] = "";
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) == 0) {
    tm parts{};
    if (gmtime_r(&now.tv_sec, &parts) != nullptr) {
      std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", parts.tm_year + 1900,
                    parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                    now.tv_nsec / 1000000L);
    }
  }

  if (FILE* out = std::fopen(path, "a")) {
    std::fprintf(out, "%s %s %d %s\n", stamp, module != nullptr ? module : "-", line, text);
    std::fclose(out);
  }
  errno = savedErrno;
}
