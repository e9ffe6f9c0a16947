#include "app/program_options.h"

namespace orvel {
namespace {

constexpr std::string_view kSimulate = "--simulate";
constexpr std::string_view kSimulateWith = "--simulate=";
constexpr std::string_view kScreenshotWith = "--screenshot=";
constexpr std::string_view kDirectory = "-C";
constexpr std::string_view kDownloads = "--downloads";

}  // namespace

int ParseProgramOptions(const std::vector<std::string_view>& args, ProgramOptions* options, std::string* error,
                        ProgramFlavour flavour) {
  const bool desktop = flavour == ProgramFlavour::Desktop;
  ProgramOptions parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
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
    } else if (arg == kDirectory) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = "-C needs a directory";
        return 0;
      }
      parsed.directory = args[++i];
    } else if (desktop && arg == kDownloads) {
      parsed.downloads = true;
    } else if (desktop && arg.starts_with(kScreenshotWith)) {
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
  if (parsed.downloads && !parsed.directory.empty()) {
    *error = "-C and --downloads each name the working directory: give one";
    return 0;
  }
  *options = parsed;
  return 1;
}

std::string ProgramUsage(std::string_view programName, ProgramFlavour flavour) {
  const bool desktop = flavour == ProgramFlavour::Desktop;
  std::string name(programName);
  const std::string directoryOptions = desktop ? "[-C DIR | --downloads] [--screenshot=FILE]" : "[-C DIR]";
  std::string text = "Usage: " + name + " [--simulate[=SCENARIO]] " + directoryOptions + " [--help] [--version]\n"
                     "Updates the firmware of a CD-R/RW or DVD+RW drive. Firmware files (*.kvf, *.bin)\n"
                     "are taken from and backups written to the working directory.\n"
                     "  --simulate[=SCENARIO]  run against a simulated machine (default: " +
                     std::string(kDefaultScenario) + ")\n"
                     "  -C DIR                 work in DIR instead of the current directory\n";
  if (desktop) {
    text += "  --downloads            work in the desktop's download folder (as started from the menu)\n"
            "  --screenshot=FILE      write the dialog's first page to FILE (PNG) and end\n";
  }
  text += "  --help                 show this text\n"
          "  --version              show the program's version\n";
  if (desktop) text += "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n";
  return text;
}

}  // namespace orvel
