// The API table and the forms plugins receive it in (address and name
// arrays, E-language array images, apidata JSON), name lookup, and call
// tracing through one trampoline per entry.
//
// The lazy builds take no lock: they first run while plugins load, before any
// plugin can call the API. Counters use atomic increments; the ring slots and
// the limited log counters tolerate races (an extra line at most).
#include "api/api.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "api/api_conv.h"
#include "api/api_entries.h"
#include "api/api_list.h"
#include "config/cfg.h"
#include "foundation/env.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"

namespace {

// ---- the argument-block size of each prototype, as 32-bit x86 lays it out ----

template <class T>
constexpr int arg32() {
  if constexpr (std::is_pointer_v<T>) {
    return 4;
  } else {
    return static_cast<int>((sizeof(T) + 3) / 4 * 4);
  }
}

template <class R, class... A>
constexpr int arg_bytes(R(HX_STDCALL*)(A...)) {
  return (0 + ... + arg32<A>());
}

#define HX_CHECK_ARGS(i, name, fn, bytes) \
  static_assert(arg_bytes(&fn) == (bytes), "argument block of " #fn " (entry " #i ") must be " #bytes " bytes");
HX_API_LIST(HX_CHECK_ARGS)
#undef HX_CHECK_ARGS

constexpr int kRingSize = 32;
constexpr int kMissLogLimit = 80;
constexpr int kAddrLogLimit = 300;
constexpr int kEspLogLimit = 400;
constexpr long kCallLineLimit = 1200;
constexpr const char* kHost = "框架";

// ---- the entry stubs ----

void* g_addrArr[HX_API_COUNT];
const char* g_nameArr[HX_API_COUNT];
std::string g_gbkNames[HX_API_COUNT];  // what g_nameArr points into
bool g_built = false;                  // guarded by g_buildMu, with everything built on first use
std::mutex g_buildMu;

void build() {
  if (g_built) return;
  if (!api_entries_make(g_addrArr)) {
    hx_log(HX_LOG_ERROR, kHost, "错误(↓)", "API 跳板内存分配失败，API 调用追踪不可用（功能不受影响）");
  }
  for (int i = 0; i < HX_API_COUNT; ++i) {
    std::optional<std::string> gbk = hx_utf8_to_gbk(g_apiTable[i].name);
    if (gbk) g_gbkNames[i] = std::move(*gbk);
    g_nameArr[i] = gbk ? g_gbkNames[i].c_str() : g_apiTable[i].name;
  }
  g_built = true;
}

// ---- trace state ----

std::atomic<long> g_traceTotal{0};
std::atomic<int> g_ringPos{-1};
std::atomic<int> g_traceRing[kRingSize];
std::atomic<long> g_traceCount[HX_API_COUNT];
std::atomic<int> g_apiMissLogged{0};
std::atomic<int> g_addrLogCount{0};
std::atomic<int> g_espProbe{-1};
std::atomic<int> g_espLogged{0};
std::atomic<int> g_espSeq{0};

struct Pending {
  int index = -1;
  long long logCount = -1;  // the log total when the call began; -1 = not tracked
  char plugin[64] = {};
  char api[64] = {};
};
thread_local Pending t_pend;

const char* plugin_or_host() {
  const char* name = hx_pl_current_name();
  return name && *name ? name : kHost;
}

bool log_full() {
  return hx_cfg_get(&HxCfg::logCap) > 0 && hx_log_total() >= static_cast<std::uint64_t>(hx_cfg_get(&HxCfg::logCap));
}

// "调用 %s" for a call that wrote no log line of its own.
void settle(const Pending& p) {
  if (p.index < 0 || log_full()) return;
  if (p.logCount < 0 || static_cast<std::uint64_t>(p.logCount) != hx_log_total()) return;
  hx_logf(HX_LOG_API, p.plugin[0] ? p.plugin : kHost, "API", "调用 %s", p.api[0] ? p.api : "?");
}

}  // namespace

#define HX_ENTRY(i, name, fn, bytes) {name, reinterpret_cast<void*>(&fn), (i) < HX_API_PERMISSIONS ? 1 : 0, bytes},
const HxApiEntry g_apiTable[HX_API_COUNT] = {HX_API_LIST(HX_ENTRY)};
#undef HX_ENTRY

HxApiTriple api_build_table() {
  std::lock_guard lock(g_buildMu);
  build();
  return {HX_API_COUNT, g_addrArr, g_nameArr};
}

HxEplArrays api_epl_arrays() {
  static HxEplArrays arrays{};
  std::lock_guard lock(g_buildMu);
  if (arrays.names) return arrays;
  build();
  // An E-language one-dimensional array: dimension count, element count, elements.
  auto image = [](auto element) -> void* {
    auto* block = static_cast<std::uint32_t*>(std::calloc(2 + HX_API_COUNT, sizeof(void*) == 4 ? 4 : 8));
    if (!block) return nullptr;
    if constexpr (sizeof(void*) == 4) {
      block[0] = 1;
      block[1] = HX_API_COUNT;
      for (int i = 0; i < HX_API_COUNT; ++i)
        block[2 + i] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(element(i)));
    } else {
      // 64-bit builds keep the two 32-bit header words, then native pointers.
      block[0] = 1;
      block[1] = HX_API_COUNT;
      auto* elements = reinterpret_cast<const void**>(block + 2);
      for (int i = 0; i < HX_API_COUNT; ++i) elements[i] = element(i);
    }
    return block;
  };
  void* names = image([](int i) -> const void* { return g_nameArr[i]; });
  void* addresses = image([](int i) -> const void* { return g_addrArr[i]; });
  if (!names || !addresses) {
    std::free(names);
    std::free(addresses);
    return {};
  }
  arrays = {names, addresses};
  return arrays;
}

