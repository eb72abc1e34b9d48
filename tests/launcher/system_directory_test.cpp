// Which system directories the launcher accepts on Linux: only one that root alone can change,
// down from the root folder. Run as root (the launcher runs as root); the other user is nobody.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "launcher.h"
#include "os_files.h"

namespace veltran {
namespace {

namespace fs = std::filesystem;
constexpr uid_t kOtherUser = 65534;

// A folder directly below the root folder, root's and closed to others: /tmp would not do, being
// writable by everyone.
class TrustedBase {
 public:
  TrustedBase() {
    std::string name = "/unfurler-test-XXXXXX";
    if (::mkdtemp(name.data())) path_ = name;
    if (!path_.empty()) ::chmod(path_.c_str(), 0755);
  }
  ~TrustedBase() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TrustedBase(const TrustedBase&) = delete;
  TrustedBase& operator=(const TrustedBase&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The folder, made with that mode and owner, as a setting.
std::string MakeFolder(const fs::path& path, mode_t mode, uid_t owner = 0) {
  fs::create_directories(path);
  EXPECT_EQ(::chmod(path.c_str(), mode), 0);
  EXPECT_EQ(::chown(path.c_str(), owner, owner), 0);
  return path.string();
}

struct DirectoryCase {
  const char* name;
  bool accepted;
  std::function<std::string(const fs::path& base)> arrange;  // returns the setting
};

void PrintTo(const DirectoryCase& c, std::ostream* os) { *os << c.name; }

class SystemDirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(SystemDirectoryTest, OnlyAFolderRootAloneCanChangeIsOpened) {
  ASSERT_EQ(::geteuid(), 0u) << "the system directory checks need root: run the tests as root";
  TrustedBase base;
  ASSERT_FALSE(base.path().empty());
  const fs::path previous = fs::current_path();
  const std::string setting = GetParam().arrange(base.path());
  EXPECT_EQ(os::OpenTrustedDirectory(setting).valid(), GetParam().accepted) << setting;
  // The launcher's own system reads the setting the same way.
  ::setenv("UNFURLER_SYSTEM_DIR", setting.c_str(), 1);
  EXPECT_EQ(OsLauncherSystem().OpenSystemDirectory().valid(), GetParam().accepted) << setting;
  ::unsetenv("UNFURLER_SYSTEM_DIR");
  fs::current_path(previous);
}

using Base = const fs::path&;

INSTANTIATE_TEST_SUITE_P(
    EachSetting, SystemDirectoryTest,
    ::testing::Values(
        DirectoryCase{"RootsOwnFolder", true,
                      [](Base b) { return MakeFolder(b / "system", 0755); }},
        DirectoryCase{"WithRepeatedSlashes", true,
                      [](Base b) {
                        MakeFolder(b / "system", 0700);
                        return "/" + b.string() + "//system/";
                      }},
        DirectoryCase{"Relative", false,
                      [](Base b) {
                        MakeFolder(b / "system", 0755);
                        fs::current_path(b);  // where the package would be started
                        return std::string("system");
                      }},
        DirectoryCase{"OwnedByAnotherUser", false,
                      [](Base b) { return MakeFolder(b / "system", 0755, kOtherUser); }},
        DirectoryCase{"WritableByGroup", false,
                      [](Base b) { return MakeFolder(b / "system", 0775); }},
        DirectoryCase{"StickyAndWritableByAll", false,
                      [](Base b) { return MakeFolder(b / "system", 01777); }},
        // mv system old; mkdir system: whoever may write the folder above may swap it.
        DirectoryCase{"InsideAFolderOfAnotherUser", false,
                      [](Base b) {
                        MakeFolder(b / "user", 0755, kOtherUser);
                        return MakeFolder(b / "user/system", 0755);
                      }},
        DirectoryCase{"InsideAStickyFolderAsTmpIs", false,
                      [](Base b) {
                        MakeFolder(b / "tmp", 01777);
                        return MakeFolder(b / "tmp/system", 0755);
                      }},
        DirectoryCase{"ThroughALink", false,
                      [](Base b) {
                        fs::create_directory_symlink(MakeFolder(b / "system", 0755), b / "link");
                        return (b / "link").string();
                      }},
        DirectoryCase{
            "AFile", false,
            [](Base b) { return std::ofstream(b / "file") ? (b / "file").string() : ""; }},
        DirectoryCase{"Missing", false, [](Base b) { return (b / "missing").string(); }}),
    [](const ::testing::TestParamInfo<DirectoryCase>& param) { return param.param.name; });

}  // namespace
}  // namespace veltran
