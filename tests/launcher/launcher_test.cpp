// The main routine over a real package file, with the system directory, the waits and the
// start of the tool replaced.
#include "launcher.h"

#include <gtest/gtest.h>

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

class RecordingSystem final : public LauncherSystem {
 public:
  RecordingSystem(fs::path package, fs::path systemDirectory)
      : package_(std::move(package)), systemDirectory_(std::move(systemDirectory)) {}

  std::string CurrentDirectory() override { return real().CurrentDirectory(); }
  std::string OwnPath() override { return package_.string(); }
  std::string SystemDirectory() override { return systemDirectory_.string(); }
  bool CopyFileOver(const std::string& from, const std::string& to) override {
    return real().CopyFileOver(from, to);
  }
  bool ClearReadOnly(const std::string& path) override { return real().ClearReadOnly(path); }
  void MakeRunnable(const std::string& path) override { real().MakeRunnable(path); }
  bool RemoveFile(const std::string& path) override { return real().RemoveFile(path); }
  void Sleep(unsigned milliseconds) override { waits.push_back(milliseconds); }
  bool ChangeDirectory(const std::string& path) override { return real().ChangeDirectory(path); }
  void OpenTool(const std::string& systemDirectory) override {
    openedIn.push_back(systemDirectory);
    currentWhenOpened = fs::current_path();
    installedWhenOpened = testing::FilesBelow(systemDirectory_);
  }
  std::string JoinPath(const std::string& directory, std::string_view name) override {
    return real().JoinPath(directory, name);
  }

  std::vector<unsigned> waits;
  std::vector<std::string> openedIn;
  fs::path currentWhenOpened;
  std::vector<std::string> installedWhenOpened;

 private:
  static LauncherSystem& real() { return OsLauncherSystem(); }
  fs::path package_;
  fs::path systemDirectory_;
};

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() { fs::create_directories(systemDirectory()); }

  fs::path systemDirectory() const { return folder_.root() / "system"; }
  fs::path package() const { return folder_.root() / "package.exe"; }

  RecordingSystem Run(const std::vector<ZipItem>& items) {
    WriteBytes(package(), Concat(FakeExecutableImage(), BuildZip(items)));
    RecordingSystem system(package(), systemDirectory());
    EXPECT_EQ(RunLauncher(system), 0);
    return system;
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

TEST_F(LauncherTest, HostileAndDamagedEntriesAreSkippedAndNothingLeavesTheFolder) {
  const std::string absolute = (folder_.root() / "abs.bin").generic_string();
  WriteBytes(folder_.root() / "outside.bin", Pattern(10, 9));  // a copy source an attacker names
  ZipItem badCrc{"good-looking.bin", Pattern(3000, 5)};
  badCrc.overrideCrc = true;
  ZipItem overflow{"VELTRAN.exe", Bytes(30000, 'z')};
  overflow.overrideSize = true;
  overflow.uncompressedSize = 100;
  const RecordingSystem system = Run({{"../outside.bin", Pattern(10, 1)},
                                      {"..\\outside.bin", Pattern(10, 1)},
                                      {absolute, Pattern(10, 2)},
                                      {"sub/../../x.bin", Pattern(10, 3)},
                                      {"C:x.bin", Pattern(10, 4)},
                                      {std::string(270, 'a') + ".bin", Pattern(10, 6)},
                                      badCrc,
                                      overflow});
  EXPECT_TRUE(InstalledFiles().empty());
  EXPECT_EQ(testing::FilesBelow(folder_.root()),
            (std::vector<std::string>{"outside.bin", "package.exe"}));
  EXPECT_EQ(ReadBytes(folder_.root() / "outside.bin"), Pattern(10, 9));
  EXPECT_EQ(system.waits.size(), 9u);
  EXPECT_EQ(system.openedIn.size(), 1u);
}

}  // namespace
}  // namespace veltran
