// The ASPI route through the real LoadLibraryA, GetProcAddress, CreateEventA,
// WaitForSingleObject and ResetEvent, against the test WNASPI32.DLL beside
// this program. Wine reports Windows 98 (platform id 1) to this program only
// (tools/wine-prefix.sh). The rows that need another library, or none, run in
// ctest entries of their own (ORVEL_ASPI_CASE) and skip elsewhere.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/win32_platform.h"
#include "sim/sim_drive.h"
#include "tests/win32/test_aspi_control.h"
#include "drive/discovery.h"
#include "transport/scsi_transport.h"

namespace orvel {
namespace {

constexpr std::uint32_t kShortWaitMs = 50;  // for the request the library never finishes
constexpr std::uint32_t kOneAdapter = (srb::SS_COMP << 8) | 1;
constexpr std::uint32_t kNoAdapter = srb::SS_COMP << 8;
constexpr std::uint32_t kNoAdapters = srb::SS_NO_ADAPTERS << 8;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kInquiryLength = 36;
constexpr std::uint8_t kOpVendorRead = 0xE3;  // refused outside update mode with 5/20/00
constexpr std::uint8_t kAscInvalidOpcode = 0x20;
constexpr std::uint8_t kAscPrevious = 0x3A;
constexpr std::size_t kProductAt = 16;

bool CaseIs(std::string_view name) {
  const char* value = std::getenv("ORVEL_ASPI_CASE");
  return value != nullptr && name == value;
}

// In static storage: the 64-bit test build is linked below 4 GiB, so the
// addresses of the blocks fit the request block's 32-bit pointer fields.
ScsiTransport& FreshTransport(Platform& platform) {
  static std::optional<ScsiTransport> transport;
  transport.reset();
  transport.emplace(platform);
  return *transport;
}

void FillInquiry(ScsiTransport& t) {
  t.Request().cdb = {kOpInquiry, 0, 0, 0, kInquiryLength};
  t.Request().cdbLength = 6;
  t.Request().direction = DataIn;
}

void FillVendorRead(ScsiTransport& t) {
  t.Request().cdb = {kOpVendorRead};
  t.Request().cdbLength = 12;
  t.Request().direction = DataIn;
}

class WinAspiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loaded first, so that the settings reach the very library SelectTransport loads.
    library_ = platform.LoadLibrary("WNASPI32.DLL");
    ASSERT_NE(library_, nullptr);
    configure = reinterpret_cast<test_aspi::Configure>(Win32Platform::EntryPoint(library_, "OrvelAspiConfigure"));
    requests = reinterpret_cast<test_aspi::Requests>(Win32Platform::EntryPoint(library_, "OrvelAspiRequests"));
    release = reinterpret_cast<test_aspi::Release>(Win32Platform::EntryPoint(library_, "OrvelAspiRelease"));
    ASSERT_TRUE(configure != nullptr && requests != nullptr && release != nullptr)
        << "WNASPI32.DLL beside the program is not the test library";
    configure(test_aspi::kCompleteSynchronously, kOneAdapter, 0);
  }
  void TearDown() override {
    // A held request must not outlive the transport whose block it is.
    if (release != nullptr) release();
  }

  ScsiTransport& Started() {
    ScsiTransport& t = FreshTransport(platform);
    TransportMessage message;
    EXPECT_TRUE(t.SelectTransport(&message)) << message.text;
    return t;
  }

  Win32Platform platform{"."};
  test_aspi::Configure configure = nullptr;
  test_aspi::Requests requests = nullptr;
  test_aspi::Release release = nullptr;

 private:
  AspiLibrary* library_ = nullptr;
};

TEST_F(WinAspiTest, WineReportsWindows98ToThisProgram) { EXPECT_EQ(platform.PlatformId(), kPlatformWindows); }

struct SupportRow {
  const char* name;
  std::uint32_t supportInfo;
  bool starts;
  std::uint16_t adapters;
};

class SupportInfoTest : public WinAspiTest, public ::testing::WithParamInterface<SupportRow> {};

