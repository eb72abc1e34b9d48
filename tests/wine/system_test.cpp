// The Windows system interface under Wine: version, registry reads into a buffer of fixed size,
// the process list, and termination of a process this test starts itself. Nothing here asks for
// a restart or touches a process it did not start.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>

#include "app/preparation.h"
#include "support/virtual_rig.h"
#include "system/handles_win.h"

namespace veltran {
namespace {

std::filesystem::path ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A child process that only waits, started and owned by the test.
class Napper {
 public:
  Napper() {
    const std::string command = (ProgramFolder() / VELTRAN_NAP_EXE).string();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string line = "\"" + command + "\"";
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(command.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
      return;
    }
    process_.Reset(info.hProcess);
    thread_.Reset(info.hThread);
    pid_ = info.dwProcessId;
  }
  ~Napper() {
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
      ::TerminateProcess(process_.get(), 1);
  }
  bool started() const { return static_cast<bool>(process_); }
  std::uint32_t pid() const { return pid_; }
  bool EndsWithin(DWORD ms) const {
    return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0;
  }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  UniqueKernelObject process_;
  UniqueKernelObject thread_;
  DWORD pid_ = 0;
};

TEST(WindowsSystem, WineReportsTheNtFamily) {
  EXPECT_EQ(MakeHostSystem()->PlatformId(), kPlatformNT);
}

class WindowsRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    key_ = "Software\\VeltranTest\\Registry" + std::to_string(random());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const DWORD dma = 0x00010001;
    RegSetValueExA(key, "DMAEnabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dma),
                   sizeof dma);
    const std::string name = "Primary IDE channel device name";  // 31 bytes and a NUL
    RegSetValueExA(key, "DeviceName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>(name.size() + 1));
    const std::string tooLong(40, 'x');
    RegSetValueExA(key, "Long", 0, REG_BINARY, reinterpret_cast<const BYTE*>(tooLong.data()),
                   static_cast<DWORD>(tooLong.size()));
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str()); }

  std::string key_;
};

TEST_F(WindowsRegistry, ReadsAValueThatFitsTheBuffer) {
  auto system = MakeHostSystem();
  const RegistryRead dma = system->ReadRegistry(key_, "DMAEnabled", 36);
  EXPECT_TRUE(dma.keyOpened);
  ASSERT_TRUE(dma.value.has_value());
  EXPECT_EQ(*dma.value, (std::vector<std::uint8_t>{0x01, 0x00, 0x01, 0x00}));
  const RegistryRead name = system->ReadRegistry(key_, "DeviceName", 36);
  ASSERT_TRUE(name.value.has_value());
  EXPECT_EQ(name.value->size(), 32u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.value->data())),
            "Primary IDE channel device name");
}

TEST_F(WindowsRegistry, ValueTooLongForTheBufferOrMissingIsNotRead) {
  auto system = MakeHostSystem();
  const RegistryRead tooLong = system->ReadRegistry(key_, "Long", 36);
  EXPECT_TRUE(tooLong.keyOpened);
  EXPECT_FALSE(tooLong.value.has_value());
  const RegistryRead tight = system->ReadRegistry(key_, "DMAEnabled", 3);
  EXPECT_FALSE(tight.value.has_value());
  const RegistryRead missing = system->ReadRegistry(key_, "NoSuchValue", 36);
  EXPECT_TRUE(missing.keyOpened);
  EXPECT_FALSE(missing.value.has_value());
}

TEST_F(WindowsRegistry, MissingKeyIsReportedAsNotOpened) {
  const RegistryRead read = MakeHostSystem()->ReadRegistry(key_ + "\\Absent", "DMAEnabled", 36);
  EXPECT_FALSE(read.keyOpened);
  EXPECT_FALSE(read.value.has_value());
}

TEST(WindowsProcesses, ListHoldsThisProgramByItsExecutableName) {
  const auto list = MakeHostSystem()->ListProcesses();
  ASSERT_TRUE(list.has_value());
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string self = Lower(std::filesystem::path(path).filename().string());
  const auto found = std::find_if(list->begin(), list->end(), [](const ProcessEntry& p) {
    return p.pid == GetCurrentProcessId();
  });
  ASSERT_NE(found, list->end());
  EXPECT_EQ(Lower(found->exeName), self);
}

TEST(WindowsProcesses, TerminatesAChildWithItsCurrentExitCode) {
  Napper child;
  ASSERT_TRUE(child.started());
  auto system = MakeHostSystem();
  const auto list = system->ListProcesses();
  ASSERT_TRUE(list.has_value());
  const auto found = std::find_if(list->begin(), list->end(),
                                  [&](const ProcessEntry& p) { return p.pid == child.pid(); });
  ASSERT_NE(found, list->end());
  EXPECT_EQ(Lower(found->exeName), VELTRAN_NAP_EXE);

  EXPECT_EQ(system->TerminateProcess(*found), TerminateOutcome::kTerminated);
  ASSERT_TRUE(child.EndsWithin(10000));
  EXPECT_EQ(child.ExitCode(), STILL_ACTIVE) << "ended with the code it had while running";
}

TEST(WindowsProcesses, ProcessThatCannotBeOpenedIsReported) {
  EXPECT_EQ(MakeHostSystem()->TerminateProcess(ProcessEntry{0xFFFFFFF0u, "gone.exe"}),
            TerminateOutcome::kOpenFailed);
}

TEST(WindowsProcesses, KillByNameEndsTheChildWhateverTheCaseOfTheName) {
  Napper child;
  ASSERT_TRUE(child.started());
  auto system = MakeHostSystem();
  const auto tracePath = testing::TempPath("veltran-kill-trace");
  std::string upper = VELTRAN_NAP_EXE;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  {
    Trace trace(tracePath.string());
    EXPECT_EQ(KillProcessByName(*system, trace, upper), 1);
  }
  EXPECT_TRUE(child.EndsWithin(10000));
  const auto lines = testing::ReadLines(tracePath);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Lower(lines[0]), std::string("kill ") + VELTRAN_NAP_EXE);
  std::filesystem::remove(tracePath);
}

}  // namespace
}  // namespace veltran
