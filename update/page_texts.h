#pragma once
// The screen texts of the pages in both languages, shared by the wizard dialog
// and the command line. UTF-8.

#include <string>
#include <string_view>

#include "update/wizard_page.h"

namespace orvel {

inline constexpr std::string_view kStepMarkerIdle = "    ";
inline constexpr std::string_view kStepMarkerCurrent = ">> ";

struct CaptionTexts {
  std::string_view driveCaption, sourceCaption, infoCaption, progressCaption;
  std::string_view backupCheck, closeButton, nextButton, backButton;
};
const CaptionTexts& Captions(int language);

struct PageRow {
  bool present = false;           // BackupFailed and page 0 have no row
  std::string_view infoText;      // empty for the step pages 5..10
  std::string_view nextCaption;   // empty: unchanged
  bool backEnabled = false;
};
// The row of `page` for `language` (Japanese when 1, English otherwise).
PageRow PageTextRow(int page, int language);

// The information text of a page: the row's text, or for pages 5..10 the step
// list with the page's line marked (the first line only when the backup box is ticked).
std::string InformationText(int page, int language, bool backupTicked);

// A short page name for scripts ("Completed", "TypeCodeMismatch", ...).
std::string_view PageName(int page);

}  // namespace orvel
