// Event intake and action calls, with a fast in-process C++ peer (our own
// WebSocket server) standing in for the backend so that it is not the
// bottleneck:
//   (1) group-message events per second from WebSocket frame to a plugin
//       callback (an in-process stand-in on one lane; log line on and off);
//   (2) action round trips (call -> reply -> return): calls/s, p50, p99.
//
//   build/linux/bench/intake_bench [events] [calls]
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

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "host/host.h"
#include "instant_peer.h"
#include "link/onebot.h"
#include "link/ws.h"
#include "plugin/plugin.h"

namespace {

using Clock = std::chrono::steady_clock;

InstantPeer g_backend;
ws_conn* g_peer = nullptr;  // the backend side of the link
std::atomic<std::uint64_t> g_delivered{0};

std::int32_t HX_STDCALL count_group(const HxGroupMsg*) {
  g_delivered.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

double events_per_second(int n) {
  std::vector<std::string> events;
  for (int i = 0; i < n; ++i) {
    events.push_back(bench_group_event(i));
  }
  std::uint64_t base = g_delivered.load();
  auto t0 = Clock::now();
  for (const auto& e : events) hx_ws_send(g_peer, e.data(), e.size());
  while (g_delivered.load() - base < static_cast<std::uint64_t>(n)) std::this_thread::yield();
  return n / std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  int n_events = argc > 1 ? std::atoi(argv[1]) : 100000;
  int n_calls = argc > 2 ? std::atoi(argv[2]) : 20000;
  hx_host_wire();
  hx_ws_global_init();
  hx_log_init(1000);
  std::memset(&g_cfg, 0, sizeof g_cfg);
  g_cfg.recvGroup = g_cfg.recvPrivate = g_cfg.recvEvent = 1;
  g_cfg.heartbeat = 600;
  g_cfg.msgCache = 1;
  hx_ob_init();
  void* callbacks[8] = {};
  callbacks[HX_CB_GROUP] = reinterpret_cast<void*>(&count_group);
  hx_pl_add_resident("counter", callbacks);
  hx_pl_start_lanes(1);

  g_backend.start();
  HxAccount& acc = g_cfg.accounts[g_cfg.accountCount++];
  std::strcpy(acc.id, "10001");
  std::strcpy(acc.ip, "127.0.0.1");
  acc.port = g_backend.port();
  hx_ob_login("10001");
  g_peer = g_backend.wait_connected();
  std::string hello =
      R"({"self_id":10001,"post_type":"meta_event","meta_event_type":"lifecycle","sub_type":"connect"})";
  hx_ws_send(g_peer, hello.data(), hello.size());
  while (!hx_ob_online("10001")) std::this_thread::yield();

  events_per_second(2000);  // warm-up
  g_cfg.logGroup = 1;
  double with_log = events_per_second(n_events);
  g_cfg.logGroup = 0;
  double without_log = events_per_second(n_events);

  std::vector<double> rtts;
  auto t0 = Clock::now();
  for (int i = 0; i < n_calls; ++i) {
    auto c0 = Clock::now();
    std::optional<std::string> reply;
    if (!hx_ob_call("10001", "get_status", "{}", &reply, 5000)) std::printf("call %d failed\n", i);
    rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - c0).count());
  }
  double call_rate = n_calls / std::chrono::duration<double>(Clock::now() - t0).count();
  std::sort(rtts.begin(), rtts.end());

  std::printf("intake, %d group-message events, frame -> plugin callback (1 lane):\n", n_events);
  std::printf("  with the 群聊 log line    %10.0f events/s\n", with_log);
  std::printf("  without it               %10.0f events/s\n", without_log);
  std::printf("action calls, %d sequential round trips against an instant peer:\n", n_calls);
  std::printf("  %10.0f calls/s   p50 %.1f us   p99 %.1f us\n", call_rate, rtts[rtts.size() / 2],
              rtts[rtts.size() * 99 / 100]);
  hx_ob_stop();
  hx_pl_stop_pool();
  g_backend.stop();
  return 0;
}
