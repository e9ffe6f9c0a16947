#include "ui/dialog.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/files.h"
#include "ui/text_order.h"

namespace orvel::ui {

// ---- CWnd and the control wrappers ----------------------------------------
// An unattached wrapper does nothing and reads as empty, like a null window.

void CWnd::SetWindowText(std::string_view text) {
  if (window_ != nullptr) window_->SetText(id_, text);
}

std::string CWnd::GetWindowText() const { return window_ != nullptr ? window_->Text(id_) : std::string(); }

void CWnd::EnableWindow(bool enabled) {
  if (window_ != nullptr) window_->Enable(id_, enabled);
}

bool CWnd::IsWindowEnabled() const { return window_ != nullptr && window_->IsEnabled(id_); }

void CWnd::ShowWindow(bool visible) {
  if (window_ != nullptr) window_->Show(id_, visible);
}

bool CWnd::IsWindowVisible() const { return window_ != nullptr && window_->IsVisible(id_); }

void CWnd::SetFocus() {
  if (window_ != nullptr) window_->SetFocus(id_);
}

void CButton::SetCheck(int state) {
  if (window_ != nullptr) window_->SetCheck(id_, state);
}

int CButton::GetCheck() const { return window_ != nullptr ? window_->Check(id_) : 0; }

void CComboBox::ResetContent() {
  if (window_ != nullptr) window_->ComboReset(id_);
}

int CComboBox::AddString(std::string_view item) { return window_ != nullptr ? window_->ComboAdd(id_, item) : -1; }

int CComboBox::Dir(unsigned attributes, std::string_view pattern, FileSystem& files) {
  return window_ != nullptr ? window_->ComboDir(id_, attributes, pattern, files) : -1;
}

int CComboBox::SetCurSel(int index) {
  if (window_ == nullptr) return -1;
  window_->ComboSetSelection(id_, index);
  return window_->ComboSelection(id_);
}

int CComboBox::GetCurSel() const { return window_ != nullptr ? window_->ComboSelection(id_) : -1; }

int CComboBox::GetCount() const { return window_ != nullptr ? window_->ComboCount(id_) : 0; }

std::string CComboBox::GetLBText(int index) const {
  return window_ != nullptr ? window_->ComboItem(id_, index) : std::string();
}

void CEdit::LimitText(int chars) {
  if (window_ != nullptr) window_->LimitText(id_, chars);
}

void CProgressCtrl::SetRange(int low, int high) {
  if (window_ != nullptr) window_->SetProgressRange(id_, low, high);
}

void CProgressCtrl::SetPos(int position) {
  if (window_ != nullptr) window_->SetProgressPosition(id_, position);
}

int CProgressCtrl::GetPos() const { return window_ != nullptr ? window_->ProgressPosition(id_) : 0; }

// ---- DialogWindow ---------------------------------------------------------

int DialogWindow::ComboDir(int id, unsigned attributes, std::string_view pattern, FileSystem& files) {
  // Only ordinary files are ever listed; other attribute bits (directories,
  // drives) have no meaning here.
  static_cast<void>(attributes);
  std::vector<std::string> names = files.ListRegularFiles(pattern);
  // The listing order is unspecified; an unsorted list still fills the same way every run.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int c = CompareNoCase(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  int last = -1;
  for (const std::string& name : names) {
    last = ComboAdd(id, name);
  }
  return last;
}

// ---- DataExchange ---------------------------------------------------------

void DataExchange::Control(int id, CWnd& control) {
  control.window_ = &window_;
  control.id_ = id;
}

void DataExchange::Text(int id, std::string& member) {
  if (save_) {
    member = window_.Text(id);
  } else {
    window_.SetText(id, member);
  }
}

void DataExchange::Check(int id, int& member) {
  if (save_) {
    member = window_.Check(id);
  } else {
    window_.SetCheck(id, NormalizeCheckState(member));
  }
}

// ---- CDialog --------------------------------------------------------------

CDialog::CDialog(const DialogTemplate& tmpl, WindowSystem& ws, CDialog* parent)
    : tmpl_(tmpl), ws_(ws), parent_(parent) {}

CDialog::~CDialog() { window_.reset(); }

bool CDialog::CreateWindowOnly() {
  if (window_ != nullptr) return true;
  DialogWindow* owner = parent_ != nullptr ? parent_->Window() : nullptr;
  window_ = ws_.CreateDialogWindow(tmpl_, *this, owner);
  return window_ != nullptr;
}

bool CDialog::Create() {
  if (!CreateWindowOnly()) return false;
  const bool focusFirst = OnInitDialog();
  if (focusFirst && window_ != nullptr && !window_->IsModalEnded()) {
    for (const ControlTemplate& c : tmpl_.controls) {
      if ((c.style & TabStop) != 0 && c.id >= 0 && window_->IsEnabled(c.id) && window_->IsVisible(c.id)) {
        window_->SetFocus(c.id);
        break;
      }
    }
  }
  return focusFirst;
}

int CDialog::DoModal() {
  constexpr int kNoWindow = -1;
  if (window_ == nullptr) {
    if (!CreateWindowOnly()) return kNoWindow;
    Create();
  }
  if (window_ == nullptr) return kNoWindow;  // OnInitDialog destroyed it
  const int result = window_->RunModal();
  DestroyWindow();
  return result;
}

void CDialog::EndDialog(int result) {
  if (window_ != nullptr) window_->EndModal(result);
}

bool CDialog::OnInitDialog() { return UpdateData(false); }

void CDialog::DoDataExchange(DataExchange& dx) { static_cast<void>(dx); }

bool CDialog::UpdateData(bool saveAndValidate) {
  if (window_ == nullptr) return false;
  DataExchange dx(*window_, saveAndValidate);
  DoDataExchange(dx);
  return true;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnPaint(PaintContext& pc) { static_cast<void>(pc); }

void CDialog::DestroyWindow() { window_.reset(); }

void CDialog::OnClicked(int id, std::function<void()> handler) {
  map_.push_back(Entry{id, false, std::move(handler)});
}

void CDialog::OnSelChange(int id, std::function<void()> handler) {
  map_.push_back(Entry{id, true, std::move(handler)});
}

void CDialog::SetWindowText(std::string_view caption) {
  if (window_ != nullptr) window_->SetCaption(caption);
}

void CDialog::SetIcon(const Bitmap& icon, bool big) {
  if (window_ != nullptr) window_->SetIcon(icon, big);
}

void CDialog::UpdateWindow() {
  if (window_ != nullptr) window_->UpdateWindow();
}

void CDialog::KeepAlive() {
  if (window_ != nullptr) window_->KeepAlive();
}

void CDialog::MessageBox(std::string_view text, std::string_view caption, MessageBoxIcon icon) {
  ws_.MessageBox(window_.get(), text, caption, icon);
}

CWnd CDialog::GetDlgItem(int id) {
  CWnd w;
  if (window_ != nullptr) {
    DataExchange dx(*window_, false);
    dx.Control(id, w);
  }
  return w;
}

namespace {

// Copies the handler out first: a handler may add entries to the map.
bool Dispatch(const auto& map, int id, bool selChange) {
  for (const auto& e : map) {
    if (e.id == id && e.selChange == selChange && e.handler) {
      auto handler = e.handler;
      handler();
      return true;
    }
  }
  return false;
}

}  // namespace

void CDialog::OnButtonClicked(int id) {
  if (Dispatch(map_, id, false)) return;
  if (id == IDOK) {
    OnOK();
  } else if (id == IDCANCEL) {
    OnCancel();
  }
}

void CDialog::OnSelectionChanged(int id) { Dispatch(map_, id, true); }

// Enter and Escape arrive as the commands of IDOK and IDCANCEL, so a map
// entry for either id takes them as a click would.
void CDialog::OnOkCommand() { OnButtonClicked(IDOK); }

void CDialog::OnCancelCommand() { OnButtonClicked(IDCANCEL); }

void CDialog::OnPaintRequest(PaintContext& pc) { OnPaint(pc); }

}  // namespace orvel::ui
