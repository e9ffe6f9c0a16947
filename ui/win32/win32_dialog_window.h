#pragma once
// One dialog of the Win32 window system (see win32_window_system.h). Tests
// reach the window handle and a few counts through this header; it does not
// include <windows.h>.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/win32/win32_window_system.h"

namespace orvel::ui {

class Win32DialogWindow final : public DialogWindow {
 public:
  // Creates the dialog of `tmpl`, hidden; Handle() is null when that failed.
  Win32DialogWindow(Win32WindowSystem& system, const DialogTemplate& tmpl, DialogEvents& events, void* owner);
  ~Win32DialogWindow() override;
  Win32DialogWindow(const Win32DialogWindow&) = delete;
  Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

  void* Handle() const { return hwnd_; }
  void* ControlHandle(int id) const;
  int PaintCount() const { return paintCount_; }
  int KeepAliveCount() const { return keepAliveCount_; }  // calls made while busy
  int DiscardedCount() const { return discarded_; }         // input and close requests dropped while busy
  bool Busy() const { return busy_; }
  // Whether Windows took the reason shown while a shutdown waits for the busy
  // dialog (ShutdownBlockReasonCreate: Vista and later).
  bool ShutdownReasonSet() const { return shutdownReasonSet_; }

  // ---- DialogWindow ----
  int TemplateId() const override { return tmpl_.resourceId; }
  void SetCaption(std::string_view text) override;
  std::string Caption() override;
  void SetText(int id, std::string_view text) override;
  std::string Text(int id) override;
  void SetCheck(int id, int state) override;
  int Check(int id) override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) override;
  void Show(int id, bool visible) override;
  bool IsVisible(int id) override;
  void SetFocus(int id) override;
  int Focus() override;
  void ComboReset(int id) override;
  // CB_DIR with the attributes and `pattern` in the working directory; then
  // the entries whose long name does not match are taken out again (see the .cpp).
  int ComboDir(int id, unsigned attributes, std::string_view pattern, FileSystem& files) override;
  int ComboAdd(int id, std::string_view item) override;
  void ComboSetSelection(int id, int index) override;
  int ComboSelection(int id) override;
  int ComboCount(int id) override;
  std::string ComboItem(int id, int index) override;
  void LimitText(int id, int chars) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPosition(int id, int position) override;
  int ProgressPosition(int id) override;
  void SetIcon(const Bitmap& icon, bool big) override;
  void UpdateWindow() override;
  void SetBusy(bool busy) override;
  void KeepAlive() override;
  int RunModal() override;
  void EndModal(int result) override;
  bool IsModalEnded() override { return ended_; }

 private:
  class Painter;
  friend class Painter;
  struct Progress {
    int id = 0;
    int low = 0;
    int high = 100;
    int position = 0;
  };

  // The dialog procedure's work (the procedure itself is a static of the .cpp).
  friend struct DialogProcedure;
  bool OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t* result);
  void OnCommand(int id, int code, void* control);
  void CancelPath();
  bool DiscardWhileBusy(const void* msg) const;
  void DropShutdownReason();
  const ControlTemplate* Find(int id) const;
  Progress& ProgressOf(int id);
  void* IconHandle(const Bitmap& icon) const;

  Win32WindowSystem& system_;
  DialogTemplate tmpl_;
  DialogEvents& events_;
  void* hwnd_ = nullptr;
  void* owner_ = nullptr;
  bool ownerDisabled_ = false;
  void* bigIcon_ = nullptr;
  std::vector<Progress> progress_;
  bool busy_ = false;
  bool shutdownReasonSet_ = false;
  bool ended_ = false;
  bool running_ = false;
  int result_ = 0;
  int paintCount_ = 0;
  int keepAliveCount_ = 0;
  int discarded_ = 0;
};

}  // namespace orvel::ui
