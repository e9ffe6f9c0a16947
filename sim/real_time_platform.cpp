#include "sim/real_time_platform.h"

#include <chrono>
#include <thread>

namespace orvel {

RealTimePlatform::RealTimePlatform(std::unique_ptr<Platform> inner, Sleeper sleeper)
    : ForwardingPlatform(std::move(inner)), sleeper_(std::move(sleeper)) {
  if (!sleeper_) {
    sleeper_ = [](std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  }
}

void RealTimePlatform::Sleep(std::uint32_t milliseconds) {
  ForwardingPlatform::Sleep(milliseconds);
  sleeper_(milliseconds);
}

}  // namespace orvel
