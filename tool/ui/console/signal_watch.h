// The signals whose default action ends the program, taken as requests to end so that no signal
// can cut off a download; a closed standard output is lost output, nothing more.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace veltran {

// The signals are blocked in every thread and taken by one: made before any other thread
// starts, so that every later thread inherits the mask. SIGPIPE is ignored while this lives.
class SignalWatch {
 public:
  explicit SignalWatch(std::function<void(int)> onSignal);
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  void Watch();

  std::function<void(int)> onSignal_;
  sigset_t set_{};
  sigset_t previous_{};
  struct sigaction previousPipe_ {};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// The set taken: every signal that ends the program by default and may be caught, apart from
// those that report a fault of the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT,
// SIGSYS, SIGTRAP) and SIGPIPE, which is ignored.
sigset_t EndRequestSignals();

}  // namespace veltran
