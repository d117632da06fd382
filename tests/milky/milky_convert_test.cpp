// The two Milky conversions as pure functions: events into OneBot events,
// OneBot actions into Milky requests (and messages both ways).
#include <gtest/gtest.h>

#include <string>

#include "config/cfg.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "milky/milky.h"

namespace {

// True when every member `expected` names is in `actual` with that value
// (objects recursively; arrays element by element, of equal length).
bool contains(const cJSON* actual, const cJSON* expected) {
  if (cJSON_IsObject(expected)) {
    if (!cJSON_IsObject(actual)) return false;
    const cJSON* e;
    cJSON_ArrayForEach(e, expected) {
      if (!contains(cJSON_GetObjectItemCaseSensitive(actual, e->string), e)) return false;
    }
    return true;
  }
  if (cJSON_IsArray(expected)) {
    if (!cJSON_IsArray(actual) || cJSON_GetArraySize(actual) != cJSON_GetArraySize(expected)) return false;
    for (int i = 0; i < cJSON_GetArraySize(expected); ++i)
      if (!contains(cJSON_GetArrayItem(actual, i), cJSON_GetArrayItem(expected, i))) return false;
    return true;
  }
  return actual && cJSON_Compare(actual, expected, true);
}

::testing::AssertionResult has(const std::string& actual_text, const char* expected_text) {
  HxJson actual(cJSON_Parse(actual_text.c_str())), expected(cJSON_Parse(expected_text));
  if (!expected) return ::testing::AssertionFailure() << "bad expectation " << expected_text;
  if (contains(actual.get(), expected.get())) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual_text << "\n  lacks " << expected_text;
}

std::string event(const std::string& type, const std::string& data, long long self = 10001) {
  return hx_milky_event_to_onebot(R"({"event_type":")" + type + R"(","time":1700000000,"self_id":)" +
                                  std::to_string(self) + R"(,"data":)" + data + "}")
      .value_or("<not json>");
}

// Tests that read the log lines they cause.
class MilkyLog : public ::testing::Test {
 protected:
  void SetUp() override { hx_log_init(1000); }
  void TearDown() override { hx_log_shutdown(); }
};
using MilkyEvents = MilkyLog;
using MilkyActions = MilkyLog;

bool logged(const std::string& prefix) {
  hx_log_entry e;
  for (int i = 0; hx_log_at(i, &e); ++i)
    if (std::string(e.text).rfind(prefix, 0) == 0) return true;
  return false;
}

TEST_F(MilkyEvents, EveryNoticeRequestAndMetaEvent) {
  const struct {
    const char* type;
    const char* data;
    const char* onebot;
  } cases[] = {
      {"message_recall",
       R"({"message_scene":"group","peer_id":20001,"message_seq":7,"sender_id":30001,"operator_id":30002,"display_suffix":"s"})",
       R"({"post_type":"notice","notice_type":"group_recall","group_id":20001,"message_id":7,"user_id":30001,"operator_id":30002,"milky_suffix":"s","time":1700000000,"self_id":10001})"},
      {"message_recall",
       R"({"message_scene":"friend","peer_id":30001,"message_seq":8,"sender_id":30001,"operator_id":30001})",
       R"({"notice_type":"friend_recall","user_id":30001,"message_id":8,"operator_id":30001})"},
      {"bot_offline", R"({"reason":"kicked"})",
       R"({"post_type":"meta_event","meta_event_type":"lifecycle","sub_type":"disconnect","reason":"kicked"})"},
      {"group_member_increase", R"({"group_id":20001,"user_id":30001,"operator_id":30002,"invitor_id":30003})",
       R"({"notice_type":"group_increase","sub_type":"invite","invitor_id":30003})"},
      {"group_member_increase", R"({"group_id":20001,"user_id":30001})",
       R"({"notice_type":"group_increase","sub_type":"approve","operator_id":0})"},
      {"group_member_decrease", R"({"group_id":20001,"user_id":30001,"operator_id":30001})",
       R"({"notice_type":"group_decrease","sub_type":"leave"})"},
      {"group_member_decrease", R"({"group_id":20001,"user_id":30001,"operator_id":30002})",
       R"({"sub_type":"kick","operator_id":30002})"},
      {"group_member_decrease", R"({"group_id":20001,"user_id":10001,"operator_id":30002})",
       R"({"sub_type":"kick_me"})"},
      {"group_admin_change", R"({"group_id":20001,"user_id":30001,"operator_id":30002,"is_set":false})",
       R"({"notice_type":"group_admin","sub_type":"unset"})"},
      {"group_mute", R"({"group_id":20001,"user_id":30001,"operator_id":30002,"duration":600})",
       R"({"notice_type":"group_ban","sub_type":"ban","duration":600})"},
      {"group_whole_mute", R"({"group_id":20001,"operator_id":30002,"is_mute":false})",
       R"({"notice_type":"group_ban","sub_type":"lift_ban","user_id":0,"operator_id":30002})"},
      {"friend_request", R"({"initiator_id":30001,"initiator_uid":"u_abc","comment":"hi","via":"search"})",
       R"({"post_type":"request","request_type":"friend","user_id":30001,"comment":"hi","flag":"fr|u_abc","source":"search"})"},
      {"group_join_request",
       R"({"group_id":20001,"notification_seq":55,"is_filtered":false,"initiator_id":30001,"comment":"let me in"})",
       R"({"request_type":"group","group_id":20001,"user_id":30001,"comment":"let me in","flag":"join_request|55|20001"})"},
      {"group_invited_join_request",
       R"({"group_id":20001,"notification_seq":56,"initiator_id":30001,"target_user_id":30005})",
       R"({"request_type":"group","user_id":30005,"invitor_id":30001,"flag":"invited_join_request|56|20001"})"},
      {"group_invitation", R"({"group_id":20002,"invitation_seq":9,"initiator_id":30001})",
       R"({"request_type":"group","sub_type":"invite","group_id":20002,"user_id":30001,"flag":"inv|20002|9"})"},
      {"group_nudge",
       R"({"group_id":20001,"sender_id":30001,"receiver_id":10001,"display_action":"戳了戳","display_suffix":""})",
       R"({"notice_type":"notify","sub_type":"poke","group_id":20001,"user_id":30001,"target_id":10001,"action":"戳了戳"})"},
      {"friend_nudge",
       R"({"user_id":30001,"is_self_send":false,"is_self_receive":true,"display_action":"a","display_suffix":"b"})",
       R"({"notice_type":"notify","sub_type":"poke","user_id":30001,"target_id":10001,"suffix":"b"})"},
      {"friend_nudge", R"({"user_id":30001,"is_self_send":true,"is_self_receive":false})",
       R"({"user_id":10001,"target_id":30001})"},
      {"group_file_upload", R"({"group_id":20001,"user_id":30001,"file_id":"f1","file_name":"a.txt","file_size":12})",
       R"({"notice_type":"group_upload","file":{"id":"f1","name":"a.txt","size":12,"busid":"0"}})"},
      {"friend_file_upload",
       R"({"user_id":30001,"file_id":"f2","file_name":"b","file_size":3,"file_hash":"h","is_self":false})",
       R"({"notice_type":"offline_file","user_id":30001,"file":{"id":"f2"}})"},
      {"group_message_reaction",
       R"({"group_id":20001,"user_id":30001,"message_seq":7,"face_id":"76","reaction_type":"face","is_add":true})",
       R"({"notice_type":"group_msg_emoji_like","message_id":7,"emoji_id":"76","reaction_type":"face","is_add":true})"},
      {"group_essence_message_change", R"({"group_id":20001,"message_seq":7,"operator_id":30002,"is_set":true})",
       R"({"notice_type":"essence","sub_type":"add","message_id":7})"},
  };
  for (const auto& c : cases) EXPECT_TRUE(has(event(c.type, c.data), c.onebot)) << c.type;

  hx_log_clear();
  EXPECT_EQ(event("group_name_change", R"({"group_id":20001,"new_group_name":"x","operator_id":1})"), "");
  EXPECT_TRUE(logged("Milky 事件 group_name_change 无 OneBot 对应类型，已忽略"));
  EXPECT_EQ(hx_milky_event_to_onebot(R"({"data":{}})"), "") << "no event type";
  EXPECT_EQ(hx_milky_event_to_onebot("[1]"), std::nullopt) << "no object";
  EXPECT_EQ(hx_milky_event_to_onebot(R"({"event_type":"message_receive","self_id":1})"), "");
  EXPECT_TRUE(logged("message_receive 缺少 data 字段，已丢弃该事件"));
}

std::string message(const std::string& body, long long self = 10001) { return event("message_receive", body, self); }

TEST_F(MilkyEvents, MessagesKeepTheirSceneSenderAndIdentity) {
  milky_seq_clear();
  const std::string member =
      R"("group":{"group_id":20001,"group_name":"G"},"group_member":{"user_id":30001,"nickname":"nick","card":"","role":"admin","sex":"female","title":"t","level":5})";
  const struct {
    std::string milky;
    const char* onebot;
  } cases[] = {
      {R"({"message_scene":"group","peer_id":20001,"message_seq":100,"sender_id":30001,"time":0,"segments":[],)" +
           member + "}",
       R"({"post_type":"message","message_type":"group","sub_type":"normal","group_id":20001,"message_id":100,"real_id":100,"user_id":30001,"time":1700000000,"self_id":10001,"font":0,"anonymous":null,"message_format":"array",
           "sender":{"user_id":30001,"nickname":"nick","card":"nick","role":"admin","sex":"female","title":"t","level":5,"remark":""},
           "milky_group":{"group_id":20001,"group_name":"G"},"milky_scene":"group","milky_seq":100})"},
      {R"({"message_scene":"group","peer_id":20001,"message_seq":101,"sender_id":10001,"time":1,"segments":[]})",
       R"({"post_type":"message_sent","time":1,"sender":{"role":"member","sex":"unknown","card":""}})"},
      {R"({"message_scene":"friend","peer_id":30001,"message_seq":5,"sender_id":30001,"time":2,"segments":[],"friend":{"user_id":30001,"nickname":"f","remark":"r"}})",
       R"({"message_type":"private","sub_type":"friend","target_id":30001,"sender":{"nickname":"f","card":"f","remark":"r"}})"},
      {R"({"message_scene":"temp","peer_id":30002,"message_seq":6,"sender_id":30002,"time":3,"segments":[],"group":{"group_id":20009}})",
       R"({"message_type":"private","sub_type":"group","group_id":20009,"target_id":30002})"},
  };
  for (const auto& c : cases) EXPECT_TRUE(has(message(c.milky), c.onebot)) << c.milky;

