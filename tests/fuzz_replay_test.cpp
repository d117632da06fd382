// Replays every stored fuzz input (seeds and regressions) through its target,
// so that each platform runs what the fuzzers found.
#include <gtest/gtest.h>

#include "foundation/util.h"
#include "fuzz.h"

HX_FUZZ_ENTRY(ws_frames);
HX_FUZZ_ENTRY(ws_request);
HX_FUZZ_ENTRY(ws_response);
HX_FUZZ_ENTRY(pe);
HX_FUZZ_ENTRY(ini);
HX_FUZZ_ENTRY(account);
HX_FUZZ_ENTRY(intake);
HX_FUZZ_ENTRY(init_json);
HX_FUZZ_ENTRY(cq);
HX_FUZZ_ENTRY(milky_event);
HX_FUZZ_ENTRY(milky_action);

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

void replay(const char* corpus, Entry entry) {
  std::string dir = hx_path_join(hx_path_join(std::string(HX_SOURCE_DIR) + "/fuzz", "corpus"), corpus);
  int inputs = 0;
  for (const HxDirEntry& e : hx_list_dir(dir)) {
    if (e.isDir) continue;
    std::optional<std::string> data = hx_read_file(hx_path_join(dir, e.name));
    ASSERT_TRUE(data) << e.name;
    SCOPED_TRACE(e.name);
    entry(reinterpret_cast<const std::uint8_t*>(data->data()), data->size());
    ++inputs;
  }
  EXPECT_GT(inputs, 0) << "no corpus in " << dir;
}

TEST(FuzzReplay, WsFrames) { replay("ws_frames", fuzz_ws_frames); }
TEST(FuzzReplay, WsRequest) { replay("ws_request", fuzz_ws_request); }
TEST(FuzzReplay, WsResponse) { replay("ws_response", fuzz_ws_response); }
TEST(FuzzReplay, Pe) { replay("pe", fuzz_pe); }
TEST(FuzzReplay, Ini) { replay("ini", fuzz_ini); }
TEST(FuzzReplay, Account) { replay("account", fuzz_account); }
TEST(FuzzReplay, Cq) { replay("cq", fuzz_cq); }
TEST(FuzzReplay, MilkyEvent) { replay("milky_event", fuzz_milky_event); }
TEST(FuzzReplay, MilkyAction) { replay("milky_action", fuzz_milky_action); }
TEST(FuzzReplay, Intake) { replay("intake", fuzz_intake); }
TEST(FuzzReplay, InitJson) { replay("init_json", fuzz_init_json); }

}  // namespace
