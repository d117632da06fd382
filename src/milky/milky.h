// The Milky protocol adapter (HTTP API plus a WebSocket event stream).
//
// Milky mode comes later; these entry points keep the link layer in its
// final shape.
#pragma once

// Decides once whether the host runs in Milky mode.
void hx_milky_detect();
// True in Milky mode.
bool hx_milky_mode();
// The WebSocket path of the event stream: "/event" in Milky mode, else "/".
const char* hx_milky_ws_path();
