// A scenario's state file stays beside the scenario and is never written through a link, and a
// scenario named by the environment is taken only from the program's own folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/platform.h"
#include "support/temp_files.h"
#include "virtual/machine.h"

namespace veltran {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(ScenarioState, OnlyAPlainFileNameBesideTheScenarioIsTaken) {
  for (const char* name : {"", ".", "..", "../state.json", "/tmp/state.json", "sub/state.json",
                           "..\\\\state.json", "C:state.json", "a/../state.json"}) {
    const std::string text = std::string(R"({"state": ")") + name + "\"}";
    EXPECT_THAT([&text] { ParseScenario(text, "scenario.json"); },
                ::testing::ThrowsMessage<ScenarioError>(::testing::HasSubstr("plain file name")))
        << name;
  }
  EXPECT_EQ(ParseScenario(R"({"state": "state.json"})", "s").stateFile, "state.json");
}

// Wine's C runtime cannot make links: the Windows builds leave the link cases to the native ones.
#ifndef _WIN32
std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The drive keeps its revision through a fresh file renamed over the old one: a link planted
// where the state or its temporary file goes is replaced, and what it points at stays as it was.
TEST(ScenarioState, KeptRevisionNeverWritesThroughALink) {
  testing::TempFolder folder;
  const fs::path victim = folder.path() / "victim";
  WriteText(victim, "untouched");
  WriteText(folder.path() / "scenario.json", R"({"state": "state.json", "drives": [
      {"letter": "e", "inquiry": {"vendor": "V", "product": "P", "revision": "NA00"}}]})");
  fs::create_symlink(victim, folder.path() / "state.json.new");
  {
    VirtualMachine machine(LoadScenarioFile((folder.path() / "scenario.json").string()));
    // A one-block image of 1 KB: the drive programs it and keeps its revision.
    std::uint8_t cdb[12] = {0xFF, 0x00, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> block(1024, 0x5A);
    machine.drives()[0]->Execute(cdb, 12, block.data(), 1024, true);
  }
  EXPECT_EQ(ReadText(victim), "untouched");
  EXPECT_FALSE(fs::is_symlink(folder.path() / "state.json"));
  EXPECT_NE(ReadText(folder.path() / "state.json").find("\"0\": \"ZZZZ\""), std::string::npos)
      << ReadText(folder.path() / "state.json");
}
#endif

TEST(ScenarioFromEnvironment, TakenOnlyFromTheProgramsOwnFolder) {
  testing::TempFolder program;
  testing::TempFolder elsewhere;
  fs::create_directories(program.path() / "sub");
  for (const fs::path& p : {program.path() / "s.json", elsewhere.path() / "s.json",
                            program.path() / "sub" / "s.json"}) {
    WriteText(p, "{}");
  }
#ifndef _WIN32
  fs::create_symlink(elsewhere.path() / "s.json", program.path() / "link.json");
#endif
  const fs::path own = fs::canonical(program.path() / "s.json");
  EXPECT_EQ(ScenarioFromEnvironment(own.string(), program.path()), own.string());
  EXPECT_EQ(
      ScenarioFromEnvironment((program.path() / "sub" / ".." / "s.json").string(), program.path()),
      own.string());
  EXPECT_EQ(ScenarioFromEnvironment("", program.path()), std::string());
  for (const fs::path& refused :
       {elsewhere.path() / "s.json", program.path() / "sub" / "s.json",
        program.path() / "link.json", program.path() / "missing.json",
        program.path() / ".." / fs::path(elsewhere.path()).filename() / "s.json"}) {
    EXPECT_EQ(ScenarioFromEnvironment(refused.string(), program.path()), std::nullopt) << refused;
  }
}

}  // namespace
}  // namespace veltran
