#include "clock_stand_in.h"

namespace veltran::win32 {

ClockStandIn::ClockStandIn(Clock& clock, std::function<void()> onDue)
    : clock_(clock), onDue_(std::move(onDue)) {
  Participate(true);
  thread_ = std::thread([this] { Run(); });
}

ClockStandIn::~ClockStandIn() {
  if (released_) Hold();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
  Participate(false);
}

void ClockStandIn::Participate(bool on) {
  if (on) {
    clock_.BeginParticipating();
    clock_.EnterParticipation();
  } else {
    clock_.EndParticipating();
  }
}

void ClockStandIn::Release(std::optional<std::uint64_t> deadline) {
  if (released_) return;
  {
    std::unique_lock lock(mutex_);
    deadline_ = deadline;
    holdRequested_ = false;
    state_ = State::kRequested;
    changed_.notify_all();
    // The stand-in takes part before this thread stops, so time cannot slip between the two.
    changed_.wait(lock, [this] { return state_ != State::kRequested; });
  }
  Participate(false);
  released_ = true;
}

void ClockStandIn::Hold() {
  if (!released_) return;
  Participate(true);
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    holdRequested_ = true;
    wake = state_ == State::kWaiting;
  }
  if (wake) clock_.Wake(wakeup_);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return state_ == State::kReturned; });
  state_ = State::kHandedBack;
  changed_.notify_all();
  changed_.wait(lock, [this] { return state_ == State::kIdle; });
  released_ = false;
}

void ClockStandIn::Interrupt() {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    wake = state_ == State::kWaiting;
  }
  // A wake that arrives just after the stand-in returned makes its next wait return at once:
  // one spurious round through the window's loop, nothing more.
  if (wake) clock_.Wake(wakeup_);
}

void ClockStandIn::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return state_ == State::kRequested || stop_; });
    if (stop_) return;
    const std::optional<std::uint64_t> deadline = deadline_;
    Participate(true);
    state_ = State::kWaiting;
    changed_.notify_all();
    lock.unlock();
    clock_.WaitUntil(deadline, wakeup_);
    lock.lock();
    // Time stays held (this thread takes part) until the window thread has it back.
    state_ = State::kReturned;
    const bool report = !holdRequested_;
    changed_.notify_all();
    if (report) {
      lock.unlock();
      onDue_();
      lock.lock();
    }
    changed_.wait(lock, [this] { return state_ == State::kHandedBack; });
    Participate(false);
    state_ = State::kIdle;
    changed_.notify_all();
  }
}

}  // namespace veltran::win32
