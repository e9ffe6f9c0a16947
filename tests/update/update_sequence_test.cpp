// Whole updates against the simulated drive: command sequence, pauses, pages,
// progress and the flash afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "firmware/codec.h"
#include "firmware/sample_firmware.h"
#include "tests/update/update_harness.h"

namespace orvel::testing {
namespace {

std::string Cdb(std::initializer_list<int> bytes) {
  std::vector<std::uint8_t> v;
  for (int b : bytes) v.push_back(static_cast<std::uint8_t>(b));
  return Hex(v);
}

std::string ReadAt(std::uint32_t a) {
  return Cdb({0xE3, 0, int(a >> 24), int(a >> 16 & 0xFF), int(a >> 8 & 0xFF), int(a & 0xFF), 0, 0x40, 0, 0, 0, 0});
}

std::vector<std::string> Repeat(std::vector<std::string> v, const std::string& s, int n) {
  v.insert(v.end(), static_cast<std::size_t>(n), s);
  return v;
}

TEST(UpdateSequence, PackedDriveWithBackupReceivesExactlyTheSequenceAndEndsWithTheImage) {
  Rig rig(6, "QDX70");
  const std::string file = rig.SelectNewerFile(6, "QDX70");
  EXPECT_EQ(rig.proc->sourceFamily, 6);
  rig.host.backupState = 1;
  rig.proc->ChooseBackupFileName();
  ASSERT_EQ(rig.proc->backupFileName, "CDRWFW00.KVF");

  EXPECT_EQ(rig.Attempt(), Completed);

  std::vector<std::string> expected(2, Cdb({0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0x40}));
  expected.push_back(Cdb({0x12, 0, 0, 0, 0x24, 0}));
  expected.push_back(ReadAt(0x8004));
  for (std::uint32_t b = 0; b < 64; ++b) expected.push_back(ReadAt(b * 0x4000));
  expected = Repeat(expected, Cdb({0xAA, 0, 0, 0, 0, 0, 0x0C, 0x00, 0, 0, 0, 0}), 341);
  expected.push_back(Cdb({0xAA, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0, 0, 0}));
  expected.push_back(Cdb({0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  expected.push_back(Cdb({0xE1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // The drive reports 13 phase polls, then ten 3A polls end the rewrite.
  for (int i = 0; i < 23; ++i) {
    expected.push_back(Cdb({0x03, 0, 0, 0, 0x0E, 0}));
    expected.push_back(Cdb({0x00, 0, 0, 0, 0, 0x80}));
  }
  EXPECT_EQ(rig.Cdbs(), expected);

  EXPECT_TRUE(rig.FlashIs(rig.newer));
  std::vector<std::uint8_t> backup = rig.ReadFile("CDRWFW00.KVF");
  EXPECT_EQ(backup, EncodeForFamily(6, rig.installed));
  EXPECT_TRUE(rig.proc->lastAttempt.backupWritten);

  EXPECT_EQ(rig.host.pages, (std::vector<int>{BackingUp, Transferring, CheckingSum, Erasing, Writing, CheckingSumAgain}));
  std::vector<std::string> sleeps;
  for (const auto& e : rig.host.log)
    if (e.starts_with("sleep")) sleeps.push_back(e);
  EXPECT_EQ(sleeps, Repeat(std::vector<std::string>(4, "sleep 200"), "sleep 580", 14));

  // Backup 0..64 by one, transfer 0 and +1 per chunk (the bar full from the 120th), rewrite by the phase table.
  const auto& p = rig.host.progress;
  ASSERT_EQ(p.size(), 65u + 342u + 15u);
  EXPECT_EQ(p[64], 64);
  EXPECT_EQ(p[65], 0);
  EXPECT_EQ(p[65 + 119], 119);
  EXPECT_EQ(p[65 + 120], 120);
  EXPECT_EQ(p[65 + 341], 120);
  EXPECT_EQ(std::vector<int>(p.end() - 15, p.end()),
            (std::vector<int>{0, 4, 5, 25, 26, 27, 40, 41, 42, 43, 44, 45, 90, 91, 120}));
  EXPECT_EQ(rig.proc->progressPos, 120);
  EXPECT_EQ(rig.host.started, 1);
  EXPECT_EQ(rig.host.closeAllowed, 1);
}

TEST(UpdateSequence, SmallFamilyUsesItsGeometryAndPhasePositions) {
  Rig rig(2, "QDX4");
  rig.SelectNewerFile(2, "QDX4");
  EXPECT_EQ(rig.Attempt(), Completed);
  const auto cdbs = rig.Cdbs();
  const std::string full = Cdb({0xAA, 0, 0, 0, 0, 0, 0x3C, 0x00, 0, 0, 0, 0});
  EXPECT_EQ(std::count(cdbs.begin(), cdbs.end(), full), 34);
  EXPECT_EQ(std::count(cdbs.begin(), cdbs.end(), Cdb({0xAA, 0, 0, 0, 0, 0, 0x08, 0x00, 0, 0, 0, 0})), 1);
  EXPECT_TRUE(rig.FlashIs(rig.newer));
  const auto& p = rig.host.progress;
  ASSERT_GE(p.size(), 35u + 15u);
  EXPECT_EQ(p[34], 68);  // 0, then +2 per full chunk
  EXPECT_EQ(std::vector<int>(p.end() - 15, p.end()),
            (std::vector<int>{0, 8, 10, 36, 38, 40, 52, 54, 56, 58, 60, 62, 108, 110, 120}));
}

// A hold (the GUI tests' picture of a running update) stops the rewrite in its
// phase with the virtual clock standing, until the release file appears; then
// the update ends as it would have. Without a waiter it passes at once.
TEST(UpdateSequence, HoldStopsTheRewriteInItsPhaseOnAStandingClockUntilReleased) {
  constexpr std::uint8_t kErasePhase = 0x01;
  constexpr int kWaitsBeforeRelease = 3;
  for (const bool withWaiter : {true, false}) {
    Rig rig(2, "QDX4");
    rig.SelectNewerFile(2, "QDX4");
    rig.machine->SetHold(kErasePhase);
    int waits = 0;
    std::vector<int> pagesSeen;
    std::vector<std::uint64_t> clockSeen;
    std::size_t commandsAtFirstWait = 0;
    if (withWaiter) {
      rig.machine->SetHoldWaiter([&] {
        if (waits == 0) commandsAtFirstWait = rig.machine->GetTrace().size();
        EXPECT_TRUE(rig.machine->Holding());
        pagesSeen.push_back(rig.host.pages.back());
        clockSeen.push_back(rig.machine->Clock().Now());
        if (++waits == kWaitsBeforeRelease) rig.WriteFile(sim::kHoldReleaseFile, {});
      });
    }
    EXPECT_EQ(rig.Attempt(), Completed) << "waiter " << withWaiter;
    EXPECT_TRUE(rig.FlashIs(rig.newer));
    EXPECT_FALSE(rig.machine->Holding());
    if (!withWaiter) continue;
    EXPECT_EQ(waits, kWaitsBeforeRelease);
    EXPECT_EQ(pagesSeen, std::vector<int>(kWaitsBeforeRelease, Erasing));
    EXPECT_EQ(clockSeen, std::vector<std::uint64_t>(kWaitsBeforeRelease, clockSeen.front()));
    EXPECT_LT(commandsAtFirstWait, rig.machine->GetTrace().size());  // the rewrite went on afterwards
  }
}

// Every family: the image lands byte for byte, and the backup has the family's
// size and file form.
struct FamilyCase {
  int family;
  const char* code;
  std::size_t backupLength;  // 0: packed, length by the encoder
  std::uint8_t loaderByte;
};
// "family 4 QDX51: backup of 1048576 bytes, loader byte 00" in test names.
void PrintTo(const FamilyCase& c, std::ostream* os) {
  *os << "family " << c.family << ' ' << c.code << ": backup ";
  if (c.backupLength == 0) {
    *os << "packed";
  } else {
    *os << "of " << c.backupLength << " bytes";
  }
  *os << ", loader byte " << Hex(std::span(&c.loaderByte, 1));
}

// On both routes: on ASPI every read first fills the buffer with a pattern,
// which must never change what a whole read brings.
class EveryFamily : public ::testing::TestWithParam<std::tuple<FamilyCase, bool>> {};

TEST_P(EveryFamily, UpdatesAndBacksUpInTheFamilysForm) {
  const auto& [c, aspi] = GetParam();
  Rig rig(c.family, c.code, {}, aspi ? kPlatformWindows : kPlatformNt);
  rig.SelectNewerFile(c.family, c.code);
  rig.host.backupState = 1;
  rig.proc->ChooseBackupFileName();
  const std::string backupName = rig.proc->backupFileName;
  EXPECT_EQ(backupName, std::string("CDRWFW00") + FileExtensionOfFamily(c.family));

  ASSERT_EQ(rig.Attempt(), Completed) << rig.proc->lastAttempt.detail;
  EXPECT_EQ(rig.proc->driveFamily, c.family);
  EXPECT_TRUE(rig.FlashIs(rig.newer));
  EXPECT_EQ(rig.drive->LastRewriteLoaderByte(), c.loaderByte);
  const auto backup = rig.ReadFile(backupName);
  EXPECT_EQ(backup, EncodeForFamily(c.family, rig.installed));
  if (c.backupLength != 0) {
    EXPECT_EQ(backup.size(), c.backupLength);
  }
}

INSTANTIATE_TEST_SUITE_P(Families, EveryFamily,
                         ::testing::Combine(::testing::Values(FamilyCase{0, "QDX", 0x80000, 0},
                                                              FamilyCase{0, "Uv-", 0x80000, 0},
                                                              FamilyCase{1, "QDX", 0x80000, 0},
                                                              FamilyCase{2, "QDX4", 0x80000, 0},
                                                              FamilyCase{3, "ZEB", 0x80000, 0},
                                                              FamilyCase{4, "QDX51", 0x100000, 0},
                                                              FamilyCase{5, "QDX57", 0x100000, 0x40},
                                                              FamilyCase{6, "QDX74", 0, 0}, FamilyCase{7, "QDX62", 0, 0},
                                                              FamilyCase{8, "KZTR3", 0, 0}),
                                            ::testing::Bool()));

// The procedure, not the drive command, reads the "Update Loader" box: once,
// after the transfer has ended and before StartRewrite goes out.
TEST(UpdateSequence, UpdateLoaderBoxIsReadOnceJustBeforeTheRewriteStarts) {
  Rig rig(6, "QDX74");
  const std::string name = rig.SelectNewerFile(6, "QDX74");
  struct LoaderWatch : RecordingHost {
    const Rig* rig = nullptr;
    std::vector<std::pair<std::size_t, std::size_t>> sentWhenRead;  // FinishTransfer, StartRewrite
    int UpdateLoaderState() override {
      sentWhenRead.emplace_back(rig->Count(0xE0), rig->Count(0xE1));
      return 1;
    }
  } watch;
  watch.rig = &rig;
  watch.source = name;
  UpdateProcedure proc(*rig.transport, watch);
  proc.IdentifySourceFile();
  rig.machine->GetTrace().Clear();
  const DriveAddress listed{};
  ASSERT_EQ(proc.RunUpdateAttempt(&listed), Completed) << proc.lastAttempt.detail;
  ASSERT_EQ(watch.sentWhenRead.size(), 1u);
  EXPECT_EQ(watch.sentWhenRead[0].first, 1u);
  EXPECT_EQ(watch.sentWhenRead[0].second, 0u);
  EXPECT_EQ(rig.drive->LastRewriteLoaderByte(), 0x40);
}

TEST(UpdateSequence, AspiRouteSendsNoRequestSenseBeforePolls) {
  Rig rig(4, "QDX50", {}, kPlatformWindows);
  rig.SelectNewerFile(4, "QDX50");
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_EQ(rig.Count(0x03), 0u);
  EXPECT_EQ(rig.Count(0x00), 23u);
  EXPECT_TRUE(rig.FlashIs(rig.newer));
}

}  // namespace
}  // namespace orvel::testing
