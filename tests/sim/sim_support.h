#pragma once
// Shared pieces of the simulator tests: a scratch working directory and a
// transport on a scenario machine.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "drive/drive_commands.h"
#include "sim/scenarios.h"
#include "tests/support/scratch_dir.h"
#include "transport/scsi_transport.h"

namespace orvel::sim::testing {

class TempDir {
 public:
  TempDir() {
    path_ = orvel::testing::MakeScratchDir("orvel-sim");
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A scenario machine with a transport whose route is selected.
struct Rig {
  explicit Rig(std::string_view scenario) {
    std::string error;
    machine = MakeScenario(scenario, dir.path(), &error);
    if (!machine) {
      ADD_FAILURE() << "scenario " << scenario << ": " << error;
      return;
    }
    transport = std::make_unique<ScsiTransport>(*machine);
    TransportMessage message;
    selected = transport->SelectTransport(&message);
    selectMessage = message.text;
  }
  SimDrive& Drive(std::size_t i) { return machine->Drive(i); }
  ScsiTransport& T() { return *transport; }

  TempDir dir;
  std::unique_ptr<SimMachine> machine;
  std::unique_ptr<ScsiTransport> transport;
  bool selected = false;
  std::string selectMessage;
};

// Never asks for the loader area.
class NoLoaderUpdate : public UpdateLoaderQuery {
 public:
  int UpdateLoaderState() override { return 0; }
};

}  // namespace orvel::sim::testing
