// The in-memory log store.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/log.h"

namespace {

class LogStore : public ::testing::Test {
 protected:
  void SetUp() override { hx_log_init(1000); }
  void TearDown() override {
    hx_log_set_sink(nullptr, nullptr);
    hx_log_shutdown();
  }

  static hx_log_entry at(int i) {
    hx_log_entry e{};
    EXPECT_TRUE(hx_log_at(i, &e)) << i;
    return e;
  }

  static void log_numbered(int n) {
    for (int i = 0; i < n; ++i) hx_logf(HX_LOG_SYSTEM, nullptr, nullptr, "%d", i);
  }
};

TEST_F(LogStore, CapacityIsClamped) {
  struct Case {
    int asked, held;
  } cases[] = {{10, 50}, {-1, 50}, {1000000, 100000}, {200, 200}};
  for (const auto& c : cases) {
    hx_log_init(c.asked);
    log_numbered(c.held + 10);
    EXPECT_EQ(hx_log_count(), c.held) << c.asked;
    EXPECT_EQ(hx_log_total(), static_cast<std::uint64_t>(c.held + 10)) << c.asked;
  }
}

TEST_F(LogStore, RingWrapsAndKeepsTheTotal) {
  log_numbered(1005);
  EXPECT_EQ(hx_log_count(), 1000);
  EXPECT_EQ(hx_log_total(), 1005u);
  EXPECT_STREQ(at(0).text, "1004");
  EXPECT_STREQ(at(999).text, "5");  // the sixth entry ever written
  hx_log_entry e;
  EXPECT_FALSE(hx_log_at(1000, &e));
  EXPECT_FALSE(hx_log_at(-1, &e));
  EXPECT_FALSE(hx_log_at(0, nullptr));
}

TEST_F(LogStore, ClearEmptiesButKeepsTheTotal) {
  log_numbered(3);
  hx_log_clear();
  EXPECT_EQ(hx_log_count(), 0);
  EXPECT_EQ(hx_log_total(), 3u);
  log_numbered(1);
  EXPECT_EQ(hx_log_count(), 1);
  EXPECT_EQ(hx_log_total(), 4u);
}

TEST_F(LogStore, LevelFilter) {
  for (int level = 0; level < HX_LOG_LEVELS; ++level) hx_log_set_switch(level, 0);
  struct Case {
    int level;
    bool stored;
  } cases[] = {{HX_LOG_SYSTEM, true}, {HX_LOG_ERROR, true}, {HX_LOG_GROUP, false},
               {HX_LOG_DEBUG, false}, {9, false},           {-1, false}};
  for (const auto& c : cases) {
    std::uint64_t before = hx_log_total();
    hx_log(c.level, nullptr, nullptr, "x");
    EXPECT_EQ(hx_log_total() - before, c.stored ? 1u : 0u) << c.level;
  }
  hx_log_set_switch(HX_LOG_DEBUG, 5);
  EXPECT_EQ(hx_dbg_on(), 1);
  hx_dbgf("src", "debug %d", 1);
  EXPECT_STREQ(at(0).text, "debug 1");
  EXPECT_STREQ(at(0).tag, "调试");
}

TEST_F(LogStore, SwitchesStartAsSpecifiedAndIgnoreBadLevels) {
  for (int level = 0; level < 8; ++level) EXPECT_EQ(hx_log_get_switch(level), 1) << level;
  EXPECT_EQ(hx_log_get_switch(HX_LOG_DEBUG), 0);
  EXPECT_EQ(hx_dbg_on(), 0);
  for (int bad : {-1, -1000, 9, 1 << 30}) {
    hx_log_set_switch(bad, 1);
    EXPECT_EQ(hx_log_get_switch(bad), 0) << bad;
  }
  EXPECT_EQ(hx_log_get_switch(HX_LOG_DEBUG), 0);
}

TEST_F(LogStore, DefaultsForMissingFields) {
  hx_log(HX_LOG_PLUGIN, nullptr, nullptr, nullptr);
  hx_log_entry e = at(0);
  EXPECT_STREQ(e.source, "框架");
  EXPECT_STREQ(e.tag, "插件");
  EXPECT_STREQ(e.text, "");
  EXPECT_EQ(e.level, HX_LOG_PLUGIN);
  EXPECT_NEAR(static_cast<double>(e.time), static_cast<double>(hx_now()), 2.0);
  hx_log(HX_LOG_SYSTEM, "123456", "登录(↑)", "t");
  EXPECT_STREQ(at(0).source, "123456");
  EXPECT_STREQ(at(0).tag, "登录(↑)");
  EXPECT_STREQ(hx_log_default_tag(0), "系统");
  EXPECT_STREQ(hx_log_default_tag(42), "系统");
}

TEST_F(LogStore, LongFieldsAreCutAtCharacterBoundaries) {
  std::string ascii(2000, 'a');
  hx_log(HX_LOG_SYSTEM, nullptr, nullptr, ascii.c_str());
  EXPECT_EQ(std::string(at(0).text), ascii.substr(0, 1023));

  std::string accents;
  for (int i = 0; i < 600; ++i) accents += "é";  // 1200 bytes of two-byte characters
  hx_log(HX_LOG_SYSTEM, accents.c_str(), accents.c_str(), accents.c_str());
  hx_log_entry e = at(0);
  EXPECT_EQ(std::string(e.text), accents.substr(0, 1022));
  EXPECT_EQ(std::string(e.source), accents.substr(0, 62));
  EXPECT_EQ(std::string(e.tag), accents.substr(0, 30));

  hx_logf(HX_LOG_SYSTEM, nullptr, nullptr, "x%s", accents.c_str());  // odd offset
  std::string text = at(0).text;
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_TRUE(is_valid_utf8(text));
}

struct SinkLog {
  std::atomic<int> calls{0};
  std::string last;
};

int record_sink(const hx_log_entry* e, void* user) {
  auto* s = static_cast<SinkLog*>(user);
  ++s->calls;
  s->last = e->text;
  return 77;
}

TEST_F(LogStore, SinkSeesEntriesEvenBeforeInit) {
  hx_log_shutdown();
  SinkLog sink;
  hx_log_set_sink(record_sink, &sink);
  EXPECT_EQ(hx_log(HX_LOG_SYSTEM, nullptr, nullptr, "early"), 77);
  EXPECT_EQ(sink.calls, 1);
  EXPECT_EQ(sink.last, "early");
  EXPECT_EQ(hx_log_count(), 0);
  EXPECT_EQ(hx_log(HX_LOG_DEBUG, nullptr, nullptr, "filtered"), 0);
  EXPECT_EQ(sink.calls, 1);
  hx_log_set_sink(nullptr, &sink);
  EXPECT_EQ(hx_log(HX_LOG_SYSTEM, nullptr, nullptr, "no sink"), 0);
  EXPECT_EQ(sink.calls, 1);
}

int relogging_sink(const hx_log_entry* e, void*) {
  // A sink may log itself: the store's lock is not held during the call.
  if (e->level != HX_LOG_DEBUG) hx_log_total();
  return 0;
}

TEST_F(LogStore, SinkRunsOutsideTheLock) {
  hx_log_set_sink(relogging_sink, nullptr);
  hx_log(HX_LOG_SYSTEM, nullptr, nullptr, "x");
  EXPECT_EQ(hx_log_total(), 1u);
}

TEST_F(LogStore, ExportIsOldestFirstInLineFormat) {
  hx_log(HX_LOG_SYSTEM, nullptr, "系统(↓)", "first");
  hx_log(HX_LOG_ERROR, "10001", "错误(↓)", "second");
  std::string out = hx_log_export_text();
  hx_log_entry e = at(1);
  std::string t = hx_fmt_time(e.time);
  std::string t2 = hx_fmt_time(at(0).time);
  EXPECT_EQ(out, "[" + t + "] [框架] [系统(↓)] first\r\n[" + t2 + "] [10001] [错误(↓)] second\r\n");
  hx_log_clear();
  EXPECT_EQ(hx_log_export_text(), "");
}

TEST_F(LogStore, ConcurrentWritersNeverTearEntries) {
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string src = "thread" + std::to_string(t);
      for (int i = 0; i < kEach; ++i) hx_logf(HX_LOG_SYSTEM, src.c_str(), nullptr, "thread%d", t);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(hx_log_total(), static_cast<std::uint64_t>(kThreads * kEach));
  for (int i = 0; i < hx_log_count(); ++i) {
    hx_log_entry e = at(i);
    ASSERT_STREQ(e.source, e.text) << i;
  }
}

}  // namespace
