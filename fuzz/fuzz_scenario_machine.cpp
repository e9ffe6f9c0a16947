// A scenario text's machine (sim::MakeScenario) built and its drives
// discovered through the route it offers, the text's faults included. Each
// run builds drives of a megabyte each: this target is slow by nature, and
// fuzz_scenario takes the text's syntax at full speed.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "drive/discovery.h"
#include "sim/scenarios.h"
#include "transport/scsi_transport.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::ScenarioSpec scenario;
  std::string error;
  if (sim::ParseScenario(text, &scenario, &error) != 1) return 0;
  // No directory: nothing here may touch a file.
  const std::unique_ptr<sim::SimMachine> machine = sim::MakeScenario(text, "/nonexistent/orvel-fuzz", &error);
  if (!machine) {
    // A text that parses fails to build only on what the machine does not have:
    // a drive for no-open, no-access or swap, or device names to swap.
    Require(error.starts_with("no-open: ") || error.starts_with("no-access: ") || error.starts_with("swap: "));
    return 0;
  }
  ScsiTransport transport(*machine);
  TransportMessage message;
  if (!transport.SelectTransport(&message)) {
    Require(!message.text.empty());
    return 0;
  }
  const auto drives = DiscoverDrives(transport);
  Require(drives.size() <= machine->DriveCount());
  Require(machine->OpenDeviceCount() == 0);
  return 0;
}
