// The GUI programs orvel and orvelin: one source, the variant chosen by a
// compile definition.

#include <QApplication>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/program_options.h"
#include "app/update_app.h"
#include "platform/platform.h"
#include "sim/real_time_platform.h"
#include "sim/scenarios.h"
#include "ui/qt/qt_window_system.h"

namespace {

#if defined(ORVEL_VARIANT_ORVELIN)
constexpr const orvel::Variant& kVariant = orvel::kOrvelinVariant;
constexpr const char* kProgramName = "orvelin";
#else
constexpr const orvel::Variant& kVariant = orvel::kOrvelVariant;
constexpr const char* kProgramName = "orvel";
#endif

constexpr int kExitUsage = 2;
constexpr const char* kWorkingDirectory = ".";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  orvel::ProgramOptions options;
  std::string error;
  if (orvel::ParseProgramOptions(args, &options, &error) == 0) {
    std::cerr << kProgramName << ": " << error << '\n' << orvel::ProgramUsage(kProgramName);
    return kExitUsage;
  }
  if (options.help) {
    std::cout << orvel::ProgramUsage(kProgramName) << '\n' << orvel::sim::ScenarioHelp();
    return 0;
  }
  if (options.version) {
    std::cout << kVariant.title << ' ' << ORVEL_VERSION << '\n';
    return 0;
  }

  std::unique_ptr<orvel::Platform> platform;
  if (options.simulate) {
    auto machine = orvel::sim::MakeScenario(options.scenario, kWorkingDirectory, &error);
    if (machine == nullptr) {
      std::cerr << kProgramName << ": --simulate=" << options.scenario << ": " << error << '\n';
      return kExitUsage;
    }
    // A dry run at the drive's real pace, so the operator sees the steps go by.
    platform = std::make_unique<orvel::RealTimePlatform>(std::move(machine));
  } else {
    platform = orvel::MakeNativePlatform(kWorkingDirectory);
  }

  // Qt sees only the program name: every argument is ours and was parsed above.
  int qtArgc = 1;
  QApplication qt(qtArgc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kVariant.title.data(), static_cast<int>(kVariant.title.size())));
  orvel::ui::QtWindowSystem windows(qt);
  orvel::CUpdateApp app(windows, *platform, kVariant);
  app.InitInstance();
  return 0;
}
