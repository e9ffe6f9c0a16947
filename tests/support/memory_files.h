#pragma once
// A working directory in memory, with the faults a disk can show.

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"

namespace orvel::testing {

class MemoryFileSystem : public FileSystem {
 public:
  std::map<std::string, std::vector<std::uint8_t>> files;
  bool failLength = false;
  std::size_t readShortBy = 0;  // each read delivers this many bytes fewer
  int reads = 0;
  int openHandles = 0;

  FileHandle OpenRead(std::string_view name, FileError* err) override {
    auto it = files.find(std::string(name));
    if (it == files.end()) {
      *err = FileError::NotFound;
      return kNoFile;
    }
    open_[next_] = it->first;
    ++openHandles;
    return next_++;
  }
  std::int64_t Length(FileHandle h) override {
    if (failLength || !open_.count(h)) return -1;
    return static_cast<std::int64_t>(files[open_[h]].size());
  }
  std::int64_t ReadAt(FileHandle h, std::uint64_t offset, std::span<std::uint8_t> out) override {
    ++reads;
    if (!open_.count(h)) return -1;
    const auto& data = files[open_[h]];
    if (offset >= data.size()) return 0;
    std::size_t n = std::min<std::size_t>(out.size(), data.size() - offset);
    n = n > readShortBy ? n - readShortBy : 0;
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
    return static_cast<std::int64_t>(n);
  }
  void Close(FileHandle h) override {
    if (open_.erase(h) != 0) --openHandles;
  }
  FileHandle CreateExclusive(std::string_view, FileError* err) override {
    *err = FileError::AccessDenied;
    return kNoFile;
  }
  bool WriteAll(FileHandle, std::span<const std::uint8_t>, FileError* err) override {
    *err = FileError::Io;
    return false;
  }
  bool SyncAndClose(FileHandle, FileError* err) override {
    *err = FileError::Io;
    return false;
  }
  bool Remove(std::string_view name) override { return files.erase(std::string(name)) != 0; }
  bool Exists(std::string_view name) override { return files.count(std::string(name)) != 0; }
  bool RenameNoReplace(std::string_view, std::string_view, FileError* err) override {
    *err = FileError::AccessDenied;
    return false;
  }
  bool Reserve(FileHandle, std::uint64_t, FileError* err) override {
    *err = FileError::Io;
    return false;
  }
  bool SyncDirectory(FileError*) override { return true; }
  std::vector<std::string> ListRegularFiles(std::string_view pattern) override {
    std::vector<std::string> names;
    for (const auto& [name, data] : files) {
      if (MatchesPattern(name, pattern)) names.push_back(name);
    }
    return names;
  }

 private:
  std::map<FileHandle, std::string> open_;
  FileHandle next_ = 3;
};

}  // namespace orvel::testing
