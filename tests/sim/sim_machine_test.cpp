// The simulated machine as a Platform: request blocks built by hand and
// through the transport, the virtual clock, faults, the trace, file faults.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/request_blocks.h"
#include "tests/sim/sim_support.h"
#include "drive/discovery.h"

namespace orvel::sim {
namespace {

using testing::Rig;
using testing::TempDir;

constexpr std::uint8_t kFill = 0xAB;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kReadAddress = 0xE3;

// One ASPI request block built by hand, with its buffer and event.
struct AspiCall {
  explicit AspiCall(SimMachine& m) : machine(m) {
    buffer.fill(kFill);
    handle = m.RegisterBuffer(buffer);
    event = m.CreateEvent();
  }
  std::array<std::uint8_t, srb::kSize>& Send(std::uint8_t ha, std::uint8_t target, std::initializer_list<std::uint8_t> cdb,
                                              std::uint8_t dir, std::uint32_t length) {
    block.fill(0);
    block[srb::kCmd] = srb::SC_EXEC_SCSI_CMD;
    block[srb::kHaId] = ha;
    block[srb::kTarget] = target;
    block[srb::kFlags] = static_cast<std::uint8_t>(dir | srb::SRB_EVENT_NOTIFY);
    PutLe32(block, srb::kBufLen, length);
    PutLe32(block, srb::kBufPointer, handle);
    block[srb::kSenseLen] = srb::kSenseAreaSize;
    block[srb::kCdbLen] = static_cast<std::uint8_t>(cdb.size());
    PutLe32(block, srb::kPostProc, event);
    std::copy(cdb.begin(), cdb.end(), block.begin() + srb::kCdbByte);
    AspiLibrary* lib = machine.LoadLibrary("wnaspi32.dll");
    lib->SendASPI32Command(block);
    return block;
  }
  SimMachine& machine;
  std::array<std::uint8_t, srb::kSize> block{};
  std::array<std::uint8_t, 16384> buffer{};
  std::uint32_t handle = 0;
  EventHandle event = 0;
};

// One pass-through block built by hand.
std::vector<std::uint8_t> PassThroughBlock(std::initializer_list<std::uint8_t> cdb, std::uint8_t dataIn,
                                           std::uint32_t length) {
  std::vector<std::uint8_t> b(spt::kDataArea + length, kFill);
  PutLe16(b, spt::kLength, spt::kHeaderSize);
  b[spt::kScsiStatus] = kStatusNotSet;
  b[spt::kPathId] = b[spt::kTargetId] = b[spt::kLun] = 0;
  b[spt::kCdbLength] = static_cast<std::uint8_t>(cdb.size());
  b[spt::kSenseInfoLength] = spt::kSenseRequested;
  b[spt::kDataIn] = dataIn;
  PutLe32(b, spt::kDataTransferLength, length);
  PutLe32(b, spt::kTimeOutValue, spt::kTimeOutSeconds);
  PutLe32(b, spt::kDataBufferOffset, spt::kDataArea);
  PutLe32(b, spt::kSenseInfoOffset, spt::kSenseArea);
  std::fill(b.begin() + spt::kCdb, b.begin() + spt::kCdb + 16, std::uint8_t{0});
  std::copy(cdb.begin(), cdb.end(), b.begin() + spt::kCdb);
  return b;
}

PassThroughResult Carry(SimMachine& m, std::string_view name, std::vector<std::uint8_t>& block) {
  const DeviceHandle dev = m.OpenDevice(name);
  EXPECT_GE(dev, 0) << name;
  const PassThroughResult r = m.PassThrough(dev, block);
  m.CloseDevice(dev);
  return r;
}

TEST(SimMachineAspi, CarriesAnSrbByteForByte) {
  Rig rig("aspi");
  SimMachine& m = *rig.machine;
  AspiCall call(m);
  const std::uint64_t before = m.Clock().Now();
  auto& b = call.Send(0, 1, {kInquiry, 0, 0, 0, 36, 0}, srb::SRB_DIR_IN, 36);
  // Finished before the call returned, after the command's virtual duration.
  EXPECT_EQ(b[srb::kStatus], srb::SS_COMP);
  EXPECT_EQ(m.Clock().Now(), before + rig.Drive(1).CommandDuration(kInquiry));
  EXPECT_EQ(call.buffer[0], kPeripheralCdrom);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(call.buffer.data()) + 16, 16), rig.Drive(1).Identity().product);
  EXPECT_EQ(call.buffer[36], kFill);
  EXPECT_EQ(m.WaitEvent(call.event, 0), WaitResult::Signalled);

