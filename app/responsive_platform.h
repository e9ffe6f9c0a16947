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
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"

namespace orvel {

// The longest stretch of a pause without a liveness call.
inline constexpr std::uint32_t kKeepAliveSliceMs = 20;

class ResponsivePlatform final : public Platform {
 public:
  // `keepAlive` is the window's liveness operation (ui::CDialog::KeepAlive).
  ResponsivePlatform(Platform& inner, std::function<void()> keepAlive)
      : inner_(inner), keepAlive_(std::move(keepAlive)) {}

  std::uint32_t PlatformId() override { return inner_.PlatformId(); }
  AspiLibrary* LoadLibrary(std::string_view name) override { return inner_.LoadLibrary(name); }
  void FreeLibrary(AspiLibrary* lib) override { inner_.FreeLibrary(lib); }
  std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) override { return inner_.RegisterBuffer(buffer); }
  EventHandle CreateEvent() override { return inner_.CreateEvent(); }
  WaitResult WaitEvent(EventHandle ev, std::uint32_t milliseconds) override {
    return inner_.WaitEvent(ev, milliseconds);
  }
  void ResetEvent(EventHandle ev) override { inner_.ResetEvent(ev); }
  void CloseEvent(EventHandle ev) override { inner_.CloseEvent(ev); }
  std::string DeviceName(TransportMode mode, std::uint8_t number) override { return inner_.DeviceName(mode, number); }
  DeviceHandle OpenDevice(std::string_view name) override { return inner_.OpenDevice(name); }
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override {
    return inner_.PassThrough(dev, block);
  }
  void CloseDevice(DeviceHandle dev) override { inner_.CloseDevice(dev); }
  // Slices of at most kKeepAliveSliceMs, summing to `milliseconds`.
  void Sleep(std::uint32_t milliseconds) override;
  FileSystem& Files() override { return inner_.Files(); }
  std::string AccessProblem() override { return inner_.AccessProblem(); }

 private:
  Platform& inner_;
  std::function<void()> keepAlive_;
};

}  // namespace orvel
