#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sys/net.h"

namespace {
inline int fd_of(const SysSocket& s) { return static_cast<int>(s.handle()); }
}  // namespace

void SysSocket::close() {
  if (handle_ != kInvalid) ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
}

bool sys_net_init() { return true; }

void sys_net_free() {}

SysSocket sys_tcp_listen(std::string_view ip, std::uint16_t port, std::uint16_t* bound_port) {
  SysSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (s.handle() < 0) return SysSocket();
  int on = 1;
  ::setsockopt(fd_of(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (ip.empty() || ip == "0.0.0.0") {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (::inet_pton(AF_INET, std::string(ip).c_str(), &addr.sin_addr) != 1) {
    return SysSocket();
  }
  if (::bind(fd_of(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return SysSocket();
  if (::listen(fd_of(s), SOMAXCONN) != 0) return SysSocket();
  if (bound_port) {
    socklen_t len = sizeof addr;
    ::getsockname(fd_of(s), reinterpret_cast<sockaddr*>(&addr), &len);
    *bound_port = ntohs(addr.sin_port);
  }
  return s;
}

SysSocket sys_tcp_accept(const SysSocket& listener, std::string* peer) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int fd;
  do {
    fd = ::accept4(fd_of(listener), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return SysSocket();
  if (peer) {
    char ip[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
    *peer = std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
  }
  return SysSocket(fd);
}

namespace {

// connect() that gives up after `ms` (0: blocks as long as the system lets it).
bool connect_within(int fd, const sockaddr* addr, socklen_t len, int ms) {
  if (ms <= 0) return ::connect(fd, addr, len) == 0;
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  bool ok = ::connect(fd, addr, len) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int n;
    do {
      n = ::poll(&p, 1, ms);
    } while (n < 0 && errno == EINTR);
    int err = 0;
    socklen_t err_len = sizeof err;
    ok = n == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) == 0 && err == 0;
  }
  return ::fcntl(fd, F_SETFL, flags) == 0 && ok;
}

}  // namespace

SysSocket sys_tcp_connect(std::string_view host, std::uint16_t port, int timeout_ms) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(std::string(host).c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return SysSocket();
  SysSocket s;
  for (addrinfo* a = list; a; a = a->ai_next) {
    SysSocket c(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (c.handle() < 0) continue;
    if (connect_within(fd_of(c), a->ai_addr, a->ai_addrlen, timeout_ms)) {
      s = std::move(c);
      break;
    }
  }
  ::freeaddrinfo(list);
  return s;
}

bool sys_tcp_nodelay(const SysSocket& s) {
  int on = 1;
  return ::setsockopt(fd_of(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool sys_tcp_send_timeout(const SysSocket& s, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return ::setsockopt(fd_of(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool sys_tcp_recv_timeout(const SysSocket& s, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return ::setsockopt(fd_of(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

std::string sys_tcp_peer(const SysSocket& s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  char ip[INET_ADDRSTRLEN];
  if (::getpeername(fd_of(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET ||
      !::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip)) {
    return "unknown";
  }
  return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

long sys_tcp_send(const SysSocket& s, const void* data, std::size_t len) {
  ssize_t n;
  do {
    n = ::send(fd_of(s), data, len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long sys_tcp_recv(const SysSocket& s, void* data, std::size_t len) {
  ssize_t n;
  do {
    n = ::recv(fd_of(s), data, len, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

void sys_tcp_shutdown(const SysSocket& s) {
  if (s.valid()) ::shutdown(fd_of(s), SHUT_RDWR);
}
