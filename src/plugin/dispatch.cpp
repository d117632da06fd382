// Dispatch: the lanes that hand every message and event to the plugins.
//
// Intake threads only copy a record into a task and queue it on a lane; a
// lane offers the copy to the enabled plugins in priority order until one of
// them intercepts it. Each queue holds at most 4,096 tasks: a producer that
// finds its lane full waits, so nothing is dropped for lack of room.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>

#include "config/cfg.h"
#include "foundation/env.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "plugin/plugin_internal.h"
#include "sys/clock.h"
#include "sys/process.h"

std::atomic<int> g_cbBusy{0};

namespace {

constexpr int kMaxLanes = 32;
constexpr int kDefaultLanes = 24;
constexpr int kQueueMax = HX_PL_LANE_QUEUE_MAX;
constexpr int kFullWaitMs = 3000;
constexpr int kIdleWaitMs = 1000;
constexpr int kStopWaitMs = 10000;
// A call this long inside one plugin is taken for hung: other lanes go past
// that plugin instead of queueing behind its call lock for ever.
constexpr std::uint64_t kHungCallMs = 5000;
constexpr int kLockSliceMs = 100;
constexpr const char* kHost = "框架";
constexpr const char* kInfoTag = "插件(↓)";
constexpr const char* kErrTag = "错误(↓)";

enum TaskKind { kGroup = 0, kPrivate = 1, kEvent = 2, kLogin = 3 };

const char* kind_name(int kind) {
  static const char* const kNames[] = {"群消息", "私聊消息", "事件消息", "登录通知", "生命周期"};
  return kind >= 0 && kind <= 4 ? kNames[kind] : "未知";
}

// A task and everything it owns live in one allocation: the task, the
// payload record and the block of the record's texts.
struct Task {
  Task* next = nullptr;
  const char* target = nullptr;  // plugin name (login notifications)
  int kind = 0;
  int enable = 0;
  void* payload = nullptr;
};

struct Lane {
  std::mutex mu;
  std::condition_variable notEmpty, notFull;
  Task* head = nullptr;  // guarded by mu, with tail, backlog and the waiter counts
  Task* tail = nullptr;
  int backlog = 0;
  int idleWaiters = 0;
  int fullWaiters = 0;
  HxThread thread;
  std::atomic<std::uint64_t> handled{0};
  std::atomic<std::uint64_t> fullEvents{0};
};

// Never freed: a lane stuck in a plugin call outlives every owner.
Lane* const g_lanes = new Lane[kMaxLanes];
std::atomic<int> g_laneCount{0};
std::atomic<bool> g_poolStop{false};
std::atomic<std::uint64_t> g_roundRobin{0};
std::atomic<std::uint64_t> g_routed{0};  // tasks queued on a lane, ever
// One call lock per plugin (its cbSlot). Re-entrant: a plugin that its own
// call leads back into (a panel, a hook) does not lock itself out.
std::recursive_timed_mutex g_cbCs[HX_MAX_PLUGINS];
// When the call under each call lock began (ms ticks + 1); 0: no call.
std::atomic<std::uint64_t> g_cbCallSince[HX_MAX_PLUGINS];
std::atomic<std::uint64_t> g_cbHungTold[HX_MAX_PLUGINS];  // the call whose hang was logged

bool log_dispatch() { return hx_cfg_get(&HxCfg::logDispatch) != 0; }
bool log_api() { return hx_cfg_get(&HxCfg::logApi) != 0; }

// Unloading clears `module` while lanes read it without the table lock.
// Both are sequentially consistent: a caller raises the busy counter and then
// reads the module, an unload clears the module and then reads the counter,
// and neither order may be swapped.
SysLibHandle module_of(const HxPlugin* p) { return hx_pl_module(p); }

// ---- Records into tasks ----

constexpr std::size_t align_up(std::size_t n) {
  return (n + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
}

// Copies a record and its texts (null read as empty) into one new task.
template <class Rec, std::size_t N>
Task* copy_record(int kind, const Rec& rec, const char* Rec::*const (&fields)[N]) {
  std::size_t lens[N];
  std::size_t total = 0;
  for (std::size_t i = 0; i < N; ++i) {
    const char* s = rec.*fields[i];
    lens[i] = s ? std::strlen(s) : 0;
    total += lens[i] + 1;
  }
  const std::size_t head = align_up(sizeof(Task)), body = align_up(sizeof(Rec));
  auto* mem = static_cast<char*>(std::malloc(head + body + total));
  if (!mem) return nullptr;
  Task* task = new (mem) Task;
  Rec* copy = new (mem + head) Rec(rec);
  char* block = mem + head + body;
  copy->owner = block;
  for (std::size_t i = 0; i < N; ++i) {
    if (lens[i]) std::memcpy(block, rec.*fields[i], lens[i]);
    block[lens[i]] = '\0';
    copy->*fields[i] = block;
    block += lens[i] + 1;
  }
  task->kind = kind;
  task->payload = copy;
  return task;
}

Task* login_task(const char* target, const char* qq, int enable) {
  const std::size_t tl = std::strlen(target) + 1, ql = std::strlen(qq) + 1;
  auto* mem = static_cast<char*>(std::malloc(align_up(sizeof(Task)) + tl + ql));
  if (!mem) return nullptr;
  Task* task = new (mem) Task;
  char* texts = mem + align_up(sizeof(Task));
  std::memcpy(texts, target, tl);
  std::memcpy(texts + tl, qq, ql);
  task->target = texts;
  task->payload = texts + tl;
  task->kind = kLogin;
  task->enable = enable;
  return task;
}

void free_task(Task* t) {
  t->~Task();
  std::free(t);
}

// ---- Lanes ----

void lane_push(int index, Task* task) {
  Lane& lane = g_lanes[index];
  std::unique_lock lock(lane.mu);
  if (lane.backlog >= kQueueMax) {
    lane.fullEvents.fetch_add(1, std::memory_order_relaxed);
    if (log_dispatch())
      hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "插件积压已达上限(%d)，暂停收件等待处理（worker %d）", kQueueMax, index);
    while (lane.backlog >= kQueueMax && !g_poolStop.load()) {
      ++lane.fullWaiters;
      const bool timed_out =
          lane.notFull.wait_for(lock, std::chrono::milliseconds(kFullWaitMs)) == std::cv_status::timeout;
      --lane.fullWaiters;
      if (timed_out && lane.backlog >= kQueueMax && log_dispatch()) {
        hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "插件仍在处理中，积压 %d 条（worker %d）", lane.backlog, index);
      }
    }
  }
  if (lane.tail) {
    lane.tail->next = task;
  } else {
    lane.head = task;
  }
  lane.tail = task;
  ++lane.backlog;
  g_routed.fetch_add(1, std::memory_order_relaxed);
  const bool wake = lane.idleWaiters > 0;
  lock.unlock();
  if (wake) lane.notEmpty.notify_one();
}

