#pragma once
// Translation between the pass-through block the transport fills and the
// Linux SG_IO request, kept free of any device so it can be tested alone.

#include <scsi/sg.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/platform.h"

namespace orvel {

// Room for the longest sense a device may return (descriptor format included).
inline constexpr std::size_t kRawSenseSize = 64;

// Fills `hdr` for the pass-through `block` (header, sense at 48, data at 80),
// with `rawSense` as the device's sense buffer. Clears the data area of a
// command that reads, so bytes that never arrive read as zero. false when the
// block is malformed (bad length field, CDB length, direction or transfer
// length); the block is then untouched.
bool PassThroughToSgIo(std::span<std::uint8_t> block, std::span<std::uint8_t> rawSense, sg_io_hdr_t& hdr);

// Writes the outcome of a completed SG_IO call back into `block`: ScsiStatus,
// the sense area in fixed format and DataTransferLength (bytes that really
// moved). TimedOut for a host or driver time-out, Failed for any other
// transport error (ScsiStatus then stays as it was), Done otherwise.
PassThroughResult SgIoToPassThrough(const sg_io_hdr_t& hdr, std::span<const std::uint8_t> rawSense,
                                    std::span<std::uint8_t> block);

// Writes `raw` sense (fixed 0x70/0x71 or descriptor 0x72/0x73; byte 0 taken
// without its valid bit) into `fixed` as fixed-format sense, so that bytes 12
// and 13 hold ASC and ASCQ. `fixed` is cleared first; true when the format was
// recognised, false (and `fixed` all zero) otherwise.
bool NormaliseSense(std::span<const std::uint8_t> raw, std::span<std::uint8_t> fixed);

}  // namespace orvel
