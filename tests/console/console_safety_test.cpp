// The console program against another user of the machine and against signals and odd files
// met during a run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "console_run.h"

namespace veltran {
namespace {

class ConsoleSafety : public Console {
 protected:
  std::string LockName() const {
    const std::string scope = "virtual:" + std::filesystem::canonical(folder_).string();
    return "veltran-" + std::to_string(std::hash<std::string>{}(scope)) + ".lock";
  }
  // Where every user's lock used to be: the shared temporary folder.
  std::filesystem::path SharedLockPath() const {
    return std::filesystem::temp_directory_path() / LockName();
  }
};

// Another user's lock file in the shared temporary folder, held, or planted as a link, neither
// keeps the tool from running nor makes it create a file where the link points.
TEST_F(ConsoleSafety, AnotherUsersLockFileNeitherBlocksNorRedirectsTheTool) {
  const std::filesystem::path shared = SharedLockPath();
  std::filesystem::remove(shared);
  {
    const int held = ::open(shared.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::fchown(held, 65534, 65534), 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const Result r = Run("--virtual", "exit\n");
    ::close(held);
    EXPECT_EQ(r.out.find("already running"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("Drive list : ", 0), 0u) << r.out;
  }
  std::filesystem::remove(shared);
  std::filesystem::create_symlink(folder_ / "planted", shared);
  const Result r = Run("--virtual", "exit\n");
  std::filesystem::remove(shared);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "planted"));
  EXPECT_EQ(r.out.rfind("Drive list : ", 0), 0u) << r.out;
}

// Root's lock lives in a folder only root may write; a link planted there is not followed.
TEST_F(ConsoleSafety, RootsLockIsAPrivateFileInAPrivateFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "the lock folder checked here is root's";
  const std::filesystem::path lock = std::filesystem::path("/run/veltran") / LockName();
  std::filesystem::remove(lock);
  EXPECT_EQ(Run("--virtual", "exit\n").err, "");
  struct stat folder {
  }, file{};
  ASSERT_EQ(::lstat("/run/veltran", &folder), 0);
  EXPECT_TRUE(S_ISDIR(folder.st_mode));
  EXPECT_EQ(folder.st_uid, 0u);
  EXPECT_EQ(folder.st_mode & 022, 0u);
  ASSERT_EQ(::lstat(lock.c_str(), &file), 0);
  EXPECT_TRUE(S_ISREG(file.st_mode));
  EXPECT_EQ(file.st_mode & 0777, 0600u);

  std::filesystem::remove(lock);
  std::filesystem::create_symlink(folder_ / "planted", lock);
  const Result r = Run("--virtual", "exit\n");
  std::filesystem::remove(lock);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "planted"));
  EXPECT_NE(r.err.find("running without the single-instance lock"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace veltran
