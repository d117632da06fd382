// WebSocket round trips and throughput on 127.0.0.1, ours against Node's ws
// (client and server in separate processes) and raw TCP, in one run:
//   (a) ping-pong of 200-byte messages: messages/s, p50 and p99 round trip
//   (b) pipelined 200-byte echoes: messages/s
//   (c) pipelined 64 KiB echoes: MB/s (payload echoed per second)
//
//   build/linux/bench/ws_bench [pingpong-count pipelined-count big-count]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/util.h"
#include "link/ws.h"
#include "sys/net.h"
#include "sys/process.h"
#include "tcp_exact.h"

namespace {

using Clock = std::chrono::steady_clock;
double secs_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Result {
  double pp_rate = 0, p50_us = 0, p99_us = 0, pipe_rate = 0, big_mbs = 0;
};

void percentiles(std::vector<double> us, Result& r) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  r.p50_us = us[us.size() / 2];
  r.p99_us = us[us.size() * 99 / 100];
}

// ---- ours ----

struct Counter {
  std::mutex mu;
  std::condition_variable cv;
  std::size_t got = 0;
  ws_conn* conn = nullptr;
};

void echo_message(ws_conn* c, const char* data, std::size_t len, void*) { hx_ws_send(c, data, len); }
void client_open(ws_conn* c, void* user) {
  auto* k = static_cast<Counter*>(user);
  std::lock_guard lock(k->mu);
  k->conn = c;
  k->cv.notify_all();
}
void client_message(ws_conn*, const char*, std::size_t, void* user) {
  auto* k = static_cast<Counter*>(user);
  std::lock_guard lock(k->mu);
  ++k->got;
  k->cv.notify_all();
}

void wait_count(Counter& k, std::size_t n) {
  std::unique_lock lock(k.mu);
  k.cv.wait(lock, [&] { return k.got >= n; });
}

