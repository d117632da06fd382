// The plugin API: 125 functions known by Chinese names, in a fixed table.
//
// Every function is stdcall on 32-bit x86 and must tolerate a zeroed argument
// block (null texts, id 0, null out-pointers), returning its failure value;
// nothing may escape one. Texts come in GBK (valid UTF-8 is accepted too);
// texts returned live in per-thread result rings the plugin never frees.
// Argument conventions: `w` is the ignored first 32-bit word, `bot` the bot
// account, ids are 64-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "plugin/plugin.h"
#include "tolvex_sdk.h"

using hx_word = std::uint32_t;
using hx_i64 = std::int64_t;
using hx_i32 = std::int32_t;
using hx_text = const char*;

// ---- messaging ----
hx_text HX_STDCALL api_send_group_msg(hx_word w, hx_i64 bot, hx_i64 group, hx_text msg, hx_i32 raw);
hx_text HX_STDCALL api_send_private_msg(hx_word w, hx_i64 bot, hx_i64 user, hx_text msg, hx_i32 raw);
hx_text HX_STDCALL api_send_tmp_msg(hx_word w, hx_i64 bot, hx_i64 user, hx_i64 group, hx_text msg, hx_i32 raw);
hx_text HX_STDCALL api_send_group_json(hx_word w, hx_i64 bot, hx_i64 group, hx_text json, hx_i32 raw);
hx_text HX_STDCALL api_send_private_json_nb(hx_word w, hx_i64 bot, hx_text user, hx_text json);
hx_text HX_STDCALL api_send_private_pic_nb(hx_word w, hx_i64 bot, hx_text user, hx_text file);
hx_text HX_STDCALL api_send_private_voice_nb(hx_word w, hx_i64 bot, hx_text user, hx_text file);
hx_text HX_STDCALL api_send_private_video_nb(hx_word w, hx_i64 bot, hx_text user, hx_text file);
hx_text HX_STDCALL api_send_private_face_nb(hx_word w, hx_i64 bot, hx_text user, hx_i32 face);
hx_text HX_STDCALL api_send_private_reply(hx_word w, hx_i64 bot, hx_text user, hx_text message_id, hx_text msg);
hx_text HX_STDCALL api_send_private_music(hx_word w, hx_i64 bot, hx_text user, hx_text music_id);
hx_text HX_STDCALL api_send_private_music_custom(hx_word w, hx_i64 bot, hx_text user, hx_i32 ignored, hx_text url,
                                                 hx_text audio, hx_text title, hx_text image);
hx_text HX_STDCALL api_send_private_dice(hx_word w, hx_i64 bot, hx_text user);
hx_text HX_STDCALL api_send_private_rps(hx_word w, hx_i64 bot, hx_text user);
hx_text HX_STDCALL api_send_private_forward(hx_word w, hx_i64 bot, hx_text user, hx_text nodes);
hx_text HX_STDCALL api_send_private_file_nb(hx_word w, hx_i64 bot, hx_text user, hx_text file);
hx_text HX_STDCALL api_upload_private_file_nb(hx_word w, hx_i64 bot, hx_text user, hx_text dir, hx_text name);
hx_text HX_STDCALL api_send_private_poke(hx_word w, hx_i64 bot, hx_text user);
hx_text HX_STDCALL api_send_group_voice_nb(hx_word w, hx_i64 bot, hx_text group, hx_text file);
hx_text HX_STDCALL api_send_group_video_nb(hx_word w, hx_i64 bot, hx_text group, hx_text file);
hx_text HX_STDCALL api_send_group_dice(hx_word w, hx_i64 bot, hx_text group);
hx_text HX_STDCALL api_send_group_rps(hx_word w, hx_i64 bot, hx_text group);
hx_text HX_STDCALL api_send_group_forward(hx_word w, hx_i64 bot, hx_i64 group, hx_i32 ignored, hx_text nodes);
hx_text HX_STDCALL api_send_group_file_nb(hx_word w, hx_i64 bot, hx_text group, hx_text file);
hx_text HX_STDCALL api_send_group_poke(hx_word w, hx_i64 bot, hx_text group, hx_text user);
hx_text HX_STDCALL api_share_music(hx_word w, hx_i64 bot, hx_i64 group, hx_text title, hx_i32 ignored1, hx_text url,
                                   hx_text audio, hx_i32 ignored2, hx_i32 ignored3);
