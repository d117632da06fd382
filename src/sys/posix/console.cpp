#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "sys/console.h"

namespace {

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void sys_stop_signals_hold() {
  const sigset_t set = stop_signals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void sys_console_init(std::function<void()> on_stop) {
  ::signal(SIGPIPE, SIG_IGN);
  // Stop signals are taken by one thread with sigwait, so the handler may do
  // anything; every thread started after this inherits the blocked mask.
  const sigset_t set = stop_signals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, cb = std::move(on_stop)] {
    for (;;) {
      int sig = 0;
      if (::sigwait(&set, &sig) == 0) cb();
    }
  }).detach();
}

void sys_console_write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}
