// The dialog layer driven through the headless window system.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "platform/files.h"
#include "tests/ui/test_dialog.h"
#include "ui/dialog.h"
#include "ui/headless/headless.h"

namespace orvel::ui {
namespace {

using testing::MakePromptTemplate;
using testing::MakeTestTemplate;
using testing::TestDialog;
using namespace testing;  // control ids

class DialogTest : public ::testing::Test {
 protected:
  // Creates the dialog without a modal run and returns its window.
  HeadlessWindow& Open() {
    EXPECT_TRUE(dlg.Create());
    HeadlessWindow* w = ws.Window(kTestTemplate);
    EXPECT_NE(w, nullptr);
    return *w;
  }

  HeadlessWindowSystem ws;
  DialogTemplate tmpl = MakeTestTemplate();
  TestDialog dlg{tmpl, ws};
};

TEST_F(DialogTest, DataExchangeMovesTextsAndChecksBothWays) {
  dlg.name = "Orvel";
  dlg.label = "ドライブ";
  dlg.agree = 1;
  dlg.manual = 2;
  HeadlessWindow& w = Open();  // base OnInitDialog pushes
  EXPECT_EQ(w.Text(kNameEdit), "Orvel");
  EXPECT_EQ(w.Text(kNameLabel), "ドライブ");
  EXPECT_EQ(w.Check(kAgreeCheck), 1);
  EXPECT_EQ(w.Check(kManualCheck), 2);

  w.SetText(kNameEdit, "changed");
  w.SetCheck(kAgreeCheck, 0);
  EXPECT_EQ(dlg.name, "Orvel");  // nothing moves until the update-data call
  EXPECT_TRUE(dlg.UpdateData(true));
  EXPECT_EQ(dlg.name, "changed");
  EXPECT_EQ(dlg.agree, 0);
  EXPECT_TRUE(dlg.nameEdit.Attached());
  EXPECT_EQ(dlg.nameEdit.GetWindowText(), "changed");
}

TEST_F(DialogTest, CheckValuesOutsideTheThreeStatesArePushedAsZero) {
  HeadlessWindow& w = Open();
  for (int value : {0, 1, 2}) {
    dlg.manual = value;
    dlg.UpdateData(false);
    EXPECT_EQ(w.Check(kManualCheck), value);
  }
  for (int value : {3, -1, 255}) {
    w.SetCheck(kManualCheck, 1);
    dlg.manual = value;
    dlg.UpdateData(false);
    EXPECT_EQ(w.Check(kManualCheck), 0) << value;
  }
}

TEST_F(DialogTest, ExchangeFollowsTheOrderDoDataExchangeGives) {
  struct Twice : TestDialog {
    using TestDialog::TestDialog;
    void DoDataExchange(DataExchange& dx) override {
      dx.Text(kNameEdit, first);
      dx.Text(kNameEdit, second);
    }
    std::string first = "first", second = "second";
  } twice(tmpl, ws);
  ASSERT_TRUE(twice.Create());
  EXPECT_EQ(ws.Window(kTestTemplate)->Text(kNameEdit), "second");  // the later write wins
}

TEST_F(DialogTest, UnattachedWrappersAndMissingWindowAreHarmless) {
  CEdit edit;
  edit.SetWindowText("x");
  EXPECT_EQ(edit.GetWindowText(), "");
  EXPECT_FALSE(edit.IsWindowEnabled());
  CComboBox combo;
  EXPECT_EQ(combo.AddString("a"), -1);
  EXPECT_FALSE(dlg.UpdateData(true));  // no window yet
}

TEST_F(DialogTest, MessageMapRoutesClicksAndSelectionChanges) {
  std::vector<std::string> calls;
  dlg.OnClicked(kApplyButton, [&] { calls.push_back("apply"); });
  dlg.OnSelChange(kSortedCombo, [&] { calls.push_back("sorted:" + dlg.sortedCombo.GetWindowText()); });
  HeadlessWindow& w = Open();
  dlg.sortedCombo.AddString("beta");
  dlg.sortedCombo.AddString("alpha");

  EXPECT_TRUE(w.Click(kApplyButton));
  EXPECT_EQ(w.Focus(), kApplyButton);
  dlg.sortedCombo.SetCurSel(1);  // by the program: no notification
  EXPECT_TRUE(w.Select(kSortedCombo, 0));
  EXPECT_FALSE(w.Select(kSortedCombo, 5));
  EXPECT_TRUE(w.Select(kPlainCombo, -1) == false);  // nothing to select there
  EXPECT_EQ(calls, (std::vector<std::string>{"apply", "sorted:alpha"}));
  EXPECT_FALSE(w.IsModalEnded());
}

TEST_F(DialogTest, AutomaticCheckBoxTogglesBeforeTheHandlerRuns) {
  std::vector<int> seen;
  dlg.OnClicked(kAgreeCheck, [&] { seen.push_back(dlg.agreeCheck.GetCheck()); });
  dlg.OnClicked(kManualCheck, [&] { seen.push_back(100 + dlg.Window()->Check(kManualCheck)); });
  HeadlessWindow& w = Open();
  w.Click(kAgreeCheck);
  w.Click(kAgreeCheck);
  w.Click(kManualCheck);  // not automatic: the program decides its state
  EXPECT_EQ(seen, (std::vector<int>{1, 0, 100}));
}

TEST_F(DialogTest, AutomaticRadioButtonsClearOnlyTheirOwnGroup) {
  HeadlessWindow& w = Open();
  w.Click(kRadioA);
  w.Click(kRadioC);
  EXPECT_EQ(w.Check(kRadioA), 1);
  EXPECT_EQ(w.Check(kRadioC), 1);
  w.Click(kRadioB);
  EXPECT_EQ(w.Check(kRadioA), 0);
  EXPECT_EQ(w.Check(kRadioB), 1);
  EXPECT_EQ(w.Check(kRadioC), 1);  // the other group keeps its choice
  w.Click(kRadioB);                // again: stays checked
  EXPECT_EQ(w.Check(kRadioB), 1);
  w.SetCheck(kRadioD, 2);          // a radio button knows only on and off
  EXPECT_EQ(w.Check(kRadioD), 1);
}

TEST_F(DialogTest, DisabledOrHiddenControlsIgnoreInput) {
  int clicks = 0;
  dlg.OnClicked(kApplyButton, [&] { ++clicks; });
  dlg.OnClicked(kAgreeCheck, [&] { ++clicks; });
  HeadlessWindow& w = Open();
  dlg.GetDlgItem(kApplyButton).EnableWindow(false);
  dlg.agreeCheck.ShowWindow(false);
  EXPECT_FALSE(w.Click(kApplyButton));
  EXPECT_FALSE(w.Click(kAgreeCheck));
  EXPECT_FALSE(w.Click(999));
  EXPECT_FALSE(w.Click(kNameLabel));  // a static is not a button
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(w.Check(kAgreeCheck), 0);
  EXPECT_FALSE(dlg.agreeCheck.IsWindowVisible());
  dlg.GetDlgItem(kApplyButton).EnableWindow(true);
  EXPECT_TRUE(w.Click(kApplyButton));
  EXPECT_EQ(clicks, 1);
}

TEST_F(DialogTest, EnterClicksTheFocusedPushButtonElseTheDefaultOne) {
  int applies = 0;
  dlg.OnClicked(kApplyButton, [&] { ++applies; });
  HeadlessWindow& w = Open();
  w.SetFocus(kApplyButton);
  EXPECT_TRUE(w.PressEnter());
  EXPECT_EQ(applies, 1);
  EXPECT_FALSE(w.IsModalEnded());

  w.Type(kNameEdit, "typed");  // focus into the edit
  EXPECT_TRUE(w.PressEnter());  // default button IDOK: OK path pulls the data
  EXPECT_TRUE(w.IsModalEnded());
  EXPECT_EQ(w.ModalResult(), IDOK);
  EXPECT_EQ(dlg.name, "typed");
}

TEST_F(DialogTest, DisabledDefaultButtonSwallowsEnter) {
  HeadlessWindow& w = Open();
  w.SetFocus(kNameEdit);
  w.Enable(IDOK, false);
  EXPECT_FALSE(w.PressEnter());
  EXPECT_FALSE(w.IsModalEnded());
}

TEST_F(DialogTest, EscapeCloseBoxAndCancelButtonTakeTheCancelPath) {
  for (int way = 0; way < 3; ++way) {
    TestDialog d(tmpl, ws);
    d.name = "kept";
    ASSERT_TRUE(d.Create());
    HeadlessWindow& w = *ws.Window(kTestTemplate);
    w.SetText(kNameEdit, "discarded");
    const bool taken = way == 0 ? w.PressEscape() : way == 1 ? w.PressCloseBox() : w.Click(IDCANCEL);
    EXPECT_TRUE(taken);
    EXPECT_TRUE(w.IsModalEnded());
    EXPECT_EQ(w.ModalResult(), IDCANCEL);
    EXPECT_EQ(d.name, "kept") << way;  // cancel pulls nothing
  }
}

TEST_F(DialogTest, CancelPathIgnoredWhileBusyOrWithCloseDisabled) {
  HeadlessWindow& w = Open();
  w.SetBusy(true);
  EXPECT_FALSE(w.PressCloseBox());
  EXPECT_FALSE(w.PressEscape());
  w.SetBusy(false);
  dlg.GetDlgItem(IDCANCEL).EnableWindow(false);
  EXPECT_FALSE(w.PressCloseBox());
  EXPECT_FALSE(w.PressEscape());
  EXPECT_FALSE(w.IsModalEnded());
  dlg.GetDlgItem(IDCANCEL).EnableWindow(true);
  EXPECT_TRUE(w.PressCloseBox());
  EXPECT_EQ(w.ModalResult(), IDCANCEL);
}

TEST_F(DialogTest, MapEntryForCancelOverridesTheDefaultPath) {
  int cancels = 0;
  dlg.OnClicked(IDCANCEL, [&] { ++cancels; });
  HeadlessWindow& w = Open();
  w.PressEscape();
  w.Click(IDCANCEL);
  EXPECT_EQ(cancels, 2);
  EXPECT_FALSE(w.IsModalEnded());
}

TEST(DialogPromptTest, EnterInADialogWithoutButtonsTakesTheOkPath) {
  HeadlessWindowSystem ws;
  DialogTemplate t = MakePromptTemplate();
  struct Prompt : CDialog {
    using CDialog::CDialog;
    void DoDataExchange(DataExchange& dx) override { dx.Text(kSecretEdit, text); }
    bool OnInitDialog() override {
      CDialog::OnInitDialog();
      Window()->LimitText(kSecretEdit, 16);
      return true;
    }
    std::string text;
  } prompt(t, ws);
  ws.SetModalScript(kPromptTemplate, [](HeadlessWindow& w) {
    EXPECT_EQ(w.Focus(), kSecretEdit);  // first tab stop
    EXPECT_TRUE(w.Type(kSecretEdit, "abcdefghijklmnopqrst"));
    EXPECT_EQ(w.DisplayedText(kSecretEdit), std::string(16, '*'));
    w.PressEnter();
  });
  EXPECT_EQ(prompt.DoModal(), IDOK);
  EXPECT_EQ(prompt.text, "abcdefghijklmnop");
  EXPECT_EQ(prompt.Window(), nullptr);  // destroyed when the run ended
  EXPECT_EQ(ws.DestroyedCount(kPromptTemplate), 1);
}

TEST_F(DialogTest, TypingRespectsTheLimitReadOnlyAndCharacters) {
  HeadlessWindow& w = Open();
  dlg.nameEdit.LimitText(4);
  EXPECT_TRUE(w.Type(kNameEdit, "ドライブ名"));
  EXPECT_EQ(w.Text(kNameEdit), "ドライブ");  // four characters, not four bytes
  EXPECT_FALSE(w.Type(kNameEdit, "x"));
  EXPECT_EQ(w.TextLimit(kNameEdit), 4);
  EXPECT_FALSE(w.Type(kNameLabel, "x"));  // not an edit
  EXPECT_EQ(w.DisplayedText(kNameEdit), "ドライブ");  // not a password field

  DialogTemplate ro = MakeTestTemplate();
  ro.resourceId = 600;
  ro.controls[1].style |= ReadOnly;
  TestDialog d(ro, ws);
  d.Create();
  EXPECT_FALSE(ws.Window(600)->Type(kNameEdit, "x"));
}

TEST_F(DialogTest, ModalRunReturnsTheScriptedResultAndDestroysOnce) {
  ws.SetModalScript(kTestTemplate, [](HeadlessWindow& w) {
    EXPECT_TRUE(w.Shown());
    w.Click(IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.initCount, 1);
  EXPECT_EQ(dlg.destroyCount, 1);
  EXPECT_EQ(ws.DestroyedCount(kTestTemplate), 1);
  EXPECT_EQ(ws.Window(kTestTemplate), nullptr);
}

TEST_F(DialogTest, UnansweredModalRunEndsAsIfClosedEvenWhenBusy) {
  ws.SetModalScript(kTestTemplate, [](HeadlessWindow& w) { w.SetBusy(true); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.destroyCount, 1);
}

TEST_F(DialogTest, EndingDuringInitReturnsWithoutShowing) {
  bool scriptRan = false;
  ws.SetModalScript(kTestTemplate, [&](HeadlessWindow&) { scriptRan = true; });
  dlg.endInInit = true;
  EXPECT_EQ(dlg.DoModal(), 0);
  EXPECT_FALSE(scriptRan);
  EXPECT_EQ(dlg.paints, 0);
  EXPECT_EQ(dlg.destroyCount, 1);
}

TEST_F(DialogTest, FocusGoesToTheFirstEnabledTabStopOnlyWhenInitSaysSo) {
  tmpl.controls[1].style &= ~TabStop;  // the name edit
  HeadlessWindow& w = Open();
  EXPECT_EQ(w.Focus(), kAgreeCheck);

  DialogTemplate t2 = MakeTestTemplate();
  t2.resourceId = 601;
  TestDialog own(t2, ws);
  own.focusFirstTabStop = false;
  own.Create();
  EXPECT_EQ(ws.Window(601)->Focus(), -1);
}

TEST_F(DialogTest, QueuedScriptsRunOnceInOrderBeforeThePersistentOne) {
  std::vector<int> order;
  ws.SetModalScript(kTestTemplate, [&](HeadlessWindow& w) { order.push_back(0); w.EndModal(10); });
  ws.QueueModalScript(kTestTemplate, [&](HeadlessWindow& w) { order.push_back(1); w.EndModal(11); });
  ws.QueueModalScript(kTestTemplate, [&](HeadlessWindow& w) { order.push_back(2); w.EndModal(12); });
  std::vector<int> results;
  for (int i = 0; i < 3; ++i) {
    TestDialog d(tmpl, ws);
    results.push_back(d.DoModal());
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(results, (std::vector<int>{11, 12, 10}));
  EXPECT_EQ(ws.ModalRunCount(kTestTemplate), 3);
}

TEST_F(DialogTest, NestedModalPromptIsOwnedByItsParentAndScripted) {
  DialogTemplate promptTmpl = MakePromptTemplate();
  std::string answer;
  int promptResult = 0;
  dlg.OnClicked(kApplyButton, [&] {
    struct Prompt : CDialog {
      using CDialog::CDialog;
      void DoDataExchange(DataExchange& dx) override { dx.Text(kSecretEdit, text); }
      std::string text;
    } prompt(promptTmpl, ws, &dlg);
    promptResult = prompt.DoModal();
    answer = prompt.text;
  });
  ws.QueueModalScript(kPromptTemplate, [&](HeadlessWindow& p) {
    EXPECT_EQ(p.Owner(), dlg.Window());
    p.Type(kSecretEdit, "secret");
    p.PressEnter();
  });
  HeadlessWindow& w = Open();
  w.Click(kApplyButton);
  EXPECT_EQ(promptResult, IDOK);
  EXPECT_EQ(answer, "secret");
  w.Click(kApplyButton);  // nobody answers the second prompt: cancelled, empty
  EXPECT_EQ(promptResult, IDCANCEL);
  EXPECT_EQ(answer, "");
}

TEST_F(DialogTest, SortedComboOrdersWithoutRegardToCaseAndKeepsSelection) {
  HeadlessWindow& w = Open();
  CComboBox& c = dlg.sortedCombo;
  EXPECT_EQ(c.AddString("beta.bin"), 0);
  EXPECT_EQ(c.AddString("Alpha.KVF"), 0);
  c.SetCurSel(1);  // beta
  EXPECT_EQ(c.AddString("ALPHA.bin"), 0);  // ".b" before ".K" whatever the case
  EXPECT_EQ(c.AddString("GAMMA.bin"), 3);  // after "beta", though 'G' < 'b' as bytes
  EXPECT_EQ(w.ComboItems(kSortedCombo), (std::vector<std::string>{"ALPHA.bin", "Alpha.KVF", "beta.bin", "GAMMA.bin"}));
  EXPECT_EQ(c.GetCurSel(), 2);
  EXPECT_EQ(c.GetWindowText(), "beta.bin");
  EXPECT_EQ(c.SetCurSel(9), -1);
  EXPECT_EQ(c.GetWindowText(), "");
  c.ResetContent();
  EXPECT_EQ(c.GetCount(), 0);

  dlg.plainCombo.AddString("z");
  dlg.plainCombo.AddString("a");
  EXPECT_EQ(dlg.plainCombo.GetLBText(0), "z");
  EXPECT_EQ(dlg.plainCombo.GetLBText(1), "a");
  EXPECT_EQ(dlg.plainCombo.GetLBText(2), "");
}

TEST_F(DialogTest, DirListsOnlyRegularFilesMatchingInAnyCase) {
  const std::string base = orvel::testing::MakeScratchDir("orvel_ui_dir");
  ASSERT_FALSE(base.empty());
  const std::filesystem::path dir(base);
  for (const char* name : {"b.kvf", "A.BIN", "c.Kvf", "notes.txt", "x.bin.bak"}) {
    std::ofstream(dir / name) << "data";
  }
  std::filesystem::create_directory(dir / "folder.bin");
  std::error_code noLinks;  // Windows under Wine makes none; the case then has no link to skip
  std::filesystem::create_symlink(dir / "missing", dir / "dangling.kvf", noLinks);

  auto files = MakeNativeFileSystem(base);
  Open();
  dlg.sortedCombo.ResetContent();
  dlg.sortedCombo.Dir(0, "*.kvf", *files);
  const int last = dlg.sortedCombo.Dir(0, "*.bin", *files);
  EXPECT_EQ(last, 0);  // A.BIN went to the top
  std::vector<std::string> items;
  for (int i = 0; i < dlg.sortedCombo.GetCount(); ++i) items.push_back(dlg.sortedCombo.GetLBText(i));
  EXPECT_EQ(items, (std::vector<std::string>{"A.BIN", "b.kvf", "c.Kvf"}));
  EXPECT_EQ(dlg.sortedCombo.Dir(0, "*.none", *files), -1);
  std::filesystem::remove_all(dir);
}

TEST_F(DialogTest, ProgressPositionStaysWithinTheRange) {
  HeadlessWindow& w = Open();
  dlg.progress.SetRange(0, 120);
  dlg.progress.SetPos(60);
  EXPECT_EQ(dlg.progress.GetPos(), 60);
  dlg.progress.SetPos(500);
  EXPECT_EQ(dlg.progress.GetPos(), 120);
  dlg.progress.SetPos(-3);
  EXPECT_EQ(dlg.progress.GetPos(), 0);
  dlg.progress.SetPos(100);
  dlg.progress.SetRange(0, 50);
  EXPECT_EQ(w.ProgressPosition(kProgress), 50);
  EXPECT_EQ(w.ProgressHigh(kProgress), 50);
}

TEST_F(DialogTest, UpdateWindowPaintsBeforeReturning) {
  HeadlessWindow& w = Open();
  const int before = dlg.paints;
  dlg.UpdateWindow();
  EXPECT_EQ(dlg.paints, before + 1);
  EXPECT_EQ(w.UpdateWindowCount(), 1);
  ASSERT_EQ(w.LastPaint().size(), 1u);
  EXPECT_EQ(w.LastPaint()[0].kind, PaintOp::Kind::Blit);
  EXPECT_EQ(w.LastPaint()[0].controlId, kPicture);
  EXPECT_EQ(w.PictureOf(kPicture).pixels, dlg.logo.pixels);
  w.Paint();  // a system paint is counted as a paint, not an UpdateWindow
  EXPECT_EQ(w.PaintCount(), 2);
  EXPECT_EQ(w.UpdateWindowCount(), 1);
  EXPECT_EQ(w.PaintLog().size(), 2u);
}

TEST_F(DialogTest, MinimisedPaintDrawsTheIconCentred) {
  HeadlessWindow& w = Open();
  w.SetMinimized(true);
  ASSERT_EQ(w.LastPaint().size(), 2u);
  EXPECT_EQ(w.LastPaint()[0].kind, PaintOp::Kind::EraseIconBackground);
  const PaintOp& icon = w.LastPaint()[1];
  EXPECT_EQ(icon.kind, PaintOp::Kind::DrawIcon);
  EXPECT_EQ(icon.x, (w.ClientWidth() - 4 + 1) / 2);
  EXPECT_EQ(icon.y, (w.ClientHeight() - 4 + 1) / 2);
  EXPECT_TRUE(w.PictureOf(kPicture).empty());
  w.SetMinimized(false);
  EXPECT_EQ(w.LastPaint()[0].kind, PaintOp::Kind::Blit);
}

TEST_F(DialogTest, MessageBoxesAreRecordedWithOwnerAndIcon) {
  std::vector<std::string> shown;
  ws.SetMessageBoxScript([&](const MessageBoxRecord& r) { shown.push_back(r.caption); });
  Open();
  dlg.MessageBox("Not found 'ASPI32.DLL'", "Error", MessageBoxIcon::Stop);
  dlg.MessageBox("注意", "Warn", MessageBoxIcon::Exclamation);
  ws.MessageBox(nullptr, "done", "Info", MessageBoxIcon::Information);
  ASSERT_EQ(ws.MessageBoxes().size(), 3u);
  EXPECT_EQ(ws.MessageBoxes()[0].text, "Not found 'ASPI32.DLL'");
  EXPECT_EQ(ws.MessageBoxes()[0].icon, MessageBoxIcon::Stop);
  EXPECT_EQ(ws.MessageBoxes()[0].ownerTemplateId, kTestTemplate);
  EXPECT_EQ(ws.MessageBoxes()[1].icon, MessageBoxIcon::Exclamation);
  EXPECT_EQ(ws.MessageBoxes()[2].ownerTemplateId, 0);
  EXPECT_EQ(shown, (std::vector<std::string>{"Error", "Warn", "Info"}));
}

TEST_F(DialogTest, CaptionAndIconsReachTheWindow) {
  HeadlessWindow& w = Open();
  EXPECT_EQ(w.Caption(), "Test");
  dlg.SetWindowText("Orvelin");
  dlg.SetIcon(dlg.icon, true);
  EXPECT_EQ(w.Caption(), "Orvelin");
  EXPECT_EQ(w.Icon(true).width, 4);
  EXPECT_TRUE(w.Icon(false).empty());
}

}  // namespace
}  // namespace orvel::ui
