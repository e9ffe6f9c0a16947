#pragma once
// UpdateHost for a terminal: the operator's choices come from the command
// line, the step list and the progress bar go to the output stream.

#include <ostream>
#include <string>

#include "update/update_host.h"

namespace orvel {

struct TerminalHostOptions {
  int language = 0;
  bool redrawProgress = false;  // a terminal: one line redrawn in place
  bool quiet = false;           // --json: nothing but the document on the output
  bool backupOnly = false;      // the backup is the whole attempt (the `backup` command)
};

class TerminalHost : public UpdateHost {
 public:
  TerminalHost(std::ostream& out, std::ostream& err, TerminalHostOptions options);

  void SetSourceName(std::string name) { sourceName_ = std::move(name); }
  void RequestBackup(bool on) { backupCheck_ = on ? 1 : 0; }
  // The "Pass Type" box ticked with `key` as the password entry (--pass-type).
  void PassType(std::string key) {
    passTypeCheck_ = 1;
    passwordEntry_ = std::move(key);
  }

  std::string SelectedSourceName() override { return sourceName_; }
  int BackupCheckState() override { return backupCheck_; }
  int UpdateLoaderState() override { return 0; }
  int PassTypeCheckState() override { return passTypeCheck_; }
  std::string PasswordEntry() override { return passwordEntry_; }

  void SetPage(int page) override;
  void SetProgress(int position) override;
  void SetBackupCheckState(int state) override { backupCheck_ = state; }
  void PushMembers() override {}
  void UpdateStarted() override {}
  void CloseAllowed() override {}
  void ShowBackupNotPossible() override;
  void ShowFileError(std::string_view name, FileError error) override;
  // One line on standard error.
  void ShowMachineNotKeptAwake(std::string_view why) override;

  // Ends an open progress line, so that ordinary text may follow.
  void FinishProgressLine();

  int page() const { return page_; }
  int progress() const { return progress_; }
  bool backupNotPossibleShown() const { return backupNotPossibleShown_; }

 private:
  void DrawProgress();
  void TextLine(std::string_view line);

  std::ostream& out_;
  std::ostream& err_;
  TerminalHostOptions options_;
  std::string sourceName_;
  int backupCheck_ = 0;
  int passTypeCheck_ = 0;
  std::string passwordEntry_;
  int page_ = 0;
  int progress_ = -1;  // nothing drawn yet
  bool progressLineOpen_ = false;
  bool backupNotPossibleShown_ = false;
  std::string step_;  // beside the bar: the current step in words and its number of the whole
};

// The marked line (">> ...") of a step page's information text, empty when none.
std::string CurrentStepLine(int page, int language, bool backupTicked);

// The current step of a step page in words and its number of the whole
// ("Erasing Flash ROM (step 4 of 6)"), empty on any other page. The bar
// starts anew in some steps, so it never stands without its step.
std::string StepOfWhole(int page, int language, bool backupTicked);

// "\r\n" as the dialog's texts have it, "\n" on a terminal.
std::string TerminalText(std::string_view text);

}  // namespace orvel
