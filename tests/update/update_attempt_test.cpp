// Update-mode entry and the update attempt of the Start button: which page an
// attempt ends on, what the drive received, what the host was told.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "firmware/sample_firmware.h"
#include "tests/update/update_harness.h"

namespace orvel::testing {
namespace {

constexpr std::uint8_t kChunk12 = 0xAA;

TEST(UpdateModeEntry, DriveThatStaysInNormalModeFailsAfterTwoPausedRequests) {
  sim::DriveBehaviour b;
  b.switchesToUpdateMode = false;
  Rig rig(6, "QDX70", b);
  rig.SelectNewerFile(6, "QDX70");
  EXPECT_EQ(rig.Attempt(), UpdateModeFailed);
  EXPECT_EQ(rig.machine->GetTrace().Opcodes(), (std::vector<std::uint8_t>{0xE4, 0xE4, 0x12}));
  EXPECT_EQ(rig.host.log,
            (std::vector<std::string>{"begin attempt 0", "sleep 200", "sleep 200", "end attempt 3"}));
  EXPECT_EQ(rig.proc->lastAttempt.switchResult, 0);
  EXPECT_EQ(rig.host.started, 0);
  EXPECT_EQ(rig.host.closeAllowed, 0);
}

// Update-mode requests the system itself refused (no sense: they never reached
// the drive, as when the kernel filters vendor opcodes) end with the
// platform's reason and remedy, not only "not a known loader"; a drive that
// answers with sense gets no such remark.
TEST(UpdateModeEntry, RequestsTheSystemRefusedNameTheAccessProblem) {
  constexpr const char* kProblem = "the kernel refuses vendor commands to /dev/sr0 without CAP_SYS_RAWIO";
  // The node by node account names the drive's own node, or another drive's.
  class Filtered final : public ForwardingPlatform {
   public:
    using ForwardingPlatform::ForwardingPlatform;
    std::string AccessProblem() override { return kProblem; }
    std::vector<NodeAccessProblem> AccessProblems() override {
      const std::uint16_t number = transport->address.deviceNumber;
      const std::string node = DeviceName(transport->mode, ownNode ? number : static_cast<std::uint16_t>(number + 1));
      return {{node, "refused", "ask"}};
    }
    const ScsiTransport* transport = nullptr;
    bool ownNode = true;
  };
  struct Case {
    sim::FaultKind kind;
    bool told;
    bool ownNode;
    bool unreachable;  // the attempt says the system kept the drive from the user
  };
  for (const Case& c : {Case{sim::FaultKind::Fail, true, true, true}, Case{sim::FaultKind::Fail, true, false, false},
                        Case{sim::FaultKind::Check, false, true, false}}) {
    Rig rig(6, "QDX70");
    Filtered platform(*rig.platform);
    platform.ownNode = c.ownNode;
    rig.proc.reset();
    rig.transport = std::make_unique<ScsiTransport>(platform);
    platform.transport = rig.transport.get();
    TransportMessage message;
    ASSERT_TRUE(rig.transport->SelectTransport(&message)) << message.text;
    rig.proc = std::make_unique<UpdateProcedure>(*rig.transport, rig.host);
    rig.SelectNewerFile(6, "QDX70");
    sim::FaultRule refused{0xE4, sim::kAnyDrive, 1};
    refused.onward = true;
    refused.kind = c.kind;
    rig.machine->AddFault(refused);
    EXPECT_EQ(rig.Attempt(), UpdateModeFailed);
    const std::string detail = rig.proc->lastAttempt.detail;
    EXPECT_NE(detail.find("not a known loader"), std::string::npos) << detail;
    EXPECT_EQ(detail.find(kProblem) != std::string::npos, c.told) << detail;
    EXPECT_EQ(rig.proc->lastAttempt.driveUnreachable, c.unreachable) << detail;
    rig.proc.reset();
    rig.transport.reset();
  }
}

TEST(UpdateModeEntry, BlankFlashKeepsLoaderFamilyAndAcceptsAnyIdentifiedFile) {
  Rig rig(6, "QDX70");
  std::ranges::fill(rig.drive->MutableFlash(), std::uint8_t{0xFF});
  rig.SelectNewerFile(6, "QDX79");
  EXPECT_EQ(rig.Attempt(), Completed) << rig.proc->lastAttempt.detail;
  EXPECT_EQ(rig.proc->lastAttempt.switchResult, -2);
  EXPECT_EQ(rig.proc->driveFamily, 6);
  EXPECT_EQ(std::string(rig.proc->driveTypeCode.data()), std::string(6, '\xFF'));
  EXPECT_EQ(rig.proc->loaderUpdateForced + rig.proc->loaderUpdateBarred, 0);
  EXPECT_TRUE(rig.FlashIs(rig.newer));
}

TEST(UpdateModeEntry, BlankSmallDriveRefusesAnEncodedFileWhenLoading) {
  Rig rig(2, "QDX4");
  std::ranges::fill(rig.drive->MutableFlash(), std::uint8_t{0xFF});
  rig.SelectNewerFile(6, "QDX70");
  EXPECT_EQ(rig.Attempt(), Failed);
  EXPECT_EQ(rig.Count(kChunk12), 0u);
  EXPECT_EQ(rig.host.started, 1);
}

struct FifthByteCase {
  std::uint8_t fifth;
  int family;
  int forced;
};
// "fifth byte 32: family 5, loader update forced" in test names.
void PrintTo(const FifthByteCase& c, std::ostream* os) {
  *os << "fifth byte " << Hex(std::span(&c.fifth, 1)) << ": family " << c.family
      << (c.forced != 0 ? ", loader update forced" : "");
}
class FifthByte : public ::testing::TestWithParam<FifthByteCase> {};

TEST_P(FifthByte, RaisesFamilyFourToFive) {
  Rig rig(4, "QDX50");
  rig.drive->MutableFlash()[0x8004 + 4] = GetParam().fifth;
  EXPECT_EQ(rig.proc->SwitchDriveToUpdateMode(), 1);
  EXPECT_EQ(rig.proc->driveFamily, GetParam().family);
  EXPECT_EQ(rig.proc->loaderUpdateForced, GetParam().forced);
  EXPECT_EQ(rig.proc->loaderUpdateBarred, 0);
  EXPECT_EQ(rig.proc->driveTypeCode[4], static_cast<char>(GetParam().fifth));
}
INSTANTIATE_TEST_SUITE_P(Bytes, FifthByte,
                         ::testing::Values(FifthByteCase{'1', 4, 0}, FifthByteCase{'2', 5, 1},
                                           FifthByteCase{'9', 5, 1}, FifthByteCase{0x80, 5, 1}));

TEST(UpdateModeEntry, ThreeCharacterCodeMatchesOnlyWhenFollowedByNul) {
  Rig rig(0, "QDX");
  EXPECT_EQ(rig.proc->SwitchDriveToUpdateMode(), 1) << rig.proc->lastAttempt.detail;
  EXPECT_EQ(rig.proc->driveFamily, 0);
  rig.drive->MutableFlash()[4 + 3] = 'A';
  EXPECT_EQ(rig.proc->SwitchDriveToUpdateMode(), 0);
  EXPECT_FALSE(rig.proc->lastAttempt.detail.empty());
}

// A family-1 drive: its loader reads from 0x7C004, and its code stands 0x3F00
// into that block (0x7FF04 of its image). The start of the block still decides
// first; the code further in counts only when the start names nothing and only
// when it is a family-1 code.
struct FamilyOneCase {
  const char* name;
  std::uint32_t at;        // image offset written
  std::string_view bytes;  // what is written there
  int result;              // of SwitchDriveToUpdateMode
  int family;
  std::string_view code;   // the drive's type code (result 1)
};
class FamilyOne : public ::testing::TestWithParam<FamilyOneCase> {};

TEST_P(FamilyOne, IsNamedByTheCodeFurtherInOnlyWhenTheStartNamesNothing) {
  constexpr std::uint32_t kLoaderRead = 0x7C004;
  const FamilyOneCase& c = GetParam();
  Rig rig(1, "QDX");
  ASSERT_STREQ(rig.drive->Loader().loaderId, "RomKeeperStage2 ");
  std::memcpy(rig.drive->MutableFlash().data() + c.at, c.bytes.data(), c.bytes.size());
  EXPECT_EQ(rig.proc->SwitchDriveToUpdateMode(), c.result) << rig.proc->lastAttempt.detail;
  EXPECT_EQ(rig.Count(0xE3), 1u);
  const auto& read = rig.machine->GetTrace().Entries().back().cdb;
  EXPECT_EQ(std::uint32_t{read[2]} << 24 | std::uint32_t{read[3]} << 16 | std::uint32_t{read[4]} << 8 | read[5],
            kLoaderRead);
  if (c.result == 0) {
    EXPECT_EQ(rig.proc->lastAttempt.stop, AttemptStop::DriveTypeUnknown);
    return;
  }
  EXPECT_EQ(rig.proc->driveFamily, c.family);
  EXPECT_EQ(std::string(rig.proc->driveTypeCode.data(), kTypeCodeLength), c.code);
  EXPECT_EQ(rig.proc->loaderUpdateForced + rig.proc->loaderUpdateBarred, 0);
}
INSTANTIATE_TEST_SUITE_P(
    Blocks, FamilyOne,
    ::testing::Values(
        FamilyOneCase{"CodeAsTheImageHasIt", 0x7FF04, std::string_view("QDX\0\0\0", 6), 1, 1,
                      std::string_view("QDX\0\0\0", 6)},
        FamilyOneCase{"LongerFamilyOneCode", 0x7FF04, "QDX1B2", 1, 1, "QDX1B2"},
        FamilyOneCase{"OtherFamilysCodeFurtherIn", 0x7FF04, "ZEB001", 0, 0, ""},
        FamilyOneCase{"NoCodeFurtherIn", 0x7FF04, "qdx100", 0, 0, ""},
        // The start names family 3: it keeps it, and its code is the start's.
        FamilyOneCase{"StartNamesAnotherFamily", 0x7C004, std::string_view("ZEB\0\0\0", 6), 1, 3,
                      std::string_view("ZEB\0\0\0", 6)},
        FamilyOneCase{"StartNamesFamilyZero", 0x7C004, std::string_view("QDX\0\0\0", 6), 1, 0,
                      std::string_view("QDX\0\0\0", 6)}),
    [](const ::testing::TestParamInfo<FamilyOneCase>& param) { return std::string(param.param.name); });

TEST(UpdateModeEntry, ForcedLoaderFlagOutlivesARefusedAttempt) {
  Rig rig(4, "QDX52");
  rig.SelectNewerFile(4, "QDX51");
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  EXPECT_EQ(rig.proc->loaderUpdateForced, 1);
  EXPECT_TRUE(rig.drive->InUpdateMode());
  // The drive now reports a family-4 code; the flag set before still asks for the loader.
  std::memcpy(rig.drive->MutableFlash().data() + 0x8004, "QDX510", 6);
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_EQ(rig.proc->driveFamily, 4);
  EXPECT_EQ(rig.drive->LastRewriteLoaderByte(), 0x40);
}

TEST(TypeCodeDecision, LastTwoCharactersNeedPassTypeWithTheRightEntry) {
  Rig rig(6, "QDX70");
  rig.SelectNewerFile(6, "QDX71");
  rig.host.backupState = 1;
  rig.proc->ChooseBackupFileName();
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  rig.host.passType = 1;
  rig.host.password = "Newer f";  // seven characters never pass
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  EXPECT_EQ(rig.host.started, 0);
  EXPECT_EQ(rig.Count(kChunk12), 0u);
  EXPECT_FALSE(rig.Exists("CDRWFW00.KVF"));

  rig.host.password = "Newer firmware, please";  // the first eight count
  rig.host.passType = 2;  // only check state 1 is ticked
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  rig.host.passType = 1;
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_TRUE(rig.FlashIs(rig.newer));
  EXPECT_TRUE(rig.Exists("CDRWFW00.KVF"));
}

TEST(TypeCodeDecision, FirstFourDifferingRefusesWhateverPassType) {
  Rig rig(6, "QDX70");
  rig.SelectNewerFile(7, "QDX60");
  rig.host.passType = 1;
  rig.host.password = "Newer firmware";
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  EXPECT_TRUE(rig.proc->lastAttempt.switchRan);
  EXPECT_FALSE(rig.proc->lastAttempt.typeCodeAccepted);
  EXPECT_TRUE(rig.FlashIs(rig.installed));
}

// The members describe the last identified file; anything else selected is refused.
TEST(TypeCodeDecision, SelectionThatIsNotTheIdentifiedFileIsRefusedBeforeAnythingIsSent) {
  Rig rig(6, "QDX70");
  const std::string good = rig.SelectNewerFile(6, "QDX70");

  rig.machine->GetTrace().Clear();
  rig.Select("MISSING.KVF");
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  EXPECT_FALSE(rig.proc->lastAttempt.switchRan);

  rig.WriteFile("JUNK.BIN", std::vector<std::uint8_t>(4096, 0x11));
  rig.Select("JUNK.BIN");
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);

