// The working directory through the Win32 file calls, which every Windows
// from 95 and NT 4 on has. The directory's full path is fixed when the file
// system is made, so a later change of the process's current directory does
// not move it. The contract is the POSIX backend's: a name is taken when any
// entry of that name exists (links not followed), files are created only new,
// room is reserved before a backup is written, and a rename never replaces.

#include "platform/win32/windows_shim.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/win32_platform.h"

namespace orvel {
namespace {

constexpr char kSeparator = '\\';
constexpr std::string_view kAllEntries = "*";
constexpr DWORD kMaxChunk = 1u << 20;  // bytes per ReadFile/WriteFile call
constexpr std::uint64_t kLowDwordBits = 32;

FileError ErrorFromWin32(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE:
      return FileError::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FileError::AccessDenied;
    case ERROR_WRITE_PROTECT:
      return FileError::ReadOnly;
    case ERROR_DIRECTORY:
      return FileError::NotRegular;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileError::Exists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileError::NoSpace;
    default:
      return FileError::Io;
  }
}

void SetError(FileError* err, FileError value) {
  if (err != nullptr) *err = value;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && IsSeparator(path.front())) || (path.size() >= 2 && path[1] == ':');
}

// The NT family knows reparse points; Windows 95/98/Me would not take the flag.
bool IsNtFamily() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  return ::GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Free bytes for this user on the volume that holds `directory`, or -1 when the
// system cannot tell. GetDiskFreeSpaceExA (Windows 95 OSR2 and NT 4 on) is
// looked up at run time; before it, GetDiskFreeSpaceA, which takes the root of
// a drive and counts at most 2 GiB, which is plenty here.
std::int64_t FreeBytesFor(const std::string& directory) {
  using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const FARPROC entry = kernel != nullptr ? ::GetProcAddress(kernel, "GetDiskFreeSpaceExA") : nullptr;
  if (entry != nullptr) {
    const auto freeSpaceEx = reinterpret_cast<FreeSpaceEx>(reinterpret_cast<void (*)()>(entry));
    std::string path = directory;
    if (!path.empty() && !IsSeparator(path.back())) path += kSeparator;
    ULARGE_INTEGER available{};
    if (freeSpaceEx(path.c_str(), &available, nullptr, nullptr)) {
      return static_cast<std::int64_t>(available.QuadPart);
    }
  }
  if (directory.size() < 2 || directory[1] != ':') return -1;  // a share: nothing older to ask
  const std::string root = directory.substr(0, 2) + kSeparator;
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  if (!::GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
    return -1;
  }
  return static_cast<std::int64_t>(std::uint64_t{sectorsPerCluster} * bytesPerSector * freeClusters);
}