const std::string& api_build_apidata_json() {
  static std::string cached;
  std::lock_guard lock(g_buildMu);
  if (!cached.empty()) return cached;
  build();
  const bool as_string = hx_env().apidataStr, wrap = hx_env().apidataWrap;
  // Written by hand rather than through cJSON: the member names are raw GBK
  // bytes, which a JSON library would escape or refuse.
  std::string out = wrap ? "{\"data\":{" : "{";
  for (int i = 0; i < HX_API_COUNT; ++i) {
    if (i) out += ',';
    out += '"';
    for (const char* p = g_nameArr[i]; *p; ++p) {
      if (*p == '"' || *p == '\\') out += '\\';
      out += *p;
    }
    out += "\":";
    const unsigned long long addr = reinterpret_cast<std::uintptr_t>(g_addrArr[i]);
    if (as_string) {
      sb_printf(out, "\"%llu\"", addr);
    } else {
      sb_printf(out, "%llu", addr);
    }
  }
  out += wrap ? "}}" : "}";
  cached = std::move(out);
  return cached;
}

void* api_lookup(const char* name) {
  if (!name) return nullptr;
  for (const auto& e : g_apiTable) {
    if (std::strcmp(name, e.name) == 0) return e.function;
  }
  std::optional<std::string> u8 = hx_auto_to_utf8(name);
  if (!u8) return nullptr;
  if (*u8 != name) {
    for (const auto& e : g_apiTable) {
      if (*u8 == e.name) return e.function;
    }
  }
  const char* plugin = hx_pl_current_name();
  if (plugin && g_apiMissLogged.load() < kMissLogLimit) {
    ++g_apiMissLogged;
    unsigned char b[4] = {};
    std::size_t n = std::strlen(name);
    std::memcpy(b, name, std::min<std::size_t>(n, 4));  // bytes past the terminator print as 00
    hx_logf(HX_LOG_ERROR, plugin, "错误(↓)", "插件按名取 API 地址失败：[%s]（原始字节 %02X %02X %02X %02X）",
            u8->c_str(), b[0], b[1], b[2], b[3]);
  }
  return nullptr;
}

