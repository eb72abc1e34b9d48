// What keeps a download from hanging, from writing a drive that another program holds, and from
// losing track of the drive or the restart while the final command runs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/download.h"
#include "app/download_rig.h"
#include "app/image_builder.h"

namespace veltran {
namespace {

using namespace std::chrono_literals;

using testing::DownloadRun;
using testing::Drives;
using testing::HeaderFields;

constexpr const char* kLive = "veltran.exe -LIVE";
constexpr const char* kTur = "scsi 0 000000000000 in 0 04 00000000";
constexpr const char* kDriveInUse =
    "MESSAGE|The Drive is in Use by Another Program !!\nClose that program and attempt "
    "again.|error|modal";
constexpr std::size_t kKB = 1024;

std::vector<std::uint8_t> Image() {
  return testing::TrailerImage(80 * kKB, HeaderFields{.ident = "BRELMONTCDW/DVD GA-W837C",
                                                      .revision = "NA01",
                                                      .blockSizeKB = 32,
                                                      .blockCount = 3,
                                                      .type = 4,
                                                      .prefix = "NA "});
}

bool AnyScsi(const std::vector<std::string>& trace) {
  return std::any_of(trace.begin(), trace.end(),
                     [](const std::string& line) { return line.starts_with("scsi "); });
}

// A test option without a drive: the automatic start runs its course to the image it cannot
// send and ends the program, without a command for a device.
TEST(NoDrive, AutomaticStartLogsItsStepsAndCloses) {
  const struct {
    const char* commandLine;
    bool refusedImage;
    std::vector<std::string> log;
  } rows[] = {
      {"veltran.exe -TEST", false, {"E3", "P1", "P4", "P5", "E1"}},
      {kLive, false, {"START", "E3", "P1", "P4", "P5", "E1"}},
      {kLive, true, {"START", "E3", "P1", "P2", "P4", "P5", "E1"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.commandLine) + (row.refusedImage ? ", refused image" : ""));
    DownloadRun run(Drives{"[]"}, row.commandLine);
    if (row.refusedImage) run.PutAutorun(std::vector<std::uint8_t>(1000, 0x5A));
    run.Run();
    const bool live = std::string(row.commandLine).find("-LIVE") != std::string::npos;
    EXPECT_EQ(live ? run.LiveLog() : run.TestLog(), row.log);
    EXPECT_TRUE(run.window().closed);
    EXPECT_TRUE(run.window().Saw("Timer3 off"));
    EXPECT_FALSE(AnyScsi(run.TraceLines())) << ::testing::PrintToString(run.TraceLines());
  }
}

// The Start button without a drive: an image that cannot be sent is said so; one that could
// is not sent, and the start fails as its first command would have.
TEST(NoDrive, StartButtonSendsNothing) {
  for (bool loaded : {false, true}) {
    SCOPED_TRACE(loaded ? "image loaded with -NOCHECK" : "no image");
    DownloadRun run(Drives{"[]"}, "veltran.exe -NOCHECK");
    run.PutAutorun(Image());
    const std::string path = (run.Folder() / "AUTORUN.BIN").string();
    std::filesystem::rename(path, path + ".bin");
    run.Run([&run, loaded, &path](MainForm& form) {
      if (loaded) form.ToolButton1Click(path + ".bin");
      run.window().boxes.clear();
      form.ToolButton2Click();
    });
    const std::string box = loaded ? "MESSAGE|Flash Cmd Fail!!|error|modal"
                                   : "MESSAGE|Flash File Not Opened!!|error|modal";
    EXPECT_EQ(run.window().boxes, std::vector<std::string>{box});
    EXPECT_EQ(run.window().closed, loaded);
    EXPECT_TRUE(run.TraceLines().empty()) << ::testing::PrintToString(run.TraceLines());
  }
}

// A drive that another program holds is refused before the first write and its lock is not
// given back; a platform without the lock goes on without it.
TEST(ExclusiveLock, HeldDriveIsRefusedBeforeTheFirstWrite) {
  const struct {
    const char* lock;
    const char* commandLine;
  } rows[] = {{"held", kLive}, {"held", "veltran.exe"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.commandLine);
    DownloadRun run(std::string(R"("lock": ")") + row.lock + "\"", row.commandLine);
    run.PutAutorun(Image());
    run.Run();
    std::vector<std::string> expected(5, kTur);
    expected.push_back("lock 0 on fail");
    EXPECT_EQ(run.DownloadTrace(), expected);
    const auto& drive = *run.machine().drives()[0];
    EXPECT_TRUE(drive.receivedImages().empty());
    EXPECT_EQ(drive.revision(), "NA00");
    EXPECT_FALSE(run.window().Saw("busy"));
    if (std::string(row.commandLine) == kLive) {
      EXPECT_EQ(run.LiveLog().back(), "E5");
      EXPECT_TRUE(run.window().boxes.empty());
      EXPECT_TRUE(run.window().closed);
    } else {
      EXPECT_EQ(run.window().boxes, std::vector<std::string>{kDriveInUse});
      EXPECT_FALSE(run.window().closed);
    }
    EXPECT_EQ(run.form().state().FlashState, FlashState::kReady);
  }
}

TEST(ExclusiveLock, PlatformWithoutTheLockGoesOn) {
  DownloadRun run(R"("lock": "unsupported", "program_seconds": 3)", kLive);
  run.PutAutorun(Image());
  run.Run();
  const std::vector<std::string> trace = run.DownloadTrace();
  EXPECT_TRUE(std::none_of(trace.begin(), trace.end(),
                           [](const std::string& l) { return l.starts_with("lock"); }));
  EXPECT_EQ(run.machine().drives()[0]->revision(), "NA01");
  EXPECT_EQ(run.LiveLog().back(), "COMPLETE");
}

// While the final command runs another drive may not be chosen, and the list shows the drive
// being written again.
TEST(FinalCommand, RefusedDriveChangePutsTheShownDriveBack) {
  const std::string drive = R"({"letter": "e", )" + std::string(testing::kBrelmontInquiry) +
                            R"(, "program_seconds": 1, "hold_real_seconds": 1})";
  const std::string other = R"({"letter": "f", )" + std::string(testing::kBrelmontInquiry) + "}";
  DownloadRun run(Drives{"[" + drive + ", " + other + "]"}, kLive);
  run.PutAutorun(Image());
  std::vector<std::string> after;
  std::thread requests([&run, &after] {
    for (int i = 0; i < 5000 && !run.formReady(); ++i) std::this_thread::sleep_for(1ms);
    for (int i = 0; i < 5000 && !run.form().FinalCommandRunning(); ++i) {
      std::this_thread::sleep_for(1ms);
    }
    run.window().Post([&run, &after] {
      run.form().ComboBox1Change(1);
      after = {run.window().events.back(), std::to_string(run.form().state().SelectedDrive)};
    });
  });
  run.Run();
  requests.join();
  EXPECT_EQ(after, (std::vector<std::string>{"select 0", "0"}));
  EXPECT_EQ(run.machine().drives()[0]->revision(), "NA01");
}

// Once the worker no longer runs, the restart's hold is already 0: a start that saw the worker
// gone can never have its own hold cleared by the worker before. Watched over many downloads.
TEST(FinalCommand, WorkerClearsTheHoldBeforeItStopsRunning) {
  int violations = 0;
  int watched = 0;
  for (int round = 0; round < 40; ++round) {
    DownloadRun run(R"("program_seconds": 1)", kLive);
    run.PutAutorun(testing::TrailerImage(12 * kKB, HeaderFields{.ident = "BRELMONTCDW/DVD GA-W837C",
                                                                .revision = "NA01",
                                                                .blockSizeKB = 32,
                                                                .blockCount = 1,
                                                                .type = 4,
                                                                .prefix = "NA "}));
    std::atomic<bool> done{false};
    std::thread watcher([&run, &done, &violations, &watched] {
      while (!done.load() && !run.formReady()) std::this_thread::yield();
      if (done.load()) return;
      const Download& download = run.form().download();
      bool seenRunning = false;
      while (!done.load()) {
        const bool running = download.FinalCommandRunning();
        const int hold = download.RestartHold();
        if (running) seenRunning = true;
        if (seenRunning && !running) {
          ++watched;
          if (hold != 0) ++violations;
          return;
        }
      }
    });
    run.Run();
    done.store(true);
    watcher.join();
  }
  EXPECT_EQ(violations, 0);
  EXPECT_GT(watched, 0);
}

}  // namespace
}  // namespace veltran
