// What the parts of the link module (links, intake, calls) share. Not for
// other modules.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "link/onebot.h"
#include "link/ws.h"

inline constexpr std::size_t HX_QQ_MAX = 31;

struct HxLink {
  ws_conn* conn;    // null: free slot; the table holds no reference of its own
  char selfQq[32];  // self_id of the latest event, or the recognised QQ
  char accQq[32];   // forward: the account that started it; reverse: the recognised QQ
  bool reverse;
  bool loggedIn;    // plugins were told of the login
  std::int64_t lastActive;
  std::int64_t loginTime;
};

extern HxLink g_links[HX_MAX_LINKS];  // guarded by g_linkCs
extern std::mutex g_linkCs;
extern std::atomic<bool> g_stop;

// Set on a connection's receive thread while it runs our callbacks: a call
// that waits for a reply there would wait for itself.
extern thread_local bool t_onReceiveThread;

// Transport callbacks (user value: 1 for reverse, else the wish entry).
void on_ws_open(ws_conn* c, void* user);
void on_ws_message(ws_conn* c, const char* data, std::size_t len, void* user);
void on_ws_close(ws_conn* c, void* user);

// Intake -> links.
void ob_touch_link(ws_conn* c, std::string_view self_qq);
void ob_lifecycle(std::string_view self_qq, std::string_view sub_type);

// Calls: one action on one connection; reply matching from the intake.
bool ob_call_conn(ws_conn* c, std::string_view bot_qq, std::string_view action, std::string_view params,
                  std::optional<std::string>* reply, int timeout_ms);
void ob_reply_match(long long echo, std::string_view text);
void ob_calls_reset();

// The source for log lines about an account: its QQ, or "框架".
inline const char* ob_source(const std::string& qq) { return qq.empty() ? "框架" : qq.c_str(); }

struct cJSON;
// A member read as decimal text: a string as it is, a number printed
// without decimals (never through an int: ids exceed 2^31); "" otherwise.
std::string ob_json_id(const cJSON* obj, const char* name);
// A string member, or "".
std::string ob_json_str(const cJSON* obj, const char* name);

// Links -> calls: the roster threads, joined at shutdown.
void ob_roster_join(int ms);

// Intake -> events (message, notice and request handling).
void ob_handle_message(const std::string& bot_qq, const cJSON* ev, bool is_group, bool is_self);
void ob_handle_event(const std::string& bot_qq, const cJSON* ev);
