// Event intake: classification, filters, records for the plugins, log lines
// and the message cache, fed in without a connection.
#include <gtest/gtest.h>

#include <cstring>

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "link/onebot_internal.h"
#include "plugin/plugin.h"
#include "support/plugin_capture.h"
#include "support/temp_dir.h"

namespace {

class Intake : public ::testing::Test {
 protected:
  void SetUp() override {
    hx_set_data_dir(dir.path());
    hx_cfg_load();
    hx_log_init(5000);
    hx_log_set_switch(HX_LOG_DEBUG, 1);
    capture.clear();
    hx_ob_msgcache_clear();
  }
  void TearDown() override {
    hx_log_shutdown();
    hx_set_data_dir("");
  }
  static bool logged(const std::string& text, const char* source = nullptr) {
    hx_log_entry e;
    for (int i = 0; hx_log_at(i, &e); ++i) {
      if (std::string(e.text).find(text) != std::string::npos && (!source || std::string(e.source) == source)) {
        return true;
      }
    }
    return false;
  }
  std::vector<HxDispatched> events() { return capture.events(); }
  static std::string utf8(const std::string& gbk) { return hx_gbk_to_utf8(gbk).value_or("?"); }

  TempDir dir;
  PluginCapture capture;
};

TEST_F(Intake, NoticeAndRequestTypesAndLogLines) {
  struct Case {
    std::string json;
    int type;
    std::string line;
  } cases[] = {
      {R"({"post_type":"notice","notice_type":"group_decrease","sub_type":"leave","group_id":1,"user_id":2,"operator_id":2})",
       5, "[群事件_某人退出了群] 群1 操作2 触发2"},
      {R"({"post_type":"notice","notice_type":"group_decrease","sub_type":"kick","group_id":1,"user_id":2,"operator_id":3})",
       6, "[群事件_某人被踢出群]"},
      {R"({"post_type":"notice","notice_type":"group_decrease","sub_type":"kick_me","group_id":1,"user_id":9})", 6, ""},
      {R"({"post_type":"notice","notice_type":"group_increase","sub_type":"approve","group_id":1,"user_id":2})", 2,
       "[群事件_某人加入了群]"},
      {R"({"post_type":"notice","notice_type":"group_increase","sub_type":"invite","group_id":1,"user_id":2})", 25, ""},
      {R"({"post_type":"notice","notice_type":"group_ban","sub_type":"ban","group_id":1,"user_id":0,"duration":0})", 11,
       "[群事件_开启全员禁言]"},
      {R"({"post_type":"notice","notice_type":"group_ban","sub_type":"lift_ban","group_id":1,"user_id":0})", 12,
       "[群事件_关闭全员禁言]"},
      {R"({"post_type":"notice","notice_type":"group_ban","sub_type":"ban","group_id":1,"user_id":5,"duration":600})",
       7, "[群事件_某人被禁言]"},
      {R"({"post_type":"notice","notice_type":"group_ban","sub_type":"lift_ban","group_id":1,"user_id":"5"})", 28, ""},
      {R"({"post_type":"notice","notice_type":"notify","sub_type":"poke","group_id":1,"user_id":2,"target_id":3})",
       1002, "[群事件_戳一戳]"},
      {R"({"post_type":"notice","notice_type":"notify","sub_type":"title","group_id":1,"user_id":2})", 1002, ""},
      {R"({"post_type":"notice","sub_type":"poke","user_id":2})", 1002, ""},
      {R"({"post_type":"notice","notice_type":"group_admin","sub_type":"set","group_id":1,"user_id":2})", 10, ""},
      {R"({"post_type":"notice","notice_type":"group_admin","sub_type":"unset","group_id":1,"user_id":2})", 9, ""},
      {R"({"post_type":"notice","notice_type":"friend_add","user_id":2})", 104, "[好友事件_有新好友]"},
      {R"({"post_type":"notice","notice_type":"friend_recall","user_id":2,"message_id":7})", 103, ""},
      {R"({"post_type":"notice","notice_type":"essence","sub_type":"add","group_id":1})", 1001, ""},
      {R"({"post_type":"notice","notice_type":"group_card","group_id":1,"user_id":2})", 36, ""},
      {R"({"post_type":"notice","notice_type":"group_upload","group_id":1,"user_id":2})", 1004, ""},
      {R"({"post_type":"notice","notice_type":"group_msg_emoji_like","group_id":1})", 1003, ""},
      {R"({"post_type":"notice","notice_type":"something_new"})", 0, "[未知事件]"},
      {R"({"post_type":"notice"})", 0, ""},
      {R"({"post_type":"request","request_type":"friend","user_id":2,"comment":"加我","flag":"f-1"})", 105,
       "[好友事件_好友请求]"},
      {R"({"post_type":"request","request_type":"group","sub_type":"add","group_id":1,"user_id":2})", 3,
       "[群事件_某人申请加群]"},
      {R"({"post_type":"request","request_type":"group","sub_type":"invite","group_id":1,"user_id":2})", 1,
       "[群事件_我被邀请加入群]"},
      {R"({"post_type":"request","request_type":"other"})", 0, ""},
      {R"({"post_type":"request"})", 0, ""},
  };
  for (const auto& c : cases) {
    std::string text = R"({"self_id":10001,"time":1700000000,)" + c.json.substr(1);
    capture.clear();
    hx_ob_feed_event(text);
    auto got = events();
    ASSERT_EQ(got.size(), 1u) << c.json;
    EXPECT_EQ(got[0].kind, 2) << c.json;
    EXPECT_EQ(got[0].event.event_type, c.type) << c.json;
    EXPECT_EQ(got[0].event.bot_qq, 10001) << c.json;
    EXPECT_EQ(got[0].event.time, 1700000000) << c.json;
    if (!c.line.empty()) {
      EXPECT_TRUE(logged(c.line, "10001")) << c.line;
    }
  }
  EXPECT_EQ(std::string(hx_ob_event_name(31)), "框架事件_登录成功");
  EXPECT_EQ(std::string(hx_ob_event_name(50)), "群事件_我被邀请加入群");
  EXPECT_EQ(std::string(hx_ob_event_name(2000)), "群事件_戳一戳");
}

TEST_F(Intake, EventRecordFields) {
  hx_ob_feed_event(
      R"({"self_id":"10001","time":5,"post_type":"request","request_type":"friend","user_id":"9876543210",)"
      R"("comment":"你好🙈","flag":"flag-中"})");
  auto got = events();
  ASSERT_EQ(got.size(), 1u);
  const HxEventMsg& e = got[0].event;
  EXPECT_EQ(e.user_qq, 9876543210LL) << "ids beyond 2^31";
  EXPECT_EQ(utf8(got[0].texts[3]), "你好[emoji]");  // content, GBK-safe
  EXPECT_EQ(got[0].texts[4], "flag-中") << "the flag stays UTF-8";
  capture.clear();
  hx_ob_feed_event(R"({"self_id":1,"post_type":"notice","notice_type":"group_ban","sub_type":"ban","group_id":2,)"
                   R"("user_id":3,"operator_id":4,"duration":600})");
  const HxEventMsg b = events().at(0).event;
  EXPECT_EQ(b.group_id, 2);
  EXPECT_EQ(b.user_qq, 3);
  EXPECT_EQ(b.operator_qq, 4);
  EXPECT_EQ(b.duration, 600);
}

TEST_F(Intake, GroupMessageRecord) {
  hx_pl_cache_group("10001", "20001", "演示群");
  hx_ob_feed_event(
      R"({"self_id":10001,"time":1700000001,"post_type":"message","message_type":"group","group_id":20001,)"
      R"("user_id":30001,"message_id":-12345,"message":"早上好🌞 한","raw_message":"raw",)"
      R"("sender":{"nickname":"小明","card":""}})");
  auto got = events();
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].kind, 0);
  const HxGroupMsg& g = got[0].group;
  EXPECT_EQ(g.sender_qq, 30001);
  EXPECT_EQ(g.bot_qq, 10001);
  EXPECT_EQ(g.group_id, 20001);
  EXPECT_EQ(g.message_id, -12345);
  EXPECT_EQ(g.msg_time, 1700000001);
  EXPECT_NEAR(static_cast<double>(g.recv_time), static_cast<double>(hx_now()), 2);
  // group name, card (nickname when empty), raw, message, nickname — GBK
  EXPECT_EQ(got[0].texts[0], *hx_utf8_to_gbk("演示群"));
  EXPECT_EQ(utf8(got[0].texts[1]), "小明");
  EXPECT_EQ(got[0].texts[2], "raw");
  EXPECT_EQ(utf8(got[0].texts[3]), "早上好[emoji] [U+D55C]");
  EXPECT_TRUE(logged("群[演示群](20001) 小明(30001): 早上好🌞 한", "10001"));
  EXPECT_EQ(hx_ob_stat_get("10001", 0), 1) << "received messages are counted";
}

