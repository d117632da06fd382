// What users do to plugins while messages flow: enable and disable, unload,
// remove, import, hot update, reorder, panels, data and trash, the send hook.
// Real test plugin libraries throughout.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "support/plugin_dir.h"
#include "support/wait.h"
#include "sys/files.h"
#include "test_plugin_state.h"

namespace {

class Lifecycle : public PluginDirTest {
 protected:
  void SetUp() override {
    PluginDirTest::SetUp();
    hx_cfg_account_add("10001", "127.0.0.1", 1, "");
  }
  void TearDown() override {
    for (TestPluginState* s : held_) s->hold = 0;
    PluginDirTest::TearDown();
    hx_cfg_account_remove("10001");
  }

  // Loads and enables a plugin.
  HxPlugin* live(const char* variant, const std::string& as = {}) {
    HxPlugin* p = load(variant, as);
    if (p) hx_pl_set_enabled(p->name, true);
    return p;
  }
  static void group(std::int64_t bot, const char* text) {
    HxGroupMsg m{};
    m.bot_qq = bot;
    m.group_id = 5;
    m.message = text;
    hx_pl_dispatch_group(&m);
  }
  // A handler that waits until the test lets it go (and at the latest at
  // the end of the test).
  void hold(TestPluginState* s) {
    s->hold = 1;
    held_.push_back(s);
  }
  std::string file_in(const std::string& rel, const std::string& name) const {
    return hx_path_join(main_dir(rel), name + HX_PLUGIN_EXT);
  }

  std::vector<TestPluginState*> held_;
};

TEST_F(Lifecycle, EnableAndDisableCallTheEntriesAndWriteThePriorityFile) {
  HxPlugin* reg = load("tp_register", "reg");  // registered enabled/disabled callbacks
  HxPlugin* exp = load("tp_json", "exp");      // start/end exports only
  ASSERT_TRUE(reg && exp);
  const struct {
    HxPlugin* p;
    bool enable;
    std::string line;
    int state;
  } steps[] = {
      {reg, true, "插件已启用（被启用回调：已触发）", HX_PL_ENABLED},
      {reg, false, "插件已禁用（被禁用回调：已触发）", HX_PL_DISABLED},
      {exp, false, "插件已禁用（被禁用回调：已触发）", HX_PL_DISABLED},
      {exp, true, "插件已启用（被启用回调：已触发）", HX_PL_ENABLED},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line + " " + s.p->name);
    hx_log_clear();
    hx_pl_set_enabled(s.p->name, s.enable);
    EXPECT_EQ(s.p->state, s.state);
    EXPECT_TRUE(logged(s.line));
  }
  EXPECT_EQ(state(reg)->enabled_calls, 1);
  EXPECT_EQ(state(reg)->disabled_calls, 1);
  EXPECT_STREQ(state(reg)->last_qq, "10001");  // the first account's QQ
  EXPECT_EQ(state(exp)->end_calls, 1);
  EXPECT_EQ(state(exp)->start_calls, 1);
  // Asking for the state it has already does nothing.
  hx_pl_set_enabled("EXP", true);
  EXPECT_EQ(state(exp)->start_calls, 1);
  EXPECT_EQ(hx_read_file(main_dir("data/插件优先级.txt")).value_or(""), "reg|禁用\r\nexp|启用\r\n");
}

TEST_F(Lifecycle, UnloadRetiresTheFileAndTheSameFileComesBackFromAHotCopy) {
  HxPlugin* p = live("tp_life", "life");
  ASSERT_NE(p, nullptr);
  TestPluginState* old_state = state(p);
  EXPECT_EQ(hx_pl_unload("LIFE"), 1);
  EXPECT_EQ(old_state->disabled_calls + old_state->end_calls, 1);
  EXPECT_EQ(old_state->unload_calls, 1);
  EXPECT_EQ(p->module.load(), 0);
  EXPECT_EQ(p->state, HX_PL_LOADED);
  EXPECT_EQ(p->cb[HX_CB_GROUP], nullptr);
  EXPECT_FALSE(hx_file_exists(file_in("data/dll", "life")));
  EXPECT_TRUE(hx_file_exists(file_in("data/trash", "life_1")));
  EXPECT_TRUE(logged("插件已卸载（旧版本文件已移入 main"));
  EXPECT_EQ(hx_pl_unload("life"), 1) << "already unloaded";
  EXPECT_EQ(count(), 1) << "the record waits in the table until it is removed";

  // The same bytes again, while the old module is still mapped from that path.
  const std::string source = install_into(root_ / "download", "tp_life", "life");
  ASSERT_EQ(hx_pl_import(source), 1);
  HxPlugin* again = hx_pl_find("life");
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, p) << "a new record; the old one keeps its address";
  EXPECT_EQ(hx_icmp(again->path, file_in("data/hot/1", "life")), 0) << again->path;
  EXPECT_EQ(again->state, HX_PL_ENABLED);
  EXPECT_EQ(state(again)->init_calls, 1) << "a module of its own";
  EXPECT_EQ(old_state->init_calls, 1);

  EXPECT_EQ(hx_pl_remove("life"), 1) << "the unloaded record";
  EXPECT_EQ(hx_pl_remove("life"), 0) << "the live one stays";
  EXPECT_EQ(count(), 1);
  EXPECT_EQ(hx_pl_find("life"), again);
  EXPECT_TRUE(logged("插件已从列表移除（列表剩余 1 个）"));
}