std::string FullPath(const std::string& directory) {
  std::array<char, MAX_PATH> full{};
  const DWORD length = ::GetFullPathNameA(directory.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return directory;
  return std::string(full.data(), length);
}

class Win32FileSystem final : public FileSystem {
 public:
  explicit Win32FileSystem(const std::string& workingDirectory)
      : directory_(FullPath(workingDirectory.empty() ? std::string(".") : workingDirectory)),
        createFlags_(FILE_ATTRIBUTE_NORMAL | (IsNtFamily() ? FILE_FLAG_OPEN_REPARSE_POINT : 0)) {}

  ~Win32FileSystem() override {
    for (HANDLE h : open_) {
      if (h != nullptr) ::CloseHandle(h);
    }
  }

  Win32FileSystem(const Win32FileSystem&) = delete;
  Win32FileSystem& operator=(const Win32FileSystem&) = delete;

  FileHandle OpenRead(std::string_view name, FileError* err) override {
    if (name.empty()) {
      SetError(err, FileError::NotFound);
      return kNoFile;
    }
    const std::string path = PathOf(name);
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      SetError(err, ErrorFromWin32(::GetLastError()));
      return kNoFile;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      SetError(err, FileError::NotRegular);
      return kNoFile;
    }
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      SetError(err, ErrorFromWin32(::GetLastError()));
      return kNoFile;
    }
    // A name such as CON or COM1 opens a device, whatever the directory holds.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      SetError(err, FileError::NotRegular);
      return kNoFile;
    }
    SetError(err, FileError::None);
    return Keep(h);
  }

  std::int64_t Length(FileHandle fh) override {
    const HANDLE h = HandleOf(fh);
    if (h == nullptr) return -1;
    DWORD high = 0;
    const DWORD low = ::GetFileSize(h, &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return -1;
    return static_cast<std::int64_t>((std::uint64_t{high} << kLowDwordBits) | low);
  }

  std::int64_t ReadAt(FileHandle fh, std::uint64_t offset, std::span<std::uint8_t> out) override {
    const HANDLE h = HandleOf(fh);
    if (h == nullptr || !Seek(h, offset)) return -1;
    std::size_t done = 0;
    while (done < out.size()) {
      const auto want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, kMaxChunk));
      DWORD got = 0;
      if (!::ReadFile(h, out.data() + done, want, &got, nullptr)) return -1;
      if (got == 0) break;  // end of file
      done += got;
    }
    return static_cast<std::int64_t>(done);
  }

  void Close(FileHandle fh) override {
    const HANDLE h = Release(fh);
    if (h != nullptr) ::CloseHandle(h);
  }

  FileHandle CreateExclusive(std::string_view name, FileError* err) override {
    if (name.empty()) {
      SetError(err, FileError::NotFound);
      return kNoFile;
    }
    const std::string path = PathOf(name);
    // Any entry of that name counts, a link or junction to anywhere included
    // (GetFileAttributesA describes the link itself); CREATE_NEW with
    // FILE_FLAG_OPEN_REPARSE_POINT refuses it as well.
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      SetError(err, FileError::Exists);
      return kNoFile;
    }
    const FileError lookUp = ErrorFromWin32(::GetLastError());
    if (lookUp != FileError::NotFound) {
      SetError(err, lookUp);
      return kNoFile;
    }
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, createFlags_, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      SetError(err, ErrorFromWin32(::GetLastError()));
      return kNoFile;
    }
    SetError(err, FileError::None);
    return Keep(h);
  }

  bool WriteAll(FileHandle fh, std::span<const std::uint8_t> data, FileError* err) override {
    const HANDLE h = HandleOf(fh);
    if (h == nullptr) {
      SetError(err, FileError::Io);
      return false;
    }
    std::size_t done = 0;
    while (done < data.size()) {
      const auto want = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, kMaxChunk));
      DWORD put = 0;
      if (!::WriteFile(h, data.data() + done, want, &put, nullptr)) {
        SetError(err, ErrorFromWin32(::GetLastError()));
        return false;
      }
      if (put == 0) {  // no progress and no reason: call it a full disk
        SetError(err, FileError::NoSpace);
        return false;
      }
      done += put;
    }
    SetError(err, FileError::None);
    return true;
  }

  bool SyncAndClose(FileHandle fh, FileError* err) override {
    const HANDLE h = Release(fh);
    if (h == nullptr) {
      SetError(err, FileError::Io);
      return false;
    }
    FileError result = FileError::None;
    // Room reserved beyond the last byte written is given back.
    if (!::SetEndOfFile(h)) result = ErrorFromWin32(::GetLastError());
    if (!::FlushFileBuffers(h) && result == FileError::None) result = ErrorFromWin32(::GetLastError());
    // The handle is gone after CloseHandle even when it reports an error: never retry.
    if (!::CloseHandle(h) && result == FileError::None) result = ErrorFromWin32(::GetLastError());
    SetError(err, result);
    return result == FileError::None;
  }

  bool Remove(std::string_view name) override {
    return !name.empty() && ::DeleteFileA(PathOf(name).c_str()) != 0;
  }

  bool Exists(std::string_view name) override {
    if (name.empty()) return false;
    // GetFileAttributesA describes a link itself, not what it points to.
    if (::GetFileAttributesA(PathOf(name).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    // Only a name that is certainly free counts as free.
    return ErrorFromWin32(::GetLastError()) != FileError::NotFound;
  }

  bool RenameNoReplace(std::string_view from, std::string_view to, FileError* err) override {
    if (from.empty() || to.empty()) {
      SetError(err, FileError::NotFound);
      return false;
    }
    // MoveFileA never replaces an existing file.
    if (!::MoveFileA(PathOf(from).c_str(), PathOf(to).c_str())) {
      SetError(err, ErrorFromWin32(::GetLastError()));
      return false;
    }
    SetError(err, FileError::None);
    return true;
  }

  bool Reserve(FileHandle fh, std::uint64_t bytes, FileError* err) override {
    const HANDLE h = HandleOf(fh);
    if (h == nullptr) {
      SetError(err, FileError::Io);
      return false;
    }
    const std::int64_t room = FreeBytesFor(directory_);
    if (room >= 0 && static_cast<std::uint64_t>(room) < bytes) {
      SetError(err, FileError::NoSpace);
      return false;
    }
    // Setting the end allocates the clusters; writing then starts at the beginning again.
    if (!Seek(h, bytes) || !::SetEndOfFile(h)) {
      SetError(err, ErrorFromWin32(::GetLastError()));
      Seek(h, 0);
      return false;
    }
    if (!Seek(h, 0)) {
      SetError(err, ErrorFromWin32(::GetLastError()));
      return false;
    }
    SetError(err, FileError::None);
    return true;
  }

  // Not on Windows: this backend flushes files only, and the entry MoveFileA
  // made is written out by the system in its own time.
  bool SyncDirectory(FileError* err) override {
    SetError(err, FileError::None);
    return true;
  }

  std::vector<std::string> ListRegularFiles(std::string_view pattern) override {
    // Every entry, matched here: the system's own matching would also take a
    // long name whose short 8.3 alias fits ("a.kvfx" as A~1.KVF).
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA(PathOf(kAllEntries).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string_view entry(found.cFileName);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !MatchesPattern(entry, pattern)) continue;
      names.emplace_back(entry);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string PathOf(std::string_view name) const {
    const std::string n(name);
    if (IsAbsolute(n)) return n;
    std::string path = directory_;
    if (!path.empty() && !IsSeparator(path.back())) path += kSeparator;
    return path + n;
  }

  FileHandle Keep(HANDLE h) {
    const auto slot = std::find(open_.begin(), open_.end(), nullptr);
    if (slot != open_.end()) {
      *slot = h;
      return static_cast<FileHandle>(slot - open_.begin());
    }
    open_.push_back(h);
    return static_cast<FileHandle>(open_.size() - 1);
  }

  HANDLE HandleOf(FileHandle fh) const {
    if (fh < 0 || static_cast<std::size_t>(fh) >= open_.size()) return nullptr;
    return open_[static_cast<std::size_t>(fh)];
  }

  HANDLE Release(FileHandle fh) {
    const HANDLE h = HandleOf(fh);
    if (h != nullptr) open_[static_cast<std::size_t>(fh)] = nullptr;
    return h;
  }

  static bool Seek(HANDLE h, std::uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> kLowDwordBits);
    const DWORD low = ::SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || ::GetLastError() == NO_ERROR;
  }

  std::string directory_;
  DWORD createFlags_;
  std::vector<HANDLE> open_;  // only these are ever read, written or closed
};

}  // namespace

