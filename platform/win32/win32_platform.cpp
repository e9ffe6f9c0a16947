#include "platform/win32/win32_platform.h"

#include "platform/win32/windows_shim.h"

#include <algorithm>
#include <cstdint>

#include "platform/request_blocks.h"

namespace orvel {

// The request blocks hold 32-bit pointers and the pass-through header is the
// 44-byte layout of a 32-bit system: the programs are built for i686. A 64-bit
// build exists only to run the test suites under 64-bit Wine; its tests keep
// ASPI blocks and buffers below 4 GiB and use the pass-through only where it fails.
constexpr std::uintptr_t kLargest32BitAddress = 0xFFFFFFFFu;

namespace {

constexpr DWORD kVersionInfoSize = 148;  // OSVERSIONINFOA of Windows 95 and NT 4
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize);

constexpr std::string_view kCdromPrefix = "\\\\.\\cdrom";
constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr char kFirstDriveLetter = 'd';
constexpr char kDriveColon = ':';

// "\\.\X:": a drive letter's volume.
bool IsDriveLetterName(std::string_view name) {
  constexpr std::size_t kLetterAt = kDevicePrefix.size();
  if (name.size() != kLetterAt + 2 || name.substr(0, kLetterAt) != kDevicePrefix) return false;
  const char letter = name[kLetterAt];
  return ((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z')) && name[kLetterAt + 1] == kDriveColon;
}

constexpr std::string_view kElevationAdvice =
    ": the SCSI pass-through needs administrator rights; run orvel-cli from an elevated command prompt "
    "(Run as administrator)";

// Wine answers so for a drive its mount manager knows.
constexpr std::string_view kNotSupportedAdvice =
    ": the system does not pass SCSI commands to this device name (under Wine, link dosdevices/cdromN to the "
    "drive's /dev/sgN)";

// ASPI entry points are cdecl, whatever the system's own calling convention.
using SupportInfoEntry = DWORD(__cdecl*)();
using SendCommandEntry = DWORD(__cdecl*)(void*);

HANDLE AsHandle(EventHandle ev) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(ev)); }

Win32Platform::Procedure Resolve(HMODULE module, std::string_view name) {
  const std::string entry(name);
  const FARPROC proc = ::GetProcAddress(module, entry.c_str());
  // Through the generic function type, which converts to any other.
  return reinterpret_cast<Win32Platform::Procedure>(proc);
}

}  // namespace

class Win32Platform::Library final : public AspiLibrary {
 public:
  explicit Library(HMODULE module) : module_(module) {}
  ~Library() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool HasEntryPoint(std::string_view name) override { return Resolve(module_, name) != nullptr; }

  std::uint32_t GetASPI32SupportInfo() override {
    const auto entry = reinterpret_cast<SupportInfoEntry>(Resolve(module_, "GetASPI32SupportInfo"));
    return entry != nullptr ? entry() : 0;
  }

  void SendASPI32Command(std::span<std::uint8_t> srb) override {
    if (send_ == nullptr) send_ = reinterpret_cast<SendCommandEntry>(Resolve(module_, "SendASPI32Command"));
    if (send_ != nullptr) send_(srb.data());
  }

  Procedure EntryPoint(std::string_view name) const { return Resolve(module_, name); }

 private:
  HMODULE module_;
  SendCommandEntry send_ = nullptr;
};

Win32Platform::Win32Platform(std::string workingDirectory, Win32Options options)
    : options_(options), files_(MakeWin32FileSystem(std::move(workingDirectory))) {}

Win32Platform::~Win32Platform() {
  LetHeldGo();
  for (const Device& device : devices_) {
    if (device.handle != nullptr) ::CloseHandle(device.handle);
  }
}

std::uint32_t Win32Platform::PlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = kVersionInfoSize;
  if (!::GetVersionExA(&info)) return 0;
  return info.dwPlatformId;
}

