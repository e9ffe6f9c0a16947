// A whole simulated update: the program's own CPU time beside the virtual
// pauses it waits, and the heap allocations made per chunk and per poll cycle.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include <unistd.h>

#include "drive/discovery.h"
#include "firmware/sample_firmware.h"
#include "sim/scenarios.h"
#include "sim/sim_machine.h"
#include "transport/scsi_transport.h"
#include "update/update_procedure.h"

namespace {

std::atomic<std::uint64_t> gAllocations{0};

}  // namespace

namespace {

void* CountedAllocation(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace orvel {
namespace {

constexpr int kFamily = 6;
constexpr const char* kTypeCode = "QDX70";
constexpr const char* kSourceName = "BENCH.KVF";
constexpr std::size_t kMaxMoves = 4096;
constexpr double kMsPerSecond = 1000.0;
constexpr double kPercent = 100.0;

// Records the allocation count at every move of the bar; a chunk or a poll
// cycle is the span between two moves.
class SnapshotHost : public UpdateHost {
 public:
  int backup = 0;
  std::array<std::uint64_t, kMaxMoves> at{};
  std::array<int, kMaxMoves> pageAt{};
  std::size_t moves = 0;
  int page = 0;

  std::string SelectedSourceName() override { return kSourceName; }
  int BackupCheckState() override { return backup; }
  int UpdateLoaderState() override { return 0; }
  int PassTypeCheckState() override { return 0; }
  std::string PasswordEntry() override { return {}; }
  void SetPage(int p) override { page = p; }
  void SetProgress(int) override {
    if (moves < kMaxMoves) {
      at[moves] = gAllocations.load(std::memory_order_relaxed);
      pageAt[moves] = page;
      ++moves;
    }
  }
  void SetBackupCheckState(int) override {}
  void PushMembers() override {}
  void UpdateStarted() override {}
  void CloseAllowed() override {}
  void ShowBackupNotPossible() override {}
  void ShowFileError(std::string_view, FileError) override {}
  void ShowMachineNotKeptAwake(std::string_view) override {}
};

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void WholeUpdate(benchmark::State& state) {
  const bool withBackup = state.range(0) != 0;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("orvel_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    const auto image = sim::MakeDriveImage(kFamily, kTypeCode, "Newer firmware", 2);
    const auto file = EncodeForFamily(kFamily, image);
    std::ofstream(dir / kSourceName, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  sim::SimMachine machine(kPlatformNt, dir.string());
  sim::DriveIdentity identity;
  identity.product = sim::NormalProductId(0);
  sim::SimDrive& drive = machine.AddDrive(
      std::make_unique<sim::SimDrive>(kFamily, identity, sim::MakeDriveImage(kFamily, kTypeCode, "Installed", 1)),
      sim::Attachment{machine.DeviceName(TransportMode::CdromDevice, 0), 0, 0});
  machine.GetTrace().SetEnabled(false);
  ScsiTransport transport(machine);
  TransportMessage message;
  if (!transport.SelectTransport(&message)) {
    state.SkipWithError(message.text.c_str());
    std::filesystem::remove_all(dir);
    return;
  }
  const std::vector<DriveEntry> drives = DiscoverDrives(transport);
  if (drives.empty()) {
    state.SkipWithError("the drive was not listed");
    std::filesystem::remove_all(dir);
    return;
  }
  SnapshotHost host;
  host.backup = withBackup ? 1 : 0;
  UpdateProcedure proc(transport, host);
  proc.IdentifySourceFile();

  double cpu = 0;
  std::uint64_t slept = 0;
  std::uint64_t worstChunk = 0;
  std::uint64_t worstPoll = 0;
  int failures = 0;
  for (auto _ : state) {
    state.PauseTiming();
    drive.PowerCycle();
    host.moves = 0;
    proc.ChooseBackupFileName();
    const std::uint64_t sleptBefore = machine.Clock().SleptTotal();
    state.ResumeTiming();

    const double cpuBefore = CpuSeconds();
    const int page = proc.RunUpdateAttempt(&drives.front().address);
    cpu += CpuSeconds() - cpuBefore;

    state.PauseTiming();
    slept += machine.Clock().SleptTotal() - sleptBefore;
    if (page != Completed) ++failures;
    // Between two moves of the bar while transferring lies one chunk; while
    // rewriting, one poll cycle. The first move of each stage is its start.
    for (std::size_t i = 1; i < host.moves; ++i) {
      const std::uint64_t delta = host.at[i] - host.at[i - 1];
      if (host.pageAt[i] == Transferring && host.pageAt[i - 1] == Transferring) {
        worstChunk = std::max(worstChunk, delta);
      } else if (host.pageAt[i] >= CheckingSum && host.pageAt[i] <= CheckingSumAgain &&
                 host.pageAt[i - 1] >= CheckingSum) {
        worstPoll = std::max(worstPoll, delta);
      }
    }
    if (withBackup) std::filesystem::remove(dir / proc.backupFileName);
    state.ResumeTiming();
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["cpu_ms"] = cpu / iterations * kMsPerSecond;
  state.counters["virtual_pause_ms"] = static_cast<double>(slept) / iterations;
  state.counters["cpu_share_pct"] = kPercent * cpu * kMsPerSecond / static_cast<double>(slept);
  state.counters["allocs_per_chunk"] = static_cast<double>(worstChunk);
  state.counters["allocs_per_poll_cycle"] = static_cast<double>(worstPoll);
  state.counters["failed_attempts"] = failures;
  std::filesystem::remove_all(dir);
}

BENCHMARK(WholeUpdate)->Arg(0)->Arg(1)->ArgName("backup")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvel

BENCHMARK_MAIN();
