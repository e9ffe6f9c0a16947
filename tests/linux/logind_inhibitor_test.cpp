// The inhibitor lock over sd-bus, against a logind of the test's own on a
// socket pair (the Manager's Inhibit method, answered with a pipe's write end
// as the lock), and with no bus at all.

#include "platform/linux/logind_inhibitor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_platform.h"

namespace orvel {
namespace {

constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr std::uint64_t kWaitForever = UINT64_MAX;

// logind's Manager with one method, serving one connection until the client hangs up.
class FakeLogind {
 public:
  bool refuse = false;
  std::vector<std::string> arguments;  // what, who, why, mode of the last call
  int calls = 0;
  int lockReadEnd = -1;                // EOF here once every copy of the lock is closed

  FakeLogind() {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets_.data()), 0);
    server_ = std::thread([this] { Serve(); });
  }
  ~FakeLogind() {
    Finish();
    if (lockReadEnd >= 0) ::close(lockReadEnd);
  }

  // Waits until the client has hung up and this logind has let go of
  // everything it held (its copy of the lock included).
  void Finish() {
    if (sockets_[1] >= 0) ::close(sockets_[1]);  // a client never connected
    sockets_[1] = -1;
    if (server_.joinable()) server_.join();
  }

  // Connects a client bus to this logind (once).
  BusOpener Opener() {
    return [this](sd_bus** bus) {
      int r = sd_bus_new(bus);
      if (r < 0) return r;
      r = sd_bus_set_fd(*bus, sockets_[1], sockets_[1]);
      sockets_[1] = -1;  // the bus owns it now
      if (r >= 0) r = sd_bus_negotiate_fds(*bus, 1);
      if (r >= 0) r = sd_bus_start(*bus);
      return r;
    };
  }

  // Whether the lock is still held by anyone (the write end still open somewhere).
  bool LockHeld() const {
    pollfd p{lockReadEnd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
  }

 private:
  static int OnCall(sd_bus_message* m, void* self, sd_bus_error*) {
    return static_cast<FakeLogind*>(self)->Answer(m);
  }

  int Answer(sd_bus_message* m) {
    if (sd_bus_message_is_method_call(m, kManager, "Inhibit") == 0) return 0;
    ++calls;
    std::array<const char*, 4> args{};
    sd_bus_message_read(m, "ssss", &args[0], &args[1], &args[2], &args[3]);
    arguments.assign(args.begin(), args.end());
    if (refuse) {
      return sd_bus_reply_method_errorf(m, "org.freedesktop.DBus.Error.AccessDenied", "Permission denied");
    }
    std::array<int, 2> lock{};
    EXPECT_EQ(::pipe2(lock.data(), O_CLOEXEC), 0);
    const int r = sd_bus_reply_method_return(m, "h", lock[1]);  // the message keeps a copy
    ::close(lock[1]);
    lockReadEnd = lock[0];
    return r;
  }

  void Serve() {
    sd_bus* bus = nullptr;
    sd_id128_t id{};
    sd_id128_randomize(&id);
    if (sd_bus_new(&bus) < 0) return;
    sd_bus_set_fd(bus, sockets_[0], sockets_[0]);
    sd_bus_set_server(bus, 1, id);
    sd_bus_negotiate_fds(bus, 1);
    sd_bus_add_object(bus, nullptr, kManagerPath, &FakeLogind::OnCall, this);
    if (sd_bus_start(bus) >= 0) {
      for (;;) {
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) break;
        if (r > 0) continue;
        if (sd_bus_wait(bus, kWaitForever) < 0) break;
      }
    }
    sd_bus_flush_close_unref(bus);
  }

  std::array<int, 2> sockets_{-1, -1};
  std::thread server_;
};

TEST(LogindInhibitor, NoSystemBusMeansNoLockAndSaysWhy) {
  LogindInhibitor inhibitor([](sd_bus**) { return -ENOENT; });
  EXPECT_EQ(inhibitor.Take("orvel-cli", "testing"), "no system bus to ask logind on (No such file or directory)");
  EXPECT_FALSE(inhibitor.Held());
  inhibitor.Release();  // nothing to let go
  EXPECT_FALSE(inhibitor.Held());
}

TEST(LogindInhibitor, ABlockLockOnShutdownSleepAndTheKeysIsHeldUntilReleased) {
  FakeLogind logind;
  {
    LogindInhibitor inhibitor(logind.Opener());
    EXPECT_EQ(inhibitor.Take("orvel-cli", "rewriting"), "");
    logind.Finish();
    EXPECT_TRUE(inhibitor.Held());
    EXPECT_EQ(logind.arguments, (std::vector<std::string>{std::string(kInhibitWhat), "orvel-cli", "rewriting",
                                                          "block"}));
    EXPECT_EQ(std::string(kInhibitWhat),
              "shutdown:sleep:handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch");
    EXPECT_TRUE(logind.LockHeld());  // the connection is gone; the lock is not
    EXPECT_EQ(inhibitor.Take("orvel-cli", "again"), "");  // held already: logind is not asked twice
    inhibitor.Release();
    EXPECT_FALSE(inhibitor.Held());
    EXPECT_FALSE(logind.LockHeld());
  }
  EXPECT_EQ(logind.calls, 1);
}

TEST(LogindInhibitor, ARefusalIsNamed) {
  FakeLogind logind;
  logind.refuse = true;
  LogindInhibitor inhibitor(logind.Opener());
  EXPECT_EQ(inhibitor.Take("orvel-cli", "rewriting"), "logind did not give the lock (Permission denied)");
  EXPECT_FALSE(inhibitor.Held());
}

TEST(LogindInhibitor, TheLinuxPlatformHoldsTheLockForTheAttemptOnly) {
  FakeLogind logind;
  LinuxPlatform platform(".");
  platform.Inhibitor().SetBusOpener(logind.Opener());
  const AttemptHold hold = platform.BeginAttempt();
  logind.Finish();
  EXPECT_TRUE(hold.machineKeptAwake);
  EXPECT_EQ(hold.whyNot, "");
  EXPECT_EQ(logind.arguments.at(3), "block");
  EXPECT_TRUE(logind.LockHeld());
  EXPECT_EQ(platform.EndAttempt(), 0);
  EXPECT_FALSE(logind.LockHeld());
}

TEST(LogindInhibitor, WithoutLogindTheAttemptGoesOnAndSaysSo) {
  LinuxPlatform platform(".");
  platform.Inhibitor().SetBusOpener([](sd_bus**) { return -ECONNREFUSED; });
  const AttemptHold hold = platform.BeginAttempt();
  EXPECT_FALSE(hold.machineKeptAwake);
  EXPECT_EQ(hold.whyNot, "no system bus to ask logind on (Connection refused)");
  EXPECT_EQ(platform.EndAttempt(), 0);
}

}  // namespace
}  // namespace orvel
