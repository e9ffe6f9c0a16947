// Every Platform call reaches the platform behind a ForwardingPlatform, also
// through a wrapper that overrides one call, borrowed or owned.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/forwarding_platform.h"
#include "platform/request_blocks.h"
#include "tests/support/fake_platform.h"

namespace orvel {
namespace {

using testing::FakePlatform;

constexpr std::uint32_t kWaitMs = 250;
constexpr std::uint32_t kPauseMs = 200;
constexpr std::uint16_t kDeviceNumber = 3;
constexpr std::uint16_t kLargeDeviceNumber = 300;
constexpr Interruption kInterruption = 15;
constexpr std::uint64_t kSeed = 0x5EEDu;

// Makes every call of `outer` once and checks that `inner` saw each.
void ExpectEveryCallForwarded(Platform& outer, FakePlatform& inner) {
  inner.platformId = kPlatformWindows;
  EXPECT_EQ(outer.PlatformId(), kPlatformWindows);

  AspiLibrary* lib = outer.LoadLibrary("WNASPI32.DLL");
  EXPECT_NE(lib, nullptr);
  EXPECT_EQ(inner.loadedLibraries, std::vector<std::string>{"WNASPI32.DLL"});
  outer.FreeLibrary(lib);
  EXPECT_EQ(inner.freedLibraries, 1);

  std::array<std::uint8_t, 4> buffer{};
  outer.RegisterBuffer(buffer);
  EXPECT_EQ(inner.RegisteredBuffer().data(), buffer.data());

  const EventHandle ev = outer.CreateEvent();
  EXPECT_EQ(inner.liveEvents.count(ev), 1u);
  EXPECT_EQ(outer.WaitEvent(ev, kWaitMs), WaitResult::TimedOut);
  EXPECT_EQ(inner.waits, (std::vector<std::pair<EventHandle, std::uint32_t>>{{ev, kWaitMs}}));
  outer.ResetEvent(ev);
  EXPECT_EQ(inner.resetEvents, std::vector<EventHandle>{ev});
  outer.CloseEvent(ev);
  EXPECT_EQ(inner.liveEvents.count(ev), 0u);

  const std::string name = outer.DeviceName(TransportMode::CdromDevice, kDeviceNumber);
  EXPECT_EQ(name, inner.DeviceName(TransportMode::CdromDevice, kDeviceNumber));
  inner.devices.insert(name);
  EXPECT_EQ(outer.PresentDeviceNumbers(TransportMode::CdromDevice), std::vector<std::uint16_t>{kDeviceNumber});
  inner.routeNumbers = std::vector<std::uint16_t>{kDeviceNumber, kLargeDeviceNumber};
  EXPECT_EQ(outer.RouteDeviceNumbers(TransportMode::CdromDevice), *inner.routeNumbers);
  inner.nodes[name] = DeviceNodes{"/dev/sr3", "/dev/sg4"};
  EXPECT_EQ(outer.NodesOf(name).generic, "/dev/sg4");
  inner.links["/dev/cdrom"] = "/dev/sr3";
  EXPECT_EQ(outer.ResolveNodePath("/dev/cdrom"), "/dev/sr3");
  const DeviceHandle dev = outer.OpenDevice(name);
  EXPECT_NE(dev, -1);
  EXPECT_EQ(inner.openAttempts, std::vector<std::string>{name});
  std::array<std::uint8_t, spt::kDataArea> block{};
  block[spt::kScsiStatus] = kStatusNotSet;
  EXPECT_EQ(outer.PassThrough(dev, block), PassThroughResult::Done);
  EXPECT_EQ(inner.passThroughBlocks.size(), 1u);
  EXPECT_EQ(block[spt::kScsiStatus], kStatusGood);
  outer.CloseDevice(dev);
  EXPECT_EQ(inner.openHandles, 0);

  inner.waitedMs = 0;
  outer.Sleep(kPauseMs);
  EXPECT_EQ(inner.waitedMs, kPauseMs);

  EXPECT_EQ(&outer.Files(), &inner.files);
  inner.accessProblem = "cannot open /dev/sg0";
  EXPECT_EQ(outer.AccessProblem(), "cannot open /dev/sg0");
  inner.accessProblems = {{"/dev/sg0", "permission denied", "join group cdrom"}};
  ASSERT_EQ(outer.AccessProblems().size(), 1u);
  EXPECT_EQ(outer.AccessProblems()[0].remedy, "join group cdrom");

  EXPECT_EQ(outer.MonotonicMilliseconds(), inner.waitedMs);
  inner.attemptHold = {false, "no logind"};
  const AttemptHold hold = outer.BeginAttempt();
  EXPECT_FALSE(hold.machineKeptAwake);
  EXPECT_EQ(hold.whyNot, "no logind");
  inner.heldInterruption = kInterruption;
  EXPECT_EQ(outer.EndAttempt(), kInterruption);
  EXPECT_EQ(inner.attemptsBegun, 1);
  EXPECT_EQ(inner.attemptsEnded, 1);
  outer.ActOnInterruption(kInterruption);
  EXPECT_EQ(inner.actedOn, std::vector<Interruption>{kInterruption});
  EXPECT_EQ(outer.RememberListedDevice(name), 1);
  EXPECT_EQ(inner.remembered, std::vector<std::string>{name});
  inner.claimAnswers[name] = DeviceClaimResult::Mounted;
  EXPECT_EQ(outer.ClaimListedDevice(name), DeviceClaimResult::Mounted);
  EXPECT_EQ(inner.claims, std::vector<std::string>{name});
  outer.ReleaseListedDevice(name);
  EXPECT_EQ(inner.releases, std::vector<std::string>{name});
  inner.randomSeed = kSeed;
  EXPECT_EQ(outer.RandomSeed(), kSeed);
}

TEST(ForwardingPlatform, ABorrowedPlatformGetsEveryCall) {
  FakePlatform inner;
  ForwardingPlatform outer(inner);
  ExpectEveryCallForwarded(outer, inner);
  EXPECT_EQ(&outer.Inner(), &inner);
}

// A wrapper in the manner of the real-time platform: its own pause, then the inner one.
class PauseLog : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void Sleep(std::uint32_t milliseconds) override {
    pauses.push_back(milliseconds);
    ForwardingPlatform::Sleep(milliseconds);
  }
  std::vector<std::uint32_t> pauses;
};

TEST(ForwardingPlatform, AWrapperOverridingOneCallStillForwardsTheRest) {
  auto owned = std::make_unique<FakePlatform>();
  FakePlatform& inner = *owned;
  PauseLog outer(std::move(owned));
  ExpectEveryCallForwarded(outer, inner);
  EXPECT_EQ(outer.pauses, std::vector<std::uint32_t>{kPauseMs});
  EXPECT_EQ(&outer.Inner(), &inner);
}

}  // namespace
}  // namespace orvel
