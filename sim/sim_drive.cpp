#include "sim/sim_drive.h"

#include <algorithm>
#include <cstring>

#include "platform/fixed_sense.h"

namespace orvel::sim {
namespace {

// Opcodes as the drive knows them.
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kFinishTransfer = 0xE0;
constexpr std::uint8_t kStartRewrite = 0xE1;
constexpr std::uint8_t kChunk10 = 0xE2;
constexpr std::uint8_t kReadAddress = 0xE3;
constexpr std::uint8_t kEnterUpdate = 0xE4;
constexpr std::uint8_t kChunk12 = 0xAA;
constexpr std::uint8_t kReadAlternate = 0xA8;

constexpr std::size_t kBlockSize = 16384;
constexpr std::size_t kCdb6 = 6;
constexpr std::size_t kCdb10 = 10;
constexpr std::size_t kCdb12 = 12;
constexpr std::size_t kAllocationByte = 4;
constexpr std::size_t kVariantByte = 3;
constexpr std::size_t kLoaderByteIndex = 9;
constexpr std::size_t kChunkLengthHi = 6;
constexpr std::size_t kAddressByte = 2;
constexpr std::uint8_t kErased = 0xFF;

// INQUIRY layout.
constexpr std::size_t kInqVendor = 8;
constexpr std::size_t kInqProduct = 16;
constexpr std::size_t kInqRevision = 32;
constexpr std::size_t kVendorLength = 8;
constexpr std::size_t kRevisionLength = 4;
constexpr std::uint8_t kInqVersion = 0x02;
constexpr std::uint8_t kInqResponseFormat = 0x02;
constexpr std::uint8_t kInqRemovable = 0x80;
constexpr std::uint8_t kInqAdditionalLength = kInquiryDataLength - 5;

constexpr Sense kInvalidOpcode{kKeyIllegalRequest, 0x20, 0x00};
constexpr Sense kInvalidField{kKeyIllegalRequest, 0x24, 0x00};
constexpr Sense kBadParameterList{kKeyIllegalRequest, 0x26, 0x00};
constexpr Sense kOutOfRange{kKeyIllegalRequest, 0x21, 0x00};
constexpr Sense kResend{kKeyNotReady, 0x3A, 0x00};
constexpr Sense kRewriteDone{kKeyNotReady, 0x3A, 0x00};
constexpr Sense kBusy{kKeyIllegalRequest, 0x20, 0x00};
constexpr Sense kInProgress{kKeyNotReady, 0x04, 0x07};
constexpr std::uint8_t kEraseAscq = 0x01;

std::uint16_t Be16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}
std::uint32_t Be32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 |
         std::uint32_t{b[at + 3]};
}

void PutPadded(std::span<std::uint8_t> out, std::string_view text) {
  std::fill(out.begin(), out.end(), std::uint8_t{' '});
  const std::size_t n = std::min(out.size(), text.size());
  std::memcpy(out.data(), text.data(), n);
}

bool IsLoaderId(std::span<const char> row) {
  for (std::size_t i = 0; i < kLoaderRows; ++i) {
    if (std::memcmp(LoaderRow(static_cast<int>(i)).loaderId, row.data(), kProductIdLength) == 0) return true;
  }
  return false;
}

// The revision the firmware in `flash` names in its identification block
// ("... Ver 1.32"); empty when there is none.
std::string RevisionInFlash(int family, std::span<const std::uint8_t> flash) {
  constexpr std::string_view kMarker = "Ver ";
  for (std::size_t i = 0; i < kTypeCodeRows; ++i) {
    const TypeCodeEntry& row = TypeCodeRow(static_cast<int>(i));
    if (row.family != family) continue;
    const std::size_t start = std::size_t{row.idOffset} + kTypeCodeLength;
    if (start + kDescriptionLength > flash.size()) return {};
    const std::string description(reinterpret_cast<const char*>(flash.data() + start), kDescriptionLength);
    const std::size_t at = description.find(kMarker);
    if (at == std::string::npos || at + kMarker.size() + kRevisionLength > description.size()) return {};
    std::string revision = description.substr(at + kMarker.size(), kRevisionLength);
    const bool printable = std::all_of(revision.begin(), revision.end(), [](char c) { return c > ' ' && c < 0x7F; });
    return printable ? revision : std::string();
  }
  return {};
}

bool FitsField(const std::string& text, std::size_t width) {
  return text.size() <= width &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c < 0x7F; });
}

}  // namespace

std::string NormalProductId(int n) {
  int seen = 0;
  for (const ProductIdRow& row : ProductIdTable) {
    if (row[0] == '\0') break;
    if (IsLoaderId(row)) continue;
    if (seen++ == n) return std::string(row.data(), kProductIdLength);
  }
  return std::string(kProductIdLength, ' ');
}

