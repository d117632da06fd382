// Account links against the scripted OneBot backend over real sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

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
#include "support/ws_helpers.h"
#include "sys/clock.h"
#include "sys/net.h"
#include "sys/process.h"

namespace {

int count_logged(const std::string& text) {
  int n = 0;
  hx_log_entry e;
  for (int i = 0; hx_log_at(i, &e); ++i) n += std::string(e.text).find(text) != std::string::npos;
  return n;
}

int count_notified(const std::string& what) {
  auto all = PluginCapture::notifications();
  return static_cast<int>(std::count(all.begin(), all.end(), what));
}

class Links : public LinkFixture {
 protected:
  Links() : LinkFixture(20000) {}
  void SetUp() override {
    LinkFixture::SetUp();
    if (!IsSkipped()) hx_log_set_switch(HX_LOG_DEBUG, 1);
  }
  static bool retry_is_one_second() { return sys_getenv("HX_WS_RETRY_SEC").value_or("") == "1"; }

  PluginCapture capture;
};

const char* kLifecycleLater = R"({"events": [
  {"at_ms": 400, "event": {"post_type": "meta_event", "meta_event_type": "lifecycle", "sub_type": "connect"}},
  {"at_ms": 800, "event": {"post_type": "meta_event", "meta_event_type": "lifecycle", "sub_type": "disable"}},
  {"at_ms": 1200, "event": {"post_type": "meta_event", "meta_event_type": "lifecycle", "sub_type": "disable"}}]})";

TEST_F(Links, ForwardLoginIsAnnouncedOnce) {
  Backend backend({"forward", "--self-id", "10001"}, kLifecycleLater);
  ASSERT_GT(backend.port(), 0) << backend.output();
  add_account("10001", backend.port());
  ASSERT_TRUE(hx_ob_login("10001"));
  ASSERT_TRUE(wait_until([] { return count_notified("+10001") == 1; }));
  EXPECT_TRUE(hx_ob_online("10001"));
  EXPECT_GT(hx_ob_login_time("10001"), 0);
  EXPECT_EQ(hx_ob_link_count(), 1);
  EXPECT_TRUE(hx_ob_login("10001"));  // already online
  EXPECT_EQ(count_logged("账号 10001 已经在线"), 1);
  // The second connect announces nothing; the first other lifecycle is a logout, once.
  ASSERT_TRUE(wait_until([] { return count_notified("-10001") == 1; }));
  hold_for(600);
  EXPECT_EQ(count_notified("+10001"), 1);
  EXPECT_EQ(count_notified("-10001"), 1);
  EXPECT_EQ(count_logged("--------[10001]->执行【正向】连接 127.0.0.1:" + std::to_string(backend.port())), 1);
  EXPECT_EQ(count_logged("正向通信连接成功：127.0.0.1:" + std::to_string(backend.port())), 1);
}

TEST_F(Links, DropAndReconnectThenLogoutStopsRetries) {
  if (!retry_is_one_second()) GTEST_SKIP() << "needs HX_WS_RETRY_SEC=1 (ctest sets it)";
  int port;
  {
    Backend first({"forward", "--self-id", "20002"});
    port = first.port();
    add_account("20002", port);
    ASSERT_TRUE(hx_ob_login("20002"));
    ASSERT_TRUE(wait_until([] { return hx_ob_online("20002"); }));
  }  // killed
  ASSERT_TRUE(wait_until([] { return count_notified("-20002") == 1; }));
  EXPECT_EQ(count_logged("正向通信连接断开"), 1);
  ASSERT_TRUE(wait_until([] { return count_logged("第 2 次尝试重连 20002") == 1; }, 15000));
  EXPECT_EQ(count_logged("连接已断开，第 1 次尝试重新连接 127.0.0.1:" + std::to_string(port) + "（每 1 秒一次）"), 1);

  Backend again({"forward", "--self-id", "20002", "--port", std::to_string(port)});
  ASSERT_EQ(again.port(), port) << again.output();
  ASSERT_TRUE(wait_until([] { return hx_ob_online("20002"); }, 15000));
  EXPECT_EQ(count_notified("+20002"), 2);

  hx_ob_logout("20002");
  EXPECT_EQ(count_logged("账号 20002 主动登出，关闭连接"), 1);
  EXPECT_TRUE(wait_until([] { return count_notified("-20002") == 2; }));
  hold_for(3000);
  EXPECT_FALSE(hx_ob_online("20002")) << "no reconnect after a logout";
}

