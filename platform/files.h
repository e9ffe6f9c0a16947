#pragma once
// The working directory as the program sees it: the few file operations that
// source loading, identification and the backup need, behind one interface so
// that a test or the simulator can make a disk fill up or a read come back short.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

enum class FileError {
  None,
  NotFound,      // no such file
  AccessDenied,  // exists, but may not be opened
  NotRegular,    // a directory or a device
  Exists,        // exclusive creation found a name already there (or a link)
  NoSpace,       // the disk is full
  Io,            // any other input/output failure
  ReadOnly,      // the file system (or the disk) takes no writes
};

// One line of text for the operator, in English ("file not found",
// "permission denied", "disk full", "read-only file system", ...).
const char* FileErrorText(FileError e);
// The same in a language of the program's texts (0 English, 1 Japanese).
const char* FileErrorText(FileError e, int language);

using FileHandle = int;  // -1 = none
inline constexpr FileHandle kNoFile = -1;

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens `name`, relative to the working directory, for reading.
  // Returns a handle, or kNoFile with the reason in *err.
  virtual FileHandle OpenRead(std::string_view name, FileError* err) = 0;
  // Length in bytes of an open file, or -1 when its status cannot be read.
  virtual std::int64_t Length(FileHandle h) = 0;
  // Reads up to out.size() bytes at `offset`; returns the bytes read (0 at or
  // past the end), or -1 on an input/output error.
  virtual std::int64_t ReadAt(FileHandle h, std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  virtual void Close(FileHandle h) = 0;

  // Creates `name` for writing only if no file, directory or link of that name
  // exists; never follows a symbolic link. kNoFile with *err on failure.
  virtual FileHandle CreateExclusive(std::string_view name, FileError* err) = 0;
  // Writes all of `data` after the bytes written before through `h` (from the
  // file's start at first); false with *err if any byte is not written.
  virtual bool WriteAll(FileHandle h, std::span<const std::uint8_t> data, FileError* err) = 0;
  // Flushes the written bytes to the disk and closes the handle (always closed
  // afterwards); the file then ends after the last byte written (room reserved
  // beyond it is given back). false with *err if any step failed.
  virtual bool SyncAndClose(FileHandle h, FileError* err) = 0;
  // Removes `name`; false when it could not be removed.
  virtual bool Remove(std::string_view name) = 0;
  // Whether any directory entry called `name` exists, whatever it is (file,
  // directory, link, dangling link, FIFO, device); learnt without opening it or
  // following a link. A name counts as free only when the system says that no
  // such entry exists: one it cannot look up (no search permission) is taken.
  virtual bool Exists(std::string_view name) = 0;
  // Gives the file `from` the name `to` as well and removes `from`, never
  // replacing an entry called `to` (*err Exists then). false with *err on failure.
  virtual bool RenameNoReplace(std::string_view from, std::string_view to, FileError* err) = 0;

  // Names (no path) of the regular files of the working directory whose name
  // matches `pattern` ("*.kvf"; '*' and '?' wildcards) without regard to case.
  // Order is unspecified.
  virtual std::vector<std::string> ListRegularFiles(std::string_view pattern) = 0;

  // Allocates disk room for `bytes` bytes to a file opened by CreateExclusive
  // and not yet written, so that writing that much cannot run out of room
  // later. false with *err (NoSpace when the disk has no such room).
  virtual bool Reserve(FileHandle h, std::uint64_t bytes, FileError* err) = 0;
  // Flushes the working directory's entries (a rename just made) to the disk.
  // Where the system offers no such flush, true without doing anything.
  virtual bool SyncDirectory(FileError* err) = 0;
};


// The file system of the system the program is built for (the build picks the
// backend: platform/posix or platform/win32), rooted at a working directory.
std::unique_ptr<FileSystem> MakeNativeFileSystem(std::string workingDirectory = ".");

// What a path names on that system (a link counts as what it points to).
enum class PathKind { Missing, Directory, Other };
PathKind NativePathKind(const std::string& path);
// Creates the directory `path` and its missing parents; true when `path` is a
// directory afterwards.
bool CreateNativeDirectories(const std::string& path);
// `name` taken relative to `directory`, unless it is an absolute path already.
std::string JoinNativePath(const std::string& directory, const std::string& name);

// A lock on a directory held by this process until the object is destroyed
// (POSIX: flock on DIRECTORY/lock; Windows: LockFileEx on the same file). The
// lock file is created when missing and never followed when it is a link.
class DirectoryLock {
 public:
  virtual ~DirectoryLock() = default;
};
enum class LockResult { Locked, Busy, Failed };
// Takes the lock without waiting: Busy when another holder has it, Failed
// (*err says why) when the lock file cannot be made or opened.
std::unique_ptr<DirectoryLock> LockNativeDirectory(const std::string& directory, LockResult* result, FileError* err);
// Gives the file `from` of `directory` the name `to`, replacing an entry
// called `to` (a link is replaced, never followed) in one step.
bool ReplaceNativeFile(const std::string& directory, const std::string& from, const std::string& to, FileError* err);

// Case-insensitive wildcard match of a bare file name ('*' and '?').
bool MatchesPattern(std::string_view name, std::string_view pattern);

}  // namespace orvel
