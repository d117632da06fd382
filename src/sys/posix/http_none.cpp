// Builds without an HTTP client library.
#include "sys/http.h"

SysHttpStatus sys_http_get(const SysHttpRequest&, std::string& body) {
  body.clear();
  return SysHttpStatus::unavailable;
}

SysHttpStatus sys_http_post(const SysHttpRequest&, std::string& body) {
  body.clear();
  return SysHttpStatus::unavailable;
}