AspiLibrary* Win32Platform::LoadLibrary(std::string_view name) {
  const std::string file(name);
  const HMODULE module = ::LoadLibraryA(file.c_str());
  if (module == nullptr) return nullptr;
  libraries_.push_back(std::make_unique<Library>(module));
  return libraries_.back().get();
}

void Win32Platform::FreeLibrary(AspiLibrary* lib) {
  const auto it = std::find_if(libraries_.begin(), libraries_.end(), [lib](const auto& l) { return l.get() == lib; });
  if (it != libraries_.end()) libraries_.erase(it);  // FreeLibrary in its destructor
}

Win32Platform::Procedure Win32Platform::EntryPoint(AspiLibrary* lib, std::string_view name) {
  const auto* library = dynamic_cast<const Library*>(lib);
  return library != nullptr ? library->EntryPoint(name) : nullptr;
}

std::uint32_t Win32Platform::RegisterBuffer(std::span<std::uint8_t> buffer) {
  const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
  return address <= kLargest32BitAddress ? static_cast<std::uint32_t>(address) : 0;
}

EventHandle Win32Platform::CreateEvent() {
  const HANDLE ev = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const auto value = reinterpret_cast<std::uintptr_t>(ev);
  if (value <= kLargest32BitAddress) return static_cast<EventHandle>(value);
  ::CloseHandle(ev);  // cannot travel in SRB_PostProc
  return 0;
}

WaitResult Win32Platform::WaitEvent(EventHandle ev, std::uint32_t milliseconds) {
  // A failed wait counts as a time-out: the request may still be running.
  return ::WaitForSingleObject(AsHandle(ev), milliseconds) == WAIT_OBJECT_0 ? WaitResult::Signalled
                                                                             : WaitResult::TimedOut;
}

void Win32Platform::ResetEvent(EventHandle ev) { ::ResetEvent(AsHandle(ev)); }

void Win32Platform::CloseEvent(EventHandle ev) {
  if (ev != 0) ::CloseHandle(AsHandle(ev));
}

std::string Win32Platform::DeviceName(TransportMode mode, std::uint16_t number) {
  if (mode == TransportMode::CdromDevice) return std::string(kCdromPrefix) + std::to_string(number);
  std::string name(kDevicePrefix);
  name += static_cast<char>(kFirstDriveLetter + number);
  name += kDriveColon;
  return name;
}

DeviceHandle Win32Platform::OpenDevice(std::string_view name) {
  // The claim's handle serves every command of the attempt: a handle stays on
  // its device, and a locked volume takes no other.
  if (heldDevice_ >= 0 && devices_[heldDevice_].name == name) return heldDevice_;
  const std::string device(name);
  const HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    NoteFailure("cannot open ", device, ::GetLastError());
    return -1;
  }
  const auto freeSlot =
      std::find_if(devices_.begin(), devices_.end(), [](const Device& d) { return d.handle == nullptr; });
  if (freeSlot != devices_.end()) {
    *freeSlot = {handle, device};
    return static_cast<DeviceHandle>(freeSlot - devices_.begin());
  }
  devices_.push_back({handle, device});
  return static_cast<DeviceHandle>(devices_.size() - 1);
}

PassThroughResult Win32Platform::PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) {
  const Device* device = Find(dev);
  if (device == nullptr || block.size() < spt::kDataArea || block.size() > spt::kBlockSize) {
    return PassThroughResult::Failed;
  }
  const auto size = static_cast<DWORD>(block.size());
  DWORD returned = 0;
  if (::DeviceIoControl(device->handle, spt::IOCTL_SCSI_PASS_THROUGH, block.data(), size, block.data(), size,
                        &returned, nullptr)) {
    return PassThroughResult::Done;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT) return PassThroughResult::TimedOut;
  NoteFailure("the SCSI pass-through was refused on ", device->name, error);
  return PassThroughResult::Failed;
}

void Win32Platform::CloseDevice(DeviceHandle dev) {
  Device* device = Find(dev);
  if (device == nullptr || device->held) return;
  ::CloseHandle(device->handle);
  *device = {};
}

