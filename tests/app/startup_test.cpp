#include <algorithm>

#include "app/update_app.h"
#include "tests/app/app_fixture.h"

namespace orvel::testing {
namespace {

constexpr const char* kSelectText = " Select Target Drive and Source File.\r\n\r\n Eject Disc from Target Drive.";

TEST_F(AppTest, StartsOnSelectionPageWithDrivesAndFiles) {
  WriteSamples();
  MakeMachine("default");
  ui::HeadlessWindow* w = Start();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(started_);

  EXPECT_EQ(w->Caption(), "Orvel");
  EXPECT_EQ(w->Text(kIdTitleEdit), "DVD+RW, CD-R/RW Drive F/W Update Program\r\n95/98/Me/NT4/2000/XP");
  EXPECT_EQ(w->Check(kIdEnglishRadio), 1);
  EXPECT_EQ(w->Text(kIdDriveCaption), "Target Drive");
  EXPECT_EQ(w->Text(kIdCloseButton), "Close");
  EXPECT_EQ(w->Text(kIdNextButton), "Next >");
  EXPECT_EQ(w->Text(kIdBackButton), "< Back");
  EXPECT_EQ(w->Text(kIdBackupCheck), "Back Up current F/W");
  EXPECT_EQ(w->Text(kIdInfoText), kSelectText);
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
  EXPECT_FALSE(w->IsEnabled(kIdBackButton));
  EXPECT_TRUE(w->IsEnabled(kIdNextButton));
  EXPECT_EQ(w->ProgressLow(kIdProgressBar), 0);
  EXPECT_EQ(w->ProgressHigh(kIdProgressBar), 120);
  EXPECT_FALSE(w->IsVisible(kIdPassTypeCheck));
  EXPECT_FALSE(w->IsVisible(kIdUpdateLoaderCheck));
  EXPECT_EQ(w->Focus(), kIdCloseButton);

  // Three supported drives in discovery order; the DVD-ROM is left out.
  const std::vector<std::string> drives = w->ComboItems(kIdDriveList);
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].rfind("cdrom0 :  ", 0), 0u);
  EXPECT_EQ(drives[1].rfind("cdrom1 :  ", 0), 0u);
  EXPECT_EQ(drives[2].rfind("cdrom2 :  ", 0), 0u);
  EXPECT_EQ(w->ComboSelection(kIdDriveList), 0);
  ASSERT_EQ(dlg_->Drives().size(), 3u);
  EXPECT_EQ(dlg_->Drives()[1].address.deviceNumber, 1);

  // Both patterns in one ordering; the first is preselected and identified.
  const std::vector<std::string> files = w->ComboItems(kIdSourceList);
  EXPECT_EQ(files, (std::vector<std::string>{"CR412304.BIN", "CW516215.BIN", "CW724132.KVF", "KZ900200.KVF"}));
  EXPECT_EQ(w->ComboSelection(kIdSourceList), 0);
  EXPECT_EQ(w->Text(kIdSourceDescription), "Tessaro CR-4120 Ver 3.04      ");
  EXPECT_EQ(std::string(dlg_->Procedure().typePassKey.data()), "Tessaro ");

  // Icons: the program icon, big and small.
  const ui::Bitmap& icon = LoadResourceBitmap(kAppIconId);
  EXPECT_EQ(w->Icon(true).pixels, icon.pixels);
  EXPECT_EQ(w->Icon(false).pixels, icon.pixels);

  // Start-up only asks the drives who they are, and writes nothing.
  for (const auto& e : machine_->GetTrace().Entries()) EXPECT_EQ(e.opcode(), 0x12);
  EXPECT_EQ(FilesInDir().size(), 4u);
}

TEST_F(AppTest, SourceListMergesBothPatternsInOneOrder) {
  WriteFile("b.kvf", {1, 2, 3});
  WriteFile("A.bin", {4, 5, 6});
  WriteFile("c.BIN", {7});
  WriteFile("notes.txt", {8});
  std::filesystem::create_directory(std::filesystem::path(dir_) / "d.bin");
  MakeMachine("default");
  ui::HeadlessWindow* w = Start();
  EXPECT_EQ(w->ComboItems(kIdSourceList), (std::vector<std::string>{"A.bin", "b.kvf", "c.BIN"}));
  EXPECT_EQ(w->Text(kIdSourceList), "A.bin");
  // Not a firmware file of any kind: nothing identified, no backup name.
  EXPECT_EQ(w->Text(kIdSourceDescription), "");
  EXPECT_EQ(w->Text(kIdBackupFileName), "");
}

