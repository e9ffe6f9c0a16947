// Update-mode entry (UpdateProcedure::SwitchDriveToUpdateMode) against a
// simulated drive whose loader and identification block come from the input,
// on either route, with either read form, and with a fault on the way.
// Without a fault every route must judge the block the drive holds.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/catalogue.h"
#include "fuzz/input_layouts.h"
#include "sim/sim_machine.h"
#include "transport/scsi_transport.h"
#include "update/update_procedure.h"

namespace {

using namespace orvel;

constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpEnterUpdateMode = 0xE4;
constexpr std::uint8_t kOpReadAddress = 0xE3;
constexpr std::uint8_t kOpReadAlternate = 0xA8;
constexpr std::size_t kBlankLength = 8;

void Require(bool ok) {
  if (!ok) std::abort();
}

// Nobody at the controls: update-mode entry asks nothing and shows nothing.
class NoHost final : public UpdateHost {
 public:
  std::string SelectedSourceName() override { return {}; }
  int BackupCheckState() override { return 0; }
  int UpdateLoaderState() override { return 0; }
  int PassTypeCheckState() override { return 0; }
  std::string PasswordEntry() override { return {}; }
  void SetPage(int) override {}
  void SetProgress(int) override {}
  void SetBackupCheckState(int) override {}
  void PushMembers() override {}
  void UpdateStarted() override {}
  void CloseAllowed() override {}
  void ShowBackupNotPossible() override {}
  void ShowFileError(std::string_view, FileError) override {}
  void ShowMachineNotKeptAwake(std::string_view) override {}
};

sim::FaultRule FaultOf(fuzz::ModeFault fault, bool alternate, std::uint16_t shortBytes, std::uint8_t asc,
                       std::uint8_t ascq) {
  sim::FaultRule rule;
  rule.opcode = alternate ? kOpReadAlternate : kOpReadAddress;
  rule.sense = sim::Sense{sim::kKeyMediumError, asc, ascq};
  rule.shortBytes = shortBytes;
  switch (fault) {
    case fuzz::ModeFault::Short: rule.kind = sim::FaultKind::ShortData; break;
    case fuzz::ModeFault::Check: rule.kind = sim::FaultKind::Check; break;
    case fuzz::ModeFault::Timeout: rule.kind = sim::FaultKind::Timeout; break;
    case fuzz::ModeFault::Fail: rule.kind = sim::FaultKind::Fail; break;
    case fuzz::ModeFault::Aborted: rule.kind = sim::FaultKind::Aborted; break;
    case fuzz::ModeFault::InquiryShort:
      rule.opcode = kOpInquiry;
      rule.kind = sim::FaultKind::ShortData;
      break;
    case fuzz::ModeFault::SecondSwitchCheck:
      rule.opcode = kOpEnterUpdateMode;
      rule.occurrence = 2;
      rule.kind = sim::FaultKind::Check;
      break;
    case fuzz::ModeFault::None: break;
  }
  return rule;
}

// One machine for every run, with a drive for each LoaderTable row at cdrom
// name and ASPI target of its index: building drives costs megabytes, a run
// only resets the one it uses.
class Bench {
 public:
  Bench() : machine_(kPlatformNt, "/nonexistent/orvel-fuzz") {
    machine_.Aspi().adapterCount = kAdapters;
    machine_.GetTrace().SetEnabled(false);
    for (std::size_t row = 0; row < kLoaderRows; ++row) {
      const int family = LoaderRow(static_cast<int>(row)).family;
      sim::DriveBehaviour behaviour;
      behaviour.loaderRow = static_cast<int>(row);
      sim::DriveIdentity identity;
      identity.product = sim::NormalProductId(0);
      machine_.AddDrive(std::make_unique<sim::SimDrive>(family, identity, std::vector<std::uint8_t>(), behaviour),
                        sim::Attachment{machine_.DeviceName(TransportMode::CdromDevice, static_cast<std::uint8_t>(row)),
                                        AdapterOf(row), TargetOf(row)});
    }
  }

  sim::SimMachine& machine() { return machine_; }

  // The drive of loader row `row`, as it is after a power cycle, with the
  // 16 KiB its loader reads at idAddress set to `window` and zeros.
  sim::SimDrive& Reset(std::size_t row, std::span<const std::uint8_t> window) {
    sim::SimDrive& drive = machine_.Drive(row);
    drive.PowerCycle();
    sim::DriveBehaviour behaviour;
    behaviour.loaderRow = static_cast<int>(row);
    drive.Behaviour() = behaviour;
    const std::span<std::uint8_t> flash = drive.MutableFlash();
    const std::size_t at = std::min<std::size_t>(LoaderRow(static_cast<int>(row)).idAddress, flash.size());
    const std::span<std::uint8_t> read = flash.subspan(at, std::min<std::size_t>(kDataBufferSize, flash.size() - at));
    std::fill(read.begin(), read.end(), 0);
    std::copy_n(window.begin(), std::min(window.size(), read.size()), read.begin());
    machine_.Faults().clear();
    return drive;
  }

