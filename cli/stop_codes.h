#pragma once
// The machine-readable reasons a command of orvel-cli stops for: one fixed
// set of strings, each with the exit status it gives. Scripts read the code
// of a --json document; the README lists the set, and the JSON Schema in
// dist/ names the same strings (tests keep all three the same).

#include <optional>
#include <span>
#include <string_view>

#include "platform/platform.h"
#include "update/update_procedure.h"

namespace orvel {

// The documents' shape. Raised whenever a release adds, changes or removes a
// key or a code (what no release has shipped yet may still change under 1).
inline constexpr int kJsonSchemaVersion = 1;

enum class StopCode {
  Usage,
  ConfirmationRequired,
  NotConfirmed,
  WrongExtensions,
  OutputExists,
  NoSuchDirectory,
  NoRoute,
  NoSuchDrive,
  NotADrive,
  DrivesNotAccessible,
  DriveNotAccessible,
  FileNotOpened,
  FileEmpty,
  FileTooLarge,
  FileNotIdentified,
  FileMisfit,
  FileNotForDrive,
  NoEncodedForm,
  PackedAreaUsed,
  PackedInvalid,
  OutputNotWritten,
  SamplesExist,
  SamplesNotWritten,
  BackupNamesTaken,
  BackupDirectoryRefused,
  BackupNotPossible,
  BackupFormUnknown,
  BackupReadFailed,
  BackupReadShort,
  BackupNoMemory,
  BackupWriteFailed,
  DriveNotListed,
  DriveListChanged,
  DriveNotOptical,
  DriveMounted,
  DriveInUse,
  DriveNoAccess,
  DriveUnreachable,
  UpdateModeRefused,
  NotALoader,
  IdBlockReadFailed,
  IdBlockReadShort,
  DriveTypeUnknown,
  TypeCodeRefused,
  SourceNotLoaded,
  ImageSizeMismatch,
  SourceChanged,
  ChunkFailed,
  ChunkResendsExceeded,
  TransferEndRefused,
  RewriteStartRefused,
  RewriteFailed,
  RewriteTimedOut,
  FirmwareDiffers,
  RecordNotWritten,
  ReplayDeparted,
  Interrupted,
};

// An interruption ends the program by its own default action, whatever the status.
inline constexpr int kNoExitStatus = -1;

struct StopCodeRow {
  StopCode stop;
  std::string_view code;  // "no-such-drive"
  int exitStatus;         // kNoExitStatus: the program ends by the interruption
  std::string_view meaning;
};

// Every code, in the order of the enumeration.
std::span<const StopCodeRow> StopCodes();
const StopCodeRow& RowOf(StopCode stop);

// An attempt's stop (and, for a drive that could not be held, the claim's
// result); nothing for AttemptStop::None.
std::optional<StopCode> StopOfAttempt(AttemptStop stop, std::optional<DeviceClaimResult> claim);
// The same for a whole attempt, where update-mode requests the system kept
// from the drive (AttemptReport::driveUnreachable) make a switch that failed
// the drive's being out of reach rather than its refusal.
std::optional<StopCode> StopOfReport(const AttemptReport& report);

}  // namespace orvel
