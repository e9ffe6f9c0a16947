#include "sim/replay_platform.h"

#include <algorithm>

#include "platform/request_blocks.h"

namespace orvel {
namespace {

constexpr std::uint8_t kDirIn = srb::SRB_DIR_IN;
constexpr std::uint8_t kDirOut = srb::SRB_DIR_OUT;
constexpr std::size_t kMaxCdb = 16;

bool SamePlace(const RecordedRequest& a, const RecordedRequest& b) {
  if (a.aspi != b.aspi) return false;
  return a.aspi ? a.adapter == b.adapter && a.target == b.target : a.device == b.device;
}

// Everything but the data sent.
bool SameRequest(const RecordedRequest& expected, const RecordedRequest& received) {
  if (expected.kind != received.kind || !SamePlace(expected, received)) return false;
  if (expected.kind != RequestKind::Scsi) return true;
  return expected.cdb == received.cdb && expected.direction == received.direction &&
         expected.length == received.length;
}

class ReplayAspiLibrary : public AspiLibrary {
 public:
  explicit ReplayAspiLibrary(ReplayPlatform& replay) : replay_(replay) {}
  bool HasEntryPoint(std::string_view name) override {
    const std::vector<std::string>& entries = replay_.Header().aspiEntryPoints;
    return std::find(entries.begin(), entries.end(), name) != entries.end();
  }
  std::uint32_t GetASPI32SupportInfo() override { return replay_.Header().aspiSupportInfo; }
  void SendASPI32Command(std::span<std::uint8_t> block) override { replay_.AspiSend(block); }

