// Connections, the client connect thread and the server of the WebSocket
// transport. The byte-level protocol is in ws_proto.
#include "link/ws.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/ws_proto.h"
#include "sys/net.h"

struct ws_conn {
  SysSocket sock;
  std::atomic<bool> open{true};
  std::atomic<int> refs{1};
  bool mask = false;
  char peer[64] = {};
  ws_callbacks cb{};
  std::uint64_t maskState = 0;  // guarded by sendMu
  std::mutex sendMu;            // keeps frames whole on the wire
  std::mutex endMu;
  std::condition_variable endCv;
  bool ended = false;       // guarded by endMu: the receive thread is done
  std::uint64_t pongs = 0;  // guarded by endMu
};

struct ws_server {
  SysSocket listener;
  std::string bindIp;
  std::string token;
  std::uint16_t port = 0;
  ws_callbacks cb{};
  std::atomic<bool> stop{false};
  std::mutex mu;
  std::vector<ws_conn*> conns;            // guarded by mu; one reference each
  std::vector<const SysSocket*> shaking;  // guarded by mu: sockets in their handshake
  std::mutex endMu;
  std::condition_variable endCv;
  bool acceptEnded = false;  // guarded by endMu
  int handshakes = 0;        // guarded by endMu: handshake threads still running
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kGatherMax = 4096;  // frames up to this size go out in one send

// Threads of this module still running (receive, accept and connect threads).
std::atomic<int> g_liveThreads{0};

// Starts a detached thread that is counted while it runs. False when the
// system cannot start it.
template <class Fn>
bool start_counted(Fn fn) {
  g_liveThreads.fetch_add(1);
  try {
    std::thread([fn = std::move(fn)]() mutable {
      fn();
      g_liveThreads.fetch_sub(1);  // the very last thing: nothing of ours is touched after it
    }).detach();
  } catch (...) {
    g_liveThreads.fetch_sub(1);
    return false;
  }
  return true;
}

std::uint64_t random_seed() {
  static std::atomic<std::uint64_t> counter{0};
  std::random_device rd;
  return (std::uint64_t(rd()) << 32 ^ rd()) + counter.fetch_add(0x9E3779B97F4A7C15ull);
}

bool send_all(const SysSocket& s, const void* data, std::size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    long n = sys_tcp_send(s, p, len);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

int ms_left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Reads a handshake head one byte at a time (nothing of what follows it is
// taken) until CR LF CR LF or `max` bytes; false when the deadline passes
// first, however the peer spaces its bytes.
bool read_head(const SysSocket& s, std::size_t max, Clock::time_point deadline, std::string& head) {
  head.clear();
  char c;
  while (head.size() < max) {
    const int left = ms_left(deadline);
    if (left <= 0 || !sys_tcp_recv_timeout(s, left)) return false;
    if (sys_tcp_recv(s, &c, 1) != 1) return false;
    head += c;
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) return true;
  }
  return true;  // over-long: judged on what was read
}

std::size_t send_frame(ws_conn* c, std::uint8_t opcode, const void* data, std::size_t len) {
  if (!c) return 0;
  std::uint8_t hdr[14];
  std::lock_guard lock(c->sendMu);
  if (!c->open || !c->sock.valid()) return 0;
  std::uint8_t key[4];
  if (c->mask) {
    // xorshift64*: a fresh, unpredictable key per frame.
    std::uint64_t x = c->maskState;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    c->maskState = x;
    std::uint32_t k = static_cast<std::uint32_t>((x * 0x2545F4914F6CDD1Dull) >> 32);
    std::memcpy(key, &k, 4);
  }
  std::size_t h = ws_frame_header(opcode, len, c->mask ? key : nullptr, hdr);
  bool ok;
  if (h + len <= kGatherMax) {
    char frame[kGatherMax];
    std::memcpy(frame, hdr, h);
    if (len) std::memcpy(frame + h, data, len);
    if (c->mask) ws_mask(frame + h, len, key);
    ok = send_all(c->sock, frame, h + len);
  } else if (c->mask) {
    std::string payload(static_cast<const char*>(data), len);
    ws_mask(payload.data(), len, key);
    ok = send_all(c->sock, hdr, h) && send_all(c->sock, payload.data(), len);
  } else {
    ok = send_all(c->sock, hdr, h) && send_all(c->sock, data, len);
  }
  if (!ok) {
    // A frame cut short leaves the stream unreadable for the peer: end it.
    c->open = false;
    sys_tcp_shutdown(c->sock);
    return 0;
  }
  return h + len;
}

class ConnEvents : public WsEvents {
 public:
  explicit ConnEvents(ws_conn* c) : c_(c) {}
  void on_message(const char* data, std::size_t len) override {
    if (c_->cb.on_message) c_->cb.on_message(c_, data, len, c_->cb.user);
  }
  void on_ping(const char* payload, std::size_t len) override { send_frame(c_, WS_PONG, payload, len); }
  void on_pong() override {
    {
      std::lock_guard lock(c_->endMu);
      ++c_->pongs;
    }
    c_->endCv.notify_all();
  }

 private:
  ws_conn* c_;
};

void conn_thread(ws_conn* c) {
  if (c->cb.on_open) c->cb.on_open(c, c->cb.user);
  {
    WsReader reader;
    ConnEvents events(c);
    while (c->open) {
      std::size_t room;
      char* at = reader.space(16384, &room);
      long n = sys_tcp_recv(c->sock, at, room);
      if (n <= 0) break;
      reader.commit(static_cast<std::size_t>(n));
      if (reader.process(events) != WsReader::Result::more) break;
    }
  }  // the reassembly buffer goes here, whatever ended the loop
  c->open = false;
  // The peer learns at once that we are gone (no close frame is sent back).
  // It also ends a local hx_ws_close on systems where shutting a socket down
  // does not wake its own blocked receive: the peer's end follows ours.
  sys_tcp_shutdown(c->sock);
  if (c->cb.on_close) c->cb.on_close(c, c->cb.user);
  {
    std::lock_guard lock(c->endMu);
    c->ended = true;
  }
  c->endCv.notify_all();
  hx_ws_release(c);
}

// Wraps a connected, upgraded socket. Null on failure (the socket is closed).
// `extra_refs` are taken for the caller before the receive thread starts, so
// the connection cannot end and go away before the caller has it.
ws_conn* conn_create(SysSocket sock, bool mask, const ws_callbacks& cb, int extra_refs) {
  auto* c = new (std::nothrow) ws_conn;
  if (!c) return nullptr;
  c->mask = mask;
  c->cb = cb;
  c->maskState = random_seed() | 1;
  c->refs = 1 + extra_refs;
  std::string peer = sys_tcp_peer(sock);
  std::strncpy(c->peer, peer.c_str(), sizeof c->peer - 1);
  sys_tcp_send_timeout(sock, WS_SEND_TIMEOUT_MS);
  c->sock = std::move(sock);
  if (!start_counted([c] { conn_thread(c); })) {
    delete c;
    return nullptr;
  }
  return c;
}

struct ClientArgs {
  std::string host, path, token;
  int port;
  ws_callbacks cb;
};

bool client_connect(const ClientArgs& a) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(WS_HANDSHAKE_TIMEOUT_MS);
  SysSocket s = sys_tcp_connect(a.host, static_cast<std::uint16_t>(a.port), WS_HANDSHAKE_TIMEOUT_MS);
  if (!s.valid()) return false;
  sys_tcp_nodelay(s);
  std::uint8_t raw[16];
  std::mt19937_64 rng(random_seed());
  for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
  std::string request = ws_client_request(a.path, a.host, a.port, b64_encode(raw, sizeof raw), a.token);
  sys_tcp_send_timeout(s, std::max(ms_left(deadline), 1));
  std::string head;
  if (!send_all(s, request.data(), request.size()) || !read_head(s, WS_CLIENT_HEAD_MAX, deadline, head) ||
      !ws_response_ok(head)) {
    return false;
  }
  sys_tcp_recv_timeout(s, 0);
  return conn_create(std::move(s), true, a.cb, 0) != nullptr;
}

void client_thread(const ClientArgs& a) {
  if (!client_connect(a) && a.cb.on_fail) a.cb.on_fail(a.cb.user);
}

// Runs on a thread of its own (counted in srv->handshakes), so that a peer
// that stalls holds nobody else up; WS_HANDSHAKE_TIMEOUT_MS bounds it.
void server_handshake(ws_server* srv, SysSocket& s) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(WS_HANDSHAKE_TIMEOUT_MS);
  sys_tcp_send_timeout(s, WS_HANDSHAKE_TIMEOUT_MS);
  std::string head;
  if (!read_head(s, WS_SERVER_HEAD_MAX, deadline, head)) return;
  WsRequest req;
  switch (ws_parse_request(head, srv->token, &req)) {
    case WsRequestVerdict::drop:
      return;
    case WsRequestVerdict::forbidden:
      send_all(s, WS_FORBIDDEN, std::strlen(WS_FORBIDDEN));
      return;
    case WsRequestVerdict::upgrade:
      break;
  }
  std::lock_guard lock(srv->mu);
  // Closed connections leave the list, so that only live ones count.
  std::erase_if(srv->conns, [](ws_conn* c) {
    if (c->open) return false;
    hx_ws_release(c);
    return true;
  });
  if (static_cast<int>(srv->conns.size()) >= WS_MAX_SERVER_CONNS || srv->stop) {
    send_all(s, WS_BUSY, std::strlen(WS_BUSY));
    return;
  }
  std::string response = ws_server_response(req.key);
  if (!send_all(s, response.data(), response.size())) return;
  sys_tcp_recv_timeout(s, 0);
  sys_tcp_nodelay(s);
  // The socket moves into the connection: it leaves the handshake list first.
  std::erase(srv->shaking, &s);
  if (ws_conn* c = conn_create(std::move(s), false, srv->cb, 1)) srv->conns.push_back(c);
}

