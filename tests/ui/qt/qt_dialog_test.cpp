// The dialog layer on real Qt widgets (offscreen platform).

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <QWindow>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "tests/ui/qt/qt_operator.h"
#include "tests/ui/test_dialog.h"
#include "ui/dialog.h"
#include "ui/qt/qt_window_system.h"

namespace orvel::ui {
namespace {

using namespace testing;  // control ids and templates

// The application lives from before the first test until after the last,
// and goes before the program's static objects (QTest keeps some of its own).
class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_.data()); }
  void TearDown() override { app_.reset(); }
  static QApplication& App() { return *qobject_cast<QApplication*>(QCoreApplication::instance()); }

 private:
  int argc_ = 1;
  char name_[12] = "ui_qt_tests";
  std::array<char*, 2> argv_{name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

// Ownership passes to GoogleTest.
const ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(std::make_unique<QtEnvironment>().release());

QApplication& App() { return QtEnvironment::App(); }

class QtDialogTest : public ::testing::Test {
 protected:
  QtDialogWindow& Open() {
    EXPECT_TRUE(dlg.Create());
    auto* w = dynamic_cast<QtDialogWindow*>(dlg.Window());
    EXPECT_NE(w, nullptr);
    return *w;
  }
  template <class T>
  T* Widget(QtDialogWindow& w, int id) {
    return qobject_cast<T*>(w.ControlWidget(id));
  }

  QtWindowSystem ws{App()};
  DialogTemplate tmpl = MakeTestTemplate();
  TestDialog dlg{tmpl, ws};
};

TEST(QtDialogUnitsTest, ConversionRoundsLikeTheClassicRule) {
  const BaseUnits units{6, 12};
  EXPECT_EQ(DialogUnitsToPixels(units, 7, 7, 40, 19), QRect(11, 11, 60, 29));
  EXPECT_EQ(DialogUnitsToPixels(units, 0, 0, 291, 259), QRect(0, 0, 437, 389));
  EXPECT_EQ(DialogUnitsToPixels(BaseUnits{7, 14}, 226, 145, 40, 19), QRect(396, 254, 70, 33));
}

TEST(QtFontTest, JapaneseGothicFaceMapsToAnInstalledJapaneseFont) {
  App();
  const QString family = ResolveFontFamily("ＭＳ Ｐゴシック");
  EXPECT_EQ(family, QStringLiteral("IPAPGothic"));
  EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese));
  EXPECT_EQ(ResolveFontFamily("DejaVu Sans"), QStringLiteral("DejaVu Sans"));
  EXPECT_EQ(ResolveFontFamily("No Such Face 123"), QGuiApplication::font().family());
}

TEST_F(QtDialogTest, TemplateBecomesRealWidgetsInDialogUnits) {
  QtDialogWindow& w = Open();
  EXPECT_EQ(QFontInfo(w.DialogFont()).family(), QStringLiteral("IPAPGothic"));
  const QFontMetrics metrics(w.DialogFont());
  EXPECT_EQ(w.Units().y, metrics.height());
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ(w.Units().x, (letters + 26) / 52);

  const QRect expected = DialogUnitsToPixels(w.Units(), 40, 126, 40, 14);
  ASSERT_NE(Widget<QPushButton>(w, IDOK), nullptr);
  EXPECT_EQ(w.ControlWidget(IDOK)->geometry(), expected);
  EXPECT_EQ(w.Widget().size(), DialogUnitsToPixels(w.Units(), 0, 0, 200, 150).size());

  ASSERT_NE(Widget<QComboBox>(w, kSortedCombo), nullptr);
  EXPECT_FALSE(Widget<QComboBox>(w, kSortedCombo)->isEditable());
  ASSERT_NE(Widget<QLineEdit>(w, kSecretEdit), nullptr);
  EXPECT_EQ(Widget<QLineEdit>(w, kSecretEdit)->echoMode(), QLineEdit::Password);
  EXPECT_NE(Widget<QProgressBar>(w, kProgress), nullptr);
  EXPECT_NE(Widget<QRadioButton>(w, kRadioB), nullptr);
  EXPECT_EQ(w.Text(kRadioB), "日本語");
  EXPECT_EQ(w.Caption(), "Test");
}

