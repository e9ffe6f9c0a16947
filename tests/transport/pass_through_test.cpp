#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"
#include "tests/support/recording_observer.h"
#include "transport/scsi_transport.h"

namespace orvel {
namespace {

using testing::CheckCondition;
using testing::FakePlatform;
using testing::Good;
using testing::RecordingObserver;

class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.mode = TransportMode::CdromDevice;
    t.SetObserver(&obs);
    p.devices = {"\\\\.\\cdrom0", "\\\\.\\cdrom2", "\\\\.\\g:"};
  }
  int Send(std::uint8_t opcode, std::uint8_t cdbLength, std::uint8_t direction, std::uint32_t length) {
    t.Request().cdb.fill(0xEE);  // stands for what an earlier command left behind
    t.Request().cdb[0] = opcode;
    t.Request().cdbLength = cdbLength;
    t.Request().direction = direction;
    return t.ExecuteCommand(length);
  }
  FakePlatform p;
  ScsiTransport t{p};
  RecordingObserver obs;
};

TEST_F(PassThroughTest, HeaderIsFilledForEveryCommand) {
  ASSERT_EQ(Send(0x12, 6, DataIn, 36), 1);
  ASSERT_EQ(p.passThroughBlocks.size(), 1u);
  const auto& b = p.passThroughBlocks[0];
  EXPECT_EQ(b.size(), 116u);
  EXPECT_EQ(GetLe16(b, spt::kLength), 44u);
  EXPECT_EQ(b[spt::kScsiStatus], 0xFF);
  EXPECT_EQ(b[spt::kPathId], 0);
  EXPECT_EQ(b[spt::kTargetId], 0);
  EXPECT_EQ(b[spt::kLun], 0);
  EXPECT_EQ(b[spt::kCdbLength], 6);
  EXPECT_EQ(b[spt::kSenseInfoLength], 14);
  EXPECT_EQ(b[spt::kDataIn], spt::SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(GetLe32(b, spt::kDataTransferLength), 36u);
  EXPECT_EQ(GetLe32(b, spt::kTimeOutValue), 2u);
  EXPECT_EQ(GetLe32(b, spt::kDataBufferOffset), 80u);
  EXPECT_EQ(GetLe32(b, spt::kSenseInfoOffset), 48u);
  EXPECT_EQ(b[spt::kCdb], 0x12);
  for (std::size_t i = 1; i < 12; ++i) {
    EXPECT_EQ(b[spt::kCdb + i], 0xEE) << "cdb byte " << i << " comes from the record";
  }
  for (std::size_t i = 12; i < 16; ++i) {
    EXPECT_EQ(b[spt::kCdb + i], 0) << "cdb byte " << i;
  }
  // The data area of the block is the transport's data buffer itself.
  EXPECT_EQ(t.PassThroughBlock().data() + spt::kDataArea, t.DataBuffer().data());
  EXPECT_EQ(t.PassThroughBlock().size(), 16464u);

  Send(0xAA, 12, DataOut, 16384);
  Send(0x00, 6, DataNone, 0);
  EXPECT_EQ(p.passThroughBlocks[1].size(), 16464u);
  EXPECT_EQ(p.passThroughBlocks[1][spt::kDataIn], spt::SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(p.passThroughBlocks[2].size(), 80u);
  EXPECT_EQ(p.passThroughBlocks[2][spt::kDataIn], spt::SCSI_IOCTL_DATA_UNSPECIFIED);
  EXPECT_EQ(GetLe32(p.passThroughBlocks[2], spt::kDataTransferLength), 0u);
}

TEST_F(PassThroughTest, DeviceIsOpenedAndClosedForEachCommandByModeAndNumber) {
  t.address.deviceNumber = 2;
  Send(0x00, 6, DataNone, 0);
  Send(0x00, 6, DataNone, 0);
  ASSERT_EQ(p.openAttempts.size(), 2u);
  EXPECT_EQ(p.openAttempts[0], "\\\\.\\cdrom2");
  EXPECT_EQ(p.openHandles, 0);

  t.mode = TransportMode::DriveLetter;
  t.address.deviceNumber = 3;
  EXPECT_EQ(Send(0x00, 6, DataNone, 0), 1);
  EXPECT_EQ(p.openAttempts.back(), "\\\\.\\g:");
  EXPECT_EQ(p.openHandles, 0);
}

TEST_F(PassThroughTest, OutcomesSetResultAndSense) {
  p.responder = [](const std::string&, std::span<std::uint8_t> b) {
    b[spt::kSenseArea + fixed_sense::kSenseKey] = 0xE2;  // filemark, EOM and ILI bits around NOT READY
    return CheckCondition(b, 0x3A, 0x00);
  };
  EXPECT_EQ(Send(0x00, 6, DataNone, 0), 0);
  EXPECT_EQ(t.lastAsc, 0x3A);
  EXPECT_EQ(t.lastAscq, 0x00);
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::CheckCondition);
  EXPECT_EQ(obs.seen.back().senseKey, 0x2);
  EXPECT_EQ(obs.seen.back().asc, 0x3A);
  EXPECT_TRUE(obs.seen.back().data.empty());

  p.responder = [](const std::string&, std::span<std::uint8_t> b) { return Good(b); };
  EXPECT_EQ(Send(0x00, 6, DataNone, 0), 1);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::Good);

  // BUSY and other statuses fail without sense.
  p.responder = [](const std::string&, std::span<std::uint8_t> b) {
    CheckCondition(b, 0x44, 0x00);
    b[spt::kScsiStatus] = 0x08;
    return PassThroughResult::Done;
  };
  t.lastAsc = 0x55;
  EXPECT_EQ(Send(0x00, 6, DataNone, 0), 0);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::Failed);

  // A failed call leaves ScsiStatus at 0xFF: failure, no sense.
  p.responder = [](const std::string&, std::span<std::uint8_t>) { return PassThroughResult::Failed; };
  t.lastAsc = 0x55;
  EXPECT_EQ(Send(0x00, 6, DataNone, 0), 0);
  EXPECT_EQ(t.lastAsc, 0);

  p.responder = [](const std::string&, std::span<std::uint8_t>) { return PassThroughResult::TimedOut; };
  EXPECT_EQ(Send(0x00, 6, DataNone, 0), 0);
  EXPECT_EQ(obs.seen.back().outcome, CommandOutcome::Timeout);

  // A device that does not open: failure with sense cleared.
  t.address.deviceNumber = 5;
  t.lastAsc = 0x55;
  t.lastAscq = 0x01;
  EXPECT_EQ(Send(0x00, 6, DataNone, 0), 0);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_EQ(t.lastAscq, 0);
  EXPECT_EQ(p.passThroughBlocks.size(), 5u);
  EXPECT_EQ(obs.seen.size(), 6u);
}

