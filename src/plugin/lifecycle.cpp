// What the user does to plugins while the host runs: enable and disable,
// unload, remove, hot update, import, reorder, delete files and data, open a
// settings panel; and the output replacement hook.
//
// A plugin's module is never freed while the host runs. Unloading cuts every
// entry into the plugin, waits for its calls in progress, and moves its file
// to main/data/trash so that a new version can be written in its place; the
// old module stays mapped, and a later load of the same path is served from
// a copy in main/data/hot/<i>/.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "plugin/plugin_internal.h"
#include "sys/dynlib.h"
#include "sys/files.h"
#include "sys/ui_thread.h"

namespace {

constexpr const char* kInfoTag = HX_PL_INFO_TAG;
constexpr const char* kErrTag = HX_PL_ERR_TAG;
constexpr int kDrainPolls = 1000;  // about 5 s in steps of 5 ms
constexpr int kDrainStepMs = 5;
constexpr int kPanelJoinMs = 5000;
constexpr int kMaxNumbered = 999;  // trash names and hot-copy directories

using Notice = std::int32_t(HX_STDCALL*)(const char*);

std::string dll_dir() { return hx_pl_main_path("data/dll"); }
std::string app_dir() { return hx_pl_main_path("data/app"); }
std::string trash_dir() { return hx_pl_main_path("data/trash"); }
std::string hot_dir() { return hx_pl_main_path("data/hot"); }

// "main\data\trash\" as users see it.
std::string shown_dir(const char* a, const char* b, const char* c) {
  std::string s;
  sb_printf(s, "%s%c%s%c%s%c", a, HX_SEP, b, HX_SEP, c, HX_SEP);
  return s;
}

// The live record of that name (ignoring case), or null; under g_plCs.
HxPlugin* find_live(std::string_view name) {
  HxPlugin* p = hx_pl_find(name);
  return p && hx_pl_module(p) ? p : nullptr;
}

void set_state(HxPlugin* p, int state) {
  std::lock_guard lock(g_plCs);
  p->state = state;
}

void cut_off(HxPlugin* p) {
  std::lock_guard lock(g_plCs);
  hx_pl_cut_off(p);
}

// Calls the plugin's enabled (or disabled) entry on this thread, with the
// plugin current: the registered slot with `text`, else the exported
// start/end entry. Whether there was one.
bool fire_enabled(HxPlugin* p, const std::string& text, bool enabled) {
  void* slot = p->cb[enabled ? HX_CB_ENABLED : HX_CB_DISABLED];
  void* entry = enabled ? p->entryStart : p->entryEnd;
  if (!slot && !entry) return false;
  HxPlBusy busy(p);
  if (!hx_pl_module(p)) return false;
  HxCurrentPlugin current(p);
  if (slot) {
    reinterpret_cast<Notice>(slot)(text.c_str());
  } else {
    reinterpret_cast<HxEntry>(entry)();
  }
  return true;
}

const char* triggered_word(bool triggered) { return triggered ? "已触发" : "插件未注册"; }

// Whether `dir` names a directory strictly inside main/data/app/: the app
// directory itself, its parent or anything elsewhere is refused.
bool inside_app_dir(const std::string& dir) {
  const std::string app = app_dir();
  if (dir.size() <= app.size() + 1 || hx_icmp(std::string_view(dir).substr(0, app.size()), app) != 0) return false;
  if (dir[app.size()] != HX_SEP && dir[app.size()] != '/') return false;
  return hx_pl_name_usable(std::string_view(dir).substr(app.size() + 1));
}

// Deletes the plain files directly in `dir` (subdirectories stay) and, when
// asked, the directory itself once it is empty. Files deleted.
int purge_dir(const std::string& dir, bool remove_dir) {
  if (!inside_app_dir(dir)) return 0;
  int deleted = 0;
  for (const HxDirEntry& e : hx_list_dir(dir)) {
    if (!e.isDir && sys_remove_file(hx_path_join(dir, e.name))) ++deleted;
  }
  if (remove_dir) sys_remove_dir(dir);
  return deleted;
}

// The data directory of a plugin name: the live record's, else app/<name>.
std::string data_dir_of(std::string_view name) {
  if (HxPlugin* p = hx_pl_find(name); p && !p->dataDir.empty()) return p->dataDir;
  return hx_pl_name_usable(name) ? hx_path_join(app_dir(), name) : std::string();
}

// Moves the plugin's file to main/data/trash/<name>_<i><ext>.
bool retire_file(const HxPlugin* p, unsigned long* code) {
  const std::string dir = trash_dir();
  hx_dir_create(dir);
  std::string target;
  for (int i = 1; i <= kMaxNumbered; ++i) {
    target = hx_path_join(dir, p->name + "_" + std::to_string(i) + HX_PLUGIN_EXT);
    if (!hx_file_exists(target)) break;
  }
  if (hx_file_exists(target)) sys_remove_file(target);  // all 999 taken: the last one goes
  return sys_move_file(p->path, target, code);
}

// Waits until no call into `p` is in progress; false after about 5 s.
bool drain(const HxPlugin* p) {
  for (int i = 0; i < kDrainPolls; ++i) {
    if (p->busy.load() == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kDrainStepMs));
  }
  return p->busy.load() == 0;
}

