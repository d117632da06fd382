// The terminal the host runs in: stop requests and UTF-8 output.
#pragma once

#include <functional>
#include <string_view>

// Calls `on_stop` (on a thread of its own) each time the user or the system
// asks the process to end: SIGINT or SIGTERM, or Ctrl-C, Ctrl-Break and
// closing the console on Windows. SIGPIPE is ignored. Call once, before any
// other thread starts, so that every later thread inherits the signal mask.
void sys_console_init(std::function<void()> on_stop);

// Writes UTF-8 text to standard output and flushes it.
void sys_console_write(std::string_view text);
