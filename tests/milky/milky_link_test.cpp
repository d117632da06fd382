// Milky backends end to end: the scripted backend of tools/milky_backend
// checks every request against the protocol's own schemas; the host logs in,
// turns its events into plugin records and carries plugin actions to it.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <string>
#include <vector>

#include "api/api.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "milky/milky.h"
#include "support/link_fixture.h"
#include "support/plugin_capture.h"
#include "support/scoped_env.h"
#include "support/wait.h"

namespace {

constexpr long long kBot = 10001;

class MilkyLink : public LinkFixture {
 protected:
  void SetUp() override {
#if !HX_HAVE_HTTP
    GTEST_SKIP() << "no HTTP client on this target: Milky backends cannot be served here";
#endif
    LinkFixture::SetUp();
    if (IsSkipped()) return;
    EXPECT_FALSE(hx_milky_mode()) << "no marker file yet";
    ASSERT_TRUE(hx_write_file(hx_path_join(hx_data_dir(), "milky.txt"), ""));
    hx_milky_detect();
    ASSERT_TRUE(hx_milky_mode());
    milky_seq_clear();
    capture_.clear();
  }

  // A Milky backend for `qq` (its login info names that QQ), logged in.
  std::unique_ptr<Backend> online(const std::string& qq, const std::string& replies = "{}",
                                  const std::string& events = "[]", const std::string& token = "") {
    const std::string script = R"({"replies":)" + with_login(replies, qq) + R"(,"events":)" + events + "}";
    auto b = std::make_unique<Backend>(
        token.empty() ? std::vector<std::string>{} : std::vector<std::string>{"--token", token}, script,
        Backend::Kind::milky);
    EXPECT_TRUE(b->started()) << b->first_line();
    add_account(qq, b->port(), token);
    EXPECT_TRUE(hx_ob_login(qq));
    EXPECT_TRUE(wait_until([&] { return hx_ob_online(qq); }, 10000)) << b->output();
    return b;
  }
  static std::string with_login(const std::string& replies, const std::string& qq) {
    if (replies.find("get_login_info") != std::string::npos) return replies;
    const std::string login = R"("get_login_info":{"mode":"ok","data":{"uin":)" + qq + R"(,"nickname":"bot"}})";
    return replies == "{}" ? "{" + login + "}" : "{" + login + "," + replies.substr(1);
  }

  // The API requests a backend received: {name, body, valid}.
  struct Request {
    std::string name, body;
    bool valid;
  };
  static std::vector<Request> requests(Backend& b) {
    std::vector<Request> out;
    for (const std::string& line : b.records()) {
      HxJson rec(cJSON_Parse(line.c_str()));
      if (std::string_view(cJSON_GetStringValue(cJSON_GetObjectItem(rec.get(), "kind"))
                               ? cJSON_GetStringValue(cJSON_GetObjectItem(rec.get(), "kind"))
                               : "") != "api")
        continue;
      HxJsonText body(cJSON_PrintUnformatted(cJSON_GetObjectItem(rec.get(), "body")));
      out.push_back({cJSON_GetStringValue(cJSON_GetObjectItem(rec.get(), "name")), body ? body.get() : "",
                     cJSON_IsTrue(cJSON_GetObjectItem(rec.get(), "valid")) != 0});
    }
    return out;
  }
  // The next request past the first `seen`, waited for.
  static Request next_request(Backend& b, std::size_t seen) {
    std::vector<Request> all;
    wait_until([&] { return (all = requests(b)).size() > seen; }, 5000);
    return all.size() > seen ? all[seen] : Request{"<none>", "", false};
  }
  // Waits until the login's nickname and roster queries went out, so that
  // a test sees only the requests it caused.
  static void settled(Backend& b) {
    ASSERT_TRUE(wait_until(
        [&] {
          for (const Request& r : requests(b))
            if (r.name == "get_group_list") return true;
          return false;
        },
        10000));
  }

  static int lines(const std::string& text) {
    int n = 0;
    hx_log_entry e;
    for (int i = 0; hx_log_at(i, &e); ++i) n += std::string(e.text).find(text) != std::string::npos ? 1 : 0;
    return n;
  }