void panel_thread(HxPlugin* p) {
  p->panelThreadId.store(sys_thread_id());
  {
    HxCurrentPlugin current(p);
    void* slot = p->cb[HX_CB_PANEL];
    void* entry = p->entryPanel;
    const char* said = "该插件没有提供设置界面";
    if (slot || entry) {
      HxPlBusy busy(p);
      if (hx_pl_module(p)) {
        hx_pl_call_locked(p, p->cbSlot, slot ? slot : entry, nullptr);
        said = slot ? "已调用插件注册的设置回调" : "已调用插件 _ControlPanel 导出";
      }
    }
    hx_log(HX_LOG_PLUGIN, p->name.c_str(), kInfoTag, said);
    sys_thread_pump_windows();
  }
  p->panelOpen.store(false);
}

// Clears the panel bookkeeping of a thread that has ended.
void panel_forget(HxPlugin* p) {
  p->panelThreadId.store(0);
  p->panelOpen.store(false);
}

}  // namespace

void hx_pl_set_enabled(std::string_view name, bool enabled) {
  std::lock_guard op(g_plOpMu);
  HxPlugin* p = find_live(name);
  const int target = enabled ? HX_PL_ENABLED : HX_PL_DISABLED;
  if (!p || p->state == target) return;
  const bool triggered = fire_enabled(p, hx_pl_account_text(), enabled);
  set_state(p, target);
  const char* word = enabled ? "启用" : "禁用";
  hx_logf(HX_LOG_PLUGIN, p->name.c_str(), kInfoTag, "插件已%s（被%s回调：%s）", word, word, triggered_word(triggered));
  hx_pl_save_priority();
}

