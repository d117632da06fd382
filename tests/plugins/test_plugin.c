/* A test plugin as users' plugins are built: GBK texts, stdcall entry
 * points, Chinese export names as GBK bytes. One source, several variants
 * (see CMakeLists.txt); each build carries its own identity so that distinct
 * variants never have identical bytes. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
/* kernel32's, declared here: plugins need no system header for one call. */
__declspec(dllimport) void __stdcall Sleep(unsigned long ms);
#else
#include <time.h>
#endif

#include "test_plugin_state.h"
#include "tolvex_sdk.h"

#ifndef TP_ID
#define TP_ID "default"
#endif

#ifdef _WIN32
#define TP_EXPORT
#define TP_AS(name)
#else
#define TP_EXPORT __attribute__((visibility("default")))
#define TP_AS(name) __asm__(name)
#endif

/* Not every variant uses every handler. */
#define TP_UNUSED __attribute__((unused))

static const char tp_identity[] = "tolvex test plugin " TP_ID;
static TestPluginState g_state;

static void keep(char* dst, size_t size, const char* src) {
  size_t n = src ? strlen(src) : 0;
  if (n >= size) n = size - 1;
  if (n) memcpy(dst, src, n);
  dst[n] = '\0';
}

TP_EXPORT TestPluginState* tp_state(void) {
  g_state.identity = tp_identity;
  return &g_state;
}

TP_UNUSED static void sleep_ms(int ms) {
#ifdef _WIN32
  Sleep((unsigned long)ms);
#else
  struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
#endif
}

/* Busy for about `us` microseconds without giving the processor away. */
TP_UNUSED static void spin(int us) {
  volatile unsigned long n = 0;
  unsigned long i, steps = (unsigned long)us * 100UL;
  for (i = 0; i < steps; ++i) n += i;
}

TP_UNUSED static int32_t HX_STDCALL on_group(const HxGroupMsg* m) {
  if (__atomic_add_fetch(&g_state.inside, 1, __ATOMIC_SEQ_CST) > 1)
    __atomic_add_fetch(&g_state.overlaps, 1, __ATOMIC_SEQ_CST);
  while (g_state.hold) sleep_ms(1);
  if (g_state.spin_us) spin(g_state.spin_us);
  __atomic_sub_fetch(&g_state.inside, 1, __ATOMIC_SEQ_CST);
  __atomic_add_fetch(&g_state.group_calls, 1, __ATOMIC_SEQ_CST);
  keep(g_state.last_text, sizeof g_state.last_text, m ? m->message : "");
  g_state.last_bot = m ? m->bot_qq : 0;
  return g_state.group_result;
}
TP_UNUSED static int32_t HX_STDCALL on_private(const HxPrivateMsg* m) {
  ++g_state.private_calls;
  keep(g_state.last_text, sizeof g_state.last_text, m ? m->message : "");
  return 0;
}
TP_UNUSED static int32_t HX_STDCALL on_event(const HxEventMsg* m) {
  ++g_state.event_calls;
  keep(g_state.last_text, sizeof g_state.last_text, m ? m->content : "");
  g_state.last_bot = m ? m->bot_qq : 0;
  g_state.last_event_type = m ? m->event_type : 0;
  return 0;
}
TP_UNUSED static int32_t HX_STDCALL on_enabled(const char* qq) {
  ++g_state.enabled_calls;
  keep(g_state.last_qq, sizeof g_state.last_qq, qq);
  return 0;
}
TP_UNUSED static int32_t HX_STDCALL on_disabled(const char* qq) {
  ++g_state.disabled_calls;
  keep(g_state.last_qq, sizeof g_state.last_qq, qq);
  return 0;
}

TP_EXPORT int32_t HX_STDCALL tp_start(void) TP_AS("_AppStartNT");
TP_EXPORT int32_t HX_STDCALL tp_start(void) {
  ++g_state.start_calls;
  return 0;
}
TP_EXPORT int32_t HX_STDCALL tp_end(void) TP_AS("_AppEndNT");
TP_EXPORT int32_t HX_STDCALL tp_end(void) {
  ++g_state.end_calls;
  return 0;
}