  rig.WriteFile("OTHER.KVF", EncodeForFamily(6, rig.newer));
  rig.host.source = "OTHER.KVF";  // changed without being identified
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  EXPECT_EQ(rig.host.started, 0);
  // Not even update-mode entry reached the drive.
  EXPECT_EQ(rig.machine->GetTrace().size(), 0u);

  rig.Select(good);
  EXPECT_EQ(rig.Attempt(), Completed);
}

// What the load would refuse after the switch is refused before it, as a
// type-code refusal: the drive hears nothing and stays in normal operation.
struct EarlyCase {
  const char* what;
  int family;        // of the drive and the file
  const char* code;
  const char* name;  // the file's name as selected
  std::size_t size;  // the file is cut or padded to this many bytes (0: as encoded)
  int page;
  const char* detail;  // part of lastAttempt.detail
  AttemptStop stop;
};
void PrintTo(const EarlyCase& c, std::ostream* os) { *os << c.what; }

class EarlyRefusal : public ::testing::TestWithParam<EarlyCase> {};

TEST_P(EarlyRefusal, EndsBeforeTheDriveHearsAnything) {
  const EarlyCase& c = GetParam();
  Rig rig(c.family, c.code);
  const std::string written = rig.SelectNewerFile(c.family, c.code, std::string(c.name).substr(c.name[0] == '.' ? 2 : 0));
  if (c.size != 0) {
    std::vector<std::uint8_t> bytes = rig.ReadFile(written);
    bytes.resize(c.size, 0xFF);
    rig.WriteFile(written, bytes);
  }
  rig.Select(c.name);
  ASSERT_TRUE(rig.proc->selectionIdentified) << "identification is not what is tested here";
  const int page = rig.Attempt();
  EXPECT_EQ(page, c.page) << rig.proc->lastAttempt.detail;
  EXPECT_NE(rig.proc->lastAttempt.detail.find(c.detail), std::string::npos) << rig.proc->lastAttempt.detail;
  EXPECT_EQ(rig.proc->lastAttempt.stop, c.stop);
  if (page == TypeCodeMismatch) {
    EXPECT_EQ(rig.machine->GetTrace().size(), 0u);
    EXPECT_FALSE(rig.drive->InUpdateMode());
    EXPECT_EQ(rig.host.started, 0);
  } else {
    EXPECT_TRUE(rig.FlashIs(rig.newer));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, EarlyRefusal,
    ::testing::Values(
        EarlyCase{"plain file cut short", 4, "QDX50", "NEWFW.BIN", 0x80000, TypeCodeMismatch, "524288 bytes", AttemptStop::SourceMisfit},
        EarlyCase{"plain file too long", 2, "QDX4", "NEWFW.BIN", 0x90000, TypeCodeMismatch, "589824 bytes", AttemptStop::SourceMisfit},
        EarlyCase{"byte-keyed file cut short", 5, "QDX55", "NEWFW.KVF", 0xFF000, TypeCodeMismatch, "1044480 bytes", AttemptStop::SourceMisfit},
        EarlyCase{"packed file named .BIN", 6, "QDX70", "PACKED.BIN", 0, TypeCodeMismatch, "must be named .KVF", AttemptStop::SourceMisfit},
        EarlyCase{"plain file named .kvf", 4, "QDX50", "PLAIN.kvf", 0, TypeCodeMismatch, "must not be named .KVF", AttemptStop::SourceMisfit},
        // The extension is the base name's: a directory part does not hide it.
        EarlyCase{"packed file by a path", 6, "QDX70", "./PATHFW.KVF", 0, Completed, "", AttemptStop::None}),
    [](const ::testing::TestParamInfo<EarlyCase>& param) {
      std::string n = param.param.what;
      std::ranges::replace(n, ' ', '_');
      std::ranges::replace(n, '-', '_');
      std::erase(n, '.');
      return n;
    });

TEST(UpdateAttempt, OnlyTheListedDriveAsItWasListedHearsACommand) {
  Rig rig(4, "QDX50");
  rig.SelectNewerFile(4, "QDX50");
  const std::string device = rig.machine->DeviceName(TransportMode::CdromDevice, 0);

  // No drive listed (an empty list): nothing is addressed, not even address 0.
  rig.machine->GetTrace().Clear();
  EXPECT_EQ(rig.proc->RunUpdateAttempt(nullptr), UpdateModeFailed);
  EXPECT_EQ(rig.proc->lastAttempt.driveClaim, DeviceClaimResult::NotListed);
  EXPECT_EQ(rig.proc->lastAttempt.detail, "no drive is listed; nothing was sent");
  EXPECT_EQ(rig.proc->lastAttempt.stop, AttemptStop::DriveNotHeld);
  EXPECT_EQ(rig.machine->GetTrace().size(), 0u);
  // An address discovery did not list.
  const DriveAddress unlisted{0, 0, 7};
  EXPECT_EQ(rig.proc->RunUpdateAttempt(&unlisted), UpdateModeFailed);
  EXPECT_EQ(rig.proc->lastAttempt.driveClaim, DeviceClaimResult::NotListed);
  EXPECT_EQ(rig.machine->GetTrace().size(), 0u);

  // Every reason the platform gives for not holding the drive ends the attempt before its first command.
  const DeviceClaimResult refusals[] = {DeviceClaimResult::NotListed, DeviceClaimResult::Changed,
                                        DeviceClaimResult::NotOptical, DeviceClaimResult::Mounted,
                                        DeviceClaimResult::InUse, DeviceClaimResult::NoAccess};
  for (const DeviceClaimResult refusal : refusals) {
    rig.platform->claimAnswer = refusal;
    EXPECT_EQ(rig.Attempt(), UpdateModeFailed) << DriveClaimName(refusal);
    EXPECT_EQ(rig.proc->lastAttempt.driveClaim, refusal);
    EXPECT_EQ(rig.proc->lastAttempt.detail, DriveClaimText(refusal, device));
    EXPECT_NE(rig.proc->lastAttempt.detail.find(device), std::string::npos) << rig.proc->lastAttempt.detail;
    EXPECT_EQ(rig.machine->GetTrace().size(), 0u) << DriveClaimName(refusal);
    EXPECT_EQ(rig.host.started, 0);
    // The same refusal in the caller's language, still naming the device.
    rig.proc->detailLanguage = Japanese;
    rig.Attempt();
    const std::string japanese = rig.proc->lastAttempt.detail;
    rig.proc->detailLanguage = English;
    EXPECT_EQ(japanese, DriveClaimText(refusal, device, Japanese));
    EXPECT_NE(japanese, DriveClaimText(refusal, device)) << DriveClaimName(refusal);
    EXPECT_NE(japanese.find(device), std::string::npos) << japanese;
    EXPECT_NE(japanese.find("何も送信していません"), std::string::npos) << japanese;
  }
  EXPECT_NE(DriveClaimText(DeviceClaimResult::Changed, device).find("the drive list is out of date"), std::string::npos);
  EXPECT_EQ(DriveClaimText(DeviceClaimResult::Claimed, device), "");

  // The drive the sim swaps in after discovery is another device: refused by the machine itself.
  rig.platform->claimAnswer.reset();
  sim::DriveIdentity other;
  other.product = sim::NormalProductId(1);
  rig.machine->AddDrive(std::make_unique<sim::SimDrive>(2, other, rig.installed),
                        sim::Attachment{rig.machine->DeviceName(TransportMode::CdromDevice, 1), 0, 1});
  rig.machine->SwapAtFirstClaim(0, 1);
  EXPECT_EQ(rig.Attempt(), UpdateModeFailed);
  EXPECT_EQ(rig.proc->lastAttempt.driveClaim, DeviceClaimResult::Changed);
  EXPECT_EQ(rig.machine->GetTrace().size(), 0u);
  EXPECT_TRUE(rig.FlashIs(rig.installed));
}

TEST(UpdateAttempt, TheDriveIsHeldFromTheFirstCommandToTheEndOfEveryAttempt) {
  struct ClaimWatch : RecordingHost {
    const sim::SimMachine* machine = nullptr;
    std::vector<std::string> heldWhenStarted;
    void UpdateStarted() override {
      RecordingHost::UpdateStarted();
      heldWhenStarted.push_back(machine->ClaimedDevice());
    }
  };
  Rig rig(4, "QDX50");
  ClaimWatch watch;
  watch.machine = rig.machine.get();
  watch.source = rig.SelectNewerFile(4, "QDX50");
  watch.backupState = 1;
  UpdateProcedure proc(*rig.transport, watch);
  proc.IdentifySourceFile();
  const DriveAddress listed{};
  const std::string device = rig.machine->DeviceName(TransportMode::CdromDevice, 0);
  EXPECT_EQ(proc.RunUpdateAttempt(&listed), Completed) << proc.lastAttempt.detail;
  EXPECT_EQ(watch.heldWhenStarted, std::vector<std::string>{device});
  EXPECT_EQ(proc.lastAttempt.driveClaim, DeviceClaimResult::Claimed);
  EXPECT_EQ(rig.machine->ClaimedDevice(), "") << "let go when the attempt ended";
  EXPECT_EQ(rig.machine->OpenDeviceCount(), 0);

  // Also after a refusal in update mode.
  watch.source = rig.SelectNewerFile(4, "QDX51");
  proc.IdentifySourceFile();
  EXPECT_EQ(proc.RunUpdateAttempt(&listed), TypeCodeMismatch);
  EXPECT_EQ(rig.machine->ClaimedDevice(), "");
  EXPECT_EQ(rig.machine->ClaimCount(), 2);
}

TEST(UpdateAttempt, BackupNotPossibleIsShownOnceAndTheUpdateRuns) {
  sim::DriveBehaviour b;
  b.refuseAddressRead = true;
  Rig rig(6, "QDX70", b);
  rig.SelectNewerFile(6, "QDX71");
  rig.host.backupState = 1;
  rig.proc->ChooseBackupFileName();
  // A refused attempt already settles the read form for the rest of the run.
  EXPECT_EQ(rig.Attempt(), TypeCodeMismatch);
  EXPECT_EQ(rig.proc->alternateReadForm, 1);
  rig.SelectNewerFile(6, "QDX70");
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_EQ(rig.host.backupNotices, 1);
  EXPECT_TRUE(rig.proc->lastAttempt.backupSkipped);
  EXPECT_FALSE(rig.Exists("CDRWFW00.KVF"));
  EXPECT_TRUE(rig.FlashIs(rig.newer));
  const auto& log = rig.host.log;
  EXPECT_LT(std::ranges::find(log, "started"), std::ranges::find(log, "backup notice"));
}

// The attempt's span: from before the first update-mode command until after
// the drive's last command, on every page an attempt that reached the drive
// ends on; an attempt refused before the drive hears anything has none.
TEST(AttemptSpan, CoversEveryCommandOfTheAttemptAndNothingBefore) {
  struct Case {
    const char* what;
    std::function<void(Rig&)> arrange;
    int page;
  };
  const std::vector<Case> cases{
      {"completed", [](Rig& rig) { rig.SelectNewerFile(4, "QDX50"); }, Completed},
      {"update mode failed",
       [](Rig& rig) {
         rig.drive->Behaviour().switchesToUpdateMode = false;
         rig.SelectNewerFile(4, "QDX50");
       },
       UpdateModeFailed},
      {"type code refused", [](Rig& rig) { rig.SelectNewerFile(4, "QDX51"); }, TypeCodeMismatch},
      {"backup failed",
       [](Rig& rig) {
         rig.SelectNewerFile(4, "QDX50");
         rig.host.backupState = 1;
         rig.proc->ChooseBackupFileName();
         rig.machine->FileFaultSettings().syncFails = true;  // known only once the firmware was read
       },
       BackupFailed},
      {"rewrite failed",
       [](Rig& rig) {
         rig.drive->Behaviour().rewriteFails = true;
         rig.SelectNewerFile(4, "QDX50");
       },
       Failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig(4, "QDX50");
    c.arrange(rig);
    EXPECT_EQ(rig.Attempt(), c.page);
    const auto& log = rig.host.log;
    ASSERT_FALSE(log.empty());
    const std::string last = "end attempt " + std::to_string(rig.machine->GetTrace().Entries().size());
    EXPECT_EQ(log.front(), "begin attempt 0");
    EXPECT_EQ(log.back(), last);
    EXPECT_EQ(std::ranges::count_if(log, [](const std::string& e) { return e.starts_with("begin attempt"); }), 1);
    EXPECT_FALSE(rig.machine->AttemptOpen());
    EXPECT_EQ(rig.machine->AttemptsBegun(), 1);
  }

  Rig refused(4, "QDX50");
  refused.host.source = "NOSUCH.BIN";
  EXPECT_EQ(refused.Attempt(), TypeCodeMismatch);
  EXPECT_EQ(refused.machine->AttemptsBegun(), 0);
  EXPECT_TRUE(refused.machine->GetTrace().Entries().empty());
}

TEST(AttemptSpan, AMachineThatCannotBeKeptAwakeIsToldOfAndTheUpdateGoesOn) {
  Rig rig(4, "QDX50");
  rig.machine->SetCanKeepAwake(false);
  rig.SelectNewerFile(4, "QDX50");
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_EQ(rig.host.notKeptAwake,
            std::vector<std::string>{"the simulated machine has no logind to keep it awake"});
  // Told once, before the drive hears anything.
  EXPECT_EQ(rig.host.log[1], "not kept awake");
  EXPECT_TRUE(rig.FlashIs(rig.newer));

  Rig awake(4, "QDX50");
  awake.SelectNewerFile(4, "QDX50");
  EXPECT_EQ(awake.Attempt(), Completed);
  EXPECT_TRUE(awake.host.notKeptAwake.empty());
}

TEST(AttemptSpan, AnInterruptionHeldMeanwhileIsLeftToTheCallerOrActsWhenTheProcedureEnds) {
  constexpr Interruption kHeld = 15;
  Rig rig(4, "QDX50");
  rig.SelectNewerFile(4, "QDX50");
  rig.platform->heldAtEnd = kHeld;
  EXPECT_EQ(rig.Attempt(), Completed);
  EXPECT_EQ(rig.proc->lastAttempt.heldInterruption, kHeld);
  EXPECT_TRUE(rig.platform->actedOn.empty());  // the caller says when, after its output
  rig.proc.reset();
  EXPECT_TRUE(rig.platform->actedOn.empty());  // the span had ended: nothing is acted on twice

  // A span its caller left open ends with the procedure, and what it held acts then.
  rig.proc = std::make_unique<UpdateProcedure>(*rig.transport, rig.host);
  rig.proc->BeginAttempt();
  rig.proc->BeginAttempt();  // one span, however often begun
  EXPECT_EQ(rig.machine->AttemptsBegun(), 2);
  EXPECT_EQ(rig.proc->SwitchDriveToUpdateMode(), 1);
  rig.proc.reset();
  EXPECT_FALSE(rig.machine->AttemptOpen());
  EXPECT_EQ(rig.platform->actedOn, std::vector<Interruption>{kHeld});
}

}  // namespace
}  // namespace orvel::testing
