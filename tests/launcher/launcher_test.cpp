// The main routine over a real package file, with the system directory, the waits and the
// start of the tool replaced.
#include "launcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>
#if !defined(_WIN32)
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "scratch.h"
#include "zip_builder.h"

namespace veltran {
namespace {

using testing::BuildZip;
using testing::Bytes;
using testing::Concat;
using testing::FakeExecutableImage;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;
using testing::ZipItem;
namespace fs = std::filesystem;

// Every name in a folder, links and folders included.
std::vector<std::string> EntriesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (auto& item : fs::directory_iterator(folder))
    names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

#if !defined(_WIN32)
fs::perms Umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return fs::perms(mask);
}
#endif

class RecordingSystem final : public LauncherSystem {
 public:
  RecordingSystem(fs::path package, fs::path systemDirectory)
      : package_(std::move(package)), systemDirectory_(std::move(systemDirectory)) {}

  std::string CurrentDirectory() override { return real().CurrentDirectory(); }
  os::File OpenOwnImage() override { return os::OpenForReading(package_.string()); }
  os::Directory OpenSystemDirectory() override {
    return os::OpenDirectory(systemDirectory_.string());
  }
  void Sleep(unsigned milliseconds) override {
    waits.push_back(milliseconds);
    if (duringWait) duringWait(waits.size());
  }
  bool ChangeDirectory(const std::string& path) override { return real().ChangeDirectory(path); }
  bool EnterDirectory(const os::Directory& directory) override {
    return Step(!failEnter && LauncherSystem::EnterDirectory(directory));
  }
  void OpenTool(const os::Directory& systemDirectory) override {
    openedIn.push_back(systemDirectory.path);
    currentWhenOpened = fs::current_path();
    installedWhenOpened = testing::FilesBelow(currentWhenOpened);
  }
  // Predictable names, so that a test can plant something where the launcher will write.
  std::uint64_t NextName() override { return ++lastName; }

  // Steps that fail on request, as a full disk or a locked file would make them.
  os::StagingFolder CreateStaging(const os::Directory& parent) override {
    return Step(failStaging ? os::StagingFolder() : LauncherSystem::CreateStaging(parent));
  }
  os::PendingFile WritePending(const os::File& staged, const os::Directory& directory,
                               const os::FileStamp& stamp) override {
    if (failWrites-- == 1) return os::PendingFile();
    return Step(LauncherSystem::WritePending(staged, directory, stamp));
  }
  // Does what Windows does for the call, whatever the host and user.
  bool MakeReplaceable(const os::Directory& directory, std::string_view target) override {
    std::error_code ignored;
    fs::permissions(fs::path(directory.path) / target, fs::perms::owner_write,
                    fs::perm_options::add, ignored);
    return Step(LauncherSystem::MakeReplaceable(directory, target));
  }
  // Refuses to replace a read-only file as Windows does, even where a rename would (Linux) or
  // where the user may write anything (root).
  bool MovePending(os::PendingFile& pending, std::string_view target) override {
    moved.emplace_back(target);
    const fs::path path = systemDirectory_ / target;
    if (fs::exists(path) && testing::IsReadOnly(path)) return false;
    return Step(failMoveOf != moved.back() && LauncherSystem::MovePending(pending, target));
  }

  bool RemoveNameVariants(const os::Directory& directory, std::string_view name,
                          bool keepExact) override {
    return Step(LauncherSystem::RemoveNameVariants(directory, name, keepExact));
  }

  std::vector<unsigned> waits;
  std::vector<std::string> openedIn;
  fs::path currentWhenOpened;
  std::vector<std::string> installedWhenOpened;
  std::vector<std::string> moved;
  std::uint64_t lastName = 0;
  bool failStaging = false;
  int failWrites = 0;  // the n-th pending write fails
  std::string failMoveOf;
  bool failEnter = false;
  int stopAfter = 0;  // the process ends at once, as if killed, after that many steps
  std::function<void(std::size_t)> duringWait;  // called with the number of waits so far

 private:
  template <typename Result>
  Result Step(Result result) {
    if (++steps_ == stopAfter) std::_Exit(0);
    return result;
  }
  static LauncherSystem& real() { return OsLauncherSystem(); }
  int steps_ = 0;
  fs::path package_;
  fs::path systemDirectory_;
};

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() { fs::create_directories(systemDirectory()); }

