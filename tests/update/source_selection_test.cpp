// What identifying the selected file does to the members and the controls.
#include <gtest/gtest.h>

#include "tests/update/update_harness.h"

namespace orvel::testing {
namespace {

std::string Code(const TypeCode& c) { return std::string(c.data(), kTypeCodeLength); }

TEST(SourceSelection, IdentifiedFileSetsMembersAndChoosesTheBackupName) {
  Rig rig(6, "QDX70");
  rig.host.backupState = 1;
  const std::string name = rig.SelectNewerFile(6, "QDX73");
  const UpdateProcedure& p = *rig.proc;
  EXPECT_EQ(Code(p.sourceTypeCode), "QDX730");
  EXPECT_EQ(p.sourceDescription, "Newer firmware                ");
  EXPECT_EQ(std::string(p.typePassKey.data()), "Newer fi");
  EXPECT_EQ(p.sourceFamily, 6);
  EXPECT_EQ(TypeCodeRow(p.sourceEntryIndex).family, 6);
  EXPECT_EQ(p.backupFileName, "CDRWFW00.KVF");
  EXPECT_TRUE(p.selectionIdentified);
  EXPECT_EQ(p.identifiedName, name);
  EXPECT_GE(rig.host.pushes, 1);
}

TEST(SourceSelection, UnreadableNameEmptiesOnlyDescriptionAndPassKey) {
  Rig rig(4, "QDX50");
  rig.host.backupState = 1;
  rig.SelectNewerFile(4, "QDX51");
  const int pushes = rig.host.pushes;
  rig.Select("GONE.BIN");
  const UpdateProcedure& p = *rig.proc;
  EXPECT_EQ(p.sourceDescription, "");
  EXPECT_EQ(p.typePassKey[0], '\0');
  EXPECT_EQ(Code(p.sourceTypeCode), "QDX510");
  EXPECT_EQ(p.backupFileName, "CDRWFW00.BIN");
  EXPECT_TRUE(rig.host.backupStatesSet.empty());
  EXPECT_FALSE(p.selectionIdentified);
  EXPECT_EQ(rig.host.pushes, pushes + 1);
}

TEST(SourceSelection, FileOfNoRowEmptiesPanesAndClearsTheBackupBox) {
  for (const std::size_t length : {std::size_t{0}, std::size_t{0x80000}}) {
    Rig rig(4, "QDX50");
    rig.host.backupState = 1;
    rig.SelectNewerFile(4, "QDX51");
    rig.WriteFile("PLAIN.KVF", std::vector<std::uint8_t>(length, 0x41));
    rig.Select("PLAIN.KVF");
    EXPECT_EQ(rig.proc->sourceDescription, "");
    EXPECT_EQ(rig.proc->backupFileName, "");
    EXPECT_EQ(rig.host.backupStatesSet, std::vector<int>{0});
    EXPECT_EQ(Code(rig.proc->sourceTypeCode), "QDX510");
    EXPECT_FALSE(rig.proc->selectionIdentified);
  }
}

TEST(SourceSelection, EmptySelectionChangesNothing) {
  Rig rig(4, "QDX50");
  rig.SelectNewerFile(4, "QDX51");
  const int pushes = rig.host.pushes;
  rig.Select("");
  EXPECT_EQ(rig.host.pushes, pushes);
  EXPECT_TRUE(rig.proc->selectionIdentified);
  EXPECT_FALSE(rig.proc->sourceDescription.empty());
}

}  // namespace
}  // namespace orvel::testing
