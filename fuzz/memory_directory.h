#pragma once
// A working directory in memory that takes writes as well: new files by
// exclusive creation, appended to, and renamed without replacing.

#include <cstdint>
#include <map>
#include <string>

#include "tests/support/memory_files.h"

namespace orvel::fuzz {

class MemoryDirectory final : public testing::MemoryFileSystem {
 public:
  FileHandle CreateExclusive(std::string_view name, FileError* err) override {
    const std::string key(name);
    if (files.count(key) != 0) {
      *err = FileError::Exists;
      return kNoFile;
    }
    files[key].clear();
    writing_[next_] = key;
    return next_++;
  }
  bool WriteAll(FileHandle h, std::span<const std::uint8_t> data, FileError* err) override {
    const auto it = writing_.find(h);
    if (it == writing_.end()) {
      *err = FileError::Io;
      return false;
    }
    auto& bytes = files[it->second];
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
  }
  bool SyncAndClose(FileHandle h, FileError* err) override {
    if (writing_.erase(h) != 0) return true;
    *err = FileError::Io;
    return false;
  }
  bool RenameNoReplace(std::string_view from, std::string_view to, FileError* err) override {
    const auto source = files.find(std::string(from));
    if (source == files.end()) {
      *err = FileError::NotFound;
      return false;
    }
    if (files.count(std::string(to)) != 0) {
      *err = FileError::Exists;
      return false;
    }
    auto bytes = std::move(source->second);
    files.erase(source);
    files[std::string(to)] = std::move(bytes);
    return true;
  }
  // Files still open for writing.
  std::size_t Writing() const { return writing_.size(); }

 private:
  static constexpr FileHandle kFirstWriteHandle = 1000;  // apart from the reading handles
  std::map<FileHandle, std::string> writing_;
  FileHandle next_ = kFirstWriteHandle;
};

}  // namespace orvel::fuzz
