// The console's JSON form and its plan as a user's script sees them: every line parses, every
// event matches the scenario, the plan's commands are the download's, and the outcome names how
// the run ended.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/temp_files.h"

namespace veltran {
namespace {

using nlohmann::json;

class ConsoleJson : public ::testing::Test {
 protected:
  // Standard output as JSON lines, and the exit status.
  std::vector<json> Run(const std::string& arguments, const std::string& input) {
    { std::ofstream(folder_ / "input") << input; }
    const std::string command = "cd '" + folder_.string() + "' && '" VELTRAN_CONSOLE "' " +
                                arguments + " <input >out 2>err";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    std::vector<json> lines;
    for (const std::string& line : testing::ReadLines(folder_ / "out")) {
      lines.push_back(json::parse(line));  // throws, failing the test, on anything else
      EXPECT_EQ(lines.back()["format"], 1) << line;
    }
    return lines;
  }

  void Image(const std::string& arguments) {
    const std::string command =
        "'" VELTRAN_MAKE_IMAGE "' " + arguments + " -o '" + (folder_ / "new.bin").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  static std::vector<json> Events(const std::vector<json>& lines, const std::string& kind) {
    std::vector<json> out;
    for (const json& line : lines) {
      if (line["event"] == kind) out.push_back(line);
    }
    return out;
  }

  testing::TempFolder temp_;
  const std::filesystem::path& folder_ = temp_.path();
};

TEST_F(ConsoleJson, APlanThenTheDownloadItDescribesThenTheOutcome) {
  Image("--revision NA02");
  const std::vector<json> lines =
      Run("--virtual --json --trace=trace", "open new.bin\nplan\nstart\n");
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(
      lines[0],
      (json{{"format", 1}, {"event", "drive_list"}, {"entry", "BRELMONTCDW/DVD GA-W837CNA00"}}));
  EXPECT_EQ(lines[1], (json{{"format", 1},
                            {"event", "selection"},
                            {"index", 0},
                            {"entry", "BRELMONTCDW/DVD GA-W837CNA00"}}));
  const std::vector<json> fields = Events(lines, "field");
  std::vector<std::string> shown;
  for (const json& f : fields)
    shown.push_back(f["label"].get<std::string>() + " " + f["text"].get<std::string>());
  EXPECT_EQ(shown,
            (std::vector<std::string>{"Model Name : BRELMONTCDW/DVD GA-W837C", "Old Version : NA00",
                                      "New Version : NA02", "Download File : NEW.BIN (128 K)",
                                      "Status : Ready", "Status : Wait..", "Status : Ok"}));

  const std::vector<json> plans = Events(lines, "plan");
  ASSERT_EQ(plans.size(), 1u);
  const json& plan = plans[0];
  EXPECT_EQ(plan["would_download"], true);
  EXPECT_EQ(plan["flash_state"], 1);
  EXPECT_EQ(plan["code"], nullptr);
  EXPECT_EQ(plan["then"], "restart");
  EXPECT_EQ(plan["final_timeout_seconds"], 60);
  EXPECT_EQ(plan["progress_seconds"], 8);
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
  const std::vector<json> boxes = Events(lines, "box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["caption"], "MESSAGE");
  EXPECT_EQ(boxes[0]["text"], "  Download Ok!!  \nRestart WINDOWS");
  EXPECT_EQ(lines.back(), (json{{"format", 1},
                                {"event", "outcome"},
                                {"outcome", "done"},
                                {"code", "COMPLETE"},
                                {"reason", "the download completed"},
                                {"image", "new.bin"},
                                {"drive", "BRELMONTCDW/DVD GA-W837CNA00"},
                                {"exit_code", 0}}));
}

TEST_F(ConsoleJson, ADiscInTheDriveIsPlannedAsARefusalAndEndsRefused) {
  Image("--revision NA02");
  std::ofstream(folder_ / "scenario.json") << R"({"drives": [{"letter": "e", "disc": true,
    "inquiry": {"peripheral": 5, "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C",
                "revision": "NA00", "prefix": "NA "}}]})";
  const std::vector<json> lines =
      Run("--virtual=scenario.json --json --trace=trace", "open new.bin\nplan\nstart\nexit\n");
  const std::vector<json> plans = Events(lines, "plan");
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0]["would_download"], false);
  EXPECT_EQ(plans[0]["code"], "E4");
  EXPECT_EQ(plans[0]["commands"], json::array());
  const std::vector<json> boxes = Events(lines, "box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Remove the Disc in the Drive !!");
  EXPECT_EQ(lines.back()["outcome"], "refused");
  EXPECT_EQ(lines.back()["code"], "E4");
  EXPECT_EQ(lines.back()["exit_code"], 1);
}

TEST_F(ConsoleJson, PlanOptionPrintsThePlanAndEndsWithoutWriting) {
  Image("--revision NA02");
  std::filesystem::rename(folder_ / "new.bin", folder_ / "AUTORUN.BIN");
  const std::string command = "cd '" + folder_.string() +
                              "' && '" VELTRAN_CONSOLE
                              "' --virtual --plan --trace=trace </dev/null >out";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<std::string> out = testing::ReadLines(folder_ / "out");
  ASSERT_GE(out.size(), 8u);
  EXPECT_EQ(out[out.size() - 8], "Plan : would download (FlashState 1)");
  EXPECT_EQ(out[out.size() - 7], "Plan : image AUTORUN.BIN, 4 commands to device 0");
  EXPECT_EQ(out.back(), "Plan : then restart the machine");
  for (const std::string& line : testing::ReadLines(folder_ / "trace")) {
    EXPECT_EQ(line.find(" ff0001"), std::string::npos) << "written: " << line;
  }
}

}  // namespace
}  // namespace veltran
