// Signals while an attempt holds them, in a child process each (a signal's
// default action ends the whole process). Parent and child step each other
// through pipes: nothing waits on a clock.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace orvel {
namespace {

constexpr std::string_view kNotice = "test: cannot be stopped safely now\n";

// The child's side: lines to the parent, and waiting for the parent's go.
struct ChildSide {
  int status = -1;
  int control = -1;
  void Say(const std::string& line) const {
    const std::string text = line + "\n";
    static_cast<void>(::write(status, text.data(), text.size()));
  }
  // A blocking read that must not be interrupted: the thread that talks to
  // the drive sits in such calls while the signals are held.
  void WaitForGo() const {
    char byte = 0;
    if (::read(control, &byte, 1) != 1) Say(errno == EINTR ? "interrupted" : "read failed");
  }
};

class Child {
 public:
  explicit Child(const std::function<void(const ChildSide&)>& body) {
    std::array<int, 2> status{};
    std::array<int, 2> control{};
    std::array<int, 2> err{};
    EXPECT_EQ(::pipe(status.data()), 0);
    EXPECT_EQ(::pipe(control.data()), 0);
    EXPECT_EQ(::pipe(err.data()), 0);
    // The parent may let a child go that a signal has already ended.
    ::signal(SIGPIPE, SIG_IGN);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::signal(SIGPIPE, SIG_DFL);
      // A process group of its own whose parent is in the same session: a stop
      // signal stops it (in an orphaned group the system would drop it).
      ::setpgid(0, 0);
      const rlimit noCore{0, 0};  // SIGQUIT's default action would leave a core file
      ::setrlimit(RLIMIT_CORE, &noCore);
      ::dup2(err[1], STDERR_FILENO);
      ::close(status[0]);
      ::close(control[1]);
      ::close(err[0]);
      SetInterruptionNotice(kNotice);
      body(ChildSide{status[1], control[0]});
      ::_exit(0);
    }
    ::close(status[1]);
    ::close(control[0]);
    ::close(err[1]);
    status_ = status[0];
    control_ = control[1];
    err_ = err[0];
  }
  ~Child() {
    if (!reaped_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(status_);
    ::close(control_);
    ::close(err_);
  }

  std::string Line() {
    std::string line;
    char c = 0;
    while (::read(status_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  void Go() { static_cast<void>(::write(control_, "g", 1)); }
  void Send(int sig) { ASSERT_EQ(::kill(pid_, sig), 0); }
  // Reads the child's standard error until `text` has come.
  void WaitForError(std::string_view text) {
    char c = 0;
    while (errText_.find(text) == std::string::npos && ::read(err_, &c, 1) == 1) errText_ += c;
  }
  // Everything the child wrote on standard error, once it has ended.
  std::string ErrorText() {
    std::array<char, 256> chunk{};
    ssize_t n = 0;
    while ((n = ::read(err_, chunk.data(), chunk.size())) > 0) errText_.append(chunk.data(), static_cast<std::size_t>(n));
    return errText_;
  }
  int Wait(int options = 0) {
    int status = 0;
    ::waitpid(pid_, &status, options);
    if (!WIFSTOPPED(status)) reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  int control_ = -1;
  int err_ = -1;
  bool reaped_ = false;
  std::string errText_;
};

std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Interruptions, HeldDuringTheHoldAndActOnceItEnds) {
  Child child([](const ChildSide& c) {
    HoldInterruptions();
    c.Say("held");
    c.WaitForGo();
    const Interruption held = ReleaseInterruptions();
    c.Say("released " + std::to_string(held));
    RaiseInterruption(held);
    c.Say("survived");
  });
  ASSERT_EQ(child.Line(), "held");
  child.Send(SIGTSTP);
  child.WaitForError(kNotice);
  child.Send(SIGTERM);
  child.Go();
  // A stop came first, but an ending signal is the one that matters.
  EXPECT_EQ(child.Line(), "released " + std::to_string(SIGTERM));
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(child.Line(), "");  // neither "interrupted" nor "survived"
  EXPECT_EQ(Occurrences(child.ErrorText(), kNotice), 1u);
}

TEST(Interruptions, EveryHeldSignalIsNamedAndReraised) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    Child child([](const ChildSide& c) {
      HoldInterruptions();
      c.Say("held");
      c.WaitForGo();
      const Interruption held = ReleaseInterruptions();
      c.Say(std::to_string(held));
      RaiseInterruption(held);
    });
    ASSERT_EQ(child.Line(), "held");
    child.Send(sig);
    child.WaitForError(kNotice);
    child.Go();
    EXPECT_EQ(child.Line(), std::to_string(sig));
    const int status = child.Wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(WTERMSIG(status), sig);
  }
}

TEST(Interruptions, AHeldStopStopsOnceTheHoldEndsAndTheProgramGoesOnWhenContinued) {
  for (const int sig : {SIGTSTP, SIGTTIN, SIGTTOU}) {
    Child child([](const ChildSide& c) {
      HoldInterruptions();
      c.Say("held");
      c.WaitForGo();
      const Interruption held = ReleaseInterruptions();
      c.Say(std::to_string(held));
      RaiseInterruption(held);
      c.Say("continued");
    });
    ASSERT_EQ(child.Line(), "held");
    child.Send(sig);
    child.WaitForError(kNotice);
    child.Go();
    EXPECT_EQ(child.Line(), std::to_string(sig));
    int status = child.Wait(WUNTRACED);
    ASSERT_TRUE(WIFSTOPPED(status)) << sig;
    EXPECT_EQ(WSTOPSIG(status), sig);
    child.Send(SIGCONT);
    EXPECT_EQ(child.Line(), "continued");
    status = child.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

TEST(Interruptions, BeforeAndAfterTheHoldASignalActsAtOnce) {
  Child child([](const ChildSide& c) {
    HoldInterruptions();
    c.Say(std::to_string(ReleaseInterruptions()));
    c.WaitForGo();
    c.Say("survived");
  });
  EXPECT_EQ(child.Line(), "0");
  child.Send(SIGINT);
  child.Go();
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(child.Line(), "");
  EXPECT_EQ(child.ErrorText(), "");
}

TEST(Interruptions, ABrokenPipeIsAnErrorDuringTheHoldAndEndsTheProgramAfterIt) {
  Child child([](const ChildSide& c) {
    std::array<int, 2> pipe{};
    static_cast<void>(::pipe(pipe.data()));
    ::close(pipe[0]);
    HoldInterruptions();
    const bool failed = ::write(pipe[1], "x", 1) < 0 && errno == EPIPE;
    c.Say(failed ? "epipe" : "wrote");
    c.Say(std::to_string(ReleaseInterruptions()));
    static_cast<void>(::write(pipe[1], "x", 1));
    c.Say("survived");
  });
  EXPECT_EQ(child.Line(), "epipe");
  EXPECT_EQ(child.Line(), "0");
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGPIPE);
}

TEST(Interruptions, ASignalTheProgramWasStartedToIgnoreStaysIgnored) {
  Child child([](const ChildSide& c) {
    ::signal(SIGHUP, SIG_IGN);
    HoldInterruptions();
    c.Say("held");
    c.WaitForGo();
    c.Say(std::to_string(ReleaseInterruptions()));
    struct sigaction now {};
    ::sigaction(SIGHUP, nullptr, &now);
    c.Say(now.sa_handler == SIG_IGN ? "ignored" : "not ignored");
  });
  ASSERT_EQ(child.Line(), "held");
  child.Send(SIGHUP);
  child.Go();
  EXPECT_EQ(child.Line(), "0");
  EXPECT_EQ(child.Line(), "ignored");
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(child.ErrorText(), "");
}

TEST(Interruptions, NestedHoldsEndWithTheOutermost) {
  Child child([](const ChildSide& c) {
    HoldInterruptions();
    HoldInterruptions();
    c.Say("held");
    c.WaitForGo();
    c.Say("inner " + std::to_string(ReleaseInterruptions()));
    c.WaitForGo();
    c.Say("alive");
    const Interruption held = ReleaseInterruptions();
    c.Say("outer " + std::to_string(held));
    RaiseInterruption(held);
  });
  ASSERT_EQ(child.Line(), "held");
  child.Send(SIGTERM);
  child.WaitForError(kNotice);
  child.Go();
  EXPECT_EQ(child.Line(), "inner 0");
  // Still held: were it not, the child would end before reading the go.
  child.Send(SIGINT);
  child.Go();
  EXPECT_EQ(child.Line(), "alive");
  EXPECT_EQ(child.Line(), "outer " + std::to_string(SIGTERM));
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

}  // namespace
}  // namespace orvel
