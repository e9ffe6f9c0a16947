// A real signal during a simulated update of orvel-cli, in a child process
// (which the signal ends). Parent and child step each other through pipes:
// nothing waits on a clock.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <iostream>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_fixture.h"
#include "update/update_procedure.h"

namespace orvel::testing {
namespace {

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class SignalDuringUpdate : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteSamples();
  }
};

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

TEST_F(SignalDuringUpdate, IsHeldAndEndsTheProgramAfterItsDocument) {
  std::array<int, 2> status{};
  std::array<int, 2> control{};
  std::array<int, 2> out{};
  std::array<int, 2> err{};
  for (auto* p : {&status, &control, &out, &err}) ASSERT_EQ(::pipe(p->data()), 0);
  const std::string directory = dir().string();
  const std::string file = sim::DefaultDrives()[0].fileName;
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
  EXPECT_EQ(doc["interruption"]["code"], "interrupted");
  EXPECT_EQ(doc["interruption"]["number"], SIGINT);
}

}  // namespace
}  // namespace orvel::testing