  fs::path systemDirectory() const { return folder_.root() / "system"; }
  fs::path package() const { return folder_.root() / "package.exe"; }

  RecordingSystem Run(const std::vector<ZipItem>& items, int exitCode = kLauncherDone) {
    RecordingSystem system(package(), systemDirectory());
    RunWith(system, items, exitCode);
    return system;
  }
  void RunWith(RecordingSystem& system, const std::vector<ZipItem>& items,
               int exitCode = kLauncherDone) {
    WriteBytes(package(), Concat(FakeExecutableImage(), BuildZip(items)));
    EXPECT_EQ(RunLauncher(system), exitCode);
  }

  Bytes Installed(const char* name) const { return ReadBytes(systemDirectory() / name); }
  std::vector<std::string> InstalledFiles() const { return testing::FilesBelow(systemDirectory()); }

  ScratchFolder folder_;
};

TEST_F(LauncherTest, InstallsImageAndToolThenOpensTheToolFromTheSystemDirectory) {
  const Bytes image = Pattern(131072, 1), tool = Pattern(40000, 2);
  const RecordingSystem system = Run({{"NA00.BIN", image}, {"VELTRAN.exe", tool}});

  EXPECT_EQ(Installed("autorun.bin"), image);
  EXPECT_EQ(Installed("VELTRAN.exe"), tool);
  EXPECT_FALSE(testing::IsReadOnly(systemDirectory() / "autorun.bin"));
  EXPECT_EQ(system.waits, (std::vector<unsigned>{300, 300, 300}));
  ASSERT_EQ(system.openedIn.size(), 1u);
  EXPECT_EQ(fs::path(system.openedIn[0]), systemDirectory());
  EXPECT_TRUE(fs::equivalent(system.currentWhenOpened, systemDirectory()));
  EXPECT_EQ(system.installedWhenOpened, (std::vector<std::string>{"VELTRAN.exe", "autorun.bin"}));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), folder_.work()));
  EXPECT_TRUE(testing::FilesBelow(folder_.work()).empty());  // temporaries deleted
  EXPECT_EQ(EntriesIn(systemDirectory()), (std::vector<std::string>{"VELTRAN.exe", "autorun.bin"}));
}

TEST_F(LauncherTest, WithoutAnArchiveNothingHappens) {
  WriteBytes(package(), FakeExecutableImage());
  RecordingSystem system(package(), systemDirectory());
  EXPECT_EQ(RunLauncher(system), 0);
  EXPECT_TRUE(system.waits.empty());
  EXPECT_TRUE(system.openedIn.empty());
  EXPECT_TRUE(InstalledFiles().empty());
}

TEST_F(LauncherTest, AnEmptyArchiveStillOpensTheToolAfterOneWait) {
  const RecordingSystem system = Run({});
  EXPECT_TRUE(InstalledFiles().empty());
  EXPECT_EQ(system.waits, std::vector<unsigned>{300});
  EXPECT_EQ(system.openedIn.size(), 1u);
}

TEST_F(LauncherTest, TheLastImageAndTheLastToolEntryWin) {
  const RecordingSystem system = Run({{"a.bin", Pattern(100, 1)},
                                      {"one.exe", Pattern(100, 2)},
                                      {"b.BIN", Pattern(100, 3)},
                                      {"two.exe", Pattern(100, 4)}});
  EXPECT_EQ(Installed("autorun.bin"), Pattern(100, 3));
  EXPECT_EQ(Installed("VELTRAN.exe"), Pattern(100, 4));
  EXPECT_EQ(system.waits.size(), 5u);
}

TEST_F(LauncherTest, NamesDifferingOnlyInCaseBothInstallTheFirstEntry) {
  Run({{"fw.bin", Pattern(100, 1)}, {"FW.BIN", Pattern(100, 2)}});
  EXPECT_EQ(Installed("autorun.bin"), Pattern(100, 1));
}

TEST(EntryClassificationTest, OnlyNamesEndingInBinInAnyCaseAreImages) {
  for (const char* image : {"x.Bin", "x.bin", "X.BIN", "bin", "BIN", "firmwarebin"}) {
    EXPECT_TRUE(IsImageEntryName(image)) << image;
  }
  for (const char* tool : {"x.bi", "b", "bi", "", "VELTRAN.exe", "x.bin.exe", "x.bim"}) {
    EXPECT_FALSE(IsImageEntryName(tool)) << tool;
  }
}

