// The command path of a simulated drive allocates nothing per command: a
// whole transfer and rewrite run with the heap counter standing still.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/sim/sim_support.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace orvel::sim {
namespace {

constexpr std::uint16_t kChunk = 3072;
constexpr int kChunks = 341;
constexpr std::uint16_t kLastChunk = 1024;
constexpr int kPolls = 40;

long AllocationsOfAWholeUpdate(std::string_view scenario) {
  testing::Rig rig(scenario);
  ScsiTransport& t = rig.T();
  testing::NoLoaderUpdate query;
  EnterUpdateMode(t, 1);
  allocations = 0;
  counting = true;
  for (int i = 0; i < kChunks; ++i) SendImageChunk(t, kChunk, ChunkForm::Twelve);
  SendImageChunk(t, kLastChunk, ChunkForm::Twelve);
  FinishTransfer(t, 0);
  StartRewrite(t, query, 0, 0);
  for (int i = 0; i < kPolls; ++i) {
    RequestSense(t);
    PollRewriteStatus(t);
  }
  counting = false;
  EXPECT_EQ(rig.Drive(0).RewritesCompleted(), 1) << scenario;
  return allocations.load();
}

TEST(SimHotPath, NoHeapAllocationPerCommand) {
  // The counter itself sees allocations.
  allocations = 0;
  counting = true;
  const std::string big(100, 'x');
  counting = false;
  ASSERT_EQ(allocations.load(), 1) << big;

  EXPECT_EQ(AllocationsOfAWholeUpdate("default"), 0);
  EXPECT_EQ(AllocationsOfAWholeUpdate("aspi"), 0);
  EXPECT_EQ(AllocationsOfAWholeUpdate("aspi-pending"), 0);
}

}  // namespace
}  // namespace orvel::sim
