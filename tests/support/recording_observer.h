#pragma once
// A command observer that keeps what it saw, for the transport and drive tests.

#include <cstdint>
#include <vector>

#include "transport/scsi_transport.h"

namespace orvel::testing {

// Records every command that passes ExecuteCommand.
struct RecordingObserver : CommandObserver {
  struct Entry {
    std::vector<std::uint8_t> cdb;
    std::uint8_t direction;
    std::uint32_t length;
    CommandOutcome outcome;
    std::uint8_t asc, ascq;
    int result;
    std::uint8_t senseKey;
    std::vector<std::uint8_t> data;
  };
  std::vector<Entry> seen;
  void OnCommand(const CommandRecord& r) override {
    seen.push_back({{r.cdb.begin(), r.cdb.end()}, r.direction, r.length, r.outcome, r.asc, r.ascq, r.result, r.senseKey,
                    {r.data.begin(), r.data.end()}});
  }
};

}  // namespace orvel::testing
