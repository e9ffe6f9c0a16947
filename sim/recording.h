#pragma once
// A recording of what a program asked of its platform and what it was told:
// every request that reaches a drive (a device opened, a drive claimed or
// remembered, a SCSI command with its data, status, sense and duration), in
// order, with a header naming the program's version, the route and the
// drives. Stored as JSON lines: the header, then one request a line.
//
// Data sent of more than kKeptDataLimit bytes (firmware chunks) is kept as
// its SHA-256 and length unless the bytes are asked for (RecordingPlatform's
// keepBytes); a replay compares it by digest. Data received is always kept:
// the program acts on what it reads (the identification block, a backup).
// A recording may still hold a read as a digest (one trimmed by hand): a
// replay answers it with data the program sent earlier with that digest,
// else with zero bytes.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/forwarding_platform.h"
#include "sim/sha256.h"

namespace orvel {

inline constexpr int kRecordingFormat = 1;
// Transfers up to this size are always kept byte for byte.
inline constexpr std::size_t kKeptDataLimit = 512;
// A recording file larger than this is refused.
inline constexpr std::size_t kRecordingSizeLimit = 64u * 1024u * 1024u;

// Bytes of a transfer, or only their digest.
struct RecordedData {
  std::vector<std::uint8_t> bytes;
  std::optional<Sha256Digest> digest;  // set: the bytes were not kept
  std::uint32_t size = 0;

  static RecordedData Of(std::span<const std::uint8_t> data, bool keep);
  bool Matches(std::span<const std::uint8_t> data) const;
  friend bool operator==(const RecordedData&, const RecordedData&) = default;
};

enum class RequestKind : std::uint8_t { Open, Claim, Remember, Scsi };

// One request and its answer.
struct RecordedRequest {
  RequestKind kind = RequestKind::Scsi;
  // Pass-through: the device name; ASPI: empty, with the address.
  std::string device;
  bool aspi = false;
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
  // Open and Remember: whether it succeeded; Claim: the result.
  bool ok = false;
  DeviceClaimResult claim = DeviceClaimResult::Claimed;
  // Scsi: the request.
  std::vector<std::uint8_t> cdb;
  std::uint8_t direction = 0;  // 0x00 none, 0x08 in, 0x10 out
  std::uint32_t length = 0;
  RecordedData dataOut;
  // Scsi: the answer. Pass-through: the call's result, SCSI status and the
  // bytes the driver reports moved; ASPI: the SRB status (SS_PENDING: still
  // running when the wait ended).
  PassThroughResult call = PassThroughResult::Done;
  std::uint8_t status = 0;
  std::vector<std::uint8_t> sense;
  RecordedData dataIn;
  std::uint32_t delivered = 0;
  std::uint32_t milliseconds = 0;
};

// A drive as it named itself (INQUIRY) during the recording.
struct RecordedDrive {
  std::string device;  // device name, or "HA:0 ID:3"
  std::string vendor;
  std::string product;
  std::string revision;
};

struct RecordingHeader {
  std::string version;
  std::uint32_t platformId = 0;
  std::uint64_t randomSeed = 0;
  bool aspiLibrary = false;
  std::vector<std::string> aspiEntryPoints;
  std::uint32_t aspiSupportInfo = 0;
  // Route device numbers and names, by mode (CdromDevice, DriveLetter).
  std::map<std::pair<int, std::uint16_t>, std::string> names;
  std::map<int, std::vector<std::uint16_t>> routeNumbers;
  std::map<std::string, DeviceNodes> nodes;
  std::vector<NodeAccessProblem> accessProblems;
  std::vector<RecordedDrive> drives;
  bool bulkDataKept = false;
};

struct Recording {
  RecordingHeader header;
  std::vector<RecordedRequest> requests;
};

// The file's text: the header line, then one line per request.
std::string RecordingText(const Recording& recording);
// Reads a recording's text; nothing, with the line and the reason in *error, when it does not parse.
std::optional<Recording> ParseRecording(std::string_view text, std::string* error);

// "12 00 00 00 24 00"
std::string HexBytes(std::span<const std::uint8_t> bytes);
// A request for people: "CDB 12 00 00 00 24 00 (in 36) to \\.\cdrom0".
std::string DescribeRequest(const RecordedRequest& request);
// "pass-through", "aspi" or "none", from the platform id.
std::string_view RouteName(std::uint32_t platformId);

// A platform that records every request to the drives passing through it
// into `recording` (shared, so that it outlives the platform).
class RecordingPlatform : public ForwardingPlatform {
 public:
  RecordingPlatform(std::unique_ptr<Platform> inner, std::shared_ptr<Recording> recording, std::string version,
                    bool keepBytes);
  ~RecordingPlatform() override;

  std::uint32_t PlatformId() override;
  AspiLibrary* LoadLibrary(std::string_view name) override;
  void FreeLibrary(AspiLibrary* lib) override;
  std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) override;
  WaitResult WaitEvent(EventHandle ev, std::uint32_t milliseconds) override;
  std::string DeviceName(TransportMode mode, std::uint16_t number) override;
  std::vector<std::uint16_t> RouteDeviceNumbers(TransportMode mode) override;
  DeviceNodes NodesOf(std::string_view name) override;
  std::vector<NodeAccessProblem> AccessProblems() override;
  DeviceHandle OpenDevice(std::string_view name) override;
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override;
  void CloseDevice(DeviceHandle dev) override;
  int RememberListedDevice(std::string_view name) override;
  DeviceClaimResult ClaimListedDevice(std::string_view name) override;
  std::uint64_t RandomSeed() override;

  // Used by the library wrapper.
  bool LibraryHasEntryPoint(AspiLibrary& inner, std::string_view name);
  std::uint32_t LibrarySupportInfo(AspiLibrary& inner);
  void LibrarySend(AspiLibrary& inner, std::span<std::uint8_t> srb);

 private:
  struct PendingSrb {
    std::span<std::uint8_t> srb;
    EventHandle event = 0;
    std::uint64_t started = 0;
    RecordedRequest request;
  };
  void FinishSrb(std::span<const std::uint8_t> srb, std::uint64_t started, RecordedRequest request);
  void NoteDrive(const RecordedRequest& request);

  std::shared_ptr<Recording> recording_;
  bool keepBytes_;
  std::unique_ptr<AspiLibrary> library_;  // the wrapper handed out
  AspiLibrary* innerLibrary_ = nullptr;
  std::map<std::uint32_t, std::span<std::uint8_t>> buffers_;
  std::map<DeviceHandle, std::string> openNames_;
  std::vector<PendingSrb> pending_;
};

}  // namespace orvel
