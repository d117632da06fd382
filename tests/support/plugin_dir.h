// A host root of its own with the built test plugins at hand: copies a
// variant in under any name, loads it, and reads what it recorded.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "support/temp_dir.h"
#include "sys/dynlib.h"
#include "sys/files.h"
#include "test_plugin_state.h"

class PluginDirTest : public ::testing::Test {
 protected:
  using StateFn = TestPluginState* (*)();

  void SetUp() override {
    hx_log_init(20000);
    hx_log_set_switch(HX_LOG_DEBUG, 1);
    hx_set_data_dir(root_.path());
    hx_dir_create(dll_dir());
  }
  void TearDown() override {
    hx_pl_shutdown();
    hx_set_data_dir("");
    hx_log_shutdown();
  }

  std::string main_dir(const std::string& rel) const {
    std::string p = root_ / "main";
    for (std::string_view part : hx_split(rel, "/", 16)) p = hx_path_join(p, part);
    return p;
  }
  std::string dll_dir() const { return main_dir("data/dll"); }
  // A built test plugin.
  static std::string built(const char* variant) {
    return std::string(HX_TEST_PLUGIN_DIR) + "/" + variant + HX_PLUGIN_EXT;
  }

  // Copies a built test plugin into `dir` as <as><ext>; returns the path.
  static std::string install_into(const std::string& dir, const char* variant, const std::string& as) {
    const std::string to = hx_path_join(dir, as + HX_PLUGIN_EXT);
    hx_dir_create(dir);
    EXPECT_EQ(sys_copy_file(built(variant), to, nullptr), SysCopyStatus::ok) << variant;
    return to;
  }
  std::string install(const char* variant, const std::string& as) const { return install_into(dll_dir(), variant, as); }

  // Installs and loads one plugin; its record, or null when refused.
  HxPlugin* load(const char* variant, std::string as = {}) {
    if (as.empty()) as = variant;
    const std::string path = install(variant, as);
    return hx_pl_load_file(path, as + HX_PLUGIN_EXT) ? hx_pl_find(as) : nullptr;
  }

  // What the plugin recorded; stays readable after an unload, since the
  // module stays mapped.
  static TestPluginState* state(const HxPlugin* p) {
    auto fn = reinterpret_cast<StateFn>(sys_dl_sym(p->module.load(), "tp_state"));
    return fn ? fn() : nullptr;
  }
  static bool logged(const std::string& text) {
    hx_log_entry e;
    for (int i = 0; hx_log_at(i, &e); ++i) {
      if (std::string(e.text).find(text) != std::string::npos) return true;
    }
    return false;
  }
  static int count() {
    std::lock_guard lock(g_plCs);
    return g_pluginCount;
  }
  // The names in priority order.
  static std::string order() {
    std::lock_guard lock(g_plCs);
    std::string s;
    for (int i = 0; i < g_pluginCount; ++i) s += (i ? "," : "") + g_plugins[i]->name;
    return s;
  }

  TempDir root_;
};