  // Every message can be found again by its id.
  const struct {
    long long id;
    const char* scene;
    long long peer;
  } seen[] = {{100, "group", 20001}, {5, "friend", 30001}, {6, "temp", 30002}};
  for (const auto& s : seen) {
    const auto e = milky_seq_get(s.id, 10001);
    ASSERT_TRUE(e) << s.id;
    EXPECT_EQ(e->scene, s.scene);
    EXPECT_EQ(e->peer, s.peer);
    EXPECT_EQ(e->seq, s.id);
  }
}

TEST_F(MilkyEvents, SegmentsBecomeOneBotSegmentsAndCqText) {
  const struct {
    const char* segment;
    const char* onebot;
    const char* raw;
  } cases[] = {
      {R"({"type":"text","data":{"text":"a,b&[c]"}})", R"({"type":"text","data":{"text":"a,b&[c]"}})",
       "a,b&amp;&#91;c&#93;"},
      {R"({"type":"mention","data":{"user_id":30001}})", R"({"type":"at","data":{"qq":"30001"}})", "[CQ:at,qq=30001]"},
      {R"({"type":"mention_all","data":{}})", R"({"type":"at","data":{"qq":"all"}})", "[CQ:at,qq=all]"},
      {R"({"type":"face","data":{"face_id":"14","is_large":false}})", R"({"type":"face","data":{"id":"14"}})",
       "[CQ:face,id=14]"},
      {R"({"type":"reply","data":{"message_seq":99,"sender_id":1,"time":1,"segments":[]}})",
       R"({"type":"reply","data":{"id":"99"}})", "[CQ:reply,id=99]"},
      {R"({"type":"image","data":{"resource_id":"r1","temp_url":"http://x/i.png","width":1,"height":1,"summary":"","sub_type":"normal"}})",
       R"({"type":"image","data":{"file":"http://x/i.png","url":"http://x/i.png"}})", "[CQ:image,file=http://x/i.png]"},
      {R"({"type":"market_face","data":{"url":"http://x/m.gif"}})",
       R"({"type":"image","data":{"file":"http://x/m.gif"}})", "[CQ:image,file=http://x/m.gif]"},
      {R"({"type":"record","data":{"resource_id":"r2","temp_url":"","duration":3}})",
       R"({"type":"record","data":{"file":"r2"}})", "[CQ:record,file=r2]"},
      {R"({"type":"video","data":{"resource_id":"r3","temp_url":"http://v"}})",
       R"({"type":"video","data":{"file":"http://v"}})", "[CQ:video,file=http://v]"},
      {R"({"type":"forward","data":{"forward_id":"fw1"}})", R"({"type":"forward","data":{"id":"fw1"}})",
       "[CQ:forward,id=fw1]"},
      {R"({"type":"light_app","data":{"app_name":"app","json_payload":"{\"a\":1}"}})",
       R"({"type":"json","data":{"data":"{\"a\":1}"}})", "[CQ:json,data={\"a\":1},appname=app]"},
      {R"({"type":"xml","data":{"service_id":1,"xml_payload":"<x a=\"1,2\"/>"}})",
       R"({"type":"xml","data":{"data":"<x a=\"1,2\"/>"}})", "[CQ:xml,data=<x a=\"1&#44;2\"/>]"},
      {R"({"type":"file","data":{"file_id":"f","file_name":"n","file_size":1}})",
       R"({"type":"file","data":{"file_id":"f","file_name":"n"}})", "[CQ:file,file_id=f]"},
      {R"({"type":"new_kind","data":{"x":1}})", R"({"type":"new_kind","data":{"x":1}})", ""},
  };
  for (const auto& c : cases) {
    const std::string out = message(
        std::string(
            R"({"message_scene":"group","peer_id":20001,"message_seq":1,"sender_id":30001,"time":1,"segments":[)") +
        c.segment + "]}");
    HxJson root(cJSON_Parse(out.c_str()));
    const cJSON* segs = cJSON_GetObjectItemCaseSensitive(root.get(), "message");
    ASSERT_EQ(cJSON_GetArraySize(segs), 1) << c.segment;
    HxJson expected(cJSON_Parse(c.onebot));
    EXPECT_TRUE(contains(cJSON_GetArrayItem(segs, 0), expected.get())) << c.segment << "\n" << out;
    HxJson raw(cJSON_CreateString(c.raw));
    HxJsonText raw_text(cJSON_PrintUnformatted(raw.get()));
    EXPECT_TRUE(has(out, (R"({"raw_message":)" + std::string(raw_text.get()) + "}").c_str())) << c.segment;
  }
}

