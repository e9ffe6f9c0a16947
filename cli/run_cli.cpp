#include <CLI/CLI.hpp>
#include <cctype>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_context.h"
#include "cli/command_table.h"
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

constexpr int kEnglish = 0;
constexpr int kJapanese = 1;

// The language of the messages when --lang is not given: the locale's, as
// POSIX picks the category (LC_ALL, LC_MESSAGES, LANG: the first one set and
// not empty). Japanese only where the terminal is told to expect UTF-8.
int LocaleLanguage(const CliEnvironment& env) {
  if (!env.getEnv) return kEnglish;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::optional<std::string> value = env.getEnv(name);
    if (!value || value->empty()) continue;
    const std::string_view locale(*value);
    if (!locale.starts_with("ja")) return kEnglish;
    const std::size_t dot = locale.find('.');
    if (dot == std::string_view::npos) return kEnglish;
    std::string codeset;
    for (const char c : locale.substr(dot + 1, locale.find('@', dot) - dot - 1)) {
      if (c != '-') codeset += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return codeset == "utf8" ? kJapanese : kEnglish;
  }
  return kEnglish;
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
  out << DocumentText(JsonDocument(command, nlohmann::json::object(), StopCode::Usage, error, kExitUsage));
}

constexpr const char* kAbout = "orvel-cli: firmware updates for CD-R/RW and DVD+RW drives from the command line.\n";
constexpr const char* kAboutWhich =
    "WHICH is a drive's position in the `drives` list (from 1), the address part of\n"
    "its label (cdrom0, drive2, \"HA:0 ID:3\") or the path of one of its nodes\n"
    "(/dev/sr0, /dev/sg1, /dev/disk/by-id/...). Files are relative to -C DIR.\n"
    "`orvel-cli help COMMAND` shows a command's options (they may stand before or\n"
    "after it); `orvel-cli --simulate=help` lists the simulator's scenarios.\n"
    "\n";
constexpr std::string_view kSimulateHelp = "help";

std::string ExitStatusHelp() {
  return "Exit status:\n"
         "  0  completed (or the command succeeded)\n"
         "  1  usage error\n"
         "  2  the drive did not enter update mode\n"
         "  3  type-code refusal (also: a file that is not identified, or cannot be converted)\n"
         "  4  backup failed or not possible to name\n"
         "  5  update failed\n"
         "  6  no such drive or file\n"
         "  7  drive not accessible (this user may not open it, or it cannot be reached)\n"
         "  8  verify: the drive's firmware differs from the file\n";
}

// The options every command shares, as the parser fills them.
struct GlobalArgs {
  GlobalOptions options;
  std::string lang;  // empty: the locale decides
  std::string workingDirectory;
  bool simulateListed = false;  // taken out before parsing (see SplitSimulate); listed for --help
};

void AddGlobalOptions(CLI::App& app, GlobalArgs& g) {
  app.add_flag("--simulate", g.simulateListed,
               "The drive simulator instead of real drives; =SCENARIO picks a machine (=help lists them), "
               "=replay:FILE plays a --record file back")
      ->option_text("[=SCENARIO]");
  app.add_flag("--trace", g.options.trace, "Every SCSI command on standard error, one line each");
  app.add_flag("-v,--verbose", g.options.verbose,
               "Each SCSI command on standard error by name, its sense in words; -vv adds its data "
               "(the first 64 bytes each way)");
  app.add_flag("--json", g.options.json, "One JSON document on standard output; never asks (update needs --yes)");
  app.add_option("--lang", g.lang, "Language of the messages: en or ja (default: the locale's)")
      ->check(CLI::IsMember({"en", "ja"}))
      ->option_text("en|ja");
  app.add_option("-C", g.workingDirectory, "Working directory (firmware and backup files)")->option_text("DIR");
  app.add_option("--record", g.options.record,
                 "Every request to the drives with its answer, as JSON lines, into FILE (replaced)")
      ->option_text("FILE");
  app.add_flag("--record-bytes", g.options.recordBytes,
               "With --record: keep large data sent in full, not only its SHA-256");
  app.add_flag("--fast", g.options.fast, "Simulator pauses on the virtual clock")->group("");
}

