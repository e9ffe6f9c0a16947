#pragma once
// A scripted Platform for the transport, drive and platform tests: an ASPI
// layer whose requests finish at once, during the wait or never; pass-through
// devices by name with a responder per command; every call recorded; a working
// directory in memory. Time is virtual: a wait that times out only adds to
// `waitedMs`.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/fixed_sense.h"
#include "platform/platform.h"
#include "platform/request_blocks.h"
#include "tests/support/memory_files.h"

namespace orvel::testing {

// How the fake ASPI layer finishes one request.
struct AspiStep {
  bool finishesAtOnce = true;      // final status set before SendASPI32Command returns
  bool finishesInWait = true;      // otherwise: finishes while the caller waits (or never)
  std::uint8_t finalStatus = srb::SS_COMP;
  std::uint8_t asc = 0;            // placed in SenseArea with SS_ERR
  std::uint8_t ascq = 0;
  std::uint8_t senseKey = 0;
  std::vector<std::uint8_t> data;  // copied into the registered buffer
  // Instead of `data`: writes the answer into the registered buffer as it is
  // then (it may look at what the buffer held before).
  std::function<void(std::span<std::uint8_t> buffer)> answer;
};

// What the drive answers to one pass-through command.
using PassThroughResponder = std::function<PassThroughResult(const std::string& device, std::span<std::uint8_t> block)>;

class FakePlatform;

class FakeAspi : public AspiLibrary {
 public:
  explicit FakeAspi(FakePlatform& p) : p_(p) {}
  bool HasEntryPoint(std::string_view name) override;
  std::uint32_t GetASPI32SupportInfo() override;
  void SendASPI32Command(std::span<std::uint8_t> srb) override;

 private:
  FakePlatform& p_;
};

class FakePlatform : public Platform {
 public:
  FakePlatform() : aspi_(*this) {}

  // --- script ---
  std::uint32_t platformId = kPlatformNt;
  bool libraryPresent = true;
  std::set<std::string> missingEntryPoints;
  std::uint32_t supportInfo = 0x0100;  // SS_COMP, no adapters
  bool failCreateEvent = false;
  std::deque<AspiStep> aspiSteps;      // one per SendASPI32Command; none left: SS_NO_DEVICE
  std::set<std::string> devices;       // names that open
  PassThroughResponder responder;      // default: GOOD, nothing moved but the asked length
  std::string accessProblem;
  std::vector<NodeAccessProblem> accessProblems;
  std::optional<std::vector<std::uint16_t>> routeNumbers;  // default: 0..9
  std::map<std::string, DeviceNodes> nodes;   // NodesOf, by device name
  std::map<std::string, std::string> links;   // ResolveNodePath: a link and where it leads
  AttemptHold attemptHold{true, {}};  // what BeginAttempt gives
  Interruption heldInterruption = 0;  // what EndAttempt returns
  std::map<std::string, DeviceClaimResult> claimAnswers;  // by name; Claimed when not given
  std::uint64_t randomSeed = 0x0123456789ABCDEFu;
  static constexpr std::uint16_t kDeviceNumbers = 10;
  MemoryFileSystem files;

  // --- record ---
  std::vector<std::string> loadedLibraries;
  int freedLibraries = 0;
  std::vector<std::vector<std::uint8_t>> sentSrbs;  // as handed to SendASPI32Command
  std::vector<std::vector<std::uint8_t>> buffersAtSend;  // the registered buffer at each SendASPI32Command
  std::vector<std::pair<EventHandle, std::uint32_t>> waits;
  std::uint64_t waitedMs = 0;
  std::vector<EventHandle> resetEvents;
  std::set<EventHandle> liveEvents;
  std::vector<std::string> openAttempts;
  std::vector<std::vector<std::uint8_t>> passThroughBlocks;  // as handed to PassThrough
  int openHandles = 0;
  int attemptsBegun = 0;
  int attemptsEnded = 0;
  std::vector<Interruption> actedOn;
  std::vector<std::string> remembered;  // names recorded as listed
  std::vector<std::string> claims;      // every claim asked for
  std::vector<std::string> releases;
  std::string held;                     // the name claimed now

  // The ASPI layer finishes the request it still holds (after a caller's time-out).
  void FinishHeldRequest() {
    if (held_) {
      Finish(*held_, heldSrb_);
      signalled_.insert(heldEvent_);
      held_.reset();
    }
  }
  bool HoldsRequest() const { return held_.has_value(); }

