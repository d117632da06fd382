/* A small plugin: it counts the group messages it is given and writes each
 * one to the host's log through the API function 输出日志, and it answers
 * "ping" with "pong", in the group (发送群消息) or in private (发送好友消息).
 *
 * It takes the two-argument initialisation: the host hands over the apidata
 * JSON (GBK API names mapped to addresses) and a key, and the plugin answers
 * with a JSON text describing itself. It registers its group handler through
 * 置群消息处理函数, as most plugins do. All texts are GBK. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tolvex_sdk.h"

#ifdef _WIN32
#define HELLO_EXPORT
#define HELLO_AS(name)
#else
#define HELLO_EXPORT __attribute__((visibility("default")))
#define HELLO_AS(name) __asm__(name)
#endif

typedef int32_t(HX_STDCALL* OutputLog)(uint32_t, const char*, uint32_t, uint32_t);
typedef int32_t(HX_STDCALL* SetHandler)(void*);
typedef const char*(HX_STDCALL* Send)(uint32_t, int64_t bot, int64_t to, const char* msg, int32_t raw);

static OutputLog g_log;
static Send g_sendGroup, g_sendFriend;
static volatile long g_count;

/* GBK names of the API functions used here. */
static const char kOutputLog[] = "\xCA\xE4\xB3\xF6\xC8\xD5\xD6\xBE"; /* 输出日志 */
static const char kSetGroup[] =
    "\xD6\xC3\xC8\xBA\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD"; /* 置群消息处理函数 */
static const char kSetPrivate[] =
    "\xD6\xC3\xCB\xBD\xC1\xC4\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD";       /* 置私聊消息处理函数 */
static const char kSendGroup[] = "\xB7\xA2\xCB\xCD\xC8\xBA\xCF\xFB\xCF\xA2";          /* 发送群消息 */
static const char kSendFriend[] = "\xB7\xA2\xCB\xCD\xBA\xC3\xD3\xD1\xCF\xFB\xCF\xA2"; /* 发送好友消息 */

/* The address of a named API in the apidata JSON: "name":number or "name":"number". */
static void* api_address(const char* apidata, const char* gbk_name) {
  char pattern[64];
  const char* at;
  unsigned long long v = 0;
  snprintf(pattern, sizeof pattern, "\"%s\":", gbk_name);
  at = apidata ? strstr(apidata, pattern) : NULL;
  if (!at) return NULL;
  at += strlen(pattern);
  if (*at == '"') ++at;
  if (sscanf(at, "%llu", &v) != 1) return NULL;
  return (void*)(uintptr_t)v;
}

/* Answers "ping" with "pong" and logs what the host said to the send. */
static int32_t answer_ping(Send send, int64_t bot, int64_t to, const char* text) {
  char line[128];
  const char* result;
  if (!send || !text || strcmp(text, "ping") != 0) return 0;
  result = send(0, bot, to, "pong", 0);
  if (g_log) {
    /* 收到 ping，已回复 pong（结果 %s） */
    snprintf(line, sizeof line,
             "\xCA\xD5\xB5\xBD ping\xA3\xAC\xD2\xD1\xBB\xD8\xB8\xB4 pong\xA3\xA8\xBD\xE1\xB9\xFB %s\xA3\xA9",
             result ? result : "");
    g_log(0, line, 0, 0);
  }
  return 1; /* answered: later plugins need not see it */
}

static int32_t HX_STDCALL on_private(const HxPrivateMsg* m) {
  return answer_ping(g_sendFriend, m->bot_qq, m->peer_qq, m->message);
}

static int32_t HX_STDCALL on_group(const HxGroupMsg* m) {
  char line[600];
  long n = __sync_add_and_fetch(&g_count, 1);
  if (g_log) {
    /* 第%ld条群消息（群%lld）：%s */
    snprintf(line, sizeof line, "\xB5\xDA%ld\xCC\xF5\xC8\xBA\xCF\xFB\xCF\xA2\xA3\xA8\xC8\xBA%lld\xA3\xA9\xA3\xBA%.480s",
             n, (long long)m->group_id, m->message ? m->message : "");
    g_log(0, line, 0, 0);
  }
  return answer_ping(g_sendGroup, m->bot_qq, m->group_id, m->message);
}

HELLO_EXPORT const char* HX_STDCALL hello_init(const char* apidata, const char* key) HELLO_AS(HX_EXPORT_INIT_NT);
HELLO_EXPORT const char* HX_STDCALL hello_init(const char* apidata, const char* key) {
  SetHandler set_group = (SetHandler)api_address(apidata, kSetGroup);
  SetHandler set_private = (SetHandler)api_address(apidata, kSetPrivate);
  (void)key;
  g_log = (OutputLog)api_address(apidata, kOutputLog);
  g_sendGroup = (Send)api_address(apidata, kSendGroup);
  g_sendFriend = (Send)api_address(apidata, kSendFriend);
  if (set_group) set_group((void*)on_group);
  if (set_private) set_private((void*)on_private);
  /* author 示例, describe 统计并记录群消息 */
  return "{\"author\":\"\xCA\xBE\xC0\xFD\",\"appv\":\"1.0\","
         "\"describe\":\"\xCD\xB3\xBC\xC6\xB2\xA2\xBC\xC7\xC2\xBC\xC8\xBA\xCF\xFB\xCF\xA2\xA3\xAC\xBB\xD8\xB4\xF0 "
         "ping\"}";
}

HELLO_EXPORT int32_t HX_STDCALL hello_start(void) HELLO_AS("_AppStartNT");
HELLO_EXPORT int32_t HX_STDCALL hello_start(void) {
  if (g_log) g_log(0, "hello plugin started", 0, 0);
  return 0;
}
