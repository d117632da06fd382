// The Milky protocol adapter (HTTP API plus a WebSocket event stream).
// Plugins never see Milky: events and replies are turned into OneBot ones.
//
// Events arrive on the account's forward WebSocket at "/event" and are
// rewritten as OneBot events before intake sees them; actions go out as
// HTTP POSTs to "/api/<name>" on the account's address, and their replies
// come back OneBot-shaped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/json.h"

struct ws_conn;

// Decides once whether the host runs in Milky mode: a marker file "Milky",
// "milky", "MILKY", "Milky.txt" or "milky.txt" in the host's root directory.
void hx_milky_detect();
// True in Milky mode.
bool hx_milky_mode();
// The WebSocket path of the event stream: "/event" in Milky mode, else "/".
const char* hx_milky_ws_path();

// ---- Message sequences ----
// Milky addresses a message by scene, peer and sequence; plugins by a OneBot
// message id. A ring of the last 512 messages links the two.
struct MilkySeq {
  std::string scene;  // "group", "friend" or "temp"
  std::int64_t peer = 0;
  std::int64_t seq = 0;
};
void milky_seq_put(std::string_view scene, std::int64_t message_id, std::int64_t bot, std::int64_t peer,
                   std::int64_t seq);
// The newest entry of that id (and, when `bot` > 0, of that bot or of an
// unknown one); nullopt when there is none.
std::optional<MilkySeq> milky_seq_get(std::int64_t message_id, std::int64_t bot);
// Forgets every entry (tests).
void milky_seq_clear();

// ---- Log throttle ----
// Whether a line under `key` may be written now (at most one per interval
// per key; the interval is HX_LOGTH_SEC when it holds 1..3600, else 60 s),
// with the number of times the key was asked for so far.
struct MilkyThrottle {
  bool write;
  long count;
};
MilkyThrottle logth_take(std::string_view key);
int logth_sec();

// ---- Replies ----
enum MilkyReplyKind {
  MILKY_REPLY_PASS = 0,
  MILKY_REPLY_FRIENDS = 1,
  MILKY_REPLY_GROUPS = 2,
  MILKY_REPLY_MEMBERS = 3,
  MILKY_REPLY_GROUP = 4,
  MILKY_REPLY_MEMBER = 5,
  MILKY_REPLY_LOGIN = 6,
  MILKY_REPLY_MESSAGE = 7,
  MILKY_REPLY_SENT = 8,
  MILKY_REPLY_CSRF = 9,
  MILKY_REPLY_PROFILE = 10
};
// The OneBot "data" for a Milky reply's "data" of that kind (a new tree the
// caller owns; never null). `user_id` is the user a profile was asked for.
cJSON* milky_reply_data(int kind, const cJSON* data, std::int64_t user_id);
// A whole OneBot reply text for a Milky reply text: "ok" with the converted
// data, or "failed" with retcode -404 and the Milky message as "wording".
// `ok` tells which.
std::string milky_reply_to_onebot(std::string_view milky_reply, int kind, std::int64_t user_id, bool* ok);

// ---- Calls ----
// POSTs `body` to http://host:port/api/<endpoint> (bearer `token` when not
// empty); the response body whatever its status, or nullopt when none came
// whole within `timeout_ms` (5,000 when below 1). `too_large` (optional) is
// set when the body passed 32 MiB.
std::optional<std::string> milky_http_post(std::string_view host, int port, std::string_view token,
                                           std::string_view endpoint, std::string_view body, int timeout_ms,
                                           bool* too_large = nullptr);
// A OneBot action carried over Milky, with hx_ob_call's contract: true when
// the backend answered ok; `reply` receives a OneBot-shaped reply.
bool hx_milky_call(std::string_view bot_qq, std::string_view action, std::string_view params,
                   std::optional<std::string>* reply, int timeout_ms);

// ---- What the links are given in Milky mode (each does nothing otherwise) ----
// hx_ob_call's replacement: -1 outside Milky mode.
int hx_milky_call_hook(std::string_view bot_qq, std::string_view action, std::string_view params,
                       std::optional<std::string>* reply, int timeout_ms);
// Rewrites a received Milky event as OneBot (see hx_milky_event_to_onebot).
bool hx_milky_event_in(std::string_view text, std::string* out);
// Starts the login detection of a forward link that opened for `account`.
void hx_milky_link_opened(ws_conn* c, const char* account);
// Waits for the login threads to end (the links are closed by then).
void hx_milky_links_stopped();
// The login retry interval: HX_MILKY_LOGIN_RETRY_SEC when it holds
// 1..3600, else 30 seconds.
int milky_login_retry_sec();

// ---- Events ----
// The OneBot event text for a Milky event text: "" drops it (no event type,
// or one OneBot has no counterpart for); nullopt when the text is no JSON
// object.
std::optional<std::string> hx_milky_event_to_onebot(std::string_view text);
// The OneBot message event for a Milky message object (`envelope` may be
// null; `bot` 0 when unknown), entered in the sequence table. The caller
// owns the tree.
cJSON* ev_message(const cJSON* envelope, const cJSON* msg, std::int64_t bot);

// ---- Requests ----
struct MilkyRequest {
  std::string endpoint;
  HxJson params;  // the Milky parameter object
  int kind = MILKY_REPLY_PASS;
  std::int64_t user = 0;  // the user a profile is asked for
};
// The Milky request for a OneBot action; false when Milky has none for it.
bool milky_build(std::string_view action, const cJSON* params, std::int64_t bot, MilkyRequest& out);
// A OneBot message (segment array or CQ text) as a Milky segment array;
// never empty (one empty text segment at least). The caller owns it.
cJSON* onebot_message_to_milky(const cJSON* message);
// The "message" of a send request: one forward segment, one plain text
// segment ("auto_escape"), or the converted message.
cJSON* mk_segs(const cJSON* params, bool forward, bool plain);
// A media or file value as a URI: addresses and base64 kept, paths made
// file:// URIs, anything else as it is.
std::string uri_of(std::string_view value);
// Appends the media segment of `value` (an address, or base64 with or
// without its "base64://"), or, for anything else, the text "[name]" with
// one error line.
void push_media_or_text(cJSON* out, std::string_view type, std::string_view value, const char* name);
