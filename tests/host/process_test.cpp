// The host as a real process: data directory, single instance, start-up and
// shutdown, observed through what it prints.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "config/cfg.h"
#include "foundation/util.h"
#include "support/host_process.h"
#include "support/temp_dir.h"

namespace {

const bool kWindows = HX_SEP == '\\';
const std::string kReady = "界面已就绪，插件等耗时初始化转入后台";
const std::string kActivated = "已有实例在运行，已将其显示到前台";

// The directory as the host normalises and prints it.
std::string shown_dir(const std::string& dir) { return hx_norm_dir(dir); }

void write_settings(const std::string& data_dir, const std::string& body) {
  std::string d = hx_path_join(data_dir, std::string("main") + HX_SEP + "data");
  hx_dir_create(d);
  ASSERT_TRUE(hx_write_file(hx_path_join(d, "框架设置.ini"), "[设置]\r\n" + body));
}

// Ends the host the way a user does; on Windows (no signals to send to a
// child here) it is killed once the test has seen what it needs.
void finish(HostProcess& host) {
  if (!kWindows) {
    ASSERT_TRUE(host.request_stop());
    int code = -1;
    ASSERT_TRUE(host.wait_exit(&code));
    EXPECT_EQ(code, 0) << host.output();
  }
}

TEST(HostProcess, DataDirectoryFromTheCommandLine) {
  for (const char* form : {"=", " "}) {
    TempDir cwd, data;
    std::vector<std::string> args;
    if (std::string(form) == "=") {
      args = {"--dir=" + data.path()};
    } else {
      args = {"--dir", data.path()};
    }
    HostProcess host(args, cwd.path());
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.wait_for("数据目录：" + shown_dir(data.path()))) << host.output();
    finish(host);
    if (!kWindows) {
      EXPECT_TRUE(hx_file_exists(hx_path_join(data.path(), "main/data/框架设置.ini")));
    }
  }
}

TEST(HostProcess, FallsBackToTheEnvironment) {
  TempDir cwd, data;
  HostProcess host({"--directory=elsewhere"}, cwd.path(), {{"HX_RUN_DIR", data.path()}});
  ASSERT_TRUE(host.wait_for("数据目录：" + shown_dir(data.path()))) << host.output();
  finish(host);
}

TEST(HostProcess, SecondInstanceWakesTheFirstAndExits) {
  TempDir cwd, data;
  HostProcess first({"--dir=" + data.path()}, cwd.path());
  ASSERT_TRUE(first.wait_for(kReady)) << first.output();

  HostProcess second({"--dir=" + data.path()}, cwd.path());
  int code = -1;
  ASSERT_TRUE(second.wait_exit(&code)) << second.output();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(second.output().find("数据目录"), std::string::npos) << "the second one must not start";
  EXPECT_TRUE(first.wait_for(kActivated)) << first.output();

  // After an update the new version starts even though the old one still runs.
  HostProcess updated({"--dir=" + data.path(), "--updated"}, cwd.path());
  EXPECT_TRUE(updated.wait_for("更新：已完成升级，本次为更新后首次启动")) << updated.output();
  EXPECT_TRUE(updated.wait_for(kReady)) << updated.output();
  finish(updated);
  finish(first);
}

TEST(HostProcess, UpdatedVersionWaitsForTheOldProcess) {
  TempDir cwd, old_data, new_data;
  HostProcess old_version({"--dir=" + old_data.path()}, cwd.path());
  ASSERT_TRUE(old_version.wait_for(kReady)) << old_version.output();
  std::string pid = std::to_string(old_version.pid());
  HostProcess new_version({"--dir=" + new_data.path(), "--updated", "--updated-pid=" + pid}, cwd.path());
  EXPECT_FALSE(new_version.wait_for("数据目录：", 500)) << "must wait while the old version runs";
  old_version.force_end();
  EXPECT_TRUE(new_version.wait_for(kReady)) << new_version.output();
  finish(new_version);
}

TEST(HostProcess, SameProgramDirectoryFromTwoWorkingDirectories) {
  TempDir cwd1, cwd2;
  HostProcess first({}, cwd1.path());
  ASSERT_TRUE(first.wait_for(kReady)) << first.output();
  HostProcess second({}, cwd2.path());
  EXPECT_TRUE(second.wait_for(kReady)) << second.output();
  EXPECT_TRUE(second.wait_for("警告：已有别的实例正在使用同一个数据目录")) << second.output();
  EXPECT_EQ(first.output().find("警告"), std::string::npos);
  finish(second);
  finish(first);
}

