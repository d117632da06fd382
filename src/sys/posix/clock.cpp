#include <time.h>

#include "sys/clock.h"

bool sys_local_time(std::int64_t t, SysLocalTime& out) {
  time_t tt = static_cast<time_t>(t);
  if (static_cast<std::int64_t>(tt) != t) return false;  // beyond a 32-bit time_t
  struct tm tm;
  if (!localtime_r(&tt, &tm)) return false;
  out = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return true;
}
