// The command path of a simulated drive allocates nothing per command: a
// whole transfer and rewrite run with the heap counter standing still.

#include <gtest/gtest.h>

#include "tests/sim/counting_heap.h"
#include "tests/sim/sim_support.h"

namespace orvel::sim {
namespace {

constexpr std::uint16_t kChunk = 3072;
constexpr int kChunks = 341;
constexpr std::uint16_t kLastChunk = 1024;
constexpr int kPolls = 40;

long AllocationsOfAWholeUpdate(std::string_view scenario) {
  orvel::testing::Rig rig(scenario);
  ScsiTransport& t = rig.T();
  EnterUpdateMode(t, 1);
  orvel::testing::StartCountingAllocations();
  for (int i = 0; i < kChunks; ++i) SendImageChunk(t, kChunk, ChunkForm::Twelve);
  SendImageChunk(t, kLastChunk, ChunkForm::Twelve);
  FinishTransfer(t, 0);
  StartRewrite(t, orvel::testing::kNoLoaderUpdate, 0, 0);
  for (int i = 0; i < kPolls; ++i) {
    RequestSense(t);
    PollRewriteStatus(t);
  }
  const long counted = orvel::testing::StopCountingAllocations();
  EXPECT_EQ(rig.Drive(0).RewritesCompleted(), 1) << scenario;
  return counted;
}

TEST(SimHotPath, NoHeapAllocationPerCommand) {
  // The counter itself sees allocations.
  orvel::testing::StartCountingAllocations();
  const std::string big(100, 'x');
  const std::vector<int> many(100);
  ASSERT_EQ(orvel::testing::StopCountingAllocations(), 2) << big << many.size();

  EXPECT_EQ(AllocationsOfAWholeUpdate("default"), 0);
  EXPECT_EQ(AllocationsOfAWholeUpdate("aspi"), 0);
  EXPECT_EQ(AllocationsOfAWholeUpdate("aspi-pending"), 0);
}

}  // namespace
}  // namespace orvel::sim
