// The plugin host: loading, initialisation and dispatch of plugins.
//
// Loading is still to come: these entry points keep the host's start-up and
// shutdown sequence in its final shape.
#pragma once

#include <string>
#include <vector>

// Loads and initialises the plugins and starts `lanes` dispatch lanes. Runs on
// the boot thread.
void hx_pl_init(int lanes);
// Stops the lanes, tells the plugins and unloads them. Main thread, at shutdown.
void hx_pl_shutdown();

// The name of the plugin on whose behalf the current thread runs, or null
// when it runs for the host itself.
const char* hx_pl_current_name();

// Tells every enabled plugin that account `qq` logged in (1) or out (0). Any
// thread.
void hx_pl_notify_login(const char* qq, int on);

// Until dispatch exists, login notifications are only recorded, so that the
// link layer can be checked: the calls so far, oldest first ("+qq" for a
// login, "-qq" for a logout).
std::vector<std::string> hx_pl_notifications();
