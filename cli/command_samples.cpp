#include "cli/cli_context.h"
#include "sim/scenarios.h"

namespace orvel {

// Sample firmware files for the simulator's default drives (the demo's).
int CommandMakeSamples(CliContext& ctx, const std::string& directory) {
  const std::string path = ctx.PathOf(directory);
  if (!CreateNativeDirectories(path)) return ctx.Stop(StopCode::NoSuchDirectory, directory + ": not a directory");
  std::unique_ptr<FileSystem> fs = MakeNativeFileSystem(path);
  // Existing files are never replaced: refused before anything is written.
  const std::vector<std::string> existing = sim::ExistingSampleNames(*fs);
  if (!existing.empty()) {
    std::string names;
    for (const std::string& name : existing) names += (names.empty() ? "" : ", ") + directory + '/' + name;
    return ctx.Stop(StopCode::SamplesExist, names + (existing.size() == 1 ? " exists" : " exist") +
                                                "; sample files never replace files, nothing was written");
  }
  std::vector<std::string> written;
  std::string error;
  if (sim::WriteSampleFirmware(*fs, &written, &error) == 0) return ctx.Stop(StopCode::SamplesNotWritten, error);
  ctx.PrintDocument({{"directory", directory}, {"files", written}}, kExitOk);
  if (!ctx.options.json) {
    for (const std::string& name : written) ctx.out << directory << '/' << name << '\n';
  }
  return kExitOk;
}

}  // namespace orvel
