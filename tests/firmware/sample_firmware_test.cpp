#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "firmware/codec.h"
#include "firmware/sample_firmware.h"

namespace orvel {
namespace {

struct FamilySample {
  int family;
  const char* code;
  std::uint32_t idOffset;
};
const FamilySample kSamples[] = {{0, "QDX", 0x4},       {1, "QDX", 0x7FF04}, {2, "QDX4", 0x8004},
                                 {3, "ZEB", 0x20004},   {4, "QDX50", 0x8004}, {5, "QDX55", 0x8004},
                                 {6, "QDX71", 0x8004},  {7, "QDX63", 0x8004}, {8, "KZTR4", 0x8004}};

std::string Text(const std::vector<std::uint8_t>& v, std::size_t at, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(v.data()) + at, n);
}

TEST(SampleFirmware, PlainImagesCarryTheirIdentificationBlock) {
  for (const FamilySample& s : kSamples) {
    const auto image = MakePlainImage(s.family, s.code, "Sample build 1.02", 7);
    ASSERT_EQ(image.size(), PlainImageSize(s.family)) << s.family;
    std::string code = s.code;
    code.resize(6, '0');
    EXPECT_EQ(Text(image, s.idOffset, 6), code) << s.family;
    EXPECT_EQ(Text(image, s.idOffset + 6, 30), "Sample build 1.02             ") << s.family;
  }
  // Longer inputs are cut to the block's fields.
  const auto image = MakePlainImage(0, "Uv-1234567", std::string(40, 'x'), 1);
  EXPECT_EQ(Text(image, 4, 6), "Uv-123");
  EXPECT_EQ(Text(image, 10, 30), std::string(30, 'x'));
  EXPECT_NE(image[40], 'x');
}

TEST(SampleFirmware, DeterministicBySeed) {
  EXPECT_EQ(MakePlainImage(6, "QDX70", "a", 42), MakePlainImage(6, "QDX70", "a", 42));
  EXPECT_NE(MakePlainImage(6, "QDX70", "a", 42), MakePlainImage(6, "QDX70", "a", 43));
  EXPECT_NE(MakePlainImage(2, "QDX4", "a", 0), MakePlainImage(2, "QDX4", "a", 1));
  // Content looks like code, not a constant fill.
  const auto image = MakePlainImage(4, "QDX50", "a", 0);
  const auto zeros = std::count(image.begin(), image.end(), std::uint8_t{0});
  EXPECT_LT(zeros, 0x100000 / 64);
}

TEST(SampleFirmware, FilesTakeTheirFamilysForm) {
  for (const FamilySample& s : kSamples) {
    const auto plain = MakePlainImage(s.family, s.code, "Form check", 3);
    const auto file = MakeFirmwareFile(s.family, s.code, "Form check", 3);
    if (s.family <= 4) {
      EXPECT_EQ(file, plain) << s.family;
      EXPECT_STREQ(FileExtensionOfFamily(s.family), ".BIN");
    } else if (s.family == 5) {
      ASSERT_EQ(file.size(), plain.size());
      EXPECT_NE(file, plain);
      EXPECT_EQ(Text(file, 0x8004, 36), Text(plain, 0x8004, 36));
      auto back = file;
      RemoveByteKey(back, 0x8004);
      EXPECT_EQ(back, plain);
      EXPECT_STREQ(FileExtensionOfFamily(s.family), ".KVF");
    } else {
      EXPECT_TRUE(std::all_of(plain.begin() + 0x4000, plain.begin() + 0x8000, [](std::uint8_t b) { return b == 0xFF; }));
      ASSERT_LT(file.size(), std::size_t{0x100000 - 0x10000}) << s.family;
      EXPECT_EQ((file.size() - 16392) % 1024, 0u);
      auto back = DecodePackedImage(file);
      ASSERT_TRUE(back) << s.family;
      EXPECT_TRUE(std::equal(plain.begin(), plain.end(), back->begin())) << s.family;
      EXPECT_STREQ(FileExtensionOfFamily(s.family), ".KVF");
    }
  }
  EXPECT_STREQ(FileExtensionOfFamily(9), ".BIN");
}

TEST(SampleFirmware, PackedFamilyImageThatCannotBePackedGivesNoFile) {
  auto plain = MakePlainImage(7, "QDX60", "x", 1);
  plain[0x6000] = 0;
  EXPECT_TRUE(EncodeForFamily(7, plain).empty());
  plain.resize(0x80000);
  EXPECT_TRUE(EncodeForFamily(7, plain).empty());
}

}  // namespace
}  // namespace orvel
