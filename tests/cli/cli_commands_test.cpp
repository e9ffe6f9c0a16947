// drives, identify, backup, convert, the trace format, arguments and the platform choice.

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli/cli_context.h"
#include "cli/command_trace.h"
#include "sim/real_time_platform.h"
#include "cli_fixture.h"
#include "firmware/catalogue.h"
#include "firmware/codec.h"
#include "firmware/sample_firmware.h"

namespace orvel::testing {
namespace {

std::string Sample(std::size_t i) { return sim::DefaultDrives()[i].fileName; }

TEST(CommandTrace, LinesHaveTheFixedForm) {
  const std::uint8_t inquiry[] = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
  CommandRecord r;
  r.cdb = inquiry;
  r.direction = DataIn;
  r.length = 36;
  r.outcome = CommandOutcome::Good;
  EXPECT_EQ(FormatTraceLine(r), "scsi> 12 00 00 00 24 00 | in 36 | good");

  const std::uint8_t read[] = {0xE3, 0x00, 0x00, 0x07, 0xC0, 0x04, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00};
  r.cdb = read;
  r.length = 16384;
  r.outcome = CommandOutcome::CheckCondition;
  r.asc = 0x20;
  r.ascq = 0x00;
  EXPECT_EQ(FormatTraceLine(r), "scsi> e3 00 00 07 c0 04 00 40 00 00 00 00 | in 16384 | check 20/00");

  const std::uint8_t poll[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x80};
  r.cdb = poll;
  r.direction = DataNone;
  r.length = 0;
  r.outcome = CommandOutcome::Timeout;
  EXPECT_EQ(FormatTraceLine(r), "scsi> 00 00 00 00 00 80 | none 0 | timeout");
  r.direction = DataOut;
  r.length = 16384;
  r.outcome = CommandOutcome::Failed;
  EXPECT_EQ(FormatTraceLine(r), "scsi> 00 00 00 00 00 80 | out 16384 | fail");
  r.outcome = CommandOutcome::CheckCondition;
  r.asc = 0xF7;
  r.ascq = 0x0A;
  EXPECT_EQ(FormatTraceLine(r), "scsi> 00 00 00 00 00 80 | out 16384 | check f7/0a");
}

TEST(CommandTrace, VerboseNamesTheCommandItsOutcomeAndAtTwoItsData) {
  std::ostringstream out, err;
  const CliEnvironment env;
  CliContext ctx{out, err, env, {}, {}, false, std::nullopt, {}};
  std::vector<std::uint8_t> inquiryData = {0x05, 0x80, 0x00, 0x02, 0x1F, 0x00, 0x00, 0x00};
  for (const char c : std::string_view("TESSARO CDRW-7241       1.04")) inquiryData.push_back(static_cast<std::uint8_t>(c));
  const std::vector<std::uint8_t> chunk(16384, 0xA5);
  const std::uint8_t inquiry[] = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
  const std::uint8_t read[] = {0xE3, 0x00, 0x00, 0x07, 0xC0, 0x04, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00};
  const std::uint8_t poll[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x80};
  const std::uint8_t send[] = {0xAA, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x00};
  const std::uint8_t unknown[] = {0x5A, 0x00};
  struct Case {
    std::span<const std::uint8_t> cdb;
    std::uint8_t direction;
    std::uint32_t length;
    CommandOutcome outcome;
    std::uint8_t key, asc, ascq;
    std::span<const std::uint8_t> data;
    int verbosity;
    int language;
    std::string text;
  };
  const Case cases[] = {
      {inquiry, DataIn, 36, CommandOutcome::Good, 0, 0, 0, inquiryData, 1, 0,
       "scsi: INQUIRY [12 00 00 00 24 00], in 36 bytes: good\n"},
      {read, DataIn, 16384, CommandOutcome::CheckCondition, 0x5, 0x20, 0x00, {}, 1, 0,
       "scsi: READ FIRMWARE BLOCK [e3 00 00 07 c0 04 00 40 00 00 00 00], in 16384 bytes: check condition: "
       "ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE (5/20/00)\n"},
      {poll, DataNone, 0, CommandOutcome::CheckCondition, 0x2, 0x3A, 0x00, {}, 2, 0,
       "scsi: TEST UNIT READY [00 00 00 00 00 80]: check condition: NOT READY, MEDIUM NOT PRESENT (2/3a/00)\n"},
      {poll, DataNone, 0, CommandOutcome::CheckCondition, 0xC, 0x51, 0x07, {}, 1, 0,
       "scsi: TEST UNIT READY [00 00 00 00 00 80]: check condition: sense key c, asc/ascq 51/07 (c/51/07)\n"},
      {poll, DataNone, 0, CommandOutcome::Timeout, 0, 0, 0, {}, 1, 1,
       "scsi: TEST UNIT READY [00 00 00 00 00 80]: 時間内に応答がありませんでした\n"},
      {unknown, DataNone, 0, CommandOutcome::Failed, 0, 0, 0, {}, 1, 0, "scsi: opcode 5a [5a 00]: did not reach the drive\n"},
      // -vv: what came back, with its printable bytes beside the hex.
      {inquiry, DataIn, 36, CommandOutcome::Good, 0, 0, 0, inquiryData, 2, 0,
       "scsi: INQUIRY [12 00 00 00 24 00], in 36 bytes: good\n"
       "scsi:   data in: 36 bytes\n"
       "scsi:     0000  05 80 00 02 1f 00 00 00 54 45 53 53 41 52 4f 20  ........TESSARO \n"
       "scsi:     0010  43 44 52 57 2d 37 32 34 31 20 20 20 20 20 20 20  CDRW-7241       \n"
       "scsi:     0020  31 2e 30 34                                      1.04\n"},
      // A short answer shows what arrived; a refused read shows no data.
      {inquiry, DataIn, 36, CommandOutcome::Good, 0, 0, 0, std::span(inquiryData).first(3), 2, 1,
       "scsi: INQUIRY [12 00 00 00 24 00]、受信 36 バイト: 正常終了\n"
       "scsi:   受信データ: 3 バイト\n"
       "scsi:     0000  05 80 00                                         ...\n"},
      {read, DataIn, 16384, CommandOutcome::CheckCondition, 0x5, 0x20, 0x00, {}, 2, 0,
       "scsi: READ FIRMWARE BLOCK [e3 00 00 07 c0 04 00 40 00 00 00 00], in 16384 bytes: check condition: "
       "ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE (5/20/00)\n"},
      // What went out is bounded: the first 64 bytes and the total.
      {send, DataOut, 16384, CommandOutcome::Good, 0, 0, 0, chunk, 2, 0,
       "scsi: SEND IMAGE CHUNK (12-byte form) [aa 00 00 00 00 00 3c 00 00 00 00 00], out 16384 bytes: good\n"
       "scsi:   data out: 16384 bytes, the first 64 shown\n"
       "scsi:     0000  a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5  ................\n"
       "scsi:     0010  a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5  ................\n"
       "scsi:     0020  a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5  ................\n"
       "scsi:     0030  a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5  ................\n"},
  };
  for (const Case& c : cases) {
    CommandRecord r;
    r.cdb = c.cdb;
    r.direction = c.direction;
    r.length = c.length;
    r.outcome = c.outcome;
    r.senseKey = c.key;
    r.asc = c.asc;
    r.ascq = c.ascq;
    r.data = c.data;
    ctx.options.language = c.language;
    EXPECT_EQ(FormatVerbose(r, c.verbosity, ctx), c.text);
  }
}

// The lines of `err` that start with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& err, std::string_view prefix) {
  std::vector<std::string> found;
  std::istringstream lines(err);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with(prefix)) found.push_back(line);
  }
  return found;
}

