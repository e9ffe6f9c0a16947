// RunFirmwareUpdate and its steps: load the image, send it in chunks, end the
// transfer and start the rewrite, follow the rewrite to its end.

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

std::string Sense(const ScsiTransport& t) { return update_steps::SenseText(t.lastAsc, t.lastAscq); }

constexpr std::uint64_t kMillisPerSecond = 1000;

enum class CycleEnd {
  TheEnd,    // ten polls in a row answered 0x3A: the rewrite has ended
  Answered,  // lastAsc is the answer to judge
  NoAnswer,  // a poll timed out or did not reach the drive
};

struct Cycle {
  CycleEnd end = CycleEnd::NoAnswer;
  bool anyAnswered = false;  // the drive answered at least one poll
};

// One poll cycle of at most ten polls.
Cycle RunPollCycle(ScsiTransport& t) {
  Cycle cycle;
  for (int poll = 0; poll < kPollsPerCycle; ++poll) {
    if (t.mode == TransportMode::CdromDevice) RequestSense(t);
    PollRewriteStatus(t);
    // An unanswered poll leaves lastAsc as an earlier answer left it (ASPI):
    // never counted, least of all toward the end.
    const CommandOutcome outcome = t.LastOutcome();
    if (outcome == CommandOutcome::Timeout || outcome == CommandOutcome::Failed) {
      cycle.end = CycleEnd::NoAnswer;
      return cycle;
    }
    cycle.anyAnswered = true;
    if (t.lastAsc != kAscMediumNotPresent) {
      cycle.end = CycleEnd::Answered;
      return cycle;
    }
  }
  cycle.end = CycleEnd::TheEnd;
  return cycle;
}

}  // namespace

int UpdateProcedure::RunFirmwareUpdate() {
  const FamilyTraits& traits = TraitsOf(driveFamily);
  if (LoadImageForDrive(traits) == 0) return 0;
  if (SendImage(traits) == 0) return 0;
  if (EndTransferAndStartRewrite() == 0) return 0;
  return FollowRewrite(traits);
}

int UpdateProcedure::Fail(AttemptStop stop, std::string why) {
  lastAttempt.stop = stop;
  lastAttempt.detail = std::move(why);
  return 0;
}

int UpdateProcedure::LoadImageForDrive(const FamilyTraits& traits) {
  const std::string name = host_.SelectedSourceName();
  if (name.empty()) {
    return Fail(AttemptStop::SourceNotIdentified, Say("no source file is selected", "ソースファイルが選択されていません"));
  }

  LoadReport load;
  if (LoadSourceImage(transport_.GetPlatform().Files(), name, sourceEntryIndex, sourceFamily, driveFamily,
                      imageBuffer, &load) == 0) {
    if (load.failure == LoadFailure::OpenFailed) host_.ShowFileError(name, load.fileError);
    return Fail(AttemptStop::SourceNotLoaded, Say("source file \"" + name + "\" could not be loaded",
                                                  "ソースファイル \"" + name + "\" を読み込めませんでした"));
  }
  // Only the file's own bytes go to the drive: an image of another size would
  // leave part of the flash with whatever the buffer held before.
  if (load.plainLength != traits.imageSize) {
    const std::string held = std::to_string(load.plainLength);
    const std::string needed = std::to_string(traits.imageSize);
    return Fail(AttemptStop::ImageSizeMismatch,
                Say("source image holds " + held + " bytes, the drive needs " + needed,
                    "ソースイメージは " + held + " バイトですが、ドライブには " + needed + " バイトが必要です"));
  }
  // The file may have changed on disk since it was identified.
  const TypeCodeEntry& row = TypeCodeRow(sourceEntryIndex);
  const std::span<const std::uint8_t> image(*imageBuffer);
  if (row.idOffset + kTypeCodeLength > image.size() ||
      !std::equal(sourceTypeCode.begin(), sourceTypeCode.begin() + kTypeCodeLength,
                  image.begin() + row.idOffset,
                  [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; })) {
    const std::string code = "\"" + std::string(sourceTypeCode.data()) + "\"";
    return Fail(AttemptStop::SourceChanged, Say("source image no longer carries the type code " + code,
                                                "ソースイメージにタイプコード " + code + " がもうありません"));
  }
  return 1;
}

int UpdateProcedure::SendImage(const FamilyTraits& traits) {
  MoveBar(0);
  host_.SetPage(Transferring);
  transport_.GetPlatform().Sleep(kModePauseMs);

  const std::span<const std::uint8_t> image(*imageBuffer);
  const TransferGeometry& geometry = traits.transfer;
  // The form the first chunk settles on holds for the rest of the transfer.
  ChunkForm form = ChunkForm::Twelve;
  for (int k = 0; k < geometry.fullChunks; ++k) {
    const auto chunk = image.subspan(static_cast<std::size_t>(k) * geometry.chunkSize, geometry.chunkSize);
    if (SendFullChunk(chunk, k, form) == 0) return 0;
    MoveBar(progressPos + traits.progressStep);
  }

  // Sent once: no answer to it is worth another try.
  const auto last = image.subspan(geometry.lastChunkOffset, geometry.lastChunkSize);
  std::copy(last.begin(), last.end(), transport_.DataBuffer().begin());
  if (SendImageChunk(transport_, geometry.lastChunkSize, form) == 0) {
    return Fail(AttemptStop::ChunkFailed,
                Say(std::string("last chunk failed in the ") + FormName(form) + " form: sense " + Sense(transport_),
                    std::string("最後のチャンクの送信が ") + FormName(form) + " 形式で失敗しました: センス " +
                        Sense(transport_)));
  }
  return 1;
}

