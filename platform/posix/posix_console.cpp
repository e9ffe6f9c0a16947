// Standard streams on a POSIX system: terminals speak UTF-8 already.

#include <unistd.h>

#include "platform/platform.h"

namespace orvel {

bool IsTerminal(StandardStream stream) {
  const int fd = stream == StandardStream::Input    ? STDIN_FILENO
                 : stream == StandardStream::Output ? STDOUT_FILENO
                                                    : STDERR_FILENO;
  return ::isatty(fd) == 1;
}

void PrepareConsoleOutput() {}

}  // namespace orvel
