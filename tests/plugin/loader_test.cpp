// Plugin loading with real test plugins: both init forms, registration,
// refusals, duplicates, hot copies, the priority file and start-up.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/api.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "support/plugin_dir.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "sys/dynlib.h"
#include "sys/files.h"
#include "test_plugin_state.h"

namespace {

class Loader : public PluginDirTest {
 protected:
  static int group(const HxPlugin* p, const char* text) {
    HxGroupMsg m{};
    m.message = text;
    m.bot_qq = 10001;
    return reinterpret_cast<HxOnGroup>(p->cb[HX_CB_GROUP])(&m);
  }
};

TEST_F(Loader, EveryVariantLoadsOrIsRefusedWithItsReason) {
  const std::string mismatch =
      std::string("插件内置名[someone_else]与实际文件名[tp_wrongname]不一致！请将插件文件名改为：someone_else") +
      HX_PLUGIN_EXT + " 再来载入！";
  const struct {
    const char* variant;
    bool loads;
    int form;  // what the plugin saw: 1 info block, 2 apidata + key, 0 not called
    std::string line;
  } cases[] = {
      {"tp_json", true, 2, "插件载入成功（作者:测试作者 版本:1.2.3）"},
      {"tp_info", true, 1, "插件载入成功（作者: 版本:）"},
      {"tp_register", true, 1, "插件载入成功（作者:注册者 版本:）"},
      {"tp_nullinit", true, 2, "插件初始化失败：初始化函数返回 0（插件自报失败）"},
      {"tp_badptr", true, 2, "初始化返回值不是文本指针"},
      {"tp_noinit", false, 0, "未找到导出函数「初始化NT / 初始化」，不是有效的Tolvex插件"},
      {"tp_wrongname", false, 1, mismatch},
  };
  int live = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.variant);
    HxPlugin* p = load(c.variant);
    EXPECT_TRUE(logged(c.line));
    if (!c.loads) {
      EXPECT_EQ(p, nullptr);
      // A module whose initialisation ran stays mapped: it may have started
      // threads of its own. One whose init never ran is freed.
      EXPECT_EQ(sys_dl_is_loaded(hx_path_join(dll_dir(), std::string(c.variant) + HX_PLUGIN_EXT)), c.form != 0);
      EXPECT_EQ(count(), live);
      EXPECT_FALSE(hx_dir_exists(main_dir(std::string("data/app/") + c.variant)));
      continue;
    }
    ASSERT_NE(p, nullptr);
    ++live;
    EXPECT_EQ(count(), live);
    EXPECT_EQ(p->state, HX_PL_LOADED);
    EXPECT_GE(p->cbSlot, 0);
    EXPECT_TRUE(hx_dir_exists(p->dataDir));
    ASSERT_NE(state(p), nullptr);
    EXPECT_EQ(state(p)->init_form, c.form);
    EXPECT_EQ(state(p)->init_calls, 1);
    EXPECT_EQ(state(p)->start_calls, 0);  // start entries wait for start-up
  }
}

TEST_F(Loader, TwoArgumentInitGetsApidataAndKeyAndItsJsonIsRead) {
  HxPlugin* p = load("tp_json");
  ASSERT_NE(p, nullptr);
  TestPluginState* s = state(p);
  EXPECT_STREQ(s->key, "tp_json");
  EXPECT_EQ(std::string(s->apidata_head).substr(0, 2), "{\"");
  EXPECT_EQ(s->apidata_first_addr, reinterpret_cast<std::uintptr_t>(api_build_table().addresses[0]));
  EXPECT_STREQ(p->author, "测试作者");
  EXPECT_STREQ(p->version, "1.2.3");
  EXPECT_STREQ(p->describe, "说明");
  EXPECT_EQ(p->info.author, p->author);
  EXPECT_NE(p->cb[HX_CB_PRIVATE], nullptr);
  EXPECT_NE(p->cb[HX_CB_EVENT], nullptr);
  EXPECT_EQ(p->cb[HX_CB_ENABLED], nullptr);
  ASSERT_NE(p->cb[HX_CB_GROUP], nullptr);
  group(p, "hello");
  EXPECT_EQ(s->group_calls, 1);
  EXPECT_STREQ(s->last_text, "hello");
  EXPECT_EQ(s->last_bot, 10001);

  ScopedEnv key("HX_PLUGIN_KEY", "key-123");
  HxPlugin* twin = load("tp_twin");
  ASSERT_NE(twin, nullptr);
  EXPECT_STREQ(state(twin)->key, "key-123");
}

