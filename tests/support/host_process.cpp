#include "support/host_process.h"

#include <chrono>

#include "foundation/util.h"
#include "support/temp_dir.h"

std::string HostProcess::exe() {
  std::string dir = hx_path_join(hx_exe_dir(), "..");
  return hx_path_join(hx_path_join(dir, "src"), HX_SEP == '\\' ? "tolvex.exe" : "tolvex");
}

namespace {
std::vector<std::string> with_emulator(std::vector<std::string> args) {
  if (std::string(HX_TEST_EMULATOR).empty()) return args;
  args.insert(args.begin(), HostProcess::exe());  // the kernel here cannot start 32-bit programs itself
  return args;
}
}  // namespace

HostProcess::HostProcess(std::vector<std::string> args, const std::string& cwd,
                         std::vector<std::pair<std::string, std::string>> env)
    : ChildProcess(std::string(HX_TEST_EMULATOR).empty() ? exe() : HX_TEST_EMULATOR, with_emulator(std::move(args)),
                   cwd, std::move(env)) {}

ChildProcess::ChildProcess(const std::string& exe, std::vector<std::string> args, const std::string& cwd,
                           std::vector<std::pair<std::string, std::string>> env) {
  SysSpawn req;
  req.exe = exe;
  req.args = std::move(args);
  req.cwd = cwd;
  req.env = std::move(env);
  proc_ = sys_spawn(req);
  if (!proc_.valid()) return;
  reader_ = std::thread([this] {
    char buf[4096];
    for (;;) {
      long n = proc_.read(buf, sizeof buf);
      std::lock_guard lock(mu_);
      if (n <= 0) {
        eof_ = true;
        cv_.notify_all();
        return;
      }
      out_.append(buf, static_cast<size_t>(n));
      cv_.notify_all();
    }
  });
}

ChildProcess::~ChildProcess() {
  proc_.kill();
  if (reader_.joinable()) reader_.join();
}

bool ChildProcess::wait_for(const std::string& text, int timeout_ms) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms * kTimeoutScale), [&] {
    return out_.find(text) != std::string::npos || eof_;
  }) && out_.find(text) != std::string::npos;
}

bool ChildProcess::wait_exit(int* code, int timeout_ms) {
  if (!proc_.wait(timeout_ms * kTimeoutScale, code)) return false;
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(5000 * kTimeoutScale), [&] { return eof_; });
}

std::string ChildProcess::output() {
  std::lock_guard lock(mu_);
  return out_;
}

bool appears_in_order(const std::string& text, const std::vector<std::string>& parts) {
  size_t at = 0;
  for (const auto& p : parts) {
    at = text.find(p, at);
    if (at == std::string::npos) return false;
    at += p.size();
  }
  return true;
}
