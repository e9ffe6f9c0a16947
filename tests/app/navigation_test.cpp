#include <algorithm>
#include <functional>
#include <utility>

#include "platform/forwarding_platform.h"

#include "tests/app/app_fixture.h"

namespace orvel::testing {
namespace {

constexpr const char* kCw7240 = "CW724132.KVF";  // fits cdrom0 (family 6)
constexpr const char* kCw5160 = "CW516215.BIN";  // fits cdrom1 (family 4)

constexpr const char* kCompletedText =
    " Completed to update F/W of Drive.\r\n\r\n *** OK ** OK ** OK *** \r\n\r\n Turn OFF PC & Drive and Reboot them.";
constexpr const char* kFailedText = " Fail to update.\r\n\r\n *** NG ** NG ** NG *** \r\n\r\n Turn OFF PC and Reboot it.";
constexpr const char* kMismatchText =
    " Cannot update for different Type Code.\r\n\r\n *** NG ** NG ** NG *** \r\n\r\n Make sure Selected Source File.";
constexpr const char* kModeFailedText =
    " Cannot change Drive to Up Mode.\r\n\r\n *** NG ** NG ** NG *** \r\n\r\n Make sure Selected Target Drive.";

bool SawPage(const std::vector<Frame>& frames, int page) {
  return std::any_of(frames.begin(), frames.end(), [&](const Frame& f) { return f.page == page; });
}
const Frame* FirstFrameOf(const std::vector<Frame>& frames, int page) {
  auto it = std::find_if(frames.begin(), frames.end(), [&](const Frame& f) { return f.page == page; });
  return it == frames.end() ? nullptr : &*it;
}

TEST_F(AppTest, SuccessfulUpdateWalksEveryStepAndRewritesTheDrive) {
  WriteSamples();
  MakeMachine("default");
  Start();
  Choose(0, kCw7240);
  const std::vector<std::uint8_t> otherDrive = FlashOf(1);

  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, ReadyToStart);
  EXPECT_EQ(W().Text(kIdInfoText), " Push Start button and Start to update.");
  EXPECT_EQ(W().Text(kIdNextButton), "Start");
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));
  EXPECT_EQ(VendorCommandsTo(0), 0u);  // Next alone sends nothing

  dlg_->frames.clear();
  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, Completed);
  EXPECT_EQ(W().Text(kIdInfoText), kCompletedText);
  EXPECT_EQ(W().Text(kIdNextButton), "Next >");
  EXPECT_FALSE(W().IsEnabled(kIdNextButton));
  EXPECT_TRUE(W().IsEnabled(kIdCloseButton));
  EXPECT_FALSE(W().IsEnabled(kIdBackButton));
  EXPECT_FALSE(W().Busy());
  EXPECT_EQ(W().ProgressPosition(kIdProgressBar), kProgressMax);

  // The step list moved through the drive's phases with Close and Next disabled.
  for (int step : {Transferring, CheckingSum, Erasing, Writing, CheckingSumAgain}) {
    const Frame* f = FirstFrameOf(dlg_->frames, step);
    ASSERT_NE(f, nullptr) << step;
    EXPECT_FALSE(f->closeEnabled) << step;
    EXPECT_FALSE(f->nextEnabled) << step;
    EXPECT_FALSE(f->backEnabled) << step;
    EXPECT_EQ(f->info, InformationText(step, English, false)) << step;
  }
  EXPECT_FALSE(SawPage(dlg_->frames, BackingUp));
  EXPECT_EQ(FirstFrameOf(dlg_->frames, Erasing)->info,
            "    Transferring Writing Data \r\n"
            "    Confirming SUM Code \r\n"
            ">> Erasing Flash ROM \r\n"
            "    Writing Data into Flash ROM \r\n"
            "    Confirming SUM Code \r\n");
  // Progress only moves forward.
  for (std::size_t i = 1; i < dlg_->frames.size(); ++i) {
    EXPECT_GE(dlg_->frames[i].progress, dlg_->frames[i - 1].progress);
  }

  // The drive holds the new image byte for byte; the others were left alone.
  EXPECT_EQ(FlashOf(0), sim::SampleImage(0));
  EXPECT_EQ(FlashOf(1), otherDrive);
  EXPECT_EQ(VendorCommandsTo(1), 0u);
  EXPECT_EQ(VendorCommandsTo(2), 0u);
  EXPECT_EQ(machine_->Drive(0).RewritesCompleted(), 1);
  EXPECT_EQ(FilesInDir().size(), 4u);  // no backup written

  // Next on the result page is disabled for the rest of the run.
  EXPECT_FALSE(W().Click(kIdNextButton));
}

