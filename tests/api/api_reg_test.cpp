// What a plugin registers about itself through the API: metadata, callback
// slots, permissions, its log lines and its own paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/api.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"

namespace {

class ApiReg : public ::testing::Test {
 protected:
  void SetUp() override {
    hx_log_init(500);
    plugin_.name = "demo";
    plugin_.path = "/plugins/demo.dll";
    plugin_.dataDir = "/data/app/demo";
    hx_pl_set_current(&plugin_);
  }
  void TearDown() override {
    hx_pl_set_current(nullptr);
    hx_log_shutdown();
  }
  static std::string last_line(std::string* source = nullptr) {
    hx_log_entry e{};
    if (!hx_log_at(0, &e)) return {};
    if (source) *source = e.source;
    return e.text;
  }
  bool bit(int i) const { return (plugin_.perm[i / 32] >> (i % 32)) & 1u; }

  HxPlugin plugin_;
};

TEST_F(ApiReg, MetadataIsStoredAsUtf8AndCutAtCharacters) {
  EXPECT_EQ(api_set_app_name("\xB2\xE2\xCA\xD4"), 1);  // 测试 in GBK
  EXPECT_STREQ(plugin_.nameBuf, "测试");
  EXPECT_EQ(plugin_.info.name_buf, plugin_.nameBuf);
  const struct {
    hx_i32(HX_STDCALL* set)(hx_text);
    const char* field;
    std::size_t max;
  } cases[] = {{&api_set_app_name, plugin_.nameBuf, 191},
               {&api_set_app_author, plugin_.author, 95},
               {&api_set_app_version, plugin_.version, 47},
               {&api_set_app_describe, plugin_.describe, 1023}};
  for (const auto& c : cases) {
    const std::string ascii(2000, 'a');
    c.set(ascii.c_str());
    EXPECT_EQ(std::strlen(c.field), c.max);
    std::string han;
    for (int i = 0; i < 400; ++i) han += "汉";
    c.set(han.c_str());
    EXPECT_EQ(std::strlen(c.field), c.max / 3 * 3);  // whole characters only
    c.set(nullptr);
    EXPECT_STREQ(c.field, "");
  }
  EXPECT_EQ(plugin_.info.describe, plugin_.describe);
}

TEST_F(ApiReg, CallbackSettersWriteOnlyTheRegistrationSlots) {
  int marker = 0;
  hx_i32(HX_STDCALL * setters[])(void*) = {&api_set_on_enabled, &api_set_on_disabled, &api_set_on_unload,
                                           &api_set_on_panel,   &api_set_on_private,  &api_set_on_group,
                                           &api_set_on_event,   &api_set_send_hook};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(setters[i](&marker), 1);
    EXPECT_EQ(plugin_.info.reg[i], &marker) << i;
    EXPECT_EQ(plugin_.cb[i], nullptr) << i;
    setters[i](nullptr);
    EXPECT_EQ(plugin_.info.reg[i], nullptr) << i;
  }
}

TEST_F(ApiReg, PermissionNamesInEveryFormAndEncoding) {
  const struct {
    const char* name;
    int bit;  // -1: not an API with a permission
  } cases[] = {
      {"发送群消息", 1},
      {"权限_发送群消息", 1},
      {"#发送群消息", 1},
      {"#权限_发送群消息", 1},
      {"\xB7\xA2\xCB\xCD\xC8\xBA\xCF\xFB\xCF\xA2", 1},  // 发送群消息 in GBK
      {"输出日志", 0},
      {"取API函数地址", -1},  // entry 105: no permission of its own
      {"##发送群消息", -1},
      {"", -1},
      {nullptr, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    std::memset(plugin_.perm, 0, sizeof plugin_.perm);
    EXPECT_EQ(api_apply_perm(c.name, 0), 1);
    EXPECT_EQ(last_line(), std::string("申请权限：") +
                               (c.bit >= 0 && c.name[0] == '\xB7' ? "发送群消息"
                                : c.name                          ? c.name
                                                                  : "") +
                               (c.bit >= 0 ? "（已授予）" : "（未知名，按自动同意处理）"));
    if (c.bit >= 0) {
      EXPECT_TRUE(bit(c.bit));
    }
    const std::uint32_t any = plugin_.perm[0] | plugin_.perm[1] | plugin_.perm[2] | plugin_.perm[3];
    EXPECT_EQ(any, c.bit >= 0 ? 1u << c.bit : 0u);
  }
}

TEST_F(ApiReg, PermissionsManyAndAll) {
  const char* two[] = {"发送群消息", "#权限_取群列表", nullptr};
  EXPECT_EQ(api_apply_perm_multi(two, 0), 2);
  EXPECT_TRUE(bit(1));
  EXPECT_TRUE(bit(5));
  const char* unknown[] = {"nothing", "取API函数地址", nullptr};
  EXPECT_EQ(api_apply_perm_multi(unknown, 0), 1);
  const char* empty[] = {nullptr};
  EXPECT_EQ(api_apply_perm_multi(empty, 0), 1);
  EXPECT_EQ(api_apply_perm_multi(nullptr, 0), 1);

  EXPECT_EQ(api_apply_perm_all(0), 1);
  EXPECT_EQ(last_line(), "申请所有权限");
  for (std::uint32_t w : plugin_.perm) EXPECT_EQ(w, 0xFFFFFFFFu);
  hx_pl_set_current(nullptr);
  EXPECT_EQ(api_apply_perm_all(0), 0);
  EXPECT_EQ(api_apply_perm("发送群消息", 0), 1);
  EXPECT_EQ(api_apply_perm_multi(two, 0), 1);  // nothing marked without a plugin
}

TEST_F(ApiReg, LogLinesCarryThePluginOrTheHost) {
  std::string source;
  EXPECT_EQ(api_output_log(0, "\xC4\xE3\xBA\xC3", 0, 0), 0);  // 你好 in GBK
  EXPECT_EQ(last_line(&source), "你好");
  EXPECT_EQ(source, "demo");
  EXPECT_EQ(api_reload_self(0, 0), 0);
  EXPECT_EQ(last_line(), "插件请求重载自身（需重启框架生效）");
  hx_pl_set_current(nullptr);
  api_output_log(0, nullptr, 0, 0);
  EXPECT_EQ(last_line(&source), "");
  EXPECT_EQ(source, "框架");
}

TEST_F(ApiReg, OwnPathsAndVersions) {
  EXPECT_STREQ(api_get_plugin_file(), "/plugins/demo.dll");
  const std::string dir = std::string("/data/app/demo") + HX_SEP;
  EXPECT_EQ(api_get_plugin_datadir(), dir);
  plugin_.dataDir = "/data/app/" + std::string(400, 'x');
  EXPECT_EQ(std::strlen(api_get_plugin_datadir()), 261u);
  EXPECT_STREQ(reinterpret_cast<hx_text(HX_STDCALL*)()>(api_lookup("取插件数据目录9"))(), api_get_plugin_datadir());
  EXPECT_STREQ(api_get_frame_version(), "8.0");
  EXPECT_STREQ(api_get_sdk_version(), "1.1.7");
  hx_pl_set_current(nullptr);
  EXPECT_STREQ(api_get_plugin_file(), "");
  EXPECT_STREQ(api_get_plugin_datadir(), "");
}

}  // namespace
