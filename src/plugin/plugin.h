// The plugin host: the plugin table, loading and the initialisation
// handshake, the priority file, and the dispatch of events to the plugins.
//
// Plugin records never move: lanes, panel threads and the current-plugin
// pointer hold their addresses for the life of the process. Priority order
// is an array of pointers that is permuted, never the records.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/thread.h"
#include "sys/dynlib.h"
#include "tolvex_sdk.h"

inline constexpr int HX_MAX_PLUGINS = 64;
// The file extension of plugins: ".dll" on Windows, ".so" elsewhere.
inline const char* const HX_PLUGIN_EXT = SYS_DL_EXT;

// The module value of resident plugins: live, but no library.
inline const SysLibHandle HX_PL_RESIDENT_MODULE = 1;

enum HxPluginState { HX_PL_LOADED = 0, HX_PL_ENABLED = 1, HX_PL_DISABLED = 2 };
// Callback slots, in the order of the registration functions.
enum HxCallback {
  HX_CB_ENABLED = 0,
  HX_CB_DISABLED = 1,
  HX_CB_UNLOAD = 2,
  HX_CB_PANEL = 3,
  HX_CB_PRIVATE = 4,
  HX_CB_GROUP = 5,
  HX_CB_EVENT = 6,
  HX_CB_SEND_HOOK = 7
};

struct HxPlugin {
  std::string path;  // the file actually loaded (a hot copy when one was made), UTF-8
  std::string name;  // file name without extension, UTF-8; the plugin's key
  // 0: dead (unloaded, cut off, or never finished loading). Lanes read it
  // without the table lock; every access is sequentially consistent (see
  // the busy counter g_cbBusy).
  std::atomic<SysLibHandle> module{0};
  std::atomic<int> busy{0};  // calls into this plugin in progress (see HxPlBusy)
  bool resident = false;     // in-process (HX_PL_RESIDENT_MODULE): nothing to load or free
  std::uint64_t fingerprint = 0;
  int state = HX_PL_LOADED;
  int order = 0;
  int cbSlot = -1;  // which call lock serialises calls into this plugin
  int lang = 0;
  std::string dataDir;  // main/data/app/<name>
  void* entryInit = nullptr;
  bool initTwoArgs = false;  // "初始化NT" (apidata, key) rather than the info block
  void *entryStart = nullptr, *entryEnd = nullptr, *entryUnload = nullptr, *entryPanel = nullptr;
  void *entryGroup = nullptr, *entryPrivate = nullptr, *entryEvent = nullptr;
  void *getGroupCb = nullptr, *getPrivateCb = nullptr, *getEventCb = nullptr, *getAltPrivateCb = nullptr;
  HxInitInfo info{};
  std::string nameCopy;  // what info.plugin_name points to
  char nameBuf[192] = {}, author[96] = {}, version[48] = {}, describe[1024] = {};
  std::uint32_t perm[4] = {};
  void* cb[8] = {};  // effective callbacks (dispatch uses these)
  // The settings panel: its thread, the platform's id of that thread, and
  // whether a panel is open (from the thread's start to its end).
  HxThread panelThread;
  std::atomic<unsigned long> panelThreadId{0};
  std::atomic<bool> panelOpen{false};
};

// The table in priority order; guarded by g_plCs.
extern std::mutex g_plCs;
extern HxPlugin* g_plugins[HX_MAX_PLUGINS];
extern int g_pluginCount;

// Loads and initialises the plugins of main/data/dll and starts `lanes`
// dispatch lanes. Runs on the boot thread.
void hx_pl_init(int lanes);
// Tells the plugins and unloads them. Main thread, at shutdown.
void hx_pl_shutdown();
// Copies plugin files in, loads them all, applies the priority file; returns
// the plugin count.
int hx_pl_reload();
// Loads one plugin file; true when it became a live plugin.
bool hx_pl_load_file(std::string_view path, std::string_view file_name);
// Takes metadata (author, version, description) and, when HX_JSONCB allows,
// callback addresses from the JSON text a two-argument init returned (GBK or
// UTF-8). Anything that is not a JSON object is skipped.
void hx_pl_read_init_json(HxPlugin& p, std::string_view text);
// Adds an in-process plugin with the given callbacks (in HxCallback order,
// null for none): its record and call slot are taken like those of a loaded
// plugin; it is enabled at once and last in priority. Null when the table or
// the call slots are full. Any thread.
HxPlugin* hx_pl_add_resident(std::string_view name, void* const (&callbacks)[8]);
// Takes a resident plugin out of the table again (its record stays, as a
// spare) and frees its call slot. Wait for the lanes first (hx_pl_wait_idle).
void hx_pl_remove_resident(HxPlugin* p);
// ---- Lifecycle operations (the user-interface thread, or start-up) ----
// Each looks the plugin up by name, ignoring case, unless said otherwise.
// A plugin's module is never freed while the host runs: unloading cuts the
// plugin off, waits for calls in progress, and moves its file to the trash.

