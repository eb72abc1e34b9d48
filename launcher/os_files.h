// The file-system calls of the launcher and its archive reader; one implementation per OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/unique_handle.h"

namespace veltran::os {

// A native file: a HANDLE on Windows, a file descriptor on Linux, carried as an integer so that
// the archive reader and the launcher see no OS header.
struct FileTraits {
  using Handle = std::intptr_t;
  // INVALID_HANDLE_VALUE and a failed open(2) alike; on Windows a null handle from a failed call
  // is turned into this before it is wrapped.
  static constexpr Handle Empty() { return -1; }
  static void Close(Handle native);  // one per OS
};
// Closed when it goes out of scope.
using File = UniqueHandle<FileTraits>;

char PathSeparator();

File OpenForReading(const std::string& path);  // others may read it at the same time
File DuplicateDiskFile(std::intptr_t native);  // refused unless it is a regular disk file
bool FileSize(const File& file, std::uint64_t* size);
bool ReadAt(const File& file, std::uint64_t offset, void* buffer, std::size_t size,
            std::size_t* got);

// A file that did not exist before, created without sharing and never through a link: an
// existing name, a link included, makes it fail.
File CreateNewFile(const std::string& path);
bool WriteAll(const File& file, const void* data, std::size_t size);
// Copies the whole of `source`, from its start, to where `target` stands.
bool CopyContent(const File& source, const File& target);
bool IsDiskFile(const File& file);
bool SetFileTimes(const File& file, std::uint64_t creation, std::uint64_t access,
                  std::uint64_t modification);
// Windows attribute bits on an open file; on Linux read-only clears the write bits of 0644.
bool SetAttributes(const File& file, std::uint32_t attributes);
bool ClearReadOnly(const std::string& path);
bool RemoveFile(const std::string& path);
bool CreateDirectoryLevel(const std::string& path);
bool IsDirectory(const std::string& path);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);

// A directory opened once and held for the whole run, with the path it was opened by. On Linux
// every step inside it goes through the handle, so renaming the path away and putting another
// folder there changes nothing; on Windows the handle is held without delete sharing, so the
// directory can be neither renamed nor removed while the path is used.
struct Directory {
  File handle;
  std::string path;
  bool valid() const { return static_cast<bool>(handle); }
};
// Opens a directory as it is.
Directory OpenDirectory(const std::string& path);
// Opens a directory only the administrator can change, else returns an empty one. On Linux: an
// absolute path, no link on the way, and every folder from the root down owned by root and not
// writable by group or others (a sticky folder such as /tmp counts as writable).
Directory OpenTrustedDirectory(const std::string& path);
bool EnterDirectory(const Directory& directory);

// The random part of the names the launcher creates; tests supply predictable ones.
class NameSource {
 public:
  virtual ~NameSource() = default;
  virtual std::uint64_t NextName() = 0;
};
std::uint64_t RandomNumber();

// A folder under a fresh name that only the launcher's user may enter, kept open so it cannot be
// renamed or replaced while in use, and removed when it goes out of scope.
class StagingFolder {
 public:
  StagingFolder() = default;
  StagingFolder(StagingFolder&& other) noexcept = default;
  StagingFolder& operator=(StagingFolder&& other) noexcept;
  ~StagingFolder();
  static StagingFolder Create(const Directory& parent, NameSource& names);

  bool valid() const { return static_cast<bool>(folder_); }
  // A new file in the folder, read and written through the handle only; it is gone from the
  // folder by the time its handle closes.
  File NewFile(std::string_view name);

 private:
  void Remove();
  File folder_;
  File parent_;  // Linux: a duplicate of the parent's handle
  std::string name_, path_;
};

// How an installed file ends up: Windows attribute bits, times, and on Linux its mode
// (0755 or 0644, without the write bits when read-only).
struct FileStamp {
  std::uint32_t attributes = 0;
  bool executable = false;
  std::uint64_t creation = 0, access = 0, modification = 0;
};

// A copy of an open file written under a fresh temporary name in the directory it is meant for,
// so that putting it in place is one rename; removed unless it was moved.
class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  ~PendingFile();
  static PendingFile Write(const File& source, const Directory& directory, const FileStamp& stamp,
                           NameSource& names);

  bool valid() const { return !name_.empty(); }
  // Replaces `target` in the same directory atomically (a link there is replaced, never
  // followed).
  bool MoveTo(std::string_view target);

 private:
  void Remove();
  File directory_;  // Linux: a duplicate of the directory's handle
  std::string directoryPath_, name_;
  FileStamp stamp_;
};

// Windows refuses to replace a read-only file: clears that attribute of `target` if it exists
// there. Nothing to do on Linux, where a rename replaces any file.
bool MakeReplaceable(const Directory& directory, std::string_view target);

// Removes `name` from `directory` in every letter case the file system tells apart (Linux) or
// as the one name it is (Windows); `keepExact` spares that exact spelling. False when one stays.
bool RemoveNameVariants(const Directory& directory, std::string_view name, bool keepExact);

// Removes what a run that was killed left in `directory`: staging folders and temporary files
// under the launcher's own names, made by this user; links are never followed. False when one
// stays.
bool RemoveLeftovers(const Directory& directory);

}  // namespace veltran::os
