#include "app/program_options.h"

#include <filesystem>
#include <fstream>

namespace orvel {
namespace {

constexpr std::string_view kSimulate = "--simulate";
constexpr std::string_view kSimulateWith = "--simulate=";
constexpr std::string_view kScreenshotWith = "--screenshot=";
constexpr std::string_view kDirectory = "-C";
constexpr std::string_view kDownloads = "--downloads";

constexpr std::string_view kUserDirsFile = "user-dirs.dirs";
constexpr std::string_view kDownloadKey = "XDG_DOWNLOAD_DIR=";
constexpr std::string_view kHomeVariable = "$HOME";
constexpr const char* kCurrentDirectory = ".";

std::optional<std::string> NonEmpty(const EnvLookup& getEnv, std::string_view name) {
  std::optional<std::string> value = getEnv ? getEnv(name) : std::nullopt;
  if (value.has_value() && value->empty()) return std::nullopt;
  return value;
}

// The value of XDG_DOWNLOAD_DIR in a user-dirs file: "$HOME/name" or an
// absolute path, in double quotes. Empty when the file names none.
std::string DownloadEntry(std::istream& in, const std::string& home) {
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    if (!line.starts_with(kDownloadKey)) continue;
    std::string_view value = std::string_view(line).substr(kDownloadKey.size());
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.starts_with(kHomeVariable)) {
      found = home + std::string(value.substr(kHomeVariable.size()));
    } else if (value.starts_with('/')) {
      found = std::string(value);
    }
  }
  return found;
}

}  // namespace

int ParseProgramOptions(const std::vector<std::string_view>& args, ProgramOptions* options, std::string* error) {
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
    } else if (arg == kDownloads) {
      parsed.downloads = true;
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
  if (parsed.downloads && !parsed.directory.empty()) {
    *error = "-C and --downloads each name the working directory: give one";
    return 0;
  }
  *options = parsed;
  return 1;
}

std::string ProgramUsage(std::string_view programName) {
  std::string name(programName);
  return "Usage: " + name + " [--simulate[=SCENARIO]] [-C DIR | --downloads] [--screenshot=FILE] [--help] [--version]\n"
         "Updates the firmware of a CD-R/RW or DVD+RW drive. Firmware files (*.kvf, *.bin)\n"
         "are taken from and backups written to the working directory.\n"
         "  --simulate[=SCENARIO]  run against a simulated machine (default: " +
         std::string(kDefaultScenario) + ")\n"
         "  -C DIR                 work in DIR instead of the current directory\n"
         "  --downloads            work in the desktop's download folder (as started from the menu)\n"
         "  --screenshot=FILE      write the dialog's first page to FILE (PNG) and end\n"
         "  --help                 show this text\n"
         "  --version              show the program's version\n"
         "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n";
}

std::string DownloadDirectory(const EnvLookup& getEnv) {
  namespace fs = std::filesystem;
  const std::optional<std::string> home = NonEmpty(getEnv, "HOME");
  if (!home.has_value()) return kCurrentDirectory;
  const std::optional<std::string> config = NonEmpty(getEnv, "XDG_CONFIG_HOME");
  const fs::path configDir = config.has_value() ? fs::path(*config) : fs::path(*home) / ".config";
  std::ifstream userDirs(configDir / kUserDirsFile);
  const std::string downloads = userDirs ? DownloadEntry(userDirs, *home) : std::string();
  std::error_code ec;
  if (!downloads.empty() && fs::is_directory(downloads, ec)) return downloads;
  return *home;
}

}  // namespace orvel
