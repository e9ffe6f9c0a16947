// Every command of a whole update with backup, in turn, failing in each way
// the simulator offers, on both routes: the page the attempt ends on, the
// files left in the working directory and the drive's flash. ASPI reports no
// residual count, so there a short answer is caught by what it left unwritten.
#include <gtest/gtest.h>

#include "tests/update/update_harness.h"
#include "update/page_texts.h"

namespace orvel::testing {
namespace {

enum class Role { EnterMode, Inquiry, IdRead, BackupRead, FullChunk, LastChunk, Finish, Rewrite, Sense, Poll };

struct Step {
  Role role;
  std::uint8_t opcode;
  bool dataIn;
};

// The commands a family-2 drive receives over an update with backup: its
// geometry is 34 + 1 chunks and 32 backup blocks, and the drive's rewrite
// takes 13 phase polls and ten 3A polls (on pass-through, each after a REQUEST SENSE).
std::vector<Step> WholeUpdate(bool aspi) {
  std::vector<Step> s{{Role::EnterMode, 0xE4, false}, {Role::EnterMode, 0xE4, false},
                      {Role::Inquiry, 0x12, true}, {Role::IdRead, 0xE3, true}};
  s.insert(s.end(), 32, Step{Role::BackupRead, 0xE3, true});
  s.insert(s.end(), 34, Step{Role::FullChunk, 0xAA, false});
  s.push_back({Role::LastChunk, 0xAA, false});
  s.push_back({Role::Finish, 0xE0, false});
  s.push_back({Role::Rewrite, 0xE1, false});
  for (int i = 0; i < 23; ++i) {
    if (!aspi) s.push_back({Role::Sense, 0x03, true});
    s.push_back({Role::Poll, 0x00, false});
  }
  return s;
}

struct Case {
  bool aspi;
  std::size_t index;
  Step step;
  std::uint32_t occurrence;
  sim::FaultKind kind;
  int page;
};

int ExpectedPage(Role role, sim::FaultKind kind) {
  const bool timeout = kind == sim::FaultKind::Timeout;
  switch (role) {
    case Role::EnterMode:
    case Role::Finish:  // the next variant is taken
    case Role::Sense:
      return Completed;
    case Role::Inquiry:
    case Role::IdRead:
      return UpdateModeFailed;
    case Role::BackupRead:
      return BackupFailed;
    case Role::FullChunk:
      // A refused chunk moves to the 10-byte form; a timed-out one reached the
      // drive as well, which then holds one chunk too many and refuses the rewrite.
      return timeout ? Failed : Completed;
    case Role::LastChunk:
    case Role::Rewrite:
      return Failed;
    case Role::Poll:
      return timeout ? Completed : Failed;  // a poll without sense reads as busy
  }
  return NoPage;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const bool aspi : {false, true}) {
    const std::vector<Step> steps = WholeUpdate(aspi);
    std::array<std::uint32_t, 256> seen{};
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& st = steps[i];
      const std::uint32_t occurrence = ++seen[st.opcode];
      std::vector<sim::FaultKind> kinds{sim::FaultKind::Check, sim::FaultKind::Timeout};
      if (st.dataIn) kinds.push_back(sim::FaultKind::ShortData);
      for (const sim::FaultKind k : kinds) {
        const int page = k == sim::FaultKind::ShortData && st.role == Role::Sense ? Completed : ExpectedPage(st.role, k);
        cases.push_back({aspi, i, st, occurrence, k, page});
      }
    }
  }
  return cases;
}

const char* KindName(sim::FaultKind kind) {
  return kind == sim::FaultKind::Check ? "sense" : kind == sim::FaultKind::Timeout ? "timeout" : "short";
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.aspi ? "aspi_" : "") + "command" + std::to_string(info.param.index) + "_" +
         KindName(info.param.kind);
}

// "E3 #5 short: BackupFailed": the command, its occurrence, the fault and the page it ends on.
void PrintTo(const Case& c, std::ostream* os) {
  *os << (c.aspi ? "ASPI " : "") << Hex(std::span(&c.step.opcode, 1)) << " #" << c.occurrence << ' ' << KindName(c.kind) << ": "
      << PageName(c.page);
}

class FaultMatrix : public ::testing::TestWithParam<Case> {};

TEST(FaultMatrixReference, CleanRunMatchesTheListedCommands) {
  for (const bool aspi : {false, true}) {
    Rig rig(2, "QDX4", {}, aspi ? kPlatformWindows : kPlatformNt);
    rig.host.backupState = 1;
    rig.SelectNewerFile(2, "QDX4");
    ASSERT_EQ(rig.Attempt(), Completed);
    std::vector<std::uint8_t> listed;
    for (const Step& s : WholeUpdate(aspi)) listed.push_back(s.opcode);
    EXPECT_EQ(rig.machine->GetTrace().Opcodes(), listed);
    EXPECT_EQ(rig.ReadFile("CDRWFW00.BIN"), rig.installed);
  }
}

TEST_P(FaultMatrix, EndsOnThePageOfItsFailureRow) {
  const Case& c = GetParam();
  Rig rig(2, "QDX4", {}, c.aspi ? kPlatformWindows : kPlatformNt);
  rig.host.backupState = 1;
  rig.SelectNewerFile(2, "QDX4");
  sim::FaultRule rule;
  rule.opcode = c.step.opcode;
  rule.occurrence = c.occurrence;
  rule.kind = c.kind;
  rule.sense = {sim::kKeyMediumError, 0x11, 0x00};
  rule.shortBytes = 8;  // shorter than every DataIn answer
  rig.machine->AddFault(rule);

  const int page = rig.Attempt();
  EXPECT_EQ(page, c.page) << rig.proc->lastAttempt.detail;
  if (page == Completed) {
    EXPECT_TRUE(rig.FlashIs(rig.newer));
  }
  if (c.step.role <= Role::LastChunk && page != Completed) {
    EXPECT_TRUE(rig.FlashIs(rig.installed));
  }
  const bool backupWritten = page != UpdateModeFailed && page != BackupFailed;
  EXPECT_EQ(rig.Exists("CDRWFW00.BIN"), backupWritten);
  if (backupWritten) {
    EXPECT_EQ(rig.ReadFile("CDRWFW00.BIN"), rig.installed);
  }
  if (page == BackupFailed || page == UpdateModeFailed) {
    EXPECT_EQ(rig.Count(0xAA) + rig.Count(0xE2), 0u);
  }
  // The report's progress is where the bar was left, also when the follow's
  // counter had already moved on; every stop says why in both forms.
  const AttemptReport& report = rig.proc->lastAttempt;
  EXPECT_EQ(report.finalProgress, rig.host.progress.empty() ? 0 : rig.host.progress.back());
  EXPECT_EQ(report.stop == AttemptStop::None, page == Completed) << report.detail;
  EXPECT_EQ(report.detail.empty(), page == Completed) << report.detail;
  if (c.kind == sim::FaultKind::ShortData && c.step.opcode == 0xE3 && page != Completed) {
    EXPECT_TRUE(report.stop == AttemptStop::BackupReadShort || report.stop == AttemptStop::IdBlockReadShort)
        << report.detail;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, FaultMatrix, ::testing::ValuesIn(AllCases()), CaseName);

}  // namespace
}  // namespace orvel::testing
