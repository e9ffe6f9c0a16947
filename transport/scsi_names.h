#pragma once
// Names of the SCSI commands this program sends and of the sense data its
// drives answer with, for people reading a verbose run. One table for every
// route and build: nothing here knows an operating system.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvel {

// The command's name ("INQUIRY", "ENTER UPDATE MODE"), or "opcode xx" (hex)
// for one the table does not hold.
std::string OpcodeName(std::uint8_t opcode);

// "NOT READY", "ILLEGAL REQUEST", or "sense key x" (hex) for a reserved value.
std::string SenseKeyName(std::uint8_t senseKey);

// "MEDIUM NOT PRESENT", "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS", or
// "asc/ascq xx/yy" (hex) for a pair the table does not hold.
std::string AdditionalSenseName(std::uint8_t asc, std::uint8_t ascq);

}  // namespace orvel
