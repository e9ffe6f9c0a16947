#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/linux/sg_io.h"

namespace orvel {

namespace {

constexpr std::string_view kCdromStem = "sr";
constexpr std::string_view kGenericStem = "sg";
constexpr std::string_view kOpticalType = "5";  // SCSI peripheral type of a CD/DVD device
constexpr long kNanosPerMilli = 1000000;
constexpr std::uint32_t kMillisPerSecond = 1000;

constexpr std::string_view kRawIo = "CAP_SYS_RAWIO";
constexpr std::string_view kGroupAdvice =
    ": add your user to group 'cdrom' (sudo usermod -aG cdrom $USER) and log in again, or run as root";

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "sg3" for a name whose last component is sg followed by digits; empty otherwise.
std::string_view GenericStemOf(std::string_view name) {
  const auto slash = name.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  if (base.substr(0, kGenericStem.size()) == kGenericStem && AllDigits(base.substr(kGenericStem.size()))) {
    return base;
  }
  return {};
}

}  // namespace

LinuxPlatform::LinuxPlatform(std::string workingDirectory, std::string devRoot, std::string sysfsRoot)
    : files_(MakeNativeFileSystem(std::move(workingDirectory))),
      devRoot_(std::move(devRoot)),
      sysfsRoot_(std::move(sysfsRoot)) {}

EventHandle LinuxPlatform::CreateEvent() {
  const EventHandle ev = nextEvent_++;
  if (nextEvent_ == 0) {
    nextEvent_ = 1;
  }
  return ev;
}

std::string LinuxPlatform::DeviceName(TransportMode mode, std::uint8_t number) {
  std::string name = devRoot_;
  name += '/';
  name += mode == TransportMode::CdromDevice ? kCdromStem : kGenericStem;
  name += std::to_string(number);
  return name;
}

std::vector<std::uint8_t> LinuxPlatform::PresentDeviceNumbers(TransportMode mode) {
  std::vector<std::uint8_t> present;
  for (std::uint8_t n = 0; n < kCachedCdroms; ++n) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(DeviceName(mode, n), ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status)) present.push_back(n);
  }
  return present;
}

std::optional<int> LinuxPlatform::CdromNumber(std::string_view name) const {
  const std::string_view dir(devRoot_);
  if (name.size() <= dir.size() + 1 + kCdromStem.size() || name.substr(0, dir.size()) != dir ||
      name[dir.size()] != '/') {
    return std::nullopt;
  }
  const std::string_view base = name.substr(dir.size() + 1);
  if (base.substr(0, kCdromStem.size()) != kCdromStem || !AllDigits(base.substr(kCdromStem.size()))) {
    return std::nullopt;
  }
  const std::string_view digits = base.substr(kCdromStem.size());
  int number = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (ec != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;  // too large for any real node
  }
  return number;
}

std::string LinuxPlatform::GenericNodeFor(std::string_view name) const {
  const auto number = CdromNumber(name);
  if (!number) {
    return {};
  }
  const auto index = static_cast<std::size_t>(*number);
  if (index >= genericCache_.size()) {
    return LookUpGenericNode(*number);
  }
  if (!genericCache_[index]) {
    genericCache_[index] = LookUpGenericNode(*number);
  }
  return *genericCache_[index];
}

