// Placeholder bodies of the API functions whose families are still to be
// built: each returns its failure value ("0", the empty text or 0) for any
// arguments. A family replaces its placeholders when it lands.
#include "api/api.h"

hx_i32 HX_STDCALL api_recall_group(hx_word, hx_i64, hx_i64, hx_i64) { return 0; }
hx_i32 HX_STDCALL api_recall_private(hx_word, hx_i64, hx_i64, hx_i64) { return 0; }
hx_i32 HX_STDCALL api_delete_member(hx_word, hx_i64, hx_i64, hx_i64, hx_i32) { return 0; }
hx_i32 HX_STDCALL api_ban_member(hx_word, hx_i64, hx_i64, hx_i64, hx_i32) { return 0; }
hx_i32 HX_STDCALL api_ban_all(hx_word, hx_i64, hx_i64, hx_i32) { return 0; }
hx_i32 HX_STDCALL api_set_admin(hx_word, hx_i64, hx_i64, hx_i64, hx_i32) { return 0; }
hx_i32 HX_STDCALL api_leave_group(hx_word, hx_i64, hx_i64) { return 0; }
hx_i32 HX_STDCALL api_dismiss_group(hx_word, hx_i64, hx_i64) { return 0; }
hx_i32 HX_STDCALL api_set_group_msg_mask(hx_word, hx_i64, hx_i64, hx_i32) { return 0; }
hx_i32 HX_STDCALL api_group_verify(hx_word, hx_i64, hx_text, hx_i32, hx_i32, hx_text) { return 0; }
hx_i32 HX_STDCALL api_friend_verify(hx_word, hx_i64, hx_text, hx_i32, hx_text) { return 0; }
hx_text HX_STDCALL api_set_essence(hx_word, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_del_essence(hx_word, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_group_portrait(hx_word, hx_i64, hx_text, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_msg_emoji(hx_word, hx_i64, hx_text, hx_i32, hx_i32) { return "0"; }
hx_text HX_STDCALL api_delete_friend(hx_word, hx_i64, hx_text, hx_i32, hx_i32) { return "0"; }
hx_text HX_STDCALL api_send_like(hx_word, hx_i64, hx_i64, hx_i32) { return "0"; }
hx_text HX_STDCALL api_set_group_remark(hx_word, hx_i64, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_friend_remark(hx_word, hx_i64, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_group_notice(hx_word, hx_i64, hx_i64, hx_text, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_qq_avatar(hx_word, hx_i64, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_group_title(hx_word, hx_i64, hx_i64, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_card(hx_word, hx_i64, hx_i64, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_group_name(hx_word, hx_i64, hx_i64, hx_text) { return "0"; }
hx_text HX_STDCALL api_set_group_sign(hx_word, hx_i64, hx_i32) { return "0"; }
hx_text HX_STDCALL api_send_group_sign(hx_word, hx_i64, hx_i32) { return "0"; }
hx_text HX_STDCALL api_set_account_info(hx_word, hx_word, hx_word, hx_word, hx_word, hx_word) { return "0"; }
hx_text HX_STDCALL api_set_online_status(hx_word, hx_word, hx_word, hx_word, hx_word, hx_word) { return "0"; }
hx_text HX_STDCALL api_create_favorite(hx_word, hx_word, hx_word, hx_word, hx_word) { return "0"; }
hx_text HX_STDCALL api_set_signature(hx_word, hx_word, hx_word, hx_word) { return "0"; }
hx_i32 HX_STDCALL api_get_member_info(hx_word, hx_i64, hx_i64, hx_i64, void**) { return 0; }
hx_i32 HX_STDCALL api_get_member_list(hx_word, hx_i64, hx_i64, void**) { return 0; }
hx_i32 HX_STDCALL api_get_group_list(hx_word, hx_i64, void**) { return 0; }
hx_i32 HX_STDCALL api_get_friend_list(hx_word, hx_i64, void**) { return 0; }
hx_text HX_STDCALL api_get_member_card(hx_word, hx_i64, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_group_name(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_group_name_cache(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_nick(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_nick_cache(hx_word, hx_i64, hx_i64) { return ""; }
hx_i32 HX_STDCALL api_is_banned(hx_word, hx_i64, hx_i64, hx_i64) { return 0; }
hx_text HX_STDCALL api_get_frame_qq() { return ""; }
hx_text HX_STDCALL api_get_shut_list(hx_word, hx_i64, hx_text) { return ""; }
hx_text HX_STDCALL api_get_online_model(hx_word, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_at_all_remain(hx_word, hx_i64, hx_text) { return ""; }
hx_text HX_STDCALL api_get_login_info(hx_word, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_group_notice(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_file_url(hx_word, hx_i64, hx_i64, hx_text) { return ""; }
hx_text HX_STDCALL api_get_sub_files(hx_word, hx_i64, hx_i64, hx_text, hx_i32) { return ""; }
hx_text HX_STDCALL api_get_root_files(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_file_info(hx_word, hx_i64, hx_text) { return ""; }
hx_text HX_STDCALL api_get_essence_list(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_like_list(hx_word, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_pskey(hx_word, hx_i64, hx_i32) { return ""; }
hx_text HX_STDCALL api_get_cookies(hx_word, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_msg_detail(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_query_stranger(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_query_stranger_detail(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_image_url(hx_word, hx_i64, hx_text) { return ""; }
hx_text HX_STDCALL api_get_admin_list(hx_word, hx_i64, hx_i64) { return ""; }
hx_text HX_STDCALL api_get_user_status(hx_word, hx_i64, hx_i32) { return ""; }
hx_text HX_STDCALL api_get_friend_group_list(hx_word, hx_i64) { return ""; }
hx_text HX_STDCALL api_cor_ocr(hx_word, hx_i64, hx_i32) { return ""; }
hx_text HX_STDCALL api_recent_msg_list(hx_word, hx_i64, hx_i32) { return ""; }
hx_text HX_STDCALL api_get_recommend_card(hx_word, hx_i64, hx_i32, hx_i32) { return ""; }
hx_text HX_STDCALL api_get_ai_voice(hx_word, hx_i64, hx_word, hx_word, hx_word) { return ""; }
hx_text HX_STDCALL api_get_ai_characters(hx_word, hx_i64, hx_i64, hx_i32) { return ""; }
hx_text HX_STDCALL api_upload_group_image(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_friend_image(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_friend_record(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_group_record(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_video(hx_word, hx_i64, const void*) { return ""; }
