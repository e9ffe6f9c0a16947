#pragma once
// A platform whose pauses take real time on top of whatever the inner platform
// does with them: the simulator advances its virtual clock, and the operator
// watching the demo sees the drive dialogue at its real pace.

#include <functional>
#include <memory>

#include "platform/platform.h"

namespace orvel {

class RealTimePlatform : public Platform {
 public:
  using Sleeper = std::function<void(std::uint32_t milliseconds)>;
  // `sleeper` defaults to sleeping the calling thread.
  explicit RealTimePlatform(std::unique_ptr<Platform> inner, Sleeper sleeper = {});

  std::uint32_t PlatformId() override { return inner_->PlatformId(); }
  AspiLibrary* LoadLibrary(std::string_view name) override { return inner_->LoadLibrary(name); }
  void FreeLibrary(AspiLibrary* lib) override { inner_->FreeLibrary(lib); }
  std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) override { return inner_->RegisterBuffer(buffer); }
  EventHandle CreateEvent() override { return inner_->CreateEvent(); }
  WaitResult WaitEvent(EventHandle ev, std::uint32_t milliseconds) override {
    return inner_->WaitEvent(ev, milliseconds);
  }
  void ResetEvent(EventHandle ev) override { inner_->ResetEvent(ev); }
  void CloseEvent(EventHandle ev) override { inner_->CloseEvent(ev); }
  std::uint32_t AspiWaitMilliseconds() override { return inner_->AspiWaitMilliseconds(); }
  std::string DeviceName(TransportMode mode, std::uint8_t number) override { return inner_->DeviceName(mode, number); }
  DeviceHandle OpenDevice(std::string_view name) override { return inner_->OpenDevice(name); }
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override {
    return inner_->PassThrough(dev, block);
  }
  void CloseDevice(DeviceHandle dev) override { inner_->CloseDevice(dev); }
  void Sleep(std::uint32_t milliseconds) override;
  FileSystem& Files() override { return inner_->Files(); }
  std::string AccessProblem() override { return inner_->AccessProblem(); }

  Platform& Inner() { return *inner_; }

 private:
  std::unique_ptr<Platform> inner_;
  Sleeper sleeper_;
};

}  // namespace orvel
