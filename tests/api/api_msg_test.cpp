// The messaging API against the scripted backend: every function's action
// and params, its result, the send hook, and many plugin threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/api.h"
#include "api/api_conv.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "support/api_fixture.h"
#include "support/wait.h"

namespace {

std::string gbk(const char* u8) { return hx_utf8_to_gbk(u8).value_or(""); }

class Messaging : public ApiBackendTest {
 protected:
  std::string script() const override {
    return R"({"replies": {"*": {"mode": "ok", "data": {"message_id": 1}}},
               "events": [{"at_ms": 0, "every_ms": 5, "count": 0, "event": {
                 "post_type": "message", "message_type": "group", "group_id": 5,
                 "user_id": 6, "message_id": "{n}", "message": "m{n}"}}]})";
  }
};

TEST_F(Messaging, EveryFunctionSendsItsActionWithItsParams) {
  const std::string hello = gbk("你好");
  const std::string nodes = gbk("111[=]甲[=]x[=]内容一#222=乙=y=内容二#=skipped#");
  run({
      {"group", [&] { return api_send_group_msg(0, kBot, 20001, hello.c_str(), 0); },
       R"(send_group_msg {"group_id":20001,"message":"你好","auto_escape":false})", "1"},
      {"group, null text", [&] { return api_send_group_msg(0, kBot, 20001, nullptr, 0); },
       R"(send_group_msg {"group_id":20001,"message":"","auto_escape":false})", "1"},
      {"group, UTF-8 beyond GBK", [&] { return api_send_group_msg(0, kBot, 20001, "🙈 hi", 0); },
       R"(send_group_msg {"group_id":20001,"message":"🙈 hi","auto_escape":false})", "1"},
      {"friend, raw", [&] { return api_send_private_msg(0, kBot, 30001, "a[b]", 1); },
       R"(send_private_msg {"user_id":30001,"message":"a[b]","auto_escape":true})", "1"},
      {"member, no group", [&] { return api_send_tmp_msg(0, kBot, 30001, 0, "x", 0); },
       R"(send_private_msg {"user_id":30001,"message":"x","auto_escape":false})", "1"},
      {"member of a group", [&] { return api_send_tmp_msg(0, kBot, 30001, 20001, "x", 0); },
       R"(send_private_msg {"user_id":30001,"group_id":20001,"message":"x","auto_escape":false})", "1"},
      {"json segment", [&] { return api_send_group_json(0, kBot, 20001, R"({"type":"text","data":{"text":"a"}})", 0); },
       R"(send_group_msg {"group_id":20001,"message":[{"type":"text","data":{"text":"a"}}],"auto_escape":false})", "1"},
      {"json segments",
       [&] { return api_send_group_json(0, kBot, 20001, R"([{"type":"face","data":{"id":"1"}}])", 0); },
       R"(send_group_msg {"group_id":20001,"message":[{"type":"face","data":{"id":"1"}}],"auto_escape":false})", "1"},
      {"json raw", [&] { return api_send_group_json(0, kBot, 20001, R"({"type":"text"})", 1); },
       R"(send_group_msg {"group_id":20001,"message":"{\"type\":\"text\"}","auto_escape":true})", "1"},
      {"json card", [&] { return api_send_group_json(0, kBot, 20001, R"({"app":[1,2]})", 0); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:json,data={\"app\":&#91;1&#44;2&#93;}]","auto_escape":false})",
       "1"},
      {"json, not JSON", [&] { return api_send_group_json(0, kBot, 20001, "a,b", 0); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:json,data=a&#44;b]","auto_escape":false})", "1"},
      {"friend json", [&] { return api_send_private_json_nb(0, kBot, "30001", R"({"a":[1]})"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:json,data={\"a\":&#91;1&#93;}]","auto_escape":false})", "1"},
      {"picture", [&] { return api_send_private_pic_nb(0, kBot, "30001", "C:\\a b.png"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:image,file=C:\\a b.png]","auto_escape":false})", "1"},
      {"picture, null", [&] { return api_send_private_pic_nb(0, kBot, nullptr, nullptr); },
       R"(send_private_msg {"user_id":0,"message":"[CQ:image,file=]","auto_escape":false})", "1"},
      {"voice", [&] { return api_send_private_voice_nb(0, kBot, "30001", "v.amr"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:record,file=v.amr]","auto_escape":false})", "1"},
      {"video", [&] { return api_send_private_video_nb(0, kBot, "30001", "v.mp4"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:video,file=v.mp4]","auto_escape":false})", "1"},
      {"face", [&] { return api_send_private_face_nb(0, kBot, "30001", -14); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:face,id=-14]","auto_escape":false})", "1"},
      {"reply", [&] { return api_send_private_reply(0, kBot, "30001", "55", hello.c_str()); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:reply,id=55]你好","auto_escape":false})", "1"},
      {"music", [&] { return api_send_private_music(0, kBot, "30001", "123"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:music,type=qq,id=123]","auto_escape":false})", "1"},
      {"custom music", [&] { return api_send_private_music_custom(0, kBot, "30001", 0, "u", "a", "t", "i"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:music,type=custom,url=u,audio=a,title=t,image=i]","auto_escape":false})",
       ""},
      {"dice", [&] { return api_send_private_dice(0, kBot, "30001"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:dice]","auto_escape":false})", "1"},
      {"rps", [&] { return api_send_private_rps(0, kBot, "30001"); },
       R"(send_private_msg {"user_id":30001,"message":"[CQ:rps]","auto_escape":false})", "1"},
      {"friend forward", [&] { return api_send_private_forward(0, kBot, "30001", nodes.c_str()); },
       R"(send_private_forward_msg {"user_id":30001,"messages":[{"data":{"user_id":"111","nickname":"甲","content":"内容一"},"type":"node"},{"data":{"user_id":"222","nickname":"乙","content":"内容二"},"type":"node"}]})",
       "1"},
      {"friend file", [&] { return api_send_private_file_nb(0, kBot, "30001", gbk("/tmp/文件.txt").c_str()); },
       R"(upload_private_file {"user_id":30001,"file":"/tmp/文件.txt"})", "1"},
      {"upload", [&] { return api_upload_private_file_nb(0, kBot, "30001", "/tmp/", "b.txt"); },
       R"(upload_private_file {"user_id":30001,"file":"/tmp/b.txt","name":"b.txt"})", "1"},
      {"friend poke", [&] { return api_send_private_poke(0, kBot, "30001"); }, R"(friend_poke {"user_id":30001})", "1"},
      {"group voice", [&] { return api_send_group_voice_nb(0, kBot, "20001", "v.amr"); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:record,file=v.amr]","auto_escape":false})", "1"},
      {"group video", [&] { return api_send_group_video_nb(0, kBot, "20001", "v.mp4"); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:video,file=v.mp4]","auto_escape":false})", "1"},
      {"group dice", [&] { return api_send_group_dice(0, kBot, "20001"); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:dice]","auto_escape":false})", "1"},
      {"group rps", [&] { return api_send_group_rps(0, kBot, "20001"); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:rps]","auto_escape":false})", "1"},
      {"group forward, empty", [&] { return api_send_group_forward(0, kBot, 20001, 0, nullptr); },
       R"(send_group_forward_msg {"group_id":20001,"messages":[]})", "1"},
      {"group file, id not a number", [&] { return api_send_group_file_nb(0, kBot, "g1", "/f"); },
       R"(upload_group_file {"group_id":"g1","file":"/f"})", "1"},
      {"group poke", [&] { return api_send_group_poke(0, kBot, "20001", "30001"); },
       R"(group_poke {"group_id":20001,"user_id":30001})", "1"},
      {"share music", [&] { return api_share_music(0, kBot, 20001, "t", 0, "u", "a", 0, 0); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:music,type=custom,url=u,audio=a,title=t]","auto_escape":false})",
       "1"},
      {"custom share", [&] { return api_share_music_custom(0, kBot, 20001, "u", "a", "t", 0, "c"); },
       R"(send_group_msg {"group_id":20001,"message":"[CQ:music,type=custom,url=u,audio=a,title=t,content=c]","auto_escape":false})",
       ""},
      {"data pack", [&] { return api_send_data_pack(0, kBot, R"({"action":"get_status"})", 0); }, "get_status {}", "1"},
      {"data pack, GBK params",
       [&] {
         return api_send_data_pack(0, kBot, ("{\"action\":\"x\",\"params\":{\"t\":\"" + hello + "\"}}").c_str(), 100);
       },
       R"(x {"t":"你好"})", "1"},
      {"data pack, not JSON", [&] { return api_send_data_pack(0, kBot, "{nope", 0); }, "", ""},
      {"data pack, no action", [&] { return api_send_data_pack(0, kBot, R"({"params":{}})", 0); }, "", "0"},
      {"AI voice", [&] { return api_send_group_ai_voice(0, kBot, 1, 2, 3); }, "", ""},
      {"upload, path too long",
       [&] { return api_upload_private_file_nb(0, kBot, "30001", std::string(1020, 'd').c_str(), "long.txt"); }, "",
       ""},
      {"no link", [&] { return api_send_group_msg(0, kNobody, 20001, "x", 0); }, "", "0"},
  });
}

TEST_F(Messaging, ARefusedActionIsNoSuccess) {
  const struct {
    const char* name;
    std::function<const char*()> call;
    const char* result;
  } cases[] = {
      {"group", [] { return api_send_group_msg(0, kRefuser, 1, "x", 0); }, "0"},
      {"friend picture", [] { return api_send_private_pic_nb(0, kRefuser, "2", "f"); }, "0"},
      {"share music", [] { return api_share_music(0, kRefuser, 1, "t", 0, "u", "a", 0, 0); }, "0"},
      {"upload", [] { return api_upload_private_file_nb(0, kRefuser, "2", "/d/", "n"); }, ""},
      {"poke", [] { return api_send_group_poke(0, kRefuser, "1", "2"); }, "0"},
      {"data pack", [] { return api_send_data_pack(0, kRefuser, R"({"action":"a"})", 0); }, "0"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.call(), c.result) << c.name;
}

// An in-process plugin whose send hook the tests script.
std::atomic<int> g_hookCalls{0};
const char* HX_STDCALL scripted_hook(const HxSendHookArgs* a) {
  ++g_hookCalls;
  thread_local std::string out;
  const std::string text = a->text;
  if (text == "swap") return "swapped";
  if (text == "long") return (out = std::string(5000, 'L')).c_str();
  if (text == "same") return a->text;
  if (text == "nest") return api_send_group_msg(0, ApiBackendTest::kBot, 20001, "nest", 0);  // sends again from inside
  return nullptr;
}

TEST_F(Messaging, TheSendHookRewritesAndIsEnteredAtMostTwice) {
  void* const callbacks[8] = {nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, reinterpret_cast<void*>(&scripted_hook)};
  HxPlugin* hooked = hx_pl_add_resident("hooked", callbacks);
  ASSERT_NE(hooked, nullptr);
  hx_log_clear();
  {
    HxCurrentPlugin current(hooked);
    const struct {
      const char* text;
      std::string sent;
    } cases[] = {{"swap", "swapped"}, {"long", std::string(5000, 'L')}, {"same", "same"}, {"keep", "keep"}};
    for (const auto& c : cases) {
      const std::size_t seen = actions(*ok_).size();
      EXPECT_STREQ(api_send_group_msg(0, kBot, 20001, c.text, 0), "1");
      EXPECT_EQ(next_action(*ok_, seen),
                R"(send_group_msg {"group_id":20001,"message":")" + c.sent + R"(","auto_escape":false})")
          << c.text;
    }
    g_hookCalls = 0;
    const std::size_t seen = actions(*ok_).size();
    api_send_group_msg(0, kBot, 20001, "nest", 0);
    EXPECT_EQ(g_hookCalls, 2) << "entered twice, the third send goes out as it is";
    // The innermost send goes out as "nest"; each hook then answers with
    // the "1" of the send it made, which the send around it sends.
    ASSERT_TRUE(wait_until([&] { return actions(*ok_).size() == seen + 3; }, 3000));
    hx_log_entry e;
    bool told = false;
    for (int i = 0; hx_log_at(i, &e); ++i)
      told = told || std::string(e.text).find("输出替换回调递归过深（第 2 层）") == 0;
    EXPECT_TRUE(told);
  }
  // Without a current plugin no hook runs.
  g_hookCalls = 0;
  api_send_group_msg(0, kBot, 20001, "swap", 0);
  EXPECT_EQ(g_hookCalls, 0);
  hx_pl_remove_resident(hooked);
}

// Eight plugin threads send through one link while events stream in: every
// call gets its own answer and no message is lost.
TEST_F(Messaging, ManyThreadsSendThroughOneLink) {
  constexpr int kThreads = 8, kEach = 1000;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string text = std::to_string(t) + "-" + std::to_string(i);
        if (std::string(api_send_group_msg(0, kBot, 20001, text.c_str(), 0)) == "1") ++ok;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok, kThreads * kEach);
  std::set<std::string> messages;
  for (const std::string& a : actions(*ok_)) {
    if (a.rfind("send_group_msg ", 0) == 0) messages.insert(a);
  }
  EXPECT_EQ(messages.size(), static_cast<std::size_t>(kThreads * kEach));
}

}  // namespace