TEST_F(CliTest, VerboseNamesCommandsAndFaultsBesideAnUnchangedTrace) {
  // The first update-mode command meets no medium; the identification-block read is refused.
  const std::string simulate = "--simulate=default,fault=e4@0:1:check:3a/00,fault=e3@0:1:check:20/00";
  const CliRun traced = Run({simulate.c_str(), "--trace", "backup", "--drive", "1"});
  const CliRun both = Run({simulate.c_str(), "--trace", "-v", "backup", "--drive", "1"});
  const CliRun verbose = Run({simulate.c_str(), "--verbose", "backup", "--drive", "1"});
  EXPECT_EQ(both.status, traced.status);
  EXPECT_EQ(verbose.status, traced.status);

  const std::vector<std::string> traceLines = LinesStartingWith(traced.err, "scsi> ");
  ASSERT_GT(traceLines.size(), 12u) << traced.err;
  EXPECT_TRUE(LinesStartingWith(traced.err, "scsi: ").empty()) << "--trace alone prints its lines only";
  EXPECT_EQ(LinesStartingWith(both.err, "scsi> "), traceLines) << "-v leaves the trace as it is";
  EXPECT_TRUE(LinesStartingWith(verbose.err, "scsi> ").empty());

  // One named line per command, right after its trace line.
  const std::vector<std::string> named = LinesStartingWith(verbose.err, "scsi: ");
  ASSERT_EQ(named.size(), traceLines.size()) << verbose.err;
  EXPECT_EQ(LinesStartingWith(both.err, "scsi: "), named);
  std::istringstream lines(both.err);
  std::string line, previous;
  while (std::getline(lines, line)) {
    if (line.starts_with("scsi: ")) {
      EXPECT_TRUE(previous.starts_with("scsi> ")) << line;
    }
    previous = line;
  }
  EXPECT_EQ(named[0], "scsi: INQUIRY [12 00 00 00 24 00], in 36 bytes: good");
  EXPECT_TRUE(Contains(verbose.err,
                       "scsi: ENTER UPDATE MODE [e4 00 00 00 00 00 00 00 00 40]: check condition: NOT READY, MEDIUM NOT "
                       "PRESENT (2/3a/00)\n"));
  EXPECT_TRUE(Contains(verbose.err, "scsi: READ FIRMWARE BLOCK [e3 00") &&
              Contains(verbose.err, "in 16384 bytes: check condition: ILLEGAL REQUEST, INVALID COMMAND OPERATION "
                                    "CODE (5/20/00)\n"));
  EXPECT_TRUE(Contains(verbose.err, "scsi: READ FIRMWARE BLOCK (alternate form) [a8 00"));

  // -vv with --json: the document alone on the output, the data beside the commands.
  const CliRun data = Run({"--simulate", "-vv", "--json", "--lang", "ja", "drives"});
  ASSERT_EQ(data.status, kExitOk) << data.err;
  EXPECT_EQ(nlohmann::json::parse(data.out)["drives"].size(), 3u);
  EXPECT_TRUE(Contains(data.err, "scsi: INQUIRY [12 00 00 00 24 00]、受信 36 バイト: 正常終了\nscsi:   受信データ: 36 バイト\n"
                                 "scsi:     0000  "));
  EXPECT_TRUE(Contains(data.err, "TESSARO")) << data.err;
}

