// --record and --simulate=replay:FILE end to end: runs recorded on the
// simulator and played back, runs that depart from their recording, and the
// recorded updates shipped in tests/data/recordings/.

#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "sim/recording.h"

namespace orvel::testing {
namespace {

std::string Sample(std::size_t i) { return sim::DefaultDrives()[i].fileName; }

std::vector<std::string> TraceLines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("scsi> ")) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Join(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

class ReplayCommand : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteSamples();
  }
  // Records `command` on `scenario` into rec.jsonl.
  CliRun Record(const std::string& scenario, const std::vector<std::string>& command, bool keepBytes = false) {
    std::vector<std::string> args{"--simulate=" + scenario, "--trace", "--record", "rec.jsonl"};
    if (keepBytes) args.emplace_back("--record-bytes");
    return Run(Join(args, command));
  }
  CliRun Replay(const std::vector<std::string>& command, const std::string& file = "rec.jsonl") {
    return Run(Join({"--simulate=replay:" + file, "--trace"}, command));
  }
};

TEST_F(ReplayCommand, RecordedRunsReplayWithTheSameCommandsAndOutcome) {
  struct Case {
    const char* scenario;
    std::vector<std::string> command;
    bool keepBytes;
  };
  const Case cases[] = {
      {"default", {"update", Sample(0), "--drive", "1", "--yes"}, false},
      {"aspi", {"update", Sample(1), "--drive", "2", "--yes"}, false},
      {"aspi-pending", {"update", Sample(2), "--drive", "3", "--yes"}, true},
      {"drive-letter", {"drives"}, false},
      {"timeout-poll", {"update", Sample(0), "--drive", "1", "--yes"}, false},
      {"chunk-fails", {"update", Sample(0), "--drive", "1", "--yes"}, false},
      {"default", {"backup", "--drive", "2"}, false},
      {"aspi", {"backup", "--drive", "1"}, false},
      // A request still running when the wait ended, let go at the next command.
      {"aspi,fault=00:3:timeout", {"update", Sample(0), "--drive", "1", "--yes"}, false},
      // Short reads: the driver's count on one route, the read pattern on the other.
      {"default,fault=e3:5:short:8192", {"backup", "--drive", "1"}, false},
      {"aspi,fault=e3:5:short:8192", {"backup", "--drive", "1"}, false},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.scenario) + " " + c.command.front();
    const CliRun recorded = Record(c.scenario, c.command, c.keepBytes);
    ASSERT_TRUE(Exists("rec.jsonl")) << what << "\n" << recorded.err;
    const CliRun replayed = Replay(c.command);
    EXPECT_EQ(replayed.status, recorded.status) << what << "\n" << replayed.err;
    EXPECT_FALSE(TraceLines(recorded.err).empty()) << what;
    EXPECT_EQ(TraceLines(replayed.err), TraceLines(recorded.err)) << what;
    EXPECT_FALSE(Contains(replayed.err, "departs")) << what << "\n" << replayed.err;
    EXPECT_FALSE(Contains(replayed.out, "answered with zero bytes")) << what;
  }
  // The data read is kept: a replayed backup is the recorded drive's firmware.
  EXPECT_EQ(ReadBytes("CDRWFW01.BIN"), ReadBytes("CDRWFW00.BIN"));
  EXPECT_EQ(ReadBytes("CDRWFW01.KVF"), ReadBytes("CDRWFW00.KVF"));
  EXPECT_FALSE(ReadBytes("CDRWFW01.KVF").empty());
}

TEST_F(ReplayCommand, TheRecordingNamesTheRouteTheDrivesAndKeepsBulkDataAsDigests) {
  ASSERT_EQ(Record("default", {"update", Sample(0), "--drive", "1", "--yes"}).status, kExitOk);
  std::ifstream file(dir() / "rec.jsonl");
  std::string line;
  ASSERT_TRUE(std::getline(file, line));
  const nlohmann::json header = nlohmann::json::parse(line);
  EXPECT_EQ(header["route"], "pass-through");
  EXPECT_EQ(header["dataSent"], "sha256");
  ASSERT_EQ(header["drives"].size(), 4u) << line;
  EXPECT_EQ(header["drives"][0]["device"], "\\\\.\\cdrom0");
  EXPECT_FALSE(Contains(line, dir().string())) << "the working directory may name the user";
  std::size_t hashed = 0;
  std::size_t lines = 0;
  while (std::getline(file, line)) {
    ++lines;
    const nlohmann::json request = nlohmann::json::parse(line);
    EXPECT_EQ(request["n"], lines);
    if (request.contains("outSha256")) {
      ++hashed;
      EXPECT_GT(request["outSize"].get<std::size_t>(), kKeptDataLimit);
    }
  }
  EXPECT_GT(hashed, 300u);
}

