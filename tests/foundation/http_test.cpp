// Downloading a URL into memory, against a local HTTP server.
#include <gtest/gtest.h>

#include "foundation/util.h"
#include "support/http_fixture.h"
#include "sys/http.h"

namespace {

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
#if !HX_HAVE_HTTP
    GTEST_SKIP() << "no HTTP client on this target";
#endif
    ASSERT_TRUE(server.listening());
  }
  HttpFixture server;
};

TEST_F(Download, ReturnsTheBodyWhateverTheStatus) {
  server.route("/file", HttpFixture::ok("hello body"));
  server.route("/missing", "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  EXPECT_EQ(hx_http_download(server.url("/file")), "hello body");
  EXPECT_EQ(server.last_agent(), "Tolvex/8.0");
  EXPECT_EQ(hx_http_download(server.url("/missing")), "not found");
}

TEST_F(Download, BinaryBodiesArriveWhole) {
  std::string body;
  for (int i = 0; i < 100000; ++i) body += static_cast<char>(i * 7);
  server.route("/bin", HttpFixture::ok(body));
  EXPECT_EQ(hx_http_download(server.url("/bin")), body);
}

TEST_F(Download, EmptyBodiesAndBadUrlsFail) {
  server.route("/empty", HttpFixture::ok(""));
  EXPECT_FALSE(hx_http_download(server.url("/empty")));
  EXPECT_FALSE(hx_http_download(""));
  EXPECT_FALSE(hx_http_download("http://127.0.0.1:1/nothing"));
}

SysHttpStatus post(const std::string& url, const std::string& body, std::string& out, std::size_t max = 0) {
  SysHttpRequest req;
  req.url = url;
  req.agent = "Tolvex/8.0";
  req.timeoutMs = 5000;
  req.maxBytes = max;
  req.body = body;
  req.headers = "Content-Type: application/json\r\nAuthorization: Bearer k";
  return sys_http_post(req, out);
}

TEST_F(Download, PostsCarryTheirBodyAndHeaders) {
  server.route("/api/x", HttpFixture::ok(R"({"status":"ok"})"));
  server.route("/moved", "HTTP/1.0 307 Temporary Redirect\r\nLocation: /api/x\r\nContent-Length: 0\r\n\r\n");
  server.route("/big", HttpFixture::ok(std::string(100, 'x')));
  std::string out;
  const std::string body = R"({"group_id":20001,"text":"你好"})";
  ASSERT_EQ(post(server.url("/api/x"), body, out), SysHttpStatus::ok);
  EXPECT_EQ(out, R"({"status":"ok"})");
  const std::string req = server.last_request();
  EXPECT_EQ(req.rfind("POST /api/x ", 0), 0u) << req;
  EXPECT_NE(req.find("Content-Type: application/json\r\n"), std::string::npos);
  EXPECT_NE(req.find("Authorization: Bearer k\r\n"), std::string::npos);
  EXPECT_EQ(req.substr(req.size() - body.size()), body);

  ASSERT_EQ(post(server.url("/moved"), body, out), SysHttpStatus::ok) << "redirects are followed";
  EXPECT_EQ(out, R"({"status":"ok"})");
  EXPECT_EQ(server.last_request().rfind("POST /api/x ", 0), 0u) << "still a POST";

  EXPECT_EQ(post(server.url("/big"), body, out, 99), SysHttpStatus::too_large);
  EXPECT_EQ(out, "");
  EXPECT_EQ(post(server.url("/big"), body, out, 100), SysHttpStatus::ok);
  EXPECT_EQ(post("http://127.0.0.1:1/api/x", body, out), SysHttpStatus::failed);
  // A connection kept from an earlier request is used again without harm.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(post(server.url("/api/x"), body, out), SysHttpStatus::ok);
}

}  // namespace