TEST_F(QtDialogTest, ClicksThroughRealButtonsFollowTheDialogRules) {
  std::vector<std::string> calls;
  dlg.OnClicked(kApplyButton, [&] { calls.push_back("apply"); });
  dlg.OnClicked(kAgreeCheck, [&] { calls.push_back("agree=" + std::to_string(dlg.agreeCheck.GetCheck())); });
  dlg.OnClicked(kManualCheck, [&] { calls.push_back("manual=" + std::to_string(dlg.Window()->Check(kManualCheck))); });
  QtDialogWindow& w = Open();
  ClickAt(w, kApplyButton);
  ClickAt(w, kAgreeCheck);
  ClickAt(w, kManualCheck);
  dlg.GetDlgItem(kApplyButton).EnableWindow(false);
  ClickAt(w, kApplyButton);  // ignored
  dlg.GetDlgItem(kAgreeCheck).ShowWindow(false);
  ClickAt(w, kAgreeCheck);   // hidden: the dialog itself gets the press
  EXPECT_EQ(calls, (std::vector<std::string>{"apply", "agree=1", "manual=0"}));

  // The titled group box comes first in the template and frames A and B: it
  // lies under them and lets the presses through, as a Win32 group box does.
  ClickAt(w, kRadioA);
  ClickAt(w, kRadioC);
  ClickAt(w, kRadioB);
  EXPECT_EQ(w.Check(kRadioA), 0);
  EXPECT_EQ(w.Check(kRadioB), 1);
  EXPECT_EQ(w.Check(kRadioC), 1);
  QWidget* radio = w.ControlWidget(kRadioB);
  EXPECT_EQ(w.Widget().childAt(radio->mapTo(&w.Widget(), radio->rect().center())), radio);
  w.SetCheck(kManualCheck, 2);
  EXPECT_EQ(w.Check(kManualCheck), 2);
  w.SetCheck(kManualCheck, 7);
  EXPECT_EQ(w.Check(kManualCheck), 0);
  w.Widget().hide();
}

TEST_F(QtDialogTest, OperatorSelectionNotifiesProgramSelectionDoesNot) {
  int notified = 0;
  dlg.OnSelChange(kSortedCombo, [&] { ++notified; });
  QtDialogWindow& w = Open();
  EXPECT_EQ(dlg.sortedCombo.AddString("b.kvf"), 0);
  EXPECT_EQ(dlg.sortedCombo.AddString("A.BIN"), 0);
  EXPECT_EQ(dlg.sortedCombo.GetCurSel(), -1);  // adding selects nothing
  EXPECT_EQ(dlg.sortedCombo.GetWindowText(), "");
  dlg.sortedCombo.SetCurSel(0);
  EXPECT_EQ(notified, 0);
  EXPECT_EQ(dlg.sortedCombo.GetWindowText(), "A.BIN");
  TabTo(w, kSortedCombo);
  PressKey(w, Qt::Key_Down);
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(dlg.sortedCombo.GetWindowText(), "b.kvf");

  // A file name that is not UTF-8 (Latin-1 "c\xE9") is shown as well as Qt
  // can and handed back byte for byte, so that it opens.
  const std::string latin1 = "c\xE9.kvf";
  EXPECT_EQ(dlg.sortedCombo.AddString(latin1), 2);
  EXPECT_EQ(dlg.sortedCombo.AddString("d.kvf"), 3) << "sorted by its bytes";
  PressKey(w, Qt::Key_Down);
  EXPECT_EQ(notified, 2);
  EXPECT_EQ(dlg.sortedCombo.GetWindowText(), latin1);
  EXPECT_EQ(dlg.sortedCombo.GetCurSel(), 2);
  dlg.sortedCombo.SetCurSel(0);
  dlg.sortedCombo.SetWindowText(latin1);
  EXPECT_EQ(dlg.sortedCombo.GetCurSel(), 2) << "the text picks the item by its bytes";
}

TEST_F(QtDialogTest, EnterAndEscapeTakeTheDialogPaths) {
  int applies = 0;
  dlg.OnClicked(kApplyButton, [&] { ++applies; });
  QtDialogWindow& w = Open();
  TabTo(w, kApplyButton);
  PressKey(w, Qt::Key_Return);
  EXPECT_EQ(applies, 1);
  EXPECT_FALSE(w.IsModalEnded());

  dlg.GetDlgItem(IDCANCEL).EnableWindow(false);
  PressKey(w, Qt::Key_Escape);
  EXPECT_FALSE(w.IsModalEnded());  // Close disabled: Escape is ignored
  dlg.GetDlgItem(IDCANCEL).EnableWindow(true);

  w.SetText(kNameEdit, "entered");
  TabTo(w, kNameEdit);
  PressKey(w, Qt::Key_Enter);  // default button: OK
  EXPECT_TRUE(w.IsModalEnded());
  EXPECT_EQ(dlg.name, "entered");
}

