#include "app/event_loop.h"

namespace veltran {

void EventLoop::Post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
  }
  clock_.Wake(wakeup_);
}

void EventLoop::Quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  clock_.Wake(wakeup_);
}

void EventLoop::EnableTimer(TimerId timer, bool enabled) {
  std::lock_guard lock(mutex_);
  deadlines_[static_cast<std::size_t>(timer)] =
      enabled ? std::optional(clock_.NowMs() + TimerIntervalMs(timer)) : std::nullopt;
}

bool EventLoop::TimerEnabled(TimerId timer) const {
  std::lock_guard lock(mutex_);
  return deadlines_[static_cast<std::size_t>(timer)].has_value();
}

bool EventLoop::WorkPending() const {
  std::lock_guard lock(mutex_);
  return !posted_.empty();
}

std::optional<std::uint64_t> EventLoop::NextDeadline() const {
  std::lock_guard lock(mutex_);
  std::optional<std::uint64_t> next;
  for (const auto& deadline : deadlines_) {
    if (deadline && (!next || *deadline < *next)) next = deadline;
  }
  return next;
}

void EventLoop::Run(const std::function<void(TimerId)>& fire) {
  const ClockParticipation participation(clock_);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (quit_) return;
    }
    if (RunDue(fire)) continue;
    clock_.WaitUntil(NextDeadline(), wakeup_);
  }
}

bool EventLoop::RunDue(const std::function<void(TimerId)>& fire) {
  if (RunPosted()) return true;
  return FireDueTimer(fire);
}

bool EventLoop::RunPosted() {
  std::function<void()> work;
  {
    std::lock_guard lock(mutex_);
    if (posted_.empty() || quit_) return false;
    work = std::move(posted_.front());
    posted_.pop_front();
  }
  work();
  return true;
}

bool EventLoop::FireDueTimer(const std::function<void(TimerId)>& fire) {
  std::optional<std::size_t> due;
  {
    std::lock_guard lock(mutex_);
    if (quit_) return false;
    const std::uint64_t now = clock_.NowMs();
    for (std::size_t i = 0; i < deadlines_.size(); ++i) {
      const auto& d = deadlines_[i];
      if (d && *d <= now && (!due || *d < *deadlines_[*due])) due = i;
    }
    if (!due) return false;
    deadlines_[*due] = now + TimerIntervalMs(static_cast<TimerId>(*due));
  }
  fire(static_cast<TimerId>(*due));
  return true;
}

}  // namespace veltran
