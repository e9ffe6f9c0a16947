// Standard streams on Windows: consoles are told that the program writes UTF-8.

#include "platform/win32/windows_shim.h"

#include <cstdio>
#include <io.h>

#include "platform/platform.h"

namespace orvel {

bool IsTerminal(StandardStream stream) {
  FILE* file = stream == StandardStream::Input ? stdin : stream == StandardStream::Output ? stdout : stderr;
  return ::_isatty(::_fileno(file)) != 0;
}

void PrepareConsoleOutput() {
  // Only a console has a code page; a pipe or file takes the bytes as they are.
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace orvel
