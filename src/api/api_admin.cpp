// The administration API: recalls, kicks, mutes, admins, leaving groups,
// requests, essence messages, reactions, remarks, notices, titles, cards,
// names and avatars, likes and friends. Each is one action for the bot; the
// function tells only whether the backend accepted it.
//
// A text that cannot be converted to UTF-8 is never sent as an empty value
// (which would wipe a name, card or remark on the backend): the function
// fails without sending.
#include <cjson/cJSON.h>

#include <initializer_list>
#include <string>

#include "api/api.h"
#include "api/api_conv.h"
#include "foundation/json.h"
#include "foundation/util.h"
#include "plugin/plugin.h"

namespace {

bool empty(const char* text) { return !text || !*text; }

hx_i32 as_int(hx_i64 bot, const char* action, const ApiParams& p) { return p.call(bot, action) ? 1 : 0; }
const char* as_text(hx_i64 bot, const char* action, const ApiParams& p) { return api_ok_text(p.call(bot, action)); }

}  // namespace

hx_i32 HX_STDCALL api_recall_group(hx_word, hx_i64 bot, hx_i64 group, hx_i64 message_id) {
  return api_guard(
      0, [&] { return as_int(bot, "delete_msg", ApiParams().id("message_id", message_id).id("group_id", group)); });
}

hx_i32 HX_STDCALL api_recall_private(hx_word, hx_i64 bot, hx_i64 user, hx_i64 message_id) {
  return api_guard(
      0, [&] { return as_int(bot, "delete_msg", ApiParams().id("message_id", message_id).id("user_id", user)); });
}

hx_i32 HX_STDCALL api_delete_member(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user, hx_i32 refuse_again) {
  return api_guard(0, [&] {
    return as_int(bot, "set_group_kick",
                  ApiParams().id("group_id", group).id("user_id", user).flag("reject_add_request", refuse_again != 0));
  });
}

hx_i32 HX_STDCALL api_ban_member(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user, hx_i32 seconds) {
  return api_guard(0, [&] {
    return as_int(bot, "set_group_ban",
                  ApiParams().id("group_id", group).id("user_id", user).number("duration", seconds));
  });
}

hx_i32 HX_STDCALL api_ban_all(hx_word, hx_i64 bot, hx_i64 group, hx_i32 on) {
  return api_guard(
      0, [&] { return as_int(bot, "set_group_whole_ban", ApiParams().id("group_id", group).flag("enable", on != 0)); });
}

hx_i32 HX_STDCALL api_set_admin(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user, hx_i32 cancel) {
  return api_guard(0, [&] {
    return as_int(bot, "set_group_admin",
                  ApiParams().id("group_id", group).id("user_id", user).flag("enable", cancel == 0));
  });
}

hx_i32 HX_STDCALL api_leave_group(hx_word, hx_i64 bot, hx_i64 group) {
  return api_guard(
      0, [&] { return as_int(bot, "set_group_leave", ApiParams().id("group_id", group).flag("is_dismiss", false)); });
}

hx_i32 HX_STDCALL api_dismiss_group(hx_word, hx_i64 bot, hx_i64 group) {
  return api_guard(
      0, [&] { return as_int(bot, "set_group_leave", ApiParams().id("group_id", group).flag("is_dismiss", true)); });
}

hx_i32 HX_STDCALL api_set_group_msg_mask(hx_word, hx_i64 bot, hx_i64 group, hx_i32 mask) {
  return api_guard(
      0, [&] { return as_int(bot, "set_group_msg_mask", ApiParams().id("group_id", group).number("mask", mask)); });
}

hx_i32 HX_STDCALL api_group_verify(hx_word, hx_i64 bot, hx_text flag, hx_i32 type, hx_i32 approve, hx_text reason) {
  return api_guard(0, [&] {
    ApiParams p;
    p.raw("flag", flag).raw("sub_type", type == 1 || type == 25 ? "invite" : "add").flag("approve", approve != 0);
    if (!empty(reason)) p.utf8("reason", reason);
    return as_int(bot, "set_group_add_request", p);
  });
}

hx_i32 HX_STDCALL api_friend_verify(hx_word, hx_i64 bot, hx_text flag, hx_i32 approve, hx_text remark) {
  return api_guard(0, [&] {
    ApiParams p;
    p.raw("flag", flag).flag("approve", approve != 0);
    if (!empty(remark)) p.utf8("remark", remark);
    return as_int(bot, "set_friend_add_request", p);
  });
}

hx_text HX_STDCALL api_set_essence(hx_word, hx_i64 bot, hx_text message_id) {
  return api_guard("0", [&] { return as_text(bot, "set_essence_msg", ApiParams().id_text("message_id", message_id)); });
}

