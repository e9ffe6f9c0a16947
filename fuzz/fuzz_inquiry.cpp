// Arbitrary bytes as a drive's INQUIRY answer: label formatting, catalogue
// matching and reading the address back must hold for any answer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "tests/support/fake_platform.h"
#include "drive/discovery.h"

namespace {

constexpr std::size_t kInquiryLength = 36;

void Check(bool ok) {
  if (!ok) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel;
  if (size < 2) {
    return 0;
  }
  const std::uint8_t selector = data[0];
  const std::uint32_t delivered = data[1];  // may claim more than was asked
  const std::vector<std::uint8_t> answer(data + 2, data + size);

  orvel::testing::FakePlatform p;
  ScsiTransport t(p);
  t.mode = (selector & 1) != 0 ? TransportMode::CdromDevice : TransportMode::DriveLetter;
  const std::uint8_t number = static_cast<std::uint8_t>((selector >> 1) % 10);
  p.devices.insert(p.DeviceName(t.mode, number));
  p.responder = [&answer, delivered](const std::string&, std::span<std::uint8_t> b) {
    b[spt::kScsiStatus] = kStatusGood;
    const std::size_t room = b.size() - spt::kDataArea;
    for (std::size_t i = 0; i < answer.size() && i < room; ++i) {
      b[spt::kDataArea + i] = answer[i];
    }
    PutLe32(b, spt::kDataTransferLength, delivered);
    return PassThroughResult::Done;
  };

  const auto drives = DiscoverDrives(t);
  Check(drives.size() <= 1);
  for (const auto& d : drives) {
    Check(d.address.deviceNumber == number);
    ScsiTransport back(p);
    back.mode = t.mode;
    AddressFromLabel(back, d.label);
    Check(back.address.deviceNumber == number);
    Check(d.label.find('\0') == std::string::npos);
  }

  // The label of raw bytes of any length never reads past them.
  t.address.deviceNumber = number;
  const std::string label = FormatDriveLabel(t, std::span<const std::uint8_t>(answer).first(
                                                    std::min(answer.size(), kInquiryLength)));
  Check(label.size() <= 10 + 28);
  return 0;
}
