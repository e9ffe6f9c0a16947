#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "drive/drive_commands.h"
#include "tests/support/fake_platform.h"
#include "tests/support/recording_observer.h"
#include "transport/scsi_transport.h"

namespace orvel {
namespace {

using testing::AspiStep;
using testing::FakePlatform;
using testing::RecordingObserver;

class AspiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    p.platformId = kPlatformWindows;
    p.supportInfo = 0x0102;
    TransportMessage msg;
    ASSERT_TRUE(t.SelectTransport(&msg));
    t.SetObserver(&obs);
    t.address = DriveAddress{1, 5, 0};
  }
  // A 6-byte command with the given direction.
  int Send(std::uint8_t opcode, std::uint8_t direction, std::uint32_t length) {
    t.Request().cdb.fill(0);
    t.Request().cdb[0] = opcode;
    t.Request().cdb[4] = 0x24;
    t.Request().cdbLength = 6;
    t.Request().direction = direction;
    return t.ExecuteCommand(length);
  }
  AspiStep Pending(bool finishesInWait, std::uint8_t status = srb::SS_COMP) {
    AspiStep s;
    s.finishesAtOnce = false;
    s.finishesInWait = finishesInWait;
    s.finalStatus = status;
    return s;
  }
  AspiStep Err(std::uint8_t asc, std::uint8_t ascq) {
    AspiStep s;
    s.finalStatus = srb::SS_ERR;
    s.asc = asc;
    s.ascq = ascq;
    return s;
  }

  FakePlatform p;
  ScsiTransport t{p};
  RecordingObserver obs;
};

TEST_F(AspiTest, RequestBlockCarriesEveryFieldOfTheCommand) {
  p.aspiSteps.push_back({});
  ASSERT_EQ(Send(0x12, DataIn, 36), 1);
  ASSERT_EQ(p.sentSrbs.size(), 1u);
  const auto& b = p.sentSrbs[0];
  ASSERT_EQ(b.size(), srb::kSize);
  EXPECT_EQ(b[srb::kCmd], srb::SC_EXEC_SCSI_CMD);
  EXPECT_EQ(b[srb::kStatus], srb::SS_PENDING);
  EXPECT_EQ(b[srb::kHaId], 1);
  EXPECT_EQ(b[srb::kFlags], 0x48);
  EXPECT_EQ(b[srb::kTarget], 5);
  EXPECT_EQ(b[srb::kLun], 0);
  EXPECT_EQ(GetLe32(b, srb::kBufLen), 36u);
  EXPECT_EQ(GetLe32(b, srb::kBufPointer), 0x5A17u);
  EXPECT_EQ(b[srb::kSenseLen], 16);
  EXPECT_EQ(b[srb::kCdbLen], 6);
  EXPECT_NE(GetLe32(b, srb::kPostProc), 0u);
  EXPECT_EQ(b[srb::kCdbByte], 0x12);
  EXPECT_EQ(b[srb::kCdbByte + 4], 0x24);
  // The registered buffer is the transport's data buffer.
  EXPECT_EQ(p.RegisteredBuffer().data(), t.DataBuffer().data());
  EXPECT_EQ(p.RegisteredBuffer().size(), kDataBufferSize);

  p.aspiSteps.push_back({});
  p.aspiSteps.push_back({});
  Send(0xAA, DataOut, 16384);
  Send(0x00, DataNone, 0);
  EXPECT_EQ(p.sentSrbs[1][srb::kFlags], 0x50);
  EXPECT_EQ(GetLe32(p.sentSrbs[1], srb::kBufLen), 16384u);
  EXPECT_EQ(p.sentSrbs[2][srb::kFlags], 0x40);
  EXPECT_EQ(GetLe32(p.sentSrbs[2], srb::kBufPointer), 0x5A17u);
}

TEST_F(AspiTest, FinishedAtOnceIsEvaluatedWithoutWaitingAndDataArrives) {
  AspiStep s;
  s.data = {0x05, 0x80, 0x00, 0x02};
  p.aspiSteps.push_back(s);
  EXPECT_EQ(Send(0x12, DataIn, 36), 1);
  EXPECT_TRUE(p.waits.empty());
  EXPECT_EQ(t.DataBuffer()[1], 0x80);
  EXPECT_EQ(t.lastTransferred, 4u) << "the rest of the buffer still held the read pattern";
  EXPECT_TRUE(std::all_of(t.DataBuffer().begin() + 4, t.DataBuffer().begin() + 36, [](std::uint8_t b) { return b == 0; }))
      << "what did not arrive reads as zero";
  EXPECT_TRUE(p.liveEvents.empty()) << "the finished request's event must be released";
  ASSERT_EQ(obs.seen.size(), 1u);
  EXPECT_EQ(obs.seen[0].outcome, CommandOutcome::Good);
  EXPECT_EQ(obs.seen[0].cdb.size(), 6u);
  EXPECT_EQ(obs.seen[0].length, 36u);
}

