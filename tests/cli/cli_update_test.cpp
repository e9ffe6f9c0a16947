// The update command end to end against the simulator.

#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "firmware/codec.h"
#include "firmware/identify.h"
#include "firmware/sample_firmware.h"
#include "update/update_procedure.h"
#include "update/page_texts.h"

namespace orvel::testing {
namespace {

constexpr int kDiscoveryProbes = 10;
constexpr int kBackupBlocksFull = 64;
constexpr int kFullChunks = 341;
// The default drive's rewrite: 13 polls of phase reports, then ten of 3A.
constexpr int kPhasePolls = 13;
constexpr int kCompletionPolls = 10;

std::string Sample(std::size_t i) { return sim::DefaultDrives()[i].fileName; }

std::vector<int> Repeat(std::vector<int> seq, int op, int times) {
  seq.insert(seq.end(), static_cast<std::size_t>(times), op);
  return seq;
}

class UpdateCommand : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteSamples();
  }
};

TEST_F(UpdateCommand, WholeUpdateWithBackupRewritesTheDriveAndSavesItsFirmware) {
  const CliRun run = Run({"--simulate", "update", Sample(0), "--drive", "1", "--backup", "--yes"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  ASSERT_TRUE(machine);
  const sim::SimDrive& drive = machine->Drive(0);
  const std::vector<std::uint8_t> expected = sim::SampleImage(0);
  ASSERT_EQ(drive.Flash().size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), drive.Flash().begin()));
  EXPECT_EQ(drive.RewritesCompleted(), 1);

  // The step lines of the information pane, in order, and the result page.
  const std::vector<std::string> steps = {">> Backing Up F/W", ">> Transferring Writing Data", ">> Confirming SUM Code",
                                          ">> Erasing Flash ROM", ">> Writing Data into Flash ROM"};
  std::size_t at = 0;
  for (const std::string& step : steps) {
    at = run.out.find(step, at);
    ASSERT_NE(at, std::string::npos) << step << "\n" << run.out;
  }
  EXPECT_TRUE(Contains(run.out, "*** OK ** OK ** OK ***"));
  EXPECT_TRUE(Contains(run.out, "120/120"));
  EXPECT_TRUE(Contains(run.out, "Backup written to CDRWFW00.KVF"));
  // Beside the bar, the step and its number of the whole: the bar starts anew in some steps.
  at = 0;
  for (const char* step : {"Backing Up F/W (step 1 of 6)", "Transferring Writing Data (step 2 of 6)",
                           "Erasing Flash ROM (step 4 of 6)", "Writing Data into Flash ROM (step 5 of 6)",
                           "Confirming SUM Code (step 6 of 6)"}) {
    at = run.out.find(std::string("/120  ") + step, at);
    ASSERT_NE(at, std::string::npos) << step << "\n" << run.out;
  }

  // The backup is the drive's old firmware, in its family's packed form.
  const CliRun id = Run({"identify", "CDRWFW00.KVF"});
  EXPECT_EQ(id.status, kExitOk);
  EXPECT_TRUE(Contains(id.out, sim::DefaultDrives()[0].installed)) << id.out;
  EXPECT_TRUE(Contains(id.out, "packed"));
}

// Every drive of the every-family machine through the command line, with the
// scenario's own sample files: a backup alone in the form of the drive's
// family, then an update with a backup from its own file (a blank drive: the
// first file of its family). The drive whose code's fifth byte is 0x80 has no
// file of its own: a file of its family is a type-code refusal.
class EveryFamilyDrive : public CliTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(EveryFamilyDrive, BacksUpAndUpdatesFromTheCommandLine) {
  const std::size_t index = GetParam();
  const sim::FamilyDrive& d = sim::EveryFamilyDrives()[index];
  const std::string scenario = std::string("--simulate=") + sim::kEveryFamilyScenario;
  const CliRun samples = Run({scenario, "make-samples", "."});
  ASSERT_EQ(samples.status, kExitOk) << samples.err;
  // By position and by address, in turn.
  const std::string which = index % 2 == 0 ? std::to_string(index + 1)
                                           : "HA:" + std::to_string(index / sim::kTargetsPerAdapter) +
                                                 " ID:" + std::to_string(index % sim::kTargetsPerAdapter);
  const bool blank = d.typeCode == nullptr;

  const CliRun backup = Run({scenario, "--json", "backup", "--drive", which});
  ASSERT_EQ(backup.status, kExitOk) << backup.err;
  const nlohmann::json backupDoc = nlohmann::json::parse(backup.out);
  EXPECT_EQ(backupDoc["outcome"]["switchResult"], blank ? -2 : 1);
  EXPECT_EQ(backupDoc["outcome"]["driveFamily"], d.family);
  const std::string backupName = backupDoc["outcome"]["backup"]["file"];
  EXPECT_EQ(backupName, std::string("CDRWFW00") + FileExtensionOfFamily(d.family));
  const std::vector<std::uint8_t> installed(machine->Drive(index).Flash().begin(), machine->Drive(index).Flash().end());
  EXPECT_EQ(ReadBytes(backupName), EncodeForFamily(d.family, installed));
  // The backup is what the drive holds, as verify reads it back (a code of the
  // catalogue only: the 0x80 code and an erased block identify no file).
  if (!blank && d.fileName != nullptr) {
    const CliRun verify = Run({scenario, "verify", backupName, "--drive", which});
    EXPECT_EQ(verify.status, kExitOk) << verify.out << verify.err;
  }

