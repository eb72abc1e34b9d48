#include "system/clock.h"

#include <chrono>
#include <thread>
#include <utility>

namespace veltran {

void SystemClock::SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t SystemClock::NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::WaitUntil(std::optional<std::uint64_t> deadline, Wakeup& wakeup) {
  std::unique_lock lock(mutex_);
  const auto rung = [&wakeup] { return wakeup.rung; };
  if (deadline) {
    const auto when = std::chrono::steady_clock::time_point(std::chrono::milliseconds(*deadline));
    changed_.wait_until(lock, when, rung);
  } else {
    changed_.wait(lock, rung);
  }
  wakeup.rung = false;
}

void SystemClock::Wake(Wakeup& wakeup) {
  {
    std::lock_guard lock(mutex_);
    wakeup.rung = true;
  }
  changed_.notify_all();
}

namespace {
thread_local VirtualClock* participatingIn = nullptr;
}  // namespace

std::uint64_t VirtualClock::NowMs() {
  std::lock_guard lock(mutex_);
  return now_;
}

void VirtualClock::SleepMs(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  Wait(now_ + ms, nullptr, participatingIn == this, lock);
}

void VirtualClock::WaitUntil(std::optional<std::uint64_t> deadline, Wakeup& wakeup) {
  std::unique_lock lock(mutex_);
  if (!wakeup.rung) Wait(deadline, &wakeup, participatingIn == this, lock);
  wakeup.rung = false;
}

void VirtualClock::Wait(std::optional<std::uint64_t> deadline, Wakeup* wakeup, bool participant,
                        std::unique_lock<std::mutex>& lock) {
  const std::uint64_t order = nextOrder_++;
  Waiter& self = waiters_[order];
  self.deadline = deadline;
  self.wakeup = wakeup;
  if (participant) --running_;
  AdvanceIfAllWait();
  changed_.wait(lock, [&self] { return self.due; });
  waiters_.erase(order);
  if (participant) ++running_;
  // A thread that does not take part runs without holding time still.
  AdvanceIfAllWait();
}

void VirtualClock::Wake(Wakeup& wakeup) {
  std::lock_guard lock(mutex_);
  wakeup.rung = true;
  for (auto& [order, waiter] : waiters_) {
    if (waiter.wakeup == &wakeup) waiter.due = true;
  }
  changed_.notify_all();
}

// Time moves only while nobody runs and nobody woken has yet resumed; then the waiter with the
// earliest deadline (the longest waiting among equals) is the only one woken.
void VirtualClock::AdvanceIfAllWait() {
  if (running_ > 0) return;
  Waiter* next = nullptr;
  for (auto& [order, waiter] : waiters_) {
    if (waiter.due) return;
    if (waiter.deadline && (next == nullptr || *waiter.deadline < *next->deadline)) next = &waiter;
  }
  if (next == nullptr) return;
  if (*next->deadline > now_) now_ = *next->deadline;
  next->due = true;
  changed_.notify_all();
}

void VirtualClock::BeginParticipating() {
  std::lock_guard lock(mutex_);
  ++running_;
}

void VirtualClock::EnterParticipation() {
  std::lock_guard lock(mutex_);
  participatingIn = this;
}

void VirtualClock::EndParticipating() {
  std::lock_guard lock(mutex_);
  if (participatingIn == this) participatingIn = nullptr;
  --running_;
  AdvanceIfAllWait();
}

ClockParticipation::ClockParticipation(Clock& clock, Thread thread) : clock_(&clock) {
  clock_->BeginParticipating();
  if (thread == Thread::kThis) clock_->EnterParticipation();
}

ClockParticipation::ClockParticipation(ClockParticipation&& other) noexcept
    : clock_(std::exchange(other.clock_, nullptr)) {}

void ClockParticipation::Enter() {
  if (clock_ != nullptr) clock_->EnterParticipation();
}

ClockParticipation::~ClockParticipation() {
  if (clock_ != nullptr) clock_->EndParticipating();
}

}  // namespace veltran
