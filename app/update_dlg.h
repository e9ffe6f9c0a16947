#pragma once
// The one dialog of the programs: it owns the controls, the screen texts, the
// page and language, the transport and the update procedure, and leads the
// operator from choosing a drive and a file to the result of the update.

#include <string>
#include <vector>

#include "app/responsive_platform.h"
#include "app/variant.h"
#include "drive/discovery.h"
#include "transport/scsi_transport.h"
#include "ui/dialog.h"
#include "update/update_host.h"
#include "update/update_procedure.h"
#include "update/wizard_page.h"

namespace orvel {

inline constexpr std::string_view kTitleText = "DVD+RW, CD-R/RW Drive F/W Update Program\r\n95/98/Me/NT4/2000/XP";
inline constexpr std::string_view kBackupNotPossibleText =
    "I could not back up the F/W in selected model. I continue the updating.";
inline constexpr std::string_view kBackupNotPossibleCaption = "Back up";

class CUpdateDlg : public ui::CDialog, private UpdateHost {
 public:
  CUpdateDlg(ui::WindowSystem& ws, Platform& platform, const Variant& variant, ui::CDialog* parent = nullptr);
  ~CUpdateDlg() override;
  CUpdateDlg(const CUpdateDlg&) = delete;
  CUpdateDlg& operator=(const CUpdateDlg&) = delete;

  // Start-up: icons, route, titles, captions, file list, discovery, first
  // selections. false when no SCSI route is usable (the dialog has ended with 0).
  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;
  // Minimised: the icon centred; otherwise the logo into its frame.
  void OnPaint(ui::PaintContext& pc) override;
  // The picture shown while the minimised window is dragged. The window
  // systems behind ui/ take the window icon for that, which is the same picture.
  const ui::Bitmap& OnQueryDragIcon() const { return appIcon; }
  // Releases the image buffer (when one was loaded), then the window.
  void DestroyWindow() override;

  void ApplyEnglishCaptions();
  void ApplyJapaneseCaptions();
  // Rebuilds every text from page and language, pushes them and repaints at once.
  void RefreshScreenTexts();
  void OnNextClicked();
  void OnBackClicked();
  void OnPassTypeClicked();
  void IdentifySourceFile() { procedure_.IdentifySourceFile(); }
  void ChooseBackupFileName() { procedure_.ChooseBackupFileName(); }

  // --- controls, in exchange order ---
  ui::CButton backupCheck;
  ui::CComboBox driveList;
  ui::CComboBox sourceList;
  ui::CButton passTypeCheck;
  ui::CEdit titleEdit;
  ui::CStatic makerText;
  ui::CStatic logoPicture;
  ui::CButton backButton;
  ui::CButton updateLoaderCheck;
  ui::CButton closeButton;
  ui::CButton nextButton;
  ui::CProgressCtrl progressBar;

  // --- texts (the backup name and the description live in the procedure) ---
  std::string driveCaption;
  std::string sourceCaption;
  std::string infoCaption;
  std::string progressCaption;
  std::string infoText;

  int updateLoader = 0;
  std::string passwordEntry;
  ui::Bitmap appIcon;
  int page = NoPage;
  int language = English;

  // --- the state of the run held by the procedure ---
  UpdateProcedure& Procedure() { return procedure_; }
  ScsiTransport& Transport() { return transport_; }
  const std::vector<DriveEntry>& Drives() const { return drives_; }
  const Variant& GetVariant() const { return variant_; }
  std::string& backupFileName() { return procedure_.backupFileName; }
  std::string& sourceDescription() { return procedure_.sourceDescription; }
  // How many times window destruction released a loaded image buffer.
  int ImageBufferReleases() const { return imageBufferReleases_; }

 private:
  // UpdateHost: what the procedure reads and reports.
  std::string SelectedSourceName() override;
  int BackupCheckState() override;
  int UpdateLoaderState() override;
  int PassTypeCheckState() override;
  std::string PasswordEntry() override;
  void SetPage(int value) override;
  void SetProgress(int position) override;
  void SetBackupCheckState(int state) override;
  void PushMembers() override;
  void UpdateStarted() override;
  void CloseAllowed() override;
  void ShowBackupNotPossible() override;
  void ShowFileError(std::string_view name, FileError error) override;
  void ShowMachineNotKeptAwake(std::string_view why) override;

  void ApplyCaptions(int lang);
  void RunAttempt();
  void SetBusy(bool busy);

  Platform& platform_;
  Variant variant_;
  // What the transport and the procedure pause on: the window stays alive.
  ResponsivePlatform responsive_;
  ScsiTransport transport_;
  UpdateProcedure procedure_;
  std::vector<DriveEntry> drives_;  // in drive-list order, each with its address
  int imageBufferReleases_ = 0;
};

}  // namespace orvel
