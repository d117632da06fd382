// The administration and query API against the scripted backend: every
// function's action and params and its result, record arrays with the
// SDK's records, the name caches, and the account list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "api/api.h"
#include "api/api_conv.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "support/api_fixture.h"
#include "sys/dynlib.h"
#include "test_plugin_state.h"

namespace {

std::string gbk(const char* u8) { return hx_utf8_to_gbk(u8).value_or(""); }

// Frees an array image the way a plugin would: texts, records, the block.
template <class Rec>
void release(void* image, std::initializer_list<const char * Rec::*> texts) {
  for (std::uint32_t i = 0; i < HX_ARRAY_COUNT(image); ++i) {
    Rec* rec = HX_ARRAY_AT(image, Rec, i);
    for (const char* Rec::*t : texts) std::free(const_cast<char*>(rec->*t));
    std::free(rec);
  }
  std::free(image);
}

class AdminQuery : public ApiBackendTest {
 protected:
  std::string script() const override {
    const long long soon = hx_now() + 3600;
    return R"({"replies": {
      "get_group_member_list": {"mode": "ok", "data": [
        {"user_id": 30001, "nickname": "小明", "card": "明明", "sex": "male", "age": 20, "area": "北京",
         "join_time": 1600000000, "last_sent_time": 1700000000, "level": "12", "role": "admin", "title": "头衔",
         "shut_up_timestamp": 0},
        {"user_id": "30002", "nickname": "小红"}]},
      "get_group_member_info": {"mode": "ok", "data": {"user_id": 30001, "card": "明明", "shutup_timestamp": )" +
           std::to_string(soon) + R"(}},
      "get_group_list": {"mode": "ok", "data": [
        {"group_id": 20001, "group_name": "演示群", "member_count": 12, "max_member_count": 200},
        {"group_id": 20002, "group_name": "测试群"}]},
      "get_friend_list": {"mode": "ok", "data": [{"user_id": 40001, "nickname": "好友", "remark": "备注", "level": 3}]},
      "get_group_info": {"mode": "ok", "data": {"group_id": 20009, "group_name": "查到的群"}},
      "get_stranger_info": {"mode": "ok", "data": {"user_id": 50001, "nickname": "路人"}},
      "get_status": {"mode": "ok", "data": {"online": true, "good": true}},
      "*": {"mode": "ok", "data": null}}})";
  }

  static std::string n(hx_i32 v) { return std::to_string(v); }
  static std::string t(const char* v) { return v ? v : "<null>"; }
};

