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

TerminalHost::TerminalHost(std::ostream& out, std::ostream& err, TerminalHostOptions options)
    : out_(out), err_(err), options_(options) {}

void TerminalHost::SetPage(int page) {
  page_ = page;
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
  if (options_.quiet) {
    err_ << kBackupNotPossible << '\n';
  } else {
    TextLine(kBackupNotPossible);
  }
}

void TerminalHost::ShowFileError(std::string_view name, FileError error) {
  FinishProgressLine();
  err_ << "orvel-cli: " << name << ": " << FileErrorText(error) << '\n';
}

void TerminalHost::ShowMachineNotKeptAwake(std::string_view why) {
  FinishProgressLine();
  err_ << "orvel-cli: nothing keeps this machine from suspending or shutting down during the attempt (" << why
       << "); keep it running until the attempt has ended\n";
}

}  // namespace orvel
