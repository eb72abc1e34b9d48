// The console program as a user runs it: arguments, commands on standard input, printed lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "console_run.h"

namespace veltran {
namespace {

TEST_F(Console, ManualSessionPrintsListFieldsAndBoxes) {
  MakeImage("new.bin", "--revision NA02");
  const Result r =
      Run("--virtual", "info\nopen new.bin\ninfo\nabout\nopen\nbogus\nexit\nopen new.bin\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "Drive list : BRELMONTCDW/DVD GA-W837CNA00\n"
            "Drive : BRELMONTCDW/DVD GA-W837CNA00\n"
            "Model Name : BRELMONTCDW/DVD GA-W837C\n"
            "Old Version : NA00\n"
            "New Version : NA02\n"
            "Download File : NEW.BIN (128 K)\n"
            "Status : Ready\n"
            "MESSAGE\n"
            "Download File Info. !!\n(32768b 96Kb 4Cmd)\n\n"
            "About Veltran\n"
            "VELTRAN 3.25.e\nLumaflash\nFirmware update tool for optical drives\n2006.04.\n"
            "Veltran developers\n");
  EXPECT_EQ(r.err, "veltran: unknown command \"bogus\"\n");
}

TEST_F(Console, AutomaticStartChoosesTheFittingDriveAndLogs) {
  MakeImage("AUTORUN.BIN", "--vendor TRUO --product 'CD-ROM  GA-R837C' --revision TR07 --type 1");
  Write("scenario.json", R"({"drives": [
    {"letter": "d", "inquiry": {"peripheral": 5, "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C", "revision": "NA00", "prefix": "NA "}},
    {"letter": "e", "inquiry": {"peripheral": 5, "vendor": "TRUO", "product": "CD-ROM  GA-R837C", "revision": "TR06", "prefix": "TR "}}]})");
  const Result r = Run("-LIVE --virtual=scenario.json --trace=trace", "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(
      r.out.find("Drive : TRUO    CD-ROM  GA-R837CTR06\nModel Name : TRUO    CD-ROM  GA-R837C\n"
                 "Old Version : TR06\nNew Version : TR07\n"
                 "Download File : AUTORUN.BIN (128 K)\nStatus : READY\n"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(Slurp("VELTRAN.TMP"), "START\nP1\nP2\nP3\nP4\nP5\nP6\nP7\nCOMPLETE\n");
  EXPECT_NE(r.out.find("Status : Wait..\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Progress: 100%\nStatus : Ok\n"), std::string::npos) << r.out;
  const auto trace = testing::ReadLines(folder_ / "trace");
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0], "scsi 0 120000002400 in 36 01 " + trace[0].substr(29));
}

TEST_F(Console, IncompatibleAutorunEndsTheProgramWithTheMessage) {
  MakeImage("AUTORUN.BIN", "--prefix KP");
  const Result r = Run("--virtual", "exit\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("MESSAGE\nThis Firmware is not compatible with the selected drive.\nContact "
                       "your system manufacturer for information\non firmware updates available "
                       "for this drive.\n"),
            std::string::npos)
      << r.out;
}

// Rows with a test option run the automatic start, which finds no image to send.
TEST_F(Console, StartUpOutcomesWithoutAnImageToSend) {
  struct Row {
    const char* autorun;  // make-test-image arguments; nullptr: no AUTORUN.BIN
    const char* options;
    const char* expected;  // printed in this order
    const char* log;       // VELTRAN.TMP
    int exitCode;          // 1: the image on hand was refused
  };
  const Row rows[] = {
      {nullptr, "", "Drive : BRELMONTCDW/DVD GA-W837CNA00\n", "", 0},
      {"--size 131584", "", "MESSAGE\nFile Open Fail (No Flash File) !!\n32768b 32Kb 4Cmd\n", "",
       1},
      {"--size 131584", "-LIVE", "MESSAGE\nFile Open Fail (No Flash File) !!\n32768b 32Kb 4Cmd\n",
       "START\nP1\nP2\nP4\nP5\nE1\n", 1},
      {nullptr, "-live", "Drive : BRELMONTCDW/DVD GA-W837CNA00\n", "START\nP1\nP4\nP5\nE1\n", 1},
      {"--vendor DARLOWE --product 'CDRW/DVD PT-771B' --revision R351 --type 1", "-LIVE",
       "Drive : BRELMONTCDW/DVD GA-W837CNA00\nDrive : DARLOWE CDRW/DVD PT-771BR350\n"
       "Drive : BRELMONTCDW/DVD GA-W837CNA00\n",
       "START\nP1\nP2\nP3\nP4\nP5\nE1\n", 1},
  };
  Write("scenario.json", R"({"drives": [
    {"letter": "d", "inquiry": {"peripheral": 5, "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C", "revision": "NA00", "prefix": "NA "}},
    {"letter": "e", "inquiry": {"peripheral": 5, "vendor": "DARLOWE", "product": "CDRW/DVD PT-771B", "revision": "R350", "prefix": "COM"}}]})");
  for (const Row& row : rows) {
    std::filesystem::remove(folder_ / "AUTORUN.BIN");
    std::filesystem::remove(folder_ / "VELTRAN.TMP");
    if (row.autorun != nullptr) MakeImage("AUTORUN.BIN", row.autorun);
    const Result r = Run(std::string(row.options) + " --virtual=scenario.json", "");
    EXPECT_EQ(r.exitCode, row.exitCode) << row.options;
    EXPECT_NE(r.out.find(row.expected), std::string::npos) << row.options << "\n" << r.out;
    EXPECT_EQ(r.out.find("Status :"), std::string::npos) << r.out;
    EXPECT_EQ(Slurp("VELTRAN.TMP"), row.log) << row.options;
  }
}

