// The simulated drives, driven through the transport and the drive commands
// on a pass-through machine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "firmware/catalogue.h"
#include "tests/sim/sim_support.h"

namespace orvel::sim {
namespace {

using testing::kNoLoaderUpdate;
using testing::Rig;

constexpr std::uint32_t kSmallChunk = 15360;
constexpr std::uint32_t kLargeChunk = 3072;
constexpr int kDonePolls = 10;
constexpr int kPollLimit = 500;

std::span<const std::uint8_t, kProductIdLength> ProductOf(ScsiTransport& t) {
  return t.DataBuffer().subspan<16, kProductIdLength>();
}

// Sends `image` in chunks as the update does, resending on 0x3A.
int SendImage(ScsiTransport& t, std::span<const std::uint8_t> image, std::uint32_t chunk, ChunkForm form) {
  for (std::size_t at = 0; at < image.size();) {
    const std::size_t n = std::min<std::size_t>(chunk, image.size() - at);
    std::memcpy(t.DataBuffer().data(), image.data() + at, n);
    if (SendImageChunk(t, static_cast<std::uint16_t>(n), form) == 1) {
      at += n;
    } else if (t.lastAsc != kAscMediumNotPresent) {
      return 0;
    }
  }
  return 1;
}

struct PollLog {
  std::vector<std::uint8_t> phases;  // each new 0xF7 phase in order
  int busy = 0;
  bool done = false;
  std::uint8_t failAsc = 0;
};

PollLog PollToEnd(ScsiTransport& t) {
  PollLog log;
  int doneRun = 0;
  for (int i = 0; i < kPollLimit && !log.done; ++i) {
    PollRewriteStatus(t);
    if (t.lastAsc == kAscMediumNotPresent) {
      log.done = ++doneRun == kDonePolls;
      continue;
    }
    doneRun = 0;
    if (t.lastAsc == kAscRewritePhase) {
      if (log.phases.empty() || log.phases.back() != t.lastAscq) log.phases.push_back(t.lastAscq);
    } else if (t.lastAsc == 0x00 || t.lastAsc == kAscInvalidOpcode) {
      ++log.busy;
    } else {
      log.failAsc = t.lastAsc;
      return log;
    }
  }
  return log;
}

int EnterAndRead(ScsiTransport& t, std::uint32_t address, int& alternate) {
  EnterUpdateMode(t, 1);
  return ReadFirmwareBlock(t, address, alternate);
}

TEST(SimDrive, IdentifiesAsItsModelAndAsItsLoaderInUpdateMode) {
  Rig rig("default");
  ASSERT_TRUE(rig.selected);
  ASSERT_EQ(rig.T().mode, TransportMode::CdromDevice);
  ScsiTransport& t = rig.T();
  t.address.deviceNumber = 0;
  ASSERT_EQ(Inquiry(t), 1);
  EXPECT_EQ(t.DataBuffer()[0], kPeripheralCdrom);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.DataBuffer().data()) + 8, 8), "TESSARO ");
  EXPECT_TRUE(FindProductId(ProductOf(t)));
  EXPECT_EQ(FindLoaderEntry(ProductOf(t)), -1);

  EXPECT_EQ(EnterUpdateMode(t, 1), 1);
  EXPECT_EQ(rig.Drive(0).LastEnterLoaderByte(), kLoaderByte);
  ASSERT_EQ(Inquiry(t), 1);
  const int row = FindLoaderEntry(ProductOf(t));
  ASSERT_GE(row, 0);
  EXPECT_EQ(LoaderRow(row).family, 6);
  // A drive left in its loader is still offered by discovery.
  EXPECT_TRUE(FindProductId(ProductOf(t)));

  rig.Drive(0).PowerCycle();
  ASSERT_EQ(Inquiry(t), 1);
  EXPECT_EQ(FindLoaderEntry(ProductOf(t)), -1);
}

