#pragma once
// A simulated machine kept in a directory between runs (the scenario option
// state=DIR), so that commands can follow one another as on a real machine.
//
// DIR/machine.json holds the format version, the scenario's name, a
// generation number and per drive its attachment, family, mode, the
// identification in force and the state of a transfer; the flash and the
// received bytes are binary files DIR/drive-<index>-<generation>.flash and
// .received beside it. A save writes the files of a new generation (each
// flushed), then replaces machine.json in one rename (the commit), flushes
// the directory and only then removes the older generation's files, so a
// crash at any point leaves one whole state. DIR/lock is held (without
// waiting) for the whole run. Everything read back is checked before use.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/forwarding_platform.h"
#include "sim/sim_machine.h"

namespace orvel::sim {

inline constexpr int kMachineStateVersion = 1;
inline constexpr const char* kMachineStateFile = "machine.json";
inline constexpr const char* kMachineStateFormat = "orvel-simulated-machine";

// Reads the state kept in `directory` (a FileSystem rooted there) into
// `machine`, freshly built from scenario `scenario`: 1 loaded, -1 nothing
// kept there yet, 0 with *error (another scenario's, a newer format, damaged;
// the machine may be partly changed then). *generation: the state's generation (0 when none).
int LoadMachineState(FileSystem& directory, std::string_view scenario, SimMachine& machine, std::uint64_t* generation,
                     std::string* error);
// Saves `machine` into `directoryPath` as described above; generation is the
// one after the last loaded or saved (*generation is updated). 1, or 0 with *error.
int SaveMachineState(const std::string& directoryPath, std::string_view scenario, SimMachine& machine,
                     std::uint64_t* generation, std::string* error);

// A scenario's machine kept in a locked state directory: loaded when made,
// saved when destroyed (whatever the command's result), and before an
// interruption held during an attempt ends the program.
class KeptMachine final : public ForwardingPlatform {
 public:
  using Reporter = std::function<void(const std::string& message)>;
  KeptMachine(std::unique_ptr<SimMachine> machine, std::unique_ptr<DirectoryLock> lock, std::string directory,
              std::string scenario, std::uint64_t generation, Reporter report);
  ~KeptMachine() override;
  KeptMachine(const KeptMachine&) = delete;
  KeptMachine& operator=(const KeptMachine&) = delete;

  void ActOnInterruption(Interruption interruption) override;
  // Saves now; 1, or 0 with *error. The destructor saves again.
  int Save(std::string* error);
  SimMachine& Machine() { return *machine_; }

 private:
  std::unique_ptr<DirectoryLock> lock_;  // let go last
  std::unique_ptr<SimMachine> machine_;
  std::string directory_;
  std::string scenario_;
  std::uint64_t generation_;
  Reporter report_;
};

// The machine of a scenario text: MakeScenario's, or with state=DIR a
// KeptMachine (DIR, taken relative to `workingDirectory`, made when missing,
// locked, loaded; power-cycle applied
// after loading). nullptr with *error (a bad text, DIR in use by another run,
// or a state that cannot be this machine's). `report` hears of a save that
// failed when the machine is put away.
std::unique_ptr<Platform> OpenScenarioMachine(std::string_view text, std::string workingDirectory,
                                              KeptMachine::Reporter report, std::string* error);
// The simulated machine behind what OpenScenarioMachine made (nullptr for any other platform).
SimMachine* SimulatedMachineOf(Platform& platform);

}  // namespace orvel::sim
