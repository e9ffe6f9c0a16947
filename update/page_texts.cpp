#include "update/page_texts.h"

#include <array>

namespace orvel {
namespace {

constexpr CaptionTexts kEnglishCaptions{
    "Target Drive", "Source File", "Information", "Progress",
    "Back Up current F/W", "Close", "Next >", "< Back",
};

constexpr CaptionTexts kJapaneseCaptions{
    "ターゲットドライブ", "ソースファイル", "インフォメーション", "進行状況",
    "現在のF/Wをバックアップ", "クローズ", "次へ >", "< 戻る",
};

struct PageTexts {
  int page;
  std::string_view english;
  std::string_view japanese;
  std::string_view nextEnglish;  // empty: caption unchanged
  std::string_view nextJapanese;
  bool backEnabled;
};

constexpr std::string_view kNextEnglish = "Next >";
constexpr std::string_view kNextJapanese = "次へ >";

// Step pages 5..10 have a row with no text of their own: the step list replaces it.
constexpr std::array<PageTexts, 13> kPageTable{{
    {Searching, " Searching Connected Drive.", "接続されているドライブを検索中", "", "", false},
    {SelectDriveAndFile, " Select Target Drive and Source File.\r\n\r\n Eject Disc from Target Drive.",
     "ターゲットドライブとソースファイルを選択してください。\r\n\r\nターゲットドライブからディスクを取り出してください。",
     kNextEnglish, kNextJapanese, false},
    {ReadyToStart, " Push Start button and Start to update.", "スタートボタンを押すとアップデートを開始します。",
     "Start", "スタート", true},
    {BackingUp, "", "", "", "", false},
    {Transferring, "", "", "", "", false},
    {CheckingSum, "", "", "", "", false},
    {Erasing, "", "", "", "", false},
    {Writing, "", "", "", "", false},
    {CheckingSumAgain, "", "", "", "", false},
    {Completed,
     " Completed to update F/W of Drive.\r\n\r\n *** OK ** OK ** OK *** \r\n\r\n Turn OFF PC & Drive and Reboot them.",
     "ドライブF/Wのアップデートを完了しました。\r\n\r\n*** OK ** OK ** OK ***\r\n\r\nPCとドライブの電源を切り再起動してください。",
     kNextEnglish, kNextJapanese, false},
    {Failed, " Fail to update.\r\n\r\n *** NG ** NG ** NG *** \r\n\r\n Turn OFF PC and Reboot it.",
     "アップデートを失敗しました。\r\n\r\n*** NG ** NG ** NG ***\r\n\r\nPCの電源を切り再起動してください。",
     kNextEnglish, kNextJapanese, true},
    {TypeCodeMismatch,
     " Cannot update for different Type Code.\r\n\r\n *** NG ** NG ** NG *** \r\n\r\n Make sure Selected Source File.",
     "タイプコードが異なるのでアップデートできません。\r\n\r\n*** NG ** NG ** NG ***\r\n\r\nソースファイルの選択を間違っていませんか。",
     kNextEnglish, kNextJapanese, true},
    {UpdateModeFailed,
     " Cannot change Drive to Up Mode.\r\n\r\n *** NG ** NG ** NG *** \r\n\r\n Make sure Selected Target Drive.",
     "ドライブをアップデートモードに変更できません。\r\n\r\n*** NG ** NG ** NG ***\r\n\r\nターゲットドライブの選択を間違っていませんか。",
     kNextEnglish, kNextJapanese, true},
}};

constexpr PageTexts kNoBackupRow{
    NoBackupFileName, " Fail to make Back Up File.\r\n\r\n Rename Before Back Up File.",
    "バックアップファイルを作成できません。\r\n\r\n以前のバックアップファイルをリネームして下さい。",
    kNextEnglish, kNextJapanese, true};

struct StepLine {
  int page;
  std::string_view english;
  std::string_view japanese;
};

constexpr std::array<StepLine, 6> kStepLines{{
    {BackingUp, "Backing Up F/W \r\n", "F/Wをバックアップ中\r\n"},
    {Transferring, "Transferring Writing Data \r\n", "書込データを転送中\r\n"},
    {CheckingSum, "Confirming SUM Code \r\n", "サムコードを確認中\r\n"},
    {Erasing, "Erasing Flash ROM \r\n", "フラッシュROMを消去中\r\n"},
    {Writing, "Writing Data into Flash ROM \r\n", "フラッシュROMへ書込中\r\n"},
    {CheckingSumAgain, "Confirming SUM Code \r\n", "サムコードを確認中\r\n"},
}};

bool IsStepPage(int page) { return page >= BackingUp && page <= CheckingSumAgain; }

const PageTexts* FindRow(int page) {
  if (page == kNoBackupRow.page) return &kNoBackupRow;
  for (const PageTexts& row : kPageTable) {
    if (row.page == page) return &row;
  }
  return nullptr;
}

}  // namespace

const CaptionTexts& Captions(int language) {
  return language == Japanese ? kJapaneseCaptions : kEnglishCaptions;
}

PageRow PageTextRow(int page, int language) {
  const PageTexts* row = FindRow(page);
  if (row == nullptr) return {};
  const bool japanese = language == Japanese;
  PageRow out;
  out.present = true;
  out.infoText = japanese ? row->japanese : row->english;
  out.nextCaption = japanese ? row->nextJapanese : row->nextEnglish;
  out.backEnabled = row->backEnabled;
  return out;
}

std::string InformationText(int page, int language, bool backupTicked) {
  if (!IsStepPage(page)) return std::string(PageTextRow(page, language).infoText);
  const bool japanese = language == Japanese;
  std::string text;
  for (const StepLine& line : kStepLines) {
    if (line.page == BackingUp && !backupTicked) continue;
    text += line.page == page ? kStepMarkerCurrent : kStepMarkerIdle;
    text += japanese ? line.japanese : line.english;
  }
  return text;
}

std::string_view PageName(int page) {
  switch (page) {
    case NoPage: return "NoPage";
    case Searching: return "Searching";
    case SelectDriveAndFile: return "SelectDriveAndFile";
    case ReadyToStart: return "ReadyToStart";
    case BackingUp: return "BackingUp";
    case Transferring: return "Transferring";
    case CheckingSum: return "CheckingSum";
    case Erasing: return "Erasing";
    case Writing: return "Writing";
    case CheckingSumAgain: return "CheckingSumAgain";
    case Completed: return "Completed";
    case Failed: return "Failed";
    case TypeCodeMismatch: return "TypeCodeMismatch";
    case UpdateModeFailed: return "UpdateModeFailed";
    case NoBackupFileName: return "NoBackupFileName";
    case BackupFailed: return "BackupFailed";
    default: return "Unknown";
  }
}

}  // namespace orvel
