/* The Tolvex plugin SDK: everything a plugin author needs from the host.
 *
 * Plain C (C89 with <stdint.h>; C++ too). Plugins take and return GBK text
 * (valid UTF-8 is accepted as well) and use the stdcall convention on 32-bit
 * x86. The message records below are what the host hands to a plugin's
 * handlers, as a pointer that is the handler's only argument; their text
 * fields point to NUL-terminated GBK strings that stay valid for the duration
 * of the call only (copy what you keep). On 32-bit targets the layouts are
 * fixed to the byte; 64-bit builds keep the field order with native pointers.
 *
 * Exports. A plugin is a DLL (a shared object on Linux) exporting its entry
 * points by name, undecorated: on Windows list them in a .def file (the
 * Chinese names as GBK bytes, e.g. "初始化NT"=my_init), on Linux give the
 * function an assembler name (`__asm__("...")`). Only the initialisation is
 * required; the other names are listed below.
 *
 * Initialisation, once, on the thread that loads the plugin (start-up or the
 * user's import). "初始化NT"(apidata, key) receives the apidata JSON (GBK API
 * names mapped to their addresses as numbers) and a key, and returns a JSON
 * text about itself ("author", "appv", "describe", optionally handler
 * addresses); that text must stay valid after the call returns (a static
 * buffer). "初始化" / "HX_Init" receive the info block (HxInitInfo) instead.
 * The registration functions (置群消息处理函数 and the others) act only
 * while the plugin initialises. A plugin that declares another name (置应用名)
 * than its file name is refused: name the file after the plugin.
 *
 * Threads. Message and event handlers run on the host's dispatch lanes, one
 * call at a time per plugin (never two lanes at once in one plugin), and may
 * call every API function. The start, end and unload entries run on the
 * start-up or user-interface thread; the settings panel on a thread of its
 * own. A handler returns 1 to stop later plugins from seeing the message.
 *
 * Results. Texts the API returns live in per-thread result rings owned by
 * the host: valid until the same thread has made enough further calls to
 * wrap the ring (32 short results, 4 data results), never freed by the
 * plugin; copy what you keep. Record arrays (below) are the plugin's own.
 */
/* The layouts and tables below stay aligned by hand. */
/* clang-format off */
#ifndef TOLVEX_SDK_H
#define TOLVEX_SDK_H

#include <stddef.h>
#include <stdint.h>

/* The version of this SDK, as the host reports it ("取SDK版本" and the
 * initialisation info block). */
#define HX_SDK_VERSION "1.1.7"

#if defined(__i386__) || defined(_M_IX86)
#define HX_SDK_32BIT 1
#if defined(_MSC_VER) || defined(_WIN32)
#define HX_STDCALL __stdcall
#else
#define HX_STDCALL __attribute__((stdcall))
#endif
#else
#define HX_SDK_32BIT 0
#define HX_STDCALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if HX_SDK_32BIT
/* 32-bit x86 places int64 fields at 4-byte boundaries on every compiler. */
#pragma pack(push, 4)
#endif

/* A group message (60 bytes on 32-bit x86). */
typedef struct HxGroupMsg {
  int64_t sender_qq;
  int64_t bot_qq;          /* the account that received it */
  int32_t message_id;
  int32_t recv_time;       /* Unix seconds, the host's clock */
  int64_t group_id;
  const char* group_name;  /* from the host's group-name cache; may be empty */
  const char* card;        /* the sender's group card, or the nickname when the card is empty */
  int32_t msg_time;        /* Unix seconds, from the event */
  const char* raw_message;
  const char* message;     /* CQ code */
  const char* nickname;
  void* owner;             /* the host's: the block holding the texts */
} HxGroupMsg;

/* A private message (64 bytes on 32-bit x86; texts at 24, 40, 44 and 56). */
typedef struct HxPrivateMsg {
  int64_t sender_qq;
  int64_t bot_qq;
  int32_t message_id;
  int32_t msg_time;
  const char* message;     /* CQ code */
  void* reserved;          /* always null */
  int64_t peer_qq;         /* the other party: the sender, or for the bot's own message its target */
  const char* nickname;
  const char* raw_message;
  int64_t temp_group_id;   /* the group of a temporary session, else 0 */
  const char* empty;       /* always "" */
  void* owner;
} HxPrivateMsg;

/* A notice, request or host event (76 bytes on 32-bit x86; texts at 44, 48,
 * 52, 56 and 68; the event type at 60, the duration at 64). */
typedef struct HxEventMsg {
  int64_t bot_qq;
  int64_t group_id;
  int64_t operator_qq;
  int64_t user_qq;
  int64_t message_id;
  int32_t time;
  const char* group_name;
  const char* text_a;
  const char* text_b;
  const char* content;     /* the request comment, or a recalled message's text when known */
  int32_t event_type;      /* HX_EV_... */
  int32_t duration;        /* seconds (a ban), or the size of an uploaded file */
  const char* flag;        /* UTF-8: the request flag for answering it */
  void* owner;
} HxEventMsg;