  PluginCapture capture_;
};

TEST_F(MilkyLink, EachLinkLogsInAsItsOwnAccount) {
  EXPECT_EQ(lines("协议检测：发现 Milky 标记文件"), 1);
  auto a = online("10001", "{}", "[]", "k");
  auto b = online("10002");
  EXPECT_TRUE(hx_ob_online("10001"));
  EXPECT_TRUE(hx_ob_online("10002"));
  for (Backend* backend : {a.get(), b.get()}) {
    const auto reqs = requests(*backend);
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(reqs[0].name, "get_login_info");
    EXPECT_TRUE(reqs[0].valid);
  }
  ASSERT_TRUE(wait_until([] { return PluginCapture::notifications().size() >= 2; }));
  const auto told = PluginCapture::notifications();
  EXPECT_NE(std::find(told.begin(), told.end(), "+10001"), told.end());
  EXPECT_NE(std::find(told.begin(), told.end(), "+10002"), told.end());
}

TEST_F(MilkyLink, LoginWaitsForTheBackendsAccount) {
  ScopedEnv retry("HX_MILKY_LOGIN_RETRY_SEC", "1");
  Backend refusing({}, R"({"replies":{"get_login_info":{"mode":"failed","message":"not yet"}}})", Backend::Kind::milky);
  add_account("10001", refusing.port());
  ASSERT_TRUE(hx_ob_login("10001"));
  ASSERT_TRUE(wait_until([&] { return requests(refusing).size() >= 2; }, 10000)) << "asked again after a second";
  EXPECT_EQ(lines("Milky：取登录信息失败（第 1 次），每 1 秒重试"), 1);
  EXPECT_FALSE(hx_ob_online("10001"));
  hx_ob_logout("10001");

  Backend nobody({}, R"({"replies":{"get_login_info":{"mode":"ok","data":{"uin":0,"nickname":""}}}})",
                 Backend::Kind::milky);
  add_account("10002", nobody.port());
  ASSERT_TRUE(hx_ob_login("10002"));
  ASSERT_TRUE(wait_until([] { return lines("Milky：登录信息里没有 QQ 号") == 1; }, 10000));
  EXPECT_FALSE(hx_ob_online("10002"));
}

// Events of every kind of the protocol, as its schema has them.
const char* const kGroup =
    R"({"group_id":20001,"group_name":"测试群","member_count":3,"max_member_count":200,"remark":"","created_time":0,"description":"","question":"","announcement":""})";
const char* const kMember =
    R"({"user_id":30001,"nickname":"明明","sex":"unknown","group_id":20001,"card":"","title":"","level":1,"role":"member","join_time":0,"last_sent_time":0})";

std::string scripted(const std::vector<std::pair<const char*, std::string>>& events) {
  std::string out = "[";
  int at = 500;
  for (const auto& [type, data] : events) {
    if (out.size() > 1) out += ",";
    out += R"({"at_ms":)" + std::to_string(at += 30) + R"(,"event":{"event_type":")" + type +
           R"(","self_id":10001,"data":)" + data + "}}";
  }
  return out + "]";
}