int UpdateProcedure::SendFullChunk(std::span<const std::uint8_t> chunk, int index, ChunkForm& form) {
  const auto buffer = transport_.DataBuffer();
  const auto length = static_cast<std::uint16_t>(chunk.size());
  int resends = 0;
  for (;;) {
    // Copied for every send, so that a failed command cannot leave altered bytes behind.
    std::copy(chunk.begin(), chunk.end(), buffer.begin());
    if (SendImageChunk(transport_, length, form) != 0) return 1;
    if (transport_.lastAsc == kAscMediumNotPresent) {
      if (++resends > kMaxChunkResends) {
        const std::string number = std::to_string(index);
        const std::string times = std::to_string(kMaxChunkResends);
        return Fail(AttemptStop::ChunkResendsExceeded,
                    Say("chunk " + number + " was answered 3A more than " + times + " times again",
                        "チャンク " + number + " は再送を " + times + " 回超えても 3A で応答されました"));
      }
      continue;
    }
    if (form == ChunkForm::Twelve) {
      form = ChunkForm::Ten;
      continue;
    }
    const std::string number = std::to_string(index);
    return Fail(AttemptStop::ChunkFailed,
                Say("chunk " + number + " failed in the 10-byte form: sense " + Sense(transport_),
                    "チャンク " + number + " の送信が 10-byte 形式で失敗しました: センス " + Sense(transport_)));
  }
}

int UpdateProcedure::EndTransferAndStartRewrite() {
  const bool finished = std::ranges::any_of(
      kFinishVariants, [this](std::uint8_t variant) { return FinishTransfer(transport_, variant) != 0; });
  if (!finished) {
    return Fail(AttemptStop::TransferEndRefused,
                Say("end of transfer refused with variants 0, 1 and 2: sense " + Sense(transport_),
                    "転送の終了が形式 0、1、2 のいずれでも拒否されました: センス " + Sense(transport_)));
  }

  // The check box counts as it stands now, not as it stood when the update began.
  const int updateLoader = host_.UpdateLoaderState();
  if (StartRewrite(transport_, updateLoader, loaderUpdateForced, loaderUpdateBarred) != 1) {
    return Fail(AttemptStop::RewriteStartRefused,
                Say("start of rewrite refused: sense " + Sense(transport_),
                    "書き換えの開始が拒否されました: センス " + Sense(transport_)));
  }
  return 1;
}

int UpdateProcedure::FollowRewrite(const FamilyTraits& traits) {
  Platform& platform = transport_.GetPlatform();
  int page = Transferring;
  std::uint8_t phase = kNoPhase;
  progressPos = 0;
  const std::uint64_t start = platform.MonotonicMilliseconds();
  std::uint64_t now = start;
  std::uint64_t lastAnswerAt = start;
  bool everAnswered = false;
  bool silent = false;  // the last cycle's poll went unanswered
  for (int cycle = 0; cycle < kMaxPollCycles && now - start < kRewriteFollowMs; ++cycle) {
    MoveBar(progressPos);
    platform.Sleep(kPollPauseMs);
    progressPos += traits.progressStep;
    const Cycle polled = RunPollCycle(transport_);
    now = platform.MonotonicMilliseconds();
    if (polled.end == CycleEnd::TheEnd) {
      MoveBar(kProgressMax);
      return 1;
    }
    if (polled.anyAnswered) {
      everAnswered = true;
      lastAnswerAt = now;
    }
    silent = polled.end == CycleEnd::NoAnswer;
    if (silent) continue;

    const std::uint8_t asc = transport_.lastAsc;
    if (asc == kAscBusy || asc == kAscBusyToo) continue;
    if (asc != kAscRewritePhase) {
      return Fail(AttemptStop::RewriteFailed,
                  Say("rewrite failed: sense " + Sense(transport_), "書き換えに失敗しました: センス " + Sense(transport_)));
    }
    // A phase reported again changes nothing; an unknown one refreshes the page it is on.
    const std::uint8_t reported = transport_.lastAscq;
    if (reported == phase) continue;
    if (reported < kPhasePages.size()) {
      page = kPhasePages[reported];
      progressPos = traits.phasePositions[reported];
    }
    phase = reported;
    host_.SetPage(page);
  }

  const bool outOfTime = now - start >= kRewriteFollowMs;
  const std::string minutes = std::to_string(kRewriteFollowMinutes);
  const std::string cycles = std::to_string(kMaxPollCycles);
  const std::string why = outOfTime ? Say("the rewrite did not end within " + minutes + " minutes",
                                          "書き換えが " + minutes + " 分以内に終わりませんでした")
                                    : Say("the rewrite did not end within " + cycles + " poll cycles",
                                          "書き換えが " + cycles + " 回のポーリング周期のうちに終わりませんでした");
  if (!silent) {
    return Fail(AttemptStop::RewriteTimedOut,
                why + Say(": the drive kept reporting busy (last sense " + Sense(transport_) + ")",
                          ": ドライブはビジーを報告し続けました（最後のセンス " + Sense(transport_) + "）"));
  }
  if (!everAnswered) {
    return Fail(AttemptStop::RewriteTimedOut,
                why + Say(": the drive answered no poll after the rewrite started",
                          ": 書き換えの開始後、ドライブはポーリングに一度も応答しませんでした"));
  }
  const std::string seconds = std::to_string((now - lastAnswerAt) / kMillisPerSecond);
  return Fail(AttemptStop::RewriteTimedOut,
              why + Say(": the drive stopped answering (no answer for the last " + seconds + " seconds)",
                        ": ドライブが応答しなくなりました（最後の " + seconds + " 秒間応答がありません）"));
}

}  // namespace orvel
