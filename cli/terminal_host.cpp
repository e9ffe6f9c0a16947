#include "cli/terminal_host.h"

#include <string_view>

#include "update/page_texts.h"
#include "update/update_procedure.h"
#include "update/wizard_page.h"

namespace orvel {
namespace {

constexpr int kBarCells = 40;
constexpr std::string_view kClearLine = "\r\033[K";
constexpr std::string_view kBackupNotPossible =
    "I could not back up the F/W in selected model. I continue the updating.";
constexpr std::string_view kBackupNotPossibleJapanese =
    "選択された機種ではF/Wをバックアップできませんでした。アップデートを続けます。";

bool IsStepPage(int page) { return page >= BackingUp && page <= CheckingSumAgain; }

}  // namespace

std::string TerminalText(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    result += text[i];
  }
  return result;
}

std::string CurrentStepLine(int page, int language, bool backupTicked) {
  const std::string text = TerminalText(InformationText(page, language, backupTicked));
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.starts_with(kStepMarkerCurrent)) return std::string(line);
    start = end + 1;
  }
  return {};
}

std::string StepOfWhole(int page, int language, bool backupTicked) {
  if (!IsStepPage(page)) return {};
  const std::string text = TerminalText(InformationText(page, language, backupTicked));
  int number = 0;
  int total = 0;
  std::string words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    ++total;
    if (!line.starts_with(kStepMarkerCurrent)) continue;
    number = total;
    line.remove_prefix(kStepMarkerCurrent.size());
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    words = std::string(line);
  }
  if (number == 0) return {};
  const std::string n = std::to_string(number);
  const std::string m = std::to_string(total);
  return language == Japanese ? words + "（ステップ " + n + "/" + m + "）" : words + " (step " + n + " of " + m + ")";
}

TerminalHost::TerminalHost(std::ostream& out, std::ostream& err, TerminalHostOptions options)
    : out_(out), err_(err), options_(options) {}

void TerminalHost::SetPage(int page) {
  page_ = page;
  if (options_.backupOnly) {
    // Only the backup runs: it is the whole.
    step_ = page == BackingUp ? (options_.language == Japanese ? "F/Wをバックアップ中（ステップ 1/1）"
                                                                : "Backing Up F/W (step 1 of 1)")
                              : std::string();
  } else {
    step_ = StepOfWhole(page, options_.language, backupCheck_ != 0);
  }
  if (options_.quiet || !IsStepPage(page)) return;
  const std::string line = CurrentStepLine(page, options_.language, backupCheck_ != 0);
  if (!line.empty()) TextLine(line);
}

void TerminalHost::SetProgress(int position) {
  if (position < 0) position = 0;
  if (position > kProgressMax) position = kProgressMax;
  if (position == progress_) return;
  progress_ = position;
  if (!options_.quiet) DrawProgress();
}

void TerminalHost::DrawProgress() {
  const int filled = progress_ * kBarCells / kProgressMax;
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarCells - filled), '.');
  bar += "] ";
  bar += std::to_string(progress_);
  bar += '/';
  bar += std::to_string(kProgressMax);
  if (!step_.empty()) bar += "  " + step_;
  if (options_.redrawProgress) {
    out_ << kClearLine << bar << std::flush;
    progressLineOpen_ = true;
  } else {
    out_ << bar << '\n';
  }
}

void TerminalHost::TextLine(std::string_view line) {
  if (progressLineOpen_) {
    // The step line takes the bar's place; the bar is drawn again below it.
    out_ << kClearLine << line << '\n';
    DrawProgress();
  } else {
    out_ << line << '\n';
  }
}

void TerminalHost::FinishProgressLine() {
  if (progressLineOpen_) out_ << '\n';
  progressLineOpen_ = false;
  out_ << std::flush;
}

void TerminalHost::ShowBackupNotPossible() {
  backupNotPossibleShown_ = true;
  const std::string_view notice = options_.language == Japanese ? kBackupNotPossibleJapanese : kBackupNotPossible;
  if (options_.quiet) {
    err_ << notice << '\n';
  } else {
    TextLine(notice);
  }
}

void TerminalHost::ShowFileError(std::string_view name, FileError error) {
  FinishProgressLine();
  err_ << "orvel-cli: " << name << ": " << FileErrorText(error, options_.language) << '\n';
}

void TerminalHost::ShowMachineNotKeptAwake(std::string_view why) {
  FinishProgressLine();
  if (options_.language == Japanese) {
    err_ << "orvel-cli: この試行の間、このマシンのサスペンドやシャットダウンを防ぐものがありません（" << why
         << "）。試行が終わるまでマシンを動かし続けてください\n";
    return;
  }
  err_ << "orvel-cli: nothing keeps this machine from suspending or shutting down during the attempt (" << why
       << "); keep it running until the attempt has ended\n";
}

}  // namespace orvel