TEST_F(MilkyLink, EveryEventReachesThePluginsAsItsRecord) {
  const struct {
    const char* type;
    std::string data;
    int kind;        // 0 group, 1 private, 2 event
    int event_type;  // for events
  } cases[] = {
      {"message_receive",
       std::string(
           R"({"message_scene":"group","peer_id":20001,"message_seq":11,"sender_id":30001,"time":1700000000,"segments":[{"type":"text","data":{"text":"你好,"}},{"type":"mention","data":{"user_id":10001}}],"group":)") +
           kGroup + R"(,"group_member":)" + kMember + "}",
       0, 0},
      {"message_receive",
       R"({"message_scene":"friend","peer_id":30001,"message_seq":12,"sender_id":30001,"time":1700000000,"segments":[{"type":"text","data":{"text":"hi"}}],"friend":{"user_id":30001,"nickname":"f","sex":"unknown","qid":"","remark":"","category":{"category_id":1,"category_name":"好友"}}})",
       1, 0},
      {"message_recall",
       R"({"message_scene":"group","peer_id":20001,"message_seq":11,"sender_id":30001,"operator_id":30001,"display_suffix":""})",
       2, 8},
      {"message_recall",
       R"({"message_scene":"friend","peer_id":30001,"message_seq":12,"sender_id":30001,"operator_id":30001,"display_suffix":""})",
       2, 103},
      {"group_member_increase", R"({"group_id":20001,"user_id":30002,"operator_id":30001,"invitor_id":30001})", 2, 25},
      {"group_member_decrease", R"({"group_id":20001,"user_id":30002,"operator_id":30002})", 2, 5},
      {"group_admin_change", R"({"group_id":20001,"user_id":30001,"operator_id":30003,"is_set":true})", 2, 10},
      {"group_mute", R"({"group_id":20001,"user_id":30001,"operator_id":30003,"duration":600})", 2, 7},
      {"group_whole_mute", R"({"group_id":20001,"operator_id":30003,"is_mute":false})", 2, 12},
      {"friend_request", R"({"initiator_id":30004,"initiator_uid":"u_4","comment":"加我","via":"搜索"})", 2, 105},
      {"group_join_request",
       R"({"group_id":20001,"notification_seq":55,"is_filtered":false,"initiator_id":30005,"comment":"让我进"})", 2, 3},
      {"group_invited_join_request",
       R"({"group_id":20001,"notification_seq":56,"initiator_id":30001,"target_user_id":30006})", 2, 3},
      {"group_invitation", R"({"group_id":20002,"invitation_seq":9,"initiator_id":30001})", 2, 1},
      {"group_nudge",
       R"({"group_id":20001,"sender_id":30001,"receiver_id":10001,"display_action":"戳了戳","display_suffix":"","display_action_img_url":""})",
       2, 1002},
      {"friend_nudge",
       R"({"user_id":30001,"is_self_send":false,"is_self_receive":true,"display_action":"戳了戳","display_suffix":"","display_action_img_url":""})",
       2, 1002},
      {"group_file_upload", R"({"group_id":20001,"user_id":30001,"file_id":"f1","file_name":"a.txt","file_size":12})",
       2, 1004},
      {"group_message_reaction",
       R"({"group_id":20001,"user_id":30001,"message_seq":11,"face_id":"76","reaction_type":"face","is_add":true})", 2,
       1003},
      {"group_essence_message_change", R"({"group_id":20001,"message_seq":11,"operator_id":30003,"is_set":true})", 2,
       1001},
  };
  std::vector<std::pair<const char*, std::string>> events;
  for (const auto& c : cases) events.emplace_back(c.type, c.data);
  events.emplace_back("group_name_change", R"({"group_id":20001,"new_group_name":"新名","operator_id":30003})");
  auto backend = online("10001", "{}", scripted(events));
  const std::size_t want = std::size(cases);
  ASSERT_TRUE(wait_until([&] { return PluginCapture::total() > want; }, 10000)) << backend->output();
  ASSERT_TRUE(wait_until([] { return lines("Milky 事件 group_name_change 无 OneBot 对应类型，已忽略") == 1; }));
  std::vector<HxDispatched> got;
  for (const HxDispatched& d : PluginCapture::events())
    if (d.kind != 2 || d.event.event_type != 31) got.push_back(d);  // the host's own login event
  std::string kinds;
  for (const auto& g : got) kinds += std::to_string(g.kind) + "/" + std::to_string(g.event.event_type) + " ";
  ASSERT_EQ(got.size(), want) << kinds;
  for (std::size_t i = 0; i < want; ++i) {
    SCOPED_TRACE(cases[i].type);
    EXPECT_EQ(got[i].kind, cases[i].kind);
    if (cases[i].kind == 2) {
      EXPECT_EQ(got[i].event.event_type, cases[i].event_type);
    }
  }
  EXPECT_EQ(got[0].group.group_id, 20001);
  EXPECT_EQ(got[0].group.sender_qq, 30001);
  const std::string gbk_text = hx_utf8_to_gbk("你好,[CQ:at,qq=10001]").value_or("?");
  EXPECT_NE(std::find(got[0].texts.begin(), got[0].texts.end(), gbk_text), got[0].texts.end())
      << "the message text, commas as they are";
  EXPECT_EQ(got[1].priv.sender_qq, 30001);
  EXPECT_EQ(got[9].texts.at(4), "fr|u_4") << "a friend request is answered by the requester's uid";
}

