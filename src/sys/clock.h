// Wall-clock and monotonic time. Re-entrant.
#pragma once

#include <cstdint>

// Current UTC time in Unix seconds.
std::int64_t sys_unix_now();
// Milliseconds from an arbitrary fixed point; never goes backwards.
std::uint64_t sys_ticks_ms();

struct SysLocalTime {
  int year, month, day, hour, minute, second;  // month 1..12
};
// Breaks Unix seconds down into local time. False for times the platform
// cannot represent.
bool sys_local_time(std::int64_t t, SysLocalTime& out);