TEST_F(AppTest, BackupIsWrittenBeforeTheUpdateAndNamedAtOnce) {
  WriteSamples();
  MakeMachine("default");
  Start();
  Choose(0, kCw7240);
  const std::vector<std::uint8_t> installed = FlashOf(0);

  ASSERT_TRUE(W().Click(kIdBackupCheck));
  EXPECT_EQ(W().Text(kIdBackupFileName), "CDRWFW00.KVF");
  NextAndStart();
  EXPECT_EQ(dlg_->page, Completed);

  const Frame* backing = FirstFrameOf(dlg_->frames, BackingUp);
  ASSERT_NE(backing, nullptr);
  EXPECT_EQ(backing->info,
            ">> Backing Up F/W \r\n"
            "    Transferring Writing Data \r\n"
            "    Confirming SUM Code \r\n"
            "    Erasing Flash ROM \r\n"
            "    Writing Data into Flash ROM \r\n"
            "    Confirming SUM Code \r\n");
  EXPECT_FALSE(backing->closeEnabled);
  EXPECT_EQ(FirstFrameOf(dlg_->frames, CheckingSum)->info,
            "    Backing Up F/W \r\n"
            "    Transferring Writing Data \r\n"
            ">> Confirming SUM Code \r\n"
            "    Erasing Flash ROM \r\n"
            "    Writing Data into Flash ROM \r\n"
            "    Confirming SUM Code \r\n");

  // The backup holds the old firmware in the family's file form.
  ASSERT_TRUE(FilesInDir().count("CDRWFW00.KVF"));
  EXPECT_EQ(ReadFile("CDRWFW00.KVF"), EncodeForFamily(6, installed));
  EXPECT_EQ(FlashOf(0), sim::SampleImage(0));
}

TEST_F(AppTest, AllBackupNamesTakenShowsTheirPageAndSendsNothing) {
  WriteSamples();
  for (int i = 0; i < kBackupNameCount; ++i) WriteFile("CDRWFW0" + std::to_string(i) + ".BIN", {0});
  MakeMachine("default");
  Start();
  Choose(1, kCw5160);
  const std::size_t commands = machine_->GetTrace().size();

  ASSERT_TRUE(W().Click(kIdBackupCheck));
  EXPECT_EQ(dlg_->page, NoBackupFileName);
  EXPECT_EQ(W().Text(kIdInfoText), " Fail to make Back Up File.\r\n\r\n Rename Before Back Up File.");
  EXPECT_EQ(W().Check(kIdBackupCheck), 0);
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));

  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
  EXPECT_EQ(machine_->GetTrace().size(), commands);
  EXPECT_EQ(FilesInDir().size(), 4u + kBackupNameCount);
}

TEST_F(AppTest, DifferentTypeCodeIsRefusedAndLeavesNextEnabled) {
  WriteSamples();
  MakeMachine("default");
  Start();
  Choose(1, kCw7240);  // family 4 drive, family 6 file
  const std::vector<std::uint8_t> installed = FlashOf(1);
  NextAndStart();

  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
  EXPECT_EQ(W().Text(kIdInfoText), kMismatchText);
  EXPECT_EQ(W().Text(kIdNextButton), "Next >");
  EXPECT_TRUE(W().IsEnabled(kIdNextButton));
  EXPECT_TRUE(W().IsEnabled(kIdCloseButton));
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));
  EXPECT_EQ(machine_->GetTrace().Count(0xE2), 0u);
  EXPECT_EQ(FlashOf(1), installed);
  EXPECT_EQ(FilesInDir().size(), 4u);

  // Back, choose the right file, and the same run updates the drive.
  ASSERT_TRUE(W().Click(kIdBackButton));
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
  ASSERT_TRUE(W().SelectItem(kIdSourceList, kCw5160));
  NextAndStart();
  EXPECT_EQ(dlg_->page, Completed);
  EXPECT_EQ(FlashOf(1), sim::SampleImage(1));
}

