// Plugin loading: copying plugin files in, loading each library, finding its
// entry points, the initialisation handshake, and the priority file.
#include <cjson/cJSON.h>

#include <climits>
#include <cstring>
#include <memory>

#include "config/cfg.h"
#include "foundation/env.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/pe.h"
#include "plugin/plugin.h"
#include "plugin/plugin_internal.h"
#include "sys/clock.h"
#include "sys/files.h"
#include "sys/memory.h"
#include "sys/process.h"

std::mutex g_plCs;
HxPlugin* g_plugins[HX_MAX_PLUGINS] = {};
int g_pluginCount = 0;
std::recursive_mutex g_plOpMu;

namespace {

constexpr const char* kHost = HX_PL_HOST;
constexpr const char* kInfoTag = HX_PL_INFO_TAG;
constexpr const char* kErrTag = HX_PL_ERR_TAG;
constexpr std::uint64_t kFnvSeed = 0x14650FB0739D0383ULL;
constexpr std::size_t kInitTextMax = 1 << 20;  // how far an init result is searched for its end

bool g_cbSlotUsed[HX_MAX_PLUGINS] = {};  // guarded by g_plCs
// Every record ever made, so that none is lost: records are never freed or
// reused, since lanes, plugins (through their info block) and callers of
// hx_pl_find may hold one for the life of the process. Guarded by g_plCs.
std::vector<HxPlugin*>* const g_allRecords = new std::vector<HxPlugin*>;
thread_local HxPlugin* t_current = nullptr;

// Export names, tried in order (Chinese ones as GBK bytes).
const char* const kInit[] = {HX_EXPORT_INIT_NT, HX_EXPORT_INIT, HX_EXPORT_INIT_ALT};
const char* const kStart[] = {"_AppStartNT", "_AppStart", "apprunNT"};
const char* const kEnd[] = {"_AppEndNT", "_AppEnd"};
const char* const kUnload[] = {"_AppUnloadNT", "_AppUnload", "apploadNT", HX_EXPORT_UNLOAD_CN};
const char* const kPanel[] = {"_ControlPanelNT", "_ControlPanel", "HX_ControlPanel", HX_EXPORT_PANEL_CN};
const char* const kGroup[] = {"_OnGroupNT", "_OnGroup"};
const char* const kPrivate[] = {"_OnPrivateNT", "_OnPrivate"};
const char* const kEvent[] = {"_OnEventNT", "_OnEvent"};

using Getter = void*(HX_STDCALL*)(void);
using Notice = std::int32_t(HX_STDCALL*)(const char*);

std::string main_path(std::string_view rel) { return hx_pl_main_path(rel); }
std::string dll_dir() { return main_path("data/dll"); }

// ---- Plugin files into main/data/dll ----

bool is_plugin_file(const HxDirEntry& e) { return !e.isDir && hx_ends_with_ci(e.name, HX_PLUGIN_EXT); }

void plugin_sync() {
  hx_pl_clean_trash();
  const std::string target_dir = dll_dir();
  hx_dir_create(target_dir);
  const std::string plugin_dir = main_path("plugin");
  if (hx_dir_exists(plugin_dir)) {
    int copied = 0, failed = 0;
    for (const HxDirEntry& e : hx_list_dir(plugin_dir)) {
      if (!is_plugin_file(e)) continue;
      unsigned long code = 0;
      switch (sys_copy_file(hx_path_join(plugin_dir, e.name), hx_path_join(target_dir, e.name), &code)) {
        case SysCopyStatus::ok:
          ++copied;
          break;
        case SysCopyStatus::busy:
          hx_logf(HX_LOG_PLUGIN, e.name.c_str(), kInfoTag, "已是最新或正被占用，本次未覆盖（需重启框架才生效）");
          break;
        case SysCopyStatus::failed:
          ++failed;
          hx_logf(HX_LOG_ERROR, e.name.c_str(), kErrTag, "同步到插件目录失败（错误码 %lu）", code);
          break;
      }
    }
    if (failed) hx_logf(HX_LOG_ERROR, kHost, kErrTag, "插件目录同步：%d 个插件未能更新", failed);
    if (copied) {
      hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "插件目录同步：已从 main%cplugin%c 更新 %d 个插件到 main%cdata%cdll%c",
              HX_SEP, HX_SEP, copied, HX_SEP, HX_SEP, HX_SEP);
    }
  }
  const std::string legacy_dir = main_path("data/plugin");
  if (!hx_dir_exists(legacy_dir)) return;
  int migrated = 0;
  for (const HxDirEntry& e : hx_list_dir(legacy_dir)) {
    if (!is_plugin_file(e)) continue;
    const std::string target = hx_path_join(target_dir, e.name);
    if (hx_file_exists(target) || hx_file_exists(hx_path_join(plugin_dir, e.name))) continue;
    if (sys_copy_file(hx_path_join(legacy_dir, e.name), target, nullptr) != SysCopyStatus::ok) continue;
    ++migrated;
    hx_logf(HX_LOG_PLUGIN, e.name.c_str(), kInfoTag, "已从旧插件目录 main%cdata%cplugin%c 迁入 main%cdata%cdll%c",
            HX_SEP, HX_SEP, HX_SEP, HX_SEP, HX_SEP, HX_SEP);
  }
  if (migrated) {
    hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "插件目录同步：另有 %d 个旧目录遗留插件已迁入 main%cdata%cdll%c", migrated,
            HX_SEP, HX_SEP, HX_SEP);
  }
}

