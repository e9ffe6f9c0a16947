#include "sim/faults.h"

#include <algorithm>

namespace orvel::sim {

FileHandle FaultyFileSystem::OpenRead(std::string_view name, FileError* err) { return inner_->OpenRead(name, err); }

std::int64_t FaultyFileSystem::Length(FileHandle h) { return inner_->Length(h); }

std::int64_t FaultyFileSystem::ReadAt(FileHandle h, std::uint64_t offset, std::span<std::uint8_t> out) {
  if (faults_.shortReadAt) {
    const std::uint64_t end = *faults_.shortReadAt;
    if (offset >= end) return 0;
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), end - offset)));
  }
  return inner_->ReadAt(h, offset, out);
}

void FaultyFileSystem::Close(FileHandle h) {
  GiveBackReservation(h);
  inner_->Close(h);
}

void FaultyFileSystem::GiveBackReservation(FileHandle h) {
  const auto it = reserved_.find(h);
  if (it == reserved_.end()) return;
  written_ -= it->second;
  reserved_.erase(it);
}

FileHandle FaultyFileSystem::CreateExclusive(std::string_view name, FileError* err) {
  if (faults_.createFails) {
    if (err != nullptr) *err = *faults_.createFails;
    return kNoFile;
  }
  return inner_->CreateExclusive(name, err);
}

bool FaultyFileSystem::WriteAll(FileHandle h, std::span<const std::uint8_t> data, FileError* err) {
  // Bytes inside the file's reservation need no further room.
  const auto held = reserved_.find(h);
  if (held != reserved_.end()) {
    const std::uint64_t covered = std::min<std::uint64_t>(held->second, data.size());
    if (!inner_->WriteAll(h, data.first(static_cast<std::size_t>(covered)), err)) return false;
    held->second -= covered;
    data = data.subspan(static_cast<std::size_t>(covered));
    if (data.empty()) return true;
  }
  if (faults_.diskFullAfter) {
    const std::uint64_t room = *faults_.diskFullAfter > written_ ? *faults_.diskFullAfter - written_ : 0;
    if (data.size() > room) {
      // What fits is written, as on a disk that fills up mid-write.
      const auto part = data.first(static_cast<std::size_t>(room));
      FileError ignored = FileError::None;
      if (!part.empty() && inner_->WriteAll(h, part, &ignored)) written_ += part.size();
      if (err != nullptr) *err = FileError::NoSpace;
      return false;
    }
  }
  if (!inner_->WriteAll(h, data, err)) return false;
  written_ += data.size();
  return true;
}

bool FaultyFileSystem::SyncAndClose(FileHandle h, FileError* err) {
  GiveBackReservation(h);
  const bool ok = inner_->SyncAndClose(h, err);
  if (ok && faults_.syncFails) {
    if (err != nullptr) *err = FileError::Io;
    return false;
  }
  return ok;
}

bool FaultyFileSystem::Remove(std::string_view name) { return inner_->Remove(name); }

bool FaultyFileSystem::Exists(std::string_view name) { return inner_->Exists(name); }

bool FaultyFileSystem::RenameNoReplace(std::string_view from, std::string_view to, FileError* err) {
  if (faults_.renameTargetsTaken > 0) {
    --faults_.renameTargetsTaken;
    static constexpr std::uint8_t kOtherContent[] = {'o', 't', 'h', 'e', 'r'};
    FileError ignored = FileError::None;
    const FileHandle h = inner_->CreateExclusive(to, &ignored);
    if (h != kNoFile) {
      inner_->WriteAll(h, kOtherContent, &ignored);
      inner_->SyncAndClose(h, &ignored);
    }
  }
  return inner_->RenameNoReplace(from, to, err);
}

bool FaultyFileSystem::Reserve(FileHandle h, std::uint64_t bytes, FileError* err) {
  if (faults_.diskFullAfter && written_ + bytes > *faults_.diskFullAfter) {
    if (err != nullptr) *err = FileError::NoSpace;
    return false;
  }
  if (!inner_->Reserve(h, bytes, err)) return false;
  GiveBackReservation(h);
  written_ += bytes;
  reserved_[h] = bytes;
  return true;
}

bool FaultyFileSystem::SyncDirectory(FileError* err) {
  if (faults_.directorySyncFails) {
    if (err != nullptr) *err = FileError::Io;
    return false;
  }
  return inner_->SyncDirectory(err);
}

std::vector<std::string> FaultyFileSystem::ListRegularFiles(std::string_view pattern) {
  return inner_->ListRegularFiles(pattern);
}

}  // namespace orvel::sim