hx_text HX_STDCALL api_share_music_custom(hx_word w, hx_i64 bot, hx_i64 group, hx_text url, hx_text audio,
                                          hx_text title, hx_i32 ignored, hx_text content);
hx_text HX_STDCALL api_send_data_pack(hx_word w, hx_i64 bot, hx_text packet, hx_i32 timeout_ms);
hx_text HX_STDCALL api_send_group_ai_voice(hx_word w, hx_i64 bot, hx_word a, hx_word b, hx_word c);

// ---- administration ----
hx_i32 HX_STDCALL api_recall_group(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 message_id);
hx_i32 HX_STDCALL api_recall_private(hx_word w, hx_i64 bot, hx_i64 user, hx_i64 message_id);
hx_i32 HX_STDCALL api_delete_member(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user, hx_i32 refuse_again);
hx_i32 HX_STDCALL api_ban_member(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user, hx_i32 seconds);
hx_i32 HX_STDCALL api_ban_all(hx_word w, hx_i64 bot, hx_i64 group, hx_i32 on);
hx_i32 HX_STDCALL api_set_admin(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user, hx_i32 cancel);
hx_i32 HX_STDCALL api_leave_group(hx_word w, hx_i64 bot, hx_i64 group);
hx_i32 HX_STDCALL api_dismiss_group(hx_word w, hx_i64 bot, hx_i64 group);
hx_i32 HX_STDCALL api_set_group_msg_mask(hx_word w, hx_i64 bot, hx_i64 group, hx_i32 mask);
hx_i32 HX_STDCALL api_group_verify(hx_word w, hx_i64 bot, hx_text flag, hx_i32 type, hx_i32 approve, hx_text reason);
hx_i32 HX_STDCALL api_friend_verify(hx_word w, hx_i64 bot, hx_text flag, hx_i32 approve, hx_text remark);
hx_text HX_STDCALL api_set_essence(hx_word w, hx_i64 bot, hx_text message_id);
hx_text HX_STDCALL api_del_essence(hx_word w, hx_i64 bot, hx_text message_id);
hx_text HX_STDCALL api_set_group_portrait(hx_word w, hx_i64 bot, hx_text group, hx_text file);
hx_text HX_STDCALL api_set_msg_emoji(hx_word w, hx_i64 bot, hx_text message_id, hx_i32 emoji, hx_i32 ignored);
hx_text HX_STDCALL api_delete_friend(hx_word w, hx_i64 bot, hx_text user, hx_i32 block, hx_i32 both);
hx_text HX_STDCALL api_send_like(hx_word w, hx_i64 bot, hx_i64 user, hx_i32 times);
hx_text HX_STDCALL api_set_group_remark(hx_word w, hx_i64 bot, hx_i64 group, hx_text remark);
hx_text HX_STDCALL api_set_friend_remark(hx_word w, hx_i64 bot, hx_i64 user, hx_text remark);
hx_text HX_STDCALL api_set_group_notice(hx_word w, hx_i64 bot, hx_i64 group, hx_text content, hx_text image);
hx_text HX_STDCALL api_set_qq_avatar(hx_word w, hx_i64 bot, hx_i64 ignored, hx_text file);
hx_text HX_STDCALL api_set_group_title(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user, hx_text title);
hx_text HX_STDCALL api_set_card(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user, hx_text card);
hx_text HX_STDCALL api_set_group_name(hx_word w, hx_i64 bot, hx_i64 group, hx_text name);
hx_text HX_STDCALL api_set_group_sign(hx_word w, hx_i64 bot, hx_i32 ignored);
hx_text HX_STDCALL api_send_group_sign(hx_word w, hx_i64 bot, hx_i32 ignored);
hx_i32 HX_STDCALL api_set_account_info(hx_word a, hx_word b, hx_word c, hx_word d, hx_word e, hx_word f);
hx_i32 HX_STDCALL api_set_online_status(hx_word a, hx_word b, hx_word c, hx_word d, hx_word e, hx_word f);
hx_i32 HX_STDCALL api_create_favorite(hx_word a, hx_word b, hx_word c, hx_word d, hx_word e);
hx_i32 HX_STDCALL api_set_signature(hx_word a, hx_word b, hx_word c, hx_word d);