void handshake_thread(ws_server* srv, SysSocket s) {
  {
    std::lock_guard lock(srv->mu);
    if (srv->stop) s.close();
    srv->shaking.push_back(&s);
  }
  if (s.valid()) server_handshake(srv, s);
  {
    std::lock_guard lock(srv->mu);
    std::erase(srv->shaking, &s);
  }
  // Notified under the lock: once it is released the stopper may free srv.
  std::lock_guard lock(srv->endMu);
  --srv->handshakes;
  srv->endCv.notify_all();
}

void server_thread(ws_server* srv) {
  while (!srv->stop) {
    SysSocket s = sys_tcp_accept(srv->listener, nullptr);
    if (srv->stop) break;
    if (!s.valid()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    {
      std::lock_guard lock(srv->endMu);
      if (srv->handshakes >= WS_MAX_SERVER_HANDSHAKES) continue;  // closed unanswered
      ++srv->handshakes;
    }
    auto* sock = new (std::nothrow) SysSocket(std::move(s));
    if (!sock || !start_counted([srv, sock] {
          std::unique_ptr<SysSocket> owned(sock);
          handshake_thread(srv, std::move(*owned));
        })) {
      delete sock;
      std::lock_guard lock(srv->endMu);
      --srv->handshakes;
    }
  }
  // Notified under the lock: once it is released the stopper may free srv.
  std::lock_guard lock(srv->endMu);
  srv->acceptEnded = true;
  srv->endCv.notify_all();
}

}  // namespace

