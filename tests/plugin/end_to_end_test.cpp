// From a scripted backend through intake and the lanes into real plugin
// libraries: logins, messages and the plugins' own records of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "plugin/plugin.h"
#include "support/backend.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "sys/dynlib.h"
#include "sys/files.h"
#include "test_plugin_state.h"

namespace {

using StateFn = TestPluginState* (*)();

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!Backend::available(&why)) GTEST_SKIP() << why;
    hx_set_data_dir(dir.path());
    hx_log_init(20000);
    hx_cfg_load();
    g_cfg.recvGroup = g_cfg.recvPrivate = g_cfg.recvEvent = 1;
    hx_ob_init();
  }
  void TearDown() override {
    hx_ob_stop();
    backend.reset();
    hx_pl_shutdown();
    hx_log_shutdown();
    hx_set_data_dir("");
  }
  // Copies a plugin file into main/data/dll as <as><ext>.
  void install_file(const std::string& from, const std::string& as) {
    const std::string dll = hx_path_join(hx_path_join(hx_path_join(dir.path(), "main"), "data"), "dll");
    hx_dir_create(dll);
    ASSERT_EQ(sys_copy_file(from, hx_path_join(dll, as + HX_PLUGIN_EXT), nullptr), SysCopyStatus::ok) << from;
  }
  void install(const char* variant, const std::string& as) {
    install_file(std::string(HX_TEST_PLUGIN_DIR) + "/" + variant + HX_PLUGIN_EXT, as);
  }
  static TestPluginState* state(const char* name) {
    HxPlugin* p = hx_pl_find(name);
    if (!p) return nullptr;
    return reinterpret_cast<StateFn>(sys_dl_sym(p->module, "tp_state"))();
  }
  void connect(const std::string& qq, const std::string& script) {
    backend = std::make_unique<Backend>(std::vector<std::string>{"forward", "--self-id", qq}, script);
    HxAccount acc{};
    std::strcpy(acc.id, qq.c_str());
    std::strcpy(acc.ip, "127.0.0.1");
    acc.port = backend->port();
    ASSERT_TRUE(hx_cfg_save_bot(&acc));
    hx_cfg_scan_bots();
    ASSERT_TRUE(hx_ob_login(qq.c_str()));
  }

  TempDir dir;
  std::unique_ptr<Backend> backend;
};

TEST_F(EndToEnd, LoginMessagesAndLogoutReachEveryEnabledPlugin) {
  install("tp_register", "registered");
  install("tp_json", "json");
  hx_pl_init(4);
  ASSERT_EQ(hx_pl_count_enabled(), 2);
  connect("10003", R"({"events": [
    {"at_ms": 300, "event": {"post_type": "meta_event", "meta_event_type": "lifecycle", "sub_type": "connect"}},
    {"at_ms": 1200, "every_ms": 5, "count": 40, "event": {"post_type": "message", "message_type": "group",
     "group_id": 5, "user_id": 6, "message_id": "{n}", "message": "第{n}条", "sender": {"nickname": "丙"}}},
    {"at_ms": 2500, "event": {"post_type": "meta_event", "meta_event_type": "lifecycle", "sub_type": "disable"}}]})");
  TestPluginState* reg = state("registered");
  TestPluginState* json = state("json");
  ASSERT_NE(reg, nullptr);
  ASSERT_NE(json, nullptr);

  // The login: the enabled callback with the account, then event 31.
  ASSERT_TRUE(wait_until([&] { return reg->enabled_calls == 1 && reg->event_calls == 1; }, 10000 * kTimeoutScale));
  EXPECT_STREQ(reg->last_qq, "10003");
  EXPECT_EQ(reg->last_event_type, HX_EV_HOST_LOGIN_OK);
  EXPECT_EQ(reg->last_bot, 10003);
  EXPECT_EQ(json->event_calls, 1);  // its JSON event address, mounted

  // Messages, to both plugins, through the registered slot where there is one.
  ASSERT_TRUE(wait_until([&] { return reg->group_calls == 40 && json->group_calls == 40; }, 10000 * kTimeoutScale));
  EXPECT_EQ(reg->group_export_calls, 0);
  EXPECT_EQ(json->last_bot, 10003);

  // The drop: the disabled callback, then event 38.
  ASSERT_TRUE(wait_until([&] { return reg->disabled_calls == 1 && reg->event_calls == 2; }, 10000 * kTimeoutScale));
  EXPECT_STREQ(reg->last_qq, "10003");
  EXPECT_EQ(reg->last_event_type, HX_EV_HOST_LOGIN_FAILED);
  EXPECT_EQ(reg->enabled_calls, 1);
}

