// The Win32 dialog backend in the test's own process under Wine, on an X
// server of its own (tools/with-xvfb.sh): the templates as real dialogs, the
// texts of both call families, and the liveness loop. Input comes through
// SendInput, which Wine queues as the hardware's: hit-testing, capture and
// the dialog manager all take part, as with a real mouse and keyboard.

#include "platform/win32/windows_shim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resources.h"
#include "ui/win32/dialog_template_ex.h"
#include "ui/win32/native_text.h"
#include "ui/win32/win32_dialog_window.h"

namespace orvel {
namespace {

using ui::ControlKind;

constexpr int kNextId = 1003;
constexpr int kJapaneseRadioId = 1016;
constexpr int kSourceListId = 1001;
constexpr int kPasswordChars = 16;
constexpr int kTypedChars = 20;
constexpr LONG kAbsoluteRange = 65535;

struct RecordingEvents final : ui::DialogEvents {
  void OnButtonClicked(int id) override { clicked.push_back(id); }
  void OnSelectionChanged(int id) override { selected.push_back(id); }
  void OnOkCommand() override { ++ok; }
  void OnCancelCommand() override { ++cancel; }
  void OnPaintRequest(ui::PaintContext& pc) override {
    static_cast<void>(pc);
    ++paints;
  }
  std::vector<int> clicked;
  std::vector<int> selected;
  int ok = 0;
  int cancel = 0;
  int paints = 0;
};

HWND Handle(ui::DialogWindow& w) { return static_cast<HWND>(ui::NativeHandle(w)); }

std::wstring ClassOf(HWND h) {
  wchar_t name[64] = {};
  ::GetClassNameW(h, name, 64);
  return name;
}

std::wstring WideText(HWND h) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

const wchar_t* ClassOfKind(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox: return L"Button";
    case ControlKind::Static: return L"Static";
    case ControlKind::Edit: return L"Edit";
    case ControlKind::ComboBox: return L"ComboBox";
    case ControlKind::ProgressBar: return ui::kProgressClass;
  }
  return L"";
}

// A press and release of the left button at the middle of `control`.
void ClickAt(HWND control) {
  RECT r{};
  ::GetWindowRect(control, &r);
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  INPUT in[3] = {};
  for (INPUT& i : in) {
    i.type = INPUT_MOUSE;
    i.mi.dx = ((r.left + r.right) / 2) * kAbsoluteRange / (width - 1);
    i.mi.dy = ((r.top + r.bottom) / 2) * kAbsoluteRange / (height - 1);
  }
  in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  ASSERT_EQ(::SendInput(3, in, sizeof(INPUT)), 3u);
}

void PressKey(WORD key) {
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = key;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ASSERT_EQ(::SendInput(2, in, sizeof(INPUT)), 2u);
}

// What a modal loop does with the messages queued now (the dialog manager's
// keys included); returns without waiting.
void Pump(HWND dialog) {
  MSG msg{};
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!::IsDialogMessageW(dialog, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

void ShowAndActivate(HWND dialog) {
  ::ShowWindow(dialog, SW_SHOWNORMAL);
  ::SetForegroundWindow(dialog);
  ::UpdateWindow(dialog);
  Pump(dialog);
}

TEST(NativeText, ProgramTextsInCodePage932AndBack) {
  struct Row {
    const char* utf8;
    const char* cp932;
  };
  for (const Row& row : {Row{"ターゲットドライブ", "\x83\x5E\x81\x5B\x83\x51\x83\x62\x83\x67\x83\x68\x83\x89\x83\x43\x83\x75"},
                         Row{"次へ >", "\x8E\x9F\x82\xD6 >"}, Row{"クローズ", "\x83\x4E\x83\x8D\x81\x5B\x83\x59"},
                         Row{"ＭＳ Ｐゴシック", "\x82\x6C\x82\x72 \x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E"},
                         Row{"Next >\r\n", "Next >\r\n"}}) {
    EXPECT_EQ(ui::Cp932FromUtf8(row.utf8), row.cp932) << row.utf8;
    EXPECT_EQ(ui::Utf8FromCp932(row.cp932), row.utf8) << row.utf8;
  }
  // Outside the table (no text of the program has it): a question mark, both ways.
  EXPECT_EQ(ui::Cp932FromUtf8("a\xE2\x98\x83" "b"), "a?b");
  EXPECT_EQ(ui::Utf8FromCp932("\xEF\x40"), "?");
}

TEST(NativeText, Utf16BothWays) {
  EXPECT_EQ(ui::Utf16FromUtf8("クローズ"), L"\x30AF\x30ED\x30FC\x30BA");
  const std::string clef = "\xF0\x9D\x84\x9E";  // beyond the first plane: a surrogate pair
  EXPECT_EQ(ui::Utf16FromUtf8(clef), L"\xD834\xDD1E");
  EXPECT_EQ(ui::Utf8FromUtf16(L"\xD834\xDD1E"), clef);
  EXPECT_EQ(ui::Utf16FromUtf8("a\xFF" "b"), L"a\xFFFD" L"b");  // malformed
  EXPECT_EQ(ui::Utf8FromUtf16(std::wstring(1, L'\xDC00')), "\xEF\xBF\xBD");  // a lone half
}

class Win32DialogTest : public ::testing::Test {
 protected:
  std::unique_ptr<ui::DialogWindow> Make(const ui::DialogTemplate& tmpl) {
    std::unique_ptr<ui::DialogWindow> w = system.CreateDialogWindow(tmpl, events, nullptr);
    EXPECT_NE(w, nullptr);
    return w;
  }
  ui::Win32WindowSystem system;
  RecordingEvents events;
};

// Each control where the template puts it, of its class, with its id and text:
// the in-memory template is the one source of the layout.
TEST_F(Win32DialogTest, ControlsAsTheTemplatesSay) {
  ASSERT_TRUE(system.Wide());  // Wine reports the NT family here
  for (const ui::DialogTemplate* tmpl : {&UpdateDialogTemplate(), &PasswordDialogTemplate()}) {
    auto w = Make(*tmpl);
    ASSERT_NE(w, nullptr);
    const HWND dialog = Handle(*w);
    EXPECT_EQ(WideText(dialog), ui::Utf16FromUtf8(tmpl->caption));
    for (const ui::ControlTemplate& c : tmpl->controls) {
      if (c.id < 0) continue;
      SCOPED_TRACE(c.id);
      const HWND control = ::GetDlgItem(dialog, c.id);
      ASSERT_NE(control, nullptr);
      EXPECT_EQ(_wcsicmp(ClassOf(control).c_str(), ClassOfKind(c.kind)), 0);
      // Origin and size are mapped each on its own, as the dialog manager does.
      RECT want{c.x, c.y, c.cx, c.cy};
      ::MapDialogRect(dialog, &want);
      RECT got{};
      ::GetWindowRect(control, &got);
      ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
      EXPECT_EQ(got.left, want.left);
      EXPECT_EQ(got.top, want.top);
      EXPECT_EQ(got.right - got.left, want.right);
      if (c.kind != ControlKind::ComboBox) {  // a combo box is as high as its edit
        EXPECT_EQ(got.bottom - got.top, want.bottom);
      }
      if (c.kind != ControlKind::ComboBox && c.kind != ControlKind::ProgressBar) {
        EXPECT_EQ(WideText(control), ui::Utf16FromUtf8(c.text));
      }
      const LONG style = ::GetWindowLongW(control, GWL_STYLE);
      EXPECT_EQ((style & WS_TABSTOP) != 0, (c.style & ui::TabStop) != 0);
      if (c.kind == ControlKind::Edit) {
        EXPECT_EQ((style & ES_PASSWORD) != 0, (c.style & ui::Password) != 0);
        EXPECT_EQ((style & ES_READONLY) != 0, (c.style & ui::ReadOnly) != 0);
      }
      if (c.kind == ControlKind::ComboBox) {
        EXPECT_EQ((style & CBS_SORT) != 0, (c.style & ui::Sorted) != 0);
      }
    }
  }
}

// Texts through the dialog layer arrive as the system's wide text, and read back the same.
TEST_F(Win32DialogTest, JapaneseTextsThroughTheWideCalls) {
  auto w = Make(UpdateDialogTemplate());
  ASSERT_NE(w, nullptr);
  w->SetText(kNextId, "次へ >");
  EXPECT_EQ(WideText(::GetDlgItem(Handle(*w), kNextId)), L"\x6B21\x3078 >");
  EXPECT_EQ(w->Text(kNextId), "次へ >");
  w->SetCaption("オーヴェル");
  EXPECT_EQ(w->Caption(), "オーヴェル");
}

// The dialog's answer to a logoff or shutdown (ENDSESSION_LOGOFF or 0).
LRESULT QueryEndSession(HWND dialog, LPARAM why) {
  // A stale message result must not stand in for the answer.
  ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0x5A);
  return ::SendMessageW(dialog, WM_QUERYENDSESSION, 0, why);
}

// While busy the window paints, and the operator's clicks and the close box
// are dropped for good, and a logoff or shutdown is refused; afterwards the
// same click at the same point acts, and the session may end.
TEST_F(Win32DialogTest, BusyKeepsPaintingAndDropsInput) {
  auto w = Make(UpdateDialogTemplate());
  ASSERT_NE(w, nullptr);
  const HWND dialog = Handle(*w);
  ShowAndActivate(dialog);
  const HWND next = ::GetDlgItem(dialog, kNextId);
  for (const LPARAM why : {LPARAM{0}, LPARAM{ENDSESSION_LOGOFF}}) EXPECT_EQ(QueryEndSession(dialog, why), TRUE) << why;

  w->SetBusy(true);
  for (const LPARAM why : {LPARAM{0}, LPARAM{ENDSESSION_LOGOFF}}) EXPECT_EQ(QueryEndSession(dialog, why), FALSE) << why;
  const int paintsBefore = events.paints;
  ::InvalidateRect(dialog, nullptr, TRUE);
  ClickAt(next);
  ClickAt(::GetDlgItem(dialog, kJapaneseRadioId));
  ::PostMessageW(dialog, WM_CLOSE, 0, 0);
  ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  w->KeepAlive();
  EXPECT_GT(events.paints, paintsBefore);
  EXPECT_GE(static_cast<ui::Win32DialogWindow&>(*w).DiscardedCount(), 6);  // two presses, two releases, two closes
  w->SetBusy(false);
  EXPECT_FALSE(static_cast<ui::Win32DialogWindow&>(*w).ShutdownReasonSet());
  EXPECT_EQ(QueryEndSession(dialog, 0), TRUE);
  Pump(dialog);
  EXPECT_TRUE(events.clicked.empty());
  EXPECT_EQ(events.cancel, 0);
  EXPECT_EQ(w->Check(kJapaneseRadioId), 0);

  ClickAt(next);
  Pump(dialog);
  EXPECT_EQ(events.clicked, std::vector<int>{kNextId});
  ::PostMessageW(dialog, WM_CLOSE, 0, 0);
  Pump(dialog);
  EXPECT_EQ(events.cancel, 1);
}

// The password prompt: masked, at most 16 characters, no buttons; Enter and
// Escape end it as the dialog manager sends them.
TEST_F(Win32DialogTest, PasswordPromptTakesEnterAndEscape) {
  auto w = Make(PasswordDialogTemplate());
  ASSERT_NE(w, nullptr);
  const HWND dialog = Handle(*w);
  w->LimitText(kIdPasswordEdit, kPasswordChars);
  ShowAndActivate(dialog);
  w->SetFocus(kIdPasswordEdit);
  Pump(dialog);
  ASSERT_EQ(w->Focus(), kIdPasswordEdit);
  for (int i = 0; i < kTypedChars; ++i) PressKey('A');
  Pump(dialog);
  EXPECT_EQ(w->Text(kIdPasswordEdit), std::string(kPasswordChars, 'a'));
  PressKey(VK_RETURN);
  Pump(dialog);
  EXPECT_EQ(events.ok, 1);
  PressKey(VK_ESCAPE);
  Pump(dialog);
  EXPECT_EQ(events.cancel, 1);
}

// Windows 98, as the test prefix makes Wine report it to the copy
// win32_dialog_tests_98.exe (run with --gtest_filter=Win32Dialog98.*): the
// narrow calls, the texts in code page 932. Wine's own code page here is not
// 932, so what is checked is that the window holds the code page 932 bytes
// and that the dialog layer reads them back as the same text.
TEST(Win32Dialog98, NarrowCallsCarryCodePage932) {
  RecordingEvents events;
  ui::Win32WindowSystem system;
  ASSERT_FALSE(system.Wide());
  auto w = system.CreateDialogWindow(UpdateDialogTemplate(), events, nullptr);
  ASSERT_NE(w, nullptr);
  w->SetText(kNextId, "次へ >");
  char bytes[32] = {};
  ::GetWindowTextA(::GetDlgItem(Handle(*w), kNextId), bytes, sizeof(bytes));
  EXPECT_EQ(std::string(bytes), "\x8E\x9F\x82\xD6 >");
  EXPECT_EQ(w->Text(kNextId), "次へ >");
  const int index = w->ComboAdd(kSourceListId, "クローズ");
  EXPECT_EQ(w->ComboItem(kSourceListId, index), "クローズ");
}

}  // namespace
}  // namespace orvel
