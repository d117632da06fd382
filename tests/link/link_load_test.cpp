// Load and fault runs of the account links, bounded in time: backends that
// die and come back again and again, and a flood of hostile texts over a live
// link. Each prints its figures; the sanitizer run checks for leaks.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "config/cfg.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "support/backend.h"
#include "support/link_fixture.h"
#include "support/plugin_capture.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/ws_helpers.h"
#include "sys/net.h"
#include "sys/process.h"

namespace {

// What the process holds: threads, descriptors and resident kilobytes, from /proc.
struct Footprint {
  int threads = 0, descriptors = 0;
  long rssKb = 0;
};

std::optional<Footprint> footprint() {
  if (HX_SEP != '/' || !hx_dir_exists("/proc/self/task")) return std::nullopt;  // Linux only
  Footprint f;
  f.threads = static_cast<int>(hx_list_dir("/proc/self/task").size());
  f.descriptors = static_cast<int>(hx_list_dir("/proc/self/fd").size());
  std::ifstream status("/proc/self/status");  // its size reads as 0: read as a stream
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) f.rssKb = std::atol(line.c_str() + 6);
  }
  return f;
}

class LinkLoad : public LinkFixture {
 protected:
  PluginCapture capture;
};

int online_among(const std::vector<std::string>& ids) {
  return static_cast<int>(std::count_if(ids.begin(), ids.end(), [](const std::string& q) { return hx_ob_online(q); }));
}

TEST_F(LinkLoad, SixteenAccountsComeBackFromAHundredBackendRestarts) {
  if (sys_getenv("HX_WS_RETRY_SEC").value_or("") != "1") GTEST_SKIP() << "needs HX_WS_RETRY_SEC=1 (ctest sets it)";
  constexpr int kAccounts = 16, kRestarts = 100;
  std::vector<std::string> ids;
  std::vector<std::uint16_t> ports;
  std::vector<std::unique_ptr<Backend>> backends(kAccounts);
  auto start_backend = [&](int i) {
    backends[static_cast<std::size_t>(i)] = std::make_unique<Backend>(
        std::vector<std::string>{"forward", "--port", std::to_string(ports[static_cast<std::size_t>(i)]), "--self-id",
                                 ids[static_cast<std::size_t>(i)]});
  };
  for (int i = 0; i < kAccounts; ++i) {
    ids.push_back(std::to_string(90100 + i));
    ports.push_back(free_port());
    HxAccount acc{};
    std::strcpy(acc.id, ids.back().c_str());
    std::strcpy(acc.ip, "127.0.0.1");
    acc.port = ports.back();
    ASSERT_TRUE(hx_cfg_save_bot(&acc));
    start_backend(i);
  }
  hx_cfg_scan_bots();
  for (const std::string& q : ids) ASSERT_TRUE(hx_ob_login(q));
  ASSERT_TRUE(wait_until([&] { return online_among(ids) == kAccounts; }, 20000));
  hold_for(1000);  // the roster requests of the first logins settle
  const std::optional<Footprint> before = footprint();

  // Rounds of killing and restarting backends, 100 restarts in all, each
  // followed by every account being online again.
  int restarts = 0, rounds = 0;
  double slowest_round = 0;
  while (restarts < kRestarts) {
    const int n = std::min(kAccounts, kRestarts - restarts);
    for (int i = 0; i < n; ++i) backends[static_cast<std::size_t>(i)].reset();  // killed
    ASSERT_TRUE(wait_until([&] { return online_among(ids) == kAccounts - n; }, 20000)) << "round " << rounds;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) start_backend(i);
    ASSERT_TRUE(wait_until([&] { return online_among(ids) == kAccounts; }, 30000)) << "round " << rounds;
    slowest_round =
        std::max(slowest_round, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    restarts += n;
    ++rounds;
  }
  EXPECT_EQ(hx_ob_link_count(), kAccounts);
  hold_for(1000);
  const std::optional<Footprint> after = footprint();
  std::printf("restarts %d in %d rounds, slowest round back online in %.1f s\n", restarts, rounds, slowest_round);
  if (!before || !after) return;  // nothing to compare without /proc
  std::printf("threads %d -> %d, descriptors %d -> %d, resident %ld -> %ld KiB\n", before->threads, after->threads,
              before->descriptors, after->descriptors, before->rssKb, after->rssKb);
  // Margins: a connect or roster thread in flight, and the allocator's slack.
  EXPECT_LE(after->threads, before->threads + 2);
  EXPECT_LE(after->descriptors, before->descriptors + 2);
  EXPECT_LE(after->rssKb, before->rssKb + 16 * 1024);
}