hx_text HX_STDCALL api_del_essence(hx_word, hx_i64 bot, hx_text message_id) {
  return api_guard("0",
                   [&] { return as_text(bot, "delete_essence_msg", ApiParams().id_text("message_id", message_id)); });
}

hx_text HX_STDCALL api_set_group_portrait(hx_word, hx_i64 bot, hx_text group, hx_text file) {
  return api_guard("0", [&] {
    return as_text(bot, "set_group_portrait", ApiParams().id_text("group_id", group).utf8("file", file));
  });
}

hx_text HX_STDCALL api_set_msg_emoji(hx_word, hx_i64 bot, hx_text message_id, hx_i32 emoji, hx_i32) {
  return api_guard("0", [&] {
    // Through add_id: a negative id is no run of digits and goes as a string.
    return as_text(bot, "set_msg_emoji_like",
                   ApiParams().id_text("message_id", message_id).id("emoji_id", static_cast<hx_i64>(emoji)));
  });
}

hx_text HX_STDCALL api_delete_friend(hx_word, hx_i64 bot, hx_text user, hx_i32 block, hx_i32 both) {
  return api_guard("0", [&] {
    return as_text(bot, "delete_friend",
                   ApiParams().id_text("user_id", user).flag("block", block != 0).flag("both", both != 0));
  });
}

hx_text HX_STDCALL api_send_like(hx_word, hx_i64 bot, hx_i64 user, hx_i32 times) {
  return api_guard("0",
                   [&] { return as_text(bot, "send_like", ApiParams().id("user_id", user).number("times", times)); });
}

hx_text HX_STDCALL api_set_group_remark(hx_word, hx_i64 bot, hx_i64 group, hx_text remark) {
  return api_guard(
      "0", [&] { return as_text(bot, "set_group_remark", ApiParams().id("group_id", group).utf8("remark", remark)); });
}

hx_text HX_STDCALL api_set_friend_remark(hx_word, hx_i64 bot, hx_i64 user, hx_text remark) {
  return api_guard(
      "0", [&] { return as_text(bot, "set_friend_remark", ApiParams().id("user_id", user).utf8("remark", remark)); });
}

hx_text HX_STDCALL api_set_group_notice(hx_word, hx_i64 bot, hx_i64 group, hx_text content, hx_text image) {
  return api_guard("0", [&] {
    ApiParams p;
    p.id("group_id", group).utf8("content", content);
    if (!empty(image)) p.utf8("image", image);
    return as_text(bot, "_send_group_notice", p);
  });
}

hx_text HX_STDCALL api_set_qq_avatar(hx_word, hx_i64 bot, hx_i64, hx_text file) {
  return api_guard("0", [&] { return as_text(bot, "set_qq_avatar", ApiParams().utf8("file", file)); });
}

hx_text HX_STDCALL api_set_group_title(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user, hx_text title) {
  return api_guard("0", [&] {
    return as_text(
        bot, "set_group_special_title",
        ApiParams().id("group_id", group).id("user_id", user).utf8("special_title", title).number("duration", -1));
  });
}

hx_text HX_STDCALL api_set_card(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user, hx_text card) {
  return api_guard("0", [&] {
    return as_text(bot, "set_group_card", ApiParams().id("group_id", group).id("user_id", user).utf8("card", card));
  });
}

hx_text HX_STDCALL api_set_group_name(hx_word, hx_i64 bot, hx_i64 group, hx_text name) {
  return api_guard("0", [&] {
    ApiParams p;
    p.id("group_id", group).utf8("group_name", name);
    const bool ok = p.call(bot, "set_group_name");
    // The new name is what "取群名称_从缓存" answers from now on.
    if (ok) hx_pl_cache_group(api_id_text(bot), api_id_text(group), hx_auto_to_utf8(name ? name : "").value_or(""));
    return api_ok_text(ok);
  });
}

hx_text HX_STDCALL api_set_group_sign(hx_word, hx_i64, hx_i32) { return tmpstr("1"); }
hx_text HX_STDCALL api_send_group_sign(hx_word, hx_i64, hx_i32) { return tmpstr("1"); }
hx_i32 HX_STDCALL api_set_account_info(hx_word, hx_word, hx_word, hx_word, hx_word, hx_word) { return 1; }
hx_i32 HX_STDCALL api_set_online_status(hx_word, hx_word, hx_word, hx_word, hx_word, hx_word) { return 1; }
hx_i32 HX_STDCALL api_create_favorite(hx_word, hx_word, hx_word, hx_word, hx_word) { return 1; }
hx_i32 HX_STDCALL api_set_signature(hx_word, hx_word, hx_word, hx_word) { return 1; }
