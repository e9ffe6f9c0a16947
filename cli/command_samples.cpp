#include "cli/cli_context.h"
#include "sim/scenarios.h"

namespace orvel {

// Sample firmware files for the drives of the scenario that --simulate names
// (the default drives, the demo's, without one).
int CommandMakeSamples(CliContext& ctx, const std::string& directory) {
  nlohmann::json doc = {{"directory", directory}};
  auto finish = [&](int status) {
    ctx.PrintDocument(doc, status);
    return status;
  };
  std::string scenario;
  if (ctx.options.simulate && !ctx.options.scenario.empty()) {
    sim::ScenarioSpec parsed;
    std::string error;
    if (sim::ParseScenario(ctx.options.scenario, &parsed, &error) == 0) {
      return finish(ctx.Stop(StopCode::Usage, error));
    }
    scenario = parsed.name;
  }
  const std::string path = ctx.PathOf(directory);
  if (!CreateNativeDirectories(path)) return finish(ctx.Stop(StopCode::NoSuchDirectory, directory + ctx.Tr(": not a directory", ": ディレクトリではありません")));
  std::unique_ptr<FileSystem> fs = MakeNativeFileSystem(path);
  // Existing files are never replaced: refused before anything is written.
  const std::vector<std::string> existing = sim::ExistingSampleNames(*fs, scenario);
  if (!existing.empty()) {
    std::string names;
    for (const std::string& name : existing) names += (names.empty() ? "" : ", ") + directory + '/' + name;
    const std::string why =
        names + ctx.Tr(existing.size() == 1 ? " exists; sample files never replace files, nothing was written"
                                            : " exist; sample files never replace files, nothing was written",
                       " が既に存在します。サンプルファイルは既存のファイルを置き換えません。何も書き込んでいません");
    return finish(ctx.Stop(StopCode::SamplesExist, why));
  }
  std::vector<std::string> written;
  std::string error;
  if (sim::WriteSampleFirmware(*fs, &written, &error, scenario) == 0) {
    return finish(ctx.Stop(StopCode::SamplesNotWritten, error));
  }
  doc["files"] = written;
  if (!ctx.options.json) {
    for (const std::string& name : written) ctx.out << directory << '/' << name << '\n';
  }
  return finish(kExitOk);
}

}  // namespace orvel
