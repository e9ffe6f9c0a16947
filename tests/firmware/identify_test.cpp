#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/identify.h"
#include "firmware/sample_firmware.h"
#include "tests/support/memory_files.h"

namespace orvel {
namespace {

struct Expected {
  int family;
  const char* code;
  int row;
  FileForm form;
};
const Expected kFamilies[] = {
    {0, "QDX", 0, FileForm::Plain},       {0, "Uv-", 1, FileForm::Plain},       {1, "QDX", 2, FileForm::Plain},
    {3, "ZEB", 3, FileForm::Plain},       {2, "QDX4", 4, FileForm::Plain},      {4, "QDX51", 6, FileForm::Plain},
    {5, "QDX59", 14, FileForm::ByteKeyed}, {6, "QDX70", 15, FileForm::Packed},  {6, "QDX79", 24, FileForm::Packed},
    {7, "QDX65", 30, FileForm::Packed},   {8, "KZTR0", 35, FileForm::Packed},   {8, "KZTR9", 44, FileForm::Packed},
};

std::string Code(const TypeCode& c) { return std::string(c.data(), kTypeCodeLength); }

TEST(IdentifyFile, EveryFamilysFileFindsItsRow) {
  testing::MemoryFileSystem mem;
  for (const Expected& e : kFamilies) {
    mem.files["fw"] = MakeFirmwareFile(e.family, e.code, "Release 2.10 for testing", 21);
    const SourceIdentification id = IdentifyFile(mem, "fw");
    ASSERT_EQ(id.outcome, IdentifyOutcome::Identified) << e.code;
    EXPECT_EQ(id.entryIndex, e.row) << e.code;
    EXPECT_EQ(id.family, e.family) << e.code;
    EXPECT_EQ(id.form, e.form) << e.code;
    std::string code = e.code;
    code.resize(6, '0');
    EXPECT_EQ(Code(id.typeCode), code);
    EXPECT_EQ(id.typeCode[6], '\0');
    EXPECT_EQ(id.description, "Release 2.10 for testing      ");
    EXPECT_STREQ(id.typePassKey.data(), "Release ");
    EXPECT_EQ(mem.openHandles, 0);
    // The plain image, every family compared as stored, finds the same row.
    EXPECT_EQ(FindRowForPlainImage(MakePlainImage(e.family, e.code, "x", 21)), e.row) << e.code;
  }
}

TEST(IdentifyFile, ThreeCharacterCodeMatchesWhateverFollows) {
  testing::MemoryFileSystem mem;
  std::vector<std::uint8_t> file(64, 0);
  std::memcpy(file.data() + 4, "QDX\x01Z9", 6);
  mem.files["a.bin"] = file;
  const auto id = IdentifyFile(mem, "a.bin");
  ASSERT_EQ(id.outcome, IdentifyOutcome::Identified);
  EXPECT_EQ(id.entryIndex, 0);
  EXPECT_EQ(Code(id.typeCode), std::string("QDX\x01Z9", 6));
}

TEST(IdentifyFile, DescriptionShowsBlanksForControlAndHighBytes) {
  testing::MemoryFileSystem mem;
  auto plain = MakePlainImage(4, "QDX50", "", 1);
  const std::uint8_t text[30] = {'A', 0x01, 'B', 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 'C', 0x00, 'D'};
  std::memcpy(plain.data() + 0x8004 + 6, text, sizeof text);
  mem.files["x.bin"] = plain;
  const auto id = IdentifyFile(mem, "x.bin");
  ASSERT_EQ(id.outcome, IdentifyOutcome::Identified);
  EXPECT_EQ(id.description, std::string("A B  ~\x7F  C D") + std::string(18, ' '));
  EXPECT_EQ(std::string(id.typePassKey.data()), "A B  ~\x7F ");  // 0x7F itself is shown

  EXPECT_EQ(BuildDescription({}), std::string(30, ' '));
}

TEST(IdentifyFile, ShortFilesMatchOnlyWhatIsWhollyPresent) {
  testing::MemoryFileSystem mem;
  mem.files["cut.bin"] = {0, 0, 0, 0, 'Q', 'D', 'X', '9', 'H', 'e', 'l', 'l', 'o'};
  auto id = IdentifyFile(mem, "cut.bin");
  ASSERT_EQ(id.outcome, IdentifyOutcome::Identified);
  EXPECT_EQ(std::string(id.typeCode.data(), 6), std::string("QDX9He", 6));
  EXPECT_EQ(id.description, "llo" + std::string(27, ' '));

  // Too short for any row as stored, and for the packed form.
  mem.files["cut.bin"] = {0, 0, 0, 0, 'Q', 'D'};
  EXPECT_EQ(IdentifyFile(mem, "cut.bin").outcome, IdentifyOutcome::NotDecodable);
  mem.files["empty.kvf"] = {};
  EXPECT_EQ(IdentifyFile(mem, "empty.kvf").outcome, IdentifyOutcome::Empty);
  EXPECT_EQ(mem.openHandles, 0);
  // A packed family's truncated file neither decodes nor matches.
  auto packed = MakeFirmwareFile(7, "QDX60", "x", 3);
  packed.resize(packed.size() - 1024);
  mem.files["cut.kvf"] = packed;
  EXPECT_EQ(IdentifyFile(mem, "cut.kvf").outcome, IdentifyOutcome::NotDecodable);
  // One that decodes but carries no code of the catalogue has no row.
  mem.files["alien.kvf"] = MakeFirmwareFile(6, "ABCDE", "x", 3);
  EXPECT_EQ(IdentifyFile(mem, "alien.kvf").outcome, IdentifyOutcome::NoRow);
  // Bytes already read are judged the same way.
  EXPECT_EQ(IdentifyFileBytes(packed).outcome, IdentifyOutcome::NotDecodable);
  EXPECT_EQ(IdentifyFileBytes(MakeFirmwareFile(8, "KZTR2", "x", 3)).entryIndex, 37);
}

TEST(IdentifyFile, PackedFamiliesAreSeenOnlyThroughTheDecoder) {
  testing::MemoryFileSystem mem;
  mem.files["plain.bin"] = MakePlainImage(6, "QDX74", "not packed", 8);
  EXPECT_EQ(IdentifyFile(mem, "plain.bin").outcome, IdentifyOutcome::NotDecodable);
  // A byte-keyed family-5 file is identified as stored: its block is not keyed.
  mem.files["five.kvf"] = MakeFirmwareFile(5, "QDX53", "keyed", 8);
  const auto id = IdentifyFile(mem, "five.kvf");
  ASSERT_EQ(id.outcome, IdentifyOutcome::Identified);
  EXPECT_EQ(id.entryIndex, 8);
  // The file is read once, whichever rows are tried.
  mem.files["eight.kvf"] = MakeFirmwareFile(8, "KZTR9", "last row", 8);
  mem.reads = 0;
  EXPECT_EQ(IdentifyFile(mem, "eight.kvf").entryIndex, 44);
  EXPECT_EQ(mem.reads, 1);
}

TEST(IdentifyFile, UnopenableAndOversizedFiles) {
  testing::MemoryFileSystem mem;
  auto id = IdentifyFile(mem, "missing.kvf");
  EXPECT_EQ(id.outcome, IdentifyOutcome::DidNotOpen);
  EXPECT_EQ(id.openError, FileError::NotFound);

  auto big = MakePlainImage(4, "QDX50", "too big", 1);
  big.push_back(0);
  mem.files["big.bin"] = big;
  EXPECT_EQ(IdentifyFile(mem, "big.bin").outcome, IdentifyOutcome::TooLarge);
  EXPECT_EQ(mem.openHandles, 0);
  big.pop_back();
  mem.files["big.bin"] = big;
  EXPECT_EQ(IdentifyFile(mem, "big.bin").outcome, IdentifyOutcome::Identified);

  // A file whose length cannot be read is still read as far as it goes.
  mem.failLength = true;
  EXPECT_EQ(IdentifyFile(mem, "big.bin").entryIndex, 5);
}

TEST(FindRowForPlainImage, NothingToCompareInAnEmptyImage) { EXPECT_EQ(FindRowForPlainImage({}), -1); }

}  // namespace
}  // namespace orvel
