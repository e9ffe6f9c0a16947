// The Windows programs Orvel.exe and Orvelin.exe: one source, the variant
// chosen by a compile definition; GUI subsystem, on the native Win32 dialogs.
//
// The same options as the Linux programs where they make sense on Windows:
// --simulate[=SCENARIO], -C DIR, --help, --version. With ORVEL_SIM_FAST=1 the
// simulated pauses stay on the virtual clock (tests); otherwise they take
// real time, so that an update can be watched. A scenario's hold (hold=PHASE)
// waits here, keeping the window alive, until the release file appears.
//
// What the program prints (help, version, a wrong option) goes to its
// standard output or error when it has one, else into a message box.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/program_options.h"
#include "app/update_app.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "sim/machine_state.h"
#include "sim/real_time_platform.h"
#include "sim/scenarios.h"
#include "ui/win32/win32_window_system.h"

namespace {

#if defined(ORVEL_VARIANT_ORVELIN)
constexpr const orvel::Variant& kVariant = orvel::kOrvelinVariant;
#else
constexpr const orvel::Variant& kVariant = orvel::kOrvelVariant;
#endif

constexpr int kExitUsage = 2;
constexpr const char* kCurrentDirectory = ".";
constexpr const char* kFastVariable = "ORVEL_SIM_FAST";
// How long a held update sleeps between looks for the release file.
constexpr std::uint32_t kHoldPollMs = 20;

std::string ProgramName() { return std::string(kVariant.title); }

std::vector<std::string_view> ArgsOf(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

bool SimulatorFast() {
  const char* value = std::getenv(kFastVariable);
  return value != nullptr && value[0] != '\0' && std::string_view(value) != "0";
}

int UsageError(const std::string& message) {
  orvel::ui::ShowProgramText(kVariant.title,
                             ProgramName() + ": " + message + "\n" +
                                 orvel::ProgramUsage(ProgramName(), orvel::ProgramFlavour::Windows),
                             true);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  orvel::ProgramOptions options;
  std::string error;
  if (orvel::ParseProgramOptions(ArgsOf(argc, argv), &options, &error, orvel::ProgramFlavour::Windows) == 0) {
    return UsageError(error);
  }
  if (options.help) {
    orvel::ui::ShowProgramText(kVariant.title,
                               orvel::ProgramUsage(ProgramName(), orvel::ProgramFlavour::Windows) + "\n" +
                                   orvel::sim::ScenarioHelp(),
                               false);
    return 0;
  }
  if (options.version) {
    orvel::ui::ShowProgramText(kVariant.title, ProgramName() + " " + ORVEL_VERSION + "\n", false);
    return 0;
  }

  const std::string workingDirectory = options.directory.empty() ? kCurrentDirectory : options.directory;
  if (orvel::NativePathKind(workingDirectory) != orvel::PathKind::Directory) {
    return UsageError("-C " + workingDirectory + ": not a directory");
  }

  std::unique_ptr<orvel::Platform> platform;
  orvel::sim::SimMachine* machine = nullptr;
  if (options.simulate) {
    // state=DIR keeps the machine between runs, as for orvel-cli; a save that
    // fails when the program ends has nobody left to tell.
    std::unique_ptr<orvel::Platform> simulated =
        orvel::sim::OpenScenarioMachine(
        options.scenario.empty() ? "default" : options.scenario, workingDirectory, {}, &error);
    if (simulated == nullptr) return UsageError("--simulate=" + options.scenario + ": " + error);
    machine = orvel::sim::SimulatedMachineOf(*simulated);
    if (SimulatorFast()) {
      platform = std::move(simulated);
    } else {
      // A dry run at the drive's real pace, so the operator sees the steps go by.
      platform = std::make_unique<orvel::RealTimePlatform>(std::move(simulated));
    }
  } else {
    platform = orvel::MakeNativePlatform(workingDirectory);
  }

  orvel::ui::Win32WindowSystem windows(workingDirectory);
  orvel::CUpdateApp app(windows, *platform, kVariant);
  if (machine != nullptr) {
    machine->SetHoldWaiter([&app] {
      if (orvel::CUpdateDlg* dialog = app.MainWindow(); dialog != nullptr) dialog->KeepAlive();
      std::this_thread::sleep_for(std::chrono::milliseconds(kHoldPollMs));
    });
  }
  app.InitInstance();
  return 0;
}