TEST_F(LauncherTest, ASecondRunReplacesTheReadOnlyToolOfTheFirst) {
  Run({{"fw.bin", Pattern(100, 1)}, {"VELTRAN.exe", Pattern(5000, 2)}});
  ASSERT_EQ(Installed("VELTRAN.exe"), Pattern(5000, 2));
  EXPECT_TRUE(testing::IsReadOnly(systemDirectory() / "VELTRAN.exe"));

  Run({{"fw.bin", Pattern(100, 3)}, {"VELTRAN.exe", Pattern(6000, 4)}});
  EXPECT_EQ(Installed("autorun.bin"), Pattern(100, 3));
  EXPECT_EQ(Installed("VELTRAN.exe"), Pattern(6000, 4));
  EXPECT_TRUE(testing::FilesBelow(folder_.work()).empty());
}

TEST_F(LauncherTest, ASystemDirectoryLongerThanTheOldBuffersWorks) {
  // Longer than the 243 characters a 256-character launch path held. On Windows the path of
  // "VELTRAN.exe" in it must still keep within the system's own 260-character limit.
  const std::size_t length = fs::path::preferred_separator == '\\' ? 245 : 400;
  fs::path deep = systemDirectory();
  while (deep.string().size() + 12 < length) deep /= "long-folder";
  deep /= std::string(std::max<std::size_t>(1, length - deep.string().size() - 1), 'x');
  fs::create_directories(deep);
  WriteBytes(package(),
             Concat(FakeExecutableImage(),
                    BuildZip({{"fw.bin", Pattern(100, 1)}, {"VELTRAN.exe", Pattern(100, 2)}})));
  RecordingSystem system(package(), deep);
  EXPECT_EQ(RunLauncher(system), 0);
  EXPECT_EQ(ReadBytes(deep / "autorun.bin"), Pattern(100, 1));
  EXPECT_EQ(ReadBytes(deep / "VELTRAN.exe"), Pattern(100, 2));
  ASSERT_EQ(system.openedIn.size(), 1u);
  EXPECT_EQ(fs::path(system.openedIn[0]), deep);
}

TEST_F(LauncherTest, EntriesWithUnsafeNamesAreSkippedAndNothingLeavesTheFolder) {
  const std::string absolute = (folder_.root() / "abs.bin").generic_string();
  WriteBytes(folder_.root() / "outside.bin", Pattern(10, 9));  // a copy source an attacker names
  const RecordingSystem system = Run({{"../outside.bin", Pattern(10, 1)},
                                      {"..\\outside.bin", Pattern(10, 1)},
                                      {absolute, Pattern(10, 2)},
                                      {"sub/../../x.bin", Pattern(10, 3)},
                                      {"C:x.bin", Pattern(10, 4)},
                                      {std::string(270, 'a') + ".bin", Pattern(10, 6)},
                                      {"NUL.bin", Pattern(10, 7)},
                                      {"COM1 .exe", Pattern(10, 8)},
                                      {"VELTRAN.exe.", Pattern(10, 8)}});
  EXPECT_TRUE(InstalledFiles().empty());
  EXPECT_EQ(testing::FilesBelow(folder_.root()),
            (std::vector<std::string>{"outside.bin", "package.exe"}));
  EXPECT_EQ(ReadBytes(folder_.root() / "outside.bin"), Pattern(10, 9));
  EXPECT_EQ(system.waits.size(), 10u);
  EXPECT_EQ(system.openedIn.size(), 1u);
}

struct FailedInstall {
  const char* name;
  int exitCode;
  void (*arrange)(RecordingSystem&, std::vector<ZipItem>&);
};

void PrintTo(const FailedInstall& c, std::ostream* os) { *os << c.name; }

// A package installs whole or not at all: whatever fails, nothing new is placed, the image of an
// earlier run is gone (it must never be flashed unattended by the tool left there), no
// temporary stays behind, and nothing starts.
class FailedInstallTest : public LauncherTest,
                          public ::testing::WithParamInterface<FailedInstall> {};

