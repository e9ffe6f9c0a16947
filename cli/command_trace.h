#pragma once
// The --trace output: one line per SCSI command on standard error.

#include <ostream>
#include <string>

#include "transport/scsi_transport.h"

namespace orvel {

// "scsi> 12 00 00 00 24 00 | in 36 | good"
std::string FormatTraceLine(const CommandRecord& record);

class TraceObserver : public CommandObserver {
 public:
  explicit TraceObserver(std::ostream& err) : err_(err) {}
  void OnCommand(const CommandRecord& record) override;

 private:
  std::ostream& err_;
};

}  // namespace orvel
