#pragma once
// Runs the command line in-process against a simulated machine in a scratch
// working directory, on the virtual clock, and keeps the machine afterwards
// so that tests can look at what the drives received.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/files.h"
#include "platform/forwarding_platform.h"
#include "sim/scenarios.h"
#include "sim/sim_machine.h"
#include "tests/support/scratch_dir.h"

namespace orvel::testing {

// What the simulator does not model of a Linux machine: the nodes of each
// device name, links to them, and the nodes this user may not open.
struct NodeScript {
  std::map<std::string, DeviceNodes> nodes;  // by device name
  std::map<std::string, std::string> links;  // a path and the node it leads to
  std::vector<NodeAccessProblem> problems;
  std::set<std::string> claimRefused;        // device names whose claim answers NoAccess
};

class ScriptedNodesPlatform final : public ForwardingPlatform {
 public:
  ScriptedNodesPlatform(Platform& inner, const NodeScript& script) : ForwardingPlatform(inner), script_(script) {}
  DeviceNodes NodesOf(std::string_view name) override {
    const auto it = script_.nodes.find(std::string(name));
    return it == script_.nodes.end() ? ForwardingPlatform::NodesOf(name) : it->second;
  }
  std::string ResolveNodePath(std::string_view path) override {
    const auto it = script_.links.find(std::string(path));
    return it == script_.links.end() ? std::string(path) : it->second;
  }
  std::vector<NodeAccessProblem> AccessProblems() override {
    return script_.problems.empty() ? ForwardingPlatform::AccessProblems() : script_.problems;
  }
  std::string AccessProblem() override {
    if (script_.problems.empty()) return ForwardingPlatform::AccessProblem();
    const NodeAccessProblem& first = script_.problems.front();
    return "cannot open " + first.node + " (" + first.reason + "): " + first.remedy;
  }
  DeviceClaimResult ClaimListedDevice(std::string_view name) override {
    if (script_.claimRefused.count(std::string(name)) != 0) return DeviceClaimResult::NoAccess;
    return ForwardingPlatform::ClaimListedDevice(name);
  }

 private:
  const NodeScript& script_;
};

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orvel::testing::MakeScratchDir("orvel-cli");
    ASSERT_FALSE(dir_.empty());
    env.makePlatform = [this](const PlatformRequest& request, std::string* error) -> std::unique_ptr<Platform> {
      lastRequest = request;
      ++platformsMade;
      machine = sim::MakeScenario(request.scenario.empty() ? "default" : request.scenario,
                                  request.workingDirectory, error);
      if (!machine) return nullptr;
      // The machine stays the fixture's; the command line gets a view of it.
      return std::make_unique<ScriptedNodesPlatform>(*machine, nodeScript);
    };
    env.getEnv = [this](std::string_view name) -> std::optional<std::string> {
      if (name == "ORVEL_SIM_FAST") return std::string("1");
      const auto it = environment.find(std::string(name));
      if (it != environment.end()) return it->second;
      return std::nullopt;
    };
    env.readLine = [this]() -> std::optional<std::string> {
      if (answers.empty()) return std::nullopt;
      std::string a = answers.front();
      answers.erase(answers.begin());
      return a;
    };
  }
  void TearDown() override {
    machine.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // orvel-cli -C <scratch dir> args...
  CliRun Run(std::vector<std::string> args) {
    std::vector<std::string> all{"orvel-cli", "-C", dir_.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    run.status = RunCli(static_cast<int>(argv.size()), argv.data(), out, err, env);
    run.out = out.str();
    run.err = err.str();
    return run;
  }

  // The sample files of `scenario`'s drives (the default machine's without one).
  void WriteSamples(std::string_view scenario = {}) {
    std::unique_ptr<FileSystem> fs = MakeNativeFileSystem(dir_.string());
    std::string error;
    ASSERT_EQ(sim::WriteSampleFirmware(*fs, nullptr, &error, scenario), 1) << error;
  }
  void WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(dir_ / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::uint8_t> ReadBytes(const std::string& name) const {
    std::ifstream f(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  const std::filesystem::path& dir() const { return dir_; }

  CliEnvironment env;
  std::map<std::string, std::string> environment;  // what getEnv answers (the locale)
  NodeScript nodeScript;
  std::unique_ptr<sim::SimMachine> machine;
  std::optional<PlatformRequest> lastRequest;
  int platformsMade = 0;
  std::vector<std::string> answers;

 private:
  std::filesystem::path dir_;
};

// The opcodes of the --trace lines, in order.
inline std::vector<int> TracedOpcodes(const std::string& err) {
  std::vector<int> ops;
  std::istringstream lines(err);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("scsi> ", 0) == 0) ops.push_back(std::stoi(line.substr(6, 2), nullptr, 16));
  }
  return ops;
}

inline bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

}  // namespace orvel::testing
