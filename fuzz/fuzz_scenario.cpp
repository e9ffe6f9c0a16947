// The simulator's scenario text (name, options, fault rules) as --simulate=
// and the dialog's -scenario take it: parsed, and a text that does not parse
// builds no machine. Building one (megabytes of drives) is fuzz_scenario_machine's.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/scenarios.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

bool IsScenarioName(std::string_view name) {
  for (const orvel::sim::Scenario& s : orvel::sim::Scenarios()) {
    if (s.name == name) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::ScenarioSpec scenario;
  std::string parseError;
  const int parsed = sim::ParseScenario(text, &scenario, &parseError);
  Require(parsed == 0 || parsed == 1);
  if (parsed == 0) {
    std::string buildError;
    Require(!parseError.empty() && sim::MakeScenario(text, "/nonexistent/orvel-fuzz", &buildError) == nullptr &&
            buildError == parseError);
    return 0;
  }
  Require(IsScenarioName(scenario.name) && text.starts_with(scenario.name));
  for (const sim::FaultRule& rule : scenario.faults) {
    Require(rule.occurrence >= 1 && rule.opcode >= sim::kAnyOpcode && rule.opcode <= 0xFF);
    Require(rule.drive >= sim::kAnyDrive && rule.drive <= 0xFF);
  }
  return 0;
}
