// Runs the host program as a child process and watches what it prints.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sys/process.h"

// A child program whose output (stdout and stderr) is collected as it comes.
class ChildProcess {
 public:
  ChildProcess(const std::string& exe, std::vector<std::string> args, const std::string& cwd = "",
               std::vector<std::pair<std::string, std::string>> env = {});
  ~ChildProcess();

  bool started() const { return proc_.valid(); }
  // Waits until the output holds `text`, at most `timeout_ms` (scaled for emulators).
  bool wait_for(const std::string& text, int timeout_ms = 10000);
  // Waits for the process to end and for all of its output.
  bool wait_exit(int* code, int timeout_ms = 15000);
  bool request_stop() { return proc_.request_stop(); }
  void force_end() { proc_.kill(); }
  int pid() const { return proc_.pid(); }
  std::string output();

 private:
  SysProcess proc_;
  std::thread reader_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::string out_;   // guarded by mu_
  bool eof_ = false;  // guarded by mu_
};

// The host program, build/<target>/src/tolvex, under the target's emulator
// when there is one.
class HostProcess : public ChildProcess {
 public:
  HostProcess(std::vector<std::string> args, const std::string& cwd,
              std::vector<std::pair<std::string, std::string>> env = {});
  static std::string exe();
};

// Whether `text` holds `a` before `b` (both present).
bool appears_in_order(const std::string& text, const std::vector<std::string>& parts);
