// Placeholder bodies of the API functions whose families are still to be
// built: each returns its failure value ("0", the empty text or 0) for any
// arguments. A family replaces its placeholders when it lands.
#include "api/api.h"

hx_text HX_STDCALL api_upload_group_image(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_friend_image(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_friend_record(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_group_record(hx_word, hx_i64, const void*) { return ""; }
hx_text HX_STDCALL api_upload_video(hx_word, hx_i64, const void*) { return ""; }
