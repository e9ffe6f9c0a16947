#pragma once
// The commands of orvel-cli in one table: name, help, the synopsis line of
// --help, and how each adds its options and runs. Adding a command is one
// entry in command_table.cpp and the file with its handler.

#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "cli/cli_context.h"

namespace CLI {
class App;
class FormatterBase;
}

namespace orvel {

// Runs a command on the values its options were parsed into; exit status.
using CommandHandler = std::function<int(CliContext&)>;

struct CliCommand {
  std::string_view name;
  std::string_view help;
  // Follows "orvel-cli [OPTIONS] " in the program's --help; empty for a
  // command left out of the help (make-samples, for the demo).
  std::string_view synopsis;
  // The keys of the command's --json documents besides those every document
  // has; each is there (null when it has no value) however the command ends.
  std::span<const std::string_view> documentKeys;
  // Adds the command's operands and options to its subcommand and returns the
  // handler bound to the values they receive.
  CommandHandler (*addOptions)(CLI::App& subcommand);
};

std::span<const CliCommand> CliCommands();

// The help of `app` (the program) or of its subcommand `command`, on the text
// stream; an unknown command is a usage error.
int CommandHelp(CliContext& ctx, const CLI::App& app, const std::string& command);

// The help texts' layout: the usage from the synopsis lines, required options marked.
std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter();

}  // namespace orvel
