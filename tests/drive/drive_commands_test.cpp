#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "drive/drive_commands.h"
#include "tests/support/fake_platform.h"
#include "tests/support/recording_observer.h"

namespace orvel {
namespace {

using testing::FakePlatform;
using testing::RecordingObserver;
using Bytes = std::vector<std::uint8_t>;

// How the fake drive answers one pass-through command.
struct Answer {
  std::uint8_t status = kStatusGood;
  std::uint8_t asc = 0, ascq = 0;
  std::uint32_t delivered = kDataBufferSize;  // DataTransferLength written back
  std::uint8_t fill = 0xA5;                   // data bytes that arrive
};

class DriveCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.mode = TransportMode::CdromDevice;
    p.devices = {"\\\\.\\cdrom0"};
    t.SetObserver(&obs);
    p.responder = [this](const std::string&, std::span<std::uint8_t> b) {
      Answer a;
      if (!answers.empty()) {
        a = answers.front();
        answers.pop_front();
      }
      b[spt::kScsiStatus] = a.status;
      if (a.status == kStatusCheckCondition) {
        return testing::CheckCondition(b, a.asc, a.ascq);
      }
      if (b[spt::kDataIn] == spt::SCSI_IOCTL_DATA_IN) {
        const std::uint32_t asked = GetLe32(b, spt::kDataTransferLength);
        const std::uint32_t n = std::min(asked, a.delivered);
        std::fill_n(b.begin() + spt::kDataArea, n, a.fill);
        PutLe32(b, spt::kDataTransferLength, n);
      }
      return PassThroughResult::Done;
    };
  }
  const RecordingObserver::Entry& Last() const { return obs.seen.back(); }

  FakePlatform p;
  ScsiTransport t{p};
  RecordingObserver obs;
  std::deque<Answer> answers;
};

TEST_F(DriveCommandTest, EachCommandSendsItsExactCdbDirectionAndLength) {
  EXPECT_EQ(Inquiry(t), 1);
  EXPECT_EQ(Last().cdb, (Bytes{0x12, 0, 0, 0, 0x24, 0}));
  EXPECT_EQ(Last().direction, DataIn);
  EXPECT_EQ(Last().length, 36u);
  EXPECT_EQ(p.passThroughBlocks.back().size(), 116u);

  RequestSense(t);
  EXPECT_EQ(Last().cdb, (Bytes{0x03, 0, 0, 0, 0x0E, 0}));
  EXPECT_EQ(Last().direction, DataIn);
  EXPECT_EQ(Last().length, 14u);

  FinishTransfer(t, 1);
  EXPECT_EQ(Last().cdb, (Bytes{0xE0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Last().direction, DataNone);
  EXPECT_EQ(Last().length, 0u);
  EXPECT_EQ(p.passThroughBlocks.back().size(), 80u);
  EXPECT_EQ(p.passThroughBlocks.back()[spt::kDataIn], spt::SCSI_IOCTL_DATA_UNSPECIFIED);

  SendImageChunk(t, 15360, ChunkForm::Twelve);
  EXPECT_EQ(Last().cdb, (Bytes{0xAA, 0, 0, 0, 0, 0, 0x3C, 0x00, 0, 0, 0, 0}));
  EXPECT_EQ(Last().direction, DataOut);
  EXPECT_EQ(Last().length, 16384u);
  EXPECT_EQ(p.passThroughBlocks.back().size(), 16464u);

  SendImageChunk(t, 1024, ChunkForm::Ten);
  EXPECT_EQ(Last().cdb, (Bytes{0xE2, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0}));
  EXPECT_EQ(Last().length, 16384u) << "the whole buffer goes, whatever the chunk";

  PollRewriteStatus(t);
  EXPECT_EQ(Last().cdb, (Bytes{0x00, 0, 0, 0, 0, 0x80}));
  EXPECT_EQ(Last().direction, DataNone);

  EnterUpdateMode(t, 1);
  EXPECT_EQ(Last().cdb, (Bytes{0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0x40}));
  EnterUpdateMode(t, 2);
  EXPECT_EQ(Last().cdb, (Bytes{0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}));

  int alternate = 0;
  ReadFirmwareBlock(t, 0x7C004, alternate);
  EXPECT_EQ(Last().cdb, (Bytes{0xE3, 0, 0x00, 0x07, 0xC0, 0x04, 0x00, 0x40, 0, 0, 0, 0}));
  EXPECT_EQ(Last().direction, DataIn);
  EXPECT_EQ(Last().length, 16384u);

  // No byte of a longer earlier CDB survives in the pass-through block.
  Inquiry(t);
  const auto& b = p.passThroughBlocks.back();
  for (std::size_t i = 6; i < 16; ++i) {
    EXPECT_EQ(b[spt::kCdb + i], 0) << i;
  }
}

TEST_F(DriveCommandTest, ChunkDataGoesOutFromTheStartOfTheBuffer) {
  std::fill(t.DataBuffer().begin(), t.DataBuffer().end(), std::uint8_t{0x11});
  std::fill_n(t.DataBuffer().begin(), 2048, std::uint8_t{0x22});
  EXPECT_EQ(SendImageChunk(t, 2048, ChunkForm::Twelve), 1);
  const auto& b = p.passThroughBlocks.back();
  EXPECT_EQ(b[spt::kDataArea], 0x22);
  EXPECT_EQ(b[spt::kDataArea + 2047], 0x22);
  EXPECT_EQ(b[spt::kDataArea + 2048], 0x11);
  EXPECT_EQ(Last().cdb[6], 0x08);
  EXPECT_EQ(Last().cdb[7], 0x00);
}

TEST_F(DriveCommandTest, StartRewriteLoaderByteFollowsCheckBoxAndFlags) {
  struct Case {
    int checked, forced, barred;
    std::uint8_t byte9;
  };
  const Case cases[] = {
      {0, 0, 0, 0x00}, {1, 0, 0, 0x40}, {0, 1, 0, 0x40}, {1, 1, 0, 0x40},
      {1, 0, 1, 0x00}, {0, 1, 1, 0x00}, {1, 1, 1, 0x00},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartRewrite(t, c.checked, c.forced, c.barred), 1);
    EXPECT_EQ(Last().cdb, (Bytes{0xE1, 0, 0, 0, 0, 0, 0, 0, 0, c.byte9}))
        << c.checked << c.forced << c.barred;
  }
}

TEST_F(DriveCommandTest, InquiryClearsItsAreaBeforeSending) {
  std::fill(t.DataBuffer().begin(), t.DataBuffer().end(), std::uint8_t{0x77});
  answers.push_back({kStatusGood, 0, 0, 0, 0x41});  // nothing arrives
  EXPECT_EQ(Inquiry(t), 1);
  const auto& sent = p.passThroughBlocks.back();
  EXPECT_EQ(sent[spt::kDataArea], 0x00);
  EXPECT_EQ(sent[spt::kDataArea + 35], 0x00);
  EXPECT_EQ(t.DataBuffer()[0], 0x00);
  EXPECT_EQ(t.DataBuffer()[36], 0x77) << "only the INQUIRY area is cleared";
}

TEST_F(DriveCommandTest, ReadFallsBackOnceToTheAlternateFormAndRemembersIt) {
  int alternate = 0;
  answers = {{kStatusCheckCondition, 0x20, 0x00}, {}};
  EXPECT_EQ(ReadFirmwareBlock(t, 0x4000, alternate), 1);
  EXPECT_EQ(alternate, 1);
  ASSERT_EQ(obs.seen.size(), 2u);
  EXPECT_EQ(obs.seen[0].cdb[0], 0xE3);
  EXPECT_EQ(obs.seen[1].cdb, (Bytes{0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 0x72, 0, 0}));
  EXPECT_EQ(t.DataBuffer()[16383], 0xA5);

  EXPECT_EQ(ReadFirmwareBlock(t, 0x8000, alternate), 1);
  ASSERT_EQ(obs.seen.size(), 3u);
  EXPECT_EQ(obs.seen[2].cdb[0], 0xA8) << "once set, every read takes the alternate form";

  // A failing alternate read does not clear the flag.
  answers = {{kStatusCheckCondition, 0x3A, 0x00}};
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);
  EXPECT_EQ(alternate, 1);
  EXPECT_EQ(obs.seen.size(), 4u);
}

