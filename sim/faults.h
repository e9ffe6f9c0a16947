#pragma once
// Faults injected at the machine boundary, before a command reaches its drive.

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string_view>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "sim/sim_drive.h"

namespace orvel::sim {

enum class FaultKind : std::uint8_t {
  Check,      // CHECK CONDITION with `sense`; the drive does not see the command
  Timeout,    // the command outlasts the route's time-out (the drive still carries it out)
  ShortData,  // a DataIn answer of `shortBytes` bytes only; the rest of the buffer untouched
  Fail,       // the pass-through call fails; ASPI answers SS_NO_DEVICE
  Aborted,    // ASPI finishes with SS_ABORTED; the pass-through call fails
};

inline constexpr int kAnyOpcode = -1;
inline constexpr int kAnyDrive = -1;

struct FaultRule {
  int opcode = kAnyOpcode;         // 0..255, or kAnyOpcode
  int drive = kAnyDrive;           // drive index, or kAnyDrive
  std::uint32_t occurrence = 1;    // the n-th matching command, counted from 1
  bool onward = false;             // and every matching command after it
  FaultKind kind = FaultKind::Check;
  Sense sense{kKeyIllegalRequest, 0x20, 0x00};
  std::uint32_t shortBytes = 0;
  std::uint32_t seen = 0;          // matching commands so far (kept by the machine)
};

// File faults of the working directory (see FaultyFileSystem).
struct FileFaults {
  // The disk takes this many bytes in total: WriteAll fails with NoSpace once
  // they are written, and Reserve when they would not fit. Room reserved counts
  // as taken until the file is closed.
  std::optional<std::uint64_t> diskFullAfter;
  // SyncAndClose closes the file but reports Io.
  bool syncFails = false;
  // ReadAt delivers nothing at or beyond this offset of any file (a file
  // that comes back shorter than its length).
  std::optional<std::uint64_t> shortReadAt;
  // CreateExclusive refuses every name with this error.
  std::optional<FileError> createFails;
  // The next this many renames find an entry under their target, made just
  // before them (by another program, as it were).
  int renameTargetsTaken = 0;
  // SyncDirectory reports Io.
  bool directorySyncFails = false;
};

// The working directory with file faults on demand.
class FaultyFileSystem : public FileSystem {
 public:
  FaultyFileSystem(std::unique_ptr<FileSystem> inner, FileFaults& faults) : inner_(std::move(inner)), faults_(faults) {}

  FileHandle OpenRead(std::string_view name, FileError* err) override;
  std::int64_t Length(FileHandle h) override;
  std::int64_t ReadAt(FileHandle h, std::uint64_t offset, std::span<std::uint8_t> out) override;
  void Close(FileHandle h) override;
  FileHandle CreateExclusive(std::string_view name, FileError* err) override;
  bool WriteAll(FileHandle h, std::span<const std::uint8_t> data, FileError* err) override;
  bool SyncAndClose(FileHandle h, FileError* err) override;
  bool Remove(std::string_view name) override;
  bool Exists(std::string_view name) override;
  bool RenameNoReplace(std::string_view from, std::string_view to, FileError* err) override;
  std::vector<std::string> ListRegularFiles(std::string_view pattern) override;
  bool Reserve(FileHandle h, std::uint64_t bytes, FileError* err) override;
  bool SyncDirectory(FileError* err) override;

  // Bytes the disk holds for the files: written, and reserved but not yet written.
  std::uint64_t BytesWritten() const { return written_; }

 private:
  // Room reserved for a file and not yet written gives the disk back its bytes.
  void GiveBackReservation(FileHandle h);

  std::unique_ptr<FileSystem> inner_;
  FileFaults& faults_;
  std::uint64_t written_ = 0;
  std::map<FileHandle, std::uint64_t> reserved_;  // per open file: reserved bytes not yet written
};

}  // namespace orvel::sim
