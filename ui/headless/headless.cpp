#include "ui/headless/headless.h"

#include <algorithm>
#include <utility>

#include "ui/text_order.h"

namespace orvel::ui {

namespace {

constexpr int kDialogUnitsPerBaseX = 4;
constexpr int kDialogUnitsPerBaseY = 8;
constexpr int kDefaultProgressHigh = 100;
constexpr char kPasswordMask = '*';

bool IsButton(ControlKind k) {
  return k == ControlKind::PushButton || k == ControlKind::CheckBox || k == ControlKind::RadioButton;
}

const Bitmap kNoBitmap{};

}  // namespace

// ---- painting -------------------------------------------------------------

class HeadlessWindow::Painter final : public PaintContext {
 public:
  explicit Painter(HeadlessWindow& w) : w_(w) {}
  bool Minimized() override { return w_.minimized_; }
  int ClientWidth() override { return w_.ClientWidth(); }
  int ClientHeight() override { return w_.ClientHeight(); }
  void EraseIconBackground() override {
    PaintOp op;
    op.kind = PaintOp::Kind::EraseIconBackground;
    Record(std::move(op));
  }
  void DrawIcon(int x, int y, const Bitmap& icon) override {
    PaintOp op;
    op.kind = PaintOp::Kind::DrawIcon;
    op.x = x;
    op.y = y;
    op.width = icon.width;
    op.height = icon.height;
    op.bitmap = icon;
    Record(std::move(op));
  }
  void BlitToControl(int controlId, const Bitmap& bitmap, int w, int h) override {
    PaintOp op;
    op.kind = PaintOp::Kind::Blit;
    op.controlId = controlId;
    op.width = w;
    op.height = h;
    op.bitmap = bitmap;
    if (w_.Find(controlId) != nullptr) {
      w_.pictures_[controlId] = bitmap;
    }
    Record(std::move(op));
  }