TEST_F(AdminQuery, AdministrationSendsItsActionWithItsParams) {
  const std::string remark = gbk("新备注");
  run({
      {"recall group", [] { return n(api_recall_group(0, kBot, 20001, 77)); },
       R"(delete_msg {"message_id":77,"group_id":20001})", "1"},
      {"recall private", [] { return n(api_recall_private(0, kBot, 30001, 78)); },
       R"(delete_msg {"message_id":78,"user_id":30001})", "1"},
      {"kick", [] { return n(api_delete_member(0, kBot, 20001, 30001, 1)); },
       R"(set_group_kick {"group_id":20001,"user_id":30001,"reject_add_request":true})", "1"},
      {"mute", [] { return n(api_ban_member(0, kBot, 20001, 30001, 600)); },
       R"(set_group_ban {"group_id":20001,"user_id":30001,"duration":600})", "1"},
      {"mute all", [] { return n(api_ban_all(0, kBot, 20001, 0)); },
       R"(set_group_whole_ban {"group_id":20001,"enable":false})", "1"},
      {"admin", [] { return n(api_set_admin(0, kBot, 20001, 30001, 0)); },
       R"(set_group_admin {"group_id":20001,"user_id":30001,"enable":true})", "1"},
      {"admin cancelled", [] { return n(api_set_admin(0, kBot, 20001, 30001, 1)); },
       R"(set_group_admin {"group_id":20001,"user_id":30001,"enable":false})", "1"},
      {"leave", [] { return n(api_leave_group(0, kBot, 20001)); },
       R"(set_group_leave {"group_id":20001,"is_dismiss":false})", "1"},
      {"dismiss", [] { return n(api_dismiss_group(0, kBot, 20001)); },
       R"(set_group_leave {"group_id":20001,"is_dismiss":true})", "1"},
      {"mask", [] { return n(api_set_group_msg_mask(0, kBot, 20001, 2)); },
       R"(set_group_msg_mask {"group_id":20001,"mask":2})", "1"},
      {"group request, invite", [] { return n(api_group_verify(0, kBot, "123", 25, 1, "")); },
       R"(set_group_add_request {"flag":"123","sub_type":"invite","approve":true})", "1"},
      {"group request, add", [] { return n(api_group_verify(0, kBot, "f", 2, 0, "不行")); },
       R"(set_group_add_request {"flag":"f","sub_type":"add","approve":false,"reason":"不行"})", "1"},
      {"friend request", [] { return n(api_friend_verify(0, kBot, nullptr, 1, nullptr)); },
       R"(set_friend_add_request {"flag":"","approve":true})", "1"},
      {"essence", [] { return t(api_set_essence(0, kBot, "55")); }, R"(set_essence_msg {"message_id":55})", "1"},
      {"essence off", [] { return t(api_del_essence(0, kBot, "x5")); }, R"(delete_essence_msg {"message_id":"x5"})",
       "1"},
      {"portrait", [] { return t(api_set_group_portrait(0, kBot, "20001", "/p.png")); },
       R"(set_group_portrait {"group_id":20001,"file":"/p.png"})", "1"},
      {"emoji", [] { return t(api_set_msg_emoji(0, kBot, "9", 76, 0)); },
       R"(set_msg_emoji_like {"message_id":9,"emoji_id":76})", "1"},
      {"emoji negative", [] { return t(api_set_msg_emoji(0, kBot, "9", -1, 0)); },
       R"(set_msg_emoji_like {"message_id":9,"emoji_id":"-1"})", "1"},
      {"delete friend", [] { return t(api_delete_friend(0, kBot, "30001", 1, 0)); },
       R"(delete_friend {"user_id":30001,"block":true,"both":false})", "1"},
      {"like", [] { return t(api_send_like(0, kBot, 30001, 10)); }, R"(send_like {"user_id":30001,"times":10})", "1"},
      {"group remark", [&] { return t(api_set_group_remark(0, kBot, 20001, remark.c_str())); },
       R"(set_group_remark {"group_id":20001,"remark":"新备注"})", "1"},
      {"friend remark", [] { return t(api_set_friend_remark(0, kBot, 30001, "r")); },
       R"(set_friend_remark {"user_id":30001,"remark":"r"})", "1"},
      {"notice", [] { return t(api_set_group_notice(0, kBot, 20001, "c", "")); },
       R"(_send_group_notice {"group_id":20001,"content":"c"})", "1"},
      {"notice with image", [] { return t(api_set_group_notice(0, kBot, 20001, "c", "i.png")); },
       R"(_send_group_notice {"group_id":20001,"content":"c","image":"i.png"})", "1"},
      {"avatar", [] { return t(api_set_qq_avatar(0, kBot, 5, "a.png")); }, R"(set_qq_avatar {"file":"a.png"})", "1"},
      {"title", [] { return t(api_set_group_title(0, kBot, 20001, 30001, "王")); },
       R"(set_group_special_title {"group_id":20001,"user_id":30001,"special_title":"王","duration":-1})", "1"},
      {"card", [] { return t(api_set_card(0, kBot, 20001, 30001, "名片")); },
       R"(set_group_card {"group_id":20001,"user_id":30001,"card":"名片"})", "1"},
      {"sign", [] { return t(api_set_group_sign(0, kBot, 0)); }, "", "1"},
      {"send sign", [] { return t(api_send_group_sign(0, kBot, 0)); }, "", "1"},
      {"account info", [] { return n(api_set_account_info(1, 2, 3, 4, 5, 6)); }, "", "1"},
      {"online status", [] { return n(api_set_online_status(1, 2, 3, 4, 5, 6)); }, "", "1"},
      {"favorite", [] { return n(api_create_favorite(1, 2, 3, 4, 5)); }, "", "1"},
      {"signature", [] { return n(api_set_signature(1, 2, 3, 4)); }, "", "1"},
      {"refused", [] { return n(api_recall_group(0, kRefuser, 1, 2)); }, "", "0"},
      {"refused text", [] { return t(api_set_card(0, kRefuser, 1, 2, "c")); }, "", "0"},
      {"no link", [] { return n(api_ban_all(0, kNobody, 1, 1)); }, "", "0"},
  });
}