  // A vendor command outside update mode: SS_ERR with fixed-format sense.
  call.Send(0, 1, {kReadAddress, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0}, srb::SRB_DIR_IN, 16384);
  EXPECT_EQ(b[srb::kStatus], srb::SS_ERR);
  EXPECT_EQ(b[srb::kSenseArea], 0x70);
  EXPECT_EQ(b[srb::kSenseArea + 2], kKeyIllegalRequest);
  EXPECT_EQ(b[srb::kSenseArea + 7], 6);
  EXPECT_EQ(b[srb::kSenseArea + 12], 0x20);
  EXPECT_EQ(b[srb::kSenseArea + 13], 0x00);
  EXPECT_EQ(b[srb::kTargStat], kStatusCheckCondition);

  call.Send(0, 6, {kInquiry, 0, 0, 0, 36, 0}, srb::SRB_DIR_IN, 36);
  EXPECT_EQ(b[srb::kStatus], srb::SS_NO_DEVICE);
  call.Send(1, 0, {kInquiry, 0, 0, 0, 36, 0}, srb::SRB_DIR_IN, 36);
  EXPECT_EQ(b[srb::kStatus], srb::SS_INVALID_HA);
  // A buffer length beyond the registered buffer is refused, not overrun.
  call.Send(0, 1, {kInquiry, 0, 0, 0, 36, 0}, srb::SRB_DIR_IN, 20000);
  EXPECT_NE(b[srb::kStatus], srb::SS_COMP);
}

TEST(SimMachineAspi, PendingRequestsCompleteOnTheVirtualClock) {
  Rig rig("aspi-pending");
  SimMachine& m = *rig.machine;
  rig.Drive(0).Behaviour().commandMs = 40;
  AspiCall call(m);
  auto& b = call.Send(0, 0, {kInquiry, 0, 0, 0, 36, 0}, srb::SRB_DIR_IN, 36);
  EXPECT_EQ(b[srb::kStatus], srb::SS_PENDING);
  EXPECT_EQ(m.PendingRequests(), 1);
  const std::uint64_t start = m.Clock().Now();
  EXPECT_EQ(m.WaitEvent(call.event, kAspiCompletionWaitMs), WaitResult::Signalled);
  EXPECT_EQ(m.Clock().Now(), start + 40);
  EXPECT_EQ(b[srb::kStatus], srb::SS_COMP);
  EXPECT_EQ(m.PendingRequests(), 0);

  // A pause long enough finishes the request without a wait.
  call.Send(0, 0, {kInquiry, 0, 0, 0, 36, 0}, srb::SRB_DIR_IN, 36);
  m.Sleep(39);
  EXPECT_EQ(b[srb::kStatus], srb::SS_PENDING);
  m.Sleep(1);
  EXPECT_EQ(b[srb::kStatus], srb::SS_COMP);
  EXPECT_EQ(m.Clock().SleptTotal(), 40U + 40U);

  // Through the transport: the same answers, no real waiting.
  EXPECT_EQ(Inquiry(rig.T()), 1);
  EXPECT_EQ(rig.T().DataBuffer()[0], kPeripheralCdrom);
}

