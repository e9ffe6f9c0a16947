#include "update/update_procedure.h"

#include <string>

#include "drive/discovery.h"
#include "update/update_steps.h"

namespace orvel {

UpdateProcedure::UpdateProcedure(ScsiTransport& transport, UpdateHost& host, VariantRules rules)
    : transport_(transport), host_(host), rules_(rules) {}

UpdateProcedure::~UpdateProcedure() { DiscardBackupFile(); }

bool UpdateProcedure::CheckTypeCodeNow() {
  const std::string password = host_.PasswordEntry();
  TypeCodeCheck check;
  check.driveTypeCode = driveTypeCode;
  check.sourceTypeCode = sourceTypeCode;
  // Only a box in check state 1 counts as ticked for this decision.
  check.passTypeCheck = host_.PassTypeCheckState() == 1 ? 1 : 0;
  check.passwordEntry = password;
  check.typePassKey = typePassKey;
  return CheckTypeCode(check);
}

namespace update_steps {

std::string SenseText(std::uint8_t asc, std::uint8_t ascq) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  constexpr unsigned kNibble = 4;
  constexpr unsigned kNibbleMask = 0x0F;
  std::string text(5, '/');
  text[0] = kHex[(asc >> kNibble) & kNibbleMask];
  text[1] = kHex[asc & kNibbleMask];
  text[3] = kHex[(ascq >> kNibble) & kNibbleMask];
  text[4] = kHex[ascq & kNibbleMask];
  return text;
}

}  // namespace update_steps

int UpdateProcedure::CheckBeforeTheDrive() {
  // The members describe the last file that was identified; a selection that
  // was not identified (or was changed since) must not be sent under them.
  const std::string selected = host_.SelectedSourceName();
  if (!selectionIdentified || selected != identifiedName) {
    lastAttempt.detail = selected.empty() ? "no source file is selected"
                                          : "source file \"" + selected + "\" was not identified";
    return TypeCodeMismatch;
  }
  // What the load would refuse only after the switch (and the backup).
  FileError openError = FileError::None;
  const std::string misfit =
      SourceFileMisfit(transport_.GetPlatform().Files(), selected, sourceEntryIndex, &openError);
  if (!misfit.empty()) {
    lastAttempt.detail = misfit;
    lastAttempt.fileError = openError;
    if (openError != FileError::None) host_.ShowFileError(selected, openError);
    return TypeCodeMismatch;
  }
  // A backup that cannot be written is known now, while the drive is untouched
  // (whether the drive lets itself be read back is learnt only after the switch).
  if (host_.BackupCheckState() != 0 && PrepareBackupFile(BackupSeries::OfSource) == 0) {
    if (lastAttempt.fileError != FileError::None) {
      host_.ShowFileError(backupFileName.empty() ? backupTempName_ : backupFileName, lastAttempt.fileError);
    } else {
      host_.SetBackupCheckState(0);  // every name taken, as when the box is ticked
      host_.PushMembers();
    }
    return NoBackupFileName;
  }
  return NoPage;
}

int UpdateProcedure::RunUpdateAttempt(std::string_view driveLabel, const DriveAddress* storedAddress) {
  lastAttempt = AttemptReport{};
  auto finish = [this](int page) {
    // Every way out that did not place the backup file removes it.
    DiscardBackupFile();
    lastAttempt.finalPage = page;
    lastAttempt.finalProgress = progressPos;
    return page;
  };
  const int refused = CheckBeforeTheDrive();
  if (refused != NoPage) return finish(refused);

  if (storedAddress != nullptr) {
    transport_.address = *storedAddress;
  } else {
    AddressFromLabel(transport_, driveLabel);
  }

  const int switched = SwitchDriveToUpdateMode();
  lastAttempt.switchRan = true;
  lastAttempt.switchResult = switched;
  if (switched == 0) return finish(UpdateModeFailed);

  if (!CheckTypeCodeNow()) {
    lastAttempt.detail = "type code of the drive \"" + std::string(driveTypeCode.data()) +
                         "\" does not permit the file's \"" + std::string(sourceTypeCode.data()) + "\"";
    return finish(TypeCodeMismatch);
  }
  lastAttempt.typeCodeAccepted = true;
  host_.UpdateStarted();

  if (host_.BackupCheckState() != 0) {
    lastAttempt.backupRequested = true;
    if (alternateReadForm != 0) {
      lastAttempt.backupSkipped = true;
      DiscardBackupFile();  // not kept through the rewrite
      host_.ShowBackupNotPossible();
    } else if (BackUpFirmware() == 0) {
      host_.CloseAllowed();
      return finish(BackupFailed);
    }
  }

  const int updated = RunFirmwareUpdate();
  host_.CloseAllowed();
  return finish(updated != 0 ? Completed : Failed);
}

}  // namespace orvel
