#pragma once
// One simulated drive of family 0..8, speaking the drive side of the update
// protocol: normal and loader identification, firmware memory, chunk
// reception, the rewrite phases and fixed-format sense.
//
// Alternate read form (0xA8, no address): the drive keeps a read pointer.
// EnterUpdateMode arms it at the loader's idAddress, so the first read after
// entering update mode returns the identification block; after that read the
// pointer moves to 0 and steps by 16384 per read, which serves a backup from
// address 0 upward. An address-form read at A leaves the pointer at A + 16384,
// so a backup that falls back to the alternate form mid-way carries on in order.
//
// Reads: a block that starts inside the flash but runs past its end is
// filled with 0xFF beyond the end (unmapped memory reads as erased); a block
// that starts at or past the end is refused with 5/21/00.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "firmware/catalogue.h"

namespace orvel::sim {

inline constexpr std::size_t kInquiryDataLength = 36;
inline constexpr std::uint8_t kPeripheralCdrom = 0x05;

// Sense keys used by the drives.
inline constexpr std::uint8_t kKeyNoSense = 0x0;
inline constexpr std::uint8_t kKeyNotReady = 0x2;
inline constexpr std::uint8_t kKeyMediumError = 0x3;
inline constexpr std::uint8_t kKeyIllegalRequest = 0x5;
inline constexpr std::uint8_t kKeyUnitAttention = 0x6;
// The ASC of a poll answered during the rewrite; its ASCQ is the phase.
inline constexpr std::uint8_t kRewritePhaseAsc = 0xF7;

struct Sense {
  std::uint8_t key = kKeyNoSense;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  friend bool operator==(const Sense&, const Sense&) = default;
};

// What the drive answered to one command.
struct DriveAnswer {
  std::uint8_t status = 0x00;      // 0x00 GOOD or 0x02 CHECK CONDITION
  Sense sense;                     // with CHECK CONDITION
  std::uint32_t dataInLength = 0;  // bytes the drive put into dataIn
};

// One step of the rewrite: `polls` polls answered CHECK 2/F7/ascq.
struct PhaseStep {
  std::uint8_t ascq = 0;
  std::uint32_t polls = 1;
};

struct OpcodeDuration {
  std::uint8_t opcode = 0;
  std::uint32_t milliseconds = 0;
};

// How one drive differs from the well-behaved default.
struct DriveBehaviour {
  // 0xE3 refused with 5/20/00, so the updater falls back to 0xA8.
  bool refuseAddressRead = false;
  // 0xAA chunks refused with `twelveByteRefusal`.
  bool refuseTwelveByteChunks = false;
  Sense twelveByteRefusal{kKeyIllegalRequest, 0x20, 0x00};
  // Bit v set: FinishTransfer variant v (0..7) accepted; others get 5/24/00.
  std::uint8_t acceptedFinishVariants = 0x07;
  // Polls answered "busy" after StartRewrite, before the first phase.
  std::uint32_t busyPollsBefore = 0;
  // Busy answered as CHECK 5/20/00 instead of GOOD.
  bool busyAsCheck = false;
  // The phases the drive reports, in order, each for its number of polls.
  std::vector<PhaseStep> phaseScript{{0x00, 2}, {0x01, 3}, {0x02, 6}, {0x03, 2}};
  // After the script: the rewrite fails (flash left erased, all 0xFF) and
  // every poll answers `failureSense`, instead of succeeding with 2/3A/00.
  bool rewriteFails = false;
  Sense failureSense{kKeyMediumError, 0x0C, 0x00};
  // EnterUpdateMode refused with 5/20/00: the drive never leaves normal mode.
  bool switchesToUpdateMode = true;
  // The accepted chunk number `resendChunkIndex` (0 = first) is answered
  // 2/3A/00 `resendTimes` times before it is taken.
  std::uint32_t resendChunkIndex = 0;
  std::uint32_t resendTimes = 0;
  // Virtual duration of every command, and per-opcode exceptions.
  std::uint32_t commandMs = 1;
  std::vector<OpcodeDuration> opcodeMs;
  // Which LoaderTable row the drive reports in update mode; -1 = the first row of its family.
  int loaderRow = -1;
};

// INQUIRY text fields, blank-padded to their widths when shorter.
struct DriveIdentity {
  std::string vendor = "TESSARO ";   // 8
  std::string product;               // 16, normally a ProductIdTable row
  std::string revision = "1.10";     // 4
  std::string loaderRevision = "L1.0";  // 4, reported in update mode
  std::uint8_t peripheralType = kPeripheralCdrom;  // INQUIRY byte 0, as the system knows it from its scan
};

enum class RewriteState : std::uint8_t { Idle, Busy, Phases, Done, Failed };

// What a drive keeps between runs of a program (besides its flash): its mode,
// the identification in force and what it received. A rewrite still running
// is not kept: the drive comes back with it idle.
struct DriveMemory {
  bool updateMode = false;
  DriveIdentity identity;
  std::uint8_t enterLoaderByte = 0;
  std::uint8_t rewriteLoaderByte = 0;
  RewriteState rewrite = RewriteState::Idle;  // Idle, Done or Failed
  int rewritesCompleted = 0;
  int finishedVariant = -1;
  bool transferFinished = false;
  std::vector<std::uint8_t> received;
};

class SimDrive {
 public:
  // `flash` is the drive's firmware memory; it is resized to the family's image size.
  SimDrive(int family, DriveIdentity identity, std::vector<std::uint8_t> flash, DriveBehaviour behaviour = {});