TEST_F(AdminQuery, AGroupNameSetIsWhatTheCacheAnswers) {
  EXPECT_STREQ(api_set_group_name(0, kBot, 20077, gbk("新名字").c_str()), "1");
  const std::size_t seen = actions(*ok_).size();
  EXPECT_EQ(std::string(api_get_group_name_cache(0, kBot, 20077)), gbk("新名字"));
  hold_for(100);
  EXPECT_EQ(actions(*ok_).size(), seen) << "answered from the cache";
  EXPECT_STREQ(api_set_group_name(0, kRefuser, 20078, "x"), "0");
  EXPECT_EQ(hx_pl_group_name_cache("10002", "20078"), "") << "a refused rename is not cached";
}

TEST_F(AdminQuery, RecordArraysCarryEveryField) {
  void* image = nullptr;
  ASSERT_EQ(api_get_member_list(0, kBot, 20001, &image), 2);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(HX_ARRAY_COUNT(image), 2u);
  const HxMemberInfo* m = HX_ARRAY_AT(image, HxMemberInfo, 0);
  EXPECT_EQ(m->group_id, 20001);
  EXPECT_EQ(m->user_id, 30001);
  EXPECT_EQ(std::string(m->nickname), gbk("小明"));
  EXPECT_EQ(std::string(m->card), gbk("明明"));
  EXPECT_STREQ(m->sex, "male");
  EXPECT_EQ(m->age, 20);
  EXPECT_EQ(std::string(m->area), gbk("北京"));
  EXPECT_EQ(m->join_time, 1600000000);
  EXPECT_EQ(m->last_sent_time, 1700000000);
  EXPECT_EQ(m->level, 12) << "a level given as the string \"12\"";
  EXPECT_STREQ(m->role, "admin");
  EXPECT_EQ(std::string(m->title), gbk("头衔"));
  const HxMemberInfo* second = HX_ARRAY_AT(image, HxMemberInfo, 1);
  EXPECT_EQ(second->user_id, 30002) << "an id given as a string";
  EXPECT_EQ(second->age, 0) << "no age";
  EXPECT_STREQ(second->card, "");

  void* groups = nullptr;
  ASSERT_EQ(api_get_group_list(0, kBot, &groups), 2);
  const HxGroupInfo* g = HX_ARRAY_AT(groups, HxGroupInfo, 0);
  EXPECT_EQ(g->group_id, 20001);
  EXPECT_EQ(std::string(g->group_name), gbk("演示群"));
  EXPECT_EQ(g->member_count, 12);
  EXPECT_EQ(g->max_member_count, 200);
  void* friends = nullptr;
  ASSERT_EQ(api_get_friend_list(0, kBot, &friends), 1);
  const HxFriendInfo* f = HX_ARRAY_AT(friends, HxFriendInfo, 0);
  EXPECT_EQ(f->user_id, 40001);
  EXPECT_EQ(std::string(f->remark), gbk("备注"));
  EXPECT_EQ(f->level, 3);

  // Names seen in the lists answer from the caches, without a call.
  const std::size_t seen = actions(*ok_).size();
  EXPECT_EQ(std::string(api_get_group_name_cache(0, kBot, 20002)), gbk("测试群"));
  EXPECT_EQ(std::string(api_get_nick_cache(0, kBot, 40001)), gbk("好友"));
  hold_for(100);
  EXPECT_EQ(actions(*ok_).size(), seen);

  void* one = nullptr;
  EXPECT_EQ(api_get_member_info(0, kBot, 20001, 30001, &one), 1);
  EXPECT_EQ(HX_ARRAY_AT(one, HxMemberInfo, 0)->user_id, 30001);
  EXPECT_EQ(api_get_member_info(0, kBot, 20001, 30001, nullptr), 0) << "no out pointer";
  EXPECT_EQ(api_get_group_list(0, kRefuser, &groups), 0);
  // The plugin's to keep: the host never frees them (the test does).
  release<HxMemberInfo>(image, {&HxMemberInfo::nickname, &HxMemberInfo::card, &HxMemberInfo::sex, &HxMemberInfo::area,
                                &HxMemberInfo::role, &HxMemberInfo::title});
  release<HxMemberInfo>(one, {&HxMemberInfo::nickname, &HxMemberInfo::card, &HxMemberInfo::sex, &HxMemberInfo::area,
                              &HxMemberInfo::role, &HxMemberInfo::title});
  release<HxGroupInfo>(groups, {&HxGroupInfo::group_name});
  release<HxFriendInfo>(friends, {&HxFriendInfo::nickname, &HxFriendInfo::remark, &HxFriendInfo::sex});
}