int hx_pl_unload(std::string_view name) {
  std::lock_guard op(g_plOpMu);
  HxPlugin* p = hx_pl_find(name);
  if (!p) return 0;
  if (!hx_pl_module(p)) return 1;
  const char* src = p->name.c_str();
  if (p->state == HX_PL_ENABLED) {
    const bool triggered = fire_enabled(p, hx_pl_account_text(), false);
    set_state(p, HX_PL_DISABLED);
    hx_logf(HX_LOG_PLUGIN, src, kInfoTag, "插件已禁用（被禁用回调：%s）", triggered_word(triggered));
  }
  if (!hx_pl_panel_join(p, kPanelJoinMs)) {
    cut_off(p);
    hx_log(HX_LOG_ERROR, src, kErrTag,
           "插件设置面板线程 5 秒内未退出，为安全起见本次不卸载 DLL（已断开该插件的所有回调入口）");
    return 0;
  }
  {
    HxPlBusy busy(p);
    HxCurrentPlugin current(p);
    if (void* farewell = p->cb[HX_CB_UNLOAD]) reinterpret_cast<Notice>(farewell)("");
    if (p->entryUnload) reinterpret_cast<HxEntry>(p->entryUnload)();
  }
  // From here every dispatch skips the plugin; the module stays mapped.
  p->module.store(0);
  cut_off(p);
  if (!drain(p)) {
    hx_log(HX_LOG_ERROR, src, kErrTag, "有插件回调 5 秒内没返回，为安全起见本次不卸载 DLL（回调入口已全部断开）");
    return 0;
  }
  unsigned long code = 0;
  if (!retire_file(p, &code)) {
    hx_logf(HX_LOG_ERROR, src, kErrTag,
            "无法腾出插件文件（错误码 %lu）：已断开该插件的所有回调入口，但 main%cdata%cdll%c "
            "下的旧文件仍被占用，本次未能更新/删除。关闭框架后可手动替换",
            code, HX_SEP, HX_SEP, HX_SEP);
    return 0;
  }
  hx_logf(HX_LOG_PLUGIN, src, kInfoTag, "插件已卸载（旧版本文件已移入 %s，重启框架后自动清理）",
          shown_dir("main", "data", "trash").c_str());
  return 1;
}

int hx_pl_remove(std::string_view name) {
  if (name.empty()) return 0;
  std::lock_guard op(g_plOpMu);
  int left;
  {
    std::lock_guard lock(g_plCs);
    int index = -1;
    for (int i = 0; i < g_pluginCount; ++i) {
      if (g_plugins[i]->name == name && !hx_pl_module(g_plugins[i])) {
        index = i;
        break;
      }
    }
    if (index < 0) return 0;
    HxPlugin* p = g_plugins[index];
    hx_pl_cut_off(p);
    hx_pl_release_slot(p);
    p->info.plugin_name = nullptr;
    p->nameCopy.clear();
    for (int k = index + 1; k < g_pluginCount; ++k) g_plugins[k - 1] = g_plugins[k];
    g_plugins[--g_pluginCount] = nullptr;
    left = g_pluginCount;
  }
  hx_pl_apply_order(nullptr, 0);  // renumbers and points every record at itself again
  hx_pl_save_priority();
  hx_logf(HX_LOG_PLUGIN, std::string(name).c_str(), kInfoTag, "插件已从列表移除（列表剩余 %d 个）", left);
  return 1;
}

int hx_pl_hot_unload(std::string_view name) {
  std::lock_guard op(g_plOpMu);
  HxPlugin* p = hx_pl_find(name);
  if (!p || !hx_pl_unload(p->name)) return 0;
  return hx_pl_remove(p->name);
}

