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
  // A run with a link planted where a lock may go: the file it points to never appears.
  Result RunWithALinkAt(const std::filesystem::path& lock) {
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(folder_ / "planted", lock);
    Result r = Run("--virtual", "exit\n");
    std::filesystem::remove(lock);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "planted"));
    return r;
  }
  // An automatic run whose drive holds the final command, started once that command is reached.
  void StartHeldDownload(const std::string& output) {
    for (const char* old : {"trace", "rc", "pid", "out", "VELTRAN.TMP"}) {
      std::filesystem::remove(folder_ / old);
    }
    StartInBackground("-LIVE --virtual=scenario.json --trace=trace",
                      "< <(sleep 20) >" + output + " 2>err");
  }
  // The download completed, exit status 0, and the drive was unlocked.
  void ExpectHeldDownloadCompleted() {
    EXPECT_EQ(ExitStatusOfBackgroundRun(), "0\n");
    EXPECT_EQ(Slurp("VELTRAN.TMP"), "START\nP1\nP2\nP3\nP4\nP5\nP6\nP7\nCOMPLETE\n");
    EXPECT_NE(Slurp("trace").find("lock 0 off ok"), std::string::npos);
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
  const Result r = RunWithALinkAt(shared);
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
  const Result r = RunWithALinkAt(lock);
  EXPECT_NE(r.err.find("running without the single-instance lock"), std::string::npos) << r.err;
}

// Every signal that would end the program by default, and a reader of standard output that goes
// away, reach the tool while the drive holds the final command: the download completes and the
// drive is unlocked; only what was printed after the reader went is lost.
TEST_F(ConsoleSafety, SignalsAndAClosedOutputAreHeldDuringTheFinalCommand) {
  MakeImage("AUTORUN.BIN", "--revision NA02 --block-kb 32 --blocks 3 --size 81920");
  Write("scenario.json", kHeldFinalCommand);
  for (const char* signal : {"QUIT", "USR1", "ALRM", "PWR", "RTMIN+3", "TERM"}) {
    SCOPED_TRACE(signal);
    StartHeldDownload("out");
    ASSERT_TRUE(WaitFor("trace", "lock 0 on ok"));
    ASSERT_EQ(std::system(("kill -s " + std::string(signal) + " " + Slurp("pid")).c_str()), 0);
    ExpectHeldDownloadCompleted();
    EXPECT_NE(Slurp("out").find("The firmware update is in progress"), std::string::npos);
  }
  SCOPED_TRACE("closed standard output");
  ASSERT_EQ(::mkfifo((folder_ / "out.pipe").c_str(), 0600), 0);
  StartHeldDownload("out.pipe");
  {
    std::ifstream reader(folder_ / "out.pipe");
    ASSERT_TRUE(WaitFor("trace", "lock 0 on ok"));
  }
  ExpectHeldDownloadCompleted();
}
// A box at start-up waits for Enter on a terminal; a termination request then still ends the
// program, promptly.
TEST_F(ConsoleSafety, TerminationDuringStartUpEndsTheProgram) {
  MakeImage("AUTORUN.BIN", "--size 131584");
  // The tool's standard input is the terminal `script` makes; it prints into a file.
  Write("run.sh", "script -qec \"'" VELTRAN_CONSOLE
                  "' --virtual </dev/tty >out 2>err & echo \\$! >pid; wait \\$!; "
                  "echo \\$? >rc\" /dev/null < <(sleep 30) >/dev/null 2>&1\n");
  ASSERT_EQ(
      std::system(("cd '" + folder_.string() + "' && (bash run.sh >/dev/null 2>&1 &)").c_str()), 0);
  ASSERT_TRUE(WaitFor("out", "File Open Fail"));
  ASSERT_EQ(std::system(("kill -TERM " + Slurp("pid")).c_str()), 0);
  // The image on hand was refused before the end came.
  EXPECT_EQ(ExitStatusOfBackgroundRun(500), "1\n");
}

// A FIFO named AUTORUN.BIN is an image that cannot be read: never opened, so nothing waits for a
// writer, and refused as such.
TEST_F(ConsoleSafety, FifoAutorunIsAnImageThatCannotBeRead) {
  ASSERT_EQ(::mkfifo((folder_ / "AUTORUN.BIN").c_str(), 0600), 0);
  for (const char* options : {"", "-LIVE"}) {
    SCOPED_TRACE(options);
    const std::string command = "cd '" + folder_.string() + "' && timeout -s KILL 10 '" +
                                VELTRAN_CONSOLE + "' --virtual " + options +
                                " </dev/null >out 2>err";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(Slurp("out").find("MESSAGE\nFile Open Fail (No Flash File) !!\n"), std::string::npos)
        << Slurp("out");
  }
  EXPECT_EQ(Slurp("VELTRAN.TMP"), "START\nP1\nP2\nP4\nP5\nE1\n");
}

}  // namespace
}  // namespace veltran