// Every action a plugin can cause, as the protocol's schemas accept it.
TEST_F(MilkyLink, EveryActionGoesOutAsARequestTheSchemasAccept) {
  auto backend = online("10001");
  settled(*backend);
  milky_seq_put("group", 500, kBot, 20001, 500);
  const struct {
    const char* action;
    const char* params;
    const char* endpoint;
  } cases[] = {
      {"send_group_msg",
       R"({"group_id":20001,"message":"hi[CQ:face,id=14][CQ:at,qq=30001][CQ:image,file=https://x/a.png]"})",
       "send_group_message"},
      {"send_private_msg", R"({"user_id":30001,"group_id":20001,"message":[{"type":"text","data":{"text":"hi"}}]})",
       "send_private_message"},
      {"send_msg", R"({"message_type":"group","group_id":20001,"message":"[CQ:reply,id=500]ok"})",
       "send_group_message"},
      {"send_group_forward_msg",
       R"({"group_id":20001,"messages":[{"type":"node","data":{"user_id":30001,"nickname":"A","content":"x"}}]})",
       "send_group_message"},
      {"send_group_msg", R"({"group_id":20001,"message":"[CQ:json,data={}][CQ:xml,data=<x/>]"})", "send_group_message"},
      {"delete_msg", R"({"message_id":500})", "recall_group_message"},
      {"set_group_kick", R"({"group_id":20001,"user_id":30001,"reject_add_request":true})", "kick_group_member"},
      {"set_group_ban", R"({"group_id":20001,"user_id":30001,"duration":60})", "set_group_member_mute"},
      {"set_group_whole_ban", R"({"group_id":20001,"enable":true})", "set_group_whole_mute"},
      {"set_group_admin", R"({"group_id":20001,"user_id":30001})", "set_group_member_admin"},
      {"set_group_card", R"({"group_id":20001,"user_id":30001,"card":"c"})", "set_group_member_card"},
      {"set_group_name", R"({"group_id":20001,"group_name":"n"})", "set_group_name"},
      {"set_group_special_title", R"({"group_id":20001,"user_id":30001,"special_title":"t"})",
       "set_group_member_special_title"},
      {"set_group_leave", R"({"group_id":20001})", "quit_group"},
      {"set_essence_msg", R"({"message_id":500})", "set_group_essence_message"},
      {"send_like", R"({"user_id":30001,"times":5})", "send_profile_like"},
      {"get_login_info", "{}", "get_login_info"},
      {"get_friend_list", "{}", "get_friend_list"},
      {"get_group_list", "{}", "get_group_list"},
      {"get_group_member_list", R"({"group_id":20001})", "get_group_member_list"},
      {"get_group_member_info", R"({"group_id":20001,"user_id":30001})", "get_group_member_info"},
      {"get_group_info", R"({"group_id":20001})", "get_group_info"},
      {"get_stranger_info", R"({"user_id":30001})", "get_user_profile"},
      {"set_friend_add_request", R"({"flag":"fr|u_4","approve":false,"remark":"no"})", "reject_friend_request"},
      {"set_group_add_request", R"({"flag":"join_request|55|20001","approve":true})", "accept_group_request"},
      {"set_group_add_request", R"({"flag":"inv|20002|9","approve":true})", "accept_group_invitation"},
      {"get_msg", R"({"message_id":500})", "get_message"},
      {"get_cookies", R"({"domain":"qun.qq.com"})", "get_cookies"},
      {"get_csrf_token", "{}", "get_csrf_token"},
      {"set_msg_emoji_like", R"({"message_id":500,"emoji_id":76})", "send_group_message_reaction"},
      {"group_poke", R"({"group_id":20001,"user_id":30001})", "send_group_nudge"},
      {"friend_poke", R"({"user_id":30001})", "send_friend_nudge"},
      {"get_essence_msg_list", R"({"group_id":20001})", "get_group_essence_messages"},
      {"_get_group_notice", R"({"group_id":20001})", "get_group_announcements"},
      {"_send_group_notice", R"({"group_id":20001,"content":"c","image":"/tmp/a.png"})", "send_group_announcement"},
      {"set_qq_avatar", R"({"file":"https://x/a.png"})", "set_avatar"},
      {"set_group_portrait", R"({"group_id":20001,"file":"C:\\a.png"})", "set_group_avatar"},
      {"get_version_info", "{}", "get_impl_info"},
      {"get_forward_msg", R"({"id":"fw1"})", "get_forwarded_messages"},
      {"mark_msg_as_read", R"({"message_id":500})", "mark_message_as_read"},
      {"get_group_msg_history", R"({"group_id":20001,"message_seq":40,"count":5})", "get_history_messages"},
      {"upload_private_file", R"({"user_id":30001,"file":"/d/a.txt","name":"a.txt"})", "upload_private_file"},
      {"upload_group_file", R"({"group_id":20001,"file":"/d/a.txt","name":"a.txt"})", "upload_group_file"},
      {"delete_friend", R"({"user_id":30001})", "delete_friend"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + c.params);
    const std::size_t seen = requests(*backend).size();
    std::optional<std::string> reply;
    EXPECT_TRUE(hx_ob_call("10001", c.action, c.params, &reply, 5000));
    const Request r = next_request(*backend, seen);
    EXPECT_EQ(r.name, c.endpoint);
    EXPECT_TRUE(r.valid) << r.body;
    ASSERT_TRUE(reply);
    HxJson parsed(cJSON_Parse(reply->c_str()));
    EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItem(parsed.get(), "status")), "ok") << *reply;
  }
}

