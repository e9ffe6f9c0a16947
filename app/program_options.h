#pragma once
// The command-line options of the two GUI programs: --simulate[=SCENARIO],
// -C DIR, --downloads, --screenshot=FILE, --help, --version; nothing else. Qt's own
// options (-platform, -style, ...) are taken by QApplication before these are parsed.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

inline constexpr std::string_view kDefaultScenario = "default";

struct ProgramOptions {
  bool simulate = false;
  std::string scenario;  // with simulate: the scenario text
  std::string directory;  // -C: the working directory; empty for the current one
  bool downloads = false;  // the desktop's download folder is the working directory
  bool help = false;
  bool version = false;
  std::string screenshot;  // a PNG file: write the first painted page there and end
};

// 1 when every argument is understood; 0 with *error naming the first that is not.
int ParseProgramOptions(const std::vector<std::string_view>& args, ProgramOptions* options, std::string* error);

// The usage text of a program.
std::string ProgramUsage(std::string_view programName);

// An environment variable, or nothing.
using EnvLookup = std::function<std::optional<std::string>(std::string_view)>;

// The folder a launch from the desktop's menu works in. A browser saves a
// downloaded firmware file into the download folder that the user-dirs file
// names (XDG_DOWNLOAD_DIR, translated on a Japanese desktop), so that is where
// the file list looks; the home folder when none is named or it does not
// exist, "." without a home.
std::string DownloadDirectory(const EnvLookup& getEnv);

}  // namespace orvel
