// The window thread's loop: posted work in posting order and the core's timers, fired by the
// platform clock. Posted work goes first; timers due at the same instant fire in the order of
// their deadlines, equal deadlines in the order Timer1, Timer2, Timer3.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "app/window.h"
#include "system/clock.h"

namespace veltran {

class EventLoop {
 public:
  explicit EventLoop(Clock& clock) : clock_(clock) {}

  // Any thread.
  void Post(std::function<void()> work);
  void Quit();

  // Window thread. Enabling a timer (again) starts its interval from now.
  void EnableTimer(TimerId timer, bool enabled);
  bool TimerEnabled(TimerId timer) const;
  // True while work is posted and not yet run.
  bool WorkPending() const;

  // Runs on the calling thread until Quit; `fire` runs a timer's handler.
  void Run(const std::function<void(TimerId)>& fire);
  // Runs what is due now without waiting; true when something ran. For front ends whose own
  // loop waits (the Win32 message loop).
  bool RunDue(const std::function<void(TimerId)>& fire);
  // The clock time at which the next timer falls due; nothing when no timer is enabled.
  std::optional<std::uint64_t> NextDeadline() const;

 private:
  bool RunPosted();
  bool FireDueTimer(const std::function<void(TimerId)>& fire);

  Clock& clock_;
  Wakeup wakeup_;
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  bool quit_ = false;
  std::array<std::optional<std::uint64_t>, kTimerCount> deadlines_{};
};

}  // namespace veltran
