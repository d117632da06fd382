// Time, base64 and download helpers of util.h.
#include <atomic>
#include <cstdio>

#include "foundation/util.h"
#include "sys/clock.h"
#include "sys/http.h"

namespace {
std::atomic<std::int64_t> g_upAt{0};

std::string fmt_local(std::int64_t t, bool with_date) {
  SysLocalTime lt{};
  if (!sys_local_time(t, lt)) lt = {0, 0, 0, 0, 0, 0};
  char buf[32];
  if (with_date) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", lt.year, lt.month, lt.day, lt.hour, lt.minute,
                  lt.second);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", lt.hour, lt.minute, lt.second);
  }
  return buf;
}
}  // namespace

std::int64_t hx_now() { return sys_unix_now(); }

std::string hx_fmt_time(std::int64_t t) { return fmt_local(t, true); }

std::string hx_fmt_hm(std::int64_t t) { return fmt_local(t, false); }

std::string hx_fmt_dur(std::int64_t secs) {
  long long s = secs < 0 ? 0 : static_cast<long long>(secs);
  std::string out;
  sb_printf(out, "%lld时%lld分%lld秒", s / 3600, s % 3600 / 60, s % 60);
  return out;
}

std::string hx_fmt_dur_dhm(std::int64_t secs) {
  long long s = secs < 0 ? 0 : static_cast<long long>(secs);
  std::string out;
  sb_printf(out, "%lld天%lld时%lld分", s / 86400, s % 86400 / 3600, s % 3600 / 60);
  return out;
}

std::int64_t hx_uptime_reset() {
  std::int64_t now = hx_now();
  g_upAt = now;
  return now;
}

std::int64_t hx_uptime() {
  std::int64_t now = hx_now();
  std::int64_t zero = 0;
  g_upAt.compare_exchange_strong(zero, now);
  std::int64_t up = now - g_upAt.load();
  return up < 0 ? 0 : up;
}

std::optional<std::string> hx_base64_encode(std::string_view data) {
  if (data.size() > HX_B64_MAX) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const size_t n = data.size();
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    unsigned v = p[i] << 16 | p[i + 1] << 8 | p[i + 2];
    out += HX_B64_TABLE[v >> 18];
    out += HX_B64_TABLE[v >> 12 & 63];
    out += HX_B64_TABLE[v >> 6 & 63];
    out += HX_B64_TABLE[v & 63];
  }
  if (n - i == 1) {
    unsigned v = p[i] << 16;
    out += HX_B64_TABLE[v >> 18];
    out += HX_B64_TABLE[v >> 12 & 63];
    out += "==";
  } else if (n - i == 2) {
    unsigned v = p[i] << 16 | p[i + 1] << 8;
    out += HX_B64_TABLE[v >> 18];
    out += HX_B64_TABLE[v >> 12 & 63];
    out += HX_B64_TABLE[v >> 6 & 63];
    out += '=';
  }
  return out;
}

std::optional<std::string> hx_http_download(std::string_view url) {
  if (url.empty()) return std::nullopt;
  SysHttpRequest req;
  req.url = url;
  req.agent = HX_HTTP_AGENT;
  req.timeoutMs = HX_HTTP_TIMEOUT_MS;
  req.maxBytes = HX_HTTP_MAX - 1;  // the C form adds a terminator within the same limit
  std::string body;
  if (sys_http_get(req, body) != SysHttpStatus::ok || body.empty()) return std::nullopt;
  return body;
}

std::uint32_t hx_fnv1a(std::string_view s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

std::uint64_t hx_fnv1a64(std::string_view s, std::uint64_t basis) {
  std::uint64_t h = basis;
  for (unsigned char c : s) h = (h ^ c) * HX_FNV64_PRIME;
  return h;
}
