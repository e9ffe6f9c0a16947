// The help texts: one usage per text, built from the command table's synopsis
// lines, and the `help` command that shows them.

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "cli/command_table.h"

namespace orvel {
namespace {

constexpr std::string_view kProgramPrefix = "  orvel-cli [OPTIONS] ";

// CLI11's usage line knows neither that options may follow the command nor
// which options a command requires: the table's synopsis lines say both.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App* app, std::string name) const override {
    if (app->get_parent() == nullptr) {
      std::string usage = "Usage:\n";
      for (const CliCommand& command : CliCommands()) {
        if (!command.synopsis.empty()) usage += std::string(kProgramPrefix) + std::string(command.synopsis) + "\n";
      }
      return usage;
    }
    for (const CliCommand& command : CliCommands()) {
      if (command.name == app->get_name() && !command.synopsis.empty()) {
        return "Usage: orvel-cli [OPTIONS] " + std::string(command.synopsis) + "\n";
      }
    }
    return CLI::Formatter::make_usage(app, std::move(name));
  }

  // An option shown by its own text ("--drive WHICH") still says that it is required.
  std::string make_option_opts(const CLI::Option* option) const override {
    std::string text = CLI::Formatter::make_option_opts(option);
    if (option->get_required() && !option->get_option_text().empty()) text += " REQUIRED";
    return text;
  }
};

}  // namespace

std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter() { return std::make_shared<HelpFormatter>(); }

int CommandHelp(CliContext& ctx, const CLI::App& app, const std::string& command) {
  // Straight from the formatter: App::help would show the help of the command
  // that was parsed, which is `help` itself.
  if (command.empty()) {
    ctx.text() << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
    return kExitOk;
  }
  for (const CLI::App* sub : app.get_subcommands({})) {
    if (sub->get_name() == command && !sub->get_group().empty()) {
      ctx.text() << sub->get_formatter()->make_help(sub, sub->get_name(), CLI::AppFormatMode::Normal);
      return kExitOk;
    }
  }
  return ctx.Stop(StopCode::Usage, "help: no such command: " + command + " (orvel-cli help lists the commands)");
}

}  // namespace orvel
