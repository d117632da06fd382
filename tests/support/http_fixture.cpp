#include "support/http_fixture.h"

HttpFixture::HttpFixture() {
  listener_ = sys_tcp_listen("127.0.0.1", 0, &port_);
  if (listener_.valid()) thread_ = std::thread([this] { serve(); });
}

HttpFixture::~HttpFixture() {
  sys_tcp_shutdown(listener_);
  {
    // Shutdown does not wake accept() everywhere; an empty connection does.
    SysSocket poke = sys_tcp_connect("127.0.0.1", port_);
  }
  if (thread_.joinable()) thread_.join();
}

void HttpFixture::route(const std::string& path, std::string raw_response) {
  std::lock_guard lock(mu_);
  routes_[path] = std::move(raw_response);
}

std::string HttpFixture::ok(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string HttpFixture::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string HttpFixture::last_request() {
  std::lock_guard lock(mu_);
  return lastRequest_;
}

std::string HttpFixture::last_agent() {
  std::lock_guard lock(mu_);
  return lastAgent_;
}

void HttpFixture::serve() {
  for (;;) {
    SysSocket c = sys_tcp_accept(listener_, nullptr);
    if (!c.valid()) return;
    std::string req;
    char buf[4096];
    while (req.find("\r\n\r\n") == std::string::npos) {
      long n = sys_tcp_recv(c, buf, sizeof buf);
      if (n <= 0) break;
      req.append(buf, static_cast<size_t>(n));
    }
    if (req.empty()) return;  // the wake-up connection of the destructor
    // A body (POST) is read whole before answering.
    const size_t head = req.find("\r\n\r\n");
    const size_t cl = req.find("Content-Length: ");
    if (head != std::string::npos && cl != std::string::npos && cl < head) {
      const size_t want = head + 4 + std::stoul(req.substr(cl + 16, req.find("\r\n", cl) - cl - 16));
      while (req.size() < want) {
        long n = sys_tcp_recv(c, buf, sizeof buf);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
    }
    size_t sp1 = req.find(' '), sp2 = req.find(' ', sp1 + 1);
    std::string path = sp1 == std::string::npos ? "" : req.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string response = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    {
      std::lock_guard lock(mu_);
      size_t ua = req.find("User-Agent: ");
      if (ua != std::string::npos) lastAgent_ = req.substr(ua + 12, req.find("\r\n", ua) - ua - 12);
      lastRequest_ = req;
      auto it = routes_.find(path);
      if (it != routes_.end()) response = it->second;
    }
    for (size_t put = 0; put < response.size();) {
      long n = sys_tcp_send(c, response.data() + put, response.size() - put);
      if (n <= 0) break;
      put += static_cast<size_t>(n);
    }
    sys_tcp_shutdown(c);
  }
}
