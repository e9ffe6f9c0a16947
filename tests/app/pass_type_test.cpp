#include <filesystem>

#include "tests/app/app_fixture.h"

namespace orvel::testing {
namespace {

// Type codes that agree with cdrom1's "QDX510" in the first four characters only.
constexpr const char* kNearFile = "CW5160X.BIN";
constexpr const char* kNearDescription = "Override CW-5160 Ver 2.16";
constexpr const char* kOtherNearFile = "CW5160Y.BIN";
constexpr const char* kOtherNearDescription = "Another  CW-5160 Ver 2.17";
constexpr const char* kRightEntry = "Override";
constexpr int kNearFamily = 4;
constexpr std::uint32_t kNearSeed = 0x5160216;
constexpr std::uint32_t kOtherNearSeed = 0x5160217;

class PassTypeTest : public AppTest {
 protected:
  void StartOnNearFile() {
    WriteSamples();
    WriteFile(kNearFile, MakeFirmwareFile(kNearFamily, "QDX519", kNearDescription, kNearSeed));
    WriteFile(kOtherNearFile, MakeFirmwareFile(kNearFamily, "QDX518", kOtherNearDescription, kOtherNearSeed));
    MakeMachine("default");
    Start();
    Choose(1, kNearFile);
    // Nothing shows the box in the programs; a test does, to click it.
    W().Show(kIdPassTypeCheck, true);
  }
  // Ticks "Pass Type" and answers the prompt with `entry` and Enter.
  void TickWith(const std::string& entry) {
    ws_.QueueModalScript(kPasswordDialogId, [entry](ui::HeadlessWindow& p) {
      EXPECT_TRUE(p.Type(kIdPasswordEdit, entry));
      EXPECT_TRUE(p.PressEnter());
    });
    ASSERT_TRUE(W().Click(kIdPassTypeCheck));
  }
  int Ticked() { return W().Check(kIdPassTypeCheck); }
};

TEST_F(PassTypeTest, PromptIsAMaskedSixteenCharacterField) {
  StartOnNearFile();
  bool ran = false;
  ws_.QueueModalScript(kPasswordDialogId, [&](ui::HeadlessWindow& p) {
    ran = true;
    EXPECT_EQ(p.Caption(), "Password");
    EXPECT_EQ(p.Template().cx, 75);
    EXPECT_EQ(p.Template().cy, 33);
    EXPECT_EQ(p.Focus(), kIdPasswordEdit);
    EXPECT_EQ(p.TextLimit(kIdPasswordEdit), 16);
    EXPECT_EQ(p.Text(kIdPasswordEdit), "");
    EXPECT_TRUE(p.Type(kIdPasswordEdit, "Override-and-much-more"));
    EXPECT_EQ(p.Text(kIdPasswordEdit), "Override-and-muc");
    EXPECT_EQ(p.DisplayedText(kIdPasswordEdit), std::string(16, '*'));
    EXPECT_TRUE(p.PressEnter());
  });
  ASSERT_TRUE(W().Click(kIdPassTypeCheck));
  EXPECT_TRUE(ran);
  EXPECT_EQ(dlg_->passwordEntry, "Override-and-muc");
  EXPECT_EQ(Ticked(), 1);  // first eight right, the rest plays no part
  EXPECT_EQ(ws_.Window(kPasswordDialogId), nullptr);  // the prompt is gone
}

TEST_F(PassTypeTest, EscapeLeavesAnEmptyEntryAndClearsTheBox) {
  StartOnNearFile();
  ws_.QueueModalScript(kPasswordDialogId, [](ui::HeadlessWindow& p) {
    EXPECT_TRUE(p.Type(kIdPasswordEdit, kRightEntry));
    EXPECT_TRUE(p.PressEscape());
  });
  ASSERT_TRUE(W().Click(kIdPassTypeCheck));
  EXPECT_EQ(dlg_->passwordEntry, "");
  EXPECT_EQ(Ticked(), 0);
}

TEST_F(PassTypeTest, OnlyTheFirstEightCharactersExactlyKeepTheBoxTicked) {
  StartOnNearFile();
  struct Case {
    const char* entry;
    int ticked;
  };
  for (const Case& c : {Case{"Override", 1}, Case{"override", 0}, Case{"OVERRIDE", 0}, Case{"OverrideXYZW", 1},
                        Case{"Overrid", 0}, Case{"", 0}}) {
    W().SetCheck(kIdPassTypeCheck, 0);
    TickWith(c.entry);
    EXPECT_EQ(Ticked(), c.ticked) << c.entry;
    EXPECT_EQ(dlg_->passwordEntry, c.entry);
  }
}

TEST_F(PassTypeTest, ClearingTheBoxAsksNothingAndKeepsTheEntry) {
  StartOnNearFile();
  TickWith(kRightEntry);
  ASSERT_EQ(Ticked(), 1);
  const int prompts = ws_.ModalRunCount(kPasswordDialogId);
  ASSERT_TRUE(W().Click(kIdPassTypeCheck));
  EXPECT_EQ(Ticked(), 0);
  EXPECT_EQ(ws_.ModalRunCount(kPasswordDialogId), prompts);
  EXPECT_EQ(dlg_->passwordEntry, kRightEntry);
}

TEST_F(PassTypeTest, AFileThatDoesNotOpenMatchesNoEntry) {
  StartOnNearFile();
  // Listed at start-up, gone by the time it is chosen.
  std::filesystem::remove(std::filesystem::path(dir_) / kOtherNearFile);
  ASSERT_TRUE(W().SelectItem(kIdSourceList, kOtherNearFile));
  EXPECT_EQ(W().Text(kIdSourceDescription), "");
  EXPECT_EQ(dlg_->Procedure().typePassKey[0], '\0');
  TickWith(kRightEntry);
  EXPECT_EQ(Ticked(), 0);
  TickWith("");
  EXPECT_EQ(Ticked(), 0);
}

TEST_F(PassTypeTest, RightEntryLetsANearTypeCodeThrough) {
  StartOnNearFile();
  TickWith(kRightEntry);
  ASSERT_EQ(Ticked(), 1);
  NextAndStart();
  EXPECT_EQ(dlg_->page, Completed);
  EXPECT_EQ(FlashOf(1), MakePlainImage(kNearFamily, "QDX519", kNearDescription, kNearSeed));
}

TEST_F(PassTypeTest, WithoutTheOptionTheNearTypeCodeIsRefused) {
  StartOnNearFile();
  const std::vector<std::uint8_t> installed = FlashOf(1);
  NextAndStart();
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
  EXPECT_EQ(machine_->GetTrace().Count(0xE2), 0u);
  EXPECT_EQ(FlashOf(1), installed);
}

TEST_F(PassTypeTest, AnEntryDoesNotCarryOverToAnotherFile) {
  StartOnNearFile();
  TickWith(kRightEntry);
  ASSERT_EQ(Ticked(), 1);
  ASSERT_TRUE(W().SelectItem(kIdSourceList, kOtherNearFile));
  EXPECT_EQ(std::string(dlg_->Procedure().typePassKey.data()), "Another ");
  NextAndStart();
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
}

TEST_F(PassTypeTest, BackClearsAndHidesTheOptionButKeepsTheEntry) {
  StartOnNearFile();
  TickWith(kRightEntry);
  W().Show(kIdUpdateLoaderCheck, true);
  ASSERT_TRUE(W().Click(kIdUpdateLoaderCheck));
  ASSERT_TRUE(W().Click(kIdNextButton));
  ASSERT_TRUE(W().Click(kIdBackButton));
  EXPECT_EQ(dlg_->page, SelectDriveAndFile);
  EXPECT_EQ(Ticked(), 0);
  // Back clears the box but not the member, which the refresh pushes back into the hidden box.
  EXPECT_EQ(dlg_->updateLoader, 1);
  EXPECT_EQ(W().Check(kIdUpdateLoaderCheck), 1);
  EXPECT_FALSE(W().IsVisible(kIdPassTypeCheck));
  EXPECT_FALSE(W().IsVisible(kIdUpdateLoaderCheck));
  EXPECT_EQ(dlg_->passwordEntry, kRightEntry);
  // The option being off again, the near code is refused.
  NextAndStart();
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
}

}  // namespace
}  // namespace orvel::testing