// The example plugin calls back into the host: its handler reaches 输出日志
// through the address the apidata gave it (a trampoline on 32-bit x86).
TEST_F(EndToEnd, ExamplePluginLogsEveryGroupMessageThroughTheApi) {
  install_file(HX_EXAMPLE_PLUGIN, "hello");
  hx_pl_init(2);
  ASSERT_EQ(hx_pl_count_enabled(), 1);
  EXPECT_STREQ(hx_pl_find("hello")->author, "示例");
  for (int i = 1; i <= 3; ++i) {
    const std::string text = hx_utf8_to_gbk("消息" + std::to_string(i)).value_or("");
    HxGroupMsg m{};
    m.bot_qq = 10001;
    m.group_id = 20001;
    m.message = text.c_str();
    hx_pl_dispatch_group(&m);
  }
  ASSERT_TRUE(hx_pl_wait_idle(10000));
  std::vector<std::string> lines;
  hx_log_entry e;
  for (int i = 0; hx_log_at(i, &e); ++i) {
    if (std::string(e.source) == "hello") lines.insert(lines.begin(), e.text);
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(), "hello plugin started"), lines.end());
  int counted = 0;
  for (int i = 1; i <= 3; ++i) {
    const std::string want = "第" + std::to_string(i) + "条群消息（群20001）：";
    for (const std::string& l : lines) counted += l.rfind(want, 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(counted, 3);
}

// The example plugin answers "ping" on the lane thread through 发送群消息 and
// 发送好友消息: the backend receives the reply in UTF-8 and the plugin sees
// the host's "1", or "0" from a backend that refuses.
TEST_F(EndToEnd, ExamplePluginAnswersPingAndSeesTheResult) {
  install_file(HX_EXAMPLE_PLUGIN, "hello");
  hx_pl_init(2);
  const char* pings = R"({"events": [
    {"at_ms": 500, "event": {"post_type": "message", "message_type": "group", "group_id": 20001, "user_id": 6,
     "message_id": 1, "message": "ping", "sender": {"nickname": "丙"}}},
    {"at_ms": 700, "event": {"post_type": "message", "message_type": "private", "sub_type": "friend", "user_id": 30001,
     "message_id": 2, "message": "ping", "sender": {"nickname": "丙"}}}],
    "replies": {"send_group_msg": {"mode": "ok", "data": {"message_id": 9}},
                "send_private_msg": {"mode": "failed", "retcode": 100}}})";
  connect("10005", pings);
  EXPECT_TRUE(
      backend->wait_record(R"("action": "send_group_msg", "params": {"group_id": 20001, "message": "pong")", 10000));
  EXPECT_TRUE(
      backend->wait_record(R"("action": "send_private_msg", "params": {"user_id": 30001, "message": "pong")", 10000));
  auto said = [](const char* result) {
    const std::string want = std::string("收到 ping，已回复 pong（结果 ") + result + "）";
    hx_log_entry e;
    for (int i = 0; hx_log_at(i, &e); ++i) {
      if (std::string(e.source) == "hello" && want == e.text) return true;
    }
    return false;
  };
  EXPECT_TRUE(wait_until([&] { return said("1"); }, 10000)) << "the group reply was accepted";
  EXPECT_TRUE(wait_until([&] { return said("0"); }, 10000)) << "the private reply was refused";
}

// The example bot mutes only on an admin's command: it asks for the
// sender's role, and the backend sees set_group_ban for an admin alone; the
// answer goes back to the group either way.
TEST_F(EndToEnd, ExampleBotMutesOnlyForAnAdmin) {
  install_file(HX_DEMO_BOT, "demo_bot");
  hx_pl_init(2);
  const struct {
    const char* qq;
    const char* role;
    bool muted;
  } cases[] = {{"10006", "member", false}, {"10007", "admin", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.role);
    connect(c.qq, std::string(R"({"events": [
      {"at_ms": 500, "event": {"post_type": "message", "message_type": "group", "group_id": 20001, "user_id": 30001,
       "message_id": 1, "message": "/mute 30003 60"}}],
      "replies": {"get_group_member_info": {"mode": "ok", "data": {"user_id": 30001, "role": ")") +
                      c.role + R"("}}}})");
    ASSERT_TRUE(backend->wait_record(R"("action": "send_group_msg", "params": {"group_id": 20001)", 10000));
    bool asked = false, banned = false;
    for (const std::string& r : backend->records()) {
      asked = asked || r.find(R"("action": "get_group_member_info", "params": {"group_id": 20001, "user_id": 30001)") !=
                           std::string::npos;
      banned =
          banned ||
          r.find(R"("action": "set_group_ban", "params": {"group_id": 20001, "user_id": 30003, "duration": 60})") !=
              std::string::npos;
    }
    EXPECT_TRUE(asked);
    EXPECT_EQ(banned, c.muted);
  }
}

}  // namespace
