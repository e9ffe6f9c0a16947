// _fstat64 for every msvcrt.dll. libstdc++'s file buffers, which stand behind
// the standard streams, call it, and msvcrt.dll exports it only from Windows
// XP on: imported as it is, the program would not start on Windows 2000 or
// 98. This file defines the import's pointer itself (linked into each
// program, ahead of the C library), so the function is looked up at run time
// and answered from the Win32 file calls where msvcrt.dll lacks it. Only the
// type and size are filled in then, which is all the file buffers read.

#include "platform/win32/windows_shim.h"

#include <io.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>

namespace {

using Fstat64 = int(__cdecl*)(int, struct _stat64*);

constexpr unsigned kHighDwordShift = 32;

Fstat64 SystemFstat64() {
  const HMODULE crt = ::GetModuleHandleA("msvcrt.dll");
  return crt != nullptr ? reinterpret_cast<Fstat64>(reinterpret_cast<void (*)()>(::GetProcAddress(crt, "_fstat64")))
                        : nullptr;
}

int __cdecl FstatFromHandle(int fd, struct _stat64* out) {
  static const Fstat64 system = SystemFstat64();
  if (system != nullptr) return system(fd, out);
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE || out == nullptr) return -1;
  std::memset(out, 0, sizeof(*out));
  const DWORD type = ::GetFileType(handle);
  if (type == FILE_TYPE_DISK) {
    DWORD high = 0;
    const DWORD low = ::GetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return -1;
    out->st_mode = _S_IFREG;
    out->st_size = static_cast<__int64>((static_cast<std::uint64_t>(high) << kHighDwordShift) | low);
  } else {
    out->st_mode = type == FILE_TYPE_PIPE ? _S_IFIFO : _S_IFCHR;
  }
  return 0;
}

}  // namespace

// The pointer through which calls to the dllimport'ed _fstat64 go.
extern "C" Fstat64 orvelFstat64Import __asm__("__imp___fstat64");
Fstat64 orvelFstat64Import = FstatFromHandle;
