// What every test of the account links starts from: scripted backends can be
// had (else the test is skipped), a data directory of its own, the log, the
// settings and the link layer; all of it stopped again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "support/backend.h"
#include "support/temp_dir.h"
#include "sys/net.h"

class LinkFixture : public ::testing::Test {
 protected:
  explicit LinkFixture(int log_lines = 5000) : logLines_(log_lines) {}

  void SetUp() override {
    std::string why;
    if (!Backend::available(&why)) GTEST_SKIP() << why;
    hx_set_data_dir(dir.path());
    hx_log_init(logLines_);
    hx_cfg_load();
    hx_ob_init();
  }
  void TearDown() override {
    hx_ob_stop();
    hx_log_shutdown();
    hx_set_data_dir("");
  }

  // A forward account for 127.0.0.1:port, saved and in the account table.
  static void add_account(const std::string& qq, int port, const std::string& key = "") {
    HxAccount acc{};
    std::strcpy(acc.id, qq.c_str());
    std::strcpy(acc.ip, "127.0.0.1");
    std::strcpy(acc.key, key.c_str());
    acc.port = port;
    ASSERT_TRUE(hx_cfg_save_bot(&acc));
    hx_cfg_scan_bots();
  }
  // A port nobody listens on (free a moment ago).
  static int free_port() {
    std::uint16_t port = 0;
    SysSocket probe = sys_tcp_listen("127.0.0.1", 0, &port);
    return port;
  }

  TempDir dir;

 private:
  int logLines_;
};
