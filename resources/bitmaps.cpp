#include <array>
#include <cstdint>
#include <string_view>

#include "resources/resources.h"

namespace orvel {
namespace {

constexpr int kPaletteSize = 16;

// One picture as 16-colour palette plus one hex digit per pixel, rows top down.
struct ArtworkData {
  int width;
  int height;
  std::array<std::uint32_t, kPaletteSize> palette;
  std::string_view indices;
};

#include "resources/artwork_data.inc"

static_assert(kIconArtwork.width == kIconSize && kIconArtwork.height == kIconSize);
static_assert(kOrvelLogoArtwork.width == kLogoWidth && kOrvelLogoArtwork.height == kLogoHeight);
static_assert(kOrvelinLogoArtwork.width == kLogoWidth && kOrvelinLogoArtwork.height == kLogoHeight);
static_assert(kIconArtwork.indices.size() == kIconSize * kIconSize);
static_assert(kOrvelLogoArtwork.indices.size() == kLogoWidth * kLogoHeight);
static_assert(kOrvelinLogoArtwork.indices.size() == kLogoWidth * kLogoHeight);

int HexValue(char c) {
  constexpr int kDecimalDigits = 10;
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + kDecimalDigits;
  return 0;
}

ui::Bitmap Expand(const ArtworkData& art, int resourceId) {
  ui::Bitmap bmp;
  bmp.resourceId = resourceId;
  bmp.width = art.width;
  bmp.height = art.height;
  bmp.pixels.reserve(art.indices.size());
  for (char c : art.indices) bmp.pixels.push_back(art.palette[static_cast<std::size_t>(HexValue(c))]);
  return bmp;
}

}  // namespace

const ui::Bitmap& LoadResourceBitmap(int resourceId) {
  static const ui::Bitmap icon = Expand(kIconArtwork, kAppIconId);
  static const ui::Bitmap orvelLogo = Expand(kOrvelLogoArtwork, kOrvelLogoId);
  static const ui::Bitmap orvelinLogo = Expand(kOrvelinLogoArtwork, kOrvelinLogoId);
  static const ui::Bitmap none;
  switch (resourceId) {
    case kAppIconId: return icon;
    case kOrvelLogoId: return orvelLogo;
    case kOrvelinLogoId: return orvelinLogo;
    default: return none;
  }
}

}  // namespace orvel
