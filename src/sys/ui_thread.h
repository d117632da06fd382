// Threads that own windows: a plugin's settings panel runs on a thread of its
// own, which pumps the messages of the windows the plugin made there. Where
// the platform has no windows, the pump returns at once.
#pragma once

// The calling thread's id as the platform numbers threads (never 0).
unsigned long sys_thread_id();
// Runs the message loop of the calling thread's windows: until a quit
// message, or until the thread has no window left.
void sys_thread_pump_windows();
// Asks every window of thread `id` to close and its message loop to end.
void sys_thread_close_windows(unsigned long id);
