// How a console run ended, told by its exit status, from what the core showed on the window.
#pragma once

#include <atomic>
#include <string_view>

namespace veltran {

enum class ConsoleOutcome {
  kNormalEnd,  // a download completed, or none was started
  kRefused,    // a start was refused before any write (a refusal box, E1-E5, E8, E9)
  kFailed,     // a download failed during the write (E6, E7)
  kNotRun,     // the tool did not run: a second instance, bad options, a bad scenario
};

// The one mapping from outcome to exit status: 0, 1, 2 and 3 in the order above.
int ExitCodeFor(ConsoleOutcome outcome);

// Follows a run through the window's events. A start attempt is the Start Download button, the
// automatic start and the start-up's automatic load: a refusal box or a close during one, before
// any write, is a refusal. The write starts with the busy cursor and has succeeded only once the
// status says "Ok"; a failed write is never hidden by a later event.
class OutcomeTracker {
 public:
  void BeginAttempt() { attempting_ = true; }
  void EndAttempt() { attempting_ = false; }
  void ErrorBoxShown() { RefusedIfAttempting(); }
  void Closed() { RefusedIfAttempting(); }
  void WriteStarted();
  void StatusShown(std::string_view text);
  // Callable from any thread.
  ConsoleOutcome Outcome() const;

 private:
  enum class Phase { kNothing, kRefused, kWriting, kDone, kFailed };
  void RefusedIfAttempting();

  bool attempting_ = false;
  std::atomic<Phase> phase_{Phase::kNothing};
};

}  // namespace veltran
