// The test log's choice of file, its lines, and the start-up deletions, in a temporary root.
#include "app/test_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "app/image_builder.h"

namespace veltran {
namespace {

namespace fs = std::filesystem;

class TestLogFiles : public ::testing::Test {
 protected:
  TestLogFiles() {
    fs::create_directories(work());
    fs::create_directories(root() / "FLASHTEST");
  }

  fs::path root() const { return folder_.path() / "root"; }
  fs::path work() const { return folder_.path() / "work"; }
  fs::path rootLog() const { return root() / "FLASHTEST" / "VELTRAN.TMP"; }
  fs::path workLog() const { return work() / "VELTRAN.TMP"; }
  TestLog Log(bool test, bool live) const { return TestLog({test, live}, {root(), work()}); }

  // The lines as a text-mode reader sees them, whatever the platform's line break.
  static std::vector<std::string> Lines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static void Touch(const fs::path& file) { std::ofstream(file) << "old\n"; }

 private:
  testing::TempFolder folder_;
};

TEST_F(TestLogFiles, LiveLogsInTheWorkingDirectory) {
  const TestLog log = Log(false, true);
  log.WriteTestLog("START");
  log.WriteTestLog("E3");
  log.WriteTestLog("P1");
  EXPECT_EQ(Lines(workLog()), (std::vector<std::string>{"START", "E3", "P1"}));
  EXPECT_FALSE(fs::exists(rootLog()));
}

TEST_F(TestLogFiles, TestOnlyLogsUnderTheRoot) {
  const TestLog log = Log(true, false);
  log.WriteTestLog("P1");
  log.WriteTestLog("P2");
  EXPECT_EQ(Lines(rootLog()), (std::vector<std::string>{"P1", "P2"}));
  EXPECT_FALSE(fs::exists(workLog()));
}

TEST_F(TestLogFiles, BothOptionsLogInTheWorkingDirectory) {
  Log(true, true).WriteTestLog("P3");
  EXPECT_EQ(Lines(workLog()), (std::vector<std::string>{"P3"}));
  EXPECT_FALSE(fs::exists(rootLog()));
}

TEST_F(TestLogFiles, NoOptionTouchesNothing) {
  const TestLog log = Log(false, false);
  EXPECT_FALSE(log.File());
  log.WriteTestLog("P1");
  log.DeleteTestOptionLog();
  log.DeleteLiveOptionLog();
  EXPECT_FALSE(fs::exists(workLog()));
  EXPECT_FALSE(fs::exists(rootLog()));
  Touch(workLog());
  Touch(rootLog());
  log.DeleteTestOptionLog();
  log.DeleteLiveOptionLog();
  EXPECT_TRUE(fs::exists(workLog()));
  EXPECT_TRUE(fs::exists(rootLog()));
}

TEST_F(TestLogFiles, MissingRootFolderLeavesNoLogAndIsNotCreated) {
  fs::remove(root() / "FLASHTEST");
  Log(true, false).WriteTestLog("P1");
  EXPECT_FALSE(fs::exists(root() / "FLASHTEST"));
}

TEST_F(TestLogFiles, StartUpDeletesEachGivenOptionsLog) {
  Touch(workLog());
  Touch(rootLog());
  Log(true, false).DeleteLiveOptionLog();
  EXPECT_TRUE(fs::exists(workLog()));
  Log(true, false).DeleteTestOptionLog();
  EXPECT_FALSE(fs::exists(rootLog()));
  Log(false, true).DeleteLiveOptionLog();
  EXPECT_FALSE(fs::exists(workLog()));
  // Deleting what is not there is no failure.
  Log(true, true).DeleteTestOptionLog();
  Log(true, true).DeleteLiveOptionLog();
}

TEST_F(TestLogFiles, AppendsToAnExistingLog) {
  Touch(workLog());
  Log(false, true).WriteTestLog("COMPLETE");
  EXPECT_EQ(Lines(workLog()), (std::vector<std::string>{"old", "COMPLETE"}));
}

TEST_F(TestLogFiles, LinesFromTwoThreadsStayWhole) {
  const TestLog log = Log(false, true);
  std::thread worker([&log] {
    for (int i = 0; i < 50; ++i) log.WriteTestLog("Ok");
  });
  for (int i = 0; i < 50; ++i) log.WriteTestLog("P6");
  worker.join();
  const auto lines = Lines(workLog());
  EXPECT_EQ(lines.size(), 100u);
  for (const auto& line : lines) EXPECT_TRUE(line == "Ok" || line == "P6") << line;
}

TEST(TestLogPlaces, RealPlaces) {
  const TestLog test({true, false});
  EXPECT_EQ(test.File(), TestLogPlaces::DefaultLogRoot() / "FLASHTEST" / "VELTRAN.TMP");
  EXPECT_TRUE(TestLogPlaces::DefaultLogRoot().has_root_directory());
  const TestLog live({false, true});
  EXPECT_EQ(live.File(), fs::path("VELTRAN.TMP"));
}

}  // namespace
}  // namespace veltran
