// File-system calls on Linux. Windows attributes map onto permission bits: read-only clears the
// write bits; the other attribute bits have no equivalent.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <memory>
#include <vector>

#include "common/ascii.h"
#include "file_time.h"
#include "os_files.h"

namespace veltran::os {
namespace {

int Fd(const File& file) { return static_cast<int>(file.get()); }

// Times before 1970 become 1970.
timespec FileTimeToTimespec(std::uint64_t fileTime) {
  timespec ts{};
  if (fileTime < kUnixEpochFileTime) return ts;
  const std::uint64_t since = fileTime - kUnixEpochFileTime;
  ts.tv_sec = static_cast<time_t>(since / kFileTimeUnitsPerSecond);
  ts.tv_nsec = static_cast<long>((since % kFileTimeUnitsPerSecond) * 100ULL);
  return ts;
}

}  // namespace

void FileTraits::Close(std::intptr_t native) { ::close(static_cast<int>(native)); }

char PathSeparator() { return '/'; }

File OpenForReading(const std::string& path) {
  return File(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

File DuplicateDiskFile(std::intptr_t native) {
  if (native < 0 || native > INT_MAX) return File();
  struct stat st {};
  if (::fstat(static_cast<int>(native), &st) != 0 || !S_ISREG(st.st_mode)) return File();
  return File(::fcntl(static_cast<int>(native), F_DUPFD_CLOEXEC, 0));
}

bool FileSize(const File& file, std::uint64_t* size) {
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0 || st.st_size < 0) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool ReadAt(const File& file, std::uint64_t offset, void* buffer, std::size_t size,
            std::size_t* got) {
  std::size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < size) {
    const ssize_t n = ::pread(Fd(file), out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  *got = done;
  return true;
}

File CreateNewFile(const std::string& path) {
  return File(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

bool WriteAll(const File& file, const void* data, std::size_t size) {
  const auto* in = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(Fd(file), in, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    in += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool IsDiskFile(const File& file) {
  struct stat st {};
  return ::fstat(Fd(file), &st) == 0 && S_ISREG(st.st_mode);
}

bool SetFileTimes(const File& file, std::uint64_t /*creation*/, std::uint64_t access,
                  std::uint64_t modification) {
  const timespec times[2] = {FileTimeToTimespec(access), FileTimeToTimespec(modification)};
  return ::futimens(Fd(file), times) == 0;
}

bool SetAttributes(const File& file, std::uint32_t attributes) {
  return ::fchmod(Fd(file), (attributes & 0x01) ? 0444 : 0644) == 0;
}

bool ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool CreateDirectoryLevel(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentDirectory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

bool ChangeDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

std::uint64_t RandomNumber() {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, 0) == sizeof value) return value;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^ static_cast<std::uint64_t>(::getpid());
}

Directory OpenDirectory(const std::string& path) {
  return Directory{File(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), path};
}

namespace {

bool IsTrustedLevel(const File& level) {
  struct stat st {};
  return level && ::fstat(Fd(level), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0 &&
         (st.st_mode & 022) == 0;
}

}  // namespace

// Walked one folder at a time through handles, each opened without following a link and checked
// before the next is opened below it: no name on the way is looked up twice.
Directory OpenTrustedDirectory(const std::string& path) {
  if (path.empty() || path.front() != '/') return Directory();
  File level(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (std::size_t from = 0; IsTrustedLevel(level);) {
    from = path.find_first_not_of('/', from);
    if (from == std::string::npos) return Directory{std::move(level), path};
    const std::size_t end = std::min(path.find('/', from), path.size());
    const std::string name = path.substr(from, end - from);
    level =
        File(::openat(Fd(level), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    from = end;
  }
  return Directory();
}

bool EnterDirectory(const Directory& directory) {
  return directory.valid() && ::fchdir(Fd(directory.handle)) == 0;
}

namespace {

std::string FreshName(const char* prefix, NameSource& names) {
  std::string name = prefix;
  const std::uint64_t value = names.NextName();
  for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789abcdef"[(value >> shift) & 15];
  return name;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  return directory + (directory.empty() || directory.back() != '/' ? "/" : "") + name;
}

File Duplicate(const File& file) { return File(::fcntl(Fd(file), F_DUPFD_CLOEXEC, 0)); }

constexpr int kNameAttempts = 16;

mode_t ModeOf(const FileStamp& stamp) {
  const mode_t mode = stamp.executable ? 0755 : 0644;
  return (stamp.attributes & 0x01) ? (mode & ~mode_t{0222}) : mode;
}

}  // namespace

void StagingFolder::Remove() {
  if (!folder_) return;
  folder_ = File();
  // Empty: staged files are unlinked as soon as they are created.
  ::unlinkat(Fd(parent_), name_.c_str(), AT_REMOVEDIR);
  parent_ = File();
}

// mkdirat never follows a link planted under the name; the folder is then opened without
// following one and checked to be the owner-only folder just made.
StagingFolder StagingFolder::Create(const Directory& parent, NameSource& names) {
  StagingFolder staging;
  if (!parent.valid()) return staging;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = FreshName(".unfurler-", names);
    if (::mkdirat(Fd(parent.handle), name.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return staging;
    }
    File folder(
        ::openat(Fd(parent.handle), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!folder || ::fstat(Fd(folder), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
      return staging;
    }
    staging.parent_ = Duplicate(parent.handle);
    if (!staging.parent_) return staging;
    staging.folder_ = std::move(folder);
    staging.name_ = name;
    staging.path_ = JoinPath(parent.path, name);
    return staging;
  }
  return staging;
}

File StagingFolder::NewFile(std::string_view name) {
  if (!valid()) return File();
  const std::string item(name);
  File file(::openat(Fd(folder_), item.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     0600));
  if (file && ::unlinkat(Fd(folder_), item.c_str(), 0) != 0) return File();
  return file;
}

void PendingFile::Remove() {
  if (valid()) ::unlinkat(Fd(directory_), name_.c_str(), 0);
  name_.clear();
}

PendingFile PendingFile::Write(const File& source, const Directory& directory,
                               const FileStamp& stamp, NameSource& names) {
  PendingFile pending;
  if (!directory.valid()) return pending;
  for (int attempt = 0; attempt < kNameAttempts && !pending.valid(); ++attempt) {
    const std::string name = FreshName(".unfurler-", names) + ".part";
    File target(::openat(Fd(directory.handle), name.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!target) {
      if (errno == EEXIST) continue;
      return pending;
    }
    pending.directory_ = Duplicate(directory.handle);
    pending.directoryPath_ = directory.path;
    pending.name_ = name;
    pending.stamp_ = stamp;
    const timespec times[2] = {FileTimeToTimespec(stamp.access),
                               FileTimeToTimespec(stamp.modification)};
    // An explicit mode: nothing of what the archive claims (set-id bits) reaches the file.
    if (!pending.directory_ || !CopyContent(source, target) ||
        ::fchmod(Fd(target), ModeOf(stamp)) != 0 || ::futimens(Fd(target), times) != 0 ||
        ::fsync(Fd(target)) != 0) {
      return PendingFile();  // `pending` removes the partial file
    }
  }
  return pending;
}

bool PendingFile::MoveTo(std::string_view target) {
  const std::string to(target);
  if (!valid() || ::renameat(Fd(directory_), name_.c_str(), Fd(directory_), to.c_str()) != 0) {
    return false;
  }
  name_.clear();
  return true;
}

bool MakeReplaceable(const Directory&, std::string_view) { return true; }

namespace {

// The entries of a folder opened relative to `parent`, never through a link at `name`.
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Listing = std::unique_ptr<DIR, DirCloser>;

Listing OpenListing(int parent, const char* name) {
  const int handle = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* dir = handle < 0 ? nullptr : ::fdopendir(handle);
  if (!dir && handle >= 0) ::close(handle);
  return Listing(dir);
}

}  // namespace

bool RemoveNameVariants(const Directory& directory, std::string_view name, bool keepExact) {
  if (!directory.valid()) return false;
  const Listing listing = OpenListing(Fd(directory.handle), ".");
  if (!listing) return false;
  DIR* dir = listing.get();
  bool removedAll = true;
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view found(item->d_name);
    if (!SameLettersIgnoringCase(found, name) || (keepExact && found == name)) continue;
    if (::unlinkat(::dirfd(dir), item->d_name, 0) != 0 && errno != ENOENT) removedAll = false;
  }
  return removedAll;
}

namespace {

// ".unfurler-" and 16 hex digits, and ".part" for a temporary file.
bool IsLeftoverName(std::string_view name, bool* folder) {
  constexpr std::string_view prefix = ".unfurler-", part = ".part";
  if (name.substr(0, prefix.size()) != prefix || name.size() < prefix.size() + 16) return false;
  const std::string_view rest = name.substr(prefix.size() + 16);
  *folder = rest.empty();
  return (rest.empty() || rest == part) &&
         name.substr(prefix.size(), 16).find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A staging folder holds at most a file created just before the run was killed.
bool EmptyFolder(int parent, const char* name) {
  const Listing listing = OpenListing(parent, name);
  if (!listing) return false;
  DIR* dir = listing.get();
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view found(item->d_name);
    if (found != "." && found != "..") ::unlinkat(::dirfd(dir), item->d_name, 0);
  }
  return true;
}

}  // namespace

bool RemoveLeftovers(const Directory& directory) {
  if (!directory.valid()) return false;
  const Listing listing = OpenListing(Fd(directory.handle), ".");
  if (!listing) return false;
  DIR* dir = listing.get();
  bool removedAll = true;
  while (const dirent* item = ::readdir(dir)) {
    bool folder = false;
    struct stat st {};
    if (!IsLeftoverName(item->d_name, &folder) ||
        ::fstatat(::dirfd(dir), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        st.st_uid != ::geteuid() || !(folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode))) {
      continue;
    }
    if (folder && !EmptyFolder(::dirfd(dir), item->d_name)) removedAll = false;
    if (::unlinkat(::dirfd(dir), item->d_name, folder ? AT_REMOVEDIR : 0) != 0) removedAll = false;
  }
  return removedAll;
}

}  // namespace veltran::os
