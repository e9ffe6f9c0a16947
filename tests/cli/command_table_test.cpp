// The command table is what the parser offers: every entry is a subcommand
// with its help, listed in the program's synopsis unless it is hidden.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/command_table.h"
#include "cli_fixture.h"

namespace orvel::testing {
namespace {

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
  }
}

}  // namespace
}  // namespace orvel::testing
