// Waiting for a condition in tests, with a deadline scaled for emulators.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "support/temp_dir.h"

inline bool wait_until(const std::function<bool()>& pred, int ms = 10000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms * kTimeoutScale);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Gives something that must not happen the time it would need to happen,
// scaled for emulators like every deadline.
inline void hold_for(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms * kTimeoutScale)); }
