// Identification of a packed source file whose row is the table's last.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/identify.h"
#include "firmware/sample_firmware.h"

namespace orvel {
namespace {

void BM_IdentifyPackedFile(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / ("orvel_bench_identify_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = MakeFirmwareFile(8, "KZTR9", "bench identify", 3);
  {
    std::ofstream out(dir / "LAST.KVF", std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  auto files = MakeNativeFileSystem(dir.string());
  for (auto _ : state) {
    const SourceIdentification id = IdentifyFile(*files, "LAST.KVF");
    if (id.outcome != IdentifyOutcome::Identified || id.entryIndex != 44) {
      state.SkipWithError("not identified");
      break;
    }
    benchmark::DoNotOptimize(id.typeCode);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_IdentifyPackedFile)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvel

BENCHMARK_MAIN();
