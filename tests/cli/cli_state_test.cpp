// Runs that follow one another on one simulated machine kept with state=DIR.

#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "firmware/catalogue.h"
#include "sim/machine_state.h"

namespace orvel::testing {
namespace {

class CliStateTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    // The program's own factory: the one that keeps the machine.
    env.makePlatform = MakeDefaultPlatform;
    state = (dir() / "machine").string();
  }
  std::string Kept(const std::string& scenario = "default") const { return "--simulate=" + scenario + ",state=" + state; }
  nlohmann::json Drives(const std::string& simulate) {
    const CliRun run = Run({simulate, "--json", "drives"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    return nlohmann::json::parse(run.out, nullptr, false);
  }
  std::string state;
};

TEST_F(CliStateTest, RunsFollowOneAnotherAsOnARealMachine) {
  WriteSamples();
  struct Step {
    std::vector<std::string> args;  // after the --simulate option
    std::string options;            // scenario options after state=
    int status;
    const char* revision;  // drive 1's revision in `drives` afterwards ("L1.0": its loader's)
  };
  const std::vector<Step> steps = {
      {{"drives"}, "", kExitOk, "1.10"},
      // The drive stays in its loader until it is switched off and on.
      {{"update", sim::DefaultDrives()[0].fileName, "--drive", "1", "--yes"}, "", kExitOk, "L1.0"},
      {{"drives"}, ",power-cycle", kExitOk, "1.32"},
      {{"drives"}, "", kExitOk, "1.32"},
      // Reading the firmware takes the drive into update mode as well.
      {{"backup", "--drive", "1"}, "", kExitOk, "L1.0"},
  };
  for (const Step& step : steps) {
    std::vector<std::string> args{Kept() + step.options};
    args.insert(args.end(), step.args.begin(), step.args.end());
    const CliRun run = Run(args);
    ASSERT_EQ(run.status, step.status) << step.args[0] << run.err;
    const nlohmann::json doc = Drives(Kept());
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["drives"][0]["revision"], step.revision) << step.args[0];
  }
  // The backup holds the new firmware: the drive's flash was kept.
  std::vector<std::string> backups;
  for (const std::string& name : Files()) {
    if (name.rfind("CDRWFW", 0) == 0) backups.push_back(name);
  }
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(ReadBytes(backups[0]), ReadBytes(sim::DefaultDrives()[0].fileName));

  // Without state= every run starts fresh.
  EXPECT_EQ(Drives("--simulate")["drives"][0]["revision"], "1.10");
  // A relative directory is taken in the working directory (-C), as file names are.
  EXPECT_EQ(Drives("--simulate=default,state=machine")["drives"][0]["revision"], "L1.0");
}

TEST_F(CliStateTest, ADriveLeftInUpdateModeIsFoundThereByTheNextRun) {
  WriteSamples();
  // The rewrite does not start: the update stops with the drive in its loader.
  const CliRun failed =
      Run({Kept() + ",fault=e1@0:1:check:5/24/00", "update", sim::DefaultDrives()[0].fileName, "--drive", "1", "--yes"});
  ASSERT_EQ(failed.status, kExitUpdateFailed) << failed.err;

  const nlohmann::json doc = Drives(Kept());
  std::string loaderId;
  for (std::size_t i = 0; i < kLoaderRows && loaderId.empty(); ++i) {
    if (LoaderRow(static_cast<int>(i)).family == sim::DefaultDrives()[0].family) {
      loaderId.assign(LoaderRow(static_cast<int>(i)).loaderId, kProductIdLength);
    }
  }
  ASSERT_EQ(doc["drives"].size(), 3u);
  EXPECT_EQ(doc["drives"][0]["address"], "cdrom0");
  EXPECT_EQ(doc["drives"][0]["product"], loaderId);
  EXPECT_EQ(doc["drives"][0]["revision"], "L1.0");
  EXPECT_EQ(doc["drives"][1]["revision"], "1.10");  // the other drives were never touched
  // Switched off and on, it is back in normal mode with its old firmware.
  EXPECT_EQ(Drives(Kept() + ",power-cycle")["drives"][0]["revision"], "1.10");
}

TEST_F(CliStateTest, AStateThatCannotBeUsedStopsTheRun) {
  ASSERT_EQ(Run({Kept(), "drives"}).status, kExitOk);
  const CliRun other = Run({Kept("aspi"), "--json", "drives"});
  EXPECT_EQ(other.status, kExitUsage);
  EXPECT_TRUE(Contains(other.err, "scenario \"default\", not \"aspi\"")) << other.err;
  EXPECT_EQ(nlohmann::json::parse(other.out)["code"], "usage");

  std::string error;
  const std::unique_ptr<Platform> holder = sim::OpenScenarioMachine("default,state=" + state, dir().string(), {}, &error);
  ASSERT_NE(holder, nullptr) << error;
  const CliRun busy = Run({Kept(), "drives"});
  EXPECT_EQ(busy.status, kExitUsage);
  EXPECT_TRUE(Contains(busy.err, "in use by another run")) << busy.err;
}

}  // namespace
}  // namespace orvel::testing
