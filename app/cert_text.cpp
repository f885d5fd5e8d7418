// Texts of the contents display that need nothing from the toolkits.
#include <cstdio>
#include <ctime>

#include "app/cert_contents.h"

namespace kvapp {

std::string SerialNumberText(const unsigned char* bytes, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  bool ownForm = length > 0;
  for (size_t i = 0; i < length && ownForm; ++i) {
    ownForm = (bytes[i] >= '0' && bytes[i] <= '9') || (bytes[i] >= 'A' && bytes[i] <= 'F');
  }
  if (ownForm) return std::string(reinterpret_cast<const char*>(bytes), length);
  std::string text;
  text.reserve(2 * length);
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::string VersionText(uint32_t version) {
  switch (version) {
    case 0:
      return "X.509 v1";
    case 1:
      return "X.509 v2";
    case 2:
      return "X.509 v3";
    default:
      return "unknown";
  }
}

std::string DateText(int64_t seconds) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static_assert(sizeof(time_t) >= sizeof(int64_t), "dates need a 64-bit time_t");
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (localtime_r(&t, &local) == nullptr || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 ||
      local.tm_mon > 11) {
    return {};
  }
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %lld", kDays[local.tm_wday], kMonths[local.tm_mon],
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<long long>(local.tm_year) + 1900);
  return text;
}

}  // namespace kvapp
