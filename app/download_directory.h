#pragma once
// Where a launch from a Linux desktop's menu works (the desktop entry runs
// `orvel --downloads`). Linux only: it reads the XDG user-dirs file with the
// C++ library's file streams, which the Windows programs must not link.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvel {

// An environment variable, or nothing.
using EnvLookup = std::function<std::optional<std::string>(std::string_view)>;

// The folder a launch from the desktop's menu works in. A browser saves a
// downloaded firmware file into the download folder that the user-dirs file
// names (XDG_DOWNLOAD_DIR, translated on a Japanese desktop), so that is where
// the file list looks; the home folder when none is named or it does not
// exist, "." without a home.
std::string DownloadDirectory(const EnvLookup& getEnv);

}  // namespace orvel