TEST_F(AspiTest, PendingRequestIsAwaitedForAtMostFiveSeconds) {
  p.aspiSteps.push_back(Pending(true));
  EXPECT_EQ(Send(0x00, DataNone, 0), 1);
  ASSERT_EQ(p.waits.size(), 1u);
  EXPECT_EQ(p.waits[0].second, 5000u);
  EXPECT_EQ(p.waits[0].first, GetLe32(p.sentSrbs[0], srb::kPostProc));
  EXPECT_TRUE(p.liveEvents.empty());
}

TEST_F(AspiTest, SenseCodesFollowEachOutcome) {
  p.aspiSteps.push_back(Err(0x20, 0x00));
  p.aspiSteps.back().senseKey = 0x5;
  EXPECT_EQ(Send(0xE3, DataIn, 16384), 0);
  EXPECT_EQ(t.lastAsc, 0x20);
  EXPECT_EQ(t.lastAscq, 0x00);
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::CheckCondition);
  EXPECT_EQ(obs.seen.back().senseKey, 0x5);
  EXPECT_EQ(obs.seen.back().asc, 0x20);
  EXPECT_TRUE(obs.seen.back().data.empty()) << "a refused read brought no data";

  p.aspiSteps.push_back(Err(0x3A, 0x01));
  EXPECT_EQ(Send(0x00, DataNone, 0), 0);
  EXPECT_EQ(t.lastAsc, 0x3A);
  EXPECT_EQ(t.lastAscq, 0x01);

  p.aspiSteps.push_back({});
  EXPECT_EQ(Send(0x00, DataNone, 0), 1);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_EQ(t.lastAscq, 0);

  // An aborted request fails with no sense, even though the sense area holds old bytes.
  p.aspiSteps.push_back(Err(0x3A, 0x02));
  Send(0x00, DataNone, 0);
  AspiStep aborted;
  aborted.finalStatus = srb::SS_ABORTED;
  p.aspiSteps.push_back(aborted);
  EXPECT_EQ(Send(0x00, DataNone, 0), 0);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_EQ(t.lastAscq, 0);
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::Failed);
  EXPECT_EQ(t.lastTransferred, 0u);
}

TEST_F(AspiTest, TimeOutKeepsEarlierSenseAndResetsTheEvent) {
  p.aspiSteps.push_back(Err(0xF7, 0x01));
  Send(0x00, DataNone, 0);
  p.aspiSteps.push_back(Pending(false));
  EXPECT_EQ(Send(0x00, DataNone, 0), 0);
  EXPECT_EQ(t.lastAsc, 0xF7);
  EXPECT_EQ(t.lastAscq, 0x01);
  EXPECT_EQ(p.waitedMs, 5000u);
  const EventHandle ev = GetLe32(p.sentSrbs.back(), srb::kPostProc);
  ASSERT_EQ(p.resetEvents.size(), 1u);
  EXPECT_EQ(p.resetEvents[0], ev);
  EXPECT_EQ(p.liveEvents.count(ev), 1u) << "the layer may still signal it";
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::Timeout);
}

TEST_F(AspiTest, HeldRequestBlocksTheNextCommandUntilTheLayerLetsGo) {
  p.aspiSteps.push_back(Pending(false));
  EXPECT_EQ(Send(0xE1, DataNone, 0), 0);
  const EventHandle held = GetLe32(p.sentSrbs.back(), srb::kPostProc);
  ASSERT_TRUE(p.HoldsRequest());
  const std::vector<std::uint8_t> before(t.AspiBlock().begin(), t.AspiBlock().end());

  // Still held after a bounded wait: fails, sends nothing, leaves the block alone.
  p.aspiSteps.push_back({});
  t.lastAsc = 0x11;
  EXPECT_EQ(Send(0x12, DataIn, 36), 0);
  EXPECT_EQ(p.sentSrbs.size(), 1u);
  EXPECT_EQ(p.waits.back().first, held);
  EXPECT_EQ(p.waits.back().second, 5000u);
  EXPECT_EQ(std::vector<std::uint8_t>(t.AspiBlock().begin(), t.AspiBlock().end()), before);
  EXPECT_EQ(t.lastAsc, 0x11);
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::Timeout);

  // Once the layer has finished it, the next command goes out and the old event is released.
  p.FinishHeldRequest();
  EXPECT_EQ(Send(0x12, DataIn, 36), 1);
  EXPECT_EQ(p.sentSrbs.size(), 2u);
  EXPECT_EQ(p.sentSrbs[1][srb::kCdbByte], 0x12);
  EXPECT_EQ(p.liveEvents.count(held), 0u);
  EXPECT_TRUE(p.liveEvents.empty());
}

