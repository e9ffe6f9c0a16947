#pragma once
// The command-line options of the two GUI programs: --simulate[=SCENARIO],
// -C DIR, --help, --version, and on the Linux desktop also --downloads and
// --screenshot=FILE; nothing else. Qt's own options (-platform, -style, ...)
// are taken by QApplication before these are parsed.

#include <string>
#include <string_view>
#include <vector>

namespace orvel {

inline constexpr std::string_view kDefaultScenario = "default";

// Which program parses: the Qt programs of the Linux desktop, or the Windows
// programs (no desktop download folder, no screenshot writer, no Qt options).
enum class ProgramFlavour { Desktop, Windows };

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
int ParseProgramOptions(const std::vector<std::string_view>& args, ProgramOptions* options, std::string* error,
                        ProgramFlavour flavour = ProgramFlavour::Desktop);

// The usage text of a program.
std::string ProgramUsage(std::string_view programName, ProgramFlavour flavour = ProgramFlavour::Desktop);

}  // namespace orvel
