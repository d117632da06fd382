#include "sys/ui_thread.h"

#include <atomic>

unsigned long sys_thread_id() {
  static std::atomic<unsigned long> next{1};
  thread_local const unsigned long id = next.fetch_add(1);
  return id;
}

void sys_thread_pump_windows() {}

void sys_thread_close_windows(unsigned long) {}