 private:
  void Record(PaintOp op) {
    w_.paintLog_.push_back(op);
    w_.lastPaint_.push_back(std::move(op));
  }
  HeadlessWindow& w_;
};

// ---- HeadlessWindow -------------------------------------------------------

HeadlessWindow::HeadlessWindow(HeadlessWindowSystem& system, const DialogTemplate& tmpl, DialogEvents& events,
                               DialogWindow* owner)
    : system_(system), tmpl_(tmpl), events_(events), owner_(owner), caption_(tmpl.caption) {
  controls_.reserve(tmpl_.controls.size());
  for (const ControlTemplate& ct : tmpl_.controls) {
    Control c;
    c.tmpl = ct;
    c.high = kDefaultProgressHigh;
    if (ct.kind != ControlKind::ComboBox) {
      c.text = ct.text;
    }
    controls_.push_back(std::move(c));
  }
  system_.live_.push_back(this);
  ++system_.created_[tmpl_.resourceId];
}

HeadlessWindow::~HeadlessWindow() { system_.Unregister(this); }

HeadlessWindow::Control* HeadlessWindow::Find(int id) {
  if (id < 0) return nullptr;
  for (Control& c : controls_) {
    if (c.tmpl.id == id) return &c;
  }
  return nullptr;
}

const HeadlessWindow::Control* HeadlessWindow::Find(int id) const {
  return const_cast<HeadlessWindow*>(this)->Find(id);
}

bool HeadlessWindow::Usable(const Control* c) const {
  return c != nullptr && c->enabled && c->visible && !ended_ && !busy_;
}

bool HeadlessWindow::HasControl(int id) const { return Find(id) != nullptr; }

int HeadlessWindow::ClientWidth() const { return tmpl_.cx * kBaseUnitX / kDialogUnitsPerBaseX; }

int HeadlessWindow::ClientHeight() const { return tmpl_.cy * kBaseUnitY / kDialogUnitsPerBaseY; }

void HeadlessWindow::ApplyAutoCheck(Control& c) {
  if ((c.tmpl.style & AutoCheck) == 0) return;
  if (c.tmpl.kind == ControlKind::CheckBox) {
    c.check = c.check == 0 ? 1 : 0;
    return;
  }
  if (c.tmpl.kind != ControlKind::RadioButton) return;
  // The group runs from the nearest control carrying Group up to the next one.
  const auto self = static_cast<std::size_t>(&c - controls_.data());
  std::size_t first = self;
  while (first > 0 && (controls_[first].tmpl.style & Group) == 0) --first;
  std::size_t last = self + 1;
  while (last < controls_.size() && (controls_[last].tmpl.style & Group) == 0) ++last;
  for (std::size_t i = first; i < last; ++i) {
    Control& other = controls_[i];
    if (i != self && other.tmpl.kind == ControlKind::RadioButton && (other.tmpl.style & AutoCheck) != 0) {
      other.check = 0;
    }
  }
  c.check = 1;
}

bool HeadlessWindow::Click(int id) {
  Control* c = Find(id);
  if (!Usable(c) || !IsButton(c->tmpl.kind)) return false;
  focus_ = id;
  ApplyAutoCheck(*c);
  events_.OnButtonClicked(id);
  return true;
}

bool HeadlessWindow::Select(int id, int index) {
  Control* c = Find(id);
  if (!Usable(c) || c->tmpl.kind != ControlKind::ComboBox) return false;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
  focus_ = id;
  c->selection = index;
  events_.OnSelectionChanged(id);
  return true;
}

bool HeadlessWindow::SelectItem(int id, std::string_view item) {
  const Control* c = Find(id);
  if (c == nullptr) return false;
  const auto it = std::find(c->items.begin(), c->items.end(), item);
  if (it == c->items.end()) return false;
  return Select(id, static_cast<int>(it - c->items.begin()));
}

bool HeadlessWindow::Type(int id, std::string_view text) {
  Control* c = Find(id);
  if (!Usable(c) || c->tmpl.kind != ControlKind::Edit || (c->tmpl.style & ReadOnly) != 0) return false;
  focus_ = id;
  std::string_view accepted = text;
  if (c->limit > 0) {
    const int room = std::max(0, c->limit - CountCharacters(c->text));
    accepted = FirstCharacters(text, room);
  }
  c->text.append(accepted);
  return !accepted.empty() || text.empty();
}

bool HeadlessWindow::PressEnter() {
  if (ended_ || busy_) return false;
  const Control* focused = Find(focus_);
  if (Usable(focused) && focused->tmpl.kind == ControlKind::PushButton) {
    return Click(focus_);
  }
  for (const Control& c : controls_) {
    if (c.tmpl.kind == ControlKind::PushButton && (c.tmpl.style & DefaultButton) != 0) {
      return Click(c.tmpl.id);  // a disabled default button swallows Enter
    }
  }
  events_.OnOkCommand();
  return true;
}

bool HeadlessWindow::CancelPath() {
  if (ended_ || busy_) return false;
  const Control* cancel = Find(IDCANCEL);
  if (cancel != nullptr && !cancel->enabled) return false;
  events_.OnCancelCommand();
  return true;
}

bool HeadlessWindow::PressEscape() { return CancelPath(); }

bool HeadlessWindow::PressCloseBox() { return tmpl_.systemMenu && CancelPath(); }

void HeadlessWindow::SetMinimized(bool minimized) {
  minimized_ = minimized;
  Paint();
}

void HeadlessWindow::Paint() {
  if (busy_) {
    paintPending_ = true;
    return;
  }
  DoPaint();
}

void HeadlessWindow::SetBusy(bool busy) {
  if (busy_ && !busy) KeepAlive();
  busy_ = busy;
}

void HeadlessWindow::KeepAlive() {
  if (!busy_) return;
  ++keepAliveCount_;
  if (paintPending_) {
    paintPending_ = false;
    DoPaint();
  }
}

void HeadlessWindow::DoPaint() {
  if (ended_) return;
  ++paintCount_;
  lastPaint_.clear();
  Painter painter(*this);
  events_.OnPaintRequest(painter);
}

std::vector<std::string> HeadlessWindow::ComboItems(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->items : std::vector<std::string>{};
}

int HeadlessWindow::TextLimit(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->limit : 0;
}

int HeadlessWindow::ProgressLow(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->low : 0;
}

int HeadlessWindow::ProgressHigh(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->high : 0;
}

std::string HeadlessWindow::DisplayedText(int id) const {
  const Control* c = Find(id);
  if (c == nullptr) return {};
  if (c->tmpl.kind == ControlKind::Edit && (c->tmpl.style & Password) != 0) {
    return std::string(static_cast<std::size_t>(CountCharacters(c->text)), kPasswordMask);
  }
  return const_cast<HeadlessWindow*>(this)->Text(id);
}

const Bitmap& HeadlessWindow::PictureOf(int controlId) const {
  const auto it = pictures_.find(controlId);
  return it != pictures_.end() ? it->second : kNoBitmap;
}

void HeadlessWindow::ClearPaintRecord() {
  paintLog_.clear();
  lastPaint_.clear();
  pictures_.clear();
  paintCount_ = 0;
  updateWindowCount_ = 0;
}

void HeadlessWindow::SetText(int id, std::string_view text) {
  Control* c = Find(id);
  if (c == nullptr) return;
  if (c->tmpl.kind == ControlKind::ComboBox) {
    // A drop-down list has no text of its own: the text picks an item, silently.
    for (std::size_t i = 0; i < c->items.size(); ++i) {
      if (CompareNoCase(c->items[i], text) == 0) {
        c->selection = static_cast<int>(i);
        return;
      }
    }
    return;
  }
  c->text = text;
}

std::string HeadlessWindow::Text(int id) {
  const Control* c = Find(id);
  if (c == nullptr) return {};
  if (c->tmpl.kind == ControlKind::ComboBox) {
    return c->selection >= 0 ? c->items[static_cast<std::size_t>(c->selection)] : std::string();
  }
  return c->text;
}

void HeadlessWindow::SetCheck(int id, int state) {
  Control* c = Find(id);
  if (c == nullptr) return;
  const int s = NormalizeCheckState(state);
  if (c->tmpl.kind == ControlKind::CheckBox) {
    c->check = s;
  } else if (c->tmpl.kind == ControlKind::RadioButton) {
    c->check = s != 0 ? 1 : 0;
  }
}

int HeadlessWindow::Check(int id) {
  const Control* c = Find(id);
  return c != nullptr ? c->check : 0;
}

void HeadlessWindow::Enable(int id, bool enabled) {
  if (Control* c = Find(id)) c->enabled = enabled;
}

bool HeadlessWindow::IsEnabled(int id) {
  const Control* c = Find(id);
  return c != nullptr && c->enabled;
}

void HeadlessWindow::Show(int id, bool visible) {
  if (Control* c = Find(id)) c->visible = visible;
}

bool HeadlessWindow::IsVisible(int id) {
  const Control* c = Find(id);
  return c != nullptr && c->visible;
}

void HeadlessWindow::SetFocus(int id) {
  if (id < 0) {
    focus_ = -1;
    return;
  }
  const Control* c = Find(id);
  if (c != nullptr && c->enabled && c->visible) focus_ = id;
}

void HeadlessWindow::ComboReset(int id) {
  Control* c = Find(id);
  if (c == nullptr || c->tmpl.kind != ControlKind::ComboBox) return;
  c->items.clear();
  c->selection = -1;
}

int HeadlessWindow::ComboAdd(int id, std::string_view item) {
  Control* c = Find(id);
  if (c == nullptr || c->tmpl.kind != ControlKind::ComboBox) return -1;
  const int index =
      (c->tmpl.style & Sorted) != 0 ? SortedInsertIndex(c->items, item) : static_cast<int>(c->items.size());
  c->items.insert(c->items.begin() + index, std::string(item));
  if (c->selection >= index) ++c->selection;  // the selected item stays selected
  return index;
}

void HeadlessWindow::ComboSetSelection(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr || c->tmpl.kind != ControlKind::ComboBox) return;
  c->selection = (index >= 0 && index < static_cast<int>(c->items.size())) ? index : -1;
}

