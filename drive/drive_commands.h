#pragma once
// The drive command set: each operation fills the request record and calls
// ExecuteCommand, returning its result (1 success, 0 failure).

#include <cstdint>

#include "transport/scsi_transport.h"

namespace orvel {

inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::uint8_t kOpRequestSense = 0x03;
inline constexpr std::uint8_t kOpTestUnitReady = 0x00;
inline constexpr std::uint8_t kOpFinishTransfer = 0xE0;
inline constexpr std::uint8_t kOpStartRewrite = 0xE1;
inline constexpr std::uint8_t kOpSendChunk10 = 0xE2;
inline constexpr std::uint8_t kOpReadFirmware = 0xE3;
inline constexpr std::uint8_t kOpEnterUpdateMode = 0xE4;
inline constexpr std::uint8_t kOpSendChunk12 = 0xAA;
inline constexpr std::uint8_t kOpReadFirmwareAlt = 0xA8;

inline constexpr std::uint32_t kInquiryLength = 36;
inline constexpr std::uint32_t kRequestSenseLength = 14;
inline constexpr std::uint32_t kFirmwareBlockSize = 16384;
inline constexpr std::uint32_t kChunkTransferLength = 16384;
inline constexpr std::uint8_t kLoaderByte = 0x40;
inline constexpr std::uint8_t kPollControlByte = 0x80;
inline constexpr std::uint8_t kAltReadByte9 = 0x72;
inline constexpr std::uint16_t kReadAddressFormWord = 0x0040;

// Sense codes the program acts on.
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscMediumNotPresent = 0x3A;
inline constexpr std::uint8_t kAscRewritePhase = 0xF7;

enum class ChunkForm { Twelve, Ten };  // 0xAA 12-byte form, 0xE2 10-byte form

int Inquiry(ScsiTransport& t);
int RequestSense(ScsiTransport& t);
int FinishTransfer(ScsiTransport& t, std::uint8_t variant);
// Byte 9 is 0x40 when (updateLoader, the "Update Loader" check state, nonzero
// or forced) and not barred.
int StartRewrite(ScsiTransport& t, int updateLoader, int loaderUpdateForced, int loaderUpdateBarred);
// The chunk (1..16384 bytes) lies at the start of the data buffer; 16384 bytes are always sent.
int SendImageChunk(ScsiTransport& t, std::uint16_t chunkLength, ChunkForm form);
int PollRewriteStatus(ScsiTransport& t);
int EnterUpdateMode(ScsiTransport& t, int loaderFlag);
// 16384 bytes at `address`, or through the alternate form (one fallback on
// 0x20/0x00, which sets alternateReadForm). A read that delivers fewer bytes
// than 16384 fails.
int ReadFirmwareBlock(ScsiTransport& t, std::uint32_t address, int& alternateReadForm);

}  // namespace orvel
