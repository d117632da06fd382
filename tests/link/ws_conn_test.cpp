// The WebSocket client and server over real sockets on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "link/ws.h"
#include "link/ws_proto.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/ws_helpers.h"

namespace {

class Ws : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(hx_ws_global_init()); }
  void TearDown() override {
    if (server) {
      EXPECT_EQ(hx_ws_server_stop(server), 0);
    }
    // Every thread of the transport ends before the next test (or the exit).
    for (int i = 0; i < 1000 * kTimeoutScale && hx_ws_live_threads() > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(hx_ws_live_threads(), 0);
  }
  void start_server(const char* token = "") {
    server = hx_ws_server_start("127.0.0.1", 0, token, srv.callbacks());
    ASSERT_NE(server, nullptr);
    port = hx_ws_server_port(server);
  }
  // Our client connected to our server; returns the client's connection.
  ws_conn* connect_client(const char* token = "") {
    EXPECT_TRUE(hx_ws_client_start("127.0.0.1", port, "/", token, cli.callbacks()));
    EXPECT_TRUE(cli.wait_open());
    EXPECT_TRUE(srv.wait_open());
    return cli.conn();
  }

  WsRecorder srv, cli;
  ws_server* server = nullptr;
  int port = 0;
};

TEST_F(Ws, EchoesMessagesOfEverySizeClass) {
  srv.echo = true;
  start_server();
  ws_conn* c = connect_client();
  ASSERT_NE(c, nullptr);
  std::vector<std::string> sent;
  for (std::size_t size : {1u, 125u, 126u, 65535u, 65536u, (4u << 20) - 1}) {
    std::string m(size, 'a');
    for (std::size_t i = 0; i < size; i += 997) m[i] = static_cast<char>('a' + i % 26);
    std::size_t header = size <= 125 ? 6 : size <= 65535 ? 8 : 14;  // masked from the client
    EXPECT_EQ(hx_ws_send(c, m.data(), m.size()), header + size) << size;
    sent.push_back(m);
  }
  ASSERT_TRUE(cli.wait_messages(sent.size(), 20000));
  EXPECT_EQ(srv.messages(), sent);
  EXPECT_EQ(cli.messages(), sent);
  EXPECT_EQ(hx_ws_send(c, "", 0), 6u);  // an empty message goes out but is not delivered
  EXPECT_STREQ(hx_ws_peer(c), ("127.0.0.1:" + std::to_string(port)).c_str());
  EXPECT_STREQ(hx_ws_peer(nullptr), "");
}

TEST_F(Ws, TokenByQueryOrHeaderElseForbidden) {
  start_server("s3cret");
  {
    RawPeer p(port);
    EXPECT_TRUE(p.upgrade("/?access_token=s3cret"));
  }
  {
    RawPeer p(port);
    EXPECT_TRUE(p.upgrade("/", "Authorization: Bearer s3cret\r\n"));
  }
  {
    RawPeer p(port);
    p.send("GET / HTTP/1.1\r\nSec-WebSocket-Key: a2V5\r\n\r\n");
    EXPECT_EQ(p.read(1000), WS_FORBIDDEN);
  }
  ws_conn* c = connect_client("s3cret");  // our client sends the header
  EXPECT_TRUE(hx_ws_is_open(c));
}

TEST_F(Ws, BadRequestsAreClosedWithoutReply) {
  start_server();
  for (const char* req : {"POST / HTTP/1.1\r\nSec-WebSocket-Key: a2V5\r\n\r\n", "GET / HTTP/1.1\r\nHost: x\r\n\r\n"}) {
    RawPeer p(port);
    p.send(req);
    EXPECT_TRUE(p.at_eof()) << req;
  }
  EXPECT_EQ(srv.opens(), 0);
}

