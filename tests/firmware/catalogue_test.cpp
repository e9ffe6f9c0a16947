#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/catalogue.h"

namespace orvel {
namespace {

std::array<std::uint8_t, kProductIdLength> Id(std::string_view text) {
  std::array<std::uint8_t, kProductIdLength> id{};
  std::memcpy(id.data(), text.data(), std::min(text.size(), id.size()));
  return id;
}

std::array<std::uint8_t, 8> Block(std::string_view text) {
  std::array<std::uint8_t, 8> b{};
  std::memcpy(b.data(), text.data(), std::min(text.size(), b.size()));
  return b;
}

std::string RowText(const ProductIdRow& row) { return std::string(row.data(), kProductIdLength); }

TEST(ProductIdTable, HoldsEightyFourDriveRowsAndTheTenLoaders) {
  std::multiset<std::string> seen;
  for (std::size_t i = 0; i < kProductIdRows; ++i) {
    const ProductIdRow& row = ProductIdTable[i];
    EXPECT_EQ(row[kProductIdLength], '\0') << i;
    for (std::size_t j = 0; j < kProductIdLength; ++j) {
      EXPECT_GE(row[j], 0x20) << "row " << i;
      EXPECT_LE(row[j], 0x7E) << "row " << i;
    }
    seen.insert(RowText(row));
  }
  for (char c : ProductIdTable.back()) EXPECT_EQ(c, '\0');

  int duplicated = 0;
  for (const std::string& id : std::set<std::string>(seen.begin(), seen.end())) {
    if (seen.count(id) > 1) ++duplicated;
    EXPECT_LE(seen.count(id), 2u) << id;
  }
  EXPECT_EQ(duplicated, 3);
  // The loader identifications close the table, spelled as the loaders report them.
  for (std::size_t i = 0; i < kLoaderRows; ++i) {
    EXPECT_EQ(RowText(ProductIdTable[kProductIdRows - kLoaderRows + i]), std::string(LoaderTable[i].loaderId));
  }
}

TEST(ProductIdTable, MatchesExactlyCaseAndBlanksCounting) {
  const std::string first = RowText(ProductIdTable[0]);
  EXPECT_TRUE(FindProductId(Id(first)));
  EXPECT_TRUE(FindProductId(Id("Boot Monitor   5")));
  EXPECT_TRUE(FindProductId(Id("RomKeeperStage1 ")));
  EXPECT_FALSE(FindProductId(Id("Boot Monitor  5 ")));
  EXPECT_FALSE(FindProductId(Id("boot monitor   5")));
  EXPECT_FALSE(FindProductId(Id("RomKeeperStage1")));  // NUL where the blank belongs

  std::string lower = first;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_FALSE(FindProductId(Id(lower)));
  std::string shifted = " " + first.substr(0, kProductIdLength - 1);
  EXPECT_FALSE(FindProductId(Id(shifted)));
}

TEST(ProductIdTable, SearchStopsAtTheNulRow) {
  std::array<ProductIdRow, 3> table{};
  std::memcpy(table[0].data(), "ABCDEFGHIJKLMNOP", kProductIdLength);
  std::memcpy(table[2].data(), "QRSTUVWXYZ012345", kProductIdLength);  // after the end row
  EXPECT_TRUE(FindProductIdIn(table, Id("ABCDEFGHIJKLMNOP")));
  EXPECT_FALSE(FindProductIdIn(table, Id("QRSTUVWXYZ012345")));

  std::array<ProductIdRow, 1> empty{};
  EXPECT_FALSE(FindProductIdIn(empty, Id("ABCDEFGHIJKLMNOP")));
  EXPECT_FALSE(FindProductIdIn(std::span<const ProductIdRow>(), Id("ABCDEFGHIJKLMNOP")));
}

TEST(TypeCodeTable, RowsInLookupOrder) {
  struct Expected {
    int family;
    const char* code;
    std::uint32_t idOffset;
    int encoded;
  };
  const Expected head[] = {{0, "QDX", 0x4, 0},     {0, "Uv-", 0x4, 0},       {1, "QDX", 0x7FF04, 0},
                           {3, "ZEB", 0x20004, 0}, {2, "QDX4", 0x8004, 0},   {4, "QDX50", 0x8004, 0},
                           {4, "QDX51", 0x8004, 0}};
  for (std::size_t i = 0; i < std::size(head); ++i) {
    EXPECT_EQ(TypeCodeTable[i].family, head[i].family) << i;
    EXPECT_STREQ(TypeCodeTable[i].typeCode, head[i].code) << i;
    EXPECT_EQ(TypeCodeTable[i].idOffset, head[i].idOffset) << i;
    EXPECT_EQ(TypeCodeTable[i].encoded, head[i].encoded) << i;
  }
  struct Run {
    int family;
    const char* prefix;
    char firstDigit;
    int count;
  };
  const Run runs[] = {{5, "QDX5", '2', 8}, {6, "QDX7", '0', 10}, {7, "QDX6", '0', 10}, {8, "KZTR", '0', 10}};
  std::size_t row = std::size(head);
  for (const Run& run : runs) {
    for (int k = 0; k < run.count; ++k, ++row) {
      const std::string code = std::string(run.prefix) + static_cast<char>(run.firstDigit + k);
      EXPECT_EQ(TypeCodeTable[row].family, run.family) << row;
      EXPECT_STREQ(TypeCodeTable[row].typeCode, code.c_str()) << row;
      EXPECT_EQ(TypeCodeTable[row].idOffset, 0x8004u) << row;
      EXPECT_EQ(TypeCodeTable[row].encoded, 1) << row;
    }
  }
  EXPECT_EQ(row, kTypeCodeRows);
  EXPECT_EQ(TypeCodeTable[row].family, kEndFamily);
  EXPECT_EQ(TypeCodeTable[row].typeCode, nullptr);
  EXPECT_EQ(TypeCodeTable[row].encoded, 0);
}

TEST(LoaderTable, LoaderIdentificationsAndAddresses) {
  const LoaderEntry expected[] = {
      {"Boot Monitor   5", 0, 0x4},    {"RomKeeperStage1 ", 0, 0x4},    {"Boot Monitor   6", 2, 0x8004},
      {"Boot Monitor   7", 3, 0x20004}, {"RomKeeperStage2 ", 1, 0x7C004}, {"Boot Monitor   8", 4, 0x8004},
      {"Boot Monitor   9", 5, 0x8004}, {"BootMon-77 Stage", 6, 0x8004}, {"BootMonitorEx 67", 7, 0x8004},
      {"BootMonitorEx 70", 8, 0x8004}};
  for (std::size_t i = 0; i < kLoaderRows; ++i) {
    EXPECT_STREQ(LoaderTable[i].loaderId, expected[i].loaderId);
    EXPECT_EQ(std::strlen(LoaderTable[i].loaderId), kProductIdLength);
    EXPECT_EQ(LoaderTable[i].family, expected[i].family);
    EXPECT_EQ(LoaderTable[i].idAddress, expected[i].idAddress);
    EXPECT_EQ(FindLoaderEntry(Id(expected[i].loaderId)), static_cast<int>(i));
    // No identifier occurs twice: continuing after the match finds nothing.
    EXPECT_EQ(FindLoaderEntry(Id(expected[i].loaderId), static_cast<int>(i)), -1);
  }
  EXPECT_EQ(LoaderTable[kLoaderRows].loaderId, nullptr);
  EXPECT_EQ(LoaderTable[kLoaderRows].family, kEndFamily);
  EXPECT_EQ(LoaderTable[kLoaderRows].idAddress, 0u);

  EXPECT_EQ(FindLoaderEntry(Id("Boot Monitor   7"), 0), 3);
  EXPECT_EQ(FindLoaderEntry(Id("Boot Monitor   7"), 3), -1);
  EXPECT_EQ(FindLoaderEntry(Id("Boot Monitor   7"), 50), -1);
  EXPECT_EQ(FindLoaderEntry(Id("Boot Monitor 5  ")), -1);
  EXPECT_EQ(FindLoaderEntry(Id(RowText(ProductIdTable[0]))), -1);
}

struct FamilyCase {
  const char* start;
  std::size_t length;
  int family;
  int row;
  bool raised;
};

TEST(FindDriveFamily, FirstFourBytesDecideAndTheFifthRaisesFamilyFour) {
  const FamilyCase cases[] = {
      {"QDX\0\0", 5, 0, 0, false},  {"QDX\0" "ABC", 7, 0, 0, false}, {"Uv-\0x", 5, 0, 1, false},
      {"ZEB\0x", 5, 3, 3, false},   {"QDX4A", 5, 2, 4, false},        {"QDX41", 5, 2, 4, false},
      {"QDX50", 5, 4, 5, false},    {"QDX51", 5, 4, 5, false},        {"QDX52", 5, 5, 5, true},
      {"QDX55", 5, 5, 5, true},     {"QDX5A", 5, 5, 5, true},         {"QDX5\xF0", 5, 5, 5, true},
      {"QDX70", 5, 6, 15, false},   {"QDX7Z", 5, 6, 15, false},       {"QDX61", 5, 7, 25, false},
      {"KZTR0", 5, 8, 35, false},   {"KZTRX", 5, 8, 35, false},
  };
  for (const FamilyCase& c : cases) {
    const auto match = FindDriveFamily(std::span(reinterpret_cast<const std::uint8_t*>(c.start), c.length));
    ASSERT_TRUE(match.has_value()) << c.start;
    EXPECT_EQ(match->family, c.family) << c.start;
    EXPECT_EQ(match->rowIndex, c.row) << c.start;
    EXPECT_EQ(match->raised, c.raised) << c.start;
  }
}

TEST(FindDriveFamily, NoRowForOtherStartsOrShortBlocks) {
  EXPECT_FALSE(FindDriveFamily(Block("QDXA0")).has_value());  // three-letter row wants a NUL next
  EXPECT_FALSE(FindDriveFamily(Block("QDX ")).has_value());
  EXPECT_FALSE(FindDriveFamily(Block("qdx4")).has_value());
  EXPECT_FALSE(FindDriveFamily(Block("ZEBRA")).has_value());
  EXPECT_FALSE(FindDriveFamily(Block("")).has_value());
  EXPECT_FALSE(FindDriveFamily(Block("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF")).has_value());
  const auto b = Block("QDX55");
  EXPECT_FALSE(FindDriveFamily(std::span(b).first(4)).has_value());
  // With this table family 1 never comes from the lookup: its code stands after family 0's.
  for (const char* start : {"QDX\0\0", "QDX\0\x7F"}) {
    const auto match = FindDriveFamily(std::span(reinterpret_cast<const std::uint8_t*>(start), 5));
    ASSERT_TRUE(match);
    EXPECT_NE(match->family, 1);
  }
}

// A loader whose family keeps its code further into the block: only a code of
// that family, standing there, names the drive; every other loader and code gives nothing.
TEST(FindLoaderFamilyCode, OnlyTheFamilyOneLoaderNamesADriveByTheCodeFurtherIn) {
  constexpr std::size_t kBlockSize = 0x4000;
  constexpr std::size_t kFurtherIn = 0x3F00;
  struct Case {
    int loaderFamily;
    std::string_view code;  // written at 0x3F00
    std::size_t blockSize;
    int row;                // -1: no match
  };
  const Case cases[] = {
      {1, std::string_view("QDX\0\0\0", 6), kBlockSize, 2},
      {1, "QDX1A0", kBlockSize, 2},       // all of the row's characters, as a file's code
      {1, "QDX52 ", kBlockSize, 2},       // a family-1 code whatever follows it
      {1, "qdx\0\0\0", kBlockSize, -1},
      {1, "ZEB\0\0\0", kBlockSize, -1},  // another family's code does not make family 1
      {1, "KZTR10", kBlockSize, -1},
      {1, std::string_view("\xFF\xFF\xFF\xFF\xFF\xFF", 6), kBlockSize, -1},
      {1, "QDX\0\0\0", kFurtherIn + 5, -1},  // the code runs past the block
      {0, "QDX\0\0\0", kBlockSize, -1},      // the code of these families stands at the start
      {3, "ZEB\0\0\0", kBlockSize, -1},
      {5, "QDX55 ", kBlockSize, -1},
      {-1, "QDX\0\0\0", kBlockSize, -1},
      {9, "QDX\0\0\0", kBlockSize, -1},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> block(c.blockSize, 0);
    std::memcpy(block.data() + kFurtherIn, c.code.data(), std::min(c.code.size(), block.size() - kFurtherIn));
    const auto match = FindLoaderFamilyCode(c.loaderFamily, block);
    SCOPED_TRACE("loader family " + std::to_string(c.loaderFamily) + ", code " + std::string(c.code));
    ASSERT_EQ(match.has_value(), c.row >= 0);
    if (!match) continue;
    EXPECT_EQ(match->rowIndex, c.row);
    EXPECT_EQ(match->family, 1);
    EXPECT_FALSE(match->raised);
  }
}

TEST(FindIdBlockOffset, OnlyEncodedFamiliesHaveOne) {
  for (int family : {0, 1, 2, 3, 4, 9, -1, 100}) EXPECT_EQ(FindIdBlockOffset(family), -1) << family;
  for (int family : {5, 6, 7, 8}) EXPECT_EQ(FindIdBlockOffset(family), 0x8004) << family;
}

TEST(CatalogueRows, AccessByIndexStaysInsideTheTables) {
  EXPECT_STREQ(TypeCodeRow(0).typeCode, "QDX");
  EXPECT_STREQ(TypeCodeRow(7).typeCode, "QDX52");
  EXPECT_EQ(TypeCodeRow(7).encoded, 1);
  EXPECT_EQ(TypeCodeRow(45).family, kEndFamily);
  EXPECT_EQ(TypeCodeRow(-3).family, kEndFamily);
  EXPECT_EQ(TypeCodeRow(1000).encoded, 0);
  EXPECT_STREQ(LoaderRow(4).loaderId, "RomKeeperStage2 ");
  EXPECT_EQ(LoaderRow(11).family, kEndFamily);
  EXPECT_EQ(PlainImageSize(0), 0x80000u);
  EXPECT_EQ(PlainImageSize(3), 0x80000u);
  EXPECT_EQ(PlainImageSize(4), 0x100000u);
  EXPECT_EQ(PlainImageSize(8), 0x100000u);
}

}  // namespace
}  // namespace orvel
