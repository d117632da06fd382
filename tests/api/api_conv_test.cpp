// The API's shared conventions: parameters, success, and the result rings.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "api/api_conv.h"
#include "foundation/util.h"

namespace {

std::string printed(const cJSON* j) {
  char* t = cJSON_PrintUnformatted(j);
  std::string s = t;
  cJSON_free(t);
  return s;
}

TEST(ApiConventions, IdsBecomeNumbersOnlyWhenAllDigits) {
  cJSON* o = cJSON_CreateObject();
  add_id(o, "a", "123");
  add_id(o, "b", "12a");
  add_id(o, "c", "");
  add_id(o, "d", nullptr);
  add_id(o, "e", "9876543210");
  add_id(o, "f", "-5");
  EXPECT_EQ(printed(o), R"({"a":123,"b":"12a","c":"","d":"","e":9876543210,"f":"-5"})");
  cJSON_Delete(o);
}

TEST(ApiConventions, TextsAndMembers) {
  cJSON* o = cJSON_CreateObject();
  add_str_u8(o, "gbk", "\xD6\xD0\xCE\xC4");
  add_str_u8(o, "u8", "中文");
  add_str_u8(o, "null", nullptr);
  EXPECT_EQ(printed(o), R"({"gbk":"中文","u8":"中文","null":""})");
  cJSON_Delete(o);

  cJSON* r = cJSON_Parse(R"({"n":12345678901,"s":"42","x":true,"name":"群一","huge":1e300,"inf":-1e999})");
  EXPECT_EQ(jll(r, "n"), 12345678901LL);
  EXPECT_EQ(jll(r, "s"), 42);
  EXPECT_EQ(jll(r, "x"), 0);
  EXPECT_EQ(jll(r, "missing"), 0);
  EXPECT_EQ(jll(r, "huge"), 0) << "beyond any 64-bit integer";
  EXPECT_EQ(jll(r, "inf"), 0);
  EXPECT_EQ(jgbk(r, "name"), *hx_utf8_to_gbk("群一"));
  EXPECT_EQ(jgbk(r, "n"), "");
  cJSON_Delete(r);

  cJSON* g = cJSON_CreateObject();
  json_add_gbk(g, "昵称", "小明");
  EXPECT_EQ(printed(g), "{\"" + *hx_utf8_to_gbk("昵称") + "\":\"" + *hx_utf8_to_gbk("小明") + "\"}");
  cJSON_Delete(g);

  cJSON* t = cJSON_Parse("{\"k\":[\"\xD6\xD0\",{\"kk\":\"ok\"}]}");
  ASSERT_NE(t, nullptr);
  json_vals_to_utf8(t);
  EXPECT_EQ(printed(t), R"({"k":["中",{"kk":"ok"}]})");
  cJSON_Delete(t);
  EXPECT_EQ(utf8_to_gbk_safe("中🙈"), *hx_utf8_to_gbk("中") + "[emoji]");
}

TEST(ApiConventions, SuccessOfAReply) {
  struct Case {
    const char* reply;
    bool ok;
  } cases[] = {
      {R"({"status":"failed","retcode":0})", true},
      {R"({"status":"ok"})", true},
      {R"({"status":"failed","retcode":100})", false},
      {R"({"retcode":"0"})", false},
      {R"({})", false},
      {"not json", false},
  };
  for (const auto& c : cases) EXPECT_EQ(api_reply_ok(c.reply), c.ok) << c.reply;
}

TEST(ApiConventions, ShortRingWrapsAfter32) {
  const char* first = tmpstr("1");
  for (int i = 0; i < 31; ++i) tmpstr("x");
  EXPECT_STREQ(first, "1");
  const char* again = tmpstr("0");
  EXPECT_EQ(again, first) << "the 33rd result reuses the first buffer";
  EXPECT_STREQ(first, "0");
  // Results are GBK: a cut at 4095 bytes never keeps half a character.
  std::string long_text;
  for (int i = 0; i < 2100; ++i) long_text += "\xD6\xD0";  // 中
  std::string cut = tmpstr(long_text);
  EXPECT_EQ(cut.size(), 4094u);
  EXPECT_EQ(cut, long_text.substr(0, 4094));
  EXPECT_EQ(std::string(tmpstr("a" + long_text)).size(), 4095u);
  // Another thread has rings of its own.
  const char* other = nullptr;
  std::thread([&] { other = tmpstr("t"); }).join();
  EXPECT_NE(other, first);
}

TEST(ApiConventions, DataResultsAreNeverCut) {
  std::string json = "[";
  while (json.size() < 70000) json += R"({"user_id":123456,"nickname":"member"},)";
  json.back() = ']';
  const char* out = tmpgbk_big(json);
  EXPECT_EQ(std::strlen(out), json.size());
  cJSON* parsed = cJSON_Parse(out);
  EXPECT_NE(parsed, nullptr) << "a whole, parsable JSON text";
  cJSON_Delete(parsed);
  EXPECT_EQ(std::string(tmpgbk_big(R"({"name":"群🙈"})")), "{\"name\":\"" + *hx_utf8_to_gbk("群") + "[emoji]\"}");
}

TEST(ApiConventions, ARingGivesALargeBufferBackOnItsNextTurn) {
  const std::string huge(20 << 20, 'h');
  const char* big = upload_ret(huge);
  ASSERT_EQ(std::strlen(big), huge.size());
  for (int i = 1; i < HX_UPLOAD_RING; ++i) upload_ret("small");
  const char* again = upload_ret("small");  // the big one's slot
  EXPECT_STREQ(again, "small");
  EXPECT_NE(again, big) << "the 20 MiB buffer was released, not reused for five bytes";
}

TEST(ApiConventions, MediaResultLimit) {
  std::string media(HX_UPLOAD_MAX - 1, 'm');  // with its terminator exactly 24 MiB
  EXPECT_EQ(std::strlen(upload_ret(media)), media.size());
  media += 'm';
  EXPECT_STREQ(upload_ret(media), "");
  EXPECT_STREQ(upload_ret(""), "");
}

}  // namespace
