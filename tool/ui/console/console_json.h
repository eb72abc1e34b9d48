// The console's events as JSON: one object a line for each event the text form prints, then one
// outcome object that says how the run ended.
#pragma once

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/plan.h"
#include "console_outcome.h"
#include "drive/scsi.h"

namespace veltran {

inline constexpr int kConsoleJsonFormat = 1;

// What a run ended with, and the exit code the console gives it.
struct RunOutcome {
  std::string kind;    // "done", "refused" or "failed"
  std::string code;    // "COMPLETE", "E1" ... "E9"; empty when no download was started
  std::string reason;  // in words
  int exitCode = 0;
};

// What the window saw of a run, for the outcome.
struct RunFacts {
  bool startRequested = false;  // a start was asked for (the Start button, the automatic start)
  bool blocksSent = false;      // the download began writing ("Status : Wait..")
  bool statusOk = false;        // "Status : Ok": the final command succeeded
  bool statusFail = false;      // "Status : Fail": the final command failed
};

// The one place that maps what the core told to an outcome and an exit code: 0 the run ended
// normally (a download completed, or none was started), 1 a start was refused before any write,
// 2 a download failed during the write.
RunOutcome ClassifyRun(const RunFacts& facts, const AppState& state);

// The plan as the text form prints it: "Plan : <line>" for each line, verdict first.
void PrintPlanText(std::FILE* out, const DownloadPlan& plan);

// A command as the outcome names it: what was sent and what became of it.
struct SentCommand {
  unsigned device = 0;
  std::string cdb;   // hex, as the trace writes it
  std::string line;  // the trace's line
  bool dataIn = false;
  u32 length = 0;
  u8 status = 0;
  OsError os;
  bool timedOut = false;
  u32 residual = 0;
};

// Lines may come from the window thread and the download's worker thread at once: each is
// written whole.
class ConsoleJson {
 public:
  explicit ConsoleJson(std::FILE* out) : out_(out) {}

  void Field(std::string_view label, std::string_view text);
  void ListEntry(std::string_view entry);
  void Selection(int index, std::string_view entry);
  void NocheckLabel();
  void Progress(int position);
  void Box(std::string_view caption, std::string_view text);
  void StartRequested() { facts_.startRequested = true; }
  void Plan(const DownloadPlan& plan);
  // A code the test log wrote, or failed to write to its file.
  void Log(std::string_view code, bool written);
  // The write runs from the busy cursor on until it is taken back; the first command that fails
  // in it is the one the outcome names.
  void WriteStarted();
  void WriteEnded();
  // Every command the transport sent, from the thread that sent it.
  void Command(u8 device, const CommandRequest& request, const CommandResult& result);
  // The last line of a run: its kind and exit code as the exit status gives them, the code and
  // reason from what the window saw.
  void Outcome(const AppState& state, ConsoleOutcome ended);

  const RunFacts& facts() const { return facts_; }

 private:
  void Write(const std::string& line);

  std::FILE* out_;
  RunFacts facts_;
  std::mutex mutex_;  // guards the stream and what follows
  bool writing_ = false;
  std::optional<SentCommand> failedCommand_;
};

}  // namespace veltran