  // Its own file, or the first of its family.
  const auto all = sim::EveryFamilyDrives();
  const std::size_t fileOf =
      d.fileName != nullptr ? index
                            : static_cast<std::size_t>(std::ranges::find_if(all, [&](const sim::FamilyDrive& o) {
                                return o.family == d.family && o.fileName != nullptr;
                              }) - all.begin());
  ASSERT_LT(fileOf, all.size());
  const CliRun update = Run({scenario, "--json", "update", sim::EveryFamilyDrives()[fileOf].fileName, "--drive", which,
                             "--backup", "-y"});
  const nlohmann::json doc = nlohmann::json::parse(update.out);
  const sim::SimDrive& drive = machine->Drive(index);
  if (!blank && d.fileName == nullptr) {
    EXPECT_EQ(update.status, kExitTypeCodeRefused) << update.err;
    EXPECT_EQ(doc["outcome"]["driveFamily"], d.family);
    EXPECT_TRUE(std::ranges::equal(drive.Flash(), installed));
    // The drive's code is named with its raw byte escaped, and Pass Type with
    // the file's key lets the update go ahead (the codes differ in the fifth byte only).
    EXPECT_TRUE(Contains(doc["reason"].get<std::string>(), "\\x80")) << doc["reason"];
    const std::string key = doc["file"]["description"].get<std::string>().substr(0, PassKey{}.size() - 1);
    const CliRun passed =
        Run({scenario, "update", all[fileOf].fileName, "--drive", which, "--pass-type", key, "-y"});
    EXPECT_EQ(passed.status, kExitOk) << passed.err;
    // Each run makes its machine afresh: the fixture holds the newest.
    EXPECT_TRUE(std::ranges::equal(machine->Drive(index).Flash(), sim::FamilySampleImage(fileOf)));
    return;
  }
  ASSERT_EQ(update.status, kExitOk) << update.err;
  EXPECT_EQ(doc["outcome"]["driveFamily"], d.family);
  const std::vector<std::uint8_t> image = sim::FamilySampleImage(fileOf);
  EXPECT_TRUE(std::ranges::equal(drive.Flash(), image));
  EXPECT_EQ(drive.RewritesCompleted(), 1);
  // The fifth character raised family 4 to 5: the loader area is rewritten too.
  const bool raised = !blank && d.family == 5;
  EXPECT_EQ(drive.LastRewriteLoaderByte(), raised ? 0x40 : 0x00);
  EXPECT_EQ(doc["outcome"]["backup"]["file"], std::string("CDRWFW01") + FileExtensionOfFamily(d.family));
  EXPECT_EQ(ReadBytes(std::string("CDRWFW01") + FileExtensionOfFamily(d.family)), ReadBytes(backupName));
}

INSTANTIATE_TEST_SUITE_P(EveryFamilyMachine, EveryFamilyDrive,
                         ::testing::Range(std::size_t{0}, sim::EveryFamilyDrives().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                           const sim::FamilyDrive& d = sim::EveryFamilyDrives()[param.param];
                           return "Drive" + std::to_string(param.param + 1) + (d.typeCode == nullptr ? "Blank" : "") +
                                  "Family" + std::to_string(d.family) + "LoaderRow" + std::to_string(d.loaderRow);
                         });

// make-samples writes the set of the scenario --simulate names; an unknown one is a usage error.
TEST_F(CliTest, MakeSamplesWritesTheSetOfTheScenarioGiven) {
  const CliRun every = Run({std::string("--simulate=") + sim::kEveryFamilyScenario + ",pending", "--json",
                            "make-samples", "every"});
  ASSERT_EQ(every.status, kExitOk) << every.err;
  std::vector<std::string> expected;
  for (const sim::FamilyDrive& d : sim::EveryFamilyDrives()) {
    if (d.fileName != nullptr) expected.emplace_back(d.fileName);
  }
  EXPECT_EQ(nlohmann::json::parse(every.out)["files"], expected);
  // Any other scenario, and none: the default drives' files.
  for (const auto& [scenario, sub] : {std::pair{"--simulate", "none"}, std::pair{"--simulate=aspi", "aspi"}}) {
    const CliRun plain = Run({scenario, "make-samples", sub});
    ASSERT_EQ(plain.status, kExitOk) << plain.err;
    EXPECT_TRUE(std::filesystem::exists(dir() / sub / Sample(0))) << scenario;
    EXPECT_FALSE(std::filesystem::exists(dir() / sub / expected.front())) << scenario;
  }
  const CliRun unknown = Run({"--simulate=nosuch", "make-samples", "x"});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_FALSE(std::filesystem::exists(dir() / "x"));
}

TEST_F(UpdateCommand, TraceShowsEveryCommandOfTheUpdateInOrder) {
  const CliRun run = Run({"--simulate", "--trace", "update", Sample(0), "--drive", "cdrom0", "--backup", "--yes"});
  ASSERT_EQ(run.status, kExitOk) << run.err;

  std::vector<int> expected = Repeat({}, 0x12, kDiscoveryProbes);
  expected.insert(expected.end(), {0xE4, 0xE4, 0x12, 0xE3});       // update mode, loader check, id block
  expected = Repeat(expected, 0xE3, kBackupBlocksFull);             // backup
  expected = Repeat(expected, 0xAA, kFullChunks + 1);               // chunks and the last one
  expected.insert(expected.end(), {0xE0, 0xE1});                    // end of transfer, rewrite
  for (int i = 0; i < kPhasePolls + kCompletionPolls; ++i) expected.insert(expected.end(), {0x03, 0x00});
  EXPECT_EQ(TracedOpcodes(run.err), expected);

  EXPECT_TRUE(Contains(run.err, "scsi> 12 00 00 00 24 00 | in 36 | good\n"));
  EXPECT_TRUE(Contains(run.err, "scsi> 00 00 00 00 00 80 | none 0 | check f7/00\n"));
  EXPECT_TRUE(Contains(run.err, "scsi> 00 00 00 00 00 80 | none 0 | check 3a/00\n"));
  EXPECT_TRUE(Contains(run.err, "| out 16384 | good\n"));
  // Nothing but trace lines on standard error, nothing of the trace on the output.
  EXPECT_FALSE(Contains(run.out, "scsi>"));
}

