#include "cli/command_trace.h"

#include <array>
#include <cstdint>

namespace orvel {
namespace {

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;

void AppendHex(std::string& s, std::uint8_t byte) {
  s += kHexDigits[(byte >> kNibbleBits) & kNibbleMask];
  s += kHexDigits[byte & kNibbleMask];
}

const char* DirectionWord(std::uint8_t direction) {
  switch (direction) {
    case DataIn:
      return "in";
    case DataOut:
      return "out";
    default:
      return "none";
  }
}

}  // namespace

std::string FormatTraceLine(const CommandRecord& record) {
  std::string line = "scsi>";
  for (const std::uint8_t byte : record.cdb) {
    line += ' ';
    AppendHex(line, byte);
  }
  line += " | ";
  line += DirectionWord(record.direction);
  line += ' ';
  line += std::to_string(record.length);
  line += " | ";
  switch (record.outcome) {
    case CommandOutcome::Good:
      line += "good";
      break;
    case CommandOutcome::CheckCondition:
      line += "check ";
      AppendHex(line, record.asc);
      line += '/';
      AppendHex(line, record.ascq);
      break;
    case CommandOutcome::Timeout:
      line += "timeout";
      break;
    case CommandOutcome::Failed:
      line += "fail";
      break;
  }
  return line;
}

void TraceObserver::OnCommand(const CommandRecord& record) { err_ << FormatTraceLine(record) << '\n' << std::flush; }

}  // namespace orvel