/* Records of the record-array queries ("取群成员信息", "取群成员列表",
 * "取群列表", "取好友列表"). Such a query returns the number of records and
 * writes, through its last argument, a pointer to an E-language array image:
 * {uint32 1, uint32 count, then count pointers to records}. The image, the
 * records and their GBK texts are the plugin's to keep: the host never frees
 * or changes them. They come from the host's C runtime heap; free them only
 * with that runtime's free (the same msvcrt), or keep them. */

/* A group member, "群成员信息NT" (72 bytes on 32-bit x86). */
typedef struct HxMemberInfo {
  int64_t group_id;          /* 0: the group asked about */
  int64_t user_id;           /* 8 */
  const char* nickname;      /* 16 */
  const char* card;          /* 20 */
  const char* sex;           /* 24: "male", "female", "unknown" */
  int32_t age;               /* 28 */
  const char* area;          /* 32 */
  int64_t join_time;         /* 36: Unix seconds */
  int64_t last_sent_time;    /* 44: Unix seconds */
  int32_t level;             /* 52 */
  const char* role;          /* 56: "owner", "admin", "member" */
  const char* title;         /* 60 */
  int64_t shut_up_timestamp; /* 64: muted until (Unix seconds), 0 when not muted */
} HxMemberInfo;

/* A group, "群信息NT" (28 bytes on 32-bit x86). */
typedef struct HxGroupInfo {
  int64_t group_id;         /* 0 */
  const char* group_name;   /* 8 */
  int64_t member_count;     /* 12 */
  int64_t max_member_count; /* 20 */
} HxGroupInfo;

/* A friend, "好友信息NT" (24 bytes on 32-bit x86). */
typedef struct HxFriendInfo {
  int64_t user_id;      /* 0 */
  const char* nickname; /* 8 */
  const char* remark;   /* 12 */
  const char* sex;      /* 16 */
  int32_t level;        /* 20 */
} HxFriendInfo;

/* The record pointers of an array image (`image` as the query wrote it). */
#define HX_ARRAY_COUNT(image) (((const uint32_t*)(image))[1])
#define HX_ARRAY_AT(image, type, i) (((type* const*)((const uint32_t*)(image) + 2))[i])

#if HX_SDK_32BIT
#pragma pack(pop)
#endif

/* Event types. */
enum {
  HX_EV_UNKNOWN = 0,
  HX_EV_GROUP_INVITED_ME = 1,
  HX_EV_GROUP_MEMBER_JOINED = 2,
  HX_EV_GROUP_JOIN_REQUEST = 3,
  HX_EV_GROUP_MEMBER_LEFT = 5,
  HX_EV_GROUP_MEMBER_KICKED = 6,
  HX_EV_GROUP_MEMBER_BANNED = 7,
  HX_EV_GROUP_RECALL = 8,
  HX_EV_GROUP_ADMIN_UNSET = 9,
  HX_EV_GROUP_ADMIN_SET = 10,
  HX_EV_GROUP_WHOLE_BAN = 11,
  HX_EV_GROUP_WHOLE_BAN_LIFTED = 12,
  HX_EV_GROUP_MEMBER_INVITED = 25,
  HX_EV_GROUP_MEMBER_UNBANNED = 28,
  HX_EV_HOST_LOGIN_OK = 31,
  HX_EV_GROUP_CARD_CHANGED = 36,
  HX_EV_HOST_LOGIN_FAILED = 38,
  HX_EV_FRIEND_RECALL = 103,
  HX_EV_FRIEND_ADDED = 104,
  HX_EV_FRIEND_REQUEST = 105,
  HX_EV_GROUP_ESSENCE = 1001,
  HX_EV_POKE = 1002,
  HX_EV_BOT_LIKED = 1003,
  HX_EV_GROUP_FILE_UPLOADED = 1004
};


/* ---- Export names the host looks for (the Chinese ones as GBK bytes) ---- */
#define HX_EXPORT_INIT_NT "\xB3\xF5\xCA\xBC\xBB\xAF" "NT" /* 初始化NT: const char* (apidata, key) */
#define HX_EXPORT_INIT "\xB3\xF5\xCA\xBC\xBB\xAF"         /* 初始化: void (HxInitInfo*) */
#define HX_EXPORT_INIT_ALT "HX_Init"                          /* void (HxInitInfo*) */
#define HX_EXPORT_UNLOAD_CN "\xB2\xE5\xBC\xFE\xD0\xB6\xD4\xD8" /* 插件卸载 */
#define HX_EXPORT_PANEL_CN "\xB2\xE5\xBC\xFE\xB2\xCB\xB5\xA5"  /* 插件菜单 */
/* Also accepted: _AppStartNT/_AppStart/apprunNT, _AppEndNT/_AppEnd,
 * _AppUnloadNT/_AppUnload/apploadNT, _ControlPanelNT/_ControlPanel/HX_ControlPanel,
 * _OnGroupNT/_OnGroup, _OnPrivateNT/_OnPrivate, _OnEventNT/_OnEvent, and the
 * callback getters groupmsaddresNT, friendmsaddresNT, eventmsaddresNT, PmDealFuncNT. */

