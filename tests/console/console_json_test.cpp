// The console's JSON form and its plan as a user's script sees them: every line parses, every
// event matches the scenario, the plan's commands are the download's, and the outcome names how
// the run ended.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "console_run.h"

namespace veltran {
namespace {

using nlohmann::json;
using std::string_literals::operator""s;

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ConsoleJson : public Console {
 protected:
  // Standard output as JSON lines; the whole run stays in last_.
  std::vector<json> RunJson(const std::string& arguments, const std::string& input) {
    last_ = Run(arguments, input);
    EXPECT_NE(last_.exitCode, -1) << "ended by a signal";
    std::vector<json> lines;
    for (const std::string& line : Lines(last_.out)) {
      lines.push_back(json::parse(line));  // throws, failing the test, on anything else
      EXPECT_EQ(lines.back()["format"], 1) << line;
    }
    return lines;
  }

  static std::vector<json> Events(const std::vector<json>& lines, const std::string& kind) {
    std::vector<json> out;
    for (const json& line : lines) {
      if (line["event"] == kind) out.push_back(line);
    }
    return out;
  }

  // Fields and boxes in the order they came, as the plain form prints them.
  static std::string Shown(const std::vector<json>& lines) {
    std::string shown;
    for (const json& line : lines) {
      if (line["event"] == "field") {
        shown += line["label"].get<std::string>() + " " + line["text"].get<std::string>() + "\n";
      } else if (line["event"] == "box") {
        shown += line["caption"].get<std::string>() + "\n" + line["text"].get<std::string>() + "\n";
      }
    }
    return shown;
  }

  Result last_{};
};

TEST_F(ConsoleJson, APlanThenTheDownloadItDescribesThenTheOutcome) {
  MakeImage("new.bin", "--revision NA02");
  const std::vector<json> lines =
      RunJson("--virtual --json --trace=trace", "open new.bin\nplan\nstart\n");
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(
      lines[0],
      (json{{"format", 1}, {"event", "drive_list"}, {"entry", "BRELMONTCDW/DVD GA-W837CNA00"}}));
  EXPECT_EQ(lines[1], (json{{"format", 1},
                            {"event", "selection"},
                            {"index", 0},
                            {"entry", "BRELMONTCDW/DVD GA-W837CNA00"}}));
  EXPECT_EQ(Shown(lines),
            "Model Name : BRELMONTCDW/DVD GA-W837C\nOld Version : NA00\nNew Version : NA02\n"
            "Download File : NEW.BIN (128 K)\nStatus : Ready\nStatus : Wait..\nStatus : Ok\n"
            "MESSAGE\n  Download Ok!!  \nRestart WINDOWS\n");

  const std::vector<json> plans = Events(lines, "plan");
  ASSERT_EQ(plans.size(), 1u);
  const json& plan = plans[0];
  const json expected = json::parse(R"({"would_download": true, "flash_state": 1, "code": null,
      "then": "restart", "final_timeout_seconds": 60, "progress_seconds": 8})");
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(plan[key], value) << key;
  // The download after the plan: its commands but the medium probes, status dropped.
  std::vector<std::string> sent;
  bool started = false;
  for (const std::string& line : testing::ReadLines(folder_ / "trace")) {
    started = started || line.rfind("lock ", 0) == 0 || line.find(" ff0001") != std::string::npos;
    std::istringstream in(line);
    std::string kind, device, cdb, direction, length, status, crc;
    in >> kind >> device >> cdb >> direction >> length >> status >> crc;
    if (started && kind == "scsi")
      sent.push_back("scsi " + device + " " + cdb + " " + direction + " " + length + " " + crc);
  }
  std::vector<std::string> planned;
  for (const json& c : plan["commands"]) {
    planned.push_back(c["line"].get<std::string>());
    EXPECT_EQ(c["direction"], "out");
    EXPECT_EQ(c["length"], 32768);
  }
  EXPECT_EQ(planned, sent);

  const std::vector<json> progress = Events(lines, "progress");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back()["percent"], 100);
  EXPECT_EQ(lines.back(), (json{{"format", 1},
                                {"event", "outcome"},
                                {"outcome", "done"},
                                {"code", "COMPLETE"},
                                {"reason", "the download completed"},
                                {"image", "new.bin"},
                                {"drive", "BRELMONTCDW/DVD GA-W837CNA00"},
                                {"command", nullptr},
                                {"exit_code", 0}}));
}

