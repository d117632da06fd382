#include <time.h>

#include "sys/clock.h"

bool sys_local_time(std::int64_t t, SysLocalTime& out) {
  __time64_t tt = t;
  struct tm tm;
  if (_localtime64_s(&tm, &tt) != 0) return false;
  out = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return true;
}
