// A machine kept in a directory between runs: what comes back, and what is refused.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/machine_state.h"
#include "sim/scenarios.h"
#include "tests/support/temp_dir.h"

namespace orvel::sim {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::unique_ptr<Platform> Open(const std::string& text, const TempDir& work, std::string* error,
                               std::vector<std::string>* reports = nullptr) {
  return OpenScenarioMachine(text, work.path(), [reports](const std::string& m) {
    if (reports != nullptr) reports->push_back(m);
  }, error);
}

KeptMachine& Kept(const std::unique_ptr<Platform>& p) { return dynamic_cast<KeptMachine&>(*p); }

nlohmann::json ReadJson(const fs::path& file) {
  std::ifstream in(file);
  return nlohmann::json::parse(in);
}
void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

TEST(MachineState, KeepsFlashModeAndWhatWasReceivedUntilPowerCycle) {
  TempDir work;
  const std::string dir = work.path() + "/kept";
  const std::string text = "default,state=" + dir;
  std::string error;
  {
    const std::unique_ptr<Platform> p = Open(text, work, &error);
    ASSERT_NE(p, nullptr) << error;
    SimDrive& d = Kept(p).Machine().Drive(0);
    std::fill(d.MutableFlash().begin(), d.MutableFlash().begin() + 4, std::uint8_t{0x5A});
    d.StartInUpdateMode();
    DriveMemory m = d.Memory();
    m.received = {1, 2, 3};
    m.rewritesCompleted = 2;
    ASSERT_EQ(d.Restore(m), 1);
  }
  EXPECT_TRUE(fs::exists(fs::path(dir) / "machine.json"));
  EXPECT_TRUE(fs::exists(fs::path(dir) / "drive-0-1.flash"));
  WriteText(fs::path(dir) / "drive-notes.txt", "mine");  // not the saves' to remove
  {
    const std::unique_ptr<Platform> p = Open(text, work, &error);
    ASSERT_NE(p, nullptr) << error;
    SimDrive& d = Kept(p).Machine().Drive(0);
    EXPECT_TRUE(d.InUpdateMode());
    EXPECT_EQ(d.Flash()[3], 0x5A);
    EXPECT_EQ(std::vector<std::uint8_t>(d.Received().begin(), d.Received().end()), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(d.RewritesCompleted(), 2);
    EXPECT_FALSE(Kept(p).Machine().Drive(1).InUpdateMode());
  }
  // Only the newest generation's files are left.
  EXPECT_FALSE(fs::exists(fs::path(dir) / "drive-0-1.flash"));
  EXPECT_TRUE(fs::exists(fs::path(dir) / "drive-0-2.flash"));
  EXPECT_TRUE(fs::exists(fs::path(dir) / "drive-notes.txt"));
  {
    const std::unique_ptr<Platform> p = Open(text + ",power-cycle", work, &error);
    ASSERT_NE(p, nullptr) << error;
    SimDrive& d = Kept(p).Machine().Drive(0);
    EXPECT_FALSE(d.InUpdateMode());
    EXPECT_TRUE(d.Received().empty());
    EXPECT_EQ(d.Flash()[3], 0x5A);  // a power cycle keeps the flash
  }
  // Without state= nothing is read: a fresh machine.
  const std::unique_ptr<Platform> fresh = Open("default", work, &error);
  ASSERT_NE(fresh, nullptr) << error;
  EXPECT_NE(dynamic_cast<SimMachine&>(*fresh).Drive(0).Flash()[3], 0x5A);
}

TEST(MachineState, PowerCycleReportsTheRevisionOfTheFirmwareWritten) {
  TempDir work;
  std::unique_ptr<SimMachine> m = MakeScenario("default", work.path(), nullptr);
  ASSERT_NE(m, nullptr);
  SimDrive& d = m->Drive(0);
  const std::vector<std::uint8_t> newer = SampleImage(0);
  std::copy(newer.begin(), newer.end(), d.MutableFlash().begin());
  d.PowerCycle();
  EXPECT_EQ(d.Identity().revision, "1.10");  // not rewritten by the drive: nothing changes
  DriveMemory mem = d.Memory();
  mem.rewritesCompleted = 1;
  ASSERT_EQ(d.Restore(mem), 1);
  d.PowerCycle();
  EXPECT_EQ(d.Identity().revision, "1.32");
  // An erased flash names no firmware: the revision stays.
  std::fill(d.MutableFlash().begin(), d.MutableFlash().end(), std::uint8_t{0xFF});
  d.PowerCycle();
  EXPECT_EQ(d.Identity().revision, "1.32");
}

TEST(MachineState, ASecondRunAtOnceIsRefusedWithoutWaiting) {
  TempDir work;
  const std::string text = "default,state=" + work.path() + "/kept";
  std::string error;
  const std::unique_ptr<Platform> first = Open(text, work, &error);
  ASSERT_NE(first, nullptr) << error;
  EXPECT_EQ(Open(text, work, &error), nullptr);
  EXPECT_NE(error.find("in use by another run"), std::string::npos) << error;
}

TEST(MachineState, AStateDirectoryThatIsAFileIsRefused) {
  TempDir work;
  std::string error;
  WriteText(fs::path(work.path()) / "plain", "x");
  EXPECT_EQ(Open("default,state=" + work.path() + "/plain", work, &error), nullptr);
  EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
}

// A kept directory, changed after a save, and what loading it must say.
struct DamageCase {
  const char* name;
  std::function<void(const fs::path& dir)> damage;
  const char* scenario;  // the run that finds it
  const char* expected;  // part of the error
};

void EditJson(const fs::path& dir, const std::function<void(nlohmann::json&)>& edit) {
  nlohmann::json j = ReadJson(dir / "machine.json");
  edit(j);
  WriteText(dir / "machine.json", j.dump());
}

TEST(MachineState, ForeignNewerAndDamagedStatesAreRefused) {
  const std::vector<DamageCase> cases = {
      {"another scenario", [](const fs::path&) {}, "aspi", "of scenario \"default\", not \"aspi\""},
      {"newer format", [](const fs::path& d) { EditJson(d, [](nlohmann::json& j) { j["version"] = 2; }); }, "default",
       "format version 2"},
      {"not json", [](const fs::path& d) { WriteText(d / "machine.json", "{\"format\": "); }, "default",
       "not a JSON object"},
      {"foreign json", [](const fs::path& d) { WriteText(d / "machine.json", "{\"format\":\"x\"}"); }, "default",
       "not a kept simulated machine"},
      {"no version", [](const fs::path& d) { EditJson(d, [](nlohmann::json& j) { j.erase("version"); }); }, "default",
       "no format version"},
      {"too few drives", [](const fs::path& d) { EditJson(d, [](nlohmann::json& j) { j["drives"].erase(0); }); },
       "default", "3 drives kept, the scenario has 4"},
      {"a drive that is a number",
       [](const fs::path& d) { EditJson(d, [](nlohmann::json& j) { j["drives"][1] = 7; }); }, "default",
       "drive 1: not an object"},
      {"wrong type", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][0]["updateMode"] = "yes"; });
       }, "default", "drive 0: a field is missing or out of range"},
      {"variant out of range", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][0]["finishedVariant"] = 8; });
       }, "default", "drive 0: a field is missing or out of range"},
      {"unknown rewrite", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][0]["rewrite"] = "phases"; });
       }, "default", "unknown rewrite state"},
      {"moved drive", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][2]["device"] = "\\\\.\\cdrom9"; });
       }, "default", "drive 2: not the drive the scenario has there"},
      {"flash size in the file list", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][0]["flashBytes"] = 1000; });
       }, "default", "flash of 1000 bytes"},
      {"truncated flash", [](const fs::path& d) { fs::resize_file(d / "drive-1-1.flash", 100); }, "default",
       "drive-1-1.flash: 100 bytes, expected"},
      {"missing flash", [](const fs::path& d) { fs::remove(d / "drive-0-1.flash"); }, "default",
       "drive-0-1.flash: file not found"},
      {"received bytes without their file", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][0]["receivedBytes"] = 5; });
       }, "default", "drive-0-1.received"},
      {"received beyond any image", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][0]["receivedBytes"] = 0x100001; });
       }, "default", "a field is missing or out of range"},
      {"revision too long", [](const fs::path& d) {
         EditJson(d, [](nlohmann::json& j) { j["drives"][0]["revision"] = "1.10 and more"; });
       }, "default", "drive 0: does not fit"},
      {"huge state file", [](const fs::path& d) { fs::resize_file(d / "machine.json", 2 << 20); }, "default",
       "too large"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work;
    const fs::path dir = fs::path(work.path()) / "kept";
    std::string error;
    ASSERT_NE(Open("default,state=" + dir.string(), work, &error), nullptr) << error;  // saved as it goes
    c.damage(dir);
    EXPECT_EQ(Open(std::string(c.scenario) + ",state=" + dir.string(), work, &error), nullptr);
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_EQ(error.rfind("simulator state " + dir.string() + ": ", 0), 0u) << error;
  }
}

