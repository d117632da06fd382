// The plugin host: loading, initialisation and dispatch of plugins.
//
// Loading is still to come: these entry points keep the host's start-up and
// shutdown sequence in its final shape.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tolvex_sdk.h"

// Loads and initialises the plugins and starts `lanes` dispatch lanes. Runs on
// the boot thread.
void hx_pl_init(int lanes);
// Stops the lanes, tells the plugins and unloads them. Main thread, at shutdown.
void hx_pl_shutdown();

// The name of the plugin on whose behalf the current thread runs, or null
// when it runs for the host itself.
const char* hx_pl_current_name();
// Sets it for the calling thread (null: the host itself). The dispatcher
// sets it around every plugin call.
void hx_pl_set_current_name(const char* name);

// Tells every enabled plugin that account `qq` logged in (1) or out (0). Any
// thread.
void hx_pl_notify_login(const char* qq, int on);

// Until dispatch exists, login notifications are only recorded, so that the
// link layer can be checked: the calls so far, oldest first ("+qq" for a
// login, "-qq" for a logout).
std::vector<std::string> hx_pl_notifications();

// Hands a record to the plugins (the dispatcher copies what it keeps; the
// caller may free the record when the call returns). Any thread.
void hx_pl_dispatch_group(const HxGroupMsg* rec);
void hx_pl_dispatch_private(const HxPrivateMsg* rec);
void hx_pl_dispatch_event(const HxEventMsg* rec);

// Until the dispatch lanes exist, dispatched records are kept for checking:
// the kind (0 group, 1 private, 2 event), a copy of the record (text pointers
// cleared) and its texts in field order.
struct HxDispatched {
  int kind;
  HxGroupMsg group;
  HxPrivateMsg priv;
  HxEventMsg event;
  std::vector<std::string> texts;
};
std::vector<HxDispatched> hx_pl_dispatched();
// Records dispatched since the start (all of them, not only those kept).
std::uint64_t hx_pl_dispatch_total();
void hx_pl_dispatched_clear();

// Name caches of the plugin host, keyed by bot account and id, holding UTF-8
// names (256 entries each, the oldest dropped first). Any thread.
void hx_pl_cache_group(std::string_view account, std::string_view id, std::string_view name);
void hx_pl_cache_nick(std::string_view account, std::string_view id, std::string_view name);
std::string hx_pl_group_name_cache(std::string_view account, std::string_view id);
std::string hx_pl_nick_cache(std::string_view account, std::string_view id);