// ---- Loading one plugin ----

// A library still mapped from `path` cannot be loaded again as a new module:
// the platform would hand back the old one. A fresh copy is loaded instead.
std::string hot_copy_if_mapped(const std::string& path, const std::string& name) {
  if (!sys_dl_is_loaded(path)) return path;
  const std::string hot = main_path("data/hot");
  hx_dir_create(hot);
  for (int i = 1; i <= 999; ++i) {
    const std::string dir = hx_path_join(hot, std::to_string(i));
    const std::string candidate = hx_path_join(dir, name + HX_PLUGIN_EXT);
    if (hx_file_exists(candidate) || sys_dl_is_loaded(candidate)) continue;
    hx_dir_create(dir);
    if (sys_copy_file(path, candidate, nullptr) != SysCopyStatus::ok) continue;
    hx_logf(HX_LOG_PLUGIN, name.c_str(), kInfoTag, "该路径的模块仍在进程里，改从副本载入：%s", hx_path_show(candidate));
    return candidate;
  }
  return path;
}

// The platform's lookup first: it follows forwarded exports, which the
// table alone names only as text. Our own scan of the export table is the
// fallback for tables the platform cannot search (unsorted names).
void* find_export(SysLibHandle lib, const std::string& path, const char* name) {
  if (void* f = sys_dl_sym(lib, name)) return f;
  const void* image = sys_dl_image(lib);
  return image ? hx_pe_find_in(image, path, name) : nullptr;
}

