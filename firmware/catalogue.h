#pragma once
// The drive catalogue: supported product identifications, loader
// identifications of the update mode, and the type codes by drive family.
// Constant data, laid out as the drives and files define it; never written.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "firmware/family_traits.h"

namespace orvel {

inline constexpr std::size_t kIdBlockSize = 36;
inline constexpr std::size_t kTypeCodeLength = 6;
inline constexpr std::size_t kDescriptionLength = 30;
inline constexpr std::size_t kProductIdLength = 16;
inline constexpr std::size_t kProductIdRowSize = 17;

struct TypeCodeEntry {
  std::int32_t family;
  const char* typeCode;  // 3..5 characters; nullptr in the end row
  std::uint32_t idOffset;
  std::int32_t encoded;  // 1: ".KVF" files; 0: ".BIN"
};

struct LoaderEntry {
  const char* loaderId;  // 16 characters, blank-padded; nullptr in the end row
  std::int32_t family;
  std::uint32_t idAddress;
};

// 94 rows of 17 bytes and the NUL end row.
inline constexpr std::size_t kProductIdRows = 94;
using ProductIdRow = std::array<char, kProductIdRowSize>;
extern const std::array<ProductIdRow, kProductIdRows + 1> ProductIdTable;

// 45 rows and the end row, in lookup order.
inline constexpr std::size_t kTypeCodeRows = 45;
extern const std::array<TypeCodeEntry, kTypeCodeRows + 1> TypeCodeTable;

// 10 rows and the end row.
inline constexpr std::size_t kLoaderRows = 10;
extern const std::array<LoaderEntry, kLoaderRows + 1> LoaderTable;

// Whether 16 bytes of INQUIRY product identification are a row of ProductIdTable
// (byte for byte: case and blanks count).
bool FindProductId(std::span<const std::uint8_t, kProductIdLength> productId);
// The same over any table of 17-byte rows ending in a NUL row (for tests).
bool FindProductIdIn(std::span<const ProductIdRow> table, std::span<const std::uint8_t, kProductIdLength> productId);

// Index of the first LoaderTable row after `afterIndex` (-1: from the start)
// whose loaderId equals the 16 bytes; -1 when none.
int FindLoaderEntry(std::span<const std::uint8_t, kProductIdLength> productId, int afterIndex = -1);

struct DriveFamilyMatch {
  int family;       // after the family-4-to-5 raise
  int rowIndex;     // TypeCodeTable row that matched
  bool raised;      // family 4 raised to 5 by the fifth character ('2' or above)
};
// First TypeCodeTable row whose typeCode equals the start of the block like
// strncmp(typeCode, block, 4). `block` holds at least 5 bytes.
std::optional<DriveFamilyMatch> FindDriveFamily(std::span<const std::uint8_t> block);

// For a block whose start matched no row: a loader whose family keeps the
// drive's code further into the block (TraitsOf(family).loaderCodeOffset, the
// family-1 loader) names the drive by the code there, when a TypeCodeTable row
// of that same family stands there (all its characters, as a file's code is
// matched). Nothing for any other loader family or code, so no other family
// can be taken for it.
std::optional<DriveFamilyMatch> FindLoaderFamilyCode(int loaderFamily, std::span<const std::uint8_t> block);

// Index of the family's first TypeCodeTable row; -1 when it has none.
int FindFamilyRow(int family);

// idOffset of the family's first row when that row is encoded, else -1.
std::int64_t FindIdBlockOffset(int family);

// Any index outside the table gives the end row.
const TypeCodeEntry& TypeCodeRow(int index);  // index 0..45 (45 is the end row)
const LoaderEntry& LoaderRow(int index);      // index 0..10

}  // namespace orvel