TEST_F(Lifecycle, UnloadWaitsForARunningHandler) {
  const struct {
    int release_after_ms;  // -1: not before the drain gives up
    int result;
  } cases[] = {{300, 1}, {-1, 0}};
  hx_pl_start_lanes(2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.release_after_ms);
    const std::string name = "busy" + std::to_string(c.result);
    HxPlugin* p = live(c.result ? "tp_life" : "tp_life2", name);
    ASSERT_NE(p, nullptr);
    TestPluginState* s = state(p);
    hold(s);
    group(10001, "held");
    ASSERT_TRUE(wait_until([&] { return s->inside == 1; }, 10000));
    std::thread releaser;
    if (c.release_after_ms >= 0) {
      releaser = std::thread([s, ms = c.release_after_ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        s->hold = 0;
      });
    }
    EXPECT_EQ(hx_pl_unload(name), c.result);
    if (releaser.joinable()) releaser.join();
    EXPECT_EQ(p->module.load(), 0) << "cut off either way";
    EXPECT_EQ(p->cb[HX_CB_GROUP], nullptr);
    EXPECT_EQ(hx_file_exists(file_in("data/dll", name)), c.result == 0) << "the file moves only after the drain";
    if (!c.result) {
      EXPECT_TRUE(logged("有插件回调 5 秒内没返回，为安全起见本次不卸载 DLL（回调入口已全部断开）"));
      s->hold = 0;
      ASSERT_TRUE(hx_pl_wait_idle(10000 * kTimeoutScale));
      group(10001, "after");
      ASSERT_TRUE(hx_pl_wait_idle(10000 * kTimeoutScale));
      EXPECT_EQ(s->group_calls, 1) << "a cut-off plugin gets nothing more";
    }
  }
}

TEST_F(Lifecycle, HotUpdateKeepsStatePositionAndData) {
  for (const bool enabled : {true, false}) {
    SCOPED_TRACE(enabled);
    ASSERT_NE(live("tp_json", "first"), nullptr);
    HxPlugin* old = live("tp_life", "upd");
    ASSERT_NE(live("tp_info", "last"), nullptr);
    ASSERT_NE(old, nullptr);
    if (!enabled) hx_pl_set_enabled("upd", false);
    const std::string data = hx_path_join(old->dataDir, "keep.txt");
    ASSERT_TRUE(hx_write_file(data, "mine"));

    ASSERT_EQ(hx_pl_hot_update("upd", built("tp_life2")), 1);
    HxPlugin* fresh = hx_pl_find("upd");
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, old);
    EXPECT_STREQ(state(fresh)->identity, "tolvex test plugin tp_life2");
    EXPECT_EQ(fresh->state, enabled ? HX_PL_ENABLED : HX_PL_DISABLED);
    EXPECT_EQ(order(), "first,upd,last");
    EXPECT_EQ(fresh->order, 1);
    EXPECT_EQ(fresh->info.plugin_record, fresh);
    EXPECT_EQ(hx_read_file(data).value_or(""), "mine");
    EXPECT_TRUE(logged(enabled ? "新版已载入并启用" : "新版已载入（保持禁用态）"));
    EXPECT_TRUE(logged("热更新完成（插件数据目录已保留）"));
    EXPECT_EQ(state(fresh)->start_calls, enabled ? 1 : 0);
    hx_pl_shutdown();
  }
  EXPECT_EQ(hx_pl_hot_update("nobody", built("tp_life2")), 0);
  EXPECT_TRUE(logged("热更新中止：插件未能热卸载（DLL 仍被占用），插件数据未改动"));
}

