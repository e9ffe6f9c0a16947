// The wizard on real Qt widgets against the simulator: a whole update driven
// by the mouse and, alike, through the accessibility interface, with
// screenshots of the selection page (both languages), a running update and
// the result page; the window kept alive during an attempt; every text
// fitting its control.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTextEdit>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/update_app.h"
#include "resources/resources.h"
#include "sim/real_time_platform.h"
#include "sim/scenarios.h"
#include "tests/ui/qt/qt_operator.h"
#include "ui/qt/qt_window_system.h"

namespace orvel {
namespace {

using ui::testing::ChooseWithKeys;
using ui::testing::ClickAt;
using ui::testing::DoDefaultAction;

constexpr const char* kCw7240 = "CW724132.KVF";  // fits cdrom0 (family 6)
constexpr const char* kCompletedText =
    " Completed to update F/W of Drive.\r\n\r\n *** OK ** OK ** OK *** \r\n\r\n Turn OFF PC & Drive and Reboot them.";

// The application lives from before the first test until after the last,
// and goes before the program's static objects (QTest keeps some of its own,
// which must not outlive it).
class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_.data()); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[19] = "orvel_app_qt_tests";
  std::array<char*, 2> argv_{name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

// Ownership passes to GoogleTest.
const ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(std::make_unique<QtEnvironment>().release());

QApplication& App() { return *qobject_cast<QApplication*>(QCoreApplication::instance()); }

std::string ScreenshotPath(const std::string& name) {
  const std::filesystem::path dir = ORVEL_SCREENSHOT_DIR;
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// How the operator reaches the buttons: a mouse at points of the window, or
// an assistive tool running each control's default action.
enum class Operator { Mouse, Accessibility };

QAccessible::Role RoleOf(int id) {
  switch (id) {
    case kIdBackupCheck:
    case kIdPassTypeCheck:
    case kIdUpdateLoaderCheck:
      return QAccessible::CheckBox;
    case kIdEnglishRadio:
    case kIdJapaneseRadio:
      return QAccessible::RadioButton;
    default:
      return QAccessible::Button;
  }
}

void Press(Operator op, ui::QtDialogWindow& w, int id) {
  if (op == Operator::Mouse) {
    ClickAt(w, id);
    return;
  }
  // By role and the name on screen, as a screen reader finds it.
  ASSERT_TRUE(DoDefaultAction(w, RoleOf(id), w.Text(id))) << id << " " << w.Text(id);
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

  // Runs one program through a whole update.
  void RunUpdate(const Variant& variant, Operator op, const std::string& shotPrefix) {
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

      ChooseWithKeys(w, kIdSourceList, kCw7240);
      EXPECT_EQ(w.Text(kIdSourceDescription), "Tessaro CW-7240 Ver 1.32      ");
      Press(op, w, kIdBackupCheck);
      EXPECT_EQ(w.Check(kIdBackupCheck), 1);
      EXPECT_EQ(w.Text(kIdBackupFileName), "CDRWFW00.KVF");
      EXPECT_TRUE(w.SaveScreenshot(ScreenshotPath(shotPrefix + "_select_en.png")));
      Press(op, w, kIdJapaneseRadio);
      EXPECT_EQ(dlg->language, Japanese);
      EXPECT_EQ(w.Check(kIdJapaneseRadio), 1);
      EXPECT_EQ(w.Check(kIdEnglishRadio), 0);
      EXPECT_EQ(w.Text(kIdDriveCaption), "ターゲットドライブ");
      EXPECT_EQ(w.Text(kIdNextButton), "次へ >");
      EXPECT_TRUE(w.SaveScreenshot(ScreenshotPath(shotPrefix + "_select_ja.png")));
      Press(op, w, kIdEnglishRadio);
      EXPECT_EQ(dlg->language, English);
      EXPECT_EQ(w.Check(kIdJapaneseRadio), 0);

      Press(op, w, kIdNextButton);
      EXPECT_EQ(dlg->page, ReadyToStart);
      EXPECT_EQ(w.Text(kIdNextButton), "Start");

      WritingScreenshot shot(*dlg, w, ScreenshotPath(shotPrefix + "_running.png"));
      dlg->Transport().SetObserver(&shot);
      Press(op, w, kIdNextButton);
      dlg->Transport().SetObserver(nullptr);
      EXPECT_TRUE(shot.taken);
      EXPECT_FALSE(shot.closeEnabledWhenTaken);
      EXPECT_GT(shot.progressWhenTaken, 0);

      EXPECT_EQ(dlg->page, Completed);
      EXPECT_EQ(w.Text(kIdInfoText), kCompletedText);
      EXPECT_FALSE(w.ControlWidget(kIdNextButton)->isEnabled());
      EXPECT_TRUE(w.SaveScreenshot(ScreenshotPath(shotPrefix + "_result.png")));
      Press(op, w, kIdCloseButton);
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

struct UpdateCase {
  const Variant* variant;
  Operator op;
  const char* name;
};

void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }

class QtUpdateTest : public QtAppTest, public ::testing::WithParamInterface<UpdateCase> {};

// The accessibility interface gives the same results as the mouse: the
// language switches, the backup name follows the box, the update completes.
TEST_P(QtUpdateTest, UpdatesADriveThroughTheWindow) {
  RunUpdate(*GetParam().variant, GetParam().op, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Programs, QtUpdateTest,
                         ::testing::Values(UpdateCase{&kOrvelVariant, Operator::Mouse, "orvel"},
                                           UpdateCase{&kOrvelinVariant, Operator::Mouse, "orvelin"},
                                           UpdateCase{&kOrvelVariant, Operator::Accessibility, "orvel_a11y"},
                                           UpdateCase{&kOrvelinVariant, Operator::Accessibility, "orvelin_a11y"}),
                         [](const auto& p) { return std::string(p.param.name); });

// During an attempt the window answers a paint, and a close request and a
// click made meanwhile are discarded: the result page stays on screen.
TEST_F(QtAppTest, WindowStaysAliveDuringAnAttemptAndDiscardsInputMeanwhile) {
  ui::QtWindowSystem windows(App());
  ui::QtDialogWindow* window = nullptr;
  CUpdateDlg* dialog = nullptr;
  sim::SimMachine& machine = *machine_;
  std::size_t commandsAtRequest = 0;
  int paintsAtRequest = -1;
  bool requested = false;
  bool paintAnswered = false;
  // Runs after each slice of a pause, on the virtual clock: no real waiting.
  RealTimePlatform platform(std::move(machine_), [&](std::uint32_t) {
    if (dialog == nullptr || window == nullptr || dialog->page != Writing || paintAnswered) return;
    const std::size_t commands = machine.GetTrace().Entries().size();
    if (requested && commands == commandsAtRequest) {
      // Only the liveness operation ran since the request.
      paintAnswered = window->PaintCount() > paintsAtRequest;
      return;
    }
    requested = true;
    commandsAtRequest = commands;
    paintsAtRequest = window->PaintCount();
    window->Widget().update();  // as an exposure of the window asks
    QWindow* handle = window->Widget().windowHandle();
    QCoreApplication::postEvent(handle, std::make_unique<QCloseEvent>().release());  // the close box
    ClickAt(*window, kIdJapaneseRadio);
  });
  CUpdateApp app(windows, platform, kOrvelVariant);
  bool ran = false;
  windows.SetModalStartHook(kUpdateDialogId, [&](ui::QtDialogWindow& w) {
    ran = true;
    dialog = app.MainWindow();
    ASSERT_NE(dialog, nullptr);
    ChooseWithKeys(w, kIdSourceList, kCw7240);
    ClickAt(w, kIdNextButton);
    ASSERT_EQ(dialog->page, ReadyToStart);
    window = &w;
    ClickAt(w, kIdNextButton);
    window = nullptr;
    EXPECT_TRUE(requested);
    EXPECT_TRUE(paintAnswered);
    EXPECT_GT(w.KeepAliveCount(), 0);
    QCoreApplication::processEvents();  // the loop resumes: nothing was kept for it
    EXPECT_FALSE(w.IsModalEnded());
    EXPECT_TRUE(w.Widget().isVisible());
    EXPECT_EQ(dialog->page, Completed);
    EXPECT_EQ(w.Text(kIdInfoText), kCompletedText);
    EXPECT_EQ(dialog->language, English);
    EXPECT_EQ(w.Check(kIdJapaneseRadio), 0);
    // Afterwards the dialog behaves as before: the same close request ends it.
    QCoreApplication::postEvent(w.Widget().windowHandle(), std::make_unique<QCloseEvent>().release());
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.IsModalEnded());
  });
  EXPECT_FALSE(app.InitInstance());
  EXPECT_TRUE(ran);
  auto flash = machine.Drive(0).Flash();
  EXPECT_EQ(std::vector<std::uint8_t>(flash.begin(), flash.end()), sim::SampleImage(0));
}

// ---- every text fits its control --------------------------------------------

// The width a control leaves for its text, as the style lays it out.
int TextRoom(QWidget& control) {
  QStyle* style = control.style();
  if (auto* box = qobject_cast<QCheckBox*>(&control)) {
    QStyleOptionButton opt;
    opt.initFrom(box);
    opt.text = box->text();
    return style->subElementRect(QStyle::SE_CheckBoxContents, &opt, box).width();
  }
  if (auto* radio = qobject_cast<QRadioButton*>(&control)) {
    QStyleOptionButton opt;
    opt.initFrom(radio);
    opt.text = radio->text();
    return style->subElementRect(QStyle::SE_RadioButtonContents, &opt, radio).width();
  }
  if (auto* button = qobject_cast<QPushButton*>(&control)) {
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = button->text();
    return style->subElementRect(QStyle::SE_PushButtonContents, &opt, button).width();
  }
  if (auto* combo = qobject_cast<QComboBox*>(&control)) {
    constexpr int kLabelInset = 1;  // each side of the field, as the style draws the label
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    opt.editable = false;
    opt.frame = true;
    return style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo).width() -
           2 * kLabelInset;
  }
  if (auto* label = qobject_cast<QLabel*>(&control)) {
    return label->contentsRect().width() - 2 * label->margin() - std::max(label->indent(), 0);
  }
  if (auto* edit = qobject_cast<QTextEdit*>(&control)) {
    return edit->viewport()->width() - 2 * static_cast<int>(edit->document()->documentMargin());
  }
  return 0;
}

struct FitCase {
  const Variant* variant;
};

void PrintTo(const FitCase& c, std::ostream* os) { *os << c.variant->title; }

class QtTextFitTest : public QtAppTest, public ::testing::WithParamInterface<FitCase> {
 protected:
  // Every line of the control's text within its room, in the dialog's font.
  void ExpectFits(ui::QtDialogWindow& w, int id, const std::string& text) {
    QWidget* control = w.ControlWidget(id);
    ASSERT_NE(control, nullptr) << id;
    const QFontMetrics metrics(control->font());
    const int room = TextRoom(*control);
    for (const QString& line : QString::fromStdString(text).split(QStringLiteral("\r\n"))) {
      ++checked;
      EXPECT_LE(metrics.horizontalAdvance(line), room)
          << GetParam().variant->title << ": control " << id << " cuts \"" << line.toStdString() << "\"";
    }
  }
  void ExpectControlFits(ui::QtDialogWindow& w, int id) { ExpectFits(w, id, w.Text(id)); }
  int checked = 0;
};

TEST_P(QtTextFitTest, EveryCaptionFileNameAndDescriptionFitsItsControl) {
  ui::QtWindowSystem windows(App());
  CUpdateApp app(windows, *machine_, *GetParam().variant);
  windows.SetModalStartHook(kUpdateDialogId, [&](ui::QtDialogWindow& w) {
    CUpdateDlg& dlg = *app.MainWindow();
    ExpectControlFits(w, kIdTitleEdit);
    ExpectControlFits(w, kIdMakerText);
    // Not "Pass Type" and "Update Loader": nothing ever shows them (and the
    // latter's text is two pixels wider than its box in IPAPGothic).
    ExpectControlFits(w, kIdEnglishRadio);
    ExpectControlFits(w, kIdJapaneseRadio);
    for (int i = 0; i < w.ComboCount(kIdSourceList); ++i) ExpectFits(w, kIdSourceList, w.ComboItem(kIdSourceList, i));
    for (int i = 0; i < w.ComboCount(kIdDriveList); ++i) ExpectFits(w, kIdDriveList, w.ComboItem(kIdDriveList, i));
    ClickAt(w, kIdBackupCheck);
    for (int i = 0; i < w.ComboCount(kIdSourceList); ++i) {
      ChooseWithKeys(w, kIdSourceList, w.ComboItem(kIdSourceList, i));
      ExpectControlFits(w, kIdSourceDescription);
      ExpectControlFits(w, kIdBackupFileName);
    }
    for (int radio : {kIdEnglishRadio, kIdJapaneseRadio}) {
      ClickAt(w, radio);
      for (int page : {SelectDriveAndFile, ReadyToStart}) {
        EXPECT_EQ(dlg.page, page);
        for (int id : {kIdDriveCaption, kIdSourceCaption, kIdInfoCaption, kIdProgressCaption, kIdBackupCheck,
                       kIdCloseButton, kIdNextButton, kIdBackButton}) {
          ExpectControlFits(w, id);
        }
        ClickAt(w, page == SelectDriveAndFile ? kIdNextButton : kIdBackButton);
      }
    }
    ClickAt(w, kIdCloseButton);
  });
  app.InitInstance();
  // Four sample files and their descriptions and backup names, in both languages.
  EXPECT_GE(checked, 40);
}

INSTANTIATE_TEST_SUITE_P(Programs, QtTextFitTest, ::testing::Values(FitCase{&kOrvelVariant}, FitCase{&kOrvelinVariant}),
                         [](const auto& p) { return std::string(p.param.variant->title); });

}  // namespace
}  // namespace orvel