TEST_F(AppTest, DriveThatStaysInNormalModeIsReported) {
  WriteSamples();
  MakeMachine("no-update-mode");
  Start();
  Choose(0, kCw7240);
  NextAndStart();
  EXPECT_EQ(dlg_->page, UpdateModeFailed);
  EXPECT_EQ(W().Text(kIdInfoText), kModeFailedText);
  EXPECT_TRUE(W().IsEnabled(kIdNextButton));
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));
  EXPECT_EQ(machine_->GetTrace().Count(0xE2), 0u);
  // Next returns to the selection.
  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
  EXPECT_EQ(W().Text(kIdNextButton), "Next >");
}

// The list is made at start-up; a hot-plug before Start may put another
// device behind a listed node. That device hears nothing.
TEST_F(AppTest, ADeviceSwappedInAfterTheListWasMadeHearsNothing) {
  WriteSamples();
  MakeMachine("default,swap=0:3");
  ui::HeadlessWindow* w = Start();
  Choose(0, kCw7240);
  ASSERT_TRUE(w->Click(kIdBackupCheck));
  machine_->GetTrace().Clear();
  NextAndStart();
  EXPECT_EQ(dlg_->page, UpdateModeFailed);
  EXPECT_EQ(w->Text(kIdInfoText), kModeFailedText);
  EXPECT_EQ(machine_->GetTrace().size(), 0u);
  EXPECT_EQ(dlg_->Procedure().lastAttempt.driveClaim, DeviceClaimResult::Changed);
  EXPECT_TRUE(w->IsEnabled(kIdNextButton));
  EXPECT_TRUE(w->IsEnabled(kIdBackButton));
  EXPECT_EQ(FilesInDir().size(), 4u) << "no backup file";
  EXPECT_EQ(FlashOf(0), sim::MakeDriveImage(6, "QDX72", "Tessaro CW-7240 Ver 1.10", 0x7240110));
  EXPECT_EQ(machine_->ClaimedDevice(), "");
}

TEST_F(AppTest, FailedRewriteAllowsOnlyBackAndClose) {
  WriteSamples();
  MakeMachine("rewrite-fails");
  Start();
  Choose(0, kCw7240);
  NextAndStart();
  EXPECT_EQ(dlg_->page, Failed);
  EXPECT_EQ(W().Text(kIdInfoText), kFailedText);
  EXPECT_FALSE(W().IsEnabled(kIdNextButton));
  EXPECT_TRUE(W().IsEnabled(kIdCloseButton));
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));
  EXPECT_TRUE(SawPage(dlg_->frames, Erasing));

  ASSERT_TRUE(W().Click(kIdBackButton));
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
  EXPECT_FALSE(W().IsEnabled(kIdNextButton));
  EXPECT_FALSE(W().Click(kIdNextButton));
}

// A backup read that fails after the switch (what the directory cannot take
// is known before it).
TEST_F(AppTest, FailedBackupLeavesOnlyClose) {
  WriteSamples();
  MakeMachine("default,fault=e3:5:short:8192");
  Start();
  Choose(0, kCw7240);
  const std::vector<std::uint8_t> installed = FlashOf(0);
  ASSERT_TRUE(W().Click(kIdBackupCheck));
  NextAndStart();

  EXPECT_EQ(dlg_->page, BackupFailed);
  EXPECT_EQ(W().Text(kIdInfoText), "");
  EXPECT_TRUE(W().IsEnabled(kIdCloseButton));
  EXPECT_FALSE(W().IsEnabled(kIdNextButton));
  EXPECT_FALSE(W().IsEnabled(kIdBackButton));
  EXPECT_FALSE(W().Busy());
  EXPECT_TRUE(SawPage(dlg_->frames, BackingUp));
  EXPECT_GT(machine_->GetTrace().Count(0xE3), 1u);  // the backup read the drive
  EXPECT_EQ(machine_->GetTrace().Count(0xE2), 0u);
  EXPECT_EQ(FlashOf(0), installed);
  EXPECT_EQ(FilesInDir().size(), 4u);  // no partial backup left behind
  EXPECT_TRUE(W().PressEscape());
  EXPECT_TRUE(W().IsModalEnded());
}