bool lane_hash_on() { return hx_env().laneHash; }

void task_route(Task* task, std::int64_t key) {
  const int lanes = g_laneCount.load();
  if (lanes <= 0) {
    free_task(task);
    return;
  }
  int index;
  if (lane_hash_on()) {
    std::uint64_t x = key < 0 ? 0 - static_cast<std::uint64_t>(key) : static_cast<std::uint64_t>(key);
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    index = lanes < 2 ? 0 : static_cast<int>(x % static_cast<std::uint64_t>(lanes));
  } else {
    index = static_cast<int>(g_roundRobin.fetch_add(1, std::memory_order_relaxed) % static_cast<std::uint64_t>(lanes));
  }
  lane_push(index, task);
}

// ---- Calling plugins ----

using Handler = std::int32_t(HX_STDCALL*)(void*);
using Notice = std::int32_t(HX_STDCALL*)(const char*);

int slot_of(int kind) { return kind == kGroup ? HX_CB_GROUP : kind == kPrivate ? HX_CB_PRIVATE : HX_CB_EVENT; }
void* export_of(const HxPlugin* p, int kind) {
  return kind == kGroup ? p->entryGroup : kind == kPrivate ? p->entryPrivate : p->entryEvent;
}

// The text a log line shows of a payload, UTF-8.
std::string shown_text(int kind, const void* payload) {
  const char* t = kind == kGroup     ? static_cast<const HxGroupMsg*>(payload)->message
                  : kind == kPrivate ? static_cast<const HxPrivateMsg*>(payload)->message
                                     : static_cast<const HxEventMsg*>(payload)->content;
  return hx_auto_to_utf8(t ? t : "").value_or(std::string());
}

struct DispEntry {
  HxPlugin* plugin;
  void* slot;
  void* exported;
  SysLibHandle module;
  int cbSlot;
  char name[128];  // the list's own copy, for its log lines
};
thread_local DispEntry t_disp[HX_MAX_PLUGINS];

