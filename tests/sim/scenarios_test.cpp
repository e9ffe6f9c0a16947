// Named scenarios, their text syntax, and the sample firmware of the demo.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "firmware/identify.h"
#include "firmware/image_file.h"
#include "tests/sim/sim_support.h"
#include "drive/discovery.h"

namespace orvel::sim {
namespace {

using testing::Rig;
using testing::TempDir;

TEST(Scenarios, EveryListedScenarioBuildsAndIsInTheHelp) {
  const std::string help = ScenarioHelp();
  std::set<std::string_view> names;
  for (const Scenario& s : Scenarios()) {
    EXPECT_TRUE(names.insert(s.name).second) << "twice: " << s.name;
    TempDir dir;
    std::string error;
    const std::unique_ptr<SimMachine> m = MakeScenario(s.name, dir.path(), &error);
    EXPECT_NE(m, nullptr) << s.name << ": " << error;
    EXPECT_NE(help.find("  " + std::string(s.name) + "  "), std::string::npos) << s.name;
    EXPECT_NE(help.find(std::string(s.help) + "\n"), std::string::npos) << s.name;
    EXPECT_FALSE(s.help.empty());
  }
  for (const char* option : {"fault=", "timeout", "short:", "aborted", "disk-full=", "sync-fails", "file-short=",
                             "no-open=", "no-access=", "swap=", "pending", "no-logind", "platform=", "hold="}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

// The README's scenario table is the list above, row for row: the message
// gives the table to paste when a scenario was added or changed.
TEST(Scenarios, ReadmeTableListsExactlyTheScenarios) {
  std::ifstream readme(std::string(ORVEL_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(readme.is_open());
  constexpr std::string_view kHeader = "| scenario | what it is |";
  std::string line;
  while (std::getline(readme, line) && line != kHeader) {
  }
  ASSERT_EQ(line, kHeader) << "README.md has no scenario table";
  std::getline(readme, line);  // |---|---|
  std::string table;
  while (std::getline(readme, line) && line.starts_with("|")) table += line + "\n";

  std::string expected;
  for (const Scenario& s : Scenarios()) {
    expected += "| `" + std::string(s.name) + "` | " + std::string(s.help) + " |\n";
  }
  EXPECT_EQ(table, expected) << "README.md's scenario rows should read:\n" << expected;
}

TEST(Scenarios, DefaultAndAspiMachinesOfferTheSupportedDrives) {
  Rig nt("default");
  ASSERT_TRUE(nt.selected);
  const std::vector<DriveEntry> drives = DiscoverDrives(nt.T());
  ASSERT_EQ(drives.size(), DefaultDrives().size());  // the DVD-ROM is not supported
  for (std::size_t i = 0; i < drives.size(); ++i) {
    EXPECT_EQ(drives[i].label.substr(0, 6), "cdrom" + std::to_string(i));
    EXPECT_EQ(nt.Drive(i).family(), DefaultDrives()[i].family);
  }
  EXPECT_EQ(nt.machine->DriveCount(), DefaultDrives().size() + 1);

  Rig aspi("aspi");
  ASSERT_TRUE(aspi.selected);
  EXPECT_EQ(aspi.T().mode, TransportMode::Aspi);
  const std::vector<DriveEntry> onAspi = DiscoverDrives(aspi.T());
  ASSERT_EQ(onAspi.size(), DefaultDrives().size());
  EXPECT_EQ(onAspi[2].label.substr(0, 11), "HA:0 ID:2  ");
  // Targets without a drive were asked too: eight per adapter.
  EXPECT_EQ(aspi.machine->GetTrace().size(), 8U);

  Rig empty("empty");
  EXPECT_TRUE(DiscoverDrives(empty.T()).empty());
}

TEST(Scenarios, ParseScenarioReadsOptionsAndRejectsBadText) {
  ScenarioSpec parsed;
  std::string error;
  ASSERT_EQ(ParseScenario("default,fault=e2@1:3+:check:04/00,fault=any:2:short:100,disk-full=4096,sync-fails,"
                          "file-short=77,no-open=2,no-access=1,swap=0:2,pending,no-logind,platform=1,hold=sum-again,"
                          "state=/tmp/kept machine,power-cycle",
                          &parsed, &error),
            1)
      << error;
  EXPECT_EQ(parsed.name, "default");
  ASSERT_EQ(parsed.faults.size(), 2U);
  EXPECT_EQ(parsed.faults[0].opcode, 0xE2);
  EXPECT_EQ(parsed.faults[0].drive, 1);
  EXPECT_EQ(parsed.faults[0].occurrence, 3U);
  EXPECT_TRUE(parsed.faults[0].onward);
  EXPECT_EQ(parsed.faults[0].kind, FaultKind::Check);
  EXPECT_EQ(parsed.faults[0].sense, (Sense{kKeyNotReady, 0x04, 0x00}));
  EXPECT_EQ(parsed.faults[1].opcode, kAnyOpcode);
  EXPECT_EQ(parsed.faults[1].kind, FaultKind::ShortData);
  EXPECT_EQ(parsed.faults[1].shortBytes, 100U);
  EXPECT_EQ(parsed.fileFaults.diskFullAfter, 4096U);
  EXPECT_TRUE(parsed.fileFaults.syncFails);
  EXPECT_EQ(parsed.fileFaults.shortReadAt, 77U);
  EXPECT_EQ(parsed.refuseOpen, (std::vector<std::size_t>{2}));
  EXPECT_EQ(parsed.denyAccess, (std::vector<std::size_t>{1}));
  EXPECT_EQ(parsed.swap, (std::pair<std::size_t, std::size_t>{0, 2}));
  EXPECT_TRUE(parsed.pending);
  EXPECT_TRUE(parsed.noLogind);
  EXPECT_TRUE(parsed.platformGiven);
  EXPECT_EQ(parsed.platformId, 1U);
  EXPECT_TRUE(parsed.hold);
  EXPECT_EQ(parsed.holdPhase, 0x03);
  EXPECT_EQ(parsed.stateDirectory, "/tmp/kept machine");
  EXPECT_TRUE(parsed.powerCycle);
  ASSERT_EQ(ParseScenario("default,hold=erase", &parsed, &error), 1) << error;
  EXPECT_EQ(parsed.holdPhase, 0x01);

  ASSERT_EQ(ParseScenario("aspi,fault=12:1:check:6/29/00", &parsed, &error), 1) << error;
  EXPECT_EQ(parsed.faults[0].sense, (Sense{kKeyUnitAttention, 0x29, 0x00}));

  for (const char* bad : {"", "nosuch", "default,", "default,fault=e2", "default,fault=e2:0:fail",
                          "default,fault=1ff:1:fail", "default,fault=e2:1:explode", "default,fault=e2:1:check:zz/00",
                          "default,fault=e2:1:check:10/20/30", "default,fault=e2:1:short", "default,fault=e2:1:timeout:5",
                          "default,disk-full=lots", "default,colour=blue", "fault=e2:1:fail", "default,swap=1",
                          "default,swap=1:1", "default,swap=a:2", "default,swap=1:", "default,hold=",
                          "default,hold=flash", "default,state=", "default,power-cycle",
                          "default,state=/tmp/x,power-cycle=1"}) {
    error.clear();
    EXPECT_EQ(ParseScenario(bad, &parsed, &error), 0) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  TempDir dir;
  const std::unique_ptr<SimMachine> sleepy = MakeScenario("default,no-logind", dir.path(), &error);
  ASSERT_NE(sleepy, nullptr) << error;
  EXPECT_FALSE(sleepy->BeginAttempt().machineKeptAwake);
  EXPECT_EQ(sleepy->EndAttempt(), 0);
  const std::unique_ptr<SimMachine> awake = MakeScenario("default", dir.path(), &error);
  EXPECT_TRUE(awake->BeginAttempt().machineKeptAwake);
  EXPECT_EQ(awake->EndAttempt(), 0);
  EXPECT_EQ(MakeScenario("default,no-open=9", dir.path(), &error), nullptr);
  EXPECT_EQ(MakeScenario("default,no-access=9", dir.path(), &error), nullptr);
  EXPECT_EQ(MakeScenario("default,swap=0:4", dir.path(), &error), nullptr);
  EXPECT_EQ(MakeScenario("aspi,swap=0:1", dir.path(), &error), nullptr) << "ASPI addresses name no device";
  EXPECT_EQ(MakeScenario("nosuch", dir.path(), &error), nullptr);
}

TEST(Scenarios, SampleFirmwareIsNewerAndFitsEachDefaultDrive) {
  Rig rig("default");
  FileSystem& fs = rig.machine->Files();
  std::vector<std::string> written;
  std::string error;
  ASSERT_EQ(WriteSampleFirmware(fs, &written, &error), 1) << error;
  ASSERT_EQ(written.size(), DefaultDrives().size() + 1);
  // 8.3 names, as firmware files of the drives' era carry: the dialog's source
  // list is sized for them.
  for (const std::string& name : written) {
    const std::size_t dot = name.find('.');
    ASSERT_NE(dot, std::string::npos) << name;
    EXPECT_LE(dot, 8u) << name;
    EXPECT_EQ(name.size() - dot - 1, 3u) << name;
  }
  // Writing again replaces nothing: refused, every sample named.
  EXPECT_EQ(WriteSampleFirmware(fs, nullptr, &error), 0);
  for (const std::string& name : written) EXPECT_NE(error.find(name), std::string::npos) << error;

  for (std::size_t i = 0; i < DefaultDrives().size(); ++i) {
    const SampleDrive& d = DefaultDrives()[i];
    const SourceIdentification id = IdentifyFile(fs, d.fileName);
    ASSERT_EQ(id.outcome, IdentifyOutcome::Identified) << d.fileName;
    EXPECT_EQ(id.family, d.family) << d.fileName;
    // The drive's loader block starts with the same six-byte type code.
    const SimDrive& drive = rig.Drive(i);
    const auto block = drive.Flash().subspan(drive.Loader().idAddress, kTypeCodeLength);
    EXPECT_EQ(std::memcmp(block.data(), id.typeCode.data(), kTypeCodeLength), 0) << d.fileName;
    EXPECT_EQ(id.description.substr(0, std::strlen(d.newer)), d.newer);
    EXPECT_STRNE(d.newer, d.installed);

    // Loading the file gives back the plain image the drive would receive.
    std::unique_ptr<ImageBuffer> buffer;
    LoadReport report;
    ASSERT_EQ(LoadSourceImage(fs, d.fileName, id.entryIndex, id.family, d.family, buffer, &report), 1) << d.fileName;
    const std::vector<std::uint8_t> plain = SampleImage(i);
    ASSERT_EQ(report.plainLength, plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer->begin())) << d.fileName;
  }

  const SourceIdentification misfit = IdentifyFile(fs, kMisfitFileName);
  ASSERT_EQ(misfit.outcome, IdentifyOutcome::Identified);
  for (std::size_t i = 0; i < DefaultDrives().size(); ++i) {
    const SimDrive& drive = rig.Drive(i);
    const auto block = drive.Flash().subspan(drive.Loader().idAddress, kTypeCodeLength);
    EXPECT_NE(std::memcmp(block.data(), misfit.typeCode.data(), kTypeCodeLength), 0);
  }

  // A full disk is reported, and leaves no half-written file behind.
  Rig full("disk-full");
  EXPECT_EQ(WriteSampleFirmware(full.machine->Files(), nullptr, &error), 0);
  EXPECT_NE(error.find("full"), std::string::npos) << error;
  EXPECT_TRUE(full.machine->Files().ListRegularFiles("*.KVF").empty());
}

// The every-family machine: on ASPI over three adapters, every drive listed
// (a blank one under its loader's identification), all ten loader rows and
// families 0..8 present, and a blank drive of each family. make-samples writes
// its own set: each file identified as its drive's family, with the code the
// drive keeps where its loader's block has it.
TEST(Scenarios, EveryFamilyMachineHasEveryLoaderRowFamilyAndABlankDriveOfEach) {
  Rig rig(kEveryFamilyScenario);
  ASSERT_TRUE(rig.selected);
  EXPECT_EQ(rig.T().mode, TransportMode::Aspi);
  const std::vector<DriveEntry> drives = DiscoverDrives(rig.T());
  ASSERT_EQ(drives.size(), EveryFamilyDrives().size());
  FileSystem& fs = rig.machine->Files();
  std::vector<std::string> written;
  std::string error;
  ASSERT_EQ(WriteSampleFirmware(fs, &written, &error, kEveryFamilyScenario), 1) << error;
  EXPECT_TRUE(ExistingSampleNames(fs).empty()) << "the default set is another";
  EXPECT_EQ(ExistingSampleNames(fs, kEveryFamilyScenario), written);

  std::set<int> loaderRows;
  std::set<int> families;
  std::set<int> blankFamilies;
  std::size_t files = 0;
  for (std::size_t i = 0; i < drives.size(); ++i) {
    const FamilyDrive& d = EveryFamilyDrives()[i];
    const SimDrive& drive = rig.Drive(i);
    SCOPED_TRACE("drive " + std::to_string(i) + ": " + drives[i].label);
    EXPECT_EQ(drives[i].label.substr(0, 11),
              "HA:" + std::to_string(i / kTargetsPerAdapter) + " ID:" + std::to_string(i % kTargetsPerAdapter) + "  ");
    EXPECT_EQ(drive.family(), d.family);
    EXPECT_STREQ(drive.Loader().loaderId, LoaderRow(d.loaderRow).loaderId);
    loaderRows.insert(d.loaderRow);
    if (d.typeCode == nullptr) {
      EXPECT_EQ(drive.Loader().family, d.family);
      EXPECT_EQ(drives[i].product, std::string(drive.Loader().loaderId));
      EXPECT_TRUE(std::ranges::all_of(drive.Flash(), [](std::uint8_t b) { return b == 0xFF; }));
      blankFamilies.insert(d.family);
      continue;
    }
    families.insert(d.family);
    if (d.fileName == nullptr) continue;
    ++files;
    const SourceIdentification id = IdentifyFile(fs, d.fileName);
    ASSERT_EQ(id.outcome, IdentifyOutcome::Identified);
    EXPECT_EQ(id.family, d.family);
    const std::uint32_t codeAt = drive.Loader().idAddress + TraitsOf(drive.Loader().family).loaderCodeOffset;
    EXPECT_EQ(std::memcmp(drive.Flash().data() + codeAt, id.typeCode.data(), kTypeCodeLength), 0);
  }
  EXPECT_EQ(loaderRows.size(), kLoaderRows);
  const std::set<int> all{0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(families, all);
  EXPECT_EQ(blankFamilies, all);
  EXPECT_EQ(written.size(), files);
}

TEST(Scenarios, ShortTypeCodesStandAloneInTheDriveImage) {
  const std::vector<std::uint8_t> image = MakeDriveImage(0, "QDX", "Tessaro CR-2400 Ver 1.00", 7);
  ASSERT_EQ(image.size(), kSmallImageSize);
  const auto match = FindDriveFamily(std::span(image).subspan(4, 8));
  ASSERT_TRUE(match.has_value());
  EXPECT_EQ(match->family, 0);
  EXPECT_EQ(FindRowForPlainImage(image), 0);
}

}  // namespace
}  // namespace orvel::sim