int HeadlessWindow::ComboSelection(int id) {
  const Control* c = Find(id);
  return c != nullptr && c->tmpl.kind == ControlKind::ComboBox ? c->selection : -1;
}

int HeadlessWindow::ComboCount(int id) {
  const Control* c = Find(id);
  return c != nullptr ? static_cast<int>(c->items.size()) : 0;
}

std::string HeadlessWindow::ComboItem(int id, int index) {
  const Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return {};
  return c->items[static_cast<std::size_t>(index)];
}

void HeadlessWindow::LimitText(int id, int chars) {
  if (Control* c = Find(id)) c->limit = std::max(0, chars);
}

void HeadlessWindow::SetProgressRange(int id, int low, int high) {
  Control* c = Find(id);
  if (c == nullptr || c->tmpl.kind != ControlKind::ProgressBar) return;
  c->low = low;
  c->high = high;
  c->position = std::clamp(c->position, std::min(low, high), std::max(low, high));
}

void HeadlessWindow::SetProgressPosition(int id, int position) {
  Control* c = Find(id);
  if (c == nullptr || c->tmpl.kind != ControlKind::ProgressBar) return;
  c->position = std::clamp(position, std::min(c->low, c->high), std::max(c->low, c->high));
}

int HeadlessWindow::ProgressPosition(int id) {
  const Control* c = Find(id);
  return c != nullptr ? c->position : 0;
}