// Every transfer form, unattended, through the console program to a flashed drive.
TEST_F(Console, EachTransferFormFlashesTheDrive) {
  const struct {
    const char* image;
    const char* log;
  } forms[] = {
      {"--block-kb 32 --blocks 4 --size 131072", "START\nP1\nP2\nP3\nP4\nP5\nP6\nP7\nCOMPLETE\n"},
      {"--block-kb 32 --blocks 1 --size 49152", "START\nP1\nP2\nP3\nP4\nP5\nP7\nCOMPLETE\n"},
      {"--size 65536", "START\nP1\nP2\nP3\nP4\nP5\nCOMPLETE\n"},
      {"--fixed-header --size 98304", "START\nP1\nP2\nP3\nP4\nP5\nCOMPLETE\n"},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.image);
    std::filesystem::remove(folder_ / "drives.state");
    MakeImage("AUTORUN.BIN", std::string("--revision NA01 ") + form.image);
    Write("scenario.json", OneDrive("", R"("state": "drives.state", )"));
    const Result r = Run("-LIVE --virtual=scenario.json", "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Slurp("VELTRAN.TMP"), form.log);
    EXPECT_NE(r.out.find("Progress: 100%\nStatus : Ok\n"), std::string::npos) << r.out;
    EXPECT_NE(Slurp("drives.state").find(R"("0": "NA01")"), std::string::npos);
  }
}

// Exit, a second start, an information box and the end of input all reach the tool while the
// drive holds the final command: the download completes, once, and the restart follows.
TEST_F(Console, NothingEndsTheToolWhileTheFinalCommandRuns) {
  MakeImage("new.bin", "--revision NA02 --block-kb 32 --blocks 3 --size 81920");
  Write("scenario.json", kHeldFinalCommand);
  const Result r =
      Run("--virtual=scenario.json --trace=trace", "open new.bin\nstart\nexit\nstart\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("The firmware update is in progress"), std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find("Progress: 100%\nStatus : Ok\nMESSAGE\n  Download Ok!!  \nRestart WINDOWS\n"),
      std::string::npos)
      << r.out;
  const auto trace = testing::ReadLines(folder_ / "trace");
  EXPECT_EQ(
      std::count_if(trace.begin(), trace.end(),
                    [](const std::string& l) { return l.find(" ff0001") != std::string::npos; }),
      3);
  EXPECT_EQ(trace.back(), "restart accepted");
}

TEST_F(Console, BytesADriveSendsAreShownEscaped) {
  Write("scenario.json", R"({"drives": [
    {"letter": "d", "inquiry": {"peripheral": 5, "vendor": "BREL\u0000ONT", "product": "CDW/DVD\tGA-W837C", "revision": "NA00"}},
    {"letter": "e", "inquiry": {"peripheral": 5, "vendor": "TRUO", "product": "CD-ROM  GA-R837C", "revision": "TR06"}}]})");
  const Result r = Run("--virtual=scenario.json", "");
  EXPECT_NE(r.out.find("Drive list : BREL\\x00ONTCDW/DVD\\x09GA-W837CNA00\n"
                       "Drive list : TRUO    CD-ROM  GA-R837CTR06\n"),
            std::string::npos)
      << r.out;
}

TEST_F(Console, BadScenarioAndBadArgumentsAreRefusedClearly) {
  Write("broken.json", R"({"drives": [{"letter": 5}]})");
  const Result broken = Run("--virtual=broken.json", "");
  EXPECT_EQ(broken.exitCode, 3);
  EXPECT_EQ(broken.err, "veltran: broken.json: drives[0].letter: expected a string\n");
  const Result empty = Run("--trace=", "");
  EXPECT_EQ(empty.exitCode, 3);
  EXPECT_EQ(empty.err.rfind("veltran: --trace= needs a file name\n", 0), 0u);
}

// A start with nothing to send is refused, with exit status 1; the help lists the statuses. How
// each kind of run ends is checked in the JSON form's outcome table.
TEST_F(Console, ExitStatusOfAStartWithoutAnImageAndInTheHelp) {
  EXPECT_EQ(Run("--virtual", "start\nexit\n").exitCode, 1);
  const Result help = Run("--help", "");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Exit status:\n  0  the run ended normally"), std::string::npos);
}

}  // namespace
}  // namespace veltran