std::uintptr_t HX_STDCALL api_get_api_addr(hx_text name) {
  return api_guard(std::uintptr_t{0}, [&] {
    void* fn = api_lookup(name);
    if (hx_cfg_get(&HxCfg::logApi) && g_addrLogCount.load() < kAddrLogLimit) {
      ++g_addrLogCount;
      std::optional<std::string> u8 = name ? hx_auto_to_utf8(name) : std::nullopt;
      hx_logf(HX_LOG_API, plugin_or_host(), "API", "取API函数地址(%s) -> %s", u8 ? u8->c_str() : "(空)",
              fn ? "命中" : "未命中");
    }
    return reinterpret_cast<std::uintptr_t>(fn);
  });
}

extern "C" void api_trace_enter(int i) {
  if (i < 0 || i >= HX_API_COUNT) return;
  if (g_espProbe.load() < 0) g_espProbe = hx_env().espProbe ? 1 : 0;
  if (g_espProbe.load() == 1 && g_espLogged.load() <= kEspLogLimit) {
    // The slot above the index is the plugin's stack pointer at its call.
    const auto slot = reinterpret_cast<std::uintptr_t>(&i) + sizeof(void*);
    std::string tid;
    sb_printf(tid, "%zu", std::hash<std::thread::id>{}(std::this_thread::get_id()) % 100000);
    hx_logf(HX_LOG_API, plugin_or_host(), "栈探", "#%d tid=%s %-16s slot=0x%08llX", ++g_espSeq, tid.c_str(),
            g_apiTable[i].name, static_cast<unsigned long long>(slot));
    ++g_espLogged;
  }
  const long total = ++g_traceTotal;
  g_traceRing[(++g_ringPos) & (kRingSize - 1)] = i;
  ++g_traceCount[i];

  Pending next;
  next.index = i;
  if (!hx_cfg_get(&HxCfg::logApi)) {
    next.logCount = -1;
  } else {
    if (total <= kCallLineLimit && t_pend.index >= 0) settle(t_pend);
    next.logCount = static_cast<long long>(hx_log_total());
  }
  hx_copy_field(next.plugin, sizeof next.plugin, plugin_or_host());
  hx_copy_field(next.api, sizeof next.api, g_apiTable[i].name);
  t_pend = next;
}

void api_trace_flush() {
  Pending p = t_pend;
  t_pend = Pending{};
  settle(p);
}

std::string api_trace_recent(std::size_t len) {
  std::string out;
  const int pos = g_ringPos.load();
  if (len == 0 || pos < 0) return out;
  for (int k = 0; k < kRingSize && pos - k >= 0; ++k) {
    const int idx = g_traceRing[(pos - k) & (kRingSize - 1)].load();
    if (idx < 0 || idx >= HX_API_COUNT) continue;
    if (!out.empty()) out += " -> ";
    out += g_apiTable[idx].name;
    if (out.size() + 4 >= len) break;
  }
  if (out.size() > len - 1) out.resize(hx_utf8_cut(out, len - 1));
  return out;
}

const char* api_name_at(const void* address) {
  const int index = api_entry_index(address);
  return index >= 0 ? g_apiTable[index].name : nullptr;
}

void api_trace_dump() {
  api_trace_flush();
  std::vector<int> used;
  for (int i = 0; i < HX_API_COUNT; ++i) {
    if (g_traceCount[i].load() > 0) used.push_back(i);
  }
  std::stable_sort(used.begin(), used.end(),
                   [](int a, int b) { return g_traceCount[a].load() > g_traceCount[b].load(); });
  hx_logf(HX_LOG_API, kHost, "API", "=== API 调用汇总：共 %ld 次调用，涉及 %d 个 API ===", g_traceTotal.load(),
          static_cast<int>(used.size()));
  for (int i : used) hx_logf(HX_LOG_API, kHost, "API", "    %-28s x%ld", g_apiTable[i].name, g_traceCount[i].load());
}

long api_trace_total() { return g_traceTotal.load(); }

HxPlApiForms api_forms() { return HxPlApiForms{api_build_table(), api_epl_arrays(), &api_build_apidata_json()}; }
