// Backup file names, backup content and what a failing backup leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#ifdef __linux__
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

TEST(BackupName, FirstNameWithoutAnEntryWithTheSourceRowsExtension) {
  Rig rig(2, "QDX4");
  rig.WriteFile("CDRWFW00.BIN", kPrecious);
  rig.WriteFile("CDRWFW02.BIN", kPrecious);
  rig.SelectNewerFile(2, "QDX4");
  EXPECT_EQ(rig.proc->backupFileName, "");
  rig.host.backupState = 1;
  rig.proc->ChooseBackupFileName();
  EXPECT_EQ(rig.proc->backupFileName, "CDRWFW01.BIN");

#ifdef __linux__
  // Any entry counts, whatever it is, and none is opened to find out: a FIFO
  // (or a link to one) would release a writer waiting on it.
  ASSERT_EQ(::mkfifo((rig.dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(rig.dir / "fifo", rig.dir / "CDRWFW01.BIN");
  std::filesystem::create_symlink(rig.dir / "nowhere", rig.dir / "CDRWFW03.BIN");
  std::filesystem::create_directory(rig.dir / "CDRWFW04.BIN");
  ASSERT_EQ(::mkfifo((rig.dir / "CDRWFW05.BIN").c_str(), 0600), 0);
  // inotify sees every open, a FIFO's included.
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, (rig.dir / "fifo").c_str(), IN_OPEN), 0);
  ASSERT_GE(::inotify_add_watch(watch, (rig.dir / "CDRWFW05.BIN").c_str(), IN_OPEN), 0);
  rig.proc->ChooseBackupFileName();
  EXPECT_EQ(rig.proc->backupFileName, "CDRWFW06.BIN");
  alignas(inotify_event) std::array<char, 4096> events{};
  EXPECT_LT(::read(watch, events.data(), events.size()), 0) << "a FIFO was opened to learn whether a name is taken";
  ::close(watch);
#endif

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

// What a backup that meets a file problem comes to. A problem the working
// directory shows before Start (no room, no write permission, a read-only file
// system) ends the attempt before any drive command, with the file-error box;
// an entry under the chosen name (of any kind) sends the backup to the next
// free name, never through or over it; a problem after the firmware is read
// keeps the drive from being rewritten. No temporary file is ever left behind.
struct FileFaultCase {
  const char* what;
  bool (*arrange)(Rig&);  // false: this system cannot make the fault (no links under Wine)
  int page;
  FileError shown;                      // the file error the host was shown (None: none)
  std::vector<std::string> filesAfter;  // the CDRWFW entries afterwards, temporary files included
  const char* backupIn;                 // the file holding the drive's firmware afterwards, or nullptr
  std::vector<std::string> precious;    // files that must still hold what they held
};
void PrintTo(const FileFaultCase& c, std::ostream* os) { *os << c.what; }

std::string CaseName(const ::testing::TestParamInfo<FileFaultCase>& param) {
  std::string n = param.param.what;
  std::ranges::replace(n, ' ', '_');
  std::ranges::replace(n, '-', '_');
  return n;
}

class BackupFileFaults : public ::testing::TestWithParam<FileFaultCase> {};

TEST_P(BackupFileFaults, EndOnTheirPageAndLeaveOnlyWholeBackups) {
  const FileFaultCase& c = GetParam();
  Rig rig(4, "QDX50");
  rig.host.backupState = 1;
  rig.SelectNewerFile(4, "QDX50");
  ASSERT_EQ(rig.proc->backupFileName, "CDRWFW00.BIN");
  if (!c.arrange(rig)) GTEST_SKIP() << "this system cannot make that fault here";
  const int page = rig.Attempt();
  const AttemptReport& report = rig.proc->lastAttempt;
  EXPECT_EQ(page, c.page) << report.detail;
  EXPECT_EQ(Backups(rig), c.filesAfter);
  for (const std::string& name : c.precious) EXPECT_EQ(rig.ReadFile(name), kPrecious) << name;
  if (c.backupIn != nullptr) {
    EXPECT_EQ(rig.ReadFile(c.backupIn), rig.installed);
    EXPECT_EQ(rig.proc->backupFileName, c.backupIn) << "the name shown is the name used";
    EXPECT_EQ(report.backupFile, c.backupIn);
  }
  EXPECT_EQ(report.backupWritten, page == Completed);
  EXPECT_EQ(rig.host.fileErrors.size(), c.shown == FileError::None ? 0u : 1u);
  if (c.shown != FileError::None) {
    EXPECT_EQ(report.fileError, c.shown);
  }
  if (page == NoBackupFileName) {
    // Known before the drive heard anything: it stays in normal operation.
    EXPECT_EQ(rig.machine->GetTrace().size(), 0u);
    EXPECT_FALSE(rig.drive->InUpdateMode());
    EXPECT_EQ(rig.host.started, 0);
    EXPECT_EQ(rig.host.backupState, 1) << "the box stays ticked for another try";
  } else {
    EXPECT_GT(rig.Count(0xE3), 1u);
  }
  if (page == Completed) {
    EXPECT_TRUE(rig.FlashIs(rig.newer));
  } else {
    EXPECT_EQ(rig.Count(kChunk12), 0u);
    EXPECT_TRUE(rig.FlashIs(rig.installed));
    EXPECT_FALSE(report.detail.empty());
  }
}

bool PlantPrecious(Rig& r) {
  r.WriteFile("CDRWFW00.BIN", kPrecious);
  return true;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BackupFileFaults,
    ::testing::Values(
        FileFaultCase{"disk full",
                      [](Rig& r) {
                        r.machine->FileFaultSettings().diskFullAfter = 65536;
                        return true;
                      },
                      NoBackupFileName, FileError::NoSpace, {}, nullptr, {}},
        FileFaultCase{"flush fails",
                      [](Rig& r) {
                        r.machine->FileFaultSettings().syncFails = true;
                        return true;
                      },
                      BackupFailed, FileError::None, {}, nullptr, {}},
        FileFaultCase{"directory flush fails",
                      [](Rig& r) {
                        r.machine->FileFaultSettings().directorySyncFails = true;
                        return true;
                      },
                      BackupFailed, FileError::None, {"CDRWFW00.BIN"}, "CDRWFW00.BIN", {}},
        FileFaultCase{"file appeared before Start", PlantPrecious, Completed, FileError::None,
                      {"CDRWFW00.BIN", "CDRWFW01.BIN"}, "CDRWFW01.BIN", {"CDRWFW00.BIN"}},
        FileFaultCase{"directory under the name",
                      [](Rig& r) { return std::filesystem::create_directory(r.dir / "CDRWFW00.BIN"); }, Completed,
                      FileError::None, {"CDRWFW00.BIN", "CDRWFW01.BIN"}, "CDRWFW01.BIN", {}},
        FileFaultCase{"dangling link",
                      [](Rig& r) {
                        std::error_code ec;
                        std::filesystem::create_symlink(r.dir / "nowhere", r.dir / "CDRWFW00.BIN", ec);
                        return !ec && std::filesystem::is_symlink(r.dir / "CDRWFW00.BIN");
                      },
                      Completed, FileError::None, {"CDRWFW00.BIN", "CDRWFW01.BIN"}, "CDRWFW01.BIN", {}},
        FileFaultCase{"link to a file",
                      [](Rig& r) {
                        r.WriteFile("elsewhere", kPrecious);
                        std::error_code ec;
                        std::filesystem::create_symlink(r.dir / "elsewhere", r.dir / "CDRWFW00.BIN", ec);
                        return !ec && std::filesystem::is_symlink(r.dir / "CDRWFW00.BIN");
                      },
                      Completed, FileError::None, {"CDRWFW00.BIN", "CDRWFW01.BIN"}, "CDRWFW01.BIN", {"elsewhere"}},
        FileFaultCase{"name taken during the backup",
                      [](Rig& r) {
                        r.machine->FileFaultSettings().renameTargetsTaken = 1;
                        return true;
                      },
                      Completed, FileError::None, {"CDRWFW00.BIN", "CDRWFW01.BIN"}, "CDRWFW01.BIN", {}},
        FileFaultCase{"every name taken during the backup",
                      [](Rig& r) {
                        r.machine->FileFaultSettings().renameTargetsTaken = 10;
                        return true;
                      },
                      BackupFailed, FileError::None,
                      {"CDRWFW00.BIN", "CDRWFW01.BIN", "CDRWFW02.BIN", "CDRWFW03.BIN", "CDRWFW04.BIN",
                       "CDRWFW05.BIN", "CDRWFW06.BIN", "CDRWFW07.BIN", "CDRWFW08.BIN", "CDRWFW09.BIN"},
                      nullptr, {}}),
    CaseName);

// A crash leaves at most the temporary file: its name is passed over, never
// opened or reused, and the name told to the operator is the one used.
TEST(Backup, LeftoverTemporaryFileIsPassedOverAndTheTakenNameIsTold) {
  Rig rig(4, "QDX50");
  rig.host.backupState = 1;
  rig.SelectNewerFile(4, "QDX50");
  rig.WriteFile("CDRWFW00.TMP", kPrecious);
  rig.machine->FileFaultSettings().renameTargetsTaken = 1;
  const int pushes = rig.host.pushes;
  ASSERT_EQ(rig.Attempt(), Completed) << rig.proc->lastAttempt.detail;
  EXPECT_EQ(rig.ReadFile("CDRWFW00.TMP"), kPrecious);
  EXPECT_EQ(Backups(rig), (std::vector<std::string>{"CDRWFW00.BIN", "CDRWFW00.TMP", "CDRWFW01.BIN"}));
  EXPECT_EQ(rig.proc->lastAttempt.backupNameTaken, "CDRWFW00.BIN");
  EXPECT_EQ(rig.proc->backupFileName, "CDRWFW01.BIN");
  EXPECT_GT(rig.host.pushes, pushes) << "the dialog's backup name is brought up to date";
  EXPECT_EQ(rig.ReadFile("CDRWFW01.BIN"), rig.installed);
}

// Every way an attempt ends without using the prepared file removes it.
TEST(Backup, PreparedFileIsRemovedOnEveryOtherWayOut) {
  struct Case {
    const char* what;
    void (*arrange)(Rig&);
    int page;
  };
  for (const Case& c : {Case{"update mode refused",
                             [](Rig& r) { r.machine->AddFault(sim::FaultRule{0x12, sim::kAnyDrive, 1}); },
                             UpdateModeFailed},
                        Case{"type code refused", [](Rig& r) { r.SelectNewerFile(4, "QDX51"); }, TypeCodeMismatch},
                        Case{"block read fails",
                             [](Rig& r) {
                               sim::FaultRule rule{0xE3, sim::kAnyDrive, 5};
                               rule.sense = {sim::kKeyMediumError, 0x11, 0x00};
                               r.machine->AddFault(rule);
                             },
                             BackupFailed}}) {
    Rig rig(4, "QDX50");
    rig.host.backupState = 1;
    rig.SelectNewerFile(4, "QDX50");
    c.arrange(rig);
    EXPECT_EQ(rig.Attempt(), c.page) << c.what;
    EXPECT_TRUE(Backups(rig).empty()) << c.what << ": " << Backups(rig).front();
    EXPECT_FALSE(rig.proc->HoldsBackupFile()) << c.what;
  }
}

TEST(CompareImages, RangesHoldEveryDifferenceAndJoinAcrossShortEqualRuns) {
  struct Case {
    const char* what;
    std::vector<std::size_t> differing;  // offsets changed in the second image
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
  };
  constexpr std::size_t kGap = kRangeJoinGap;
  const Case cases[] = {
      {"equal", {}, {}},
      {"first and last byte", {0, 255}, {{0, 1}, {255, 1}}},
      {"a run", {10, 11, 12}, {{10, 3}}},
      {"fewer equal bytes than the gap join", {10, 10 + kGap}, {{10, kGap + 1}}},
      {"the gap's worth of equal bytes splits", {10, 11 + kGap}, {{10, 1}, {11 + kGap, 1}}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> drive(256, 0x5A);
    std::vector<std::uint8_t> file = drive;
    for (std::size_t at : c.differing) file[at] ^= 0xFF;
    const FirmwareComparison result = CompareImages(drive, file);
    EXPECT_EQ(result.bytesCompared, drive.size()) << c.what;
    EXPECT_EQ(result.bytesDiffering, c.differing.size()) << c.what;
    EXPECT_EQ(result.Equal(), c.differing.empty()) << c.what;
    std::vector<std::pair<std::size_t, std::size_t>> got;
    for (const ByteRange& r : result.ranges) got.emplace_back(r.offset, r.length);
    EXPECT_EQ(got, c.ranges) << c.what;
  }
}

// Read back after an update (and the power cycle it asks for), the drive
// holds the file's image as the update loaded it, in every file form.
TEST(ReadBack, AfterAnUpdateTheDriveHoldsTheFilesImage) {
  struct Case {
    int family;
    const char* code;
  };
  for (const Case& c : {Case{2, "QDX4"}, Case{5, "QDX55"}, Case{6, "QDX72"}}) {
    Rig rig(c.family, c.code);
    rig.SelectNewerFile(c.family, c.code);
    const std::size_t size = rig.installed.size();
    ASSERT_EQ(rig.proc->SwitchDriveToUpdateMode(), 1);
    FirmwareComparison before;
    ASSERT_EQ(rig.proc->CompareDriveFirmware(&before), 1) << rig.proc->lastAttempt.detail;
    EXPECT_FALSE(before.Equal()) << c.family;
    EXPECT_EQ(before.bytesCompared, size);
    EXPECT_EQ(rig.Count(0xE3), 1 + size / kFirmwareBlockSize) << "the identification block and every block";

    rig.drive->PowerCycle();
    ASSERT_EQ(rig.Attempt(), Completed) << c.family;
    rig.drive->PowerCycle();
    ASSERT_EQ(rig.proc->SwitchDriveToUpdateMode(), 1);
    FirmwareComparison after;
    ASSERT_EQ(rig.proc->CompareDriveFirmware(&after), 1) << rig.proc->lastAttempt.detail;
    EXPECT_TRUE(after.Equal()) << c.family << ": " << after.bytesDiffering;
    EXPECT_EQ(after.bytesCompared, size);

    // A drive that kept part of its old memory (its loader area, say) shows it as one range.
    rig.drive->PowerCycle();
    for (std::size_t i = 0x100; i < 0x200; ++i) rig.drive->MutableFlash()[i] ^= 0xFF;
    ASSERT_EQ(rig.proc->SwitchDriveToUpdateMode(), 1);
    FirmwareComparison kept;
    ASSERT_EQ(rig.proc->CompareDriveFirmware(&kept), 1);
    ASSERT_EQ(kept.ranges.size(), 1u);
    EXPECT_EQ(kept.ranges[0].offset, 0x100u);
    EXPECT_EQ(kept.ranges[0].length, 0x100u);
  }
}

}  // namespace
}  // namespace orvel::testing
