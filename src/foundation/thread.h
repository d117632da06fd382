// A worker thread that can be asked to stop and waited for with a time limit.
// A thread that misses the limit is never killed (it may hold a lock): it is
// detached and keeps running, and the caller is told.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The stop request a worker's body watches.
class HxStop {
 public:
  bool requested() const { return flag_.load(); }
  explicit operator bool() const { return requested(); }
  // Sleeps up to `ms`; returns early, with true, once a stop is requested.
  bool sleep_for(int ms);
  void request();

 private:
  std::atomic<bool> flag_{false};
  std::mutex mu_;
  std::condition_variable cv_;
};

class HxThread {
 public:
  HxThread() = default;
  ~HxThread();
  HxThread(const HxThread&) = delete;
  HxThread& operator=(const HxThread&) = delete;

  // Starts `body`, which should return soon after a stop is requested. False
  // when the system cannot start a thread or the previous one is not joined.
  bool start(std::function<void(HxStop& stop)> body);
  bool running() const { return thread_.joinable(); }
  // True once the body has returned.
  bool finished() const;
  // Requests a stop and waits up to `timeout_ms`. False when the thread is
  // still running, in which case it is detached.
  bool stop_and_wait(int timeout_ms);
  // Waits up to `timeout_ms` without asking the thread to stop; joins it when
  // it ended.
  bool wait(int timeout_ms);

 private:
  // Shared with the thread, which may outlive this object when it is stuck.
  struct State {
    HxStop stop;
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;  // guarded by mu
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::thread thread_;
};
