// HTTP GET through WinINet.
#include <windows.h>
#include <wininet.h>

#include "sys/http.h"
#include "wide.h"

namespace {

// An internet handle that closes itself.
class Inet {
 public:
  explicit Inet(HINTERNET h) : h_(h) {}
  ~Inet() {
    if (h_) InternetCloseHandle(h_);
  }
  Inet(const Inet&) = delete;
  Inet& operator=(const Inet&) = delete;
  HINTERNET get() const { return h_; }

 private:
  HINTERNET h_;
};

constexpr DWORD kChunk = 8192;

}  // namespace

SysHttpStatus sys_http_get(const SysHttpRequest& req, std::string& body) {
  body.clear();
  Inet net(InternetOpenW(sys_widen(req.agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!net.get()) return SysHttpStatus::failed;
  DWORD timeout = static_cast<DWORD>(req.timeoutMs);
  InternetSetOptionW(net.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionW(net.get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionW(net.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
  Inet url(InternetOpenUrlW(net.get(), sys_widen(req.url).c_str(), nullptr, 0, flags, 0));
  if (!url.get()) return SysHttpStatus::failed;
  const std::size_t max = req.maxBytes ? req.maxBytes : static_cast<std::size_t>(-1);
  char chunk[kChunk];
  for (;;) {
    DWORD got = 0;
    // A failing read ends the transfer like the end of the data.
    if (!InternetReadFile(url.get(), chunk, kChunk, &got) || got == 0) break;
    if (body.size() + got > max) {
      body.clear();
      return SysHttpStatus::too_large;
    }
    body.append(chunk, got);
  }
  return SysHttpStatus::ok;
}
