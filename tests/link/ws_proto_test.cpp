// WebSocket bytes: handshakes, frame headers and the frame reader.
#include <gtest/gtest.h>

#include <cstring>

#include "link/ws_proto.h"

namespace {

std::string frame(std::uint8_t first_byte, std::uint64_t len, const std::string& payload, bool masked = false,
                  std::uint8_t len7_override = 0) {
  std::uint8_t hdr[14];
  std::uint8_t key[4] = {0x12, 0x34, 0x56, 0x78};
  std::size_t h = ws_frame_header(first_byte & 0x0F, len, masked ? key : nullptr, hdr);
  hdr[0] = first_byte;
  if (len7_override) hdr[1] = static_cast<std::uint8_t>((hdr[1] & 0x80) | len7_override);
  std::string out(reinterpret_cast<char*>(hdr), h);
  std::string body = payload;
  if (masked) ws_mask(body.data(), body.size(), key);
  return out + body;
}
std::string text(const std::string& p, bool fin = true, bool masked = false) {
  return frame(static_cast<std::uint8_t>((fin ? 0x80 : 0) | WS_TEXT), p.size(), p, masked);
}
std::string cont(const std::string& p, bool fin) {
  return frame(static_cast<std::uint8_t>((fin ? 0x80 : 0) | WS_CONT), p.size(), p);
}

struct Recorder : WsEvents {
  std::vector<std::string> messages, pings;
  void on_message(const char* data, std::size_t len) override {
    EXPECT_EQ(data[len], '\0');
    messages.emplace_back(data, len);
  }
  void on_ping(const char* p, std::size_t len) override { pings.emplace_back(p, len); }
};

// Feeds a byte stream in pieces of `chunk` bytes (0: all at once).
WsReader::Result feed(const std::string& bytes, Recorder& r, std::size_t chunk = 0) {
  WsReader reader;
  WsReader::Result res = WsReader::Result::more;
  std::size_t step = chunk ? chunk : bytes.size();
  for (std::size_t at = 0; at < bytes.size() && res == WsReader::Result::more; at += step) {
    std::size_t n = std::min(step, bytes.size() - at);
    std::size_t room;
    char* p = reader.space(n, &room);
    std::memcpy(p, bytes.data() + at, n);
    reader.commit(n);
    res = reader.process(r);
  }
  return res;
}

TEST(WsProto, Sha1AndAcceptKey) {
  std::uint8_t d[20];
  sha1_block("abc", d);
  EXPECT_EQ(b64_encode(d, 20), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
  sha1_block("", d);
  EXPECT_EQ(b64_encode(d, 20), "2jmj7l5rSw0yVb/vlWAYkK/YBwk=");
  sha1_block(std::string(1000, 'a'), d);  // several blocks and a two-block tail
  EXPECT_EQ(b64_encode(d, 20), "KR6abGaZSUm1e6XmUDYemPw2sbo=");
  EXPECT_EQ(ws_accept_key("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");  // the example of RFC 6455
}

TEST(WsProto, ClientRequestText) {
  EXPECT_EQ(ws_client_request("/", "127.0.0.1", 6700, "a2V5", ""),
            "GET / HTTP/1.1\r\nHost: 127.0.0.1:6700\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: a2V5\r\nSec-WebSocket-Version: 13\r\n\r\n");
  EXPECT_EQ(ws_client_request("/event", "h", 1, "k", "tok"),
            "GET /event HTTP/1.1\r\nHost: h:1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: k\r\nSec-WebSocket-Version: 13\r\nAuthorization: Bearer tok\r\n\r\n");
  EXPECT_TRUE(ws_response_ok("HTTP/1.1 101 Switching Protocols\r\nSec-WebSocket-Accept: wrong\r\n\r\n"));
  EXPECT_FALSE(ws_response_ok("HTTP/1.1 403 Forbidden\r\n\r\n"));
}

TEST(WsProto, ServerRequestVerdicts) {
  const std::string key = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
  using V = WsRequestVerdict;
  struct Case {
    const char* name;
    std::string head, token;
    V verdict;
  } cases[] = {
      {"plain GET", "GET / HTTP/1.1\r\nHost: x\r\n" + key + "\r\n", "", V::upgrade},
      {"lower case", "get /x HTTP/1.1\r\nsec-websocket-key: abc\r\n\r\n", "", V::upgrade},
      {"POST", "POST / HTTP/1.1\r\n" + key + "\r\n", "", V::drop},
      {"no key", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", "", V::drop},
      {"empty key", "GET / HTTP/1.1\r\nSec-WebSocket-Key:   \r\n\r\n", "", V::drop},
      {"key not at line start", "GET / HTTP/1.1\r\nX-Sec-WebSocket-Key: a\r\n\r\n", "", V::drop},
      {"long method", "GETGETGETGETGETGET / HTTP/1.1\r\n" + key + "\r\n", "", V::drop},
      {"token in query", "GET /?access_token=s3cret HTTP/1.1\r\n" + key + "\r\n", "s3cret", V::upgrade},
      {"token as later parameter", "GET /ws?a=1&access_token=s3cret&b=2 HTTP/1.1\r\n" + key + "\r\n", "s3cret",
       V::upgrade},
      {"token in header", "GET / HTTP/1.1\r\n" + key + "Authorization: Bearer s3cret\r\n\r\n", "s3cret", V::upgrade},
      {"no token", "GET / HTTP/1.1\r\n" + key + "\r\n", "s3cret", V::forbidden},
      {"wrong token", "GET /?access_token=nope HTTP/1.1\r\n" + key + "Authorization: Bearer nope\r\n\r\n", "s3cret",
       V::forbidden},
      {"token only a prefix", "GET /?access_token=s3cretX HTTP/1.1\r\n" + key + "Authorization: Bearer s3cretX\r\n\r\n",
       "s3cret", V::forbidden},
      {"other parameter", "GET /?my_access_token=s3cret HTTP/1.1\r\n" + key + "\r\n", "s3cret", V::forbidden},
      {"empty", "", "", V::drop},
  };
  for (const auto& c : cases) {
    WsRequest req;
    EXPECT_EQ(ws_parse_request(c.head, c.token, &req), c.verdict) << c.name;
  }
  WsRequest req;
  ASSERT_EQ(ws_parse_request("GET /p?q HTTP/1.1\r\n" + key + "\r\n", "", &req), V::upgrade);
  EXPECT_EQ(req.method, "GET");
  EXPECT_EQ(req.target, "/p?q");
  EXPECT_EQ(req.key, "dGhlIHNhbXBsZSBub25jZQ==");
  EXPECT_EQ(ws_server_response(req.key),
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
}

TEST(WsProto, FrameHeaderLengthForms) {
  struct Case {
    std::uint64_t len;
    std::size_t size;
    std::uint8_t second;
  } cases[] = {{0, 2, 0}, {125, 2, 125}, {126, 4, 126}, {65535, 4, 126}, {65536, 10, 127}, {4194304, 10, 127}};
  for (const auto& c : cases) {
    std::uint8_t h[14];
    ASSERT_EQ(ws_frame_header(WS_TEXT, c.len, nullptr, h), c.size) << c.len;
    EXPECT_EQ(h[0], 0x81);
    EXPECT_EQ(h[1], c.second) << c.len;
    std::uint64_t back = c.size == 2 ? h[1] : 0;
    for (std::size_t i = 2; i < c.size; ++i) back = back << 8 | h[i];
    EXPECT_EQ(back, c.len);
  }
  std::uint8_t key[4] = {1, 2, 3, 4}, h[14];
  ASSERT_EQ(ws_frame_header(WS_PING, 3, key, h), 6u);
  EXPECT_EQ(h[1], 0x83);
  EXPECT_EQ(std::memcmp(h + 2, key, 4), 0);
}

TEST(WsReader, DeliversMessagesWhateverTheChunking) {
  const std::string big(70000, 'b');
  std::string stream = text("one") + text("masked", true, true) + text("frag", false) + cont("men", false) +
                       cont("ted", true) + text("", true) + text(big) + text("partial", false) + text("fresh");
  for (std::size_t chunk : {0, 1, 3, 4096}) {
    Recorder r;
    EXPECT_EQ(feed(stream, r, chunk), WsReader::Result::more) << chunk;
    EXPECT_EQ(r.messages, (std::vector<std::string>{"one", "masked", "fragmented", big, "fresh"})) << chunk;
  }
}

TEST(WsReader, ControlFrames) {
  struct Case {
    const char* name;
    std::string bytes;
    WsReader::Result result;
    std::vector<std::string> pings;
  } cases[] = {
      {"ping with payload", frame(0x89, 3, "abc"), WsReader::Result::more, {"abc"}},
      {"masked ping", frame(0x89, 3, "xyz", true), WsReader::Result::more, {"xyz"}},
      {"126-byte ping", frame(0x89, 126, std::string(126, 'p')), WsReader::Result::violation, {}},
      {"fragmented ping", frame(0x09, 1, "p"), WsReader::Result::violation, {}},
      {"close", frame(0x88, 0, "") + text("after"), WsReader::Result::closed, {}},
      {"pong ignored", frame(0x8A, 2, "hi"), WsReader::Result::more, {}},
      {"opcode 3 dropped", frame(0x83, 2, "no"), WsReader::Result::more, {}},
      {"opcode 11 ignored", frame(0x8B, 0, ""), WsReader::Result::more, {}},
  };
  for (const auto& c : cases) {
    Recorder r;
    EXPECT_EQ(feed(c.bytes, r), c.result) << c.name;
    EXPECT_EQ(r.pings, c.pings) << c.name;
    EXPECT_TRUE(r.messages.empty()) << c.name;
  }
}

TEST(WsReader, SizeLimits) {
  Recorder r;
  std::string max(WS_MAX_MESSAGE - 1, 'm');
  EXPECT_EQ(feed(text(max), r, 65536), WsReader::Result::more);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].size(), WS_MAX_MESSAGE - 1);

  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"frame announcing 4,194,305 bytes", frame(0x81, WS_MAX_MESSAGE + 1, "")},
      {"frame announcing 2^64-1 bytes", frame(0x81, ~0ull, "")},
      {"message of 4,194,304 bytes", text(std::string(WS_MAX_MESSAGE, 'x'))},
      {"fragments adding up past the limit",
       text(std::string(WS_MAX_MESSAGE / 2, 'x'), false) + cont(std::string(WS_MAX_MESSAGE / 2, 'y'), true)},
  };
  for (const auto& c : cases) {
    Recorder rec;
    EXPECT_EQ(feed(c.bytes, rec, 65536), WsReader::Result::violation) << c.name;
    EXPECT_TRUE(rec.messages.empty()) << c.name;
  }
}

}  // namespace