template <std::size_t N>
void* find_first(SysLibHandle lib, const std::string& path, const char* const (&names)[N], int* which = nullptr) {
  for (std::size_t i = 0; i < N; ++i) {
    if (void* f = find_export(lib, path, names[i])) {
      if (which) *which = static_cast<int>(i);
      return f;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<std::string_view> hx_pl_readable_text(const char* p) {
  std::size_t seen = 0;
  while (seen < kInitTextMax) {
    const std::size_t extent = sys_readable_extent(p + seen, kInitTextMax - seen);
    if (!extent) return std::nullopt;
    if (const void* nul = std::memchr(p + seen, 0, extent)) {
      return std::string_view(p, static_cast<std::size_t>(static_cast<const char*>(nul) - p));
    }
    seen += extent;
  }
  return std::nullopt;
}

namespace {

bool json_mounting_on() { return hx_env().jsonCallbacks; }

void* json_address(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  unsigned long long a = 0;
  if (cJSON_IsNumber(v)) {
    // An address no integer can hold (1e300, inf, NaN) is no address.
    const double d = v->valuedouble;
    a = d > 0 && d < 1.8e19 ? static_cast<unsigned long long>(d) : 0;
  } else if (cJSON_IsString(v) && v->valuestring) {
    a = static_cast<unsigned long long>(hx_to_i64(v->valuestring, 0));
  }
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(a));
}

// A new record with a call slot of its own, not yet in the table; null when
// the table or the slots are full. Under g_plCs.
HxPlugin* record_take() {
  if (g_pluginCount >= HX_MAX_PLUGINS) return nullptr;
  int slot = 0;
  while (slot < HX_MAX_PLUGINS && g_cbSlotUsed[slot]) ++slot;
  if (slot == HX_MAX_PLUGINS) return nullptr;
  auto* rec = new HxPlugin;
  g_allRecords->push_back(rec);
  g_cbSlotUsed[slot] = true;
  rec->cbSlot = slot;
  rec->order = g_pluginCount;
  return rec;
}

// Makes a finished record live: last in priority order. Under g_plCs.
void record_publish(HxPlugin* rec) {
  rec->order = g_pluginCount;
  g_plugins[g_pluginCount++] = rec;
}

}  // namespace

void hx_pl_read_init_json(HxPlugin& p, std::string_view text) {
  const std::string u8 = hx_auto_to_utf8(text).value_or(std::string(text));
  HxJson root(cJSON_ParseWithLength(u8.data(), u8.size()));
  const char* src = p.name.c_str();
  if (!cJSON_IsObject(root.get())) {
    hx_dbgf(src, "初始化返回值不是有效 JSON，跳过回调地址解析");
    return;
  }
  const cJSON* obj = root.get();
  if (json_mounting_on()) {
    static const struct {
      const char* key;
      int slot;
    } kMounts[] = {{"groupmsaddresNT", HX_CB_GROUP},
                   {"friendmsaddresNT", HX_CB_PRIVATE},
                   {"eventmsaddresNT", HX_CB_EVENT},
                   {"PmDealFuncNT", HX_CB_SEND_HOOK}};
    for (const auto& m : kMounts) {
      if (void* a = json_address(obj, m.key)) p.cb[m.slot] = a;
    }
    // "useproaddresNT", "banproaddresNT", "unitproaddresNT", "setproaddresNT"
    // are part of the same answer but play no part in dispatch.
  } else if (cJSON_HasObjectItem(obj, "groupmsaddresNT") || cJSON_HasObjectItem(obj, "useproaddresNT")) {
    hx_dbgf(src, "JSON 回调地址已解析但未挂载（HX_JSONCB=0 主动关闭；去掉该环境变量即恢复默认挂载）");
  }
  struct Field {
    const char* key;
    char* buf;
    std::size_t size;
    const char** word;
  } fields[] = {{"author", p.author, sizeof p.author, &p.info.author},
                {"appv", p.version, sizeof p.version, &p.info.version},
                {"describe", p.describe, sizeof p.describe, &p.info.describe}};
  bool given[3] = {};
  for (int i = 0; i < 3; ++i) {
    const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, fields[i].key);
    if (!cJSON_IsString(v) || !v->valuestring || !*v->valuestring) continue;
    hx_copy_field(fields[i].buf, fields[i].size, v->valuestring);
    *fields[i].word = fields[i].buf;
    given[i] = true;
  }
  hx_dbgf(src, "初始化返回 JSON 已解析（回调地址/元数据已回填）：作者%s 版本%s 说明%s", given[0] ? "√" : "×",
          given[1] ? "√" : "×", given[2] ? "√" : "×");
  if (given[0] || given[1]) {
    hx_dbgf(src, "应用信息：作者=%s 版本=%s 说明(%d 字节)", p.author, p.version,
            static_cast<int>(std::strlen(p.describe)));
  }
}

namespace {

std::atomic<HxPlApiForms (*)()> g_apiSource{nullptr};

HxPlApiForms api_forms() {
  static const std::string kNoApidata;
  if (auto* source = g_apiSource.load()) return source();
  return HxPlApiForms{{0, nullptr, nullptr}, {nullptr, nullptr}, &kNoApidata};
}

bool legacy_info_init() { return hx_env().initLegacyInfo; }

// Steps 11 to 13: the info block, then the plugin's own initialisation.
void run_init(HxPlugin& p) {
  static const char kEmpty[] = "";
  std::memset(static_cast<void*>(&p.info), 0, sizeof p.info);
  p.info.sdk_version = HX_SDK_VERSION;
  p.nameCopy = p.name;
  p.info.plugin_name = p.nameCopy.c_str();
  p.info.plugin_record = &p;
  hx_copy_field(p.nameBuf, sizeof p.nameBuf, p.name);
  p.info.name_buf = p.nameBuf;
  p.info.author = p.info.version = p.info.describe = kEmpty;
  const HxPlApiForms forms = api_forms();
  const HxApiTriple& table = forms.table;
  p.info.table_count = static_cast<std::uintptr_t>(table.count);
  p.info.table_addresses = table.addresses;
  p.info.table_names = table.names;
  const HxEplArrays& arrays = forms.arrays;
  if (arrays.names && arrays.addresses) {
    auto* names = static_cast<HxEplArray*>(arrays.names);
    auto* addresses = static_cast<HxEplArray*>(arrays.addresses);
    p.info.api_count = p.info.api_count2 = p.info.api_count3 = HX_API_COUNT;
    p.info.applications = p.info.applications2 = addresses;
    p.info.api_names = p.info.api_names2 = p.info.api_names3 = names;
    hx_dbgf(p.name.c_str(),
            "API 目录已按易语言数组格式回填：%d 项（_Api_names=文本型数组映像，Applications=整数型数组映像）",
            HX_API_COUNT);
  } else {
    hx_logf(HX_LOG_ERROR, p.name.c_str(), kErrTag, "易语言数组映像分配失败，真实易语言插件将取不到任何 API 地址");
  }

  const std::string& apidata = *forms.apidata;
  const char* result = nullptr;
  hx_pl_set_current(&p);
  if (p.initTwoArgs) {
    hx_dbgf(p.name.c_str(), "调用插件初始化（%s，入口 %p，apidata=%p）…", "初始化NT / 2 参数", p.entryInit,
            static_cast<const void*>(apidata.c_str()));
    auto init = reinterpret_cast<HxInitNT>(p.entryInit);
    if (legacy_info_init()) {
      result = init(reinterpret_cast<const char*>(&p.info), apidata.c_str());
    } else {
      const std::string key = hx_env().pluginKey.value_or(p.name);
      const std::optional<std::string> key_gbk = hx_utf8_to_gbk(key);
      result = init(apidata.c_str(), key_gbk ? key_gbk->c_str() : p.name.c_str());
    }
  } else {
    hx_dbgf(p.name.c_str(), "调用插件初始化（%s，入口 %p，apidata=%p）…", "初始化 / 1 参数", p.entryInit,
            static_cast<const void*>(apidata.c_str()));
    reinterpret_cast<HxInitInfoFn>(p.entryInit)(&p.info);
  }
  hx_pl_set_current(nullptr);

  if (!p.initTwoArgs) return;
  if (!result) {
    hx_logf(HX_LOG_ERROR, p.name.c_str(), kErrTag, "插件初始化失败：初始化函数返回 0（插件自报失败）");
    return;
  }
  hx_dbgf(p.name.c_str(), "插件初始化已返回（返回值 %p）", static_cast<const void*>(result));
  std::optional<std::string_view> text = hx_pl_readable_text(result);
  if (!text) {
    hx_dbgf(p.name.c_str(), "初始化返回值不是文本指针：%p", static_cast<const void*>(result));
    return;
  }
  if (hx_dbg_on()) {
    hx_dbgf(p.name.c_str(), "初始化返回值(JSON)=%s", hx_auto_to_utf8(*text).value_or(std::string(*text)).c_str());
  }
  hx_pl_read_init_json(p, *text);
}

// Steps 15 to 17: registrations win over JSON addresses; getters fill gaps.
void settle_callbacks(HxPlugin& p) {
  for (int i = 0; i < 8; ++i) {
    if (p.info.reg[i]) p.cb[i] = p.info.reg[i];
  }
  int n = 0;
  for (void* c : p.cb) n += c ? 1 : 0;
  auto mark = [&](int i) { return p.cb[i] ? "√" : "×"; };
  hx_dbgf(p.name.c_str(), "回调注册：群%s 私聊%s 事件%s 被启用%s 被禁用%s 被卸载%s 被设置%s 输出替换%s（共%d/8）",
          mark(HX_CB_GROUP), mark(HX_CB_PRIVATE), mark(HX_CB_EVENT), mark(HX_CB_ENABLED), mark(HX_CB_DISABLED),
          mark(HX_CB_UNLOAD), mark(HX_CB_PANEL), mark(HX_CB_SEND_HOOK), n);
  auto ask = [](void* getter) { return getter ? reinterpret_cast<Getter>(getter)() : nullptr; };
  if (!p.cb[HX_CB_GROUP]) p.cb[HX_CB_GROUP] = ask(p.getGroupCb);
  if (!p.cb[HX_CB_PRIVATE]) {
    p.cb[HX_CB_PRIVATE] = ask(p.getPrivateCb);
    if (!p.cb[HX_CB_PRIVATE]) p.cb[HX_CB_PRIVATE] = ask(p.getAltPrivateCb);
  }
  if (!p.cb[HX_CB_EVENT]) p.cb[HX_CB_EVENT] = ask(p.getEventCb);
}

void give_back_slot(HxPlugin& p) {
  std::lock_guard lock(g_plCs);
  hx_pl_release_slot(&p);
}

// Undoes a load that got as far as the library; the record never reaches the
// table. A module whose initialisation ran stays mapped: threads or timers it
// started would run into freed code. It is cut off instead.
void drop(HxPlugin& p, bool init_ran) {
  const SysLibHandle lib = p.module.exchange(0);
  if (!init_ran) sys_dl_close(lib);
  {
    std::lock_guard lock(g_plCs);
    hx_pl_cut_off(&p);
  }
  give_back_slot(p);
}

bool try_load_one(std::string_view path_in, std::string_view file_name) {
  const std::string name = hx_pl_name_of(file_name);
  const std::string given_path = hx_path_u8(path_in);
  if (!hx_pl_name_usable(name)) {
    // Its data directory would be main/data/app itself, its parent, or elsewhere.
    hx_logf(HX_LOG_ERROR, hx_path_show(given_path), kErrTag, "插件文件名无效，未载入：%s",
            std::string(file_name).c_str());
    return false;
  }
  const std::string path = hot_copy_if_mapped(given_path, name);
  const std::uint64_t fingerprint = hx_pl_fingerprint(path);
  if (std::optional<HxPlDuplicate> dup = hx_pl_duplicate_of(name, fingerprint)) {
    hx_logf(HX_LOG_ERROR, name.c_str(), kErrTag, "拒绝重复导入：%s（已载入：%s）", dup->reason.c_str(),
            hx_path_show(dup->livePath));
    return false;
  }
  SysError error;
  SysLib opened = sys_dl_open(path, &error);
  if (!opened) {
    hx_logf(HX_LOG_ERROR, hx_path_show(path), kErrTag, "载入插件失败（LoadLibrary 错误 %lu）", error.code);
    if (!error.text.empty()) hx_dbgf(hx_path_show(path), "%s", error.text.c_str());
    return false;
  }
  const SysLibHandle lib = opened.get();
  HxPlugin* rec = nullptr;
  std::string same_module;
  {
    std::lock_guard lock(g_plCs);
    for (int i = 0; i < g_pluginCount && same_module.empty(); ++i) {
      if (g_plugins[i]->module.load() == lib) same_module = g_plugins[i]->name;
    }
    if (same_module.empty()) rec = record_take();
  }
  if (!same_module.empty()) {
    opened.reset();
    hx_logf(HX_LOG_ERROR, name.c_str(), kErrTag, "拒绝重复导入：与已载入插件「%s」是同一个模块", same_module.c_str());
    return false;
  }
  if (!rec) return false;
  HxPlugin& p = *rec;
  p.path = path;
  p.name = name;
  p.fingerprint = fingerprint;
  p.module.store(opened.release());  // the record holds the reference from here on
  p.state = HX_PL_LOADED;
  const void* image = sys_dl_image(lib);
  p.lang = image ? hx_pe_scan_lang(image) : HX_LANG_UNKNOWN;

  int init_form = -1;
  p.entryInit = find_first(lib, path, kInit, &init_form);
  p.initTwoArgs = init_form == 0;
  p.entryStart = find_first(lib, path, kStart);
  p.entryEnd = find_first(lib, path, kEnd);
  p.entryUnload = find_first(lib, path, kUnload);
  p.entryPanel = find_first(lib, path, kPanel);
  p.entryGroup = find_first(lib, path, kGroup);
  p.entryPrivate = find_first(lib, path, kPrivate);
  p.entryEvent = find_first(lib, path, kEvent);
  p.getGroupCb = find_export(lib, path, "groupmsaddresNT");
  p.getPrivateCb = find_export(lib, path, "friendmsaddresNT");
  p.getEventCb = find_export(lib, path, "eventmsaddresNT");
  p.getAltPrivateCb = find_export(lib, path, "PmDealFuncNT");
  if (!p.entryInit) {
    hx_logf(HX_LOG_ERROR, name.c_str(), kErrTag,
            "未找到导出函数「初始化NT / 初始化」，不是有效的Tolvex插件（错误码 %lu）", SYS_DL_NO_EXPORT);
    drop(p, false);
    return false;
  }

  run_init(p);
  settle_callbacks(p);

  if (p.info.name_buf && *p.info.name_buf && hx_icmp(p.info.name_buf, name) != 0) {
    const std::string declared = hx_auto_to_utf8(p.info.name_buf).value_or(p.info.name_buf);
    hx_logf(HX_LOG_ERROR, name.c_str(), kErrTag,
            "插件内置名[%s]与实际文件名[%s]不一致！请将插件文件名改为：%s%s 再来载入！", declared.c_str(), name.c_str(),
            declared.c_str(), HX_PLUGIN_EXT);
    drop(p, true);
    return false;
  }

  p.dataDir = main_path("data/app/" + name);
  hx_dir_create(p.dataDir);
  {
    std::lock_guard lock(g_plCs);
    record_publish(rec);
  }
  hx_logf(HX_LOG_PLUGIN, name.c_str(), kInfoTag, "插件载入成功（作者:%s 版本:%s）", p.author, p.version);
  return true;
}

void load_dir() {
  const std::string dir = dll_dir();
  if (!hx_dir_exists(dir)) return;
  for (const HxDirEntry& e : hx_list_dir(dir)) {
    if (!is_plugin_file(e)) continue;
    const std::string shown = e.name.substr(0, e.name.size() - std::strlen(HX_PLUGIN_EXT));
    hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "正在加载插件：%s …", shown.c_str());
    const std::uint64_t t0 = sys_ticks_ms();
    bool ok = false;
    int count;
    {
      std::lock_guard lock(g_plCs);
      count = g_pluginCount;
    }
    if (count < HX_MAX_PLUGINS) ok = try_load_one(hx_path_join(dir, e.name), e.name);
    const std::uint64_t ms = sys_ticks_ms() - t0;
    hx_logf(HX_LOG_PLUGIN, kHost, kInfoTag, "正在加载插件：%s → %s（%u.%02u 秒）", shown.c_str(), ok ? "完成" : "失败",
            static_cast<unsigned>(ms / 1000), static_cast<unsigned>(ms % 1000 / 10));
  }
}

std::string priority_path() { return main_path("data/插件优先级.txt"); }

}  // namespace