// The layouts proven by a plugin: a C library built like users' plugins
// calls the two list queries and reads every field through the SDK's records.
TEST_F(AdminQuery, APluginWalksTheArraysThroughTheSdkRecords) {
  const std::string file = std::string("tp_query") + HX_PLUGIN_EXT;
  ASSERT_TRUE(hx_pl_load_file(std::string(HX_TEST_PLUGIN_DIR) + "/" + file, file));
  HxPlugin* p = hx_pl_find("tp_query");
  ASSERT_NE(p, nullptr);
  auto state = reinterpret_cast<TestPluginState* (*)()>(sys_dl_sym(p->module.load(), "tp_state"))();
  auto walk = reinterpret_cast<void (*)(std::int64_t, std::int64_t)>(sys_dl_sym(p->module.load(), "tp_walk"));
  ASSERT_TRUE(state && walk);
  walk(kBot, 20001);
  EXPECT_EQ(state->members, 2);
  EXPECT_EQ(state->m_group, 20001);
  EXPECT_EQ(state->m_user, 30001);
  EXPECT_EQ(state->m_join, 1600000000);
  EXPECT_EQ(state->m_last, 1700000000);
  EXPECT_EQ(state->m_muted, 0);
  EXPECT_EQ(state->m_age, 20);
  EXPECT_EQ(state->m_level, 12);
  EXPECT_EQ(std::string(state->m_nick), gbk("小明"));
  EXPECT_EQ(std::string(state->m_card), gbk("明明"));
  EXPECT_STREQ(state->m_sex, "male");
  EXPECT_EQ(std::string(state->m_area), gbk("北京"));
  EXPECT_STREQ(state->m_role, "admin");
  EXPECT_EQ(std::string(state->m_title), gbk("头衔"));
  EXPECT_EQ(state->groups, 2);
  EXPECT_EQ(state->g_id, 20001);
  EXPECT_EQ(state->g_members, 12);
  EXPECT_EQ(state->g_max, 200);
  EXPECT_EQ(std::string(state->g_name), gbk("演示群"));
  hx_pl_shutdown();
}

class EmptyLists : public ApiBackendTest {
 protected:
  std::string script() const override {
    return R"({"replies": {"get_group_list": {"mode": "ok", "data": []}, "get_friend_list": {"mode": "ok", "data": {}}}})";
  }
};

TEST_F(EmptyLists, AnEmptyListStoresAnEmptyImage) {
  void* image = nullptr;
  EXPECT_EQ(api_get_group_list(0, kBot, &image), 0);
  ASSERT_NE(image, nullptr) << "a block is stored for count 0";
  EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(image)[0], 1u);
  EXPECT_EQ(HX_ARRAY_COUNT(image), 0u);
  std::free(image);
  void* none = nullptr;
  EXPECT_EQ(api_get_friend_list(0, kBot, &none), 0) << "data that is no array";
  EXPECT_EQ(none, nullptr);
}

TEST_F(AdminQuery, AnArrayThatCannotBeBuiltWholeIsNotBuiltAtAll) {
  for (int after : {0, 1, 5, 12}) {
    SCOPED_TRACE(after);
    void* image = reinterpret_cast<void*>(0x1);
    api_fail_allocation_after(after);
    EXPECT_EQ(api_get_member_list(0, kBot, 20001, &image), 0);
    api_fail_allocation_after(-1);
    EXPECT_EQ(image, reinterpret_cast<void*>(0x1)) << "nothing stored";
  }
}

