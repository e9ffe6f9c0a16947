#pragma once
// Named simulated machines for tests, the command line and the demo.
//
// A scenario text is a name followed by options, separated by commas:
//   name[,option]...
// Options:
//   fault=<op>[@<drive>]:<n>[+]:<kind>   a fault rule: opcode in hex (e.g. e2,
//                                        00) or "any"; drive index (default:
//                                        any); the n-th matching command, or
//                                        with "+" every one from the n-th on
//     kinds: check:<asc>/<ascq>          CHECK CONDITION (hex; sense key 2 for
//                                        ASC 04, 3A and F7, else 5)
//            check:<key>/<asc>/<ascq>    CHECK CONDITION with that sense key
//            timeout                     outlasts the route's time-out
//            short:<bytes>               DataIn answer of that many bytes (decimal)
//            fail                        the pass-through call fails (ASPI: SS_NO_DEVICE)
//            aborted                     ASPI ends with SS_ABORTED (pass-through: call fails)
//   disk-full=<bytes>                    the disk takes that many bytes (written or reserved)
//   sync-fails                           flushing a written file fails
//   create-fails=<reason>                no file can be created: denied,
//                                        read-only or no-space
//   rename-taken=<n>                     the next n renames find an entry
//                                        under their new name, made meanwhile
//   dir-sync-fails                       flushing the working directory fails
//   file-short=<offset>                  files read back as if they ended at that offset
//   no-open=<drive>                      the device name of that drive (index) does not open
//   swap=<drive>:<drive>                 after discovery, at the first attempt, the device
//                                        names of the two drives (indexes) lead to each
//                                        other's drive (pass-through machines only)
//   pending                              ASPI requests answer SS_PENDING first
//   no-logind                            nothing keeps the machine from sleeping
//                                        during an attempt
//   platform=<id>                        the platform id the version query reports
//   hold=<phase>                         the rewrite stops at its first poll in that
//                                        phase (sum, erase, write, sum-again) until
//                                        a file RELEASE is in the working directory
//                                        (SimMachine::SetHold; for the GUI programs)
//   state=<dir>                          the machine is kept in that directory between
//                                        runs (sim/machine_state.h; no commas in <dir>)
//   power-cycle                          with state=: every drive is switched off and on
//                                        before the run
// Example: "ten-byte-chunks,fault=e2:3:check:04/00" makes the third 0xE2 chunk
// fail with sense key 2, ASC 04, ASCQ 00 (the default drives take 0xAA chunks
// and never send 0xE2).
//
// The scenarios themselves are the table behind Scenarios() (orvel-cli --help
// prints it; a test holds the README's table to it).

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "sim/sim_machine.h"

namespace orvel::sim {

// A named machine: a fresh SimMachine reporting `platformId` (kPlatformNt for
// pass-through, kPlatformWindows for ASPI) that `build` fills with drives,
// behaviours and faults. Adding a scenario is one entry in scenarios.cpp.
struct Scenario {
  std::string_view name;
  std::string_view help;
  std::uint32_t platformId;
  void (*build)(SimMachine& machine);
};
std::span<const Scenario> Scenarios();

// The parsed form of a scenario text.
struct ScenarioSpec {
  std::string name;
  std::vector<FaultRule> faults;
  FileFaults fileFaults;
  std::vector<std::size_t> refuseOpen;  // drive indexes
  std::vector<std::size_t> denyAccess;  // drive indexes
  std::optional<std::pair<std::size_t, std::size_t>> swap;  // drive indexes
  bool pending = false;
  bool noLogind = false;
  bool platformGiven = false;
  std::uint32_t platformId = 0;
  bool hold = false;
  std::uint8_t holdPhase = 0;  // the phase code the drive reports (0x00..0x03)
  std::string stateDirectory;  // empty: every run starts fresh
  bool powerCycle = false;
};
// 1 on success; 0 with *error telling what is wrong.
int ParseScenario(std::string_view text, ScenarioSpec* parsed, std::string* error);

// Builds the machine of a scenario text rooted at `workingDirectory`;
// nullptr with *error for an unknown name or a bad option. state= and
// power-cycle are left to OpenScenarioMachine (sim/machine_state.h).
std::unique_ptr<SimMachine> MakeScenario(std::string_view text, std::string workingDirectory, std::string* error);

// The help text listing every scenario, option and fault kind.
std::string ScenarioHelp();

// The drives of the default machine and their sample firmware.
struct SampleDrive {
  int family;
  const char* typeCode;     // 3..5 characters; 6 bytes in the image (NUL-padded below 4)
  const char* installed;    // description of the firmware the drive holds
  const char* newer;        // description of the sample file's firmware
  const char* fileName;     // the sample file: an 8.3 name (extension by family)
  std::uint32_t installedSeed;
  std::uint32_t newerSeed;
};
std::span<const SampleDrive> DefaultDrives();

// The drives of the every-family machine, in the order of their ASPI
// addresses (eight targets to an adapter): one per LoaderTable row, two whose
// codes raise family 4 to 5, and a blank drive of every family.
struct FamilyDrive {
  int family;
  int loaderRow;            // the LoaderTable row it reports in update mode
  int productRow;           // NormalProductId it reports in normal mode
  const char* typeCode;     // nullptr: erased flash, waiting in its loader
  const char* installed;    // description of the firmware the drive holds
  const char* newer;        // description of its sample file's firmware
  const char* fileName;     // its sample file; nullptr: none of its own
  std::uint32_t installedSeed;
  std::uint32_t newerSeed;
};
std::span<const FamilyDrive> EveryFamilyDrives();
inline constexpr const char* kEveryFamilyScenario = "every-family";
// A sample file that fits none of the default drives (its type code differs).
inline constexpr const char* kMisfitFileName = "KZ900200.KVF";

// The plain image a drive of `family` holds: MakePlainImage, with a type code
// shorter than 4 characters NUL-padded (so the loader lookup can match it).
std::vector<std::uint8_t> MakeDriveImage(int family, std::string_view typeCode, std::string_view description,
                                         std::uint32_t seed);
// The plain image of the sample file for default drive `index`.
std::vector<std::uint8_t> SampleImage(std::size_t index);

// The plain image of the sample file of every-family drive `index` (which has one).
std::vector<std::uint8_t> FamilySampleImage(std::size_t index);

// Sample files belong to a scenario, named by `scenario` (a scenario name;
// empty for the default machine): the every-family machine has its own set,
// every other scenario the default drives' set.
// The names of the sample files that already have a directory entry (of any
// kind, learnt without opening it), in the order the samples are written.
std::vector<std::string> ExistingSampleNames(FileSystem& files, std::string_view scenario = {});
// Writes the sample files into `files`, each created exclusively. Refuses
// (0, nothing written, the names in *error) when any sample name exists: an
// existing file is never replaced. 1, or 0 with *error; a file that fails is
// removed. `written` receives the names.
int WriteSampleFirmware(FileSystem& files, std::vector<std::string>* written, std::string* error,
                        std::string_view scenario = {});

}  // namespace orvel::sim
