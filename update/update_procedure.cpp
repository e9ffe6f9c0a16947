#include "update/update_procedure.h"

#include <algorithm>
#include <string>

#include "update/access_texts.h"
#include "update/update_steps.h"

namespace orvel {

UpdateProcedure::UpdateProcedure(ScsiTransport& transport, UpdateHost& host, VariantRules rules)
    : transport_(transport), host_(host), rules_(rules) {}

UpdateProcedure::~UpdateProcedure() {
  DiscardBackupFile();
  if (!attemptOpen_) return;
  EndAttempt();
  transport_.GetPlatform().ActOnInterruption(lastAttempt.heldInterruption);
}

void UpdateProcedure::BeginAttempt() {
  if (attemptOpen_) return;
  attemptOpen_ = true;
  lastAttempt.heldInterruption = 0;
  const AttemptHold hold = transport_.GetPlatform().BeginAttempt();
  if (!hold.machineKeptAwake) host_.ShowMachineNotKeptAwake(AwakeGapText(hold, detailLanguage));
}

void UpdateProcedure::EndAttempt() {
  if (!attemptOpen_) return;
  attemptOpen_ = false;
  lastAttempt.heldInterruption = transport_.GetPlatform().EndAttempt();
}

// The bar clamps at its range like the native control does, while the member
// keeps counting as the sequence says.
void UpdateProcedure::MoveBar(int position) {
  progressPos = position;
  shownProgress_ = std::clamp(position, 0, kProgressMax);
  host_.SetProgress(shownProgress_);
}

AttemptStop UpdateProcedure::ReadStop(const ScsiTransport& t, AttemptStop failed, AttemptStop shortRead) {
  return update_steps::ReadWasShort(t) ? shortRead : failed;
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

std::string QuotedTypeCode(const TypeCode& code) {
  static constexpr char kHex[] = "0123456789abcdef";
  constexpr unsigned kNibble = 4;
  constexpr unsigned kNibbleMask = 0x0F;
  constexpr char kFirstPrintable = 0x20;
  constexpr char kLastPrintable = 0x7E;
  std::string text = "\"";
  for (std::size_t i = 0; i < kTypeCodeLength && code[i] != '\0'; ++i) {
    const char c = code[i];
    if (c >= kFirstPrintable && c <= kLastPrintable) {
      text += c;
    } else {
      // A blank drive's 0xFF or a raising byte from 0x80 would garble the terminal.
      const auto byte = static_cast<unsigned char>(c);
      text += "\\x";
      text += kHex[(byte >> kNibble) & kNibbleMask];
      text += kHex[byte & kNibbleMask];
    }
  }
  return text + "\"";
}

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

bool ReadWasShort(const ScsiTransport& t) {
  return t.lastTransferred > 0 && t.lastTransferred < kFirmwareBlockSize;
}

std::string ReadFailureText(const ScsiTransport& t, int language) {
  const std::string got = std::to_string(t.lastTransferred);
  const std::string wanted = std::to_string(kFirmwareBlockSize);
  if (ReadWasShort(t)) {
    return Worded(language, "only " + got + " of " + wanted + " bytes arrived",
                  wanted + " バイトのうち " + got + " バイトしか届きませんでした");
  }
  return Worded(language, "sense ", "センス ") + SenseText(t.lastAsc, t.lastAscq);
}

}  // namespace update_steps

std::string DriveClaimText(DeviceClaimResult result, std::string_view device, int language) {
  using update_steps::Worded;
  const std::string name(device);
  switch (result) {
    case DeviceClaimResult::Claimed:
      return {};
    case DeviceClaimResult::NotListed:
      return Worded(language,
                    "no drive at " + name + " was listed, or the system did not tell which device it is; nothing was sent to it",
                    name + " のドライブは一覧にないか、システムがどのデバイスかを示しませんでした。何も送信していません");
    case DeviceClaimResult::Changed:
      return Worded(language,
                    name + " no longer leads to the drive that was listed: the drive list is out of date; nothing was sent to it",
                    name + " は一覧にあったドライブを指していません。ドライブの一覧が古くなっています。何も送信していません");
    case DeviceClaimResult::NotOptical:
      return Worded(language, name + " is not a CD/DVD drive; nothing was sent to it",
                    name + " は CD/DVD ドライブではありません。何も送信していません");
    case DeviceClaimResult::Mounted:
      return Worded(language,
                    "a disc in the drive at " + name + " is mounted; unmount it first (nothing was sent to the drive)",
                    name + " のドライブのディスクがマウントされています。先にアンマウントしてください（ドライブには何も送信していません）");
    case DeviceClaimResult::InUse:
      return Worded(language,
                    "another program is using the drive at " + name + "; end it first (nothing was sent to the drive)",
                    name + " のドライブを別のプログラムが使用しています。先に終了してください（ドライブには何も送信していません）");
    case DeviceClaimResult::NoAccess:
      return Worded(language,
                    "the system does not let this user hold the drive at " + name + " (nothing was sent to it)",
                    "このユーザーは " + name + " のドライブを確保することをシステムに許可されていません（何も送信していません）");
  }
  return {};
}

std::string_view DriveClaimName(DeviceClaimResult result) {
  switch (result) {
    case DeviceClaimResult::Claimed: return "claimed";
    case DeviceClaimResult::NotListed: return "not-listed";
    case DeviceClaimResult::Changed: return "changed";
    case DeviceClaimResult::NotOptical: return "not-optical";
    case DeviceClaimResult::Mounted: return "mounted";
    case DeviceClaimResult::InUse: return "in-use";
    case DeviceClaimResult::NoAccess: return "no-access";
  }
  return {};
}

int UpdateProcedure::HoldListedDrive(const DriveAddress* listedDrive) {
  hold_.reset();
  if (listedDrive == nullptr) {
    lastAttempt.driveClaim = DeviceClaimResult::NotListed;
    lastAttempt.stop = AttemptStop::DriveNotHeld;
    lastAttempt.detail = update_steps::Worded(detailLanguage, "no drive is listed; nothing was sent",
                                              "ドライブが一覧にありません。何も送信していません");
    return 0;
  }
  transport_.address = *listedDrive;
  hold_.emplace(transport_);
  lastAttempt.driveClaim = hold_->Result();
  if (hold_->Held()) return 1;
  hold_.reset();
  Platform& platform = transport_.GetPlatform();
  lastAttempt.stop = AttemptStop::DriveNotHeld;
  lastAttempt.detail =
      DriveClaimText(*lastAttempt.driveClaim, platform.DeviceName(transport_.mode, transport_.address.deviceNumber),
                     detailLanguage);
  return 0;
}

int UpdateProcedure::CheckBeforeTheDrive() {
  // The members describe the last file that was identified; a selection that
  // was not identified (or was changed since) must not be sent under them.
  const std::string selected = host_.SelectedSourceName();
  if (!selectionIdentified || selected != identifiedName) {
    lastAttempt.stop = AttemptStop::SourceNotIdentified;
    lastAttempt.detail =
        selected.empty()
            ? update_steps::Worded(detailLanguage, "no source file is selected", "ソースファイルが選択されていません")
            : update_steps::Worded(detailLanguage, "source file \"" + selected + "\" was not identified",
                                   "ソースファイル \"" + selected + "\" は識別されていません");
    return TypeCodeMismatch;
  }
  // What the load would refuse only after the switch (and the backup).
  FileError openError = FileError::None;
  const std::string misfit =
      SourceFileMisfit(transport_.GetPlatform().Files(), selected, sourceEntryIndex, &openError, detailLanguage);
  if (!misfit.empty()) {
    lastAttempt.detail = misfit;
    lastAttempt.stop = openError != FileError::None ? AttemptStop::SourceNotOpened : AttemptStop::SourceMisfit;
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

int UpdateProcedure::RunUpdateAttempt(const DriveAddress* listedDrive) {
  lastAttempt = AttemptReport{};
  auto finish = [this](int page) {
    // Every way out that did not place the backup file removes it.
    DiscardBackupFile();
    LetDriveGo();
    EndAttempt();
    lastAttempt.finalPage = page;
    lastAttempt.finalProgress = shownProgress_;
    return page;
  };
  const int refused = CheckBeforeTheDrive();
  if (refused != NoPage) return finish(refused);

  if (HoldListedDrive(listedDrive) == 0) return finish(UpdateModeFailed);

  BeginAttempt();
  const int switched = SwitchDriveToUpdateMode();
  lastAttempt.switchRan = true;
  lastAttempt.switchResult = switched;
  if (switched == 0) return finish(UpdateModeFailed);

  if (!CheckTypeCodeNow()) {
    lastAttempt.stop = AttemptStop::TypeCodeRefused;
    const std::string drive = update_steps::QuotedTypeCode(driveTypeCode);
    const std::string file = update_steps::QuotedTypeCode(sourceTypeCode);
    lastAttempt.detail = update_steps::Worded(
        detailLanguage, "type code of the drive " + drive + " does not permit the file's " + file,
        "ドライブのタイプコード " + drive + " はファイルのタイプコード " + file + " を許可しません");
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
