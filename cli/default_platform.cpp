#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "cli/cli_context.h"
#include "platform/platform.h"
#include "sim/machine_state.h"
#include "sim/real_time_platform.h"
#include "sim/scenarios.h"

namespace orvel {

std::unique_ptr<Platform> MakeDefaultPlatform(const PlatformRequest& request, std::string* error) {
  if (!request.simulate) return MakeNativePlatform(request.workingDirectory);
  const std::string text = request.scenario.empty() ? std::string("default") : request.scenario;
  // A kept machine that cannot be saved when it is put away says so then.
  const auto report = [](const std::string& message) { std::cerr << "orvel-cli: " << message << '\n'; };
  std::unique_ptr<Platform> machine = sim::OpenScenarioMachine(text, request.workingDirectory, report, error);
  if (!machine) return nullptr;
  if (!request.realTime) return machine;
  return std::make_unique<RealTimePlatform>(std::move(machine));
}

namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Where the simulated machine attached its drives, as the route would name them.
std::vector<std::string> SimulatedAddresses(sim::SimMachine& machine) {
  std::vector<std::string> addresses;
  const std::uint32_t platformId = machine.PlatformId();
  for (std::size_t i = 0; i < machine.DriveCount(); ++i) {
    const sim::Attachment& where = machine.AttachmentOf(i);
    if (platformId == kPlatformWindows) {
      addresses.push_back(AddressPart(TransportMode::Aspi, DriveAddress{where.adapter, where.target, 0}));
      continue;
    }
    if (platformId != kPlatformNt) continue;
    for (const TransportMode mode : {TransportMode::CdromDevice, TransportMode::DriveLetter}) {
      for (const std::uint16_t n : machine.RouteDeviceNumbers(mode)) {
        if (SameNameIgnoringCase(machine.DeviceName(mode, n), where.deviceName)) {
          addresses.push_back(AddressPart(mode, DriveAddress{0, 0, n}));
        }
      }
    }
  }
  return addresses;
}

}  // namespace

std::vector<std::string> DefaultDriveAddresses(const PlatformRequest& request) {
  if (request.simulate) {
    std::string error;
    const std::unique_ptr<sim::SimMachine> machine = sim::MakeScenario(
        request.scenario.empty() ? std::string("default") : request.scenario, request.workingDirectory, &error);
    if (!machine) return {};
    return SimulatedAddresses(*machine);
  }
  // The route takes the cdrom nodes when any is there, otherwise the generic nodes.
  const std::unique_ptr<Platform> nodes =
      MakeNativePlatform(request.workingDirectory.empty() ? std::string(".") : request.workingDirectory);
  TransportMode mode = TransportMode::CdromDevice;
  std::vector<std::uint16_t> numbers = nodes->PresentDeviceNumbers(mode);
  if (numbers.empty()) {
    mode = TransportMode::DriveLetter;
    numbers = nodes->PresentDeviceNumbers(mode);
  }
  std::vector<std::string> addresses;
  for (const std::uint16_t n : numbers) addresses.push_back(AddressPart(mode, DriveAddress{0, 0, n}));
  return addresses;
}

namespace {

constexpr int kEnglishRun = 0;
constexpr int kJapaneseRun = 1;

// Said by the platform's handler when an interruption arrives during an attempt.
void AnnounceHeldInterruptionsIn(int language) {
  const std::string notice =
      language == kJapaneseRun
          ? "orvel-cli: ドライブがアップデートモードにあるため、いまアップデートを安全に止めることはできません。"
            "試行が終わりしだい orvel-cli を終了します。\n"
          : "orvel-cli: the update cannot be stopped safely now: the drive is in its update mode. "
            "orvel-cli stops as soon as the attempt has ended.\n";
  // On a terminal the line may land after a progress bar (and the ^C the terminal echoes).
  SetInterruptionNotice(IsTerminal(StandardStream::Error) ? "\n" + notice : notice);
}

}  // namespace

CliEnvironment ProcessCliEnvironment() {
  CliEnvironment env;
  env.makePlatform = MakeDefaultPlatform;
  env.listDriveAddresses = DefaultDriveAddresses;
  PrepareConsoleOutput();
  env.useLanguage = AnnounceHeldInterruptionsIn;
  AnnounceHeldInterruptionsIn(kEnglishRun);
  env.outputIsTerminal = IsTerminal(StandardStream::Output);
  env.inputIsTerminal = IsTerminal(StandardStream::Input);
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