TEST_F(Ws, ClientAcceptsAny101) {
  std::uint16_t fake_port = 0;
  SysSocket listener = sys_tcp_listen("127.0.0.1", 0, &fake_port);
  ASSERT_TRUE(listener.valid());
  ASSERT_TRUE(hx_ws_client_start("127.0.0.1", fake_port, "/x", "tok", cli.callbacks()));
  SysSocket s = sys_tcp_accept(listener, nullptr);
  std::string head;
  char c;
  while (head.find("\r\n\r\n") == std::string::npos && sys_tcp_recv(s, &c, 1) == 1) head += c;
  EXPECT_EQ(head.rfind("GET /x HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(fake_port) + "\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Authorization: Bearer tok\r\n"), std::string::npos);
  std::string reply = "HTTP/1.1 101 OK\r\nSec-WebSocket-Accept: not-the-right-key\r\n\r\n";
  sys_tcp_send(s, reply.data(), reply.size());
  EXPECT_TRUE(cli.wait_open());
}

TEST_F(Ws, PingIsAnsweredWithItsPayload) {
  start_server();
  RawPeer p(port);
  ASSERT_TRUE(p.upgrade());
  p.send(ws_client_frame(0x89, "abc"));
  EXPECT_EQ(p.read(5), std::string("\x8A\x03"
                                   "abc",
                                   5));  // unmasked from the server
}

TEST_F(Ws, ProtocolViolationsCloseTheConnection) {
  struct Case {
    const char* name;
    std::string frame;
  } cases[] = {
      {"126-byte ping", ws_client_frame(0x89, std::string(126, 'p'))},
      {"fragmented ping", ws_client_frame(0x09, "p")},
      {"frame announcing 4,194,305 bytes", ws_client_frame(0x81, "", WS_MAX_MESSAGE + 1)},
      {"length near 2^64", ws_client_frame(0x81, "", ~0ull - 1)},
  };
  start_server();
  for (const auto& c : cases) {
    RawPeer p(port);
    ASSERT_TRUE(p.upgrade()) << c.name;
    int closes = srv.closes();
    p.send(c.frame);
    for (int i = 0; i < 500 && srv.closes() == closes; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(srv.closes(), closes + 1) << c.name;
  }
}

TEST_F(Ws, PeerCloseEndsOnceWithoutAReply) {
  start_server();
  RawPeer p(port);
  ASSERT_TRUE(p.upgrade());
  // Half a message first: its buffer must go with the connection.
  p.send(ws_client_frame(0x01, std::string(1000, 'h')));
  p.send(ws_client_frame(0x88, ""));
  ASSERT_TRUE(srv.wait_close());
  EXPECT_TRUE(srv.messages().empty());
  EXPECT_FALSE(hx_ws_is_open(srv.conn()));
  EXPECT_EQ(hx_ws_send_text(srv.conn(), "too late"), 0u);  // the server still holds a reference
  EXPECT_TRUE(hx_ws_join(srv.conn(), 1000));
  EXPECT_EQ(hx_ws_server_stop(server), 0);
  server = nullptr;
  EXPECT_TRUE(p.at_eof()) << "no close frame is sent back";
  EXPECT_EQ(srv.closes(), 1);
}

TEST_F(Ws, LocalCloseSendsACloseFrameAndEnds) {
  start_server();
  ws_conn* c = hx_ws_addref(connect_client());  // the connection may end while we still use it
  hx_ws_close(c);
  EXPECT_TRUE(srv.wait_close());
  EXPECT_TRUE(cli.wait_close());
  EXPECT_EQ(cli.closes(), 1);
  EXPECT_TRUE(hx_ws_join(c, 5000));
  EXPECT_EQ(hx_ws_send_text(c, "after the end"), 0u);
  hx_ws_release(c);
}

TEST_F(Ws, SendsFromManyThreadsStayWhole) {
  start_server();
  ws_conn* c = hx_ws_addref(connect_client());
  constexpr int kThreads = 4, kEach = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([c, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string m = "t" + std::to_string(t) + ":" + std::string(static_cast<std::size_t>(i * 37 % 300), 'x');
        hx_ws_send(c, m.data(), m.size());
      }
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_TRUE(srv.wait_messages(kThreads * kEach, 20000));
  int per[kThreads] = {};
  for (const auto& m : srv.messages()) {
    ASSERT_EQ(m[0], 't');
    int t = m[1] - '0';
    ASSERT_EQ(m.size(), 3 + static_cast<std::size_t>(per[t] * 37 % 300)) << "frames arrived whole and in order";
    ++per[t];
  }
  hx_ws_release(c);
}

TEST_F(Ws, SeventeenthConnectionIsRefusedUntilOneEnds) {
  start_server();
  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < WS_MAX_SERVER_CONNS; ++i) {
    peers.push_back(std::make_unique<RawPeer>(port));
    ASSERT_TRUE(peers.back()->upgrade()) << i;
  }
  {
    RawPeer extra(port);
    extra.send("GET / HTTP/1.1\r\nSec-WebSocket-Key: a2V5\r\n\r\n");
    EXPECT_EQ(extra.read(1000), WS_BUSY);
  }
  peers[0]->send(ws_client_frame(0x88, ""));
  ASSERT_TRUE(srv.wait_close());
  RawPeer late(port);
  EXPECT_TRUE(late.upgrade());
  // Stopping the server closes every connection it accepted.
  EXPECT_EQ(hx_ws_server_stop(server), 0);
  server = nullptr;
  for (std::size_t i = 1; i < peers.size(); ++i) EXPECT_EQ(peers[i]->read(2), std::string("\x88\x00", 2)) << i;
  EXPECT_EQ(late.read(2), std::string("\x88\x00", 2));
}

TEST_F(Ws, UnreachableServerReportsOneFailure) {
  std::uint16_t free_port = 0;
  { SysSocket probe = sys_tcp_listen("127.0.0.1", 0, &free_port); }
  ASSERT_TRUE(hx_ws_client_start(nullptr, free_port, nullptr, nullptr, cli.callbacks()));
  EXPECT_TRUE(cli.wait_failure());
  hold_for(200);
  EXPECT_EQ(cli.failures(), 1);
  EXPECT_EQ(cli.opens(), 0);
  EXPECT_EQ(cli.closes(), 0);
  EXPECT_FALSE(hx_ws_client_start("127.0.0.1", 0, "/", "", cli.callbacks()));
}

TEST_F(Ws, AServerThatNeverAnswersTheHandshakeFailsTheClientInTime) {
  std::uint16_t silent_port = 0;
  SysSocket silent = sys_tcp_listen("127.0.0.1", 0, &silent_port);  // connects complete; nobody answers
  ASSERT_TRUE(silent.valid());
  ASSERT_TRUE(hx_ws_client_start(nullptr, silent_port, nullptr, nullptr, cli.callbacks()));
  EXPECT_TRUE(cli.wait_failure(WS_HANDSHAKE_TIMEOUT_MS + 3000));
  EXPECT_EQ(cli.opens(), 0);
}

TEST_F(Ws, SlowHandshakesHoldNobodyUp) {
  start_server();
  std::vector<std::unique_ptr<RawPeer>> stalled;
  for (int i = 0; i < 20; ++i) {
    stalled.push_back(std::make_unique<RawPeer>(port));
    ASSERT_TRUE(stalled.back()->send("GET / HTTP/1.1\r\n"));
  }
  // One more trickles a byte every 300 ms, which a limit per read would never cut off.
  RawPeer trickler(port);
  std::atomic<bool> cut_off{false};
  std::thread drip([&] {
    for (int i = 0; i < 60 && !cut_off; ++i) {
      if (!trickler.send("X")) cut_off = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  ASSERT_TRUE(hx_ws_client_start("127.0.0.1", port, "/", "", cli.callbacks()));
  EXPECT_TRUE(cli.wait_open(1000)) << "a good client waited behind slow handshakes";
  drip.join();
  EXPECT_TRUE(cut_off) << "the trickling handshake ran past its deadline";
  for (auto& p : stalled) EXPECT_TRUE(p->at_eof(WS_HANDSHAKE_TIMEOUT_MS)) << "a stalled handshake was never closed";
}

}  // namespace
