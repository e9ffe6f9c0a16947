#include "cli/command_table.h"

#include "cli/command_complete.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

namespace orvel {
namespace {

constexpr const char* kWhichHelp =
    "Drive: position in the drives list (from 1), cdrom0, drive2, \"HA:0 ID:3\", or a node's path (/dev/sr0)";

// Option values live as long as the handler that reads them.
template <class T>
std::shared_ptr<T> Values() {
  return std::make_shared<T>();
}

// The keys of each command's documents (the schema in dist/ says what each holds).
constexpr std::string_view kDrivesKeys[] = {"drives", "accessProblems"};
constexpr std::string_view kIdentifyKeys[] = {"files"};
constexpr std::string_view kUpdateKeys[] = {"drive", "file", "outcome", "interruption", "accessProblems"};
constexpr std::string_view kBackupKeys[] = {"drive", "outcome", "interruption", "accessProblems"};
constexpr std::string_view kVerifyKeys[] = {"drive",         "file",          "outcome",        "result",
                                            "differingRanges", "bytesCompared", "bytesDiffering", "interruption",
                                            "accessProblems"};
constexpr std::string_view kConvertKeys[] = {"input", "output", "direction", "family", "form", "inputBytes", "outputBytes"};
constexpr std::string_view kSamplesKeys[] = {"directory", "files"};

constexpr CliCommand kCommands[] = {
    {"drives", "List the supported drives", "drives", kDrivesKeys, [](CLI::App&) -> CommandHandler { return CommandDrives; }},
    {"identify", "Identify firmware files", "identify FILE...", kIdentifyKeys,
     [](CLI::App& sub) -> CommandHandler {
       auto files = Values<std::vector<std::string>>();
       sub.add_option("FILE", *files, "Firmware files")->required();
       return [files](CliContext& ctx) { return CommandIdentify(ctx, *files); };
     }},
    {"update", "Update a drive's firmware from FILE, as the dialog's Start does",
     "update FILE --drive WHICH [--backup] [--yes] [--pass-type KEY]", kUpdateKeys,
     [](CLI::App& sub) -> CommandHandler {
       auto args = Values<UpdateArgs>();
       sub.add_option("FILE", args->file, "Firmware file")->required();
       sub.add_option("--drive", args->drive, kWhichHelp)->required()->option_text("WHICH");
       sub.add_flag("--backup", args->backup, "Back up the current firmware to CDRWFW00..09 first");
       sub.add_flag("-y,--yes", args->yes, "Do not ask before writing (required with --json or without a terminal)");
       sub.add_option("--pass-type", args->passType,
                      "Override: let a file whose type code differs from the drive's only in its last two "
                      "characters pass, when KEY begins with the file's eight-character key")
           ->option_text("KEY");
       return [args](CliContext& ctx) {
         // A script's run never waits on a question, even with a terminal at hand.
         if (!args->yes && ctx.options.json) {
           return ctx.Stop(StopCode::ConfirmationRequired, "update writes to the drive: --json never asks, give --yes");
         }
         if (!args->yes && !ctx.env.inputIsTerminal) {
           return ctx.Stop(StopCode::ConfirmationRequired,
                           "update writes to the drive: without a terminal to ask on, give --yes");
         }
         return CommandUpdate(ctx, *args);
       };
     }},
    {"backup", "Switch a drive to update mode and save its firmware to CDRWFW00..09", "backup --drive WHICH", kBackupKeys,
     [](CLI::App& sub) -> CommandHandler {
       auto drive = Values<std::string>();
       sub.add_option("--drive", *drive, kWhichHelp)->required()->option_text("WHICH");
       return [drive](CliContext& ctx) { return CommandBackup(ctx, *drive); };
     }},
    {"verify", "Compare a drive's firmware with FILE (the drive is left in update mode)",
     "verify FILE --drive WHICH", kVerifyKeys,
     [](CLI::App& sub) -> CommandHandler {
       struct Args {
         std::string file;
         std::string drive;
       };
       auto args = Values<Args>();
       sub.add_option("FILE", args->file, "Firmware file")->required();
       sub.add_option("--drive", args->drive, kWhichHelp)->required()->option_text("WHICH");
       return [args](CliContext& ctx) { return CommandVerify(ctx, args->file, args->drive); };
     }},
    {"convert", "Convert between an encoded file (.kvf) and its plain image (.bin)", "convert IN OUT", kConvertKeys,
     [](CLI::App& sub) -> CommandHandler {
       struct Files {
         std::string in;
         std::string out;
       };
       auto files = Values<Files>();
       sub.add_option("IN", files->in, "Input file")->required();
       sub.add_option("OUT", files->out, "Output file (never overwritten)")->required();
       return [files](CliContext& ctx) { return CommandConvert(ctx, files->in, files->out); };
     }},
    {"make-samples", "Write sample firmware files for the simulated drives (of --simulate=SCENARIO)", "", kSamplesKeys,
     [](CLI::App& sub) -> CommandHandler {
       auto directory = Values<std::string>();
       sub.add_option("DIR", *directory)->required();
       return [directory](CliContext& ctx) { return CommandMakeSamples(ctx, *directory); };
     }},
    {"help", "Show the help of the program, or of COMMAND", "help [COMMAND]", {},
     [](CLI::App& sub) -> CommandHandler {
       auto command = Values<std::string>();
       sub.add_option("COMMAND", *command, "A command");
       const CLI::App* app = sub.get_parent();
       return [command, app](CliContext& ctx) { return CommandHelp(ctx, *app, *command); };
     }},
    {"complete", "Candidates for the shell's completion", "", {},
     [](CLI::App& sub) -> CommandHandler {
       auto args = Values<CompleteArgs>();
       AddCompleteOptions(sub, *args);
       const CLI::App* app = sub.get_parent();
       return [args, app](CliContext& ctx) { return CommandComplete(ctx, *app, *args); };
     }},
};

}  // namespace

std::span<const CliCommand> CliCommands() { return kCommands; }

}  // namespace orvel
