// What the loader, the lifecycle operations and dispatch share inside the
// plugin host. Not for other layers.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "plugin/plugin.h"

// Serialises every change to the set of plugins: loads, unloads, removals,
// imports, hot updates and reorders. Re-entrant, since a plugin called from
// one of them may ask for another. Taken before g_plCs, never under it.
extern std::recursive_mutex g_plOpMu;

inline constexpr const char* HX_PL_HOST = "框架";
inline constexpr const char* HX_PL_INFO_TAG = "插件(↓)";
inline constexpr const char* HX_PL_ERR_TAG = "错误(↓)";

// main/<rel> under the data directory, `rel` written with "/".
std::string hx_pl_main_path(std::string_view rel);
// Whether a plugin name can be a directory name under main/data/app: not
// empty, not "." or "..", no separator.
bool hx_pl_name_usable(std::string_view name);
// The plugin name of a file name: without its last extension, UTF-8, at most
// 127 bytes.
std::string hx_pl_name_of(std::string_view file_name);
// A live plugin that a candidate duplicates (same name ignoring case, or the
// same non-zero fingerprint): the reason and that plugin's path; nullopt when
// there is none.
struct HxPlDuplicate {
  std::string reason, livePath;
};
std::optional<HxPlDuplicate> hx_pl_duplicate_of(const std::string& name, std::uint64_t fingerprint);
// Applies a priority order: the records at the given indices first, the rest
// after them as they were; pointers move, records do not.
void hx_pl_apply_order(const int* order, int count);
// Disconnects a plugin from every entry (slots, start/end/unload/panel) and
// sets state 0; its module stays. Under g_plCs.
void hx_pl_cut_off(HxPlugin* p);
// Gives the plugin's call slot back when no call is inside it (else the slot
// stays taken for good) and clears cbSlot. Under g_plCs.
void hx_pl_release_slot(HxPlugin* p);
// The first configured account's QQ text, or "".
std::string hx_pl_account_text();

// One call into a plugin under its call lock (the caller raised g_cbBusy and
// checked the module), with the plugin current; nullopt when the plugin is
// still inside a call that has hung.
std::optional<std::int32_t> hx_pl_call_locked(HxPlugin* p, int slot, void* fn, const void* arg);
// Whether nobody is inside call lock `slot`: a slot is given back only then.
bool hx_pl_call_lock_idle(int slot);
// A call into a plugin in progress. Raised before the caller reads the
// module and lowered after the call; an unload clears the module first and
// then waits for the plugin's count to fall to 0. All sequentially
// consistent, so one of the two always sees the other.
class HxPlBusy {
 public:
  explicit HxPlBusy(HxPlugin* p) : p_(p) {
    g_cbBusy.fetch_add(1);
    p_->busy.fetch_add(1);
  }
  ~HxPlBusy() {
    p_->busy.fetch_sub(1);
    g_cbBusy.fetch_sub(1);
  }
  HxPlBusy(const HxPlBusy&) = delete;
  HxPlBusy& operator=(const HxPlBusy&) = delete;

 private:
  HxPlugin* p_;
};

// The text a plugin handed back, when it is one: a NUL inside readable
// memory within the first MiB.
std::optional<std::string_view> hx_pl_readable_text(const char* p);

// Reads the module word (sequentially consistent).
inline SysLibHandle hx_pl_module(const HxPlugin* p) { return p->module.load(); }
