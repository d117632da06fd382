// Our WebSocket client and server against peers that no one here wrote:
// Python's websockets and Node's ws (tools/ws_peers).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "foundation/util.h"
#include "link/ws.h"
#include "support/host_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/ws_helpers.h"

namespace {

struct Peer {
  const char* name;
  std::string exe;
  std::string script;
  std::vector<std::pair<std::string, std::string>> env;
};

std::vector<Peer> peers() {
  const std::string tools = std::string(HX_SOURCE_DIR) + "/tools/ws_peers/";
  return {
      {"python websockets", "/usr/bin/python3", tools + "py_peer.py", {}},
      {"node ws",
       HX_NODE_EXE,
       tools + "node_peer.cjs",
       {{"NODE_PATH", std::string(HX_SOURCE_DIR) + "/.deps/node_modules"}}},
  };
}

class WsInterop : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (HX_SEP == '\\') GTEST_SKIP() << "the peers are Linux programs; a Windows test cannot start them here";
    peer = peers()[static_cast<std::size_t>(GetParam())];
    if (peer.exe.empty() || !hx_file_exists(peer.exe)) GTEST_SKIP() << peer.name << ": interpreter not installed";
    ASSERT_TRUE(hx_ws_global_init());
  }
  void TearDown() override {
    if (server) {
      EXPECT_EQ(hx_ws_server_stop(server), 0);
    }
    for (int i = 0; i < 1000 && hx_ws_live_threads() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Runs the peer as a client against our server and returns its report.
  std::string run_client(std::vector<std::string> args, int* code) {
    args.insert(args.begin(), {peer.script, "client"});
    ChildProcess p(peer.exe, args, "", peer.env);
    EXPECT_TRUE(p.wait_exit(code, 60000)) << p.output();
    return p.output();
  }
  void start_server(const char* token) {
    srv.echo = true;
    server = hx_ws_server_start("127.0.0.1", 0, token, srv.callbacks());
    ASSERT_NE(server, nullptr);
    url = "ws://127.0.0.1:" + std::to_string(hx_ws_server_port(server)) + "/";
  }
  // Starts the peer's server and returns its port (0 on failure).
  int start_peer_server(std::unique_ptr<ChildProcess>& p, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {peer.script, "server"};
    args.insert(args.end(), extra.begin(), extra.end());
    p = std::make_unique<ChildProcess>(peer.exe, args, "", peer.env);
    if (!p->wait_for("PORT ", 20000)) return 0;
    for (int i = 0; i < 100 && p->output().find('\n', p->output().find("PORT ")) == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return hx_to_int(hx_trim(p->output().substr(p->output().find("PORT ") + 5)), 0);
  }

  Peer peer;
  WsRecorder srv, cli;
  ws_server* server = nullptr;
  std::string url;
};

TEST_P(WsInterop, TheirClientAgainstOurServer) {
  start_server("");
  int code = -1;
  std::string report = run_client({url}, &code);
  EXPECT_EQ(code, 0) << report;
  EXPECT_EQ(report.find("FAIL"), std::string::npos) << report;
  for (const char* step :
       {"OK text 125", "OK binary 126", "OK text 65536", "OK binary 4194303", "OK fragmented", "OK ping", "OK close"}) {
    EXPECT_NE(report.find(step), std::string::npos) << step << "\n" << report;
  }
  EXPECT_TRUE(srv.wait_close());
}

TEST_P(WsInterop, TheirClientPresentsTheToken) {
  start_server("tok-123");
  struct Case {
    std::vector<std::string> args;
    const char* expect;
  } cases[] = {
      {{url + "?access_token=tok-123", "--expect-status", "101"}, "refused"},  // accepted: "refused" fails
      {{url, "--token", "tok-123", "--expect-status", "101"}, "refused"},
      {{url, "--expect-status", "403"}, "OK refused 403"},
      {{url, "--token", "wrong", "--expect-status", "403"}, "OK refused 403"},
  };
  for (const auto& c : cases) {
    int code = -1;
    std::string report = run_client(c.args, &code);
    if (std::string(c.expect) == "refused") {
      EXPECT_NE(report.find("FAIL refused: handshake accepted"), std::string::npos) << report;
    } else {
      EXPECT_EQ(code, 0) << report;
      EXPECT_NE(report.find(c.expect), std::string::npos) << report;
    }
  }
}

TEST_P(WsInterop, OurClientAgainstTheirServer) {
  std::unique_ptr<ChildProcess> p;
  int port = start_peer_server(p);
  ASSERT_GT(port, 0) << p->output();
  ASSERT_TRUE(hx_ws_client_start("127.0.0.1", port, "/", "", cli.callbacks()));
  ASSERT_TRUE(cli.wait_open(10000)) << p->output();
  ws_conn* c = hx_ws_addref(cli.conn());
  std::vector<std::string> want;
  for (std::size_t size : {0u, 125u, 126u, 65535u, 65536u, (4u << 20) - 1}) {
    std::string m(size, 'q');
    for (std::size_t i = 0; i < size; i += 101) m[i] = static_cast<char>('a' + i % 26);
    EXPECT_GT(hx_ws_send(c, m.data(), m.size()), 0u);
    if (size) want.push_back(m);  // an empty echo is not delivered
  }
  hx_ws_send_text(c, "!frag");
  want.push_back("abcdef");
  hx_ws_send_text(c, "!ping xyz");
  want.push_back("pong-ok xyz");
  ASSERT_TRUE(cli.wait_messages(want.size(), 30000)) << p->output();
  EXPECT_EQ(cli.messages(), want);
  hx_ws_send_text(c, "!close");
  EXPECT_TRUE(cli.wait_close());
  hx_ws_release(c);
}

TEST_P(WsInterop, OurClientSendsTheTokenInAHeader) {
  std::unique_ptr<ChildProcess> p;
  int port = start_peer_server(p, {"--token", "tok-9"});
  ASSERT_GT(port, 0) << p->output();
  WsRecorder refused;
  ASSERT_TRUE(hx_ws_client_start("127.0.0.1", port, "/", "", refused.callbacks()));
  ASSERT_TRUE(hx_ws_client_start("127.0.0.1", port, "/", "tok-9", cli.callbacks()));
  EXPECT_TRUE(cli.wait_open(10000)) << p->output();
  hold_for(300);
  EXPECT_EQ(refused.opens(), 0);
  hx_ws_send_text(cli.conn(), "!close");
  EXPECT_TRUE(cli.wait_close());
}

INSTANTIATE_TEST_SUITE_P(Peers, WsInterop, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "python" : "node"; });

}  // namespace