 private:
  ReplayPlatform& replay_;
};

}  // namespace

void ReplayState::NoteEnd() {
  if (departure || used >= total) return;
  departure = ReplayDeparture{used + 1, next, {}};
}

std::string DepartureText(const ReplayDeparture& d) {
  std::string text = "the run departs from the recording at request " + std::to_string(d.position) + ": ";
  if (d.received.empty()) return text + "the run ended, but the recording goes on with " + d.expected;
  if (d.expected.empty()) return text + "the recording has ended, but the program sent " + d.received;
  return text + "the recording expects " + d.expected + "; the program sent " + d.received;
}

ReplayPlatform::ReplayPlatform(Recording recording, std::unique_ptr<FileSystem> files,
                               std::shared_ptr<ReplayState> state)
    : recording_(std::move(recording)), files_(std::move(files)), state_(std::move(state)) {
  state_->total = recording_.requests.size();
  state_->bulkDataKept = recording_.header.bulkDataKept;
  if (!recording_.requests.empty()) state_->next = DescribeRequest(recording_.requests.front());
}

ReplayPlatform::~ReplayPlatform() = default;

const RecordedRequest* ReplayPlatform::Take(const RecordedRequest& received) {
  if (state_->departure) return nullptr;
  const std::size_t at = state_->used;
  if (at >= recording_.requests.size()) {
    state_->departure = ReplayDeparture{at + 1, {}, DescribeRequest(received)};
    return nullptr;
  }
  const RecordedRequest& expected = recording_.requests[at];
  if (!SameRequest(expected, received)) {
    state_->departure = ReplayDeparture{at + 1, DescribeRequest(expected), DescribeRequest(received)};
    return nullptr;
  }
  if (expected.kind == RequestKind::Scsi && expected.direction == kDirOut) {
    const std::span<const std::uint8_t> sent(received.dataOut.bytes);
    if (!expected.dataOut.Matches(sent)) {
      state_->departure = ReplayDeparture{at + 1, DescribeRequest(expected),
                                          DescribeRequest(received) + " with other data"};
      return nullptr;
    }
    if (expected.dataOut.digest) sent_[*expected.dataOut.digest] = received.dataOut.bytes;
  }
  ++state_->used;
  state_->next = state_->used < recording_.requests.size() ? DescribeRequest(recording_.requests[state_->used]) : "";
  return &expected;
}

void ReplayPlatform::Answer(const RecordedData& data, std::span<std::uint8_t> out) {
  const std::size_t n = std::min<std::size_t>(data.size, out.size());
  if (!data.digest) {
    std::copy_n(data.bytes.begin(), std::min(n, data.bytes.size()), out.begin());
    return;
  }
  const auto sent = sent_.find(*data.digest);
  if (sent != sent_.end() && sent->second.size() >= n) {
    std::copy_n(sent->second.begin(), n, out.begin());
    return;
  }
  std::fill_n(out.begin(), n, std::uint8_t{0});
  ++state_->filledReads;
}

AspiLibrary* ReplayPlatform::LoadLibrary(std::string_view) {
  if (recording_.header.platformId != kPlatformWindows || !recording_.header.aspiLibrary) return nullptr;
  if (!library_) library_ = std::make_unique<ReplayAspiLibrary>(*this);
  return library_.get();
}

std::uint32_t ReplayPlatform::RegisterBuffer(std::span<std::uint8_t> buffer) {
  for (const auto& [handle, known] : buffers_) {
    if (known.data() == buffer.data() && known.size() == buffer.size()) return handle;
  }
  const std::uint32_t handle = static_cast<std::uint32_t>(buffers_.size() + 1);
  buffers_[handle] = buffer;
  return handle;
}

EventHandle ReplayPlatform::CreateEvent() {
  const EventHandle ev = nextEvent_++;
  events_[ev] = false;
  return ev;
}

WaitResult ReplayPlatform::WaitEvent(EventHandle ev, std::uint32_t milliseconds) {
  const auto held = held_.find(ev);
  if (held != held_.end()) {
    // Recorded as still running when the wait ended: this wait times out;
    // the request is let go at the next one.
    if (!held->second.waited) {
      held->second.waited = true;
      clock_.Advance(milliseconds);
      clock_.CountWait(milliseconds);
      return WaitResult::TimedOut;
    }
    held->second.srb[srb::kStatus] = srb::SS_ABORTED;
    held_.erase(held);
    return WaitResult::Signalled;
  }
  const auto event = events_.find(ev);
  if (event != events_.end() && event->second) {
    event->second = false;
    return WaitResult::Signalled;
  }
  clock_.Advance(milliseconds);
  clock_.CountWait(milliseconds);
  return WaitResult::TimedOut;
}

void ReplayPlatform::ResetEvent(EventHandle ev) {
  const auto event = events_.find(ev);
  if (event != events_.end()) event->second = false;
}

void ReplayPlatform::CloseEvent(EventHandle ev) { events_.erase(ev); }

void ReplayPlatform::AspiSend(std::span<std::uint8_t> block) {
  RecordedRequest received;
  received.aspi = true;
  received.adapter = block[srb::kHaId];
  received.target = block[srb::kTarget];
  received.cdb.assign(block.begin() + srb::kCdbByte,
                      block.begin() + srb::kCdbByte + std::min<std::size_t>(block[srb::kCdbLen], kMaxCdb));
  received.direction = block[srb::kFlags] & (kDirIn | kDirOut);
  received.length = GetLe32(block, srb::kBufLen);
  const auto found = buffers_.find(GetLe32(block, srb::kBufPointer));
  std::span<std::uint8_t> buffer;
  if (found != buffers_.end() && received.length <= found->second.size()) buffer = found->second.first(received.length);
  if (received.direction == kDirOut) received.dataOut.bytes.assign(buffer.begin(), buffer.end());
  const EventHandle ev = GetLe32(block, srb::kPostProc);

  const RecordedRequest* expected = Take(received);
  if (expected == nullptr) {
    block[srb::kStatus] = srb::SS_NO_DEVICE;
    if (events_.count(ev) != 0) events_[ev] = true;
    return;
  }
  clock_.Advance(expected->milliseconds);
  if (expected->status == srb::SS_PENDING) {
    block[srb::kStatus] = srb::SS_PENDING;
    held_[ev] = Held{block, false};
    return;
  }
  std::copy_n(expected->sense.begin(), std::min(expected->sense.size(), srb::kSenseAreaSize),
              block.begin() + srb::kSenseArea);
  if (expected->direction == kDirIn && expected->status == srb::SS_COMP) Answer(expected->dataIn, buffer);
  block[srb::kStatus] = expected->status;
  if (events_.count(ev) != 0) events_[ev] = true;
}

std::string ReplayPlatform::DeviceName(TransportMode mode, std::uint16_t number) {
  const auto it = recording_.header.names.find({static_cast<int>(mode), number});
  if (it != recording_.header.names.end()) return it->second;
  // Not asked for while recording: a name no recorded request uses.
  return "replay:" + std::to_string(static_cast<int>(mode)) + ":" + std::to_string(number);
}

std::vector<std::uint16_t> ReplayPlatform::RouteDeviceNumbers(TransportMode mode) {
  const auto it = recording_.header.routeNumbers.find(static_cast<int>(mode));
  if (it == recording_.header.routeNumbers.end()) return {};
  return it->second;
}

DeviceNodes ReplayPlatform::NodesOf(std::string_view name) {
  const auto it = recording_.header.nodes.find(std::string(name));
  return it == recording_.header.nodes.end() ? DeviceNodes{} : it->second;
}

std::string ReplayPlatform::AccessProblem() {
  if (recording_.header.accessProblems.empty()) return {};
  const NodeAccessProblem& first = recording_.header.accessProblems.front();
  return "cannot open " + first.node + " (" + first.reason + "): " + first.remedy;
}

DeviceHandle ReplayPlatform::OpenDevice(std::string_view name) {
  RecordedRequest received;
  received.kind = RequestKind::Open;
  received.device = std::string(name);
  const RecordedRequest* expected = Take(received);
  if (expected == nullptr || !expected->ok) return -1;
  const DeviceHandle dev = nextDevice_++;
  open_[dev] = std::string(name);
  return dev;
}

PassThroughResult ReplayPlatform::PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) {
  const auto open = open_.find(dev);
  if (open == open_.end() || block.size() < spt::kDataArea) return PassThroughResult::Failed;
  RecordedRequest received;
  received.device = open->second;
  received.cdb.assign(block.begin() + spt::kCdb,
                      block.begin() + spt::kCdb + std::min<std::size_t>(block[spt::kCdbLength], kMaxCdb));
  const std::uint8_t dataIn = block[spt::kDataIn];
  received.direction = dataIn == spt::SCSI_IOCTL_DATA_IN ? kDirIn : dataIn == spt::SCSI_IOCTL_DATA_OUT ? kDirOut : 0;
  const std::span<std::uint8_t> data = block.subspan(spt::kDataArea);
  received.length = static_cast<std::uint32_t>(data.size());
  if (received.direction == kDirOut) received.dataOut.bytes.assign(data.begin(), data.end());

  const RecordedRequest* expected = Take(received);
  if (expected == nullptr) return PassThroughResult::Failed;
  clock_.Advance(expected->milliseconds);
  if (expected->call != PassThroughResult::Done) return expected->call;
  block[spt::kScsiStatus] = expected->status;
  PutLe32(block, spt::kDataTransferLength, expected->delivered);
  std::copy_n(expected->sense.begin(), std::min(expected->sense.size(), spt::kSenseAreaSize),
              block.begin() + spt::kSenseArea);
  if (expected->direction == kDirIn) Answer(expected->dataIn, data);
  return PassThroughResult::Done;
}

