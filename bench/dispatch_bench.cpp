// End to end: backend frame -> link -> intake -> lanes -> plugin libraries.
// A fast in-process WebSocket server per account stands in for the backends;
// the plugins are copies of bench/plugin (a no-op group handler that counts,
// each copy made distinct by a trailing byte so none is a duplicate).
//   (1) group-message events per second with 1, 8 and 64 enabled plugins;
//   (2) latency from the sender's send to the last plugin's callback at a
//       steady 10,000 events/s (p50, p99, max);
//   (3) resident memory at idle with 16 accounts and 64 plugins, and its
//       peak under load.
// Settings are the defaults a user starts with (group log line on, 24 lanes
// unless given).
//
//   build/linux/bench/dispatch_bench [events] [lanes]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
#include "sys/dynlib.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kAccounts = 16;

InstantPeer g_peers[kAccounts];

std::string qq_of(int i) { return std::to_string(10001 + i); }

long rss_kib(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

using CountFn = long (*)();
using SetupFn = void (*)(std::int64_t*, int);

// Loads `n` distinct copies of the bench plugin from a fresh data directory.
void load_plugins(const fs::path& root, int n, int lanes) {
  const fs::path dll = root / "main" / "data" / "dll";
  fs::create_directories(dll);
  std::ifstream in(HX_BENCH_PLUGIN, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (int i = 0; i < n; ++i) {
    std::ofstream out(dll / ("noop" + std::to_string(100 + i) + HX_PLUGIN_EXT), std::ios::binary);
    out << bytes << "copy " << i;
  }
  hx_set_data_dir(root.string());
  hx_pl_init(lanes);
}

HxPlugin* last_plugin() {
  std::lock_guard lock(g_plCs);
  return g_pluginCount ? g_plugins[g_pluginCount - 1] : nullptr;
}

// Frames are made as they are sent, so that the sender holds no backlog of
// its own and resident memory shows the host's.
double events_per_second(int n, CountFn count) {
  const long base = count();
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    const std::string e = bench_group_event(i);
    hx_ws_send(g_peers[0].conn, e.data(), e.size());
  }
  while (count() - base < n) std::this_thread::sleep_for(std::chrono::microseconds(50));
  return n / std::chrono::duration<double>(Clock::now() - t0).count();
}

void latency_at(int rate, int seconds, CountFn count, SetupFn setup) {
  const int n = rate * seconds;
  std::vector<std::int64_t> arrived(n, 0), sent(n, 0);
  std::vector<std::string> events;
  for (int i = 0; i < n; ++i) events.push_back(bench_group_event(i));
  setup(arrived.data(), n);
  const long base = count();
  const auto t0 = Clock::now();
  const auto step = std::chrono::nanoseconds(1000000000LL / rate);
  for (int i = 0; i < n; ++i) {
    // Sleeping, not spinning: the host needs both cores.
    std::this_thread::sleep_until(t0 + step * i);
    sent[i] = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    hx_ws_send(g_peers[0].conn, events[i].data(), events[i].size());
  }
  while (count() - base < n) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  setup(nullptr, 0);
  std::vector<double> us;
  for (int i = 0; i < n; ++i) us.push_back((arrived[i] - sent[i]) / 1000.0);
  std::sort(us.begin(), us.end());
  std::printf("  %d events/s for %d s: p50 %.0f us   p99 %.0f us   max %.0f us\n", rate, seconds, us[n / 2],
              us[static_cast<std::size_t>(n) * 99 / 100], us.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int n_events = argc > 1 ? std::atoi(argv[1]) : 200000;
  const int lanes = argc > 2 ? std::atoi(argv[2]) : 24;
  const fs::path tmp = fs::temp_directory_path() / ("hx_dispatch_bench_" + std::to_string(::getpid()));
  fs::create_directories(tmp / "cfg");
  hx_set_data_dir((tmp / "cfg").string());
  hx_host_wire();
  hx_ws_global_init();
  hx_log_init(1000);
  hx_cfg_load();  // the defaults
  g_cfg.heartbeat = 600;
  for (int i = 0; i < kAccounts; ++i) {
    InstantPeer& p = g_peers[i];
    p.start();
    HxAccount& acc = g_cfg.accounts[g_cfg.accountCount++];
    std::strcpy(acc.id, qq_of(i).c_str());
    std::strcpy(acc.ip, "127.0.0.1");
    acc.port = p.port();
  }
  hx_ob_init();
  std::printf("dispatch end to end, %d lanes, default settings (group log line on)\n", lanes);
  for (int i = 0; i < kAccounts; ++i) {
    hx_ob_login(qq_of(i));
    ws_conn* conn = g_peers[i].wait_connected();
    const std::string hello = R"({"self_id":)" + qq_of(i) +
                              R"(,"post_type":"meta_event","meta_event_type":"lifecycle","sub_type":"connect"})";
    hx_ws_send(conn, hello.data(), hello.size());
  }
  for (int i = 0; i < kAccounts; ++i) {
    while (!hx_ob_online(qq_of(i))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  for (int plugins : {1, 8, 64}) {
    load_plugins(tmp / ("p" + std::to_string(plugins)), plugins, lanes);
    HxPlugin* last = last_plugin();
    auto count = reinterpret_cast<CountFn>(sys_dl_sym(last->module, "bench_count"));
    auto setup = reinterpret_cast<SetupFn>(sys_dl_sym(last->module, "bench_setup"));
    if (plugins == 64) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      std::printf("resident memory, idle, %d accounts online, %d plugins: %.1f MiB\n", kAccounts, plugins,
                  rss_kib("VmRSS:") / 1024.0);
    }
    events_per_second(5000, count);  // warm-up
    if (plugins == 64) {
      std::ofstream("/proc/self/clear_refs") << "5";  // peak resident memory from here on
    }
    const double rate = events_per_second(n_events, count);
    std::printf("%2d plugins: %9.0f group-message events/s (%d events, every plugin called for each)\n", plugins, rate,
                n_events);
    if (plugins == 8) latency_at(10000, 3, count, setup);
    if (plugins == 64) {
      std::printf("resident memory, peak under that load: %.1f MiB\n", rss_kib("VmHWM:") / 1024.0);
    }
    hx_pl_shutdown();
  }
  hx_ob_stop();
  for (InstantPeer& p : g_peers) p.stop();
  std::error_code ec;
  fs::remove_all(tmp, ec);
  return 0;
}
