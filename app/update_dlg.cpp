#include "app/update_dlg.h"

#include "app/password_dlg.h"
#include "firmware/image_file.h"
#include "resources/resources.h"
#include "update/page_texts.h"

namespace orvel {
namespace {

constexpr unsigned kOrdinaryFiles = 0;
constexpr std::string_view kEncodedPattern = "*.kvf";
constexpr std::string_view kPlainPattern = "*.bin";

ui::MessageBoxIcon ToBoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Stop: return ui::MessageBoxIcon::Stop;
    case MessageIcon::Exclamation: return ui::MessageBoxIcon::Exclamation;
    case MessageIcon::Information: return ui::MessageBoxIcon::Information;
  }
  return ui::MessageBoxIcon::Stop;
}

}  // namespace

CUpdateDlg::CUpdateDlg(ui::WindowSystem& ws, Platform& platform, const Variant& variant, ui::CDialog* parent)
    : ui::CDialog(UpdateDialogTemplate(), ws, parent),
      appIcon(LoadResourceBitmap(kAppIconId)),
      platform_(platform),
      variant_(variant),
      responsive_(platform, [this] { KeepAlive(); }),
      transport_(responsive_),
      procedure_(transport_, *this, variant.rules) {
  procedure_.alternateReadForm = 0;
  OnClicked(kIdEnglishRadio, [this] { ApplyEnglishCaptions(); });
  OnClicked(kIdJapaneseRadio, [this] { ApplyJapaneseCaptions(); });
  OnClicked(kIdNextButton, [this] { OnNextClicked(); });
  OnSelChange(kIdSourceList, [this] { IdentifySourceFile(); });
  OnClicked(kIdBackupCheck, [this] { ChooseBackupFileName(); });
  OnClicked(kIdBackButton, [this] { OnBackClicked(); });
  OnClicked(kIdPassTypeCheck, [this] { OnPassTypeClicked(); });
}

CUpdateDlg::~CUpdateDlg() = default;

void CUpdateDlg::DoDataExchange(ui::DataExchange& dx) {
  dx.Control(kIdBackupCheck, backupCheck);
  dx.Control(kIdDriveList, driveList);
  dx.Control(kIdSourceList, sourceList);
  dx.Control(kIdPassTypeCheck, passTypeCheck);
  dx.Control(kIdTitleEdit, titleEdit);
  dx.Control(kIdMakerText, makerText);
  dx.Control(kIdLogoPicture, logoPicture);
  dx.Control(kIdBackButton, backButton);
  dx.Control(kIdUpdateLoaderCheck, updateLoaderCheck);
  dx.Control(kIdCloseButton, closeButton);
  dx.Control(kIdNextButton, nextButton);
  dx.Control(kIdProgressBar, progressBar);

  dx.Text(kIdDriveCaption, driveCaption);
  dx.Text(kIdSourceCaption, sourceCaption);
  dx.Text(kIdInfoCaption, infoCaption);
  dx.Text(kIdProgressCaption, progressCaption);
  dx.Text(kIdInfoText, infoText);
  dx.Text(kIdBackupFileName, procedure_.backupFileName);
  dx.Text(kIdSourceDescription, procedure_.sourceDescription);

  dx.Check(kIdUpdateLoaderCheck, updateLoader);
}

