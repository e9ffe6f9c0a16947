// The command table is what the parser offers: every entry is a subcommand
// with its help, listed in the program's usage unless it is hidden.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/command_table.h"
#include "cli_fixture.h"

namespace orvel::testing {
namespace {

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(CliTest, EveryCommandOfTheTableIsOfferedWithItsHelp) {
  const CliRun program = Run({"--help"});
  ASSERT_EQ(program.status, kExitOk);
  std::set<std::string_view> names;
  for (const CliCommand& command : CliCommands()) {
    const std::string name(command.name);
    EXPECT_TRUE(names.insert(command.name).second) << "twice: " << name;
    EXPECT_FALSE(command.help.empty()) << name;
    const std::string synopsisLine = "  orvel-cli [OPTIONS] " + std::string(command.synopsis) + "\n";
    if (command.synopsis.empty()) {
      EXPECT_FALSE(Contains(program.out, "\n  " + name + " ")) << name << " is hidden";
      EXPECT_FALSE(Contains(program.out, "] " + name)) << name << " is hidden";
    } else {
      EXPECT_TRUE(Contains(program.out, synopsisLine)) << name;
      EXPECT_TRUE(command.synopsis.starts_with(command.name)) << name;
      EXPECT_TRUE(Contains(program.out, std::string(command.help))) << name;
    }

    const CliRun own = Run({name, "--help"});
    EXPECT_EQ(own.status, kExitOk) << name;
    EXPECT_TRUE(Contains(own.out, std::string(command.help))) << name;
    EXPECT_TRUE(Contains(own.out, "Exit status:")) << name;
    EXPECT_FALSE(Contains(own.out, "Scenarios")) << name;
    if (!command.synopsis.empty()) {
      // One usage, the synopsis line's; `help COMMAND` says the same.
      EXPECT_EQ(Occurrences(own.out, "Usage"), 1u) << name << own.out;
      EXPECT_TRUE(Contains(own.out, "Usage: orvel-cli [OPTIONS] " + std::string(command.synopsis) + "\n")) << name;
      const CliRun asked = Run({"help", name});
      EXPECT_EQ(asked.status, kExitOk) << name;
      EXPECT_EQ(asked.out, own.out) << name;
    }
  }
  EXPECT_EQ(Occurrences(program.out, "Usage"), 1u) << program.out;
  EXPECT_EQ(Run({"help"}).out, program.out);
  const CliRun unknown = Run({"help", "frobnicate"});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_TRUE(Contains(unknown.err, "frobnicate"));
}

// What a command cannot run without is marked so in its help, also where the
// option is shown by its own text.
TEST_F(CliTest, RequiredOptionsAreMarkedAndYesHasItsShortForm) {
  const CliRun update = Run({"update", "--help"});
  EXPECT_TRUE(Contains(update.out, "--drive WHICH REQUIRED")) << update.out;
  EXPECT_TRUE(Contains(update.out, "FILE TEXT REQUIRED")) << update.out;
  EXPECT_FALSE(Contains(update.out, "--backup REQUIRED")) << update.out;
  EXPECT_TRUE(Contains(Run({"backup", "--help"}).out, "--drive WHICH REQUIRED"));

  WriteSamples();
  const CliRun shortYes =
      Run({"--simulate", "--json", "update", sim::DefaultDrives()[2].fileName, "--drive", "3", "-y"});
  EXPECT_EQ(shortYes.status, kExitOk) << shortYes.err;
  EXPECT_EQ(machine->Drive(2).RewritesCompleted(), 1);
}

}  // namespace
}  // namespace orvel::testing
