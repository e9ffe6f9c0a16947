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
//   disk-full=<bytes>                    writes fail with "disk full" after that many bytes
//   sync-fails                           flushing a written file fails
//   file-short=<offset>                  files read back as if they ended at that offset
//   no-open=<drive>                      the device name of that drive (index) does not open
//   pending                              ASPI requests answer SS_PENDING first
//   platform=<id>                        the platform id the version query reports
// Example: "ten-byte-chunks,fault=e2:3:check:04/00" makes the third 0xE2 chunk
// fail with sense key 2, ASC 04, ASCQ 00 (the default drives take 0xAA chunks
// and never send 0xE2).
//
// The scenarios (ScenarioList gives the same with one line each):
//   default         NT, cdrom0 family 6 (packed files), cdrom1 family 4,
//                   cdrom2 family 2, cdrom3 an unsupported DVD-ROM; each
//                   drive holds an older firmware than the sample files
//   aspi            Windows 98 with ASPI, the same drives on HA 0 ID 0..3
//   aspi-pending    as aspi, every request answers SS_PENDING first
//   aspi-no-library WNASPI32.DLL missing
//   aspi-no-entry   SendASPI32Command does not resolve
//   aspi-no-manager support info status 0xE8
//   aspi-no-adapters support info SS_COMP with 0 adapters
//   aspi-aborted    every INQUIRY ends with SS_ABORTED
//   drive-letter    NT without cdrom names: drives at C:, E: and N: (only E: reachable)
//   platform-0      platform id 0 (Win32s)
//   blank-flash     cdrom0 family 6 with an erased flash
//   no-update-mode  cdrom0 refuses to switch to update mode
//   unknown-type    cdrom0's identification block holds an unknown type code
//   alt-read        cdrom0 refuses the address read form (0xE3)
//   ten-byte-chunks cdrom0 refuses 12-byte chunks (0xAA) with 5/24/00
//   finish-variant-2 cdrom0 accepts only FinishTransfer variant 2
//   skip-phases     cdrom0 reports only the erase and write phases
//   repeat-phase    cdrom0 reports writing, checking, writing again, checking
//   busy-polls      cdrom0 answers busy (CHECK 5/20/00) for 4 polls first
//   resend-chunk    cdrom0 asks for its third chunk 2 more times (2/3A/00)
//   rewrite-fails   cdrom0 fails the rewrite after erasing (3/0C/00)
//   chunk-fails     cdrom0's fifth 0xE2 chunk fails 4/44/00 after refusing 0xAA
//   timeout-poll    the third poll of cdrom0 outlasts the time-out
//   short-read      cdrom0's firmware reads deliver 8192 of 16384 bytes
//   disk-full       the working directory fills up after 64 KiB
//   sync-fails      flushing a written file fails
//   no-open         cdrom1 exists but does not open
//   loader-mode     cdrom0 is already in its update mode (loader identification)
//   empty           NT with no drives
//   aspi-empty      Windows 98 with ASPI, one adapter, no drives
//   family-5        NT: cdrom0 family 5 (byte-keyed files, loader update forced)

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "sim/sim_machine.h"

namespace orvel::sim {

struct ScenarioInfo {
  std::string_view name;
  std::string_view description;
};
std::span<const ScenarioInfo> ScenarioList();

// The parsed form of a scenario text.
struct ScenarioSpec {
  std::string name;
  std::vector<FaultRule> faults;
  FileFaults fileFaults;
  std::vector<std::size_t> refuseOpen;  // drive indexes
  bool pending = false;
  bool platformGiven = false;
  std::uint32_t platformId = 0;
};
// 1 on success; 0 with *error telling what is wrong.
int ParseScenario(std::string_view text, ScenarioSpec* parsed, std::string* error);

// Builds the machine of a scenario text rooted at `workingDirectory`;
// nullptr with *error for an unknown name or a bad option.
std::unique_ptr<SimMachine> MakeScenario(std::string_view text, std::string workingDirectory, std::string* error);

// The help text listing every scenario, option and fault kind.
std::string ScenarioHelp();

// The drives of the default machine and their sample firmware.
struct SampleDrive {
  int family;
  const char* typeCode;     // 3..5 characters; 6 bytes in the image (NUL-padded below 4)
  const char* installed;    // description of the firmware the drive holds
  const char* newer;        // description of the sample file's firmware
  const char* fileName;     // the sample file (extension by family)
  std::uint32_t installedSeed;
  std::uint32_t newerSeed;
};
std::span<const SampleDrive> DefaultDrives();
// A sample file that fits none of the default drives (its type code differs).
inline constexpr const char* kMisfitFileName = "KZ9000V200.KVF";

// The plain image a drive of `family` holds: MakePlainImage, with a type code
// shorter than 4 characters NUL-padded (so the loader lookup can match it).
std::vector<std::uint8_t> MakeDriveImage(int family, std::string_view typeCode, std::string_view description,
                                         std::uint32_t seed);
// The plain image of the sample file for default drive `index`.
std::vector<std::uint8_t> SampleImage(std::size_t index);

// Writes the sample files into `files` (replacing files of the same names).
// 1 on success; 0 with *error. `written` receives the names.
int WriteSampleFirmware(FileSystem& files, std::vector<std::string>* written, std::string* error);

}  // namespace orvel::sim
