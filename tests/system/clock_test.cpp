// Taking part in a clock through the clock interface, whichever clock it is.
#include "system/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace veltran {
namespace {

using namespace std::chrono_literals;

// A thread that takes part holds virtual time still until it stops taking part; on the system
// clock taking part holds nothing, and a sleeper wakes by the wall clock meanwhile.
TEST(ClockParticipation, HoldsVirtualTimeAndNothingOnTheSystemClock) {
  VirtualClock virtualClock;
  SystemClock systemClock;
  const struct {
    const char* name;
    Clock& clock;
    bool holds;
  } rows[] = {{"virtual", virtualClock, true}, {"system", systemClock, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto participation = std::make_unique<ClockParticipation>(row.clock);
    std::atomic<bool> woke{false};
    std::thread sleeper([&row, &woke] {
      row.clock.SleepMs(20);
      woke.store(true);
    });
    if (row.holds) {
      // Held time cannot pass however long the wall clock runs.
      std::this_thread::sleep_for(100ms);
    } else {
      for (int i = 0; i < 500 && !woke.load(); ++i) std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(woke.load(), !row.holds);
    participation.reset();
    sleeper.join();
  }
  EXPECT_EQ(virtualClock.NowMs(), 20u);
}

// A thread started with its participation made beforehand: virtual time stays held from before
// the start until the thread ends, so its own sleeps are the only ones that move the clock.
TEST(ClockParticipation, StartedThreadTakesPartFromBeforeItsStart) {
  VirtualClock clock;
  std::atomic<bool> outsiderWoke{false};
  ClockParticipation starting(clock, ClockParticipation::Thread::kToBeStarted);
  std::thread outsider([&clock, &outsiderWoke] {
    clock.SleepMs(10);
    outsiderWoke.store(true);
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(outsiderWoke.load());
  std::thread worker([&clock, p = std::move(starting)]() mutable {
    p.Enter();
    clock.SleepMs(5);  // the one waiter due first
  });
  worker.join();
  outsider.join();
  EXPECT_EQ(clock.NowMs(), 10u);
}

}  // namespace
}  // namespace veltran
