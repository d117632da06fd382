// Blocking HTTP(S) requests into memory: libcurl on Linux, WinINet on
// Windows, unavailable on 32-bit Linux (no i386 libcurl on the build
// machines). Any thread may call them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct SysHttpRequest {
  std::string_view url;
  std::string_view agent;
  int timeoutMs = 15000;     // connect, send and receive, each (a POST: the whole exchange)
  std::size_t maxBytes = 0;  // a longer body fails the request; 0: no limit
  // POST only: the request body and extra header lines ("Name: value",
  // separated by "\r\n").
  std::string_view body;
  std::string_view headers;
};

enum class SysHttpStatus { ok, unavailable, failed, too_large };

// Fetches the URL with the system's proxy settings, no caching, redirects
// followed. The HTTP status code is not examined: whatever body arrives is
// returned. A transfer that breaks off keeps the bytes received so far.
SysHttpStatus sys_http_get(const SysHttpRequest& req, std::string& body);

// POSTs `req.body` the same way; the response body, whatever its status,
// only when it arrived whole. Connections are kept and reused by the
// calling thread.
SysHttpStatus sys_http_post(const SysHttpRequest& req, std::string& body);
