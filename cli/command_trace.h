#pragma once
// The --trace output: one line per SCSI command on standard error; and the
// -v/--verbose output beside it: each command named, its sense in words and
// (-vv) its data.

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "transport/scsi_transport.h"

namespace orvel {

struct CliContext;

// "scsi> 12 00 00 00 24 00 | in 36 | good"
std::string FormatTraceLine(const CommandRecord& record);

class TraceObserver : public CommandObserver {
 public:
  explicit TraceObserver(std::ostream& err) : err_(err) {}
  void OnCommand(const CommandRecord& record) override;

 private:
  std::ostream& err_;
};

// -v: the command's name and outcome; -vv adds the data.
inline constexpr int kVerboseCommands = 1;
inline constexpr int kVerboseData = 2;
// -vv shows this many bytes of each direction's data, and the total.
inline constexpr std::size_t kVerboseDataShown = 64;

// "scsi: INQUIRY [12 00 00 00 24 00], in 36 bytes: good", the outcome in the
// run's language and a CHECK CONDITION's sense in words; at kVerboseData the
// lines of the data follow. Every line ends with '\n'.
std::string FormatVerbose(const CommandRecord& record, int verbosity, const CliContext& ctx);

class VerboseObserver : public CommandObserver {
 public:
  VerboseObserver(const CliContext& ctx, int verbosity) : ctx_(ctx), verbosity_(verbosity) {}
  void OnCommand(const CommandRecord& record) override;

 private:
  const CliContext& ctx_;
  int verbosity_;
};

// Hands every command to each observer in turn (the trace first).
class CommandObservers : public CommandObserver {
 public:
  void Add(CommandObserver* observer) { observers_.push_back(observer); }
  bool Empty() const { return observers_.empty(); }
  void OnCommand(const CommandRecord& record) override {
    for (CommandObserver* observer : observers_) observer->OnCommand(record);
  }

 private:
  std::vector<CommandObserver*> observers_;
};

}  // namespace orvel