/* ---- Callbacks ---- */
/* Message handlers: return 1 to stop later plugins from seeing the event. */
typedef int32_t(HX_STDCALL* HxOnGroup)(const HxGroupMsg* msg);
typedef int32_t(HX_STDCALL* HxOnPrivate)(const HxPrivateMsg* msg);
typedef int32_t(HX_STDCALL* HxOnEvent)(const HxEventMsg* msg);
/* Enabled/disabled (with the account QQ as text), unload (empty text), panel (0). */
typedef int32_t(HX_STDCALL* HxOnNotice)(const char* qq);
/* The send hook: may return a replacement for the outgoing message text. */
typedef struct HxSendHookArgs {
  const char* plugin_path; /* GBK */
  const char* plugin_name; /* GBK */
  const char* api_name;    /* UTF-8, e.g. 发送群消息 */
  const char* text;        /* as the plugin passed it */
} HxSendHookArgs;
typedef const char*(HX_STDCALL* HxSendHook)(const HxSendHookArgs* args);
/* Export entries without arguments: start, end, unload, panel. */
typedef int32_t(HX_STDCALL* HxEntry)(void);

/* ---- Initialisation ----
 * Two forms. "初始化NT" receives the apidata JSON (GBK member names, API
 * addresses as numbers) and a key text, and returns a JSON text (GBK) that may
 * carry "author", "appv", "describe" and callback addresses
 * ("groupmsaddresNT", "friendmsaddresNT", "eventmsaddresNT", "PmDealFuncNT").
 * "初始化" / "HX_Init" receive the info block below. */
typedef const char*(HX_STDCALL* HxInitNT)(const char* apidata, const char* key);
struct HxInitInfo;
typedef void(HX_STDCALL* HxInitInfoFn)(struct HxInitInfo* info);

/* E-language array image: {1, count, element...}; elements are native words. */
typedef struct HxEplArray {
  uint32_t dims;  /* 1 */
  uint32_t count; /* 125 */
  /* followed by `count` elements of pointer size */
} HxEplArray;

/* The init info block: 26 machine words. */
typedef struct HxInitInfo {
  uintptr_t api_count;          /* w0 */
  HxEplArray* applications;     /* w1: integer-array image of API addresses */
  HxEplArray* api_names;        /* w2: text-array image of GBK API names */
  uintptr_t api_count2;         /* w3 */
  HxEplArray* api_names2;       /* w4 */
  uintptr_t api_count3;         /* w5 */
  HxEplArray* api_names3;       /* w6 */
  HxEplArray* applications2;    /* w7 */
  const char* sdk_version;      /* w8: "1.1.7" */
  const char* plugin_name;      /* w9: the plugin's name */
  void* plugin_record;          /* w10: the host's, opaque */
  const char* name_buf;         /* w11: the declared name */
  const char* author;           /* w12 */
  const char* version;          /* w13 */
  const char* describe;         /* w14 */
  uintptr_t table_count;        /* w15 */
  void* const* table_addresses; /* w16 */
  const char* const* table_names; /* w17: GBK */
  void* reg[8];                 /* w18..w25: registration slots */
} HxInitInfo;

/* API table indices: the position of each function in the arrays the host
 * hands over (names and addresses), and its permission bit for 0..104. */
