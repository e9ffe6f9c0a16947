#pragma once
// Page values of the step-by-step flow; the values matter (the Next / Start
// handler compares with 4 and 13, the refresh marks steps for 5..10).

namespace orvel {

enum WizardPage : int {
  NoPage = 0,
  Searching = 1,
  SelectDriveAndFile = 3,
  ReadyToStart = 4,
  BackingUp = 5,
  Transferring = 6,
  CheckingSum = 7,
  Erasing = 8,
  Writing = 9,
  CheckingSumAgain = 10,
  Completed = 11,
  Failed = 12,
  TypeCodeMismatch = 13,
  UpdateModeFailed = 14,
  NoBackupFileName = 15,
  BackupFailed = 16,
};

enum Language : int { English = 0, Japanese = 1 };

}  // namespace orvel
