#include "plugin/plugin.h"

#include <atomic>
#include <deque>
#include <mutex>

namespace {
std::mutex g_notifyMu;
std::vector<std::string> g_notified;  // guarded by g_notifyMu
}  // namespace

void hx_pl_start_lanes(int) {}
void hx_pl_stop_lanes() {}

void hx_pl_notify_login(const char* qq, int on) {
  std::lock_guard lock(g_notifyMu);
  g_notified.push_back((on ? "+" : "-") + std::string(qq ? qq : ""));
}

std::vector<std::string> hx_pl_notifications() {
  std::lock_guard lock(g_notifyMu);
  return g_notified;
}



namespace {
std::deque<HxDispatched> g_dispatched;  // guarded by g_notifyMu; the newest kept
std::atomic<std::uint64_t> g_dispatchTotal{0};
constexpr std::size_t kDispatchedKept = 10000;

const char* text_or_empty(const char* s) { return s ? s : ""; }

void keep(HxDispatched d) {
  g_dispatchTotal.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard lock(g_notifyMu);
  if (g_dispatched.size() >= kDispatchedKept) g_dispatched.pop_front();
  g_dispatched.push_back(std::move(d));
}
}  // namespace

void hx_pl_dispatch_group(const HxGroupMsg* rec) {
  if (!rec) return;
  HxDispatched d{0, *rec, {}, {}, {}};
  for (const char* t : {rec->group_name, rec->card, rec->raw_message, rec->message, rec->nickname}) {
    d.texts.emplace_back(text_or_empty(t));
  }
  d.group.group_name = d.group.card = d.group.raw_message = d.group.message = d.group.nickname = nullptr;
  keep(std::move(d));
}

void hx_pl_dispatch_private(const HxPrivateMsg* rec) {
  if (!rec) return;
  HxDispatched d{1, {}, *rec, {}, {}};
  for (const char* t : {rec->message, rec->nickname, rec->raw_message, rec->empty}) d.texts.emplace_back(text_or_empty(t));
  d.priv.message = d.priv.nickname = d.priv.raw_message = d.priv.empty = nullptr;
  keep(std::move(d));
}

void hx_pl_dispatch_event(const HxEventMsg* rec) {
  if (!rec) return;
  HxDispatched d{2, {}, {}, *rec, {}};
  for (const char* t : {rec->group_name, rec->text_a, rec->text_b, rec->content, rec->flag}) {
    d.texts.emplace_back(text_or_empty(t));
  }
  d.event.group_name = d.event.text_a = d.event.text_b = d.event.content = d.event.flag = nullptr;
  keep(std::move(d));
}

std::vector<HxDispatched> hx_pl_dispatched() {
  std::lock_guard lock(g_notifyMu);
  return {g_dispatched.begin(), g_dispatched.end()};
}

std::uint64_t hx_pl_dispatch_total() { return g_dispatchTotal.load(); }

void hx_pl_dispatched_clear() {
  std::lock_guard lock(g_notifyMu);
  g_dispatched.clear();
}
