#include "sim/sim_machine.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/fixed_sense.h"
#include "platform/request_blocks.h"

namespace orvel::sim {
namespace {

constexpr std::uint8_t kDirIn = srb::SRB_DIR_IN;
constexpr std::uint8_t kDirOut = srb::SRB_DIR_OUT;
constexpr std::uint8_t kSsInvalidSrb = 0xE0;
constexpr std::size_t kMaxCdb = 16;
constexpr std::size_t kScratchSize = 65536;
constexpr std::size_t kPendingCapacity = 8;
constexpr std::uint32_t kMsPerSecond = 1000;
constexpr int kClosedHandle = -2;
constexpr std::uint32_t kStatusShift = 8;

// Fixed-format sense as the ASPI layer and the pass-through driver deliver it:
// the drive's 14 bytes, the rest of the area (up to its 16 bytes) cleared.
void PutSense(std::span<std::uint8_t> area, Sense s) {
  std::array<std::uint8_t, srb::kSenseAreaSize> fixed{};
  const auto sense = fixed_sense::Make(s.key, s.asc, s.ascq);
  std::copy(sense.begin(), sense.end(), fixed.begin());
  std::memcpy(area.data(), fixed.data(), std::min(area.size(), fixed.size()));
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

class SimAspiLibrary : public AspiLibrary {
 public:
  explicit SimAspiLibrary(SimMachine& machine) : machine_(machine) {}
  bool HasEntryPoint(std::string_view name) override {
    if (name == "GetASPI32SupportInfo") return machine_.Aspi().hasSupportInfo;
    if (name == "SendASPI32Command") return machine_.Aspi().hasSendCommand;
    return false;
  }
  std::uint32_t GetASPI32SupportInfo() override { return machine_.AspiSupportInfo(); }
  void SendASPI32Command(std::span<std::uint8_t> srbBlock) override { machine_.AspiSend(srbBlock); }

 private:
  SimMachine& machine_;
};

}  // namespace

SimMachine::SimMachine(std::uint32_t platformId, std::string workingDirectory)
    : platformId_(platformId), workingDirectory_(std::move(workingDirectory)) {
  files_ = std::make_unique<FaultyFileSystem>(MakeNativeFileSystem(workingDirectory_), fileFaults_);
  scratch_.assign(kScratchSize, 0);
  pending_.reserve(kPendingCapacity);
}

SimMachine::~SimMachine() = default;

SimDrive& SimMachine::AddDrive(std::unique_ptr<SimDrive> drive, Attachment where) {
  drives_.push_back(Attached{std::move(drive), std::move(where)});
  return *drives_.back().drive;
}

int SimMachine::OpenDeviceCount() const {
  return static_cast<int>(std::count_if(openHandles_.begin(), openHandles_.end(), [](int d) { return d != kClosedHandle; }));
}

int SimMachine::PendingRequests() const { return static_cast<int>(pending_.size()); }

AspiLibrary* SimMachine::LoadLibrary(std::string_view name) {
  if (!aspi_.libraryPresent || !SameName(name, kAspiLibraryName)) return nullptr;
  if (!library_) library_ = std::make_unique<SimAspiLibrary>(*this);
  ++libraryLoads_;
  return library_.get();
}

void SimMachine::FreeLibrary(AspiLibrary* lib) {
  // The object stays until the machine goes: a caller may still hold it.
  if (lib != nullptr && lib == library_.get() && libraryLoads_ > 0) --libraryLoads_;
}

std::uint32_t SimMachine::RegisterBuffer(std::span<std::uint8_t> buffer) {
  for (std::size_t i = 0; i < buffers_.size(); ++i) {
    if (buffers_[i].data() == buffer.data() && buffers_[i].size() == buffer.size()) return static_cast<std::uint32_t>(i + 1);
  }
  buffers_.push_back(buffer);
  return static_cast<std::uint32_t>(buffers_.size());
}

EventHandle SimMachine::CreateEvent() {
  for (std::size_t i = 0; i < events_.size(); ++i) {
    if (!events_[i].live) {
      events_[i] = Event{true, false};
      return static_cast<EventHandle>(i + 1);
    }
  }
  events_.push_back(Event{true, false});
  return static_cast<EventHandle>(events_.size());
}

void SimMachine::Signal(EventHandle ev) {
  if (ev != 0 && ev <= events_.size() && events_[ev - 1].live) events_[ev - 1].signalled = true;
}

WaitResult SimMachine::WaitEvent(EventHandle ev, std::uint32_t milliseconds) {
  if (ev == 0 || ev > events_.size() || !events_[ev - 1].live) return WaitResult::TimedOut;
  Event& e = events_[ev - 1];
  const std::uint64_t start = clock_.Now();
  const std::uint64_t deadline = start + milliseconds;
  if (!e.signalled) {
    std::uint64_t due = deadline;
    for (const PendingRequest& p : pending_) {
      if (p.event == ev) due = std::min(due, p.completesAt);
    }
    clock_.AdvanceTo(due);
    clock_.CountWait(clock_.Now() - start);
    SettleUntil(clock_.Now());
  }
  if (e.signalled) {
    e.signalled = false;  // auto-reset
    return WaitResult::Signalled;
  }
  return WaitResult::TimedOut;
}

void SimMachine::ResetEvent(EventHandle ev) {
  if (ev != 0 && ev <= events_.size()) events_[ev - 1].signalled = false;
}

void SimMachine::CloseEvent(EventHandle ev) {
  if (ev == 0 || ev > events_.size()) return;
  events_[ev - 1] = Event{};
  for (PendingRequest& p : pending_) {
    if (p.event == ev) p.event = 0;
  }
}

std::string SimMachine::DeviceName(TransportMode mode, std::uint16_t number) {
  switch (mode) {
    case TransportMode::CdromDevice:
      return "\\\\.\\cdrom" + std::to_string(number);
    case TransportMode::DriveLetter: {
      std::string name = "\\\\.\\d:";
      name[4] = static_cast<char>(name[4] + number);
      return name;
    }
    case TransportMode::Aspi:
      break;
  }
  return {};
}

int SimMachine::DriveAtName(std::string_view name) const {
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (!drives_[i].where.deviceName.empty() && SameName(drives_[i].where.deviceName, name)) return static_cast<int>(i);
  }
  return -1;
}

int SimMachine::DriveAtAspi(std::uint8_t adapter, std::uint8_t target) const {
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (drives_[i].where.adapter == adapter && drives_[i].where.target == target) return static_cast<int>(i);
  }
  return -1;
}

