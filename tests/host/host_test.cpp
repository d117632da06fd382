// Command-line rules, the auto-login summary and the boot thread's bounded wait.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "foundation/util.h"
#include "host/host.h"

namespace {

TEST(HostCommandLine, DataDirectoryValue) {
  using Opt = std::optional<std::string>;
  struct Case {
    std::string cmdline;
    Opt env, want;
  } cases[] = {
      {"--dir=D:\\bots\\a", {}, "D:\\bots\\a"},
      {"--dir D:\\bots\\a", {}, "D:\\bots\\a"},
      {"--debug --dir=/srv/bot --updated", {}, "/srv/bot"},
      {"--dir=/my bots/x", {}, "/my"},  // cut at the space
      {"--dir", "/env", "/env"},
      {"--dir ", "/env", "/env"},
      {"--directory=x", "/env", "/env"},
      {"--dir=", {}, {}},
      {"", {}, {}},
      {"", "", {}},
      {"", "/env/with space", "/env/with"},
      {"--dir=\"C:\\quoted\"", {}, "C:\\quoted"},
      {"--dir=\"C:\\open", {}, "C:\\open"},
      {"--dir=" + std::string(600, 'd'), {}, std::string(511, 'd')},
  };
  for (const auto& c : cases) EXPECT_EQ(hx_host_dir_value(c.cmdline, c.env), c.want) << c.cmdline;
}

TEST(HostCommandLine, UpdatedPid) {
  struct Case {
    const char* cmdline;
    int pid;
  } cases[] = {{"--updated --updated-pid=1234", 1234},
               {"--updated --updated-pid  = 77 --debug", 77},
               {"--updated", 0},
               {"--updated-pid=x", 0},
               {"--updated-pid=99999999999", 0}};
  for (const auto& c : cases) EXPECT_EQ(hx_host_updated_pid(c.cmdline), c.pid) << c.cmdline;
}

TEST(HostInstance, LockNamesHashTheKey) {
  EXPECT_EQ(hx_fnv1a(""), 2166136261u);
  EXPECT_EQ(hx_fnv1a("a"), 0xE40C292Cu);
  EXPECT_EQ(hx_fnv1a("foobar"), 0xBF9CF968u);
  std::string name = hx_single_instance_name();
  EXPECT_EQ(name.rfind("HXFrame_Single_", 0), 0u);
  EXPECT_EQ(name.size(), std::string("HXFrame_Single_12345678_").size() + std::to_string(hx_inst_key().size()).size());
}

TEST(HostBoot, LoginSummary) {
  static HxCfg cfg;  // large: keep it off the stack
  std::memset(&cfg, 0, sizeof cfg);
  EXPECT_EQ(hx_host_login_summary(cfg), "");
  const char* ids[] = {"10001", "", "10003"};
  for (const char* id : ids) std::strcpy(cfg.accounts[cfg.accountCount++].id, id);
  EXPECT_EQ(hx_host_login_summary(cfg), "QQ10001, QQ10003");

  cfg.accountCount = 0;
  for (int i = 0; i < HX_MAX_ACCOUNTS; ++i) {
    std::strcpy(cfg.accounts[cfg.accountCount++].id, ("12345678901234567890" + std::to_string(i)).c_str());
  }
  std::string s = hx_host_login_summary(cfg);
  EXPECT_GT(s.size(), 231u);
  EXPECT_LT(s.size(), 231u + 2 + 2 + 22);  // stops right after passing the limit
}

TEST(HostBoot, ThreadThatFinishesIsJoined) {
  HxThread boot;
  std::atomic<bool> saw_stop{false};
  boot.start([&](HxStop& stop) {
    EXPECT_TRUE(stop.sleep_for(60000));  // woken by the stop request, not by the time
    saw_stop = true;
  });
  EXPECT_TRUE(boot.stop_and_wait(5000));
  EXPECT_TRUE(saw_stop);
  EXPECT_TRUE(boot.finished());
}

TEST(HostBoot, StuckThreadIsReportedNotKilled) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  {
    HxThread boot;
    boot.start([release, finished](HxStop&) {
      while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      *finished = true;
    });
    EXPECT_FALSE(boot.stop_and_wait(50));
  }
  // Still alive after the limit and after its owner went away.
  *release = true;
  for (int i = 0; i < 5000 && !*finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(*finished);
}

}  // namespace
