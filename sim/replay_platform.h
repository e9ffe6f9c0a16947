#pragma once
// A recording played back as the drives' side: the program's requests are
// compared with the recorded ones in order and get the recorded answers,
// with the recorded route, device names and seed. The first request that
// differs ends the replay: it and everything after it fail, and Departure()
// names it. Pauses and command durations run on a virtual clock.
//
// Data kept only as a digest is compared by digest; a read whose data is
// only a digest is answered with data the program sent earlier with that
// digest, else with zero bytes (counted in FilledReads()).

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "sim/recording.h"
#include "sim/virtual_clock.h"

namespace orvel {

// Where a replay left its recording.
struct ReplayDeparture {
  std::size_t position = 0;  // 1-based request number
  std::string expected;      // DescribeRequest of the recorded request, or empty past its end
  std::string received;      // the same of the program's, or empty when the program ended first
};

// What the command line reads after the run.
struct ReplayState {
  std::optional<ReplayDeparture> departure;
  std::size_t used = 0;         // requests answered
  std::size_t total = 0;        // requests in the recording
  std::size_t filledReads = 0;  // reads answered with zero bytes
  bool bulkDataKept = false;
  std::string next;             // DescribeRequest of the next recorded request; empty past the end

  // Marks a run that ended before its recording did as departed.
  void NoteEnd();
};

// "request 12: the recording expects CDB 12 00 ... (in 36) to \\.\cdrom0; the program sent CDB 28 00 ..."
std::string DepartureText(const ReplayDeparture& departure);

class ReplayPlatform : public Platform {
 public:
  ReplayPlatform(Recording recording, std::unique_ptr<FileSystem> files, std::shared_ptr<ReplayState> state);
  ~ReplayPlatform() override;

  std::uint32_t PlatformId() override { return recording_.header.platformId; }
  AspiLibrary* LoadLibrary(std::string_view name) override;
  void FreeLibrary(AspiLibrary*) override {}
  std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) override;
  EventHandle CreateEvent() override;
  WaitResult WaitEvent(EventHandle ev, std::uint32_t milliseconds) override;
  void ResetEvent(EventHandle ev) override;
  void CloseEvent(EventHandle ev) override;
  std::string DeviceName(TransportMode mode, std::uint16_t number) override;
  std::vector<std::uint16_t> RouteDeviceNumbers(TransportMode mode) override;
  DeviceNodes NodesOf(std::string_view name) override;
  DeviceHandle OpenDevice(std::string_view name) override;
  PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) override;
  void CloseDevice(DeviceHandle dev) override;
  void Sleep(std::uint32_t milliseconds) override { clock_.Sleep(milliseconds); }
  FileSystem& Files() override { return *files_; }
  std::string AccessProblem() override;
  std::vector<NodeAccessProblem> AccessProblems() override { return recording_.header.accessProblems; }
  std::vector<std::uint16_t> PresentDeviceNumbers(TransportMode mode) override { return RouteDeviceNumbers(mode); }
  std::uint64_t MonotonicMilliseconds() override { return clock_.Now(); }
  AttemptHold BeginAttempt() override;
  Interruption EndAttempt() override;
  void ActOnInterruption(Interruption interruption) override { RaiseInterruption(interruption); }
  int RememberListedDevice(std::string_view name) override;
  DeviceClaimResult ClaimListedDevice(std::string_view name) override;
  void ReleaseListedDevice(std::string_view) override {}
  std::uint64_t RandomSeed() override { return recording_.header.randomSeed; }

  // Used by the library.
  void AspiSend(std::span<std::uint8_t> srb);
  const RecordingHeader& Header() const { return recording_.header; }

 private:
  // The recorded request that answers `received`; nullptr when the replay
  // has departed (then it is noted).
  const RecordedRequest* Take(const RecordedRequest& received);
  // The data for a read of recorded `data`, into `out`.
  void Answer(const RecordedData& data, std::span<std::uint8_t> out);

  Recording recording_;
  std::unique_ptr<FileSystem> files_;
  std::shared_ptr<ReplayState> state_;
  std::unique_ptr<AspiLibrary> library_;
  sim::VirtualClock clock_;
  std::map<std::uint32_t, std::span<std::uint8_t>> buffers_;
  std::map<EventHandle, bool> events_;  // live events: signalled or not
  // A request recorded as still running when the wait ended: it stays so
  // for one wait, and finishes as aborted at the next.
  struct Held {
    std::span<std::uint8_t> srb;
    bool waited = false;
  };
  std::map<EventHandle, Held> held_;
  std::map<DeviceHandle, std::string> open_;
  std::map<Sha256Digest, std::vector<std::uint8_t>> sent_;  // data the program sent, by digest
  EventHandle nextEvent_ = 1;
  DeviceHandle nextDevice_ = 1;
};

// Reads a recording file from `files` (relative to its directory) and makes
// its replay; nullptr with the reason in *error.
std::unique_ptr<ReplayPlatform> MakeReplay(const std::string& name, std::unique_ptr<FileSystem> files,
                                           std::shared_ptr<ReplayState> state, std::string* error);

}  // namespace orvel