TEST_P(SupportInfoTest, StartUpFollowsTheSupportInfo) {
  const SupportRow& row = GetParam();
  configure(test_aspi::kCompleteSynchronously, row.supportInfo, 0);
  ScsiTransport& t = FreshTransport(platform);
  TransportMessage message;
  EXPECT_EQ(t.SelectTransport(&message), row.starts);
  EXPECT_EQ(t.mode, TransportMode::Aspi);
  if (row.starts) {
    EXPECT_EQ(t.adapterCount, row.adapters);
    // Only adapter 0, target 0 answers.
    EXPECT_EQ(DiscoverDrives(t).size(), row.adapters > 0 ? 1u : 0u);
  } else {
    EXPECT_EQ(message.text, "Not found ASPI MANAGER");
    EXPECT_EQ(message.icon, MessageIcon::Stop);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, SupportInfoTest,
                         ::testing::Values(SupportRow{"OneAdapter", kOneAdapter, true, 1},
                                           SupportRow{"NoAdapterYetComplete", kNoAdapter, true, 0},
                                           SupportRow{"NoAdapters", kNoAdapters, false, 0},
                                           SupportRow{"StatusZero", 0, false, 0}),
                         [](const auto& row) { return std::string(row.param.name); });

class CompletionTest : public WinAspiTest, public ::testing::WithParamInterface<int> {};

TEST_P(CompletionTest, ResultsAndSenseReachTheTransport) {
  configure(GetParam(), kOneAdapter, 0);
  ScsiTransport& t = Started();

  FillInquiry(t);
  ASSERT_EQ(t.ExecuteCommand(kInquiryLength), 1);
  // The library wrote through SRB_BufPointer straight into the data buffer.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.DataBuffer().data() + kProductAt), 16),
            sim::NormalProductId(0));
  EXPECT_EQ(t.lastAsc, 0);

  FillVendorRead(t);
  EXPECT_EQ(t.ExecuteCommand(kDataBufferSize), 0);
  EXPECT_EQ(t.lastAsc, kAscInvalidOpcode);
  EXPECT_EQ(t.lastAscq, 0);

  FillInquiry(t);
  EXPECT_EQ(t.ExecuteCommand(kInquiryLength), 1);
  EXPECT_EQ(t.lastAsc, 0) << "a success after a failure clears the sense codes";

  configure(GetParam(), kOneAdapter, srb::SS_ABORTED);
  t.lastAsc = kAscPrevious;
  FillInquiry(t);
  EXPECT_EQ(t.ExecuteCommand(kInquiryLength), 0);
  EXPECT_EQ(t.lastAsc, 0) << "any other final status clears them";

  configure(GetParam(), kOneAdapter, 0);
  t.address.targetId = 3;  // nobody there: SS_NO_DEVICE
  FillInquiry(t);
  EXPECT_EQ(t.ExecuteCommand(kInquiryLength), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, CompletionTest,
                         ::testing::Values(test_aspi::kCompleteSynchronously, test_aspi::kCompleteLater),
                         [](const auto& mode) {
                           return std::string(mode.param == test_aspi::kCompleteLater ? "Later" : "BeforeReturn");
                         });

TEST_F(WinAspiTest, HeldRequestBlocksTheBlockUntilTheLibraryLetsGo) {
  platform.Options().aspiWaitMs = kShortWaitMs;
  ScsiTransport& t = Started();
  FillVendorRead(t);
  ASSERT_EQ(t.ExecuteCommand(kDataBufferSize), 0);
  ASSERT_EQ(t.lastAsc, kAscInvalidOpcode);

  configure(test_aspi::kNeverComplete, kOneAdapter, 0);
  FillInquiry(t);
  EXPECT_EQ(t.ExecuteCommand(kInquiryLength), 0);
  EXPECT_EQ(t.lastAsc, kAscInvalidOpcode) << "a time-out keeps the sense codes of the command before";
  const long sent = requests();

  // Still held: the next command is refused without touching the block.
  t.Request().cdb = {kOpVendorRead};
  EXPECT_EQ(t.ExecuteCommand(0), 0);
  EXPECT_EQ(requests(), sent);
  EXPECT_EQ(t.AspiBlock()[srb::kCdbByte], kOpInquiry);

  // Once the library finishes it, the block serves again.
  configure(test_aspi::kCompleteSynchronously, kOneAdapter, 0);
  ASSERT_EQ(release(), 1);
  FillInquiry(t);
  EXPECT_EQ(t.ExecuteCommand(kInquiryLength), 1);
  EXPECT_EQ(requests(), sent + 1);
}

// Start-up without the test library: each runs in its own ctest entry.
TEST(WinAspiStartUp, LibraryMissing) {
  if (!CaseIs("absent")) GTEST_SKIP() << "runs with WNASPI32.DLL disabled (ORVEL_ASPI_CASE=absent)";
  Win32Platform platform{"."};
  TransportMessage message;
  EXPECT_FALSE(FreshTransport(platform).SelectTransport(&message));
  EXPECT_EQ(message.text, "Not found 'ASPI32.DLL'");
  EXPECT_EQ(message.icon, MessageIcon::Stop);
}

TEST(WinAspiStartUp, EntryPointMissing) {
  if (!CaseIs("partial")) GTEST_SKIP() << "runs beside the library without SendASPI32Command";
  Win32Platform platform{"."};
  TransportMessage message;
  EXPECT_FALSE(FreshTransport(platform).SelectTransport(&message));
  EXPECT_EQ(message.text, "ASPI Function Error 'ASPI32.DLL'");
  EXPECT_EQ(message.icon, MessageIcon::Stop);
}

TEST(WinAspiStartUp, WinesOwnLibraryHasNoManager) {
  if (!CaseIs("wine")) GTEST_SKIP() << "runs with Wine's built-in WNASPI32.DLL";
  Win32Platform platform{"."};
  TransportMessage message;
  EXPECT_FALSE(FreshTransport(platform).SelectTransport(&message));
  EXPECT_EQ(message.text, "Not found ASPI MANAGER");
}

}  // namespace
}  // namespace orvel
