/* An example bot: it answers a few commands in groups and in private chats
 * through the host's messaging, query and administration API.
 *
 *   /help              the commands (also in private)
 *   /card              the sender's group card            (取群成员名片)
 *   /groups            how many groups the account is in  (取群列表)
 *   /mute QQ SECONDS   mutes a member, for the group's owner and admins only
 *                      (取群成员信息 for the sender's role, then 禁言群成员)
 *
 * Built from the SDK header alone, like any plugin. All texts are GBK. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tolvex_sdk.h"

#ifdef _WIN32
#define BOT_EXPORT
#define BOT_AS(name)
#else
#define BOT_EXPORT __attribute__((visibility("default")))
#define BOT_AS(name) __asm__(name)
#endif

typedef int32_t(HX_STDCALL* OutputLog)(uint32_t, const char*, uint32_t, uint32_t);
typedef int32_t(HX_STDCALL* SetHandler)(void*);
typedef const char*(HX_STDCALL* Send)(uint32_t, int64_t bot, int64_t to, const char* msg, int32_t raw);
typedef const char*(HX_STDCALL* MemberCard)(uint32_t, int64_t bot, int64_t group, int64_t user);
typedef int32_t(HX_STDCALL* GroupList)(uint32_t, int64_t bot, void** out);
typedef int32_t(HX_STDCALL* MemberInfo)(uint32_t, int64_t bot, int64_t group, int64_t user, void** out);
typedef int32_t(HX_STDCALL* Ban)(uint32_t, int64_t bot, int64_t group, int64_t user, int32_t seconds);

/* GBK names of the API functions and the texts of the replies. */
/* 输出日志 */
static const char kOutputLog[] = "\xCA\xE4\xB3\xF6\xC8\xD5\xD6\xBE";
/* 置群消息处理函数 */
static const char kSetGroup[] = "\xD6\xC3\xC8\xBA\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD";
/* 置私聊消息处理函数 */
static const char kSetPrivate[] = "\xD6\xC3\xCB\xBD\xC1\xC4\xCF\xFB\xCF\xA2\xB4\xA6\xC0\xED\xBA\xAF\xCA\xFD";
/* 发送群消息 */
static const char kSendGroup[] = "\xB7\xA2\xCB\xCD\xC8\xBA\xCF\xFB\xCF\xA2";
/* 发送好友消息 */
static const char kSendFriend[] = "\xB7\xA2\xCB\xCD\xBA\xC3\xD3\xD1\xCF\xFB\xCF\xA2";
/* 取群成员名片 */
static const char kMemberCard[] = "\xC8\xA1\xC8\xBA\xB3\xC9\xD4\xB1\xC3\xFB\xC6\xAC";
/* 取群列表 */
static const char kGroupList[] = "\xC8\xA1\xC8\xBA\xC1\xD0\xB1\xED";
/* 取群成员信息 */
static const char kMemberInfo[] = "\xC8\xA1\xC8\xBA\xB3\xC9\xD4\xB1\xD0\xC5\xCF\xA2";
/* 禁言群成员 */
static const char kBan[] = "\xBD\xFB\xD1\xD4\xC8\xBA\xB3\xC9\xD4\xB1";
/* 可用命令：/card 看你的群名片，/groups 看本号在几个群，/mute QQ 秒数 禁言（管理员） */
static const char kTextHelp[] =
    "\xBF\xC9\xD3\xC3\xC3\xFC\xC1\xEE\xA3\xBA/card \xBF\xB4\xC4\xE3\xB5\xC4\xC8\xBA\xC3\xFB\xC6\xAC\xA3\xAC/groups "
    "\xBF\xB4\xB1\xBE\xBA\xC5\xD4\xDA\xBC\xB8\xB8\xF6\xC8\xBA\xA3\xAC/mute QQ \xC3\xEB\xCA\xFD "
    "\xBD\xFB\xD1\xD4\xA3\xA8\xB9\xDC\xC0\xED\xD4\xB1\xA3\xA9";
/* 你的群名片是：%s */
static const char kTextCard[] = "\xC4\xE3\xB5\xC4\xC8\xBA\xC3\xFB\xC6\xAC\xCA\xC7\xA3\xBA%s";
/* 你还没有设置群名片 */
static const char kTextNoCard[] = "\xC4\xE3\xBB\xB9\xC3\xBB\xD3\xD0\xC9\xE8\xD6\xC3\xC8\xBA\xC3\xFB\xC6\xAC";
/* 本号在 %d 个群里 */
static const char kTextGroups[] = "\xB1\xBE\xBA\xC5\xD4\xDA %d \xB8\xF6\xC8\xBA\xC0\xEF";
/* 已禁言 %lld，%d 秒 */
static const char kTextMuted[] = "\xD2\xD1\xBD\xFB\xD1\xD4 %lld\xA3\xAC%d \xC3\xEB";
/* 禁言 %lld 没有成功 */
static const char kTextMuteFailed[] = "\xBD\xFB\xD1\xD4 %lld \xC3\xBB\xD3\xD0\xB3\xC9\xB9\xA6";
/* 只有群主和管理员可以禁言 */
static const char kTextNotAdmin[] =
    "\xD6\xBB\xD3\xD0\xC8\xBA\xD6\xF7\xBA\xCD\xB9\xDC\xC0\xED\xD4\xB1\xBF\xC9\xD2\xD4\xBD\xFB\xD1\xD4";
/* 用法：/mute QQ 秒数 */
static const char kTextUsage[] = "\xD3\xC3\xB7\xA8\xA3\xBA/mute QQ \xC3\xEB\xCA\xFD";
static const char kLogAnswered[] =
    "\xD2\xD1\xBB\xD8\xB4\xF0 %s\xA3\xBA%s\xA3\xA8\xB7\xA2\xCB\xCD\xBD\xE1\xB9\xFB %s\xA3\xA9"; /* 已回答
                                                                                                   %s：%s（发送结果 %s）
                                                                                                 */