// Takes call lock `slot`; false (after one log line per hung call) when the
// call inside has gone on for kHungCallMs.
bool enter_call(const HxPlugin* p, int slot) {
  for (;;) {
    if (g_cbCs[slot].try_lock_for(std::chrono::milliseconds(kLockSliceMs))) return true;
    const std::uint64_t since = g_cbCallSince[slot].load();
    if (since == 0 || sys_ticks_ms() + 1 - since < kHungCallMs) continue;
    if (g_cbHungTold[slot].exchange(since) != since) {
      hx_logf(HX_LOG_ERROR, p->name.c_str(), kErrTag,
              "插件的处理函数已超过 %d 秒未返回：在它返回之前，消息跳过该插件（其他插件照常收到）",
              static_cast<int>(kHungCallMs / 1000));
    }
    return false;
  }
}

// One call into a plugin, under its call lock, with it current; nullopt when
// the plugin is still inside a hung call.
template <class Fn, class Arg>
std::optional<std::int32_t> call_plugin(HxPlugin* p, int slot, Fn fn, Arg arg) {
  if (slot < 0 || slot >= HX_MAX_PLUGINS) return std::nullopt;
  HxCurrentPlugin current(p);
  if (!enter_call(p, slot)) return std::nullopt;
  std::lock_guard lock(g_cbCs[slot], std::adopt_lock);
  // A nested call (the same thread, re-entering) keeps the outer call's start.
  const std::uint64_t outer = g_cbCallSince[slot].load();
  if (!outer) g_cbCallSince[slot].store(sys_ticks_ms() + 1);
  const std::int32_t r = fn(arg);
  if (!outer) g_cbCallSince[slot].store(0);
  return r;
}

void run_chain(int kind, void* payload) {
  int n = 0;
  {
    std::lock_guard lock(g_plCs);
    const int slot = slot_of(kind);
    for (int i = 0; i < g_pluginCount && n < HX_MAX_PLUGINS; ++i) {
      HxPlugin* p = g_plugins[i];
      if (p->state != HX_PL_ENABLED || p->cbSlot < 0) continue;
      void* registered = p->cb[slot];
      void* exported = export_of(p, kind);
      if (!registered && !exported) continue;
      DispEntry& e = t_disp[n++];
      e = {p, registered, exported, module_of(p), p->cbSlot, {}};
      hx_copy_field(e.name, sizeof e.name, p->name);
    }
  }
  for (int i = 0; i < n; ++i) {
    const DispEntry& e = t_disp[i];
    const char* name = e.name;
    if (log_api()) {
      hx_logf(HX_LOG_API, name, kInfoTag, "→调用处理函数[%s]（第 %d 位，入口=%s）：%s", kind_name(kind), i,
              e.slot ? "注册" : "直连导出", shown_text(kind, payload).c_str());
    }
    std::optional<std::int32_t> called;
    {
      HxPlBusy busy(e.plugin);
      const SysLibHandle now = module_of(e.plugin);
      if (!now || now != e.module) {
        if (log_api()) hx_log(HX_LOG_API, name, kInfoTag, "（该插件在本次投递前已卸载，跳过）");
        continue;
      }
      called = call_plugin(e.plugin, e.cbSlot, reinterpret_cast<Handler>(e.slot ? e.slot : e.exported), payload);
    }
    if (!called) continue;  // hung in an earlier call: this one goes past it
    const std::int32_t r = *called;
    if (log_api())
      hx_logf(HX_LOG_API, name, kInfoTag, "←处理函数返回 %d（%s）", r,
              r == 1 ? "拦截，停止后续分发" : "忽略，继续分发");
    if (r == 1) {
      if (log_dispatch()) {
        hx_logf(HX_LOG_PLUGIN, name, kInfoTag, "消息处理_拦截：已停止向后续插件分发（下标 %d，%s：%s）", i,
                kind_name(kind), shown_text(kind, payload).c_str());
      }
      break;
    }
  }
}

void deliver_login(const Task& t) {
  HxPlugin* p = nullptr;
  void* fn = nullptr;
  SysLibHandle module = 0;
  int slot = -1;
  {
    std::lock_guard lock(g_plCs);
    for (int i = 0; i < g_pluginCount; ++i) {
      HxPlugin* c = g_plugins[i];
      if (hx_icmp(c->name, t.target) != 0) continue;
      module = module_of(c);
      if (module && c->state == HX_PL_ENABLED && c->cbSlot >= 0) {
        p = c;
        fn = c->cb[t.enable ? HX_CB_ENABLED : HX_CB_DISABLED];
        slot = c->cbSlot;
      }
      break;
    }
  }
  if (!p || !fn) return;
  // Busy first, then the module, as in the priority chain.
  HxPlBusy busy(p);
  if (module_of(p) == module) call_plugin(p, slot, reinterpret_cast<Notice>(fn), static_cast<const char*>(t.payload));
}