TEST_F(UpdateCommand, JsonReportsThePageBackupAndProgress) {
  const CliRun run = Run({"--simulate", "--json", "update", Sample(1), "--drive", "2", "--backup", "--yes"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["command"], "update");
  EXPECT_EQ(doc["drive"]["address"], "cdrom1");
  EXPECT_EQ(doc["file"]["family"], 4);
  EXPECT_EQ(doc["file"]["form"], "plain");
  EXPECT_EQ(doc["outcome"]["page"]["number"], 11);
  EXPECT_EQ(doc["outcome"]["page"]["name"], "Completed");
  EXPECT_EQ(doc["outcome"]["backup"]["file"], "CDRWFW00.BIN");
  EXPECT_EQ(doc["outcome"]["backup"]["requested"], true);
  EXPECT_EQ(doc["outcome"]["backup"]["form"], "plain");
  EXPECT_EQ(doc["outcome"]["progress"], 120);
  EXPECT_EQ(doc["exitStatus"], 0);
  EXPECT_EQ(ReadBytes("CDRWFW00.BIN").size(), kFullImageSize);
}

// The document's progress is where the bar stopped, also when the rewrite
// fails after its counter has moved on for the next poll cycle.
TEST_F(UpdateCommand, ProgressIsTheBarsLastPositionAfterAFailedRewrite) {
  for (const char* scenario : {"rewrite-fails", "chunk-fails", "default,fault=e3:5:short:8192"}) {
    const std::vector<std::string> args{std::string("--simulate=") + scenario, "update", Sample(0), "--drive", "1",
                                        "--backup", "--yes"};
    const CliRun text = Run(args);
    ASSERT_NE(text.status, kExitOk) << scenario;
    // The last bar drawn (the step stands beside it).
    const std::size_t slash = text.out.rfind("/120  ");
    ASSERT_NE(slash, std::string::npos) << scenario << text.out;
    const std::size_t start = text.out.rfind("] ", slash) + 2;
    const int drawn = std::stoi(text.out.substr(start, slash - start));
    std::filesystem::remove(dir() / "CDRWFW00.KVF");

    std::vector<std::string> json = args;
    json.insert(json.begin() + 1, "--json");
    const nlohmann::json doc = nlohmann::json::parse(Run(json).out);
    EXPECT_EQ(doc["outcome"]["progress"], drawn) << scenario;
    EXPECT_GT(drawn, 0) << scenario;
  }
}

TEST_F(UpdateCommand, RefusalsAndFailuresMapToTheirExitStatus) {
  struct Case {
    const char* scenario;
    std::size_t sample;
    bool backup;
    int status;
    int page;
    const char* code;
    const char* reason = "";  // on standard error
    bool nodeRefused = false;   // the platform names the drive's node among those the user may not use
    bool claimRefused = false;  // the system does not let the user hold the drive
  };
  const Case cases[] = {
      {"no-update-mode", 0, false, kExitNoUpdateMode, UpdateModeFailed, "not-a-loader"},
      {"unknown-type", 0, false, kExitNoUpdateMode, UpdateModeFailed, "drive-type-unknown"},
      {"rewrite-fails", 0, false, kExitUpdateFailed, Failed, "rewrite-failed"},
      {"chunk-fails", 0, false, kExitUpdateFailed, Failed, "chunk-failed"},
      {"short-read", 0, false, kExitNoUpdateMode, UpdateModeFailed, "id-block-read-short"},
      {"default,fault=e3:5:short:8192", 0, true, kExitBackupFailed, BackupFailed, "backup-read-short"},
      {"default,fault=e3:65:check:3/11/00", 0, true, kExitBackupFailed, BackupFailed, "backup-read-failed"},
      // No room for the backup: known before the drive hears anything.
      {"disk-full", 0, true, kExitBackupFailed, NoBackupFileName, "backup-directory-refused", "disk full"},
      {"default,create-fails=denied", 0, true, kExitBackupFailed, NoBackupFileName, "backup-directory-refused",
       "permission denied"},
      {"default,create-fails=read-only", 0, true, kExitBackupFailed, NoBackupFileName, "backup-directory-refused",
       "read-only file system"},
      {"aspi,fault=e3@0:2:short:8192", 0, true, kExitBackupFailed, BackupFailed, "backup-read-short"},
      {"aspi,fault=e3@0:1:short:8192", 0, true, kExitNoUpdateMode, UpdateModeFailed, "id-block-read-short"},
      {"default,swap=0:1", 0, true, kExitNoUpdateMode, UpdateModeFailed, "drive-list-changed"},
      {"default,sync-fails", 0, true, kExitBackupFailed, BackupFailed, "backup-write-failed"},
      {"timeout-poll", 0, false, kExitOk, Completed, nullptr},
      // The drive cannot be reached: held by the system from this user, or its
      // update-mode requests refused on the way to it (the same refusal from
      // a drive this user may open is the drive's own).
      {"default", 0, true, kExitNotAccessible, UpdateModeFailed, "drive-no-access", "", false, true},
      {"default,fault=e4:1+:fail", 0, false, kExitNotAccessible, UpdateModeFailed, "drive-unreachable",
       "group 'cdrom'", true},
      {"default,fault=e4:1+:fail", 0, false, kExitNoUpdateMode, UpdateModeFailed, "not-a-loader"},
  };
  for (const Case& c : cases) {
    nodeScript = {};
    if (c.nodeRefused) nodeScript.problems = {{"\\\\.\\cdrom0", "permission denied", "add your user to group 'cdrom'"}};
    if (c.claimRefused) nodeScript.claimRefused = {"\\\\.\\cdrom0"};
    std::vector<std::string> args{std::string("--simulate=") + c.scenario, "--json", "update", Sample(c.sample),
                                  "--drive", "1", "--yes"};
    if (c.backup) args.push_back("--backup");
    const CliRun run = Run(args);
    EXPECT_EQ(run.status, c.status) << c.scenario << "\n" << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << c.scenario << run.out;
    EXPECT_EQ(doc["outcome"]["page"]["number"], c.page) << c.scenario;
    EXPECT_EQ(doc["exitStatus"], c.status) << c.scenario;
    // The code names the stop; the reason is the detail people read on the output.
    EXPECT_EQ(doc["code"], c.code ? nlohmann::json(c.code) : nlohmann::json(nullptr)) << c.scenario;
    if (c.code != nullptr) {
      EXPECT_TRUE(Contains(run.err, doc["reason"].get<std::string>())) << c.scenario << run.err;
    }
    const bool swapped = std::string_view(c.scenario).find("swap") != std::string_view::npos;
    // A backup that cannot be written ends the attempt before the drive is asked for.
    const nlohmann::json claim = c.page == NoBackupFileName ? nlohmann::json(nullptr)
                                 : swapped                  ? nlohmann::json("changed")
                                 : c.claimRefused           ? nlohmann::json("no-access")
                                                            : nlohmann::json("claimed");
    EXPECT_EQ(doc["outcome"]["driveClaim"], claim) << c.scenario;
    EXPECT_EQ(doc["accessProblems"].size(), c.nodeRefused ? 1u : 0u) << c.scenario;
    if (c.nodeRefused) {
      EXPECT_TRUE(Contains(doc["reason"].get<std::string>(), c.reason)) << run.out;
    }
    if (c.claimRefused) {
      EXPECT_FALSE(machine->Drive(0).InUpdateMode()) << "no command after a refused claim";
    }
    if (swapped) {
      EXPECT_FALSE(machine->Drive(0).InUpdateMode() || machine->Drive(1).InUpdateMode());
    }
    if (c.status == kExitBackupFailed) {
      // No half-written backup, and the drive was never sent an image.
      EXPECT_FALSE(Exists("CDRWFW00.KVF")) << c.scenario;
      EXPECT_TRUE(machine->Drive(0).Received().empty()) << c.scenario;
      EXPECT_TRUE(Files().size() == sim::DefaultDrives().size() + 1) << c.scenario << ": " << Files().back();
    }
    if (c.page == NoBackupFileName) {
      // Known before the switch; the reason is told.
      EXPECT_FALSE(machine->Drive(0).InUpdateMode()) << c.scenario;
      EXPECT_EQ(machine->Drive(0).RewritesCompleted(), 0) << c.scenario;
      EXPECT_TRUE(Contains(run.err, c.reason)) << c.scenario << "\n" << run.err;
    }
  }
}

TEST_F(UpdateCommand, DifferentTypeCodeIsRefusedWithoutWriting) {
  const CliRun run = Run({"--simulate", "--trace", "update", sim::kMisfitFileName, "--drive", "1", "--yes"});
  EXPECT_EQ(run.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(run.out, " Cannot update for different Type Code."));
  EXPECT_TRUE(Contains(run.out, "stays in update mode until it is switched off and on"));
  EXPECT_TRUE(machine->Drive(0).InUpdateMode());
  const std::vector<int> ops = TracedOpcodes(run.err);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), 0xAA) + std::count(ops.begin(), ops.end(), 0xE2), 0);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), 0xE1), 0);
  EXPECT_EQ(machine->Drive(0).RewritesCompleted(), 0);
  const sim::SampleDrive& d = sim::DefaultDrives()[0];
  const std::vector<std::uint8_t> installed = sim::MakeDriveImage(d.family, d.typeCode, d.installed, d.installedSeed);
  EXPECT_TRUE(std::equal(installed.begin(), installed.end(), machine->Drive(0).Flash().begin()));
}