TEST_F(CliTest, DrivesListsSupportedDrivesInProbeOrder) {
  const CliRun run = Run({"--simulate", "drives"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  EXPECT_TRUE(Contains(run.out, "1  cdrom0 :  TESSARO "));
  EXPECT_TRUE(Contains(run.out, "3  cdrom2 :  "));
  EXPECT_FALSE(Contains(run.out, "cdrom3"));  // the unsupported DVD-ROM

  const CliRun json = Run({"--simulate", "--json", "drives"});
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  ASSERT_EQ(doc["drives"].size(), 3u);
  EXPECT_EQ(doc["drives"][1]["index"], 2);
  EXPECT_EQ(doc["drives"][1]["address"], "cdrom1");
  EXPECT_EQ(doc["drives"][1]["vendor"], "TESSARO ");
  EXPECT_EQ(doc["drives"][1]["product"].get<std::string>().size(), kProductIdLength);
  EXPECT_EQ(doc["drives"][1]["revision"], "1.10");
  EXPECT_EQ(doc["drives"][1]["label"].get<std::string>().rfind("cdrom1 :  ", 0), 0u);

  const CliRun aspi = Run({"--simulate=aspi", "--json", "drives"});
  const nlohmann::json aspiDoc = nlohmann::json::parse(aspi.out);
  ASSERT_EQ(aspiDoc["drives"].size(), 3u);
  EXPECT_EQ(aspiDoc["drives"][2]["address"], "HA:0 ID:2");
  EXPECT_EQ(aspiDoc["drives"][2]["label"].get<std::string>().rfind("HA:0 ID:2  ", 0), 0u);

  // WHICH by the ASPI address, however it is typed: the drive's own firmware is saved.
  const CliRun byAddress = Run({"--simulate=aspi", "--json", "backup", "--drive", "ha:0  id:2"});
  ASSERT_EQ(byAddress.status, kExitOk) << byAddress.err;
  EXPECT_EQ(nlohmann::json::parse(byAddress.out)["drive"]["address"], "HA:0 ID:2");
  EXPECT_EQ(Run({"--simulate=aspi", "backup", "--drive", "HA:0 ID:3"}).status, kExitNoSuchDriveOrFile);

  const CliRun none = Run({"--simulate=empty", "drives"});
  EXPECT_EQ(none.status, kExitOk);
  EXPECT_TRUE(Contains(none.out, "No supported drive found."));

  const CliRun noRoute = Run({"--simulate=aspi-no-library", "drives"});
  EXPECT_EQ(noRoute.status, kExitNoSuchDriveOrFile);
  EXPECT_FALSE(noRoute.err.empty());
}

// A drive by a node's path, as a Linux user names it: the block or generic
// node, a link to one, or the device name itself. A path that leads to no
// listed drive gets discovery's INQUIRYs and nothing else.
TEST_F(CliTest, DrivesAreNamedByTheirNodes) {
  nodeScript.nodes = {{"\\\\.\\cdrom0", {"/dev/sr0", "/dev/sg1"}},
                      {"\\\\.\\cdrom1", {"/dev/sr1", "/dev/sg2"}},
                      {"\\\\.\\cdrom3", {"/dev/sr3", "/dev/sg4"}}};
  nodeScript.links = {{"/dev/disk/by-id/usb-TESSARO-0:0", "/dev/sr1"}, {"/dev/cdrom", "/dev/sr0"}};

  const CliRun text = Run({"--simulate", "drives"});
  ASSERT_EQ(text.status, kExitOk) << text.err;
  EXPECT_TRUE(Contains(text.out, "   nodes  block /dev/sr0  generic /dev/sg1\n")) << text.out;
  const nlohmann::json doc = nlohmann::json::parse(Run({"--simulate", "--json", "drives"}).out);
  EXPECT_EQ(doc["drives"][0]["device"], "\\\\.\\cdrom0");
  EXPECT_EQ(doc["drives"][0]["nodes"]["block"], "/dev/sr0");
  EXPECT_EQ(doc["drives"][1]["nodes"]["generic"], "/dev/sg2");
  EXPECT_TRUE(doc["drives"][2]["nodes"]["block"].is_null()) << "unknown nodes are null";
  EXPECT_EQ(doc["accessProblems"], nlohmann::json::array());
  EXPECT_EQ(doc["exitStatus"], kExitOk);

  struct Row {
    const char* which;
    int status;
    const char* address;  // of the drive backed up
  };
  const Row rows[] = {
      {"/dev/sg1", kExitOk, "cdrom0"},
      {"/dev/cdrom", kExitOk, "cdrom0"},
      {"/dev/disk/by-id/usb-TESSARO-0:0", kExitOk, "cdrom1"},
      {"\\\\.\\cdrom2", kExitOk, "cdrom2"},
      {"/dev/sr3", kExitNoSuchDriveOrFile, ""},  // the unsupported DVD-ROM
      {"/dev/sda", kExitNoSuchDriveOrFile, ""},
  };
  for (const Row& row : rows) {
    const CliRun run = Run({"--simulate", "--trace", "--json", "backup", "--drive", row.which});
    EXPECT_EQ(run.status, row.status) << row.which << "\n" << run.err;
    const nlohmann::json backup = nlohmann::json::parse(run.out);
    if (row.status == kExitOk) {
      EXPECT_EQ(backup["drive"]["address"], row.address) << row.which;
      continue;
    }
    EXPECT_TRUE(Contains(run.err, std::string(row.which) + " is not a supported drive")) << run.err;
    EXPECT_EQ(backup["exitStatus"], row.status);
    EXPECT_EQ(backup["code"], "not-a-drive") << row.which;
    EXPECT_TRUE(backup["drive"].is_null() && backup["outcome"].is_null()) << backup.dump();
    EXPECT_EQ(backup["accessProblems"], nlohmann::json::array());
    EXPECT_EQ(TracedOpcodes(run.err), std::vector<int>(10, 0x12)) << row.which << ": nothing but discovery";
  }
}

// Drives this user may not open make `drives` exit 7, with the problem node
// by node in the document; a command on a drive that cannot be reached does too.
TEST_F(CliTest, DrivesThisUserMayNotOpenAreNotAccessible) {
  nodeScript.problems = {{"/dev/sg5", "permission denied", "add your user to group 'cdrom'"}};
  const CliRun text = Run({"--simulate", "drives"});
  EXPECT_EQ(text.status, kExitNotAccessible);
  EXPECT_TRUE(Contains(text.err, "cannot open /dev/sg5 (permission denied): add your user to group 'cdrom'")) << text.err;
  EXPECT_TRUE(Contains(text.out, "3  cdrom2 :  ")) << "the drives that open are still listed";
  EXPECT_EQ(Run({"--simulate=empty", "drives"}).status, kExitNotAccessible);

  const CliRun json = Run({"--simulate", "--json", "drives"});
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["exitStatus"], kExitNotAccessible);
  EXPECT_EQ(doc["code"], "drives-not-accessible");
  EXPECT_EQ(std::count(json.err.begin(), json.err.end(), '\n'), 1) << "told once:\n" << json.err;
  EXPECT_EQ(doc["drives"].size(), 3u);
  ASSERT_EQ(doc["accessProblems"].size(), 1u);
  EXPECT_EQ(doc["accessProblems"][0],
            (nlohmann::json{{"node", "/dev/sg5"}, {"reason", "permission denied"}, {"remedy", "add your user to group 'cdrom'"}}));

  struct Row {
    const char* which;
    int status;
    const char* said;
    const char* code;
  };
  const Row rows[] = {
      {"/dev/sg5", kExitNotAccessible, "/dev/sg5: this user may not open the drive", "drive-not-accessible"},
      {"9", kExitNotAccessible, "drives exist that this user may not open", "drives-not-accessible"},
      {"/dev/sda", kExitNoSuchDriveOrFile, "/dev/sda is not a supported drive", "not-a-drive"},
  };
  for (const Row& row : rows) {
    const CliRun run = Run({"--simulate", "--trace", "--json", "backup", "--drive", row.which});
    EXPECT_EQ(run.status, row.status) << row.which;
    EXPECT_TRUE(Contains(run.err, row.said)) << run.err;
    const nlohmann::json stopped = nlohmann::json::parse(run.out);
    EXPECT_EQ(stopped["exitStatus"], row.status);
    EXPECT_EQ(stopped["code"], row.code) << row.which;
    EXPECT_TRUE(Contains(stopped["reason"].get<std::string>(), row.said)) << stopped.dump();
    EXPECT_EQ(stopped["accessProblems"][0]["node"], "/dev/sg5");
    EXPECT_EQ(TracedOpcodes(run.err), std::vector<int>(10, 0x12)) << row.which;
  }
  // A drive the system will not let this user hold gets no command.
  nodeScript = {};
  nodeScript.claimRefused = {"\\\\.\\cdrom0"};
  const CliRun held = Run({"--simulate", "--json", "backup", "--drive", "1"});
  EXPECT_EQ(held.status, kExitNotAccessible);
  const nlohmann::json heldDoc = nlohmann::json::parse(held.out);
  EXPECT_EQ(heldDoc["code"], "drive-no-access");
  EXPECT_EQ(heldDoc["outcome"]["driveClaim"], "no-access");
  EXPECT_FALSE(machine->Drive(0).InUpdateMode());
}

TEST_F(CliTest, IdentifyTellsFamilyFormAndWhyNot) {
  WriteSamples();
  WriteBytes("JUNK.BIN", std::vector<std::uint8_t>(2048, 0x11));
  std::vector<std::uint8_t> huge(kFullImageSize + 1, 0xFF);
  WriteBytes("HUGE.BIN", huge);

  const CliRun run = Run({"--json", "identify", Sample(0), Sample(1), "JUNK.BIN", "HUGE.BIN", "NONE.BIN"});
  EXPECT_EQ(run.status, kExitNoSuchDriveOrFile);
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  const nlohmann::json& f = doc["files"];
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0]["identified"], true);
  EXPECT_EQ(f[0]["family"], 6);
  EXPECT_EQ(f[0]["form"], "packed");
  EXPECT_EQ(f[0]["typeCode"].get<std::string>().substr(0, 5), sim::DefaultDrives()[0].typeCode);
  EXPECT_EQ(f[0]["description"].get<std::string>().size(), kDescriptionLength);
  EXPECT_EQ(f[1]["family"], 4);
  EXPECT_EQ(f[1]["form"], "plain");
  EXPECT_EQ(f[0]["code"], nullptr);
  EXPECT_EQ(f[0]["reason"], nullptr);
  EXPECT_EQ(f[2]["identified"], false);
  EXPECT_EQ(f[2]["reason"], "no matching type code");
  EXPECT_EQ(f[2]["code"], "file-not-identified");
  EXPECT_EQ(f[2]["family"], nullptr);
  EXPECT_TRUE(Contains(f[3]["reason"].get<std::string>(), "too large"));
  EXPECT_EQ(f[3]["code"], "file-too-large");
  EXPECT_TRUE(Contains(f[4]["reason"].get<std::string>(), "did not open"));
  EXPECT_EQ(f[4]["code"], "file-not-opened");
  // The file that decides the exit status gives the document its stop.
  EXPECT_EQ(doc["code"], "file-not-opened");
  EXPECT_TRUE(Contains(doc["reason"].get<std::string>(), "NONE.BIN"));

  const CliRun unknownOnly = Run({"identify", "JUNK.BIN"});
  EXPECT_EQ(unknownOnly.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(unknownOnly.out, "JUNK.BIN: not identified: no matching type code\n"));
  // A packed file cut short says so; an empty one too.
  const std::vector<std::uint8_t> packed = ReadBytes(Sample(0));
  WriteBytes("CUT.KVF", std::vector<std::uint8_t>(packed.begin(), packed.begin() + 100000));
  WriteBytes("EMPTY.KVF", {});
  const CliRun broken = Run({"identify", "CUT.KVF", "EMPTY.KVF"});
  EXPECT_EQ(broken.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(broken.out, "CUT.KVF: not identified: no matching type code; not a valid packed file"));
  EXPECT_TRUE(Contains(broken.out, "EMPTY.KVF: not identified: no matching type code: the file is empty"));
  // A file after --simulate stays a file (the scenario only comes with "=").
  const CliRun good = Run({"identify", "--simulate", Sample(2)});
  EXPECT_EQ(good.status, kExitOk) << good.err;
  EXPECT_TRUE(Contains(good.out, "family       2"));
  EXPECT_EQ(platformsMade, 1);
  // Under a simulated file fault the file reads back short: its code is not there.
  const CliRun faulty = Run({"identify", "--simulate=default,file-short=16", Sample(2)});
  EXPECT_EQ(faulty.status, kExitTypeCodeRefused) << faulty.out;
}