std::string LinuxPlatform::LookUpGenericNode(int number) const {
  namespace fs = std::filesystem;
  const std::string sr = std::string(kCdromStem) + std::to_string(number);
  const std::array<fs::path, 2> places = {
      fs::path(sysfsRoot_) / "class" / "block" / sr / "device" / "scsi_generic",
      fs::path(sysfsRoot_) / "block" / sr / "device" / "scsi_generic",
  };
  for (const auto& place : places) {
    std::error_code ec;
    for (fs::directory_iterator it(place, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string entry = it->path().filename().string();
      if (!GenericStemOf(entry).empty()) {
        return devRoot_ + "/" + entry;
      }
    }
  }
  return {};
}

bool LinuxPlatform::IsOpticalGeneric(std::string_view sgName) const {
  namespace fs = std::filesystem;
  std::ifstream in(fs::path(sysfsRoot_) / "class" / "scsi_generic" / std::string(sgName) / "device" / "type");
  std::string type;
  if (!(in >> type)) {
    return true;  // unknown: assume it may be a drive rather than stay silent
  }
  return type == kOpticalType;
}

void LinuxPlatform::NoteOpenFailure(const std::string& path, int err, bool knownDrive) {
  if ((err != EACCES && err != EPERM) || !knownDrive || !accessProblem_.empty()) {
    return;
  }
  accessProblem_ = "cannot open " + path;
  accessProblem_ += err == EACCES ? " (permission denied)" : " (operation not permitted)";
  accessProblem_ += kGroupAdvice;
}

DeviceHandle LinuxPlatform::OpenDevice(std::string_view name) {
  const std::string path(name);
  const bool cdrom = CdromNumber(name).has_value();
  const std::string generic = GenericNodeFor(name);
  if (!generic.empty()) {
    const int fd = OpenNode(generic);
    if (fd >= 0) {
      lastFd_ = fd;
      lastFdIsCdrom_ = false;
      lastPath_ = generic;
      return fd;
    }
    NoteOpenFailure(generic, -fd, true);
  }
  const int fd = OpenNode(path);
  if (fd < 0) {
    const std::string_view stem = GenericStemOf(path);
    NoteOpenFailure(path, -fd, cdrom || (!stem.empty() && IsOpticalGeneric(stem)));
    return -1;
  }
  lastFd_ = fd;
  lastFdIsCdrom_ = cdrom;
  lastPath_ = path;
  return fd;
}

PassThroughResult LinuxPlatform::PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) {
  std::array<std::uint8_t, kRawSenseSize> rawSense{};
  sg_io_hdr_t hdr{};
  if (dev < 0 || !PassThroughToSgIo(block, rawSense, hdr)) {
    return PassThroughResult::Failed;
  }
  const int rc = SendSgIo(dev, hdr);
  if (rc == -ETIMEDOUT) {
    return PassThroughResult::TimedOut;
  }
  if (rc < 0) {
    // The kernel filters vendor opcodes on block nodes for unprivileged callers.
    // Said first, before any earlier open failure (which then tells why the
    // generic node was not used): this is what kept the command from the drive.
    if (rc == -EPERM && dev == lastFd_ && lastFdIsCdrom_ && accessProblem_.find(kRawIo) == std::string::npos) {
      std::string refusal = "the kernel refuses vendor commands to " + lastPath_ + " without ";
      refusal += kRawIo;
      if (accessProblem_.empty()) {
        accessProblem_ = refusal + "; give your user read-write access to the drive's SCSI generic node (/dev/sg*)";
        accessProblem_ += kGroupAdvice;
      } else {
        accessProblem_ = refusal + ", and " + accessProblem_;
      }
    }
    return PassThroughResult::Failed;
  }
  return SgIoToPassThrough(hdr, rawSense, block);
}

void LinuxPlatform::CloseDevice(DeviceHandle dev) {
  if (dev < 0) {
    return;
  }
  ::close(dev);
  if (dev == lastFd_) {
    lastFd_ = -1;
    lastFdIsCdrom_ = false;
  }
}

void LinuxPlatform::Sleep(std::uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / kMillisPerSecond),
                static_cast<long>(milliseconds % kMillisPerSecond) * kNanosPerMilli};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int LinuxPlatform::OpenNode(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return fd < 0 ? -errno : fd;
}

int LinuxPlatform::SendSgIo(int fd, sg_io_hdr_t& hdr) {
  return ::ioctl(fd, SG_IO, &hdr) < 0 ? -errno : 0;
}

// The Linux backend is the native platform of a Linux build.
std::unique_ptr<Platform> MakeNativePlatform(std::string workingDirectory) {
  return std::make_unique<LinuxPlatform>(std::move(workingDirectory));
}

}  // namespace orvel