enum {
  HX_API_OUTPUT_LOG = 0, /* 输出日志 */
  HX_API_SEND_GROUP_MSG = 1, /* 发送群消息 */
  HX_API_SEND_PRIVATE_MSG = 2, /* 发送好友消息 */
  HX_API_SEND_TMP_MSG = 3, /* 发送群临时消息 */
  HX_API_GET_FRIEND_LIST = 4, /* 取好友列表 */
  HX_API_GET_GROUP_LIST = 5, /* 取群列表 */
  HX_API_GET_MEMBER_LIST = 6, /* 取群成员列表 */
  HX_API_GET_GROUP_NAME_CACHE = 7, /* 取群名称_从缓存 */
  HX_API_GET_NICK_CACHE = 8, /* 取昵称_从缓存 */
  HX_API_RECALL_GROUP = 9, /* 撤回消息_群聊 */
  HX_API_RECALL_PRIVATE = 10, /* 撤回消息_私聊 */
  HX_API_DELETE_MEMBER = 11, /* 删除群成员 */
  HX_API_BAN_MEMBER = 12, /* 禁言群成员 */
  HX_API_BAN_ALL = 13, /* 全员禁言 */
  HX_API_GET_PLUGIN_DATADIR = 14, /* 取插件数据目录 */
  HX_API_GET_FRAME_QQ = 15, /* 取框架QQ */
  HX_API_SET_ADMIN = 16, /* 设置管理员 */
  HX_API_SET_CARD = 17, /* 设置群名片 */
  HX_API_LEAVE_GROUP = 18, /* 退群 */
  HX_API_DISMISS_GROUP = 19, /* 解散群 */
  HX_API_FRIEND_VERIFY = 20, /* 处理好友验证事件 */
  HX_API_GROUP_VERIFY = 21, /* 处理群验证事件 */
  HX_API_UPLOAD_GROUP_IMAGE = 22, /* 上传群图片 */
  HX_API_UPLOAD_FRIEND_IMAGE = 23, /* 上传好友图片 */
  HX_API_GET_ADMIN_LIST = 24, /* 取管理层列表 */
  HX_API_UPLOAD_FRIEND_RECORD = 25, /* 上传好友语音 */
  HX_API_UPLOAD_GROUP_RECORD = 26, /* 上传群语音 */
  HX_API_GET_IMAGE_URL = 27, /* 取图片下载地址 */
  HX_API_SEND_GROUP_JSON = 28, /* 发送群json消息 */
  HX_API_QUERY_STRANGER = 29, /* 查询陌生人信息 */
  HX_API_GET_FRAME_VERSION = 30, /* 取框架版本 */
  HX_API_GET_PLUGIN_FILE = 31, /* 取插件文件名 */
  HX_API_GET_MEMBER_CARD = 32, /* 取群成员名片 */
  HX_API_GET_MSG_DETAIL = 33, /* 获取消息详细 */
  HX_API_SEND_DATA_PACK = 34, /* 发送数据包 */
  HX_API_UPLOAD_VIDEO = 35, /* 上传短视频 */
  HX_API_SHARE_MUSIC_CUSTOM = 36, /* 自定义音乐分享 */
  HX_API_GET_MEMBER_INFO = 37, /* 取群成员信息 */
  HX_API_IS_BANNED = 38, /* 查询某人是否被禁言 */
  HX_API_GET_COOKIES = 39, /* 获取skey */
  HX_API_GET_PSKEY = 40, /* 获取pskey */
  HX_API_GET_GROUP_NAME = 41, /* 取群名称 */
  HX_API_RELOAD_SELF = 42, /* 重载自身 */
  HX_API_SET_GROUP_TITLE = 43, /* 设置专属头衔 */
  HX_API_GET_RECOMMEND_CARD = 44, /* 获取推荐群聊卡片 */
  HX_API_GET_RECOMMEND_CARD_FRIEND = 45, /* 获取推荐好友卡片 */
  HX_API_SET_QQ_AVATAR = 46, /* 设置QQ头像 */
  HX_API_GET_LIKE_LIST = 47, /* 获取点赞列表 */
  HX_API_GET_ESSENCE_LIST = 48, /* 获取群精华消息 */
  HX_API_GET_FILE_INFO = 49, /* 获取文件信息 */
  HX_API_GET_ROOT_FILES = 50, /* 获取群根目录文件列表 */
  HX_API_GET_SUB_FILES = 51, /* 获取群子目录文件列表 */
  HX_API_GET_FILE_URL = 52, /* 获取群文件资源链接 */
  HX_API_GET_GROUP_NOTICE = 53, /* 获取群公告 */
  HX_API_SET_GROUP_NOTICE = 54, /* 设置群公告 */
  HX_API_SET_FRIEND_REMARK = 55, /* 设置好友备注 */
  HX_API_SET_GROUP_REMARK = 56, /* 设置群备注 */
  HX_API_SET_GROUP_MSG_MASK = 57, /* 设置群消息接受方式 */
  HX_API_SHARE_MUSIC = 58, /* 分享音乐 */
  HX_API_GET_LOGIN_INFO = 59, /* 获取登录号信息 */
  HX_API_SET_ACCOUNT_INFO = 60, /* 设置账号信息 */
  HX_API_SET_ONLINE_STATUS = 61, /* 设置在线状态 */
  HX_API_GET_FRIEND_GROUP_LIST = 62, /* 获取好友分组列表 */
  HX_API_SEND_LIKE = 63, /* 点赞 */
  HX_API_CREATE_FAVORITE = 64, /* 创建收藏 */
  HX_API_SET_SIGNATURE = 65, /* 设置个性签名 */
  HX_API_UPLOAD_PRIVATE_FILE_NB = 66, /* 上传私聊文件 */
  HX_API_DELETE_FRIEND = 67, /* 删除好友 */
  HX_API_GET_USER_STATUS = 68, /* 获取用户状态 */
  HX_API_SEND_GROUP_VOICE_NB = 69, /* 发送群语音 */
  HX_API_SEND_GROUP_VIDEO_NB = 70, /* 发送群视频 */
  HX_API_SEND_GROUP_DICE = 71, /* 发送群聊超级表情_骰子 */
  HX_API_SEND_GROUP_RPS = 72, /* 发送群聊超级表情_猜拳 */
  HX_API_SEND_GROUP_FILE_NB = 73, /* 发送群文件 */
  HX_API_SEND_GROUP_POKE = 74, /* 发送群聊戳一戳 */
  HX_API_SEND_GROUP_FORWARD = 75, /* 发送群合并转发消息 */
  HX_API_SEND_PRIVATE_PIC_NB = 76, /* 发送私聊图片 */
  HX_API_SEND_PRIVATE_FACE_NB = 77, /* 发送私聊系统表情 */
  HX_API_SEND_PRIVATE_JSON_NB = 78, /* 发送私聊JSON */
  HX_API_SEND_PRIVATE_VOICE_NB = 79, /* 发送私聊语音 */
  HX_API_SEND_PRIVATE_VIDEO_NB = 80, /* 发送私聊视频 */
  HX_API_SEND_PRIVATE_REPLY = 81, /* 发送私聊回复 */
  HX_API_SEND_PRIVATE_MUSIC = 82, /* 发送私聊音乐卡片 */
  HX_API_SEND_PRIVATE_MUSIC_CUSTOM = 83, /* 发送私聊自定义音乐卡片 */
  HX_API_SEND_PRIVATE_DICE = 84, /* 发送私聊超级表情_骰子 */
  HX_API_SEND_PRIVATE_RPS = 85, /* 发送私聊超级表情_猜拳 */
  HX_API_SEND_PRIVATE_FORWARD = 86, /* 发送私聊合并转发消息 */
  HX_API_SEND_PRIVATE_FILE_NB = 87, /* 发送私聊文件 */
  HX_API_SEND_PRIVATE_POKE = 88, /* 发送私聊戳一戳 */
  HX_API_SET_MSG_EMOJI = 89, /* 贴表情 */
  HX_API_RECENT_MSG_LIST = 90, /* 最近消息列表 */
  HX_API_SET_GROUP_PORTRAIT = 91, /* 设置群头像 */
  HX_API_SET_ESSENCE = 92, /* 设置群精华消息 */
  HX_API_DEL_ESSENCE = 93, /* 删除群精华消息 */
  HX_API_SET_GROUP_NAME = 94, /* 设置群名 */
  HX_API_GET_AT_ALL_REMAIN = 95, /* 获取艾特全体剩余次数 */
  HX_API_SET_GROUP_SIGN = 96, /* 设置群打卡 */
  HX_API_SEND_GROUP_SIGN = 97, /* 发送群打卡 */
  HX_API_GET_AI_CHARACTERS = 98, /* 获取AI语音人物 */
  HX_API_SEND_GROUP_AI_VOICE = 99, /* 发送群AI语音 */
  HX_API_GET_AI_VOICE = 100, /* 获取AI语音 */
  HX_API_COR_OCR = 101, /* COR图片识别 */
  HX_API_GET_ONLINE_MODEL = 102, /* 获取在线机型 */
  HX_API_GET_SHUT_LIST = 103, /* 获取群禁言列表 */
  HX_API_QUERY_STRANGER_DETAIL = 104, /* 查询陌生人信息_详细 */
  HX_API_GET_API_ADDR = 105, /* 取API函数地址 */
  HX_API_RECALL_PRIVATE_SELF = 106, /* 撤回消息_私聊本身 */
  HX_API_GET_NICK = 107, /* 取昵称 */
  HX_API_GET_PLUGIN_DATADIR9 = 108, /* 取插件数据目录9 */
  HX_API_GET_SDK_VERSION = 109, /* 取SDK版本 */
  HX_API_SET_APP_NAME = 110, /* 置应用名 */
  HX_API_SET_APP_AUTHOR = 111, /* 置应用作者 */
  HX_API_SET_APP_VERSION = 112, /* 置应用版本 */
  HX_API_SET_APP_DESCRIBE = 113, /* 置应用说明 */
  HX_API_SET_ON_GROUP = 114, /* 置群消息处理函数 */
  HX_API_SET_ON_PRIVATE = 115, /* 置私聊消息处理函数 */
  HX_API_SET_ON_EVENT = 116, /* 置事件消息处理函数 */
  HX_API_SET_ON_ENABLED = 117, /* 置插件被启用处理函数 */
  HX_API_SET_ON_DISABLED = 118, /* 置插件被禁用处理函数 */
  HX_API_SET_ON_UNLOAD = 119, /* 置将被卸载处理函数 */
  HX_API_SET_ON_PANEL = 120, /* 置点击插件设置处理函数 */
  HX_API_SET_SEND_HOOK = 121, /* 置插件消息输出替换处理函数 */
  HX_API_APPLY_PERM = 122, /* 置应用权限申请 */
  HX_API_APPLY_PERM_ALL = 123, /* 置应用权限申请_所有 */
  HX_API_APPLY_PERM_MULTI = 124, /* 置应用权限申请_多个 */
  HX_API_COUNT = 125
};

