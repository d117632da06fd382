// IPv4 TCP sockets: BSD sockets on Linux, Winsock 2 on Windows. A SysSocket
// owns its socket and closes it when destroyed; it may be moved, not copied.
// Different threads may send and receive on one socket at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class SysSocket {
 public:
  SysSocket() = default;
  explicit SysSocket(std::intptr_t handle) : handle_(handle) {}
  ~SysSocket() { close(); }
  SysSocket(SysSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }
  SysSocket& operator=(SysSocket&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = kInvalid;
    }
    return *this;
  }
  SysSocket(const SysSocket&) = delete;
  SysSocket& operator=(const SysSocket&) = delete;

  bool valid() const { return handle_ != kInvalid; }
  std::intptr_t handle() const { return handle_; }
  void close();

  static constexpr std::intptr_t kInvalid = -1;

 private:
  std::intptr_t handle_ = kInvalid;
};

// Starts the socket library (Winsock); safe to call more than once. False
// when it cannot be started.
bool sys_net_init();
// Releases the socket library again (no sockets may be in use).
void sys_net_free();

// Listens on ip:port with SO_REUSEADDR and the system's largest backlog; an
// empty ip or "0.0.0.0" means every interface. Port 0 picks a free port,
// reported in *bound_port.
SysSocket sys_tcp_listen(std::string_view ip, std::uint16_t port, std::uint16_t* bound_port);
// Waits for a connection; `peer` (optional) receives "a.b.c.d:port".
// An invalid socket when the listener was shut down or failed.
SysSocket sys_tcp_accept(const SysSocket& listener, std::string* peer);
// Connects to an IPv4 address or host name, giving up on each address after
// `timeout_ms` (0: the system's own limit). Invalid on failure.
SysSocket sys_tcp_connect(std::string_view host, std::uint16_t port, int timeout_ms = 0);

// Socket options: no Nagle delay; a limit on how long one send may block.
bool sys_tcp_nodelay(const SysSocket& s);
bool sys_tcp_send_timeout(const SysSocket& s, int ms);
// A limit on how long one receive may block; 0 removes it.
bool sys_tcp_recv_timeout(const SysSocket& s, int ms);
// "a.b.c.d:port" of the connected peer, or "unknown".
std::string sys_tcp_peer(const SysSocket& s);

// Bytes sent or received, 0 when the peer closed (receive), -1 on error.
long sys_tcp_send(const SysSocket& s, const void* data, std::size_t len);
long sys_tcp_recv(const SysSocket& s, void* data, std::size_t len);
// Ends both directions, waking threads blocked in accept or receive.
void sys_tcp_shutdown(const SysSocket& s);