TEST_P(FailedInstallTest, PlacesNothingRemovesTheOldImageAndStartsNothing) {
  WriteBytes(systemDirectory() / "autorun.bin", Pattern(100, 7));
  WriteBytes(systemDirectory() / "VELTRAN.exe", Pattern(100, 8));
  std::vector<ZipItem> items{{"fw.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}};
  RecordingSystem system(package(), systemDirectory());
  GetParam().arrange(system, items);
  RunWith(system, items, GetParam().exitCode);

  EXPECT_TRUE(system.openedIn.empty());
  EXPECT_EQ(EntriesIn(systemDirectory()), std::vector<std::string>{"VELTRAN.exe"});
  EXPECT_EQ(Installed("VELTRAN.exe"), Pattern(100, 8));
  EXPECT_EQ(system.waits.size(), 3u);
  EXPECT_TRUE(EntriesIn(folder_.work()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachFailure, FailedInstallTest,
    ::testing::Values(
        FailedInstall{
            "ImageCrc", kLauncherDamagedEntry,
            [](RecordingSystem&, std::vector<ZipItem>& items) { items[0].overrideCrc = true; }},
        FailedInstall{"ToolLongerThanDeclared", kLauncherDamagedEntry,
                      [](RecordingSystem&, std::vector<ZipItem>& items) {
                        items[1].overrideSize = true;
                        items[1].uncompressedSize = 100;
                      }},
        FailedInstall{"ToolShorterThanDeclared", kLauncherDamagedEntry,
                      [](RecordingSystem&, std::vector<ZipItem>& items) {
                        items[1].overrideSize = true;
                        items[1].uncompressedSize = 3001;
                      }},
        FailedInstall{"ImageEncrypted", kLauncherDamagedEntry,
                      [](RecordingSystem&, std::vector<ZipItem>& items) { items[0].flags = 1; }},
        FailedInstall{
            "NoStagingFolder", kLauncherStagingFailed,
            [](RecordingSystem& system, std::vector<ZipItem>&) { system.failStaging = true; }},
        FailedInstall{
            "ImageWrite", kLauncherPlacingFailed,
            [](RecordingSystem& system, std::vector<ZipItem>&) { system.failWrites = 1; }},
        FailedInstall{
            "ToolWrite", kLauncherPlacingFailed,
            [](RecordingSystem& system, std::vector<ZipItem>&) { system.failWrites = 2; }},
        FailedInstall{"ToolMove", kLauncherPlacingFailed,
                      [](RecordingSystem& system, std::vector<ZipItem>&) {
                        system.failMoveOf = "VELTRAN.exe";
                      }}),
    [](const ::testing::TestParamInfo<FailedInstall>& param) { return param.param.name; });

// Once the tool has moved, a failure leaves no image at all and starts nothing. The tool takes
// the image from its current directory: left in the start folder, it would take the attacker's.
TEST_F(LauncherTest, AFailureAfterTheToolMovedLeavesNoImageAndStartsNothing) {
  WriteBytes(folder_.work() / "AUTORUN.BIN", Pattern(100, 66));
  for (const bool failEnter : {false, true}) {
    SCOPED_TRACE(failEnter ? "entering the system directory" : "moving the image");
    WriteBytes(systemDirectory() / "autorun.bin", Pattern(100, 7));
    RecordingSystem system(package(), systemDirectory());
    system.failMoveOf = failEnter ? "" : "autorun.bin";
    system.failEnter = failEnter;
    RunWith(system, {{"fw.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}},
            kLauncherPlacingFailed);
    EXPECT_TRUE(system.openedIn.empty());
    EXPECT_EQ(EntriesIn(systemDirectory()), std::vector<std::string>{"VELTRAN.exe"});
    EXPECT_EQ(ReadBytes(folder_.work() / "AUTORUN.BIN"), Pattern(100, 66));
  }
}

TEST_F(LauncherTest, APackageWithoutAnImageStillInstallsAndStartsTheTool) {
  const RecordingSystem system = Run({{"VELTRAN.exe", Pattern(3000, 2)}});
  EXPECT_EQ(Installed("VELTRAN.exe"), Pattern(3000, 2));
  EXPECT_EQ(system.openedIn.size(), 1u);
}

// An elevated prompt starts in the system directory: the package must still land and start.
TEST_F(LauncherTest, StartedFromTheSystemDirectoryItselfInstallsAndStarts) {
  RecordingSystem system(package(), folder_.work());
  RunWith(system, {{"fw.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}});
  EXPECT_EQ(ReadBytes(folder_.work() / "VELTRAN.exe"), Pattern(3000, 2));
  EXPECT_EQ(ReadBytes(folder_.work() / "autorun.bin"), Pattern(3000, 1));
  EXPECT_EQ(EntriesIn(folder_.work()), (std::vector<std::string>{"VELTRAN.exe", "autorun.bin"}));
  EXPECT_EQ(system.openedIn.size(), 1u);
}

// Each attacker process renames its own file over the names the package's entries carry, in
// the folder the launcher is started from, for as long as the launcher runs.
TEST_F(LauncherTest, FilesSwappedInTheStartFolderDuringTheRunAreNeverInstalled) {
  const Bytes evil = Pattern(3000, 66);
  WriteBytes(folder_.root() / "evil", evil);
  std::atomic<bool> running{true};
  std::thread attacker([&] {
    for (unsigned n = 0; running; ++n) {
      for (const char* name : {"fw.bin", "VELTRAN.exe"}) {
        const fs::path temporary = folder_.root() / ("evil-" + std::to_string(n));
        std::error_code ignored;
        fs::copy_file(folder_.root() / "evil", temporary, ignored);
        fs::rename(temporary, folder_.work() / name, ignored);
      }
    }
  });
  for (int run = 0; run < 20; ++run) {
    Run({{"fw.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}});
    EXPECT_EQ(Installed("autorun.bin"), Pattern(3000, 1));
    EXPECT_EQ(Installed("VELTRAN.exe"), Pattern(3000, 2));
  }
  running = false;
  attacker.join();
}

#if !defined(_WIN32)
// Links planted where the launcher writes: under the entries' names in the start folder, under
// the target names, the staging folder's name and the temporary names in the system directory.
TEST_F(LauncherTest, PlantedLinksAreReplacedNeverFollowed) {
  const fs::path victim = folder_.root() / "victim";
  fs::create_directory(victim);
  WriteBytes(victim / "file", Pattern(10, 9));
  for (const char* name : {"fw.bin", "VELTRAN.exe"}) {
    fs::create_symlink(victim / "file", folder_.work() / name);
  }
  for (const char* name : {"autorun.bin", "VELTRAN.exe"}) {
    fs::create_symlink(victim / "file", systemDirectory() / name);
  }
  // The first names the launcher draws: the staging folder, then the temporary files.
  fs::create_directory_symlink(victim, systemDirectory() / ".unfurler-0000000000000001");
  for (const char* name : {".unfurler-0000000000000002.part", ".unfurler-0000000000000003.part"}) {
    fs::create_symlink(victim / "file", systemDirectory() / name);
  }
  const RecordingSystem system =
      Run({{"fw.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}});

  EXPECT_EQ(EntriesIn(victim), std::vector<std::string>{"file"});
  EXPECT_EQ(ReadBytes(victim / "file"), Pattern(10, 9));
  EXPECT_EQ(fs::status(victim / "file").permissions(), fs::perms(0644) & ~Umask());
  for (const char* name : {"autorun.bin", "VELTRAN.exe"}) {
    EXPECT_FALSE(fs::is_symlink(systemDirectory() / name)) << name;
  }
  EXPECT_EQ(Installed("autorun.bin"), Pattern(3000, 1));
  EXPECT_EQ(Installed("VELTRAN.exe"), Pattern(3000, 2));
  EXPECT_EQ(system.openedIn.size(), 1u);
}

// Neither set-id bits claimed by the archive nor those of a file planted in the start folder
// reach the installed files.
TEST_F(LauncherTest, InstalledFilesGetPlainModes) {
  ZipItem image{"fw.bin", Pattern(3000, 1)}, tool{"VELTRAN.exe", Pattern(3000, 2)};
  for (ZipItem* item : {&image, &tool}) {
    item->madeBy = 0x0314;
    item->externalAttributes = 0x8FFF0000u;  // -rwsrwsrwt
  }
  WriteBytes(folder_.work() / "VELTRAN.exe", Pattern(10, 9));
  fs::permissions(folder_.work() / "VELTRAN.exe", fs::perms(06777));
  const mode_t oldMask = ::umask(0);
  Run({image, tool});
  ::umask(oldMask);
  EXPECT_EQ(fs::status(systemDirectory() / "autorun.bin").permissions(), fs::perms(0644));
  EXPECT_EQ(fs::status(systemDirectory() / "VELTRAN.exe").permissions(), fs::perms(0755));
}

// The tool looks its fixed names up ignoring letter case: an older spelling would hide the new.
TEST_F(LauncherTest, OtherLetterCasesOfTheInstalledNamesAreRemoved) {
  for (const char* stale : {"AUTORUN.BIN", "Autorun.bin", "Veltran.exe", "veltran.EXE"}) {
    WriteBytes(systemDirectory() / stale, Pattern(10, 9));
  }
  WriteBytes(systemDirectory() / "other.bin", Pattern(10, 9));
  Run({{"fw.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}});
  EXPECT_EQ(EntriesIn(systemDirectory()),
            (std::vector<std::string>{"VELTRAN.exe", "autorun.bin", "other.bin"}));
}

// A run killed after any step of placing: the image of the run before is gone by the time the
// new tool lands, and the next run removes what the killed one left and installs cleanly.
class StoppedRunTest : public LauncherTest, public ::testing::WithParamInterface<int> {};

TEST_P(StoppedRunTest, NeverPairsTheNewToolWithTheOldImageAndTheNextRunInstallsCleanly) {
  const std::vector<ZipItem> before{{"a.bin", Pattern(3000, 7)}, {"VELTRAN.exe", Pattern(3000, 8)}};
  const std::vector<ZipItem> after{{"b.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}};
  Run(before);
  WriteBytes(package(), Concat(FakeExecutableImage(), BuildZip(after)));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RecordingSystem system(package(), systemDirectory());
    system.stopAfter = GetParam();
    RunLauncher(system);
    std::_Exit(1);  // every step was done: the table asks for a step that is never reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not stopped at that step";
  if (fs::exists(systemDirectory() / "VELTRAN.exe") &&
      Installed("VELTRAN.exe") == Pattern(3000, 2)) {
    EXPECT_TRUE(!fs::exists(systemDirectory() / "autorun.bin") ||
                Installed("autorun.bin") == Pattern(3000, 1));
  }
  const RecordingSystem next = Run(after);
  EXPECT_EQ(EntriesIn(systemDirectory()), (std::vector<std::string>{"VELTRAN.exe", "autorun.bin"}));
  EXPECT_EQ(Installed("autorun.bin"), Pattern(3000, 1));
  EXPECT_EQ(Installed("VELTRAN.exe"), Pattern(3000, 2));
  EXPECT_EQ(next.openedIn.size(), 1u);
}

// Staging folder, two temporary files, the old image, the tool's other spellings, making the tool
// replaceable, moving it, the image's other spellings, making it replaceable, moving it, entering
// the directory.
INSTANTIATE_TEST_SUITE_P(EachStep, StoppedRunTest, ::testing::Range(1, 12));

// The system directory is opened once: moving it away and putting another folder under its
// name while the launcher waits changes neither where the files land nor where the tool starts.
TEST_F(LauncherTest, TheSystemDirectoryOpenedFirstIsTheOneUsedThroughout) {
  const fs::path moved = folder_.root() / "moved";
  RecordingSystem system(package(), systemDirectory());
  system.duringWait = [&](std::size_t wait) {
    if (wait != 1) return;
    fs::rename(systemDirectory(), moved);
    fs::create_directory(systemDirectory());
  };
  RunWith(system, {{"fw.bin", Pattern(3000, 1)}, {"VELTRAN.exe", Pattern(3000, 2)}});
  EXPECT_TRUE(InstalledFiles().empty());
  EXPECT_EQ(ReadBytes(moved / "autorun.bin"), Pattern(3000, 1));
  EXPECT_EQ(ReadBytes(moved / "VELTRAN.exe"), Pattern(3000, 2));
  ASSERT_EQ(system.openedIn.size(), 1u);
  EXPECT_TRUE(fs::equivalent(system.currentWhenOpened, moved));
  EXPECT_EQ(EntriesIn(moved), (std::vector<std::string>{"VELTRAN.exe", "autorun.bin"}));
}
#endif

}  // namespace
}  // namespace veltran