// A command of the table as added to the parser.
struct Subcommand {
  CLI::App* parsed;
  CommandHandler run;
};

std::vector<Subcommand> AddCommands(CLI::App& app) {
  std::vector<Subcommand> added;
  for (const CliCommand& command : CliCommands()) {
    CLI::App* sub = app.add_subcommand(std::string(command.name), std::string(command.help));
    if (command.synopsis.empty()) sub->group("");
    // A command's help ends with the exit statuses.
    sub->footer(ExitStatusHelp());
    added.push_back({sub, command.addOptions(*sub)});
  }
  return added;
}

// Parses `args`: nothing when a command is to run, else the exit status
// (--help and --version, or a usage error already reported).
std::optional<int> Parse(CLI::App& app, std::vector<const char*>& args, std::ostream& out, std::ostream& err) {
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
  return std::nullopt;
}

// -C DIR must name a directory; kExitOk, or the failure reported.
int UseWorkingDirectory(CliContext& ctx, const std::string& directory) {
  if (directory.empty()) return kExitOk;
  const PathKind kind = NativePathKind(directory);
  if (kind != PathKind::Directory) {
    const bool exists = kind != PathKind::Missing;
    const int status =
        ctx.Stop(StopCode::NoSuchDirectory,
                 "-C " + directory +
                     (exists ? ctx.Tr(": not a directory", ": ディレクトリではありません")
                             : ctx.Tr(": no such directory", ": そのようなディレクトリはありません")));
    ctx.PrintDocument(nlohmann::json::object(), status);
    return status;
  }
  ctx.options.workingDirectory = directory;
  return kExitOk;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  CLI::App app{kAbout, "orvel-cli"};
  app.formatter(MakeHelpFormatter());
  app.set_version_flag("--version", std::string("orvel-cli ") + ORVEL_VERSION);
  app.fallthrough();
  app.require_subcommand(1);
  app.footer(kAboutWhich + ExitStatusHelp());
  GlobalArgs globals;
  AddGlobalOptions(app, globals);
  const std::vector<Subcommand> commands = AddCommands(app);

  std::vector<const char*> args;
  const std::optional<std::string> simulate = SplitSimulate(argc, argv, args);
  // The scenarios are too many for the program's help: they have their own.
  if (simulate == kSimulateHelp) {
    out << "Simulator (--simulate=SCENARIO):\n" << sim::ScenarioHelp();
    return kExitOk;
  }
  if (const std::optional<int> stopped = Parse(app, args, out, err)) return *stopped;

  GlobalOptions& options = globals.options;
  options.simulate = simulate.has_value();
  options.scenario = simulate.value_or(std::string());
  options.language = globals.lang.empty() ? LocaleLanguage(env) : (globals.lang == "ja" ? kJapanese : kEnglish);
  if (env.useLanguage) env.useLanguage(options.language);
  options.fast = options.fast || EnvSaysFast(env);
  CliContext ctx{out, err, env, options, {}, false, std::nullopt, {}, nullptr, nullptr, false, std::nullopt};
  for (const CLI::App* sub : app.get_subcommands()) ctx.command = sub->get_name();
  if (const int status = UseWorkingDirectory(ctx, globals.workingDirectory); status != kExitOk) return status;

  int status = kExitUsage;
  for (const Subcommand& command : commands) {
    if (command.parsed->parsed()) {
      status = command.run(ctx);
      break;
    }
  }
  status = ctx.SettleRun(status);
  // Scripts get their one document also when a command stopped early.
  ctx.PrintDocument(nlohmann::json::object(), status);
  return status;
}

}  // namespace orvel
