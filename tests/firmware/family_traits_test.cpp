#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "firmware/catalogue.h"
#include "firmware/family_traits.h"

namespace orvel {
namespace {

constexpr std::uint32_t kBlock = 16384;  // the transport's data buffer and a firmware block
constexpr int kBarMax = 120;

struct Expected {
  int family;
  std::uint32_t imageSize;
  FileForm form;
  const char* extension;
  int fullChunks;
  int progressStep;
  std::uint32_t backupBlocks;
  int erasingPosition;
};
const Expected kExpected[] = {
    {0, 0x80000, FileForm::Plain, ".BIN", 34, 2, 32, 36},       {1, 0x80000, FileForm::Plain, ".BIN", 34, 2, 32, 36},
    {2, 0x80000, FileForm::Plain, ".BIN", 34, 2, 32, 36},       {3, 0x80000, FileForm::Plain, ".BIN", 34, 2, 32, 36},
    {4, 0x100000, FileForm::Plain, ".BIN", 341, 1, 64, 25},     {5, 0x100000, FileForm::ByteKeyed, ".KVF", 341, 1, 64, 25},
    {6, 0x100000, FileForm::Packed, ".KVF", 341, 1, 64, 25},    {7, 0x100000, FileForm::Packed, ".KVF", 341, 1, 64, 25},
    {8, 0x100000, FileForm::Packed, ".KVF", 341, 1, 64, 25},
};

TEST(FamilyTraits, EachFamilysRowHoldsItsFacts) {
  ASSERT_EQ(std::size(kExpected), static_cast<std::size_t>(kFamilyCount));
  for (const Expected& e : kExpected) {
    const FamilyTraits& t = TraitsOf(e.family);
    EXPECT_EQ(t.family, e.family);
    EXPECT_EQ(t.imageSize, e.imageSize) << e.family;
    EXPECT_EQ(PlainImageSize(e.family), e.imageSize) << e.family;
    EXPECT_EQ(t.form, e.form) << e.family;
    EXPECT_EQ(FormOfFamily(e.family), e.form) << e.family;
    EXPECT_STREQ(t.extension, e.extension) << e.family;
    EXPECT_EQ(t.transfer.fullChunks, e.fullChunks) << e.family;
    EXPECT_EQ(t.progressStep, e.progressStep) << e.family;
    EXPECT_EQ(t.backupBlocks, e.backupBlocks) << e.family;
    EXPECT_EQ(t.phasePositions[1], e.erasingPosition) << e.family;
    // Only a family-5 code found without the raise bars the loader area.
    EXPECT_EQ(t.barLoaderWhenNamedDirectly, e.family == 5) << e.family;
  }
}

TEST(FamilyTraits, GeometryAndProgressFitTheImageAndTheBar) {
  for (int family = 0; family < kFamilyCount; ++family) {
    const FamilyTraits& t = TraitsOf(family);
    const TransferGeometry& g = t.transfer;
    // Every byte of the image goes exactly once, and no chunk outgrows the data buffer.
    EXPECT_EQ(static_cast<std::uint32_t>(g.fullChunks) * g.chunkSize, g.lastChunkOffset) << family;
    EXPECT_EQ(g.lastChunkOffset + g.lastChunkSize, t.imageSize) << family;
    EXPECT_LE(g.chunkSize, kBlock) << family;
    EXPECT_LE(g.lastChunkSize, kBlock) << family;
    // The backup reads the whole image and always ends the bar at 64.
    EXPECT_EQ(t.backupBlocks * kBlock, t.imageSize) << family;
    EXPECT_EQ(static_cast<int>(t.backupBlocks) * t.progressStep, 64) << family;
    // The phases move the bar forward, inside its range.
    EXPECT_TRUE(std::is_sorted(t.phasePositions.begin(), t.phasePositions.end())) << family;
    EXPECT_GT(t.phasePositions.front(), 0) << family;
    EXPECT_LT(t.phasePositions.back(), kBarMax) << family;
  }
}

TEST(FamilyTraits, AgreeWithTheCatalogue) {
  for (int family = 0; family < kFamilyCount; ++family) {
    const FamilyTraits& t = TraitsOf(family);
    const int row = FindFamilyRow(family);
    ASSERT_GE(row, 0) << "every family has type codes: " << family;
    // An encoded form exactly where the catalogue keeps an unkeyed block for it.
    EXPECT_EQ(t.form != FileForm::Plain, FindIdBlockOffset(family) >= 0) << family;
    EXPECT_EQ(TypeCodeRow(row).encoded == 1, std::strcmp(t.extension, ".KVF") == 0) << family;
    EXPECT_LE(TypeCodeRow(row).idOffset + kIdBlockSize, t.imageSize) << family;
    // In loader mode the type code stands where the family's image keeps its block.
    for (int i = 0; LoaderRow(i).family != kEndFamily; ++i) {
      if (LoaderRow(i).family != family) continue;
      EXPECT_EQ(LoaderRow(i).idAddress + t.loaderCodeOffset, TypeCodeRow(row).idOffset) << family;
      EXPECT_LE(t.loaderCodeOffset + kTypeCodeLength, kBlock) << family;
    }
  }
  EXPECT_EQ(FindFamilyRow(5), 7);
  EXPECT_EQ(FindFamilyRow(kEndFamily), -1);
  EXPECT_EQ(FindFamilyRow(9), -1);
}

TEST(FamilyTraits, AFamilyOutsideTheTableIsAPlainFullImage) {
  for (int family : {-1, 9, 100}) {
    const FamilyTraits& t = TraitsOf(family);
    EXPECT_EQ(t.family, kEndFamily) << family;
    EXPECT_EQ(t.form, FileForm::Plain) << family;
    EXPECT_STREQ(t.extension, ".BIN") << family;
    EXPECT_EQ(t.imageSize, kFullImageSize) << family;
    EXPECT_FALSE(t.barLoaderWhenNamedDirectly) << family;
  }
}

}  // namespace
}  // namespace orvel