TEST(SimMachineAspi, ATimedOutRequestIsHeldAndFinishesLater) {
  Rig rig("aspi,fault=00:2:timeout");
  ScsiTransport& t = rig.T();
  SimMachine& m = *rig.machine;
  ASSERT_TRUE(rig.selected);
  EnterUpdateMode(t, 1);
  EXPECT_EQ(FinishTransfer(t, 7), 0);  // leaves 0x24 as the last sense codes
  ASSERT_EQ(t.lastAsc, 0x24);
  EXPECT_EQ(PollRewriteStatus(t), 1);
  const std::uint64_t before = m.Clock().Now();
  EXPECT_EQ(PollRewriteStatus(t), 0);
  EXPECT_EQ(m.Clock().Now() - before, kAspiCompletionWaitMs);
  EXPECT_EQ(t.lastAsc, 0x00);  // from the good poll before it
  EXPECT_EQ(m.PendingRequests(), 1);
  // The next command waits out the held request first; the block is never reused while held.
  EXPECT_EQ(Inquiry(t), 1);
  EXPECT_EQ(m.PendingRequests(), 0);
  EXPECT_EQ(m.SrbReuseWhileHeld(), 0);
  EXPECT_EQ(m.GetTrace().Entries()[3].outcome, TraceOutcome::TimedOut);
  EXPECT_GE(m.Clock().Now() - before, kTimeoutFaultMs);
}

TEST(SimMachineAspi, AbortedAndFailedRequestsNeverReachTheDrive) {
  Rig rig("aspi,fault=e4:1:aborted,fault=e4:2:fail");
  ScsiTransport& t = rig.T();
  EXPECT_EQ(EnterUpdateMode(t, 1), 0);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_FALSE(rig.Drive(0).InUpdateMode());
  EXPECT_EQ(EnterUpdateMode(t, 1), 0);
  EXPECT_FALSE(rig.Drive(0).InUpdateMode());
  EXPECT_EQ(EnterUpdateMode(t, 1), 1);
  EXPECT_TRUE(rig.Drive(0).InUpdateMode());
  const auto& e = rig.machine->GetTrace().Entries();
  ASSERT_EQ(e.size(), 3U);
  EXPECT_EQ(e[0].outcome, TraceOutcome::Aborted);
  EXPECT_EQ(e[1].outcome, TraceOutcome::Failed);
  EXPECT_TRUE(e[0].injected);
  EXPECT_FALSE(e[2].injected);
}

TEST(SimMachineAspi, StartUpFailuresOfTheLibrary) {
  struct Case {
    const char* scenario;
    bool selected;
    const char* message;
  };
  const std::vector<Case> cases{
      {"aspi-no-library", false, "Not found 'ASPI32.DLL'"},
      {"aspi-no-entry", false, "ASPI Function Error 'ASPI32.DLL'"},
      {"aspi-no-manager", false, "Not found ASPI MANAGER"},
      {"aspi-no-adapters", true, ""},
      {"platform-0", false, "ASPI:LoadErr [0]"},
      {"default,platform=7", false, "ASPI:LoadErr [7]"},
  };
  for (const Case& c : cases) {
    Rig rig(c.scenario);
    EXPECT_EQ(rig.selected, c.selected) << c.scenario;
    EXPECT_EQ(rig.selectMessage, c.message) << c.scenario;
  }
  Rig none("aspi-no-adapters");
  EXPECT_TRUE(DiscoverDrives(none.T()).empty());
  EXPECT_EQ(none.machine->GetTrace().size(), 0U);
}

