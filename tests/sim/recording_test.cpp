// SHA-256 against the FIPS 180-4 examples, and the recording format's
// reading of damaged and hostile files.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "drive/discovery.h"
#include "sim/recording.h"
#include "sim/replay_platform.h"
#include "sim/scenarios.h"
#include "tests/support/memory_files.h"
#include "transport/scsi_transport.h"

namespace orvel {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Sha256, MatchesTheStandardsExamplesWholeAndInPieces) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DigestHex(Sha256Of(Bytes(c.message))), c.digest) << c.message.size() << " bytes";
    // Pieces that straddle the 64-byte blocks give the same digest.
    for (const std::size_t piece : {std::size_t{1}, std::size_t{55}, std::size_t{63}, std::size_t{65}}) {
      Sha256 sha;
      for (std::size_t at = 0; at < c.message.size(); at += piece) {
        sha.Add(Bytes(c.message).subspan(at, std::min(piece, c.message.size() - at)));
      }
      EXPECT_EQ(DigestHex(sha.Finish()), c.digest) << c.message.size() << " bytes in pieces of " << piece;
    }
  }
}

constexpr const char* kHeader =
    R"({"recording":"orvel","format":1,"version":"1.0.0","platformId":2,"randomSeed":7,"routes":{"cdrom":{"numbers":[0],"names":{"0":"\\\\.\\cdrom0"}}}})";

TEST(RecordingFile, DamagedOrHostileFilesAreRefusedWithTheirLine) {
  struct Case {
    std::string text;
    const char* line;
  };
  const std::string h = std::string(kHeader) + "\n";
  const Case cases[] = {
      {"", "line 0"},
      {"not json\n", "line 1"},
      {R"({"recording":"other","format":1})" "\n", "line 1"},
      {R"({"recording":"orvel","format":2,"version":"1","platformId":2,"randomSeed":0})" "\n", "line 1"},
      {R"({"recording":"orvel","format":1,"version":"1","platformId":-2,"randomSeed":0})" "\n", "line 1"},
      {h + R"({"op":"format-disk","device":"x"})" "\n", "line 2"},
      {h + R"({"op":"open","device":"x"})" "\n", "line 2"},
      {h + R"({"op":"open","device":7,"ok":true})" "\n", "line 2"},
      // A CDB longer than 16 bytes, a transfer longer than the buffer, hex that is not hex.
      {h + R"({"op":"scsi","device":"x","cdb":"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00","dir":"none","length":0,"status":0,"ms":0})" "\n", "line 2"},
      {h + R"({"op":"scsi","device":"x","cdb":"28","dir":"in","length":99999,"status":0,"ms":0,"in":""})" "\n", "line 2"},
      {h + R"({"op":"scsi","device":"x","cdb":"2g","dir":"none","length":0,"status":0,"ms":0})" "\n", "line 2"},
      // Data of another size than the request's, a digest of the wrong length.
      {h + R"({"op":"scsi","device":"x","cdb":"2a","dir":"out","length":4,"out":"0102","status":0,"ms":0})" "\n", "line 2"},
      {h + R"({"op":"scsi","device":"x","cdb":"28","dir":"in","length":4,"inSha256":"abcd","inSize":4,"status":0,"ms":0})" "\n", "line 2"},
      {h + R"({"op":"scsi","device":"x","cdb":"00","dir":"sideways","length":0,"status":0,"ms":0})" "\n", "line 2"},
      {h + R"({"op":"scsi","device":"x","cdb":"00","dir":"none","length":0,"status":256,"ms":0})" "\n", "line 2"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseRecording(c.text, &error).has_value()) << c.text;
    EXPECT_TRUE(error.starts_with(c.line)) << error << "\n" << c.text;
  }
  std::string error;
  EXPECT_TRUE(ParseRecording(h, &error).has_value()) << error;
}