SimDrive::SimDrive(int family, DriveIdentity identity, std::vector<std::uint8_t> flash, DriveBehaviour behaviour)
    : family_(family), identity_(std::move(identity)), flash_(std::move(flash)), behaviour_(std::move(behaviour)) {
  flash_.resize(PlainImageSize(family_), kErased);
  received_.assign(kFullImageSize, 0);
  if (behaviour_.loaderRow >= 0 && behaviour_.loaderRow < static_cast<int>(kLoaderRows)) {
    loaderIndex_ = behaviour_.loaderRow;
  } else {
    for (std::size_t i = 0; i < kLoaderRows; ++i) {
      if (LoaderRow(static_cast<int>(i)).family == family_) {
        loaderIndex_ = static_cast<int>(i);
        break;
      }
    }
  }
}

const LoaderEntry& SimDrive::Loader() const {
  return LoaderRow(loaderIndex_ >= 0 ? loaderIndex_ : static_cast<int>(kLoaderRows));
}

std::uint32_t SimDrive::CommandDuration(std::uint8_t opcode) const {
  for (const OpcodeDuration& d : behaviour_.opcodeMs) {
    if (d.opcode == opcode) return d.milliseconds;
  }
  return behaviour_.commandMs;
}

void SimDrive::PowerCycle() {
  updateMode_ = false;
  readArmed_ = false;
  readPointer_ = 0;
  lastSense_ = {};
  rewrite_ = RewriteState::Idle;
  ResetTransfer();
  if (rewritesCompleted_ == 0) return;
  if (std::string revision = RevisionInFlash(family_, flash_); !revision.empty()) identity_.revision = std::move(revision);
}

DriveMemory SimDrive::Memory() const {
  DriveMemory m;
  m.updateMode = updateMode_;
  m.identity = identity_;
  m.enterLoaderByte = enterLoaderByte_;
  m.rewriteLoaderByte = rewriteLoaderByte_;
  m.rewrite = rewrite_ == RewriteState::Done || rewrite_ == RewriteState::Failed ? rewrite_ : RewriteState::Idle;
  m.rewritesCompleted = rewritesCompleted_;
  m.finishedVariant = finishedVariant_;
  m.transferFinished = transferFinished_;
  const std::span<const std::uint8_t> got = Received();
  m.received.assign(got.begin(), got.end());
  return m;
}

int SimDrive::Restore(const DriveMemory& memory) {
  const DriveIdentity& id = memory.identity;
  constexpr int kVariants = 8;
  const bool fits = memory.received.size() <= received_.size() && FitsField(id.vendor, kVendorLength) &&
                    FitsField(id.product, kProductIdLength) && FitsField(id.revision, kRevisionLength) &&
                    FitsField(id.loaderRevision, kRevisionLength) && memory.rewritesCompleted >= 0 &&
                    memory.finishedVariant >= -1 && memory.finishedVariant < kVariants &&
                    (memory.rewrite == RewriteState::Idle || memory.rewrite == RewriteState::Done ||
                     memory.rewrite == RewriteState::Failed);
  if (!fits) return 0;
  PowerCycle();
  identity_ = id;
  updateMode_ = memory.updateMode;
  readArmed_ = memory.updateMode;  // as a drive found in its loader (StartInUpdateMode)
  enterLoaderByte_ = memory.enterLoaderByte;
  rewriteLoaderByte_ = memory.rewriteLoaderByte;
  rewrite_ = memory.rewrite;
  rewritesCompleted_ = memory.rewritesCompleted;
  finishedVariant_ = memory.finishedVariant;
  transferFinished_ = memory.transferFinished;
  std::copy(memory.received.begin(), memory.received.end(), received_.begin());
  receivedLength_ = memory.received.size();
  return 1;
}

void SimDrive::StartInUpdateMode() {
  updateMode_ = true;
  readArmed_ = true;
}

void SimDrive::ResetTransfer() {
  receivedLength_ = 0;
  transferFinished_ = false;
  acceptedChunks_ = 0;
  resendsGiven_ = 0;
}

DriveAnswer SimDrive::Good(std::uint32_t dataInLength) {
  lastSense_ = {};
  DriveAnswer a;
  a.dataInLength = dataInLength;
  return a;
}

DriveAnswer SimDrive::Check(Sense sense) {
  lastSense_ = sense;
  DriveAnswer a;
  a.status = 0x02;
  a.sense = sense;
  return a;
}