TEST(SimDrive, RefusesVendorCommandsOutsideUpdateModeAndUnknownOpcodes) {
  Rig rig("default");
  ScsiTransport& t = rig.T();
  int alternate = 0;
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);
  EXPECT_EQ(t.lastAsc, kAscInvalidOpcode);
  EXPECT_EQ(t.lastAscq, 0x00);
  EXPECT_EQ(FinishTransfer(t, 0), 0);
  EXPECT_EQ(t.lastAsc, kAscInvalidOpcode);
  EXPECT_EQ(SendImageChunk(t, 1024, ChunkForm::Ten), 0);
  EXPECT_EQ(t.lastAsc, kAscInvalidOpcode);

  EnterUpdateMode(t, 1);
  ScsiRequest& r = t.Request();
  r.cdb = {};
  r.cdb[0] = 0xC7;
  r.cdbLength = 10;
  r.direction = DataNone;
  EXPECT_EQ(t.ExecuteCommand(0), 0);
  EXPECT_EQ(t.lastAsc, kAscInvalidOpcode);
  // REQUEST SENSE reports that refusal in fixed format.
  EXPECT_EQ(RequestSense(t), 1);
  EXPECT_EQ(t.DataBuffer()[0], 0x70);
  EXPECT_EQ(t.DataBuffer()[2], kKeyIllegalRequest);
  EXPECT_EQ(t.DataBuffer()[12], kAscInvalidOpcode);
  EXPECT_EQ(rig.Drive(0).LastSense(), Sense{});
}

TEST(SimDrive, ServesFlashInBothReadForms) {
  Rig rig("alt-read");
  ScsiTransport& t = rig.T();
  SimDrive& drive = rig.Drive(0);
  const std::uint32_t idAddress = drive.Loader().idAddress;
  const auto flash = drive.Flash();

  // The address form is refused; the alternate form gives the id block first.
  int alternate = 0;
  ASSERT_EQ(EnterAndRead(t, idAddress, alternate), 1);
  EXPECT_EQ(alternate, 1);
  EXPECT_TRUE(std::equal(flash.begin() + idAddress, flash.begin() + idAddress + kFirmwareBlockSize, t.DataBuffer().begin()));
  // Then blocks from 0 upward, as a backup reads them.
  for (std::uint32_t block = 0; block < 3; ++block) {
    ASSERT_EQ(ReadFirmwareBlock(t, 0xDEAD, alternate), 1);
    const auto from = flash.begin() + block * kFirmwareBlockSize;
    EXPECT_TRUE(std::equal(from, from + kFirmwareBlockSize, t.DataBuffer().begin())) << "block " << block;
  }

  // A drive with the address form reads at the address asked for.
  Rig plain("default");
  int alt2 = 0;
  const std::uint32_t address = 0x7C004;
  ASSERT_EQ(EnterAndRead(plain.T(), address, alt2), 1);
  EXPECT_EQ(alt2, 0);
  const auto f0 = plain.Drive(0).Flash();
  EXPECT_TRUE(std::equal(f0.begin() + address, f0.begin() + address + kFirmwareBlockSize, plain.T().DataBuffer().begin()));
  // Past the end is refused, without an alternate try.
  EXPECT_EQ(ReadFirmwareBlock(plain.T(), kFullImageSize, alt2), 0);
  EXPECT_EQ(plain.T().lastAsc, 0x21);
  EXPECT_EQ(alt2, 0);
}

TEST(SimDrive, WholeTransferAndRewriteLeaveTheFlashEqualToTheImage) {
  Rig rig("default");
  ScsiTransport& t = rig.T();
  t.address.deviceNumber = 2;  // family 2: 512 KiB in 15360-byte chunks
  SimDrive& drive = rig.Drive(2);
  const std::vector<std::uint8_t> image = SampleImage(2);
  ASSERT_EQ(image.size(), kSmallImageSize);
  ASSERT_FALSE(std::equal(image.begin(), image.end(), drive.Flash().begin()));

  EnterUpdateMode(t, 1);
  ASSERT_EQ(SendImage(t, image, kSmallChunk, ChunkForm::Twelve), 1);
  EXPECT_EQ(drive.Received().size(), image.size());
  ASSERT_EQ(FinishTransfer(t, 0), 1);
  ASSERT_EQ(StartRewrite(t, kNoLoaderUpdate, 1, 0), 1);
  EXPECT_EQ(drive.LastRewriteLoaderByte(), kLoaderByte);
  // Reads are refused while the drive rewrites.
  int alternate = 0;
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);

  const PollLog log = PollToEnd(t);
  ASSERT_TRUE(log.done);
  EXPECT_EQ(log.phases, (std::vector<std::uint8_t>{0, 1, 2, 3}));
  EXPECT_EQ(drive.RewritesCompleted(), 1);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), drive.Flash().begin()));
  // The other drives are untouched.
  EXPECT_EQ(rig.Drive(0).RewritesCompleted(), 0);
}

