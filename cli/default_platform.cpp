#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "platform/platform.h"
#include "sim/real_time_platform.h"
#include "sim/scenarios.h"

namespace orvel {

std::unique_ptr<Platform> MakeDefaultPlatform(const PlatformRequest& request, std::string* error) {
  if (!request.simulate) return MakeNativePlatform(request.workingDirectory);
  const std::string text = request.scenario.empty() ? std::string("default") : request.scenario;
  std::unique_ptr<Platform> machine = sim::MakeScenario(text, request.workingDirectory, error);
  if (!machine) return nullptr;
  if (!request.realTime) return machine;
  return std::make_unique<RealTimePlatform>(std::move(machine));
}

CliEnvironment ProcessCliEnvironment() {
  CliEnvironment env;
  env.makePlatform = MakeDefaultPlatform;
  PrepareConsoleOutput();
  env.outputIsTerminal = StandardStreamIsTerminal(StandardStream::Output);
  env.inputIsTerminal = StandardStreamIsTerminal(StandardStream::Input);
  env.readLine = []() -> std::optional<std::string> {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  };
  env.getEnv = [](std::string_view name) -> std::optional<std::string> {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  return env;
}

}  // namespace orvel
