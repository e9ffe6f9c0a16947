#pragma once
// Valid firmware images and files of every family, for tests, the simulator
// and the demo.

#include <cstdint>
#include <string_view>
#include <vector>

namespace orvel {

// A plain image of the family's size: pseudo-random content from `seed`, the
// identification block (type code padded to 6 with '0', description padded to
// 30 with blanks) at the family's idOffset, and 0xFF where the packed form needs
// it (0x4000..0x7FFF and a trailing run) for families 6..8.
std::vector<std::uint8_t> MakePlainImage(int family, std::string_view typeCode, std::string_view description,
                                         std::uint32_t seed);

// The file form of the family (FamilyTraitsTable).
// EncodeForFamily gives an empty vector when a packed family's image cannot be
// packed (not 1 MiB, or bytes 0x4000..0x7FFF not all 0xFF).
std::vector<std::uint8_t> MakeFirmwareFile(int family, std::string_view typeCode, std::string_view description,
                                           std::uint32_t seed);
std::vector<std::uint8_t> EncodeForFamily(int family, const std::vector<std::uint8_t>& plain);

// ".BIN" or ".KVF" by the family's file form (".BIN" for an unknown family).
const char* FileExtensionOfFamily(int family);

}  // namespace orvel
