// The standard streams of a POSIX process.

#include <unistd.h>

#include "platform/platform.h"

namespace orvel {

bool IsTerminal(StandardStream stream) {
  return ::isatty(stream == StandardStream::Input ? STDIN_FILENO : STDOUT_FILENO) == 1;
}

}  // namespace orvel
