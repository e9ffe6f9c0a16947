#pragma once
// A Platform that hands every call to another one. Wrappers (the real-time
// pauses of the simulated GUI, a test's pause log, a borrowed machine) derive
// from it and override only what they change, so a call added to Platform is
// forwarded here, once, and never silently falls back to a default in one of them.

#include <memory>

#include "platform/platform.h"

namespace orvel {

class ForwardingPlatform : public Platform {
 public:
  // Borrows `inner`, which must outlive this platform.
  explicit ForwardingPlatform(Platform& inner) : inner_(&inner) {}
  // Owns `inner` (not null).
  explicit ForwardingPlatform(std::unique_ptr<Platform> inner) : owned_(std::move(inner)), inner_(owned_.get()) {}

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
  std::string DeviceName(TransportMode mode, std::uint16_t number) override { return inner_->DeviceName(mode, number); }
  std::vector<std::uint16_t> RouteDeviceNumbers(TransportMode mode) override { return inner_->RouteDeviceNumbers(mode); }
  DeviceNodes NodesOf(std::string_view name) override { return inner_->NodesOf(name); }
  std::string ResolveNodePath(std::string_view path) override { return inner_->ResolveNodePath(path); }
  DeviceHandle OpenDevice(std::string_view name) override { return inner_->OpenDevice(name); }
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override {
    return inner_->PassThrough(dev, block);
  }
  void CloseDevice(DeviceHandle dev) override { inner_->CloseDevice(dev); }
  void Sleep(std::uint32_t milliseconds) override { inner_->Sleep(milliseconds); }
  FileSystem& Files() override { return inner_->Files(); }
  std::string AccessProblem() override { return inner_->AccessProblem(); }
  std::vector<NodeAccessProblem> AccessProblems() override { return inner_->AccessProblems(); }
  std::vector<std::uint16_t> PresentDeviceNumbers(TransportMode mode) override {
    return inner_->PresentDeviceNumbers(mode);
  }
  std::uint64_t MonotonicMilliseconds() override { return inner_->MonotonicMilliseconds(); }
  AttemptHold BeginAttempt() override { return inner_->BeginAttempt(); }
  Interruption EndAttempt() override { return inner_->EndAttempt(); }
  void ActOnInterruption(Interruption interruption) override { inner_->ActOnInterruption(interruption); }
  int RememberListedDevice(std::string_view name) override { return inner_->RememberListedDevice(name); }
  DeviceClaimResult ClaimListedDevice(std::string_view name) override { return inner_->ClaimListedDevice(name); }
  void ReleaseListedDevice(std::string_view name) override { inner_->ReleaseListedDevice(name); }
  std::uint64_t RandomSeed() override { return inner_->RandomSeed(); }

  Platform& Inner() { return *inner_; }

 private:
  std::unique_ptr<Platform> owned_;
  Platform* inner_;
};

}  // namespace orvel
