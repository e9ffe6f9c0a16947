#pragma once
// Keeps the machine from suspending, hibernating and shutting down while a
// drive rewrites its flash: a "block" inhibitor lock of systemd-logind
// (org.freedesktop.login1.Manager.Inhibit over the system bus), held as the
// file descriptor logind hands out and released by closing it. Where there is
// no system bus or no logind (a container, CI), Take says why and nothing is
// held.

#include <functional>
#include <string>
#include <string_view>

struct sd_bus;  // <systemd/sd-bus.h>, kept out of the platform's header

namespace orvel {

// What the lock holds off.
inline constexpr std::string_view kInhibitWhat =
    "shutdown:sleep:handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch";
inline constexpr std::string_view kInhibitMode = "block";

// Opens the bus connection the lock is asked on: sd-bus's convention, >= 0
// with *bus set, or a negative errno.
using BusOpener = std::function<int(sd_bus** bus)>;

class LogindInhibitor {
 public:
  // `open` defaults to the system bus (sd_bus_open_system).
  explicit LogindInhibitor(BusOpener open = {});
  ~LogindInhibitor();
  LogindInhibitor(const LogindInhibitor&) = delete;
  LogindInhibitor& operator=(const LogindInhibitor&) = delete;

  // Another bus for the next Take (tests).
  void SetBusOpener(BusOpener open);

  // Asks for the lock on behalf of `who`, giving `why`. Empty when it is held
  // (or was held already); otherwise why not, in one line.
  std::string Take(std::string_view who, std::string_view why);
  // Lets the lock go; nothing when none is held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  BusOpener open_;
  int fd_ = -1;
};

}  // namespace orvel
