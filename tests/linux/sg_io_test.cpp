#include "platform/linux/sg_io.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/request_blocks.h"

namespace orvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Fixed(const Bytes& raw, std::size_t size = 18) {
  Bytes out(size, 0xCC);
  NormaliseSense(raw, out);
  return out;
}

TEST(NormaliseSense, FixedFormatPassesThroughWithAscAt12) {
  Bytes raw(18, 0);
  raw[0] = 0x70;
  raw[2] = 0x05;
  raw[7] = 10;
  raw[12] = 0x20;
  raw[13] = 0x00;
  Bytes out(32, 0xCC);
  EXPECT_TRUE(NormaliseSense(raw, out));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 18), raw);
  EXPECT_EQ(out[20], 0) << "the rest is cleared";

  raw[0] = 0xF0;  // valid bit set
  raw[12] = 0x3A;
  raw[13] = 0x02;
  EXPECT_EQ(Fixed(raw)[12], 0x3A);
  EXPECT_EQ(Fixed(raw)[13], 0x02);
  EXPECT_EQ(Fixed(raw)[0], 0xF0);

  raw[0] = 0x71;
  EXPECT_EQ(Fixed(raw)[12], 0x3A);

  // Sense cut short before ASC: nothing is invented.
  const Bytes shortRaw = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0};
  const Bytes out2 = Fixed(shortRaw);
  EXPECT_EQ(out2[2], 0x02);
  EXPECT_EQ(out2[12], 0);
  EXPECT_EQ(out2[13], 0);
}

TEST(NormaliseSense, DescriptorFormatBecomesFixed) {
  // 0x72: key 5, ASC 0x24 ASCQ 0x00, information descriptor and sense-key-specific descriptor.
  const Bytes raw = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 20,
                     0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78,
                     0x02, 0x06, 0, 0, 0xC0, 0x00, 0x04, 0};
  const Bytes out = Fixed(raw);
  EXPECT_EQ(out[0], 0xF0);
  EXPECT_EQ(out[2], 0x05);
  EXPECT_EQ(out[3], 0x12);
  EXPECT_EQ(out[6], 0x78);
  EXPECT_EQ(out[7], 10);
  EXPECT_EQ(out[12], 0x24);
  EXPECT_EQ(out[13], 0x00);
  EXPECT_EQ(out[15], 0xC0);
  EXPECT_EQ(out[17], 0x04);

  const Bytes deferred = {0xF3, 0x0B, 0xF7, 0x03, 0, 0, 0, 0};
  const Bytes d = Fixed(deferred);
  EXPECT_EQ(d[0], 0x71);
  EXPECT_EQ(d[2], 0x0B);
  EXPECT_EQ(d[12], 0xF7);
  EXPECT_EQ(d[13], 0x03);
  EXPECT_EQ(d[3], 0);

  // An information value above 32 bits does not fit the fixed field and is left out.
  Bytes wide = raw;
  wide[12] = 0x01;
  const Bytes w = Fixed(wide);
  EXPECT_EQ(w[0], 0x70);
  EXPECT_EQ(w[3], 0);
  EXPECT_EQ(w[12], 0x24);
}

TEST(NormaliseSense, BrokenOrUnknownSenseIsHandledSafely) {
  EXPECT_FALSE(NormaliseSense({}, std::span<std::uint8_t>()));
  Bytes out(18, 0xCC);
  EXPECT_FALSE(NormaliseSense(Bytes{}, out));
  EXPECT_EQ(out, Bytes(18, 0));
  for (int c : {0x00, 0x7F, 0x74, 0x6F}) {
    const auto code = static_cast<std::uint8_t>(c);
    out.assign(18, 0xCC);
    EXPECT_FALSE(NormaliseSense(Bytes{code, 0, 0x20, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0}, out));
    EXPECT_EQ(out, Bytes(18, 0)) << int(code);
  }
  // Descriptor lengths that run past the data are ignored, not followed.
  const Bytes runaway = {0x72, 0x05, 0x24, 0x01, 0, 0, 0, 250, 0x00, 0xF0, 0x80};
  const Bytes r = Fixed(runaway);
  EXPECT_EQ(r[12], 0x24);
  EXPECT_EQ(r[13], 0x01);
  // A destination shorter than the sense gets what fits.
  Bytes tiny(4, 0xCC);
  EXPECT_TRUE(NormaliseSense(Bytes{0x72, 0x05, 0x24, 0x01, 0, 0, 0, 0}, tiny));
  EXPECT_EQ(tiny, (Bytes{0x70, 0, 0x05, 0}));
}

