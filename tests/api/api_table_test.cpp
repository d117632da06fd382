// The API table: lookups, the forms plugins receive, trampolines and tracing.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "api/api.h"
#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "plugin/plugin.h"
#include "sys/process.h"

namespace {

class ApiTable : public ::testing::Test {
 protected:
  void SetUp() override {
    hx_log_init(5000);
    std::memset(&g_cfg, 0, sizeof g_cfg);
  }
  void TearDown() override {
    hx_pl_set_current(nullptr);
    hx_log_shutdown();
  }
  static int count_logged(const std::string& text) {
    int n = 0;
    hx_log_entry e;
    for (int i = 0; hx_log_at(i, &e); ++i) n += std::string(e.text).find(text) != std::string::npos;
    return n;
  }
  template <class Fn>
  static Fn entry(int i) {
    return reinterpret_cast<Fn>(api_build_table().addresses[i]);
  }
};

TEST_F(ApiTable, LookupsByGbkAndUtf8Names) {
  void* want = reinterpret_cast<void*>(&api_send_group_msg);
  EXPECT_EQ(api_lookup("发送群消息"), want);
  EXPECT_EQ(api_lookup(hx_utf8_to_gbk("发送群消息")->c_str()), want);
  struct Case {
    const char* name;
    int same_as;
  } cases[] = {{"取插件数据目录9", 14}, {"获取推荐好友卡片", 44}, {"撤回消息_私聊本身", 10}};
  for (const auto& c : cases) EXPECT_EQ(api_lookup(c.name), g_apiTable[c.same_as].function) << c.name;
  EXPECT_EQ(api_lookup(nullptr), nullptr);
  EXPECT_EQ(api_lookup("不存在的接口"), nullptr);
  EXPECT_EQ(api_get_api_addr("取框架版本"), reinterpret_cast<std::uintptr_t>(&api_get_frame_version));
}

TEST_F(ApiTable, TableShape) {
  std::set<std::string> names;
  for (int i = 0; i < HX_API_COUNT; ++i) {
    names.insert(g_apiTable[i].name);
    EXPECT_EQ(g_apiTable[i].perm, i < 105 ? 1 : 0) << i;
    EXPECT_NE(g_apiTable[i].function, nullptr) << i;
  }
  EXPECT_EQ(names.size(), 125u) << "every name is unique";
  EXPECT_STREQ(g_apiTable[0].name, "输出日志");
  EXPECT_STREQ(g_apiTable[105].name, "取API函数地址");
  EXPECT_STREQ(g_apiTable[124].name, "置应用权限申请_多个");
}

TEST_F(ApiTable, AddressLogAndNullName) {
  g_cfg.logApi = 1;
  EXPECT_EQ(api_get_api_addr(nullptr), 0u);
  EXPECT_EQ(count_logged("取API函数地址((空)) -> 未命中"), 1);
  api_get_api_addr("发送群消息");
  EXPECT_EQ(count_logged("取API函数地址(发送群消息) -> 命中"), 1);
}

TEST_F(ApiTable, MissesFromAPluginAreLoggedEightyTimes) {
  api_lookup("nope");  // no plugin current: not logged
  EXPECT_EQ(count_logged("插件按名取 API 地址失败"), 0);
  HxPlugin demo;
  demo.name = "demo";
  hx_pl_set_current(&demo);
  api_lookup(
      "\xB2\xE5"
      "x");  // GBK bytes of 插 then x
  EXPECT_EQ(count_logged("插件按名取 API 地址失败：[插x]（原始字节 B2 E5 78 00）"), 1);
  for (int i = 0; i < 100; ++i) api_lookup("nope");
  EXPECT_EQ(count_logged("插件按名取 API 地址失败"), 80);
}

TEST_F(ApiTable, ArraysAndImagesAgree) {
  HxApiTriple t = api_build_table();
  ASSERT_EQ(t.count, 125);
  EXPECT_EQ(std::string(t.names[1]), *hx_utf8_to_gbk("发送群消息"));
  HxEplArrays e = api_epl_arrays();
  ASSERT_NE(e.names, nullptr);
  auto* nh = static_cast<std::uint32_t*>(e.names);
  auto* ah = static_cast<std::uint32_t*>(e.addresses);
  EXPECT_EQ(nh[0], 1u);
  EXPECT_EQ(nh[1], 125u);
  EXPECT_EQ(ah[0], 1u);
  EXPECT_EQ(ah[1], 125u);
  auto* names = reinterpret_cast<const char* const*>(nh + 2);
  auto* addrs = reinterpret_cast<void* const*>(ah + 2);
  for (int i = 0; i < 125; ++i) {
    EXPECT_EQ(names[i], t.names[i]) << i;
    EXPECT_EQ(addrs[i], t.addresses[i]) << i;
    EXPECT_STREQ(api_name_at(t.addresses[i]), g_apiTable[i].name) << "every address handed out is known, " << i;
  }
  EXPECT_EQ(api_name_at(reinterpret_cast<void*>(&api_send_group_msg)), nullptr);
}

TEST_F(ApiTable, ApidataJson) {
  const bool as_string = sys_getenv("HX_APIDATA_STR").value_or("").rfind('1', 0) == 0;
  const bool wrapped = sys_getenv("HX_APIDATA_WRAP").value_or("").rfind('1', 0) == 0;
  const std::string& json = api_build_apidata_json();
  ASSERT_FALSE(json.empty());
  EXPECT_EQ(json.rfind(wrapped ? "{\"data\":{\"" : "{\"", 0), 0u) << json.substr(0, 40);
  std::string first = "\"" + *hx_utf8_to_gbk("输出日志") + "\":";
  size_t at = json.find(first);
  ASSERT_NE(at, std::string::npos);
  std::string value = json.substr(at + first.size(), json.find(',', at) - at - first.size());
  std::string digits = std::to_string(reinterpret_cast<std::uintptr_t>(api_build_table().addresses[0]));
  EXPECT_EQ(value, as_string ? "\"" + digits + "\"" : digits);
  EXPECT_EQ(std::count(json.begin(), json.end(), ':'), 125 + (wrapped ? 1 : 0));
}

TEST_F(ApiTable, TracingThroughTheTrampolines) {
  using NoArgs = hx_text(HX_STDCALL*)();
  long before = api_trace_total();
  EXPECT_STREQ(entry<NoArgs>(30)(), "8.0");     // 取框架版本
  EXPECT_STREQ(entry<NoArgs>(109)(), "1.1.7");  // 取SDK版本
  entry<NoArgs>(31)();                          // 取插件文件名
  EXPECT_EQ(api_trace_total() - before, 3);
  EXPECT_EQ(api_trace_recent(512).rfind("取插件文件名 -> 取SDK版本 -> 取框架版本", 0), 0u);
  EXPECT_EQ(api_trace_recent(0), "");
  // A call that logged nothing is named by the next one, or by a flush.
  g_cfg.logApi = 1;
  entry<NoArgs>(30)();
  entry<NoArgs>(109)();
  EXPECT_EQ(count_logged("调用 取框架版本"), 1);
  api_trace_flush();
  EXPECT_EQ(count_logged("调用 取SDK版本"), 1);
  api_trace_flush();
  EXPECT_EQ(count_logged("调用 取SDK版本"), 1);
  api_trace_dump();
  std::string heading = "=== API 调用汇总：共 " + std::to_string(api_trace_total()) + " 次调用，涉及 3 个 API ===";
  EXPECT_EQ(count_logged(heading), 1);
  std::string line;
  sb_printf(line, "    %-28s x%d", "取框架版本", 2);  // padded by bytes, as the summary is
  EXPECT_EQ(count_logged(line), 1);
}

#if HX_SDK_32BIT && !defined(_WIN32)
// Calls `fn` with `words` zero words pushed, as a stdcall caller does, and
// returns how far the stack pointer moved across the call (0 when the callee
// removed exactly its arguments).
int call_with_zero_block(void* fn, int words) {
  int delta;
  asm volatile(
      "movl %1, %%edx\n\t"
      "movl %2, %%ecx\n\t"
      "movl %%esp, %%esi\n\t"
      "andl $-16, %%esp\n\t"
      "leal (,%%ecx,4), %%eax\n\t"
      "negl %%eax\n\t"
      "andl $15, %%eax\n\t"
      "subl %%eax, %%esp\n\t"
      "movl %%esp, %%edi\n"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl $0\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "call *%%edx\n\t"
      "movl %%esp, %%eax\n\t"
      "subl %%edi, %%eax\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(delta)
      : "m"(fn), "m"(words)
      : "ecx", "edx", "esi", "edi", "memory", "cc");
  return delta;
}

TEST_F(ApiTable, EveryEntryBalancesTheStackThroughItsTrampoline) {
  HxApiTriple t = api_build_table();
  for (int i = 0; i < HX_API_COUNT; ++i) {
    const auto* code = static_cast<const unsigned char*>(t.addresses[i]);
    ASSERT_EQ(code[0], 0x68) << "a 20-byte trampoline, entry " << i;
    ASSERT_EQ(code[19], 0xE0);
    long before = api_trace_total();
    EXPECT_EQ(call_with_zero_block(t.addresses[i], g_apiTable[i].argBytes / 4), 0) << g_apiTable[i].name;
    EXPECT_EQ(api_trace_total() - before, 1) << g_apiTable[i].name;
  }
}
#endif

}  // namespace
