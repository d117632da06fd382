// What lets instances of the host find each other: named locks, global atoms
// and the activation request a second instance sends to the first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// A 16-bit value that every process on this machine gets for the same name:
// a global atom on Windows, a hash in the same range (0xC000..0xFFFF) elsewhere.
// 0 on failure.
std::uint16_t sys_global_atom(std::string_view name);

// A machine-wide name held for as long as the object lives: a named mutex on
// Windows, a locked file in the runtime directory elsewhere.
class SysNamedLock {
 public:
  SysNamedLock() = default;
  ~SysNamedLock();
  SysNamedLock(SysNamedLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  SysNamedLock& operator=(SysNamedLock&& other) noexcept;
  SysNamedLock(const SysNamedLock&) = delete;
  SysNamedLock& operator=(const SysNamedLock&) = delete;

 private:
  friend SysNamedLock sys_named_lock(std::string_view name, bool* existed);
  std::intptr_t handle_ = -1;
};

// Creates the named lock. *existed tells whether another process already had
// the name; when the name cannot be made at all, that counts as not existing.
SysNamedLock sys_named_lock(std::string_view name, bool* existed);

// Sends the activation request (with the sender's instance atom) to the
// running instance listening under `name`, trying for about three seconds.
// True when a listener took it.
bool sys_activation_send(std::string_view name, std::uint16_t atom);

// Listens under `name` for activation requests and calls `on_request` with the
// sender's atom on a thread of its own. False when listening is impossible.
// On Windows the listener is a message-only window of class "HXMainWnd".
bool sys_activation_listen(std::string_view name, std::function<void(std::uint16_t atom)> on_request);
// Stops the listener and waits for its thread.
void sys_activation_stop();
