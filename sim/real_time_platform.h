#pragma once
// A platform whose pauses take real time on top of whatever the inner platform
// does with them: the simulator advances its virtual clock, and the operator
// watching the demo sees the drive dialogue at its real pace.

#include <functional>
#include <memory>

#include "platform/forwarding_platform.h"

namespace orvel {

class RealTimePlatform : public ForwardingPlatform {
 public:
  using Sleeper = std::function<void(std::uint32_t milliseconds)>;
  // `sleeper` defaults to sleeping the calling thread.
  explicit RealTimePlatform(std::unique_ptr<Platform> inner, Sleeper sleeper = {});

  void Sleep(std::uint32_t milliseconds) override;

 private:
  Sleeper sleeper_;
};

}  // namespace orvel
