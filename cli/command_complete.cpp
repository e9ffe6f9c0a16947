#include "cli/command_complete.h"

#include <CLI/CLI.hpp>

#include "cli/cli_context.h"
#include "sim/scenarios.h"

namespace orvel {
namespace {

constexpr const char* kCommands = "commands";
constexpr const char* kOptions = "options";
constexpr const char* kScenarios = "scenarios";
constexpr const char* kDrives = "drives";

// Hidden commands and options (group "") are for tests and scripts, not for people typing.
bool Visible(const std::string& group) { return !group.empty(); }

void PrintOptions(std::ostream& out, const CLI::App& app) {
  for (const CLI::Option* option : app.get_options()) {
    if (!Visible(option->get_group()) || !option->nonpositional()) continue;
    for (const std::string& name : option->get_snames()) out << '-' << name << '\n';
    for (const std::string& name : option->get_lnames()) out << "--" << name << '\n';
  }
}

}  // namespace

void AddCompleteOptions(CLI::App& complete, CompleteArgs& args) {
  complete.add_option("KIND", args.kind)->required()->check(CLI::IsMember({kCommands, kOptions, kScenarios, kDrives}));
  complete.add_option("COMMAND", args.command);
}

int CommandComplete(CliContext& ctx, const CLI::App& app, const CompleteArgs& args) {
  if (args.kind == kCommands) {
    for (const CLI::App* sub : app.get_subcommands({})) {
      if (Visible(sub->get_group())) ctx.out << sub->get_name() << '\n';
    }
  } else if (args.kind == kOptions) {
    if (args.command.empty()) {
      PrintOptions(ctx.out, app);
      return kExitOk;
    }
    for (const CLI::App* sub : app.get_subcommands({})) {
      if (Visible(sub->get_group()) && sub->get_name() == args.command) PrintOptions(ctx.out, *sub);
    }
  } else if (args.kind == kScenarios) {
    for (const sim::Scenario& scenario : sim::Scenarios()) ctx.out << scenario.name << '\n';
  } else if (args.kind == kDrives && ctx.env.listDriveAddresses) {
    PlatformRequest request;
    request.simulate = ctx.options.simulate;
    request.scenario = ctx.options.scenario;
    request.workingDirectory = ctx.options.workingDirectory;
    const std::vector<std::string> addresses = ctx.env.listDriveAddresses(request);
    // Positions count supported drives only, which needs discovery: offer as many as there are nodes.
    for (std::size_t i = 1; i <= addresses.size(); ++i) ctx.out << i << '\n';
    for (const std::string& address : addresses) ctx.out << address << '\n';
  }
  return kExitOk;
}

}  // namespace orvel
