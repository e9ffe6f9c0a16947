// IsTerminal through the process's real standard streams, each pointed at a
// pipe or a pseudo terminal for a moment and put back.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/platform.h"

namespace orvel {
namespace {

// While alive, `fd` (0 or 1) stands for `replacement`.
class Redirect {
 public:
  Redirect(int fd, int replacement) : fd_(fd), saved_(::dup(fd)) { ::dup2(replacement, fd); }
  ~Redirect() {
    ::dup2(saved_, fd_);
    ::close(saved_);
  }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

 private:
  int fd_;
  int saved_;
};

// A pipe whose ends are closed with it.
class Pipe {
 public:
  Pipe() { ok_ = ::pipe(fds_) == 0; }
  ~Pipe() {
    if (ok_) {
      ::close(fds_[0]);
      ::close(fds_[1]);
    }
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return ok_; }
  // The end that suits standard input (read) or output (write).
  int EndFor(int fd) const { return fd == STDIN_FILENO ? fds_[0] : fds_[1]; }

 private:
  int fds_[2] = {-1, -1};
  bool ok_ = false;
};

// Each stream in turn on a pseudo terminal, the other on a pipe: only the
// stream asked about decides.
TEST(IsTerminal, AnswersForTheStreamAskedAbout) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    if (master >= 0) ::close(master);
    GTEST_SKIP() << "no pseudo terminals here";
  }
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  Pipe pipe;
  ASSERT_TRUE(pipe.ok());

  struct Case {
    int terminalFd;
    int pipedFd;
    StandardStream terminal;
    StandardStream piped;
  };
  constexpr Case kCases[] = {
      {STDIN_FILENO, STDOUT_FILENO, StandardStream::Input, StandardStream::Output},
      {STDOUT_FILENO, STDIN_FILENO, StandardStream::Output, StandardStream::Input},
  };
  for (const Case& c : kCases) {
    bool onTerminal = false;
    bool onPipe = true;
    {
      // Nothing may be printed while the streams are elsewhere.
      Redirect toTerminal(c.terminalFd, slave);
      Redirect toPipe(c.pipedFd, pipe.EndFor(c.pipedFd));
      onTerminal = IsTerminal(c.terminal);
      onPipe = IsTerminal(c.piped);
    }
    EXPECT_TRUE(onTerminal) << "fd " << c.terminalFd << " on a pseudo terminal";
    EXPECT_FALSE(onPipe) << "fd " << c.pipedFd << " on a pipe";
  }
  ::close(slave);
  ::close(master);
}

}  // namespace
}  // namespace orvel