TEST_F(MilkyLink, FailuresAndSilenceBecomeOneBotFailures) {
  auto backend = online(
      "10001",
      R"({"delete_friend":{"mode":"failed","retcode":-500,"message":"不行"},"get_group_info":{"mode":"never"}})");
  settled(*backend);
  std::optional<std::string> reply;
  EXPECT_FALSE(hx_ob_call("10001", "delete_friend", R"({"user_id":30001})", &reply, 3000));
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, R"({"status":"failed","retcode":-404,"wording":"不行"})");
  EXPECT_EQ(lines("Milky 调用 delete_friend 返回失败：不行"), 1);

  for (int i = 0; i < 10; ++i)
    EXPECT_FALSE(hx_ob_call("10001", "get_group_info", R"({"group_id":20001})", &reply, 200));
  EXPECT_FALSE(reply) << "nothing came back";
  EXPECT_EQ(lines("Milky 调用 get_group_info 超时：200 毫秒内后端没回"), 1) << "one line for ten time-outs";
  EXPECT_EQ(lines("Milky 调用 get_group_info 超时（累计第"), 0);

  const std::size_t seen = requests(*backend).size();
  EXPECT_FALSE(hx_ob_call("10001", "get_status", "{}", &reply, 3000)) << "no success for what was never done";
  EXPECT_EQ(lines("Milky 不支持动作 get_status"), 1);
  hold_for(200);
  EXPECT_EQ(requests(*backend).size(), seen) << "it did not go out";

  // A QQ the list lacks is served by the only account there is, never by
  // one of several.
  EXPECT_TRUE(hx_ob_call("99999", "get_login_info", "{}", &reply, 3000));
  EXPECT_EQ(lines("Milky：配置里没有账号 99999，本次 get_login_info 走的是 10001 的监听地址"), 1);
  add_account("10002", free_port());
  const std::size_t before = requests(*backend).size();
  EXPECT_FALSE(hx_ob_call("99999", "get_login_info", "{}", &reply, 3000));
  EXPECT_EQ(lines("Milky：配置里没有账号 99999，动作 get_login_info 未发出"), 1);
  hold_for(200);
  EXPECT_EQ(requests(*backend).size(), before);

  hx_ob_logout("10001");
  ASSERT_TRUE(wait_until([] { return hx_ob_link_count() == 0; }));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(hx_ob_call("10001", "get_friend_list", "{}", &reply, 3000));
  EXPECT_EQ(lines("Milky 调用 get_friend_list 已跳过：当前到后端没有连接"), 1);
}

TEST_F(MilkyLink, WhatThePluginSentCanBeRecalled) {
  auto backend = online("10001", R"({"send_group_message":{"mode":"ok","data":{"message_seq":77,"time":1700000000}}})");
  settled(*backend);
  EXPECT_STREQ(api_send_group_msg(0, kBot, 20001, "hi", 0), "1");
  const std::size_t seen = requests(*backend).size();
  EXPECT_TRUE(hx_ob_call("10001", "delete_msg", R"({"message_id":77})", nullptr, 3000));
  const Request r = next_request(*backend, seen);
  EXPECT_EQ(r.name, "recall_group_message");
  EXPECT_EQ(r.body, R"({"group_id":20001,"message_seq":77})");
  EXPECT_EQ(hx_ob_stat_get("10001", 1), 1) << "the send is counted";
}

}  // namespace
