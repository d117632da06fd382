// The in-memory log store. One mutex guards the ring, its counters and the
// sink pointer; formatting happens before the lock is taken and the sink runs
// after it is released, so the work under the lock is one entry copy.
#include "foundation/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

namespace {

constexpr const char* kDefaultTags[HX_LOG_LEVELS] = {"系统", "登录", "群聊", "私聊", "事件",
                                                     "插件", "API",  "错误", "调试"};
constexpr const char* kDefaultSource = "框架";

std::mutex g_cs;
std::unique_ptr<hx_log_entry[]> g_buf;  // guarded by g_cs
int g_cap = 0;                          // guarded by g_cs
int g_head = 0;                         // guarded by g_cs
int g_count = 0;                        // guarded by g_cs
std::uint64_t g_total = 0;              // guarded by g_cs
hx_log_sink g_sink = nullptr;           // guarded by g_cs
void* g_sinkUser = nullptr;             // guarded by g_cs

// Read without the lock on every log call.
std::atomic<bool> g_switch[HX_LOG_LEVELS] = {true, true, true, true, true, true, true, true, false};

inline bool valid_level(int level) { return level >= 0 && level < HX_LOG_LEVELS; }

bool level_passes(int level) {
  if (level == HX_LOG_SYSTEM || level == HX_LOG_ERROR) return true;
  return valid_level(level) && g_switch[level].load(std::memory_order_relaxed);
}

void vformat(char (&buf)[sizeof hx_log_entry::text], const char* fmt, va_list ap) {
  int n = std::vsnprintf(buf, sizeof buf, fmt ? fmt : "", ap);
  if (n < 0) {
    buf[0] = '\0';
  } else if (static_cast<size_t>(n) >= sizeof buf) {
    // vsnprintf cut byte-wise; pull the cut back to a character boundary.
    buf[hx_utf8_cut(std::string_view(buf, sizeof buf - 1), sizeof buf - 1)] = '\0';
  }
}

int write_entry(int level, const char* source, const char* tag, const char* text) {
  hx_log_entry e;
  e.time = hx_now();
  e.level = level;
  hx_copy_field(e.source, sizeof e.source, source ? source : kDefaultSource);
  hx_copy_field(e.tag, sizeof e.tag, tag ? tag : hx_log_default_tag(level));
  hx_copy_field(e.text, sizeof e.text, text ? text : "");

  hx_log_sink sink;
  void* user;
  {
    std::lock_guard lock(g_cs);
    if (g_cap > 0) {
      g_buf[g_head] = e;
      g_head = (g_head + 1) % g_cap;
      if (g_count < g_cap) ++g_count;
      ++g_total;
    }
    sink = g_sink;
    user = g_sinkUser;
  }
  return sink ? sink(&e, user) : 0;
}

int clamp_cap(int capacity) {
  return capacity < HX_LOG_CAP_MIN ? HX_LOG_CAP_MIN : capacity > HX_LOG_CAP_MAX ? HX_LOG_CAP_MAX : capacity;
}

}  // namespace

const char* hx_log_default_tag(int level) { return level >= 1 && level <= 8 ? kDefaultTags[level] : kDefaultTags[0]; }

void hx_log_init(int capacity) {
  int cap = clamp_cap(capacity);
  std::unique_ptr<hx_log_entry[]> buf(new (std::nothrow) hx_log_entry[static_cast<size_t>(cap)]());
  {
    std::lock_guard lock(g_cs);
    g_buf = std::move(buf);
    g_cap = g_buf ? cap : 0;
    g_head = g_count = 0;
    g_total = 0;
  }
  for (int i = 0; i < HX_LOG_LEVELS; ++i) g_switch[i] = i != HX_LOG_DEBUG;
}

void hx_log_resize(int capacity) {
  int cap = clamp_cap(capacity);
  std::unique_ptr<hx_log_entry[]> buf(new (std::nothrow) hx_log_entry[static_cast<size_t>(cap)]());
  if (!buf) return;  // keep the ring we have
  std::lock_guard lock(g_cs);
  if (g_cap == 0) g_total = 0;
  int keep = g_count < cap ? g_count : cap;  // g_count is 0 without a ring
  for (int i = 0; i < keep; ++i) {           // oldest kept entry first
    buf[i] = g_buf[((g_head - keep + i) % g_cap + g_cap) % g_cap];
  }
  buf.swap(g_buf);
  g_cap = cap;
  g_count = keep;
  g_head = keep % cap;
}

void hx_log_shutdown() {
  std::unique_ptr<hx_log_entry[]> old;
  std::lock_guard lock(g_cs);
  old = std::move(g_buf);
  g_cap = g_head = g_count = 0;
}

void hx_log_set_switch(int level, int on) {
  if (valid_level(level)) g_switch[level] = on != 0;
}

int hx_log_get_switch(int level) { return valid_level(level) && g_switch[level] ? 1 : 0; }

void hx_log_set_sink(hx_log_sink fn, void* user) {
  std::lock_guard lock(g_cs);
  g_sink = fn;
  g_sinkUser = fn ? user : nullptr;
}

int hx_log(int level, const char* source, const char* tag, const char* text) {
  if (!level_passes(level)) return 0;
  return write_entry(level, source, tag, text);
}

int hx_logf(int level, const char* source, const char* tag, const char* fmt, ...) {
  char text[sizeof hx_log_entry::text];
  va_list ap;
  va_start(ap, fmt);
  vformat(text, fmt, ap);
  va_end(ap);
  return hx_log(level, source, tag, text);
}

int hx_dbg_on() { return g_switch[HX_LOG_DEBUG].load(std::memory_order_relaxed) ? 1 : 0; }

void hx_dbgf(const char* source, const char* fmt, ...) {
  if (!hx_dbg_on()) return;
  char text[sizeof hx_log_entry::text];
  va_list ap;
  va_start(ap, fmt);
  vformat(text, fmt, ap);
  va_end(ap);
  hx_log(HX_LOG_DEBUG, source, nullptr, text);
}

int hx_log_count() {
  std::lock_guard lock(g_cs);
  return g_count;
}

std::uint64_t hx_log_total() {
  std::lock_guard lock(g_cs);
  return g_total;
}

bool hx_log_at(int i, hx_log_entry* out) {
  if (!out) return false;
  std::lock_guard lock(g_cs);
  if (i < 0 || i >= g_count) return false;
  int slot = ((g_head - 1 - i) % g_cap + g_cap) % g_cap;
  *out = g_buf[slot];
  return true;
}

void hx_log_clear() {
  std::lock_guard lock(g_cs);
  g_head = g_count = 0;
}

std::string hx_log_export_text() {
  std::string out;
  hx_log_entry e;
  // One lock per entry: lines logged meanwhile may shift the window a little.
  for (int i = hx_log_count() - 1; i >= 0; --i) {
    if (!hx_log_at(i, &e)) continue;
    sb_printf(out, "[%s] [%s] [%s] %s\r\n", hx_fmt_time(e.time).c_str(), e.source, e.tag, e.text);
  }
  return out;
}