TEST_F(UpdateCommand, FilesThatCannotBeSentNeverReachTheDrive) {
  WriteBytes("NOTFW.BIN", std::vector<std::uint8_t>(4096, 0x5A));
  const CliRun unknown = Run({"--simulate", "--trace", "update", "NOTFW.BIN", "--drive", "1", "--yes"});
  EXPECT_EQ(unknown.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(unknown.err, "no matching type code"));
  const std::vector<int> ops = TracedOpcodes(unknown.err);
  EXPECT_EQ(ops, std::vector<int>(kDiscoveryProbes, 0x12));  // discovery only

  // A packed-family file under a .BIN name, and a plain one under .kvf, would
  // fail to load; so would a plain image of another length. All are refused as
  // a type-code refusal is, while the drive is untouched.
  std::filesystem::copy_file(dir() / Sample(0), dir() / "PACKED.BIN");
  std::filesystem::copy_file(dir() / Sample(1), dir() / "PLAIN.kvf");
  std::vector<std::uint8_t> cut = ReadBytes(Sample(1));
  cut.resize(cut.size() / 2);
  WriteBytes("CUT.BIN", cut);
  for (const char* misfit : {"PACKED.BIN", "PLAIN.kvf", "CUT.BIN"}) {
    const CliRun run = Run({"--simulate", "--trace", "update", misfit, "--drive", "1", "--yes"});
    EXPECT_EQ(run.status, kExitTypeCodeRefused) << misfit << "\n" << run.err;
    EXPECT_TRUE(Contains(run.err, "the drive was not touched")) << run.err;
    EXPECT_EQ(TracedOpcodes(run.err), std::vector<int>(kDiscoveryProbes, 0x12)) << misfit;
  }

  const CliRun missing = Run({"--simulate", "update", "NOSUCH.BIN", "--drive", "1", "--yes"});
  EXPECT_EQ(missing.status, kExitNoSuchDriveOrFile);
  EXPECT_TRUE(Contains(missing.err, "file not found")) << missing.err;

  const CliRun jsonMissing = Run({"--simulate", "--json", "update", Sample(0), "--drive", "7", "--yes"});
  EXPECT_EQ(jsonMissing.status, kExitNoSuchDriveOrFile);
  const nlohmann::json doc = nlohmann::json::parse(jsonMissing.out);
  EXPECT_EQ(doc["command"], "update");
  EXPECT_EQ(doc["exitStatus"], kExitNoSuchDriveOrFile);
  EXPECT_TRUE(Contains(doc["reason"].get<std::string>(), "no such drive: 7"));
  EXPECT_EQ(doc["code"], "no-such-drive");

  for (const char* which : {"4", "0", "cdrom3", "HA:0 ID:0", "x"}) {
    const CliRun noDrive = Run({"--simulate", "update", Sample(0), "--drive", which, "--yes"});
    EXPECT_EQ(noDrive.status, kExitNoSuchDriveOrFile) << which;
  }
}

