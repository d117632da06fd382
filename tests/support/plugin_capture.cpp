#include "support/plugin_capture.h"

#include <atomic>

namespace {

std::mutex g_mu;
std::vector<HxDispatched> g_events;   // guarded by g_mu
std::vector<std::string> g_notified;  // guarded by g_mu
std::atomic<std::uint64_t> g_total{0};

const char* text_or_empty(const char* s) { return s ? s : ""; }

void keep(HxDispatched d) {
  g_total.fetch_add(1);
  std::lock_guard lock(g_mu);
  g_events.push_back(std::move(d));
}

std::int32_t HX_STDCALL on_group(const HxGroupMsg* rec) {
  HxDispatched d{0, *rec, {}, {}, {}};
  for (const char* t : {rec->group_name, rec->card, rec->raw_message, rec->message, rec->nickname}) {
    d.texts.emplace_back(text_or_empty(t));
  }
  keep(std::move(d));
  return 0;
}

std::int32_t HX_STDCALL on_private(const HxPrivateMsg* rec) {
  HxDispatched d{1, {}, *rec, {}, {}};
  for (const char* t : {rec->message, rec->nickname, rec->raw_message, rec->empty})
    d.texts.emplace_back(text_or_empty(t));
  keep(std::move(d));
  return 0;
}

std::int32_t HX_STDCALL on_event(const HxEventMsg* rec) {
  HxDispatched d{2, {}, {}, *rec, {}};
  for (const char* t : {rec->group_name, rec->text_a, rec->text_b, rec->content, rec->flag}) {
    d.texts.emplace_back(text_or_empty(t));
  }
  keep(std::move(d));
  return 0;
}

std::int32_t on_notice(const char* qq, bool enabled) {
  std::lock_guard lock(g_mu);
  g_notified.push_back((enabled ? "+" : "-") + std::string(text_or_empty(qq)));
  return 0;
}
std::int32_t HX_STDCALL on_enabled(const char* qq) { return on_notice(qq, true); }
std::int32_t HX_STDCALL on_disabled(const char* qq) { return on_notice(qq, false); }

}  // namespace

PluginCapture::PluginCapture(const char* name) {
  if (hx_pl_lanes_running() == 0) {
    hx_pl_start_lanes(1);
    startedLanes_ = true;
  }
  clear();
  void* callbacks[8] = {};
  callbacks[HX_CB_GROUP] = reinterpret_cast<void*>(&on_group);
  callbacks[HX_CB_PRIVATE] = reinterpret_cast<void*>(&on_private);
  callbacks[HX_CB_EVENT] = reinterpret_cast<void*>(&on_event);
  callbacks[HX_CB_ENABLED] = reinterpret_cast<void*>(&on_enabled);
  callbacks[HX_CB_DISABLED] = reinterpret_cast<void*>(&on_disabled);
  plugin_ = hx_pl_add_resident(name, callbacks);
}

PluginCapture::~PluginCapture() {
  hx_pl_wait_idle(10000);
  if (plugin_) hx_pl_remove_resident(plugin_);
  if (startedLanes_) hx_pl_stop_pool();
}

std::vector<HxDispatched> PluginCapture::events() {
  hx_pl_wait_idle(10000);
  std::lock_guard lock(g_mu);
  return g_events;
}

std::vector<std::string> PluginCapture::notifications() {
  hx_pl_wait_idle(10000);
  std::lock_guard lock(g_mu);
  return g_notified;
}

std::uint64_t PluginCapture::total() { return g_total.load(); }

void PluginCapture::clear() {
  hx_pl_wait_idle(10000);
  std::lock_guard lock(g_mu);
  g_events.clear();
  g_notified.clear();
}
