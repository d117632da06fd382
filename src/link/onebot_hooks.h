// What the link layer tells the layers above it, and the little it asks them.
//
// The link layer knows nothing of plugins or windows: it announces logins,
// account-list changes and events through these hooks, which the host
// installs once at start-up, before any link starts. A hook left null does
// nothing (a question left unanswered gives the empty answer). Hooks run on
// link threads (receive, recognition, roster) and must not block for long.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tolvex_sdk.h"

struct ws_conn;

struct HxObHooks {
  // An account logged in (on = 1) or went away (on = 0).
  void (*login)(const char* qq, int on) = nullptr;
  // The account table changed (reverse mode adds and removes accounts).
  void (*accounts_changed)() = nullptr;
  // An event for the plugins. The record and every text in it belong to the
  // caller and live only for the call: whoever keeps them copies them.
  void (*group)(const HxGroupMsg* rec) = nullptr;
  void (*private_msg)(const HxPrivateMsg* rec) = nullptr;
  void (*event)(const HxEventMsg* rec) = nullptr;
  // The name caches, fed by the roster refresh and read by event intake.
  void (*cache_group)(std::string_view account, std::string_view id, std::string_view name) = nullptr;
  void (*cache_nick)(std::string_view account, std::string_view id, std::string_view name) = nullptr;
  std::string (*group_name)(std::string_view account, std::string_view id) = nullptr;
  // Who the calling thread works for (a plugin's name), for log lines; null
  // for the host itself.
  const char* (*caller)() = nullptr;
  // The event stream's WebSocket path of forward links; null gives "/".
  const char* (*ws_path)() = nullptr;

  // Another protocol on the same links (Milky); each hook left null, or
  // declining, leaves the work to OneBot.
  // Carries an action instead of the link: 1 or 0 as hx_ob_call answers,
  // -1 to leave it to the link.
  int (*call)(std::string_view bot_qq, std::string_view action, std::string_view params,
              std::optional<std::string>* reply, int timeout_ms) = nullptr;
  // Rewrites a received text as a OneBot event into `out` (left empty: the
  // text is dropped); false leaves the text as it is.
  bool (*event_in)(std::string_view text, std::string* out) = nullptr;
  // A forward connection opened for `account` (runs on its receive thread).
  void (*opened)(ws_conn* c, const char* account) = nullptr;
  // Every link is closed (the end of hx_ob_stop): what ran per link ends.
  void (*stopped)() = nullptr;
};

// Installs the hooks (the record must outlive every link; null removes
// them). Call before the links start: a switch while events flow is safe
// (an atomic pointer) but may split one event's hooks between two records.
void hx_ob_set_hooks(const HxObHooks* hooks);
// The installed hooks; an empty record when none are.
const HxObHooks& hx_ob_hooks();
