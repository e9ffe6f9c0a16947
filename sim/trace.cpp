#include "sim/trace.h"

#include <cstdio>

namespace orvel::sim {

const char* OutcomeName(TraceOutcome o) {
  switch (o) {
    case TraceOutcome::Good: return "GOOD";
    case TraceOutcome::CheckCondition: return "CHECK";
    case TraceOutcome::TimedOut: return "TIMEOUT";
    case TraceOutcome::Failed: return "FAILED";
    case TraceOutcome::Aborted: return "ABORTED";
    case TraceOutcome::NoDevice: return "NO-DEVICE";
  }
  return "?";
}

std::vector<std::uint8_t> Trace::Opcodes() const {
  std::vector<std::uint8_t> ops;
  ops.reserve(entries_.size());
  for (const TraceEntry& e : entries_) ops.push_back(e.opcode());
  return ops;
}

std::size_t Trace::Count(std::uint8_t opcode) const {
  std::size_t n = 0;
  for (const TraceEntry& e : entries_) n += e.opcode() == opcode ? 1 : 0;
  return n;
}

std::string FormatEntry(const TraceEntry& e) {
  std::string line;
  char part[64];
  std::snprintf(part, sizeof part, "t=%llu ", static_cast<unsigned long long>(e.time));
  line += part;
  if (e.drive >= 0) {
    std::snprintf(part, sizeof part, "drive%d ", e.drive);
  } else {
    std::snprintf(part, sizeof part, "ha%u:id%u ", e.adapter, e.target);
  }
  line += part;
  for (std::size_t i = 0; i < e.cdbLength && i < e.cdb.size(); ++i) {
    std::snprintf(part, sizeof part, "%02X ", e.cdb[i]);
    line += part;
  }
  const char* dir = e.direction == 0x08 ? "in" : e.direction == 0x10 ? "out" : "none";
  std::snprintf(part, sizeof part, "%s %u", dir, e.length);
  line += part;
  if (e.dataOutBytes != 0) {
    std::snprintf(part, sizeof part, " sent %u", e.dataOutBytes);
    line += part;
  }
  if (e.direction == 0x08 && e.outcome == TraceOutcome::Good && e.delivered != e.length) {
    std::snprintf(part, sizeof part, " got %u", e.delivered);
    line += part;
  }
  line += " -> ";
  line += OutcomeName(e.outcome);
  if (e.outcome == TraceOutcome::CheckCondition) {
    std::snprintf(part, sizeof part, " %X/%02X/%02X", e.sense.key, e.sense.asc, e.sense.ascq);
    line += part;
  }
  if (e.injected) line += " (fault)";
  return line;
}

std::string Trace::Format() const {
  std::string text;
  for (const TraceEntry& e : entries_) {
    text += FormatEntry(e);
    text += '\n';
  }
  return text;
}

}  // namespace orvel::sim
