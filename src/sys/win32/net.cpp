#include <winsock2.h>
#include <ws2tcpip.h>

#include "sys/net.h"

namespace {
inline SOCKET sock_of(const SysSocket& s) { return static_cast<SOCKET>(s.handle()); }
inline SysSocket own(SOCKET s) { return s == INVALID_SOCKET ? SysSocket() : SysSocket(static_cast<std::intptr_t>(s)); }
}  // namespace

void SysSocket::close() {
  if (handle_ != kInvalid) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = kInvalid;
}

bool sys_net_init() {
  static bool ok = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

void sys_net_free() { WSACleanup(); }

SysSocket sys_tcp_listen(std::string_view ip, std::uint16_t port, std::uint16_t* bound_port) {
  sys_net_init();
  SysSocket s = own(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s.valid()) return s;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (ip.empty() || ip == "0.0.0.0") {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (::inet_pton(AF_INET, std::string(ip).c_str(), &addr.sin_addr) != 1) {
    return SysSocket();
  }
  BOOL on = TRUE;
  ::setsockopt(sock_of(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  if (::bind(sock_of(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return SysSocket();
  if (::listen(sock_of(s), SOMAXCONN) != 0) return SysSocket();
  if (bound_port) {
    int len = sizeof addr;
    ::getsockname(sock_of(s), reinterpret_cast<sockaddr*>(&addr), &len);
    *bound_port = ntohs(addr.sin_port);
  }
  return s;
}

SysSocket sys_tcp_accept(const SysSocket& listener, std::string* peer) {
  sockaddr_in addr{};
  int len = sizeof addr;
  SysSocket s = own(::accept(sock_of(listener), reinterpret_cast<sockaddr*>(&addr), &len));
  if (s.valid() && peer) {
    char ip[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
    *peer = std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
  }
  return s;
}

namespace {

// connect() that gives up after `ms` (0: blocks as long as the system lets it).
bool connect_within(SOCKET s, const sockaddr* addr, int len, int ms) {
  if (ms <= 0) return ::connect(s, addr, len) == 0;
  u_long on = 1, off = 0;
  if (::ioctlsocket(s, FIONBIO, &on) != 0) return false;
  bool ok = ::connect(s, addr, len) == 0;
  if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ok = ::select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(s, &writable);
  }
  return ::ioctlsocket(s, FIONBIO, &off) == 0 && ok;
}

}  // namespace

SysSocket sys_tcp_connect(std::string_view host, std::uint16_t port, int timeout_ms) {
  sys_net_init();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(std::string(host).c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return SysSocket();
  SysSocket s;
  for (addrinfo* a = list; a; a = a->ai_next) {
    SysSocket c = own(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
    if (!c.valid()) continue;
    if (connect_within(sock_of(c), a->ai_addr, static_cast<int>(a->ai_addrlen), timeout_ms)) {
      s = std::move(c);
      break;
    }
  }
  ::freeaddrinfo(list);
  return s;
}

bool sys_tcp_nodelay(const SysSocket& s) {
  BOOL on = TRUE;
  return ::setsockopt(sock_of(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool sys_tcp_send_timeout(const SysSocket& s, int ms) {
  DWORD v = static_cast<DWORD>(ms);
  return ::setsockopt(sock_of(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

bool sys_tcp_recv_timeout(const SysSocket& s, int ms) {
  DWORD v = static_cast<DWORD>(ms);
  return ::setsockopt(sock_of(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

std::string sys_tcp_peer(const SysSocket& s) {
  sockaddr_in addr{};
  int len = sizeof addr;
  char ip[INET_ADDRSTRLEN];
  if (::getpeername(sock_of(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET ||
      !::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip)) {
    return "unknown";
  }
  return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

long sys_tcp_send(const SysSocket& s, const void* data, std::size_t len) {
  int n = ::send(sock_of(s), static_cast<const char*>(data), static_cast<int>(len), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long sys_tcp_recv(const SysSocket& s, void* data, std::size_t len) {
  int n = ::recv(sock_of(s), static_cast<char*>(data), static_cast<int>(len), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

void sys_tcp_shutdown(const SysSocket& s) {
  if (s.valid()) ::shutdown(sock_of(s), SD_BOTH);
}