// ---- hostile texts ----

// Events and replies as backends send them; each member intake reads gets
// every wrong value in turn.
const char* const kBases[] = {
    R"({"self_id":60001,"post_type":"message","message_type":"group","sub_type":"normal","group_id":5,"user_id":6,"message_id":7,"message":"x","raw_message":"x","font":0,"sender":{"user_id":6,"nickname":"n","card":"c","role":"member"},"time":1})",
    R"({"self_id":60001,"post_type":"message","message_type":"private","sub_type":"friend","user_id":6,"message_id":8,"message":[{"type":"text","data":{"text":"y"}}],"sender":{"user_id":6,"nickname":"n"},"time":1})",
    R"({"self_id":60001,"post_type":"message_sent","message_type":"private","user_id":6,"target_id":9,"message_id":9,"message":"z","time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"group_increase","sub_type":"approve","group_id":5,"user_id":6,"operator_id":7,"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"group_decrease","sub_type":"kick","group_id":5,"user_id":6,"operator_id":7,"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"group_ban","sub_type":"ban","group_id":5,"user_id":6,"operator_id":7,"duration":60,"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"group_recall","group_id":5,"user_id":6,"operator_id":6,"message_id":7,"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"friend_recall","user_id":6,"message_id":8,"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"group_upload","group_id":5,"user_id":6,"file":{"id":"f","name":"a.txt","size":3,"busid":1},"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"group_admin","sub_type":"set","group_id":5,"user_id":6,"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"notify","sub_type":"poke","group_id":5,"user_id":6,"target_id":7,"time":1})",
    R"({"self_id":60001,"post_type":"notice","notice_type":"friend_add","user_id":6,"time":1})",
    R"({"self_id":60001,"post_type":"request","request_type":"friend","user_id":6,"comment":"hi","flag":"fl","time":1})",
    R"({"self_id":60001,"post_type":"request","request_type":"group","sub_type":"add","group_id":5,"user_id":6,"comment":"hi","flag":"fl","time":1})",
    R"({"self_id":60001,"post_type":"meta_event","meta_event_type":"heartbeat","interval":5000,"status":{"online":true},"time":1})",
    R"({"status":"ok","retcode":0,"data":{"user_id":60001,"nickname":"n"},"echo":1})",
};

std::string nested(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
}

