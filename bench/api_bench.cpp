// API round trip: a plugin's 发送群消息 call -> the action on the account's
// link -> the backend's ok reply -> the call returns "1". The backend is our
// own in-process WebSocket server answering at once, so the figure is the
// host's own cost; next to it, a raw TCP ping-pong of the same process and
// machine, measured in the same run.
//
//   build/linux/bench/api_bench [calls]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
#include "round_trip.h"
#include "sys/net.h"
#include "sys/process.h"
#include "tcp_exact.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
  const fs::path tmp = fs::temp_directory_path() / ("hx_api_bench_" + std::to_string(sys_pid()));
  fs::create_directories(tmp);
  hx_set_data_dir(tmp.string());
  hx_host_wire();
  hx_ws_global_init();
  hx_log_init(1000);
  hx_cfg_load();  // the defaults
  g_cfg.heartbeat = 600;
  InstantPeer peer;
  if (!peer.start()) return 1;
  HxAccount& acc = g_cfg.accounts[g_cfg.accountCount++];
  std::strcpy(acc.id, "10001");
  std::strcpy(acc.ip, "127.0.0.1");
  acc.port = peer.port();
  hx_ob_init();
  hx_ob_login("10001");
  ws_conn* conn = peer.wait_connected();
  const std::string hello =
      R"({"self_id":10001,"post_type":"meta_event","meta_event_type":"lifecycle","sub_type":"connect"})";
  hx_ws_send(conn, hello.data(), hello.size());
  while (!hx_ob_online("10001")) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  const std::string text = "大家好，这是一条普通的回复 hello 123";
  for (int i = 0; i < 500; ++i) api_send_group_msg(0, 10001, 20001, text.c_str(), 0);  // warm up
  std::vector<double> us;
  int failed = 0;
  for (int i = 0; i < calls; ++i) {
    const auto t0 = RoundTripClock::now();
    failed += std::strcmp(api_send_group_msg(0, 10001, 20001, text.c_str(), 0), "1") != 0;
    us.push_back(micros_since(t0));
  }
  const RoundTripFigures api = percentiles(us);
  const RoundTripFigures raw = raw_tcp(calls);
  std::printf("API round trip over %d calls (发送群消息 -> send_group_msg -> ok -> \"1\"), %d failed\n", calls, failed);
  std::printf("  %-22s p50 %7.1f us   p99 %7.1f us\n", "API call", api.p50, api.p99);
  std::printf("  %-22s p50 %7.1f us   p99 %7.1f us\n", "raw TCP ping-pong", raw.p50, raw.p99);
  std::printf("  ratio API/raw          p50 %7.2f x   p99 %7.2f x\n", api.p50 / raw.p50, api.p99 / raw.p99);
  hx_ob_stop();
  peer.stop();
  std::error_code ec;
  fs::remove_all(tmp, ec);
  return 0;
}