TEST_F(DriveCommandTest, ReadDoesNotFallBackOnOtherSense) {
  int alternate = 0;
  answers = {{kStatusCheckCondition, 0x20, 0x01}, {}};
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);
  EXPECT_EQ(obs.seen.size(), 1u);
  EXPECT_EQ(alternate, 0);

  answers = {{kStatusCheckCondition, 0x20, 0x00}, {kStatusCheckCondition, 0x20, 0x00}};
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);
  EXPECT_EQ(obs.seen.size(), 3u);
  EXPECT_EQ(alternate, 0) << "both forms rejected";
  EXPECT_EQ(t.lastAsc, 0x20);
}

TEST_F(DriveCommandTest, ShortReadFailsAndLeavesNoStaleBytes) {
  int alternate = 0;
  std::fill(t.DataBuffer().begin(), t.DataBuffer().end(), std::uint8_t{0x5C});
  Answer shortRead;
  shortRead.delivered = 8192;
  answers = {shortRead};
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);
  EXPECT_EQ(obs.seen.size(), 1u) << "a short read is no reason for the alternate form";
  EXPECT_EQ(t.DataBuffer()[8191], 0xA5);
  for (std::size_t i = 8192; i < kDataBufferSize; i += 1024) {
    EXPECT_EQ(t.DataBuffer()[i], 0x00) << i;
  }

  // The same for an alternate read that comes up short: the flag stays clear.
  answers = {{kStatusCheckCondition, 0x20, 0x00}, shortRead};
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);
  EXPECT_EQ(alternate, 0);
}

TEST_F(DriveCommandTest, SenseOfTheLastCommandIsKept) {
  answers = {{kStatusCheckCondition, 0xF7, 0x02}};
  EXPECT_EQ(PollRewriteStatus(t), 0);
  EXPECT_EQ(t.lastAsc, 0xF7);
  EXPECT_EQ(t.lastAscq, 0x02);
  EXPECT_EQ(RequestSense(t), 1);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_EQ(t.lastAscq, 0);
}

}  // namespace
}  // namespace orvel
