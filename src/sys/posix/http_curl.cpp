// HTTP through libcurl. Each thread keeps one easy handle, so its
// connections stay open from one request to the next.
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

// The calling thread's handle, reset for every request (which keeps its
// connection cache); cleaned up when the thread ends.
class ThreadHandle {
 public:
  ~ThreadHandle() {
    if (curl_) curl_easy_cleanup(curl_);
  }
  CURL* get() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (!curl_) curl_ = curl_easy_init();
    if (curl_) curl_easy_reset(curl_);
    return curl_;
  }

 private:
  CURL* curl_ = nullptr;
};
thread_local ThreadHandle t_handle;

class HeaderList {
 public:
  explicit HeaderList(std::string_view lines) {
    while (!lines.empty()) {
      const std::size_t end = lines.find("\r\n");
      const std::string line(lines.substr(0, end));
      if (!line.empty()) list_ = curl_slist_append(list_, line.c_str());
      lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 2);
    }
    list_ = curl_slist_append(list_, "Expect:");  // no 100-continue round trip before the body
  }
  ~HeaderList() { curl_slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

SysHttpStatus perform(const SysHttpRequest& req, bool post, std::string& body) {
  body.clear();
  CURL* curl = t_handle.get();
  if (!curl) return SysHttpStatus::failed;
  const std::string url(req.url), agent(req.agent), payload(req.body);
  const HeaderList headers(req.headers);
  Sink sink{&body, req.maxBytes ? req.maxBytes : static_cast<std::size_t>(-1)};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(req.timeoutMs));
  if (post) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(req.timeoutMs));
  } else {
    // No whole-transfer limit; a stalled transfer ends after the receive time-out.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>((req.timeoutMs + 999) / 1000));
  }
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_data);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  const CURLcode rc = curl_easy_perform(curl);
  // The handle outlives this call: nothing of it may point here any more.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  if (sink.tooLarge) {
    body.clear();
    return SysHttpStatus::too_large;
  }
  if (post && rc != CURLE_OK) {
    body.clear();
    return SysHttpStatus::failed;
  }
  // A download that broke off after some data keeps what arrived.
  return rc == CURLE_OK || !body.empty() ? SysHttpStatus::ok : SysHttpStatus::failed;
}

}  // namespace

SysHttpStatus sys_http_get(const SysHttpRequest& req, std::string& body) { return perform(req, false, body); }

SysHttpStatus sys_http_post(const SysHttpRequest& req, std::string& body) { return perform(req, true, body); }