DriveAnswer SimDrive::Execute(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut,
                              std::span<std::uint8_t> dataIn) {
  if (cdb.empty()) return Check(kInvalidOpcode);
  const std::uint8_t op = cdb[0];
  const auto needs = [&](std::size_t n) { return cdb.size() >= n; };
  switch (op) {
    case kInquiry:
      if (!needs(kCdb6)) return Check(kInvalidField);
      return DoInquiry(cdb, dataIn);
    case kRequestSense:
      if (!needs(kCdb6)) return Check(kInvalidField);
      return DoRequestSense(cdb, dataIn);
    case kTestUnitReady:
      return DoPoll();
    case kEnterUpdate:
      if (!needs(kCdb10)) return Check(kInvalidField);
      return DoEnterUpdateMode(cdb);
    default:
      break;
  }
  // The remaining commands exist only in the loader.
  const bool vendor = op == kFinishTransfer || op == kStartRewrite || op == kChunk10 || op == kReadAddress ||
                      op == kChunk12 || op == kReadAlternate;
  if (!vendor || !updateMode_) return Check(kInvalidOpcode);
  if (rewrite_ == RewriteState::Busy || rewrite_ == RewriteState::Phases) return Check(kInProgress);
  switch (op) {
    case kReadAddress:
      if (!needs(kCdb12)) return Check(kInvalidField);
      if (behaviour_.refuseAddressRead) return Check(kInvalidOpcode);
      return DoReadAt(Be32(cdb, kAddressByte), dataIn);
    case kReadAlternate:
      if (!needs(kCdb12)) return Check(kInvalidField);
      return DoReadAlternate(dataIn);
    case kChunk12:
      if (!needs(kCdb12)) return Check(kInvalidField);
      if (behaviour_.refuseTwelveByteChunks) return Check(behaviour_.twelveByteRefusal);
      return DoChunk(cdb, dataOut, true);
    case kChunk10:
      if (!needs(kCdb10)) return Check(kInvalidField);
      return DoChunk(cdb, dataOut, false);
    case kFinishTransfer:
      if (!needs(kCdb10)) return Check(kInvalidField);
      return DoFinishTransfer(cdb);
    case kStartRewrite:
      if (!needs(kCdb10)) return Check(kInvalidField);
      return DoStartRewrite(cdb);
    default:
      return Check(kInvalidOpcode);
  }
}

DriveAnswer SimDrive::DoInquiry(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn) {
  std::array<std::uint8_t, kInquiryDataLength> data{};
  data[0] = identity_.peripheralType;
  data[1] = kInqRemovable;
  data[2] = kInqVersion;
  data[3] = kInqResponseFormat;
  data[4] = kInqAdditionalLength;
  PutPadded(std::span(data).subspan(kInqVendor, kVendorLength), identity_.vendor);
  if (updateMode_ && loaderIndex_ >= 0) {
    PutPadded(std::span(data).subspan(kInqProduct, kProductIdLength), Loader().loaderId);
    PutPadded(std::span(data).subspan(kInqRevision, kRevisionLength), identity_.loaderRevision);
  } else {
    PutPadded(std::span(data).subspan(kInqProduct, kProductIdLength), identity_.product);
    PutPadded(std::span(data).subspan(kInqRevision, kRevisionLength), identity_.revision);
  }
  const std::size_t n = std::min({data.size(), std::size_t{cdb[kAllocationByte]}, dataIn.size()});
  std::memcpy(dataIn.data(), data.data(), n);
  return Good(static_cast<std::uint32_t>(n));
}

DriveAnswer SimDrive::DoRequestSense(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn) {
  const auto data = fixed_sense::Make(lastSense_.key, lastSense_.asc, lastSense_.ascq);
  const std::size_t n = std::min({data.size(), std::size_t{cdb[kAllocationByte]}, dataIn.size()});
  std::memcpy(dataIn.data(), data.data(), n);
  // Reporting the sense consumes it, as on any drive.
  return Good(static_cast<std::uint32_t>(n));
}

DriveAnswer SimDrive::DoEnterUpdateMode(std::span<const std::uint8_t> cdb) {
  if (!behaviour_.switchesToUpdateMode || loaderIndex_ < 0) return Check(kInvalidOpcode);
  if (rewrite_ == RewriteState::Busy || rewrite_ == RewriteState::Phases) return Check(kInProgress);
  updateMode_ = true;
  enterLoaderByte_ = cdb[kLoaderByteIndex];
  readArmed_ = true;
  ResetTransfer();
  return Good();
}