std::unique_ptr<FileSystem> MakeWin32FileSystem(std::string workingDirectory) {
  return std::make_unique<Win32FileSystem>(workingDirectory);
}

std::unique_ptr<FileSystem> MakeNativeFileSystem(std::string workingDirectory) {
  return MakeWin32FileSystem(std::move(workingDirectory));
}

PathKind NativePathKind(const std::string& path) {
  if (path.empty()) return PathKind::Missing;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::Other;
}

bool CreateNativeDirectories(const std::string& path) {
  if (path.empty()) return false;
  // Each prefix that ends before a separator, past a drive's root or a share's name.
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (!IsSeparator(path[i]) || path[i - 1] == ':' || IsSeparator(path[i - 1])) continue;
    const std::string prefix = path.substr(0, i);
    if (!::CreateDirectoryA(prefix.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS &&
        NativePathKind(prefix) != PathKind::Directory) {
      return false;
    }
  }
  ::CreateDirectoryA(path.c_str(), nullptr);
  return NativePathKind(path) == PathKind::Directory;
}

namespace {

constexpr const char* kLockFileName = "lock";

class Win32DirectoryLock final : public DirectoryLock {
 public:
  explicit Win32DirectoryLock(HANDLE h) : h_(h) {}
  ~Win32DirectoryLock() override { ::CloseHandle(h_); }
  Win32DirectoryLock(const Win32DirectoryLock&) = delete;
  Win32DirectoryLock& operator=(const Win32DirectoryLock&) = delete;

 private:
  HANDLE h_;
};

}  // namespace

std::unique_ptr<DirectoryLock> LockNativeDirectory(const std::string& directory, LockResult* result, FileError* err) {
  *result = LockResult::Failed;
  const std::string path = JoinNativePath(directory, kLockFileName);
  // Opened without sharing: a second holder's open fails with a sharing
  // violation, and the lock goes with the handle (also when the process dies).
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (IsNtFamily() ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    if (e == ERROR_SHARING_VIOLATION) {
      *result = LockResult::Busy;
      SetError(err, FileError::None);
    } else {
      SetError(err, ErrorFromWin32(e));
    }
    return nullptr;
  }
  *result = LockResult::Locked;
  SetError(err, FileError::None);
  return std::make_unique<Win32DirectoryLock>(h);
}

bool ReplaceNativeFile(const std::string& directory, const std::string& from, const std::string& to, FileError* err) {
  // Windows 95 has no replacing rename: the old entry goes first. Between the
  // two steps only `from` holds the content, under its own name.
  const std::string target = JoinNativePath(directory, to);
  if (!::DeleteFileA(target.c_str())) {
    const FileError e = ErrorFromWin32(::GetLastError());
    if (e != FileError::NotFound) {
      SetError(err, e);
      return false;
    }
  }
  if (!::MoveFileA(JoinNativePath(directory, from).c_str(), target.c_str())) {
    SetError(err, ErrorFromWin32(::GetLastError()));
    return false;
  }
  SetError(err, FileError::None);
  return true;
}

std::string JoinNativePath(const std::string& directory, const std::string& name) {
  if (IsAbsolute(name) || directory.empty()) return name;
  return IsSeparator(directory.back()) ? directory + name : directory + kSeparator + name;
}

}  // namespace orvel
