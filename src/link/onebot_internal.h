// What the parts of the link module share: the link table (onebot_links),
// forward connects and reconnection (onebot_forward), reverse recognition
// (onebot_reverse), intake, events and calls. Not for other modules.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "config/cfg.h"
#include "link/onebot.h"
#include "link/onebot_hooks.h"
#include "link/ws.h"

inline constexpr std::size_t HX_QQ_MAX = 31;

// A QQ as the tables store it: cut to HX_QQ_MAX bytes. Lookups compare this
// form, so that an over-long id finds what it stored instead of filling a
// table with entries nobody matches.
inline std::string_view ob_qq(std::string_view qq) { return qq.substr(0, HX_QQ_MAX); }

struct HxLink {
  ws_conn* conn;    // null: free slot; the table holds no reference of its own
  char selfQq[32];  // self_id of the latest event, or the recognised QQ
  char accQq[32];   // forward: the account that started it; reverse: the recognised QQ
  bool reverse;
  bool loggedIn;  // plugins were told of the login
  std::int64_t lastActive;
  std::int64_t loginTime;
};

struct ObWant;
// What a connection's callbacks are told about it: reverse (accepted by the
// server) or forward for the account of a wish entry.
struct ObConnUser {
  bool reverse;
  ObWant* want;  // forward only
};

// The reconnect wish list: the accounts that should be online in forward
// mode. Entries never move, so a connect in flight may carry one.
struct ObWant {
  bool used;
  char qq[32];
  bool wanted;
  std::int64_t lastAttempt;
  int attempts;
  bool connecting;  // a connect is in flight (it carries this entry)
  ObConnUser user;  // what this account's connections carry
};

extern HxLink g_links[HX_MAX_LINKS];  // guarded by g_linkCs
extern std::mutex g_linkCs;
extern std::atomic<bool> g_stop;
// Held while a connection's close is handled and while a reverse connection's
// recognition tells its login, so that plugins hear the two in order.
extern std::mutex g_obTellMu;

// Set on a connection's receive thread while it runs our callbacks: a call
// that waits for a reply there would wait for itself.
extern thread_local bool t_obReceiveThread;

// ---- the link table and the wish list (under g_linkCs) ----
HxLink* ob_slot_of(ws_conn* c);
HxLink* ob_open_link_self(std::string_view qq);
HxLink* ob_open_link_account(std::string_view qq);
ObWant* ob_want_find(std::string_view qq);
// The i-th entry of the wish list, null past its end.
ObWant* ob_want_at(int i);
// Marks the account wanted; null when the wish list is full. An entry of an
// account nobody wants any more, with no link and no connect in flight, is
// taken over when no entry is free.
ObWant* ob_want_mark(std::string_view qq);
// Copies a QQ into a table field, cut to HX_QQ_MAX bytes.
void ob_copy_qq(char (&dst)[32], std::string_view qq);

// ---- outside g_linkCs ----
// Stores `value` as the logged-in flag of the link of connection `c` (without
// one: of the first link of `qq`) and returns the previous flag; false
// without such a link. `known_as` (optional) receives the QQ the link goes by.
bool ob_link_swap_login(const ws_conn* c, std::string_view qq, bool value, std::string* known_as = nullptr);
// The transport callbacks with the given user value.
ws_callbacks ob_callbacks(ObConnUser* user);

// Forward mode: starts a client for the account (marking it wanted); logs
// the attempt line; keeps the reconnect thread running; stops it.
bool ob_forward_start(const HxAccount& acc);
void ob_forward_log(const HxAccount& acc);
void ob_retry_ensure();
void ob_retry_stop();
// The reconnect interval in seconds (HX_WS_RETRY_SEC, else 30).
void ob_retry_configure();

// Reverse mode: the server (started once; its stop is true when the accept
// thread did not end), the recognition of a new connection (takes the
// reference it is given) and the wait for the recognitions at shutdown, and
// the removal of a reverse account whose connection closed.
bool ob_server_start();
bool ob_server_stop();
void ob_recognition_start(ws_conn* c);
void ob_recognition_stop();
void ob_reverse_forget(const std::string& qq);

// Transport callbacks.
void on_ws_open(ws_conn* c, void* user);
void on_ws_message(ws_conn* c, const char* data, std::size_t len, void* user);
void on_ws_close(ws_conn* c, void* user);
void on_ws_fail(void* user);

// Intake -> links.
void ob_touch_link(ws_conn* c, std::string_view self_qq);
// A lifecycle event that arrived on `c` (null: fed in by the host itself).
void ob_lifecycle(const ws_conn* c, std::string_view self_qq, std::string_view sub_type);

// Calls: one action on one connection; reply matching from the intake.
bool ob_call_conn(ws_conn* c, std::string_view bot_qq, std::string_view action, std::string_view params,
                  std::optional<std::string>* reply, int timeout_ms);
// Completes the call waiting for `echo` on connection `c`.
void ob_reply_match(const ws_conn* c, long long echo, std::string_view text);
void ob_calls_reset();

// ---- what the layers above are told (through the installed hooks) ----
void ob_tell_login(const std::string& qq, int on);
void ob_tell_accounts_changed();
// The name of whoever the calling thread works for, for log lines.
const char* ob_caller_name();

// Log tags and the host's own source, shared by the link module's log lines.
inline constexpr const char* kObUp = "登录(↑)";
inline constexpr const char* kObDown = "登录(↓)";
inline constexpr const char* kObErr = "错误(↓)";
inline constexpr const char* kObHost = "框架";

// The source for log lines about an account: its QQ, or "框架".
inline const char* ob_source(const std::string& qq) { return qq.empty() ? "框架" : qq.c_str(); }

struct cJSON;
// A member read as decimal text: a string as it is, a number printed
// without decimals (never through an int: ids exceed 2^31); "" otherwise.
std::string ob_json_id(const cJSON* obj, const char* name);
// A string member, or "".
std::string ob_json_str(const cJSON* obj, const char* name);

// Intake -> events (message, notice and request handling).
void ob_handle_message(const std::string& bot_qq, const cJSON* ev, bool is_group, bool is_self);
void ob_handle_event(const std::string& bot_qq, const cJSON* ev);
