#pragma once
// Forced into every GoogleTest compile of the Windows tests. GoogleTest's thread-safe build on
// Windows needs std::mutex and std::condition_variable only for its Notification class, which
// only GoogleTest's own tests use; the cross compiler's win32 thread model has neither. This
// stands in for that class so that the rest of GoogleTest keeps its Win32 locks.

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