TEST_F(CliTest, BackupSavesTheDrivesFirmwareInItsFamilysForm) {
  const CliRun packed = Run({"--simulate", "--json", "backup", "--drive", "1"});
  ASSERT_EQ(packed.status, kExitOk) << packed.err;
  const nlohmann::json doc = nlohmann::json::parse(packed.out);
  EXPECT_EQ(doc["outcome"]["backup"]["file"], "CDRWFW00.KVF");
  EXPECT_EQ(doc["outcome"]["backup"]["form"], "packed");
  // No result page: the dialog has none for a backup alone.
  EXPECT_EQ(doc["outcome"]["page"], nullptr);
  EXPECT_EQ(doc["code"], nullptr);
  EXPECT_EQ(doc["reason"], nullptr);
  EXPECT_TRUE(Contains(packed.err, "stays in update mode until it is switched off and on"));
  EXPECT_TRUE(machine->Drive(0).InUpdateMode());
  // Decoded, it is the drive's flash byte for byte.
  const std::vector<std::uint8_t> file = ReadBytes("CDRWFW00.KVF");
  const std::unique_ptr<ImageBuffer> plain = DecodePackedImage(file);
  ASSERT_TRUE(plain);
  EXPECT_TRUE(std::equal(plain->begin(), plain->end(), machine->Drive(0).Flash().begin()));

  const CliRun small = Run({"--simulate", "backup", "--drive", "cdrom2"});
  ASSERT_EQ(small.status, kExitOk) << small.err;
  EXPECT_TRUE(Contains(small.out, "Backup written to CDRWFW00.BIN"));
  EXPECT_TRUE(Contains(small.out, "stays in update mode"));
  // The backup is the whole of this attempt.
  EXPECT_TRUE(Contains(small.out, "/120  Backing Up F/W (step 1 of 1)")) << small.out;
  const std::vector<std::uint8_t> bin = ReadBytes("CDRWFW00.BIN");
  ASSERT_EQ(bin.size(), kSmallImageSize);
  EXPECT_TRUE(std::equal(bin.begin(), bin.end(), machine->Drive(2).Flash().begin()));

  // The next backup of the same form takes the next free name.
  EXPECT_EQ(Run({"--simulate", "backup", "--drive", "3"}).status, kExitOk);
  EXPECT_TRUE(Exists("CDRWFW01.BIN"));

  // Family 5 (raised from 4 by its type code): byte-keyed, full length, id block plain.
  const CliRun keyed = Run({"--simulate=family-5", "--json", "backup", "--drive", "1"});
  ASSERT_EQ(keyed.status, kExitOk) << keyed.err;
  const nlohmann::json keyedDoc = nlohmann::json::parse(keyed.out);
  EXPECT_EQ(keyedDoc["outcome"]["driveFamily"], 5);
  EXPECT_EQ(keyedDoc["outcome"]["backup"]["file"], "CDRWFW01.KVF");
  const std::vector<std::uint8_t> flash(machine->Drive(0).Flash().begin(), machine->Drive(0).Flash().end());
  EXPECT_EQ(ReadBytes("CDRWFW01.KVF"), EncodeForFamily(5, flash));
}

