#pragma once
// A simulated PC: a Platform backend that presents simulated drives either
// through an emulated ASPI for Win32 library (platform id 1) or through
// pass-through device names (platform id 2), on a virtual clock, with faults
// on demand and a trace of every command.
//
// ASPI: adapters 0..adapterCount-1 with targets 0..7. SendASPI32Command reads
// the 80-byte SRB_ExecSCSICmd block byte for byte. Commands finish before the
// call returns unless `pending` is set or the command outlasts the 5000 ms
// wait; then SRB_Status stays SS_PENDING until the virtual clock reaches the
// command's end, when the final status (and sense) is written into the block
// and its event is signalled. WaitEvent advances the clock to the completion
// or to the deadline, whichever comes first. As with the real library, a
// block handed to SendASPI32Command must stay alive until its request has
// finished.
//
// Pass-through: the 44-byte header is read byte for byte; a command that
// takes longer than TimeOutValue seconds yields TimedOut after that time.
//
// Listed devices: a remembered device name keeps the drive it led to; a
// claim confirms that the name still leads there and that the drive is a
// CD/DVD device (peripheral type 5), and every open of a remembered name
// checks the same. SwapDevices trades the drives behind two names, as a
// hot-plug would between discovery and an attempt.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "sim/faults.h"
#include "sim/sim_drive.h"
#include "sim/trace.h"
#include "sim/virtual_clock.h"

namespace orvel::sim {

inline constexpr std::uint8_t kTargetsPerAdapter = 8;
inline constexpr std::uint32_t kAspiCompletionWaitMs = 5000;
// How far a timed-out command overruns the route's time-out.
inline constexpr std::uint32_t kTimeoutFaultMs = kAspiCompletionWaitMs + 1000;
inline constexpr const char* kAspiLibraryName = "WNASPI32.DLL";
// What every simulated machine answers for RandomSeed, so runs repeat.
inline constexpr std::uint64_t kSimRandomSeed = 0x0DDBA11u;
// The file whose appearance in the working directory ends a hold (SetHold).
inline constexpr const char* kHoldReleaseFile = "RELEASE";

struct AspiSettings {
  bool libraryPresent = true;
  bool hasSupportInfo = true;   // "GetASPI32SupportInfo" resolves
  bool hasSendCommand = true;   // "SendASPI32Command" resolves
  std::uint8_t supportStatus = 0x01;  // SS_COMP; e.g. 0xE8 SS_NO_ADAPTERS
  std::uint8_t adapterCount = 1;
  bool pending = false;         // every request answers SS_PENDING first
};

// Where a drive sits: its pass-through device name (NT family, e.g.
// "\\.\cdrom0" or "\\.\e:") and its ASPI address.
struct Attachment {
  std::string deviceName;
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
};

class SimMachine : public Platform {
 public:
  SimMachine(std::uint32_t platformId, std::string workingDirectory);
  ~SimMachine() override;

  // Adds a drive; returns it. Indexes count from 0 in the order added.
  SimDrive& AddDrive(std::unique_ptr<SimDrive> drive, Attachment where);
  std::size_t DriveCount() const { return drives_.size(); }
  SimDrive& Drive(std::size_t index) { return *drives_[index].drive; }
  const Attachment& AttachmentOf(std::size_t index) const { return drives_[index].where; }

  AspiSettings& Aspi() { return aspi_; }
  void SetPlatformId(std::uint32_t id) { platformId_ = id; }
  void AddFault(const FaultRule& rule) { faults_.push_back(rule); }
  std::vector<FaultRule>& Faults() { return faults_; }
  // A device name that exists but does not open.
  void RefuseOpen(std::string deviceName) { refusedNames_.push_back(std::move(deviceName)); }
  // The same as the system's refusal of this user: AccessProblems names it.
  void DenyAccess(std::string deviceName);
  FileFaults& FileFaultSettings() { return fileFaults_; }
  // Whether the machine can be kept from sleeping during an attempt (a real
  // one without logind cannot).
  void SetCanKeepAwake(bool can) { canKeepAwake_ = can; }
  // An attempt has begun and not yet ended; attempts begun so far.
  bool AttemptOpen() const { return attemptOpen_; }
  int AttemptsBegun() const { return attemptsBegun_; }
  // The drives behind the device names of drives `a` and `b` trade places.
  void SwapDevices(std::size_t a, std::size_t b);
  // The same, done at the first claim of a listed device (after discovery,
  // before the attempt's checks).
  void SwapAtFirstClaim(std::size_t a, std::size_t b) { pendingSwap_ = {a, b}; }
  // The device name claimed now; empty when none.
  const std::string& ClaimedDevice() const { return claimed_; }
  int ClaimCount() const { return claims_; }
  void SetRandomSeed(std::uint64_t seed) { randomSeed_ = seed; }

