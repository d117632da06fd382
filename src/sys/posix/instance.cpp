// Instances on POSIX systems: lock files in the runtime directory and an
// abstract Unix-domain socket that carries the activation request.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sys/instance.h"

namespace {

constexpr int kSendTries = 15;
constexpr int kSendPauseMs = 200;

std::string runtime_dir() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  return dir && *dir ? dir : "/tmp";
}

// An abstract socket address: no file to clean up after a crash.
socklen_t abstract_addr(std::string_view name, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  size_t n = std::min(name.size(), sizeof addr.sun_path - 1);
  std::memcpy(addr.sun_path + 1, name.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

std::thread g_listenTh;
std::atomic<bool> g_listenStop{false};
int g_listenFd = -1;

}  // namespace

std::uint16_t sys_global_atom(std::string_view name) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return static_cast<std::uint16_t>(0xC000 | (h & 0x3FFF));
}

SysNamedLock::~SysNamedLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

SysNamedLock& SysNamedLock::operator=(SysNamedLock&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

SysNamedLock sys_named_lock(std::string_view name, bool* existed) {
  SysNamedLock lock;
  *existed = false;
  std::string path = runtime_dir() + "/" + std::string(name) + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return lock;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *existed = errno == EWOULDBLOCK;
    ::close(fd);
    return lock;
  }
  lock.handle_ = fd;
  return lock;
}

bool sys_activation_send(std::string_view name, std::uint16_t atom) {
  sockaddr_un addr;
  socklen_t len = abstract_addr(name, addr);
  std::string msg = "activate " + std::to_string(atom) + "\n";
  for (int i = 0; i < kSendTries; ++i) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
      bool sent = ::send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size());
      ::close(fd);
      return sent;
    }
    ::close(fd);
    // The first instance may still be starting up.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSendPauseMs));
  }
  return false;
}

bool sys_activation_listen(std::string_view name, std::function<void(std::uint16_t)> on_request) {
  if (g_listenTh.joinable()) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr;
  socklen_t len = abstract_addr(name, addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return false;
  }
  g_listenFd = fd;
  g_listenStop = false;
  g_listenTh = std::thread([fd, cb = std::move(on_request)] {
    while (!g_listenStop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      // One short line; a sender that stalls is dropped after a moment.
      pollfd q{c, POLLIN, 0};
      char buf[64] = {};
      ssize_t n = ::poll(&q, 1, 1000) > 0 ? ::recv(c, buf, sizeof buf - 1, 0) : -1;
      ::close(c);
      if (n > 9 && std::strncmp(buf, "activate ", 9) == 0) {
        cb(static_cast<std::uint16_t>(std::strtoul(buf + 9, nullptr, 10)));
      }
    }
  });
  return true;
}

void sys_activation_stop() {
  if (!g_listenTh.joinable()) return;
  g_listenStop = true;
  g_listenTh.join();
  ::close(g_listenFd);
  g_listenFd = -1;
}
