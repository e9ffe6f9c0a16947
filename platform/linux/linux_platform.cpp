#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/linux/sg_io.h"

namespace orvel {

namespace {

constexpr std::string_view kCdromStem = "sr";
constexpr std::string_view kGenericStem = "sg";
constexpr std::string_view kOpticalType = "5";  // SCSI peripheral type of a CD/DVD device
constexpr long kNanosPerMilli = 1000000;
constexpr std::uint32_t kMillisPerSecond = 1000;
constexpr const char* kInhibitReason = "A drive's firmware is being rewritten; an interruption can leave the drive unusable";
constexpr std::size_t kScsiAddressParts = 4;     // host, channel, target, lun
constexpr std::size_t kMountInfoDeviceField = 2;  // "major:minor", counted from 0
constexpr unsigned kHalfWordBits = 32;

constexpr std::string_view kRawIo = "CAP_SYS_RAWIO";
constexpr std::string_view kGroupRemedy =
    "add your user to group 'cdrom' (sudo usermod -aG cdrom $USER) and log in again, or run as root";
constexpr std::string_view kGenericRemedy = "give your user read-write access to the drive's SCSI generic node (/dev/sg*)";
constexpr std::uint16_t kLargestNodeNumber = 0xFFFF;  // the route's numbers are 16 bits wide

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

// The number of a name that is `stem` followed by digits ("sr12" -> 12).
std::optional<std::uint16_t> NumberAfterStem(std::string_view name, std::string_view stem) {
  if (name.substr(0, stem.size()) != stem || !AllDigits(name.substr(stem.size()))) return std::nullopt;
  const std::string_view digits = name.substr(stem.size());
  unsigned number = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (ec != std::errc() || end != digits.data() + digits.size() || number > kLargestNodeNumber) return std::nullopt;
  return static_cast<std::uint16_t>(number);
}

enum class Entries { Any, NotDirectories };

// Adds the numbers of the entries of `dir` named `stem` and digits.
void CollectNumbers(const std::filesystem::path& dir, std::string_view stem, Entries which,
                    std::set<std::uint16_t>& numbers) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const auto n = NumberAfterStem(it->path().filename().string(), stem);
    std::error_code kindError;
    if (n && (which == Entries::Any || !it->is_directory(kindError))) numbers.insert(*n);
  }
}

// "0:0:1:0": four decimal numbers joined by colons.
bool IsScsiAddress(std::string_view text) {
  std::size_t parts = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = text.find(':', start);
    const std::string_view part = text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (!AllDigits(part)) return false;
    ++parts;
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return parts == kScsiAddressParts;
}

std::string DeviceNumberText(dev_t rdev) {
  return std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
}

// The first word of a small sysfs file; empty when it cannot be read.
std::string ReadWord(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string word;
  in >> word;
  return word;
}

}  // namespace

LinuxPlatform::LinuxPlatform(std::string workingDirectory, std::string devRoot, std::string sysfsRoot,
                             std::string mountInfo)
    : files_(MakeNativeFileSystem(std::move(workingDirectory))),
      devRoot_(std::move(devRoot)),
      sysfsRoot_(std::move(sysfsRoot)),
      mountInfo_(std::move(mountInfo)) {}

LinuxPlatform::~LinuxPlatform() { CloseHeld(); }

EventHandle LinuxPlatform::CreateEvent() {
  const EventHandle ev = nextEvent_++;
  if (nextEvent_ == 0) {
    nextEvent_ = 1;
  }
  return ev;
}

std::string LinuxPlatform::DeviceName(TransportMode mode, std::uint16_t number) {
  std::string name = devRoot_;
  name += '/';
  name += mode == TransportMode::CdromDevice ? kCdromStem : kGenericStem;
  name += std::to_string(number);
  return name;
}