bool CUpdateDlg::OnInitDialog() {
  ui::CDialog::OnInitDialog();
  SetIcon(appIcon, true);
  SetIcon(appIcon, false);

  TransportMessage message;
  if (!transport_.SelectTransport(&message)) {
    MessageBox(message.text, variant_.title, ToBoxIcon(message.icon));
    EndDialog(0);
    return false;
  }

  titleEdit.SetWindowText(kTitleText);
  SetWindowText(variant_.title);

  procedure_.progressPos = 0;
  progressBar.SetRange(0, kProgressMax);

  Window()->SetCheck(kIdEnglishRadio, 1);
  ApplyEnglishCaptions();

  page = Searching;
  procedure_.imageBuffer.reset();
  procedure_.loaderUpdateForced = 0;
  procedure_.loaderUpdateBarred = 0;
  RefreshScreenTexts();

  driveList.ResetContent();
  sourceList.ResetContent();
  sourceList.Dir(kOrdinaryFiles, kEncodedPattern, platform_.Files());
  sourceList.Dir(kOrdinaryFiles, kPlainPattern, platform_.Files());

  passTypeCheck.ShowWindow(false);
  updateLoaderCheck.ShowWindow(false);

  drives_ = DiscoverDrives(transport_);
  for (const DriveEntry& drive : drives_) driveList.AddString(drive.label);

  page = SelectDriveAndFile;
  RefreshScreenTexts();

  if (driveList.GetCount() > 0) driveList.SetCurSel(0);
  sourceList.SetCurSel(0);

  // A selection made by the program sends no notification.
  IdentifySourceFile();

  // Drives the user may not reach would otherwise just be missing from the list.
  if (drives_.empty()) {
    const std::string problem = platform_.AccessProblem();
    if (!problem.empty()) MessageBox(problem, variant_.title, ui::MessageBoxIcon::Exclamation);
  }
  return true;
}

void CUpdateDlg::OnPaint(ui::PaintContext& pc) {
  if (pc.Minimized()) {
    pc.EraseIconBackground();
    const int x = (pc.ClientWidth() - System().IconWidth() + 1) / 2;
    const int y = (pc.ClientHeight() - System().IconHeight() + 1) / 2;
    pc.DrawIcon(x, y, appIcon);
    return;
  }
  const ui::Bitmap& logo = LoadResourceBitmap(variant_.logoId);
  if (variant_.hideMakerName) makerText.ShowWindow(false);
  if (!logo.empty()) pc.BlitToControl(kIdLogoPicture, logo, kLogoWidth, kLogoHeight);
  ui::CDialog::OnPaint(pc);
}

void CUpdateDlg::DestroyWindow() {
  if (procedure_.imageBuffer != nullptr) {
    procedure_.imageBuffer.reset();
    ++imageBufferReleases_;
  }
  ui::CDialog::DestroyWindow();
}

void CUpdateDlg::ApplyCaptions(int lang) {
  const CaptionTexts& texts = Captions(lang);
  driveCaption = texts.driveCaption;
  sourceCaption = texts.sourceCaption;
  infoCaption = texts.infoCaption;
  progressCaption = texts.progressCaption;
  backupCheck.SetWindowText(texts.backupCheck);
  closeButton.SetWindowText(texts.closeButton);
  nextButton.SetWindowText(texts.nextButton);
  backButton.SetWindowText(texts.backButton);
  language = lang;
  RefreshScreenTexts();
}

void CUpdateDlg::ApplyEnglishCaptions() { ApplyCaptions(English); }
void CUpdateDlg::ApplyJapaneseCaptions() { ApplyCaptions(Japanese); }

void CUpdateDlg::RefreshScreenTexts() {
  infoText.clear();
  backButton.EnableWindow(false);
  const PageRow row = PageTextRow(page, language);
  if (row.present) {
    infoText = InformationText(page, language, backupCheck.GetCheck() == 1);
    if (!row.nextCaption.empty()) nextButton.SetWindowText(row.nextCaption);
    if (row.backEnabled) backButton.EnableWindow(true);
  }
  UpdateData(false);
  UpdateWindow();
}

void CUpdateDlg::OnNextClicked() {
  UpdateData(true);
  if (page < ReadyToStart) {
    page = page + 1;
  } else if (page >= TypeCodeMismatch) {
    page = SelectDriveAndFile;
  } else {
    RunAttempt();
  }
  RefreshScreenTexts();
  // An interruption held while the drive was in update mode (a Ctrl-C in the
  // terminal, a SIGTERM at logout) acts now that the outcome is on the screen.
  const Interruption held = procedure_.lastAttempt.heldInterruption;
  procedure_.lastAttempt.heldInterruption = 0;
  if (held != 0) platform_.ActOnInterruption(held);
}

