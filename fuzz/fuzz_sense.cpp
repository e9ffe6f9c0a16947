// Arbitrary sense bytes through the Linux normaliser, and through the whole
// SG_IO result translation into a pass-through block.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/linux/sg_io.h"
#include "platform/request_blocks.h"

namespace {

void Check(bool ok) {
  if (!ok) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel;
  const std::span<const std::uint8_t> raw(data, size);
  const std::size_t outSize = size == 0 ? 0 : data[0] % 40;
  std::vector<std::uint8_t> fixed(outSize, 0xCC);
  const bool known = NormaliseSense(raw, fixed);
  if (!known) {
    for (std::uint8_t b : fixed) Check(b == 0);
  } else if (fixed.size() > 13) {
    const std::uint8_t code = raw[0] & 0x7F;
    const std::size_t asc = code >= 0x72 ? 2 : 12;
    Check(fixed[12] == (asc < size ? raw[asc] : 0));
    Check(fixed[13] == (asc + 1 < size ? raw[asc + 1] : 0));
  }

  // The same bytes as a device's sense beside CHECK CONDITION.
  std::array<std::uint8_t, kRawSenseSize> sense{};
  std::copy_n(data, std::min(size, sense.size()), sense.begin());
  std::vector<std::uint8_t> block(spt::kDataArea + 36, 0);
  PutLe16(block, spt::kLength, 44);
  block[spt::kCdbLength] = 6;
  block[spt::kSenseInfoLength] = size > 1 ? data[1] : 14;
  block[spt::kDataIn] = spt::SCSI_IOCTL_DATA_IN;
  PutLe32(block, spt::kDataTransferLength, 36);
  sg_io_hdr_t hdr{};
  Check(PassThroughToSgIo(block, sense, hdr));
  hdr.status = 0x02;
  hdr.driver_status = 0x08;
  hdr.sb_len_wr = static_cast<unsigned char>(size > 2 ? data[2] : 0);  // may claim more than fits
  hdr.resid = size > 3 ? static_cast<int>(data[3]) - 128 : 0;
  SgIoToPassThrough(hdr, sense, block);
  Check(GetLe32(block, spt::kDataTransferLength) <= 36);
  return 0;
}