TEST_F(ConsoleJson, ADiscInTheDriveIsPlannedAsARefusalAndEndsRefused) {
  MakeImage("new.bin", "--revision NA02");
  Write("scenario.json", OneDrive(R"(, "disc": true)"));
  const std::vector<json> lines =
      RunJson("--virtual=scenario.json --json --trace=trace", "open new.bin\nplan\nstart\nexit\n");
  const std::vector<json> plans = Events(lines, "plan");
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0]["would_download"], false);
  EXPECT_EQ(plans[0]["code"], "E4");
  EXPECT_EQ(plans[0]["commands"], json::array());
  EXPECT_EQ(Shown(lines),
            "Model Name : BRELMONTCDW/DVD GA-W837C\nOld Version : NA00\nNew Version : NA02\n"
            "Download File : NEW.BIN (128 K)\nStatus : Ready\n"
            "MESSAGE\nRemove the Disc in the Drive !!\n");
  EXPECT_EQ(lines.back()["outcome"], "refused");
  EXPECT_EQ(lines.back()["code"], "E4");
  EXPECT_EQ(lines.back()["exit_code"], 1);
  EXPECT_EQ(last_.exitCode, 1);
}

TEST_F(ConsoleJson, PlanOptionPrintsThePlanAndEndsWithoutWriting) {
  MakeImage("AUTORUN.BIN", "--revision NA02");
  const Result r = Run("--virtual --plan --trace=trace", "");
  EXPECT_EQ(r.exitCode, 0);
  const std::vector<std::string> out = Lines(r.out);
  ASSERT_GE(out.size(), 8u);
  EXPECT_EQ(out[out.size() - 8], "Plan : would download (FlashState 1)");
  EXPECT_EQ(out[out.size() - 7], "Plan : image AUTORUN.BIN, 4 commands to device 0");
  EXPECT_EQ(out.back(), "Plan : then restart the machine");
  for (const std::string& line : testing::ReadLines(folder_ / "trace")) {
    EXPECT_EQ(line.find(" ff0001"), std::string::npos) << "written: " << line;
  }
}

// The outcome and the exit status tell a flashed drive from a refused start and from a failed
// write, and a failed write names the command that failed as the trace wrote it, the first one of
// the write and not a refused probe before it; a -LIVE run lists the log's codes as its file holds
// them. The first block is the drive's 16th command after a manual open and its 17th in an
// automatic run; the final command two later.
TEST_F(ConsoleJson, TheOutcomeNamesHowTheRunEndedAndTheLogIsListedAsWritten) {
  struct Row {
    const char* options;   // "-LIVE" runs AUTORUN.BIN, otherwise new.bin is opened and started
    const char* platform;  // the scenario's
    const char* drive;     // added to the drive's scenario entry
    int exitCode;          // 0: done, 1: refused, 2: failed
    const char* code;
    const char* shown;    // a field or a box on the way
    const char* command;  // the failed one, but for its device, direction and residual
  };
  const Row rows[] = {
      {"-LIVE", "nt", "", 0, "COMPLETE", "Status : Ok\n", "null"},
      {"-LIVE", "nt", R"(, "disc": true)", 1, "E4", "Status : READY\n", "null"},
      {"-LIVE", "nt", R"(, "faults": [{"at": 17, "status": "check", "sense": [5, 36, 0]}])", 2,
       "E6", "Status : Wait..\n",
       R"({"cdb": "ff0001000000000000000000", "length": 32768, "status": "04",
           "timed_out": false, "os": null})"},
      {"", "nt", R"(, "faults": [{"at": 16, "status": "check", "sense": [3, 12, 0]}])", 2, "E6",
       "MESSAGE\nFlash Cmd Fail!!\n",
       R"({"cdb": "ff0001000000000000000000", "length": 32768, "status": "04",
           "timed_out": false, "os": null})"},
      {"", "nt", R"(, "faults": [{"at": 17, "status": "timeout"}])", 2, "E6",
       "MESSAGE\nFlash Cmd Fail!!\n",
       R"({"cdb": "ff00010000ff000000000000", "length": 32768, "status": "ff", "timed_out": true,
           "os": {"code": 121, "host_status": 0, "driver_status": 0}})"},
      {"", "nt", R"(, "faults": [{"at": 18, "status": "check", "sense": [3, 12, 0]}])", 2, "E7",
       "MESSAGE\n Download Fail!! \n",
       R"({"cdb": "ff0001000010000000000000", "length": 16384, "status": "04",
           "timed_out": false, "os": null})"},
      {"-LIVE", "linux", R"(, "faults": [{"at": 19, "status": "timeout"}])", 2, "E7",
       "Status : Fail\n",
       R"({"cdb": "ff0001000010000000000000", "length": 16384, "status": "ff", "timed_out": true,
           "os": {"code": 0, "host_status": 3, "driver_status": 0}})"},
  };
  const char* const kOutcomes[] = {"done", "refused", "failed"};  // by exit status
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.options) + " " + row.platform + row.drive);
    for (const char* name : {"AUTORUN.BIN", "new.bin", "trace", "VELTRAN.TMP"}) {
      std::filesystem::remove(folder_ / name);
    }
    const bool live = row.options[0] != '\0';
    MakeImage(live ? "AUTORUN.BIN" : "new.bin",
              "--revision NA02 --block-kb 32 --blocks 3 --size 81920");
    Write("scenario.json", OneDrive(row.drive, R"("platform": ")"s + row.platform + "\", "));
    const std::vector<json> lines =
        RunJson(std::string(row.options) + " --json --virtual=scenario.json --trace=trace",
                live ? "" : "open new.bin\nstart\n");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(last_.exitCode, row.exitCode);
    EXPECT_NE(Shown(lines).find(row.shown), std::string::npos) << Shown(lines);
    const json& outcome = lines.back();
    EXPECT_EQ(outcome["event"], "outcome");
    EXPECT_EQ(outcome["outcome"], kOutcomes[row.exitCode]);
    EXPECT_EQ(outcome["code"], row.code);
    EXPECT_EQ(outcome["exit_code"], row.exitCode);
    json expected = json::parse(row.command);
    if (expected.is_null()) {
      EXPECT_EQ(outcome["command"], nullptr);
    } else {
      expected.update(json{{"device", 0}, {"direction", "out"}, {"residual", 0}});
      json named = outcome["command"];
      ASSERT_TRUE(named.is_object()) << outcome;
      const std::string line = named["line"].get<std::string>();
      named.erase("line");
      EXPECT_EQ(named, expected);
      // The trace's own line: the one command of the download that did not succeed.
      std::vector<std::string> failedInTrace;
      for (const std::string& traced : testing::ReadLines(folder_ / "trace")) {
        if (traced.rfind("scsi 0 ff0001", 0) == 0 && traced.find(" 01 ") == std::string::npos)
          failedInTrace.push_back(traced);
      }
      EXPECT_EQ(failedInTrace, std::vector<std::string>{line});
    }

    std::string logged;
    for (const json& event : Events(lines, "log")) {
      EXPECT_EQ(event["written"], true);
      logged += event["code"].get<std::string>() + "\n";
    }
    EXPECT_EQ(logged, Slurp("VELTRAN.TMP"));
    if (live) {  // the log begins with the start and ends with the outcome's code
      EXPECT_EQ(logged.rfind("START\n", 0), 0u) << logged;
      EXPECT_TRUE(logged.ends_with(row.code + "\n"s)) << logged;
    }
  }
}