/* API function types, called through the addresses the host hands over. */
typedef int32_t (HX_STDCALL *HxApi_output_log)(uint32_t w, const char* msg, uint32_t a, uint32_t b);
typedef const char* (HX_STDCALL *HxApi_send_group_msg)(uint32_t w, int64_t bot, int64_t group, const char* msg, int32_t raw);
typedef const char* (HX_STDCALL *HxApi_send_private_msg)(uint32_t w, int64_t bot, int64_t user, const char* msg, int32_t raw);
typedef const char* (HX_STDCALL *HxApi_send_tmp_msg)(uint32_t w, int64_t bot, int64_t user, int64_t group, const char* msg, int32_t raw);
typedef int32_t (HX_STDCALL *HxApi_get_friend_list)(uint32_t w, int64_t bot, void** out);
typedef int32_t (HX_STDCALL *HxApi_get_group_list)(uint32_t w, int64_t bot, void** out);
typedef int32_t (HX_STDCALL *HxApi_get_member_list)(uint32_t w, int64_t bot, int64_t group, void** out);
typedef const char* (HX_STDCALL *HxApi_get_group_name_cache)(uint32_t w, int64_t bot, int64_t group);
typedef const char* (HX_STDCALL *HxApi_get_nick_cache)(uint32_t w, int64_t bot, int64_t user);
typedef int32_t (HX_STDCALL *HxApi_recall_group)(uint32_t w, int64_t bot, int64_t group, int64_t message_id);
typedef int32_t (HX_STDCALL *HxApi_recall_private)(uint32_t w, int64_t bot, int64_t user, int64_t message_id);
typedef int32_t (HX_STDCALL *HxApi_delete_member)(uint32_t w, int64_t bot, int64_t group, int64_t user, int32_t refuse_again);
typedef int32_t (HX_STDCALL *HxApi_ban_member)(uint32_t w, int64_t bot, int64_t group, int64_t user, int32_t seconds);
typedef int32_t (HX_STDCALL *HxApi_ban_all)(uint32_t w, int64_t bot, int64_t group, int32_t on);
typedef const char* (HX_STDCALL *HxApi_get_plugin_datadir)(void);
typedef const char* (HX_STDCALL *HxApi_get_frame_qq)(void);
typedef int32_t (HX_STDCALL *HxApi_set_admin)(uint32_t w, int64_t bot, int64_t group, int64_t user, int32_t cancel);
typedef const char* (HX_STDCALL *HxApi_set_card)(uint32_t w, int64_t bot, int64_t group, int64_t user, const char* card);
typedef int32_t (HX_STDCALL *HxApi_leave_group)(uint32_t w, int64_t bot, int64_t group);
typedef int32_t (HX_STDCALL *HxApi_dismiss_group)(uint32_t w, int64_t bot, int64_t group);
typedef int32_t (HX_STDCALL *HxApi_friend_verify)(uint32_t w, int64_t bot, const char* flag, int32_t approve, const char* remark);
typedef int32_t (HX_STDCALL *HxApi_group_verify)(uint32_t w, int64_t bot, const char* flag, int32_t type, int32_t approve, const char* reason);
typedef const char* (HX_STDCALL *HxApi_upload_group_image)(uint32_t w, int64_t bot, const void* media);
typedef const char* (HX_STDCALL *HxApi_upload_friend_image)(uint32_t w, int64_t bot, const void* media);
typedef const char* (HX_STDCALL *HxApi_get_admin_list)(uint32_t w, int64_t bot, int64_t group);
typedef const char* (HX_STDCALL *HxApi_upload_friend_record)(uint32_t w, int64_t bot, const void* media);
typedef const char* (HX_STDCALL *HxApi_upload_group_record)(uint32_t w, int64_t bot, const void* media);
typedef const char* (HX_STDCALL *HxApi_get_image_url)(uint32_t w, int64_t bot, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_group_json)(uint32_t w, int64_t bot, int64_t group, const char* json, int32_t raw);
typedef const char* (HX_STDCALL *HxApi_query_stranger)(uint32_t w, int64_t bot, int64_t user);
typedef const char* (HX_STDCALL *HxApi_get_frame_version)(void);
typedef const char* (HX_STDCALL *HxApi_get_plugin_file)(void);
typedef const char* (HX_STDCALL *HxApi_get_member_card)(uint32_t w, int64_t bot, int64_t group, int64_t user);
typedef const char* (HX_STDCALL *HxApi_get_msg_detail)(uint32_t w, int64_t bot, int64_t message_id);
typedef const char* (HX_STDCALL *HxApi_send_data_pack)(uint32_t w, int64_t bot, const char* packet, int32_t timeout_ms);
typedef const char* (HX_STDCALL *HxApi_upload_video)(uint32_t w, int64_t bot, const void* media);
typedef const char* (HX_STDCALL *HxApi_share_music_custom)(uint32_t w, int64_t bot, int64_t group, const char* url, const char* audio, const char* title, int32_t ignored, const char* content);
typedef int32_t (HX_STDCALL *HxApi_get_member_info)(uint32_t w, int64_t bot, int64_t group, int64_t user, void** out);
typedef int32_t (HX_STDCALL *HxApi_is_banned)(uint32_t w, int64_t bot, int64_t group, int64_t user);
typedef const char* (HX_STDCALL *HxApi_get_cookies)(uint32_t w, int64_t bot);
typedef const char* (HX_STDCALL *HxApi_get_pskey)(uint32_t w, int64_t bot, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_get_group_name)(uint32_t w, int64_t bot, int64_t group);
typedef int32_t (HX_STDCALL *HxApi_reload_self)(uint32_t a, uint32_t b);
typedef const char* (HX_STDCALL *HxApi_set_group_title)(uint32_t w, int64_t bot, int64_t group, int64_t user, const char* title);
typedef const char* (HX_STDCALL *HxApi_get_recommend_card)(uint32_t w, int64_t bot, int32_t ignored1, int32_t ignored2);
typedef const char* (HX_STDCALL *HxApi_set_qq_avatar)(uint32_t w, int64_t bot, int64_t ignored, const char* file);
typedef const char* (HX_STDCALL *HxApi_get_like_list)(uint32_t w, int64_t bot);
typedef const char* (HX_STDCALL *HxApi_get_essence_list)(uint32_t w, int64_t bot, int64_t group);
typedef const char* (HX_STDCALL *HxApi_get_file_info)(uint32_t w, int64_t bot, const char* file_id);
typedef const char* (HX_STDCALL *HxApi_get_root_files)(uint32_t w, int64_t bot, int64_t group);
typedef const char* (HX_STDCALL *HxApi_get_sub_files)(uint32_t w, int64_t bot, int64_t group, const char* folder_id, int32_t count);
typedef const char* (HX_STDCALL *HxApi_get_file_url)(uint32_t w, int64_t bot, int64_t group, const char* file_id);
typedef const char* (HX_STDCALL *HxApi_get_group_notice)(uint32_t w, int64_t bot, int64_t group);
typedef const char* (HX_STDCALL *HxApi_set_group_notice)(uint32_t w, int64_t bot, int64_t group, const char* content, const char* image);
typedef const char* (HX_STDCALL *HxApi_set_friend_remark)(uint32_t w, int64_t bot, int64_t user, const char* remark);
typedef const char* (HX_STDCALL *HxApi_set_group_remark)(uint32_t w, int64_t bot, int64_t group, const char* remark);
typedef int32_t (HX_STDCALL *HxApi_set_group_msg_mask)(uint32_t w, int64_t bot, int64_t group, int32_t mask);
typedef const char* (HX_STDCALL *HxApi_share_music)(uint32_t w, int64_t bot, int64_t group, const char* title, int32_t ignored1, const char* url, const char* audio, int32_t ignored2, int32_t ignored3);
typedef const char* (HX_STDCALL *HxApi_get_login_info)(uint32_t w, int64_t bot);
typedef const char* (HX_STDCALL *HxApi_set_account_info)(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f);
typedef const char* (HX_STDCALL *HxApi_set_online_status)(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f);
typedef const char* (HX_STDCALL *HxApi_get_friend_group_list)(uint32_t w, int64_t bot);
typedef const char* (HX_STDCALL *HxApi_send_like)(uint32_t w, int64_t bot, int64_t user, int32_t times);
typedef const char* (HX_STDCALL *HxApi_create_favorite)(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e);
typedef const char* (HX_STDCALL *HxApi_set_signature)(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
typedef const char* (HX_STDCALL *HxApi_upload_private_file_nb)(uint32_t w, int64_t bot, const char* user, const char* dir, const char* name);
typedef const char* (HX_STDCALL *HxApi_delete_friend)(uint32_t w, int64_t bot, const char* user, int32_t block, int32_t both);
typedef const char* (HX_STDCALL *HxApi_get_user_status)(uint32_t w, int64_t bot, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_send_group_voice_nb)(uint32_t w, int64_t bot, const char* group, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_group_video_nb)(uint32_t w, int64_t bot, const char* group, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_group_dice)(uint32_t w, int64_t bot, const char* group);
typedef const char* (HX_STDCALL *HxApi_send_group_rps)(uint32_t w, int64_t bot, const char* group);
typedef const char* (HX_STDCALL *HxApi_send_group_file_nb)(uint32_t w, int64_t bot, const char* group, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_group_poke)(uint32_t w, int64_t bot, const char* group, const char* user);
typedef const char* (HX_STDCALL *HxApi_send_group_forward)(uint32_t w, int64_t bot, int64_t group, int32_t ignored, const char* nodes);
typedef const char* (HX_STDCALL *HxApi_send_private_pic_nb)(uint32_t w, int64_t bot, const char* user, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_private_face_nb)(uint32_t w, int64_t bot, const char* user, int32_t face);
typedef const char* (HX_STDCALL *HxApi_send_private_json_nb)(uint32_t w, int64_t bot, const char* user, const char* json);
typedef const char* (HX_STDCALL *HxApi_send_private_voice_nb)(uint32_t w, int64_t bot, const char* user, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_private_video_nb)(uint32_t w, int64_t bot, const char* user, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_private_reply)(uint32_t w, int64_t bot, const char* user, const char* message_id, const char* msg);
typedef const char* (HX_STDCALL *HxApi_send_private_music)(uint32_t w, int64_t bot, const char* user, const char* music_id);
typedef const char* (HX_STDCALL *HxApi_send_private_music_custom)(uint32_t w, int64_t bot, const char* user, int32_t ignored, const char* url, const char* audio, const char* title, const char* image);
typedef const char* (HX_STDCALL *HxApi_send_private_dice)(uint32_t w, int64_t bot, const char* user);
typedef const char* (HX_STDCALL *HxApi_send_private_rps)(uint32_t w, int64_t bot, const char* user);
typedef const char* (HX_STDCALL *HxApi_send_private_forward)(uint32_t w, int64_t bot, const char* user, const char* nodes);
typedef const char* (HX_STDCALL *HxApi_send_private_file_nb)(uint32_t w, int64_t bot, const char* user, const char* file);
typedef const char* (HX_STDCALL *HxApi_send_private_poke)(uint32_t w, int64_t bot, const char* user);
typedef const char* (HX_STDCALL *HxApi_set_msg_emoji)(uint32_t w, int64_t bot, const char* message_id, int32_t emoji, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_recent_msg_list)(uint32_t w, int64_t bot, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_set_group_portrait)(uint32_t w, int64_t bot, const char* group, const char* file);
typedef const char* (HX_STDCALL *HxApi_set_essence)(uint32_t w, int64_t bot, const char* message_id);
typedef const char* (HX_STDCALL *HxApi_del_essence)(uint32_t w, int64_t bot, const char* message_id);
typedef const char* (HX_STDCALL *HxApi_set_group_name)(uint32_t w, int64_t bot, int64_t group, const char* name);
typedef const char* (HX_STDCALL *HxApi_get_at_all_remain)(uint32_t w, int64_t bot, const char* group);
typedef const char* (HX_STDCALL *HxApi_set_group_sign)(uint32_t w, int64_t bot, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_send_group_sign)(uint32_t w, int64_t bot, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_get_ai_characters)(uint32_t w, int64_t bot, int64_t group, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_send_group_ai_voice)(uint32_t w, int64_t bot, uint32_t a, uint32_t b, uint32_t c);
typedef const char* (HX_STDCALL *HxApi_get_ai_voice)(uint32_t w, int64_t bot, uint32_t a, uint32_t b, uint32_t c);
typedef const char* (HX_STDCALL *HxApi_cor_ocr)(uint32_t w, int64_t bot, int32_t ignored);
typedef const char* (HX_STDCALL *HxApi_get_online_model)(uint32_t w, int64_t bot);
typedef const char* (HX_STDCALL *HxApi_get_shut_list)(uint32_t w, int64_t bot, const char* group);
typedef const char* (HX_STDCALL *HxApi_query_stranger_detail)(uint32_t w, int64_t bot, int64_t user);
typedef uintptr_t (HX_STDCALL *HxApi_get_api_addr)(const char* name);
typedef const char* (HX_STDCALL *HxApi_get_nick)(uint32_t w, int64_t bot, int64_t user);
typedef const char* (HX_STDCALL *HxApi_get_sdk_version)(void);
typedef int32_t (HX_STDCALL *HxApi_set_app_name)(const char* name);
typedef int32_t (HX_STDCALL *HxApi_set_app_author)(const char* author);
typedef int32_t (HX_STDCALL *HxApi_set_app_version)(const char* version);
typedef int32_t (HX_STDCALL *HxApi_set_app_describe)(const char* describe);
typedef int32_t (HX_STDCALL *HxApi_set_on_group)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_set_on_private)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_set_on_event)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_set_on_enabled)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_set_on_disabled)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_set_on_unload)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_set_on_panel)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_set_send_hook)(void* fn);
typedef int32_t (HX_STDCALL *HxApi_apply_perm)(const char* name, uint32_t ignored);
typedef int32_t (HX_STDCALL *HxApi_apply_perm_all)(uint32_t ignored);
typedef int32_t (HX_STDCALL *HxApi_apply_perm_multi)(const char* const* names, uint32_t ignored);