TEST_F(Intake, PrivateAndSelfMessages) {
  g_cfg.logPrivate = 1;
  hx_ob_feed_event(R"({"self_id":1,"post_type":"message","message_type":"private","user_id":5,"message":"hi",)"
                   R"("sender":{"nickname":"甲"},"group_id":77})");
  hx_ob_feed_event(R"({"self_id":1,"post_type":"message_sent","message_type":"private","user_id":1,"target_id":1,)"
                   R"("message":"mine"})");
  hx_ob_feed_event(R"({"self_id":1,"post_type":"message_sent","message_type":"private","user_id":1,"target_id":6,)"
                   R"("message":"to six"})");
  auto got = events();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].priv.peer_qq, 5);
  EXPECT_EQ(got[0].priv.temp_group_id, 77);
  EXPECT_EQ(got[0].texts[3], "") << "the trailing empty text";
  EXPECT_TRUE(logged("私聊[群77] 甲(5): hi"));
  EXPECT_EQ(got[1].priv.peer_qq, 1) << "target_id equal to the bot: the peer is user_id";
  EXPECT_TRUE(logged("自身私聊消息缺 target_id，来源事件QQ 仍是机器人自己(1)", "自身消息"));
  EXPECT_EQ(got[1].texts[1], "1") << "a self message without nickname uses the peer";
  EXPECT_EQ(got[2].priv.peer_qq, 6);
  EXPECT_TRUE(logged("私聊 对方6(发送者1)[自身]: to six"));
}

