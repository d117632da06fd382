#include "support/ws_helpers.h"

#include <chrono>

#include <cjson/cJSON.h>

#include "foundation/json.h"
#include "link/ws_proto.h"
#include "support/temp_dir.h"

ws_callbacks WsRecorder::callbacks() { return {on_open, on_message, on_close, this, on_fail}; }

template <class Pred>
bool WsRecorder::wait(int ms, Pred pred) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms * kTimeoutScale), pred);
}

WsRecorder::~WsRecorder() {
  wait(10000, [this] { return closes_ >= opens_; });
}

bool WsRecorder::wait_open(int ms) {
  return wait(ms, [this] { return opens_ > 0; });
}
bool WsRecorder::wait_close(int ms) {
  return wait(ms, [this] { return closes_ > 0; });
}
bool WsRecorder::wait_messages(std::size_t n, int ms) {
  return wait(ms, [&] { return messages_.size() >= n; });
}

std::vector<std::string> WsRecorder::messages() {
  std::lock_guard lock(mu_);
  return messages_;
}
ws_conn* WsRecorder::conn() {
  std::lock_guard lock(mu_);
  return conn_;
}
int WsRecorder::opens() {
  std::lock_guard lock(mu_);
  return opens_;
}
int WsRecorder::closes() {
  std::lock_guard lock(mu_);
  return closes_;
}

bool WsRecorder::wait_failure(int ms) {
  return wait(ms, [this] { return failures_ > 0; });
}

int WsRecorder::failures() {
  std::lock_guard lock(mu_);
  return failures_;
}

void WsRecorder::on_fail(void* user) {
  auto* r = static_cast<WsRecorder*>(user);
  std::lock_guard lock(r->mu_);
  ++r->failures_;
  r->cv_.notify_all();
}

void WsRecorder::on_open(ws_conn* c, void* user) {
  auto* r = static_cast<WsRecorder*>(user);
  std::lock_guard lock(r->mu_);
  r->conn_ = c;
  ++r->opens_;
  r->cv_.notify_all();
}

void WsRecorder::on_message(ws_conn* c, const char* data, std::size_t len, void* user) {
  auto* r = static_cast<WsRecorder*>(user);
  if (r->echo) hx_ws_send(c, data, len);
  std::lock_guard lock(r->mu_);
  r->messages_.emplace_back(data, len);
  r->cv_.notify_all();
}

void WsRecorder::on_close(ws_conn*, void* user) {
  auto* r = static_cast<WsRecorder*>(user);
  std::lock_guard lock(r->mu_);
  ++r->closes_;
  r->cv_.notify_all();
}

RawPeer::RawPeer(int port) : sock_(sys_tcp_connect("127.0.0.1", static_cast<std::uint16_t>(port))) {}

bool RawPeer::send(const std::string& bytes) {
  std::size_t put = 0;
  while (put < bytes.size()) {
    long n = sys_tcp_send(sock_, bytes.data() + put, bytes.size() - put);
    if (n <= 0) return false;
    put += static_cast<std::size_t>(n);
  }
  return true;
}

std::string RawPeer::read(std::size_t n, int ms) {
  sys_tcp_recv_timeout(sock_, ms * kTimeoutScale);
  std::string out;
  char buf[65536];
  while (out.size() < n) {
    long got = sys_tcp_recv(sock_, buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) break;
    out.append(buf, static_cast<std::size_t>(got));
  }
  return out;
}

std::string RawPeer::read_head(int ms) {
  sys_tcp_recv_timeout(sock_, ms * kTimeoutScale);
  std::string head;
  char c;
  while (head.size() < 8192 && sys_tcp_recv(sock_, &c, 1) == 1) {
    head += c;
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
  }
  return head;
}

bool RawPeer::upgrade(const std::string& path, const std::string& headers) {
  send("GET " + path +
       " HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
       headers + "\r\n");
  return read_head().find(" 101 ") != std::string::npos;
}

bool RawPeer::at_eof(int ms) {
  sys_tcp_recv_timeout(sock_, ms * kTimeoutScale);
  char c;
  return sys_tcp_recv(sock_, &c, 1) == 0;
}

std::optional<std::string> RawPeer::read_text_frame(int ms) {
  for (;;) {
    const std::string head = read(2, ms);
    if (head.size() < 2) return std::nullopt;
    const int opcode = static_cast<std::uint8_t>(head[0]) & 0x0F;
    std::uint64_t len = static_cast<std::uint8_t>(head[1]) & 0x7F;
    if (len >= 126) {
      const std::string ext = read(len == 126 ? 2 : 8, ms);
      if (ext.size() != (len == 126 ? 2u : 8u)) return std::nullopt;
      len = 0;
      for (char b : ext) len = len << 8 | static_cast<std::uint8_t>(b);
    }
    std::string payload = read(static_cast<std::size_t>(len), ms);
    if (payload.size() != len) return std::nullopt;
    if (opcode == WS_TEXT) return payload;
    if (opcode == WS_CLOSE) return std::nullopt;
  }
}

bool RawPeer::send_text(const std::string& text) { return send(ws_client_frame(0x81, text)); }

std::string ws_client_frame(std::uint8_t first_byte, const std::string& payload, std::uint64_t announced) {
  std::uint8_t key[4] = {0xA1, 0xB2, 0xC3, 0xD4}, hdr[14];
  std::size_t h = ws_frame_header(first_byte & 0x0F, announced == ~0ull ? payload.size() : announced, key, hdr);
  hdr[0] = first_byte;
  std::string body = payload;
  ws_mask(body.data(), body.size(), key);
  return std::string(reinterpret_cast<char*>(hdr), h) + body;
}

HandBackend::HandBackend(int port, const std::string& token) : peer(port) {
  upgraded_ = peer.connected() && peer.upgrade("/", token.empty() ? "" : "Authorization: Bearer " + token + "\r\n");
}

long long HandBackend::next_echo(const std::string& action, int ms) {
  for (;;) {
    std::optional<std::string> text = peer.read_text_frame(ms);
    if (!text) return -1;
    HxJson request(cJSON_Parse(text->c_str()));
    const cJSON* a = cJSON_GetObjectItemCaseSensitive(request.get(), "action");
    const cJSON* echo = cJSON_GetObjectItemCaseSensitive(request.get(), "echo");
    if (cJSON_IsString(a) && action == a->valuestring && cJSON_IsNumber(echo)) {
      return static_cast<long long>(echo->valuedouble);
    }
  }
}

bool HandBackend::answer_login(long long echo, const std::string& qq) {
  return peer.send_text(R"({"status":"ok","retcode":0,"data":{"user_id":)" + qq + R"(,"nickname":"手"},"echo":)" +
                        std::to_string(echo) + "}");
}