#ifdef __cplusplus
}
#endif

#if HX_SDK_32BIT
#ifdef __cplusplus
#define HX_SDK_ASSERT(c, m) static_assert(c, m)
#else
#define HX_SDK_ASSERT(c, m) _Static_assert(c, m)
#endif
HX_SDK_ASSERT(sizeof(HxGroupMsg) == 60, "group message record is 60 bytes");
HX_SDK_ASSERT(sizeof(HxPrivateMsg) == 64, "private message record is 64 bytes");
HX_SDK_ASSERT(sizeof(HxEventMsg) == 76, "event record is 76 bytes");
HX_SDK_ASSERT(sizeof(HxInitInfo) == 26 * 4, "the init info block is 26 words");
HX_SDK_ASSERT(offsetof(HxPrivateMsg, message) == 24 && offsetof(HxPrivateMsg, nickname) == 40 &&
                  offsetof(HxPrivateMsg, raw_message) == 44 && offsetof(HxPrivateMsg, empty) == 56,
              "private message text offsets");
HX_SDK_ASSERT(offsetof(HxEventMsg, text_a) == 48 && offsetof(HxEventMsg, text_b) == 52 &&
                  offsetof(HxEventMsg, content) == 56 && offsetof(HxEventMsg, event_type) == 60 &&
                  offsetof(HxEventMsg, duration) == 64 && offsetof(HxEventMsg, flag) == 68,
              "event record offsets");
#endif

#endif /* TOLVEX_SDK_H */
/* clang-format on */
