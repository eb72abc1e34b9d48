// "veltran-probe --json": the document for a machine of several drives, each field against what
// the scenario gives the drive, escaped as the text report escapes it.
#include "probe/probe_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "probe/drive_report.h"
#include "support/temp_files.h"

namespace veltran {
namespace {

using nlohmann::json;

constexpr const char* kScenario = R"({
  "platform": "linux",
  "drives": [
    { "letter": "d", "inquiry": { "vendor": "AB\u0001\\", "product": "CDW/DVD\u007fX",
                                  "revision": "R\u00011" },
      "transfer_mode": "XFER_UDMA_5" },
    { "letter": "e", "inquiry": { "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C",
                                  "revision": "BOOT" } },
    { "letter": "f", "inquiry": { "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C",
                                  "revision": "NA00", "prefix": "na " },
      "vendor_identify_prefix": "KVR", "transfer_mode": "PIO4" }
  ]
})";

json Drive(int position, const char* entry, const char* identity, const char* revision,
           const char* prefix, const char* source, bool boot, json mode) {
  return {{"position", position},    {"device", position},
          {"list_entry", entry},     {"identity", identity},
          {"revision", revision},    {"prefix", prefix},
          {"prefix_source", source}, {"boot_mode", boot},
          {"com_variant", false},    {"transfer_mode", std::move(mode)}};
}

TEST(ProbeJson, EveryDriveInListOrderWithEachField) {
  testing::TempFile scenario("probe-scenario.json");
  const std::string_view text(kScenario);
  testing::WriteFile(scenario.path(), {text.begin(), text.end()});
  Platform platform(PlatformOptions{scenario.path().string(), ""});
  const std::string document =
      FormatJsonReport(ScanAndIdentify(platform), {"/dev/sg3: add yourself to group cdrom"});

  const json expected = {
      {"format", 1},
      {"drives",
       {Drive(0, "AB\\x01\\x5c    CDW/DVD\\x7fX       R\\x011 ",
              "AB\\x01\\x5c    CDW/DVD\\x7fX       ", "R\\x011 ", "\\x00\\x00\\x00", "inquiry",
              false, "XFER_UDMA_5"),
        Drive(1, "BRELMONTCDW/DVD GA-W837CBOOT", "BRELMONTCDW/DVD GA-W837C", "BOOT",
              "\\x00\\x00\\x00", "inquiry", true, nullptr),
        Drive(2, "BRELMONTCDW/DVD GA-W837CNA00", "BRELMONTCDW/DVD GA-W837C", "NA00", "NA ",
              "vendor-identify", false, "PIO4")}},
      {"notices", {"/dev/sg3: add yourself to group cdrom"}},
  };
  EXPECT_EQ(json::parse(document), expected) << document;
}

TEST(ProbeJson, AMachineWithoutDrivesIsAnEmptyList) {
  const std::string text = FormatJsonReport({}, {});
  EXPECT_EQ(json::parse(text),
            (json{{"format", 1}, {"drives", json::array()}, {"notices", json::array()}}));
}

}  // namespace
}  // namespace veltran
