#pragma once
// What a drive family decides, in one table: the size of its image, the form
// and extension of its files, how an image is sent to the drive, how much the
// backup reads, where the bar stands in each rewrite phase, and where a drive
// in loader mode keeps its type code. Nothing else compares a family number
// with a constant; the catalogue's tables say which type codes and loaders
// belong to which family.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvel {

inline constexpr std::uint32_t kSmallImageSize = 0x80000;   // 512 KiB
inline constexpr std::uint32_t kFullImageSize = 0x100000;   // 1 MiB, and the image buffer
inline constexpr int kEndFamily = -1;   // no family: the end row of every table by family
inline constexpr int kLastFamily = 8;
inline constexpr int kFamilyCount = kLastFamily + 1;

inline constexpr const char* kPlainFileExtension = ".BIN";
inline constexpr const char* kEncodedFileExtension = ".KVF";

enum class FileForm {
  Plain,      // the image as the drive holds it (".BIN")
  ByteKeyed,  // one 256-byte key over the image, identification block left plain (".KVF")
  Packed,     // erased areas left out, the rest keyed in 1 KiB blocks (".KVF")
};

// An image goes to the drive as `fullChunks` chunks of `chunkSize` bytes from
// offset 0, then one last chunk of `lastChunkSize` bytes at `lastChunkOffset`.
struct TransferGeometry {
  int fullChunks;
  std::uint16_t chunkSize;
  std::uint16_t lastChunkSize;
  std::uint32_t lastChunkOffset;
};

// The rewrite phases a drive reports (0xF7 with the phase 0..3): sum check,
// erase, write, sum check again.
inline constexpr std::size_t kRewritePhaseCount = 4;
using PhasePositions = std::array<int, kRewritePhaseCount>;

struct FamilyTraits {
  int family;
  std::uint32_t imageSize;      // bytes of the plain image, sent and backed up whole
  FileForm form;                // of the family's own files
  const char* extension;        // ".BIN" or ".KVF"
  TransferGeometry transfer;
  // The bar's step per full chunk, per backup block and per rewrite poll cycle.
  int progressStep;
  std::uint32_t backupBlocks;   // 16 KiB blocks read from drive address 0
  PhasePositions phasePositions;  // where the bar jumps on each rewrite phase
  // Where in the 16 KiB read at the loader row's idAddress the drive's type code stands.
  std::uint32_t loaderCodeOffset;
  // A block whose code names this family directly (not by the family-4 raise) bars the loader area.
  bool barLoaderWhenNamedDirectly;
};

namespace family_traits_detail {

inline constexpr TransferGeometry kSmallTransfer{34, 0x3C00, 0x800, 0x7F800};
inline constexpr TransferGeometry kFullTransfer{341, 0xC00, 0x400, 0xFFC00};
inline constexpr int kSmallStep = 2;
inline constexpr int kFullStep = 1;
inline constexpr std::uint32_t kSmallBackupBlocks = 32;
inline constexpr std::uint32_t kFullBackupBlocks = 64;
inline constexpr PhasePositions kSmallPhases{8, 36, 52, 108};
inline constexpr PhasePositions kFullPhases{4, 25, 40, 90};
// A family-1 image keeps its identification block at 0x7FF04, which is this far
// into the 16 KiB its loader reads from 0x7C004.
inline constexpr std::uint32_t kCodeAtEndOfLoaderRead = 0x3F00;
inline constexpr std::uint32_t kCodeAtStart = 0;

constexpr bool GeometryCovers(const TransferGeometry& g, std::uint32_t imageSize) {
  return static_cast<std::uint32_t>(g.fullChunks) * g.chunkSize == g.lastChunkOffset &&
         g.lastChunkOffset + g.lastChunkSize == imageSize;
}
static_assert(GeometryCovers(kSmallTransfer, kSmallImageSize));
static_assert(GeometryCovers(kFullTransfer, kFullImageSize));

}  // namespace family_traits_detail

// Indexed by family; the last row stands for any family outside the table
// (taken as a plain 1 MiB family, the image buffer's size).
inline constexpr std::array<FamilyTraits, kFamilyCount + 1> FamilyTraitsTable = [] {
  using namespace family_traits_detail;
  using enum FileForm;
  return std::array<FamilyTraits, kFamilyCount + 1>{{
      // family, image, form, extension, transfer, step, backup blocks, phases, loader code, bar loader
      {0, kSmallImageSize, Plain, kPlainFileExtension, kSmallTransfer, kSmallStep, kSmallBackupBlocks, kSmallPhases,
       kCodeAtStart, false},
      {1, kSmallImageSize, Plain, kPlainFileExtension, kSmallTransfer, kSmallStep, kSmallBackupBlocks, kSmallPhases,
       kCodeAtEndOfLoaderRead, false},
      {2, kSmallImageSize, Plain, kPlainFileExtension, kSmallTransfer, kSmallStep, kSmallBackupBlocks, kSmallPhases,
       kCodeAtStart, false},
      {3, kSmallImageSize, Plain, kPlainFileExtension, kSmallTransfer, kSmallStep, kSmallBackupBlocks, kSmallPhases,
       kCodeAtStart, false},
      {4, kFullImageSize, Plain, kPlainFileExtension, kFullTransfer, kFullStep, kFullBackupBlocks, kFullPhases,
       kCodeAtStart, false},
      {5, kFullImageSize, ByteKeyed, kEncodedFileExtension, kFullTransfer, kFullStep, kFullBackupBlocks, kFullPhases,
       kCodeAtStart, true},
      {6, kFullImageSize, Packed, kEncodedFileExtension, kFullTransfer, kFullStep, kFullBackupBlocks, kFullPhases,
       kCodeAtStart, false},
      {7, kFullImageSize, Packed, kEncodedFileExtension, kFullTransfer, kFullStep, kFullBackupBlocks, kFullPhases,
       kCodeAtStart, false},
      {8, kFullImageSize, Packed, kEncodedFileExtension, kFullTransfer, kFullStep, kFullBackupBlocks, kFullPhases,
       kCodeAtStart, false},
      {kEndFamily, kFullImageSize, Plain, kPlainFileExtension, kFullTransfer, kFullStep, kFullBackupBlocks, kFullPhases,
       kCodeAtStart, false},
  }};
}();

// The family's row; any family outside the table gives the last row.
constexpr const FamilyTraits& TraitsOf(int family) {
  if (family < 0 || family >= kFamilyCount) return FamilyTraitsTable.back();
  return FamilyTraitsTable[static_cast<std::size_t>(family)];
}

constexpr std::uint32_t PlainImageSize(int family) { return TraitsOf(family).imageSize; }
constexpr FileForm FormOfFamily(int family) { return TraitsOf(family).form; }

}  // namespace orvel