Win32Platform::Device* Win32Platform::Find(DeviceHandle dev) {
  if (dev < 0 || static_cast<std::size_t>(dev) >= devices_.size() || devices_[dev].handle == nullptr) return nullptr;
  return &devices_[dev];
}

void Win32Platform::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool Win32Platform::QueryDeviceNumber(const std::string& name, ListedDevice& into) {
  // No access rights asked: the query needs none and disturbs no other user of the device.
  const HANDLE handle =
      ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  STORAGE_DEVICE_NUMBER number{};
  DWORD returned = 0;
  const BOOL told = ::DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                                      &returned, nullptr);
  ::CloseHandle(handle);
  if (!told || returned < sizeof number) return false;
  into.type = number.DeviceType;
  into.number = number.DeviceNumber;
  return true;
}

int Win32Platform::RememberListedDevice(std::string_view name) {
  ListedDevice entry{std::string(name)};
  entry.numbered = QueryDeviceNumber(entry.name, entry);
  const auto it = std::find_if(listed_.begin(), listed_.end(), [&](const ListedDevice& d) { return d.name == name; });
  if (it != listed_.end()) {
    *it = entry;
  } else {
    listed_.push_back(entry);
  }
  return 1;
}

DeviceClaimResult Win32Platform::ClaimListedDevice(std::string_view name) {
  LetHeldGo();
  const auto it = std::find_if(listed_.begin(), listed_.end(), [&](const ListedDevice& d) { return d.name == name; });
  if (it == listed_.end()) return DeviceClaimResult::NotListed;
  if (it->numbered) {
    ListedDevice now{it->name};
    if (!QueryDeviceNumber(now.name, now) || now.number != it->number || now.type != it->type) {
      return DeviceClaimResult::Changed;
    }
    if (now.type != FILE_DEVICE_CD_ROM && now.type != FILE_DEVICE_DVD) return DeviceClaimResult::NotOptical;
  }
  if (IsDriveLetterName(it->name)) {
    const DeviceClaimResult volume = HoldDriveLetter(it->name);
    if (volume != DeviceClaimResult::Claimed) return volume;
  }
  held_ = it->name;
  return DeviceClaimResult::Claimed;
}

DeviceClaimResult Win32Platform::ClaimAfterRefusedLock(std::uint32_t error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:       // files are open on the volume
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:      // another program holds the lock
      return DeviceClaimResult::InUse;
    default:                        // no medium, a file system that does not lock, none at all
      return DeviceClaimResult::Claimed;
  }
}

DeviceClaimResult Win32Platform::HoldDriveLetter(const std::string& name) {
  LetHeldGo();
  const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    NoteFailure("cannot open ", name, error);
    if (error == ERROR_SHARING_VIOLATION) return DeviceClaimResult::InUse;
    if (error == ERROR_ACCESS_DENIED) return DeviceClaimResult::NoAccess;
    return DeviceClaimResult::Changed;  // the name leads to nothing now
  }
  DWORD returned = 0;
  const bool locked = ::DeviceIoControl(handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr) != 0;
  if (!locked && ClaimAfterRefusedLock(::GetLastError()) != DeviceClaimResult::Claimed) {
    ::CloseHandle(handle);
    return DeviceClaimResult::InUse;
  }
  const auto freeSlot =
      std::find_if(devices_.begin(), devices_.end(), [](const Device& d) { return d.handle == nullptr; });
  const Device device{handle, name, true};
  if (freeSlot != devices_.end()) {
    *freeSlot = device;
    heldDevice_ = static_cast<DeviceHandle>(freeSlot - devices_.begin());
  } else {
    devices_.push_back(device);
    heldDevice_ = static_cast<DeviceHandle>(devices_.size() - 1);
  }
  heldLocked_ = locked;
  held_ = name;
  return DeviceClaimResult::Claimed;
}