  // Carries out one command. dataOut holds the bytes the host sent (DataOut),
  // dataIn has room for the bytes asked for (DataIn); either may be empty.
  // Never allocates.
  DriveAnswer Execute(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut,
                      std::span<std::uint8_t> dataIn);

  // Virtual milliseconds the command with this opcode takes.
  std::uint32_t CommandDuration(std::uint8_t opcode) const;

  // Leaves update mode, drops a received image and an unfinished rewrite. A
  // drive whose flash was rewritten reports the new firmware's revision from
  // then on (the 4 characters after "Ver " in its identification block),
  // unless the flash names none.
  void PowerCycle();
  DriveMemory Memory() const;
  // 1, or 0 (nothing changed) when `memory` cannot be this drive's.
  int Restore(const DriveMemory& memory);
  // Puts the drive into update mode at once (a drive left in its loader).
  void StartInUpdateMode();
  // Remembers `sense` as the answer REQUEST SENSE reports (faults use it).
  void SetLastSense(Sense sense) { lastSense_ = sense; }

  int family() const { return family_; }
  bool InUpdateMode() const { return updateMode_; }
  RewriteState Rewrite() const { return rewrite_; }
  std::span<const std::uint8_t> Flash() const { return flash_; }
  std::span<std::uint8_t> MutableFlash() { return flash_; }
  // The bytes received since the transfer began.
  std::span<const std::uint8_t> Received() const { return std::span(received_).first(receivedLength_); }
  // CDB byte 9 of the last StartRewrite / EnterUpdateMode the drive accepted.
  std::uint8_t LastRewriteLoaderByte() const { return rewriteLoaderByte_; }
  std::uint8_t LastEnterLoaderByte() const { return enterLoaderByte_; }
  int FinishedVariant() const { return finishedVariant_; }  // -1 until one was accepted
  int RewritesCompleted() const { return rewritesCompleted_; }
  const LoaderEntry& Loader() const;
  const DriveIdentity& Identity() const { return identity_; }
  DriveBehaviour& Behaviour() { return behaviour_; }
  Sense LastSense() const { return lastSense_; }

 private:
  DriveAnswer Good(std::uint32_t dataInLength = 0);
  DriveAnswer Check(Sense sense);
  DriveAnswer DoInquiry(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn);
  DriveAnswer DoRequestSense(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn);
  DriveAnswer DoPoll();
  DriveAnswer DoEnterUpdateMode(std::span<const std::uint8_t> cdb);
  DriveAnswer DoReadAt(std::uint64_t address, std::span<std::uint8_t> dataIn);
  DriveAnswer DoReadAlternate(std::span<std::uint8_t> dataIn);
  DriveAnswer DoChunk(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut, bool twelveByte);
  DriveAnswer DoFinishTransfer(std::span<const std::uint8_t> cdb);
  DriveAnswer DoStartRewrite(std::span<const std::uint8_t> cdb);
  void ResetTransfer();

  int family_;
  DriveIdentity identity_;
  std::vector<std::uint8_t> flash_;
  DriveBehaviour behaviour_;
  int loaderIndex_ = -1;

  bool updateMode_ = false;
  Sense lastSense_;
  std::uint8_t enterLoaderByte_ = 0;
  std::uint8_t rewriteLoaderByte_ = 0;

  // Alternate read pointer (see the header comment).
  bool readArmed_ = false;
  std::uint32_t readPointer_ = 0;

  // Chunk reception: sized once for the largest image.
  std::vector<std::uint8_t> received_;
  std::size_t receivedLength_ = 0;
  bool transferFinished_ = false;
  int finishedVariant_ = -1;
  std::uint32_t acceptedChunks_ = 0;
  std::uint32_t resendsGiven_ = 0;

  // Rewrite progress on polls.
  RewriteState rewrite_ = RewriteState::Idle;
  std::uint32_t busyLeft_ = 0;
  std::size_t phaseIndex_ = 0;
  std::uint32_t phasePollsLeft_ = 0;
  int rewritesCompleted_ = 0;
};

// 16 blank-padded characters of the n-th ProductIdTable row that is not a
// loader identification (a normal drive model).
std::string NormalProductId(int n);

}  // namespace orvel::sim
