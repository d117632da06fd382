// HTTP through WinINet.
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

void set_timeouts(HINTERNET h, int ms) {
  DWORD timeout = static_cast<DWORD>(ms);
  InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

// Reads the whole response into `body`, at most `max` bytes.
SysHttpStatus read_all(HINTERNET h, std::size_t max, bool whole, std::string& body) {
  char chunk[kChunk];
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(h, chunk, kChunk, &got)) {
      // A download keeps what arrived; a POST's answer counts only whole.
      if (whole) body.clear();
      return whole ? SysHttpStatus::failed : SysHttpStatus::ok;
    }
    if (got == 0) return SysHttpStatus::ok;
    if (body.size() + got > max) {
      body.clear();
      return SysHttpStatus::too_large;
    }
    body.append(chunk, got);
  }
}

// The session POSTs share: WinINet keeps its connections for reuse.
HINTERNET post_session(std::string_view agent) {
  static HINTERNET session = InternetOpenW(sys_widen(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  return session;
}

}  // namespace

SysHttpStatus sys_http_get(const SysHttpRequest& req, std::string& body) {
  body.clear();
  Inet net(InternetOpenW(sys_widen(req.agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!net.get()) return SysHttpStatus::failed;
  set_timeouts(net.get(), req.timeoutMs);
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
  Inet url(InternetOpenUrlW(net.get(), sys_widen(req.url).c_str(), nullptr, 0, flags, 0));
  if (!url.get()) return SysHttpStatus::failed;
  return read_all(url.get(), req.maxBytes ? req.maxBytes : static_cast<std::size_t>(-1), false, body);
}

SysHttpStatus sys_http_post(const SysHttpRequest& req, std::string& body) {
  body.clear();
  const HINTERNET session = post_session(req.agent);
  if (!session) return SysHttpStatus::failed;
  std::wstring url = sys_widen(req.url);
  wchar_t host[256] = {}, path[2048] = {};
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return SysHttpStatus::failed;
  Inet connection(InternetConnectW(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.get()) return SysHttpStatus::failed;
  set_timeouts(connection.get(), req.timeoutMs);
  DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_KEEP_CONNECTION;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  const wchar_t* accept[] = {L"application/json", nullptr};
  Inet request(HttpOpenRequestW(connection.get(), L"POST", path[0] ? path : L"/", nullptr, nullptr, accept, flags, 0));
  if (!request.get()) return SysHttpStatus::failed;
  set_timeouts(request.get(), req.timeoutMs);
  const std::wstring headers = sys_widen(req.headers);
  std::string payload(req.body);
  if (!HttpSendRequestW(request.get(), headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                        payload.empty() ? nullptr : payload.data(), static_cast<DWORD>(payload.size())))
    return SysHttpStatus::failed;
  return read_all(request.get(), req.maxBytes ? req.maxBytes : static_cast<std::size_t>(-1), true, body);
}