  // A stop in the middle of an update, so that a picture can be taken of a
  // running update without waiting on a wall clock: from the first poll a
  // drive answers with rewrite phase `phase` (2/F7/phase), every pause first
  // calls the waiter, again and again with the virtual clock standing still,
  // until a file named kHoldReleaseFile is in the working directory. Once per
  // machine. Without a waiter (a program that cannot wait) a hold passes at once.
  void SetHold(std::uint8_t phase) {
    holdArmed_ = true;
    holdPhase_ = phase;
  }
  void SetHoldWaiter(std::function<void()> waiter) { holdWaiter_ = std::move(waiter); }
  bool Holding() const { return holding_; }

  VirtualClock& Clock() { return clock_; }
  Trace& GetTrace() { return trace_; }
  // Device handles open right now (0 after every pass-through command).
  int OpenDeviceCount() const;
  // Requests placed in an SRB that the ASPI layer still held (a host fault).
  int SrbReuseWhileHeld() const { return srbReuse_; }
  // ASPI requests started but not yet finished.
  int PendingRequests() const;

  // Platform
  std::uint32_t PlatformId() override { return platformId_; }
  AspiLibrary* LoadLibrary(std::string_view name) override;
  void FreeLibrary(AspiLibrary* lib) override;
  std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) override;
  EventHandle CreateEvent() override;
  WaitResult WaitEvent(EventHandle ev, std::uint32_t milliseconds) override;
  void ResetEvent(EventHandle ev) override;
  void CloseEvent(EventHandle ev) override;
  std::string DeviceName(TransportMode mode, std::uint16_t number) override;
  DeviceHandle OpenDevice(std::string_view name) override;
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override;
  void CloseDevice(DeviceHandle dev) override;
  void Sleep(std::uint32_t milliseconds) override;
  FileSystem& Files() override;
  // The virtual clock.
  std::uint64_t MonotonicMilliseconds() override { return clock_.Now(); }
  // The machine is kept awake only in name; the interruptions of this very
  // process are held for real (HoldInterruptions), as with real drives.
  AttemptHold BeginAttempt() override;
  Interruption EndAttempt() override;
  void ActOnInterruption(Interruption interruption) override { RaiseInterruption(interruption); }
  int RememberListedDevice(std::string_view name) override;
  DeviceClaimResult ClaimListedDevice(std::string_view name) override;
  std::string AccessProblem() override;
  std::vector<NodeAccessProblem> AccessProblems() override;
  void ReleaseListedDevice(std::string_view name) override;
  std::uint64_t RandomSeed() override { return randomSeed_; }

  // Used by the emulated library.
  std::uint32_t AspiSupportInfo() const;
  void AspiSend(std::span<std::uint8_t> srb);

 private:
  struct Attached {
    std::unique_ptr<SimDrive> drive;
    Attachment where;
  };
  struct Event {
    bool live = false;
    bool signalled = false;
  };
  struct PendingRequest {
    std::span<std::uint8_t> srb;
    std::uint64_t completesAt = 0;
    std::uint8_t finalStatus = 0;
    Sense sense;
    bool withSense = false;
    EventHandle event = 0;
  };
  // The result of one command on its way through the machine.
  struct Carried {
    DriveAnswer answer;
    TraceOutcome outcome = TraceOutcome::Good;
    std::uint32_t durationMs = 0;
    std::uint32_t delivered = 0;
    bool injected = false;
  };

  Carried Carry(int driveIndex, std::span<const std::uint8_t> cdb, std::uint8_t direction,
                std::span<std::uint8_t> data, TraceEntry& entry);
  FaultRule* MatchFault(int driveIndex, std::uint8_t opcode);
  void SettleUntil(std::uint64_t when);
  void Finish(PendingRequest& p);
  int DriveAtAspi(std::uint8_t adapter, std::uint8_t target) const;
  int DriveAtName(std::string_view name) const;
  void Signal(EventHandle ev);
  // The drive a remembered name led to; -1 when it is not remembered.
  int ListedDriveAt(std::string_view name) const;

  std::uint32_t platformId_;
  std::string workingDirectory_;
  std::vector<Attached> drives_;
  AspiSettings aspi_;
  std::unique_ptr<AspiLibrary> library_;
  int libraryLoads_ = 0;
  std::vector<FaultRule> faults_;
  std::vector<std::string> refusedNames_;
  std::vector<std::string> deniedNames_;
  FileFaults fileFaults_;
  std::unique_ptr<FileSystem> files_;
  VirtualClock clock_;
  Trace trace_;
  std::vector<std::span<std::uint8_t>> buffers_;
  std::vector<Event> events_;
  std::vector<PendingRequest> pending_;
  std::vector<int> openHandles_;  // drive index per handle, -2 = closed
  std::vector<std::uint8_t> scratch_;
  int srbReuse_ = 0;
  bool canKeepAwake_ = true;
  bool attemptOpen_ = false;
  int attemptsBegun_ = 0;
  std::vector<std::pair<std::string, int>> listed_;  // device name, drive index
  std::optional<std::pair<std::size_t, std::size_t>> pendingSwap_;
  std::string claimed_;
  int claims_ = 0;
  std::uint64_t randomSeed_ = kSimRandomSeed;
  bool holdArmed_ = false;
  bool holding_ = false;
  std::uint8_t holdPhase_ = 0;
  std::function<void()> holdWaiter_;
};

}  // namespace orvel::sim
