// What a plugin tells the host about itself: metadata, callbacks and
// permissions, plus its log output, file name and data directory. Everything
// acts on the plugin current on the calling thread.
#include <cstring>

#include "api/api.h"
#include "api/api_conv.h"
#include "foundation/log.h"
#include "plugin/plugin.h"

namespace {

constexpr const char* kTag = "插件(↓)";
constexpr std::size_t kPathBuf = 262;

// Empties the field, fills it with the UTF-8 form of `text` and points the
// info block's word at it.
template <std::size_t N>
hx_i32 set_field(char (HxPlugin::*field)[N], const char* HxInitInfo::*word, hx_text text) {
  return api_guard(1, [&] {
    HxPlugin* p = hx_pl_current();
    if (!p) return 1;
    char* buf = p->*field;
    buf[0] = '\0';
    if (text) {
      if (std::optional<std::string> u8 = hx_auto_to_utf8(text)) hx_copy_field(buf, N, *u8);
    }
    p->info.*word = buf;
    return 1;
  });
}

hx_i32 set_slot(int slot, void* fn) {
  if (HxPlugin* p = hx_pl_current()) p->info.reg[slot] = fn;
  return 1;
}

// The permission bit an API name stands for (the name itself, behind
// "权限_", or either behind one "#"), or -1.
int permission_index(std::string_view name) {
  for (int i = 0; i < HX_API_PERMISSIONS; ++i) {
    if (name == g_apiTable[i].name) return i;
  }
  constexpr std::string_view kPrefix = "权限_";
  auto prefixed = [&](std::string_view s, std::string_view api) {
    return s.size() == kPrefix.size() + api.size() && s.substr(0, kPrefix.size()) == kPrefix &&
           s.substr(kPrefix.size()) == api;
  };
  const std::string_view bare = !name.empty() && name[0] == '#' ? name.substr(1) : name;
  for (int i = 0; i < HX_API_PERMISSIONS; ++i) {
    const std::string_view api = g_apiTable[i].name;
    if (prefixed(name, api) || bare == api || prefixed(bare, api)) return i;
  }
  return -1;
}

// Marks the permission for the current plugin; true when a bit was set.
// GBK names are converted first, so that both encodings find their API.
bool mark_permission(HxPlugin* p, const char* name) {
  const std::string u8 = hx_auto_to_utf8(name ? name : "").value_or(std::string());
  const int i = permission_index(u8);
  if (i < 0) return false;
  p->perm[i / 32] |= 1u << (i % 32);
  return true;
}

const char* plugin_path_text(const std::string& path, bool dir) {
  thread_local char file_buf[kPathBuf], dir_buf[kPathBuf];
  std::string text = utf8_to_gbk_safe(path.c_str()).value_or(path);
  if (dir) text += HX_SEP;
  char* buf = dir ? dir_buf : file_buf;
  hx_copy_field_gbk(buf, kPathBuf, text);
  return buf;
}

}  // namespace

hx_i32 HX_STDCALL api_set_app_name(hx_text name) { return set_field(&HxPlugin::nameBuf, &HxInitInfo::name_buf, name); }
hx_i32 HX_STDCALL api_set_app_author(hx_text author) {
  return set_field(&HxPlugin::author, &HxInitInfo::author, author);
}
hx_i32 HX_STDCALL api_set_app_version(hx_text version) {
  return set_field(&HxPlugin::version, &HxInitInfo::version, version);
}
hx_i32 HX_STDCALL api_set_app_describe(hx_text describe) {
  return set_field(&HxPlugin::describe, &HxInitInfo::describe, describe);
}

hx_i32 HX_STDCALL api_set_on_enabled(void* fn) { return set_slot(HX_CB_ENABLED, fn); }
hx_i32 HX_STDCALL api_set_on_disabled(void* fn) { return set_slot(HX_CB_DISABLED, fn); }
hx_i32 HX_STDCALL api_set_on_unload(void* fn) { return set_slot(HX_CB_UNLOAD, fn); }
hx_i32 HX_STDCALL api_set_on_panel(void* fn) { return set_slot(HX_CB_PANEL, fn); }
hx_i32 HX_STDCALL api_set_on_private(void* fn) { return set_slot(HX_CB_PRIVATE, fn); }
hx_i32 HX_STDCALL api_set_on_group(void* fn) { return set_slot(HX_CB_GROUP, fn); }
hx_i32 HX_STDCALL api_set_on_event(void* fn) { return set_slot(HX_CB_EVENT, fn); }
hx_i32 HX_STDCALL api_set_send_hook(void* fn) { return set_slot(HX_CB_SEND_HOOK, fn); }

hx_i32 HX_STDCALL api_apply_perm(hx_text name, hx_word) {
  return api_guard(1, [&] {
    HxPlugin* p = hx_pl_current();
    if (!p) return 1;
    const bool granted = mark_permission(p, name);
    const std::string shown = hx_auto_to_utf8(name ? name : "").value_or(std::string());
    hx_logf(HX_LOG_PLUGIN, p->name.c_str(), kTag, "申请权限：%s（%s）", shown.c_str(),
            granted ? "已授予" : "未知名，按自动同意处理");
    return 1;
  });
}

hx_i32 HX_STDCALL api_apply_perm_all(hx_word) {
  HxPlugin* p = hx_pl_current();
  if (!p) return 0;
  for (std::uint32_t& w : p->perm) w = 0xFFFFFFFFu;
  hx_logf(HX_LOG_PLUGIN, p->name.c_str(), kTag, "申请所有权限");
  return 1;
}

hx_i32 HX_STDCALL api_apply_perm_multi(const char* const* names, hx_word) {
  if (!names || !names[0]) return 1;
  return api_guard(1, [&] {
    HxPlugin* p = hx_pl_current();
    int granted = 0;
    for (; *names; ++names) {
      if (p && mark_permission(p, *names)) ++granted;
    }
    return granted ? granted : 1;
  });
}

hx_i32 HX_STDCALL api_output_log(hx_word, hx_text message, hx_word, hx_word) {
  return api_guard(0, [&] {
    const std::string text = message ? hx_auto_to_utf8(message).value_or(std::string()) : std::string();
    hx_log(HX_LOG_PLUGIN, api_source(), kTag, text.c_str());
    return 0;
  });
}

hx_i32 HX_STDCALL api_reload_self(hx_word, hx_word) {
  hx_log(HX_LOG_PLUGIN, api_source(), kTag, "插件请求重载自身（需重启框架生效）");
  return 0;
}

hx_text HX_STDCALL api_get_plugin_file() {
  return api_guard("", [] {
    const HxPlugin* p = hx_pl_current();
    return p ? plugin_path_text(p->path, false) : "";
  });
}

hx_text HX_STDCALL api_get_plugin_datadir() {
  return api_guard("", [] {
    const HxPlugin* p = hx_pl_current();
    return p ? plugin_path_text(p->dataDir, true) : tmpstr("");
  });
}

hx_text HX_STDCALL api_get_frame_version() { return "8.0"; }
hx_text HX_STDCALL api_get_sdk_version() { return HX_SDK_VERSION; }
