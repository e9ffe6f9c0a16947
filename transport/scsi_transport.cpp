#include "transport/scsi_transport.h"

#include <algorithm>

#include "platform/fixed_sense.h"

namespace orvel {

namespace {

constexpr std::string_view kAspiLibraryName = "WNASPI32.DLL";
constexpr std::string_view kSupportInfoEntry = "GetASPI32SupportInfo";
constexpr std::string_view kSendCommandEntry = "SendASPI32Command";

constexpr std::string_view kMsgNoLibrary = "Not found 'ASPI32.DLL'";
constexpr std::string_view kMsgNoEntryPoint = "ASPI Function Error 'ASPI32.DLL'";
constexpr std::string_view kMsgNoManager = "Not found ASPI MANAGER";
constexpr std::string_view kMsgLoadErrPrefix = "ASPI:LoadErr [";
constexpr std::string_view kMsgLoadErrSuffix = "]";

constexpr std::uint32_t kSupportStatusShift = 8;
constexpr std::uint32_t kByteMask = 0xFF;

constexpr std::uint8_t kLogicalUnit = 0;
constexpr std::size_t kMaxCdbLength = 16;
constexpr std::size_t kPassThroughCdbBytes = 12;
constexpr std::uint8_t kSenseKeyMask = 0x0F;

// splitmix64: a fresh pattern per read from one seed.
constexpr std::uint64_t kPatternIncrement = 0x9E3779B97F4A7C15u;
constexpr std::uint64_t kPatternMix1 = 0xBF58476D1CE4E5B9u;
constexpr std::uint64_t kPatternMix2 = 0x94D049BB133111EBu;
constexpr unsigned kPatternShift1 = 30;
constexpr unsigned kPatternShift2 = 27;
constexpr unsigned kPatternShift3 = 31;
constexpr unsigned kBitsPerByte = 8;

std::uint64_t NextPatternWord(std::uint64_t& state) {
  state += kPatternIncrement;
  std::uint64_t z = state;
  z = (z ^ (z >> kPatternShift1)) * kPatternMix1;
  z = (z ^ (z >> kPatternShift2)) * kPatternMix2;
  return z ^ (z >> kPatternShift3);
}

}  // namespace

ScsiTransport::ScsiTransport(Platform& platform)
    : platform_(platform),
      request_{{}, 0, DataNone,
               std::span<std::uint8_t, kDataBufferSize>(passThrough_.data() + spt::kDataArea, kDataBufferSize)} {
  bufferHandle_ = platform_.RegisterBuffer(request_.dataBuffer);
  patternState_ = platform_.RandomSeed();
}

ScsiTransport::~ScsiTransport() {
  ReleaseDrive();
  // A request still held by the ASPI layer keeps its event; anything else is released.
  if (heldEvent_ != 0 && srb_[srb::kStatus] != srb::SS_PENDING) {
    platform_.CloseEvent(heldEvent_);
  }
}

bool ScsiTransport::SelectTransport(TransportMessage* message) {
  auto fail = [message](std::string_view text, MessageIcon icon) {
    if (message != nullptr) {
      message->text = text;
      message->icon = icon;
    }
    return false;
  };

  mode = TransportMode::Aspi;
  const std::uint32_t id = platform_.PlatformId();
  if (id == kPlatformNt) {
    mode = ProbeCdromDevices() ? TransportMode::CdromDevice : TransportMode::DriveLetter;
    return true;
  }
  if (id != kPlatformWindows) {
    std::string text(kMsgLoadErrPrefix);
    text += std::to_string(static_cast<std::int32_t>(id));  // printed as a signed decimal
    text += kMsgLoadErrSuffix;
    return fail(text, MessageIcon::Exclamation);
  }

  AspiLibrary* lib = platform_.LoadLibrary(kAspiLibraryName);
  if (lib == nullptr) {
    return fail(kMsgNoLibrary, MessageIcon::Stop);
  }
  if (!lib->HasEntryPoint(kSupportInfoEntry) || !lib->HasEntryPoint(kSendCommandEntry)) {
    platform_.FreeLibrary(lib);
    return fail(kMsgNoEntryPoint, MessageIcon::Stop);
  }
  const std::uint32_t info = lib->GetASPI32SupportInfo();
  if (((info >> kSupportStatusShift) & kByteMask) != srb::SS_COMP) {
    // The library stays loaded until exit, as it would on a successful start.
    aspi_ = lib;
    return fail(kMsgNoManager, MessageIcon::Stop);
  }
  adapterCount = static_cast<std::uint16_t>(info & kByteMask);
  aspi_ = lib;
  return true;
}

int ScsiTransport::ExecuteCommand(std::uint32_t length) {
  lastTransferred = 0;
  outcome_ = CommandOutcome::Failed;
  int result = 0;
  // Out-of-range requests never reach a block: they would run past the buffer.
  if (length <= kDataBufferSize && request_.cdbLength != 0 && request_.cdbLength <= kMaxCdbLength) {
    result = mode == TransportMode::Aspi ? ExecuteAspi(length) : ExecutePassThrough(length);
  }
  Notify(length, outcome_, result);
  return result;
}

int ScsiTransport::ExecuteAspi(std::uint32_t length) {
  outcome_ = CommandOutcome::Failed;
  if (aspi_ == nullptr || length > kDataBufferSize) {
    return 0;
  }
  std::span<std::uint8_t> block(srb_);

  // A timed-out request may still be owned by the ASPI layer; the block must
  // not be touched until the layer has let it go.
  if (heldEvent_ != 0) {
    if (block[srb::kStatus] == srb::SS_PENDING) {
      platform_.WaitEvent(heldEvent_, platform_.AspiWaitMilliseconds());
    }
    if (block[srb::kStatus] == srb::SS_PENDING) {
      outcome_ = CommandOutcome::Timeout;
      return 0;
    }
    platform_.CloseEvent(heldEvent_);
    heldEvent_ = 0;
  }

  const EventHandle ev = platform_.CreateEvent();
  if (ev == 0) {
    return 0;
  }

  block[srb::kCmd] = srb::SC_EXEC_SCSI_CMD;
  block[srb::kStatus] = srb::SS_PENDING;
  block[srb::kHaId] = address.adapterId;
  block[srb::kFlags] = static_cast<std::uint8_t>(request_.direction | srb::SRB_EVENT_NOTIFY);
  block[srb::kTarget] = address.targetId;
  block[srb::kLun] = kLogicalUnit;
  PutLe32(block, srb::kBufLen, length);
  PutLe32(block, srb::kBufPointer, bufferHandle_);
  block[srb::kSenseLen] = static_cast<std::uint8_t>(srb::kSenseAreaSize);
  block[srb::kCdbLen] = request_.cdbLength;
  PutLe32(block, srb::kPostProc, ev);
  std::copy(request_.cdb.begin(), request_.cdb.end(), block.begin() + srb::kCdbByte);
  if (request_.direction == DataIn) PoisonForRead(length);

  aspi_->SendASPI32Command(block);

  if (block[srb::kStatus] == srb::SS_PENDING &&
      platform_.WaitEvent(ev, platform_.AspiWaitMilliseconds()) == WaitResult::TimedOut) {
    platform_.ResetEvent(ev);
    if (block[srb::kStatus] == srb::SS_PENDING) {
      heldEvent_ = ev;  // released once the layer finishes it
    } else {
      platform_.CloseEvent(ev);
    }
    outcome_ = CommandOutcome::Timeout;
    return 0;
  }
  platform_.CloseEvent(ev);

  lastAsc = 0;
  lastAscq = 0;
  const std::uint8_t status = block[srb::kStatus];
  if (status == srb::SS_ERR) {
    lastAsc = block[srb::kSenseArea + fixed_sense::kAsc];
    lastAscq = block[srb::kSenseArea + fixed_sense::kAscq];
    senseKey_ = block[srb::kSenseArea + fixed_sense::kSenseKey] & kSenseKeyMask;
    outcome_ = CommandOutcome::CheckCondition;
    return 0;
  }
  if (status == srb::SS_COMP) {
    if (request_.direction == DataIn) {
      lastTransferred = DeliveredBytes(length);
      // The pattern must never pass for data.
      std::fill(request_.dataBuffer.begin() + lastTransferred, request_.dataBuffer.begin() + length, std::uint8_t{0});
    } else {
      lastTransferred = length;
    }
    outcome_ = CommandOutcome::Good;
    return 1;
  }
  return 0;
}

int ScsiTransport::ExecutePassThrough(std::uint32_t length) {
  outcome_ = CommandOutcome::Failed;
  if (length > kDataBufferSize) {
    return 0;
  }
  std::span<std::uint8_t> block = std::span<std::uint8_t>(passThrough_).first(spt::kDataArea + length);

  PutLe16(block, spt::kLength, static_cast<std::uint16_t>(spt::kHeaderSize));
  block[spt::kScsiStatus] = kStatusNotSet;
  block[spt::kPathId] = 0;
  block[spt::kTargetId] = 0;
  block[spt::kLun] = kLogicalUnit;
  block[spt::kCdbLength] = request_.cdbLength;
  block[spt::kSenseInfoLength] = spt::kSenseRequested;
  block[spt::kDataIn] = request_.direction == DataOut  ? spt::SCSI_IOCTL_DATA_OUT
                        : request_.direction == DataIn ? spt::SCSI_IOCTL_DATA_IN
                                                       : spt::SCSI_IOCTL_DATA_UNSPECIFIED;
  PutLe32(block, spt::kDataTransferLength, length);
  PutLe32(block, spt::kTimeOutValue, spt::kTimeOutSeconds);
  PutLe32(block, spt::kDataBufferOffset, static_cast<std::uint32_t>(spt::kDataArea));
  PutLe32(block, spt::kSenseInfoOffset, static_cast<std::uint32_t>(spt::kSenseArea));
  // The block carries the first 12 bytes of the record's CDB (the longest
  // command); the last 4 are always zero.
  for (std::size_t i = 0; i < kMaxCdbLength; ++i) {
    block[spt::kCdb + i] = i < kPassThroughCdbBytes ? request_.cdb[i] : 0;
  }

  const std::string name = platform_.DeviceName(mode, address.deviceNumber);
  const DeviceHandle dev = platform_.OpenDevice(name);
  if (dev < 0) {
    lastAsc = 0;
    lastAscq = 0;
    return 0;
  }
  const PassThroughResult call = platform_.PassThrough(dev, block);
  platform_.CloseDevice(dev);

  lastAsc = 0;
  lastAscq = 0;
  if (call == PassThroughResult::TimedOut) {
    outcome_ = CommandOutcome::Timeout;
    return 0;
  }
  if (call != PassThroughResult::Done) {
    return 0;
  }
  const std::uint8_t status = block[spt::kScsiStatus];
  if (status == kStatusCheckCondition) {
    lastAsc = block[spt::kSenseArea + fixed_sense::kAsc];
    lastAscq = block[spt::kSenseArea + fixed_sense::kAscq];
    senseKey_ = block[spt::kSenseArea + fixed_sense::kSenseKey] & kSenseKeyMask;
    outcome_ = CommandOutcome::CheckCondition;
    return 0;
  }
  if (status != kStatusGood) {
    return 0;
  }
  lastTransferred = std::min(GetLe32(block, spt::kDataTransferLength), length);
  outcome_ = CommandOutcome::Good;
  return 1;
}

bool ScsiTransport::ProbeCdromDevices() {
  bool any = false;
  for (const std::uint16_t n : platform_.RouteDeviceNumbers(TransportMode::CdromDevice)) {
    const DeviceHandle dev = platform_.OpenDevice(platform_.DeviceName(TransportMode::CdromDevice, n));
    if (dev >= 0) {
      platform_.CloseDevice(dev);
      any = true;
    }
  }
  return any;
}

void ScsiTransport::PoisonForRead(std::uint32_t length) {
  for (std::size_t i = 0; i < kReadPatternSize; i += sizeof(std::uint64_t)) {
    const std::uint64_t word = NextPatternWord(patternState_);
    for (std::size_t b = 0; b < sizeof(std::uint64_t); ++b) {
      pattern_[i + b] = static_cast<std::uint8_t>(word >> (kBitsPerByte * b));
    }
  }
  for (std::uint32_t i = 0; i < length; ++i) request_.dataBuffer[i] = pattern_[i % kReadPatternSize];
}

std::uint32_t ScsiTransport::DeliveredBytes(std::uint32_t length) const {
  std::uint32_t end = length;
  while (end > 0 && request_.dataBuffer[end - 1] == pattern_[(end - 1) % kReadPatternSize]) --end;
  return length - end >= kShortAnswerEvidence ? end : length;
}

int ScsiTransport::RememberListedDrive() {
  if (mode == TransportMode::Aspi) return 1;
  return platform_.RememberListedDevice(platform_.DeviceName(mode, address.deviceNumber));
}

DeviceClaimResult ScsiTransport::ClaimDrive() {
  ReleaseDrive();
  if (mode == TransportMode::Aspi) return DeviceClaimResult::Claimed;
  std::string name = platform_.DeviceName(mode, address.deviceNumber);
  const DeviceClaimResult result = platform_.ClaimListedDevice(name);
  if (result == DeviceClaimResult::Claimed) claimed_ = std::move(name);
  return result;
}

void ScsiTransport::ReleaseDrive() {
  if (claimed_.empty()) return;
  platform_.ReleaseListedDevice(claimed_);
  claimed_.clear();
}

void ScsiTransport::Notify(std::uint32_t length, CommandOutcome outcome, int result) {
  if (observer_ == nullptr) {
    return;
  }
  CommandRecord record;
  record.cdb = std::span<const std::uint8_t>(request_.cdb).first(std::min<std::size_t>(request_.cdbLength, kMaxCdbLength));
  record.direction = request_.direction;
  record.length = length;
  record.outcome = outcome;
  if (outcome == CommandOutcome::CheckCondition) {
    record.senseKey = senseKey_;
    record.asc = lastAsc;
    record.ascq = lastAscq;
  }
  record.result = result;
  if (length <= kDataBufferSize) {
    if (request_.direction == DataOut) {
      record.data = std::span<const std::uint8_t>(request_.dataBuffer).first(length);
    } else if (request_.direction == DataIn && outcome == CommandOutcome::Good) {
      record.data = std::span<const std::uint8_t>(request_.dataBuffer).first(std::min(lastTransferred, length));
    }
  }
  observer_->OnCommand(record);
}

}  // namespace orvel