TEST_F(UpdateCommand, TenTakenBackupNamesStopBeforeTheDriveIsTouched) {
  for (int n = 0; n < 10; ++n) WriteBytes("CDRWFW0" + std::to_string(n) + ".KVF", {1});
  const CliRun run = Run({"--simulate", "--trace", "update", Sample(0), "--drive", "1", "--backup", "--yes"});
  EXPECT_EQ(run.status, kExitBackupFailed);
  EXPECT_TRUE(Contains(run.out, " Fail to make Back Up File."));
  EXPECT_EQ(TracedOpcodes(run.err), std::vector<int>(kDiscoveryProbes, 0x12));
}

TEST_F(UpdateCommand, BackupNotPossibleIsToldAndTheUpdateGoesOn) {
  const CliRun run = Run({"--simulate=alt-read", "update", Sample(0), "--drive", "1", "--backup", "--yes"});
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_TRUE(Contains(run.out, "I could not back up the F/W in selected model. I continue the updating."));
  // No backup file is named: none was written, and the text says why.
  EXPECT_FALSE(Contains(run.out + run.err, "CDRWFW")) << run.out;
  EXPECT_TRUE(Contains(run.out, "No backup was written: the drive does not let its firmware be read back")) << run.out;
  EXPECT_TRUE(Files().size() == sim::DefaultDrives().size() + 1) << "no temporary file is left";
  EXPECT_FALSE(Exists("CDRWFW00.KVF"));
  EXPECT_EQ(machine->Drive(0).RewritesCompleted(), 1);
}

// A backup name taken between the check and the end of the backup: the next
// free one is used and the operator is told which.
TEST_F(UpdateCommand, BackupNameTakenMeanwhileIsToldWithTheNameUsed) {
  const CliRun text = Run({"--simulate=default,rename-taken=1", "update", Sample(1), "--drive", "2", "--backup", "--yes"});
  ASSERT_EQ(text.status, kExitOk) << text.err;
  EXPECT_TRUE(Contains(text.out, "Backup written to CDRWFW01.BIN (CDRWFW00.BIN was taken meanwhile)")) << text.out;
  EXPECT_EQ(ReadBytes("CDRWFW01.BIN").size(), kFullImageSize);
  const nlohmann::json doc = nlohmann::json::parse(
      Run({"--simulate=default,rename-taken=1", "--json", "update", Sample(1), "--drive", "2", "--backup", "--yes"})
          .out);
  EXPECT_EQ(doc["outcome"]["backup"]["file"], "CDRWFW03.BIN");
  EXPECT_EQ(doc["outcome"]["backup"]["nameTaken"], "CDRWFW02.BIN");
}

TEST_F(UpdateCommand, AsksOnATerminalAndRequiresYesWithoutOne) {
  const CliRun noTerminal = Run({"--simulate", "update", Sample(0), "--drive", "1"});
  EXPECT_EQ(noTerminal.status, kExitUsage);
  EXPECT_EQ(platformsMade, 0);

  env.inputIsTerminal = true;
  answers = {"n"};
  const CliRun declined = Run({"--simulate", "--trace", "update", Sample(0), "--drive", "1"});
  EXPECT_EQ(declined.status, kExitUsage);
  EXPECT_TRUE(Contains(declined.err, "[y/N]"));
  const std::vector<int> ops = TracedOpcodes(declined.err);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), 0xE4), 0);

  // A script's run never waits on a question, terminal or not: refused before any platform is made.
  const int platformsBefore = platformsMade;
  answers = {"y"};
  const CliRun script = Run({"--simulate", "--json", "update", Sample(0), "--drive", "1"});
  EXPECT_EQ(script.status, kExitUsage);
  EXPECT_FALSE(Contains(script.err, "[y/N]")) << script.err;
  const nlohmann::json refused = nlohmann::json::parse(script.out);
  EXPECT_EQ(refused["code"], "confirmation-required");
  EXPECT_TRUE(Contains(refused["reason"].get<std::string>(), "--yes"));
  EXPECT_EQ(refused["drive"], nullptr);
  EXPECT_EQ(platformsMade, platformsBefore);
  EXPECT_EQ(answers.size(), 1u) << "nothing was read from the terminal";

  const CliRun accepted = Run({"--simulate", "update", Sample(0), "--drive", "1"});
  EXPECT_EQ(accepted.status, kExitOk) << accepted.err;
  EXPECT_EQ(machine->Drive(0).RewritesCompleted(), 1);
}

