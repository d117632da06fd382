// The Milky protocol adapter (HTTP API plus a WebSocket event stream).
// Plugins never see Milky: events and replies are turned into OneBot ones.
//
// Built so far: the mode decision, the message-sequence table, the log
// throttle and the conversion of replies; the HTTP calls, the login thread
// and the two message conversions come with the rest of the adapter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct cJSON;

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
// Kind 7 (one message) needs the event conversion and passes the data on.
cJSON* milky_reply_data(int kind, const cJSON* data, std::int64_t user_id);
// A whole OneBot reply text for a Milky reply text: "ok" with the converted
// data, or "failed" with retcode -404 and the Milky message as "wording".
// `ok` tells which.
std::string milky_reply_to_onebot(std::string_view milky_reply, int kind, std::int64_t user_id, bool* ok);
