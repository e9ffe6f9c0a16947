#pragma once
// Drive discovery: the command set's Inquiry() at every address of the route,
// in order, and the drive-list labels that carry an address ("cdrom0 :  ",
// "drive1 :  ", "HA:0 ID:3  " followed by 28 identification characters).

#include <string>
#include <string_view>
#include <vector>

#include "transport/scsi_transport.h"

namespace orvel {

struct DriveEntry {
  std::string label;     // as the drive list shows it
  DriveAddress address;  // kept beside the label, so adapters 10 and above work
  std::string vendor;    // INQUIRY bytes 8..15, 16..31, 32..35, as they are
  std::string product;
  std::string revision;
  std::string device;    // pass-through routes: the device name its commands go to
  DeviceNodes nodes;     // the block and generic nodes of that name, where the platform knows them
};

// Probes every address of the transport's mode in order (pass-through
// routes: the platform's route numbers, so a number past 9 is carried only
// by the entry's address, never by its label's digit) and returns one entry
// per drive whose product identification is in the catalogue; no sorting, no
// de-duplication. Has the platform remember each listed device
// (ScsiTransport::RememberListedDrive). Leaves the transport addressed at the
// last address probed.
std::vector<DriveEntry> DiscoverDrives(ScsiTransport& transport);

// The label of the drive at the transport's current address, from INQUIRY data
// in the data buffer (identification cut at a NUL).
std::string FormatDriveLabel(const ScsiTransport& transport, std::span<const std::uint8_t> inquiry);

// Sets the transport's address from a label's fixed digit positions (index 5
// for the device number; 3 and 8 for adapter and target); a non-digit or a
// position past the end gives 0.
void AddressFromLabel(ScsiTransport& transport, std::string_view label);

}  // namespace orvel
