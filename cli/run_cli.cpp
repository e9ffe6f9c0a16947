#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_context.h"
#include "sim/scenarios.h"

#ifndef ORVEL_VERSION
#define ORVEL_VERSION "0.0.0"
#endif

namespace orvel {
namespace {

constexpr std::string_view kSimulateFlag = "--simulate";
constexpr std::string_view kSimulateWithScenario = "--simulate=";
constexpr std::string_view kEndOfOptions = "--";

// "--simulate" takes its scenario only as "--simulate=NAME", so that a
// following file or subcommand is never taken for one: the option is removed
// here and the rest goes to the parser. Nothing when it was not given.
std::optional<std::string> SplitSimulate(int argc, const char* const* argv, std::vector<const char*>& rest) {
  std::optional<std::string> scenario;
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (i > 0 && !optionsEnded) {
      if (arg == kEndOfOptions) optionsEnded = true;
      if (arg == kSimulateFlag) {
        scenario = std::string();
        continue;
      }
      if (arg.starts_with(kSimulateWithScenario)) {
        scenario = std::string(arg.substr(kSimulateWithScenario.size()));
        continue;
      }
    }
    rest.push_back(argv[i]);
  }
  return scenario;
}
constexpr const char* kFastEnv = "ORVEL_SIM_FAST";

bool EnvSaysFast(const CliEnvironment& env) {
  if (!env.getEnv) return false;
  const std::optional<std::string> value = env.getEnv(kFastEnv);
  return value.has_value() && !value->empty() && *value != "0";
}

// Whether --json stands among the options, so that a usage error still gives
// scripts their one document.
bool JsonAsked(const std::vector<const char*>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg(args[i]);
    if (arg == kEndOfOptions) break;
    if (arg == "--json") return true;
  }
  return false;
}

