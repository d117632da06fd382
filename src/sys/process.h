// Processes: our own identity, the command line and environment, waiting for
// another process, and starting child processes with their output captured
// (used by the tests and the fake peers). Re-entrant.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

int sys_pid();

// The command line after the program name, as one UTF-8 text. Windows gives
// the raw text (quotes as typed); elsewhere the arguments joined by spaces.
std::string sys_command_tail(int argc, char** argv);

// An environment variable (UTF-8), or nullopt when it is not set.
std::optional<std::string> sys_getenv(std::string_view name);
// Sets a variable of our own environment, or removes it when `value` is null.
void sys_setenv(std::string_view name, const char* value);

// Waits until process `pid` has ended, at most `timeout_ms`. True when it
// ended (or never existed), false on time-out.
bool sys_wait_pid(int pid, int timeout_ms);

struct SysSpawn {
  std::string exe;                                       // a path; not searched on PATH
  std::vector<std::string> args;                         // without the program name
  std::string cwd;                                       // empty: ours
  std::vector<std::pair<std::string, std::string>> env;  // set (or, with an empty value, removed) for the child
  bool captureOutput = true;                             // stdout and stderr into one pipe we read
};

// A child process. Destroying it kills a child that is still running.
class SysProcess {
 public:
  SysProcess() = default;
  ~SysProcess();
  SysProcess(SysProcess&& other) noexcept;
  SysProcess& operator=(SysProcess&& other) noexcept;
  SysProcess(const SysProcess&) = delete;
  SysProcess& operator=(const SysProcess&) = delete;

  bool valid() const { return pid_ > 0; }
  int pid() const { return pid_; }
  // Reads the child's output: bytes read, 0 at its end, -1 on error.
  long read(void* buf, std::size_t len);
  // Waits for the child to end; true with its exit code, false on time-out.
  bool wait(int timeout_ms, int* exit_code);
  // Asks the child to stop (SIGTERM; on Windows, as Ctrl-Break to its group).
  bool request_stop();
  void kill();

 private:
  friend SysProcess sys_spawn(const SysSpawn& req);
  void release();

  int pid_ = 0;
  std::intptr_t out_ = -1;     // read end of the output pipe
  std::intptr_t handle_ = -1;  // Windows process handle
  bool reaped_ = false;
  int exitCode_ = 0;
};

SysProcess sys_spawn(const SysSpawn& req);
