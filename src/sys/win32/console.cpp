#include <windows.h>

#include <cstdio>

#include "sys/console.h"

namespace {
std::function<void()> g_onStop;

BOOL WINAPI on_ctrl(DWORD) {
  if (g_onStop) g_onStop();
  return TRUE;
}
}  // namespace

void sys_stop_signals_hold() {}

void sys_console_init(std::function<void()> on_stop) {
  g_onStop = std::move(on_stop);
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCtrlHandler(on_ctrl, TRUE);
}

void sys_console_write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}