TEST_F(CliTest, BackupFailuresLeaveNoFile) {
  const CliRun noMode = Run({"--simulate=no-update-mode", "backup", "--drive", "1"});
  EXPECT_EQ(noMode.status, kExitNoUpdateMode);
  const CliRun shortRead = Run({"--simulate=default,fault=e3:40:short:8192", "backup", "--drive", "1"});
  EXPECT_EQ(shortRead.status, kExitBackupFailed);
  EXPECT_TRUE(Contains(shortRead.out, "The backup failed."));
  // No update follows a backup command, so the dialog's "I continue the updating" would mislead.
  const CliRun altRead = Run({"--simulate=alt-read", "backup", "--drive", "1"});
  EXPECT_EQ(altRead.status, kExitBackupFailed);
  EXPECT_TRUE(Contains(altRead.err, "no backup is possible"));
  EXPECT_FALSE(Contains(altRead.out + altRead.err, "I continue the updating"));
  // What the working directory cannot take is known before the switch: the
  // drive hears nothing but discovery and stays in normal operation. The form
  // (and so the series) is learnt only after the switch, so both series need a
  // free name, and the directory room for a whole image.
  constexpr std::size_t kDiscoveryProbes = 10;
  const CliRun full = Run({"--simulate=disk-full", "--trace", "backup", "--drive", "1"});
  EXPECT_EQ(full.status, kExitBackupFailed);
  EXPECT_TRUE(Contains(full.err, "disk full")) << full.err;
  EXPECT_TRUE(Contains(full.out, "The drive was not touched.")) << full.out;
  EXPECT_EQ(TracedOpcodes(full.err), std::vector<int>(kDiscoveryProbes, 0x12));
  EXPECT_FALSE(machine->Drive(0).InUpdateMode());
  EXPECT_TRUE(Files().empty()) << Files().front();
  const CliRun readOnly = Run({"--simulate=default,create-fails=read-only", "backup", "--drive", "1"});
  EXPECT_EQ(readOnly.status, kExitBackupFailed);
  EXPECT_TRUE(Contains(readOnly.err, "read-only file system")) << readOnly.err;
  EXPECT_FALSE(machine->Drive(0).InUpdateMode());
  for (const char* series : {".BIN", ".KVF"}) {
    for (int n = 0; n < 10; ++n) WriteBytes("CDRWFW0" + std::to_string(n) + series, {1});
    const CliRun taken = Run({"--simulate", "--trace", "backup", "--drive", "1"});
    EXPECT_EQ(taken.status, kExitBackupFailed) << series;
    EXPECT_TRUE(Contains(taken.err, std::string("CDRWFW09") + series)) << taken.err;
    EXPECT_EQ(TracedOpcodes(taken.err), std::vector<int>(kDiscoveryProbes, 0x12)) << series;
    EXPECT_FALSE(machine->Drive(0).InUpdateMode()) << series;
    for (int n = 0; n < 10; ++n) std::filesystem::remove(dir() / ("CDRWFW0" + std::to_string(n) + series));
  }
  EXPECT_TRUE(Files().empty()) << "no temporary file is left: " << Files().front();
  const CliRun noDrive = Run({"--simulate", "backup", "--drive", "9"});
  EXPECT_EQ(noDrive.status, kExitNoSuchDriveOrFile);
}

// A backup counts only when it holds the flash byte for byte, on both routes:
// ASPI tells no length, so a short block must be caught by what it left unwritten.
TEST_F(CliTest, ShortFirmwareReadsFailTheBackupOnEveryRoute) {
  for (const char* scenario : {"default,fault=e3@0:2:short:8192", "aspi,fault=e3@0:2:short:8192",
                               "aspi,fault=e3@0:33:short:16380", "aspi-pending,fault=e3@0:5:short:0"}) {
    const CliRun run = Run({std::string("--simulate=") + scenario, "backup", "--drive", "1"});
    EXPECT_EQ(run.status, kExitBackupFailed) << scenario << "\n" << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "The backup failed.")) << scenario;
    EXPECT_TRUE(Contains(run.out, "bytes arrived") || Contains(scenario, "short:0")) << scenario << run.out;
    EXPECT_TRUE(Files().empty()) << scenario << ": " << Files().front();
  }
  // The identification block read at update-mode entry is checked the same way.
  const CliRun idRead = Run({"--simulate=aspi,fault=e3@0:1:short:8192", "backup", "--drive", "1"});
  EXPECT_EQ(idRead.status, kExitNoUpdateMode) << idRead.out << idRead.err;
  EXPECT_TRUE(Contains(idRead.out, "reading the identification block failed: only 8192 of 16384 bytes arrived"))
      << idRead.out;
  // A whole read on ASPI is a whole backup.
  const CliRun whole = Run({"--simulate=aspi", "backup", "--drive", "1"});
  ASSERT_EQ(whole.status, kExitOk) << whole.err;
  const std::unique_ptr<ImageBuffer> plain = DecodePackedImage(ReadBytes("CDRWFW00.KVF"));
  ASSERT_TRUE(plain);
  EXPECT_TRUE(std::equal(plain->begin(), plain->end(), machine->Drive(0).Flash().begin()));
}