Result bench_ours(int ping_n, int pipe_n, int big_n) {
  Result r;
  ws_server* srv = hx_ws_server_start("127.0.0.1", 0, "", {nullptr, echo_message, nullptr, nullptr});
  Counter k;
  hx_ws_client_start("127.0.0.1", hx_ws_server_port(srv), "/", "", {client_open, client_message, nullptr, &k});
  {
    std::unique_lock lock(k.mu);
    k.cv.wait(lock, [&] { return k.conn != nullptr; });
  }
  ws_conn* c = hx_ws_addref(k.conn);
  const std::string small(200, 'x'), big(65536, 'y');

  std::vector<double> rtts;
  auto start = Clock::now();
  for (int i = 0; i < ping_n; ++i) {
    auto t0 = Clock::now();
    std::size_t want = k.got + 1;
    hx_ws_send(c, small.data(), small.size());
    wait_count(k, want);
    rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  r.pp_rate = ping_n / secs_since(start);
  percentiles(rtts, r);

  std::size_t base = k.got;
  start = Clock::now();
  for (int i = 0; i < pipe_n; ++i) hx_ws_send(c, small.data(), small.size());
  wait_count(k, base + pipe_n);
  r.pipe_rate = pipe_n / secs_since(start);

  base = k.got;
  start = Clock::now();
  for (int i = 0; i < big_n; ++i) hx_ws_send(c, big.data(), big.size());
  wait_count(k, base + big_n);
  r.big_mbs = big_n * 65536.0 / 1e6 / secs_since(start);

  hx_ws_close(c);
  hx_ws_release(c);
  hx_ws_server_stop(srv);
  return r;
}

// ---- raw TCP: the same exchanges without any framing ----

Result bench_raw(int ping_n, int pipe_n, int big_n) {
  Result r;
  std::uint16_t port = 0;
  SysSocket listener = sys_tcp_listen("127.0.0.1", 0, &port);
  std::thread echo([&] {
    SysSocket s = sys_tcp_accept(listener, nullptr);
    sys_tcp_nodelay(s);
    char buf[65536];
    for (;;) {
      long n = sys_tcp_recv(s, buf, sizeof buf);
      if (n <= 0 || !send_exact(s, buf, static_cast<std::size_t>(n))) return;
    }
  });
  SysSocket c = sys_tcp_connect("127.0.0.1", port);
  sys_tcp_nodelay(c);
  std::vector<char> buf(65536, 'x');

  std::vector<double> rtts;
  auto start = Clock::now();
  for (int i = 0; i < ping_n; ++i) {
    auto t0 = Clock::now();
    send_exact(c, buf.data(), 200);
    recv_exact(c, buf.data(), 200);
    rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  r.pp_rate = ping_n / secs_since(start);
  percentiles(rtts, r);

  auto pipelined = [&](int n, std::size_t size) {
    auto t0 = Clock::now();
    std::thread reader([&] {
      std::vector<char> in(size);
      for (int i = 0; i < n; ++i) recv_exact(c, in.data(), size);
    });
    for (int i = 0; i < n; ++i) send_exact(c, buf.data(), size);
    reader.join();
    return secs_since(t0);
  };
  r.pipe_rate = pipe_n / pipelined(pipe_n, 200);
  r.big_mbs = big_n * 65536.0 / 1e6 / pipelined(big_n, 65536);
  sys_tcp_shutdown(c);
  echo.join();
  return r;
}

// ---- Node ws ----

bool bench_node(int ping_n, int pipe_n, int big_n, Result& r) {
  std::string src = HX_SOURCE_DIR;
  std::vector<std::pair<std::string, std::string>> env = {{"NODE_PATH", src + "/.deps/node_modules"}};
  const std::string node = HX_NODE_EXE, script = src + "/bench/ws_bench_node.cjs";
  if (node.empty()) return false;
  SysProcess server = sys_spawn({node, {script, "server"}, "", env, true});
  std::string out;
  char buf[65536];
  while (out.find('\n') == std::string::npos) {
    long n = server.read(buf, sizeof buf);
    if (n <= 0) return false;
    out.append(buf, static_cast<std::size_t>(n));
  }
  std::string port = std::string(hx_trim(out.substr(out.find("PORT ") + 5)));
  SysProcess client =
      sys_spawn({node,
                 {script, "client", port, std::to_string(ping_n), std::to_string(pipe_n), std::to_string(big_n)},
                 "",
                 env,
                 true});
  out.clear();
  for (long n; (n = client.read(buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  client.wait(10000, nullptr);
  // {"rtts":[...],"ppSecs":x,"pipeSecs":y,"bigSecs":z}
  auto number_after = [&](const char* key) { return std::atof(out.c_str() + out.find(key) + std::strlen(key)); };
  std::vector<double> rtts;
  std::size_t at = out.find('[') + 1, end = out.find(']');
  while (at < end) {
    rtts.push_back(std::atof(out.c_str() + at));
    at = out.find(',', at);
    if (at == std::string::npos || at > end) break;
    ++at;
  }
  r.pp_rate = ping_n / number_after("\"ppSecs\":");
  percentiles(rtts, r);
  r.pipe_rate = pipe_n / number_after("\"pipeSecs\":");
  r.big_mbs = big_n * 65536.0 / 1e6 / number_after("\"bigSecs\":");
  server.kill();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int ping_n = argc > 1 ? std::atoi(argv[1]) : 20000;
  int pipe_n = argc > 2 ? std::atoi(argv[2]) : 200000;
  int big_n = argc > 3 ? std::atoi(argv[3]) : 5000;
  hx_ws_global_init();
  std::printf("ping-pong %d x 200 B, pipelined %d x 200 B, pipelined %d x 64 KiB on 127.0.0.1\n", ping_n, pipe_n,
              big_n);
  Result ours = bench_ours(ping_n, pipe_n, big_n);
  Result raw = bench_raw(ping_n, pipe_n, big_n);
  Result node;
  bool have_node = bench_node(ping_n, pipe_n, big_n, node);
  std::printf("\n%-26s %12s %12s %12s %10s %10s\n", "", "ours", "node ws", "raw TCP", "ours/ws", "ours/raw");
  auto row = [&](const char* name, double a, double b, double c, bool lower_is_better) {
    double vs_ws = have_node ? (lower_is_better ? b / a : a / b) : 0;
    double vs_raw = lower_is_better ? c / a : a / c;
    std::printf("%-26s %12.1f %12.1f %12.1f %9.2fx %9.2fx\n", name, a, have_node ? b : 0.0, c, vs_ws, vs_raw);
  };
  row("(a) ping-pong msgs/s", ours.pp_rate, node.pp_rate, raw.pp_rate, false);
  row("(a) round trip p50 us", ours.p50_us, node.p50_us, raw.p50_us, true);
  row("(a) round trip p99 us", ours.p99_us, node.p99_us, raw.p99_us, true);
  row("(b) pipelined msgs/s", ours.pipe_rate, node.pipe_rate, raw.pipe_rate, false);
  row("(c) 64 KiB echo MB/s", ours.big_mbs, node.big_mbs, raw.big_mbs, false);
  if (!have_node) std::printf("(node ws not available: run scripts/setup)\n");
  std::printf("ratios: higher is better for ours (round-trip rows compare time the other way round)\n");
  return 0;
}