  static std::uint8_t AdapterOf(std::size_t row) { return static_cast<std::uint8_t>(row / sim::kTargetsPerAdapter); }
  static std::uint8_t TargetOf(std::size_t row) { return static_cast<std::uint8_t>(row % sim::kTargetsPerAdapter); }

 private:
  static constexpr std::uint8_t kAdapters = 2;
  sim::SimMachine machine_;
};

// A transport in the same place every run (the machine keeps one entry per data buffer it saw).
std::optional<ScsiTransport> transportSlot;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < fuzz::kModeHeader) return 0;
  static Bench bench;
  const std::size_t choice = data[0] % (kLoaderRows + 1);
  const std::uint8_t flags = data[1];
  const std::uint16_t shortField = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
  const auto fault = static_cast<fuzz::ModeFault>((flags >> fuzz::kModeFaultShift) & fuzz::kModeFaultMask);
  const bool alternate = (flags & fuzz::kModeAlternateForm) != 0;
  const bool staysNormal = choice == kLoaderRows;
  const std::size_t row = staysNormal ? 0 : choice;
  const std::span<const std::uint8_t> window = std::span(data, size).subspan(fuzz::kModeHeader);

  sim::SimDrive& drive = bench.Reset(row, window);
  drive.Behaviour().switchesToUpdateMode = !staysNormal;
  drive.Behaviour().refuseAddressRead = (flags & fuzz::kModeRefuseAddressRead) != 0;
  // What the loader's read delivers: the flash from idAddress, erased beyond its end.
  const LoaderEntry& loader = LoaderRow(static_cast<int>(row));
  std::array<std::uint8_t, kDataBufferSize> block;
  block.fill(0xFF);
  const std::span<const std::uint8_t> flash = drive.Flash();
  if (loader.idAddress < flash.size()) {
    std::copy_n(flash.begin() + loader.idAddress, std::min<std::size_t>(kDataBufferSize, flash.size() - loader.idAddress),
                block.begin());
  }

  sim::SimMachine& machine = bench.machine();
  const bool aspi = (flags & fuzz::kModeAspi) != 0;
  machine.SetPlatformId(aspi ? kPlatformWindows : kPlatformNt);
  if (fault != fuzz::ModeFault::None) {
    machine.AddFault(FaultOf(fault, alternate, static_cast<std::uint16_t>(shortField % (kDataBufferSize + 1)),
                             data[2], data[3]));
  }

  NoHost host;
  ScsiTransport& transport = transportSlot.emplace(machine);
  TransportMessage message;
  Require(transport.SelectTransport(&message));
  if (aspi) {
    transport.address.adapterId = Bench::AdapterOf(row);
    transport.address.targetId = Bench::TargetOf(row);
  } else {
    transport.address.deviceNumber = static_cast<std::uint8_t>(row);
  }
  {
    UpdateProcedure proc(transport, host);
    proc.alternateReadForm = alternate ? 1 : 0;
    const int result = proc.SwitchDriveToUpdateMode();
    Require(result == 1 || result == 0 || result == -2);
    if (result == -2) {
      Require(std::all_of(proc.driveTypeCode.begin(), proc.driveTypeCode.begin() + kTypeCodeLength,
                          [](char c) { return static_cast<unsigned char>(c) == 0xFF; }));
    } else if (result == 1) {
      Require(proc.driveFamily >= 0 && proc.driveFamily <= kLastFamily && proc.driveTypeCode[kTypeCodeLength] == '\0');
    } else {
      Require(!proc.lastAttempt.detail.empty());
    }
    if (fault == fuzz::ModeFault::None) {
      // Whatever the route and read form: the block the drive holds decides.
      const bool blank = std::all_of(block.begin(), block.begin() + kBlankLength, [](std::uint8_t b) { return b == 0xFF; });
      // The start decides; the family-1 loader's code further in only when the start names nothing.
      std::optional<DriveFamilyMatch> match = FindDriveFamily(block);
      if (!match) match = FindLoaderFamilyCode(loader.family, block);
      const int expected = staysNormal ? 0 : blank ? -2 : match ? 1 : 0;
      Require(result == expected);
      if (result == 1) Require(proc.driveFamily == match->family);
    }
  }
  // A request that outlasted its wait finishes now, into a transport still there.
  machine.Sleep(sim::kTimeoutFaultMs);
  Require(machine.PendingRequests() == 0 && machine.OpenDeviceCount() == 0);
  transportSlot.reset();
  return 0;
}