TEST_F(Links, LogoutOfAReconnectingAccountStopsItsRetries) {
  if (!retry_is_one_second()) GTEST_SKIP() << "needs HX_WS_RETRY_SEC=1 (ctest sets it)";
  add_account("30003", free_port());  // nobody listens there
  ASSERT_TRUE(hx_ob_login("30003"));
  ASSERT_TRUE(wait_until([] { return count_logged("第 1 次尝试重新连接") == 1; }, 10000));
  hx_ob_logout("30003");
  EXPECT_EQ(count_logged("账号 30003 当前未在线"), 1);
  int attempts = count_logged("次尝试重");
  hold_for(4500);
  EXPECT_EQ(count_logged("次尝试重"), attempts);
}

TEST_F(Links, RefusedTokenIsRetriedAtTheIntervalOnly) {
  if (!retry_is_one_second()) GTEST_SKIP() << "needs HX_WS_RETRY_SEC=1 (ctest sets it)";
  Backend backend({"forward", "--self-id", "40004", "--token", "right"});
  add_account("40004", backend.port(), "wrong");
  ASSERT_TRUE(hx_ob_login("40004"));
  std::this_thread::sleep_for(std::chrono::milliseconds(5000));
  EXPECT_FALSE(hx_ob_online("40004"));
  // One attempt per reconnect round (every 2 s at most), never a tight loop.
  EXPECT_LE(count_logged("次尝试重"), 3);
  EXPECT_GE(count_logged("次尝试重"), 1);
}

TEST_F(Links, TokenIsSentToTheBackend) {
  Backend backend({"forward", "--self-id", "50005", "--token", "right"});
  add_account("50005", backend.port(), "right");
  ASSERT_TRUE(hx_ob_login("50005"));
  EXPECT_TRUE(wait_until([] { return hx_ob_online("50005"); }));
}

class ReverseLinks : public Links {
 protected:
  void SetUp() override {
    Links::SetUp();
    if (IsSkipped()) return;
    g_cfg.reverseMode = 1;
    g_cfg.reversePort = free_port();
    std::strcpy(g_cfg.token, "tok");
    url = "ws://127.0.0.1:" + std::to_string(g_cfg.reversePort) + "/";
    std::string result;
    ASSERT_EQ(hx_ob_auto_login_all(result), 1) << result;
  }
  std::string url;
};

TEST_F(ReverseLinks, WrongTokenIsRefused) {
  Backend backend({"reverse", "--url", url, "--token", "nope"});
  EXPECT_EQ(backend.first_line(), "REFUSED 403");
  EXPECT_EQ(g_cfg.accountCount, 0);
}

TEST_F(ReverseLinks, RecognitionAddsTheAccountAndItLeavesWithTheConnection) {
  {
    Backend backend({"reverse", "--url", url, "--token", "tok", "--self-id", "12345", "--nickname", ""});
    ASSERT_EQ(backend.first_line(), "CONNECTED");
    ASSERT_TRUE(wait_until([] { return count_notified("+12345") == 1; }));
    EXPECT_EQ(count_logged("反向通信接入识别成功：QQ=12345 昵称=(未取到) 来自=127.0.0.1:"), 1);
    ASSERT_NE(hx_cfg_bot("12345"), nullptr);
    EXPECT_STREQ(hx_cfg_bot("12345")->ip, "127.0.0.1");
    EXPECT_TRUE(hx_ob_online("12345"));
    EXPECT_TRUE(backend.wait_record("\"action\": \"get_login_info\"", 2000));
  }
  // Plugins are told first, then the account is removed and that is logged.
  ASSERT_TRUE(wait_until([] { return count_notified("-12345") == 1; }));
  ASSERT_TRUE(
      wait_until([] { return count_logged("反向通信断开：已从账号列表移除（QQ=12345，不写盘 / 不重连）") == 1; }));
  EXPECT_EQ(hx_cfg_bot("12345"), nullptr);
  EXPECT_FALSE(hx_file_exists(hx_cfg_bot_dir() + "QQ12345.json")) << "reverse accounts are never written";
}

