// A WNASPI32.DLL of our own for the Windows tests: the two ASPI entry points,
// answering SRB_ExecSCSICmd requests from one simulated drive at adapter 0,
// target 0, through the block's real pointers (SRB_BufPointer, and the event
// in SRB_PostProc). Built a second time without SendASPI32Command, for the
// missing-entry-point row. Tests steer it through its Orvel* exports.

#include "platform/win32/windows_shim.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "firmware/sample_firmware.h"
#include "sim/sim_drive.h"
#include "tests/win32/test_aspi_control.h"
#include "platform/request_blocks.h"

namespace {

using orvel::GetLe32;
namespace srb = orvel::srb;

constexpr int kDriveFamily = 4;
constexpr std::size_t kSenseFormatByte = 0;
constexpr std::size_t kSenseKeyByte = 2;
constexpr std::size_t kSenseExtraLengthByte = 7;
constexpr std::size_t kSenseAscByte = 12;
constexpr std::size_t kSenseAscqByte = 13;
constexpr std::uint8_t kFixedSenseCurrent = 0x70;
constexpr std::uint8_t kFixedSenseExtraLength = 10;
constexpr DWORD kAsyncDelayMs = 20;  // long enough that the caller sees SS_PENDING first
constexpr std::uint8_t kStatusGood = 0x00;

struct State {
  std::unique_ptr<orvel::sim::SimDrive> drive;
  int mode = orvel::test_aspi::kCompleteSynchronously;
  std::uint32_t supportInfo = (srb::SS_COMP << 8) | 1;
  std::uint8_t statusOverride = 0;  // 0: the drive's own outcome
  long requests = 0;
  std::uint8_t* held = nullptr;     // a request kept pending (mode kNeverComplete)
};

State& Aspi() {
  static State state;
  if (!state.drive) {
    orvel::sim::DriveIdentity identity;
    identity.product = orvel::sim::NormalProductId(0);
    state.drive = std::make_unique<orvel::sim::SimDrive>(kDriveFamily, identity, std::vector<std::uint8_t>{});
  }
  return state;
}

// Carries the request out on the drive and writes the final status (and sense).
void Complete(std::uint8_t* block) {
  State& s = Aspi();
  const std::span<std::uint8_t> b(block, srb::kSize);
  std::uint8_t status = srb::SS_NO_DEVICE;
  if (b[srb::kHaId] == 0 && b[srb::kTarget] == 0 && b[srb::kLun] == 0) {
    auto* data = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(GetLe32(b, srb::kBufPointer)));
    const std::uint32_t length = GetLe32(b, srb::kBufLen);
    const std::span<std::uint8_t> buffer(data, data != nullptr ? length : 0);
    const bool in = (b[srb::kFlags] & srb::SRB_DIR_IN) != 0;
    const bool out = (b[srb::kFlags] & srb::SRB_DIR_OUT) != 0;
    const auto answer = s.drive->Execute(b.subspan(srb::kCdbByte, b[srb::kCdbLen]),
                                         out ? buffer : std::span<std::uint8_t>(), in ? buffer : std::span<std::uint8_t>());
    if (answer.status == kStatusGood) {
      status = srb::SS_COMP;
    } else {
      status = srb::SS_ERR;
      auto sense = b.subspan(srb::kSenseArea, srb::kSenseAreaSize);
      std::fill(sense.begin(), sense.end(), 0);
      sense[kSenseFormatByte] = kFixedSenseCurrent;
      sense[kSenseKeyByte] = answer.sense.key;
      sense[kSenseExtraLengthByte] = kFixedSenseExtraLength;
      sense[kSenseAscByte] = answer.sense.asc;
      sense[kSenseAscqByte] = answer.sense.ascq;
    }
  }
  if (s.statusOverride != 0) status = s.statusOverride;
  b[srb::kStatus] = status;
  if ((b[srb::kFlags] & srb::SRB_EVENT_NOTIFY) != 0) {
    ::SetEvent(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(GetLe32(b, srb::kPostProc))));
  }
}

#ifndef ORVEL_TEST_ASPI_WITHOUT_SEND
DWORD WINAPI CompleteLater(LPVOID block) {
  ::Sleep(kAsyncDelayMs);
  Complete(static_cast<std::uint8_t*>(block));
  return 0;
}
#endif

}  // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() { return Aspi().supportInfo; }

#ifndef ORVEL_TEST_ASPI_WITHOUT_SEND
__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
  State& s = Aspi();
  auto* block = static_cast<std::uint8_t*>(request);
  ++s.requests;
  if (block[srb::kCmd] != srb::SC_EXEC_SCSI_CMD) return srb::SS_ERR;
  block[srb::kStatus] = srb::SS_PENDING;
  switch (s.mode) {
    case orvel::test_aspi::kNeverComplete:
      s.held = block;
      break;
    case orvel::test_aspi::kCompleteLater: {
      const HANDLE worker = ::CreateThread(nullptr, 0, CompleteLater, block, 0, nullptr);
      if (worker != nullptr) ::CloseHandle(worker);
      break;
    }
    default:
      Complete(block);
      break;
  }
  return block[srb::kStatus];
}
#endif

__declspec(dllexport) void __cdecl OrvelAspiConfigure(int mode, std::uint32_t supportInfo, std::uint8_t statusOverride) {
  State& s = Aspi();
  s.mode = mode;
  s.supportInfo = supportInfo;
  s.statusOverride = statusOverride;
}

__declspec(dllexport) long __cdecl OrvelAspiRequests() { return Aspi().requests; }

__declspec(dllexport) int __cdecl OrvelAspiRelease() {
  State& s = Aspi();
  if (s.held == nullptr) return 0;
  std::uint8_t* block = s.held;
  s.held = nullptr;
  Complete(block);
  return 1;
}

}  // extern "C"
