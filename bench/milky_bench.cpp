// Milky action round trip: a plugin's 发送群消息 call -> send_group_message
// over HTTP -> the backend's ok reply -> the call returns "1". The backend is
// a minimal in-process HTTP/1.1 server answering at once (keep-alive), so
// the figure is the host's own cost; next to it, a raw TCP ping-pong of the
// same process. The OneBot figure of the same machine is api_bench's.
//
//   build/linux/bench/milky_bench [calls]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "api/api.h"
#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "host/host.h"
#include "instant_peer.h"
#include "link/onebot.h"
#include "link/ws.h"
#include "milky/milky.h"
#include "round_trip.h"
#include "sys/net.h"
#include "sys/process.h"
#include "tcp_exact.h"

namespace {

namespace fs = std::filesystem;

// Answers every request on a connection with the same ok reply.
void serve_http(SysSocket s) {
  static const std::string body = R"({"status":"ok","retcode":0,"data":{"message_seq":1,"time":1700000000}})";
  static const std::string reply =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\n\r\n" + body;
  sys_tcp_nodelay(s);
  std::string in;
  char buf[8192];
  for (;;) {
    const std::size_t head = in.find("\r\n\r\n");
    if (head == std::string::npos) {
      const long n = sys_tcp_recv(s, buf, sizeof buf);
      if (n <= 0) return;
      in.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    std::size_t length = 0;
    const std::size_t cl = in.find("Content-Length: ");
    if (cl != std::string::npos && cl < head) length = std::strtoul(in.c_str() + cl + 16, nullptr, 10);
    while (in.size() < head + 4 + length) {
      const long n = sys_tcp_recv(s, buf, sizeof buf);
      if (n <= 0) return;
      in.append(buf, static_cast<std::size_t>(n));
    }
    in.erase(0, head + 4 + length);
    if (!send_exact(s, reply.data(), reply.size())) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
  const fs::path tmp = fs::temp_directory_path() / ("hx_milky_bench_" + std::to_string(sys_pid()));
  fs::create_directories(tmp);
  std::ofstream(tmp / "milky.txt").put('\n');
  hx_set_data_dir(tmp.string());
  hx_host_wire();
  hx_ws_global_init();
  hx_log_init(1000);
  hx_cfg_load();
  g_cfg.heartbeat = 600;
  hx_milky_detect();
  if (!hx_milky_mode()) return 1;

  // Account 10001's address is the HTTP server; account 10002 keeps a link
  // open (calls are only made while some link is).
  std::uint16_t http_port = 0;
  SysSocket listener = sys_tcp_listen("127.0.0.1", 0, &http_port);
  std::atomic<bool> stopping{false};
  std::vector<std::thread> conns;
  std::thread acceptor([&] {
    for (;;) {
      SysSocket s = sys_tcp_accept(listener, nullptr);
      if (!s.valid() || stopping) return;
      conns.emplace_back(serve_http, std::move(s));
    }
  });
  InstantPeer peer;
  if (!peer.start()) return 1;
  const struct {
    const char* qq;
    int port;
  } accounts[] = {{"10001", http_port}, {"10002", peer.port()}};
  for (const auto& a : accounts) {
    HxAccount& acc = g_cfg.accounts[g_cfg.accountCount++];
    std::strcpy(acc.id, a.qq);
    std::strcpy(acc.ip, "127.0.0.1");
    acc.port = a.port;
  }
  hx_ob_init();
  hx_ob_login("10002");
  peer.wait_connected();
  while (hx_ob_link_count() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  const std::string text = "大家好，这是一条普通的回复 hello 123";
  for (int i = 0; i < 500; ++i) api_send_group_msg(0, 10001, 20001, text.c_str(), 0);  // warm up
  std::vector<double> us;
  int failed = 0;
  for (int i = 0; i < calls; ++i) {
    const auto t0 = RoundTripClock::now();
    failed += std::strcmp(api_send_group_msg(0, 10001, 20001, text.c_str(), 0), "1") != 0;
    us.push_back(micros_since(t0));
  }
  const RoundTripFigures milky = percentiles(us);
  const RoundTripFigures raw = raw_tcp(calls);
  std::printf("Milky round trip over %d calls (发送群消息 -> POST /api/send_group_message -> ok -> \"1\"), %d failed\n",
              calls, failed);
  std::printf("  %-22s p50 %7.1f us   p99 %7.1f us\n", "API call over Milky", milky.p50, milky.p99);
  std::printf("  %-22s p50 %7.1f us   p99 %7.1f us\n", "raw TCP ping-pong", raw.p50, raw.p99);
  std::printf("  ratio Milky/raw        p50 %7.2f x   p99 %7.2f x\n", milky.p50 / raw.p50, milky.p99 / raw.p99);
  hx_ob_stop();
  peer.stop();
  stopping = true;
  sys_tcp_shutdown(listener);
  { SysSocket poke = sys_tcp_connect("127.0.0.1", http_port); }
  acceptor.join();
  for (auto& t : conns) t.detach();  // blocked in their reads; the process ends
  std::error_code ec;
  fs::remove_all(tmp, ec);
  return 0;
}