TEST_F(ReverseLinks, StringIdAndNickname) {
  Backend backend(
      {"reverse", "--url", url, "--token", "tok", "--self-id", "67890", "--id-as", "string", "--nickname", "小助手"});
  ASSERT_TRUE(wait_until([] { return count_notified("+67890") == 1; }));
  EXPECT_STREQ(hx_cfg_bot("67890")->nickname, "小助手");
  EXPECT_EQ(count_logged("QQ=67890 昵称=小助手"), 1);
}

TEST_F(ReverseLinks, UnansweredRecognitionLeavesTheConnectionAnonymous) {
  Backend backend({"reverse", "--url", url, "--token", "tok"}, R"({"replies": {"get_login_info": {"mode": "never"}}})");
  ASSERT_TRUE(wait_until([] { return count_logged("5 秒内未响应 get_login_info") == 1; }, 12000));
  EXPECT_EQ(g_cfg.accountCount, 0);
  EXPECT_EQ(hx_ob_link_count(), 1);
  EXPECT_TRUE(PluginCapture::notifications().empty());
}

TEST_F(ReverseLinks, FullAccountListIgnoresTheNewcomer) {
  for (int i = 0; i < HX_MAX_ACCOUNTS; ++i) std::snprintf(g_cfg.accounts[i].id, 32, "9%04d", i);
  g_cfg.accountCount = HX_MAX_ACCOUNTS;
  Backend backend({"reverse", "--url", url, "--token", "tok", "--self-id", "77777"});
  ASSERT_TRUE(wait_until([] { return count_logged("反向通信接入：账号列表已满（16），忽略接入 QQ=77777") == 1; }));
  EXPECT_EQ(hx_cfg_bot("77777"), nullptr);
}

// Reads what the host sends until it closes the connection.
bool closed_by_host(RawPeer& peer, int ms) {
  while (peer.read_text_frame(ms)) {
  }
  return peer.at_eof(100);
}

TEST_F(ReverseLinks, ASilentOldLinkGivesWayToANewConnectionOfItsQq) {
  HandBackend first(g_cfg.reversePort, "tok");
  ASSERT_TRUE(first.upgraded());
  ASSERT_TRUE(first.answer_login(first.next_echo("get_login_info"), "88888"));
  ASSERT_TRUE(wait_until([] { return count_notified("+88888") == 1; }));
  // The first one goes quiet without closing (it answers no ping): the
  // backend reconnected before its old connection was seen to drop.
  Backend second({"reverse", "--url", url, "--token", "tok", "--self-id", "88888"});
  EXPECT_TRUE(closed_by_host(first.peer, 10000));
  ASSERT_TRUE(wait_until([] { return hx_ob_link_count() == 1; }));
  EXPECT_EQ(g_cfg.accountCount, 1);
  EXPECT_EQ(count_notified("+88888"), 1) << "the account never went away";
  EXPECT_EQ(count_notified("-88888"), 0);
  EXPECT_TRUE(hx_ob_online("88888"));
  EXPECT_EQ(second.output().find("CLOSED"), std::string::npos);
}

