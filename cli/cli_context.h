#pragma once
// What every command of the command line shares: the parsed global options,
// the output streams, the environment, and opening the drives.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/command_trace.h"
#include "cli/stop_codes.h"
#include "firmware/identify.h"
#include "sim/recording.h"
#include "sim/replay_platform.h"
#include "drive/discovery.h"
#include "transport/scsi_transport.h"

namespace orvel {

struct GlobalOptions {
  bool simulate = false;
  std::string scenario;
  bool trace = false;
  int verbose = 0;  // how many -v: kVerboseCommands, kVerboseData
  bool json = false;
  int language = 0;
  std::string workingDirectory = ".";
  bool fast = false;  // the simulator's virtual clock (tests)
  std::string record;        // --record FILE: every request to the drives, with its answer
  bool recordBytes = false;  // --record-bytes: bulk data kept, not only its SHA-256
};

// The prefix of --simulate=replay:FILE.
inline constexpr std::string_view kReplayPrefix = "replay:";

// Where --record writes, created before the first request.
struct RecordTarget {
  std::shared_ptr<Recording> recording;
  std::unique_ptr<FileSystem> files;
  FileHandle file = kNoFile;
  std::string name;
};

struct CliContext {
  std::ostream& out;
  std::ostream& err;
  const CliEnvironment& env;
  GlobalOptions options;
  std::string command;     // the subcommand's name
  bool jsonPrinted = false;
  std::optional<StopCode> stop;  // why the command stopped, for its document
  std::string reason;            // the same for people
  std::shared_ptr<RecordTarget> record;  // with --record
  std::shared_ptr<ReplayState> replay;   // with --simulate=replay:FILE
  bool runSettled = false;               // SettleRun has run
  std::optional<int> settledStatus;      // the status it gave, when it changed it

  // A message for people in the run's language (0 English, 1 Japanese).
  std::string Tr(std::string_view english, std::string_view japanese) const {
    return std::string(options.language == 1 ? japanese : english);
  }
  // A line for people: on the output, or on standard error with --json.
  std::ostream& text() { return options.json ? err : out; }
  // With --json, the run's one document: `body` completed with the fields
  // every document has (see JsonDocument). Nothing without --json.
  void PrintDocument(const nlohmann::json& body, int status);
  // "orvel-cli: <reason>" on standard error, the stop kept for the document;
  // returns the stop's exit status.
  int Stop(StopCode code, const std::string& reason);
  // The stop kept for the document only (people were told otherwise).
  int KeepStop(StopCode code, const std::string& reason);
  // An interruption held during an attempt (0: none) acts, once everything
  // for people and scripts has been written.
  void ActOnHeldInterruption(Platform& platform, Interruption held);
  // Once per run, before its document: a replay that departed from its
  // recording stops the run (its status replaces `status`), and --record's
  // file is written. Returns the run's status.
  int SettleRun(int status);
  // A working-directory name turned into a path.
  std::string PathOf(const std::string& name) const;
};

// An open route to the drives: platform, transport, the trace and verbose
// output on it, and the discovered drives.
struct DriveSession {
  std::unique_ptr<Platform> platform;
  // The observers outlive the transport that calls them.
  std::unique_ptr<TraceObserver> trace;
  std::unique_ptr<VerboseObserver> verbose;
  CommandObservers observers;
  std::unique_ptr<ScsiTransport> transport;
  std::vector<DriveEntry> drives;
};

// Only the platform (for its working directory); exit status.
int OpenFilePlatform(CliContext& ctx, std::unique_ptr<Platform>& platform);

// Opens the platform, chooses the route and discovers the drives; exit status
// (kExitOk when the session is ready).
int OpenDriveSession(CliContext& ctx, DriveSession& session);

// "cdrom0", "drive2", "HA:0 ID:3": the address part of a drive's label.
std::string AddressPart(TransportMode mode, const DriveAddress& address);

// The drive named by WHICH (1-based position, address part, or a path of
// one of its nodes, links followed), or nothing.
std::optional<std::size_t> FindDrive(const DriveSession& session, const std::string& which);
// Whether WHICH is a path rather than a position or address part.
bool IsNodePath(std::string_view which);

nlohmann::json DriveJson(const DriveSession& session, std::size_t index);
// The nodes this user may not open, node by node (an empty array: none), worded in `language`.
nlohmann::json AccessProblemsJson(Platform& platform, int language);

// A document of `command`: every key the command's documents have (null
// unless `body` gives it), schemaVersion, command (null when none was
// recognised), exitStatus, and the stop's code and reason (null on success).
nlohmann::json JsonDocument(std::string_view command, const nlohmann::json& body, std::optional<StopCode> stop,
                            const std::string& reason, int status);
// Printed as every document is: bytes that are not UTF-8 replaced.
std::string DocumentText(const nlohmann::json& document);

// A file's identification, for people (in `language`) and for --json.
std::string IdentifyReason(const SourceIdentification& id, int language);
// For --json; FormWord for people.
std::string FormName(FileForm form);
std::string FormWord(const CliContext& ctx, FileForm form);
// Bytes outside printable ASCII written as \xNN.
std::string Printable(std::string_view bytes);
std::string TypeCodeText(const TypeCode& code);
// The family of a packed form whose plain image `bytes` are (what convert
// decodes a .KVF to, which is no source for an update), or nothing.
std::optional<int> PackedFamilyOfPlainImage(std::span<const std::uint8_t> bytes);
// What a plain image of packed family `family` is, and that its .KVF file is the source of an update.
std::string PlainImageNote(const CliContext& ctx, int family);
// Why a file is not identified, in the run's language: IdentifyReason, for a
// name ending in ".kvf" that the packed decoder refused the file, and for a
// plain image of a packed family (`plainOfPacked`) that its .KVF file is the source.
std::string WhyNotIdentified(const CliContext& ctx, const std::string& name, const SourceIdentification& id,
                             std::optional<int> plainOfPacked);
// The same, the file's bytes read through `fs` where they may be such a plain image.
std::string WhyNotIdentified(const CliContext& ctx, FileSystem& fs, const std::string& name,
                             const SourceIdentification& id);
// `reason`: from WhyNotIdentified (unused for an identified file).
void PrintIdentification(const CliContext& ctx, std::ostream& out, const std::string& name,
                         const SourceIdentification& id, const std::string& reason);
nlohmann::json IdentificationJson(const std::string& name, const SourceIdentification& id, const std::string& reason);
// Why a file is not identified, for scripts (nothing when it is).
std::optional<StopCode> IdentificationStop(const SourceIdentification& id);

// The commands; each returns its exit status.
int CommandDrives(CliContext& ctx);
int CommandIdentify(CliContext& ctx, const std::vector<std::string>& files);
struct UpdateArgs {
  std::string file;
  std::string drive;
  bool backup = false;
  bool yes = false;
  std::optional<std::string> passType;  // the "Pass Type" option on, with this entry
};
int CommandUpdate(CliContext& ctx, const UpdateArgs& args);
int CommandBackup(CliContext& ctx, const std::string& drive);
int CommandVerify(CliContext& ctx, const std::string& file, const std::string& drive);
int CommandConvert(CliContext& ctx, const std::string& input, const std::string& output);
int CommandMakeSamples(CliContext& ctx, const std::string& directory);

}  // namespace orvel
