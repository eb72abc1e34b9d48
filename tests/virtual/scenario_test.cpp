// Scenario files: what is accepted, and that every mistake is refused with the file and the place.
#include "virtual/scenario.h"

#include <gtest/gtest.h>

#include "support/virtual_rig.h"

namespace veltran {
namespace {

std::string ErrorOf(const std::string& json) {
  try {
    ParseScenario(json, "bad.json");
  } catch (const ScenarioError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(Scenario, ReadsTheDocumentedExample) {
  const Scenario s = ParseScenario(R"({
    "platform": "nt",
    "drives": [{"letter": "e", "host_adapter": 0, "target": 1,
      "inquiry": {"peripheral": 5, "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C",
                  "revision": "NA00", "prefix": "NA "},
      "vendor_identify_prefix": "KVR", "disc": false, "program_seconds": 3,
      "faults": [{"at": 7, "status": "check", "sense": [5, 36, 0]}]}],
    "registry": {"Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": 1}},
    "processes": ["explorer.exe", "DirectCD.EXE"],
    "restart": "accept"})",
                                   "example.json");
  ASSERT_EQ(s.drives.size(), 1u);
  EXPECT_EQ(s.drives[0].letter, 'e');
  EXPECT_EQ(s.drives[0].vendorIdentifyPrefix, "KVR");
  EXPECT_EQ(s.drives[0].faults[0].at, 7u);
  EXPECT_EQ(s.drives[0].faults[0].sense, (std::array<std::uint8_t, 3>{5, 36, 0}));
  EXPECT_EQ(std::get<std::uint32_t>(
                s.registry.at("Hardware\\DeviceMap\\Scsi\\Scsi Port 0").at("DMAEnabled")),
            1u);
  EXPECT_EQ(s.processes[1].name, "DirectCD.EXE");
  EXPECT_TRUE(s.restartAccepted);
}

TEST(Scenario, MistakesAreRefusedNamingTheFileAndThePlace) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"platform": "nt", "drives": [)", "bad.json: parse error at line 1, column 31"},
      {R"({"drives": [{"letter": "e", "program_seconds": 666E666}]})",
       "bad.json: number overflow parsing '666E666'"},
      {R"({"platform": "os2"})", "bad.json: platform: expected one of \"nt\", \"9x\""},
      {R"({"drives": {}})", "bad.json: drives: expected an array"},
      {R"({"drive": []})", "bad.json: top level: unknown key \"drive\""},
      {R"({"drives": [{"letter": "e", "inquiry": {"vendor": 5}}]})",
       "bad.json: drives[0].inquiry.vendor: expected a string"},
      {R"({"drives": [{"letter": "e", "inquiry": {"vendor": "NINECHARS"}}]})",
       "bad.json: drives[0].inquiry.vendor: longer than 8 characters"},
      {R"({"drives": [{"letter": "E", "inquiry": {}}]})",
       "bad.json: drives[0].letter: expected one lower-case letter from a to z"},
      {R"({"drives": [{"inquiry": {}}]})",
       "bad.json: drives[0]: a drive of an nt machine needs a \"letter\""},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "disc": "yes"}]})",
       "bad.json: drives[0].disc: expected true or false"},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "colour": 1}]})",
       "bad.json: drives[0]: unknown key \"colour\""},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "faults": [{"at": 0, "status": "busy"}]}]})",
       "bad.json: drives[0].faults[0].at: commands are counted from 1"},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "faults": [{"at": 2, "status": "check"}]}]})",
       "bad.json: drives[0].faults[0]: a \"check\" fault needs \"sense\""},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "faults": [{"at": 2, "status": "check", "sense": [5, 300, 0]}]}]})",
       "bad.json: drives[0].faults[0].sense[1]: must be at most 255"},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "faults": [{"at": 2, "status": "slow"}]}]})",
       "bad.json: drives[0].faults[0].status: expected one of \"check\", \"busy\", "
       "\"transport\", \"timeout\", \"gone\""},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "faults": [{"at": 1, "cdb": "ff0", "status": "gone"}]}]})",
       "bad.json: drives[0].faults[0].cdb: expected bytes as pairs of hex digits"},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "faults": [{"at": 1, "cdb": "0x12", "status": "gone"}]}]})",
       "bad.json: drives[0].faults[0].cdb: expected bytes as pairs of hex digits"},
      {R"({"drives": [{"letter": "e", "inquiry": {}, "faults": [{"at": 2, "status": "timeout", "residual": -8}]}]})",
       "bad.json: drives[0].faults[0].residual: expected a whole number from 0 to 4294967295"},
      {R"({"drives": [{"letter": "e", "inquiry": {}}, {"letter": "e", "inquiry": {}}]})",
       "bad.json: drives[1]: letter e is used twice"},
      {R"({"platform": "9x", "drives": [{"target": 8, "inquiry": {}}]})",
       "bad.json: drives[0].target: must be at most 7"},
      {R"({"platform": "9x", "drives": [{"target": -1, "inquiry": {}}]})",
       "bad.json: drives[0].target: expected a whole number from 0 to 7"},
      {R"({"registry": {"Key": {"Value": true}}})",
       "bad.json: registry[\"Key\"][\"Value\"]: expected a whole number from 0 to 4294967295"},
      {R"({"processes": [{"name": "a.exe", "openable": 1}]})",
       "bad.json: processes[0].openable: expected true or false"},
      {R"({"restart": "maybe"})", "bad.json: restart: expected one of \"accept\", \"refuse\""},
      {R"({"drives": [{"letter": "e", "inquiry": {"header": [128, 5, 50, 31, 0, 0]}}]})",
       "bad.json: drives[0].inquiry.header: expected INQUIRY bytes 1 to 7: an array of 7 numbers"},
      {R"({"drives": [{"letter": "e", "inquiry": {"length": 35}}]})",
       "bad.json: drives[0].inquiry.length: must be at least 36"},
      {R"({"drives": [{"letter": "e", "inquiry": {"length": 97}}]})",
       "bad.json: drives[0].inquiry.length: must be at most 96"},
      {R"({"drives": [{"letter": "e", "inquiry": {"additional_length": "some"}}]})",
       "bad.json: drives[0].inquiry.additional_length: expected one of \"full\", \"sent\""},
  };
  for (const auto& [json, message] : cases) {
    EXPECT_EQ(ErrorOf(json).substr(0, message.size()), message) << json;
  }
}

TEST(Scenario, MissingFileIsNamed) {
  const auto path = testing::TempPath("absent") / "scenario.json";
  try {
    LoadScenarioFile(path.string());
    FAIL() << "a missing file was accepted";
  } catch (const ScenarioError& e) {
    EXPECT_EQ(std::string(e.what()), path.string() + ": cannot be opened");
  }
}

}  // namespace
}  // namespace veltran
