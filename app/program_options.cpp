#include "app/program_options.h"

namespace orvel {
namespace {

constexpr std::string_view kSimulate = "--simulate";
constexpr std::string_view kSimulateWith = "--simulate=";
constexpr std::string_view kScreenshotWith = "--screenshot=";

}  // namespace

int ParseProgramOptions(const std::vector<std::string_view>& args, ProgramOptions* options, std::string* error) {
  ProgramOptions parsed;
  for (std::string_view arg : args) {
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--version") {
      parsed.version = true;
    } else if (arg == kSimulate) {
      parsed.simulate = true;
      parsed.scenario = kDefaultScenario;
    } else if (arg.starts_with(kSimulateWith)) {
      parsed.simulate = true;
      parsed.scenario = arg.substr(kSimulateWith.size());
      if (parsed.scenario.empty()) {
        *error = "--simulate= needs a scenario name";
        return 0;
      }
    } else if (arg.starts_with(kScreenshotWith)) {
      parsed.screenshot = arg.substr(kScreenshotWith.size());
      if (parsed.screenshot.empty()) {
        *error = "--screenshot= needs a file name";
        return 0;
      }
    } else {
      *error = "unknown option '" + std::string(arg) + "'";
      return 0;
    }
  }
  *options = parsed;
  return 1;
}

std::string ProgramUsage(std::string_view programName) {
  std::string name(programName);
  return "Usage: " + name + " [--simulate[=SCENARIO]] [--screenshot=FILE] [--help] [--version]\n"
         "Updates the firmware of a CD-R/RW or DVD+RW drive. Firmware files (*.kvf, *.bin)\n"
         "are taken from and backups written to the working directory.\n"
         "  --simulate[=SCENARIO]  run against a simulated machine (default: " +
         std::string(kDefaultScenario) + ")\n"
         "  --screenshot=FILE      write the dialog's first page to FILE (PNG) and end\n"
         "  --help                 show this text\n"
         "  --version              show the program's version\n"
         "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n";
}

}  // namespace orvel