std::vector<std::uint16_t> LinuxPlatform::RouteDeviceNumbers(TransportMode mode) {
  namespace fs = std::filesystem;
  // The devices the kernel knows, and the nodes /dev holds (sysfs may be
  // hidden in a container): a number of either is worth an open.
  std::set<std::uint16_t> numbers;
  if (mode == TransportMode::CdromDevice) {
    CollectNumbers(fs::path(sysfsRoot_) / "class" / "block", kCdromStem, Entries::Any, numbers);
    CollectNumbers(fs::path(sysfsRoot_) / "block", kCdromStem, Entries::Any, numbers);
  } else if (mode == TransportMode::DriveLetter) {
    CollectNumbers(fs::path(sysfsRoot_) / "class" / "scsi_generic", kGenericStem, Entries::Any, numbers);
  } else {
    return {};
  }
  CollectNumbers(devRoot_, mode == TransportMode::CdromDevice ? kCdromStem : kGenericStem, Entries::NotDirectories,
                 numbers);
  return {numbers.begin(), numbers.end()};
}

std::vector<std::uint16_t> LinuxPlatform::PresentDeviceNumbers(TransportMode mode) {
  std::vector<std::uint16_t> present;
  for (const std::uint16_t n : RouteDeviceNumbers(mode)) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(DeviceName(mode, n), ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status)) present.push_back(n);
  }
  return present;
}

