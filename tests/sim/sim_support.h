#pragma once
// Shared pieces of the simulator tests: a transport on a scenario machine in
// a scratch working directory.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "drive/drive_commands.h"
#include "sim/scenarios.h"
#include "tests/support/temp_dir.h"
#include "transport/scsi_transport.h"

namespace orvel::testing {

// A scenario machine with a transport whose route is selected.
struct Rig {
  explicit Rig(std::string_view scenario) {
    std::string error;
    machine = sim::MakeScenario(scenario, dir.path(), &error);
    if (!machine) {
      ADD_FAILURE() << "scenario " << scenario << ": " << error;
      return;
    }
    transport = std::make_unique<ScsiTransport>(*machine);
    TransportMessage message;
    selected = transport->SelectTransport(&message);
    selectMessage = message.text;
  }
  sim::SimDrive& Drive(std::size_t i) { return machine->Drive(i); }
  ScsiTransport& T() { return *transport; }

  TempDir dir;
  std::unique_ptr<sim::SimMachine> machine;
  std::unique_ptr<ScsiTransport> transport;
  bool selected = false;
  std::string selectMessage;
};

// The "Update Loader" box left clear.
inline constexpr int kNoLoaderUpdate = 0;

}  // namespace orvel::testing
