#pragma once
// A scratch directory, removed with everything in it when the object goes.

#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/scratch_dir.h"

namespace orvel::testing {

class TempDir {
 public:
  TempDir() : path_(MakeScratchDir("orvel-test")) {}
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace orvel::testing
