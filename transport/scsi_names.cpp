#include "transport/scsi_names.h"

#include <array>

namespace orvel {
namespace {

struct OpcodeRow {
  std::uint8_t opcode;
  std::string_view name;
};

// What the program sends: the standard commands, then the drives' vendor
// commands under what they do here (0xAA and 0xA8 are the vendor forms these
// drives accept in update mode, not WRITE(12)/READ(12)).
constexpr std::array kOpcodes = {
    OpcodeRow{0x00, "TEST UNIT READY"},
    OpcodeRow{0x03, "REQUEST SENSE"},
    OpcodeRow{0x12, "INQUIRY"},
    OpcodeRow{0xE0, "FINISH TRANSFER"},
    OpcodeRow{0xE1, "START REWRITE"},
    OpcodeRow{0xE2, "SEND IMAGE CHUNK (10-byte form)"},
    OpcodeRow{0xE3, "READ FIRMWARE BLOCK"},
    OpcodeRow{0xE4, "ENTER UPDATE MODE"},
    OpcodeRow{0xAA, "SEND IMAGE CHUNK (12-byte form)"},
    OpcodeRow{0xA8, "READ FIRMWARE BLOCK (alternate form)"},
};

constexpr std::array<std::string_view, 16> kSenseKeys = {
    "NO SENSE",        "RECOVERED ERROR", "NOT READY",       "MEDIUM ERROR",
    "HARDWARE ERROR",  "ILLEGAL REQUEST", "UNIT ATTENTION",  "DATA PROTECT",
    "BLANK CHECK",     "VENDOR SPECIFIC", "COPY ABORTED",    "ABORTED COMMAND",
    "",                "VOLUME OVERFLOW", "MISCOMPARE",      "",
};

// A row with anyAscq names every ASCQ of its ASC that no exact row names.
struct SenseRow {
  std::uint8_t asc;
  std::uint8_t ascq;
  bool anyAscq;
  std::string_view name;
};

constexpr bool kExact = false;
constexpr bool kAny = true;

// The pairs these drives and their hosts report, the simulator's faults
// among them; 0xF7 is the drives' own report of the rewrite's phases.
constexpr std::array kSense = {
    SenseRow{0x00, 0x00, kExact, "NO ADDITIONAL SENSE INFORMATION"},
    SenseRow{0x04, 0x00, kExact, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
    SenseRow{0x04, 0x01, kExact, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
    SenseRow{0x04, 0x02, kExact, "LOGICAL UNIT NOT READY, INITIALIZING COMMAND REQUIRED"},
    SenseRow{0x04, 0x03, kExact, "LOGICAL UNIT NOT READY, MANUAL INTERVENTION REQUIRED"},
    SenseRow{0x04, 0x07, kExact, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"},
    SenseRow{0x04, 0x00, kAny, "LOGICAL UNIT NOT READY"},
    SenseRow{0x0C, 0x00, kExact, "WRITE ERROR"},
    SenseRow{0x11, 0x00, kExact, "UNRECOVERED READ ERROR"},
    SenseRow{0x1A, 0x00, kExact, "PARAMETER LIST LENGTH ERROR"},
    SenseRow{0x20, 0x00, kExact, "INVALID COMMAND OPERATION CODE"},
    SenseRow{0x21, 0x00, kExact, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
    SenseRow{0x24, 0x00, kExact, "INVALID FIELD IN CDB"},
    SenseRow{0x25, 0x00, kExact, "LOGICAL UNIT NOT SUPPORTED"},
    SenseRow{0x26, 0x00, kExact, "INVALID FIELD IN PARAMETER LIST"},
    SenseRow{0x28, 0x00, kExact, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
    SenseRow{0x29, 0x00, kExact, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
    SenseRow{0x2C, 0x00, kExact, "COMMAND SEQUENCE ERROR"},
    SenseRow{0x3A, 0x00, kExact, "MEDIUM NOT PRESENT"},
    SenseRow{0x3A, 0x01, kExact, "MEDIUM NOT PRESENT - TRAY CLOSED"},
    SenseRow{0x3A, 0x02, kExact, "MEDIUM NOT PRESENT - TRAY OPEN"},
    SenseRow{0x3E, 0x00, kExact, "LOGICAL UNIT HAS NOT SELF-CONFIGURED YET"},
    SenseRow{0x44, 0x00, kExact, "INTERNAL TARGET FAILURE"},
    SenseRow{0x47, 0x00, kExact, "SCSI PARITY ERROR"},
    SenseRow{0x4B, 0x00, kExact, "DATA PHASE ERROR"},
    SenseRow{0xF7, 0x00, kExact, "REWRITE: CONFIRMING SUM CODE OF THE RECEIVED IMAGE"},
    SenseRow{0xF7, 0x01, kExact, "REWRITE: ERASING FLASH ROM"},
    SenseRow{0xF7, 0x02, kExact, "REWRITE: WRITING DATA INTO FLASH ROM"},
    SenseRow{0xF7, 0x03, kExact, "REWRITE: CONFIRMING SUM CODE AFTER WRITING"},
    SenseRow{0xF7, 0x00, kAny, "REWRITE IN PROGRESS"},
};

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;

std::string Hex(std::uint8_t byte) {
  return {kHexDigits[(byte >> kNibbleBits) & kNibbleMask], kHexDigits[byte & kNibbleMask]};
}

}  // namespace

std::string OpcodeName(std::uint8_t opcode) {
  for (const OpcodeRow& row : kOpcodes) {
    if (row.opcode == opcode) return std::string(row.name);
  }
  return "opcode " + Hex(opcode);
}

std::string SenseKeyName(std::uint8_t senseKey) {
  if (senseKey < kSenseKeys.size() && !kSenseKeys[senseKey].empty()) return std::string(kSenseKeys[senseKey]);
  // The key is four bits; anything above came from a bad sense area and is shown whole.
  return "sense key " + (senseKey <= kNibbleMask ? std::string(1, kHexDigits[senseKey]) : Hex(senseKey));
}

std::string AdditionalSenseName(std::uint8_t asc, std::uint8_t ascq) {
  for (const SenseRow& row : kSense) {
    if (!row.anyAscq && row.asc == asc && row.ascq == ascq) return std::string(row.name);
  }
  for (const SenseRow& row : kSense) {
    if (row.anyAscq && row.asc == asc) return std::string(row.name) + " (ascq " + Hex(ascq) + ")";
  }
  return "asc/ascq " + Hex(asc) + "/" + Hex(ascq);
}

}  // namespace orvel