void lane_main(int index) {
  Lane& lane = g_lanes[index];
  for (;;) {
    Task* task;
    {
      std::unique_lock lock(lane.mu);
      while (!lane.head) {
        if (g_poolStop.load()) return;
        ++lane.idleWaiters;
        lane.notEmpty.wait_for(lock, std::chrono::milliseconds(kIdleWaitMs));
        --lane.idleWaiters;
      }
      task = lane.head;
      lane.head = task->next;
      if (!lane.head) lane.tail = nullptr;
      --lane.backlog;
    }
    if (task->kind == kLogin) {
      deliver_login(*task);
    } else {
      run_chain(task->kind, task->payload);
    }
    free_task(task);
    lane.handled.fetch_add(1, std::memory_order_release);
    // A producer waiting for room goes on once a task is finished.
    std::unique_lock lock(lane.mu);
    const bool wake = lane.fullWaiters > 0;
    lock.unlock();
    if (wake) lane.notFull.notify_all();
  }
}

// Whether any enabled plugin handles this kind.
bool anyone_handles(int kind) {
  std::lock_guard lock(g_plCs);
  const int slot = slot_of(kind);
  for (int i = 0; i < g_pluginCount; ++i) {
    const HxPlugin* p = g_plugins[i];
    if (p->state == HX_PL_ENABLED && (p->cb[slot] || export_of(p, kind))) return true;
  }
  return false;
}

template <class Rec, std::size_t N>
void dispatch(int kind, const Rec* rec, const char* Rec::*const (&fields)[N], std::int64_t key) {
  if (!rec || g_laneCount.load() <= 0 || !anyone_handles(kind)) return;
  Task* task = copy_record(kind, *rec, fields);
  if (!task) {
    if (log_dispatch()) hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "内存不足，%s 投递失败（已丢弃）", kind_name(kind));
    return;
  }
  task_route(task, key);
}

constexpr const char* HxGroupMsg::*kGroupTexts[] = {
    &HxGroupMsg::group_name, &HxGroupMsg::card, &HxGroupMsg::raw_message, &HxGroupMsg::message, &HxGroupMsg::nickname};
constexpr const char* HxPrivateMsg::*kPrivateTexts[] = {&HxPrivateMsg::message, &HxPrivateMsg::nickname,
                                                        &HxPrivateMsg::raw_message, &HxPrivateMsg::empty};
constexpr const char* HxEventMsg::*kEventTexts[] = {&HxEventMsg::group_name, &HxEventMsg::text_a, &HxEventMsg::text_b,
                                                    &HxEventMsg::content, &HxEventMsg::flag};

}  // namespace

std::optional<std::int32_t> hx_pl_call_locked(HxPlugin* p, int slot, void* fn, const void* arg) {
  using Fn = std::int32_t(HX_STDCALL*)(const void*);
  return call_plugin(p, slot, reinterpret_cast<Fn>(fn), arg);
}

bool hx_pl_call_lock_idle(int slot) {
  if (slot < 0 || slot >= HX_MAX_PLUGINS || g_cbCallSince[slot].load() != 0) return false;
  if (!g_cbCs[slot].try_lock()) return false;
  g_cbCs[slot].unlock();
  return true;
}

void hx_pl_dispatch_group(const HxGroupMsg* rec) { dispatch(kGroup, rec, kGroupTexts, rec ? rec->bot_qq : 0); }
void hx_pl_dispatch_private(const HxPrivateMsg* rec) { dispatch(kPrivate, rec, kPrivateTexts, rec ? rec->bot_qq : 0); }
void hx_pl_dispatch_event(const HxEventMsg* rec) { dispatch(kEvent, rec, kEventTexts, rec ? rec->bot_qq : 0); }

void hx_pl_notify_login(const char* qq, int on) {
  const char* qq_text = qq ? qq : "";
  const char* word = on ? "启用" : "禁用";
  std::vector<std::string> names;
  {
    std::lock_guard lock(g_plCs);
    for (int i = 0; i < g_pluginCount && names.size() < HX_MAX_PLUGINS; ++i) {
      const HxPlugin* p = g_plugins[i];
      if (p->state != HX_PL_ENABLED) continue;
      if (on ? (p->cb[HX_CB_ENABLED] || p->entryStart) : (p->cb[HX_CB_DISABLED] || p->entryEnd))
        names.push_back(p->name);
    }
  }
  const std::int64_t key = hx_to_i64(qq_text, 0);
  int queued = 0;
  for (const std::string& name : names) {
    Task* t = login_task(name.c_str(), qq_text, on ? 1 : 0);
    if (!t) continue;
    task_route(t, key);
    ++queued;
  }
  hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "已向 %d 个插件发出「被%s」通知（框架QQ=%s）", queued, word, qq_text);
  HxEventMsg ev{};
  ev.bot_qq = key;
  ev.event_type = on ? HX_EV_HOST_LOGIN_OK : HX_EV_HOST_LOGIN_FAILED;
  hx_pl_dispatch_event(&ev);
  hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "已投递事件「%s」给各插件事件处理函数（框架QQ=%s）",
          on ? "框架事件_登录成功" : "框架事件_登录失败", qq_text);
}