void HeadlessWindow::SetIcon(const Bitmap& icon, bool big) { (big ? bigIcon_ : smallIcon_) = icon; }

void HeadlessWindow::UpdateWindow() {
  ++updateWindowCount_;
  DoPaint();
}

int HeadlessWindow::RunModal() {
  ++system_.modalRuns_[tmpl_.resourceId];
  if (ended_) return result_;  // ended during OnInitDialog: never shown
  shown_ = true;
  DoPaint();
  system_.RunScriptFor(*this);
  if (!ended_) events_.OnCancelCommand();  // closed, whatever the window's state
  if (!ended_) EndModal(IDCANCEL);
  shown_ = false;
  return result_;
}

void HeadlessWindow::EndModal(int result) {
  ended_ = true;
  result_ = result;
}

// ---- HeadlessWindowSystem -------------------------------------------------

void HeadlessWindowSystem::SetModalScript(int templateId, ModalScript script) {
  scripts_[templateId] = std::move(script);
}

void HeadlessWindowSystem::QueueModalScript(int templateId, ModalScript script) {
  queued_[templateId].push_back(std::move(script));
}

void HeadlessWindowSystem::RunScriptFor(HeadlessWindow& w) {
  ModalScript script;
  auto q = queued_.find(w.TemplateId());
  if (q != queued_.end() && !q->second.empty()) {
    script = std::move(q->second.front());
    q->second.pop_front();
  } else if (auto s = scripts_.find(w.TemplateId()); s != scripts_.end()) {
    script = s->second;  // a copy: the script may replace itself
  }
  if (script) script(w);
}

HeadlessWindow* HeadlessWindowSystem::Window(int templateId) {
  for (auto it = live_.rbegin(); it != live_.rend(); ++it) {
    if ((*it)->TemplateId() == templateId) return *it;
  }
  return nullptr;
}

int HeadlessWindowSystem::CreatedCount(int templateId) const {
  const auto it = created_.find(templateId);
  return it != created_.end() ? it->second : 0;
}

int HeadlessWindowSystem::DestroyedCount(int templateId) const {
  const auto it = destroyed_.find(templateId);
  return it != destroyed_.end() ? it->second : 0;
}

int HeadlessWindowSystem::ModalRunCount(int templateId) const {
  const auto it = modalRuns_.find(templateId);
  return it != modalRuns_.end() ? it->second : 0;
}

void HeadlessWindowSystem::Unregister(HeadlessWindow* w) {
  live_.erase(std::remove(live_.begin(), live_.end(), w), live_.end());
  ++destroyed_[w->TemplateId()];
}

std::unique_ptr<DialogWindow> HeadlessWindowSystem::CreateDialogWindow(const DialogTemplate& tmpl,
                                                                      DialogEvents& events, DialogWindow* owner) {
  return std::make_unique<HeadlessWindow>(*this, tmpl, events, owner);
}

void HeadlessWindowSystem::MessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                                      MessageBoxIcon icon) {
  MessageBoxRecord record{std::string(text), std::string(caption), icon,
                          owner != nullptr ? owner->TemplateId() : 0};
  messageBoxes_.push_back(record);
  if (messageBoxScript_) {
    auto script = messageBoxScript_;
    script(record);
  }
}

}  // namespace orvel::ui
