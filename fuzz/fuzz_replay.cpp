// Arbitrary bytes as a recording played back (--simulate=replay:FILE): the
// file comes from users, so reading it, writing it again and answering a
// program's requests from it must hold for any text. The route is chosen and
// the drives discovered from it, then the recording's own commands are sent
// to the first drive found.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "drive/discovery.h"
#include "fuzz/memory_directory.h"
#include "sim/recording.h"
#include "sim/replay_platform.h"
#include "transport/scsi_transport.h"

namespace {

constexpr std::size_t kMostCommands = 64;

void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::optional<Recording> recording = ParseRecording(text, &error);
  if (!recording) {
    Require(!error.empty());
    return 0;
  }
  // What is written reads back as the same recording.
  const std::string written = RecordingText(*recording);
  const std::optional<Recording> again = ParseRecording(written, &error);
  Require(again.has_value() && RecordingText(*again) == written);

  auto state = std::make_shared<ReplayState>();
  ReplayPlatform replay(*recording, std::make_unique<fuzz::MemoryDirectory>(), state);
  ScsiTransport transport(replay);
  TransportMessage message;
  if (!transport.SelectTransport(&message)) return 0;
  const std::vector<DriveEntry> drives = DiscoverDrives(transport);
  Require(state->used <= state->total);
  if (drives.empty()) return 0;
  transport.address = drives.front().address;
  std::size_t sent = 0;
  for (const RecordedRequest& r : recording->requests) {
    if (r.kind != RequestKind::Scsi || sent == kMostCommands) continue;
    ++sent;
    ScsiRequest& request = transport.Request();
    request.cdb.fill(0);
    std::copy(r.cdb.begin(), r.cdb.end(), request.cdb.begin());
    request.cdbLength = static_cast<std::uint8_t>(r.cdb.size());
    request.direction = r.direction;
    std::copy_n(r.dataOut.bytes.begin(), std::min<std::size_t>(r.dataOut.bytes.size(), kDataBufferSize),
                request.dataBuffer.begin());
    transport.ExecuteCommand(r.length);
    Require(transport.lastTransferred <= r.length);
  }
  state->NoteEnd();
  Require(state->used <= state->total);
  return 0;
}