// A working directory that takes no backup is found out on Start, before the
// drive hears anything: the file-error box names the reason, then the
// NoBackupFileName page leads back to the selection.
TEST_F(AppTest, DirectoryWithoutRoomForABackupIsToldBeforeTheDriveIsTouched) {
  WriteSamples();
  MakeMachine("disk-full");
  Start();
  Choose(0, kCw7240);
  ASSERT_TRUE(W().Click(kIdBackupCheck));
  const std::size_t commands = machine_->GetTrace().size();
  ws_.ClearMessageBoxes();
  NextAndStart();

  ASSERT_EQ(ws_.MessageBoxes().size(), 1u);
  EXPECT_NE(ws_.MessageBoxes()[0].text.find("(disk full)"), std::string::npos) << ws_.MessageBoxes()[0].text;
  EXPECT_EQ(dlg_->page, NoBackupFileName);
  EXPECT_EQ(machine_->GetTrace().size(), commands) << "the drive heard a command";
  EXPECT_EQ(FilesInDir().size(), 4u) << "no temporary file is left";
  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
}

TEST_F(AppTest, BackupNotPossibleIsToldOnceAndTheUpdateRuns) {
  WriteSamples();
  MakeMachine("alt-read");
  Start();
  Choose(0, kCw7240);
  ASSERT_TRUE(W().Click(kIdBackupCheck));
  ws_.ClearMessageBoxes();
  NextAndStart();

  ASSERT_EQ(ws_.MessageBoxes().size(), 1u);
  EXPECT_EQ(ws_.MessageBoxes()[0].text, "I could not back up the F/W in selected model. I continue the updating.");
  EXPECT_EQ(ws_.MessageBoxes()[0].caption, "Back up");
  EXPECT_EQ(ws_.MessageBoxes()[0].icon, ui::MessageBoxIcon::Information);
  EXPECT_EQ(ws_.MessageBoxes()[0].ownerTemplateId, kUpdateDialogId);
  EXPECT_EQ(dlg_->page, Completed);
  EXPECT_FALSE(SawPage(dlg_->frames, BackingUp));
  EXPECT_EQ(FilesInDir().size(), 4u);
  EXPECT_EQ(FlashOf(0), sim::SampleImage(0));
}

// While the attempt holds the window, input is discarded and a paint the
// system asks for is answered by the next pause or progress move.
TEST_F(AppTest, CloseBoxAndInputAreDiscardedWhileTheUpdateHoldsTheWindow) {
  WriteSamples();
  MakeMachine("default");
  Start();
  Choose(0, kCw7240);
  ASSERT_TRUE(W().Click(kIdNextButton));
  int attempts = 0;
  bool anyAccepted = false;
  int paintsAsked = 0;
  dlg_->onFrame = [&](const Frame& f) {
    if (f.page != Transferring && f.page != Writing) return;
    ++attempts;
    EXPECT_TRUE(W().Busy());
    anyAccepted = anyAccepted || W().PressCloseBox() || W().PressEscape() || W().Click(kIdCloseButton) ||
                  W().Click(kIdJapaneseRadio) || W().Click(kIdBackupCheck) || W().PressEnter();
    if (!W().PaintPending()) {
      ++paintsAsked;
      W().Paint();  // runs inside this paint's handler otherwise
    }
  };
  const int keepAlivesBefore = W().KeepAliveCount();
  ASSERT_TRUE(W().Click(kIdNextButton));
  dlg_->onFrame = nullptr;
  EXPECT_GT(attempts, 0);
  EXPECT_FALSE(anyAccepted);
  EXPECT_FALSE(W().PaintPending());  // every asked paint was answered
  EXPECT_GT(paintsAsked, 1);
  EXPECT_GT(W().KeepAliveCount(), keepAlivesBefore);
  EXPECT_FALSE(W().Busy());
  EXPECT_FALSE(W().IsModalEnded());
  EXPECT_EQ(dlg_->page, Completed);
  EXPECT_EQ(dlg_->language, English);
  EXPECT_EQ(W().Check(kIdBackupCheck), 0);
  // Afterwards the close box works again.
  EXPECT_TRUE(W().PressCloseBox());
  EXPECT_TRUE(W().IsModalEnded());
}