#ifdef TP_LIFECYCLE
TP_EXPORT int32_t HX_STDCALL tp_unload(void) TP_AS("_AppUnloadNT");
TP_EXPORT int32_t HX_STDCALL tp_unload(void) {
  ++g_state.unload_calls;
  return 0;
}
TP_EXPORT int32_t HX_STDCALL tp_panel(void* unused) TP_AS("_ControlPanelNT");
TP_EXPORT int32_t HX_STDCALL tp_panel(void* unused) {
  (void)unused;
  ++g_state.panel_calls;
  return 0;
}
static char g_hooked[64];
/* Replaces texts that begin with "swap"; leaves the others alone. */
static const char* HX_STDCALL on_send(const HxSendHookArgs* a) {
  ++g_state.hook_calls;
  keep(g_state.hook_api, sizeof g_state.hook_api, a->api_name);
  keep(g_state.hook_app, sizeof g_state.hook_app, a->plugin_name);
  if (strncmp(a->text, "swap", 4) != 0) return NULL;
  snprintf(g_hooked, sizeof g_hooked, "swapped by %s", TP_ID);
  return g_hooked;
}
#endif

#ifdef TP_QUERY
typedef int32_t(HX_STDCALL* ListFn)(uint32_t w, int64_t bot, int64_t group, void** out);
typedef int32_t(HX_STDCALL* GroupsFn)(uint32_t w, int64_t bot, void** out);
static ListFn g_memberList;
static GroupsFn g_groupList;

/* Frees an array image of members (or groups) with the host's C runtime,
 * which this plugin shares: texts, records, the image. */
static void free_records(void* image, int member) {
  uint32_t i;
  if (!image) return;
  for (i = 0; i < HX_ARRAY_COUNT(image); ++i) {
    if (member) {
      HxMemberInfo* m = HX_ARRAY_AT(image, HxMemberInfo, i);
      free((void*)m->nickname);
      free((void*)m->card);
      free((void*)m->sex);
      free((void*)m->area);
      free((void*)m->role);
      free((void*)m->title);
      free(m);
    } else {
      HxGroupInfo* g = HX_ARRAY_AT(image, HxGroupInfo, i);
      free((void*)g->group_name);
      free(g);
    }
  }
  free(image);
}

/* Calls 取群成员列表 and 取群列表 as a plugin would and copies the first
 * record of each, field by field, into the state. */
TP_EXPORT void tp_walk(int64_t bot, int64_t group) {
  void* image = NULL;
  g_state.members = g_memberList ? g_memberList(0, bot, group, &image) : -1;
  if (g_state.members > 0) {
    const HxMemberInfo* m = HX_ARRAY_AT(image, HxMemberInfo, 0);
    g_state.m_group = m->group_id;
    g_state.m_user = m->user_id;
    g_state.m_join = m->join_time;
    g_state.m_last = m->last_sent_time;
    g_state.m_muted = m->shut_up_timestamp;
    g_state.m_age = m->age;
    g_state.m_level = m->level;
    keep(g_state.m_nick, sizeof g_state.m_nick, m->nickname);
    keep(g_state.m_card, sizeof g_state.m_card, m->card);
    keep(g_state.m_sex, sizeof g_state.m_sex, m->sex);
    keep(g_state.m_area, sizeof g_state.m_area, m->area);
    keep(g_state.m_role, sizeof g_state.m_role, m->role);
    keep(g_state.m_title, sizeof g_state.m_title, m->title);
  }
  free_records(image, 1);
  image = NULL;
  g_state.groups = g_groupList ? g_groupList(0, bot, &image) : -1;
  if (g_state.groups > 0) {
    const HxGroupInfo* g = HX_ARRAY_AT(image, HxGroupInfo, 0);
    g_state.g_id = g->group_id;
    g_state.g_members = g->member_count;
    g_state.g_max = g->max_member_count;
    keep(g_state.g_name, sizeof g_state.g_name, g->group_name);
  }
  free_records(image, 0);
}
#endif