TEST_F(Loader, InfoBlockFormGetsTheBlockAndGettersFillTheGaps) {
  HxPlugin* p = load("tp_info");
  ASSERT_NE(p, nullptr);
  const std::uintptr_t* w = state(p)->info_words;
  const HxApiTriple table = api_build_table();
  EXPECT_EQ(w[0], 125u);
  EXPECT_EQ(w[1], reinterpret_cast<std::uintptr_t>(api_epl_arrays().addresses));
  EXPECT_EQ(w[2], reinterpret_cast<std::uintptr_t>(api_epl_arrays().names));
  EXPECT_STREQ(reinterpret_cast<const char*>(w[8]), "1.1.7");
  EXPECT_STREQ(reinterpret_cast<const char*>(w[9]), "tp_info");
  EXPECT_EQ(w[10], reinterpret_cast<std::uintptr_t>(p));
  EXPECT_EQ(w[11], reinterpret_cast<std::uintptr_t>(p->nameBuf));
  EXPECT_EQ(w[15], 125u);
  EXPECT_EQ(w[16], reinterpret_cast<std::uintptr_t>(table.addresses));
  EXPECT_EQ(w[17], reinterpret_cast<std::uintptr_t>(table.names));
  // The getters' addresses, since neither JSON nor registration gave any.
  ASSERT_NE(p->cb[HX_CB_GROUP], nullptr);
  EXPECT_NE(p->cb[HX_CB_EVENT], nullptr);
  EXPECT_EQ(p->cb[HX_CB_PRIVATE], nullptr);
  group(p, "via getter");
  EXPECT_EQ(state(p)->group_calls, 1);
}

TEST_F(Loader, RegistrationDuringInitFillsTheSlotsAndBeatsTheExport) {
  HxPlugin* p = load("tp_register");
  ASSERT_NE(p, nullptr);
  TestPluginState* s = state(p);
  EXPECT_EQ(s->registered, 6);
  for (int slot : {HX_CB_GROUP, HX_CB_PRIVATE, HX_CB_EVENT, HX_CB_ENABLED, HX_CB_DISABLED}) {
    EXPECT_NE(p->cb[slot], nullptr) << slot;
  }
  EXPECT_STREQ(p->author, "注册者");
  EXPECT_NE(p->entryGroup, nullptr);
  group(p, "x");
  EXPECT_EQ(s->group_calls, 1);
  EXPECT_EQ(s->group_export_calls, 0);
}

TEST_F(Loader, RegisteredGroupCallbackBeatsJsonAndSurvivesJsonMountingOff) {
  for (const char* mounting : {"1", "0"}) {
    SCOPED_TRACE(mounting);
    ScopedEnv env("HX_JSONCB", mounting);
    HxPlugin* p = load("tp_both", std::string("both") + mounting);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(state(p)->registered, 1);
    group(p, "x");
    EXPECT_EQ(state(p)->group_reg_calls, 1);
    EXPECT_EQ(state(p)->group_calls, 0);
    // The JSON's private address is mounted only when mounting is on.
    EXPECT_EQ(p->cb[HX_CB_PRIVATE] != nullptr, *mounting == '1');
    hx_pl_shutdown();  // the same bytes again would be a duplicate
  }
  EXPECT_TRUE(logged("JSON 回调地址已解析但未挂载（HX_JSONCB=0 主动关闭；去掉该环境变量即恢复默认挂载）"));
}

TEST_F(Loader, DuplicatesAreRefused) {
  ASSERT_NE(load("tp_json", "first"), nullptr);
  EXPECT_EQ(load("tp_json", "second"), nullptr);
  EXPECT_TRUE(logged("拒绝重复导入：文件内容与已载入的「first」完全相同（改了名的同一份插件）"));
  // Same name in another letter case, from another directory.
  const std::string other = install_into(root_ / "elsewhere", "tp_twin", "FIRST");
  EXPECT_FALSE(hx_pl_load_file(other, std::string("FIRST") + HX_PLUGIN_EXT));
  EXPECT_TRUE(logged("拒绝重复导入：插件名「first」已在运行"));
  // Distinct builds are never identical.
  EXPECT_NE(load("tp_twin"), nullptr);
  EXPECT_EQ(count(), 2);
}

TEST_F(Loader, FileNamesThatMakeNoDirectoryNameAreRefused) {
  for (const char* stem : {"..", ".", ""}) {
    SCOPED_TRACE(stem);
    const std::string path = install("tp_json", stem);
    EXPECT_FALSE(hx_pl_load_file(path, std::string(stem) + HX_PLUGIN_EXT));
  }
  EXPECT_EQ(count(), 0);
  EXPECT_TRUE(logged("插件文件名无效"));
}

