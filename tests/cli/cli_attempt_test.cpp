// The span of an attempt as the command line lives it: what it says when the
// machine cannot be kept awake, and the order of its output and a held
// interruption (a real signal: tests/cli/posix).

#include <functional>
#include <nlohmann/json.hpp>

#include "cli_fixture.h"

namespace orvel::testing {
namespace {

std::string Sample(std::size_t i) { return sim::DefaultDrives()[i].fileName; }

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The simulated machine, with the attempt's begin and end logged beside the
// number of commands the drives had received, an interruption scripted for the
// end, and acting on it recorded with what had been written by then.
struct AttemptRecord {
  Interruption held = 0;
  std::vector<std::string> log;
  std::string outputWhenActing;
};

class AttemptLog : public ForwardingPlatform {
 public:
  AttemptLog(sim::SimMachine& machine, const std::ostringstream& out, AttemptRecord& record)
      : ForwardingPlatform(machine), machine_(machine), out_(out), record_(record) {}
  AttemptHold BeginAttempt() override {
    record_.log.push_back("begin " + std::to_string(Commands()));
    return ForwardingPlatform::BeginAttempt();
  }
  Interruption EndAttempt() override {
    record_.log.push_back("end " + std::to_string(Commands()));
    ForwardingPlatform::EndAttempt();
    return record_.held;
  }
  void ActOnInterruption(Interruption interruption) override {
    record_.log.push_back("act " + std::to_string(interruption));
    record_.outputWhenActing = out_.str();
  }

 private:
  std::size_t Commands() const { return machine_.GetTrace().Entries().size(); }
  sim::SimMachine& machine_;
  const std::ostringstream& out_;
  AttemptRecord& record_;
};

class AttemptCommand : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteSamples();
  }

  // Runs with the machine behind an AttemptLog; `held` is what the attempt's end reports.
  CliRun RunLogged(const std::vector<std::string>& args, Interruption held) {
    std::ostringstream out;
    std::ostringstream err;
    env.makePlatform = [&, this](const PlatformRequest& request, std::string* error) -> std::unique_ptr<Platform> {
      machine = sim::MakeScenario(request.scenario.empty() ? "default" : request.scenario, request.workingDirectory,
                                  error);
      if (!machine) return nullptr;
      return std::make_unique<AttemptLog>(*machine, out, record);
    };
    record = AttemptRecord{};
    record.held = held;
    std::vector<std::string> all{"orvel-cli", "-C", dir().string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    CliRun run;
    run.status = RunCli(static_cast<int>(argv.size()), argv.data(), out, err, env);
    run.out = out.str();
    run.err = err.str();
    return run;
  }

  AttemptRecord record;  // outlives the platform, which ends with the run
};

TEST_F(AttemptCommand, TheSpanRunsFromTheFirstUpdateModeCommandToTheLastCommand) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--simulate", "update", Sample(0), "--drive", "1", "--backup", "--yes"},
        std::vector<std::string>{"--simulate", "backup", "--drive", "1"},
        std::vector<std::string>{"--simulate=no-update-mode", "backup", "--drive", "1"}}) {
    SCOPED_TRACE(args[1]);
    RunLogged(args, 0);
    const sim::Trace& trace = machine->GetTrace();
    std::size_t firstSwitch = 0;
    while (firstSwitch < trace.Entries().size() && trace.Entries()[firstSwitch].opcode() != 0xE4) ++firstSwitch;
    ASSERT_LT(firstSwitch, trace.Entries().size());
    EXPECT_EQ(record.log, (std::vector<std::string>{"begin " + std::to_string(firstSwitch),
                                                 "end " + std::to_string(trace.Entries().size())}));
  }
}

TEST_F(AttemptCommand, AHeldInterruptionActsOnlyOnceTheDocumentIsWritten) {
  constexpr Interruption kHeld = 15;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--simulate", "--json", "update", Sample(0), "--drive", "1", "--yes"},
        std::vector<std::string>{"--simulate", "--json", "backup", "--drive", "1"},
        std::vector<std::string>{"--simulate=no-update-mode", "--json", "backup", "--drive", "1"}}) {
    SCOPED_TRACE(args[2]);
    const CliRun run = RunLogged(args, kHeld);
    ASSERT_EQ(record.log.size(), 3u);
    EXPECT_EQ(record.log[2], "act " + std::to_string(kHeld));
    EXPECT_EQ(record.outputWhenActing, run.out);
    const nlohmann::json doc = nlohmann::json::parse(record.outputWhenActing);
    EXPECT_TRUE(doc.contains("exitStatus"));
    // The document tells scripts why the program is about to end by a signal.
    EXPECT_EQ(doc["interruption"]["code"], "interrupted");
    EXPECT_EQ(doc["interruption"]["number"], kHeld);
  }
  // Nothing held: nothing acts.
  const CliRun quiet = RunLogged({"--simulate", "--json", "update", Sample(0), "--drive", "1", "--yes"}, 0);
  EXPECT_EQ(record.log.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(quiet.out)["interruption"], nullptr);
}

TEST_F(AttemptCommand, AMachineThatCannotBeKeptAwakeIsSaidOnceAndTheAttemptGoesOn) {
  const std::string said =
      "orvel-cli: nothing keeps this machine from suspending or shutting down during the attempt (the simulated "
      "machine has no logind to keep it awake); keep it running until the attempt has ended\n";
  const CliRun update = Run({"--simulate=default,no-logind", "update", Sample(0), "--drive", "1", "--yes"});
  EXPECT_EQ(update.status, kExitOk) << update.err;
  EXPECT_EQ(Occurrences(update.err, said), 1u) << update.err;
  EXPECT_EQ(machine->Drive(0).RewritesCompleted(), 1);

  const CliRun backup = Run({"--simulate=default,no-logind", "--json", "backup", "--drive", "1"});
  EXPECT_EQ(backup.status, kExitOk) << backup.err;
  EXPECT_EQ(Occurrences(backup.err, said), 1u) << backup.err;

  const CliRun awake = Run({"--simulate", "update", Sample(0), "--drive", "1", "--yes"});
  EXPECT_FALSE(Contains(awake.err, "nothing keeps")) << awake.err;
}

}  // namespace
}  // namespace orvel::testing