TEST_F(ReverseLinks, AnOldLinkThatStillAnswersKeepsItsQq) {
  Backend first({"reverse", "--url", url, "--token", "tok", "--self-id", "88888"});
  ASSERT_TRUE(wait_until([] { return count_notified("+88888") == 1; }));
  Backend second({"reverse", "--url", url, "--token", "tok", "--self-id", "88888"});
  ASSERT_TRUE(wait_until([&] { return second.output().find("CLOSED") != std::string::npos; }));
  EXPECT_EQ(count_logged("反向通信接入：QQ=88888 已有在线且仍有响应的连接，关闭新连接 127.0.0.1:"), 1);
  ASSERT_TRUE(wait_until([] { return hx_ob_link_count() == 1; }));
  EXPECT_EQ(first.output().find("CLOSED"), std::string::npos);
  EXPECT_TRUE(hx_ob_online("88888"));
  EXPECT_EQ(count_notified("-88888"), 0);
}

TEST_F(ReverseLinks, AReplyCountsOnlyOnTheConnectionItsCallWentOut) {
  HandBackend quiet(g_cfg.reversePort, "tok"), forger(g_cfg.reversePort, "tok");
  ASSERT_TRUE(quiet.upgraded() && forger.upgraded());
  const long long quiet_echo = quiet.next_echo("get_login_info");
  const long long own_echo = forger.next_echo("get_login_info");
  ASSERT_GE(quiet_echo, 0);
  ASSERT_GE(own_echo, 0);
  // The forger answers the other connection's question first, naming a QQ for it.
  ASSERT_TRUE(forger.answer_login(quiet_echo, "99999"));
  ASSERT_TRUE(forger.answer_login(own_echo, "55555"));
  ASSERT_TRUE(wait_until([] { return count_notified("+55555") == 1; }));
  ASSERT_TRUE(wait_until([] { return count_logged("5 秒内未响应 get_login_info") == 1; }, 12000));
  EXPECT_EQ(hx_cfg_bot("99999"), nullptr);
  EXPECT_EQ(count_notified("+99999"), 0);
}

TEST_F(ReverseLinks, RecognitionThatEndsAfterTheCloseLeavesNoLogin) {
  // Each backend answers and hangs up at once: its recognition and its close race.
  for (int i = 0; i < 20; ++i) {
    HandBackend b(g_cfg.reversePort, "tok");
    ASSERT_TRUE(b.upgraded());
    ASSERT_TRUE(b.answer_login(b.next_echo("get_login_info"), std::to_string(70000 + i)));
  }
  ASSERT_TRUE(wait_until([] { return hx_ob_link_count() == 0; }));
  hold_for(1000);
  for (int i = 0; i < 20; ++i) {
    const std::string qq = std::to_string(70000 + i);
    EXPECT_EQ(count_notified("+" + qq), count_notified("-" + qq)) << qq;
    EXPECT_EQ(hx_cfg_bot(qq), nullptr) << qq;
  }
}

TEST_F(ReverseLinks, LifecycleWithoutSelfIdIsAboutTheLinkThatCarriedIt) {
  HandBackend a(g_cfg.reversePort, "tok"), b(g_cfg.reversePort, "tok");
  ASSERT_TRUE(a.answer_login(a.next_echo("get_login_info"), "11111"));
  ASSERT_TRUE(wait_until([] { return count_notified("+11111") == 1; }));
  ASSERT_TRUE(b.answer_login(b.next_echo("get_login_info"), "22222"));
  ASSERT_TRUE(wait_until([] { return count_notified("+22222") == 1; }));
  ASSERT_TRUE(b.peer.send_text(R"({"post_type":"meta_event","meta_event_type":"lifecycle","sub_type":"disable"})"));
  ASSERT_TRUE(wait_until([] { return count_notified("-22222") == 1; }));
  EXPECT_EQ(count_notified("-11111"), 0);
}

TEST_F(ReverseLinks, AnAccountLeavesUnderTheQqItWasRecognisedAs) {
  {
    HandBackend b(g_cfg.reversePort, "tok");
    ASSERT_TRUE(b.answer_login(b.next_echo("get_login_info"), "33333"));
    ASSERT_TRUE(wait_until([] { return count_notified("+33333") == 1; }));
    // Later events name another self_id.
    ASSERT_TRUE(b.peer.send_text(
        R"({"self_id":44444,"post_type":"message","message_type":"private","user_id":5,"message":"hi","message_id":1})"));
    ASSERT_TRUE(wait_until([] { return hx_ob_online("44444"); }));
  }
  ASSERT_TRUE(wait_until([] { return hx_ob_link_count() == 0; }));
  ASSERT_TRUE(wait_until([] { return hx_cfg_bot("33333") == nullptr; }));
  EXPECT_EQ(count_notified("-33333"), 1);
  EXPECT_EQ(count_notified("-44444"), 0);
}