TEST(MachineState, LinksPlantedInTheDirectoryAreNotWrittenThrough) {
  TempDir work;
  const fs::path dir = fs::path(work.path()) / "kept";
  const fs::path victim = fs::path(work.path()) / "victim";
  WriteText(victim, "precious");
  const std::string text = "default,state=" + dir.string();
  std::string error;
  ASSERT_NE(Open(text, work, &error), nullptr) << error;
  // The next save's names, and the current ones, all lead elsewhere.
  for (const char* name : {"drive-0-2.flash", "drive-0-2.flash.new", "machine.json.new"}) {
    std::error_code ec;
    fs::create_symlink(victim, dir / name, ec);
    if (ec) GTEST_SKIP() << "this system makes no symbolic links here";
  }
  std::vector<std::string> reports;
  ASSERT_NE(Open(text, work, &error, &reports), nullptr) << error;
  EXPECT_TRUE(reports.empty()) << reports.front();
  std::ifstream in(victim);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "precious");
  EXPECT_FALSE(fs::is_symlink(dir / "drive-0-2.flash"));
  EXPECT_EQ(ReadJson(dir / "machine.json")["generation"], 2);

  // A lock file that is a link is refused, not followed.
  const fs::path other = fs::path(work.path()) / "other";
  fs::create_directory(other);
  std::error_code ec;
  fs::create_symlink(victim, other / "lock", ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(Open("default,state=" + other.string(), work, &error), nullptr);
  EXPECT_NE(error.find("cannot lock it"), std::string::npos) << error;
}

TEST(MachineState, ASaveThatFailsIsReported) {
  TempDir work;
  const fs::path dir = fs::path(work.path()) / "kept";
  std::vector<std::string> reports;
  std::string error;
  {
    const std::unique_ptr<Platform> p = Open("default,state=" + dir.string(), work, &error, &reports);
    ASSERT_NE(p, nullptr) << error;
    // The next generation's flash name is taken by a directory.
    fs::create_directory(dir / "drive-0-1.flash.new");
    fs::create_directory(dir / "drive-0-1.flash.new" / "inside");
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("could not be kept in " + dir.string()), std::string::npos) << reports[0];
  EXPECT_FALSE(fs::exists(dir / "machine.json"));
}

}  // namespace
}  // namespace orvel::sim
