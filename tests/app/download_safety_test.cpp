// What keeps a download from hanging, from writing a drive that another program holds, and from
// losing track of the restart while the final command runs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/download.h"
#include "app/download_rig.h"

namespace veltran {
namespace {

using testing::DownloadRun;
using testing::Drives;
using testing::kLive;
using testing::kTur;
using testing::ThreeBlockImage;

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
    run.PutAutorun(ThreeBlockImage());
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
  for (const char* commandLine : {kLive, "veltran.exe"}) {
    SCOPED_TRACE(commandLine);
    DownloadRun run(R"("lock": "held")", commandLine);
    run.PutAutorun(ThreeBlockImage());
    run.Run();
    std::vector<std::string> expected(5, kTur);
    expected.emplace_back("lock 0 on fail");
    EXPECT_EQ(run.DownloadTrace(), expected);
    EXPECT_TRUE(run.machine().drives()[0]->receivedImages().empty());
    EXPECT_FALSE(run.window().Saw("busy"));
    const bool live = commandLine == std::string(kLive);
    if (live) {
      EXPECT_EQ(run.LiveLog().back(), "E5");
    }
    EXPECT_EQ(run.window().boxes,
              live ? std::vector<std::string>{}
                   : std::vector<std::string>{
                         "MESSAGE|The Drive is in Use by Another Program !!\nClose that program "
                         "and attempt again.|error|modal"});
    EXPECT_EQ(run.window().closed, live);
    EXPECT_EQ(run.form().state().FlashState, FlashState::kReady);
  }
}

TEST(ExclusiveLock, PlatformWithoutTheLockGoesOn) {
  DownloadRun run(R"("lock": "unsupported", "program_seconds": 3)", kLive);
  run.PutAutorun(ThreeBlockImage());
  run.Run();
  const std::vector<std::string> trace = run.DownloadTrace();
  EXPECT_TRUE(std::none_of(trace.begin(), trace.end(),
                           [](const std::string& l) { return l.starts_with("lock"); }));
  EXPECT_EQ(run.machine().drives()[0]->revision(), "NA01");
  EXPECT_EQ(run.LiveLog().back(), "COMPLETE");
}

// Once the worker no longer runs, the restart's hold is already 0: a start that saw the worker
// gone can never have its own hold cleared by the worker before. Watched over many downloads.
TEST(FinalCommand, WorkerClearsTheHoldBeforeItStopsRunning) {
  int violations = 0;
  int watched = 0;
  for (int round = 0; round < 40; ++round) {
    DownloadRun run(R"("program_seconds": 1)", kLive);
    run.PutAutorun(testing::TrailerImage(12 * testing::kKB, testing::Fields(32, 1)));
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
