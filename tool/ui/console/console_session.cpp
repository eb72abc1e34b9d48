#include "console_session.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "app/event_loop.h"
#include "app/main_form.h"
#include "app/plan.h"
#include "console_input.h"
#include "console_json.h"
#include "console_window.h"
#include "instance_lock.h"
#include "platform/platform.h"
#include "signal_watch.h"

namespace veltran {
namespace {

constexpr const char* kUsage =
    "usage: veltran [-NOCHECK] [-TEST] [-LIVE] [--plan] [--json] [--virtual[=SCENARIO]]\n"
    "               [--trace=FILE]\n"
    "  --plan      print the plan of a download after start-up and end (nothing is written)\n"
    "  --json      every event as one JSON object a line, then the outcome\n"
    "Commands, one a line on standard input:\n"
    "  open PATH   open a firmware image (open without a path: the dialog was cancelled)\n"
    "  drive N     select the drive at list position N, from 0\n"
    "  start       start the download (the Start Download button)\n"
    "  plan        what a start would do: its verdict, or every command it would send\n"
    "  info        the download file information (F9)\n"
    "  about       the About box\n"
    "  exit        close the tool\n"
    "Exit status:\n"
    "  0  the run ended normally: a download completed, or none was started\n"
    "  1  a start was refused before any write (a refusal box; log codes E1 to E5)\n"
    "  2  a download failed during the write (log codes E6, E7)\n"
    "  3  the tool did not run: another one runs, or bad options or scenario\n";

constexpr const char* kUpdateInProgress =
    "The firmware update is in progress; veltran ends when it is done. Do not switch off the "
    "computer.\n";

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) line += (line.empty() ? "" : " ") + a;
  return line;
}

std::string InstanceScope(const PlatformOptions& options) {
  if (!options.scenario) return "machine";
  std::error_code ignored;
  return "virtual:" + std::filesystem::current_path(ignored).string();
}

// With "--json" standard output holds JSON only: every plain line goes to standard error.
bool WantsJson(const std::vector<std::string>& arguments) {
  return arguments.size() > 1 &&
         std::find(arguments.begin() + 1, arguments.end(), "--json") != arguments.end();
}

// The ways of running besides the interactive text form.
struct ConsoleModes {
  bool planOnly = false;
  bool json = false;
};

class ConsoleSession {
 public:
  ConsoleSession(Platform& platform, const ConsoleStreams& streams, std::string commandLine,
                 ConsoleModes modes = {})
      : modes_(modes),
        json_(streams.out),
        streams_(streams),
        platform_(platform),
        loop_(platform.system().clock()),
        window_(
            streams.out, [this] { WaitForEnter(); }, loop_, streams.outTerminal),
        form_(platform.system(), platform.transport(), window_,
              MainFormEnvironment{std::move(commandLine), "", TestLogPlaces::DefaultLogRoot(),
                                  LogObserver(modes)}) {
    if (!modes_.json) return;
    window_.SetJson(&json_);
    platform.transport().SetCommandObserver(
        [this](u8 device, const CommandRequest& request, const CommandResult& result) {
          json_.Command(device, request, result);
        });
  }

  // Returns the run's exit status.
  int Run() {
    std::optional<SignalWatch> signals;
    if (streams_.handleSignals) signals.emplace([this](int) { OnEndSignal(); });
    input_ =
        std::make_unique<ConsoleInput>(streams_.in, [this] { loop_.Post([this] { OnInput(); }); });
    window_.outcome().BeginAttempt();  // the automatic load refuses an image with a box
    form_.FormCreate();
    for (const std::string& notice : platform_.transport().ScanNotices()) {
      std::fprintf(streams_.err, "veltran: %s\n", notice.c_str());
    }
    if (!window_.closed()) form_.FormShow();
    window_.outcome().EndAttempt();
    {
      std::lock_guard lock(startUpMutex_);
      startingUp_ = false;
    }
    if (!window_.closed()) {
      if (modes_.planOnly) {
        ShowPlan();
      } else {
        loop_.Run([this](TimerId timer) { Fire(timer); });
      }
    }
    return ExitCodeFor(window_.outcome().Outcome());
  }

  // The last line of a JSON run: how it ended.
  void Finish() {
    if (modes_.json) json_.Outcome(form_.state(), window_.outcome().Outcome());
  }

 private:
  // On the signal thread. Start-up sends nothing that changes a drive, and a box there may wait
  // for Enter with no loop running yet: a request to end then ends the program at once. Later
  // it becomes a request to the loop, which holds it while the final command runs; a box that
  // waits for Enter stops waiting so that the loop gets to it.
  void OnEndSignal() {
    {
      std::lock_guard lock(startUpMutex_);
      if (startingUp_) std::_Exit(ExitCodeFor(window_.outcome().Outcome()));
    }
    loop_.Post([this] { RequestEnd(false); });
    if (input_) input_->StopWaiting();
  }

  TestLog::Observer LogObserver(ConsoleModes modes) {
    if (!modes.json) return {};
    return [this](std::string_view code, bool written) { json_.Log(code, written); };
  }

  void ShowPlan() {
    if (form_.FinalCommandRunning()) {
      std::fputs("veltran: plan: a download is under way\n", streams_.err);
      return;
    }
    const DownloadPlan plan =
        PlanDownload(form_.state(), platform_.transport(), platform_.system());
    if (modes_.json) {
      json_.Plan(plan);
    } else {
      PrintPlanText(streams_.out, plan);
    }
  }

