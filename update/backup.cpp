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
constexpr const char* kTemporaryExtension = ".TMP";
constexpr int kTemporaryNameCount = 100;  // CDRWFW00.TMP .. CDRWFW99.TMP: left by crashes, never reused
constexpr int kDecimal = 10;

// Every family's backup reads its whole image, and fits the room proved for it.
constexpr bool BackupCoversImage() {
  for (const FamilyTraits& traits : FamilyTraitsTable) {
    if (traits.backupBlocks * kFirmwareBlockSize != traits.imageSize) return false;
    if (traits.imageSize > kBackupRoomBytes) return false;
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

const char* ExtensionOfRow(int entryIndex) {
  return TypeCodeRow(entryIndex).encoded == 1 ? kEncodedFileExtension : kPlainFileExtension;
}

// The first CDRWFW name of the series that no directory entry has (learnt
// without opening anything: a planted link, FIFO or device is never touched);
// empty when all ten are taken.
std::string FirstFreeBackupName(FileSystem& files, const char* extension) {
  for (int n = 0; n < kBackupNameCount; ++n) {
    std::string name = BackupName(n, extension);
    if (!files.Exists(name)) return name;
  }
  return {};
}

std::string TakenText(const char* extension, int language) {
  const std::string names = std::string(kBackupStem) + "00.." + BackupName(kBackupNameCount - 1, extension);
  return update_steps::Worded(language, names + " are all taken", names + " はすべて使用済みです");
}

}  // namespace

void UpdateProcedure::ChooseBackupFileName() {
  if (host_.BackupCheckState() == 0) {
    backupFileName.clear();
    host_.PushMembers();
    return;
  }
  // By the source file's row, not by the drive: a blank drive takes a file of another family.
  std::string name = FirstFreeBackupName(transport_.GetPlatform().Files(), ExtensionOfRow(sourceEntryIndex));
  if (!name.empty()) {
    backupFileName = std::move(name);
    host_.PushMembers();
    return;
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

int UpdateProcedure::PrepareBackupFile(BackupSeries series) {
  DiscardBackupFile();
  FileSystem& files = transport_.GetPlatform().Files();
  const auto fail = [this](std::string why, FileError error) {
    lastAttempt.stop = error == FileError::None ? AttemptStop::BackupNamesTaken : AttemptStop::BackupDirectoryRefused;
    lastAttempt.detail = Say("the working directory takes no backup: ", "作業ディレクトリにバックアップを保存できません: ") +
                         std::move(why);
    lastAttempt.fileError = error;
    return 0;
  };

  // Created exclusively and never through a link: a name left by an earlier
  // crash is passed over, never opened.
  FileError error = FileError::None;
  for (int n = 0; n < kTemporaryNameCount && backupTemp_ == kNoFile; ++n) {
    backupTempName_ = BackupName(n, kTemporaryExtension);
    backupTemp_ = files.CreateExclusive(backupTempName_, &error);
    if (backupTemp_ == kNoFile && error != FileError::Exists) break;
  }
  if (backupTemp_ == kNoFile) {
    const std::string name = backupTempName_;
    backupTempName_.clear();
    return fail(name + Say(" cannot be created: ", " を作成できません: ") + FileErrorText(error, detailLanguage), error);
  }
  if (!files.Reserve(backupTemp_, kBackupRoomBytes, &error)) {
    const std::string name = backupTempName_;
    DiscardBackupFile();
    const std::string bytes = std::to_string(kBackupRoomBytes);
    return fail(Say("no room for " + bytes + " bytes in " + name + ": ",
                    name + " に " + bytes + " バイトの空きを確保できません: ") +
                    FileErrorText(error, detailLanguage),
                error);
  }

  if (series == BackupSeries::Both) {
    for (const char* extension : {kPlainFileExtension, kEncodedFileExtension}) {
      if (FirstFreeBackupName(files, extension).empty()) {
        DiscardBackupFile();
        return fail(TakenText(extension, detailLanguage), FileError::None);
      }
    }
    return 1;
  }
  const char* extension = ExtensionOfRow(sourceEntryIndex);
  if (!backupFileName.empty() && !files.Exists(backupFileName)) return 1;
  std::string name = FirstFreeBackupName(files, extension);
  if (name.empty()) {
    DiscardBackupFile();
    return fail(TakenText(extension, detailLanguage), FileError::None);
  }
  // Taken since it was chosen: the operator is shown the name now used.
  if (!backupFileName.empty()) lastAttempt.backupNameTaken = backupFileName;
  backupFileName = std::move(name);
  host_.PushMembers();
  return 1;
}

void UpdateProcedure::DiscardBackupFile() {
  if (backupTemp_ == kNoFile) return;
  FileSystem& files = transport_.GetPlatform().Files();
  files.Close(backupTemp_);
  files.Remove(backupTempName_);
  backupTemp_ = kNoFile;
  backupTempName_.clear();
}

int UpdateProcedure::BackUpFirmware() {
  Platform& platform = transport_.GetPlatform();
  const auto fail = [this](AttemptStop stop, std::string why) {
    DiscardBackupFile();
    lastAttempt.stop = stop;
    lastAttempt.detail = std::move(why);
    return 0;
  };
  if (backupTemp_ == kNoFile && PrepareBackupFile(BackupSeries::OfSource) == 0) return 0;

  MoveBar(0);
  host_.SetPage(BackingUp);
  platform.Sleep(kModePauseMs);

  // Always a whole image buffer: the packed encoder reads 1 MiB whatever the length.
  auto backup = NewImageBuffer();
  if (!backup) return fail(AttemptStop::BackupNoMemory, Say("no memory for the backup", "バックアップ用のメモリがありません"));
  backup->fill(kUnreadByte);
  if (ReadDriveFirmware(*backup) == 0) return fail(lastAttempt.stop, lastAttempt.detail);

  std::size_t length = static_cast<std::size_t>(TraitsOf(driveFamily).backupBlocks) * kFirmwareBlockSize;
  // When nothing is converted the plain bytes are written.
  EncodeImageForFile(*backup, length, sourceFamily, driveFamily);

  // The data goes into the prepared file only; a CDRWFW name is given to it
  // once it is complete and flushed.
  FileSystem& files = platform.Files();
  FileError error = FileError::None;
  const std::span<const std::uint8_t> content(backup->data(), length);
  if (!files.WriteAll(backupTemp_, content, &error)) {
    return fail(AttemptStop::BackupWriteFailed,
                Say("backup file " + backupTempName_ + " could not be written: ",
                    "バックアップファイル " + backupTempName_ + " に書き込めませんでした: ") +
                    FileErrorText(error, detailLanguage));
  }
  const FileHandle written = backupTemp_;
  backupTemp_ = kNoFile;  // closed by SyncAndClose whatever it reports
  if (!files.SyncAndClose(written, &error)) {
    files.Remove(backupTempName_);
    const std::string name = backupTempName_;
    backupTempName_.clear();
    lastAttempt.stop = AttemptStop::BackupWriteFailed;
    lastAttempt.detail = Say("backup file " + name + " could not be completed: ",
                             "バックアップファイル " + name + " を完成できませんでした: ") +
                         FileErrorText(error, detailLanguage);
    return 0;
  }
  return PlaceBackupFile();
}

int UpdateProcedure::ReadDriveFirmware(ImageBuffer& image) {
  const FamilyTraits& traits = TraitsOf(driveFamily);
  for (std::uint32_t b = 0; b < traits.backupBlocks; ++b) {
    const std::uint32_t address = b * kFirmwareBlockSize;
    if (ReadFirmwareBlock(transport_, address, alternateReadForm) == 0) {
      lastAttempt.stop = ReadStop(transport_, AttemptStop::BackupReadFailed, AttemptStop::BackupReadShort);
      lastAttempt.detail = Say("firmware block " + std::to_string(b) + " could not be read: ",
                               "ファームウェアのブロック " + std::to_string(b) + " を読み取れませんでした: ") +
                           update_steps::ReadFailureText(transport_, detailLanguage);
      return 0;
    }
    const auto data = transport_.DataBuffer();
    std::copy(data.begin(), data.begin() + kFirmwareBlockSize, image.begin() + address);
    MoveBar(progressPos + traits.progressStep);
  }
  return 1;
}

int UpdateProcedure::PlaceBackupFile() {
  FileSystem& files = transport_.GetPlatform().Files();
  const std::string temp = std::move(backupTempName_);
  backupTempName_.clear();
  const std::string planned = backupFileName;
  const char* extension = ExtensionOfRow(sourceEntryIndex);
  // Never over an entry of that name: one that appeared meanwhile sends the
  // backup to the next free name.
  FileError error = FileError::None;
  std::string placed;
  if (!planned.empty() && files.RenameNoReplace(temp, planned, &error)) placed = planned;
  for (int n = 0; placed.empty() && n < kBackupNameCount; ++n) {
    if (error != FileError::None && error != FileError::Exists) break;
    const std::string name = BackupName(n, extension);
    if (name == planned || files.Exists(name)) continue;
    if (files.RenameNoReplace(temp, name, &error)) placed = name;
  }
  if (placed.empty()) {
    files.Remove(temp);
    lastAttempt.stop = error != FileError::None && error != FileError::Exists ? AttemptStop::BackupWriteFailed
                                                                              : AttemptStop::BackupNamesTaken;
    lastAttempt.detail = error != FileError::None && error != FileError::Exists
                             ? Say("the backup could not be given its name: ", "バックアップに名前を付けられませんでした: ") +
                                   FileErrorText(error, detailLanguage)
                             : TakenText(extension, detailLanguage) +
                                   Say(" meanwhile; the backup was not kept", "（途中で使用されました）。バックアップは残していません");
    lastAttempt.fileError = error;
    return 0;
  }
  if (placed != planned) {
    lastAttempt.backupNameTaken = planned;
    backupFileName = placed;
    host_.PushMembers();
  }
  lastAttempt.backupFile = placed;
  if (!files.SyncDirectory(&error)) {
    lastAttempt.stop = AttemptStop::BackupWriteFailed;
    lastAttempt.detail = Say("backup file " + placed + " is written, but the working directory could not be flushed: ",
                             "バックアップファイル " + placed + " は書き込みましたが、作業ディレクトリをフラッシュできませんでした: ") +
                         FileErrorText(error, detailLanguage);
    lastAttempt.fileError = error;
    return 0;
  }
  lastAttempt.backupWritten = true;
  return 1;
}

}  // namespace orvel