  // --- Platform ---
  std::uint32_t PlatformId() override { return platformId; }
  AspiLibrary* LoadLibrary(std::string_view name) override {
    loadedLibraries.emplace_back(name);
    return libraryPresent ? &aspi_ : nullptr;
  }
  void FreeLibrary(AspiLibrary*) override { ++freedLibraries; }
  std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) override {
    buffer_ = buffer;
    return kBufferHandle;
  }
  EventHandle CreateEvent() override {
    if (failCreateEvent) {
      return 0;
    }
    liveEvents.insert(nextEvent_);
    return nextEvent_++;
  }
  WaitResult WaitEvent(EventHandle ev, std::uint32_t ms) override {
    waits.emplace_back(ev, ms);
    if (signalled_.erase(ev) != 0) {
      return WaitResult::Signalled;
    }
    if (held_ && heldEvent_ == ev && held_->finishesInWait) {
      Finish(*held_, heldSrb_);
      held_.reset();
      return WaitResult::Signalled;
    }
    waitedMs += ms;
    return WaitResult::TimedOut;
  }
  void ResetEvent(EventHandle ev) override {
    resetEvents.push_back(ev);
    signalled_.erase(ev);
  }
  void CloseEvent(EventHandle ev) override { liveEvents.erase(ev); }

  std::string DeviceName(TransportMode mode, std::uint16_t number) override {
    if (mode == TransportMode::CdromDevice) {
      return "\\\\.\\cdrom" + std::to_string(number);
    }
    return std::string("\\\\.\\") + static_cast<char>('d' + number) + ":";
  }
  DeviceHandle OpenDevice(std::string_view name) override {
    openAttempts.emplace_back(name);
    if (devices.count(std::string(name)) == 0) {
      return -1;
    }
    ++openHandles;
    current_ = std::string(name);
    return kDeviceHandle;
  }
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override {
    passThroughBlocks.emplace_back(block.begin(), block.end());
    if (dev != kDeviceHandle) {
      return PassThroughResult::Failed;
    }
    if (responder) {
      return responder(current_, block);
    }
    block[spt::kScsiStatus] = kStatusGood;
    return PassThroughResult::Done;
  }
  void CloseDevice(DeviceHandle) override { --openHandles; }
  void Sleep(std::uint32_t ms) override { waitedMs += ms; }
  FileSystem& Files() override { return files; }
  std::string AccessProblem() override { return accessProblem; }
  std::vector<NodeAccessProblem> AccessProblems() override { return accessProblems; }
  std::vector<std::uint16_t> RouteDeviceNumbers(TransportMode mode) override {
    return routeNumbers ? *routeNumbers : Platform::RouteDeviceNumbers(mode);
  }
  DeviceNodes NodesOf(std::string_view name) override {
    const auto it = nodes.find(std::string(name));
    return it == nodes.end() ? DeviceNodes{} : it->second;
  }
  std::string ResolveNodePath(std::string_view path) override {
    const auto it = links.find(std::string(path));
    return it == links.end() ? std::string(path) : it->second;
  }
  std::vector<std::uint16_t> PresentDeviceNumbers(TransportMode mode) override {
    std::vector<std::uint16_t> present;
    for (std::uint16_t n = 0; n < kDeviceNumbers; ++n) {
      if (devices.count(DeviceName(mode, n)) != 0) present.push_back(n);
    }
    return present;
  }
  // A name that opens can be remembered; one remembered can be claimed (or
  // answers as claimAnswers says).
  int RememberListedDevice(std::string_view name) override {
    if (devices.count(std::string(name)) == 0) return 0;
    remembered.emplace_back(name);
    return 1;
  }
  DeviceClaimResult ClaimListedDevice(std::string_view name) override {
    claims.emplace_back(name);
    held.clear();
    if (std::find(remembered.begin(), remembered.end(), name) == remembered.end()) {
      return DeviceClaimResult::NotListed;
    }
    const auto answer = claimAnswers.find(std::string(name));
    const DeviceClaimResult result = answer == claimAnswers.end() ? DeviceClaimResult::Claimed : answer->second;
    if (result == DeviceClaimResult::Claimed) held = std::string(name);
    return result;
  }
  void ReleaseListedDevice(std::string_view name) override {
    releases.emplace_back(name);
    if (held == name) held.clear();
  }
  std::uint64_t RandomSeed() override { return randomSeed; }