TEST(SimMachinePassThrough, CarriesTheBlockByteForByte) {
  Rig rig("default");
  SimMachine& m = *rig.machine;
  auto block = PassThroughBlock({kInquiry, 0, 0, 0, 36, 0}, spt::SCSI_IOCTL_DATA_IN, 36);
  ASSERT_EQ(Carry(m, "\\\\.\\CDROM1", block), PassThroughResult::Done);
  EXPECT_EQ(block[spt::kScsiStatus], kStatusGood);
  EXPECT_EQ(GetLe32(block, spt::kDataTransferLength), 36U);
  EXPECT_EQ(block[spt::kDataArea], kPeripheralCdrom);
  EXPECT_EQ(block[spt::kSenseArea], kFill);  // sense written only after CHECK CONDITION

  auto refused = PassThroughBlock({kReadAddress, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0}, spt::SCSI_IOCTL_DATA_IN, 16384);
  ASSERT_EQ(Carry(m, "\\\\.\\cdrom0", refused), PassThroughResult::Done);
  EXPECT_EQ(refused[spt::kScsiStatus], kStatusCheckCondition);
  EXPECT_EQ(refused[spt::kSenseArea + 0], 0x70);
  EXPECT_EQ(refused[spt::kSenseArea + 2], kKeyIllegalRequest);
  EXPECT_EQ(refused[spt::kSenseArea + 12], 0x20);
  EXPECT_EQ(refused[spt::kSenseArea + 14], kFill);  // 14 bytes asked for, 14 written
  EXPECT_EQ(refused[spt::kDataArea], kFill);

  // Malformed blocks fail the call and leave the status alone.
  auto badLength = PassThroughBlock({kInquiry, 0, 0, 0, 36, 0}, spt::SCSI_IOCTL_DATA_IN, 36);
  PutLe16(badLength, spt::kLength, 40);
  EXPECT_EQ(Carry(m, "\\\\.\\cdrom1", badLength), PassThroughResult::Failed);
  EXPECT_EQ(badLength[spt::kScsiStatus], kStatusNotSet);
  auto overrun = PassThroughBlock({kInquiry, 0, 0, 0, 36, 0}, spt::SCSI_IOCTL_DATA_IN, 36);
  PutLe32(overrun, spt::kDataTransferLength, 16384);
  EXPECT_EQ(Carry(m, "\\\\.\\cdrom1", overrun), PassThroughResult::Failed);
  EXPECT_EQ(m.PassThrough(99, block), PassThroughResult::Failed);
  EXPECT_EQ(m.OpenDeviceCount(), 0);
}

TEST(SimMachinePassThrough, ShortTimedOutAndFailedCommands) {
  Rig rig("default,fault=e3:1:short:8192,fault=00:1:timeout,fault=00:2:fail");
  SimMachine& m = *rig.machine;
  ScsiTransport& t = rig.T();
  EnterUpdateMode(t, 1);

  auto read = PassThroughBlock({kReadAddress, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0}, spt::SCSI_IOCTL_DATA_IN, 16384);
  ASSERT_EQ(Carry(m, "\\\\.\\cdrom0", read), PassThroughResult::Done);
  EXPECT_EQ(read[spt::kScsiStatus], kStatusGood);
  EXPECT_EQ(GetLe32(read, spt::kDataTransferLength), 8192U);
  EXPECT_EQ(read[spt::kDataArea + 8191], rig.Drive(0).Flash()[8191]);
  EXPECT_EQ(read[spt::kDataArea + 8192], kFill);

  auto poll = PassThroughBlock({0x00, 0, 0, 0, 0, 0x80}, spt::SCSI_IOCTL_DATA_UNSPECIFIED, 0);
  const std::uint64_t before = m.Clock().Now();
  const std::uint64_t sleptBefore = m.Clock().SleptTotal();
  EXPECT_EQ(Carry(m, "\\\\.\\cdrom0", poll), PassThroughResult::TimedOut);
  EXPECT_EQ(m.Clock().Now() - before, spt::kTimeOutSeconds * 1000U);
  EXPECT_EQ(m.Clock().SleptTotal() - sleptBefore, spt::kTimeOutSeconds * 1000U);
  EXPECT_EQ(m.MonotonicMilliseconds(), m.Clock().Now());  // the platform's clock is the virtual one
  EXPECT_EQ(poll[spt::kScsiStatus], kStatusNotSet);
  EXPECT_EQ(Carry(m, "\\\\.\\cdrom0", poll), PassThroughResult::Failed);
  EXPECT_EQ(Carry(m, "\\\\.\\cdrom0", poll), PassThroughResult::Done);
  EXPECT_EQ(poll[spt::kScsiStatus], kStatusGood);

  // Through the transport a short block read fails, though the status was GOOD.
  Rig shortRig("short-read");
  int alternate = 0;
  EnterUpdateMode(shortRig.T(), 1);
  EXPECT_EQ(ReadFirmwareBlock(shortRig.T(), 0, alternate), 0);
  EXPECT_EQ(shortRig.T().lastTransferred, 8192U);
}