// The one document of a run that stopped before its command could start.
void PrintUsageJson(std::ostream& out, const std::string& command, const std::string& error) {
  const nlohmann::json doc = {{"command", command}, {"error", error}, {"exitStatus", kExitUsage}};
  out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

constexpr const char* kSynopsis =
    "orvel-cli: firmware updates for CD-R/RW and DVD+RW drives from the command line.\n"
    "\n"
    "  orvel-cli [OPTIONS] drives\n"
    "  orvel-cli [OPTIONS] identify FILE...\n"
    "  orvel-cli [OPTIONS] update FILE --drive WHICH [--backup] [--yes]\n"
    "  orvel-cli [OPTIONS] backup --drive WHICH\n"
    "  orvel-cli [OPTIONS] convert IN OUT\n"
    "\n"
    "WHICH is a drive's position in the `drives` list (from 1) or the address part of\n"
    "its label: cdrom0, drive2, \"HA:0 ID:3\". File names are taken relative to -C DIR.\n"
    "Options may stand before or after the command.\n";

constexpr const char* kWhichHelp = "Drive: position in the drives list (from 1), or cdrom0, drive2, \"HA:0 ID:3\"";

std::string ExitStatusHelp() {
  return "Exit status:\n"
         "  0  completed (or the command succeeded)\n"
         "  1  usage error\n"
         "  2  the drive did not enter update mode\n"
         "  3  type-code refusal (also: a file that is not identified, or cannot be converted)\n"
         "  4  backup failed or not possible to name\n"
         "  5  update failed\n"
         "  6  no such drive or file\n";
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  CLI::App app{kSynopsis, "orvel-cli"};
  app.set_version_flag("--version", std::string("orvel-cli ") + ORVEL_VERSION);
  app.fallthrough();
  app.require_subcommand(1);
  app.footer("Simulator (--simulate=SCENARIO):\n" + sim::ScenarioHelp() + "\n" + ExitStatusHelp());

  GlobalOptions options;
  std::string lang = "en";
  std::string workingDirectory;
  // Taken out of the arguments before parsing (see SplitSimulate); listed here for --help.
  bool simulateListed = false;
  app.add_flag("--simulate", simulateListed,
               "The drive simulator instead of real drives; =SCENARIO picks a machine (see below)")
      ->option_text("[=SCENARIO]");
  app.add_flag("--trace", options.trace, "Every SCSI command on standard error, one line each");
  app.add_flag("--json", options.json, "One JSON document on standard output");
  app.add_option("--lang", lang, "Language of the page texts: en (default) or ja")
      ->check(CLI::IsMember({"en", "ja"}))
      ->option_text("en|ja");
  app.add_option("-C", workingDirectory, "Working directory (firmware and backup files)")->option_text("DIR");
  app.add_flag("--fast", options.fast, "Simulator pauses on the virtual clock")->group("");

  CLI::App* drives = app.add_subcommand("drives", "List the supported drives");

  std::vector<std::string> identifyFiles;
  CLI::App* identify = app.add_subcommand("identify", "Identify firmware files");
  identify->add_option("FILE", identifyFiles, "Firmware files")->required();

  UpdateArgs update;
  CLI::App* updateCmd = app.add_subcommand("update", "Update a drive's firmware from FILE, as the dialog's Start does");
  updateCmd->add_option("FILE", update.file, "Firmware file")->required();
  updateCmd->add_option("--drive", update.drive, kWhichHelp)->required()->option_text("WHICH");
  updateCmd->add_flag("--backup", update.backup, "Back up the current firmware to CDRWFW00..09 first");
  updateCmd->add_flag("--yes", update.yes, "Do not ask before writing (required without a terminal)");

  std::string backupDrive;
  CLI::App* backupCmd =
      app.add_subcommand("backup", "Switch a drive to update mode and save its firmware to CDRWFW00..09");
  backupCmd->add_option("--drive", backupDrive, kWhichHelp)->required()->option_text("WHICH");

  std::string convertIn;
  std::string convertOut;
  CLI::App* convert =
      app.add_subcommand("convert", "Convert between an encoded file (.kvf) and its plain image (.bin)");
  convert->add_option("IN", convertIn, "Input file")->required();
  convert->add_option("OUT", convertOut, "Output file (never overwritten)")->required();

  std::string samplesDir;
  CLI::App* samples = app.add_subcommand("make-samples", "Write sample firmware files for the simulator's drives");
  samples->group("");
  samples->add_option("DIR", samplesDir)->required();

  // The scenario list belongs to the program's help; a command's help ends with the exit statuses.
  for (CLI::App* sub : {drives, identify, updateCmd, backupCmd, convert, samples}) sub->footer(ExitStatusHelp());

  std::vector<const char*> args;
  std::optional<std::string> simulate = SplitSimulate(argc, argv, args);
  try {
    app.parse(static_cast<int>(args.size()), args.data());
  } catch (const CLI::Success& e) {  // --help, --version
    app.exit(e, out, err);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    if (JsonAsked(args)) {
      std::string command;
      for (const CLI::App* sub : app.get_subcommands()) command = sub->get_name();
      PrintUsageJson(out, command, e.what());
    }
    return kExitUsage;
  }

  options.simulate = simulate.has_value();
  options.scenario = simulate.value_or(std::string());
  options.language = lang == "ja" ? 1 : 0;
  options.fast = options.fast || EnvSaysFast(env);
  CliContext ctx{out, err, env, options, {}, false, {}};
  for (const CLI::App* sub : app.get_subcommands()) ctx.command = sub->get_name();
  if (!workingDirectory.empty()) {
    const PathKind kind = NativePathKind(workingDirectory);
    if (kind != PathKind::Directory) {
      const bool exists = kind != PathKind::Missing;
      const int status = ctx.Fail(kExitNoSuchDriveOrFile,
                                  "-C " + workingDirectory + (exists ? ": not a directory" : ": no such directory"));
      if (ctx.options.json) ctx.PrintJson({{"command", ctx.command}, {"error", ctx.lastError}, {"exitStatus", status}});
      return status;
    }
    ctx.options.workingDirectory = workingDirectory;
  }

  const auto runCommand = [&](CliContext& c) -> int {
    if (drives->parsed()) return CommandDrives(c);
    if (identify->parsed()) return CommandIdentify(c, identifyFiles);
    if (updateCmd->parsed()) {
      if (!update.yes && !env.inputIsTerminal) {
        return c.Fail(kExitUsage, "update writes to the drive: without a terminal to ask on, give --yes");
      }
      return CommandUpdate(c, update);
    }
    if (backupCmd->parsed()) return CommandBackup(c, backupDrive);
    if (convert->parsed()) return CommandConvert(c, convertIn, convertOut);
    if (samples->parsed()) return CommandMakeSamples(c, samplesDir);
    return kExitUsage;
  };
  const int status = runCommand(ctx);
  // Scripts get their one document also when a command stopped early.
  if (ctx.options.json && !ctx.jsonPrinted) {
    ctx.PrintJson({{"command", ctx.command}, {"error", ctx.lastError}, {"exitStatus", status}});
  }
  return status;
}

}  // namespace orvel
