#include "platform/clock.h"

#include <ctime>

namespace kvplatform {
namespace {
ClockFunction g_clock = nullptr;
}

int64_t CalendarSeconds() {
  if (g_clock != nullptr) return g_clock();
  return static_cast<int64_t>(std::time(nullptr));
}

void SetClockForTest(ClockFunction clock) { g_clock = clock; }

}  // namespace kvplatform
