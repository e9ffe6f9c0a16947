#pragma once
// The command-line options of the two GUI programs: --simulate[=SCENARIO],
// --screenshot=FILE, --help, --version; nothing else. Qt's own options
// (-platform, -style, ...) are taken by QApplication before these are parsed.

#include <string>
#include <string_view>
#include <vector>

namespace orvel {

inline constexpr std::string_view kDefaultScenario = "default";

struct ProgramOptions {
  bool simulate = false;
  std::string scenario;  // with simulate: the scenario text
  bool help = false;
  bool version = false;
  std::string screenshot;  // a PNG file: write the first painted page there and end
};

// 1 when every argument is understood; 0 with *error naming the first that is not.
int ParseProgramOptions(const std::vector<std::string_view>& args, ProgramOptions* options, std::string* error);

// The usage text of a program.
std::string ProgramUsage(std::string_view programName);

}  // namespace orvel