TEST_F(PassThroughTest, TransferredCountComesFromTheBackend) {
  p.responder = [](const std::string&, std::span<std::uint8_t> b) {
    b[spt::kScsiStatus] = kStatusGood;
    PutLe32(b, spt::kDataTransferLength, 20);
    return PassThroughResult::Done;
  };
  EXPECT_EQ(Send(0x12, 6, DataIn, 36), 1);
  EXPECT_EQ(t.lastTransferred, 20u);
  // The observer sees what arrived, not the asked length.
  EXPECT_EQ(obs.seen.back().data, std::vector<std::uint8_t>(t.DataBuffer().begin(), t.DataBuffer().begin() + 20));

  // A backend claiming more than was asked is held to the asked length.
  p.responder = [](const std::string&, std::span<std::uint8_t> b) {
    b[spt::kScsiStatus] = kStatusGood;
    PutLe32(b, spt::kDataTransferLength, 99999);
    return PassThroughResult::Done;
  };
  Send(0x12, 6, DataIn, 36);
  EXPECT_EQ(t.lastTransferred, 36u);

  // A backend that never writes it back leaves the asked length.
  p.responder = nullptr;
  Send(0xE3, 12, DataIn, 16384);
  EXPECT_EQ(t.lastTransferred, 16384u);

  // Data out: the whole asked length went, whatever the chunk inside it.
  t.DataBuffer()[0] = 0x5A;
  Send(0xAA, 12, DataOut, 16384);
  ASSERT_EQ(obs.seen.back().data.size(), 16384u);
  EXPECT_EQ(obs.seen.back().data[0], 0x5A);
}

TEST_F(PassThroughTest, MalformedRequestsNeverReachTheDevice) {
  EXPECT_EQ(Send(0xE3, 12, DataIn, 16385), 0);
  EXPECT_EQ(Send(0x12, 0, DataIn, 36), 0);
  EXPECT_EQ(Send(0x12, 17, DataIn, 36), 0);
  EXPECT_TRUE(p.openAttempts.empty());
  EXPECT_EQ(obs.seen.size(), 3u);
}

}  // namespace
}  // namespace orvel