void Win32Platform::LetHeldGo() {
  if (heldDevice_ >= 0) {
    Device& device = devices_[heldDevice_];
    DWORD returned = 0;
    if (heldLocked_) ::DeviceIoControl(device.handle, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
    ::CloseHandle(device.handle);
    device = {};
  }
  heldDevice_ = -1;
  heldLocked_ = false;
  held_.clear();
}

void Win32Platform::ReleaseListedDevice(std::string_view name) {
  if (!held_.empty() && held_ == name) LetHeldGo();
}

std::uint64_t Win32Platform::RandomSeed() {
  constexpr unsigned kHalfWordBits = 32;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t time = (static_cast<std::uint64_t>(now.dwHighDateTime) << kHalfWordBits) | now.dwLowDateTime;
  return time ^ (static_cast<std::uint64_t>(::GetCurrentThreadId()) << kHalfWordBits) ^
         static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&now));
}

void Win32Platform::NoteFailure(std::string_view what, std::string_view name, std::uint32_t error) {
  constexpr std::size_t kAdviceLead = 2;  // ": " before the advice
  if (error == ERROR_ACCESS_DENIED || error == ERROR_NOT_SUPPORTED) {
    const bool denied = error == ERROR_ACCESS_DENIED;
    NodeAccessProblem problem{std::string(name), denied ? "access denied" : "not supported",
                              std::string((denied ? kElevationAdvice : kNotSupportedAdvice).substr(kAdviceLead)),
                              denied ? AccessReason::AccessDenied : AccessReason::NotSupported,
                              denied ? AccessRemedy::RunElevated : AccessRemedy::OtherRoute};
    const bool known = std::any_of(accessProblems_.begin(), accessProblems_.end(),
                                   [&](const NodeAccessProblem& p) { return p.node == problem.node; });
    if (!known) accessProblems_.push_back(std::move(problem));
  }
  if (!accessProblem_.empty()) return;
  if (error == ERROR_ACCESS_DENIED) {
    accessProblem_ = std::string(what) + std::string(name) + " (access denied)";
    accessProblem_ += kElevationAdvice;
  } else if (error == ERROR_NOT_SUPPORTED) {
    accessProblem_ = std::string(what) + std::string(name) + " (not supported)";
    accessProblem_ += kNotSupportedAdvice;
  }
}

namespace {

// Resolved at run time: Windows 95 and NT 4 do not have it.
using SetThreadExecutionStateEntry = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
constexpr EXECUTION_STATE kStayAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
constexpr EXECUTION_STATE kSleepAgain = ES_CONTINUOUS;

SetThreadExecutionStateEntry ExecutionStateEntry() {
  const HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<SetThreadExecutionStateEntry>(Resolve(kernel, "SetThreadExecutionState"));
}

}  // namespace

std::uint64_t Win32Platform::MonotonicMilliseconds() {
  const std::uint32_t now = ::GetTickCount();
  if (ticking_) ticks_ += static_cast<std::uint32_t>(now - lastTick_);  // modulo 2^32: across the wrap too
  ticking_ = true;
  lastTick_ = now;
  return ticks_;
}

AttemptHold Win32Platform::BeginAttempt() {
  AttemptHold hold;
  const SetThreadExecutionStateEntry setState = ExecutionStateEntry();
  executionStateSet_ = setState != nullptr && setState(kStayAwake) != 0;
  hold.whyNot = executionStateSet_
                    ? "Windows is kept from sleeping when idle, but a suspend or shutdown asked for is not held off"
                    : "this Windows cannot be asked to stay awake (SetThreadExecutionState)";
  hold.gap = executionStateSet_ ? AwakeGap::WindowsIdleOnly : AwakeGap::WindowsCannotAsk;
  HoldInterruptions();
  return hold;
}

Interruption Win32Platform::EndAttempt() {
  const Interruption held = ReleaseInterruptions();
  if (executionStateSet_) {
    if (const SetThreadExecutionStateEntry setState = ExecutionStateEntry()) setState(kSleepAgain);
    executionStateSet_ = false;
  }
  return held;
}

std::unique_ptr<Platform> MakeNativePlatform(std::string workingDirectory) {
  return std::make_unique<Win32Platform>(std::move(workingDirectory));
}

}  // namespace orvel
