#pragma once
// Simulated time: milliseconds since the machine started. Pauses and waits
// advance it at once, so a whole update costs no wall time.

#include <cstdint>

namespace orvel::sim {

class VirtualClock {
 public:
  std::uint64_t Now() const { return now_; }
  // Moves time forward by `milliseconds` (waiting on a drive, a command's duration).
  void Advance(std::uint64_t milliseconds) { now_ += milliseconds; }
  // Moves time forward to `when`; never backwards.
  void AdvanceTo(std::uint64_t when) {
    if (when > now_) now_ = when;
  }
  // A pause the program asked for: advances time and counts toward SleptTotal.
  void Sleep(std::uint64_t milliseconds) {
    now_ += milliseconds;
    slept_ += milliseconds;
  }
  // Milliseconds spent in Sleep, event waits and device time-outs (the time a
  // real run would sit idle; command durations are not counted).
  std::uint64_t SleptTotal() const { return slept_; }
  void CountWait(std::uint64_t milliseconds) { slept_ += milliseconds; }

 private:
  std::uint64_t now_ = 0;
  std::uint64_t slept_ = 0;
};

}  // namespace orvel::sim