// A pass-through block as the transport fills it.
Bytes Block(std::uint8_t dir, std::uint32_t length, std::uint8_t cdbLength = 6) {
  Bytes b(spt::kDataArea + length, 0x99);
  PutLe16(b, spt::kLength, 44);
  b[spt::kScsiStatus] = 0xFF;
  b[spt::kCdbLength] = cdbLength;
  b[spt::kSenseInfoLength] = 14;
  b[spt::kDataIn] = dir;
  PutLe32(b, spt::kDataTransferLength, length);
  PutLe32(b, spt::kTimeOutValue, 2);
  PutLe32(b, spt::kDataBufferOffset, 80);
  PutLe32(b, spt::kSenseInfoOffset, 48);
  b[spt::kCdb] = 0x12;
  return b;
}

TEST(PassThroughToSgIo, TranslatesEveryField) {
  std::array<std::uint8_t, kRawSenseSize> sense{};
  Bytes b = Block(spt::SCSI_IOCTL_DATA_IN, 36);
  sg_io_hdr_t hdr{};
  ASSERT_TRUE(PassThroughToSgIo(b, sense, hdr));
  EXPECT_EQ(hdr.interface_id, 'S');
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(hdr.dxfer_len, 36u);
  EXPECT_EQ(hdr.dxferp, b.data() + 80);
  EXPECT_EQ(hdr.cmdp, b.data() + 28);
  EXPECT_EQ(hdr.cmd_len, 6);
  EXPECT_EQ(hdr.sbp, sense.data());
  EXPECT_EQ(hdr.mx_sb_len, kRawSenseSize);
  EXPECT_EQ(hdr.timeout, 2000u);
  EXPECT_EQ(b[80], 0) << "the read area is cleared";
  EXPECT_EQ(b[80 + 35], 0);

  Bytes out = Block(spt::SCSI_IOCTL_DATA_OUT, 16384, 12);
  ASSERT_TRUE(PassThroughToSgIo(out, sense, hdr));
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(hdr.dxfer_len, 16384u);
  EXPECT_EQ(hdr.cmd_len, 12);
  EXPECT_EQ(out[80], 0x99) << "outgoing data is left alone";

  Bytes none = Block(spt::SCSI_IOCTL_DATA_UNSPECIFIED, 0);
  ASSERT_TRUE(PassThroughToSgIo(none, sense, hdr));
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(hdr.dxfer_len, 0u);
  EXPECT_EQ(hdr.dxferp, nullptr);
}

TEST(PassThroughToSgIo, RefusesMalformedBlocks) {
  std::array<std::uint8_t, kRawSenseSize> sense{};
  sg_io_hdr_t hdr{};
  Bytes tooShort(40, 0);
  EXPECT_FALSE(PassThroughToSgIo(tooShort, sense, hdr));

  Bytes b = Block(spt::SCSI_IOCTL_DATA_IN, 36);
  PutLe16(b, spt::kLength, 48);
  EXPECT_FALSE(PassThroughToSgIo(b, sense, hdr));

  b = Block(spt::SCSI_IOCTL_DATA_IN, 36, 0);
  EXPECT_FALSE(PassThroughToSgIo(b, sense, hdr));
  b = Block(spt::SCSI_IOCTL_DATA_IN, 36, 17);
  EXPECT_FALSE(PassThroughToSgIo(b, sense, hdr));

  b = Block(spt::SCSI_IOCTL_DATA_IN, 36);
  PutLe32(b, spt::kDataTransferLength, 37);  // more than the block holds
  EXPECT_FALSE(PassThroughToSgIo(b, sense, hdr));
  EXPECT_EQ(b[80], 0x99) << "a refused block is untouched";

  b = Block(spt::SCSI_IOCTL_DATA_UNSPECIFIED, 36);
  EXPECT_FALSE(PassThroughToSgIo(b, sense, hdr));
  b = Block(7, 0);
  EXPECT_FALSE(PassThroughToSgIo(b, sense, hdr));
}