void hx_pl_apply_order(const int* order, int count) {
  std::lock_guard lock(g_plCs);
  HxPlugin* scratch[HX_MAX_PLUGINS] = {};
  bool taken[HX_MAX_PLUGINS] = {};
  int n = 0;
  for (int i = 0; i < count && n < g_pluginCount; ++i) {
    const int k = order[i];
    if (k < 0 || k >= g_pluginCount || taken[k]) continue;
    taken[k] = true;
    scratch[n++] = g_plugins[k];
  }
  for (int k = 0; k < g_pluginCount; ++k) {
    if (!taken[k]) scratch[n++] = g_plugins[k];
  }
  for (int i = 0; i < n; ++i) {
    HxPlugin* p = g_plugins[i] = scratch[i];
    p->order = i;
    p->info.plugin_record = p;
    p->info.name_buf = p->nameBuf;
    p->info.author = p->author;
    p->info.version = p->version;
    p->info.describe = p->describe;
  }
}

void hx_pl_set_api_source(HxPlApiForms (*source)()) { g_apiSource.store(source); }

HxPlugin* hx_pl_add_resident(std::string_view name, void* const (&callbacks)[8]) {
  std::lock_guard lock(g_plCs);
  HxPlugin* rec = record_take();
  if (!rec) return nullptr;
  rec->name = name;
  rec->resident = true;
  rec->module.store(HX_PL_RESIDENT_MODULE);
  for (int i = 0; i < 8; ++i) rec->cb[i] = callbacks[i];
  rec->state = HX_PL_ENABLED;
  record_publish(rec);
  return rec;
}