TEST(SimMachinePassThrough, DeviceNamesOpeningAndDriveLetters) {
  Rig rig("default,no-open=1");
  SimMachine& m = *rig.machine;
  EXPECT_EQ(m.DeviceName(TransportMode::CdromDevice, 3), "\\\\.\\cdrom3");
  EXPECT_EQ(m.DeviceName(TransportMode::DriveLetter, 0), "\\\\.\\d:");
  EXPECT_EQ(m.DeviceName(TransportMode::DriveLetter, 9), "\\\\.\\m:");
  EXPECT_EQ(m.OpenDevice("\\\\.\\cdrom1"), -1);
  EXPECT_EQ(m.OpenDevice("\\\\.\\cdrom7"), -1);
  const std::vector<DriveEntry> drives = DiscoverDrives(rig.T());
  ASSERT_EQ(drives.size(), 2U);
  EXPECT_EQ(drives[0].label.substr(0, 10), "cdrom0 :  ");
  EXPECT_EQ(drives[1].label.substr(0, 10), "cdrom2 :  ");
  EXPECT_EQ(m.OpenDeviceCount(), 0);
  EXPECT_TRUE(m.AccessProblems().empty()) << "a device that does not open is no refusal of this user";
  EXPECT_TRUE(m.AccessProblem().empty());

  // Refused to this user: not listed either, but named with the reason.
  Rig denied("default,no-access=1");
  EXPECT_EQ(denied.machine->OpenDevice("\\\\.\\cdrom1"), -1);
  EXPECT_EQ(DiscoverDrives(denied.T()).size(), 2U);
  const std::vector<NodeAccessProblem> problems = denied.machine->AccessProblems();
  ASSERT_EQ(problems.size(), 1U);
  EXPECT_EQ(problems[0].node, "\\\\.\\cdrom1");
  EXPECT_EQ(problems[0].reason, "permission denied");
  EXPECT_FALSE(problems[0].remedy.empty());
  EXPECT_EQ(denied.machine->AccessProblem().find("cannot open \\\\.\\cdrom1 (permission denied)"), 0U);

  Rig letters("drive-letter");
  ASSERT_TRUE(letters.selected);
  EXPECT_EQ(letters.T().mode, TransportMode::DriveLetter);
  const std::vector<DriveEntry> found = DiscoverDrives(letters.T());
  ASSERT_EQ(found.size(), 1U);  // C: and N: lie outside D: .. M:
  EXPECT_EQ(found[0].label.substr(0, 10), "drive1 :  ");
}

