#include "drive/discovery.h"

#include <algorithm>
#include <array>

#include "drive/drive_commands.h"
#include "firmware/catalogue.h"

namespace orvel {

namespace {

constexpr std::size_t kIdentStart = 8;     // vendor, product, revision: bytes 8..35
constexpr std::size_t kIdentLength = 28;
constexpr std::size_t kVendorLength = 8;
constexpr std::size_t kProductStart = 16;
constexpr std::size_t kRevisionStart = 32;
constexpr std::size_t kRevisionLength = 4;
constexpr std::size_t kAdditionalLengthByte = 4;  // of the answer
constexpr std::size_t kInquiryHeaderBytes = 5;  // bytes 0..4 come before the additional length counts

constexpr int kTargetsPerAdapter = 8;

constexpr std::size_t kDeviceDigitIndex = 5;
constexpr std::size_t kAdapterDigitIndex = 3;
constexpr std::size_t kTargetDigitIndex = 8;

constexpr std::string_view kCdromPrefix = "cdrom";
constexpr std::string_view kDrivePrefix = "drive";
constexpr std::string_view kPrefixEnd = " :  ";
constexpr std::string_view kAdapterPrefix = "HA:";
constexpr std::string_view kTargetPrefix = " ID:";
constexpr std::string_view kAspiPrefixEnd = "  ";

// Text of `count` bytes from `at`, ending early at a NUL; missing bytes count as NUL.
std::string TextField(std::span<const std::uint8_t> data, std::size_t at, std::size_t count) {
  std::string text;
  for (std::size_t i = at; i < at + count && i < data.size() && data[i] != 0; ++i) {
    text += static_cast<char>(data[i]);
  }
  return text;
}

std::uint8_t DigitAt(std::string_view label, std::size_t index) {
  if (index < label.size() && label[index] >= '0' && label[index] <= '9') {
    return static_cast<std::uint8_t>(label[index] - '0');
  }
  return 0;
}

// Probes the transport's current address; appends an entry for a catalogue drive.
void Probe(ScsiTransport& transport, std::vector<DriveEntry>& drives) {
  if (Inquiry(transport) != 1) {
    return;
  }
  // Only bytes the answer defines count: those that arrived and that its
  // additional length covers. The rest reads as zero.
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  auto data = transport.DataBuffer().first(kInquiryLength);
  std::size_t defined = std::min<std::size_t>(transport.lastTransferred, kInquiryLength);
  if (defined > kAdditionalLengthByte) {
    defined = std::min<std::size_t>(defined, kInquiryHeaderBytes + data[kAdditionalLengthByte]);
  }
  std::copy_n(data.begin(), defined, inquiry.begin());

  const std::span<const std::uint8_t, kProductIdLength> productId(inquiry.data() + kProductStart, kProductIdLength);
  if (!FindProductId(productId)) {
    return;
  }
  // Before an attempt the platform confirms, without a command, that the
  // address still leads to this device.
  transport.RememberListedDrive();
  DriveEntry entry;
  entry.label = FormatDriveLabel(transport, inquiry);
  entry.address = transport.address;
  entry.vendor = TextField(inquiry, kIdentStart, kVendorLength);
  entry.product = TextField(inquiry, kProductStart, kProductIdLength);
  entry.revision = TextField(inquiry, kRevisionStart, kRevisionLength);
  if (transport.mode != TransportMode::Aspi) {
    Platform& platform = transport.GetPlatform();
    entry.device = platform.DeviceName(transport.mode, transport.address.deviceNumber);
    entry.nodes = platform.NodesOf(entry.device);
  }
  drives.push_back(std::move(entry));
}

}  // namespace

std::string FormatDriveLabel(const ScsiTransport& transport, std::span<const std::uint8_t> inquiry) {
  std::string label;
  const DriveAddress& a = transport.address;
  switch (transport.mode) {
    case TransportMode::CdromDevice:
      label = std::string(kCdromPrefix) + std::to_string(a.deviceNumber) + std::string(kPrefixEnd);
      break;
    case TransportMode::DriveLetter:
      label = std::string(kDrivePrefix) + std::to_string(a.deviceNumber) + std::string(kPrefixEnd);
      break;
    case TransportMode::Aspi:
      label = std::string(kAdapterPrefix) + std::to_string(a.adapterId) + std::string(kTargetPrefix) +
              std::to_string(a.targetId) + std::string(kAspiPrefixEnd);
      break;
  }
  return label + TextField(inquiry, kIdentStart, kIdentLength);
}

std::vector<DriveEntry> DiscoverDrives(ScsiTransport& transport) {
  std::vector<DriveEntry> drives;
  if (transport.mode == TransportMode::Aspi) {
    for (int adapter = 0; adapter < transport.adapterCount; ++adapter) {
      for (int target = 0; target < kTargetsPerAdapter; ++target) {
        transport.address = DriveAddress{static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target), 0};
        Probe(transport, drives);
      }
    }
    return drives;
  }
  for (const std::uint16_t n : transport.GetPlatform().RouteDeviceNumbers(transport.mode)) {
    transport.address = DriveAddress{0, 0, n};
    Probe(transport, drives);
  }
  return drives;
}

void AddressFromLabel(ScsiTransport& transport, std::string_view label) {
  if (transport.mode == TransportMode::Aspi) {
    transport.address.adapterId = DigitAt(label, kAdapterDigitIndex);
    transport.address.targetId = DigitAt(label, kTargetDigitIndex);
    return;
  }
  transport.address.deviceNumber = DigitAt(label, kDeviceDigitIndex);
}

}  // namespace orvel
