// The calendar clock: seconds since 1970-01-01 00:00:00 UTC as a signed
// 64-bit count, so that times after 2106 fit. Tests can put a fixed clock in
// its place.
#ifndef KVCATOOL_PLATFORM_CLOCK_H
#define KVCATOOL_PLATFORM_CLOCK_H

#include <cstdint>

namespace kvplatform {

int64_t CalendarSeconds();

// Replaces the clock with |clock| (null restores the system clock).
using ClockFunction = int64_t (*)();
void SetClockForTest(ClockFunction clock);

}  // namespace kvplatform

#endif