TEST_F(Intake, FiltersAndUnknownSelfId) {
  const std::string group =
      R"({"self_id":1,"post_type":"message","message_type":"group","group_id":2,"user_id":3,"message":"x"})";
  const std::string self =
      R"({"self_id":1,"post_type":"message_sent","message_type":"group","group_id":2,"user_id":1,"message":"x"})";
  const std::string notice = R"({"self_id":1,"post_type":"notice","notice_type":"friend_add","user_id":3})";
  g_cfg.recvGroup = 0;
  hx_ob_feed_event(group);
  g_cfg.recvGroup = 1;
  g_cfg.recvSelf = 0;
  hx_ob_feed_event(self);
  g_cfg.recvEvent = 0;
  hx_ob_feed_event(notice);
  EXPECT_TRUE(events().empty());
  g_cfg.recvSelf = 1;
  g_cfg.recvEvent = 1;
  hx_ob_feed_event(R"({"post_type":"message","message_type":"group","group_id":2,"user_id":3,"message":"who"})");
  auto got = events();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].group.bot_qq, 0);
  EXPECT_TRUE(logged("who", "未知"));
  hx_ob_feed_event(R"({"self_id":1,"post_type":"meta_event","meta_event_type":"heartbeat"})");
  hx_ob_feed_event(R"({"self_id":1,"post_type":"strange"})");
  EXPECT_EQ(events().size(), 1u);
}

TEST_F(Intake, FileSegmentIsAnUploadEventOnly) {
  hx_ob_feed_event(
      R"({"self_id":1,"post_type":"message","message_type":"group","group_id":2,"user_id":3,"message_id":4,)"
      R"("message":[{"type":"file","data":{"file":"报告.pdf","file_size":"2048"}}],)"
      R"("sender":{"nickname":"乙","card":"卡"}})");
  auto got = events();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, 2);
  EXPECT_EQ(got[0].event.event_type, 1004);
  EXPECT_EQ(got[0].event.duration, 2048);
  EXPECT_EQ(utf8(got[0].texts[3]), "报告.pdf");
  EXPECT_EQ(utf8(got[0].texts[1]), "卡");
  EXPECT_TRUE(logged("[群事件_某人上传群文件] 群[](2) 3 上传了文件 -> 报告.pdf，大小:2048"));
}