TEST_F(AppTest, StartsWithNoDrivesAndNoFiles) {
  MakeMachine("empty");
  ui::HeadlessWindow* w = Start();
  EXPECT_TRUE(started_);
  EXPECT_EQ(w->ComboCount(kIdDriveList), 0);
  EXPECT_EQ(w->ComboSelection(kIdDriveList), -1);
  EXPECT_EQ(w->ComboCount(kIdSourceList), 0);
  EXPECT_EQ(w->Text(kIdSourceDescription), "");
  EXPECT_EQ(w->Text(kIdInfoText), kSelectText);
  EXPECT_TRUE(ws_.MessageBoxes().empty());

  // Next still leads on; with nothing chosen the attempt is refused.
  ASSERT_TRUE(w->Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, ReadyToStart);
  ASSERT_TRUE(w->Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
  EXPECT_TRUE(w->IsEnabled(kIdNextButton));
  EXPECT_TRUE(FilesInDir().empty());
}

// No drive listed, no drive addressed: not even address 0, where another
// device may answer (the list is made once; the attempt cannot know what sits there).
TEST_F(AppTest, EmptyDriveListSendsNoCommand) {
  WriteSamples();
  MakeMachine("empty");
  ui::HeadlessWindow* w = Start();
  ASSERT_EQ(w->ComboCount(kIdDriveList), 0);
  ASSERT_EQ(w->Text(kIdSourceList), "CR412304.BIN");
  // A device the list does not show sits at address 0.
  machine_->AddDrive(std::make_unique<sim::SimDrive>(6, sim::DriveIdentity{}, sim::SampleImage(0)),
                     sim::Attachment{machine_->DeviceName(TransportMode::CdromDevice, 0), 0, 0});
  machine_->GetTrace().Clear();
  ASSERT_TRUE(w->Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, ReadyToStart);
  ASSERT_TRUE(w->Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, UpdateModeFailed);
  EXPECT_EQ(machine_->GetTrace().size(), 0u);
  EXPECT_EQ(dlg_->Procedure().lastAttempt.driveClaim, DeviceClaimResult::NotListed);
  EXPECT_TRUE(w->IsEnabled(kIdNextButton));
  EXPECT_EQ(FilesInDir().size(), 4u);
}

TEST_F(AppTest, AspiMachineWithoutLibraryEndsBeforeShowing) {
  WriteSamples();
  MakeMachine("aspi-no-library");
  CUpdateApp app(ws_, *machine_, kOrvelVariant);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.ModalResult(), 0);
  ASSERT_EQ(ws_.MessageBoxes().size(), 1u);
  EXPECT_EQ(ws_.MessageBoxes()[0].text, "Not found 'ASPI32.DLL'");
  EXPECT_EQ(ws_.MessageBoxes()[0].caption, "Orvel");
  EXPECT_EQ(ws_.MessageBoxes()[0].icon, ui::MessageBoxIcon::Stop);
  EXPECT_EQ(ws_.MessageBoxes()[0].ownerTemplateId, kUpdateDialogId);
  EXPECT_EQ(machine_->GetTrace().size(), 0u);
  EXPECT_EQ(ws_.DestroyedCount(kUpdateDialogId), 1);
}

TEST_F(AppTest, UnknownPlatformShowsItsIdAsExclamation) {
  MakeMachine("platform-0");
  ui::HeadlessWindow* w = Start(kOrvelinVariant);
  EXPECT_FALSE(started_);
  EXPECT_TRUE(w->IsModalEnded());
  EXPECT_EQ(w->ModalResult(), 0);
  ASSERT_EQ(ws_.MessageBoxes().size(), 1u);
  EXPECT_EQ(ws_.MessageBoxes()[0].text, "ASPI:LoadErr [0]");
  EXPECT_EQ(ws_.MessageBoxes()[0].caption, "Orvelin");
  EXPECT_EQ(ws_.MessageBoxes()[0].icon, ui::MessageBoxIcon::Exclamation);
  // No control was filled.
  EXPECT_EQ(w->Text(kIdTitleEdit), "");
  EXPECT_EQ(w->ComboCount(kIdSourceList), 0);
}

TEST_F(AppTest, AspiMachineListsDrivesByAdapterAndTarget) {
  WriteSamples();
  MakeMachine("aspi");
  ui::HeadlessWindow* w = Start();
  const std::vector<std::string> drives = w->ComboItems(kIdDriveList);
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[2].rfind("HA:0 ID:2  ", 0), 0u);
}

// A machine whose drives the user may not open.
class DeniedMachine : public sim::SimMachine {
 public:
  using sim::SimMachine::SimMachine;
  std::string AccessProblem() override { return "/dev/sg0: permission denied"; }
};

TEST_F(AppTest, AccessProblemIsShownWhenNoDriveWasFound) {
  DeniedMachine denied(kPlatformNt, dir_);
  RecordingDlg dlg(ws_, denied, kOrvelVariant);
  EXPECT_TRUE(dlg.Create());
  ASSERT_EQ(ws_.MessageBoxes().size(), 1u);
  EXPECT_EQ(ws_.MessageBoxes()[0].text, "/dev/sg0: permission denied");
  EXPECT_EQ(ws_.MessageBoxes()[0].icon, ui::MessageBoxIcon::Exclamation);
  EXPECT_EQ(dlg.page, SelectDriveAndFile);
}

