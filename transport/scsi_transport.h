#pragma once
// ScsiTransport: the one channel to the drives. One request record, one
// 16 KiB data buffer (the data area of the pass-through block), one ASPI
// request block; the route is chosen once by SelectTransport.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "platform/platform.h"
#include "platform/request_blocks.h"

namespace orvel {

inline constexpr std::uint32_t kDataBufferSize = 16384;
inline constexpr std::uint32_t kAspiWaitMs = kAspiWaitLimitMs;
// ASPI reports no residual count. Before a DataIn command on that route the
// buffer is filled with a fresh pattern of this many bytes, repeated; bytes
// that still hold it at the end of the answer did not arrive.
inline constexpr std::size_t kReadPatternSize = 16;
// How many bytes at the end of an answer must still hold the pattern for it
// to count as short (data of a whole answer matches that many by chance once
// in 2^32 answers; an answer short by fewer bytes cannot be told from one).
inline constexpr std::size_t kShortAnswerEvidence = 4;

enum Direction : std::uint8_t { DataNone = 0x00, DataIn = 0x08, DataOut = 0x10 };

struct DriveAddress {
  std::uint8_t adapterId = 0;
  std::uint8_t targetId = 0;
  std::uint16_t deviceNumber = 0;  // pass-through routes: the node's number
  friend bool operator==(const DriveAddress&, const DriveAddress&) = default;
};

struct ScsiRequest {
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;
  std::uint8_t direction = DataNone;
  std::span<std::uint8_t, kDataBufferSize> dataBuffer;  // lives in the pass-through block
};

// What one command came to, as the observer sees it.
enum class CommandOutcome { Good, CheckCondition, Timeout, Failed };

struct CommandRecord {
  std::span<const std::uint8_t> cdb;  // cdbLength bytes
  std::uint8_t direction = DataNone;
  std::uint32_t length = 0;           // transfer length asked for
  CommandOutcome outcome = CommandOutcome::Failed;
  std::uint8_t senseKey = 0;          // with CheckCondition
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  // The bytes that went out (DataOut: all `length`), or that came back
  // (DataIn: what arrived of a good answer); valid during OnCommand only.
  std::span<const std::uint8_t> data;
  int result = 0;                     // what ExecuteCommand returned
};

// Sees every command that passes ExecuteCommand (trace, tests).
class CommandObserver {
 public:
  virtual ~CommandObserver() = default;
  virtual void OnCommand(const CommandRecord& record) = 0;
};

// Icons of the start-up messages.
enum class MessageIcon { Stop, Exclamation, Information };

// A message SelectTransport wants shown before the program ends.
struct TransportMessage {
  std::string text;
  MessageIcon icon = MessageIcon::Stop;
};

class ScsiTransport {
 public:
  explicit ScsiTransport(Platform& platform);
  ScsiTransport(const ScsiTransport&) = delete;
  ScsiTransport& operator=(const ScsiTransport&) = delete;

  // Checks the platform, loads ASPI or probes the cdrom device names.
  // true: a route is ready. false: *message holds what to show (stop icon for
  // the ASPI failures, exclamation for an unknown platform id) and the
  // program must end.
  bool SelectTransport(TransportMessage* message);

  // Sends the filled request with `length` (0..16384) bytes of data.
  // 1 success, 0 failure; lastAsc/lastAscq as the route's rules say.
  int ExecuteCommand(std::uint32_t length);
  int ExecuteAspi(std::uint32_t length);
  int ExecutePassThrough(std::uint32_t length);
  // true when at least one numbered cdrom device name of the platform's route numbers opens.
  bool ProbeCdromDevices();

  ScsiRequest& Request() { return request_; }
  std::span<std::uint8_t, kDataBufferSize> DataBuffer() { return request_.dataBuffer; }

  TransportMode mode = TransportMode::Aspi;
  DriveAddress address;
  std::uint8_t lastAsc = 0;
  std::uint8_t lastAscq = 0;
  std::uint16_t adapterCount = 0;

  // Bytes that really arrived with the last DataIn command: the length the
  // pass-through driver reports; on ASPI, what no longer holds the read
  // pattern (the rest of the asked length is cleared to zero there).
  std::uint32_t lastTransferred = 0;

  // What the last command came to: whether the drive answered at all.
  CommandOutcome LastOutcome() const { return outcome_; }
  // --- the listed drive at the current address (pass-through routes: the
  // ASPI route names no device, so there nothing is recorded or held and a
  // claim answers Claimed) ---
  // Has the platform record the device at the current address as listed; 1, or 0.
  int RememberListedDrive();
  // Confirms the device at the current address and holds it (Platform::ClaimListedDevice).
  DeviceClaimResult ClaimDrive();
  // Lets the held device go.
  void ReleaseDrive();

  void SetObserver(CommandObserver* observer) { observer_ = observer; }
  Platform& GetPlatform() { return platform_; }

  // The raw blocks, for tests of their layout.
  std::span<const std::uint8_t> AspiBlock() const { return srb_; }
  std::span<const std::uint8_t> PassThroughBlock() const { return passThrough_; }

  ~ScsiTransport();

 private:
  void Notify(std::uint32_t length, CommandOutcome outcome, int result);
  // Fills the first `length` bytes of the data buffer with a fresh pattern.
  void PoisonForRead(std::uint32_t length);
  // How many of `length` bytes arrived: the answer ends where the pattern begins.
  std::uint32_t DeliveredBytes(std::uint32_t length) const;

  Platform& platform_;
  AspiLibrary* aspi_ = nullptr;
  std::uint32_t bufferHandle_ = 0;
  EventHandle heldEvent_ = 0;   // event of a timed-out request the ASPI layer may still hold
  alignas(8) std::array<std::uint8_t, srb::kSize> srb_{};
  alignas(8) std::array<std::uint8_t, spt::kBlockSize> passThrough_{};
  ScsiRequest request_;
  CommandObserver* observer_ = nullptr;
  CommandOutcome outcome_ = CommandOutcome::Failed;  // of the command in progress, for Notify
  std::uint8_t senseKey_ = 0;                        // of a CheckCondition, for Notify
  std::uint64_t patternState_ = 0;
  std::array<std::uint8_t, kReadPatternSize> pattern_{};
  std::string claimed_;  // the device name held for an attempt
};

// Holds the drive at the transport's address for the scope of one attempt.
class DriveClaim {
 public:
  explicit DriveClaim(ScsiTransport& transport) : transport_(transport), result_(transport.ClaimDrive()) {}
  ~DriveClaim() {
    if (result_ == DeviceClaimResult::Claimed) transport_.ReleaseDrive();
  }
  DriveClaim(const DriveClaim&) = delete;
  DriveClaim& operator=(const DriveClaim&) = delete;
  DeviceClaimResult Result() const { return result_; }
  bool Held() const { return result_ == DeviceClaimResult::Claimed; }

 private:
  ScsiTransport& transport_;
  DeviceClaimResult result_;
};

}  // namespace orvel
