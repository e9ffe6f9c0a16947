#include "app/download_directory.h"

#include <filesystem>
#include <fstream>

namespace orvel {
namespace {

constexpr std::string_view kUserDirsFile = "user-dirs.dirs";
constexpr std::string_view kDownloadKey = "XDG_DOWNLOAD_DIR=";
constexpr std::string_view kHomeVariable = "$HOME";
constexpr const char* kCurrentDirectory = ".";

std::optional<std::string> NonEmpty(const EnvLookup& getEnv, std::string_view name) {
  std::optional<std::string> value = getEnv ? getEnv(name) : std::nullopt;
  if (value.has_value() && value->empty()) return std::nullopt;
  return value;
}

// The value of XDG_DOWNLOAD_DIR in a user-dirs file: "$HOME/name" or an
// absolute path, in double quotes. Empty when the file names none.
std::string DownloadEntry(std::istream& in, const std::string& home) {
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    if (!line.starts_with(kDownloadKey)) continue;
    std::string_view value = std::string_view(line).substr(kDownloadKey.size());
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.starts_with(kHomeVariable)) {
      found = home + std::string(value.substr(kHomeVariable.size()));
    } else if (value.starts_with('/')) {
      found = std::string(value);
    }
  }
  return found;
}

}  // namespace

std::string DownloadDirectory(const EnvLookup& getEnv) {
  namespace fs = std::filesystem;
  const std::optional<std::string> home = NonEmpty(getEnv, "HOME");
  if (!home.has_value()) return kCurrentDirectory;
  const std::optional<std::string> config = NonEmpty(getEnv, "XDG_CONFIG_HOME");
  const fs::path configDir = config.has_value() ? fs::path(*config) : fs::path(*home) / ".config";
  std::ifstream userDirs(configDir / kUserDirsFile);
  const std::string downloads = userDirs ? DownloadEntry(userDirs, *home) : std::string();
  std::error_code ec;
  if (!downloads.empty() && fs::is_directory(downloads, ec)) return downloads;
  return *home;
}

}  // namespace orvel