TEST_F(AdminQuery, SingleValuesAndData) {
  run({
      {"card", [] { return t(api_get_member_card(0, kBot, 20001, 30001)); },
       R"(get_group_member_info {"group_id":20001,"user_id":30001,"no_cache":false})", gbk("明明")},
      {"muted for an hour", [] { return n(api_is_banned(0, kBot, 20001, 30001)); },
       R"(get_group_member_info {"group_id":20001,"user_id":30001,"no_cache":false})", "1"},
      {"group name", [] { return t(api_get_group_name(0, kBot, 20009)); }, R"(get_group_info {"group_id":20009})",
       gbk("查到的群")},
      {"group name, cached now", [] { return t(api_get_group_name_cache(0, kBot, 20009)); }, "", gbk("查到的群")},
      {"nick", [] { return t(api_get_nick_cache(0, kBot, 50001)); },
       R"(get_stranger_info {"user_id":50001,"no_cache":false})", gbk("路人")},
      {"status", [] { return t(api_get_online_model(0, kBot)); }, "get_status {}", R"({"online":true,"good":true})"},
      {"file info", [] { return t(api_get_file_info(0, kBot, "123")); }, R"(get_group_file_url {"file_id":"123"})",
       "null"},
      {"file url", [] { return t(api_get_file_url(0, kBot, 20001, "f1")); },
       R"(get_group_file_url {"group_id":20001,"file_id":"f1"})", "null"},
      {"sub files", [] { return t(api_get_sub_files(0, kBot, 20001, "d", 9)); },
       R"(get_group_files_by_folder {"group_id":20001,"folder_id":"d","file_count":9})", "null"},
      {"shut list", [] { return t(api_get_shut_list(0, kBot, "20001")); }, R"(get_group_shut_list {"group_id":20001})",
       "null"},
      {"message", [] { return t(api_get_msg_detail(0, kBot, 5)); }, R"(get_msg {"message_id":5})", "null"},
      {"stranger detail", [] { return t(api_query_stranger_detail(0, kBot, 50001)); },
       R"(get_stranger_info {"user_id":50001})", R"({"user_id":50001,"nickname":")" + gbk("路人") + R"("})"},
      {"admins", [] { return t(api_get_admin_list(0, kBot, 20001)).substr(0, 12); },
       R"(get_group_member_list {"group_id":20001})", R"([{"user_id":)"},
      {"no call", [] { return t(api_get_ai_characters(0, kBot, 1, 2)); }, "", ""},
      {"refused data", [] { return t(api_get_login_info(0, kRefuser)); }, "", ""},
  });
}

TEST_F(AdminQuery, TheAccountListTellsEachAccountsState) {
  hx_cfg_account_add("10003", "10.0.0.3", 1, "");  // configured, never online
  const std::string text = hx_auto_to_utf8(api_get_frame_qq()).value_or("");
  HxJson root(cJSON_Parse(text.c_str()));
  const cJSON* list = cJSON_GetObjectItemCaseSensitive(root.get(), "QQlist");
  ASSERT_NE(list, nullptr) << text;
  EXPECT_EQ(cJSON_GetArraySize(list), 3);
  const cJSON* online = cJSON_GetObjectItemCaseSensitive(list, "10001");
  const cJSON* offline = cJSON_GetObjectItemCaseSensitive(list, "10003");
  ASSERT_TRUE(online && offline);
  auto member = [](const cJSON* o, const char* key) {
    const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, key);
    return std::string(cJSON_IsString(v) ? v->valuestring : "<none>");
  };
  EXPECT_EQ(member(online, "登录状态"), "登录完毕");
  EXPECT_EQ(member(online, "登录协议"), "QQNT");
  EXPECT_EQ(member(offline, "登录状态"), "未登录");
  EXPECT_EQ(member(offline, "新_在线"), "0秒");
  EXPECT_EQ(member(offline, "昵称"), "10003") << "no nickname: the QQ number";
  EXPECT_EQ(member(offline, "登录IP"), "10.0.0.3");
  EXPECT_EQ(member(offline, "收发信息"), "0秒 收:0,发:0,速:0条/min");
  hx_cfg_account_remove("10003");
}

}  // namespace