TEST_F(ReverseLinks, NoTokenIsWarnedOf) {
  hx_ob_stop();
  g_cfg.token[0] = '\0';
  hx_ob_init();
  std::string result;
  ASSERT_EQ(hx_ob_auto_login_all(result), 1) << result;
  EXPECT_EQ(count_logged("警告：反向通信未设置钥匙"), 1);
}

// Threads and open descriptors of this process; nullopt where /proc is missing.
std::optional<std::pair<int, int>> threads_and_descriptors() {
  if (!hx_dir_exists("/proc/self/task")) return std::nullopt;
  return std::make_pair(static_cast<int>(hx_list_dir("/proc/self/task").size()),
                        static_cast<int>(hx_list_dir("/proc/self/fd").size()));
}

TEST_F(Links, ASilentBackendPilesUpNoThreadsOrSockets) {
  if (!retry_is_one_second()) GTEST_SKIP() << "needs HX_WS_RETRY_SEC=1 (ctest sets it)";
  std::uint16_t port = 0;
  SysSocket silent = sys_tcp_listen("127.0.0.1", 0, &port);  // takes connections, answers nothing
  ASSERT_TRUE(silent.valid());
  const auto before = HX_SEP == '/' ? threads_and_descriptors() : std::nullopt;
  if (!before) GTEST_SKIP() << "counts threads and descriptors through Linux's /proc";
  add_account("50005", port);
  ASSERT_TRUE(hx_ob_login("50005"));
  std::this_thread::sleep_for(std::chrono::seconds(30));  // 30 retry intervals (a run length, not a deadline)
  const auto after = threads_and_descriptors();
  EXPECT_GE(count_logged("次尝试重"), 2) << "it kept trying";
  // The reconnect thread, and at most one connect in flight with its socket.
  EXPECT_LE(after->first, before->first + 2);
  EXPECT_LE(after->second, before->second + 1);
}

TEST_F(Links, ASecondForwardLinkOfAnAccountIsClosed) {
  // The backend serves another QQ than the account's file names, so that a
  // second login of the account does not see it online and connects again.
  Backend backend({"forward", "--self-id", "91999"});
  add_account("91000", backend.port());
  ASSERT_TRUE(hx_ob_login("91000"));
  ASSERT_TRUE(wait_until([] { return hx_ob_online("91999"); }));
  ASSERT_TRUE(hx_ob_login("91000"));
  ASSERT_TRUE(wait_until([] { return count_logged("账号 91000 已有正向连接，关闭多余的新连接 127.0.0.1:") == 1; }));
  hold_for(300);
  EXPECT_EQ(hx_ob_link_count(), 1);
}

TEST_F(Links, TheSeventeenthAccountOfAProcessStillReconnects) {
  if (!retry_is_one_second()) GTEST_SKIP() << "needs HX_WS_RETRY_SEC=1 (ctest sets it)";
  // Sixteen accounts come and go; each took a wish-list entry.
  for (int i = 0; i < 16; ++i) {
    const std::string qq = std::to_string(81000 + i);
    add_account(qq, free_port());
    ASSERT_TRUE(hx_ob_login(qq));
    hx_ob_logout(qq);
    ASSERT_TRUE(hx_remove_file(hx_cfg_bot_dir() + "QQ" + qq + ".json"));  // room in the account table
  }
  hx_cfg_scan_bots();
  const int port = free_port();
  add_account("81100", port);
  {
    Backend first({"forward", "--port", std::to_string(port), "--self-id", "81100"});
    ASSERT_TRUE(hx_ob_login("81100"));
    ASSERT_TRUE(wait_until([] { return hx_ob_online("81100"); }));
  }  // killed
  ASSERT_TRUE(wait_until([] { return !hx_ob_online("81100"); }));
  Backend again({"forward", "--port", std::to_string(port), "--self-id", "81100"});
  EXPECT_TRUE(wait_until([] { return hx_ob_online("81100"); }, 15000));
}