DeviceHandle SimMachine::OpenDevice(std::string_view name) {
  if (platformId_ != kPlatformNt) return -1;
  for (const std::string& refused : refusedNames_) {
    if (SameName(refused, name)) return -1;
  }
  const int drive = DriveAtName(name);
  if (drive < 0) return -1;
  // A remembered name opens only onto the drive it was remembered with.
  const int listed = ListedDriveAt(name);
  if (listed >= 0 && (listed != drive || Drive(static_cast<std::size_t>(drive)).Identity().peripheralType != kPeripheralCdrom)) {
    return -1;
  }
  for (std::size_t i = 0; i < openHandles_.size(); ++i) {
    if (openHandles_[i] == kClosedHandle) {
      openHandles_[i] = drive;
      return static_cast<DeviceHandle>(i + 1);
    }
  }
  openHandles_.push_back(drive);
  return static_cast<DeviceHandle>(openHandles_.size());
}

void SimMachine::CloseDevice(DeviceHandle dev) {
  if (dev >= 1 && static_cast<std::size_t>(dev) <= openHandles_.size()) openHandles_[dev - 1] = kClosedHandle;
}

void SimMachine::Sleep(std::uint32_t milliseconds) {
  while (holding_) {
    if (!holdWaiter_ || files_->Exists(kHoldReleaseFile)) {
      holding_ = false;
      break;
    }
    holdWaiter_();
  }
  clock_.Sleep(milliseconds);
  SettleUntil(clock_.Now());
}

FileSystem& SimMachine::Files() { return *files_; }

AttemptHold SimMachine::BeginAttempt() {
  AttemptHold hold;
  hold.machineKeptAwake = canKeepAwake_;
  if (!canKeepAwake_) {
    hold.whyNot = "the simulated machine has no logind to keep it awake";
    hold.gap = AwakeGap::SimulatedNoLogind;
  }
  attemptOpen_ = true;
  ++attemptsBegun_;
  HoldInterruptions();
  return hold;
}

Interruption SimMachine::EndAttempt() {
  attemptOpen_ = false;
  return ReleaseInterruptions();
}

void SimMachine::SwapDevices(std::size_t a, std::size_t b) {
  std::swap(drives_[a].where.deviceName, drives_[b].where.deviceName);
}

