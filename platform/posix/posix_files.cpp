// The working directory on a POSIX system: the native file system of the
// POSIX backends (MakeNativeFileSystem). Every name is resolved against one
// directory descriptor, so a later chdir of the process cannot redirect it.
// That descriptor is a path descriptor: it opens whatever the directory's own
// permissions, so a directory the user may not search reports "permission
// denied" on every name rather than failing as a whole.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <set>
#include <string>

#include "platform/files.h"

namespace orvel {
namespace {

constexpr mode_t kCreateMode = 0644;
constexpr mode_t kDirectoryMode = 0755;

FileError ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return FileError::NotFound;
    case EACCES:
    case EPERM:
      return FileError::AccessDenied;
    case EROFS:
      return FileError::ReadOnly;
    case EISDIR:
      return FileError::NotRegular;
    case EEXIST:
    case ELOOP:  // O_NOFOLLOW met a symbolic link
      return FileError::Exists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileError::NoSpace;
    default:
      return FileError::Io;
  }
}

void SetError(FileError* err, FileError value) {
  if (err != nullptr) *err = value;
}

class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(const std::string& workingDirectory)
      : dirFd_(::open(workingDirectory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
        dirError_(dirFd_ < 0 ? ErrorFromErrno(errno) : FileError::None) {}

  ~PosixFileSystem() override {
    for (int fd : open_) ::close(fd);
    if (dirFd_ >= 0) ::close(dirFd_);
  }

  PosixFileSystem(const PosixFileSystem&) = delete;
  PosixFileSystem& operator=(const PosixFileSystem&) = delete;

  FileHandle OpenRead(std::string_view name, FileError* err) override {
    const std::string path(name);
    if (path.empty()) {
      SetError(err, FileError::NotFound);
      return kNoFile;
    }
    if (!DirectoryUsable(err)) return kNoFile;
    // O_NONBLOCK keeps a FIFO from stalling the open; it is refused below.
    const int fd = ::openat(dirFd_, path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      SetError(err, ErrorFromErrno(errno));
      return kNoFile;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const int e = errno;
      ::close(fd);
      SetError(err, ErrorFromErrno(e));
      return kNoFile;
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      SetError(err, FileError::NotRegular);
      return kNoFile;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    open_.insert(fd);
    SetError(err, FileError::None);
    return fd;
  }

  std::int64_t Length(FileHandle h) override {
    if (!IsOpen(h)) return -1;
    struct stat st {};
    if (::fstat(h, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
  }

  std::int64_t ReadAt(FileHandle h, std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (!IsOpen(h)) return -1;
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got =
          ::pread(h, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (got == 0) break;  // end of file
      done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
  }

  void Close(FileHandle h) override {
    if (open_.erase(h) != 0) ::close(h);
  }

  FileHandle CreateExclusive(std::string_view name, FileError* err) override {
    const std::string path(name);
    if (path.empty()) {
      SetError(err, FileError::NotFound);
      return kNoFile;
    }
    if (!DirectoryUsable(err)) return kNoFile;
    const int fd =
        ::openat(dirFd_, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kCreateMode);
    if (fd < 0) {
      SetError(err, ErrorFromErrno(errno));
      return kNoFile;
    }
    open_.insert(fd);
    SetError(err, FileError::None);
    return fd;
  }

  bool WriteAll(FileHandle h, std::span<const std::uint8_t> data, FileError* err) override {
    if (!IsOpen(h)) {
      SetError(err, FileError::Io);
      return false;
    }
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t put = ::write(h, data.data() + done, data.size() - done);
      if (put < 0) {
        if (errno == EINTR) continue;
        SetError(err, ErrorFromErrno(errno));
        return false;
      }
      if (put == 0) {  // no progress and no reason: call it a full disk
        SetError(err, FileError::NoSpace);
        return false;
      }
      done += static_cast<std::size_t>(put);
    }
    SetError(err, FileError::None);
    return true;
  }

  bool SyncAndClose(FileHandle h, FileError* err) override {
    if (open_.erase(h) == 0) {
      SetError(err, FileError::Io);
      return false;
    }
    FileError result = FileError::None;
    // Room reserved beyond the last byte written is given back.
    const off_t end = ::lseek(h, 0, SEEK_CUR);
    if (end < 0 || ::ftruncate(h, end) != 0) result = ErrorFromErrno(errno);
    if (::fsync(h) != 0 && result == FileError::None) result = ErrorFromErrno(errno);
    // The descriptor is gone after close() even when it reports an error: never retry.
    if (::close(h) != 0 && result == FileError::None) result = ErrorFromErrno(errno);
    SetError(err, result);
    return result == FileError::None;
  }

  bool Remove(std::string_view name) override {
    const std::string path(name);
    return !path.empty() && ::unlinkat(dirFd_, path.c_str(), 0) == 0;
  }

  bool Exists(std::string_view name) override {
    const std::string path(name);
    if (path.empty()) return false;
    // lstat of the entry itself: a link is never followed and nothing is opened,
    // so a FIFO or a device node under the name is never disturbed.
    struct stat st {};
    if (::fstatat(dirFd_, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    // Only a name that is certainly free counts as free.
    return errno != ENOENT;
  }

  bool RenameNoReplace(std::string_view from, std::string_view to, FileError* err) override {
    const std::string source(from);
    const std::string target(to);
    if (source.empty() || target.empty()) {
      SetError(err, FileError::NotFound);
      return false;
    }
    if (::renameat2(dirFd_, source.c_str(), dirFd_, target.c_str(), RENAME_NOREPLACE) == 0) {
      SetError(err, FileError::None);
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {  // the file system knows no RENAME_NOREPLACE
      SetError(err, ErrorFromErrno(errno));
      return false;
    }
    // A hard link fails on an existing name, as the rename would have.
    if (::linkat(dirFd_, source.c_str(), dirFd_, target.c_str(), 0) == 0) {
      ::unlinkat(dirFd_, source.c_str(), 0);
      SetError(err, FileError::None);
      return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) {
      SetError(err, ErrorFromErrno(errno));
      return false;
    }
    // No hard links either: a plain rename, safe while nothing else creates the name.
    struct stat st {};
    if (::fstatat(dirFd_, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
      SetError(err, FileError::Exists);
      return false;
    }
    if (::renameat(dirFd_, source.c_str(), dirFd_, target.c_str()) != 0) {
      SetError(err, ErrorFromErrno(errno));
      return false;
    }
    SetError(err, FileError::None);
    return true;
  }

  bool Reserve(FileHandle h, std::uint64_t bytes, FileError* err) override {
    if (!IsOpen(h)) {
      SetError(err, FileError::Io);
      return false;
    }
    // The blocks are allocated now (glibc writes zeros where the file system
    // cannot allocate otherwise); the write position stays at the start.
    const int rc = ::posix_fallocate(h, 0, static_cast<off_t>(bytes));
    if (rc != 0) {
      SetError(err, ErrorFromErrno(rc));
      return false;
    }
    SetError(err, FileError::None);
    return true;
  }

  bool SyncDirectory(FileError* err) override {
    if (!DirectoryUsable(err)) return false;
    // A path descriptor cannot be flushed: the directory itself is opened for that.
    const int fd = ::openat(dirFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      SetError(err, ErrorFromErrno(errno));
      return false;
    }
    FileError result = FileError::None;
    if (::fsync(fd) != 0) result = ErrorFromErrno(errno);
    ::close(fd);
    SetError(err, result);
    return result == FileError::None;
  }

  std::vector<std::string> ListRegularFiles(std::string_view pattern) override {
    std::vector<std::string> names;
    if (dirFd_ < 0) return names;
    const int listFd = ::openat(dirFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return names;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
      ::close(listFd);
      return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view entryName(entry->d_name);
      if (entryName == "." || entryName == ".." || !MatchesPattern(entryName, pattern)) continue;
      // Follows links: a link to a regular file is listed, one to a directory is not.
      struct stat st {};
      if (::fstatat(dirFd_, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      names.emplace_back(entryName);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  bool IsOpen(FileHandle h) const { return open_.count(h) != 0; }

  // A working directory that did not open reports why, not a bad descriptor.
  bool DirectoryUsable(FileError* err) const {
    if (dirFd_ >= 0) return true;
    SetError(err, dirError_);
    return false;
  }

  int dirFd_;
  FileError dirError_;
  std::set<int> open_;  // only these are ever closed or read
};

}  // namespace

std::unique_ptr<FileSystem> MakeFileSystemAt(std::string workingDirectory) {
  return std::make_unique<PosixFileSystem>(workingDirectory);
}

std::unique_ptr<FileSystem> MakeNativeFileSystem(std::string workingDirectory) {
  return MakeFileSystemAt(std::move(workingDirectory));
}

PathKind NativePathKind(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::Other;
}

bool CreateNativeDirectories(const std::string& path) {
  if (path.empty()) return false;
  // Each prefix that ends before a slash, then the whole path.
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), kDirectoryMode) != 0 && errno != EEXIST) return false;
  }
  ::mkdir(path.c_str(), kDirectoryMode);
  return NativePathKind(path) == PathKind::Directory;
}

namespace {

constexpr const char* kLockFileName = "lock";

class PosixDirectoryLock final : public DirectoryLock {
 public:
  explicit PosixDirectoryLock(int fd) : fd_(fd) {}
  ~PosixDirectoryLock() override { ::close(fd_); }  // closing lets the lock go
  PosixDirectoryLock(const PosixDirectoryLock&) = delete;
  PosixDirectoryLock& operator=(const PosixDirectoryLock&) = delete;

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<DirectoryLock> LockNativeDirectory(const std::string& directory, LockResult* result, FileError* err) {
  *result = LockResult::Failed;
  const std::string path = JoinNativePath(directory, kLockFileName);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kCreateMode);
  if (fd < 0) {
    SetError(err, ErrorFromErrno(errno));
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetError(err, FileError::NotRegular);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) {
      *result = LockResult::Busy;
      SetError(err, FileError::None);
    } else {
      SetError(err, ErrorFromErrno(e));
    }
    return nullptr;
  }
  *result = LockResult::Locked;
  SetError(err, FileError::None);
  return std::make_unique<PosixDirectoryLock>(fd);
}

bool ReplaceNativeFile(const std::string& directory, const std::string& from, const std::string& to, FileError* err) {
  if (::rename(JoinNativePath(directory, from).c_str(), JoinNativePath(directory, to).c_str()) != 0) {
    SetError(err, ErrorFromErrno(errno));
    return false;
  }
  SetError(err, FileError::None);
  return true;
}

std::string JoinNativePath(const std::string& directory, const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  if (directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + '/' + name;
}

}  // namespace orvel
