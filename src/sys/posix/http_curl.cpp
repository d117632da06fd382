// HTTP GET through libcurl.
#include <curl/curl.h>

#include <mutex>
#include <string>

#include "sys/http.h"

namespace {

struct Sink {
  std::string* body;
  std::size_t max;
  bool tooLarge = false;
};

size_t on_data(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  size_t n = size * count;
  if (sink->body->size() + n > sink->max) {
    sink->tooLarge = true;
    return 0;  // makes curl stop with a write error
  }
  sink->body->append(data, n);
  return n;
}

}  // namespace

SysHttpStatus sys_http_get(const SysHttpRequest& req, std::string& body) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  body.clear();
  CURL* curl = curl_easy_init();
  if (!curl) return SysHttpStatus::failed;
  std::string url(req.url), agent(req.agent);
  Sink sink{&body, req.maxBytes ? req.maxBytes : static_cast<std::size_t>(-1)};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(req.timeoutMs));
  // No whole-transfer limit; a stalled transfer ends after the receive time-out.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>((req.timeoutMs + 999) / 1000));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_data);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  CURLcode rc = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (sink.tooLarge) {
    body.clear();
    return SysHttpStatus::too_large;
  }
  // A transfer that broke off after some data keeps what arrived.
  return rc == CURLE_OK || !body.empty() ? SysHttpStatus::ok : SysHttpStatus::failed;
}