  // Time is what the pauses and the timed-out waits added up to.
  std::uint64_t MonotonicMilliseconds() override { return waitedMs; }
  AttemptHold BeginAttempt() override {
    ++attemptsBegun;
    return attemptHold;
  }
  Interruption EndAttempt() override {
    ++attemptsEnded;
    return heldInterruption;
  }
  void ActOnInterruption(Interruption interruption) override { actedOn.push_back(interruption); }

  std::span<std::uint8_t> RegisteredBuffer() const { return buffer_; }

 private:
  friend class FakeAspi;
  static constexpr std::uint32_t kBufferHandle = 0x5A17;
  static constexpr DeviceHandle kDeviceHandle = 7;

  void Finish(const AspiStep& step, std::span<std::uint8_t> srb) {
    srb[srb::kStatus] = step.finalStatus;
    if (step.finalStatus == srb::SS_ERR) {
      srb[srb::kSenseArea + fixed_sense::kAsc] = step.asc;
      srb[srb::kSenseArea + fixed_sense::kAscq] = step.ascq;
      srb[srb::kSenseArea + fixed_sense::kSenseKey] = step.senseKey;
    }
    if (GetLe32(srb, srb::kBufPointer) == kBufferHandle) {
      if (step.answer) {
        step.answer(buffer_);
      } else {
        std::copy_n(step.data.begin(), std::min(step.data.size(), buffer_.size()), buffer_.begin());
      }
    }
  }

  void Send(std::span<std::uint8_t> srb) {
    sentSrbs.emplace_back(srb.begin(), srb.end());
    buffersAtSend.emplace_back(buffer_.begin(), buffer_.end());
    if (aspiSteps.empty()) {
      srb[srb::kStatus] = srb::SS_NO_DEVICE;
      return;
    }
    AspiStep step = aspiSteps.front();
    aspiSteps.pop_front();
    if (step.finishesAtOnce) {
      Finish(step, srb);
      signalled_.insert(GetLe32(srb, srb::kPostProc));
      return;
    }
    srb[srb::kStatus] = srb::SS_PENDING;
    held_ = step;
    heldSrb_ = srb;
    heldEvent_ = GetLe32(srb, srb::kPostProc);
  }

  FakeAspi aspi_;
  std::span<std::uint8_t> buffer_;
  EventHandle nextEvent_ = 1;
  std::set<EventHandle> signalled_;
  std::optional<AspiStep> held_;
  std::span<std::uint8_t> heldSrb_;
  EventHandle heldEvent_ = 0;
  std::string current_;
};

inline bool FakeAspi::HasEntryPoint(std::string_view name) {
  return p_.missingEntryPoints.count(std::string(name)) == 0;
}
inline std::uint32_t FakeAspi::GetASPI32SupportInfo() { return p_.supportInfo; }
inline void FakeAspi::SendASPI32Command(std::span<std::uint8_t> srb) { p_.Send(srb); }

// Responder helpers for pass-through drives.
inline PassThroughResult CheckCondition(std::span<std::uint8_t> block, std::uint8_t asc, std::uint8_t ascq) {
  block[spt::kScsiStatus] = kStatusCheckCondition;
  block[spt::kSenseArea] = fixed_sense::kCurrent;
  block[spt::kSenseArea + fixed_sense::kAsc] = asc;
  block[spt::kSenseArea + fixed_sense::kAscq] = ascq;
  return PassThroughResult::Done;
}
inline PassThroughResult Good(std::span<std::uint8_t> block, std::span<const std::uint8_t> data = {}) {
  block[spt::kScsiStatus] = kStatusGood;
  std::copy(data.begin(), data.end(), block.begin() + spt::kDataArea);
  if (!data.empty()) {
    PutLe32(block, spt::kDataTransferLength, static_cast<std::uint32_t>(data.size()));
  }
  return PassThroughResult::Done;
}

// Standard INQUIRY data: vendor, 16-byte product and revision, blank padded.
inline std::vector<std::uint8_t> InquiryData(std::string_view vendor, std::string_view product, std::string_view revision) {
  std::vector<std::uint8_t> d(36, ' ');
  d[0] = 0x05;
  d[1] = 0x80;
  d[2] = 0x00;
  d[3] = 0x02;
  d[4] = 31;
  d[5] = d[6] = d[7] = 0;
  auto put = [&d](std::size_t at, std::string_view s, std::size_t n) {
    for (std::size_t i = 0; i < n && i < s.size(); ++i) d[at + i] = static_cast<std::uint8_t>(s[i]);
  };
  put(8, vendor, 8);
  put(16, product, 16);
  put(32, revision, 4);
  return d;
}

}  // namespace orvel::testing
