#include "app/responsive_platform.h"

#include <algorithm>

namespace orvel {

void ResponsivePlatform::Sleep(std::uint32_t milliseconds) {
  std::uint32_t remaining = milliseconds;
  do {
    keepAlive_();
    const std::uint32_t slice = std::min(remaining, kKeepAliveSliceMs);
    ForwardingPlatform::Sleep(slice);
    remaining -= slice;
  } while (remaining > 0);
  keepAlive_();
}

}  // namespace orvel
