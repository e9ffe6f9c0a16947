// Backup file names, backup content and what a failing backup leaves behind.
#include <gtest/gtest.h>

#include <algorithm>

#include "firmware/sample_firmware.h"
#include "tests/update/update_harness.h"

namespace orvel::testing {
namespace {

constexpr std::uint8_t kChunk12 = 0xAA;
const std::vector<std::uint8_t> kPrecious{'k', 'e', 'e', 'p'};

std::vector<std::string> Backups(const Rig& rig) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(rig.dir)) {
    const std::string n = e.path().filename().string();
    if (n.starts_with("CDRWFW")) names.push_back(n);
  }
  std::ranges::sort(names);
  return names;
}

TEST(BackupName, FirstNameThatDoesNotOpenWithTheSourceRowsExtension) {
  Rig rig(2, "QDX4");
  rig.WriteFile("CDRWFW00.BIN", kPrecious);
  rig.WriteFile("CDRWFW02.BIN", kPrecious);
  rig.SelectNewerFile(2, "QDX4");
  EXPECT_EQ(rig.proc->backupFileName, "");
  rig.host.backupState = 1;
  rig.proc->ChooseBackupFileName();
  EXPECT_EQ(rig.proc->backupFileName, "CDRWFW01.BIN");

  // An encoded source names ".KVF" files; the ".BIN" ones do not count.
  rig.SelectNewerFile(6, "QDX70");
  EXPECT_EQ(rig.proc->backupFileName, "CDRWFW00.KVF");

  rig.host.backupState = 0;
  rig.proc->ChooseBackupFileName();
  EXPECT_EQ(rig.proc->backupFileName, "");
}

TEST(BackupName, AllTenTakenClearsTheBoxAndKeepsTheEarlierName) {
  Rig rig(4, "QDX50");
  rig.host.backupState = 1;
  rig.SelectNewerFile(4, "QDX50");
  ASSERT_EQ(rig.proc->backupFileName, "CDRWFW00.BIN");
  for (int n = 0; n < 10; ++n) rig.WriteFile("CDRWFW0" + std::to_string(n) + ".BIN", kPrecious);
  const int pushes = rig.host.pushes;
  rig.proc->ChooseBackupFileName();
  EXPECT_EQ(rig.host.backupState, 0);
  EXPECT_EQ(rig.host.pages, std::vector<int>{NoBackupFileName});
  EXPECT_EQ(rig.proc->backupFileName, "CDRWFW00.BIN");
  EXPECT_EQ(rig.host.pushes, pushes + 1);
}

// The command line's backup has no source file: the drive's own family names and forms it.
TEST(Backup, WithoutASourceFileTheDrivesFamilyDecidesNameAndForm) {
  struct Case {
    int family;
    const char* code;
    int row;
    const char* name;
  };
  for (const Case& c : {Case{2, "QDX4", 4, "CDRWFW00.BIN"}, Case{5, "QDX55", 7, "CDRWFW00.KVF"},
                        Case{7, "QDX62", 25, "CDRWFW00.KVF"}}) {
    Rig rig(c.family, c.code);
    ASSERT_EQ(rig.proc->SwitchDriveToUpdateMode(), 1) << c.family;
    ASSERT_EQ(rig.proc->TakeBackupFormFromDrive(), 1) << c.family;
    EXPECT_EQ(rig.proc->sourceEntryIndex, c.row);
    EXPECT_EQ(rig.proc->sourceFamily, c.family);
    rig.host.backupState = 1;
    rig.proc->ChooseBackupFileName();
    ASSERT_EQ(rig.proc->backupFileName, c.name);
    ASSERT_EQ(rig.proc->BackUpFirmware(), 1) << rig.proc->lastAttempt.detail;
    EXPECT_EQ(rig.ReadFile(c.name), EncodeForFamily(c.family, rig.installed)) << c.family;

    // A family the catalogue does not know leaves the members as they were.
    rig.proc->driveFamily = kFamilyCount;
    EXPECT_EQ(rig.proc->TakeBackupFormFromDrive(), 0);
    EXPECT_EQ(rig.proc->sourceEntryIndex, c.row);
  }
}

