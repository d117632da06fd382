// Action calls against the scripted backend.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include <cjson/cJSON.h>

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "plugin/plugin.h"
#include "support/backend.h"
#include "support/link_fixture.h"
#include "support/plugin_capture.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

bool logged(const std::string& text) {
  hx_log_entry e;
  for (int i = 0; hx_log_at(i, &e); ++i) {
    if (std::string(e.text).find(text) != std::string::npos) return true;
  }
  return false;
}

const char* kScript = R"({"replies": {
  "slow_action": {"mode": "late", "delay_ms": 600, "data": "slow"},
  "quick_action": {"mode": "ok", "data": "quick"},
  "too_late": {"mode": "late", "delay_ms": 1500, "data": "late"},
  "silent": {"mode": "never"},
  "stringy": {"mode": "string_echo", "data": "s"},
  "wrong": {"mode": "wrong_echo"},
  "refuse": {"mode": "failed", "retcode": 102},
  "get_friend_list": {"mode": "ok", "data": [{"user_id": 7, "nickname": "好友七"}]},
  "get_group_list": {"mode": "ok", "data": [{"group_id": 8, "group_name": "群八"}, {"group_id": 9, "group_name": "群九"}]}
}})";

class Calls : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    if (IsSkipped()) return;
    backend = std::make_unique<Backend>(
        std::vector<std::string>{"forward", "--self-id", "10001", "--nickname", "机器人"}, kScript);
    add_account("10001", backend->port());
    ASSERT_TRUE(hx_ob_login("10001"));
    ASSERT_TRUE(wait_until([] { return hx_ob_online("10001"); }));
  }
  void TearDown() override {
    hx_ob_stop();
    backend.reset();
    LinkFixture::TearDown();
  }
  // A member of the reply, printed compactly ("<none>" without a reply).
  static std::string member(const std::optional<std::string>& reply, const char* name = "data") {
    if (!reply) return "<none>";
    cJSON* root = cJSON_Parse(reply->c_str());
    char* text = cJSON_PrintUnformatted(cJSON_GetObjectItemCaseSensitive(root, name));
    std::string out = text ? text : "<absent>";
    cJSON_free(text);
    cJSON_Delete(root);
    return out;
  }

  TempDir dir;
  std::unique_ptr<Backend> backend;
};

TEST_F(Calls, RepliesFindTheirCallersInAnyOrder) {
  auto slow = std::async(std::launch::async, [] {
    std::optional<std::string> r;
    bool ok = hx_ob_call("10001", "slow_action", "{\"a\":1}", &r, 5000);
    return std::make_pair(ok, r);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::optional<std::string> quick;
  EXPECT_TRUE(hx_ob_call("10001", "quick_action", "", &quick, 5000));
  EXPECT_EQ(member(quick), "\"quick\"");
  auto [ok, r] = slow.get();
  EXPECT_TRUE(ok);
  EXPECT_EQ(member(r), "\"slow\"");
  EXPECT_TRUE(backend->wait_record(R"("action": "slow_action", "params": {"a": 1})", 2000));
  EXPECT_TRUE(backend->wait_record(R"("action": "quick_action", "params": {})", 2000)) << "empty parameters become {}";
}

TEST_F(Calls, StringEchoFailedStatusAndSilence) {
  std::optional<std::string> r;
  EXPECT_TRUE(hx_ob_call("10001", "stringy", "{}", &r, 3000));
  EXPECT_EQ(member(r), "\"s\"");
  EXPECT_TRUE(hx_ob_call("10001", "refuse", "{}", &r, 3000)) << "a reply is a reply, whatever its status";
  EXPECT_EQ(member(r, "retcode"), "102");
  EXPECT_FALSE(hx_ob_call("10001", "silent", "{}", &r, 300));
  EXPECT_FALSE(r);
  EXPECT_FALSE(hx_ob_call("10001", "wrong", "{}", &r, 300));
  EXPECT_FALSE(hx_ob_call("10001", "too_late", "{}", &r, 300));
  hold_for(1500);  // the late reply lands and is dropped
  EXPECT_TRUE(hx_ob_call("10001", "quick_action", "{}", &r, 3000));
  EXPECT_EQ(member(r), "\"quick\"");
  EXPECT_TRUE(hx_ob_call("10001", "fire_and_forget", "{}", nullptr, 0));
  EXPECT_FALSE(hx_ob_call("10001", "", "{}", nullptr, 0));
}

TEST_F(Calls, SixtyFiveWaitingCalls) {
  std::vector<std::future<bool>> waiting;
  for (int i = 0; i < 64; ++i) {
    waiting.push_back(
        std::async(std::launch::async, [] { return hx_ob_call("10001", "silent", "{}", nullptr, 3000); }));
  }
  // Every one of the 64 is pending once the backend has seen it (the roster's
  // own requests after the login do not count).
  auto silent_seen = [&] {
    int n = 0;
    for (const auto& r : backend->records()) n += r.find("\"silent\"") != std::string::npos ? 1 : 0;
    return n;
  };
  ASSERT_TRUE(wait_until([&] { return silent_seen() >= 64; }, 10000));
  std::optional<std::string> r;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(hx_ob_call("10001", "quick_action", "{}", &r, 3000));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000)) << "fails at once";
  EXPECT_TRUE(logged("等待回复的动作已达 64 个，动作 quick_action 未发出"));
  EXPECT_TRUE(hx_ob_call("10001", "quick_action", "{}", nullptr, 0)) << "calls that do not wait still go";
  for (auto& f : waiting) EXPECT_FALSE(f.get());
  EXPECT_TRUE(hx_ob_call("10001", "quick_action", "{}", &r, 3000));
}