TEST(SimMachineFaults, RulesCountOccurrencesPerOpcodeAndDrive) {
  Rig rig("default,fault=e4@1:2+:check:04/00");
  ScsiTransport& t = rig.T();
  std::vector<int> drive0, drive1;
  for (int i = 0; i < 4; ++i) {
    t.address.deviceNumber = 0;
    drive0.push_back(EnterUpdateMode(t, 1));
    t.address.deviceNumber = 1;
    drive1.push_back(EnterUpdateMode(t, 1));
    if (i > 0) {
      EXPECT_EQ(t.lastAsc, 0x04);
    }
  }
  EXPECT_EQ(drive0, (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(drive1, (std::vector<int>{1, 0, 0, 0}));
  // The drive reports the injected sense like its own.
  EXPECT_EQ(rig.Drive(1).LastSense(), (Sense{kKeyNotReady, 0x04, 0x00}));
  EXPECT_EQ(RequestSense(t), 1);
  EXPECT_EQ(t.DataBuffer()[12], 0x04);

  Rig once("default,fault=any:3:check:5/26/01");
  std::vector<int> results;
  for (int i = 0; i < 4; ++i) results.push_back(Inquiry(once.T()));
  EXPECT_EQ(results, (std::vector<int>{1, 1, 0, 1}));
  EXPECT_EQ(once.T().lastAsc, 0);
}

TEST(SimMachineTrace, RecordsEveryCommandInOrder) {
  Rig rig("default");
  ScsiTransport& t = rig.T();
  SimMachine& m = *rig.machine;
  m.GetTrace().Clear();
  t.address.deviceNumber = 1;
  EnterUpdateMode(t, 1);
  t.DataBuffer()[0] = 0x42;
  SendImageChunk(t, 3072, ChunkForm::Ten);
  FinishTransfer(t, 5);
  const Trace& trace = m.GetTrace();
  EXPECT_EQ(trace.Opcodes(), (std::vector<std::uint8_t>{0xE4, 0xE2, 0xE0}));
  const TraceEntry& chunk = trace.Entries()[1];
  EXPECT_EQ(chunk.drive, 1);
  EXPECT_EQ(chunk.cdbLength, 10);
  EXPECT_EQ(chunk.cdb[6], 0x0C);
  EXPECT_EQ(chunk.direction, srb::SRB_DIR_OUT);
  EXPECT_EQ(chunk.length, 16384U);
  EXPECT_EQ(chunk.dataOutBytes, 16384U);
  EXPECT_EQ(chunk.outcome, TraceOutcome::Good);
  const TraceEntry& finish = trace.Entries()[2];
  EXPECT_EQ(finish.outcome, TraceOutcome::CheckCondition);
  EXPECT_EQ(finish.sense, (Sense{kKeyIllegalRequest, 0x24, 0x00}));
  const std::string text = trace.Format();
  EXPECT_NE(text.find("drive1 E2 00 00 00 00 00 0C 00 00 00 out 16384 sent 16384 -> GOOD"), std::string::npos) << text;
  EXPECT_NE(text.find("E0 00 00 05 00 00 00 00 00 00 none 0 -> CHECK 5/24/00"), std::string::npos) << text;
  m.GetTrace().SetEnabled(false);
  Inquiry(t);
  EXPECT_EQ(trace.size(), 3U);
}

TEST(SimMachineFiles, InjectedFileFaults) {
  Rig rig("disk-full");
  FileSystem& fs = rig.machine->Files();
  FileError err = FileError::None;
  const std::vector<std::uint8_t> data(100000, 0x33);
  FileHandle h = fs.CreateExclusive("BIG.BIN", &err);
  ASSERT_NE(h, kNoFile);
  EXPECT_FALSE(fs.WriteAll(h, data, &err));
  EXPECT_EQ(err, FileError::NoSpace);
  fs.SyncAndClose(h, &err);
  h = fs.OpenRead("BIG.BIN", &err);
  ASSERT_NE(h, kNoFile);
  EXPECT_EQ(fs.Length(h), 65536);
  fs.Close(h);

  Rig sync("sync-fails");
  FileSystem& fs2 = sync.machine->Files();
  h = fs2.CreateExclusive("A.BIN", &err);
  ASSERT_NE(h, kNoFile);
  EXPECT_TRUE(fs2.WriteAll(h, data, &err));
  EXPECT_FALSE(fs2.SyncAndClose(h, &err));
  EXPECT_EQ(err, FileError::Io);

  Rig shortFile("default,file-short=1000");
  FileSystem& fs3 = shortFile.machine->Files();
  h = fs3.CreateExclusive("C.BIN", &err);
  ASSERT_TRUE(fs3.WriteAll(h, data, &err));
  ASSERT_TRUE(fs3.SyncAndClose(h, &err));
  h = fs3.OpenRead("C.BIN", &err);
  std::vector<std::uint8_t> back(4096);
  EXPECT_EQ(fs3.ReadAt(h, 0, back), 1000);
  EXPECT_EQ(fs3.ReadAt(h, 2000, back), 0);
  fs3.Close(h);
}

}  // namespace
}  // namespace orvel::sim