TEST_F(Loader, StillMappedPathLoadsFromAHotCopy) {
  const std::string path = install("tp_json", "hot");
  SysError error;
  const SysLib held = sys_dl_open(path, &error);  // as an unloaded plugin whose module stayed
  ASSERT_TRUE(held) << error.text;
  ASSERT_TRUE(hx_pl_load_file(path, std::string("hot") + HX_PLUGIN_EXT));
  HxPlugin* p = hx_pl_find("hot");
  ASSERT_NE(p, nullptr);
  // Letter case of the data directory differs on Windows, where it is normalised.
  EXPECT_EQ(hx_icmp(p->path, hx_path_join(main_dir("data/hot/1"), std::string("hot") + HX_PLUGIN_EXT)), 0) << p->path;
  EXPECT_NE(p->module, held.get());
  EXPECT_EQ(state(p)->init_calls, 1);  // a module of its own
  EXPECT_TRUE(logged("该路径的模块仍在进程里，改从副本载入"));
}

TEST_F(Loader, PriorityFileOrdersAndSwitchesAndStartUpWritesItBack) {
  install("tp_json", "alpha");
  install("tp_info", "beta");
  install("tp_twin", "gamma");
  ASSERT_TRUE(hx_write_file(main_dir("data/插件优先级.txt"), "gamma|禁用\r\n  nobody|启用\r\n\r\nbeta\r\n"));
  hx_pl_init(1);
  ASSERT_EQ(count(), 3);
  const char* expected_order[] = {"gamma", "beta", "alpha"};
  const int expected_state[] = {HX_PL_DISABLED, HX_PL_ENABLED, HX_PL_ENABLED};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    HxPlugin* p = g_plugins[i];
    EXPECT_EQ(p->name, expected_order[i]);
    EXPECT_EQ(p->order, i);
    EXPECT_EQ(p->state, expected_state[i]);
    EXPECT_EQ(state(p)->start_calls, expected_state[i] == HX_PL_ENABLED ? 1 : 0);
    EXPECT_EQ(p->info.plugin_record, p);
  }
  EXPECT_EQ(hx_pl_count_enabled(), 2);
  EXPECT_EQ(hx_read_file(main_dir("data/插件优先级.txt")).value_or(""), "gamma|禁用\r\nbeta|启用\r\nalpha|启用\r\n");
}

TEST_F(Loader, PriorityFileNamingNoLivePluginChangesNothing) {
  ASSERT_NE(load("tp_json", "alpha"), nullptr);
  ASSERT_NE(load("tp_info", "beta"), nullptr);
  ASSERT_TRUE(hx_write_file(main_dir("data/插件优先级.txt"), "nobody|禁用\n"));
  hx_pl_load_priority();
  EXPECT_EQ(g_plugins[0]->name, "alpha");
  EXPECT_EQ(g_plugins[0]->state, HX_PL_LOADED);
  EXPECT_EQ(g_plugins[1]->state, HX_PL_LOADED);
}

TEST_F(Loader, PluginFilesAreSyncedIntoTheLoadDirectory) {
  install_into(main_dir("plugin"), "tp_json", "fresh");
  install_into(main_dir("data/plugin"), "tp_info", "old");
  install_into(main_dir("data/plugin"), "tp_twin", "fresh");  // main/plugin has its own: not migrated
  EXPECT_EQ(hx_pl_reload(), 2);
  EXPECT_EQ(hx_pl_fingerprint(hx_path_join(dll_dir(), std::string("fresh") + HX_PLUGIN_EXT)),
            hx_pl_fingerprint(hx_path_join(main_dir("plugin"), std::string("fresh") + HX_PLUGIN_EXT)));
  EXPECT_TRUE(logged("插件目录同步：已从 main"));
  EXPECT_TRUE(logged("插件目录同步：另有 1 个旧目录遗留插件已迁入"));
  EXPECT_NE(hx_pl_find("OLD"), nullptr);
}

TEST_F(Loader, FingerprintFollowsContent) {
  const std::string a = root_ / "a", b = root_ / "b", c = root_ / "c";
  ASSERT_TRUE(hx_write_file(a, "plugin bytes"));
  ASSERT_TRUE(hx_write_file(b, "plugin bytes"));
  ASSERT_TRUE(hx_write_file(c, "plugin byteS"));
  EXPECT_NE(hx_pl_fingerprint(a), 0u);
  EXPECT_EQ(hx_pl_fingerprint(a), hx_pl_fingerprint(b));
  EXPECT_NE(hx_pl_fingerprint(a), hx_pl_fingerprint(c));
  EXPECT_EQ(hx_pl_fingerprint(root_ / "missing"), 0u);
}

TEST_F(Loader, ShutdownTellsThePluginsAndEmptiesTheTable) {
  HxPlugin* p = load("tp_json");
  ASSERT_NE(p, nullptr);
  const SysLib keep = sys_dl_open(p->path, nullptr);  // keeps the plugin's data readable
  ASSERT_TRUE(keep);
  TestPluginState* s = state(p);
  hx_pl_shutdown();
  EXPECT_EQ(count(), 0);
  EXPECT_EQ(p->module, 0);
  EXPECT_EQ(s->end_calls, 1);
}

}  // namespace