bool hx_ws_global_init() { return sys_net_init(); }

void hx_ws_global_free() { sys_net_free(); }

bool hx_ws_client_start(const char* host, int port, const char* path, const char* token, ws_callbacks cb) {
  ClientArgs a;
  a.host = std::string(host && *host ? host : "127.0.0.1").substr(0, 255);
  a.path = std::string(path && *path ? path : "/").substr(0, 255);
  a.token = std::string(token ? token : "").substr(0, 255);
  a.port = port;
  a.cb = cb;
  if (port < 1 || port > 65535) return false;
  return start_counted([a = std::move(a)] { client_thread(a); });
}

ws_server* hx_ws_server_start(const char* bind, int port, const char* token, ws_callbacks cb) {
  if (port < 0 || port > 65535) return nullptr;
  auto* srv = new (std::nothrow) ws_server;
  if (!srv) return nullptr;
  srv->bindIp = bind ? bind : "";
  srv->token = std::string(token ? token : "").substr(0, 255);
  srv->cb = cb;
  srv->listener = sys_tcp_listen(srv->bindIp, static_cast<std::uint16_t>(port), &srv->port);
  if (!srv->listener.valid()) {
    delete srv;
    return nullptr;
  }
  if (!start_counted([srv] { server_thread(srv); })) {
    delete srv;
    return nullptr;
  }
  return srv;
}