void hx_pl_remove_resident(HxPlugin* p) {
  std::lock_guard lock(g_plCs);
  for (int i = 0; i < g_pluginCount; ++i) {
    if (g_plugins[i] != p || !p->resident) continue;
    p->module.store(0);
    hx_pl_cut_off(p);
    for (int k = i + 1; k < g_pluginCount; ++k) {
      g_plugins[k - 1] = g_plugins[k];
      g_plugins[k - 1]->order = k - 1;
    }
    g_plugins[--g_pluginCount] = nullptr;
    if (p->cbSlot >= 0) g_cbSlotUsed[p->cbSlot] = false;
    p->cbSlot = -1;
    return;
  }
}

HxPlugin* hx_pl_current() { return t_current; }
void hx_pl_set_current(HxPlugin* p) { t_current = p; }
const char* hx_pl_current_name() { return t_current ? t_current->name.c_str() : nullptr; }

std::uint64_t hx_pl_fingerprint(std::string_view path) {
  std::string data;
  if (sys_read_file(path, static_cast<std::size_t>(1) << 31, data) != SysReadStatus::ok) return 0;
  const std::uint64_t x = hx_fnv1a64(data, kFnvSeed) ^ static_cast<std::uint64_t>(data.size());
  return x ? x * HX_FNV64_PRIME : 1;
}

