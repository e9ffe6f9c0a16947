// The drive's firmware read back and compared with a file's image, as the
// update would have sent it: nothing is sent to the drive but reads.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "firmware/codec.h"
#include "update/update_procedure.h"

namespace orvel {

FirmwareComparison CompareImages(std::span<const std::uint8_t> drive, std::span<const std::uint8_t> file,
                                 std::size_t joinGap) {
  FirmwareComparison result;
  const std::size_t length = std::min(drive.size(), file.size());
  result.bytesCompared = length;
  for (std::size_t i = 0; i < length; ++i) {
    if (drive[i] == file[i]) continue;
    ++result.bytesDiffering;
    if (!result.ranges.empty()) {
      ByteRange& last = result.ranges.back();
      const std::size_t end = last.offset + last.length;
      if (i - end < joinGap) {
        last.length = i + 1 - last.offset;
        continue;
      }
    }
    result.ranges.push_back({i, 1});
  }
  return result;
}

int UpdateProcedure::CompareDriveFirmware(FirmwareComparison* result) {
  *result = FirmwareComparison{};
  // The alternate form reads from wherever the drive's pointer stands: what
  // arrives could not be said to be at any address.
  if (alternateReadForm != 0) {
    return Fail(AttemptStop::ReadBackNotPossible,
                "the drive does not let its firmware be read back by address; it cannot be compared");
  }
  const FamilyTraits& traits = TraitsOf(driveFamily);
  if (LoadImageForDrive(traits) == 0) {
    // Not loadable for this drive, not its size, or no longer the file identified.
    lastAttempt.stop = AttemptStop::ImageNotForDrive;
    return 0;
  }
  auto drive = NewImageBuffer();
  if (!drive) return Fail(AttemptStop::BackupNoMemory, "no memory for the drive's firmware");
  MoveBar(0);
  // The drive needs a moment after the update-mode requests, as before a backup.
  transport_.GetPlatform().Sleep(kModePauseMs);
  if (ReadDriveFirmware(*drive) == 0) return 0;

  const std::span<const std::uint8_t> read(drive->data(), traits.imageSize);
  const std::span<const std::uint8_t> image(imageBuffer->data(), traits.imageSize);
  *result = CompareImages(read, image);
  return 1;
}

}  // namespace orvel