TEST(SimDrive, RewriteStartsOnlyWithACompleteFinishedImage) {
  Rig rig("default");
  ScsiTransport& t = rig.T();
  t.address.deviceNumber = 1;  // family 4: 1 MiB
  EnterUpdateMode(t, 1);
  const std::vector<std::uint8_t> half(kFullImageSize / 2, 0x5A);
  ASSERT_EQ(SendImage(t, half, kLargeChunk, ChunkForm::Ten), 1);
  ASSERT_EQ(FinishTransfer(t, 0), 1);
  EXPECT_EQ(StartRewrite(t, kNoLoaderUpdate, 0, 0), 0);
  EXPECT_EQ(rig.Drive(1).Rewrite(), RewriteState::Idle);

  // A full image without FinishTransfer is not written either.
  Rig again("default");
  again.T().address.deviceNumber = 1;
  EnterUpdateMode(again.T(), 1);
  const std::vector<std::uint8_t> full(kFullImageSize, 0x5A);
  ASSERT_EQ(SendImage(again.T(), full, kLargeChunk, ChunkForm::Ten), 1);
  EXPECT_EQ(StartRewrite(again.T(), kNoLoaderUpdate, 0, 0), 0);
}

TEST(SimDrive, ChunkFormsAndFinishVariantsFollowTheBehaviour) {
  Rig rig("ten-byte-chunks");
  ScsiTransport& t = rig.T();
  EnterUpdateMode(t, 1);
  t.DataBuffer()[0] = 1;
  EXPECT_EQ(SendImageChunk(t, kLargeChunk, ChunkForm::Twelve), 0);
  EXPECT_EQ(t.lastAsc, 0x24);
  EXPECT_EQ(SendImageChunk(t, kLargeChunk, ChunkForm::Ten), 1);
  // Only the chunk length counts, not the 16384 bytes that travel.
  EXPECT_EQ(rig.Drive(0).Received().size(), kLargeChunk);

  Rig v2("finish-variant-2");
  EnterUpdateMode(v2.T(), 1);
  EXPECT_EQ(FinishTransfer(v2.T(), 0), 0);
  EXPECT_EQ(FinishTransfer(v2.T(), 1), 0);
  EXPECT_EQ(FinishTransfer(v2.T(), 2), 1);
  EXPECT_EQ(v2.Drive(0).FinishedVariant(), 2);
}

TEST(SimDrive, AsksForAChunkAgainAsOftenAsConfigured) {
  Rig rig("resend-chunk");
  ScsiTransport& t = rig.T();
  EnterUpdateMode(t, 1);
  std::vector<int> results;
  for (int i = 0; i < 5; ++i) {
    t.DataBuffer()[0] = static_cast<std::uint8_t>(i);
    results.push_back(SendImageChunk(t, 16, ChunkForm::Twelve));
    if (results.back() == 0) {
      EXPECT_EQ(t.lastAsc, kAscMediumNotPresent);
    }
  }
  EXPECT_EQ(results, (std::vector<int>{1, 1, 0, 0, 1}));
  const auto got = rig.Drive(0).Received();
  ASSERT_EQ(got.size(), 3U * 16);
  EXPECT_EQ(got[32], 4);  // the refused sends were not kept
}

