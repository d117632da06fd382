// The host's running log: a fixed-capacity ring of entries in memory, one
// on/off switch per level, a running total and one sink through which the user
// interface learns of new lines. There is no log file.
//
// Any thread may log. The sink runs on the logging thread after the store's
// lock is released, so it may take other locks or post window messages.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/util.h"

enum HxLogLevel : int {
  HX_LOG_SYSTEM = 0,  // always logged
  HX_LOG_LOGIN = 1,
  HX_LOG_GROUP = 2,
  HX_LOG_PRIVATE = 3,
  HX_LOG_EVENT = 4,
  HX_LOG_PLUGIN = 5,
  HX_LOG_API = 6,
  HX_LOG_ERROR = 7,  // always logged
  HX_LOG_DEBUG = 8,  // off at start
};
inline constexpr int HX_LOG_LEVELS = 9;

inline constexpr int HX_LOG_CAP_MIN = 50;
inline constexpr int HX_LOG_CAP_MAX = 100000;
inline constexpr int HX_LOG_CAP_DEFAULT = 1000;

// One log entry. Texts are UTF-8, terminated, cut at a character boundary.
struct hx_log_entry {
  std::int64_t time;  // Unix seconds, UTC
  char source[64];    // "框架", an account's QQ, a plugin's name, ...
  char tag[32];       // display category, e.g. "登录(↑)"
  char text[1024];
  std::int32_t level;
};

// The sink gets a temporary copy of each new entry, valid only during the
// call; its result becomes the result of hx_log.
using hx_log_sink = int (*)(const hx_log_entry* entry, void* user);

// Allocates the ring (capacity clamped to 50..100,000), empties it, sets the
// switches of levels 0..7 on and 8 off. If the ring cannot be allocated the
// capacity is 0 and entries reach only the sink.
void hx_log_init(int capacity);
// Changes the capacity (clamped as above), keeping the newest entries, the
// total and the switches. Lets start-up log before the settings that size the
// ring are read. Without a ring it behaves as hx_log_init.
void hx_log_resize(int capacity);
// Frees the ring; entries then reach only the sink.
void hx_log_shutdown();
// Level switches. Levels outside 0..8 are ignored (and read as off).
void hx_log_set_switch(int level, int on);
int hx_log_get_switch(int level);
// Installs the sink; nullptr removes it.
void hx_log_set_sink(hx_log_sink fn, void* user);

// Logs one entry when the level passes: 0 and 7 always, 1..6 and 8 when their
// switch is on, others never. Null source, tag or text become "框架", the
// level's default tag and "". Returns the sink's result, 0 without a sink.
int hx_log(int level, const char* source, const char* tag, const char* text);
// Formats into 1024 bytes (cut at a character boundary), then as hx_log.
int hx_logf(int level, const char* source, const char* tag, const char* fmt, ...) HX_PRINTF_FMT(4, 5);
// The debug switch (level 8), and debug lines with the default tag.
int hx_dbg_on();
void hx_dbgf(const char* source, const char* fmt, ...) HX_PRINTF_FMT(2, 3);

// The level's default tag: "系统", "登录", ... ; "系统" outside 1..8.
const char* hx_log_default_tag(int level);

int hx_log_count();            // entries held
std::uint64_t hx_log_total();  // entries ever stored; clearing keeps it
// Copies the i-th newest entry (0 = newest); false when out is null or i is
// outside 0..count-1.
bool hx_log_at(int i, hx_log_entry* out);
// Empties the ring; the total stays.
void hx_log_clear();
// The whole ring, oldest first, one "[time] [source] [tag] text\r\n" line per
// entry with local times.
std::string hx_log_export_text();
