// Time as the program sees it: every pause goes through here, so tests run in virtual time.
#pragma once

#include <atomic>
#include <cstdint>

namespace veltran {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMs(std::uint32_t ms) = 0;
  virtual std::uint64_t NowMs() = 0;
};

// Wall-clock time of the machine.
class SystemClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override;
  std::uint64_t NowMs() override;
};

// Time that passes only when the program pauses: a pause returns at once and moves the clock.
class VirtualClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override { now_ += ms; }
  std::uint64_t NowMs() override { return now_; }

 private:
  std::atomic<std::uint64_t> now_{0};
};

}  // namespace veltran