DeviceNodes LinuxPlatform::NodesOf(std::string_view name) {
  DeviceNodes nodes;
  if (CdromNumber(name)) {
    nodes.block = std::string(name);
    nodes.generic = GenericNodeFor(name);
    return nodes;
  }
  const std::string_view stem = GenericStemOf(name);
  if (stem.empty()) return nodes;
  nodes.generic = std::string(name);
  // The block node of the same SCSI device, when the sr driver has one.
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path blocks = fs::path(sysfsRoot_) / "class" / "scsi_generic" / std::string(stem) / "device" / "block";
  for (fs::directory_iterator it(blocks, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (NumberAfterStem(entry, kCdromStem)) {
      nodes.block = devRoot_ + "/" + entry;
      break;
    }
  }
  return nodes;
}

std::string LinuxPlatform::ResolveNodePath(std::string_view path) {
  // /dev/cdrom and /dev/disk/by-id/... are links to the node itself.
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  return ec ? std::filesystem::path(path).lexically_normal().string() : resolved.string();
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
  const auto cached = genericCache_.find(*number);
  if (cached != genericCache_.end()) return cached->second;
  return genericCache_[*number] = LookUpGenericNode(*number);
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

void LinuxPlatform::NoteProblem(NodeAccessProblem problem) {
  const bool known = std::any_of(accessProblems_.begin(), accessProblems_.end(), [&](const NodeAccessProblem& p) {
    return p.node == problem.node && p.reason == problem.reason;
  });
  if (!known) accessProblems_.push_back(std::move(problem));
}

void LinuxPlatform::NoteOpenFailure(const std::string& path, int err, bool knownDrive) {
  if ((err != EACCES && err != EPERM) || !knownDrive) {
    return;
  }
  const std::string reason = err == EACCES ? "permission denied" : "operation not permitted";
  NoteProblem({path, reason, std::string(kGroupRemedy),
               err == EACCES ? AccessReason::PermissionDenied : AccessReason::NotPermitted,
               AccessRemedy::JoinCdromGroup});
  if (!accessProblem_.empty()) return;  // the line for people names the first
  accessProblem_ = "cannot open " + path + " (" + reason + "): " + std::string(kGroupRemedy);
}

DeviceHandle LinuxPlatform::OpenDevice(std::string_view name) {
  const std::string path(name);
  const auto listed = listed_.find(path);
  if (heldFd_ >= 0 && path == heldName_) {
    // The claim's one descriptor serves every command of the attempt.
    if (listed == listed_.end() || !StillListed(heldFd_, listed->second)) return -1;
    lastFd_ = heldFd_;
    lastFdIsCdrom_ = !listed->second.route.character && CdromNumber(name).has_value();
    lastPath_ = listed->second.route.path;
    return heldFd_;
  }

  const bool cdrom = CdromNumber(name).has_value();
  const std::string generic = GenericNodeFor(name);
  int fd = -1;
  std::string route;
  if (!generic.empty()) {
    fd = OpenNode(generic);
    if (fd >= 0) {
      route = generic;
    } else {
      NoteOpenFailure(generic, -fd, true);
    }
  }
  if (fd < 0) {
    fd = OpenNode(path);
    if (fd < 0) {
      const std::string_view stem = GenericStemOf(path);
      NoteOpenFailure(path, -fd, cdrom || (!stem.empty() && IsOpticalGeneric(stem)));
      return -1;
    }
    route = path;
  }

  const std::optional<NodeIdentity> identity = IdentityOfDescriptor(fd, route);
  if (identity) {
    lastOpened_[path] = *identity;
  } else {
    lastOpened_.erase(path);
  }
  // A listed name reaches nothing but the device that was listed.
  if (listed != listed_.end() && !StillListed(fd, listed->second)) {
    ::close(fd);
    return -1;
  }
  lastFd_ = fd;
  lastFdIsCdrom_ = cdrom && route == path;
  lastPath_ = route;
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
      NoteProblem({lastPath_, "the kernel refuses vendor commands to it without " + std::string(kRawIo),
                   std::string(kGenericRemedy) + ": " + std::string(kGroupRemedy),
                   AccessReason::VendorCommandsFiltered, AccessRemedy::GenericNodeOrGroup});
      if (accessProblem_.empty()) {
        accessProblem_ = refusal + "; " + std::string(kGenericRemedy) + ": " + std::string(kGroupRemedy);
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
  // The claimed descriptor stays open until the claim ends.
  if (dev != heldFd_) ::close(dev);
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

int LinuxPlatform::OpenNodeExclusively(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL);
  return fd < 0 ? -errno : fd;
}

int LinuxPlatform::SendSgIo(int fd, sg_io_hdr_t& hdr) {
  return ::ioctl(fd, SG_IO, &hdr) < 0 ? -errno : 0;
}

std::uint64_t LinuxPlatform::MonotonicMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * kMillisPerSecond +
         static_cast<std::uint64_t>(now.tv_nsec / kNanosPerMilli);
}

AttemptHold LinuxPlatform::BeginAttempt() {
  AttemptHold hold;
  // Asked first: the bus may take a while, and until the drive is touched an
  // interruption may still end the program.
  hold.whyNot = inhibitor_.Take(program_invocation_short_name, kInhibitReason);
  hold.machineKeptAwake = hold.whyNot.empty();
  if (!hold.machineKeptAwake) hold.gap = AwakeGap::NoLogindLock;
  HoldInterruptions();
  return hold;
}

Interruption LinuxPlatform::EndAttempt() {
  const Interruption held = ReleaseInterruptions();
  inhibitor_.Release();
  return held;
}

int LinuxPlatform::StatDescriptor(int fd, struct stat& st) { return ::fstat(fd, &st) < 0 ? -errno : 0; }

int LinuxPlatform::StatPath(const std::string& path, struct stat& st) {
  return ::stat(path.c_str(), &st) < 0 ? -errno : 0;
}

std::string LinuxPlatform::SysfsNodeDir(dev_t rdev, bool character) const {
  return sysfsRoot_ + (character ? "/dev/char/" : "/dev/block/") + DeviceNumberText(rdev);
}

std::optional<LinuxPlatform::NodeIdentity> LinuxPlatform::IdentityOf(const std::string& path,
                                                                      const struct stat& st) const {
  if (!S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) return std::nullopt;
  NodeIdentity id;
  id.path = path;
  id.rdev = st.st_rdev;
  id.character = S_ISCHR(st.st_mode);
  std::error_code ec;
  const std::filesystem::path link = std::filesystem::read_symlink(SysfsNodeDir(id.rdev, id.character) + "/device", ec);
  const std::string address = ec ? std::string() : link.filename().string();
  if (IsScsiAddress(address)) id.scsiAddress = address;
  return id;
}

std::optional<LinuxPlatform::NodeIdentity> LinuxPlatform::IdentityOfDescriptor(int fd, const std::string& path) {
  struct stat st {};
  if (StatDescriptor(fd, st) != 0) return std::nullopt;
  return IdentityOf(path, st);
}

std::optional<LinuxPlatform::NodeIdentity> LinuxPlatform::IdentityOfPath(const std::string& path) {
  struct stat st {};
  if (StatPath(path, st) != 0) return std::nullopt;
  return IdentityOf(path, st);
}

bool LinuxPlatform::IsOpticalNode(const NodeIdentity& node) const {
  return ReadWord(SysfsNodeDir(node.rdev, node.character) + "/device/type") == kOpticalType;
}

bool LinuxPlatform::StillListed(int fd, const ListedNode& listed) {
  const std::optional<NodeIdentity> now = IdentityOfDescriptor(fd, listed.route.path);
  return now && *now == listed.route && IsOpticalNode(*now);
}

bool LinuxPlatform::DriveMounted(const NodeIdentity& node, const std::optional<NodeIdentity>& also) const {
  namespace fs = std::filesystem;
  std::set<std::string> numbers;
  if (!node.character) numbers.insert(DeviceNumberText(node.rdev));
  if (also && !also->character) numbers.insert(DeviceNumberText(also->rdev));
  // Every block node of the same SCSI device: the sr node of an sg node.
  std::error_code ec;
  const fs::path blocks = fs::path(SysfsNodeDir(node.rdev, node.character)) / "device" / "block";
  for (fs::directory_iterator it(blocks, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string number = ReadWord(it->path() / "dev");
    if (!number.empty()) numbers.insert(number);
  }
  std::ifstream in(mountInfo_);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string field;
    for (std::size_t i = 0; i <= kMountInfoDeviceField && fields >> field; ++i) {
    }
    if (numbers.count(field) != 0) return true;
  }
  return false;
}

int LinuxPlatform::RememberListedDevice(std::string_view name) {
  const auto opened = lastOpened_.find(name);
  if (opened == lastOpened_.end() || opened->second.scsiAddress.empty()) return 0;
  ListedNode node;
  node.route = opened->second;
  if (node.route.path != name) {
    // Reached through its generic node: the block node must be the same drive.
    node.cdrom = IdentityOfPath(std::string(name));
    if (!node.cdrom || node.cdrom->character || node.cdrom->scsiAddress != node.route.scsiAddress) return 0;
  }
  listed_[std::string(name)] = std::move(node);
  return 1;
}

DeviceClaimResult LinuxPlatform::ClaimListedDevice(std::string_view name) {
  CloseHeld();
  const auto it = listed_.find(name);
  if (it == listed_.end()) return DeviceClaimResult::NotListed;
  const ListedNode& listed = it->second;
  if (listed.cdrom) {
    const std::optional<NodeIdentity> now = IdentityOfPath(listed.cdrom->path);
    if (!now || !(*now == *listed.cdrom)) return DeviceClaimResult::Changed;
  }
  const int fd = OpenNodeExclusively(listed.route.path);
  if (fd < 0) {
    if (fd == -EBUSY) {
      // A block node is refused so while a medium of it is mounted.
      return DriveMounted(listed.route, listed.cdrom) ? DeviceClaimResult::Mounted : DeviceClaimResult::InUse;
    }
    if (fd == -EACCES || fd == -EPERM) return DeviceClaimResult::NoAccess;
    return DeviceClaimResult::Changed;
  }
  const std::optional<NodeIdentity> now = IdentityOfDescriptor(fd, listed.route.path);
  DeviceClaimResult result = DeviceClaimResult::Claimed;
  if (!now || !(*now == listed.route)) {
    result = DeviceClaimResult::Changed;
  } else if (!IsOpticalNode(*now)) {
    result = DeviceClaimResult::NotOptical;
  } else if (DriveMounted(listed.route, listed.cdrom)) {
    result = DeviceClaimResult::Mounted;
  }
  if (result != DeviceClaimResult::Claimed) {
    ::close(fd);
    return result;
  }
  heldName_ = it->first;
  heldFd_ = fd;
  return result;
}

void LinuxPlatform::ReleaseListedDevice(std::string_view name) {
  if (heldFd_ >= 0 && name == heldName_) CloseHeld();
}

void LinuxPlatform::CloseHeld() {
  if (heldFd_ < 0) return;
  ::close(heldFd_);
  if (lastFd_ == heldFd_) {
    lastFd_ = -1;
    lastFdIsCdrom_ = false;
  }
  heldFd_ = -1;
  heldName_.clear();
}

std::uint64_t LinuxPlatform::RandomSeed() {
  std::uint64_t seed = 0;
  if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof seed)) return seed;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<std::uint64_t>(now.tv_sec) << kHalfWordBits) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
         static_cast<std::uint64_t>(::getpid());
}

// The Linux backend is the native platform of a Linux build.
std::unique_ptr<Platform> MakeNativePlatform(std::string workingDirectory) {
  return std::make_unique<LinuxPlatform>(std::move(workingDirectory));
}

}  // namespace orvel