TEST_F(Calls, LinkChoiceByBotQq) {
  std::optional<std::string> r;
  EXPECT_TRUE(hx_ob_call("", "quick_action", "{}", &r, 3000)) << "no QQ: the first open link";
  EXPECT_TRUE(hx_ob_call("99999", "quick_action", "{}", &r, 3000)) << "one link only: it serves";
  Backend second({"forward", "--self-id", "10002"}, kScript);
  add_account("10002", second.port());
  ASSERT_TRUE(hx_ob_login("10002"));
  ASSERT_TRUE(wait_until([] { return hx_ob_online("10002"); }));
  EXPECT_FALSE(hx_ob_call("99999", "quick_action", "{}", &r, 3000)) << "several links: no guessing";
  EXPECT_TRUE(logged("账号 99999 没有在线的连接，动作 quick_action 未发出（调用方：框架自身）"));
  EXPECT_TRUE(hx_ob_call("10002", "send_private_msg", "{}", &r, 3000));
  EXPECT_EQ(hx_ob_stat_get("10002", 1), 1) << "send_ actions count as sent";
  EXPECT_TRUE(second.wait_record("send_private_msg", 2000));
  EXPECT_TRUE(hx_ob_call_fmt("10002", "send_group_msg", "{\"message\":\"%s\"}", std::string(3000, 'x').c_str()));
  EXPECT_TRUE(second.wait_record(std::string(3000, 'x'), 3000)) << "long formatted parameters go out whole";
}

TEST_F(Calls, RosterAfterLogin) {
  // The login of the fixture started a roster refresh.
  ASSERT_TRUE(wait_until([] { return hx_ob_stat_get("10001", 3) == 2; }));
  EXPECT_EQ(hx_ob_stat_get("10001", 2), 1);
  EXPECT_EQ(hx_pl_group_name_cache("10001", "8"), "群八");
  EXPECT_EQ(hx_pl_nick_cache("10001", "7"), "好友七");
  EXPECT_STREQ(hx_cfg_bot("10001")->nickname, "机器人");
  EXPECT_TRUE(logged("已获取机器人昵称：机器人"));
  EXPECT_TRUE(logged("已获取好友/群组数：1 / 2"));
  // Written back to the account file, in GBK.
  auto file = hx_read_file(hx_cfg_bot_dir() + "QQ10001.json");
  ASSERT_TRUE(file);
  EXPECT_NE(hx_gbk_to_utf8(*file)->find("机器人"), std::string::npos);
}

TEST_F(Calls, EventsFromTheBackendReachThePlugins) {
  PluginCapture capture;
  Backend events({"forward", "--self-id", "10003"}, R"({"events": [
    {"at_ms": 100, "every_ms": 10, "count": 50, "event": {"post_type": "message", "message_type": "group",
     "group_id": 5, "user_id": 6, "message_id": "{n}", "message": "第{n}条", "sender": {"nickname": "丙"}}},
    {"at_ms": 900, "event": {"post_type": "notice", "notice_type": "friend_add", "user_id": 6}}]})");
  add_account("10003", events.port());
  ASSERT_TRUE(hx_ob_login("10003"));
  ASSERT_TRUE(wait_until([&] { return capture.total() >= 52; }));  // with the login event
  auto got = capture.events();
  int groups = 0;
  for (const auto& d : got) groups += d.kind == 0 && d.group.bot_qq == 10003;
  EXPECT_EQ(groups, 50);
  EXPECT_EQ(hx_ob_stat_get("10003", 0), 50);
  EXPECT_EQ(got.back().kind, 2);
}

}  // namespace