TEST_F(Links, HeartbeatPingsIdleLinks) {
  Backend backend({"forward", "--self-id", "60006"});
  add_account("60006", backend.port());
  ASSERT_TRUE(hx_ob_login("60006"));
  ASSERT_TRUE(wait_until([] { return hx_ob_online("60006"); }));
  g_cfg.heartbeat = 0;  // counts as 600: a fresh link is not idle
  hx_ob_tick();
  g_cfg.heartbeat = 1;
  hold_for(2100);
  for (const auto& r : backend.records()) EXPECT_EQ(r.find("\"ping\""), std::string::npos) << r;
  hx_ob_tick();
  EXPECT_TRUE(backend.wait_record("\"kind\": \"ping\"", 3000));
}

TEST_F(Links, StatisticsCounters) {
  EXPECT_EQ(hx_ob_stat_get("404", 0), 0);
  EXPECT_EQ(hx_ob_stat_get("404", 1), 0);
  EXPECT_EQ(hx_ob_stat_get("404", 2), -1);
  EXPECT_EQ(hx_ob_stat_get("404", 3), -1);
  hx_ob_stat_bump("405", 0, 0);  // no slot for nothing
  EXPECT_EQ(hx_ob_stat_get("405", 2), -1);
  hx_ob_stat_bump("405", 3, 1);
  hx_ob_stat_set_roster("405", 12, -1);
  EXPECT_EQ(hx_ob_stat_get("405", 0), 3);
  EXPECT_EQ(hx_ob_stat_get("405", 1), 1);
  EXPECT_EQ(hx_ob_stat_get("405", 2), 12);
  EXPECT_EQ(hx_ob_stat_get("405", 9), -1);
}

TEST_F(Links, AutoLoginSummaries) {
  std::string result;
  g_cfg.autoLogin = 0;
  EXPECT_EQ(hx_ob_auto_login_all(result), 0);
  EXPECT_EQ(result, "启动时自动登录：开关为「关」，未发起任何连接");
  g_cfg.autoLogin = 1;
  EXPECT_EQ(hx_ob_auto_login_all(result), 0);
  EXPECT_EQ(result, "启动时自动登录：无账号配置（Bot 目录下没有 QQ*.json）");
  Backend backend({"forward", "--self-id", "70007"});
  add_account("70007", backend.port());
  add_account("70008", 0);  // no usable address
  EXPECT_EQ(hx_ob_auto_login_all(result), 1);
  EXPECT_EQ(result, "启动时自动登录：1/2 个账号已发起（正向）");
  EXPECT_EQ(count_logged("账号 70008 缺少有效的监听地址，无法登录"), 1);
}

TEST_F(Links, ShutdownEndsWithinItsLimits) {
  Backend live({"forward", "--self-id", "80001"}, R"({"replies": {"*": {"mode": "never"}}})");
  add_account("80001", live.port());
  add_account("80002", free_port());  // reconnecting
  ASSERT_TRUE(hx_ob_login("80001"));
  hx_ob_login("80002");
  ASSERT_TRUE(wait_until([] { return hx_ob_online("80001"); }));
  // A call left waiting on a backend that never answers.
  std::thread caller([] { hx_ob_call("80001", "get_status", "{}", nullptr, 4000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto t0 = std::chrono::steady_clock::now();
  hx_ob_stop();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  caller.join();
  EXPECT_LT(secs, 5.0 + 3.0 + 6.0 * 16 + 3.0 * 16) << "the sum of the stated limits";
  EXPECT_FALSE(hx_ob_ws_stuck());
  EXPECT_EQ(hx_ob_link_count(), 0);
}

}  // namespace
