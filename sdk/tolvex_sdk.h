/* The Tolvex plugin SDK: everything a plugin author needs from the host.
 *
 * Plain C. Plugins take and return GBK text and use the stdcall convention on
 * 32-bit x86. The records below are what the host hands to a plugin's
 * handlers, as a pointer that is the handler's only argument; their text
 * fields point to NUL-terminated GBK strings that stay valid for the duration
 * of the call only (copy what you keep). On 32-bit targets the layouts are
 * fixed to the byte; 64-bit builds keep the field order with native pointers.
 */
#ifndef TOLVEX_SDK_H
#define TOLVEX_SDK_H

#include <stddef.h>
#include <stdint.h>

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
HX_SDK_ASSERT(offsetof(HxPrivateMsg, message) == 24 && offsetof(HxPrivateMsg, nickname) == 40 &&
                  offsetof(HxPrivateMsg, raw_message) == 44 && offsetof(HxPrivateMsg, empty) == 56,
              "private message text offsets");
HX_SDK_ASSERT(offsetof(HxEventMsg, text_a) == 48 && offsetof(HxEventMsg, text_b) == 52 &&
                  offsetof(HxEventMsg, content) == 56 && offsetof(HxEventMsg, event_type) == 60 &&
                  offsetof(HxEventMsg, duration) == 64 && offsetof(HxEventMsg, flag) == 68,
              "event record offsets");
#endif

#endif /* TOLVEX_SDK_H */