int hx_pl_lane_count_for(int setting) {
  if (setting <= 0) return kDefaultLanes;
  return setting > kMaxLanes ? kMaxLanes : setting;
}

void hx_pl_start_lanes(int setting) {
  if (g_laneCount.load() > 0) return;  // started once per process
  const int lanes = hx_pl_lane_count_for(setting);
  g_poolStop.store(false);
  g_routed.store(0);
  int started = 0;
  for (int i = 0; i < lanes; ++i) {
    Lane& lane = g_lanes[i];
    lane.head = lane.tail = nullptr;
    lane.backlog = 0;
    lane.handled.store(0);
    lane.fullEvents.store(0);
    if (!lane.thread.start([i](HxStop&) { lane_main(i); })) break;
    ++started;
  }
  if (started < lanes) hx_logf(HX_LOG_ERROR, kHost, kErrTag, "分发线程只启动了 %d 条（设定 %d 条）", started, lanes);
  g_laneCount.store(started);
}

int hx_pl_stop_pool() {
  const int lanes = g_laneCount.load();
  if (lanes <= 0) return 1;
  g_poolStop.store(true);
  for (int i = 0; i < lanes; ++i) {
    Lane& lane = g_lanes[i];
    { std::lock_guard lock(lane.mu); }
    lane.notEmpty.notify_all();
    lane.notFull.notify_all();
  }
  bool all_ended = true;
  for (int i = 0; i < lanes; ++i) {
    if (!g_lanes[i].thread.wait(kStopWaitMs)) {
      all_ended = false;
      hx_logf(HX_LOG_ERROR, kHost, kErrTag, "分发线程（worker %d）10 秒内未退出，本次不卸载任何 DLL 以免崩溃", i);
    }
  }
  for (int i = 0; i < lanes; ++i) {
    Lane& lane = g_lanes[i];
    std::lock_guard lock(lane.mu);
    while (Task* t = lane.head) {
      lane.head = t->next;
      free_task(t);
    }
    lane.tail = nullptr;
    lane.backlog = 0;
  }
  if (all_ended) g_laneCount.store(0);
  return all_ended ? 1 : 0;
}

int hx_pl_lanes_running() { return g_laneCount.load(); }

void hx_pl_pool_stats(long long* backlog, long long* capacity) {
  const int lanes = g_laneCount.load();
  long long sum = 0;
  for (int i = 0; i < lanes; ++i) {
    std::lock_guard lock(g_lanes[i].mu);
    sum += g_lanes[i].backlog;
  }
  if (backlog) *backlog = sum;
  if (capacity) *capacity = static_cast<long long>(lanes > 0 ? lanes : 1) * kQueueMax;
}

void hx_pl_lane_stats(int* lanes_out, std::uint64_t* handled, std::uint64_t* full, long long* backlog, int* busy) {
  const int lanes = g_laneCount.load();
  std::uint64_t h = 0, f = 0;
  long long b = 0;
  for (int i = 0; i < lanes; ++i) {
    Lane& lane = g_lanes[i];
    h += lane.handled.load();
    f += lane.fullEvents.load();
    std::lock_guard lock(lane.mu);
    b += lane.backlog;
  }
  if (lanes_out) *lanes_out = lanes;
  if (handled) *handled = h;
  if (full) *full = f;
  if (backlog) *backlog = b;
  if (busy) *busy = g_cbBusy.load() > 0 ? 1 : 0;
}

int hx_pl_lane_handled_each(std::uint64_t* out, int max) {
  if (!out || max <= 0) return 0;
  const int lanes = g_laneCount.load();
  int n = 0;
  for (; n < lanes && n < max; ++n) out[n] = g_lanes[n].handled.load();
  return n;
}

bool hx_pl_wait_idle(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::uint64_t handled = 0;
    const int lanes = g_laneCount.load();
    for (int i = 0; i < lanes; ++i) handled += g_lanes[i].handled.load(std::memory_order_acquire);
    if (handled >= g_routed.load()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}
