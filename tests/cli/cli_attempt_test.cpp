// The span of an attempt as the command line lives it: what it says when the
// machine cannot be kept awake, the order of its output and a held
// interruption, and a real signal during a simulated update (in a child
// process, which the signal ends).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "update/update_procedure.h"

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
  }
  // Nothing held: nothing acts.
  RunLogged({"--simulate", "update", Sample(0), "--drive", "1", "--yes"}, 0);
  EXPECT_EQ(record.log.size(), 2u);
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

// A paused machine: at the first rewrite poll pause the child tells the parent
// and waits for its go, so that the parent's signals arrive mid-rewrite.
class PausingMachine : public ForwardingPlatform {
 public:
  PausingMachine(std::unique_ptr<Platform> inner, int status, int control)
      : ForwardingPlatform(std::move(inner)), status_(status), control_(control) {}
  void Sleep(std::uint32_t milliseconds) override {
    ForwardingPlatform::Sleep(milliseconds);
    if (milliseconds != kPollPauseMs || paused_) return;
    paused_ = true;
    static_cast<void>(::write(status_, "rewriting\n", 10));
    char go = 0;
    if (::read(control_, &go, 1) != 1) static_cast<void>(::write(status_, "interrupted\n", 12));
  }

 private:
  int status_;
  int control_;
  bool paused_ = false;
};

std::string ReadAll(int fd) {
  std::string text;
  std::array<char, 4096> chunk{};
  ssize_t n = 0;
  while ((n = ::read(fd, chunk.data(), chunk.size())) > 0) text.append(chunk.data(), static_cast<std::size_t>(n));
  return text;
}

TEST_F(AttemptCommand, ASignalDuringTheRewriteIsHeldAndEndsTheProgramAfterItsDocument) {
  std::array<int, 2> status{};
  std::array<int, 2> control{};
  std::array<int, 2> out{};
  std::array<int, 2> err{};
  for (auto* p : {&status, &control, &out, &err}) ASSERT_EQ(::pipe(p->data()), 0);
  const std::string directory = dir().string();
  const std::string file = Sample(0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    for (const int fd : {status[0], control[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    CliEnvironment processEnv = ProcessCliEnvironment();  // the program's own notice
    processEnv.makePlatform = [&](const PlatformRequest& request, std::string* error) -> std::unique_ptr<Platform> {
      std::unique_ptr<Platform> simulated = sim::MakeScenario("default", request.workingDirectory, error);
      if (!simulated) return nullptr;
      return std::make_unique<PausingMachine>(std::move(simulated), status[1], control[0]);
    };
    processEnv.getEnv = [](std::string_view) -> std::optional<std::string> { return std::nullopt; };
    const std::array<const char*, 10> argv{"orvel-cli", "--fast", "-C",  directory.c_str(), "--json",
                                           "update",    file.c_str(), "--drive", "1",     "--yes"};
    const int exitStatus = RunCli(static_cast<int>(argv.size()), argv.data(), std::cout, std::cerr, processEnv);
    std::cout.flush();
    ::_exit(exitStatus);
  }
  ::close(status[1]);
  ::close(control[0]);
  ::close(out[1]);
  ::close(err[1]);

  std::string line;
  char c = 0;
  while (::read(status[0], &c, 1) == 1 && c != '\n') line += c;
  ASSERT_EQ(line, "rewriting");
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  const std::string notice =
      "orvel-cli: the update cannot be stopped safely now: the drive is in its update mode. orvel-cli stops as soon "
      "as the attempt has ended.\n";
  std::string errText;
  while (errText.find(notice) == std::string::npos && ::read(err[0], &c, 1) == 1) errText += c;
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  ASSERT_EQ(::write(control[1], "g", 1), 1);

  const std::string outText = ReadAll(out[0]);
  errText += ReadAll(err[0]);
  const std::string rest = ReadAll(status[0]);
  int waitStatus = 0;
  ::waitpid(pid, &waitStatus, 0);
  for (const int fd : {status[0], control[1], out[0], err[0]}) ::close(fd);

  ASSERT_TRUE(WIFSIGNALED(waitStatus)) << errText;
  EXPECT_EQ(WTERMSIG(waitStatus), SIGINT);
  EXPECT_EQ(rest, "");  // the pause's read was not interrupted
  EXPECT_EQ(Occurrences(errText, notice), 1u) << errText;
  const nlohmann::json doc = nlohmann::json::parse(outText);
  EXPECT_EQ(doc["outcome"]["page"]["name"], "Completed");
  EXPECT_EQ(doc["exitStatus"], kExitOk);
}

}  // namespace
}  // namespace orvel::testing
