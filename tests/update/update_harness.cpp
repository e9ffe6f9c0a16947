#include "tests/update/update_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "drive/discovery.h"
#include "firmware/sample_firmware.h"
#include "sim/scenarios.h"
#include "tests/support/scratch_dir.h"

namespace orvel::testing {

namespace {

// Images are made once per kind: hundreds of rigs use the same few.
const std::vector<std::uint8_t>& Image(int family, std::string_view code, std::string_view description,
                                       std::uint32_t seed) {
  static std::map<std::string, std::vector<std::uint8_t>> made;
  const std::string key = std::to_string(family) + "/" + std::string(code) + "/" + std::string(description) + "/" +
                          std::to_string(seed);
  auto it = made.find(key);
  if (it == made.end()) it = made.emplace(key, sim::MakeDriveImage(family, code, description, seed)).first;
  return it->second;
}

}  // namespace

void RecordingHost::SetPage(int page) {
  pages.push_back(page);
  log.push_back("page " + std::to_string(page));
}
void RecordingHost::SetProgress(int position) {
  progress.push_back(position);
  log.push_back("progress " + std::to_string(position));
}
void RecordingHost::SetBackupCheckState(int state) {
  backupState = state;
  backupStatesSet.push_back(state);
}
void RecordingHost::PushMembers() { ++pushes; }
void RecordingHost::UpdateStarted() {
  ++started;
  log.emplace_back("started");
}
void RecordingHost::CloseAllowed() {
  ++closeAllowed;
  log.emplace_back("close allowed");
}
void RecordingHost::ShowBackupNotPossible() {
  ++backupNotices;
  log.emplace_back("backup notice");
}
void RecordingHost::ShowFileError(std::string_view name, FileError) { fileErrors.emplace_back(name); }
void RecordingHost::ShowMachineNotKeptAwake(std::string_view why) {
  notKeptAwake.emplace_back(why);
  log.push_back("not kept awake");
}

void PausePlatform::Sleep(std::uint32_t ms) {
  host_.log.push_back("sleep " + std::to_string(ms));
  ForwardingPlatform::Sleep(ms);
}

AttemptHold PausePlatform::BeginAttempt() {
  host_.log.push_back("begin attempt " + std::to_string(machine_.GetTrace().Entries().size()));
  return ForwardingPlatform::BeginAttempt();
}

Interruption PausePlatform::EndAttempt() {
  host_.log.push_back("end attempt " + std::to_string(machine_.GetTrace().Entries().size()));
  const Interruption held = ForwardingPlatform::EndAttempt();
  return heldAtEnd != 0 ? heldAtEnd : held;
}

Rig::Rig(int family, std::string_view driveCode, sim::DriveBehaviour behaviour, std::uint32_t platformId) {
  // Memory-backed when there is one: every backup is flushed to the disk.
  const std::filesystem::path base =
      std::filesystem::path(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : ::testing::TempDir());
  dir = orvel::testing::MakeScratchDir("orvel_update", base);
  EXPECT_FALSE(dir.empty());
  machine = std::make_unique<sim::SimMachine>(platformId, dir.string());
  installed = Image(family, driveCode, "Installed firmware", 0x1000u + static_cast<unsigned>(family));
  sim::DriveIdentity identity;
  identity.product = sim::NormalProductId(0);
  sim::Attachment where{machine->DeviceName(TransportMode::CdromDevice, 0), 0, 0};
  drive = &machine->AddDrive(std::make_unique<sim::SimDrive>(family, identity, installed, std::move(behaviour)), where);
  platform = std::make_unique<PausePlatform>(*machine, host);
  transport = std::make_unique<ScsiTransport>(*platform);
  TransportMessage message;
  EXPECT_TRUE(transport->SelectTransport(&message)) << message.text;
  // Listed as the dialog lists it, so that an attempt may address it.
  EXPECT_EQ(DiscoverDrives(*transport).size(), 1u);
  transport->address = DriveAddress{};  // the drive's, for tests that send commands themselves
  proc = std::make_unique<UpdateProcedure>(*transport, host);
  machine->GetTrace().Clear();
  host.log.clear();
}

Rig::~Rig() {
  proc.reset();
  transport.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void Rig::WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> Rig::ReadFile(const std::string& name) const {
  std::ifstream in(dir / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Rig::Exists(const std::string& name) const { return std::filesystem::exists(dir / name); }

std::string Rig::SelectNewerFile(int family, std::string_view code, std::string name) {
  newer = Image(family, code, "Newer firmware", 0x2000u + static_cast<unsigned>(family));
  if (name.empty()) name = std::string("NEWFW") + FileExtensionOfFamily(family);
  WriteFile(name, EncodeForFamily(family, newer));
  Select(name);
  return name;
}

void Rig::Select(const std::string& name) {
  host.source = name;
  proc->IdentifySourceFile();
}

int Rig::Attempt() {
  machine->GetTrace().Clear();
  host.log.clear();
  const DriveAddress listed{};
  return proc->RunUpdateAttempt(&listed);
}

bool Rig::FlashIs(const std::vector<std::uint8_t>& image) const {
  return std::ranges::equal(drive->Flash(), image);
}

std::vector<std::string> Rig::Cdbs() const {
  std::vector<std::string> out;
  for (const sim::TraceEntry& e : machine->GetTrace().Entries()) {
    out.push_back(Hex(std::span(e.cdb).first(e.cdbLength)));
  }
  return out;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (const std::uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    s += kDigits[b >> 4];
    s += kDigits[b & 0x0F];
  }
  return s;
}

}  // namespace orvel::testing