TEST_F(ReplayCommand, ARunThatDepartsFromItsRecordingStopsNamingTheFirstDifference) {
  struct Case {
    const char* what;
    std::vector<std::string> recorded;
    std::vector<std::string> replayed;
    std::vector<std::string> told;
  };
  const std::vector<std::string> update{"update", Sample(0), "--drive", "1", "--yes"};
  const Case cases[] = {
      {"another drive", update, {"update", Sample(0), "--drive", "2", "--yes"},
       {"the recording expects claim of \\\\.\\cdrom0; the program sent claim of \\\\.\\cdrom1"}},
      {"fewer requests", update, {"drives"}, {"the run ended, but the recording goes on with claim of \\\\.\\cdrom0"}},
      {"more requests", {"drives"}, update, {"the recording has ended, but the program sent claim of \\\\.\\cdrom0"}},
      {"other data", update, update, {"; the program sent CDB", "with other data"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Record("default", c.recorded).status, kExitOk) << c.what;
    if (std::string(c.what) == "other data") {
      // The same file with one byte of its image changed.
      std::vector<std::uint8_t> bytes = ReadBytes(Sample(0));
      bytes[bytes.size() / 2] ^= 0x01;
      WriteBytes(Sample(0), bytes);
    }
    const CliRun replayed = Replay(c.replayed);
    EXPECT_EQ(replayed.status, kExitUpdateFailed) << c.what << "\n" << replayed.err;
    EXPECT_TRUE(Contains(replayed.err, "orvel-cli: the run departs from the recording at request ")) << replayed.err;
    for (const std::string& part : c.told) EXPECT_TRUE(Contains(replayed.err, part)) << c.what << "\n" << replayed.err;
  }
}

TEST_F(ReplayCommand, ScriptsGetTheDepartureAsTheDocumentsStop) {
  ASSERT_EQ(Record("default", {"drives"}).status, kExitOk);
  const CliRun run = Run({"--simulate=replay:rec.jsonl", "--json", "--lang", "ja", "update", Sample(0), "--drive", "1",
                          "--yes"});
  EXPECT_EQ(run.status, kExitUpdateFailed);
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["code"], "replay-departed");
  EXPECT_EQ(doc["exitStatus"], kExitUpdateFailed);
  EXPECT_TRUE(Contains(doc["reason"].get<std::string>(), "再生が記録と食い違いました")) << doc["reason"];
}

TEST_F(ReplayCommand, RecordingsThatCannotBeReadAreRefusedBeforeAnyRequest) {
  WriteBytes("text.jsonl", {'h', 'i', '\n'});
  WriteBytes("empty.jsonl", {});
  struct Case {
    const char* file;
    int status;
    const char* told;
  };
  const Case cases[] = {
      {"missing.jsonl", kExitNoSuchDriveOrFile, "no such recording"},
      {"text.jsonl", kExitUsage, "line 1: not JSON"},
      {"empty.jsonl", kExitUsage, "no header"},
  };
  for (const Case& c : cases) {
    const CliRun run = Replay({"drives"}, c.file);
    EXPECT_EQ(run.status, c.status) << c.file << "\n" << run.err;
    EXPECT_TRUE(Contains(run.err, c.told)) << run.err;
    EXPECT_TRUE(TraceLines(run.err).empty());
  }
  // A recording that cannot be created stops the run before anything is sent.
  const CliRun run = Run({"--simulate", "--record", "no-such-dir/rec.jsonl", "drives"});
  EXPECT_EQ(run.status, kExitUpdateFailed);
  EXPECT_TRUE(Contains(run.err, "--record no-such-dir/rec.jsonl: the file cannot be created")) << run.err;
  EXPECT_EQ(platformsMade, 1);
  ASSERT_TRUE(machine);
  EXPECT_EQ(machine->GetTrace().size(), 0u);
}

// The shipped recordings (tools/record-updates.sh makes them again): a change
// of any update's command sequence shows here.
TEST_F(ReplayCommand, ShippedRecordingsOfEveryFamilysUpdateReplayUnchanged) {
  const std::filesystem::path data = std::filesystem::path(ORVEL_SOURCE_DIR) / "tests/data/recordings";
  std::ifstream table(data / "updates.txt");
  ASSERT_TRUE(table.is_open());
  std::string line;
  int rows = 0;
  bool everyFamilySamples = false;
  while (std::getline(table, line)) {
    if (line.empty() || line.starts_with('#')) continue;
    std::istringstream fields(line);
    std::string name, scenario, drive, file;
    std::string prepare;
    ASSERT_TRUE(fields >> name >> scenario >> drive >> file) << line;
    fields >> prepare;
    ++rows;
    if (scenario == "every-family" && !everyFamilySamples) {
      WriteSamples(scenario);
      everyFamilySamples = true;
    }
    if (prepare == "backup") {
      ASSERT_EQ(Run({"--simulate=" + scenario, "backup", "--drive", drive}).status, kExitOk) << name;
    }
    const CliRun run = Run({"--simulate=replay:" + (data / (name + ".jsonl")).string(), "update", file, "--drive",
                            drive, "--yes"});
    EXPECT_EQ(run.status, kExitOk) << name << "\n" << run.err;
    EXPECT_FALSE(Contains(run.err, "departs")) << name << "\n" << run.err;
  }
  EXPECT_GE(rows, 3);
}

}  // namespace
}  // namespace orvel::testing
