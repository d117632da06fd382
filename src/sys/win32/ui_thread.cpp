#include "sys/ui_thread.h"

#include <windows.h>

namespace {

BOOL CALLBACK take_first(HWND hwnd, LPARAM out) {
  *reinterpret_cast<HWND*>(out) = hwnd;
  return FALSE;
}

HWND first_window(DWORD thread) {
  HWND first = nullptr;
  EnumThreadWindows(thread, take_first, reinterpret_cast<LPARAM>(&first));
  return first;
}

BOOL CALLBACK post_close(HWND hwnd, LPARAM) {
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

unsigned long sys_thread_id() { return GetCurrentThreadId(); }

void sys_thread_pump_windows() {
  const DWORD self = GetCurrentThreadId();
  MSG msg;
  for (;;) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      HWND dialog = first_window(self);
      if (dialog && IsDialogMessageW(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (!first_window(self)) return;
    WaitMessage();
  }
}

void sys_thread_close_windows(unsigned long id) {
  EnumThreadWindows(id, post_close, 0);
  PostThreadMessageW(id, WM_QUIT, 0, 0);
}
