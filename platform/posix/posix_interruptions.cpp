// Holding the signals that would end or stop the program while a drive is in
// its update mode.
//
// The thread that talks to the drive keeps them blocked: a handler running on
// it would interrupt SG_IO on a generic node, which then either fails the
// command (EINTR) or, restarted, sends it a second time. A watcher thread with
// the signals unblocked takes them instead, so the notice is written the
// moment one arrives; other threads of the program (a window system's) may
// take them too, which the process-wide handler covers. At the end the
// watcher stops, signals still pending are collected, and the dispositions
// and the mask are put back as they were.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <ctime>
#include <span>
#include <string_view>
#include <thread>

#include "platform/platform.h"

namespace orvel {
namespace {

constexpr std::array<int, 4> kEndingSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::array<int, 3> kStoppingSignals{SIGTSTP, SIGTTIN, SIGTTOU};
constexpr std::size_t kHeldCount = kEndingSignals.size() + kStoppingSignals.size();
constexpr std::array<int, kHeldCount> kHeldSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr std::size_t kNoticeCapacity = 512;

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler relies on lock-free atomics");

// Shared with the handler: only lock-free atomics and a buffer written before
// any handler is installed.
std::array<char, kNoticeCapacity> noticeText{};
std::atomic<std::size_t> noticeLength{0};
std::atomic<bool> noticeWritten{false};
std::array<std::atomic<int>, kHeldCount> arrived{};  // signal numbers in order of arrival, 0 = free

// The program's thread only.
struct SavedState {
  int depth = 0;
  std::array<struct sigaction, kHeldCount> actions{};
  std::array<bool, kHeldCount> installed{};
  struct sigaction pipeAction {};
  sigset_t mask{};
  std::array<int, 2> wake{-1, -1};
  std::thread watcher;
};
SavedState& Saved() {
  static SavedState saved;
  return saved;
}

void Record(int sig) {
  for (std::atomic<int>& slot : arrived) {
    int expected = 0;
    if (slot.compare_exchange_strong(expected, sig) || expected == sig) return;
  }
}

void WriteNoticeOnce() {
  if (noticeWritten.exchange(true)) return;
  const std::size_t length = noticeLength.load();
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(STDERR_FILENO, noticeText.data() + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // standard error is gone: nothing to tell
    }
  }
}

extern "C" void OnHeldSignal(int sig) {
  const int savedErrno = errno;
  Record(sig);
  WriteNoticeOnce();
  errno = savedErrno;
}

sigset_t SetOf(const std::array<int, kHeldCount>& signals) {
  sigset_t set;
  ::sigemptyset(&set);
  for (const int sig : signals) ::sigaddset(&set, sig);
  return set;
}

// Takes the held signals until a byte arrives on `wakeFd`.
void Watch(int wakeFd) {
  const sigset_t set = SetOf(kHeldSignals);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  pollfd wake{wakeFd, POLLIN, 0};
  while (::poll(&wake, 1, -1) < 0 && errno == EINTR) {
  }
}

bool Contains(std::span<const int> signals, int sig) {
  return std::find(signals.begin(), signals.end(), sig) != signals.end();
}

// The first ending signal in order of arrival, else the first stopping one.
Interruption TheOneThatMatters() {
  int firstStop = 0;
  for (const std::atomic<int>& slot : arrived) {
    const int sig = slot.load();
    if (sig == 0) break;
    if (Contains(kEndingSignals, sig)) return sig;
    if (firstStop == 0 && Contains(kStoppingSignals, sig)) firstStop = sig;
  }
  return firstStop;
}

void CloseWakePipe(SavedState& s) {
  for (int& fd : s.wake) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

}  // namespace

void SetInterruptionNotice(std::string_view line) {
  const std::size_t length = std::min(line.size(), noticeText.size());
  std::copy_n(line.begin(), length, noticeText.begin());
  noticeLength.store(length);
}

void HoldInterruptions() {
  SavedState& s = Saved();
  if (s.depth++ > 0) return;
  for (std::atomic<int>& slot : arrived) slot.store(0);
  noticeWritten.store(false);

  const sigset_t set = SetOf(kHeldSignals);
  ::pthread_sigmask(SIG_BLOCK, &set, &s.mask);

  struct sigaction hold {};
  hold.sa_handler = OnHeldSignal;
  hold.sa_mask = set;  // one handler at a time
  hold.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kHeldSignals.size(); ++i) {
    struct sigaction& old = s.actions[i];
    ::sigaction(kHeldSignals[i], nullptr, &old);
    // A signal the program was started to ignore (nohup, a background job) stays ignored.
    s.installed[i] = old.sa_handler != SIG_IGN;
    if (s.installed[i]) ::sigaction(kHeldSignals[i], &hold, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &s.pipeAction);

  // Without a watcher the signals wait, unseen, until the hold ends: still held.
  if (::pipe2(s.wake.data(), O_CLOEXEC) == 0) {
    s.watcher = std::thread(Watch, s.wake[0]);
  } else {
    s.wake = {-1, -1};
  }
}

Interruption ReleaseInterruptions() {
  SavedState& s = Saved();
  if (s.depth == 0) return 0;
  if (--s.depth > 0) return 0;

  if (s.watcher.joinable()) {
    const char byte = 0;
    while (::write(s.wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    s.watcher.join();
  }
  CloseWakePipe(s);

  // Signals that came while every thread of ours blocked them.
  const sigset_t set = SetOf(kHeldSignals);
  const timespec now{0, 0};
  for (;;) {
    const int sig = ::sigtimedwait(&set, nullptr, &now);
    if (sig > 0) {
      Record(sig);
    } else if (errno != EINTR) {
      break;
    }
  }

  for (std::size_t i = 0; i < kHeldSignals.size(); ++i) {
    if (s.installed[i]) ::sigaction(kHeldSignals[i], &s.actions[i], nullptr);
  }
  ::sigaction(SIGPIPE, &s.pipeAction, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &s.mask, nullptr);
  return TheOneThatMatters();
}

void RaiseInterruption(Interruption interruption) {
  if (interruption <= 0) return;
  const int sig = interruption;
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  ::sigemptyset(&byDefault.sa_mask);
  struct sigaction before {};
  ::sigaction(sig, &byDefault, &before);
  sigset_t one;
  ::sigemptyset(&one);
  ::sigaddset(&one, sig);
  sigset_t mask;
  ::pthread_sigmask(SIG_UNBLOCK, &one, &mask);
  ::raise(sig);
  // Only a stop comes back here, once the program is continued.
  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  ::sigaction(sig, &before, nullptr);
}

}  // namespace orvel