// ---- actions ----

struct Built {
  bool ok;
  std::string endpoint, params;
  int kind;
};

Built build(const char* action, const char* params, long long bot = 10001) {
  HxJson p(cJSON_Parse(params));
  MilkyRequest req;
  const bool ok = milky_build(action, p.get(), bot, req);
  HxJsonText text(req.params ? cJSON_PrintUnformatted(req.params.get()) : nullptr);
  return {ok, req.endpoint, text ? text.get() : "", req.kind};
}

TEST_F(MilkyActions, EveryActionHasItsEndpointAndParameters) {
  milky_seq_clear();
  milky_seq_put("group", 500, 10001, 20001, 500);
  milky_seq_put("friend", 501, 10001, 30001, 501);
  const struct {
    const char* action;
    const char* params;
    const char* endpoint;
    const char* milky;
    int kind;
  } cases[] = {
      {"send_group_msg", R"({"group_id":20001,"message":"hi"})", "send_group_message",
       R"({"group_id":20001,"message":[{"type":"text","data":{"text":"hi"}}]})", MILKY_REPLY_SENT},
      {"send_private_msg", R"({"user_id":30001,"group_id":20001,"message":"hi"})", "send_private_message",
       R"({"user_id":30001,"message":[{"type":"text","data":{"text":"hi"}}]})", MILKY_REPLY_SENT},
      {"send_msg", R"({"message_type":"group","user_id":20001,"message":"x"})", "send_group_message",
       R"({"group_id":20001,"message":[{"type":"text","data":{"text":"x"}}]})", MILKY_REPLY_SENT},
      {"send_msg", R"({"group_id":"20001","message":"x"})", "send_group_message",
       R"({"group_id":20001,"message":[{"type":"text","data":{"text":"x"}}]})", MILKY_REPLY_SENT},
      {"send_msg", R"({"group_id":20001,"user_id":30001,"message":"x"})", "send_private_message",
       R"({"user_id":30001,"message":[{"type":"text","data":{"text":"x"}}]})", MILKY_REPLY_SENT},
      {"delete_msg", R"({"message_id":500})", "recall_group_message", R"({"group_id":20001,"message_seq":500})", 0},
      {"delete_msg", R"({"message_id":501})", "recall_private_message", R"({"user_id":30001,"message_seq":501})", 0},
      {"delete_msg", R"({"message_id":9,"user_id":30009})", "recall_private_message",
       R"({"user_id":30009,"message_seq":9})", 0},
      {"delete_msg", R"({"message_id":9})", "recall_group_message", R"({"group_id":0,"message_seq":9})", 0},
      {"set_group_kick", R"({"group_id":20001,"user_id":30001})", "kick_group_member",
       R"({"group_id":20001,"user_id":30001,"reject_add_request":false})", 0},
      {"set_group_ban", R"({"group_id":20001,"user_id":30001})", "set_group_member_mute",
       R"({"group_id":20001,"user_id":30001,"duration":1800})", 0},
      {"set_group_ban", R"({"group_id":20001,"user_id":30001,"duration":0})", "set_group_member_mute",
       R"({"group_id":20001,"user_id":30001,"duration":0})", 0},
      {"set_group_whole_ban", R"({"group_id":20001})", "set_group_whole_mute", R"({"group_id":20001,"is_mute":true})",
       0},
      {"set_group_admin", R"({"group_id":20001,"user_id":30001,"enable":false})", "set_group_member_admin",
       R"({"group_id":20001,"user_id":30001,"is_set":false})", 0},
      {"set_group_card", R"({"group_id":20001,"user_id":30001,"card":"c"})", "set_group_member_card",
       R"({"group_id":20001,"user_id":30001,"card":"c"})", 0},
      {"set_group_name", R"({"group_id":20001,"group_name":"n"})", "set_group_name",
       R"({"group_id":20001,"new_group_name":"n"})", 0},
      {"set_group_special_title", R"({"group_id":20001,"user_id":30001,"special_title":"t"})",
       "set_group_member_special_title", R"({"group_id":20001,"user_id":30001,"special_title":"t"})", 0},
      {"set_group_leave", R"({"group_id":20001})", "quit_group", R"({"group_id":20001})", 0},
      {"set_essence_msg", R"({"message_id":500})", "set_group_essence_message",
       R"({"group_id":20001,"message_seq":500,"is_set":true})", 0},
      {"delete_essence_msg", R"({"message_id":7,"group_id":20002})", "set_group_essence_message",
       R"({"group_id":20002,"message_seq":7,"is_set":false})", 0},
      {"send_like", R"({"user_id":30001})", "send_profile_like", R"({"user_id":30001,"count":1})", 0},
      {"send_like", R"({"user_id":30001,"times":10})", "send_profile_like", R"({"user_id":30001,"count":10})", 0},
      {"get_login_info", "{}", "get_login_info", "{}", MILKY_REPLY_LOGIN},
      {"get_friend_list", "{}", "get_friend_list", "{}", MILKY_REPLY_FRIENDS},
      {"get_group_list", "{}", "get_group_list", R"({"no_cache":true})", MILKY_REPLY_GROUPS},
      {"get_group_member_list", R"({"group_id":20001})", "get_group_member_list", R"({"group_id":20001})",
       MILKY_REPLY_MEMBERS},
      {"get_group_member_info", R"({"group_id":20001,"user_id":30001})", "get_group_member_info",
       R"({"group_id":20001,"user_id":30001})", MILKY_REPLY_MEMBER},
      {"get_group_info", R"({"group_id":20001})", "get_group_info", R"({"group_id":20001})", MILKY_REPLY_GROUP},
      {"get_stranger_info", R"({"user_id":30001})", "get_user_profile", R"({"user_id":30001})", MILKY_REPLY_PROFILE},
      {"set_friend_add_request", R"({"flag":"fr|123","approve":false})", "reject_friend_request",
       R"({"initiator_uid":"123"})", 0},
      {"set_friend_add_request", R"({"flag":"fr|u_1","approve":false,"remark":"no"})", "reject_friend_request",
       R"({"initiator_uid":"u_1","reason":"no"})", 0},
      {"set_friend_add_request", R"({"flag":"fr|u_1"})", "accept_friend_request", R"({"initiator_uid":"u_1"})", 0},
      {"set_friend_add_request", R"({"flag":"u_2","approve":true})", "accept_friend_request",
       R"({"initiator_uid":"u_2"})", 0},
      {"set_group_add_request", R"({"flag":"join_request|55|777","approve":true})", "accept_group_request",
       R"({"notification_seq":55,"notification_type":"join_request","group_id":777})", 0},
      {"set_group_add_request", R"({"flag":"invited_join_request|56","group_id":20001,"approve":false,"reason":"r"})",
       "reject_group_request",
       R"({"notification_seq":56,"notification_type":"invited_join_request","group_id":20001,"reason":"r"})", 0},
      {"set_group_add_request", R"({"flag":"inv|20002|9","approve":false})", "reject_group_invitation",
       R"({"group_id":20002,"invitation_seq":9})", 0},
      {"get_msg", R"({"message_id":501})", "get_message",
       R"({"message_scene":"friend","peer_id":30001,"message_seq":501})", MILKY_REPLY_MESSAGE},
      {"get_msg", R"({"message_id":3})", "get_message", R"({"message_scene":"group","peer_id":0,"message_seq":3})",
       MILKY_REPLY_MESSAGE},
      {"get_cookies", R"({"domain":"qun.qq.com"})", "get_cookies", R"({"domain":"qun.qq.com"})", 0},
      {"get_csrf_token", "{}", "get_csrf_token", "{}", MILKY_REPLY_CSRF},
      {"set_msg_emoji_like", R"({"message_id":500,"emoji_id":76})", "send_group_message_reaction",
       R"({"group_id":20001,"message_seq":500,"reaction":"76","reaction_type":"face","is_add":true})", 0},
      {"delete_msg_emoji_like", R"({"message_id":8,"group_id":20003,"emoji_id":"5"})", "send_group_message_reaction",
       R"({"group_id":20003,"message_seq":8,"reaction":"5","reaction_type":"face","is_add":false})", 0},
      {"group_poke", R"({"group_id":20001,"user_id":30001})", "send_group_nudge",
       R"({"group_id":20001,"user_id":30001})", 0},
      {"send_poke", R"({"group_id":20001,"user_id":30001})", "send_group_nudge",
       R"({"group_id":20001,"user_id":30001})", 0},
      {"friend_poke", R"({"user_id":30001})", "send_friend_nudge", R"({"user_id":30001})", 0},
      {"get_essence_msg_list", R"({"group_id":20001})", "get_group_essence_messages",
       R"({"group_id":20001,"page_index":0,"page_size":20})", 0},
      {"_get_group_notice", R"({"group_id":20001})", "get_group_announcements", R"({"group_id":20001})", 0},
      {"_send_group_notice", R"({"group_id":20001,"content":"c","image":"C:\\a.png"})", "send_group_announcement",
       R"({"group_id":20001,"content":"c","image_uri":"file://C:\\a.png"})", 0},
      {"_send_group_notice", R"({"group_id":20001,"content":"c"})", "send_group_announcement",
       R"({"group_id":20001,"content":"c"})", 0},
      {"set_qq_avatar", R"({"file":"/tmp/a.png"})", "set_avatar", R"({"uri":"file:///tmp/a.png"})", 0},
      {"set_group_portrait", R"({"group_id":20001,"file":"http://x/a.png"})", "set_group_avatar",
       R"({"group_id":20001,"image_uri":"http://x/a.png"})", 0},
      {"get_version_info", "{}", "get_impl_info", "{}", 0},
      {"get_forward_msg", R"({"id":"fw1"})", "get_forwarded_messages", R"({"forward_id":"fw1"})", 0},
      {"mark_msg_as_read", R"({"message_id":4,"group_id":20005})", "mark_message_as_read",
       R"({"message_scene":"group","peer_id":20005,"message_seq":4})", 0},
      {"get_group_msg_history", R"({"group_id":20001,"message_seq":40})", "get_history_messages",
       R"({"message_scene":"group","peer_id":20001,"start_message_seq":40,"limit":20})", 0},
      {"get_friend_msg_history", R"({"user_id":30001,"start_seq":41,"count":5})", "get_history_messages",
       R"({"message_scene":"friend","peer_id":30001,"start_message_seq":41,"limit":5})", 0},
      {"upload_private_file", R"({"user_id":30001,"file":"/d/a.txt","name":"a.txt"})", "upload_private_file",
       R"({"user_id":30001,"file_uri":"file:///d/a.txt","file_name":"a.txt"})", 0},
      {"upload_group_file", R"({"group_id":20001,"file":"/d/a.txt","name":"a.txt","folder":"/"})", "upload_group_file",
       R"({"group_id":20001,"parent_folder_id":"/","file_uri":"file:///d/a.txt","file_name":"a.txt"})", 0},
      {"delete_friend", R"({"user_id":30001})", "delete_friend", R"({"user_id":30001})", 0},
  };
  for (const auto& c : cases) {
    const Built b = build(c.action, c.params);
    EXPECT_TRUE(b.ok) << c.action;
    EXPECT_EQ(b.endpoint, c.endpoint) << c.action << " " << c.params;
    EXPECT_EQ(b.params, c.milky) << c.action << " " << c.params;
    EXPECT_EQ(b.kind, c.kind) << c.action;
  }
  for (const char* unsupported : {"get_status", "can_send_image", "set_restart", ""})
    EXPECT_FALSE(build(unsupported, "{}").ok) << unsupported;
  EXPECT_FALSE(build("set_group_add_request", R"({"flag":"gr|12"})").ok) << "no API answers a request id";
  EXPECT_EQ(build("get_login_info", "null").endpoint, "get_login_info") << "absent parameters";
}

std::string milky_of(const char* onebot_message) {
  HxJson m(cJSON_Parse(onebot_message));
  HxJson out(onebot_message_to_milky(m.get()));
  HxJsonText text(cJSON_PrintUnformatted(out.get()));
  return text.get();
}

TEST_F(MilkyActions, MessagesBecomeMilkySegments) {
  const struct {
    const char* onebot;  // a JSON value: CQ text or a segment array
    const char* milky;
  } cases[] = {
      {R"("a[CQ:face,id=14]b")",
       R"([{"type":"text","data":{"text":"a"}},{"type":"face","data":{"face_id":"14"}},{"type":"text","data":{"text":"b"}}])"},
      {R"("[CQ:at,qq=0][CQ:at,qq=all][CQ:at][CQ:at,qq=30001]")",
       R"([{"type":"mention_all","data":{}},{"type":"mention_all","data":{}},{"type":"mention_all","data":{}},{"type":"mention","data":{"user_id":30001}}])"},
      {R"("[CQ:reply,id=99]&#91;x&#93;&amp;")",
       R"([{"type":"reply","data":{"message_seq":99}},{"type":"text","data":{"text":"[x]&"}}])"},
      {R"("[CQ:image,file=C:\\pic\\a.png]")", R"([{"type":"image","data":{"uri":"file://C:\\pic\\a.png"}}])"},
      {R"("[CQ:record,file=aGVsbG8=]")", R"([{"type":"record","data":{"uri":"base64://aGVsbG8="}}])"},
      {R"("[CQ:video,file=base64://aGVsbG8=]")", R"([{"type":"video","data":{"uri":"base64://aGVsbG8="}}])"},
      {R"("[CQ:image,file=abc]")", R"([{"type":"text","data":{"text":"[图片]"}}])"},
      {R"("[CQ:image]")", R"([{"type":"text","data":{"text":""}}])"},
      {R"("[CQ:json,data={\"a\":1&#44;\"b\":2}]")",
       R"([{"type":"light_app","data":{"json_payload":"{\"a\":1,\"b\":2}"}}])"},
      {R"("[CQ:xml,data=<x/>]")", R"([{"type":"text","data":{"text":"[XML卡片]"}}])"},
      {R"("[CQ:shake]")", R"([{"type":"text","data":{"text":"[CQ:shake]"}}])"},
      {R"("x[CQ:face,id=1")", R"([{"type":"text","data":{"text":"x[CQ:face,id=1"}}])"},
      {R"("")", R"([{"type":"text","data":{"text":""}}])"},
      {R"([{"type":"text","data":{"text":"t"}},{"type":"at","data":{"qq":30001}},{"type":"at","data":{"qq":"all"}},
          {"type":"face","data":{"id":5}},{"type":"reply","data":{"id":"7"}},{"type":"image","data":{"file":"https://x/a.png"}},
          {"type":"forward","data":{"id":"f"}},{"type":"json","data":{"data":"{}"}},{"type":"poke","data":{"text":"p"}},{"type":"text","data":{"text":""}}])",
       R"([{"type":"text","data":{"text":"t"}},{"type":"mention","data":{"user_id":30001}},{"type":"mention_all","data":{}},
           {"type":"face","data":{"face_id":"5"}},{"type":"reply","data":{"message_seq":7}},{"type":"image","data":{"uri":"https://x/a.png"}},
           {"type":"text","data":{"text":"[转发消息 f]"}},{"type":"light_app","data":{"json_payload":"{}"}},{"type":"text","data":{"text":"p"}}])"},
  };
  for (const auto& c : cases) {
    HxJson expected(cJSON_Parse(c.milky));
    HxJsonText want(cJSON_PrintUnformatted(expected.get()));
    EXPECT_EQ(milky_of(c.onebot), want.get()) << c.onebot;
  }

  hx_log_clear();
  milky_of(R"("[CQ:image,file=abc]")");
  EXPECT_TRUE(logged("发送图片失败：uri 不是合法的 base64/地址（长度3，开头 abc），已降级为文本"));

  std::string forty = "[CQ:face";
  for (int i = 0; i < 40; ++i) forty += ",k" + std::to_string(i) + "=v";
  forty += ",id=3]";
  hx_cfg_set(&HxCfg::logDispatch, 1);
  hx_log_clear();
  EXPECT_EQ(milky_of(("\"" + forty + "\"").c_str()), R"([{"type":"face","data":{"face_id":""}}])")
      << "the id after the 32nd pair is not read";
  EXPECT_TRUE(logged("CQ 码参数超过 32 组，多余的已忽略："));
}

TEST_F(MilkyActions, ForwardAndPlainSends) {
  const Built fwd = build("send_group_forward_msg", R"({"group_id":20001,"messages":[
      {"type":"node","data":{"user_id":30001,"nickname":"A","content":"hi"}},
      {"uin":"30002","name":"B","content":[{"type":"text","data":{"text":"yo"}}]}]})");
  HxJson p(cJSON_Parse(fwd.params.c_str()));
  const cJSON* nodes = cJSON_GetObjectItemCaseSensitive(
      cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(p.get(), "message"), 0),
                                       "data"),
      "messages");
  ASSERT_EQ(cJSON_GetArraySize(nodes), 2) << fwd.params;
  EXPECT_TRUE(has(HxJsonText(cJSON_PrintUnformatted(cJSON_GetArrayItem(nodes, 0))).get(),
                  R"({"user_id":30001,"sender_name":"A","segments":[{"type":"text","data":{"text":"hi"}}]})"));
  EXPECT_TRUE(has(HxJsonText(cJSON_PrintUnformatted(cJSON_GetArrayItem(nodes, 1))).get(),
                  R"({"user_id":30002,"sender_name":"B","segments":[{"type":"text","data":{"text":"yo"}}]})"));

  EXPECT_EQ(build("send_group_msg", R"({"group_id":20001,"auto_escape":true,"message":"[CQ:face,id=1]&amp;"})").params,
            R"({"group_id":20001,"message":[{"type":"text","data":{"text":"[CQ:face,id=1]&"}}]})");
  EXPECT_EQ(
      build(
          "send_group_msg",
          R"({"group_id":20001,"auto_escape":true,"message":[{"type":"text","data":{"text":"a"}},{"type":"face","data":{"id":1}},{"type":"text","data":{"text":"b"}}]})")
          .params,
      R"({"group_id":20001,"message":[{"type":"text","data":{"text":"ab"}}]})");
}

}  // namespace