int hx_pl_hot_update(std::string_view name_in, std::string_view new_file_in) {
  if (name_in.empty() || new_file_in.empty()) return 0;
  std::lock_guard op(g_plOpMu);
  const std::string new_file = hx_path_u8(new_file_in);
  HxPlugin* old = find_live(name_in);
  const std::string name = old ? old->name : std::string(name_in);
  const bool was_enabled = old && old->state == HX_PL_ENABLED;
  const int position = old ? old->order : -1;
  hx_logf(HX_LOG_PLUGIN, name.c_str(), kInfoTag, "开始热更新：%s", hx_path_show(new_file));
  if (!old || !hx_pl_unload(name) || !hx_pl_remove(name)) {
    hx_log(HX_LOG_ERROR, name.c_str(), kErrTag, "热更新中止：插件未能热卸载（DLL 仍被占用），插件数据未改动");
    return 0;
  }
  const std::string file = name + HX_PLUGIN_EXT;
  const std::string target = hx_path_join(dll_dir(), file);
  hx_dir_create(dll_dir());
  unsigned long code = 0;
  if (sys_copy_file(new_file, target, &code) != SysCopyStatus::ok) {
    hx_logf(HX_LOG_ERROR, name.c_str(), kErrTag,
            "热更新失败：复制到 main%cdata%cdll%c 出错（错误码 %lu）。旧版已从列表移除，请用「导入插件」重新导入 %s",
            HX_SEP, HX_SEP, HX_SEP, code, hx_path_show(new_file));
    return 0;
  }
  hx_logf(HX_LOG_PLUGIN, name.c_str(), kInfoTag, "已写入新版 main%cdata%cdll%c%s，开始载入…", HX_SEP, HX_SEP, HX_SEP,
          file.c_str());
  HxPlugin* fresh = nullptr;
  {
    int before;
    {
      std::lock_guard lock(g_plCs);
      before = g_pluginCount;
    }
    if (before < HX_MAX_PLUGINS && hx_pl_load_file(target, file)) fresh = find_live(name);
  }
  if (!fresh) {
    hx_log(HX_LOG_ERROR, name.c_str(), kErrTag, "热更新失败：新版载入失败（详见上方日志）");
    return 0;
  }
  // The new version takes the old one's place in the priority order: the
  // user's order decides who intercepts first, and an update keeps it.
  {
    int order[HX_MAX_PLUGINS];
    int count;
    {
      std::lock_guard lock(g_plCs);
      count = g_pluginCount;
    }
    if (fresh->order == count - 1 && position >= 0 && position < count - 1) {
      for (int j = 0, next = 0; j < count; ++j) order[j] = j == position ? count - 1 : next++;
      hx_pl_apply_order(order, count);
    }
  }
  if (fresh->state == HX_PL_LOADED) {
    if (was_enabled) {
      set_state(fresh, HX_PL_ENABLED);
      fire_enabled(fresh, hx_pl_account_text(), true);
      hx_log(HX_LOG_PLUGIN, name.c_str(), kInfoTag, "新版已载入并启用");
    } else {
      set_state(fresh, HX_PL_DISABLED);
      hx_log(HX_LOG_PLUGIN, name.c_str(), kInfoTag, "新版已载入（保持禁用态）");
    }
  }
  hx_pl_save_priority();
  hx_log(HX_LOG_PLUGIN, name.c_str(), kInfoTag, "热更新完成（插件数据目录已保留）");
  return 1;
}

int hx_pl_import(std::string_view path_in) {
  std::lock_guard op(g_plOpMu);
  const std::string path = hx_path_u8(path_in);
  const std::size_t cut = path.find_last_of("/\\");
  const std::string file = cut == std::string::npos ? path : path.substr(cut + 1);
  if (!hx_ends_with_ci(file, HX_PLUGIN_EXT)) {
    hx_logf(HX_LOG_ERROR, HX_PL_HOST, kErrTag, "导入失败：不是 %s 文件", HX_PLUGIN_EXT);
    return 0;
  }
  const std::string name = hx_pl_name_of(file);
  if (!hx_pl_name_usable(name)) {
    hx_logf(HX_LOG_ERROR, file.c_str(), kErrTag, "插件文件名无效，未载入：%s", file.c_str());
    return 0;
  }
  const std::string target = hx_path_join(dll_dir(), file);
  hx_dir_create(dll_dir());
  if (std::optional<HxPlDuplicate> dup = hx_pl_duplicate_of(name, hx_pl_fingerprint(path))) {
    hx_logf(HX_LOG_ERROR, name.c_str(), kErrTag, "导入失败：%s（已载入：%s）", dup->reason.c_str(),
            hx_path_show(dup->livePath));
    return 0;
  }
  // A file imported from main/data/dll itself is already where it belongs:
  // copying it over itself would empty it.
  if (hx_icmp(sys_full_path(path), sys_full_path(target)) != 0) {
    unsigned long code = 0;
    if (sys_copy_file(path, target, &code) != SysCopyStatus::ok) {
      hx_logf(HX_LOG_ERROR, name.c_str(), kErrTag, "导入失败：复制到插件目录出错（错误码 %lu）", code);
      return 0;
    }
  }
  hx_logf(HX_LOG_PLUGIN, file.c_str(), kInfoTag, "已复制到 main%cdata%cdll%c，开始载入…", HX_SEP, HX_SEP, HX_SEP);
  {
    std::lock_guard lock(g_plCs);
    if (g_pluginCount >= HX_MAX_PLUGINS) return 0;
  }
  if (!hx_pl_load_file(target, file)) return 0;
  HxPlugin* p = find_live(name);
  if (p && p->state == HX_PL_LOADED) {
    set_state(p, HX_PL_ENABLED);
    fire_enabled(p, hx_pl_account_text(), true);
    hx_pl_save_priority();
  }
  return p ? 1 : 0;
}

