// WebSocket transport: the host's own client and server.
#pragma once

// Starts the socket library; false when it cannot be started.
bool hx_ws_global_init();
// Releases it again at shutdown.
void hx_ws_global_free();
