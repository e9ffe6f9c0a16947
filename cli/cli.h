#pragma once
// The command line as a function: parses the arguments, runs one command and
// returns the exit status. Everything it needs from the outside (the platform,
// the terminal, the operator's answers, the environment) comes through
// CliEnvironment, so the whole program runs in-process in tests.

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace orvel {

// Exit statuses scripts rely on.
enum CliExit : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitNoUpdateMode = 2,
  kExitTypeCodeRefused = 3,
  kExitBackupFailed = 4,
  kExitUpdateFailed = 5,
  kExitNoSuchDriveOrFile = 6,
  kExitNotAccessible = 7,  // drives exist that this user may not open, or the named one cannot be reached
  kExitFirmwareDiffers = 8,  // `verify`: the drive's firmware is not the file's image
};

// What the command asks of the platform factory.
struct PlatformRequest {
  bool simulate = false;
  std::string scenario;          // empty: the simulator's default scenario
  std::string workingDirectory;  // already checked to be a directory
  bool realTime = true;          // simulator pauses take real time (the demo)
};

// A platform, or nullptr with a reason for the operator in *error.
using PlatformFactory = std::function<std::unique_ptr<Platform>(const PlatformRequest&, std::string* error)>;

struct CliEnvironment {
  PlatformFactory makePlatform;
  bool outputIsTerminal = false;  // standard output: progress redrawn on one line
  bool inputIsTerminal = false;   // standard input: questions may be asked
  // The operator's answer to a question, or nothing at end of input.
  std::function<std::optional<std::string>()> readLine;
  // An environment variable, or nothing.
  std::function<std::optional<std::string>(std::string_view)> getEnv;
  // The address parts (cdrom0 ...) of the drives the request's route could
  // reach, found without sending any command (the shell's completion asks).
  std::function<std::vector<std::string>(const PlatformRequest&)> listDriveAddresses;
  // Told the run's language (0 English, 1 Japanese) once it is known: the
  // process's own notices, made below the command line, follow it.
  std::function<void(int language)> useLanguage;
};

// The simulator or the backend of this system (MakeNativePlatform), as the
// request says; simulator pauses are made real unless the request asks for
// the virtual clock.
std::unique_ptr<Platform> MakeDefaultPlatform(const PlatformRequest& request, std::string* error);

// From the device nodes present (srN, else sgN), or the simulated
// machine's attachments; no device is opened and no command sent.
std::vector<std::string> DefaultDriveAddresses(const PlatformRequest& request);

// The process's own environment: real terminal detection, standard input, getenv.
CliEnvironment ProcessCliEnvironment();

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, const CliEnvironment& env);

}  // namespace orvel
