#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "drive/drive_commands.h"
#include "firmware/catalogue.h"
#include "update/update_procedure.h"
#include "update/update_steps.h"

namespace orvel {
namespace {

// The page of each rewrite phase reported as 0xF7/phase, indexed by the phase;
// where the bar then stands is the drive family's.
constexpr std::array<int, kRewritePhaseCount> kPhasePages{CheckingSum, Erasing, Writing, CheckingSumAgain};
constexpr std::uint8_t kNoPhase = 0xFF;

constexpr std::uint8_t kAscBusy = 0x00;
constexpr std::uint8_t kAscBusyToo = 0x20;
constexpr std::array<std::uint8_t, 3> kFinishVariants{0, 1, 2};

const char* FormName(ChunkForm form) { return form == ChunkForm::Twelve ? "12-byte" : "10-byte"; }

}  // namespace

int UpdateProcedure::RunFirmwareUpdate() {
  Platform& platform = transport_.GetPlatform();
  const auto fail = [this](std::string why) {
    lastAttempt.detail = std::move(why);
    return 0;
  };
  const auto sense = [this] { return update_steps::SenseText(transport_.lastAsc, transport_.lastAscq); };

  const std::string name = host_.SelectedSourceName();
  if (name.empty()) return fail("no source file is selected");

  LoadReport load;
  if (LoadSourceImage(platform.Files(), name, sourceEntryIndex, sourceFamily, driveFamily, imageBuffer, &load) == 0) {
    if (load.failure == LoadFailure::OpenFailed) host_.ShowFileError(name, load.fileError);
    return fail("source file \"" + name + "\" could not be loaded");
  }
  const FamilyTraits& traits = TraitsOf(driveFamily);
  const TransferGeometry& geometry = traits.transfer;
  // Only the file's own bytes go to the drive: an image of another size would
  // leave part of the flash with whatever the buffer held before.
  if (load.plainLength != traits.imageSize) {
    return fail("source image holds " + std::to_string(load.plainLength) + " bytes, the drive needs " +
                std::to_string(traits.imageSize));
  }
  // The file may have changed on disk since it was identified.
  const TypeCodeEntry& row = TypeCodeRow(sourceEntryIndex);
  const std::span<const std::uint8_t> image(*imageBuffer);
  if (row.idOffset + kTypeCodeLength > image.size() ||
      !std::equal(sourceTypeCode.begin(), sourceTypeCode.begin() + kTypeCodeLength,
                  image.begin() + row.idOffset,
                  [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; })) {
    return fail("source image no longer carries the type code \"" + std::string(sourceTypeCode.data()) + "\"");
  }

  int page = Transferring;
  update_steps::MoveBar(host_, progressPos, 0);
  host_.SetPage(page);
  platform.Sleep(kModePauseMs);

  const auto buffer = transport_.DataBuffer();
  ChunkForm form = ChunkForm::Twelve;
  for (int k = 0; k < geometry.fullChunks; ++k) {
    const auto chunk = image.subspan(static_cast<std::size_t>(k) * geometry.chunkSize, geometry.chunkSize);
    int resends = 0;
    for (;;) {
      // Copied for every send, so that a failed command cannot leave altered bytes behind.
      std::copy(chunk.begin(), chunk.end(), buffer.begin());
      if (SendImageChunk(transport_, geometry.chunkSize, form) != 0) break;
      if (transport_.lastAsc == kAscMediumNotPresent) {
        if (++resends > kMaxChunkResends) {
          return fail("chunk " + std::to_string(k) + " was answered 3A more than " +
                      std::to_string(kMaxChunkResends) + " times again");
        }
        continue;
      }
      if (form == ChunkForm::Twelve) {
        form = ChunkForm::Ten;
        continue;
      }
      return fail("chunk " + std::to_string(k) + " failed in the 10-byte form: sense " + sense());
    }
    update_steps::MoveBar(host_, progressPos, progressPos + traits.progressStep);
  }

  const auto last = image.subspan(geometry.lastChunkOffset, geometry.lastChunkSize);
  std::copy(last.begin(), last.end(), buffer.begin());
  if (SendImageChunk(transport_, geometry.lastChunkSize, form) == 0) {
    return fail(std::string("last chunk failed in the ") + FormName(form) + " form: sense " + sense());
  }

  bool finished = false;
  for (const std::uint8_t variant : kFinishVariants) {
    if (FinishTransfer(transport_, variant) != 0) {
      finished = true;
      break;
    }
  }
  if (!finished) return fail("end of transfer refused with variants 0, 1 and 2: sense " + sense());

  // The check box counts as it stands now, not as it stood when the update began.
  const int updateLoader = host_.UpdateLoaderState();
  if (StartRewrite(transport_, updateLoader, loaderUpdateForced, loaderUpdateBarred) != 1) {
    return fail("start of rewrite refused: sense " + sense());
  }

  std::uint8_t phase = kNoPhase;
  progressPos = 0;
  for (int cycle = 0; cycle < kMaxPollCycles; ++cycle) {
    update_steps::MoveBar(host_, progressPos, progressPos);
    platform.Sleep(kPollPauseMs);
    progressPos += traits.progressStep;

    int endAnswers = 0;
    for (int poll = 0; poll < kPollsPerCycle; ++poll) {
      if (transport_.mode == TransportMode::CdromDevice) RequestSense(transport_);
      PollRewriteStatus(transport_);
      if (transport_.lastAsc != kAscMediumNotPresent) break;
      ++endAnswers;
    }
    if (endAnswers == kPollsPerCycle) {
      update_steps::MoveBar(host_, progressPos, kProgressMax);
      return 1;
    }

    const std::uint8_t asc = transport_.lastAsc;
    if (asc == kAscBusy || asc == kAscBusyToo) continue;
    if (asc != kAscRewritePhase) return fail("rewrite failed: sense " + sense());
    const std::uint8_t reported = transport_.lastAscq;
    if (reported == phase) continue;
    if (reported < kPhasePages.size()) {
      page = kPhasePages[reported];
      progressPos = traits.phasePositions[reported];
    }
    phase = reported;
    host_.SetPage(page);
  }
  return fail("rewrite did not end within " + std::to_string(kMaxPollCycles) + " poll cycles");
}

}  // namespace orvel