// ---- queries (record arrays write their image through `out`) ----
hx_i32 HX_STDCALL api_get_member_info(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user, void** out);
hx_i32 HX_STDCALL api_get_member_list(hx_word w, hx_i64 bot, hx_i64 group, void** out);
hx_i32 HX_STDCALL api_get_group_list(hx_word w, hx_i64 bot, void** out);
hx_i32 HX_STDCALL api_get_friend_list(hx_word w, hx_i64 bot, void** out);
hx_text HX_STDCALL api_get_member_card(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user);
hx_text HX_STDCALL api_get_group_name(hx_word w, hx_i64 bot, hx_i64 group);
hx_text HX_STDCALL api_get_group_name_cache(hx_word w, hx_i64 bot, hx_i64 group);
hx_text HX_STDCALL api_get_nick(hx_word w, hx_i64 bot, hx_i64 user);
hx_text HX_STDCALL api_get_nick_cache(hx_word w, hx_i64 bot, hx_i64 user);
hx_i32 HX_STDCALL api_is_banned(hx_word w, hx_i64 bot, hx_i64 group, hx_i64 user);
hx_text HX_STDCALL api_get_frame_qq();
hx_text HX_STDCALL api_get_shut_list(hx_word w, hx_i64 bot, hx_text group);
hx_text HX_STDCALL api_get_online_model(hx_word w, hx_i64 bot);
hx_text HX_STDCALL api_get_at_all_remain(hx_word w, hx_i64 bot, hx_text group);
hx_text HX_STDCALL api_get_login_info(hx_word w, hx_i64 bot);
hx_text HX_STDCALL api_get_group_notice(hx_word w, hx_i64 bot, hx_i64 group);
hx_text HX_STDCALL api_get_file_url(hx_word w, hx_i64 bot, hx_i64 group, hx_text file_id);
hx_text HX_STDCALL api_get_sub_files(hx_word w, hx_i64 bot, hx_i64 group, hx_text folder_id, hx_i32 count);
hx_text HX_STDCALL api_get_root_files(hx_word w, hx_i64 bot, hx_i64 group);
hx_text HX_STDCALL api_get_file_info(hx_word w, hx_i64 bot, hx_text file_id);
hx_text HX_STDCALL api_get_essence_list(hx_word w, hx_i64 bot, hx_i64 group);
hx_text HX_STDCALL api_get_like_list(hx_word w, hx_i64 bot);
hx_text HX_STDCALL api_get_pskey(hx_word w, hx_i64 bot, hx_i32 ignored);
hx_text HX_STDCALL api_get_cookies(hx_word w, hx_i64 bot);
hx_text HX_STDCALL api_get_msg_detail(hx_word w, hx_i64 bot, hx_i64 message_id);
hx_text HX_STDCALL api_query_stranger(hx_word w, hx_i64 bot, hx_i64 user);
hx_text HX_STDCALL api_query_stranger_detail(hx_word w, hx_i64 bot, hx_i64 user);
hx_text HX_STDCALL api_get_image_url(hx_word w, hx_i64 bot, hx_text file);
hx_text HX_STDCALL api_get_admin_list(hx_word w, hx_i64 bot, hx_i64 group);
hx_text HX_STDCALL api_get_user_status(hx_word w, hx_i64 bot, hx_i32 ignored);
hx_text HX_STDCALL api_get_friend_group_list(hx_word w, hx_i64 bot);
hx_text HX_STDCALL api_cor_ocr(hx_word w, hx_i64 bot, hx_i32 ignored);
hx_text HX_STDCALL api_recent_msg_list(hx_word w, hx_i64 bot, hx_i32 ignored);
hx_text HX_STDCALL api_get_recommend_card(hx_word w, hx_i64 bot, hx_i32 ignored1, hx_i32 ignored2);
hx_text HX_STDCALL api_get_ai_voice(hx_word w, hx_i64 bot, hx_word a, hx_word b, hx_word c);
hx_text HX_STDCALL api_get_ai_characters(hx_word w, hx_i64 bot, hx_i64 group, hx_i32 ignored);