bool hx_pl_load_file(std::string_view path, std::string_view file_name) {
  std::lock_guard op(g_plOpMu);
  return try_load_one(path, file_name);
}

std::string hx_pl_main_path(std::string_view rel) {
  std::string p = hx_path_join(hx_data_dir(), "main");
  for (std::string_view part : hx_split(rel, "/", 16)) p = hx_path_join(p, part);
  return p;
}

bool hx_pl_name_usable(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string_view::npos;
}

std::string hx_pl_name_of(std::string_view file_name) {
  const std::size_t dot = file_name.rfind('.');
  std::string_view stem = dot == std::string_view::npos ? file_name : file_name.substr(0, dot);
  std::string name = hx_auto_to_utf8(stem).value_or(std::string(stem));
  name.resize(hx_utf8_cut(name, 127));
  return name;
}

std::optional<HxPlDuplicate> hx_pl_duplicate_of(const std::string& name, std::uint64_t fingerprint) {
  std::lock_guard lock(g_plCs);
  for (int i = 0; i < g_pluginCount; ++i) {
    const HxPlugin* p = g_plugins[i];
    if (!p->module.load()) continue;  // unloaded, waiting to be removed: nothing runs
    HxPlDuplicate dup{{}, p->path};
    if (!name.empty() && !p->name.empty() && hx_icmp(name, p->name) == 0) {
      sb_printf(dup.reason, "插件名「%s」已在运行", p->name.c_str());
      return dup;
    }
    if (fingerprint && p->fingerprint == fingerprint) {
      sb_printf(dup.reason, "文件内容与已载入的「%s」完全相同（改了名的同一份插件）", p->name.c_str());
      return dup;
    }
  }
  return std::nullopt;
}

