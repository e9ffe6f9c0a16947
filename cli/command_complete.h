#pragma once
// The hidden `complete` command: candidates for the shell's completion, one a
// line. It sends no command to any drive: the drives offered come from the
// device nodes present (or the simulated machine's attachments), never from
// discovery, so pressing Tab cannot disturb a drive in the middle of an update.

#include <string>

namespace CLI {
class App;
}

namespace orvel {

struct CliContext;

struct CompleteArgs {
  std::string kind;     // commands, options, scenarios, drives
  std::string command;  // with options: whose options (none: the global ones)
};

// Adds the command's operands to its (hidden) subcommand.
void AddCompleteOptions(CLI::App& complete, CompleteArgs& args);

// Prints the candidates of `args.kind`; the commands and options are read from `app` itself.
int CommandComplete(CliContext& ctx, const CLI::App& app, const CompleteArgs& args);

}  // namespace orvel