// ---- media upload (the media is a text or a pointer to media bytes) ----
hx_text HX_STDCALL api_upload_group_image(hx_word w, hx_i64 bot, const void* media);
hx_text HX_STDCALL api_upload_friend_image(hx_word w, hx_i64 bot, const void* media);
hx_text HX_STDCALL api_upload_friend_record(hx_word w, hx_i64 bot, const void* media);
hx_text HX_STDCALL api_upload_group_record(hx_word w, hx_i64 bot, const void* media);
hx_text HX_STDCALL api_upload_video(hx_word w, hx_i64 bot, const void* media);

// ---- registration, callbacks, permissions and the host itself ----
hx_i32 HX_STDCALL api_set_app_name(hx_text name);
hx_i32 HX_STDCALL api_set_app_author(hx_text author);
hx_i32 HX_STDCALL api_set_app_version(hx_text version);
hx_i32 HX_STDCALL api_set_app_describe(hx_text describe);
hx_i32 HX_STDCALL api_set_on_group(void* fn);
hx_i32 HX_STDCALL api_set_on_private(void* fn);
hx_i32 HX_STDCALL api_set_on_event(void* fn);
hx_i32 HX_STDCALL api_set_on_enabled(void* fn);
hx_i32 HX_STDCALL api_set_on_disabled(void* fn);
hx_i32 HX_STDCALL api_set_on_unload(void* fn);
hx_i32 HX_STDCALL api_set_on_panel(void* fn);
hx_i32 HX_STDCALL api_set_send_hook(void* fn);
hx_i32 HX_STDCALL api_apply_perm(hx_text name, hx_word ignored);
hx_i32 HX_STDCALL api_apply_perm_all(hx_word ignored);
hx_i32 HX_STDCALL api_apply_perm_multi(const char* const* names, hx_word ignored);
hx_i32 HX_STDCALL api_output_log(hx_word w, hx_text msg, hx_word a, hx_word b);
hx_i32 HX_STDCALL api_reload_self(hx_word a, hx_word b);
hx_text HX_STDCALL api_get_plugin_file();
hx_text HX_STDCALL api_get_plugin_datadir();
hx_text HX_STDCALL api_get_frame_version();
hx_text HX_STDCALL api_get_sdk_version();
// "取API函数地址": the function (not its trampoline) of a named API, 0 when
// there is none.
std::uintptr_t HX_STDCALL api_get_api_addr(hx_text name);

// ---- the table ----

inline constexpr int HX_API_PERMISSIONS = 105;  // entries 0..104 need a permission

struct HxApiEntry {
  const char* name;  // UTF-8
  void* function;
  std::int32_t perm;      // 1 for entries that need a permission
  std::int32_t argBytes;  // size of the stdcall argument block on 32-bit x86
};
extern const HxApiEntry g_apiTable[HX_API_COUNT];

// The triple handed to every plugin (HxApiTriple, in plugin/plugin.h):
// count, addresses (trampolines where they exist) and GBK names. Built on
// first use, never freed.
HxApiTriple api_build_table();

// The two E-language array images {1, 125, elements...}: names (GBK text
// pointers) and addresses. Null when they cannot be built.
HxEplArrays api_epl_arrays();

// The apidata JSON (GBK member names, addresses as numbers or, with
// HX_APIDATA_STR=1, as decimal strings; wrapped under "data" with
// HX_APIDATA_WRAP=1). Built once; empty when it cannot be built.
const std::string& api_build_apidata_json();

// The three forms together, as the loader hands them to plugins
// (installed with hx_pl_set_api_source).
HxPlApiForms api_forms();

// The function of a named API (GBK or UTF-8 name), or null.
void* api_lookup(const char* name);

// Tracing, called by each trampoline before its function (cdecl: the
// trampoline removes the argument).
extern "C" void api_trace_enter(int index);
// Settles the calling thread's pending call (the "调用 %s" line).
void api_trace_flush();
// The recent calls, newest first, "a -> b -> c", at most len - 4 bytes.
std::string api_trace_recent(std::size_t len);
// The API whose trampoline holds `address`, or null.
const char* api_name_at(const void* address);
// Logs the call summary.
void api_trace_dump();
// Calls traced since the start (for tests and the crash report).
long api_trace_total();
