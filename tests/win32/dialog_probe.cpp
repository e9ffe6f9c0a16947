// A helper of the dialog tests under Wine: reads the state of the programs'
// windows through window messages, from another process, the way an
// accessibility tool would. It clicks nothing (the tests click with the
// mouse, through the X server).
//
//   dialog_probe state TITLE main|box       every control: id, class, state, text
//   dialog_probe wait TITLE main|box [ID TEXT] [MS]
//                                           until that window exists (and control ID's
//                                           text contains TEXT), then as state; exit 1
//                                           after MS ms
//   dialog_probe gone TITLE [MS]            until no window of that title is left
//   dialog_probe close TITLE                posts WM_CLOSE to the main window (a close request)
//   dialog_probe list-item INDEX            the screen point of item INDEX of a combo box's list,
//                                           once it has dropped down
//   dialog_probe sync TITLE                 returns once the main window's thread has fetched
//                                           its messages twice: what the X server and the probe
//                                           gave it before has reached its queue and been fetched
//   dialog_probe serve                      takes the commands above from standard input, one a
//                                           line with tabs between the words, and ends the output
//                                           of each with a line "--end STATUS" (one Wine process
//                                           for a whole test instead of one per question)
//
// "main" is the dialog with the Next button (1003), "box" a message box of
// that caption. Coordinates are screen pixels, which under Wine without a
// virtual desktop are the X screen's.

