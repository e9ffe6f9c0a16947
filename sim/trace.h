#pragma once
// Every command a simulated drive receives, in order: readable by tests
// (compare whole command sequences) and printable for the operator.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_drive.h"

namespace orvel::sim {

enum class TraceOutcome : std::uint8_t {
  Good,            // GOOD status (check `delivered` for a short answer)
  CheckCondition,  // CHECK CONDITION with `sense`
  TimedOut,        // took longer than the route's time-out
  Failed,          // the pass-through call failed / ASPI gave SS_NO_DEVICE
  Aborted,         // ASPI finished with SS_ABORTED
  NoDevice,        // nothing at that ASPI address
};

struct TraceEntry {
  std::uint64_t time = 0;        // virtual ms when the command arrived
  int drive = -1;                // index of the drive in the machine, -1 none
  std::uint8_t adapter = 0;      // ASPI address (0 on the pass-through route)
  std::uint8_t target = 0;
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;
  std::uint8_t direction = 0;    // 0x00 none, 0x08 in, 0x10 out (the ASPI flags)
  std::uint32_t length = 0;      // transfer length asked for
  std::uint32_t dataOutBytes = 0;
  std::uint32_t delivered = 0;   // DataIn bytes that reached the host
  TraceOutcome outcome = TraceOutcome::Good;
  Sense sense;
  bool injected = false;         // the outcome came from a fault rule

  std::uint8_t opcode() const { return cdb[0]; }
};

class Trace {
 public:
  Trace() { entries_.reserve(kInitialCapacity); }
  void Add(const TraceEntry& e) {
    if (enabled_) entries_.push_back(e);
  }
  // Off for benchmarks that only want timing.
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  void Clear() { entries_.clear(); }
  const std::vector<TraceEntry>& Entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  // The opcodes in order (compact form for comparing sequences).
  std::vector<std::uint8_t> Opcodes() const;
  // Entries of one opcode.
  std::size_t Count(std::uint8_t opcode) const;
  // One line per entry: "t=600 drive0 E3 00 00 00 80 04 00 40 00 00 00 00 in 16384 -> GOOD".
  std::string Format() const;

 private:
  static constexpr std::size_t kInitialCapacity = 4096;
  std::vector<TraceEntry> entries_;
  bool enabled_ = true;
};

std::string FormatEntry(const TraceEntry& e);
const char* OutcomeName(TraceOutcome o);

}  // namespace orvel::sim
