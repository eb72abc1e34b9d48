// The dry run against the download it describes: for each transfer form the plan and the real
// download of the same scenario send the same commands, CDBs, lengths and data; a refusal is
// named with its code and sends nothing but TEST UNIT READY.
#include "app/plan.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "app/download.h"
#include "app/download_rig.h"

namespace veltran {
namespace {

using testing::DownloadRun;
using testing::Fields;
using testing::kKB;
using testing::TrailerImage;

constexpr const char* kTurCdb = "000000000000";

// A scsi trace line as the plan spells it: the status dropped, no CRC for data the drive sent.
std::optional<std::string> AsPlanned(const std::string& traceLine) {
  std::istringstream in(traceLine);
  std::string kind, device, cdb, direction, length, status, crc;
  in >> kind >> device >> cdb >> direction >> length >> status >> crc;
  if (kind != "scsi" || cdb == kTurCdb) return std::nullopt;
  return "scsi " + device + " " + cdb + " " + direction + " " + length + " " +
         (direction == "in" ? "-" : crc);
}

struct PlanFormCase {
  const char* name;
  std::vector<std::uint8_t> (*image)();
  const char* commandLine;
  std::size_t commands;
};

void PrintTo(const PlanFormCase& c, std::ostream* os) { *os << c.name; }

const PlanFormCase kPlanForms[] = {
    {"BlockForm", testing::ThreeBlockImage, "veltran.exe -LIVE", 3},
    {"BlockFormOneCommand", [] { return TrailerImage(48 * kKB, Fields(32, 1)); }, "veltran.exe", 1},
    {"Form64K", [] { return TrailerImage(64 * kKB, Fields(32, 2)); }, "veltran.exe -LIVE", 1},
    {"FixedHeaderForm", [] { return testing::FixedHeaderImage(96 * kKB, Fields(32, 0)); },
     "veltran.exe -TEST", 7},
};

class PlanAgainstDownload : public ::testing::TestWithParam<PlanFormCase> {};

TEST_P(PlanAgainstDownload, TheSameCommandsAsTheDownloadThatFollows) {
  const PlanFormCase& c = GetParam();
  DownloadRun run(R"("program_seconds": 3)", c.commandLine);
  run.PutAutorun(c.image());
  DownloadPlan plan;
  std::size_t tracedByPlan = 0;
  // The plan runs before the automatic start, which then downloads for real.
  run.Run([&](MainForm& form) {
    const std::size_t before = run.TraceLines().size();
    plan = PlanDownload(form.state(), run.transport(), run.system());
    tracedByPlan = run.TraceLines().size() - before;
  });
  ASSERT_TRUE(plan.wouldDownload) << plan.reason;
  EXPECT_EQ(tracedByPlan, 5u) << "the plan sends the medium probes and nothing else";
  EXPECT_EQ(run.machine().drives()[0]->revision(), "NA01") << "the download after it flashed";

  std::vector<std::string> downloaded;
  for (const std::string& line : run.DownloadTrace()) {
    if (const auto planned = AsPlanned(line)) downloaded.push_back(*planned);
  }
  std::vector<std::string> planned;
  for (const PlannedCommand& command : plan.commands) planned.push_back(command.Line());
  EXPECT_EQ(planned.size(), c.commands);
  EXPECT_EQ(planned, downloaded);

  const std::int32_t size = run.form().state().image.ImageSize;
  EXPECT_EQ(plan.finalTimeoutSeconds, FinalCommandTimeoutSeconds(size));
  EXPECT_EQ(plan.progressSeconds, ExpectedProgressTicks(size));
  EXPECT_EQ(plan.restartAfter, std::string(c.commandLine) == "veltran.exe");
  const std::vector<std::string> lines = PlanLines(plan);
  EXPECT_EQ(lines.front(), "would download (FlashState 1)");
  EXPECT_EQ(lines[lines.size() - 3], "final " + planned.back() + " time-out " +
                                         std::to_string(plan.finalTimeoutSeconds) + " s");
}

INSTANTIATE_TEST_SUITE_P(Plan, PlanAgainstDownload, ::testing::ValuesIn(kPlanForms),
                         [](const auto& param) { return std::string(param.param.name); });

struct PlanRefusalCase {
  const char* name;
  const char* platform;
  const char* driveExtra;
  const char* commandLine;
  const char* code;
  const char* reason;
  bool darlowe = false;       // the one drive whose DMA setting is checked
  bool imageChanged = false;  // the file changes after loading and is put back after the plan
};

void PrintTo(const PlanRefusalCase& c, std::ostream* os) { *os << c.name; }

const PlanRefusalCase kRefusals[] = {
    {"DiscWouldBeEjected", "nt", R"("disc": true)", "veltran.exe", "E4",
     "would refuse: a disc is in the drive (FlashState 4, E4; a box would say so; the drive "
     "would be ejected)"},
    {"DiscWithTestOptionIsLogged", "nt", R"("disc": true)", "veltran.exe -LIVE", "E4",
     "would refuse: a disc is in the drive (FlashState 4, E4; logged, then the tool would "
     "close)"},
    {"DmaOnLinux", "linux", R"("transfer_mode": "UDMA/33")", "veltran.exe", "E8",
     "would refuse: the drive runs in DMA mode (FlashState 2, E8; a box would say so, then the "
     "tool would close)",
     true},
    {"ImageChangedSinceLoading", "nt", "", "veltran.exe", "E1",
     "would refuse: the image cannot be opened or has changed since it was loaded (E1; a box "
     "would say so)",
     false, true},
};

class PlanRefusal : public ::testing::TestWithParam<PlanRefusalCase> {};

TEST_P(PlanRefusal, NamesTheVerdictAndSendsOnlyTheMediumProbes) {
  const PlanRefusalCase& c = GetParam();
  DownloadRun run(c.driveExtra, c.commandLine, "", c.platform,
                  c.darlowe ? testing::kDarloweInquiry : testing::kBrelmontInquiry);
  testing::HeaderFields fields = Fields(32, 3);
  if (c.darlowe)
    fields = {.ident = "DARLOWE CD-ROM JR-906   ", .revision = "JR11", .prefix = "JR "};
  run.PutAutorun(TrailerImage(80 * kKB, fields));
  DownloadPlan plan;
  std::vector<std::string> traced;
  run.Run([&](MainForm& form) {
    // The start refuses a file that changed since it was loaded; so must the plan.
    if (c.imageChanged) run.PutAutorun(TrailerImage(96 * kKB, fields));
    const std::size_t before = run.TraceLines().size();
    plan = PlanDownload(form.state(), run.transport(), run.system());
    const std::vector<std::string> all = run.TraceLines();
    traced.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    if (c.imageChanged) run.PutAutorun(TrailerImage(80 * kKB, fields));
    // Nothing of the tool's state changed: the start that follows finds it as before.
    EXPECT_EQ(form.state().FlashState, FlashState::kReady);
  });
  EXPECT_FALSE(plan.wouldDownload);
  EXPECT_EQ(plan.code, c.code);
  EXPECT_EQ(plan.reason, c.reason);
  EXPECT_EQ(PlanLines(plan), std::vector<std::string>{c.reason});
  EXPECT_TRUE(plan.commands.empty());
  ASSERT_FALSE(traced.empty());
  for (const std::string& line : traced) {
    EXPECT_EQ(line.rfind("scsi 0 000000000000 ", 0), 0u) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Plan, PlanRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace veltran