TEST_F(AppTest, OrvelPaintsItsLogoAndKeepsTheMakerName) {
  MakeMachine("default");
  ui::HeadlessWindow* w = Start(kOrvelVariant);
  w->Paint();
  EXPECT_EQ(w->PictureOf(kIdLogoPicture).pixels, LoadResourceBitmap(kOrvelLogoId).pixels);
  EXPECT_TRUE(w->IsVisible(kIdMakerText));
  EXPECT_EQ(w->Text(kIdMakerText), "Tessaro Co. ,Ltd.");
  const auto blit = std::find_if(w->LastPaint().begin(), w->LastPaint().end(),
                                 [](const ui::PaintOp& op) { return op.kind == ui::PaintOp::Kind::Blit; });
  ASSERT_NE(blit, w->LastPaint().end());
  EXPECT_EQ(blit->controlId, kIdLogoPicture);
  EXPECT_EQ(blit->width, kLogoWidth);
  EXPECT_EQ(blit->height, kLogoHeight);
}

TEST_F(AppTest, OrvelinPaintsItsOwnLogoAndHidesTheMakerName) {
  MakeMachine("default");
  ui::HeadlessWindow* w = Start(kOrvelinVariant);
  EXPECT_EQ(w->Caption(), "Orvelin");
  w->Paint();
  EXPECT_EQ(w->PictureOf(kIdLogoPicture).pixels, LoadResourceBitmap(kOrvelinLogoId).pixels);
  EXPECT_NE(LoadResourceBitmap(kOrvelinLogoId).pixels, LoadResourceBitmap(kOrvelLogoId).pixels);
  EXPECT_FALSE(w->IsVisible(kIdMakerText));
  // Same texts as Orvel.
  EXPECT_EQ(w->Text(kIdInfoText), kSelectText);
}

TEST_F(AppTest, MinimisedWindowShowsTheIconCentred) {
  MakeMachine("default");
  ui::HeadlessWindow* w = Start();
  ws_.SetIconSize(32, 32);
  w->SetMinimized(true);
  const std::vector<ui::PaintOp>& ops = w->LastPaint();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].kind, ui::PaintOp::Kind::EraseIconBackground);
  EXPECT_EQ(ops[1].kind, ui::PaintOp::Kind::DrawIcon);
  EXPECT_EQ(ops[1].x, (w->ClientWidth() - 32 + 1) / 2);
  EXPECT_EQ(ops[1].y, (w->ClientHeight() - 32 + 1) / 2);
  EXPECT_EQ(ops[1].bitmap.pixels, LoadResourceBitmap(kAppIconId).pixels);
  EXPECT_EQ(dlg_->OnQueryDragIcon().pixels, LoadResourceBitmap(kAppIconId).pixels);
  // Restored, the logo is back.
  w->SetMinimized(false);
  EXPECT_FALSE(w->PictureOf(kIdLogoPicture).empty());
}

TEST_F(AppTest, ClosingBeforeAnyUpdateReleasesNothing) {
  WriteSamples();
  MakeMachine("default");
  CUpdateApp app(ws_, *machine_, kOrvelVariant);
  int releases = -1;
  bool bufferAfterClose = true;
  app.SetBeforeDestroy([&](CUpdateDlg& d) {
    releases = d.ImageBufferReleases();
    bufferAfterClose = d.Procedure().imageBuffer != nullptr;
  });
  ws_.SetModalScript(kUpdateDialogId, [](ui::HeadlessWindow& w) { EXPECT_TRUE(w.PressEnter()); });
  EXPECT_FALSE(app.InitInstance());
  // Enter presses Close, which has the focus.
  EXPECT_EQ(app.ModalResult(), ui::IDCANCEL);
  EXPECT_EQ(releases, 0);
  EXPECT_FALSE(bufferAfterClose);
}

TEST_F(AppTest, ClosingAfterAnUpdateReleasesTheImageOnce) {
  WriteSamples();
  MakeMachine("default");
  CUpdateApp app(ws_, *machine_, kOrvelVariant);
  int releases = -1;
  bool bufferAfterClose = true;
  app.SetBeforeDestroy([&](CUpdateDlg& d) {
    releases = d.ImageBufferReleases();
    bufferAfterClose = d.Procedure().imageBuffer != nullptr;
  });
  ws_.SetModalScript(kUpdateDialogId, [&](ui::HeadlessWindow& w) {
    ASSERT_TRUE(w.SelectItem(kIdSourceList, "CW724132.KVF"));
    ASSERT_TRUE(w.Click(kIdNextButton));
    ASSERT_TRUE(w.Click(kIdNextButton));
    ASSERT_NE(app.MainWindow(), nullptr);
    EXPECT_EQ(app.MainWindow()->page, Completed);
    EXPECT_NE(app.MainWindow()->Procedure().imageBuffer, nullptr);
    EXPECT_TRUE(w.PressEscape());
  });
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.ModalResult(), ui::IDCANCEL);
  EXPECT_EQ(releases, 1);
  EXPECT_FALSE(bufferAfterClose);
}

}  // namespace
}  // namespace orvel::testing
