// The host's WebSocket transport (RFC 6455, no TLS, no extensions) for the
// backend links: a client for forward mode and a server for reverse mode.
//
// Each connection (ws_conn) is served by its own receive thread, which calls
// the callbacks. Any thread may send; whole frames never interleave. A
// ws_conn lives as long as someone holds a reference: the receive thread
// holds one until its very end, and whoever takes a ws_conn* from a shared
// table must hx_ws_addref it under that table's lock and hx_ws_release it
// when done.
#pragma once

#include <cstddef>
#include <cstdint>

struct ws_conn;
struct ws_server;

struct ws_callbacks {
  // On the receive thread, before the first frame is read.
  void (*on_open)(ws_conn* c, void* user);
  // One whole message, NUL-terminated (len excludes it); the buffer is the
  // transport's and valid only during the call.
  void (*on_message)(ws_conn* c, const char* data, std::size_t len, void* user);
  // Once, on the receive thread, when the connection ends for any reason.
  void (*on_close)(ws_conn* c, void* user);
  void* user;
  // Clients only, optional: once, on the connect thread, when the connect or
  // the handshake failed (no connection was opened).
  void (*on_fail)(void* user) = nullptr;
};

inline constexpr int WS_MAX_SERVER_CONNS = 16;
// The longest a handshake may take, from connect (client) or accept (server)
// to the upgraded connection.
inline constexpr int WS_HANDSHAKE_TIMEOUT_MS = 5000;
// Server handshakes in progress at once; a connection beyond them is closed
// unanswered. Each runs on a thread of its own, so a slow one holds no other.
inline constexpr int WS_MAX_SERVER_HANDSHAKES = 64;

// Starts and releases the socket library.
bool hx_ws_global_init();
void hx_ws_global_free();

// Starts a thread that connects to ws://host:port/path (host defaults to
// 127.0.0.1, path to "/"; a non-empty token goes into an Authorization
// header). True when the thread started; success shows as on_open, failure
// as on_fail. The connect and the handshake together get
// WS_HANDSHAKE_TIMEOUT_MS.
bool hx_ws_client_start(const char* host, int port, const char* path, const char* token, ws_callbacks cb);

// Listens on bind:port (empty or "0.0.0.0": every interface; port 0: any
// free port). A non-empty token must be presented by every client. Null on
// failure. At most 16 open connections: a seventeenth is answered 503 and
// closed (closed connections leave the list as new ones arrive).
ws_server* hx_ws_server_start(const char* bind, int port, const char* token, ws_callbacks cb);
// Stops accepting, closes every listed connection and frees the server.
// Returns 0 when freed, 1 when the accept thread did not end within 5 s (the
// server is then left allocated).
int hx_ws_server_stop(ws_server* s);
int hx_ws_server_port(const ws_server* s);

// One text frame; the bytes written (header and payload) or 0 on failure.
std::size_t hx_ws_send(ws_conn* c, const void* data, std::size_t len);
std::size_t hx_ws_send_text(ws_conn* c, const char* text);
std::size_t hx_ws_ping(ws_conn* c);
// Sends a ping and waits up to `ms` for a pong; false when none came (or the
// connection ended). Not on the connection's own receive thread.
bool hx_ws_ping_wait(ws_conn* c, int ms);
// Sends a close frame if open, then shuts the socket down (ending the
// receive thread). Frees nothing.
void hx_ws_close(ws_conn* c);
bool hx_ws_is_open(const ws_conn* c);
// "a.b.c.d:port" of the peer, "unknown", or "" for null.
const char* hx_ws_peer(const ws_conn* c);
ws_conn* hx_ws_addref(ws_conn* c);
void hx_ws_release(ws_conn* c);
// True when the receive thread has ended within `ms`.
bool hx_ws_join(ws_conn* c, int ms);
// How many of this module's threads are still running; shutdown waits for 0.
int hx_ws_live_threads();
