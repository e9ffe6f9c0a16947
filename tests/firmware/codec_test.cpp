#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "firmware/codec.h"

namespace orvel {
namespace {

// A packable image: pattern bytes, the 16 KiB gap erased, a trailing run of `run` 0xFF before 0xFFFFC.
std::unique_ptr<ImageBuffer> PackableImage(std::uint32_t run, std::uint8_t salt = 0) {
  auto image = NewImageBuffer();
  for (std::size_t i = 0; i < image->size(); ++i) {
    // Never 0xFF so the run is exactly as long as asked.
    (*image)[i] = static_cast<std::uint8_t>((i * 131 + i / 977 + salt) % 255);
  }
  std::fill(image->begin() + 0x4000, image->begin() + 0x8000, 0xFF);
  std::fill(image->begin() + (0xFFFFC - run), image->begin() + 0xFFFFC, 0xFF);
  return image;
}

std::uint32_t CountField(const ImageBuffer& packed) {
  return static_cast<std::uint32_t>(packed[0x4000]) | (static_cast<std::uint32_t>(packed[0x4001]) << 8) |
         (static_cast<std::uint32_t>(packed[0x4002]) << 16) | (static_cast<std::uint32_t>(packed[0x4003]) << 24);
}

TEST(PackedForm, RoundTripsAndLengthFollowsTheTrailingRun) {
  struct Case {
    std::uint32_t run;
    std::uint32_t blocks;
  };
  const Case cases[] = {{0, 992}, {1, 992}, {1019, 992}, {1020, 991}, {1024, 991},
                        {2043, 991}, {2044, 990}, {500000, 504}, {1015803, 1}, {1015804, 0}};
  for (const Case& c : cases) {
    auto image = PackableImage(c.run, static_cast<std::uint8_t>(c.run));
    std::size_t length = 0;
    auto packed = EncodePackedImage(*image, &length);
    ASSERT_TRUE(packed) << c.run;
    EXPECT_EQ(CountField(*packed), c.run);
    EXPECT_EQ(length, c.blocks * 1024u + 16392u) << c.run;
    auto plain = DecodePackedImage(std::span(packed->data(), length));
    ASSERT_TRUE(plain) << c.run;
    EXPECT_TRUE(*plain == *image) << c.run;
  }
}

TEST(PackedForm, LayoutOfTheFile) {
  auto image = PackableImage(700000);
  (*image)[0xFFFFC] = 0x11;
  (*image)[0xFFFFD] = 0x22;
  (*image)[0xFFFFE] = 0x33;
  (*image)[0xFFFFF] = 0x44;
  std::size_t length = 0;
  auto packed = EncodePackedImage(*image, &length);
  ASSERT_TRUE(packed);
  const std::size_t n = (1015804 - 700000 + 1023) / 1024;
  ASSERT_EQ(length, n * 1024 + 16392);
  // Keyed head: block k with table k mod 4.
  for (std::size_t k : {0u, 1u, 5u, 15u}) {
    for (std::size_t j : {0u, 1u, 1023u}) {
      const std::size_t o = k * 1024 + j;
      EXPECT_EQ((*packed)[o], static_cast<std::uint8_t>((*image)[o] + PackedKeyTable[k % 4][j]));
    }
  }
  // Body block b is plain block 32 + b and uses table b mod 4, not (32 + b) mod 4 by accident of layout.
  for (std::size_t b : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, n - 1}) {
    const std::size_t j = 77;
    EXPECT_EQ((*packed)[0x4004 + b * 1024 + j],
              static_cast<std::uint8_t>((*image)[0x8000 + b * 1024 + j] + PackedKeyTable[b % 4][j]));
  }
  // The last 4 bytes travel unkeyed.
  EXPECT_EQ((*packed)[length - 4], 0x11);
  EXPECT_EQ((*packed)[length - 1], 0x44);
}

TEST(PackedForm, AllErasedImagePacksToTheMinimum) {
  auto image = NewImageBuffer();
  image->fill(0xFF);
  for (std::size_t i = 0; i < 0x4000; ++i) (*image)[i] = static_cast<std::uint8_t>(i);
  std::size_t length = 0;
  auto packed = EncodePackedImage(*image, &length);
  ASSERT_TRUE(packed);
  EXPECT_EQ(length, 16392u);
  EXPECT_EQ(CountField(*packed), 1015804u);
  auto plain = DecodePackedImage(std::span(packed->data(), length));
  ASSERT_TRUE(plain);
  EXPECT_TRUE(std::all_of(plain->begin() + 0x4000, plain->end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(*plain == *image);
}

TEST(PackedForm, AnythingInTheGapRefusesEncoding) {
  for (std::size_t at : {0x4000u, 0x4001u, 0x5555u, 0x7FFFu}) {
    auto image = PackableImage(1000);
    (*image)[at] = 0xFE;
    std::size_t length = 12345;
    EXPECT_FALSE(EncodePackedImage(*image, &length)) << at;
    EXPECT_EQ(length, 12345u);
  }
  auto image = PackableImage(1000);
  EXPECT_FALSE(EncodePackedImage(*image, nullptr));
}

TEST(PackedForm, TrailerComesFromTheEndOfTheInput) {
  auto image = PackableImage(300000);
  std::size_t length = 0;
  auto packed = EncodePackedImage(*image, &length);
  ASSERT_TRUE(packed);
  std::vector<std::uint8_t> longer(packed->begin(), packed->begin() + static_cast<std::ptrdiff_t>(length));
  const std::uint8_t extra[] = {9, 8, 7, 6, 0xA1, 0xB2, 0xC3, 0xD4};
  longer.insert(longer.end(), std::begin(extra), std::end(extra));
  auto plain = DecodePackedImage(longer);
  ASSERT_TRUE(plain);
  EXPECT_EQ((*plain)[0xFFFFC], 0xA1);
  EXPECT_EQ((*plain)[0xFFFFF], 0xD4);
  EXPECT_TRUE(std::equal(plain->begin(), plain->begin() + 0xFFFFC, image->begin()));
}

TEST(PackedForm, HostileInputsAreRefused) {
  std::vector<std::uint8_t> input(16392, 0);
  EXPECT_FALSE(DecodePackedImage({}));
  EXPECT_FALSE(DecodePackedImage(std::span(input).first(16391)));
  // Count 0 asks for all 992 blocks, which are not there.
  EXPECT_FALSE(DecodePackedImage(input));
  // A count above the largest possible run.
  const std::uint32_t tooBig = 1015805;
  std::memcpy(input.data() + 0x4000, &tooBig, 4);
  EXPECT_FALSE(DecodePackedImage(input));
  input[0x4000] = input[0x4001] = input[0x4002] = input[0x4003] = 0xFF;
  EXPECT_FALSE(DecodePackedImage(input));
  // One block short of what the count needs, then exactly enough.
  const std::uint32_t c = 1015804 - 3 * 1024;  // n = 3
  std::memcpy(input.data() + 0x4000, &c, 4);
  input.resize(16392 + 3 * 1024 - 1);
  EXPECT_FALSE(DecodePackedImage(input));
  input.resize(16392 + 3 * 1024);
  EXPECT_TRUE(DecodePackedImage(input));

  auto target = NewImageBuffer();
  target->fill(0x5A);
  input.resize(100);
  EXPECT_FALSE(DecodePackedImageInto(input, *target));
  EXPECT_EQ((*target)[0], 0x5A);  // a refusal writes nothing
}

TEST(ByteKeyedForm, KeysEveryByteButTheIdentificationBlock) {
  std::vector<std::uint8_t> plain(0x100000);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
  std::vector<std::uint8_t> file = plain;
  ApplyByteKey(file, 0x8004);
  for (std::size_t i : {0u, 1u, 255u, 256u, 0x8003u, 0x8004u + 36u, 0x8004u + 37u, 0xFFFFFu}) {
    EXPECT_EQ(file[i], static_cast<std::uint8_t>(plain[i] + ByteKeyTable[i % 256])) << i;
  }
  EXPECT_TRUE(std::equal(file.begin() + 0x8004, file.begin() + 0x8004 + 36, plain.begin() + 0x8004));
  std::size_t changed = 0;
  for (std::size_t i = 0; i < file.size(); ++i) changed += file[i] != plain[i];
  EXPECT_EQ(changed, plain.size() - 36);  // no key entry is zero
  RemoveByteKey(file, 0x8004);
  EXPECT_EQ(file, plain);
}

TEST(ByteKeyedForm, NeverTouchesBytesBeyondTheLength) {
  std::vector<std::uint8_t> buffer(0x9000, 0x40);
  // The block straddles the end: only the part before it is skipped, nothing after is keyed.
  ApplyByteKey(std::span(buffer).first(0x8010), 0x8004);
  EXPECT_EQ(buffer[0x8003], static_cast<std::uint8_t>(0x40 + ByteKeyTable[0x8003 % 256]));
  for (std::size_t i = 0x8004; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0x40) << i;
  // A short image lying wholly before the block is keyed throughout.
  std::vector<std::uint8_t> small(300, 0);
  ApplyByteKey(small, 0x8004);
  EXPECT_EQ(small[299], ByteKeyTable[299 % 256]);
  RemoveByteKey(small, 0x8004);
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](std::uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace orvel
