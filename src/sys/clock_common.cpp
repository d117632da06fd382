// Clocks that the C++ library offers on every platform.
#include <chrono>

#include "sys/clock.h"

std::int64_t sys_unix_now() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::uint64_t sys_ticks_ms() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