// Every kind of message in the run's language: --lang, else the locale (the
// first of LC_ALL, LC_MESSAGES, LANG set and not empty, Japanese only with UTF-8).
TEST_F(UpdateCommand, MessagesFollowLangOrTheLocale) {
  struct Setting {
    const char* lang;  // --lang, or nullptr
    std::map<std::string, std::string> environment;
    bool japanese;
  };
  const Setting settings[] = {
      {"ja", {}, true},
      {nullptr, {{"LANG", "ja_JP.UTF-8"}}, true},
      {nullptr, {{"LC_MESSAGES", "ja_JP.utf8"}, {"LANG", "en_US.UTF-8"}}, true},
      {nullptr, {{"LC_ALL", ""}, {"LANG", "ja_JP.UTF-8@cjknarrow"}}, true},
      {nullptr, {}, false},
      {nullptr, {{"LANG", "ja_JP.eucJP"}}, false},
      {nullptr, {{"LANG", "ja_JP"}}, false},
      {nullptr, {{"LC_ALL", "C"}, {"LANG", "ja_JP.UTF-8"}}, false},
      {"en", {{"LANG", "ja_JP.UTF-8"}}, false},
  };
  struct Message {
    std::vector<std::string> args;
    std::string english;
    std::string japanese;
    bool asked = false;  // on a terminal, answered "n"
  };
  const Message messages[] = {
      {{"identify", Sample(0)}, ": identified", ": 識別しました"},
      {{"identify", "NONE.BIN"}, "did not open (file not found)", "開けません（ファイルが見つかりません）"},
      {{"--simulate=alt-read", "update", Sample(0), "--drive", "1", "--backup", "--yes"},
       "I could not back up the F/W in selected model.", "選択された機種ではF/Wをバックアップできませんでした。"},
      {{"--simulate", "update", Sample(0), "--drive", "1"}, "Write " + Sample(0) + " (", " に書き込みますか?", true},
      {{"--simulate=rewrite-fails", "update", Sample(0), "--drive", "1", "--yes"}, "(rewrite failed: sense ",
       "(書き換えに失敗しました: センス "},
      {{"--simulate=disk-full", "update", Sample(0), "--drive", "1", "--backup", "--yes"},
       "no room for 1048576 bytes in CDRWFW00.TMP: disk full",
       "CDRWFW00.TMP に 1048576 バイトの空きを確保できません: ディスクの空き容量がありません"},
      // Said by the platform, worded by its kinds.
      {{"--simulate=default,no-access=1", "drives"},
       "cannot open \\\\.\\cdrom1 (permission denied): run without no-access in the scenario",
       "\\\\.\\cdrom1 を開けません（権限がありません）: シナリオの no-access を外して実行してください"},
      {{"--simulate=default,no-logind", "update", Sample(0), "--drive", "1", "--yes"},
       "(the simulated machine has no logind to keep it awake)",
       "（シミュレートされたマシンには、スリープを防ぐ logind がありません）"},
  };
  for (const Setting& s : settings) {
    environment = s.environment;
    for (const Message& m : messages) {
      std::vector<std::string> args = m.args;
      if (s.lang != nullptr) args.insert(args.begin(), {"--lang", s.lang});
      env.inputIsTerminal = m.asked;
      answers = {"n"};
      const CliRun run = Run(args);
      const std::string said = run.out + run.err;
      const std::string where = (s.lang ? std::string("--lang ") + s.lang : std::string("locale")) + " " + args.back();
      EXPECT_EQ(Contains(said, m.japanese), s.japanese) << where << "\n" << said;
      // Japanese instead of the English, not beside it.
      EXPECT_NE(Contains(said, m.english), s.japanese) << where << "\n" << said;
    }
  }
  env.inputIsTerminal = false;

  // Scripts: keys and codes stay English, the reason follows the run's language.
  environment = {{"LANG", "ja_JP.UTF-8"}};
  const CliRun failed = Run({"--simulate=rewrite-fails", "--json", "update", Sample(0), "--drive", "1", "--yes"});
  const nlohmann::json doc = nlohmann::json::parse(failed.out);
  EXPECT_EQ(doc["code"], "rewrite-failed");
  EXPECT_TRUE(Contains(doc["reason"].get<std::string>(), "書き換えに失敗しました: センス ")) << doc["reason"];
  const nlohmann::json refused = nlohmann::json::parse(Run({"--simulate=default,no-access=1", "--json", "drives"}).out);
  ASSERT_EQ(refused["accessProblems"].size(), 1u) << refused;
  EXPECT_EQ(refused["accessProblems"][0]["node"], "\\\\.\\cdrom1");
  EXPECT_EQ(refused["accessProblems"][0]["reason"], "権限がありません");
  EXPECT_EQ(refused["accessProblems"][0]["remedy"], "シナリオの no-access を外して実行してください");
}