int SimMachine::ListedDriveAt(std::string_view name) const {
  for (const auto& [listedName, drive] : listed_) {
    if (SameName(listedName, name)) return drive;
  }
  return -1;
}

int SimMachine::RememberListedDevice(std::string_view name) {
  const int drive = DriveAtName(name);
  if (drive < 0) return 0;
  const auto it = std::find_if(listed_.begin(), listed_.end(), [name](const auto& l) { return SameName(l.first, name); });
  if (it != listed_.end()) {
    it->second = drive;
  } else {
    listed_.emplace_back(std::string(name), drive);
  }
  return 1;
}

void SimMachine::DenyAccess(std::string deviceName) {
  refusedNames_.push_back(deviceName);
  deniedNames_.push_back(std::move(deviceName));
}

std::vector<NodeAccessProblem> SimMachine::AccessProblems() {
  std::vector<NodeAccessProblem> problems;
  for (const std::string& name : deniedNames_) {
    problems.push_back({name, "permission denied", "run without no-access in the scenario",
                        AccessReason::PermissionDenied, AccessRemedy::LiftSimulatedRefusal});
  }
  return problems;
}

std::string SimMachine::AccessProblem() {
  if (deniedNames_.empty()) return {};
  const NodeAccessProblem first = AccessProblems().front();
  return "cannot open " + first.node + " (" + first.reason + "): " + first.remedy;
}

DeviceClaimResult SimMachine::ClaimListedDevice(std::string_view name) {
  ++claims_;
  claimed_.clear();
  if (pendingSwap_) {
    SwapDevices(pendingSwap_->first, pendingSwap_->second);
    pendingSwap_.reset();
  }
  const int listed = ListedDriveAt(name);
  if (listed < 0) return DeviceClaimResult::NotListed;
  if (DriveAtName(name) != listed) return DeviceClaimResult::Changed;
  if (Drive(static_cast<std::size_t>(listed)).Identity().peripheralType != kPeripheralCdrom) {
    return DeviceClaimResult::NotOptical;
  }
  claimed_ = std::string(name);
  return DeviceClaimResult::Claimed;
}

void SimMachine::ReleaseListedDevice(std::string_view name) {
  if (SameName(claimed_, name)) claimed_.clear();
}

FaultRule* SimMachine::MatchFault(int driveIndex, std::uint8_t opcode) {
  FaultRule* firing = nullptr;
  for (FaultRule& r : faults_) {
    if (r.opcode != kAnyOpcode && r.opcode != opcode) continue;
    if (r.drive != kAnyDrive && r.drive != driveIndex) continue;
    ++r.seen;
    const bool fires = r.seen == r.occurrence || (r.onward && r.seen >= r.occurrence);
    if (fires && firing == nullptr) firing = &r;
  }
  return firing;
}

SimMachine::Carried SimMachine::Carry(int driveIndex, std::span<const std::uint8_t> cdb, std::uint8_t direction,
                                      std::span<std::uint8_t> data, TraceEntry& entry) {
  SimDrive& drive = *drives_[static_cast<std::size_t>(driveIndex)].drive;
  Carried c;
  const std::uint8_t op = cdb[0];
  c.durationMs = drive.CommandDuration(op);
  entry.dataOutBytes = direction == kDirOut ? static_cast<std::uint32_t>(data.size()) : 0;

  const FaultRule* rule = MatchFault(driveIndex, op);
  c.injected = rule != nullptr;
  if (rule != nullptr && rule->kind == FaultKind::Check) {
    drive.SetLastSense(rule->sense);
    c.answer.status = kStatusCheckCondition;
    c.answer.sense = rule->sense;
    c.outcome = TraceOutcome::CheckCondition;
  } else if (rule != nullptr && (rule->kind == FaultKind::Fail || rule->kind == FaultKind::Aborted)) {
    c.outcome = rule->kind == FaultKind::Fail ? TraceOutcome::Failed : TraceOutcome::Aborted;
  } else {
    if (data.size() > scratch_.size()) scratch_.resize(data.size());
    const std::span<const std::uint8_t> out = direction == kDirOut ? data : std::span<std::uint8_t>{};
    const std::span<std::uint8_t> in =
        direction == kDirIn ? std::span(scratch_).first(data.size()) : std::span<std::uint8_t>{};
    c.answer = drive.Execute(cdb, out, in);
    c.delivered = std::min<std::uint32_t>(c.answer.dataInLength, static_cast<std::uint32_t>(in.size()));
    if (rule != nullptr && rule->kind == FaultKind::ShortData) c.delivered = std::min(c.delivered, rule->shortBytes);
    if (rule != nullptr && rule->kind == FaultKind::Timeout) c.durationMs = kTimeoutFaultMs;
    if (direction == kDirIn && c.delivered != 0) std::memcpy(data.data(), scratch_.data(), c.delivered);
    c.outcome = c.answer.status == kStatusGood ? TraceOutcome::Good : TraceOutcome::CheckCondition;
  }
  entry.delivered = c.delivered;
  entry.outcome = c.outcome;
  entry.sense = c.answer.status == kStatusCheckCondition ? c.answer.sense : Sense{};
  if (holdArmed_ && entry.sense == Sense{kKeyNotReady, kRewritePhaseAsc, holdPhase_}) {
    holdArmed_ = false;
    holding_ = true;
  }
  entry.injected = c.injected;
  return c;
}

