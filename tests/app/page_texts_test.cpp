#include "update/page_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace orvel {
namespace {

TEST(PageTexts, CaptionsInBothLanguages) {
  const CaptionTexts& en = Captions(English);
  EXPECT_EQ(en.driveCaption, "Target Drive");
  EXPECT_EQ(en.backupCheck, "Back Up current F/W");
  EXPECT_EQ(en.nextButton, "Next >");
  EXPECT_EQ(en.backButton, "< Back");
  const CaptionTexts& ja = Captions(Japanese);
  EXPECT_EQ(ja.progressCaption, "進行状況");
  EXPECT_EQ(ja.closeButton, "クローズ");
  EXPECT_EQ(ja.backButton, "< 戻る");
  // Anything but Japanese reads as English.
  EXPECT_EQ(Captions(7).closeButton, "Close");
}

TEST(PageTexts, RowsCarryTextCaptionAndBackState) {
  PageRow ready = PageTextRow(ReadyToStart, English);
  EXPECT_TRUE(ready.present);
  EXPECT_EQ(ready.infoText, " Push Start button and Start to update.");
  EXPECT_EQ(ready.nextCaption, "Start");
  EXPECT_TRUE(ready.backEnabled);
  EXPECT_EQ(PageTextRow(ReadyToStart, Japanese).nextCaption, "スタート");

  PageRow done = PageTextRow(Completed, English);
  EXPECT_EQ(done.infoText,
            " Completed to update F/W of Drive.\r\n\r\n *** OK ** OK ** OK *** \r\n\r\n Turn OFF PC & Drive and Reboot them.");
  EXPECT_FALSE(done.backEnabled);
  PageRow failedJa = PageTextRow(Failed, Japanese);
  EXPECT_EQ(failedJa.infoText, "アップデートを失敗しました。\r\n\r\n*** NG ** NG ** NG ***\r\n\r\nPCの電源を切り再起動してください。");
  EXPECT_EQ(failedJa.nextCaption, "次へ >");
  EXPECT_TRUE(failedJa.backEnabled);

  EXPECT_EQ(PageTextRow(NoBackupFileName, English).infoText, " Fail to make Back Up File.\r\n\r\n Rename Before Back Up File.");
  EXPECT_EQ(PageTextRow(Searching, English).nextCaption, "");
  EXPECT_FALSE(PageTextRow(Searching, English).backEnabled);
}

TEST(PageTexts, PagesWithoutRowChangeNothing) {
  for (int page : {int{NoPage}, int{BackupFailed}, 2, 17, -1}) {
    PageRow row = PageTextRow(page, English);
    EXPECT_FALSE(row.present) << page;
    EXPECT_TRUE(row.infoText.empty()) << page;
    EXPECT_FALSE(row.backEnabled) << page;
    EXPECT_EQ(InformationText(page, Japanese, true), "") << page;
  }
  // Step pages have a row but keep the Next caption and disable Back.
  PageRow step = PageTextRow(Writing, English);
  EXPECT_TRUE(step.present);
  EXPECT_TRUE(step.nextCaption.empty());
  EXPECT_FALSE(step.backEnabled);
}

TEST(PageTexts, StepListMarksTheCurrentLine) {
  EXPECT_EQ(InformationText(CheckingSum, English, false),
            "    Transferring Writing Data \r\n"
            ">> Confirming SUM Code \r\n"
            "    Erasing Flash ROM \r\n"
            "    Writing Data into Flash ROM \r\n"
            "    Confirming SUM Code \r\n");
  EXPECT_EQ(InformationText(CheckingSum, English, true),
            "    Backing Up F/W \r\n"
            "    Transferring Writing Data \r\n"
            ">> Confirming SUM Code \r\n"
            "    Erasing Flash ROM \r\n"
            "    Writing Data into Flash ROM \r\n"
            "    Confirming SUM Code \r\n");
  // The final sum check marks the last line, not the earlier one of the same text.
  EXPECT_EQ(InformationText(CheckingSumAgain, Japanese, false),
            "    書込データを転送中\r\n"
            "    サムコードを確認中\r\n"
            "    フラッシュROMを消去中\r\n"
            "    フラッシュROMへ書込中\r\n"
            ">> サムコードを確認中\r\n");
  // Backing up without the box ticked leaves every line unmarked.
  std::string backing = InformationText(BackingUp, English, false);
  EXPECT_EQ(backing.find(">> "), std::string::npos);
  EXPECT_EQ(InformationText(BackingUp, English, true).rfind(">> Backing Up F/W \r\n", 0), 0u);
}

TEST(PageTexts, PageNames) {
  EXPECT_EQ(PageName(Completed), "Completed");
  EXPECT_EQ(PageName(TypeCodeMismatch), "TypeCodeMismatch");
  EXPECT_EQ(PageName(99), "Unknown");
}

}  // namespace
}  // namespace orvel
