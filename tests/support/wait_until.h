#pragma once
// Waiting, with a bound, for something another process or thread brings about.

#include <chrono>
#include <functional>
#include <thread>

namespace kv::testing {

// Polls `done` every 10 ms until it holds; false once `timeout` has passed.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace kv::testing