TEST_F(Lifecycle, APluginNeverRunsOnTwoLanesAtOnce) {
  hx_pl_start_lanes(8);
  HxPlugin* p = live("tp_life", "solo");
  ASSERT_NE(p, nullptr);
  TestPluginState* s = state(p);
  s->spin_us = 50;
  constexpr int kPerThread = 500;
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) group(20000 + t, "x");
    });
  }
  for (auto& t : producers) t.join();
  ASSERT_TRUE(hx_pl_wait_idle(60000 * kTimeoutScale));
  EXPECT_EQ(s->group_calls, 4 * kPerThread);
  EXPECT_EQ(s->overlaps, 0);
}

TEST_F(Lifecycle, ReorderTakesOnlyAPermutationAndMovesOnePlaceAtATime) {
  ASSERT_NE(load("tp_json", "a"), nullptr);
  ASSERT_NE(load("tp_info", "b"), nullptr);
  ASSERT_NE(load("tp_twin", "c"), nullptr);
  const struct {
    std::vector<int> order;
    int result;
    std::string after;
  } cases[] = {
      {{0, 0, 1}, 0, "a,b,c"},                           // repeated index
      {{0, 3, 1}, 0, "a,b,c"},                           // out of range
      {{0, 1, 2}, 0, "a,b,c"},                           // identity
      {{0, 1, 2, 3}, 0, "a,b,c"},                        // more than there are
      {{}, 0, "a,b,c"},           {{1, 0}, 1, "b,a,c"},  // the first two; the rest stay
      {{2, 0, 1}, 1, "c,b,a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.after);
    EXPECT_EQ(hx_pl_reorder(c.order.data(), static_cast<int>(c.order.size())), c.result);
    EXPECT_EQ(order(), c.after);
  }
  EXPECT_TRUE(logged("处理优先级已重排（3 项，新的首位 = c）"));
  EXPECT_EQ(hx_pl_move_priority("c", -1), 0) << "at the top";
  EXPECT_EQ(hx_pl_move_priority("C", 1), 0) << "names compare exactly";
  EXPECT_EQ(hx_pl_move_priority("c", 1), 1);
  EXPECT_EQ(order(), "b,c,a");
  EXPECT_TRUE(logged("处理优先级下移（现第 2 位）"));
  EXPECT_EQ(hx_pl_move_priority("a", 1), 0) << "at the bottom";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(g_plugins[i]->order, i);
  EXPECT_EQ(hx_read_file(main_dir("data/插件优先级.txt")).value_or(""), "b|禁用\r\nc|禁用\r\na|禁用\r\n");
}

TEST_F(Lifecycle, DataAndFilesAreDeletedOnlyInsideTheirPlace) {
  HxPlugin* p = load("tp_json", "owner");
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(hx_write_file(hx_path_join(p->dataDir, "a.txt"), "1"));
  ASSERT_TRUE(hx_write_file(hx_path_join(p->dataDir, "b.txt"), "2"));
  hx_dir_create(hx_path_join(p->dataDir, "sub"));
  ASSERT_TRUE(hx_write_file(main_dir("data/settings.ini"), "keep"));
  ASSERT_TRUE(hx_write_file(main_dir("data/app/top.txt"), "keep"));
  // Names that would make a path outside main/data/app/<name>.
  for (const char* bad : {"..", ".", "", "../dll"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(hx_pl_clear_data(bad), 0);
    EXPECT_EQ(hx_pl_delete_files(bad), 0);
  }
  EXPECT_TRUE(hx_file_exists(main_dir("data/settings.ini")));
  EXPECT_TRUE(hx_file_exists(main_dir("data/app/top.txt")));

  EXPECT_EQ(hx_pl_clear_data("owner"), 2);
  EXPECT_TRUE(hx_dir_exists(p->dataDir));
  EXPECT_TRUE(logged("已清空插件数据目录（2 个文件）"));
  hx_dir_create(main_dir("data/app/gone"));
  ASSERT_TRUE(hx_write_file(hx_path_join(main_dir("data/app/gone"), "x.txt"), "1"));
  install_into(main_dir("plugin"), "tp_info", "gone");
  install("tp_info", "gone");
  EXPECT_EQ(hx_pl_delete_files("gone"), 3);  // two plugin files and one data file
  EXPECT_FALSE(hx_dir_exists(main_dir("data/app/gone")));
  EXPECT_EQ(hx_pl_delete_files("gone"), 2) << "absent files count as deleted";
}

TEST_F(Lifecycle, TrashCleaningKeepsFilesOfMappedModules) {
  HxPlugin* p = live("tp_life", "t");
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(hx_pl_hot_unload("t"), 1);
  ASSERT_EQ(count(), 0);
  ASSERT_EQ(hx_pl_import(install_into(root_ / "in", "tp_life", "t")), 1);  // loads hot/1/t
  hx_dir_create(main_dir("data/hot/2"));
  ASSERT_TRUE(hx_write_file(hx_path_join(main_dir("data/hot/2"), "old.dll"), "x"));
  ASSERT_TRUE(hx_write_file(main_dir("data/hot/stray.dll"), "x"));
  ASSERT_TRUE(hx_write_file(main_dir("data/trash/other_1.dll"), "x"));
  // other_1, hot/2/old.dll and hot/stray.dll; the retired t_1 and hot/1/t
  // are files of modules still mapped.
  EXPECT_EQ(hx_pl_clean_trash(), 3);
  EXPECT_TRUE(logged("已清理上一轮卸载/热更新残留的 3 个旧版本插件文件"));
  EXPECT_TRUE(hx_file_exists(file_in("data/hot/1", "t")));
  EXPECT_FALSE(hx_dir_exists(main_dir("data/hot/2")));
  // The next copy of the same name must not reuse a name still mapped.
  ASSERT_EQ(hx_pl_hot_unload("t"), 1);
  ASSERT_EQ(hx_pl_import(install_into(root_ / "in", "tp_life", "t")), 1);
  HxPlugin* third = hx_pl_find("t");
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(state(third)->init_calls, 1) << "a module of its own, not the mapped one";
}

TEST_F(Lifecycle, ImportRefusesWhatCannotBeAPlugin) {
  ASSERT_NE(live("tp_json", "here"), nullptr);
  const struct {
    std::string path;
    std::string line;
  } cases[] = {
      {root_ / "notes.txt", "导入失败：不是 "},
      {install_into(root_ / "x", "tp_json", "copy"), "导入失败：文件内容与已载入的「here」完全相同"},
      {install_into(root_ / "y", "tp_twin", "HERE"), "导入失败：插件名「here」已在运行"},
      {install_into(root_ / "z", "tp_noinit", "noinit"), "未找到导出函数"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(hx_pl_import(c.path), 0);
    EXPECT_TRUE(logged(c.line));
  }
  EXPECT_EQ(count(), 1);
  // A file already in main/data/dll is loaded as it is, not copied onto itself.
  const std::string in_place = install("tp_info", "inplace");
  const std::uint64_t before = hx_pl_fingerprint(in_place);
  EXPECT_EQ(hx_pl_import(in_place), 1);
  EXPECT_EQ(hx_pl_fingerprint(in_place), before);
}

TEST_F(Lifecycle, PanelRunsOnItsOwnThreadAndIsJoined) {
  HxPlugin* p = live("tp_life", "panel");
  ASSERT_NE(p, nullptr);
  hx_pl_show_panel("panel");
  ASSERT_TRUE(wait_until([&] { return state(p)->panel_calls == 1; }, 10000));
  EXPECT_TRUE(hx_pl_panel_join(p, 5000 * kTimeoutScale));
  EXPECT_FALSE(p->panelOpen.load());
  EXPECT_TRUE(logged("已调用插件 _ControlPanel 导出"));
  hx_pl_show_panel("panel");  // again, once the first has ended
  ASSERT_TRUE(wait_until([&] { return state(p)->panel_calls == 2; }, 10000));
  ASSERT_TRUE(hx_pl_panel_join(p, 5000 * kTimeoutScale));

  ASSERT_NE(live("tp_json", "plain"), nullptr);
  hx_pl_show_panel("plain");
  ASSERT_TRUE(wait_until([] { return logged("该插件没有提供设置界面"); }, 10000));
  hx_pl_show_panel("nobody");
  EXPECT_TRUE(logged("插件未载入，无法打开设置"));
}

TEST_F(Lifecycle, SendHookReplacesOnlyWhatItAnswers) {
  HxPlugin* hooked = live("tp_life", "hooked");
  HxPlugin* plain = live("tp_json", "plain");
  ASSERT_TRUE(hooked && plain);
  ASSERT_NE(hooked->cb[HX_CB_SEND_HOOK], nullptr);
  TestPluginState* s = state(hooked);
  EXPECT_EQ(hx_pl_send_hook(hooked, "发送群消息", "swap me").value_or(""), "swapped by tp_life");
  EXPECT_EQ(hx_pl_send_hook(hooked, "发送好友消息", "keep me"), std::nullopt);
  EXPECT_EQ(s->hook_calls, 2);
  EXPECT_STREQ(s->hook_api, "发送好友消息");
  EXPECT_STREQ(s->hook_app, "hooked");
  EXPECT_EQ(hx_pl_send_hook(plain, "发送群消息", "swap me"), std::nullopt);
  ASSERT_EQ(hx_pl_unload("hooked"), 1);
  EXPECT_EQ(hx_pl_send_hook(hooked, "发送群消息", "swap me"), std::nullopt) << "an unloaded hook is never called";
  EXPECT_EQ(s->hook_calls, 2);
}

// One thread enables, disables, unloads, imports and moves a plugin while
// four accounts stream messages: nothing crashes, nothing leaks (asan), and
// the plugins nobody touches get every message.
TEST_F(Lifecycle, ChurnWhileFourAccountsStream) {
  constexpr int kSeconds = 10;
  constexpr int kMaxImports = 400;  // each import maps a copy of its own (main/data/hot/<i>)
  hx_pl_start_lanes(0);
  HxPlugin* a = live("tp_json", "steady_a");
  HxPlugin* b = live("tp_info", "steady_b");
  ASSERT_TRUE(a && b && live("tp_life", "churn"));
  const std::string source = install_into(root_ / "download", "tp_life", "churn");
  std::vector<TestPluginState*> churned{state(hx_pl_find("churn"))};

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> sent{0};
  std::vector<std::thread> accounts;
  for (int t = 0; t < 4; ++t) {
    accounts.emplace_back([&, t] {
      while (!stop.load()) {
        group(30001 + t, "stream");
        sent.fetch_add(1);
      }
    });
  }
  int ops = 0, imports = 0, failed = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kSeconds);
  while (std::chrono::steady_clock::now() < until && imports < kMaxImports) {
    hx_pl_set_enabled("churn", false);
    hx_pl_set_enabled("churn", true);
    hx_pl_move_priority("churn", -1);
    failed += hx_pl_hot_unload("churn") ? 0 : 1;
    failed += hx_pl_import(source) ? 0 : 1;
    ++imports;
    ops += 5;
    if (HxPlugin* p = hx_pl_find("churn")) churned.push_back(state(p));
  }
  stop.store(true);
  for (auto& t : accounts) t.join();
  ASSERT_TRUE(hx_pl_wait_idle(60000 * kTimeoutScale));

  EXPECT_EQ(failed, 0);
  EXPECT_EQ(static_cast<std::uint64_t>(state(a)->group_calls), sent.load());
  EXPECT_EQ(static_cast<std::uint64_t>(state(b)->group_calls), sent.load());
  std::uint64_t churn_calls = 0;
  for (TestPluginState* s : churned) {
    churn_calls += static_cast<std::uint64_t>(s->group_calls);
    EXPECT_EQ(s->overlaps, 0);
  }
  EXPECT_LE(churn_calls, sent.load());
  std::printf(
      "churn: %d operations (%d imports) in %d s; %llu messages from 4 accounts, each to both steady plugins; "
      "%llu reached the churned plugin\n",
      ops, imports, kSeconds, static_cast<unsigned long long>(sent.load()),
      static_cast<unsigned long long>(churn_calls));
}

TEST(NameCaches, UpdateInPlaceAndEvictTheOldest) {
  hx_pl_cache_group("1", "g0", "first");
  hx_pl_cache_group("1", "g0", "renamed");
  EXPECT_EQ(hx_pl_group_name_cache("1", "g0"), "renamed");
  EXPECT_EQ(hx_pl_group_name_cache("2", "g0"), "") << "per account";
  EXPECT_EQ(hx_pl_group_name_cache("1", ""), "");
  for (int i = 1; i <= 256; ++i) hx_pl_cache_group("1", "g" + std::to_string(i), "n");
  EXPECT_EQ(hx_pl_group_name_cache("1", "g0"), "") << "the 257th entry evicted the oldest";
  EXPECT_EQ(hx_pl_group_name_cache("1", "g1"), "n");
  hx_pl_cache_nick("1", "u", std::string(200, 'x'));
  EXPECT_EQ(hx_pl_nick_cache("1", "u").size(), 127u);
}

}  // namespace