void ReplayPlatform::CloseDevice(DeviceHandle dev) { open_.erase(dev); }

AttemptHold ReplayPlatform::BeginAttempt() {
  HoldInterruptions();
  AttemptHold hold;
  hold.machineKeptAwake = true;
  return hold;
}

Interruption ReplayPlatform::EndAttempt() { return ReleaseInterruptions(); }

int ReplayPlatform::RememberListedDevice(std::string_view name) {
  RecordedRequest received;
  received.kind = RequestKind::Remember;
  received.device = std::string(name);
  const RecordedRequest* expected = Take(received);
  return expected != nullptr && expected->ok ? 1 : 0;
}

DeviceClaimResult ReplayPlatform::ClaimListedDevice(std::string_view name) {
  RecordedRequest received;
  received.kind = RequestKind::Claim;
  received.device = std::string(name);
  const RecordedRequest* expected = Take(received);
  return expected == nullptr ? DeviceClaimResult::Changed : expected->claim;
}

std::unique_ptr<ReplayPlatform> MakeReplay(const std::string& name, std::unique_ptr<FileSystem> files,
                                           std::shared_ptr<ReplayState> state, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<ReplayPlatform> {
    if (error != nullptr) *error = "replay:" + name + ": " + why;
    return nullptr;
  };
  FileError fileError{};
  const FileHandle h = files->OpenRead(name, &fileError);
  if (h < 0) return fail("the recording does not open");
  const std::int64_t length = files->Length(h);
  if (length < 0 || static_cast<std::uint64_t>(length) > kRecordingSizeLimit) {
    files->Close(h);
    return fail("the recording is too large or cannot be read");
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  const std::int64_t read = files->ReadAt(h, 0, bytes);
  files->Close(h);
  if (read != length) return fail("the recording cannot be read");
  std::string why;
  std::optional<Recording> recording =
      ParseRecording(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &why);
  if (!recording) return fail(why);
  return std::make_unique<ReplayPlatform>(std::move(*recording), std::move(files), std::move(state));
}

}  // namespace orvel