TEST_F(QtDialogTest, ModalRunEndsWithTheResultAndCloseBoxWaitsWhileBusy) {
  bool stillOpenWhileBusy = false;
  ws.SetModalStartHook(kTestTemplate, [&](QtDialogWindow& w) {
    w.SetBusy(true);
    w.Widget().close();
    stillOpenWhileBusy = w.Widget().isVisible() && !w.IsModalEnded();
    w.SetBusy(false);
    w.Widget().close();  // the close box: cancel path
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(stillOpenWhileBusy);
  EXPECT_EQ(dlg.destroyCount, 1);
  EXPECT_EQ(dlg.Window(), nullptr);

  TestDialog second(tmpl, ws);
  ws.SetModalStartHook(kTestTemplate, [](QtDialogWindow& w) { ClickAt(w, IDOK); });
  EXPECT_EQ(second.DoModal(), IDOK);

  TestDialog third(tmpl, ws);
  ws.SetModalStartHook(kTestTemplate, [](QtDialogWindow& w) { PressKey(w, Qt::Key_Escape); });
  EXPECT_EQ(third.DoModal(), IDCANCEL);

  TestDialog failing(tmpl, ws);
  failing.endInInit = true;
  EXPECT_EQ(failing.DoModal(), 0);  // never shown, no event loop
}

TEST_F(QtDialogTest, UpdateWindowPaintsAtOnceAndTheFrameShowsTheBlit) {
  dlg.logo = Bitmap{4, 3, std::vector<std::uint32_t>(12, 0xFFFF0000u)};
  int paintsDuringUpdate = -1;
  QImage shot;
  ws.SetModalStartHook(kTestTemplate, [&](QtDialogWindow& w) {
    const int before = dlg.paints;
    dlg.UpdateWindow();
    paintsDuringUpdate = dlg.paints - before;
    shot = w.Widget().grab().toImage();
    dlg.EndDialog(IDOK);
  });
  dlg.DoModal();
  EXPECT_GE(paintsDuringUpdate, 1);
  ASSERT_FALSE(shot.isNull());
  const QRect frame = DialogUnitsToPixels(BaseUnitsOf(QFont(ResolveFontFamily("ＭＳ Ｐゴシック"), 9)), 140, 7, 50, 20);
  // The frame draws inside its sunken edge; look for the red logo there.
  bool red = false;
  const qreal ratio = shot.devicePixelRatio();
  for (int dy = 0; dy < 6 && !red; ++dy) {
    for (int dx = 0; dx < 6 && !red; ++dx) {
      const QPoint p(static_cast<int>((frame.x() + dx) * ratio), static_cast<int>((frame.y() + dy) * ratio));
      red = shot.pixelColor(p) == QColor(255, 0, 0);
    }
  }
  EXPECT_TRUE(red);
}

TEST_F(QtDialogTest, NestedPromptWithoutButtonsEndsOnEnterWithTheTypedText) {
  DialogTemplate promptTmpl = MakePromptTemplate();
  struct Prompt : CDialog {
    using CDialog::CDialog;
    void DoDataExchange(DataExchange& dx) override { dx.Text(kSecretEdit, text); }
    bool OnInitDialog() override {
      CDialog::OnInitDialog();
      Window()->LimitText(kSecretEdit, 16);
      Window()->SetFocus(kSecretEdit);
      return false;
    }
    std::string text;
  };
  std::string answer;
  int promptResult = 0;
  dlg.OnClicked(kApplyButton, [&] {
    Prompt prompt(promptTmpl, ws, &dlg);
    promptResult = prompt.DoModal();
    answer = prompt.text;
  });
  ws.SetModalStartHook(kPromptTemplate, [](QtDialogWindow& p) {
    for (const char c : std::string("abcdefghijklmnopqrst")) QTest::keyClick(WindowOf(p), c);
    PressKey(p, Qt::Key_Return);
  });
  ws.SetModalStartHook(kTestTemplate, [&](QtDialogWindow& w) {
    TabTo(w, kApplyButton);
    PressKey(w, Qt::Key_Space);  // space clicks the focused button
    dlg.EndDialog(IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(promptResult, IDOK);
  EXPECT_EQ(answer, "abcdefghijklmnop");
}

TEST_F(QtDialogTest, MultiLineReadOnlyEditBreaksAtCrLf) {
  DialogTemplate t = MakeTestTemplate();
  t.controls[1].style |= MultiLine | ReadOnly;
  t.controls[1].cy = 40;
  TestDialog d(t, ws);
  d.name = " first line\r\n\r\n second";
  ASSERT_TRUE(d.Create());
  auto* w = dynamic_cast<QtDialogWindow*>(d.Window());
  auto* edit = qobject_cast<QTextEdit*>(w->ControlWidget(kNameEdit));
  ASSERT_NE(edit, nullptr);
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->document()->blockCount(), 3);
  EXPECT_EQ(edit->toPlainText(), QStringLiteral(" first line\n\n second"));
  d.UpdateData(true);
  EXPECT_EQ(d.name, " first line\r\n\r\n second");
}

TEST_F(QtDialogTest, MessageBoxesShowTheirIconAndWaitForOk) {
  std::vector<QMessageBox::Icon> icons;
  std::vector<QString> texts;
  ws.SetMessageBoxHook([&](QMessageBox& box) {
    icons.push_back(box.icon());
    texts.push_back(box.text());
    ClickWidgetAt(*box.button(QMessageBox::Ok));
  });
  Open();
  dlg.MessageBox("Not found 'ASPI32.DLL'", "Error", MessageBoxIcon::Stop);
  dlg.MessageBox("two\r\nlines", "Warn", MessageBoxIcon::Exclamation);
  dlg.MessageBox("バックアップ", "Back up", MessageBoxIcon::Information);
  EXPECT_EQ(icons, (std::vector<QMessageBox::Icon>{QMessageBox::Critical, QMessageBox::Warning, QMessageBox::Information}));
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1], QStringLiteral("two\nlines"));
  EXPECT_EQ(texts[2], QStringLiteral("バックアップ"));
  ASSERT_EQ(ws.MessageBoxes().size(), 3u);
  EXPECT_EQ(ws.MessageBoxes()[0].caption, "Error");
}

TEST_F(QtDialogTest, ScreenshotOfAJapaneseDialogIsWritten) {
  dlg.label = "名前";
  dlg.name = "ドライブ";
  ws.SetModalStartHook(kTestTemplate, [&](QtDialogWindow& w) {
    dlg.sortedCombo.AddString("ファームウェア.kvf");
    dlg.sortedCombo.SetCurSel(0);
    dlg.progress.SetRange(0, 120);
    dlg.progress.SetPos(60);
    w.SetCheck(kRadioB, 1);
    EXPECT_TRUE(w.SaveScreenshot(ORVEL_SCREENSHOT_DIR "/ui_test_dialog.png"));
    dlg.EndDialog(IDCANCEL);
  });
  dlg.DoModal();
  const QImage saved(QStringLiteral(ORVEL_SCREENSHOT_DIR "/ui_test_dialog.png"));
  ASSERT_FALSE(saved.isNull());
  EXPECT_GT(saved.width(), 200);
}

TEST_F(QtDialogTest, AccessibleActionsActAsClicksAndRadiosAreAnnouncedAsSuch) {
  std::vector<std::string> calls;
  dlg.OnClicked(kApplyButton, [&] { calls.push_back("apply"); });
  dlg.OnClicked(kAgreeCheck, [&] { calls.push_back("agree=" + std::to_string(dlg.agreeCheck.GetCheck())); });
  dlg.OnClicked(kRadioB, [&] { calls.push_back("B"); });
  QtDialogWindow& w = Open();
  WindowOf(w);
  ASSERT_NE(FindAccessible(w, QAccessible::RadioButton, "日本語"), nullptr);
  ASSERT_NE(FindAccessible(w, QAccessible::CheckBox, "Agree"), nullptr);
  ASSERT_NE(FindAccessible(w, QAccessible::Button, "Apply"), nullptr);
  EXPECT_EQ(FindAccessible(w, QAccessible::CheckBox, "日本語"), nullptr);

  w.SetCheck(kRadioA, 1);
  ASSERT_TRUE(DoDefaultAction(w, QAccessible::RadioButton, "日本語"));
  ASSERT_TRUE(DoDefaultAction(w, QAccessible::CheckBox, "Agree"));
  ASSERT_TRUE(DoDefaultAction(w, QAccessible::Button, "Apply"));
  EXPECT_EQ(calls, (std::vector<std::string>{"B", "agree=1", "apply"}));
  EXPECT_EQ(w.Check(kRadioA), 0);  // the group rule ran, as for a click
  EXPECT_EQ(w.Check(kRadioB), 1);
  EXPECT_TRUE(FindAccessible(w, QAccessible::RadioButton, "日本語")->state().checked);
  EXPECT_FALSE(FindAccessible(w, QAccessible::RadioButton, "English")->state().checked);

  // A check state set by the program runs no handler, and tells assistive tools.
  calls.clear();
  w.SetCheck(kAgreeCheck, 0);
  w.SetCheck(kRadioA, 1);
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(FindAccessible(w, QAccessible::CheckBox, "Agree")->state().checked);

  // Disabled or hidden: no action, as a click would do nothing.
  dlg.GetDlgItem(kApplyButton).EnableWindow(false);
  EXPECT_FALSE(DoDefaultAction(w, QAccessible::Button, "Apply"));
  FindAccessible(w, QAccessible::Button, "Apply")->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  dlg.GetDlgItem(kAgreeCheck).ShowWindow(false);
  DoDefaultAction(w, QAccessible::CheckBox, "Agree");
  QCoreApplication::processEvents();
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(w.Check(kAgreeCheck), 0);

  // The action returns at once; the click comes from the loop, and a busy
  // dialog discards it as it discards the mouse.
  dlg.GetDlgItem(kAgreeCheck).ShowWindow(true);
  QAccessibleActionInterface* agree = FindAccessible(w, QAccessible::CheckBox, "Agree")->actionInterface();
  agree->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_TRUE(calls.empty());
  w.SetBusy(true);
  w.KeepAlive();
  w.SetBusy(false);
  QCoreApplication::processEvents();
  EXPECT_TRUE(calls.empty());
  agree->doAction(QAccessibleActionInterface::toggleAction());
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, (std::vector<std::string>{"agree=1"}));
}

TEST_F(QtDialogTest, KeepAliveWhileBusyPaintsAndDiscardsInputAndCloseRequests) {
  int applies = 0;
  dlg.OnClicked(kApplyButton, [&] { ++applies; });
  QtDialogWindow& w = Open();
  QWindow* window = WindowOf(w);
  QCoreApplication::processEvents();

  w.SetBusy(true);
  ClickAt(w, kApplyButton);  // delivered at once, and dropped
  PressKey(w, Qt::Key_Escape);
  const int paints = dlg.paints;
  w.Widget().update();  // as an exposure asks
  QCoreApplication::postEvent(window, std::make_unique<QCloseEvent>().release());  // the close box
  EXPECT_EQ(dlg.paints, paints);  // nothing is handled while the thread is held
  w.KeepAlive();
  EXPECT_GT(dlg.paints, paints);
  EXPECT_EQ(w.KeepAliveCount(), 1);
  // A message box shown meanwhile takes its own clicks.
  int boxes = 0;
  ws.SetMessageBoxHook([&](QMessageBox& box) {
    ++boxes;
    ClickWidgetAt(*box.button(QMessageBox::Ok));
  });
  dlg.MessageBox("I could not back up the F/W in selected model.", "Back up", MessageBoxIcon::Information);
  EXPECT_EQ(boxes, 1);
  w.SetBusy(false);
  QCoreApplication::processEvents();
  EXPECT_EQ(applies, 0);  // discarded, not kept for later
  EXPECT_FALSE(w.IsModalEnded());

  // Outside a busy stretch it handles nothing, and input works as before.
  const int keepAlives = w.KeepAliveCount();
  QCoreApplication::postEvent(window, std::make_unique<QCloseEvent>().release());
  w.KeepAlive();
  EXPECT_EQ(w.KeepAliveCount(), keepAlives);
  EXPECT_FALSE(w.IsModalEnded());
  ClickAt(w, kApplyButton);
  EXPECT_EQ(applies, 1);
  QCoreApplication::processEvents();
  EXPECT_TRUE(w.IsModalEnded());  // the close request, handled by the loop
}

}  // namespace
}  // namespace orvel::ui
