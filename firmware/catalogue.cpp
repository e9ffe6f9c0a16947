// The catalogue tables and their lookups.

#include "firmware/catalogue.h"

#include <cstring>

namespace orvel {
namespace {

// A 16-character identification and its NUL; the length is checked when compiling.
template <std::size_t N>
consteval ProductIdRow Row(const char (&text)[N]) {
  static_assert(N == kProductIdRowSize, "product identifications are 16 characters");
  ProductIdRow row{};
  for (std::size_t i = 0; i < N; ++i) row[i] = text[i];
  return row;
}

constexpr std::uint32_t kIdAtStart = 0x4;
constexpr std::uint32_t kIdAtEnd = 0x7FF04;
constexpr std::uint32_t kIdAt32K = 0x8004;
constexpr std::uint32_t kIdAt128K = 0x20004;
constexpr std::uint32_t kLoaderReadAtEnd = 0x7C004;

// strncmp over at most this many bytes: 4- and 5-character codes match on their first 4.
constexpr std::size_t kFamilyCompareLength = 4;
constexpr std::size_t kFifthCharacter = 4;
constexpr std::uint8_t kRaiseDigit = 0x32;  // '2': QDX52 and above are family 5
constexpr int kRaisedFromFamily = 4;
constexpr int kRaisedToFamily = 5;

}  // namespace

// The catalogue ties no product identification to a family (the loader decides
// that in update mode); the groups below say which drives each row stands for,
// which is what the simulator's drives report.
const std::array<ProductIdRow, kProductIdRows + 1> ProductIdTable = {{
    // rows 0-9: 4x/8x CD-RW drives, identification block at 0x4 (family 0)
    Row("CRW-2208A       "),
    Row("CRW-2208S       "),
    Row("CRW-2408A       "),
    Row("CRW-2408S       "),
    Row("CRW-4408A       "),
    Row("CRW-4408S       "),
    Row("CDRW 4/4/24 OEM "),
    Row("RW-0424X        "),
    Row("KESTA CRW-424   "),
    Row("CRW-4408E       "),
    // rows 10-15: 8x CD-RW drives with the block at the end of the image (family 1)
    Row("CRW-8812A       "),
    Row("CRW-8812S       "),
    Row("CRW-8816A       "),
    Row("RW-0816X        "),
    Row("CDRW 8/8/32 OEM "),
    Row("KESTA CRW-816   "),
    // rows 16-24: 12x CD-RW drives (family 2)
    Row("CRW-1210A       "),
    Row("CRW-1210S       "),
    Row("CRW-1212A       "),
    Row("CRW-1232A       "),
    Row("RW-1232X        "),
    Row("CDRW12/10/32    "),
    Row("KESTA CRW-1232  "),
    Row("CRW-1232AE      "),
    Row("NOVA RW12-32    "),
    // rows 25-31: external and notebook CD-RW units (family 3)
    Row("ZR-4420U        "),
    Row("ZR-4420P        "),
    Row("ZR-8824U        "),
    Row("ZR-8824F        "),
    Row("SLIM CRW-24N    "),
    Row("SLIM CRW-24NE   "),
    Row("CRW-24N PCMCIA  "),
    // rows 32-43: 16x-24x CD-RW drives (family 4)
    Row("CRW-1610A       "),
    Row("CRW-1610S       "),
    Row("CRW-1640A       "),
    Row("CRW-2010A       "),
    Row("CRW-2410A       "),
    Row("CRW-2440A       "),
    Row("RW-1640X        "),
    Row("RW-2440X        "),
    Row("CDRW 24/10/40   "),
    Row("KESTA CRW-2440  "),
    Row("NOVA RW24-40    "),
    Row("CRW-2440AE      "),
    // rows 44-50: first DVD+RW drives (family 5)
    Row("DRW-2400A       "),
    Row("DRW-2400S       "),
    Row("DRW-2402A       "),
    Row("DVD+RW DR-2400  "),
    Row("KESTA DRW-240   "),
    Row("NOVA DRW-24     "),
    Row("DRW-2400AE      "),
    // rows 51-60: DVD+RW drives of the 77 loader (family 6)
    Row("DRW-7040A       "),
    Row("DRW-7044A       "),
    Row("DRW-7080A       "),
    Row("DRW-7084A       "),
    Row("DVD+RW DR-7040  "),
    Row("KESTA DRW-704   "),
    Row("NOVA DRW-70     "),
    Row("DRW-7040AE      "),
    Row("DRW-7080 SLIM   "),
    Row("DRW-7084AE      "),
    // rows 61-70: DVD+RW drives of the 67 loader (family 7)
    Row("DRW-6040A       "),
    Row("DRW-6044A       "),
    Row("DRW-6080A       "),
    Row("DVD+RW DR-6040  "),
    Row("KESTA DRW-604   "),
    Row("NOVA DRW-60     "),
    Row("DRW-6040AE      "),
    Row("DRW-6080 SLIM   "),
    Row("DRW-6044AE      "),
    Row("SLIM DRW-6N     "),
    // rows 71-80: dual-layer DVD+RW drives (family 8)
    Row("DXR-8016A       "),
    Row("DXR-8016S       "),
    Row("DXR-8416A       "),
    Row("DXR-8816A       "),
    Row("DVD+RW DX-8016  "),
    Row("KESTA DXR-816   "),
    Row("NOVA DXR-80     "),
    Row("DXR-8016AE      "),
    Row("DXR-8416 SLIM   "),
    Row("DXR-8816AE      "),
    // rows 81-83: OEM repeats of rows already listed; the first match ends a search
    Row("CRW-4408A       "),
    Row("CRW-1232A       "),
    Row("DRW-7040A       "),
    // rows 84-93: the loader identifications, so that a drive already in update mode is listed
    Row("Boot Monitor   5"),
    Row("RomKeeperStage1 "),
    Row("Boot Monitor   6"),
    Row("Boot Monitor   7"),
    Row("RomKeeperStage2 "),
    Row("Boot Monitor   8"),
    Row("Boot Monitor   9"),
    Row("BootMon-77 Stage"),
    Row("BootMonitorEx 67"),
    Row("BootMonitorEx 70"),
    Row("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"),

}};

const std::array<TypeCodeEntry, kTypeCodeRows + 1> TypeCodeTable = {{
    {0, "QDX", kIdAtStart, 0},
    {0, "Uv-", kIdAtStart, 0},
    {1, "QDX", kIdAtEnd, 0},
    {3, "ZEB", kIdAt128K, 0},
    {2, "QDX4", kIdAt32K, 0},
    {4, "QDX50", kIdAt32K, 0},
    {4, "QDX51", kIdAt32K, 0},
    {5, "QDX52", kIdAt32K, 1},
    {5, "QDX53", kIdAt32K, 1},
    {5, "QDX54", kIdAt32K, 1},
    {5, "QDX55", kIdAt32K, 1},
    {5, "QDX56", kIdAt32K, 1},
    {5, "QDX57", kIdAt32K, 1},
    {5, "QDX58", kIdAt32K, 1},
    {5, "QDX59", kIdAt32K, 1},
    {6, "QDX70", kIdAt32K, 1},
    {6, "QDX71", kIdAt32K, 1},
    {6, "QDX72", kIdAt32K, 1},
    {6, "QDX73", kIdAt32K, 1},
    {6, "QDX74", kIdAt32K, 1},
    {6, "QDX75", kIdAt32K, 1},
    {6, "QDX76", kIdAt32K, 1},
    {6, "QDX77", kIdAt32K, 1},
    {6, "QDX78", kIdAt32K, 1},
    {6, "QDX79", kIdAt32K, 1},
    {7, "QDX60", kIdAt32K, 1},
    {7, "QDX61", kIdAt32K, 1},
    {7, "QDX62", kIdAt32K, 1},
    {7, "QDX63", kIdAt32K, 1},
    {7, "QDX64", kIdAt32K, 1},
    {7, "QDX65", kIdAt32K, 1},
    {7, "QDX66", kIdAt32K, 1},
    {7, "QDX67", kIdAt32K, 1},
    {7, "QDX68", kIdAt32K, 1},
    {7, "QDX69", kIdAt32K, 1},
    {8, "KZTR0", kIdAt32K, 1},
    {8, "KZTR1", kIdAt32K, 1},
    {8, "KZTR2", kIdAt32K, 1},
    {8, "KZTR3", kIdAt32K, 1},
    {8, "KZTR4", kIdAt32K, 1},
    {8, "KZTR5", kIdAt32K, 1},
    {8, "KZTR6", kIdAt32K, 1},
    {8, "KZTR7", kIdAt32K, 1},
    {8, "KZTR8", kIdAt32K, 1},
    {8, "KZTR9", kIdAt32K, 1},
    {kEndFamily, nullptr, 0, 0},
}};

const std::array<LoaderEntry, kLoaderRows + 1> LoaderTable = {{
    {"Boot Monitor   5", 0, kIdAtStart},
    {"RomKeeperStage1 ", 0, kIdAtStart},
    {"Boot Monitor   6", 2, kIdAt32K},
    {"Boot Monitor   7", 3, kIdAt128K},
    {"RomKeeperStage2 ", 1, kLoaderReadAtEnd},
    {"Boot Monitor   8", 4, kIdAt32K},
    {"Boot Monitor   9", 5, kIdAt32K},
    {"BootMon-77 Stage", 6, kIdAt32K},
    {"BootMonitorEx 67", 7, kIdAt32K},
    {"BootMonitorEx 70", 8, kIdAt32K},
    {nullptr, kEndFamily, 0},
}};

bool FindProductIdIn(std::span<const ProductIdRow> table, std::span<const std::uint8_t, kProductIdLength> productId) {
  for (const ProductIdRow& row : table) {
    if (row[0] == '\0') return false;
    if (std::memcmp(row.data(), productId.data(), kProductIdLength) == 0) return true;
  }
  return false;  // a table without its NUL row ends here
}

bool FindProductId(std::span<const std::uint8_t, kProductIdLength> productId) {
  return FindProductIdIn(ProductIdTable, productId);
}

int FindLoaderEntry(std::span<const std::uint8_t, kProductIdLength> productId, int afterIndex) {
  const int first = afterIndex < 0 ? 0 : afterIndex + 1;
  for (int i = first; i < static_cast<int>(LoaderTable.size()); ++i) {
    const LoaderEntry& row = LoaderTable[static_cast<std::size_t>(i)];
    if (row.family == kEndFamily || row.loaderId == nullptr) return -1;
    if (std::memcmp(row.loaderId, productId.data(), kProductIdLength) == 0) return i;
  }
  return -1;
}

std::optional<DriveFamilyMatch> FindDriveFamily(std::span<const std::uint8_t> block) {
  if (block.size() <= kFifthCharacter) return std::nullopt;
  for (std::size_t i = 0; i < TypeCodeTable.size(); ++i) {
    const TypeCodeEntry& row = TypeCodeTable[i];
    if (row.family == kEndFamily || row.typeCode == nullptr) break;
    if (std::strncmp(row.typeCode, reinterpret_cast<const char*>(block.data()), kFamilyCompareLength) != 0) continue;
    DriveFamilyMatch match{row.family, static_cast<int>(i), false};
    if (match.family == kRaisedFromFamily && block[kFifthCharacter] >= kRaiseDigit) {
      match.family = kRaisedToFamily;
      match.raised = true;
    }
    return match;
  }
  return std::nullopt;
}

std::optional<DriveFamilyMatch> FindLoaderFamilyCode(int loaderFamily, std::span<const std::uint8_t> block) {
  const std::uint32_t at = TraitsOf(loaderFamily).loaderCodeOffset;
  if (at == family_traits_detail::kCodeAtStart || block.size() < at + kTypeCodeLength) return std::nullopt;
  const std::span<const std::uint8_t> code = block.subspan(at, kTypeCodeLength);
  for (std::size_t i = 0; i < TypeCodeTable.size(); ++i) {
    const TypeCodeEntry& row = TypeCodeTable[i];
    if (row.family == kEndFamily || row.typeCode == nullptr) break;
    if (row.family != loaderFamily) continue;
    const std::size_t length = std::strlen(row.typeCode);
    if (length <= code.size() && std::memcmp(row.typeCode, code.data(), length) == 0) {
      return DriveFamilyMatch{row.family, static_cast<int>(i), false};
    }
  }
  return std::nullopt;
}

int FindFamilyRow(int family) {
  if (family == kEndFamily) return -1;
  for (std::size_t i = 0; i < TypeCodeTable.size(); ++i) {
    const TypeCodeEntry& row = TypeCodeTable[i];
    if (row.family == kEndFamily) break;
    if (row.family == family) return static_cast<int>(i);
  }
  return -1;
}

std::int64_t FindIdBlockOffset(int family) {
  const int index = FindFamilyRow(family);
  if (index < 0) return -1;
  const TypeCodeEntry& row = TypeCodeRow(index);
  return row.encoded != 0 ? static_cast<std::int64_t>(row.idOffset) : -1;
}

const TypeCodeEntry& TypeCodeRow(int index) {
  if (index < 0 || index >= static_cast<int>(TypeCodeTable.size())) return TypeCodeTable.back();
  return TypeCodeTable[static_cast<std::size_t>(index)];
}

const LoaderEntry& LoaderRow(int index) {
  if (index < 0 || index >= static_cast<int>(LoaderTable.size())) return LoaderTable.back();
  return LoaderTable[static_cast<std::size_t>(index)];
}

}  // namespace orvel
