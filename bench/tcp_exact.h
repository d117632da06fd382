// Whole-buffer reads and writes on a TCP socket, for the raw TCP figures
// the benchmarks print next to ours.
#pragma once

#include <cstddef>

#include "sys/net.h"

inline bool recv_exact(const SysSocket& s, char* buf, std::size_t n) {
  while (n > 0) {
    const long got = sys_tcp_recv(s, buf, n);
    if (got <= 0) return false;
    buf += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

inline bool send_exact(const SysSocket& s, const char* buf, std::size_t n) {
  while (n > 0) {
    const long put = sys_tcp_send(s, buf, n);
    if (put <= 0) return false;
    buf += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}
