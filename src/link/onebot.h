// Account links to the backends over OneBot v11: one live connection per bot
// account, login detection, reconnection, heartbeat, per-account counters,
// event intake and action calls.
//
// Forward mode: the host connects to each account's backend. Reverse mode:
// backends connect to the host's WebSocket server and are recognised by
// asking them get_login_info. Any thread may call these unless noted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/util.h"

inline constexpr int HX_MAX_LINKS = 16;
inline constexpr int HX_RETRY_SEC_DEFAULT = 30;

// Prepares the link layer (once) and clears the stop flag. Main thread.
void hx_ob_init();
// Starts all links: the reverse server, or a forward client per account with
// an address. Returns the connections started (reverse: 1 or 0).
int hx_ob_start();
// Stops everything with bounded waits; a receive thread that does not end
// marks the socket library as stuck (hx_ob_ws_stuck).
void hx_ob_stop();
bool hx_ob_ws_stuck();

// Connects one account (or, in reverse mode, makes sure the server runs).
// True when a connection was started or the account is online already.
bool hx_ob_login(std::string_view qq);
// Closes an account's link and stops its reconnection.
void hx_ob_logout(std::string_view qq);
// Logs in every account when 自动登录 is on; `result` receives a one-line
// summary. Returns the accounts for which a connection was started.
int hx_ob_auto_login_all(std::string& result);
// The heartbeat: pings links idle for 心跳 seconds. At most once a second.
void hx_ob_tick();

bool hx_ob_online(std::string_view qq);
std::int64_t hx_ob_login_time(std::string_view qq);
int hx_ob_link_count();
bool hx_ob_is_reverse();

// Per-account counters. Kinds: 0 received, 1 sent, 2 friends, else groups;
// an unknown QQ gives 0 for the message counters and -1 for the others.
void hx_ob_stat_bump(std::string_view qq, long long received, long long sent);
void hx_ob_stat_set_roster(std::string_view qq, long long friends, long long groups);
long long hx_ob_stat_get(std::string_view qq, int kind);
// Starts fetching nickname, friend and group counts after a login.
void hx_ob_stat_refresh_roster(std::string_view qq);

// Sends a OneBot action on the link of `bot_qq` and, with a timeout above 0,
// waits for the reply carrying the same echo. True when the reply came in
// time (or, without waiting, when the request was sent); `reply` (optional)
// receives the whole reply text when one arrived. Never waits on a link's
// receive thread: such a call fails at once.
bool hx_ob_call(std::string_view bot_qq, std::string_view action, std::string_view params,
                std::optional<std::string>* reply, int timeout_ms);

// The same without waiting, with printf-style parameters; true when sent.
bool hx_ob_call_fmt(std::string_view bot_qq, std::string_view action, const char* fmt, ...) HX_PRINTF_FMT(3, 4);

// A OneBot event text fed in as if it came from a backend (no connection).
void hx_ob_feed_event(std::string_view text);
struct ws_conn;
// A OneBot event the host made itself for connection `c`, handled as if it
// had arrived there (taken as OneBot whatever the links speak).
void hx_ob_feed_event_on(ws_conn* c, std::string_view text);

// Event types of notices and requests (the codes of the plugin SDK) from the
// event's post_type, notice_type, request_type (and whether it is present),
// sub_type and user_id; and their names for log lines.
int hx_ob_event_type(std::string_view post, std::string_view notice, std::string_view request, bool has_request,
                     std::string_view sub, std::string_view user);
const char* hx_ob_event_name(int type);

// The per-account cache of recent group messages (500 per account, 16
// accounts), for the text of recalled messages. Put stores only when 启用消息缓存
// is on and both bot QQ and message id are given; texts are kept as UTF-8,
// at most 4,095 bytes, cut at a character boundary.
inline constexpr int HX_MSGCACHE_PER_ACCOUNT = 500;
inline constexpr std::size_t HX_MSGCACHE_TEXT_MAX = 4095;
void hx_ob_msgcache_put(std::string_view bot_qq, std::string_view message_id, std::string_view group,
                        std::string_view sender, std::string_view nickname, std::string_view text);
std::optional<std::string> hx_ob_msgcache_get(std::string_view bot_qq, std::string_view message_id);
void hx_ob_msgcache_clear();

// Waits (against one deadline) for the roster threads and forgets them.
void hx_ob_roster_join(int ms);

// The last message handed to the plugins while capture is on (for self-tests).
struct HxCapture {
  int kind;  // 1 group, 2 private, 0 nothing captured
  std::string bot, sender, peer, group, message_id, group_name, nickname, text;  // GBK, as plugins get them
};
void hx_ob_cap_begin();
void hx_ob_cap_end();
bool hx_ob_cap_last(HxCapture* out);