std::uint32_t SimMachine::AspiSupportInfo() const {
  return std::uint32_t{aspi_.supportStatus} << kStatusShift | aspi_.adapterCount;
}

void SimMachine::AspiSend(std::span<std::uint8_t> block) {
  if (block.size() < srb::kSize) return;
  SettleUntil(clock_.Now());
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (pending_[i].srb.data() == block.data()) {
      // The host reused a block the layer still holds; finish the old request first.
      ++srbReuse_;
      Finish(pending_[i]);
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  const auto finishNow = [&](std::uint8_t status) { block[srb::kStatus] = status; };
  if (block[srb::kCmd] != srb::SC_EXEC_SCSI_CMD) return finishNow(kSsInvalidSrb);

  const std::uint8_t adapter = block[srb::kHaId];
  const std::uint8_t target = block[srb::kTarget];
  const std::uint8_t lun = block[srb::kLun];
  const std::uint8_t direction = block[srb::kFlags] & (kDirIn | kDirOut);
  const std::uint32_t length = GetLe32(block, srb::kBufLen);
  const std::uint32_t bufferHandle = GetLe32(block, srb::kBufPointer);
  const std::uint8_t cdbLength = block[srb::kCdbLen];
  const EventHandle event = GetLe32(block, srb::kPostProc);

  if (adapter >= aspi_.adapterCount) return finishNow(srb::SS_INVALID_HA);
  if (cdbLength == 0 || cdbLength > kMaxCdb || direction == (kDirIn | kDirOut)) return finishNow(kSsInvalidSrb);
  std::span<std::uint8_t> data;
  if (length > 0) {
    if (bufferHandle == 0 || bufferHandle > buffers_.size() || buffers_[bufferHandle - 1].size() < length) {
      return finishNow(kSsInvalidSrb);
    }
    data = buffers_[bufferHandle - 1].first(length);
  }

  TraceEntry entry;
  entry.time = clock_.Now();
  entry.adapter = adapter;
  entry.target = target;
  std::memcpy(entry.cdb.data(), block.data() + srb::kCdbByte, kMaxCdb);
  entry.cdbLength = cdbLength;
  entry.direction = direction;
  entry.length = length;

  const int driveIndex = lun == 0 && target < kTargetsPerAdapter ? DriveAtAspi(adapter, target) : -1;
  if (driveIndex < 0) {
    entry.outcome = TraceOutcome::NoDevice;
    trace_.Add(entry);
    return finishNow(srb::SS_NO_DEVICE);
  }
  entry.drive = driveIndex;
  const std::span<const std::uint8_t> cdb = std::span<const std::uint8_t>(block).subspan(srb::kCdbByte, cdbLength);
  const Carried c = Carry(driveIndex, cdb, direction, data, entry);

  PendingRequest p;
  p.srb = block;
  p.event = event;
  p.completesAt = clock_.Now() + c.durationMs;
  switch (c.outcome) {
    case TraceOutcome::Failed: p.finalStatus = srb::SS_NO_DEVICE; break;
    case TraceOutcome::Aborted: p.finalStatus = srb::SS_ABORTED; break;
    case TraceOutcome::CheckCondition:
      p.finalStatus = srb::SS_ERR;
      p.withSense = true;
      p.sense = c.answer.sense;
      break;
    default: p.finalStatus = srb::SS_COMP; break;
  }
  block[srb::kTargStat] = c.answer.status;
  if (c.durationMs > kAspiCompletionWaitMs) entry.outcome = TraceOutcome::TimedOut;
  trace_.Add(entry);

  if (!aspi_.pending && c.durationMs <= kAspiCompletionWaitMs) {
    // Finished before the call returns.
    clock_.Advance(c.durationMs);
    Finish(p);
    return;
  }
  block[srb::kStatus] = srb::SS_PENDING;
  pending_.push_back(p);
}

void SimMachine::Finish(PendingRequest& p) {
  if (p.withSense) {
    const std::size_t senseLength = std::min<std::size_t>(p.srb[srb::kSenseLen], srb::kSenseAreaSize);
    PutSense(p.srb.subspan(srb::kSenseArea, senseLength), p.sense);
  }
  p.srb[srb::kStatus] = p.finalStatus;
  Signal(p.event);
}

void SimMachine::SettleUntil(std::uint64_t when) {
  for (std::size_t i = 0; i < pending_.size();) {
    if (pending_[i].completesAt <= when) {
      Finish(pending_[i]);
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

PassThroughResult SimMachine::PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) {
  if (dev < 1 || static_cast<std::size_t>(dev) > openHandles_.size() || openHandles_[dev - 1] == kClosedHandle) {
    return PassThroughResult::Failed;
  }
  const int driveIndex = openHandles_[dev - 1];
  if (block.size() < spt::kDataArea || GetLe16(block, spt::kLength) != spt::kHeaderSize) return PassThroughResult::Failed;
  const std::uint8_t cdbLength = block[spt::kCdbLength];
  const std::uint8_t dataIn = block[spt::kDataIn];
  const std::uint64_t length = GetLe32(block, spt::kDataTransferLength);
  const std::uint64_t dataOffset = GetLe32(block, spt::kDataBufferOffset);
  const std::uint64_t senseOffset = GetLe32(block, spt::kSenseInfoOffset);
  const std::uint8_t senseLength = block[spt::kSenseInfoLength];
  const std::uint64_t timeoutMs = std::uint64_t{GetLe32(block, spt::kTimeOutValue)} * kMsPerSecond;
  if (cdbLength == 0 || cdbLength > kMaxCdb || dataIn > spt::SCSI_IOCTL_DATA_UNSPECIFIED) return PassThroughResult::Failed;
  if (dataOffset + length > block.size() || senseOffset + senseLength > block.size()) return PassThroughResult::Failed;

  const std::uint8_t direction = dataIn == spt::SCSI_IOCTL_DATA_IN    ? kDirIn
                                 : dataIn == spt::SCSI_IOCTL_DATA_OUT ? kDirOut
                                                                      : std::uint8_t{0};
  const std::span<std::uint8_t> data =
      direction == 0 ? std::span<std::uint8_t>{} : block.subspan(static_cast<std::size_t>(dataOffset), static_cast<std::size_t>(length));

  TraceEntry entry;
  entry.time = clock_.Now();
  entry.drive = driveIndex;
  std::memcpy(entry.cdb.data(), block.data() + spt::kCdb, kMaxCdb);
  entry.cdbLength = cdbLength;
  entry.direction = direction;
  entry.length = static_cast<std::uint32_t>(length);
  const std::span<const std::uint8_t> cdb = std::span<const std::uint8_t>(block).subspan(spt::kCdb, cdbLength);
  const Carried c = Carry(driveIndex, cdb, direction, data, entry);

  if (timeoutMs != 0 && c.durationMs > timeoutMs) {
    entry.outcome = TraceOutcome::TimedOut;
    trace_.Add(entry);
    // The caller sat out the whole device time-out.
    clock_.Advance(timeoutMs);
    clock_.CountWait(timeoutMs);
    SettleUntil(clock_.Now());
    return PassThroughResult::TimedOut;
  }
  trace_.Add(entry);
  clock_.Advance(c.durationMs);
  SettleUntil(clock_.Now());
  if (c.outcome == TraceOutcome::Failed || c.outcome == TraceOutcome::Aborted) return PassThroughResult::Failed;

  block[spt::kScsiStatus] = c.answer.status;
  if (c.answer.status == kStatusCheckCondition) {
    PutSense(block.subspan(static_cast<std::size_t>(senseOffset), senseLength), c.answer.sense);
  }
  const std::uint32_t moved = direction == kDirIn    ? c.delivered
                              : direction == kDirOut ? static_cast<std::uint32_t>(length)
                                                     : 0U;
  PutLe32(block, spt::kDataTransferLength, moved);
  return PassThroughResult::Done;
}

}  // namespace orvel::sim
