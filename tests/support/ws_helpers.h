// Helpers for WebSocket tests: a recording set of callbacks and a raw TCP
// peer that speaks bytes chosen by the test.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/ws.h"
#include "sys/net.h"

// Records what a connection's callbacks see; waits with deadlines.
class WsRecorder {
 public:
  // Waits (bounded) until every connection it saw open has ended, so that
  // no receive thread calls into a recorder that is gone.
  ~WsRecorder();
  ws_callbacks callbacks();
  bool wait_open(int ms = 5000);
  bool wait_close(int ms = 5000);
  bool wait_messages(std::size_t n, int ms = 5000);
  std::vector<std::string> messages();
  ws_conn* conn();  // the last opened connection (not referenced)
  int opens();
  int closes();
  // Client connects that failed (on_fail).
  bool wait_failure(int ms = 10000);
  int failures();
  // Echo every message back on the connection it came from.
  bool echo = false;

 private:
  static void on_open(ws_conn* c, void* user);
  static void on_message(ws_conn* c, const char* data, std::size_t len, void* user);
  static void on_close(ws_conn* c, void* user);
  static void on_fail(void* user);
  template <class Pred>
  bool wait(int ms, Pred pred);

  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> messages_;
  ws_conn* conn_ = nullptr;
  int opens_ = 0, closes_ = 0, failures_ = 0;
};

// A plain TCP client for handcrafted handshakes and frames.
class RawPeer {
 public:
  explicit RawPeer(int port);
  bool connected() const { return sock_.valid(); }
  bool send(const std::string& bytes);
  // Reads until `n` bytes arrived, the peer closed, or `ms` passed.
  std::string read(std::size_t n, int ms = 3000);
  // Reads a handshake response head.
  std::string read_head(int ms = 3000);
  // Completes a WebSocket handshake with the given path and extra headers.
  bool upgrade(const std::string& path = "/", const std::string& headers = "");
  // True when the peer closed the connection with nothing more sent.
  bool at_eof(int ms = 3000);
  // The payload of the next text frame from a server (unmasked frames; pings
  // and other control frames are skipped unanswered); nullopt when none
  // came within `ms` or the stream ended.
  std::optional<std::string> read_text_frame(int ms = 3000);
  // Sends one masked text frame.
  bool send_text(const std::string& text);
  void close() { sock_.close(); }

 private:
  SysSocket sock_;
};

// A client frame (masked, FIN set unless told) with a raw first byte.
std::string ws_client_frame(std::uint8_t first_byte, const std::string& payload, std::uint64_t announced = ~0ull);

// A reverse backend played by hand over a raw socket: it answers only what
// the test tells it to, and never a ping.
class HandBackend {
 public:
  HandBackend(int port, const std::string& token);
  bool upgraded() const { return upgraded_; }
  // The echo of the host's next request for `action` (other requests are
  // skipped); -1 when none came within `ms`.
  long long next_echo(const std::string& action, int ms = 5000);
  // Answers a get_login_info request as `qq`.
  bool answer_login(long long echo, const std::string& qq);
  RawPeer peer;

 private:
  bool upgraded_ = false;
};
