#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "drive/drive_commands.h"
#include "firmware/catalogue.h"
#include "firmware/codec.h"
#include "update/update_procedure.h"
#include "update/update_steps.h"

namespace orvel {
namespace {

constexpr std::uint8_t kUnreadByte = 0xFF;
constexpr const char* kBackupStem = "CDRWFW";
constexpr int kDecimal = 10;

// Every family's backup reads its whole image.
constexpr bool BackupCoversImage() {
  for (const FamilyTraits& traits : FamilyTraitsTable) {
    if (traits.backupBlocks * kFirmwareBlockSize != traits.imageSize) return false;
  }
  return true;
}
static_assert(BackupCoversImage());

// "CDRWFW%02d" and the extension.
std::string BackupName(int number, const char* extension) {
  std::string name(kBackupStem);
  name += static_cast<char>('0' + number / kDecimal % kDecimal);
  name += static_cast<char>('0' + number % kDecimal);
  name += extension;
  return name;
}

}  // namespace

void UpdateProcedure::ChooseBackupFileName() {
  if (host_.BackupCheckState() == 0) {
    backupFileName.clear();
    host_.PushMembers();
    return;
  }
  // By the source file's row, not by the drive: a blank drive takes a file of another family.
  const char* extension = TypeCodeRow(sourceEntryIndex).encoded == 1 ? kEncodedFileExtension : kPlainFileExtension;
  FileSystem& files = transport_.GetPlatform().Files();
  for (int n = 0; n < kBackupNameCount; ++n) {
    std::string name = BackupName(n, extension);
    FileError error = FileError::None;
    const FileHandle handle = files.OpenRead(name, &error);
    if (handle == kNoFile) {
      backupFileName = std::move(name);
      host_.PushMembers();
      return;
    }
    files.Close(handle);
  }
  host_.SetBackupCheckState(0);
  host_.SetPage(NoBackupFileName);
  host_.PushMembers();
}

int UpdateProcedure::TakeBackupFormFromDrive() {
  const int row = FindFamilyRow(driveFamily);
  if (row < 0) return 0;
  sourceEntryIndex = row;
  sourceFamily = static_cast<std::uint8_t>(driveFamily);
  return 1;
}

int UpdateProcedure::BackUpFirmware() {
  Platform& platform = transport_.GetPlatform();
  const auto fail = [this](std::string why) {
    lastAttempt.detail = std::move(why);
    return 0;
  };

  update_steps::MoveBar(host_, progressPos, 0);
  host_.SetPage(BackingUp);
  platform.Sleep(kModePauseMs);

  const std::string name = backupFileName;

  const FamilyTraits& traits = TraitsOf(driveFamily);
  const std::uint32_t blocks = traits.backupBlocks;
  const int step = traits.progressStep;
  // Always a whole image buffer: the packed encoder reads 1 MiB whatever the length.
  auto backup = NewImageBuffer();
  if (!backup) return fail("no memory for the backup");
  backup->fill(kUnreadByte);

  for (std::uint32_t b = 0; b < blocks; ++b) {
    const std::uint32_t address = b * kFirmwareBlockSize;
    if (ReadFirmwareBlock(transport_, address, alternateReadForm) == 0) {
      return fail("firmware block " + std::to_string(b) + " could not be read: " +
                  update_steps::ReadFailureText(transport_));
    }
    const auto data = transport_.DataBuffer();
    std::copy(data.begin(), data.begin() + kFirmwareBlockSize, backup->begin() + address);
    update_steps::MoveBar(host_, progressPos, progressPos + step);
  }

  std::size_t length = static_cast<std::size_t>(blocks) * kFirmwareBlockSize;
  // When nothing is converted the plain bytes are written.
  EncodeImageForFile(*backup, length, sourceFamily, driveFamily);

  // Found out only when the file is to be created, as for any other name that cannot be.
  if (name.empty()) return fail("no backup file name is chosen");
  FileSystem& files = platform.Files();
  FileError error = FileError::None;
  const FileHandle handle = files.CreateExclusive(name, &error);
  if (handle == kNoFile) {
    // Not ours to remove: the name may belong to a file that appeared meanwhile.
    return fail("backup file \"" + name + "\" could not be created: " + FileErrorText(error));
  }
  const std::span<const std::uint8_t> content(backup->data(), length);
  if (!files.WriteAll(handle, content, &error)) {
    FileError closeError = FileError::None;
    files.SyncAndClose(handle, &closeError);
    files.Remove(name);
    return fail("backup file \"" + name + "\" could not be written: " + FileErrorText(error));
  }
  if (!files.SyncAndClose(handle, &error)) {
    files.Remove(name);
    return fail("backup file \"" + name + "\" could not be completed: " + FileErrorText(error));
  }
  lastAttempt.backupWritten = true;
  lastAttempt.backupFile = name;
  return 1;
}

}  // namespace orvel
