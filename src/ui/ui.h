// The user interface as the host process sees it. On Windows this becomes the
// main window; until then, and on Linux, a console stand-in prints the log and
// runs the main loop (src/ui/console).
//
// All of these run on the main thread unless noted.
#pragma once

// Creates the main window (console: prints the log so far and installs the log
// sink). False when it cannot be created.
bool hx_ui_boot();
// Shows the window, minimised when asked.
void hx_ui_show(bool minimized);
// Runs the main loop until the window closes or the process is asked to stop;
// returns the exit code. A one-second timer drives hx_ob_tick.
int hx_ui_loop();
// Ends the main loop. Any thread.
void hx_ui_quit();
// Refresh requests from other threads. Any thread.
void hx_ui_refresh_plugins();
void hx_ui_refresh_accounts();
void hx_ui_float_invalidate();

// Image and avatar support of the window.
void hx_img_init();
void hx_img_shutdown();
void hx_av_init();
void hx_av_shutdown();