TEST_F(Intake, BadTextsAreDroppedWithTheirLines) {
  auto nested = [](int depth) {
    return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
  };
  hx_ob_feed_event(R"({"self_id":1,"post_type":"notice","notice_type":"friend_add","x":)" + nested(63) + "}");
  EXPECT_EQ(events().size(), 1u) << "depth 64 is accepted";
  hx_ob_feed_event(R"({"x":)" + nested(64) + "}");
  EXPECT_TRUE(logged("报文嵌套超过 64 层，已丢弃（防止解析时递归爆栈）"));
  hx_log_clear();
  hx_ob_feed_event(R"({"self_id":1,"post_type":"notice","notice_type":"friend_add","s":"[[[[ \" {{{{",)" +
                   std::string("\"y\":") + nested(60) + "}");
  EXPECT_FALSE(logged("嵌套")) << "brackets in strings and escaped quotes do not count";
  EXPECT_EQ(events().size(), 2u);
  hx_ob_feed_event("{not json");
  EXPECT_TRUE(logged("收到无法解析的 JSON 报文"));
  hx_ob_feed_event(std::string(4194305, ' '));
  EXPECT_TRUE(logged("收到 4194305 字节的报文，超过上限 4194304，已丢弃"));
  // GBK text is converted before parsing.
  hx_ob_feed_event(
      "{\"self_id\":1,\"post_type\":\"request\",\"request_type\":\"friend\",\"comment\":\"\xD6\xD0\xCE\xC4\"}");
  EXPECT_EQ(utf8(events().back().texts[3]), "中文");
}

TEST_F(Intake, OverlongSelfIdsAndOddEchoesFillNothing) {
  // A 200-digit self_id is kept in the tables' form: one entry, found again.
  const std::string long_id(200, '7');
  for (int i = 0; i < 40; ++i) {
    hx_ob_feed_event(R"({"self_id":")" + long_id +
                     R"(","post_type":"message","message_type":"group","group_id":2,"user_id":3,"message_id":)" +
                     std::to_string(i) + R"(,"message":"m"})");
  }
  EXPECT_EQ(hx_ob_stat_get(long_id, 0), 40);
  hx_ob_stat_bump("12345", 1, 0);
  EXPECT_EQ(hx_ob_stat_get("12345", 0), 1) << "room is left for other accounts";
  // Echoes no integer can hold match nothing (the sanitizer run checks the cast).
  for (const char* echo : {"1e999", "-1e999", "1e300", "-9.3e18"}) {
    hx_ob_feed_event(std::string(R"({"status":"ok","retcode":0,"data":null,"echo":)") + echo + "}");
  }
  EXPECT_FALSE(logged("收到无法解析的 JSON 报文"));
}

TEST_F(Intake, RecallFindsTheCachedTextUntilItWrapsOut) {
  auto group_msg = [](int id, const std::string& text) {
    return R"({"self_id":1,"post_type":"message","message_type":"group","group_id":2,"user_id":3,"message_id":)" +
           std::to_string(id) + R"(,"message":")" + text + R"("})";
  };
  auto recall = [](int id) {
    return R"({"self_id":1,"post_type":"notice","notice_type":"group_recall","group_id":2,"user_id":3,"operator_id":3,"message_id":)" +
           std::to_string(id) + "}";
  };
  hx_ob_feed_event(group_msg(1, "第一条"));
  capture.clear();
  hx_ob_feed_event(recall(1));
  EXPECT_EQ(utf8(events().back().texts[3]), "第一条");
  EXPECT_TRUE(logged("[群事件_某人撤回事件] 群2 操作3 触发3，撤回内容：第一条"));
  for (int i = 2; i <= 501; ++i) hx_ob_feed_event(group_msg(i, "m" + std::to_string(i)));
  hx_ob_feed_event(recall(1));
  EXPECT_EQ(events().back().texts[3], "");
  EXPECT_TRUE(logged("（消息ID=1，未取到原文：缓存未开启或已超出最近 500 条）"));
  hx_ob_feed_event(recall(2));
  EXPECT_EQ(events().back().texts[3], "m2") << "the 501st message overwrote only the 1st";
}

TEST_F(Intake, CacheKeepsWholeCharacters) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "中";  // 6000 bytes
  hx_ob_msgcache_put("1", "9", "2", "3", "n", text);
  auto got = hx_ob_msgcache_get("1", "9");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), 4095u);  // 1365 whole characters
  EXPECT_TRUE(is_valid_utf8(*got));
  g_cfg.msgCache = 0;
  hx_ob_msgcache_put("1", "10", "2", "3", "n", "off");
  EXPECT_FALSE(hx_ob_msgcache_get("1", "10"));
  EXPECT_FALSE(hx_ob_msgcache_get("404", "9"));
}

TEST_F(Intake, CaptureKeepsTheLastMessage) {
  hx_ob_cap_begin();
  hx_ob_feed_event(R"({"self_id":1,"post_type":"message","message_type":"private","user_id":5,"message":"cap"})");
  hx_ob_cap_end();
  hx_ob_feed_event(R"({"self_id":1,"post_type":"message","message_type":"private","user_id":6,"message":"later"})");
  HxCapture cap;
  ASSERT_TRUE(hx_ob_cap_last(&cap));
  EXPECT_EQ(cap.kind, 2);
  EXPECT_EQ(cap.sender, "5");
  EXPECT_EQ(cap.text, "cap");
}

TEST_F(Intake, WaitingOnAReceiveThreadIsRefused) {
  t_obReceiveThread = true;
  std::optional<std::string> reply;
  EXPECT_FALSE(ob_call_conn(nullptr, "1", "get_status", "{}", &reply, 5000));
  t_obReceiveThread = false;
  EXPECT_TRUE(logged("不能在连接的收包线程上等待动作回复：get_status"));
}

}  // namespace