// The simulated machine with an interruption (a Ctrl-C, a SIGTERM at logout)
// held during every attempt; acting on it runs `onAct` instead.
class InterruptedMachine : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  static constexpr Interruption kHeld = 15;
  Interruption EndAttempt() override {
    ForwardingPlatform::EndAttempt();
    return kHeld;
  }
  void ActOnInterruption(Interruption interruption) override { onAct(interruption); }
  std::function<void(Interruption)> onAct;
};

TEST_F(AppTest, AnInterruptionHeldDuringTheUpdateActsOnceItsOutcomeIsOnTheScreen) {
  WriteSamples();
  MakeMachine("default");
  InterruptedMachine platform(*machine_);
  dlg_ = std::make_unique<RecordingDlg>(ws_, platform, kOrvelVariant);
  ASSERT_TRUE(dlg_->Create());
  using Acted = std::vector<std::pair<Interruption, int>>;
  Acted acted;  // with the page last painted
  platform.onAct = [&](Interruption i) { acted.emplace_back(i, dlg_->frames.back().page); };
  Choose(0, kCw5160);  // refused after the switch
  NextAndStart();
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
  EXPECT_EQ(acted, (Acted{{InterruptedMachine::kHeld, TypeCodeMismatch}}));
  // Acted on once: Next back to the selection does not repeat it.
  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
  EXPECT_EQ(acted.size(), 1u);

  Choose(0, kCw7240);
  NextAndStart();
  EXPECT_EQ(dlg_->page, Completed);
  EXPECT_EQ(acted, (Acted{{InterruptedMachine::kHeld, TypeCodeMismatch}, {InterruptedMachine::kHeld, Completed}}));
  EXPECT_FALSE(W().Busy());
}

TEST_F(AppTest, PausesAreSleptInSlicesWithTheWindowKeptAliveBetween) {
  MakeMachine("default");
  std::vector<std::uint64_t> calls;  // the simulated time of each liveness call
  ResponsivePlatform platform(*machine_, [&] { calls.push_back(machine_->Clock().Now()); });
  const std::uint64_t start = machine_->Clock().Now();
  const std::uint64_t sleptBefore = machine_->Clock().SleptTotal();
  platform.Sleep(kPollPauseMs);
  ASSERT_EQ(calls.size(), kPollPauseMs / kKeepAliveSliceMs + 1);
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i], start + i * kKeepAliveSliceMs) << i;
  EXPECT_EQ(machine_->Clock().SleptTotal() - sleptBefore, kPollPauseMs);

  calls.clear();
  platform.Sleep(kKeepAliveSliceMs + 1);  // a last, shorter slice
  EXPECT_EQ(calls, (std::vector<std::uint64_t>{start + kPollPauseMs, start + kPollPauseMs + kKeepAliveSliceMs,
                                               start + kPollPauseMs + kKeepAliveSliceMs + 1}));
}

TEST_F(AppTest, JapaneseTextsFollowThePage) {
  WriteSamples();
  MakeMachine("default");
  Start();
  Choose(0, kCw7240);
  ASSERT_TRUE(W().Click(kIdJapaneseRadio));
  EXPECT_EQ(dlg_->language, Japanese);
  EXPECT_EQ(W().Check(kIdEnglishRadio), 0);
  EXPECT_EQ(W().Text(kIdDriveCaption), "ターゲットドライブ");
  EXPECT_EQ(W().Text(kIdSourceCaption), "ソースファイル");
  EXPECT_EQ(W().Text(kIdInfoCaption), "インフォメーション");
  EXPECT_EQ(W().Text(kIdProgressCaption), "進行状況");
  EXPECT_EQ(W().Text(kIdBackupCheck), "現在のF/Wをバックアップ");
  EXPECT_EQ(W().Text(kIdCloseButton), "クローズ");
  EXPECT_EQ(W().Text(kIdBackButton), "< 戻る");
  EXPECT_EQ(W().Text(kIdNextButton), "次へ >");
  EXPECT_EQ(W().Text(kIdInfoText),
            "ターゲットドライブとソースファイルを選択してください。\r\n\r\nターゲットドライブからディスクを取り出してください。");

  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(W().Text(kIdNextButton), "スタート");
  EXPECT_EQ(W().Text(kIdInfoText), "スタートボタンを押すとアップデートを開始します。");
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));
  ASSERT_TRUE(W().Click(kIdEnglishRadio));
  EXPECT_EQ(W().Text(kIdNextButton), "Start");
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));
  ASSERT_TRUE(W().Click(kIdJapaneseRadio));

  dlg_->frames.clear();
  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(FirstFrameOf(dlg_->frames, Writing)->info,
            "    書込データを転送中\r\n"
            "    サムコードを確認中\r\n"
            "    フラッシュROMを消去中\r\n"
            ">> フラッシュROMへ書込中\r\n"
            "    サムコードを確認中\r\n");
  EXPECT_EQ(dlg_->page, Completed);
  EXPECT_EQ(W().Text(kIdInfoText),
            "ドライブF/Wのアップデートを完了しました。\r\n\r\n*** OK ** OK ** OK ***\r\n\r\nPCとドライブの電源を切り再起動してください。");
  EXPECT_EQ(W().Text(kIdNextButton), "次へ >");
  // Switching on the result page changes the caption; the button stays disabled.
  ASSERT_TRUE(W().Click(kIdEnglishRadio));
  EXPECT_EQ(W().Text(kIdNextButton), "Next >");
  EXPECT_FALSE(W().IsEnabled(kIdNextButton));
  EXPECT_EQ(W().Text(kIdInfoText), kCompletedText);
}

