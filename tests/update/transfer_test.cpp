// Chunk forms, resends, the end of the transfer and the rewrite polling, and
// the source image checks made before the first chunk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "firmware/sample_firmware.h"
#include "tests/update/update_harness.h"

namespace orvel::testing {
namespace {

constexpr std::uint8_t kChunk12 = 0xAA;
constexpr std::uint8_t kChunk10 = 0xE2;
constexpr std::uint8_t kFinish = 0xE0;
constexpr std::uint8_t kRewrite = 0xE1;
constexpr std::uint8_t kPoll = 0x00;
constexpr std::size_t kFullChunks = 341;

sim::FaultRule CheckAt(int opcode, std::uint32_t occurrence, std::uint8_t key, std::uint8_t asc) {
  sim::FaultRule r;
  r.opcode = opcode;
  r.occurrence = occurrence;
  r.kind = sim::FaultKind::Check;
  r.sense = {key, asc, 0};
  return r;
}

std::size_t CountOf(const std::vector<std::string>& log, const std::string& what) {
  return static_cast<std::size_t>(std::ranges::count(log, what));
}

// Runs one update of a family-4 drive; returns the page.
int UpdateFamily4(Rig& rig) {
  rig.SelectNewerFile(4, "QDX50");
  return rig.Attempt();
}

TEST(ChunkForms, TwelveByteRefusalMovesEveryChunkToTheTenByteForm) {
  sim::DriveBehaviour b;
  b.refuseTwelveByteChunks = true;
  b.twelveByteRefusal = {5, 0x24, 0};
  Rig rig(4, "QDX50", b);
  EXPECT_EQ(UpdateFamily4(rig), Completed);
  EXPECT_EQ(rig.Count(kChunk12), 1u);
  EXPECT_EQ(rig.Count(kChunk10), kFullChunks + 1);
  EXPECT_TRUE(rig.FlashIs(rig.newer));
}

TEST(ChunkForms, ChunkAnsweredThreeAIsSentAgainInTheSameForm) {
  for (const bool tenByte : {false, true}) {
    sim::DriveBehaviour b;
    b.refuseTwelveByteChunks = tenByte;
    b.resendChunkIndex = 2;
    b.resendTimes = 2;
    Rig rig(4, "QDX50", b);
    EXPECT_EQ(UpdateFamily4(rig), Completed);
    EXPECT_EQ(rig.Count(tenByte ? kChunk10 : kChunk12), kFullChunks + 1 + 2);
    EXPECT_TRUE(rig.FlashIs(rig.newer));
  }
}

TEST(ChunkForms, ResendsAreBounded) {
  sim::DriveBehaviour b;
  b.resendChunkIndex = 2;
  b.resendTimes = kMaxChunkResends;
  Rig atLimit(4, "QDX50", b);
  EXPECT_EQ(UpdateFamily4(atLimit), Completed);

  b.resendTimes = kMaxChunkResends + 1;
  Rig beyond(4, "QDX50", b);
  EXPECT_EQ(UpdateFamily4(beyond), Failed);
  EXPECT_EQ(beyond.Count(kChunk12), 2u + 1u + kMaxChunkResends);
  EXPECT_EQ(beyond.Count(kFinish), 0u);
  EXPECT_TRUE(beyond.FlashIs(beyond.installed));
  EXPECT_NE(beyond.proc->lastAttempt.detail.find("chunk 2"), std::string::npos);
}

TEST(ChunkForms, LastChunkIsNeverSentAgain) {
  Rig rig(4, "QDX50");
  rig.machine->AddFault(CheckAt(kChunk12, kFullChunks + 1, 2, 0x3A));
  EXPECT_EQ(UpdateFamily4(rig), Failed);
  EXPECT_EQ(rig.Count(kChunk12), kFullChunks + 1);
  EXPECT_EQ(rig.Count(kFinish), 0u);
}

TEST(ChunkForms, TenByteFailureNamesTheChunkAndSense) {
  sim::DriveBehaviour b;
  b.refuseTwelveByteChunks = true;
  Rig rig(4, "QDX50", b);
  rig.machine->AddFault(CheckAt(kChunk10, 13, 2, 0x04));
  EXPECT_EQ(UpdateFamily4(rig), Failed);
  EXPECT_EQ(rig.proc->lastAttempt.detail, "chunk 12 failed in the 10-byte form: sense 04/00");
  EXPECT_EQ(rig.host.progress.back(), 12);  // left where it stood
}

TEST(FinishTransfer, VariantsAreTriedInOrderUntilOneIsTaken) {
  struct Case {
    std::uint8_t accepted;
    std::size_t sent;
    int page;
  };
  for (const Case c : {Case{0x01, 1, Completed}, Case{0x02, 2, Completed}, Case{0x04, 3, Completed},
                       Case{0x00, 3, Failed}}) {
    sim::DriveBehaviour b;
    b.acceptedFinishVariants = c.accepted;
    Rig rig(4, "QDX50", b);
    EXPECT_EQ(UpdateFamily4(rig), c.page);
    EXPECT_EQ(rig.Count(kFinish), c.sent);
    EXPECT_EQ(rig.Count(kRewrite), c.page == Completed ? 1u : 0u);
  }
}

TEST(RewritePolling, NineEndAnswersAndABusyOneDoNotEndTheRewrite) {
  sim::DriveBehaviour b;
  b.busyPollsBefore = 1;
  Rig rig(4, "QDX50", b);
  for (std::uint32_t n = 1; n <= 9; ++n) rig.machine->AddFault(CheckAt(kPoll, n, 2, 0x3A));
  EXPECT_EQ(UpdateFamily4(rig), Completed);
  EXPECT_EQ(rig.Count(kPoll), 10u + 23u);
  EXPECT_EQ(CountOf(rig.host.log, "sleep 580"), 15u);
  EXPECT_TRUE(rig.FlashIs(rig.newer));
}

TEST(RewritePolling, PhasesThatAreSkippedOrUnknown) {
  sim::DriveBehaviour b;
  b.phaseScript = {{0x05, 1}, {0x01, 1}, {0x02, 1}, {0x00, 1}};
  Rig rig(4, "QDX50", b);
  EXPECT_EQ(UpdateFamily4(rig), Completed);
  // An unknown phase refreshes the page it is on; a phase reported again after another marks its step again.
  EXPECT_EQ(rig.host.pages, (std::vector<int>{Transferring, Transferring, Erasing, Writing, CheckingSum}));
  const auto& p = rig.host.progress;
  EXPECT_EQ(std::vector<int>(p.end() - 6, p.end()), (std::vector<int>{0, 1, 25, 40, 4, 120}));
}

TEST(RewritePolling, AnyOtherSenseFailsTheUpdate) {
  Rig rig(4, "QDX50");
  rig.machine->AddFault(CheckAt(kPoll, 3, 2, 0x04));
  EXPECT_EQ(UpdateFamily4(rig), Failed);
  EXPECT_EQ(rig.Count(kPoll), 3u);

  sim::DriveBehaviour b;
  b.rewriteFails = true;
  Rig failing(4, "QDX50", b);
  EXPECT_EQ(UpdateFamily4(failing), Failed);
  EXPECT_FALSE(failing.FlashIs(failing.newer));
}

sim::FaultRule TimeoutsFrom(int opcode, std::uint32_t occurrence) {
  sim::FaultRule r;
  r.opcode = opcode;
  r.occurrence = occurrence;
  r.onward = true;
  r.kind = sim::FaultKind::Timeout;
  return r;
}

// Virtual milliseconds from StartRewrite to the end of the attempt.
std::uint64_t FollowedFor(const Rig& rig) {
  for (const sim::TraceEntry& e : rig.machine->GetTrace().Entries()) {
    if (e.opcode() == kRewrite) return rig.machine->Clock().Now() - e.time;
  }
  return 0;
}

// The rewrite is followed for kRewriteFollowMs of the platform's clock, time-outs
// included, and no longer than one more poll cycle; the detail tells a drive that
// kept answering busy from one that stopped answering.
TEST(RewritePolling, GivesUpAfterThirtyMinutesSayingWhetherTheDriveAnswered) {
  constexpr std::uint64_t kLongestCycleMs = 15000;  // a pause and an ASPI poll that timed out twice over
  const std::string limit = "the rewrite did not end within 30 minutes: ";
  struct Case {
    const char* what;
    std::uint32_t platformId;
    std::function<void(Rig&)> arrange;
    std::string detail;  // when it ends in "last ", seconds follow
  };
  const std::vector<Case> cases{
      {"phase reported again and again", kPlatformNt,
       [](Rig& rig) { rig.drive->Behaviour().phaseScript = {{0x02, 1000000}}; },
       limit + "the drive kept reporting busy (last sense F7/02)"},
      {"busy without a phase", kPlatformNt,
       [](Rig& rig) { rig.drive->Behaviour().busyPollsBefore = 1000000; },
       limit + "the drive kept reporting busy (last sense 00/00)"},
      {"no poll answered", kPlatformNt, [](Rig& rig) { rig.machine->AddFault(TimeoutsFrom(kPoll, 1)); },
       limit + "the drive answered no poll after the rewrite started"},
      {"polls time out after five answers", kPlatformNt,
       [](Rig& rig) { rig.machine->AddFault(TimeoutsFrom(kPoll, 6)); },
       limit + "the drive stopped answering (no answer for the last "},
      // One end answer, then only time-outs: the stale 3A an unanswered ASPI
      // poll leaves behind never counts toward the end.
      {"ASPI: one end answer, then time-outs", kPlatformWindows,
       [](Rig& rig) {
         rig.machine->AddFault(CheckAt(kPoll, 1, 2, 0x3A));
         rig.machine->AddFault(TimeoutsFrom(kPoll, 2));
       },
       limit + "the drive stopped answering (no answer for the last "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig(4, "QDX50", {}, c.platformId);
    c.arrange(rig);
    EXPECT_EQ(UpdateFamily4(rig), Failed);
    EXPECT_EQ(rig.proc->lastAttempt.stop, AttemptStop::RewriteTimedOut);
    // The follow's counter runs a step ahead of the bar; the report tells the bar.
    EXPECT_EQ(rig.proc->lastAttempt.finalProgress, rig.host.progress.back());
    EXPECT_EQ(rig.proc->ShownProgress(), rig.host.progress.back());
    const std::string& detail = rig.proc->lastAttempt.detail;
    EXPECT_EQ(detail.substr(0, c.detail.size()), c.detail);
    if (c.detail.ends_with("last ") && detail.size() > c.detail.size()) {
      // Silent since the first few polls, so for about the whole follow.
      const int seconds = std::atoi(detail.c_str() + c.detail.size());
      EXPECT_GE(seconds, static_cast<int>(kRewriteFollowMinutes) * 60 - 20);
      EXPECT_LE(seconds, static_cast<int>(kRewriteFollowMinutes) * 60 + 15);
      EXPECT_TRUE(detail.ends_with(" seconds)")) << detail;
    }
    const std::uint64_t followed = FollowedFor(rig);
    EXPECT_GE(followed, kRewriteFollowMs);
    EXPECT_LT(followed, kRewriteFollowMs + kLongestCycleMs);
  }
}

TEST(RewritePolling, AClockThatStandsStillStillEndsTheFollow) {
  sim::DriveBehaviour b;
  b.phaseScript = {{0x02, 1000000}};
  Rig rig(4, "QDX50", b);
  rig.platform->clockStandsStill = true;
  EXPECT_EQ(UpdateFamily4(rig), Failed);
  EXPECT_EQ(CountOf(rig.host.log, "sleep 580"), static_cast<std::size_t>(kMaxPollCycles));
  EXPECT_EQ(rig.proc->lastAttempt.detail, "the rewrite did not end within " + std::to_string(kMaxPollCycles) +
                                              " poll cycles: the drive kept reporting busy (last sense F7/02)");
}

// A file that fits its own row but not the drive (a blank drive takes any
// identified file) is found out only after the switch, and not sent.
TEST(SourceImage, ImageOfAnotherSizeThanTheDrivesIsNotSent) {
  Rig rig(4, "QDX50");
  std::ranges::fill(rig.drive->MutableFlash(), std::uint8_t{0xFF});
  rig.SelectNewerFile(2, "QDX4");
  EXPECT_EQ(rig.Attempt(), Failed);
  EXPECT_TRUE(rig.proc->lastAttempt.switchRan);
  EXPECT_EQ(rig.Count(kChunk12), 0u);
  EXPECT_NE(rig.proc->lastAttempt.detail.find("524288"), std::string::npos);
}

TEST(SourceImage, FileChangedOrRemovedSinceIdentificationIsNotSent) {
  Rig rig(4, "QDX50");
  const std::string name = rig.SelectNewerFile(4, "QDX50");
  // Same size, another type code: only the load after the switch can tell.
  rig.WriteFile(name, MakePlainImage(4, "QDX51", "Other firmware", 7));
  EXPECT_EQ(rig.Attempt(), Failed);
  EXPECT_EQ(rig.Count(kChunk12), 0u);
  EXPECT_TRUE(rig.host.fileErrors.empty());

  // Gone: known before the drive hears anything.
  std::filesystem::remove(rig.dir / name);
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  EXPECT_EQ(rig.host.fileErrors, std::vector<std::string>{name});
  EXPECT_EQ(rig.proc->lastAttempt.fileError, FileError::NotFound);
  EXPECT_EQ(rig.machine->GetTrace().size(), 0u);
  EXPECT_TRUE(rig.FlashIs(rig.installed));
}

}  // namespace
}  // namespace orvel::testing
