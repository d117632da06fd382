/* The SDK header as plugin authors compile it: C89, and (with an MSVC-style
 * 32-bit compiler) the record layouts plugins rely on. */
#include <stddef.h>

#include "tolvex_sdk.h"

#define SDK_CHECK(name, cond) typedef char sdk_check_##name[(cond) ? 1 : -1]

#if HX_SDK_32BIT
SDK_CHECK(group_msg, sizeof(HxGroupMsg) == 60);
SDK_CHECK(private_msg, sizeof(HxPrivateMsg) == 64);
SDK_CHECK(event_msg, sizeof(HxEventMsg) == 76);
SDK_CHECK(member, sizeof(HxMemberInfo) == 72);
SDK_CHECK(member_muted, offsetof(HxMemberInfo, shut_up_timestamp) == 64);
SDK_CHECK(member_join, offsetof(HxMemberInfo, join_time) == 36);
SDK_CHECK(group, sizeof(HxGroupInfo) == 28);
SDK_CHECK(group_max, offsetof(HxGroupInfo, max_member_count) == 20);
SDK_CHECK(friend_, sizeof(HxFriendInfo) == 24);
SDK_CHECK(friend_level, offsetof(HxFriendInfo, level) == 20);
SDK_CHECK(init_info, sizeof(HxInitInfo) == 26 * 4);
#endif

int sdk_check_use(const void* image) {
  const HxMemberInfo* m = HX_ARRAY_AT(image, HxMemberInfo, 0);
  return (int)HX_ARRAY_COUNT(image) + m->age + HX_API_COUNT;
}
