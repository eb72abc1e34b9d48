// Time as the program sees it: every pause and every timer goes through here, so tests run in
// virtual time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace veltran {

// One thread's wait for a deadline or for work from another thread (an event loop's idle wait).
// Another thread ends the wait early with Wake.
class Wakeup {
 public:
  bool rung = false;  // guarded by the clock
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMs(std::uint32_t ms) = 0;
  virtual std::uint64_t NowMs() = 0;
  // Waits until NowMs() reaches `deadline` (no deadline: only Wake ends it) or another thread
  // calls Wake(wakeup). Returns at once when Wake came first; clears the wake-up on return.
  virtual void WaitUntil(std::optional<std::uint64_t> deadline, Wakeup& wakeup) = 0;
  virtual void Wake(Wakeup& wakeup) = 0;

  // Taking part in the clock's time (see VirtualClock): a thread that runs between its waits
  // holds time still while it runs. A thread that starts another counts it from before the start
  // (BeginParticipating), and the new thread then enters (EnterParticipation) on itself.
  virtual void BeginParticipating() = 0;
  virtual void EnterParticipation() = 0;
  virtual void EndParticipating() = 0;
};

// Wall-clock time of the machine.
class SystemClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override;
  std::uint64_t NowMs() override;
  void WaitUntil(std::optional<std::uint64_t> deadline, Wakeup& wakeup) override;
  void Wake(Wakeup& wakeup) override;
  // Wall-clock time passes whatever the threads do: taking part changes nothing.
  void BeginParticipating() override {}
  void EnterParticipation() override {}
  void EndParticipating() override {}

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

// Time that passes only when every thread taking part in it waits: then the clock jumps to the
// earliest deadline and wakes the threads due at it, so a run is the same whatever the machine
// does meanwhile. A thread takes part while it sleeps or waits here and, between waits, while
// it is registered with Participate (the window thread's loop, the download worker). Threads
// due at the same instant wake in the order they began waiting.
class VirtualClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override;
  std::uint64_t NowMs() override;
  void WaitUntil(std::optional<std::uint64_t> deadline, Wakeup& wakeup) override;
  void Wake(Wakeup& wakeup) override;
  void BeginParticipating() override;
  void EnterParticipation() override;
  void EndParticipating() override;

 private:
  struct Waiter {
    std::optional<std::uint64_t> deadline;
    Wakeup* wakeup = nullptr;
    bool due = false;
  };
  void Wait(std::optional<std::uint64_t> deadline, Wakeup* wakeup, bool participant,
            std::unique_lock<std::mutex>& lock);
  void AdvanceIfAllWait();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t now_ = 0;
  int running_ = 0;  // participants not waiting
  std::uint64_t nextOrder_ = 0;
  std::map<std::uint64_t, Waiter> waiters_;  // by the order they began waiting
};

// Keeps a thread a participant of a clock for the object's lifetime (which matters only where
// time is virtual). Made on the thread that takes part, or made by the thread that starts it, moved
// into the new thread and entered there first thing, so that no time passes in between.
class ClockParticipation {
 public:
  enum class Thread { kThis, kToBeStarted };
  explicit ClockParticipation(Clock& clock, Thread thread = Thread::kThis);
  ~ClockParticipation();
  ClockParticipation(ClockParticipation&& other) noexcept;
  ClockParticipation(const ClockParticipation&) = delete;
  ClockParticipation& operator=(const ClockParticipation&) = delete;
  ClockParticipation& operator=(ClockParticipation&&) = delete;

  // On the started thread.
  void Enter();

 private:
  Clock* clock_;
};

}  // namespace veltran