int hx_ws_server_stop(ws_server* srv) {
  if (!srv) return 0;
  srv->stop = true;
  // Wake a blocked accept: shutting the listener down does it on Linux, a
  // connection of our own does it everywhere.
  sys_tcp_shutdown(srv->listener);
  {
    std::string ip = srv->bindIp.empty() || srv->bindIp == "0.0.0.0" ? "127.0.0.1" : srv->bindIp;
    SysSocket poke = sys_tcp_connect(ip, srv->port);
  }
  {
    std::lock_guard lock(srv->mu);
    for (ws_conn* c : srv->conns) hx_ws_close(c);
    for (const SysSocket* s : srv->shaking) sys_tcp_shutdown(*s);
  }
  std::unique_lock end(srv->endMu);
  if (!srv->endCv.wait_for(end, std::chrono::milliseconds(5000),
                           [srv] { return srv->acceptEnded && srv->handshakes == 0; })) {
    return 1;
  }
  end.unlock();
  {
    std::lock_guard lock(srv->mu);
    for (ws_conn* c : srv->conns) hx_ws_release(c);
    srv->conns.clear();
  }
  delete srv;
  return 0;
}

int hx_ws_server_port(const ws_server* s) { return s ? s->port : 0; }

std::size_t hx_ws_send(ws_conn* c, const void* data, std::size_t len) { return send_frame(c, WS_TEXT, data, len); }

std::size_t hx_ws_send_text(ws_conn* c, const char* text) {
  return text ? send_frame(c, WS_TEXT, text, std::strlen(text)) : 0;
}

std::size_t hx_ws_ping(ws_conn* c) { return send_frame(c, WS_PING, nullptr, 0); }

bool hx_ws_ping_wait(ws_conn* c, int ms) {
  if (!c) return false;
  std::uint64_t before;
  {
    std::lock_guard lock(c->endMu);
    before = c->pongs;
  }
  if (send_frame(c, WS_PING, nullptr, 0) == 0) return false;
  std::unique_lock lock(c->endMu);
  return c->endCv.wait_for(lock, std::chrono::milliseconds(ms), [c, before] {
    return c->pongs != before || c->ended;
  }) && !c->ended;
}

void hx_ws_close(ws_conn* c) {
  if (!c) return;
  {
    std::lock_guard lock(c->sendMu);
    if (c->open && c->sock.valid()) {
      std::uint8_t hdr[14];
      std::uint8_t key[4] = {0, 0, 0, 0};
      std::size_t h = ws_frame_header(WS_CLOSE, 0, c->mask ? key : nullptr, hdr);
      send_all(c->sock, hdr, h);
    }
    c->open = false;
  }
  sys_tcp_shutdown(c->sock);
}

bool hx_ws_is_open(const ws_conn* c) { return c && c->open; }

const char* hx_ws_peer(const ws_conn* c) { return c ? c->peer : ""; }

ws_conn* hx_ws_addref(ws_conn* c) {
  if (c) c->refs.fetch_add(1);
  return c;
}

void hx_ws_release(ws_conn* c) {
  if (c && c->refs.fetch_sub(1) == 1) {
    sys_tcp_shutdown(c->sock);
    delete c;  // closes the socket
  }
}

int hx_ws_live_threads() { return g_liveThreads.load(); }

bool hx_ws_join(ws_conn* c, int ms) {
  if (!c) return true;
  std::unique_lock lock(c->endMu);
  return c->endCv.wait_for(lock, std::chrono::milliseconds(ms), [c] { return c->ended; });
}