int hx_pl_delete_files(std::string_view name) {
  if (!hx_pl_name_usable(name)) return 0;
  std::lock_guard op(g_plOpMu);
  int count = 0;
  const std::string file = std::string(name) + HX_PLUGIN_EXT;
  for (const std::string& dir : {dll_dir(), hx_pl_main_path("plugin")}) {
    const std::string path = hx_path_join(dir, file);
    if (!hx_file_exists(path) || sys_remove_file(path)) ++count;
  }
  return count + purge_dir(data_dir_of(name), true);
}

int hx_pl_clear_data(std::string_view name) {
  std::lock_guard op(g_plOpMu);
  const int deleted = purge_dir(data_dir_of(name), false);
  hx_logf(HX_LOG_PLUGIN, std::string(name).c_str(), kInfoTag, "已清空插件数据目录（%d 个文件）", deleted);
  return deleted;
}

int hx_pl_clean_trash() {
  std::lock_guard op(g_plOpMu);
  // A file whose module is still mapped stays: deleting it would let a later
  // copy of the same name be answered with the old module.
  auto clean = [](const std::string& dir) {
    int deleted = 0;
    for (const HxDirEntry& e : hx_list_dir(dir)) {
      const std::string path = hx_path_join(dir, e.name);
      if (!e.isDir && !sys_dl_is_loaded(path) && sys_remove_file(path)) ++deleted;
    }
    return deleted;
  };
  int deleted = clean(trash_dir()) + clean(hot_dir());
  for (const HxDirEntry& e : hx_list_dir(hot_dir())) {
    if (!e.isDir) continue;
    const std::string sub = hx_path_join(hot_dir(), e.name);
    deleted += clean(sub);
    sys_remove_dir(sub);  // only an empty one goes
  }
  if (deleted) {
    hx_logf(HX_LOG_PLUGIN, HX_PL_HOST, kInfoTag, "已清理上一轮卸载/热更新残留的 %d 个旧版本插件文件", deleted);
  }
  return deleted;
}

int hx_pl_move_priority(std::string_view name, int direction) {
  if (direction == 0) return 0;
  std::lock_guard op(g_plOpMu);
  int index = -1, count;
  {
    std::lock_guard lock(g_plCs);
    count = g_pluginCount;
    for (int i = 0; i < count && index < 0; ++i) {
      if (g_plugins[i]->name == name) index = i;
    }
  }
  const int other = direction < 0 ? index - 1 : index + 1;
  if (index < 0 || other < 0 || other >= count) return 0;
  int order[HX_MAX_PLUGINS];
  for (int i = 0; i < count; ++i) order[i] = i;
  order[index] = other;
  order[other] = index;
  hx_pl_apply_order(order, count);
  hx_logf(HX_LOG_PLUGIN, std::string(name).c_str(), kInfoTag, "处理优先级%s（现第 %d 位）",
          direction < 0 ? "上移" : "下移", other + 1);
  hx_pl_save_priority();
  return 1;
}