std::string hx_pl_account_text() {
  std::vector<HxAccount> accounts = hx_cfg_accounts();
  return accounts.empty() ? std::string() : std::string(accounts.front().id);
}

HxPlugin* hx_pl_find(std::string_view name) {
  std::lock_guard lock(g_plCs);
  // An unloaded record waits in the table until it is removed; a new load of
  // the same name may live next to it, and the live one is meant.
  HxPlugin* dead = nullptr;
  for (int i = 0; i < g_pluginCount; ++i) {
    HxPlugin* p = g_plugins[i];
    if (hx_icmp(p->name, name) != 0) continue;
    if (p->module.load()) return p;
    if (!dead) dead = p;
  }
  return dead;
}

int hx_pl_count_enabled() {
  std::lock_guard lock(g_plCs);
  int n = 0;
  for (int i = 0; i < g_pluginCount; ++i) n += g_plugins[i]->state == HX_PL_ENABLED ? 1 : 0;
  return n;
}

bool hx_pl_save_priority() {
  std::string out;
  {
    std::lock_guard lock(g_plCs);
    for (int i = 0; i < g_pluginCount; ++i) {
      sb_printf(out, "%s|%s\r\n", g_plugins[i]->name.c_str(), g_plugins[i]->state == HX_PL_ENABLED ? "启用" : "禁用");
    }
  }
  return hx_write_file(priority_path(), out);
}

void hx_pl_load_priority() {
  std::optional<std::string> raw = hx_read_file(priority_path());
  if (!raw || raw->empty()) return;
  const std::string text = hx_auto_to_utf8(*raw).value_or(*raw);
  int order[HX_MAX_PLUGINS];
  int n = 0;
  for (std::string_view line : hx_split(text, "\n", INT_MAX)) {
    line = hx_trim(line);
    if (line.empty()) continue;
    std::vector<std::string_view> fields = hx_split(line, "|", 3);
    const std::string_view name = hx_trim(fields[0]);
    const bool enabled = fields.size() < 2 || fields[1].find("启") != std::string_view::npos;
    std::lock_guard lock(g_plCs);
    for (int i = 0; i < g_pluginCount; ++i) {
      if (hx_icmp(g_plugins[i]->name, name) != 0) continue;
      g_plugins[i]->state = enabled ? HX_PL_ENABLED : HX_PL_DISABLED;
      bool listed = false;
      for (int k = 0; k < n; ++k) listed = listed || order[k] == i;
      if (!listed && n < HX_MAX_PLUGINS) order[n++] = i;
      break;
    }
  }
  if (n) hx_pl_apply_order(order, n);
}

