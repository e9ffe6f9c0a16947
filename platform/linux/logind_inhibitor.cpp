#include "platform/linux/logind_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace orvel {
namespace {

constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kInhibitMethod = "Inhibit";
constexpr const char* kUnixFdType = "h";
// Above the standard streams, so that the lock never lands on one of them.
constexpr int kLowestKeptFd = 3;

std::string ErrnoText(int negativeErrno) { return std::generic_category().message(-negativeErrno); }

// Frees the bus, the reply and the error however Take leaves.
struct CallState {
  sd_bus* bus = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~CallState() {
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
  }
};

}  // namespace

LogindInhibitor::LogindInhibitor(BusOpener open) { SetBusOpener(std::move(open)); }

LogindInhibitor::~LogindInhibitor() { Release(); }

void LogindInhibitor::SetBusOpener(BusOpener open) {
  open_ = open ? std::move(open) : BusOpener([](sd_bus** bus) { return sd_bus_open_system(bus); });
}

std::string LogindInhibitor::Take(std::string_view who, std::string_view why) {
  if (Held()) return {};
  CallState call;
  const int opened = open_(&call.bus);
  if (opened < 0 || call.bus == nullptr) {
    return "no system bus to ask logind on (" + ErrnoText(opened < 0 ? opened : -ENOTCONN) + ")";
  }
  const std::string whoText(who);
  const std::string whyText(why);
  const std::string what(kInhibitWhat);
  const std::string mode(kInhibitMode);
  const int called = sd_bus_call_method(call.bus, kLogindService, kLogindPath, kLogindManager, kInhibitMethod,
                                        &call.error, &call.reply, "ssss", what.c_str(), whoText.c_str(),
                                        whyText.c_str(), mode.c_str());
  if (called < 0) {
    std::string text = "logind did not give the lock (";
    text += sd_bus_error_is_set(&call.error) != 0 && call.error.message != nullptr ? call.error.message
                                                                                    : ErrnoText(called);
    return text + ")";
  }
  int fd = -1;
  const int read = sd_bus_message_read(call.reply, kUnixFdType, &fd);
  if (read < 0) return "logind's answer holds no lock (" + ErrnoText(read) + ")";
  // The reply owns its descriptor: keep a copy of our own.
  fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, kLowestKeptFd);
  if (fd_ < 0) return "the lock's descriptor could not be kept (" + ErrnoText(-errno) + ")";
  return {};
}

void LogindInhibitor::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace orvel
