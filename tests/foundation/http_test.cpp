// Downloading a URL into memory, against a local HTTP server.
#include <gtest/gtest.h>

#include "foundation/util.h"
#include "support/http_fixture.h"

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

}  // namespace