TEST_F(UpdateCommand, TerminalRedrawsOneProgressLineAndJapaneseStepsAreShown) {
  env.outputIsTerminal = true;
  const CliRun run = Run({"--simulate", "--lang", "ja", "update", Sample(2), "--drive", "3", "--yes"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  EXPECT_TRUE(Contains(run.out, "\r\033[K["));
  // Progress is redrawn in place: far fewer lines than bar positions.
  EXPECT_LT(std::count(run.out.begin(), run.out.end(), '\n'), 40);

  // Each step line of the Japanese pane appears, and the Japanese result page.
  for (int page : {Transferring, CheckingSum, Erasing, Writing}) {
    const std::string text = InformationText(page, Japanese, false);
    const std::size_t marker = text.find(kStepMarkerCurrent);
    ASSERT_NE(marker, std::string::npos);
    const std::string line = text.substr(marker, text.find('\r', marker) - marker);
    EXPECT_TRUE(Contains(run.out, line)) << line;
  }
  std::string completed(PageTextRow(Completed, Japanese).infoText);
  completed = completed.substr(0, completed.find('\r'));
  EXPECT_TRUE(Contains(run.out, completed)) << completed;
  // Without the backup there are five steps; the redrawn bar carries the current one.
  EXPECT_TRUE(Contains(run.out, "/120  書込データを転送中（ステップ 1/5）")) << run.out;
  EXPECT_TRUE(Contains(run.out, "/120  フラッシュROMへ書込中（ステップ 4/5）")) << run.out;
  EXPECT_FALSE(Contains(run.out, "/6）"));

  // With the trace on the same terminal the bar goes line by line, so trace lines never land inside it.
  const CliRun traced = Run({"--simulate", "--trace", "update", Sample(2), "--drive", "3", "--yes"});
  ASSERT_EQ(traced.status, kExitOk) << traced.err;
  EXPECT_FALSE(Contains(traced.out, "\r\033[K"));
  EXPECT_TRUE(Contains(traced.out, "] 120/120  Confirming SUM Code (step 5 of 5)\n")) << traced.out;
}

// The "Pass Type" override: a file whose type code differs from the drive's
// (QDX72 in drive 1) only in its last two characters passes with the file's key.
TEST_F(UpdateCommand, PassTypeLetsOnlyTheLastTwoCharactersDifferWithTheFilesKey) {
  WriteBytes("CW754100.KVF", MakeFirmwareFile(6, "QDX75", "Tessaro CW-7540 Ver 1.00", 0x7540100));
  WriteBytes("CW624100.KVF", MakeFirmwareFile(7, "QDX62", "Tessaro CW-7540 Ver 1.00", 0x6240100));
  struct Case {
    const char* file;
    const char* key;  // nullptr: no --pass-type
    int status;
    bool keyTold;     // "does not match" is said
  };
  const Case cases[] = {
      {"CW754100.KVF", "Tessaro ", kExitOk, false},
      {"CW754100.KVF", "Tessaro CW-7540", kExitOk, false},  // characters after the eighth play no part
      {"CW754100.KVF", nullptr, kExitTypeCodeRefused, false},
      {"CW754100.KVF", "tessaro ", kExitTypeCodeRefused, true},
      {"CW754100.KVF", "Tessaro", kExitTypeCodeRefused, true},  // seven characters never match
      {"CW754100.KVF", "", kExitTypeCodeRefused, true},
      // QDX620 against QDX720: the first four differ, which the key never lets pass.
      {"CW624100.KVF", "Tessaro ", kExitTypeCodeRefused, false},
      // Equal codes pass with or without it.
      {"CW724132.KVF", "whatever", kExitOk, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--simulate", "update", c.file, "--drive", "1", "--yes"};
    if (c.key != nullptr) args.insert(args.end(), {"--pass-type", c.key});
    const CliRun run = Run(args);
    const std::string what = std::string(c.file) + " " + (c.key ? c.key : "(none)");
    EXPECT_EQ(run.status, c.status) << what << "\n" << run.err;
    EXPECT_EQ(machine->Drive(0).RewritesCompleted(), c.status == kExitOk ? 1 : 0) << what;
    EXPECT_EQ(Contains(run.out, "The --pass-type key does not match"), c.keyTold) << what << "\n" << run.out;
    EXPECT_EQ(Contains(run.out, " Cannot update for different Type Code."), c.status != kExitOk) << what;
  }
}

class VerifyCommand : public UpdateCommand {
 protected:
  // Every run of the test in one simulated machine, as one computer's drives
  // from one command to the next.
  void KeepOneMachine() {
    env.makePlatform = [this](const PlatformRequest& request, std::string* error) -> std::unique_ptr<Platform> {
      if (!machine) machine = sim::MakeScenario("default", request.workingDirectory, error);
      if (!machine) return nullptr;
      return std::make_unique<ScriptedNodesPlatform>(*machine, nodeScript);
    };
  }
};

constexpr int kWriteOpcodes[] = {0xAA, 0xE2, 0xE0, 0xE1};

int WriteCommands(const std::string& err) {
  const std::vector<int> ops = TracedOpcodes(err);
  int count = 0;
  for (int op : kWriteOpcodes) count += static_cast<int>(std::count(ops.begin(), ops.end(), op));
  return count;
}

TEST_F(VerifyCommand, AfterAnUpdateAndAPowerCycleTheDriveHoldsTheFilesFirmware) {
  KeepOneMachine();
  ASSERT_EQ(Run({"--simulate", "update", Sample(0), "--drive", "1", "--yes"}).status, kExitOk);
  machine->Drive(0).PowerCycle();

  const CliRun run = Run({"--simulate", "--trace", "verify", Sample(0), "--drive", "1"});
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_TRUE(Contains(run.out, "The drive holds the firmware of " + Sample(0) + ": all 1048576 bytes are equal."))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "The drive stays in update mode until it is switched off and on.")) << run.out;
  EXPECT_TRUE(machine->Drive(0).InUpdateMode());
  // Update mode, the loader check, the identification block and the whole firmware: reads only.
  std::vector<int> expected = Repeat({}, 0x12, kDiscoveryProbes);
  expected.insert(expected.end(), {0xE4, 0xE4, 0x12, 0xE3});
  EXPECT_EQ(TracedOpcodes(run.err), Repeat(expected, 0xE3, kBackupBlocksFull));
  EXPECT_EQ(machine->Drive(0).RewritesCompleted(), 1);

  machine->Drive(0).PowerCycle();
  const nlohmann::json doc = nlohmann::json::parse(Run({"--simulate", "--json", "verify", Sample(0), "--drive", "1"}).out);
  EXPECT_EQ(doc["command"], "verify");
  EXPECT_EQ(doc["result"], "equal");
  EXPECT_EQ(doc["differingRanges"], nlohmann::json::array());
  EXPECT_EQ(doc["bytesCompared"], kFullImageSize);
  EXPECT_EQ(doc["bytesDiffering"], 0);
  EXPECT_EQ(doc["outcome"]["driveClaim"], "claimed");
  EXPECT_EQ(doc["outcome"]["switchResult"], 1);
  EXPECT_EQ(doc["code"], nullptr);
  EXPECT_EQ(Files().size(), sim::DefaultDrives().size() + 1) << "nothing written to disk";
}

TEST_F(VerifyCommand, DifferingFirmwareIsReportedByRange) {
  const CliRun text = Run({"--simulate", "--trace", "verify", Sample(0), "--drive", "1"});
  EXPECT_EQ(text.status, kExitFirmwareDiffers) << text.err;
  EXPECT_TRUE(Contains(text.out, "The drive's firmware differs from " + Sample(0))) << text.out;
  EXPECT_EQ(WriteCommands(text.err), 0);

  const CliRun run = Run({"--simulate", "--json", "verify", Sample(0), "--drive", "1"});
  EXPECT_EQ(run.status, kExitFirmwareDiffers);
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["result"], "different");
  EXPECT_EQ(doc["code"], "firmware-differs");
  // The ranges hold every differing byte, begin and end on one, and are
  // split only by runs of at least kRangeJoinGap equal bytes.
  const std::vector<std::uint8_t> file = sim::SampleImage(0);
  const std::span<const std::uint8_t> flash = machine->Drive(0).Flash();
  std::vector<bool> covered(file.size(), false);
  std::size_t differing = 0;
  std::size_t lastEnd = 0;
  for (const nlohmann::json& range : doc["differingRanges"]) {
    const std::size_t offset = range["offset"];
    const std::size_t length = range["length"];
    ASSERT_GT(length, 0u);
    ASSERT_LE(offset + length, file.size());
    EXPECT_NE(flash[offset], file[offset]);
    EXPECT_NE(flash[offset + length - 1], file[offset + length - 1]);
    if (lastEnd != 0) {
      EXPECT_GE(offset - lastEnd, kRangeJoinGap);
    }
    lastEnd = offset + length;
    for (std::size_t i = offset; i < lastEnd; ++i) covered[i] = true;
  }
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (flash[i] == file[i]) continue;
    ++differing;
    EXPECT_TRUE(covered[i]) << "byte " << i;
  }
  EXPECT_EQ(doc["bytesDiffering"], differing);
  EXPECT_GT(differing, 0u);
}