// Enables or disables a live plugin (its enabled/disabled entry is called).
void hx_pl_set_enabled(std::string_view name, bool enabled);
// 1 when the plugin is unloaded (or already was), 0 otherwise (unknown, or
// cut off but kept because a call or its panel did not end).
int hx_pl_unload(std::string_view name);
// Takes an unloaded plugin out of the table (exact name); 1 when removed.
int hx_pl_remove(std::string_view name);
int hx_pl_hot_unload(std::string_view name);
// Replaces a plugin by a new file, keeping its enabled state and data.
int hx_pl_hot_update(std::string_view name, std::string_view new_file);
// Copies a plugin file into main/data/dll, loads and enables it.
int hx_pl_import(std::string_view path);
// Files deleted.
int hx_pl_delete_files(std::string_view name);
int hx_pl_clear_data(std::string_view name);
int hx_pl_clean_trash();
// Moves a plugin one place up (direction < 0) or down (> 0), exact name.
int hx_pl_move_priority(std::string_view name, int direction);
// Applies a permutation of the first `count` places; 1 when it changed.
int hx_pl_reorder(const int* order, int count);
// Opens the plugin's settings panel on a thread of its own.
void hx_pl_show_panel(std::string_view name);
// Closes the plugin's panel and waits up to `ms`; true when none is left.
bool hx_pl_panel_join(HxPlugin* p, int ms);
// Hands an outgoing message to the plugin's output replacement hook: the
// replacement (a non-empty text at another address than `text`), or nullopt
// when the message stays as it is. Called by the messaging API on the
// sending plugin's thread.
std::optional<std::string> hx_pl_send_hook(HxPlugin* p, const char* api_name, const char* text);

// The plugin of that name (ignoring case), or null.
HxPlugin* hx_pl_find(std::string_view name);
int hx_pl_count_enabled();
bool hx_pl_save_priority();
void hx_pl_load_priority();
// 64-bit FNV-1a content hash of a file; 0 when it cannot be read.
std::uint64_t hx_pl_fingerprint(std::string_view path);

// The plugin on whose behalf the calling thread runs, or null for the host.
HxPlugin* hx_pl_current();
void hx_pl_set_current(HxPlugin* p);
// Its name, or null.
const char* hx_pl_current_name();

// Makes a plugin current for the scope's duration (the previous one comes back).
class HxCurrentPlugin {
 public:
  explicit HxCurrentPlugin(HxPlugin* p) : prev_(hx_pl_current()) { hx_pl_set_current(p); }
  ~HxCurrentPlugin() { hx_pl_set_current(prev_); }
  HxCurrentPlugin(const HxCurrentPlugin&) = delete;
  HxCurrentPlugin& operator=(const HxCurrentPlugin&) = delete;

 private:
  HxPlugin* prev_;
};

// ---- The API as plugins receive it ----
// The loader hands every plugin the API in three forms, which the API layer
// builds on first use and never frees: the triple (count, addresses, GBK
// names), the two E-language array images {1, 125, elements...} of names and
// addresses (null when they could not be built) and the apidata JSON.
struct HxApiTriple {
  std::int32_t count;
  void* const* addresses;
  const char* const* names;
};
struct HxEplArrays {
  void* names;
  void* addresses;
};
struct HxPlApiForms {
  HxApiTriple table;
  HxEplArrays arrays;
  const std::string* apidata;  // never null
};
// Where the loader takes the forms from; the host installs the API layer's
// before the first plugin loads. Without a source plugins get an empty API.
void hx_pl_set_api_source(HxPlApiForms (*source)());

// ---- Dispatch ----
// Plugin calls in progress (unloading waits for none).
extern std::atomic<int> g_cbBusy;

// The number of lanes a setting of 插件线程数 gives: 24 for 0 or less, at most 32.
int hx_pl_lane_count_for(int setting);
// Starts the lanes (once per process; part of hx_pl_init).
void hx_pl_start_lanes(int setting);
// Stops the lanes after they finished what was queued (10 s each); frees what
// is left. 1 when every lane ended or none ran; 0 when one is stuck, and then
// no plugin module may be freed.
int hx_pl_stop_pool();
int hx_pl_lanes_running();

// Hand a record to the plugins: it is copied (texts included) and queued;
// the caller keeps its record. Nothing is queued when no enabled plugin has a
// handler for the kind. Any thread; waits while the chosen lane is full.
void hx_pl_dispatch_group(const HxGroupMsg* rec);
void hx_pl_dispatch_private(const HxPrivateMsg* rec);
void hx_pl_dispatch_event(const HxEventMsg* rec);
// Tells every enabled plugin that account `qq` logged in (1) or out (0), then
// sends the plugins' event handlers the host event 31 or 38. Any thread.
void hx_pl_notify_login(const char* qq, int on);

// How many tasks one lane holds before intake waits for it.
inline constexpr int HX_PL_LANE_QUEUE_MAX = 4096;

// Statistics: the backlog summed over the lanes and the capacity (lanes x
// HX_PL_LANE_QUEUE_MAX).
void hx_pl_pool_stats(long long* backlog, long long* capacity);
void hx_pl_lane_stats(int* lanes, std::uint64_t* handled, std::uint64_t* full, long long* backlog, int* busy);
// Tasks finished by each lane; how many counters were written.
int hx_pl_lane_handled_each(std::uint64_t* out, int max);
// Waits until every task queued so far has been finished; false on timeout.
bool hx_pl_wait_idle(int timeout_ms);

// Name caches of the plugin host, keyed by bot account and id, holding UTF-8
// names (256 entries each, the oldest dropped first). Any thread.
void hx_pl_cache_group(std::string_view account, std::string_view id, std::string_view name);
void hx_pl_cache_nick(std::string_view account, std::string_view id, std::string_view name);
std::string hx_pl_group_name_cache(std::string_view account, std::string_view id);
std::string hx_pl_nick_cache(std::string_view account, std::string_view id);
