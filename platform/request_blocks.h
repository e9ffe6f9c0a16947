#pragma once
// The contract of Platform::PassThrough and of AspiLibrary::SendASPI32Command:
// byte layouts of the ASPI SRB_ExecSCSICmd block and of the NT
// SCSI_PASS_THROUGH block with its sense and data areas. The transport fills
// them; the backends (platform/linux, sim/) carry them out, so the layouts live
// here, below both. Multi-byte fields are little-endian, as on the platform
// that defined them; pointer fields are 32 bits wide.

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvel {

// SRB_ExecSCSICmd: 64-byte head ending in CDBByte, then the 16-byte SenseArea.
namespace srb {
inline constexpr std::size_t kCmd = 0;
inline constexpr std::size_t kStatus = 1;
inline constexpr std::size_t kHaId = 2;
inline constexpr std::size_t kFlags = 3;
inline constexpr std::size_t kHdrRsvd = 4;     // 4 bytes
inline constexpr std::size_t kTarget = 8;
inline constexpr std::size_t kLun = 9;
inline constexpr std::size_t kRsvd1 = 10;      // 2 bytes
inline constexpr std::size_t kBufLen = 12;     // 4 bytes
inline constexpr std::size_t kBufPointer = 16; // 4 bytes
inline constexpr std::size_t kSenseLen = 20;
inline constexpr std::size_t kCdbLen = 21;
inline constexpr std::size_t kHaStat = 22;
inline constexpr std::size_t kTargStat = 23;
inline constexpr std::size_t kPostProc = 24;   // 4 bytes
inline constexpr std::size_t kRsvd2 = 28;      // 20 bytes
inline constexpr std::size_t kCdbByte = 48;    // 16 bytes
inline constexpr std::size_t kHeadSize = 64;
inline constexpr std::size_t kSenseArea = 64;  // 16 bytes
inline constexpr std::size_t kSenseAreaSize = 16;  // SENSE_LEN 14 + 2
inline constexpr std::size_t kSize = 80;

inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_INVALID_HA = 0x81;
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;
inline constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;
}  // namespace srb

// SCSI_PASS_THROUGH header (44 bytes), gap, sense area at 48, data at 80.
namespace spt {
inline constexpr std::size_t kLength = 0;              // 2 bytes
inline constexpr std::size_t kScsiStatus = 2;
inline constexpr std::size_t kPathId = 3;
inline constexpr std::size_t kTargetId = 4;
inline constexpr std::size_t kLun = 5;
inline constexpr std::size_t kCdbLength = 6;
inline constexpr std::size_t kSenseInfoLength = 7;
inline constexpr std::size_t kDataIn = 8;
inline constexpr std::size_t kDataTransferLength = 12;  // 4 bytes (after 3 bytes of padding)
inline constexpr std::size_t kTimeOutValue = 16;       // 4 bytes
inline constexpr std::size_t kDataBufferOffset = 20;   // 4 bytes (ULONG_PTR on a 32-bit system)
inline constexpr std::size_t kSenseInfoOffset = 24;    // 4 bytes
inline constexpr std::size_t kCdb = 28;                // 16 bytes
inline constexpr std::size_t kHeaderSize = 44;
inline constexpr std::size_t kSenseArea = 48;
inline constexpr std::size_t kSenseAreaSize = 32;
inline constexpr std::size_t kDataArea = 80;
inline constexpr std::size_t kMaxTransfer = 16384;
inline constexpr std::size_t kBlockSize = kDataArea + kMaxTransfer;

inline constexpr std::uint8_t SCSI_IOCTL_DATA_OUT = 0;
inline constexpr std::uint8_t SCSI_IOCTL_DATA_IN = 1;
inline constexpr std::uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;
inline constexpr std::uint32_t IOCTL_SCSI_PASS_THROUGH = 0x4D004;
inline constexpr std::uint8_t kSenseRequested = 14;
inline constexpr std::uint32_t kTimeOutSeconds = 2;
}  // namespace spt

// SCSI status bytes.
inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kStatusNotSet = 0xFF;

// Little-endian field access inside a block.
inline std::uint32_t GetLe32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}
inline void PutLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  b[at + 2] = static_cast<std::uint8_t>(v >> 16);
  b[at + 3] = static_cast<std::uint8_t>(v >> 24);
}
inline std::uint16_t GetLe16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
inline void PutLe16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace orvel
