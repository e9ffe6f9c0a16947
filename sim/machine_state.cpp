#include "sim/machine_state.h"

#include <algorithm>
#include <array>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "firmware/family_traits.h"
#include "sim/scenarios.h"

namespace orvel::sim {
namespace {

using Json = nlohmann::json;

// machine.json is a few hundred bytes per drive; anything far larger is not ours.
constexpr std::int64_t kMaxStateFileBytes = 1 << 20;
constexpr std::uint64_t kMaxGeneration = std::uint64_t{1} << 52;  // exact in any JSON reader
constexpr std::uint64_t kMaxRewrites = 1000000;
constexpr int kFinishVariants = 8;
constexpr const char* kNewSuffix = ".new";
constexpr const char* kDriveFilePattern = "drive-*";

constexpr const char* kFlashKind = ".flash";
constexpr const char* kReceivedKind = ".received";

std::string DriveFileName(std::size_t index, std::uint64_t generation, const char* kind) {
  return "drive-" + std::to_string(index) + "-" + std::to_string(generation) + kind;
}

// Whether `name` is one of the drive files a save makes: drive-<n>-<g> with
// .flash or .received, and those with .new after them.
bool IsDriveFileName(std::string_view name) {
  constexpr std::string_view kPrefix = "drive-";
  if (!name.starts_with(kPrefix)) return false;
  name.remove_prefix(kPrefix.size());
  if (name.ends_with(kNewSuffix)) name.remove_suffix(std::string_view(kNewSuffix).size());
  for (const std::string_view kind : {std::string_view(kFlashKind), std::string_view(kReceivedKind)}) {
    if (!name.ends_with(kind)) continue;
    name.remove_suffix(kind.size());
    const std::size_t dash = name.find('-');
    const auto digits = [](std::string_view d) {
      return !d.empty() && std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dash != std::string_view::npos && digits(name.substr(0, dash)) && digits(name.substr(dash + 1));
  }
  return false;
}

const char* RewriteName(RewriteState r) {
  switch (r) {
    case RewriteState::Done:
      return "done";
    case RewriteState::Failed:
      return "failed";
    default:
      return "idle";
  }
}

// The whole of a file, if it is exactly `expected` bytes (any length up to
// kMaxStateFileBytes when expected is negative). 1, or 0 with *why.
int ReadWhole(FileSystem& fs, const std::string& name, std::int64_t expected, std::vector<std::uint8_t>* out,
              std::string* why) {
  FileError err = FileError::None;
  const FileHandle h = fs.OpenRead(name, &err);
  if (h == kNoFile) {
    *why = name + ": " + FileErrorText(err);
    return 0;
  }
  const std::int64_t length = fs.Length(h);
  const bool fits = expected < 0 ? length >= 0 && length <= kMaxStateFileBytes : length == expected;
  if (!fits) {
    fs.Close(h);
    *why = name + ": " + std::to_string(length) + " bytes" +
           (expected < 0 ? std::string(" (too large)") : ", expected " + std::to_string(expected));
    return 0;
  }
  out->assign(static_cast<std::size_t>(length), 0);
  std::size_t done = 0;
  while (done < out->size()) {
    const std::int64_t n = fs.ReadAt(h, done, std::span(*out).subspan(done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  fs.Close(h);
  if (done != out->size()) {
    *why = name + ": read back short";
    return 0;
  }
  return 1;
}

// Typed look-ups that never throw: false when the key is missing, of another
// type or out of range.
bool GetUnsigned(const Json& j, const char* key, std::uint64_t max, std::uint64_t* out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_number_unsigned()) return false;
  const std::uint64_t v = it->get<std::uint64_t>();
  if (v > max) return false;
  *out = v;
  return true;
}
bool GetInteger(const Json& j, const char* key, std::int64_t min, std::int64_t max, std::int64_t* out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_number_integer()) return false;
  if (it->is_number_unsigned() && it->get<std::uint64_t>() > static_cast<std::uint64_t>(max)) return false;
  const std::int64_t v = it->get<std::int64_t>();
  if (v < min || v > max) return false;
  *out = v;
  return true;
}
bool GetBool(const Json& j, const char* key, bool* out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_boolean()) return false;
  *out = it->get<bool>();
  return true;
}
bool GetString(const Json& j, const char* key, std::string* out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return false;
  *out = it->get<std::string>();
  return true;
}

int Damaged(std::string* error, const std::string& what) {
  if (error != nullptr) *error = "the kept machine is damaged: " + what;
  return 0;
}

// One drive's entry checked against the drive the scenario built at `index`,
// its flash and received bytes read. 1, or 0 with *why.
int ReadDrive(FileSystem& fs, const Json& j, std::size_t index, std::uint64_t generation, SimMachine& machine,
              std::vector<std::uint8_t>* flash, DriveMemory* memory, std::string* why) {
  SimDrive& drive = machine.Drive(index);
  const Attachment& where = machine.AttachmentOf(index);
  const std::string at = "drive " + std::to_string(index);
  if (!j.is_object()) {
    *why = at + ": not an object";
    return 0;
  }
  std::string device;
  std::uint64_t adapter = 0, target = 0, family = 0;
  constexpr std::uint64_t kByteMax = 0xFF;
  constexpr std::uint64_t kFamilyMax = 0xFF;
  if (!GetString(j, "device", &device) || !GetUnsigned(j, "adapter", kByteMax, &adapter) ||
      !GetUnsigned(j, "target", kByteMax, &target) || !GetUnsigned(j, "family", kFamilyMax, &family)) {
    *why = at + ": attachment or family missing";
    return 0;
  }
  if (device != where.deviceName || adapter != where.adapter || target != where.target ||
      family != static_cast<std::uint64_t>(drive.family())) {
    *why = at + ": not the drive the scenario has there";
    return 0;
  }
  std::string rewrite;
  std::uint64_t enterByte = 0, rewriteByte = 0, rewrites = 0, flashBytes = 0, receivedBytes = 0;
  std::int64_t variant = 0;
  DriveMemory m;
  const bool read = GetBool(j, "updateMode", &m.updateMode) && GetString(j, "vendor", &m.identity.vendor) &&
                    GetString(j, "product", &m.identity.product) && GetString(j, "revision", &m.identity.revision) &&
                    GetString(j, "loaderRevision", &m.identity.loaderRevision) &&
                    GetUnsigned(j, "enterLoaderByte", kByteMax, &enterByte) &&
                    GetUnsigned(j, "rewriteLoaderByte", kByteMax, &rewriteByte) && GetString(j, "rewrite", &rewrite) &&
                    GetUnsigned(j, "rewritesCompleted", kMaxRewrites, &rewrites) &&
                    GetInteger(j, "finishedVariant", -1, kFinishVariants - 1, &variant) &&
                    GetBool(j, "transferFinished", &m.transferFinished) &&
                    GetUnsigned(j, "flashBytes", kFullImageSize, &flashBytes) &&
                    GetUnsigned(j, "receivedBytes", kFullImageSize, &receivedBytes);
  if (!read) {
    *why = at + ": a field is missing or out of range";
    return 0;
  }
  if (rewrite == "idle") {
    m.rewrite = RewriteState::Idle;
  } else if (rewrite == "done") {
    m.rewrite = RewriteState::Done;
  } else if (rewrite == "failed") {
    m.rewrite = RewriteState::Failed;
  } else {
    *why = at + ": unknown rewrite state";
    return 0;
  }
  if (flashBytes != drive.Flash().size()) {
    *why = at + ": flash of " + std::to_string(flashBytes) + " bytes, the drive has " +
           std::to_string(drive.Flash().size());
    return 0;
  }
  m.identity.peripheralType = drive.Identity().peripheralType;
  m.enterLoaderByte = static_cast<std::uint8_t>(enterByte);
  m.rewriteLoaderByte = static_cast<std::uint8_t>(rewriteByte);
  m.rewritesCompleted = static_cast<int>(rewrites);
  m.finishedVariant = static_cast<int>(variant);
  if (ReadWhole(fs, DriveFileName(index, generation, kFlashKind), static_cast<std::int64_t>(flashBytes), flash,
                why) == 0) {
    return 0;
  }
  if (receivedBytes > 0 && ReadWhole(fs, DriveFileName(index, generation, kReceivedKind),
                                     static_cast<std::int64_t>(receivedBytes), &m.received, why) == 0) {
    return 0;
  }
  *memory = std::move(m);
  return 1;
}

// Writes `data` to `name` through a temporary NAME.new, flushed, then renamed
// without replacing (a generation's names are new). 1, or 0 with *error.
int WriteNew(FileSystem& fs, const std::string& name, std::span<const std::uint8_t> data, std::string* error) {
  const std::string temp = name + kNewSuffix;
  fs.Remove(temp);  // left by a run that died while saving
  FileError err = FileError::None;
  const FileHandle h = fs.CreateExclusive(temp, &err);
  if (h == kNoFile) {
    *error = temp + ": " + FileErrorText(err);
    return 0;
  }
  const bool wrote = fs.WriteAll(h, data, &err);
  FileError closeErr = FileError::None;
  const bool closed = fs.SyncAndClose(h, &closeErr);
  if (!wrote || !closed) {
    *error = temp + ": " + FileErrorText(wrote ? closeErr : err);
    fs.Remove(temp);
    return 0;
  }
  fs.Remove(name);  // a file of this generation from a save that never committed
  if (!fs.RenameNoReplace(temp, name, &err)) {
    *error = name + ": " + FileErrorText(err);
    fs.Remove(temp);
    return 0;
  }
  return 1;
}

Json DriveJson(SimMachine& machine, std::size_t index) {
  SimDrive& drive = machine.Drive(index);
  const Attachment& where = machine.AttachmentOf(index);
  const DriveMemory m = drive.Memory();
  return Json{{"device", where.deviceName},
              {"adapter", where.adapter},
              {"target", where.target},
              {"family", drive.family()},
              {"updateMode", m.updateMode},
              {"vendor", m.identity.vendor},
              {"product", m.identity.product},
              {"revision", m.identity.revision},
              {"loaderRevision", m.identity.loaderRevision},
              {"enterLoaderByte", m.enterLoaderByte},
              {"rewriteLoaderByte", m.rewriteLoaderByte},
              {"rewrite", RewriteName(m.rewrite)},
              {"rewritesCompleted", m.rewritesCompleted},
              {"finishedVariant", m.finishedVariant},
              {"transferFinished", m.transferFinished},
              {"flashBytes", drive.Flash().size()},
              {"receivedBytes", m.received.size()}};
}

}  // namespace

int LoadMachineState(FileSystem& directory, std::string_view scenario, SimMachine& machine, std::uint64_t* generation,
                     std::string* error) {
  *generation = 0;
  if (!directory.Exists(kMachineStateFile)) return -1;
  std::vector<std::uint8_t> bytes;
  std::string why;
  if (ReadWhole(directory, kMachineStateFile, -1, &bytes, &why) == 0) return Damaged(error, why);
  const Json j = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) return Damaged(error, std::string(kMachineStateFile) + " is not a JSON object");
  std::string format;
  if (!GetString(j, "format", &format) || format != kMachineStateFormat) {
    return Damaged(error, std::string(kMachineStateFile) + " is not a kept simulated machine");
  }
  std::int64_t version = 0;
  if (!GetInteger(j, "version", 1, std::numeric_limits<std::int32_t>::max(), &version)) {
    return Damaged(error, "no format version");
  }
  if (version > kMachineStateVersion) {
    if (error != nullptr) {
      *error = "the kept machine has format version " + std::to_string(version) + "; this program reads only up to " +
               std::to_string(kMachineStateVersion);
    }
    return 0;
  }
  std::string madeBy;
  if (!GetString(j, "scenario", &madeBy)) return Damaged(error, "no scenario name");
  if (madeBy != scenario) {
    if (error != nullptr) {
      *error = "the directory keeps a machine of scenario \"" + madeBy + "\", not \"" + std::string(scenario) +
               "\": use another directory";
    }
    return 0;
  }
  std::uint64_t kept = 0;
  if (!GetUnsigned(j, "generation", kMaxGeneration, &kept)) return Damaged(error, "no generation");
  const auto drives = j.find("drives");
  if (drives == j.end() || !drives->is_array()) return Damaged(error, "no drive list");
  if (drives->size() != machine.DriveCount()) {
    return Damaged(error, std::to_string(drives->size()) + " drives kept, the scenario has " +
                              std::to_string(machine.DriveCount()));
  }
  // Everything is read and checked before any drive changes.
  std::vector<std::vector<std::uint8_t>> flashes(machine.DriveCount());
  std::vector<DriveMemory> memories(machine.DriveCount());
  for (std::size_t i = 0; i < machine.DriveCount(); ++i) {
    if (ReadDrive(directory, (*drives)[i], i, kept, machine, &flashes[i], &memories[i], &why) == 0) {
      return Damaged(error, why);
    }
  }
  for (std::size_t i = 0; i < machine.DriveCount(); ++i) {
    if (machine.Drive(i).Restore(memories[i]) == 0) return Damaged(error, "drive " + std::to_string(i) + ": does not fit");
    std::copy(flashes[i].begin(), flashes[i].end(), machine.Drive(i).MutableFlash().begin());
  }
  *generation = kept;
  return 1;
}

int SaveMachineState(const std::string& directoryPath, std::string_view scenario, SimMachine& machine,
                     std::uint64_t* generation, std::string* error) {
  std::string why;
  const auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = "the machine could not be kept in " + directoryPath + ": " + what;
    return 0;
  };
  if (*generation >= kMaxGeneration) return fail("generation number exhausted");
  const std::uint64_t next = *generation + 1;
  const std::unique_ptr<FileSystem> fs = MakeNativeFileSystem(directoryPath);
  Json drives = Json::array();
  for (std::size_t i = 0; i < machine.DriveCount(); ++i) {
    SimDrive& drive = machine.Drive(i);
    if (WriteNew(*fs, DriveFileName(i, next, kFlashKind), drive.Flash(), &why) == 0) return fail(why);
    const std::span<const std::uint8_t> received = drive.Received();
    if (!received.empty() && WriteNew(*fs, DriveFileName(i, next, kReceivedKind), received, &why) == 0) {
      return fail(why);
    }
    drives.push_back(DriveJson(machine, i));
  }
  const Json j{{"format", kMachineStateFormat},
               {"version", kMachineStateVersion},
               {"scenario", std::string(scenario)},
               {"generation", next},
               {"drives", std::move(drives)}};
  const std::string text = j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  const std::string temp = std::string(kMachineStateFile) + kNewSuffix;
  fs->Remove(temp);
  FileError err = FileError::None;
  const FileHandle h = fs->CreateExclusive(temp, &err);
  if (h == kNoFile) return fail(temp + ": " + FileErrorText(err));
  const bool wrote =
      fs->WriteAll(h, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), &err);
  FileError closeErr = FileError::None;
  const bool closed = fs->SyncAndClose(h, &closeErr);
  if (!wrote || !closed) {
    fs->Remove(temp);
    return fail(temp + ": " + FileErrorText(wrote ? closeErr : err));
  }
  // The commit: the new generation is the kept machine from here on.
  if (!ReplaceNativeFile(directoryPath, temp, kMachineStateFile, &err)) {
    fs->Remove(temp);
    return fail(std::string(kMachineStateFile) + ": " + FileErrorText(err));
  }
  *generation = next;
  if (!fs->SyncDirectory(&err)) return fail(std::string("flushing the directory: ") + FileErrorText(err));
  // Older generations' files (and temporaries of a save that died) are of no use now.
  for (const std::string& name : fs->ListRegularFiles(kDriveFilePattern)) {
    bool current = false;
    for (std::size_t i = 0; i < machine.DriveCount() && !current; ++i) {
      current = name == DriveFileName(i, next, kFlashKind) || name == DriveFileName(i, next, kReceivedKind);
    }
    if (!current && IsDriveFileName(name)) fs->Remove(name);
  }
  return 1;
}

