// The wizard clicked through the real Qt widgets against the simulator, with
// screenshots of the selection page (both languages), a running update and
// the result page.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/update_app.h"
#include "resources/resources.h"
#include "sim/scenarios.h"
#include "ui/qt/qt_window_system.h"

namespace orvel {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "orvel_app_qt_tests";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

std::string ScreenshotPath(const std::string& name) {
  const std::filesystem::path dir = ORVEL_SCREENSHOT_DIR;
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// Grabs the dialog once, the first time the drive is told to write its flash.
class WritingScreenshot : public CommandObserver {
 public:
  WritingScreenshot(CUpdateDlg& dlg, ui::QtDialogWindow& window, std::string path)
      : dlg_(dlg), window_(window), path_(std::move(path)) {}
  void OnCommand(const CommandRecord&) override {
    if (taken || dlg_.page != Writing) return;
    taken = window_.SaveScreenshot(path_);
    progressWhenTaken = window_.ProgressPosition(kIdProgressBar);
    closeEnabledWhenTaken = window_.IsEnabled(kIdCloseButton);
  }
  bool taken = false;
  int progressWhenTaken = -1;
  bool closeEnabledWhenTaken = true;

 private:
  CUpdateDlg& dlg_;
  ui::QtDialogWindow& window_;
  std::string path_;
};

class QtAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    std::string pattern = (std::filesystem::temp_directory_path() / "orvel-qt-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    auto files = MakeNativeFileSystem(dir_);
    std::string error;
    ASSERT_EQ(sim::WriteSampleFirmware(*files, nullptr, &error), 1) << error;
    machine_ = sim::MakeScenario("default", dir_, &error);
    ASSERT_NE(machine_, nullptr) << error;
  }
  void TearDown() override {
    machine_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  static void Click(ui::QtDialogWindow& w, int id) {
    auto* button = qobject_cast<QAbstractButton*>(w.ControlWidget(id));
    ASSERT_NE(button, nullptr) << id;
    ASSERT_TRUE(button->isEnabled()) << id;
    button->click();
  }
  static void Choose(ui::QtDialogWindow& w, int id, const std::string& item) {
    auto* combo = qobject_cast<QComboBox*>(w.ControlWidget(id));
    ASSERT_NE(combo, nullptr);
    const int index = combo->findText(QString::fromStdString(item));
    ASSERT_GE(index, 0) << item;
    combo->setCurrentIndex(index);
    emit combo->activated(index);  // as the operator's pick reports it
  }

  // Runs one program through a whole update by its widgets.
  void RunUpdate(const Variant& variant, const std::string& shotPrefix) {
    ui::QtWindowSystem windows(App());
    CUpdateApp app(windows, *machine_, variant);
    bool ran = false;
    windows.SetModalStartHook(kUpdateDialogId, [&](ui::QtDialogWindow& w) {
      ran = true;
      CUpdateDlg* dlg = app.MainWindow();
      ASSERT_NE(dlg, nullptr);
      EXPECT_EQ(w.Caption(), std::string(variant.title));
      EXPECT_EQ(dlg->page, SelectDriveAndFile);
      QWidget* maker = w.ControlWidget(kIdMakerText);
      ASSERT_NE(maker, nullptr);
      EXPECT_EQ(maker->isVisible(), !variant.hideMakerName);

      Choose(w, kIdSourceList, "CW7240V132.KVF");
      EXPECT_EQ(w.Text(kIdSourceDescription), "Tessaro CW-7240 Ver 1.32      ");
      Click(w, kIdBackupCheck);
      EXPECT_EQ(w.Text(kIdBackupFileName), "CDRWFW00.KVF");
      EXPECT_TRUE(w.SaveScreenshot(ScreenshotPath(shotPrefix + "_select_en.png")));
      Click(w, kIdJapaneseRadio);
      EXPECT_EQ(w.Text(kIdNextButton), "次へ >");
      EXPECT_TRUE(w.SaveScreenshot(ScreenshotPath(shotPrefix + "_select_ja.png")));
      Click(w, kIdEnglishRadio);

      Click(w, kIdNextButton);
      EXPECT_EQ(dlg->page, ReadyToStart);
      EXPECT_EQ(w.Text(kIdNextButton), "Start");

      WritingScreenshot shot(*dlg, w, ScreenshotPath(shotPrefix + "_running.png"));
      dlg->Transport().SetObserver(&shot);
      Click(w, kIdNextButton);
      dlg->Transport().SetObserver(nullptr);
      EXPECT_TRUE(shot.taken);
      EXPECT_FALSE(shot.closeEnabledWhenTaken);
      EXPECT_GT(shot.progressWhenTaken, 0);

      EXPECT_EQ(dlg->page, Completed);
      EXPECT_EQ(w.Text(kIdInfoText),
                " Completed to update F/W of Drive.\r\n\r\n *** OK ** OK ** OK *** \r\n\r\n Turn OFF PC & Drive and "
                "Reboot them.");
      EXPECT_FALSE(w.ControlWidget(kIdNextButton)->isEnabled());
      EXPECT_TRUE(w.SaveScreenshot(ScreenshotPath(shotPrefix + "_result.png")));
      Click(w, kIdCloseButton);
    });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(ran);
    EXPECT_EQ(app.ModalResult(), ui::IDCANCEL);
    auto flash = machine_->Drive(0).Flash();
    EXPECT_EQ(std::vector<std::uint8_t>(flash.begin(), flash.end()), sim::SampleImage(0));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir_) / "CDRWFW00.KVF"));
  }

  std::string dir_;
  std::unique_ptr<sim::SimMachine> machine_;
};

TEST_F(QtAppTest, OrvelUpdatesADriveThroughTheWidgets) { RunUpdate(kOrvelVariant, "orvel"); }

TEST_F(QtAppTest, OrvelinUpdatesADriveThroughTheWidgets) { RunUpdate(kOrvelinVariant, "orvelin"); }

}  // namespace
}  // namespace orvel