DriveAnswer SimDrive::DoReadAt(std::uint64_t address, std::span<std::uint8_t> dataIn) {
  if (address >= flash_.size()) return Check(kOutOfRange);
  const std::size_t want = std::min(dataIn.size(), kBlockSize);
  const std::size_t inFlash = std::min(want, static_cast<std::size_t>(flash_.size() - address));
  std::memcpy(dataIn.data(), flash_.data() + address, inFlash);
  std::fill(dataIn.begin() + static_cast<std::ptrdiff_t>(inFlash),
            dataIn.begin() + static_cast<std::ptrdiff_t>(want), kErased);
  readArmed_ = false;
  readPointer_ = static_cast<std::uint32_t>(address + kBlockSize);
  return Good(static_cast<std::uint32_t>(want));
}

DriveAnswer SimDrive::DoReadAlternate(std::span<std::uint8_t> dataIn) {
  if (readArmed_) {
    readArmed_ = false;
    const DriveAnswer a = DoReadAt(Loader().idAddress, dataIn);
    readPointer_ = 0;
    return a;
  }
  return DoReadAt(readPointer_, dataIn);
}

DriveAnswer SimDrive::DoChunk(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut,
                              bool /*twelveByte*/) {
  const std::size_t length = Be16(cdb, kChunkLengthHi);
  if (length == 0 || length > dataOut.size()) return Check(kInvalidField);
  if (transferFinished_ || rewrite_ == RewriteState::Done || rewrite_ == RewriteState::Failed) {
    // A new transfer after a finished one starts a fresh image.
    ResetTransfer();
    rewrite_ = RewriteState::Idle;
  }
  if (receivedLength_ + length > received_.size()) return Check(kBadParameterList);
  if (acceptedChunks_ == behaviour_.resendChunkIndex && resendsGiven_ < behaviour_.resendTimes) {
    ++resendsGiven_;
    return Check(kResend);
  }
  std::memcpy(received_.data() + receivedLength_, dataOut.data(), length);
  receivedLength_ += length;
  ++acceptedChunks_;
  return Good();
}

DriveAnswer SimDrive::DoFinishTransfer(std::span<const std::uint8_t> cdb) {
  const std::uint8_t variant = cdb[kVariantByte];
  constexpr std::uint8_t kVariantBits = 8;
  if (variant >= kVariantBits || (behaviour_.acceptedFinishVariants >> variant & 1U) == 0) return Check(kInvalidField);
  transferFinished_ = true;
  finishedVariant_ = variant;
  return Good();
}

DriveAnswer SimDrive::DoStartRewrite(std::span<const std::uint8_t> cdb) {
  // Only a complete image of the family's size is written.
  if (!transferFinished_ || receivedLength_ != PlainImageSize(family_)) return Check(kBadParameterList);
  rewriteLoaderByte_ = cdb[kLoaderByteIndex];
  busyLeft_ = behaviour_.busyPollsBefore;
  phaseIndex_ = 0;
  phasePollsLeft_ = behaviour_.phaseScript.empty() ? 0 : behaviour_.phaseScript[0].polls;
  rewrite_ = RewriteState::Busy;
  transferFinished_ = false;
  return Good();
}

DriveAnswer SimDrive::DoPoll() {
  switch (rewrite_) {
    case RewriteState::Idle:
      return Good();
    case RewriteState::Done:
      return Check(kRewriteDone);
    case RewriteState::Failed:
      return Check(behaviour_.failureSense);
    case RewriteState::Busy:
      if (busyLeft_ > 0) {
        --busyLeft_;
        return behaviour_.busyAsCheck ? Check(kBusy) : Good();
      }
      rewrite_ = RewriteState::Phases;
      [[fallthrough]];
    case RewriteState::Phases: {
      const std::vector<PhaseStep>& script = behaviour_.phaseScript;
      while (phaseIndex_ < script.size() && phasePollsLeft_ == 0) {
        ++phaseIndex_;
        if (phaseIndex_ < script.size()) phasePollsLeft_ = script[phaseIndex_].polls;
      }
      if (phaseIndex_ < script.size()) {
        --phasePollsLeft_;
        return Check(Sense{kKeyNotReady, kRewritePhaseAsc, script[phaseIndex_].ascq});
      }
      if (behaviour_.rewriteFails) {
        bool erased = false;
        for (const PhaseStep& s : script) erased = erased || s.ascq >= kEraseAscq;
        if (erased) std::fill(flash_.begin(), flash_.end(), kErased);
        rewrite_ = RewriteState::Failed;
        return Check(behaviour_.failureSense);
      }
      std::memcpy(flash_.data(), received_.data(), flash_.size());
      ++rewritesCompleted_;
      rewrite_ = RewriteState::Done;
      ResetTransfer();
      return Check(kRewriteDone);
    }
  }
  return Good();
}

}  // namespace orvel::sim