TEST(SgIoToPassThrough, WritesStatusSenseAndTransferredLength) {
  std::array<std::uint8_t, kRawSenseSize> sense{};
  Bytes b = Block(spt::SCSI_IOCTL_DATA_IN, 36);
  sg_io_hdr_t hdr{};
  ASSERT_TRUE(PassThroughToSgIo(b, sense, hdr));
  hdr.status = 0;
  hdr.resid = 16;
  EXPECT_EQ(SgIoToPassThrough(hdr, sense, b), PassThroughResult::Done);
  EXPECT_EQ(b[spt::kScsiStatus], 0);
  EXPECT_EQ(GetLe32(b, spt::kDataTransferLength), 20u);

  hdr.resid = -4;
  SgIoToPassThrough(hdr, sense, b);
  EXPECT_EQ(GetLe32(b, spt::kDataTransferLength), 36u);
  hdr.resid = 1000;
  SgIoToPassThrough(hdr, sense, b);
  EXPECT_EQ(GetLe32(b, spt::kDataTransferLength), 0u);

  // CHECK CONDITION with descriptor sense lands in fixed form at offsets 60/61.
  const Bytes desc = {0x72, 0x02, 0x3A, 0x01, 0, 0, 0, 0};
  std::copy(desc.begin(), desc.end(), sense.begin());
  hdr = {};
  hdr.dxfer_len = 36;
  hdr.status = 0x02;
  hdr.driver_status = 0x08;
  hdr.sb_len_wr = static_cast<unsigned char>(desc.size());
  EXPECT_EQ(SgIoToPassThrough(hdr, sense, b), PassThroughResult::Done);
  EXPECT_EQ(b[spt::kScsiStatus], 0x02);
  EXPECT_EQ(b[spt::kSenseArea], 0x70);
  EXPECT_EQ(b[60], 0x3A);
  EXPECT_EQ(b[61], 0x01);

  // Sense reported beside GOOD by the driver still counts as CHECK CONDITION.
  hdr.status = 0x00;
  EXPECT_EQ(SgIoToPassThrough(hdr, sense, b), PassThroughResult::Done);
  EXPECT_EQ(b[spt::kScsiStatus], 0x02);
}

TEST(SgIoToPassThrough, TransportErrorsAreNotStatuses) {
  std::array<std::uint8_t, kRawSenseSize> sense{};
  Bytes b = Block(spt::SCSI_IOCTL_DATA_UNSPECIFIED, 0);
  sg_io_hdr_t hdr{};
  hdr.host_status = 0x03;
  EXPECT_EQ(SgIoToPassThrough(hdr, sense, b), PassThroughResult::TimedOut);
  hdr = {};
  hdr.driver_status = 0x06;
  EXPECT_EQ(SgIoToPassThrough(hdr, sense, b), PassThroughResult::TimedOut);
  hdr = {};
  hdr.host_status = 0x01;  // no connection
  EXPECT_EQ(SgIoToPassThrough(hdr, sense, b), PassThroughResult::Failed);
  hdr = {};
  hdr.driver_status = 0x04;
  EXPECT_EQ(SgIoToPassThrough(hdr, sense, b), PassThroughResult::Failed);
  EXPECT_EQ(b[spt::kScsiStatus], 0xFF) << "status stays unset";
}

}  // namespace
}  // namespace orvel