TEST(SimDrive, PhaseScriptsBusyAnswersAndFailures) {
  struct Case {
    const char* scenario;
    std::vector<std::uint8_t> phases;
    int busy;
    bool done;
    std::uint8_t failAsc;
  };
  const std::vector<Case> cases{
      {"skip-phases", {1, 2}, 0, true, 0},
      {"repeat-phase", {2, 3, 2, 3}, 0, true, 0},
      {"busy-polls", {0, 1, 2, 3}, 4, true, 0},
      {"rewrite-fails", {0, 1}, 0, false, 0x0C},
  };
  for (const Case& c : cases) {
    Rig rig(c.scenario);
    ScsiTransport& t = rig.T();
    SimDrive& drive = rig.Drive(0);
    const std::vector<std::uint8_t> image = SampleImage(0);
    EnterUpdateMode(t, 1);
    ASSERT_EQ(SendImage(t, image, kLargeChunk, ChunkForm::Twelve), 1) << c.scenario;
    ASSERT_EQ(FinishTransfer(t, 0), 1) << c.scenario;
    ASSERT_EQ(StartRewrite(t, kNoLoaderUpdate, 0, 0), 1) << c.scenario;
    EXPECT_EQ(drive.LastRewriteLoaderByte(), 0x00);
    const PollLog log = PollToEnd(t);
    EXPECT_EQ(log.phases, c.phases) << c.scenario;
    EXPECT_EQ(log.busy, c.busy) << c.scenario;
    EXPECT_EQ(log.done, c.done) << c.scenario;
    EXPECT_EQ(log.failAsc, c.failAsc) << c.scenario;
    if (c.done) {
      EXPECT_TRUE(std::equal(image.begin(), image.end(), drive.Flash().begin())) << c.scenario;
    } else {
      EXPECT_TRUE(std::all_of(drive.Flash().begin(), drive.Flash().end(), [](std::uint8_t b) { return b == 0xFF; }));
    }
  }
}

TEST(SimDrive, BlankFlashUnknownTypeAndNoUpdateModeShowInTheLoaderBlock) {
  Rig blank("blank-flash");
  int alternate = 0;
  ASSERT_EQ(EnterAndRead(blank.T(), blank.Drive(0).Loader().idAddress, alternate), 1);
  EXPECT_TRUE(std::all_of(blank.T().DataBuffer().begin(), blank.T().DataBuffer().begin() + 8,
                          [](std::uint8_t b) { return b == 0xFF; }));

  Rig unknown("unknown-type");
  ASSERT_EQ(EnterAndRead(unknown.T(), unknown.Drive(0).Loader().idAddress, alternate), 1);
  EXPECT_FALSE(FindDriveFamily(unknown.T().DataBuffer().first(8)).has_value());

  Rig known("default");
  ASSERT_EQ(EnterAndRead(known.T(), known.Drive(0).Loader().idAddress, alternate), 1);
  const auto match = FindDriveFamily(known.T().DataBuffer().first(8));
  ASSERT_TRUE(match.has_value());
  EXPECT_EQ(match->family, 6);

  Rig stuck("no-update-mode");
  EXPECT_EQ(EnterUpdateMode(stuck.T(), 1), 0);
  ASSERT_EQ(Inquiry(stuck.T()), 1);
  EXPECT_EQ(FindLoaderEntry(ProductOf(stuck.T())), -1);
  EXPECT_FALSE(stuck.Drive(0).InUpdateMode());

  Rig loader("loader-mode");
  ASSERT_EQ(Inquiry(loader.T()), 1);
  EXPECT_GE(FindLoaderEntry(ProductOf(loader.T())), 0);
}

TEST(SimDrive, ReadsStraddlingTheEndOfFlashAreFilledAsErased) {
  // Family 1 keeps its loader block 0x7C004 bytes in: its last 4 bytes lie past 512 KiB.
  DriveIdentity id;
  id.product = NormalProductId(1);
  testing::TempDir dir;
  SimMachine m(kPlatformNt, dir.path());
  std::vector<std::uint8_t> flash(kSmallImageSize, 0x11);
  m.AddDrive(std::make_unique<SimDrive>(1, id, flash), Attachment{"\\\\.\\cdrom0"});
  ScsiTransport t(m);
  TransportMessage msg;
  ASSERT_TRUE(t.SelectTransport(&msg));
  int alternate = 0;
  ASSERT_EQ(EnterAndRead(t, m.Drive(0).Loader().idAddress, alternate), 1);
  EXPECT_EQ(t.DataBuffer()[kFirmwareBlockSize - 5], 0x11);
  EXPECT_EQ(t.DataBuffer()[kFirmwareBlockSize - 4], 0xFF);
}

}  // namespace
}  // namespace orvel::sim