int hx_pl_reload() {
  std::lock_guard op(g_plOpMu);
  plugin_sync();
  load_dir();
  hx_pl_load_priority();
  std::lock_guard lock(g_plCs);
  return g_pluginCount;
}

void hx_pl_init(int lanes) {
  hx_pl_start_lanes(lanes);
  const int count = hx_pl_reload();
  const int running = hx_pl_lanes_running();
  hx_logf(
      HX_LOG_PLUGIN, kHost, kInfoTag,
      "共载入 %d 个插件，分发 worker %d 条（全局并发，round-robin 入队，单 worker 积压上限 %d；★ 同号不再保证 FIFO）",
      count, running, HX_PL_LANE_QUEUE_MAX);
  if (running >= 2 && count >= 1) {
    hx_log(HX_LOG_PLUGIN, kHost, kInfoTag,
           "提醒：worker 全局并发（round-robin），同号消息不再保证到达顺序 —— "
           "卡死的插件不会拖死同号后续消息，但插件不能用「上一条消息上下文」做连贯推理");
  }
  std::vector<HxPlugin*> starting;
  {
    std::lock_guard lock(g_plCs);
    for (int i = 0; i < g_pluginCount; ++i) {
      HxPlugin* p = g_plugins[i];
      if (p->state == HX_PL_LOADED) p->state = HX_PL_ENABLED;
      if (p->state == HX_PL_ENABLED && p->entryStart) starting.push_back(p);
    }
  }
  for (HxPlugin* p : starting) {
    HxCurrentPlugin scope(p);
    reinterpret_cast<HxEntry>(p->entryStart)();
  }
  hx_pl_save_priority();
}

void hx_pl_release_slot(HxPlugin* p) {
  if (p->cbSlot >= 0 && hx_pl_call_lock_idle(p->cbSlot)) g_cbSlotUsed[p->cbSlot] = false;
  p->cbSlot = -1;
}

void hx_pl_cut_off(HxPlugin* p) {
  for (void*& c : p->cb) c = nullptr;
  p->entryStart = p->entryEnd = p->entryUnload = p->entryPanel = nullptr;
  p->state = HX_PL_LOADED;
}

void hx_pl_shutdown() {
  std::lock_guard op(g_plOpMu);
  std::vector<HxPlugin*> all;
  {
    std::lock_guard lock(g_plCs);
    all.assign(g_plugins, g_plugins + g_pluginCount);
  }
  if (!hx_pl_stop_pool()) {
    hx_log(HX_LOG_ERROR, kHost, kErrTag, "退出：分发线程未收工，已跳过全部插件卸载（回调入口已断开）");
    std::lock_guard lock(g_plCs);
    for (HxPlugin* p : all) hx_pl_cut_off(p);
    g_pluginCount = 0;  // the records stay (a stuck lane may hold one); the table is empty
    return;
  }
  for (HxPlugin* p : all) {
    if (!hx_pl_panel_join(p, 2000)) {
      {
        std::lock_guard lock(g_plCs);
        hx_pl_cut_off(p);
      }
      hx_log(HX_LOG_ERROR, p->name.c_str(), kErrTag, "退出时面板线程未收工，已断开全部回调入口；该 DLL 不卸载以免崩溃");
      continue;
    }
    if (p->module.load() && !p->resident) {
      {
        HxCurrentPlugin scope(p);
        if (p->cb[HX_CB_UNLOAD]) reinterpret_cast<Notice>(p->cb[HX_CB_UNLOAD])("");
        if (p->entryEnd) reinterpret_cast<HxEntry>(p->entryEnd)();
        if (p->entryUnload) reinterpret_cast<HxEntry>(p->entryUnload)();
      }
      // Never under the table lock: the library's own teardown may run long.
      sys_dl_close(p->module.exchange(0));
    }
    p->info.plugin_name = nullptr;
    p->nameCopy.clear();
    p->state = HX_PL_LOADED;
  }
  std::lock_guard lock(g_plCs);
  for (HxPlugin* p : all) hx_pl_release_slot(p);
  for (int i = 0; i < g_pluginCount; ++i) g_plugins[i] = nullptr;
  g_pluginCount = 0;
}