TEST_F(AppTest, JapaneseRefusalPages) {
  WriteSamples();
  MakeMachine("no-update-mode");
  Start();
  ASSERT_TRUE(W().Click(kIdJapaneseRadio));
  Choose(1, kCw7240);
  NextAndStart();
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
  EXPECT_EQ(W().Text(kIdInfoText),
            "タイプコードが異なるのでアップデートできません。\r\n\r\n*** NG ** NG ** NG ***\r\n\r\nソースファイルの選択を間違っていませんか。");
  ASSERT_TRUE(W().Click(kIdBackButton));
  Choose(0, kCw7240);
  NextAndStart();
  EXPECT_EQ(dlg_->page, UpdateModeFailed);
  EXPECT_EQ(W().Text(kIdInfoText),
            "ドライブをアップデートモードに変更できません。\r\n\r\n*** NG ** NG ** NG ***\r\n\r\nターゲットドライブの選択を間違っていませんか。");
  EXPECT_EQ(W().Text(kIdNextButton), "次へ >");
}

TEST_F(AppTest, JapaneseFailurePages) {
  WriteSamples();
  for (int i = 0; i < kBackupNameCount; ++i) WriteFile("CDRWFW0" + std::to_string(i) + ".KVF", {0});
  MakeMachine("rewrite-fails");
  Start();
  ASSERT_TRUE(W().Click(kIdJapaneseRadio));
  Choose(0, kCw7240);
  ASSERT_TRUE(W().Click(kIdBackupCheck));
  EXPECT_EQ(dlg_->page, NoBackupFileName);
  EXPECT_EQ(W().Text(kIdInfoText),
            "バックアップファイルを作成できません。\r\n\r\n以前のバックアップファイルをリネームして下さい。");
  ASSERT_TRUE(W().Click(kIdBackButton));
  NextAndStart();
  EXPECT_EQ(dlg_->page, Failed);
  EXPECT_EQ(W().Text(kIdInfoText),
            "アップデートを失敗しました。\r\n\r\n*** NG ** NG ** NG ***\r\n\r\nPCの電源を切り再起動してください。");
  EXPECT_EQ(W().Text(kIdNextButton), "次へ >");
}

TEST_F(AppTest, FileThatWasNotIdentifiedIsNeverSent) {
  WriteSamples();
  WriteFile("AAA.BIN", std::vector<std::uint8_t>(4096, 0x5A));
  MakeMachine("default");
  Start();
  // The earlier identified file's type code must not vouch for this one.
  Choose(0, kCw7240);
  ASSERT_TRUE(W().SelectItem(kIdSourceList, "AAA.BIN"));
  EXPECT_EQ(W().Text(kIdSourceDescription), "");
  const std::vector<std::uint8_t> installed = FlashOf(0);
  NextAndStart();
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
  EXPECT_EQ(machine_->GetTrace().Count(0xE2), 0u);
  EXPECT_EQ(FlashOf(0), installed);
  EXPECT_TRUE(W().IsEnabled(kIdNextButton));
}

}  // namespace
}  // namespace orvel::testing
