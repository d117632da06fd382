// Latency figures of round trips, and the raw TCP ping-pong the benchmarks
// print next to their own round trips.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "sys/net.h"
#include "tcp_exact.h"

using RoundTripClock = std::chrono::steady_clock;

struct RoundTripFigures {
  double p50, p99;
};

inline RoundTripFigures percentiles(std::vector<double>& us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

inline double micros_since(RoundTripClock::time_point t0) {
  return std::chrono::duration<double, std::micro>(RoundTripClock::now() - t0).count();
}

// `n` 200-byte exchanges with an echo thread over loopback.
inline RoundTripFigures raw_tcp(int n) {
  std::uint16_t port = 0;
  SysSocket listener = sys_tcp_listen("127.0.0.1", 0, &port);
  std::thread echo([&] {
    SysSocket s = sys_tcp_accept(listener, nullptr);
    sys_tcp_nodelay(s);
    char buf[200];
    while (recv_exact(s, buf, sizeof buf) && send_exact(s, buf, sizeof buf)) {
    }
  });
  SysSocket c = sys_tcp_connect("127.0.0.1", port);
  sys_tcp_nodelay(c);
  char buf[200] = {};
  std::vector<double> us;
  for (int i = 0; i < n; ++i) {
    const auto t0 = RoundTripClock::now();
    send_exact(c, buf, sizeof buf);
    recv_exact(c, buf, sizeof buf);
    us.push_back(micros_since(t0));
  }
  sys_tcp_shutdown(c);
  echo.join();
  return percentiles(us);
}