void CUpdateDlg::RunAttempt() {
  const std::string label = driveList.GetWindowText();
  const int selected = driveList.GetCurSel();
  // Only a drive of the list is ever addressed: its address is the one kept
  // beside the entry (it reaches adapters the label's single digit cannot).
  // With nothing listed or selected, the attempt sends nothing.
  const DriveAddress* listed = nullptr;
  if (selected >= 0 && static_cast<std::size_t>(selected) < drives_.size() &&
      drives_[static_cast<std::size_t>(selected)].label == label) {
    listed = &drives_[static_cast<std::size_t>(selected)].address;
  }
  // Busy: pauses and progress moves keep the window alive, and the operator's
  // input and close requests meanwhile are discarded (not acted on afterwards).
  SetBusy(true);
  page = procedure_.RunUpdateAttempt(listed);
  SetBusy(false);
}

void CUpdateDlg::OnBackClicked() {
  passTypeCheck.SetCheck(0);
  updateLoaderCheck.SetCheck(0);
  // The members updateLoader and passwordEntry are left as they are.
  passTypeCheck.ShowWindow(false);
  updateLoaderCheck.ShowWindow(false);
  page = SelectDriveAndFile;
  RefreshScreenTexts();
}

void CUpdateDlg::OnPassTypeClicked() {
  if (passTypeCheck.GetCheck() != 1) return;
  CPasswordDlg prompt(System());
  prompt.DoModal();
  passwordEntry = prompt.passwordText;
  if (!PassKeyMatches(passwordEntry, procedure_.typePassKey)) {
    passTypeCheck.SetCheck(0);
    UpdateData(false);
  }
}

void CUpdateDlg::SetBusy(bool busy) {
  if (Window() != nullptr) Window()->SetBusy(busy);
}

// --- UpdateHost ---

std::string CUpdateDlg::SelectedSourceName() { return sourceList.GetWindowText(); }
int CUpdateDlg::BackupCheckState() { return backupCheck.GetCheck(); }

int CUpdateDlg::UpdateLoaderState() {
  UpdateData(true);
  return updateLoader;
}

int CUpdateDlg::PassTypeCheckState() { return passTypeCheck.GetCheck(); }
std::string CUpdateDlg::PasswordEntry() { return passwordEntry; }

void CUpdateDlg::SetPage(int value) {
  page = value;
  RefreshScreenTexts();
}

// The transfer and the backup move the bar without pausing, for seconds on a
// real drive: each move keeps the window alive as a pause does.
void CUpdateDlg::SetProgress(int position) {
  progressBar.SetPos(position);
  KeepAlive();
}
void CUpdateDlg::SetBackupCheckState(int state) { backupCheck.SetCheck(state); }
void CUpdateDlg::PushMembers() { UpdateData(false); }

void CUpdateDlg::UpdateStarted() {
  nextButton.EnableWindow(false);
  closeButton.EnableWindow(false);
}

void CUpdateDlg::CloseAllowed() { closeButton.EnableWindow(true); }

void CUpdateDlg::ShowBackupNotPossible() {
  MessageBox(kBackupNotPossibleText, kBackupNotPossibleCaption, ui::MessageBoxIcon::Information);
}

// The framework's own file-error box: its text does not follow the language buttons.
void CUpdateDlg::ShowFileError(std::string_view name, FileError error) {
  std::string text(name);
  if (error == FileError::NotFound) {
    text += " が見つかりませんでした。";
  } else {
    text += " を開けませんでした。(";
    text += FileErrorText(error);
    text += ")";
  }
  MessageBox(text, variant_.title, ui::MessageBoxIcon::Exclamation);
}

// The pages have no text for it, and a message box would wait for a click in
// the middle of the attempt: the attempt goes on, as on the command line.
void CUpdateDlg::ShowMachineNotKeptAwake(std::string_view) {}

}  // namespace orvel
