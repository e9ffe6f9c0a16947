#include "drive/drive_commands.h"

#include <algorithm>

namespace orvel {

namespace {

constexpr std::uint8_t kCdb6 = 6;
constexpr std::uint8_t kCdb10 = 10;
constexpr std::uint8_t kCdb12 = 12;

constexpr std::size_t kAllocLengthByte = 4;     // INQUIRY, REQUEST SENSE
constexpr std::size_t kControlByte6 = 5;        // TEST UNIT READY
constexpr std::size_t kVariantByte = 3;         // FinishTransfer
constexpr std::size_t kLoaderFlagByte = 9;      // StartRewrite, EnterUpdateMode
constexpr std::size_t kChunkLengthByte = 6;     // bytes 6..7, big-endian
constexpr std::size_t kReadAddressByte = 2;     // bytes 2..5, big-endian
constexpr std::size_t kReadWordByte = 6;        // bytes 6..7, big-endian
constexpr std::size_t kAltReadParamByte = 9;

constexpr unsigned kByteBits = 8;

// Overwrites the whole CDB, so nothing of an earlier command survives in it.
void SetCdb(ScsiTransport& t, std::uint8_t opcode, std::uint8_t length, std::uint8_t direction) {
  ScsiRequest& r = t.Request();
  r.cdb.fill(0);
  r.cdb[0] = opcode;
  r.cdbLength = length;
  r.direction = direction;
}

void PutBe16(ScsiRequest& r, std::size_t at, std::uint16_t v) {
  r.cdb[at] = static_cast<std::uint8_t>(v >> kByteBits);
  r.cdb[at + 1] = static_cast<std::uint8_t>(v);
}

void PutBe32(ScsiRequest& r, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) {
    r.cdb[at + i] = static_cast<std::uint8_t>(v >> (kByteBits * (3 - i)));
  }
}

// A firmware read counts only when every byte of the block arrived; the part
// that did not arrive is cleared so no earlier block's bytes remain in it.
int CheckFullBlock(ScsiTransport& t, int result) {
  if (result != 1) {
    return result;
  }
  if (t.lastTransferred < kFirmwareBlockSize) {
    auto tail = t.DataBuffer().subspan(t.lastTransferred);
    std::fill(tail.begin(), tail.end(), std::uint8_t{0});
    return 0;
  }
  return 1;
}

int ReadAddressForm(ScsiTransport& t, std::uint32_t address) {
  SetCdb(t, kOpReadFirmware, kCdb12, DataIn);
  PutBe32(t.Request(), kReadAddressByte, address);
  PutBe16(t.Request(), kReadWordByte, kReadAddressFormWord);
  return CheckFullBlock(t, t.ExecuteCommand(kFirmwareBlockSize));
}

int ReadAlternateForm(ScsiTransport& t) {
  SetCdb(t, kOpReadFirmwareAlt, kCdb12, DataIn);
  t.Request().cdb[kAltReadParamByte] = kAltReadByte9;
  return CheckFullBlock(t, t.ExecuteCommand(kFirmwareBlockSize));
}

}  // namespace

int Inquiry(ScsiTransport& t) {
  SetCdb(t, kOpInquiry, kCdb6, DataIn);
  t.Request().cdb[kAllocLengthByte] = static_cast<std::uint8_t>(kInquiryLength);
  // Stale bytes of an earlier command must never pass for identification.
  auto area = t.DataBuffer().first(kInquiryLength);
  std::fill(area.begin(), area.end(), std::uint8_t{0});
  return t.ExecuteCommand(kInquiryLength);
}

int RequestSense(ScsiTransport& t) {
  SetCdb(t, kOpRequestSense, kCdb6, DataIn);
  t.Request().cdb[kAllocLengthByte] = static_cast<std::uint8_t>(kRequestSenseLength);
  return t.ExecuteCommand(kRequestSenseLength);
}

int FinishTransfer(ScsiTransport& t, std::uint8_t variant) {
  SetCdb(t, kOpFinishTransfer, kCdb10, DataNone);
  t.Request().cdb[kVariantByte] = variant;
  return t.ExecuteCommand(0);
}

int StartRewrite(ScsiTransport& t, int updateLoader, int loaderUpdateForced, int loaderUpdateBarred) {
  const bool checked = updateLoader != 0;
  SetCdb(t, kOpStartRewrite, kCdb10, DataNone);
  const bool includeLoader = (checked || loaderUpdateForced != 0) && loaderUpdateBarred == 0;
  t.Request().cdb[kLoaderFlagByte] = includeLoader ? kLoaderByte : std::uint8_t{0};
  return t.ExecuteCommand(0);
}

int SendImageChunk(ScsiTransport& t, std::uint16_t chunkLength, ChunkForm form) {
  if (form == ChunkForm::Twelve) {
    SetCdb(t, kOpSendChunk12, kCdb12, DataOut);
  } else {
    SetCdb(t, kOpSendChunk10, kCdb10, DataOut);
  }
  PutBe16(t.Request(), kChunkLengthByte, chunkLength);
  return t.ExecuteCommand(kChunkTransferLength);
}

int PollRewriteStatus(ScsiTransport& t) {
  SetCdb(t, kOpTestUnitReady, kCdb6, DataNone);
  t.Request().cdb[kControlByte6] = kPollControlByte;
  return t.ExecuteCommand(0);
}

int EnterUpdateMode(ScsiTransport& t, int loaderFlag) {
  SetCdb(t, kOpEnterUpdateMode, kCdb10, DataNone);
  t.Request().cdb[kLoaderFlagByte] = loaderFlag == 1 ? kLoaderByte : std::uint8_t{0};
  return t.ExecuteCommand(0);
}

int ReadFirmwareBlock(ScsiTransport& t, std::uint32_t address, int& alternateReadForm) {
  if (alternateReadForm != 0) {
    return ReadAlternateForm(t);
  }
  if (ReadAddressForm(t, address) == 1) {
    return 1;
  }
  if (t.lastAsc != kAscInvalidOpcode || t.lastAscq != 0) {
    return 0;
  }
  const int result = ReadAlternateForm(t);
  if (result == 1) {
    alternateReadForm = 1;
  }
  return result;
}

}  // namespace orvel