int hx_pl_reorder(const int* order, int count) {
  if (!order || count < 1 || count > HX_MAX_PLUGINS) return 0;
  std::lock_guard op(g_plOpMu);
  std::string first;
  {
    std::lock_guard lock(g_plCs);
    if (count > g_pluginCount) return 0;
    bool seen[HX_MAX_PLUGINS] = {};
    bool identity = true;
    for (int i = 0; i < count; ++i) {
      if (order[i] < 0 || order[i] >= count || seen[order[i]]) return 0;
      seen[order[i]] = true;
      identity = identity && order[i] == i;
    }
    if (identity) return 0;
    first = g_plugins[order[0]]->name;
  }
  hx_pl_apply_order(order, count);  // places past `count` keep their plugins
  hx_logf(HX_LOG_PLUGIN, HX_PL_HOST, kInfoTag, "处理优先级已重排（%d 项，新的首位 = %s）", count, first.c_str());
  hx_pl_save_priority();
  return 1;
}

void hx_pl_show_panel(std::string_view name) {
  std::lock_guard op(g_plOpMu);  // the panel thread's bookkeeping is shared with unload and shutdown
  HxPlugin* p = find_live(name);
  if (!p) {
    hx_log(HX_LOG_PLUGIN, std::string(name).c_str(), kInfoTag, "插件未载入，无法打开设置");
    return;
  }
  const char* src = p->name.c_str();
  if (p->panelThread.running()) {
    const bool open = p->panelOpen.load();
    if (!p->panelThread.wait(open ? 0 : 500)) {
      hx_log(HX_LOG_PLUGIN, src, kInfoTag,
             open ? "该插件的设置面板已打开" : "上一次设置面板尚未完全退出，请稍后再试（避免句柄泄漏）");
      return;
    }
    p->panelThreadId.store(0);
    if (p->panelOpen.load()) {
      hx_log(HX_LOG_PLUGIN, src, kInfoTag, "该插件的设置面板已打开");
      return;
    }
  } else if (p->panelOpen.load()) {
    hx_log(HX_LOG_PLUGIN, src, kInfoTag, "该插件的设置面板已打开");
    return;
  }
  p->panelOpen.store(true);
  if (!p->panelThread.start([p](HxStop&) { panel_thread(p); })) {
    p->panelOpen.store(false);
    hx_logf(HX_LOG_PLUGIN, src, kErrTag, "创建设置面板线程失败（%lu）", 0ul);
  }
}

bool hx_pl_panel_join(HxPlugin* p, int ms) {
  if (!p) return true;
  const unsigned long id = p->panelThreadId.load();
  if (p->panelOpen.load() && id) sys_thread_close_windows(id);
  if (!p->panelThread.running()) {
    panel_forget(p);
    return true;
  }
  if (!p->panelThread.wait(ms)) return false;
  panel_forget(p);
  return true;
}

std::optional<std::string> hx_pl_send_hook(HxPlugin* p, const char* api_name, const char* text) {
  if (!p || !text) return std::nullopt;
  HxPlBusy busy(p);
  void* hook = p->cb[HX_CB_SEND_HOOK];
  if (!hook || !hx_pl_module(p)) return std::nullopt;
  thread_local char fileGbk[780];
  thread_local char appGbk[256];
  hx_copy_field_gbk(fileGbk, sizeof fileGbk, hx_utf8_to_gbk(p->path).value_or(p->path));
  hx_copy_field_gbk(appGbk, sizeof appGbk, hx_utf8_to_gbk(p->name).value_or(p->name));
  const HxSendHookArgs args{fileGbk, appGbk, api_name ? api_name : "", text};
  const char* result;
  {
    HxCurrentPlugin current(p);
    result = reinterpret_cast<HxSendHook>(hook)(&args);
  }
  if (!result || result == text) return std::nullopt;
  std::optional<std::string_view> replaced = hx_pl_readable_text(result);
  if (!replaced || replaced->empty()) return std::nullopt;
  return std::string(*replaced);
}
