#pragma once
// Whether anything opened a file since the watch began: inotify sees every
// open, a FIFO's or a device node's included. Linux only.

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

namespace orvel::testing {

class OpenWatch {
 public:
  explicit OpenWatch(const std::filesystem::path& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0 && ::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool Works() const { return fd_ >= 0; }
  bool Opened() const {
    alignas(inotify_event) char events[kEventBytes];
    return ::read(fd_, events, sizeof events) > 0;
  }

 private:
  static constexpr std::size_t kEventBytes = 4096;
  int fd_;
};

}  // namespace orvel::testing
#endif
