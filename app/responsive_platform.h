#pragma once
// The platform as the dialog's update attempt sees it: every pause keeps the
// window alive. The pause is slept in slices on the inner platform's own clock
// (the simulator's virtual clock in tests, so a test never waits), with the
// window's liveness operation before each slice and after the last: a 580 ms
// poll pause leaves no stretch longer than one slice in which the window
// answers nothing. The pause never ends early; the liveness calls only add to
// it. Everything else goes straight to the inner platform.

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/forwarding_platform.h"

namespace orvel {

// The longest stretch of a pause without a liveness call.
inline constexpr std::uint32_t kKeepAliveSliceMs = 20;

class ResponsivePlatform final : public ForwardingPlatform {
 public:
  // `keepAlive` is the window's liveness operation (ui::CDialog::KeepAlive).
  ResponsivePlatform(Platform& inner, std::function<void()> keepAlive)
      : ForwardingPlatform(inner), keepAlive_(std::move(keepAlive)) {}

  // Slices of at most kKeepAliveSliceMs, summing to `milliseconds`.
  void Sleep(std::uint32_t milliseconds) override;

 private:
  std::function<void()> keepAlive_;
};

}  // namespace orvel
