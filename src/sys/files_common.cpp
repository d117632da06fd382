// Portable part of the file layer: the fault-injection seam used by tests.
#include <atomic>

#include "sys/files.h"

namespace {
std::atomic<int> g_failWrites{0};
std::atomic<int> g_failReplaces{0};

bool take(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}
}  // namespace

void sys_files_inject_failures(int writes, int replaces) {
  g_failWrites = writes;
  g_failReplaces = replaces;
}

bool sys_files_take_write_failure() { return take(g_failWrites); }
bool sys_files_take_replace_failure() { return take(g_failReplaces); }