TEST_F(AspiTest, NoEventMeansNothingIsSent) {
  p.aspiSteps.push_back(Err(0x3A, 0x00));
  Send(0x00, DataNone, 0);
  p.failCreateEvent = true;
  p.aspiSteps.push_back({});
  EXPECT_EQ(Send(0x00, DataNone, 0), 0);
  EXPECT_EQ(p.sentSrbs.size(), 1u);
  EXPECT_EQ(t.lastAsc, 0x3A);
}

// ASPI tells no residual: before each DataIn command the buffer holds a fresh
// 16-byte pattern, and an answer ends where the pattern begins.
TEST_F(AspiTest, AnAnswerEndsWhereTheReadPatternBegins) {
  struct Row {
    std::uint32_t answered;       // bytes the drive writes
    std::uint32_t patternAtEnd;   // of those, trailing bytes equal to the pattern by chance
    std::uint32_t transferred;
    int read;                     // ReadFirmwareBlock
  };
  const Row rows[] = {
      {kDataBufferSize, 0, kDataBufferSize, 1},
      {kDataBufferSize, 3, kDataBufferSize, 1},  // coincidence in fewer than four bytes is data
      {kDataBufferSize - 4, 0, kDataBufferSize - 4, 0},
      {kDataBufferSize - 15, 0, kDataBufferSize - 15, 0},
      {kDataBufferSize / 2, 0, kDataBufferSize / 2, 0},
      {0, 0, 0, 0},
  };
  for (const Row& row : rows) {
    AspiStep s;
    s.answer = [row](std::span<std::uint8_t> buffer) {
      const std::vector<std::uint8_t> pattern(buffer.begin(), buffer.begin() + kReadPatternSize);
      for (std::uint32_t i = 0; i < row.answered; ++i) buffer[i] = static_cast<std::uint8_t>(0xA5 ^ i);
      for (std::uint32_t i = row.answered - row.patternAtEnd; i < row.answered; ++i) {
        buffer[i] = pattern[i % kReadPatternSize];
      }
    };
    p.aspiSteps.push_back(s);
    int alternate = 0;
    EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), row.read) << row.answered;
    EXPECT_EQ(t.lastTransferred, row.transferred) << row.answered;
    const auto data = t.DataBuffer();
    EXPECT_TRUE(std::all_of(data.begin() + row.transferred, data.end(), [](std::uint8_t b) { return b == 0; }))
        << "no pattern byte may pass for data: " << row.answered;
    if (row.answered > 0) {
      EXPECT_EQ(data[0], 0xA5) << row.answered;
    }
  }

  // The pattern repeats every 16 bytes and is new for every read.
  ASSERT_EQ(p.buffersAtSend.size(), std::size(rows));
  const auto& first = p.buffersAtSend[0];
  for (std::size_t i = kReadPatternSize; i < first.size(); ++i) ASSERT_EQ(first[i], first[i - kReadPatternSize]) << i;
  EXPECT_NE(std::vector(first.begin(), first.begin() + kReadPatternSize),
            std::vector(p.buffersAtSend[1].begin(), p.buffersAtSend[1].begin() + kReadPatternSize));
}

TEST_F(AspiTest, OnlyDataInCommandsAreFilledWithThePattern) {
  std::fill(t.DataBuffer().begin(), t.DataBuffer().end(), std::uint8_t{0x11});
  p.aspiSteps.push_back({});
  p.aspiSteps.push_back({});
  EXPECT_EQ(Send(0xAA, DataOut, kDataBufferSize), 1);
  EXPECT_EQ(Send(0x00, DataNone, 0), 1);
  for (const auto& buffer : p.buffersAtSend) {
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0x11; }))
        << "a chunk goes out as it lies in the buffer";
  }
  EXPECT_EQ(t.lastTransferred, 0u);
}

TEST_F(AspiTest, OversizedTransferIsRefusedBeforeAnyBlockIsFilled) {
  p.aspiSteps.push_back({});
  EXPECT_EQ(Send(0xE3, DataIn, kDataBufferSize + 1), 0);
  EXPECT_TRUE(p.sentSrbs.empty());
  ASSERT_EQ(obs.seen.size(), 1u);
  EXPECT_EQ(obs.seen[0].outcome, CommandOutcome::Failed);
}

}  // namespace
}  // namespace orvel
