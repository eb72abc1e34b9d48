// File-system calls on Linux. Windows attributes map onto permission bits: read-only clears the
// write bits; the other attribute bits have no equivalent.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "os_files.h"

namespace veltran::os {
namespace {

int Fd(const File& file) { return static_cast<int>(file.native()); }

timespec FileTimeToTimespec(std::uint64_t fileTime) {
  constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;
  timespec ts{};
  if (fileTime < kUnixEpoch) return ts;
  const std::uint64_t since = fileTime - kUnixEpoch;
  ts.tv_sec = static_cast<time_t>(since / 10000000ULL);
  ts.tv_nsec = static_cast<long>((since % 10000000ULL) * 100ULL);
  return ts;
}

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    File old(release());
    native_ = other.release();
  }
  return *this;
}

File::~File() {
  if (valid()) ::close(static_cast<int>(native_));
}

std::intptr_t File::release() {
  const std::intptr_t native = native_;
  native_ = kInvalid;
  return native;
}

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

File CreateForWriting(const std::string& path) {
  return File(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
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

bool SetAttributes(const std::string& path, std::uint32_t attributes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & 0x01) {
    mode &= static_cast<mode_t>(~0222);
  } else {
    mode |= S_IWUSR;
  }
  return ::chmod(path.c_str(), mode) == 0;
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

}  // namespace veltran::os
