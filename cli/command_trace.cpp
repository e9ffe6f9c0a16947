#include "cli/command_trace.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "cli/cli_context.h"
#include "transport/scsi_names.h"

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

constexpr std::string_view kVerbosePrefix = "scsi: ";
constexpr std::string_view kDataPrefix = "scsi:   ";
constexpr std::string_view kDumpPrefix = "scsi:     ";
constexpr std::size_t kDumpBytesPerLine = 16;
constexpr std::size_t kDumpColumnWidth = 3;  // " xx"
constexpr std::size_t kDumpTextGap = 2;      // between the hex and the text
constexpr int kOffsetDigits = 4;
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';

// "0010  54 45 53 53 41 52 4f 20  TESSARO " lines of the first bytes of `data`.
void AppendDump(std::string& text, std::span<const std::uint8_t> data) {
  const std::span<const std::uint8_t> shown = data.first(std::min(data.size(), kVerboseDataShown));
  for (std::size_t at = 0; at < shown.size(); at += kDumpBytesPerLine) {
    const std::span<const std::uint8_t> row = shown.subspan(at, std::min(kDumpBytesPerLine, shown.size() - at));
    text += kDumpPrefix;
    for (int digit = kOffsetDigits - 1; digit >= 0; --digit) {
      text += kHexDigits[(at >> (kNibbleBits * static_cast<unsigned>(digit))) & kNibbleMask];
    }
    text += ' ';
    for (const std::uint8_t byte : row) {
      text += ' ';
      AppendHex(text, byte);
    }
    text.append((kDumpBytesPerLine - row.size()) * kDumpColumnWidth + kDumpTextGap, ' ');
    for (const std::uint8_t byte : row) {
      const char c = static_cast<char>(byte);
      text += c >= kFirstPrintable && c <= kLastPrintable ? c : '.';
    }
    text += '\n';
  }
}

std::string OutcomeWords(const CommandRecord& record, const CliContext& ctx) {
  switch (record.outcome) {
    case CommandOutcome::Good:
      return ctx.Tr("good", "正常終了");
    case CommandOutcome::CheckCondition: {
      std::string words = ctx.Tr("check condition: ", "チェックコンディション: ");
      words += SenseKeyName(record.senseKey) + ", " + AdditionalSenseName(record.asc, record.ascq) + " (";
      words += kHexDigits[record.senseKey & kNibbleMask];
      words += '/';
      AppendHex(words, record.asc);
      words += '/';
      AppendHex(words, record.ascq);
      return words + ")";
    }
    case CommandOutcome::Timeout:
      return ctx.Tr("no answer in time", "時間内に応答がありませんでした");
    case CommandOutcome::Failed:
      break;
  }
  return ctx.Tr("did not reach the drive", "ドライブに届きませんでした");
}

}  // namespace

std::string FormatVerbose(const CommandRecord& record, int verbosity, const CliContext& ctx) {
  std::string text(kVerbosePrefix);
  text += record.cdb.empty() ? ctx.Tr("no command", "コマンドなし") : OpcodeName(record.cdb.front());
  text += " [";
  for (std::size_t i = 0; i < record.cdb.size(); ++i) {
    if (i > 0) text += ' ';
    AppendHex(text, record.cdb[i]);
  }
  text += ']';
  const std::string length = std::to_string(record.length);
  if (record.direction == DataIn) text += ctx.Tr(", in " + length + " bytes", "、受信 " + length + " バイト");
  if (record.direction == DataOut) text += ctx.Tr(", out " + length + " bytes", "、送信 " + length + " バイト");
  text += ": " + OutcomeWords(record, ctx) + "\n";

  const bool hasData =
      record.direction == DataOut || (record.direction == DataIn && record.outcome == CommandOutcome::Good);
  if (verbosity < kVerboseData || !hasData) return text;
  const std::string total = std::to_string(record.data.size());
  text += kDataPrefix;
  text += record.direction == DataIn ? ctx.Tr("data in: " + total + " bytes", "受信データ: " + total + " バイト")
                                     : ctx.Tr("data out: " + total + " bytes", "送信データ: " + total + " バイト");
  if (record.data.size() > kVerboseDataShown) {
    const std::string shown = std::to_string(kVerboseDataShown);
    text += ctx.Tr(", the first " + shown + " shown", "（先頭 " + shown + " バイトを表示）");
  }
  text += '\n';
  AppendDump(text, record.data);
  return text;
}

void VerboseObserver::OnCommand(const CommandRecord& record) {
  ctx_.err << FormatVerbose(record, verbosity_, ctx_) << std::flush;
}

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
