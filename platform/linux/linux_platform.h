#pragma once
// The Linux backend: pass-through blocks carried out with SG_IO on real
// drives. The NT family's route is used: "cdrom" names map to /dev/srN, whose
// commands go through the drive's SCSI generic node when it has one (the
// kernel lets vendor opcodes through /dev/sr* only for privileged callers),
// and "drive letter" names map to /dev/sgN.
//
// Listed devices: discovery has the backend record, for each listed name, the
// node its commands went through with that node's device number and the
// drive's SCSI address (the H:C:T:L name of the sysfs `device` link; for
// /dev/srN also the block node's number). An attempt's claim checks them
// again without a SCSI command, along with the peripheral type (sysfs `type`,
// 5) and the mounts of the drive's block nodes (/proc/self/mountinfo), then
// opens the node with O_EXCL (the sg driver then lets no other open succeed)
// and hands that one descriptor to every command of the attempt, checking
// its device number, address and type before each. Without a claim a
// recorded name is checked on every open. (INQUIRY strings in sysfs are the
// kernel's from its scan; a drive in update mode answers differently since,
// so they are never compared.)

#include <scsi/sg.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <map>
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
  // `mountInfo` stands for /proc/self/mountinfo.
  explicit LinuxPlatform(std::string workingDirectory, std::string devRoot = "/dev",
                         std::string sysfsRoot = "/sys", std::string mountInfo = "/proc/self/mountinfo");
  ~LinuxPlatform() override;
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

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
  std::string DeviceName(TransportMode mode, std::uint16_t number) override;
  // Opens read-write and non-blocking (an empty drive must still open);
  // a cdrom node is reached through its SCSI generic node when that opens.
  DeviceHandle OpenDevice(std::string_view name) override;
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override;
  void CloseDevice(DeviceHandle dev) override;
  void Sleep(std::uint32_t milliseconds) override;
  FileSystem& Files() override { return *files_; }
  std::string AccessProblem() override { return accessProblem_; }
  std::vector<NodeAccessProblem> AccessProblems() override { return accessProblems_; }
  // The sr (CdromDevice) or sg (DriveLetter) numbers that sysfs's device
  // classes and the node directory know, in ascending order; nothing is opened.
  std::vector<std::uint16_t> RouteDeviceNumbers(TransportMode mode) override;
  // /dev/srN and its generic node, or /dev/sgN and its block node (through sysfs).
  DeviceNodes NodesOf(std::string_view name) override;
  // The path with its links followed (/dev/disk/by-id/... -> /dev/sr0).
  std::string ResolveNodePath(std::string_view path) override;

  // The SCSI generic node that sysfs names for a cdrom node ("/dev/sr0" -> "/dev/sg1");
  // empty when there is none or `name` is no cdrom node.
  std::string GenericNodeFor(std::string_view name) const;

  // The route numbers whose node of `mode` is present in the node directory:
  // nothing is opened, so a shell's completion may ask.
  std::vector<std::uint16_t> PresentDeviceNumbers(TransportMode mode) override;

  // CLOCK_MONOTONIC.
  std::uint64_t MonotonicMilliseconds() override;
  // Takes logind's inhibitor lock, then holds the interruptions (HoldInterruptions).
  AttemptHold BeginAttempt() override;
  // Releases both.
  Interruption EndAttempt() override;
  void ActOnInterruption(Interruption interruption) override { RaiseInterruption(interruption); }
  // The lock BeginAttempt takes (tests give it another bus).
  LogindInhibitor& Inhibitor() { return inhibitor_; }
  int RememberListedDevice(std::string_view name) override;
  DeviceClaimResult ClaimListedDevice(std::string_view name) override;
  void ReleaseListedDevice(std::string_view name) override;
  // getrandom(2), or the clock where it gives nothing.
  std::uint64_t RandomSeed() override;

 protected:
  // open(2) of a node; the descriptor, or -errno.
  virtual int OpenNode(const std::string& path);
  // The same with O_EXCL, for a claim.
  virtual int OpenNodeExclusively(const std::string& path);
  // ioctl(SG_IO); 0, or -errno.
  virtual int SendSgIo(int fd, sg_io_hdr_t& hdr);
  // fstat(2) and stat(2); 0, or -errno.
  virtual int StatDescriptor(int fd, struct stat& st);
  virtual int StatPath(const std::string& path, struct stat& st);

 private:
  static constexpr std::uint32_t kBufferHandle = 1;

  std::string LookUpGenericNode(int number) const;

  // Which device a node is: its device number and the drive's SCSI address.
  struct NodeIdentity {
    std::string path;
    dev_t rdev = 0;
    bool character = false;  // an sg node; an sr node is a block node
    std::string scsiAddress;  // "H:C:T:L"; empty when sysfs names none
    friend bool operator==(const NodeIdentity&, const NodeIdentity&) = default;
  };
  struct ListedNode {
    NodeIdentity route;                  // the node the commands go through
    std::optional<NodeIdentity> cdrom;   // /dev/srN, when the route is its generic node
  };
  // The identity from a stat result; nothing for what is no device node.
  std::optional<NodeIdentity> IdentityOf(const std::string& path, const struct stat& st) const;
  std::optional<NodeIdentity> IdentityOfDescriptor(int fd, const std::string& path);
  std::optional<NodeIdentity> IdentityOfPath(const std::string& path);
  // <sysfs>/dev/char/M:m or <sysfs>/dev/block/M:m.
  std::string SysfsNodeDir(dev_t rdev, bool character) const;
  bool IsOpticalNode(const NodeIdentity& node) const;
  // Whether a block node of the drive (`node`'s SCSI device, and `also`) is mounted.
  bool DriveMounted(const NodeIdentity& node, const std::optional<NodeIdentity>& also) const;
  // The open descriptor is the recorded node of a CD/DVD device.
  bool StillListed(int fd, const ListedNode& listed);
  void CloseHeld();

  std::optional<int> CdromNumber(std::string_view name) const;
  bool IsOpticalGeneric(std::string_view sgName) const;
  void NoteOpenFailure(const std::string& path, int err, bool knownDrive);
  void NoteProblem(NodeAccessProblem problem);

  std::unique_ptr<FileSystem> files_;
  std::string devRoot_;
  std::string sysfsRoot_;
  std::string mountInfo_;
  std::string accessProblem_;
  std::vector<NodeAccessProblem> accessProblems_;
  std::map<std::string, ListedNode, std::less<>> listed_;       // by device name
  std::map<std::string, NodeIdentity, std::less<>> lastOpened_;  // by device name: what its last open reached
  std::string heldName_;    // the claimed device name
  int heldFd_ = -1;         // its exclusive descriptor
  EventHandle nextEvent_ = 1;
  int lastFd_ = -1;          // the descriptor of the command in progress
  bool lastFdIsCdrom_ = false;  // opened as /dev/srN (vendor opcodes may be filtered)
  std::string lastPath_;
  // sysfs answers once per cdrom number; there is no rescan during a run.
  mutable std::map<int, std::string> genericCache_;
  LogindInhibitor inhibitor_;
};

}  // namespace orvel
