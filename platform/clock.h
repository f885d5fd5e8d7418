// The calendar clock: seconds since 1970-01-01 00:00:00 UTC as an unsigned
// 32-bit count. Tests can put a fixed clock in its place.
#ifndef KVCATOOL_PLATFORM_CLOCK_H
#define KVCATOOL_PLATFORM_CLOCK_H

#include <cstdint>

namespace kvplatform {

uint32_t CalendarSeconds();

// Replaces the clock with |clock| (null restores the system clock).
using ClockFunction = uint32_t (*)();
void SetClockForTest(ClockFunction clock);

}  // namespace kvplatform

#endif
