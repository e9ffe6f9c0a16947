#include "cli/stop_codes.h"

#include "cli/cli.h"

namespace orvel {
namespace {

constexpr StopCodeRow kRows[] = {
    {StopCode::Usage, "usage", kExitUsage, "the arguments do not parse, or name an unknown scenario or a simulator state directory that cannot be used (in use by another run, of another scenario, damaged)"},
    {StopCode::ConfirmationRequired, "confirmation-required", kExitUsage,
     "`update` without `--yes` where no question may be asked (`--json`, or no terminal)"},
    {StopCode::NotConfirmed, "not-confirmed", kExitUsage, "the question before writing was not answered yes"},
    {StopCode::WrongExtensions, "wrong-extensions", kExitUsage, "`convert` goes only from .kvf to .bin or back"},
    {StopCode::OutputExists, "output-exists", kExitUsage, "`convert`'s OUT exists; it is never overwritten"},
    {StopCode::NoSuchDirectory, "no-such-directory", kExitNoSuchDriveOrFile,
     "`-C DIR` is not a directory (or the samples' directory cannot be made)"},
    {StopCode::NoRoute, "no-route", kExitNoSuchDriveOrFile, "no route to the drives"},
    {StopCode::NoSuchDrive, "no-such-drive", kExitNoSuchDriveOrFile, "WHICH names no listed drive"},
    {StopCode::NotADrive, "not-a-drive", kExitNoSuchDriveOrFile,
     "WHICH is a path that leads to no listed supported drive; it was not touched"},
    {StopCode::DrivesNotAccessible, "drives-not-accessible", kExitNotAccessible,
     "drives exist that this user may not open (`accessProblems` names each node): `drives` lists only the others, "
     "and a WHICH that names no listed drive may mean one of them"},
    {StopCode::DriveNotAccessible, "drive-not-accessible", kExitNotAccessible,
     "WHICH is the path of a node this user may not open; the drive was not touched"},
    {StopCode::FileNotOpened, "file-not-opened", kExitNoSuchDriveOrFile, "a file does not open or cannot be read"},
    {StopCode::FileEmpty, "file-empty", kExitTypeCodeRefused, "a file is empty"},
    {StopCode::FileTooLarge, "file-too-large", kExitTypeCodeRefused, "a file is over 1,048,576 bytes"},
    {StopCode::FileNotIdentified, "file-not-identified", kExitTypeCodeRefused,
     "a file carries no type code of a supported drive"},
    {StopCode::FileMisfit, "file-misfit", kExitTypeCodeRefused,
     "a file's name or size does not fit its family; the drive was not touched"},
    {StopCode::FileNotForDrive, "file-not-for-drive", kExitTypeCodeRefused,
     "`verify`: the file's image does not load for the drive's family or is not the size of its firmware"},
    {StopCode::NoEncodedForm, "no-encoded-form", kExitTypeCodeRefused, "the file's family has no encoded form"},
    {StopCode::PackedAreaUsed, "packed-area-used", kExitTypeCodeRefused,
     "the image has bytes other than 0xFF at 0x4000..0x7FFF, which the packed form leaves out"},
    {StopCode::PackedInvalid, "packed-invalid", kExitTypeCodeRefused, "the file is not a valid packed file"},
    {StopCode::OutputNotWritten, "output-not-written", kExitUpdateFailed,
     "`convert`'s output could not be written; nothing is left behind"},
    {StopCode::SamplesExist, "samples-exist", kExitNoSuchDriveOrFile, "a sample file's name is taken"},
    {StopCode::SamplesNotWritten, "samples-not-written", kExitUpdateFailed, "the sample files could not be written"},
    {StopCode::BackupNamesTaken, "backup-names-taken", kExitBackupFailed, "CDRWFW00..09 of the series all exist"},
    {StopCode::BackupDirectoryRefused, "backup-directory-refused", kExitBackupFailed,
     "the working directory takes no backup (no room, read-only, denied); the drive was not touched"},
    {StopCode::BackupNotPossible, "backup-not-possible", kExitBackupFailed,
     "the drive does not let its firmware be read back by address (`backup` and `verify`)"},
    {StopCode::BackupFormUnknown, "backup-form-unknown", kExitBackupFailed,
     "no file form is known for the drive's family (`backup` only)"},
    {StopCode::BackupReadFailed, "backup-read-failed", kExitBackupFailed, "a firmware block read failed"},
    {StopCode::BackupReadShort, "backup-read-short", kExitBackupFailed,
     "a firmware block read delivered fewer bytes than asked"},
    {StopCode::BackupNoMemory, "backup-no-memory", kExitBackupFailed, "no memory for the backup"},
    {StopCode::BackupWriteFailed, "backup-write-failed", kExitBackupFailed,
     "the backup file could not be written, flushed or named; no file is left"},
    {StopCode::DriveNotListed, "drive-not-listed", kExitNoUpdateMode,
     "the drive's identity was not recorded when it was listed; no command was sent"},
    {StopCode::DriveListChanged, "drive-list-changed", kExitNoUpdateMode,
     "the name leads to another device now: list the drives again; no command was sent"},
    {StopCode::DriveNotOptical, "drive-not-optical", kExitNoUpdateMode,
     "the device is no CD/DVD device; no command was sent"},
    {StopCode::DriveMounted, "drive-mounted", kExitNoUpdateMode, "a disc of the drive is mounted; no command was sent"},
    {StopCode::DriveInUse, "drive-in-use", kExitNoUpdateMode, "another program has the drive open; no command was sent"},
    {StopCode::DriveNoAccess, "drive-no-access", kExitNotAccessible,
     "the system does not let this user hold the drive; no command was sent"},
    {StopCode::DriveUnreachable, "drive-unreachable", kExitNotAccessible,
     "the update-mode requests were refused on their way to the drive: a node of it is one this user may not use"},
    {StopCode::UpdateModeRefused, "update-mode-refused", kExitNoUpdateMode,
     "the drive did not answer after the update-mode request"},
    {StopCode::NotALoader, "not-a-loader", kExitNoUpdateMode, "the drive answered, but not as a known loader"},
    {StopCode::IdBlockReadFailed, "id-block-read-failed", kExitNoUpdateMode, "the identification block read failed"},
    {StopCode::IdBlockReadShort, "id-block-read-short", kExitNoUpdateMode,
     "the identification block read delivered fewer bytes than asked"},
    {StopCode::DriveTypeUnknown, "drive-type-unknown", kExitNoUpdateMode,
     "the drive's identification block matches no type code"},
    {StopCode::TypeCodeRefused, "type-code-refused", kExitTypeCodeRefused,
     "the drive's type code does not permit the file's (page TypeCodeMismatch)"},
    {StopCode::SourceNotLoaded, "source-not-loaded", kExitUpdateFailed, "the file could not be loaded for the transfer"},
    {StopCode::ImageSizeMismatch, "image-size-mismatch", kExitUpdateFailed,
     "the file's image is not the size of the drive's; no image was sent"},
    {StopCode::SourceChanged, "source-changed", kExitUpdateFailed,
     "the file changed since it was identified; no image was sent"},
    {StopCode::ChunkFailed, "chunk-failed", kExitUpdateFailed, "a chunk of the image was refused"},
    {StopCode::ChunkResendsExceeded, "chunk-resends-exceeded", kExitUpdateFailed,
     "the drive asked for one chunk again too often"},
    {StopCode::TransferEndRefused, "transfer-end-refused", kExitUpdateFailed, "the end of the transfer was refused"},
    {StopCode::RewriteStartRefused, "rewrite-start-refused", kExitUpdateFailed, "the rewrite did not start"},
    {StopCode::RewriteFailed, "rewrite-failed", kExitUpdateFailed, "the drive reported the rewrite failed"},
    {StopCode::RewriteTimedOut, "rewrite-timed-out", kExitUpdateFailed,
     "the rewrite did not end within 30 minutes (the drive stayed busy or stopped answering)"},
    {StopCode::FirmwareDiffers, "firmware-differs", kExitFirmwareDiffers,
     "`verify`: the drive's firmware differs from the file's image (`differingRanges` says where)"},
    {StopCode::RecordNotWritten, "record-not-written", kExitUpdateFailed,
     "`--record`'s file could not be created or written"},
    {StopCode::ReplayDeparted, "replay-departed", kExitUpdateFailed,
     "under `--simulate=replay:FILE` the program sent a request the recording does not have there"},
    {StopCode::Interrupted, "interrupted", kNoExitStatus,
     "an interruption (a signal, Ctrl-C) arrived during the attempt and was held until it ended; the program "
     "then ends by it"},
};

constexpr bool RowsInOrder() {
  for (std::size_t i = 0; i < std::size(kRows); ++i) {
    if (static_cast<std::size_t>(kRows[i].stop) != i) return false;
  }
  return static_cast<std::size_t>(StopCode::Interrupted) + 1 == std::size(kRows);
}
static_assert(RowsInOrder(), "one row per StopCode, in its order");

StopCode StopOfClaim(DeviceClaimResult claim) {
  switch (claim) {
    case DeviceClaimResult::Claimed:
    case DeviceClaimResult::NotListed:
      break;
    case DeviceClaimResult::Changed:
      return StopCode::DriveListChanged;
    case DeviceClaimResult::NotOptical:
      return StopCode::DriveNotOptical;
    case DeviceClaimResult::Mounted:
      return StopCode::DriveMounted;
    case DeviceClaimResult::InUse:
      return StopCode::DriveInUse;
    case DeviceClaimResult::NoAccess:
      return StopCode::DriveNoAccess;
  }
  return StopCode::DriveNotListed;
}

}  // namespace

std::span<const StopCodeRow> StopCodes() { return kRows; }

const StopCodeRow& RowOf(StopCode stop) { return kRows[static_cast<std::size_t>(stop)]; }

std::optional<StopCode> StopOfAttempt(AttemptStop stop, std::optional<DeviceClaimResult> claim) {
  switch (stop) {
    case AttemptStop::None:
      return std::nullopt;
    case AttemptStop::SourceNotIdentified:
      return StopCode::FileNotIdentified;
    case AttemptStop::SourceNotOpened:
      return StopCode::FileNotOpened;
    case AttemptStop::SourceMisfit:
      return StopCode::FileMisfit;
    case AttemptStop::BackupNamesTaken:
      return StopCode::BackupNamesTaken;
    case AttemptStop::BackupDirectoryRefused:
      return StopCode::BackupDirectoryRefused;
    case AttemptStop::DriveNotHeld:
      return StopOfClaim(claim.value_or(DeviceClaimResult::NotListed));
    case AttemptStop::UpdateModeRefused:
      return StopCode::UpdateModeRefused;
    case AttemptStop::NotALoader:
      return StopCode::NotALoader;
    case AttemptStop::IdBlockReadFailed:
      return StopCode::IdBlockReadFailed;
    case AttemptStop::IdBlockReadShort:
      return StopCode::IdBlockReadShort;
    case AttemptStop::DriveTypeUnknown:
      return StopCode::DriveTypeUnknown;
    case AttemptStop::TypeCodeRefused:
      return StopCode::TypeCodeRefused;
    case AttemptStop::BackupReadFailed:
      return StopCode::BackupReadFailed;
    case AttemptStop::BackupReadShort:
      return StopCode::BackupReadShort;
    case AttemptStop::BackupNoMemory:
      return StopCode::BackupNoMemory;
    case AttemptStop::BackupWriteFailed:
      return StopCode::BackupWriteFailed;
    case AttemptStop::SourceNotLoaded:
      return StopCode::SourceNotLoaded;
    case AttemptStop::ImageSizeMismatch:
      return StopCode::ImageSizeMismatch;
    case AttemptStop::SourceChanged:
      return StopCode::SourceChanged;
    case AttemptStop::ChunkFailed:
      return StopCode::ChunkFailed;
    case AttemptStop::ChunkResendsExceeded:
      return StopCode::ChunkResendsExceeded;
    case AttemptStop::TransferEndRefused:
      return StopCode::TransferEndRefused;
    case AttemptStop::RewriteStartRefused:
      return StopCode::RewriteStartRefused;
    case AttemptStop::RewriteFailed:
      return StopCode::RewriteFailed;
    case AttemptStop::RewriteTimedOut:
      return StopCode::RewriteTimedOut;
    case AttemptStop::ReadBackNotPossible:
      return StopCode::BackupNotPossible;
    case AttemptStop::ImageNotForDrive:
      return StopCode::FileNotForDrive;
  }
  return StopCode::FileNotIdentified;
}

std::optional<StopCode> StopOfReport(const AttemptReport& report) {
  if (report.driveUnreachable) {
    switch (report.stop) {
      case AttemptStop::UpdateModeRefused:
      case AttemptStop::NotALoader:
      case AttemptStop::IdBlockReadFailed:
      case AttemptStop::IdBlockReadShort:
      case AttemptStop::DriveTypeUnknown:
        return StopCode::DriveUnreachable;
      default:
        break;
    }
  }
  return StopOfAttempt(report.stop, report.driveClaim);
}

}  // namespace orvel
