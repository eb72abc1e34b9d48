// How a Win32 message loop takes part in the platform clock.
//
// The rule: the window thread holds time still whenever it runs anything (a message, a posted
// work item, a timer's handler) and lets time pass only while it waits for the next message. It
// cannot wait inside the clock itself, since it must wait in GetMessage (or in a modal loop of
// the system: a message box, a dialog, the move loop) for Windows messages. So while the window
// thread waits, this stand-in thread waits in the clock on its behalf, for the loop's next timer
// deadline, and reports the deadline with `onDue` (which posts a message to the window). When
// anything else wakes the window thread, it takes time back with Hold before it runs.
//
// In a virtual run the hand-over keeps time still throughout: the stand-in begins taking part
// before the window thread stops, and the window thread begins again before the stand-in stops,
// so time moves only while both the window thread waits for messages and the stand-in waits in
// the clock. After the deadline the stand-in keeps holding time until the window thread has taken
// it back; work posted from another thread wakes the stand-in (Interrupt) the same way, so a
// worker never runs ahead of the window thread's view of time. With the real clock the same
// steps make an ordinary timer thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "system/clock.h"

namespace veltran::win32 {

class ClockStandIn {
 public:
  // The calling thread is the window thread; it takes part in a virtual clock from here on.
  ClockStandIn(Clock& clock, std::function<void()> onDue);
  ~ClockStandIn();
  ClockStandIn(const ClockStandIn&) = delete;
  ClockStandIn& operator=(const ClockStandIn&) = delete;

  // Window thread, holding time: time may pass until `deadline` (nothing: until Hold or
  // Interrupt) while the window thread waits.
  void Release(std::optional<std::uint64_t> deadline);
  // Window thread, after Release: takes time back; returns once the stand-in waits no more.
  void Hold();
  // Any thread: ends the stand-in's wait early (work has been posted to the window thread).
  void Interrupt();
  bool released() const { return released_; }

 private:
  enum class State { kIdle, kRequested, kWaiting, kReturned, kHandedBack };
  void Run();
  void Participate(bool on);

  Clock& clock_;
  std::function<void()> onDue_;
  Wakeup wakeup_;
  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::kIdle;
  std::optional<std::uint64_t> deadline_;
  bool holdRequested_ = false;
  bool stop_ = false;
  bool released_ = false;  // window thread only
  std::thread thread_;
};

}  // namespace veltran::win32