TEST(HostProcess, StopRunsTheShutdownInOrder) {
  if (kWindows) GTEST_SKIP() << "no stop signal can be sent to a child process here";
  TempDir cwd, data;
  HostProcess host({"--dir=" + data.path(), "--debug"}, cwd.path());
  ASSERT_TRUE(host.wait_for("正在自动登录：账号 → 未连上")) << host.output();
  ASSERT_TRUE(host.request_stop());
  int code = -1;
  ASSERT_TRUE(host.wait_exit(&code));
  EXPECT_EQ(code, 0);
  std::string out = host.output();
  EXPECT_TRUE(appears_in_order(
      out, {"调试输出已开启", "Tolvex 框架 8.0 启动（插件 SDK 1.1.7）", "程序目录：", "数据目录：", "通信模式：正向",
            kReady, "插件加载完成，耗时 ", "收到退出请求", "退出：等待后台启动线程", "退出：头像支持", "退出：账号连接",
            "退出：对话框监视", "退出：插件", "退出：网络库", "退出：保存设置", "退出：图片支持", "退出：日志"}))
      << out;
}

TEST(HostProcess, EveryThreadHoldsTheStopSignalsBack) {
  // Only the console's signal thread takes SIGINT and SIGTERM (by sigwait);
  // a thread that did not block them would end the process on a stop request
  // without the shutdown.
  if (kWindows || !hx_dir_exists("/proc/self/task")) GTEST_SKIP() << "reads the signal masks from Linux's /proc";
  TempDir cwd, data;
  HostProcess host({"--dir=" + data.path()}, cwd.path());
  ASSERT_TRUE(host.wait_for("插件加载完成，耗时 ")) << host.output();
  const std::string tasks = "/proc/" + std::to_string(host.pid()) + "/task/";
  int threads = 0, unblocked = 0;
  for (const HxDirEntry& t : hx_list_dir(tasks)) {
    std::ifstream status(tasks + t.name + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigBlk:", 0) != 0) continue;
      const unsigned long long blocked = std::stoull(line.substr(7), nullptr, 16);
      const unsigned long long stop = 1ull << (2 - 1) | 1ull << (15 - 1);  // SIGINT, SIGTERM
      unblocked += (blocked & stop) != stop;
      ++threads;
    }
  }
  EXPECT_GE(threads, 2);
  // The signal thread, inside sigwait, shows them unblocked while it waits.
  EXPECT_LE(unblocked, 1) << "of " << threads << " threads";
  ASSERT_TRUE(host.request_stop());
  int code = -1;
  ASSERT_TRUE(host.wait_exit(&code));
  EXPECT_EQ(code, 0);
}

TEST(HostProcess, BootThreadAndAutoLogin) {
  struct Case {
    const char* settings;
    bool logs_in;
  } cases[] = {{"自动登录=假\r\n", false}, {"自动登录=真\r\n", true}};
  for (const auto& c : cases) {
    TempDir cwd, data;
    write_settings(data.path(), c.settings);
    HostProcess host({"--dir=" + data.path()}, cwd.path());
    ASSERT_TRUE(host.wait_for("插件加载完成")) << host.output();
    if (c.logs_in) {
      EXPECT_TRUE(host.wait_for("正在自动登录：（没有可登录的账号） …")) << host.output();
      EXPECT_TRUE(host.wait_for("正在自动登录：账号 → 未连上")) << host.output();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(300 * kTimeoutScale));
      EXPECT_EQ(host.output().find("正在自动登录"), std::string::npos) << host.output();
    }
    finish(host);
  }
}

TEST(HostProcess, ReconnectIntervalFromTheEnvironment) {
  struct Case {
    const char* value;
    bool taken;
  } cases[] = {{"1", true}, {"3600", true}, {"0", false}, {"3601", false}, {"x", false}};
  for (const auto& c : cases) {
    TempDir cwd, data;
    HostProcess host({"--dir=" + data.path()}, cwd.path(), {{"HX_WS_RETRY_SEC", c.value}});
    ASSERT_TRUE(host.wait_for(kReady)) << host.output();
    ASSERT_TRUE(host.wait_for("插件加载完成")) << host.output();
    std::string line = std::string("断线重连间隔已设为 ") + c.value + " 秒（HX_WS_RETRY_SEC）";
    EXPECT_EQ(host.output().find(line) != std::string::npos, c.taken) << c.value << "\n" << host.output();
    finish(host);
  }
}

TEST(HostProcess, ReverseModeIsAnnouncedAndAccountFilesIgnored) {
  TempDir cwd, data;
  write_settings(data.path(), "开启反向通信模式=真\r\n");
  std::string bots = hx_path_join(data.path(), std::string("main") + HX_SEP + "data" + HX_SEP + "Bot");
  hx_dir_create(bots);
  hx_write_file(hx_path_join(bots, "QQ1.json"), "{}");
  HostProcess host({"--dir=" + data.path()}, cwd.path());
  ASSERT_TRUE(host.wait_for(kReady)) << host.output();
  std::string out = host.output();
  EXPECT_TRUE(appears_in_order(out, {"反向模式：忽略 main\\data\\Bot\\QQ*.json 共 1 条", "通信模式：反向"})) << out;
  finish(host);
}

}  // namespace