// The list is made when the command starts; a device swapped in behind a
// listed node before the drive is held hears nothing.
TEST_F(CliTest, ADriveThatIsNoLongerTheListedOneGetsNoCommand) {
  const CliRun run = Run({"--simulate=default,swap=0:3", "--trace", "backup", "--drive", "1"});
  EXPECT_EQ(run.status, kExitNoUpdateMode) << run.err;
  EXPECT_TRUE(Contains(run.out, "the drive list is out of date")) << run.out;
  EXPECT_TRUE(Contains(run.out, "The drive list is out of date: list the drives again")) << run.out;
  EXPECT_FALSE(Contains(run.out + run.err, "stays in update mode"));
  // Discovery's INQUIRYs and nothing after them.
  EXPECT_EQ(TracedOpcodes(run.err), std::vector<int>(10, 0x12));
  EXPECT_FALSE(machine->Drive(0).InUpdateMode());
  EXPECT_FALSE(machine->Drive(3).InUpdateMode());
  EXPECT_TRUE(Files().empty());

  const CliRun json = Run({"--simulate=default,swap=0:3", "--json", "backup", "--drive", "1"});
  EXPECT_EQ(json.status, kExitNoUpdateMode);
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["outcome"]["driveClaim"], "changed");
  EXPECT_EQ(doc["outcome"]["page"]["name"], "UpdateModeFailed");
  EXPECT_EQ(doc["code"], "drive-list-changed");
  // Held while it runs, let go at the end.
  EXPECT_EQ(Run({"--simulate", "backup", "--drive", "1"}).status, kExitOk);
  EXPECT_EQ(machine->ClaimCount(), 1);
  EXPECT_EQ(machine->ClaimedDevice(), "");
}

// make-samples never replaces a file: with any sample name taken it writes
// nothing and names what is there.
TEST_F(CliTest, MakeSamplesRefusesWhenASampleNameExists) {
  const std::vector<std::uint8_t> mine{'m', 'i', 'n', 'e'};
  WriteBytes(Sample(1), mine);
  std::filesystem::create_directory(dir() / sim::kMisfitFileName);
  const CliRun refused = Run({"make-samples", "."});
  EXPECT_EQ(refused.status, kExitNoSuchDriveOrFile);
  EXPECT_TRUE(Contains(refused.err, Sample(1))) << refused.err;
  EXPECT_TRUE(Contains(refused.err, sim::kMisfitFileName)) << refused.err;
  EXPECT_FALSE(Contains(refused.err, Sample(0))) << refused.err;
  EXPECT_EQ(ReadBytes(Sample(1)), mine);
  EXPECT_EQ(Files().size(), 2u) << "nothing was written";

  std::filesystem::remove(dir() / Sample(1));
  std::filesystem::remove(dir() / sim::kMisfitFileName);
  const CliRun made = Run({"make-samples", "."});
  ASSERT_EQ(made.status, kExitOk) << made.err;
  EXPECT_EQ(Files().size(), sim::DefaultDrives().size() + 1);
}

TEST_F(CliTest, ConvertGoesBothWaysByTheExtensions) {
  WriteSamples();
  const CliRun decode = Run({"convert", Sample(0), "PLAIN.BIN"});
  ASSERT_EQ(decode.status, kExitOk) << decode.err;
  const std::vector<std::uint8_t> plain = ReadBytes("PLAIN.BIN");
  EXPECT_EQ(plain, sim::SampleImage(0));
  // A plain image of a packed family is for reading: no source of an update, the .KVF is.
  const std::string notSource = "such a file is not a source for an update: the drive takes family 6 firmware only "
                                "from its .KVF file";
  EXPECT_TRUE(Contains(decode.out, "PLAIN.BIN: note: a plain image of family 6")) << decode.out;
  EXPECT_TRUE(Contains(decode.out, notSource)) << decode.out;
  const CliRun id = Run({"--json", "identify", "PLAIN.BIN"});
  EXPECT_EQ(id.status, kExitTypeCodeRefused);
  const nlohmann::json idDoc = nlohmann::json::parse(id.out);
  EXPECT_EQ(idDoc["files"][0]["code"], "file-not-identified");
  EXPECT_TRUE(Contains(idDoc["files"][0]["reason"].get<std::string>(), notSource)) << id.out;
  const CliRun idJa = Run({"--lang", "ja", "identify", "PLAIN.BIN"});
  EXPECT_TRUE(Contains(idJa.out, "PLAIN.BIN: 識別できません: ファミリー 6 のプレーンイメージです")) << idJa.out;
  const CliRun update = Run({"--simulate", "update", "PLAIN.BIN", "--drive", "1", "--yes"});
  EXPECT_EQ(update.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(update.err, notSource)) << update.err;
  EXPECT_EQ(machine->Drive(0).RewritesCompleted(), 0);

  const CliRun encode = Run({"--json", "convert", "PLAIN.BIN", "AGAIN.kvf"});
  ASSERT_EQ(encode.status, kExitOk) << encode.err;
  const nlohmann::json doc = nlohmann::json::parse(encode.out);
  EXPECT_EQ(doc["direction"], "encode");
  EXPECT_EQ(doc["family"], 6);
  const std::unique_ptr<ImageBuffer> back = DecodePackedImage(ReadBytes("AGAIN.kvf"));
  ASSERT_TRUE(back);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), back->begin()));

  // The byte-keyed family: keyed everywhere but its identification block.
  const std::vector<std::uint8_t> f5 = MakePlainImage(5, "QDX52", "Byte keyed sample", 55);
  WriteBytes("F5.BIN", f5);
  ASSERT_EQ(Run({"convert", "F5.BIN", "F5.KVF"}).status, kExitOk);
  const std::vector<std::uint8_t> keyed = ReadBytes("F5.KVF");
  EXPECT_EQ(keyed, EncodeForFamily(5, f5));
  const CliRun keyedBack = Run({"convert", "F5.KVF", "F5BACK.BIN"});
  ASSERT_EQ(keyedBack.status, kExitOk);
  EXPECT_EQ(ReadBytes("F5BACK.BIN"), f5);
  // Only a packed family's plain image gets the note.
  EXPECT_FALSE(Contains(keyedBack.out + keyedBack.err, "note:")) << keyedBack.out;
}

