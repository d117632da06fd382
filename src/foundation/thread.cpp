#include "foundation/thread.h"

#include <chrono>
#include <system_error>

bool HxStop::sleep_for(int ms) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return flag_.load(); });
}

void HxStop::request() {
  std::lock_guard lock(mu_);
  flag_ = true;
  cv_.notify_all();
}

HxThread::~HxThread() {
  if (thread_.joinable()) thread_.detach();
}

bool HxThread::start(std::function<void(HxStop& stop)> body) {
  if (thread_.joinable()) return false;
  state_ = std::make_shared<State>();  // a thread that ran before keeps its own
  try {
    thread_ = std::thread([state = state_, body = std::move(body)] {
      body(state->stop);
      // Notified under the lock: once it is released the owner may be gone.
      std::lock_guard lock(state->mu);
      state->done = true;
      state->cv.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool HxThread::finished() const {
  std::lock_guard lock(state_->mu);
  return state_->done;
}

bool HxThread::wait(int timeout_ms) {
  if (!thread_.joinable()) return true;
  std::unique_lock lock(state_->mu);
  bool done = state_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return state_->done; });
  lock.unlock();
  if (done) thread_.join();
  return done;
}

bool HxThread::stop_and_wait(int timeout_ms) {
  state_->stop.request();
  if (wait(timeout_ms)) return true;
  thread_.detach();
  return false;
}