  void WaitForEnter() {
    if (streams_.interactive && input_) input_->WaitForLine();
  }

  void Fire(TimerId timer) {
    // Timer3 is the automatic start.
    if (timer == TimerId::kTimer3) window_.outcome().BeginAttempt();
    form_.OnTimer(timer);
    window_.outcome().EndAttempt();
    EndIfRequestedAndIdle();
  }

  void OnInput() {
    if (window_.closed()) return;
    if (const std::optional<std::string> line = input_->TakeLine()) {
      Execute(*line);
    } else if (input_->ended()) {
      RequestEnd(true);
    }
    EndIfRequestedAndIdle();
  }

  // End of input, "exit" or a signal: the program ends now, or once the download has finished.
  // Only the end of input waits for an automatic start still to come (an unattended run reads
  // no commands); "exit" and a signal cancel it.
  void RequestEnd(bool waitForAutomaticStart) {
    if (!form_.FormCloseQuery()) {
      if (!endRequested_) std::fputs(kUpdateInProgress, modes_.json ? streams_.err : streams_.out);
      std::fflush(streams_.out);
    } else if (!waitForAutomaticStart && !form_.DownloadUnderWay()) {
      window_.Close();
      return;
    }
    endRequested_ = true;
    EndIfRequestedAndIdle();
  }

  // An end asked for comes once the core may end and no work posted to the loop is left, since
  // that work may still start or restart something.
  void EndIfRequestedAndIdle() {
    if (!endRequested_ || window_.closed()) return;
    if (form_.MayEnd() && !loop_.WorkPending()) window_.Close();
  }

  void Execute(const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    if (command.empty()) return;
    if (command == "open") {
      form_.ToolButton1Click(argument.empty() ? std::nullopt : std::optional(argument));
    } else if (command == "drive") {
      SelectDrive(argument);
    } else if (command == "start") {
      window_.outcome().BeginAttempt();
      form_.ToolButton2Click();
      window_.outcome().EndAttempt();
    } else if (command == "plan") {
      ShowPlan();
    } else if (command == "info") {
      form_.FormKeyDown(kKeyF9);
    } else if (command == "about") {
      const AboutBoxText about;
      window_.ShowBox(about.title, std::string(about.version) + "\n" + std::string(about.caption) +
                                       "\n" + std::string(about.credits) + "\n" +
                                       std::string(about.date) + "\n" + std::string(about.maker));
    } else if (command == "exit") {
      if (form_.FormCloseQuery()) {
        form_.Image5Click();
      } else {
        RequestEnd(false);
      }
    } else {
      std::fprintf(streams_.err, "veltran: unknown command \"%s\"\n", command.c_str());
    }
  }

  void SelectDrive(const std::string& argument) {
    char* end = nullptr;
    errno = 0;
    const long position = std::strtol(argument.c_str(), &end, 10);
    const int count = form_.state().DriveCount();
    if (argument.empty() || *end != '\0' || errno != 0 || position < 0 || position >= count) {
      std::fprintf(streams_.err, "veltran: drive: no drive at list position \"%s\" (%d listed)\n",
                   argument.c_str(), count);
      return;
    }
    form_.ComboBox1Change(static_cast<int>(position));
  }

  ConsoleModes modes_;
  ConsoleJson json_;
  const ConsoleStreams& streams_;
  Platform& platform_;
  EventLoop loop_;
  ConsoleWindow window_;
  MainForm form_;
  std::unique_ptr<ConsoleInput> input_;
  bool endRequested_ = false;
  // Held by the signal thread while it ends the program, so that start-up cannot have moved on.
  std::mutex startUpMutex_;
  bool startingUp_ = true;
};

}  // namespace

int RunConsole(const std::vector<std::string>& arguments, const ConsoleStreams& streams) {
  PlatformOptions platformOptions;
  ConsoleModes modes;
  try {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      if (arguments[i] == "--help") {
        std::fputs(kUsage, WantsJson(arguments) ? streams.err : streams.out);
        return 0;
      }
      modes.planOnly = modes.planOnly || arguments[i] == "--plan";
      modes.json = modes.json || arguments[i] == "--json";
      ParsePlatformArgument(arguments[i], platformOptions);
    }
  } catch (const std::exception& e) {
    std::fprintf(streams.err, "veltran: %s\n%s", e.what(), kUsage);
    return ExitCodeFor(ConsoleOutcome::kNotRun);
  }

  std::string lockProblem;
  const std::optional<InstanceLock> lock =
      InstanceLock::Acquire(InstanceScope(platformOptions), lockProblem);
  if (!lockProblem.empty()) {
    std::fprintf(streams.err, "veltran: running without the single-instance lock: %s\n",
                 lockProblem.c_str());
  }
  if (!lock) {
    std::fputs("veltran is already running.\n", modes.json ? streams.err : streams.out);
    return ExitCodeFor(ConsoleOutcome::kNotRun);
  }

  std::unique_ptr<Platform> platform;
  try {
    platform = std::make_unique<Platform>(platformOptions);
  } catch (const std::exception& e) {
    std::fprintf(streams.err, "veltran: %s\n", e.what());
    return ExitCodeFor(ConsoleOutcome::kNotRun);
  }

  ConsoleSession session(*platform, streams, JoinCommandLine(arguments), modes);
  const int status = session.Run();
  session.Finish();
  return status;
}

}  // namespace veltran
