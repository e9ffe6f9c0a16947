#pragma once
// A fresh, empty directory for one test, made with the standard library only
// (the suites also run as Windows programs, where there is no mkdtemp).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <system_error>

namespace orvel::testing {

// Creates `<base>/<stem>-<random hex>`; returns its path, or an empty string
// when no new directory could be made.
inline std::string MakeScratchDir(const std::string& stem,
                                  const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
  constexpr int kAttempts = 100;
  static std::atomic<std::uint64_t> serial{0};
  std::random_device device;
  const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937_64 random(device() ^ now ^ (serial++ << 32));
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    char suffix[17] = {};
    constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = random();
    for (char& c : std::span(suffix, 16)) {
      c = kHex[bits & 0xF];
      bits >>= 4;
    }
    const std::filesystem::path dir = base / (stem + "-" + suffix);
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) return dir.string();
  }
  return {};
}

}  // namespace orvel::testing