static const char kAbout[] =
    "{\"author\":\"\xCA\xBE\xC0\xFD\",\"appv\":\"1.0\",\"describe\":\"\xCA\xBE\xC0\xFD\xBB\xFA\xC6\xF7\xC8\xCB\xA3\xBA/"
    "card /groups /mute /help\"}";

static OutputLog g_log;
static Send g_sendGroup, g_sendFriend;
static MemberCard g_card;
static GroupList g_groups;
static MemberInfo g_member;
static Ban g_ban;

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

static int starts_with(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

/* Record arrays are ours: the host never frees them. This plugin uses the
 * same C runtime as the host, so it gives them back with free(). */
static void free_members(void* image) {
  uint32_t i;
  for (i = 0; i < HX_ARRAY_COUNT(image); ++i) {
    HxMemberInfo* m = HX_ARRAY_AT(image, HxMemberInfo, i);
    free((void*)m->nickname);
    free((void*)m->card);
    free((void*)m->sex);
    free((void*)m->area);
    free((void*)m->role);
    free((void*)m->title);
    free(m);
  }
  free(image);
}

static void free_groups(void* image) {
  uint32_t i;
  for (i = 0; i < HX_ARRAY_COUNT(image); ++i) {
    HxGroupInfo* g = HX_ARRAY_AT(image, HxGroupInfo, i);
    free((void*)g->group_name);
    free(g);
  }
  free(image);
}

/* Whether the user is the group's owner or an admin. */
static int is_admin(int64_t bot, int64_t group, int64_t user) {
  void* image = NULL;
  int admin = 0;
  if (!g_member || g_member(0, bot, group, user, &image) < 1) return 0;
  admin = strcmp(HX_ARRAY_AT(image, HxMemberInfo, 0)->role, "owner") == 0 ||
          strcmp(HX_ARRAY_AT(image, HxMemberInfo, 0)->role, "admin") == 0;
  free_members(image);
  return admin;
}

static void told(const char* command, const char* reply, const char* result) {
  char line[768];
  if (!g_log) return;
  snprintf(line, sizeof line, kLogAnswered, command, reply, result ? result : "");
  g_log(0, line, 0, 0);
}

/* The answer to a group command, written into `reply`; 0 for no command. */
static int group_command(const HxGroupMsg* m, char* reply, size_t size) {
  const char* text = m->message ? m->message : "";
  if (strcmp(text, "/help") == 0) {
    snprintf(reply, size, "%s", kTextHelp);
  } else if (strcmp(text, "/card") == 0 && g_card) {
    const char* card = g_card(0, m->bot_qq, m->group_id, m->sender_qq);
    if (card && *card) {
      snprintf(reply, size, kTextCard, card);
    } else {
      snprintf(reply, size, "%s", kTextNoCard);
    }
  } else if (strcmp(text, "/groups") == 0 && g_groups) {
    void* image = NULL;
    int32_t n = g_groups(0, m->bot_qq, &image);
    if (image) free_groups(image);
    snprintf(reply, size, kTextGroups, (int)n);
  } else if (starts_with(text, "/mute") && g_ban) {
    long long who = 0;
    int seconds = 0;
    if (sscanf(text, "/mute %lld %d", &who, &seconds) != 2 || who <= 0 || seconds < 0) {
      snprintf(reply, size, "%s", kTextUsage);
    } else if (!is_admin(m->bot_qq, m->group_id, m->sender_qq)) {
      snprintf(reply, size, "%s", kTextNotAdmin);
    } else if (g_ban(0, m->bot_qq, m->group_id, (int64_t)who, seconds) == 1) {
      snprintf(reply, size, kTextMuted, who, seconds);
    } else {
      snprintf(reply, size, kTextMuteFailed, who);
    }
  } else {
    return 0;
  }
  return 1;
}

static int32_t HX_STDCALL on_group(const HxGroupMsg* m) {
  char reply[512];
  if (!m || !g_sendGroup || !group_command(m, reply, sizeof reply)) return 0;
  told(m->message, reply, g_sendGroup(0, m->bot_qq, m->group_id, reply, 0));
  return 1; /* answered: later plugins need not see it */
}

static int32_t HX_STDCALL on_private(const HxPrivateMsg* m) {
  if (!m || !g_sendFriend || !m->message || strcmp(m->message, "/help") != 0) return 0;
  told(m->message, kTextHelp, g_sendFriend(0, m->bot_qq, m->peer_qq, kTextHelp, 0));
  return 1;
}

BOT_EXPORT const char* HX_STDCALL bot_init(const char* apidata, const char* key) BOT_AS(HX_EXPORT_INIT_NT);
BOT_EXPORT const char* HX_STDCALL bot_init(const char* apidata, const char* key) {
  SetHandler set_group = (SetHandler)api_address(apidata, kSetGroup);
  SetHandler set_private = (SetHandler)api_address(apidata, kSetPrivate);
  (void)key;
  g_log = (OutputLog)api_address(apidata, kOutputLog);
  g_sendGroup = (Send)api_address(apidata, kSendGroup);
  g_sendFriend = (Send)api_address(apidata, kSendFriend);
  g_card = (MemberCard)api_address(apidata, kMemberCard);
  g_groups = (GroupList)api_address(apidata, kGroupList);
  g_member = (MemberInfo)api_address(apidata, kMemberInfo);
  g_ban = (Ban)api_address(apidata, kBan);
  if (set_group) set_group((void*)on_group);
  if (set_private) set_private((void*)on_private);
  return kAbout;
}
