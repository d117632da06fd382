#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sys/process.h"

extern char** environ;

int sys_pid() { return static_cast<int>(::getpid()); }

std::string sys_command_tail(int argc, char** argv) {
  std::string out;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) out += ' ';
    out += argv[i];
  }
  return out;
}

void sys_setenv(std::string_view name, const char* value) {
  const std::string n(name);
  if (value) {
    ::setenv(n.c_str(), value, 1);
  } else {
    ::unsetenv(n.c_str());
  }
}

std::optional<std::string> sys_getenv(std::string_view name) {
  const char* v = std::getenv(std::string(name).c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

namespace {
// A process that has exited but was not yet reaped by its parent still
// answers kill(pid, 0); its state in /proc says it is a zombie.
bool is_zombie(int pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  char buf[512] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  const char* close = std::strrchr(buf, ')');  // the name may hold spaces and parentheses
  return n > 0 && close && close[1] == ' ' && close[2] == 'Z';
}
}  // namespace

bool sys_wait_pid(int pid, int timeout_ms) {
  // Not our child: poll for its existence.
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if ((::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) || is_zombie(pid)) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

SysProcess::~SysProcess() { release(); }

SysProcess::SysProcess(SysProcess&& o) noexcept
    : pid_(o.pid_), out_(o.out_), handle_(o.handle_), reaped_(o.reaped_), exitCode_(o.exitCode_) {
  o.pid_ = 0;
  o.out_ = -1;
}

SysProcess& SysProcess::operator=(SysProcess&& o) noexcept {
  if (this != &o) {
    release();
    pid_ = o.pid_;
    out_ = o.out_;
    reaped_ = o.reaped_;
    exitCode_ = o.exitCode_;
    o.pid_ = 0;
    o.out_ = -1;
  }
  return *this;
}

void SysProcess::release() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  if (out_ >= 0) ::close(static_cast<int>(out_));
  pid_ = 0;
  out_ = -1;
}

long SysProcess::read(void* buf, std::size_t len) {
  if (out_ < 0) return -1;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(out_), buf, len);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

bool SysProcess::wait(int timeout_ms, int* exit_code) {
  if (pid_ <= 0) return false;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (exit_code) *exit_code = exitCode_;
  return true;
}

bool SysProcess::request_stop() { return pid_ > 0 && !reaped_ && ::kill(pid_, SIGTERM) == 0; }

void SysProcess::kill() {
  if (pid_ > 0 && !reaped_) ::kill(pid_, SIGKILL);
}

SysProcess sys_spawn(const SysSpawn& req) {
  SysProcess p;
  int pipefd[2] = {-1, -1};
  if (req.captureOutput && ::pipe2(pipefd, O_CLOEXEC) != 0) return p;

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (req.captureOutput) {
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
  }
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  std::string cwd = req.cwd;

  std::vector<std::string> args{req.exe};
  args.insert(args.end(), req.args.begin(), req.args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string_view entry(*e);
    bool replaced = false;
    for (const auto& [k, v] : req.env) replaced |= entry.substr(0, entry.find('=')) == k;
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [k, v] : req.env) {
    if (!v.empty()) env.push_back(k + "=" + v);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  // glibc's extension: the child changes directory just before exec.
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);  // the child starts with no signal blocked
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, req.exe.c_str(), &fa, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (req.captureOutput) ::close(pipefd[1]);
  if (rc != 0) {
    if (req.captureOutput) ::close(pipefd[0]);
    return p;
  }
  p.pid_ = pid;
  p.out_ = req.captureOutput ? pipefd[0] : -1;
  return p;
}