#ifdef TP_GROUP_EXPORT
TP_EXPORT int32_t HX_STDCALL tp_on_group_export(const HxGroupMsg* m) TP_AS("_OnGroupNT");
TP_EXPORT int32_t HX_STDCALL tp_on_group_export(const HxGroupMsg* m) {
  (void)m;
  ++g_state.group_export_calls;
  return 0;
}
#endif

#ifdef TP_GETTERS
TP_EXPORT void* HX_STDCALL tp_get_group(void) TP_AS("groupmsaddresNT");
TP_EXPORT void* HX_STDCALL tp_get_group(void) { return (void*)on_group; }
TP_EXPORT void* HX_STDCALL tp_get_event(void) TP_AS("eventmsaddresNT");
TP_EXPORT void* HX_STDCALL tp_get_event(void) { return (void*)on_event; }
#endif

#ifdef TP_INIT_NT
#ifdef TP_LIFECYCLE
#define SEND_HOOK on_send
#else
#define SEND_HOOK 0
#endif
TP_UNUSED static char g_json[1024];

TP_UNUSED static int32_t HX_STDCALL on_group_registered(const HxGroupMsg* m) {
  (void)m;
  ++g_state.group_reg_calls;
  return 0;
}

/* The address of a GBK-named API in the apidata JSON, or null. */
TP_UNUSED static void* apidata_find(const char* apidata, const char* gbk_name) {
  char pattern[96];
  const char* at;
  unsigned long long v = 0;
  snprintf(pattern, sizeof pattern, "\"%s\":", gbk_name);
  at = apidata ? strstr(apidata, pattern) : NULL;
  if (!at || sscanf(at + strlen(pattern), "%llu", &v) != 1) return NULL;
  return (void*)(uintptr_t)v;
}

TP_EXPORT const char* HX_STDCALL tp_init_nt(const char* apidata, const char* key) TP_AS(HX_EXPORT_INIT_NT);
TP_EXPORT const char* HX_STDCALL tp_init_nt(const char* apidata, const char* key) {
  const char* colon;
  ++g_state.init_calls;
  g_state.init_form = 2;
  keep(g_state.apidata_head, sizeof g_state.apidata_head, apidata);
  keep(g_state.key, sizeof g_state.key, key);
#ifdef TP_QUERY
  g_memberList = (ListFn)apidata_find(apidata, "\xC8\xA1\xC8\xBA\xB3\xC9\xD4\xB1\xC1\xD0\xB1\xED"); /* 取群成员列表 */
  g_groupList = (GroupsFn)apidata_find(apidata, "\xC8\xA1\xC8\xBA\xC1\xD0\xB1\xED");                /* 取群列表 */
#endif
  colon = apidata ? strchr(apidata, ':') : NULL;
  if (colon) {
    unsigned long long v = 0;
    sscanf(colon + 1, "%llu", &v);
    g_state.apidata_first_addr = (uintptr_t)v;
  }
#ifdef TP_REGISTER
  {
    /* 置群消息处理函数 */
    int32_t(HX_STDCALL * set_group)(void*) = (int32_t(HX_STDCALL*)(void*))apidata_find(
        apidata, "\xD6\xC3\xC8\xBA\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD");
    if (set_group && set_group((void*)on_group_registered) == 1) ++g_state.registered;
  }
#endif
#if defined(TP_NULL)
  return NULL;
#elif defined(TP_BADPTR)
  return (const char*)16;
#else
  /* author 测试作者, describe 说明, in GBK */
  snprintf(g_json, sizeof g_json,
           "{\"author\":\"\xB2\xE2\xCA\xD4\xD7\xF7\xD5\xDF\",\"appv\":\"1.2.3\",\"describe\":\"\xCB\xB5\xC3\xF7\","
           "\"groupmsaddresNT\":%llu,\"friendmsaddresNT\":%llu,\"eventmsaddresNT\":%llu,\"PmDealFuncNT\":%llu}",
           (unsigned long long)(uintptr_t)on_group, (unsigned long long)(uintptr_t)on_private,
           (unsigned long long)(uintptr_t)on_event, (unsigned long long)(uintptr_t)SEND_HOOK);
  return g_json;
#endif
}
#endif

