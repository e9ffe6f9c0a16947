#pragma once
// The Linux backend: pass-through blocks carried out with SG_IO on real
// drives. The NT family's route is used: "cdrom" names map to /dev/srN, whose
// commands go through the drive's SCSI generic node when it has one (the
// kernel lets vendor opcodes through /dev/sr* only for privileged callers),
// and "drive letter" names map to /dev/sgN.

#include <scsi/sg.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/logind_inhibitor.h"
#include "platform/platform.h"

namespace orvel {

class LinuxPlatform : public Platform {
 public:
  // `devRoot` and `sysfsRoot` stand for /dev and /sys (tests point them at a tree of fake nodes).
  explicit LinuxPlatform(std::string workingDirectory, std::string devRoot = "/dev",
                         std::string sysfsRoot = "/sys");

  std::uint32_t PlatformId() override { return kPlatformNt; }
  AspiLibrary* LoadLibrary(std::string_view) override { return nullptr; }
  void FreeLibrary(AspiLibrary*) override {}
  std::uint32_t RegisterBuffer(std::span<std::uint8_t>) override { return kBufferHandle; }
  // Events are only used by the ASPI route, which Linux never takes.
  EventHandle CreateEvent() override;
  WaitResult WaitEvent(EventHandle, std::uint32_t) override { return WaitResult::Signalled; }
  void ResetEvent(EventHandle) override {}
  void CloseEvent(EventHandle) override {}

  // "/dev/sr%d" for CdromDevice, "/dev/sg%d" for DriveLetter (under devRoot).
  std::string DeviceName(TransportMode mode, std::uint8_t number) override;
  // Opens read-write and non-blocking (an empty drive must still open);
  // a cdrom node is reached through its SCSI generic node when that opens.
  DeviceHandle OpenDevice(std::string_view name) override;
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override;
  void CloseDevice(DeviceHandle dev) override;
  void Sleep(std::uint32_t milliseconds) override;
  FileSystem& Files() override { return *files_; }
  std::string AccessProblem() override { return accessProblem_; }

  // The SCSI generic node that sysfs names for a cdrom node ("/dev/sr0" -> "/dev/sg1");
  // empty when there is none or `name` is no cdrom node.
  std::string GenericNodeFor(std::string_view name) const;

  // The numbers 0..9 whose node of `mode` is present (sr0..sr9 or sg0..sg9),
  // from the directory alone: nothing is opened, so a shell's completion may ask.
  std::vector<std::uint8_t> PresentDeviceNumbers(TransportMode mode) override;

  // CLOCK_MONOTONIC.
  std::uint64_t MonotonicMilliseconds() override;
  // Takes logind's inhibitor lock, then holds the interruptions (HoldInterruptions).
  AttemptHold BeginAttempt() override;
  // Releases both.
  Interruption EndAttempt() override;
  void ActOnInterruption(Interruption interruption) override { RaiseInterruption(interruption); }
  // The lock BeginAttempt takes (tests give it another bus).
  LogindInhibitor& Inhibitor() { return inhibitor_; }

 protected:
  // open(2) of a node; the descriptor, or -errno.
  virtual int OpenNode(const std::string& path);
  // ioctl(SG_IO); 0, or -errno.
  virtual int SendSgIo(int fd, sg_io_hdr_t& hdr);

 private:
  static constexpr std::uint32_t kBufferHandle = 1;
  static constexpr std::size_t kCachedCdroms = 10;  // the route's device numbers

  std::string LookUpGenericNode(int number) const;

  std::optional<int> CdromNumber(std::string_view name) const;
  bool IsOpticalGeneric(std::string_view sgName) const;
  void NoteOpenFailure(const std::string& path, int err, bool knownDrive);

  std::unique_ptr<FileSystem> files_;
  std::string devRoot_;
  std::string sysfsRoot_;
  std::string accessProblem_;
  EventHandle nextEvent_ = 1;
  int lastFd_ = -1;          // the descriptor of the command in progress
  bool lastFdIsCdrom_ = false;  // opened as /dev/srN (vendor opcodes may be filtered)
  std::string lastPath_;
  // sysfs answers once per cdrom number; there is no rescan during a run.
  mutable std::array<std::optional<std::string>, kCachedCdroms> genericCache_;
  LogindInhibitor inhibitor_;
};

}  // namespace orvel