std::vector<std::string> hostile_texts(std::size_t count) {
  const std::string digits(200, '9');
  const std::vector<std::string> wrong = {"null",
                                          "true",
                                          "false",
                                          "0",
                                          "-1",
                                          "1.5",
                                          "1e999",
                                          "-1e999",
                                          "1e300",
                                          "-9.3e18",
                                          "\"\"",
                                          "\"x\"",
                                          digits,
                                          "\"" + digits + "\"",
                                          "[]",
                                          "{}",
                                          nested(40),
                                          "\"\\u0000\"",
                                          "\"\\ud800\"",
                                          "\"" + std::string(5000, 'a') + "\"",
                                          R"([{"type":"image","data":{"file":1e999}},{"type":null},7])",
                                          R"({"nickname":{"a":[1,2]}})"};
  std::vector<std::string> out;
  // Every member replaced by every wrong value (sub-objects one level down too).
  for (const char* base : kBases) {
    HxJson root(cJSON_Parse(base));
    std::vector<std::pair<std::string, std::string>> members;  // (member, sub-member or "")
    for (const cJSON* m = root.get()->child; m; m = m->next) {
      members.emplace_back(m->string, "");
      if (cJSON_IsObject(m)) {
        for (const cJSON* s = m->child; s; s = s->next) members.emplace_back(m->string, s->string);
      }
    }
    for (const auto& [member, sub] : members) {
      HxJson copy(cJSON_Duplicate(root.get(), 1));
      cJSON* holder = sub.empty() ? copy.get() : cJSON_GetObjectItemCaseSensitive(copy.get(), member.c_str());
      cJSON_ReplaceItemInObjectCaseSensitive(holder, sub.empty() ? member.c_str() : sub.c_str(),
                                             cJSON_CreateString("@@"));
      HxJsonText text(cJSON_PrintUnformatted(copy.get()));
      const std::string shape = text.get();
      const std::size_t at = shape.find("\"@@\"");
      for (const std::string& w : wrong) out.push_back(shape.substr(0, at) + w + shape.substr(at + 4));
    }
    // Cut short at every byte.
    const std::string whole = base;
    for (std::size_t n = 1; n < whole.size(); n += 3) out.push_back(whole.substr(0, n));
  }
  // Nesting past the limit, and bytes of no encoding at all.
  for (int d : {65, 200, 5000}) out.push_back(R"({"self_id":60001,"x":)" + nested(d) + "}");
  std::mt19937 rng(14);
  while (out.size() < count) {
    std::string garbage(1 + rng() % 300, '\0');
    for (char& c : garbage) c = static_cast<char>(rng());
    if (rng() % 2) {
      // A real event with bytes flipped here and there.
      garbage = kBases[rng() % std::size(kBases)];
      for (int k = 0; k < 4; ++k) garbage[rng() % garbage.size()] = static_cast<char>(rng());
    }
    out.push_back(garbage);
  }
  out.resize(count);
  return out;
}

TEST_F(LinkLoad, TenThousandHostileTextsLeaveTheLinkWorking) {
  g_cfg.reverseMode = 1;
  g_cfg.reversePort = free_port();
  std::strcpy(g_cfg.token, "tok");
  std::string result;
  ASSERT_EQ(hx_ob_auto_login_all(result), 1) << result;
  HandBackend peer(g_cfg.reversePort, "tok");
  ASSERT_TRUE(peer.upgraded());
  ASSERT_TRUE(peer.answer_login(peer.next_echo("get_login_info"), "60001"));
  ASSERT_TRUE(wait_until([] { return hx_ob_online("60001"); }));

  const std::vector<std::string> texts = hostile_texts(10000);
  const auto t0 = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    // Most as text frames; every tenth as a binary frame, which carries the same.
    ASSERT_TRUE(peer.peer.send(ws_client_frame(i % 10 == 9 ? 0x82 : 0x81, texts[i]))) << "the host hung up at " << i;
  }
  const std::string good =
      R"({"self_id":60001,"post_type":"message","message_type":"group","group_id":5,"user_id":6,"message_id":424242,"message":"after the flood"})";
  ASSERT_TRUE(peer.peer.send_text(good));
  auto delivered = [] {
    for (const HxDispatched& d : PluginCapture::events()) {
      if (d.kind == 0 && d.texts.size() > 3 && d.texts[3] == "after the flood") return true;
    }
    return false;
  };
  EXPECT_TRUE(wait_until(delivered, 120000));
  std::printf("%zu hostile texts and the good message handled in %.2f s; %llu records reached the plugin\n",
              texts.size(), std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
              static_cast<unsigned long long>(PluginCapture::total()));
  EXPECT_TRUE(hx_ob_online("60001")) << "the link is still up";
}

}  // namespace
