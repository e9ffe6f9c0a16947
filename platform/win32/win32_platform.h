#pragma once
// The Windows backend: the platform id from GetVersionExA; ASPI for Win32
// loaded from WNASPI32.DLL, its request block carrying real pointers (the
// data buffer's address, the event's handle) and its events signalled by the
// library; the NT pass-through with DeviceIoControl on \\.\ device names; the
// working directory through the Win32 file calls. i686 only: the request
// blocks are 32-bit layouts (64-bit Windows runs the program under WOW64).
// This header does not include <windows.h>.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace orvel {

struct Win32Options {
  // The longest wait for an ASPI request (tests make it short).
  std::uint32_t aspiWaitMs = kAspiWaitLimitMs;
};

class Win32Platform final : public Platform {
 public:
  explicit Win32Platform(std::string workingDirectory, Win32Options options = {});
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  // GetVersionExA with the 148-byte OSVERSIONINFOA; 0 when the call fails.
  std::uint32_t PlatformId() override;
  // LoadLibraryA; the library stays loaded until FreeLibrary or the end of the platform.
  AspiLibrary* LoadLibrary(std::string_view name) override;
  void FreeLibrary(AspiLibrary* lib) override;
  // The buffer's own address: the library writes straight into it.
  std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) override;
  // Event handles as the system gives them (auto-reset, not signalled).
  EventHandle CreateEvent() override;
  WaitResult WaitEvent(EventHandle ev, std::uint32_t milliseconds) override;
  void ResetEvent(EventHandle ev) override;
  void CloseEvent(EventHandle ev) override;
  std::uint32_t AspiWaitMilliseconds() override { return options_.aspiWaitMs; }
  Win32Options& Options() { return options_; }

  // "\\.\cdrom%d" for CdromDevice, "\\.\d:" raised by the number for DriveLetter.
  std::string DeviceName(TransportMode mode, std::uint16_t number) override;
  // CreateFileA: read and write access, shared for both, open existing.
  DeviceHandle OpenDevice(std::string_view name) override;
  // DeviceIoControl(IOCTL_SCSI_PASS_THROUGH) on the block, in place. A call
  // that returns FALSE is Failed (TimedOut for a time-out), whatever the
  // block's ScsiStatus holds then.
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override;
  void CloseDevice(DeviceHandle dev) override;
  void Sleep(std::uint32_t milliseconds) override;
  FileSystem& Files() override { return *files_; }
  std::string AccessProblem() override { return accessProblem_; }
  std::vector<NodeAccessProblem> AccessProblems() override { return accessProblems_; }

  // GetTickCount, carried past its wrap every 49.7 days.
  std::uint64_t MonotonicMilliseconds() override;
  // Holds the console's interruptions (HoldInterruptions) and asks, where the
  // system has SetThreadExecutionState (98, 2000 and later), that the machine
  // does not sleep when idle. A suspend or shutdown someone asks for is not
  // held off, and the result says so.
  AttemptHold BeginAttempt() override;
  Interruption EndAttempt() override;
  void ActOnInterruption(Interruption interruption) override { RaiseInterruption(interruption); }
  // Listed devices: the name, and where the system tells it
  // (IOCTL_STORAGE_GET_DEVICE_NUMBER) the device's type and number; a claim
  // compares them again. A claim of a drive letter's name (\\.\X:) then
  // opens it once for the whole attempt and locks its volume on that handle
  // (FSCTL_LOCK_VOLUME): a locked volume takes commands through the locking
  // handle only, so OpenDevice hands that one out until the release. A volume
  // in use (files open on it) is InUse; where the system does not lock (no
  // medium, no file system that locks) the attempt goes on unlocked. A
  // \\.\cdromN name is not locked: its volume would be a second handle that
  // the lock shuts out. The pass-through shares the device otherwise.
  int RememberListedDevice(std::string_view name) override;
  DeviceClaimResult ClaimListedDevice(std::string_view name) override;
  void ReleaseListedDevice(std::string_view name) override;
  // The claim's last step, after the identity check: a drive letter's name
  // opened once and its volume locked (InUse, NoAccess or Changed when not;
  // nothing is held then). Public for tests: Wine calls every device a disk,
  // so no name of its passes the claim's check for a CD/DVD device.
  DeviceClaimResult HoldDriveLetter(const std::string& name);
  // Whether the held device's volume is locked now (false when nothing is held).
  bool VolumeLocked() const { return heldLocked_; }
  // What a refused FSCTL_LOCK_VOLUME means for the claim: InUse when something
  // has the volume open, Claimed (the attempt goes on unlocked) otherwise.
  static DeviceClaimResult ClaimAfterRefusedLock(std::uint32_t error);
  // The system time, the thread and an address mixed: differs from run to run.
  std::uint64_t RandomSeed() override;

  // An entry point of a loaded library by name (nullptr when it has none), so
  // that tests can steer a stand-in library through its own exports.
  using Procedure = void (*)();
  static Procedure EntryPoint(AspiLibrary* lib, std::string_view name);

 private:
  class Library;
  struct Device {
    void* handle = nullptr;  // the system's handle; nullptr once closed
    std::string name;
    bool held = false;  // the claim's handle: CloseDevice leaves it open
  };

  struct ListedDevice {
    std::string name;
    bool numbered = false;  // the system told its type and number at discovery
    std::uint32_t type = 0;
    std::uint32_t number = 0;
  };

  Device* Find(DeviceHandle dev);
  // IOCTL_STORAGE_GET_DEVICE_NUMBER on the name; false when the system does not tell.
  static bool QueryDeviceNumber(const std::string& name, ListedDevice& into);
  void NoteFailure(std::string_view what, std::string_view name, std::uint32_t error);
  void LetHeldGo();

  Win32Options options_;
  std::unique_ptr<FileSystem> files_;
  std::vector<std::unique_ptr<Library>> libraries_;
  std::vector<Device> devices_;  // indexed by DeviceHandle
  std::vector<ListedDevice> listed_;
  std::string held_;
  DeviceHandle heldDevice_ = -1;  // the claim's handle, when it opened one
  bool heldLocked_ = false;
  std::string accessProblem_;
  std::vector<NodeAccessProblem> accessProblems_;
  std::uint32_t lastTick_ = 0;
  std::uint64_t ticks_ = 0;
  bool ticking_ = false;
  bool executionStateSet_ = false;
};

// The working directory through the Win32 file calls.
std::unique_ptr<FileSystem> MakeWin32FileSystem(std::string workingDirectory = ".");

}  // namespace orvel
