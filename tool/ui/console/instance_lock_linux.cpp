#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

#include "instance_lock.h"

namespace veltran {
namespace {

constexpr const char* kRootLockFolder = "/run/veltran";

std::string Failure(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// A folder, not a link to one, owned by `uid` and writable by no one else.
bool OwnedPrivateFolder(const std::string& path, uid_t uid, mode_t forbidden,
                        std::string& problem) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    problem = Failure(path, errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & forbidden) != 0) {
    problem = path + " is not a folder of this user that only this user may write";
    return false;
  }
  return true;
}

std::optional<std::string> MadePrivateFolder(const std::string& path, uid_t uid,
                                             std::string& problem) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = Failure(path, errno);
    return std::nullopt;
  }
  if (!OwnedPrivateFolder(path, uid, S_IWGRP | S_IWOTH, problem)) return std::nullopt;
  return path;
}

}  // namespace

std::optional<std::string> PrivateLockFolder(std::string& problem) {
  const uid_t uid = ::geteuid();
  if (uid == 0) {
    if (auto folder = MadePrivateFolder(kRootLockFolder, uid, problem)) return folder;
  } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
             runtime != nullptr && runtime[0] == '/') {
    // The session's runtime folder counts only as the system makes it: ours and 0700.
    std::string ignored;
    if (OwnedPrivateFolder(runtime, uid, S_IRWXG | S_IRWXO, ignored)) return std::string(runtime);
  }
  std::error_code error;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error) {
    problem = "no temporary folder: " + error.message();
    return std::nullopt;
  }
  return MadePrivateFolder((temp / ("veltran-" + std::to_string(uid))).string(), uid, problem);
}

std::optional<InstanceLock> InstanceLock::Acquire(const std::string& scope, std::string& problem) {
  const std::optional<std::string> folder = PrivateLockFolder(problem);
  if (!folder) return InstanceLock(FileDescriptor());
  const std::string path =
      *folder + "/veltran-" + std::to_string(std::hash<std::string>{}(scope)) + ".lock";
  FileDescriptor fd(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd) {
    problem = Failure(path, errno);
    return InstanceLock(FileDescriptor());
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0600) != 0)) {
    problem = path + " is not a lock file of this user";
    return InstanceLock(FileDescriptor());
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  return InstanceLock(std::move(fd));
}

}  // namespace veltran
