// Which system directories the launcher accepts on Linux: only one that root alone can change,
// down from the root folder. Run as root (the launcher runs as root); the other user is nobody.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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

void MakeFolder(const fs::path& path, mode_t mode, uid_t owner = 0) {
  fs::create_directories(path);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
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

INSTANTIATE_TEST_SUITE_P(
    EachSetting, SystemDirectoryTest,
    ::testing::Values(
        DirectoryCase{"RootsOwnFolder", true,
                      [](const fs::path& base) {
                        MakeFolder(base / "system", 0755);
                        return (base / "system").string();
                      }},
        DirectoryCase{"WithRepeatedSlashes", true,
                      [](const fs::path& base) {
                        MakeFolder(base / "system", 0700);
                        return "/" + base.string() + "//system/";
                      }},
        DirectoryCase{"Relative", false,
                      [](const fs::path& base) {
                        MakeFolder(base / "system", 0755);
                        fs::current_path(base);  // where the package would be started
                        return std::string("system");
                      }},
        DirectoryCase{"OwnedByAnotherUser", false,
                      [](const fs::path& base) {
                        MakeFolder(base / "system", 0755, kOtherUser);
                        return (base / "system").string();
                      }},
        DirectoryCase{"WritableByGroup", false,
                      [](const fs::path& base) {
                        MakeFolder(base / "system", 0775);
                        return (base / "system").string();
                      }},
        DirectoryCase{"StickyAndWritableByAll", false,
                      [](const fs::path& base) {
                        MakeFolder(base / "system", 01777);
                        return (base / "system").string();
                      }},
        // mv system old; mkdir system: whoever may write the folder above may swap it.
        DirectoryCase{"InsideAFolderOfAnotherUser", false,
                      [](const fs::path& base) {
                        MakeFolder(base / "user", 0755, kOtherUser);
                        MakeFolder(base / "user/system", 0755);
                        return (base / "user/system").string();
                      }},
        DirectoryCase{"InsideAStickyFolderAsTmpIs", false,
                      [](const fs::path& base) {
                        MakeFolder(base / "tmp", 01777);
                        MakeFolder(base / "tmp/system", 0755);
                        return (base / "tmp/system").string();
                      }},
        DirectoryCase{"ThroughALink", false,
                      [](const fs::path& base) {
                        MakeFolder(base / "system", 0755);
                        fs::create_directory_symlink(base / "system", base / "link");
                        return (base / "link").string();
                      }},
        DirectoryCase{"AFile", false,
                      [](const fs::path& base) {
                        std::FILE* file = std::fopen((base / "file").c_str(), "w");
                        if (file) std::fclose(file);
                        return (base / "file").string();
                      }},
        DirectoryCase{"Missing", false,
                      [](const fs::path& base) { return (base / "missing").string(); }}),
    [](const ::testing::TestParamInfo<DirectoryCase>& param) { return param.param.name; });

}  // namespace
}  // namespace veltran