#include "platform/win32/windows_shim.h"

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kNextButtonId = 1003;
constexpr DWORD kPollMs = 50;
constexpr DWORD kDefaultWaitMs = 30000;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// WM_GETTEXT, which reaches the other process's window directly.
std::wstring TextOf(HWND h) {
  const auto length = static_cast<std::size_t>(::SendMessageW(h, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  const auto got = static_cast<std::size_t>(::SendMessageW(h, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(got);
  return text;
}

std::wstring ClassOf(HWND h) {
  wchar_t name[64] = {};
  ::GetClassNameW(h, name, 64);
  return name;
}

// Line breaks shown as \n, so that one control is one line.
std::string OneLine(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\r') continue;
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

struct Search {
  std::wstring title;
  bool main;
  HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  if (!::IsWindowVisible(h) || ClassOf(h) != L"#32770" || TextOf(h) != s->title) return TRUE;
  if ((::GetDlgItem(h, kNextButtonId) != nullptr) != s->main) return TRUE;
  s->found = h;
  return FALSE;
}

HWND FindDialog(const std::string& title, bool main) {
  Search s{Wide(title), main};
  ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// Which of the system's message box icons a static shows. Icon handles are
// the process's own under Wine, so the pictures are compared: the static's
// pixels on the screen against each icon drawn on the same background.
const char* IconName(HWND control) {
  RECT r{};
  ::GetClientRect(control, &r);
  POINT origin{0, 0};
  ::ClientToScreen(control, &origin);
  const int w = ::GetSystemMetrics(SM_CXICON);
  const int h = ::GetSystemMetrics(SM_CYICON);
  const HDC screen = ::GetDC(nullptr);
  const HDC shown = ::CreateCompatibleDC(screen);
  const HBITMAP shownBits = ::CreateCompatibleBitmap(screen, w, h);
  ::SelectObject(shown, shownBits);
  ::BitBlt(shown, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
  const COLORREF background = ::GetPixel(shown, 0, 0);
  struct Candidate {
    const char* name;
    LPCSTR id;
  };
  const Candidate candidates[] = {{"stop", IDI_HAND}, {"exclamation", IDI_EXCLAMATION},
                                  {"information", IDI_ASTERISK}, {"question", IDI_QUESTION}};
  const char* best = "other";
  int bestSame = w * h * 9 / 10;  // at least nine pixels in ten alike
  for (const Candidate& c : candidates) {
    const HDC drawn = ::CreateCompatibleDC(screen);
    const HBITMAP drawnBits = ::CreateCompatibleBitmap(screen, w, h);
    ::SelectObject(drawn, drawnBits);
    const HBRUSH brush = ::CreateSolidBrush(background);
    const RECT all{0, 0, w, h};
    ::FillRect(drawn, &all, brush);
    ::DeleteObject(brush);
    ::DrawIcon(drawn, 0, 0, ::LoadIconA(nullptr, c.id));
    int same = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) same += ::GetPixel(drawn, x, y) == ::GetPixel(shown, x, y) ? 1 : 0;
    }
    if (same > bestSame) {
      bestSame = same;
      best = c.name;
    }
    ::DeleteDC(drawn);
    ::DeleteObject(drawnBits);
  }
  ::DeleteDC(shown);
  ::DeleteObject(shownBits);
  ::ReleaseDC(nullptr, screen);
  return best;
}

BOOL CALLBACK PrintChild(HWND h, LPARAM lp) {
  const HWND dialog = reinterpret_cast<HWND>(lp);
  if (::GetParent(h) != dialog) return TRUE;  // a combo box's own children
  const std::wstring cls = ClassOf(h);
  RECT r{};
  ::GetWindowRect(h, &r);
  std::printf("id=%d class=%s enabled=%d visible=%d rect=%ld,%ld,%ld,%ld", ::GetDlgCtrlID(h), Utf8(cls).c_str(),
              ::IsWindowEnabled(h) ? 1 : 0, ::IsWindowVisible(h) ? 1 : 0, r.left, r.top, r.right, r.bottom);
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    std::printf(" check=%d", static_cast<int>(::SendMessageW(h, BM_GETCHECK, 0, 0)));
  } else if (_wcsicmp(cls.c_str(), L"msctls_progress32") == 0) {
    std::printf(" pos=%d range=%d..%d", static_cast<int>(::SendMessageW(h, PBM_GETPOS, 0, 0)),
                static_cast<int>(::SendMessageW(h, PBM_GETRANGE, TRUE, 0)),
                static_cast<int>(::SendMessageW(h, PBM_GETRANGE, FALSE, 0)));
  } else if (_wcsicmp(cls.c_str(), L"ComboBox") == 0) {
    const int count = static_cast<int>(::SendMessageW(h, CB_GETCOUNT, 0, 0));
    std::printf(" sel=%d items=", static_cast<int>(::SendMessageW(h, CB_GETCURSEL, 0, 0)));
    for (int i = 0; i < count; ++i) {
      const auto length = static_cast<std::size_t>(::SendMessageW(h, CB_GETLBTEXTLEN, i, 0));
      std::wstring item(length + 1, L'\0');
      ::SendMessageW(h, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
      item.resize(length);
      std::printf("%s%s", i ? "|" : "", Utf8(item).c_str());
    }
  }
  if (_wcsicmp(cls.c_str(), L"Static") == 0 && (::GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    std::printf(" icon=%s", IconName(h));
  }
  std::printf(" text=%s\n", OneLine(TextOf(h)).c_str());
  return TRUE;
}

// The point of the title bar where the system's hit test answers HTCLOSE
// (a little inside the box), or 0,0 when it has none.
POINT CloseBox(HWND dialog) {
  RECT r{};
  ::GetWindowRect(dialog, &r);
  POINT client{0, 0};
  ::ClientToScreen(dialog, &client);
  const long y = (r.top + client.y) / 2;
  constexpr long kInside = 4;
  for (long x = r.right - 1; x > r.left; --x) {
    if (::SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) return POINT{x - kInside, y};
  }
  return POINT{0, 0};
}

int PrintState(HWND dialog) {
  RECT r{};
  ::GetWindowRect(dialog, &r);
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info);
  const int focus = info.hwndFocus != nullptr ? ::GetDlgCtrlID(info.hwndFocus) : 0;
  const POINT closeBox = CloseBox(dialog);
  std::printf("window=%s rect=%ld,%ld,%ld,%ld enabled=%d iconic=%d focus=%d closebox=%ld,%ld\n",
              OneLine(TextOf(dialog)).c_str(), r.left, r.top, r.right, r.bottom, ::IsWindowEnabled(dialog) ? 1 : 0,
              ::IsIconic(dialog) ? 1 : 0, focus, closeBox.x, closeBox.y);
  ::EnumChildWindows(dialog, &PrintChild, reinterpret_cast<LPARAM>(dialog));
  return 0;
}

int Wait(const std::string& title, bool main, int id, const std::string& text, DWORD ms) {
  const std::wstring wanted = Wide(text);
  for (DWORD waited = 0;; waited += kPollMs) {
    if (HWND dialog = FindDialog(title, main)) {
      HWND control = id != 0 ? ::GetDlgItem(dialog, id) : nullptr;
      if (id == 0 || (control != nullptr && TextOf(control).find(wanted) != std::wstring::npos)) {
        return PrintState(dialog);
      }
    }
    if (waited >= ms) break;
    ::Sleep(kPollMs);
  }
  std::fprintf(stderr, "dialog_probe: no \"%s\" %s%s%s after %lu ms\n", title.c_str(), main ? "dialog" : "box",
               id != 0 ? " showing " : "", text.c_str(), ms);
  return 1;
}

int Gone(const std::string& title, DWORD ms) {
  for (DWORD waited = 0;; waited += kPollMs) {
    if (FindDialog(title, true) == nullptr && FindDialog(title, false) == nullptr) return 0;
    if (waited >= ms) break;
    ::Sleep(kPollMs);
  }
  std::fprintf(stderr, "dialog_probe: \"%s\" still there after %lu ms\n", title.c_str(), ms);
  return 1;
}


BOOL CALLBACK FindDroppedList(HWND h, LPARAM lp) {
  if (!::IsWindowVisible(h) || _wcsicmp(ClassOf(h).c_str(), L"ComboLBox") != 0) return TRUE;
  *reinterpret_cast<HWND*>(lp) = h;
  return FALSE;
}

// The middle of an item of the list a combo box has dropped.
int ListItem(int index) {
  HWND list = nullptr;
  for (DWORD waited = 0; list == nullptr; waited += kPollMs) {
    ::EnumWindows(&FindDroppedList, reinterpret_cast<LPARAM>(&list));
    if (list != nullptr) break;
    if (waited >= kDefaultWaitMs) {
      std::fprintf(stderr, "dialog_probe: no dropped list\n");
      return 1;
    }
    ::Sleep(kPollMs);
  }
  const int height = static_cast<int>(::SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
  const int top = static_cast<int>(::SendMessageW(list, LB_GETTOPINDEX, 0, 0));
  RECT client{};
  ::GetClientRect(list, &client);
  POINT origin{0, 0};
  ::ClientToScreen(list, &origin);
  std::printf("%ld %ld\n", origin.x + client.right / 2, origin.y + (index - top) * height + height / 2);
  return 0;
}

// The arguments as UTF-8, whatever the system's code page (texts to wait for are Japanese).
std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

int Run(const std::vector<std::string>& a) {
  if (a.size() == 2 && a[0] == "list-item") return ListItem(std::atoi(a[1].c_str()));
  if (a.size() >= 3 && a[0] == "state") {
    HWND dialog = FindDialog(a[1], a[2] == "main");
    if (dialog == nullptr) {
      std::fprintf(stderr, "dialog_probe: no \"%s\" %s\n", a[1].c_str(), a[2].c_str());
      return 1;
    }
    return PrintState(dialog);
  }
  if (a.size() >= 3 && a[0] == "wait") {
    const int id = a.size() >= 5 ? std::atoi(a[3].c_str()) : 0;
    const std::string text = a.size() >= 5 ? a[4] : std::string();
    const std::size_t msAt = a.size() >= 5 ? 5 : 3;
    const DWORD ms = a.size() > msAt ? static_cast<DWORD>(std::atol(a[msAt].c_str())) : kDefaultWaitMs;
    return Wait(a[1], a[2] == "main", id, text, ms);
  }
  if (a.size() >= 2 && a[0] == "gone") {
    return Gone(a[1], a.size() >= 3 ? static_cast<DWORD>(std::atol(a[2].c_str())) : kDefaultWaitMs);
  }
  if (a.size() == 2 && (a[0] == "close" || a[0] == "sync")) {
    HWND dialog = FindDialog(a[1], true);
    if (dialog == nullptr) {
      std::fprintf(stderr, "dialog_probe: no \"%s\"\n", a[1].c_str());
      return 1;
    }
    if (a[0] == "close") return ::PostMessageW(dialog, WM_CLOSE, 0, 0) ? 0 : 1;
    // sync: a sent message is taken by the window's next fetch of messages.
    for (int round = 0; round < 2; ++round) {
      DWORD_PTR ignored = 0;
      if (!::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kDefaultWaitMs, &ignored)) return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "usage: dialog_probe state|wait|gone|close|sync TITLE ... | list-item INDEX | serve\n");
  return 2;
}

int Serve() {
  std::string line;
  for (int c = std::getchar(); c != EOF; c = std::getchar()) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    std::vector<std::string> words(1);
    for (const char ch : line) {
      if (ch == '\t') {
        words.emplace_back();
      } else if (ch != '\r') {
        words.back() += ch;
      }
    }
    line.clear();
    const int status = Run(words);
    std::fflush(stderr);
    std::printf("--end %d\n", status);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in \n alone, for the shell
  _setmode(_fileno(stdin), _O_BINARY);
  const std::vector<std::string> a = Arguments();
  if (a.size() == 1 && a[0] == "serve") return Serve();
  return Run(a);
}
