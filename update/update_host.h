#pragma once
// The narrow interface through which the update procedure reaches whoever runs
// it (the wizard dialog, the command line, a test): what it reads from the
// operator's controls and what it reports. No window system behind it here.

#include <string>
#include <string_view>

#include "platform/files.h"

namespace orvel {

class UpdateHost {
 public:
  virtual ~UpdateHost() = default;

  // --- what the procedure reads, at the moment it needs it ---
  // Text of the source-file list (the selected name), empty when none.
  virtual std::string SelectedSourceName() = 0;
  // Check state of "Back Up current F/W" (any nonzero value counts as ticked).
  virtual int BackupCheckState() = 0;
  // Check state of "Update Loader", read once, just before StartRewrite is sent.
  virtual int UpdateLoaderState() = 0;
  // Check state of "Pass Type" and the last password entry.
  virtual int PassTypeCheckState() = 0;
  virtual std::string PasswordEntry() = 0;

  // --- what it reports ---
  // page := value, then the screen texts are rebuilt and repainted at once.
  virtual void SetPage(int page) = 0;
  // The progress bar moves to `position` (0..120).
  virtual void SetProgress(int position) = 0;
  // Clears or sets the backup check box.
  virtual void SetBackupCheckState(int state) = 0;
  // The procedure's members changed (description, backup name): push them to the controls.
  virtual void PushMembers() = 0;
  // The type-code decision passed: Next and Close become disabled.
  virtual void UpdateStarted() = 0;
  // Close becomes enabled again (Next stays disabled).
  virtual void CloseAllowed() = 0;
  // "I could not back up the F/W in selected model. I continue the updating."
  // (caption "Back up", information icon, OK); returns when the operator closed it.
  virtual void ShowBackupNotPossible() = 0;
  // A source file did not open when the update loaded it: the file-error
  // message naming the file, OK button.
  virtual void ShowFileError(std::string_view name, FileError error) = 0;
  // The attempt has begun, but nothing keeps the machine from suspending or
  // shutting down meanwhile: `why` (one line, English). The attempt goes on.
  virtual void ShowMachineNotKeptAwake(std::string_view why) = 0;
};

}  // namespace orvel
