// A small HTTP/1.0 server on 127.0.0.1 (port chosen by the system) that
// answers each path with canned bytes, for download tests on every target.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "sys/net.h"

class HttpFixture {
 public:
  HttpFixture();
  ~HttpFixture();

  // The whole response (status line, headers, body) for a path such as "/a".
  void route(const std::string& path, std::string raw_response);
  // A 200 response with the given body.
  static std::string ok(const std::string& body);

  std::string url(const std::string& path) const;
  bool listening() const { return listener_.valid(); }
  // The User-Agent header of the last request.
  std::string last_agent();
  // The last request whole: request line, headers and body.
  std::string last_request();

 private:
  void serve();

  SysSocket listener_;
  std::uint16_t port_ = 0;
  std::mutex mu_;
  std::map<std::string, std::string> routes_;  // guarded by mu_
  std::string lastAgent_;                      // guarded by mu_
  std::string lastRequest_;                    // guarded by mu_
  std::thread thread_;
};
