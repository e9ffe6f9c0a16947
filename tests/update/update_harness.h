#pragma once
// A simulated machine with one drive, a recording host and the update
// procedure, in a temporary working directory. Pauses run on the virtual clock.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/forwarding_platform.h"
#include "sim/sim_machine.h"
#include "transport/scsi_transport.h"
#include "update/update_procedure.h"

namespace orvel::testing {

// Everything the procedure reports, in one ordered log, plus handy views.
class RecordingHost : public UpdateHost {
 public:
  std::string source;
  int backupState = 0;
  int updateLoader = 0;
  int passType = 0;
  std::string password;

  std::vector<std::string> log;      // "page 6", "progress 12", "sleep 200", "started", ...
  std::vector<int> pages;
  std::vector<int> progress;
  std::vector<int> backupStatesSet;
  int pushes = 0;
  int started = 0;
  int closeAllowed = 0;
  int backupNotices = 0;
  std::vector<std::string> fileErrors;
  std::vector<std::string> notKeptAwake;  // the reasons, in order

  std::string SelectedSourceName() override { return source; }
  int BackupCheckState() override { return backupState; }
  int UpdateLoaderState() override { return updateLoader; }
  int PassTypeCheckState() override { return passType; }
  std::string PasswordEntry() override { return password; }
  void SetPage(int page) override;
  void SetProgress(int position) override;
  void SetBackupCheckState(int state) override;
  void PushMembers() override;
  void UpdateStarted() override;
  void CloseAllowed() override;
  void ShowBackupNotPossible() override;
  void ShowFileError(std::string_view name, FileError error) override;
  void ShowMachineNotKeptAwake(std::string_view why) override;
};

// The simulated machine seen through a platform that writes each pause, and
// the begin and end of an attempt with the number of commands the drive had
// received by then ("begin attempt 0"), into the host's log. An interruption
// may be scripted for the end of an attempt; acting on one is only recorded.
class PausePlatform : public ForwardingPlatform {
 public:
  PausePlatform(sim::SimMachine& machine, RecordingHost& host)
      : ForwardingPlatform(machine), machine_(machine), host_(host) {}
  void Sleep(std::uint32_t ms) override;
  AttemptHold BeginAttempt() override;
  Interruption EndAttempt() override;
  void ActOnInterruption(Interruption interruption) override { actedOn.push_back(interruption); }
  std::uint64_t MonotonicMilliseconds() override { return clockStandsStill ? 0 : ForwardingPlatform::MonotonicMilliseconds(); }

  Interruption heldAtEnd = 0;  // returned by EndAttempt when not 0
  bool clockStandsStill = false;
  std::vector<Interruption> actedOn;
  // Set: every claim answers so (and the machine is not asked).
  DeviceClaimResult ClaimListedDevice(std::string_view name) override {
    return claimAnswer ? *claimAnswer : ForwardingPlatform::ClaimListedDevice(name);
  }
  std::optional<DeviceClaimResult> claimAnswer;

 private:
  sim::SimMachine& machine_;
  RecordingHost& host_;
};

struct Rig {
  // A drive of `family` holding firmware of type code `driveCode`.
  Rig(int family, std::string_view driveCode, sim::DriveBehaviour behaviour = {},
      std::uint32_t platformId = kPlatformNt);
  ~Rig();

  // Writes `name` into the working directory.
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  std::vector<std::uint8_t> ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // Writes the file form of a newer image of `code` for `family` and selects it.
  std::string SelectNewerFile(int family, std::string_view code, std::string name = {});
  void Select(const std::string& name);
  int Attempt();  // the Start press on the listed drive at "cdrom0" (address 0)

  bool FlashIs(const std::vector<std::uint8_t>& image) const;
  std::size_t Count(std::uint8_t opcode) const { return machine->GetTrace().Count(opcode); }
  // The CDBs the drive received, as upper-case hex with blanks.
  std::vector<std::string> Cdbs() const;

  std::filesystem::path dir;
  std::unique_ptr<sim::SimMachine> machine;
  RecordingHost host;
  std::unique_ptr<PausePlatform> platform;
  std::unique_ptr<ScsiTransport> transport;
  std::unique_ptr<UpdateProcedure> proc;
  sim::SimDrive* drive = nullptr;
  std::vector<std::uint8_t> installed;  // the drive's firmware at the start
  std::vector<std::uint8_t> newer;      // the plain image of the selected file
};

std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace orvel::testing
