// A backend stand-in for benchmarks: our own WebSocket server that answers
// every action at once, so that the backend side is never the bottleneck.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

#include "link/ws.h"

struct InstantPeer {
  std::mutex mu;
  std::condition_variable cv;
  ws_conn* conn = nullptr;  // the backend side of the link, once connected
  ws_server* server = nullptr;

  // Listens on a free local port; false when it cannot.
  bool start() {
    server = hx_ws_server_start("127.0.0.1", 0, "", {on_open, on_message, nullptr, this});
    return server != nullptr;
  }
  int port() const { return hx_ws_server_port(server); }
  ws_conn* wait_connected() {
    std::unique_lock lock(mu);
    cv.wait(lock, [this] { return conn != nullptr; });
    return conn;
  }
  void stop() {
    hx_ws_release(conn);
    hx_ws_server_stop(server);
  }

 private:
  static void on_open(ws_conn* c, void* user) {
    auto* p = static_cast<InstantPeer*>(user);
    std::lock_guard lock(p->mu);
    p->conn = hx_ws_addref(c);
    p->cv.notify_all();
  }
  // An ok reply carrying the action's echo.
  static void on_message(ws_conn* c, const char* data, std::size_t len, void*) {
    std::string_view text(data, len);
    const std::size_t at = text.find("\"echo\":");
    if (at == std::string_view::npos) return;
    std::string_view echo = text.substr(at + 7);
    echo = echo.substr(0, echo.find_first_of(",}"));
    const std::string reply = R"({"status":"ok","retcode":0,"data":null,"echo":)" + std::string(echo) + "}";
    hx_ws_send(c, reply.data(), reply.size());
  }
};

// A OneBot group-message event of account 10001 with this message id.
inline std::string bench_group_event(int id) {
  return R"({"time":1700000000,"self_id":10001,"post_type":"message","message_type":"group","sub_type":"normal",)"
         R"("group_id":20001,"user_id":30001,"message_id":)" +
         std::to_string(id) +
         R"(,"message":"大家好，这是一条普通的群消息 hello 123","raw_message":"大家好，这是一条普通的群消息 hello 123",)"
         R"("sender":{"user_id":30001,"nickname":"小明","card":"明明"}})";
}
