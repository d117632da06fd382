// Clock, local-time text and durations.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "foundation/util.h"

namespace {

TEST(Time, NowIsUnixSeconds) {
  auto sys = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  EXPECT_NEAR(static_cast<double>(hx_now()), static_cast<double>(sys.count()), 2.0);
  EXPECT_GT(hx_now(), 1700000000);
}

TEST(Time, LocalTimeText) {
  EXPECT_TRUE(std::regex_match(hx_fmt_time(hx_now()), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(hx_fmt_hm(hx_now()), std::regex(R"(\d\d:\d\d:\d\d)")));
  // A day apart shows the same clock time, whatever the zone (no DST jump here).
  EXPECT_EQ(hx_fmt_hm(1700000000), hx_fmt_hm(1700000000 + 86400));
}

TEST(Time, Durations) {
  struct Case {
    std::int64_t secs;
    const char* hms;
    const char* dhm;
  } cases[] = {
      {3725, "1时2分5秒", "0天1时2分"}, {90061, "25时1分1秒", "1天1时1分"}, {0, "0时0分0秒", "0天0时0分"},
      {-5, "0时0分0秒", "0天0时0分"},   {59, "0时0分59秒", "0天0时0分"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hx_fmt_dur(c.secs), c.hms) << c.secs;
    EXPECT_EQ(hx_fmt_dur_dhm(c.secs), c.dhm) << c.secs;
  }
}

TEST(Time, UptimeCountsFromTheReset) {
  std::int64_t at = hx_uptime_reset();
  EXPECT_NEAR(static_cast<double>(at), static_cast<double>(hx_now()), 1.0);
  std::int64_t up = hx_uptime();
  EXPECT_GE(up, 0);
  EXPECT_LE(up, 2);
}

}  // namespace