TEST_F(CliTest, ConvertRefusesWhatItCannotConvertAndNeverOverwrites) {
  WriteSamples();
  const std::vector<std::uint8_t> original = ReadBytes(Sample(1));
  // A plain family with no encoded form.
  const CliRun plainFamily = Run({"convert", Sample(1), "OUT.KVF"});
  EXPECT_EQ(plainFamily.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(plainFamily.err, "no encoded form"));
  EXPECT_FALSE(Exists("OUT.KVF"));

  // A packed family image with bytes in the area the packed form leaves out.
  std::vector<std::uint8_t> image = sim::SampleImage(0);
  image[kPackedGapStart + 1] = 0x00;
  WriteBytes("GAP.BIN", image);
  const CliRun gap = Run({"convert", "GAP.BIN", "GAP.KVF"});
  EXPECT_EQ(gap.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(gap.err, "0x4000..0x7FFF"));
  EXPECT_FALSE(Exists("GAP.KVF"));

  // A byte-keyed file cut short would decode to an image of the wrong size.
  std::vector<std::uint8_t> cut = EncodeForFamily(5, MakePlainImage(5, "QDX52", "Byte keyed sample", 55));
  cut.resize(kFullImageSize / 2);
  WriteBytes("CUT.KVF", cut);
  const CliRun shortKeyed = Run({"convert", "CUT.KVF", "CUT.BIN"});
  EXPECT_EQ(shortKeyed.status, kExitTypeCodeRefused);
  EXPECT_TRUE(Contains(shortKeyed.err, "has 1048576 bytes, this file has 524288")) << shortKeyed.err;
  EXPECT_FALSE(Exists("CUT.BIN"));

  WriteBytes("JUNK.BIN", std::vector<std::uint8_t>(kFullImageSize, 0x42));
  EXPECT_EQ(Run({"convert", "JUNK.BIN", "JUNK.KVF"}).status, kExitTypeCodeRefused);
  EXPECT_FALSE(Exists("JUNK.KVF"));

  // An existing output stays as it was.
  const CliRun exists = Run({"convert", Sample(0), Sample(1)});
  EXPECT_EQ(exists.status, kExitUsage);
  EXPECT_EQ(ReadBytes(Sample(1)), original);

  EXPECT_EQ(Run({"convert", Sample(0), "X.KVF"}).status, kExitUsage);
  EXPECT_EQ(Run({"convert", "NONE.KVF", "X.BIN"}).status, kExitNoSuchDriveOrFile);

  // Every refusal names its stop the way every command does: code and reason.
  struct Refusal {
    std::vector<std::string> args;
    const char* code;
  };
  const std::vector<Refusal> refusals = {
      {{"convert", Sample(1), "OUT.KVF"}, "no-encoded-form"},
      {{"convert", "GAP.BIN", "GAP.KVF"}, "packed-area-used"},
      {{"convert", "CUT.KVF", "CUT.BIN"}, "file-misfit"},
      {{"convert", "JUNK.BIN", "JUNK.KVF"}, "file-not-identified"},
      {{"convert", Sample(0), Sample(1)}, "output-exists"},
      {{"convert", Sample(0), "X.KVF"}, "wrong-extensions"},
      {{"convert", "NONE.KVF", "X.BIN"}, "file-not-opened"},
  };
  for (const Refusal& r : refusals) {
    std::vector<std::string> args{"--json"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const CliRun run = Run(args);
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["code"], r.code) << r.args[1];
    EXPECT_TRUE(Contains(run.err, doc["reason"].get<std::string>())) << r.args[1];
    EXPECT_EQ(doc["outputBytes"], nullptr) << r.args[1];
    EXPECT_FALSE(doc.contains("error")) << r.args[1];
  }

  // A write that fails midway leaves neither the output nor a temporary file.
  const std::vector<std::string> before = Files();
  const CliRun full = Run({"--simulate=disk-full", "convert", Sample(0), "FULL.BIN"});
  EXPECT_EQ(full.status, kExitUpdateFailed);
  EXPECT_TRUE(Contains(full.err, "FULL.BIN: write failed: disk full")) << full.err;
  EXPECT_EQ(Files(), before);
}