// A second start in the same scope ends at once with exit status 3. Its message goes to standard
// output in the plain form and to standard error in the JSON form, so that a script reading
// standard output never meets a line that is not JSON.
TEST_F(ConsoleJson, ASecondStartSaysTheToolIsRunningAndLeavesTheJsonEmpty) {
  // The first instance reads its commands from a pipe this test holds open and prints into
  // another: its first line shows that it holds the lock, and it runs until told to exit.
  ASSERT_EQ(mkfifo((folder_ / "first.in").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((folder_ / "first.out").c_str(), 0600), 0);
  const std::string first = "cd '" + folder_.string() +
                            "' && ('" VELTRAN_CONSOLE "' --virtual --json <first.in >first.out &)";
  ASSERT_EQ(std::system(first.c_str()), 0);
  // Opened in the order the shell opens them, each open waits for the other end.
  std::ofstream commands(folder_ / "first.in");
  std::ifstream output(folder_ / "first.out");
  std::string line;
  ASSERT_TRUE(std::getline(output, line));

  const Result plain = Run("--virtual", "");
  EXPECT_EQ(plain.exitCode, 3);
  EXPECT_EQ(plain.out, "veltran is already running.\n");
  EXPECT_TRUE(RunJson("--virtual --json", "").empty());
  EXPECT_EQ(last_.exitCode, 3);
  EXPECT_EQ(last_.err, "veltran is already running.\n");
  EXPECT_TRUE(RunJson("--help --json", "").empty());
  EXPECT_NE(last_.err.find("usage: veltran"), std::string::npos);

  commands << "exit\n" << std::flush;
  commands.close();
  std::vector<json> firstLines;
  while (std::getline(output, line)) firstLines.push_back(json::parse(line));
  ASSERT_FALSE(firstLines.empty());
  EXPECT_EQ(firstLines.back()["outcome"], "done");
}

}  // namespace
}  // namespace veltran
