#include "console_outcome.h"

namespace veltran {

int ExitCodeFor(ConsoleOutcome outcome) {
  switch (outcome) {
    case ConsoleOutcome::kNormalEnd:
      return 0;
    case ConsoleOutcome::kRefused:
      return 1;
    case ConsoleOutcome::kFailed:
      return 2;
    case ConsoleOutcome::kNotRun:
      return 3;
  }
  return 3;
}

void OutcomeTracker::RefusedIfAttempting() {
  const Phase phase = phase_.load();
  if (attempting_ && phase != Phase::kWriting && phase != Phase::kFailed) {
    phase_.store(Phase::kRefused);
  }
}

void OutcomeTracker::WriteStarted() {
  if (phase_.load() != Phase::kFailed) phase_.store(Phase::kWriting);
}

void OutcomeTracker::StatusShown(std::string_view text) {
  if (phase_.load() != Phase::kWriting) return;
  if (text == "Ok") phase_.store(Phase::kDone);
  if (text == "Fail") phase_.store(Phase::kFailed);
}

ConsoleOutcome OutcomeTracker::Outcome() const {
  switch (phase_.load()) {
    case Phase::kNothing:
    case Phase::kDone:
      return ConsoleOutcome::kNormalEnd;
    case Phase::kRefused:
      return ConsoleOutcome::kRefused;
    case Phase::kWriting:  // the blocks failed, or the end came before the status said "Ok"
    case Phase::kFailed:
      return ConsoleOutcome::kFailed;
  }
  return ConsoleOutcome::kFailed;
}

}  // namespace veltran
