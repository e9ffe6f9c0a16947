#pragma once
// The dialog layer the application is written against: a dialog built from a
// template, control wrappers in the roles of the classic framework's classes,
// data exchange in both directions, a message map from control events to
// handlers, message boxes, an immediate repaint, modal runs. Member names
// follow the framework (SetWindowText, GetWindowText, MessageBox); a Windows
// backend includes <windows.h> only through platform/win32/windows_shim.h,
// which undefines the macros of those names.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/window_system.h"

namespace orvel {
class FileSystem;
}

namespace orvel::ui {

class CDialog;

// A control of a dialog, attached by DoDataExchange.
class CWnd {
 public:
  bool Attached() const { return window_ != nullptr; }
  int Id() const { return id_; }
  void SetWindowText(std::string_view text);
  std::string GetWindowText() const;
  void EnableWindow(bool enabled);
  bool IsWindowEnabled() const;
  void ShowWindow(bool visible);
  bool IsWindowVisible() const;
  void SetFocus();

 protected:
  friend class DataExchange;
  DialogWindow* window_ = nullptr;
  int id_ = -1;
};

class CButton : public CWnd {
 public:
  void SetCheck(int state);
  int GetCheck() const;
};

class CComboBox : public CWnd {
 public:
  void ResetContent();
  int AddString(std::string_view item);
  // Adds the regular files of the working directory matching `pattern`
  // (without regard to case); attribute 0 = ordinary files only. Returns the
  // index of the last item added, or -1 when none.
  int Dir(unsigned attributes, std::string_view pattern, FileSystem& files);
  int SetCurSel(int index);
  int GetCurSel() const;
  int GetCount() const;
  std::string GetLBText(int index) const;
};

class CEdit : public CWnd {
 public:
  void LimitText(int chars);
};

class CStatic : public CWnd {};

class CProgressCtrl : public CWnd {
 public:
  void SetRange(int low, int high);
  void SetPos(int position);
  int GetPos() const;
};

// One exchange pass: attaches controls, then moves texts and check states in
// the direction of `saveAndValidate` (true: controls to members).
class DataExchange {
 public:
  DataExchange(DialogWindow& window, bool saveAndValidate) : window_(window), save_(saveAndValidate) {}
  bool Saving() const { return save_; }
  void Control(int id, CWnd& control);
  void Text(int id, std::string& member);
  // Values other than 0, 1 and 2 are written to the control as 0.
  void Check(int id, int& member);

 private:
  DialogWindow& window_;
  bool save_;
};

class CDialog : public DialogEvents {
 public:
  CDialog(const DialogTemplate& tmpl, WindowSystem& ws, CDialog* parent = nullptr);
  ~CDialog() override;

  // Creates the window, runs OnInitDialog (focus goes to the first tab stop
  // when it returns true), then runs modally. Returns the modal result.
  int DoModal();
  // Creates the window and runs OnInitDialog with the same focus rule, but no
  // modal run: lets a test drive the dialog step by step. Returns what
  // OnInitDialog returned (false also when the window could not be built).
  bool Create();
  void EndDialog(int result);

  virtual bool OnInitDialog();                   // base: UpdateData(false)
  virtual void DoDataExchange(DataExchange& dx);
  bool UpdateData(bool saveAndValidate = true);
  virtual void OnOK();                           // UpdateData(true), EndDialog(IDOK)
  virtual void OnCancel();                       // EndDialog(IDCANCEL)
  virtual void OnPaint(PaintContext& pc);        // base: nothing to draw
  // Destroys the window (called when the modal run ends).
  virtual void DestroyWindow();

  // Message map.
  void OnClicked(int id, std::function<void()> handler);
  void OnSelChange(int id, std::function<void()> handler);

  void SetWindowText(std::string_view caption);
  void SetIcon(const Bitmap& icon, bool big);
  void UpdateWindow();
  // The window's liveness operation (DialogWindow::KeepAlive) while a long
  // operation holds the thread.
  void KeepAlive();
  void MessageBox(std::string_view text, std::string_view caption, MessageBoxIcon icon);
  CWnd GetDlgItem(int id);

  DialogWindow* Window() { return window_.get(); }
  WindowSystem& System() { return ws_; }
  const DialogTemplate& Template() const { return tmpl_; }

  // DialogEvents
  void OnButtonClicked(int id) override;
  void OnSelectionChanged(int id) override;
  void OnOkCommand() override;
  void OnCancelCommand() override;
  void OnPaintRequest(PaintContext& pc) override;

 protected:
  // Creates the window without running it (DoModal does this first).
  bool CreateWindowOnly();

 private:
  struct Entry {
    int id;
    bool selChange;
    std::function<void()> handler;
  };
  const DialogTemplate& tmpl_;
  WindowSystem& ws_;
  CDialog* parent_;
  std::unique_ptr<DialogWindow> window_;
  std::vector<Entry> map_;
};

}  // namespace orvel::ui