#ifdef TP_INIT_INFO
/* Finds an API by its GBK name in the arrays the info block carries. */
TP_UNUSED static void* api_by_name(const HxInitInfo* info, const char* gbk_name) {
  const HxEplArray* names = info->api_names;
  const HxEplArray* addrs = info->applications;
  const char* const* name_el;
  void* const* addr_el;
  uint32_t i;
  if (!names || !addrs) return NULL;
  name_el = (const char* const*)(names + 1);
  addr_el = (void* const*)(addrs + 1);
  for (i = 0; i < names->count; ++i) {
    if (name_el[i] && strcmp(name_el[i], gbk_name) == 0) return addr_el[i];
  }
  return NULL;
}

typedef int32_t(HX_STDCALL* SetFn)(void*);
typedef int32_t(HX_STDCALL* SetText)(const char*);

TP_EXPORT void HX_STDCALL tp_init_info(HxInitInfo* info) TP_AS(HX_EXPORT_INIT);
TP_EXPORT void HX_STDCALL tp_init_info(HxInitInfo* info) {
  int i;
  ++g_state.init_calls;
  g_state.init_form = 1;
  for (i = 0; i < 26; ++i) g_state.info_words[i] = ((uintptr_t*)info)[i];
#ifdef TP_REGISTER
  {
    /* 置群消息处理函数, 置私聊消息处理函数, 置事件消息处理函数, 置插件被启用处理函数, 置插件被禁用处理函数, 置应用作者
     */
    SetFn set_group = (SetFn)api_by_name(info, "\xD6\xC3\xC8\xBA\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD");
    SetFn set_private =
        (SetFn)api_by_name(info, "\xD6\xC3\xCB\xBD\xC1\xC4\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD");
    SetFn set_event =
        (SetFn)api_by_name(info, "\xD6\xC3\xCA\xC2\xBC\xFE\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD");
    SetFn set_enabled =
        (SetFn)api_by_name(info, "\xD6\xC3\xB2\xE5\xBC\xFE\xB1\xBB\xC6\xF4\xD3\xC3\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD");
    SetFn set_disabled =
        (SetFn)api_by_name(info, "\xD6\xC3\xB2\xE5\xBC\xFE\xB1\xBB\xBD\xFB\xD3\xC3\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD");
    SetText set_author = (SetText)api_by_name(info, "\xD6\xC3\xD3\xA6\xD3\xC3\xD7\xF7\xD5\xDF");
    if (set_group && set_group((void*)on_group) == 1) ++g_state.registered;
    if (set_private && set_private((void*)on_private) == 1) ++g_state.registered;
    if (set_event && set_event((void*)on_event) == 1) ++g_state.registered;
    if (set_enabled && set_enabled((void*)on_enabled) == 1) ++g_state.registered;
    if (set_disabled && set_disabled((void*)on_disabled) == 1) ++g_state.registered;
    if (set_author && set_author("\xD7\xA2\xB2\xE1\xD5\xDF") == 1) ++g_state.registered; /* 注册者 */
  }
#endif
#ifdef TP_DECLARE_OTHER
  {
    SetText set_name = (SetText)api_by_name(info, "\xD6\xC3\xD3\xA6\xD3\xC3\xC3\xFB"); /* 置应用名 */
    if (set_name) set_name("someone_else");
  }
#endif
}
#endif
