// Account links to the backends (OneBot v11 over WebSocket).
//
// The link layer is still to come: these entry points keep the host's start-up
// and shutdown sequence in its final shape.
#pragma once

#include <string>

// Prepares the link table. Main thread, during start-up.
void hx_ob_init();
// Starts the links of all accounts; `result` receives a short summary. Returns
// the number of accounts for which a connection was started.
int hx_ob_auto_login_all(std::string& result);
// The one-second heartbeat, driven by the user interface's timer.
void hx_ob_tick();
// Stops every link with bounded waits.
void hx_ob_stop();
// True when a socket stayed stuck in a blocking call during hx_ob_stop, so
// that the socket library must not be released.
bool hx_ob_ws_stuck();