// A discovery recorded on each route reads back as the same file, and its
// replay gives the same drives.
TEST(RecordingFile, RecordedDiscoveryWritesBackUnchangedAndReplaysTheSameDrives) {
  for (const char* scenario : {"default", "aspi", "aspi-pending", "drive-letter"}) {
    std::string error;
    std::unique_ptr<Platform> machine = sim::MakeScenario(scenario, "/nonexistent/orvel-test", &error);
    ASSERT_TRUE(machine) << error;
    auto recording = std::make_shared<Recording>();
    RecordingPlatform recorder(std::move(machine), recording, "1.2.3", false);
    std::vector<DriveEntry> recorded;
    {
      ScsiTransport transport(recorder);
      TransportMessage message;
      ASSERT_TRUE(transport.SelectTransport(&message)) << scenario;
      recorded = DiscoverDrives(transport);
    }
    ASSERT_FALSE(recorded.empty()) << scenario;
    // The header names every device that answered INQUIRY, the unsupported ones too.
    for (const DriveEntry& drive : recorded) {
      EXPECT_TRUE(std::any_of(recording->header.drives.begin(), recording->header.drives.end(),
                              [&](const RecordedDrive& d) { return d.product == drive.product; }))
          << scenario << ": " << drive.label;
    }

    const std::string text = RecordingText(*recording);
    std::optional<Recording> read = ParseRecording(text, &error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(RecordingText(*read), text) << scenario;

    auto state = std::make_shared<ReplayState>();
    ReplayPlatform replay(std::move(*read), std::make_unique<testing::MemoryFileSystem>(), state);
    ScsiTransport transport(replay);
    TransportMessage message;
    ASSERT_TRUE(transport.SelectTransport(&message)) << scenario;
    const std::vector<DriveEntry> replayed = DiscoverDrives(transport);
    ASSERT_EQ(replayed.size(), recorded.size()) << scenario;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
      EXPECT_EQ(replayed[i].label, recorded[i].label) << scenario;
      EXPECT_EQ(replayed[i].device, recorded[i].device) << scenario;
    }
    state->NoteEnd();
    EXPECT_FALSE(state->departure) << scenario << ": " << DepartureText(*state->departure);
    EXPECT_EQ(state->used, state->total) << scenario;
  }
}

// A read held only as a digest is answered with what the program sent with
// that digest, else with zero bytes, and counted.
TEST(RecordingFile, ReadsHeldAsDigestsAreAnsweredFromDataSentElseWithZeros) {
  const std::string h = std::string(kHeader) + "\n";
  std::vector<std::uint8_t> image(kDataBufferSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const std::string digest = DigestHex(Sha256Of(image));
  const std::string other = DigestHex(Sha256Of(std::vector<std::uint8_t>(kDataBufferSize, 0x5A)));
  const std::string size = std::to_string(kDataBufferSize);
  const std::string open = R"({"op":"open","device":"\\\\.\\cdrom0","ok":true})" "\n";
  const std::string text =
      h + open + open + R"({"op":"scsi","device":"\\\\.\\cdrom0","cdb":"2a","dir":"out","length":)" + size +
      R"(,"outSha256":")" + digest + R"(","outSize":)" + size + R"(,"status":0,"ms":1})" "\n" + open +
      R"({"op":"scsi","device":"\\\\.\\cdrom0","cdb":"28","dir":"in","length":)" + size + R"(,"inSha256":")" +
      digest + R"(","inSize":)" + size + R"(,"delivered":)" + size + R"(,"status":0,"ms":1})" "\n" + open +
      R"({"op":"scsi","device":"\\\\.\\cdrom0","cdb":"28","dir":"in","length":)" + size + R"(,"inSha256":")" +
      other + R"(","inSize":)" + size + R"(,"delivered":)" + size + R"(,"status":0,"ms":1})" "\n";
  std::string error;
  std::optional<Recording> recording = ParseRecording(text, &error);
  ASSERT_TRUE(recording) << error;
  auto state = std::make_shared<ReplayState>();
  ReplayPlatform replay(std::move(*recording), std::make_unique<testing::MemoryFileSystem>(), state);
  ScsiTransport transport(replay);
  TransportMessage message;
  ASSERT_TRUE(transport.SelectTransport(&message));
  transport.mode = TransportMode::CdromDevice;
  auto send = [&](std::uint8_t opcode, std::uint8_t direction) {
    ScsiRequest& r = transport.Request();
    r.cdb = {opcode};
    r.cdbLength = 1;
    r.direction = direction;
    return transport.ExecuteCommand(kDataBufferSize);
  };
  std::copy(image.begin(), image.end(), transport.DataBuffer().begin());
  // SelectTransport's probe opened cdrom0 once: the recording begins with it.
  EXPECT_EQ(send(0x2A, DataOut), 1);
  std::fill(transport.DataBuffer().begin(), transport.DataBuffer().end(), std::uint8_t{0xEE});
  EXPECT_EQ(send(0x28, DataIn), 1);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), transport.DataBuffer().begin()));
  EXPECT_EQ(state->filledReads, 0u);
  EXPECT_EQ(send(0x28, DataIn), 1);
  EXPECT_TRUE(std::all_of(transport.DataBuffer().begin(), transport.DataBuffer().end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(state->filledReads, 1u);
  state->NoteEnd();
  EXPECT_FALSE(state->departure) << DepartureText(*state->departure);
}

}  // namespace
}  // namespace orvel
