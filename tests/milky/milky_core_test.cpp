// The Milky adapter's core: the mode decision, the message-sequence table,
// the log throttle and the conversion of replies into OneBot ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "milky/milky.h"
#include "support/temp_dir.h"
#include "sys/process.h"

namespace {

std::string printed(cJSON* j) {
  HxJson owned(j);
  HxJsonText text(cJSON_PrintUnformatted(owned.get()));
  return text ? text.get() : "";
}

std::string converted(int kind, const char* data, std::int64_t user = 0) {
  HxJson parsed(cJSON_Parse(data));
  return printed(milky_reply_data(kind, parsed.get(), user));
}

TEST(MilkyReplies, EachKindBecomesOneBotData) {
  const struct {
    int kind;
    const char* data;
    const char* onebot;
  } cases[] = {
      {MILKY_REPLY_PASS, R"({"a":1})", R"({"a":1})"},
      {MILKY_REPLY_PASS, "null", "null"},
      {MILKY_REPLY_FRIENDS, R"({"friends":[{"user_id":1,"nickname":"n","sex":"male","qid":"q","remark":"r"}]})",
       R"([{"user_id":1,"nickname":"n","remark":"r","sex":"male"}])"},
      {MILKY_REPLY_GROUPS, R"({"groups":[{"group_id":"2","name":"g","member_count":3,"max_member_count":true}]})",
       R"([{"group_id":2,"group_name":"g","member_count":3,"max_member_count":1,"remark":""}])"},
      {MILKY_REPLY_MEMBERS,
       R"({"members":[{"group_id":2,"user_id":5,"nickname":"nick","card":"","role":"admin","shut_up_end_time":99}]})",
       R"([{"group_id":2,"user_id":5,"nickname":"nick","card":"nick","role":"admin","title":"","sex":"","join_time":0,"last_sent_time":0,"shut_up_timestamp":99}])"},
      {MILKY_REPLY_GROUP, R"({"group":{"group_id":7,"group_name":"x"}})",
       R"({"group_id":7,"group_name":"x","member_count":0,"max_member_count":0,"remark":""})"},
      {MILKY_REPLY_MEMBER, R"({"member":{"user_id":5,"card":"c"}})",
       R"({"group_id":0,"user_id":5,"nickname":"","card":"c","role":"","title":"","sex":"","join_time":0,"last_sent_time":0,"shut_up_timestamp":0})"},
      {MILKY_REPLY_LOGIN, R"({"uin":10001,"nickname":"bot"})", R"({"user_id":10001,"nickname":"bot"})"},
      {MILKY_REPLY_SENT, R"({"message_seq":42,"time":1700000000})", R"({"message_id":42,"time":1700000000})"},
      {MILKY_REPLY_CSRF, R"({"csrf_token":"t"})", R"({"token":"t"})"},
      {MILKY_REPLY_FRIENDS, R"({})", "[]"},
  };
  for (const auto& c : cases) EXPECT_EQ(converted(c.kind, c.data), c.onebot) << c.kind << " " << c.data;
  EXPECT_EQ(converted(MILKY_REPLY_PROFILE, R"({"nickname":"p"})", 30001), R"({"nickname":"p","user_id":30001})");
  EXPECT_EQ(converted(MILKY_REPLY_PROFILE, R"({"user_id":5})", 30001), R"({"user_id":5})");
}

TEST(MilkyReplies, WholeRepliesAreOneBotShaped) {
  bool ok = false;
  EXPECT_EQ(milky_reply_to_onebot(R"({"status":"ok","retcode":0,"data":{"uin":1,"nickname":"b"}})", MILKY_REPLY_LOGIN,
                                  0, &ok),
            R"({"status":"ok","retcode":0,"data":{"user_id":1,"nickname":"b"},"wording":""})");
  EXPECT_TRUE(ok);
  EXPECT_EQ(milky_reply_to_onebot(R"({"status":"failed","retcode":-400,"message":"x"})", MILKY_REPLY_PASS, 0, &ok),
            R"({"status":"failed","retcode":-404,"wording":"x"})");
  EXPECT_FALSE(ok);
  EXPECT_EQ(milky_reply_to_onebot("not json", MILKY_REPLY_PASS, 0, &ok),
            R"({"status":"failed","retcode":-404,"wording":""})");
  EXPECT_FALSE(ok);
}

TEST(MilkySequences, TheNewestEntryOfTheBotWins) {
  milky_seq_clear();
  milky_seq_put("group", 7, 10001, 20001, 100);
  milky_seq_put("friend", 7, 10002, 30001, 200);  // the same id for another bot
  milky_seq_put("temp", 8, 0, 30002, 300);        // a bot not known
  const struct {
    std::int64_t id, bot;
    const char* scene;  // nullptr: not found
    std::int64_t peer, seq;
  } cases[] = {
      {7, 10001, "group", 20001, 100}, {7, 10002, "friend", 30001, 200}, {7, 0, "friend", 30001, 200},
      {8, 10001, "temp", 30002, 300},  {9, 10001, nullptr, 0, 0},        {0, 0, nullptr, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + "/" + std::to_string(c.bot));
    std::optional<MilkySeq> got = milky_seq_get(c.id, c.bot);
    ASSERT_EQ(got.has_value(), c.scene != nullptr);
    if (!got) continue;
    EXPECT_EQ(got->scene, c.scene);
    EXPECT_EQ(got->peer, c.peer);
    EXPECT_EQ(got->seq, c.seq);
  }
  // After the ring wrapped, an id stands for its newest message.
  for (int i = 0; i < 600; ++i) milky_seq_put("group", 1000 + i % 10, 10001, 20001, i);
  EXPECT_EQ(milky_seq_get(1003, 10001)->seq, 593);
  EXPECT_FALSE(milky_seq_get(8, 10001)) << "overwritten";
}

TEST(MilkyThrottle, OneLinePerKeyAndIntervalWithARunningCount) {
  const std::string key = "tmo|get_group_list";
  int written = 0;
  for (int i = 1; i <= 10; ++i) {
    const MilkyThrottle t = logth_take(key);
    written += t.write ? 1 : 0;
    EXPECT_EQ(t.count, i);
  }
  EXPECT_EQ(written, 1) << "ten calls within the interval write one line";
  EXPECT_TRUE(logth_take("off|another").write) << "keys are counted apart";
  const char* expect = std::getenv("HX_TEST_EXPECT_LOGTH_SEC");
  EXPECT_EQ(logth_sec(), expect ? std::atoi(expect) : 60);
}

TEST(MilkyMode, AMarkerFileTurnsItOn) {
  ASSERT_FALSE(hx_milky_mode());
  EXPECT_STREQ(hx_milky_ws_path(), "/");
  TempDir root;
  hx_set_data_dir(root.path());
  hx_log_init(100);
  hx_milky_detect();
  EXPECT_FALSE(hx_milky_mode()) << "no marker";
  ASSERT_TRUE(hx_write_file(root / "milky.txt", ""));
  hx_milky_detect();
  EXPECT_TRUE(hx_milky_mode());
  EXPECT_STREQ(hx_milky_ws_path(), "/event");
  hx_log_shutdown();
  hx_set_data_dir("");
}

}  // namespace
