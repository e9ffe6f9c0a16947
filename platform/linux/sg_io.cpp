#include "platform/linux/sg_io.h"

#include <algorithm>

#include "platform/fixed_sense.h"
#include "platform/request_blocks.h"

namespace orvel {

namespace {

constexpr std::uint8_t kSgInterfaceId = 'S';
constexpr unsigned kMillisecondsPerSecond = 1000;
constexpr std::uint32_t kMaxTimeOutSeconds = 3600;  // keeps the millisecond value in range
constexpr std::size_t kMaxCdbLength = 16;

// Host and driver codes of the SCSI midlayer as SG_IO reports them.
constexpr unsigned kHostOk = 0x00;
constexpr unsigned kHostTimeOut = 0x03;     // DID_TIME_OUT
constexpr unsigned kDriverCodeMask = 0x0F;
constexpr unsigned kDriverOk = 0x00;
constexpr unsigned kDriverTimeOut = 0x06;   // DRIVER_TIMEOUT
constexpr unsigned kDriverSense = 0x08;     // DRIVER_SENSE

// Sense layout.
constexpr std::uint8_t kResponseCodeMask = 0x7F;
constexpr std::uint8_t kValidBit = 0x80;
constexpr std::uint8_t kDescCurrent = 0x72;
constexpr std::uint8_t kDescDeferred = 0x73;
constexpr std::uint8_t kSenseKeyMask = 0x0F;
constexpr std::uint8_t kFixedAddLengthValue = 10;  // bytes 8..17: through the sense-key specific field
constexpr std::size_t kDescSenseKey = 1;
constexpr std::size_t kDescAsc = 2;
constexpr std::size_t kDescAscq = 3;
constexpr std::size_t kDescAddLength = 7;
constexpr std::size_t kDescFirst = 8;
constexpr std::size_t kDescHeader = 2;        // type and additional length
constexpr std::uint8_t kDescTypeInformation = 0x00;
constexpr std::uint8_t kDescTypeSks = 0x02;
constexpr std::size_t kInfoDescValid = 2;
constexpr std::size_t kInfoDescValue = 4;     // 8 bytes, big-endian
constexpr std::size_t kInfoDescLength = 12;
constexpr std::size_t kInfoHighBytes = 4;     // must be zero to fit the fixed field
constexpr std::size_t kSksDescValue = 4;      // 3 bytes
constexpr std::size_t kSksDescLength = 8;
constexpr std::size_t kSksBytes = 3;

void Put(std::span<std::uint8_t> out, std::size_t at, std::uint8_t v) {
  if (at < out.size()) {
    out[at] = v;
  }
}

void NormaliseDescriptors(std::span<const std::uint8_t> raw, std::span<std::uint8_t> fixed) {
  const std::size_t end = raw.size() > kDescAddLength
                              ? std::min<std::size_t>(raw.size(), kDescFirst + raw[kDescAddLength])
                              : raw.size();
  std::size_t at = kDescFirst;
  while (at + kDescHeader <= end) {
    const std::uint8_t type = raw[at];
    const std::size_t size = kDescHeader + raw[at + 1];
    if (at + size > end) {
      break;
    }
    auto d = raw.subspan(at, size);
    if (type == kDescTypeInformation && size >= kInfoDescLength) {
      const bool fits = std::all_of(d.begin() + kInfoDescValue, d.begin() + kInfoDescValue + kInfoHighBytes,
                                    [](std::uint8_t b) { return b == 0; });
      if (fits) {
        for (std::size_t i = 0; i < kInfoHighBytes; ++i) {
          Put(fixed, fixed_sense::kInformation + i, d[kInfoDescValue + kInfoHighBytes + i]);
        }
        if ((d[kInfoDescValid] & kValidBit) != 0 && !fixed.empty()) {
          fixed[0] = static_cast<std::uint8_t>(fixed[0] | kValidBit);
        }
      }
    } else if (type == kDescTypeSks && size >= kSksDescLength) {
      for (std::size_t i = 0; i < kSksBytes; ++i) {
        Put(fixed, fixed_sense::kSenseKeySpecific + i, d[kSksDescValue + i]);
      }
    }
    at += size;
  }
}

}  // namespace

bool NormaliseSense(std::span<const std::uint8_t> raw, std::span<std::uint8_t> fixed) {
  std::fill(fixed.begin(), fixed.end(), std::uint8_t{0});
  if (raw.empty() || fixed.empty()) {
    return false;
  }
  const std::uint8_t code = raw[0] & kResponseCodeMask;
  if (code == fixed_sense::kCurrent || code == fixed_sense::kDeferred) {
    const std::size_t n = std::min(raw.size(), fixed.size());
    std::copy_n(raw.begin(), n, fixed.begin());
    return true;
  }
  if (code != kDescCurrent && code != kDescDeferred) {
    return false;
  }
  fixed[fixed_sense::kResponseCode] = code == kDescCurrent ? fixed_sense::kCurrent : fixed_sense::kDeferred;
  if (raw.size() > kDescSenseKey) {
    Put(fixed, fixed_sense::kSenseKey, raw[kDescSenseKey] & kSenseKeyMask);
  }
  Put(fixed, fixed_sense::kAdditionalLength, kFixedAddLengthValue);
  if (raw.size() > kDescAsc) {
    Put(fixed, fixed_sense::kAsc, raw[kDescAsc]);
  }
  if (raw.size() > kDescAscq) {
    Put(fixed, fixed_sense::kAscq, raw[kDescAscq]);
  }
  NormaliseDescriptors(raw, fixed);
  return true;
}

bool PassThroughToSgIo(std::span<std::uint8_t> block, std::span<std::uint8_t> rawSense, sg_io_hdr_t& hdr) {
  if (block.size() < spt::kDataArea || GetLe16(block, spt::kLength) != spt::kHeaderSize) {
    return false;
  }
  const std::uint8_t cdbLength = block[spt::kCdbLength];
  const std::uint32_t length = GetLe32(block, spt::kDataTransferLength);
  const std::uint8_t dir = block[spt::kDataIn];
  if (cdbLength == 0 || cdbLength > kMaxCdbLength || length > block.size() - spt::kDataArea) {
    return false;
  }
  int sgDirection = SG_DXFER_NONE;
  if (length != 0) {
    if (dir == spt::SCSI_IOCTL_DATA_IN) {
      sgDirection = SG_DXFER_FROM_DEV;
    } else if (dir == spt::SCSI_IOCTL_DATA_OUT) {
      sgDirection = SG_DXFER_TO_DEV;
    } else {
      return false;  // data without a direction cannot be carried safely
    }
  } else if (dir > spt::SCSI_IOCTL_DATA_UNSPECIFIED) {
    return false;
  }
  std::uint32_t seconds = GetLe32(block, spt::kTimeOutValue);
  if (seconds == 0) {
    seconds = spt::kTimeOutSeconds;
  }
  seconds = std::min(seconds, kMaxTimeOutSeconds);

  auto data = block.subspan(spt::kDataArea, length);
  if (sgDirection == SG_DXFER_FROM_DEV) {
    // Some drivers report no residual count; what does not arrive must read as zero.
    std::fill(data.begin(), data.end(), std::uint8_t{0});
  }

  hdr = sg_io_hdr_t{};
  hdr.interface_id = kSgInterfaceId;
  hdr.dxfer_direction = sgDirection;
  hdr.cmd_len = cdbLength;
  hdr.mx_sb_len = static_cast<unsigned char>(std::min<std::size_t>(rawSense.size(), kRawSenseSize));
  hdr.dxfer_len = length;
  hdr.dxferp = length != 0 ? data.data() : nullptr;
  hdr.cmdp = block.data() + spt::kCdb;
  hdr.sbp = rawSense.data();
  hdr.timeout = seconds * kMillisecondsPerSecond;
  return true;
}

PassThroughResult SgIoToPassThrough(const sg_io_hdr_t& hdr, std::span<const std::uint8_t> rawSense,
                                    std::span<std::uint8_t> block) {
  const unsigned driverCode = hdr.driver_status & kDriverCodeMask;
  if (hdr.host_status == kHostTimeOut || driverCode == kDriverTimeOut) {
    return PassThroughResult::TimedOut;
  }
  if (hdr.host_status != kHostOk || (driverCode != kDriverOk && driverCode != kDriverSense)) {
    return PassThroughResult::Failed;
  }
  const std::size_t senseLength = std::min<std::size_t>(hdr.sb_len_wr, rawSense.size());
  std::uint8_t status = hdr.status;
  // Sense delivered beside a GOOD status still means the command ended in error.
  if (status == kStatusGood && driverCode == kDriverSense && senseLength != 0) {
    status = kStatusCheckCondition;
  }
  block[spt::kScsiStatus] = status;

  const std::size_t wanted = std::min<std::size_t>(block[spt::kSenseInfoLength], spt::kSenseAreaSize);
  if (status == kStatusCheckCondition) {
    auto sense = block.subspan(spt::kSenseArea, spt::kSenseAreaSize);
    std::fill(sense.begin(), sense.end(), std::uint8_t{0});
    NormaliseSense(rawSense.first(senseLength), sense.first(wanted));
  }

  const std::uint32_t length = hdr.dxfer_len;
  const std::uint32_t resid = hdr.resid > 0 ? static_cast<std::uint32_t>(hdr.resid) : 0;
  PutLe32(block, spt::kDataTransferLength, resid < length ? length - resid : 0);
  return PassThroughResult::Done;
}

}  // namespace orvel
