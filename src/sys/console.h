// The terminal the host runs in: stop requests and UTF-8 output.
#pragma once

#include <functional>
#include <string_view>

// Calls `on_stop` (on a thread of its own) each time the user or the system
// asks the process to end: SIGINT or SIGTERM, or Ctrl-C, Ctrl-Break and
// closing the console on Windows. SIGPIPE is ignored. Call once, before any
// other thread starts, so that every later thread inherits the signal mask.
void sys_console_init(std::function<void()> on_stop);

// Holds SIGINT and SIGTERM back from the calling thread and every thread it
// starts later, so that only the thread of sys_console_init takes them. Call
// first thing in main, before any thread starts; nothing on Windows.
void sys_stop_signals_hold();

// Writes UTF-8 text to standard output and flushes it.
void sys_console_write(std::string_view text);