KeptMachine::KeptMachine(std::unique_ptr<SimMachine> machine, std::unique_ptr<DirectoryLock> lock,
                         std::string directory, std::string scenario, std::uint64_t generation, Reporter report)
    : ForwardingPlatform(*machine),
      lock_(std::move(lock)),
      machine_(std::move(machine)),
      directory_(std::move(directory)),
      scenario_(std::move(scenario)),
      generation_(generation),
      report_(std::move(report)) {}

KeptMachine::~KeptMachine() {
  std::string error;
  if (Save(&error) == 0 && report_) report_(error);
}

int KeptMachine::Save(std::string* error) {
  return SaveMachineState(directory_, scenario_, *machine_, &generation_, error);
}

void KeptMachine::ActOnInterruption(Interruption interruption) {
  // The interruption may end the program here: the machine is kept first.
  std::string error;
  if (Save(&error) == 0 && report_) report_(error);
  ForwardingPlatform::ActOnInterruption(interruption);
}

std::unique_ptr<Platform> OpenScenarioMachine(std::string_view text, std::string workingDirectory,
                                              KeptMachine::Reporter report, std::string* error) {
  ScenarioSpec parsed;
  if (ParseScenario(text, &parsed, error) == 0) return nullptr;
  // Like every file name of a run, a relative directory is taken in the working directory.
  const std::string dir = parsed.stateDirectory.empty() ? std::string() : JoinNativePath(workingDirectory, parsed.stateDirectory);
  std::unique_ptr<SimMachine> machine = MakeScenario(text, std::move(workingDirectory), error);
  if (!machine || dir.empty()) return machine;

  const auto fail = [&](const std::string& why) -> std::unique_ptr<Platform> {
    if (error != nullptr) *error = "simulator state " + dir + ": " + why;
    return nullptr;
  };
  if (!CreateNativeDirectories(dir)) return fail("not a directory, and none can be made there");
  LockResult locked = LockResult::Failed;
  FileError err = FileError::None;
  std::unique_ptr<DirectoryLock> lock = LockNativeDirectory(dir, &locked, &err);
  if (locked == LockResult::Busy) return fail("in use by another run (its lock is held); try again when it has ended");
  if (!lock) return fail(std::string("cannot lock it: ") + FileErrorText(err));
  const std::unique_ptr<FileSystem> files = MakeNativeFileSystem(dir);
  std::string why;
  std::uint64_t generation = 0;
  const int loaded = LoadMachineState(*files, parsed.name, *machine, &generation, &why);
  if (loaded == 0) return fail(why);
  if (parsed.powerCycle) {
    for (std::size_t i = 0; i < machine->DriveCount(); ++i) machine->Drive(i).PowerCycle();
  }
  return std::make_unique<KeptMachine>(std::move(machine), std::move(lock), dir, parsed.name, generation,
                                       std::move(report));
}

SimMachine* SimulatedMachineOf(Platform& platform) {
  if (auto* kept = dynamic_cast<KeptMachine*>(&platform)) return &kept->Machine();
  return dynamic_cast<SimMachine*>(&platform);
}

}  // namespace orvel::sim