TEST_F(CliTest, BadArgumentsAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"--lang", "fr", "drives"},
      {"update", "A.BIN", "--yes"},
      {"identify"},
      {"convert", "A.KVF"},
      {"--simulate=no-such-scenario", "drives"},
      {"--simulate=default,fault=zz", "drives"},
      {"drives", "--bogus"},
  };
  for (const std::vector<std::string>& args : bad) {
    const CliRun run = Run(args);
    EXPECT_EQ(run.status, kExitUsage) << (args.empty() ? "(none)" : args.front());
    EXPECT_FALSE(run.err.empty());
  }
  std::vector<const char*> argv{"orvel-cli", "-C", "/no/such/dir", "--json", "drives"};
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunCli(static_cast<int>(argv.size()), argv.data(), out, err, env), kExitNoSuchDriveOrFile);
  EXPECT_TRUE(Contains(err.str(), "/no/such/dir: no such directory"));
  const nlohmann::json noDir = nlohmann::json::parse(out.str());
  EXPECT_EQ(noDir["exitStatus"], kExitNoSuchDriveOrFile);
  EXPECT_EQ(noDir["command"], "drives");

  // Scripts get their document also when the arguments do not parse.
  const CliRun badJson = Run({"--json", "update", "A.BIN", "--yes"});
  EXPECT_EQ(badJson.status, kExitUsage);
  const nlohmann::json usage = nlohmann::json::parse(badJson.out);
  EXPECT_EQ(usage["exitStatus"], kExitUsage);
  EXPECT_EQ(usage["command"], "update");
  EXPECT_TRUE(Contains(usage["reason"].get<std::string>(), "--drive"));
  EXPECT_EQ(usage["code"], "usage");

  const CliRun help = Run({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  for (const char* word : {"drives", "identify", "update", "backup", "convert", "--simulate", "--simulate=help",
                           "Exit status"}) {
    EXPECT_TRUE(Contains(help.out, word)) << word;
  }
  EXPECT_FALSE(Contains(help.out, "make-samples"));
  // The scenarios have a help of their own, so that the program's fits a screen.
  constexpr std::ptrdiff_t kScreenLines = 50;
  EXPECT_LE(std::count(help.out.begin(), help.out.end(), '\n'), kScreenLines);
  const int platformsBefore = platformsMade;
  const CliRun scenarios = Run({"--simulate=help"});
  EXPECT_EQ(scenarios.status, kExitOk);
  for (const char* word : {"rewrite-fails", "fault=", "swap="}) {
    EXPECT_FALSE(Contains(help.out, word)) << word;
    EXPECT_TRUE(Contains(scenarios.out, word)) << word;
  }
  EXPECT_EQ(platformsMade, platformsBefore);
  const CliRun version = Run({"--version"});
  EXPECT_EQ(version.status, kExitOk);
  EXPECT_TRUE(Contains(version.out, "orvel-cli "));
}

// The shell's completion: every candidate list, and never a platform to send commands through.
TEST_F(CliTest, CompleteListsCandidatesWithoutTouchingADrive) {
  std::string scenarios;
  for (const sim::Scenario& s : sim::Scenarios()) scenarios += std::string(s.name) + "\n";
  std::optional<PlatformRequest> asked;
  env.listDriveAddresses = [&](const PlatformRequest& request) {
    asked = request;
    return request.simulate ? DefaultDriveAddresses(request) : std::vector<std::string>{"cdrom0", "cdrom2"};
  };
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"complete", "commands"}, "drives\nidentify\nupdate\nbackup\nverify\nconvert\nhelp\n"},
      {{"complete", "options", "update"}, "-h\n--help\n--drive\n--backup\n-y\n--yes\n--pass-type\n"},
      {{"complete", "options", "backup"}, "-h\n--help\n--drive\n"},
      {{"complete", "options", "verify"}, "-h\n--help\n--drive\n"},
      {{"complete", "options", "make-samples"}, ""},
      {{"complete", "scenarios"}, scenarios},
      {{"complete", "drives"}, "1\n2\ncdrom0\ncdrom2\n"},
      {{"--simulate", "complete", "drives"}, "1\n2\n3\n4\ncdrom0\ncdrom1\ncdrom2\ncdrom3\n"},
      {{"--simulate=aspi", "complete", "drives"}, "1\n2\n3\n4\nHA:0 ID:0\nHA:0 ID:1\nHA:0 ID:2\nHA:0 ID:3\n"},
      // C: and N: are out of the route's reach; F: holds the DVD-ROM.
      {{"complete", "drives", "--simulate=drive-letter"}, "1\n2\ndrive1\ndrive2\n"},
      {{"--simulate=platform-0", "complete", "drives"}, ""},
      {{"--simulate=no-such-machine", "complete", "drives"}, ""},
  };
  for (const Case& c : cases) {
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.status, kExitOk) << c.args.back();
    EXPECT_EQ(run.out, c.out) << c.args[0] << ' ' << c.args[1];
  }
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->workingDirectory, dir().string());

  const CliRun global = Run({"complete", "options"});
  for (const char* option : {"--simulate", "--trace", "--json", "--lang", "-C", "--version"}) {
    EXPECT_TRUE(Contains(global.out, std::string(option) + "\n")) << option;
  }
  EXPECT_FALSE(Contains(global.out, "--fast")) << "hidden options stay hidden";
  EXPECT_EQ(Run({"complete", "everything"}).status, kExitUsage);
  EXPECT_FALSE(Contains(Run({"--help"}).out, "  complete "));
  EXPECT_EQ(platformsMade, 0) << "no platform was made, so no command reached a drive";
}

TEST_F(CliTest, SimulatorPausesAreRealUnlessFast) {
  env.getEnv = [](std::string_view) -> std::optional<std::string> { return std::nullopt; };
  Run({"--simulate", "drives"});
  ASSERT_TRUE(lastRequest);
  EXPECT_TRUE(lastRequest->simulate);
  EXPECT_TRUE(lastRequest->realTime);
  Run({"--simulate=aspi", "--fast", "drives"});
  EXPECT_FALSE(lastRequest->realTime);
  EXPECT_EQ(lastRequest->scenario, "aspi");

  // The default factory: the demo's machine sleeps for real, the tests' does not.
  PlatformRequest request;
  request.simulate = true;
  request.workingDirectory = dir().string();
  std::string error;
  request.realTime = false;
  std::unique_ptr<Platform> fast = MakeDefaultPlatform(request, &error);
  EXPECT_NE(dynamic_cast<sim::SimMachine*>(fast.get()), nullptr);
  request.realTime = true;
  std::unique_ptr<Platform> slow = MakeDefaultPlatform(request, &error);
  EXPECT_NE(dynamic_cast<RealTimePlatform*>(slow.get()), nullptr);
  request.scenario = "nonsense";
  EXPECT_EQ(MakeDefaultPlatform(request, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

TEST(RealTimePlatform, SleepAdvancesTheInnerClockAndWaitsAsLong) {
  auto machine = std::make_unique<sim::SimMachine>(kPlatformNt, ".");
  sim::SimMachine* inner = machine.get();
  std::vector<std::uint32_t> slept;
  RealTimePlatform platform(std::move(machine), [&](std::uint32_t ms) { slept.push_back(ms); });
  platform.Sleep(580);
  platform.Sleep(200);
  EXPECT_EQ(inner->Clock().Now(), 780u);
  EXPECT_EQ(slept, (std::vector<std::uint32_t>{580, 200}));
  EXPECT_EQ(platform.PlatformId(), kPlatformNt);
}

}  // namespace
}  // namespace orvel::testing
