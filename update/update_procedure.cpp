#include "update/update_procedure.h"

#include <string>

#include "drive/discovery.h"
#include "update/update_steps.h"

namespace orvel {

UpdateProcedure::UpdateProcedure(ScsiTransport& transport, UpdateHost& host, VariantRules rules)
    : transport_(transport), host_(host), rules_(rules) {}

UpdateProcedure::~UpdateProcedure() {
  if (!attemptOpen_) return;
  EndAttempt();
  transport_.GetPlatform().ActOnInterruption(lastAttempt.heldInterruption);
}

void UpdateProcedure::BeginAttempt() {
  if (attemptOpen_) return;
  attemptOpen_ = true;
  lastAttempt.heldInterruption = 0;
  const AttemptHold hold = transport_.GetPlatform().BeginAttempt();
  if (!hold.machineKeptAwake) host_.ShowMachineNotKeptAwake(hold.whyNot);
}

void UpdateProcedure::EndAttempt() {
  if (!attemptOpen_) return;
  attemptOpen_ = false;
  lastAttempt.heldInterruption = transport_.GetPlatform().EndAttempt();
}

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

int UpdateProcedure::RunUpdateAttempt(std::string_view driveLabel, const DriveAddress* storedAddress) {
  lastAttempt = AttemptReport{};
  auto finish = [this](int page) {
    EndAttempt();
    lastAttempt.finalPage = page;
    lastAttempt.finalProgress = progressPos;
    return page;
  };
  // The members describe the last file that was identified; a selection that
  // was not identified (or was changed since) must not be sent under them, and
  // is refused before the drive hears anything.
  const std::string selected = host_.SelectedSourceName();
  if (!selectionIdentified || selected != identifiedName) {
    lastAttempt.detail = selected.empty() ? "no source file is selected"
                                          : "source file \"" + selected + "\" was not identified";
    return finish(TypeCodeMismatch);
  }

  if (storedAddress != nullptr) {
    transport_.address = *storedAddress;
  } else {
    AddressFromLabel(transport_, driveLabel);
  }

  BeginAttempt();
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
