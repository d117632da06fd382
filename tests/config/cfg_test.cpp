// Framework settings and account files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "config/cfg.h"
#include "config/ini.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "support/temp_dir.h"
#include "sys/files.h"

namespace {

class Cfg : public ::testing::Test {
 protected:
  void SetUp() override {
    hx_set_data_dir(dir.path());
    hx_log_init(200);
  }
  void TearDown() override {
    hx_log_shutdown();
    hx_set_data_dir("");
    sys_files_inject_failures(0, 0);
  }

  void write_settings(const std::string& body) {
    hx_dir_create(hx_cfg_data_dir());
    ASSERT_TRUE(hx_write_file(hx_cfg_ini_path(), "[设置]\r\n" + body));
  }
  void write_bot(const std::string& name, const std::string& bytes) {
    hx_dir_create(hx_cfg_bot_dir());
    ASSERT_TRUE(hx_write_file(hx_cfg_bot_dir() + name, bytes));
  }
  static bool logged(const std::string& text) {
    hx_log_entry e;
    for (int i = 0; hx_log_at(i, &e); ++i) {
      if (text == e.text) return true;
    }
    return false;
  }

  TempDir dir;
};

const char* const kSaveOrder[] = {
    "悬浮窗左边",   "悬浮窗顶边",   "悬浮窗位置已记录", "插件线程数",       "日志数量上限",
    "反向端口",     "颜色",         "自动登录",         "快速登录",         "显示悬浮窗",
    "显示仪表盘",   "公告",         "日志滚动",         "开启反向通信模式", "标题内容",
    "编码_C模式",   "编码_L模式",   "输出私聊日志",     "接收私聊消息",     "接收群聊消息",
    "接收事件消息", "接收自身消息", "输出接收数据包",   "启时直接最小化",   "悬浮窗",
    "心跳",         "钥匙",         "输出日志",         "输出API日志",      "输出群聊日志",
    "输出事件日志", "拉格朗日解码", "输出调试日志",     "启用消息缓存"};

TEST_F(Cfg, FreshDirectoryGivesTheDefaultsAndSavesAllKeysInOrder) {
  hx_cfg_load();
  const HxCfg& c = g_cfg;
  EXPECT_EQ(c.floatLeft, 1545);
  EXPECT_EQ(c.floatTop, 142);
  EXPECT_EQ(c.floatPlaced, 0);
  EXPECT_EQ(c.pluginThreads, 24);
  EXPECT_EQ(c.logCap, 1000);
  EXPECT_EQ(c.msgCache, 1);
  EXPECT_EQ(c.reversePort, 8070);
  EXPECT_EQ(c.color, 0);
  EXPECT_EQ(c.heartbeat, 600);
  int on[] = {c.autoLogin, c.quickLogin, c.showFloat, c.showDashboard, c.logScroll,   c.encC,     c.recvPrivate,
              c.recvGroup, c.recvEvent,  c.recvSelf,  c.floatWindow,   c.logDispatch, c.logGroup, c.logEvent};
  int off[] = {c.reverseMode, c.encL, c.logPrivate, c.logPackets, c.startMinimized, c.logApi, c.lgrDecode, c.logDebug};
  for (int v : on) EXPECT_EQ(v, 1);
  for (int v : off) EXPECT_EQ(v, 0);
  EXPECT_STREQ(c.token, "");
  EXPECT_STREQ(c.title, "");
  EXPECT_STREQ(c.notice, "");
  EXPECT_EQ(c.accountCount, 0);
  EXPECT_TRUE(hx_dir_exists(hx_cfg_bot_dir()));

  ASSERT_TRUE(hx_cfg_save());
  std::string expect = "[设置]\r\n";
  static_assert(sizeof kSaveOrder / sizeof kSaveOrder[0] == HX_CFG_KEYS);
  for (const char* key : kSaveOrder) {
    expect += std::string(key) + "=" + hx_ini_get(g_ini, "设置", key, "?") + "\r\n";
  }
  EXPECT_EQ(hx_read_file(hx_cfg_ini_path()), expect);
  EXPECT_NE(expect.find("\r\n插件线程数=24\r\n"), std::string::npos);
  EXPECT_NE(expect.find("\r\n自动登录=真\r\n"), std::string::npos);
  EXPECT_NE(expect.find("\r\n编码_L模式=假\r\n"), std::string::npos);
}

TEST_F(Cfg, ValueRules) {
  struct Case {
    std::string line;
    int HxCfg::*field;
    int want;
  } cases[] = {
      {"插件线程数=10", &HxCfg::pluginThreads, 24},
      {"插件线程数=8", &HxCfg::pluginThreads, 8},
      {"插件线程数=", &HxCfg::pluginThreads, 24},
      {"插件线程数=8x", &HxCfg::pluginThreads, 24},
      {"自动登录=yes", &HxCfg::autoLogin, 1},
      {"自动登录=abc", &HxCfg::autoLogin, 1},
      {"自动登录=假", &HxCfg::autoLogin, 0},
      {"开启反向通信模式=TRUE", &HxCfg::reverseMode, 1},
      {"心跳=30", &HxCfg::heartbeat, 30},
      {"反向端口=9000", &HxCfg::reversePort, 9000},
      {"反向端口=70000", &HxCfg::reversePort, 8070},
      {"反向端口=0", &HxCfg::reversePort, 8070},
  };
  for (const auto& c : cases) {
    write_settings(c.line + "\r\n");
    hx_cfg_load();
    EXPECT_EQ(g_cfg.*c.field, c.want) << c.line;
  }
  EXPECT_TRUE(logged("反向端口 0 无效（应为 1–65535），改用默认端口 8070"));
}

TEST_F(Cfg, UnknownKeysAndSectionsSurviveASave) {
  write_settings("自定义=保留\r\n颜色=3\r\n[别的]\r\nx=1\r\n");
  hx_cfg_load();
  EXPECT_EQ(g_cfg.color, 3);
  std::strcpy(g_cfg.token, "秘密");
  ASSERT_TRUE(hx_cfg_save());
  std::string saved = *hx_read_file(hx_cfg_ini_path());
  EXPECT_EQ(saved.rfind("[设置]\r\n自定义=保留\r\n颜色=3\r\n悬浮窗左边=1545\r\n", 0), 0u) << saved;
  EXPECT_NE(saved.find("钥匙=秘密\r\n"), std::string::npos);
  EXPECT_NE(saved.find("[别的]\r\nx=1\r\n"), std::string::npos);
}

TEST_F(Cfg, FailedSaveKeepsTheOldFileAndIsLogged) {
  write_settings("颜色=2\r\n");
  hx_cfg_load();
  g_cfg.color = 5;
  sys_files_inject_failures(0, 1);
  EXPECT_FALSE(hx_cfg_save());
  EXPECT_EQ(hx_read_file(hx_cfg_ini_path()), "[设置]\r\n颜色=2\r\n");
  EXPECT_TRUE(logged("配置保存失败：" + hx_cfg_ini_path()));
}

TEST_F(Cfg, SaveThatCannotStoreEverySettingSaysSo) {
  // A settings section already full of keys of its own: ours find no room.
  std::string keys;
  for (int i = 0; i < HX_INI_MAX_KEYS; ++i) keys += "k" + std::to_string(i) + "=v\r\n";
  write_settings(keys);
  hx_cfg_load();
  g_cfg.color = 4;
  EXPECT_FALSE(hx_cfg_save());
  bool told = false;
  hx_log_entry e;
  for (int i = 0; hx_log_at(i, &e); ++i) told |= std::string(e.text).rfind("配置保存不完整：", 0) == 0;
  EXPECT_TRUE(told);
  EXPECT_NE(hx_read_file(hx_cfg_ini_path())->find("k255=v\r\n"), std::string::npos) << "what was there is kept";
}

TEST_F(Cfg, AccountFilesNamesPortsAndEncodings) {
  write_bot("QQ10001.json", R"({"昵称":"机器人","监听IP":"127.0.0.1","监听端口":3001,"钥匙":"k1"})");
  write_bot("qq10002.json", R"({"昵称":"二号","监听端口":"3002"})");
  // GBK: {"昵称":"中文","监听端口":"3003"}
  write_bot("10003.json", "{\"\xEA\xC7\xB3\xC6\":\"\xD6\xD0\xCE\xC4\",\"\xBC\xE0\xCC\xFD\xB6\xCB\xBF\xDA\":\"3003\"}");
  write_bot("10004.json", "not json");
  write_bot("10005.txt", "{}");
  write_bot("QQ10006.json", R"({"监听端口":70000,"昵称":5})");
  hx_dir_create(hx_cfg_bot_dir() + "QQ10007.json");
  hx_cfg_load();
  ASSERT_EQ(g_cfg.accountCount, 4);
  struct Want {
    const char* id;
    const char* nick;
    int port;
  } wants[] = {{"10001", "机器人", 3001}, {"10002", "二号", 3002}, {"10003", "中文", 3003}, {"10006", "", 0}};
  for (const auto& w : wants) {
    HxAccount* a = hx_cfg_bot(w.id);
    ASSERT_NE(a, nullptr) << w.id;
    EXPECT_STREQ(a->nickname, w.nick) << w.id;
    EXPECT_EQ(a->port, w.port) << w.id;
  }
  EXPECT_STREQ(hx_cfg_bot("10001")->ip, "127.0.0.1");
  EXPECT_STREQ(hx_cfg_bot("10001")->key, "k1");
  EXPECT_EQ(hx_cfg_bot("1000"), nullptr);
  EXPECT_TRUE(logged("账号 10006 的监听端口无效（应为 1–65535），该账号没有可用的地址"));
}

TEST_F(Cfg, AtMostSixteenAccounts) {
  for (int i = 0; i < 20; ++i) write_bot("QQ" + std::to_string(20000 + i) + ".json", "{}");
  hx_cfg_load();
  EXPECT_EQ(g_cfg.accountCount, HX_MAX_ACCOUNTS);
}

TEST_F(Cfg, WrittenAccountFilesAreGbkJson) {
  HxAccount acc{};
  std::strcpy(acc.id, "12345");
  std::strcpy(acc.nickname, "中文");
  std::strcpy(acc.ip, "10.0.0.2");
  acc.port = 6700;
  ASSERT_TRUE(hx_cfg_save_bot(&acc));
  std::string want = *hx_utf8_to_gbk(R"({"昵称":"中文","监听IP":"10.0.0.2","监听端口":"6700","钥匙":""})");
  EXPECT_EQ(hx_read_file(hx_cfg_bot_dir() + "QQ12345.json"), want);
  EXPECT_EQ(hx_bot_to_json_gbk(nullptr), hx_utf8_to_gbk(R"({"昵称":"","监听IP":"","监听端口":"0","钥匙":""})"));

  hx_cfg_scan_bots();
  ASSERT_NE(hx_cfg_bot("12345"), nullptr);
  EXPECT_STREQ(hx_cfg_bot("12345")->nickname, "中文");

  EXPECT_TRUE(hx_cfg_del_bot("12345"));
  EXPECT_FALSE(hx_cfg_del_bot("12345"));
  EXPECT_FALSE(hx_cfg_del_bot(""));
}

TEST_F(Cfg, AccountIdsMustBePlainNames) {
  HxAccount acc{};
  EXPECT_FALSE(hx_cfg_save_bot(nullptr));
  EXPECT_FALSE(hx_cfg_save_bot(&acc));  // empty id
  for (const char* bad : {"../evil", "a/b", "a\\b", "C:x"}) {
    std::strcpy(acc.id, bad);
    EXPECT_FALSE(hx_cfg_save_bot(&acc)) << bad;
    EXPECT_FALSE(hx_cfg_del_bot(bad)) << bad;
  }
}

TEST_F(Cfg, ReverseModeIgnoresAccountFiles) {
  write_settings("开启反向通信模式=真\r\n");
  write_bot("QQ1.json", "{}");
  write_bot("QQ2.json", "{}");
  hx_cfg_load();
  EXPECT_EQ(g_cfg.accountCount, 0);
  EXPECT_EQ(hx_cfg_bot("1"), nullptr);
  EXPECT_TRUE(logged("反向模式：忽略 main\\data\\Bot\\QQ*.json 共 2 条（账号列表将由后端接入动态填充，不写盘）"));
}

}  // namespace
