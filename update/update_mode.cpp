#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "drive/drive_commands.h"
#include "firmware/catalogue.h"
#include "update/access_texts.h"
#include "update/update_procedure.h"
#include "update/update_steps.h"

namespace orvel {
namespace {

constexpr int kLoaderFlagOn = 1;
constexpr std::size_t kProductIdOffset = 16;   // INQUIRY bytes 16..31
constexpr std::size_t kBlankCheckLength = 8;   // an erased flash reads 0xFF here
constexpr std::uint8_t kErasedByte = 0xFF;

bool RefusedWithoutSense(int result, const ScsiTransport& t) { return result == 0 && t.lastAsc == 0 && t.lastAscq == 0; }

// A request the system itself refused (no sense from any drive) may have a
// reason the platform can name, with the way to get access: said after `detail`.
std::string WithAccessProblem(std::string detail, bool requestRefused, Platform& platform, int language) {
  if (!requestRefused) return detail;
  const std::string problem = AccessProblemLine(platform, language);
  if (problem.empty()) return detail;
  return detail +
         update_steps::Worded(language, "; the update-mode request did not reach the drive: ",
                              "。アップデートモードへの要求はドライブに届きませんでした: ") +
         problem;
}

// Whether the platform names one of the addressed drive's nodes among those this user may not use.
bool NodeRefused(Platform& platform, const ScsiTransport& t) {
  if (t.mode == TransportMode::Aspi) return false;
  const std::string device = platform.DeviceName(t.mode, t.address.deviceNumber);
  const DeviceNodes nodes = platform.NodesOf(device);
  for (const NodeAccessProblem& problem : platform.AccessProblems()) {
    if (problem.node == device || problem.node == nodes.block || problem.node == nodes.generic) return true;
  }
  return false;
}

}  // namespace

int UpdateProcedure::SwitchDriveToUpdateMode() {
  Platform& platform = transport_.GetPlatform();
  // The drive needs a moment after each request; its answers are judged by the INQUIRY.
  const bool firstRefused = RefusedWithoutSense(EnterUpdateMode(transport_, kLoaderFlagOn), transport_);
  platform.Sleep(kModePauseMs);
  const bool requestRefused =
      RefusedWithoutSense(EnterUpdateMode(transport_, kLoaderFlagOn), transport_) && firstRefused;
  platform.Sleep(kModePauseMs);
  lastAttempt.driveUnreachable = requestRefused && NodeRefused(platform, transport_);

  if (Inquiry(transport_) == 0) {
    lastAttempt.stop = AttemptStop::UpdateModeRefused;
    const std::string sense = update_steps::SenseText(transport_.lastAsc, transport_.lastAscq);
    lastAttempt.detail = WithAccessProblem(Say("INQUIRY after the update-mode request failed: sense " + sense,
                                               "アップデートモードへの要求の後の INQUIRY に失敗しました: センス " + sense),
                                           requestRefused, platform, detailLanguage);
    return 0;
  }
  // Copied out: the block read below reuses the data buffer.
  std::array<std::uint8_t, kProductIdLength> productId{};
  const auto data = transport_.DataBuffer();
  std::copy_n(data.begin() + kProductIdOffset, kProductIdLength, productId.begin());

  int entryIndex = FindLoaderEntry(productId, -1);
  if (entryIndex < 0) {
    lastAttempt.stop = AttemptStop::NotALoader;
    const std::string reported = "\"" + std::string(productId.begin(), productId.end()) + "\"";
    lastAttempt.detail = WithAccessProblem(Say("the drive reports " + reported + ", not a known loader",
                                               "ドライブの応答は " + reported + " で、既知のローダーではありません"),
                                           requestRefused, platform, detailLanguage);
    return 0;
  }
  while (entryIndex >= 0) {
    const LoaderEntry& entry = LoaderRow(entryIndex);
    driveFamily = entry.family;
    if (ReadFirmwareBlock(transport_, entry.idAddress, alternateReadForm) == 0) {
      lastAttempt.stop = ReadStop(transport_, AttemptStop::IdBlockReadFailed, AttemptStop::IdBlockReadShort);
      lastAttempt.detail = Say("reading the identification block failed: ", "識別ブロックの読み取りに失敗しました: ") +
                           update_steps::ReadFailureText(transport_, detailLanguage);
      return 0;
    }
    const std::span<const std::uint8_t> block = transport_.DataBuffer();
    const bool blank = std::all_of(block.begin(), block.begin() + kBlankCheckLength,
                                   [](std::uint8_t b) { return b == kErasedByte; });
    if (blank) {
      std::fill_n(driveTypeCode.begin(), kTypeCodeLength, static_cast<char>(kErasedByte));
      driveTypeCode[kTypeCodeLength] = '\0';
      return -2;
    }
    // The start of the block decides; only when it names no family may a
    // loader whose family keeps its code further in be named by that code.
    std::optional<DriveFamilyMatch> match = FindDriveFamily(block);
    if (!match) match = FindLoaderFamilyCode(entry.family, block);
    if (match) {
      driveFamily = match->family;
      const FamilyTraits& traits = TraitsOf(match->family);
      if (match->raised) loaderUpdateForced = 1;
      if (!match->raised && traits.barLoaderWhenNamedDirectly && rules_.barLoaderOnDirectFamily5) {
        loaderUpdateBarred = 1;
      }
      // A raised family took its name from the start of the block, where its code stands.
      const std::size_t codeOffset = match->raised ? 0 : traits.loaderCodeOffset;
      for (std::size_t i = 0; i < kTypeCodeLength; ++i) {
        driveTypeCode[i] = static_cast<char>(block[codeOffset + i]);
      }
      driveTypeCode[kTypeCodeLength] = '\0';
      return 1;
    }
    entryIndex = FindLoaderEntry(productId, entryIndex);
  }
  lastAttempt.stop = AttemptStop::DriveTypeUnknown;
  lastAttempt.detail = Say("the drive's identification block matches no type code",
                           "ドライブの識別ブロックはどのタイプコードにも一致しません");
  return 0;
}

}  // namespace orvel