TEST_F(VerifyCommand, RefusalsLeaveTheDriveUnreadOrAsItWas) {
  std::filesystem::copy_file(dir() / Sample(0), dir() / "PACKED.BIN");
  struct Case {
    const char* scenario;
    std::string file;
    const char* which;
    int status;
    const char* code;
    bool switched;  // the drive was switched to update mode
  };
  const Case cases[] = {
      // The alternate read form carries no address: nothing to compare by.
      {"alt-read", Sample(0), "1", kExitBackupFailed, "backup-not-possible", true},
      {"default", "PACKED.BIN", "1", kExitTypeCodeRefused, "file-misfit", false},
      // A family-2 image is half the size of the family-6 drive's firmware.
      {"default", Sample(2), "1", kExitTypeCodeRefused, "file-not-for-drive", true},
      {"default", "NOSUCH.BIN", "1", kExitNoSuchDriveOrFile, "file-not-opened", false},
      {"default", Sample(0), "9", kExitNoSuchDriveOrFile, "no-such-drive", false},
      {"default", Sample(0), "/dev/sda", kExitNoSuchDriveOrFile, "not-a-drive", false},
      {"default,swap=0:1", Sample(0), "1", kExitNoUpdateMode, "drive-list-changed", false},
      {"no-update-mode", Sample(0), "1", kExitNoUpdateMode, "not-a-loader", true},
      {"default,fault=e3:5:short:8192", Sample(0), "1", kExitBackupFailed, "backup-read-short", true},
  };
  for (const Case& c : cases) {
    const CliRun run = Run({std::string("--simulate=") + c.scenario, "--json", "--trace", "verify", c.file, "--drive",
                            c.which});
    EXPECT_EQ(run.status, c.status) << c.scenario << " " << c.file << "\n" << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << run.out;
    EXPECT_EQ(doc["code"], c.code) << c.scenario << " " << c.file;
    EXPECT_EQ(doc["result"], nullptr);
    EXPECT_TRUE(Contains(run.err, doc["reason"].get<std::string>())) << run.err;
    const std::vector<int> ops = TracedOpcodes(run.err);
    EXPECT_EQ(std::count(ops.begin(), ops.end(), 0xE4) > 0, c.switched) << c.scenario << " " << c.file;
    EXPECT_EQ(WriteCommands(run.err), 0);
    if (c.switched && c.status != kExitNoUpdateMode) {
      EXPECT_TRUE(Contains(run.err, "stays in update mode")) << run.err;
    }
  }
}

}  // namespace
}  // namespace orvel::testing
