#pragma once
// The one owner of a POSIX file descriptor: closes it on destruction, moves but never copies. Any
// code on Linux that opens a descriptor keeps it in one of these, so that no error path leaks it.

#include <unistd.h>

#include <utility>

namespace kv::platform {

class FileDescriptor {
 public:
  // Takes `fd` (an open descriptor, or -1 for none).
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up ownership without closing; the caller closes the returned descriptor.
  int Release() { return std::exchange(fd_, -1); }
  // Closes now; false when close reported an error (for written files: data may be lost).
  bool Reset() {
    if (fd_ < 0) return true;
    const int result = close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

}  // namespace kv::platform