TEST(Backup, PackedEncoderRefusalWritesPlainBytesUnderTheKvfName) {
  Rig rig(6, "QDX70");
  rig.drive->MutableFlash()[0x5000] = 0x12;  // the packed form needs 0xFF here
  std::vector<std::uint8_t> held(rig.drive->Flash().begin(), rig.drive->Flash().end());
  rig.host.backupState = 1;
  rig.SelectNewerFile(6, "QDX70");
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_EQ(rig.ReadFile("CDRWFW00.KVF"), held);
}

TEST(Backup, FallingBackToTheAlternateReadMidwayKeepsTheBlocksInOrder) {
  Rig rig(4, "QDX50");
  sim::FaultRule refuse;
  refuse.opcode = 0xE3;
  refuse.occurrence = 6;  // the fifth backup block
  refuse.sense = {5, 0x20, 0x00};
  rig.machine->AddFault(refuse);
  rig.host.backupState = 1;
  rig.SelectNewerFile(4, "QDX50");
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_EQ(rig.proc->alternateReadForm, 1);
  EXPECT_EQ(rig.Count(0xA8), 60u);
  EXPECT_EQ(rig.ReadFile("CDRWFW00.BIN"), rig.installed);
}

// A backup that cannot be completed leaves no file of its own, touches no
// file of another, and keeps the drive from being rewritten.
struct FileFaultCase {
  const char* what;
  bool (*arrange)(Rig&);  // false: this system cannot make the fault (no links under Wine)
  std::vector<std::string> filesAfter;
};
void PrintTo(const FileFaultCase& c, std::ostream* os) { *os << c.what; }

std::string CaseName(const ::testing::TestParamInfo<FileFaultCase>& param) {
  std::string n = param.param.what;
  std::ranges::replace(n, ' ', '_');
  return n;
}

class BackupFileFaults : public ::testing::TestWithParam<FileFaultCase> {};

TEST_P(BackupFileFaults, EndInBackupFailedWithoutAnUpdate) {
  Rig rig(4, "QDX50");
  rig.host.backupState = 1;
  rig.SelectNewerFile(4, "QDX50");
  ASSERT_EQ(rig.proc->backupFileName, "CDRWFW00.BIN");
  if (!GetParam().arrange(rig)) GTEST_SKIP() << "this system cannot make that fault here";
  EXPECT_EQ(rig.Attempt(), BackupFailed);
  EXPECT_EQ(Backups(rig), GetParam().filesAfter);
  if (rig.Exists("CDRWFW00.BIN")) {
    EXPECT_EQ(rig.ReadFile("CDRWFW00.BIN"), kPrecious);
  }
  EXPECT_EQ(rig.Count(kChunk12), 0u);
  EXPECT_TRUE(rig.FlashIs(rig.installed));
  EXPECT_EQ(rig.host.started, 1);
  EXPECT_EQ(rig.host.closeAllowed, 1);
  EXPECT_FALSE(rig.proc->lastAttempt.backupWritten);
  EXPECT_FALSE(rig.proc->lastAttempt.detail.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BackupFileFaults,
    ::testing::Values(
        FileFaultCase{"disk full",
                      [](Rig& r) {
                        r.machine->FileFaultSettings().diskFullAfter = 65536;
                        return true;
                      },
                      {}},
        FileFaultCase{"flush fails",
                      [](Rig& r) {
                        r.machine->FileFaultSettings().syncFails = true;
                        return true;
                      },
                      {}},
        FileFaultCase{"appeared meanwhile",
                      [](Rig& r) {
                        r.WriteFile("CDRWFW00.BIN", kPrecious);
                        return true;
                      },
                      {"CDRWFW00.BIN"}},
        FileFaultCase{"symbolic link",
                      [](Rig& r) {
                        r.WriteFile("elsewhere", kPrecious);
                        std::error_code ec;
                        std::filesystem::create_symlink(r.dir / "elsewhere", r.dir / "CDRWFW00.BIN", ec);
                        return !ec && std::filesystem::is_symlink(r.dir / "CDRWFW00.BIN");
                      },
                      {"CDRWFW00.BIN"}}),
    CaseName);

}  // namespace
}  // namespace orvel::testing
